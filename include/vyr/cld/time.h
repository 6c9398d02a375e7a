#pragma once

#include <chrono>
#include <ratio>

// The boundary's two time types. They are only names: the types themselves are the standard
// library's, so a host may keep spelling them out and still call the same functions.
namespace vyr::cld {

/// A span of time in 100-nanosecond ticks, signed.
using Ticks = std::chrono::duration<long long, std::ratio<1, 10000000>>;

/// A point in time in 100-nanosecond ticks since 1970-01-01 00:00:00 on the system clock.
using TimePoint = std::chrono::time_point<std::chrono::system_clock, Ticks>;

} // namespace vyr::cld
