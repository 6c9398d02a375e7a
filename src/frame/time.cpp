#include "frame/time.h"

#include "frame/failures.h"

#include <limits>

namespace vyr::cld::bridge {

TimePoint marshaller<TimePoint, VyrCldapi::DateTime>::convert(const VyrCldapi::DateTime& time)
{
    // Only a date-time far outside the calendar's range can overflow; refuse it rather than wrap.
    // Checked before subtracting, in plain C++, so that every compiler builds it.
    if (time.Ticks < std::numeric_limits<std::int64_t>::min() + unix_epoch_ticks) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::ArgumentOutOfRange,
                                   "The date-time is outside the range of a time point.");
    }
    return TimePoint(Ticks(time.Ticks - unix_epoch_ticks));
}

} // namespace vyr::cld::bridge
