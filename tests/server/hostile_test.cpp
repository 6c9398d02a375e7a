// Requests meant to harm the team server: each is refused with a 4xx, costs the server little, and
// the server serves on.
#include "world.h"

#include <vyr/cld/protocol/protocol.h>

#include <gtest/gtest.h>

#include <thread>

namespace vyr::cld::test {
namespace {

bool serving(unsigned short port = 0)
{
    return status_of(world->request("GET /healthz HTTP/1.1\r\nHost: t\r\n", {}, port)) == 200;
}

// A route's pattern with its parameters filled in: the world's ids, or `every` for each.
std::string target_of(const protocol::Route& route, const std::string& every = {})
{
    const std::map<std::string, std::string> ids{{"{tenant}", "acme"},           {"{project}", world->projectId},
                                                 {"{partition}", world->spaceId}, {"{space}", world->spaceId},
                                                 {"{update}", "none"},            {"{hash}", std::string(64, 'a')},
                                                 {"{offset}", "0"},               {"{file}", "none"},
                                                 {"{revision}", "1"}};
    std::string out(route.pattern);
    for (const auto& [name, id] : ids) {
        for (auto at = out.find(name); at != std::string::npos; at = out.find(name)) {
            out.replace(at, name.size(), every.empty() ? id : every);
        }
    }
    return out;
}

std::string header(const std::string& response, const std::string& name)
{
    const auto at = response.find("\r\n" + name + ": ");
    if (at == std::string::npos || response.find("\r\n\r\n") < at) {
        return {};
    }
    const auto start = at + name.size() + 4;
    return response.substr(start, response.find("\r\n", start) - start);
}

TEST(Hostile, MalformedBodiesAreRefusedOnEveryRouteThatTakesOne)
{
    const struct {
        const char* what;
        std::string body;
    } bodies[] = {
        {"a string that is not UTF-8", "{\"name\":\"\xFF\xFE\"}"},
        {"a byte that is not UTF-8 outside strings", "\xFF{}"},
        {"a character cut short", "{\"name\":\"\xE2\x82\"}"},
        {"an overlong form", "{\"name\":\"\xC0\xAF\"}"},
        {"a lone surrogate", R"({"name":"\uD800"})"},
        {"not JSON", "<<>>"},
        {"not an object", "[1,2]"},
        {"nested too deep", std::string(40, '[') + std::string(40, ']')},
        {"larger than a route takes", std::string(70000, ' ')},
    };
    for (const auto& route : protocol::routes()) {
        // A chunk's body is the file's bytes, whatever they are.
        if (route.bodyLimit == 0 || route.op == protocol::Op::blob_chunk_put) {
            continue;
        }
        for (const auto& body : bodies) {
            const auto response = world->authorized(std::string(route.method), target_of(route), "anna", body.body);
            const auto status = status_of(response);
            EXPECT_TRUE(status >= 400 && status < 500) << route.pattern << ", " << body.what << ": " << response;
        }
    }
    EXPECT_TRUE(serving());
}

TEST(Hostile, TextsWithNulAndNumbersOutOfRangeOrNotIntegersAre400)
{
    const auto& project = world->projectId;
    const auto& space = world->spaceId;
    const auto file = R"("files":[{"spaceId":")" + space + R"(","name":"nothing.dwg"}])";
    const auto update = [&](const std::string& epsg, const std::string& description) {
        return R"({"update":{"id":"","projectId":"","dimensions":3,"epsg":)" + epsg + R"(,"description":")" +
               description + R"(","logicalId":"l","offsetX":0,"offsetY":0,"fileIds":[],"created":0},)" + file + "}";
    };
    const struct {
        const char* what;
        std::string method, target, body;
    } cases[] = {
        {"NUL in a project's name", "POST", "/v1/tenants/acme/projects", R"({"name":"Cut\u0000off","number":""})"},
        {"NUL in a project's number", "POST", "/v1/tenants/acme/projects", R"({"name":"N","number":"7\u0000"})"},
        {"NUL in a partition's name", "POST", "/v1/projects/" + project + "/partitions",
         R"({"name":"Cut\u0000off","versionMajor":1})"},
        {"NUL in an event's text", "POST", "/v1/me/events",
         R"({"event":{"type":7,"status":200,"responseId":"a\u0000b"}})"},
        {"NUL in a tag's name", "POST", "/v1/projects/" + project + "/tags",
         "{" + file + R"(,"category":"c","name":"n\u0000"})"},
        {"NUL in a tag's category", "POST", "/v1/projects/" + project + "/tags",
         "{" + file + R"(,"category":"c\u0000","name":"n"})"},
        {"NUL in an include folder", "PUT", "/v1/projects/" + project + "/include-folders",
         R"({"folder":"a\u0000b"})"},
        {"NUL in an update's description", "POST", "/v1/projects/" + project + "/model-updates",
         update("25832", R"(d\u0000)")},
        {"NUL in a query", "GET", "/v1/projects/" + project + "/include-folders?folder=a%00b", ""},
        {"a version past 32 bits", "POST", "/v1/projects/" + project + "/partitions",
         R"({"name":"Wrapped","versionMajor":4294967297})"},
        {"a version past int", "POST", "/v1/projects/" + project + "/partitions",
         R"({"name":"Wrapped","versionMajor":2147483648})"},
        {"a version below int", "POST", "/v1/projects/" + project + "/partitions",
         R"({"name":"Wrapped","versionMajor":-2147483649})"},
        {"a fractional version", "POST", "/v1/projects/" + project + "/partitions",
         R"({"name":"Wrapped","versionMajor":1.5})"},
        {"a fractional version set", "PUT", "/v1/projects/" + project + "/partitions/" + space + "/version",
         R"({"versionMajor":1.5})"},
        {"a directory's version past 32 bits", "POST", "/v1/me/directories", R"({"versionMajor":4294967297})"},
        {"a fractional size", "POST", "/v1/spaces/" + space + "/commits",
         R"({"name":"x.dwg","blob":"","size":1500.5,"unlockAfter":false,"checkOnly":true})"},
        {"a size past 64 bits", "POST", "/v1/spaces/" + space + "/commits",
         R"({"name":"x.dwg","blob":"","size":18446744073709551615,"unlockAfter":false,"checkOnly":true})"},
        {"a fractional blob size", "PUT", "/v1/blobs/" + std::string(64, 'a'), R"({"size":1.5})"},
        {"an event type past 32 bits", "POST", "/v1/me/events",
         R"({"event":{"type":4294967297,"status":200,"responseId":""}})"},
        {"a fractional event status", "POST", "/v1/me/events",
         R"({"event":{"type":7,"status":200.5,"responseId":""}})"},
        {"an update's EPSG past 32 bits", "POST", "/v1/projects/" + project + "/model-updates",
         update("4294967297", "d")},
    };
    for (const auto& c : cases) {
        const auto response = world->authorized(c.method, c.target, "anna", c.body);
        EXPECT_EQ(status_of(response), 400) << c.what << ": " << response;
    }
    // Nothing of them was stored.
    const auto partitions = world->authorized("GET", "/v1/projects/" + project + "/partitions", "anna");
    EXPECT_EQ(partitions.find("Wrapped"), std::string::npos);
    EXPECT_EQ(partitions.find("Cut"), std::string::npos);
    EXPECT_TRUE(serving());
}

TEST(Hostile, NamesWithBidirectionalControlsAreRefused)
{
    auto anna = world->domain("anna");
    const auto& space = world->spaceId;
    ASSERT_EQ(anna->commit(world->content("invoice.pdf", "an invoice")).code, 201);
    for (const auto* name : {"invoice\u202Efdp.exe", "a\u2066b.dwg", "folder\u200F/plan.dwg", "x\u061C.dwg"}) {
        EXPECT_EQ(anna->commit(world->content(name, "disguised")).code, 400) << name;
        EXPECT_EQ(anna->rename(space, "invoice.pdf", name).code, 400) << name;
        EXPECT_EQ(anna->lock(space, name).code, 400) << name;
    }
    EXPECT_EQ(anna->file(space, "invoice.pdf").code, 200);
}

TEST(Hostile, IdsThatAreNotUtf8AreUnknownOnEveryRouteAndPage)
{
    std::vector<std::pair<std::string, std::string>> targets; // method, target
    for (const auto& route : protocol::routes()) {
        if (route.pattern.find('{') != std::string_view::npos) {
            for (const auto* every : {"%FF", "%C0%AF", "a%00b"}) {
                targets.emplace_back(route.method, target_of(route, every));
            }
        }
    }
    for (const auto* page : {"/projects/%FF", "/projects/%FF/updates", "/projects/%FF/updates.json", "/spaces/%FF",
                             "/files/%FF", "/files/%FF/revisions/1/content"}) {
        targets.emplace_back("GET", page);
    }
    targets.emplace_back("POST", "/files/%FF/unlock");
    for (const auto& [method, target] : targets) {
        const auto response = world->authorized(method, target, "anna");
        EXPECT_EQ(status_of(response), 404) << method << ' ' << target << ": " << response;
    }
    EXPECT_TRUE(serving());
}

TEST(Hostile, AnEndlessChunkExtensionOrTrailerIsCutShort)
{
    const std::string chunked = "POST /signin HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n";
    const struct {
        const char* what;
        std::string start;
    } cases[] = {
        {"chunk extension", chunked + "1;name="},
        {"trailer", chunked + "1\r\na\r\n0\r\nX-Trailer: "},
        {"header", "GET /healthz HTTP/1.1\r\nX-Long: "},
    };
    for (const auto& c : cases) {
        ServerProcess server; // its own, so that its memory is this case's alone
        Socket socket(server.port);
        socket.send(c.start);
        const std::string endless(1 << 20, 'a');
        std::size_t sent = 0;
        while (sent < (std::size_t{128} << 20) && socket.send(endless)) {
            sent += endless.size();
        }
        EXPECT_LT(sent, std::size_t{32} << 20) << c.what;
        const auto resident = resident_kib(server.child->pid());
        ASSERT_TRUE(resident) << c.what;
        EXPECT_LT(*resident, 64 * 1024) << c.what;
        EXPECT_TRUE(serving(server.port)) << c.what;
    }
}

TEST(Hostile, OneAddressCannotLockOthersOutAndIdleConnectionsMakeRoom)
{
    // Two for each address; idle connections stay for the whole test.
    ServerProcess server({"--max-connections", "8", "--read-timeout-ms", "30000"});
    const auto settle = [] { std::this_thread::sleep_for(50ms); };
    std::vector<std::unique_ptr<Socket>> idle;
    for (int i = 0; i < 2; ++i) {
        idle.push_back(std::make_unique<Socket>(server.port, "127.0.0.1"));
        settle();
    }
    Socket third(server.port, "127.0.0.1");
    EXPECT_TRUE(third.closed_within(5s)); // past its address's share

    // Another address is served meanwhile.
    Socket other(server.port, "127.0.0.2");
    other.send("GET /healthz HTTP/1.1\r\nHost: t\r\n\r\n");
    EXPECT_EQ(status_of(other.receive_response(5s)), 200);

    // All eight taken, by idle connections of four addresses: the one idle the longest makes room.
    for (const auto* from : {"127.0.0.2", "127.0.0.3", "127.0.0.3", "127.0.0.4", "127.0.0.4"}) {
        idle.push_back(std::make_unique<Socket>(server.port, from));
        settle();
    }
    Socket newcomer(server.port, "127.0.0.5");
    newcomer.send("GET /healthz HTTP/1.1\r\nHost: t\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(status_of(newcomer.receive_response(5s)), 200);
    EXPECT_TRUE(idle.front()->closed_within(5s));
}

TEST(Hostile, ReadTimeOutsAnswer408AndIdleConnectionsCloseQuietly)
{
    // The world's server reads for 1.5 s.
    const struct {
        const char* what;
        std::string sent;
        int status; // 0: closed without an answer
    } cases[] = {
        {"a header cut short", "GET /v1/me HTTP/1.1\r\nHost:", 408},
        {"a body cut short", "POST /v1/me/events HTTP/1.1\r\nHost: t\r\nContent-Length: 10\r\n\r\nabc", 408},
        {"a chunked body cut short",
         "POST /signin HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab", 408},
        {"nothing at all", "", 0},
    };
    for (const auto& c : cases) {
        Socket socket(world->server->port);
        socket.send(c.sent);
        const auto response = socket.receive_all(10s);
        EXPECT_EQ(status_of(response), c.status) << c.what << ": " << response;
        EXPECT_EQ(response.empty(), c.status == 0) << c.what;
    }
}

TEST(Hostile, EveryMethodRefusedNamesTheMethodsThePathTakes)
{
    const struct {
        std::string request, allowed;
    } cases[] = {
        {"PATCH /v1/me", "GET"},
        {"GET /v1/spaces/s/lock", "PUT, DELETE"},
        {"POST /v1/blobs/" + std::string(64, 'a'), "HEAD, PUT"},
        {"DELETE /projects", "GET"},
        {"PUT /signin", "GET, POST"},
        {"GET /files/f/unlock", "POST"},
    };
    for (const auto& c : cases) {
        const auto response = world->request(c.request + " HTTP/1.1\r\nHost: t\r\n");
        EXPECT_EQ(status_of(response), 405) << c.request;
        EXPECT_EQ(header(response, "Allow"), c.allowed) << c.request << ": " << response;
    }
}

} // namespace
} // namespace vyr::cld::test
