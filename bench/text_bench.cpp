// Text conversion against plain baselines in the same run: a loop that widens ASCII byte by
// byte (what no conversion can beat) and ICU's own UTF-8 call into a reused buffer.
#include "frame/text.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <clocale>
#include <locale.h>
#include <string>

namespace {

using vyr::cld::bridge::narrow;
using vyr::cld::bridge::widen;

std::string sample(std::size_t length, bool ascii = true)
{
    // Non-ASCII text takes the general conversion; ASCII under UTF-8 converts unit for unit.
    const std::string unit = ascii ? "projects/Ringroad/drawings/plan-" : "prosjekter/Ringvei/tegninger/pl\xC3\xA5n-";
    std::string text;
    while (text.size() < length) {
        text += unit;
    }
    text.resize(length);
    return text;
}

class ThreadLocale {
public:
    explicit ThreadLocale(const char* name)
        : locale_(newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr))),
          previous_(uselocale(locale_ ? locale_ : LC_GLOBAL_LOCALE))
    {
    }
    ~ThreadLocale()
    {
        uselocale(previous_);
        if (locale_) {
            freelocale(locale_);
        }
    }
    [[nodiscard]] bool ok() const { return locale_ != static_cast<locale_t>(nullptr); }

private:
    locale_t locale_;
    locale_t previous_;
};

void BM_Baseline_AsciiLoop(benchmark::State& state)
{
    const auto text = sample(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::u16string wide(text.size(), u'\0');
        for (std::size_t i = 0; i < text.size(); ++i) {
            wide[i] = static_cast<char16_t>(static_cast<unsigned char>(text[i]));
        }
        benchmark::DoNotOptimize(wide.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Baseline_IcuUtf8IntoReusedBuffer(benchmark::State& state)
{
    const auto text = sample(static_cast<std::size_t>(state.range(0)));
    std::u16string wide(text.size(), u'\0');
    for (auto _ : state) {
        UErrorCode status = U_ZERO_ERROR;
        int32_t written = 0;
        u_strFromUTF8WithSub(wide.data(), static_cast<int32_t>(wide.size()), &written, text.data(),
                             static_cast<int32_t>(text.size()), 0xFFFD, nullptr, &status);
        benchmark::DoNotOptimize(written);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Widen(benchmark::State& state, const char* locale_name)
{
    const ThreadLocale locale(locale_name);
    if (!locale.ok()) {
        state.SkipWithError("locale not available");
        return;
    }
    const auto text = sample(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(widen(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Widen_NonAscii(benchmark::State& state)
{
    const ThreadLocale locale("C.UTF-8");
    const auto text = sample(static_cast<std::size_t>(state.range(0)), false);
    for (auto _ : state) {
        benchmark::DoNotOptimize(widen(text));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void BM_Narrow(benchmark::State& state, const char* locale_name)
{
    const ThreadLocale locale(locale_name);
    if (!locale.ok()) {
        state.SkipWithError("locale not available");
        return;
    }
    const auto wide = widen(sample(static_cast<std::size_t>(state.range(0))));
    for (auto _ : state) {
        benchmark::DoNotOptimize(narrow(wide));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

} // namespace

BENCHMARK(BM_Baseline_AsciiLoop)->Arg(16)->Arg(64)->Arg(4096);
BENCHMARK(BM_Baseline_IcuUtf8IntoReusedBuffer)->Arg(16)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(BM_Widen, utf8, "C.UTF-8")->Arg(16)->Arg(64)->Arg(4096);
BENCHMARK(BM_Widen_NonAscii)->Arg(16)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(BM_Widen, latin1, "en_US.ISO-8859-1")->Arg(16)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(BM_Narrow, utf8, "C.UTF-8")->Arg(16)->Arg(64)->Arg(4096);
BENCHMARK_CAPTURE(BM_Narrow, latin1, "en_US.ISO-8859-1")->Arg(16)->Arg(64)->Arg(4096);
