#include "http.h"

#include <vyr/cld/domain/names.h>
#include <vyr/cld/domain/not_served.h>
#include <vyr/cld/protocol/protocol.h>

#include <algorithm>
#include <mutex>

namespace vyr::cld::remote {
namespace {

using nlohmann::json;
using protocol::Op;
using protocol::path;

std::string with_name(Op op, const std::string& spaceId, const std::string& name,
                      std::map<std::string, std::string> more = {})
{
    more["name"] = name;
    return path(op, {spaceId}) + protocol::query_string(more);
}

// What the server said of a refusal (a problem's `detail`), or the network of a failure, as one
// line of printable text of bounded length: the server's words are shown to people, and nothing
// it sends may break a line or steer a terminal.
std::string detail_of(const HttpResponse& response)
{
    std::string text = response.error;
    if (response.reached) {
        try {
            const auto body = protocol::parse_json(response.body);
            if (body.is_object() && body.contains("detail") && body["detail"].is_string()) {
                text = body["detail"].get<std::string>();
            }
        } catch (const std::exception&) {
            // Not a problem document: the status alone tells it.
        }
    }
    constexpr std::size_t longest = 300;
    std::string out;
    for (const char c : text.substr(0, longest)) {
        const auto byte = static_cast<unsigned char>(c);
        out += byte < 0x20 || byte == 0x7F ? ' ' : c;
    }
    return out;
}

// A failed answer as the failure an operation without a response code raises: a refused token and
// an unavailable service are told apart from the other refusals, which are raised as the local
// store raises an unusable store's.
[[noreturn]] void raise_failure(const HttpResponse& response)
{
    auto detail = detail_of(response);
    const auto with_detail = [&](std::string message) { return detail.empty() ? message : message + ": " + detail; };
    if (!response.reached) {
        throw domain::NotServed(domain::unavailable, false, with_detail("The team service cannot be reached"),
                                std::move(detail));
    }
    if (response.status == domain::token_refused) {
        throw domain::NotServed(domain::token_refused, true,
                                "The team service does not take the token: it is unknown or revoked, or its user is "
                                "disabled.",
                                std::move(detail));
    }
    if (response.status == domain::unavailable) {
        throw domain::NotServed(domain::unavailable, true, with_detail("The team service cannot serve requests now"),
                                std::move(detail));
    }
    throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                               with_detail("The team service refused the request (" +
                                           std::to_string(response.status) + ")"));
}

// The value of an answer that has no response code of its own; a failure is raised (see
// raise_failure).
json value_of(const HttpResponse& response)
{
    if (!response.reached || response.status >= 300) {
        raise_failure(response);
    }
    try {
        return protocol::parse_json(response.body);
    } catch (const protocol::BadJson&) {
        throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                   "The team service answered with malformed JSON.");
    }
}

template <class T> std::optional<T> optional_of(const HttpResponse& response)
{
    if (response.reached && response.status == 404) {
        return std::nullopt;
    }
    return value_of(response).get<T>();
}

// The server's response code, and the value the answer carries, also with a refusal.
template <class T> domain::Answer<T> answer_of(const HttpResponse& response)
{
    domain::Answer<T> out;
    out.code = response.status;
    if (!response.reached || response.body.empty()) {
        return out;
    }
    try {
        const auto body = protocol::parse_json(response.body);
        if (response.status < 300) {
            out.value = body.get<T>();
        } else if (body.is_object() && body.contains("value") && !body["value"].is_null()) {
            out.value = body["value"].get<T>();
        }
    } catch (const std::exception&) {
        // A success the client cannot read is no success.
        if (out.code < 300) {
            out.code = domain::failed;
        }
    }
    return out;
}

[[noreturn]] void pages_only()
{
    throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                               "The team service shows this in its web pages only.");
}

class RemoteDomain final : public domain::Domain {
public:
    RemoteDomain(const Connection& connection, std::shared_ptr<SmallContents> held)
        : http_(connection), held_(std::move(held))
    {
        fetch_user();
    }

    // Raises what kept the server from telling whom the token names, when it could not.
    void require_user() const
    {
        fetch_user();
        const std::lock_guard lock(userMutex_);
        if (!user_.id.empty()) {
            return;
        }
        if (userAnswer_.reached && userAnswer_.status < 300) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation,
                                       "The team service did not say whom the token names.");
        }
        raise_failure(userAnswer_);
    }

    const domain::UserRow& user() const override
    {
        fetch_user();
        return user_;
    }

    std::vector<domain::TenantRow> tenants() override
    {
        return value_of(get(path(Op::tenants))).get<std::vector<domain::TenantRow>>();
    }
    std::optional<domain::TenantRow> tenant(const std::string& uniqueId) override
    {
        return optional_of<domain::TenantRow>(get(path(Op::tenant, {uniqueId})));
    }
    domain::Answer<std::vector<domain::ProjectRow>> projects(const std::string& tenantUniqueId) override
    {
        return answer_of<std::vector<domain::ProjectRow>>(get(path(Op::projects, {tenantUniqueId})));
    }
    domain::Answer<domain::ProjectRow> project(const std::string& id) override
    {
        return answer_of<domain::ProjectRow>(get(path(Op::project, {id})));
    }
    domain::Answer<domain::ProjectRow> create_project(const std::string& tenantUniqueId, const std::string& name,
                                                      const std::string& number) override
    {
        return answer_of<domain::ProjectRow>(
            send(Op::create_project, path(Op::create_project, {tenantUniqueId}), {{"name", name}, {"number", number}}));
    }
    domain::Answer<std::vector<domain::SpaceRow>> partitions(const std::string& projectId) override
    {
        return answer_of<std::vector<domain::SpaceRow>>(get(path(Op::partitions, {projectId})));
    }
    domain::Answer<domain::SpaceRow> partition(const std::string& projectId, const std::string& partitionId) override
    {
        return answer_of<domain::SpaceRow>(get(path(Op::partition, {projectId, partitionId})));
    }
    domain::Answer<domain::SpaceRow> create_partition(const std::string& projectId, const std::string& name,
                                                      int versionMajor) override
    {
        return answer_of<domain::SpaceRow>(send(Op::create_partition, path(Op::create_partition, {projectId}),
                                                {{"name", name}, {"versionMajor", versionMajor}}));
    }
    int set_partition_version(const std::string& projectId, const std::string& partitionId, int versionMajor) override
    {
        return send(Op::partition_version, path(Op::partition_version, {projectId, partitionId}),
                    {{"versionMajor", versionMajor}})
            .status;
    }
    std::vector<domain::SpaceRow> user_directories() override
    {
        return value_of(get(path(Op::directories))).get<std::vector<domain::SpaceRow>>();
    }
    domain::Answer<domain::SpaceRow> create_user_directory(int versionMajor) override
    {
        return answer_of<domain::SpaceRow>(
            send(Op::create_directory, path(Op::create_directory), {{"versionMajor", versionMajor}}));
    }
    std::optional<domain::SpaceRow> space(const std::string& id) override
    {
        return optional_of<domain::SpaceRow>(get(path(Op::space, {id})));
    }
    domain::Answer<std::vector<domain::ContractRow>> contracts(const std::string& tenantUniqueId) override
    {
        return answer_of<std::vector<domain::ContractRow>>(get(path(Op::contracts, {tenantUniqueId})));
    }
    domain::Answer<std::map<std::string, std::int64_t>> project_sizes(const std::string& projectId) override
    {
        return answer_of<std::map<std::string, std::int64_t>>(get(path(Op::project_sizes, {projectId})));
    }
    int add_include_folder(const std::string& projectId, const std::string& folder) override
    {
        return send(Op::add_include_folder, path(Op::add_include_folder, {projectId}), {{"folder", folder}}).status;
    }
    bool has_include_folder(const std::string& projectId, const std::string& folder) override
    {
        return value_of(get(path(Op::has_include_folder, {projectId}) + protocol::query_string({{"folder", folder}})))
            .at("present")
            .get<bool>();
    }

    domain::Answer<domain::FileRow> file(const std::string& spaceId, const std::string& name) override
    {
        return answer_of<domain::FileRow>(get(with_name(Op::file, spaceId, name)));
    }
    domain::Answer<domain::FileRow> lock(const std::string& spaceId, const std::string& name) override
    {
        return answer_of<domain::FileRow>(send(Op::lock, with_name(Op::lock, spaceId, name)));
    }
    int unlock(const std::string& spaceId, const std::string& name) override
    {
        return send(Op::unlock, with_name(Op::unlock, spaceId, name)).status;
    }
    int unlock_forced(const std::string& spaceId, const std::string& name) override
    {
        return send(Op::unlock, with_name(Op::unlock, spaceId, name, {{"force", "true"}})).status;
    }
    int unlock_all() override { return send(Op::unlock_all, path(Op::unlock_all)).status; }
    domain::Answer<domain::FileRow> commit(const domain::Commit& commit) override
    {
        if (const auto bytes = held_ && !commit.checkOnly ? held_->find(commit.blob) : std::nullopt) {
            // One request instead of an upload and then the commit.
            const auto target = path(Op::commit_content, {commit.spaceId}) +
                                protocol::query_string({{std::string(protocol::commit_parameter), json(commit).dump()}});
            auto answer = answer_of<domain::FileRow>(send(Op::commit_content, target, *bytes, "application/octet-stream"));
            if (answer.code < 300) {
                held_->release(commit.blob);
            }
            return answer;
        }
        return answer_of<domain::FileRow>(send(Op::commit, path(Op::commit, {commit.spaceId}), json(commit)));
    }
    domain::Answer<domain::FileRow> remove(const std::string& spaceId, const std::string& name) override
    {
        return answer_of<domain::FileRow>(send(Op::remove, with_name(Op::remove, spaceId, name)));
    }
    domain::Answer<domain::FileRow> rename(const std::string& spaceId, const std::string& from,
                                           const std::string& to) override
    {
        return answer_of<domain::FileRow>(send(Op::rename, path(Op::rename, {spaceId}), {{"from", from}, {"to", to}}));
    }
    int tag(const std::string& projectId, const std::vector<domain::SpaceFile>& files, const std::string& category,
            const std::string& name) override
    {
        return send(Op::tag, path(Op::tag, {projectId}), {{"files", files}, {"category", category}, {"name", name}})
            .status;
    }
    std::vector<domain::FileRow> files(const std::string& spaceId) override
    {
        return value_of(get(path(Op::files, {spaceId}))).get<std::vector<domain::FileRow>>();
    }
    std::vector<domain::FileRow> changes(const std::string& spaceId, std::int64_t after) override
    {
        return value_of(get(path(Op::changes, {spaceId}) + protocol::query_string({{"after", std::to_string(after)}})))
            .get<std::vector<domain::FileRow>>();
    }

    domain::Answer<std::string> add_model_update(domain::ModelUpdateRow update,
                                                 const std::vector<domain::SpaceFile>& files) override
    {
        const auto response = send(Op::add_model_update, path(Op::add_model_update, {update.projectId}),
                                   {{"update", update}, {"files", files}});
        domain::Answer<std::string> out{response.status, {}};
        if (response.reached && response.status < 300) {
            out.value = value_of(response).at("id").get<std::string>();
        }
        return out;
    }
    std::optional<domain::ModelUpdateRow> model_update(const std::string& id) override
    {
        return optional_of<domain::ModelUpdateRow>(get(path(Op::model_update, {id})));
    }

    // The team service shows these in its own pages; its API does not serve them.
    domain::Answer<domain::FileView> file_by_id(const std::string&) override { pages_only(); }
    int unlock_forced_by_id(const std::string&) override { pages_only(); }
    domain::Answer<std::vector<domain::RevisionRow>> revisions(const std::string&) override { pages_only(); }
    domain::Answer<std::vector<domain::SpaceEntry>> space_entries(const std::string&) override { pages_only(); }
    domain::Answer<domain::FolderPage> folder(const std::string&, const domain::FolderQuery&) override { pages_only(); }
    domain::Answer<std::vector<domain::FileRow>> locks(const std::string&) override { pages_only(); }
    domain::Answer<std::optional<domain::LockRow>> break_lock(const std::string&, const std::string&, domain::Millis,
                                                              const std::string&) override
    {
        pages_only();
    }
    domain::Answer<std::vector<domain::ModelUpdateView>> model_updates(const std::string&) override { pages_only(); }
    std::optional<domain::Role> role(const std::string&) override { pages_only(); }
    std::vector<domain::PostedEvent> recent_events(int) override { pages_only(); }
    std::int64_t event_count() override { pages_only(); }
    domain::ActivityPage activity(std::int64_t, int) override { pages_only(); }
    domain::Answer<domain::ActivityPage> project_activity(const std::string&, std::int64_t, int) override
    {
        pages_only();
    }
    // The server decides who reads which content when it serves a blob; a client asks for the blob.
    bool reads_blob(const std::string&) override { pages_only(); }

    void post(const domain::EventRow& event) override
    {
        value_of(send(Op::post_event, path(Op::post_event), {{"event", event}}));
    }
    std::vector<domain::EventRow> take_events() override
    {
        return value_of(send(Op::take_events, path(Op::take_events))).get<std::vector<domain::EventRow>>();
    }

private:
    HttpResponse get(const std::string& target) { return http_.send("GET", target); }

    HttpResponse send(Op op, const std::string& target, const json& body = nullptr)
    {
        return body.is_null() ? send(op, target, {}, {}) : send(op, target, body.dump(), protocol::json_type);
    }
    HttpResponse send(Op op, const std::string& target, std::string_view body, std::string_view contentType)
    {
        const auto& route = protocol::route(op);
        // One key for every attempt of this call.
        const auto key = protocol::keyed(route) ? domain::random_hex(16) : std::string();
        return http_.send(route.method, target, body, contentType, route.idempotent, key);
    }

    void fetch_user() const
    {
        const std::lock_guard lock(userMutex_);
        if (!user_.id.empty()) {
            return;
        }
        const auto response = http_.send("GET", path(Op::me));
        userAnswer_ = response;
        if (response.reached && response.status == 200) {
            try {
                user_ = protocol::parse_json(response.body).get<domain::UserRow>();
            } catch (const std::exception&) {
                user_ = {};
            }
        }
    }

    mutable Http http_;
    std::shared_ptr<SmallContents> held_;
    mutable std::mutex userMutex_;
    mutable domain::UserRow user_;
    // The last answer to "who is this": what a failed opening tells.
    mutable HttpResponse userAnswer_;
};

} // namespace

bool SmallContents::hold(const std::string& hash, std::string bytes)
{
    const std::lock_guard lock(mutex_);
    if (std::any_of(held_.begin(), held_.end(), [&](const auto& entry) { return entry.first == hash; })) {
        return true;
    }
    if (held_.size() >= most_held || bytes_ + bytes.size() > most_bytes) {
        return false;
    }
    bytes_ += bytes.size();
    held_.emplace_back(hash, std::move(bytes));
    return true;
}

std::optional<std::string> SmallContents::find(const std::string& hash) const
{
    const std::lock_guard lock(mutex_);
    for (const auto& [held, bytes] : held_) {
        if (held == hash) {
            return bytes;
        }
    }
    return std::nullopt;
}

void SmallContents::release(const std::string& hash)
{
    const std::lock_guard lock(mutex_);
    for (auto entry = held_.begin(); entry != held_.end(); ++entry) {
        if (entry->first == hash) {
            bytes_ -= entry->second.size();
            held_.erase(entry);
            return;
        }
    }
}

std::unique_ptr<domain::Domain> remote_domain(const Connection& connection, std::shared_ptr<SmallContents> held)
{
    return std::make_unique<RemoteDomain>(connection, std::move(held));
}

std::unique_ptr<domain::Domain> signed_in_domain(const Connection& connection, std::shared_ptr<SmallContents> held)
{
    auto domain = std::make_unique<RemoteDomain>(connection, std::move(held));
    domain->require_user();
    return domain;
}

} // namespace vyr::cld::remote
