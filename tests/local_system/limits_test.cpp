// Limits and repeats across processes: a conflict told once however many processes meet it, and
// writes that meet a full disk or the file-size limit answer 507 and leave nothing behind.
#include "system.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>

namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;
using namespace vyr::cld::test;

std::size_t temporaries(const fs::path& folder)
{
    std::size_t found = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        found += entry.path().filename().string().starts_with(".vyrcld-") ? 1U : 0U;
    }
    return found;
}

TEST(Conflicts, AreToldOncePerRevisionHoweverManyProcessesMeetThem)
{
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "anna", "Shared", temp.path() / "anna", {{"plan.txt", "revision 1"}}), "");
    const auto bert_pass = [&] {
        return in_child([&] {
            Installed service(store, "bert");
            select_project("Shared", temp.path() / "bert");
            api::GetProjectFiles(std::nullopt, std::nullopt);
            return std::string();
        });
    };
    ASSERT_EQ(bert_pass(), "");
    write_file(temp.path() / "bert" / "plan.txt", "bert's local change");
    ASSERT_EQ(in_child([&] {
                  Installed service(store, "anna");
                  select_project("Shared", temp.path() / "anna");
                  write_file(temp.path() / "anna" / "plan.txt", "revision 2");
                  int code = 0;
                  api::UploadFile("plan.txt", code);
                  return code == 200 ? std::string() : "upload answered " + std::to_string(code);
              }),
              "");
    for (int pass = 0; pass < 3; ++pass) {
        ASSERT_EQ(bert_pass(), "");
    }
    EXPECT_EQ(in_child([&] {
                  Installed service(store, "bert");
                  const auto events = api::GetStatusEvents();
                  const auto conflicts = std::count_if(events.begin(), events.end(), [](const auto& e) {
                      return e.type == vyr::cld::StatusEventType::Download && e.status == 409;
                  });
                  return conflicts == 1 ? std::string() : std::to_string(conflicts) + " conflict events";
              }),
              "");
    EXPECT_EQ(read_file(temp.path() / "bert" / "plan.txt"), "bert's local change");
}

TEST(FileSizeLimit, ADatabaseWriteAnswers507AndAnUploadLeavesNoTemporaryFile)
{
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "writer", "Limit", temp.path() / "writer", {{"plan.txt", "revision 1"}}), "");
    EXPECT_EQ(in_child([&] {
                  Installed service(store, "writer");
                  select_project("Limit", temp.path() / "writer");
                  write_file(temp.path() / "writer" / "big.bin", std::string(256 << 10, 'x'));
                  // A host ignores the signal, as a library may not change how its process handles it.
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{1024, 1024};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  int lock = 0;
                  int upload = 0;
                  api::LockFile("plan.txt", lock);
                  api::UploadFile("big.bin", upload);
                  return std::to_string(lock) + " " + std::to_string(upload);
              }),
              "507 507");
    EXPECT_EQ(temporaries(temp.path()), 0u);
    EXPECT_EQ(integrity_problems(store), std::vector<std::string>{});
}

TEST(FileSizeLimit, TheWorkerTellsADownloadItCannotWriteOnce)
{
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "writer", "Limit", temp.path() / "writer",
                           {{"big.bin", std::string(256 << 10, 'b')}}),
              "");
    EXPECT_EQ(in_child([&] {
                  Installed service(store, "reader");
                  select_project("Limit", temp.path() / "reader");
                  signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{64 << 10, 64 << 10};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  api::StartSyncDir();
                  std::string answers;
                  for (int wait = 0; wait < 2; ++wait) {
                      int code = 0;
                      api::WaitForAllTasks(std::chrono::milliseconds(300), code);
                      answers += std::to_string(code) + " ";
                  }
                  api::StopSyncDir();
                  const auto events = api::GetStatusEvents();
                  return answers + std::to_string(std::count(events.begin(), events.end(),
                                                             vyr::cld::StatusEvent{vyr::cld::StatusEventType::Download,
                                                                                   507, "big.bin"}));
              }),
              "408 408 1");
    EXPECT_EQ(temporaries(temp.path()), 0u);
}

TEST(FileSizeLimit, AQueuedUploadThatCannotBeWrittenStaysQueued)
{
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "writer", "Limit", temp.path() / "writer", {}), "");
    EXPECT_EQ(in_child([&] {
                  Installed service(store, "writer");
                  select_project("Limit", temp.path() / "writer");
                  write_file(temp.path() / "writer" / "field.bin", std::string(256 << 10, 'f'));
                  api::SetStartedInFieldMode(true);
                  int code = 0;
                  api::UploadFile("field.bin", code);
                  signal(SIGXFSZ, SIG_IGN);
                  rlimit limit{64 << 10, RLIM_INFINITY};
                  setrlimit(RLIMIT_FSIZE, &limit);
                  api::SetStartedInFieldMode(false);
                  std::string answers = std::to_string(code) + " " +
                                        std::to_string(api::GetFileSyncStatus().filesLeftToUpload) + " ";
                  limit.rlim_cur = RLIM_INFINITY;
                  setrlimit(RLIMIT_FSIZE, &limit);
                  api::SetStartedInFieldMode(true);
                  api::SetStartedInFieldMode(false);
                  return answers + std::to_string(api::GetFileSyncStatus().filesLeftToUpload) + " " +
                         std::to_string(api::FileExistsInProject("field.bin"));
              }),
              "202 1 0 1");
}

// Mounts a tmpfs of `size` at `folder` in a mount namespace of the calling (child) process alone.
std::string small_disk(const fs::path& folder, const char* size)
{
    if (::unshare(CLONE_NEWNS) != 0) {
        const auto uid = ::getuid();
        const auto gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            return "skip";
        }
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return "skip";
    }
    fs::create_directories(folder);
    const std::string options = std::string("size=") + size;
    return ::mount("tmpfs", folder.c_str(), "tmpfs", 0, options.c_str()) == 0 ? "" : "skip";
}

TEST(FullDisk, TheRealErrorAnswers507ForBlobsWorkingCopiesAndTheDatabase)
{
    TempFolder temp;
    const auto answer = in_child([&] {
        // The store and the working folder each on a small disk of its own.
        const auto store = temp.path() / "store-disk" / "store";
        const auto work = temp.path() / "work-disk";
        for (const auto& [folder, size] : {std::pair{store.parent_path(), "1m"}, std::pair{work, "2m"}}) {
            if (const auto problem = small_disk(folder, size); !problem.empty()) {
                return problem;
            }
        }
        const auto fill = [](const fs::path& file) {
            std::ofstream filler(file, std::ios::binary);
            for (const std::string block(16 << 10, 'f'); filler.write(block.data(), static_cast<std::streamsize>(block.size()));) {
            }
        };
        std::string answers;
        int code = 0;
        {
            Installed service(store, "writer");
            create_project("Full");
            select_project("Full", work);
            write_file(work / "plan.txt", "revision 1");
            api::UploadFile("plan.txt", code);
            answers += std::to_string(code);
            // A blob larger than the store's disk.
            write_file(work / "big.bin", std::string(3 << 19, 'b'));
            api::UploadFile("big.bin", code);
            answers += " " + std::to_string(code);
            fs::remove(work / "big.bin");
        }
        {
            Installed service(store, "other");
            select_project("Full", temp.path() / "other");
            api::DownloadFile("plan.txt", code);
            write_file(temp.path() / "other" / "plan.txt", "revision 2");
            api::UploadFile("plan.txt", code);
        }
        Installed service(store, "writer");
        select_project("Full", work);
        // A download over the working copy on a full disk, then a write of the database on one.
        fill(work / "filler");
        api::DownloadFile("plan.txt", code);
        answers += " " + std::to_string(code);
        fill(store.parent_path() / "filler");
        api::LockFile("plan.txt", code);
        answers += " " + std::to_string(code);
        return answers + " " + read_file(work / "plan.txt") + " " + std::to_string(temporaries(temp.path()));
    });
    if (answer == "skip") {
        GTEST_SKIP() << "no mount namespace for a small disk here";
    }
    EXPECT_EQ(answer, "201 507 507 507 revision 1 0");
}

} // namespace
