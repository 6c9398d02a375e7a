// The command-line host: its reports, its state file, and a scripted session of two users through
// the real program on a real store.
#include "report.h"
#include "state.h"
#include "text.h"
#include "support/locales.h"
#include "system.h"

#include <gtest/gtest.h>

#include <locale.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace vyr::cld;
using namespace vyr::cld::cli;
using vyr::cld::test::single_byte_locale;
using vyr::cld::test::TempFolder;
using vyr::cld::test::unconvertible_locale;

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

// How host text reads in each locale: what the bridge could pass on, what is printed and what goes
// to JSON.
struct TextCase {
    const char* locale;
    const char* text;
    bool representable;
    const char* escaped;
    const char* utf8;
};

TEST(HostText, IsEscapedAndConvertedAsTheBridgeReadsIt)
{
    const TextCase cases[] = {
        {"C.UTF-8", "plan \xC3\xA9.txt", true, "plan \xC3\xA9.txt", "plan \xC3\xA9.txt"},
        {"C.UTF-8", "a\\b", true, "a\\\\b", "a\\b"},
        {"C.UTF-8", "a\nb\x1B[2J\x7F", true, "a\\x0Ab\\x1B[2J\\x7F", "a\nb\x1B[2J\x7F"},
        {"C.UTF-8", "c1\xC2\x85\xC2\x9B", true, "c1\\u0085\\u009B", "c1\xC2\x85\xC2\x9B"},
        {"C.UTF-8", "tw\xFF.txt", false, "tw\\xFF.txt", "tw\\xFF.txt"},
        {"C.UTF-8", "\xEF\xBF\xBD", true, "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
        {"C.UTF-8", "sur\xED\xA0\x80", false, "sur\\xED\\xA0\\x80", "sur\\xED\\xA0\\x80"},
        {"C.UTF-8", "over\xC0\xAF", false, "over\\xC0\\xAF", "over\\xC0\\xAF"},
        {"C.UTF-8", "cut\xE2\x82", false, "cut\\xE2\\x82", "cut\\xE2\\x82"},
        {"C", "tw\xFF.txt", false, "tw\\xFF.txt", "tw\\xFF.txt"},
        {single_byte_locale, "caf\xE9\xFF", true, "caf\xE9\xFF", "caf\xC3\xA9\xC3\xBF"},
        {single_byte_locale, "c1\x85\x9B", true, "c1\\u0085\\u009B", "c1\xC2\x85\xC2\x9B"},
        {unconvertible_locale, "plain", false, "plain", "plain"},
        {unconvertible_locale, "caf\xE9", false, "caf\\xE9", "caf\\xE9"},
    };
    for (const TextCase& c : cases) {
        const vyr::cld::test::ThreadLocale locale(c.locale);
        EXPECT_EQ(representable(c.text), c.representable) << c.locale << ' ' << c.text;
        EXPECT_EQ(escaped(c.text), c.escaped) << c.locale << ' ' << c.text;
        EXPECT_EQ(to_utf8(c.text), c.utf8) << c.locale << ' ' << c.text;
        // What the bridge can read comes back from UTF-8 as it was; JSON always gets valid UTF-8.
        if (std::string back; c.representable) {
            EXPECT_TRUE(from_utf8(c.utf8, back) && back == c.text) << c.locale << ' ' << c.text;
        }
        EXPECT_TRUE(nlohmann::json::accept(nlohmann::json(to_utf8(escaped(c.text))).dump())) << c.text;
    }
    const vyr::cld::test::ThreadLocale latin1(single_byte_locale);
    std::string text;
    EXPECT_FALSE(from_utf8("\xE2\x82\xAC", text)) << "the euro sign is not Latin-1";
    EXPECT_EQ(ProgressBar::line(ProgressEventType::Upload, 1.0, "a\x1B\n"),
              "upload   [####################] 100% a\\x1B\\x0A");
}

TEST(StateFile, IsFoundFromAnySubfolderAndKeepsTheSelection)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "work" / "deep" / "er");
    // On a local store, and on a team server, whose token stays in its own file.
    for (const bool team : {false, true}) {
        const State written{.folder = temp.path() / "work",
                            .store = team ? fs::path() : temp.path() / "store",
                            .server = team ? "https://cld.example.org:8443" : "",
                            .tokenFile = team ? temp.path() / "anna.token" : fs::path(),
                            .user = {"anna", "Anna Berg", "anna@example.org"},
                            .project = Selection{"p1", "Bridge"},
                            .partition = std::nullopt};
        write_state(written);
        for (const fs::path& from : {temp.path() / "work", temp.path() / "work" / "deep" / "er"}) {
            const auto found = find_state(from);
            ASSERT_TRUE(found) << from;
            EXPECT_EQ(found->folder, written.folder);
            EXPECT_EQ(found->store, written.store);
            EXPECT_EQ(found->server, written.server);
            EXPECT_EQ(found->tokenFile, written.tokenFile);
            EXPECT_EQ(found->user.principalName, "anna@example.org");
            EXPECT_EQ(found->project, written.project);
            EXPECT_EQ(found->partition, std::nullopt);
        }
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
    const char* says;             // text that must appear in its output
    const char* absent = nullptr; // text that must not
    const char* before = nullptr; // a shell command run first in the scratch folder
};

// Runs each step as its own process under `environment` (variables for the program) and checks
// what it answers. Whatever the names, no output carries an escape or a byte that is not text,
// and a JSON answer parses. Answers each step's output.
std::vector<std::string> run_steps(const fs::path& scratch, const std::string& environment,
                                   const std::vector<Step>& steps)
{
    std::vector<std::string> outputs;
    for (const Step& step : steps) {
        const std::string command = "cd '" + scratch.string() + "' && " + (step.before ? step.before : "true") +
                                    " && " + environment + " '" VYR_CLD_PROGRAM "' -C " + step.folder + ' ' +
                                    step.arguments + " 2>&1";
        std::FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) {
            ADD_FAILURE() << "popen: " << step.arguments;
            return outputs;
        }
        std::string output;
        char buffer[4096];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, got);
        }
        const int status = pclose(pipe);
        EXPECT_TRUE(WIFEXITED(status)) << step.arguments << ": killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), step.exit_code) << step.arguments << '\n' << output;
        EXPECT_NE(output.find(step.says), std::string::npos) << step.arguments << '\n' << output;
        if (step.absent) {
            EXPECT_EQ(output.find(step.absent), std::string::npos) << step.arguments << '\n' << output;
        }
        EXPECT_EQ(output.find_first_of("\x1B\x9B\xFF"), std::string::npos) << step.arguments << '\n' << output;
        const std::string_view arguments = step.arguments;
        if (arguments.starts_with("--json") || arguments.ends_with(" --json")) {
            EXPECT_TRUE(nlohmann::json::accept(output)) << step.arguments << '\n' << output;
        }
        outputs.push_back(std::move(output));
    }
    return outputs;
}

const std::string utf8_host = "LC_ALL=C.UTF-8";

TEST(CommandLine, TwoUsersShareAProjectAndEveryErrorEndsNonZero)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "elsewhere");
    const std::vector<Step> steps{
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
        {"anna", "viewer 2d plan.txt --epsg 25832 --description 'Deck'", 0, "viewer update "},
        {"anna", "viewer 3d plan.txt --epsg 25832 --offset-x 1.5 --offset-y -2", 0, "viewer update sent"},
        {"anna", "viewer 2d missing.txt --epsg 25832", 1, "viewer update: not found (404)"},
        {"anna", "viewer status no-such-update", 1, "(404)"},
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
    run_steps(temp.path(), utf8_host, steps);
    EXPECT_EQ(vyr::cld::test::read_file(temp.path() / "bjorn" / "plan.txt"), "plan\n");
}

// A script learns a new project's id from one JSON object, with the option after the command as
// well as before it.
TEST(CommandLine, ProjectCreateWithJsonAnswersTheProjectForAScript)
{
    TempFolder temp;
    const std::vector<Step> steps{
        {".", "init anna --store store --user anna", 0, "anna"},
        {"anna", "project create Deck --number D-1 --json", 0, "\"projectNumber\": \"D-1\""},
        {"anna", "--json project create Pier", 0, "\"name\": \"Pier\""},
        {"anna", "project list --json", 0, "\"name\": \"Deck\""},
    };
    const auto outputs = run_steps(temp.path(), utf8_host, steps);
    ASSERT_EQ(outputs.size(), 4u);
    const auto deck = nlohmann::json::parse(outputs[1], nullptr, false);
    const auto listed = nlohmann::json::parse(outputs[3], nullptr, false);
    ASSERT_TRUE(deck.is_object() && listed.is_object()) << outputs[1] << outputs[3];
    EXPECT_EQ(deck.value("ok", false), true);
    EXPECT_EQ(deck.value("name", ""), "Deck");
    EXPECT_FALSE(deck.value("id", "").empty()) << outputs[1];
    EXPECT_EQ(listed.at("projects").at(0).value("id", ""), deck.value("id", "")) << outputs[3];
}

// A working folder on a team service is made only from a server that takes a token read from a
// file, never half of each; a refusal writes no state.
TEST(CommandLine, InitOnATeamServiceNeedsAServerAndATokenFileAndRemembersNothingWhenRefused)
{
    TempFolder temp;
    vyr::cld::test::write_file(temp.path() / "token", "0123456789abcdef\n");
    // Port 1 on loopback: nothing listens, so the server cannot be reached.
    const std::vector<Step> steps{
        {".", "init a --server http://127.0.0.1:1", 2, "--token-file"},
        {".", "init a --token-file token", 2, "--server"},
        {".", "init a --store store --server http://127.0.0.1:1 --token-file token", 2, "excludes"},
        {".", "init a --store store", 2, "--user"},
        {".", "init a --server http://127.0.0.1:1 --token-file missing", 3, "token file cannot be read"},
        {".", "init a --server http://127.0.0.1:1 --token-file token", 3,
         "cannot open the team service http://127.0.0.1:1", "0123456789abcdef"},
    };
    run_steps(temp.path(), utf8_host, steps);
    EXPECT_FALSE(fs::exists(temp.path() / "a" / state_file_name));
    EXPECT_FALSE(fs::exists(temp.path() / "store"));
}

// A state file that lacks where its files are kept is named, with the remedy, before anything is
// opened; the program tells which release and store schema it is.
TEST(CommandLine, AStateFileWithoutItsStoreOrTokenFileIsNamedAndVersionIsTold)
{
    TempFolder temp;
    const std::string user = R"("user": {"id": "anna", "displayName": "Anna", "principalName": "a@example.org"})";
    const auto state = [&](const std::string& fields) {
        return "mkdir -p w && printf '%s' '{" + fields + user + "}' >w/" + state_file_name;
    };
    const std::string team = state(R"("server": "http://127.0.0.1:1", )");
    const std::string neither = state("");
    const std::string named = (temp.path() / "w" / state_file_name).string();
    const std::string version =
        "vyr-cld " VYR_CLD_VERSION " (store schema " + std::to_string(local::store_schema_version()) + ")";
    const std::vector<Step> steps{
        {"w", "project list", 2, "names the team service http://127.0.0.1:1 but no token file", nullptr,
         team.c_str()},
        {"w", "project list", 2, "run `vyr-cld init` again", nullptr, team.c_str()},
        {"w", "project list", 2, named.c_str(), nullptr, team.c_str()},
        {"w", "status", 2, "names neither a store nor a team service", nullptr, neither.c_str()},
        {".", "--version", 0, version.c_str()},
    };
    run_steps(temp.path(), utf8_host, steps);
}

// The steps that give anna a store with the project Bridge selected.
const std::vector<Step> anna_on_bridge{
    {".", "init anna --store store --user anna --name 'Anna Berg'", 0, "Anna Berg"},
    {"anna", "project create Bridge", 0, "created project Bridge"},
    {"anna", "partition create --project Bridge Drawings", 0, "created partition"},
    {"anna", "use Bridge", 0, "using project Bridge"},
};

std::vector<Step> operator+(std::vector<Step> first, const std::vector<Step>& then)
{
    first.insert(first.end(), then.begin(), then.end());
    return first;
}

// Names the host encoding cannot represent never reach the bridge, where they would become a
// look-alike holding U+FFFD; odd names that it can represent reach the service, and every name is
// printed escaped.
TEST(CommandLine, OddNamesAreRefusedOrEscapedAndNeverActOnALookAlike)
{
    TempFolder temp;
    const fs::path anna = temp.path() / "anna";
    fs::create_directories(anna / "sub");
    for (const char* name : {"a.txt", "b.txt", "tw\xFF.txt", "tw\xEF\xBF\xBD.txt", "rm\xEF\xBF\xBD.txt", "back\\slash.txt"}) {
        vyr::cld::test::write_file(anna / name, name);
    }
    const std::vector<Step> steps{
        {"anna", "upload a.txt", 0, "upload a.txt: created"},
        // Not representable in UTF-8: refused by the host, whatever the command.
        {"anna", "upload 'tw\xFF.txt'", 2, "upload tw\\xFF.txt: the host encoding (UTF-8) cannot represent"},
        {"anna", "rm 'rm\xFF.txt'", 2, "rm rm\\xFF.txt: the host encoding"},
        {"anna", "lock 'tw\xFF.txt' a.txt", 2, "lock a.txt: done"},
        {"anna", "download 'tw\xFF.txt'", 2, "cannot represent"},
        {"anna", "unlock --upload 'tw\xFF.txt'", 2, "cannot represent"},
        {"anna", "mv a.txt 'c\xFF.txt'", 2, "c\\xFF.txt"},
        {"anna", "project create 'P\xFF'", 2, "project create P\\xFF: the host encoding"},
        {"anna", "status 'tw\xFF.txt'", 2, "cannot represent"},
        {"anna", "--json upload 'tw\xFF.txt'", 2, "\"file\": \"tw\\\\xFF.txt\""},
        // Listing the folder skips such names and says so once; the look-alikes stay apart.
        {"anna", "status", 0, "skipped tw\\xFF.txt", "tw\xEF\xBF\xBD.txt  revision"},
        {"anna", "--json status", 0, "\"skipped\": [\n    \"tw\\\\xFF.txt\""},
        // Control characters, escapes and backslashes are printed escaped, on one line.
        {"anna", "upload 'nl\nx.txt'", 1, "upload nl\\x0Ax.txt: invalid argument or unsafe path (400)"},
        {"anna", "upload 'esc\x1B[31m.txt'", 1, "upload esc\\x1B[31m.txt:"},
        {"anna", "--json upload 'esc\x1B.txt' 'tw\xFF.txt'", 2, "\"esc\\\\x1B.txt\""},
        {"anna", "upload 'back\\slash.txt'", 1, "upload back\\\\slash.txt:"},
        {"anna", "use '\x1B[2J'", 2, "no project has the id or name '\\x1B[2J'"},
        {"anna", "status '--\x1B[2J'", 2, "not expected: --\\x1B[2J"},
        // An empty name is refused for itself; the others go on.
        {"anna", "upload b.txt '' a.txt", 1, "upload b.txt: created"},
        {"anna", "--json upload ''", 1, "\"responsecode\": 400"},
        // A leading .. is resolved here; any other reaches the service, which refuses it.
        {"anna/sub", "upload ../b.txt", 0, "upload ../b.txt: done"},
        {"anna", "upload sub/../b.txt", 1, "(400)"},
        {"anna", "upload ./sub/../b.txt", 1, "(400)"},
        {"nowhere", "status", 2, "nowhere"},
    };
    run_steps(temp.path(), utf8_host, anna_on_bridge + steps);
    EXPECT_TRUE(fs::exists(anna / "rm\xEF\xBF\xBD.txt"));
    EXPECT_TRUE(fs::exists(anna / "tw\xFF.txt"));
}

// Under a single-byte locale names are host text: printed as such, written to JSON as UTF-8.
TEST(CommandLine, NamesInALatin1LocaleAreHostTextAndJsonIsUtf8)
{
    // The program must find the locale itself: the test suite provides it through LOCPATH.
    const locale_t available = newlocale(LC_ALL_MASK, vyr::cld::test::single_byte_locale, locale_t{});
    if (available == locale_t{}) {
        GTEST_SKIP() << vyr::cld::test::single_byte_locale << " is not installed; run through ctest";
    }
    freelocale(available);
    TempFolder temp;
    const fs::path anna = temp.path() / "anna";
    fs::create_directories(anna);
    vyr::cld::test::write_file(anna / "caf\xE9.txt", "caf\xE9");
    vyr::cld::test::write_file(anna / "c1\x85.txt", "c1");
    const std::vector<Step> steps{
        {".", "init anna --store store --user anna --name 'Anna M\xFCller'", 0, "Anna M\xFCller works in"},
        {"anna", "project create 'Br\xFC" "cke'", 0, "created project Br\xFC" "cke"},
        {"anna", "--json project list", 0, "\"name\": \"Br\xC3\xBC" "cke\""},
        {"anna", "partition create --project 'Br\xFC" "cke' 'Pl\xE4ne'", 0, "created partition Pl\xE4ne"},
        {"anna", "use 'Br\xFC" "cke'", 0, "using project Br\xFC" "cke"},
        {"anna", "status", 0, "project Br\xFC" "cke, partition Pl\xE4ne"},
        {"anna", "status", 0, "caf\xE9.txt  not in project"},
        {"anna", "--json status", 0, "\"file\": \"caf\xC3\xA9.txt\""},
        {"anna", "status 'c1\x85.txt'", 0, "c1\\u0085.txt"},
    };
    run_steps(temp.path(), std::string("LC_ALL=") + vyr::cld::test::single_byte_locale, steps);
}

// A working folder whose store was moved away, emptied or replaced fails, and creates nothing.
TEST(CommandLine, AStoreGoneOrReplacedIsAFailureNeverANewStore)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "anna");
    vyr::cld::test::write_file(temp.path() / "anna" / "a.txt", "a");
    const std::vector<Step> steps{
        {"anna", "upload a.txt", 0, "created"},
        {"anna", "sync --wait --timeout 10", 3, "cannot open the store", nullptr, "mv store moved"},
        {"anna", "status", 3, "cannot open the store", nullptr, "test ! -e store"},
        {"anna", "sync --wait --timeout 10", 3, "cannot open the store", nullptr,
         "test ! -e store && mv moved store && rm -f store/store.sqlite-* && : > store/store.sqlite"},
        {"anna", "sync --wait --timeout 10", 3, "no longer", nullptr,
         "rm -r store && '" VYR_CLD_PROGRAM
         "' init other --store store --user other >/dev/null"},
        {"anna", "upload a.txt", 3, "no longer"},
        {"anna", "project list", 0, ""},
        {"other", "sync --wait", 2, "no project selected"},
    };
    run_steps(temp.path(), utf8_host, anna_on_bridge + steps);
}

// Each conflict says why for the verb that met it.
TEST(CommandLine, AConflictGivesTheReasonOfItsVerb)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "anna");
    for (const char* name : {"a.txt", "b.txt"}) {
        vyr::cld::test::write_file(temp.path() / "anna" / name, name);
    }
    const std::vector<Step> steps{
        {".", "init bjorn --store store --user bjorn --name 'Bjorn Dahl'", 0, "Bjorn Dahl"},
        {"anna", "upload a.txt b.txt", 0, "upload b.txt: created"},
        {"bjorn", "use Bridge", 0, "using project"},
        {"bjorn", "sync --wait --timeout 10", 0, "pending: 0 files"},
        {"anna", "download a.txt", 1, "your copy was changed or is not the store's", "newer revision",
         "echo changed >> anna/a.txt"},
        {"anna", "mv a.txt b.txt", 1, "b.txt is taken in the store", "newer revision"},
        {"anna", "mv a.txt loose.txt", 1, "loose.txt is taken by a local file", "newer revision",
         "echo loose > anna/loose.txt"},
        {"bjorn", "upload b.txt", 0, "done", nullptr, "echo bjorn >> bjorn/b.txt"},
        {"anna", "upload b.txt", 1, "the store has a newer revision than your copy", nullptr,
         "echo anna >> anna/b.txt"},
        {"bjorn", "lock a.txt", 0, "done"},
        {"anna", "mv a.txt c.txt", 1, "locked by Bjorn Dahl"},
        {"anna", "download a.txt", 1, "your copy was changed", "locked by"},
        // A copy from before another user's delete would undo the delete.
        {"bjorn", "rm b.txt", 0, "rm b.txt: done"},
        {"anna", "upload b.txt", 1, "deleted in the store since your copy"},
    };
    run_steps(temp.path(), utf8_host, anna_on_bridge + steps);
}

// Under a file-size limit a write fails instead of killing the program: the service answers 507
// and leaves no temporary file behind.
TEST(CommandLine, AFileSizeLimitIsAnAnswerNotASignal)
{
    TempFolder temp;
    fs::create_directories(temp.path() / "anna");
    vyr::cld::test::write_file(temp.path() / "anna" / "big.bin", std::string(3 << 20, 'x'));
    const std::vector<Step> steps{
        {"anna", "upload big.bin", 1, "(507)", nullptr, "ulimit -f 1024"},
        {"anna", "--json upload big.bin", 1, "\"responsecode\": 507", nullptr, "ulimit -f 1024"},
    };
    run_steps(temp.path(), utf8_host, anna_on_bridge + steps);
    for (const fs::path& folder : {temp.path() / "store" / "blobs" / "tmp", temp.path() / "anna"}) {
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            EXPECT_FALSE(entry.path().filename().string().starts_with(".vyrcld-")) << entry.path();
        }
    }
}

} // namespace
