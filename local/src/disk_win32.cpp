// Files on Win32 handles, on Windows.
#include "disk.h"

#include "content_store.h"

#include <vyr/cld/domain/names.h>

#if !defined(_WIN32)
#error "the Win32 files are for Windows builds only"
#endif

#include <windows.h>

#include <climits>
#include <cstring>
#include <vector>

namespace vyr::cld::local::disk {
namespace {

[[noreturn]] void raise_last()
{
    raise_failure(last_error());
}

// The path as the wide API takes it: through the \\?\ prefix it may be longer than MAX_PATH, and
// a part is taken as it is (the store admits no device names, nor trailing dots and spaces, that
// Windows would read otherwise). The prefix passes the path to the file system unparsed, so a
// relative path is made absolute here, and "." and ".." parts resolved, first.
std::wstring native(const std::filesystem::path& path)
{
    if (path.native().starts_with(LR"(\\?\)")) {
        return path.native();
    }
    const auto full = path.is_absolute() ? path : std::filesystem::absolute(path);
    std::wstring text = full.lexically_normal().make_preferred().wstring();
    if (text.starts_with(LR"(\\)")) {
        return LR"(\\?\UNC\)" + text.substr(2);
    }
    return LR"(\\?\)" + text;
}

HANDLE handle_of(std::intptr_t handle) noexcept
{
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t opened(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE) {
        raise_last();
    }
    return reinterpret_cast<std::intptr_t>(handle);
}

// 100-nanosecond ticks since 1601 as nanoseconds since 1970.
std::int64_t unix_nanos(const FILETIME& time) noexcept
{
    constexpr std::int64_t ticks_to_1970 = 116444736000000000;
    const auto ticks = (static_cast<std::int64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (ticks - ticks_to_1970) * 100;
}

} // namespace

std::error_code last_error() noexcept
{
    return {static_cast<int>(GetLastError()), std::system_category()};
}

bool full(const std::error_code& error) noexcept
{
    // ERROR_DISK_QUOTA_EXCEEDED, which mingw-w64's headers lack.
    constexpr DWORD disk_quota_exceeded = 1295;
    if (error.category() == std::system_category()) {
        const auto code = static_cast<DWORD>(error.value());
        return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == disk_quota_exceeded ||
               code == ERROR_FILE_TOO_LARGE;
    }
    return error == std::errc::no_space_on_device || error == std::errc::file_too_large;
}

bool held(const std::error_code& error) noexcept
{
    return error.category() == std::system_category() &&
           (error.value() == ERROR_SHARING_VIOLATION || error.value() == ERROR_LOCK_VIOLATION);
}

void check_replaceable(const std::filesystem::path& target)
{
    // Replacing needs the target open for writing and deleting, which a program that shares either
    // not refuses: asked of the file itself, opened but never changed, it answers which.
    const HANDLE probe = CreateFileW(native(target).c_str(), DELETE | FILE_WRITE_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        return;
    }
    if (held(last_error())) {
        throw HeldOpen{};
    }
}

File File::reading(const std::filesystem::path& path)
{
    // Shared for reading and for deleting (a blob replaced by a fresh copy of itself), never for
    // writing: the bytes read are the file as it was when it was opened, not a mix of two saves.
    return File(opened(CreateFileW(native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr)));
}

File::File(File&& other) noexcept : handle_(other.handle_)
{
    other.handle_ = -1;
}

File::~File()
{
    if (handle_ != -1) {
        CloseHandle(handle_of(handle_));
    }
}

std::int64_t File::size() const
{
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle_of(handle_), &size)) {
        raise_last();
    }
    return size.QuadPart;
}

std::size_t File::read(char* data, std::size_t size)
{
    DWORD got = 0;
    const auto wanted = static_cast<DWORD>(size < 0x40000000 ? size : 0x40000000);
    if (!ReadFile(handle_of(handle_), data, wanted, &got, nullptr)) {
        raise_last();
    }
    return got;
}

void File::write(const char* data, std::size_t size)
{
    while (size > 0) {
        DWORD put = 0;
        const auto piece = static_cast<DWORD>(size < 0x40000000 ? size : 0x40000000);
        if (!WriteFile(handle_of(handle_), data, piece, &put, nullptr)) {
            raise_last();
        }
        data += put;
        size -= put;
    }
}

void File::sync()
{
    if (!FlushFileBuffers(handle_of(handle_))) {
        raise_last();
    }
}

Temporary::Temporary(const std::filesystem::path& folder) : file_(-1)
{
    // The open handle is the lock: it shares neither writing nor deleting, so a sweep cannot
    // remove the file while its writer lives, and the system closes it when the writer dies.
    // Six hex digits as the name's end; a name taken already is tried again under another.
    for (int attempt = 1;; ++attempt) {
        auto name = folder / (std::string(domain::temporary_prefix) + domain::random_hex(3));
        const HANDLE handle = CreateFileW(native(name).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            file_.handle_ = reinterpret_cast<std::intptr_t>(handle);
            path_ = std::move(name);
            return;
        }
        const auto error = GetLastError();
        if ((error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) || attempt == 64) {
            raise_last();
        }
    }
}

Temporary::~Temporary()
{
    if (path_.empty()) {
        return;
    }
    // Marked for deletion through the writer's own handle, which no one else could open for it.
    FILE_DISPOSITION_INFO disposition{TRUE};
    SetFileInformationByHandle(handle_of(file_.handle_), FileDispositionInfo, &disposition, sizeof disposition);
}

void Temporary::rename_to(const std::filesystem::path& target)
{
    // Through the writer's handle, which alone has the file open for deleting; the target is
    // replaced in one step, as rename() does.
    const auto name = native(target);
    const auto bytes = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + bytes);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = TRUE;
    info->RootDirectory = nullptr;
    info->FileNameLength = bytes;
    std::memcpy(info->FileName, name.data(), bytes);
    if (!SetFileInformationByHandle(handle_of(file_.handle_), FileRenameInfo, info, static_cast<DWORD>(buffer.size()))) {
        // A target held open refuses as "access denied": the target itself tells whether it is held.
        const auto error = last_error();
        check_replaceable(target);
        raise_failure(error);
    }
    path_.clear();
}

void create_folders(const std::filesystem::path& folder)
{
    // Each folder from the top down, as the long-path form reaches it. A folder that is there
    // already may still refuse creating (a protected one above the user's): it is taken as it is.
    const auto full = (folder.is_absolute() ? folder : std::filesystem::absolute(folder)).lexically_normal();
    std::filesystem::path reached;
    for (const auto& part : full) {
        reached /= part;
        if (!reached.has_relative_path() || part.empty()) {
            continue;
        }
        const auto name = native(reached);
        if (!CreateDirectoryW(name.c_str(), nullptr)) {
            const auto error = last_error();
            const auto attributes = GetFileAttributesW(name.c_str());
            if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                raise_failure(error);
            }
        }
    }
}

void remove_abandoned(const std::filesystem::path& file) noexcept
{
    // A writer's open handle refuses the deletion: only a file whose writer is gone goes.
    DeleteFileW(native(file).c_str());
}

void sync_folder(const std::filesystem::path& /*folder*/)
{
    // NTFS journals its names: a rename is on the disk once the journal is, which the system
    // sees to; a folder cannot be flushed as a file can.
}

std::int64_t modified_nanos(const std::filesystem::path& file) noexcept
{
    WIN32_FILE_ATTRIBUTE_DATA info{};
    try {
        if (!GetFileAttributesExW(native(file).c_str(), GetFileExInfoStandard, &info)) {
            return -1;
        }
    } catch (...) {
        return -1;
    }
    return unix_nanos(info.ftLastWriteTime);
}

std::optional<std::unordered_set<std::string>> names_in(const std::filesystem::path& folder)
{
    WIN32_FIND_DATAW entry{};
    const HANDLE find = FindFirstFileExW(native(folder / "*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                         nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::unordered_set<std::string> names;
    do {
        const auto name = std::filesystem::path(entry.cFileName).u8string();
        names.emplace(name.begin(), name.end());
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return names;
}

bool same_folder_name(std::string_view a, std::string_view b)
{
    if (a == b) {
        return true;
    }
    try {
        const auto wideA = std::filesystem::path(std::u8string(a.begin(), a.end())).native();
        const auto wideB = std::filesystem::path(std::u8string(b.begin(), b.end())).native();
        if (wideA.size() > INT_MAX || wideB.size() > INT_MAX) {
            return false;
        }
        // The ordinal comparison without case is the one NTFS makes.
        return CompareStringOrdinal(wideA.c_str(), static_cast<int>(wideA.size()), wideB.c_str(),
                                    static_cast<int>(wideB.size()), TRUE) == CSTR_EQUAL;
    } catch (...) {
        return false;
    }
}

} // namespace vyr::cld::local::disk
