#pragma once

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/not_served.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The domain operations of a team service, reached over HTTP, and the transfer of file contents
// to and from it. A server that cannot be reached answers 503 (protocol::unavailable) as a
// response code, as does one whose database is down, and a refused token 401; an operation
// without a response code raises domain::NotServed for these, an InvalidOperation as an unusable
// local store raises.
namespace vyr::cld::remote {

struct Connection {
    std::string url;   // "https://host:port", no trailing slash needed
    std::string token; // the bearer token; never logged
    std::string caFile; // PEM bundle to verify the server with; empty: the system's
    std::chrono::milliseconds connectTimeout{5000};
    std::chrono::milliseconds requestTimeout{60000};
    // Attempts of an idempotent request that met a failure of the network or a 503, with a
    // doubling pause between them.
    int attempts = 4;
    std::chrono::milliseconds firstPause{100};
};

class Http;

// Contents small enough to travel with their commit (one chunk at most), held from when a file's
// bytes are put until a commit that names them stores both in one request. Bounded in count and
// bytes: a content that does not fit is not held, and is uploaded on its own. Thread-safe.
class SmallContents {
public:
    static constexpr std::size_t most_held = 64;
    static constexpr std::size_t most_bytes = std::size_t{16} << 20;

    // Holds `bytes` of blob `hash`; false when there is no room.
    bool hold(const std::string& hash, std::string bytes);
    std::optional<std::string> find(const std::string& hash) const;
    // Once a commit stored them.
    void release(const std::string& hash);

private:
    mutable std::mutex mutex_;
    std::vector<std::pair<std::string, std::string>> held_; // oldest first
    std::size_t bytes_ = 0;
};

// The domain operations of the token's user, as the server decides them. A commit that names
// content `held` holds is sent with it.
std::unique_ptr<domain::Domain> remote_domain(const Connection& connection,
                                              std::shared_ptr<SmallContents> held = nullptr);
// The same, once the server has told whom the token names; raises domain::NotServed when it cannot
// be reached (503, not reached), answers that it cannot serve (503) or does not take the token
// (401), and VyrCldapi::Exception when it refuses otherwise.
std::unique_ptr<domain::Domain> signed_in_domain(const Connection& connection,
                                                 std::shared_ptr<SmallContents> held = nullptr);

class BlobClient {
public:
    explicit BlobClient(const Connection& connection);
    ~BlobClient();

    // Stores a local file's content as blob `hash` of `size` bytes: asks first and sends nothing
    // the server holds, else sends the chunks from the last whole one the server has. 200 held
    // already, 201 stored; 400 the file does not hash to `hash`; 500 the file cannot be read;
    // 503 the server cannot be reached. `progress` hears the share of the bytes the server holds:
    // once for what it held already, then after each chunk it takes.
    int upload(const std::filesystem::path& file, const std::string& hash, std::int64_t size,
               const std::function<void(double)>& progress = {});
    // How many chunks of an upload go out at once: 1 to the server's window (its default), which
    // bounds it; 1 sends them one after the other.
    void set_upload_window(std::size_t chunks);
    // Writes blob `hash` to `target` through a temporary file beside it, renamed only after the
    // bytes were found to count `size` and hash to `hash`. 200; 404 not stored; 500 the bytes
    // differ or the file cannot be written; 503 unreachable.
    int download(const std::string& hash, std::int64_t size, const std::filesystem::path& target);
    // Hands blob `hash` of `size` bytes to `sink` in order, a chunk at a time, and the share done to
    // `progress`. 200 (every byte handed over); 404 not stored; 500 the server sent more or fewer
    // bytes; 503 unreachable. The caller checks the bytes against the hash.
    int read(const std::string& hash, std::int64_t size, const std::function<void(const char*, std::size_t)>& sink,
             const std::function<void(double)>& progress);
    // Whether the server holds the blob whole: its size, or how much of an upload it holds.
    struct Held {
        int code = 0;
        std::optional<std::int64_t> size;
        std::int64_t received = 0;
    };
    Held held(const std::string& hash);

private:
    std::shared_ptr<Http> http_;
    std::size_t uploadWindow_;
};

// SHA-256 of a file as 64 lower-case hex digits, read in pieces; nothing when it cannot be read.
std::optional<std::string> file_hash(const std::filesystem::path& file);

} // namespace vyr::cld::remote
