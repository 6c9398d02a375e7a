#include <VyrCldapi/PartialCld_Integration.h>

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using namespace VyrCldapi;

// Serves the single-file family and nothing else; a test double needs no more than this.
class FileLocks final : public PartialCld_Integration {
public:
    void LockFile(const String& file, int& responsecode) override { responsecode = file == u"plan.dwg" ? 0 : 404; }
    void UnlockFile(const String&, bool uploadchanges, int& responsecode) override
    {
        responsecode = uploadchanges ? 1 : 2;
    }
};

struct Operation {
    const char* name;
    std::function<void(ICld_Integration&)> call;
};

// Every operation of the interface, each called with neutral arguments.
std::vector<Operation> every_operation()
{
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

TEST(PartialService, EveryOperationRefusesWithAnInvalidOperationThatNamesIt)
{
    const auto operations = every_operation();
    std::set<std::string> names;
    for (const auto& operation : operations) {
        names.insert(operation.name);
    }
    ASSERT_EQ(names.size(), 67U) << "one row per operation of the interface";

    PartialCld_Integration service;
    for (const auto& operation : operations) {
        SCOPED_TRACE(operation.name);
        try {
            operation.call(service);
            ADD_FAILURE() << "returned normally";
        }
        catch (const Exception& failure) {
            EXPECT_EQ(failure.Kind(), ExceptionKind::InvalidOperation);
            EXPECT_EQ(failure.what(), "The operation " + std::string(operation.name) + " is not supported.");
        }
    }
}

TEST(PartialService, TheMessageHasOneFixedShape)
{
    EXPECT_EQ(PartialCld_Integration::UnsupportedMessage("LockFile"), "The operation LockFile is not supported.");
}

// Through the bridge, an operation the service serves answers as usual and an unserved one gives
// the failure value of its function, with the error code left as the host set it.
TEST(PartialService, AOneFamilyServiceAnswersItsFamilyAndTheBridgeContainsTheRest)
{
    struct Row {
        const char* what;
        std::function<bool(int&)> call; // whether the host saw success
        bool succeeds;
        int responsecode;
    };
    const std::vector<Row> rows{
        {"LockFile served", [](int& rc) { return api::LockFile("plan.dwg", rc); }, true, 0},
        {"LockFile served, service's code", [](int& rc) { return api::LockFile("other.dwg", rc); }, true, 404},
        {"UnlockFile served", [](int& rc) { return api::UnlockFile("plan.dwg", false, rc); }, true, 2},
        {"RemoveFile unserved", [](int& rc) { return api::RemoveFile("plan.dwg", rc); }, false, -7},
        {"GetProjectList unserved", [](int& rc) { return api::GetProjectList(rc).has_value(); }, false, -7},
        {"WaitForAllTasks unserved", [](int& rc) { return api::WaitForAllTasks(Ticks(10), rc) != 0; }, false, -7},
        {"GetStatusEvents unserved", [](int&) { return !api::GetStatusEvents().empty(); }, false, -7},
    };
    Cld_Integration::Install(std::make_shared<FileLocks>());
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        int responsecode = -7;
        EXPECT_EQ(row.call(responsecode), row.succeeds);
        EXPECT_EQ(responsecode, row.responsecode);
    }
    Cld_Integration::Install(nullptr);
}

} // namespace
} // namespace vyr::cld::test
