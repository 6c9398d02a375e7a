#pragma once

#include <VyrCldapi/Values.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// Text and time as the store keeps them: UTF-8 text, Unix milliseconds.
namespace vyr::cld::local {

// The failures of the layers below the handlers are service failures, so that one which leaves
// the library is still the client's failure; a handler answers each with its response code.

// Text that is not well-formed UTF-16.
struct InvalidText : VyrCldapi::Exception {
    InvalidText() : Exception(VyrCldapi::ExceptionKind::Argument, "The text is not well-formed UTF-16.") {}
};

// UTF-8 of a service string. Raises ArgumentNull for null and InvalidText for text that is not
// well-formed UTF-16 (an unpaired surrogate).
std::string utf8(const VyrCldapi::String& text, std::string_view argument);

VyrCldapi::String service_text(std::string_view utf8);

// Case-folded UTF-8, for names that must differ by more than case.
std::string folded(std::string_view utf8);

using Millis = std::int64_t;
Millis to_millis(std::chrono::system_clock::time_point time);

// "2026-12-07T11:40:06.123Z".
std::string iso_time(Millis time);

// Ticks since 0001-01-01 in UTC, as the service's date-time counts them.
VyrCldapi::DateTime date_time(Millis time);

// 32 random hex digits.
std::string new_id();

// Raises the service failure of `kind`.
[[noreturn]] void fail(VyrCldapi::ExceptionKind kind, std::string_view message);

} // namespace vyr::cld::local
