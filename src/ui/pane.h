#pragma once

#include "frame/marshal.h"

#include <vyr/cld/ui.h>

#include <VyrCldapi/Callbacks.h>

#include <cstdint>
#include <memory>

namespace vyr::cld {

// The strong handle on the service's pane: the pane lives at least as long as this wrapper,
// whatever the service does with its own references.
struct FileBrowserUiWrapper {
    explicit FileBrowserUiWrapper(VyrCldapi::Ref<VyrCldapi::UI::FileBrowserUI> ui) noexcept : pane(std::move(ui)) {}

    // One wrapper per start: copies of FileBrowserUi share it instead.
    FileBrowserUiWrapper(const FileBrowserUiWrapper&) = delete;
    FileBrowserUiWrapper& operator=(const FileBrowserUiWrapper&) = delete;

    VyrCldapi::Ref<VyrCldapi::UI::FileBrowserUI> pane;
};

} // namespace vyr::cld

namespace vyr::cld::bridge {

// The service's view of the host's callback object. The service owns the adapter and the adapter
// owns the host's object: it deletes it when the service releases the adapter, explicitly
// (Dispose) or by dropping its last reference, and at no other time. Every failure, the host's
// own included, goes back to the service's call.
class FileBrowserUiCallback final : public VyrCldapi::UI::IFileBrowserUICallback {
public:
    // Takes the object over only once the adapter exists, so that a failed allocation of the
    // adapter leaves it with the caller instead of leaking it. A null object is allowed: every
    // question then fails back to the service.
    explicit FileBrowserUiCallback(std::unique_ptr<vyr::cld::IFileBrowserUICallback> callback) noexcept;

    FileBrowserUiCallback(const FileBrowserUiCallback&) = delete;
    FileBrowserUiCallback& operator=(const FileBrowserUiCallback&) = delete;
    // The finaliser: deletes the host's object unless Dispose already did.
    ~FileBrowserUiCallback() override = default;

    std::intptr_t get_HWND() override;
    void ShowLockInfoPanelNearUi(const VyrCldapi::String& fileName) override;
    bool PromptSave(const VyrCldapi::String& fileName) override;
    VyrCldapi::List<VyrCldapi::String> CollectRelatedFiles(const VyrCldapi::String& fileName) override;
    bool IsFileOperationsAllowed(const VyrCldapi::String& fileName) override;
    bool IsUsingContractPosts() override;

    // Deletes the host's object at once; a second call does nothing.
    void Dispose() override;

private:
    vyr::cld::IFileBrowserUICallback& host() const;

    std::unique_ptr<vyr::cld::IFileBrowserUICallback> m_callback;
    bool m_released = false;
};

// A null pane is an empty value. Every pane gets a wrapper of its own.
template <> struct marshaller<FileBrowserUi, VyrCldapi::Ref<VyrCldapi::UI::FileBrowserUI>> {
    static FileBrowserUi convert(const VyrCldapi::Ref<VyrCldapi::UI::FileBrowserUI>& ui)
    {
        if (!ui) {
            return FileBrowserUi();
        }
        return FileBrowserUi(std::make_shared<FileBrowserUiWrapper>(ui));
    }
};

} // namespace vyr::cld::bridge
