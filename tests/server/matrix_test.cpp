// Who may do what, for every API route and every web page: each is sent by six callers against a
// real server, and a route or page without a row here fails the test, so that nothing is served
// without someone deciding who may reach it.
#include "world.h"

#include "../../server/src/web/pages.h"

#include <vyr/cld/domain/sha256.h>

#include <array>
#include <functional>
#include <set>

namespace vyr::cld::test {
namespace {

using nlohmann::json;

// The owner created the project and administers it, the member and the admin were granted it, the
// outsider belongs to the same tenant but was granted nothing, the stranger to another tenant.
enum Caller { owner, member, admin2, outsider, stranger, anonymous };
constexpr std::array all_callers{owner, member, admin2, outsider, stranger, anonymous};
constexpr std::array<const char*, 6> caller_names{"owner", "member", "admin", "granted nothing", "other tenant",
                                                  "no token"};
constexpr std::array<const char*, 6> user_names{"anna", "bob", "dora", "erik", "carl", ""};

bool sees_project(Caller caller)
{
    return caller == owner || caller == member || caller == admin2;
}

// One request as a caller sends it: an API call carries the caller's token, a page's the cookie
// given here (the caller's session unless a row needs another).
struct Call {
    std::string method, target, body;
    std::optional<std::string> cookie;
};

struct Row {
    std::string route; // "METHOD pattern" of the route or page it covers
    // Prepares what the cell needs (a lock to break, a file to delete) and answers the request.
    std::function<Call(Caller)> call;
    std::array<int, 6> expected;
    // The same request naming ids that do not exist: a caller who may not see the real ones must
    // get the very same answer.
    std::function<Call(Caller)> unknown = {};
    // Checks an answer's body beyond its status.
    std::function<void(Caller, const std::string&)> check = {};
    // The first of the callers (in their order) who may not see what the request names; a tenant's
    // routes hide it only from another tenant's users.
    Caller blind = outsider;
};

std::string sha256(const std::string& text)
{
    domain::Sha256 hasher;
    hasher.add(text);
    return hasher.hex();
}

std::string body_of(const std::string& response)
{
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string{} : response.substr(end + 4);
}

std::string page_request(const Call& call)
{
    return browser_request(call.method, call.target, call.cookie.value_or(""), call.body);
}

// What the rows name: the project P-1, a partition of it with a file, a file to lock, an update,
// content committed there, each caller's own upload and own directory, and two more users.
struct Fixture {
    std::string project, space, file, fileId, lockedId, update, hash, unknownId = std::string(32, '0');
    std::int64_t size = 0;
    std::array<std::string, 6> tokens, ownHash, directory;
    std::array<std::int64_t, 6> ownSize{};
    std::array<SignedIn, 6> sessions;
    int fresh = 0;

    Fixture()
    {
        admin({"user", "add", "dora", "--tenant", "acme", "--name", "dora"});
        admin({"user", "add", "erik", "--tenant", "acme", "--name", "erik"});
        project = world->projectId;
        admin({"project", "grant", "dora", project, "--role", "admin"});
        for (const auto caller : all_callers) {
            if (caller == anonymous) {
                continue;
            }
            const std::string user = user_names[caller];
            if (!world->tokens.count(user)) {
                const auto created = admin({"token", "create", user});
                world->tokens[user] = created.substr(0, created.find('\n'));
            }
            tokens[caller] = world->tokens.at(user);
            sessions[caller] = sign_in(tokens[caller]);
            const auto own = "the own bytes of " + user;
            ownHash[caller] = upload(caller, own);
            ownSize[caller] = static_cast<std::int64_t>(own.size());
            directory[caller] = world->domain(user)->create_user_directory(9000 + caller).value.id;
        }
        directory[anonymous] = directory[owner];
        ownHash[anonymous] = ownHash[owner];
        ownSize[anonymous] = ownSize[owner];
        auto anna = world->domain("anna");
        space = anna->create_partition(project, "Matrix", 1).value.id;
        file = "matrix.txt";
        const std::string bytes = "the matrix's content";
        hash = upload(owner, bytes);
        size = static_cast<std::int64_t>(bytes.size());
        fileId = commit(file);
        lockedId = commit("locked.txt");
        anna->add_include_folder(project, "matrix");
        domain::ModelUpdateRow row;
        row.projectId = project;
        row.epsg = 25832;
        update = anna->add_model_update(row, {{space, file}}).value;
    }

    std::string upload(Caller caller, const std::string& bytes) const
    {
        const auto [path, blob] = world->file(std::string("matrix-") + user_names[caller] + ".bytes", bytes);
        remote::BlobClient blobs(world->connection(user_names[caller]));
        EXPECT_LT(blobs.upload(path, blob, static_cast<std::int64_t>(bytes.size())), 300);
        return blob;
    }
    // A file of the owner's in the matrix's partition, with the committed content.
    std::string commit(const std::string& name) const
    {
        const auto stored = world->domain("anna")->commit({space, name, {}, hash, size, false, false});
        EXPECT_EQ(stored.code, 201) << name;
        return stored.value.id;
    }
    std::string next_name() { return "fresh-" + std::to_string(++fresh) + ".txt"; }
    // The file to lock, unlocked, or locked by the owner.
    void release_lock() const { world->domain("anna")->unlock_forced(space, "locked.txt"); }
    // The owner's lock, as a page names it: holder and since.
    std::string owner_locks() const
    {
        release_lock();
        const auto locked = world->domain("anna")->lock(space, "locked.txt");
        EXPECT_EQ(locked.code, 200);
        return locked.value.lock ? "&holder=" + locked.value.lock->holder.id + "&since=" +
                                       std::to_string(locked.value.lock->since)
                                 : std::string();
    }
};

std::string api_request(const Fixture& f, Caller caller, const Call& call)
{
    const auto authorization =
        caller == anonymous ? std::string{} : "Authorization: Bearer " + f.tokens[caller] + "\r\n";
    return world->request(call.method + " " + call.target + " HTTP/1.1\r\nHost: t\r\n" + authorization +
                              (call.body.empty() ? "" : "Content-Type: application/json\r\n"),
                          call.body);
}

std::string page_as(const Fixture& f, Caller caller, Call call)
{
    if (!call.cookie) {
        call.cookie = caller == anonymous ? std::string{} : f.sessions[caller].cookie;
    }
    return page_request(call);
}

// A commit with its content in the request, of bytes named by the commit.
Call content_commit(const std::string& spaceId, const std::string& name, const std::string& bytes)
{
    const domain::Commit commit{spaceId, name, {}, sha256(bytes), static_cast<std::int64_t>(bytes.size()), false,
                                false};
    return Call{"POST",
                "/v1/spaces/" + spaceId + "/content-commits" +
                    protocol::query_string({{std::string(protocol::commit_parameter), json(commit).dump()}}),
                bytes, std::nullopt};
}

// A request that needs nothing prepared.
std::function<Call(Caller)> plain(std::string method, std::string target, std::string body = {})
{
    return [=](Caller) { return Call{method, target, body, std::nullopt}; };
}

std::vector<Row> api_rows(Fixture& f)
{
    const auto& p = f.project;
    const auto& s = f.space;
    const auto& x = f.unknownId;
    const auto seen = std::array{200, 200, 200, 404, 404, 401};
    const auto tenantWide = std::array{200, 200, 200, 200, 404, 401};
    const auto anyUser = std::array{200, 200, 200, 200, 200, 401};
    const auto created = std::array{201, 201, 201, 404, 404, 401};
    const auto lists_file = [&f](Caller caller, const std::string& body) {
        EXPECT_EQ(body.find(f.file) != std::string::npos, sees_project(caller)) << body;
    };
    const std::string space = "/v1/spaces/";
    const json files = std::vector<domain::SpaceFile>{{s, f.file}};
    const auto tag = json{{"files", files}, {"category", "c"}, {"name", "n"}}.dump();
    domain::ModelUpdateRow row;
    row.epsg = 25832;
    const auto update = json{{"update", row}, {"files", files}}.dump();
    const auto event = json{{"event", domain::EventRow{1, 200, "matrix"}}}.dump();
    const auto junk = std::string("junk bytes");
    const auto finish = json{{"size", f.size}}.dump();
    const auto headUnknown = sha256("matrix: never uploaded, asked for"), getUnknown = sha256("matrix: never read"),
               putUnknown = sha256("matrix: junk only"), finishUnknown = sha256("matrix: never finished");
    return {
        {"GET /healthz", plain("GET", "/healthz"), {200, 200, 200, 200, 200, 200}},
        {"GET /metrics", plain("GET", "/metrics"), {200, 200, 200, 200, 200, 200}},
        {"GET /v1/me", plain("GET", "/v1/me"), anyUser},
        {"GET /v1/tenants", plain("GET", "/v1/tenants"), anyUser,
         {},
         [](Caller caller, const std::string& body) {
             if (caller != anonymous) {
                 EXPECT_EQ(body.find("\"acme\"") != std::string::npos, caller != stranger) << body;
             }
         }},
        {"GET /v1/tenants/{tenant}", plain("GET", "/v1/tenants/acme"), tenantWide, plain("GET", "/v1/tenants/nosuch"),
         {}, stranger},
        // The outsider sees the tenant's list, without the project.
        {"GET /v1/tenants/{tenant}/projects", plain("GET", "/v1/tenants/acme/projects"), tenantWide,
         plain("GET", "/v1/tenants/nosuch/projects"),
         [=](Caller caller, const std::string& body) {
             EXPECT_EQ(body.find(p) != std::string::npos, sees_project(caller)) << body;
         },
         stranger},
        {"POST /v1/tenants/{tenant}/projects", plain("POST", "/v1/tenants/acme/projects", R"({"name":"Matrix"})"),
         {201, 201, 201, 201, 404, 401}, plain("POST", "/v1/tenants/nosuch/projects", R"({"name":"Matrix"})"), {},
         stranger},
        {"GET /v1/tenants/{tenant}/contracts", plain("GET", "/v1/tenants/acme/contracts"), tenantWide,
         plain("GET", "/v1/tenants/nosuch/contracts"), {}, stranger},
        {"GET /v1/projects/{project}", plain("GET", "/v1/projects/" + p), seen, plain("GET", "/v1/projects/" + x)},
        {"GET /v1/projects/{project}/partitions", plain("GET", "/v1/projects/" + p + "/partitions"), seen,
         plain("GET", "/v1/projects/" + x + "/partitions")},
        {"POST /v1/projects/{project}/partitions",
         [=, &f](Caller) {
             return Call{"POST", "/v1/projects/" + p + "/partitions",
                         json{{"name", f.next_name()}, {"versionMajor", 1}}.dump(), std::nullopt};
         },
         created, plain("POST", "/v1/projects/" + x + "/partitions", R"({"name":"N","versionMajor":1})")},
        {"GET /v1/projects/{project}/partitions/{partition}",
         plain("GET", "/v1/projects/" + p + "/partitions/" + s), seen,
         plain("GET", "/v1/projects/" + x + "/partitions/" + s)},
        {"PUT /v1/projects/{project}/partitions/{partition}/version",
         plain("PUT", "/v1/projects/" + p + "/partitions/" + s + "/version", R"({"versionMajor":1})"), seen,
         plain("PUT", "/v1/projects/" + x + "/partitions/" + s + "/version", R"({"versionMajor":1})")},
        {"GET /v1/projects/{project}/sizes", plain("GET", "/v1/projects/" + p + "/sizes"), seen,
         plain("GET", "/v1/projects/" + x + "/sizes")},
        // Whether a folder is included reads as "no" for a project one may not see, as for none.
        {"GET /v1/projects/{project}/include-folders",
         plain("GET", "/v1/projects/" + p + "/include-folders?folder=matrix"), anyUser,
         plain("GET", "/v1/projects/" + x + "/include-folders?folder=matrix"),
         [](Caller caller, const std::string& body) {
             EXPECT_EQ(body.find("true") != std::string::npos, sees_project(caller)) << body;
         }},
        // Adding one is refused, as for no project, to whoever may not see it: nothing is stored.
        {"PUT /v1/projects/{project}/include-folders",
         plain("PUT", "/v1/projects/" + p + "/include-folders", R"({"folder":"matrix"})"), seen,
         plain("PUT", "/v1/projects/" + x + "/include-folders", R"({"folder":"matrix"})")},
        {"GET /v1/me/directories", plain("GET", "/v1/me/directories"), anyUser},
        {"POST /v1/me/directories",
         [=, &f](Caller) {
             return Call{"POST", "/v1/me/directories", json{{"versionMajor", 10000 + ++f.fresh}}.dump(), std::nullopt};
         },
         {201, 201, 201, 201, 201, 401}},
        {"GET /v1/spaces/{space}", plain("GET", space + s), seen, plain("GET", space + x)},
        // A space's lists read as empty for one who may not see it, as for a space that does not exist.
        {"GET /v1/spaces/{space}/files", plain("GET", space + s + "/files"), anyUser,
         plain("GET", space + x + "/files"),
         lists_file},
        {"GET /v1/spaces/{space}/changes", plain("GET", space + s + "/changes"), anyUser,
         plain("GET", space + x + "/changes"), lists_file},
        {"GET /v1/spaces/{space}/folder", plain("GET", space + s + "/folder?sort=size&order=desc"), seen,
         plain("GET", space + x + "/folder"), lists_file},
        {"GET /v1/spaces/{space}/file", plain("GET", space + s + "/file?name=" + f.file), seen,
         plain("GET", space + x + "/file?name=" + f.file)},
        {"PUT /v1/spaces/{space}/lock",
         [=, &f](Caller) {
             f.release_lock();
             return Call{"PUT", space + s + "/lock?name=locked.txt", "", std::nullopt};
         },
         seen, plain("PUT", space + x + "/lock?name=locked.txt")},
        {"DELETE /v1/spaces/{space}/lock",
         [=, &f](Caller) {
             f.release_lock();
             return Call{"DELETE", space + s + "/lock?name=locked.txt", "", std::nullopt};
         },
         seen, plain("DELETE", space + x + "/lock?name=locked.txt")},
        // Breaking the owner's lock: the holder may, an admin may, a member may not.
        {"DELETE /v1/spaces/{space}/lock",
         [=, &f](Caller) {
             f.owner_locks();
             return Call{"DELETE", space + s + "/lock?name=locked.txt&force=true", "", std::nullopt};
         },
         {200, 403, 200, 404, 404, 401}, plain("DELETE", space + x + "/lock?name=locked.txt&force=true")},
        {"DELETE /v1/me/locks", plain("DELETE", "/v1/me/locks"), anyUser},
        // Each caller commits content of their own upload, so that only the space decides.
        {"POST /v1/spaces/{space}/commits",
         [=, &f](Caller caller) {
             const domain::Commit commit{s, f.next_name(), {}, f.ownHash[caller], f.ownSize[caller], false, false};
             return Call{"POST", space + s + "/commits", json(commit).dump(), std::nullopt};
         },
         created,
         [=, &f](Caller caller) {
             const domain::Commit commit{x, "n.txt", {}, f.ownHash[caller], f.ownSize[caller], false, false};
             return Call{"POST", space + x + "/commits", json(commit).dump(), std::nullopt};
         }},
        // The same with the content in the request: only the space decides.
        {"POST /v1/spaces/{space}/content-commits",
         [=, &f](Caller) {
             const auto name = f.next_name();
             return content_commit(s, name, "sent with " + name);
         },
         created, [=](Caller caller) { return content_commit(x, "n.txt", std::string("sent by ") + user_names[caller]); }},
        // Content of the project, named in one's own directory: only who may read it may.
        {"POST /v1/spaces/{space}/commits",
         [=, &f](Caller caller) {
             const domain::Commit commit{f.directory[caller], f.next_name(), {}, f.hash, f.size, false, false};
             return Call{"POST", space + f.directory[caller] + "/commits", json(commit).dump(), std::nullopt};
         },
         {201, 201, 201, 400, 400, 401}},
        {"DELETE /v1/spaces/{space}/file",
         [=, &f](Caller) {
             const auto name = f.next_name();
             f.commit(name);
             return Call{"DELETE", space + s + "/file?name=" + name, "", std::nullopt};
         },
         seen, plain("DELETE", space + x + "/file?name=" + f.file)},
        {"POST /v1/spaces/{space}/renames",
         [=, &f](Caller) {
             const auto name = f.next_name();
             f.commit(name);
             return Call{"POST", space + s + "/renames", json{{"from", name}, {"to", f.next_name()}}.dump(),
                         std::nullopt};
         },
         seen, plain("POST", space + x + "/renames", json{{"from", f.file}, {"to", "to.txt"}}.dump())},
        {"POST /v1/projects/{project}/tags", plain("POST", "/v1/projects/" + p + "/tags", tag), seen,
         plain("POST", "/v1/projects/" + x + "/tags", tag)},
        {"POST /v1/projects/{project}/model-updates", plain("POST", "/v1/projects/" + p + "/model-updates", update),
         created, plain("POST", "/v1/projects/" + x + "/model-updates", update)},
        {"GET /v1/model-updates/{update}", plain("GET", "/v1/model-updates/" + f.update), seen,
         plain("GET", "/v1/model-updates/" + x)},
        {"POST /v1/me/events", plain("POST", "/v1/me/events", event), {201, 201, 201, 201, 201, 401}},
        {"POST /v1/me/events/take", plain("POST", "/v1/me/events/take"), anyUser},
        // Content is available to whoever may read a revision naming it, or uploaded it whole:
        // to anyone else it is exactly as unknown, down to the headers. The rows run in this
        // order: an outsider's junk upload (the chunk's row) is dropped by the finish's row.
        {"HEAD /v1/blobs/{hash}", plain("HEAD", "/v1/blobs/" + f.hash), seen,
         plain("HEAD", "/v1/blobs/" + headUnknown)},
        {"GET /v1/blobs/{hash}/chunks/{offset}", plain("GET", "/v1/blobs/" + f.hash + "/chunks/0"), seen,
         plain("GET", "/v1/blobs/" + getUnknown + "/chunks/0")},
        {"PUT /v1/blobs/{hash}/chunks/{offset}", plain("PUT", "/v1/blobs/" + f.hash + "/chunks/0", junk), anyUser,
         plain("PUT", "/v1/blobs/" + putUnknown + "/chunks/0", junk),
         [](Caller caller, const std::string& body) {
             if (sees_project(caller)) {
                 EXPECT_NE(body.find("\"whole\":true"), std::string::npos) << body;
             }
         }},
        {"PUT /v1/blobs/{hash}", plain("PUT", "/v1/blobs/" + f.hash, finish), {200, 200, 200, 400, 400, 401},
         plain("PUT", "/v1/blobs/" + finishUnknown, finish)},
    };
}

std::vector<Row> page_rows(Fixture& f)
{
    const auto& p = f.project;
    const auto& x = f.unknownId;
    const auto seen = std::array{200, 200, 200, 404, 404, 303};
    const auto signedIn = std::array{200, 200, 200, 200, 200, 303};
    const auto open = std::array{200, 200, 200, 200, 200, 200};
    const std::string file = "/files/" + f.fileId;
    return {
        {"GET /", plain("GET", "/"), {303, 303, 303, 303, 303, 303}},
        {"GET /signin", plain("GET", "/signin"), {303, 303, 303, 303, 303, 200}},
        {"POST /signin",
         [=, &f](Caller caller) {
             const auto formSecret = cookie_value(page_request({"GET", "/signin", "", ""}), "vyr_signin");
             return Call{"POST", "/signin", "csrf=" + formSecret + "&token=" + f.tokens[caller],
                         "vyr_signin=" + formSecret};
         },
         {303, 303, 303, 303, 303, 401}},
        // A session of its own, so that the caller's stays signed in for the other rows.
        {"POST /signout",
         [=, &f](Caller caller) {
             const auto session = caller == anonymous ? SignedIn{} : sign_in(f.tokens[caller]);
             return Call{"POST", "/signout", "csrf=" + session.csrf, session.cookie};
         },
         {303, 303, 303, 303, 303, 303}},
        {"GET /projects", plain("GET", "/projects"), signedIn,
         {},
         [=](Caller caller, const std::string& body) {
             if (caller != anonymous) {
                 EXPECT_EQ(body.find(p) != std::string::npos, sees_project(caller));
             }
         }},
        {"GET /projects/{project}", plain("GET", "/projects/" + p), seen, plain("GET", "/projects/" + x)},
        {"GET /projects/{project}/updates", plain("GET", "/projects/" + p + "/updates"), seen,
         plain("GET", "/projects/" + x + "/updates")},
        {"GET /projects/{project}/updates.json", plain("GET", "/projects/" + p + "/updates.json"),
         {200, 200, 200, 404, 404, 401}, plain("GET", "/projects/" + x + "/updates.json")},
        {"GET /spaces/{space}", plain("GET", "/spaces/" + f.space), seen, plain("GET", "/spaces/" + x)},
        {"GET /files/{file}", plain("GET", file), seen, plain("GET", "/files/" + x)},
        {"GET /files/{file}/revisions/{revision}/content", plain("GET", file + "/revisions/1/content"), seen,
         plain("GET", "/files/" + x + "/revisions/1/content")},
        // Breaking the owner's lock from the file's page.
        {"POST /files/{file}/unlock",
         [=, &f](Caller caller) {
             const auto lock = f.owner_locks();
             return Call{"POST", "/files/" + f.lockedId + "/unlock",
                         "csrf=" + f.sessions[caller].csrf + lock + "&confirm=yes", std::nullopt};
         },
         {303, 403, 303, 404, 404, 303},
         [=, &f](Caller caller) {
             return Call{"POST", "/files/" + x + "/unlock",
                         "csrf=" + f.sessions[caller].csrf + "&holder=anna&since=1&confirm=yes", std::nullopt};
         }},
        {"GET /projects/{project}/locks", plain("GET", "/projects/" + p + "/locks"), seen,
         plain("GET", "/projects/" + x + "/locks")},
        {"GET /events", plain("GET", "/events"), signedIn},
        {"GET /activity", plain("GET", "/activity"), signedIn},
        {"GET /projects/{project}/activity", plain("GET", "/projects/" + p + "/activity"), seen,
         plain("GET", "/projects/" + x + "/activity")},
        {"GET /static/app.css", plain("GET", "/static/app.css"), open},
        {"GET /static/app.js", plain("GET", "/static/app.js"), open},
        {"GET /static/icon.svg", plain("GET", "/static/icon.svg"), open},
        {"GET /favicon.ico", plain("GET", "/favicon.ico"), open},
    };
}

std::string path_of(const std::string& target)
{
    return target.substr(0, target.find('?'));
}

// Runs every cell of the rows, and answers the routes they cover.
std::set<std::string> run_rows(const Fixture& f, const std::vector<Row>& rows, bool pages)
{
    std::set<std::string> covered;
    for (const auto& row : rows) {
        covered.insert(row.route);
        for (const auto caller : all_callers) {
            const auto where = row.route + " as " + caller_names[caller];
            const auto call = row.call(caller);
            // The request is the row's own route's, not another's that happens to answer alike.
            const auto [method, pattern] = [&]() -> std::pair<std::string, std::string> {
                if (pages) {
                    const auto found = server::web::find_page(call.method, path_of(call.target));
                    return found && found->page ? std::pair{std::string(found->page->method),
                                                            std::string(found->page->pattern)}
                                                : std::pair{std::string(), std::string()};
                }
                const auto found = protocol::match(call.method, path_of(call.target));
                return found && found->route ? std::pair{std::string(found->route->method),
                                                         std::string(found->route->pattern)}
                                             : std::pair{std::string(), std::string()};
            }();
            EXPECT_EQ(method + " " + pattern, row.route) << call.method << " " << call.target;
            const auto response = pages ? page_as(f, caller, call) : api_request(f, caller, call);
            const auto status = status_of(response);
            EXPECT_EQ(status, row.expected[caller]) << where << "\n" << response.substr(0, 600);
            if (caller == anonymous && status == 401 && !pages) {
                EXPECT_EQ(header_value(response, "WWW-Authenticate"), "Bearer") << where;
            }
            if (caller == anonymous && status == 303) {
                EXPECT_EQ(header_value(response, "Location").rfind("/signin", 0), 0u) << where;
            }
            if (row.check) {
                row.check(caller, body_of(response));
            }
            if (row.unknown && caller >= row.blind && caller != anonymous) {
                const auto unknown = pages ? page_as(f, caller, row.unknown(caller))
                                           : api_request(f, caller, row.unknown(caller));
                EXPECT_EQ(status, status_of(unknown)) << where << ": unlike an unknown id";
                EXPECT_EQ(body_of(response), body_of(unknown)) << where << ": unlike an unknown id";
                for (const auto* header : {"Upload-Offset", "Blob-Size", "Content-Type", "Location"}) {
                    EXPECT_EQ(header_value(response, header), header_value(unknown, header))
                        << where << ": " << header << " unlike an unknown id's";
                }
            }
        }
    }
    return covered;
}

TEST(Access, EveryRouteAndPageAnswersEachCallerAsTheRolesAllow)
{
    Fixture fixture;
    std::set<std::string> routes, pages;
    for (const auto& route : protocol::routes()) {
        routes.insert(std::string(route.method) + " " + std::string(route.pattern));
    }
    for (const auto& page : server::web::all_pages()) {
        pages.insert(std::string(page.method) + " " + std::string(page.pattern));
    }
    EXPECT_EQ(run_rows(fixture, api_rows(fixture), false), routes) << "a route without a row, or a row without a route";
    EXPECT_EQ(run_rows(fixture, page_rows(fixture), true), pages) << "a page without a row, or a row without a page";
}

} // namespace
} // namespace vyr::cld::test
