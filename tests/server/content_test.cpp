// Whose file contents the blob routes give and take: an upload is its uploader's, and a blob is
// read only by its uploader or by a user who may read a revision naming it.
#include "world.h"

#include <vyr/cld/domain/sha256.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <regex>

namespace vyr::cld::test {
namespace {

constexpr std::int64_t chunk = 1 << 20;

// What a client learns from an answer of a blob route.
struct Seen {
    int status = 0;
    std::string uploadOffset, blobSize, body;
    bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& seen, std::ostream* out)
{
    *out << seen.status << " Upload-Offset: " << seen.uploadOffset << " Blob-Size: " << seen.blobSize << " "
         << seen.body.substr(0, 200);
}

std::string header_in(const std::string& response, const std::string& name)
{
    const std::regex line("\r\n" + name + ": ([^\r]*)", std::regex::icase);
    std::smatch found;
    return std::regex_search(response, found, line) ? found[1].str() : std::string{};
}

Seen seen(const std::string& response)
{
    return {status_of(response), header_in(response, "Upload-Offset"), header_in(response, "Blob-Size"),
            response.substr(response.find("\r\n\r\n") + 4)};
}

Seen ask(const std::string& user, const std::string& method, const std::string& target, const std::string& body = {})
{
    return seen(world->authorized(method, target, user, body));
}

std::string hash_of(const std::string& bytes)
{
    domain::Sha256 hasher;
    hasher.add(bytes);
    return hasher.hex();
}

// A user of acme who holds no role anywhere.
const std::string& granted_nothing()
{
    static const std::string name = [] {
        admin({"user", "add", "noel", "--tenant", "acme", "--name", "noel"});
        const auto token = admin({"token", "create", "noel"});
        world->tokens["noel"] = token.substr(0, token.find('\n'));
        return std::string("noel");
    }();
    return name;
}

std::string own_directory(const std::string& user)
{
    auto domain = world->domain(user);
    const auto made = domain->create_user_directory(1);
    return made.code == 201 ? made.value.id : domain->user_directories().at(0).id;
}

// Another tenant's user and a user of the same tenant granted nothing, each knowing the hashes of
// anna's committed file and of her upload in progress: every answer they get is the answer for a
// hash nobody stores, and anna's upload finishes as if they had never asked.
TEST(Contents, AHashGivesNobodyAnotherUsersContentOrUpload)
{
    const std::string secret = "anna's plans, committed";
    const auto committed = world->content("contents/secret.txt", secret);
    ASSERT_EQ(world->domain("anna")->commit(committed).code, 201);
    std::string pending(chunk + 10, 'p');
    const auto [pendingPath, pendingHash] = world->file("contents/pending.bin", pending);
    ASSERT_EQ(ask("anna", "PUT", "/v1/blobs/" + pendingHash + "/chunks/0", pending.substr(0, chunk)).status, 200);

    struct Target {
        const char* what;
        std::string hash;
        std::int64_t size;
    };
    const Target targets[] = {{"committed", committed.blob, committed.size},
                              {"in progress", pendingHash, static_cast<std::int64_t>(pending.size())}};
    struct Step {
        const char* method;
        std::string suffix; // after /v1/blobs/{hash}
        std::string body;
        int status;
    };
    const std::vector<Step> steps{
        {"HEAD", "", "", 404},
        {"GET", "/chunks/0", "", 404},
        {"PUT", "/chunks/" + std::to_string(4 * chunk), "junk", 409}, // beyond the caller's upload's window
        {"PUT", "/chunks/0", "junk", 200},                       // into the caller's own upload
        {"HEAD", "", "", 404},                                   // which holds the junk
        {"PUT", "", "", 400},   // finish, at the target's true size: the caller's junk is dropped
        {"POST", "commit", "", 400}, // a revision naming the hash, in the caller's own directory
        {"GET", "/chunks/0", "", 404},
    };
    for (const auto& user : {std::string("carl"), granted_nothing()}) {
        const auto directory = own_directory(user);
        for (const auto& target : targets) {
            const auto unknown = hash_of(user + " asks for nothing like " + target.what);
            for (std::size_t i = 0; i < steps.size(); ++i) {
                const auto& step = steps[i];
                SCOPED_TRACE(user + ", " + target.what + ", step " + std::to_string(i));
                const auto on = [&](const std::string& hash) {
                    if (step.suffix == "commit") {
                        return ask(user, "POST", "/v1/spaces/" + directory + "/commits",
                                   R"({"name":"taken.txt","base":null,"blob":")" + hash +
                                       R"(","size":)" + std::to_string(target.size) +
                                       R"(,"unlockAfter":false,"checkOnly":false})");
                    }
                    const auto body = step.method == std::string("PUT") && step.suffix.empty()
                                          ? R"({"size":)" + std::to_string(target.size) + "}"
                                          : step.body;
                    return ask(user, step.method, "/v1/blobs/" + hash + step.suffix, body);
                };
                const auto answered = on(target.hash);
                EXPECT_EQ(answered.status, step.status);
                EXPECT_EQ(answered, on(unknown));
            }
        }
    }

    // Anna's upload stands where she left it and finishes with the one chunk missing.
    remote::BlobClient anna(world->connection("anna"));
    EXPECT_EQ(anna.held(pendingHash).received, chunk);
    const auto before = world->chunk_puts();
    EXPECT_EQ(anna.upload(pendingPath, pendingHash, static_cast<std::int64_t>(pending.size())), 201);
    EXPECT_EQ(world->chunk_puts() - before, 1);
    // A member reads the committed content without sending it; another tenant's user who has the
    // same bytes sends and keeps a copy of their own.
    EXPECT_EQ(ask("bob", "HEAD", "/v1/blobs/" + committed.blob).blobSize, std::to_string(secret.size()));
    EXPECT_EQ(ask("bob", "GET", "/v1/blobs/" + committed.blob + "/chunks/0").body, secret);
    const auto carls = world->content("contents/carls.txt", secret, "carl");
    EXPECT_EQ(ask("carl", "GET", "/v1/blobs/" + carls.blob + "/chunks/0").body, secret);
}

// An upload takes its chunks in any order within 4 of where it stands, on connections of their
// own: Upload-Offset stays the bytes without a gap from the start, a chunk ahead of a gap is kept
// (over a restart of the server too) and counted once the gap fills, one beyond the window is
// refused with where to go on from, and the blob is exact or refused at its finish.
TEST(Contents, AnUploadTakesChunksInAnyOrderWithinItsWindow)
{
    constexpr int all = 5; // the blob's pieces: four whole chunks and a tail
    struct Step {
        char what;   // 'P' a chunk, 'K' the server killed and the upload gone on with another, 'F' finish
        int index;   // of the chunk
        bool wrong;  // a byte of it differs from the blob's
        int status;
        int stands;  // whole chunks where the upload stands after it (all: the whole size)
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"in order", {{'P', 0, false, 200, 1}, {'P', 1, false, 200, 2}, {'P', 2, false, 200, 3},
                      {'P', 3, false, 200, 4}, {'P', 4, false, 200, all}, {'F', 0, false, 201, 0}}},
        {"out of order within the window", {{'P', 3, false, 200, 0}, {'P', 1, false, 200, 0},
                                            {'P', 2, false, 200, 0}, {'P', 0, false, 200, 4},
                                            {'P', 4, false, 200, all}, {'F', 0, false, 201, 0}}},
        {"beyond the window", {{'P', 4, false, 409, 0}, {'P', 0, false, 200, 1}, {'P', 4, false, 200, 1},
                               {'P', 2, false, 200, 1}, {'P', 3, false, 200, 1}, {'P', 1, false, 200, all},
                               {'F', 0, false, 201, 0}}},
        {"a chunk sent again", {{'P', 0, false, 200, 1}, {'P', 0, false, 200, 1}, {'P', 2, false, 200, 1},
                                {'P', 2, false, 200, 1}, {'P', 1, false, 200, 3}, {'P', 1, false, 200, 3},
                                {'P', 3, false, 200, 4}, {'P', 4, false, 200, all}, {'F', 0, false, 201, 0}}},
        {"a gap, then resumed after a kill", {{'P', 0, false, 200, 1}, {'P', 2, false, 200, 1},
                                              {'P', 3, false, 200, 1}, {'K', 0, false, 404, 1},
                                              {'P', 1, false, 200, 4}, {'P', 4, false, 200, all},
                                              {'F', 0, false, 201, 0}}},
        {"a damaged chunk", {{'P', 0, false, 200, 1}, {'P', 2, true, 200, 1}, {'P', 1, false, 200, 3},
                             {'P', 3, false, 200, 4}, {'P', 4, false, 200, all}, {'F', 0, false, 400, 0}}},
    };
    const auto& token = world->tokens.at("anna");
    char seed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes(4 * chunk + 500, 'u');
        bytes[0] = ++seed;
        const auto size = static_cast<std::int64_t>(bytes.size());
        const auto hash = hash_of(bytes);
        const auto killed = std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) { return s.what == 'K'; });
        auto doomed = killed ? std::make_unique<ServerProcess>() : nullptr;
        for (const auto& step : c.steps) {
            SCOPED_TRACE(std::string(1, step.what) + std::to_string(step.index));
            const auto stands = std::to_string(step.stands == all ? size : step.stands * chunk);
            std::string target = "/v1/blobs/" + hash, body;
            std::string method = "PUT";
            if (step.what == 'K') {
                doomed->child->kill();
                ASSERT_TRUE(doomed->child->wait(10s));
                doomed.reset();
                method = "HEAD";
            } else if (step.what == 'F') {
                body = R"({"size":)" + std::to_string(size) + "}";
            } else {
                target += "/chunks/" + std::to_string(step.index * chunk);
                body = bytes.substr(static_cast<std::size_t>(step.index * chunk), chunk);
                if (step.wrong) {
                    body[9] = '!';
                }
            }
            const auto answered = seen(world->request(method + " " + target + " HTTP/1.1\r\nHost: t\r\n"
                                                      "Authorization: Bearer " + token + "\r\n",
                                                      body, doomed ? doomed->port : 0));
            EXPECT_EQ(answered.status, step.status) << answered.body;
            if (step.what == 'K' || step.status == 409) {
                EXPECT_EQ(answered.uploadOffset, stands);
            } else if (step.what == 'P') {
                EXPECT_NE(answered.body.find(R"("received":)" + stands + ","), std::string::npos) << answered.body;
            }
        }
        remote::BlobClient blobs(world->connection("anna"));
        if (c.steps.back().status == 201) {
            std::string back;
            EXPECT_EQ(blobs.read(hash, size, [&](const char* data, std::size_t n) { back.append(data, n); }, nullptr),
                      200);
            EXPECT_TRUE(back == bytes);
        } else {
            EXPECT_EQ(blobs.held(hash).received, 0); // the bytes were dropped
        }
    }
}

// A model update lists files its project's members see: only files of the project's partitions.
TEST(Contents, AModelUpdateTakesOnlyItsProjectsFiles)
{
    auto anna = world->domain("anna");
    const auto other = anna->create_project("acme", "Tunnel", "");
    ASSERT_EQ(other.code, 201);
    const auto side = anna->create_partition(other.value.id, "Side", 1).value.id;
    auto elsewhere = world->content("side.txt", "another project's");
    elsewhere.spaceId = side;
    ASSERT_EQ(anna->commit(elsewhere).code, 201);
    auto own = world->content("own.txt", "anna's own");
    own.spaceId = own_directory("anna");
    ASSERT_EQ(anna->commit(own).code, 201);
    ASSERT_EQ(anna->commit(world->content("model/main.ifc", "the project's")).code, 201);

    const struct {
        const char* what;
        domain::SpaceFile file;
        int code;
    } cases[] = {
        {"another project's partition", {side, "side.txt"}, 404},
        {"the creator's own directory", {own.spaceId, "own.txt"}, 404},
        {"the project's partition", {world->spaceId, "model/main.ifc"}, 201},
    };
    for (const auto& c : cases) {
        const auto answer =
            anna->add_model_update({{}, world->projectId, 3, 25832, "wing", "L1", 0, 0, {}, 0}, {c.file});
        EXPECT_EQ(answer.code, c.code) << c.what;
    }
}

// An empty file uploads, commits and downloads; an empty chunk after the first is refused as such.
TEST(Contents, AnEmptyFileDownloadsAndAnEmptyLaterChunkIsRefused)
{
    auto anna = world->domain("anna");
    const auto empty = world->content("contents/empty.txt", "");
    ASSERT_EQ(anna->commit(empty).code, 201);
    const auto got = ask("bob", "GET", "/v1/blobs/" + empty.blob + "/chunks/0");
    EXPECT_EQ(got.status, 200);
    EXPECT_EQ(got.blobSize, "0");
    EXPECT_EQ(got.body, "");
    remote::BlobClient blobs(world->connection("bob"));
    const auto target = world->scratch / "empty.downloaded";
    EXPECT_EQ(blobs.download(empty.blob, 0, target), 200);
    std::error_code missing;
    EXPECT_EQ(fs::file_size(target, missing), 0u);
    EXPECT_FALSE(missing);

    const std::string bytes(chunk + 1, 'e');
    const auto hash = hash_of(bytes);
    ASSERT_EQ(ask("anna", "PUT", "/v1/blobs/" + hash + "/chunks/0", bytes.substr(0, chunk)).status, 200);
    EXPECT_EQ(ask("anna", "PUT", "/v1/blobs/" + hash + "/chunks/" + std::to_string(chunk), "").status, 400);
    EXPECT_EQ(ask("anna", "HEAD", "/v1/blobs/" + hash).uploadOffset, std::to_string(chunk));
}

// A small file sent with its commit answers as an upload and then the commit do, case by case,
// and a refused one leaves nothing stored in the database, where the upload of the two-step path stays.
TEST(Contents, AFileSentWithItsCommitAnswersAsAnUploadAndTheCommit)
{
    auto anna = world->domain("anna");
    auto bob = world->domain("bob");
    const auto held = std::make_shared<remote::SmallContents>();
    auto oneStep = remote::remote_domain(world->connection("anna"), held);
    remote::BlobClient blobs(world->connection("anna"));
    const auto& space = world->spaceId;
    // A file committed twice (revision 2) in a folder, as the state a case starts from.
    const auto stored = [&](const std::string& name, const std::string& bytes, int revisions = 1) {
        domain::Answer<domain::FileRow> out;
        for (int r = 0; r < revisions; ++r) {
            auto commit = world->content(name, bytes + std::to_string(r));
            if (r > 0) {
                commit.base = domain::Base{out.value.id, out.value.revision};
            }
            out = anna->commit(commit);
        }
        return out.value;
    };
    struct Case {
        const char* what;
        std::string name, bytes;
        // What the case needs in the folder; the commit's base.
        std::function<std::optional<domain::Base>(const std::string& folder)> before;
        int expected;
        std::string spaceId = {};
    };
    std::string everyByte(256, '\0');
    for (std::size_t i = 0; i < everyByte.size(); ++i) {
        everyByte[i] = static_cast<char>(i);
    }
    const Case cases[] = {
        {"a new file", "new.txt", "new content", [](const std::string&) { return std::nullopt; }, 201},
        {"every byte value", "bytes.bin", everyByte, [](const std::string&) { return std::nullopt; }, 201},
        {"the empty file", "empty.txt", "", [](const std::string&) { return std::nullopt; }, 201},
        {"a revision on its base", "next.txt", "next content",
         [&](const std::string& folder) {
             const auto file = stored(folder + "/next.txt", "first of " + folder);
             return domain::Base{file.id, file.revision};
         },
         200},
        {"a stale base", "stale.txt", "stale content",
         [&](const std::string& folder) {
             const auto file = stored(folder + "/stale.txt", "stale of " + folder, 2);
             return domain::Base{file.id, 1};
         },
         409},
        {"a file another holds", "held.txt", "held content",
         [&](const std::string& folder) {
             const auto file = stored(folder + "/held.txt", "held of " + folder);
             EXPECT_EQ(bob->lock(space, folder + "/held.txt").code, 200);
             return domain::Base{file.id, file.revision};
         },
         409},
        {"an unknown space", "lost.txt", "lost content", [](const std::string&) { return std::nullopt; }, 404,
         std::string(32, '0')},
    };
    for (const auto& c : cases) {
        std::map<std::string, int> answered;
        for (const std::string path : {"one", "two"}) {
            const auto folder = std::string("small-") + path + "-" + c.name;
            // Bytes of each path's own, so that what one stored tells nothing of the other.
            const auto bytes = c.bytes.empty() ? c.bytes : c.bytes + " by " + path;
            domain::Commit commit;
            commit.spaceId = c.spaceId.empty() ? space : c.spaceId;
            commit.name = folder + "/" + c.name;
            commit.base = c.before(folder);
            commit.blob = hash_of(bytes);
            commit.size = static_cast<std::int64_t>(bytes.size());
            if (path == "one") {
                ASSERT_TRUE(held->hold(commit.blob, bytes));
                answered[path] = oneStep->commit(commit).code;
                // Refused, it stored nothing where the content shares the metadata's database; the
                // content store on files keeps it at once, as an upload (see with_next_revision).
                // Done, the content reads back and was let go.
                const bool stands = answered[path] < 300 || bytes.empty() || std::getenv("VYR_CLD_CONTENT_DIR");
                EXPECT_EQ(blobs.held(commit.blob).code, stands ? 200 : 404) << c.what;
                EXPECT_EQ(held->find(commit.blob).has_value(), answered[path] >= 300) << c.what;
            } else {
                world->content(commit.name, bytes);
                answered[path] = anna->commit(commit).code;
            }
            if (answered[path] < 300) {
                const auto target = world->scratch / ("small-back-" + path);
                EXPECT_EQ(blobs.download(commit.blob, commit.size, target), 200) << c.what;
                const auto file = anna->file(space, commit.name);
                EXPECT_EQ(file.value.blob, commit.blob) << c.what;
            }
        }
        EXPECT_EQ(answered["one"], c.expected) << c.what;
        EXPECT_EQ(answered["two"], c.expected) << c.what;
    }
}

// What the request itself must hold: bytes that hash to the commit's blob and count its size, no
// check-only commit, a commit at all; a retry of its key answers as the first and stores once.
TEST(Contents, AFileSentWithItsCommitIsCheckedAndActsOnceForItsKey)
{
    const auto target = [](const domain::Commit& commit) {
        return protocol::path(protocol::Op::commit_content, {world->spaceId}) +
               protocol::query_string({{std::string(protocol::commit_parameter), nlohmann::json(commit).dump()}});
    };
    const auto commit_of = [](const std::string& name, const std::string& bytes) {
        domain::Commit out{world->spaceId, name, {}, hash_of(bytes), static_cast<std::int64_t>(bytes.size()), false,
                           false};
        return out;
    };
    auto checkOnly = commit_of("sent/check.txt", "check");
    checkOnly.checkOnly = true;
    auto longer = commit_of("sent/size.txt", "size");
    longer.size += 1;
    const struct {
        const char* what;
        std::string target, bytes;
        int expected;
    } refused[] = {
        {"bytes of another hash", target(commit_of("sent/hash.txt", "these")), "other bytes", 400},
        {"another size", target(longer), "size", 400},
        {"a check only", target(checkOnly), "check", 400},
        {"no commit", protocol::path(protocol::Op::commit_content, {world->spaceId}), "bytes", 400},
        {"a commit that is not JSON", protocol::path(protocol::Op::commit_content, {world->spaceId}) + "?commit=%7B",
         "bytes", 400},
    };
    auto anna = world->domain("anna");
    for (const auto& r : refused) {
        EXPECT_EQ(ask("anna", "POST", r.target, r.bytes).status, r.expected) << r.what;
    }
    EXPECT_EQ(anna->file(world->spaceId, "sent/hash.txt").code, 404);
    EXPECT_EQ(ask("anna", "HEAD", "/v1/blobs/" + hash_of("other bytes")).status, 404);

    const auto once = commit_of("sent/once.txt", "sent once");
    const auto keyed = [&] {
        return seen(world->request("POST " + target(once) + " HTTP/1.1\r\nHost: t\r\nAuthorization: Bearer " +
                                       world->tokens.at("anna") + "\r\nIdempotency-Key: small-once\r\n",
                                   "sent once"));
    };
    const auto first = keyed();
    EXPECT_EQ(first.status, 201);
    EXPECT_EQ(keyed(), first);
    const auto file = anna->file(world->spaceId, "sent/once.txt");
    EXPECT_EQ(file.value.revision, 1);
    EXPECT_EQ(ask("bob", "GET", "/v1/blobs/" + once.blob + "/chunks/0").body, "sent once");
}

} // namespace
} // namespace vyr::cld::test
