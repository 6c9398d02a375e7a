#include "held.h"
#include "world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <fstream>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;
using vyr::cld::StatusEvent;
using vyr::cld::StatusEventType;
using namespace std::chrono_literals;

bool has_event(const std::vector<StatusEvent>& events, StatusEventType type, int status, const std::string& id)
{
    return std::find(events.begin(), events.end(), StatusEvent{type, status, id}) != events.end();
}

int wait()
{
    int code = 0;
    const int busy = WaitForAllTasks(5s, code);
    EXPECT_EQ(code, 200);
    return busy;
}

TEST(TwoUsers, ShareALockAndARevisionThroughTheSyncWorker)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    int code = 0;
    LockFile("plan.dwg", code);

    w.as("bert");
    LockFile("plan.dwg", code);
    EXPECT_EQ(code, 409);
    std::string by, name, principal, since;
    EXPECT_EQ(GetLockStatus("plan.dwg", by, name, principal, since), vyr::cld::LockStatus::LockedByOther);
    EXPECT_EQ(std::vector<std::string>({by, name, principal}),
              std::vector<std::string>({"anna-id", "anna display", "anna@example.org"}));
    if (!World::team) { // a team server stamps locks with its own clock
        EXPECT_EQ(since, "2026-12-07T00:00:00.000Z");
    }

    w.as("anna");
    w.write("plan.dwg", "revision 2");
    UnlockFile("plan.dwg", true, code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(GetFileRevision("plan.dwg"), 2u);
    EXPECT_EQ(GetLockStatus("plan.dwg", by, name, principal, since), vyr::cld::LockStatus::NotLocked);

    w.as("bert");
    std::mutex mutex;
    std::vector<std::pair<vyr::cld::ProgressEventType, std::string>> progress;
    SetCallbacks([&](vyr::cld::ProgressEventType type, double, const std::string& title) {
        const std::lock_guard lock(mutex);
        progress.emplace_back(type, title);
    });
    StartSyncDir();
    EXPECT_EQ(wait(), 0);
    StopSyncDir();
    EXPECT_EQ(w.read("plan.dwg"), "revision 2");
    EXPECT_TRUE(has_event(GetStatusEvents(), StatusEventType::Download, 200, "plan.dwg"));
    const std::lock_guard lock(mutex);
    EXPECT_NE(std::find(progress.begin(), progress.end(), std::pair{vyr::cld::ProgressEventType::Download,
                                                                     std::string("plan.dwg")}),
              progress.end());
    EXPECT_EQ(progress.back().first, vyr::cld::ProgressEventType::DeleteProgressBar);
}

// A transfer's bar moves only forward and ends full, for a file of several of the store's pieces
// and for one the store holds already (a second name of the same bytes).
TEST(Transfers, AnUploadsProgressRisesToTheWhole)
{
    std::mutex mutex; // outlives the services, which may still call
    std::vector<std::pair<vyr::cld::ProgressEventType, double>> told;
    World w;
    std::string bytes(2 * (1 << 20) + 777, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
    }
    SetCallbacks([&](vyr::cld::ProgressEventType type, double value, const std::string&) {
        const std::lock_guard lock(mutex);
        told.emplace_back(type, value);
    });
    for (const auto* file : {"big.dwg", "copy.dwg"}) {
        SCOPED_TRACE(file);
        {
            const std::lock_guard lock(mutex);
            told.clear();
        }
        w.stored(file, bytes);
        const std::lock_guard lock(mutex);
        ASSERT_GE(told.size(), 2u);
        EXPECT_EQ(told.back().first, vyr::cld::ProgressEventType::DeleteProgressBar);
        double last = 0;
        for (std::size_t i = 0; i + 1 < told.size(); ++i) {
            EXPECT_EQ(told[i].first, vyr::cld::ProgressEventType::Upload);
            EXPECT_GE(told[i].second, last);
            last = told[i].second;
        }
        EXPECT_EQ(last, 1.0);
    }
}

TEST(SyncWorker, NeverOverwritesALocalChangeAndReportsTheConflict)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    w.as("bert");
    StartSyncDir();
    wait();
    w.write("plan.dwg", "bert's edit");
    w.as("anna");
    w.stored("plan.dwg", "revision 2");
    w.as("bert");
    wait();
    StopSyncDir();
    EXPECT_EQ(w.read("plan.dwg"), "bert's edit");
    EXPECT_TRUE(has_event(GetStatusEvents(), StatusEventType::Download, 409, "plan.dwg"));
    EXPECT_EQ(CheckDownSyncFileExceptions(), std::vector<std::string>{"plan.dwg"});
    EXPECT_EQ(GetFileSyncStatus(), (vyr::cld::FileSyncStatus{1, 10, 0, 0}));
    int code = 0;
    UploadFile("plan.dwg", code);
    EXPECT_EQ(code, 409) << "bert's copy was based on revision 1";

    // Bert keeps his edit under another name; the next download clears the conflict.
    fs::rename(w.folder() / "plan.dwg", w.folder() / "plan-bert.dwg");
    DownloadFile("plan.dwg", code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(w.read("plan.dwg"), "revision 2");
    EXPECT_TRUE(CheckDownSyncFileExceptions().empty());
}

TEST(SyncWorker, FollowsRenamesAndDeletions)
{
    World w;
    w.stored("a.txt", "a");
    w.stored("b.txt", "b");
    w.as("bert");
    StartSyncDir();
    wait();
    w.as("anna");
    int code = 0;
    RenameFile("a.txt", "docs/a.txt", code);
    RemoveFile("b.txt", code);
    w.as("bert");
    wait();
    EXPECT_EQ(w.read("docs/a.txt"), "a");
    EXPECT_FALSE(fs::exists(w.folder() / "a.txt"));
    EXPECT_FALSE(fs::exists(w.folder() / "b.txt"));
    CloseProject(); // stops the worker
    const auto events = GetStatusEvents();
    EXPECT_TRUE(has_event(events, StatusEventType::Rename, 200, "docs/a.txt"));
    EXPECT_TRUE(has_event(events, StatusEventType::Deleted, 200, "b.txt"));
}

// Which of the stored files a request with these patterns brings into the working folder.
struct Selection {
    std::optional<std::vector<std::string>> patterns;
    std::set<std::string> expected;
};

const Selection selections[] = {
    {std::vector<std::string>{"*.dwg"}, {"plan.dwg", "site/Plan.DWG"}},
    {std::vector<std::string>{"site/*"}, {"site/Plan.DWG"}},
    {std::vector<std::string>{"site/**"}, {"site/Plan.DWG", "site/deep/notes.txt"}},
    {std::vector<std::string>{"readme.??"}, {"readme.md"}},
    {std::vector<std::string>{"*.md", "notes.*"}, {"readme.md", "site/deep/notes.txt"}},
    {std::vector<std::string>{}, {}},
    {std::nullopt, {"plan.dwg", "readme.md", "site/Plan.DWG", "site/deep/notes.txt"}},
};

class Wildcards : public testing::TestWithParam<Selection> {};

TEST_P(Wildcards, ChooseTheFilesToFetch)
{
    World w;
    for (const std::string file : {"plan.dwg", "readme.md", "site/Plan.DWG", "site/deep/notes.txt"}) {
        w.stored(file, file);
    }
    w.as("bert");
    EXPECT_TRUE(GetProjectFiles(GetParam().patterns, std::nullopt));
    std::set<std::string> fetched;
    for (const auto& entry : fs::recursive_directory_iterator(w.folder())) {
        if (entry.is_regular_file()) {
            fetched.insert(reinterpret_cast<const char*>(entry.path().lexically_relative(w.folder()).generic_u8string().c_str()));
        }
    }
    EXPECT_EQ(fetched, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Patterns, Wildcards, testing::ValuesIn(selections));

TEST(SyncWorker, HonoursTheDownloadAndIgnoreFilters)
{
    World w;
    for (const std::string file : {"plan.dwg", "readme.md", "site/Plan.DWG", "site/deep/notes.txt"}) {
        w.stored(file, file);
    }
    w.as("bert");
    SetDownloadFilters(std::vector<std::string>{"*.dwg", "*.txt", "*.md"}, std::nullopt, std::nullopt);
    SetFileIgnoreFilter({"readme*"});
    SetDirectoryIgnoreFilter({"deep"});
    StartSyncDir();
    wait();
    StopSyncDir();
    EXPECT_TRUE(fs::exists(w.folder() / "plan.dwg"));
    EXPECT_TRUE(fs::exists(w.folder() / "site/Plan.DWG"));
    EXPECT_FALSE(fs::exists(w.folder() / "readme.md"));
    EXPECT_FALSE(fs::exists(w.folder() / "site/deep/notes.txt"));
    EXPECT_EQ(GetFileSyncStatus(), (vyr::cld::FileSyncStatus{}));
}

TEST(FieldMode, QueuesUploadsUntilItEnds)
{
    World w;
    w.write("notes.txt", "notes");
    SetStartedInFieldMode(true);
    int code = 0;
    UploadFile("notes.txt", code);
    EXPECT_EQ(code, 202);
    EXPECT_FALSE(FileExistsInProject("notes.txt"));
    EXPECT_EQ(GetFileSyncStatus(), (vyr::cld::FileSyncStatus{0, 0, 1, 5}));
    SetStartedInFieldMode(false);
    EXPECT_TRUE(FileExistsInProject("notes.txt"));
    EXPECT_EQ(GetFileSyncStatus(), (vyr::cld::FileSyncStatus{}));
}

// The host's side of the pane, recording what it was asked.
struct Host final : vyr::cld::IFileBrowserUICallback {
    std::vector<std::string>* asked;
    bool allowSave = true;
    HWND getHwnd() override { return nullptr; }
    void showLockInfoPanelNearUi(const std::string& file) override { asked->push_back("lock panel " + file); }
    bool promptSave(const std::string& file) override
    {
        asked->push_back("save " + file);
        return allowSave;
    }
    std::vector<std::string> collectRelatedFiles(const std::string& file) override
    {
        return file == "plan.dwg" ? std::vector<std::string>{"plan.xref", "gone.xref"} : std::vector<std::string>{};
    }
    bool isFileOperationsAllowed(const std::string& file) override { return file != "secret.dwg"; }
    bool isUsingContractPosts() override { return false; }
};

TEST(Pane, AsksTheHostAtTheMomentsARealPaneWould)
{
    World w;
    std::vector<std::string> asked;
    auto host = std::make_unique<Host>();
    host->asked = &asked;
    host->allowSave = false;
    w.as("bert");
    const auto pane = StartFileBrowserUi(std::move(host));
    ASSERT_TRUE(pane);

    w.write("plan.xref", "reference");
    w.stored("plan.dwg", "revision 1");
    EXPECT_TRUE(FileExistsInProject("plan.xref")) << "a related file goes with the file";
    EXPECT_TRUE(has_event(GetStatusEvents(), StatusEventType::Upload, 404, "gone.xref")) << "and one left behind is told";
    int code = 0;
    w.write("secret.dwg", "x");
    UploadFile("secret.dwg", code);
    EXPECT_EQ(code, 403);

    w.as("anna");
    DownloadFile("plan.dwg", code);
    LockFile("plan.dwg", code);
    w.as("bert");
    LockFile("plan.dwg", code);
    EXPECT_EQ(code, 409);
    w.as("anna");
    w.write("plan.dwg", "revision 2");
    UnlockFile("plan.dwg", true, code);
    w.as("bert");
    DownloadFile("plan.dwg", code);
    EXPECT_EQ(code, 409) << "the host declined to save";
    EXPECT_EQ(w.read("plan.dwg"), "revision 1");
    EXPECT_EQ(asked, (std::vector<std::string>{"lock panel plan.dwg", "save plan.dwg"}));
    StopFileBrowserUi();
    DownloadFile("plan.dwg", code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(w.read("plan.dwg"), "revision 2");
}

TEST(Dialogs, AnswerFromTheOptionsOrAsCancelled)
{
    World w;
    EXPECT_FALSE(ShowImportFilesDialog(vyr::cld::TagCategory::Import, "Import"));
    std::string layer = "unchanged";
    EXPECT_TRUE(ShowFilesOverviewDialog({}, {}, layer).empty());

    DialogAnswers dialogs;
    dialogs.importFiles = true;
    dialogs.filesToImport = {{{"a.dwg", "acme"}, {"b.dwg", std::nullopt}}};
    dialogs.importLayer = "L1";
    VyrCldapi::Cld_Integration::Install(w.open("anna", dialogs));
    EXPECT_TRUE(ShowImportFilesDialog(vyr::cld::TagCategory::Import, "Import"));
    EXPECT_EQ(ShowFilesOverviewDialog({}, {}, layer),
              (std::vector<vyr::cld::FileToImport>{{"a.dwg", "acme"}, {"b.dwg", std::nullopt}}));
    EXPECT_EQ(layer, "L1");
}

TEST(Tasks, TheProjectsTaskPostsItsEvent)
{
    World w;
    StartProjectsAndPartitionsTask();
    EXPECT_EQ(wait(), 0);
    EXPECT_TRUE(has_event(GetStatusEvents(), StatusEventType::ProjectCacheUpdated, 200, "local"));
}

TEST(OnlineViewer, TheUpdateWorkflowAdvancesWithTime)
{
    if (World::team) {
        GTEST_SKIP() << "a team server keeps its own time";
    }
    World w;
    w.stored("plan.dwg", "x");
    int code = 0;
    const auto id = NotifyOnlineViewer2dModelUpdate({"plan.dwg"}, 25833, "plan", "L-1", code).value();
    const std::pair<std::chrono::milliseconds, vyr::cld::WorkflowStatus> steps[] = {
        {0ms, vyr::cld::WorkflowStatus::Scheduled},
        {1500ms, vyr::cld::WorkflowStatus::InProgress},
        {2000ms, vyr::cld::WorkflowStatus::Success},
    };
    for (const auto& [later, status] : steps) {
        w.now_ += later;
        EXPECT_EQ(Get2dModelUpdateStatus(id, code), status);
    }
}

TEST(Locks, ExactlyOneOfManyRacingUsersWins)
{
    World w;
    w.stored("plan.dwg", "x");
    // Each racer has a service of its own on the same store, as separate processes would.
    std::vector<std::shared_ptr<VyrCldapi::ICld_Integration>> racers;
    for (int i = 0; i < 6; ++i) {
        auto service = w.open("racer" + std::to_string(i));
        VyrCldapi::Cld_Integration::Install(service);
        ASSERT_TRUE(SetProjectAndPartition(w.projectId, "", w.partitionId, w.folder("anna").string(), "", ""));
        racers.push_back(service);
    }
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (auto& racer : racers) {
        threads.emplace_back([&, racer] {
            int code = 0;
            racer->LockFile(u"plan.dwg", code);
            winners += code == 200 ? 1 : 0;
            EXPECT_TRUE(code == 200 || code == 409) << code;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(winners.load(), 1);
}

// An empty file is a file like any other: each operation in turn, by the user who would do it.
TEST(EmptyFile, GoesThroughEveryOperation)
{
    World w;
    const auto call = [](bool (*operation)(const std::string&, int&), const std::string& file) {
        int code = 0;
        operation(file, code);
        return code;
    };
    const auto stored = [&](const std::string& file, const std::string& text) {
        w.write(file, text);
        return call(UploadFile, file);
    };
    const auto sync = [] {
        StartSyncDir();
        const int code = wait() == 0 ? 200 : 504;
        StopSyncDir();
        return code;
    };
    const auto lock_status = [](const std::string& file) {
        std::string by, name, principal, since;
        return GetLockStatus(file, by, name, principal, since);
    };
    const auto holds = [&](const std::string& file, const std::string& text) {
        EXPECT_TRUE(fs::exists(w.folder() / file)) << file;
        EXPECT_EQ(w.read(file), text) << file;
    };
    struct Step {
        const char* what;
        const char* who;
        std::function<int()> act;
        int code;
        std::function<void()> check;
    };
    const std::vector<Step> steps{
        {"upload a new one", "anna", [&] { return stored("empty.txt", ""); }, 201,
         [&] { EXPECT_EQ(GetFileRevision("empty.txt"), 1u); }},
        {"download it", "bert", [&] { return call(DownloadFile, "empty.txt"); }, 200, [&] { holds("empty.txt", ""); }},
        {"lock it", "bert", [&] { return call(LockFile, "empty.txt"); }, 200,
         [&] { EXPECT_EQ(lock_status("empty.txt"), vyr::cld::LockStatus::LockedByMe); }},
        {"unlock it", "bert",
         [] {
             int code = 0;
             UnlockFile("empty.txt", false, code);
             return code;
         },
         200, [&] { EXPECT_EQ(lock_status("empty.txt"), vyr::cld::LockStatus::NotLocked); }},
        {"upload it unchanged", "anna", [&] { return stored("empty.txt", ""); }, 200,
         [&] { EXPECT_EQ(GetFileRevision("empty.txt"), 1u); }},
        {"give it content", "anna", [&] { return stored("empty.txt", "full"); }, 200, nullptr},
        {"empty it again, unlocking with the upload", "anna",
         [&] {
             int code = call(LockFile, "empty.txt");
             w.write("empty.txt", "");
             UnlockFile("empty.txt", true, code);
             return code;
         },
         200,
         [&] {
             EXPECT_EQ(GetFileRevision("empty.txt"), 3u);
             EXPECT_EQ(lock_status("empty.txt"), vyr::cld::LockStatus::NotLocked);
         }},
        {"its status counts it, without bytes", "bert", [] { return 200; }, 200,
         [] {
             const auto status = GetFileSyncStatus();
             EXPECT_EQ(status.filesLeftToDownload, 1);
             EXPECT_EQ(status.bytesLeftToDownload, 0);
         }},
        {"a sync brings it, emptied", "bert", sync, 200, [&] { holds("empty.txt", ""); }},
        {"rename it", "anna",
         [] {
             int code = 0;
             RenameFile("empty.txt", "moved.txt", code);
             return code;
         },
         200, [&] { EXPECT_EQ(GetFileRevision("moved.txt"), 4u); }},
        {"a sync follows the rename", "bert", sync, 200,
         [&] {
             holds("moved.txt", "");
             EXPECT_FALSE(fs::exists(w.folder() / "empty.txt"));
         }},
        {"remove it", "anna", [&] { return call(RemoveFile, "moved.txt"); }, 200,
         [&] { EXPECT_FALSE(FileExistsInProject("moved.txt")); }},
        {"a sync follows the delete", "bert", sync, 200,
         [&] { EXPECT_FALSE(fs::exists(w.folder() / "moved.txt")); }},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        w.as(step.who);
        EXPECT_EQ(step.act(), step.code);
        if (step.check) {
            step.check();
        }
    }
}

// What a process opening the store does to its temporary folder: whatever no writer holds locked
// is a killed transfer's leftover and goes. Done here over and over, as many processes would.
void sweep_as_opening_processes_do(const fs::path& folder, const std::atomic<bool>& done)
{
    while (!done) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            remove_unless_held(it->path());
        }
    }
}

// Two users store a new file under one name at the same moment, each from a folder of their own,
// while other processes open the store: one takes the name and the other is refused, round after
// round, and a staged upload is never swept away from under its writer.
TEST(Uploads, OfOneNewNameAtOnceAnswerCreatedAndConflict)
{
    World w;
    const auto anna = w.services_.at("anna");
    const auto bert = w.services_.at("bert");
    std::atomic<bool> done{false};
    // A team server's uploads are staged on the server, out of other processes' reach.
    std::thread sweeper([&] {
        if (!World::team) {
            sweep_as_opening_processes_do(w.store_ / "blobs" / "tmp", done);
        }
    });
    std::map<std::pair<int, int>, int> outcomes;
    for (int round = 0; round < 100; ++round) {
        const auto name = "race/" + std::to_string(round) + ".txt";
        for (const auto* user : {"anna", "bert"}) {
            fs::create_directories(w.folder(user) / "race");
            std::ofstream(w.folder(user) / name) << user << " " << round;
        }
        int annaCode = 0;
        int bertCode = 0;
        const VyrCldapi::String file(std::u16string(name.begin(), name.end()));
        std::thread other([&] { bert->UploadFile(file, bertCode); });
        anna->UploadFile(file, annaCode);
        other.join();
        outcomes[std::minmax(annaCode, bertCode)] += 1;
    }
    done = true;
    sweeper.join();
    EXPECT_EQ(outcomes, (std::map<std::pair<int, int>, int>{{{201, 409}, 100}}));
}

} // namespace
} // namespace vyr::cld::local::test

namespace vyr::cld::local::test {
namespace {

TEST(SyncWorker, SurvivesTheHostLettingGoOfTheServiceInsideACallback)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    std::weak_ptr<VyrCldapi::ICld_Integration> carl;
    {
        auto service = w.open("carl");
        carl = service;
        VyrCldapi::Cld_Integration::Install(std::move(service));
    }
    ASSERT_TRUE(SetProjectAndPartition(w.projectId, "", w.partitionId, (w.root_ / "work-carl").string(), "", ""));
    SetCallbacks([](vyr::cld::ProgressEventType, double, const std::string&) {
        VyrCldapi::Cld_Integration::Install(nullptr); // the worker's pass now holds the last reference
    });
    StartSyncDir();
    for (int i = 0; i < 500 && !carl.expired(); ++i) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(carl.expired());
    std::this_thread::sleep_for(50ms); // the worker thread ends on its own
}

} // namespace
} // namespace vyr::cld::local::test

namespace vyr::cld::local::test {
namespace {

TEST(UserDirectory, HoldsAUsersOwnFilesAcrossWorkingFolders)
{
    World w;
    int code = 0;
    const auto tag = CreateUserDirectoryTag(1, code).value();
    const auto mine = w.root_ / "mine-anna";
    ASSERT_TRUE(SetUserDirectory(tag.id, mine.string()));
    std::ofstream(mine / "draft.txt") << "draft";
    UploadFile((mine / "draft.txt").string(), code);
    EXPECT_EQ(code, 201);
    EXPECT_FALSE(FileExistsInProject("draft.txt")) << "not a file of the partition";

    w.as("bert");
    EXPECT_TRUE(GetUserDirectoryTags(code)->empty());

    w.services_["anna"] = w.open("anna"); // anna on another machine
    w.select("anna");
    const auto elsewhere = w.root_ / "mine-anna-2";
    ASSERT_TRUE(SetUserDirectory(tag.id, elsewhere.string()));
    EXPECT_TRUE(GetUserDirectoryFiles(std::nullopt, std::nullopt));
    std::ifstream in(elsewhere / "draft.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "draft");
}

// What bert's folder holds against the store, and what is left to download: anna stored a.txt
// (3 bytes) and sub/b.txt (5 bytes); bert fetched both unless the row says otherwise.
struct Standing {
    const char* name;
    bool fetched;
    std::function<void(World&)> change; // runs as bert; switches users itself
    std::int64_t files, bytes;
};

const auto as_anna = [](World& w, const std::function<void()>& body) {
    w.as("anna");
    body();
    w.as("bert");
};
const auto remove_both = [](World& w) {
    fs::remove(w.folder() / "a.txt");
    fs::remove(w.folder() / "sub" / "b.txt");
};

const Standing standings[] = {
    {"never fetched", false, [](World&) {}, 2, 8},
    {"in step", true, [](World&) {}, 0, 0},
    {"new revision in the store", true, [](World& w) { as_anna(w, [&] { w.stored("a.txt", "aaaaaaa"); }); }, 1, 7},
    {"renamed in the store", true,
     [](World& w) {
         as_anna(w, [] {
             int code = 0;
             RenameFile("a.txt", "c.txt", code);
         });
     },
     1, 3},
    {"deleted in the store", true,
     [](World& w) {
         as_anna(w, [] {
             int code = 0;
             RemoveFile("a.txt", code);
         });
     },
     0, 0},
    {"removed locally, one in a subfolder", true, remove_both, 2, 8},
    {"removed locally, one ignored by name", true,
     [](World& w) {
         remove_both(w);
         SetFileIgnoreFilter({"b.txt"});
     },
     1, 3},
    {"never fetched, a folder ignored", false, [](World&) { SetDirectoryIgnoreFilter({"sub"}); }, 1, 3},
    {"subfolder removed", true, [](World& w) { fs::remove_all(w.folder() / "sub"); }, 1, 5},
    // A link leads out of the working folder: what lies there is not the folder's to count.
    {"subfolder replaced by a link leading out", true,
     [](World& w) {
         fs::remove_all(w.folder() / "sub");
         fs::create_directories(w.root_ / "elsewhere");
         if (!World::link_folder(w.root_ / "elsewhere", w.folder() / "sub")) {
             GTEST_SKIP() << World::no_links;
         }
     },
     0, 0},
};

class SyncStatus : public testing::TestWithParam<Standing> {};

TEST_P(SyncStatus, CountsWhatASyncWouldBring)
{
    World w;
    w.stored("a.txt", "aaa");
    w.stored("sub/b.txt", "bbbbb");
    w.as("bert");
    if (GetParam().fetched) {
        ASSERT_TRUE(GetProjectFiles(std::nullopt, std::nullopt));
    }
    GetParam().change(w);
    if (IsSkipped()) {
        return;
    }
    const auto status = GetFileSyncStatus();
    EXPECT_EQ(std::pair(status.filesLeftToDownload, status.bytesLeftToDownload),
              std::pair(GetParam().files, GetParam().bytes));
}

INSTANTIATE_TEST_SUITE_P(Folders, SyncStatus, testing::ValuesIn(standings), row_name<Standing>);

vyr::cld::LockStatus lock_of(const std::string& file)
{
    std::string id, displayName, principalName, since;
    return GetLockStatus(file, id, displayName, principalName, since);
}

// Status queries answer from what the store told the session lately, a list of the space's files
// once it asks about several: its own changes show at once, another user's within a second or so
// however often the session asks meanwhile.
TEST(StatusQueries, ShowTheSessionsOwnChangesAtOnceAndAnotherUsersSoon)
{
    World w;
    const std::vector<std::string> files{"a.txt", "b.txt", "c.txt", "d.txt", "e.txt"};
    for (const auto& file : files) {
        w.stored(file, "revision 1");
    }
    const auto pass = [&] {
        for (const auto& file : files) {
            static_cast<void>(FileExistsInProject(file));
        }
    };
    const struct {
        const char* name;
        const char* user; // who changes the file
        std::function<void()> change;
        std::function<bool()> seen; // by anna
    } changes[] = {
        {"own lock", "anna", [] { int code = 0; LockFile("a.txt", code); },
         [] { return lock_of("a.txt") == vyr::cld::LockStatus::LockedByMe; }},
        {"own upload", "anna", [&w] { w.stored("b.txt", "revision 2"); }, [] { return GetFileRevision("b.txt") == 2u; }},
        {"own delete", "anna", [] { int code = 0; RemoveFile("c.txt", code); },
         [] { return !FileExistsInProject("c.txt"); }},
        {"another's lock", "bert", [] { int code = 0; LockFile("d.txt", code); },
         [] { return lock_of("d.txt") == vyr::cld::LockStatus::LockedByOther; }},
        {"another's delete", "bert", [] { int code = 0; RemoveFile("e.txt", code); },
         [] { return !FileExistsInProject("e.txt") && GetFileId("e.txt").value_or("").empty(); }},
    };
    for (const auto& row : changes) {
        pass();
        w.as(row.user);
        row.change();
        w.as("anna");
        const bool own = std::string(row.user) == "anna";
        const auto changed = std::chrono::steady_clock::now();
        while (!row.seen() && !own && std::chrono::steady_clock::now() - changed < 5s) {
            std::this_thread::sleep_for(20ms);
        }
        EXPECT_TRUE(row.seen()) << row.name;
        EXPECT_LT(std::chrono::steady_clock::now() - changed, 2500ms) << row.name;
    }
}

} // namespace
} // namespace vyr::cld::local::test
