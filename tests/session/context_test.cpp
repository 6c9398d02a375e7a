#include "service_values.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/session.h>

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
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

TEST_F(SessionContext, EveryCallReachesTheServiceEvenWhenNothingChanged)
{
    EXPECT_CALL(service, SetTenantUniqueId(String(u"tenant-1"))).Times(2);
    EXPECT_CALL(service, SetUserDirectory(String(u"tag"), String(u"dir"))).Times(2);
    EXPECT_CALL(service, CloseProject()).Times(2);
    EXPECT_CALL(service, Logout()).Times(2);
    for (int i = 0; i < 2; ++i) {
        api::SetTenantUniqueId("tenant-1");
        EXPECT_TRUE(api::SetUserDirectory("tag", "dir"));
        api::CloseProject();
        api::Logout();
    }
}

// One row per function: how to make its service operation fail, and how to call it. The result
// is the function's bool, or empty for a void function.
struct FailingCall {
    const char* name;
    std::function<void(MockService&)> fail;
    std::function<std::optional<bool>()> call;
};

TEST_F(SessionContext, AServiceFailureGivesFalseOrIsSwallowed)
{
    const std::array<FailingCall, 8> calls{{
        {"SetProjectAndPartition",
         [](MockService& s) { EXPECT_CALL(s, SetProjectAndPartition).WillOnce(Throw(service_failure)); },
         [] { return std::optional(api::SetProjectAndPartition("a", "b", "c", "d", "e", "f")); }},
        {"SetOnlyProjectAndPartition",
         [](MockService& s) { EXPECT_CALL(s, SetOnlyProjectAndPartition).WillOnce(Throw(service_failure)); },
         [] { return std::optional(api::SetOnlyProjectAndPartition("a", "b", "c", "d")); }},
        {"SetUserDirectory", [](MockService& s) { EXPECT_CALL(s, SetUserDirectory).WillOnce(Throw(service_failure)); },
         [] { return std::optional(api::SetUserDirectory("a", "b")); }},
        {"SetTenantUniqueId",
         [](MockService& s) { EXPECT_CALL(s, SetTenantUniqueId).WillOnce(Throw(service_failure)); },
         [] {
             api::SetTenantUniqueId("a");
             return std::optional<bool>();
         }},
        {"SetCurrentAppLanguage",
         [](MockService& s) { EXPECT_CALL(s, SetCurrentAppLanguage).WillOnce(Throw(service_failure)); },
         [] {
             api::SetCurrentAppLanguage("a");
             return std::optional<bool>();
         }},
        {"SetStartedInFieldMode",
         [](MockService& s) { EXPECT_CALL(s, SetStartedInFieldMode).WillOnce(Throw(service_failure)); },
         [] {
             api::SetStartedInFieldMode(true);
             return std::optional<bool>();
         }},
        {"CloseProject", [](MockService& s) { EXPECT_CALL(s, CloseProject).WillOnce(Throw(service_failure)); },
         [] {
             api::CloseProject();
             return std::optional<bool>();
         }},
        {"Logout", [](MockService& s) { EXPECT_CALL(s, Logout).WillOnce(Throw(service_failure)); },
         [] {
             api::Logout();
             return std::optional<bool>();
         }},
    }};
    for (const auto& call : calls) {
        SCOPED_TRACE(call.name);
        call.fail(service);
        const auto result = call.call();
        if (result) {
            EXPECT_FALSE(*result);
        }
        ::testing::Mock::VerifyAndClearExpectations(&service);
    }
}

// Under this locale only non-empty text fails to convert, so making one argument non-empty at a
// time shows that each one is converted before the service is called.
TEST_F(SessionContext, ATextThatDoesNotConvertKeepsTheCallFromTheService)
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
