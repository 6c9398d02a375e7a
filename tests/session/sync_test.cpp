#include "support/service_values.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/session.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;

using Texts = std::vector<std::string>;
using OptionalTexts = std::optional<Texts>;

const Exception service_failure{ExceptionKind::InvalidOperation, "the service failed"};

using SyncControl = ServiceTest;
using Filters = ServiceTest;
using FileLists = ServiceTest;

TEST_F(SyncControl, EveryCallReachesTheServiceWhateverCameBeforeAndAFailureIsSwallowed)
{
    // No state in between: a stop without a start, or a second start, still goes to the service.
    EXPECT_CALL(service, StopSyncDir()).WillOnce(Return()).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, StartSyncDir()).WillOnce(Return()).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, StartProjectsAndPartitionsTask()).WillOnce(Return()).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, AbortProjectsAndPartitionsTask()).WillOnce(Return()).WillOnce(Throw(service_failure));
    for (int i = 0; i < 2; ++i) {
        api::StopSyncDir();
        api::StartSyncDir();
        api::StartProjectsAndPartitionsTask();
        api::AbortProjectsAndPartitionsTask();
    }
}

TEST_F(SyncControl, WaitForAllTasksPassesTheSpanTickForTickAndReturnsTheServiceResult)
{
    struct Row {
        std::int64_t ticks;
        std::int32_t result;
    };
    const std::array<Row, 6> rows{{
        {0, 0},
        {-1, -1},
        {1, 1},
        {50'000'000'000, 7},
        {std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int32_t>::max()},
        {std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int32_t>::min()},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.ticks);
        int responsecode = 0;
        EXPECT_CALL(service, WaitForAllTasks(TimeSpan{row.ticks}, _)).WillOnce(Return(row.result));
        EXPECT_EQ(api::WaitForAllTasks(Ticks(row.ticks), responsecode), row.result);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(SyncControl, WaitForAllTasksHandsTheServiceTheHostsOwnResponseCode)
{
    int responsecode = -5;
    EXPECT_CALL(service, WaitForAllTasks).WillOnce([&](TimeSpan, int& code) {
        EXPECT_EQ(&code, &responsecode);
        EXPECT_EQ(code, -5) << "the bridge must not reset the code before the call";
        code = 42;
        return 3;
    });
    EXPECT_EQ(api::WaitForAllTasks(Ticks(10), responsecode), 3);
    EXPECT_EQ(responsecode, 42);
}

TEST_F(SyncControl, WaitForAllTasksGivesZeroOnFailureAndKeepsWhatTheServiceWrote)
{
    int responsecode = -5;
    EXPECT_CALL(service, WaitForAllTasks).WillOnce(DoAll(SetArgReferee<1>(17), Throw(service_failure)));
    EXPECT_EQ(api::WaitForAllTasks(Ticks(10), responsecode), 0);
    EXPECT_EQ(responsecode, 17);

    EXPECT_CALL(service, WaitForAllTasks).WillOnce(Throw(service_failure));
    EXPECT_EQ(api::WaitForAllTasks(Ticks(10), responsecode), 0);
    EXPECT_EQ(responsecode, 17);
}

TEST_F(Filters, AbsentAndEmptyDownloadFiltersReachTheServiceAsDifferentValues)
{
    EXPECT_CALL(service, SetDownloadFilters(IsNullList(), IsNullList(), IsNullList()));
    api::SetDownloadFilters(std::nullopt, std::nullopt, std::nullopt);

    const auto empty = service_list({});
    EXPECT_CALL(service, SetDownloadFilters(IsExactList(empty), IsExactList(empty), IsExactList(empty)));
    api::SetDownloadFilters(Texts{}, Texts{}, Texts{});

    EXPECT_CALL(service,
                SetDownloadFilters(IsNullList(), IsExactList(service_list({u"*.dgn", u"*.dwg"})), IsExactList(empty)));
    api::SetDownloadFilters(std::nullopt, Texts{"*.dgn", "*.dwg"}, Texts{});
}

TEST_F(Filters, IgnoreFiltersPassEveryPatternInOrderAndNeverNull)
{
    struct Row {
        const char* name;
        void (*call)(const Texts&);
        std::function<void(MockService&, const List<String>&)> expect;
    };
    const std::array<Row, 2> rows{{
        {"SetFileIgnoreFilter", &api::SetFileIgnoreFilter,
         [](MockService& s, const List<String>& list) { EXPECT_CALL(s, SetFileIgnoreFilter(IsExactList(list))); }},
        {"SetDirectoryIgnoreFilter", &api::SetDirectoryIgnoreFilter,
         [](MockService& s, const List<String>& list) { EXPECT_CALL(s, SetDirectoryIgnoreFilter(IsExactList(list))); }},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.expect(service, service_list({}));
        row.call({});
        // Duplicates and empty patterns are the service's to judge.
        row.expect(service, service_list({u"*.tmp", u"", u"~*", u"*.tmp"}));
        row.call({"*.tmp", "", "~*", "*.tmp"});
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(Filters, AServiceFailureIsSwallowed)
{
    EXPECT_CALL(service, SetDownloadFilters).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, SetFileIgnoreFilter).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, SetDirectoryIgnoreFilter).WillOnce(Throw(service_failure));
    api::SetDownloadFilters(std::nullopt, std::nullopt, std::nullopt);
    api::SetFileIgnoreFilter({"a"});
    api::SetDirectoryIgnoreFilter({"a"});
}

TEST_F(Filters, APatternThatDoesNotConvertKeepsTheFilterFromTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    const ThreadLocale locale(unconvertible_locale);
    // One bad element anywhere, in any of the lists, and the strict mock sees no call.
    api::SetDownloadFilters(Texts{""}, Texts{}, Texts{"", "x"});
    api::SetDownloadFilters(Texts{"x"}, std::nullopt, std::nullopt);
    api::SetFileIgnoreFilter({"", "x"});
    api::SetDirectoryIgnoreFilter({"x"});

    EXPECT_CALL(service, SetDownloadFilters(IsExactList(service_list({u""})), IsExactList(service_list({})),
                                            IsExactList(service_list({u"", u""}))));
    api::SetDownloadFilters(Texts{""}, Texts{}, Texts{"", ""});
}

using ListMatcher = ::testing::Matcher<const List<String>&>;
using FileListAction = ::testing::Action<bool(const List<String>&, const List<String>&)>;

// One row per file-list query: its expectation for the two lists, answered once by `action`, and
// the exported call.
struct FileListCall {
    const char* name;
    void (*expect)(MockService&, ListMatcher wildCards, ListMatcher names, FileListAction action);
    bool (*call)(const OptionalTexts&, const OptionalTexts&);
};

const std::array<FileListCall, 2> file_list_calls{{
    {"GetProjectFiles",
     [](MockService& s, ListMatcher wildCards, ListMatcher names, FileListAction action) {
         EXPECT_CALL(s, GetProjectFiles(wildCards, names)).WillOnce(action);
     },
     &api::GetProjectFiles},
    {"GetUserDirectoryFiles",
     [](MockService& s, ListMatcher wildCards, ListMatcher names, FileListAction action) {
         EXPECT_CALL(s, GetUserDirectoryFiles(wildCards, names)).WillOnce(action);
     },
     &api::GetUserDirectoryFiles},
}};

TEST_F(FileLists, PatternsComeFirstAndNamesSecondWithAbsentAsNull)
{
    for (const auto& list : file_list_calls) {
        SCOPED_TRACE(list.name);
        list.expect(service, IsNullList(), IsExactList(service_list({u"a.dgn", u"b.dgn"})), Return(true));
        EXPECT_TRUE(list.call(std::nullopt, Texts{"a.dgn", "b.dgn"}));

        list.expect(service, IsExactList(service_list({u"*.dgn"})), IsExactList(service_list({})), Return(true));
        EXPECT_TRUE(list.call(Texts{"*.dgn"}, Texts{}));
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(FileLists, TheServicesAnswerComesBackUnchangedAndAFailureAsFalse)
{
    for (const auto& list : file_list_calls) {
        SCOPED_TRACE(list.name);
        list.expect(service, IsNullList(), IsNullList(), Return(true));
        EXPECT_TRUE(list.call(std::nullopt, std::nullopt));
        list.expect(service, IsNullList(), IsNullList(), Return(false));
        EXPECT_FALSE(list.call(std::nullopt, std::nullopt));
        list.expect(service, IsNullList(), IsNullList(), Throw(service_failure));
        EXPECT_FALSE(list.call(std::nullopt, std::nullopt));
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(FileLists, ANameThatDoesNotConvertGivesFalseWithoutCallingTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    const ThreadLocale locale(unconvertible_locale);
    for (const auto& list : file_list_calls) {
        SCOPED_TRACE(list.name);
        EXPECT_FALSE(list.call(Texts{"x"}, std::nullopt));
        EXPECT_FALSE(list.call(std::nullopt, Texts{"", "x"}));
    }
}

} // namespace
} // namespace vyr::cld::test
