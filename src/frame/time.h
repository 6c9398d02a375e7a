#pragma once

#include "frame/marshal.h"

#include <VyrCldapi/Values.h>

#include <chrono>
#include <cstdint>
#include <ratio>

namespace vyr::cld::bridge {

using ticks = std::chrono::duration<long long, std::ratio<1, 10000000>>;
using tick_time_point = std::chrono::time_point<std::chrono::system_clock, ticks>;

// Ticks from 0001-01-01 to 1970-01-01: 719162 days.
inline constexpr std::int64_t unix_epoch_ticks = 621355968000000000;

// Passed through unchanged, negative and zero spans included.
template <> struct marshaller<VyrCldapi::TimeSpan, ticks> {
    static VyrCldapi::TimeSpan convert(ticks span) noexcept { return VyrCldapi::TimeSpan{span.count()}; }
};

// The date-time's kind is ignored: a local date-time reads as the same wall-clock time in UTC.
template <> struct marshaller<tick_time_point, VyrCldapi::DateTime> {
    static tick_time_point convert(const VyrCldapi::DateTime& time);
};

} // namespace vyr::cld::bridge
