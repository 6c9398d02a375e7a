#include "projects/records.h"
#include "projects/service_objects.h"

#include <climits>
#include <map>

namespace vyr::cld::test {
namespace {

using bridge::marshal_as;
using bridge::partitions_by_project;
using ::testing::_;
using ::testing::Return;
namespace api = VyrCldapiIntegration;

using Entries = List<Ref<svc::PartitionTagsInProject>>;
using Tags = List<Ref<svc::PartitionTag>>;

// Map contents in key order, so that whole maps compare and print.
std::map<std::string, std::vector<std::tuple<std::string, std::string, int>>> sorted(const partitions_by_project& map)
{
    std::map<std::string, std::vector<std::tuple<std::string, std::string, int>>> result;
    for (const auto& [key, partitions] : map) {
        result[key] = fields(partitions);
    }
    return result;
}

struct Metadata {
    const char* name;
    std::optional<int> service_version;
    int expected;
};

class PartitionVersion : public ServiceTest, public ::testing::WithParamInterface<Metadata> {};

// A partition the service has no metadata for reads exactly like one at version 0.
TEST_P(PartitionVersion, ComesFromClientMetadataOrIsZero)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetPartitionInfo(_, _, _))
        .WillOnce(Return(partition_tag(u("west"), u("p-1"), GetParam().service_version)));
    const auto result = api::GetPartitionInfo("project", "p-1", responsecode);
    ASSERT_TRUE(result);
    EXPECT_EQ(fields(*result), std::tuple("west", "p-1", GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Versions, PartitionVersion,
                         ::testing::Values(Metadata{"NullMetadata", std::nullopt, 0}, Metadata{"Zero", 0, 0},
                                           Metadata{"Positive", 7, 7}, Metadata{"Negative", -2, -2},
                                           Metadata{"Lowest", INT_MIN, INT_MIN}),
                         [](const auto& test) { return std::string(test.param.name); });

static_assert(std::is_base_of_v<ProjectTag, ProjectPartition> && std::is_convertible_v<ProjectPartition*, ProjectTag*>,
              "a partition must be usable wherever a tag is");

std::string describe(const ProjectTag& tag)
{
    return tag.displayName + "/" + tag.id;
}

using PartitionAsTag = ServiceTest;

TEST_F(PartitionAsTag, KeepsNameAndIdAndDropsMetadata)
{
    int responsecode = 0;
    EXPECT_CALL(service, CreateProjectPartitionTag(_, _, _, _)).WillOnce(Return(partition_tag(u("east"), u("p-2"), 4)));
    const auto created = api::CreateProjectPartitionTag("project", "east", 4, responsecode);
    ASSERT_TRUE(created);

    EXPECT_EQ(describe(*created), "east/p-2");
    const ProjectTag sliced = *created;
    EXPECT_EQ(fields(sliced), std::tuple("east", "p-2"));
}

class PartitionsByProject : public ServiceTest {
protected:
    std::optional<partitions_by_project> call_with(Entries answer)
    {
        EXPECT_CALL(service, GetAllAccessibleProjectPartitions(_)).WillOnce(Return(std::move(answer)));
        int responsecode = 0;
        return api::GetAllAccessibleProjectPartitions(responsecode);
    }
};

TEST_F(PartitionsByProject, NullListIsAbsentButEmptyListIsAnEmptyMap)
{
    EXPECT_FALSE(call_with(nullptr).has_value());

    const auto empty = call_with(empty_list<Ref<svc::PartitionTagsInProject>>());
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->empty());
}

TEST_F(PartitionsByProject, GroupsEachProjectsPartitionsInServiceOrder)
{
    const auto map = call_with(
        {project_partitions(u("alpha"), {partition_tag(u("b"), u("2"), 1), partition_tag(u("a"), u("1"), std::nullopt),
                                         partition_tag(u("b"), u("2"), 1)}),
         project_partitions(u("beta"), {partition_tag(u("c"), u("3"), 5)})});
    ASSERT_TRUE(map);
    EXPECT_EQ(sorted(*map), (std::map<std::string, std::vector<std::tuple<std::string, std::string, int>>>{
                                {"alpha", {{"b", "2", 1}, {"a", "1", 0}, {"b", "2", 1}}}, {"beta", {{"c", "3", 5}}}}));
}

TEST_F(PartitionsByProject, ProjectWithNullOrEmptyTagsHasAnEmptyVector)
{
    const auto map = call_with({project_partitions(u("null-tags"), nullptr),
                                project_partitions(u("no-tags"), empty_list<Ref<svc::PartitionTag>>())});
    ASSERT_TRUE(map);
    EXPECT_EQ(sorted(*map), (std::map<std::string, std::vector<std::tuple<std::string, std::string, int>>>{
                                {"null-tags", {}}, {"no-tags", {}}}));
}

// The later entry replaces the earlier one; they are not merged, and an empty later entry
// still wins.
TEST_F(PartitionsByProject, LastEntryForARepeatedProjectWins)
{
    const auto map = call_with({project_partitions(u("p"), {partition_tag(u("first"), u("1"), 1)}),
                                project_partitions(u("q"), {partition_tag(u("other"), u("9"), 9)}),
                                project_partitions(u("p"), {partition_tag(u("second"), u("2"), 2)}),
                                project_partitions(u("q"), empty_list<Ref<svc::PartitionTag>>())});
    ASSERT_TRUE(map);
    EXPECT_EQ(sorted(*map), (std::map<std::string, std::vector<std::tuple<std::string, std::string, int>>>{
                                {"p", {{"second", "2", 2}}}, {"q", {}}}));
}

TEST_F(PartitionsByProject, KeysAreCaseSensitive)
{
    const auto map = call_with({project_partitions(u("Project"), {partition_tag(u("upper"), u("1"), 1)}),
                                project_partitions(u("project"), {partition_tag(u("lower"), u("2"), 2)})});
    ASSERT_TRUE(map);
    EXPECT_EQ(sorted(*map), (std::map<std::string, std::vector<std::tuple<std::string, std::string, int>>>{
                                {"Project", {{"upper", "1", 1}}}, {"project", {{"lower", "2", 2}}}}));
}

TEST_F(PartitionsByProject, OneBadEntryOrPartitionLosesTheWholeMap)
{
    const auto good = project_partitions(u("good"), {partition_tag(u("d"), u("1"), 1)});
    const std::vector<std::pair<const char*, Entries>> broken{
        {"null entry", {good, nullptr}},
        {"null project id", {good, project_partitions(nullptr, empty_list<Ref<svc::PartitionTag>>())}},
        {"null partition", {good, project_partitions(u("p"), {partition_tag(u("d"), u("2"), 1), nullptr})}},
        {"null display name", {good, project_partitions(u("p"), {partition_tag(nullptr, u("2"), 1)})}},
        {"null partition id", {project_partitions(u("p"), {partition_tag(u("d"), nullptr, 1)}), good}},
    };
    for (const auto& [what, entries] : broken) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(call_with(entries).has_value());
    }
}

// All of a repeated project's entries share one key, so only reserving by the list's count,
// not by the keys that end up stored, gives this many buckets.
TEST(PartitionsByProjectConversion, ReservesBucketsForEveryEntryBeforeInserting)
{
    constexpr std::size_t count = 200;
    auto entries = Entries::WithCapacity(count);
    for (std::size_t i = 0; i < count; ++i) {
        entries.Add(project_partitions(u("same"), empty_list<Ref<svc::PartitionTag>>()));
    }
    const auto map = marshal_as<partitions_by_project>(entries);
    EXPECT_EQ(map.size(), 1u);
    EXPECT_GE(static_cast<double>(map.bucket_count()), static_cast<double>(count) / map.max_load_factor());
}

TEST(PartitionsByProjectConversion, NullListIsAnEmptyMapOrAbsence)
{
    EXPECT_TRUE(marshal_as<partitions_by_project>(Entries(nullptr)).empty());
    EXPECT_FALSE(marshal_as<std::optional<partitions_by_project>>(Entries(nullptr)).has_value());
}

} // namespace
} // namespace vyr::cld::test
