#include "pages.h"

#include "html.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/domain/sha256.h>
#include <vyr/cld/protocol/protocol.h>

#include <VyrCldapi/Enums.h>

#include <openssl/crypto.h>

#include <array>
#include <charconv>
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

// The files of a space by their folders.
struct Folder {
    std::map<std::string, Folder> folders;
    std::vector<const domain::SpaceEntry*> files;
};

void write_tree(Html& html, const Folder& folder)
{
    html.open("ul", {{"class", "tree"}});
    for (const auto& [name, inner] : folder.folders) {
        html.open("li", {{"class", "folder"}}).open("details", {{"open", ""}}).named("summary", name);
        write_tree(html, inner);
        html.close().close();
    }
    for (const auto* entry : folder.files) {
        const auto& file = entry->file;
        html.open("li", {{"class", "file"}, {"data-path", file.path}})
            .named("a", {{"href", href("/files/", file.id)}}, last_segment(file.path))
            .element("span", {{"class", "size"}}, std::to_string(file.size) + " bytes")
            .element("span", {{"class", "revision"}}, "revision " + std::to_string(file.revision))
            .open("span", {{"class", "changed"}})
            .text("by ")
            .isolated(display(entry->current.author))
            .text(" ")
            .time(entry->current.time)
            .close();
        if (file.lock) {
            html.open("span", {{"class", "lock"}})
                .text("locked by ")
                .isolated(display(file.lock->holder))
                .text(" since ")
                .time(file.lock->since)
                .close();
        }
        html.close();
    }
    html.close();
}

Reply space(Context& c)
{
    const auto space = c.domain->space(c.param(0));
    const auto entries = c.domain->space_entries(c.param(0));
    if (!space || entries.code != domain::ok) {
        not_found();
    }
    Folder root;
    for (const auto& entry : entries.value) {
        auto* folder = &root;
        std::string_view rest = entry.file.path;
        for (auto slash = rest.find('/'); slash != std::string_view::npos; slash = rest.find('/')) {
            folder = &folder->folders[std::string(rest.substr(0, slash))];
            rest.remove_prefix(slash + 1);
        }
        folder->files.push_back(&entry);
    }
    const auto project = space->kind == domain::SpaceRow::Kind::Partition ? c.domain->project(space->projectId)
                                                                           : domain::Answer<domain::ProjectRow>{};
    auto html = frame(c, titled(space->name, project));
    html.named("h1", space->name);
    if (space->kind == domain::SpaceRow::Kind::Partition) {
        if (project.code == domain::ok) {
            html.open("p").text("Partition of ").named("a", {{"href", href("/projects/", project.value.id)}},
                                                          project.value.name);
            html.close();
        }
    } else {
        html.element("p", "Your own directory");
    }
    write_tree(html, root);
    return html_reply(200, html.finish());
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
            html.open("form", {{"method", "post"}, {"action", href("/files/", file.id, "/unlock")}, {"id", "break-lock"}})
                .leaf("input", {{"type", "hidden"}, {"name", "csrf"}, {"value", c.session->csrf}})
                .element("button", {{"type", "submit"}}, "Break the lock")
                .close();
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

Reply unlock(Context& c)
{
    check_csrf(c);
    const auto code = c.domain->unlock_forced_by_id(c.param(0));
    if (code == domain::forbidden) {
        throw Refused{403, "Only an admin of the project or the lock's holder may break the lock."};
    }
    if (code == domain::not_found) {
        not_found();
    }
    if (code >= 300) {
        throw Refused{code, "The lock could not be broken."};
    }
    return redirect(href("/files/", c.param(0)));
}

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
        // "path\nwho": another user broke this user's lock.
        const auto& text = event.responseId;
        const auto newline = text.find('\n');
        html.isolated(newline == std::string::npos ? "Someone" : text.substr(newline + 1)).text(" broke your lock on ");
        path(text.substr(0, newline));
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

Reply handle_page(const Backend& backend, const Request& request)
{
    Context c{backend, request, parse_cookies(request.cookie), {}, {}, {}};
    try {
        if (const auto id = c.cookies.find(std::string(session_cookie)); id != c.cookies.end()) {
            c.session = backend.accounts->session(id->second, backend.now());
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
        return request.page->serve(c);
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

} // namespace vyr::cld::server::web
