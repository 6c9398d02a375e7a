// Whose file contents the blob routes give and take: an upload is its uploader's, and a blob is
// read only by its uploader or by a user who may read a revision naming it.
#include "world.h"

#include <vyr/cld/domain/sha256.h>

#include <gtest/gtest.h>

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
        {"PUT", "/chunks/" + std::to_string(chunk), "junk", 409}, // beyond the caller's own upload
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

} // namespace
} // namespace vyr::cld::test
