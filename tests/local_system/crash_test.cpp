// A writer process is killed with SIGKILL at a random moment while it uploads new revisions and
// renames a file back and forth, round after round. After each kill the store must open, pass
// SQLite's integrity check, hold every file at a whole revision (old or new, never a mix) and
// keep no partial blob.
#include "system.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;
using namespace vyr::cld::test;

constexpr int rounds = 25;
constexpr std::size_t documents = 3;
const std::string moving_a = "moving-a.bin";
const std::string moving_b = "moving-b.bin";

std::string document(std::size_t index) { return "doc-" + std::to_string(index) + ".bin"; }

// Generation `generation` of a file: a header naming it, then filler that depends on it, so a
// torn or mixed content is recognised. Large enough that an upload takes a moment.
std::string content(const std::string& name, long generation)
{
    std::string text = name + " generation " + std::to_string(generation) + "\n";
    std::minstd_rand filler(static_cast<std::minstd_rand::result_type>(generation * 7919 + 1));
    text.resize(256 * 1024);
    for (std::size_t i = text.find('\n') + 1; i < text.size(); ++i) {
        text[i] = static_cast<char>('a' + filler() % 26);
    }
    return text;
}

// The generation a whole content belongs to, or -1 when it is not one that `content` makes.
long generation_of(const std::string& name, const std::string& text)
{
    const std::string prefix = name + " generation ";
    if (text.rfind(prefix, 0) != 0) {
        return -1;
    }
    const long generation = std::stol(text.substr(prefix.size()));
    return text == content(name, generation) ? generation : -1;
}

// Uploads new generations and renames until killed; writes a byte to `ready` once it has the
// store open, so that the kill falls into the work and not into the start.
void writer(const fs::path& store, const fs::path& folder, int round, int ready)
{
    // A kill may leave a half-written working copy behind: start each round from the store's.
    fs::remove_all(folder);
    Installed service(store, "writer");
    select_project("Crash", folder);
    for (std::size_t index = 0; index < documents; ++index) {
        int responsecode = 0;
        api::DownloadFile(document(index), responsecode);
    }
    if (write(ready, "r", 1) != 1) {
        return;
    }
    for (long step = 0;; ++step) {
        const std::string name = document(static_cast<std::size_t>(step) % documents);
        write_file(folder / name, content(name, round * 100000L + step));
        int responsecode = 0;
        api::UploadFile(name, responsecode);
        const bool at_a = api::FileExistsInProject(moving_a);
        api::RenameFile(at_a ? moving_a : moving_b, at_a ? moving_b : moving_a, responsecode);
    }
}

struct Seen {
    std::uint64_t revision = 0;
    long generation = 0;
};

// Checks the store after a kill, as a fresh user with an empty working folder.
std::string check(const fs::path& store, const fs::path& folder, std::vector<Seen>& seen)
{
    if (const auto problems = integrity_problems(store); !problems.empty()) {
        return "integrity: " + problems.front();
    }
    if (const auto partial = partial_blobs(store); !partial.empty()) {
        return "partial blob " + partial.front();
    }
    fs::remove_all(folder);
    Installed service(store, "checker");
    select_project("Crash", folder);
    for (std::size_t index = 0; index < documents; ++index) {
        const std::string name = document(index);
        int responsecode = 0;
        if (!api::DownloadFile(name, responsecode) || responsecode != 200) {
            return name + ": download answered " + std::to_string(responsecode);
        }
        const auto revision = api::GetFileRevision(name);
        const long generation = generation_of(name, read_file(folder / name));
        if (!revision || generation < 0) {
            return name + ": no whole revision in the store";
        }
        // A revision never goes back, and a new revision always carries a new generation.
        const Seen& before = seen[index];
        if (*revision < before.revision || (*revision > before.revision) != (generation != before.generation)) {
            return name + ": revision " + std::to_string(*revision) + " does not match its content";
        }
        seen[index] = {*revision, generation};
    }
    if (api::FileExistsInProject(moving_a) == api::FileExistsInProject(moving_b)) {
        return "the renamed file is under both names or under none";
    }
    return "";
}

TEST(CrashSafety, AKilledWriterLeavesEveryFileAtAWholeRevision)
{
    TempFolder temp;
    const auto store = temp.path() / "store";
    std::vector<std::pair<std::string, std::string>> files;
    for (const std::string& name : {document(0), document(1), document(2), moving_a}) {
        files.emplace_back(name, content(name, 0));
    }
    ASSERT_EQ(seed_project(store, "setup", "Crash", temp.path() / "setup", files), "");

    std::mt19937 random(20261207);
    // An upload with its flushes takes tens of milliseconds, a rename somewhat less: the kill falls
    // anywhere in the first few operations.
    std::uniform_int_distribution<int> delay_ms(1, 250);
    std::vector<Seen> seen(documents, Seen{1, 0});
    int advanced = 0;
    for (int round = 1; round <= rounds; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = start_child([&] { writer(store, temp.path() / "writer", round, ready[1]); });
        close(ready[1]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1) << "round " << round << ": the writer did not start";
        close(ready[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms(random)));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "round " << round << ": the writer ended before it was killed";
        // The checker runs in its own process, so that this one never holds the store while forking.
        std::string answer = in_child([&] {
            const std::string problem = check(store, temp.path() / "checker", seen);
            std::string revisions;
            for (const Seen& s : seen) {
                revisions += std::to_string(s.revision) + ' ' + std::to_string(s.generation) + ' ';
            }
            return problem.empty() ? revisions : "FAIL " + problem;
        });
        ASSERT_NE(answer.rfind("FAIL ", 0), 0u) << "round " << round << ": " << answer;
        std::istringstream revisions(answer);
        for (Seen& s : seen) {
            const std::uint64_t before = s.revision;
            revisions >> s.revision >> s.generation;
            advanced += s.revision > before ? 1 : 0;
        }
    }
    // Else the kills all fell before the first upload, and the test proved nothing.
    EXPECT_GT(advanced, 0);
    std::cout << "crash safety: " << rounds << " writers killed at random; after each the store was whole and every"
              << " file at a whole revision; " << advanced << " of " << rounds * documents
              << " checks found a newer revision than the last; revisions reached";
    for (const Seen& s : seen) {
        std::cout << ' ' << s.revision;
    }
    std::cout << '\n';
}

} // namespace
