#include <vyr/cld/domain/domain.h>

#include <VyrCldapi/Enums.h>

#include <algorithm>
#include <set>
#include <tuple>

namespace vyr::cld::domain {
namespace {

using VyrCldapi::StatusEventType;

// The application type of a file: its extension in lower case, "other" without one.
std::string app_type(const std::string& path)
{
    const auto name = path.substr(path.rfind('/') + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return "other";
    }
    return folded(name.substr(dot + 1));
}

// Whether each folder of `path` is spelt as the live files beneath it spell it. A host that
// ignores case would put `a/y` into the folder `A` that holds `A/x`, under a path the store does
// not know; a file moving out of the folder (`moving`, its folded path) does not count as one that stays.
bool spelt_as_stored(Records& records, const std::string& spaceId, const std::string& path,
                     const std::string& moving = {})
{
    for (auto slash = path.rfind('/'); slash != std::string::npos && slash > 0; slash = path.rfind('/', slash - 1)) {
        const auto folder = path.substr(0, slash);
        const auto key = folded(folder);
        const auto row = records.folder(spaceId, key);
        const bool onlyMoving = !moving.empty() && moving.rfind(key + "/", 0) == 0 && row && row->files == 1;
        if (row && row->path != folder && !onlyMoving) {
            return false;
        }
    }
    return true;
}

// Runs `body`, which answers a code or ends early with a Refusal or an unsafe name (400).
template <class T, class F> Answer<T> answer(F&& body)
{
    Answer<T> out;
    try {
        out.code = body(out.value);
    } catch (const Refusal& refusal) {
        out.code = refusal.code;
    } catch (const UnsafePath&) {
        out.code = bad_request;
    }
    return out;
}

template <class F> int code_of(F&& body)
{
    return answer<bool>([&](bool&) { return body(); }).code;
}

// A reason given for a break as one line: control characters become spaces, and it is cut to
// max_reason_bytes at a character's start.
std::string one_line(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x20 || byte == 0x7f ? ' ' : c);
    }
    if (out.size() > max_reason_bytes) {
        auto end = max_reason_bytes;
        while (end > 0 && (static_cast<unsigned char>(out[end]) & 0xC0) == 0x80) {
            --end;
        }
        out.resize(end);
    }
    while (!out.empty() && out.back() == ' ') {
        out.pop_back();
    }
    out.erase(0, std::min(out.find_first_not_of(' '), out.size()));
    return out;
}

class StoreDomain final : public Domain {
public:
    StoreDomain(std::shared_ptr<MetadataStore> store, UserRow user, std::function<Millis()> now)
        : store_(std::move(store)), user_(std::move(user)), now_(std::move(now))
    {
    }

    const UserRow& user() const override { return user_; }

    std::vector<TenantRow> tenants() override
    {
        return store_->reading([&](Records& records) {
            auto all = records.tenants();
            std::erase_if(all, [&](const TenantRow& tenant) { return !records.sees_tenant(user_.id, tenant.id); });
            return all;
        });
    }
    std::optional<TenantRow> tenant(const std::string& uniqueId) override
    {
        return store_->reading([&](Records& records) -> std::optional<TenantRow> {
            auto tenant = records.tenant(uniqueId);
            if (tenant && !records.sees_tenant(user_.id, tenant->id)) {
                return std::nullopt;
            }
            return tenant;
        });
    }
    Answer<std::vector<ProjectRow>> projects(const std::string& tenantUniqueId) override
    {
        return answer<std::vector<ProjectRow>>([&](auto& out) {
            store_->read([&](Records& records) {
                out = records.projects(tenant_of(records, tenantUniqueId).id);
                std::erase_if(out, [&](const ProjectRow& project) { return !records.role(user_.id, project.id); });
            });
            return ok;
        });
    }
    Answer<std::vector<ListedProject>> listed_projects(const std::string& tenantUniqueId) override
    {
        return answer<std::vector<ListedProject>>([&](auto& out) {
            store_->read([&](Records& records) {
                out = records.listed_projects(user_.id, tenant_of(records, tenantUniqueId).id);
            });
            return ok;
        });
    }
    Answer<ProjectRow> project(const std::string& id) override
    {
        return answer<ProjectRow>([&](auto& out) {
            store_->read([&](Records& records) { out = project_of(records, id); });
            return ok;
        });
    }
    Answer<ProjectRow> create_project(const std::string& tenantUniqueId, const std::string& name,
                                      const std::string& number) override
    {
        return answer<ProjectRow>([&](auto& out) {
            if (name.empty()) {
                return static_cast<int>(bad_request);
            }
            return store_->writing([&](Records& records) {
                const auto tenant = tenant_of(records, tenantUniqueId);
                // An empty number is no number: any number of projects may have none.
                if (!number.empty() && records.project_number_taken(tenant.id, number)) {
                    return static_cast<int>(conflict);
                }
                out = ProjectRow{new_id(), tenant.id, name, number, ""};
                records.add_project(out, now_());
                records.grant(user_.id, out.id, Role::Admin);
                return static_cast<int>(created);
            });
        });
    }
    Answer<std::vector<SpaceRow>> partitions(const std::string& projectId) override
    {
        return answer<std::vector<SpaceRow>>([&](auto& out) {
            store_->read([&](Records& records) { out = records.partitions(project_of(records, projectId).id); });
            return ok;
        });
    }
    Answer<SpaceRow> partition(const std::string& projectId, const std::string& partitionId) override
    {
        return answer<SpaceRow>([&](auto& out) {
            store_->read([&](Records& records) { out = partition_of(records, projectId, partitionId); });
            return ok;
        });
    }
    Answer<SpaceRow> create_partition(const std::string& projectId, const std::string& name, int versionMajor) override
    {
        return answer<SpaceRow>([&](auto& out) {
            if (name.empty()) {
                return static_cast<int>(bad_request);
            }
            return store_->writing([&](Records& records) {
                const auto project = project_of(records, projectId);
                if (records.partition_name_taken(project.id, name)) {
                    return static_cast<int>(conflict);
                }
                out = SpaceRow{new_id(), SpaceRow::Kind::Partition, project.id, {}, name, versionMajor};
                records.add_space(out);
                return static_cast<int>(created);
            });
        });
    }
    int set_partition_version(const std::string& projectId, const std::string& partitionId, int versionMajor) override
    {
        return code_of([&] {
            store_->write([&](Records& records) {
                records.set_version(partition_of(records, projectId, partitionId).id, versionMajor);
            });
            return ok;
        });
    }
    std::vector<SpaceRow> user_directories() override
    {
        return store_->reading([&](Records& records) { return records.user_directories(user_.id); });
    }
    Answer<SpaceRow> create_user_directory(int versionMajor) override
    {
        return answer<SpaceRow>([&](auto& out) {
            return store_->writing([&](Records& records) {
                if (records.user_directory(user_.id, versionMajor)) {
                    return static_cast<int>(conflict);
                }
                out = SpaceRow{new_id(), SpaceRow::Kind::UserDirectory, {}, user_.id,
                               user_.displayName + " " + std::to_string(versionMajor), versionMajor};
                records.add_space(out);
                return static_cast<int>(created);
            });
        });
    }
    std::optional<SpaceRow> space(const std::string& id) override
    {
        return store_->reading([&](Records& records) -> std::optional<SpaceRow> {
            auto space = records.space(id);
            if (space && !role_in(records, *space)) {
                return std::nullopt;
            }
            return space;
        });
    }
    Answer<std::vector<ContractRow>> contracts(const std::string& tenantUniqueId) override
    {
        return answer<std::vector<ContractRow>>([&](auto& out) {
            store_->read([&](Records& records) {
                out = records.contracts(tenant_of(records, tenantUniqueId).id);
                std::erase_if(out, [&](const ContractRow& contract) { return !records.role(user_.id, contract.projectId); });
            });
            return ok;
        });
    }
    Answer<std::map<std::string, std::int64_t>> project_sizes(const std::string& projectId) override
    {
        return answer<std::map<std::string, std::int64_t>>([&](auto& out) {
            store_->read([&](Records& records) {
                for (const auto& partition : records.partitions(project_of(records, projectId).id)) {
                    for (const auto& file : records.files(partition.id)) {
                        if (!file.deleted) {
                            out[app_type(file.path)] += file.size;
                        }
                    }
                }
            });
            return ok;
        });
    }
    int add_include_folder(const std::string& projectId, const std::string& folder) override
    {
        return store_->writing([&](Records& records) {
            if (!records.role(user_.id, projectId)) {
                return static_cast<int>(not_found);
            }
            records.add_include_folder(projectId, folder);
            return static_cast<int>(ok);
        });
    }
    bool has_include_folder(const std::string& projectId, const std::string& folder) override
    {
        return store_->reading([&](Records& records) {
            return records.role(user_.id, projectId) && records.has_include_folder(projectId, folder);
        });
    }

    Answer<FileRow> file(const std::string& spaceId, const std::string& name) override
    {
        return answer<FileRow>([&](auto& out) {
            const auto checked = checked_name(name);
            store_->read([&](Records& records) {
                space_of(records, spaceId);
                out = live(records, spaceId, checked);
            });
            return ok;
        });
    }
    Answer<FileRow> lock(const std::string& spaceId, const std::string& name) override
    {
        return answer<FileRow>([&](auto& out) {
            const auto checked = checked_name(name);
            return store_->writing([&](Records& records) {
                const auto space = space_of(records, spaceId).first;
                out = live(records, spaceId, checked);
                if (held_by_another(out)) {
                    return static_cast<int>(conflict);
                }
                if (!out.lock) {
                    // One reading of the clock: the answer's time is the stored one, which a page
                    // names when it breaks the lock.
                    const auto since = now_();
                    records.set_lock(out.id, user_.id, since);
                    post(records, StatusEventType::Locked, ok, space, out, entry(ActivityKind::Locked));
                    out.lock = LockRow{user_, since};
                }
                return static_cast<int>(ok);
            });
        });
    }
    int unlock(const std::string& spaceId, const std::string& name) override { return release(spaceId, name, false); }
    int unlock_forced(const std::string& spaceId, const std::string& name) override
    {
        return release(spaceId, name, true);
    }
    int unlock_forced_by_id(const std::string& fileId) override
    {
        return code_of([&] {
            return store_->writing([&](Records& records) {
                const auto file = records.file_by_id(fileId);
                if (!file || file->deleted) {
                    throw Refusal{not_found};
                }
                return release(records, *file, space_of(records, file->spaceId), true);
            });
        });
    }
    Answer<std::optional<LockRow>> break_lock(const std::string& fileId, const std::string& holderId, Millis since,
                                              const std::string& reason) override
    {
        return answer<std::optional<LockRow>>([&](auto& out) {
            return store_->writing([&](Records& records) {
                const auto file = records.file_by_id(fileId);
                if (!file || file->deleted) {
                    throw Refusal{not_found};
                }
                const auto space = space_of(records, file->spaceId);
                out = file->lock;
                // Decided in the transaction that breaks it: a lock taken after the page was
                // shown is another's, whom the user has not seen.
                if (!file->lock || file->lock->holder.id != holderId || file->lock->since != since) {
                    return static_cast<int>(conflict);
                }
                return release(records, *file, space, true, one_line(reason));
            });
        });
    }
    int unlock_all() override
    {
        store_->write([&](Records& records) {
            std::map<std::string, SpaceRow> spaces;
            for (const auto& file : records.unlock_all(user_.id)) {
                auto space = spaces.find(file.spaceId);
                if (space == spaces.end()) {
                    space = spaces.emplace(file.spaceId, records.space(file.spaceId).value_or(SpaceRow{})).first;
                }
                post(records, StatusEventType::Unlocked, ok, space->second, file, entry(ActivityKind::Unlocked));
            }
        });
        return ok;
    }
    Answer<FileRow> commit(const Commit& commit) override
    {
        return answer<FileRow>([&](auto& out) {
            const auto checked = checked_name(commit.name);
            SpaceRow space;
            const auto decide = [&](Records& records) {
                space = space_of(records, commit.spaceId).first;
                const auto file = records.file(commit.spaceId, checked.key);
                const bool based = commit.base && file && commit.base->fileId == file->id;
                if (file && file->deleted && based) {
                    // The copy was based on a revision from before the delete: storing it would undo it.
                    throw Refusal{conflict};
                }
                if (!file || file->deleted) {
                    if (!portable(checked.relative) || !spelt_as_stored(records, commit.spaceId, checked.relative)) {
                        throw UnsafePath{}; // a name a file is given now: see portable_name()
                    }
                    out = file ? *file : FileRow{new_id(), commit.spaceId, checked.relative, 0, {}, 0, false, {}, 0};
                    return created;
                }
                out = *file;
                if (file->path != checked.relative) {
                    throw UnsafePath{};
                }
                if (held_by_another(*file)) {
                    throw Refusal{conflict};
                }
                if (file->blob != commit.blob && (!based || commit.base->revision < file->revision)) {
                    // The store has a revision this working copy was not based on.
                    throw Refusal{conflict};
                }
                return ok;
            };
            if (commit.checkOnly) {
                return static_cast<int>(store_->reading(decide));
            }
            return static_cast<int>(store_->writing([&](Records& records) {
                const auto code = decide(records);
                if (code == created || out.blob != commit.blob) {
                    out.path = checked.relative;
                    out.revision += 1;
                    out.blob = commit.blob;
                    out.size = commit.size;
                    out.deleted = false;
                    records.put_revision(out, checked.key, user_.id, now_(), out.seq);
                    post(records, StatusEventType::Upload, code, space, out,
                         entry(code == created ? ActivityKind::Added : ActivityKind::Stored));
                }
                if (commit.unlockAfter && out.lock && out.lock->holder.id == user_.id) {
                    records.set_lock(out.id, std::nullopt, 0);
                    post(records, StatusEventType::Unlocked, ok, space, out, entry(ActivityKind::Unlocked));
                    out.lock.reset();
                }
                return code;
            }));
        });
    }
    Answer<FileRow> remove(const std::string& spaceId, const std::string& name) override
    {
        return answer<FileRow>([&](auto& out) {
            const auto checked = checked_name(name);
            return store_->writing([&](Records& records) {
                const auto space = space_of(records, spaceId).first;
                out = live(records, spaceId, checked);
                if (held_by_another(out)) {
                    return static_cast<int>(conflict);
                }
                auto row = out;
                row.revision += 1;
                row.deleted = true;
                // The file as it was, but with the change number its row holds now: a reader who
                // takes its cursor from the answer does not read its own delete again.
                records.put_revision(row, checked.key, user_.id, now_(), out.seq);
                records.set_lock(row.id, std::nullopt, 0);
                post(records, StatusEventType::Deleted, ok, space, row, entry(ActivityKind::Deleted));
                return static_cast<int>(ok);
            });
        });
    }
    Answer<FileRow> rename(const std::string& spaceId, const std::string& from, const std::string& to) override
    {
        return answer<FileRow>([&](auto& out) {
            const auto source = checked_name(from);
            const auto target = portable_name(to);
            return store_->writing([&](Records& records) {
                const auto space = space_of(records, spaceId).first;
                out = live(records, spaceId, source);
                const auto taken = records.file(spaceId, target.key);
                if ((taken && !taken->deleted && taken->id != out.id) || held_by_another(out) ||
                    !spelt_as_stored(records, spaceId, target.relative, folded(out.path))) {
                    return static_cast<int>(conflict);
                }
                // A rename is a revision with the same content, so that other working folders follow.
                auto renamed = entry(ActivityKind::Renamed);
                renamed.oldPath = out.path;
                out.path = target.relative;
                out.revision += 1;
                records.put_revision(out, target.key, user_.id, now_(), out.seq);
                post(records, StatusEventType::Rename, ok, space, out, std::move(renamed));
                return static_cast<int>(ok);
            });
        });
    }
    int tag(const std::string& projectId, const std::vector<SpaceFile>& files, const std::string& category,
            const std::string& name) override
    {
        return code_of([&] {
            if (name.empty()) {
                return bad_request;
            }
            std::vector<std::pair<std::string, Name>> checked;
            for (const auto& file : files) {
                checked.emplace_back(file.spaceId, checked_name(file.name));
            }
            store_->write([&](Records& records) {
                project_of(records, projectId);
                for (const auto& [spaceId, fileName] : checked) {
                    space_of(records, spaceId);
                    records.tag(live(records, spaceId, fileName).id, projectId, category, name);
                }
            });
            return ok;
        });
    }
    std::vector<FileRow> files(const std::string& spaceId) override
    {
        return store_->reading([&](Records& records) {
            const auto space = records.space(spaceId);
            return space && role_in(records, *space) ? records.files(spaceId) : std::vector<FileRow>{};
        });
    }
    std::vector<FileRow> changes(const std::string& spaceId, std::int64_t after) override
    {
        return store_->reading([&](Records& records) {
            const auto space = records.space(spaceId);
            return space && role_in(records, *space) ? records.changes(spaceId, after) : std::vector<FileRow>{};
        });
    }

    Answer<std::string> add_model_update(ModelUpdateRow update, const std::vector<SpaceFile>& files) override
    {
        return answer<std::string>([&](auto& out) {
            std::vector<std::pair<std::string, Name>> checked;
            for (const auto& file : files) {
                checked.emplace_back(file.spaceId, checked_name(file.name));
            }
            update.id = new_id();
            update.created = now_();
            store_->write([&](Records& records) {
                // A write may run again when the database asks for it: nothing may pile up.
                update.fileIds.clear();
                project_of(records, update.projectId);
                for (const auto& [spaceId, name] : checked) {
                    // Only the project's own files: the update is shown to every member of the
                    // project, who may not see another project's files or anybody's own directory.
                    const auto space = space_of(records, spaceId).first;
                    if (space.kind != SpaceRow::Kind::Partition || space.projectId != update.projectId) {
                        throw Refusal{not_found};
                    }
                    const auto file = records.file(spaceId, name.key);
                    if (!file || file->deleted) {
                        throw Refusal{not_found};
                    }
                    update.fileIds.push_back(file->id);
                }
                records.add_model_update(update, user_.id);
            });
            out = update.id;
            return created;
        });
    }
    std::optional<ModelUpdateRow> model_update(const std::string& id) override
    {
        return store_->reading([&](Records& records) -> std::optional<ModelUpdateRow> {
            auto update = records.model_update(id);
            if (update && !records.role(user_.id, update->projectId)) {
                return std::nullopt;
            }
            return update;
        });
    }

    Answer<FileView> file_by_id(const std::string& fileId) override
    {
        return answer<FileView>([&](auto& out) {
            store_->read([&](Records& records) { out = view_of(records, fileId); });
            return ok;
        });
    }
    Answer<std::vector<RevisionRow>> revisions(const std::string& fileId) override
    {
        return answer<std::vector<RevisionRow>>([&](auto& out) {
            store_->read([&](Records& records) { out = records.revisions(view_of(records, fileId).file.id); });
            return ok;
        });
    }
    Answer<std::vector<SpaceEntry>> space_entries(const std::string& spaceId) override
    {
        return answer<std::vector<SpaceEntry>>([&](auto& out) {
            store_->read([&](Records& records) {
                space_of(records, spaceId);
                auto current = records.current_revisions(spaceId);
                std::map<std::string, RevisionRow> byFile(std::make_move_iterator(current.begin()),
                                                          std::make_move_iterator(current.end()));
                for (auto& file : records.files(spaceId)) {
                    if (const auto found = byFile.find(file.id); !file.deleted && found != byFile.end()) {
                        out.push_back({std::move(file), std::move(found->second)});
                    }
                }
            });
            return ok;
        });
    }
    Answer<FolderPage> folder(const std::string& spaceId, const FolderQuery& query) override
    {
        return answer<FolderPage>([&](auto& out) {
            if (query.offset < 0 || query.limit < 1 || query.limit > max_folder_page) {
                return static_cast<int>(bad_request);
            }
            const auto key = query.folder.empty() ? std::string() : checked_name(query.folder).key;
            store_->read([&](Records& records) {
                std::tie(out.space, out.role) = space_of(records, spaceId);
                auto folder = records.folder(spaceId, key);
                if (!folder && !key.empty()) {
                    throw Refusal{not_found};
                }
                out.folder = folder.value_or(FolderRow{});
                FolderFiles files{spaceId, key, query.filtered(), query.sort, query.descending,
                                  query.contains.empty() ? std::string() : folded(query.contains),
                                  query.lockedByMe ? user_.id : query.locked ? "*" : "", query.changedSince,
                                  query.offset, query.limit};
                if (files.beneath) {
                    out.total = records.folder_file_count(files);
                    out.files = records.folder_files(files);
                    return;
                }
                const auto subfolders = records.subfolder_count(spaceId, key);
                out.total = subfolders + out.folder.direct;
                if (query.offset < subfolders) {
                    out.folders = records.subfolders(spaceId, key, query.offset, query.limit);
                }
                files.offset = std::max<std::int64_t>(0, query.offset - subfolders);
                files.limit = query.limit - static_cast<int>(out.folders.size());
                if (files.limit > 0) {
                    out.files = records.folder_files(files);
                }
            });
            return static_cast<int>(ok);
        });
    }
    Answer<std::vector<FileRow>> locks(const std::string& projectId) override
    {
        return answer<std::vector<FileRow>>([&](auto& out) {
            store_->read([&](Records& records) { out = records.project_locks(project_of(records, projectId).id); });
            return ok;
        });
    }
    Answer<std::vector<ModelUpdateView>> model_updates(const std::string& projectId) override
    {
        return answer<std::vector<ModelUpdateView>>([&](auto& out) {
            const auto now = now_();
            store_->read([&](Records& records) {
                for (auto& update : records.model_updates(project_of(records, projectId).id)) {
                    const auto status = viewer_status(now - update.created);
                    ModelUpdateView view{std::move(update), {}, status};
                    for (const auto& id : view.update.fileIds) {
                        const auto file = records.file_by_id(id);
                        // An update recorded before updates were held to their project's files
                        // may name another space's: its members are not shown where that lies.
                        const auto space = file ? records.space(file->spaceId) : std::nullopt;
                        if (space && (space->kind != SpaceRow::Kind::Partition || space->projectId != projectId)) {
                            continue;
                        }
                        view.paths.push_back(file ? file->path : id);
                    }
                    out.push_back(std::move(view));
                }
            });
            return ok;
        });
    }
    bool reads_blob(const std::string& hash) override
    {
        return store_->reading([&](Records& records) {
            // Spaces of one project share its role: each project is asked once.
            std::set<std::string> asked;
            for (const auto& space : records.spaces_naming(hash)) {
                if (space.kind == SpaceRow::Kind::Partition && !asked.insert(space.projectId).second) {
                    continue;
                }
                if (role_in(records, space)) {
                    return true;
                }
            }
            return false;
        });
    }
    std::optional<Role> role(const std::string& projectId) override
    {
        return store_->reading([&](Records& records) { return records.role(user_.id, projectId); });
    }
    std::vector<PostedEvent> recent_events(int limit) override
    {
        return store_->reading([&](Records& records) { return records.recent_events(user_.id, limit); });
    }
    std::int64_t event_count() override
    {
        return store_->reading([&](Records& records) { return records.event_count(user_.id); });
    }
    ActivityPage activity(std::int64_t offset, int limit) override
    {
        return store_->reading([&](Records& records) { return records.user_activity(user_.id, offset, limit); });
    }
    Answer<ActivityPage> project_activity(const std::string& projectId, std::int64_t offset, int limit) override
    {
        return answer<ActivityPage>([&](auto& out) {
            store_->read([&](Records& records) {
                out = records.project_activity(project_of(records, projectId).id, offset, limit);
            });
            return ok;
        });
    }

    void post(const EventRow& event) override
    {
        store_->write([&](Records& records) { records.post(user_.id, event, now_()); });
    }
    std::vector<EventRow> take_events() override
    {
        return store_->writing([&](Records& records) { return records.take_events(user_.id); });
    }

private:
    // Another user's lock keeps this user from changing the file.
    [[nodiscard]] bool held_by_another(const FileRow& file) const
    {
        return file.lock && file.lock->holder.id != user_.id;
    }
    // A lock of one's own is always one's to release; another's only an admin may break.
    [[nodiscard]] bool may_release(const FileRow& file, Role role) const
    {
        return !held_by_another(file) || role == Role::Admin;
    }

    static ActivityRow entry(ActivityKind kind)
    {
        ActivityRow row;
        row.kind = kind;
        return row;
    }
    // A change of a file: the user's status event and the entry of the space's history, written
    // together so that neither tells of a change the other does not.
    void post(Records& records, StatusEventType type, int status, const SpaceRow& space, const FileRow& file,
              ActivityRow entry)
    {
        records.post(user_.id, {static_cast<std::int32_t>(type), status, file.path}, now_());
        entry.time = now_();
        entry.actor = user_;
        entry.projectId = space.projectId;
        entry.spaceId = file.spaceId;
        entry.fileId = file.id;
        entry.path = file.path;
        entry.revision = file.revision;
        entry.size = file.size;
        records.add_activity(entry);
    }

    // What the user may not see answers as if it did not exist, so that nobody learns of another
    // tenant's projects by asking.
    TenantRow tenant_of(Records& records, const std::string& uniqueId) const
    {
        auto tenant = records.tenant(uniqueId);
        if (!tenant || !records.sees_tenant(user_.id, tenant->id)) {
            throw Refusal{not_found};
        }
        return std::move(*tenant);
    }
    ProjectRow project_of(Records& records, const std::string& id) const
    {
        auto project = records.project(id);
        if (!project || !records.role(user_.id, project->id)) {
            throw Refusal{not_found};
        }
        return std::move(*project);
    }
    // The user's role in a space: its project's, or an admin's in the user's own directory.
    std::optional<Role> role_in(Records& records, const SpaceRow& space) const
    {
        if (space.kind == SpaceRow::Kind::UserDirectory) {
            return space.ownerId == user_.id ? std::optional{Role::Admin} : std::nullopt;
        }
        return records.role(user_.id, space.projectId);
    }
    std::pair<SpaceRow, Role> space_of(Records& records, const std::string& spaceId) const
    {
        auto space = records.space(spaceId);
        const auto role = space ? role_in(records, *space) : std::nullopt;
        if (!role) {
            throw Refusal{not_found};
        }
        return {std::move(*space), *role};
    }
    SpaceRow partition_of(Records& records, const std::string& projectId, const std::string& partitionId) const
    {
        const auto project = project_of(records, projectId);
        auto space = records.space(partitionId);
        if (!space || space->kind != SpaceRow::Kind::Partition || space->projectId != project.id) {
            throw Refusal{not_found};
        }
        return std::move(*space);
    }
    FileView view_of(Records& records, const std::string& fileId) const
    {
        auto file = records.file_by_id(fileId);
        if (!file) {
            throw Refusal{not_found};
        }
        auto [space, role] = space_of(records, file->spaceId);
        std::optional<ProjectRow> project;
        if (space.kind == SpaceRow::Kind::Partition) {
            project = records.project(space.projectId);
        }
        const bool mayBreakLock = file->lock && may_release(*file, role);
        return {std::move(*file), std::move(space), std::move(project), role, mayBreakLock};
    }
    // The live file of that name, or a refusal: 404 when the store has none, 400 when the store's
    // name differs only by case (two such names cannot live side by side on every host).
    static FileRow live(Records& records, const std::string& spaceId, const Name& name)
    {
        const auto file = records.file(spaceId, name.key);
        auto answer = live_file(file ? &*file : nullptr, name);
        if (answer.code == bad_request) {
            throw UnsafePath{};
        }
        if (answer.code != ok) {
            throw Refusal{answer.code};
        }
        return std::move(answer.value);
    }

    int release(const std::string& spaceId, const std::string& name, bool anybodys)
    {
        return code_of([&] {
            const auto checked = checked_name(name);
            return store_->writing([&](Records& records) {
                const auto space = space_of(records, spaceId);
                return release(records, live(records, spaceId, checked), space, anybodys);
            });
        });
    }
    // `reason`: why another's lock is broken, as the breaker said, for the history.
    int release(Records& records, const FileRow& file, const std::pair<SpaceRow, Role>& space, bool anybodys,
                const std::string& reason = {})
    {
        if (held_by_another(file) && !anybodys) {
            return static_cast<int>(conflict);
        }
        if (!may_release(file, space.second)) {
            return static_cast<int>(forbidden);
        }
        if (file.lock) {
            records.set_lock(file.id, std::nullopt, 0);
            auto told = entry(held_by_another(file) ? ActivityKind::BrokeLock : ActivityKind::Unlocked);
            if (held_by_another(file)) {
                told.subject = file.lock->holder;
                told.reason = reason;
            }
            post(records, StatusEventType::Unlocked, ok, space.first, file, std::move(told));
            if (held_by_another(file)) {
                lock_broken(records, file, reason);
            }
        }
        return static_cast<int>(ok);
    }

    // The holder learns that the lock is gone, who took it and, when given, why: a path and a
    // reason never hold a control character, so line breaks part them. Every break of another's
    // lock passes here, so a history of what happened to a user's files records it here too.
    void lock_broken(Records& records, const FileRow& file, const std::string& reason)
    {
        const auto& by = user_.principalName.empty() ? user_.id : user_.principalName;
        records.post(file.lock->holder.id,
                     {static_cast<std::int32_t>(StatusEventType::Unlocked), conflict,
                      file.path + "\n" + by + (reason.empty() ? std::string() : "\n" + reason)},
                     now_());
    }

    std::shared_ptr<MetadataStore> store_;
    UserRow user_;
    std::function<Millis()> now_;
};

} // namespace

Answer<std::vector<ListedProject>> Domain::listed_projects(const std::string& tenantUniqueId)
{
    auto listed = projects(tenantUniqueId);
    Answer<std::vector<ListedProject>> out{listed.code, {}};
    for (auto& project : listed.value) {
        auto partitions = this->partitions(project.id);
        out.value.push_back({std::move(project), std::move(partitions.value)});
    }
    return out;
}

ViewerStatus viewer_status(Millis age)
{
    return age < 1000 ? ViewerStatus::Scheduled : age < 3000 ? ViewerStatus::InProgress : ViewerStatus::Success;
}

std::string_view viewer_status_name(ViewerStatus status)
{
    switch (status) {
    case ViewerStatus::Scheduled: return "Scheduled";
    case ViewerStatus::InProgress: return "InProgress";
    case ViewerStatus::Success: return "Success";
    }
    return "Failed";
}

Answer<FileRow> live_file(const FileRow* row, const Name& name)
{
    if (!row || row->deleted) {
        return {not_found, {}};
    }
    if (row->path != name.relative) {
        return {bad_request, {}};
    }
    return {ok, *row};
}

std::unique_ptr<Domain> store_domain(std::shared_ptr<MetadataStore> store, UserRow user, std::function<Millis()> now)
{
    return std::make_unique<StoreDomain>(std::move(store), std::move(user), std::move(now));
}

} // namespace vyr::cld::domain
