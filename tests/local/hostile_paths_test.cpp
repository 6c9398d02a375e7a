#include "world.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;

// A path a host might be tricked into passing, made from the scratch world.
struct Hostile {
    const char* name;
    std::function<std::string(const World&)> path;
    bool needsLink = false;
    bool needsCaseTwins = false;
};

std::string deep_path()
{
    std::string path;
    for (int i = 0; i < 20; ++i) {
        path += std::string(250, 'd') + "/";
    }
    return path + "f.dwg";
}

const Hostile hostile[] = {
    {"parent folder", [](const World&) { return "../outside/secret.txt"; }},
    {"parent folder after a subfolder", [](const World&) { return "sub/../../outside/secret.txt"; }},
    {"parent folder that stays inside", [](const World&) { return "sub/../Plan.dwg"; }},
    {"absolute path outside", [](const World& w) { return (w.root_ / "outside" / "secret.txt").string(); }},
    {"absolute path of the working folder itself", [](const World& w) { return w.folder().string(); }},
    {"symbolic link that leads outside", [](const World&) { return "link/secret.txt"; }, true},
    {"NUL inside the name", [](const World&) { return std::string("Plan\0.dwg", 9); }},
    {"control character", [](const World&) { return "Plan\x01.dwg"; }},
    {"DEL", [](const World&) { return "Plan\x7F.dwg"; }},
    {"C1 control character", [](const World&) { return "Plan\xC2\x85.dwg"; }},
    // The bridge reads bytes the host encoding cannot as U+FFFD: the name may stand for any file.
    {"bytes the host encoding cannot read", [](const World&) { return "Look\xFF.dwg"; }},
    {"U+FFFD itself", [](const World&) { return "Look\xEF\xBF\xBD.dwg"; }},
    // Shown, it reorders what follows: "invoice\u202Efdp.exe" reads as "invoiceexe.pdf".
    {"right-to-left override", [](const World&) { return "invoice\u202Efdp.exe"; }},
    {"directional isolate in a folder's name", [](const World&) { return "a\u2067b/Plan.dwg"; }},
    {"Arabic letter mark", [](const World&) { return "Plan\u061C.dwg"; }},
    {"name longer than a folder entry", [](const World&) { return std::string(300, 'x') + ".dwg"; }},
    {"path longer than the system takes", [](const World&) { return deep_path(); }},
    {"differs from a stored name only by case", [](const World&) { return "PLAN.DWG"; }, false, true},
    {"the name of a transfer in progress", [](const World&) { return ".vyrcld-transfer"; }},
    {"empty", [](const World&) { return ""; }},
};

class HostilePaths : public testing::TestWithParam<Hostile> {};

TEST_P(HostilePaths, AreRefusedWith400AndTouchNothing)
{
    World w;
    w.stored("Plan.dwg", "revision 1");
    // A file system that ignores case (Windows') holds no such twin: the name is the stored file's.
    if (fs::exists(w.folder() / "PLAN.DWG")) {
        if (GetParam().needsCaseTwins) {
            GTEST_SKIP() << "this file system cannot hold two names that differ only by case";
        }
    } else {
        w.write("PLAN.DWG", "a local file whose name differs by case");
    }
    w.write("Look\xEF\xBF\xBD.dwg", "a local file literally named with U+FFFD");
    fs::create_directories(w.root_ / "outside");
    std::ofstream(w.root_ / "outside" / "secret.txt") << "secret";
    if (!World::link_folder(w.root_ / "outside", w.folder() / "link") && GetParam().needsLink) {
        GTEST_SKIP() << World::no_links;
    }
    GetStatusEvents();

    const auto path = GetParam().path(w);
    const auto before = w.snapshot();
    const std::function<void(int&)> operations[] = {
        [&](int& c) { UploadFile(path, c); },
        [&](int& c) { LockFile(path, c); },
        [&](int& c) { DownloadFile(path, c); },
        [&](int& c) { RemoveFile(path, c); },
        [&](int& c) { RenameFile("Plan.dwg", path, c); },
        [&](int& c) { UploadNewFiles({path}, c); },
    };
    for (std::size_t i = 0; i < std::size(operations); ++i) {
        int code = -1;
        operations[i](code);
        EXPECT_EQ(code, 400) << "operation " << i;
    }
    EXPECT_EQ(w.snapshot(), before);
    EXPECT_TRUE(GetStatusEvents().empty());
    EXPECT_EQ(GetFileRevision("Plan.dwg"), 1u);
}

INSTANTIATE_TEST_SUITE_P(Paths, HostilePaths, testing::ValuesIn(hostile),
                         row_name<Hostile>);

} // namespace
} // namespace vyr::cld::local::test

namespace vyr::cld::local::test {
namespace {

TEST(HostileFolders, AStoredFileIsNeverWrittenThroughALinkThatLeadsOutside)
{
    World w;
    w.stored("linked/x.txt", "x");
    w.as("bert");
    fs::create_directories(w.root_ / "outside");
    if (!World::link_folder(w.root_ / "outside", w.folder() / "linked")) {
        GTEST_SKIP() << World::no_links;
    }
    EXPECT_FALSE(GetProjectFiles(std::nullopt, std::nullopt));
    EXPECT_FALSE(fs::exists(w.root_ / "outside" / "x.txt"));
    EXPECT_EQ(CheckDownSyncFileExceptions(), std::vector<std::string>{"linked/x.txt"});
    EXPECT_TRUE(CheckPathTooLongExceptions().empty());
}

} // namespace
} // namespace vyr::cld::local::test

namespace vyr::cld::local::test {
namespace {

// The names a Windows folder cannot hold are refused for a file's new name on every platform, and
// the near misses are names like any other: a rename to each, as no local file need be made first.
TEST(WindowsNames, ARenameToOneNoWindowsFolderHoldsIsRefused)
{
    const struct {
        const char* name;
        int code;
    } names[] = {
        {"CON", 400},          {"nul.txt", 400},      {"Aux.tar.gz", 400},   {"com1 .dwg", 400},
        {"x/prn/y.dwg", 400},  {"CONOUT$", 400},      {"report.", 400},      {"report ", 400},
        {"draft./x.dwg", 400}, {"a<b.dwg", 400},      {"a:b.dwg", 400},      {"a\"b.dwg", 400},
        {"a|b.dwg", 400},      {"a?b.dwg", 400},      {"a*b.dwg", 400},      {"console.txt", 200},
        {"com10.dwg", 200},    {"lpt0", 200},         {"nul-report.txt", 200}, {".hidden", 200},
    };
    World w;
    w.stored("Plan.dwg", "revision 1");
    std::string current = "Plan.dwg";
    for (const auto& row : names) {
        const auto before = w.snapshot();
        int code = 0;
        RenameFile(current, row.name, code);
        EXPECT_EQ(code, row.code) << row.name;
        if (code == 200) {
            EXPECT_EQ(w.read(row.name), "revision 1") << row.name;
            current = row.name;
        } else {
            EXPECT_EQ(w.snapshot(), before) << row.name;
        }
    }
}

} // namespace
} // namespace vyr::cld::local::test
