// The same host bytes and service texts under the host encodings a desktop host meets: UTF-8, a
// Western and a Cyrillic single-byte code page and a Japanese double-byte one. Every platform's
// engine must give these results.
#include "frame/text.h"

#include "support/locales.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vyr::cld::test {
namespace {

using bridge::marshal_as;
using VyrCldapi::String;
using namespace std::string_literals;

constexpr const char* utf8 = "C.UTF-8";
constexpr const char* western = "en_US.CP1252";
constexpr const char* cyrillic = "ru_RU.CP1251";
constexpr const char* japanese = "ja_JP.WINDOWS-31J";

std::u16string widened(const std::string& bytes)
{
    return std::u16string(marshal_as<String>(bytes).View());
}

std::string narrowed(const std::u16string& units)
{
    return marshal_as<std::string>(String(units));
}

struct Both {
    const char* locale;
    std::string bytes;
    std::u16string units;
};

// Text each encoding can hold converts both ways unit for unit.
const std::vector<Both> round_trips{
    {utf8,
     "Gr\xC3\xBC\xC3\x9F"
     "e",
     u"Gr\u00FC\u00DFe"},
    {utf8, "\xD0\x9C\xD0\xB8\xD1\x80 \xE6\x97\xA5\xE6\x9C\xAC", u"\u041C\u0438\u0440 \u65E5\u672C"},
    {utf8, "\xF0\x9F\x98\x80 \xF0\x90\x8D\x88", u"\U0001F600 \U00010348"},
    {utf8, "a\0b"s, u"a\0b"s},
    {western, "caf\xE9 \x80 \x9F", u"caf\u00E9 \u20AC \u0178"},
    {cyrillic, "\xCC\xE8\xF0 \xB8", u"\u041C\u0438\u0440 \u0451"},
    {japanese, "\x93\xFA\x96\x7B", u"\u65E5\u672C"},
    {japanese, "\x82\xA0 \xB1 a\\b~", u"\u3042 \uFF71 a\\b~"},
};

TEST(CodePages, TextTheEncodingHoldsConvertsBothWays)
{
    for (const auto& row : round_trips) {
        const ThreadLocale locale(row.locale);
        EXPECT_EQ(widened(row.bytes), row.units) << row.locale << ": " << row.bytes;
        EXPECT_EQ(narrowed(row.units), row.bytes) << row.locale << ": " << row.bytes;
    }
}

// A character the encoding lacks becomes '?': never a best-fit look-alike, never a failure.
const std::vector<Both> no_look_alikes{
    {western, "???", u"\u0100\uFF21\u221E"},  // A-macron, fullwidth A, infinity: no "AA8"
    {western, "???", u"\u041C\u0438\u0440"},  // Cyrillic
    {cyrillic, "caf?", u"caf\u00E9"},         // no "e" for e-acute
    {japanese, "?", u"\u00E9"},               // no "e" either
    {japanese, "\x93\xFA?", u"\u65E5\u0100"}, // the held part stays
};

TEST(CodePages, MissingCharactersBecomeTheDefaultCharacter)
{
    for (const auto& row : no_look_alikes) {
        const ThreadLocale locale(row.locale);
        EXPECT_EQ(narrowed(row.units), row.bytes) << row.locale;
    }
}

bool only(const std::string& bytes, char c)
{
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), [c](char b) { return b == c; });
}

bool well_formed(const std::u16string& units)
{
    for (std::size_t i = 0; i < units.size(); ++i) {
        const bool high = units[i] >= 0xD800 && units[i] <= 0xDBFF;
        const bool low = units[i] >= 0xDC00 && units[i] <= 0xDFFF;
        if (low || (high && (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF))) {
            return false;
        }
        i += high ? 1 : 0;
    }
    return true;
}

// Astral characters and lone surrogates have no place in a single-byte or double-byte code page:
// they become default characters (how many per character is the engine's). Under UTF-8 an
// astral character is kept and a lone surrogate becomes U+FFFD.
TEST(CodePages, AstralCharactersAndLoneSurrogatesNarrowWithoutFailing)
{
    const std::u16string astral = u"\U0001F600";
    const std::u16string lone_high{char16_t{0xD800}};
    const std::u16string lone_low{char16_t{0xDC00}};
    for (const char* name : {western, cyrillic, japanese}) {
        const ThreadLocale locale(name);
        for (const auto& units : {astral, lone_high, lone_low}) {
            EXPECT_TRUE(only(narrowed(units), '?')) << name;
        }
        EXPECT_EQ(narrowed(u"a" + lone_high + u"b").front(), 'a') << name;
        EXPECT_EQ(narrowed(u"a" + lone_high + u"b").back(), 'b') << name;
    }
    const ThreadLocale locale(utf8);
    EXPECT_EQ(narrowed(astral), "\xF0\x9F\x98\x80");
    EXPECT_EQ(narrowed(u"x" + lone_high + u"y"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(narrowed(u"x" + lone_low + u"y"), "x\xEF\xBF\xBDy");
}

// Invalid bytes are replaced, not rejected, and what comes out is well-formed UTF-16 with the
// text before them intact. How many U+FFFD stand for one invalid sequence differs between
// engines, and so does whether a double-byte lead swallows the byte after it, so only the
// property is checked.
TEST(CodePages, InvalidBytesWidenToWellFormedText)
{
    struct Invalid {
        const char* locale;
        std::string bytes;
    };
    const std::vector<Invalid> rows{
        {utf8, "\xFF"},
        {utf8, "\xC3"},             // truncated
        {utf8, "\xC0\xAF"},         // overlong
        {utf8, "\xED\xA0\x80"},     // an encoded surrogate
        {utf8, "\xF4\x90\x80\x80"}, // beyond U+10FFFF
        {japanese, "\x93"},         // a lead byte without its trail
        {japanese, "\x81\x20"},     // a lead byte before ASCII
    };
    for (const auto& row : rows) {
        const ThreadLocale locale(row.locale);
        const auto units = widened("<" + row.bytes);
        EXPECT_TRUE(well_formed(units)) << row.locale;
        ASSERT_GE(units.size(), 2u) << row.locale;
        EXPECT_EQ(units.front(), u'<') << row.locale;
    }
    const ThreadLocale locale(utf8);
    for (const auto& row : rows) {
        if (std::string_view(row.locale) == utf8) {
            const auto units = widened(row.bytes);
            EXPECT_TRUE(std::all_of(units.begin(), units.end(), [](char16_t u) { return u == 0xFFFD; }));
        }
    }
}

// A thread that never chose a locale converts in the process's encoding (UTF-8 for the test
// programs, through their manifest on Windows) from its first conversion on.
TEST(CodePages, AFreshThreadConvertsInTheProcessEncodingAtOnce)
{
    std::u16string first;
    std::string back;
    std::jthread([&] {
        first = widened("\xC3\xBC");
        back = narrowed(first);
    }).join();
    EXPECT_EQ(first, u"\u00FC");
    EXPECT_EQ(back, "\xC3\xBC");
}

// Two threads in two code pages at once: each converts with its own, throughout.
TEST(CodePages, TwoThreadsInTwoCodePagesAtOnce)
{
    // Asked for on this thread first: building a locale may set LOCPATH.
    const auto first = named_locale(cyrillic);
    const auto second = named_locale(japanese);
    const std::string bytes = "\x93\xFA";
    std::u16string from_first;
    std::u16string from_second;
    bool steady = true;
    {
        std::jthread a([&] {
            const ThreadLocale locale(first);
            for (int i = 0; i < 2000; ++i) {
                from_first = widened(bytes);
                steady = steady && narrowed(from_first) == bytes;
            }
        });
        std::jthread b([&] {
            const ThreadLocale locale(second);
            for (int i = 0; i < 2000; ++i) {
                from_second = widened(bytes);
            }
        });
    }
    EXPECT_EQ(from_first, u"\u201C\u044A");
    EXPECT_EQ(from_second, u"\u65E5");
    EXPECT_TRUE(steady);
}

} // namespace
} // namespace vyr::cld::test
