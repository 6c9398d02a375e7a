#include "frame/utf8.h"

#include "frame/utf8_kernels.h"

#include <cstdint>
#include <cstring>
#include <span>

namespace vyr::cld::bridge::utf8 {
namespace {

// The length passes judge text a block at a time. Every loop over a block has a fixed trip count
// and works on narrow lanes without branches, which is what lets the compiler vectorise it; a
// block's tallies still fit in the lane type.
constexpr std::size_t block = 32;

// Whether `Count` units are all ASCII, tested eight bytes at a time, which the compiler turns into
// full-width vector loads and one test at the end.
template <std::size_t Count, class Unit> bool all_ascii(const Unit* units) noexcept
{
    static_assert(Count * sizeof(Unit) % 8 == 0);
    std::uint64_t seen = 0;
    for (std::size_t k = 0; k < Count * sizeof(Unit); k += 8) {
        seen |= word_at(units, k);
    }
    return (seen & high_bits<Unit>) == 0;
}

// All ones for true, zero for false: the form a vector compare yields, so the kernels below combine
// conditions without branches.
template <class Unit> constexpr Unit mask(bool condition) noexcept
{
    return static_cast<Unit>(-static_cast<int>(condition));
}

// Well-formed UTF-8, judged at each byte from the byte itself and the three before it.
struct utf8_rules {
    using unit = std::uint8_t;
    static constexpr std::size_t behind = 3;
    // The longest block judged at once: the tallies are bytes.
    static constexpr std::size_t dense = 128;

    // The processor's length pass, where it has one, for text with nothing pending before it.
    static std::size_t by_kernel(const unit* text, std::size_t size) noexcept
    {
        return kernels::widen_length(text, size);
    }

    // No sequence that starts before `start` wants continuation bytes at or after it.
    static bool nothing_pending(const unit* start) noexcept
    {
        return start[-1] < 0xC0 && start[-2] < 0xE0 && start[-3] < 0xF0;
    }

    // The UTF-16 units of the `Count` bytes that follow `behind` bytes of `window`; sets `wrong`
    // for any byte that breaks the rules. Conditions are byte masks (all ones or zero), which map
    // one to one onto vector compares.
    template <std::size_t Count> static std::size_t scan(const unit* window, unit& wrong) noexcept
    {
        static_assert(Count < 256, "the tallies are bytes");
        unit top = 0;
        for (std::size_t k = 0; k < behind + Count; ++k) {
            top = window[k] > top ? window[k] : top;
        }
        if (top < 0xE0) {
            return scan_short<Count>(window, wrong);
        }
        return top < 0xF0 ? scan_long<Count, false>(window, wrong) : scan_long<Count, true>(window, wrong);
    }

    // Text of one- and two-byte characters only (Latin, Greek, Cyrillic, ...) needs fewer rules.
    template <std::size_t Count> static std::size_t scan_short(const unit* window, unit& wrong) noexcept
    {
        unit continuations = 0;
        unit bad = 0;
        for (std::size_t k = 0; k < Count; ++k) {
            const unit b = window[k + 3];
            const unit continuation = mask<unit>((b & 0xC0) == 0x80);
            const unit wanted = mask<unit>((window[k + 2] & 0xC0) == 0xC0);
            bad = static_cast<unit>(bad | (continuation ^ wanted) | mask<unit>((b & 0xFE) == 0xC0));
            continuations = static_cast<unit>(continuations - continuation);
        }
        wrong = static_cast<unit>(wrong | bad);
        return Count - continuations;
    }

    // Up to three bytes a character (CJK), or four where `Four`.
    template <std::size_t Count, bool Four> static std::size_t scan_long(const unit* window, unit& wrong) noexcept
    {
        unit continuations = 0;
        unit beyond = 0;
        unit bad = 0;
        for (std::size_t k = 0; k < Count; ++k) {
            const unit b = window[k + 3];
            const unit p1 = window[k + 2];
            const unit p2 = window[k + 1];
            const unit continuation = mask<unit>((b & 0xC0) == 0x80);
            // A continuation byte is right exactly where a lead byte before it wants one.
            unit wanted = mask<unit>((p1 & 0xC0) == 0xC0) | mask<unit>((p2 & 0xE0) == 0xE0);
            // Lead bytes of overlong two-byte forms.
            unit never = mask<unit>((b & 0xFE) == 0xC0);
            // Second bytes that make an overlong form or a surrogate.
            unit second =
                (mask<unit>(p1 == 0xE0) & mask<unit>(b < 0xA0)) | (mask<unit>(p1 == 0xED) & mask<unit>(b >= 0xA0));
            if constexpr (Four) {
                wanted = static_cast<unit>(wanted | mask<unit>((window[k] & 0xF0) == 0xF0));
                // Overlong four-byte forms and anything above U+10FFFF.
                never = static_cast<unit>(never | mask<unit>(b >= 0xF5));
                second = static_cast<unit>(second | (mask<unit>(p1 == 0xF0) & mask<unit>(b < 0x90)) |
                                           (mask<unit>(p1 == 0xF4) & mask<unit>(b >= 0x90)));
                beyond = static_cast<unit>(beyond - mask<unit>(b >= 0xF0));
            }
            bad = static_cast<unit>(bad | (continuation ^ wanted) | never | second);
            continuations = static_cast<unit>(continuations - continuation);
        }
        wrong = static_cast<unit>(wrong | bad);
        // One unit per character, two for those beyond U+FFFF.
        return Count - continuations + beyond;
    }
};

// Well-formed UTF-16, judged at each unit from the unit itself and the one before it.
struct utf16_rules {
    using unit = std::uint16_t;
    static constexpr std::size_t behind = 1;
    static constexpr std::size_t dense = 256;

    static bool high(unit u) noexcept { return (u & 0xFC00) == 0xD800; }

    static bool nothing_pending(const unit* start) noexcept { return !high(start[-1]); }

    // The processor's length pass, where it has one, for text with nothing pending before it.
    static std::size_t by_kernel(const unit* text, std::size_t size) noexcept
    {
        return kernels::narrow_length(text, size);
    }

    // The UTF-8 bytes of `Count` units; a surrogate counts two, so a pair counts four.
    template <std::size_t Count> static std::size_t scan(const unit* window, unit& wrong) noexcept
    {
        static_assert(2 * Count < 65536, "the tallies are units");
        unit extra = 0;
        unit bad = 0;
        for (std::size_t k = 0; k < Count; ++k) {
            const unit u = window[k + 1];
            // A low surrogate is right exactly where a high one precedes it.
            bad = static_cast<unit>(bad | (mask<unit>(high(window[k])) ^ mask<unit>((u & 0xFC00) == 0xDC00)));
            extra = static_cast<unit>(extra - mask<unit>(u >= 0x80) - mask<unit>(u >= 0x800) +
                                      mask<unit>((u & 0xF800) == 0xD800));
        }
        wrong = static_cast<unit>(wrong | bad);
        return Count + extra;
    }
};

// The strides plain ASCII is tested in: 64 bytes, and four times as many where the text is long.
template <class Unit> constexpr std::size_t ascii_stride = 64 / sizeof(Unit);
template <class Unit> constexpr std::size_t long_ascii_stride = 4 * ascii_stride<Unit>;

// Where the text stops being plain ASCII: `size` if it never does, else the start of the first
// stride that is more than ASCII, with nothing pending before it. Where `WithKernel`, a long run is
// read by the processor's widest vectors, if it has wider ones than the compiler uses.
template <bool WithKernel, class Unit> std::size_t ascii_prefix(const Unit* text, std::size_t size) noexcept
{
    constexpr std::size_t stride = ascii_stride<Unit>;
    constexpr std::size_t long_stride = long_ascii_stride<Unit>;
    std::size_t at = 0;
    while (size - at >= long_stride && all_ascii<long_stride>(text + at)) {
        at += long_stride;
        if constexpr (WithKernel) {
            // A text that starts as a long run is likely to go on so; one that is soon more than
            // ASCII, or short, does not pay for the call.
            if (at == long_stride && size - at >= 2 * long_stride) {
                at += kernels::ascii_run(text + at, size - at);
            }
        }
    }
    while (size - at >= stride && all_ascii<stride>(text + at)) {
        at += stride;
    }
    return size - at < stride && all_ascii_short(text + at, size - at) ? size : at;
}

// One length pass for both directions, through the processor's kernel where `WithKernel` and there
// is one. Most texts are plain ASCII, which wide strides settle first; ASCII leaves nothing
// pending. Where the text is more than that, it is judged a block at a time where it lies. Only a
// text shorter than a block and what is behind it, and the last partial block, are judged in a copy
// between zeros: a zero before the text wants nothing, and a zero after it is no continuation, so a
// sequence cut short at the end is caught like any other.
template <class Rules, bool WithKernel = false>
std::size_t measure(const typename Rules::unit* text, std::size_t size) noexcept
{
    using unit = typename Rules::unit;
    constexpr std::size_t behind = Rules::behind;
    constexpr std::size_t long_stride = long_ascii_stride<unit>;
    constexpr std::size_t dense = Rules::dense;
    static_assert(ascii_stride<unit> >= behind);

    std::size_t at = ascii_prefix<WithKernel>(text, size);
    if (at == size) {
        return size;
    }
    if constexpr (WithKernel) {
        if (kernels::available()) {
            const std::size_t rest = Rules::by_kernel(text + at, size - at);
            return rest == invalid ? invalid : at + rest;
        }
    }

    unit wrong = 0;
    const auto edge = [&](std::size_t from) {
        const std::size_t taken = size - from < block ? size - from : block;
        unit window[behind + block] = {};
        const std::size_t first = from < behind ? behind - from : 0;
        std::memcpy(window + first, text + from + first - behind, (behind - first + taken) * sizeof(unit));
        // Each zero of padding counted as one unit.
        return Rules::template scan<block>(window, wrong) - (block - taken);
    };
    std::size_t length = at;
    if (size - at >= block) {
        if (at == 0 && size >= behind + block) {
            // Not in a copy, which vectors would read back before its stores are done; only the
            // first units, with nothing behind them, go in a copy behind zeros.
            unit head[2 * behind] = {};
            for (std::size_t k = 0; k < behind; ++k) {
                head[behind + k] = text[k];
            }
            length = Rules::template scan<behind>(head, wrong) + Rules::template scan<block>(text, wrong);
            at = behind + block;
        }
        else if (at == 0) {
            length += edge(0);
            at = block;
        }
        while (size - at >= block && wrong == 0) {
            if (all_ascii<block>(text + at) && Rules::nothing_pending(text + at)) {
                // A run of ASCII needs no look-behind until it ends; take it in longer strides.
                at += block;
                length += block;
                while (size - at >= long_stride && all_ascii<long_stride>(text + at)) {
                    at += long_stride;
                    length += long_stride;
                }
                continue;
            }
            // Text that is more than ASCII is likely to stay so: judged in longer blocks, it needs
            // fewer tallies and tests.
            if (size - at >= dense) {
                length += Rules::template scan<dense>(text + at - behind, wrong);
                at += dense;
                continue;
            }
            length += Rules::template scan<block>(text + at - behind, wrong);
            at += block;
        }
        // Text that ends on a block boundary is cut short exactly where something is pending.
        if (at == size) {
            return wrong == 0 && Rules::nothing_pending(text + at) ? length : invalid;
        }
    }
    length += edge(at);
    return wrong == 0 ? length : invalid;
}

// The conversions copy runs of ASCII a chunk at a time. A chunk that is not all ASCII is converted
// a character at a time, to its end or a little past it, so that mixed text pays for one test per
// chunk, not per character.
constexpr std::size_t chunk = 16;

// `__restrict`, which every compiler we build with understands, tells the compiler that the two
// sides do not overlap; without it a char store could alias anything and the copy would not be
// vectorised.
template <class To, class From> void copy_chunk(const From* __restrict from, To* __restrict to) noexcept
{
    for (std::size_t k = 0; k < chunk; ++k) {
        to[k] = static_cast<To>(from[k]);
    }
}

// Converts text[at, size): chunks of ASCII at once, anything else through `one`, which converts the
// character at `at`, advances `at` past it and `out` past what it wrote.
template <class From, class To, class One>
void convert(const From* text, std::size_t size, std::span<To> result, One&& one) noexcept
{
    To* out = result.data();
    std::size_t at = 0;
    while (size - at >= chunk) {
        if (all_ascii<chunk>(text + at)) {
            copy_chunk(text + at, out);
            at += chunk;
            out += chunk;
            continue;
        }
        for (const std::size_t end = at + chunk; at < end;) {
            one(text, at, out);
        }
    }
    while (at < size) {
        one(text, at, out);
    }
}

// The portable steps as objects of their own types, so that the conversion's loop inlines them.
constexpr auto widen_step = [](const std::uint8_t* text, std::size_t& at, char16_t*& to) {
    kernels::widen_one(text, at, to);
};
constexpr auto narrow_step = [](const std::uint16_t* text, std::size_t& at, char*& to) {
    kernels::narrow_one(text, at, to);
};

// The processor's kernel as far as it goes, where it has one, and the portable conversion after it.
template <class From, class To, class Kernel, class One>
void convert_fast(const From* text, std::size_t size, std::span<To> result, Kernel&& kernel, One&& one) noexcept
{
    std::size_t at = 0;
    To* to = result.data();
    if (kernels::available()) {
        at = kernel(text, size, to, result.data() + result.size());
    }
    convert(text + at, size - at, result.subspan(static_cast<std::size_t>(to - result.data())), one);
}

} // namespace

std::size_t utf16_length(std::string_view bytes) noexcept
{
    return measure<utf8_rules, true>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::size_t portable_utf16_length(std::string_view bytes) noexcept
{
    return measure<utf8_rules>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void to_utf16(std::string_view bytes, std::span<char16_t> out) noexcept
{
    convert_fast(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out, kernels::widen, widen_step);
}

void portable_to_utf16(std::string_view bytes, std::span<char16_t> out) noexcept
{
    convert(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), out, widen_step);
}

std::size_t utf8_length(std::u16string_view units) noexcept
{
    return measure<utf16_rules, true>(reinterpret_cast<const std::uint16_t*>(units.data()), units.size());
}

std::size_t portable_utf8_length(std::u16string_view units) noexcept
{
    return measure<utf16_rules>(reinterpret_cast<const std::uint16_t*>(units.data()), units.size());
}

void to_utf8(std::u16string_view units, std::span<char> out) noexcept
{
    convert_fast(reinterpret_cast<const std::uint16_t*>(units.data()), units.size(), out, kernels::narrow, narrow_step);
}

void portable_to_utf8(std::u16string_view units, std::span<char> out) noexcept
{
    convert(reinterpret_cast<const std::uint16_t*>(units.data()), units.size(), out, narrow_step);
}

} // namespace vyr::cld::bridge::utf8
