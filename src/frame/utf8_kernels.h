#pragma once

#include <cstddef>
#include <cstdint>

// Conversion kernels that use the processor's vector shuffles, where it has them. The build picks
// one source for the processor it targets; where there is none, nothing is available and the
// portable conversion does all the work.
namespace vyr::cld::bridge::utf8::kernels {

// Whether this processor runs the kernels.
[[nodiscard]] bool available() noexcept;

// Where available(): converts well-formed UTF-16 to UTF-8 from the start of `text` while enough of
// the text and of the room before `end` is left for a whole vector; advances `to` past what it
// wrote and returns the units converted, which end on a character boundary.
std::size_t narrow(const std::uint16_t* text, std::size_t size, char*& to, const char* end) noexcept;

// Where available(): the UTF-8 bytes that `text` converts to, or SIZE_MAX if a surrogate stands
// unpaired; no surrogate before `text` waits for its other half.
std::size_t narrow_length(const std::uint16_t* text, std::size_t size) noexcept;

// Where available(): the same from well-formed UTF-8 to UTF-16.
std::size_t widen(const std::uint8_t* text, std::size_t size, char16_t*& to, const char16_t* end) noexcept;

// Where available(): the UTF-16 units that `text` converts to, or SIZE_MAX unless it is well-formed
// UTF-8; no sequence before `text` waits for more bytes.
std::size_t widen_length(const std::uint8_t* text, std::size_t size) noexcept;

// How many of the leading units of `text` are plain ASCII, counted in whole steps of 256 bytes,
// where the processor has vectors wider than the kernels above use; zero where it has not.
std::size_t ascii_run(const std::uint8_t* text, std::size_t size) noexcept;
std::size_t ascii_run(const std::uint16_t* text, std::size_t size) noexcept;

// The portable steps, which the kernels also take for what they leave: each converts the character
// at `at` of well-formed text, writes its units at `to` and moves both past it.
inline void widen_one(const std::uint8_t* text, std::size_t& at, char16_t*& to) noexcept
{
    const unsigned lead = text[at];
    if (lead < 0x80) {
        *to++ = static_cast<char16_t>(lead);
        at += 1;
    }
    else if (lead < 0xE0) {
        *to++ = static_cast<char16_t>((lead & 0x1Fu) << 6 | (text[at + 1] & 0x3Fu));
        at += 2;
    }
    else if (lead < 0xF0) {
        *to++ = static_cast<char16_t>((lead & 0x0Fu) << 12 | (text[at + 1] & 0x3Fu) << 6 | (text[at + 2] & 0x3Fu));
        at += 3;
    }
    else {
        const unsigned code = ((lead & 0x07u) << 18 | (text[at + 1] & 0x3Fu) << 12 | (text[at + 2] & 0x3Fu) << 6 |
                               (text[at + 3] & 0x3Fu)) -
                              0x10000u;
        *to++ = static_cast<char16_t>(0xD800u | code >> 10);
        *to++ = static_cast<char16_t>(0xDC00u | (code & 0x3FFu));
        at += 4;
    }
}

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
