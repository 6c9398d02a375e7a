#pragma once

#include <vyr/cld/domain/names.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The metadata of the store: tenants, users, projects, spaces (partitions and user directories),
// files with their revisions and locks, events and the records of the publishing and road
// database operations. The domain operations reach it only through
// this interface; the SQLite implementation is one of its possible homes.
namespace vyr::cld::domain {

struct TenantRow {
    std::string id, uniqueId, displayName, providerId, organizationId;
    bool enabled = true;
};

struct UserRow {
    std::string id, displayName, principalName;
};

struct ProjectRow {
    std::string id, tenantId, name, number, crs;
};

// A partition of a project, or a user's own directory: a place that holds files.
struct SpaceRow {
    enum class Kind { Partition, UserDirectory };
    std::string id;
    Kind kind = Kind::Partition;
    std::string projectId; // empty for a user directory
    std::string ownerId;   // empty for a partition
    std::string name;
    int versionMajor = 0;
};

struct LockRow {
    UserRow holder;
    Millis since = 0;
};

struct FileRow {
    std::string id, spaceId, path;
    std::int64_t revision = 0;
    std::string blob;
    std::int64_t size = 0;
    bool deleted = false;
    std::optional<LockRow> lock;
    std::int64_t seq = 0; // the space's change number of the file's newest revision
    Millis changed = 0;   // when its newest revision was stored
};

// A folder of a space that holds live files: `files` beneath it, `direct` right in it.
struct FolderRow {
    std::string path; // "" the top
    std::int64_t files = 0, direct = 0;
};

// How a folder's files are ordered: by natural name order, or by size, time or revision with the
// name after it.
enum class FolderSort { Name, Size, Changed, Revision };

// A page of files of one folder, or, when `beneath`, of every folder under it.
struct FolderFiles {
    std::string spaceId, folderKey;
    bool beneath = false;
    FolderSort sort = FolderSort::Name;
    bool descending = false;
    std::string contains;   // case-folded; in the path under the folder
    std::string lockedBy;   // a user's id; "*" any lock
    Millis changedSince = 0; // 0 any time
    std::int64_t offset = 0;
    int limit = 100;
};

// What a user's working folder held when it last agreed with the store.
struct WorkingRow {
    std::string path;
    std::int64_t revision = 0;
    std::string blob;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
};

struct QueuedUpload {
    std::string spaceId, path;
    bool unlock = false;
};

struct EventRow {
    std::int32_t type = 0;
    std::int32_t status = 0;
    std::string responseId;
};

struct ModelUpdateRow {
    std::string id, projectId;
    int dimensions = 2;
    int epsg = 0;
    std::string description, logicalId;
    double offsetX = 0, offsetY = 0;
    std::vector<std::string> fileIds;
    Millis created = 0;
};

// One revision of a file as its history shows it: who stored it, when, and what.
struct RevisionRow {
    std::int64_t revision = 0;
    std::string path;
    UserRow author;
    Millis time = 0;
    std::int64_t size = 0;
    std::string blob;
    bool deleted = false;
};

// An event as it was posted, with its time, for a history that leaves it in place.
struct PostedEvent {
    EventRow event;
    Millis time = 0;
};

struct ContractRow {
    std::string projectId, id, name;
};

// A project as the projects page lists it: with its partitions, by name.
struct ListedProject {
    ProjectRow project;
    std::vector<SpaceRow> partitions;
};

// Adds one row of a query of projects joined with their partitions (none: a project without any),
// in project order, to the list it builds.
inline void add_listed(std::vector<ListedProject>& list, ProjectRow project, std::optional<SpaceRow> partition)
{
    if (list.empty() || list.back().project.id != project.id) {
        list.push_back({std::move(project), {}});
    }
    if (partition) {
        list.back().partitions.push_back(std::move(*partition));
    }
}

// What happened to a file, as the activity history tells it. Unlike the events, which the desktop
// host takes, the history stays on the server for people to read.
enum class ActivityKind { Added = 0, Stored = 1, Locked = 2, Unlocked = 3, BrokeLock = 4, Deleted = 5, Renamed = 6 };

struct ActivityRow {
    std::int64_t id = 0; // the store's, in the order entries were added
    Millis time = 0;
    ActivityKind kind = ActivityKind::Stored;
    UserRow actor;
    std::optional<UserRow> subject; // whose lock was broken
    std::string projectId, projectName; // empty in a user directory
    std::string spaceId, spaceName;
    std::string fileId, path;
    std::string oldPath; // a rename's former path
    std::int64_t revision = 0, size = 0;
    std::string reason; // why a lock was broken, when the breaker said
};

// One page of a history, newest first, and how many entries the history holds.
struct ActivityPage {
    std::vector<ActivityRow> rows;
    std::int64_t total = 0;
};

// A space's history keeps its newest entries only, so that it stays bounded however long the
// space lives: 10,000 entries (each a few hundred bytes), and up to activity_slack more before the
// oldest go together, so that a write drops entries once in a hundred, not every time.
inline constexpr std::int64_t activity_per_space = 10000;
inline constexpr std::int64_t activity_slack = 100;

// What a user may do in a project: any member may lock, upload, rename and delete; an admin may
// also break another user's lock.
enum class Role { Member, Admin };

// The operations of one transaction. Each write is seen by later reads of the same transaction.
class Records {
public:
    virtual ~Records() = default;

    virtual std::vector<TenantRow> tenants() = 0;
    virtual std::optional<TenantRow> tenant(const std::string& uniqueId) = 0;
    virtual void put_user(const UserRow& user) = 0;

    // Access: whether the user sees a tenant, and the user's role on a project (nothing: the
    // project is not theirs to see). The rules that use them are the domain's.
    virtual bool sees_tenant(const std::string& userId, const std::string& tenantId) = 0;
    virtual std::optional<Role> role(const std::string& userId, const std::string& projectId) = 0;
    virtual void grant(const std::string& userId, const std::string& projectId, Role role) = 0;

    // The tenant's projects as a list shows them: id, tenant, name and number (project() has the rest).
    virtual std::vector<ProjectRow> projects(const std::string& tenantId) = 0;
    virtual std::optional<ProjectRow> project(const std::string& id) = 0;
    // The tenant's projects in which the user holds a role, as projects() lists them, each with
    // its partitions: one query however many projects there are.
    virtual std::vector<ListedProject> listed_projects(const std::string& userId, const std::string& tenantId) = 0;
    virtual bool project_number_taken(const std::string& tenantId, const std::string& number) = 0;
    virtual void add_project(const ProjectRow& project, Millis created) = 0;

    virtual std::vector<SpaceRow> partitions(const std::string& projectId) = 0;
    virtual std::vector<SpaceRow> user_directories(const std::string& ownerId) = 0;
    virtual std::optional<SpaceRow> space(const std::string& id) = 0;
    virtual std::optional<SpaceRow> user_directory(const std::string& ownerId, int versionMajor) = 0;
    virtual bool partition_name_taken(const std::string& projectId, const std::string& name) = 0;
    virtual void add_space(const SpaceRow& space) = 0;
    virtual void set_version(const std::string& spaceId, int versionMajor) = 0;

    // Files, found by their case-folded path in a space. Deleted files keep their row.
    virtual std::optional<FileRow> file(const std::string& spaceId, const std::string& pathKey) = 0;
    virtual std::optional<FileRow> file_by_id(const std::string& id) = 0;
    virtual std::vector<FileRow> files(const std::string& spaceId) = 0;
    // Adds a revision: a new file (revision 1), new content, a new path or a deletion. It takes the
    // space's next change number, the row's seq from then on, and sets `seq` to it by the time the
    // transaction commits: a store may take it last, so that commits to one space hold its
    // counter only while they commit.
    virtual void put_revision(const FileRow& file, const std::string& pathKey, const std::string& author, Millis time,
                              std::int64_t& seq) = 0;
    // The files of a space changed after change number `after`, in the order of their changes.
    virtual std::vector<FileRow> changes(const std::string& spaceId, std::int64_t after) = 0;
    // A file's revisions, oldest first.
    virtual std::vector<RevisionRow> revisions(const std::string& fileId) = 0;
    // The spaces holding a file that has a revision naming the content `blob`, each once.
    virtual std::vector<SpaceRow> spaces_naming(const std::string& blob) = 0;
    // The revision each live file of a space is at, by file id.
    virtual std::vector<std::pair<std::string, RevisionRow>> current_revisions(const std::string& spaceId) = 0;
    // A folder's counts (nothing: no live file lies beneath it), its sub-folders by natural name
    // order, and the files of a folder query with how many it finds. Each reads what it answers,
    // through indexes, however large the space is; a search beneath a folder reads that folder's files.
    virtual std::optional<FolderRow> folder(const std::string& spaceId, const std::string& key) = 0;
    virtual std::vector<FolderRow> subfolders(const std::string& spaceId, const std::string& key,
                                              std::int64_t offset, int limit) = 0;
    virtual std::int64_t subfolder_count(const std::string& spaceId, const std::string& key) = 0;
    virtual std::vector<FileRow> folder_files(const FolderFiles& query) = 0;
    virtual std::int64_t folder_file_count(const FolderFiles& query) = 0;
    // The locked live files of a project's partitions, the oldest lock first.
    virtual std::vector<FileRow> project_locks(const std::string& projectId) = 0;
    virtual void set_lock(const std::string& fileId, const std::optional<std::string>& holderId, Millis since) = 0;
    // Clears the user's locks and returns the files they were on, as they were, by path.
    virtual std::vector<FileRow> unlock_all(const std::string& holderId) = 0;
    virtual void tag(const std::string& fileId, const std::string& projectId, const std::string& category,
                     const std::string& name) = 0;
    virtual std::vector<std::string> tags(const std::string& fileId) = 0;

    // Takes (returns and removes) what a store of schema 3 or older kept for one working folder:
    // its working copies, the notices it was given and the uploads queued for its space. Those
    // rows belong to the folder's journal now; a store that never kept any has none to give.
    struct FolderRows {
        struct NoticeRow {
            std::string fileId;
            std::int64_t revision = 0;
            int kind = 0;
        };
        std::vector<std::pair<std::string, WorkingRow>> working;
        std::vector<QueuedUpload> queue;
        std::vector<NoticeRow> notices;
    };
    virtual FolderRows hand_over(const std::string& /*userId*/, const std::string& /*root*/,
                                 const std::string& /*spaceId*/)
    {
        return {};
    }

    virtual void post(const std::string& userId, const EventRow& event, Millis time) = 0;
    // Removes and returns the user's events, oldest first.
    virtual std::vector<EventRow> take_events(const std::string& userId) = 0;
    // The user's newest `limit` events, newest first; they stay to be taken.
    virtual std::vector<PostedEvent> recent_events(const std::string& userId, int limit) = 0;
    virtual std::int64_t event_count(const std::string& userId) = 0;

    // Adds an entry (id and names are the store's to fill) and drops the oldest of its space's
    // beyond activity_per_space.
    virtual void add_activity(const ActivityRow& row) = 0;
    // The entries a user did or was the subject of, in the spaces the user may still see.
    virtual ActivityPage user_activity(const std::string& userId, std::int64_t offset, int limit) = 0;
    virtual ActivityPage project_activity(const std::string& projectId, std::int64_t offset, int limit) = 0;

    virtual void add_model_update(const ModelUpdateRow& update, const std::string& userId) = 0;
    virtual std::optional<ModelUpdateRow> model_update(const std::string& id) = 0;
    // A project's updates, newest first, each with its files.
    virtual std::vector<ModelUpdateRow> model_updates(const std::string& projectId) = 0;

    virtual std::vector<ContractRow> contracts(const std::string& tenantId) = 0;
    virtual void add_contract(const ContractRow& contract) = 0;

    virtual void add_include_folder(const std::string& projectId, const std::string& folder) = 0;
    virtual bool has_include_folder(const std::string& projectId, const std::string& folder) = 0;
};

// The store failed because the disk is full.
struct StoreFull : VyrCldapi::Exception {
    StoreFull() : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "The store's disk is full.") {}
};

class MetadataStore {
public:
    virtual ~MetadataStore() = default;

    // Runs `body` in one transaction: committed when it returns, rolled back when it raises.
    // A write transaction holds the store's write lock from its first statement, so two
    // processes never both decide on the same row.
    virtual void read(const std::function<void(Records&)>& body) = 0;
    virtual void write(const std::function<void(Records&)>& body) = 0;

    template <class F> auto reading(F&& body)
    {
        std::invoke_result_t<F, Records&> result{};
        read([&](Records& records) { result = body(records); });
        return result;
    }
    template <class F> auto writing(F&& body)
    {
        std::invoke_result_t<F, Records&> result{};
        write([&](Records& records) { result = body(records); });
        return result;
    }
};

struct StoreSettings {
    std::string path;
    int busyTimeoutMs = 10000;
    // Without it, a missing or empty database is refused rather than created.
    bool create = true;
};

std::unique_ptr<MetadataStore> open_sqlite_store(const StoreSettings& settings);
int sqlite_schema_version();

} // namespace vyr::cld::domain
