#pragma once

#include <optional>
#include <string>
#include <string_view>

// The platform's Unicode, one source per platform chosen by the build: ICU outside Windows, the
// Win32 functions on it. Callers handle ASCII and empty text before they get here.
namespace vyr::cld::domain::platform {

// UTF-8 as UTF-16, with U+FFFD for what is not UTF-8; nothing when the platform fails.
[[nodiscard]] std::optional<std::u16string> utf16_of(std::string_view utf8);

// UTF-16 as UTF-8; nothing for an unpaired surrogate.
[[nodiscard]] std::optional<std::string> utf8_of(std::u16string_view utf16);

// UTF-16 with case told apart no more: two names equal here may not live side by side in one
// folder. Nothing when the platform fails.
[[nodiscard]] std::optional<std::u16string> case_folded(std::u16string_view utf16);

// The bytes of a collation key that orders names as people read them, one order for every user:
// numbers by value, accents beside their letters, case after everything else. Keys are stored, so
// they must agree within one store: one platform's key, never compared with another's. Nothing
// when the platform fails.
[[nodiscard]] std::optional<std::string> sort_key(std::u16string_view utf16);

} // namespace vyr::cld::domain::platform
