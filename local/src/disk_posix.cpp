// Files on POSIX descriptors, outside Windows.
#include "disk.h"

#include "content_store.h"

#include <vyr/cld/domain/names.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vyr::cld::local::disk {
namespace {

[[noreturn]] void raise_last()
{
    raise_failure(last_error());
}

int descriptor(const std::filesystem::path& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0) {
        raise_last();
    }
    return fd;
}

void sync_descriptor(int fd)
{
    if (::fsync(fd) != 0) {
        raise_last();
    }
}

// Whether `path` still names the file open as `fd`.
bool still_named(int fd, const std::filesystem::path& path)
{
    struct stat opened{};
    struct stat named{};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

int fd_of(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

} // namespace

std::error_code last_error() noexcept
{
    return {errno, std::generic_category()};
}

bool full(const std::error_code& error) noexcept
{
    const bool quota = (error.category() == std::generic_category() || error.category() == std::system_category()) &&
                       error.value() == EDQUOT;
    return quota || error == std::errc::no_space_on_device || error == std::errc::file_too_large;
}

bool held(const std::error_code& /*error*/) noexcept
{
    return false; // advisory locks bind only those who ask for them
}

void check_replaceable(const std::filesystem::path& /*target*/) {}

File File::reading(const std::filesystem::path& path)
{
    return File(descriptor(path, O_RDONLY));
}

File::File(File&& other) noexcept : handle_(other.handle_)
{
    other.handle_ = -1;
}

File::~File()
{
    if (handle_ >= 0) {
        ::close(fd_of(handle_));
    }
}

std::int64_t File::size() const
{
    struct stat info{};
    if (::fstat(fd_of(handle_), &info) != 0) {
        raise_last();
    }
    return info.st_size;
}

std::size_t File::read(char* data, std::size_t size)
{
    for (;;) {
        const auto got = ::read(fd_of(handle_), data, size);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            raise_last();
        }
    }
}

void File::write(const char* data, std::size_t size)
{
    while (size > 0) {
        const auto put = ::write(fd_of(handle_), data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            raise_last();
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
}

void File::sync()
{
    sync_descriptor(fd_of(handle_));
}

Temporary::Temporary(const std::filesystem::path& folder) : file_(-1)
{
    // A sweep (another process opening the store, a sync pass) may take the file between its
    // creation and its lock, unlocked as it is then; a sweep unlinks only under the lock, so
    // once the lock is ours a name that still leads to the file keeps it. Another try makes
    // a file of another name: sweeps are rare, and one never takes a locked file, so a file
    // taken eight times over is a folder something else empties, which is a failure.
    for (int attempt = 1;; ++attempt) {
        std::string name = (folder / (std::string(domain::temporary_prefix) + "XXXXXX")).string();
        const int fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) {
            raise_last();
        }
        while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
        }
        if (still_named(fd, name)) {
            file_.handle_ = fd;
            path_ = name;
            return;
        }
        ::close(fd);
        if (attempt == 8) {
            errno = ENOENT;
            raise_last();
        }
    }
}

Temporary::~Temporary()
{
    if (!path_.empty()) {
        ::unlink(path_.c_str());
    }
}

void Temporary::rename_to(const std::filesystem::path& target)
{
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        raise_last();
    }
    path_.clear();
}

void create_folders(const std::filesystem::path& folder)
{
    std::filesystem::create_directories(folder);
}

void remove_abandoned(const std::filesystem::path& file) noexcept
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // Unlocked: its writer is gone. A writer caught between creating its file and locking it
    // finds the name gone once it holds the lock, and makes another (Temporary).
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        ::unlink(file.c_str());
    }
    ::close(fd);
}

void sync_folder(const std::filesystem::path& folder)
{
    const int fd = descriptor(folder, O_RDONLY | O_DIRECTORY);
    const File closing(fd);
    sync_descriptor(fd);
}

std::int64_t modified_nanos(const std::filesystem::path& file) noexcept
{
    struct stat info{};
    if (::stat(file.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::optional<std::unordered_set<std::string>> names_in(const std::filesystem::path& folder)
{
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) {
        return std::nullopt;
    }
    std::unordered_set<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        names.emplace(entry->d_name);
    }
    ::closedir(dir);
    return names;
}

bool same_folder_name(std::string_view a, std::string_view b)
{
    return a == b;
}

} // namespace vyr::cld::local::disk
