#pragma once

#include "http.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The platform's HTTP, one source per platform chosen by the build: libcurl outside Windows,
// WinHTTP on it. A channel makes one attempt of one request; what is the same everywhere (the
// headers every request carries, which failures are tried again, the pauses between attempts)
// stays in Http.
namespace vyr::cld::remote::transport {

struct Request {
    std::string_view method;
    std::string_view target; // the path and query
    std::vector<std::pair<std::string, std::string>> headers;
    std::string_view body;
};

struct Attempt {
    HttpResponse response;
    bool neverSent = false; // the request certainly did not reach the server
};

// Connections to one server, kept open between the requests of one thread at a time. It keeps
// the connection's time-outs and verifies the server's certificate as the connection says; it
// follows no redirection.
class Channel {
public:
    static std::unique_ptr<Channel> open(const Connection& connection);
    virtual ~Channel() = default;
    virtual Attempt send(const Request& request) = 0;
};

// Adds one "Name: value" line of an answer's head to `headers`, the name in lower case.
void add_header_line(std::string_view line, std::map<std::string, std::string>& headers);

} // namespace vyr::cld::remote::transport
