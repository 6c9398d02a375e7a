// The team service's stores on PostgreSQL: two pools on one database acting as one store,
// accounts, blobs, and a database out of reach.
#include "backends.h"
#include "own_cluster.h"

#include <vyr/cld/domain/sha256.h>

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <atomic>
#include <barrier>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

namespace vyr::cld::domain::test {
namespace {

// The user whose uploads the blob tests store.
const std::string uploader = "uploader";

std::string sha256(std::string_view bytes)
{
    Sha256 hasher;
    hasher.add(bytes);
    return hasher.hex();
}

// A project with one partition on the run's database, and two pools on it, as two server processes.
class Team : public ::testing::Test {
protected:
    void SetUp() override
    {
        tenant = new_tenant(accounts);
        owner = new_user(accounts, tenant.uniqueId, "owner");
        project = on(first, owner)->create_project(tenant.uniqueId, "P", "").value;
        space = on(first, owner)->create_partition(project.id, "S", 1).value;
    }
    UserRow member(const std::string& name)
    {
        auto user = new_user(accounts, tenant.uniqueId, name);
        accounts.grant(user.id, project.id, Role::Member);
        return user;
    }
    static std::unique_ptr<Domain> on(const std::shared_ptr<PostgresPool>& pool, const UserRow& user)
    {
        return store_domain(postgres_store(pool), user, clock_now);
    }

    std::shared_ptr<PostgresPool> first = std::make_shared<PostgresPool>(test_settings());
    std::shared_ptr<PostgresPool> second = std::make_shared<PostgresPool>(test_settings());
    PostgresAccounts accounts{first};
    TenantRow tenant;
    UserRow owner;
    ProjectRow project;
    SpaceRow space;
};

// 8 users on two pools race for one lock each round, and exactly one of them wins it.
TEST_F(Team, TwoStoresOnOneDatabaseGiveEachLockOnce)
{
    constexpr int users = 8;
    constexpr int rounds = 40;
    for (int round = 0; round < rounds; ++round) {
        ASSERT_EQ(on(first, owner)->commit({space.id, "r" + std::to_string(round), {}, "x", 1, false, false}).code,
                  created);
    }
    std::array<std::atomic<int>, rounds> winners{};
    std::atomic<int> failures{0};
    std::barrier start(users);
    std::vector<std::thread> threads;
    for (int i = 0; i < users; ++i) {
        threads.emplace_back([&, domain = on(i % 2 == 0 ? first : second, member("racer" + std::to_string(i)))] {
            for (int round = 0; round < rounds; ++round) {
                start.arrive_and_wait();
                const auto code = domain->lock(space.id, "r" + std::to_string(round)).code;
                if (code == ok) {
                    ++winners[round];
                } else if (code != conflict) {
                    ++failures;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures, 0);
    for (int round = 0; round < rounds; ++round) {
        EXPECT_EQ(winners[round], 1) << "round " << round;
    }
}

// 32 writers of one space on two pools all land, and a reader that follows the space's changes by
// its cursor while they write sees every file: change numbers are taken in commit order, at the
// end of each commit, so the reader's cursor never passes a number still to come, and the numbers
// are 1 to N without a gap.
TEST_F(Team, ConcurrentWritersOfOneSpaceAllLandAndAFollowerMissesNone)
{
    constexpr int writers = 32;
    constexpr int files = 10;
    std::atomic<int> refused{0};
    std::atomic<bool> writing{true};
    std::set<std::string> seen;
    std::set<std::int64_t> numbers;
    std::atomic<int> backwards{0};
    std::thread follower([&, domain = on(second, owner)] {
        std::int64_t cursor = 0;
        const auto follow = [&] {
            for (const auto& file : domain->changes(space.id, cursor)) {
                seen.insert(file.path);
                numbers.insert(file.seq);
                backwards += file.seq <= cursor ? 1 : 0;
                cursor = std::max(cursor, file.seq);
            }
        };
        while (writing) {
            follow();
        }
        follow();
    });
    std::vector<std::thread> threads;
    for (int i = 0; i < writers; ++i) {
        threads.emplace_back([&, i, domain = on(i % 2 == 0 ? first : second, member("writer" + std::to_string(i)))] {
            for (int f = 0; f < files; ++f) {
                const auto name = "w" + std::to_string(i) + "-" + std::to_string(f);
                refused += domain->commit({space.id, name, {}, "x", 1, false, false}).code == created ? 0 : 1;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    writing = false;
    follower.join();
    EXPECT_EQ(refused, 0);
    EXPECT_EQ(backwards, 0);
    EXPECT_EQ(seen.size(), std::size_t{writers * files});
    EXPECT_EQ(numbers.size(), std::size_t{writers * files});
    EXPECT_EQ(*numbers.begin(), 1);
    EXPECT_EQ(*numbers.rbegin(), writers * files);
}

// Two commits on one base: one of them is refused, whichever pool served it.
TEST_F(Team, TwoCommitsOnOneBaseNeverBothWin)
{
    const auto a = on(first, member("anna"));
    const auto b = on(second, member("bert"));
    for (int round = 0; round < 20; ++round) {
        const auto name = "c" + std::to_string(round);
        const auto file = a->commit({space.id, name, {}, "base", 4, false, false}).value;
        std::array<int, 2> codes{};
        std::barrier start(2);
        std::thread other([&] {
            start.arrive_and_wait();
            codes[1] = b->commit({space.id, name, Base{file.id, 1}, "bert", 4, false, false}).code;
        });
        start.arrive_and_wait();
        codes[0] = a->commit({space.id, name, Base{file.id, 1}, "anna", 4, false, false}).code;
        other.join();
        std::sort(codes.begin(), codes.end());
        EXPECT_EQ(codes, (std::array<int, 2>{ok, conflict})) << name;
    }
}

// Events nobody takes stay bounded: a post drops the user's events beyond the newest count and
// those older than the age the store was given (by default 1000 and a week), and nobody else's.
TEST_F(Team, EventsNobodyTakesStayBounded)
{
    const auto hour = std::int64_t{3600 * 1000};
    const struct {
        const char* what;
        std::optional<std::pair<std::chrono::milliseconds, int>> retention; // the defaults when empty
        int count;
        std::int64_t age; // of the old events
    } cases[] = {
        {"the defaults", std::nullopt, 1000, 8 * 24 * hour},
        {"an hour and 50", std::pair{std::chrono::hours(1), 50}, 50, 2 * hour},
    };
    int n = 0;
    for (const auto& c : cases) {
        auto settings = test_settings();
        if (c.retention) {
            settings.eventMaxAge = c.retention->first;
            settings.eventMaxCount = c.retention->second;
        }
        const auto pool = std::make_shared<PostgresPool>(settings);
        const auto user = member("poster" + std::to_string(++n));
        const auto other = member("bystander" + std::to_string(n));
        pqxx::connection direct(test_settings().url);
        {
            pqxx::work tx(direct);
            tx.exec_params("INSERT INTO events(user_id, type, status, response_id, time) SELECT $1, 1, 0, '', 0 FROM "
                           "generate_series(1, 3)",
                           other.id);
            // The first is too old whatever the count; the rest are recent.
            tx.exec_params("INSERT INTO events(user_id, type, status, response_id, time) SELECT $1, 1, 0, '', "
                           "CASE WHEN i = 1 THEN $2::bigint ELSE $3::bigint END FROM generate_series(1, $4) i",
                           user.id, clock_now() - c.age, clock_now(), c.count + 100);
            tx.commit();
        }
        const auto count = [&](const UserRow& whose) {
            pqxx::work tx(direct);
            return tx.exec_params("SELECT count(*), min(time) FROM events WHERE user_id = $1", whose.id)[0];
        };
        ASSERT_EQ(count(user)[0].as<int>(), c.count + 100) << c.what;
        const auto domain = on(pool, user);
        ASSERT_EQ(domain->commit({space.id, "posted" + std::to_string(n), {}, "x", 1, false, false}).code, created)
            << c.what;
        const auto after = count(user);
        EXPECT_EQ(after[0].as<int>(), c.count) << c.what;
        EXPECT_GT(after[1].as<std::int64_t>(), clock_now() - c.age + hour / 2) << c.what; // the old one went
        EXPECT_EQ(count(other)[0].as<int>(), 3) << c.what; // another user's wait for their own post
    }
}

TEST(Postgres, UsersSeeOnlyTheirTenants)
{
    auto pool = std::make_shared<PostgresPool>(test_settings());
    PostgresAccounts accounts(pool);
    const auto mine = new_tenant(accounts);
    const auto theirs = new_tenant(accounts);
    const auto me = store_domain(postgres_store(pool), new_user(accounts, mine.uniqueId, "me"), clock_now);
    const auto them = store_domain(postgres_store(pool), new_user(accounts, theirs.uniqueId, "them"), clock_now);
    const auto project = them->create_project(theirs.uniqueId, "Theirs", "T-1").value;

    const auto tenants = me->tenants();
    ASSERT_EQ(tenants.size(), 1u);
    EXPECT_EQ(tenants[0].uniqueId, mine.uniqueId);
    EXPECT_FALSE(me->tenant(theirs.uniqueId));
    EXPECT_EQ(me->projects(theirs.uniqueId).code, not_found);
    EXPECT_EQ(me->create_project(theirs.uniqueId, "Mine", "").code, not_found);
    EXPECT_EQ(me->project(project.id).code, not_found);
    // A grant on one of its projects shows the tenant, and that project only.
    accounts.grant(me->user().id, project.id, Role::Member);
    them->create_project(theirs.uniqueId, "Other", "T-2");
    EXPECT_TRUE(me->tenant(theirs.uniqueId));
    EXPECT_EQ(me->projects(theirs.uniqueId).value.size(), 1u);
}

TEST(Postgres, TokensNameTheirUserUntilRevoked)
{
    PostgresAccounts accounts(std::make_shared<PostgresPool>(test_settings()));
    const auto tenant = new_tenant(accounts);
    const auto user = new_user(accounts, tenant.uniqueId, "tess");
    const auto kept = accounts.create_token(user.id);
    const auto byId = accounts.create_token(user.id);
    const auto bySecret = accounts.create_token(user.id);
    ASSERT_EQ(kept.secret.size(), 64u);
    EXPECT_TRUE(accounts.revoke_token(byId.id));
    EXPECT_FALSE(accounts.revoke_token(bySecret.secret)); // by its id only
    EXPECT_FALSE(accounts.revoke_token(byId.id));         // once
    EXPECT_THROW(accounts.create_token("nobody"), VyrCldapi::Exception);

    struct Case {
        const char* what;
        std::string token;
        bool known;
    };
    std::string upper = kept.secret;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return char(std::toupper(c)); });
    const std::vector<Case> cases{
        {"live", kept.secret, true},
        {"revoked by id", byId.secret, false},
        {"named by its secret to revoke it", bySecret.secret, true},
        {"unknown", sha256("guess"), false},
        {"its hash", sha256(kept.secret), false},
        {"its id", kept.id, false},
        {"upper case", upper, upper == kept.secret},
        {"empty", "", false},
        {"SQL", "' OR 1=1 --", false},
    };
    for (const auto& c : cases) {
        const auto found = accounts.authenticate(c.token);
        EXPECT_EQ(found.has_value(), c.known) << c.what;
        if (found) {
            EXPECT_EQ(found->id, user.id) << c.what;
        }
    }
}

// A server's cache of credentials (one process) against an administrator's changes (another):
// a request let in from the cache does nothing once they changed, whichever way.
TEST(Postgres, CachedCredentialsAreCheckedByTheRequestsOwnTransaction)
{
    const auto pool = std::make_shared<PostgresPool>(test_settings());
    PostgresAccounts server(pool, {std::chrono::minutes(1), 8});
    PostgresAccounts admin(std::make_shared<PostgresPool>(test_settings()));
    const auto tenant = new_tenant(admin);
    const auto store = postgres_store(pool);
    const struct {
        const char* what;
        std::function<void(const UserRow&, const PostgresAccounts::Token&, const std::string& session)> change;
        bool counted;        // whether it moves the counter, so that every cached entry is asked again
        bool token, session; // whether each is admitted afterwards
    } cases[] = {
        {"nothing", [](auto&&...) {}, false, true, true},
        {"token revoked", [&](const UserRow&, const PostgresAccounts::Token& t, auto&) { admin.revoke_token(t.id); },
         true, false, false},
        {"user disabled", [&](const UserRow& u, auto&&...) { admin.set_disabled(u.id, true); }, true, false, false},
        {"session ended", [&](const UserRow&, auto&, const std::string& s) { admin.end_session(s); }, true, true,
         false},
        {"another user's token revoked",
         [&](auto&&...) { admin.revoke_token(admin.create_token(new_user(admin, tenant.uniqueId, "x").id).id); },
         true, true, true},
        {"a user and a token added", [&](auto&&...) { admin.create_token(new_user(admin, tenant.uniqueId, "y").id); },
         false, true, true},
    };
    int n = 0;
    for (const auto& c : cases) {
        const auto user = new_user(admin, tenant.uniqueId, "cached" + std::to_string(++n));
        const auto token = admin.create_token(user.id);
        const auto now = clock_now();
        const auto session = admin.start_session(token.secret, now, now + 60000).value().first;
        EXPECT_FALSE(server.admit(token.secret).check) << c.what; // asked of the database, then kept
        EXPECT_FALSE(server.admit_session(session, now).check) << c.what;
        c.change(user, token, session);
        const auto [hits, misses] = server.cache_use();
        {
            // Still in the cache: the request's first transaction tells.
            auto admitted = server.admit(token.secret);
            ASSERT_TRUE(admitted.who && admitted.check) << c.what;
            const auto read = [&] { store->read([](Records& r) { r.tenants(); }); };
            if (!c.counted) {
                EXPECT_NO_THROW(read()) << c.what;
                EXPECT_NO_THROW(admitted.check->confirm()) << c.what;
            } else {
                EXPECT_THROW(read(), CredentialsChanged) << c.what;
                EXPECT_THROW(read(), CredentialsChanged) << c.what; // and every transaction after it
                EXPECT_THROW(admitted.check->confirm(), CredentialsChanged) << c.what;
            }
        }
        {
            // A request that runs no transaction of its own is confirmed before its answer.
            auto admitted = server.admit_session(session, now);
            EXPECT_EQ(admitted.check != nullptr, !c.counted) << c.what; // all asked again once counted
            if (admitted.check) {
                EXPECT_NO_THROW(admitted.check->confirm()) << c.what;
            }
        }
        EXPECT_EQ(server.admit(token.secret).who.has_value(), c.token) << c.what;
        EXPECT_EQ(server.admit_session(session, now).who.has_value(), c.session) << c.what;
        EXPECT_GT(server.cache_use().first, hits) << c.what;
        EXPECT_GE(server.cache_use().second, misses) << c.what;
    }
}

// A browser's session is known by its id only, until its time is up, it is ended, or the token it
// was started with is revoked.
TEST(Postgres, ASessionLastsWhileItsTimeAndItsToken)
{
    PostgresAccounts accounts(std::make_shared<PostgresPool>(test_settings()));
    const auto tenant = new_tenant(accounts);
    const auto user = new_user(accounts, tenant.uniqueId, "sven");
    const auto token = accounts.create_token(user.id);
    const auto now = clock_now();
    EXPECT_FALSE(accounts.start_session(sha256("guess"), now, now + 60000));
    EXPECT_FALSE(accounts.start_session("' OR 1=1 --", now, now + 60000));
    const auto started = accounts.start_session(token.secret, now, now + 60000);
    ASSERT_TRUE(started);
    const auto& [id, session] = *started;
    EXPECT_EQ(id.size(), 64u);
    EXPECT_EQ(session.csrf.size(), 64u);
    EXPECT_EQ(session.user.id, user.id);

    const struct {
        const char* what;
        std::string id;
        Millis at;
        bool known;
    } cases[] = {
        {"live", id, now, true},
        {"at its end", id, now + 60000, false},
        {"its hash", sha256(id), now, false},
        {"the token", token.secret, now, false},
        {"the CSRF token", session.csrf, now, false},
        {"empty", "", now, false},
    };
    for (const auto& c : cases) {
        const auto found = accounts.session(c.id, c.at);
        EXPECT_EQ(found.has_value(), c.known) << c.what;
        if (found) {
            EXPECT_EQ(found->csrf, session.csrf) << c.what;
        }
    }
    const auto other = accounts.start_session(token.secret, now, now + 60000);
    ASSERT_TRUE(other);
    EXPECT_NE(other->second.csrf, session.csrf);
    accounts.end_session(other->first);
    EXPECT_FALSE(accounts.session(other->first, now));
    EXPECT_TRUE(accounts.session(id, now));
    accounts.set_disabled(user.id, true);
    EXPECT_FALSE(accounts.session(id, now));
    EXPECT_FALSE(accounts.start_session(token.secret, now, now + 60000));
    accounts.set_disabled(user.id, false);
    EXPECT_TRUE(accounts.session(id, now));
    accounts.revoke_token(token.id);
    EXPECT_FALSE(accounts.session(id, now));
}

// The blob tests run on both content stores, the chunk table and files in a folder, each with
// bytes and an uploader of its own, as both keep their metadata in the one database.
class Blobs : public ::testing::TestWithParam<std::string> {
protected:
    static std::filesystem::path folder()
    {
        return std::filesystem::temp_directory_path() / ("vyr-cld-contents-" + std::to_string(getpid()));
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(folder()); }
    // A store as another server process would open it.
    static std::shared_ptr<BlobStore> open()
    {
        const auto pool = std::make_shared<PostgresPool>(test_settings());
        return GetParam() == "files" ? file_blobs(pool, folder()) : postgres_blobs(pool);
    }
    const std::string mine = "uploader-" + GetParam();
    const char salt = GetParam()[0];
};
INSTANTIATE_TEST_SUITE_P(Stores, Blobs, ::testing::Values("table", "files"));

// Uploads of every size around a chunk's, each finished, read back and written only once.
TEST_P(Blobs, OfSizesAroundAChunk)
{
    const auto blobs = open();
    const auto chunk = BlobStore::chunk_size;
    for (const std::int64_t size : {std::int64_t{0}, std::int64_t{1}, chunk - 1, chunk, chunk + 1}) {
        std::string bytes(static_cast<std::size_t>(size), '\0');
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(size) + salt) % 251);
        }
        const auto hash = sha256(bytes);
        for (std::int64_t at = 0; at < size || at == 0; at += chunk) {
            blobs->put_chunk(mine, hash, at, std::string_view(bytes).substr(at, chunk));
            if (size == 0) {
                break;
            }
        }
        EXPECT_FALSE(blobs->size(mine, hash)) << size;
        ASSERT_TRUE(blobs->finish(mine, hash, size)) << size;
        EXPECT_EQ(blobs->size(mine, hash), size);
        std::string back;
        for (std::int64_t at = 0; at < size; at += chunk) {
            back += blobs->chunk(hash, at);
        }
        EXPECT_TRUE(back == bytes) << size;
        // Written once: another upload of it changes nothing.
        const auto again = blobs->put_chunk(mine, hash, 0, "other bytes");
        EXPECT_TRUE(again.whole);
        EXPECT_EQ(again.held, size);
        EXPECT_TRUE(blobs->finish(mine, hash, size));
        EXPECT_EQ(blobs->size(mine, hash), size);
        if (size > 0) {
            EXPECT_EQ(blobs->chunk(hash, 0), bytes.substr(0, static_cast<std::size_t>(std::min(size, chunk))));
        }
    }
}

TEST_P(Blobs, UploadsResumeAndWrongBytesAreDropped)
{
    const auto chunk = BlobStore::chunk_size;
    std::string bytes(static_cast<std::size_t>(2 * chunk + 100), 'b');
    bytes[5] = 'x';
    bytes[6] = salt;
    const auto hash = sha256(bytes);
    const auto view = std::string_view(bytes);

    open()->put_chunk(mine, hash, 0, view.substr(0, chunk));
    // Another process resumes after the last whole chunk; gaps and odd offsets are refused.
    const auto blobs = open();
    EXPECT_EQ(blobs->received(mine, hash), chunk);
    EXPECT_THROW(blobs->put_chunk(mine, hash, (1 + BlobStore::upload_window) * chunk, view.substr(0, chunk)),
                 ChunkOutOfPlace);
    EXPECT_THROW(blobs->put_chunk(mine, hash, 100, "x"), VyrCldapi::Exception);
    EXPECT_THROW(blobs->put_chunk(mine, "not a hash", 0, "x"), VyrCldapi::Exception);
    EXPECT_THROW(blobs->chunk(hash, 0), VyrCldapi::Exception); // never served before it is whole
    EXPECT_EQ(blobs->put_chunk(mine, hash, chunk, view.substr(chunk, chunk)).held, 2 * chunk);
    EXPECT_EQ(blobs->put_chunk(mine, hash, 2 * chunk, view.substr(2 * chunk)).held, std::int64_t(bytes.size()));
    // A chunk stored again with other bytes drops those after it.
    std::string other(view.substr(chunk, chunk));
    other[0] = '!';
    EXPECT_EQ(blobs->put_chunk(mine, hash, chunk, other).held, 2 * chunk);
    EXPECT_EQ(blobs->received(mine, hash), 2 * chunk);
    blobs->put_chunk(mine, hash, chunk, view.substr(chunk, chunk));
    blobs->put_chunk(mine, hash, 2 * chunk, view.substr(2 * chunk));
    EXPECT_FALSE(blobs->finish(mine, hash, static_cast<std::int64_t>(bytes.size()) + 1)); // a wrong size drops it
    EXPECT_EQ(blobs->received(mine, hash), 0);

    // Bytes that do not hash to the name are dropped; the right ones then make it whole.
    std::string wrong = bytes;
    wrong[7] = 'y';
    for (std::int64_t at = 0; at < std::int64_t(bytes.size()); at += chunk) {
        blobs->put_chunk(mine, hash, at, std::string_view(wrong).substr(at, chunk));
    }
    EXPECT_FALSE(blobs->finish(mine, hash, std::int64_t(bytes.size())));
    EXPECT_EQ(blobs->received(mine, hash), 0);
    EXPECT_FALSE(blobs->size(mine, hash));
    for (std::int64_t at = 0; at < std::int64_t(bytes.size()); at += chunk) {
        blobs->put_chunk(mine, hash, at, view.substr(at, chunk));
    }
    EXPECT_TRUE(blobs->finish(mine, hash, std::int64_t(bytes.size())));
    EXPECT_EQ(blobs->chunk(hash, 2 * chunk), bytes.substr(2 * chunk));
}

// Several chunks of an upload in flight: any chunk within the window of where the upload stands is
// taken, in any order; one ahead of a gap is kept and counted once the gap fills, and the digest
// is carried over it then, so that finishing reads nothing back from the chunk table.
TEST_P(Blobs, ChunksAreTakenInAnyOrderWithinTheWindow)
{
    const auto chunk = BlobStore::chunk_size;
    constexpr std::int64_t refused = -1;
    struct Put {
        int index;          // of the chunk; 4 and beyond carry the first chunk's bytes
        bool wrong;         // a byte of it differs from the blob's
        std::int64_t holds; // whole chunks where the upload stands after it (4: all), or refused
    };
    struct Case {
        const char* what;
        std::vector<Put> puts;
        bool whole;
    };
    const Case cases[] = {
        {"out of order within the window", {{2, false, 0}, {3, false, 0}, {1, false, 0}, {0, false, 4}}, true},
        {"beyond the window, or after the short last chunk",
         {{0, false, 1}, {5, false, refused}, {3, false, 1}, {1, false, 2}, {2, false, 4}, {4, false, refused}}, true},
        {"the same bytes again", {{0, false, 1}, {2, false, 1}, {2, false, 1}, {1, false, 3}, {3, false, 4}}, true},
        {"other bytes again drop what follows",
         {{0, false, 1}, {1, false, 2}, {2, false, 3}, {1, true, 2}, {1, false, 2}, {2, false, 3}, {3, false, 4}},
         true},
        {"wrong bytes ahead of a gap", {{0, false, 1}, {2, true, 1}, {1, false, 3}, {3, false, 4}}, false},
    };
    const auto blobs = open();
    char seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes(static_cast<std::size_t>(3 * chunk + 100), 'w');
        bytes[0] = ++seed;
        bytes[1] = salt;
        const auto size = static_cast<std::int64_t>(bytes.size());
        const auto hash = sha256(bytes);
        for (const auto& put : c.puts) {
            SCOPED_TRACE(put.index);
            std::string piece = bytes.substr(static_cast<std::size_t>(put.index < 4 ? put.index * chunk : 0),
                                             static_cast<std::size_t>(chunk));
            if (put.wrong) {
                piece[9] = '!';
            }
            const auto offset = put.index * chunk;
            if (put.holds == refused) {
                EXPECT_THROW(blobs->put_chunk(mine, hash, offset, piece), ChunkOutOfPlace);
                continue;
            }
            const auto holds = std::min(put.holds * chunk, size);
            EXPECT_EQ(blobs->put_chunk(mine, hash, offset, piece).held, holds);
            EXPECT_EQ(blobs->received(mine, hash), holds);
        }
        if (GetParam() == "table" && c.whole) {
            pqxx::connection direct(test_settings().url);
            pqxx::work tx(direct);
            EXPECT_EQ(tx.exec_params1("SELECT count(*) FROM blob_chunks WHERE owner = $1 AND hash = $2 AND state IS "
                                      "NULL",
                                      mine, hash)[0]
                          .as<int>(),
                      0);
        }
        EXPECT_EQ(blobs->finish(mine, hash, size), c.whole);
        EXPECT_EQ(blobs->size(mine, hash).has_value(), c.whole);
        if (!c.whole) {
            EXPECT_EQ(blobs->received(mine, hash), 0); // dropped
        } else {
            EXPECT_EQ(blobs->chunk(hash, 2 * chunk), bytes.substr(static_cast<std::size_t>(2 * chunk), chunk));
        }
    }
}

// An upload is its uploader's alone: another user's chunks and finish never reach it.
TEST_P(Blobs, AnUploadIsItsUploadersAlone)
{
    const auto chunk = BlobStore::chunk_size;
    const std::string bytes = std::string(static_cast<std::size_t>(chunk), salt) + "tail";
    const auto hash = sha256(bytes);
    const auto blobs = open();
    const std::string other = mine + "-other";
    blobs->put_chunk(mine, hash, 0, std::string_view(bytes).substr(0, chunk));
    EXPECT_EQ(blobs->received(other, hash), 0);
    EXPECT_THROW(blobs->put_chunk(other, hash, BlobStore::upload_window * chunk, "tail"), ChunkOutOfPlace);
    EXPECT_FALSE(blobs->finish(other, hash, std::int64_t(bytes.size())));
    blobs->put_chunk(other, hash, 0, "spoilt");
    EXPECT_EQ(blobs->put_chunk(mine, hash, chunk, "tail").held, std::int64_t(bytes.size()));
    EXPECT_TRUE(blobs->finish(mine, hash, std::int64_t(bytes.size())));
    EXPECT_FALSE(blobs->size(other, hash));
    EXPECT_EQ(blobs->whole_size(hash), std::int64_t(bytes.size()));
    EXPECT_EQ(blobs->chunk(hash, chunk), "tail");
}

// Gc drops the uploads that took no chunk since the time given, and only those; one dropped
// starts again from nothing.
TEST_P(Blobs, GcDropsOnlyAbandonedUploads)
{
    const auto blobs = open();
    const auto abandoned = sha256(std::string("abandoned ") + salt);
    const auto whole = sha256(std::string("whole ") + salt);
    blobs->put_chunk(mine, abandoned, 0, "abandoned ");
    blobs->put_chunk(mine, whole, 0, std::string("whole ") + salt);
    ASSERT_TRUE(blobs->finish(mine, whole, 7));
    blobs->drop_unfinished(clock_now() - 60000);
    EXPECT_EQ(blobs->received(mine, abandoned), 10);
    EXPECT_GE(blobs->drop_unfinished(clock_now() + 1000), 1);
    EXPECT_EQ(blobs->received(mine, abandoned), 0);
    EXPECT_EQ(blobs->chunk(whole, 0), std::string("whole ") + salt);
    EXPECT_EQ(blobs->put_chunk(mine, abandoned, 0, "abandoned ").held, 10);
}

// On the file system a chunk's file that was damaged or lost before the upload finished never
// makes the blob whole; whole, the blob is one file named by its hash, read without the database.
TEST(FileBlobs, DamagedChunkFilesNeverMakeABlobWhole)
{
    const auto folder = std::filesystem::temp_directory_path() / ("vyr-cld-damage-" + std::to_string(getpid()));
    const auto blobs = file_blobs(std::make_shared<PostgresPool>(test_settings()), folder);
    const auto chunk = BlobStore::chunk_size;
    struct Case {
        const char* what;
        std::function<void(const std::filesystem::path&)> harm; // on the file of the second chunk
        bool whole;
    };
    const Case cases[] = {
        {"untouched", [](const std::filesystem::path&) {}, true},
        {"a byte changed", [](const std::filesystem::path& p) { std::fstream(p, std::ios::in | std::ios::out | std::ios::binary).put('!'); }, false},
        {"cut short", [](const std::filesystem::path& p) { std::filesystem::resize_file(p, 3); }, false},
        {"removed", [](const std::filesystem::path& p) { std::filesystem::remove(p); }, false},
    };
    char seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes(static_cast<std::size_t>(chunk + 50), 'd');
        bytes[0] = ++seed;
        const auto hash = sha256(bytes);
        blobs->put_chunk("damaged", hash, 0, std::string_view(bytes).substr(0, chunk));
        blobs->put_chunk("damaged", hash, chunk, std::string_view(bytes).substr(chunk));
        std::vector<std::filesystem::path> second;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(folder / "uploads")) {
            if (entry.path().parent_path().filename() == hash && entry.path().filename().string().rfind(std::to_string(chunk) + "-", 0) == 0) {
                second.push_back(entry.path());
            }
        }
        ASSERT_EQ(second.size(), 1u);
        c.harm(second[0]);
        EXPECT_EQ(blobs->finish("damaged", hash, std::int64_t(bytes.size())), c.whole);
        EXPECT_EQ(blobs->size("damaged", hash).has_value(), c.whole);
        EXPECT_EQ(blobs->received("damaged", hash), 0); // whole, or dropped
        EXPECT_EQ(std::filesystem::exists(folder / "blobs" / hash.substr(0, 2) / hash), c.whole);
        if (c.whole) {
            EXPECT_EQ(blobs->chunk(hash, chunk), bytes.substr(chunk));
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(folder / "staging"));
    std::filesystem::remove_all(folder);
}

// A store moved from the chunk table to files keeps serving the blobs the table holds whole.
TEST(FileBlobs, BlobsWholeInTheTableStayReadable)
{
    const auto folder = std::filesystem::temp_directory_path() / ("vyr-cld-moved-" + std::to_string(getpid()));
    const auto pool = std::make_shared<PostgresPool>(test_settings());
    const std::string bytes = "kept in the table";
    const auto hash = sha256(bytes);
    const auto table = postgres_blobs(pool);
    table->put_chunk("mover", hash, 0, bytes);
    ASSERT_TRUE(table->finish("mover", hash, std::int64_t(bytes.size())));
    const auto files = file_blobs(pool, folder);
    EXPECT_EQ(files->size("mover", hash), std::int64_t(bytes.size()));
    EXPECT_EQ(files->chunk(hash, 0), bytes);
    EXPECT_THROW(files->chunk(sha256("nothing"), 0), VyrCldapi::Exception);
    std::filesystem::remove_all(folder);
}

// Finishing a blob takes its digest from the state kept with the last chunk; chunks stored
// without one (as before the state was kept) are read back instead. Either way only the bytes of
// the name make the blob whole.
TEST(Postgres, BlobsFinishFromTheKeptDigestOrByReadingBack)
{
    const auto chunk = BlobStore::chunk_size;
    struct Case {
        const char* what;
        int clearedAfter; // the states are cleared after this many chunks were stored; 0 never
        bool wrong;       // the bytes stored differ from the name's in the last chunk
        bool whole;
    };
    const Case cases[] = {
        {"kept", 0, false, true},
        {"kept, other bytes", 0, true, false},
        {"none kept", 3, false, true},
        {"none kept, other bytes", 3, true, false},
        {"lost after the first chunk, none after it", 1, false, true},
    };
    const auto blobs = postgres_blobs(std::make_shared<PostgresPool>(test_settings()));
    pqxx::connection direct(test_settings().url);
    char seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes(static_cast<std::size_t>(2 * chunk + 300), 'a');
        bytes[0] = ++seed;
        const auto hash = sha256(bytes);
        if (c.wrong) {
            bytes[static_cast<std::size_t>(2 * chunk + 7)] = 'z';
        }
        int stored = 0;
        for (std::int64_t at = 0; at < std::int64_t(bytes.size()); at += chunk) {
            blobs->put_chunk(uploader, hash, at, std::string_view(bytes).substr(at, chunk));
            if (++stored == c.clearedAfter) {
                pqxx::work tx(direct);
                tx.exec_params("UPDATE blob_chunks SET state = NULL WHERE owner = $1 AND hash = $2", uploader, hash);
                tx.commit();
            }
        }
        EXPECT_EQ(blobs->received(uploader, hash), std::int64_t(bytes.size()));
        EXPECT_EQ(blobs->finish(uploader, hash, std::int64_t(bytes.size())), c.whole);
        EXPECT_EQ(blobs->size(uploader, hash).has_value(), c.whole);
    }
}

// A database of schema 7: its live files get their folders, counted, and their name order; a
// deleted file counts nowhere.
TEST(Postgres, FilesOfSchemaSevenGetTheirFolders)
{
    const auto name = "vyr_cld_test_" + new_id();
    pqxx::connection admin("dbname=postgres");
    pqxx::nontransaction(admin).exec("CREATE DATABASE " + name);
    const auto url = "dbname=" + name;
    ASSERT_EQ(migrate_postgres(url, 7), 7);
    {
        pqxx::connection connection(url);
        pqxx::work tx(connection);
        tx.exec("INSERT INTO tenants VALUES('t', 't', 'T', TRUE, 'p', 'o');"
                "INSERT INTO users VALUES('member', 'M', 'm@example.org');"
                "INSERT INTO tenant_members VALUES('member', 't');"
                "INSERT INTO projects VALUES('p', 't', 'P', '', '', 0);"
                "INSERT INTO project_roles VALUES('member', 'p', FALSE);"
                "INSERT INTO spaces VALUES('s', 0, 'p', NULL, 'S', 1, 4);"
                "INSERT INTO files VALUES('a', 's', 'Plans/liggende 21.dwg', 'plans/liggende 21.dwg', 1, 'b', 1, FALSE, "
                "NULL, NULL, 1), ('b', 's', 'Plans/liggende 5.dwg', 'plans/liggende 5.dwg', 1, 'b', 1, FALSE, NULL, "
                "NULL, 2), ('c', 's', 'Plans/Old/gone.dwg', 'plans/old/gone.dwg', 2, 'b', 0, TRUE, NULL, NULL, 3), "
                "('d', 's', 'top.txt', 'top.txt', 1, 'b', 1, FALSE, NULL, NULL, 4);"
                "INSERT INTO revisions VALUES('a', 1, 'Plans/liggende 21.dwg', 'b', 1, FALSE, 'member', 7, 1), "
                "('b', 1, 'Plans/liggende 5.dwg', 'b', 1, FALSE, 'member', 8, 2), "
                "('d', 1, 'top.txt', 'b', 1, FALSE, 'member', 9, 4);");
        tx.commit();
    }
    EXPECT_EQ(migrate_postgres(url), postgres_schema_version());
    PostgresSettings settings;
    settings.url = url;
    {
        const auto domain = store_domain(open_postgres_store(settings), {"member", "M", "m@example.org"}, clock_now);
        const auto top = domain->folder("s", {});
        ASSERT_EQ(top.code, ok);
        EXPECT_EQ(top.value.folder.files, 3);
        ASSERT_EQ(top.value.folders.size(), 1u);
        EXPECT_EQ(top.value.folders[0].path, "Plans");
        EXPECT_EQ(top.value.folders[0].files, 2);
        const auto plans = domain->folder("s", {.folder = "Plans"}).value;
        ASSERT_EQ(plans.files.size(), 2u);
        EXPECT_EQ(plans.files[0].path, "Plans/liggende 5.dwg");
        EXPECT_EQ(plans.files[0].changed, 8);
        EXPECT_TRUE(plans.folders.empty());
        EXPECT_EQ(domain->folder("s", {.folder = "Plans/Old"}).code, not_found);
    }
    pqxx::nontransaction(admin).exec("DROP DATABASE " + name + " WITH (FORCE)");
}

// A database of schema 4: its whole blobs stay readable through the revisions that name them,
// to a member of the project and to nobody else; its unfinished uploads, whose uploader is not
// known, are dropped.
TEST(Postgres, BlobsOfSchemaFourStayReadableToWhoMayReadTheirRevisions)
{
    const auto name = "vyr_cld_test_" + new_id();
    pqxx::connection admin("dbname=postgres");
    pqxx::nontransaction(admin).exec("CREATE DATABASE " + name);
    const auto url = "dbname=" + name;
    ASSERT_EQ(migrate_postgres(url, 4), 4);
    const std::string bytes = "legacy bytes";
    const auto whole = sha256(bytes);
    const auto unfinished = sha256("never finished");
    {
        pqxx::connection connection(url);
        pqxx::work tx(connection);
        tx.exec("INSERT INTO tenants VALUES('t', 't', 'T', TRUE, 'p', 'o');"
                "INSERT INTO users VALUES('member', 'M', 'm@example.org'), ('stranger', 'S', 's@example.org');"
                "INSERT INTO tenant_members VALUES('member', 't'), ('stranger', 't');"
                "INSERT INTO projects VALUES('p', 't', 'P', '', '', 0);"
                "INSERT INTO project_roles VALUES('member', 'p', FALSE);"
                "INSERT INTO spaces VALUES('s', 0, 'p', NULL, 'S', 1, 1);");
        tx.exec_params("INSERT INTO files VALUES('f', 's', 'a.txt', 'a.txt', 1, $1, $2, FALSE, NULL, NULL, 1)", whole,
                       std::int64_t(bytes.size()));
        tx.exec_params("INSERT INTO revisions VALUES('f', 1, 'a.txt', $1, $2, FALSE, 'member', 0, 1)", whole,
                       std::int64_t(bytes.size()));
        tx.exec_params("INSERT INTO blobs VALUES($1, $2, TRUE, NULL), ($3, 0, FALSE, 1)", whole, std::int64_t(bytes.size()),
                       unfinished);
        tx.exec_params("INSERT INTO blob_chunks VALUES($1, 0, convert_to($2, 'UTF8'), NULL), "
                       "($3, 0, convert_to('never', 'UTF8'), NULL)",
                       whole, bytes, unfinished);
        tx.commit();
    }
    EXPECT_EQ(migrate_postgres(url), postgres_schema_version());

    PostgresSettings settings;
    settings.url = url;
    {
        const auto pool = std::make_shared<PostgresPool>(settings);
        const auto store = postgres_store(pool);
        const auto blobs = postgres_blobs(pool);
        EXPECT_TRUE(store_domain(store, {"member", "M", "m@example.org"}, clock_now)->reads_blob(whole));
        EXPECT_FALSE(store_domain(store, {"stranger", "S", "s@example.org"}, clock_now)->reads_blob(whole));
        EXPECT_FALSE(blobs->size("member", whole)); // nobody's own upload
        EXPECT_EQ(blobs->whole_size(whole), std::int64_t(bytes.size()));
        EXPECT_EQ(blobs->chunk(whole, 0), bytes);
        EXPECT_FALSE(blobs->whole_size(unfinished));
        pqxx::connection connection(url);
        pqxx::work tx(connection);
        EXPECT_EQ(tx.exec1("SELECT count(*) FROM blob_chunks")[0].as<int>(), 1);
    }
    pqxx::nontransaction(admin).exec("DROP DATABASE " + name + " WITH (FORCE)");
}

// A database out of reach is StoreUnavailable, quickly; connections the server dropped are
// replaced without the caller seeing it.
TEST_F(Team, ADatabaseOutOfReachAndConnectionsLost)
{
    auto settings = test_settings();
    settings.url = "host=127.0.0.1 port=1 dbname=none";
    settings.connectTimeout = std::chrono::seconds{2};
    EXPECT_THROW(on(std::make_shared<PostgresPool>(settings), owner)->tenants(), StoreUnavailable);

    const auto domain = on(first, owner);
    ASSERT_EQ(domain->tenants().size(), 1u);
    EXPECT_GE(first->stats().open, 1);
    pqxx::connection admin(test_settings().url);
    pqxx::nontransaction(admin).exec(
        "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
        "pg_backend_pid()");
    EXPECT_EQ(domain->tenants().size(), 1u);
    EXPECT_EQ(first->stats().inUse, 0);
}

// A row held by a transaction that does not end: the wait for it is bounded, then the row is free.
TEST_F(Team, ARowHeldElsewhereIsWaitedForBriefly)
{
    ASSERT_EQ(on(first, owner)->commit({space.id, "held.txt", {}, "h", 1, false, false}).code, created);
    auto settings = test_settings();
    settings.lockTimeout = std::chrono::milliseconds{200};
    const auto domain = on(std::make_shared<PostgresPool>(settings), owner);
    {
        pqxx::connection other(test_settings().url);
        pqxx::work holding(other);
        holding.exec_params("UPDATE files SET lock_time = 0 WHERE space_id = $1", space.id);
        EXPECT_THROW(domain->lock(space.id, "held.txt"), StoreUnavailable);
    }
    EXPECT_EQ(domain->lock(space.id, "held.txt").code, ok);
}

// The database stopped and started again under a running store: clear failures while it is down,
// then the same store serves again by itself, and what it acknowledged before is still there.
TEST_F(Team, ADatabaseRestartedUnderTheStore)
{
    const auto cluster = vyr::cld::test::OwnCluster::find();
    if (!cluster) {
        GTEST_SKIP() << "the database server is not this run's own to restart";
    }
    const auto domain = on(first, owner);
    ASSERT_EQ(domain->commit({space.id, "kept.txt", {}, "k", 1, false, false}).code, created);

    ASSERT_EQ(cluster->control("stop -m fast"), 0);
    EXPECT_THROW(domain->lock(space.id, "kept.txt"), StoreUnavailable);
    EXPECT_THROW(domain->files(space.id), StoreUnavailable);
    ASSERT_EQ(cluster->control("start"), 0);
    std::optional<int> code;
    for (int attempt = 0; attempt < 100 && !code; ++attempt) {
        try {
            code = domain->lock(space.id, "kept.txt").code;
        } catch (const StoreUnavailable&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_EQ(code, ok);
    EXPECT_EQ(domain->files(space.id).size(), 1u);
    EXPECT_EQ(first->stats().inUse, 0);
}

TEST(Postgres, MigrationsRunOnceWhenProcessesRaceAndAreRequired)
{
    const auto name = "vyr_cld_test_" + new_id();
    pqxx::connection admin("dbname=postgres");
    pqxx::nontransaction(admin).exec("CREATE DATABASE " + name);
    PostgresSettings settings;
    settings.url = "dbname=" + name;
    EXPECT_THROW(open_postgres_store(settings)->read([](Records&) {}), VyrCldapi::Exception);

    std::vector<std::thread> threads;
    std::atomic<int> migrated{0};
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&] { migrated += migrate_postgres(settings.url) == postgres_schema_version(); });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(migrated, 4);
    EXPECT_NO_THROW(open_postgres_store(settings)->read([](Records&) {}));
    pqxx::nontransaction(admin).exec("DROP DATABASE " + name + " WITH (FORCE)");
}

} // namespace
} // namespace vyr::cld::domain::test
