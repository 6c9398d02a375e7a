#include "service.h"

#include <algorithm>
#include <system_error>

namespace vyr::cld::local {
namespace {

void post(Records& records, const std::string& user, StatusEventType type, int status, const std::string& path,
          Millis time)
{
    records.post(user, {static_cast<std::int32_t>(type), status, path}, time);
}

// The live file at `target`, or a refusal: 404 when the store has none, 400 when the store's name
// differs only by case (two such names cannot live side by side on every host).
FileRow live(Records& records, const Target& target)
{
    auto file = records.file(target.space.id, target.path.key);
    if (!file || file->deleted) {
        throw Refusal{not_found};
    }
    if (file->path != target.path.relative) {
        throw UnsafePath{};
    }
    return std::move(*file);
}

bool present(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

bool same_file(const std::filesystem::path& a, const std::filesystem::path& b)
{
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

// The working copy still holds what it held when it last agreed with the store.
bool unchanged(const std::filesystem::path& local, const WorkingRow& working)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(local, error);
    if (!error && static_cast<std::int64_t>(size) == working.size && modified_nanos(local) == working.mtime) {
        return true;
    }
    return ContentStore::hash_file(local).hash == working.blob;
}

// Asks the host's pane callback: `absent` without a pane, `cautious` when the host fails.
template <class R, class F>
R ask(const Ref<UI::IFileBrowserUICallback>& callback, R absent, R cautious, F&& question)
{
    if (!callback) {
        return absent;
    }
    try {
        return question(*callback);
    } catch (...) {
        return cautious;
    }
}

} // namespace

Ref<UI::IFileBrowserUICallback> LocalService::pane_callback() const
{
    const std::lock_guard lock(mutex_);
    return callback_;
}

Target LocalService::target(const Context& context, const String& file, bool askHost)
{
    const auto path = utf8(file, "file");
    if (!context.partition && !context.userDirectory) {
        throw Refusal{no_project};
    }
    std::optional<Target> found;
    if (context.userDirectory && path.starts_with(context.userDirectory->root.string() + "/")) {
        found = Target{*context.userDirectory, resolve(context.userDirectory->root, path), file};
    } else if (context.partition) {
        found = Target{*context.partition, resolve(context.partition->root, path), file};
    } else {
        throw Refusal{no_project};
    }
    if (askHost && !ask(pane_callback(), true, false, [&](auto& host) { return host.IsFileOperationsAllowed(file); })) {
        throw Refusal{forbidden};
    }
    return std::move(*found);
}

int LocalService::lock(const Target& target)
{
    const int code = store_->writing([&](Records& records) {
        const auto file = live(records, target);
        if (file.lock && file.lock->holder.id != user_.id) {
            return static_cast<int>(conflict);
        }
        if (!file.lock) {
            records.set_lock(file.id, user_.id, now());
            post(records, user_.id, StatusEventType::Locked, ok, file.path, now());
        }
        return static_cast<int>(ok);
    });
    if (code == conflict) {
        ask(pane_callback(), false, false, [&](auto& host) {
            host.ShowLockInfoPanelNearUi(target.name);
            return true;
        });
    }
    return code;
}

void LocalService::LockFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] { return lock(target(session, file, true)); });
}

int LocalService::unlock(const Target& target, bool uploadchanges, const Context& context)
{
    if (uploadchanges) {
        // The upload releases the lock in its own transaction, so no other user can slip a
        // revision in between.
        return upload(context, target, true);
    }
    return store_->writing([&](Records& records) {
        const auto file = live(records, target);
        if (file.lock && file.lock->holder.id != user_.id) {
            return static_cast<int>(conflict);
        }
        if (file.lock) {
            records.set_lock(file.id, std::nullopt, 0);
            post(records, user_.id, StatusEventType::Unlocked, ok, file.path, now());
        }
        return static_cast<int>(ok);
    });
}

void LocalService::UnlockFile(const String& file, bool uploadchanges, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] { return unlock(target(session, file, true), uploadchanges, session); });
}

void LocalService::UnlockFileForced(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        return store_->writing([&](Records& records) {
            const auto row = live(records, place);
            if (row.lock) {
                records.set_lock(row.id, std::nullopt, 0);
                post(records, user_.id, StatusEventType::Unlocked, ok, row.path, now());
            }
            return static_cast<int>(ok);
        });
    });
}

void LocalService::UnlockAllFilesLockedByMe(int& responsecode)
{
    respond(responsecode, [&] {
        store_->write([&](Records& records) {
            for (const auto& path : records.unlock_all(user_.id)) {
                post(records, user_.id, StatusEventType::Unlocked, ok, path, now());
            }
        });
        return static_cast<int>(ok);
    });
}

int LocalService::upload(const Context& context, const Target& target, bool unlockAfter)
{
    std::error_code error;
    const auto status = std::filesystem::status(target.path.local, error);
    if (!std::filesystem::exists(status)) {
        throw Refusal{not_found};
    }
    if (!std::filesystem::is_regular_file(status)) {
        throw Refusal{bad_request};
    }
    if (context.fieldMode) {
        store_->write([&](Records& records) {
            records.queue(user_.id, {target.space.id, target.path.relative, unlockAfter});
            post(records, user_.id, StatusEventType::Upload, accepted, target.path.relative, now());
        });
        return accepted;
    }
    // What the upload would do, decided again inside the writing transaction: another process
    // may have changed the file meanwhile.
    enum class Kind { Create, Change, Same };
    const auto decide = [&](Records& records, const std::string& hash) {
        const auto file = records.file(target.space.id, target.path.key);
        if (file && file->deleted && records.working(user_.id, target.space.root.string(), file->id)) {
            // This copy was based on a revision from before the delete: storing it would undo the delete.
            throw Refusal{conflict};
        }
        if (!file || file->deleted) {
            return Kind::Create;
        }
        if (file->path != target.path.relative) {
            throw UnsafePath{};
        }
        if (file->lock && file->lock->holder.id != user_.id) {
            throw Refusal{conflict};
        }
        if (file->blob == hash) {
            return Kind::Same;
        }
        const auto working = records.working(user_.id, target.space.root.string(), file->id);
        if (!working || working->revision < file->revision) {
            // The store has a revision this working copy was not based on.
            throw Refusal{conflict};
        }
        return Kind::Change;
    };
    const auto mtime = modified_nanos(target.path.local);
    auto blob = ContentStore::hash_file(target.path.local);
    if (store_->reading([&](Records& records) { return decide(records, blob.hash); }) != Kind::Same) {
        blob = content_.put(target.path.local,
                            [&](double share) { progress(ProgressEventType::Upload, share, target.path.relative); });
        progress(ProgressEventType::DeleteProgressBar, 1.0, target.path.relative);
    }
    return store_->writing([&](Records& records) {
        const auto kind = decide(records, blob.hash);
        auto file = records.file(target.space.id, target.path.key);
        FileRow next = file ? *file : FileRow{new_id(), target.space.id, target.path.relative, 0, {}, 0, false, {}};
        if (kind != Kind::Same) {
            next.path = target.path.relative;
            next.revision += 1;
            next.blob = blob.hash;
            next.size = blob.size;
            next.deleted = false;
            records.put_revision(next, target.path.key, user_.id, now());
            post(records, user_.id, StatusEventType::Upload, kind == Kind::Create ? created : ok, next.path, now());
        }
        records.set_working(user_.id, target.space.root.string(), next.id,
                            WorkingRow{next.path, next.revision, blob.hash, blob.size, mtime});
        if (unlockAfter && next.lock && next.lock->holder.id == user_.id) {
            records.set_lock(next.id, std::nullopt, 0);
            post(records, user_.id, StatusEventType::Unlocked, ok, next.path, now());
        }
        return static_cast<int>(kind == Kind::Create ? created : ok);
    });
}

void LocalService::UploadFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        const int code = upload(session, place, false);
        // Files the host keeps together with this one (references, world files) go with it.
        const auto related = ask(pane_callback(), List<String>{}, List<String>{},
                                 [&](auto& host) { return host.CollectRelatedFiles(file); });
        for (const auto& other : related) {
            if (other.IsNull()) {
                continue; // nothing named; the file itself is stored
            }
            int otherCode = 0;
            respond(otherCode, [&] { return upload(session, target(session, other, true), false); });
            if (otherCode >= bad_request) {
                // The host asked for it to go along: one left behind is told, never dropped silently.
                store_->write([&](Records& records) {
                    post(records, user_.id, StatusEventType::Upload, otherCode,
                         or_empty(std::string(), [&] { return utf8(other, "file"); }), now());
                });
            }
        }
        return code;
    });
}

int LocalService::bring(const Space& space, const FileRow& file, const std::optional<WorkingRow>& before,
                        const String& name, bool askHost)
{
    const auto root = space.root.string();
    const auto path = place(space.root, file.path);
    if (!path) {
        // Too long for this working folder, or led outside it by a local symbolic link.
        record_exception(too_long(space.root, file.path) ? tooLong_ : downloadFailures_, file.path);
        return bad_request;
    }
    // Each conflict and each damaged revision is told once, however many passes and processes meet it.
    const auto tell = [&](Records::Notice kind, StatusEventType type, int status, const std::string& at) {
        store_->write([&](Records& records) {
            if (records.first_notice(user_.id, root, file.id, file.revision, kind)) {
                post(records, user_.id, type, status, at, now());
            }
        });
    };
    const auto refuse = [&](const std::string& at) {
        record_exception(downloadFailures_, at);
        tell(Records::Notice::Conflict, file.deleted ? StatusEventType::Deleted : StatusEventType::Download, conflict,
             at);
        return static_cast<int>(conflict);
    };
    auto working = before;
    if (file.deleted) {
        if (working) {
            const auto old = place(space.root, working->path);
            if (old && present(old->local)) {
                if (!unchanged(old->local, *working)) {
                    return refuse(working->path);
                }
                std::filesystem::remove(old->local);
            }
            store_->write([&](Records& records) {
                records.set_working(user_.id, root, file.id, std::nullopt);
                post(records, user_.id, StatusEventType::Deleted, ok, file.path, now());
            });
        }
        return ok;
    }
    if (working && working->path != file.path) {
        // Renamed in the store: move the unchanged working copy along instead of fetching it again.
        const auto old = place(space.root, working->path);
        if (old && present(old->local) && !present(path->local)) {
            if (!unchanged(old->local, *working)) {
                return refuse(working->path);
            }
            std::filesystem::create_directories(path->local.parent_path());
            std::filesystem::rename(old->local, path->local);
            working->path = file.path;
            working->mtime = modified_nanos(path->local);
            store_->write([&](Records& records) {
                records.set_working(user_.id, root, file.id, working);
                post(records, user_.id, StatusEventType::Rename, ok, file.path, now());
            });
        } else {
            working.reset();
        }
    }
    const auto adopt = [&](std::int64_t mtime, bool transferred) {
        forget_exception(file.path);
        store_->write([&](Records& records) {
            records.set_working(user_.id, root, file.id, WorkingRow{file.path, file.revision, file.blob, file.size, mtime});
            if (transferred) {
                post(records, user_.id, StatusEventType::Download, ok, file.path, now());
            }
        });
        return static_cast<int>(ok);
    };
    if (present(path->local)) {
        const auto mtime = modified_nanos(path->local);
        if (!working || !unchanged(path->local, *working)) {
            // Not what this user last had: keep it unless it already is the store's content.
            return ContentStore::hash_file(path->local).hash == file.blob ? adopt(mtime, false) : refuse(file.path);
        }
        if (working->blob == file.blob) {
            return adopt(mtime, false);
        }
        if (askHost && !ask(pane_callback(), true, false, [&](auto& host) { return host.PromptSave(name); })) {
            return refuse(file.path);
        }
    }
    std::filesystem::create_directories(path->local.parent_path());
    std::int64_t mtime = 0;
    try {
        mtime = content_.copy_out({file.blob, file.size}, path->local,
                                  [&](double share) { progress(ProgressEventType::Download, share, file.path); });
    } catch (const DamagedContent&) {
        progress(ProgressEventType::DeleteProgressBar, 1.0, file.path);
        {
            const std::lock_guard lock(mutex_);
            damaged_.emplace(file.id, file.revision);
        }
        record_exception(downloadFailures_, file.path);
        tell(Records::Notice::Damaged, StatusEventType::CorruptFile, failed, file.path);
        return failed;
    }
    progress(ProgressEventType::DeleteProgressBar, 1.0, file.path);
    return adopt(mtime, true);
}

bool LocalService::known_damaged(const FileRow& file) const
{
    const std::lock_guard lock(mutex_);
    return damaged_.contains({file.id, file.revision});
}

std::vector<Records::Behind> LocalService::pending(const Space& space, bool missing)
{
    const auto root = space.root.string();
    return store_->reading([&](Records& records) {
        auto out = records.behind(user_.id, root, space.id);
        if (missing) {
            // A local deletion is not a deletion in the store: a file this folder agreed on and no
            // longer holds is brought back.
            for (auto& item : records.agreed(user_.id, root, space.id)) {
                const auto at = place(space.root, item.file.path);
                if (at && !present(at->local)) {
                    out.push_back(std::move(item));
                }
            }
        }
        return out;
    });
}

void LocalService::DownloadFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        const auto [row, working] = store_->reading([&](Records& records) {
            auto found = live(records, place);
            auto copy = records.working(user_.id, place.space.root.string(), found.id);
            return std::pair{std::move(found), std::move(copy)};
        });
        // What a killed download left beside this file goes before this one writes there.
        sweep_temporaries(place.path.local.parent_path(), false);
        return bring(place.space, row, working, file, true);
    });
}

void LocalService::DeleteFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        const auto [code, fileId] = store_->writing([&](Records& records) {
            auto row = live(records, place);
            if (row.lock && row.lock->holder.id != user_.id) {
                return std::pair{static_cast<int>(conflict), std::string()};
            }
            row.revision += 1;
            row.deleted = true;
            records.put_revision(row, place.path.key, user_.id, now());
            records.set_lock(row.id, std::nullopt, 0);
            post(records, user_.id, StatusEventType::Deleted, ok, row.path, now());
            return std::pair{static_cast<int>(ok), row.id};
        });
        if (code == ok) {
            // The working copy's record goes only once the file is gone: a process killed between
            // the two leaves the record, and the next sync pass removes the file as for any delete.
            std::filesystem::remove(place.path.local);
            const auto forget = [this, &place, id = fileId](Records& records) {
                records.set_working(user_.id, place.space.root.string(), id, std::nullopt);
            };
            store_->write(forget);
        }
        return code;
    });
}

void LocalService::RenameFile(const String& originalFile, const String& renamedFile, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto from = target(session, originalFile, true);
        const auto to = target(session, renamedFile, true);
        if (from.space.id != to.space.id) {
            return static_cast<int>(bad_request);
        }
        if (present(to.path.local) && !same_file(from.path.local, to.path.local)) {
            // Never over a local file the store does not know. When the two names differ only by
            // case, the two files could not both be stored, so the name itself is refused.
            if (from.path.key == to.path.key) {
                throw UnsafePath{};
            }
            return static_cast<int>(conflict);
        }
        const auto root = from.space.root.string();
        struct Renamed {
            int code = conflict;
            FileRow row;
            std::optional<WorkingRow> working;
        };
        const auto renamed = store_->writing([&](Records& records) {
            Renamed out{conflict, live(records, from), std::nullopt};
            auto& row = out.row;
            const auto taken = records.file(to.space.id, to.path.key);
            if ((taken && !taken->deleted && taken->id != row.id) || (row.lock && row.lock->holder.id != user_.id)) {
                return out;
            }
            out.working = records.working(user_.id, root, row.id);
            // A rename is a revision with the same content, so that other working folders follow.
            row.path = to.path.relative;
            row.revision += 1;
            records.put_revision(row, to.path.key, user_.id, now());
            post(records, user_.id, StatusEventType::Rename, ok, row.path, now());
            out.code = ok;
            return out;
        });
        if (renamed.code != ok || !present(from.path.local)) {
            return renamed.code;
        }
        std::filesystem::create_directories(to.path.local.parent_path());
        std::filesystem::rename(from.path.local, to.path.local);
        // The working copy's record follows only once the local file has moved: a process killed
        // between the two leaves it on the old name, and the next sync pass moves the file as it
        // does for another user's rename. A copy that was behind the store stays behind.
        if (auto working = renamed.working) {
            const auto& row = renamed.row;
            working->revision = working->revision == row.revision - 1 ? row.revision : working->revision;
            working->path = row.path;
            store_->write([&](Records& records) { records.set_working(user_.id, root, row.id, working); });
        }
        return renamed.code;
    });
}

LockStatus LocalService::GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                       String& lockedByPrincipalName, String& lockTimeStamp)
{
    const auto session = context();
    return or_empty(LockStatus::Unknown, [&] {
        const auto place = target(session, file, false);
        const auto row = store_->reading([&](Records& records) -> std::optional<FileRow> {
            try {
                return live(records, place);
            } catch (const Refusal&) {
                return std::nullopt;
            }
        });
        if (!row) {
            return LockStatus::NotInProject;
        }
        if (!row->lock) {
            return LockStatus::NotLocked;
        }
        lockedby = service_text(row->lock->holder.id);
        lockedByDisplayName = service_text(row->lock->holder.displayName);
        lockedByPrincipalName = service_text(row->lock->holder.principalName);
        lockTimeStamp = service_text(iso_time(row->lock->since));
        return row->lock->holder.id == user_.id ? LockStatus::LockedByMe : LockStatus::LockedByOther;
    });
}

namespace {

// Runs `one` for every file of a batch. Answers the files that failed and, in `responsecode`,
// the first failure's code; when none failed, 202 if any was only queued, else `success`.
template <class F> List<String> batch(const List<String>& files, int& responsecode, int success, F&& one)
{
    // A null anywhere fails the whole request before any file is touched.
    if (files.IsNull() || std::any_of(files.begin(), files.end(), [](const String& file) { return file.IsNull(); })) {
        fail(ExceptionKind::ArgumentNull, "files");
    }
    auto failed = List<String>::WithCapacity(0);
    std::optional<int> first;
    bool queued = false;
    for (const auto& file : files) {
        int code = 0;
        respond(code, [&] { return one(file); });
        queued = queued || code == accepted;
        if (code >= bad_request) {
            failed.Add(file);
            first = first.value_or(code);
        }
    }
    responsecode = first.value_or(queued ? accepted : success);
    return failed;
}

} // namespace

List<String> LocalService::LockFiles(const List<String>& filesToLock, int& responsecode)
{
    const auto session = context();
    return batch(filesToLock, responsecode, ok, [&](const String& file) { return lock(target(session, file, true)); });
}

void LocalService::UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode)
{
    const auto session = context();
    static_cast<void>(batch(filesToUnlock, responsecode, ok, [&](const String& file) {
        return unlock(target(session, file, true), uploadChanges, session);
    }));
}

List<String> LocalService::UploadNewFiles(const List<String>& files, int& responsecode)
{
    const auto session = context();
    return batch(files, responsecode, created, [&](const String& file) {
        const auto place = target(session, file, true);
        store_->read([&](Records& records) {
            const auto row = records.file(place.space.id, place.path.key);
            if (row && !row->deleted && row->path != place.path.relative) {
                throw UnsafePath{};
            }
            if (row && !row->deleted) {
                throw Refusal{conflict};
            }
        });
        return upload(session, place, false);
    });
}

void LocalService::TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
                            const String& tagName, int& responsecode)
{
    if (filesToTag.IsNull()) {
        fail(ExceptionKind::ArgumentNull, "filesToTag");
    }
    const auto project = utf8(projectId, "projectId");
    const auto name = utf8(tagName, "tagName");
    const auto categoryName = utf8(Enum::ToString(category), "category");
    const auto session = context();
    respond(responsecode, [&] {
        if (name.empty() || std::isdigit(static_cast<unsigned char>(categoryName.front()))) {
            throw Refusal{bad_request};
        }
        std::vector<Target> places;
        for (const auto& file : filesToTag) {
            places.push_back(target(session, file, false));
        }
        store_->write([&](Records& records) {
            if (!records.project(project)) {
                throw Refusal{not_found};
            }
            for (const auto& place : places) {
                records.tag(live(records, place).id, project, categoryName, name);
            }
        });
        return static_cast<int>(ok);
    });
}

String LocalService::GetFileId(const String& fileName)
{
    const auto session = context();
    return or_empty(String{}, [&] {
        const auto place = target(session, fileName, false);
        return service_text(store_->reading([&](Records& records) { return live(records, place).id; }));
    });
}

Nullable<std::uint64_t> LocalService::GetFileRevision(const String& fileName)
{
    const auto session = context();
    return or_empty(Nullable<std::uint64_t>{}, [&] {
        const auto place = target(session, fileName, false);
        return Nullable<std::uint64_t>(static_cast<std::uint64_t>(
            store_->reading([&](Records& records) { return live(records, place).revision; })));
    });
}

bool LocalService::FileExistsInProject(const String& fileName)
{
    return GetFileRevision(fileName).has_value();
}

void LocalService::FindFileInWebApp(const String& fileName)
{
    // Headless: there is no browser to show the file in, but an unknown file is still an error.
    if (!FileExistsInProject(fileName)) {
        fail(ExceptionKind::Argument, "The file is not in the project.");
    }
}

Ref<FileSyncStatus> LocalService::GetFileSyncStatus()
{
    const auto session = context();
    auto status = std::make_shared<FileSyncStatus>();
    const auto count = [&](const std::optional<Space>& space, const Filters& filters) {
        if (!space) {
            return;
        }
        for (const auto& item : pending(*space, true)) {
            if (!item.file.deleted && filters.wanted(item.file.path)) {
                status->FilesLeftToDownload += 1;
                status->BytesLeftToDownload += item.file.size;
            }
        }
    };
    count(session.partition, session.partitionFilters);
    count(session.userDirectory, session.userDirectoryFilters);
    for (const auto& queued : store_->reading([&](Records& records) { return records.queued(user_.id); })) {
        status->FilesLeftToUpload += 1;
        for (const auto& space : {session.partition, session.userDirectory}) {
            std::error_code error;
            if (space && space->id == queued.spaceId) {
                const auto size = std::filesystem::file_size(space->root / queued.path, error);
                status->BytesLeftToUpload += error ? 0 : static_cast<std::int64_t>(size);
            }
        }
    }
    return status;
}

Ref<InfoForDownloadCopy> LocalService::GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                              int& responsecode)
{
    Ref<InfoForDownloadCopy> info;
    respond(responsecode, [&] {
        store_->read([&](Records& records) {
            const auto project = project_of(records, projectId);
            const auto partition = partition_of(records, project, partitionId);
            info = std::make_shared<InfoForDownloadCopy>();
            for (const auto& file : records.files(partition.id)) {
                if (!file.deleted) {
                    info->ByteSize += file.size;
                    info->FilesInPartition += 1;
                    info->FilesLocked += file.lock ? 1 : 0;
                }
            }
        });
        return static_cast<int>(ok);
    });
    return info;
}

std::size_t LocalService::sync_space(const Space& space, const Filters& filters, bool missing,
                                     const std::function<bool()>& stopping)
{
    std::size_t left = 0;
    for (const auto& item : pending(space, missing)) {
        if (stopping()) {
            return left + 1;
        }
        if (!filters.wanted(item.file.path) || known_damaged(item.file)) {
            continue;
        }
        int code = 0;
        respond(code, [&] { return bring(space, item.file, item.working, service_text(item.file.path), true); });
        // Conflicts and paths too long wait for the user, damaged content for a repair; other
        // failures are tried again.
        const bool retry = (code == failed && !known_damaged(item.file)) || code == no_space;
        left += retry ? 1U : 0U;
    }
    return left;
}

std::size_t LocalService::sync_pass(const std::function<bool()>& stopping)
{
    const auto session = context();
    // Looking for files removed locally costs a look at every file, so a pass does it when asked
    // (a new worker, a waiting host) and otherwise once a second.
    const auto clock = std::chrono::steady_clock::now();
    bool missing = rescan_.exchange(false);
    {
        const std::lock_guard lock(mutex_);
        missing = missing || clock - lastRescan_ >= std::chrono::seconds(1);
        lastRescan_ = missing ? clock : lastRescan_;
    }
    const bool sweep = sweep_.exchange(false);
    std::size_t left = 0;
    for (const auto& [space, filters] : {std::pair{session.partition, session.partitionFilters},
                                         std::pair{session.userDirectory, session.userDirectoryFilters}}) {
        if (space) {
            if (sweep) {
                sweep_temporaries(space->root, true);
            }
            left += sync_space(*space, filters, missing, stopping);
        }
    }
    return left;
}

bool LocalService::fetch(const std::optional<Space>& space, const List<String>& wildCardFilter,
                         const List<String>& fileNameList)
{
    const auto patterns = utf8_list(wildCardFilter, "wildCardFilter");
    const auto names = utf8_list(fileNameList, "fileNameList");
    if (!space) {
        return false;
    }
    std::vector<std::string> keys;
    for (const auto& name : names.value_or(std::vector<std::string>{})) {
        keys.push_back(folded(name));
    }
    const auto chosen = [&](const std::string& path) {
        if (!patterns && !names) {
            return true;
        }
        const bool byPattern = patterns && std::any_of(patterns->begin(), patterns->end(), [&](const auto& pattern) {
                                   return wildcard_match(pattern, path);
                               });
        return byPattern || std::find(keys.begin(), keys.end(), folded(path)) != keys.end();
    };
    bool all = true;
    for (const auto& item : pending(*space, true)) {
        if (chosen(item.file.path)) {
            int code = 0;
            respond(code, [&] { return bring(*space, item.file, item.working, service_text(item.file.path), true); });
            all = all && code == ok;
        }
    }
    return all;
}

void LocalService::flush_queue()
{
    const auto session = context();
    for (const auto& queued : store_->reading([&](Records& records) { return records.queued(user_.id); })) {
        std::optional<Space> space;
        for (const auto& candidate : {session.partition, session.userDirectory}) {
            if (candidate && candidate->id == queued.spaceId) {
                space = candidate;
            }
        }
        if (!space) {
            continue; // its working folder is not open in this session
        }
        int code = 0;
        respond(code, [&] {
            const Target place{*space, resolve(space->root, queued.path), service_text(queued.path)};
            return upload(session, place, queued.unlock);
        });
        store_->write([&](Records& records) {
            records.unqueue(user_.id, queued);
            if (code >= bad_request) {
                post(records, user_.id, StatusEventType::Upload, code, queued.path, now());
            }
        });
    }
}

} // namespace vyr::cld::local
