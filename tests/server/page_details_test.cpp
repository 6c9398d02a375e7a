// The web pages' details around their tasks: signing in and coming back to the page asked for,
// compressed answers, the site's icon, titles that name the project, renames in a file's page.
#include "world.h"

#include <vyr/cld/protocol/protocol.h>

#include <zlib.h>

namespace vyr::cld::test {
namespace {

std::string body_after_head(const std::string& response)
{
    return response.substr(response.find("\r\n\r\n") + 4);
}

std::string gunzipped(const std::string& bytes)
{
    z_stream stream{};
    EXPECT_EQ(inflateInit2(&stream, 15 + 16), Z_OK);
    std::string out(1 << 20, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    inflateEnd(&stream);
    return out;
}

// The sign-in form as a browser sees it at `target`, posted with `token`: the post's response.
std::string sign_in_through(const std::string& target, const std::string& token, const std::string& next)
{
    const auto form = browser_request("GET", target, "");
    const auto secret = cookie_value(form, "vyr_signin");
    return browser_request("POST", "/signin", "vyr_signin=" + secret,
                           "csrf=" + secret + "&token=" + token + "&next=" + protocol::percent_encoded(next));
}

TEST(PageDetails, SignInLeadsBackToTheSitesOwnPageOnly)
{
    auto anna = world->domain("anna");
    const auto stored = anna->commit(world->content("deep.dwg", "deep"));
    ASSERT_EQ(stored.code, 201);
    const auto page = "/files/" + stored.value.id;

    // The address FindFileInWebApp opens, without a session: to sign-in, carrying the page.
    const auto asked = browser_request("GET", page, "");
    EXPECT_EQ(status_of(asked), 303);
    const auto signin = header_value(asked, "Location");
    EXPECT_EQ(signin, "/signin?next=" + protocol::percent_encoded(page));
    EXPECT_NE(body_after_head(browser_request("GET", signin, "")).find("name=\"next\" value=\"" + page + "\""),
              std::string::npos);
    // A form's post or a script's poll is not a page to come back to.
    EXPECT_EQ(header_value(browser_request("POST", page + "/unlock", ""), "Location"), "/signin");

    const struct {
        std::string next, lands;
    } cases[] = {
        {page, page},
        {"/projects?q=north+bridge", "/projects?q=north+bridge"},
        {"/projects/" + world->projectId + "/updates", "/projects/" + world->projectId + "/updates"},
        {"", "/projects"},
        {"//evil.example/", "/projects"},
        {"/\\evil.example/", "/projects"},
        {"/\\\\evil.example/", "/projects"},
        {"https://evil.example/", "/projects"},
        {"http:/evil.example", "/projects"},
        {"javascript:alert(1)", "/projects"},
        {"evil.example", "/projects"},
        {"/%2F%2Fevil.example", "/projects"}, // no such page here
        {"/\t/evil.example", "/projects"},
        {"/files/x\r\nSet-Cookie: a=b", "/projects"},
        {"/files/x\nLocation: //evil", "/projects"},
        {"/ /evil.example", "/projects"},
        {"/signin", "/projects"},
        {"/signout", "/projects"},
        {"/static/app.js", "/projects"},
        {"/projects/" + world->projectId + "/updates.json", "/projects"},
        {"/nowhere", "/projects"},
        {"/projects\xC2\xA0", "/projects"},
        {"/" + std::string(3000, 'a'), "/projects"},
    };
    for (const auto& c : cases) {
        const auto posted = sign_in_through("/signin", world->tokens.at("anna"), c.next);
        EXPECT_EQ(status_of(posted), 303) << c.next;
        EXPECT_EQ(header_value(posted, "Location"), c.lands) << c.next;
        // A signed-in browser sent to sign-in again goes straight on, by the same rule.
        const auto again = browser_request("GET", "/signin?next=" + protocol::percent_encoded(c.next),
                                           "vyr_session=" + cookie_value(posted, "vyr_session"));
        EXPECT_EQ(header_value(again, "Location"), c.lands) << c.next;
    }
    // A refused token keeps the way back for the next try.
    const auto refused = sign_in_through("/signin", std::string(64, '0'), page);
    EXPECT_EQ(status_of(refused), 401);
    EXPECT_NE(refused.find("name=\"next\" value=\"" + page + "\""), std::string::npos);
}

TEST(PageDetails, AStaleSignInFormIsAnsweredWithAFreshOne)
{
    // A reload of a refused sign-in posts the first form again, whose secret the refusal replaced.
    const auto first = cookie_value(browser_request("GET", "/signin", ""), "vyr_signin");
    const auto second = cookie_value(browser_request("GET", "/signin", ""), "vyr_signin");
    const auto stale = browser_request("POST", "/signin", "vyr_signin=" + second,
                                       "csrf=" + first + "&token=" + world->tokens.at("bob"));
    EXPECT_EQ(status_of(stale), 403);
    EXPECT_TRUE(cookie_value(stale, "vyr_session").empty());
    const auto fresh = cookie_value(stale, "vyr_signin");
    ASSERT_EQ(fresh.size(), 64u);
    EXPECT_NE(stale.find("name=\"csrf\" value=\"" + fresh + "\""), std::string::npos);
    EXPECT_NE(stale.find("id=\"token\""), std::string::npos);
    const auto posted = browser_request("POST", "/signin", "vyr_signin=" + fresh,
                                        "csrf=" + fresh + "&token=" + world->tokens.at("bob"));
    EXPECT_EQ(status_of(posted), 303);
    EXPECT_FALSE(cookie_value(posted, "vyr_session").empty());
}

TEST(PageDetails, LargeAnswersTravelGzippedToClientsThatTakeIt)
{
    const auto plain = body_after_head(world->request("GET /static/app.js HTTP/1.1\r\nHost: t\r\n"));
    ASSERT_GT(plain.size(), 1024u);
    const struct {
        const char* acceptEncoding;
        bool gzip;
    } cases[] = {
        {"gzip", true},
        {"GZIP", true},
        {"deflate, gzip;q=0.5", true},
        {"br, *", true},
        {"gzip;q=0", false},
        {"*, gzip;q=0", false},
        {"gzip; q=0.000", false},
        {"br", false},
        {"identity", false},
        {"", false},
        {"x-gzip", true},
        {"*;q=0", false},
    };
    for (const auto& c : cases) {
        const auto response = world->request(
            std::string("GET /static/app.js HTTP/1.1\r\nHost: t\r\nAccept-Encoding: ") + c.acceptEncoding + "\r\n");
        EXPECT_EQ(status_of(response), 200) << c.acceptEncoding;
        EXPECT_EQ(header_value(response, "Vary"), "Accept-Encoding") << c.acceptEncoding;
        EXPECT_EQ(header_value(response, "Content-Encoding"), c.gzip ? "gzip" : "") << c.acceptEncoding;
        const auto body = body_after_head(response);
        EXPECT_EQ(c.gzip ? gunzipped(body) : body, plain) << c.acceptEncoding;
    }
    // A small answer stays as it is; a download is never touched.
    const auto icon = world->request("GET /favicon.ico HTTP/1.1\r\nHost: t\r\nAccept-Encoding: gzip\r\n");
    EXPECT_EQ(status_of(icon), 200);
    EXPECT_EQ(header_value(icon, "Content-Type"), "image/svg+xml");
    EXPECT_EQ(header_value(icon, "Content-Encoding"), "");
    EXPECT_EQ(body_after_head(icon).rfind("<svg ", 0), 0u);
    EXPECT_EQ(body_after_head(icon), body_after_head(world->request("GET /static/icon.svg HTTP/1.1\r\nHost: t\r\n")));
}

TEST(PageDetails, TitlesNameTheProjectAndARenameIsShownAndDownloadedUnderItsOldName)
{
    auto anna = world->domain("anna");
    const auto stored = anna->commit(world->content("plans/first.dwg", "one"));
    ASSERT_EQ(stored.code, 201);
    ASSERT_EQ(anna->rename(world->spaceId, "plans/first.dwg", "plans/second.dwg").code, 200);
    const auto browser = sign_in(world->tokens.at("bob"));
    const auto get = [&](const std::string& target) {
        return body_after_head(browser_request("GET", target, browser.cookie));
    };

    EXPECT_NE(get("/spaces/" + world->spaceId).find("<title>Main - Bridge - vyr-cld</title>"), std::string::npos);
    EXPECT_NE(
        get("/projects/" + world->projectId + "/updates").find("<title>Viewer updates - Bridge - vyr-cld</title>"),
        std::string::npos);
    EXPECT_NE(get("/projects").find("rel=\"icon\" href=\"/static/icon.svg\""), std::string::npos);

    const auto page = get("/files/" + stored.value.id);
    EXPECT_NE(page.find("Renamed from <span class=\"path\"><bdi>plans/first.dwg</bdi></span> to <span class=\"path\">"
                        "<bdi>plans/second.dwg</bdi></span> in revision 2 by "),
              std::string::npos)
        << page;
    EXPECT_NE(page.find(">Download as <span class=\"old-name\"><bdi>first.dwg</bdi></span></a>"), std::string::npos)
        << page;
    const auto old = browser_request("GET", "/files/" + stored.value.id + "/revisions/1/content", browser.cookie);
    EXPECT_NE(header_value(old, "Content-Disposition").find("filename=\"first.dwg\""), std::string::npos);
}

} // namespace
} // namespace vyr::cld::test
