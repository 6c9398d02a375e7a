#pragma once

#include <VyrCldapi/Callbacks.h>

#include <atomic>
#include <cstdint>

namespace vyr::cld::local {

// The file-browser pane without a window: the host's callback is asked by the file operations
// while the pane is open, and the pane itself keeps only its active flag.
class Pane final : public VyrCldapi::UI::FileBrowserUI {
public:
    std::intptr_t get_HWND() override { return 0; }
    bool get_PaneIsActive() override { return active_; }
    void set_PaneIsActive(bool value) override { active_ = value; }
    void HandleEvents() override {}

private:
    std::atomic<bool> active_{false};
};

} // namespace vyr::cld::local
