// The Windows sources of the client's seams under Windows' own functions: SHA-256 and random
// bytes (BCrypt), Unicode (Win32) and files (Win32 handles), through the portable code that uses them.
#include "content_store.h"
#include "disk.h"

#include <vyr/cld/domain/folders.h>
#include <vyr/cld/domain/names.h>

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace fs = std::filesystem;

TEST(WindowsSeams, Sha256AndRandomBytesComeFromBCrypt)
{
    const std::vector<std::pair<std::string, std::string>> digests{
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const auto& [text, digest] : digests) {
        EXPECT_EQ(local::hash_text(text), digest) << text;
    }
    const auto a = domain::random_hex(16);
    EXPECT_EQ(a.size(), 32U);
    EXPECT_NE(a, domain::random_hex(16));
}

TEST(WindowsSeams, UnicodeConvertsAndFoldsCase)
{
    EXPECT_EQ(domain::utf16("Gr\xC3\xBC\xC3\x9F" "e \xE6\x97\xA5"), u"Gr\u00FC\u00DFe \u65E5");
    EXPECT_EQ(domain::utf16("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(domain::utf8(u"\u00C4\U0001F600"), "\xC3\x84\xF0\x9F\x98\x80");
    EXPECT_FALSE(domain::utf8(std::u16string(1, char16_t(0xD800))));
    EXPECT_EQ(domain::folded("Plan \xC3\x84.DWG"), "plan \xC3\xA4.dwg");
    // The top folder's name is empty, which the Win32 functions refuse to convert.
    EXPECT_EQ(domain::folded(""), "");
    EXPECT_EQ(domain::utf8(u""), "");
    EXPECT_EQ(domain::utf16(""), u"");
}

TEST(WindowsSeams, NaturalKeysOrderNamesAsPeopleReadThem)
{
    const std::vector<std::string> ordered{"", "1", "2", "10", "a", "A", "\xC3\x85", "b", "\xC3\xA9", "f",
                                           "liggende 5", "liggende 21", "liggende 100", "\xC3\xB8st", "z"};
    for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
        EXPECT_LT(domain::natural_key(ordered[i]), domain::natural_key(ordered[i + 1]))
            << ordered[i] << " < " << ordered[i + 1];
    }
    EXPECT_EQ(domain::natural_key("plan"), domain::natural_key("plan"));
}

TEST(WindowsSeams, AFileIsReplacedWholeAndALiveTemporaryIsNeverSwept)
{
    const auto folder = fs::temp_directory_path() / fs::path(u8"vyr-cld seams \u00E4");
    fs::remove_all(folder);
    fs::create_directories(folder);
    const auto target = folder / "drawing.dwg";
    std::ofstream(target) << "old";
    const std::string bytes = "new contents";
    const local::Blob blob{local::hash_text(bytes), static_cast<std::int64_t>(bytes.size())};
    EXPECT_GT(local::write_verified(blob, target, [&](const local::Sink& sink) { sink(bytes.data(), bytes.size()); }), 0);
    {
        // Closed again before the folder goes: Windows deletes no open file.
        std::ifstream in(target);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), bytes);
    }
    // Bytes that do not hash to the name never replace the file.
    EXPECT_THROW(local::write_verified(blob, target, [&](const local::Sink& sink) { sink("x", 1); }),
                 local::DamagedContent);
    {
        local::disk::Temporary live(folder);
        local::sweep_temporaries(folder, false);
        EXPECT_TRUE(fs::exists(live.path()));
    }
    std::size_t left = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        left += entry.path().filename() != "drawing.dwg";
    }
    EXPECT_EQ(left, 0U);
    EXPECT_TRUE(local::disk::names_in(folder)->contains("drawing.dwg"));
    fs::remove_all(folder);
}

// Removes a folder and what it holds, by the long-path form `path` is in (which std::filesystem
// does not take).
bool remove_long(const std::wstring& path)
{
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    bool removed = find != INVALID_HANDLE_VALUE;
    while (removed) {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") {
            const auto inner = path + L"\\" + name;
            removed = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? remove_long(inner)
                                                                                : DeleteFileW(inner.c_str()) != 0;
        }
        if (!FindNextFileW(find, &entry)) {
            break;
        }
    }
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
    }
    return removed && RemoveDirectoryW(path.c_str()) != 0;
}

// Windows' own functions take no more than MAX_PATH (260) characters but through the long-path form:
// a working folder's files deep below it are written, read, listed and swept as any other.
TEST(WindowsSeams, PathsBeyondMaxPathAreWrittenReadAndListed)
{
    // A folder of its own each run: std::filesystem itself reaches no deeper than MAX_PATH, so it
    // removes the folder only through the long-path form.
    const auto top = fs::temp_directory_path() / ("vyr-cld long " + domain::random_hex(4));
    const std::string part(100, 'p');
    const struct {
        fs::path folder;
        const char* why;
    } rows[] = {
        {top / "short", "well below MAX_PATH, absolute"},
        {top / part / part / part / "\xC3\xA4", "beyond MAX_PATH, absolute"},
        {top / part / "." / part / ".." / part / part / "x", "beyond MAX_PATH, with . and .. parts"},
    };
    for (const auto& row : rows) {
        local::disk::create_folders(row.folder);
        local::disk::create_folders(row.folder); // there already
        const auto target = row.folder / "drawing.dwg";
        const std::string bytes = row.why;
        const local::Blob blob{local::hash_text(bytes), static_cast<std::int64_t>(bytes.size())};
        EXPECT_GT(local::write_verified(blob, target, [&](const local::Sink& sink) { sink(bytes.data(), bytes.size()); }),
                  0)
            << row.why;
        EXPECT_EQ(local::hash_file(target).hash, blob.hash) << row.why;
        EXPECT_GT(local::disk::modified_nanos(target), 0) << row.why;
        const auto names = local::disk::names_in(row.folder);
        ASSERT_TRUE(names) << row.why;
        EXPECT_TRUE(names->contains("drawing.dwg")) << row.why;
        {
            local::disk::Temporary live(row.folder);
            local::sweep_temporaries(row.folder, false);
            EXPECT_EQ(local::disk::names_in(row.folder)->size(), names->size() + 1) << row.why;
        }
        EXPECT_EQ(local::disk::names_in(row.folder)->size(), names->size()) << row.why << ": removed at its end";
    }
    // A file where a folder should be is no folder.
    EXPECT_THROW(local::disk::create_folders(rows[0].folder / "drawing.dwg" / "x"), local::IoFailure);
    // Relative to the current folder, made absolute before the prefix.
    const auto before = fs::current_path();
    fs::current_path(top);
    local::disk::create_folders(fs::path("short") / part / part / part);
    fs::current_path(before);
    EXPECT_TRUE(local::disk::names_in(rows[0].folder / part / part)->contains(part));
    EXPECT_TRUE(remove_long(LR"(\\?\)" + top.wstring()));
}

// Another program holds a working copy open (a CAD application keeps its drawing so): a
// replacement is refused before a byte is written and the file stays whole; a read for an upload
// is one consistent copy or refused. Each row is how the other program opened or locked it.
TEST(WindowsSeams, AFileAnotherProgramHoldsIsNeitherReplacedNorReadInPart)
{
    const auto folder = fs::temp_directory_path() / ("vyr-cld held " + domain::random_hex(4));
    fs::create_directories(folder);
    const auto target = folder / "drawing.dwg";
    const struct {
        const char* why;
        DWORD access, share;
        bool lockRange;
        bool replaceable, read; // replacing is tried only where sharing refuses it
    } rows[] = {
        {"written, shared for reading only", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, false, false, false},
        {"read, shared for reading only", GENERIC_READ, FILE_SHARE_READ, false, false, true},
        {"shared for anything, its bytes locked", GENERIC_READ | GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true, true, false},
    };
    const std::string bytes = "the store's revision";
    const local::Blob blob{local::hash_text(bytes), static_cast<std::int64_t>(bytes.size())};
    for (const auto& row : rows) {
        std::ofstream(target, std::ios::binary | std::ios::trunc) << "the user's drawing";
        const HANDLE holder =
            CreateFileW(target.wstring().c_str(), row.access, row.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE) << row.why;
        OVERLAPPED start{};
        if (row.lockRange) {
            ASSERT_TRUE(LockFileEx(holder, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1024, 0, &start));
        }
        if (!row.replaceable) {
            bool fetched = false;
            EXPECT_THROW(local::write_verified(blob, target,
                                               [&](const local::Sink& sink) {
                                                   fetched = true;
                                                   sink(bytes.data(), bytes.size());
                                               }),
                         local::HeldOpen)
                << row.why;
            EXPECT_FALSE(fetched) << row.why << ": nothing is fetched for a file that cannot be replaced";
        }
        bool read = true;
        try {
            static_cast<void>(local::hash_file(target));
        } catch (const local::HeldOpen&) {
            read = false;
        }
        EXPECT_EQ(read, row.read) << row.why;
        if (row.lockRange) {
            UnlockFileEx(holder, 0, 1024, 0, &start);
        }
        CloseHandle(holder);
        {
            std::ifstream in(target, std::ios::binary);
            EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's drawing") << row.why;
        }
        // Its holder gone, the file is replaced and read as any other.
        EXPECT_GT(local::write_verified(blob, target, [&](const local::Sink& sink) { sink(bytes.data(), bytes.size()); }),
                  0)
            << row.why;
        EXPECT_EQ(local::hash_file(target).hash, blob.hash) << row.why;
    }
    std::size_t left = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        left += entry.path().filename() != "drawing.dwg";
    }
    EXPECT_EQ(left, 0U) << "no temporary file is left";
    fs::remove_all(folder);
}

} // namespace
} // namespace vyr::cld::test
