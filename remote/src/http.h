#pragma once

#include <vyr/cld/remote/remote.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vyr::cld::remote {

struct HttpResponse {
    bool reached = false; // false: no answer came back; status is then protocol::unavailable
    int status = 0;
    std::string body;
    std::map<std::string, std::string> headers; // names in lower case
    std::string error; // when no answer came back: why not, in the HTTP library's words
};

namespace transport {
class Channel;
}

// Requests to one server on reused connections: one channel per request in flight, kept for the
// next, so that keep-alive spans the calls of many threads.
class Http {
public:
    explicit Http(Connection connection);
    ~Http();
    Http(const Http&) = delete;
    Http& operator=(const Http&) = delete;

    // `target` is the path and query. An idempotent request is sent again after a failure of the
    // network or a 503, and so is one that carries an idempotency key (the same on every attempt),
    // which the server acts on once; any other only when the connection was never made, so it
    // never acts twice.
    HttpResponse send(std::string_view method, const std::string& target, std::string_view body = {},
                      std::string_view contentType = {}, bool idempotent = true,
                      std::string_view idempotencyKey = {});

private:
    std::unique_ptr<transport::Channel> acquire();
    void release(std::unique_ptr<transport::Channel> channel);

    Connection connection_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<transport::Channel>> idle_;
};

} // namespace vyr::cld::remote
