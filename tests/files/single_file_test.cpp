#include <vyr/cld/files.h>

#include "support/locales.h"
#include "support/mock_service.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::Ref;

// What the service does when called: may write the error code, may raise.
using Behaviour = std::function<void(int& responsecode)>;

struct SingleFileOperation {
    const char* name;
    // Expects exactly one service call with the converted arguments and the host's own variable.
    std::function<void(MockService&, int& host_code, Behaviour)> expect;
    std::function<bool(int& responsecode)> call;
};

// The service arguments that the host's "proj/a.dwg" and "proj/b.dwg" must become.
const String a = u"proj/a.dwg";
const String b = u"proj/b.dwg";

const SingleFileOperation operations[] = {
    {"LockFile",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, LockFile(a, Ref(code))).WillOnce([act](auto&, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::LockFile("proj/a.dwg", rc); }},
    {"UnlockFile, keeping changes",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, UnlockFile(a, false, Ref(code))).WillOnce([act](auto&, bool, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::UnlockFile("proj/a.dwg", false, rc); }},
    {"UnlockFile, uploading changes",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, UnlockFile(a, true, Ref(code))).WillOnce([act](auto&, bool, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::UnlockFile("proj/a.dwg", true, rc); }},
    {"UnlockFileForced",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, UnlockFileForced(a, Ref(code))).WillOnce([act](auto&, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::UnlockFileForced("proj/a.dwg", rc); }},
    {"UploadFile",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, UploadFile(a, Ref(code))).WillOnce([act](auto&, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::UploadFile("proj/a.dwg", rc); }},
    {"DownloadFile",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, DownloadFile(a, Ref(code))).WillOnce([act](auto&, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::DownloadFile("proj/a.dwg", rc); }},
    {"RemoveFile, which the service calls DeleteFile",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, DeleteFile(a, Ref(code))).WillOnce([act](auto&, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::RemoveFile("proj/a.dwg", rc); }},
    {"RenameFile, original first",
     [](MockService& s, int& code, Behaviour act) {
         EXPECT_CALL(s, RenameFile(a, b, Ref(code))).WillOnce([act](auto&, auto&, int& rc) { act(rc); });
     },
     [](int& rc) { return VyrCldapiIntegration::RenameFile("proj/a.dwg", "proj/b.dwg", rc); }},
};

class SingleFileOperations : public ServiceTest, public ::testing::WithParamInterface<SingleFileOperation> {};

INSTANTIATE_TEST_SUITE_P(All, SingleFileOperations, ::testing::ValuesIn(operations),
                         [](const auto& param) { return "Operation" + std::to_string(param.index); });

TEST_P(SingleFileOperations, ReturnTrueWhateverCodeTheServiceWrites)
{
    int responsecode = -5;
    GetParam().expect(service, responsecode, [](int& rc) { rc = 1234; });
    EXPECT_TRUE(GetParam().call(responsecode)) << GetParam().name;
    EXPECT_EQ(responsecode, 1234) << GetParam().name;
}

TEST_P(SingleFileOperations, LeaveTheCodeAloneWhenTheServiceDoesNot)
{
    int responsecode = -5;
    GetParam().expect(service, responsecode, [](int&) {});
    EXPECT_TRUE(GetParam().call(responsecode)) << GetParam().name;
    EXPECT_EQ(responsecode, -5) << GetParam().name;
}

TEST_P(SingleFileOperations, ReturnFalseAndKeepTheServicesCodeWhenTheServiceFails)
{
    const Behaviour failures[] = {
        [](int& rc) {
            rc = 17;
            throw Exception(ExceptionKind::InvalidOperation, "offline");
        },
        [](int& rc) {
            rc = 17;
            throw std::bad_alloc();
        },
        [](int& rc) {
            rc = 17;
            throw 17;
        },
    };
    for (const auto& fail : failures) {
        int responsecode = 0;
        GetParam().expect(service, responsecode, fail);
        EXPECT_FALSE(GetParam().call(responsecode)) << GetParam().name;
        EXPECT_EQ(responsecode, 17) << GetParam().name;
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_P(SingleFileOperations, NeverCallTheServiceWhenThePathDoesNotConvertUnderAnUnusableCodesetLinuxOnly)
{
    const ThreadLocale locale{unconvertible_locale};
    int responsecode = -5;
    EXPECT_FALSE(GetParam().call(responsecode)) << GetParam().name;
    EXPECT_EQ(responsecode, -5) << GetParam().name;
}

TEST_F(ServiceTest, EmptyPathReachesTheServiceAsEmptyNotNullText)
{
    int responsecode = 0;
    EXPECT_CALL(service, LockFile(String(u""), _));
    EXPECT_TRUE(VyrCldapiIntegration::LockFile("", responsecode));
}

TEST_F(ServiceTest, UnlockAllFilesLockedByMeSwallowsFailuresAndKeepsTheCode)
{
    int responsecode = 0;
    EXPECT_CALL(service, UnlockAllFilesLockedByMe(Ref(responsecode))).WillOnce([](int& rc) {
        rc = 3;
        throw Exception(ExceptionKind::InvalidOperation, "offline");
    });
    VyrCldapiIntegration::UnlockAllFilesLockedByMe(responsecode);
    EXPECT_EQ(responsecode, 3);
}

TEST(NoService, CallsFailQuietlyWhenNoServiceIsInstalled)
{
    int responsecode = 8;
    EXPECT_FALSE(VyrCldapiIntegration::LockFile("proj/a.dwg", responsecode));
    VyrCldapiIntegration::UnlockAllFilesLockedByMe(responsecode);
    EXPECT_EQ(responsecode, 8);
}

} // namespace
} // namespace vyr::cld::test
