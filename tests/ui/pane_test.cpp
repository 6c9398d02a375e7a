#include "support/failure.h"
#include "support/locales.h"
#include "support/mock_service.h"

#include <vyr/cld/ui.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace vyr::cld::test {
namespace {

using ::testing::_;
using ::testing::Return;
using ::testing::StrictMock;
using ::testing::Throw;

using ServiceCallback = VyrCldapi::UI::IFileBrowserUICallback;
using ServicePane = VyrCldapi::UI::FileBrowserUI;

HWND as_hwnd(std::intptr_t bits)
{
    return reinterpret_cast<HWND>(bits);
}

// The host's callback object; counts its deletions.
class MockHost : public vyr::cld::IFileBrowserUICallback {
public:
    explicit MockHost(int& deletions) : deletions_(&deletions) {}
    ~MockHost() override { ++*deletions_; }

    MOCK_METHOD(HWND, getHwnd, (), (override));
    MOCK_METHOD(void, showLockInfoPanelNearUi, (const std::string&), (override));
    MOCK_METHOD(bool, promptSave, (const std::string&), (override));
    MOCK_METHOD(std::vector<std::string>, collectRelatedFiles, (const std::string&), (override));
    MOCK_METHOD(bool, isFileOperationsAllowed, (const std::string&), (override));
    MOCK_METHOD(bool, isUsingContractPosts, (), (override));

private:
    int* deletions_;
};

// The service's pane; reports its destruction and can be made to fail.
class FakePane : public ServicePane {
public:
    explicit FakePane(bool& destroyed) : destroyed_(&destroyed) {}
    ~FakePane() override { *destroyed_ = true; }

    std::intptr_t get_HWND() override { return check(), hwnd; }
    bool get_PaneIsActive() override { return check(), active; }
    void set_PaneIsActive(bool value) override { check(), active = value; }
    void HandleEvents() override { check(), ++events; }

    std::intptr_t hwnd = 0x1234;
    bool active = false;
    int events = 0;
    bool failing = false;

private:
    void check() const
    {
        if (failing) {
            throw Exception(ExceptionKind::InvalidOperation, "The pane is closed.");
        }
    }

    bool* destroyed_;
};

// Starts panes against the mock service. The service's references to the adapter and the pane
// are plain members, so that each test decides when the service lets go of them.
class PaneTest : public ServiceTest {
protected:
    // Hands `callback` to StartFileBrowserUi; the service keeps the adapter and returns `servicePane`.
    FileBrowserUi start(std::unique_ptr<vyr::cld::IFileBrowserUICallback> callback)
    {
        EXPECT_CALL(service, StartFileBrowserUi(_)).WillOnce([this](Ref<ServiceCallback> received) {
            adapter = std::move(received);
            return servicePane;
        });
        return VyrCldapiIntegration::StartFileBrowserUi(std::move(callback));
    }

    // Starts with a host of its own, whose deletions land in `deletions`.
    FileBrowserUi start()
    {
        auto owned = std::make_unique<StrictMock<MockHost>>(deletions);
        host = owned.get();
        return start(std::move(owned));
    }

    int deletions = 0;
    bool paneDestroyed = false;
    StrictMock<MockHost>* host = nullptr;
    Ref<ServiceCallback> adapter;
    std::shared_ptr<FakePane> servicePane = std::make_shared<FakePane>(paneDestroyed);
    FakePane& pane = *servicePane;
};

// An empty FileBrowserUi tests false, answers neutrally and does nothing.

void expect_empty(FileBrowserUi& ui)
{
    EXPECT_FALSE(ui);
    EXPECT_EQ(ui.getHwnd(), nullptr);
    EXPECT_FALSE(ui.getPaneIsActive());
    ui.setPaneIsActive(true);
    EXPECT_FALSE(ui.getPaneIsActive());
    ui.handleEvents();
}

TEST_F(PaneTest, ADefaultConstructedValueIsEmpty)
{
    FileBrowserUi ui;
    expect_empty(ui);
}

TEST_F(PaneTest, ANullPaneGivesAnEmptyValue)
{
    servicePane = nullptr;
    auto ui = start();
    expect_empty(ui);
}

TEST_F(PaneTest, AServiceFailureGivesAnEmptyValue)
{
    EXPECT_CALL(service, StartFileBrowserUi(_)).WillOnce(Throw(Exception(ExceptionKind::InvalidOperation, "no")));
    auto ui = VyrCldapiIntegration::StartFileBrowserUi(std::make_unique<StrictMock<MockHost>>(deletions));
    expect_empty(ui);
}

// The host's callback object is deleted exactly once, when the service releases the adapter.

TEST_F(PaneTest, NeitherTheStartNorTheLastValueNorTheStopDeletesTheHostsObject)
{
    EXPECT_CALL(service, StopFileBrowserUi());
    {
        auto ui = start();
        auto copy = ui;
        EXPECT_EQ(deletions, 0) << "deleted by StartFileBrowserUi";
    }
    EXPECT_EQ(deletions, 0) << "deleted with the last FileBrowserUi";
    VyrCldapiIntegration::StopFileBrowserUi();
    EXPECT_EQ(deletions, 0) << "deleted by a stop the service did not release it in";

    adapter = nullptr;
    EXPECT_EQ(deletions, 1) << "not deleted when the service dropped its last reference";
}

TEST_F(PaneTest, AnExplicitReleaseDeletesTheHostsObjectOnce)
{
    auto ui = start();
    adapter->Dispose();
    EXPECT_EQ(deletions, 1);
    adapter->Dispose();
    adapter = nullptr;
    EXPECT_EQ(deletions, 1) << "neither a second release nor the finaliser deletes it again";
}

TEST_F(PaneTest, AReleaseDuringTheStopDeletesTheHostsObjectThen)
{
    auto ui = start();
    EXPECT_CALL(service, StopFileBrowserUi()).WillOnce([this] { adapter = nullptr; });
    VyrCldapiIntegration::StopFileBrowserUi();
    EXPECT_EQ(deletions, 1);
}

TEST_F(PaneTest, AFailedStartLeavesTheHostsObjectToTheAdapter)
{
    EXPECT_CALL(service, StartFileBrowserUi(_)).WillOnce([this](Ref<ServiceCallback> callback) -> Ref<ServicePane> {
        adapter = std::move(callback);
        throw Exception(ExceptionKind::InvalidOperation, "no");
    });
    auto ui = VyrCldapiIntegration::StartFileBrowserUi(std::make_unique<StrictMock<MockHost>>(deletions));
    EXPECT_FALSE(ui);
    EXPECT_EQ(deletions, 0) << "the service still holds the adapter";

    adapter = nullptr;
    EXPECT_EQ(deletions, 1);
}

TEST_F(PaneTest, AFailedStartWhoseServiceKeptNothingStillDeletesTheHostsObject)
{
    EXPECT_CALL(service, StartFileBrowserUi(_)).WillOnce(Throw(Exception(ExceptionKind::InvalidOperation, "no")));
    auto ui = VyrCldapiIntegration::StartFileBrowserUi(std::make_unique<StrictMock<MockHost>>(deletions));
    EXPECT_EQ(deletions, 1) << "released when the service dropped the adapter";
}

TEST_F(PaneTest, ANullPaneLeavesTheHostsObjectToTheAdapter)
{
    servicePane = nullptr;
    auto ui = start();
    EXPECT_EQ(deletions, 0);
    adapter = nullptr;
    EXPECT_EQ(deletions, 1);
}

TEST_F(PaneTest, ASecondStartLeavesTheFirstPairAlone)
{
    auto first = start();
    auto firstAdapter = std::exchange(adapter, nullptr);
    int secondDeletions = 0;
    bool secondPaneDestroyed = false;
    servicePane = std::make_shared<FakePane>(secondPaneDestroyed);
    auto second = start(std::make_unique<StrictMock<MockHost>>(secondDeletions));

    first.setPaneIsActive(true);
    EXPECT_TRUE(pane.active);
    EXPECT_FALSE(servicePane->active) << "the second value drives the first pane";

    adapter = nullptr;
    EXPECT_EQ(secondDeletions, 1);
    EXPECT_EQ(deletions, 0) << "the second adapter's release touched the first";
    firstAdapter = nullptr;
    EXPECT_EQ(deletions, 1);
}

// Copies of a FileBrowserUi share one wrapper, and the wrapper keeps the pane alive.

TEST_F(PaneTest, CopiesDriveTheSamePane)
{
    auto ui = start();
    auto copy = ui;
    ui.setPaneIsActive(true);
    EXPECT_TRUE(copy.getPaneIsActive());
    copy.setPaneIsActive(false);
    EXPECT_FALSE(ui.getPaneIsActive());

    ui = FileBrowserUi();
    copy.handleEvents();
    EXPECT_EQ(pane.events, 1) << "destroying one copy stopped the other";
}

TEST_F(PaneTest, TheLastCopyKeepsThePaneAliveAfterTheServiceDropsIt)
{
    auto ui = start();
    servicePane = nullptr;
    auto copy = ui;
    ui = FileBrowserUi();
    ASSERT_FALSE(paneDestroyed);
    copy.handleEvents();
    EXPECT_TRUE(copy);

    copy = FileBrowserUi();
    EXPECT_TRUE(paneDestroyed) << "the pane outlived the last FileBrowserUi";
    EXPECT_EQ(deletions, 0) << "the host's object went with the pane";
    adapter = nullptr;
}

TEST_F(PaneTest, AValueStillDrivesItsPaneAfterTheStop)
{
    auto ui = start();
    EXPECT_CALL(service, StopFileBrowserUi());
    VyrCldapiIntegration::StopFileBrowserUi();
    EXPECT_TRUE(ui);
    ui.handleEvents();
    EXPECT_EQ(pane.events, 1);
}

TEST_F(PaneTest, AFailedStopIsDropped)
{
    EXPECT_CALL(service, StopFileBrowserUi()).WillOnce(Throw(Exception(ExceptionKind::InvalidOperation, "none")));
    EXPECT_NO_THROW(VyrCldapiIntegration::StopFileBrowserUi());
}

// The members forward to the pane; a failure in it gives the empty value's answer.

TEST_F(PaneTest, TheWindowHandleKeepsItsBits)
{
    auto ui = start();
    for (const std::intptr_t bits : {std::intptr_t{0}, std::intptr_t{0x1234}, std::intptr_t{-1}}) {
        pane.hwnd = bits;
        EXPECT_EQ(ui.getHwnd(), as_hwnd(bits));
    }
}

TEST_F(PaneTest, AFailureInsideThePaneStaysInTheLibrary)
{
    auto ui = start();
    pane.active = true;
    pane.failing = true;
    EXPECT_TRUE(ui);
    EXPECT_EQ(ui.getHwnd(), nullptr);
    EXPECT_FALSE(ui.getPaneIsActive());
    EXPECT_NO_THROW(ui.setPaneIsActive(false));
    EXPECT_NO_THROW(ui.handleEvents());
    EXPECT_TRUE(pane.active);
    EXPECT_EQ(pane.events, 0);
}

// The adapter turns the service's questions into the host's, and the host's answers back.

TEST_F(PaneTest, TheHostsWindowReachesTheServiceBitForBit)
{
    auto ui = start();
    EXPECT_CALL(*host, getHwnd()).WillOnce(Return(as_hwnd(-2))).WillOnce(Return(nullptr));
    EXPECT_EQ(adapter->get_HWND(), -2);
    EXPECT_EQ(adapter->get_HWND(), 0);
}

TEST_F(PaneTest, FileNamesReachTheHostAsHostTextAndTruthValuesComeBackUnchanged)
{
    auto ui = start();
    EXPECT_CALL(*host, showLockInfoPanelNearUi("a.dwg"));
    EXPECT_CALL(*host, promptSave("b.dwg")).WillOnce(Return(true)).WillOnce(Return(false));
    EXPECT_CALL(*host, isFileOperationsAllowed("")).WillOnce(Return(false)).WillOnce(Return(true));
    EXPECT_CALL(*host, isUsingContractPosts()).WillOnce(Return(true)).WillOnce(Return(false));

    adapter->ShowLockInfoPanelNearUi(u"a.dwg");
    EXPECT_TRUE(adapter->PromptSave(u"b.dwg"));
    EXPECT_FALSE(adapter->PromptSave(u"b.dwg"));
    EXPECT_FALSE(adapter->IsFileOperationsAllowed(u""));
    EXPECT_TRUE(adapter->IsFileOperationsAllowed(u""));
    EXPECT_TRUE(adapter->IsUsingContractPosts());
    EXPECT_FALSE(adapter->IsUsingContractPosts());
}

TEST_F(PaneTest, RelatedFilesReachTheServiceInOrderAndNeverNull)
{
    auto ui = start();
    EXPECT_CALL(*host, collectRelatedFiles("a.dwg"))
        .WillOnce(Return(std::vector<std::string>{"a.xref.dwg", "a.ctb"}))
        .WillOnce(Return(std::vector<std::string>{}));

    EXPECT_EQ(adapter->CollectRelatedFiles(u"a.dwg"), (List<String>{u"a.xref.dwg", u"a.ctb"}));
    const auto none = adapter->CollectRelatedFiles(u"a.dwg");
    EXPECT_FALSE(none.IsNull());
    EXPECT_EQ(none.Count(), 0u);
}

// Failures inside a question go back to the service's call; the host is not asked.

TEST_F(PaneTest, ANullFileNameFailsBackToTheService)
{
    auto ui = start();
    const std::function<void()> questions[] = {
        [this] { adapter->ShowLockInfoPanelNearUi(nullptr); },
        [this] { std::ignore = adapter->PromptSave(nullptr); },
        [this] { std::ignore = adapter->CollectRelatedFiles(nullptr); },
        [this] { std::ignore = adapter->IsFileOperationsAllowed(nullptr); },
    };
    for (const auto& question : questions) {
        const auto failure = failure_of(question);
        EXPECT_EQ(failure.Kind(), ExceptionKind::ArgumentNull);
        EXPECT_STREQ(failure.what(), "NULLPTR is not supported for this conversion.");
    }
}

TEST_F(PaneTest, AnAnswerThatDoesNotConvertFailsBackToTheServiceUnderAnUnusableCodesetLinuxOnly)
{
    auto ui = start();
    EXPECT_CALL(*host, collectRelatedFiles("")).WillOnce(Return(std::vector<std::string>{"a.dwg"}));
    ThreadLocale guard(unconvertible_locale);
    EXPECT_THROW(adapter->CollectRelatedFiles(u""), Exception);
}

TEST_F(PaneTest, WhatTheHostRaisesGoesBackToTheService)
{
    auto ui = start();
    EXPECT_CALL(*host, promptSave(_)).WillOnce(Throw(std::runtime_error("host")));
    EXPECT_CALL(*host, getHwnd()).WillOnce(Throw(std::runtime_error("host")));
    EXPECT_THROW(adapter->PromptSave(u"a.dwg"), std::runtime_error);
    EXPECT_THROW(adapter->get_HWND(), std::runtime_error);
}

// Every question, for the adapters that have no host object to ask.
void expect_every_question_fails(ServiceCallback& adapter, ExceptionKind kind)
{
    const std::function<void()> questions[] = {
        [&] { std::ignore = adapter.get_HWND(); },
        [&] { adapter.ShowLockInfoPanelNearUi(u"a.dwg"); },
        [&] { std::ignore = adapter.PromptSave(u"a.dwg"); },
        [&] { std::ignore = adapter.CollectRelatedFiles(u"a.dwg"); },
        [&] { std::ignore = adapter.IsFileOperationsAllowed(u"a.dwg"); },
        [&] { std::ignore = adapter.IsUsingContractPosts(); },
    };
    for (const auto& question : questions) {
        EXPECT_EQ(failure_of(question).Kind(), kind);
    }
}

TEST_F(PaneTest, WithoutAHostObjectEveryQuestionFailsBackToTheService)
{
    auto ui = start(nullptr);
    ASSERT_TRUE(ui);
    expect_every_question_fails(*adapter, ExceptionKind::ArgumentNull);
    adapter->Dispose();
    adapter->Dispose();
    adapter = nullptr;
}

TEST_F(PaneTest, AfterTheReleaseEveryQuestionFailsInsteadOfReachingTheDeletedObject)
{
    auto ui = start();
    adapter->Dispose();
    ASSERT_EQ(deletions, 1);
    expect_every_question_fails(*adapter, ExceptionKind::InvalidOperation);
}

} // namespace
} // namespace vyr::cld::test
