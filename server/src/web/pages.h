#pragma once

#include "../handlers.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The team service's web pages: server-rendered HTML for a signed-in browser, beside the API on
// the same listener. A browser signs in with a bearer token once and then carries a session
// cookie; every form that changes something carries the session's CSRF token and is a POST.
namespace vyr::cld::server::web {

struct Context;

struct Page {
    std::string_view method;
    std::string_view pattern; // "{name}" stands for one path segment
    Reply (*serve)(Context&);
    bool signedIn; // without a session: to the sign-in page
};

struct PageMatch {
    const Page* page = nullptr; // nothing: the path is a page's, but not with this method
    std::vector<std::string> params;
};
std::span<const Page> all_pages();
// The page of a request's path; nothing when no page has that path.
std::optional<PageMatch> find_page(std::string_view method, std::string_view path);

// A same-site address to return to after sign-in: a signed-in page's path and query, never one a
// browser could read as another site's; nothing when it is not one.
std::optional<std::string> return_address(std::string_view next);

// Blocking, as handle() is: runs on a worker thread.
Reply handle_page(const Backend& backend, const Request& request);

// A form's body may hold no more.
inline constexpr std::size_t form_limit = 16 * 1024;

std::string_view stylesheet();
std::string_view script();
// The site's icon, an SVG of its own.
std::string_view icon();

} // namespace vyr::cld::server::web
