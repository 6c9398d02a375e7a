#include "frame/time.h"

#include <gtest/gtest.h>

#include <climits>

namespace vyr::cld::test {
namespace {

using bridge::marshal_as;
using VyrCldapi::DateTime;
using VyrCldapi::DateTimeKind;
using VyrCldapi::TimeSpan;

TEST(TickSpan, PassesTheTickCountUnchanged)
{
    for (const long long count : {0LL, -1LL, 1LL, LLONG_MIN, LLONG_MAX}) {
        EXPECT_EQ(marshal_as<TimeSpan>(Ticks(count)).Ticks, count);
    }
}

TEST(TimePoint, CountsFromUnixEpochAndIgnoresTheKind)
{
    struct Case {
        std::int64_t service_ticks;
        long long host_ticks;
    };
    const Case cases[] = {
        {621355968000000000, 0},                    // 1970-01-01
        {0, -621355968000000000},                   // 0001-01-01
        {621355968000000001, 1},                    // one tick later
        {3155378975999999999, 2534023007999999999}, // 9999-12-31 23:59:59.9999999
    };
    for (const auto& c : cases) {
        for (const auto kind : {DateTimeKind::Unspecified, DateTimeKind::Utc, DateTimeKind::Local}) {
            EXPECT_EQ(marshal_as<TimePoint>(DateTime{c.service_ticks, kind}).time_since_epoch().count(), c.host_ticks);
        }
    }
}

TEST(TimePoint, ADateTimeThatWouldOverflowIsRefusedNotWrapped)
{
    EXPECT_THROW((void)marshal_as<TimePoint>(DateTime{LLONG_MIN, DateTimeKind::Utc}), VyrCldapi::Exception);
}

} // namespace
} // namespace vyr::cld::test
