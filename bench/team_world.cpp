#include "team_world.h"

#include <algorithm>
#include <atomic>
#include <barrier>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <thread>
#include <unistd.h>

namespace vyr::cld::bench {

using namespace std::chrono_literals;

const std::string program = VYR_CLD_SERVER_PROGRAM;

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "vyr-cld-bench: " << why << '\n';
    std::exit(1);
}

std::string admin(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    // What the commands tell a person (a token's id) is of no use here.
    const int saved = dup(STDERR_FILENO);
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(quiet, STDERR_FILENO);
    const auto ran = test::run(all);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(quiet);
    if (ran.status != 0) {
        fail("vyr-cld-server " + arguments.front() + " failed: " + ran.output);
    }
    return ran.output;
}

// Peak and current resident memory of a process, in KiB, from /proc.
std::int64_t status_kib(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stoll(line.substr(std::strlen(field)));
        }
    }
    return -1;
}
// Starts the peak over from the current resident size.
void reset_peak(pid_t pid)
{
    std::ofstream("/proc/" + std::to_string(pid) + "/clear_refs") << "5";
}

Server::Server(int pool, const fs::path& log, const std::string& contentDir)
{
    const int saved = dup(STDERR_FILENO);
    const int file = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    dup2(file, STDERR_FILENO);
    std::vector<std::string> arguments{program, "--pool", std::to_string(pool)};
    if (!contentDir.empty()) {
        arguments.insert(arguments.end(), {"--content-dir", contentDir});
    }
    arguments.insert(arguments.end(), {"serve", "--listen", "127.0.0.1:0", "--workers", std::to_string(pool)});
    child = std::make_unique<test::Child>(arguments, true);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    const auto line = child->line(30s);
    if (!line || line->rfind("listening on ", 0) != 0) {
        fail("the server did not start");
    }
    port = static_cast<unsigned short>(std::stoi(line->substr(line->rfind(':') + 1)));
}

remote::Connection World::connection(const Client& client) const
{
    remote::Connection out;
    out.url = "http://127.0.0.1:" + std::to_string(server->port);
    out.token = client.token;
    out.requestTimeout = 600s;
    return out;
}

fs::path write_file(const fs::path& path, std::int64_t bytes, std::uint64_t seed)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    std::mt19937_64 random(seed);
    std::vector<std::uint64_t> piece(1 << 17); // 1 MiB
    for (std::int64_t left = bytes; left > 0;) {
        std::generate(piece.begin(), piece.end(), random);
        const auto n = std::min<std::int64_t>(left, static_cast<std::int64_t>(piece.size() * 8));
        out.write(reinterpret_cast<const char*>(piece.data()), n);
        left -= n;
    }
    if (!out.flush()) {
        fail("cannot write " + path.string());
    }
    return path;
}

void build_world(World& world, int pool, int users, const std::string& contentDir)
{
    admin({"migrate"});
    admin({"tenant", "add", "bench", "--name", "Bench"});
    for (int i = 0; i < users; ++i) {
        Client client;
        client.userId = "user" + std::to_string(i);
        client.name = "file-" + std::to_string(i) + ".txt";
        admin({"user", "add", client.userId, "--tenant", "bench", "--name", client.userId});
        const auto token = admin({"token", "create", client.userId});
        client.token = token.substr(0, token.find('\n'));
        world.clients.push_back(client);
    }
    world.server = std::make_unique<Server>(pool, world.scratch / "server.log", contentDir);
    auto owner = remote::remote_domain(world.connection(world.clients[0]));
    const auto project = owner->create_project("bench", "Bench", "B-1");
    if (project.code != 201) {
        fail("cannot create the project");
    }
    for (int i = 1; i < users; ++i) {
        admin({"project", "grant", world.clients[static_cast<std::size_t>(i)].userId, project.value.id, "--role",
               "member"});
    }
    world.projectId = project.value.id;
    world.spaceId = owner->create_partition(project.value.id, "Main", 1).value.id;
    remote::BlobClient blobs(world.connection(world.clients[0]));
    world.blobSize = 1024;
    for (int b = 0; b < 2; ++b) {
        const auto path = write_file(world.scratch / ("small-" + std::to_string(b)), world.blobSize,
                                     static_cast<std::uint64_t>(100 + b));
        world.blobs[b] = remote::file_hash(path).value();
        if (blobs.upload(path, world.blobs[b], world.blobSize) >= 300) {
            fail("cannot upload a small blob");
        }
    }
    // An upload is its uploader's: the members commit these contents because a revision of the
    // project names them.
    {
        domain::Commit shared;
        shared.spaceId = world.spaceId;
        shared.name = "shared.bin";
        shared.blob = world.blobs[1];
        shared.size = world.blobSize;
        if (owner->commit(shared).code != 201) {
            fail("cannot store the shared file");
        }
    }
    // Each client works on a file of its own: the figures are of the machinery, not of waiting
    // for one another's row.
    for (auto& client : world.clients) {
        auto domain = remote::remote_domain(world.connection(client));
        domain::Commit commit;
        commit.spaceId = world.spaceId;
        commit.name = client.name;
        commit.blob = world.blobs[0];
        commit.size = world.blobSize;
        const auto stored = domain->commit(commit);
        if (stored.code != 201) {
            fail("cannot store a client's file");
        }
        client.fileId = stored.value.id;
        client.revision = stored.value.revision;
    }
}

thread_local std::string failure;
bool failed(std::string why)
{
    failure = std::move(why);
    return false;
}

namespace {
double percentile(std::vector<double>& sorted, double share)
{
    if (sorted.empty()) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(at, sorted.size() - 1)];
}
} // namespace

// `threads` threads run their operation over and over for `seconds` after a short warm-up; an
// operation answers whether it did what was asked.
Rate measure(int threads, double seconds, const std::function<std::function<bool()>(int)>& make)
{
    std::vector<std::function<bool()>> operations;
    for (int i = 0; i < threads; ++i) {
        operations.push_back(make(i));
    }
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(threads));
    std::mutex failuresMutex;
    std::map<std::string, int> reasons;
    std::atomic<Clock::rep> start{0}, stop{0};
    std::barrier ready(threads + 1);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads; ++i) {
        workers.emplace_back([&, i] {
            auto& mine = latencies[static_cast<std::size_t>(i)];
            ready.arrive_and_wait();
            for (;;) {
                const auto begun = Clock::now();
                const auto end = stop.load();
                if (end != 0 && begun.time_since_epoch().count() >= end) {
                    break;
                }
                bool done = false;
                try {
                    done = operations[static_cast<std::size_t>(i)]();
                }
                catch (const std::exception& e) {
                    failure = std::string(e.what()).substr(0, 100);
                    std::replace(failure.begin(), failure.end(), '\n', ' ');
                }
                const auto ended = Clock::now();
                // The operations that ended inside the window count, as a rate is taken.
                const auto at = ended.time_since_epoch().count();
                const auto windowEnd = stop.load();
                if (windowEnd != 0 && at >= start.load() && at <= windowEnd) {
                    if (done) {
                        mine.push_back(std::chrono::duration<double, std::milli>(ended - begun).count());
                    }
                    else {
                        const std::lock_guard lock(failuresMutex);
                        ++reasons[failure];
                    }
                }
            }
        });
    }
    ready.arrive_and_wait();
    const auto warm = Clock::now() + 300ms;
    start = warm.time_since_epoch().count();
    const auto window = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    stop = (warm + window).time_since_epoch().count();
    for (auto& worker : workers) {
        worker.join();
    }
    std::vector<double> all;
    for (auto& mine : latencies) {
        all.insert(all.end(), mine.begin(), mine.end());
    }
    std::sort(all.begin(), all.end());
    Rate out;
    out.perSecond = static_cast<double>(all.size()) / seconds;
    out.p50Ms = percentile(all, 0.50);
    out.p99Ms = percentile(all, 0.99);
    for (const auto& [why, count] : reasons) {
        out.failures += count;
    }
    out.reasons = std::move(reasons);
    return out;
}

// The repetition of median throughput (its latencies with it).
Rate median(std::vector<Rate> runs)
{
    std::sort(runs.begin(), runs.end(), [](const Rate& a, const Rate& b) { return a.perSecond < b.perSecond; });
    auto out = runs[runs.size() / 2];
    out.failures = 0;
    out.reasons.clear();
    for (const auto& run : runs) {
        out.failures += run.failures;
        for (const auto& [why, count] : run.reasons) {
            out.reasons[why] += count;
        }
    }
    return out;
}

double load_average()
{
    double one = 0;
    std::ifstream("/proc/loadavg") >> one;
    return one;
}


// The client's next revision: the other of the two contents, on the revision it holds.
domain::Commit next_commit(const World& world, const Client& client)
{
    domain::Commit out;
    out.spaceId = world.spaceId;
    out.name = client.name;
    out.base = domain::Base{client.fileId, client.revision};
    out.blob = world.blobs[(client.revision + 1) % 2];
    out.size = world.blobSize;
    return out;
}
bool committed(Client& client, const domain::Answer<domain::FileRow>& stored, domain::Domain& domain,
               const World& world)
{
    if (stored.code != 200) {
        // The next commit starts from what is stored, whatever became of this one.
        if (const auto now = domain.file(world.spaceId, client.name); now.code == 200) {
            client.revision = now.value.revision;
        }
        return failed(std::to_string(stored.code));
    }
    client.revision = stored.value.revision;
    return true;
}

bool both(int lockCode, int unlockCode)
{
    return lockCode != 200 ? failed("lock " + std::to_string(lockCode))
                           : unlockCode == 200 || failed("unlock " + std::to_string(unlockCode));
}

// A file of fresh content (the server holds every earlier one) hashed and uploaded, as a host
// stores a file.
void renew(const fs::path& file, std::uint64_t seed)
{
    // A new first 8 bytes make new content without writing the whole file again.
    std::fstream patch(file, std::ios::binary | std::ios::in | std::ios::out);
    patch.write(reinterpret_cast<const char*>(&seed), sizeof seed);
}

double median_of(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace vyr::cld::bench
