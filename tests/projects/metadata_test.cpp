#include "projects/service_objects.h"
#include "support/locales.h"

#include <cstdint>
#include <limits>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::Return;
namespace api = VyrCldapiIntegration;

constexpr std::int64_t ticks_at_1970 = 621355968000000000;

Ref<svc::ProjectMetadata> metadata()
{
    auto object = std::make_shared<svc::ProjectMetadata>();
    object->id = u("project-7");
    object->size = 1'500'000;
    object->sizeStatus = u("Calculated");
    object->sizeTimestamp = VyrCldapi::DateTime{ticks_at_1970 + 10'000'000, VyrCldapi::DateTimeKind::Utc};
    object->coordinateReferenceSystem = u("EPSG:25833");
    object->canUpdateCoordinateReferenceSystem = true;
    object->appTypeSizes = {app_type_size(u("dwg"), 10), app_type_size(u("ifc"), 20)};
    return object;
}

class ProjectMetadataQuery : public ServiceTest {
protected:
    std::optional<ProjectMetadata> call_with(Ref<svc::ProjectMetadata> answer)
    {
        EXPECT_CALL(service, GetProjectMetadata(_)).WillOnce(Return(std::move(answer)));
        int responsecode = 0;
        return api::GetProjectMetadata(responsecode);
    }
};

TEST_F(ProjectMetadataQuery, CarriesEveryField)
{
    const auto result = call_with(metadata());
    ASSERT_TRUE(result);
    EXPECT_EQ(result->id, "project-7");
    EXPECT_EQ(result->size, 1'500'000);
    EXPECT_EQ(result->sizeStatus, "Calculated");
    EXPECT_EQ(result->sizeTimestamp.time_since_epoch().count(), 10'000'000);
    EXPECT_EQ(result->coordinateReferenceSystem, "EPSG:25833");
    EXPECT_TRUE(result->canUpdateCoordinateReferenceSystem);
    EXPECT_EQ(fields(result->appTypeSizes), (std::vector<fields_of<AppTypeSize>>{{"dwg", 10}, {"ifc", 20}}));
}

TEST_F(ProjectMetadataQuery, NullAnswerIsAbsent)
{
    EXPECT_FALSE(call_with(nullptr).has_value());
}

// Unlike every other record, metadata reads null texts as empty ones; the rest still converts.
TEST_F(ProjectMetadataQuery, NullTextsBecomeEmptyTexts)
{
    auto object = metadata();
    object->id = nullptr;
    object->sizeStatus = nullptr;
    object->coordinateReferenceSystem = nullptr;
    object->canUpdateCoordinateReferenceSystem = false;
    object->size = -5;
    object->appTypeSizes = {app_type_size(nullptr, 3), app_type_size(u(""), 4)};

    const auto result = call_with(object);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->id, "");
    EXPECT_EQ(result->sizeStatus, "");
    EXPECT_EQ(result->coordinateReferenceSystem, "");
    EXPECT_FALSE(result->canUpdateCoordinateReferenceSystem);
    EXPECT_EQ(result->size, -5);
    EXPECT_EQ(result->sizeTimestamp.time_since_epoch().count(), 10'000'000);
    EXPECT_EQ(fields(result->appTypeSizes), (std::vector<fields_of<AppTypeSize>>{{"", 3}, {"", 4}}));
}

TEST_F(ProjectMetadataQuery, AppTypeSizesKeepOrderDuplicatesAndSigns)
{
    auto object = metadata();
    const auto lowest = std::numeric_limits<std::int64_t>::min();
    object->appTypeSizes = {app_type_size(u("ifc"), -1), app_type_size(u("dwg"), lowest), app_type_size(u("ifc"), -1)};
    const auto result = call_with(object);
    ASSERT_TRUE(result);
    EXPECT_EQ(fields(result->appTypeSizes),
              (std::vector<fields_of<AppTypeSize>>{{"ifc", -1}, {"dwg", lowest}, {"ifc", -1}}));
}

TEST_F(ProjectMetadataQuery, NullAppTypeSizeListIsNoSizes)
{
    auto object = metadata();
    object->appTypeSizes = nullptr;
    const auto result = call_with(object);
    ASSERT_TRUE(result);
    EXPECT_TRUE(result->appTypeSizes.empty());
}

TEST_F(ProjectMetadataQuery, NullAppTypeSizeEntryLosesTheWholeRecord)
{
    auto object = metadata();
    object->appTypeSizes = {app_type_size(u("dwg"), 1), nullptr};
    EXPECT_FALSE(call_with(object).has_value());
}

// Null reads as empty, but a text that fails to convert still fails the call.
TEST_F(ProjectMetadataQuery, UnconvertibleTextIsStillAFailureUnderAnUnusableCodesetLinuxOnly)
{
    EXPECT_CALL(service, GetProjectMetadata(_)).WillOnce(Return(metadata()));
    int responsecode = 0;
    ThreadLocale guard(unconvertible_locale);
    EXPECT_FALSE(api::GetProjectMetadata(responsecode).has_value());
}

struct Stamp {
    const char* name;
    VyrCldapi::DateTime service;
    long long expected_ticks;
};

class SizeTimestamp : public ProjectMetadataQuery, public ::testing::WithParamInterface<Stamp> {};

// Ticks since 1970 with no zone shift: the kind of the service's date-time plays no part.
TEST_P(SizeTimestamp, CountsTicksFrom1970IgnoringTheKind)
{
    auto object = metadata();
    object->sizeTimestamp = GetParam().service;
    const auto result = call_with(object);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->sizeTimestamp.time_since_epoch().count(), GetParam().expected_ticks);
}

using Kind = VyrCldapi::DateTimeKind;
INSTANTIATE_TEST_SUITE_P(Stamps, SizeTimestamp,
                         ::testing::Values(Stamp{"Year1", {0, Kind::Unspecified}, -621355968000000000},
                                           Stamp{"Epoch", {ticks_at_1970, Kind::Utc}, 0},
                                           Stamp{"EpochLocal", {ticks_at_1970, Kind::Local}, 0},
                                           Stamp{"OneTickBeforeEpoch", {ticks_at_1970 - 1, Kind::Local}, -1},
                                           // 2024-02-29 12:00:00, whatever the kind.
                                           Stamp{"LeapDayLocal", {638448048000000000, Kind::Local}, 17092080000000000},
                                           Stamp{"LeapDayUtc", {638448048000000000, Kind::Utc}, 17092080000000000}),
                         [](const auto& test) { return std::string(test.param.name); });

} // namespace
} // namespace vyr::cld::test
