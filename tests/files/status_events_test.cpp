#include "support/service_values.h"
#include "support/mock_service.h"

#include <vyr/cld/files.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using ::testing::ElementsAre;
using ::testing::FieldsAre;
using ::testing::Return;
using ::testing::Throw;
using HostKind = vyr::cld::StatusEventType;
using ServiceKind = VyrCldapi::StatusEventType;

const Exception service_failure{ExceptionKind::InvalidOperation, "the service failed"};

Ref<VyrCldapi::StatusEvent> event(ServiceKind kind, std::int32_t status, String responseId)
{
    return std::make_shared<VyrCldapi::StatusEvent>(VyrCldapi::StatusEvent{kind, status, std::move(responseId)});
}

List<Ref<VyrCldapi::StatusEvent>> events(std::vector<Ref<VyrCldapi::StatusEvent>> items)
{
    return List<Ref<VyrCldapi::StatusEvent>>(std::move(items));
}

using StatusEvents = ServiceTest;

TEST_F(StatusEvents, EachEventBecomesOneRecordInTheServicesOrder)
{
    EXPECT_CALL(service, GetStatusEvents)
        .WillOnce(Return(events({event(ServiceKind::Locked, 0, u"A"), event(ServiceKind::Deleted, 3, u"B"),
                                 event(ServiceKind::Locked, std::numeric_limits<std::int32_t>::min(), u"Ø")})));
    const auto result = api::GetStatusEvents();
    EXPECT_THAT(result, ElementsAre(FieldsAre(HostKind::Locked, 0, "A"), FieldsAre(HostKind::Deleted, 3, "B"),
                                    FieldsAre(HostKind::Locked, std::numeric_limits<std::int32_t>::min(), "Ø")));
    // Reserved to the batch's count, not grown element by element.
    EXPECT_EQ(result.capacity(), 3u);
}

TEST_F(StatusEvents, EveryKindMapsByName)
{
    struct Row {
        ServiceKind service;
        HostKind host;
    };
    // The service numbers its kinds differently; only the names match.
    const std::array<Row, 12> rows{{
        {ServiceKind::HandlePendingTasks, HostKind::HandlePendingTasks},
        {ServiceKind::Download, HostKind::Download},
        {ServiceKind::Upload, HostKind::Upload},
        {ServiceKind::Rename, HostKind::Rename},
        {ServiceKind::Locked, HostKind::Locked},
        {ServiceKind::Unlocked, HostKind::Unlocked},
        {ServiceKind::Deleted, HostKind::Deleted},
        {ServiceKind::Swap, HostKind::Swap},
        {ServiceKind::CorruptFile, HostKind::CorruptFile},
        {ServiceKind::ConnectionStatus, HostKind::ConnectionStatus},
        {ServiceKind::ProjectCacheUpdated, HostKind::ProjectCacheUpdated},
        {ServiceKind::DirModelReloaded, HostKind::DirModelReloaded},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.service));
        EXPECT_CALL(service, GetStatusEvents).WillOnce(Return(events({event(row.service, 1, u"r")})));
        EXPECT_THAT(api::GetStatusEvents(), ElementsAre(FieldsAre(row.host, 1, "r")));
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(StatusEvents, AnEmptyResponseIdIsDeliveredAsEmptyText)
{
    EXPECT_CALL(service, GetStatusEvents).WillOnce(Return(events({event(ServiceKind::Upload, 2, u"")})));
    EXPECT_THAT(api::GetStatusEvents(), ElementsAre(FieldsAre(HostKind::Upload, 2, "")));
}

TEST_F(StatusEvents, NoBatchAnEmptyBatchAndAFailureAllGiveAnEmptyVector)
{
    EXPECT_CALL(service, GetStatusEvents)
        .WillOnce(Return(List<Ref<VyrCldapi::StatusEvent>>(nullptr)))
        .WillOnce(Return(events({})))
        .WillOnce(Throw(service_failure));
    EXPECT_TRUE(api::GetStatusEvents().empty());
    EXPECT_TRUE(api::GetStatusEvents().empty());
    EXPECT_TRUE(api::GetStatusEvents().empty());
}

// One event that cannot be converted, between two good ones, loses the whole batch: the host never
// receives a batch with a hole in it or an event with a made-up kind.
TEST_F(StatusEvents, OneEventThatDoesNotConvertEmptiesTheWholeBatch)
{
    struct Row {
        const char* name;
        Ref<VyrCldapi::StatusEvent> spoiler;
    };
    const std::array<Row, 4> rows{{
        {"a kind the host does not have", event(ServiceKind::Heartbeat, 0, u"B")},
        {"an undeclared kind number", event(static_cast<ServiceKind>(7), 0, u"B")},
        {"a null response id", event(ServiceKind::Swap, 0, nullptr)},
        {"a null event", nullptr},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_CALL(service, GetStatusEvents)
            .WillOnce(
                Return(events({event(ServiceKind::Locked, 0, u"A"), row.spoiler, event(ServiceKind::Swap, 0, u"C")})));
        EXPECT_TRUE(api::GetStatusEvents().empty());
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

} // namespace
} // namespace vyr::cld::test
