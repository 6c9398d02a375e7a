#pragma once

#include <vyr/cld/protocol/protocol.h>
#include <vyr/cld/server/server.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vyr::cld::server {

namespace web {
struct Page;
}

struct Request {
    std::string method;
    const protocol::Route* route = nullptr;
    std::vector<std::string> params;
    std::map<std::string, std::string> query;
    std::string authorization;
    std::string body;
    // A web page's request instead of an API route's, with what a browser sends.
    const web::Page* page = nullptr;
    std::string cookie, contentType;
    bool tls = false;
    // A keyed request's key, as the client sent it.
    std::string idempotencyKey;
    // The client takes a gzip-compressed body.
    bool takesGzip = false;
    // The target as the client sent it (path and query), for a page to come back to after sign-in.
    std::string target;
};

// A body too large to hold: its chunks, read one at a time as the connection takes them.
struct Streamed {
    std::int64_t size = 0;
    std::function<std::string(std::int64_t offset)> chunk; // blocking; raises when it cannot
};

struct Reply {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
    // An empty answer to a long poll: ask again until then.
    std::optional<std::chrono::steady_clock::time_point> pollUntil;
    // When set, the body is these bytes instead.
    std::optional<Streamed> streamed;
};

Reply problem_reply(int status, std::string_view detail);

// Requests by route and status, and their latency, as Prometheus text.
class Metrics {
public:
    void record(std::string_view route, int status, double seconds);
    std::string text(const Backend& backend) const;

private:
    static constexpr std::array<double, 10> bounds{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 1, 5};
    mutable std::mutex mutex_;
    std::map<std::pair<std::string, int>, std::uint64_t> requests_;
    std::array<std::uint64_t, bounds.size() + 1> buckets_{};
    double sum_ = 0;
    std::uint64_t count_ = 0;
};

// Authenticates a request and answers it through the domain operations of its user. Blocking:
// it runs on a worker thread, never on the threads that move bytes.
Reply handle(const Backend& backend, const Metrics& metrics, const Limits& limits, const Request& request);

} // namespace vyr::cld::server
