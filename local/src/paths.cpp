#include "paths.h"

#include "disk.h"
#include "text.h"

#include <algorithm>

namespace vyr::cld::local {
namespace {

std::vector<std::string> split(std::string_view path)
{
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '/' || c == '\\') {
            parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(std::move(part));
    return parts;
}

bool inside(const std::filesystem::path& root, const std::filesystem::path& path)
{
    const auto relative = path.lexically_relative(root);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

// Checks the parts of a relative path by the store's rules, then where they lead in this working
// folder; raises UnsafePath.
WorkingPath join(const std::filesystem::path& root, std::string_view relative)
{
    auto name = domain::checked_name(relative);
    WorkingPath out{std::move(name.relative), std::move(name.key), {}};
    out.local = root / u8_path(out.relative);
    if (out.local.native().size() > max_path_bytes) {
        throw UnsafePath{};
    }
    // A symbolic link on the way may lead out of the working folder.
    std::error_code error;
    const auto real = std::filesystem::weakly_canonical(out.local, error);
    if (error || !inside(root, real)) {
        throw UnsafePath{};
    }
    return out;
}

} // namespace

bool absolute(std::string_view path)
{
    return path.starts_with('/') || path.starts_with('\\') || u8_path(path).is_absolute();
}

std::optional<std::string> below(const std::filesystem::path& root, std::string_view path)
{
    if (!absolute(path)) {
        return std::nullopt;
    }
    const auto parts = split(path);
    const auto rootParts = split(path_text(root));
    std::vector<std::string> given;
    std::copy_if(parts.begin(), parts.end(), std::back_inserter(given),
                 [](const std::string& p) { return !p.empty() && p != "."; });
    std::vector<std::string> base;
    std::copy_if(rootParts.begin(), rootParts.end(), std::back_inserter(base),
                 [](const std::string& p) { return !p.empty(); });
    if (given.size() <= base.size() || !std::equal(base.begin(), base.end(), given.begin(), disk::same_folder_name)) {
        return std::nullopt;
    }
    std::string relative;
    for (auto part = given.begin() + static_cast<std::ptrdiff_t>(base.size()); part != given.end(); ++part) {
        relative += (relative.empty() ? "" : "/") + *part;
    }
    return relative;
}

WorkingPath resolve(const std::filesystem::path& root, std::string_view path)
{
    if (path.empty() || path.find('\0') != std::string_view::npos || root.empty()) {
        throw UnsafePath{};
    }
    if (absolute(path)) {
        const auto relative = below(root, path);
        if (!relative) {
            throw UnsafePath{};
        }
        return join(root, *relative);
    }
    return join(root, path);
}

std::optional<WorkingPath> place(const std::filesystem::path& root, std::string_view relative)
{
    try {
        return join(root, relative);
    } catch (const UnsafePath&) {
        return std::nullopt;
    }
}

bool too_long(const std::filesystem::path& root, std::string_view relative)
{
    const auto parts = split(relative);
    return (root / u8_path(relative)).native().size() > max_path_bytes ||
           std::any_of(parts.begin(), parts.end(), [](const std::string& part) { return part.size() > max_name_bytes; });
}

bool wildcard_match(std::string_view pattern, std::string_view relative)
{
    const bool whole = pattern.find('/') != std::string_view::npos;
    if (!whole) {
        const auto slash = relative.rfind('/');
        if (slash != std::string_view::npos) {
            relative.remove_prefix(slash + 1);
        }
    }
    const auto p = service_text(folded(pattern));
    const auto t = service_text(folded(relative));
    const std::u16string_view pv = p.View();
    const std::u16string_view tv = t.View();
    // reach[j]: the pattern read so far matches the first j characters of the text.
    std::vector<char> reach(tv.size() + 1, 0);
    reach[0] = 1;
    for (std::size_t i = 0; i < pv.size(); ++i) {
        std::vector<char> next(tv.size() + 1, 0);
        if (pv[i] == u'*') {
            const bool across = i + 1 < pv.size() && pv[i + 1] == u'*';
            if (across) {
                ++i;
            }
            char open = 0;
            for (std::size_t j = 0; j <= tv.size(); ++j) {
                if (reach[j]) {
                    open = 1;
                }
                next[j] = open;
                if (!across && j < tv.size() && tv[j] == u'/') {
                    open = 0;
                }
            }
        } else {
            for (std::size_t j = 0; j < tv.size(); ++j) {
                const bool one = pv[i] == u'?' ? tv[j] != u'/' : pv[i] == tv[j];
                next[j + 1] = static_cast<char>(reach[j] && one);
            }
        }
        reach = std::move(next);
    }
    return reach[tv.size()] != 0;
}

bool Filters::wanted(std::string_view relative) const
{
    const auto any = [&](const std::vector<std::string>& patterns, std::string_view text) {
        return std::any_of(patterns.begin(), patterns.end(),
                           [&](const std::string& pattern) { return wildcard_match(pattern, text); });
    };
    if (download && !any(*download, relative)) {
        return false;
    }
    if (any(ignoreFiles, relative)) {
        return false;
    }
    for (auto slash = relative.find('/'); slash != std::string_view::npos; slash = relative.find('/', slash + 1)) {
        if (any(ignoreFolders, relative.substr(0, slash))) {
            return false;
        }
    }
    return true;
}

std::optional<std::vector<std::string>> utf8_list(const VyrCldapi::List<VyrCldapi::String>& list,
                                                  std::string_view argument)
{
    if (list.IsNull()) {
        return std::nullopt;
    }
    std::vector<std::string> out;
    for (const auto& item : list) {
        out.push_back(utf8(item, argument));
    }
    return out;
}

} // namespace vyr::cld::local
