#pragma once

#include <VyrCldapi/Values.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// File contents, named by the SHA-256 of their bytes. A blob is written under a temporary name,
// flushed and renamed, so a blob that has its name is always whole; so is a file written into a
// working folder.
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

// Another program holds the file open so that it cannot be read whole or replaced now (a CAD
// application keeps its drawing open without sharing writing). Only Windows has such sharing
// modes; it passes when that program lets go.
struct HeldOpen : VyrCldapi::Exception {
    HeldOpen() : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "Another program holds the file open.") {}
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

// A local file's bytes, read once: hashed, and held ready to be stored or dropped.
class Staged {
public:
    virtual ~Staged() = default;
    // The hash and size of the bytes read.
    [[nodiscard]] virtual const Blob& blob() const = 0;
    // Stores them as their blob, telling `progress` of the transfer, and answers what was stored.
    // Without it they are dropped.
    virtual Blob keep(const Progress& progress) = 0;
};

// Where file contents live for a service client: a store's own folder, or a server.
class Contents {
public:
    virtual ~Contents() = default;

    // Reads `source` once, so that its hash can decide whether it is stored at all. Here the pass
    // only hashes and `keep` stores the bytes with `put`; a store that can set them aside copies
    // them in the same pass.
    virtual std::unique_ptr<Staged> stage(const std::filesystem::path& source);

    // Stores the bytes of `source`, whose hash and size are `known` (taken moments before; the
    // store checks them again), and answers what it stored.
    virtual Blob put(const std::filesystem::path& source, const Blob& known, const Progress& progress) = 0;

    // Replaces `target` with the blob's bytes in one rename, so a reader sees the old or the new
    // file and never a part. Raises DamagedContent, leaving `target` as it was, when the bytes are
    // not `expected`'s. Returns the target's modification time in nanoseconds.
    virtual std::int64_t copy_out(const Blob& expected, const std::filesystem::path& target,
                                  const Progress& progress) = 0;
};

// The contents in a folder of the store: one file per blob, named by its hash.
class FolderContents final : public Contents {
public:
    explicit FolderContents(std::filesystem::path folder);

    // Hashes and copies in one pass, into a temporary file of the store that `keep` flushes and
    // renames into place.
    std::unique_ptr<Staged> stage(const std::filesystem::path& source) override;
    Blob put(const std::filesystem::path& source, const Blob& known, const Progress& progress) override;
    std::int64_t copy_out(const Blob& expected, const std::filesystem::path& target,
                          const Progress& progress) override;

private:
    [[nodiscard]] std::filesystem::path blob_path(const std::string& hash) const;

    std::filesystem::path folder_;
};

// Takes the pieces of a blob's bytes, in order.
using Sink = std::function<void(const char*, std::size_t)>;
// Hands each piece of a blob's bytes, in order, to the sink it is given.
using Producer = std::function<void(const Sink&)>;

// Replaces `target` with the bytes `produce` yields, through a temporary file beside it that is
// flushed and renamed; checks them against `expected` as they pass and raises DamagedContent,
// leaving `target` as it was, when they differ. Returns the target's modification time in
// nanoseconds.
std::int64_t write_verified(const Blob& expected, const std::filesystem::path& target, const Producer& produce);

// The hash and size of a local file, without storing it.
Blob hash_file(const std::filesystem::path& file);
// The hash of a text, as a blob of those bytes would be named.
std::string hash_text(std::string_view text);

// Removes the temporary files (ours, by their prefix) in `folder`, or in it and every folder below
// it, that a killed process left: those no writer holds any more.
void sweep_temporaries(const std::filesystem::path& folder, bool below);

// A file's modification time in nanoseconds, or -1 when it does not exist.
std::int64_t modified_nanos(const std::filesystem::path& file);

} // namespace vyr::cld::local
