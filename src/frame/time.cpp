#include "frame/time.h"

#include "frame/failures.h"

namespace vyr::cld::bridge {

TimePoint marshaller<TimePoint, VyrCldapi::DateTime>::convert(const VyrCldapi::DateTime& time)
{
    long long since_epoch = 0;
    // Only a date-time far outside the calendar's range can overflow; refuse it rather than wrap.
    if (__builtin_sub_overflow(time.Ticks, unix_epoch_ticks, &since_epoch)) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::ArgumentOutOfRange,
                                   "The date-time is outside the range of a time point.");
    }
    return TimePoint(Ticks(since_epoch));
}

} // namespace vyr::cld::bridge
