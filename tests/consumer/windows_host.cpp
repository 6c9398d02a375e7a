// A Windows host includes <windows.h> before the bridge's headers: its HWND is the bridge's, and
// its macros rename nothing of the bridge (RemoveFile is no DeleteFile).
#include <windows.h>

#include <vyr/cld/integration.h>

#include <cstdio>
#include <memory>
#include <type_traits>
#include <utility>

static_assert(std::is_same_v<decltype(std::declval<vyr::cld::IFileBrowserUICallback&>().getHwnd()), HWND>);

namespace {

class Host final : public vyr::cld::IFileBrowserUICallback {
public:
    HWND getHwnd() override { return GetDesktopWindow(); }
    void showLockInfoPanelNearUi(const std::string&) override {}
    bool promptSave(const std::string&) override { return false; }
    std::vector<std::string> collectRelatedFiles(const std::string&) override { return {}; }
    bool isFileOperationsAllowed(const std::string&) override { return false; }
    bool isUsingContractPosts() override { return false; }
};

} // namespace

int main()
{
    // No service is installed: the pane does not start and every call fails quietly.
    int responsecode = 7;
    const auto pane = VyrCldapiIntegration::StartFileBrowserUi(std::make_unique<Host>());
    const HWND window = vyr::cld::FileBrowserUi(pane).getHwnd();
    if (pane || window != nullptr || VyrCldapiIntegration::RemoveFile("plan.dwg", responsecode) || responsecode != 7) {
        std::puts("windows host: unexpected result");
        return 1;
    }
    std::puts("windows host: ok");
    return 0;
}
