// An example host: drives the bridge against the in-memory demo service and prints what comes
// back, as a desktop application would see it.
#include <vyr/cld/integration.h>

#include "demo_service.h"

#include <chrono>
#include <clocale>
#include <iostream>
#include <memory>
#include <string>

namespace {

namespace api = VyrCldapiIntegration;
namespace cld = vyr::cld;

// Calls `operation` with a fresh error code and prints its result and the code the service left.
template <class Operation> void report(const char* what, Operation operation)
{
    int responsecode = -1;
    const bool result = operation(responsecode);
    std::cout << what << ": " << (result ? "true" : "false") << ", responsecode " << responsecode << '\n';
}

const char* name(cld::LockStatus status)
{
    constexpr const char* names[] = {"NotLocked", "LockedByMe", "LockedByOther", "NotInProject", "Unknown"};
    return names[static_cast<int>(status)];
}

const char* name(cld::ProgressEventType type)
{
    constexpr const char* names[] = {"DeleteProgressBar", "Download", "Upload"};
    return names[static_cast<int>(type)];
}

// The host's side of the file-browser pane.
class PaneHost final : public cld::IFileBrowserUICallback {
public:
    HWND getHwnd() override { return nullptr; }
    void showLockInfoPanelNearUi(const std::string& fileName) override
    {
        std::cout << "  lock info: " << fileName << '\n';
    }
    bool promptSave(const std::string&) override { return true; }
    std::vector<std::string> collectRelatedFiles(const std::string& fileName) override { return {fileName + ".bak"}; }
    bool isFileOperationsAllowed(const std::string&) override { return true; }
    bool isUsingContractPosts() override { return false; }
    ~PaneHost() override { std::cout << "  pane host released\n"; }
};

} // namespace

int main()
{
    // Host text is in the locale's encoding; take the environment's.
    std::setlocale(LC_ALL, "");
    VyrCldapi::Cld_Integration::Install(std::make_shared<demo::DemoService>());

    api::SetCallbacks([](cld::ProgressEventType type, double progress, const std::string& title) {
        std::cout << "  progress " << name(type) << ' ' << progress << ' ' << title << '\n';
    });

    std::cout << "Single files\n";
    report("LockFile site/plan.dwg", [](int& rc) { return api::LockFile("site/plan.dwg", rc); });
    report("LockFile site/notes.txt (held by anna)", [](int& rc) { return api::LockFile("site/notes.txt", rc); });
    std::string holder, display, principal, since;
    const auto status = api::GetLockStatus("site/notes.txt", holder, display, principal, since);
    std::cout << "GetLockStatus site/notes.txt: " << name(status) << " by " << display << " <" << principal
              << "> since " << since << '\n';
    report("UnlockFile site/plan.dwg", [](int& rc) { return api::UnlockFile("site/plan.dwg", true, rc); });
    report("DownloadFile site/notes.txt", [](int& rc) { return api::DownloadFile("site/notes.txt", rc); });
    report("DownloadFile site/missing.dwg", [](int& rc) { return api::DownloadFile("site/missing.dwg", rc); });

    std::cout << "Status events\n";
    for (const auto& event : api::GetStatusEvents()) {
        std::cout << "  event " << static_cast<int>(event.type) << " #" << event.status << ' ' << event.responseId
                  << '\n';
    }

    std::cout << "Projects\n";
    int responsecode = -1;
    if (const auto projects = api::GetProjectList(responsecode)) {
        for (const auto& project : *projects) {
            std::cout << "  " << project.id << ' ' << project.name << " (" << project.projectNumber << ")\n";
        }
    }
    if (const auto metadata = api::GetProjectMetadata(responsecode)) {
        // A TimePoint is a system_clock time point, so the standard calendar types read it.
        const auto day = std::chrono::year_month_day(std::chrono::floor<std::chrono::days>(metadata->sizeTimestamp));
        std::cout << "  metadata " << metadata->id << ": " << metadata->size << " bytes on " << int(day.year()) << '-'
                  << unsigned(day.month()) << '-' << unsigned(day.day()) << '\n';
    }
    if (const auto partitions = api::GetAllAccessibleProjectPartitions(responsecode)) {
        for (const auto& [projectId, tags] : *partitions) {
            for (const auto& tag : tags) {
                std::cout << "  " << projectId << " / " << tag.displayName << " v" << tag.clientMetadata.versionMajor
                          << '\n';
            }
        }
    }

    std::cout << "Tasks\n";
    const int waited = api::WaitForAllTasks(cld::Ticks(std::chrono::milliseconds(50)), responsecode);
    std::cout << "  WaitForAllTasks 50 ms: " << waited << ", responsecode " << responsecode << '\n';

    std::cout << "File browser pane\n";
    auto pane = api::StartFileBrowserUi(std::make_unique<PaneHost>());
    pane.setPaneIsActive(true);
    std::cout << "  open " << static_cast<bool>(pane) << ", active " << pane.getPaneIsActive() << '\n';
    api::StopFileBrowserUi();

    // With no service installed every call fails quietly, and responsecode is left alone.
    VyrCldapi::Cld_Integration::Install(nullptr);
    report("LockFile without a service", [](int& rc) { return api::LockFile("site/plan.dwg", rc); });
    return 0;
}
