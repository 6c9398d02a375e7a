#include "content_store.h"

#include "disk.h"
#include "paths.h"

#include <vyr/cld/domain/sha256.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <memory>
#include <utility>
#include <vector>

namespace vyr::cld::local {

void disk::raise_failure(const std::error_code& error)
{
    if (full(error)) {
        throw NoSpace{};
    }
    if (held(error)) {
        throw HeldOpen{};
    }
    throw IoFailure{error.value()};
}

namespace {

// Reads all of `in`, hands every chunk to `sink` and reports the share read so far.
template <class Out> void stream(disk::File& in, const Progress& progress, Out&& sink)
{
    const auto total = in.size();
    std::array<char, 64 * 1024> buffer{};
    std::int64_t done = 0;
    for (;;) {
        const auto got = in.read(buffer.data(), buffer.size());
        if (got == 0) {
            break;
        }
        sink(buffer.data(), got);
        done += static_cast<std::int64_t>(got);
        if (progress && total > 0) {
            progress(static_cast<double>(done) / static_cast<double>(total));
        }
    }
}

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
        auto in = disk::File::reading(source);
        domain::Sha256 hasher;
        stream(in, [&](double share) { shares_.push_back(share); }, [&](const char* data, std::size_t size) {
            hasher.add(data, size);
            temp_.file().write(data, size);
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
        temp_.file().sync();
        // Renamed over a blob of the same name too: the bytes are the same unless that blob was
        // damaged under the store, and then the fresh copy, whose hash was just taken, repairs it.
        const auto target = blob_in(folder_, blob_.hash);
        disk::create_folders(target.parent_path());
        temp_.rename_to(target);
        disk::sync_folder(target.parent_path());
        return blob_;
    }

private:
    std::filesystem::path folder_;
    disk::Temporary temp_;
    Blob blob_;
    std::vector<double> shares_;
};

} // namespace

std::int64_t modified_nanos(const std::filesystem::path& file)
{
    return disk::modified_nanos(file);
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
    auto in = disk::File::reading(blob_path(expected.hash));
    return write_verified(expected, target, [&](const auto& sink) { stream(in, progress, sink); });
}

std::int64_t write_verified(const Blob& expected, const std::filesystem::path& target, const Producer& produce)
{
    // Before a byte is fetched: a file another program holds would refuse the rename at the end.
    disk::check_replaceable(target);
    disk::Temporary temp(target.parent_path());
    // A blob's name is its hash: checking the bytes as they pass costs no extra reading, and a
    // blob changed or cut short under the store never replaces a working copy.
    domain::Sha256 hasher;
    std::int64_t size = 0;
    produce([&](const char* data, std::size_t length) {
        hasher.add(data, length);
        temp.file().write(data, length);
        size += static_cast<std::int64_t>(length);
    });
    if (size != expected.size || hasher.hex() != expected.hash) {
        throw DamagedContent{};
    }
    temp.file().sync();
    temp.rename_to(target);
    disk::sync_folder(target.parent_path());
    return modified_nanos(target);
}

namespace {

// The names a disk::Temporary has: the prefix and six letters or digits, so that no other file of
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
        if (!temporary_name(path_text(entry.path().filename())) || !entry.is_regular_file(error) ||
            entry.is_symlink(error)) {
            return;
        }
        disk::remove_abandoned(entry.path());
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
    auto in = disk::File::reading(file);
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
