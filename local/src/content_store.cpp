#include "content_store.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <utility>

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

struct DigestFree {
    void operator()(EVP_MD_CTX* context) const noexcept { EVP_MD_CTX_free(context); }
};

// Reads all of `in`, hands every chunk to `sink` and reports the share read so far.
template <class Sink> void stream(const Fd& in, const Progress& progress, Sink&& sink)
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

void write_all(const Fd& out, const char* data, std::size_t size)
{
    while (size > 0) {
        const auto put = ::write(out.get(), data, size);
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

// The SHA-256 of everything streamed through it, as 64 hex digits.
class Hasher {
public:
    Hasher() : context_(EVP_MD_CTX_new())
    {
        if (!context_ || EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) != 1) {
            throw IoFailure{ENOMEM};
        }
    }
    void add(const char* data, std::size_t size) { EVP_DigestUpdate(context_.get(), data, size); }
    std::string hex()
    {
        std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
        unsigned int length = 0;
        EVP_DigestFinal_ex(context_.get(), digest.data(), &length);
        static constexpr char digits[] = "0123456789abcdef";
        std::string out;
        for (unsigned int i = 0; i < length; ++i) {
            out += digits[digest[i] >> 4];
            out += digits[digest[i] & 15];
        }
        return out;
    }

private:
    std::unique_ptr<EVP_MD_CTX, DigestFree> context_;
};

// A temporary file that is removed unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(const std::filesystem::path& folder) : path_(folder / ".vyrcld-XXXXXX")
    {
        std::string name = path_.string();
        const int fd = ::mkstemp(name.data());
        if (fd < 0) {
            raise_errno();
        }
        ::close(fd);
        path_ = name;
    }
    ~TempFile()
    {
        if (!path_.empty()) {
            ::unlink(path_.c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }

    void rename_to(const std::filesystem::path& target)
    {
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            raise_errno();
        }
        path_.clear();
    }

private:
    std::filesystem::path path_;
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

ContentStore::ContentStore(std::filesystem::path folder) : folder_(std::move(folder))
{
    std::filesystem::create_directories(folder_ / "tmp");
}

std::filesystem::path ContentStore::blob_path(const std::string& hash) const
{
    return folder_ / hash.substr(0, 2) / hash;
}

bool ContentStore::contains(const std::string& hash) const
{
    return std::filesystem::exists(blob_path(hash));
}

Blob ContentStore::put(const std::filesystem::path& source, const Progress& progress) const
{
    const Fd in(source, O_RDONLY);
    TempFile temp(folder_ / "tmp");
    Hasher hasher;
    Blob blob;
    {
        const Fd out(temp.path(), O_WRONLY | O_TRUNC);
        stream(in, progress, [&](const char* data, std::size_t size) {
            hasher.add(data, size);
            write_all(out, data, size);
            blob.size += static_cast<std::int64_t>(size);
        });
        out.sync();
    }
    blob.hash = hasher.hex();
    const auto target = blob_path(blob.hash);
    if (std::filesystem::exists(target)) {
        return blob;
    }
    std::filesystem::create_directories(target.parent_path());
    temp.rename_to(target);
    sync_folder(target.parent_path());
    return blob;
}

std::int64_t ContentStore::copy_out(const std::string& hash, const std::filesystem::path& target,
                                    const Progress& progress) const
{
    const Fd in(blob_path(hash), O_RDONLY);
    TempFile temp(target.parent_path());
    {
        const Fd out(temp.path(), O_WRONLY | O_TRUNC);
        stream(in, progress, [&](const char* data, std::size_t size) { write_all(out, data, size); });
        out.sync();
    }
    temp.rename_to(target);
    sync_folder(target.parent_path());
    return modified_nanos(target);
}

Blob ContentStore::hash_file(const std::filesystem::path& file)
{
    const Fd in(file, O_RDONLY);
    Hasher hasher;
    Blob blob;
    stream(in, nullptr, [&](const char* data, std::size_t size) {
        hasher.add(data, size);
        blob.size += static_cast<std::int64_t>(size);
    });
    blob.hash = hasher.hex();
    return blob;
}

} // namespace vyr::cld::local
