#pragma once

#include <vyr/cld/domain/names.h>

#include <VyrCldapi/Values.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

// Text and time as the store keeps them: UTF-8 text, Unix milliseconds.
namespace vyr::cld::local {

using domain::folded;
using domain::iso_time;
using domain::Millis;
using domain::new_id;
using domain::to_millis;

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

// Ticks since 0001-01-01 in UTC, as the service's date-time counts them.
VyrCldapi::DateTime date_time(Millis time);

// Raises the service failure of `kind`.
[[noreturn]] void fail(VyrCldapi::ExceptionKind kind, std::string_view message);

} // namespace vyr::cld::local
