// The store at its edges: a disk that is full while an upload is written, and a file name in a
// host thread's legacy code page seen by a host in UTF-8.
#include "system.h"

#include "support/locales.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;
using namespace vyr::cld::test;

const std::string first_revision = "the first revision\n";

struct FullDiskCase {
    const char* what;
    const char* file;
    bool known; // the store already has revision 1 of the file
};

class FullDisk : public testing::TestWithParam<FullDiskCase> {};

TEST_P(FullDisk, AnUploadThatCannotBeWrittenAnswersAnErrorAndLeavesTheStoreWhole)
{
    const FullDiskCase& c = GetParam();
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "writer", "Disk", temp.path() / "writer", {{"known.bin", first_revision}}), "");

    const std::string answer = in_child([&] {
        Installed service(store, "writer");
        select_project("Disk", temp.path() / "writer");
        write_file(temp.path() / "writer" / c.file, std::string(4 << 20, 'x'));
        // Every file this process writes may now grow to 1 MiB only, as on a nearly full disk.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1 << 20, 1 << 20};
        setrlimit(RLIMIT_FSIZE, &limit);
        int responsecode = 0;
        const bool taken = api::UploadFile(c.file, responsecode);
        return std::to_string(taken) + " " + std::to_string(responsecode);
    });
    EXPECT_EQ(answer, "1 507") << c.what;

    EXPECT_EQ(in_child([&] {
                  if (const auto problems = integrity_problems(store); !problems.empty()) {
                      return problems.front();
                  }
                  if (const auto partial = partial_blobs(store); !partial.empty()) {
                      return "partial blob " + partial.front();
                  }
                  Installed service(store, "reader");
                  select_project("Disk", temp.path() / "reader");
                  if (!c.known) {
                      return std::string(api::FileExistsInProject(c.file) ? "the new file is in the project" : "");
                  }
                  int responsecode = 0;
                  api::DownloadFile(c.file, responsecode);
                  if (api::GetFileRevision(c.file) != 1u || read_file(temp.path() / "reader" / c.file) != first_revision) {
                      return "revision 1 was not kept whole (" + std::to_string(responsecode) + ")";
                  }
                  return std::string();
              }),
              "")
        << c.what;
}

INSTANTIATE_TEST_SUITE_P(Uploads, FullDisk,
                         testing::Values(FullDiskCase{"a new revision of a known file", "known.bin", true},
                                         FullDiskCase{"a new file", "new.bin", false}));

TEST(ThreadCodePages, ANameAHostThreadWritesInLatin1ReachesAUtf8HostAsTheSameName)
{
    // Loaded here, on the main thread, before any child or thread exists.
    const auto latin1 = named_locale("en_US.ISO-8859-1");
    const auto utf8 = named_locale("en_US.UTF-8");
    const std::string latin1_name = "Bj\xF8rn \xE6\xF8\xE5.txt";
    const std::string utf8_name = "Bj\xC3\xB8rn \xC3\xA6\xC3\xB8\xC3\xA5.txt";
    TempFolder temp;
    const auto store = temp.path() / "store";

    EXPECT_EQ(in_child([&] {
                  Installed service(store, "latin");
                  create_project("Names");
                  select_project("Names", temp.path() / "latin");
                  // The file system holds names in UTF-8, whatever the host's code page.
                  write_file(temp.path() / "latin" / utf8_name, "hello");
                  std::string problem;
                  std::thread host([&] {
                      ThreadLocale locale(latin1);
                      int responsecode = 0;
                      api::UploadFile(latin1_name, responsecode);
                      const auto events = api::GetStatusEvents();
                      const bool named = std::any_of(events.begin(), events.end(),
                                                     [&](const auto& e) { return e.responseId == latin1_name; });
                      if (responsecode != 201 || !named) {
                          problem = "upload answered " + std::to_string(responsecode) + ", events named it " +
                                    std::to_string(named);
                      }
                  });
                  host.join();
                  return problem;
              }),
              "");

    EXPECT_EQ(in_child([&] {
                  Installed service(store, "utf8");
                  select_project("Names", temp.path() / "utf8");
                  std::string problem;
                  std::thread host([&] {
                      ThreadLocale locale(utf8);
                      api::StartSyncDir();
                      int responsecode = 0;
                      api::WaitForAllTasks(std::chrono::seconds(10), responsecode);
                      api::StopSyncDir();
                      if (api::GetFileRevision(utf8_name) != 1u ||
                          read_file(temp.path() / "utf8" / utf8_name) != "hello") {
                          problem = "the UTF-8 host does not see the file under its name";
                      }
                  });
                  host.join();
                  return problem;
              }),
              "");
}

} // namespace
