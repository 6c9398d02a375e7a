#pragma once

#include <vyr/cld/domain/accounts.h>
#include <vyr/cld/domain/blobs.h>
#include <vyr/cld/domain/records.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// The team service's HTTP server: each request is authenticated by its bearer token and acts
// through the domain operations for that token's user. It keeps nothing between requests, so any
// number of processes may serve one database.
namespace vyr::cld::domain {
class PostgresRequestKeys;
}

namespace vyr::cld::server {

struct Backend {
    std::shared_ptr<domain::MetadataStore> store;
    std::shared_ptr<domain::BlobStore> blobs;
    std::shared_ptr<domain::Accounts> accounts;
    std::function<domain::Millis()> now;
    // Database connections lent out and the pool's size, for /metrics; nothing when unset.
    std::function<std::pair<int, int>()> poolUse;
    // The answers of keyed requests; without it a key is ignored.
    std::shared_ptr<domain::PostgresRequestKeys> requestKeys;
    // Requests let in by cached credentials, and those that asked the database, for /metrics;
    // nothing when unset.
    std::function<std::pair<std::uint64_t, std::uint64_t>()> credentialCache;
};

// How long the answer of a keyed request is kept for a client that sends it again.
inline constexpr std::chrono::hours request_key_lifetime{24};

struct Limits {
    std::size_t headerBytes = 16 * 1024;
    // The whole of one request's header, or of its body, must arrive within this; an idle
    // keep-alive connection is closed after it.
    std::chrono::milliseconds readTimeout{30000};
    std::chrono::milliseconds writeTimeout{30000};
    // The longest a client may wait for its events in one request.
    std::chrono::milliseconds longestPoll{25000};
    // Connections open at once. When all are taken, the one that has waited longest for a next
    // request with nothing received is closed to make room for a new one.
    std::size_t maxConnections = 1024;
    // Of those, one client address (an IPv6 client's /64) may hold at most this many, so that it
    // cannot lock the others out.
    std::size_t maxConnectionsPerAddress = 256;
};

struct Settings {
    std::string address = "127.0.0.1";
    unsigned short port = 0; // 0: any free port
    int ioThreads = 2;
    int workers = 8; // threads that run the database work
    std::string tlsCertificate, tlsKey; // PEM files; both empty: plain HTTP
    Limits limits;
};

class Server {
public:
    // Binds at once; raises std::system_error when the address cannot be bound.
    Server(const Settings& settings, Backend backend);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    [[nodiscard]] unsigned short port() const;
    // Serves until stop(), or until SIGINT/SIGTERM when `signals`.
    void run(bool signals = false);
    void stop();

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vyr::cld::server
