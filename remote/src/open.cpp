// The remote service: the client on this machine, its domain and contents on a team server.
#include "service.h"
#include "disk.h"

#include <vyr/cld/remote/remote.h>
#include <vyr/cld/remote/service.h>

#include "desktop.h"

#include <vyr/cld/domain/blobs.h>
#include <vyr/cld/domain/sha256.h>
#include <vyr/cld/protocol/protocol.h>

#include <fstream>

namespace vyr::cld::remote {
namespace {

using VyrCldapi::ExceptionKind;
using local::fail;

// File contents on the server, sent and fetched in chunks; the client half writes them into the
// working folder as it writes a local store's. A content of one chunk at most is held instead, and
// goes with the commit that names it.
class ServerContents final : public local::Contents {
public:
    ServerContents(const Connection& connection, std::shared_ptr<SmallContents> held)
        : blobs_(connection), held_(std::move(held))
    {
    }

    local::Blob put(const std::filesystem::path& source, const local::Blob& known,
                    const local::Progress& progress) override
    {
        if (known.size <= domain::BlobStore::chunk_size) {
            // When the holder is full, the file is uploaded on its own below.
            if (auto small = read_small(source); small && held_->hold(small->first.hash, std::move(small->second))) {
                if (progress) {
                    progress(1.0);
                }
                return small->first;
            }
        }
        auto blob = known;
        // The file may change between its hashing and its sending; the server then refuses the
        // bytes, and the client hashes the file again.
        for (int attempt = 0; attempt < 3; ++attempt) {
            const int code = blobs_.upload(source, blob.hash, blob.size, progress);
            if (code == domain::ok || code == domain::created) {
                return blob;
            }
            if (code != domain::bad_request) {
                throw domain::Refusal{code};
            }
            blob = local::hash_file(source);
        }
        throw domain::Refusal{domain::conflict};
    }

    std::int64_t copy_out(const local::Blob& expected, const std::filesystem::path& target,
                          const local::Progress& progress) override
    {
        return local::write_verified(expected, target, [&](const local::Sink& sink) {
            if (const auto bytes = held_->find(expected.hash)) {
                sink(bytes->data(), bytes->size());
                return;
            }
            const int code = blobs_.read(expected.hash, expected.size, sink, progress);
            if (code == domain::not_found) {
                throw local::DamagedContent{};
            }
            if (code != domain::ok) {
                throw domain::Refusal{code};
            }
        });
    }

private:
    // The whole file and what its bytes are, read once; nothing when it grew past one chunk.
    static std::optional<std::pair<local::Blob, std::string>> read_small(const std::filesystem::path& source)
    {
        // Read as one consistent copy (local::disk::File), as the hash of a larger file is taken.
        auto in = local::disk::File::reading(source);
        std::string bytes(static_cast<std::size_t>(domain::BlobStore::chunk_size) + 1, '\0');
        std::size_t got = 0;
        while (got < bytes.size()) {
            const auto more = in.read(bytes.data() + got, bytes.size() - got);
            if (more == 0) {
                break;
            }
            got += more;
        }
        bytes.resize(got);
        if (static_cast<std::int64_t>(bytes.size()) > domain::BlobStore::chunk_size) {
            return std::nullopt;
        }
        domain::Sha256 hash;
        hash.add(bytes);
        local::Blob blob{hash.hex(), static_cast<std::int64_t>(bytes.size())};
        return std::pair{std::move(blob), std::move(bytes)};
    }

    BlobClient blobs_;
    std::shared_ptr<SmallContents> held_;
};

std::string token_of(const Options& options)
{
    if (!options.token.empty()) {
        return options.token;
    }
    if (options.tokenFile.empty()) {
        fail(ExceptionKind::Argument, "No token was given.");
    }
    std::ifstream in(options.tokenFile);
    std::string token;
    if (!in || !std::getline(in, token) || token.empty()) {
        fail(ExceptionKind::Argument, "The token file cannot be read or is empty.");
    }
    if (token.back() == '\r') {
        token.pop_back();
    }
    return token;
}

std::filesystem::path journals_of(const Options& options)
{
    if (!options.journals.empty()) {
        return options.journals;
    }
    if (const auto state = desktop::state_home()) {
        return *state / "vyr-cld" / "journals";
    }
    fail(ExceptionKind::Argument, "There is no folder for the journals: set one, XDG_STATE_HOME or HOME "
                                  "(LOCALAPPDATA on Windows).");
}

Connection connection_of(const Options& options)
{
    if (options.server.empty()) {
        fail(ExceptionKind::Argument, "No server was given.");
    }
    Connection connection;
    connection.url = options.server;
    connection.token = token_of(options);
    connection.caFile = options.caFile;
    connection.connectTimeout = options.connectTimeout;
    connection.requestTimeout = options.requestTimeout;
    return connection;
}

// A domain of the token's user. The server is asked who that is now: an opening that cannot tell
// who is calling fails, rather than working as nobody, and says which of the causes kept it.
std::unique_ptr<domain::Domain> domain_of(const Connection& connection,
                                          std::shared_ptr<SmallContents> held = nullptr)
{
    using Cause = OpenFailure::Cause;
    try {
        return signed_in_domain(connection, std::move(held));
    } catch (const domain::NotServed& failure) {
        const auto cause = failure.code() == domain::token_refused ? Cause::token_refused
                           : failure.reached()                     ? Cause::unavailable
                                                                   : Cause::unreachable;
        throw OpenFailure(cause, failure.what(), failure.detail());
    } catch (const VyrCldapi::Exception& failure) {
        throw OpenFailure(Cause::refused, failure.what(), {});
    }
}

// The server's address with a page's path, however the address ended.
std::string page_url(std::string server, const std::string& path)
{
    while (!server.empty() && server.back() == '/') {
        server.pop_back();
    }
    return server + path;
}

} // namespace

local::Identity identify(const Options& options)
{
    const auto user = domain_of(connection_of(options))->user();
    return {user.id, user.displayName, user.principalName};
}

std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const Options& options)
{
    const auto connection = connection_of(options);
    local::Backend backend;
    auto held = std::make_shared<SmallContents>();
    backend.domain = domain_of(connection, held);
    backend.contents = std::make_unique<ServerContents>(connection, held);
    local::ClientSettings settings;
    // A team server has no tenant of that name: a session starts in the user's first one.
    if (const auto tenants = backend.domain->tenants(); !tenants.empty()) {
        settings.tenant = tenants.front().uniqueId;
    }
    auto opener = options.opener ? options.opener : desktop::open_in_browser;
    settings.showFile = [opener, server = connection.url](const std::string& fileId) {
        opener(page_url(server, "/files/" + protocol::percent_encoded(fileId)));
    };
    settings.syncInterval = options.syncInterval;
    settings.dialogs = options.dialogs;
    settings.journals = journals_of(options);
    return std::make_shared<local::Client>(std::move(settings), std::move(backend));
}

} // namespace vyr::cld::remote
