#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <unordered_set>

// The platform's files, one source per platform chosen by the build: POSIX descriptors outside
// Windows, Win32 handles on it. Everything that is the same everywhere (hashing, verifying, which
// temporaries to sweep) stays in front of it. Failures raise NoSpace, HeldOpen or IoFailure.
namespace vyr::cld::local::disk {

// The error of the platform call that just failed (errno, or GetLastError on Windows).
[[nodiscard]] std::error_code last_error() noexcept;

// Raises NoSpace for a full disk, HeldOpen for a file another program holds, IoFailure otherwise.
[[noreturn]] void raise_failure(const std::error_code& error);

// Whether a failure means the disk, the user's quota or the process's file-size limit is full.
[[nodiscard]] bool full(const std::error_code& error) noexcept;

// Whether a failure means another program holds the file open without sharing what we asked
// (Windows' sharing modes and locked ranges). POSIX has no mandatory sharing: never there.
[[nodiscard]] bool held(const std::error_code& error) noexcept;

// Raises HeldOpen when another program holds `target` so that it cannot be replaced now, before
// anything is written for it. A target that is missing, or fails otherwise, is left to the write.
void check_replaceable(const std::filesystem::path& target);

// A file open for reading or writing, closed at the end of its scope.
class File {
public:
    // An existing file, to read as one consistent copy: others may read it meanwhile but none may
    // write it, and one another program has open for writing raises HeldOpen (on Windows).
    static File reading(const std::filesystem::path& path);
    // Takes over an open platform handle (a descriptor, a HANDLE).
    explicit File(std::intptr_t handle) noexcept : handle_(handle) {}
    File(File&& other) noexcept;
    File& operator=(File&&) = delete;
    ~File();

    [[nodiscard]] std::int64_t size() const;
    // Up to `size` bytes; 0 at the end.
    std::size_t read(char* data, std::size_t size);
    // All of `size` bytes.
    void write(const char* data, std::size_t size);
    // Until the bytes written are on the disk.
    void sync();

private:
    friend class Temporary;
    std::intptr_t handle_;
};

// A new file of a name no other has in `folder` (the temporary prefix and six letters or digits), removed unless it was renamed into place. Its
// writer holds it locked for as long as it lives, so that remove_abandoned() tells the leftovers
// of a killed process from files being written now.
class Temporary {
public:
    explicit Temporary(const std::filesystem::path& folder);
    ~Temporary();
    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    [[nodiscard]] File& file() noexcept { return file_; }
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    // Replaces `target` with this file in one step: `target` is the old file or the new one,
    // never a part of either.
    void rename_to(const std::filesystem::path& target);

private:
    std::filesystem::path path_;
    File file_;
};

// Removes the temporary `file` when no writer holds it any more; leaves it otherwise.
void remove_abandoned(const std::filesystem::path& file) noexcept;

// Creates `folder` and the folders above it that are missing, as long as the path may be.
void create_folders(const std::filesystem::path& folder);

// Until the names in `folder` (a rename into it) are on the disk.
void sync_folder(const std::filesystem::path& folder);

// The time a file's bytes last changed, in nanoseconds since 1970; -1 when it cannot be read.
[[nodiscard]] std::int64_t modified_nanos(const std::filesystem::path& file) noexcept;

// Whether two names of folders on the way to a working folder (UTF-8) name the same folder: to the
// letter outside Windows, regardless of case on it, as its file systems compare them.
[[nodiscard]] bool same_folder_name(std::string_view a, std::string_view b);

// The names in `folder` as the platform spells them; nothing when it cannot be read.
[[nodiscard]] std::optional<std::unordered_set<std::string>> names_in(const std::filesystem::path& folder);

} // namespace vyr::cld::local::disk
