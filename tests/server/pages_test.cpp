// The web pages through raw requests as a browser sends them: sign-in, escaping, CSRF, access and
// downloads; and the remote service opening a file's page.
#include "world.h"

#include <vyr/cld/remote/service.h>

#include <fstream>
#include <random>
#include <thread>

#include <sys/wait.h>
#include <regex>

namespace vyr::cld::test {
namespace {

std::string header_of(const std::string& response, const std::string& name)
{
    const std::regex line("\r\n" + name + ": ([^\r]*)", std::regex::icase);
    std::smatch found;
    return std::regex_search(response, found, line) ? found[1].str() : std::string{};
}

std::string body_of(const std::string& response)
{
    return response.substr(response.find("\r\n\r\n") + 4);
}

// A cookie's value from a Set-Cookie line of the response.
std::string cookie_of(const std::string& response, const std::string& name)
{
    const std::regex line("\r\nSet-Cookie: " + name + "=([^;\r]*)", std::regex::icase);
    std::smatch found;
    return std::regex_search(response, found, line) ? found[1].str() : std::string{};
}

// A browser of one user: its session cookie, sent with every request.
struct Browser {
    std::string session;

    static std::string send(const std::string& method, const std::string& target, const std::string& cookies,
                            const std::string& body = {})
    {
        return world->request(method + " " + target + " HTTP/1.1\r\nHost: t\r\nCookie: " + cookies +
                                  "\r\nContent-Type: application/x-www-form-urlencoded\r\n",
                              body);
    }
    // Signs in through the form; answers the response to the form's post.
    std::string sign_in(const std::string& token)
    {
        const auto form = send("GET", "/signin", "");
        const auto csrf = cookie_of(form, "vyr_signin");
        const auto posted = send("POST", "/signin", "vyr_signin=" + csrf, "csrf=" + csrf + "&token=" + token);
        session = cookie_of(posted, "vyr_session");
        return posted;
    }
    std::string get(const std::string& target) const { return send("GET", target, "vyr_session=" + session); }
    std::string post(const std::string& target, const std::string& body) const
    {
        return send("POST", target, "vyr_session=" + session, body);
    }
    // The session's CSRF token, as every page's forms carry it.
    std::string csrf() const
    {
        const std::regex field(R"re(name="csrf" value="([0-9a-f]+)")re");
        std::smatch found;
        const auto page = get("/projects");
        return std::regex_search(page, found, field) ? found[1].str() : std::string{};
    }
};

Browser signed_in(const std::string& user)
{
    Browser browser;
    browser.sign_in(world->tokens.at(user));
    return browser;
}

TEST(Pages, SignInGivesAStrictSessionCookieThatSignOutEnds)
{
    EXPECT_EQ(header_of(Browser::send("GET", "/projects", ""), "Location"), "/signin?next=%2Fprojects"); // where sign-in leads back to
    Browser anna;
    const auto posted = anna.sign_in(world->tokens.at("anna"));
    EXPECT_EQ(status_of(posted), 303);
    EXPECT_EQ(header_of(posted, "Location"), "/projects");
    EXPECT_EQ(anna.session.size(), 64u);
    const auto attributes = header_of(posted, "Set-Cookie");
    EXPECT_NE(attributes.find("; HttpOnly; SameSite=Strict; Path=/"), std::string::npos) << attributes;
    EXPECT_EQ(attributes.find("Secure"), std::string::npos) << "plain HTTP";
    const auto page = anna.get("/projects");
    EXPECT_EQ(status_of(page), 200);
    for (const auto* header : {"Content-Security-Policy", "X-Content-Type-Options", "Referrer-Policy", "Cache-Control"}) {
        EXPECT_FALSE(header_of(page, header).empty()) << header;
    }
    EXPECT_EQ(header_of(page, "Content-Security-Policy"),
              "default-src 'none'; style-src 'self'; script-src 'self'; img-src 'self'; connect-src 'self'; "
              "form-action 'self'; frame-ancestors 'none'; base-uri 'none'");

    // A sign-in form that is not the site's own, or a token it does not know, signs nobody in.
    const auto form = Browser::send("GET", "/signin", "");
    const auto csrf = cookie_of(form, "vyr_signin");
    const auto& token = world->tokens.at("bob");
    const struct {
        const char* what;
        std::string cookies, body;
        int status;
    } refusals[] = {
        {"no form token", "vyr_signin=" + csrf, "token=" + token, 403},
        {"another form token", "vyr_signin=" + csrf, "csrf=" + std::string(64, 'a') + "&token=" + token, 403},
        {"no form cookie", "", "csrf=" + csrf + "&token=" + token, 403},
        {"an unknown token", "vyr_signin=" + csrf, "csrf=" + csrf + "&token=" + std::string(64, '0'), 401},
    };
    for (const auto& refusal : refusals) {
        const auto response = Browser::send("POST", "/signin", refusal.cookies, refusal.body);
        EXPECT_EQ(status_of(response), refusal.status) << refusal.what;
        EXPECT_TRUE(cookie_of(response, "vyr_session").empty()) << refusal.what;
    }
    EXPECT_NE(Browser::send("POST", "/signin", refusals[3].cookies, refusals[3].body).find("The token was not accepted."),
              std::string::npos);

    EXPECT_EQ(status_of(anna.post("/signout", "csrf=wrong")), 403);
    EXPECT_EQ(status_of(anna.get("/projects")), 200); // still signed in
    EXPECT_EQ(status_of(anna.post("/signout", "csrf=" + anna.csrf())), 303);
    EXPECT_EQ(header_of(anna.get("/projects"), "Location"), "/signin?next=%2Fprojects");
}

TEST(Pages, HostileNamesRenderAsText)
{
    const std::string script = "<script>alert(1)</script>";
    const std::string image = "\"><img src=x onerror=alert(1)>";
    auto anna = world->domain("anna");
    const auto project = anna->create_project("acme", script, "");
    ASSERT_EQ(project.code, 201);
    const auto space = anna->create_partition(project.value.id, image, 1).value.id;
    // A file's name holds none of < > " (no working folder could hold it), but ' and & it may.
    const std::string quoted = "' onmouseover='x & b.dwg";
    auto commit = world->content(quoted, "hostile");
    commit.spaceId = space;
    const auto file = anna->commit(commit);
    ASSERT_EQ(file.code, 201);

    const auto browser = signed_in("anna");
    const struct {
        std::string page, hostile, escaped;
    } cases[] = {
        {"/projects", script, "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"/projects/" + project.value.id, script, "<h1><bdi>&lt;script&gt;alert(1)&lt;/script&gt;</bdi></h1>"},
        {"/projects/" + project.value.id, image, "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"},
        {"/spaces/" + space, quoted, "data-path=\"&#39; onmouseover=&#39;x &amp; b.dwg\""},
        {"/files/" + file.value.id, quoted, "<h1><bdi>&#39; onmouseover=&#39;x &amp; b.dwg</bdi></h1>"},
        {"/files/" + file.value.id, script, "&lt;script&gt;alert(1)&lt;/script&gt;</bdi></a>"},
    };
    for (const auto& c : cases) {
        const auto page = browser.get(c.page);
        ASSERT_EQ(status_of(page), 200) << c.page;
        const auto body = body_of(page);
        EXPECT_EQ(body.find(c.hostile), std::string::npos) << c.page;
        EXPECT_NE(body.find(c.escaped), std::string::npos) << c.page << "\n" << body;
        EXPECT_EQ(body.find("<script>"), std::string::npos) << c.page; // the only script is app.js
    }
}

TEST(Pages, EveryAnswerIsReadAsItsOwnTypeAndNeverFramed)
{
    const struct {
        const char* what;
        std::string head, body;
        int status;
    } cases[] = {
        {"a page's method it lacks", "DELETE /projects HTTP/1.1\r\nHost: t\r\n", "", 405},
        {"no such address", "GET /nowhere HTTP/1.1\r\nHost: t\r\n", "", 404},
        {"a form too large", "POST /signin HTTP/1.1\r\nHost: t\r\n", std::string(16 * 1024 + 1, 'a'), 413},
        {"a header too large", "GET /projects HTTP/1.1\r\nHost: t\r\nX-Pad: " + std::string(64 * 1024, 'a') + "\r\n",
         "", 431},
        {"an API answer", "GET /v1/me HTTP/1.1\r\nHost: t\r\n", "", 401},
    };
    for (const auto& c : cases) {
        const auto response = world->request(c.head, c.body);
        EXPECT_EQ(status_of(response), c.status) << c.what;
        EXPECT_EQ(header_of(response, "X-Content-Type-Options"), "nosniff") << c.what;
        EXPECT_EQ(header_of(response, "Content-Security-Policy"), "default-src 'none'; frame-ancestors 'none'")
            << c.what;
    }
}

TEST(Pages, TheProjectSearchReadsItsFormsSpacesAndPluses)
{
    auto anna = world->domain("anna");
    ASSERT_EQ(anna->create_project("acme", "North Bridge+1", "NB-7").code, 201);
    const auto browser = signed_in("anna");
    const struct {
        const char* query;
        bool listed;
    } cases[] = {
        {"north+bridge", true}, // as a GET form sends "north bridge"
        {"Bridge%2B1", true},
        {"bridge+1", false},
        {"nb-7", true},
        {"south", false},
    };
    for (const auto& c : cases) {
        const auto body = body_of(browser.get(std::string("/projects?q=") + c.query));
        EXPECT_EQ(body.find("North Bridge+1</bdi></a>") != std::string::npos, c.listed) << c.query;
    }
    EXPECT_NE(body_of(browser.get("/projects?q=north+bridge")).find("value=\"north bridge\""), std::string::npos);
}

TEST(Pages, WhatAnotherTenantHoldsIsNotFound)
{
    auto anna = world->domain("anna");
    const auto file = anna->commit(world->content("tenant.txt", "acme's"));
    ASSERT_EQ(file.code, 201);
    const auto& id = file.value.id;
    const auto carl = signed_in("carl");
    const auto owner = signed_in("anna");
    for (const auto& page : {"/projects/" + world->projectId, "/projects/" + world->projectId + "/updates",
                             "/projects/" + world->projectId + "/updates.json", "/spaces/" + world->spaceId,
                             "/files/" + id, "/files/" + id + "/revisions/1/content"}) {
        EXPECT_EQ(status_of(carl.get(page)), 404) << page;
        EXPECT_EQ(status_of(owner.get(page)), 200) << page;
    }
    for (const auto& page : {"/projects/" + std::string(32, 'f'), "/files/" + std::string(32, 'f'),
                             "/files/" + id + "/revisions/9/content", "/files/" + id + "/revisions/x/content"}) {
        EXPECT_EQ(status_of(owner.get(page)), 404) << page;
    }
    EXPECT_EQ(body_of(carl.get("/projects")).find(world->projectId), std::string::npos);
    EXPECT_EQ(status_of(carl.post("/files/" + id + "/unlock", "csrf=" + carl.csrf())), 404);
}

TEST(Pages, BreakingALockTakesTheSessionsCsrfTokenAndTheForcedUnlockRule)
{
    auto anna = world->domain("anna");
    auto bob = world->domain("bob");
    const auto file = anna->commit(world->content("locked.dwg", "plan"));
    ASSERT_EQ(file.code, 201);
    const auto target = "/files/" + file.value.id + "/unlock";
    ASSERT_EQ(bob->lock(world->spaceId, "locked.dwg").code, 200);
    bob->take_events();
    const auto admin = signed_in("anna");
    const auto holder = [&] {
        const auto row = anna->file(world->spaceId, "locked.dwg").value;
        return row.lock ? row.lock->holder.id : std::string{};
    };
    EXPECT_NE(body_of(admin.get("/files/" + file.value.id)).find("id=\"break-lock\""), std::string::npos);

    const struct {
        const char* what;
        std::string body;
    } forged[] = {{"no csrf field", ""}, {"an empty one", "csrf="}, {"another", "csrf=" + std::string(64, '0')},
                  {"another session's", "csrf=" + signed_in("bob").csrf()}};
    for (const auto& c : forged) {
        EXPECT_EQ(status_of(admin.post(target, c.body)), 403) << c.what;
        EXPECT_EQ(holder(), "bob") << c.what;
    }

    // A member may not break another's lock, whatever the form carries.
    ASSERT_EQ(anna->unlock_forced(world->spaceId, "locked.dwg"), 200);
    ASSERT_EQ(anna->lock(world->spaceId, "locked.dwg").code, 200);
    const auto member = signed_in("bob");
    EXPECT_EQ(body_of(member.get("/files/" + file.value.id)).find("id=\"break-lock\""), std::string::npos);
    EXPECT_EQ(status_of(member.post(target, "csrf=" + member.csrf())), 403);
    EXPECT_EQ(holder(), "anna");

    ASSERT_EQ(anna->unlock(world->spaceId, "locked.dwg"), 200);
    ASSERT_EQ(bob->lock(world->spaceId, "locked.dwg").code, 200);
    bob->take_events();
    const auto lock = *anna->file(world->spaceId, "locked.dwg").value.lock;
    const auto shown = "csrf=" + admin.csrf() + "&holder=bob&since=" + std::to_string(lock.since);
    // The page's form asks first, naming the holder; the answer to that question breaks the lock.
    const struct {
        const char* what;
        std::string body;
        int status;
        const char* says;
    } steps[] = {
        {"a form naming no lock", "csrf=" + admin.csrf(), 400, "reload the page"},
        {"another holder", "csrf=" + admin.csrf() + "&holder=anna&since=" + std::to_string(lock.since), 409,
         "is now held by <strong class=\"holder\"><bdi>bob"},
        {"the question", shown, 200, "id=\"confirm-break\""},
        {"an older lock, confirmed", "csrf=" + admin.csrf() + "&holder=bob&since=1&confirm=yes", 409, "is now held by"},
    };
    for (const auto& step : steps) {
        const auto answer = admin.post(target, step.body);
        EXPECT_EQ(status_of(answer), step.status) << step.what;
        EXPECT_NE(body_of(answer).find(step.says), std::string::npos) << step.what << "\n" << body_of(answer);
        EXPECT_EQ(holder(), "bob") << step.what;
    }
    const auto broken = admin.post(target, shown + "&confirm=yes&reason=Gone+for+the+week&back=locks");
    EXPECT_EQ(status_of(broken), 303);
    EXPECT_EQ(header_of(broken, "Location"), "/projects/" + world->projectId + "/locks");
    EXPECT_EQ(holder(), "");
    const auto told = bob->take_events();
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(told.back().status, 409);
    EXPECT_EQ(told.back().responseId, "locked.dwg\nanna@example.org\nGone for the week");
    // The holder's history says why, after the events are taken.
    const auto history = body_of(member.get("/activity"));
    EXPECT_NE(history.find("broke your lock on"), std::string::npos) << history;
    EXPECT_NE(history.find("<q class=\"reason\"><bdi>Gone for the week</bdi></q>"), std::string::npos) << history;
    // Confirmed again, it meets no lock.
    EXPECT_EQ(status_of(admin.post(target, shown + "&confirm=yes")), 409);
}

TEST(Pages, ADownloadIsTheRevisionsExactBytesUnderItsName)
{
    auto anna = world->domain("anna");
    std::mt19937 random(19);
    std::string first(2 * (1 << 20) + 777, '\0'); // three chunks
    for (auto& byte : first) {
        byte = static_cast<char>(random());
    }
    const std::string name = "plans/Plan \xC3\xBC '1'.dwg";
    const auto one = anna->commit(world->content(name, first));
    ASSERT_EQ(one.code, 201);
    auto second = world->content(name, "revision two");
    second.base = domain::Base{one.value.id, 1};
    ASSERT_EQ(anna->commit(second).code, 200);

    const auto browser = signed_in("bob");
    const auto page = body_of(browser.get("/files/" + one.value.id));
    for (const auto* revision : {"data-revision=\"1\"", "data-revision=\"2\"", "class=\"download\""}) {
        EXPECT_NE(page.find(revision), std::string::npos) << revision;
    }
    EXPECT_NE(page.find(second.blob), std::string::npos);

    const auto download = browser.get("/files/" + one.value.id + "/revisions/1/content");
    ASSERT_EQ(status_of(download), 200);
    EXPECT_EQ(header_of(download, "Content-Type"), "application/octet-stream");
    EXPECT_EQ(header_of(download, "Content-Disposition"),
              "attachment; filename=\"Plan _ '1'.dwg\"; filename*=UTF-8''Plan%20%C3%BC%20%271%27%2Edwg");
    EXPECT_TRUE(body_of(download) == first) << "the bytes of revision 1";
    EXPECT_EQ(body_of(browser.get("/files/" + one.value.id + "/revisions/2/content")), "revision two");
    // An empty revision downloads as no bytes.
    const auto empty = anna->commit(world->content("plans/empty.dwg", ""));
    ASSERT_EQ(empty.code, 201);
    const auto nothing = browser.get("/files/" + empty.value.id + "/revisions/1/content");
    EXPECT_EQ(status_of(nothing), 200);
    EXPECT_EQ(header_of(nothing, "Content-Length"), "0");
    EXPECT_EQ(body_of(nothing), "");
    // The connection still serves after a streamed body.
    EXPECT_EQ(status_of(world->request("GET /healthz HTTP/1.1\r\nHost: t\r\n")), 200);
}

TEST(Pages, AViewerUpdateIsListedWithItsFilesAndStatus)
{
    auto anna = world->domain("anna");
    ASSERT_EQ(anna->commit(world->content("model.ifc", "model")).code, 201);
    domain::ModelUpdateRow row;
    row.projectId = world->projectId;
    row.epsg = 25832;
    row.description = "north wing";
    const auto added = anna->add_model_update(row, {{world->spaceId, "model.ifc"}});
    ASSERT_EQ(added.code, 201);
    const auto browser = signed_in("bob");
    const auto page = body_of(browser.get("/projects/" + world->projectId + "/updates"));
    for (const auto& text : {"data-update-id=\"" + added.value + "\"", std::string("<li><bdi>model.ifc</bdi></li>"),
                             std::string(">25832<"), std::string("north wing"), std::string("class=\"status\">")}) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
    const auto polled = body_of(browser.get("/projects/" + world->projectId + "/updates.json"));
    EXPECT_NE(polled.find("{\"id\":\"" + added.value + "\",\"status\":\""), std::string::npos) << polled;
    EXPECT_EQ(status_of(Browser::send("GET", "/projects/" + world->projectId + "/updates.json", "")), 401);
}

TEST(Pages, FindFileInWebAppOpensTheFilesPageThroughTheHostsOpener)
{
    auto anna = world->domain("anna");
    const auto stored = anna->commit(world->content("shown.txt", "shown"));
    ASSERT_EQ(stored.code, 201);
    remote::Options options;
    options.server = world->connection("anna").url + "/";
    options.token = world->tokens.at("anna");
    options.journals = world->scratch / "opener-journals";
    std::vector<std::string> opened;
    options.opener = [&](const std::string& url) { opened.push_back(url); };
    const auto service = remote::open_service(options);
    const auto text = [](const std::string& ascii) { return VyrCldapi::String(std::u16string(ascii.begin(), ascii.end())); };
    service->SetProjectAndPartition(text(world->projectId), u"", text(world->spaceId),
                                    text((world->scratch / "opener-folder").string()), u"", u"");
    service->FindFileInWebApp(u"shown.txt");
    EXPECT_THROW(service->FindFileInWebApp(u"missing.txt"), VyrCldapi::Exception);
    EXPECT_EQ(opened, std::vector<std::string>{world->connection("anna").url + "/files/" + stored.value.id});
}

// Without the host's opener, xdg-open gets the page's address as its one argument, and is never
// left as the host's child: the call returns with nothing of it to reap.
TEST(Pages, TheDefaultOpenerLeavesTheHostNoChild)
{
    auto anna = world->domain("anna");
    ASSERT_EQ(anna->commit(world->content("default.txt", "shown")).code, 201);
    const auto bin = world->scratch / "opener-bin";
    fs::create_directories(bin);
    {
        std::ofstream fake(bin / "xdg-open");
        // Its pid and arguments, then a while alive: a child of the host would still be there.
        fake << "#!/bin/sh\nprintf '%s\\n' $$ \"$#\" \"$@\" > \"$0.tmp\" && mv \"$0.tmp\" \"$0.args\"\nsleep 2\n";
    }
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    const std::string path = std::getenv("PATH");
    setenv("PATH", (bin.string() + ":" + path).c_str(), 1);
    remote::Options options;
    options.server = world->connection("anna").url;
    options.token = world->tokens.at("anna");
    options.journals = world->scratch / "default-opener-journals";
    const auto service = remote::open_service(options);
    const auto text = [](const std::string& ascii) { return VyrCldapi::String(std::u16string(ascii.begin(), ascii.end())); };
    service->SetProjectAndPartition(text(world->projectId), u"", text(world->spaceId),
                                    text((world->scratch / "default-opener-folder").string()), u"", u"");
    service->FindFileInWebApp(u"default.txt");
    setenv("PATH", path.c_str(), 1);
    std::vector<std::string> lines;
    for (int i = 0; i < 100 && lines.empty(); ++i) {
        if (std::ifstream args(bin / "xdg-open.args"); args) {
            for (std::string line; std::getline(args, line);) {
                lines.push_back(line);
            }
        } else {
            std::this_thread::sleep_for(50ms);
        }
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], "1");
    EXPECT_EQ(lines[2].rfind(world->connection("anna").url + "/files/", 0), 0u) << lines[2];
    errno = 0;
    EXPECT_EQ(waitpid(std::stoi(lines[0]), nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

} // namespace
} // namespace vyr::cld::test
