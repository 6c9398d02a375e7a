#include <vyr/cld/protocol/protocol.h>

#include <vyr/cld/domain/blobs.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <stdexcept>

namespace vyr::cld::protocol {
namespace {

constexpr std::size_t small = 64 * 1024;
constexpr std::size_t none = 0;
constexpr auto chunk = static_cast<std::size_t>(domain::BlobStore::chunk_size);

// Every route the server serves. Reads and replacements by name are idempotent; an operation that
// posts an event, creates or takes something is not, and a client sends it once.
constexpr std::array table{
    Route{Op::healthz, "GET", "/healthz", "healthz", none, false, true},
    Route{Op::metrics, "GET", "/metrics", "metrics", none, false, true},
    Route{Op::me, "GET", "/v1/me", "me", none, true, true},
    Route{Op::tenants, "GET", "/v1/tenants", "tenants", none, true, true},
    Route{Op::tenant, "GET", "/v1/tenants/{tenant}", "tenant", none, true, true},
    Route{Op::projects, "GET", "/v1/tenants/{tenant}/projects", "projects", none, true, true},
    Route{Op::create_project, "POST", "/v1/tenants/{tenant}/projects", "create_project", small, true, false},
    Route{Op::contracts, "GET", "/v1/tenants/{tenant}/contracts", "contracts", none, true, true},
    Route{Op::project, "GET", "/v1/projects/{project}", "project", none, true, true},
    Route{Op::partitions, "GET", "/v1/projects/{project}/partitions", "partitions", none, true, true},
    Route{Op::create_partition, "POST", "/v1/projects/{project}/partitions", "create_partition", small, true, false},
    Route{Op::partition, "GET", "/v1/projects/{project}/partitions/{partition}", "partition", none, true, true},
    Route{Op::partition_version, "PUT", "/v1/projects/{project}/partitions/{partition}/version",
          "partition_version", small, true, true},
    Route{Op::project_sizes, "GET", "/v1/projects/{project}/sizes", "project_sizes", none, true, true},
    Route{Op::has_include_folder, "GET", "/v1/projects/{project}/include-folders", "has_include_folder", none, true,
          true},
    Route{Op::add_include_folder, "PUT", "/v1/projects/{project}/include-folders", "add_include_folder", small, true,
          true},
    Route{Op::directories, "GET", "/v1/me/directories", "directories", none, true, true},
    Route{Op::create_directory, "POST", "/v1/me/directories", "create_directory", small, true, false},
    Route{Op::space, "GET", "/v1/spaces/{space}", "space", none, true, true},
    Route{Op::files, "GET", "/v1/spaces/{space}/files", "files", none, true, true},
    Route{Op::changes, "GET", "/v1/spaces/{space}/changes", "changes", none, true, true},
    Route{Op::folder, "GET", "/v1/spaces/{space}/folder", "folder", none, true, true},
    Route{Op::file, "GET", "/v1/spaces/{space}/file", "file", none, true, true},
    Route{Op::lock, "PUT", "/v1/spaces/{space}/lock", "lock", none, true, false},
    Route{Op::unlock, "DELETE", "/v1/spaces/{space}/lock", "unlock", none, true, false},
    Route{Op::unlock_all, "DELETE", "/v1/me/locks", "unlock_all", none, true, false},
    Route{Op::commit, "POST", "/v1/spaces/{space}/commits", "commit", small, true, false},
    Route{Op::commit_content, "POST", "/v1/spaces/{space}/content-commits", "commit_content", chunk, true, false},
    Route{Op::remove, "DELETE", "/v1/spaces/{space}/file", "remove", none, true, false},
    Route{Op::rename, "POST", "/v1/spaces/{space}/renames", "rename", small, true, false},
    Route{Op::tag, "POST", "/v1/projects/{project}/tags", "tag", small, true, false},
    Route{Op::add_model_update, "POST", "/v1/projects/{project}/model-updates", "add_model_update", small, true,
          false},
    Route{Op::model_update, "GET", "/v1/model-updates/{update}", "model_update", none, true, true},
    Route{Op::post_event, "POST", "/v1/me/events", "post_event", small, true, false},
    Route{Op::take_events, "POST", "/v1/me/events/take", "take_events", none, true, false},
    Route{Op::blob_head, "HEAD", "/v1/blobs/{hash}", "blob_head", none, true, true},
    Route{Op::blob_finish, "PUT", "/v1/blobs/{hash}", "blob_finish", small, true, true},
    Route{Op::blob_chunk_put, "PUT", "/v1/blobs/{hash}/chunks/{offset}", "blob_chunk_put", chunk, true, true},
    Route{Op::blob_chunk_get, "GET", "/v1/blobs/{hash}/chunks/{offset}", "blob_chunk_get", none, true, true},
};

std::vector<std::string_view> segments(std::string_view path)
{
    std::vector<std::string_view> out;
    std::size_t start = 1;
    while (start <= path.size()) {
        const auto end = std::min(path.find('/', start), path.size());
        out.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

int hex_value(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::span<const Route> routes()
{
    return table;
}

bool keyed(const Route& route)
{
    return !route.idempotent && route.authenticated && route.op != Op::take_events;
}

const Route& route(Op op)
{
    for (const auto& candidate : table) {
        if (candidate.op == op) {
            return candidate;
        }
    }
    throw std::logic_error("a route without an entry");
}

std::optional<Match> match(std::string_view method, std::string_view path)
{
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    bool pathKnown = false;
    for (const auto& candidate : table) {
        auto params = fit(candidate.pattern, path);
        if (!params) {
            continue;
        }
        if (candidate.method == method) {
            return Match{&candidate, std::move(*params), true};
        }
        pathKnown = true;
    }
    if (pathKnown) {
        return Match{nullptr, {}, false};
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> fit(std::string_view pattern, std::string_view path)
{
    if (path.empty() || path.front() != '/') {
        return std::nullopt;
    }
    const auto given = segments(path);
    const auto parts = segments(pattern);
    if (parts.size() != given.size()) {
        return std::nullopt;
    }
    std::vector<std::string> params;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (parts[i].starts_with('{')) {
            auto value = percent_decoded(given[i]);
            if (!value || value->empty()) {
                return std::nullopt;
            }
            params.push_back(std::move(*value));
        } else if (parts[i] != given[i]) {
            return std::nullopt;
        }
    }
    return params;
}

std::string path(Op op, std::initializer_list<std::string_view> params)
{
    std::string out;
    auto next = params.begin();
    for (const auto part : segments(route(op).pattern)) {
        out += '/';
        if (part.starts_with('{')) {
            if (next == params.end()) {
                throw std::logic_error("a route's parameter is missing");
            }
            out += percent_encoded(*next++);
        } else {
            out += part;
        }
    }
    return out;
}

std::string percent_encoded(std::string_view text)
{
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const auto c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            c == '-' || c == '_' || c == '~') {
            out += c;
        } else {
            // '.' too: a name part ".." must never read as a step up in a path.
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 15];
        }
    }
    return out;
}

std::optional<std::string> percent_decoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const auto high = hex_value(text[i + 1]);
        const auto low = hex_value(text[i + 2]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

std::optional<std::vector<std::pair<std::string, std::string>>> decoded_pairs(std::string_view text, Encoding encoding)
{
    std::vector<std::pair<std::string, std::string>> out;
    const auto decoded = [encoding](std::string_view part) {
        if (encoding == Encoding::query) {
            return percent_decoded(part);
        }
        // Before the escapes are decoded, so that an escaped plus ("%2B") stays one.
        std::string spaced(part);
        std::replace(spaced.begin(), spaced.end(), '+', ' ');
        return percent_decoded(spaced);
    };
    while (!text.empty()) {
        const auto end = std::min(text.find('&'), text.size());
        const auto pair = text.substr(0, end);
        const auto equals = std::min(pair.find('='), pair.size());
        auto key = decoded(pair.substr(0, equals));
        auto value = decoded(equals == pair.size() ? std::string_view{} : pair.substr(equals + 1));
        if (!key || !value) {
            return std::nullopt;
        }
        out.emplace_back(std::move(*key), std::move(*value));
        text = end == text.size() ? std::string_view{} : text.substr(end + 1);
    }
    return out;
}

std::optional<Target> parse_target(std::string_view target, Encoding encoding)
{
    Target out;
    const auto mark = target.find('?');
    out.path = std::string(target.substr(0, mark));
    if (mark == std::string_view::npos) {
        return out;
    }
    auto pairs = decoded_pairs(target.substr(mark + 1), encoding);
    if (!pairs) {
        return std::nullopt;
    }
    for (auto& [key, value] : *pairs) {
        out.query[std::move(key)] = std::move(value);
    }
    return out;
}

std::string query_string(const std::map<std::string, std::string>& query)
{
    std::string out;
    for (const auto& [key, value] : query) {
        out += out.empty() ? '?' : '&';
        out += percent_encoded(key) + '=' + percent_encoded(value);
    }
    return out;
}

nlohmann::json parse_json(std::string_view text, int maxDepth)
{
    // The callback sees the depth (0 for the outermost value) as the parser descends, so a deep
    // document is refused before it is built.
    const auto limit = [maxDepth](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
        if (depth >= maxDepth) {
            throw BadJson{"The JSON is nested deeper than " + std::to_string(maxDepth) + " levels."};
        }
        return true;
    };
    try {
        return nlohmann::json::parse(text.begin(), text.end(), limit);
    } catch (const nlohmann::json::exception& failure) {
        // The parser's message quotes the bytes it stopped at: only printable ASCII of them goes
        // back, so that the answer (and any log of it) holds no client bytes but plain text.
        std::string detail = std::string("Malformed JSON: ") + failure.what();
        for (auto& c : detail) {
            if (c < 0x20 || c > 0x7E) {
                c = '?';
            }
        }
        throw BadJson{std::move(detail)};
    }
}

std::string serialized(const nlohmann::json& value)
{
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool is_utf8(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t point = 0, lowest = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1Fu;
            lowest = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0Fu;
            lowest = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07u;
            lowest = 0x10000;
        } else {
            return false;
        }
        if (text.size() - i < length) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0u) != 0x80) {
                return false;
            }
            point = (point << 6) | (next & 0x3Fu);
        }
        if (point < lowest || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

std::string_view title(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 409: return "Conflict";
    case 411: return "Length Required";
    case 412: return "Precondition Failed";
    case 413: return "Content Too Large";
    case 415: return "Unsupported Media Type";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 504: return "Gateway Timeout";
    case 507: return "Insufficient Storage";
    default: return status < 300 ? "OK" : "Error";
    }
}

nlohmann::json problem(int status, std::string_view detail, const nlohmann::json& value)
{
    nlohmann::json out{{"type", "about:blank"}, {"title", title(status)}, {"status", status}, {"detail", detail}};
    if (!value.is_null()) {
        out["value"] = value;
    }
    return out;
}

bool is_blob_hash(std::string_view text)
{
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

std::optional<domain::FolderQuery> folder_query(const std::map<std::string, std::string>& query)
{
    domain::FolderQuery out;
    const auto at = [&](const char* key) -> std::optional<std::string_view> {
        const auto found = query.find(key);
        return found == query.end() ? std::nullopt : std::optional<std::string_view>(found->second);
    };
    const auto integer = [](std::string_view text, std::int64_t& into) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), into);
        return error == std::errc{} && end == text.data() + text.size() && into >= 0;
    };
    const auto flag = [](std::string_view text, bool& into) {
        into = text == "true";
        return text == "true" || text == "false" || text.empty();
    };
    std::int64_t limit = out.limit;
    if (const auto path = at("path")) {
        out.folder = *path;
    }
    if (const auto contains = at("contains")) {
        out.contains = *contains;
    }
    if (const auto sort = at("sort")) {
        static constexpr std::pair<std::string_view, domain::FolderSort> sorts[] = {
            {"name", domain::FolderSort::Name},
            {"size", domain::FolderSort::Size},
            {"changed", domain::FolderSort::Changed},
            {"revision", domain::FolderSort::Revision}};
        const auto found = std::find_if(std::begin(sorts), std::end(sorts), [&](const auto& s) { return s.first == *sort; });
        if (found == std::end(sorts)) {
            return std::nullopt;
        }
        out.sort = found->second;
    }
    if (const auto order = at("order"); order && *order != "asc" && *order != "desc") {
        return std::nullopt;
    } else {
        out.descending = order == "desc";
    }
    const auto locked = at("locked"), mine = at("mine"), since = at("changedSince"), offset = at("offset"),
               pageSize = at("limit");
    if ((locked && !flag(*locked, out.locked)) || (mine && !flag(*mine, out.lockedByMe)) ||
        (since && !integer(*since, out.changedSince)) || (offset && !integer(*offset, out.offset)) ||
        (pageSize && !integer(*pageSize, limit)) || limit > domain::max_folder_page) {
        return std::nullopt;
    }
    out.limit = static_cast<int>(limit);
    return out;
}

} // namespace vyr::cld::protocol

namespace vyr::cld::domain {
namespace {

template <class T> void optional_to(nlohmann::json& out, const char* key, const std::optional<T>& value)
{
    out[key] = value ? nlohmann::json(*value) : nlohmann::json(nullptr);
}
// Integer fields through protocol::integer: out of range or not an integer is refused, never wrapped.
template <class T> void integer_from(const nlohmann::json& in, const char* key, T& value)
{
    value = protocol::integer<T>(in.at(key));
}
template <class T> void optional_from(const nlohmann::json& in, const char* key, std::optional<T>& value)
{
    const auto found = in.find(key);
    if (found == in.end() || found->is_null()) {
        value.reset();
    } else {
        value = found->template get<T>();
    }
}

} // namespace

void to_json(nlohmann::json& out, const TenantRow& row)
{
    out = {{"id", row.id},
           {"uniqueId", row.uniqueId},
           {"displayName", row.displayName},
           {"providerId", row.providerId},
           {"organizationId", row.organizationId},
           {"enabled", row.enabled}};
}
void from_json(const nlohmann::json& in, TenantRow& row)
{
    in.at("id").get_to(row.id);
    in.at("uniqueId").get_to(row.uniqueId);
    in.at("displayName").get_to(row.displayName);
    in.at("providerId").get_to(row.providerId);
    in.at("organizationId").get_to(row.organizationId);
    in.at("enabled").get_to(row.enabled);
}

void to_json(nlohmann::json& out, const UserRow& row)
{
    out = {{"id", row.id}, {"displayName", row.displayName}, {"principalName", row.principalName}};
}
void from_json(const nlohmann::json& in, UserRow& row)
{
    in.at("id").get_to(row.id);
    in.at("displayName").get_to(row.displayName);
    in.at("principalName").get_to(row.principalName);
}

void to_json(nlohmann::json& out, const ProjectRow& row)
{
    out = {{"id", row.id}, {"tenantId", row.tenantId}, {"name", row.name}, {"number", row.number}, {"crs", row.crs}};
}
void from_json(const nlohmann::json& in, ProjectRow& row)
{
    in.at("id").get_to(row.id);
    in.at("tenantId").get_to(row.tenantId);
    in.at("name").get_to(row.name);
    in.at("number").get_to(row.number);
    in.at("crs").get_to(row.crs);
}

void to_json(nlohmann::json& out, const SpaceRow& row)
{
    out = {{"id", row.id},
           {"kind", row.kind == SpaceRow::Kind::Partition ? "partition" : "userDirectory"},
           {"projectId", row.projectId},
           {"ownerId", row.ownerId},
           {"name", row.name},
           {"versionMajor", row.versionMajor}};
}
void from_json(const nlohmann::json& in, SpaceRow& row)
{
    in.at("id").get_to(row.id);
    const auto kind = in.at("kind").get<std::string>();
    if (kind != "partition" && kind != "userDirectory") {
        throw std::invalid_argument("unknown space kind");
    }
    row.kind = kind == "partition" ? SpaceRow::Kind::Partition : SpaceRow::Kind::UserDirectory;
    in.at("projectId").get_to(row.projectId);
    in.at("ownerId").get_to(row.ownerId);
    in.at("name").get_to(row.name);
    integer_from(in, "versionMajor", row.versionMajor);
}

void to_json(nlohmann::json& out, const LockRow& row)
{
    out = {{"holder", row.holder}, {"since", row.since}};
}
void from_json(const nlohmann::json& in, LockRow& row)
{
    in.at("holder").get_to(row.holder);
    integer_from(in, "since", row.since);
}

void to_json(nlohmann::json& out, const FileRow& row)
{
    out = {{"id", row.id},     {"spaceId", row.spaceId}, {"path", row.path},       {"revision", row.revision},
           {"blob", row.blob}, {"size", row.size},       {"deleted", row.deleted}, {"seq", row.seq}};
    optional_to(out, "lock", row.lock);
}
void from_json(const nlohmann::json& in, FileRow& row)
{
    in.at("id").get_to(row.id);
    in.at("spaceId").get_to(row.spaceId);
    in.at("path").get_to(row.path);
    integer_from(in, "revision", row.revision);
    in.at("blob").get_to(row.blob);
    integer_from(in, "size", row.size);
    in.at("deleted").get_to(row.deleted);
    integer_from(in, "seq", row.seq);
    optional_from(in, "lock", row.lock);
}

void to_json(nlohmann::json& out, const FolderRow& row)
{
    out = {{"path", row.path}, {"files", row.files}, {"direct", row.direct}};
}
void to_json(nlohmann::json& out, const FolderPage& page)
{
    auto files = nlohmann::json::array();
    for (const auto& file : page.files) {
        nlohmann::json row = file;
        row["changed"] = iso_time(file.changed);
        files.push_back(std::move(row));
    }
    out = {{"space", page.space}, {"folder", page.folder}, {"total", page.total},
           {"folders", page.folders}, {"files", std::move(files)}};
}

void to_json(nlohmann::json& out, const EventRow& row)
{
    out = {{"type", row.type}, {"status", row.status}, {"responseId", row.responseId}};
}
void from_json(const nlohmann::json& in, EventRow& row)
{
    integer_from(in, "type", row.type);
    integer_from(in, "status", row.status);
    in.at("responseId").get_to(row.responseId);
}

void to_json(nlohmann::json& out, const ModelUpdateRow& row)
{
    out = {{"id", row.id},
           {"projectId", row.projectId},
           {"dimensions", row.dimensions},
           {"epsg", row.epsg},
           {"description", row.description},
           {"logicalId", row.logicalId},
           {"offsetX", row.offsetX},
           {"offsetY", row.offsetY},
           {"fileIds", row.fileIds},
           {"created", row.created}};
}
void from_json(const nlohmann::json& in, ModelUpdateRow& row)
{
    in.at("id").get_to(row.id);
    in.at("projectId").get_to(row.projectId);
    integer_from(in, "dimensions", row.dimensions);
    integer_from(in, "epsg", row.epsg);
    in.at("description").get_to(row.description);
    in.at("logicalId").get_to(row.logicalId);
    in.at("offsetX").get_to(row.offsetX);
    in.at("offsetY").get_to(row.offsetY);
    in.at("fileIds").get_to(row.fileIds);
    integer_from(in, "created", row.created);
}

void to_json(nlohmann::json& out, const ContractRow& row)
{
    out = {{"projectId", row.projectId}, {"id", row.id}, {"name", row.name}};
}
void from_json(const nlohmann::json& in, ContractRow& row)
{
    in.at("projectId").get_to(row.projectId);
    in.at("id").get_to(row.id);
    in.at("name").get_to(row.name);
}

void to_json(nlohmann::json& out, const Base& row)
{
    out = {{"fileId", row.fileId}, {"revision", row.revision}};
}
void from_json(const nlohmann::json& in, Base& row)
{
    in.at("fileId").get_to(row.fileId);
    integer_from(in, "revision", row.revision);
}

void to_json(nlohmann::json& out, const Commit& row)
{
    out = {{"name", row.name},
           {"blob", row.blob},
           {"size", row.size},
           {"unlockAfter", row.unlockAfter},
           {"checkOnly", row.checkOnly}};
    optional_to(out, "base", row.base);
}
// The space comes from the route, never from the body.
void from_json(const nlohmann::json& in, Commit& row)
{
    in.at("name").get_to(row.name);
    in.at("blob").get_to(row.blob);
    integer_from(in, "size", row.size);
    in.at("unlockAfter").get_to(row.unlockAfter);
    in.at("checkOnly").get_to(row.checkOnly);
    optional_from(in, "base", row.base);
}

void to_json(nlohmann::json& out, const SpaceFile& row)
{
    out = {{"spaceId", row.spaceId}, {"name", row.name}};
}
void from_json(const nlohmann::json& in, SpaceFile& row)
{
    in.at("spaceId").get_to(row.spaceId);
    in.at("name").get_to(row.name);
}

} // namespace vyr::cld::domain
