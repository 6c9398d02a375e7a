// The Windows shell, on Windows.
#include "desktop.h"

#if !defined(_WIN32)
#error "the Windows desktop is for Windows builds only"
#endif

#include <windows.h>

#include <shellapi.h>

#include <climits>

namespace vyr::cld::remote::desktop {

std::optional<std::filesystem::path> state_home()
{
    // The user's local (not roaming) application data: the journals describe this machine's
    // working folders. Only an absolute folder counts, as XDG_STATE_HOME's must be.
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", nullptr, 0);
    if (length == 0) {
        return std::nullopt;
    }
    std::wstring folder(length, L'\0');
    const DWORD written = GetEnvironmentVariableW(L"LOCALAPPDATA", folder.data(), length);
    if (written == 0 || written >= length) {
        return std::nullopt;
    }
    folder.resize(written);
    std::filesystem::path path(folder);
    if (!path.is_absolute()) {
        return std::nullopt;
    }
    return path;
}

void open_in_browser(const std::string& url)
{
    if ((url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0) || url.size() > INT_MAX) {
        return;
    }
    const int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url.data(), static_cast<int>(url.size()),
                                           nullptr, 0);
    if (length <= 0) {
        return;
    }
    std::wstring address(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, url.data(), static_cast<int>(url.size()), address.data(), length);
    // The shell hands an http(s) address to the user's browser and returns; the address is one
    // argument, never a command line.
    ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace vyr::cld::remote::desktop
