#include "support/service_values.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/files.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using ::testing::_;
using ::testing::DoAll;
using ::testing::FieldsAre;
using ::testing::Optional;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;
using Texts = std::vector<std::string>;

const Exception service_failure{ExceptionKind::InvalidOperation, "the service failed"};

using FileIdentity = ServiceTest;
using SyncState = ServiceTest;

TEST_F(FileIdentity, FileIdKeepsAnEmptyIdAndReadsNullAsAbsent)
{
    EXPECT_CALL(service, GetFileId(String(u"C:\\p\\å.dgn"))).WillOnce(Return(String(u"id-7")));
    EXPECT_THAT(api::GetFileId("C:\\p\\å.dgn"), Optional(std::string("id-7")));

    EXPECT_CALL(service, GetFileId).WillOnce(Return(String(u"")));
    EXPECT_THAT(api::GetFileId("a"), Optional(std::string()));

    EXPECT_CALL(service, GetFileId).WillOnce(Return(String(nullptr)));
    EXPECT_EQ(api::GetFileId("a"), std::nullopt);

    EXPECT_CALL(service, GetFileId).WillOnce(Throw(service_failure));
    EXPECT_EQ(api::GetFileId("a"), std::nullopt);
}

TEST_F(FileIdentity, FileRevisionKeepsAPresentZeroAndReadsAbsentAsEmpty)
{
    const std::array<Nullable<std::uint64_t>, 4> answers{
        {std::uint64_t{0}, std::uint64_t{42}, std::numeric_limits<std::uint64_t>::max(), std::nullopt}};
    for (const auto& answer : answers) {
        EXPECT_CALL(service, GetFileRevision(String(u"a.dgn"))).WillOnce(Return(answer));
        EXPECT_EQ(api::GetFileRevision("a.dgn"), answer);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
    EXPECT_CALL(service, GetFileRevision).WillOnce(Throw(service_failure));
    EXPECT_EQ(api::GetFileRevision("a.dgn"), std::nullopt);
}

TEST_F(FileIdentity, FileExistsInProjectReturnsTheServicesAnswerAndFalseOnFailure)
{
    EXPECT_CALL(service, FileExistsInProject(String(u"a.dgn")))
        .WillOnce(Return(true))
        .WillOnce(Return(false))
        .WillOnce(Throw(service_failure));
    EXPECT_TRUE(api::FileExistsInProject("a.dgn"));
    EXPECT_FALSE(api::FileExistsInProject("a.dgn"));
    EXPECT_FALSE(api::FileExistsInProject("a.dgn"));
}

TEST_F(FileIdentity, FindFileInWebAppIsTrueOnceTheServiceReturned)
{
    EXPECT_CALL(service, FindFileInWebApp(String(u"a.dgn"))).WillOnce(Return()).WillOnce(Throw(service_failure));
    EXPECT_TRUE(api::FindFileInWebApp("a.dgn"));
    EXPECT_FALSE(api::FindFileInWebApp("a.dgn"));
}

TEST_F(FileIdentity, AFileNameThatDoesNotConvertFailsWithoutCallingTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    const ThreadLocale locale(unconvertible_locale);
    EXPECT_EQ(api::GetFileId("a.dgn"), std::nullopt);
    EXPECT_EQ(api::GetFileRevision("a.dgn"), std::nullopt);
    EXPECT_FALSE(api::FileExistsInProject("a.dgn"));
    EXPECT_FALSE(api::FindFileInWebApp("a.dgn"));
    int responsecode = 99;
    EXPECT_EQ(api::GetInfoForDownloadCopy("prj", "", responsecode), std::nullopt);
    EXPECT_EQ(api::GetInfoForDownloadCopy("", "part", responsecode), std::nullopt);
    EXPECT_EQ(responsecode, 99);
}

TEST_F(SyncState, FileSyncStatusCopiesEveryCounterWithItsSignAndFullWidth)
{
    auto answer = std::make_shared<VyrCldapi::FileSyncStatus>();
    answer->FilesLeftToDownload = -1;
    answer->BytesLeftToDownload = 5'000'000'000;
    answer->FilesLeftToUpload = std::numeric_limits<std::int32_t>::min();
    answer->BytesLeftToUpload = std::numeric_limits<std::int64_t>::max();
    EXPECT_CALL(service, GetFileSyncStatus).WillOnce(Return(answer));
    EXPECT_THAT(api::GetFileSyncStatus(), FieldsAre(-1, 5'000'000'000, std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int64_t>::max()));

    answer = std::make_shared<VyrCldapi::FileSyncStatus>(VyrCldapi::FileSyncStatus{1, 2, 3, 4});
    EXPECT_CALL(service, GetFileSyncStatus).WillOnce(Return(answer));
    EXPECT_THAT(api::GetFileSyncStatus(), FieldsAre(1, 2, 3, 4));
}

TEST_F(SyncState, FileSyncStatusIsAllZeroForANullAnswerAndForAFailure)
{
    EXPECT_CALL(service, GetFileSyncStatus).WillOnce(Return(nullptr)).WillOnce(Throw(service_failure));
    EXPECT_THAT(api::GetFileSyncStatus(), FieldsAre(0, 0, 0, 0));
    EXPECT_THAT(api::GetFileSyncStatus(), FieldsAre(0, 0, 0, 0));
    // Each call asks the service afresh; nothing is remembered from an earlier answer.
    EXPECT_CALL(service, GetFileSyncStatus)
        .WillOnce(Return(std::make_shared<VyrCldapi::FileSyncStatus>(VyrCldapi::FileSyncStatus{9, 9, 9, 9})));
    EXPECT_THAT(api::GetFileSyncStatus(), FieldsAre(9, 9, 9, 9));
}

TEST_F(SyncState, InfoForDownloadCopyFillsTheRecordInMemberOrder)
{
    int responsecode = 0;
    EXPECT_CALL(service, GetInfoForDownloadCopy(String(u"prj"), String(u"part"), _))
        .WillOnce(Return(std::make_shared<VyrCldapi::InfoForDownloadCopy>(VyrCldapi::InfoForDownloadCopy{10, 3, 1})));
    EXPECT_THAT(api::GetInfoForDownloadCopy("prj", "part", responsecode), Optional(FieldsAre(10, 3, 1)));

    EXPECT_CALL(service, GetInfoForDownloadCopy)
        .WillOnce(Return(std::make_shared<VyrCldapi::InfoForDownloadCopy>(
            VyrCldapi::InfoForDownloadCopy{std::int64_t{1} << 40, -1, std::numeric_limits<std::int32_t>::min()})));
    EXPECT_THAT(api::GetInfoForDownloadCopy("prj", "part", responsecode),
                Optional(FieldsAre(std::int64_t{1} << 40, -1, std::numeric_limits<std::int32_t>::min())));
}

TEST_F(SyncState, InfoForDownloadCopyIsEmptyForANullAnswerOrAFailureWithTheCodeLeftToTellThemApart)
{
    int responsecode = -1;
    EXPECT_CALL(service, GetInfoForDownloadCopy).WillOnce([&](const String&, const String&, int& code) {
        EXPECT_EQ(&code, &responsecode);
        EXPECT_EQ(code, -1);
        code = 4;
        return nullptr;
    });
    EXPECT_EQ(api::GetInfoForDownloadCopy("prj", "part", responsecode), std::nullopt);
    EXPECT_EQ(responsecode, 4);

    EXPECT_CALL(service, GetInfoForDownloadCopy).WillOnce(DoAll(SetArgReferee<2>(5), Throw(service_failure)));
    EXPECT_EQ(api::GetInfoForDownloadCopy("prj", "part", responsecode), std::nullopt);
    EXPECT_EQ(responsecode, 5);
}

// The two problem-file lists: the service operation and the exported call.
struct ProblemList {
    const char* name;
    void (*answer)(MockService&, ::testing::Action<List<String>()> action);
    std::vector<std::string> (*call)();
};

const std::array<ProblemList, 2> problem_lists{{
    {"CheckPathTooLongExceptions",
     [](MockService& s, ::testing::Action<List<String>()> action) {
         EXPECT_CALL(s, CheckPathTooLongExceptions).WillOnce(action);
     },
     &api::CheckPathTooLongExceptions},
    {"CheckDownSyncFileExceptions",
     [](MockService& s, ::testing::Action<List<String>()> action) {
         EXPECT_CALL(s, CheckDownSyncFileExceptions).WillOnce(action);
     },
     &api::CheckDownSyncFileExceptions},
}};

TEST_F(SyncState, ProblemFilesComeBackInTheServicesOrder)
{
    for (const auto& problems : problem_lists) {
        SCOPED_TRACE(problems.name);
        problems.answer(service, Return(service_list({u"C:\\z", u"C:\\a", u"C:\\æ"})));
        EXPECT_EQ(problems.call(), (Texts{"C:\\z", "C:\\a", "C:\\æ"}));
        problems.answer(service, Return(service_list({})));
        EXPECT_EQ(problems.call(), Texts{});
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(SyncState, ANullProblemListANullEntryOrAFailureGivesAnEmptyVector)
{
    for (const auto& problems : problem_lists) {
        SCOPED_TRACE(problems.name);
        problems.answer(service, Return(List<String>(nullptr)));
        EXPECT_EQ(problems.call(), Texts{});
        problems.answer(service, Return(List<String>{String(u"C:\\a"), String(nullptr)}));
        EXPECT_EQ(problems.call(), Texts{});
        problems.answer(service, Throw(service_failure));
        EXPECT_EQ(problems.call(), Texts{});
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

} // namespace
} // namespace vyr::cld::test
