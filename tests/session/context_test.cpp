#include "support/service_values.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/session.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <string>

namespace vyr::cld::test {
namespace {

namespace api = VyrCldapiIntegration;
using ::testing::Return;
using ::testing::Throw;

const Exception service_failure{ExceptionKind::InvalidOperation, "the service failed"};

using SessionContext = ServiceTest;

TEST_F(SessionContext, EachTextReachesTheServiceInItsOwnPosition)
{
    // Distinct texts in every position catch swapped arguments; the non-ASCII one proves the
    // text is converted, not copied byte for byte.
    EXPECT_CALL(service,
                SetProjectAndPartition(String(u"prj"), String(u"C:\\Tromsø"), String(u"part"),
                                       String(u"C:\\Tromsø\\part"), String(u"C:\\user"), String(u"C:\\import")));
    EXPECT_TRUE(api::SetProjectAndPartition("prj", "C:\\Tromsø", "part", "C:\\Tromsø\\part", "C:\\user", "C:\\import"));

    EXPECT_CALL(service, SetOnlyProjectAndPartition(String(u"prj"), String(u"p1"), String(u"part"), String(u"p2")));
    EXPECT_TRUE(api::SetOnlyProjectAndPartition("prj", "p1", "part", "p2"));

    EXPECT_CALL(service, SetUserDirectory(String(u"tag"), String(u"C:\\user")));
    EXPECT_TRUE(api::SetUserDirectory("tag", "C:\\user"));

    EXPECT_CALL(service, SetTenantUniqueId(String(u"tenant-1")));
    api::SetTenantUniqueId("tenant-1");

    EXPECT_CALL(service, SetCurrentAppLanguage(String(u"nb-NO")));
    api::SetCurrentAppLanguage("nb-NO");
}

TEST_F(SessionContext, EmptyTextsReachTheServiceAsEmptyStringsNotNull)
{
    const String empty(u"");
    EXPECT_CALL(service,
                SetProjectAndPartition(String(u"prj"), String(u"pp"), String(u"part"), String(u"tp"), empty, empty));
    EXPECT_TRUE(api::SetProjectAndPartition("prj", "pp", "part", "tp", "", ""));

    EXPECT_CALL(service, SetTenantUniqueId(empty));
    api::SetTenantUniqueId("");
}

TEST_F(SessionContext, FieldModePassesUnchanged)
{
    for (const bool fieldMode : {true, false}) {
        EXPECT_CALL(service, SetStartedInFieldMode(fieldMode));
        api::SetStartedInFieldMode(fieldMode);
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

TEST_F(SessionContext, AServiceFailureGivesFalseOrIsSwallowed)
{
    EXPECT_CALL(service, SetProjectAndPartition).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, SetOnlyProjectAndPartition).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, SetUserDirectory).WillOnce(Throw(service_failure));
    EXPECT_FALSE(api::SetProjectAndPartition("a", "b", "c", "d", "e", "f"));
    EXPECT_FALSE(api::SetOnlyProjectAndPartition("a", "b", "c", "d"));
    EXPECT_FALSE(api::SetUserDirectory("a", "b"));

    EXPECT_CALL(service, SetTenantUniqueId).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, SetCurrentAppLanguage).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, SetStartedInFieldMode).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, CloseProject).WillOnce(Throw(service_failure));
    EXPECT_CALL(service, Logout).WillOnce(Throw(service_failure));
    api::SetTenantUniqueId("a");
    api::SetCurrentAppLanguage("a");
    api::SetStartedInFieldMode(true);
    api::CloseProject();
    api::Logout();
}

// Under this locale only non-empty text fails to convert, so making one argument non-empty at a
// time shows that each one is converted before the service is called.
TEST_F(SessionContext, ATextThatDoesNotConvertKeepsTheCallFromTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    const ThreadLocale locale(unconvertible_locale);

    for (std::size_t failing = 0; failing < 6; ++failing) {
        SCOPED_TRACE(failing);
        std::array<std::string, 6> texts{};
        texts[failing] = "x";
        EXPECT_FALSE(api::SetProjectAndPartition(texts[0], texts[1], texts[2], texts[3], texts[4], texts[5]));
    }
    for (std::size_t failing = 0; failing < 4; ++failing) {
        SCOPED_TRACE(failing);
        std::array<std::string, 4> texts{};
        texts[failing] = "x";
        EXPECT_FALSE(api::SetOnlyProjectAndPartition(texts[0], texts[1], texts[2], texts[3]));
    }
    EXPECT_FALSE(api::SetUserDirectory("x", ""));
    EXPECT_FALSE(api::SetUserDirectory("", "x"));
    api::SetTenantUniqueId("x");
    api::SetCurrentAppLanguage("x");
    // The strict mock fails the test on any of these calls reaching the service.

    // The same calls with empty texts do reach it: the locale fails only what it should.
    EXPECT_CALL(service, SetProjectAndPartition).WillOnce(Return());
    EXPECT_CALL(service, SetUserDirectory).WillOnce(Return());
    EXPECT_TRUE(api::SetProjectAndPartition("", "", "", "", "", ""));
    EXPECT_TRUE(api::SetUserDirectory("", ""));
}

} // namespace
} // namespace vyr::cld::test
