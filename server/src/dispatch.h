#pragma once

#include "handlers.h"

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

// What the server makes of a request between its parsed header and its answer, without a socket:
// the connections use it, and so does the fuzz target of the request path.
namespace vyr::cld::server {

// A header that names a route or a page: the request to answer once its body is read, and the
// most that body may hold.
struct Routed {
    Request request;
    std::string route; // the pattern, for the log and the metrics: never the target itself
    std::size_t bodyLimit = 0;
};

// A header answered at once, before any body is read.
struct Unrouted {
    Reply reply;
    // The route is unknown, but the header was sound: the connection may serve another request
    // once the body (if any) is read into nothing.
    bool keepOpen = false;
    std::string route; // the pattern, once one was found
};

std::variant<Routed, Unrouted> route_request(const boost::beast::http::request_header<>& header,
                                             std::optional<std::uint64_t> declaredLength, bool tls);

// The answer of a routed request with its body: an API route's or a page's. Whatever a handler
// raises becomes a 500 here, so that no request can end the process.
Reply answer_request(const Backend& backend, const Metrics& metrics, const Limits& limits, const Request& request);

} // namespace vyr::cld::server
