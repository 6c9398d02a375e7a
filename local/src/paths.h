#pragma once

#include <vyr/cld/domain/names.h>

#include <VyrCldapi/Values.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Paths from the host are hostile input: they are resolved against one working folder and
// refused unless they name something inside it.
namespace vyr::cld::local {

using domain::max_name_bytes;
using domain::stands_for_unreadable;
using domain::temporary_prefix;
using domain::UnsafePath;

inline constexpr std::size_t max_path_bytes = 4095;

// Paths from UTF-8 and back. A path made from or read as a narrow std::string is in the ANSI code
// page on Windows, so no path of the service ever passes through one.
inline std::filesystem::path u8_path(std::string_view utf8)
{
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string path_text(const std::filesystem::path& path)
{
    const auto text = path.u8string();
    return {text.begin(), text.end()};
}

struct WorkingPath {
    std::string relative; // '/'-separated UTF-8, never empty, no "." or ".." parts
    std::string key;      // case-folded `relative`: two files may not share it
    std::filesystem::path local;
};

// Whether `path` (UTF-8) is absolute: from the top of a drive or, on Windows, with a drive letter.
bool absolute(std::string_view path);

// An absolute `path` (UTF-8) as the '/'-separated path below `root` it names, compared part by
// part; nothing when it is not absolute or not below `root`. Backslashes separate folders too.
std::optional<std::string> below(const std::filesystem::path& root, std::string_view path);

// `path` (UTF-8) relative to `root`, or absolute inside it. Backslashes separate folders too.
// Raises UnsafePath.
WorkingPath resolve(const std::filesystem::path& root, std::string_view path);

// The same check for a path that comes from the store: a file another user stored may still be
// too long for this user's working folder, which is told by the result being empty.
std::optional<WorkingPath> place(const std::filesystem::path& root, std::string_view relative);

// Whether a stored path is refused only for its length in this working folder.
bool too_long(const std::filesystem::path& root, std::string_view relative);

// Wildcards: `*` is any run of characters within one folder name, `**` any run across folders,
// `?` one character; letters match regardless of case. A pattern without '/' is matched against
// the file name alone, a pattern with '/' against the whole path below the working folder.
bool wildcard_match(std::string_view pattern, std::string_view relative);

// Which stored files the sync worker brings into the working folder.
struct Filters {
    std::optional<std::vector<std::string>> download; // null: every file; empty: none
    std::vector<std::string> ignoreFiles;
    std::vector<std::string> ignoreFolders;

    [[nodiscard]] bool wanted(std::string_view relative) const;
    // No filter at all: every file is wanted, without looking at its name.
    [[nodiscard]] bool every() const { return !download && ignoreFiles.empty() && ignoreFolders.empty(); }
};

// The elements of a service list as UTF-8, or null for a null list.
std::optional<std::vector<std::string>> utf8_list(const VyrCldapi::List<VyrCldapi::String>& list,
                                                  std::string_view argument);

} // namespace vyr::cld::local
