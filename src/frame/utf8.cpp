#include "frame/utf8.h"

#include <cstdint>
#include <cstring>

namespace vyr::cld::bridge::utf8 {
namespace {

// The length passes judge text a block at a time. Every loop over a block has a fixed trip count
// and works on narrow lanes without branches, which is what lets the compiler vectorise it; a
// block's tallies still fit in the lane type.
constexpr std::size_t block = 32;

template <class Unit> bool all_ascii(const Unit* units) noexcept
{
    Unit seen = 0;
    for (std::size_t k = 0; k < block; ++k) {
        seen = static_cast<Unit>(seen | units[k]);
    }
    return seen < 0x80;
}

// Well-formed UTF-8, judged at each byte from the byte itself and the three before it.
struct utf8_rules {
    using unit = std::uint8_t;
    static constexpr std::size_t behind = 3;

    // No sequence that starts before `start` wants continuation bytes at or after it.
    static bool nothing_pending(const unit* start) noexcept
    {
        return start[-1] < 0xC0 && start[-2] < 0xE0 && start[-3] < 0xF0;
    }

    // The UTF-16 units of the block that follows `behind` bytes of `window`; sets `wrong` for any
    // byte that breaks the rules.
    static std::size_t scan(const unit* window, unit& wrong) noexcept
    {
        unit units = 0;
        unit bad = 0;
        for (std::size_t k = 0; k < block; ++k) {
            const unit b = window[k + 3];
            const unit p1 = window[k + 2];
            const unit p2 = window[k + 1];
            const unit p3 = window[k];
            const bool continuation = (b & 0xC0) == 0x80;
            // A continuation byte is right exactly where a lead byte before it wants one.
            const bool wanted = (p1 >= 0xC0) | (p2 >= 0xE0) | (p3 >= 0xF0);
            // Lead bytes of overlong two-byte forms and of anything above U+10FFFF.
            const bool never = ((b & 0xFE) == 0xC0) | (b >= 0xF5);
            // Second bytes that make an overlong form, a surrogate or a code point above U+10FFFF.
            const bool second = ((p1 == 0xE0) & (b < 0xA0)) | ((p1 == 0xED) & (b >= 0xA0)) |
                                ((p1 == 0xF0) & (b < 0x90)) | ((p1 == 0xF4) & (b >= 0x90));
            bad = static_cast<unit>(bad | ((continuation != wanted) | never | second));
            // One unit per character, two for those beyond U+FFFF.
            units = static_cast<unit>(units + !continuation + (b >= 0xF0));
        }
        wrong = static_cast<unit>(wrong | bad);
        return units;
    }
};

// Well-formed UTF-16, judged at each unit from the unit itself and the one before it.
struct utf16_rules {
    using unit = std::uint16_t;
    static constexpr std::size_t behind = 1;

    static bool high(unit u) noexcept { return (u & 0xFC00) == 0xD800; }

    static bool nothing_pending(const unit* start) noexcept { return !high(start[-1]); }

    // The UTF-8 bytes of the block; a surrogate counts two, so a pair counts four.
    static std::size_t scan(const unit* window, unit& wrong) noexcept
    {
        unit bytes = 0;
        unit bad = 0;
        for (std::size_t k = 0; k < block; ++k) {
            const unit u = window[k + 1];
            const bool low = (u & 0xFC00) == 0xDC00;
            const bool surrogate = (u & 0xF800) == 0xD800;
            // A low surrogate is right exactly where a high one precedes it.
            bad = static_cast<unit>(bad | (high(window[k]) != low));
            bytes = static_cast<unit>(bytes + 1 + (u >= 0x80) + (u >= 0x800) - surrogate);
        }
        wrong = static_cast<unit>(wrong | bad);
        return bytes;
    }
};

// One length pass for both directions. The first block and the last, partial one are judged in a
// copy between zeros: a zero before the text wants nothing, and a zero after it is no
// continuation, so a sequence cut short at the end is caught like any other.
template <class Rules> std::size_t measure(const typename Rules::unit* text, std::size_t size) noexcept
{
    using unit = typename Rules::unit;
    constexpr std::size_t behind = Rules::behind;
    if (size == 0) {
        return 0;
    }
    unit wrong = 0;
    const auto edge = [&](std::size_t from) {
        unit window[behind + block] = {};
        const std::size_t first = from < behind ? behind - from : 0;
        const std::size_t taken = size - from < block ? size - from : block;
        std::memcpy(window + first, text + from + first - behind, (behind - first + taken) * sizeof(unit));
        // Each zero of padding counted as one unit.
        return Rules::scan(window, wrong) - (block - taken);
    };
    std::size_t length = 0;
    std::size_t at = 0;
    if (size >= block) {
        length += edge(0);
        for (at = block; size - at >= block && wrong == 0; at += block) {
            const unit* start = text + at;
            if (all_ascii(start) && Rules::nothing_pending(start)) {
                length += block;
            }
            else {
                length += Rules::scan(start - behind, wrong);
            }
        }
    }
    length += edge(at);
    return wrong == 0 ? length : invalid;
}

// The conversions copy runs of ASCII a chunk at a time through a local buffer, which the compiler
// knows aliases nothing, and convert anything else a character at a time.
constexpr std::size_t chunk = 16;

template <class To, class From> bool copy_ascii_chunk(const From* from, To* to) noexcept
{
    From units[chunk];
    std::memcpy(units, from, sizeof units);
    From seen = 0;
    for (std::size_t k = 0; k < chunk; ++k) {
        seen = static_cast<From>(seen | units[k]);
    }
    if (seen >= 0x80) {
        return false;
    }
    To copied[chunk];
    for (std::size_t k = 0; k < chunk; ++k) {
        copied[k] = static_cast<To>(units[k]);
    }
    std::memcpy(to, copied, sizeof copied);
    return true;
}

} // namespace

std::size_t utf16_length(std::string_view bytes) noexcept
{
    return measure<utf8_rules>(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

void to_utf16(std::string_view bytes, char16_t* out) noexcept
{
    const auto* text = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t at = 0;
    while (at < size) {
        if (size - at >= chunk && copy_ascii_chunk(text + at, out)) {
            at += chunk;
            out += chunk;
            continue;
        }
        const unsigned lead = text[at];
        if (lead < 0x80) {
            *out++ = static_cast<char16_t>(lead);
            at += 1;
        }
        else if (lead < 0xE0) {
            *out++ = static_cast<char16_t>((lead & 0x1Fu) << 6 | (text[at + 1] & 0x3Fu));
            at += 2;
        }
        else if (lead < 0xF0) {
            *out++ = static_cast<char16_t>((lead & 0x0Fu) << 12 | (text[at + 1] & 0x3Fu) << 6 | (text[at + 2] & 0x3Fu));
            at += 3;
        }
        else {
            const unsigned code = ((lead & 0x07u) << 18 | (text[at + 1] & 0x3Fu) << 12 | (text[at + 2] & 0x3Fu) << 6 |
                                   (text[at + 3] & 0x3Fu)) -
                                  0x10000u;
            *out++ = static_cast<char16_t>(0xD800u | code >> 10);
            *out++ = static_cast<char16_t>(0xDC00u | (code & 0x3FFu));
            at += 4;
        }
    }
}

std::size_t utf8_length(std::u16string_view units) noexcept
{
    return measure<utf16_rules>(reinterpret_cast<const std::uint16_t*>(units.data()), units.size());
}

void to_utf8(std::u16string_view units, char* out) noexcept
{
    const auto* text = reinterpret_cast<const std::uint16_t*>(units.data());
    const std::size_t size = units.size();
    std::size_t at = 0;
    const auto put = [&out](unsigned byte) { *out++ = static_cast<char>(byte); };
    while (at < size) {
        if (size - at >= chunk && copy_ascii_chunk(text + at, out)) {
            at += chunk;
            out += chunk;
            continue;
        }
        const unsigned unit = text[at];
        if (unit < 0x80) {
            put(unit);
            at += 1;
        }
        else if (unit < 0x800) {
            put(0xC0u | unit >> 6);
            put(0x80u | (unit & 0x3Fu));
            at += 1;
        }
        else if ((unit & 0xFC00u) == 0xD800u) {
            const unsigned code = 0x10000u + ((unit & 0x3FFu) << 10 | (text[at + 1] & 0x3FFu));
            put(0xF0u | code >> 18);
            put(0x80u | (code >> 12 & 0x3Fu));
            put(0x80u | (code >> 6 & 0x3Fu));
            put(0x80u | (code & 0x3Fu));
            at += 2;
        }
        else {
            put(0xE0u | unit >> 12);
            put(0x80u | (unit >> 6 & 0x3Fu));
            put(0x80u | (unit & 0x3Fu));
            at += 1;
        }
    }
}

} // namespace vyr::cld::bridge::utf8
