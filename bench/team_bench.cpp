// The team server under load, on the database of the environment (PG* variables): lock+unlock
// and commit rates through the server against the same database work done directly on libpqxx
// by as many threads; a large upload against a plain loopback copy; the peak memory of server
// and client while 1 GiB goes up and comes back. Prints one table; medians of repetitions.
//
//   vyr-cld-team-bench [--seconds S] [--repetitions R] [--pool N] [--upload-mib M] [--memory-mib M]
//                      [--content-dir DIR]   (contents as files there instead of in the database)
#include "team_world.h"

#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/domain/sha256.h>
#include <vyr/cld/remote/remote.h>

#include <pqxx/pqxx>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <barrier>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace vyr::cld;
using namespace vyr::cld::bench;
using namespace std::chrono_literals;

struct Options {
    double seconds = 2.0;
    int repetitions = 5;
    int pool = 8;
    std::int64_t uploadMib = 256;
    std::int64_t memoryMib = 1024;
    std::string contentDir; // empty: the chunk table
};

// ---- The same database work as the server's, on a connection of its own. ----

class Direct {
public:
    Direct(Client& client, const World& world) : client_(client), world_(world)
    {
        // As the server's pool sets up each connection.
        connection_.set_variable("lock_timeout", "10000");
        connection_.set_variable("idle_in_transaction_session_timeout", "60000");
    }

    bool lock_unlock()
    {
        authenticate();
        const bool locked = write([&](pqxx::transaction_base& tx) { return lock_step(tx, true); });
        authenticate();
        return locked && write([&](pqxx::transaction_base& tx) { return lock_step(tx, false); });
    }

    bool commit()
    {
        authenticate();
        const auto& blob = world_.blobs[(client_.revision + 1) % 2];
        read([&](pqxx::transaction_base& tx) {
            // The caller's own copy, else whether a revision names it and a whole copy exists.
            tx.exec_params("SELECT size FROM blobs WHERE owner = $1 AND hash = $2 AND whole", client_.userId, blob);
            tx.exec_params("SELECT DISTINCT f.space_id FROM revisions r JOIN files f ON f.id = r.file_id WHERE "
                           "r.blob = $1",
                           blob);
            tx.exec_params("SELECT size FROM blobs WHERE hash = $1 AND whole LIMIT 1", blob);
            return true;
        });
        std::int64_t revision = 0;
        // The revision is the client's only once the transaction committed: an attempt refused at
        // its commit runs again from the start.
        const bool stored = write([&](pqxx::transaction_base& tx) {
            if (!visible_space(tx)) {
                return failed("no space");
            }
            const auto file = tx.exec_params(file_for_update, world_.spaceId, key());
            if (file.empty()) {
                return failed("no file");
            }
            if (file[0][3].as<std::int64_t>() != client_.revision) {
                // As the store refuses a stale base; the next commit starts from what is stored.
                client_.revision = file[0][3].as<std::int64_t>();
                return failed("409");
            }
            const auto seq = tx.exec_params1("UPDATE spaces SET changes = changes + 1 WHERE id = $1 RETURNING changes",
                                             world_.spaceId)[0]
                                 .as<std::int64_t>();
            revision = client_.revision + 1;
            tx.exec_params("INSERT INTO files(id, space_id, path, path_key, revision, blob, size, deleted, seq) "
                           "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9) ON CONFLICT(id) DO UPDATE SET path = "
                           "excluded.path, path_key = excluded.path_key, revision = excluded.revision, blob = "
                           "excluded.blob, size = excluded.size, deleted = excluded.deleted, seq = excluded.seq",
                           client_.fileId, world_.spaceId, client_.name, key(), revision, blob, world_.blobSize, false,
                           seq);
            tx.exec_params("INSERT INTO revisions VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9)", client_.fileId, revision,
                           client_.name, blob, world_.blobSize, false, client_.userId, now(), seq);
            post(tx, 2, 200);
            return true;
        });
        if (stored) {
            client_.revision = revision;
        }
        return stored;
    }

private:
    // A write decides on the file's row, locked, as the store's writes do.
    static constexpr const char* file_for_update =
        "SELECT f.id, f.space_id, f.path, f.revision, f.blob, f.size, f.deleted, f.lock_user, u.display_name, "
        "u.principal_name, f.lock_time, f.seq FROM files f LEFT JOIN users u ON u.id = f.lock_user WHERE "
        "f.space_id = $1 AND f.path_key = $2 ORDER BY f.deleted, f.revision DESC LIMIT 1 FOR UPDATE OF f";

    static std::string sha256_hex(const std::string& text);
    static std::int64_t now()
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::system_clock::now().time_since_epoch())
            .count();
    }
    std::string key() const { return client_.name; } // lower-case ASCII names are their own key

    template <class Body> bool write(Body&& body)
    {
        for (int attempt = 0;; ++attempt) {
            try {
                // The store's isolation for writes: committed reads, decisions on locked rows.
                pqxx::transaction<pqxx::read_committed, pqxx::read_write> tx(connection_);
                const bool out = body(tx);
                tx.commit();
                return out;
            }
            catch (const pqxx::transaction_rollback&) {
                if (attempt + 1 >= 30) {
                    throw;
                }
                // The store's pause between attempts, so that both retry alike.
                thread_local std::minstd_rand jitter{std::random_device{}()};
                std::this_thread::sleep_for(std::chrono::milliseconds(
                    std::uniform_int_distribution<int>(0, std::min(50, 2 * (attempt + 1)))(jitter)));
            }
        }
    }
    template <class Body> bool read(Body&& body)
    {
        pqxx::transaction<pqxx::repeatable_read, pqxx::read_only> tx(connection_);
        const bool out = body(tx);
        tx.commit();
        return out;
    }

    void authenticate()
    {
        read([&](pqxx::transaction_base& tx) {
            return !tx.exec_params("SELECT u.id, u.display_name, u.principal_name FROM tokens t JOIN users u ON u.id "
                                   "= t.user_id WHERE t.hash = $1 AND t.revoked IS NULL",
                                   sha256_hex(client_.token))
                        .empty();
        });
    }
    bool visible_space(pqxx::transaction_base& tx)
    {
        const auto space = tx.exec_params(
            "SELECT id, kind, project_id, owner_id, name, version_major FROM spaces WHERE id = $1", world_.spaceId);
        return !space.empty() && !tx.exec_params("SELECT admin FROM project_roles WHERE user_id = $1 AND "
                                                 "project_id = $2",
                                                 client_.userId, pqxx::to_string(space[0][2]))
                                      .empty();
    }
    void post(pqxx::transaction_base& tx, int type, int status)
    {
        tx.exec_params("INSERT INTO events(user_id, type, status, response_id, time) VALUES($1, $2, $3, $4, $5)",
                       client_.userId, type, status, client_.name, now());
    }
    bool lock_step(pqxx::transaction_base& tx, bool take)
    {
        if (!visible_space(tx)) {
            return failed("no space");
        }
        const auto file = tx.exec_params(file_for_update, world_.spaceId, key());
        if (file.empty()) {
            return failed("no file");
        }
        if (take) {
            tx.exec_params("UPDATE files SET lock_user = $1, lock_time = $2 WHERE id = $3", client_.userId, now(),
                           client_.fileId);
            post(tx, 0, 200);
        }
        else {
            tx.exec_params("UPDATE files SET lock_user = NULL, lock_time = NULL WHERE id = $1", client_.fileId);
            post(tx, 1, 200);
        }
        return true;
    }

    Client& client_;
    const World& world_;
    pqxx::connection connection_;
};

std::string Direct::sha256_hex(const std::string& text)
{
    // The server knows a token only by its hash, and hashes it for each request.
    domain::Sha256 hasher;
    hasher.add(text);
    return hasher.hex();
}

// ---- Measuring. ----


// The client of `clients[i]`'s operation through the server.
std::function<bool()> through_server(World& world, int i, bool committing)
{
    auto& client = world.clients[static_cast<std::size_t>(i)];
    std::shared_ptr<domain::Domain> domain = remote::remote_domain(world.connection(client));
    if (!committing) {
        return [&world, &client, domain] {
            return both(domain->lock(world.spaceId, client.name).code, domain->unlock(world.spaceId, client.name));
        };
    }
    return [&world, &client, domain] {
        return committed(client, domain->commit(next_commit(world, client)), *domain, world);
    };
}

// The same operation in this process: the server's work for a request without HTTP.
struct InProcess {
    std::shared_ptr<domain::PostgresPool> pool;
    std::shared_ptr<domain::MetadataStore> store;
    std::shared_ptr<domain::BlobStore> blobs;
    std::shared_ptr<domain::PostgresAccounts> accounts;

    InProcess(int poolSize, const std::string& contentDir)
        : pool(std::make_shared<domain::PostgresPool>(domain::PostgresSettings{.url = {}, .poolSize = poolSize})),
          store(domain::postgres_store(pool)),
          blobs(contentDir.empty() ? domain::postgres_blobs(pool) : domain::file_blobs(pool, contentDir)),
          accounts(std::make_shared<domain::PostgresAccounts>(pool))
    {
    }

    std::function<bool()> operation(World& world, int i, bool committing) const
    {
        auto& client = world.clients[static_cast<std::size_t>(i)];
        const auto self = *this;
        const auto as_user = [self, &client] {
            const auto user = self.accounts->authenticate(client.token);
            return domain::store_domain(self.store, user.value(),
                                        [] { return domain::to_millis(std::chrono::system_clock::now()); });
        };
        if (!committing) {
            return [&world, &client, as_user] {
                return both(as_user()->lock(world.spaceId, client.name).code,
                            as_user()->unlock(world.spaceId, client.name));
            };
        }
        return [&world, &client, as_user, self] {
            const auto domain = as_user();
            const auto commit = next_commit(world, client);
            const auto size = self.blobs->size(domain->user().id, commit.blob);
            const auto available = size ? size : domain->reads_blob(commit.blob) ? self.blobs->whole_size(commit.blob)
                                                                                : std::nullopt;
            return available == commit.size &&
                   committed(client, domain->commit(commit), *domain, world);
        };
    }
};

// ---- Contents. ----

// Sends a file's bytes over a loopback connection to a reader that drops them: what moving the
// bytes costs at the least.
double loopback_copy_seconds(const fs::path& file)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0 ||
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        fail("cannot listen on loopback");
    }
    std::int64_t received = 0;
    std::thread reader([&] {
        const int peer = accept(listener, nullptr, nullptr);
        std::vector<char> buffer(1 << 20);
        for (ssize_t got; (got = read(peer, buffer.data(), buffer.size())) > 0;) {
            received += got;
        }
        close(peer);
    });
    const auto begun = Clock::now();
    const int out = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(out, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        fail("cannot connect on loopback");
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
        for (std::size_t sent = 0, n = static_cast<std::size_t>(in.gcount()); sent < n;) {
            const auto wrote = send(out, buffer.data() + sent, n - sent, MSG_NOSIGNAL);
            if (wrote <= 0) {
                fail("loopback send failed");
            }
            sent += static_cast<std::size_t>(wrote);
        }
    }
    shutdown(out, SHUT_WR);
    reader.join();
    const auto took = std::chrono::duration<double>(Clock::now() - begun).count();
    close(out);
    close(listener);
    if (received != static_cast<std::int64_t>(fs::file_size(file))) {
        fail("the loopback copy lost bytes");
    }
    return took;
}


double upload_seconds(const World& world, const fs::path& file, std::int64_t bytes, std::uint64_t seed,
                      std::string* hashOut = nullptr)
{
    renew(file, seed);
    remote::BlobClient client(world.connection(world.clients[0]));
    const auto begun = Clock::now();
    const auto hash = remote::file_hash(file).value();
    const auto code = client.upload(file, hash, bytes);
    const auto took = std::chrono::duration<double>(Clock::now() - begun).count();
    if (code != 201) {
        fail("the upload answered " + std::to_string(code));
    }
    if (hashOut) {
        *hashOut = hash;
    }
    return took;
}

// Parts of an upload's cost, to see where its time goes: hashing the file, and the blob store's
// own work (the chunks stored, then read back and hashed once whole) without HTTP.
double hash_seconds(const fs::path& file)
{
    const auto begun = Clock::now();
    if (!remote::file_hash(file)) {
        fail("cannot hash " + file.string());
    }
    return std::chrono::duration<double>(Clock::now() - begun).count();
}
struct Split {
    double chunks = 0, finish = 0;
};
Split store_seconds(domain::BlobStore& blobs, const fs::path& file, std::int64_t bytes, std::uint64_t seed)
{
    const std::string owner = "bench";
    renew(file, seed);
    const auto hash = remote::file_hash(file).value();
    const auto begun = Clock::now();
    std::ifstream in(file, std::ios::binary);
    std::string piece(static_cast<std::size_t>(domain::BlobStore::chunk_size), '\0');
    for (std::int64_t offset = 0; offset < bytes; offset += domain::BlobStore::chunk_size) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        blobs.put_chunk(owner, hash, offset, std::string_view(piece.data(), static_cast<std::size_t>(in.gcount())));
    }
    const auto chunked = Clock::now();
    if (!blobs.finish(owner, hash, bytes)) {
        fail("the store refused the blob");
    }
    return {std::chrono::duration<double>(chunked - begun).count(),
            std::chrono::duration<double>(Clock::now() - chunked).count()};
}

// The server's own time in the requests of a route ("method=... route=..."), from its request
// log after `from` bytes.
double logged_seconds(const fs::path& log, std::uintmax_t from, const std::string& route)
{
    std::ifstream in(log);
    in.seekg(static_cast<std::streamoff>(from));
    double ms = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.find(" " + route + " ") != std::string::npos) {
            if (const auto at = line.find(" ms="); at != std::string::npos) {
                ms += std::stod(line.substr(at + 4));
            }
        }
    }
    return ms / 1000;
}


void print_rate_row(const char* operation, int clients, const Rate& server, const Rate& inProcess, const Rate& direct)
{
    std::printf("%-12s %7d  %9.0f %7.2f %7.2f  %9.0f  %9.0f %7.2f %7.2f  %6.2f %6.2f  %s\n", operation, clients,
                server.perSecond, server.p50Ms, server.p99Ms, inProcess.perSecond, direct.perSecond, direct.p50Ms,
                direct.p99Ms, server.perSecond / direct.perSecond, inProcess.perSecond / direct.perSecond,
                server.failures + inProcess.failures + direct.failures ? "*" : "");
    for (const auto* rate : {&server, &inProcess, &direct}) {
        for (const auto& [why, count] : rate->reasons) {
            std::printf("    * %s: %d failed (all repetitions): %s\n",
                        rate == &server      ? "server"
                        : rate == &inProcess ? "in process"
                                             : "direct",
                        count, why.c_str());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--seconds") {
            options.seconds = std::stod(value);
        }
        else if (name == "--repetitions") {
            options.repetitions = std::max(1, std::stoi(value));
        }
        else if (name == "--pool") {
            options.pool = std::stoi(value);
        }
        else if (name == "--upload-mib") {
            options.uploadMib = std::stoll(value);
        }
        else if (name == "--memory-mib") {
            options.memoryMib = std::stoll(value);
        }
        else if (name == "--content-dir") {
            options.contentDir = value;
        }
        else {
            fail("unknown option " + name);
        }
    }
    // However it goes, the run ends: the servers die with it, and the cluster with its wrapper.
    alarm(1800);

    const std::vector<int> clientCounts{1, 8, 32};
    World world;
    world.scratch = fs::temp_directory_path() / ("vyr-cld-team-bench-" + std::to_string(getpid()));
    fs::create_directories(world.scratch);
    struct Cleanup {
        fs::path path;
        ~Cleanup()
        {
            std::error_code ignored;
            fs::remove_all(path, ignored);
        }
    } cleanup{world.scratch};
    build_world(world, options.pool, clientCounts.back(), options.contentDir);
    const InProcess inProcess(options.pool, options.contentDir);

    std::printf("machine: %u cores, load average %.2f at the start; server pool %d connections, %d workers\n",
                std::thread::hardware_concurrency(), load_average(), options.pool, options.pool);
    std::printf("medians of %d repetitions of %.1f s; latency in ms of one operation\n\n", options.repetitions,
                options.seconds);
    std::printf("%-12s %7s  %9s %7s %7s  %9s  %9s %7s %7s  %6s %6s\n", "operation", "clients", "server/s", "p50", "p99",
                "inproc/s", "direct/s", "p50", "p99", "srv/dir", "inp/dir");
    for (const bool commit : {false, true}) {
        for (const int clients : clientCounts) {
            std::vector<Rate> server, in, direct;
            for (int r = 0; r < options.repetitions; ++r) {
                server.push_back(
                    measure(clients, options.seconds, [&](int i) { return through_server(world, i, commit); }));
                in.push_back(
                    measure(clients, options.seconds, [&](int i) { return inProcess.operation(world, i, commit); }));
                direct.push_back(measure(clients, options.seconds, [&](int i) -> std::function<bool()> {
                    auto connection = std::make_shared<Direct>(world.clients[static_cast<std::size_t>(i)], world);
                    if (commit) {
                        return [connection] { return connection->commit(); };
                    }
                    return [connection] { return connection->lock_unlock(); };
                }));
            }
            print_rate_row(commit ? "commit" : "lock+unlock", clients, median(server), median(in), median(direct));
            std::fflush(stdout);
        }
    }

    const auto uploadBytes = options.uploadMib << 20;
    const auto big = write_file(world.scratch / "big", uploadBytes, 7);
    std::vector<double> through, back, raw, hashing, storedChunks, storedFinish, serverChunks, serverFinish;
    const auto log = world.scratch / "server.log";
    const int transfers = std::min(options.repetitions, 3); // each stores the whole file in the database
    for (int r = 0; r < transfers; ++r) {
        raw.push_back(loopback_copy_seconds(big));
        const auto logged = fs::file_size(log);
        std::string uploaded;
        through.push_back(upload_seconds(world, big, uploadBytes, 1000 + static_cast<std::uint64_t>(r), &uploaded));
        {
            remote::BlobClient client(world.connection(world.clients[0]));
            const auto begun = Clock::now();
            if (client.download(uploaded, uploadBytes, world.scratch / "big.back") != 200) {
                fail("the download failed");
            }
            back.push_back(std::chrono::duration<double>(Clock::now() - begun).count());
            fs::remove(world.scratch / "big.back");
        }
        // The server logs a request once its answer is written, so the last line may lag the client.
        const std::string finish = "method=PUT route=/v1/blobs/{hash}";
        for (int wait = 0; wait < 40 && logged_seconds(log, logged, finish) == 0; ++wait) {
            std::this_thread::sleep_for(50ms);
        }
        serverChunks.push_back(logged_seconds(log, logged, "method=PUT route=/v1/blobs/{hash}/chunks/{offset}"));
        serverFinish.push_back(logged_seconds(log, logged, finish));
        hashing.push_back(hash_seconds(big));
        const auto split = store_seconds(*inProcess.blobs, big, uploadBytes, 2000 + static_cast<std::uint64_t>(r));
        storedChunks.push_back(split.chunks);
        storedFinish.push_back(split.finish);
    }
    const double mib = static_cast<double>(options.uploadMib);
    std::printf("\n%lld MiB, medians of %d: upload through the server (hash, chunks) %.1f MiB/s; loopback copy "
                "%.1f MiB/s; ratio %.3f\n",
                static_cast<long long>(options.uploadMib), transfers, mib / median_of(through), mib / median_of(raw),
                median_of(raw) / median_of(through));
    std::printf("%lld MiB download through the server (chunks, hash, rename) %.1f MiB/s; ratio to the loopback copy "
                "%.3f\n",
                static_cast<long long>(options.uploadMib), mib / median_of(back), median_of(raw) / median_of(back));
    std::printf("  its parts, seconds: whole upload %.2f = the server's own time in chunk requests %.2f + in the "
                "final check %.2f + the rest (hashing the file alone takes %.2f; HTTP, client)\n",
                median_of(through), median_of(serverChunks), median_of(serverFinish), median_of(hashing));
    std::printf("  the blob store alone, in this process: chunks %.2f s + final check %.2f s = %.1f MiB/s\n",
                median_of(storedChunks), median_of(storedFinish),
                mib / (median_of(storedChunks) + median_of(storedFinish)));
    fs::remove(big);

    // Peaks over the big transfer alone: what the earlier loads reached does not count.
    const auto memoryBytes = options.memoryMib << 20;
    const auto huge = write_file(world.scratch / "huge", memoryBytes, 9);
    const auto serverPid = world.server->child->pid();
    reset_peak(serverPid);
    reset_peak(getpid());
    std::string hash;
    const auto up = upload_seconds(world, huge, memoryBytes, 4242, &hash);
    const auto serverUp = status_kib(serverPid, "VmHWM:");
    const auto clientUp = status_kib(getpid(), "VmHWM:");
    fs::remove(huge);
    reset_peak(serverPid);
    reset_peak(getpid());
    remote::BlobClient client(world.connection(world.clients[0]));
    const auto begun = Clock::now();
    const auto code = client.download(hash, memoryBytes, world.scratch / "back");
    const auto down = std::chrono::duration<double>(Clock::now() - begun).count();
    if (code != 200) {
        fail("the download answered " + std::to_string(code));
    }
    const auto serverDown = status_kib(serverPid, "VmHWM:");
    const auto clientDown = status_kib(getpid(), "VmHWM:");
    std::printf("%lld MiB upload: %.1f s, peak resident server %.1f MiB, client %.1f MiB\n",
                static_cast<long long>(options.memoryMib), up, static_cast<double>(serverUp) / 1024.0,
                static_cast<double>(clientUp) / 1024.0);
    std::printf("%lld MiB download: %.1f s, peak resident server %.1f MiB, client %.1f MiB\n",
                static_cast<long long>(options.memoryMib), down, static_cast<double>(serverDown) / 1024.0,
                static_cast<double>(clientDown) / 1024.0);
    std::printf("\nload average %.2f at the end\n", load_average());
    return 0;
}
