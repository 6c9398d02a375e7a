#include "service.h"

#include "disk.h"

#include <algorithm>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace vyr::cld::local {
namespace {

// The code of a domain answer; 400 for a name the store refuses, so that the caller's own
// refusals and the store's read alike.
// The live file of a lookup, or nothing when the store has none under the name.
std::optional<FileRow> accepted_or_missing(const domain::Answer<FileRow>& answer)
{
    if (answer.code == domain::not_found) {
        return std::nullopt;
    }
    if (answer.code == domain::bad_request) {
        throw UnsafePath{};
    }
    return answer.value;
}

template <class T> const T& accepted_or_refused(const domain::Answer<T>& answer)
{
    if (answer.code == bad_request) {
        throw UnsafePath{};
    }
    if (answer.code >= 300) {
        throw Refusal{answer.code};
    }
    return answer.value;
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
    return hash_file(local).hash == working.blob;
}

// The entries of `items` whose file the working folder no longer holds. Each folder is listed
// once, which costs a pass over its names; only a name its listing lacks has its path resolved and
// looked up, which costs a look-up of every part of the path.
template <class T, class PathOf>
std::vector<T> gone(const std::filesystem::path& root, std::vector<T> items, PathOf&& path_of)
{
    std::unordered_map<std::string, std::optional<std::unordered_set<std::string>>> listings;
    const auto listing = [&](const std::string& folder) -> const std::optional<std::unordered_set<std::string>>& {
        const auto [found, fresh] = listings.try_emplace(folder);
        if (fresh) {
            // Unreadable or missing: every file of it is looked up on its own.
            found->second = disk::names_in(root / u8_path(folder));
        }
        return found->second;
    };
    std::vector<T> out;
    for (auto& item : items) {
        const std::string& path = path_of(item);
        const auto slash = path.rfind('/');
        const auto& names = listing(slash == std::string::npos ? std::string() : path.substr(0, slash));
        if (names && names->contains(path.substr(slash + 1))) {
            continue;
        }
        const auto at = place(root, path);
        if (at && !present(at->local)) {
            out.push_back(std::move(item));
        }
    }
    return out;
}

// Forgets what the store answered lately once the change a write made is done, whether or not it
// succeeded: a failed write may have changed the store too.
class ForgetAfter {
public:
    explicit ForgetAfter(std::function<void()> forget) : forget_(std::move(forget)) {}
    ~ForgetAfter() { forget_(); }
    ForgetAfter(const ForgetAfter&) = delete;
    ForgetAfter& operator=(const ForgetAfter&) = delete;

private:
    std::function<void()> forget_;
};

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

Ref<UI::IFileBrowserUICallback> Client::pane_callback() const
{
    const std::lock_guard lock(mutex_);
    return callback_;
}

Target Client::target(const Context& context, const String& file, bool askHost)
{
    const auto path = utf8(file, "file");
    if (!context.partition && !context.userDirectory) {
        throw Refusal{no_project};
    }
    std::optional<Target> found;
    if (context.userDirectory && below(context.userDirectory->root, path)) {
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

int Client::lock(const Target& target)
{
    const ForgetAfter forget([this] { forget_answers(); });
    const auto answer = domain_->lock(target.space.id, target.path.relative);
    if (answer.code == conflict) {
        ask(pane_callback(), false, false, [&](auto& host) {
            host.ShowLockInfoPanelNearUi(target.name);
            return true;
        });
    }
    return answer.code;
}

void Client::LockFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] { return lock(target(session, file, true)); });
}

int Client::unlock(const Target& target, bool uploadchanges, const Context& context)
{
    if (uploadchanges) {
        // The upload releases the lock in its own transaction, so no other user can slip a
        // revision in between.
        return upload(context, target, true);
    }
    const ForgetAfter forget([this] { forget_answers(); });
    return domain_->unlock(target.space.id, target.path.relative);
}

void Client::UnlockFile(const String& file, bool uploadchanges, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] { return unlock(target(session, file, true), uploadchanges, session); });
}

void Client::UnlockFileForced(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        const ForgetAfter forget([this] { forget_answers(); });
        return domain_->unlock_forced(place.space.id, place.path.relative);
    });
}

void Client::UnlockAllFilesLockedByMe(int& responsecode)
{
    const ForgetAfter forget([this] { forget_answers(); });
    respond(responsecode, [&] { return domain_->unlock_all(); });
}

int Client::upload(const Context& context, const Target& target, bool unlockAfter)
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
        journal(target.space)->queue({target.space.id, target.path.relative, unlockAfter});
        tell_user(StatusEventType::Upload, accepted, target.path.relative);
        return accepted;
    }
    const auto folder = journal(target.space);
    const ForgetAfter forget([this] { forget_answers(); });
    const auto mtime = modified_nanos(target.path.local);
    // The base is what this folder agreed on about the file now under that name; only when no live
    // file has it, a copy the folder still holds under it (which a delete may have overtaken).
    // A folder may hold a stale agreement under the name as well, for a file since renamed onto it.
    // A name the store refuses is refused here, before anything is read or written.
    const auto current = accepted_or_missing(domain_->file(target.space.id, target.path.relative));
    const auto working = [&]() -> std::optional<std::pair<std::string, WorkingRow>> {
        if (!current) {
            return folder->working_at(target.path.relative);
        }
        if (auto row = folder->working(current->id)) {
            return std::pair{current->id, std::move(*row)};
        }
        return std::nullopt;
    }();
    // Read once: the hash decides, and the bytes it was taken of are the ones stored.
    const auto staged = content_->stage(target.path.local);
    auto blob = staged->blob();
    domain::Commit commit{target.space.id, target.path.relative, std::nullopt, blob.hash, blob.size, unlockAfter, true};
    if (working) {
        commit.base = domain::Base{working->first, working->second.revision};
    }
    // Decided before the bytes are stored, and again when the revision is recorded: another
    // process may have stored one meanwhile.
    const auto check = domain_->commit(commit);
    if (check.code >= bad_request) {
        return check.code;
    }
    if (check.value.blob != blob.hash) {
        blob = staged->keep([&](double share) { progress(ProgressEventType::Upload, share, target.path.relative); });
        progress(ProgressEventType::DeleteProgressBar, 1.0, target.path.relative);
    }
    commit.blob = blob.hash;
    commit.size = blob.size;
    commit.checkOnly = false;
    const auto stored = domain_->commit(commit);
    if (stored.code < bad_request) {
        const auto& file = stored.value;
        folder->set_working(file.id, WorkingRow{file.path, file.revision, blob.hash, blob.size, mtime});
    }
    return stored.code;
}

void Client::UploadFile(const String& file, int& responsecode)
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
                tell_user(StatusEventType::Upload, otherCode, or_empty(std::string(), [&] { return utf8(other, "file"); }));
            }
        }
        return code;
    });
}

int Client::bring(const Space& space, const FileRow& file, const std::optional<WorkingRow>& before,
                        const String& name, bool askHost)
{
    const auto folder = journal(space);
    const auto path = place(space.root, file.path);
    if (!path) {
        // Too long for this working folder, or led outside it by a local symbolic link.
        record_exception(too_long(space.root, file.path) ? tooLong_ : downloadFailures_, file.path);
        return bad_request;
    }
    const auto tell = [&](Journal::Notice kind, StatusEventType type, int status, const std::string& at) {
        tell_once(space, file, kind, type, status, at);
    };
    const auto refuse = [&](const std::string& at) {
        record_exception(downloadFailures_, at);
        tell(Journal::Notice::Conflict, file.deleted ? StatusEventType::Deleted : StatusEventType::Download, conflict,
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
            folder->set_working(file.id, std::nullopt);
            tell_user(StatusEventType::Deleted, ok, file.path);
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
            disk::create_folders(path->local.parent_path());
            std::filesystem::rename(old->local, path->local);
            working->path = file.path;
            working->mtime = modified_nanos(path->local);
            folder->set_working(file.id, working);
            tell_user(StatusEventType::Rename, ok, file.path);
        } else {
            working.reset();
        }
    }
    const auto adopt = [&](std::int64_t mtime, bool transferred) {
        forget_exception(file.path);
        folder->set_working(file.id, WorkingRow{file.path, file.revision, file.blob, file.size, mtime});
        if (transferred) {
            tell_user(StatusEventType::Download, ok, file.path);
        }
        return static_cast<int>(ok);
    };
    if (present(path->local)) {
        const auto mtime = modified_nanos(path->local);
        if (!working || !unchanged(path->local, *working)) {
            // Not what this user last had: keep it unless it already is the store's content.
            return hash_file(path->local).hash == file.blob ? adopt(mtime, false) : refuse(file.path);
        }
        if (working->blob == file.blob) {
            return adopt(mtime, false);
        }
        if (askHost && !ask(pane_callback(), true, false, [&](auto& host) { return host.PromptSave(name); })) {
            return refuse(file.path);
        }
    }
    disk::create_folders(path->local.parent_path());
    std::int64_t mtime = 0;
    try {
        mtime = content_->copy_out({file.blob, file.size}, path->local,
                                  [&](double share) { progress(ProgressEventType::Download, share, file.path); });
    } catch (const DamagedContent&) {
        progress(ProgressEventType::DeleteProgressBar, 1.0, file.path);
        {
            const std::lock_guard lock(mutex_);
            damaged_.emplace(file.id, file.revision);
        }
        record_exception(downloadFailures_, file.path);
        tell(Journal::Notice::Damaged, StatusEventType::CorruptFile, failed, file.path);
        return failed;
    }
    progress(ProgressEventType::DeleteProgressBar, 1.0, file.path);
    return adopt(mtime, true);
}

void Client::tell_once(const Space& space, const FileRow& file, Journal::Notice kind, StatusEventType type,
                             int status, const std::string& path)
{
    // Each is told once per revision, however many passes and processes meet it.
    if (journal(space)->first_notice(file.id, file.revision, kind)) {
        tell_user(type, status, path);
    }
}

std::shared_ptr<Journal> Client::journal(const Space& space)
{
    const auto key = std::pair{path_text(space.root), space.id};
    {
        const std::lock_guard lock(mutex_);
        if (const auto found = openJournals_.find(key); found != openJournals_.end()) {
            return found->second;
        }
    }
    // Named by the folder's path, so that one folder always finds its own, however deep it lies.
    const auto file = journals_ / (hash_text(key.first).substr(0, 32) + ".sqlite");
    auto opened = std::make_shared<Journal>(file, user_.id, static_cast<int>(settings_.busyTimeout.count()));
    if (store_ && !opened->took_over(space.id)) {
        // What an older store kept for the folder moves into its journal, once.
        opened->take_over(space.id, store_->writing([&](Records& records) {
            return records.hand_over(user_.id, key.first, space.id);
        }));
    }
    const std::lock_guard lock(mutex_);
    return openJournals_.emplace(key, std::move(opened)).first->second;
}

bool Client::known_damaged(const FileRow& file) const
{
    const std::lock_guard lock(mutex_);
    return damaged_.contains({file.id, file.revision});
}

bool Client::waiting_for_holder(const FileRow& file)
{
    const std::lock_guard lock(mutex_);
    const auto found = held_.find(file.id);
    return found != held_.end() && std::chrono::steady_clock::now() < found->second.retry;
}

void Client::tried_held(const FileRow& file, bool stillHeld)
{
    const std::lock_guard lock(mutex_);
    if (!stillHeld) {
        held_.erase(file.id);
        return;
    }
    const auto [found, fresh] = held_.try_emplace(file.id, Held{{}, first_held_pause});
    auto& held = found->second;
    if (!fresh) {
        held.pause = std::min(held.pause * 2, last_held_pause);
    }
    held.retry = std::chrono::steady_clock::now() + held.pause;
}

void Client::follow(const Space& space, Journal& folder)
{
    folder.follow(space.id, [&](std::int64_t after) { return domain_->changes(space.id, after); });
}

std::vector<Journal::Behind> Client::pending(const Space& space, bool missing)
{
    const auto folder = journal(space);
    follow(space, *folder);
    auto out = folder->behind(space.id);
    if (missing) {
        // A local deletion is not a deletion in the store: a file this folder agreed on and no
        // longer holds is brought back.
        for (auto& item : gone(space.root, folder->agreed(space.id),
                               [](const Journal::Behind& behind) -> const std::string& { return behind.file.path; })) {
            out.push_back(std::move(item));
        }
    }
    // By name, a deleted file before a live one of the same name: a file renamed onto a deleted
    // one's name then finds the name free.
    std::sort(out.begin(), out.end(), [](const Journal::Behind& a, const Journal::Behind& b) {
        return std::pair(std::string_view(a.file.path), !a.file.deleted) <
               std::pair(std::string_view(b.file.path), !b.file.deleted);
    });
    return out;
}

void Client::DownloadFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        const auto row = accepted_or_refused(domain_->file(place.space.id, place.path.relative));
        const auto working = journal(place.space)->working(row.id);
        // What a killed download left beside this file goes before this one writes there.
        sweep_temporaries(place.path.local.parent_path(), false);
        // A file held open only for a moment (a scanner, an indexer) is waited for, briefly: the
        // host's thread waits. A longer hold answers 423 and the host asks again.
        for (auto pause = first_held_pause / 2;; pause *= 2) {
            try {
                return bring(place.space, row, working, file, true);
            } catch (const HeldOpen&) {
                if (pause > first_held_pause * 2) {
                    throw;
                }
                std::this_thread::sleep_for(pause);
            }
        }
    });
}

void Client::DeleteFile(const String& file, int& responsecode)
{
    const auto session = context();
    respond(responsecode, [&] {
        const auto place = target(session, file, true);
        const ForgetAfter forget([this] { forget_answers(); });
        const auto removed = domain_->remove(place.space.id, place.path.relative);
        if (removed.code == ok) {
            // The working copy's record goes only once the file is gone: a process killed between
            // the two leaves the record, and the next sync pass removes the file as for any delete.
            std::filesystem::remove(place.path.local);
            journal(place.space)->set_working(removed.value.id, std::nullopt);
        }
        return removed.code;
    });
}

void Client::RenameFile(const String& originalFile, const String& renamedFile, int& responsecode)
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
        const ForgetAfter forget([this] { forget_answers(); });
        const auto renamed = domain_->rename(from.space.id, from.path.relative, to.path.relative);
        if (renamed.code != ok) {
            return renamed.code;
        }
        const auto& row = renamed.value;
        if (present(from.path.local)) {
            disk::create_folders(to.path.local.parent_path());
            std::filesystem::rename(from.path.local, to.path.local);
        }
        // The working copy's record follows only once the local file has moved: a process killed
        // between the two leaves it on the old name, and the next sync pass moves the file as it
        // does for another user's rename. A copy that was behind the store stays behind.
        const auto folder = journal(from.space);
        if (auto working = folder->working(row.id)) {
            working->revision = working->revision == row.revision - 1 ? row.revision : working->revision;
            working->path = row.path;
            folder->set_working(row.id, working);
        }
        return renamed.code;
    });
}

namespace {

// A session asking about this many files of a space within the answers' age is going over the
// folder: the rest of its questions are answered from one read of the space's list.
constexpr std::size_t listed_after = 3;

// The answer the store would give for `name`, from the list of its live files by name key.
domain::Answer<FileRow> looked_up(const std::unordered_map<std::string, FileRow>& live, const domain::Name& name)
{
    const auto found = live.find(name.key);
    return domain::live_file(found == live.end() ? nullptr : &found->second, name);
}

} // namespace

void Client::forget_answers()
{
    const std::lock_guard lock(mutex_);
    listings_.clear();
    ++forgotten_;
}

std::shared_ptr<const Client::Live> Client::list_files(const Space& space)
{
    std::uint64_t before = 0;
    {
        const std::lock_guard lock(mutex_);
        before = forgotten_;
    }
    // Taken before the request: the list is at least as new as this.
    const auto read = std::chrono::steady_clock::now();
    auto live = std::make_shared<Live>();
    for (auto& row : domain_->files(space.id)) {
        if (row.deleted) {
            continue;
        }
        try {
            auto key = domain::checked_name(row.path).key;
            live->insert_or_assign(std::move(key), std::move(row));
        } catch (const UnsafePath&) {
            // A stored name no query can name.
        }
    }
    const std::lock_guard lock(mutex_);
    if (forgotten_ != before) {
        return nullptr;
    }
    auto& listing = listings_[space.id];
    listing.read = read;
    listing.used = read;
    listing.live = live;
    listing.single.clear();
    return live;
}

domain::Answer<FileRow> Client::stored_file(const Space& space, const std::string& relative)
{
    const auto age = settings_.answerAge;
    std::optional<domain::Name> name;
    try {
        name = domain::checked_name(relative);
    } catch (const UnsafePath&) {
        // The store refuses the name in its own words, below.
    }
    if (age <= std::chrono::milliseconds::zero() || !name) {
        return domain_->file(space.id, relative);
    }
    bool list = false;
    std::uint64_t before = 0;
    {
        const std::lock_guard lock(mutex_);
        const auto now = std::chrono::steady_clock::now();
        auto& listing = listings_[space.id];
        if (listing.read != std::chrono::steady_clock::time_point{}) {
            if (now - listing.read <= age) {
                listing.used = now;
                return looked_up(*listing.live, *name);
            }
            // A pass over the folder that is still going on reads the list again; the list of one
            // that ended is dropped.
            list = now - listing.used <= age;
            listing.read = {};
            listing.live.reset();
        }
        std::erase_if(listing.single, [&](const auto& entry) { return now - entry.second.at > age; });
        if (const auto found = listing.single.find(name->key); found != listing.single.end()) {
            return found->second.answer;
        }
        list = list || listing.single.size() + 1 >= listed_after;
        before = forgotten_;
    }
    if (const auto live = list ? list_files(space) : nullptr) {
        return looked_up(*live, *name);
    }
    const auto at = std::chrono::steady_clock::now();
    auto answer = domain_->file(space.id, relative);
    if (answer.code == ok || answer.code == not_found) {
        const std::lock_guard lock(mutex_);
        if (forgotten_ == before) {
            listings_[space.id].single.insert_or_assign(name->key, Answered{at, answer});
        }
    }
    return answer;
}

LockStatus Client::GetLockStatus(const String& file, String& lockedby, String& lockedByDisplayName,
                                       String& lockedByPrincipalName, String& lockTimeStamp)
{
    const auto session = context();
    return or_empty(LockStatus::Unknown, [&] {
        const auto place = target(session, file, false);
        const auto answer = stored_file(place.space, place.path.relative);
        if (answer.code == bad_request) {
            throw UnsafePath{};
        }
        const auto row = answer.code == ok ? std::optional<FileRow>(answer.value) : std::nullopt;
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

List<String> Client::LockFiles(const List<String>& filesToLock, int& responsecode)
{
    const auto session = context();
    return batch(filesToLock, responsecode, ok, [&](const String& file) { return lock(target(session, file, true)); });
}

void Client::UnlockFiles(const List<String>& filesToUnlock, bool uploadChanges, int& responsecode)
{
    const auto session = context();
    static_cast<void>(batch(filesToUnlock, responsecode, ok, [&](const String& file) {
        return unlock(target(session, file, true), uploadChanges, session);
    }));
}

List<String> Client::UploadNewFiles(const List<String>& files, int& responsecode)
{
    const auto session = context();
    return batch(files, responsecode, created, [&](const String& file) {
        const auto place = target(session, file, true);
        const auto stored = domain_->file(place.space.id, place.path.relative).code;
        if (stored == bad_request) {
            throw UnsafePath{};
        }
        if (stored == ok) {
            throw Refusal{conflict};
        }
        return upload(session, place, false);
    });
}

void Client::TagFiles(const List<String>& filesToTag, const String& projectId, ApiModels::TagCategory category,
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
        std::vector<domain::SpaceFile> named;
        for (const auto& file : filesToTag) {
            const auto place = target(session, file, false);
            named.push_back({place.space.id, place.path.relative});
        }
        return domain_->tag(project, named, categoryName, name);
    });
}

String Client::GetFileId(const String& fileName)
{
    const auto session = context();
    return or_empty(String{}, [&] {
        const auto place = target(session, fileName, false);
        return service_text(accepted_or_refused(stored_file(place.space, place.path.relative)).id);
    });
}

Nullable<std::uint64_t> Client::GetFileRevision(const String& fileName)
{
    const auto session = context();
    return or_empty(Nullable<std::uint64_t>{}, [&] {
        const auto place = target(session, fileName, false);
        return Nullable<std::uint64_t>(
            static_cast<std::uint64_t>(accepted_or_refused(stored_file(place.space, place.path.relative)).revision));
    });
}

bool Client::FileExistsInProject(const String& fileName)
{
    return GetFileRevision(fileName).has_value();
}

void Client::FindFileInWebApp(const String& fileName)
{
    // An unknown file is an error, whether or not there is a page to show it on.
    const auto id = GetFileId(fileName);
    if (id.IsNull() || id.Length() == 0) {
        fail(ExceptionKind::Argument, "The file is not in the project.");
    }
    if (settings_.showFile) {
        settings_.showFile(utf8(id, "fileId"));
    }
}

Ref<FileSyncStatus> Client::GetFileSyncStatus()
{
    const auto session = context();
    auto status = std::make_shared<FileSyncStatus>();
    const auto count = [&](const std::optional<Space>& space, const Filters& filters) {
        if (!space) {
            return;
        }
        const auto folder = journal(*space);
        follow(*space, *folder);
        const auto add = [&](const std::vector<Journal::Sized>& files) {
            for (const auto& [path, size] : files) {
                if (filters.wanted(path)) {
                    status->FilesLeftToDownload += 1;
                    status->BytesLeftToDownload += size;
                }
            }
        };
        // Counted by the journal unless names filter them; the files a sync would bring back as
        // well (see pending()).
        if (filters.every()) {
            const auto left = folder->left(space->id);
            status->FilesLeftToDownload += static_cast<std::int32_t>(left.files);
            status->BytesLeftToDownload += left.bytes;
        } else {
            add(folder->left_sizes(space->id));
        }
        add(gone(space->root, folder->agreed_sizes(space->id),
                 [](const Journal::Sized& file) -> const std::string& { return file.first; }));
    };
    count(session.partition, session.partitionFilters);
    count(session.userDirectory, session.userDirectoryFilters);
    for (const auto& space : {session.partition, session.userDirectory}) {
        for (const auto& queued : space ? journal(*space)->queued() : std::vector<QueuedUpload>{}) {
            if (queued.spaceId == space->id) {
                std::error_code error;
                const auto size = std::filesystem::file_size(space->root / u8_path(queued.path), error);
                status->FilesLeftToUpload += 1;
                status->BytesLeftToUpload += error ? 0 : static_cast<std::int64_t>(size);
            }
        }
    }
    return status;
}

Ref<InfoForDownloadCopy> Client::GetInfoForDownloadCopy(const String& projectId, const String& partitionId,
                                                              int& responsecode)
{
    Ref<InfoForDownloadCopy> info;
    respond(responsecode, [&] {
        const auto partition = domain_->partition(utf8(projectId, "projectId"), utf8(partitionId, "partitionId"));
        if (partition.code != ok) {
            return partition.code;
        }
        info = std::make_shared<InfoForDownloadCopy>();
        for (const auto& file : domain_->files(partition.value.id)) {
            if (!file.deleted) {
                info->ByteSize += file.size;
                info->FilesInPartition += 1;
                info->FilesLocked += file.lock ? 1 : 0;
            }
        }
        return static_cast<int>(ok);
    });
    return info;
}

std::size_t Client::sync_space(const Space& space, const Filters& filters, bool missing,
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
        if (waiting_for_holder(item.file)) {
            left += 1; // held open by another program a moment ago: not asked again yet
            continue;
        }
        int code = 0;
        respond(code, [&] { return bring(space, item.file, item.working, service_text(item.file.path), true); });
        tried_held(item.file, code == domain::held_open);
        if (code == domain::held_open) {
            // Nothing was written; the file comes once its holder lets go, and the host is told once.
            left += 1;
            tell_once(space, item.file, Journal::Notice::Held,
                      item.file.deleted ? StatusEventType::Deleted : StatusEventType::Download, code, item.file.path);
            continue;
        }
        if (code == domain::token_refused || code == domain::unavailable) {
            // The back end serves no request now: every other file of the pass would be refused
            // alike, one request each. The pass ends as one that failed (see StartSyncDir).
            throw domain::NotServed(code, code == domain::token_refused, "The team service did not serve a download.",
                                    {});
        }
        // Conflicts and paths too long wait for the user, damaged content for a repair; other
        // failures are tried again.
        const bool retry = (code == failed && !known_damaged(item.file)) || code == no_space;
        left += retry ? 1U : 0U;
        if (code == no_space) {
            // The worker has no answer to give: a full disk is told, once, as an event.
            tell_once(space, item.file, Journal::Notice::Full, StatusEventType::Download, code,
                      item.file.path);
        }
    }
    return left;
}

std::size_t Client::sync_pass(const std::function<bool()>& stopping)
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
    std::size_t left = 0;
    for (const auto& [space, filters] : {std::pair{session.partition, session.partitionFilters},
                                         std::pair{session.userDirectory, session.userDirectoryFilters}}) {
        if (space) {
            if (missing) {
                // What killed transfers left goes at the same moments, for the same cost: a walk.
                sweep_temporaries(space->root, true);
            }
            left += sync_space(*space, filters, missing, stopping);
        }
    }
    return left;
}

bool Client::fetch(const std::optional<Space>& space, const List<String>& wildCardFilter,
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
    sweep_temporaries(space->root, true);
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

void Client::flush_queue()
{
    const auto session = context();
    // A space's queue waits in its folder's journal until that folder is open in a session.
    for (const auto& space : {session.partition, session.userDirectory}) {
        const auto folder = space ? journal(*space) : nullptr;
        for (const auto& queued : folder ? folder->queued() : std::vector<QueuedUpload>{}) {
            if (queued.spaceId == space->id) {
                flush(session, *space, *folder, queued);
            }
        }
    }
}

void Client::flush(const Context& session, const Space& space, Journal& folder, const QueuedUpload& queued)
{
    int code = 0;
    respond(code, [&] {
        const Target place{space, resolve(space.root, queued.path), service_text(queued.path)};
        return upload(session, place, queued.unlock);
    });
    if (code >= bad_request) {
        tell_user(StatusEventType::Upload, code, queued.path);
    }
    // A full disk, a failing folder or a file another program holds passes; the upload stays
    // queued for the next flush.
    if (code < failed && code != domain::held_open) {
        folder.unqueue(queued);
    }
}

} // namespace vyr::cld::local
