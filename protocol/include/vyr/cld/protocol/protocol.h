#pragma once

#include <vyr/cld/domain/domain.h>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// The wire between a team service's server and its clients, described once: the routes, the JSON
// of the store's rows and the shape of every answer. The server, the remote client and the route
// test against docs/openapi.yaml all read the same table.
namespace vyr::cld::protocol {

enum class Op {
    healthz, metrics,
    me, tenants, tenant, projects, create_project, contracts,
    project, partitions, create_partition, partition, partition_version, project_sizes,
    has_include_folder, add_include_folder,
    directories, create_directory,
    space, files, changes, folder, file, lock, unlock, unlock_all, commit, commit_content, remove, rename, tag,
    add_model_update, model_update,
    post_event, take_events,
    blob_head, blob_finish, blob_chunk_put, blob_chunk_get,
};

struct Route {
    Op op;
    std::string_view method;
    std::string_view pattern; // "{name}" stands for one path segment
    std::string_view name;
    std::size_t bodyLimit;    // bytes a request body may hold
    bool authenticated;
    bool idempotent;          // a client may send it again when it cannot tell whether it arrived
};

std::span<const Route> routes();
const Route& route(Op op);
// Whether a request of the route may carry an idempotency key: every one that acts and is not
// idempotent, except taking events, whose answer is what it handed over.
bool keyed(const Route& route);

struct Match {
    const Route* route = nullptr;
    std::vector<std::string> params; // the pattern's segments, percent-decoded
    bool methodAllowed = true;       // the path is known, but not with this method
};
// The route of a request target's path (no query); nothing when no pattern has that path.
std::optional<Match> match(std::string_view method, std::string_view path);
// The percent-decoded parameters of a path that fits a pattern ("{name}" is one non-empty
// segment); nothing when it does not fit.
std::optional<std::vector<std::string>> fit(std::string_view pattern, std::string_view path);
// The path of a route with its parameters percent-encoded into the pattern's segments.
std::string path(Op op, std::initializer_list<std::string_view> params = {});

std::string percent_encoded(std::string_view text);
// Nothing for a malformed escape.
std::optional<std::string> percent_decoded(std::string_view text);
// How a query's or form's text encodes a space: the API's queries as "%20" only (a '+' is a
// plus), an HTML form's fields, posted or in a GET query, also as '+'.
enum class Encoding { query, form };
// `key=value&...` pairs, decoded in their order; nothing when malformed.
std::optional<std::vector<std::pair<std::string, std::string>>> decoded_pairs(std::string_view text,
                                                                              Encoding encoding = Encoding::query);
// A target split into its path and its decoded query parameters; nothing when malformed.
struct Target {
    std::string path;
    std::map<std::string, std::string> query;
};
std::optional<Target> parse_target(std::string_view target, Encoding encoding = Encoding::query);
std::string query_string(const std::map<std::string, std::string>& query);

// Headers of the blob routes: the size of a whole blob, and how much of an unfinished upload the
// server holds.
inline constexpr std::string_view blob_size_header = "Blob-Size";
inline constexpr std::string_view upload_offset_header = "Upload-Offset";
inline constexpr std::string_view request_id_header = "X-Request-Id";
// A key the client chose for one call of a route that acts and is not idempotent, the same on
// every attempt: the server acts on the first and answers the others as it answered it.
inline constexpr std::string_view idempotency_key_header = "Idempotency-Key";
inline constexpr std::size_t idempotency_key_limit = 64;
// The query parameter of a commit sent with its content: the commit's JSON, as the commits route
// takes it in its body.
inline constexpr std::string_view commit_parameter = "commit";

// The service could not be reached or could not reach its database: no operation was decided.
inline constexpr int unavailable = 503;

// Deeper JSON than this is refused before it is built.
inline constexpr int max_json_depth = 32;

struct BadJson {
    std::string detail;
};
// Parses a request or answer body; raises BadJson when malformed or nested deeper than `maxDepth`.
nlohmann::json parse_json(std::string_view text, int maxDepth = max_json_depth);

// An integer field's value: anything but a JSON integer that fits T raises nlohmann's type_error
// or out_of_range (answered 400). nlohmann's own get<int>() truncates 1.5 and wraps 2^32 + 1 silently.
template <class T> T integer(const nlohmann::json& value)
{
    static_assert(std::is_integral_v<T> && std::is_signed_v<T>);
    if (value.is_number_unsigned()) {
        if (const auto n = value.get<std::uint64_t>(); n <= static_cast<std::uint64_t>(std::numeric_limits<T>::max())) {
            return static_cast<T>(n);
        }
    } else if (value.is_number_integer()) {
        if (const auto n = value.get<std::int64_t>();
            n >= std::numeric_limits<T>::min() && n <= std::numeric_limits<T>::max()) {
            return static_cast<T>(n);
        }
    } else if (!value.is_number()) {
        throw nlohmann::json::type_error::create(302, std::string("type must be number, but is ") + value.type_name(),
                                                 &value);
    }
    throw nlohmann::json::out_of_range::create(406, "number is not an integer in range", &value);
}

// JSON text of an answer. Never raises: text that is not UTF-8 (a client's bytes quoted back) is
// written with U+FFFD in its place, where nlohmann's dump() would throw.
std::string serialized(const nlohmann::json& value);

// Whether bytes are well-formed UTF-8 (no overlong form, surrogate or code point past U+10FFFF).
bool is_utf8(std::string_view text);

// A JSON problem body (application/problem+json): type, title, status, detail; an answer that
// carries a value as well (a lock held by another names the holder) keeps it under "value".
nlohmann::json problem(int status, std::string_view detail, const nlohmann::json& value = nullptr);
std::string_view title(int status);
inline constexpr std::string_view problem_type = "application/problem+json";
inline constexpr std::string_view json_type = "application/json";

bool is_blob_hash(std::string_view text);

// A folder page's query, from the parameters both the API and the web pages take: path, sort
// (name, size, changed, revision), order (asc, desc), contains, locked and mine ("true"),
// changedSince (milliseconds since 1970), offset and limit (100 when absent). Nothing when a
// value is not one of these; the domain judges the rest.
std::optional<domain::FolderQuery> folder_query(const std::map<std::string, std::string>& query);

} // namespace vyr::cld::protocol

// The rows as JSON, both ways; field names as the rows name them. A missing or mistyped field
// raises nlohmann::json's exceptions, which the server answers with 400.
namespace vyr::cld::domain {

void to_json(nlohmann::json& out, const TenantRow& row);
void from_json(const nlohmann::json& in, TenantRow& row);
void to_json(nlohmann::json& out, const UserRow& row);
void from_json(const nlohmann::json& in, UserRow& row);
void to_json(nlohmann::json& out, const ProjectRow& row);
void from_json(const nlohmann::json& in, ProjectRow& row);
void to_json(nlohmann::json& out, const SpaceRow& row);
void from_json(const nlohmann::json& in, SpaceRow& row);
void to_json(nlohmann::json& out, const LockRow& row);
void from_json(const nlohmann::json& in, LockRow& row);
void to_json(nlohmann::json& out, const FileRow& row);
void from_json(const nlohmann::json& in, FileRow& row);
void to_json(nlohmann::json& out, const EventRow& row);
void from_json(const nlohmann::json& in, EventRow& row);
void to_json(nlohmann::json& out, const ModelUpdateRow& row);
void from_json(const nlohmann::json& in, ModelUpdateRow& row);
void to_json(nlohmann::json& out, const ContractRow& row);
void from_json(const nlohmann::json& in, ContractRow& row);
void to_json(nlohmann::json& out, const Base& row);
void from_json(const nlohmann::json& in, Base& row);
void to_json(nlohmann::json& out, const Commit& row);
void from_json(const nlohmann::json& in, Commit& row);
void to_json(nlohmann::json& out, const SpaceFile& row);
void to_json(nlohmann::json& out, const FolderRow& row);
void to_json(nlohmann::json& out, const FolderPage& page);
void from_json(const nlohmann::json& in, SpaceFile& row);

} // namespace vyr::cld::domain
