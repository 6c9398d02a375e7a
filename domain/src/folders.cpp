#include <vyr/cld/domain/folders.h>
#include <vyr/cld/domain/names.h>
#include <vyr/cld/domain/records.h>

#include "unicode.h"

#include <set>

namespace vyr::cld::domain {
namespace {

std::string parent_of(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(path.substr(0, slash));
}

std::string leaf_of(std::string_view path)
{
    const auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// The folder of `path` and each one above it, deepest first, the top ("") last.
std::vector<std::string> folders_above(std::string_view path)
{
    std::vector<std::string> out;
    auto folder = parent_of(path);
    for (;;) {
        out.push_back(folder);
        if (folder.empty()) {
            return out;
        }
        folder = parent_of(folder);
    }
}

void count(std::map<std::string, FolderDelta>& into, const std::string& path, std::int64_t by)
{
    const auto folders = folders_above(path);
    for (std::size_t i = 0; i < folders.size(); ++i) {
        const auto key = folded(folders[i]);
        auto& delta = into[key];
        if (delta.key.empty() && delta.path.empty()) {
            delta.key = key;
            delta.path = folders[i];
            delta.parent = folded(parent_of(folders[i]));
            delta.nameKey = folders[i].empty() ? std::string() : natural_key(leaf_of(folders[i]));
        }
        delta.files += by;
        delta.direct += i == 0 ? by : 0;
    }
}

} // namespace

std::string natural_key(std::string_view utf8)
{
    const auto key = platform::sort_key(utf16(utf8));
    if (!key) {
        throw UnsafePath{};
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(key->size() * 2);
    for (const char c : *key) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(digits[byte >> 4]);
        out.push_back(digits[byte & 0xf]);
    }
    return out;
}

FolderPlace folder_place(std::string_view path)
{
    auto folder = parent_of(path);
    auto key = folded(folder);
    return {std::move(folder), std::move(key), natural_key(leaf_of(path))};
}

std::vector<FolderDelta> folder_deltas(const std::string* before, const std::string* after)
{
    std::map<std::string, FolderDelta> byKey;
    if (before) {
        count(byKey, *before, -1);
    }
    std::set<std::string> respelt;
    if (after) {
        // Counted last, so that a folder a rename keeps is named as the new path spells it.
        std::map<std::string, FolderDelta> added;
        count(added, *after, 1);
        for (auto& [key, delta] : added) {
            auto& into = byKey[key];
            if (into.files != 0 && into.path != delta.path) {
                respelt.insert(key);
            }
            const auto files = into.files, direct = into.direct;
            into = std::move(delta);
            into.files += files;
            into.direct += direct;
        }
    }
    std::vector<FolderDelta> out;
    for (auto& [key, delta] : byKey) {
        if (delta.files != 0 || delta.direct != 0 || respelt.count(key) != 0) {
            out.push_back(std::move(delta));
        }
    }
    return out;
}

std::string folder_files_sql(const FolderFiles& query, const SqlDialect& d, bool page)
{
    const auto p = [&](int n) { return d.param + std::to_string(n); };
    const std::string path = std::string("f.path_key") + d.byteOrder;
    std::string sql = "WHERE f.space_id = " + p(1) + " AND " + d.live;
    // Each query names every parameter, as PostgreSQL must know each one's type.
    if (query.beneath) {
        sql += " AND " + path + " >= " + p(3) + " AND (" + p(4) + " = '' OR " + path + " < " + p(4) +
               ") AND CAST(" + p(2) + " AS TEXT) IS NOT NULL";
    } else {
        sql += " AND f.folder_key = " + p(2) + " AND CAST(" + p(4) + " AS TEXT) IS NOT NULL";
    }
    sql += " AND (" + p(5) + " = '' OR " + d.find + "(substr(f.path_key, length(CAST(" + p(3) + " AS TEXT)) + 1), " + p(5) +
           ") > 0)";
    sql += " AND (" + p(6) + " = '' OR (" + p(6) + " = '*' AND f.lock_user IS NOT NULL) OR f.lock_user = " + p(6) +
           ")";
    sql += " AND f.changed >= " + p(7);
    if (!page) {
        return sql;
    }
    const char* column = query.sort == FolderSort::Size      ? "f.size, "
                         : query.sort == FolderSort::Changed  ? "f.changed, "
                         : query.sort == FolderSort::Revision ? "f.revision, "
                                                              : "";
    const std::string order = query.descending ? " DESC" : "";
    sql += " ORDER BY ";
    if (*column) {
        sql += std::string(column, std::string_view(column).size() - 2) + order + ", ";
    }
    // Names repeat only across folders, where the path tells them apart.
    sql += "f.name_key" + order + (query.beneath ? ", " + path + order : std::string()) + " LIMIT " + p(8) + " OFFSET " + p(9);
    return sql;
}

std::pair<std::string, std::string> folder_range(const std::string& folderKey)
{
    if (folderKey.empty()) {
        return {"", ""};
    }
    // Every key beneath "a/b" starts "a/b/", and sorts before "a/b0".
    return {folderKey + "/", folderKey + "0"};
}

void FolderTally::add(const std::string& spaceId, const std::string& path)
{
    for (auto& delta : folder_deltas(nullptr, &path)) {
        auto& into = folders_[{spaceId, delta.key}];
        const auto files = into.files, direct = into.direct;
        into = std::move(delta);
        into.files += files;
        into.direct += direct;
    }
}

} // namespace vyr::cld::domain
