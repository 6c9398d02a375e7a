#include "http.h"

#include <vyr/cld/domain/blobs.h>
#include <vyr/cld/domain/sha256.h>
#include <vyr/cld/protocol/protocol.h>

#include <deque>
#include <fstream>
#include <future>
#include <memory>

namespace vyr::cld::remote {
namespace {

using domain::Sha256;
using protocol::Op;
using protocol::path;
constexpr auto chunk_size = domain::BlobStore::chunk_size;
// Chunks of a download asked for at once: enough to keep the server and the network busy
// together, few enough that a download holds at most this many MiB.
constexpr std::size_t download_window = 4;
constexpr auto upload_window = static_cast<std::size_t>(domain::BlobStore::upload_window);

std::optional<std::int64_t> header_number(const HttpResponse& response, std::string_view name)
{
    std::string key(name);
    std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::tolower(c); });
    const auto found = response.headers.find(key);
    if (found == response.headers.end()) {
        return std::nullopt;
    }
    try {
        return std::stoll(found->second);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int failure_code(const HttpResponse& response)
{
    return response.reached ? response.status : protocol::unavailable;
}

} // namespace

std::optional<std::string> file_hash(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    Sha256 hash;
    std::string piece(64 * 1024, '\0');
    while (in) {
        in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
        hash.add(std::string_view(piece.data(), static_cast<std::size_t>(in.gcount())));
    }
    if (in.bad()) {
        return std::nullopt;
    }
    return hash.hex();
}

BlobClient::BlobClient(const Connection& connection)
    : http_(std::make_shared<Http>(connection)), uploadWindow_(upload_window)
{
}
BlobClient::~BlobClient() = default;

void BlobClient::set_upload_window(std::size_t chunks)
{
    uploadWindow_ = std::clamp<std::size_t>(chunks, 1, upload_window);
}

BlobClient::Held BlobClient::held(const std::string& hash)
{
    const auto response = http_->send("HEAD", path(Op::blob_head, {hash}));
    Held out{failure_code(response), std::nullopt, 0};
    if (response.reached && response.status == 200) {
        out.size = header_number(response, protocol::blob_size_header);
    } else if (response.reached && response.status == 404) {
        out.received = header_number(response, protocol::upload_offset_header).value_or(0);
    }
    return out;
}

int BlobClient::upload(const std::filesystem::path& file, const std::string& hash, std::int64_t size,
                       const std::function<void(double)>& progress)
{
    if (!protocol::is_blob_hash(hash) || size < 0) {
        return domain::bad_request;
    }
    // Told only forward: a server that moves the offset back (a racing upload) sets no bar back.
    std::int64_t told = 0;
    const auto tell = [&](std::int64_t held) {
        if (progress && size > 0 && held > told) {
            told = std::min(held, size);
            progress(static_cast<double>(told) / static_cast<double>(size));
        }
    };
    auto state = held(hash);
    if (state.code == 200) {
        if (state.size != size) {
            return domain::bad_request;
        }
        tell(size);
        return domain::ok;
    }
    if (state.code != 404) {
        return state.code;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return domain::failed;
    }
    // Up to `uploadWindow_` chunks go out at once, each on a connection of its own, so that the
    // server stores one while the next travel; it keeps those that arrive ahead of a gap until the
    // gap fills. They are counted done in order, and at most that many chunks are held.
    const auto send = [this, &hash](std::int64_t at, std::string chunk) {
        return std::async(std::launch::async, [this, hash, at, chunk = std::move(chunk)] {
            return http_->send("PUT", path(Op::blob_chunk_put, {hash, std::to_string(at)}), chunk,
                               "application/octet-stream", true);
        });
    };
    std::deque<std::pair<std::int64_t, std::future<HttpResponse>>> inFlight; // each chunk's end
    auto next = state.received;
    tell(next);
    // A server that keeps moving its offset (another client racing on the same blob) is asked a
    // bounded number of times; the chunks still out are waited for, then it goes on from there.
    int realigned = 0;
    std::int64_t resume = -1; // where to go on from once the chunks still out are back
    int code = domain::ok;
    while (next < size || !inFlight.empty()) {
        while (code == domain::ok && resume < 0 && inFlight.size() < uploadWindow_ && next < size) {
            const auto length = std::min(chunk_size, size - next);
            std::string chunk(static_cast<std::size_t>(length), '\0');
            in.clear();
            in.seekg(next);
            in.read(chunk.data(), length);
            if (in.gcount() != length) {
                code = domain::failed;
                break;
            }
            inFlight.emplace_back(next + length, send(next, std::move(chunk)));
            next += length;
        }
        if (inFlight.empty()) {
            if (code != domain::ok) {
                return code;
            }
            if (resume >= 0) {
                next = resume;
                resume = -1;
            }
            continue;
        }
        const auto end = inFlight.front().first;
        const auto response = inFlight.front().second.get();
        inFlight.pop_front();
        if (code != domain::ok || resume >= 0) {
            continue; // leaving, or starting again from where the server stands
        }
        if (response.reached && response.status == 409 && ++realigned < 8) {
            resume = header_number(response, protocol::upload_offset_header).value_or(0);
            continue;
        }
        if (!response.reached || response.status != 200) {
            code = failure_code(response);
            continue;
        }
        tell(end);
    }
    if (code != domain::ok) {
        return code;
    }
    const auto body = nlohmann::json{{"size", size}}.dump();
    const auto finished = http_->send("PUT", path(Op::blob_finish, {hash}), body, protocol::json_type, true);
    if (!finished.reached) {
        return protocol::unavailable;
    }
    return finished.status == 200 || finished.status == 201 ? finished.status : failure_code(finished);
}

int BlobClient::download(const std::string& hash, std::int64_t size, const std::filesystem::path& target)
{
    if (!protocol::is_blob_hash(hash) || size < 0) {
        return domain::bad_request;
    }
    const auto temporary =
        target.parent_path() / (std::string(domain::temporary_prefix) + domain::new_id() + ".part");
    struct Remove {
        std::filesystem::path path;
        bool keep = false;
        ~Remove()
        {
            std::error_code ignored;
            if (!keep) {
                std::filesystem::remove(path, ignored);
            }
        }
    } cleanup{temporary};
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
        return domain::failed;
    }
    Sha256 sha;
    const int code = read(
        hash, size,
        [&](const char* data, std::size_t length) {
            sha.add(data, length);
            out.write(data, static_cast<std::streamsize>(length));
        },
        nullptr);
    if (code != domain::ok) {
        return code;
    }
    out.flush();
    out.close();
    if (!out || sha.hex() != hash) {
        return domain::failed;
    }
    std::error_code error;
    std::filesystem::rename(temporary, target, error);
    if (error) {
        return domain::failed;
    }
    cleanup.keep = true;
    return domain::ok;
}

int BlobClient::read(const std::string& hash, std::int64_t size,
                     const std::function<void(const char*, std::size_t)>& sink,
                     const std::function<void(double)>& progress)
{
    if (!protocol::is_blob_hash(hash) || size < 0) {
        return domain::bad_request;
    }
    // Up to `download_window` chunks are asked for at once, each on a connection of its own, so
    // that the server reads the next while this one travels; they reach the sink in order, and at
    // most that many chunks are held.
    const auto fetch = [this, &hash](std::int64_t offset) {
        return std::async(std::launch::async, [this, hash, offset] {
            return http_->send("GET", path(Op::blob_chunk_get, {hash, std::to_string(offset)}));
        });
    };
    std::deque<std::pair<std::int64_t, std::future<HttpResponse>>> inFlight;
    std::int64_t next = 0;
    const auto fill = [&] {
        // An empty blob is one request for its empty chunk.
        while (inFlight.size() < download_window && (next < size || (next == 0 && size == 0))) {
            inFlight.emplace_back(next, fetch(next));
            next += chunk_size;
        }
    };
    fill();
    while (!inFlight.empty()) {
        const auto offset = inFlight.front().first;
        const auto response = inFlight.front().second.get();
        inFlight.pop_front();
        // Leaving early waits for the requests still out (each bounded by the request timeout).
        if (!response.reached || response.status != 200) {
            return failure_code(response);
        }
        if (static_cast<std::int64_t>(response.body.size()) != std::min(chunk_size, size - offset)) {
            return domain::failed;
        }
        fill();
        sink(response.body.data(), response.body.size());
        const auto done = offset + static_cast<std::int64_t>(response.body.size());
        if (progress && size > 0) {
            progress(static_cast<double>(done) / static_cast<double>(size));
        }
    }
    return domain::ok;
}

} // namespace vyr::cld::remote
