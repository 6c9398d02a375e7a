#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The file operations of the content store on a file system: files written whole under a
// temporary name and renamed into place, so that a reader (of this process or another on the same
// volume) finds a file whole or not at all.
namespace vyr::cld::domain::content_files {

// Writes a new file of these bytes, its folders made as needed. Not flushed: what reads it back
// checks its bytes.
void write_new(const std::filesystem::path& path, std::string_view bytes);

// Up to `length` bytes from `offset`, in one read; nothing when there is no such file.
std::optional<std::string> read_at(const std::filesystem::path& path, std::int64_t offset, std::int64_t length);

// A file written under a unique temporary name in a folder, to be published under its final name.
class Staged {
public:
    explicit Staged(const std::filesystem::path& folder);
    ~Staged(); // removes the temporary file unless it was published
    Staged(const Staged&) = delete;
    Staged& operator=(const Staged&) = delete;

    void append(std::string_view bytes);
    // Flushes the file, renames it to `target` (its folder made as needed, a file there replaced)
    // and flushes that folder, so that the name stands after a crash.
    void publish(const std::filesystem::path& target);

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

// Removes the temporary files in `folder` last written before `before` (seconds since the epoch),
// left by processes that died while writing them; answers how many.
std::int64_t drop_stale(const std::filesystem::path& folder, std::int64_t before);

} // namespace vyr::cld::domain::content_files
