#pragma once

#include "frame/marshal.h"

#include <vyr/cld/time.h>

#include <VyrCldapi/Values.h>

#include <cstdint>

namespace vyr::cld::bridge {

// Ticks from 0001-01-01 to 1970-01-01: 719162 days.
inline constexpr std::int64_t unix_epoch_ticks = 621355968000000000;

// Passed through unchanged, negative and zero spans included.
template <> struct marshaller<VyrCldapi::TimeSpan, Ticks> {
    static VyrCldapi::TimeSpan convert(Ticks span) noexcept { return VyrCldapi::TimeSpan{span.count()}; }
};

// The date-time's kind is ignored: a local date-time reads as the same wall-clock time in UTC.
template <> struct marshaller<TimePoint, VyrCldapi::DateTime> {
    static TimePoint convert(const VyrCldapi::DateTime& time);
};

} // namespace vyr::cld::bridge
