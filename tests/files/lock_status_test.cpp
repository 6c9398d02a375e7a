#include "support/allocation_faults.h"
#include "support/service_values.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/files.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;
using ::testing::Throw;

const Exception service_failure{ExceptionKind::InvalidOperation, "the service failed"};

// The host's four out-parameters, filled with texts the service never gives.
struct HostTexts {
    std::string lockedby = "old holder";
    std::string displayName = "old display name";
    std::string principalName = "old principal";
    std::string timeStamp = "old time";

    vyr::cld::LockStatus query(const std::string& file = "C:\\project\\a.dgn")
    {
        return api::GetLockStatus(file, lockedby, displayName, principalName, timeStamp);
    }

    void expect_untouched() const
    {
        EXPECT_EQ(lockedby, "old holder");
        EXPECT_EQ(displayName, "old display name");
        EXPECT_EQ(principalName, "old principal");
        EXPECT_EQ(timeStamp, "old time");
    }
};

using LockStatusQuery = ServiceTest;

TEST_F(LockStatusQuery, TheStatusMapsByNameAndAnyOtherNameReadsAsUnknown)
{
    struct Row {
        VyrCldapi::LockStatus service;
        vyr::cld::LockStatus host;
    };
    // The service numbers its members differently; only the names match.
    const std::array<Row, 7> rows{{
        {VyrCldapi::LockStatus::NotLocked, vyr::cld::LockStatus::NotLocked},
        {VyrCldapi::LockStatus::LockedByMe, vyr::cld::LockStatus::LockedByMe},
        {VyrCldapi::LockStatus::LockedByOther, vyr::cld::LockStatus::LockedByOther},
        {VyrCldapi::LockStatus::NotInProject, vyr::cld::LockStatus::NotInProject},
        {VyrCldapi::LockStatus::Unknown, vyr::cld::LockStatus::Unknown},
        {VyrCldapi::LockStatus::LockedOffline, vyr::cld::LockStatus::Unknown},
        {static_cast<VyrCldapi::LockStatus>(2), vyr::cld::LockStatus::Unknown},
    }};
    for (const auto& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.service));
        HostTexts host;
        EXPECT_CALL(service, GetLockStatus(String(u"C:\\project\\a.dgn"), _, _, _, _))
            .WillOnce(DoAll(SetArgReferee<1>(String(u"u1")), Return(row.service)));
        EXPECT_EQ(host.query(), row.host);
        // A name without a counterpart is still an answer: the texts are delivered.
        EXPECT_EQ(host.lockedby, "u1");
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(LockStatusQuery, EachTextLandsInItsOwnPositionUnparsed)
{
    HostTexts host;
    EXPECT_CALL(service, GetLockStatus)
        .WillOnce([](const String&, String& lockedby, String& displayName, String& principalName, String& timeStamp) {
            lockedby = String(u"S-1-5-21");
            displayName = String(u"Åse Nilsen");
            principalName = String(u"ase@example.com");
            timeStamp = String(u"31.01.2024 13:05:59 +01:00");
            return VyrCldapi::LockStatus::LockedByOther;
        });
    EXPECT_EQ(host.query(), vyr::cld::LockStatus::LockedByOther);
    EXPECT_EQ(host.lockedby, "S-1-5-21");
    EXPECT_EQ(host.displayName, "Åse Nilsen");
    EXPECT_EQ(host.principalName, "ase@example.com");
    EXPECT_EQ(host.timeStamp, "31.01.2024 13:05:59 +01:00");
}

TEST_F(LockStatusQuery, APositionTheServiceLeavesNullClearsTheHostsOldText)
{
    HostTexts host;
    EXPECT_CALL(service, GetLockStatus).WillOnce(Return(VyrCldapi::LockStatus::NotLocked));
    EXPECT_EQ(host.query(), vyr::cld::LockStatus::NotLocked);
    EXPECT_EQ(host.lockedby, "");
    EXPECT_EQ(host.displayName, "");
    EXPECT_EQ(host.principalName, "");
    EXPECT_EQ(host.timeStamp, "");

    HostTexts second;
    EXPECT_CALL(service, GetLockStatus)
        .WillOnce(DoAll(SetArgReferee<2>(String(u"Ola")), Return(VyrCldapi::LockStatus::LockedByMe)));
    EXPECT_EQ(second.query(), vyr::cld::LockStatus::LockedByMe);
    EXPECT_EQ(second.lockedby, "");
    EXPECT_EQ(second.displayName, "Ola");
    EXPECT_EQ(second.principalName, "");
    EXPECT_EQ(second.timeStamp, "");
}

TEST_F(LockStatusQuery, AServiceFailureGivesUnknownAndLeavesTheHostsTexts)
{
    HostTexts host;
    // Even strings the service set before failing must not reach the host.
    EXPECT_CALL(service, GetLockStatus)
        .WillOnce(DoAll(SetArgReferee<1>(String(u"u1")), SetArgReferee<2>(String(u"n1")), Throw(service_failure)));
    EXPECT_EQ(host.query(), vyr::cld::LockStatus::Unknown);
    host.expect_untouched();
}

TEST_F(LockStatusQuery, APathThatDoesNotConvertGivesUnknownWithoutCallingTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    const ThreadLocale locale(unconvertible_locale);
    HostTexts host;
    EXPECT_EQ(host.query("C:\\project\\a.dgn"), vyr::cld::LockStatus::Unknown);
    host.expect_untouched();
}

// The texts are all-or-nothing: when the third of four fails to convert, the first two, which did
// convert, must not reach the host either, and the already converted status is not reported.
TEST_F(LockStatusQuery, ATextThatFailsToConvertLeavesAllFourUntouched)
{
    // Only the third text is large enough to need an allocation of this size while converting.
    constexpr std::size_t large = std::size_t{1} << 20;
    String principalName(std::u16string(large, u'p'));

    for (const bool inject : {false, true}) {
        SCOPED_TRACE(inject ? "third conversion fails" : "all conversions succeed");
        HostTexts host;
        LargeAllocationFailure failure;
        EXPECT_CALL(service, GetLockStatus)
            .WillOnce([&](const String&, String& lockedby, String& displayName, String& principal, String& timeStamp) {
                lockedby = String(u"u1");
                displayName = String(u"n1");
                principal = principalName;
                timeStamp = String(u"t1");
                if (inject) {
                    failure.arm(large);
                }
                return VyrCldapi::LockStatus::LockedByOther;
            });
        const auto status = host.query();
        if (inject) {
            EXPECT_EQ(failure.refused(), 1);
            EXPECT_EQ(status, vyr::cld::LockStatus::Unknown);
            host.expect_untouched();
        }
        else {
            EXPECT_EQ(failure.refused(), 0);
            EXPECT_EQ(status, vyr::cld::LockStatus::LockedByOther);
            EXPECT_EQ(host.lockedby, "u1");
            EXPECT_EQ(host.displayName, "n1");
            EXPECT_EQ(host.principalName, std::string(large, 'p'));
            EXPECT_EQ(host.timeStamp, "t1");
        }
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

} // namespace
} // namespace vyr::cld::test
