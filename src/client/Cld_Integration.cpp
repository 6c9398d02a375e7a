#include <VyrCldapi/Cld_Integration.h>

#include <atomic>
#include <utility>

namespace VyrCldapi {
namespace {

std::atomic<std::shared_ptr<ICld_Integration>>& installed() noexcept
{
    static std::atomic<std::shared_ptr<ICld_Integration>> implementation;
    return implementation;
}

} // namespace

ICld_Integration::~ICld_Integration() = default;

std::shared_ptr<ICld_Integration> Cld_Integration::Install(std::shared_ptr<ICld_Integration> implementation) noexcept
{
    return installed().exchange(std::move(implementation));
}

std::shared_ptr<ICld_Integration> Cld_Integration::Implementation()
{
    auto implementation = installed().load();
    if (!implementation) {
        throw Exception(ExceptionKind::InvalidOperation, "No service implementation is installed.");
    }
    return implementation;
}

// Session context
void Cld_Integration::SetProjectAndPartition(const String& projectId, const String& projectpath,
                                             const String& partitionId, const String& partitionpath,
                                             const String& userDirPath, const String& importpath)
{
    Implementation()->SetProjectAndPartition(projectId, projectpath, partitionId, partitionpath, userDirPath,
                                             importpath);
}

void Cld_Integration::SetOnlyProjectAndPartition(const String& projectId, const String& projectpath,
                                                 const String& partitionId, const String& partitionpath)
{
    Implementation()->SetOnlyProjectAndPartition(projectId, projectpath, partitionId, partitionpath);
}

void Cld_Integration::SetUserDirectory(const String& tagId, const String& path)
{
    Implementation()->SetUserDirectory(tagId, path);
}

void Cld_Integration::SetTenantUniqueId(const String& tenantUniqueId)
{
    Implementation()->SetTenantUniqueId(tenantUniqueId);
}

void Cld_Integration::SetCurrentAppLanguage(const String& language)
{
    Implementation()->SetCurrentAppLanguage(language);
}

void Cld_Integration::SetStartedInFieldMode(bool fieldMode)
{
    Implementation()->SetStartedInFieldMode(fieldMode);
}

void Cld_Integration::CloseProject()
{
    Implementation()->CloseProject();
}

void Cld_Integration::Logout()
{
    Implementation()->Logout();
}

// Sync control, filters and file lists
void Cld_Integration::StartSyncDir()
{
    Implementation()->StartSyncDir();
}

void Cld_Integration::StopSyncDir()
{
    Implementation()->StopSyncDir();
}

void Cld_Integration::StartProjectsAndPartitionsTask()
{
    Implementation()->StartProjectsAndPartitionsTask();
}

void Cld_Integration::AbortProjectsAndPartitionsTask()
{
    Implementation()->AbortProjectsAndPartitionsTask();
}

std::int32_t Cld_Integration::WaitForAllTasks(TimeSpan sleepTime, int& responsecode)
{
    return Implementation()->WaitForAllTasks(sleepTime, responsecode);
}

void Cld_Integration::SetDownloadFilters(const List<String>& projectFileFilter, const List<String>& userDirFilter,
                                         const List<String>& importFileFilter)
{
    Implementation()->SetDownloadFilters(projectFileFilter, userDirFilter, importFileFilter);
}

void Cld_Integration::SetFileIgnoreFilter(const List<String>& wildCardFilter)
{
    Implementation()->SetFileIgnoreFilter(wildCardFilter);
}

void Cld_Integration::SetDirectoryIgnoreFilter(const List<String>& wildCardFilter)
{
    Implementation()->SetDirectoryIgnoreFilter(wildCardFilter);
}

bool Cld_Integration::GetProjectFiles(const List<String>& wildCardFilter, const List<String>& fileNameList)
{
    return Implementation()->GetProjectFiles(wildCardFilter, fileNameList);
}

bool Cld_Integration::GetUserDirectoryFiles(const List<String>& wildCardFilter, const List<String>& fileNameList)
{
    return Implementation()->GetUserDirectoryFiles(wildCardFilter, fileNameList);
}

// Single-file operations
void Cld_Integration::LockFile(const String& file, int& responsecode)
{
    Implementation()->LockFile(file, responsecode);
}

void Cld_Integration::UnlockFile(const String& file, bool uploadchanges, int& responsecode)
{
    Implementation()->UnlockFile(file, uploadchanges, responsecode);
}

void Cld_Integration::UnlockFileForced(const String& file, int& responsecode)
{
    Implementation()->UnlockFileForced(file, responsecode);
}

void Cld_Integration::UnlockAllFilesLockedByMe(int& responsecode)
{
    Implementation()->UnlockAllFilesLockedByMe(responsecode);
}

void Cld_Integration::UploadFile(const String& file, int& responsecode)
{
    Implementation()->UploadFile(file, responsecode);
}

void Cld_Integration::DownloadFile(const String& file, int& responsecode)
{
    Implementation()->DownloadFile(file, responsecode);
}

void Cld_Integration::DeleteFile(const String& file, int& responsecode)
{
    Implementation()->DeleteFile(file, responsecode);
}

void Cld_Integration::RenameFile(const String& originalFile, const String& renamedFile, int& responsecode)
{
    Implementation()->RenameFile(originalFile, renamedFile, responsecode);
}

// Lock status
LockStatus Cld_Integration::GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                          String& lockedByPrincipalName, String& lockTimeStamp)
{
    return Implementation()->GetLockStatus(file, lockedby, lockedByDisplayName, lockedByPrincipalName, lockTimeStamp);
}

// Batch file operations
List<String> Cld_Integration::LockFiles(const List<String>& filesToLock, int& responsecode)
{
    return Implementation()->LockFiles(filesToLock, responsecode);
}

void Cld_Integration::UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode)
{
    Implementation()->UnlockFiles(filesToUnlock, uploadChanges, responsecode);
}

List<String> Cld_Integration::UploadNewFiles(const List<String>& files, int& responsecode)
{
    return Implementation()->UploadNewFiles(files, responsecode);
}

void Cld_Integration::TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                               const String& tagName, int& responsecode)
{
    Implementation()->TagFiles(filesToTag, projectId, category, tagName, responsecode);
}

// File identity and sync state
String Cld_Integration::GetFileId(const String& fileName)
{
    return Implementation()->GetFileId(fileName);
}

Nullable<std::uint64_t> Cld_Integration::GetFileRevision(const String& fileName)
{
    return Implementation()->GetFileRevision(fileName);
}

bool Cld_Integration::FileExistsInProject(const String& fileName)
{
    return Implementation()->FileExistsInProject(fileName);
}

void Cld_Integration::FindFileInWebApp(const String& fileName)
{
    Implementation()->FindFileInWebApp(fileName);
}

Ref<FileSyncStatus> Cld_Integration::GetFileSyncStatus()
{
    return Implementation()->GetFileSyncStatus();
}

Ref<InfoForDownloadCopy> Cld_Integration::GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                                 int& responsecode)
{
    return Implementation()->GetInfoForDownloadCopy(projectId, partitionId, responsecode);
}

List<String> Cld_Integration::CheckPathTooLongExceptions()
{
    return Implementation()->CheckPathTooLongExceptions();
}

List<String> Cld_Integration::CheckDownSyncFileExceptions()
{
    return Implementation()->CheckDownSyncFileExceptions();
}

// Status events
List<Ref<StatusEvent>> Cld_Integration::GetStatusEvents()
{
    return Implementation()->GetStatusEvents();
}

// Projects and tenants
List<Ref<Project>> Cld_Integration::GetProjectList(int& responsecode)
{
    return Implementation()->GetProjectList(responsecode);
}

Ref<Project> Cld_Integration::GetProjectInfo(const String& projectId, int& responsecode)
{
    return Implementation()->GetProjectInfo(projectId, responsecode);
}

Ref<Project> Cld_Integration::CreateProject(const String& projectName, const String& projectNumber, int& responsecode)
{
    return Implementation()->CreateProject(projectName, projectNumber, responsecode);
}

List<Ref<Tenant>> Cld_Integration::GetTenants(int& responsecode)
{
    return Implementation()->GetTenants(responsecode);
}

Ref<Tenant> Cld_Integration::GetTenantInfo(int& responsecode)
{
    return Implementation()->GetTenantInfo(responsecode);
}

// Project metadata
Ref<ApiModels::ProjectMetadata> Cld_Integration::GetProjectMetadata(int& responsecode)
{
    return Implementation()->GetProjectMetadata(responsecode);
}

// Partitions and tags
Ref<ApiModels::PartitionTag> Cld_Integration::GetPartitionInfo(const String& projectId, const String& partitionId,
                                                               int& responsecode)
{
    return Implementation()->GetPartitionInfo(projectId, partitionId, responsecode);
}

List<Ref<ApiModels::PartitionTag>> Cld_Integration::GetProjectPartitionTags(const String& projectId, int& responsecode)
{
    return Implementation()->GetProjectPartitionTags(projectId, responsecode);
}

Ref<ApiModels::PartitionTag> Cld_Integration::CreateProjectPartitionTag(const String& projectId, const String& name,
                                                                        int versionMajor, int& responsecode)
{
    return Implementation()->CreateProjectPartitionTag(projectId, name, versionMajor, responsecode);
}

List<Ref<ApiModels::PartitionTagsInProject>> Cld_Integration::GetAllAccessibleProjectPartitions(int& responsecode)
{
    return Implementation()->GetAllAccessibleProjectPartitions(responsecode);
}

void Cld_Integration::SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                                          int& responsecode)
{
    Implementation()->SetPartitionVersion(projectId, partitionId, versionMajor, responsecode);
}

List<Ref<ApiModels::Tag>> Cld_Integration::GetUserDirectoryTags(int& responsecode)
{
    return Implementation()->GetUserDirectoryTags(responsecode);
}

Ref<ApiModels::Tag> Cld_Integration::GetUserDirectoryTagInfo(int versionMajor, int& responsecode)
{
    return Implementation()->GetUserDirectoryTagInfo(versionMajor, responsecode);
}

Ref<ApiModels::Tag> Cld_Integration::CreateUserDirectoryTag(int versionMajor, int& responsecode)
{
    return Implementation()->CreateUserDirectoryTag(versionMajor, responsecode);
}

// Road database contracts
Ref<ApiModels::NvdbContract> Cld_Integration::GetNvdbProject(int& responsecode)
{
    return Implementation()->GetNvdbProject(responsecode);
}

Ref<ApiModels::NvdbContracts> Cld_Integration::GetNvdbProjects(int& responsecode)
{
    return Implementation()->GetNvdbProjects(responsecode);
}

// Online viewer model updates
String Cld_Integration::NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId,
                                                        const String& description, const String& logicalId,
                                                        int& responsecode)
{
    return Implementation()->NotifyOnlineViewer2dModelUpdate(files, epsgId, description, logicalId, responsecode);
}

ApiModels::WorkflowStatus Cld_Integration::Get2dModelUpdateStatus(const String& updateId, int& responsecode)
{
    return Implementation()->Get2dModelUpdateStatus(updateId, responsecode);
}

void Cld_Integration::NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                      const String& logicalId, double offsetX, double offsetY,
                                                      int& responsecode)
{
    Implementation()->NotifyOnlineViewer3dModelUpdate(files, epsgId, description, logicalId, offsetX, offsetY,
                                                      responsecode);
}

// Progress callback
void Cld_Integration::SetCallbacks(ProgressAction progressAction)
{
    Implementation()->SetCallbacks(std::move(progressAction));
}

// File browser pane
Ref<UI::FileBrowserUI> Cld_Integration::StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback)
{
    return Implementation()->StartFileBrowserUi(std::move(callback));
}

void Cld_Integration::StopFileBrowserUi()
{
    Implementation()->StopFileBrowserUi();
}

// Dialogs
bool Cld_Integration::ShowImportFilesDialog(ApiModels::TagCategory category, const String& header)
{
    return Implementation()->ShowImportFilesDialog(category, header);
}

bool Cld_Integration::ShowIncludeFolderDialog()
{
    return Implementation()->ShowIncludeFolderDialog();
}

void Cld_Integration::AddIncludeFoldersToProject(const List<String>& includeFolders)
{
    Implementation()->AddIncludeFoldersToProject(includeFolders);
}

bool Cld_Integration::AreIncludeFoldersInModel(const List<String>& includeFolders)
{
    return Implementation()->AreIncludeFoldersInModel(includeFolders);
}

List<Ref<FileToImport>> Cld_Integration::ShowFilesOverviewDialog(const List<String>& filesInCurrentModel,
                                                                 const List<String>& resultApplayers,
                                                                 String& importToThisLayer)
{
    return Implementation()->ShowFilesOverviewDialog(filesInCurrentModel, resultApplayers, importToThisLayer);
}

} // namespace VyrCldapi
