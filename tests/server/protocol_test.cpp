// The wire's description: the route table against docs/openapi.yaml, matching, escaping, JSON.
#include <vyr/cld/protocol/protocol.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <set>

namespace vyr::cld::protocol {
namespace {

TEST(Protocol, EveryServedRouteIsDescribedAndNothingElse)
{
    std::ifstream in(VYR_CLD_OPENAPI);
    ASSERT_TRUE(in) << VYR_CLD_OPENAPI;
    const std::regex pathLine(R"(^  (/\S*):\s*$)");
    const std::regex methodLine(R"(^    (get|put|post|delete|head|patch):.*$)");
    std::set<std::string> described;
    std::string line, current;
    bool inPaths = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != ' ') {
            inPaths = line == "paths:";
            continue;
        }
        std::smatch found;
        if (inPaths && std::regex_match(line, found, pathLine)) {
            current = found[1];
        } else if (inPaths && std::regex_match(line, found, methodLine)) {
            auto method = found[1].str();
            for (auto& c : method) {
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            }
            described.insert(method + " " + current);
        }
    }
    std::set<std::string> served;
    for (const auto& route : routes()) {
        served.insert(std::string(route.method) + " " + std::string(route.pattern));
    }
    EXPECT_EQ(served, described);
}

TEST(Protocol, ATargetFindsItsRouteWithDecodedParameters)
{
    struct Case {
        const char* method;
        const char* path;
        std::optional<Op> op;
        std::vector<std::string> params;
        bool methodAllowed = true;
    } cases[] = {
        {"GET", "/v1/projects/p%201", Op::project, {"p 1"}},
        {"PUT", "/v1/projects/p/partitions/q/version", Op::partition_version, {"p", "q"}},
        {"DELETE", "/v1/spaces/s/lock", Op::unlock, {"s"}},
        {"HEAD", "/v1/blobs/abc", Op::blob_head, {"abc"}},
        {"PATCH", "/v1/me", std::nullopt, {}, false},
        {"GET", "/v1/projects/", std::nullopt, {}},     // an empty parameter is none
        {"GET", "/v1/projects/%zz", std::nullopt, {}},  // a malformed escape
        {"GET", "/v1/projects/a/b", std::nullopt, {}},
        {"GET", "v1/me", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        const auto found = match(c.method, c.path);
        if (!c.op) {
            EXPECT_TRUE(!found || (!found->route && !c.methodAllowed && !found->methodAllowed)) << c.path;
            EXPECT_EQ(found.has_value(), !c.methodAllowed) << c.path;
            continue;
        }
        ASSERT_TRUE(found && found->route) << c.path;
        EXPECT_EQ(found->route->op, *c.op) << c.path;
        EXPECT_EQ(found->params, c.params) << c.path;
    }
}

TEST(Protocol, NamesCrossTheWireUnchangedAndNeverAsPathSteps)
{
    for (const std::string name : {"../../etc/passwd", "a b/ü.dwg", "x\r\nSet-Cookie: y", "100%", "a+b&c=d?"}) {
        const auto encoded = percent_encoded(name);
        EXPECT_EQ(encoded.find_first_of("./\r\n &?=+"), std::string::npos) << encoded;
        EXPECT_EQ(percent_decoded(encoded), name);
        const auto target = parse_target(path(Op::file, {name}) + query_string({{"name", name}}));
        ASSERT_TRUE(target);
        EXPECT_EQ(target->query.at("name"), name);
        const auto found = match("GET", target->path);
        ASSERT_TRUE(found && found->route);
        EXPECT_EQ(found->params.at(0), name);
    }
    EXPECT_FALSE(percent_decoded("%4"));
    EXPECT_FALSE(parse_target("/v1/me?a=%G0"));
}

TEST(Protocol, OnlyAFormsEncodingReadsAPlusAsASpace)
{
    const struct {
        const char* text;
        Encoding encoding;
        const char* key;
        const char* value;
    } cases[] = {
        {"q=North+Bridge%2B1", Encoding::form, "q", "North Bridge+1"},
        {"q=North+Bridge%2B1", Encoding::query, "q", "North+Bridge+1"},
        {"a+b=%20", Encoding::form, "a b", " "},
        {"q=", Encoding::form, "q", ""},
    };
    for (const auto& c : cases) {
        const auto pairs = decoded_pairs(c.text, c.encoding);
        ASSERT_TRUE(pairs && pairs->size() == 1) << c.text;
        EXPECT_EQ(pairs->front().first, c.key) << c.text;
        EXPECT_EQ(pairs->front().second, c.value) << c.text;
    }
    EXPECT_FALSE(decoded_pairs("q=+%", Encoding::form));
}

TEST(Protocol, JsonDeeperThanTheLimitIsRefusedBeforeItIsBuilt)
{
    const auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_NO_THROW(parse_json(nested(std::size_t{max_json_depth})));
    EXPECT_THROW(parse_json(nested(std::size_t{max_json_depth} + 1)), BadJson);
    EXPECT_THROW(parse_json(nested(1000000)), BadJson);
    EXPECT_THROW(parse_json("{\"a\": "), BadJson);
    EXPECT_THROW(parse_json("{} trailing"), BadJson);
}

TEST(Protocol, RowsSurviveTheRoundTrip)
{
    domain::FileRow file{"f", "s", "a/b.dwg", 3, std::string(64, 'c'), 12, false, std::nullopt};
    const auto unlocked = nlohmann::json(file).get<domain::FileRow>();
    EXPECT_EQ(nlohmann::json(unlocked), nlohmann::json(file));
    EXPECT_FALSE(unlocked.lock);
    file.lock = domain::LockRow{{"u", "U", "u@x"}, 42};
    const auto locked = nlohmann::json(file).get<domain::FileRow>();
    ASSERT_TRUE(locked.lock);
    EXPECT_EQ(locked.lock->holder.principalName, "u@x");
    EXPECT_EQ(locked.lock->since, 42);

    domain::Commit commit{"ignored", "a.txt", domain::Base{"f", 2}, std::string(64, 'd'), 5, true, false};
    const auto back = nlohmann::json(commit).get<domain::Commit>();
    EXPECT_TRUE(back.spaceId.empty()); // the space comes from the route
    ASSERT_TRUE(back.base);
    EXPECT_EQ(back.base->revision, 2);
    EXPECT_TRUE(back.unlockAfter);

    const auto space = domain::SpaceRow{"s", domain::SpaceRow::Kind::UserDirectory, "", "o", "Anna 1", 1};
    EXPECT_EQ(nlohmann::json(nlohmann::json(space).get<domain::SpaceRow>()), nlohmann::json(space));
    EXPECT_THROW((nlohmann::json{{"id", "s"}, {"kind", "folder"}}.get<domain::SpaceRow>()), std::exception);
}

TEST(Protocol, IntegerFieldsTakeOnlyIntegersThatFit)
{
    using nlohmann::json;
    const struct {
        const char* text;
        std::optional<std::int64_t> asInt, asInt64; // nothing: refused
    } cases[] = {
        {"7", 7, 7},
        {"-2147483648", -2147483648LL, -2147483648LL},
        {"2147483647", 2147483647, 2147483647},
        {"2147483648", std::nullopt, 2147483648LL},
        {"4294967297", std::nullopt, 4294967297LL},
        {"-2147483649", std::nullopt, -2147483649LL},
        {"9223372036854775807", std::nullopt, 9223372036854775807LL},
        {"9223372036854775808", std::nullopt, std::nullopt},
        {"18446744073709551615", std::nullopt, std::nullopt},
        {"1.5", std::nullopt, std::nullopt},
        {"1.0", std::nullopt, std::nullopt},
        {"1e3", std::nullopt, std::nullopt},
        {"\"7\"", std::nullopt, std::nullopt},
        {"true", std::nullopt, std::nullopt},
        {"null", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto value = json::parse(c.text);
        if (c.asInt) {
            EXPECT_EQ(integer<int>(value), *c.asInt) << c.text;
        } else {
            EXPECT_THROW(integer<int>(value), json::exception) << c.text;
        }
        if (c.asInt64) {
            EXPECT_EQ(integer<std::int64_t>(value), *c.asInt64) << c.text;
        } else {
            EXPECT_THROW(integer<std::int64_t>(value), json::exception) << c.text;
        }
    }
    // The rows read their integer fields so.
    EXPECT_THROW((json{{"type", 4294967297LL}, {"status", 200}, {"responseId", ""}}.get<domain::EventRow>()),
                 json::exception);
    EXPECT_THROW((json{{"name", "a"}, {"blob", ""}, {"size", 1500.5}, {"unlockAfter", false}, {"checkOnly", true}}
                      .get<domain::Commit>()),
                 json::exception);
}

TEST(Protocol, AnswersQuotingBytesThatAreNotUtf8AreStillWritten)
{
    // The parser's message quotes the bytes it stopped at; the detail keeps none of them.
    try {
        parse_json("{\"a\":\"\xFF\xFE\"}");
        ADD_FAILURE();
    } catch (const BadJson& bad) {
        EXPECT_TRUE(std::all_of(bad.detail.begin(), bad.detail.end(), [](char c) { return c >= 0x20 && c < 0x7F; }))
            << bad.detail;
        EXPECT_NO_THROW(problem(400, bad.detail).dump());
    }
    EXPECT_EQ(serialized(problem(400, "a\xFF" "b")).find("\xFF"), std::string::npos);
    EXPECT_NE(serialized(problem(400, "a\xFF" "b")).find("a\xEF\xBF\xBD" "b"), std::string::npos);
}

TEST(Protocol, IsUtf8TellsWellFormedText)
{
    const struct {
        std::string text;
        bool utf8;
    } cases[] = {
        {"plain", true},          {"Pl\xC3\xA4n", true},         {"\xE2\x82\xAC", true},  {"\xF0\x9F\x98\x80", true},
        {"\xFF", false},          {"\xC3", false},                {"\xC0\xAF", false},      {"\xE0\x80\xAF", false},
        {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false}, {"\x80", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_utf8(c.text), c.utf8) << c.text;
    }
}

} // namespace
} // namespace vyr::cld::protocol
