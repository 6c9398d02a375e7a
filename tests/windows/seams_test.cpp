// The Windows sources of the client's seams under Windows' own functions: SHA-256 and random
// bytes (BCrypt), Unicode (Win32) and files (Win32 handles), through the portable code that uses them.
#include "content_store.h"
#include "disk.h"

#include <vyr/cld/domain/names.h>

#include <gtest/gtest.h>

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

} // namespace
} // namespace vyr::cld::test
