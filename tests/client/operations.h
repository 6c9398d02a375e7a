#pragma once

// Every operation of the service interface, each called with neutral arguments: for tests that
// must reach all of them.

#include <VyrCldapi/Cld_Integration.h>

#include <functional>
#include <vector>

namespace vyr::cld::test {

struct Operation {
    const char* name;
    std::function<void(VyrCldapi::ICld_Integration&)> call;
};

inline std::vector<Operation> every_operation()
{
    using namespace VyrCldapi;
    static int rc = 0;
    static String text;
    static const List<String> list;
    return {
        {"SetProjectAndPartition", [](auto& s) { s.SetProjectAndPartition({}, {}, {}, {}, {}, {}); }},
        {"SetOnlyProjectAndPartition", [](auto& s) { s.SetOnlyProjectAndPartition({}, {}, {}, {}); }},
        {"SetUserDirectory", [](auto& s) { s.SetUserDirectory({}, {}); }},
        {"SetTenantUniqueId", [](auto& s) { s.SetTenantUniqueId({}); }},
        {"SetCurrentAppLanguage", [](auto& s) { s.SetCurrentAppLanguage({}); }},
        {"SetStartedInFieldMode", [](auto& s) { s.SetStartedInFieldMode(true); }},
        {"CloseProject", [](auto& s) { s.CloseProject(); }},
        {"Logout", [](auto& s) { s.Logout(); }},
        {"StartSyncDir", [](auto& s) { s.StartSyncDir(); }},
        {"StopSyncDir", [](auto& s) { s.StopSyncDir(); }},
        {"StartProjectsAndPartitionsTask", [](auto& s) { s.StartProjectsAndPartitionsTask(); }},
        {"AbortProjectsAndPartitionsTask", [](auto& s) { s.AbortProjectsAndPartitionsTask(); }},
        {"WaitForAllTasks", [](auto& s) { s.WaitForAllTasks({}, rc); }},
        {"SetDownloadFilters", [](auto& s) { s.SetDownloadFilters(list, list, list); }},
        {"SetFileIgnoreFilter", [](auto& s) { s.SetFileIgnoreFilter(list); }},
        {"SetDirectoryIgnoreFilter", [](auto& s) { s.SetDirectoryIgnoreFilter(list); }},
        {"GetProjectFiles", [](auto& s) { s.GetProjectFiles(list, list); }},
        {"GetUserDirectoryFiles", [](auto& s) { s.GetUserDirectoryFiles(list, list); }},
        {"LockFile", [](auto& s) { s.LockFile({}, rc); }},
        {"UnlockFile", [](auto& s) { s.UnlockFile({}, true, rc); }},
        {"UnlockFileForced", [](auto& s) { s.UnlockFileForced({}, rc); }},
        {"UnlockAllFilesLockedByMe", [](auto& s) { s.UnlockAllFilesLockedByMe(rc); }},
        {"UploadFile", [](auto& s) { s.UploadFile({}, rc); }},
        {"DownloadFile", [](auto& s) { s.DownloadFile({}, rc); }},
        {"DeleteFile", [](auto& s) { s.DeleteFile({}, rc); }},
        {"RenameFile", [](auto& s) { s.RenameFile({}, {}, rc); }},
        {"GetLockStatus", [](auto& s) { s.GetLockStatus({}, text, text, text, text); }},
        {"LockFiles", [](auto& s) { s.LockFiles(list, rc); }},
        {"UnlockFiles", [](auto& s) { s.UnlockFiles(list, true, rc); }},
        {"UploadNewFiles", [](auto& s) { s.UploadNewFiles(list, rc); }},
        {"TagFiles", [](auto& s) { s.TagFiles(list, {}, ApiModels::TagCategory{}, {}, rc); }},
        {"GetFileId", [](auto& s) { s.GetFileId({}); }},
        {"GetFileRevision", [](auto& s) { s.GetFileRevision({}); }},
        {"FileExistsInProject", [](auto& s) { s.FileExistsInProject({}); }},
        {"FindFileInWebApp", [](auto& s) { s.FindFileInWebApp({}); }},
        {"GetFileSyncStatus", [](auto& s) { s.GetFileSyncStatus(); }},
        {"GetInfoForDownloadCopy", [](auto& s) { s.GetInfoForDownloadCopy({}, {}, rc); }},
        {"CheckPathTooLongExceptions", [](auto& s) { s.CheckPathTooLongExceptions(); }},
        {"CheckDownSyncFileExceptions", [](auto& s) { s.CheckDownSyncFileExceptions(); }},
        {"GetStatusEvents", [](auto& s) { s.GetStatusEvents(); }},
        {"GetProjectList", [](auto& s) { s.GetProjectList(rc); }},
        {"GetProjectInfo", [](auto& s) { s.GetProjectInfo({}, rc); }},
        {"CreateProject", [](auto& s) { s.CreateProject({}, {}, rc); }},
        {"GetTenants", [](auto& s) { s.GetTenants(rc); }},
        {"GetTenantInfo", [](auto& s) { s.GetTenantInfo(rc); }},
        {"GetProjectMetadata", [](auto& s) { s.GetProjectMetadata(rc); }},
        {"GetPartitionInfo", [](auto& s) { s.GetPartitionInfo({}, {}, rc); }},
        {"GetProjectPartitionTags", [](auto& s) { s.GetProjectPartitionTags({}, rc); }},
        {"CreateProjectPartitionTag", [](auto& s) { s.CreateProjectPartitionTag({}, {}, 1, rc); }},
        {"GetAllAccessibleProjectPartitions", [](auto& s) { s.GetAllAccessibleProjectPartitions(rc); }},
        {"SetPartitionVersion", [](auto& s) { s.SetPartitionVersion({}, {}, 1, rc); }},
        {"GetUserDirectoryTags", [](auto& s) { s.GetUserDirectoryTags(rc); }},
        {"GetUserDirectoryTagInfo", [](auto& s) { s.GetUserDirectoryTagInfo(1, rc); }},
        {"CreateUserDirectoryTag", [](auto& s) { s.CreateUserDirectoryTag(1, rc); }},
        {"GetNvdbProject", [](auto& s) { s.GetNvdbProject(rc); }},
        {"GetNvdbProjects", [](auto& s) { s.GetNvdbProjects(rc); }},
        {"NotifyOnlineViewer2dModelUpdate", [](auto& s) { s.NotifyOnlineViewer2dModelUpdate(list, 1, {}, {}, rc); }},
        {"Get2dModelUpdateStatus", [](auto& s) { s.Get2dModelUpdateStatus({}, rc); }},
        {"NotifyOnlineViewer3dModelUpdate",
         [](auto& s) { s.NotifyOnlineViewer3dModelUpdate(list, 1, {}, {}, 0.0, 0.0, rc); }},
        {"SetCallbacks", [](auto& s) { s.SetCallbacks({}); }},
        {"StartFileBrowserUi", [](auto& s) { s.StartFileBrowserUi(nullptr); }},
        {"StopFileBrowserUi", [](auto& s) { s.StopFileBrowserUi(); }},
        {"ShowImportFilesDialog", [](auto& s) { s.ShowImportFilesDialog(ApiModels::TagCategory{}, {}); }},
        {"ShowIncludeFolderDialog", [](auto& s) { s.ShowIncludeFolderDialog(); }},
        {"AddIncludeFoldersToProject", [](auto& s) { s.AddIncludeFoldersToProject(list); }},
        {"AreIncludeFoldersInModel", [](auto& s) { s.AreIncludeFoldersInModel(list); }},
        {"ShowFilesOverviewDialog", [](auto& s) { s.ShowFilesOverviewDialog(list, list, text); }},
    };
}

} // namespace vyr::cld::test
