#pragma once

#include <VyrCldapi/Callbacks.h>
#include <VyrCldapi/Enums.h>
#include <VyrCldapi/Models.h>
#include <VyrCldapi/Values.h>

#include <cstdint>
#include <memory>

namespace VyrCldapi {

using VyrProAdmModule::ApiModels::Project;
using VyrProAdmModule::ApiModels::Tenant;

/// What a service implementation provides: one operation per facade operation, with the same
/// names and argument order. Operations that report an error code take it last.
class VYRCLDAPI_EXPORT ICld_Integration {
public:
    virtual ~ICld_Integration();

    /// @name Session context
    ///@{
    virtual void SetProjectAndPartition(const String& projectId, const String& projectpath, const String& partitionId,
                                        const String& partitionpath, const String& userDirPath,
                                        const String& importpath) = 0;
    virtual void SetOnlyProjectAndPartition(const String& projectId, const String& projectpath,
                                            const String& partitionId, const String& partitionpath) = 0;
    virtual void SetUserDirectory(const String& tagId, const String& path) = 0;
    virtual void SetTenantUniqueId(const String& tenantUniqueId) = 0;
    virtual void SetCurrentAppLanguage(const String& language) = 0;
    virtual void SetStartedInFieldMode(bool fieldMode) = 0;
    virtual void CloseProject() = 0;
    virtual void Logout() = 0;
    ///@}

    /// @name Sync control, filters and file lists
    ///@{
    virtual void StartSyncDir() = 0;
    virtual void StopSyncDir() = 0;
    virtual void StartProjectsAndPartitionsTask() = 0;
    virtual void AbortProjectsAndPartitionsTask() = 0;
    virtual std::int32_t WaitForAllTasks(TimeSpan sleepTime, int& responsecode) = 0;
    virtual void SetDownloadFilters(const List<String>& projectFileFilter, const List<String>& userDirFilter,
                                    const List<String>& importFileFilter) = 0;
    virtual void SetFileIgnoreFilter(const List<String>& wildCardFilter) = 0;
    virtual void SetDirectoryIgnoreFilter(const List<String>& wildCardFilter) = 0;
    virtual bool GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList) = 0;
    virtual bool GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList) = 0;
    ///@}

    /// @name Single-file operations
    ///@{
    virtual void LockFile(const String& file, int& responsecode) = 0;
    virtual void UnlockFile(const String& file, bool uploadchanges, int& responsecode) = 0;
    virtual void UnlockFileForced(const String& file, int& responsecode) = 0;
    virtual void UnlockAllFilesLockedByMe(int& responsecode) = 0;
    virtual void UploadFile(const String& file, int& responsecode) = 0;
    virtual void DownloadFile(const String& file, int& responsecode) = 0;
    virtual void DeleteFile(const String& file, int& responsecode) = 0;
    virtual void RenameFile(const String& originalFile, const String& renamedFile, int& responsecode) = 0;
    ///@}

    /// @name Lock status
    ///@{
    virtual LockStatus GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                     String& lockedByPrincipalName, String& lockTimeStamp) = 0;
    ///@}

    /// @name Batch file operations
    ///@{
    virtual List<String> LockFiles(const List<String>& filesToLock, int& responsecode) = 0;
    virtual void UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode) = 0;
    virtual List<String> UploadNewFiles(const List<String>& files, int& responsecode) = 0;
    virtual void TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                          const String& tagName, int& responsecode) = 0;
    ///@}

    /// @name File identity and sync state
    ///@{
    virtual String GetFileId(const String& fileName) = 0;
    virtual Nullable<std::uint64_t> GetFileRevision(const String& fileName) = 0;
    virtual bool FileExistsInProject(const String& fileName) = 0;
    virtual void FindFileInWebApp(const String& fileName) = 0;
    virtual Ref<FileSyncStatus> GetFileSyncStatus() = 0;
    virtual Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                            int& responsecode) = 0;
    virtual List<String> CheckPathTooLongExceptions() = 0;
    virtual List<String> CheckDownSyncFileExceptions() = 0;
    ///@}

    /// @name Status events
    ///@{
    virtual List<Ref<StatusEvent>> GetStatusEvents() = 0;
    ///@}

    /// @name Projects and tenants
    ///@{
    virtual List<Ref<Project>> GetProjectList(int& responsecode) = 0;
    virtual Ref<Project> GetProjectInfo(const String& projectId, int& responsecode) = 0;
    virtual Ref<Project> CreateProject(const String& projectName, const String& projectNumber, int& responsecode) = 0;
    virtual List<Ref<Tenant>> GetTenants(int& responsecode) = 0;
    virtual Ref<Tenant> GetTenantInfo(int& responsecode) = 0;
    ///@}

    /// @name Project metadata
    ///@{
    virtual Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode) = 0;
    ///@}

    /// @name Partitions and tags
    ///@{
    virtual Ref<ApiModels::PartitionTag> GetPartitionInfo(const String& projectId, const String& partitionId,
                                                          int& responsecode) = 0;
    virtual List<Ref<ApiModels::PartitionTag>> GetProjectPartitionTags(const String& projectId, int& responsecode) = 0;
    virtual Ref<ApiModels::PartitionTag> CreateProjectPartitionTag(const String& projectId, const String& name,
                                                                   int versionMajor, int& responsecode) = 0;
    virtual List<Ref<ApiModels::PartitionTagsInProject>> GetAllAccessibleProjectPartitions(int& responsecode) = 0;
    virtual void SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                                     int& responsecode) = 0;
    virtual List<Ref<ApiModels::Tag>> GetUserDirectoryTags(int& responsecode) = 0;
    virtual Ref<ApiModels::Tag> GetUserDirectoryTagInfo(int versionMajor, int& responsecode) = 0;
    virtual Ref<ApiModels::Tag> CreateUserDirectoryTag(int versionMajor, int& responsecode) = 0;
    ///@}

    /// @name Road database contracts
    ///@{
    virtual Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode) = 0;
    virtual Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode) = 0;
    ///@}

    /// @name Online viewer model updates
    ///@{
    virtual String NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                   const String& logicalId, int& responsecode) = 0;
    virtual ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String& updateId, int& responsecode) = 0;
    virtual void NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                 const String& logicalId, double offsetX, double offsetY,
                                                 int& responsecode) = 0;
    ///@}

    /// @name Progress callback
    ///@{
    virtual void SetCallbacks(ProgressAction progressAction) = 0;
    ///@}

    /// @name File browser pane
    ///@{
    virtual Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) = 0;
    virtual void StopFileBrowserUi() = 0;
    ///@}

    /// @name Dialogs
    ///@{
    virtual bool ShowImportFilesDialog(ApiModels::TagCategory category, const String& header) = 0;
    virtual bool ShowIncludeFolderDialog() = 0;
    virtual void AddIncludeFoldersToProject(const List<String>& includeFolders) = 0;
    virtual bool AreIncludeFoldersInModel(const List<String>& includeFolders) = 0;
    virtual List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                            const List<String>& resultApplayers,
                                                            String& importToThisLayer) = 0;
    ///@}
};

/// The service facade. Every operation is static and forwards to the installed implementation;
/// with none installed, each raises an InvalidOperation failure.
class VYRCLDAPI_EXPORT Cld_Integration {
public:
    Cld_Integration() = delete;

    /// Installs `implementation` for all later calls and returns the one it replaces. Pass null
    /// to uninstall. Calls already running keep the implementation they started with.
    static std::shared_ptr<ICld_Integration> Install(std::shared_ptr<ICld_Integration> implementation) noexcept;

    /// @name Session context
    ///@{
    static void SetProjectAndPartition(const String& projectId, const String& projectpath, const String& partitionId,
                                       const String& partitionpath, const String& userDirPath,
                                       const String& importpath);
    static void SetOnlyProjectAndPartition(const String& projectId, const String& projectpath,
                                           const String& partitionId, const String& partitionpath);
    static void SetUserDirectory(const String& tagId, const String& path);
    static void SetTenantUniqueId(const String& tenantUniqueId);
    static void SetCurrentAppLanguage(const String& language);
    static void SetStartedInFieldMode(bool fieldMode);
    static void CloseProject();
    static void Logout();
    ///@}

    /// @name Sync control, filters and file lists
    ///@{
    static void StartSyncDir();
    static void StopSyncDir();
    static void StartProjectsAndPartitionsTask();
    static void AbortProjectsAndPartitionsTask();
    static std::int32_t WaitForAllTasks(TimeSpan sleepTime, int& responsecode);
    static void SetDownloadFilters(const List<String>& projectFileFilter, const List<String>& userDirFilter,
                                   const List<String>& importFileFilter);
    static void SetFileIgnoreFilter(const List<String>& wildCardFilter);
    static void SetDirectoryIgnoreFilter(const List<String>& wildCardFilter);
    static bool GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList);
    static bool GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList);
    ///@}

    /// @name Single-file operations
    ///@{
    static void LockFile(const String& file, int& responsecode);
    static void UnlockFile(const String& file, bool uploadchanges, int& responsecode);
    static void UnlockFileForced(const String& file, int& responsecode);
    static void UnlockAllFilesLockedByMe(int& responsecode);
    static void UploadFile(const String& file, int& responsecode);
    static void DownloadFile(const String& file, int& responsecode);
    static void DeleteFile(const String& file, int& responsecode);
    static void RenameFile(const String& originalFile, const String& renamedFile, int& responsecode);
    ///@}

    /// @name Lock status
    ///@{
    static LockStatus GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                    String& lockedByPrincipalName, String& lockTimeStamp);
    ///@}

    /// @name Batch file operations
    ///@{
    static List<String> LockFiles(const List<String>& filesToLock, int& responsecode);
    static void UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode);
    static List<String> UploadNewFiles(const List<String>& files, int& responsecode);
    static void TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                         const String& tagName, int& responsecode);
    ///@}

    /// @name File identity and sync state
    ///@{
    static String GetFileId(const String& fileName);
    static Nullable<std::uint64_t> GetFileRevision(const String& fileName);
    static bool FileExistsInProject(const String& fileName);
    static void FindFileInWebApp(const String& fileName);
    static Ref<FileSyncStatus> GetFileSyncStatus();
    static Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                           int& responsecode);
    static List<String> CheckPathTooLongExceptions();
    static List<String> CheckDownSyncFileExceptions();
    ///@}

    /// @name Status events
    ///@{
    static List<Ref<StatusEvent>> GetStatusEvents();
    ///@}

    /// @name Projects and tenants
    ///@{
    static List<Ref<Project>> GetProjectList(int& responsecode);
    static Ref<Project> GetProjectInfo(const String& projectId, int& responsecode);
    static Ref<Project> CreateProject(const String& projectName, const String& projectNumber, int& responsecode);
    static List<Ref<Tenant>> GetTenants(int& responsecode);
    static Ref<Tenant> GetTenantInfo(int& responsecode);
    ///@}

    /// @name Project metadata
    ///@{
    static Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode);
    ///@}

    /// @name Partitions and tags
    ///@{
    static Ref<ApiModels::PartitionTag> GetPartitionInfo(const String& projectId, const String& partitionId,
                                                         int& responsecode);
    static List<Ref<ApiModels::PartitionTag>> GetProjectPartitionTags(const String& projectId, int& responsecode);
    static Ref<ApiModels::PartitionTag> CreateProjectPartitionTag(const String& projectId, const String& name,
                                                                  int versionMajor, int& responsecode);
    static List<Ref<ApiModels::PartitionTagsInProject>> GetAllAccessibleProjectPartitions(int& responsecode);
    static void SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                                    int& responsecode);
    static List<Ref<ApiModels::Tag>> GetUserDirectoryTags(int& responsecode);
    static Ref<ApiModels::Tag> GetUserDirectoryTagInfo(int versionMajor, int& responsecode);
    static Ref<ApiModels::Tag> CreateUserDirectoryTag(int versionMajor, int& responsecode);
    ///@}

    /// @name Road database contracts
    ///@{
    static Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode);
    static Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode);
    ///@}

    /// @name Online viewer model updates
    ///@{
    static String NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                  const String& logicalId, int& responsecode);
    static ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String& updateId, int& responsecode);
    static void NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                const String& logicalId, double offsetX, double offsetY,
                                                int& responsecode);
    ///@}

    /// @name Progress callback
    ///@{
    static void SetCallbacks(ProgressAction progressAction);
    ///@}

    /// @name File browser pane
    ///@{
    static Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback);
    static void StopFileBrowserUi();
    ///@}

    /// @name Dialogs
    ///@{
    static bool ShowImportFilesDialog(ApiModels::TagCategory category, const String& header);
    static bool ShowIncludeFolderDialog();
    static void AddIncludeFoldersToProject(const List<String>& includeFolders);
    static bool AreIncludeFoldersInModel(const List<String>& includeFolders);
    static List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                           const List<String>& resultApplayers,
                                                           String& importToThisLayer);
    ///@}

private:
    static std::shared_ptr<ICld_Integration> Implementation();
};

} // namespace VyrCldapi
