// Three users, each in a process of its own on one store, go through many random operations:
// locks, uploads, downloads, deletions, renames, sync passes, local edits and deletions, and
// processes killed in the middle of one. A model holds what the store, every working folder and
// every user's last agreement with the store should be after each step; the store is read back
// through the bridge and the folders from disk, and both must match it.
//
// VYR_MODEL_SEED and VYR_MODEL_STEPS repeat a run (a timer kill may still fall elsewhere).
#include "system.h"

#include <vyr/cld/integration.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>

namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;
using namespace vyr::cld::test;
using vyr::cld::StatusEventType;

const std::vector<std::string> users{"anna", "bert", "carl"};
const std::vector<std::string> names{"a.txt", "b.txt", "d.txt", "f.txt", "sub/c.txt", "sub/e.txt"};
constexpr long chunk = 64 * 1024; // the service reports progress once per chunk it copies

long setting(const char* name, long fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::stol(value) : fallback;
}

// TODO(issue 17): name each fault here once the service is mended. Until then
// VYR_MODEL_STRICT=2,3,8,13,order (or "all") drives what each breaks today: an upload of a copy
// that predates a delete (item 2); local deletions of stored files and renames killed at a random
// moment (item 3); one conflict event per revision across processes (item 8); no temporary file
// left after a later pass (item 13); a rename onto the name of a deleted file, which another
// user's pass takes for a conflict when it meets the renamed file before the deleted one (order).
const std::set<std::string> mended_faults{};

bool mended(const std::string& fault)
{
    const char* value = std::getenv("VYR_MODEL_STRICT");
    const std::string list = "," + std::string(value != nullptr ? value : "") + ",";
    return mended_faults.contains(fault) || list == ",all," || list.find("," + fault + ",") != std::string::npos;
}

// Content number n: a header and filler, its size unlike any other number's, so that an edit is
// never taken for the unchanged file by its size and time. 1 to 5 chunks.
long size_of(int n) { return 9000 + static_cast<long>(n) * 7919 % 290000; }
// Progress calls of a transfer of content n: one per chunk, then the removal of the bar.
int calls_for(int n) { return static_cast<int>((size_of(n) + chunk - 1) / chunk) + 1; }

std::string content(int n)
{
    std::string text = "content " + std::to_string(n) + "\n";
    std::minstd_rand filler(static_cast<std::minstd_rand::result_type>(n) + 1);
    const auto start = text.size();
    text.resize(static_cast<std::size_t>(size_of(n)));
    for (std::size_t i = start; i < text.size(); ++i) {
        text[i] = static_cast<char>('a' + filler() % 26);
    }
    return text;
}

// The number whose content `text` is whole, else -1.
int number_of(const std::string& text)
{
    if (text.rfind("content ", 0) != 0) {
        return -1;
    }
    const int n = std::atoi(text.c_str() + 8);
    return text == content(n) ? n : -1;
}

struct File {
    std::string path;
    int revision = 0;
    int n = 0;
    bool deleted = false;
    std::string lock;
};

// What a working folder held when it last agreed with the store.
struct Base {
    std::string path;
    int revision = 0;
    int n = 0;
};

enum class Kind { Lock, Unlock, UnlockUpload, Upload, Download, Delete, Rename, Fetch, Worker };
const char* const kind_names[] = {"lock", "unlock", "unlock --upload", "upload", "download",
                                  "delete", "rename", "fetch all", "worker pass"};

struct Op {
    Kind kind{};
    std::string user, path, to;
    int kill = 0;      // killed at this progress call (1 = the first), 0 for none
    int timerUs = -1; // or killed this long after the store was opened
};

struct Outcome {
    int code = 200;
    bool ok = true; // what GetProjectFiles answers
    std::set<std::string> exceptions;
    bool killed = false;
};

struct Model {
    std::map<std::string, File> files;                        // by id
    std::map<std::string, std::map<std::string, Base>> base;  // user, file id
    std::map<std::string, std::map<std::string, int>> local;  // user, path: content number
    std::map<std::string, std::set<std::string>> conflicts;   // user: event type, path, file, revision
    std::map<std::string, std::set<std::string>> strays;      // user: paths a later pass may remove

    std::string live(const std::string& path) const
    {
        for (const auto& [id, file] : files) {
            if (!file.deleted && file.path == path) {
                return id;
            }
        }
        return "";
    }

    // The deleted row of that name the store would revive with an upload.
    std::string tombstone(const std::string& path) const
    {
        std::string found;
        for (const auto& [id, file] : files) {
            if (file.deleted && file.path == path && (found.empty() || file.revision > files.at(found).revision)) {
                found = id;
            }
        }
        return found;
    }

    // Copying n out or in: false when the kill falls into it. `budget` counts the calls left.
    static bool copied(int n, int& budget)
    {
        const int calls = calls_for(n);
        if (budget > 0 && budget <= calls) {
            return false;
        }
        budget -= budget > 0 ? calls : 0;
        return true;
    }

    // Brings one stored file into a user's folder as the sync rules say. Kill: the chunks' calls,
    // then one more after the rename into place and before the agreement is recorded.
    void bring(const std::string& user, const std::string& id, int& budget, Outcome& out)
    {
        const File& file = files.at(id);
        auto& folder = local[user];
        auto& bases = base[user];
        const auto conflict = [&](const std::string& at) {
            conflicts[user].insert(std::to_string(static_cast<int>(
                                       file.deleted ? StatusEventType::Deleted : StatusEventType::Download)) +
                                   ' ' + at + ' ' + id + ' ' + std::to_string(file.revision));
            out.exceptions.insert(at);
            out.ok = false;
            out.code = 409;
        };
        const auto agree = [&] {
            bases[id] = {file.path, file.revision, file.n};
            out.exceptions.erase(file.path);
        };
        std::optional<Base> was;
        if (const auto b = bases.find(id); b != bases.end()) {
            was = b->second;
        }
        if (file.deleted) {
            if (was && folder.contains(was->path) && folder[was->path] != was->n) {
                return conflict(was->path);
            }
            if (was) {
                folder.erase(was->path);
                bases.erase(id);
            }
            return;
        }
        if (was && was->path != file.path) {
            if (folder.contains(was->path) && !folder.contains(file.path)) {
                if (folder[was->path] != was->n) {
                    return conflict(was->path);
                }
                folder[file.path] = was->n;
                folder.erase(was->path);
                was->path = file.path;
                bases[id] = *was;
            } else {
                was.reset();
            }
        }
        if (folder.contains(file.path)) {
            const int there = folder[file.path];
            if (!was || there != was->n) {
                return there == file.n ? agree() : conflict(file.path);
            }
            if (was->n == file.n) {
                return agree();
            }
        }
        if (!copied(file.n, budget)) {
            out.killed = true;
            if (budget == calls_for(file.n)) {
                folder[file.path] = file.n; // in place, but not yet recorded as agreed
            }
            return;
        }
        folder[file.path] = file.n;
        agree();
    }

    // One sync pass: every file the user's folder is behind on, in the store's order.
    void pass(const std::string& user, int& budget, Outcome& out)
    {
        std::vector<std::pair<std::string, std::string>> behind; // path, id
        for (const auto& [id, file] : files) {
            const auto b = base[user].find(id);
            const bool known = b != base[user].end();
            const bool stale = !known || b->second.revision < file.revision || b->second.path != file.path;
            // A local deletion is not a deletion in the store: the pass brings the file back.
            const bool missing = mended("3") && !local[user].contains(file.path);
            if (file.deleted ? known : stale || missing) {
                behind.emplace_back(file.path + (file.deleted ? '\0' : '\1'), id);
            }
        }
        std::sort(behind.begin(), behind.end());
        for (const auto& item : behind) {
            if (!out.killed) {
                bring(user, item.second, budget, out);
            }
        }
        out.code = 200;
    }

    // Predicts `op` to its end or its kill; `created` is the id the store gave a new file.
    Outcome apply(const Op& op, const std::string& created)
    {
        Outcome out;
        int budget = op.kill;
        auto& folder = local[op.user];
        auto& bases = base[op.user];
        const std::string id = live(op.path);
        File* file = id.empty() ? nullptr : &files[id];
        const bool others = file && !file->lock.empty() && file->lock != op.user;
        const auto code = [&](int c) {
            out.code = c;
            return out;
        };
        switch (op.kind) {
        case Kind::Fetch:
        case Kind::Worker:
            pass(op.user, budget, out);
            return out;
        case Kind::Upload:
        case Kind::UnlockUpload: {
            if (!folder.contains(op.path)) {
                return code(404);
            }
            const int n = folder[op.path];
            if (!file) {
                const auto gone = tombstone(op.path);
                if (!gone.empty() && bases.contains(gone)) {
                    return code(409); // a copy from before the delete
                }
                if (!copied(n, budget)) {
                    out.killed = true;
                    return out;
                }
                File& made = files[created];
                made = {op.path, made.revision + 1, n, false, ""};
                bases[created] = {op.path, made.revision, n};
                return code(201);
            }
            if (others) {
                return code(409);
            }
            if (n != file->n) {
                if (!bases.contains(id) || bases[id].revision < file->revision) {
                    return code(409);
                }
                if (!copied(n, budget)) {
                    out.killed = true;
                    return out;
                }
                file->revision += 1;
                file->n = n;
            }
            bases[id] = {file->path, file->revision, file->n};
            if (op.kind == Kind::UnlockUpload && file->lock == op.user) {
                file->lock.clear();
            }
            return code(200);
        }
        case Kind::Rename:
            if (folder.contains(op.to)) {
                return code(409);
            }
            break;
        default:
            break;
        }
        if (!file) {
            return code(404);
        }
        switch (op.kind) {
        case Kind::Lock:
            if (!others) {
                file->lock = op.user;
            }
            return code(others ? 409 : 200);
        case Kind::Unlock:
            if (!others) {
                file->lock.clear();
            }
            return code(others ? 409 : 200);
        case Kind::Download:
            bring(op.user, id, budget, out);
            return out;
        case Kind::Delete:
            if (others) {
                return code(409);
            }
            file->revision += 1;
            file->deleted = true;
            file->lock.clear();
            bases.erase(id);
            folder.erase(op.path);
            return code(200);
        case Kind::Rename:
            if (others || !live(op.to).empty()) {
                return code(409);
            }
            file->path = op.to;
            file->revision += 1;
            if (bases.contains(id)) {
                bases[id].path = op.to;
                bases[id].revision = file->revision;
            }
            if (folder.contains(op.path)) {
                folder[op.to] = folder[op.path];
                folder.erase(op.path);
            }
            return code(200);
        default:
            return out;
        }
    }

    // What the checker should read for every name: revision, id, lock holder, content.
    std::string store_view() const
    {
        std::string view;
        for (const auto& name : names) {
            const auto id = live(name);
            if (id.empty()) {
                view += name + " -\n";
            } else {
                const File& file = files.at(id);
                view += name + ' ' + std::to_string(file.revision) + ' ' + id + " [" + file.lock + "] " +
                        std::to_string(file.n) + '\n';
            }
        }
        return view;
    }
};

// What a user's process answered; `finished` is false when it was killed.
struct Answer {
    bool finished = false;
    int code = 0;
    bool ok = false;
    std::string id;
    std::set<std::string> exceptions;
    std::vector<std::string> conflictEvents; // event type and path
};

void open_as(const fs::path& store, const fs::path& root, const std::string& user)
{
    static std::optional<Installed> service;
    service.emplace(store, user);
    select_project("Model", root / user);
}

std::string perform(const fs::path& store, const fs::path& root, const Op& op, int ready)
{
    open_as(store, root, op.user);
    static std::atomic<int> calls{0};
    static int kill_at = 0;
    kill_at = op.kill;
    api::SetCallbacks([](vyr::cld::ProgressEventType, double, const std::string&) {
        if (++calls == kill_at) {
            raise(SIGKILL);
        }
    });
    if (write(ready, "r", 1) != 1) {
        return "";
    }
    int code = 0;
    bool ok = true;
    switch (op.kind) {
    case Kind::Lock: api::LockFile(op.path, code); break;
    case Kind::Unlock: api::UnlockFile(op.path, false, code); break;
    case Kind::UnlockUpload: api::UnlockFile(op.path, true, code); break;
    case Kind::Upload: api::UploadFile(op.path, code); break;
    case Kind::Download: api::DownloadFile(op.path, code); break;
    case Kind::Delete: api::RemoveFile(op.path, code); break;
    case Kind::Rename: api::RenameFile(op.path, op.to, code); break;
    case Kind::Fetch: ok = api::GetProjectFiles(std::nullopt, std::nullopt); break;
    case Kind::Worker:
        api::StartSyncDir();
        api::WaitForAllTasks(std::chrono::seconds(20), code);
        api::StopSyncDir();
        break;
    }
    std::ostringstream out;
    out << code << ' ' << ok << ' ' << api::GetFileId(op.path).value_or("-") << '\n';
    for (const auto& path : api::CheckDownSyncFileExceptions()) {
        out << "x " << path << '\n';
    }
    for (const auto& event : api::GetStatusEvents()) {
        if (event.status == 409) {
            out << "e " << static_cast<int>(event.type) << ' ' << event.responseId << '\n';
        }
    }
    return out.str();
}

// Runs `op` in a child process; a timer kill strikes `op.timerUs` after the store is open.
Answer run(const fs::path& store, const fs::path& root, const Op& op)
{
    int answer[2];
    int ready[2];
    if (pipe(answer) != 0 || pipe(ready) != 0) {
        return {};
    }
    const pid_t child = start_child([&] {
        close(answer[0]);
        close(ready[0]);
        const std::string text = perform(store, root, op, ready[1]);
        if (write(answer[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            _exit(3);
        }
    });
    close(answer[1]);
    close(ready[1]);
    char byte = 0;
    if (op.timerUs >= 0 && read(ready[0], &byte, 1) == 1) {
        std::this_thread::sleep_for(std::chrono::microseconds(op.timerUs));
        kill(child, SIGKILL);
    }
    std::string text;
    char buffer[4096];
    for (ssize_t got; (got = read(answer[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    close(answer[0]);
    close(ready[0]); // only now: a child writing to a closed pipe would die of SIGPIPE
    int status = 0;
    waitpid(child, &status, 0);
    Answer out;
    out.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0 && !text.empty();
    std::istringstream lines(text);
    lines >> out.code >> out.ok >> out.id;
    for (std::string tag, rest; lines >> tag && std::getline(lines, rest);) {
        if (tag == "x") {
            out.exceptions.insert(rest.substr(1));
        } else {
            out.conflictEvents.push_back(rest.substr(1));
        }
    }
    return out;
}

// Every name as a fresh user reads it through the bridge: revision, id, holder and the content a
// download brings, in the form of Model::store_view.
std::string read_store(const fs::path& store, const fs::path& root)
{
    return in_child([&] {
        fs::remove_all(root / "checker");
        open_as(store, root, "checker");
        std::string view;
        for (const auto& name : names) {
            const auto revision = api::GetFileRevision(name);
            if (!revision) {
                view += name + " -\n";
                continue;
            }
            std::string holder, display, principal, since;
            api::GetLockStatus(name, holder, display, principal, since);
            int code = 0;
            api::DownloadFile(name, code);
            const int n = code == 200 ? number_of(read_file(root / "checker" / name)) : -code;
            view += name + ' ' + std::to_string(*revision) + ' ' + api::GetFileId(name).value_or("?") + " [" +
                    holder + "] " + std::to_string(n) + '\n';
        }
        return view;
    });
}

// A user's folder from disk: content numbers by path, and the count of the service's temporaries.
std::pair<std::map<std::string, int>, int> read_folder(const fs::path& folder)
{
    std::pair<std::map<std::string, int>, int> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        if (entry.path().filename().string().starts_with(".vyrcld-")) {
            out.second += 1;
        } else {
            out.first[fs::relative(entry.path(), folder).generic_string()] = number_of(read_file(entry.path()));
        }
    }
    return out;
}

std::string describe(const Op& op)
{
    std::string text = op.user + ' ' + kind_names[static_cast<int>(op.kind)];
    text += op.path.empty() ? "" : ' ' + op.path;
    text += op.to.empty() ? "" : " -> " + op.to;
    text += op.kill > 0 ? " (killed at progress call " + std::to_string(op.kill) + ")" : "";
    text += op.timerUs >= 0 ? " (killed after " + std::to_string(op.timerUs) + " us)" : "";
    return text;
}

TEST(ModelRun, ThreeUsersMatchTheModelThroughRandomOperationsAndKills)
{
    const auto seed = static_cast<unsigned>(setting("VYR_MODEL_SEED", static_cast<long>(std::random_device{}())));
    const long steps = setting("VYR_MODEL_STEPS", 150);
    std::mt19937 random(seed);
    const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "setup", "Model", temp.path() / "setup", {}), "");
    for (const auto& user : users) {
        fs::create_directories(temp.path() / user);
    }

    Model model;
    std::map<std::string, std::map<std::string, int>> received; // user: conflict events by type and path
    std::vector<std::string> log;
    int next = 1;
    int kills = 0;
    std::map<std::string, int> seen; // operation and outcome: what the run covered
    const auto failed = [&](const std::string& what) {
        std::ostringstream text;
        text << what << "\nseed " << seed << " (VYR_MODEL_SEED=" << seed << " VYR_MODEL_STEPS=" << log.size()
             << " VYR_MODEL_STRICT=" << (std::getenv("VYR_MODEL_STRICT") ? std::getenv("VYR_MODEL_STRICT") : "") << "), steps:\n";
        for (const auto& line : log) {
            text << "  " << line << '\n';
        }
        return text.str();
    };
    for (long step = 0; step < steps; ++step) {
        const std::string user = pick(users);
        const int dice = static_cast<int>(random() % 100);
        auto& folder = model.local[user];
        // Most operations act on a name the user has locally or the store has.
        std::vector<std::string> mine, stored;
        for (const auto& name : names) {
            if (folder.contains(name)) {
                mine.push_back(name);
            }
            if (!model.live(name).empty()) {
                stored.push_back(name);
            }
        }
        const auto among = [&](const std::vector<std::string>& likely) {
            return !likely.empty() && random() % 4 != 0 ? pick(likely) : pick(names);
        };
        std::optional<Op> op;
        if (dice < 14) {
            const std::string path = among(stored);
            folder[path] = next;
            write_file(temp.path() / user / path, content(next++));
            log.push_back(user + " edits " + path + " locally");
        } else if (dice < 18) {
            const std::string path = among(mine);
            const bool tracked = std::any_of(model.base[user].begin(), model.base[user].end(),
                                             [&](const auto& entry) { return entry.second.path == path; });
            if (!folder.contains(path) || (!mended("3") && tracked)) {
                --step;
                continue;
            }
            folder.erase(path);
            fs::remove(temp.path() / user / path);
            log.push_back(user + " deletes " + path + " locally");
        } else {
            static const std::pair<int, Kind> table[] = {
                {27, Kind::Lock},     {33, Kind::Unlock}, {40, Kind::UnlockUpload}, {54, Kind::Upload},
                {61, Kind::Download}, {65, Kind::Delete}, {71, Kind::Rename},       {80, Kind::Fetch},
                {85, Kind::Worker}};
            op = Op{Kind::Upload, user, "", "", 0, -1};
            for (const auto& [below, kind] : table) {
                if (dice < below) {
                    op->kind = kind;
                    break;
                }
            }
            if (dice >= 85 || random() % 8 == 0) { // a kill: at a progress call, or at a random moment
                static const Kind progress[] = {Kind::Upload, Kind::UnlockUpload, Kind::Download, Kind::Fetch,
                                                Kind::Worker};
                static const Kind timed[] = {Kind::Lock, Kind::Unlock, Kind::Delete, Kind::Rename};
                if (random() % 3 != 0) {
                    op->kind = progress[random() % 5];
                    op->kill = 1 + static_cast<int>(random() % 5);
                } else {
                    op->kind = timed[random() % (mended("3") ? 4 : 3)];
                    op->timerUs = static_cast<int>(random() % 25000); // a write with its flushes takes 5 to 30 ms
                }
            }
            const bool uploads = op->kind == Kind::Upload || op->kind == Kind::UnlockUpload;
            op->path = among(uploads ? mine : stored);
            while (op->kind == Kind::Rename && (op->to = pick(names)) == op->path) {
            }
            if (op->kind == Kind::Fetch || op->kind == Kind::Worker) {
                op->path.clear();
            }
            if (!mended("order") && op->kind == Kind::Rename && !model.tombstone(op->to).empty()) {
                --step; // TODO(issue 17): see RenameOntoADeletedNameIsNoConflictElsewhere
                continue;
            }
            const auto gone = model.tombstone(op->path);
            if (!mended("2") && uploads && folder.contains(op->path) && model.live(op->path).empty() && !gone.empty() &&
                model.base[user].contains(gone)) {
                --step; // TODO(issue 17, item 2): today such an upload revives the deleted file
                continue;
            }
            log.push_back(describe(*op));
        }
        if (op) {
            const Model before = model;
            const Answer answer = run(store, temp.path(), *op);
            const Outcome expected = model.apply(*op, answer.id);
            const std::string view = read_store(store, temp.path());
            if (op->timerUs >= 0 && !answer.finished) {
                // Killed at a random moment: the store holds the whole operation or none of it,
                // and the folder holds, name by name, what it held before or after.
                ++kills;
                if (view == before.store_view()) {
                    model = before;
                    seen[std::string(kind_names[static_cast<int>(op->kind)]) + " killed before"] += 1;
                } else {
                    seen[std::string(kind_names[static_cast<int>(op->kind)]) + " killed after"] += 1;
                    ASSERT_EQ(view, model.store_view()) << failed("a killed operation left half of itself");
                    const auto disk = read_folder(temp.path() / user).first;
                    std::set<std::string> touched;
                    const std::map<std::string, int>* sides[] = {&before.local.at(user), &model.local[user]};
                    for (const auto* side : sides) {
                        for (const auto& entry : *side) {
                            touched.insert(entry.first);
                        }
                    }
                    for (const auto& name : touched) {
                        const auto now = model.local[user].find(name);
                        const auto was = before.local.at(user).find(name);
                        const auto on_disk = disk.find(name);
                        const int n = on_disk == disk.end() ? 0 : on_disk->second;
                        const bool after_ok = n == (now == model.local[user].end() ? 0 : now->second);
                        if (!after_ok && n == (was == before.local.at(user).end() ? 0 : was->second)) {
                            if (n == 0) {
                                model.local[user].erase(name);
                            } else {
                                model.local[user][name] = n;
                            }
                            if (op->kind == Kind::Rename) {
                                model.strays[user].insert(name); // the next pass may complete the move
                            }
                        }
                    }
                }
            } else {
                kills += answer.finished ? 0 : 1;
                ASSERT_EQ(answer.finished, !expected.killed) << failed("the kill did not fall where predicted");
                if (answer.finished) {
                    if (op->kind == Kind::Fetch) {
                        ASSERT_EQ(answer.ok, expected.ok) << failed("GetProjectFiles answered otherwise");
                    } else {
                        ASSERT_EQ(answer.code, expected.code) << failed("wrong response code");
                    }
                    if (op->kind == Kind::Download || op->kind == Kind::Fetch || op->kind == Kind::Worker) {
                        ASSERT_EQ(answer.exceptions, expected.exceptions) << failed("wrong download exceptions");
                    }
                }
                ASSERT_EQ(view, model.store_view()) << failed("the store differs from the model");
            }
            if (answer.finished || op->timerUs < 0) {
                seen[std::string(kind_names[static_cast<int>(op->kind)]) + ' ' +
                     (answer.finished ? std::to_string(op->kind == Kind::Fetch ? answer.ok : answer.code) : "killed")] += 1;
            }
            if (answer.finished) {
                // Events are kept per user in the store, so a killed process's come with the next.
                for (const auto& event : answer.conflictEvents) {
                    received[user][event] += 1;
                }
                std::map<std::string, int> predicted;
                for (const auto& key : model.conflicts[user]) {
                    predicted[key.substr(0, key.rfind(' ', key.rfind(' ') - 1))] += 1;
                }
                for (const auto& [event, count] : predicted) {
                    // TODO(issue 17, item 8): once per revision, however many processes sync.
                    ASSERT_TRUE(mended("8") ? received[user][event] == count : received[user][event] >= count)
                        << failed(user + " received " + std::to_string(received[user][event]) + " conflict events " +
                                  event + " for " + std::to_string(count) + " conflicting revisions");
                }
                for (const auto& [event, count] : received[user]) {
                    ASSERT_TRUE(predicted.contains(event)) << failed("unexpected conflict event " + event);
                }
            }
        }
        for (const auto& who : users) {
            const auto [disk, temporaries] = read_folder(temp.path() / who);
            auto& expected = model.local[who];
            for (auto stray = model.strays[who].begin(); stray != model.strays[who].end();) {
                const bool gone = !disk.contains(*stray) && expected.contains(*stray);
                if (gone) {
                    expected.erase(*stray);
                }
                stray = gone ? model.strays[who].erase(stray) : std::next(stray);
            }
            ASSERT_EQ(disk, expected) << failed(who + "'s working folder differs from the model");
            const bool passed = op && op->user == who && op->kill == 0 &&
                                (op->kind == Kind::Fetch || op->kind == Kind::Worker);
            // TODO(issue 17, item 13): a pass removes what a killed transfer left.
            ASSERT_FALSE(mended("13") && passed && temporaries > 0)
                << failed(std::to_string(temporaries) + " temporary files left in " + who + "'s folder after a pass");
            if (passed) {
                model.strays[who].clear();
            }
        }
        const auto problems = integrity_problems(store);
        ASSERT_TRUE(problems.empty()) << failed("store: " + problems.front());
        if (step % 25 == 24 || step == steps - 1) {
            const auto partial = partial_blobs(store);
            ASSERT_TRUE(partial.empty()) << failed("partial blob " + partial.front());
        }
    }
    std::cout << "model run: seed " << seed << ", " << steps << " steps, " << kills << " processes killed, "
              << model.files.size() << " files stored" << "; outcomes:";
    for (const auto& [what, count] : seen) {
        std::cout << ' ' << what << " x" << count << ',';
    }
    std::cout << '\n';
    if (setting("VYR_MODEL_LOG", 0) != 0) {
        std::cout << failed("log");
    }
}

// Found by the run above: bert has x.txt and y.txt as stored; anna deletes y.txt and renames x.txt
// to y.txt. Bert's copies are unchanged, so one pass must remove one and move the other.
TEST(ModelRun, RenameOntoADeletedNameIsNoConflictElsewhere)
{
    if (!mended("order")) {
        GTEST_SKIP() << "TODO(issue 17): today a pass that meets the renamed file before the deleted one reports a "
                        "conflict on y.txt and leaves x.txt where it was until the next pass";
    }
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "anna", "Model", temp.path() / "anna", {{"x.txt", content(1)}, {"y.txt", content(2)}}),
              "");
    ASSERT_TRUE(run(store, temp.path(), {Kind::Fetch, "bert", "", "", 0, -1}).ok);
    ASSERT_EQ(run(store, temp.path(), {Kind::Delete, "anna", "y.txt", "", 0, -1}).code, 200);
    ASSERT_EQ(run(store, temp.path(), {Kind::Rename, "anna", "x.txt", "y.txt", 0, -1}).code, 200);
    const Answer pass = run(store, temp.path(), {Kind::Fetch, "bert", "", "", 0, -1});
    EXPECT_TRUE(pass.ok);
    EXPECT_EQ(pass.exceptions, std::set<std::string>{});
    EXPECT_EQ(pass.conflictEvents, std::vector<std::string>{});
    EXPECT_EQ(read_folder(temp.path() / "bert").first, (std::map<std::string, int>{{"y.txt", 1}}));
}

} // namespace
