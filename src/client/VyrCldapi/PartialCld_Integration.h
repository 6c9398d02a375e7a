#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <string>
#include <string_view>

namespace VyrCldapi {

/// A service that serves nothing until told otherwise: every operation raises an InvalidOperation
/// failure whose message names it, "The operation LockFile is not supported.". Derive from it and
/// override only the operations of the families you serve; the bridge turns each unserved call
/// into the failure value of the host's function, as it does for any failure of the service.
///
/// @code
/// class Locks final : public VyrCldapi::PartialCld_Integration {
/// public:
///     void LockFile(const String& file, int& responsecode) override;
///     void UnlockFile(const String& file, bool uploadchanges, int& responsecode) override;
/// };
/// @endcode
class VYRCLDAPI_EXPORT PartialCld_Integration : public ICld_Integration {
public:
    /// The message of the failure an unserved operation raises.
    [[nodiscard]] static std::string UnsupportedMessage(std::string_view operation);

    /// @name Session context
    ///@{
    void SetProjectAndPartition(const String& projectId, const String& projectpath, const String& partitionId,
                                const String& partitionpath, const String& userDirPath,
                                const String& importpath) override;
    void SetOnlyProjectAndPartition(const String& projectId, const String& projectpath, const String& partitionId,
                                    const String& partitionpath) override;
    void SetUserDirectory(const String& tagId, const String& path) override;
    void SetTenantUniqueId(const String& tenantUniqueId) override;
    void SetCurrentAppLanguage(const String& language) override;
    void SetStartedInFieldMode(bool fieldMode) override;
    void CloseProject() override;
    void Logout() override;
    ///@}

    /// @name Sync control, filters and file lists
    ///@{
    void StartSyncDir() override;
    void StopSyncDir() override;
    void StartProjectsAndPartitionsTask() override;
    void AbortProjectsAndPartitionsTask() override;
    std::int32_t WaitForAllTasks(TimeSpan sleepTime, int& responsecode) override;
    void SetDownloadFilters(const List<String>& projectFileFilter, const List<String>& userDirFilter,
                            const List<String>& importFileFilter) override;
    void SetFileIgnoreFilter(const List<String>& wildCardFilter) override;
    void SetDirectoryIgnoreFilter(const List<String>& wildCardFilter) override;
    bool GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList) override;
    bool GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList) override;
    ///@}

    /// @name Single-file operations
    ///@{
    void LockFile(const String& file, int& responsecode) override;
    void UnlockFile(const String& file, bool uploadchanges, int& responsecode) override;
    void UnlockFileForced(const String& file, int& responsecode) override;
    void UnlockAllFilesLockedByMe(int& responsecode) override;
    void UploadFile(const String& file, int& responsecode) override;
    void DownloadFile(const String& file, int& responsecode) override;
    void DeleteFile(const String& file, int& responsecode) override;
    void RenameFile(const String& originalFile, const String& renamedFile, int& responsecode) override;
    ///@}

    /// @name Lock status
    ///@{
    LockStatus GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                             String& lockedByPrincipalName, String& lockTimeStamp) override;
    ///@}

    /// @name Batch file operations
    ///@{
    List<String> LockFiles(const List<String>& filesToLock, int& responsecode) override;
    void UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode) override;
    List<String> UploadNewFiles(const List<String>& files, int& responsecode) override;
    void TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                  const String& tagName, int& responsecode) override;
    ///@}

    /// @name File identity and sync state
    ///@{
    String GetFileId(const String& fileName) override;
    Nullable<std::uint64_t> GetFileRevision(const String& fileName) override;
    bool FileExistsInProject(const String& fileName) override;
    void FindFileInWebApp(const String& fileName) override;
    Ref<FileSyncStatus> GetFileSyncStatus() override;
    Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                    int& responsecode) override;
    List<String> CheckPathTooLongExceptions() override;
    List<String> CheckDownSyncFileExceptions() override;
    ///@}

    /// @name Status events
    ///@{
    List<Ref<StatusEvent>> GetStatusEvents() override;
    ///@}

    /// @name Projects and tenants
    ///@{
    List<Ref<Project>> GetProjectList(int& responsecode) override;
    Ref<Project> GetProjectInfo(const String& projectId, int& responsecode) override;
    Ref<Project> CreateProject(const String& projectName, const String& projectNumber, int& responsecode) override;
    List<Ref<Tenant>> GetTenants(int& responsecode) override;
    Ref<Tenant> GetTenantInfo(int& responsecode) override;
    ///@}

    /// @name Project metadata
    ///@{
    Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode) override;
    ///@}

    /// @name Partitions and tags
    ///@{
    Ref<ApiModels::PartitionTag> GetPartitionInfo(const String& projectId, const String& partitionId,
                                                  int& responsecode) override;
    List<Ref<ApiModels::PartitionTag>> GetProjectPartitionTags(const String& projectId, int& responsecode) override;
    Ref<ApiModels::PartitionTag> CreateProjectPartitionTag(const String& projectId, const String& name,
                                                           int versionMajor, int& responsecode) override;
    List<Ref<ApiModels::PartitionTagsInProject>> GetAllAccessibleProjectPartitions(int& responsecode) override;
    void SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                             int& responsecode) override;
    List<Ref<ApiModels::Tag>> GetUserDirectoryTags(int& responsecode) override;
    Ref<ApiModels::Tag> GetUserDirectoryTagInfo(int versionMajor, int& responsecode) override;
    Ref<ApiModels::Tag> CreateUserDirectoryTag(int versionMajor, int& responsecode) override;
    ///@}

    /// @name Road database contracts
    ///@{
    Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode) override;
    Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode) override;
    ///@}

    /// @name Online viewer model updates
    ///@{
    String NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                           const String& logicalId, int& responsecode) override;
    ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String& updateId, int& responsecode) override;
    void NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                         const String& logicalId, double offsetX, double offsetY,
                                         int& responsecode) override;
    ///@}

    /// @name Progress callback
    ///@{
    void SetCallbacks(ProgressAction progressAction) override;
    ///@}

    /// @name File browser pane
    ///@{
    Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) override;
    void StopFileBrowserUi() override;
    ///@}

    /// @name Dialogs
    ///@{
    bool ShowImportFilesDialog(ApiModels::TagCategory category, const String& header) override;
    bool ShowIncludeFolderDialog() override;
    void AddIncludeFoldersToProject(const List<String>& includeFolders) override;
    bool AreIncludeFoldersInModel(const List<String>& includeFolders) override;
    List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                    const List<String>& resultApplayers,
                                                    String& importToThisLayer) override;
    ///@}

protected:
    /// Raises the failure of an unserved operation; an override may call it to refuse a call too.
    [[noreturn]] static void Unsupported(std::string_view operation);
};

} // namespace VyrCldapi
