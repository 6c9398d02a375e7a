#include "world.h"

#include <gtest/gtest.h>

#include <functional>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;

// One outcome of one operation: the state before, the call, the response code it must write.
struct Outcome {
    const char* name;
    std::function<void(World&)> arrange;
    std::function<void(World&, int&)> act;
    int expected;
};

void plan(World& w)
{
    w.stored("plan.dwg", "revision 1");
}

void plan_locked_by_bert(World& w)
{
    plan(w);
    w.as("bert");
    int code = 0;
    LockFile("plan.dwg", code);
    ASSERT_EQ(code, 200);
    w.as("anna");
}

void no_project(World&)
{
    CloseProject();
}

const Outcome outcomes[] = {
    {"LockFile: a stored file", plan, [](World&, int& c) { LockFile("plan.dwg", c); }, 200},
    {"LockFile: locked by another user", plan_locked_by_bert, [](World&, int& c) { LockFile("plan.dwg", c); }, 409},
    {"LockFile: not in the store", plan, [](World&, int& c) { LockFile("other.dwg", c); }, 404},
    {"LockFile: no project selected", no_project, [](World&, int& c) { LockFile("plan.dwg", c); }, 412},
    {"LockFile: path leaves the working folder", plan, [](World&, int& c) { LockFile("../plan.dwg", c); }, 400},
    {"UnlockFile: my lock",
     [](World& w) {
         plan(w);
         int c = 0;
         LockFile("plan.dwg", c);
     },
     [](World&, int& c) { UnlockFile("plan.dwg", false, c); }, 200},
    {"UnlockFile: another user's lock", plan_locked_by_bert,
     [](World&, int& c) { UnlockFile("plan.dwg", false, c); }, 409},
    {"UnlockFile with upload: another user's lock", plan_locked_by_bert,
     [](World& w, int& c) {
         w.write("plan.dwg", "mine");
         UnlockFile("plan.dwg", true, c);
     },
     409},
    {"UnlockFileForced: another user's lock", plan_locked_by_bert,
     [](World&, int& c) { UnlockFileForced("plan.dwg", c); }, 200},
    {"UnlockFileForced: not in the store", plan, [](World&, int& c) { UnlockFileForced("none.dwg", c); }, 404},
    {"UnlockAllFilesLockedByMe", plan, [](World&, int& c) { UnlockAllFilesLockedByMe(c); }, 200},
    {"UploadFile: a new file", [](World& w) { w.write("new.txt", "hello"); },
     [](World&, int& c) { UploadFile("new.txt", c); }, 201},
    {"UploadFile: unchanged content stores no revision", plan,
     [](World&, int& c) {
         GetStatusEvents();
         UploadFile("plan.dwg", c);
         EXPECT_EQ(GetFileRevision("plan.dwg"), 1u);
         EXPECT_TRUE(GetStatusEvents().empty());
     },
     200},
    {"UploadFile: a copy from before another user deleted the file",
     [](World& w) {
         plan(w);
         w.as("bert");
         int c = 0;
         DownloadFile("plan.dwg", c);
         w.as("anna");
         RemoveFile("plan.dwg", c);
         w.as("bert");
     },
     [](World& w, int& c) {
         UploadFile("plan.dwg", c);
         EXPECT_FALSE(FileExistsInProject("plan.dwg"));
         w.as("anna");
     },
     409},
    {"UploadFile: a new file under a deleted file's name",
     [](World& w) {
         plan(w);
         int c = 0;
         RemoveFile("plan.dwg", c);
         w.as("bert");
         w.write("plan.dwg", "bert's own plan");
     },
     [](World& w, int& c) {
         UploadFile("plan.dwg", c);
         EXPECT_EQ(GetFileRevision("plan.dwg"), 3u);
         w.as("anna");
     },
     201},
    {"UploadFile: changed content", plan,
     [](World& w, int& c) {
         w.write("plan.dwg", "revision 2");
         UploadFile("plan.dwg", c);
     },
     200},
    {"UploadFile: locked by another user", plan_locked_by_bert,
     [](World& w, int& c) {
         w.write("plan.dwg", "revision 2");
         UploadFile("plan.dwg", c);
     },
     409},
    {"UploadFile: the store has a newer revision",
     [](World& w) {
         plan(w);
         w.as("bert");
         int c = 0;
         DownloadFile("plan.dwg", c);
         w.stored("plan.dwg", "bert's revision 2");
         w.as("anna");
     },
     [](World& w, int& c) {
         w.write("plan.dwg", "anna's revision 2");
         UploadFile("plan.dwg", c);
     },
     409},
    {"UploadFile: no such local file", plan, [](World&, int& c) { UploadFile("missing.txt", c); }, 404},
    {"UploadFile: a folder", [](World& w) { w.write("folder/inside.txt", "x"); },
     [](World&, int& c) { UploadFile("folder", c); }, 400},
    {"UploadFile: in field mode, queued", [](World& w) { w.write("field.txt", "x"); },
     [](World&, int& c) {
         SetStartedInFieldMode(true);
         UploadFile("field.txt", c);
     },
     202},
    {"UploadNewFiles: all new", [](World& w) { w.write("a.txt", "a"); },
     [](World&, int& c) { EXPECT_TRUE(UploadNewFiles({"a.txt"}, c).empty()); }, 201},
    {"UploadNewFiles: one already stored", plan,
     [](World& w, int& c) {
         w.write("b.txt", "b");
         EXPECT_EQ(UploadNewFiles({"b.txt", "plan.dwg"}, c), std::vector<std::string>{"plan.dwg"});
     },
     409},
    {"UploadNewFiles: in field mode, queued", [](World& w) { w.write("a.txt", "a"); },
     [](World&, int& c) {
         SetStartedInFieldMode(true);
         EXPECT_TRUE(UploadNewFiles({"a.txt"}, c).empty());
     },
     202},
    {"LockFiles: one missing", plan,
     [](World&, int& c) { EXPECT_EQ(LockFiles({"plan.dwg", "gone.dwg"}, c), std::vector<std::string>{"gone.dwg"}); },
     404},
    {"UnlockFiles: another user's lock", plan_locked_by_bert,
     [](World&, int& c) { UnlockFiles({"plan.dwg"}, false, c); }, 409},
    {"DownloadFile: another user's file",
     [](World& w) {
         plan(w);
         w.as("bert");
     },
     [](World& w, int& c) {
         DownloadFile("plan.dwg", c);
         EXPECT_EQ(w.read("plan.dwg"), "revision 1");
     },
     200},
    {"DownloadFile: not in the store", plan, [](World&, int& c) { DownloadFile("none.dwg", c); }, 404},
    {"DownloadFile: over a local file the store does not have",
     [](World& w) {
         plan(w);
         w.as("bert");
         w.write("plan.dwg", "bert's own");
     },
     [](World& w, int& c) {
         DownloadFile("plan.dwg", c);
         EXPECT_EQ(w.read("plan.dwg"), "bert's own");
     },
     409},
    {"RemoveFile: a stored file", plan,
     [](World& w, int& c) {
         RemoveFile("plan.dwg", c);
         EXPECT_FALSE(FileExistsInProject("plan.dwg"));
         EXPECT_FALSE(fs::exists(w.folder() / "plan.dwg"));
     },
     200},
    {"RemoveFile: locked by another user", plan_locked_by_bert, [](World&, int& c) { RemoveFile("plan.dwg", c); },
     409},
    {"RemoveFile: not in the store", plan, [](World&, int& c) { RemoveFile("none.dwg", c); }, 404},
    {"RenameFile: keeps the file's id", plan,
     [](World& w, int& c) {
         const auto id = GetFileId("plan.dwg");
         RenameFile("plan.dwg", "site/plan-b.dwg", c);
         EXPECT_EQ(GetFileId("site/plan-b.dwg"), id);
         EXPECT_EQ(w.read("site/plan-b.dwg"), "revision 1");
     },
     200},
    {"RenameFile: onto another stored file", plan,
     [](World& w, int& c) {
         w.stored("other.dwg", "other");
         fs::remove(w.folder() / "other.dwg");
         RenameFile("plan.dwg", "other.dwg", c);
     },
     409},
    {"RenameFile: not in the store", plan, [](World&, int& c) { RenameFile("none.dwg", "x.dwg", c); }, 404},
    {"TagFiles", plan,
     [](World& w, int& c) { TagFiles({"plan.dwg"}, w.projectId, vyr::cld::TagCategory::Export, "issued", c); }, 200},
    {"TagFiles: unknown project", plan,
     [](World&, int& c) { TagFiles({"plan.dwg"}, "nope", vyr::cld::TagCategory::Export, "issued", c); }, 404},
    {"TagFiles: empty tag name", plan,
     [](World& w, int& c) { TagFiles({"plan.dwg"}, w.projectId, vyr::cld::TagCategory::Export, "", c); }, 400},
    {"GetInfoForDownloadCopy", plan_locked_by_bert,
     [](World& w, int& c) {
         const auto info = GetInfoForDownloadCopy(w.projectId, w.partitionId, c);
         ASSERT_TRUE(info);
         EXPECT_EQ(*info, (vyr::cld::InfoForDownloadCopy{10, 1, 1}));
     },
     200},
    {"GetInfoForDownloadCopy: unknown partition", nullptr,
     [](World& w, int& c) { EXPECT_FALSE(GetInfoForDownloadCopy(w.projectId, "nope", c)); }, 404},
    {"CreateProject", nullptr, [](World&, int& c) { EXPECT_EQ(CreateProject("Bridge", "2026-18", c)->name, "Bridge"); },
     201},
    {"CreateProject: empty name", nullptr, [](World&, int& c) { CreateProject("", "2026-19", c); }, 400},
    {"CreateProject: number taken", nullptr, [](World&, int& c) { CreateProject("Again", "2026-17", c); }, 409},
    {"CreateProject: a second project without a number",
     [](World&) {
         int c = 0;
         CreateProject("First", "", c);
         ASSERT_EQ(c, 201);
     },
     [](World&, int& c) { CreateProject("Second", "", c); }, 201},
    {"GetProjectList", nullptr, [](World&, int& c) { EXPECT_EQ(GetProjectList(c)->size(), 1u); }, 200},
    {"GetProjectInfo", nullptr, [](World& w, int& c) { EXPECT_EQ(GetProjectInfo(w.projectId, c)->name, "Ringroad"); },
     200},
    {"GetProjectInfo: unknown project", nullptr, [](World&, int& c) { GetProjectInfo("nope", c); }, 404},
    {"GetTenants", nullptr, [](World&, int& c) { EXPECT_EQ(GetTenants(c)->size(), 1u); }, 200},
    {"GetTenantInfo: unknown tenant", [](World&) { SetTenantUniqueId("nobody"); },
     [](World&, int& c) { GetTenantInfo(c); }, 404},
    {"GetProjectList: unknown tenant", [](World&) { SetTenantUniqueId("nobody"); },
     [](World&, int& c) { GetProjectList(c); }, 404},
    {"GetProjectMetadata: size per application type",
     [](World& w) {
         plan(w);
         w.stored("notes.txt", "1234");
     },
     [](World&, int& c) {
         const auto metadata = GetProjectMetadata(c);
         ASSERT_TRUE(metadata);
         EXPECT_EQ(metadata->size, 14);
         EXPECT_EQ(metadata->appTypeSizes,
                   (std::vector<vyr::cld::AppTypeSize>{{"dwg", 10}, {"txt", 4}}));
     },
     200},
    {"GetProjectMetadata: no project selected", no_project, [](World&, int& c) { GetProjectMetadata(c); }, 412},
    {"CreateProjectPartitionTag: name taken", nullptr,
     [](World& w, int& c) { CreateProjectPartitionTag(w.projectId, "Design", 1, c); }, 409},
    {"CreateProjectPartitionTag: unknown project", nullptr,
     [](World&, int& c) { CreateProjectPartitionTag("nope", "Design", 1, c); }, 404},
    {"SetPartitionVersion", nullptr,
     [](World& w, int& c) {
         SetPartitionVersion(w.projectId, w.partitionId, 7, c);
         int ignored = 0;
         EXPECT_EQ(GetPartitionInfo(w.projectId, w.partitionId, ignored)->clientMetadata.versionMajor, 7);
     },
     200},
    {"SetPartitionVersion: unknown partition", nullptr,
     [](World& w, int& c) { SetPartitionVersion(w.projectId, "nope", 7, c); }, 404},
    {"CreateUserDirectoryTag", nullptr, [](World&, int& c) { CreateUserDirectoryTag(3, c); }, 201},
    {"CreateUserDirectoryTag: version taken",
     [](World&) {
         int c = 0;
         CreateUserDirectoryTag(3, c);
     },
     [](World&, int& c) { CreateUserDirectoryTag(3, c); }, 409},
    {"GetUserDirectoryTagInfo: no such version", nullptr, [](World&, int& c) { GetUserDirectoryTagInfo(9, c); }, 404},
    {"GetNvdbProject: the project has no contract", nullptr, [](World&, int& c) { GetNvdbProject(c); }, 404},
    {"GetNvdbProject", [](World& w) { w.add_road_contract("K-1", "E6 Ringroad"); },
     [](World&, int& c) { EXPECT_EQ(GetNvdbProject(c)->nvdbContractName, "E6 Ringroad"); }, 200},
    {"GetNvdbProjects", [](World& w) { w.add_road_contract("K-1", "E6 Ringroad"); },
     [](World&, int& c) { EXPECT_EQ(GetNvdbProjects(c).size(), 1u); }, 200},
    {"NotifyOnlineViewer2dModelUpdate", plan,
     [](World&, int& c) { EXPECT_TRUE(NotifyOnlineViewer2dModelUpdate({"plan.dwg"}, 25833, "plan", "L-1", c)); },
     201},
    {"NotifyOnlineViewer2dModelUpdate: a file not in the store", plan,
     [](World&, int& c) { NotifyOnlineViewer2dModelUpdate({"none.dwg"}, 25833, "plan", "L-1", c); }, 404},
    {"NotifyOnlineViewer3dModelUpdate: no project selected", no_project,
     [](World&, int& c) { NotifyOnlineViewer3dModelUpdate({"plan.dwg"}, 25833, "", "", 1.0, 2.0, c); }, 412},
    {"Get2dModelUpdateStatus: unknown update", nullptr,
     [](World&, int& c) { Get2dModelUpdateStatus("nope", c); }, 404},
    {"WaitForAllTasks: nothing running", nullptr,
     [](World&, int& c) { EXPECT_EQ(WaitForAllTasks(std::chrono::milliseconds(50), c), 0); }, 200},
};

class Semantics : public testing::TestWithParam<Outcome> {};

TEST_P(Semantics, WritesTheResponseCodeOfTheOutcome)
{
    World world;
    const auto& outcome = GetParam();
    if (outcome.arrange) {
        outcome.arrange(world);
    }
    int code = -1;
    outcome.act(world, code);
    EXPECT_EQ(code, outcome.expected) << outcome.name;
}

INSTANTIATE_TEST_SUITE_P(Operations, Semantics, testing::ValuesIn(outcomes),
                         row_name<Outcome>);

} // namespace
} // namespace vyr::cld::local::test

namespace vyr::cld::local::test {
namespace {

using VyrCldapi::ExceptionKind;
using VyrCldapi::ICld_Integration;
using VyrCldapi::List;
using VyrCldapi::String;

// What the service raises where the cloud client would. Called on the service itself: the
// bridge cannot pass a null.
struct Failure {
    const char* name;
    std::function<void(ICld_Integration&, World&)> call;
    ExceptionKind expected;
};

const Failure failures[] = {
    {"LockFile: null file", [](ICld_Integration& s, World&) { int c = 0; s.LockFile(String{}, c); },
     ExceptionKind::ArgumentNull},
    {"LockFiles: a null among the files",
     [](ICld_Integration& s, World&) {
         int c = 0;
         s.LockFiles(List<String>{u"plan.dwg", String{}}, c);
     },
     ExceptionKind::ArgumentNull},
    {"GetProjectInfo: null id", [](ICld_Integration& s, World&) { int c = 0; s.GetProjectInfo(String{}, c); },
     ExceptionKind::ArgumentNull},
    {"CreateProjectPartitionTag: negative version",
     [](ICld_Integration& s, World& w) {
         int c = 0;
         s.CreateProjectPartitionTag(String(std::u16string(w.projectId.begin(), w.projectId.end())), u"x", -1, c);
     },
     ExceptionKind::ArgumentOutOfRange},
    {"WaitForAllTasks: negative time", [](ICld_Integration& s, World&) { int c = 0; s.WaitForAllTasks({-1}, c); },
     ExceptionKind::ArgumentOutOfRange},
    {"NotifyOnlineViewer2dModelUpdate: no coordinate system",
     [](ICld_Integration& s, World&) {
         int c = 0;
         s.NotifyOnlineViewer2dModelUpdate(List<String>{u"plan.dwg"}, 0, u"", u"", c);
     },
     ExceptionKind::ArgumentOutOfRange},
    {"SetProjectAndPartition: unknown partition",
     [](ICld_Integration& s, World& w) {
         s.SetProjectAndPartition(u"nope", u"", u"nope", String(w.folder().u16string()), u"", u"");
     },
     ExceptionKind::Argument},
    {"FindFileInWebApp: not in the project", [](ICld_Integration& s, World&) { s.FindFileInWebApp(u"none.dwg"); },
     ExceptionKind::Argument},
    {"StartSyncDir: no project selected",
     [](ICld_Integration& s, World&) {
         s.CloseProject();
         s.StartSyncDir();
     },
     ExceptionKind::InvalidOperation},
};

class ServiceFailures : public testing::TestWithParam<Failure> {};

TEST_P(ServiceFailures, AreRaisedAndTouchNothing)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    auto& service = *w.services_.at("anna");
    try {
        GetParam().call(service, w);
        ADD_FAILURE() << "nothing raised";
    } catch (const VyrCldapi::Exception& e) {
        EXPECT_EQ(e.Kind(), GetParam().expected) << e.what();
    }
    std::string by, name, principal, since;
    EXPECT_NE(GetLockStatus("plan.dwg", by, name, principal, since), vyr::cld::LockStatus::LockedByMe);
}

INSTANTIATE_TEST_SUITE_P(Operations, ServiceFailures, testing::ValuesIn(failures), row_name<Failure>);

} // namespace
} // namespace vyr::cld::local::test
