// Text conversion against plain baselines in the same run: a bare widening or narrowing copy into
// a fresh string of the right length (what no conversion of ASCII can beat), and ICU's single
// UTF-8 call into a reused buffer (one conversion, no length pass, no allocation).
#include "frame/text.h"
#include "frame/text_engine.h"
#include "support/locales.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <exception>
#include <optional>
#include <string>

namespace {

using vyr::cld::bridge::narrow;
using vyr::cld::bridge::widen;
using vyr::cld::test::named_locale;
using vyr::cld::test::ThreadLocale;

// The locale by name, built first if the machine lacks it; none if it cannot be had.
std::optional<vyr::cld::test::Locale> locale_if_available(const char* name)
{
    try {
        return named_locale(name);
    }
    catch (const std::exception&) {
        return std::nullopt;
    }
}

// Path-like texts: a repeated unit cut to `length` bytes on a character boundary.
std::string sample(std::size_t length, std::string_view unit)
{
    std::string text;
    while (text.size() < length) {
        text += unit;
    }
    text.resize(length);
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0u) == 0x80u) {
        text.pop_back();
    }
    if (!text.empty() && static_cast<unsigned char>(text.back()) >= 0xC0u) {
        text.pop_back();
    }
    return text;
}

constexpr std::string_view ascii = "projects/Ringroad/drawings/plan-";
constexpr std::string_view latin1 = "prosjekter/Bj\xC3\xB8rnstad/tegninger/pl\xC3\xA5n-caf\xC3\xA9-";
constexpr std::string_view cyrillic = "\xD0\xBF\xD1\x80\xD0\xBE\xD0\xB5\xD0\xBA\xD1\x82\xD1\x8B/"
                                      "\xD0\xA7\xD0\xB5\xD1\x80\xD1\x82\xD0\xB5\xD0\xB6-12/";
constexpr std::string_view cjk = "\xE9\xA1\xB9\xE7\x9B\xAE/\xE5\x9B\xBE\xE7\xBA\xB8/\xE5\xB9\xB3\xE9\x9D\xA2"
                                 "\xE5\x9B\xBE-3/";
constexpr std::string_view emoji = "notes/\xF0\x9F\x9A\xA7-\xF0\x9F\x93\x90-plan\xF0\x9F\x98\x80/";

std::u16string wide_sample(std::size_t length, std::string_view unit)
{
    const auto bytes = sample(length, unit);
    std::u16string wide(bytes.size(), u'\0');
    UErrorCode status = U_ZERO_ERROR;
    int32_t written = 0;
    u_strFromUTF8(wide.data(), static_cast<int32_t>(wide.size()), &written, bytes.data(),
                  static_cast<int32_t>(bytes.size()), &status);
    wide.resize(static_cast<std::size_t>(written));
    return wide;
}

void processed(benchmark::State& state, std::size_t bytes)
{
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes));
}

void BM_Baseline_WidenCopy(benchmark::State& state)
{
    const auto text = sample(static_cast<std::size_t>(state.range(0)), ascii);
    for (auto _ : state) {
        std::u16string wide(text.size(), u'\0');
        const char* from = text.data();
        char16_t* to = wide.data();
        for (std::size_t i = 0; i < text.size(); ++i) {
            to[i] = static_cast<char16_t>(static_cast<unsigned char>(from[i]));
        }
        benchmark::DoNotOptimize(wide.data());
    }
    processed(state, text.size());
}

// The bare copy with what every conversion must add to it: the read of the host encoding, and a
// string allocated once at its length and written once.
void BM_Floor_WidenCopyWithEncodingRead(benchmark::State& state)
{
    const ThreadLocale locale(named_locale("C.UTF-8"));
    const auto text = sample(static_cast<std::size_t>(state.range(0)), ascii);
    for (auto _ : state) {
        benchmark::DoNotOptimize(vyr::cld::bridge::engine::thread_encoding());
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        std::u16string wide(bytes, bytes + text.size());
        benchmark::DoNotOptimize(wide.data());
    }
    processed(state, text.size());
}

void BM_Baseline_NarrowCopy(benchmark::State& state)
{
    const auto wide = wide_sample(static_cast<std::size_t>(state.range(0)), ascii);
    for (auto _ : state) {
        // Through plain pointers and a local length: a char store through the string itself could
        // alias its own pointer and size, which would keep the compiler from vectorising the copy.
        const std::size_t length = wide.size();
        std::string text(length, '\0');
        const char16_t* from = wide.data();
        char* to = text.data();
        for (std::size_t i = 0; i < length; ++i) {
            to[i] = static_cast<char>(from[i]);
        }
        benchmark::DoNotOptimize(text.data());
    }
    processed(state, wide.size());
}

void BM_Baseline_IcuWidenIntoReusedBuffer(benchmark::State& state, std::string_view unit)
{
    const auto text = sample(static_cast<std::size_t>(state.range(0)), unit);
    std::u16string wide(text.size(), u'\0');
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t written = 0;
        u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &written, text.data(),
                             static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(wide.data());
    }
    processed(state, text.size());
}

void BM_Baseline_IcuNarrowIntoReusedBuffer(benchmark::State& state, std::string_view unit)
{
    const auto wide = wide_sample(static_cast<std::size_t>(state.range(0)), unit);
    std::string text(4 * wide.size(), '\0');
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t written = 0;
        u_strToUTF8WithSub(text.data(), static_cast<int32_t>(text.size()), &written, wide.data(),
                           static_cast<int32_t>(wide.size()), 0xFFFD, nullptr, &status);
        benchmark::DoNotOptimize(written);
        benchmark::DoNotOptimize(text.data());
    }
    processed(state, wide.size());
}

// What every conversion pays before it looks at the text: reading the thread's host encoding,
// which may change between calls and so is never kept.
void BM_Floor_HostEncoding(benchmark::State& state)
{
    const ThreadLocale locale(named_locale("C.UTF-8"));
    for (auto _ : state) {
        benchmark::DoNotOptimize(vyr::cld::bridge::engine::thread_encoding());
    }
}

void BM_Widen(benchmark::State& state, const char* locale_name, std::string_view unit)
{
    const auto chosen = locale_if_available(locale_name);
    if (!chosen) {
        state.SkipWithError("locale not available");
        return;
    }
    const ThreadLocale locale(*chosen);
    const auto text = sample(static_cast<std::size_t>(state.range(0)), unit);
    for (auto _ : state) {
        benchmark::DoNotOptimize(widen(text));
    }
    processed(state, text.size());
}

void BM_Narrow(benchmark::State& state, const char* locale_name, std::string_view unit)
{
    const auto chosen = locale_if_available(locale_name);
    if (!chosen) {
        state.SkipWithError("locale not available");
        return;
    }
    const ThreadLocale locale(*chosen);
    const VyrCldapi::String wide(wide_sample(static_cast<std::size_t>(state.range(0)), unit));
    for (auto _ : state) {
        benchmark::DoNotOptimize(narrow(wide));
    }
    processed(state, wide.Length());
}

void ascii_sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->RangeMultiplier(4)->Range(16, 64 << 10);
}

void mixed_sizes(benchmark::internal::Benchmark* benchmark)
{
    benchmark->RangeMultiplier(8)->Range(64, 64 << 10);
}

} // namespace

BENCHMARK(BM_Floor_HostEncoding);

// Plain ASCII, both directions, against the bare copy.
BENCHMARK(BM_Baseline_WidenCopy)->Apply(ascii_sizes);
BENCHMARK(BM_Floor_WidenCopyWithEncodingRead)->Apply(ascii_sizes);
BENCHMARK_CAPTURE(BM_Widen, ascii_utf8, "C.UTF-8", ascii)->Apply(ascii_sizes);
BENCHMARK(BM_Baseline_NarrowCopy)->Apply(ascii_sizes);
BENCHMARK_CAPTURE(BM_Narrow, ascii_utf8, "C.UTF-8", ascii)->Apply(ascii_sizes);

// Non-ASCII UTF-8, both directions, against ICU converting once.
BENCHMARK_CAPTURE(BM_Baseline_IcuWidenIntoReusedBuffer, latin1, latin1)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Widen, latin1_utf8, "C.UTF-8", latin1)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Baseline_IcuWidenIntoReusedBuffer, cyrillic, cyrillic)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Widen, cyrillic_utf8, "C.UTF-8", cyrillic)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Baseline_IcuWidenIntoReusedBuffer, cjk, cjk)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Widen, cjk_utf8, "C.UTF-8", cjk)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Baseline_IcuWidenIntoReusedBuffer, emoji, emoji)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Widen, emoji_utf8, "C.UTF-8", emoji)->Apply(mixed_sizes);

BENCHMARK_CAPTURE(BM_Baseline_IcuNarrowIntoReusedBuffer, latin1, latin1)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Narrow, latin1_utf8, "C.UTF-8", latin1)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Baseline_IcuNarrowIntoReusedBuffer, cyrillic, cyrillic)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Narrow, cyrillic_utf8, "C.UTF-8", cyrillic)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Baseline_IcuNarrowIntoReusedBuffer, cjk, cjk)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Narrow, cjk_utf8, "C.UTF-8", cjk)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Baseline_IcuNarrowIntoReusedBuffer, emoji, emoji)->Apply(mixed_sizes);
BENCHMARK_CAPTURE(BM_Narrow, emoji_utf8, "C.UTF-8", emoji)->Apply(mixed_sizes);

// A single-byte codeset and invalid UTF-8 keep the general conversion.
BENCHMARK_CAPTURE(BM_Widen, ascii_latin1, "en_US.ISO-8859-1", ascii)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(BM_Narrow, ascii_latin1, "en_US.ISO-8859-1", ascii)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(BM_Widen, invalid_utf8, "C.UTF-8", "plan-\xFF-")->Arg(64)->Arg(4096);
