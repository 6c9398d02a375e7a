#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The platform's conversion between host bytes and UTF-16: one source per platform, chosen by the
// build. Everything about text that is the same everywhere (size checks, the ASCII shortcut,
// lists, optionals) stays in front of it and never asks which platform it runs on.
namespace vyr::cld::bridge {

// The calling thread's host encoding, read once per conversion so that one conversion never
// mixes two.
struct host_encoding {
    std::uintptr_t native;  // the engine's own handle on it: a codeset name, a code page
    bool utf8;              // UTF-8
    bool ascii_transparent; // every ASCII byte is the UTF-16 unit of the same value, both ways
};

} // namespace vyr::cld::bridge

namespace vyr::cld::bridge::engine {

using encoding = host_encoding;

[[nodiscard]] encoding thread_encoding() noexcept;

// Non-empty text within the size limit. Each asks for the converted length first, then converts
// once into storage of exactly that length; they raise the widening or narrowing failure where
// the platform yields nothing, and the size-limit failure where the result would not fit.
[[nodiscard]] std::u16string widen(std::string_view bytes, const encoding& host);
[[nodiscard]] std::string narrow(std::u16string_view units, const encoding& host);

// Storage for `units` UTF-16 units; running out of memory here is the memory failure.
[[nodiscard]] std::u16string wide_storage(std::size_t units);

} // namespace vyr::cld::bridge::engine
