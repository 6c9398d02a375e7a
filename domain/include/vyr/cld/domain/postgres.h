#pragma once

#include <vyr/cld/domain/accounts.h>
#include <vyr/cld/domain/blobs.h>
#include <vyr/cld/domain/records.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The team service's stores on PostgreSQL: metadata, accounts and file contents, sharing one pool
// of connections. Every statement binds its values as parameters. Any number of processes may use
// one database at once; a write transaction locks the rows it decides on (and is retried when
// PostgreSQL refuses it for a deadlock or a key taken meanwhile), so two processes act as one
// store.
namespace vyr::cld::domain {

// The database cannot be reached (down, restarting, refusing connections, or the pool stayed
// busy past its wait). Nothing was committed: when the connection broke during a commit, the
// database is asked afterwards, and a commit it made succeeds (otherwise OutcomeUnknown). A server
// answers 503. The pool replaces lost connections, so the next call after the database is back
// succeeds without a restart.
struct StoreUnavailable : VyrCldapi::Exception {
    explicit StoreUnavailable(const std::string& why)
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "The store's database is unavailable: " + why)
    {
    }
};

// The connection broke during a write's commit and the database could not be asked afterwards
// whether it made it: the change may stand or not. A server answers 504; a caller reads before it
// tries again.
struct OutcomeUnknown : VyrCldapi::Exception {
    explicit OutcomeUnknown(const std::string& why)
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "The outcome of a write is unknown: " + why)
    {
    }
};

struct PostgresSettings {
    // A libpq connection string ("host=... dbname=...") or URI ("postgresql://..."); empty takes
    // the PG* environment variables.
    std::string url;
    int poolSize = 8;
    // How long a call waits for a free connection before StoreUnavailable.
    std::chrono::milliseconds acquireTimeout{10000};
    // How long opening one connection may take.
    std::chrono::seconds connectTimeout{5};
    // Attempts of a write transaction that PostgreSQL refused for a concurrent one.
    int writeAttempts = 30;
    // How long a statement waits for a row another transaction holds before StoreUnavailable.
    std::chrono::milliseconds lockTimeout{10000};
    // The events nobody took: each post drops the user's events older than this, and those
    // beyond the user's newest eventMaxCount.
    std::chrono::milliseconds eventMaxAge{std::chrono::hours(24 * 7)};
    int eventMaxCount = 1000;
};

// Creates the schema or migrates it forward, to `upTo` when given (an older schema, for a test of
// the migrations after it); safe when several processes migrate at once. Answers the schema
// version the database is at. Raises StoreUnavailable when it cannot connect.
int migrate_postgres(const std::string& url, std::optional<int> upTo = std::nullopt);
// The schema version this library writes; a store refuses a database at another version.
int postgres_schema_version();

// Connections to one database, opened on demand, at most `poolSize` at once.
class PostgresPool {
public:
    struct Stats {
        int size = 0;  // the most connections it opens
        int open = 0;  // connections open now
        int inUse = 0; // connections lent out now
    };

    explicit PostgresPool(const PostgresSettings& settings);
    ~PostgresPool();
    PostgresPool(const PostgresPool&) = delete;
    PostgresPool& operator=(const PostgresPool&) = delete;

    [[nodiscard]] Stats stats() const;

private:
    friend struct PostgresAccess;
    struct State;
    std::unique_ptr<State> state_;
};

// Tokens and sessions a server keeps at hand, by the SHA-256 of their secret, so that a request
// does not spend a transaction of its own on them. Every change that could end one (a token
// revoked, a user disabled or renamed, a session ended) counts up one counter in the
// database, in the transaction that makes it; a request let in from the cache reads that counter in its
// own first transaction, and is checked afresh when it moved. Revocation holds at once.
struct CredentialCacheSettings {
    std::chrono::milliseconds lifetime{0}; // 0: no cache
    std::size_t entries = 0;               // of tokens, and of sessions, each
};

// Administration of the team service's users: tenants, users, their tokens and project roles.
class PostgresAccounts final : public Accounts {
public:
    explicit PostgresAccounts(std::shared_ptr<PostgresPool> pool, CredentialCacheSettings cache = {});
    ~PostgresAccounts() override;

    // The token's user: nothing for an unknown, revoked or malformed token, or a disabled user's.
    // Always asks the database (and refreshes the cache).
    std::optional<UserRow> authenticate(const std::string& token) override;
    Admitted<UserRow> admit(const std::string& token) override;
    Admitted<WebSession> admit_session(const std::string& id, Millis now) override;
    // Credentials admitted from the cache, and those asked of the database, so far.
    [[nodiscard]] std::pair<std::uint64_t, std::uint64_t> cache_use() const;
    std::optional<std::pair<std::string, WebSession>> start_session(const std::string& token, Millis now,
                                                                    Millis expires) override;
    std::optional<WebSession> session(const std::string& id, Millis now) override;
    void end_session(const std::string& id) override;

    // Adds a tenant, or updates the one of that id.
    void add_tenant(const TenantRow& tenant);
    // Adds a user, or updates the one of that id, as a member of a tenant (by unique id), which it
    // sees from then on. Raises VyrCldapi::Exception (Argument) for an unknown tenant.
    void add_user(const UserRow& user, const std::string& tenantUniqueId);

    struct Token {
        std::string id;     // names the token for revocation; not a secret
        std::string secret; // 64 hex digits of 32 random bytes: shown once, kept only as its SHA-256
    };
    // Raises VyrCldapi::Exception: Argument for an unknown user, InvalidOperation for a disabled one.
    Token create_token(const std::string& userId);
    // Revokes a token named by its id, never by its secret, which an administrator should not have
    // to type where shell histories and process lists keep it; false when there was no such live
    // token.
    bool revoke_token(const std::string& id);
    struct TokenInfo {
        std::string id;
        Millis created = 0;
        std::optional<Millis> revoked;
    };
    // The user's tokens, oldest first, without their secrets, which are not kept. Raises
    // VyrCldapi::Exception (Argument) for an unknown user.
    std::vector<TokenInfo> tokens(const std::string& userId);
    // Gives the user a role on a project (replacing any other); the project's tenant becomes
    // visible to the user. Raises VyrCldapi::Exception (Argument) for an unknown user or project.
    void grant(const std::string& userId, const std::string& projectId, Role role);
    // Takes the user's role on a project away, from their next request on; false when they held
    // none there.
    bool revoke(const std::string& userId, const std::string& projectId);
    // A disabled user's tokens and browser sessions name nobody from their next request on, and no
    // token is created for them; enabled again, their live tokens and sessions serve as before.
    // Raises VyrCldapi::Exception (Argument) for an unknown user.
    void set_disabled(const std::string& userId, bool disabled);

    struct Cache;

private:
    std::shared_ptr<PostgresPool> pool_;
    std::shared_ptr<Cache> cache_;
};

// The requests a client may send again without acting twice, known by their user and the key the
// client chose (the same on every attempt of one call). The key's row is written in the same
// transaction as the request's change, so that both stand or neither does; the answer follows in
// a second short write. Rows are kept for a bounded time.
class PostgresRequestKeys {
public:
    struct Stored {
        std::optional<int> status; // nothing: the change was made, its answer was never stored
        std::string contentType;
        std::string body;
    };

    explicit PostgresRequestKeys(std::shared_ptr<PostgresPool> pool);

    // An earlier request's row of this key made at or after `notBefore`; an older one is ignored.
    std::optional<Stored> find(const std::string& userId, const std::string& key, Millis notBefore);
    void answer(const std::string& userId, const std::string& key, const Stored& stored);
    // Drops the rows made before `before`; answers how many.
    std::int64_t drop_older_than(Millis before);

    // While a scope lives on a thread, the first write transaction of the metadata store (on any
    // pool) on that thread records the key's row before its COMMIT. A write that finds the key
    // taken (a request of the same key acted meanwhile) raises RequestKeyTaken and changes nothing.
    class Scope {
    public:
        // A row of the key made before `notBefore` is taken over.
        Scope(std::string userId, std::string key, Millis now, Millis notBefore);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;
        // Whether a write committed with the key's row.
        [[nodiscard]] bool recorded() const;

        struct State;

    private:
        std::unique_ptr<State> state_;
        State* previous_;
    };

private:
    std::shared_ptr<PostgresPool> pool_;
};

struct RequestKeyTaken : VyrCldapi::Exception {
    RequestKeyTaken()
        : Exception(VyrCldapi::ExceptionKind::InvalidOperation, "A request of the same key acted meanwhile.")
    {
    }
};

// The metadata store on the pool. The working folders' records are not kept here.
std::shared_ptr<MetadataStore> postgres_store(std::shared_ptr<PostgresPool> pool);
// The same, on a pool of its own.
std::shared_ptr<MetadataStore> open_postgres_store(const PostgresSettings& settings);

// File contents in chunks of BlobStore::chunk_size, in the database: for small installations.
std::shared_ptr<BlobStore> postgres_blobs(std::shared_ptr<PostgresPool> pool);
// File contents as files in `folder`, one a blob, named by its hash, the uploads' metadata in the
// database. Any number of processes, on this machine or others, may share the folder and the
// database. Whole blobs kept by postgres_blobs before stay readable.
std::shared_ptr<BlobStore> file_blobs(std::shared_ptr<PostgresPool> pool, const std::filesystem::path& folder);

} // namespace vyr::cld::domain
