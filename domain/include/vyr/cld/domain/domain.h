#pragma once

#include <vyr/cld/domain/codes.h>
#include <vyr/cld/domain/records.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The store's half of every operation, as one user sees it: what happens inside one transaction
// (take a lock, commit a revision against the working copy's base, delete, rename, post an event,
// answer a lock status) and the queries of projects, spaces and files. Names are UTF-8 and relative
// to a space; each answer carries its response code. The rules live in one implementation over the
// records interface, whatever database holds the records and wherever the caller sits.
namespace vyr::cld::domain {

template <class T> struct Answer {
    int code = 0;
    T value{};
};

// What a working copy was based on when it last agreed with the store.
struct Base {
    std::string fileId;
    std::int64_t revision = 0;
};

// A new revision of a file's content, or a check of whether the store would take one.
struct Commit {
    std::string spaceId;
    std::string name;
    std::optional<Base> base;
    std::string blob;
    std::int64_t size = 0;
    bool unlockAfter = false;
    bool checkOnly = false; // decide, write nothing: before the bytes are sent
};

// A file of a space, named for an operation that takes several.
struct SpaceFile {
    std::string spaceId;
    std::string name;
};

// A file with the places it belongs to, and what the user may do there.
struct FileView {
    FileRow file;
    SpaceRow space;
    std::optional<ProjectRow> project; // none for a user directory
    Role role = Role::Member;          // an owner administers their own directory
    bool mayBreakLock = false;         // it is locked, and this user may take the lock away
};

// A live file of a space with the revision it is at.
struct SpaceEntry {
    FileRow file;
    RevisionRow current;
};

// One page of a folder of a space. Without a filter: its sub-folders (by name) then its files, in
// the order asked for. With any filter: the files beneath it, in every folder under it, that pass.
struct FolderQuery {
    std::string folder{}; // "" the top
    FolderSort sort = FolderSort::Name;
    bool descending = false;
    std::string contains{}; // in the path under the folder, whatever the case
    bool locked = false, lockedByMe = false;
    Millis changedSince = 0;
    std::int64_t offset = 0;
    int limit = 100;
    [[nodiscard]] bool filtered() const { return !contains.empty() || locked || lockedByMe || changedSince > 0; }
};
inline constexpr int max_folder_page = 1000;
inline constexpr std::size_t max_reason_bytes = 500;

struct FolderPage {
    SpaceRow space;
    Role role = Role::Member;
    FolderRow folder;        // its counts
    std::int64_t total = 0;  // of the entries the query finds, on every page
    std::vector<FolderRow> folders;
    std::vector<FileRow> files;
};

// What the store answers when asked for the live file of `name`, given the row its key found
// (nothing when none): 404 none or deleted; 400 a stored name that differs by case; else 200 with it.
Answer<FileRow> live_file(const FileRow* row, const Name& name);

// The online viewer's workflow of an update, by its age: scheduled for its first second, in
// progress until the third, then done.
enum class ViewerStatus { Scheduled, InProgress, Success };
ViewerStatus viewer_status(Millis age);
std::string_view viewer_status_name(ViewerStatus status);

struct ModelUpdateView {
    ModelUpdateRow update;
    std::vector<std::string> paths; // of its files, as they are named now
    ViewerStatus status = ViewerStatus::Scheduled;
};

class Domain {
public:
    virtual ~Domain() = default;

    [[nodiscard]] virtual const UserRow& user() const = 0;

    virtual std::vector<TenantRow> tenants() = 0;
    virtual std::optional<TenantRow> tenant(const std::string& uniqueId) = 0;
    // The tenant's projects as a list shows them (see Records::projects); 404 for an unknown tenant.
    virtual Answer<std::vector<ProjectRow>> projects(const std::string& tenantUniqueId) = 0;
    virtual Answer<ProjectRow> project(const std::string& id) = 0;
    // The tenant's projects with their partitions, as the projects page shows them; 404 for an
    // unknown tenant. A store answers it in a fixed number of queries.
    virtual Answer<std::vector<ListedProject>> listed_projects(const std::string& tenantUniqueId);
    // 201; 400 empty name; 404 unknown tenant; 409 number taken in the tenant.
    virtual Answer<ProjectRow> create_project(const std::string& tenantUniqueId, const std::string& name,
                                              const std::string& number) = 0;
    virtual Answer<std::vector<SpaceRow>> partitions(const std::string& projectId) = 0;
    virtual Answer<SpaceRow> partition(const std::string& projectId, const std::string& partitionId) = 0;
    // 201; 400 empty name; 404 unknown project; 409 name taken.
    virtual Answer<SpaceRow> create_partition(const std::string& projectId, const std::string& name,
                                              int versionMajor) = 0;
    virtual int set_partition_version(const std::string& projectId, const std::string& partitionId,
                                      int versionMajor) = 0;
    // The user's own directories, one per major version.
    virtual std::vector<SpaceRow> user_directories() = 0;
    // 201; 409 version taken.
    virtual Answer<SpaceRow> create_user_directory(int versionMajor) = 0;
    virtual std::optional<SpaceRow> space(const std::string& id) = 0;
    virtual Answer<std::vector<ContractRow>> contracts(const std::string& tenantUniqueId) = 0;
    // The live files' bytes of a project per application type: the extension in lower case,
    // "other" without one.
    virtual Answer<std::map<std::string, std::int64_t>> project_sizes(const std::string& projectId) = 0;
    // 200; 404 a project the user holds no role in (nothing stored).
    virtual int add_include_folder(const std::string& projectId, const std::string& folder) = 0;
    virtual bool has_include_folder(const std::string& projectId, const std::string& folder) = 0;

    // The live file of that name: 200; 404 none; 400 the stored name differs by case.
    virtual Answer<FileRow> file(const std::string& spaceId, const std::string& name) = 0;
    // 200 (held by the user, then or now); 409 held by another (the answer names the holder).
    virtual Answer<FileRow> lock(const std::string& spaceId, const std::string& name) = 0;
    // 200 (also when nobody held it); 409 held by another.
    virtual int unlock(const std::string& spaceId, const std::string& name) = 0;
    // 200 (also another's lock, for an admin of the project; the former holder is told by an
    // Unlocked event of status 409 naming who broke it); 403 another's lock, for a member.
    virtual int unlock_forced(const std::string& spaceId, const std::string& name) = 0;
    // The same, for the file of that id whatever its path is by then: a page names a file by id,
    // and a rename between reading the page and posting it must not move the break to another file.
    virtual int unlock_forced_by_id(const std::string& fileId) = 0;
    // Breaks the lock the user was shown, and only that one: held by `holderId` since `since`.
    // 200; 409 the file holds another lock or none by then (the answer carries the lock it holds);
    // 403 and 404 as unlock_forced_by_id. The holder's Unlocked event carries `reason` as a third
    // line, when one is given (made one line of at most max_reason_bytes).
    virtual Answer<std::optional<LockRow>> break_lock(const std::string& fileId, const std::string& holderId,
                                                      Millis since, const std::string& reason) = 0;
    virtual int unlock_all() = 0;
    // An answer that carries a file after writing a revision carries the change number its row holds
    // from then on, so that a working folder may take its cursor from it.
    // 201 a new file; 200 new or unchanged content (the answer is the file as it now is); 409
    // locked by another, or the store holds a revision the base did not know (also a delete).
    virtual Answer<FileRow> commit(const Commit& commit) = 0;
    // 200, with the file as it was but for its change number, the delete's; 409 locked by another.
    virtual Answer<FileRow> remove(const std::string& spaceId, const std::string& name) = 0;
    // 200, with the file after the rename; 409 the new name is taken or the file locked by another.
    virtual Answer<FileRow> rename(const std::string& spaceId, const std::string& from, const std::string& to) = 0;
    // All or none: 200; 404 unknown project or file; 400 empty tag name.
    virtual int tag(const std::string& projectId, const std::vector<SpaceFile>& files, const std::string& category,
                    const std::string& name) = 0;
    // Every file of a space, deleted ones too.
    virtual std::vector<FileRow> files(const std::string& spaceId) = 0;
    // The files of a space changed after the space's change number `after`, oldest change first;
    // each carries its own number, so a working folder keeps the last one it saw.
    virtual std::vector<FileRow> changes(const std::string& spaceId, std::int64_t after) = 0;

    // 201 with the update's id; 404 a file not stored, or not in a partition of the update's project.
    virtual Answer<std::string> add_model_update(ModelUpdateRow update, const std::vector<SpaceFile>& files) = 0;
    virtual std::optional<ModelUpdateRow> model_update(const std::string& id) = 0;

    // What the team service's pages read: each answers 404 for what the user may not see.
    virtual Answer<FileView> file_by_id(const std::string& fileId) = 0;
    // Oldest first, deletions included.
    virtual Answer<std::vector<RevisionRow>> revisions(const std::string& fileId) = 0;
    // The space's live files, by path.
    virtual Answer<std::vector<SpaceEntry>> space_entries(const std::string& spaceId) = 0;
    // A page of a folder: 200; 404 a folder holding no live file (the top always answers); 400 an
    // unsafe folder name, a negative offset or a limit outside 1 to max_folder_page.
    virtual Answer<FolderPage> folder(const std::string& spaceId, const FolderQuery& query) = 0;
    // Every locked live file of the project's partitions, the oldest lock first.
    virtual Answer<std::vector<FileRow>> locks(const std::string& projectId) = 0;
    // Newest first.
    virtual Answer<std::vector<ModelUpdateView>> model_updates(const std::string& projectId) = 0;
    // Whether a revision this user may read names this content: one of a file in a partition of a
    // project where the user holds a role, or in the user's own directory.
    virtual bool reads_blob(const std::string& hash) = 0;
    // The user's role in a project; nothing when the user holds none.
    virtual std::optional<Role> role(const std::string& projectId) = 0;
    // The user's newest `limit` events, newest first, left for take_events().
    virtual std::vector<PostedEvent> recent_events(int limit) = 0;
    // How many events the user has, left for take_events().
    virtual std::int64_t event_count() = 0;
    // The activity history of what the user did or was the subject of (another broke their lock),
    // newest first: `limit` entries from `offset`, and how many there are in all.
    virtual ActivityPage activity(std::int64_t offset, int limit) = 0;
    // A project's history; 404 for a project the user holds no role in.
    virtual Answer<ActivityPage> project_activity(const std::string& projectId, std::int64_t offset, int limit) = 0;

    // The user's status events.
    virtual void post(const EventRow& event) = 0;
    // Removes and returns the user's events, oldest first.
    virtual std::vector<EventRow> take_events() = 0;
};

// The rules, on a store's records, for `user`; `now` stamps locks, revisions and events.
std::unique_ptr<Domain> store_domain(std::shared_ptr<MetadataStore> store, UserRow user,
                                     std::function<Millis()> now);

} // namespace vyr::cld::domain
