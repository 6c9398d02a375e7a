// The administration commands as an administrator runs them, beside a running server: what they
// change holds from the next request on, API and pages alike, and each can tell a script what it
// made or touched.
#include "world.h"

#include <vyr/cld/domain/postgres.h>

#include <atomic>
#include <functional>
#include <thread>

namespace vyr::cld::test {
namespace {

using nlohmann::json;

// Runs an administration command; answers its exit status and its output, standard error included.
Ran administer(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    return run(all);
}

// The secret and the id `token create` prints on its two lines.
std::pair<std::string, std::string> new_token(const std::string& user)
{
    const auto created = admin({"token", "create", user});
    const auto end = created.find('\n');
    return {created.substr(0, end), created.substr(end + 1, created.find('\n', end + 1) - end - 1)};
}

struct Step {
    std::string what;
    std::vector<std::string> command; // run first; none when empty
    int exit = 0;
    std::string says, absent; // in its output, and never there
    // Then, with this token and this browser session: GET /v1/me, GET /v1/projects/P-1 and the
    // project's page (0: not asked).
    std::string token, cookie;
    int me = 0, project = 0, page = 0;
};

void run_steps(const std::vector<Step>& steps)
{
    const auto target = "/v1/projects/" + world->projectId;
    for (const auto& step : steps) {
        if (!step.command.empty()) {
            const auto ran = administer(step.command);
            EXPECT_EQ(ran.status, step.exit) << step.what << "\n" << ran.output;
            EXPECT_NE(ran.output.find(step.says), std::string::npos) << step.what << "\n" << ran.output;
            if (!step.absent.empty()) {
                EXPECT_EQ(ran.output.find(step.absent), std::string::npos) << step.what << "\n" << ran.output;
            }
        }
        const auto api = [&](const std::string& path) {
            return status_of(world->request("GET " + path + " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                                            step.token + "\r\n"));
        };
        if (step.me) {
            EXPECT_EQ(api("/v1/me"), step.me) << step.what;
        }
        if (step.project) {
            EXPECT_EQ(api(target), step.project) << step.what;
        }
        if (step.page) {
            const auto page = browser_request("GET", "/projects/" + world->projectId, step.cookie);
            EXPECT_EQ(status_of(page), step.page) << step.what;
            if (step.page == 303) {
                EXPECT_EQ(header_value(page, "Location").rfind("/signin", 0), 0u) << step.what;
            }
        }
    }
}

TEST(Administration, ARevokedRoleOrADisabledUserHoldsFromTheNextRequestOn)
{
    const auto& project = world->projectId;
    for (const auto* user : {"rita", "vera"}) {
        admin({"user", "add", user, "--tenant", "acme"});
        admin({"project", "grant", user, project});
    }
    const auto rita = new_token("rita").first;
    const auto vera = new_token("vera").first;
    const auto ritaPage = sign_in(rita).cookie;
    const auto veraPage = sign_in(vera).cookie;
    run_steps({
        {"a member", {}, 0, "", "", rita, ritaPage, 200, 200, 200},
        {"the role taken away", {"project", "revoke", "rita", project}, 0, "", "", rita, ritaPage, 200, 404, 404},
        {"no role to take", {"project", "revoke", "rita", project}, 1, "rita holds no role on the project", "", rita,
         ritaPage, 200, 404, 404},
        {"granted again", {"project", "grant", "rita", project}, 0, "", "", rita, ritaPage, 200, 200, 200},
        {"disabled", {"user", "disable", "vera"}, 0, "", "", vera, veraPage, 401, 401, 303},
        {"no token while disabled", {"token", "create", "vera"}, 1, "disabled", "", vera, veraPage, 401, 401, 303},
        {"disabled again", {"user", "disable", "vera"}, 0, "", "", vera, veraPage, 401, 401, 303},
        {"enabled: the same token and session serve again", {"user", "enable", "vera"}, 0, "", "", vera, veraPage,
         200, 200, 200},
        {"an unknown user", {"user", "disable", "nobody"}, 1, "No such user", "", vera, veraPage, 200, 200, 200},
    });
}

TEST(Administration, ATokenIsRevokedByItsIdAndNeverTypedIn)
{
    admin({"user", "add", "tom", "--tenant", "acme"});
    const auto [secret, id] = new_token("tom");
    ASSERT_EQ(secret.size(), 64u);
    ASSERT_EQ(id.size(), 32u);
    auto upper = secret;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    run_steps({
        {"the token itself", {"token", "revoke", secret}, 1, "revoke takes the token's id", secret, secret, "", 200},
        {"in capitals", {"token", "revoke", upper}, 1, "token list USER", upper, secret, "", 200},
        {"listed by id", {"token", "list", "tom"}, 0, id + "  created ", secret, secret, "", 200},
        {"by its id", {"token", "revoke", id}, 0, "", "", secret, "", 401},
        {"listed as revoked", {"token", "list", "tom"}, 0, "  revoked ", "live", secret, "", 401},
        {"once", {"token", "revoke", id}, 1, "no live token has that id", "", secret, "", 401},
        {"an unknown user's", {"token", "list", "nobody"}, 1, "No such user", "", secret, "", 401},
    });
}

// The server's count of a metric; 0 when it shows none.
std::uint64_t metric(const std::string& name)
{
    const auto text = world->request("GET /metrics HTTP/1.1\r\nHost: t\r\n");
    const auto at = text.find("\n" + name + " ");
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + name.size() + 2));
}

TEST(Administration, RevocationHoldsAtTheVeryNextRequestWhileCredentialsAreCached)
{
    const auto& project = world->projectId;
    struct Victim {
        std::string token, id;
        SignedIn page;
    };
    const auto victim = [&](const std::string& user) {
        admin({"user", "add", user, "--tenant", "acme", "--name", "Before"});
        admin({"project", "grant", user, project});
        const auto [token, id] = new_token(user);
        return Victim{token, id, sign_in(token)};
    };
    const auto me = [](const Victim& v) {
        return world->request("GET /v1/me HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + v.token + "\r\n");
    };
    const auto page = [&](const Victim& v) {
        return status_of(browser_request("GET", "/projects/" + project, v.page.cookie));
    };
    const struct {
        const char* what;
        std::function<void(const std::string& user, const Victim&)> change;
        int me, page;
        const char* name; // in /v1/me's answer, when it is 200
    } cases[] = {
        {"token revoked", [](const std::string&, const Victim& v) { admin({"token", "revoke", v.id}); }, 401, 303, ""},
        {"user disabled", [](const std::string& u, const Victim&) { admin({"user", "disable", u}); }, 401, 303, ""},
        {"user renamed",
         [](const std::string& u, const Victim&) { admin({"user", "add", u, "--tenant", "acme", "--name", "After"}); },
         200, 200, "After"},
        {"signed out",
         [](const std::string&, const Victim& v) {
             EXPECT_EQ(status_of(browser_request("POST", "/signout", v.page.cookie, "csrf=" + v.page.csrf)), 303);
         },
         200, 303, "Before"},
        {"role taken away", [&](const std::string& u, const Victim&) { admin({"project", "revoke", u, project}); },
         200, 404, "Before"},
    };
    const auto hitsBefore = metric("vyr_cld_credential_cache_hits_total");
    int n = 0;
    for (const auto& c : cases) {
        const auto user = "cached" + std::to_string(++n);
        const auto v = victim(user);
        ASSERT_EQ(status_of(me(v)), 200) << c.what;
        ASSERT_EQ(page(v), 200) << c.what;
        // A client keeps asking while the change is made, so that its token and session stay cached.
        std::atomic<bool> done{false};
        std::thread client([&] {
            while (!done) {
                me(v);
                page(v);
            }
        });
        std::this_thread::sleep_for(100ms);
        c.change(user, v);
        const auto answer = me(v);
        const auto shown = page(v);
        done = true;
        client.join();
        EXPECT_EQ(status_of(answer), c.me) << c.what << ": " << answer;
        EXPECT_EQ(shown, c.page) << c.what;
        if (c.me == 200) {
            EXPECT_NE(answer.find(std::string("\"displayName\":\"") + c.name + "\""), std::string::npos)
                << c.what << ": " << answer;
        }
    }
    // The cache served meanwhile: the client's requests did not each ask the database.
    EXPECT_GT(metric("vyr_cld_credential_cache_hits_total"), hitsBefore + 10);
}

TEST(Administration, EventRetentionIsAServeOptionWithinBounds)
{
    const std::vector<std::vector<std::string>> refused{
        {"--event-max-count", "5"},      {"--event-max-count", "2000000"}, {"--event-max-age", "30s"},
        {"--event-max-age", "400d"},     {"--event-max-age", "week"},
    };
    for (const auto& options : refused) {
        std::vector<std::string> all{"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", program, "serve", "--listen",
                                     "127.0.0.1:0"};
        all.insert(all.end(), options.begin(), options.end());
        const auto ran = run(all, 10s);
        EXPECT_NE(ran.status, 0) << options[0] << ' ' << options[1] << ": " << ran.output;
        EXPECT_NE(ran.output.find(options[0]), std::string::npos) << ran.output;
    }

    ServerProcess server({"--event-max-count", "10", "--event-max-age", "1h"});
    admin({"user", "add", "eve", "--tenant", "acme"});
    const auto token = new_token("eve").first;
    const auto call = [&](const std::string& target, const std::string& body) {
        return world->request("POST " + target + " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + token + "\r\n",
                              body, server.port);
    };
    for (int i = 0; i < 25; ++i) {
        const auto posted = call("/v1/me/events", R"({"event":{"type":1,"status":0,"responseId":"e)" +
                                                      std::to_string(i) + "\"}}");
        ASSERT_EQ(status_of(posted), 201) << posted;
    }
    const auto taken = call("/v1/me/events/take", "");
    const auto events = json::parse(taken.substr(taken.find("\r\n\r\n") + 4), nullptr, false);
    ASSERT_TRUE(events.is_array()) << taken;
    ASSERT_EQ(events.size(), 10u) << taken;
    EXPECT_EQ(events.front().value("responseId", ""), "e15"); // the newest ten
    EXPECT_EQ(events.back().value("responseId", ""), "e24");
}

TEST(Administration, WithJsonEachCommandPrintsWhatItMadeOrTouched)
{
    const auto& project = world->projectId;
    const auto as_json = [](const std::vector<std::string>& arguments) -> json {
        const auto output = admin(arguments);
        EXPECT_EQ(std::count(output.begin(), output.end(), '\n'), 1) << output;
        return json::parse(output, nullptr, false);
    };
    const struct {
        std::vector<std::string> command;
        json expected;
    } cases[] = {
        {{"migrate", "--json"}, {{"schemaVersion", domain::postgres_schema_version()}}},
        {{"tenant", "add", "scripted", "--json"}, {{"id", "scripted"}}},
        {{"user", "add", "jo", "--tenant", "scripted", "--json"}, {{"id", "jo"}, {"tenant", "scripted"}}},
        {{"project", "grant", "jo", project, "--role", "admin", "--json"},
         {{"user", "jo"}, {"project", project}, {"role", "admin"}}},
        {{"project", "revoke", "jo", project, "--json"}, {{"user", "jo"}, {"project", project}}},
        {{"user", "disable", "jo", "--json"}, {{"user", "jo"}, {"disabled", true}}},
        {{"user", "enable", "jo", "--json"}, {{"user", "jo"}, {"disabled", false}}},
        // Nothing of this run is a year old.
        {{"gc", "--older-than", "365d", "--json"}, {{"dropped", 0}, {"requestKeys", 0}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(as_json(c.command), c.expected) << c.command[0] << " " << c.command[1];
    }

    const auto created = as_json({"token", "create", "jo", "--json"});
    ASSERT_TRUE(created.is_object()) << created;
    EXPECT_EQ(created.value("user", ""), "jo");
    const auto id = created.value("id", "");
    const auto secret = created.value("token", "");
    EXPECT_EQ(status_of(world->request("GET /v1/me HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " + secret + "\r\n")),
              200);
    auto listed = as_json({"token", "list", "jo", "--json"});
    ASSERT_TRUE(listed.is_array() && listed.size() == 1) << listed;
    EXPECT_TRUE(listed[0]["created"].is_number()) << listed;
    const json live{{"id", id}, {"created", listed[0]["created"]}, {"revoked", nullptr}};
    EXPECT_EQ(listed, json::array({live}));
    EXPECT_EQ(as_json({"token", "revoke", id, "--json"}), (json{{"id", id}}));
    auto revoked = as_json({"token", "list", "jo", "--json"});
    ASSERT_TRUE(revoked.is_array() && revoked.size() == 1) << revoked;
    EXPECT_TRUE(revoked[0]["revoked"].is_number()) << revoked;
}

} // namespace
} // namespace vyr::cld::test
