// The team server's request path without a socket: raw bytes through Beast's parser with the
// server's limits, the server's routing, and the API's handlers or the pages on a SQLite store.
// Property: no input makes a handler or a page raise (the server would answer 500 at best), and
// every answer has a status of HTTP's range.
#include "../../server/src/dispatch.h"
#include "../../server/src/web/pages.h"

#include <vyr/cld/domain/accounts.h>
#include <vyr/cld/domain/blobs.h>
#include <vyr/cld/domain/records.h>
#include <vyr/cld/domain/sha256.h>

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <unistd.h>

using namespace vyr::cld;
namespace http = boost::beast::http;

namespace {

const std::string token = "fuzz-token-anna";
const std::string sessionId(64, 'a');
const domain::UserRow anna{"anna", "Anna", "anna@example.org"};

// The one user and her one browser session.
class FixedAccounts final : public domain::Accounts {
public:
    std::optional<domain::UserRow> authenticate(const std::string& given) override
    {
        return given == token ? std::optional{anna} : std::nullopt;
    }
    std::optional<std::pair<std::string, domain::WebSession>> start_session(const std::string& given, domain::Millis,
                                                                            domain::Millis) override
    {
        if (given != token) {
            return std::nullopt;
        }
        return std::pair{sessionId, domain::WebSession{anna, std::string(64, 'c')}};
    }
    std::optional<domain::WebSession> session(const std::string& id, domain::Millis) override
    {
        return id == sessionId ? std::optional{domain::WebSession{anna, std::string(64, 'c')}} : std::nullopt;
    }
    void end_session(const std::string&) override {}
};

// Whole copies and uploads in memory, each its owner's, by the interface's rules in brief.
class MemoryBlobs final : public domain::BlobStore {
public:
    using Key = std::pair<std::string, std::string>; // owner, hash

    std::optional<std::int64_t> size(const std::string& owner, const std::string& hash) override
    {
        const std::lock_guard lock(mutex_);
        const auto found = whole_.find({owner, hash});
        return found == whole_.end() ? std::nullopt : std::optional{static_cast<std::int64_t>(found->second.size())};
    }
    std::optional<std::int64_t> whole_size(const std::string& hash) override
    {
        const std::lock_guard lock(mutex_);
        const auto found = any_whole(hash);
        return found == whole_.end() ? std::nullopt : std::optional{static_cast<std::int64_t>(found->second.size())};
    }
    std::int64_t received(const std::string& owner, const std::string& hash) override
    {
        const std::lock_guard lock(mutex_);
        const auto found = uploads_.find({owner, hash});
        return found == uploads_.end() ? 0 : static_cast<std::int64_t>(found->second.size());
    }
    Stored put_chunk(const std::string& owner, const std::string& hash, std::int64_t offset,
                     std::string_view bytes) override
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = whole_.find({owner, hash}); found != whole_.end()) {
            return {true, static_cast<std::int64_t>(found->second.size())};
        }
        auto& upload = uploads_[{owner, hash}];
        if (!fits_chunk(offset, bytes) || offset > static_cast<std::int64_t>(upload.size())) {
            throw domain::ChunkOutOfPlace{};
        }
        upload.resize(static_cast<std::size_t>(offset));
        upload.append(bytes);
        return {false, static_cast<std::int64_t>(upload.size())};
    }
    bool finish(const std::string& owner, const std::string& hash, std::int64_t size) override
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = whole_.find({owner, hash}); found != whole_.end()) {
            return static_cast<std::int64_t>(found->second.size()) == size;
        }
        auto upload = std::move(uploads_[{owner, hash}]);
        uploads_.erase({owner, hash});
        domain::Sha256 digest;
        digest.add(upload.data(), upload.size());
        if (static_cast<std::int64_t>(upload.size()) != size || digest.hex() != hash) {
            return false;
        }
        whole_[{owner, hash}] = std::move(upload);
        return true;
    }
    std::int64_t drop_unfinished(std::int64_t) override { return 0; }
    std::string chunk(const std::string& hash, std::int64_t offset) override
    {
        const std::lock_guard lock(mutex_);
        const auto found = any_whole(hash);
        if (found == whole_.end() || offset < 0 || offset > static_cast<std::int64_t>(found->second.size())) {
            throw domain::ChunkOutOfPlace{};
        }
        return found->second.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(chunk_size));
    }
    void add(const std::string& owner, const std::string& hash, std::string bytes)
    {
        whole_[{owner, hash}] = std::move(bytes);
    }

private:
    // Copies of one hash are the same bytes: any whole one serves.
    std::map<Key, std::string>::const_iterator any_whole(const std::string& hash) const
    {
        return std::find_if(whole_.begin(), whole_.end(), [&](const auto& entry) { return entry.first.second == hash; });
    }

    std::mutex mutex_;
    std::map<Key, std::string> whole_, uploads_;
};

struct Fixture {
    server::Backend backend;
    server::Metrics metrics;
    server::Limits limits;

    Fixture()
    {
        const auto folder =
            std::filesystem::temp_directory_path() / ("vyr-cld-fuzz-request-" + std::to_string(getpid()));
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::shared_ptr<domain::MetadataStore> store = domain::open_sqlite_store({(folder / "store.db").string()});
        auto blobs = std::make_shared<MemoryBlobs>();
        const std::string content = "hello";
        domain::Sha256 digest;
        digest.add(content.data(), content.size());
        const auto hash = digest.hex();
        blobs->add(anna.id, hash, content);
        // Fixed ids, so that the seed corpus can name them: project p1 of the store's tenant
        // "local", partition s1, file f1 ("plan.dwg").
        store->write([&](domain::Records& records) {
            records.put_user(anna);
            records.add_project({"p1", "local", "Bridge", "P-1", ""}, 0);
            records.add_space({"s1", domain::SpaceRow::Kind::Partition, "p1", {}, "Main", 1});
            domain::FileRow file;
            file.id = "f1";
            file.spaceId = "s1";
            file.path = "plan.dwg";
            file.revision = 1;
            file.blob = hash;
            file.size = static_cast<std::int64_t>(content.size());
            std::int64_t seq = 0;
            records.put_revision(file, "plan.dwg", anna.id, 0, seq);
        });
        backend = {store, blobs, std::make_shared<FixedAccounts>(), [] { return domain::Millis{1765193000000}; }, {}, {}, {}};
    }
};

Fixture* fixture = nullptr;

// What the connection's read buffer holds at most (the server's cap): a parser that needs more
// than that to go on is refused there.
std::size_t read_cap(const server::Limits& limits)
{
    return limits.headerBytes + 64 * 1024;
}

void check(const server::Reply& reply)
{
    if (reply.status < 100 || reply.status > 599) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fixture = new Fixture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& limits = fixture->limits;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    boost::beast::error_code error;
    http::request_parser<http::empty_body> head;
    head.header_limit(static_cast<std::uint32_t>(limits.headerBytes));
    head.eager(false);
    const auto used = head.put(boost::asio::buffer(input.data(), input.size()), error);
    if (error || !head.is_header_done()) {
        return 0; // refused (400, 431) or waiting for more: the server answers without routing
    }
    input.remove_prefix(used);
    const auto declared = head.content_length();
    auto routed = server::route_request(head.get(), declared ? std::optional{*declared} : std::nullopt, false);
    if (const auto* unrouted = std::get_if<server::Unrouted>(&routed)) {
        check(unrouted->reply);
        return 0;
    }
    auto& found = std::get<server::Routed>(routed);
    http::request_parser<http::string_body> body(std::move(head));
    body.body_limit(found.bodyLimit);
    body.eager(true);
    while (!body.is_done()) {
        const auto taken = body.put(boost::asio::buffer(input.data(), input.size()), error);
        input.remove_prefix(taken);
        if (error == http::error::need_more && input.size() < read_cap(limits) && taken > 0) {
            error = {};
            continue;
        }
        if (error || taken == 0) {
            return 0; // refused (400, 413), or the rest of the body never comes
        }
    }
    found.request.body = std::move(body.get().body());
    try {
        check(found.request.page ? server::web::handle_page(fixture->backend, found.request)
                                 : server::handle(fixture->backend, fixture->metrics, limits, found.request));
    } catch (...) {
        std::abort(); // the server would have answered 500: a handler let a failure through
    }
    return 0;
}
