// Times: a span passes unchanged; a date-time becomes ticks since 1970 whatever its kind, or is
// refused exactly when that subtraction would overflow.
#include "frame/time.h"

#include <climits>
#include <cstdlib>
#include <cstring>

using namespace vyr::cld;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 9) {
        return 0;
    }
    long long ticks = 0;
    std::memcpy(&ticks, data, sizeof ticks);
    const auto kind = static_cast<VyrCldapi::DateTimeKind>(data[8] % 3);

    if (bridge::marshal_as<VyrCldapi::TimeSpan>(Ticks(ticks)).Ticks != ticks) {
        std::abort();
    }
    const bool representable = ticks >= LLONG_MIN + bridge::unix_epoch_ticks;
    try {
        const auto point = bridge::marshal_as<TimePoint>(VyrCldapi::DateTime{ticks, kind});
        if (!representable || point.time_since_epoch().count() != ticks - bridge::unix_epoch_ticks) {
            std::abort();
        }
    }
    catch (const VyrCldapi::Exception&) {
        if (representable) {
            std::abort();
        }
    }
    return 0;
}
