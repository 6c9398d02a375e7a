// Several host threads, each in its own locale, call every kind of entry point at once against
// the demo service, while a service thread reports progress and asks the pane's host questions,
// and copies of the pane value are made and dropped on every thread. Meant for ThreadSanitizer;
// bounded in time.
#include <vyr/cld/integration.h>

#include "demo_service.h"
#include "support/locales.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

namespace api = VyrCldapiIntegration;
namespace cld = vyr::cld;
using Texts = std::vector<std::string>;

std::atomic<int> hosts_alive{0};

class Host final : public cld::IFileBrowserUICallback {
public:
    Host() { ++hosts_alive; }
    ~Host() override { --hosts_alive; }
    HWND getHwnd() override { return nullptr; }
    void showLockInfoPanelNearUi(const std::string&) override {}
    bool promptSave(const std::string&) override { return false; }
    std::vector<std::string> collectRelatedFiles(const std::string& fileName) override { return {fileName}; }
    bool isFileOperationsAllowed(const std::string&) override { return true; }
    bool isUsingContractPosts() override { return false; }
};

// One call of every kind; each host thread runs them all in turn.
std::vector<std::function<void(cld::FileBrowserUi&)>> calls()
{
    const Texts files{"site/plan.dwg", "site/notes.txt"};
    const std::optional<Texts> filters{Texts{"*.dwg"}};
    return {
        [](auto&) { api::SetProjectAndPartition("p-1", "/p", "d-1", "/p/d", "/me", "/import"); },
        [](auto&) { api::SetOnlyProjectAndPartition("p-1", "/p", "d-1", "/p/d"); },
        [](auto&) { api::SetUserDirectory("userdir-1", "/me"); },
        [](auto&) { api::SetTenantUniqueId("road-authority"); },
        [](auto&) { api::SetCurrentAppLanguage("nb-NO"); },
        [](auto&) { api::SetStartedInFieldMode(false); },
        [](auto&) { api::StartSyncDir(); },
        [](auto&) { api::StopSyncDir(); },
        [](auto&) { api::StartProjectsAndPartitionsTask(); },
        [](auto&) { api::AbortProjectsAndPartitionsTask(); },
        [](auto&) {
            int rc = 0;
            api::WaitForAllTasks(std::chrono::milliseconds(1), rc);
        },
        [filters](auto&) { api::SetDownloadFilters(filters, std::nullopt, Texts{}); },
        [files](auto&) { api::SetFileIgnoreFilter(files); },
        [files](auto&) { api::SetDirectoryIgnoreFilter(files); },
        [filters](auto&) { api::GetProjectFiles(filters, std::nullopt); },
        [filters](auto&) { api::GetUserDirectoryFiles(std::nullopt, filters); },
        [](auto&) {
            int rc = 0;
            api::LockFile("site/plan.dwg", rc);
            api::UnlockFile("site/plan.dwg", true, rc);
            api::UnlockFileForced("site/plan.dwg", rc);
            api::UnlockAllFilesLockedByMe(rc);
        },
        [](auto&) {
            int rc = 0;
            api::UploadFile("site/new.dwg", rc);
            api::DownloadFile("site/new.dwg", rc);
            api::RenameFile("site/new.dwg", "site/newer.dwg", rc);
            api::RemoveFile("site/newer.dwg", rc);
        },
        [](auto&) {
            std::string a, b, c, d;
            api::GetLockStatus("site/notes.txt", a, b, c, d);
        },
        [files](auto&) {
            int rc = 0;
            api::LockFiles(files, rc);
            api::UnlockFiles(files, false, rc);
            api::UploadNewFiles(files, rc);
            api::TagFiles(files, "p-1", cld::TagCategory::Export, "survey", rc);
        },
        [](auto&) {
            api::GetFileId("site/plan.dwg");
            api::GetFileRevision("site/plan.dwg");
            api::FileExistsInProject("site/plan.dwg");
            api::FindFileInWebApp("site/plan.dwg");
            api::GetFileSyncStatus();
            api::CheckPathTooLongExceptions();
            api::CheckDownSyncFileExceptions();
            api::GetStatusEvents();
        },
        [](auto&) {
            int rc = 0;
            api::GetInfoForDownloadCopy("p-1", "d-1", rc);
            api::GetProjectList(rc);
            api::GetProjectInfo("p-1", rc);
            api::CreateProject("Bypass", "2026-18", rc);
            api::GetTenants(rc);
            api::GetTenantInfo(rc);
            api::GetProjectMetadata(rc);
        },
        [](auto&) {
            int rc = 0;
            api::GetPartitionInfo("p-1", "d-1", rc);
            api::GetProjectPartitionTags("p-1", rc);
            api::CreateProjectPartitionTag("p-1", "Design", 3, rc);
            api::GetAllAccessibleProjectPartitions(rc);
            api::SetPartitionVersion("p-1", "d-1", 4, rc);
            api::GetUserDirectoryTags(rc);
            api::GetUserDirectoryTagInfo(1, rc);
            api::CreateUserDirectoryTag(2, rc);
            api::GetNvdbProject(rc);
            api::GetNvdbProjects(rc);
        },
        [files](auto&) {
            int rc = 0;
            api::NotifyOnlineViewer2dModelUpdate(files, 25833, "Plan", "model-1", rc);
            api::Get2dModelUpdateStatus("update-model-1", rc);
            api::NotifyOnlineViewer3dModelUpdate(files, 25833, "Plan", "model-1", -0.5, 1e9, rc);
        },
        [files](auto&) {
            std::string layer;
            api::ShowImportFilesDialog(cld::TagCategory::Import, "Import");
            api::ShowIncludeFolderDialog();
            api::ShowFilesOverviewDialog(files, Texts{"Layer 1"}, layer);
            api::AddIncludeFoldersToProject(files);
            api::AreIncludeFoldersInModel(files);
        },
        [](auto&) { api::SetCallbacks([](cld::ProgressEventType, double, const std::string&) {}); },
        // A new pane now and then: the service drops the previous host adapter on this thread.
        [](cld::FileBrowserUi& pane) { pane = api::StartFileBrowserUi(std::make_unique<Host>()); },
        // Copies of the pane value made and dropped here, while other threads do the same.
        [](cld::FileBrowserUi& pane) {
            auto copy = pane;
            copy.setPaneIsActive(!copy.getPaneIsActive());
            (void)copy.getHwnd();
            copy.handleEvents();
        },
    };
}

TEST(Stress, ManyHostThreadsAndServiceCallbacksAtOnce)
{
    // Built before any thread starts: building a locale sets LOCPATH.
    const vyr::cld::test::Locale locales[] = {vyr::cld::test::named_locale("C.UTF-8"),
                                              vyr::cld::test::named_locale(vyr::cld::test::single_byte_locale)};
    auto service = std::make_shared<demo::DemoService>();
    VyrCldapi::Cld_Integration::Install(service);

    std::atomic<long> progress_calls{0};
    api::SetCallbacks([&progress_calls](cld::ProgressEventType, double, const std::string&) { ++progress_calls; });
    const auto shared_pane = api::StartFileBrowserUi(std::make_unique<Host>());
    ASSERT_TRUE(shared_pane);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::atomic<bool> stop{false};
    std::atomic<long> host_calls{0};
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                const vyr::cld::test::ThreadLocale locale(locales[t % 2]);
                cld::FileBrowserUi pane = shared_pane;
                const auto mix = calls();
                for (int round = 0; round < 200 && std::chrono::steady_clock::now() < deadline; ++round) {
                    for (const auto& call : mix) {
                        call(pane);
                        ++host_calls;
                    }
                }
            });
        }
        threads.emplace_back([&] {
            while (!stop) {
                service->PumpCallbacks();
                std::this_thread::yield();
            }
        });
        for (int t = 0; t < 4; ++t) {
            threads[static_cast<std::size_t>(t)].join();
        }
        stop = true;
    }

    EXPECT_GT(host_calls.load(), 0);
    std::printf("stress: %ld host call groups, %ld progress notifications to the first function\n", host_calls.load(),
                progress_calls.load());
    api::StopFileBrowserUi();
    VyrCldapi::Cld_Integration::Install(nullptr);
    service.reset();
    // Every host callback object is gone once the service is: none leaked, none deleted twice.
    EXPECT_EQ(hosts_alive.load(), 0);
}

} // namespace
