#pragma once

// What the team server's benchmarks share: a server on the database of the environment (PG*
// variables) with users, a project and a space; threads as clients running an operation for a
// while; medians of repetitions.
#include "server/harness.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/remote/remote.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace vyr::cld::bench {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The server program the benchmarks start and administer.
extern const std::string program;

[[noreturn]] void fail(const std::string& why);
// Runs an administration command of the server program; its standard output.
std::string admin(const std::vector<std::string>& arguments);
// A field of /proc/PID/status in KiB ("VmHWM:"), and starting the peak over from now.
std::int64_t status_kib(pid_t pid, const char* field);
void reset_peak(pid_t pid);

// The server, with its request log in a file: a line per request is part of what it costs.
struct Server {
    std::unique_ptr<test::Child> child;
    unsigned short port = 0;

    // contentDir: the folder of the content store on a file system; empty for the chunk table.
    Server(int pool, const fs::path& log, const std::string& contentDir = {});
};

struct Client {
    std::string userId, token, fileId, name;
    std::int64_t revision = 0;
};

struct World {
    fs::path scratch;
    std::unique_ptr<Server> server;
    std::vector<Client> clients;
    std::string projectId, spaceId;
    std::string blobs[2]; // two small contents a commit alternates between
    std::int64_t blobSize = 0;

    remote::Connection connection(const Client& client) const;
};

// A file of `bytes` pseudo-random bytes.
fs::path write_file(const fs::path& path, std::int64_t bytes, std::uint64_t seed);
// Migrates the database, adds `users` users with a token each, starts the server with a pool of
// `pool` connections and workers, and gives every user a file of their own in one space.
void build_world(World& world, int pool, int users, const std::string& contentDir = {});
// A file of fresh content made by writing a new first 8 bytes.
void renew(const fs::path& file, std::uint64_t seed);

// Why the calling thread's last operation failed, for the table's notes.
extern thread_local std::string failure;
bool failed(std::string why);

struct Rate {
    double perSecond = 0;
    double p50Ms = 0, p99Ms = 0;
    std::int64_t failures = 0;
    std::map<std::string, int> reasons;
};
// `threads` threads run their operation over and over for `seconds` after a short warm-up; an
// operation answers whether it did what was asked.
Rate measure(int threads, double seconds, const std::function<std::function<bool()>(int)>& make);
// The repetition of median throughput (its latencies with it), with every repetition's failures.
Rate median(std::vector<Rate> runs);
double median_of(std::vector<double> values);
double load_average();

// The client's next revision: the other of the two contents, on the revision it holds.
domain::Commit next_commit(const World& world, const Client& client);
// Takes a commit's answer: the client's revision moves on, or is read again after a refusal.
bool committed(Client& client, const domain::Answer<domain::FileRow>& stored, domain::Domain& domain,
               const World& world);
bool both(int lockCode, int unlockCode);

} // namespace vyr::cld::bench
