#include "support/census.h"
#include "support/allocation_faults.h"

#include "support/mock_service.h"

#include <vyr/cld/ui.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>

// Sweeps that fail each allocation of a call in turn: whichever one fails, the call contains it,
// and the host's objects are neither leaked nor destroyed twice.
namespace vyr::cld::test {
namespace {

// A service that keeps what it is handed, written without mocks so that the only allocations
// during a call are the library's own.
class KeepingService : public MockService {
public:
    void SetCallbacks(ProgressAction progressAction) override { progress = std::move(progressAction); }

    Ref<UI::FileBrowserUI> StartFileBrowserUi(Ref<UI::IFileBrowserUICallback> callback) override
    {
        adapter = std::move(callback);
        return pane;
    }

    ProgressAction progress;
    Ref<UI::IFileBrowserUICallback> adapter;
    Ref<UI::FileBrowserUI> pane;
};

class IdlePane : public UI::FileBrowserUI {
public:
    std::intptr_t get_HWND() override { return 0; }
    bool get_PaneIsActive() override { return false; }
    void set_PaneIsActive(bool) override {}
    void HandleEvents() override {}
};

class CountingHost : public vyr::cld::IFileBrowserUICallback {
public:
    explicit CountingHost(int& deletions) : deletions_(&deletions) {}
    ~CountingHost() override { ++*deletions_; }
    HWND getHwnd() override { return nullptr; }
    void showLockInfoPanelNearUi(const std::string&) override {}
    bool promptSave(const std::string&) override { return false; }
    std::vector<std::string> collectRelatedFiles(const std::string&) override { return {}; }
    bool isFileOperationsAllowed(const std::string&) override { return false; }
    bool isUsingContractPosts() override { return false; }

private:
    int* deletions_;
};

class AllocationSweep : public ::testing::Test {
protected:
    void SetUp() override { Cld_Integration::Install(service); }
    void TearDown() override { Cld_Integration::Install(nullptr); }

    std::shared_ptr<KeepingService> service = std::make_shared<KeepingService>();
};

TEST_F(AllocationSweep, StartingThePaneNeverLeaksTheHostsObject)
{
    service->pane = std::make_shared<IdlePane>();
    int n = 0;
    for (bool failed = true; failed; ++n) {
        int deletions = 0;
        auto host = std::make_unique<CountingHost>(deletions);
        {
            FileBrowserUi ui;
            {
                FailingAllocation failure(n);
                ui = VyrCldapiIntegration::StartFileBrowserUi(std::move(host));
                failed = failure.fired();
            }
            EXPECT_EQ(static_cast<bool>(ui), !failed) << "allocation " << n;
        }
        service->adapter = nullptr;
        EXPECT_EQ(deletions, 1) << "allocation " << n;
    }
    EXPECT_GE(n, 3) << "the adapter, the wrapper, then no failure";
}

TEST_F(AllocationSweep, InstallingTheProgressFunctionNeverLeaksACopy)
{
    int n = 0;
    for (bool failed = true; failed; ++n) {
        Census census;
        {
            std::function<void(ProgressEventType, double, const std::string&)> host =
                [counted = Counted(census)](vyr::cld::ProgressEventType, double, const std::string&) {};
            FailingAllocation failure(n);
            VyrCldapiIntegration::SetCallbacks(std::move(host));
            failed = failure.fired();
        }
        EXPECT_EQ(census.live(), failed ? 0 : 1) << "allocation " << n;
        EXPECT_EQ(static_cast<bool>(service->progress), !failed) << "allocation " << n;
        service->progress = {};
        EXPECT_EQ(census.live(), 0) << "allocation " << n;
    }
    EXPECT_GE(n, 3) << "the wrapper, its copy of the function, then no failure";
}

} // namespace
} // namespace vyr::cld::test
