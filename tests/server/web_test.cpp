// The web pages without a server: the page table against docs/api.md, and HTML that escapes
// whatever text it is given.
#include "../../server/src/web/html.h"
#include "../../server/src/web/pages.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>

namespace vyr::cld::server::web {
namespace {

TEST(Web, EveryPageServedIsInTheDocumentsPageTableAndNothingElse)
{
    std::ifstream in(VYR_CLD_API_DOC);
    ASSERT_TRUE(in) << VYR_CLD_API_DOC;
    const std::regex address("`(GET|POST) (/[^`?]*)(\\?[^`]*)?`");
    std::set<std::string> described;
    std::string line;
    bool inPages = false;
    while (std::getline(in, line)) {
        if (line.starts_with("## ")) {
            inPages = line == "## Web pages";
        } else if (inPages && line.starts_with("| `")) {
            const auto cell = line.substr(0, line.find(" | "));
            for (std::sregex_iterator found(cell.begin(), cell.end(), address), end; found != end; ++found) {
                described.insert((*found)[1].str() + " " + (*found)[2].str());
            }
        }
    }
    std::set<std::string> served;
    for (const auto& page : all_pages()) {
        served.insert(std::string(page.method) + " " + std::string(page.pattern));
    }
    EXPECT_EQ(served, described);
}

TEST(Web, APathFindsItsPageOrTellsTheMethodIsWrong)
{
    const struct {
        const char* method;
        const char* path;
        const char* pattern; // nullptr: no page; "": a page's path, another method
        std::vector<std::string> params;
    } cases[] = {
        {"GET", "/files/f1/revisions/2/content", "/files/{file}/revisions/{revision}/content", {"f1", "2"}},
        {"GET", "/projects/p%2F1/updates.json", "/projects/{project}/updates.json", {"p/1"}},
        {"POST", "/files/f1/unlock", "/files/{file}/unlock", {"f1"}},
        {"GET", "/files/f1/unlock", "", {}},
        {"DELETE", "/projects", "", {}},
        {"GET", "/files/", nullptr, {}},
        {"GET", "/v1/me", nullptr, {}},
        {"GET", "/static/other.js", nullptr, {}},
    };
    for (const auto& c : cases) {
        const auto found = find_page(c.method, c.path);
        ASSERT_EQ(found.has_value(), c.pattern != nullptr) << c.path;
        if (!found) {
            continue;
        }
        EXPECT_EQ(found->page ? found->page->pattern : "", c.pattern) << c.path;
        EXPECT_EQ(found->params, c.params) << c.path;
    }
}

TEST(Web, TextAndAttributeValuesNeverBecomeMarkup)
{
    const struct {
        std::string text, written;
    } cases[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"\"><img src=x onerror=alert(1)>", "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"},
        {"' onmouseover='x", "&#39; onmouseover=&#39;x"},
        {"a & b &amp;", "a &amp; b &amp;amp;"},
        {std::string("nul\0byte", 8), "nul\xEF\xBF\xBD" "byte"},
        {"Plan \xC3\xBC.dwg", "Plan \xC3\xBC.dwg"},
        // A bidirectional control would show "invoice\u202Efdp.exe" as "invoiceexe.pdf".
        {"invoice\u202Efdp.exe", "invoice\xEF\xBF\xBD" "fdp.exe"},
        {"a\u2066b\u2069c\u200Ed\u061C", "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xEF\xBF\xBD" "d\xEF\xBF\xBD"},
    };
    for (const auto& c : cases) {
        Html html;
        html.open("p", {{"title", c.text}}).text(c.text);
        const auto page = html.finish();
        EXPECT_NE(page.find("<p title=\"" + c.written + "\">" + c.written + "</p>"), std::string::npos) << page;
    }
    // A name given by a user stands apart: its direction reorders nothing around it.
    Html isolated;
    isolated.named("td", {{"class", "name"}}, "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D.dwg").text(" 12 bytes");
    const std::string shown = "<td class=\"name\"><bdi>\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D.dwg</bdi></td> 12 bytes";
    EXPECT_NE(isolated.finish().find(shown), std::string::npos);
    Html nested;
    nested.open("ul").open("li").element("a", {{"href", "/x"}}, "x").time(1765171212345);
    EXPECT_EQ(nested.finish(), "<!DOCTYPE html>\n<ul><li><a href=\"/x\">x</a><time datetime=\"2025-12-08T05:20:12Z\">"
                               "2025-12-08T05:20:12Z</time></li></ul>\n");
}

TEST(Web, SizesReadInThreeFiguresWithTheExactBytesOnHover)
{
    const struct {
        std::int64_t bytes;
        const char* shown;
    } cases[] = {
        {0, "0 bytes"},          {1, "1 byte"},           {1023, "1023 bytes"},     {1024, "1.00 KB"},
        {12390, "12.1 KB"},      {1048063, "1023 KB"},    {1048525, "1.00 MB"},     {3565158, "3.40 MB"},
        {1073741824, "1.00 GB"}, {INT64_MAX, "8.00 EB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(human_size(c.bytes), c.shown) << c.bytes;
    }
    Html html;
    EXPECT_NE(html.bytes(12390).finish().find("<span class=\"size\" title=\"12390 bytes\">12.1 KB</span>"),
              std::string::npos);
}

} // namespace
} // namespace vyr::cld::server::web
