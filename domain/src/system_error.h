#pragma once

// The platform's system errors, one source per platform chosen by the build: errno outside
// Windows, GetLastError's codes on it.
namespace vyr::cld::domain::platform {

// Whether a failed write of the store found the disk, the user's quota or the process's file-size
// limit full. `kept` is the system error SQLite kept for the failure (sqlite3_system_errno), 0
// when it kept none: then the thread's last error is asked, as nothing between the failed write
// and the caller fails another call.
[[nodiscard]] bool store_full(int kept) noexcept;

} // namespace vyr::cld::domain::platform
