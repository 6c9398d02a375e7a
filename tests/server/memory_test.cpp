// The server's resident memory under a mixed load repeated for a while: whatever a request leaves
// behind must not pile up. VYR_CLD_MEMORY_SECONDS and VYR_CLD_MEMORY_FILES make the run longer
// and the listing larger (the server-memory-long target: ten minutes, 10,000 files).
#include "world.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/domain/sha256.h>

#include <atomic>
#include <cstdio>
#include <thread>

namespace vyr::cld::test {
namespace {

long setting(const char* name, long fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::stol(text) : fallback;
}

std::string listed_name(long n)
{
    char name[64];
    std::snprintf(name, sizeof name, "dir-%03ld/file-%04ld.bin", n / 100, n % 100);
    return name;
}

// The files of a space, committed through the store in this process: the fixture, not the load.
void fill(const std::string& spaceId, const domain::Commit& content, long files)
{
    auto pool = std::make_shared<domain::PostgresPool>(domain::PostgresSettings{.url = {}, .poolSize = 4});
    const auto store = domain::postgres_store(pool);
    const auto user = domain::PostgresAccounts(pool).authenticate(world->tokens.at("anna")).value();
    std::atomic<long> next{0};
    std::atomic<long> refused{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            const auto domain = domain::store_domain(store, user, [] {
                return domain::to_millis(std::chrono::system_clock::now());
            });
            for (long n; (n = next++) < files;) {
                auto commit = content;
                commit.spaceId = spaceId;
                commit.name = listed_name(n);
                if (domain->commit(commit).code != 201) {
                    ++refused;
                }
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    ASSERT_EQ(refused.load(), 0);
}

TEST(Memory, ResidentSizeStaysFlatUnderARepeatedMixedLoad)
{
    const auto files = setting("VYR_CLD_MEMORY_FILES", 3000);
    const auto seconds = setting("VYR_CLD_MEMORY_SECONDS", 30);
    const auto warmUp = std::chrono::seconds(std::max(5L, seconds / 6));
    const auto anna = world->domain("anna");
    const auto listed = anna->create_partition(world->projectId, "Listed", 1).value.id;
    const auto written = anna->create_partition(world->projectId, "Written", 1).value.id;
    fill(listed, world->content("memory.bin", "the same bytes in every file"), files);

    ServerProcess server;
    const auto pid = server.child->pid();
    const auto token = world->tokens.at("anna");
    const auto cookie = sign_in(token).cookie; // sessions live in the database: any server knows them
    const auto call = [&](const std::string& method, const std::string& target, const std::string& body = {}) {
        return status_of(world->request(method + " " + target + " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                                            token + "\r\nCookie: " + cookie + "\r\n",
                                        body, server.port));
    };
    const auto lockTarget = [&](long n) { return "/v1/spaces/" + listed + "/lock?name=" + listed_name(n); };
    // Each kind of request in turn: whole listings (the large answers), a folder, a page, a lock and
    // its release, a small file with its commit, the events, and who one is.
    const auto one = [&](int thread, long n) {
        switch (n % 7) {
        case 0: return call("GET", "/v1/spaces/" + listed + "/files");
        case 1: return call("GET", "/v1/spaces/" + listed + "/folder?path=dir-" + std::to_string(n % 10 + 1000).substr(1));
        case 2: return call("GET", "/spaces/" + listed + "?path=dir-001");
        case 3: {
            const auto locked = call("PUT", lockTarget(thread));
            return locked >= 300 ? locked : call("DELETE", lockTarget(thread));
        }
        case 4: {
            const auto bytes = "revision " + std::to_string(n) + " of thread " + std::to_string(thread);
            domain::Sha256 hash;
            hash.add(bytes);
            const nlohmann::json commit{{"name", "t" + std::to_string(thread) + "/" + std::to_string(n) + ".txt"},
                                        {"blob", hash.hex()},
                                        {"size", bytes.size()},
                                        {"unlockAfter", false},
                                        {"checkOnly", false}};
            return call("POST", "/v1/spaces/" + written + "/content-commits?commit=" +
                                    protocol::percent_encoded(commit.dump()),
                        bytes);
        }
        case 5: return call("POST", "/v1/me/events/take");
        default: return call("GET", "/v1/me");
        }
    };

    std::atomic<bool> stop{false};
    std::atomic<long> requests{0}, failed{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 4; ++t) {
        clients.emplace_back([&, t] {
            for (long n = t; !stop; ++n) {
                const auto status = one(t, n);
                ++requests;
                if (status < 200 || status >= 300) {
                    ++failed;
                }
            }
        });
    }
    // Sampled four times a second: the size swings with the listings under way at each sample, so
    // the highest of a window after the warm-up and of the last one are compared.
    const auto start = std::chrono::steady_clock::now();
    const auto window = std::chrono::seconds(std::max(5L, seconds / 6));
    const auto before = resident_kib(pid).value_or(0);
    long warm = 0, last = 0, peak = 0;
    for (auto now = start; now - start < std::chrono::seconds(seconds); now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(250ms);
        const auto size = resident_kib(pid).value_or(0);
        peak = std::max(peak, size);
        if (now - start >= warmUp && now - start < warmUp + window) {
            warm = std::max(warm, size);
        }
        if (now - start >= std::chrono::seconds(seconds) - window) {
            last = std::max(last, size);
        }
    }
    stop = true;
    for (auto& client : clients) {
        client.join();
    }
    std::this_thread::sleep_for(2s);
    const auto idle = resident_kib(pid).value_or(0);
    std::printf("resident KiB with %ld files over %ld s, %ld requests: before %ld, after the warm-up %ld, at the "
                "end %ld, peak %ld, idle %ld\n",
                files, seconds, requests.load(), before, warm, last, peak, idle);

    EXPECT_EQ(failed.load(), 0);
    EXPECT_GT(requests.load(), 50);
    ASSERT_GT(warm, 0);
    // Flat: the end within 10 % of the size after the warm-up (and 4 MiB for the samples' jitter).
    EXPECT_LE(last, warm + warm / 10 + 4 * 1024);
    // Small: four listings of thousands of files at once cost a few times their answers, and the
    // memory goes back once they are done.
    EXPECT_LT(peak, 96 * 1024);
    EXPECT_LT(idle, 48 * 1024);
}

} // namespace
} // namespace vyr::cld::test
