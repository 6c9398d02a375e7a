#pragma once

#include <VyrCldapi/Values.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

// File contents, named by the SHA-256 of their bytes. A blob is written under a temporary name,
// flushed and renamed, so a blob that has its name is always whole.
namespace vyr::cld::local {

// The file system has no room (or the process may not write more).
struct NoSpace : VyrCldapi::Exception {
    NoSpace() : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "The disk is full.") {}
};
// Any other input or output failure, with its errno.
struct IoFailure : VyrCldapi::Exception {
    explicit IoFailure(int code)
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "A file could not be read or written."), error(code)
    {
    }
    int error = 0;
};

// A blob's bytes are not the ones its name promises: it was changed or cut short under the store.
struct DamagedContent : VyrCldapi::Exception {
    DamagedContent()
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "The store's copy of the file is damaged.")
    {
    }
};

struct Blob {
    std::string hash;
    std::int64_t size = 0;
};

using Progress = std::function<void(double)>;

class ContentStore {
public:
    explicit ContentStore(std::filesystem::path folder);

    // Copies `source` into the store and names it by its hash.
    Blob put(const std::filesystem::path& source, const Progress& progress) const;

    // Replaces `target` with the blob's bytes in one rename, so a reader sees the old or the new
    // file and never a part. Raises DamagedContent, leaving `target` as it was, when the bytes are
    // not `expected`'s. Returns the target's modification time in nanoseconds.
    std::int64_t copy_out(const Blob& expected, const std::filesystem::path& target, const Progress& progress) const;

    [[nodiscard]] bool contains(const std::string& hash) const;

    // The hash and size of a local file, without storing it.
    static Blob hash_file(const std::filesystem::path& file);
    // The hash of a text, as a blob of those bytes would be named.
    static std::string hash_text(std::string_view text);

private:
    [[nodiscard]] std::filesystem::path blob_path(const std::string& hash) const;

    std::filesystem::path folder_;
};

// Removes the temporary files (ours, by their prefix) in `folder`, or in it and every folder below
// it, that a killed process left: those no writer holds any more.
void sweep_temporaries(const std::filesystem::path& folder, bool below);

// A file's modification time in nanoseconds, or -1 when it does not exist.
std::int64_t modified_nanos(const std::filesystem::path& file);

} // namespace vyr::cld::local
