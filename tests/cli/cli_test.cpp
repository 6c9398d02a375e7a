// The command-line host: its reports, its state file, and a scripted session of two users through
// the real program on a real store.
#include "report.h"
#include "state.h"
#include "system.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>

namespace {

namespace fs = std::filesystem;
using namespace vyr::cld;
using namespace vyr::cld::cli;
using vyr::cld::test::TempFolder;

struct BarCase {
    ProgressEventType type;
    double progress;
    const char* line;
};

TEST(ProgressBar, DrawsTheShareDoneClampedToTheWhole)
{
    const BarCase cases[] = {
        {ProgressEventType::Upload, 0.0, "upload   [                    ]   0% a.txt"},
        {ProgressEventType::Download, 0.5, "download [##########          ]  50% a.txt"},
        {ProgressEventType::Upload, 1.0, "upload   [####################] 100% a.txt"},
        {ProgressEventType::Download, 7.5, "download [####################] 100% a.txt"},
        {ProgressEventType::Download, -1.0, "download [                    ]   0% a.txt"},
        {ProgressEventType::Download, std::nan(""), "download [                    ]   0% a.txt"},
    };
    for (const BarCase& c : cases) {
        EXPECT_EQ(ProgressBar::line(c.type, c.progress, "a.txt"), c.line) << c.progress;
    }
}

TEST(StateFile, IsFoundFromAnySubfolderAndKeepsTheSelection)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "work" / "deep" / "er");
    const State written{.folder = temp.path() / "work",
                        .store = temp.path() / "store",
                        .user = {"anna", "Anna Berg", "anna@example.org"},
                        .project = Selection{"p1", "Bridge"},
                        .partition = std::nullopt};
    write_state(written);

    for (const fs::path& from : {temp.path() / "work", temp.path() / "work" / "deep" / "er"}) {
        const auto found = find_state(from);
        ASSERT_TRUE(found) << from;
        EXPECT_EQ(found->folder, written.folder);
        EXPECT_EQ(found->store, written.store);
        EXPECT_EQ(found->user.principalName, "anna@example.org");
        EXPECT_EQ(found->project, written.project);
        EXPECT_EQ(found->partition, std::nullopt);
    }
    EXPECT_FALSE(find_state(temp.path()));
    EXPECT_FALSE(fs::exists(temp.path() / "work" / (std::string(state_file_name) + ".tmp")));
}

TEST(StateFile, ThatIsDamagedIsAUsageErrorNotACrash)
{
    TempFolder temp;
    for (const char* text : {"", "{", "[]", R"({"store": 1})", R"({"store": "s", "user": {"id": "a"}})"}) {
        vyr::cld::test::write_file(temp.path() / state_file_name, text);
        try {
            find_state(temp.path());
            ADD_FAILURE() << "accepted: " << text;
        }
        catch (const Failure& failure) {
            EXPECT_EQ(failure.exit_code, exit_usage) << text;
        }
    }
}

// One invocation of the program, and what it must answer.
struct Step {
    const char* folder; // run with -C this folder below the scratch folder
    const char* arguments;
    int exit_code;
    const char* says; // text that must appear in its output
};

TEST(CommandLine, TwoUsersShareAProjectAndEveryErrorEndsNonZero)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "elsewhere");
    const Step steps[] = {
        {".", "init anna --store store --user anna --name 'Anna Berg' --principal anna@example.org", 0, "Anna Berg"},
        {".", "init bjorn --store store --user bjorn --name 'Bjorn Dahl'", 0, "Bjorn Dahl"},
        {"elsewhere", "status", 2, "not a working folder"},
        {"anna", "lock plan.txt", 1, "(412)"},
        {"anna", "project create Bridge --number P-1", 0, "created project Bridge"},
        {"anna", "partition create Drawings", 2, "no project selected"},
        {"anna", "partition create --project Bridge Drawings", 0, "created partition Drawings"},
        {"anna", "use Nowhere", 2, "no project has the id or name 'Nowhere'"},
        {"anna", "use Bridge Drawings", 0, "using project Bridge"},
        {"anna", "project list", 0, "* Bridge"},
        {"anna", "upload plan.txt", 0, "upload plan.txt: created"},
        {"anna", "upload ../outside.txt", 1, "(400)"},
        {"anna", "download missing.txt", 1, "(404)"},
        {"bjorn", "use Bridge", 0, "partition Drawings"},
        {"bjorn", "sync --wait --timeout 10", 0, "pending: 0 files"},
        {"bjorn", "lock plan.txt", 0, "lock plan.txt: done"},
        {"anna", "lock plan.txt", 1, "conflict (409): locked by Bjorn Dahl <bjorn@local> since"},
        {"anna", "--json lock plan.txt", 1, "\"status\": \"LockedByOther\""},
        {"anna", "status plan.txt", 0, "revision 1  locked by Bjorn Dahl"},
        {"bjorn", "unlock --all", 0, "unlocked every file you held"},
        {"anna", "mv plan.txt plan-v1.txt", 0, "mv plan.txt: done"},
        {"anna", "--json events", 0, "\"type\": \"Rename\""},
        {"anna", "rm plan-v1.txt", 0, "rm plan-v1.txt: done"},
        {"anna", "unlock", 2, "name the files, or give --all"},
        {"anna", "frobnicate", 2, ""},
    };
    vyr::cld::test::write_file(temp.path() / "anna" / "plan.txt", "plan\n");
    for (const Step& step : steps) {
        const std::string command = "cd '" + temp.path().string() + "' && '" VYR_CLD_PROGRAM "' -C " + step.folder +
                                    ' ' + step.arguments + " 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        std::string output;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, got);
        }
        const int status = pclose(pipe);
        EXPECT_EQ(WEXITSTATUS(status), step.exit_code) << step.arguments << '\n' << output;
        EXPECT_NE(output.find(step.says), std::string::npos) << step.arguments << '\n' << output;
    }
    EXPECT_EQ(vyr::cld::test::read_file(temp.path() / "bjorn" / "plan.txt"), "plan\n");
}

} // namespace
