#pragma once

#include <filesystem>
#include <optional>
#include <string>

// The platform's desktop, one source per platform chosen by the build: where a user's state
// lives and how a page is shown in the user's browser. The XDG conventions outside Windows, the
// shell's on it.
namespace vyr::cld::remote::desktop {

// The folder this program keeps its state in for the user (XDG_STATE_HOME, else
// ~/.local/state; %LOCALAPPDATA%), without the program's own folder; nothing when the
// environment names none.
[[nodiscard]] std::optional<std::filesystem::path> state_home();

// Shows an http(s) address in the user's browser, detached from the caller, and returns at once.
// Nothing else is opened.
void open_in_browser(const std::string& url);

} // namespace vyr::cld::remote::desktop
