// The team server as a process on a real PostgreSQL, reached through the remote client and through
// raw connections.
#include "proxies.h"
#include "world.h"
#include "../domain/own_cluster.h"

#include "../../remote/src/http.h"

#include <vyr/cld/protocol/protocol.h>
#include <vyr/cld/remote/remote.h>
#include <vyr/cld/remote/service.h>

#include <gtest/gtest.h>

#include <vyr/cld/domain/sha256.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <latch>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vyr::cld::test {
namespace {

class Environment : public ::testing::Environment {
public:
    void SetUp() override { world = new World(); }
    void TearDown() override { delete world; }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new Environment);

TEST(TeamServer, TheDomainOperationsAnswerAsInProcess)
{
    auto anna = world->domain("anna");
    auto bob = world->domain("bob");
    ASSERT_EQ(anna->user().id, "anna");
    const auto& space = world->spaceId;

    auto first = world->content("ops.txt", "first");
    const auto created = anna->commit(first);
    ASSERT_EQ(created.code, 201);
    const domain::Base base{created.value.id, created.value.revision};

    EXPECT_EQ(bob->lock(space, "ops.txt").code, 200);
    const auto refused = anna->lock(space, "ops.txt");
    EXPECT_EQ(refused.code, 409);
    ASSERT_TRUE(refused.value.lock);
    EXPECT_EQ(refused.value.lock->holder.id, "bob"); // the refusal names the holder
    auto second = world->content("ops.txt", "second");
    second.base = base;
    EXPECT_EQ(anna->commit(second).code, 409); // locked by another
    EXPECT_EQ(bob->unlock(space, "ops.txt"), 200);

    const auto committed = anna->commit(second);
    EXPECT_EQ(committed.code, 200);
    EXPECT_EQ(committed.value.revision, 2);
    auto stale = world->content("ops.txt", "third", "bob");
    stale.base = base;
    EXPECT_EQ(bob->commit(stale).code, 409); // the store holds a revision the base did not know

    const auto renamed = anna->rename(space, "ops.txt", "dir/renamed.txt");
    EXPECT_EQ(renamed.code, 200);
    EXPECT_EQ(renamed.value.path, "dir/renamed.txt");
    EXPECT_EQ(renamed.value.blob, second.blob); // a rename moves no bytes
    EXPECT_EQ(anna->file(space, "ops.txt").code, 404);
    const auto changed = bob->changes(space, created.value.seq); // read by cursor
    ASSERT_FALSE(changed.empty());
    EXPECT_EQ(changed.back().path, "dir/renamed.txt");
    EXPECT_TRUE(bob->changes(space, changed.back().seq).empty());
    EXPECT_EQ(anna->remove(space, "dir/renamed.txt").code, 200);
    EXPECT_EQ(anna->file(space, "dir/renamed.txt").code, 404);

    anna->take_events();
    anna->post({7, 200, "dir/x.txt"});
    const auto events = anna->take_events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].responseId, "dir/x.txt");
    EXPECT_TRUE(anna->take_events().empty());

    remote::BlobClient blobs(world->connection("bob"));
    const auto target = world->scratch / "downloaded.txt";
    EXPECT_EQ(blobs.download(second.blob, second.size, target), 200);
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "second");
}

TEST(TeamServer, ACommitMustNameContentTheStoreHoldsWhole)
{
    auto anna = world->domain("anna");
    struct Case {
        const char* what;
        std::string blob;
        std::int64_t size;
    } cases[] = {
        {"never uploaded", std::string(64, 'a'), 5},
        {"not a hash", "../../etc/passwd", 5},
        {"uploaded, another size", world->content("whole.txt", "whole").blob, 6},
    };
    for (const auto& c : cases) {
        domain::Commit commit;
        commit.spaceId = world->spaceId;
        commit.name = "whole.txt";
        commit.blob = c.blob;
        commit.size = c.size;
        EXPECT_EQ(anna->commit(commit).code, 400) << c.what;
        EXPECT_EQ(anna->file(world->spaceId, "whole.txt").code, 404) << c.what;
    }
}

TEST(TeamServer, EveryRequestNamesItsUserByALiveToken)
{
    struct Case {
        const char* what;
        std::string authorization;
        int status;
    } cases[] = {
        {"no token", "", 401},
        {"unknown token", "Authorization: Bearer " + std::string(64, '0') + "\r\n", 401},
        {"another scheme", "Authorization: Basic " + world->tokens.at("anna") + "\r\n", 401},
        {"a live token", "Authorization: Bearer " + world->tokens.at("anna") + "\r\n", 200},
        {"the scheme in lower case", "Authorization: bearer " + world->tokens.at("anna") + "\r\n", 200},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(status_of(world->request("GET /v1/me HTTP/1.1\r\nHost: t\r\n" + c.authorization)), c.status)
            << c.what;
    }
    EXPECT_EQ(status_of(world->request("GET /healthz HTTP/1.1\r\nHost: t\r\n")), 200);
    const auto metrics = world->request("GET /metrics HTTP/1.1\r\nHost: t\r\n");
    for (const auto* line : {"vyr_cld_requests_total{route=\"/v1/me\",status=\"401\"}",
                             "vyr_cld_request_duration_seconds_bucket{le=\"+Inf\"}", "vyr_cld_pool_in_use "}) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(metrics.find(world->tokens.at("anna")), std::string::npos);

    // A revoked token is refused from its next request on.
    const auto created = admin({"token", "create", "bob"});
    const auto token = created.substr(0, created.find('\n'));
    const auto id = created.substr(token.size() + 1, created.find('\n', token.size() + 1) - token.size() - 1);
    auto bob = remote::remote_domain(world->connection(token));
    EXPECT_EQ(bob->project(world->projectId).code, 200);
    admin({"token", "revoke", id});
    EXPECT_EQ(bob->project(world->projectId).code, 401);
}

TEST(TeamServer, TenantsAndRolesBoundWhatAUserMayDo)
{
    auto anna = world->domain("anna");
    auto bob = world->domain("bob");
    auto carl = world->domain("carl");
    EXPECT_EQ(carl->project(world->projectId).code, 404);
    EXPECT_EQ(carl->partitions(world->projectId).code, 404);
    EXPECT_EQ(carl->lock(world->spaceId, "x.txt").code, 404);

    ASSERT_EQ(anna->commit(world->content("held.txt", "held")).code, 201);
    ASSERT_EQ(anna->lock(world->spaceId, "held.txt").code, 200);
    EXPECT_EQ(bob->unlock_forced(world->spaceId, "held.txt"), 403); // a member may not break a lock
    ASSERT_EQ(bob->file(world->spaceId, "held.txt").value.lock->holder.id, "anna");

    anna->take_events();
    ASSERT_EQ(bob->lock(world->spaceId, "held.txt").code, 409);
    ASSERT_EQ(anna->unlock(world->spaceId, "held.txt"), 200);
    ASSERT_EQ(bob->lock(world->spaceId, "held.txt").code, 200);
    bob->take_events();
    EXPECT_EQ(anna->unlock_forced(world->spaceId, "held.txt"), 200); // an admin may
    const auto told = bob->take_events();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().status, 409);
}

TEST(TeamServer, HostileRequestsGetAClearRefusalAndTheServerServesOn)
{
    const auto& anna = world->tokens.at("anna");
    const auto space = protocol::path(protocol::Op::space, {world->spaceId});
    struct Case {
        const char* what;
        std::string head;
        std::string body;
        int status;
    } cases[] = {
        {"a chunk over the limit", "PUT /v1/blobs/" + std::string(64, 'a') + "/chunks/0 HTTP/1.1\r\n",
         std::string((1 << 20) + 1, 'x'), 413},
        {"JSON over the limit", "POST /v1/tenants/acme/projects HTTP/1.1\r\n",
         R"({"name":")" + std::string(70000, 'n') + R"("})", 413},
        {"malformed JSON", "POST /v1/tenants/acme/projects HTTP/1.1\r\n", "{\"name\": ", 400},
        {"deeply nested JSON", "POST /v1/tenants/acme/projects HTTP/1.1\r\n",
         std::string(100000, '[') + std::string(100000, ']'), 413},
        {"nested deeper than allowed", "POST /v1/tenants/acme/projects HTTP/1.1\r\n",
         "{\"name\":" + std::string(40, '[') + std::string(40, ']') + "}", 400},
        {"a field of the wrong type", "POST /v1/tenants/acme/projects HTTP/1.1\r\n", "{\"name\": 5}", 400},
        {"a path outside the space", "PUT " + space + "/lock?name=..%2F..%2Fetc%2Fpasswd HTTP/1.1\r\n", "", 400},
        {"a name holding CR LF", "GET " + space + "/file?name=a%0d%0aSet-Cookie:%20x HTTP/1.1\r\n", "", 400},
        {"a malformed escape", "GET " + space + "/file?name=%zz HTTP/1.1\r\n", "", 400},
        {"a bare CR in a header", "GET /v1/me HTTP/1.1\r\nX-Note: a\rb\r\n", "", 400},
        {"an oversized header", "GET /v1/me HTTP/1.1\r\nX-Note: " + std::string(20000, 'h') + "\r\n", "", 431},
        {"an unknown route", "GET /v1/nothing HTTP/1.1\r\n", "", 404},
        {"a method the route does not take", "PATCH /v1/me HTTP/1.1\r\n", "", 405},
    };
    for (const auto& c : cases) {
        const auto response = world->request(c.head + "Host: t\r\nAuthorization: Bearer " + anna + "\r\n", c.body);
        EXPECT_EQ(status_of(response), c.status) << c.what << "\n" << response.substr(0, 300);
        EXPECT_EQ(response.find("Set-Cookie"), std::string::npos) << c.what;
        EXPECT_NE(response.find("application/problem+json"), std::string::npos) << c.what;
    }

    // A client that trickles its header holds nobody up and is cut off by the read time-out.
    Socket slow(world->server->port);
    slow.send("GET /v1/me HTTP/1.1\r\nHo");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(status_of(world->request("GET /healthz HTTP/1.1\r\nHost: t\r\n")), 200);
    const auto metrics = world->request("GET /metrics HTTP/1.1\r\nHost: t\r\n");
    for (const auto* line : {"vyr_cld_requests_total{route=\"/v1/me\",status=\"401\"}",
                             "vyr_cld_request_duration_seconds_bucket{le=\"+Inf\"}", "vyr_cld_pool_in_use "}) {
        EXPECT_NE(metrics.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(metrics.find(world->tokens.at("anna")), std::string::npos);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_TRUE(slow.closed_within(10s));
}

TEST(TeamServer, EventsWaitForALongPollBoundedByTheServer)
{
    const auto started = std::chrono::steady_clock::now();
    const auto empty = world->authorized("POST", "/v1/me/events/take?wait=400", "carl");
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(status_of(empty), 200);
    EXPECT_NE(empty.find("[]"), std::string::npos);
    EXPECT_GE(waited, 350ms);
    EXPECT_LT(waited, 5s);

    std::thread poster([] {
        std::this_thread::sleep_for(300ms);
        world->domain("carl")->post({3, 200, "late.txt"});
    });
    const auto answered = world->authorized("POST", "/v1/me/events/take?wait=5000", "carl");
    poster.join();
    EXPECT_NE(answered.find("late.txt"), std::string::npos);
}

TEST(TeamServer, AnUploadCutByAKilledServerResumesAndIsNeverServedInPart)
{
    auto anna = world->domain("anna");
    ASSERT_EQ(anna->commit(world->content("big.bin", "old")).code, 201);

    std::mt19937 random(7);
    std::string bytes(3 * (1 << 20) + 12345, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    const auto stored = world->file("big.bin.new", bytes);
    const auto& path = stored.first;
    const auto& hash = stored.second;
    const auto chunk = [&](int index) { return bytes.substr(static_cast<std::size_t>(index) << 20, 1 << 20); };
    const auto put = [&](int index) {
        return "PUT /v1/blobs/" + hash + "/chunks/" + std::to_string(index << 20) +
               " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + world->tokens.at("anna") + "\r\n";
    };
    {
        ServerProcess doomed;
        for (int index : {0, 1}) {
            EXPECT_EQ(status_of(world->request(put(index), chunk(index), doomed.port)), 200);
        }
        Socket cut(doomed.port);
        cut.send(put(2) + "Content-Length: " + std::to_string(1 << 20) + "\r\n\r\n" + chunk(2).substr(0, 500000));
        std::this_thread::sleep_for(100ms);
        doomed.child->kill();
        ASSERT_TRUE(doomed.child->wait(10s));
    }

    remote::BlobClient blobs(world->connection("anna"));
    const auto held = blobs.held(hash);
    EXPECT_EQ(held.code, 404);
    EXPECT_EQ(held.received, 2 << 20); // whole chunks only
    EXPECT_EQ(status_of(world->authorized("GET", "/v1/blobs/" + hash + "/chunks/0", "anna")), 404);
    EXPECT_EQ(blobs.download(hash, static_cast<std::int64_t>(bytes.size()), world->scratch / "partial"), 404);
    EXPECT_FALSE(fs::exists(world->scratch / "partial"));
    EXPECT_EQ(anna->file(world->spaceId, "big.bin").value.revision, 1); // the file stays as it was

    const auto before = world->chunk_puts();
    EXPECT_EQ(blobs.upload(path, hash, static_cast<std::int64_t>(bytes.size())), 201);
    EXPECT_EQ(world->chunk_puts() - before, 2); // the two chunks missing, nothing sent again
    EXPECT_EQ(blobs.upload(path, hash, static_cast<std::int64_t>(bytes.size())), 200);

    const auto target = world->scratch / "big.bin";
    ASSERT_EQ(blobs.download(hash, static_cast<std::int64_t>(bytes.size()), target), 200);
    EXPECT_EQ(*remote::file_hash(target), hash);
}

// A download asks for several chunks at once and still hands them over in order: a blob of a few
// chunks reads back byte for byte, and once one of its stored chunks is damaged the download is
// refused and its target never written.
TEST(TeamServer, AWindowedDownloadIsExactAndRefusesADamagedChunk)
{
    std::mt19937 random(11);
    std::string bytes(5 * (1 << 20) + 777, '\0');
    for (auto& byte : bytes) {
        byte = static_cast<char>(random());
    }
    const auto [path, hash] = world->file("window.bin", bytes);
    remote::BlobClient blobs(world->connection("anna"));
    ASSERT_EQ(blobs.upload(path, hash, static_cast<std::int64_t>(bytes.size())), 201);
    std::string read;
    std::vector<double> shares;
    ASSERT_EQ(blobs.read(hash, static_cast<std::int64_t>(bytes.size()),
                         [&](const char* data, std::size_t length) { read.append(data, length); },
                         [&](double share) { shares.push_back(share); }),
              200);
    EXPECT_TRUE(read == bytes);
    EXPECT_EQ(shares.size(), 6u);
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));

    // The fourth chunk's eleventh byte, where the store keeps it: the blob's file, or its row.
    if (const char* contents = std::getenv("VYR_CLD_CONTENT_DIR")) {
        std::fstream file(fs::path(contents) / "blobs" / hash.substr(0, 2) / hash,
                          std::ios::in | std::ios::out | std::ios::binary);
        file.seekp((3 << 20) + 10);
        file.put(static_cast<char>(bytes[(3 << 20) + 10] + 1));
        ASSERT_TRUE(file.flush());
    } else {
        const auto damaged = run({"/usr/bin/psql", "-qAt", "-c",
                                  "UPDATE blob_chunks SET bytes = set_byte(bytes, 10, (get_byte(bytes, 10) + 1) % "
                                  "256) WHERE hash = '" + hash + "' AND start = " + std::to_string(3 << 20) +
                                      " RETURNING 1"});
        ASSERT_EQ(damaged.status, 0) << damaged.output;
        ASSERT_EQ(damaged.output, "1\n");
    }
    const auto target = world->scratch / "window.back";
    EXPECT_EQ(blobs.download(hash, static_cast<std::int64_t>(bytes.size()), target), 500);
    EXPECT_FALSE(fs::exists(target));
}

// A client process killed in the middle of a large upload: the next upload sends only the chunks
// the server lacks, tells its progress from what the server held, and the blob is the file's.
TEST(TeamServer, AClientKilledInALargeUploadResumesFromItsLastChunk)
{
    constexpr std::int64_t chunk = 1 << 20;
    constexpr std::int64_t size = 256 * chunk;
    const auto path = world->scratch / "large.bin";
    struct Remove {
        fs::path path;
        ~Remove() { fs::remove(path); }
    } remove{path};
    {
        std::ofstream out(path, std::ios::binary);
        std::mt19937_64 random(256);
        std::vector<std::uint64_t> piece(chunk / 8);
        for (std::int64_t written = 0; written < size; written += chunk) {
            std::generate(piece.begin(), piece.end(), random);
            out.write(reinterpret_cast<const char*>(piece.data()), chunk);
        }
        ASSERT_TRUE(out.flush());
    }
    const auto hash = *remote::file_hash(path);
    remote::BlobClient blobs(world->connection("anna"));
    {
        Child client({VYR_CLD_UPLOAD_CLIENT, world->connection("anna").url, world->tokens.at("anna"), path.string()},
                     true);
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (blobs.held(hash).received < 8 * chunk && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        client.kill();
        ASSERT_TRUE(client.wait(10s));
    }
    // A chunk sent whole just before the kill may still be landing: the count is read once it stays.
    auto held = blobs.held(hash);
    for (int settle = 0; settle < 25; ++settle) {
        std::this_thread::sleep_for(200ms);
        const auto again = blobs.held(hash);
        if (again.received == held.received) {
            break;
        }
        held = again;
    }
    ASSERT_EQ(held.code, 404);
    ASSERT_GE(held.received, 8 * chunk);
    ASSERT_LT(held.received, size);
    EXPECT_EQ(held.received % chunk, 0);

    std::vector<double> shares;
    const auto before = world->chunk_puts();
    EXPECT_EQ(blobs.upload(path, hash, size, [&](double share) { shares.push_back(share); }), 201);
    const auto missing = (size - held.received) / chunk;
    EXPECT_EQ(world->chunk_puts() - before, missing);
    ASSERT_EQ(static_cast<std::int64_t>(shares.size()), 1 + missing); // what was held, then each chunk sent
    EXPECT_EQ(shares.front(), static_cast<double>(held.received) / static_cast<double>(size));
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_EQ(shares.back(), 1.0);

    domain::Sha256 stored;
    EXPECT_EQ(blobs.read(hash, size, [&](const char* data, std::size_t length) { stored.add(data, length); }, nullptr),
              200);
    EXPECT_EQ(stored.hex(), hash);
}

// The database stopped and started again under a server while a client commits: clear refusals
// while it is down, service again without a restart of the server, and no commit that was
// acknowledged is missing afterwards.
TEST(TeamServer, ADatabaseRestartedUnderTheServerLosesNoAcknowledgedCommit)
{
    const auto cluster = OwnCluster::find();
    if (!cluster) {
        GTEST_SKIP() << "the database server is not this run's own to restart";
    }
    const auto blob = world->content("restart/0.txt", "committed across a restart");
    std::mutex mutex;
    std::vector<std::string> acknowledged;
    std::map<int, int> codes;
    std::atomic<bool> done{false};
    std::thread committer([&] {
        auto anna = world->domain("anna");
        for (int n = 1; !done && n < 100000; ++n) {
            auto commit = blob;
            commit.name = "restart/" + std::to_string(n) + ".txt";
            const auto code = anna->commit(commit).code;
            const std::lock_guard lock(mutex);
            ++codes[code];
            if (code == 201) {
                acknowledged.push_back(commit.name);
            }
        }
    });
    const auto count = [&] {
        const std::lock_guard lock(mutex);
        return acknowledged.size();
    };
    const auto until = [&](const std::function<bool()>& condition, std::chrono::seconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!condition() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
        }
        return condition();
    };
    EXPECT_TRUE(until([&] { return count() >= 5; }, 20s));

    ASSERT_EQ(cluster->control("stop -m fast"), 0);
    const auto down = world->authorized("GET", "/v1/me", "anna");
    EXPECT_EQ(status_of(down), 503);
    EXPECT_NE(down.find(protocol::problem_type), std::string::npos);
    EXPECT_NE(down.find("\"status\":503"), std::string::npos);
    EXPECT_TRUE(until(
        [&] {
            const std::lock_guard lock(mutex);
            return codes[503] > 0;
        },
        10s));
    const auto beforeRestart = count();
    ASSERT_EQ(cluster->control("start"), 0);
    EXPECT_TRUE(until([&] { return count() >= beforeRestart + 5; }, 30s));
    done = true;
    committer.join();

    EXPECT_EQ(status_of(world->authorized("GET", "/v1/me", "anna")), 200);
    std::set<std::string> stored;
    for (const auto& file : world->domain("anna")->files(world->spaceId)) {
        stored.insert(file.path);
    }
    const std::lock_guard lock(mutex);
    for (const auto& name : acknowledged) {
        EXPECT_TRUE(stored.count(name)) << name;
    }
    for (const auto& [code, times] : codes) {
        EXPECT_TRUE(code == 201 || code == 503) << code << " answered " << times << " times";
    }
}

// The connection to the database broken at a write's COMMIT: the server answers what the database
// decided, asking it afterwards. A success means the change stands, 503 that it does not, and the
// outcome-unknown answer (504, when the database cannot be asked) may mean either.
TEST(TeamServer, AWriteCutAtItsCommitAnswersWhatTheDatabaseDecided)
{
    CommitCutter cutter;
    Child server(
        {program, "--database", cutter.conninfo(), "serve", "--listen", "127.0.0.1:0", "--read-timeout-ms", "1500"},
        true);
    const auto listening = server.line(30s);
    ASSERT_TRUE(listening && listening->rfind("listening on ", 0) == 0);
    const auto port = static_cast<unsigned short>(std::stoi(listening->substr(listening->rfind(':') + 1)));
    auto anna = remote::remote_domain(world->connection("anna", port));
    auto direct = world->domain("anna");
    auto bob = world->domain("bob");
    const auto& space = world->spaceId;
    const auto lock_holder = [&](const std::string& name) {
        const auto file = direct->file(space, name);
        return file.value.lock ? file.value.lock->holder.id : std::string();
    };

    struct Operation {
        const char* what;
        std::function<void(const std::string&)> prepare;
        std::function<int(const std::string&)> act;
        std::function<bool(const std::string&)> stands;
    };
    const auto committed = [&](const std::string& name) {
        ASSERT_EQ(direct->commit(world->content(name, name)).code, 201);
    };
    const std::vector<Operation> operations{
        {"lock", committed, [&](const std::string& name) { return anna->lock(space, name).code; },
         [&](const std::string& name) { return lock_holder(name) == "anna"; }},
        {"unlock",
         [&](const std::string& name) {
             committed(name);
             ASSERT_EQ(direct->lock(space, name).code, 200);
         },
         [&](const std::string& name) { return anna->unlock(space, name); },
         [&](const std::string& name) { return lock_holder(name).empty(); }},
        {"forced unlock",
         [&](const std::string& name) {
             committed(name);
             ASSERT_EQ(bob->lock(space, name).code, 200);
         },
         [&](const std::string& name) { return anna->unlock_forced(space, name); },
         [&](const std::string& name) { return lock_holder(name).empty(); }},
        {"commit", [](const std::string&) {},
         [&](const std::string& name) { return anna->commit(world->content(name, name)).code; },
         [&](const std::string& name) { return direct->file(space, name).code == 200; }},
        {"delete", committed, [&](const std::string& name) { return anna->remove(space, name).code; },
         [&](const std::string& name) { return direct->file(space, name).code == 404; }},
        {"rename", committed, [&](const std::string& name) { return anna->rename(space, name, name + ".moved").code; },
         [&](const std::string& name) { return direct->file(space, name + ".moved").code == 200; }},
    };
    struct Cut {
        const char* what;
        CommitCutter::Mode mode;
        int expected; // the class of answer the database's decision calls for
    } cuts[] = {
        {"after", CommitCutter::Mode::after, 200},
        {"instead", CommitCutter::Mode::instead, protocol::unavailable},
        {"silenced", CommitCutter::Mode::afterSilenced, 504},
    };
    for (const auto& cut : cuts) {
        for (const auto& operation : operations) {
            const auto name = std::string("cut/") + cut.what + "/" + operation.what + ".txt";
            operation.prepare(name);
            const auto before = cutter.cuts();
            cutter.set(cut.mode);
            const auto code = operation.act(name);
            cutter.set(CommitCutter::Mode::pass);
            EXPECT_GT(cutter.cuts(), before) << name;
            const bool stands = operation.stands(name);
            if (code < 300) {
                EXPECT_TRUE(stands) << name << " answered " << code;
            } else if (code == protocol::unavailable) {
                EXPECT_FALSE(stands) << name << " answered 503";
            } else {
                EXPECT_EQ(code, 504) << name;
            }
            EXPECT_EQ(code < 300 ? 200 : code, cut.expected) << name;
        }
    }
}

// A keyed write sent again (by a client that never saw the first answer) is answered as the first
// was and acts once; another key is another request, and a malformed key is refused.
TEST(TeamServer, AKeyedWriteSentAgainAnswersAsTheFirstAndActsOnce)
{
    using protocol::Op;
    const auto keyed = [](const std::string& method, const std::string& target, const std::string& key,
                          const std::string& body = {}) {
        return world->request(method + " " + target + " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                                  world->tokens.at("anna") + "\r\nIdempotency-Key: " + key +
                                  "\r\nContent-Type: application/json\r\n",
                              body);
    };
    const auto body_of = [](const std::string& response) { return response.substr(response.find("\r\n\r\n") + 4); };
    auto anna = world->domain("anna");
    auto bob = world->domain("bob");
    const auto& space = world->spaceId;

    ASSERT_EQ(anna->commit(world->content("keyed/held.txt", "held")).code, 201);
    ASSERT_EQ(bob->lock(space, "keyed/held.txt").code, 200);
    bob->take_events();
    const auto commitBody = nlohmann::json(world->content("keyed/commit.txt", "once")).dump();
    struct Case {
        const char* what;
        std::string method, target, body;
        int status;
        int otherStatus; // of the same request under another key, on the store as the first left it
        std::function<void()> actedOnce;
    } cases[] = {
        {"commit", "POST", protocol::path(Op::commit, {space}), commitBody, 201, 200,
         [&] {
             const auto file = anna->file(space, "keyed/commit.txt");
             ASSERT_EQ(file.code, 200);
             EXPECT_EQ(file.value.revision, 1);
         }},
        {"forced unlock", "DELETE",
         protocol::path(Op::unlock, {space}) + protocol::query_string({{"force", "true"}, {"name", "keyed/held.txt"}}),
         {}, 200, 200, [&] { EXPECT_EQ(bob->take_events().size(), 1u); }},
    };
    for (const auto& c : cases) {
        const auto key = std::string("key-") + c.what[0] + "-" + std::to_string(getpid());
        const auto first = keyed(c.method, c.target, key, c.body);
        const auto again = keyed(c.method, c.target, key, c.body);
        EXPECT_EQ(status_of(first), c.status) << c.what << first;
        EXPECT_EQ(status_of(again), c.status) << c.what << again;
        EXPECT_EQ(body_of(again), body_of(first)) << c.what;
        c.actedOnce();
        EXPECT_EQ(status_of(keyed(c.method, c.target, key + "-other", c.body)), c.otherStatus) << c.what;
    }
    EXPECT_EQ(status_of(keyed("PUT", protocol::path(Op::lock, {space}) + protocol::query_string({{"name", "x"}}),
                              "not a key!")),
              400);
}

// A write whose answer the network lost is sent again with its key: the server acted once, and the
// client reports the first outcome.
TEST(TeamServer, AWriteWhoseAnswerIsLostIsActedOnOnceAndItsFirstOutcomeReported)
{
    AnswerDropper dropper(world->server->port, "POST /v1/spaces/", 1);
    auto connection = world->connection("anna", dropper.port());
    connection.requestTimeout = 1500ms;
    connection.attempts = 3;
    auto anna = remote::remote_domain(connection);
    const auto commit = world->content("lost/answer.txt", "once");
    const auto answered = anna->commit(commit);
    EXPECT_EQ(answered.code, 201); // the first outcome, not the 409 a second commit would meet
    EXPECT_EQ(dropper.matched(), 2);
    const auto file = world->domain("anna")->file(world->spaceId, "lost/answer.txt");
    ASSERT_EQ(file.code, 200);
    EXPECT_EQ(answered.value.id, file.value.id);
    EXPECT_EQ(file.value.revision, 1);
}

// An upload abandoned for longer than asked is dropped with its chunks; a recent one and whole
// blobs stay; a duration that is not one is refused.
TEST(TeamServer, GcDropsOnlyUploadsAbandonedLongerThanAsked)
{
    const auto whole = world->content("gc/whole.txt", "a whole blob");
    const auto [path, hash] = world->file("gc.part", std::string(std::size_t{1} << 20, 'g') + "tail");
    const auto put = "PUT /v1/blobs/" + hash + "/chunks/0 HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                     world->tokens.at("anna") + "\r\n";
    ASSERT_EQ(status_of(world->request(put, std::string(std::size_t{1} << 20, 'g'))), 200);
    remote::BlobClient blobs(world->connection("anna"));

    struct Case {
        const char* olderThan;
        int status;
        std::int64_t heldAfter;
    };
    for (const auto& c : {Case{"1h", 0, 1 << 20}, Case{"5", 1, 1 << 20}, Case{"5x", 1, 1 << 20},
                          Case{"-1h", 1, 1 << 20}, Case{"400d", 1, 1 << 20}, Case{"0s", 0, 0}}) {
        SCOPED_TRACE(c.olderThan);
        admin({"gc", "--older-than", c.olderThan}, c.status);
        EXPECT_EQ(blobs.held(hash).received, c.heldAfter);
    }
    EXPECT_EQ(blobs.held(whole.blob).code, 200);
    EXPECT_EQ(blobs.upload(path, hash, (1 << 20) + 4), 201); // a dropped upload starts again
}

TEST(TeamServer, TwoServerProcessesGiveEachLockToExactlyOneOfEightClients)
{
    ServerProcess second;
    std::vector<std::unique_ptr<domain::Domain>> clients;
    for (int i = 0; i < 8; ++i) {
        const auto user = "racer" + std::to_string(i);
        admin({"user", "add", user, "--tenant", "acme"});
        const auto token = admin({"token", "create", user});
        admin({"project", "grant", user, world->projectId});
        auto connection = world->connection(token.substr(0, token.find('\n')), i % 2 ? second.port : 0);
        clients.push_back(remote::remote_domain(connection));
    }
    auto anna = world->domain("anna");
    for (int round = 0; round < 40; ++round) {
        const auto name = "race/" + std::to_string(round) + ".txt";
        ASSERT_EQ(anna->commit(world->content(name, name)).code, 201);
        std::latch start(8);
        std::vector<int> codes(8);
        std::vector<std::thread> threads;
        for (std::size_t i = 0; i < 8; ++i) {
            threads.emplace_back([&, i] {
                start.arrive_and_wait();
                codes[i] = clients[i]->lock(world->spaceId, name).code;
            });
        }
        for (auto& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 200), 1) << name;
        EXPECT_EQ(std::count(codes.begin(), codes.end(), 409), 7) << name;
    }
}

TEST(TeamServer, OverTlsOnlyAClientThatVerifiesTheServerIsServed)
{
    const auto certificate = (world->scratch / "certificate.pem").string();
    const auto key = (world->scratch / "key.pem").string();
    ASSERT_EQ(run({"/usr/bin/openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out",
                   certificate, "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})
                  .status,
              0);
    ServerProcess secure({"--tls-cert", certificate, "--tls-key", key});
    struct Case {
        const char* what;
        std::string scheme;
        std::string caFile;
        int code;
    } cases[] = {
        {"verified", "https", certificate, 200},
        {"not verified: the system's authorities do not know it", "https", "", protocol::unavailable},
        {"plain HTTP to a TLS port", "http", "", protocol::unavailable},
    };
    for (const auto& c : cases) {
        auto connection = world->connection("anna");
        connection.url = c.scheme + "://127.0.0.1:" + std::to_string(secure.port);
        connection.caFile = c.caFile;
        connection.attempts = 1;
        EXPECT_EQ(remote::remote_domain(connection)->project(world->projectId).code, c.code) << c.what;
    }
    // A page's cookie set over TLS goes back over TLS only.
    auto connection = world->connection("anna");
    connection.url = "https://127.0.0.1:" + std::to_string(secure.port);
    connection.caFile = certificate;
    const auto form = remote::Http(connection).send("GET", "/signin");
    EXPECT_EQ(form.status, 200);
    EXPECT_NE(form.headers.at("set-cookie").find("; Secure"), std::string::npos) << form.headers.at("set-cookie");
}

TEST(TeamServer, AServerAskedToStopEndsCleanlyWithConnectionsOpen)
{
    ServerProcess stopping;
    Socket idle(stopping.port);
    Socket polling(stopping.port);
    polling.send("POST /v1/me/events/take?wait=20000 HTTP/1.1\r\nHost: t\r\nContent-Length: 0\r\nAuthorization: Bearer " +
                 world->tokens.at("carl") + "\r\n\r\n");
    std::this_thread::sleep_for(200ms);
    stopping.child->terminate();
    EXPECT_EQ(stopping.child->wait(10s), 0);
}

// The remote service opens for the user a token names, and only for a token the server takes.
TEST(TeamServer, TheRemoteServiceOpensOnlyForATokenTheServerTakes)
{
    const struct {
        const char* what;
        std::string token;
        unsigned short port;
        bool opens;
    } cases[] = {
        {"anna's token", world->tokens.at("anna"), 0, true},
        {"a token nobody holds", std::string(64, '0'), 0, false},
        {"no token", "", 0, false},
        {"a server that cannot be reached", world->tokens.at("anna"), 1, false},
    };
    for (const auto& row : cases) {
        remote::Options options;
        options.server = world->connection("anna", row.port).url;
        options.token = row.token;
        options.journals = world->scratch / "journals";
        options.connectTimeout = 500ms;
        if (row.opens) {
            EXPECT_EQ(remote::identify(options).id, "anna") << row.what;
            EXPECT_NE(remote::open_service(options), nullptr) << row.what;
        } else {
            EXPECT_THROW(static_cast<void>(remote::identify(options)), VyrCldapi::Exception) << row.what;
            EXPECT_THROW(static_cast<void>(remote::open_service(options)), VyrCldapi::Exception) << row.what;
        }
    }
}

// A server that takes the connection and never answers holds no call past the request time-out
// (for each attempt): the call answers 503.
TEST(TeamServer, AServerThatNeverAnswersHoldsNoCallPastItsTimeOut)
{
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 16), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    auto connection = world->connection("anna", ntohs(address.sin_port));
    connection.requestTimeout = 400ms;
    connection.attempts = 2;
    auto silent = remote::remote_domain(connection);
    const auto started = std::chrono::steady_clock::now();
    auto lock = std::async(std::launch::async, [&] { return silent->lock(world->spaceId, "silent.txt").code; });
    const bool ended = lock.wait_for(10s) == std::future_status::ready;
    // Closing the socket resets the connections it holds, which ends a call that hung.
    close(listener);
    ASSERT_TRUE(ended) << "the call outlived its time-out";
    EXPECT_EQ(lock.get(), protocol::unavailable);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST(TeamServer, AnUnreachableServerIsAResponseCode)
{
    auto connection = world->connection("anna", 1); // nobody listens on port 1
    connection.connectTimeout = 500ms;
    auto lost = remote::remote_domain(connection);
    EXPECT_EQ(lost->lock(world->spaceId, "x.txt").code, protocol::unavailable);
    EXPECT_EQ(lost->unlock(world->spaceId, "x.txt"), protocol::unavailable);
    EXPECT_EQ(remote::BlobClient(connection).held(std::string(64, 'a')).code, protocol::unavailable);
    EXPECT_THROW(lost->tenants(), VyrCldapi::Exception);
}

} // namespace
} // namespace vyr::cld::test
