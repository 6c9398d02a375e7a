#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A space's folders as its pages and folder requests read them: each file row names its folder
// and carries the sort key of its name, and each folder keeps its counts, so that one folder's page
// reads what it shows however large the space is. The back ends keep them by these rules.
namespace vyr::cld::domain {

// A key that orders names as people read them: "liggende 5" before "liggende 21", accents beside
// their letters, case after everything else. Lower-case hex digits of a collation key, so that a
// byte-wise comparison of two keys (SQLite's, PostgreSQL's COLLATE "C") orders the names.
std::string natural_key(std::string_view utf8);

// Where a file of a space lies: its folder ("" at the top) and that folder's case-folded key, and
// the natural key of its own name.
struct FolderPlace {
    std::string folder, folderKey, nameKey;
};
FolderPlace folder_place(std::string_view path);

// A change of one folder's counts: `files` of every live file beneath it, `direct` of those right
// in it. `path` names the folder ("" the top), `parent` is the key of the one holding it.
struct FolderDelta {
    std::string key, parent, path, nameKey;
    std::int64_t files = 0, direct = 0;
};

// The changes of the folders' counts when a live file at `before` (null: none) is at `after` (null:
// deleted) instead; none for a folder whose counts stay.
std::vector<FolderDelta> folder_deltas(const std::string* before, const std::string* after);

struct FolderFiles;

// What sets one store's SQL apart from another's in a folder query.
struct SqlDialect {
    char param;             // '?' or '$', followed by the parameter's number
    const char* find;       // the function that answers where one text holds another, 0 when not
    const char* byteOrder;  // what makes a text compare byte by byte
    const char* live;       // the condition of a live file row `f`
};

// The query of a page of files, or of how many there are, after "SELECT <columns> FROM files f
// <joins> ". Its parameters, in order: space, folder key, the key of what lies beneath ("key/"; ""
// at the top), the key just past it ("" none), the folded text a path must hold, a holder ("*" any),
// the earliest time, and for a page the limit and offset.
std::string folder_files_sql(const FolderFiles& query, const SqlDialect& dialect, bool page);
// The two range parameters of a query.
std::pair<std::string, std::string> folder_range(const std::string& folderKey);

// The counts of every folder of a space's live files, for a store that kept none before.
class FolderTally {
public:
    void add(const std::string& spaceId, const std::string& path);
    // By (space, key).
    [[nodiscard]] const std::map<std::pair<std::string, std::string>, FolderDelta>& folders() const { return folders_; }

private:
    std::map<std::pair<std::string, std::string>, FolderDelta> folders_;
};

} // namespace vyr::cld::domain
