#include "support/census.h"

#include "support/failure.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/ui.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::SaveArg;
using ::testing::Throw;

using HostKind = vyr::cld::ProgressEventType;
using ServiceKind = VyrCldapi::ProgressEventType;
using ProgressFunction = std::function<void(HostKind, double, const std::string&)>;

struct Notification {
    HostKind kind;
    double progress;
    std::string title;
};

// Installs a host function and hands the test the callback object the service received.
class ProgressTest : public ServiceTest {
protected:
    ProgressAction install(ProgressFunction function)
    {
        ProgressAction installed;
        EXPECT_CALL(service, SetCallbacks(_)).WillOnce(SaveArg<0>(&installed));
        VyrCldapiIntegration::SetCallbacks(std::move(function));
        return installed;
    }

    ProgressAction installRecorder()
    {
        return install([this](HostKind kind, double progress, const std::string& title) {
            received.push_back({kind, progress, title});
        });
    }

    std::vector<Notification> received;
};

// A host function that enters its copies in a census.
struct CountedProgress {
    Counted counted;
    int* calls;
    void operator()(HostKind, double, const std::string&) const { ++*calls; }
};

// Notifications reach the host converted: the kind by name, the progress bit for bit, the title
// as host text.

struct KindCase {
    ServiceKind service;
    HostKind host;
};

void PrintTo(const KindCase& kind, std::ostream* out)
{
    *out << "service " << static_cast<int>(kind.service) << ", host " << static_cast<int>(kind.host);
}

class ProgressKinds : public ProgressTest, public ::testing::WithParamInterface<KindCase> {};

TEST_P(ProgressKinds, ReachTheHostByName)
{
    const auto installed = installRecorder();
    installed(GetParam().service, 0.5, u"drawing.dwg");

    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].kind, GetParam().host);
    EXPECT_EQ(received[0].progress, 0.5);
    EXPECT_EQ(received[0].title, "drawing.dwg");
}

INSTANTIATE_TEST_SUITE_P(AllThree, ProgressKinds,
                         ::testing::Values(KindCase{ServiceKind::Upload, HostKind::Upload},
                                           KindCase{ServiceKind::Download, HostKind::Download},
                                           KindCase{ServiceKind::DeleteProgressBar, HostKind::DeleteProgressBar}));

TEST_F(ProgressTest, TheProgressNumberPassesBitForBit)
{
    const auto installed = installRecorder();
    const double values[] = {-0.0, 0.1, std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::infinity(),
                             std::bit_cast<double>(std::uint64_t{0x7FF8'0000'0000'1234})};
    for (const double value : values) {
        installed(ServiceKind::Download, value, u"");
    }

    ASSERT_EQ(received.size(), std::size(values));
    for (std::size_t i = 0; i < received.size(); ++i) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(received[i].progress), std::bit_cast<std::uint64_t>(values[i]));
    }
}

TEST_F(ProgressTest, AnEmptyTitleReachesTheHostAsEmptyText)
{
    const auto installed = installRecorder();
    installed(ServiceKind::Upload, 1.0, u"");
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].title, "");
}

// Failures inside a notification go back to the service's call, and the host is not called.

TEST_F(ProgressTest, AKindWithoutANameOfOursFailsBackToTheService)
{
    const auto installed = installRecorder();
    for (const auto kind : {ServiceKind::Indeterminate, static_cast<ServiceKind>(999)}) {
        EXPECT_THROW(installed(kind, 0.5, u"drawing.dwg"), std::bad_optional_access);
    }
    EXPECT_TRUE(received.empty());
}

TEST_F(ProgressTest, ANullTitleFailsBackToTheServiceBeforeTheKindIsLookedAt)
{
    const auto installed = installRecorder();
    for (const auto kind : {ServiceKind::Upload, ServiceKind::Indeterminate}) {
        const auto failure = failure_of([&] { installed(kind, 0.5, nullptr); });
        EXPECT_EQ(failure.Kind(), ExceptionKind::ArgumentNull);
        EXPECT_STREQ(failure.what(), "NULLPTR is not supported for this conversion.");
    }
    EXPECT_TRUE(received.empty());
}

TEST_F(ProgressTest, ATitleThatDoesNotConvertFailsBackToTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    const auto installed = installRecorder();
    ThreadLocale guard(unconvertible_locale);
    EXPECT_THROW(installed(ServiceKind::Upload, 0.5, u"drawing.dwg"), Exception);
    EXPECT_TRUE(received.empty());
}

TEST_F(ProgressTest, AnEmptyHostFunctionIsInstalledAndFailsEachNotification)
{
    const auto installed = install(ProgressFunction());
    ASSERT_TRUE(installed);
    EXPECT_THROW(installed(ServiceKind::Upload, 0.5, u"drawing.dwg"), std::bad_function_call);
}

TEST_F(ProgressTest, WhatTheHostFunctionRaisesGoesBackToTheService)
{
    const auto installed = install([](HostKind, double, const std::string& title) { throw std::runtime_error(title); });
    try {
        installed(ServiceKind::Download, 0.5, u"drawing.dwg");
        FAIL() << "the host's failure was swallowed";
    }
    catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "drawing.dwg");
    }
}

TEST_F(ProgressTest, AServiceFailureIsContainedAndTheUnusedCopyIsReleased)
{
    Census census;
    int calls = 0;
    EXPECT_CALL(service, SetCallbacks(_)).WillOnce(Throw(Exception(ExceptionKind::InvalidOperation, "busy")));
    EXPECT_NO_THROW(VyrCldapiIntegration::SetCallbacks(CountedProgress{Counted(census), &calls}));
    EXPECT_EQ(census.live(), 0);
}

// The host's function lives in the service's callback object: it survives the host's own copy and
// is destroyed once, when the service lets go of the object.

TEST_F(ProgressTest, TheInstalledCopyOutlivesTheHostsFunction)
{
    Census census;
    int calls = 0;
    std::optional<ProgressFunction> host{CountedProgress{Counted(census), &calls}};
    auto installed = install(*host);
    host.reset();
    EXPECT_EQ(census.live(), 1) << "only the service's copy is left";

    installed(ServiceKind::Upload, 0.5, u"drawing.dwg");
    EXPECT_EQ(calls, 1);

    installed = {};
    EXPECT_EQ(census.live(), 0) << "dropping the service's last reference releases it";
}

TEST_F(ProgressTest, AnExplicitReleaseDestroysTheCopyOnce)
{
    Census census;
    int calls = 0;
    auto installed = install(CountedProgress{Counted(census), &calls});
    ASSERT_EQ(census.live(), 1);

    installed.DisposeTarget();
    EXPECT_EQ(census.live(), 0);
    EXPECT_EQ(failure_of([&] { installed(ServiceKind::Upload, 0.5, u"drawing.dwg"); }).Kind(),
              ExceptionKind::InvalidOperation);
    EXPECT_EQ(calls, 0);

    installed.DisposeTarget();
    installed = {};
    EXPECT_EQ(census.destroyed, census.created) << "destroyed exactly once per copy";
}

TEST_F(ProgressTest, EachInstallationIsIndependent)
{
    Census firstCensus;
    Census secondCensus;
    int firstCalls = 0;
    int secondCalls = 0;
    auto first = install(CountedProgress{Counted(firstCensus), &firstCalls});
    auto second = install(CountedProgress{Counted(secondCensus), &secondCalls});

    first(ServiceKind::Upload, 0.5, u"a");
    second(ServiceKind::Upload, 0.5, u"b");
    second(ServiceKind::Upload, 0.5, u"c");
    EXPECT_EQ(firstCalls, 1);
    EXPECT_EQ(secondCalls, 2);

    first = {};
    EXPECT_EQ(firstCensus.live(), 0);
    EXPECT_EQ(secondCensus.live(), 1);
    second(ServiceKind::Upload, 0.5, u"d");
    EXPECT_EQ(secondCalls, 3);
}

} // namespace
} // namespace vyr::cld::test
