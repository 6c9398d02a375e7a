#include "content_store.h"

#include "paths.h"

#include <vyr/cld/domain/sha256.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <memory>
#include <utility>
#include <vector>

namespace vyr::cld::local {
namespace {

[[noreturn]] void raise_errno()
{
    const int error = errno;
    if (error == ENOSPC || error == EFBIG || error == EDQUOT) {
        throw NoSpace{};
    }
    throw IoFailure{error};
}

// An open descriptor, closed at the end of its scope.
class Fd {
public:
    Fd(const std::filesystem::path& path, int flags, mode_t mode = 0644) : fd_(::open(path.c_str(), flags | O_CLOEXEC, mode))
    {
        if (fd_ < 0) {
            raise_errno();
        }
    }
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    [[nodiscard]] int get() const noexcept { return fd_; }

    void sync() const
    {
        if (::fsync(fd_) != 0) {
            raise_errno();
        }
    }

private:
    int fd_;
};

std::int64_t file_size(const Fd& fd)
{
    struct stat info{};
    if (::fstat(fd.get(), &info) != 0) {
        raise_errno();
    }
    return info.st_size;
}

void sync_folder(const std::filesystem::path& folder)
{
    Fd(folder, O_RDONLY | O_DIRECTORY).sync();
}

// Reads all of `in`, hands every chunk to `sink` and reports the share read so far.
template <class Out> void stream(const Fd& in, const Progress& progress, Out&& sink)
{
    const auto total = file_size(in);
    std::array<char, 64 * 1024> buffer{};
    std::int64_t done = 0;
    for (;;) {
        const auto got = ::read(in.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            raise_errno();
        }
        if (got == 0) {
            break;
        }
        sink(buffer.data(), static_cast<std::size_t>(got));
        done += got;
        if (progress && total > 0) {
            progress(static_cast<double>(done) / static_cast<double>(total));
        }
    }
}

void write_all(int out, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto put = ::write(out, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            raise_errno();
        }
        data += put;
        size -= static_cast<std::size_t>(put);
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

// A temporary file that is removed unless it was renamed into place. Its writer holds a lock on
// it for as long as it lives, so a sweep can tell the leftovers of a killed process (whose locks the
// system released) from files being written now.
class TempFile {
public:
    explicit TempFile(const std::filesystem::path& folder)
    {
        // A sweep (another process opening the store, a sync pass) may take the file between its
        // creation and its lock, unlocked as it is then; a sweep unlinks only under the lock, so
        // once the lock is ours a name that still leads to the file keeps it. Another try makes
        // a file of another name: sweeps are rare, and one never takes a locked file, so a file
        // taken eight times over is a folder something else empties, which is a failure.
        for (int attempt = 1;; ++attempt) {
            std::string name = (folder / (std::string(temporary_prefix) + "XXXXXX")).string();
            const int fd = ::mkostemp(name.data(), O_CLOEXEC);
            if (fd < 0) {
                raise_errno();
            }
            while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
            }
            if (still_named(fd, name)) {
                fd_ = fd;
                path_ = name;
                return;
            }
            ::close(fd);
            if (attempt == 8) {
                errno = ENOENT;
                raise_errno();
            }
        }
    }
    ~TempFile()
    {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
        ::close(fd_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
    [[nodiscard]] int fd() const noexcept { return fd_; }

    void sync() const
    {
        if (::fsync(fd_) != 0) {
            raise_errno();
        }
    }

    void rename_to(const std::filesystem::path& target)
    {
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            raise_errno();
        }
        path_.clear();
    }

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

std::filesystem::path blob_in(const std::filesystem::path& folder, const std::string& hash)
{
    return folder / hash.substr(0, 2) / hash;
}

// Bytes hashed only; kept by sending them again.
class HashedOnly final : public Staged {
public:
    HashedOnly(Contents& contents, std::filesystem::path source, Blob blob)
        : contents_(contents), source_(std::move(source)), blob_(std::move(blob))
    {
    }
    [[nodiscard]] const Blob& blob() const override { return blob_; }
    Blob keep(const Progress& progress) override { return contents_.put(source_, blob_, progress); }

private:
    Contents& contents_;
    std::filesystem::path source_;
    Blob blob_;
};

// Bytes copied into the store's temporary folder while they were hashed.
class SetAside final : public Staged {
public:
    SetAside(const std::filesystem::path& source, std::filesystem::path folder)
        : folder_(std::move(folder)), temp_(folder_ / "tmp")
    {
        const Fd in(source, O_RDONLY);
        domain::Sha256 hasher;
        stream(in, [&](double share) { shares_.push_back(share); }, [&](const char* data, std::size_t size) {
            hasher.add(data, size);
            write_all(temp_.fd(), data, size);
            blob_.size += static_cast<std::int64_t>(size);
        });
        blob_.hash = hasher.hex();
    }
    [[nodiscard]] const Blob& blob() const override { return blob_; }
    Blob keep(const Progress& progress) override
    {
        // The progress of a transfer is told for bytes the store takes: the pieces read are told
        // now that it takes them, before they are flushed.
        for (const double share : progress ? shares_ : std::vector<double>{}) {
            progress(share);
        }
        temp_.sync();
        // Renamed over a blob of the same name too: the bytes are the same unless that blob was
        // damaged under the store, and then the fresh copy, whose hash was just taken, repairs it.
        const auto target = blob_in(folder_, blob_.hash);
        std::filesystem::create_directories(target.parent_path());
        temp_.rename_to(target);
        sync_folder(target.parent_path());
        return blob_;
    }

private:
    std::filesystem::path folder_;
    TempFile temp_;
    Blob blob_;
    std::vector<double> shares_;
};

} // namespace

std::int64_t modified_nanos(const std::filesystem::path& file)
{
    struct stat info{};
    if (::stat(file.c_str(), &info) != 0) {
        return -1;
    }
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

FolderContents::FolderContents(std::filesystem::path folder) : folder_(std::move(folder))
{
    std::filesystem::create_directories(folder_ / "tmp");
    sweep_temporaries(folder_ / "tmp", false);
}

std::filesystem::path FolderContents::blob_path(const std::string& hash) const
{
    return blob_in(folder_, hash);
}

std::unique_ptr<Staged> Contents::stage(const std::filesystem::path& source)
{
    return std::make_unique<HashedOnly>(*this, source, hash_file(source));
}

Blob FolderContents::put(const std::filesystem::path& source, const Blob& /*known*/, const Progress& progress)
{
    // The hash of the bytes copied, not the one known before: the file may have changed since.
    return stage(source)->keep(progress);
}

std::unique_ptr<Staged> FolderContents::stage(const std::filesystem::path& source)
{
    return std::make_unique<SetAside>(source, folder_);
}

std::int64_t FolderContents::copy_out(const Blob& expected, const std::filesystem::path& target,
                                      const Progress& progress)
{
    const Fd in(blob_path(expected.hash), O_RDONLY);
    return write_verified(expected, target, [&](const auto& sink) { stream(in, progress, sink); });
}

std::int64_t write_verified(const Blob& expected, const std::filesystem::path& target, const Producer& produce)
{
    TempFile temp(target.parent_path());
    // A blob's name is its hash: checking the bytes as they pass costs no extra reading, and a
    // blob changed or cut short under the store never replaces a working copy.
    domain::Sha256 hasher;
    std::int64_t size = 0;
    produce([&](const char* data, std::size_t length) {
        hasher.add(data, length);
        write_all(temp.fd(), data, length);
        size += static_cast<std::int64_t>(length);
    });
    if (size != expected.size || hasher.hex() != expected.hash) {
        throw DamagedContent{};
    }
    temp.sync();
    temp.rename_to(target);
    sync_folder(target.parent_path());
    return modified_nanos(target);
}

namespace {

// The names TempFile makes: the prefix and six characters of mkstemp's, so that no other file of
// ours that shares the prefix is ever taken for one.
bool temporary_name(std::string_view name)
{
    return name.size() == temporary_prefix.size() + 6 && name.starts_with(temporary_prefix) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(temporary_prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

} // namespace

void sweep_temporaries(const std::filesystem::path& folder, bool below)
{
    std::error_code error;
    auto options = std::filesystem::directory_options::skip_permission_denied;
    const auto sweep = [&](const std::filesystem::directory_entry& entry) {
        if (!temporary_name(entry.path().filename().string()) || !entry.is_regular_file(error) ||
            entry.is_symlink(error)) {
            return;
        }
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        // Unlocked: its writer is gone. A writer caught between creating its file and locking it
        // finds the name gone once it holds the lock, and makes another (TempFile).
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink(entry.path().c_str());
        }
        ::close(fd);
    };
    if (below) {
        for (std::filesystem::recursive_directory_iterator it(folder, options, error), end; !error && it != end;
             it.increment(error)) {
            sweep(*it);
        }
    } else {
        for (std::filesystem::directory_iterator it(folder, options, error), end; !error && it != end;
             it.increment(error)) {
            sweep(*it);
        }
    }
}

std::string hash_text(std::string_view text)
{
    domain::Sha256 hasher;
    hasher.add(text);
    return hasher.hex();
}

Blob hash_file(const std::filesystem::path& file)
{
    const Fd in(file, O_RDONLY);
    domain::Sha256 hasher;
    Blob blob;
    stream(in, nullptr, [&](const char* data, std::size_t size) {
        hasher.add(data, size);
        blob.size += static_cast<std::int64_t>(size);
    });
    blob.hash = hasher.hex();
    return blob;
}

} // namespace vyr::cld::local
