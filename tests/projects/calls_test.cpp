#include "projects/service_objects.h"
#include "support/locales.h"

#include <climits>
#include <functional>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::Eq;
using ::testing::Return;
using ::testing::Throw;
namespace api = VyrCldapiIntegration;

// One exported function: how the service is expected to be called, and whether the call gave
// its failure value (an empty optional, an empty vector or false).
struct Call {
    const char* name;
    std::function<void(MockService&, const ServiceAnswer&)> expect;
    std::function<bool(int&)> failed;
    // Whether a null answer from the service reads as the failure value too.
    bool null_is_empty = true;
};

std::vector<Call> calls_with_error_code()
{
    return {
        {"GetProjectList", [](auto& s, auto& a) { EXPECT_CALL(s, GetProjectList(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetProjectList(rc); }},
        {"GetProjectInfo", [](auto& s, auto& a) { EXPECT_CALL(s, GetProjectInfo(_, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetProjectInfo("p", rc); }},
        {"CreateProject", [](auto& s, auto& a) { EXPECT_CALL(s, CreateProject(_, _, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::CreateProject("n", "1", rc); }},
        {"GetTenants", [](auto& s, auto& a) { EXPECT_CALL(s, GetTenants(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetTenants(rc); }},
        {"GetTenantInfo", [](auto& s, auto& a) { EXPECT_CALL(s, GetTenantInfo(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetTenantInfo(rc); }},
        {"GetProjectMetadata", [](auto& s, auto& a) { EXPECT_CALL(s, GetProjectMetadata(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetProjectMetadata(rc); }},
        {"GetPartitionInfo", [](auto& s, auto& a) { EXPECT_CALL(s, GetPartitionInfo(_, _, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetPartitionInfo("p", "q", rc); }},
        {"GetProjectPartitionTags",
         [](auto& s, auto& a) { EXPECT_CALL(s, GetProjectPartitionTags(_, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetProjectPartitionTags("p", rc); }},
        {"CreateProjectPartitionTag",
         [](auto& s, auto& a) { EXPECT_CALL(s, CreateProjectPartitionTag(_, _, _, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::CreateProjectPartitionTag("p", "n", 1, rc); }},
        {"GetAllAccessibleProjectPartitions",
         [](auto& s, auto& a) { EXPECT_CALL(s, GetAllAccessibleProjectPartitions(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetAllAccessibleProjectPartitions(rc); }},
        {"SetPartitionVersion",
         [](auto& s, auto& a) { EXPECT_CALL(s, SetPartitionVersion(_, _, _, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::SetPartitionVersion("p", "q", 1, rc); }, false},
        {"GetUserDirectoryTags", [](auto& s, auto& a) { EXPECT_CALL(s, GetUserDirectoryTags(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetUserDirectoryTags(rc); }},
        {"GetUserDirectoryTagInfo",
         [](auto& s, auto& a) { EXPECT_CALL(s, GetUserDirectoryTagInfo(_, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetUserDirectoryTagInfo(1, rc); }},
        {"CreateUserDirectoryTag",
         [](auto& s, auto& a) { EXPECT_CALL(s, CreateUserDirectoryTag(_, _)).WillOnce(answer(a)); },
         [](int& rc) { return !api::CreateUserDirectoryTag(1, rc); }},
        {"GetNvdbProject", [](auto& s, auto& a) { EXPECT_CALL(s, GetNvdbProject(_)).WillOnce(answer(a)); },
         [](int& rc) { return !api::GetNvdbProject(rc); }},
        {"GetNvdbProjects", [](auto& s, auto& a) { EXPECT_CALL(s, GetNvdbProjects(_)).WillOnce(answer(a)); },
         [](int& rc) { return api::GetNvdbProjects(rc).empty(); }},
    };
}

class ErrorCode : public ServiceTest, public ::testing::WithParamInterface<Call> {};

TEST_P(ErrorCode, IsTheHostsOwnVariableWrittenOnlyByTheService)
{
    int responsecode = 5;
    GetParam().expect(service, ServiceAnswer(&responsecode, 5, 42, false));
    // The service answered null (or nothing): an empty result that only the code explains.
    EXPECT_EQ(GetParam().failed(responsecode), GetParam().null_is_empty);
    EXPECT_EQ(responsecode, 42);
}

TEST_P(ErrorCode, SurvivesAServiceFailureRaisedAfterItWasWritten)
{
    int responsecode = -3;
    GetParam().expect(service, ServiceAnswer(&responsecode, -3, 1234, true));
    EXPECT_TRUE(GetParam().failed(responsecode));
    EXPECT_EQ(responsecode, 1234);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, ErrorCode, ::testing::ValuesIn(calls_with_error_code()),
                         [](const auto& test) { return std::string(test.param.name); });

// One text argument that does not convert, the others empty (which always converts): the
// service is never called, the error code is left alone and the failure value comes back.
struct Unconvertible {
    const char* argument;
    std::function<bool(int&)> failed;
};

class ArgumentConversionFailure : public ServiceTest, public ::testing::WithParamInterface<Unconvertible> {};

TEST_P(ArgumentConversionFailure, StopsTheCallBeforeTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    int responsecode = 77;
    {
        ThreadLocale guard(unconvertible_locale);
        EXPECT_TRUE(GetParam().failed(responsecode));
    }
    EXPECT_EQ(responsecode, 77);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTextArgument, ArgumentConversionFailure,
    ::testing::Values(
        Unconvertible{"GetProjectInfo_projectId", [](int& rc) { return !api::GetProjectInfo("p", rc); }},
        Unconvertible{"CreateProject_projectName", [](int& rc) { return !api::CreateProject("n", "", rc); }},
        Unconvertible{"CreateProject_projectNumber", [](int& rc) { return !api::CreateProject("", "1", rc); }},
        Unconvertible{"GetPartitionInfo_projectId", [](int& rc) { return !api::GetPartitionInfo("p", "", rc); }},
        Unconvertible{"GetPartitionInfo_partitionId", [](int& rc) { return !api::GetPartitionInfo("", "q", rc); }},
        Unconvertible{"GetProjectPartitionTags_projectId",
                      [](int& rc) { return !api::GetProjectPartitionTags("p", rc); }},
        Unconvertible{"CreateProjectPartitionTag_projectId",
                      [](int& rc) { return !api::CreateProjectPartitionTag("p", "", 1, rc); }},
        Unconvertible{"CreateProjectPartitionTag_name",
                      [](int& rc) { return !api::CreateProjectPartitionTag("", "n", 1, rc); }},
        Unconvertible{"SetPartitionVersion_projectId",
                      [](int& rc) { return !api::SetPartitionVersion("p", "", 1, rc); }},
        Unconvertible{"SetPartitionVersion_partitionId",
                      [](int& rc) { return !api::SetPartitionVersion("", "q", 1, rc); }}),
    [](const auto& test) { return std::string(test.param.argument); });

// Arguments reach the service in declared order; swapping two texts of the same type would
// still compile, so only these catch it.
using ArgumentOrder = ServiceTest;

TEST_F(ArgumentOrder, CreateProjectPassesNameThenNumber)
{
    int responsecode = 0;
    EXPECT_CALL(service, CreateProject(Eq(u("Bridge")), Eq(u("P-100")), _))
        .WillOnce(Return(project(u("Bridge"), u("P-100"), u("id-1"))));
    const auto created = api::CreateProject("Bridge", "P-100", responsecode);
    ASSERT_TRUE(created);
    EXPECT_EQ(fields(*created), std::tuple("Bridge", "P-100", "id-1"));
}

TEST_F(ArgumentOrder, CreateProjectPartitionTagPassesProjectNameAndVersion)
{
    int responsecode = 0;
    EXPECT_CALL(service, CreateProjectPartitionTag(Eq(u("project")), Eq(u("west")), 3, _))
        .WillOnce(Return(partition_tag(u("west"), u("part-1"), 3)));
    const auto created = api::CreateProjectPartitionTag("project", "west", 3, responsecode);
    ASSERT_TRUE(created);
    EXPECT_EQ(fields(*created), std::tuple("west", "part-1", 3));
}

TEST_F(ArgumentOrder, PartitionCallsPassProjectThenPartition)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetPartitionInfo(Eq(u("project")), Eq(u("part")), _)).WillOnce(Return(nullptr));
    EXPECT_CALL(service, SetPartitionVersion(Eq(u("project")), Eq(u("part")), 9, _));
    EXPECT_FALSE(api::GetPartitionInfo("project", "part", responsecode));
    EXPECT_TRUE(api::SetPartitionVersion("project", "part", 9, responsecode));
}

// Version numbers are the service's to judge: zero, negative and extreme values pass as they are.
class VersionMajor : public ServiceTest, public ::testing::WithParamInterface<int> {};

TEST_P(VersionMajor, PassesUnchanged)
{
    const int version = GetParam();
    int responsecode = 0;
    EXPECT_CALL(service, GetUserDirectoryTagInfo(version, _)).WillOnce(Return(tag(u("d"), u("i"))));
    EXPECT_CALL(service, CreateUserDirectoryTag(version, _)).WillOnce(Return(tag(u("d"), u("j"))));
    EXPECT_CALL(service, CreateProjectPartitionTag(_, _, version, _)).WillOnce(Return(nullptr));
    EXPECT_CALL(service, SetPartitionVersion(_, _, version, _));
    EXPECT_TRUE(api::GetUserDirectoryTagInfo(version, responsecode));
    EXPECT_TRUE(api::CreateUserDirectoryTag(version, responsecode));
    EXPECT_FALSE(api::CreateProjectPartitionTag("p", "n", version, responsecode));
    EXPECT_TRUE(api::SetPartitionVersion("p", "q", version, responsecode));
}

INSTANTIATE_TEST_SUITE_P(Values, VersionMajor, ::testing::Values(0, -1, 1, INT_MIN, INT_MAX));

using SetPartitionVersionResult = ServiceTest;

TEST_F(SetPartitionVersionResult, IsTrueWheneverTheServiceReturnsWhateverTheCode)
{
    int responsecode = 0;
    EXPECT_CALL(service, SetPartitionVersion(_, _, _, _)).WillOnce([](auto&&, auto&&, int, int& rc) { rc = 404; });
    EXPECT_TRUE(api::SetPartitionVersion("p", "q", 2, responsecode));
    EXPECT_EQ(responsecode, 404);
}

TEST_F(SetPartitionVersionResult, IsFalseWhenTheServiceFails)
{
    int responsecode = 0;
    EXPECT_CALL(service, SetPartitionVersion(_, _, _, _)).WillOnce(Throw(service_failure()));
    EXPECT_FALSE(api::SetPartitionVersion("p", "q", 2, responsecode));
}

} // namespace
} // namespace vyr::cld::test
