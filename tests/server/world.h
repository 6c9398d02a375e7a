#pragma once

// The team server's system tests share one database, one server process and three users: anna
// and bob of tenant acme (anna an admin of the project she creates, bob a member), carl of tenant
// other.
#include "harness.h"

#include <vyr/cld/protocol/protocol.h>
#include <vyr/cld/remote/remote.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <unistd.h>

namespace vyr::cld::test {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline const std::string program = VYR_CLD_SERVER_PROGRAM;

inline std::string admin(const std::vector<std::string>& arguments, int expected = 0)
{
    std::vector<std::string> all{program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    const auto ran = run(all);
    EXPECT_EQ(ran.status, expected) << ran.output;
    return ran.output;
}

// A server process on the database of the environment, on a port of its own.
struct ServerProcess {
    std::unique_ptr<Child> child;
    unsigned short port = 0;

    explicit ServerProcess(const std::vector<std::string>& extra = {})
    {
        std::vector<std::string> arguments{program, "serve", "--listen", "127.0.0.1:0"};
        if (std::find(extra.begin(), extra.end(), "--read-timeout-ms") == extra.end()) {
            arguments.insert(arguments.end(), {"--read-timeout-ms", "1500"});
        }
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        child = std::make_unique<Child>(arguments, true);
        const auto line = child->line(30s);
        if (!line || line->rfind("listening on ", 0) != 0) {
            throw std::runtime_error("the server did not start");
        }
        port = static_cast<unsigned short>(std::stoi(line->substr(line->rfind(':') + 1)));
    }
};

// One database, one server and three users for the whole program: anna and bob of tenant acme
// (anna an admin of the project she creates, bob a member), carl of tenant other.
struct World {
    std::unique_ptr<ServerProcess> server;
    std::map<std::string, std::string> tokens;
    std::string projectId, spaceId;
    fs::path scratch;

    World()
    {
        // On the content store on files, which every server process takes from the environment,
        // the run starts from an empty folder as it does from an empty database.
        if (const char* contents = std::getenv("VYR_CLD_CONTENT_DIR")) {
            fs::remove_all(contents);
            fs::create_directories(contents);
        }
        admin({"migrate"});
        admin({"tenant", "add", "acme", "--name", "Acme"});
        admin({"tenant", "add", "other", "--name", "Other"});
        for (const auto* user : {"anna", "bob", "carl"}) {
            admin({"user", "add", user, "--tenant", std::string(user) == "carl" ? "other" : "acme", "--name", user,
                   "--principal", std::string(user) + "@example.org"});
            auto token = admin({"token", "create", user});
            tokens[user] = token.substr(0, token.find('\n'));
        }
        server = std::make_unique<ServerProcess>();
        auto anna = domain("anna");
        const auto project = anna->create_project("acme", "Bridge", "P-1");
        projectId = project.value.id;
        admin({"project", "grant", "bob", projectId, "--role", "member"});
        spaceId = anna->create_partition(projectId, "Main", 1).value.id;
        scratch = fs::temp_directory_path() / ("vyr-cld-server-test-" + std::to_string(getpid()));
        fs::create_directories(scratch);
    }
    ~World() { fs::remove_all(scratch); }

    remote::Connection connection(const std::string& user, unsigned short port = 0) const
    {
        remote::Connection out;
        out.url = "http://127.0.0.1:" + std::to_string(port ? port : server->port);
        out.token = tokens.count(user) ? tokens.at(user) : user;
        out.attempts = 2;
        out.firstPause = 50ms;
        return out;
    }
    std::unique_ptr<domain::Domain> domain(const std::string& user) const
    {
        return remote::remote_domain(connection(user));
    }
    // A local file of these bytes, and its hash.
    std::pair<fs::path, std::string> file(const std::string& name, const std::string& bytes) const
    {
        auto local = name;
        std::replace(local.begin(), local.end(), '/', '_');
        const auto path = scratch / local;
        std::ofstream(path, std::ios::binary) << bytes;
        return {path, remote::file_hash(path).value()};
    }
    // Uploads the bytes as a blob of the user's and answers the commit that names them.
    domain::Commit content(const std::string& name, const std::string& bytes, const std::string& user = "anna") const
    {
        const auto [path, hash] = file(name + ".bytes", bytes);
        remote::BlobClient blobs(connection(user));
        EXPECT_LT(blobs.upload(path, hash, static_cast<std::int64_t>(bytes.size())), 300);
        domain::Commit commit;
        commit.spaceId = spaceId;
        commit.name = name;
        commit.blob = hash;
        commit.size = static_cast<std::int64_t>(bytes.size());
        return commit;
    }
    std::string request(const std::string& head, const std::string& body = {}, unsigned short port = 0) const
    {
        Socket socket(port ? port : server->port);
        socket.send(head + "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
        return socket.receive_response(10s);
    }

    // How many chunks the server has taken, as its metrics count them.
    std::int64_t chunk_puts() const
    {
        const auto metrics = request("GET /metrics HTTP/1.1\r\nHost: t\r\n");
        const std::string key = "route=\"/v1/blobs/{hash}/chunks/{offset}\",status=\"200\"} ";
        const auto at = metrics.find(key);
        return at == std::string::npos ? 0 : std::stoll(metrics.substr(at + key.size()));
    }
    std::string authorized(const std::string& method, const std::string& target, const std::string& user,
                           const std::string& body = {}) const
    {
        return request(method + " " + target + " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + tokens.at(user) +
                           "\r\n",
                       body);
    }
};

inline World* world = nullptr;

// A request of a browser's: its cookies, and a form's fields when it posts one.
inline std::string browser_request(const std::string& method, const std::string& target, const std::string& cookies,
                                   const std::string& form = {})
{
    return world->request(method + " " + target + " HTTP/1.1\r\nHost: t\r\nCookie: " + cookies +
                              "\r\nContent-Type: application/x-www-form-urlencoded\r\n",
                          form);
}

// A header's value in a raw response; empty when it has none.
inline std::string header_value(const std::string& response, const std::string& name)
{
    const auto key = "\r\n" + name + ":";
    auto lower = response.substr(0, response.find("\r\n\r\n"));
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto lowerKey = key;
    std::transform(lowerKey.begin(), lowerKey.end(), lowerKey.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto at = lower.find(lowerKey);
    if (at == std::string::npos) {
        return {};
    }
    const auto start = response.find_first_not_of(' ', at + key.size());
    return response.substr(start, response.find("\r\n", start) - start);
}

// A browser signed in with a token: the cookie its requests carry, and the CSRF token of its forms.
struct SignedIn {
    std::string cookie, csrf;
};

// The value a response's Set-Cookie gives a cookie; empty when it sets none.
inline std::string cookie_value(const std::string& response, const std::string& name)
{
    const auto key = "\r\nSet-Cookie: " + name + "=";
    const auto at = response.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const auto start = at + key.size();
    return response.substr(start, response.find_first_of(";\r", start) - start);
}

inline SignedIn sign_in(const std::string& token)
{
    const auto formSecret = cookie_value(browser_request("GET", "/signin", ""), "vyr_signin");
    const auto posted =
        browser_request("POST", "/signin", "vyr_signin=" + formSecret, "csrf=" + formSecret + "&token=" + token);
    SignedIn out{"vyr_session=" + cookie_value(posted, "vyr_session"), ""};
    const auto page = browser_request("GET", "/projects", out.cookie);
    const std::string field = "name=\"csrf\" value=\"";
    if (const auto at = page.find(field); at != std::string::npos) {
        out.csrf = page.substr(at + field.size(), 64);
    }
    return out;
}

} // namespace vyr::cld::test
