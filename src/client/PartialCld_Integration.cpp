#include <VyrCldapi/PartialCld_Integration.h>

#include <string>

namespace VyrCldapi {

std::string PartialCld_Integration::UnsupportedMessage(std::string_view operation)
{
    return "The operation " + std::string(operation) + " is not supported.";
}

void PartialCld_Integration::Unsupported(std::string_view operation)
{
    throw Exception(ExceptionKind::InvalidOperation, UnsupportedMessage(operation));
}

// Session context
void PartialCld_Integration::SetProjectAndPartition(const String&, const String&, const String&, const String&,
                                                    const String&, const String&)
{
    Unsupported("SetProjectAndPartition");
}

void PartialCld_Integration::SetOnlyProjectAndPartition(const String&, const String&, const String&, const String&)
{
    Unsupported("SetOnlyProjectAndPartition");
}

void PartialCld_Integration::SetUserDirectory(const String&, const String&)
{
    Unsupported("SetUserDirectory");
}

void PartialCld_Integration::SetTenantUniqueId(const String&)
{
    Unsupported("SetTenantUniqueId");
}

void PartialCld_Integration::SetCurrentAppLanguage(const String&)
{
    Unsupported("SetCurrentAppLanguage");
}

void PartialCld_Integration::SetStartedInFieldMode(bool)
{
    Unsupported("SetStartedInFieldMode");
}

void PartialCld_Integration::CloseProject()
{
    Unsupported("CloseProject");
}

void PartialCld_Integration::Logout()
{
    Unsupported("Logout");
}

// Sync control, filters and file lists
void PartialCld_Integration::StartSyncDir()
{
    Unsupported("StartSyncDir");
}

void PartialCld_Integration::StopSyncDir()
{
    Unsupported("StopSyncDir");
}

void PartialCld_Integration::StartProjectsAndPartitionsTask()
{
    Unsupported("StartProjectsAndPartitionsTask");
}

void PartialCld_Integration::AbortProjectsAndPartitionsTask()
{
    Unsupported("AbortProjectsAndPartitionsTask");
}

std::int32_t PartialCld_Integration::WaitForAllTasks(TimeSpan, int&)
{
    Unsupported("WaitForAllTasks");
}

void PartialCld_Integration::SetDownloadFilters(const List<String>&, const List<String>&, const List<String>&)
{
    Unsupported("SetDownloadFilters");
}

void PartialCld_Integration::SetFileIgnoreFilter(const List<String>&)
{
    Unsupported("SetFileIgnoreFilter");
}

void PartialCld_Integration::SetDirectoryIgnoreFilter(const List<String>&)
{
    Unsupported("SetDirectoryIgnoreFilter");
}

bool PartialCld_Integration::GetProjectFiles(const List<String>&, const List<String>&)
{
    Unsupported("GetProjectFiles");
}

bool PartialCld_Integration::GetUserDirectoryFiles(const List<String>&, const List<String>&)
{
    Unsupported("GetUserDirectoryFiles");
}

// Single-file operations
void PartialCld_Integration::LockFile(const String&, int&)
{
    Unsupported("LockFile");
}

void PartialCld_Integration::UnlockFile(const String&, bool, int&)
{
    Unsupported("UnlockFile");
}

void PartialCld_Integration::UnlockFileForced(const String&, int&)
{
    Unsupported("UnlockFileForced");
}

void PartialCld_Integration::UnlockAllFilesLockedByMe(int&)
{
    Unsupported("UnlockAllFilesLockedByMe");
}

void PartialCld_Integration::UploadFile(const String&, int&)
{
    Unsupported("UploadFile");
}

void PartialCld_Integration::DownloadFile(const String&, int&)
{
    Unsupported("DownloadFile");
}

void PartialCld_Integration::DeleteFile(const String&, int&)
{
    Unsupported("DeleteFile");
}

void PartialCld_Integration::RenameFile(const String&, const String&, int&)
{
    Unsupported("RenameFile");
}

// Lock status
LockStatus PartialCld_Integration::GetLockStatus(const String&, String&, String&, String&, String&)
{
    Unsupported("GetLockStatus");
}

// Batch file operations
List<String> PartialCld_Integration::LockFiles(const List<String>&, int&)
{
    Unsupported("LockFiles");
}

void PartialCld_Integration::UnlockFiles(const List<String>&, bool, int&)
{
    Unsupported("UnlockFiles");
}

List<String> PartialCld_Integration::UploadNewFiles(const List<String>&, int&)
{
    Unsupported("UploadNewFiles");
}

void PartialCld_Integration::TagFiles(const List<String>&, const String&, ApiModels::TagCategory, const String&, int&)
{
    Unsupported("TagFiles");
}

// File identity and sync state
String PartialCld_Integration::GetFileId(const String&)
{
    Unsupported("GetFileId");
}

Nullable<std::uint64_t> PartialCld_Integration::GetFileRevision(const String&)
{
    Unsupported("GetFileRevision");
}

bool PartialCld_Integration::FileExistsInProject(const String&)
{
    Unsupported("FileExistsInProject");
}

void PartialCld_Integration::FindFileInWebApp(const String&)
{
    Unsupported("FindFileInWebApp");
}

Ref<FileSyncStatus> PartialCld_Integration::GetFileSyncStatus()
{
    Unsupported("GetFileSyncStatus");
}

Ref<InfoForDownloadCopy> PartialCld_Integration::GetInfoForDownloadCopy(const String&, const String&, int&)
{
    Unsupported("GetInfoForDownloadCopy");
}

List<String> PartialCld_Integration::CheckPathTooLongExceptions()
{
    Unsupported("CheckPathTooLongExceptions");
}

List<String> PartialCld_Integration::CheckDownSyncFileExceptions()
{
    Unsupported("CheckDownSyncFileExceptions");
}

// Status events
List<Ref<StatusEvent>> PartialCld_Integration::GetStatusEvents()
{
    Unsupported("GetStatusEvents");
}

// Projects and tenants
List<Ref<Project>> PartialCld_Integration::GetProjectList(int&)
{
    Unsupported("GetProjectList");
}

Ref<Project> PartialCld_Integration::GetProjectInfo(const String&, int&)
{
    Unsupported("GetProjectInfo");
}

Ref<Project> PartialCld_Integration::CreateProject(const String&, const String&, int&)
{
    Unsupported("CreateProject");
}

List<Ref<Tenant>> PartialCld_Integration::GetTenants(int&)
{
    Unsupported("GetTenants");
}

Ref<Tenant> PartialCld_Integration::GetTenantInfo(int&)
{
    Unsupported("GetTenantInfo");
}

// Project metadata
Ref<ApiModels::ProjectMetadata> PartialCld_Integration::GetProjectMetadata(int&)
{
    Unsupported("GetProjectMetadata");
}

// Partitions and tags
Ref<ApiModels::PartitionTag> PartialCld_Integration::GetPartitionInfo(const String&, const String&, int&)
{
    Unsupported("GetPartitionInfo");
}

List<Ref<ApiModels::PartitionTag>> PartialCld_Integration::GetProjectPartitionTags(const String&, int&)
{
    Unsupported("GetProjectPartitionTags");
}

Ref<ApiModels::PartitionTag> PartialCld_Integration::CreateProjectPartitionTag(const String&, const String&, int, int&)
{
    Unsupported("CreateProjectPartitionTag");
}

List<Ref<ApiModels::PartitionTagsInProject>> PartialCld_Integration::GetAllAccessibleProjectPartitions(int&)
{
    Unsupported("GetAllAccessibleProjectPartitions");
}

void PartialCld_Integration::SetPartitionVersion(const String&, const String&, int, int&)
{
    Unsupported("SetPartitionVersion");
}

List<Ref<ApiModels::Tag>> PartialCld_Integration::GetUserDirectoryTags(int&)
{
    Unsupported("GetUserDirectoryTags");
}

Ref<ApiModels::Tag> PartialCld_Integration::GetUserDirectoryTagInfo(int, int&)
{
    Unsupported("GetUserDirectoryTagInfo");
}

Ref<ApiModels::Tag> PartialCld_Integration::CreateUserDirectoryTag(int, int&)
{
    Unsupported("CreateUserDirectoryTag");
}

// Road database contracts
Ref<ApiModels::NvdbContract> PartialCld_Integration::GetNvdbProject(int&)
{
    Unsupported("GetNvdbProject");
}

Ref<ApiModels::NvdbContracts> PartialCld_Integration::GetNvdbProjects(int&)
{
    Unsupported("GetNvdbProjects");
}

// Online viewer model updates
String PartialCld_Integration::NotifyOnlineViewer2dModelUpdate(const List<String>&, int, const String&, const String&,
                                                               int&)
{
    Unsupported("NotifyOnlineViewer2dModelUpdate");
}

ApiModels::WorkflowStatus PartialCld_Integration::Get2dModelUpdateStatus(const String&, int&)
{
    Unsupported("Get2dModelUpdateStatus");
}

void PartialCld_Integration::NotifyOnlineViewer3dModelUpdate(const List<String>&, int, const String&, const String&,
                                                             double, double, int&)
{
    Unsupported("NotifyOnlineViewer3dModelUpdate");
}

// Progress callback
void PartialCld_Integration::SetCallbacks(ProgressAction)
{
    Unsupported("SetCallbacks");
}

// File browser pane
Ref<UI::FileBrowserUI> PartialCld_Integration::StartFileBrowserUi(Ref<UI::IFileBrowserUICallback>)
{
    Unsupported("StartFileBrowserUi");
}

void PartialCld_Integration::StopFileBrowserUi()
{
    Unsupported("StopFileBrowserUi");
}

// Dialogs
bool PartialCld_Integration::ShowImportFilesDialog(ApiModels::TagCategory, const String&)
{
    Unsupported("ShowImportFilesDialog");
}

bool PartialCld_Integration::ShowIncludeFolderDialog()
{
    Unsupported("ShowIncludeFolderDialog");
}

void PartialCld_Integration::AddIncludeFoldersToProject(const List<String>&)
{
    Unsupported("AddIncludeFoldersToProject");
}

bool PartialCld_Integration::AreIncludeFoldersInModel(const List<String>&)
{
    Unsupported("AreIncludeFoldersInModel");
}

List<Ref<FileToImport>> PartialCld_Integration::ShowFilesOverviewDialog(const List<String>&, const List<String>&,
                                                                        String&)
{
    Unsupported("ShowFilesOverviewDialog");
}

} // namespace VyrCldapi
