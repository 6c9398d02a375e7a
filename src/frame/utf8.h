#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// UTF-8 <-> UTF-16 for well-formed text only, in plain portable code that the compiler vectorises.
// Each direction is a length pass, so the caller can allocate exactly once, and a conversion of
// what that pass accepted. Anything else is the general conversion's to handle (and replace):
// this path never decides what an invalid sequence becomes.
namespace vyr::cld::bridge::utf8 {

// What the length passes return for text that is not well-formed.
inline constexpr std::size_t invalid = static_cast<std::size_t>(-1);

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
