// vyr-cld against real team servers: each cause of a failure in its own words and exit code, and a
// watch that ends when its token is revoked instead of asking again and again.
#include "world.h"
#include "../domain/own_cluster.h"

#include <vyr/cld/domain/postgres.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <thread>

namespace vyr::cld::test {
namespace {

const std::string cli = VYR_CLD_PROGRAM;

// A user of tenant acme, a member of the world's project, with a token in a file of their own.
struct Member {
    std::string tokenId;
    fs::path tokenFile;
};

Member member(const std::string& name)
{
    admin({"user", "add", name, "--tenant", "acme", "--name", name, "--principal", name + "@example.org"});
    admin({"project", "grant", name, world->projectId, "--role", "member"});
    const auto created = admin({"token", "create", name});
    const auto newline = created.find('\n');
    Member out{created.substr(newline + 1, created.find('\n', newline + 1) - newline - 1),
               world->scratch / (name + ".token")};
    std::ofstream(out.tokenFile) << created.substr(0, newline) << '\n';
    return out;
}

// vyr-cld's arguments, with both of its streams on the one that is read.
std::vector<std::string> vyr_cld(const fs::path& folder, const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", cli, "-C", folder.string()};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return all;
}

std::string url(unsigned short port)
{
    return "http://127.0.0.1:" + std::to_string(port);
}

// How many requests a server answered, as its metrics count them over every route: those with
// `status`, or with any status but those for the metrics themselves.
std::int64_t answered(unsigned short port, std::optional<int> status)
{
    const auto key = status ? "status=\"" + std::to_string(*status) + "\"} " : std::string("status=");
    const auto metrics = world->request("GET /metrics HTTP/1.1\r\nHost: t\r\n", {}, port);
    std::int64_t count = 0;
    for (std::size_t at = 0; (at = metrics.find("vyr_cld_requests_total{", at)) != std::string::npos;) {
        const auto end = metrics.find('\n', at);
        const auto line = metrics.substr(at, end - at);
        if (line.find(key) != std::string::npos && (status || line.find("route=\"/metrics\"") == std::string::npos)) {
            count += std::stoll(line.substr(line.rfind(' ') + 1));
        }
        at = end;
    }
    return count;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The working folders' journals stay in the scratch folder.
        setenv("XDG_STATE_HOME", (world->scratch / "state").c_str(), 1);
    }
};

TEST_F(CommandLine, TellsTheCausesOfAFailureApartEachWithItsWordsAndExitCode)
{
    const auto dora = member("dora");
    const auto kept = member("frida");
    // A server whose database never answers: it runs, and answers every request 503 with its own
    // problem text.
    Child stranded({program, "--database", "postgresql://127.0.0.1:1/none?connect_timeout=2", "serve", "--listen",
                    "127.0.0.1:0"},
                   true);
    const auto listening = stranded.line(30s);
    ASSERT_TRUE(listening && listening->rfind("listening on ", 0) == 0);
    const auto strandedPort = static_cast<unsigned short>(std::stoi(listening->substr(listening->rfind(':') + 1)));
    admin({"token", "revoke", dora.tokenId});
    const struct {
        const char* what;
        std::string server;
        fs::path tokenFile;
        int exit;
        std::string says;
    } cases[] = {
        {"the server is down", url(1), kept.tokenFile, 3, "it cannot be reached"},
        {"its database is down", url(strandedPort), kept.tokenFile, 5,
         "it cannot serve requests now (The store's database is unavailable"},
        {"the token is revoked", url(world->server->port), dora.tokenFile, 4,
         "it does not take the token in " + dora.tokenFile.string()},
        {"all is well", url(world->server->port), kept.tokenFile, 0, "Bridge"},
    };
    int n = 0;
    for (const auto& row : cases) {
        // A working folder made while all was well, and the user's first contact, init.
        const auto folder = world->scratch / ("causes-" + std::to_string(++n));
        fs::create_directories(folder);
        std::ofstream(folder / ".vyr-cld.json")
            << nlohmann::json{{"server", row.server},
                              {"tokenFile", row.tokenFile.string()},
                              {"user", {{"id", "u"}, {"displayName", "u"}, {"principalName", "u@example.org"}}},
                              {"project", nullptr},
                              {"partition", nullptr}}
                   .dump();
        for (const auto& arguments : std::vector<std::vector<std::string>>{
                 {"project", "list"},
                 {"init", (folder / "fresh").string(), "--server", row.server, "--token-file", row.tokenFile.string()}}) {
            const auto ran = run(vyr_cld(folder, arguments), 60s);
            EXPECT_EQ(ran.status, row.exit) << row.what << ' ' << arguments[0] << '\n' << ran.output;
            const auto says = arguments[0] == "init" && row.exit == 0 ? "works in" : row.says;
            EXPECT_NE(ran.output.find(says), std::string::npos) << row.what << ' ' << arguments[0] << '\n'
                                                                 << ran.output;
            std::string token;
            std::getline(std::ifstream(row.tokenFile), token);
            EXPECT_EQ(ran.output.find(token), std::string::npos) << row.what;
        }
    }
}

// A watch of `name`'s working folder on `server`, once it has started.
std::unique_ptr<Child> watching(const std::string& name, const Member& user, unsigned short port)
{
    const auto folder = world->scratch / name;
    fs::create_directories(folder);
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"init", ".", "--server", url(port), "--token-file", user.tokenFile.string()}, {"use", "Bridge", "Main"}}) {
        const auto ran = run(vyr_cld(folder, arguments), 60s);
        EXPECT_EQ(ran.status, 0) << ran.output;
    }
    auto watch = std::make_unique<Child>(vyr_cld(folder, {"sync"}), true);
    const auto started = watch->line(30s);
    EXPECT_TRUE(started && started->rfind("syncing ", 0) == 0);
    return watch;
}

TEST_F(CommandLine, AWatchEndsSoonAfterItsTokenIsRevokedHavingAskedOnlyAFewTimes)
{
    const auto erik = member("erik");
    // A server of its own, so that its metrics count only this watch's requests.
    const ServerProcess server;
    const auto watch = watching("watch", erik, server.port);
    // The worker has made a pass or two with the token that works.
    std::this_thread::sleep_for(1500ms);
    const auto before = answered(server.port, 401);
    admin({"token", "revoke", erik.tokenId});

    const auto revoked = std::chrono::steady_clock::now();
    std::string output;
    std::optional<int> status;
    while (!status && std::chrono::steady_clock::now() - revoked < 20s) {
        if (const auto line = watch->line(1s)) {
            output += *line + '\n';
        } else {
            status = watch->wait(0ms);
        }
    }
    EXPECT_EQ(status, 4) << output;
    EXPECT_LT(std::chrono::steady_clock::now() - revoked, 15s);
    EXPECT_NE(output.find("it does not take the token in " + erik.tokenFile.string()), std::string::npos) << output;
    // Every request after the revocation is refused: a watch that ends asks only a few times.
    EXPECT_LE(answered(server.port, 401) - before, 6);
}

// While the database is down the server answers 503: the watch goes on, asks less and less often,
// and is back at its pace once the database is.
TEST_F(CommandLine, AWatchAsksLessOftenWhileTheServiceCannotServeAndGoesOnWhenItCanAgain)
{
    const auto cluster = OwnCluster::find();
    if (!cluster) {
        GTEST_SKIP() << "the database server is not this run's own to stop";
    }
    const auto gustav = member("gustav");
    const ServerProcess server;
    const auto watch = watching("patient", gustav, server.port);
    std::this_thread::sleep_for(1500ms);

    const auto before = answered(server.port, 503);
    ASSERT_EQ(cluster->control("stop -m fast"), 0);
    // At the usual pace the watch and its worker ask about 60 times in these 8 s; spaced out,
    // about 15.
    std::this_thread::sleep_for(8s);
    const auto unserved = answered(server.port, 503) - before;
    ASSERT_EQ(cluster->control("start"), 0);
    EXPECT_GT(unserved, 0);
    EXPECT_LE(unserved, 30);

    std::string output;
    const auto restarted = std::chrono::steady_clock::now();
    while (output.find("ConnectionStatus      200") == std::string::npos &&
           std::chrono::steady_clock::now() - restarted < 30s) {
        if (const auto line = watch->line(1s)) {
            output += *line + '\n';
        }
    }
    EXPECT_NE(output.find("ConnectionStatus      503"), std::string::npos) << output;
    EXPECT_NE(output.find("ConnectionStatus      200"), std::string::npos) << output;
    watch->terminate();
    EXPECT_EQ(watch->wait(10s), 0);
}

// The status of a folder costs a few requests however many files it holds, and each file's
// answer is still the store's as it stood when the status began.
TEST_F(CommandLine, AFoldersStatusTakesAFewRequestsAndTellsEachFileRight)
{
    const auto hanna = member("hanna");
    auto anna = world->domain("anna");
    const auto spaceId = anna->create_partition(world->projectId, "Status", 1).value.id;
    constexpr int many = 40;
    std::map<std::string, domain::FileRow> stored;
    for (int i = 0; i < many; ++i) {
        const auto name = "file-" + std::to_string(i) + ".txt";
        auto commit = world->content(name, "first " + name);
        commit.spaceId = spaceId;
        const auto row = anna->commit(commit);
        ASSERT_EQ(row.code, 201) << name;
        stored[name] = row.value;
    }
    const ServerProcess server;
    const auto folder = world->scratch / "status-pass";
    fs::create_directories(folder);
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {"init", ".", "--server", url(server.port), "--token-file", hanna.tokenFile.string()},
             {"use", "Bridge", "Status"},
             {"sync", "--wait", "--timeout", "30"}}) {
        const auto ran = run(vyr_cld(folder, arguments), 60s);
        ASSERT_EQ(ran.status, 0) << ran.output;
    }
    // What other users and this one did since the folder was in step.
    ASSERT_EQ(anna->lock(spaceId, "file-30.txt").code, 200);
    auto update = world->content("file-31.txt", "second");
    update.spaceId = spaceId;
    update.base = domain::Base{stored["file-31.txt"].id, 1};
    ASSERT_EQ(anna->commit(update).code, 200);
    std::ofstream(folder / "file-32.txt") << "changed here";
    std::ofstream(folder / "new.txt") << "new here";
    ASSERT_EQ(anna->remove(spaceId, "file-33.txt").code, 200);

    const auto before = answered(server.port, std::nullopt);
    const auto ran = run(vyr_cld(folder, {"--json", "status"}), 60s);
    const auto asked = answered(server.port, std::nullopt) - before;
    ASSERT_EQ(ran.status, 0) << ran.output;
    // Three requests a file would be over a hundred.
    EXPECT_LE(asked, 12);
    const auto answer = nlohmann::json::parse(ran.output);
    std::map<std::string, nlohmann::json> files;
    for (const auto& entry : answer.at("files")) {
        files[entry.at("file").get<std::string>()] = entry;
    }
    ASSERT_EQ(files.size(), static_cast<std::size_t>(many + 1)) << ran.output;
    const struct {
        const char* file;
        bool inProject;
        int revision;       // 0: none
        const char* holder; // who holds the lock, if anybody
    } cases[] = {
        {"file-30.txt", true, 1, "anna"},   // locked by another user
        {"file-31.txt", true, 2, nullptr},  // changed in the store
        {"file-32.txt", true, 1, nullptr},  // changed here
        {"new.txt", false, 0, nullptr},     // new here
        {"file-33.txt", false, 0, nullptr}, // deleted in the store
        {"file-0.txt", true, 1, nullptr},   // as it was
    };
    for (const auto& row : cases) {
        const auto& entry = files[row.file];
        EXPECT_EQ(entry.value("inProject", !row.inProject), row.inProject) << row.file;
        EXPECT_EQ(entry.value("revision", 0), row.revision) << row.file;
        EXPECT_EQ(entry.contains("lock") ? entry["lock"].value("displayName", "") : "", row.holder ? row.holder : "")
            << row.file;
        if (row.holder) {
            EXPECT_EQ(entry["lock"].value("status", ""), "LockedByOther") << row.file;
        }
    }
    EXPECT_EQ(answer.at("pending").at("filesLeftToDownload"), 1) << ran.output;
}

TEST(ServerProgram, TellsItsReleaseAndTheDatabaseSchemaItMigratesTo)
{
    EXPECT_EQ(admin({"--version"}), "vyr-cld-server " VYR_CLD_VERSION " (database schema " +
                                        std::to_string(domain::postgres_schema_version()) + ")\n");
}

} // namespace
} // namespace vyr::cld::test
