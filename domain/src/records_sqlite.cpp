#include <vyr/cld/domain/folders.h>
#include <vyr/cld/domain/records.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <SQLiteCpp/VariadicBind.h>
#include <sqlite3.h>

#include "system_error.h"

#include <array>
#include <mutex>
#include <string_view>
#include <utility>

namespace vyr::cld::domain {
namespace {

// Forward migrations: entry N takes the schema from version N to N + 1. Never edit an entry that
// has shipped; add one.
constexpr std::array<const char*, 6> migrations{
    R"sql(
CREATE TABLE tenants(id TEXT PRIMARY KEY, unique_id TEXT NOT NULL UNIQUE, display_name TEXT NOT NULL,
    enabled INTEGER NOT NULL, provider_id TEXT NOT NULL, organization_id TEXT NOT NULL);
CREATE TABLE users(id TEXT PRIMARY KEY, display_name TEXT NOT NULL, principal_name TEXT NOT NULL);
CREATE TABLE projects(id TEXT PRIMARY KEY, tenant_id TEXT NOT NULL REFERENCES tenants(id), name TEXT NOT NULL,
    number TEXT NOT NULL, crs TEXT NOT NULL, created INTEGER NOT NULL, UNIQUE(tenant_id, number));
CREATE TABLE spaces(id TEXT PRIMARY KEY, kind INTEGER NOT NULL, project_id TEXT REFERENCES projects(id),
    owner_id TEXT REFERENCES users(id), name TEXT NOT NULL, version_major INTEGER NOT NULL);
CREATE UNIQUE INDEX spaces_partition_name ON spaces(project_id, name) WHERE kind = 0;
CREATE UNIQUE INDEX spaces_user_directory ON spaces(owner_id, version_major) WHERE kind = 1;
CREATE TABLE files(id TEXT PRIMARY KEY, space_id TEXT NOT NULL REFERENCES spaces(id), path TEXT NOT NULL,
    path_key TEXT NOT NULL, revision INTEGER NOT NULL, blob TEXT NOT NULL, size INTEGER NOT NULL,
    deleted INTEGER NOT NULL, lock_user TEXT REFERENCES users(id), lock_time INTEGER);
CREATE UNIQUE INDEX files_live_path ON files(space_id, path_key) WHERE deleted = 0;
CREATE INDEX files_path ON files(space_id, path_key);
CREATE TABLE revisions(file_id TEXT NOT NULL REFERENCES files(id), revision INTEGER NOT NULL, path TEXT NOT NULL,
    blob TEXT NOT NULL, size INTEGER NOT NULL, deleted INTEGER NOT NULL, author TEXT NOT NULL REFERENCES users(id),
    time INTEGER NOT NULL, PRIMARY KEY(file_id, revision));
CREATE TABLE file_tags(file_id TEXT NOT NULL REFERENCES files(id), project_id TEXT NOT NULL REFERENCES projects(id),
    category TEXT NOT NULL, name TEXT NOT NULL, PRIMARY KEY(file_id, project_id, category, name));
CREATE TABLE working(user_id TEXT NOT NULL REFERENCES users(id), root TEXT NOT NULL,
    file_id TEXT NOT NULL REFERENCES files(id), path TEXT NOT NULL, revision INTEGER NOT NULL, blob TEXT NOT NULL,
    size INTEGER NOT NULL, mtime INTEGER NOT NULL, PRIMARY KEY(user_id, root, file_id));
CREATE TABLE upload_queue(user_id TEXT NOT NULL REFERENCES users(id), space_id TEXT NOT NULL REFERENCES spaces(id),
    path TEXT NOT NULL, unlock INTEGER NOT NULL, PRIMARY KEY(user_id, space_id, path));
CREATE TABLE events(seq INTEGER PRIMARY KEY AUTOINCREMENT, user_id TEXT NOT NULL, type INTEGER NOT NULL,
    status INTEGER NOT NULL, response_id TEXT NOT NULL, time INTEGER NOT NULL);
CREATE INDEX events_user ON events(user_id, seq);
CREATE TABLE road_contracts(project_id TEXT NOT NULL REFERENCES projects(id), contract_id TEXT NOT NULL,
    name TEXT NOT NULL, PRIMARY KEY(project_id, contract_id));
CREATE TABLE model_updates(id TEXT PRIMARY KEY, project_id TEXT NOT NULL REFERENCES projects(id),
    user_id TEXT NOT NULL REFERENCES users(id), dimensions INTEGER NOT NULL, epsg INTEGER NOT NULL,
    description TEXT NOT NULL, logical_id TEXT NOT NULL, offset_x REAL NOT NULL, offset_y REAL NOT NULL,
    created INTEGER NOT NULL);
CREATE TABLE model_update_files(update_id TEXT NOT NULL REFERENCES model_updates(id),
    file_id TEXT NOT NULL REFERENCES files(id), PRIMARY KEY(update_id, file_id));
CREATE TABLE include_folders(project_id TEXT NOT NULL REFERENCES projects(id), folder TEXT NOT NULL,
    PRIMARY KEY(project_id, folder));
INSERT INTO tenants VALUES('local', 'local', 'Local tenant', 1, 'local', 'local');
)sql",
    // A project number is unique in its tenant only when there is one: any number of projects may
    // have none. The table is rebuilt, as SQLite cannot drop a table constraint. And what each user
    // was told once per revision (conflicts, damaged content) is kept across processes.
    R"sql(
CREATE TABLE projects_next(id TEXT PRIMARY KEY, tenant_id TEXT NOT NULL REFERENCES tenants(id), name TEXT NOT NULL,
    number TEXT NOT NULL, crs TEXT NOT NULL, created INTEGER NOT NULL);
INSERT INTO projects_next SELECT id, tenant_id, name, number, crs, created FROM projects;
DROP TABLE projects;
ALTER TABLE projects_next RENAME TO projects;
CREATE UNIQUE INDEX projects_number ON projects(tenant_id, number) WHERE number <> '';
CREATE TABLE notices(user_id TEXT NOT NULL, root TEXT NOT NULL, file_id TEXT NOT NULL, revision INTEGER NOT NULL,
    kind INTEGER NOT NULL, PRIMARY KEY(user_id, root, file_id, revision, kind));
)sql",
    // Every change of a file takes the next number of its space, so that a working folder asks for
    // what changed after the last number it saw instead of reading the whole space.
    R"sql(
ALTER TABLE files ADD COLUMN seq INTEGER NOT NULL DEFAULT 0;
UPDATE files SET seq = rowid;
CREATE INDEX files_space_seq ON files(space_id, seq);
)sql",
    // A model update's files in the order the host gave them; those recorded before read in the
    // order of their ids, as they always did.
    R"sql(
ALTER TABLE model_update_files ADD COLUMN position INTEGER NOT NULL DEFAULT 0;
)sql",
    // Folders with their counts, and each file's folder, name order and time, so that a folder's
    // page reads what it shows. The keys and counts of the files stored before are filled in after
    // this, by the same rules that keep them (see fill_folders).
    R"sql(
ALTER TABLE files ADD COLUMN folder_key TEXT NOT NULL DEFAULT '';
ALTER TABLE files ADD COLUMN name_key TEXT NOT NULL DEFAULT '';
ALTER TABLE files ADD COLUMN changed INTEGER NOT NULL DEFAULT 0;
UPDATE files SET changed = coalesce((SELECT max(r.time) FROM revisions r WHERE r.file_id = files.id), 0);
CREATE TABLE folders(space_id TEXT NOT NULL REFERENCES spaces(id), key TEXT NOT NULL, parent TEXT NOT NULL,
    path TEXT NOT NULL, name_key TEXT NOT NULL, files INTEGER NOT NULL, direct INTEGER NOT NULL,
    PRIMARY KEY(space_id, key));
CREATE INDEX folders_parent ON folders(space_id, parent, name_key);
CREATE INDEX files_folder_name ON files(space_id, folder_key, name_key) WHERE deleted = 0;
CREATE INDEX files_folder_size ON files(space_id, folder_key, size, name_key) WHERE deleted = 0;
CREATE INDEX files_folder_changed ON files(space_id, folder_key, changed, name_key) WHERE deleted = 0;
CREATE INDEX files_folder_revision ON files(space_id, folder_key, revision, name_key) WHERE deleted = 0;
CREATE INDEX files_locked ON files(space_id, lock_time) WHERE lock_user IS NOT NULL;
)sql",
    // The activity history the domain keeps beside the events; see the team service's schema.
    R"sql(
CREATE TABLE activity(id INTEGER PRIMARY KEY AUTOINCREMENT, time INTEGER NOT NULL, kind INTEGER NOT NULL,
    actor_id TEXT NOT NULL, subject_id TEXT, project_id TEXT, space_id TEXT NOT NULL, file_id TEXT NOT NULL,
    path TEXT NOT NULL, old_path TEXT NOT NULL, revision INTEGER NOT NULL, size INTEGER NOT NULL, reason TEXT NOT NULL);
CREATE INDEX activity_space ON activity(space_id, id);
CREATE INDEX activity_project ON activity(project_id, id);
CREATE INDEX activity_actor ON activity(actor_id, id);
CREATE INDEX activity_subject ON activity(subject_id, id);
CREATE TABLE activity_spaces(space_id TEXT PRIMARY KEY, entries INTEGER NOT NULL);
)sql",
};
// The schema from which files carry their folders.
constexpr int folders_version = 5;

constexpr SqlDialect sqlite_dialect{'?', "instr", "", "f.deleted = 0"};

template <class... Args> SQLite::Statement statement(SQLite::Database& db, const char* sql, const Args&... args)
{
    SQLite::Statement query(db, sql);
    if constexpr (sizeof...(Args) > 0) {
        SQLite::bind(query, args...);
    }
    return query;
}

template <class... Args> void execute(SQLite::Database& db, const char* sql, const Args&... args)
{
    auto query = statement(db, sql, args...);
    query.exec();
}

// Every row of a query, each read by `read`.
template <class Row, class Read, class... Args>
std::vector<Row> rows(SQLite::Database& db, const char* sql, Read&& read, const Args&... args)
{
    auto query = statement(db, sql, args...);
    std::vector<Row> out;
    while (query.executeStep()) {
        out.push_back(read(query));
    }
    return out;
}

template <class Row, class Read, class... Args>
std::optional<Row> row(SQLite::Database& db, const char* sql, Read&& read, const Args&... args)
{
    auto all = rows<Row>(db, sql, std::forward<Read>(read), args...);
    if (all.empty()) {
        return std::nullopt;
    }
    return std::move(all.front());
}

std::string text(const SQLite::Statement& query, int column)
{
    return query.getColumn(column).getString();
}

TenantRow read_tenant(const SQLite::Statement& q)
{
    return {text(q, 0), text(q, 1), text(q, 2), text(q, 4), text(q, 5), q.getColumn(3).getInt() != 0};
}
constexpr const char* tenant_columns = "SELECT id, unique_id, display_name, enabled, provider_id, organization_id FROM tenants";

ProjectRow read_project(const SQLite::Statement& q)
{
    return {text(q, 0), text(q, 1), text(q, 2), text(q, 3), text(q, 4)};
}

SpaceRow read_space(const SQLite::Statement& q)
{
    SpaceRow space;
    space.id = text(q, 0);
    space.kind = q.getColumn(1).getInt() == 0 ? SpaceRow::Kind::Partition : SpaceRow::Kind::UserDirectory;
    space.projectId = text(q, 2);
    space.ownerId = text(q, 3);
    space.name = text(q, 4);
    space.versionMajor = q.getColumn(5).getInt();
    return space;
}

#define VYR_ACTIVITY_COLUMNS                                                                                         \
    "SELECT a.id, a.time, a.kind, a.actor_id, ua.display_name, ua.principal_name, a.subject_id, us.display_name, "   \
    "us.principal_name, a.project_id, p.name, a.space_id, s.name, a.file_id, a.path, a.old_path, a.revision, "      \
    "a.size, a.reason FROM activity a LEFT JOIN users ua ON ua.id = a.actor_id LEFT JOIN users us ON us.id = "      \
    "a.subject_id LEFT JOIN projects p ON p.id = a.project_id LEFT JOIN spaces s ON s.id = a.space_id "

ActivityRow read_activity(const SQLite::Statement& q)
{
    ActivityRow a;
    a.id = q.getColumn(0).getInt64();
    a.time = q.getColumn(1).getInt64();
    a.kind = static_cast<ActivityKind>(q.getColumn(2).getInt());
    a.actor = {text(q, 3), text(q, 4), text(q, 5)};
    if (!q.getColumn(6).isNull()) {
        a.subject = UserRow{text(q, 6), text(q, 7), text(q, 8)};
    }
    a.projectId = text(q, 9);
    a.projectName = text(q, 10);
    a.spaceId = text(q, 11);
    a.spaceName = text(q, 12);
    a.fileId = text(q, 13);
    a.path = text(q, 14);
    a.oldPath = text(q, 15);
    a.revision = q.getColumn(16).getInt64();
    a.size = q.getColumn(17).getInt64();
    a.reason = text(q, 18);
    return a;
}

#define VYR_SPACE_COLUMNS "SELECT id, kind, coalesce(project_id, ''), coalesce(owner_id, ''), name, version_major FROM spaces "
#define VYR_FILE_COLUMNS_ONLY                                                                                        \
    "SELECT f.id, f.space_id, f.path, f.revision, f.blob, f.size, f.deleted, f.lock_user, u.display_name, "          \
    "u.principal_name, f.lock_time, f.seq, f.changed"
#define VYR_FILE_COLUMNS VYR_FILE_COLUMNS_ONLY " FROM files f LEFT JOIN users u ON u.id = f.lock_user "

FileRow read_file(const SQLite::Statement& q)
{
    FileRow file;
    file.id = text(q, 0);
    file.spaceId = text(q, 1);
    file.path = text(q, 2);
    file.revision = q.getColumn(3).getInt64();
    file.blob = text(q, 4);
    file.size = q.getColumn(5).getInt64();
    file.deleted = q.getColumn(6).getInt() != 0;
    if (!q.isColumnNull(7)) {
        file.lock = LockRow{{text(q, 7), text(q, 8), text(q, 9)}, q.getColumn(10).getInt64()};
    }
    file.seq = q.getColumn(11).getInt64();
    file.changed = q.getColumn(12).getInt64();
    return file;
}

#define VYR_REVISION_COLUMNS                                                                                         \
    "SELECT r.revision, r.path, r.author, coalesce(u.display_name, ''), coalesce(u.principal_name, ''), r.time, "    \
    "r.size, r.blob, r.file_id, r.deleted FROM revisions r LEFT JOIN users u ON u.id = r.author "

RevisionRow read_revision(const SQLite::Statement& q)
{
    return {q.getColumn(0).getInt64(), text(q, 1),    {text(q, 2), text(q, 3), text(q, 4)}, q.getColumn(5).getInt64(),
            q.getColumn(6).getInt64(), text(q, 7), q.getColumn(9).getInt() != 0};
}

#define VYR_UPDATE_COLUMNS                                                                                           \
    "SELECT id, project_id, dimensions, epsg, description, logical_id, offset_x, offset_y, created FROM "            \
    "model_updates "

ModelUpdateRow read_update(const SQLite::Statement& q)
{
    return {text(q, 0),
            text(q, 1),
            q.getColumn(2).getInt(),
            q.getColumn(3).getInt(),
            text(q, 4),
            text(q, 5),
            q.getColumn(6).getDouble(),
            q.getColumn(7).getDouble(),
            {},
            q.getColumn(8).getInt64()};
}

WorkingRow read_working(const SQLite::Statement& q, int first = 0)
{
    return WorkingRow{text(q, first), q.getColumn(first + 1).getInt64(), text(q, first + 2),
                      q.getColumn(first + 3).getInt64(), q.getColumn(first + 4).getInt64()};
}

FolderRow read_folder(const SQLite::Statement& q)
{
    return {text(q, 0), q.getColumn(1).getInt64(), q.getColumn(2).getInt64()};
}

// Adds a change to a folder's counts; a folder with no live file beneath it is no more.
void count_folder(SQLite::Database& db, const std::string& spaceId, const FolderDelta& d)
{
    execute(db,
            "INSERT INTO folders VALUES(?, ?, ?, ?, ?, ?, ?) ON CONFLICT(space_id, key) DO UPDATE SET "
            "path = excluded.path, files = files + excluded.files, direct = direct + excluded.direct",
            spaceId, d.key, d.parent, d.path, d.nameKey, d.files, d.direct);
    execute(db, "DELETE FROM folders WHERE space_id = ? AND key = ? AND files <= 0", spaceId, d.key);
}

// The folders of the files a store held before it kept them.
void fill_folders(SQLite::Database& db)
{
    FolderTally tally;
    const auto files = rows<std::array<std::string, 3>>(
        db, "SELECT id, space_id, path FROM files WHERE deleted = 0",
        [](const SQLite::Statement& q) { return std::array{text(q, 0), text(q, 1), text(q, 2)}; });
    for (const auto& [id, spaceId, path] : files) {
        const auto place = folder_place(path);
        execute(db, "UPDATE files SET folder_key = ?, name_key = ? WHERE id = ?", place.folderKey, place.nameKey, id);
        tally.add(spaceId, path);
    }
    for (const auto& [at, delta] : tally.folders()) {
        count_folder(db, at.first, delta);
    }
}

class SqliteRecords final : public Records {
public:
    explicit SqliteRecords(SQLite::Database& db) : db_(db) {}

    std::vector<TenantRow> tenants() override
    {
        return rows<TenantRow>(db_, (std::string(tenant_columns) + " ORDER BY display_name").c_str(), read_tenant);
    }
    std::optional<TenantRow> tenant(const std::string& uniqueId) override
    {
        return row<TenantRow>(db_, (std::string(tenant_columns) + " WHERE unique_id = ?").c_str(), read_tenant,
                              uniqueId);
    }
    void put_user(const UserRow& user) override
    {
        execute(db_,
                "INSERT INTO users VALUES(?, ?, ?) ON CONFLICT(id) DO UPDATE SET display_name = excluded.display_name, "
                "principal_name = excluded.principal_name WHERE display_name <> excluded.display_name OR "
                "principal_name <> excluded.principal_name",
                user.id, user.displayName, user.principalName);
    }

    // Every user of a local store shares one machine and its files: each sees every tenant and
    // administers every project.
    bool sees_tenant(const std::string&, const std::string&) override { return true; }
    std::optional<Role> role(const std::string&, const std::string&) override { return Role::Admin; }
    void grant(const std::string&, const std::string&, Role) override {}

    std::vector<ProjectRow> projects(const std::string& tenantId) override
    {
        // A list reads what it shows; the tenant is the one asked for.
        return rows<ProjectRow>(
            db_, "SELECT id, name, number FROM projects WHERE tenant_id = ? ORDER BY created, id",
            [&](const SQLite::Statement& q) { return ProjectRow{text(q, 0), tenantId, text(q, 1), text(q, 2), {}}; },
            tenantId);
    }
    std::vector<ListedProject> listed_projects(const std::string&, const std::string& tenantId) override
    {
        // Every project is the one user's here, as role() answers.
        std::vector<ListedProject> out;
        auto query = statement(db_,
                               "SELECT p.id, p.name, p.number, s.id, s.name, s.version_major FROM projects p "
                               "LEFT JOIN spaces s ON s.project_id = p.id AND s.kind = 0 WHERE p.tenant_id = ? "
                               "ORDER BY p.created, p.id, s.name",
                               tenantId);
        while (query.executeStep()) {
            std::optional<SpaceRow> partition;
            if (!query.getColumn(3).isNull()) {
                partition = SpaceRow{text(query, 3), SpaceRow::Kind::Partition, text(query, 0), {}, text(query, 4),
                                     query.getColumn(5).getInt()};
            }
            add_listed(out, {text(query, 0), tenantId, text(query, 1), text(query, 2), {}}, std::move(partition));
        }
        return out;
    }
    std::optional<ProjectRow> project(const std::string& id) override
    {
        return row<ProjectRow>(db_, "SELECT id, tenant_id, name, number, crs FROM projects WHERE id = ?", read_project,
                               id);
    }
    bool project_number_taken(const std::string& tenantId, const std::string& number) override
    {
        return !rows<int>(db_, "SELECT 1 FROM projects WHERE tenant_id = ? AND number = ?",
                          [](const SQLite::Statement&) { return 1; }, tenantId, number)
                    .empty();
    }
    void add_project(const ProjectRow& p, Millis created) override
    {
        execute(db_, "INSERT INTO projects VALUES(?, ?, ?, ?, ?, ?)", p.id, p.tenantId, p.name, p.number, p.crs,
                created);
    }

    std::vector<SpaceRow> partitions(const std::string& projectId) override
    {
        return rows<SpaceRow>(db_, VYR_SPACE_COLUMNS "WHERE kind = 0 AND project_id = ? ORDER BY name", read_space,
                              projectId);
    }
    std::vector<SpaceRow> user_directories(const std::string& ownerId) override
    {
        return rows<SpaceRow>(db_, VYR_SPACE_COLUMNS "WHERE kind = 1 AND owner_id = ? ORDER BY version_major",
                              read_space, ownerId);
    }
    std::optional<SpaceRow> space(const std::string& id) override
    {
        return row<SpaceRow>(db_, VYR_SPACE_COLUMNS "WHERE id = ?", read_space, id);
    }
    std::optional<SpaceRow> user_directory(const std::string& ownerId, int versionMajor) override
    {
        return row<SpaceRow>(db_, VYR_SPACE_COLUMNS "WHERE kind = 1 AND owner_id = ? AND version_major = ?",
                             read_space, ownerId, versionMajor);
    }
    bool partition_name_taken(const std::string& projectId, const std::string& name) override
    {
        return !rows<int>(db_, "SELECT 1 FROM spaces WHERE kind = 0 AND project_id = ? AND name = ?",
                          [](const SQLite::Statement&) { return 1; }, projectId, name)
                    .empty();
    }
    void add_space(const SpaceRow& s) override
    {
        const bool partition = s.kind == SpaceRow::Kind::Partition;
        auto query = statement(db_, "INSERT INTO spaces VALUES(?, ?, ?, ?, ?, ?)", s.id, partition ? 0 : 1);
        if (partition) {
            query.bind(3, s.projectId);
            query.bind(4);
        } else {
            query.bind(3);
            query.bind(4, s.ownerId);
        }
        query.bind(5, s.name);
        query.bind(6, s.versionMajor);
        query.exec();
    }
    void set_version(const std::string& spaceId, int versionMajor) override
    {
        execute(db_, "UPDATE spaces SET version_major = ? WHERE id = ?", versionMajor, spaceId);
    }

    std::optional<FileRow> file(const std::string& spaceId, const std::string& pathKey) override
    {
        return row<FileRow>(db_, VYR_FILE_COLUMNS "WHERE f.space_id = ? AND f.path_key = ? ORDER BY f.deleted, f.revision DESC LIMIT 1", read_file, spaceId,
                            pathKey);
    }
    std::optional<FileRow> file_by_id(const std::string& id) override
    {
        return row<FileRow>(db_, VYR_FILE_COLUMNS "WHERE f.id = ?", read_file, id);
    }
    std::vector<FileRow> files(const std::string& spaceId) override
    {
        return rows<FileRow>(db_, VYR_FILE_COLUMNS "WHERE f.space_id = ? ORDER BY f.path", read_file, spaceId);
    }
    void put_revision(const FileRow& f, const std::string& pathKey, const std::string& author, Millis time,
                      std::int64_t& seq) override
    {
        const auto before = row<std::string>(db_, "SELECT path FROM files WHERE id = ? AND deleted = 0",
                                             [](const SQLite::Statement& q) { return text(q, 0); }, f.id);
        const auto place = folder_place(f.path);
        execute(db_,
                "INSERT INTO files(id, space_id, path, path_key, revision, blob, size, deleted, seq, folder_key, "
                "name_key, changed) "
                "VALUES(?, ?, ?, ?, ?, ?, ?, ?, (SELECT coalesce(max(seq), 0) + 1 FROM files WHERE space_id = ?), ?, ?, "
                "?) ON CONFLICT(id) DO UPDATE SET path = excluded.path, path_key = excluded.path_key, "
                "revision = excluded.revision, blob = excluded.blob, size = excluded.size, deleted = excluded.deleted, "
                "seq = excluded.seq, folder_key = excluded.folder_key, name_key = excluded.name_key, "
                "changed = excluded.changed",
                f.id, f.spaceId, f.path, pathKey, f.revision, f.blob, f.size, f.deleted ? 1 : 0, f.spaceId,
                place.folderKey, place.nameKey, time);
        execute(db_, "INSERT INTO revisions VALUES(?, ?, ?, ?, ?, ?, ?, ?)", f.id, f.revision, f.path, f.blob, f.size,
                f.deleted ? 1 : 0, author, time);
        for (const auto& delta : folder_deltas(before ? &*before : nullptr, f.deleted ? nullptr : &f.path)) {
            count_folder(db_, f.spaceId, delta);
        }
        seq = rows<std::int64_t>(db_, "SELECT seq FROM files WHERE id = ?",
                                 [](const SQLite::Statement& q) { return q.getColumn(0).getInt64(); }, f.id)
                  .front();
    }
    std::vector<FileRow> changes(const std::string& spaceId, std::int64_t after) override
    {
        return rows<FileRow>(db_, VYR_FILE_COLUMNS "WHERE f.space_id = ? AND f.seq > ? ORDER BY f.seq", read_file,
                             spaceId, after);
    }
    std::vector<RevisionRow> revisions(const std::string& fileId) override
    {
        return rows<RevisionRow>(db_, VYR_REVISION_COLUMNS "WHERE r.file_id = ? ORDER BY r.revision", read_revision,
                                 fileId);
    }
    std::vector<SpaceRow> spaces_naming(const std::string& blob) override
    {
        return rows<SpaceRow>(db_,
                              VYR_SPACE_COLUMNS "WHERE id IN (SELECT f.space_id FROM revisions r JOIN files f ON f.id = "
                                                "r.file_id WHERE r.blob = ?)",
                              read_space, blob);
    }
    std::vector<std::pair<std::string, RevisionRow>> current_revisions(const std::string& spaceId) override
    {
        return rows<std::pair<std::string, RevisionRow>>(
            db_,
            VYR_REVISION_COLUMNS "JOIN files f ON f.id = r.file_id AND f.revision = r.revision "
                                 "WHERE f.space_id = ? AND f.deleted = 0",
            [](const SQLite::Statement& q) { return std::pair{text(q, 8), read_revision(q)}; }, spaceId);
    }
    std::optional<FolderRow> folder(const std::string& spaceId, const std::string& key) override
    {
        return row<FolderRow>(db_, "SELECT path, files, direct FROM folders WHERE space_id = ? AND key = ?",
                              read_folder, spaceId, key);
    }
    std::vector<FolderRow> subfolders(const std::string& spaceId, const std::string& key, std::int64_t offset,
                                      int limit) override
    {
        return rows<FolderRow>(db_,
                               "SELECT path, files, direct FROM folders WHERE space_id = ? AND parent = ? AND key <> '' "
                               "ORDER BY name_key LIMIT ? OFFSET ?",
                               read_folder, spaceId, key, limit, offset);
    }
    std::int64_t subfolder_count(const std::string& spaceId, const std::string& key) override
    {
        return db_count("SELECT count(*) FROM folders WHERE space_id = ? AND parent = ? AND key <> ''", spaceId, key);
    }
    std::vector<FileRow> folder_files(const FolderFiles& q) override
    {
        const auto sql = VYR_FILE_COLUMNS + folder_files_sql(q, sqlite_dialect, true);
        const auto [from, to] = folder_range(q.folderKey);
        return rows<FileRow>(db_, sql.c_str(), read_file, q.spaceId, q.folderKey, from, to, q.contains, q.lockedBy,
                             q.changedSince, q.limit, q.offset);
    }
    std::int64_t folder_file_count(const FolderFiles& q) override
    {
        const auto sql = "SELECT count(*) FROM files f " + folder_files_sql(q, sqlite_dialect, false);
        const auto [from, to] = folder_range(q.folderKey);
        return db_count(sql.c_str(), q.spaceId, q.folderKey, from, to, q.contains, q.lockedBy, q.changedSince);
    }
    std::vector<FileRow> project_locks(const std::string& projectId) override
    {
        return rows<FileRow>(db_,
                             VYR_FILE_COLUMNS "JOIN spaces s ON s.id = f.space_id WHERE s.kind = 0 AND s.project_id = ? "
                                              "AND f.lock_user IS NOT NULL AND f.deleted = 0 ORDER BY f.lock_time, f.path",
                             read_file, projectId);
    }
    void set_lock(const std::string& fileId, const std::optional<std::string>& holderId, Millis since) override
    {
        if (holderId) {
            execute(db_, "UPDATE files SET lock_user = ?, lock_time = ? WHERE id = ?", *holderId, since, fileId);
        } else {
            execute(db_, "UPDATE files SET lock_user = NULL, lock_time = NULL WHERE id = ?", fileId);
        }
    }
    std::vector<FileRow> unlock_all(const std::string& holderId) override
    {
        auto files = rows<FileRow>(db_, VYR_FILE_COLUMNS "WHERE f.lock_user = ? ORDER BY f.path", read_file, holderId);
        execute(db_, "UPDATE files SET lock_user = NULL, lock_time = NULL WHERE lock_user = ?", holderId);
        return files;
    }
    void tag(const std::string& fileId, const std::string& projectId, const std::string& category,
             const std::string& name) override
    {
        execute(db_, "INSERT OR IGNORE INTO file_tags VALUES(?, ?, ?, ?)", fileId, projectId, category, name);
    }
    std::vector<std::string> tags(const std::string& fileId) override
    {
        return rows<std::string>(db_, "SELECT category || ':' || name FROM file_tags WHERE file_id = ? ORDER BY 1",
                                 [](const SQLite::Statement& q) { return text(q, 0); }, fileId);
    }

    FolderRows hand_over(const std::string& userId, const std::string& root, const std::string& spaceId) override
    {
        FolderRows out;
        out.working = rows<std::pair<std::string, WorkingRow>>(
            db_, "SELECT file_id, path, revision, blob, size, mtime FROM working WHERE user_id = ? AND root = ?",
            [](const SQLite::Statement& q) { return std::pair{text(q, 0), read_working(q, 1)}; }, userId, root);
        out.queue = rows<QueuedUpload>(
            db_, "SELECT space_id, path, unlock FROM upload_queue WHERE user_id = ? AND space_id = ? ORDER BY rowid",
            [](const SQLite::Statement& q) { return QueuedUpload{text(q, 0), text(q, 1), q.getColumn(2).getInt() != 0}; },
            userId, spaceId);
        out.notices = rows<FolderRows::NoticeRow>(
            db_, "SELECT file_id, revision, kind FROM notices WHERE user_id = ? AND root = ?",
            [](const SQLite::Statement& q) {
                return FolderRows::NoticeRow{text(q, 0), q.getColumn(1).getInt64(), q.getColumn(2).getInt()};
            },
            userId, root);
        execute(db_, "DELETE FROM working WHERE user_id = ? AND root = ?", userId, root);
        execute(db_, "DELETE FROM upload_queue WHERE user_id = ? AND space_id = ?", userId, spaceId);
        execute(db_, "DELETE FROM notices WHERE user_id = ? AND root = ?", userId, root);
        return out;
    }

    void post(const std::string& userId, const EventRow& e, Millis time) override
    {
        execute(db_, "INSERT INTO events(user_id, type, status, response_id, time) VALUES(?, ?, ?, ?, ?)", userId,
                e.type, e.status, e.responseId, time);
    }
    std::vector<EventRow> take_events(const std::string& userId) override
    {
        auto events = rows<EventRow>(
            db_, "SELECT type, status, response_id FROM events WHERE user_id = ? ORDER BY seq",
            [](const SQLite::Statement& q) { return EventRow{q.getColumn(0).getInt(), q.getColumn(1).getInt(), text(q, 2)}; },
            userId);
        execute(db_, "DELETE FROM events WHERE user_id = ?", userId);
        return events;
    }

    std::vector<PostedEvent> recent_events(const std::string& userId, int limit) override
    {
        return rows<PostedEvent>(
            db_, "SELECT type, status, response_id, time FROM events WHERE user_id = ? ORDER BY seq DESC LIMIT ?",
            [](const SQLite::Statement& q) {
                return PostedEvent{{q.getColumn(0).getInt(), q.getColumn(1).getInt(), text(q, 2)},
                                   q.getColumn(3).getInt64()};
            },
            userId, limit);
    }

    std::int64_t event_count(const std::string& userId) override
    {
        return rows<std::int64_t>(
            db_, "SELECT count(*) FROM events WHERE user_id = ?",
            [](const SQLite::Statement& q) { return q.getColumn(0).getInt64(); }, userId)
            .front();
    }

    void add_activity(const ActivityRow& a) override
    {
        auto insert = statement(db_, "INSERT INTO activity(time, kind, actor_id, subject_id, project_id, space_id, "
                                     "file_id, path, old_path, revision, size, reason) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, "
                                     "?, ?)");
        insert.bind(1, a.time);
        insert.bind(2, static_cast<int>(a.kind));
        insert.bind(3, a.actor.id);
        // NULL, not '', for a subject or project the entry has none of.
        if (a.subject) {
            insert.bind(4, a.subject->id);
        }
        if (!a.projectId.empty()) {
            insert.bind(5, a.projectId);
        }
        insert.bind(6, a.spaceId);
        insert.bind(7, a.fileId);
        insert.bind(8, a.path);
        insert.bind(9, a.oldPath);
        insert.bind(10, a.revision);
        insert.bind(11, a.size);
        insert.bind(12, a.reason);
        insert.exec();
        execute(db_, "INSERT INTO activity_spaces VALUES(?, 1) ON CONFLICT(space_id) DO UPDATE SET entries = entries + 1",
                a.spaceId);
        const auto entries = rows<std::int64_t>(
                                 db_, "SELECT entries FROM activity_spaces WHERE space_id = ?",
                                 [](const SQLite::Statement& q) { return q.getColumn(0).getInt64(); }, a.spaceId)
                                 .front();
        if (entries > activity_per_space + activity_slack) {
            execute(db_, "DELETE FROM activity WHERE id IN (SELECT id FROM activity WHERE space_id = ? ORDER BY id LIMIT ?)",
                    a.spaceId, entries - activity_per_space);
            execute(db_, "UPDATE activity_spaces SET entries = ? WHERE space_id = ?", activity_per_space, a.spaceId);
        }
    }
    ActivityPage user_activity(const std::string& userId, std::int64_t offset, int limit) override
    {
        // Every project is the one user's here, as role() answers.
        return {rows<ActivityRow>(db_,
                                  VYR_ACTIVITY_COLUMNS "WHERE a.actor_id = ?1 OR a.subject_id = ?1 ORDER BY a.id DESC "
                                                       "LIMIT ?2 OFFSET ?3",
                                  read_activity, userId, limit, offset),
                rows<std::int64_t>(
                    db_, "SELECT count(*) FROM activity WHERE actor_id = ?1 OR subject_id = ?1",
                    [](const SQLite::Statement& q) { return q.getColumn(0).getInt64(); }, userId)
                    .front()};
    }
    ActivityPage project_activity(const std::string& projectId, std::int64_t offset, int limit) override
    {
        return {rows<ActivityRow>(db_, VYR_ACTIVITY_COLUMNS "WHERE a.project_id = ? ORDER BY a.id DESC LIMIT ? OFFSET ?",
                                  read_activity, projectId, limit, offset),
                rows<std::int64_t>(
                    db_, "SELECT count(*) FROM activity WHERE project_id = ?",
                    [](const SQLite::Statement& q) { return q.getColumn(0).getInt64(); }, projectId)
                    .front()};
    }

    void add_model_update(const ModelUpdateRow& u, const std::string& userId) override
    {
        execute(db_, "INSERT INTO model_updates VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", u.id, u.projectId, userId,
                u.dimensions, u.epsg, u.description, u.logicalId, u.offsetX, u.offsetY, u.created);
        // A file given twice keeps its first place.
        for (std::size_t i = 0; i < u.fileIds.size(); ++i) {
            execute(db_, "INSERT OR IGNORE INTO model_update_files(update_id, file_id, position) VALUES(?, ?, ?)", u.id,
                    u.fileIds[i], static_cast<std::int64_t>(i));
        }
    }
    std::optional<ModelUpdateRow> model_update(const std::string& id) override
    {
        auto update = row<ModelUpdateRow>(db_, VYR_UPDATE_COLUMNS "WHERE id = ?", read_update, id);
        if (update) {
            update->fileIds = update_files(id);
        }
        return update;
    }
    std::vector<ModelUpdateRow> model_updates(const std::string& projectId) override
    {
        auto updates = rows<ModelUpdateRow>(db_, VYR_UPDATE_COLUMNS "WHERE project_id = ? ORDER BY created DESC, id",
                                            read_update, projectId);
        for (auto& update : updates) {
            update.fileIds = update_files(update.id);
        }
        return updates;
    }

    std::vector<ContractRow> contracts(const std::string& tenantId) override
    {
        return rows<ContractRow>(
            db_,
            "SELECT c.project_id, c.contract_id, c.name FROM road_contracts c JOIN projects p ON p.id = c.project_id "
            "WHERE p.tenant_id = ? ORDER BY p.created, c.contract_id",
            [](const SQLite::Statement& q) { return ContractRow{text(q, 0), text(q, 1), text(q, 2)}; }, tenantId);
    }
    void add_contract(const ContractRow& c) override
    {
        execute(db_, "INSERT OR REPLACE INTO road_contracts VALUES(?, ?, ?)", c.projectId, c.id, c.name);
    }

    void add_include_folder(const std::string& projectId, const std::string& folder) override
    {
        execute(db_, "INSERT OR IGNORE INTO include_folders VALUES(?, ?)", projectId, folder);
    }
    bool has_include_folder(const std::string& projectId, const std::string& folder) override
    {
        return !rows<int>(db_, "SELECT 1 FROM include_folders WHERE project_id = ? AND folder = ?",
                          [](const SQLite::Statement&) { return 1; }, projectId, folder)
                    .empty();
    }

private:
    std::vector<std::string> update_files(const std::string& updateId)
    {
        return rows<std::string>(db_, "SELECT file_id FROM model_update_files WHERE update_id = ? ORDER BY position, file_id",
                                 [](const SQLite::Statement& q) { return text(q, 0); }, updateId);
    }

    template <class... Args> std::int64_t db_count(const char* sql, const Args&... args)
    {
        return rows<std::int64_t>(db_, sql, [](const SQLite::Statement& q) { return q.getColumn(0).getInt64(); },
                                  args...)
            .front();
    }

    SQLite::Database& db_;
};

// SQLite failures leave the store as the exception kinds of the client, except a full disk,
// which the handlers answer with an error code. SQLite reports a write refused for the process's
// file-size limit as an I/O error; the system's error tells it from a failing disk.
template <class F> void translated(F&& body, sqlite3* db = nullptr)
{
    try {
        body();
    } catch (const SQLite::Exception& e) {
        // SQLite keeps the system's error only on some of its paths (not for a failed write of
        // the log at commit); the thread's last error still holds it then.
        const int kept = db ? sqlite3_system_errno(db) : 0;
        if (e.getErrorCode() == SQLITE_FULL || (e.getErrorCode() == SQLITE_IOERR && platform::store_full(kept))) {
            throw StoreFull{};
        }
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                   std::string("The store cannot be used: ") + e.what());
    }
}

class SqliteStore final : public MetadataStore {
public:
    explicit SqliteStore(const StoreSettings& settings)
        : db_(settings.path,
              SQLite::OPEN_READWRITE | (settings.create ? SQLite::OPEN_CREATE : 0) | SQLite::OPEN_NOFOLLOW,
              settings.busyTimeoutMs)
    {
        // Asked before anything is written: refusing an emptied database must leave it as it was.
        if (!settings.create && db_.execAndGet("PRAGMA user_version").getInt() == 0) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                       "The store's database is empty: it was replaced or never created.");
        }
        db_.exec("PRAGMA journal_mode = WAL");
        db_.exec("PRAGMA synchronous = FULL");
        // A migration may rebuild a table that others refer to; the keys are checked as a whole
        // before it commits, and enforced row by row from then on.
        db_.exec("PRAGMA foreign_keys = OFF");
        migrate();
        db_.exec("PRAGMA foreign_keys = ON");
    }

    void read(const std::function<void(Records&)>& body) override { run(body, SQLite::TransactionBehavior::DEFERRED); }
    void write(const std::function<void(Records&)>& body) override
    {
        run(body, SQLite::TransactionBehavior::IMMEDIATE);
    }

private:
    void run(const std::function<void(Records&)>& body, SQLite::TransactionBehavior behavior)
    {
        const std::lock_guard lock(mutex_);
        translated([&] {
            SQLite::Transaction transaction(db_, behavior);
            // Translated while the transaction still stands: its rollback makes system calls of its
            // own, after which the error that failed the write could no longer be told.
            translated(
                [&] {
                    SqliteRecords records(db_);
                    body(records);
                    transaction.commit();
                },
                db_.getHandle());
        });
    }

    void migrate()
    {
        SQLite::Transaction transaction(db_, SQLite::TransactionBehavior::IMMEDIATE);
        auto version = db_.execAndGet("PRAGMA user_version").getInt();
        if (version > static_cast<int>(migrations.size())) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                       "The store was written by a newer version of the local service.");
        }
        for (; version < static_cast<int>(migrations.size()); ++version) {
            db_.exec(migrations[static_cast<std::size_t>(version)]);
            if (version + 1 == folders_version) {
                fill_folders(db_);
            }
            db_.exec("PRAGMA user_version = " + std::to_string(version + 1));
        }
        if (SQLite::Statement check(db_, "PRAGMA foreign_key_check"); check.executeStep()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                       "The store's records refer to records it does not hold.");
        }
        transaction.commit();
    }

    std::mutex mutex_;
    SQLite::Database db_;
};

} // namespace

std::unique_ptr<MetadataStore> open_sqlite_store(const StoreSettings& settings)
{
    std::unique_ptr<MetadataStore> store;
    translated([&] { store = std::make_unique<SqliteStore>(settings); });
    return store;
}

int sqlite_schema_version()
{
    return static_cast<int>(migrations.size());
}

} // namespace vyr::cld::domain
