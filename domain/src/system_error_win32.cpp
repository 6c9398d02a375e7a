// System errors as GetLastError's codes, on Windows: SQLite keeps those, not errno, there.
#include "system_error.h"

#if !defined(_WIN32)
#error "the Win32 system errors are for Windows builds only"
#endif

#include <windows.h>

namespace vyr::cld::domain::platform {

bool store_full(int kept) noexcept
{
    // ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
    constexpr DWORD disk_quota_exceeded = 1295;
    const auto error = kept != 0 ? static_cast<DWORD>(kept) : GetLastError();
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL || error == disk_quota_exceeded ||
           error == ERROR_FILE_TOO_LARGE;
}

} // namespace vyr::cld::domain::platform
