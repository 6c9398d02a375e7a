#include "content_files.h"

#include <vyr/cld/domain/names.h>

#include <vyr/cld/domain/records.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vyr::cld::domain::content_files {
namespace fs = std::filesystem;
namespace {

[[noreturn]] void fail(const char* what, const fs::path& path)
{
    const int error = errno;
    // ENOSPC and EDQUOT are a full store, as PostgreSQL's full disk is.
    if (error == ENOSPC || error == EDQUOT) {
        throw StoreFull{};
    }
    throw std::system_error(error, std::generic_category(), std::string(what) + " " + path.string());
}

void write_all(int fd, std::string_view bytes, const fs::path& path)
{
    while (!bytes.empty()) {
        const auto written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            fail("writing", path);
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
}

void sync_folder(const fs::path& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        fail("opening", folder);
    }
    const int synced = ::fsync(fd);
    ::close(fd);
    if (synced != 0) {
        fail("flushing", folder);
    }
}

} // namespace

void write_new(const fs::path& path, std::string_view bytes)
{
    fs::create_directories(path.parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd < 0) {
        fail("creating", path);
    }
    try {
        write_all(fd, bytes, path);
    } catch (...) {
        ::close(fd);
        ::unlink(path.c_str());
        throw;
    }
    ::close(fd);
}

std::optional<std::string> read_at(const fs::path& path, std::int64_t offset, std::int64_t length)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return std::nullopt;
        }
        fail("opening", path);
    }
    std::string out(static_cast<std::size_t>(length), '\0');
    std::size_t got = 0;
    while (got < out.size()) {
        const auto n = ::pread(fd, out.data() + got, out.size() - got, static_cast<off_t>(offset) + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            ::close(fd);
            fail("reading", path);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(got);
    return out;
}

Staged::Staged(const fs::path& folder)
{
    fs::create_directories(folder);
    // Unique across the processes that share the volume, on this machine or another.
    path_ = folder / (random_hex(16) + ".tmp");
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0640);
    if (fd_ < 0) {
        fail("creating", path_);
    }
}

Staged::~Staged()
{
    if (fd_ >= 0) {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
}

void Staged::append(std::string_view bytes)
{
    write_all(fd_, bytes, path_);
}

void Staged::publish(const fs::path& target)
{
    if (::fsync(fd_) != 0) {
        fail("flushing", path_);
    }
    fs::create_directories(target.parent_path());
    if (::rename(path_.c_str(), target.c_str()) != 0) {
        fail("renaming", path_);
    }
    ::close(fd_);
    fd_ = -1;
    sync_folder(target.parent_path());
}

std::int64_t drop_stale(const fs::path& folder, std::int64_t before)
{
    std::int64_t dropped = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        struct stat info {};
        if (entry.path().extension() == ".tmp" && ::stat(entry.path().c_str(), &info) == 0 &&
            info.st_mtime < before && ::unlink(entry.path().c_str()) == 0) {
            ++dropped;
        }
    }
    return dropped;
}

} // namespace vyr::cld::domain::content_files
