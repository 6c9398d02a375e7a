#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/publishing.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <limits>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::DoAll;
using ::testing::Eq;
using ::testing::Return;
using ::testing::SaveArg;
using ::testing::SetArgReferee;
using ::testing::Throw;
using Status = VyrCldapi::ApiModels::WorkflowStatus;
namespace api = VyrCldapiIntegration;

const VyrCldapi::Exception failure(VyrCldapi::ExceptionKind::InvalidOperation, "service failure");

using TwoDimensionalUpdate = ServiceTest;

TEST_F(TwoDimensionalUpdate, PassesEveryArgumentInDeclaredOrder)
{
    int responsecode = 0;
    EXPECT_CALL(service, NotifyOnlineViewer2dModelUpdate(Eq(List<String>{u"b.dwg", u"a.dwg", u"b.dwg"}), 25833,
                                                         Eq(String(u"new layout")), Eq(String(u"logical-1")), _))
        .WillOnce(Return(String(u"update-9")));
    EXPECT_EQ(api::NotifyOnlineViewer2dModelUpdate({"b.dwg", "a.dwg", "b.dwg"}, 25833, "new layout", "logical-1",
                                                   responsecode),
              std::optional<std::string>("update-9"));
}

TEST_F(TwoDimensionalUpdate, EmptyFilesReachTheServiceAsAnEmptyListNotNull)
{
    int responsecode = 0;
    List<String> received = nullptr;
    EXPECT_CALL(service, NotifyOnlineViewer2dModelUpdate(_, _, _, _, _))
        .WillOnce(DoAll(SaveArg<0>(&received), Return(String(u"id"))));
    EXPECT_CALL(service, NotifyOnlineViewer3dModelUpdate(_, _, _, _, _, _, _)).WillOnce(SaveArg<0>(&received));

    EXPECT_TRUE(api::NotifyOnlineViewer2dModelUpdate({}, 0, "", "", responsecode));
    EXPECT_FALSE(received.IsNull());
    EXPECT_EQ(received.Count(), 0u);

    received = nullptr;
    EXPECT_TRUE(api::NotifyOnlineViewer3dModelUpdate({}, 0, "", "", 0.0, 0.0, responsecode));
    EXPECT_FALSE(received.IsNull());
    EXPECT_EQ(received.Count(), 0u);
}

// Empty text is an answer; null is none.
TEST_F(TwoDimensionalUpdate, EmptyAnswerIsEngagedButNullIsAbsent)
{
    int responsecode = 0;
    EXPECT_CALL(service, NotifyOnlineViewer2dModelUpdate(_, _, _, _, _))
        .WillOnce(Return(String(u"")))
        .WillOnce(DoAll(SetArgReferee<4>(503), Return(String(nullptr))));
    EXPECT_EQ(api::NotifyOnlineViewer2dModelUpdate({"a"}, 1, "d", "l", responsecode), std::optional<std::string>(""));
    EXPECT_EQ(api::NotifyOnlineViewer2dModelUpdate({"a"}, 1, "d", "l", responsecode), std::nullopt);
    EXPECT_EQ(responsecode, 503);
}

struct StatusName {
    const char* name;
    Status service;
    std::optional<WorkflowStatus> expected;
};

class UpdateStatus : public ServiceTest, public ::testing::WithParamInterface<StatusName> {};

// By name, whatever number the service gives it; a state without a name here is absent, not
// Scheduled.
TEST_P(UpdateStatus, MapsByName)
{
    int responsecode = 0;
    EXPECT_CALL(service, Get2dModelUpdateStatus(Eq(String(u"update-9")), _)).WillOnce(Return(GetParam().service));
    EXPECT_EQ(api::Get2dModelUpdateStatus("update-9", responsecode), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Names, UpdateStatus,
                         ::testing::Values(StatusName{"Scheduled", Status::Scheduled, WorkflowStatus::Scheduled},
                                           StatusName{"InProgress", Status::InProgress, WorkflowStatus::InProgress},
                                           StatusName{"Success", Status::Success, WorkflowStatus::Success},
                                           StatusName{"Failed", Status::Failed, WorkflowStatus::Failed},
                                           StatusName{"Cancelled", Status::Cancelled, std::nullopt},
                                           StatusName{"Undeclared", static_cast<Status>(0), std::nullopt}),
                         [](const auto& test) { return std::string(test.param.name); });

struct Offsets {
    const char* name;
    double x;
    double y;
};

class ThreeDimensionalUpdate : public ServiceTest, public ::testing::WithParamInterface<Offsets> {};

// Compared as bits, so that -0.0 versus 0.0 or a changed NaN payload would show.
TEST_P(ThreeDimensionalUpdate, PassesOffsetsBitForBit)
{
    int responsecode = 0;
    double x = 1.0;
    double y = 1.0;
    EXPECT_CALL(service, NotifyOnlineViewer3dModelUpdate(Eq(List<String>{u"m.ifc"}), 4326, Eq(String(u"desc")),
                                                         Eq(String(u"logical")), _, _, _))
        .WillOnce(DoAll(SaveArg<4>(&x), SaveArg<5>(&y)));
    EXPECT_TRUE(api::NotifyOnlineViewer3dModelUpdate({"m.ifc"}, 4326, "desc", "logical", GetParam().x, GetParam().y,
                                                     responsecode));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(x), std::bit_cast<std::uint64_t>(GetParam().x));
    EXPECT_EQ(std::bit_cast<std::uint64_t>(y), std::bit_cast<std::uint64_t>(GetParam().y));
}

INSTANTIATE_TEST_SUITE_P(Values, ThreeDimensionalUpdate,
                         ::testing::Values(Offsets{"HalfAndBillion", -0.5, 1e9}, Offsets{"NegativeZero", -0.0, 0.0},
                                           Offsets{"Extremes", std::numeric_limits<double>::denorm_min(),
                                                   -std::numeric_limits<double>::max()},
                                           Offsets{"NanPayloadAndInfinity",
                                                   std::bit_cast<double>(std::uint64_t{0x7ff8000000000123}),
                                                   -std::numeric_limits<double>::infinity()},
                                           Offsets{"InfinityAndNanPayload", std::numeric_limits<double>::infinity(),
                                                   std::bit_cast<double>(std::uint64_t{0xfff0000000000321})}),
                         [](const auto& test) { return std::string(test.param.name); });

using PublishingErrorCode = ServiceTest;

TEST_F(PublishingErrorCode, IsWrittenByTheServiceAlone)
{
    int responsecode = 5;
    EXPECT_CALL(service, NotifyOnlineViewer3dModelUpdate(_, _, _, _, _, _, _))
        .WillOnce([&](auto&&, int, auto&&, auto&&, double, double, int& rc) {
            EXPECT_EQ(&rc, &responsecode);
            EXPECT_EQ(rc, 5);
            rc = 409;
        });
    EXPECT_TRUE(api::NotifyOnlineViewer3dModelUpdate({"m"}, 1, "d", "l", 0.0, 0.0, responsecode));
    EXPECT_EQ(responsecode, 409);
}

TEST_F(PublishingErrorCode, SurvivesAServiceFailureRaisedAfterItWasWritten)
{
    int responsecode = 0;
    EXPECT_CALL(service, NotifyOnlineViewer2dModelUpdate(_, _, _, _, _))
        .WillOnce(DoAll(SetArgReferee<4>(11), Throw(failure)));
    EXPECT_CALL(service, Get2dModelUpdateStatus(_, _)).WillOnce(DoAll(SetArgReferee<1>(12), Throw(failure)));
    EXPECT_CALL(service, NotifyOnlineViewer3dModelUpdate(_, _, _, _, _, _, _))
        .WillOnce(DoAll(SetArgReferee<6>(13), Throw(failure)));

    EXPECT_FALSE(api::NotifyOnlineViewer2dModelUpdate({"a"}, 1, "d", "l", responsecode));
    EXPECT_EQ(responsecode, 11);
    EXPECT_FALSE(api::Get2dModelUpdateStatus("u", responsecode));
    EXPECT_EQ(responsecode, 12);
    EXPECT_FALSE(api::NotifyOnlineViewer3dModelUpdate({"a"}, 1, "d", "l", 0.0, 0.0, responsecode));
    EXPECT_EQ(responsecode, 13);
}

TEST_F(PublishingErrorCode, KeepsTheHostsValueWhenTheServiceWritesNothingAndFails)
{
    int responsecode = -8;
    EXPECT_CALL(service, Get2dModelUpdateStatus(_, _)).WillOnce(Throw(failure));
    EXPECT_FALSE(api::Get2dModelUpdateStatus("u", responsecode));
    EXPECT_EQ(responsecode, -8);
}

// One argument that does not convert, the others empty: the service is never called.
struct Unconvertible {
    const char* argument;
    std::function<bool(int&)> failed;
};

class PublishingArgumentFailure : public ServiceTest, public ::testing::WithParamInterface<Unconvertible> {};

TEST_P(PublishingArgumentFailure, StopsTheCallBeforeTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    int responsecode = 77;
    {
        ThreadLocale guard(unconvertible_locale);
        EXPECT_TRUE(GetParam().failed(responsecode));
    }
    EXPECT_EQ(responsecode, 77);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTextArgument, PublishingArgumentFailure,
    ::testing::Values(
        Unconvertible{"Update2d_fileAmongEmptyOnes",
                      [](int& rc) {
                          return !api::NotifyOnlineViewer2dModelUpdate({"", "f", ""}, 1, "", "", rc);
                      }},
        Unconvertible{"Update2d_description",
                      [](int& rc) { return !api::NotifyOnlineViewer2dModelUpdate({}, 1, "d", "", rc); }},
        Unconvertible{"Update2d_logicalId",
                      [](int& rc) { return !api::NotifyOnlineViewer2dModelUpdate({}, 1, "", "l", rc); }},
        Unconvertible{"Status_updateId", [](int& rc) { return !api::Get2dModelUpdateStatus("u", rc); }},
        Unconvertible{"Update3d_file",
                      [](int& rc) { return !api::NotifyOnlineViewer3dModelUpdate({"f"}, 1, "", "", 0.0, 0.0, rc); }},
        Unconvertible{"Update3d_description",
                      [](int& rc) { return !api::NotifyOnlineViewer3dModelUpdate({}, 1, "d", "", 0.0, 0.0, rc); }},
        Unconvertible{"Update3d_logicalId",
                      [](int& rc) { return !api::NotifyOnlineViewer3dModelUpdate({}, 1, "", "l", 0.0, 0.0, rc); }}),
    [](const auto& test) { return std::string(test.param.argument); });

} // namespace
} // namespace vyr::cld::test
