#include "journal.h"

#include "content_store.h"
#include "disk.h"
#include "paths.h"

#include <SQLiteCpp/VariadicBind.h>
#include <sqlite3.h>

#include <algorithm>

namespace vyr::cld::local {
namespace {

constexpr const char* schema = R"sql(
CREATE TABLE IF NOT EXISTS working(user_id TEXT NOT NULL, file_id TEXT NOT NULL, path TEXT NOT NULL,
    revision INTEGER NOT NULL, blob TEXT NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL,
    PRIMARY KEY(user_id, file_id));
CREATE INDEX IF NOT EXISTS working_path ON working(user_id, path);
CREATE TABLE IF NOT EXISTS seen(file_id TEXT PRIMARY KEY, space_id TEXT NOT NULL, path TEXT NOT NULL,
    revision INTEGER NOT NULL, blob TEXT NOT NULL, size INTEGER NOT NULL, deleted INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS seen_space ON seen(space_id, path);
CREATE TABLE IF NOT EXISTS cursors(space_id TEXT PRIMARY KEY, seq INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS upload_queue(user_id TEXT NOT NULL, space_id TEXT NOT NULL, path TEXT NOT NULL,
    unlock INTEGER NOT NULL, PRIMARY KEY(user_id, space_id, path));
CREATE TABLE IF NOT EXISTS notices(user_id TEXT NOT NULL, file_id TEXT NOT NULL, revision INTEGER NOT NULL,
    kind INTEGER NOT NULL, PRIMARY KEY(user_id, file_id, revision, kind));
CREATE TABLE IF NOT EXISTS taken_over(user_id TEXT NOT NULL, space_id TEXT NOT NULL, PRIMARY KEY(user_id, space_id));
)sql";

WorkingRow read_working(SQLite::Statement& q, int first)
{
    return {q.getColumn(first).getString(), q.getColumn(first + 1).getInt64(), q.getColumn(first + 2).getString(),
            q.getColumn(first + 3).getInt64(), q.getColumn(first + 4).getInt64()};
}

FileRow read_seen(SQLite::Statement& q)
{
    FileRow file;
    file.id = q.getColumn(0).getString();
    file.spaceId = q.getColumn(1).getString();
    file.path = q.getColumn(2).getString();
    file.revision = q.getColumn(3).getInt64();
    file.blob = q.getColumn(4).getString();
    file.size = q.getColumn(5).getInt64();
    file.deleted = q.getColumn(6).getInt() != 0;
    return file;
}

// Which of the space's files are behind the store, or agreed with it, for a query over `seen s`
// joined to the user's `working w`.
#define VYR_LIVE_BEHIND                                                                                          \
    "s.deleted = 0 AND (w.revision IS NULL OR w.revision < s.revision OR w.path <> s.path)"
#define VYR_AGREED "s.deleted = 0 AND w.revision = s.revision AND w.path = s.path"

#define VYR_SEEN_AND_WORKING                                                                                     \
    "SELECT s.file_id, s.space_id, s.path, s.revision, s.blob, s.size, s.deleted, w.path, w.revision, w.blob, " \
    "w.size, w.mtime FROM seen s "

template <class... Args> SQLite::Statement bound(SQLite::Database& db, const char* sql, const Args&... args)
{
    SQLite::Statement query(db, sql);
    SQLite::bind(query, args...);
    return query;
}

std::vector<Journal::Behind> read_behind(SQLite::Statement& q)
{
    std::vector<Journal::Behind> out;
    while (q.executeStep()) {
        Journal::Behind item{read_seen(q), std::nullopt};
        if (!q.isColumnNull(8)) {
            item.working = read_working(q, 7);
        }
        out.push_back(std::move(item));
    }
    return out;
}


// Runs `body`, turning the journal's failures into the working folder's: 507 for a full disk (or
// the process's file-size limit), 500 otherwise.
template <class F> auto translated(F&& body)
{
    try {
        return body();
    } catch (const SQLite::Exception& e) {
        const auto error = disk::last_error();
        if (e.getErrorCode() == SQLITE_FULL || disk::full(error)) {
            throw NoSpace{};
        }
        throw IoFailure{error.value()};
    }
}

SQLite::Database opened(const std::filesystem::path& file, int busyTimeoutMs)
{
    return translated([&] {
        SQLite::Database db(path_text(file), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_NOFOLLOW,
                            busyTimeoutMs);
        db.exec("PRAGMA journal_mode = WAL");
        db.exec("PRAGMA synchronous = FULL");
        db.exec(schema);
        // Starts the log empty, so that a folder near its disk's limits meets them with its
        // transfers, not with the journal's bookkeeping.
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        return db;
    });
}

} // namespace

Journal::Journal(const std::filesystem::path& file, std::string userId, int busyTimeoutMs)
    : user_(std::move(userId)), db_(opened(file, busyTimeoutMs))
{
}

template <class F> auto Journal::locked(F&& body)
{
    const std::lock_guard lock(mutex_);
    return translated(std::forward<F>(body));
}

std::optional<WorkingRow> Journal::working(const std::string& fileId)
{
    return locked([&]() -> std::optional<WorkingRow> {
        auto q = bound(db_, "SELECT path, revision, blob, size, mtime FROM working WHERE user_id = ? AND file_id = ?",
                       user_, fileId);
        return q.executeStep() ? std::optional(read_working(q, 0)) : std::nullopt;
    });
}

std::optional<std::pair<std::string, WorkingRow>> Journal::working_at(const std::string& path)
{
    return locked([&]() -> std::optional<std::pair<std::string, WorkingRow>> {
        auto q = bound(db_,
                       "SELECT file_id, path, revision, blob, size, mtime FROM working WHERE user_id = ? AND path = ?",
                       user_, path);
        return q.executeStep() ? std::optional(std::pair{q.getColumn(0).getString(), read_working(q, 1)})
                               : std::nullopt;
    });
}

void Journal::set_working(const std::string& fileId, const std::optional<WorkingRow>& row)
{
    locked([&] {
        if (!row) {
            bound(db_, "DELETE FROM working WHERE user_id = ? AND file_id = ?", user_, fileId).exec();
            return;
        }
        bound(db_, "INSERT OR REPLACE INTO working VALUES(?, ?, ?, ?, ?, ?, ?)", user_, fileId, row->path,
              row->revision, row->blob, row->size, row->mtime)
            .exec();
    });
}

bool Journal::first_notice(const std::string& fileId, std::int64_t revision, Notice kind)
{
    return locked([&] {
        return bound(db_, "INSERT OR IGNORE INTO notices VALUES(?, ?, ?, ?)", user_, fileId, revision,
                     static_cast<int>(kind))
                   .exec() == 1;
    });
}

std::vector<QueuedUpload> Journal::queued()
{
    return locked([&] {
        auto q = bound(db_, "SELECT space_id, path, unlock FROM upload_queue WHERE user_id = ? ORDER BY rowid", user_);
        std::vector<QueuedUpload> out;
        while (q.executeStep()) {
            out.push_back({q.getColumn(0).getString(), q.getColumn(1).getString(), q.getColumn(2).getInt() != 0});
        }
        return out;
    });
}

void Journal::queue(const QueuedUpload& upload)
{
    locked([&] {
        bound(db_,
              "INSERT INTO upload_queue VALUES(?, ?, ?, ?) ON CONFLICT DO UPDATE SET unlock = max(unlock, "
              "excluded.unlock)",
              user_, upload.spaceId, upload.path, upload.unlock ? 1 : 0)
            .exec();
    });
}

void Journal::unqueue(const QueuedUpload& upload)
{
    locked([&] {
        bound(db_, "DELETE FROM upload_queue WHERE user_id = ? AND space_id = ? AND path = ?", user_, upload.spaceId,
              upload.path)
            .exec();
    });
}

void Journal::follow(const std::string& spaceId, const std::function<std::vector<FileRow>(std::int64_t)>& changes)
{
    const auto after = locked([&] {
        auto q = bound(db_, "SELECT seq FROM cursors WHERE space_id = ?", spaceId);
        return q.executeStep() ? q.getColumn(0).getInt64() : std::int64_t{0};
    });
    const auto changed = changes(after);
    if (changed.empty()) {
        return;
    }
    locked([&] {
        SQLite::Transaction transaction(db_, SQLite::TransactionBehavior::IMMEDIATE);
        std::int64_t newest = after;
        // Prepared once: a first follow of a space takes every one of its files.
        SQLite::Statement insert(db_, "INSERT OR REPLACE INTO seen VALUES(?, ?, ?, ?, ?, ?, ?)");
        for (const auto& file : changed) {
            SQLite::bind(insert, file.id, spaceId, file.path, file.revision, file.blob, file.size,
                         file.deleted ? 1 : 0);
            insert.exec();
            insert.reset();
            newest = std::max(newest, file.seq);
        }
        // Only forward: another process of the folder may have followed further meanwhile.
        bound(db_,
              "INSERT INTO cursors VALUES(?, ?) ON CONFLICT(space_id) DO UPDATE SET seq = max(seq, excluded.seq)",
              spaceId, newest)
            .exec();
        transaction.commit();
    });
}

std::vector<Journal::Behind> Journal::behind(const std::string& spaceId)
{
    return locked([&] {
        auto q = bound(db_,
                       VYR_SEEN_AND_WORKING "LEFT JOIN working w ON w.file_id = s.file_id AND w.user_id = ? "
                                            "WHERE s.space_id = ? AND ((" VYR_LIVE_BEHIND ") OR (s.deleted = 1 AND "
                                            "w.revision IS NOT NULL)) ORDER BY s.path",
                       user_, spaceId);
        return read_behind(q);
    });
}

std::vector<Journal::Behind> Journal::agreed(const std::string& spaceId)
{
    return locked([&] {
        auto q = bound(db_,
                       VYR_SEEN_AND_WORKING "JOIN working w ON w.file_id = s.file_id AND w.user_id = ? "
                                            "WHERE s.space_id = ? AND " VYR_AGREED " ORDER BY s.path",
                       user_, spaceId);
        return read_behind(q);
    });
}

Journal::Count Journal::left(const std::string& spaceId)
{
    return locked([&] {
        auto q = bound(db_,
                       "SELECT count(*), coalesce(sum(s.size), 0) FROM seen s LEFT JOIN working w ON w.file_id = "
                       "s.file_id AND w.user_id = ? WHERE s.space_id = ? AND " VYR_LIVE_BEHIND,
                       user_, spaceId);
        q.executeStep();
        return Count{q.getColumn(0).getInt64(), q.getColumn(1).getInt64()};
    });
}

std::vector<Journal::Sized> Journal::sized(const char* sql, const std::string& spaceId)
{
    return locked([&] {
        auto q = bound(db_, sql, user_, spaceId);
        std::vector<Sized> out;
        while (q.executeStep()) {
            out.emplace_back(q.getColumn(0).getString(), q.getColumn(1).getInt64());
        }
        return out;
    });
}

std::vector<Journal::Sized> Journal::left_sizes(const std::string& spaceId)
{
    return sized("SELECT s.path, s.size FROM seen s LEFT JOIN working w ON w.file_id = s.file_id AND w.user_id = ? "
                 "WHERE s.space_id = ? AND " VYR_LIVE_BEHIND,
                 spaceId);
}

std::vector<Journal::Sized> Journal::agreed_sizes(const std::string& spaceId)
{
    return sized("SELECT s.path, s.size FROM seen s JOIN working w ON w.file_id = s.file_id AND w.user_id = ? "
                 "WHERE s.space_id = ? AND " VYR_AGREED,
                 spaceId);
}

bool Journal::took_over(const std::string& spaceId)
{
    return locked([&] {
        return bound(db_, "SELECT 1 FROM taken_over WHERE user_id = ? AND space_id = ?", user_, spaceId).executeStep();
    });
}

void Journal::take_over(const std::string& spaceId, const domain::Records::FolderRows& rows)
{
    locked([&] {
        SQLite::Transaction transaction(db_, SQLite::TransactionBehavior::IMMEDIATE);
        for (const auto& [fileId, row] : rows.working) {
            bound(db_, "INSERT OR IGNORE INTO working VALUES(?, ?, ?, ?, ?, ?, ?)", user_, fileId, row.path,
                  row.revision, row.blob, row.size, row.mtime)
                .exec();
        }
        for (const auto& upload : rows.queue) {
            bound(db_, "INSERT OR IGNORE INTO upload_queue VALUES(?, ?, ?, ?)", user_, upload.spaceId, upload.path,
                  upload.unlock ? 1 : 0)
                .exec();
        }
        for (const auto& notice : rows.notices) {
            bound(db_, "INSERT OR IGNORE INTO notices VALUES(?, ?, ?, ?)", user_, notice.fileId, notice.revision,
                  notice.kind)
                .exec();
        }
        bound(db_, "INSERT OR IGNORE INTO taken_over VALUES(?, ?)", user_, spaceId).exec();
        transaction.commit();
    });
}

} // namespace vyr::cld::local
