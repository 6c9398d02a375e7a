#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

// UTF-8 <-> UTF-16 for well-formed text only, in plain portable code that the compiler vectorises.
// Each direction is a length pass, so the caller can allocate exactly once, and a conversion of
// what that pass accepted. Anything else is the general conversion's to handle (and replace):
// this path never decides what an invalid sequence becomes.
namespace vyr::cld::bridge::utf8 {

// What the length passes return for text that is not well-formed.
inline constexpr std::size_t invalid = static_cast<std::size_t>(-1);

// Texts up to this many bytes of units can be tested for plain ASCII in line, by all_ascii_short:
// most texts that cross are that short (ids, names, paths), and a call into the length pass
// would cost them more than the test.
inline constexpr std::size_t short_text_bytes = 64;

// Where a unit's bits outside ASCII fall in eight bytes of units.
template <class Unit> constexpr std::uint64_t high_bits = sizeof(Unit) == 1 ? 0x8080808080808080u : 0xFF80FF80FF80FF80u;

template <class Unit> std::uint64_t word_at(const Unit* units, std::size_t bytes) noexcept
{
    std::uint64_t word = 0;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(units) + bytes, sizeof word);
    return word;
}

// Whether fewer than short_text_bytes of units are all ASCII: words that may overlap the last
// one, or single units where there are not eight bytes.
template <class Unit> [[nodiscard]] bool all_ascii_short(const Unit* units, std::size_t count) noexcept
{
    const std::size_t bytes = count * sizeof(Unit);
    if (bytes < 8) {
        unsigned seen = 0;
        for (std::size_t k = 0; k < count; ++k) {
            seen |= units[k];
        }
        return seen < 0x80;
    }
    std::uint64_t seen = word_at(units, bytes - 8);
    for (std::size_t k = 0; k + 8 < bytes; k += 8) {
        seen |= word_at(units, k);
    }
    return (seen & high_bits<Unit>) == 0;
}

// The UTF-16 units that `bytes` convert to, or `invalid` unless they are well-formed UTF-8: no
// overlong form, no surrogate, nothing above U+10FFFF, no sequence cut short. Uses the processor's
// vector kernels where it has them; `portable_utf16_length` never does.
[[nodiscard]] std::size_t utf16_length(std::string_view bytes) noexcept;
[[nodiscard]] std::size_t portable_utf16_length(std::string_view bytes) noexcept;

// Writes the units of `bytes`, which utf16_length accepted, to `out`, which is exactly that long.
// Uses the processor's vector kernels where it has them.
void to_utf16(std::string_view bytes, std::span<char16_t> out) noexcept;

// The same without the kernels: what a processor without them runs, kept callable so that tests
// compare the two.
void portable_to_utf16(std::string_view bytes, std::span<char16_t> out) noexcept;

// The UTF-8 bytes that `units` convert to, or `invalid` if a surrogate stands unpaired. Uses the
// processor's vector kernels where it has them; `portable_utf8_length` never does.
[[nodiscard]] std::size_t utf8_length(std::u16string_view units) noexcept;
[[nodiscard]] std::size_t portable_utf8_length(std::u16string_view units) noexcept;

// Writes the bytes of `units`, which utf8_length accepted, to `out`, which is exactly that long.
// Uses the processor's vector kernels where it has them.
void to_utf8(std::u16string_view units, std::span<char> out) noexcept;

// The same without the kernels: what a processor without them runs, kept callable so that tests
// compare the two.
void portable_to_utf8(std::u16string_view units, std::span<char> out) noexcept;

} // namespace vyr::cld::bridge::utf8
