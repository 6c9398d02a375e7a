#include "dispatch.h"

#include "compress.h"
#include "web/pages.h"

#include <vyr/cld/protocol/protocol.h>

#include <algorithm>

namespace vyr::cld::server {
namespace {

Unrouted refused(int status, std::string_view detail, bool keepOpen = false)
{
    return {problem_reply(status, detail), keepOpen, {}};
}

// Every method the path takes, routes and pages alike, for a 405's Allow header.
std::string allowed_methods(std::string_view path)
{
    std::string out;
    const auto add = [&out](std::string_view method) {
        if (out.find(method) == std::string::npos) {
            out += (out.empty() ? "" : ", ") + std::string(method);
        }
    };
    for (const auto& route : protocol::routes()) {
        if (protocol::fit(route.pattern, path)) {
            add(route.method);
        }
    }
    for (const auto& page : web::all_pages()) {
        if (protocol::fit(page.pattern, path)) {
            add(page.method);
        }
    }
    return out;
}

Unrouted method_refused(std::string_view path, std::string_view detail)
{
    auto out = refused(405, detail, true);
    out.reply.headers.emplace_back("Allow", allowed_methods(path));
    return out;
}

// Every text of the API is UTF-8 without NUL, ids and queries too.
bool sound_text(const std::string& text)
{
    return protocol::is_utf8(text) && text.find('\0') == std::string::npos;
}

// An id that is not sound text names nothing the store could hold: unknown, as any other unknown
// id, before a handler or a database meets bytes it cannot take.
bool names_nothing(const std::vector<std::string>& params)
{
    return !std::all_of(params.begin(), params.end(), sound_text);
}

bool sound_query(const std::map<std::string, std::string>& query)
{
    return std::all_of(query.begin(), query.end(),
                       [](const auto& pair) { return sound_text(pair.first) && sound_text(pair.second); });
}

} // namespace

std::variant<Routed, Unrouted> route_request(const boost::beast::http::request_header<>& header,
                                             std::optional<std::uint64_t> declaredLength, bool tls)
{
    namespace http = boost::beast::http;
    const std::string method(header.method_string());
    const std::string_view rawTarget(header.target().data(), header.target().size());
    const auto target = protocol::parse_target(rawTarget);
    if (!target) {
        return refused(400, "The request's target is malformed.");
    }
    Routed out;
    if (const auto found = protocol::match(method, target->path)) {
        if (!found->route) {
            return method_refused(target->path, "The route does not take this method.");
        }
        if (names_nothing(found->params)) {
            return refused(404, "No such resource.", true);
        }
        out.request =
            Request{method, found->route, found->params, target->query, {}, {}, nullptr, {}, {}, tls, {}, false, {}};
        out.route = std::string(found->route->pattern);
        out.bodyLimit = found->route->bodyLimit;
    } else if (auto page = web::find_page(method, target->path)) {
        if (!page->page) {
            return method_refused(target->path, "The page does not take this method.");
        }
        if (names_nothing(page->params)) {
            return refused(404, "No such page.", true);
        }
        // A page's query comes from a GET form, which sends a space as '+'.
        auto form = protocol::parse_target(rawTarget, protocol::Encoding::form);
        if (!form) {
            return refused(400, "The request's target is malformed.");
        }
        out.request =
            Request{method, nullptr, std::move(page->params), std::move(form->query), {}, {}, page->page, {}, {},
                    tls, {}, false, {}};
        out.route = std::string(page->page->pattern);
        out.bodyLimit = web::form_limit;
    } else {
        return refused(404, "No such route.", true);
    }
    if (!sound_query(out.request.query)) {
        return refused(400, "The request's target is malformed.");
    }
    if (const auto authorization = header.find(http::field::authorization); authorization != header.end()) {
        out.request.authorization = std::string(authorization->value());
    }
    const auto keyHeader = protocol::idempotency_key_header;
    if (const auto key = header.find(boost::beast::string_view(keyHeader.data(), keyHeader.size()));
        key != header.end()) {
        out.request.idempotencyKey = std::string(key->value());
    }
    if (const auto cookie = header.find(http::field::cookie); cookie != header.end()) {
        out.request.cookie = std::string(cookie->value());
    }
    if (const auto coding = header.find(http::field::accept_encoding); coding != header.end()) {
        out.request.takesGzip = accepts_gzip({coding->value().data(), coding->value().size()});
    }
    out.request.target = std::string(rawTarget);
    // The parser checked a declared length against its default limit only; the route's is
    // smaller. A chunked body meets the route's limit as it arrives.
    if (declaredLength && *declaredLength > out.bodyLimit) {
        auto tooLarge = refused(413, "The request's body is larger than this route takes.");
        tooLarge.route = std::move(out.route);
        return tooLarge;
    }
    return out;
}

Reply answer_request(const Backend& backend, const Metrics& metrics, const Limits& limits, const Request& request)
{
    try {
        auto reply = request.page ? web::handle_page(backend, request) : handle(backend, metrics, limits, request);
        compress_reply(reply, request.takesGzip);
        return reply;
    } catch (...) {
        return problem_reply(500, "The server failed to answer.");
    }
}

} // namespace vyr::cld::server
