#pragma once

#include "frame/marshal.h"

#include <VyrCldapi/Values.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Text and text lists. Host text is bytes in the calling thread's encoding (its locale's codeset on
// Linux, its ANSI code page on Windows); service text is UTF-16 or null.
namespace vyr::cld::bridge {

// Host bytes to service text, never null. Invalid bytes are replaced, not rejected.
[[nodiscard]] VyrCldapi::String widen(std::string_view text, const host_encoding& host);
[[nodiscard]] VyrCldapi::String widen(std::string_view text);

// Service text to host bytes; null fails. A character the encoding lacks becomes its default
// character.
[[nodiscard]] std::string narrow(const VyrCldapi::String& text, const host_encoding& host);
[[nodiscard]] std::string narrow(const VyrCldapi::String& text);

namespace reference {
// The general conversions through the platform's engine, without the hand-written path that
// widen and narrow take for well-formed UTF-8 and plain ASCII; tests compare the two.
[[nodiscard]] VyrCldapi::String widen(std::string_view text);
[[nodiscard]] std::string narrow(const VyrCldapi::String& text);
} // namespace reference

template <> struct marshaller<VyrCldapi::String, std::string_view> {
    static VyrCldapi::String convert(std::string_view text, const host_encoding& host) { return widen(text, host); }
};

template <> struct marshaller<VyrCldapi::String, std::string> {
    static VyrCldapi::String convert(const std::string& text, const host_encoding& host) { return widen(text, host); }
};

template <> struct marshaller<std::string, VyrCldapi::String> {
    static std::string convert(const VyrCldapi::String& text, const host_encoding& host) { return narrow(text, host); }
};

// Null is absence, not a failure.
template <> struct marshaller<std::optional<std::string>, VyrCldapi::String> {
    static std::optional<std::string> convert(const VyrCldapi::String& text, const host_encoding& host)
    {
        if (text.IsNull()) {
            return std::nullopt;
        }
        return narrow(text, host);
    }
};

// For the places where null service text reads as empty host text.
[[nodiscard]] inline std::string text_or_empty(const VyrCldapi::String& text, const host_encoding& host)
{
    return text.IsNull() ? std::string() : narrow(text, host);
}

[[nodiscard]] inline std::string text_or_empty(const VyrCldapi::String& text)
{
    return text.IsNull() ? std::string() : narrow(text);
}

template <> struct marshaller<VyrCldapi::List<VyrCldapi::String>, std::vector<std::string>> {
    static VyrCldapi::List<VyrCldapi::String> convert(const std::vector<std::string>& texts, const host_encoding& host)
    {
        auto list = VyrCldapi::List<VyrCldapi::String>::WithCapacity(texts.size());
        for (const auto& text : texts) {
            list.Add(widen(text, host));
        }
        return list;
    }
};

// An absent vector reaches the service as null, an empty one as an empty list.
template <> struct marshaller<VyrCldapi::List<VyrCldapi::String>, std::optional<std::vector<std::string>>> {
    static VyrCldapi::List<VyrCldapi::String> convert(const std::optional<std::vector<std::string>>& texts,
                                                      const host_encoding& host)
    {
        if (!texts) {
            return nullptr;
        }
        return marshal_as<VyrCldapi::List<VyrCldapi::String>>(*texts, host);
    }
};

// A null list or a null element fails the whole conversion; nothing partial is returned.
template <> struct marshaller<std::vector<std::string>, VyrCldapi::List<VyrCldapi::String>> {
    static std::vector<std::string> convert(const VyrCldapi::List<VyrCldapi::String>& texts, const host_encoding& host);
};

template <> struct marshaller<std::optional<std::uint64_t>, VyrCldapi::Nullable<std::uint64_t>> {
    static std::optional<std::uint64_t> convert(const VyrCldapi::Nullable<std::uint64_t>& number) { return number; }
};

} // namespace vyr::cld::bridge
