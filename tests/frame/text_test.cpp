#include "frame/text.h"

#include "support/failure.h"
#include "support/locales.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace vyr::cld::test {
namespace {

using bridge::marshal_as;
using VyrCldapi::ExceptionKind;
using VyrCldapi::List;
using VyrCldapi::String;
using namespace std::string_literals;
using namespace std::string_view_literals;

constexpr std::string_view widening_message =
    "Conversion from MultiByte to WideChar failed.  Please check the content of the string and/or locale settings.";
constexpr std::string_view narrowing_message =
    "Conversion from WideChar to MultiByte failed.  Please check the content of the string and/or locale settings.";

class TextUnderUtf8 : public ::testing::Test {
    ThreadLocale locale_{"C.UTF-8"};
};

TEST_F(TextUnderUtf8, EmptyTextIsEmptyNotNullBothWays)
{
    const auto wide = marshal_as<String>(""s);
    EXPECT_FALSE(wide.IsNull());
    EXPECT_EQ(wide.Length(), 0u);
    EXPECT_EQ(marshal_as<std::string>(String(u"")), "");
}

TEST_F(TextUnderUtf8, ZeroBytesInsideTextAreCarriedAcross)
{
    EXPECT_EQ(marshal_as<String>("a\0b"s).View(), u"a\0b"sv);
    EXPECT_EQ(marshal_as<std::string>(String(u"a\0b"s)), "a\0b"s);
}

TEST_F(TextUnderUtf8, ValidTextRoundTripsByteForByte)
{
    const auto text = "Gr\xC3\xBC\xC3\x9F" "e \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80"s; // "Grüße 東京 😀"
    const auto wide = marshal_as<String>(text);
    EXPECT_EQ(wide.View(), u"Gr\u00FC\u00DFe \u6771\u4EAC \U0001F600"sv);
    EXPECT_EQ(marshal_as<std::string>(wide), text);
}

TEST_F(TextUnderUtf8, InvalidBytesAreReplacedNotRejected)
{
    EXPECT_EQ(marshal_as<String>("a\xFF" "b\xC3"s).View(), u"a\uFFFDb\uFFFD"sv);
}

TEST_F(TextUnderUtf8, LoneSurrogateNarrowsToReplacementCharacter)
{
    const std::u16string lone{u'x', char16_t{0xD800}, u'y'};
    EXPECT_EQ(marshal_as<std::string>(String(lone)), "x\xEF\xBF\xBDy");
}

// The ASCII shortcut must agree with the general conversion on every input, ASCII or not.
TEST(Text, ShortcutAgreesWithTheGeneralConversion)
{
    std::mt19937 random(20261207);
    for (const char* locale : {"C.UTF-8", "C", "en_US.CP1252", "ru_RU.CP1251", "ja_JP.WINDOWS-31J"}) {
        const ThreadLocale thread_locale{locale};
        for (int round = 0; round < 2000; ++round) {
            const auto length = static_cast<std::size_t>(random() % 300);
            // Mostly ASCII; now and then one byte or unit beyond it, anywhere.
            const unsigned limit = round % 4 == 0 ? 0x100u : 0x80u;
            std::string bytes(length, '\0');
            std::u16string units(length, u'\0');
            for (std::size_t i = 0; i < length; ++i) {
                bytes[i] = static_cast<char>(random() % limit);
                units[i] = static_cast<char16_t>(random() % (limit == 0x80u ? 0x80u : 0x10000u));
            }
            ASSERT_EQ(marshal_as<String>(bytes), bridge::reference::widen(bytes)) << locale;
            ASSERT_EQ(marshal_as<std::string>(String(units)), bridge::reference::narrow(String(units))) << locale;
        }
    }
}

TEST(Text, CLocaleStandsForUtf8)
{
    const ThreadLocale locale{"C"};
    EXPECT_EQ(marshal_as<String>("\xC3\xA9"s).View(), u"\u00E9"sv);
    EXPECT_EQ(marshal_as<std::string>(String(u"\u00E9")), "\xC3\xA9");
}

TEST(Text, SingleByteCodesetConvertsWithoutLookAlikes)
{
    const ThreadLocale locale{"en_US.CP1252"};
    EXPECT_EQ(marshal_as<String>("caf\xE9"s).View(), u"caf\u00E9"sv);
    EXPECT_EQ(marshal_as<std::string>(String(u"caf\u00E9")), "caf\xE9");
    // Characters the codeset lacks become its default character, never a best-fit look-alike
    // ("A" for A-macron, say) and never a failure; so do lone surrogates.
    EXPECT_EQ(marshal_as<std::string>(String(u"\u0100\u6771\u0151")), "???");
    EXPECT_EQ(marshal_as<std::string>(String(std::u16string{char16_t{0xDC00}})), "?");
    // Default-ignorable characters (a right-to-left embedding, a zero-width joiner) are no
    // exception: they too become the default character rather than vanish.
    EXPECT_EQ(marshal_as<std::string>(String(u"\u202B")), "?");
    EXPECT_EQ(marshal_as<std::string>(String(u"a\u200Db")), "a?b");
}

TEST(Text, EachThreadConvertsWithItsOwnLocale)
{
    // Build both locales before the threads start: building one may set LOCPATH.
    const auto utf8 = named_locale("C.UTF-8");
    const auto western = named_locale("en_US.CP1252");
    const auto bytes = "\xC3\xA9"s;
    std::u16string from_utf8_thread;
    std::u16string from_western_thread;
    {
        std::jthread first([&] {
            const ThreadLocale locale{utf8};
            for (int i = 0; i < 1000; ++i) {
                from_utf8_thread = marshal_as<String>(bytes).View();
            }
        });
        std::jthread second([&] {
            const ThreadLocale locale{western};
            for (int i = 0; i < 1000; ++i) {
                from_western_thread = marshal_as<String>(bytes).View();
            }
        });
    }
    EXPECT_EQ(from_utf8_thread, u"\u00E9");
    EXPECT_EQ(from_western_thread, u"\u00C3\u00A9");
}

TEST(Text, CodesetWithoutConverterFailsBothWaysLinuxOnly)
{
    const ThreadLocale locale{unconvertible_locale};
    const auto widening = failure_of([] { (void)marshal_as<String>("abc"s); });
    EXPECT_EQ(widening.Kind(), ExceptionKind::Argument);
    EXPECT_EQ(widening.what(), widening_message);
    const auto narrowing = failure_of([] { (void)marshal_as<std::string>(String(u"abc")); });
    EXPECT_EQ(narrowing.Kind(), ExceptionKind::Argument);
    EXPECT_EQ(narrowing.what(), narrowing_message);
    // Empty text needs no converter.
    EXPECT_FALSE(marshal_as<String>(""s).IsNull());
}

TEST(Text, NullServiceTextFailsOnlyWhereTextIsRequired)
{
    const auto failure = failure_of([] { (void)marshal_as<std::string>(String()); });
    EXPECT_EQ(failure.Kind(), ExceptionKind::ArgumentNull);
    EXPECT_STREQ(failure.what(), "NULLPTR is not supported for this conversion.");

    EXPECT_EQ(marshal_as<std::optional<std::string>>(String()), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<std::string>>(String(u"")), std::optional<std::string>(""));
    EXPECT_EQ(bridge::text_or_empty(String()), "");
    EXPECT_EQ(bridge::text_or_empty(String(u"x")), "x");
}

TEST(Text, HostTextLongerThanIntMaxIsRefused)
{
#if defined(VYR_CLD_SANITIZED)
    GTEST_SKIP() << "a 2 GiB string is too slow under sanitizers";
#endif
    const std::string huge(static_cast<std::size_t>(INT_MAX) + 1, 'x');
    const auto failure = failure_of([&] { (void)marshal_as<String>(huge); });
    EXPECT_EQ(failure.Kind(), ExceptionKind::ArgumentOutOfRange);
    EXPECT_STREQ(failure.what(), "Size of string exceeds INT_MAX.");
}

TEST(TextList, EmptyAndAbsentVectorsReachTheServiceAsDifferentValues)
{
    const auto from_empty = marshal_as<List<String>>(std::vector<std::string>{});
    EXPECT_FALSE(from_empty.IsNull());
    EXPECT_EQ(from_empty.Count(), 0u);

    EXPECT_TRUE(marshal_as<List<String>>(std::optional<std::vector<std::string>>{}).IsNull());
    const auto from_engaged_empty = marshal_as<List<String>>(std::optional<std::vector<std::string>>{std::in_place});
    EXPECT_FALSE(from_engaged_empty.IsNull());
    EXPECT_EQ(from_engaged_empty.Count(), 0u);
}

TEST(TextList, OrderAndCountAreKeptAndCapacityIsExact)
{
    const std::vector<std::string> paths{"b", "a", "", "b"};
    const auto list = marshal_as<List<String>>(paths);
    EXPECT_EQ(list, (List<String>{u"b", u"a", u"", u"b"}));
    EXPECT_EQ(list.Capacity(), paths.size());
    EXPECT_EQ(marshal_as<std::vector<std::string>>(list), paths);
}

TEST(TextList, NullListOrOneNullElementFailsTheWholeConversion)
{
    EXPECT_EQ(failure_of([] { (void)marshal_as<std::vector<std::string>>(List<String>()); }).Kind(),
              ExceptionKind::NullReference);
    EXPECT_EQ(failure_of([] { (void)marshal_as<std::vector<std::string>>(List<String>{u"a", String(), u"c"}); })
                  .Kind(),
              ExceptionKind::ArgumentNull);
}

TEST(OptionalNumber, AbsentIsEmptyAndPresentZeroIsKept)
{
    EXPECT_EQ(marshal_as<std::optional<std::uint64_t>>(VyrCldapi::Nullable<std::uint64_t>{}), std::nullopt);
    EXPECT_EQ(marshal_as<std::optional<std::uint64_t>>(VyrCldapi::Nullable<std::uint64_t>{0}),
              std::optional<std::uint64_t>{0});
    EXPECT_EQ(marshal_as<std::optional<std::uint64_t>>(VyrCldapi::Nullable<std::uint64_t>{UINT64_MAX}),
              std::optional<std::uint64_t>{UINT64_MAX});
}

} // namespace
} // namespace vyr::cld::test
