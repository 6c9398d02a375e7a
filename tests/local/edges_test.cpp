// The service at its edges: files lost locally, content damaged under the store, a revision stored
// by another user in the middle of an upload, what killed transfers leave, and a store that is gone.
#include "held.h"
#include "world.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;
using vyr::cld::StatusEvent;
using vyr::cld::StatusEventType;
using namespace std::chrono_literals;

std::size_t count(const std::vector<StatusEvent>& events, StatusEventType type, int status)
{
    return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](const StatusEvent& event) {
        return event.type == type && event.status == status;
    }));
}

int wait_for_tasks()
{
    int code = 0;
    WaitForAllTasks(5s, code);
    return code;
}

// The blob that holds `content`.
fs::path blob_of(const World& w, const std::string& content)
{
    for (const auto& entry : fs::recursive_directory_iterator(w.store_ / "blobs")) {
        if (entry.is_regular_file() && entry.path().parent_path().filename() != "tmp") {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            if (text.str() == content) {
                return entry.path();
            }
        }
    }
    ADD_FAILURE() << "no blob holds " << content;
    return {};
}

// Anna stores plan.dwg and bert brings it; anna is the current user.
void both_hold_revision_1(World& w)
{
    w.stored("plan.dwg", "revision 1");
    w.as("bert");
    EXPECT_TRUE(GetProjectFiles(std::nullopt, std::nullopt));
    w.as("anna");
}

// A file of the working folder removed locally, however it came to be missing.
struct Lost {
    const char* name;
    std::function<void(World&)> lose;
    const char* file; // the stored name that must come back
    std::function<void(World&)> bring;
};

const auto by_worker = [](World&) {
    StartSyncDir();
    EXPECT_EQ(wait_for_tasks(), 200);
    StopSyncDir();
};
const auto by_request = [](World&) { EXPECT_TRUE(GetProjectFiles(std::nullopt, std::nullopt)); };

const Lost lost[] = {
    {"removed by hand, sync worker", [](World& w) { fs::remove(w.folder() / "plan.dwg"); }, "plan.dwg", by_worker},
    {"removed by hand, explicit request", [](World& w) { fs::remove(w.folder() / "plan.dwg"); }, "plan.dwg",
     by_request},
    // The state a rename killed between the store's commit and the local move left before: the
    // store on the new name, the working copy still on the old one.
    {"renamed in the store, local move undone",
     [](World& w) {
         int code = 0;
         RenameFile("plan.dwg", "moved.dwg", code);
         ASSERT_EQ(code, 200);
         fs::rename(w.folder() / "moved.dwg", w.folder() / "plan.dwg");
     },
     "moved.dwg", by_worker},
};

class LostLocally : public testing::TestWithParam<Lost> {};

TEST_P(LostLocally, AFileTheFolderAgreedOnIsBroughtBackAndCountedUntilThen)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    GetParam().lose(w);
    const auto status = GetFileSyncStatus();
    EXPECT_EQ(status.filesLeftToDownload, 1);
    EXPECT_EQ(status.bytesLeftToDownload, 10);
    GetParam().bring(w);
    EXPECT_EQ(w.read(GetParam().file), "revision 1");
    EXPECT_EQ(GetFileSyncStatus().filesLeftToDownload, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, LostLocally, testing::ValuesIn(lost), row_name<Lost>);

struct Damage {
    const char* name;
    std::function<void(const fs::path& blob)> damage;
};

const Damage damages[] = {
    {"cut short", [](const fs::path& blob) { fs::resize_file(blob, 3); }},
    {"changed in place", [](const fs::path& blob) { std::ofstream(blob, std::ios::in | std::ios::binary) << "X"; }},
    {"grown", [](const fs::path& blob) { std::ofstream(blob, std::ios::app | std::ios::binary) << "tail"; }},
};

class DamagedBlob : public testing::TestWithParam<Damage> {};

TEST_P(DamagedBlob, IsNeverServedAndIsToldOnceUntilAnUploadRepairsIt)
{
    World w;
    both_hold_revision_1(w);
    w.stored("plan.dwg", "revision 2");
    GetParam().damage(blob_of(w, "revision 2"));
    w.as("bert");
    GetStatusEvents();

    int code = 0;
    DownloadFile("plan.dwg", code);
    EXPECT_EQ(code, 500);
    // The working copy is left as it was, and nothing half-written is left beside it.
    EXPECT_EQ(w.read("plan.dwg"), "revision 1");
    EXPECT_EQ(std::distance(fs::directory_iterator(w.folder()), fs::directory_iterator()), 1);
    // The worker leaves it for a repair instead of reading it on every pass, and the host hears once.
    StartSyncDir();
    EXPECT_EQ(wait_for_tasks(), 200);
    EXPECT_EQ(wait_for_tasks(), 200);
    StopSyncDir();
    EXPECT_EQ(w.read("plan.dwg"), "revision 1");
    EXPECT_EQ(CheckDownSyncFileExceptions(), std::vector<std::string>{"plan.dwg"});
    EXPECT_EQ(count(GetStatusEvents(), StatusEventType::CorruptFile, 500), 1u);

    // Whoever stores the same bytes again repairs the blob.
    w.as("anna");
    w.write("again.dwg", "revision 2");
    UploadFile("again.dwg", code);
    ASSERT_EQ(code, 201);
    w.as("bert");
    DownloadFile("plan.dwg", code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(w.read("plan.dwg"), "revision 2");
}

INSTANTIATE_TEST_SUITE_P(Blobs, DamagedBlob, testing::ValuesIn(damages), row_name<Damage>);

TEST(Upload, DecidesAgainInItsWritingTransactionWhenAnotherUserStoredMeanwhile)
{
    World w;
    both_hold_revision_1(w);
    w.write("plan.dwg", "anna's revision 2");
    bool raced = false;
    // The progress callback runs while anna's bytes are copied, between the two decisions.
    SetCallbacks([&](vyr::cld::ProgressEventType, double, const std::string&) {
        if (!std::exchange(raced, true)) {
            w.as("bert");
            w.stored("plan.dwg", "bert's revision 2");
            w.as("anna");
        }
    });
    int code = 0;
    UploadFile("plan.dwg", code);
    EXPECT_TRUE(raced);
    EXPECT_EQ(code, 409);
    EXPECT_EQ(GetFileRevision("plan.dwg"), 2u);
    w.as("bert");
    EXPECT_EQ(GetFileRevision("plan.dwg"), 2u);
    EXPECT_EQ(w.read("plan.dwg"), "bert's revision 2");
}

// An upload reads the file once, copying it aside while it hashes it; the copy is kept only when
// the store takes new content.
struct Reading {
    const char* name;
    std::function<void(World&)> before; // anna holds revision 1 of plan.dwg, bert too
    const char* content;
    int code;
    std::size_t blobs; // new in the store
};

const Reading readings[] = {
    {"new content", [](World&) {}, "revision 2", 200, 1},
    {"unchanged content", [](World&) {}, "revision 1", 200, 0},
    {"refused, another user stored first",
     [](World& w) {
         w.as("bert");
         w.stored("plan.dwg", "bert's revision 2");
         w.as("anna");
     },
     "anna's revision 2", 409, 0},
    {"refused, locked by another",
     [](World& w) {
         w.as("bert");
         int code = 0;
         LockFile("plan.dwg", code);
         w.as("anna");
     },
     "anna's revision 2", 409, 0},
};

class UploadReading : public testing::TestWithParam<Reading> {};

TEST_P(UploadReading, KeepsTheCopyOnlyWhenTheStoreTakesIt)
{
    World w;
    both_hold_revision_1(w);
    GetParam().before(w);
    const auto blobs = [&] {
        std::size_t kept = 0;
        for (const auto& entry : fs::recursive_directory_iterator(w.store_ / "blobs")) {
            kept += entry.is_regular_file() && entry.path().parent_path().filename() != "tmp" ? 1 : 0;
        }
        return kept;
    };
    const auto before = blobs();
    w.write("plan.dwg", GetParam().content);
    int code = 0;
    UploadFile("plan.dwg", code);
    EXPECT_EQ(code, GetParam().code);
    EXPECT_EQ(blobs() - before, GetParam().blobs);
    EXPECT_TRUE(fs::is_empty(w.store_ / "blobs" / "tmp"));
    if (GetParam().code == 200) {
        EXPECT_EQ(fs::file_size(blob_of(w, GetParam().content)), std::string(GetParam().content).size());
    }
}

INSTANTIATE_TEST_SUITE_P(Upload, UploadReading, testing::ValuesIn(readings), row_name<Reading>);

TEST(Sync, AFileRenamedOntoADeletedOnesNameFollowsInOnePassWithoutAConflict)
{
    World w;
    w.stored("x.txt", "x");
    w.stored("y.txt", "y");
    w.as("bert");
    EXPECT_TRUE(GetProjectFiles(std::nullopt, std::nullopt));
    w.as("anna");
    int code = 0;
    RemoveFile("y.txt", code);
    RenameFile("x.txt", "y.txt", code);
    ASSERT_EQ(code, 200);
    w.as("bert");
    GetStatusEvents();
    EXPECT_TRUE(GetProjectFiles(std::nullopt, std::nullopt));
    EXPECT_TRUE(CheckDownSyncFileExceptions().empty());
    EXPECT_EQ(count(GetStatusEvents(), StatusEventType::Download, 409), 0u);
    EXPECT_EQ(w.read("y.txt"), "x");
    EXPECT_FALSE(fs::exists(w.folder() / "x.txt"));
}

TEST(Temporaries, WhatAKilledTransferLeftIsSweptAndWhatIsBeingWrittenIsNot)
{
    World w;
    w.stored("sub/plan.dwg", "revision 1");
    const auto make = [](const fs::path& file) { std::ofstream(file) << "partial"; };
    const auto left = w.folder() / "sub" / ".vyrcld-left12";
    const auto held = w.folder() / ".vyrcld-held12";
    const auto blob = w.store_ / "blobs" / "tmp" / ".vyrcld-blob12";
    const auto other = w.folder() / ".vyrcld-journal"; // ours, but not a transfer's
    make(other);
    make(left);
    make(held);
    make(blob);
    {
        const HeldFile writer(held);
        ASSERT_TRUE(writer.held());

        StartSyncDir();
        EXPECT_EQ(wait_for_tasks(), 200);
        StopSyncDir();
        EXPECT_FALSE(fs::exists(left));
        EXPECT_TRUE(fs::exists(held));
        EXPECT_TRUE(fs::exists(other));
    }
    // A store opened again sweeps its own.
    EXPECT_TRUE(fs::exists(blob));
    static_cast<void>(open_service(w.options("carl")));
    EXPECT_FALSE(fs::exists(blob));
}

TEST(Store, ThatAHostKnowsIsNeverSilentlyCreatedAgain)
{
    World w;
    auto options = w.options("anna");
    options.createStore = false;
    EXPECT_NO_THROW(static_cast<void>(open_service(options)));
    w.services_.clear();
    VyrCldapi::Cld_Integration::Install(nullptr);

    const auto moved = w.root_ / "moved";
    fs::rename(w.store_, moved);
    EXPECT_THROW(static_cast<void>(open_service(options)), VyrCldapi::Exception);
    EXPECT_FALSE(fs::exists(w.store_));

    // An emptied database: the folder is there, its records are not.
    fs::create_directories(w.store_ / "blobs");
    std::ofstream(w.store_ / "store.sqlite").flush();
    EXPECT_THROW(static_cast<void>(open_service(options)), VyrCldapi::Exception);
    EXPECT_EQ(fs::file_size(w.store_ / "store.sqlite"), 0u) << "refused without a write";
    options.createStore = true;
    EXPECT_NO_THROW(static_cast<void>(open_service(options)));
}

TEST(HostileFolders, AWorkingFolderMayNotHoldTheStoreOrLieInsideIt)
{
    World w;
    for (const auto& folder : {w.store_, w.store_ / "blobs", w.root_}) {
        EXPECT_FALSE(SetProjectAndPartition(w.projectId, "", w.partitionId, folder.string(), "", "")) << folder;
    }
    // Nor the journals, which the worker would otherwise upload as the folder's own files.
    auto options = w.options("carl");
    options.journals = w.root_ / "work-carl" / "journals";
    w.services_["carl"] = open_service(options);
    w.as("carl");
    EXPECT_FALSE(SetProjectAndPartition(w.projectId, "", w.partitionId, (w.root_ / "work-carl").string(), "", ""));
}

// A host's absolute path names the working folder as its file system compares names: its own
// spelling with either separator, and in another case only where the system ignores case.
TEST(AbsolutePaths, NameTheWorkingFolderAsItsFileSystemComparesNames)
{
    World w;
    w.write("plan.dwg", "revision 1");
    const auto other_case = w.root_ / "WORK-ANNA";
    const bool ignores_case = fs::exists(other_case);
    const struct {
        std::string path;
        int code;
    } cases[] = {
        {(w.folder() / "plan.dwg").string(), 201},
        {(w.folder() / "plan.dwg").generic_string(), 200},
        {(other_case / "plan.dwg").string(), ignores_case ? 200 : 400},
    };
    for (const auto& c : cases) {
        int code = 0;
        UploadFile(c.path, code);
        EXPECT_EQ(code, c.code) << c.path;
    }
    EXPECT_EQ(GetFileRevision("plan.dwg"), 1u);
}

} // namespace
} // namespace vyr::cld::local::test
