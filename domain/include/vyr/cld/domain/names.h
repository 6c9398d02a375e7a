#pragma once

#include <VyrCldapi/Values.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Names, identifiers and times as the store keeps them, by the rules every back end applies: a
// file's name is UTF-8 relative to its space with '/' between folders, and two names may not
// differ by case alone.
namespace vyr::cld::domain {

// A name that may not be used; the operation answers 400 and touches nothing.
struct UnsafePath : VyrCldapi::Exception {
    UnsafePath() : Exception(VyrCldapi::ExceptionKind::Argument, "The path may not be used.") {}
};

inline constexpr std::size_t max_name_bytes = 255;

// Prefix of the names the library writes beside a space's files (temporary files, the working
// folder's journal); never a project file.
inline constexpr std::string_view temporary_prefix = ".vyrcld-";

// Whether UTF-8 text holds U+FFFD. The host's text conversion puts it where it met bytes it could
// not read, so such a name may stand for another file's (or folder's) real name: it is never used
// as a path, because acting on the one literally so named would act on the wrong one.
bool stands_for_unreadable(std::string_view utf8);

// Whether UTF-8 text holds a bidirectional control (U+061C, U+200E, U+200F, U+202A to U+202E,
// U+2066 to U+2069). Shown, one reorders the characters after it: "invoice\u202Efdp.exe" reads as
// "invoiceexe.pdf", so a name may disguise its extension.
bool holds_bidi_control(std::string_view utf8);

struct Name {
    std::string relative; // '/'-separated UTF-8, never empty, no "." or ".." parts
    std::string key;      // case-folded `relative`: two files of a space may not share it
};

// `path` (parts separated by '/' or '\\', empty and "." parts ignored) checked as a file's name
// in a space: no "..", no control character, U+FFFD or bidirectional control, no part longer
// than max_name_bytes or starting with temporary_prefix. Raises UnsafePath.
Name checked_name(std::string_view path);

// UTF-16 of UTF-8 text; a damaged byte gives a replacement character rather than a failure.
std::u16string utf16(std::string_view utf8);

// UTF-16 as UTF-8; nothing for an unpaired surrogate.
std::optional<std::string> utf8(std::u16string_view utf16);

// Case-folded UTF-8 (Unicode full case folding; the invariant lower case on Windows), for names that must differ by more than case.
std::string folded(std::string_view utf8);

using Millis = std::int64_t;
Millis to_millis(std::chrono::system_clock::time_point time);

// "2026-12-07T11:40:06.123Z".
std::string iso_time(Millis time);

// 32 random hex digits.
std::string new_id();
// Hex digits of that many random bytes: secrets and ids.
std::string random_hex(std::size_t bytes);

} // namespace vyr::cld::domain
