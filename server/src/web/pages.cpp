#include "pages.h"

#include "html.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/domain/sha256.h>
#include <vyr/cld/protocol/protocol.h>

#include <VyrCldapi/Enums.h>

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <map>

namespace vyr::cld::server::web {

struct Context {
    const Backend& backend;
    const Request& request;
    std::map<std::string, std::string> cookies;
    std::optional<domain::WebSession> session;
    std::unique_ptr<domain::Domain> domain; // the signed-in user's
    std::map<std::string, std::string> form;

    [[nodiscard]] const std::string& param(std::size_t index) const { return request.params.at(index); }
};

namespace {

using domain::Millis;

constexpr std::string_view session_cookie = "vyr_session";
// The sign-in form's token against cross-site posts, before there is a session to hold one: the
// form and a cookie only this site can set carry the same value.
constexpr std::string_view signin_cookie = "vyr_signin";
constexpr Millis session_length = 12LL * 3600 * 1000;
constexpr std::string_view html_type = "text/html; charset=utf-8";

// A page's answer ends early with this status and message.
struct Refused {
    int status;
    std::string message;
};

[[noreturn]] void not_found()
{
    throw Refused{404, "There is no such page, or it is not yours to see."};
}

// Compared in constant time, so that a guess learns nothing from how long it took to refuse.
bool same_secret(std::string_view given, std::string_view expected)
{
    return !expected.empty() && given.size() == expected.size() &&
           CRYPTO_memcmp(given.data(), expected.data(), expected.size()) == 0;
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == ' ') {
        text.remove_suffix(1);
    }
    return text;
}

std::map<std::string, std::string> parse_cookies(std::string_view header)
{
    std::map<std::string, std::string> out;
    while (!header.empty()) {
        const auto end = std::min(header.find(';'), header.size());
        const auto pair = header.substr(0, end);
        if (const auto equals = pair.find('='); equals != std::string_view::npos) {
            out.emplace(trimmed(pair.substr(0, equals)), trimmed(pair.substr(equals + 1)));
        }
        header = end == header.size() ? std::string_view{} : header.substr(end + 1);
    }
    return out;
}

// An application/x-www-form-urlencoded body.
std::map<std::string, std::string> parse_form(std::string_view body)
{
    auto pairs = protocol::decoded_pairs(body, protocol::Encoding::form);
    if (!pairs) {
        throw Refused{400, "The form's fields are malformed."};
    }
    // The first of a repeated field counts.
    return {std::make_move_iterator(pairs->begin()), std::make_move_iterator(pairs->end())};
}

std::string field(const std::map<std::string, std::string>& fields, const std::string& name)
{
    const auto found = fields.find(name);
    return found == fields.end() ? std::string{} : found->second;
}

// What every page answer carries: nothing runs or loads but this site's own files, nothing is
// kept by a cache or told to another site.
void guard(Reply& reply)
{
    reply.headers.emplace_back("Content-Security-Policy",
                               "default-src 'none'; style-src 'self'; script-src 'self'; img-src 'self'; "
                               "connect-src 'self'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'");
    reply.headers.emplace_back("X-Content-Type-Options", "nosniff");
    reply.headers.emplace_back("Referrer-Policy", "no-referrer");
    reply.headers.emplace_back("Cache-Control", "no-store");
}

Reply html_reply(int status, std::string body)
{
    Reply reply;
    reply.status = status;
    reply.contentType = html_type;
    reply.body = std::move(body);
    guard(reply);
    return reply;
}

Reply redirect(const std::string& location)
{
    Reply reply;
    reply.status = 303;
    reply.headers.emplace_back("Location", location);
    guard(reply);
    return reply;
}

std::string cookie(const Context& c, std::string_view name, std::string_view value, std::string_view path,
                   bool expired = false)
{
    auto out = std::string(name) + "=" + std::string(value) + "; HttpOnly; SameSite=Strict; Path=" + std::string(path);
    if (c.request.tls) {
        out += "; Secure";
    }
    if (expired) {
        out += "; Max-Age=0";
    }
    return out;
}

std::string href(std::string_view prefix, std::string_view id, std::string_view suffix = {})
{
    return std::string(prefix) + protocol::percent_encoded(id) + std::string(suffix);
}

const std::string& display(const domain::UserRow& user)
{
    return !user.displayName.empty() ? user.displayName : !user.principalName.empty() ? user.principalName : user.id;
}

std::string last_segment(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

std::string decimal(double value)
{
    std::array<char, 32> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    return {digits.data(), end};
}

// The frame of every page: the stylesheet and script, and for a signed-in user the way around and
// the way out. The page writes into <main>.
Html frame(const Context& c, std::string_view title)
{
    Html html;
    html.open("html", {{"lang", "en"}})
        .open("head")
        .leaf("meta", {{"charset", "utf-8"}})
        .leaf("meta", {{"name", "viewport"}, {"content", "width=device-width, initial-scale=1"}})
        .element("title", std::string(title) + " - vyr-cld")
        .leaf("link", {{"rel", "stylesheet"}, {"href", "/static/app.css"}})
        .leaf("link", {{"rel", "icon"}, {"href", "/static/icon.svg"}, {"type", "image/svg+xml"}})
        .open("script", {{"src", "/static/app.js"}, {"defer", ""}})
        .close()
        .close()
        .open("body")
        .open("header");
    if (c.session) {
        html.element("a", {{"href", "/projects"}}, "Projects")
            .element("a", {{"href", "/activity"}}, "Activity")
            .element("a", {{"href", "/events"}}, "Events")
            .named("span", {{"class", "user"}}, display(c.session->user))
            .open("form", {{"method", "post"}, {"action", "/signout"}, {"id", "signout"}})
            .leaf("input", {{"type", "hidden"}, {"name", "csrf"}, {"value", c.session->csrf}})
            .element("button", {{"type", "submit"}}, "Sign out")
            .close();
    } else {
        html.element("span", "vyr-cld");
    }
    html.close().open("main");
    return html;
}

Reply error_page(const Context& c, int status, std::string_view message)
{
    auto html = frame(c, protocol::title(status));
    html.element("h1", protocol::title(status)).element("p", {{"class", "error"}}, message);
    return html_reply(status, html.finish());
}

// A form posted from one of this site's pages carries the secret that page was given: the
// session's, or the sign-in form's own.
void check_form_secret(const Context& c, std::string_view expected)
{
    if (!same_secret(field(c.form, "csrf"), expected)) {
        throw Refused{403, "The form did not come from this site's page, or the page is too old: reload it."};
    }
}

void check_csrf(const Context& c)
{
    check_form_secret(c, c.session ? std::string_view(c.session->csrf) : std::string_view{});
}

} // namespace

std::optional<std::string> return_address(std::string_view next)
{
    // Printable ASCII only: a browser drops tabs and line breaks from an address and reads a
    // backslash as a slash, so "/\\evil" or "/<TAB>/evil" would leave the site. One leading slash:
    // "//evil" is another host. Every address a page links is percent-encoded, so nothing of
    // this site's is lost.
    if (next.size() < 2 || next.size() > 2048 || next[0] != '/' || next[1] == '/') {
        return std::nullopt;
    }
    for (const char c : next) {
        if (c <= ' ' || c >= '\x7F' || c == '\\') {
            return std::nullopt;
        }
    }
    // And a page one signs in to see: no sign-in or sign-out, no asset, no unknown path.
    const auto target = protocol::parse_target(next, protocol::Encoding::form);
    const auto page = target ? find_page("GET", target->path) : std::nullopt;
    if (!page || !page->page || !page->page->signedIn || page->page->pattern.ends_with(".json")) {
        return std::nullopt;
    }
    return std::string(next);
}

namespace {

// Where a signed-in user goes: back to the page that sent them to sign in, or the projects.
std::string after_signin(const std::string& next)
{
    return return_address(next).value_or("/projects");
}

Reply signin_page(const Context& c, int status, std::string_view message, const std::string& next)
{
    const auto csrf = domain::random_hex(32);
    auto html = frame(c, "Sign in");
    html.element("h1", "Sign in");
    if (!message.empty()) {
        html.element("p", {{"class", "error"}, {"id", "signin-error"}}, message);
    }
    html.open("form", {{"method", "post"}, {"action", "/signin"}})
        .leaf("input", {{"type", "hidden"}, {"name", "csrf"}, {"value", csrf}});
    if (return_address(next)) {
        html.leaf("input", {{"type", "hidden"}, {"name", "next"}, {"value", next}});
    }
    html.element("label", {{"for", "token"}}, "Token ")
        .leaf("input", {{"name", "token"}, {"type", "password"}, {"id", "token"}, {"autocomplete", "off"}, {"required", ""}})
        .element("button", {{"type", "submit"}, {"id", "signin"}}, "Sign in")
        .close();
    auto reply = html_reply(status, html.finish());
    reply.headers.emplace_back("Set-Cookie", cookie(c, signin_cookie, csrf, "/signin"));
    return reply;
}

Reply root(Context& c)
{
    return redirect(c.session ? "/projects" : "/signin");
}

std::string query_field(const Context& c, const std::string& name)
{
    const auto found = c.request.query.find(name);
    return found == c.request.query.end() ? std::string{} : found->second;
}

Reply signin_form(Context& c)
{
    const auto next = query_field(c, "next");
    return c.session ? redirect(after_signin(next)) : signin_page(c, 200, {}, next);
}

Reply signin(Context& c)
{
    const auto expected = c.cookies.find(std::string(signin_cookie));
    try {
        check_form_secret(c, expected == c.cookies.end() ? std::string_view{} : std::string_view(expected->second));
    } catch (const Refused& refused) {
        // A fresh form with the refusal, not a page that asks for a reload: reloading a refused
        // post sends the same stale form again, and again.
        return signin_page(c, refused.status, "The sign-in form was too old or not this site's own: sign in again.",
                           field(c.form, "next"));
    }
    const auto now = c.backend.now();
    const auto started = c.backend.accounts->start_session(field(c.form, "token"), now, now + session_length);
    if (!started) {
        return signin_page(c, 401, "The token was not accepted.", field(c.form, "next"));
    }
    auto reply = redirect(after_signin(field(c.form, "next")));
    reply.headers.emplace_back("Set-Cookie", cookie(c, session_cookie, started->first, "/"));
    reply.headers.emplace_back("Set-Cookie", cookie(c, signin_cookie, "", "/signin", true));
    return reply;
}

Reply signout(Context& c)
{
    check_csrf(c);
    c.backend.accounts->end_session(c.cookies.at(std::string(session_cookie)));
    auto reply = redirect("/signin");
    reply.headers.emplace_back("Set-Cookie", cookie(c, session_cookie, "", "/", true));
    return reply;
}

Reply projects(Context& c)
{
    const auto q = query_field(c, "q");
    const auto key = domain::folded(q);
    const auto matches = [&](const std::string& text) { return domain::folded(text).find(key) != std::string::npos; };
    auto html = frame(c, "Projects");
    html.element("h1", "Projects")
        .open("form", {{"method", "get"}, {"action", "/projects"}, {"role", "search"}})
        .element("label", {{"for", "search"}}, "Name or number ")
        .leaf("input", {{"name", "q"}, {"id", "search"}, {"type", "search"}, {"value", q}})
        .element("button", {{"type", "submit"}}, "Search")
        .close();
    bool anyShown = false;
    for (const auto& tenant : c.domain->tenants()) {
        auto listed = c.domain->listed_projects(tenant.uniqueId).value;
        std::erase_if(listed, [&](const domain::ListedProject& entry) {
            return !key.empty() && !matches(entry.project.name) && !matches(entry.project.number);
        });
        html.open("section", {{"class", "tenant"}, {"data-tenant-id", tenant.uniqueId}}).named("h2", tenant.displayName);
        if (listed.empty()) {
            html.element("p", {{"class", "empty"}},
                         key.empty() ? "You belong to no project here yet. Create one with vyr-cld project create, "
                                       "or ask a project's admin to add you."
                                     : "No project here has that name or number.");
            html.close();
            continue;
        }
        anyShown = true;
        html.open("table")
            .open("thead")
            .open("tr")
            .element("th", "Name")
            .element("th", "Number")
            .element("th", "Partitions")
            .close()
            .close()
            .open("tbody");
        for (const auto& [project, partitions] : listed) {
            html.open("tr", {{"data-project-id", project.id}})
                .open("td")
                .named("a", {{"href", href("/projects/", project.id)}}, project.name)
                .close()
                .named("td", project.number)
                .open("td", {{"class", "partitions"}});
            for (const auto& partition : partitions) {
                html.named("a", {{"href", href("/spaces/", partition.id)}}, partition.name).text(" ");
            }
            html.close().close();
        }
        html.close().close().close();
    }
    if (!anyShown && !key.empty()) {
        html.open("p").element("a", {{"href", "/projects"}}, "Every project").close();
    }
    html.open("section", {{"id", "directories"}}).element("h2", "My directories");
    const auto directories = c.domain->user_directories();
    if (directories.empty()) {
        html.element("p", {{"class", "empty"}},
                     "You have no directory of your own yet: the desktop host makes one when you first use it.");
    }
    html.open("ul");
    for (const auto& directory : directories) {
        html.open("li").named("a", {{"href", href("/spaces/", directory.id)}}, directory.name).close();
    }
    return html_reply(200, html.finish());
}

Reply project(Context& c)
{
    const auto project = c.domain->project(c.param(0));
    if (project.code != domain::ok) {
        not_found();
    }
    auto html = frame(c, project.value.name);
    html.named("h1", project.value.name);
    if (!project.value.number.empty()) {
        html.open("p", {{"class", "number"}}).text("Number ").isolated(project.value.number).close();
    }
    html.element("h2", "Partitions");
    const auto partitions = c.domain->partitions(project.value.id).value;
    if (partitions.empty()) {
        html.element("p", {{"class", "empty"}},
                     "This project has no partitions yet. Create one with vyr-cld partition create NAME --project " +
                         project.value.id + ".");
    }
    html.open("ul", {{"id", "partitions"}});
    for (const auto& partition : partitions) {
        html.open("li")
            .named("a", {{"href", href("/spaces/", partition.id)}}, partition.name)
            .text(" (version " + std::to_string(partition.versionMajor) + ")")
            .close();
    }
    html.close().open("p").element("a", {{"href", href("/projects/", project.value.id, "/updates")}, {"id", "updates-link"}},
                                     "Online viewer updates");
    html.close().open("p").element("a", {{"href", href("/projects/", project.value.id, "/activity")}, {"id", "activity-link"}},
                                     "Activity");
    return html_reply(200, html.finish());
}

// A page's title naming the project it belongs to, when it belongs to one.
std::string titled(const std::string& what, const domain::Answer<domain::ProjectRow>& project)
{
    return project.code == domain::ok ? what + " - " + project.value.name : what;
}

Reply folder_page(Context& c);
void break_form(Html& html, const Context& c, const domain::FileRow& file, std::string_view id, std::string_view back);

Reply space(Context& c)
{
    return folder_page(c);
}

// A SHA-256 shortened to what tells revisions apart, the whole in its title and on a copy control.
void write_hash(Html& html, const std::string& id, const std::string& hash)
{
    html.element("code", {{"class", "hash"}, {"id", id}, {"title", hash}}, hash.substr(0, 12) + "\u2026")
        .element("button", {{"type", "button"}, {"class", "copy"}, {"data-copy", hash}, {"aria-controls", id},
                            {"aria-label", "Copy the whole SHA-256"}},
                 "Copy");
}

// Each rename of a file, oldest first: a rename is a revision under another path.
void write_renames(Html& html, const std::vector<domain::RevisionRow>& revisions)
{
    bool any = false;
    for (std::size_t i = 1; i < revisions.size(); ++i) {
        if (revisions[i].path == revisions[i - 1].path) {
            continue;
        }
        if (!any) {
            html.open("ul", {{"id", "renames"}});
            any = true;
        }
        html.open("li", {{"class", "renamed"}})
            .text("Renamed from ")
            .named("span", {{"class", "path"}}, revisions[i - 1].path)
            .text(" to ")
            .named("span", {{"class", "path"}}, revisions[i].path)
            .text(" in revision " + std::to_string(revisions[i].revision) + " by ")
            .isolated(display(revisions[i].author))
            .text(", ")
            .time(revisions[i].time)
            .close();
    }
    if (any) {
        html.close();
    }
}

Reply file(Context& c)
{
    const auto view = c.domain->file_by_id(c.param(0));
    const auto revisions = c.domain->revisions(c.param(0));
    if (view.code != domain::ok || revisions.code != domain::ok) {
        not_found();
    }
    const auto& file = view.value.file;
    auto html = frame(c, last_segment(file.path));
    html.named("h1", last_segment(file.path)).named("p", {{"class", "path"}}, file.path).open("p").text("In ");
    if (view.value.project) {
        html.named("a", {{"href", href("/spaces/", view.value.space.id)}}, view.value.space.name)
            .text(" of ")
            .named("a", {{"href", href("/projects/", view.value.project->id)}}, view.value.project->name);
    } else {
        html.named("a", {{"href", href("/spaces/", view.value.space.id)}}, view.value.space.name);
    }
    html.close();
    if (file.deleted) {
        html.element("p", {{"class", "deleted"}}, "Deleted in revision " + std::to_string(file.revision) + ".");
    }
    write_renames(html, revisions.value);
    html.open("section", {{"id", "lock"}});
    if (file.lock) {
        html.text("Locked by ").isolated(display(file.lock->holder)).text(" since ").time(file.lock->since);
        if (view.value.mayBreakLock) {
            break_form(html, c, file, "break-lock", "");
        }
    } else {
        html.text("Not locked");
    }
    html.close()
        .element("h2", "Revisions")
        .open("table", {{"id", "revisions"}})
        .open("thead")
        .open("tr");
    for (const auto* heading : {"Revision", "Author", "Time", "Size", "SHA-256", "Content"}) {
        html.element("th", heading);
    }
    html.close().close().open("tbody");
    for (auto revision = revisions.value.rbegin(); revision != revisions.value.rend(); ++revision) {
        const auto number = std::to_string(revision->revision);
        html.open("tr", {{"data-revision", number}})
            .element("td", number)
            .named("td", {{"class", "author"}}, display(revision->author))
            .open("td")
            .time(revision->time)
            .close()
            .open("td")
            .bytes(revision->size)
            .close()
            .open("td", {{"class", "sha256"}});
        write_hash(html, "sha256-" + number, revision->blob);
        html.close().open("td", {{"class", "content"}});
        if (revision->deleted) {
            html.text("deleted");
        } else {
            // A revision downloads under the name it had then; a link says so when that is not today's.
            html.open("a", {{"class", "download"}, {"href", href("/files/", file.id, "/revisions/" + number + "/content")}})
                .text("Download");
            if (revision->path != file.path) {
                html.text(" as ").named("span", {{"class", "old-name"}}, last_segment(revision->path));
            }
            html.close();
        }
        html.close().close();
    }
    return html_reply(200, html.finish());
}

// `filename` for old readers: printable ASCII without quote or backslash, one '_' for each other
// character; `filename*` the exact UTF-8 name.
std::string disposition(const std::string& name)
{
    std::string plain;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte < 0xC0) {
            continue; // a continuation of the character already replaced
        }
        plain += byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\' ? c : '_';
    }
    return "attachment; filename=\"" + plain + "\"; filename*=UTF-8''" + protocol::percent_encoded(name);
}

Reply content(Context& c)
{
    std::int64_t wanted = 0;
    const auto& text = c.param(1);
    if (std::from_chars(text.data(), text.data() + text.size(), wanted).ptr != text.data() + text.size()) {
        not_found();
    }
    const auto revisions = c.domain->revisions(c.param(0));
    if (revisions.code != domain::ok) {
        not_found();
    }
    const auto found = std::find_if(revisions.value.begin(), revisions.value.end(),
                                    [&](const domain::RevisionRow& row) { return row.revision == wanted; });
    if (found == revisions.value.end() || found->deleted) {
        not_found();
    }
    // The revision is the user's to read, so any whole copy of its content is.
    const auto size = c.backend.blobs->whole_size(found->blob);
    if (!size || *size != found->size) {
        throw Refused{500, "The store does not hold this revision's content whole."};
    }
    Reply reply;
    reply.contentType = "application/octet-stream";
    reply.headers.emplace_back("Content-Disposition", disposition(last_segment(found->path)));
    guard(reply);
    reply.streamed = Streamed{*size, [blobs = c.backend.blobs, hash = found->blob](std::int64_t offset) {
                                  return blobs->chunk(hash, offset);
                              }};
    return reply;
}

Reply unlock(Context& c);

domain::ProjectRow project_or_not_found(Context& c)
{
    auto project = c.domain->project(c.param(0));
    if (project.code != domain::ok) {
        not_found();
    }
    return std::move(project.value);
}

Reply updates(Context& c)
{
    const auto project = project_or_not_found(c);
    const auto updates = c.domain->model_updates(project.id);
    auto html = frame(c, "Viewer updates - " + project.name);
    html.element("h1", "Online viewer updates")
        .open("p")
        .named("a", {{"href", href("/projects/", project.id)}}, project.name)
        .close();
    if (updates.value.empty()) {
        html.element("p", {{"class", "empty"}},
                     "No updates have been sent to the online viewer yet. Send one with vyr-cld viewer 2d or "
                     "viewer 3d and its files.");
    }
    html.open("table", {{"id", "updates"}, {"data-poll", href("/projects/", project.id, "/updates.json")}})
        .open("thead")
        .open("tr");
    for (const auto* heading : {"Kind", "Files", "EPSG", "Description", "Logical id", "Offsets", "Notified", "Status"}) {
        html.element("th", heading);
    }
    html.close().close().open("tbody");
    for (const auto& view : updates.value) {
        const auto& update = view.update;
        html.open("tr", {{"data-update-id", update.id}})
            .element("td", {{"class", "kind"}}, update.dimensions == 3 ? "3D" : "2D")
            .open("td", {{"class", "files"}})
            .open("ul");
        for (const auto& path : view.paths) {
            html.named("li", path);
        }
        html.close()
            .close()
            .element("td", {{"class", "epsg"}}, std::to_string(update.epsg))
            .named("td", {{"class", "description"}}, update.description)
            .named("td", {{"class", "logical-id"}}, update.logicalId)
            .element("td", {{"class", "offsets"}}, decimal(update.offsetX) + ", " + decimal(update.offsetY))
            .open("td")
            .time(update.created)
            .close()
            .element("td", {{"class", "status"}}, domain::viewer_status_name(view.status))
            .close();
    }
    return html_reply(200, html.finish());
}

Reply updates_json(Context& c)
{
    const auto project = project_or_not_found(c);
    auto out = nlohmann::json::array();
    for (const auto& view : c.domain->model_updates(project.id).value) {
        out.push_back({{"id", view.update.id}, {"status", domain::viewer_status_name(view.status)}});
    }
    Reply reply;
    reply.contentType = protocol::json_type;
    reply.body = protocol::serialized(out);
    guard(reply);
    return reply;
}

std::string_view event_type_name(std::int32_t type)
{
    using VyrCldapi::StatusEventType;
    switch (static_cast<StatusEventType>(type)) {
    case StatusEventType::ConnectionStatus: return "ConnectionStatus";
    case StatusEventType::Download: return "Download";
    case StatusEventType::Upload: return "Upload";
    case StatusEventType::Rename: return "Rename";
    case StatusEventType::Locked: return "Locked";
    case StatusEventType::Unlocked: return "Unlocked";
    case StatusEventType::Deleted: return "Deleted";
    case StatusEventType::Swap: return "Swap";
    case StatusEventType::CorruptFile: return "CorruptFile";
    case StatusEventType::HandlePendingTasks: return "HandlePendingTasks";
    case StatusEventType::ProjectCacheUpdated: return "ProjectCacheUpdated";
    case StatusEventType::DirModelReloaded: return "DirModelReloaded";
    case StatusEventType::Heartbeat: return "Heartbeat";
    }
    return "Other";
}

// An event in words: what the desktop host is told, as its user reads it.
void write_event(Html& html, const domain::PostedEvent& posted)
{
    using VyrCldapi::StatusEventType;
    const auto& event = posted.event;
    const auto type = static_cast<StatusEventType>(event.type);
    html.open("li", {{"data-type", std::string(event_type_name(event.type))}, {"data-status", std::to_string(event.status)}});
    const auto path = [&](std::string_view text) { html.named("span", {{"class", "path"}}, text); };
    if (type == StatusEventType::Unlocked && event.status == domain::conflict) {
        // "path\nwho", then "\nreason" when the breaker gave one: another user broke this user's lock.
        const std::string_view text = event.responseId;
        const auto newline = text.find('\n');
        const auto who = newline == std::string_view::npos ? std::string_view("Someone") : text.substr(newline + 1);
        const auto why = who.find('\n');
        html.isolated(who.substr(0, why)).text(" broke your lock on ");
        path(text.substr(0, newline));
        if (why != std::string_view::npos) {
            html.text(": ").named("q", {{"class", "reason"}}, who.substr(why + 1));
        }
    } else if (event.status >= 300 && type != StatusEventType::ConnectionStatus) {
        html.text(std::string(event_type_name(event.type)) + " failed (" + std::to_string(event.status) + "): ");
        path(event.responseId);
    } else if (type == StatusEventType::Upload) {
        html.text(event.status == domain::created ? "You added " : "You stored a new revision of ");
        path(event.responseId);
    } else if (type == StatusEventType::Locked || type == StatusEventType::Unlocked ||
               type == StatusEventType::Deleted) {
        html.text(type == StatusEventType::Locked ? "You locked " : type == StatusEventType::Unlocked ? "You unlocked " : "You deleted ");
        path(event.responseId);
    } else if (type == StatusEventType::Rename) {
        html.text("You renamed a file to ");
        path(event.responseId);
    } else {
        html.text(std::string(event_type_name(event.type)) + " (" + std::to_string(event.status) + ")");
        if (!event.responseId.empty()) {
            html.text(": ");
            path(event.responseId);
        }
    }
    html.text(" ").time(posted.time).close();
}

Reply events(Context& c)
{
    constexpr int shown = 200;
    const auto recent = c.domain->recent_events(shown);
    const auto total = c.domain->event_count();
    auto html = frame(c, "Events");
    html.element("h1", "Status events")
        .open("p")
        .text("What the desktop host is told of your changes. It takes these as it runs, so they go from here then; ")
        .element("a", {{"href", "/activity"}}, "your activity")
        .text(" keeps what happened.")
        .close();
    if (recent.empty()) {
        html.element("p", {{"class", "empty"}}, "No events are waiting for the desktop host.");
        return html_reply(200, html.finish());
    }
    html.element("p", {{"class", "count"}, {"id", "events-count"}},
                 static_cast<std::int64_t>(recent.size()) == total
                     ? "All " + std::to_string(total) + (total == 1 ? " event." : " events.")
                     : "The newest " + std::to_string(recent.size()) + " of " + std::to_string(total) + " events.");
    html.open("ol", {{"id", "events"}, {"class", "activity"}});
    for (const auto& posted : recent) {
        write_event(html, posted);
    }
    return html_reply(200, html.finish());
}

// The activity history: what people did to files, in sentences that link what they name.
constexpr int activity_page_size = 50;

std::string_view activity_kind_name(domain::ActivityKind kind)
{
    using domain::ActivityKind;
    switch (kind) {
    case ActivityKind::Added: return "added";
    case ActivityKind::Stored: return "stored";
    case ActivityKind::Locked: return "locked";
    case ActivityKind::Unlocked: return "unlocked";
    case ActivityKind::BrokeLock: return "broke-lock";
    case ActivityKind::Deleted: return "deleted";
    case ActivityKind::Renamed: return "renamed";
    }
    return "other";
}

// "Ingrid Saether broke your lock on plans/a.dwg in Drawings of North Bridge: stale. <time>"
void write_activity(Html& html, const domain::ActivityRow& a, const domain::UserRow& reader)
{
    using domain::ActivityKind;
    html.open("li", {{"data-kind", activity_kind_name(a.kind)}});
    if (a.actor.id == reader.id) {
        html.text("You");
    } else {
        html.isolated(display(a.actor));
    }
    const auto file = [&] { html.named("a", {{"href", href("/files/", a.fileId)}, {"class", "path"}}, a.path); };
    switch (a.kind) {
    case ActivityKind::Added:
    case ActivityKind::Stored:
        html.text(a.kind == ActivityKind::Added ? " added " : " stored revision " + std::to_string(a.revision) + " of ");
        file();
        html.text(" (").bytes(a.size).text(")");
        break;
    case ActivityKind::Locked: html.text(" locked "); file(); break;
    case ActivityKind::Unlocked: html.text(" unlocked "); file(); break;
    case ActivityKind::BrokeLock:
        html.text(" broke ");
        if (a.subject && a.subject->id == reader.id) {
            html.text("your");
        } else {
            html.isolated(a.subject ? display(*a.subject) : std::string("someone")).text("\u2019s");
        }
        html.text(" lock on ");
        file();
        break;
    case ActivityKind::Deleted: html.text(" deleted "); file(); break;
    case ActivityKind::Renamed:
        html.text(" renamed ").named("span", {{"class", "path"}}, a.oldPath).text(" to ");
        file();
        break;
    }
    html.text(" in ").named("a", {{"href", href("/spaces/", a.spaceId)}}, a.spaceName.empty() ? a.spaceId : a.spaceName);
    if (!a.projectId.empty()) {
        html.text(" of ").named("a", {{"href", href("/projects/", a.projectId)}}, a.projectName);
    }
    if (!a.reason.empty()) {
        html.text(": ").named("q", {{"class", "reason"}}, a.reason);
    }
    html.text(". ").time(a.time).close();
}

// The page of a history that the query asks for: 1 without one, or for one that is not a number.
std::int64_t page_number(const Context& c)
{
    const auto text = query_field(c, "page");
    std::int64_t page = 1;
    const auto end = text.data() + text.size();
    if (std::from_chars(text.data(), end, page).ptr != end || page < 1) {
        return 1;
    }
    // Past the largest history the store keeps, every page is empty.
    return std::min<std::int64_t>(page, 1'000'000'000);
}

Reply activity_page(Context& c, const std::string& title, const std::string& base, std::int64_t page,
                    const domain::ActivityPage& history, const std::function<void(Html&)>& intro)
{
    auto html = frame(c, title);
    html.element("h1", title);
    intro(html);
    const auto first = (page - 1) * activity_page_size;
    if (history.rows.empty()) {
        html.element("p", {{"class", "empty"}},
                     history.total == 0 ? "Nothing has happened here yet. Adding, locking or renaming a file from a "
                                          "working folder (vyr-cld upload, lock, mv) is listed here."
                                        : "This page is past the end of the history.");
        if (history.total > 0) {
            html.open("p").element("a", {{"href", base}}, "The newest entries").close();
        }
        return html_reply(200, html.finish());
    }
    const auto last = first + static_cast<std::int64_t>(history.rows.size());
    html.element("p", {{"class", "count"}, {"id", "activity-count"}},
                 "Entries " + std::to_string(first + 1) + " to " + std::to_string(last) + " of " +
                     std::to_string(history.total) + ", newest first.");
    html.open("ol", {{"id", "activity"}, {"class", "activity"}});
    for (const auto& row : history.rows) {
        write_activity(html, row, c.session->user);
    }
    html.close().open("nav", {{"class", "pages"}, {"aria-label", "Pages of the history"}});
    if (page > 1) {
        html.element("a", {{"href", base + "?page=" + std::to_string(page - 1)}, {"rel", "prev"}}, "Newer");
    }
    if (last < history.total) {
        html.element("a", {{"href", base + "?page=" + std::to_string(page + 1)}, {"rel", "next"}}, "Older");
    }
    return html_reply(200, html.finish());
}

// ---- Folder pages, a project's locks, and breaking a lock knowingly ----

// A folder page shows this many entries unless its address asks for another number.
constexpr int folder_page_size = 200;
// A lock this old is shown as stale on the locks page.
constexpr Millis stale_lock_age = 24LL * 3600 * 1000;

// "YYYY-MM-DD" as the start of that day, UTC; nothing when it is no day.
std::optional<Millis> day_start(std::string_view text)
{
    const auto part = [&](std::size_t at, std::size_t length, int& into) {
        const auto* first = text.data() + at;
        const auto [end, error] = std::from_chars(first, first + length, into);
        return error == std::errc{} && end == first + length;
    };
    int year = 0, month = 0, day = 0;
    if (text.size() != 10 || text[4] != '-' || text[7] != '-' || !part(0, 4, year) || !part(5, 2, month) ||
        !part(8, 2, day)) {
        return std::nullopt;
    }
    const std::chrono::year_month_day date{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok() || year < 1970) {
        return std::nullopt;
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::sys_days{date}.time_since_epoch()).count();
}

// The parameters of a folder page's address that choose what it shows.
constexpr std::array folder_params{"path", "contains", "locked", "mine", "since", "sort", "order", "offset", "limit"};

std::string folder_href(const std::string& spaceId, std::map<std::string, std::string> params)
{
    std::erase_if(params, [](const auto& param) { return param.second.empty(); });
    return href("/spaces/", spaceId, protocol::query_string(params));
}

std::string age_text(Millis age)
{
    const auto minutes = std::max<Millis>(0, age) / 60000;
    if (minutes < 60) {
        return std::to_string(minutes) + " min";
    }
    if (minutes < 48 * 60) {
        return std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
    }
    return std::to_string(minutes / (24 * 60)) + " days";
}

void lock_badge(Html& html, const domain::LockRow& lock)
{
    html.open("span", {{"class", "lock-badge"}})
        .text("Locked by ")
        .isolated(display(lock.holder))
        .text(" since ")
        .time(lock.since)
        .close();
}

Reply folder_page(Context& c)
{
    std::map<std::string, std::string> shown;
    for (const auto* name : folder_params) {
        if (const auto found = c.request.query.find(name); found != c.request.query.end() && !found->second.empty()) {
            shown[name] = found->second;
        }
    }
    auto asked = shown;
    asked.erase("since");
    if (shown.contains("since")) {
        const auto since = day_start(shown.at("since"));
        if (!since) {
            throw Refused{400, "\"Changed since\" is not a day (YYYY-MM-DD)."};
        }
        asked["changedSince"] = std::to_string(*since);
    }
    if (!asked.contains("limit")) {
        asked["limit"] = std::to_string(folder_page_size);
    }
    const auto query = protocol::folder_query(asked);
    if (!query) {
        throw Refused{400, "The address asks for a sort, order, filter or page the folder does not have."};
    }
    const auto answer = c.domain->folder(c.param(0), *query);
    if (answer.code == domain::bad_request) {
        throw Refused{400, "The address asks for a folder or page there cannot be."};
    }
    if (answer.code != domain::ok) {
        not_found();
    }
    const auto& page = answer.value;
    const auto& space = page.space;
    const auto& folderPath = page.folder.path;
    const auto at = [&](std::map<std::string, std::string> changes) {
        auto params = shown;
        for (auto& [key, value] : changes) {
            params[key] = std::move(value);
        }
        return folder_href(space.id, std::move(params));
    };

    const auto found = space.kind == domain::SpaceRow::Kind::Partition ? c.domain->project(space.projectId)
                                                                        : domain::Answer<domain::ProjectRow>{};
    auto html =
        frame(c, titled(folderPath.empty() ? space.name : last_segment(folderPath) + " - " + space.name, found));
    html.named("h1", folderPath.empty() ? space.name : last_segment(folderPath));
    std::optional<domain::ProjectRow> project;
    if (space.kind == domain::SpaceRow::Kind::Partition) {
        if (found.code == domain::ok) {
            project = found.value;
            html.open("p")
                .text("Partition of ")
                .named("a", {{"href", href("/projects/", project->id)}}, project->name)
                .text(" \u00b7 ")
                .element("a", {{"href", href("/projects/", project->id, "/locks")}, {"id", "locks-link"}},
                         "Every lock of the project")
                .close();
        }
    } else {
        html.element("p", "Your own directory");
    }

    // The way up: the space, then each folder down to this one.
    html.open("nav", {{"aria-label", "Breadcrumb"}, {"id", "breadcrumbs"}}).open("ol");
    if (folderPath.empty()) {
        html.open("li").named("span", {{"aria-current", "page"}}, space.name).close();
    } else {
        html.open("li").named("a", {{"href", folder_href(space.id, {})}}, space.name).close();
        for (std::size_t start = 0;;) {
            const auto slash = folderPath.find('/', start);
            const auto upTo = folderPath.substr(0, slash);
            const auto name = folderPath.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
            html.open("li");
            if (slash == std::string::npos) {
                html.named("span", {{"aria-current", "page"}}, name).close();
                break;
            }
            html.named("a", {{"href", folder_href(space.id, {{"path", upTo}})}}, name).close();
            start = slash + 1;
        }
    }
    html.close().close();
    html.element("p", {{"id", "counts"}},
                 std::to_string(page.folder.files) + " files in this folder and below, " +
                     std::to_string(page.folder.direct) + " directly in it.");

    // Filters: each narrows the files beneath this folder; the page's script applies them as one types.
    const auto value = [&](const char* name) { return shown.contains(name) ? shown.at(name) : std::string(); };
    html.open("form", {{"method", "get"}, {"action", href("/spaces/", space.id)}, {"role", "search"},
                       {"id", "folder-filter"}})
        .leaf("input", {{"type", "hidden"}, {"name", "path"}, {"value", folderPath}})
        .leaf("input", {{"type", "hidden"}, {"name", "sort"}, {"value", value("sort")}})
        .leaf("input", {{"type", "hidden"}, {"name", "order"}, {"value", value("order")}})
        .element("label", {{"for", "filter"}}, "Name contains ")
        .leaf("input", {{"type", "search"}, {"name", "contains"}, {"id", "filter"}, {"value", value("contains")},
                        {"autocomplete", "off"}});
    const auto checkbox = [&](const char* name, const char* id, const char* label) {
        html.open("label", {{"for", id}});
        if (value(name) == "true") {
            html.leaf("input", {{"type", "checkbox"}, {"name", name}, {"id", id}, {"value", "true"}, {"checked", ""}});
        } else {
            html.leaf("input", {{"type", "checkbox"}, {"name", name}, {"id", id}, {"value", "true"}});
        }
        html.text(label).close();
    };
    checkbox("locked", "filter-locked", " Locked");
    checkbox("mine", "filter-mine", " Locked by me");
    html.element("label", {{"for", "filter-since"}}, "Changed since ")
        .leaf("input", {{"type", "date"}, {"name", "since"}, {"id", "filter-since"}, {"value", value("since")}})
        .element("button", {{"type", "submit"}}, "Filter")
        .close();

    // What the script replaces as the filters change.
    html.open("div", {{"id", "listing"}});
    const auto shownCount = static_cast<std::int64_t>(page.folders.size() + page.files.size());
    const auto first = shownCount == 0 ? 0 : query->offset + 1;
    html.element("p", {{"id", "summary"}, {"role", "status"}},
                 shownCount == 0 ? std::string(query->filtered() ? "No file beneath this folder matches the filters."
                                                                 : "This folder is empty.")
                                 : (query->filtered() ? "Files beneath this folder that match: " : "Entries ") +
                                       std::to_string(first) + "\u2013" + std::to_string(query->offset + shownCount) +
                                       " of " + std::to_string(page.total) + ".");
    html.open("table", {{"id", "entries"}}).open("thead").open("tr");
    const struct {
        const char* label;
        const char* sort;
        domain::FolderSort by;
    } columns[] = {{"Name", "name", domain::FolderSort::Name},
                   {"Size", "size", domain::FolderSort::Size},
                   {"Changed", "changed", domain::FolderSort::Changed},
                   {"Revision", "revision", domain::FolderSort::Revision}};
    for (const auto& column : columns) {
        const bool sorted = query->sort == column.by;
        const bool flip = sorted && !query->descending;
        const auto link = at({{"sort", column.sort}, {"order", flip ? "desc" : "asc"}, {"offset", ""}});
        if (sorted) {
            html.open("th", {{"aria-sort", query->descending ? "descending" : "ascending"}, {"scope", "col"}});
        } else {
            html.open("th", {{"scope", "col"}});
        }
        html.element("a", {{"href", link}, {"data-sort", column.sort}}, column.label).close();
    }
    html.element("th", {{"scope", "col"}}, "Lock").close().close().open("tbody");
    for (const auto& folder : page.folders) {
        html.open("tr", {{"class", "folder"}, {"data-folder", folder.path}})
            .open("td")
            .named("a", {{"href", folder_href(space.id, {{"path", folder.path}})}}, last_segment(folder.path) + "/")
            .close()
            .element("td", {{"class", "count"}}, std::to_string(folder.files) + " files")
            .element("td", "")
            .element("td", "")
            .element("td", "")
            .close();
    }
    const auto under = folderPath.empty() ? std::size_t{0} : folderPath.size() + 1;
    for (const auto& file : page.files) {
        html.open("tr", {{"class", "file"}, {"data-path", file.path}})
            .open("td")
            .named("a", {{"href", href("/files/", file.id)}}, file.path.substr(under))
            .close()
            .element("td", {{"class", "size"}}, std::to_string(file.size) + " bytes")
            .open("td", {{"class", "changed"}})
            .time(file.changed)
            .close()
            .element("td", {{"class", "revision"}}, std::to_string(file.revision))
            .open("td", {{"class", "lock"}});
        if (file.lock) {
            lock_badge(html, *file.lock);
        }
        html.close().close();
    }
    html.close().close();
    if (query->offset > 0 || query->offset + shownCount < page.total) {
        html.open("nav", {{"aria-label", "Pages"}, {"class", "paging"}});
        if (query->offset > 0) {
            html.element("a", {{"href", at({{"offset", std::to_string(std::max<std::int64_t>(0, query->offset - query->limit))}})},
                               {"rel", "prev"}},
                         "Previous page");
        }
        if (query->offset + shownCount < page.total) {
            html.element("a", {{"href", at({{"offset", std::to_string(query->offset + shownCount)}})}, {"rel", "next"}},
                         "Next page");
        }
        html.close();
    }
    return html_reply(200, html.finish());
}

Reply my_activity(Context& c)
{
    const auto page = page_number(c);
    const auto history = c.domain->activity((page - 1) * activity_page_size, activity_page_size);
    return activity_page(c, "Your activity", "/activity", page, history, [](Html& html) {
        html.element("p", "What you did to files, and what others did to your locks, in the projects you belong to.");
    });
}

Reply project_activity(Context& c)
{
    const auto project = project_or_not_found(c);
    const auto page = page_number(c);
    const auto history = c.domain->project_activity(project.id, (page - 1) * activity_page_size, activity_page_size);
    if (history.code != domain::ok) {
        not_found();
    }
    return activity_page(c, "Activity - " + project.name, href("/projects/", project.id, "/activity"), page,
                         history.value, [&](Html& html) {
                             html.open("p")
                                 .text("Everything that happened to the files of ")
                                 .named("a", {{"href", href("/projects/", project.id)}}, project.name)
                                 .text(".")
                                 .close();
                         });
}

// The form that starts breaking a lock: it names the lock as the page shows it, so that the
// server breaks that one or none.
void break_form(Html& html, const Context& c, const domain::FileRow& file, std::string_view id, std::string_view back)
{
    html.open("form", {{"method", "post"}, {"action", href("/files/", file.id, "/unlock")}, {"id", id},
                       {"class", "break"}})
        .leaf("input", {{"type", "hidden"}, {"name", "csrf"}, {"value", c.session->csrf}})
        .leaf("input", {{"type", "hidden"}, {"name", "holder"}, {"value", file.lock->holder.id}})
        .leaf("input", {{"type", "hidden"}, {"name", "since"}, {"value", std::to_string(file.lock->since)}})
        .leaf("input", {{"type", "hidden"}, {"name", "back"}, {"value", back}})
        .element("button", {{"type", "submit"}}, "Break the lock\u2026")
        .close();
}

Reply locks(Context& c)
{
    const auto project = project_or_not_found(c);
    const auto locked = c.domain->locks(project.id);
    if (locked.code != domain::ok) {
        not_found();
    }
    std::map<std::string, std::string> partitions;
    for (const auto& partition : c.domain->partitions(project.id).value) {
        partitions[partition.id] = partition.name;
    }
    const bool admin = c.domain->role(project.id) == domain::Role::Admin;
    const auto now = c.backend.now();
    auto html = frame(c, "Locks - " + project.name);
    html.element("h1", "Locks")
        .open("p")
        .named("a", {{"href", href("/projects/", project.id)}}, project.name)
        .close()
        .element("p", {{"id", "lock-count"}},
                 locked.value.empty() ? std::string("No file of the project is locked.")
                                      : std::to_string(locked.value.size()) + " locked files, the oldest lock first.")
        .open("table", {{"id", "locks"}})
        .open("thead")
        .open("tr");
    for (const auto* heading : {"File", "Partition", "Holder", "Since", "Age", "Break"}) {
        html.element("th", {{"scope", "col"}}, heading);
    }
    html.close().close().open("tbody");
    for (const auto& file : locked.value) {
        const auto age = now - file.lock->since;
        html.open("tr", {{"data-path", file.path}, {"data-holder", file.lock->holder.id}})
            .open("td")
            .named("a", {{"href", href("/files/", file.id)}}, file.path)
            .close()
            .named("td", {{"class", "partition"}}, partitions[file.spaceId])
            .named("td", {{"class", "holder"}}, display(file.lock->holder))
            .open("td")
            .time(file.lock->since)
            .close();
        if (age >= stale_lock_age) {
            html.element("td", {{"class", "age stale"}}, age_text(age) + " (stale)");
        } else {
            html.element("td", {{"class", "age"}}, age_text(age));
        }
        html.open("td");
        if (admin || file.lock->holder.id == c.session->user.id) {
            break_form(html, c, file, "break-" + file.id, "locks");
        }
        html.close().close();
    }
    return html_reply(200, html.finish());
}

// What a break that met another lock than the one shown tells: who holds it now, if anybody.
Reply stale_break(Context& c, const domain::FileRow& file, const std::optional<domain::LockRow>& current)
{
    auto html = frame(c, "Not broken");
    html.element("h1", "The lock was not broken").open("p", {{"id", "stale-break"}, {"class", "error"}});
    if (current) {
        html.text("The lock on ")
            .isolated(file.path)
            .text(" is now held by ")
            .open("strong", {{"class", "holder"}})
            .isolated(display(current->holder))
            .close()
            .text(" since ")
            .time(current->since)
            .text(", not the lock the page showed. Look at the file again before you break it.");
    } else {
        html.text("The file ").isolated(file.path).text(" is no longer locked.");
    }
    html.close().open("p").element("a", {{"href", href("/files/", file.id)}}, "Back to the file");
    return html_reply(409, html.finish());
}

// Breaking a lock asks first: the form names the lock its page showed, the confirmation says
// whose it is and takes a reason, and the store breaks it only if it is still that lock.
Reply unlock(Context& c)
{
    check_csrf(c);
    const auto view = c.domain->file_by_id(c.param(0));
    if (view.code != domain::ok || view.value.file.deleted) {
        not_found();
    }
    const auto& file = view.value.file;
    if (file.lock && !view.value.mayBreakLock) {
        throw Refused{403, "Only an admin of the project or the lock's holder may break the lock."};
    }
    const auto holder = field(c.form, "holder");
    Millis since = 0;
    const auto sinceText = field(c.form, "since");
    if (holder.empty() || std::from_chars(sinceText.data(), sinceText.data() + sinceText.size(), since).ptr !=
                              sinceText.data() + sinceText.size()) {
        throw Refused{400, "The form does not say which lock it breaks: reload the page."};
    }
    const auto back = field(c.form, "back") == "locks" && view.value.project
                          ? href("/projects/", view.value.project->id, "/locks")
                          : href("/files/", file.id);
    if (field(c.form, "confirm") != "yes") {
        if (!file.lock || file.lock->holder.id != holder || file.lock->since != since) {
            return stale_break(c, file, file.lock);
        }
        auto html = frame(c, "Break the lock");
        html.open("h1").text("Break the lock on ").isolated(last_segment(file.path)).close();
        html.open("p", {{"id", "break-question"}})
            .isolated(display(file.lock->holder))
            .text(" has held the lock on ")
            .isolated(file.path)
            .text(" since ")
            .time(file.lock->since)
            .text(". Once it is broken anybody may change the file; the holder is told who broke the lock, "
                  "and why if you say.")
            .close()
            .open("form", {{"method", "post"}, {"action", href("/files/", file.id, "/unlock")}, {"id", "confirm-break"}})
            .leaf("input", {{"type", "hidden"}, {"name", "csrf"}, {"value", c.session->csrf}})
            .leaf("input", {{"type", "hidden"}, {"name", "holder"}, {"value", holder}})
            .leaf("input", {{"type", "hidden"}, {"name", "since"}, {"value", sinceText}})
            .leaf("input", {{"type", "hidden"}, {"name", "back"}, {"value", field(c.form, "back")}})
            .leaf("input", {{"type", "hidden"}, {"name", "confirm"}, {"value", "yes"}})
            .element("label", {{"for", "reason"}}, "Reason (optional) ")
            .open("textarea", {{"name", "reason"}, {"id", "reason"}, {"maxlength", std::to_string(domain::max_reason_bytes)}, {"rows", "3"}})
            .close()
            .element("button", {{"type", "submit"}, {"id", "confirm"}}, "Break the lock")
            .close()
            .open("p")
            .element("a", {{"href", back}, {"id", "cancel"}}, "Cancel");
        return html_reply(200, html.finish());
    }
    const auto broken = c.domain->break_lock(file.id, holder, since, field(c.form, "reason"));
    switch (broken.code) {
    case domain::ok: return redirect(back);
    case domain::conflict: return stale_break(c, file, broken.value);
    case domain::forbidden: throw Refused{403, "Only an admin of the project or the lock's holder may break the lock."};
    case domain::not_found: not_found();
    default: throw Refused{broken.code, "The lock could not be broken."};
    }
}

Reply asset(std::string_view type, std::string_view body)
{
    Reply reply;
    reply.contentType = type;
    reply.body = body;
    reply.headers.emplace_back("Cache-Control", "public, max-age=604800");
    reply.headers.emplace_back("X-Content-Type-Options", "nosniff");
    return reply;
}

Reply css(Context&)
{
    return asset("text/css; charset=utf-8", stylesheet());
}

Reply js(Context&)
{
    return asset("text/javascript; charset=utf-8", script());
}

Reply icon_svg(Context&)
{
    return asset("image/svg+xml", icon());
}

constexpr std::array pages{
    Page{"GET", "/", root, false},
    Page{"GET", "/signin", signin_form, false},
    Page{"POST", "/signin", signin, false},
    Page{"POST", "/signout", signout, true},
    Page{"GET", "/projects", projects, true},
    Page{"GET", "/projects/{project}", project, true},
    Page{"GET", "/projects/{project}/updates", updates, true},
    Page{"GET", "/projects/{project}/updates.json", updates_json, true},
    Page{"GET", "/projects/{project}/locks", locks, true},
    Page{"GET", "/spaces/{space}", space, true},
    Page{"GET", "/files/{file}", file, true},
    Page{"GET", "/files/{file}/revisions/{revision}/content", content, true},
    Page{"POST", "/files/{file}/unlock", unlock, true},
    Page{"GET", "/events", events, true},
    Page{"GET", "/activity", my_activity, true},
    Page{"GET", "/projects/{project}/activity", project_activity, true},
    Page{"GET", "/static/app.css", css, false},
    Page{"GET", "/static/app.js", js, false},
    // Browsers ask for /favicon.ico of every new tab whatever a page links; both answer the icon.
    Page{"GET", "/static/icon.svg", icon_svg, false},
    Page{"GET", "/favicon.ico", icon_svg, false},
};

} // namespace

std::span<const Page> all_pages()
{
    return pages;
}

std::optional<PageMatch> find_page(std::string_view method, std::string_view path)
{
    bool pathKnown = false;
    for (const auto& page : pages) {
        auto params = protocol::fit(page.pattern, path);
        if (!params) {
            continue;
        }
        if (page.method == method) {
            return PageMatch{&page, std::move(*params)};
        }
        pathKnown = true;
    }
    return pathKnown ? std::optional{PageMatch{}} : std::nullopt;
}

namespace {

// A page as the session names its user: from the cache unless `fresh`.
Reply serve_page(const Backend& backend, const Request& request, bool fresh)
{
    Context c{backend, request, parse_cookies(request.cookie), {}, {}, {}};
    try {
        std::unique_ptr<domain::CredentialCheck> check;
        if (const auto id = c.cookies.find(std::string(session_cookie)); id != c.cookies.end()) {
            if (fresh) {
                c.session = backend.accounts->session(id->second, backend.now());
            } else {
                auto admitted = backend.accounts->admit_session(id->second, backend.now());
                c.session = std::move(admitted.who);
                check = std::move(admitted.check);
            }
        }
        if (c.session) {
            c.domain = domain::store_domain(backend.store, c.session->user, backend.now);
        } else if (request.page->signedIn) {
            // A script's request gets a status it can read; a person is shown the way in.
            if (request.page->pattern.ends_with(".json")) {
                return problem_reply(401, "Sign in first.");
            }
            // A page asked for by address (a link from the desktop host, a bookmark) is where the
            // sign-in leads back to.
            const bool comeBack = request.method == "GET" && return_address(request.target);
            return redirect(comeBack ? "/signin?next=" + protocol::percent_encoded(request.target) : "/signin");
        }
        if (request.method == "POST") {
            c.form = parse_form(request.body);
        }
        auto reply = request.page->serve(c);
        if (check) {
            check->confirm();
        }
        return reply;
    } catch (const domain::CredentialsChanged&) {
        throw;
    } catch (const Refused& refused) {
        return error_page(c, refused.status, refused.message);
    } catch (const domain::OutcomeUnknown&) {
        return error_page(c, 504, "The outcome is unknown: look before you try again.");
    } catch (const domain::StoreUnavailable&) {
        return error_page(c, 503, "The store's database is unavailable; try again later.");
    } catch (const std::exception&) {
        return error_page(c, 500, "The server failed to answer.");
    }
}

} // namespace

Reply handle_page(const Backend& backend, const Request& request)
{
    try {
        return serve_page(backend, request, false);
    } catch (const domain::CredentialsChanged&) {
        // The session was cached and something changed since: nothing was done; ask afresh.
        return serve_page(backend, request, true);
    }
}

} // namespace vyr::cld::server::web
