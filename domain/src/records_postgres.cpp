#include "content_files.h"
#include "sha256_state.h"

#include <vyr/cld/domain/folders.h>
#include <vyr/cld/domain/names.h>
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/domain/sha256.h>

#include <libpq-fe.h>
#include <pqxx/pqxx>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <random>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace vyr::cld::domain {
namespace {

// Forward migrations: entry N takes the schema from version N to N + 1. Never edit an entry that
// has shipped; add one. Text that is sorted for an answer is compared byte by byte (COLLATE "C"),
// as SQLite compares it, whatever the database's locale.
constexpr std::array<const char*, 11> migrations{
    R"sql(
CREATE TABLE tenants(id TEXT PRIMARY KEY, unique_id TEXT NOT NULL UNIQUE, display_name TEXT NOT NULL,
    enabled BOOLEAN NOT NULL, provider_id TEXT NOT NULL, organization_id TEXT NOT NULL);
CREATE TABLE users(id TEXT PRIMARY KEY, display_name TEXT NOT NULL, principal_name TEXT NOT NULL);
CREATE TABLE tenant_members(user_id TEXT NOT NULL REFERENCES users(id), tenant_id TEXT NOT NULL REFERENCES tenants(id),
    PRIMARY KEY(user_id, tenant_id));
CREATE TABLE tokens(id TEXT PRIMARY KEY, user_id TEXT NOT NULL REFERENCES users(id), hash TEXT NOT NULL UNIQUE,
    created BIGINT NOT NULL, revoked BIGINT);
CREATE TABLE projects(id TEXT PRIMARY KEY, tenant_id TEXT NOT NULL REFERENCES tenants(id), name TEXT NOT NULL,
    number TEXT NOT NULL, crs TEXT NOT NULL, created BIGINT NOT NULL);
CREATE UNIQUE INDEX projects_number ON projects(tenant_id, number) WHERE number <> '';
CREATE TABLE project_roles(user_id TEXT NOT NULL REFERENCES users(id), project_id TEXT NOT NULL REFERENCES projects(id),
    admin BOOLEAN NOT NULL, PRIMARY KEY(user_id, project_id));
CREATE TABLE spaces(id TEXT PRIMARY KEY, kind SMALLINT NOT NULL, project_id TEXT REFERENCES projects(id),
    owner_id TEXT REFERENCES users(id), name TEXT NOT NULL, version_major INTEGER NOT NULL,
    changes BIGINT NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX spaces_partition_name ON spaces(project_id, name) WHERE kind = 0;
CREATE UNIQUE INDEX spaces_user_directory ON spaces(owner_id, version_major) WHERE kind = 1;
CREATE TABLE files(id TEXT PRIMARY KEY, space_id TEXT NOT NULL REFERENCES spaces(id), path TEXT NOT NULL,
    path_key TEXT NOT NULL, revision BIGINT NOT NULL, blob TEXT NOT NULL, size BIGINT NOT NULL,
    deleted BOOLEAN NOT NULL, lock_user TEXT REFERENCES users(id), lock_time BIGINT, seq BIGINT NOT NULL);
CREATE UNIQUE INDEX files_live_path ON files(space_id, path_key) WHERE NOT deleted;
CREATE INDEX files_path ON files(space_id, path_key);
CREATE INDEX files_seq ON files(space_id, seq);
CREATE INDEX files_lock ON files(lock_user) WHERE lock_user IS NOT NULL;
CREATE TABLE revisions(file_id TEXT NOT NULL REFERENCES files(id), revision BIGINT NOT NULL, path TEXT NOT NULL,
    blob TEXT NOT NULL, size BIGINT NOT NULL, deleted BOOLEAN NOT NULL, author TEXT NOT NULL REFERENCES users(id),
    time BIGINT NOT NULL, seq BIGINT NOT NULL, PRIMARY KEY(file_id, revision));
CREATE TABLE file_tags(file_id TEXT NOT NULL REFERENCES files(id), project_id TEXT NOT NULL REFERENCES projects(id),
    category TEXT NOT NULL, name TEXT NOT NULL, PRIMARY KEY(file_id, project_id, category, name));
CREATE TABLE events(seq BIGSERIAL PRIMARY KEY, user_id TEXT NOT NULL, type INTEGER NOT NULL,
    status INTEGER NOT NULL, response_id TEXT NOT NULL, time BIGINT NOT NULL);
CREATE INDEX events_user ON events(user_id, seq);
CREATE TABLE road_contracts(project_id TEXT NOT NULL REFERENCES projects(id), contract_id TEXT NOT NULL,
    name TEXT NOT NULL, PRIMARY KEY(project_id, contract_id));
CREATE TABLE model_updates(id TEXT PRIMARY KEY, project_id TEXT NOT NULL REFERENCES projects(id),
    user_id TEXT NOT NULL REFERENCES users(id), dimensions INTEGER NOT NULL, epsg INTEGER NOT NULL,
    description TEXT NOT NULL, logical_id TEXT NOT NULL, offset_x DOUBLE PRECISION NOT NULL,
    offset_y DOUBLE PRECISION NOT NULL, created BIGINT NOT NULL);
CREATE TABLE model_update_files(update_id TEXT NOT NULL REFERENCES model_updates(id),
    file_id TEXT NOT NULL REFERENCES files(id), PRIMARY KEY(update_id, file_id));
CREATE TABLE include_folders(project_id TEXT NOT NULL REFERENCES projects(id), folder TEXT NOT NULL,
    PRIMARY KEY(project_id, folder));
CREATE TABLE blobs(hash TEXT PRIMARY KEY, size BIGINT NOT NULL DEFAULT 0, whole BOOLEAN NOT NULL DEFAULT FALSE);
CREATE TABLE blob_chunks(hash TEXT NOT NULL REFERENCES blobs(hash) ON DELETE CASCADE, start BIGINT NOT NULL,
    bytes BYTEA NOT NULL, PRIMARY KEY(hash, start));
)sql",
    // Browser sessions of the web pages, kept by the SHA-256 of their id so that any process
    // serving the database knows them and a copy of the table signs nobody in; each lasts only as
    // long as the token it was started with. And the updates of a project, listed by it.
    R"sql(
CREATE TABLE web_sessions(hash TEXT PRIMARY KEY, token_id TEXT NOT NULL REFERENCES tokens(id), csrf TEXT NOT NULL,
    expires BIGINT NOT NULL);
CREATE INDEX web_sessions_expires ON web_sessions(expires);
CREATE INDEX model_updates_project ON model_updates(project_id, created);
)sql",
    // The digest's state after each chunk, so that finishing a blob reads no bytes back; NULL for
    // the chunks stored before.
    // When an unfinished upload last took a chunk, so that one abandoned can be dropped. Chunks
    // are compressed with lz4 where the database has it: pglz took several times as long as the
    // rest of storing a chunk of text.
    R"sql(
ALTER TABLE blob_chunks ADD COLUMN state BYTEA;
ALTER TABLE blobs ADD COLUMN touched BIGINT;
DO $$ BEGIN
    ALTER TABLE blob_chunks ALTER COLUMN bytes SET COMPRESSION lz4;
EXCEPTION WHEN feature_not_supported THEN NULL;
END $$;
)sql",
    // A model update's files in the order the host gave them; those recorded before read in the
    // order of their ids, as they always did.
    R"sql(
ALTER TABLE model_update_files ADD COLUMN position INTEGER NOT NULL DEFAULT 0;
)sql",
    // When an administrator disabled a user: while set, the user's tokens and sessions name nobody,
    // and they come back as they were once it is cleared.
    R"sql(
ALTER TABLE users ADD COLUMN disabled BIGINT;
)sql",
    // An upload belongs to its uploader: blobs and their chunks are keyed by (owner, hash), so that
    // nobody reaches another user's upload by its hash. The owner of an unfinished upload is not
    // known, so those are dropped (their clients start again, as after gc); the whole blobs kept
    // belong to nobody ('') and are read through the revisions that name them, found by hash.
    R"sql(
DELETE FROM blobs WHERE NOT whole;
ALTER TABLE blob_chunks DROP CONSTRAINT blob_chunks_hash_fkey;
ALTER TABLE blob_chunks DROP CONSTRAINT blob_chunks_pkey;
ALTER TABLE blobs DROP CONSTRAINT blobs_pkey;
ALTER TABLE blobs ADD COLUMN owner TEXT NOT NULL DEFAULT '';
ALTER TABLE blobs ALTER COLUMN owner DROP DEFAULT;
ALTER TABLE blob_chunks ADD COLUMN owner TEXT NOT NULL DEFAULT '';
ALTER TABLE blob_chunks ALTER COLUMN owner DROP DEFAULT;
ALTER TABLE blobs ADD PRIMARY KEY(owner, hash);
ALTER TABLE blob_chunks ADD PRIMARY KEY(owner, hash, start);
ALTER TABLE blob_chunks ADD FOREIGN KEY(owner, hash) REFERENCES blobs(owner, hash) ON DELETE CASCADE;
CREATE INDEX blobs_whole ON blobs(hash, owner) WHERE whole;
CREATE INDEX revisions_blob ON revisions(blob);
)sql",
    // The requests a client may send again: a key's row is written with the request's change, its
    // answer (status NULL until then) right after.
    R"sql(
CREATE TABLE request_keys(user_id TEXT NOT NULL, key TEXT NOT NULL, created BIGINT NOT NULL, status INTEGER,
    content_type TEXT, body TEXT, PRIMARY KEY(user_id, key));
CREATE INDEX request_keys_created ON request_keys(created);
)sql",
    // The chunks of the uploads of the content store on a file system: where the chunk table
    // keeps a chunk's bytes, a row names the file that holds them.
    R"sql(
CREATE TABLE blob_parts(owner TEXT NOT NULL, hash TEXT NOT NULL, start BIGINT NOT NULL, length BIGINT NOT NULL,
    name TEXT NOT NULL, PRIMARY KEY(owner, hash, start),
    FOREIGN KEY(owner, hash) REFERENCES blobs(owner, hash) ON DELETE CASCADE);
)sql",
    // Folders with their counts, and each file's folder, name order and time, so that a folder's
    // page reads what it shows. The keys and counts of the files stored before are filled in after
    // this, by the same rules that keep them (see fill_folders).
    R"sql(
ALTER TABLE files ADD COLUMN folder_key TEXT NOT NULL DEFAULT '';
ALTER TABLE files ADD COLUMN name_key TEXT COLLATE "C" NOT NULL DEFAULT '';
ALTER TABLE files ADD COLUMN changed BIGINT NOT NULL DEFAULT 0;
UPDATE files SET changed = coalesce((SELECT max(r.time) FROM revisions r WHERE r.file_id = files.id), 0);
CREATE TABLE folders(space_id TEXT NOT NULL REFERENCES spaces(id), key TEXT NOT NULL, parent TEXT NOT NULL,
    path TEXT NOT NULL, name_key TEXT COLLATE "C" NOT NULL, files BIGINT NOT NULL, direct BIGINT NOT NULL,
    PRIMARY KEY(space_id, key));
CREATE INDEX folders_parent ON folders(space_id, parent, name_key);
CREATE INDEX files_folder_name ON files(space_id, folder_key, name_key) WHERE NOT deleted;
CREATE INDEX files_folder_size ON files(space_id, folder_key, size, name_key) WHERE NOT deleted;
CREATE INDEX files_folder_changed ON files(space_id, folder_key, changed, name_key) WHERE NOT deleted;
CREATE INDEX files_folder_revision ON files(space_id, folder_key, revision, name_key) WHERE NOT deleted;
CREATE INDEX files_path_bytes ON files(space_id, path_key COLLATE "C") WHERE NOT deleted;
CREATE INDEX files_locked ON files(space_id, lock_time) WHERE lock_user IS NOT NULL;
)sql",
    // The activity history people read, kept apart from the events the desktop host takes: each
    // space keeps its newest entries (see activity_per_space), so ids go by space and by person.
    R"sql(
CREATE TABLE activity(id BIGSERIAL PRIMARY KEY, time BIGINT NOT NULL, kind SMALLINT NOT NULL, actor_id TEXT NOT NULL,
    subject_id TEXT, project_id TEXT, space_id TEXT NOT NULL, file_id TEXT NOT NULL, path TEXT NOT NULL,
    old_path TEXT NOT NULL, revision BIGINT NOT NULL, size BIGINT NOT NULL, reason TEXT NOT NULL);
CREATE INDEX activity_space ON activity(space_id, id);
CREATE INDEX activity_project ON activity(project_id, id) WHERE project_id IS NOT NULL;
CREATE INDEX activity_actor ON activity(actor_id, id);
CREATE INDEX activity_subject ON activity(subject_id, id) WHERE subject_id IS NOT NULL;
CREATE TABLE activity_spaces(space_id TEXT PRIMARY KEY, entries BIGINT NOT NULL);
)sql",
    // One counter that every change able to end a token's or a session's use counts up, in the
    // same transaction, so that a server that keeps credentials at hand learns of it with the
    // next request's first statement. Triggers count every such change, whoever makes it.
    R"sql(
CREATE TABLE credentials_epoch(one BOOLEAN PRIMARY KEY DEFAULT TRUE CHECK(one), n BIGINT NOT NULL);
INSERT INTO credentials_epoch VALUES(TRUE, 0);
CREATE FUNCTION credentials_changed() RETURNS trigger LANGUAGE plpgsql AS $$
BEGIN
    IF EXISTS (SELECT 1 FROM changed) THEN
        UPDATE credentials_epoch SET n = n + 1;
    END IF;
    RETURN NULL;
END $$;
DO $$
DECLARE
    t TEXT;
    e TEXT;
BEGIN
    FOREACH t IN ARRAY ARRAY['tokens', 'users', 'web_sessions'] LOOP
        FOREACH e IN ARRAY ARRAY['UPDATE', 'DELETE'] LOOP
            EXECUTE format('CREATE TRIGGER %I AFTER %s ON %I REFERENCING OLD TABLE AS changed '
                           'FOR EACH STATEMENT EXECUTE FUNCTION credentials_changed()',
                           t || '_' || lower(e) || 'd', e, t);
        END LOOP;
    END LOOP;
END $$;
)sql",
};
// The schema from which files carry their folders.
constexpr int folders_version = 9;

constexpr SqlDialect postgres_dialect{'$', "strpos", " COLLATE \"C\"", "NOT f.deleted"};

// Adds a change to a folder's counts; a folder with no live file beneath it is no more.
void count_folder(pqxx::transaction_base& tx, const std::string& spaceId, const FolderDelta& d)
{
    tx.exec_params("INSERT INTO folders VALUES($1, $2, $3, $4, $5, $6, $7) ON CONFLICT(space_id, key) DO UPDATE SET "
                   "path = excluded.path, files = folders.files + excluded.files, "
                   "direct = folders.direct + excluded.direct",
                   spaceId, d.key, d.parent, d.path, d.nameKey, d.files, d.direct);
    tx.exec_params("DELETE FROM folders WHERE space_id = $1 AND key = $2 AND files <= 0", spaceId, d.key);
}

// The folders of the files a store held before it kept them.
void fill_folders(pqxx::transaction_base& tx)
{
    FolderTally tally;
    for (const auto& r : tx.exec("SELECT id, space_id, path FROM files WHERE NOT deleted")) {
        const auto path = r[2].as<std::string>();
        const auto place = folder_place(path);
        tx.exec_params("UPDATE files SET folder_key = $1, name_key = $2 WHERE id = $3", place.folderKey,
                       place.nameKey, r[0].as<std::string>());
        tally.add(r[1].as<std::string>(), path);
    }
    for (const auto& [at, delta] : tally.folders()) {
        count_folder(tx, at.first, delta);
    }
}

// Any number of processes may migrate at once: the first to take this lock migrates, the others
// then find nothing to do.
constexpr long migration_lock = 0x7679722d636c64; // "vyr-cld"

Millis now_millis()
{
    return to_millis(std::chrono::system_clock::now());
}

std::string sha256_hex(const std::string& text)
{
    Sha256 hasher;
    hasher.add(text);
    return hasher.hex();
}

bool is_sha256_hex(std::string_view text)
{
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The connection string with bounds on every wait for the database's host: connecting, and a host
// that falls silent later (gone from the network, not just shut down) is given up on within about
// 30 s by TCP keepalives and by the bound on data it never acknowledges.
std::string with_timeouts(const std::string& url, std::chrono::seconds connectTimeout)
{
    const std::vector<std::pair<std::string_view, std::string>> options{
        {"connect_timeout", std::to_string(std::max<std::int64_t>(1, connectTimeout.count()))},
        {"keepalives", "1"},
        {"keepalives_idle", "10"},
        {"keepalives_interval", "5"},
        {"keepalives_count", "4"},
        {"tcp_user_timeout", "30000"},
    };
    const bool uri = url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0;
    auto out = url;
    for (const auto& [name, value] : options) {
        if (uri) {
            out += out.find('?') == std::string::npos ? "?" : "&";
        } else if (!out.empty()) {
            out += ' ';
        }
        out += std::string(name) + "=" + value;
    }
    return out;
}

// A failure of PostgreSQL's, as the store's callers know failures: the database out of reach, a
// full disk, or a store that cannot be used. The server's message names no value of a token or a
// file's content, which never reach a statement as text.
[[noreturn]] void raise_translated(const pqxx::sql_error& e)
{
    if (e.sqlstate() == "53100") {
        throw StoreFull{};
    }
    // Too many connections, a row held past the lock timeout, the server shutting down or
    // starting: it may be back soon.
    if (e.sqlstate() == "53300" || e.sqlstate() == "55P03" || e.sqlstate().rfind("57P", 0) == 0) {
        throw StoreUnavailable(e.what());
    }
    throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                               std::string("The store cannot be used: ") + e.what());
}

int schema_version(pqxx::transaction_base& tx)
{
    const auto exists = tx.exec("SELECT to_regclass('schema_version') IS NOT NULL")[0][0].as<bool>();
    if (!exists) {
        return 0;
    }
    return tx.exec("SELECT coalesce(max(version), 0) FROM schema_version")[0][0].as<int>();
}

} // namespace

// The pool's insides, for the stores of this file.
struct PostgresPool::State {
    PostgresSettings settings;
    std::string conninfo;
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<std::unique_ptr<pqxx::connection>> idle;
    int open = 0;
    int inUse = 0;
};

struct PostgresAccess {
    using State = PostgresPool::State;
    static State& state(const PostgresPool& pool) { return *pool.state_; }
};

// Tokens and sessions by the SHA-256 of their secret, each with the credentials counter it was
// read at. An entry read before the newest counter seen is stale.
struct PostgresAccounts::Cache {
    using Clock = std::chrono::steady_clock;
    struct Entry {
        UserRow user;
        std::string csrf;
        Millis expires = 0; // a session's end
        std::int64_t epoch = 0;
        Clock::time_point until;
    };
    using Map = std::unordered_map<std::string, Entry>;

    CredentialCacheSettings settings;
    std::mutex mutex;
    Map tokens, sessions;
    std::int64_t epoch = 0;
    std::atomic<std::uint64_t> hits{0}, misses{0};

    std::optional<Entry> find(Map& map, const std::string& hash)
    {
        const std::lock_guard lock(mutex);
        const auto found = map.find(hash);
        if (found == map.end()) {
            ++misses;
            return std::nullopt;
        }
        if (found->second.epoch < epoch || Clock::now() >= found->second.until) {
            map.erase(found);
            ++misses;
            return std::nullopt;
        }
        ++hits;
        return found->second;
    }
    void put(Map& map, const std::string& hash, Entry entry)
    {
        const std::lock_guard lock(mutex);
        if (entry.epoch < epoch) {
            return;
        }
        seen(entry.epoch);
        entry.until = Clock::now() + settings.lifetime;
        if (map.size() >= settings.entries && !map.contains(hash)) {
            std::erase_if(map, [now = Clock::now()](const auto& e) { return now >= e.second.until; });
            if (map.size() >= settings.entries) {
                map.erase(map.begin());
            }
        }
        map.insert_or_assign(hash, std::move(entry));
    }
    void drop(Map& map, const std::string& hash)
    {
        const std::lock_guard lock(mutex);
        map.erase(hash);
    }
    // A newer counter: every entry read before it goes.
    void saw(std::int64_t newer)
    {
        const std::lock_guard lock(mutex);
        seen(newer);
    }

private:
    void seen(std::int64_t newer)
    {
        if (newer > epoch) {
            epoch = newer;
            tokens.clear();
            sessions.clear();
        }
    }
};

namespace {

// The check of the cached credentials of the request this thread serves, while it has one.
struct CredentialGuard {
    enum class State { pending, confirmed, refused };
    const PostgresPool* pool = nullptr;
    std::shared_ptr<PostgresAccounts::Cache> cache;
    std::int64_t epoch = 0;
    State state = State::pending;
};
thread_local CredentialGuard* credentialGuard = nullptr;

std::int64_t credentials_epoch(pqxx::transaction_base& tx)
{
    return tx.exec("SELECT n FROM credentials_epoch")[0][0].as<std::int64_t>();
}

// The first statement of every transaction of a request let in from the cache: nothing it does
// stands on credentials revoked since they were read.
void check_credentials(const PostgresPool& pool, pqxx::transaction_base& tx)
{
    auto* guard = credentialGuard;
    if (!guard || guard->pool != &pool || guard->state == CredentialGuard::State::confirmed) {
        return;
    }
    if (guard->state == CredentialGuard::State::pending) {
        const auto epoch = credentials_epoch(tx);
        if (epoch == guard->epoch) {
            guard->state = CredentialGuard::State::confirmed;
            return;
        }
        guard->state = CredentialGuard::State::refused;
        guard->cache->saw(epoch);
    }
    throw CredentialsChanged{};
}

using Writing = pqxx::transaction<pqxx::read_committed, pqxx::read_write>;
using Snapshot = pqxx::transaction<pqxx::repeatable_read, pqxx::read_only>;

// A connection lent by the pool; given back when the lease ends, or dropped when it broke.
class Lease {
public:
    explicit Lease(PostgresAccess::State& pool) : pool_(pool)
    {
        std::unique_lock lock(pool_.mutex);
        const auto until = std::chrono::steady_clock::now() + pool_.settings.acquireTimeout;
        if (!pool_.freed.wait_until(lock, until,
                                    [&] { return !pool_.idle.empty() || pool_.open < pool_.settings.poolSize; })) {
            throw StoreUnavailable("no connection came free in time");
        }
        ++pool_.inUse;
        if (!pool_.idle.empty()) {
            connection_ = std::move(pool_.idle.back());
            pool_.idle.pop_back();
            return;
        }
        ++pool_.open;
        lock.unlock();
        try {
            connection_ = std::make_unique<pqxx::connection>(pool_.conninfo);
            // No call waits without end on a row that another process holds, nor does a process
            // that stalled in a transaction (or died without closing its socket) hold rows for long.
            connection_->set_variable("lock_timeout", std::to_string(pool_.settings.lockTimeout.count()));
            connection_->set_variable("idle_in_transaction_session_timeout", "60000");
            Snapshot tx(*connection_);
            const auto version = schema_version(tx);
            if (version != static_cast<int>(migrations.size())) {
                throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                           "The store's database is at schema version " + std::to_string(version) +
                                               ", not " + std::to_string(migrations.size()) + ": migrate it first.");
            }
        } catch (...) {
            connection_.reset();
            give_back();
            try {
                throw;
            } catch (const pqxx::broken_connection& e) {
                throw StoreUnavailable(e.what());
            } catch (const pqxx::sql_error& e) {
                raise_translated(e);
            }
        }
    }
    ~Lease() { give_back(); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    pqxx::connection& connection() { return *connection_; }

    // The connection broke: drop it, and the idle ones, which most likely broke with it.
    void broken()
    {
        connection_.reset();
        const std::lock_guard lock(pool_.mutex);
        pool_.open -= static_cast<int>(pool_.idle.size());
        pool_.idle.clear();
    }

private:
    void give_back()
    {
        if (done_) {
            return;
        }
        done_ = true;
        {
            const std::lock_guard lock(pool_.mutex);
            --pool_.inUse;
            if (connection_ && connection_->is_open()) {
                pool_.idle.push_back(std::move(connection_));
            } else {
                --pool_.open;
            }
        }
        pool_.freed.notify_one();
    }

    PostgresAccess::State& pool_;
    std::unique_ptr<pqxx::connection> connection_;
    bool done_ = false;
};

// The id of the write transaction, when it has one: a transaction that wrote nothing (nor locked a
// row) has none, and then its outcome cannot matter.
std::optional<std::string> assigned_xid(pqxx::transaction_base& tx)
{
    const auto row = tx.exec("SELECT pg_current_xact_id_if_assigned()")[0];
    if (row[0].is_null()) {
        return std::nullopt;
    }
    return row[0].as<std::string>();
}

// The connection broke while a COMMIT was on its way: asks a fresh connection what became of the
// transaction, when it had an id (a read, or a write that wrote nothing, has none and nothing to
// lose). Committed returns, so that the operation's answer stands; aborted raises
// StoreUnavailable (nothing was done); anything else raises OutcomeUnknown. A transaction still
// in progress is one whose backend has not yet noticed the lost connection: it is asked again for
// a few seconds.
void settle_commit(PostgresAccess::State& pool, const std::optional<std::string>& xid, const std::string& why)
{
    if (!xid) {
        return;
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    try {
        pqxx::connection connection(pool.conninfo);
        for (;;) {
            pqxx::nontransaction tx(connection);
            const auto row = tx.exec_params("SELECT pg_xact_status($1::xid8)", *xid)[0];
            const auto status = row[0].is_null() ? std::string() : row[0].as<std::string>();
            if (status == "committed") {
                return;
            }
            if (status == "aborted") {
                throw StoreUnavailable("the connection broke during a commit, which the database did not make");
            }
            if (status != "in progress" || std::chrono::steady_clock::now() >= until) {
                break;
            }
            tx.commit();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    } catch (const pqxx::failure&) {
        // No answer: the outcome stays unknown.
    }
    throw OutcomeUnknown("the connection broke during a commit: " + why);
}

// Runs `body` in one transaction on a pooled connection: a consistent read-only snapshot when it
// only reads. A write decides on rows it locks (the file it reads, the blob it writes), so that
// concurrent writers of one row wait for each other and each decides on the row as the one before
// left it, while writers of other rows never meet; serializable isolation instead refused most
// concurrent writers of a busy space for the one change counter they all take. A write that
// PostgreSQL refused (a deadlock, a key another writer took first) runs again, a bounded number
// of times, after a short random pause; a connection found broken before anything was committed
// is replaced and the body runs again.
template <class Body> void in_transaction(PostgresPool& pool, bool write, Body&& body)
{
    auto& state = PostgresAccess::state(pool);
    constexpr int reconnects = 3;
    int refused = 0;
    int broken = 0;
    const auto pause_before_retry = [&](int attempts, const char* why) {
        if (attempts >= state.settings.writeAttempts) {
            throw StoreUnavailable(std::string("too many concurrent writes: ") + why);
        }
        // Apart at random, so that the writers that collided do not collide again.
        thread_local std::minstd_rand jitter{std::random_device{}()};
        const auto pause = std::uniform_int_distribution<int>(0, std::min(50, 2 * attempts))(jitter);
        std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    };
    for (;;) {
        Lease lease(state);
        // The write's transaction id, once it has one, and whether its COMMIT may have been sent:
        // from then on a broken connection says nothing of what the database decided.
        std::optional<std::string> xid;
        bool committing = false;
        try {
            if (write) {
                Writing tx(lease.connection());
                check_credentials(pool, tx);
                body(static_cast<pqxx::transaction_base&>(tx));
                xid = assigned_xid(tx);
                committing = true;
                tx.commit();
            } else {
                Snapshot tx(lease.connection());
                check_credentials(pool, tx);
                body(static_cast<pqxx::transaction_base&>(tx));
                committing = true;
                tx.commit();
            }
            return;
        } catch (const pqxx::in_doubt_error& e) {
            // A read has nothing to commit: what it read stands.
            lease.broken();
            settle_commit(state, xid, e.what());
            return;
        } catch (const pqxx::statement_completion_unknown& e) {
            lease.broken();
            throw StoreUnavailable(e.what());
        } catch (const pqxx::broken_connection& e) {
            lease.broken();
            if (committing) {
                settle_commit(state, xid, e.what());
                return;
            }
            if (++broken >= reconnects) {
                throw StoreUnavailable(e.what());
            }
        } catch (const pqxx::transaction_rollback& e) {
            // Refused for a concurrent write (or a deadlock): it decided nothing, and may decide
            // otherwise on the rows as they are now.
            pause_before_retry(++refused, e.what());
        } catch (const pqxx::unique_violation& e) {
            // A concurrent write took the key first: the same.
            pause_before_retry(++refused, e.what());
        } catch (const pqxx::sql_error& e) {
            raise_translated(e);
        }
    }
}

// Parameters bind as text; these read them back.
std::string text(const pqxx::field& field)
{
    return field.is_null() ? std::string() : field.as<std::string>();
}

TenantRow read_tenant(const pqxx::row& r)
{
    return {text(r[0]), text(r[1]), text(r[2]), text(r[4]), text(r[5]), r[3].as<bool>()};
}
constexpr const char* tenant_columns =
    "SELECT id, unique_id, display_name, enabled, provider_id, organization_id FROM tenants ";

ProjectRow read_project(const pqxx::row& r)
{
    return {text(r[0]), text(r[1]), text(r[2]), text(r[3]), text(r[4])};
}

SpaceRow read_space(const pqxx::row& r)
{
    SpaceRow space;
    space.id = text(r[0]);
    space.kind = r[1].as<int>() == 0 ? SpaceRow::Kind::Partition : SpaceRow::Kind::UserDirectory;
    space.projectId = text(r[2]);
    space.ownerId = text(r[3]);
    space.name = text(r[4]);
    space.versionMajor = r[5].as<int>();
    return space;
}

#define VYR_PG_SPACE_COLUMNS "SELECT id, kind, project_id, owner_id, name, version_major FROM spaces "
#define VYR_PG_FILE_COLUMNS                                                                                          \
    "SELECT f.id, f.space_id, f.path, f.revision, f.blob, f.size, f.deleted, f.lock_user, u.display_name, "         \
    "u.principal_name, f.lock_time, f.seq, f.changed FROM files f LEFT JOIN users u ON u.id = f.lock_user "

FileRow read_file(const pqxx::row& r)
{
    FileRow file;
    file.id = text(r[0]);
    file.spaceId = text(r[1]);
    file.path = text(r[2]);
    file.revision = r[3].as<std::int64_t>();
    file.blob = text(r[4]);
    file.size = r[5].as<std::int64_t>();
    file.deleted = r[6].as<bool>();
    if (!r[7].is_null()) {
        file.lock = LockRow{{text(r[7]), text(r[8]), text(r[9])}, r[10].as<std::int64_t>()};
    }
    file.seq = r[11].as<std::int64_t>();
    file.changed = r[12].as<std::int64_t>();
    return file;
}

#define VYR_PG_REVISION_COLUMNS                                                                                      \
    "SELECT r.revision, r.path, r.author, u.display_name, u.principal_name, r.time, r.size, r.blob, r.file_id, "     \
    "r.deleted FROM revisions r LEFT JOIN users u ON u.id = r.author "

RevisionRow read_revision(const pqxx::row& r)
{
    return {r[0].as<std::int64_t>(), text(r[1]), {text(r[2]), text(r[3]), text(r[4])}, r[5].as<std::int64_t>(),
            r[6].as<std::int64_t>(), text(r[7]), r[9].as<bool>()};
}

#define VYR_PG_ACTIVITY_COLUMNS                                                                                      \
    "SELECT a.id, a.time, a.kind, a.actor_id, ua.display_name, ua.principal_name, a.subject_id, us.display_name, "   \
    "us.principal_name, a.project_id, p.name, a.space_id, s.name, a.file_id, a.path, a.old_path, a.revision, "      \
    "a.size, a.reason FROM activity a LEFT JOIN users ua ON ua.id = a.actor_id LEFT JOIN users us ON us.id = "      \
    "a.subject_id LEFT JOIN projects p ON p.id = a.project_id LEFT JOIN spaces s ON s.id = a.space_id "

ActivityRow read_activity(const pqxx::row& r)
{
    ActivityRow a;
    a.id = r[0].as<std::int64_t>();
    a.time = r[1].as<std::int64_t>();
    a.kind = static_cast<ActivityKind>(r[2].as<int>());
    a.actor = {text(r[3]), text(r[4]), text(r[5])};
    if (!r[6].is_null()) {
        a.subject = UserRow{text(r[6]), text(r[7]), text(r[8])};
    }
    a.projectId = text(r[9]);
    a.projectName = text(r[10]);
    a.spaceId = text(r[11]);
    a.spaceName = text(r[12]);
    a.fileId = text(r[13]);
    a.path = text(r[14]);
    a.oldPath = text(r[15]);
    a.revision = r[16].as<std::int64_t>();
    a.size = r[17].as<std::int64_t>();
    a.reason = text(r[18]);
    return a;
}

#define VYR_PG_UPDATE_COLUMNS                                                                                        \
    "SELECT id, project_id, dimensions, epsg, description, logical_id, offset_x, offset_y, created FROM "            \
    "model_updates "

ModelUpdateRow read_update(const pqxx::row& r)
{
    return {text(r[0]),        text(r[1]),        r[2].as<int>(), r[3].as<int>(),         text(r[4]), text(r[5]),
            r[6].as<double>(), r[7].as<double>(), {},             r[8].as<std::int64_t>()};
}

template <class Row, class Read> std::vector<Row> all(const pqxx::result& result, Read&& read)
{
    std::vector<Row> out;
    out.reserve(result.size());
    for (const auto& r : result) {
        out.push_back(read(r));
    }
    return out;
}

template <class Row, class Read> std::optional<Row> first(const pqxx::result& result, Read&& read)
{
    if (result.empty()) {
        return std::nullopt;
    }
    return read(result[0]);
}

void grant_role(pqxx::transaction_base& tx, const std::string& userId, const std::string& projectId, Role role)
{
    tx.exec_params("INSERT INTO project_roles VALUES($1, $2, $3) ON CONFLICT(user_id, project_id) "
                   "DO UPDATE SET admin = excluded.admin",
                   userId, projectId, role == Role::Admin);
}

FolderRow read_folder(const pqxx::row& r)
{
    return {text(r[0]), r[1].as<std::int64_t>(), r[2].as<std::int64_t>()};
}

// Content that goes with the next revision naming it, on the thread that serves its request.
struct PendingContent {
    std::string owner, hash;
    std::string bytes;
    bool written = false; // by the current attempt of the transaction
    bool stored = false;  // by a transaction that committed
    PendingContent* previous = nullptr;
};
thread_local PendingContent* pendingContent = nullptr;

// Stores a small blob's bytes as its only chunk, sent binary (defined with the chunk statements).
void insert_first_chunk(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash,
                        std::string_view bytes);

// Makes `bytes` the owner's whole copy of `hash` in the transaction, unless it is whole already.
void store_whole(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash, std::string_view bytes)
{
    const auto size = static_cast<std::int64_t>(bytes.size());
    const bool wholeAlready =
        tx.exec_params("INSERT INTO blobs(owner, hash, size, whole, touched) VALUES($1, $2, $3, TRUE, $4) ON "
                       "CONFLICT(owner, hash) DO UPDATE SET size = excluded.size, whole = TRUE WHERE NOT blobs.whole",
                       owner, hash, size, now_millis())
            .affected_rows() == 0;
    if (wholeAlready) {
        return;
    }
    // What an unfinished upload of it held goes: the bytes are all here.
    tx.exec_params("DELETE FROM blob_chunks WHERE owner = $1 AND hash = $2", owner, hash);
    if (!bytes.empty()) {
        insert_first_chunk(tx, owner, hash, bytes);
    }
}

class PostgresRecords final : public Records {
public:
    PostgresRecords(pqxx::transaction_base& tx, bool write, const PostgresSettings* retention = nullptr)
        : tx_(tx), lock_(write ? " FOR UPDATE OF f" : ""),
          eventMaxAge_(retention ? retention->eventMaxAge : PostgresSettings{}.eventMaxAge),
          eventMaxCount_(retention ? retention->eventMaxCount : PostgresSettings{}.eventMaxCount)
    {
    }

    std::vector<TenantRow> tenants() override
    {
        return all<TenantRow>(tx_.exec(std::string(tenant_columns) + "ORDER BY display_name COLLATE \"C\""),
                              read_tenant);
    }
    std::optional<TenantRow> tenant(const std::string& uniqueId) override
    {
        return first<TenantRow>(tx_.exec_params(std::string(tenant_columns) + "WHERE unique_id = $1", uniqueId),
                                read_tenant);
    }
    void put_user(const UserRow& user) override
    {
        tx_.exec_params("INSERT INTO users VALUES($1, $2, $3) ON CONFLICT(id) DO UPDATE SET display_name = "
                        "excluded.display_name, principal_name = excluded.principal_name WHERE users.display_name "
                        "<> excluded.display_name OR users.principal_name <> excluded.principal_name",
                        user.id, user.displayName, user.principalName);
    }

    bool sees_tenant(const std::string& userId, const std::string& tenantId) override
    {
        return !tx_
                    .exec_params("SELECT 1 FROM tenant_members WHERE user_id = $1 AND tenant_id = $2 UNION ALL "
                                 "SELECT 1 FROM project_roles r JOIN projects p ON p.id = r.project_id "
                                 "WHERE r.user_id = $1 AND p.tenant_id = $2 LIMIT 1",
                                 userId, tenantId)
                    .empty();
    }
    std::optional<Role> role(const std::string& userId, const std::string& projectId) override
    {
        return first<Role>(
            tx_.exec_params("SELECT admin FROM project_roles WHERE user_id = $1 AND project_id = $2", userId,
                            projectId),
            [](const pqxx::row& r) { return r[0].as<bool>() ? Role::Admin : Role::Member; });
    }
    void grant(const std::string& userId, const std::string& projectId, Role role) override
    {
        grant_role(tx_, userId, projectId, role);
    }

    std::vector<ProjectRow> projects(const std::string& tenantId) override
    {
        return all<ProjectRow>(tx_.exec_params("SELECT id, tenant_id, name, number, crs FROM projects WHERE "
                                               "tenant_id = $1 ORDER BY created, id COLLATE \"C\"",
                                               tenantId),
                               read_project);
    }
    std::vector<ListedProject> listed_projects(const std::string& userId, const std::string& tenantId) override
    {
        std::vector<ListedProject> out;
        for (const auto& r : tx_.exec_params(
                 "SELECT p.id, p.tenant_id, p.name, p.number, p.crs, s.id, s.name, s.version_major FROM projects p "
                 "JOIN project_roles o ON o.project_id = p.id AND o.user_id = $2 "
                 "LEFT JOIN spaces s ON s.project_id = p.id AND s.kind = 0 WHERE p.tenant_id = $1 "
                 "ORDER BY p.created, p.id COLLATE \"C\", s.name COLLATE \"C\"",
                 tenantId, userId)) {
            std::optional<SpaceRow> partition;
            if (!r[5].is_null()) {
                partition = SpaceRow{text(r[5]), SpaceRow::Kind::Partition, text(r[0]), {}, text(r[6]), r[7].as<int>()};
            }
            add_listed(out, {text(r[0]), text(r[1]), text(r[2]), text(r[3]), {}}, std::move(partition));
        }
        return out;
    }
    std::optional<ProjectRow> project(const std::string& id) override
    {
        return first<ProjectRow>(
            tx_.exec_params("SELECT id, tenant_id, name, number, crs FROM projects WHERE id = $1", id), read_project);
    }
    bool project_number_taken(const std::string& tenantId, const std::string& number) override
    {
        return !tx_.exec_params("SELECT 1 FROM projects WHERE tenant_id = $1 AND number = $2", tenantId, number)
                    .empty();
    }
    void add_project(const ProjectRow& p, Millis created) override
    {
        tx_.exec_params("INSERT INTO projects VALUES($1, $2, $3, $4, $5, $6)", p.id, p.tenantId, p.name, p.number,
                        p.crs, created);
    }

    std::vector<SpaceRow> partitions(const std::string& projectId) override
    {
        return all<SpaceRow>(tx_.exec_params(VYR_PG_SPACE_COLUMNS
                                             "WHERE kind = 0 AND project_id = $1 ORDER BY name COLLATE \"C\"",
                                             projectId),
                             read_space);
    }
    std::vector<SpaceRow> user_directories(const std::string& ownerId) override
    {
        return all<SpaceRow>(
            tx_.exec_params(VYR_PG_SPACE_COLUMNS "WHERE kind = 1 AND owner_id = $1 ORDER BY version_major", ownerId),
            read_space);
    }
    std::optional<SpaceRow> space(const std::string& id) override
    {
        return first<SpaceRow>(tx_.exec_params(VYR_PG_SPACE_COLUMNS "WHERE id = $1", id), read_space);
    }
    std::optional<SpaceRow> user_directory(const std::string& ownerId, int versionMajor) override
    {
        return first<SpaceRow>(tx_.exec_params(VYR_PG_SPACE_COLUMNS
                                               "WHERE kind = 1 AND owner_id = $1 AND version_major = $2",
                                               ownerId, versionMajor),
                               read_space);
    }
    bool partition_name_taken(const std::string& projectId, const std::string& name) override
    {
        return !tx_.exec_params("SELECT 1 FROM spaces WHERE kind = 0 AND project_id = $1 AND name = $2", projectId,
                                name)
                    .empty();
    }
    void add_space(const SpaceRow& s) override
    {
        const bool partition = s.kind == SpaceRow::Kind::Partition;
        tx_.exec_params("INSERT INTO spaces(id, kind, project_id, owner_id, name, version_major) "
                        "VALUES($1, $2, NULLIF($3, ''), NULLIF($4, ''), $5, $6)",
                        s.id, partition ? 0 : 1, partition ? s.projectId : std::string(),
                        partition ? std::string() : s.ownerId, s.name, s.versionMajor);
    }
    void set_version(const std::string& spaceId, int versionMajor) override
    {
        tx_.exec_params("UPDATE spaces SET version_major = $1 WHERE id = $2", versionMajor, spaceId);
    }

    std::optional<FileRow> file(const std::string& spaceId, const std::string& pathKey) override
    {
        return first<FileRow>(tx_.exec_params(VYR_PG_FILE_COLUMNS "WHERE f.space_id = $1 AND f.path_key = $2 "
                                                                  "ORDER BY f.deleted, f.revision DESC LIMIT 1" +
                                                  lock_,
                                              spaceId, pathKey),
                              read_file);
    }
    std::optional<FileRow> file_by_id(const std::string& id) override
    {
        return first<FileRow>(tx_.exec_params(VYR_PG_FILE_COLUMNS "WHERE f.id = $1" + lock_, id), read_file);
    }
    std::vector<FileRow> files(const std::string& spaceId) override
    {
        return all<FileRow>(
            tx_.exec_params(VYR_PG_FILE_COLUMNS "WHERE f.space_id = $1 ORDER BY f.path COLLATE \"C\"", spaceId),
            read_file);
    }
    void put_revision(const FileRow& f, const std::string& pathKey, const std::string& author, Millis time,
                      std::int64_t& seq) override
    {
        // The change number is taken last (see take_change_numbers); until then the rows hold 0.
        seq = 0;
        pending_.push_back({f.spaceId, f.id, f.revision, &seq});
        const auto before = first<std::string>(
            tx_.exec_params("SELECT path FROM files WHERE id = $1 AND NOT deleted", f.id),
            [](const pqxx::row& r) { return text(r[0]); });
        const auto place = folder_place(f.path);
        tx_.exec_params("INSERT INTO files(id, space_id, path, path_key, revision, blob, size, deleted, seq, "
                        "folder_key, name_key, changed) VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
                        "ON CONFLICT(id) DO UPDATE SET path = excluded.path, path_key = excluded.path_key, revision = "
                        "excluded.revision, blob = excluded.blob, size = excluded.size, deleted = excluded.deleted, "
                        "seq = excluded.seq, folder_key = excluded.folder_key, name_key = excluded.name_key, "
                        "changed = excluded.changed",
                        f.id, f.spaceId, f.path, pathKey, f.revision, f.blob, f.size, f.deleted, seq, place.folderKey,
                        place.nameKey, time);
        tx_.exec_params("INSERT INTO revisions VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9)", f.id, f.revision, f.path,
                        f.blob, f.size, f.deleted, author, time, seq);
        for (const auto& delta : folder_deltas(before ? &*before : nullptr, f.deleted ? nullptr : &f.path)) {
            count_folder(tx_, f.spaceId, delta);
        }
        if (auto* content = pendingContent; content && !content->stored && !content->written &&
                                            content->hash == f.blob && !f.deleted) {
            store_whole(tx_, content->owner, content->hash, content->bytes);
            content->written = true;
        }
    }
    // The space's change numbers of the revisions this transaction put, taken as its last statement
    // before COMMIT. The space's row stays locked from here until the commit, so change numbers are
    // handed out in commit order: a commit that took a number is visible before the next one takes
    // its own, and a reader that saw number N sees every number below it. A reader's cursor thus
    // never skips a change, while the rest of commits to one space (reading and locking their
    // file, checking, writing rows) runs at once.
    void take_change_numbers()
    {
        for (const auto& change : pending_) {
            *change.seq = tx_.exec_params1("WITH counter AS (UPDATE spaces SET changes = changes + 1 WHERE id = $1 "
                                           "RETURNING changes), file AS (UPDATE files SET seq = (SELECT changes "
                                           "FROM counter) WHERE id = $2) UPDATE revisions SET seq = (SELECT changes "
                                           "FROM counter) WHERE file_id = $2 AND revision = $3 RETURNING seq",
                                           change.spaceId, change.fileId, change.revision)[0]
                               .as<std::int64_t>();
        }
        pending_.clear();
    }
    std::vector<FileRow> changes(const std::string& spaceId, std::int64_t after) override
    {
        return all<FileRow>(
            tx_.exec_params(VYR_PG_FILE_COLUMNS "WHERE f.space_id = $1 AND f.seq > $2 ORDER BY f.seq", spaceId, after),
            read_file);
    }
    std::vector<RevisionRow> revisions(const std::string& fileId) override
    {
        return all<RevisionRow>(tx_.exec_params(VYR_PG_REVISION_COLUMNS "WHERE r.file_id = $1 ORDER BY r.revision",
                                                fileId),
                                read_revision);
    }
    std::vector<SpaceRow> spaces_naming(const std::string& blob) override
    {
        return all<SpaceRow>(tx_.exec_params(VYR_PG_SPACE_COLUMNS "WHERE id IN (SELECT f.space_id FROM revisions r "
                                                                  "JOIN files f ON f.id = r.file_id WHERE r.blob = $1)",
                                             blob),
                             read_space);
    }
    std::vector<std::pair<std::string, RevisionRow>> current_revisions(const std::string& spaceId) override
    {
        return all<std::pair<std::string, RevisionRow>>(
            tx_.exec_params(VYR_PG_REVISION_COLUMNS "JOIN files f ON f.id = r.file_id AND f.revision = r.revision "
                                                    "WHERE f.space_id = $1 AND NOT f.deleted",
                            spaceId),
            [](const pqxx::row& r) { return std::pair{text(r[8]), read_revision(r)}; });
    }
    std::optional<FolderRow> folder(const std::string& spaceId, const std::string& key) override
    {
        return first<FolderRow>(
            tx_.exec_params("SELECT path, files, direct FROM folders WHERE space_id = $1 AND key = $2", spaceId, key),
            read_folder);
    }
    std::vector<FolderRow> subfolders(const std::string& spaceId, const std::string& key, std::int64_t offset,
                                      int limit) override
    {
        return all<FolderRow>(tx_.exec_params("SELECT path, files, direct FROM folders WHERE space_id = $1 AND "
                                              "parent = $2 AND key <> '' ORDER BY name_key LIMIT $3 OFFSET $4",
                                              spaceId, key, limit, offset),
                              read_folder);
    }
    std::int64_t subfolder_count(const std::string& spaceId, const std::string& key) override
    {
        return tx_.exec_params1("SELECT count(*) FROM folders WHERE space_id = $1 AND parent = $2 AND key <> ''",
                                spaceId, key)[0]
            .as<std::int64_t>();
    }
    std::vector<FileRow> folder_files(const FolderFiles& q) override
    {
        const auto [from, to] = folder_range(q.folderKey);
        return all<FileRow>(tx_.exec_params(VYR_PG_FILE_COLUMNS + folder_files_sql(q, postgres_dialect, true),
                                            q.spaceId, q.folderKey, from, to, q.contains, q.lockedBy, q.changedSince,
                                            q.limit, q.offset),
                            read_file);
    }
    std::int64_t folder_file_count(const FolderFiles& q) override
    {
        const auto [from, to] = folder_range(q.folderKey);
        return tx_.exec_params1("SELECT count(*) FROM files f " + folder_files_sql(q, postgres_dialect, false),
                                q.spaceId, q.folderKey, from, to, q.contains, q.lockedBy, q.changedSince)[0]
            .as<std::int64_t>();
    }
    std::vector<FileRow> project_locks(const std::string& projectId) override
    {
        return all<FileRow>(tx_.exec_params(VYR_PG_FILE_COLUMNS "JOIN spaces s ON s.id = f.space_id WHERE s.kind = 0 "
                                                                "AND s.project_id = $1 AND f.lock_user IS NOT NULL "
                                                                "AND NOT f.deleted ORDER BY f.lock_time, f.path "
                                                                "COLLATE \"C\"",
                                            projectId),
                            read_file);
    }
    void set_lock(const std::string& fileId, const std::optional<std::string>& holderId, Millis since) override
    {
        if (holderId) {
            tx_.exec_params("UPDATE files SET lock_user = $1, lock_time = $2 WHERE id = $3", *holderId, since, fileId);
        } else {
            tx_.exec_params("UPDATE files SET lock_user = NULL, lock_time = NULL WHERE id = $1", fileId);
        }
    }
    std::vector<FileRow> unlock_all(const std::string& holderId) override
    {
        auto files = all<FileRow>(
            tx_.exec_params(VYR_PG_FILE_COLUMNS "WHERE f.lock_user = $1 ORDER BY f.path COLLATE \"C\"" + lock_, holderId),
            read_file);
        tx_.exec_params("UPDATE files SET lock_user = NULL, lock_time = NULL WHERE lock_user = $1", holderId);
        return files;
    }
    void tag(const std::string& fileId, const std::string& projectId, const std::string& category,
             const std::string& name) override
    {
        tx_.exec_params("INSERT INTO file_tags VALUES($1, $2, $3, $4) ON CONFLICT DO NOTHING", fileId, projectId,
                        category, name);
    }
    std::vector<std::string> tags(const std::string& fileId) override
    {
        return all<std::string>(tx_.exec_params("SELECT category || ':' || name FROM file_tags WHERE file_id = $1 "
                                                "ORDER BY 1 COLLATE \"C\"",
                                                fileId),
                                [](const pqxx::row& r) { return text(r[0]); });
    }

    // Events nobody takes (a client that stopped asking) are kept for a bounded time and count: a
    // post drops the user's events older than the settings' eventMaxAge and those beyond the
    // newest eventMaxCount, in the same statement, so the table stays bounded by its users.
    void post(const std::string& userId, const EventRow& e, Millis time) override
    {
        tx_.exec_params("WITH posted AS (INSERT INTO events(user_id, type, status, response_id, time) VALUES($1, $2, "
                        "$3, $4, $5)) DELETE FROM events WHERE user_id = $1 AND (time < $6 OR seq <= (SELECT seq FROM "
                        "events WHERE user_id = $1 ORDER BY seq DESC OFFSET $7 LIMIT 1))",
                        userId, e.type, e.status, e.responseId, time, time - eventMaxAge_.count(),
                        eventMaxCount_ - 1);
    }
    std::vector<EventRow> take_events(const std::string& userId) override
    {
        return all<EventRow>(tx_.exec_params("WITH taken AS (DELETE FROM events WHERE user_id = $1 RETURNING seq, "
                                             "type, status, response_id) SELECT type, status, response_id FROM "
                                             "taken ORDER BY seq",
                                             userId),
                             [](const pqxx::row& r) {
                                 return EventRow{r[0].as<std::int32_t>(), r[1].as<std::int32_t>(), text(r[2])};
                             });
    }

    std::vector<PostedEvent> recent_events(const std::string& userId, int limit) override
    {
        return all<PostedEvent>(tx_.exec_params("SELECT type, status, response_id, time FROM events WHERE user_id = "
                                                "$1 ORDER BY seq DESC LIMIT $2",
                                                userId, limit),
                                [](const pqxx::row& r) {
                                    return PostedEvent{{r[0].as<std::int32_t>(), r[1].as<std::int32_t>(), text(r[2])},
                                                       r[3].as<std::int64_t>()};
                                });
    }

    std::int64_t event_count(const std::string& userId) override
    {
        return tx_.exec_params1("SELECT count(*) FROM events WHERE user_id = $1", userId)[0].as<std::int64_t>();
    }

    void add_activity(const ActivityRow& a) override
    {
        // NULL, not '', for a subject or project the entry has none of.
        tx_.exec_params("INSERT INTO activity(time, kind, actor_id, subject_id, project_id, space_id, file_id, path, "
                        "old_path, revision, size, reason) VALUES($1, $2, $3, NULLIF($4, ''), NULLIF($5, ''), $6, $7, "
                        "$8, $9, $10, $11, $12)",
                        a.time, static_cast<int>(a.kind), a.actor.id, a.subject ? a.subject->id : std::string(),
                        a.projectId, a.spaceId, a.fileId, a.path, a.oldPath, a.revision, a.size, a.reason);
        const auto entries = tx_.exec_params1("INSERT INTO activity_spaces VALUES($1, 1) ON CONFLICT(space_id) DO "
                                              "UPDATE SET entries = activity_spaces.entries + 1 RETURNING entries",
                                              a.spaceId)[0]
                                 .as<std::int64_t>();
        if (entries > activity_per_space + activity_slack) {
            tx_.exec_params("DELETE FROM activity WHERE id IN (SELECT id FROM activity WHERE space_id = $1 ORDER BY id "
                            "LIMIT $2)",
                            a.spaceId, entries - activity_per_space);
            tx_.exec_params("UPDATE activity_spaces SET entries = $2 WHERE space_id = $1", a.spaceId,
                            activity_per_space);
        }
    }
    ActivityPage user_activity(const std::string& userId, std::int64_t offset, int limit) override
    {
        // A project the user has left keeps its entries to itself.
        const std::string where =
            "WHERE (a.actor_id = $1 OR a.subject_id = $1) AND (a.project_id IS NULL OR EXISTS (SELECT 1 FROM "
            "project_roles o WHERE o.user_id = $1 AND o.project_id = a.project_id)) ";
        return {all<ActivityRow>(tx_.exec_params(VYR_PG_ACTIVITY_COLUMNS + where + "ORDER BY a.id DESC LIMIT $2 OFFSET $3",
                                                 userId, limit, offset),
                                 read_activity),
                tx_.exec_params1("SELECT count(*) FROM activity a " + where, userId)[0].as<std::int64_t>()};
    }
    ActivityPage project_activity(const std::string& projectId, std::int64_t offset, int limit) override
    {
        return {all<ActivityRow>(tx_.exec_params(VYR_PG_ACTIVITY_COLUMNS
                                                 "WHERE a.project_id = $1 ORDER BY a.id DESC LIMIT $2 OFFSET $3",
                                                 projectId, limit, offset),
                                 read_activity),
                tx_.exec_params1("SELECT count(*) FROM activity WHERE project_id = $1", projectId)[0].as<std::int64_t>()};
    }

    void add_model_update(const ModelUpdateRow& u, const std::string& userId) override
    {
        tx_.exec_params("INSERT INTO model_updates VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)", u.id,
                        u.projectId, userId, u.dimensions, u.epsg, u.description, u.logicalId, u.offsetX, u.offsetY,
                        u.created);
        // A file given twice keeps its first place.
        for (std::size_t i = 0; i < u.fileIds.size(); ++i) {
            tx_.exec_params("INSERT INTO model_update_files(update_id, file_id, position) VALUES($1, $2, $3) ON "
                            "CONFLICT DO NOTHING",
                            u.id, u.fileIds[i], static_cast<int>(i));
        }
    }
    std::optional<ModelUpdateRow> model_update(const std::string& id) override
    {
        auto update = first<ModelUpdateRow>(tx_.exec_params(VYR_PG_UPDATE_COLUMNS "WHERE id = $1", id), read_update);
        if (update) {
            update->fileIds = update_files(id);
        }
        return update;
    }
    std::vector<ModelUpdateRow> model_updates(const std::string& projectId) override
    {
        auto updates = all<ModelUpdateRow>(
            tx_.exec_params(VYR_PG_UPDATE_COLUMNS "WHERE project_id = $1 ORDER BY created DESC, id COLLATE \"C\"",
                            projectId),
            read_update);
        for (auto& update : updates) {
            update.fileIds = update_files(update.id);
        }
        return updates;
    }

    std::vector<ContractRow> contracts(const std::string& tenantId) override
    {
        return all<ContractRow>(
            tx_.exec_params("SELECT c.project_id, c.contract_id, c.name FROM road_contracts c JOIN projects p ON "
                            "p.id = c.project_id WHERE p.tenant_id = $1 ORDER BY p.created, c.contract_id COLLATE "
                            "\"C\"",
                            tenantId),
            [](const pqxx::row& r) { return ContractRow{text(r[0]), text(r[1]), text(r[2])}; });
    }
    void add_contract(const ContractRow& c) override
    {
        tx_.exec_params("INSERT INTO road_contracts VALUES($1, $2, $3) ON CONFLICT(project_id, contract_id) DO "
                        "UPDATE SET name = excluded.name",
                        c.projectId, c.id, c.name);
    }

    void add_include_folder(const std::string& projectId, const std::string& folder) override
    {
        tx_.exec_params("INSERT INTO include_folders VALUES($1, $2) ON CONFLICT DO NOTHING", projectId, folder);
    }
    bool has_include_folder(const std::string& projectId, const std::string& folder) override
    {
        return !tx_.exec_params("SELECT 1 FROM include_folders WHERE project_id = $1 AND folder = $2", projectId,
                                folder)
                    .empty();
    }

private:
    std::vector<std::string> update_files(const std::string& updateId)
    {
        return all<std::string>(tx_.exec_params("SELECT file_id FROM model_update_files WHERE update_id = $1 ORDER BY "
                                                "position, file_id COLLATE \"C\"",
                                                updateId),
                                [](const pqxx::row& r) { return text(r[0]); });
    }

    pqxx::transaction_base& tx_;
    // What a read of a file adds in a write: the row is locked until the transaction ends.
    std::string lock_;
    std::chrono::milliseconds eventMaxAge_;
    int eventMaxCount_;
    struct Change {
        std::string spaceId, fileId;
        std::int64_t revision = 0;
        std::int64_t* seq = nullptr;
    };
    std::vector<Change> pending_;
};

} // namespace

struct PostgresRequestKeys::Scope::State {
    std::string userId, key;
    Millis created = 0;
    Millis notBefore = 0;
    bool recorded = false;
};

namespace {

// The request key of the request this thread serves, while it has one.
thread_local PostgresRequestKeys::Scope::State* requestKey = nullptr;

class PostgresStore final : public MetadataStore {
public:
    explicit PostgresStore(std::shared_ptr<PostgresPool> pool) : pool_(std::move(pool)) {}

    void read(const std::function<void(Records&)>& body) override { run(body, false); }
    void write(const std::function<void(Records&)>& body) override { run(body, true); }

private:
    void run(const std::function<void(Records&)>& body, bool write)
    {
        // The request's key goes with its first write, and stands only if that write commits. The
        // row is written first: a concurrent request of the same key waits for this one to end.
        auto* key = write && requestKey && !requestKey->recorded ? requestKey : nullptr;
        auto* content = write && pendingContent && !pendingContent->stored ? pendingContent : nullptr;
        in_transaction(*pool_, write, [&](pqxx::transaction_base& tx) {
            if (content) {
                content->written = false; // an attempt run again writes it again
            }
            // A row past its time is the key's no more: it is taken over.
            if (key && tx.exec_params("INSERT INTO request_keys(user_id, key, created) VALUES($1, $2, $3) "
                                      "ON CONFLICT(user_id, key) DO UPDATE SET created = excluded.created, "
                                      "status = NULL, content_type = NULL, body = NULL "
                                      "WHERE request_keys.created < $4",
                                      key->userId, key->key, key->created, key->notBefore)
                               .affected_rows() == 0) {
                throw RequestKeyTaken{};
            }
            PostgresRecords records(tx, write, &PostgresAccess::state(*pool_).settings);
            body(records);
            records.take_change_numbers();
        });
        if (key) {
            key->recorded = true;
        }
        if (content && content->written) {
            content->stored = true;
        }
    }

    std::shared_ptr<PostgresPool> pool_;
};

// libpqxx 6 reads every value as text: a chunk of content would leave the database as hex, twice
// its size, to be decoded again here. The statements that carry contents go through libpq itself,
// on the transaction's own connection, with their bytes binary both ways.
struct RawConnection : pqxx::largeobject {
    static PGconn* of(pqxx::transaction_base& tx) { return raw_connection(dynamic_cast<pqxx::dbtransaction&>(tx)); }
};

// A statement's answer in binary: bytea as its bytes, bigint as 8 bytes in network order.
class BinaryResult {
public:
    explicit BinaryResult(PGresult* result) : result_(result, &PQclear) {}

    [[nodiscard]] ExecStatusType status() const { return PQresultStatus(result_.get()); }
    [[nodiscard]] std::string sqlstate() const
    {
        const char* state = PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE);
        return state ? state : "";
    }

    [[nodiscard]] int rows() const { return PQntuples(result_.get()); }
    [[nodiscard]] bool null(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
    [[nodiscard]] std::string_view bytes(int row, int column) const
    {
        return {PQgetvalue(result_.get(), row, column),
                static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
    }
    [[nodiscard]] std::int64_t int8(int row, int column) const
    {
        const auto raw = bytes(row, column);
        if (raw.size() != 8) {
            throw pqxx::unexpected_rows("not a bigint");
        }
        std::uint64_t value = 0;
        for (const char c : raw) {
            value = (value << 8) | static_cast<unsigned char>(c);
        }
        return static_cast<std::int64_t>(value);
    }

private:
    std::unique_ptr<PGresult, decltype(&PQclear)> result_;
};

// One statement's values: text, except the bytes given as bytes.
class BinaryStatement {
public:
    explicit BinaryStatement(const char* sql) : sql_(sql) {}

    BinaryStatement& text(std::string value)
    {
        texts_.push_back(std::move(value));
        add(texts_.back(), 0);
        return *this;
    }
    BinaryStatement& text(std::int64_t value) { return text(std::to_string(value)); }
    BinaryStatement& null()
    {
        values_.push_back(nullptr);
        lengths_.push_back(0);
        formats_.push_back(0);
        return *this;
    }
    // Not copied: the bytes must outlive the statement's run.
    BinaryStatement& bytes(std::string_view value)
    {
        add(value, 1);
        return *this;
    }

    // Runs in the transaction; a failure is raised as libpqxx raises it, so that the transaction's
    // retries and translations apply alike.
    BinaryResult run(pqxx::transaction_base& tx) const
    {
        auto* connection = RawConnection::of(tx);
        BinaryResult result(PQexecParams(connection, sql_, static_cast<int>(values_.size()), nullptr, values_.data(),
                                         lengths_.data(), formats_.data(), 1));
        const auto status = result.status();
        if (status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK) {
            return result;
        }
        if (PQstatus(connection) != CONNECTION_OK) {
            throw pqxx::broken_connection(PQerrorMessage(connection));
        }
        const std::string message = PQerrorMessage(connection);
        const std::string state = result.sqlstate();
        if (state == "40001") {
            throw pqxx::serialization_failure(message);
        }
        if (state == "40P01") {
            throw pqxx::deadlock_detected(message);
        }
        if (state == "23505") {
            throw pqxx::unique_violation(message, sql_, state.c_str());
        }
        throw pqxx::sql_error(message, sql_, state.empty() ? nullptr : state.c_str());
    }

private:
    void add(std::string_view value, int format)
    {
        values_.push_back(value.data());
        lengths_.push_back(static_cast<int>(value.size()));
        formats_.push_back(format);
    }

    const char* sql_;
    std::deque<std::string> texts_;
    std::vector<const char*> values_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
};

void insert_first_chunk(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash,
                        std::string_view bytes)
{
    BinaryStatement("INSERT INTO blob_chunks(owner, hash, start, bytes) VALUES($1, $2, 0, $3)")
        .text(owner)
        .text(hash)
        .bytes(bytes)
        .run(tx);
}

// The owner's upload of a hash, made when new and marked as touched now, its row locked until the
// transaction ends, so that two uploads of one blob by its owner take turns: the size of the copy
// when it is whole already.
std::optional<std::int64_t> touch_upload(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash)
{
    const auto blob = tx.exec_params1("INSERT INTO blobs(owner, hash, touched) VALUES($1, $2, $3) ON "
                                      "CONFLICT(owner, hash) DO UPDATE SET touched = excluded.touched "
                                      "RETURNING whole, size",
                                      owner, hash, now_millis());
    return blob[0].as<bool>() ? std::optional(blob[1].as<std::int64_t>()) : std::nullopt;
}

// The size of the owner's whole copy, its row locked; nothing while it is not whole.
std::optional<std::int64_t> whole_size_locked(pqxx::transaction_base& tx, const std::string& owner,
                                              const std::string& hash)
{
    const auto blob =
        tx.exec_params("SELECT whole, size FROM blobs WHERE owner = $1 AND hash = $2 FOR UPDATE", owner, hash);
    return !blob.empty() && blob[0][0].as<bool>() ? std::optional(blob[0][1].as<std::int64_t>()) : std::nullopt;
}

// Where an upload stands, from its last upload_window chunks' (start, length), the highest start
// first: the end of its chunks without a gap from the start. A chunk is taken only before where
// the upload stands plus the window, so fewer than upload_window lie beyond it, and the lowest of
// these rows is within the gap-free start whenever there are upload_window of them.
std::int64_t upload_stands(const pqxx::result& last)
{
    if (last.empty()) {
        return 0;
    }
    const auto all = static_cast<std::int64_t>(last.size()) < BlobStore::upload_window;
    std::int64_t end = all ? 0 : last[last.size() - 1][0].as<std::int64_t>();
    for (auto i = last.size(); i-- > 0;) {
        const auto start = last[i][0].as<std::int64_t>();
        const auto length = last[i][1].as<std::int64_t>();
        if (start != end) {
            break;
        }
        end += length;
        if (length != BlobStore::chunk_size) {
            break; // the last chunk: nothing follows it
        }
    }
    return end;
}

// Whether a chunk at `offset` is out of the window of an upload standing at `stands`: too far
// ahead, or after its short last chunk.
bool out_of_window(std::int64_t stands, std::int64_t offset)
{
    return offset >= stands + BlobStore::upload_window * BlobStore::chunk_size ||
           (stands % BlobStore::chunk_size != 0 && offset > stands);
}

// A finished upload becomes a whole copy of `size` bytes, or is dropped with its chunks.
void settle_upload(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash, std::int64_t size,
                   bool whole)
{
    if (whole) {
        tx.exec_params("INSERT INTO blobs(owner, hash, size, whole) VALUES($1, $2, $3, TRUE) ON "
                       "CONFLICT(owner, hash) DO UPDATE SET size = excluded.size, whole = TRUE",
                       owner, hash, size);
    } else {
        tx.exec_params("DELETE FROM blobs WHERE owner = $1 AND hash = $2", owner, hash);
    }
}

class PostgresBlobs final : public BlobStore {
public:
    explicit PostgresBlobs(std::shared_ptr<PostgresPool> pool) : pool_(std::move(pool)) {}

    std::optional<std::int64_t> size(const std::string& owner, const std::string& hash) override
    {
        std::optional<std::int64_t> out;
        if (!is_sha256_hex(hash)) {
            return out;
        }
        in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) {
            out = first<std::int64_t>(
                tx.exec_params("SELECT size FROM blobs WHERE owner = $1 AND hash = $2 AND whole", owner, hash),
                [](const pqxx::row& r) { return r[0].as<std::int64_t>(); });
        });
        return out;
    }
    std::optional<std::int64_t> whole_size(const std::string& hash) override
    {
        std::optional<std::int64_t> out;
        if (!is_sha256_hex(hash)) {
            return out;
        }
        in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) {
            out = first<std::int64_t>(tx.exec_params("SELECT size FROM blobs WHERE hash = $1 AND whole LIMIT 1", hash),
                                      [](const pqxx::row& r) { return r[0].as<std::int64_t>(); });
        });
        return out;
    }
    std::int64_t received(const std::string& owner, const std::string& hash) override
    {
        std::int64_t out = 0;
        if (is_sha256_hex(hash)) {
            in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) { out = contiguous(tx, owner, hash); });
        }
        return out;
    }
    Stored put_chunk(const std::string& owner, const std::string& hash, std::int64_t offset,
                     std::string_view bytes) override
    {
        if (!is_sha256_hex(hash) || !fits_chunk(offset, bytes)) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "Not a chunk of a blob.");
        }
        Stored out;
        in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
            // A chunk lost to a crash of the database is sent again (the client asks what is held
            // before it resumes), and finishing the blob waits for every record before it: waiting
            // for each chunk to reach the disk buys nothing.
            tx.exec("SET LOCAL synchronous_commit = off");
            if (const auto whole = touch_upload(tx, owner, hash)) {
                out = {true, *whole};
                return; // written once: the store already holds these bytes
            }
            // The upload's row is locked: the chunks of one upload are stored one at a time, while
            // the next ones travel.
            auto stands = contiguous(tx, owner, hash);
            if (out_of_window(stands, offset)) {
                throw ChunkOutOfPlace{};
            }
            // A chunk held already: the same bytes are a request sent again whose answer was lost,
            // and change nothing; other bytes replace it, and what followed was chained onto it.
            const auto held = BinaryStatement("SELECT bytes = $4 FROM blob_chunks WHERE owner = $1 AND hash = $2 AND "
                                              "start = $3")
                                  .text(owner)
                                  .text(hash)
                                  .text(offset)
                                  .bytes(bytes)
                                  .run(tx);
            if (held.rows() == 1 && held.bytes(0, 0) == std::string_view("\1", 1)) {
                out.held = stands;
                return;
            }
            if (held.rows() == 1) {
                tx.exec_params("DELETE FROM blob_chunks WHERE owner = $1 AND hash = $2 AND start >= $3", owner, hash,
                               offset);
                stands = std::min(stands, offset);
            }
            BinaryStatement insert("INSERT INTO blob_chunks(owner, hash, start, bytes, state) VALUES($1, $2, $3, $4, "
                                   "$5)");
            insert.text(owner).text(hash).text(offset).bytes(bytes);
            if (offset > stands) {
                // Ahead of a gap: kept without a digest, which is taken up when the gap fills.
                insert.null().run(tx);
                out.held = stands;
                return;
            }
            // The chunk follows the gap-free start: the digest's state after the chunk before it,
            // which the chunks stored before states were kept lack (finishing reads those back).
            std::optional<ResumableSha256> digest;
            if (offset == 0) {
                digest.emplace();
            } else if (const auto before = BinaryStatement("SELECT state FROM blob_chunks WHERE owner = $1 AND hash = "
                                                           "$2 AND start = $3")
                                               .text(owner)
                                               .text(hash)
                                               .text(offset - chunk_size)
                                               .run(tx);
                       before.rows() == 1 && !before.null(0, 0)) {
                digest.emplace(std::string(before.bytes(0, 0)));
            }
            std::string saved;
            if (digest) {
                digest->add(bytes);
                saved = digest->saved();
                insert.bytes(saved);
            } else {
                insert.null();
            }
            insert.run(tx);
            out.held = offset + static_cast<std::int64_t>(bytes.size());
            if (static_cast<std::int64_t>(bytes.size()) == chunk_size) {
                out.held = chain_kept(tx, owner, hash, out.held, digest);
            }
        });
        return out;
    }
    bool finish(const std::string& owner, const std::string& hash, std::int64_t size) override
    {
        if (!is_sha256_hex(hash) || size < 0) {
            return false;
        }
        bool out = false;
        in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
            if (const auto whole = whole_size_locked(tx, owner, hash)) {
                out = *whole == size;
                return;
            }
            out = hashes_to(tx, owner, hash, size);
            settle_upload(tx, owner, hash, size, out);
        });
        return out;
    }
    std::int64_t drop_unfinished(std::int64_t before) override
    {
        std::int64_t out = 0;
        in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
            // An upload of before the time was kept counts as old. Its chunks go with it.
            out = static_cast<std::int64_t>(
                tx.exec_params("DELETE FROM blobs WHERE NOT whole AND COALESCE(touched, 0) < $1", before)
                    .affected_rows());
        });
        return out;
    }
    std::shared_ptr<void> with_next_revision(const std::string& owner, const std::string& hash,
                                             std::string_view bytes) override
    {
        if (!is_sha256_hex(hash) || !fits_chunk(0, bytes)) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "Not the content of a small blob.");
        }
        auto* content = new PendingContent{owner, hash, std::string(bytes), false, false, pendingContent};
        pendingContent = content;
        return std::shared_ptr<void>(content, [](void* pointer) {
            auto* ending = static_cast<PendingContent*>(pointer);
            pendingContent = ending->previous;
            delete ending;
        });
    }
    std::string chunk(const std::string& hash, std::int64_t offset) override
    {
        std::optional<std::string> out;
        if (is_sha256_hex(hash)) {
            in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) {
                // Whole copies hold the same bytes; the same one is read for every chunk all the same.
                const auto piece =
                    BinaryStatement("SELECT b.size, c.bytes FROM (SELECT owner, size FROM blobs WHERE hash = $1 AND "
                                    "whole ORDER BY owner LIMIT 1) b LEFT JOIN blob_chunks c ON c.owner = b.owner AND "
                                    "c.hash = $1 AND c.start = $2")
                        .text(hash)
                        .text(offset)
                        .run(tx);
                if (piece.rows() == 0) {
                    return;
                }
                if (!piece.null(0, 1)) {
                    out.emplace(piece.bytes(0, 1));
                } else if (piece.int8(0, 0) == 0 && offset == 0) {
                    out.emplace(); // an empty blob may have been finished without a chunk
                }
            });
        }
        if (!out) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "The store holds no such piece of a blob.");
        }
        return std::move(*out);
    }

private:
    // The bytes held in chunks without a gap from the start, found from the last few on the key.
    static std::int64_t contiguous(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash)
    {
        return upload_stands(tx.exec_params("SELECT start, octet_length(bytes)::bigint FROM blob_chunks WHERE owner "
                                            "= $1 AND hash = $2 ORDER BY start DESC LIMIT $3",
                                            owner, hash, upload_window));
    }

    // Takes up the chunks kept ahead of a gap that closed at `end`: each is read back once, to
    // carry the digest on, and the end of the chunks now without a gap is answered.
    static std::int64_t chain_kept(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash,
                                   std::int64_t end, std::optional<ResumableSha256>& digest)
    {
        for (;;) {
            const auto kept = BinaryStatement(digest ? "SELECT octet_length(bytes)::bigint, bytes FROM blob_chunks "
                                                       "WHERE owner = $1 AND hash = $2 AND start = $3"
                                                     : "SELECT octet_length(bytes)::bigint FROM blob_chunks WHERE "
                                                       "owner = $1 AND hash = $2 AND start = $3")
                                  .text(owner)
                                  .text(hash)
                                  .text(end)
                                  .run(tx);
            if (kept.rows() == 0) {
                return end;
            }
            const auto length = kept.int8(0, 0);
            if (digest) {
                digest->add(kept.bytes(0, 1));
                const auto saved = digest->saved();
                BinaryStatement("UPDATE blob_chunks SET state = $4 WHERE owner = $1 AND hash = $2 AND start = $3")
                    .text(owner)
                    .text(hash)
                    .text(end)
                    .bytes(saved)
                    .run(tx);
            }
            end += length;
            if (length != chunk_size) {
                return end;
            }
        }
    }

    // Whether the chunks are whole chunks but the last, count `size` bytes and hash to `hash`: from
    // the digest's state kept with the last chunk, or else by reading them back.
    static bool hashes_to(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash,
                          std::int64_t size)
    {
        const auto last = BinaryStatement("SELECT start, octet_length(bytes)::bigint, state, (SELECT count(*) FROM "
                                          "blob_chunks WHERE owner = $1 AND hash = $2) FROM blob_chunks WHERE owner = "
                                          "$1 AND hash = $2 ORDER BY start DESC LIMIT 1")
                              .text(owner)
                              .text(hash)
                              .run(tx);
        if (last.rows() == 0 || last.null(0, 2)) {
            return hashes_to_read_back(tx, owner, hash, size);
        }
        const auto start = last.int8(0, 0);
        const auto length = last.int8(0, 1);
        if (start + length != size || last.int8(0, 3) != start / chunk_size + 1) {
            return false;
        }
        ResumableSha256 digest{std::string(last.bytes(0, 2))};
        return digest.hex() == hash;
    }

    static bool hashes_to_read_back(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash,
                                    std::int64_t size)
    {
        const auto chunks = tx.exec_params("SELECT start, octet_length(bytes) FROM blob_chunks WHERE owner = $1 AND "
                                           "hash = $2 ORDER BY start",
                                           owner, hash);
        Sha256 hasher;
        std::int64_t end = 0;
        for (pqxx::result::size_type i = 0; i < chunks.size(); ++i) {
            const auto start = chunks[i][0].as<std::int64_t>();
            const auto length = chunks[i][1].as<std::int64_t>();
            if (start != end || (i + 1 < chunks.size() && length != chunk_size) || end + length > size) {
                return false;
            }
            const auto piece = BinaryStatement("SELECT bytes FROM blob_chunks WHERE owner = $1 AND hash = $2 AND "
                                               "start = $3")
                                   .text(owner)
                                   .text(hash)
                                   .text(start)
                                   .run(tx);
            if (piece.rows() != 1) {
                return false;
            }
            hasher.add(piece.bytes(0, 0));
            end += length;
        }
        return end == size && hasher.hex() == hash;
    }

    std::shared_ptr<PostgresPool> pool_;
};

// File contents as files on a volume that every process of the service shares:
//   blobs/HH/HASH            a whole blob, named by its hash: any owner's whole copy, as they
//                            are all the same bytes
//   uploads/OWNER/HASH/NAME  the chunks of an unfinished upload, a file each, named by their rows
//                            (OWNER: the SHA-256 of the owner's id, which is no file name)
//   staging/                 files being written, renamed into place once whole and flushed
// PostgreSQL keeps what the chunk table keeps but the bytes: the uploads, whose they are, which
// chunks they hold and which are whole; its row locks order the writers of one upload, whichever
// process or machine they run on. A chunk's file is written before its row commits and is never
// changed: another attempt at that chunk writes a file of its own, and the files that no row names
// go with their upload's folder. Finishing reads the chunks back, hashing them as it writes the
// blob, so bytes damaged on the volume never make a blob whole.
class FileBlobs final : public BlobStore {
public:
    FileBlobs(std::shared_ptr<PostgresPool> pool, std::filesystem::path folder)
        : pool_(pool), table_(std::move(pool)), folder_(std::move(folder))
    {
        std::filesystem::create_directories(folder_ / "staging");
    }

    std::optional<std::int64_t> size(const std::string& owner, const std::string& hash) override
    {
        return table_.size(owner, hash);
    }
    std::optional<std::int64_t> whole_size(const std::string& hash) override { return table_.whole_size(hash); }
    std::int64_t received(const std::string& owner, const std::string& hash) override
    {
        std::int64_t out = 0;
        if (is_sha256_hex(hash)) {
            in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) { out = stands(tx, owner, hash); });
        }
        return out;
    }
    Stored put_chunk(const std::string& owner, const std::string& hash, std::int64_t offset,
                     std::string_view bytes) override
    {
        if (!is_sha256_hex(hash) || !fits_chunk(offset, bytes)) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "Not a chunk of a blob.");
        }
        const auto folder = upload_folder(owner, hash);
        Stored out;
        std::vector<std::string> replaced;
        in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
            replaced.clear();
            // Finishing checks every byte, so neither the row nor the file waits for the disk.
            tx.exec("SET LOCAL synchronous_commit = off");
            if (const auto whole = touch_upload(tx, owner, hash)) {
                out = {true, *whole};
                return; // written once: the store already holds these bytes
            }
            if (out_of_window(stands(tx, owner, hash), offset)) {
                throw ChunkOutOfPlace{};
            }
            // A chunk held already with the same bytes is a request sent again: nothing changes.
            const auto held = tx.exec_params("SELECT length, name FROM blob_parts WHERE owner = $1 AND hash = $2 AND "
                                             "start = $3",
                                             owner, hash, offset);
            if (!held.empty() && held[0][0].as<std::int64_t>() == static_cast<std::int64_t>(bytes.size()) &&
                content_files::read_at(folder / text(held[0][1]), 0, chunk_size) == bytes) {
                out.held = stands(tx, owner, hash);
                return;
            }
            const auto name = std::to_string(offset) + "-" + random_hex(8);
            content_files::write_new(folder / name, bytes);
            // Other bytes replace the chunk, and what follows it belonged to another attempt.
            for (const auto& row : held.empty() ? pqxx::result{}
                                                : tx.exec_params("DELETE FROM blob_parts WHERE owner = $1 AND hash = "
                                                                 "$2 AND start >= $3 RETURNING name",
                                                                 owner, hash, offset)) {
                replaced.push_back(text(row[0]));
            }
            tx.exec_params("INSERT INTO blob_parts VALUES($1, $2, $3, $4, $5)", owner, hash, offset,
                           static_cast<std::int64_t>(bytes.size()), name);
            out.held = stands(tx, owner, hash);
        });
        for (const auto& name : replaced) {
            std::error_code ignored;
            std::filesystem::remove(folder / name, ignored);
        }
        return out;
    }
    bool finish(const std::string& owner, const std::string& hash, std::int64_t size) override
    {
        if (!is_sha256_hex(hash) || size < 0) {
            return false;
        }
        bool out = false;
        bool settled = false; // the upload's chunks are no longer needed
        in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
            if (const auto whole = whole_size_locked(tx, owner, hash)) {
                out = *whole == size;
                return;
            }
            const auto parts = tx.exec_params("SELECT start, length, name FROM blob_parts WHERE owner = $1 AND hash = "
                                              "$2 ORDER BY start",
                                              owner, hash);
            out = assemble(parts, owner, hash, size);
            settle_upload(tx, owner, hash, size, out);
            if (out) {
                // Chunk rows are of no use once the blob is whole, those an upload left in the
                // table before this store was chosen included.
                tx.exec_params("DELETE FROM blob_parts WHERE owner = $1 AND hash = $2", owner, hash);
                tx.exec_params("DELETE FROM blob_chunks WHERE owner = $1 AND hash = $2", owner, hash);
            }
            settled = true;
        });
        if (settled) {
            std::error_code ignored;
            std::filesystem::remove_all(upload_folder(owner, hash), ignored);
        }
        return out;
    }
    std::int64_t drop_unfinished(std::int64_t before) override
    {
        std::int64_t out = 0;
        in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
            // The rows stay locked until the folders are gone: an upload that starts again meanwhile
            // waits, and then writes into a folder of its own.
            const auto dropped = tx.exec_params("DELETE FROM blobs WHERE NOT whole AND COALESCE(touched, 0) < $1 "
                                                "RETURNING owner, hash",
                                                before);
            for (const auto& row : dropped) {
                std::error_code ignored;
                std::filesystem::remove_all(upload_folder(text(row[0]), text(row[1])), ignored);
            }
            out = static_cast<std::int64_t>(dropped.size());
        });
        content_files::drop_stale(folder_ / "staging", before / 1000);
        return out;
    }
    std::string chunk(const std::string& hash, std::int64_t offset) override
    {
        if (!is_sha256_hex(hash) || offset < 0 || offset % chunk_size != 0) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "The store holds no such piece of a blob.");
        }
        // One read from the file; the database is not asked. A blob made whole before this store was
        // chosen is still in the chunk table.
        auto bytes = content_files::read_at(blob_path(hash), offset, chunk_size);
        if (!bytes) {
            return table_.chunk(hash, offset);
        }
        if (bytes->empty() && offset > 0) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "The store holds no such piece of a blob.");
        }
        return std::move(*bytes);
    }

private:
    // The bytes held in chunks without a gap from the start, found from the last few on the key.
    static std::int64_t stands(pqxx::transaction_base& tx, const std::string& owner, const std::string& hash)
    {
        return upload_stands(tx.exec_params("SELECT start, length FROM blob_parts WHERE owner = $1 AND hash = $2 "
                                            "ORDER BY start DESC LIMIT $3",
                                            owner, hash, upload_window));
    }

    [[nodiscard]] std::filesystem::path blob_path(const std::string& hash) const
    {
        return folder_ / "blobs" / hash.substr(0, 2) / hash;
    }
    [[nodiscard]] std::filesystem::path upload_folder(const std::string& owner, const std::string& hash) const
    {
        return folder_ / "uploads" / sha256_hex(owner) / hash;
    }

    // Writes the blob from the upload's chunks when they are whole chunks but the last, without a
    // gap, count `size` bytes and hash to `hash`: a missing or damaged chunk file says no.
    bool assemble(const pqxx::result& parts, const std::string& owner, const std::string& hash, std::int64_t size)
    {
        const auto folder = upload_folder(owner, hash);
        content_files::Staged staged(folder_ / "staging");
        Sha256 hasher;
        std::int64_t end = 0;
        for (pqxx::result::size_type i = 0; i < parts.size(); ++i) {
            const auto start = parts[i][0].as<std::int64_t>();
            const auto length = parts[i][1].as<std::int64_t>();
            if (start != end || (i + 1 < parts.size() && length != chunk_size) || end + length > size) {
                return false;
            }
            const auto bytes = content_files::read_at(folder / text(parts[i][2]), 0, length + 1);
            if (!bytes || static_cast<std::int64_t>(bytes->size()) != length) {
                return false;
            }
            hasher.add(*bytes);
            staged.append(*bytes);
            end += length;
        }
        if (end != size || hasher.hex() != hash) {
            return false;
        }
        // A copy there already holds the same bytes; this one replaces it all the same, which
        // mends one damaged on the volume.
        staged.publish(blob_path(hash));
        return true;
    }

    std::shared_ptr<PostgresPool> pool_;
    PostgresBlobs table_;
    std::filesystem::path folder_;
};

} // namespace

PostgresPool::PostgresPool(const PostgresSettings& settings) : state_(std::make_unique<State>())
{
    if (settings.poolSize < 1 || settings.writeAttempts < 1 || settings.lockTimeout.count() < 1) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::ArgumentOutOfRange,
                                   "A pool needs a connection, a write an attempt and a wait a bound.");
    }
    state_->settings = settings;
    state_->conninfo = with_timeouts(settings.url, settings.connectTimeout);
}

PostgresPool::~PostgresPool() = default;

PostgresPool::Stats PostgresPool::stats() const
{
    const std::lock_guard lock(state_->mutex);
    return {state_->settings.poolSize, state_->open, state_->inUse};
}

int migrate_postgres(const std::string& url, std::optional<int> upTo)
{
    const auto target = std::min(upTo.value_or(static_cast<int>(migrations.size())), static_cast<int>(migrations.size()));
    try {
        pqxx::connection connection(with_timeouts(url, std::chrono::seconds{10}));
        pqxx::work tx(connection);
        tx.exec_params("SELECT pg_advisory_xact_lock($1)", migration_lock);
        tx.exec("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER PRIMARY KEY, applied BIGINT NOT NULL)");
        auto version = schema_version(tx);
        if (version > static_cast<int>(migrations.size())) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                       "The store's database was written by a newer version of the server.");
        }
        for (; version < target; ++version) {
            tx.exec(migrations[static_cast<std::size_t>(version)]);
            if (version + 1 == folders_version) {
                fill_folders(tx);
            }
            tx.exec_params("INSERT INTO schema_version VALUES($1, $2)", version + 1, now_millis());
        }
        tx.commit();
        return version;
    } catch (const pqxx::broken_connection& e) {
        throw StoreUnavailable(e.what());
    } catch (const pqxx::sql_error& e) {
        raise_translated(e);
    }
}

int postgres_schema_version()
{
    return static_cast<int>(migrations.size());
}

PostgresRequestKeys::PostgresRequestKeys(std::shared_ptr<PostgresPool> pool) : pool_(std::move(pool)) {}

std::optional<PostgresRequestKeys::Stored> PostgresRequestKeys::find(const std::string& userId, const std::string& key,
                                                                     Millis notBefore)
{
    std::optional<Stored> out;
    in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) {
        out = first<Stored>(
            tx.exec_params("SELECT status, content_type, body FROM request_keys WHERE user_id = $1 AND key = $2 AND "
                           "created >= $3",
                           userId, key, notBefore),
            [](const pqxx::row& r) {
                return Stored{r[0].is_null() ? std::nullopt : std::optional<int>(r[0].as<int>()), text(r[1]),
                              text(r[2])};
            });
    });
    return out;
}

void PostgresRequestKeys::answer(const std::string& userId, const std::string& key, const Stored& stored)
{
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        tx.exec_params("UPDATE request_keys SET status = $3, content_type = $4, body = $5 WHERE user_id = $1 AND "
                       "key = $2",
                       userId, key, stored.status.value_or(0), stored.contentType, stored.body);
    });
}

std::int64_t PostgresRequestKeys::drop_older_than(Millis before)
{
    std::int64_t dropped = 0;
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        dropped = static_cast<std::int64_t>(
            tx.exec_params("DELETE FROM request_keys WHERE created < $1", before).affected_rows());
    });
    return dropped;
}

PostgresRequestKeys::Scope::Scope(std::string userId, std::string key, Millis now, Millis notBefore)
    : state_(std::make_unique<State>(State{std::move(userId), std::move(key), now, notBefore, false})),
      previous_(requestKey)
{
    requestKey = state_.get();
}

PostgresRequestKeys::Scope::~Scope()
{
    requestKey = previous_;
}

bool PostgresRequestKeys::Scope::recorded() const
{
    return state_->recorded;
}

std::shared_ptr<MetadataStore> postgres_store(std::shared_ptr<PostgresPool> pool)
{
    return std::make_shared<PostgresStore>(std::move(pool));
}

std::shared_ptr<MetadataStore> open_postgres_store(const PostgresSettings& settings)
{
    return postgres_store(std::make_shared<PostgresPool>(settings));
}

std::shared_ptr<BlobStore> postgres_blobs(std::shared_ptr<PostgresPool> pool)
{
    return std::make_shared<PostgresBlobs>(std::move(pool));
}

std::shared_ptr<BlobStore> file_blobs(std::shared_ptr<PostgresPool> pool, const std::filesystem::path& folder)
{
    return std::make_shared<FileBlobs>(std::move(pool), folder);
}

PostgresAccounts::PostgresAccounts(std::shared_ptr<PostgresPool> pool, CredentialCacheSettings cache) : pool_(std::move(pool))
{
    if (cache.lifetime.count() > 0 && cache.entries > 0) {
        cache_ = std::make_shared<Cache>();
        cache_->settings = cache;
    }
}

PostgresAccounts::~PostgresAccounts() = default;

std::pair<std::uint64_t, std::uint64_t> PostgresAccounts::cache_use() const
{
    return cache_ ? std::pair{cache_->hits.load(), cache_->misses.load()} : std::pair<std::uint64_t, std::uint64_t>{};
}

namespace {

// The token of a hash and the user it names, while it is not revoked and its user not disabled:
// what a bearer token and the sign-in of a browser both take.
std::optional<std::pair<std::string, UserRow>> live_token(pqxx::transaction_base& tx, const std::string& hash)
{
    return first<std::pair<std::string, UserRow>>(
        tx.exec_params("SELECT t.id, u.id, u.display_name, u.principal_name FROM tokens t JOIN users u ON u.id = "
                       "t.user_id WHERE t.hash = $1 AND t.revoked IS NULL AND u.disabled IS NULL",
                       hash),
        [](const pqxx::row& r) { return std::pair{text(r[0]), UserRow{text(r[1]), text(r[2]), text(r[3])}}; });
}

// Cached credentials, checked by the request's own first transaction while this lives on its thread.
class CachedCheck final : public CredentialCheck {
public:
    CachedCheck(std::shared_ptr<PostgresPool> pool, std::shared_ptr<PostgresAccounts::Cache> cache,
                std::int64_t epoch)
        : pool_(std::move(pool)), previous_(credentialGuard)
    {
        guard_.pool = pool_.get();
        guard_.cache = std::move(cache);
        guard_.epoch = epoch;
        credentialGuard = &guard_;
    }
    ~CachedCheck() override { credentialGuard = previous_; }
    CachedCheck(const CachedCheck&) = delete;
    CachedCheck& operator=(const CachedCheck&) = delete;

    void confirm() override
    {
        if (guard_.state == CredentialGuard::State::pending) {
            // An empty transaction: its first statement is the check.
            in_transaction(*pool_, false, [](pqxx::transaction_base&) {});
        }
        if (guard_.state != CredentialGuard::State::confirmed) {
            throw CredentialsChanged{};
        }
    }

private:
    std::shared_ptr<PostgresPool> pool_;
    CredentialGuard guard_;
    CredentialGuard* previous_;
};

// The user of a token's hash, asked of the database, with the credentials counter it was read at.
std::optional<UserRow> token_user(PostgresPool& pool, PostgresAccounts::Cache* cache, const std::string& hash)
{
    std::optional<UserRow> out;
    std::int64_t epoch = 0;
    in_transaction(pool, false, [&](pqxx::transaction_base& tx) {
        out.reset();
        if (auto found = live_token(tx, hash)) {
            out = std::move(found->second);
            epoch = cache ? credentials_epoch(tx) : 0;
        }
    });
    if (out && cache) {
        cache->put(cache->tokens, hash, {*out, {}, 0, epoch, {}});
    }
    return out;
}

} // namespace

std::optional<UserRow> PostgresAccounts::authenticate(const std::string& token)
{
    // A token is 64 hex digits; anything else names nobody and costs no query.
    if (!is_sha256_hex(token)) {
        return std::nullopt;
    }
    return token_user(*pool_, cache_.get(), sha256_hex(token));
}

Admitted<UserRow> PostgresAccounts::admit(const std::string& token)
{
    if (!cache_ || !is_sha256_hex(token)) {
        return {authenticate(token), nullptr};
    }
    const auto hash = sha256_hex(token);
    if (auto hit = cache_->find(cache_->tokens, hash)) {
        return {std::move(hit->user), std::make_unique<CachedCheck>(pool_, cache_, hit->epoch)};
    }
    return {token_user(*pool_, cache_.get(), hash), nullptr};
}

std::optional<std::pair<std::string, WebSession>> PostgresAccounts::start_session(const std::string& token, Millis now,
                                                                                  Millis expires)
{
    std::optional<std::pair<std::string, WebSession>> out;
    if (!is_sha256_hex(token)) {
        return out;
    }
    auto id = random_hex(32);
    auto csrf = random_hex(32);
    const auto hash = sha256_hex(id);
    const auto tokenHash = sha256_hex(token);
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        out.reset();
        tx.exec_params("DELETE FROM web_sessions WHERE expires < $1", now);
        auto found = live_token(tx, tokenHash);
        if (!found) {
            return;
        }
        tx.exec_params("INSERT INTO web_sessions VALUES($1, $2, $3, $4)", hash, found->first, csrf, expires);
        out.emplace(id, WebSession{std::move(found->second), csrf});
    });
    return out;
}

std::optional<WebSession> PostgresAccounts::session(const std::string& id, Millis now)
{
    std::optional<WebSession> out;
    if (!is_sha256_hex(id)) {
        return out;
    }
    const auto hash = sha256_hex(id);
    Millis expires = 0;
    std::int64_t epoch = 0;
    in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) {
        out.reset();
        const auto found = tx.exec_params("SELECT u.id, u.display_name, u.principal_name, s.csrf, s.expires FROM "
                                          "web_sessions s JOIN tokens t ON t.id = s.token_id JOIN users u ON "
                                          "u.id = t.user_id WHERE s.hash = $1 AND s.expires > $2 AND t.revoked "
                                          "IS NULL AND u.disabled IS NULL",
                                          hash, now);
        if (found.empty()) {
            return;
        }
        const auto& r = found[0];
        out = WebSession{{text(r[0]), text(r[1]), text(r[2])}, text(r[3])};
        expires = r[4].as<Millis>();
        epoch = cache_ ? credentials_epoch(tx) : 0;
    });
    if (out && cache_) {
        cache_->put(cache_->sessions, hash, {out->user, out->csrf, expires, epoch, {}});
    }
    return out;
}

Admitted<WebSession> PostgresAccounts::admit_session(const std::string& id, Millis now)
{
    if (!cache_ || !is_sha256_hex(id)) {
        return {session(id, now), nullptr};
    }
    if (auto hit = cache_->find(cache_->sessions, sha256_hex(id)); hit && now < hit->expires) {
        return {WebSession{std::move(hit->user), std::move(hit->csrf)},
                std::make_unique<CachedCheck>(pool_, cache_, hit->epoch)};
    }
    return {session(id, now), nullptr};
}

void PostgresAccounts::end_session(const std::string& id)
{
    const auto hash = sha256_hex(id);
    in_transaction(*pool_, true,
                   [&](pqxx::transaction_base& tx) { tx.exec_params("DELETE FROM web_sessions WHERE hash = $1", hash); });
    if (cache_) {
        cache_->drop(cache_->sessions, hash);
    }
}

void PostgresAccounts::add_tenant(const TenantRow& t)
{
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        tx.exec_params("INSERT INTO tenants VALUES($1, $2, $3, $4, $5, $6) ON CONFLICT(id) DO UPDATE SET unique_id = "
                       "excluded.unique_id, display_name = excluded.display_name, enabled = excluded.enabled, "
                       "provider_id = excluded.provider_id, organization_id = excluded.organization_id",
                       t.id, t.uniqueId, t.displayName, t.enabled, t.providerId, t.organizationId);
    });
}

void PostgresAccounts::add_user(const UserRow& user, const std::string& tenantUniqueId)
{
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        const auto tenant = tx.exec_params("SELECT id FROM tenants WHERE unique_id = $1", tenantUniqueId);
        if (tenant.empty()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "No such tenant.");
        }
        PostgresRecords(tx, true).put_user(user);
        tx.exec_params("INSERT INTO tenant_members VALUES($1, $2) ON CONFLICT DO NOTHING", user.id,
                       text(tenant[0][0]));
    });
}

PostgresAccounts::Token PostgresAccounts::create_token(const std::string& userId)
{
    Token token{new_id(), random_hex(32)};
    const auto hash = sha256_hex(token.secret);
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        // The row is locked, so that a user disabled meanwhile gets no token.
        const auto user = tx.exec_params("SELECT disabled IS NOT NULL FROM users WHERE id = $1 FOR UPDATE", userId);
        if (user.empty()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "No such user.");
        }
        if (user[0][0].as<bool>()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                       "The user is disabled: enable them first.");
        }
        tx.exec_params("INSERT INTO tokens VALUES($1, $2, $3, $4, NULL)", token.id, userId, hash, now_millis());
    });
    return token;
}

bool PostgresAccounts::revoke_token(const std::string& id)
{
    bool out = false;
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        out = !tx.exec_params("UPDATE tokens SET revoked = $2 WHERE id = $1 AND revoked IS NULL RETURNING 1", id,
                              now_millis())
                   .empty();
    });
    return out;
}

std::vector<PostgresAccounts::TokenInfo> PostgresAccounts::tokens(const std::string& userId)
{
    std::vector<TokenInfo> out;
    in_transaction(*pool_, false, [&](pqxx::transaction_base& tx) {
        if (tx.exec_params("SELECT 1 FROM users WHERE id = $1", userId).empty()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "No such user.");
        }
        out = all<TokenInfo>(tx.exec_params("SELECT id, created, revoked FROM tokens WHERE user_id = $1 ORDER BY "
                                            "created, id COLLATE \"C\"",
                                            userId),
                             [](const pqxx::row& r) {
                                 return TokenInfo{text(r[0]), r[1].as<Millis>(),
                                                  r[2].is_null() ? std::nullopt : std::optional{r[2].as<Millis>()}};
                             });
    });
    return out;
}

void PostgresAccounts::set_disabled(const std::string& userId, bool disabled)
{
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        // Disabled again, it keeps the time it was first disabled.
        const auto changed = disabled ? tx.exec_params("UPDATE users SET disabled = COALESCE(disabled, $2) WHERE id "
                                                       "= $1 RETURNING 1",
                                                       userId, now_millis())
                                      : tx.exec_params("UPDATE users SET disabled = NULL WHERE id = $1 RETURNING 1",
                                                       userId);
        if (changed.empty()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "No such user.");
        }
    });
}

void PostgresAccounts::grant(const std::string& userId, const std::string& projectId, Role role)
{
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        if (tx.exec_params("SELECT 1 FROM users WHERE id = $1", userId).empty() ||
            tx.exec_params("SELECT 1 FROM projects WHERE id = $1", projectId).empty()) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::Argument, "No such user or project.");
        }
        grant_role(tx, userId, projectId, role);
    });
}

bool PostgresAccounts::revoke(const std::string& userId, const std::string& projectId)
{
    bool out = false;
    in_transaction(*pool_, true, [&](pqxx::transaction_base& tx) {
        out = !tx.exec_params("DELETE FROM project_roles WHERE user_id = $1 AND project_id = $2 RETURNING 1", userId,
                              projectId)
                   .empty();
    });
    return out;
}

} // namespace vyr::cld::domain
