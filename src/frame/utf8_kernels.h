#pragma once

#include <cstddef>
#include <cstdint>

// Conversion kernels that use the processor's vector shuffles, where it has them. The build picks
// one source for the processor it targets; where there is none, nothing is available and the
// portable conversion does all the work.
namespace vyr::cld::bridge::utf8::kernels {

// The units a narrowing kernel takes at a time, and the room it needs left at `to` for each: it
// stores whole vectors and keeps only what the units make.
inline constexpr std::size_t narrow_block = 8;
inline constexpr std::size_t narrow_room = 32;

// Whether this processor runs the narrowing kernel.
[[nodiscard]] bool can_narrow() noexcept;

// Where can_narrow(): converts well-formed UTF-16 to UTF-8 from the start of `text` while a whole
// block is left and `end - to` is at least `narrow_room`; advances `to` past what it wrote and
// returns the units converted, which end on a character boundary.
std::size_t narrow(const std::uint16_t* text, std::size_t size, char*& to, const char* end) noexcept;

// Writes the UTF-8 of the character at `at`, of well-formed UTF-16, and moves past it: the
// portable step, and the kernels' own for what they leave to it.
inline void narrow_one(const std::uint16_t* text, std::size_t& at, char*& to) noexcept
{
    const auto put = [&to](unsigned byte) { *to++ = static_cast<char>(byte); };
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

} // namespace vyr::cld::bridge::utf8::kernels
