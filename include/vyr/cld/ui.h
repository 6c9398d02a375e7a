#pragma once

#include <vyr/cld/enums.h>
#include <vyr/cld/platform.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// @file
/// The progress callback, the file-browser pane and the service's dialogs.
namespace vyr::cld {

/// One file chosen for import in the files-overview dialog.
struct FileToImport {
    std::string fileName;
    /// Absent when the service names no vendor; an empty vendor is a vendor.
    std::optional<std::string> vendor;

    friend bool operator==(const FileToImport&, const FileToImport&) = default;
};

/// What the file-browser pane asks of the host while it runs. The host implements it and hands
/// it to StartFileBrowserUi, which takes it over. The library deletes it through the virtual
/// destructor exactly once, when the service lets go of the pane's callback; until then the
/// service may call any operation at any time, on any thread.
class IFileBrowserUICallback {
public:
    virtual ~IFileBrowserUICallback() = default;

    virtual HWND getHwnd() = 0;
    virtual void showLockInfoPanelNearUi(const std::string& fileName) = 0;
    virtual bool promptSave(const std::string& fileName) = 0;
    virtual std::vector<std::string> collectRelatedFiles(const std::string& fileName) = 0;
    virtual bool isFileOperationsAllowed(const std::string& fileName) = 0;
    virtual bool isUsingContractPosts() = 0;
};

/// Holds the service's pane alive. Only the library creates and reads it; the host passes it around
/// inside FileBrowserUi, where the shared pointer's own deleter destroys it.
struct FileBrowserUiWrapper;

/// The host's view of an open file-browser pane. Copies share one pane; the last copy to go lets
/// go of it. An empty value (default-constructed, or from a failed start) tests false and its
/// members do nothing. The members never let a failure reach the caller: a failure inside the pane
/// gives the empty value's answer.
class FileBrowserUi {
public:
    FileBrowserUi() noexcept = default;
    explicit FileBrowserUi(std::shared_ptr<FileBrowserUiWrapper> wrapper) noexcept : m_wrapper(std::move(wrapper)) {}

    FileBrowserUi(const FileBrowserUi&) = default;
    FileBrowserUi(FileBrowserUi&&) noexcept = default;
    FileBrowserUi& operator=(const FileBrowserUi&) = default;
    FileBrowserUi& operator=(FileBrowserUi&&) noexcept = default;
    ~FileBrowserUi() = default;

    /// True while this value holds a pane, also after StopFileBrowserUi.
    VYR_CLD_API operator bool() const;
    /// The pane's window; null for an empty value.
    VYR_CLD_API HWND getHwnd();
    VYR_CLD_API void setPaneIsActive(bool set);
    VYR_CLD_API bool getPaneIsActive();
    /// Lets the pane process its pending events.
    VYR_CLD_API void handleEvents();

private:
    std::shared_ptr<FileBrowserUiWrapper> m_wrapper;
};

} // namespace vyr::cld

namespace VyrCldapiIntegration {

/// Installs the host's progress function: the service reports downloads, uploads and the removal
/// of a progress bar through a copy of it, on threads of its own choosing, for as long as the
/// service keeps it. The host may drop its own function at once.
VYR_CLD_API void
SetCallbacks(std::function<void(vyr::cld::ProgressEventType, double, const std::string&)> progressCallback);

/// Opens the service's file-browser pane. The library takes `callback` over in every case, even
/// when the result is empty, and deletes it once the service has let go of it.
VYR_CLD_API vyr::cld::FileBrowserUi StartFileBrowserUi(std::unique_ptr<vyr::cld::IFileBrowserUICallback> callback);
/// Asks the service to close the pane; values the host still holds keep their pane object.
VYR_CLD_API void StopFileBrowserUi();

VYR_CLD_API bool ShowImportFilesDialog(vyr::cld::TagCategory tagCategory, const std::string& header);
VYR_CLD_API bool ShowIncludeFolderDialog();
/// The files chosen in the dialog, and in `importToThisLayer` the layer chosen for them. The
/// host's previous value of `importToThisLayer` is not passed on; on failure it is left as it was.
VYR_CLD_API std::vector<vyr::cld::FileToImport>
ShowFilesOverviewDialog(const std::vector<std::string>& filesInCurrentModel,
                        const std::vector<std::string>& resultApplayers, std::string& importToThisLayer);
VYR_CLD_API void AddIncludeFoldersToProject(const std::vector<std::string>& includeFolders);
VYR_CLD_API bool AreIncludeFoldersInModel(const std::vector<std::string>& includeFolders);

} // namespace VyrCldapiIntegration
