#include "handlers.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/domain/sha256.h>

#include <algorithm>
#include <charconv>
#include <cctype>
#include <cmath>
#include <random>
#include <sstream>

namespace vyr::cld::server {
namespace {

using nlohmann::json;
using protocol::Op;

// The request cannot be answered as asked; ends the handler with this status.
struct Refused {
    int status;
    std::string detail;
};

Reply json_reply(int status, const json& body)
{
    return {status, std::string(protocol::json_type), protocol::serialized(body), {}, {}, {}};
}

// A domain answer: its value when it succeeded, else a problem that carries the value too (a lock
// held by another names its holder).
template <class T> Reply answer_reply(const domain::Answer<T>& answer)
{
    if (answer.code < 300) {
        return json_reply(answer.code, json(answer.value));
    }
    Reply reply = problem_reply(answer.code, "The operation was refused.");
    reply.body = protocol::serialized(protocol::problem(answer.code, "The operation was refused.", json(answer.value)));
    return reply;
}

Reply code_reply(int code)
{
    return code < 300 ? json_reply(code, json::object()) : problem_reply(code, "The operation was refused.");
}

// A long list as JSON a row at a time, the same text as the list's document would make: that
// document of a 10,000-file listing costs several times its text in small allocations.
template <class T> Reply rows_reply(std::vector<T> rows)
{
    std::string body = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i > 0) {
            body += ',';
        }
        body += protocol::serialized(json(rows[i]));
        rows[i] = T{};
    }
    body += ']';
    return {200, std::string(protocol::json_type), std::move(body), {}, {}, {}};
}

template <class T> Reply optional_reply(const std::optional<T>& value)
{
    return value ? json_reply(200, json(*value)) : problem_reply(404, "No such resource.");
}

// Whether a text anywhere in the document (a key or a value) holds NUL. The stores keep texts
// as C strings, which would end at it: the answer and the store would disagree.
bool holds_nul(const json& value)
{
    if (value.is_string()) {
        return value.get_ref<const std::string&>().find('\0') != std::string::npos;
    }
    if (value.is_object()) {
        for (const auto& [key, element] : value.items()) {
            if (key.find('\0') != std::string::npos || holds_nul(element)) {
                return true;
            }
        }
        return false;
    }
    if (value.is_array()) {
        return std::any_of(value.begin(), value.end(), [](const json& element) { return holds_nul(element); });
    }
    return false;
}

// A JSON object a request sent, in its body or a query parameter.
json object_of(std::string_view text)
{
    try {
        auto body = protocol::parse_json(text);
        if (!body.is_object()) {
            throw Refused{400, "The body must be a JSON object."};
        }
        if (holds_nul(body)) {
            throw Refused{400, "A text may not hold NUL."};
        }
        return body;
    } catch (const protocol::BadJson& bad) {
        throw Refused{400, bad.detail};
    }
}

json body_of(const Request& request)
{
    return object_of(request.body);
}

const std::string& query(const Request& request, const std::string& key)
{
    const auto found = request.query.find(key);
    if (found == request.query.end()) {
        throw Refused{400, "The query parameter \"" + key + "\" is missing."};
    }
    return found->second;
}

std::int64_t number(std::string_view text)
{
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 0) {
        throw Refused{400, "Not a number."};
    }
    return value;
}

const std::string& hash_param(const Request& request)
{
    if (!protocol::is_blob_hash(request.params.at(0))) {
        throw Refused{400, "A blob is named by 64 lower-case hex digits."};
    }
    return request.params.at(0);
}

// The size of a blob the user may have without sending it: their own upload of it whole, or any
// whole copy when a revision they may read names it. Uploads are the uploader's own, so no answer
// of a blob route differs by what other users or tenants store.
std::optional<std::int64_t> available(domain::BlobStore& blobs, domain::Domain& domain, const std::string& hash)
{
    if (const auto own = blobs.size(domain.user().id, hash)) {
        return own;
    }
    return domain.reads_blob(hash) ? blobs.whole_size(hash) : std::nullopt;
}

Reply blob_head(domain::BlobStore& blobs, domain::Domain& domain, const Request& request)
{
    const auto& hash = hash_param(request);
    Reply reply;
    if (const auto size = available(blobs, domain, hash)) {
        reply.headers.emplace_back(protocol::blob_size_header, std::to_string(*size));
    } else {
        reply.status = 404;
        reply.headers.emplace_back(protocol::upload_offset_header,
                                   std::to_string(blobs.received(domain.user().id, hash)));
    }
    return reply;
}

Reply blob_chunk_put(domain::BlobStore& blobs, domain::Domain& domain, const Request& request)
{
    const auto& hash = hash_param(request);
    const auto offset = number(request.params.at(1));
    const auto& owner = domain.user().id;
    const bool aligned = offset % domain::BlobStore::chunk_size == 0;
    if (aligned && !domain::BlobStore::fits_chunk(offset, request.body)) {
        throw Refused{400, "A chunk holds at most 1 MiB, and none only as the whole of an empty blob."};
    }
    if (const auto size = available(blobs, domain, hash)) {
        return json_reply(200, {{"received", *size}, {"whole", true}}); // nothing to store
    }
    // One transaction decides on the upload's row: whole already (written once), or where the
    // chunk may go. Only a refusal asks again, for where the upload stands.
    if (aligned) {
        try {
            const auto stored = blobs.put_chunk(owner, hash, offset, request.body);
            return json_reply(200, {{"received", stored.held}, {"whole", stored.whole}});
        } catch (const domain::ChunkOutOfPlace&) {
        }
    }
    Reply reply = problem_reply(409, "A chunk starts at a multiple of the chunk size, within " +
                                         std::to_string(domain::BlobStore::upload_window) +
                                         " chunks of where the upload stands.");
    reply.headers.emplace_back(protocol::upload_offset_header, std::to_string(blobs.received(owner, hash)));
    return reply;
}

Reply blob_finish(domain::BlobStore& blobs, domain::Domain& domain, const Request& request)
{
    const auto& hash = hash_param(request);
    const auto size = protocol::integer<std::int64_t>(body_of(request).at("size"));
    if (size < 0) {
        throw Refused{400, "A size is not negative."};
    }
    if (const auto whole = available(blobs, domain, hash)) {
        return *whole == size ? json_reply(200, {{"size", size}}) : problem_reply(400, "The blob has another size.");
    }
    if (!blobs.finish(domain.user().id, hash, size)) {
        return problem_reply(400, "The bytes received do not hash to the blob's name or count its size; "
                                  "they were dropped.");
    }
    return json_reply(201, {{"size", size}});
}

Reply blob_chunk_get(domain::BlobStore& blobs, domain::Domain& domain, const Request& request)
{
    const auto& hash = hash_param(request);
    const auto offset = number(request.params.at(1));
    const auto size = available(blobs, domain, hash);
    // Only a whole blob is served: an unfinished upload is never read. Its bytes come from any
    // whole copy, as copies of one hash are the same bytes.
    if (!size || offset % domain::BlobStore::chunk_size != 0 || (offset >= *size && !(offset == 0 && *size == 0))) {
        return problem_reply(404, "No such blob or chunk.");
    }
    Reply reply{200, "application/octet-stream", blobs.chunk(hash, offset), {}, {}, {}};
    reply.headers.emplace_back(protocol::blob_size_header, std::to_string(*size));
    return reply;
}

Reply commit(const Backend& backend, domain::Domain& domain, const Request& request)
{
    auto commit = body_of(request).get<domain::Commit>();
    commit.spaceId = request.params.at(0);
    // A revision must name content the committer may have, whole, or nobody could ever read it
    // back, and a hash alone would give anybody the bytes of whoever stored them.
    if (!commit.checkOnly) {
        const auto size = protocol::is_blob_hash(commit.blob) ? available(*backend.blobs, domain, commit.blob)
                                                              : std::nullopt;
        if (!size || *size != commit.size) {
            return problem_reply(400, "The commit names content the store does not hold whole: upload it first.");
        }
    }
    return answer_reply(domain.commit(commit));
}

// A commit with its content as the body, when the content fits in one chunk: the rules and answers
// of an upload followed by the commit, in one request. The content becomes the committer's own copy
// in the transaction that records the revision, so a refused commit stores nothing.
Reply commit_content(const Backend& backend, domain::Domain& domain, const Request& request)
{
    auto commit = object_of(query(request, std::string(protocol::commit_parameter))).get<domain::Commit>();
    commit.spaceId = request.params.at(0);
    if (commit.checkOnly) {
        throw Refused{400, "A commit that only checks sends no content: use the commits route."};
    }
    domain::Sha256 hash;
    hash.add(request.body);
    if (static_cast<std::int64_t>(request.body.size()) != commit.size || hash.hex() != commit.blob) {
        return problem_reply(400, "The bytes do not hash to the commit's blob or count its size; they were "
                                  "dropped.");
    }
    auto& blobs = *backend.blobs;
    const auto& owner = domain.user().id;
    std::shared_ptr<void> pending;
    if (!blobs.size(owner, commit.blob)) {
        pending = blobs.with_next_revision(owner, commit.blob, request.body);
    }
    return answer_reply(domain.commit(commit));
}

Reply take_events(const Limits& limits, domain::Domain& domain, const Request& request)
{
    auto events = domain.take_events();
    if (events.empty()) {
        const auto wait = request.query.contains("wait") ? number(request.query.at("wait")) : 0;
        if (wait > 0) {
            Reply reply = json_reply(200, json::array());
            const auto bounded = std::min<std::int64_t>(wait, limits.longestPoll.count());
            reply.pollUntil = std::chrono::steady_clock::now() + std::chrono::milliseconds(bounded);
            return reply;
        }
    }
    return json_reply(200, json(events));
}

Reply act(const Backend& backend, const Limits& limits, domain::Domain& domain, const Request& request)
{
    const auto& p = request.params;
    switch (request.route->op) {
    case Op::me: return json_reply(200, json(domain.user()));
    case Op::tenants: return json_reply(200, json(domain.tenants()));
    case Op::tenant: return optional_reply(domain.tenant(p.at(0)));
    case Op::projects: return answer_reply(domain.projects(p.at(0)));
    case Op::create_project: {
        const auto body = body_of(request);
        return answer_reply(domain.create_project(p.at(0), body.at("name").get<std::string>(),
                                                  body.value("number", std::string{})));
    }
    case Op::contracts: return answer_reply(domain.contracts(p.at(0)));
    case Op::project: return answer_reply(domain.project(p.at(0)));
    case Op::partitions: return answer_reply(domain.partitions(p.at(0)));
    case Op::create_partition: {
        const auto body = body_of(request);
        return answer_reply(domain.create_partition(p.at(0), body.at("name").get<std::string>(),
                                                    protocol::integer<int>(body.at("versionMajor"))));
    }
    case Op::partition: return answer_reply(domain.partition(p.at(0), p.at(1)));
    case Op::partition_version:
        return code_reply(domain.set_partition_version(p.at(0), p.at(1),
                                                       protocol::integer<int>(body_of(request).at("versionMajor"))));
    case Op::project_sizes: return answer_reply(domain.project_sizes(p.at(0)));
    case Op::has_include_folder:
        return json_reply(200, {{"present", domain.has_include_folder(p.at(0), query(request, "folder"))}});
    case Op::add_include_folder:
        return code_reply(domain.add_include_folder(p.at(0), body_of(request).at("folder").get<std::string>()));
    case Op::directories: return json_reply(200, json(domain.user_directories()));
    case Op::create_directory:
        return answer_reply(domain.create_user_directory(protocol::integer<int>(body_of(request).at("versionMajor"))));
    case Op::space: return optional_reply(domain.space(p.at(0)));
    case Op::files: return rows_reply(domain.files(p.at(0)));
    case Op::changes:
        return rows_reply(domain.changes(p.at(0), request.query.contains("after") ? number(request.query.at("after")) : 0));
    case Op::folder: {
        const auto folder = protocol::folder_query(request.query);
        if (!folder) {
            throw Refused{400, "The folder query names a sort, order, flag or number it does not take."};
        }
        return answer_reply(domain.folder(p.at(0), *folder));
    }
    case Op::file: return answer_reply(domain.file(p.at(0), query(request, "name")));
    case Op::lock: return answer_reply(domain.lock(p.at(0), query(request, "name")));
    case Op::unlock:
        return code_reply(request.query.contains("force") && request.query.at("force") == "true"
                              ? domain.unlock_forced(p.at(0), query(request, "name"))
                              : domain.unlock(p.at(0), query(request, "name")));
    case Op::unlock_all: return code_reply(domain.unlock_all());
    case Op::commit: return commit(backend, domain, request);
    case Op::commit_content: return commit_content(backend, domain, request);
    case Op::remove: return answer_reply(domain.remove(p.at(0), query(request, "name")));
    case Op::rename: {
        const auto body = body_of(request);
        return answer_reply(domain.rename(p.at(0), body.at("from").get<std::string>(), body.at("to").get<std::string>()));
    }
    case Op::tag: {
        const auto body = body_of(request);
        return code_reply(domain.tag(p.at(0), body.at("files").get<std::vector<domain::SpaceFile>>(),
                                     body.at("category").get<std::string>(), body.at("name").get<std::string>()));
    }
    case Op::add_model_update: {
        const auto body = body_of(request);
        auto update = body.at("update").get<domain::ModelUpdateRow>();
        update.projectId = p.at(0);
        const auto answer = domain.add_model_update(update, body.at("files").get<std::vector<domain::SpaceFile>>());
        if (answer.code >= 300) {
            return problem_reply(answer.code, "The operation was refused.");
        }
        return json_reply(answer.code, {{"id", answer.value}});
    }
    case Op::model_update: return optional_reply(domain.model_update(p.at(0)));
    case Op::post_event:
        domain.post(body_of(request).at("event").get<domain::EventRow>());
        return json_reply(201, json::object());
    case Op::take_events: return take_events(limits, domain, request);
    case Op::blob_head: return blob_head(*backend.blobs, domain, request);
    case Op::blob_finish: return blob_finish(*backend.blobs, domain, request);
    case Op::blob_chunk_put: return blob_chunk_put(*backend.blobs, domain, request);
    case Op::blob_chunk_get: return blob_chunk_get(*backend.blobs, domain, request);
    case Op::healthz:
    case Op::metrics: break;
    }
    throw Refused{404, "No such route."};
}

// Neither "done" nor "nothing was done" would be true: a client must read before it retries.
Reply outcome_unknown()
{
    return problem_reply(504, "The outcome is unknown: read before you retry.");
}

bool sound_key(const std::string& key)
{
    return !key.empty() && key.size() <= protocol::idempotency_key_limit &&
           std::all_of(key.begin(), key.end(), [](unsigned char c) { return std::isalnum(c) || c == '-' || c == '_'; });
}

Reply stored_reply(const domain::PostgresRequestKeys::Stored& stored)
{
    if (!stored.status) {
        // The first request's change stands, its answer was lost with the process that made it.
        return outcome_unknown();
    }
    return {*stored.status, stored.contentType, stored.body, {}, {}, {}};
}

// A request the client may send again: the first one of a key acts, and its key's row commits with
// its change; a later one of the key answers as the first did, without acting.
Reply keyed_act(const Backend& backend, const Limits& limits, domain::Domain& domain, const Request& request,
                const std::string& userId)
{
    if (!sound_key(request.idempotencyKey)) {
        throw Refused{400, "An Idempotency-Key is 1 to 64 letters, digits, '-' or '_'."};
    }
    auto& keys = *backend.requestKeys;
    const auto notBefore = backend.now() - std::chrono::duration_cast<std::chrono::milliseconds>(
                                               request_key_lifetime)
                                               .count();
    if (const auto stored = keys.find(userId, request.idempotencyKey, notBefore)) {
        return stored_reply(*stored);
    }
    const domain::PostgresRequestKeys::Scope scope(userId, request.idempotencyKey, backend.now(), notBefore);
    Reply reply;
    try {
        reply = act(backend, limits, domain, request);
    } catch (const domain::RequestKeyTaken&) {
        // A request of the same key acted while this one ran.
        const auto stored = keys.find(userId, request.idempotencyKey, notBefore);
        return stored ? stored_reply(*stored) : outcome_unknown();
    }
    if (scope.recorded()) {
        // When this second write fails, the row says that the change was made and its answer
        // lost: a later request of the key is answered that the outcome is unknown.
        try {
            keys.answer(userId, request.idempotencyKey, {reply.status, reply.contentType, reply.body});
            // Now and then, the rows past their time go, so that the table stays small between
            // runs of gc.
            thread_local std::minstd_rand chance{std::random_device{}()};
            if (chance() % 256 == 0) {
                keys.drop_older_than(notBefore);
            }
        } catch (const std::exception&) {
        }
    }
    return reply;
}

std::optional<std::string> bearer(const std::string& authorization)
{
    static constexpr std::string_view scheme = "Bearer ";
    if (authorization.size() <= scheme.size() ||
        !std::equal(scheme.begin(), scheme.end(), authorization.begin(),
                    [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b)); })) {
        return std::nullopt;
    }
    return authorization.substr(scheme.size());
}

// Answers as the user the credentials name. Credentials from the cache are confirmed by the
// request's first transaction, or before the answer when it ran none.
Reply act_as(const Backend& backend, const Limits& limits, const Request& request,
             const domain::Admitted<domain::UserRow>& admitted)
{
    if (!admitted.who) {
        Reply reply = problem_reply(401, "A valid bearer token is required.");
        reply.headers.emplace_back("WWW-Authenticate", "Bearer");
        return reply;
    }
    const auto& user = *admitted.who;
    const auto domain = domain::store_domain(backend.store, user, backend.now);
    auto reply = backend.requestKeys && !request.idempotencyKey.empty() && protocol::keyed(*request.route)
                     ? keyed_act(backend, limits, *domain, request, user.id)
                     : act(backend, limits, *domain, request);
    if (admitted.check) {
        admitted.check->confirm();
    }
    return reply;
}

} // namespace

Reply problem_reply(int status, std::string_view detail)
{
    const auto body = protocol::serialized(protocol::problem(status, detail));
    return {status, std::string(protocol::problem_type), body, {}, {}, {}};
}

Reply handle(const Backend& backend, const Metrics& metrics, const Limits& limits, const Request& request)
{
    try {
        switch (request.route->op) {
        case Op::healthz: return {200, "text/plain", "ok\n", {}, {}, {}};
        case Op::metrics: return {200, "text/plain; version=0.0.4", metrics.text(backend), {}, {}, {}};
        default: break;
        }
        const auto token = bearer(request.authorization);
        if (!token) {
            return act_as(backend, limits, request, {});
        }
        auto admitted = backend.accounts->admit(*token);
        try {
            return act_as(backend, limits, request, admitted);
        } catch (const domain::CredentialsChanged&) {
            // Revoked, or something else changed, since the token was cached: nothing was done, and
            // the database says whom it names now.
            admitted.check.reset();
            admitted.who = backend.accounts->authenticate(*token);
            return act_as(backend, limits, request, admitted);
        }
    } catch (const Refused& refused) {
        return problem_reply(refused.status, refused.detail);
    } catch (const domain::UnsafePath&) {
        return problem_reply(400, "The path may not be used.");
    } catch (const json::out_of_range& range) {
        return problem_reply(400, range.id == 406 ? "The body holds a number out of range or not an integer."
                                                  : "The body lacks a field or holds one of the wrong type.");
    } catch (const json::exception&) {
        return problem_reply(400, "The body lacks a field or holds one of the wrong type.");
    } catch (const std::invalid_argument&) {
        return problem_reply(400, "The body holds a value out of range.");
    } catch (const domain::OutcomeUnknown&) {
        return outcome_unknown();
    } catch (const domain::StoreUnavailable&) {
        return problem_reply(503, "The store's database is unavailable; try again later.");
    } catch (const domain::StoreFull&) {
        return problem_reply(507, "The store is full.");
    } catch (const std::exception&) {
        return problem_reply(500, "The server failed to answer.");
    }
}

void Metrics::record(std::string_view route, int status, double seconds)
{
    const std::lock_guard lock(mutex_);
    ++requests_[{std::string(route), status}];
    std::size_t bucket = 0;
    while (bucket < bounds.size() && seconds > bounds[bucket]) {
        ++bucket;
    }
    ++buckets_[bucket];
    sum_ += seconds;
    ++count_;
}

std::string Metrics::text(const Backend& backend) const
{
    std::ostringstream out;
    {
        const std::lock_guard lock(mutex_);
        out << "# HELP vyr_cld_requests_total Requests answered, by route and status.\n"
               "# TYPE vyr_cld_requests_total counter\n";
        for (const auto& [key, count] : requests_) {
            out << "vyr_cld_requests_total{route=\"" << key.first << "\",status=\"" << key.second << "\"} " << count
                << '\n';
        }
        out << "# HELP vyr_cld_request_duration_seconds Time from a request's header to its answer.\n"
               "# TYPE vyr_cld_request_duration_seconds histogram\n";
        std::uint64_t cumulative = 0;
        for (std::size_t i = 0; i < bounds.size(); ++i) {
            cumulative += buckets_[i];
            out << "vyr_cld_request_duration_seconds_bucket{le=\"" << bounds[i] << "\"} " << cumulative << '\n';
        }
        out << "vyr_cld_request_duration_seconds_bucket{le=\"+Inf\"} " << count_ << '\n'
            << "vyr_cld_request_duration_seconds_sum " << sum_ << '\n'
            << "vyr_cld_request_duration_seconds_count " << count_ << '\n';
    }
    if (backend.poolUse) {
        const auto [inUse, size] = backend.poolUse();
        out << "# HELP vyr_cld_pool_in_use Database connections lent out.\n"
               "# TYPE vyr_cld_pool_in_use gauge\n"
               "vyr_cld_pool_in_use "
            << inUse << "\n# HELP vyr_cld_pool_size The most database connections the pool opens.\n"
            << "# TYPE vyr_cld_pool_size gauge\nvyr_cld_pool_size " << size << '\n';
    }
    if (backend.credentialCache) {
        const auto [hits, misses] = backend.credentialCache();
        out << "# HELP vyr_cld_credential_cache_hits_total Tokens and sessions taken from the cache.\n"
               "# TYPE vyr_cld_credential_cache_hits_total counter\n"
               "vyr_cld_credential_cache_hits_total "
            << hits << "\n# HELP vyr_cld_credential_cache_misses_total Tokens and sessions asked of the database.\n"
            << "# TYPE vyr_cld_credential_cache_misses_total counter\nvyr_cld_credential_cache_misses_total " << misses
            << '\n';
    }
    return out.str();
}

} // namespace vyr::cld::server
