#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace demo {

using namespace VyrCldapi;

// A small in-memory stand-in for the cloud service: one tenant, a few projects, files that can
// be locked, uploaded and tagged, and a queue of status events. Error codes: 0 for success,
// 404 for an unknown file, 409 for a file locked by someone else.
class DemoService : public ICld_Integration {
public:
    DemoService();

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
    void LockFile(const String& file, int& responsecode) override;
    void UnlockFile(const String& file, bool uploadchanges, int& responsecode) override;
    void UnlockFileForced(const String& file, int& responsecode) override;
    void UnlockAllFilesLockedByMe(int& responsecode) override;
    void UploadFile(const String& file, int& responsecode) override;
    void DownloadFile(const String& file, int& responsecode) override;
    void DeleteFile(const String& file, int& responsecode) override;
    void RenameFile(const String& originalFile, const String& renamedFile, int& responsecode) override;
    LockStatus GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                             String& lockedByPrincipalName, String& lockTimeStamp) override;
    List<String> LockFiles(const List<String>& filesToLock, int& responsecode) override;
    void UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode) override;
    List<String> UploadNewFiles(const List<String>& files, int& responsecode) override;
    void TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                  const String& tagName, int& responsecode) override;
    String GetFileId(const String& fileName) override;
    Nullable<std::uint64_t> GetFileRevision(const String& fileName) override;
    bool FileExistsInProject(const String& fileName) override;
    void FindFileInWebApp(const String& fileName) override;
    Ref<FileSyncStatus> GetFileSyncStatus() override;
    Ref<InfoForDownloadCopy> GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                    int& responsecode) override;
    List<String> CheckPathTooLongExceptions() override;
    List<String> CheckDownSyncFileExceptions() override;
    List<Ref<StatusEvent>> GetStatusEvents() override;
    List<Ref<Project>> GetProjectList(int& responsecode) override;
    Ref<Project> GetProjectInfo(const String& projectId, int& responsecode) override;
    Ref<Project> CreateProject(const String& projectName, const String& projectNumber, int& responsecode) override;
    List<Ref<Tenant>> GetTenants(int& responsecode) override;
    Ref<Tenant> GetTenantInfo(int& responsecode) override;
    Ref<ApiModels::ProjectMetadata> GetProjectMetadata(int& responsecode) override;
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
    Ref<ApiModels::NvdbContract> GetNvdbProject(int& responsecode) override;
    Ref<ApiModels::NvdbContracts> GetNvdbProjects(int& responsecode) override;
    String NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                           const String& logicalId, int& responsecode) override;
    ApiModels::WorkflowStatus Get2dModelUpdateStatus(const String& updateId, int& responsecode) override;
    void NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                         const String& logicalId, double offsetX, double offsetY,
                                         int& responsecode) override;
    void SetCallbacks(ProgressAction progressAction) override;
    Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) override;
    void StopFileBrowserUi() override;
    bool ShowImportFilesDialog(ApiModels::TagCategory category, const String& header) override;
    bool ShowIncludeFolderDialog() override;
    void AddIncludeFoldersToProject(const List<String>& includeFolders) override;
    bool AreIncludeFoldersInModel(const List<String>& includeFolders) override;
    List<Ref<FileToImport>> ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                    const List<String>& resultApplayers,
                                                    String& importToThisLayer) override;

    // Does what the service does on its own threads: reports progress and asks the open pane's
    // host its questions.
    void PumpCallbacks();

private:
    struct File {
        std::uint64_t revision = 1;
        std::u16string lockedBy; // empty: not locked
        std::set<std::u16string> tags;
    };

    void notify(ProgressEventType type, double progress, const String& title);
    void event(StatusEventType type, const String& file);

    std::mutex mutex_;
    std::map<std::u16string, File> files_;
    std::vector<Ref<Project>> projects_;
    std::vector<Ref<ApiModels::PartitionTag>> partitions_;
    std::set<std::u16string> includeFolders_;
    std::vector<Ref<StatusEvent>> events_;
    ProgressAction progress_;
    Ref<UI::IFileBrowserUICallback> paneCallback_;
    Ref<UI::FileBrowserUI> pane_;
    int nextEvent_ = 1;
};

} // namespace demo
