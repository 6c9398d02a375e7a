// Three users, each in a process of its own on one store, go through many random operations:
// locks, uploads, downloads, deletions, renames, sync passes, local edits and deletions, and
// processes killed in the middle of one. A model holds what the store, every working folder and
// every user's last agreement with the store should be; after each step the store is read back
// through the bridge and the folders from disk, and both must match it.
// VYR_MODEL_SEED and VYR_MODEL_STEPS repeat a run (a kill at a random moment may fall elsewhere).
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

// Parts of the run that each catch one fault, all on: an upload of a copy that predates a delete
// is refused (2); local deletions of stored files are brought back and renames killed at a random
// moment are finished by a later pass (3); one conflict event per revision across processes (8);
// no temporary file is left after a later pass (13); a rename onto the name of a deleted file
// follows without a conflict (order). VYR_MODEL_STRICT names parts to switch on where a fault is
// reintroduced on purpose and a part was taken out of this set.
const std::set<std::string> mended_faults{"2", "3", "8", "13", "order"};

bool mended(const std::string& fault)
{
    const char* value = std::getenv("VYR_MODEL_STRICT");
    const std::string list = "," + std::string(value != nullptr ? value : "") + ",";
    return mended_faults.contains(fault) || list == ",all," || list.find("," + fault + ",") != std::string::npos;
}

// Content number n: a header and filler, its size unlike any other number's, so that an edit is
// never taken for the unchanged file by its size and time; 1 to 5 chunks.
long size_of(int n)
{
    return 9000 + static_cast<long>(n) * 7919 % 290000;
}
// A transfer's progress calls: one per chunk, then the removal of the bar.
int calls_for(int n)
{
    return static_cast<int>((size_of(n) + chunk - 1) / chunk) + 1;
}

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

// The number whose whole content `text` is, else -1.
int number_of(const std::string& text)
{
    const int n = text.rfind("content ", 0) == 0 ? std::atoi(text.c_str() + 8) : -1;
    return n >= 0 && text == content(n) ? n : -1;
}

// A stored file, or what a working folder held when it last agreed with the store.
struct File {
    std::string path;
    int revision = 0, n = 0;
    bool deleted = false;
    std::string lock;
};

enum class Kind { Lock, Unlock, UnlockUpload, Upload, Download, Delete, Rename, Fetch, Worker };
const char* const kind_names[] = {"lock",   "unlock", "unlock --upload", "upload",     "download",
                                  "delete", "rename", "fetch all",       "worker pass"};

struct Op {
    Kind kind{};
    std::string user, path, to;
    int kill = 0;     // killed at this progress call (1 = the first), 0 for none
    int timerUs = -1; // or killed this long after the store was opened
};

struct Outcome {
    int code = 200;
    bool ok = true; // what GetProjectFiles answers
    std::set<std::string> exceptions;
    bool killed = false;
};

struct Model {
    std::map<std::string, File> files;                                             // by id
    std::map<std::string, std::map<std::string, File>> base;                       // user, file id
    std::map<std::string, std::map<std::string, int>> local;                       // user, path: content
    std::map<std::string, std::map<std::string, std::set<std::string>>> conflicts; // user, event: file revisions
    std::map<std::string, std::set<std::string>> strays; // user: paths a later pass may take away

    std::string live(const std::string& path) const
    {
        const auto it = std::find_if(files.begin(), files.end(),
                                     [&](const auto& f) { return !f.second.deleted && f.second.path == path; });
        return it == files.end() ? "" : it->first;
    }

    // The deleted file of that name an upload revives: the store keeps one row per file.
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

    // Whether a copy of content n ends before the kill; `budget` counts the progress calls left.
    static bool copied(int n, int& budget)
    {
        if (budget > 0 && budget <= calls_for(n)) {
            return false;
        }
        budget -= budget > 0 ? calls_for(n) : 0;
        return true;
    }

    // Brings one stored file into a user's folder as the sync rules say.
    void bring(const std::string& user, const std::string& id, int& budget, Outcome& out)
    {
        const File& file = files.at(id);
        auto& folder = local[user];
        auto& bases = base[user];
        const auto conflict = [&](const std::string& at) {
            const auto type = file.deleted ? StatusEventType::Deleted : StatusEventType::Download;
            conflicts[user][std::to_string(static_cast<int>(type)) + ' ' + at].insert(id + ' ' +
                                                                                      std::to_string(file.revision));
            out.exceptions.insert(at);
            out.ok = false;
            out.code = 409;
        };
        const auto agree = [&] {
            bases[id] = file;
            out.exceptions.erase(file.path);
        };
        std::optional<File> was;
        if (bases.contains(id)) {
            was = bases[id];
        }
        if (file.deleted) {
            if (!was) {
                return;
            }
            if (folder.contains(was->path) && folder[was->path] != was->n) {
                return conflict(was->path);
            }
            folder.erase(was->path);
            bases.erase(id);
            return;
        }
        if (was && was->path != file.path) { // renamed: the unchanged copy moves along
            if (!folder.contains(was->path) || folder.contains(file.path)) {
                was.reset();
            }
            else if (folder[was->path] != was->n) {
                return conflict(was->path);
            }
            else {
                folder[file.path] = was->n;
                folder.erase(was->path);
                bases[id].path = was->path = file.path;
            }
        }
        if (folder.contains(file.path)) {
            const int there = folder[file.path];
            if (!was || there != was->n || was->n == file.n) {
                return there == file.n ? agree() : conflict(file.path);
            }
        }
        if (copied(file.n, budget)) {
            folder[file.path] = file.n;
            return agree();
        }
        out.killed = true;
        if (budget == calls_for(file.n)) {
            folder[file.path] = file.n; // renamed into place, not yet recorded as agreed
        }
    }

    // One sync pass over every file the user's folder is behind on, by name, a deleted one first.
    void pass(const std::string& user, int& budget, Outcome& out)
    {
        std::vector<std::pair<std::string, std::string>> behind;
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
        for (auto item = behind.begin(); item != behind.end() && !out.killed; ++item) {
            bring(user, item->second, budget, out);
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
        const auto answer = [&](int code) {
            out.code = code;
            return out;
        };
        const auto killed = [&] {
            out.killed = true;
            return out;
        };
        if (op.kind == Kind::Fetch || op.kind == Kind::Worker) {
            pass(op.user, budget, out);
            return out;
        }
        if (op.kind == Kind::Upload || op.kind == Kind::UnlockUpload) {
            if (!folder.contains(op.path)) {
                return answer(404);
            }
            const int n = folder[op.path];
            if (!file) {
                if (bases.contains(tombstone(op.path))) {
                    return answer(409); // a copy from before the delete
                }
                if (!copied(n, budget)) {
                    return killed();
                }
                File& made = files[created];
                made = {op.path, made.revision + 1, n, false, ""};
                bases[created] = made;
                return answer(201);
            }
            if (others || (n != file->n && (!bases.contains(id) || bases[id].revision < file->revision))) {
                return answer(409);
            }
            if (n != file->n && !copied(n, budget)) {
                return killed();
            }
            file->revision += n != file->n ? 1 : 0;
            file->n = n;
            if (op.kind == Kind::UnlockUpload && file->lock == op.user) {
                file->lock.clear();
            }
            bases[id] = *file;
            return answer(200);
        }
        if (op.kind == Kind::Rename && folder.contains(op.to)) {
            return answer(409);
        }
        if (!file) {
            return answer(404);
        }
        if (op.kind == Kind::Download) {
            bring(op.user, id, budget, out);
            return out;
        }
        if (others || (op.kind == Kind::Rename && !live(op.to).empty())) {
            return answer(409);
        }
        if (op.kind == Kind::Lock || op.kind == Kind::Unlock) {
            file->lock = op.kind == Kind::Lock ? op.user : "";
            return answer(200);
        }
        file->revision += 1;
        if (op.kind == Kind::Delete) {
            file->deleted = true;
            file->lock.clear();
            bases.erase(id);
            folder.erase(op.path);
            return answer(200);
        }
        file->path = op.to;
        // The agreement follows the local file's move; a copy that was behind the store stays behind.
        if (bases.contains(id)) {
            bases[id].path = op.to;
            if (bases[id].revision == file->revision - 1) {
                bases[id].revision = file->revision;
            }
        }
        if (folder.contains(op.path)) {
            folder[op.to] = folder[op.path];
            folder.erase(op.path);
        }
        return answer(200);
    }

    // What a reader of the store should see for every name: revision, id, lock holder, content.
    std::string view() const
    {
        std::string text;
        for (const auto& name : names) {
            const auto id = live(name);
            const File* file = id.empty() ? nullptr : &files.at(id);
            text += name +
                    (file ? ' ' + std::to_string(file->revision) + ' ' + id + " [" + file->lock + "] " +
                                std::to_string(file->n)
                          : " -") +
                    '\n';
        }
        return text;
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
    case Kind::Lock:
        api::LockFile(op.path, code);
        break;
    case Kind::Unlock:
        api::UnlockFile(op.path, false, code);
        break;
    case Kind::UnlockUpload:
        api::UnlockFile(op.path, true, code);
        break;
    case Kind::Upload:
        api::UploadFile(op.path, code);
        break;
    case Kind::Download:
        api::DownloadFile(op.path, code);
        break;
    case Kind::Delete:
        api::RemoveFile(op.path, code);
        break;
    case Kind::Rename:
        api::RenameFile(op.path, op.to, code);
        break;
    case Kind::Fetch:
        ok = api::GetProjectFiles(std::nullopt, std::nullopt);
        break;
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
    // Taking the events removes them from the store: a process that may be killed leaves them.
    for (const auto& event : op.timerUs < 0 ? api::GetStatusEvents() : std::vector<vyr::cld::StatusEvent>{}) {
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
        }
        else {
            out.conflictEvents.push_back(rest.substr(1));
        }
    }
    return out;
}

// Every name as a fresh user reads it through the bridge, in the form of Model::view.
std::string read_store(const fs::path& store, const fs::path& root)
{
    return in_child([&] {
        fs::remove_all(root / "checker");
        open_as(store, root, "checker");
        std::string text;
        for (const auto& name : names) {
            const auto revision = api::GetFileRevision(name);
            std::string holder, display, principal, since;
            int code = 0;
            if (revision) {
                api::GetLockStatus(name, holder, display, principal, since);
                api::DownloadFile(name, code);
            }
            const int n = code == 200 ? number_of(read_file(root / "checker" / name)) : -code;
            text += name +
                    (revision ? ' ' + std::to_string(*revision) + ' ' + api::GetFileId(name).value_or("?") + " [" +
                                    holder + "] " + std::to_string(n)
                              : " -") +
                    '\n';
        }
        return text;
    });
}

// A user's folder from disk: content numbers by path, and how many of the service's temporaries.
std::pair<std::map<std::string, int>, int> read_folder(const fs::path& folder)
{
    std::pair<std::map<std::string, int>, int> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        if (entry.path().filename().string().starts_with(".vyrcld-")) {
            out.second += 1;
        }
        else {
            out.first[fs::relative(entry.path(), folder).generic_string()] = number_of(read_file(entry.path()));
        }
    }
    return out;
}

std::string describe(const Op& op)
{
    std::string text = op.user + ' ' + kind_names[static_cast<int>(op.kind)] + (op.path.empty() ? "" : ' ' + op.path);
    text += op.to.empty() ? "" : " -> " + op.to;
    text += op.kill > 0 ? " (killed at progress call " + std::to_string(op.kill) + ")" : "";
    return text + (op.timerUs >= 0 ? " (killed after " + std::to_string(op.timerUs) + " us)" : "");
}

// The next step for `user`: a local edit or deletion (done here, answering nothing) or an
// operation, perhaps with a kill. Leaves out what hits a fault not mended yet.
std::optional<Op> choose(Model& model, std::mt19937& random, const std::string& user, const fs::path& folder, int& next,
                         std::vector<std::string>& log)
{
    const auto pick = [&](const std::vector<std::string>& from) { return from[random() % from.size()]; };
    std::vector<std::string> mine, stored; // most steps act on a name the user or the store has
    for (const auto& name : names) {
        if (model.local[user].contains(name)) {
            mine.push_back(name);
        }
        if (!model.live(name).empty()) {
            stored.push_back(name);
        }
    }
    const auto among = [&](const std::vector<std::string>& likely) {
        return !likely.empty() && random() % 4 != 0 ? pick(likely) : pick(names);
    };
    const int dice = static_cast<int>(random() % 100);
    if (dice < 14) {
        const std::string path = among(stored);
        model.local[user][path] = next;
        write_file(folder / path, content(next++));
        log.push_back(user + " edits " + path + " locally");
        return std::nullopt;
    }
    if (dice < 18) {
        const std::string path = among(mine);
        const bool tracked = std::any_of(model.base[user].begin(), model.base[user].end(),
                                         [&](const auto& b) { return b.second.path == path; });
        if (!model.local[user].contains(path) || (tracked && !mended("3"))) {
            return choose(model, random, user, folder, next, log);
        }
        model.local[user].erase(path);
        fs::remove(folder / path);
        log.push_back(user + " deletes " + path + " locally");
        return std::nullopt;
    }
    static const std::pair<int, Kind> table[] = {
        {27, Kind::Lock},   {33, Kind::Unlock}, {40, Kind::UnlockUpload}, {54, Kind::Upload}, {61, Kind::Download},
        {65, Kind::Delete}, {71, Kind::Rename}, {80, Kind::Fetch},        {85, Kind::Worker}, {100, Kind::Upload}};
    Op op{Kind::Upload, user, "", "", 0, -1};
    op.kind =
        std::find_if(std::begin(table), std::end(table), [&](const auto& row) { return dice < row.first; })->second;
    if (dice >= 85 || random() % 8 == 0) { // a kill: at a progress call, or at a random moment
        static const Kind progress[] = {Kind::Upload, Kind::UnlockUpload, Kind::Download, Kind::Fetch, Kind::Worker};
        static const Kind timed[] = {Kind::Lock, Kind::Unlock, Kind::Delete, Kind::Rename};
        if (random() % 3 != 0) {
            op.kind = progress[random() % 5];
            op.kill = 1 + static_cast<int>(random() % 5);
        }
        else {
            op.kind = timed[random() % (mended("3") ? 4 : 3)];
            op.timerUs = static_cast<int>(random() % 25000); // a write with its flushes takes 5 to 30 ms
        }
    }
    const bool uploads = op.kind == Kind::Upload || op.kind == Kind::UnlockUpload;
    op.path = op.kind == Kind::Fetch || op.kind == Kind::Worker ? "" : among(uploads ? mine : stored);
    while (op.kind == Kind::Rename && (op.to = pick(names)) == op.path) {
    }
    // Held back only while the fault of a part is allowed (see mended_faults).
    if ((!mended("2") && uploads && model.live(op.path).empty() &&
         model.base[user].contains(model.tombstone(op.path))) ||
        (!mended("order") && op.kind == Kind::Rename && !model.tombstone(op.to).empty())) {
        return choose(model, random, user, folder, next, log);
    }
    log.push_back(describe(op));
    return op;
}

TEST(ModelRun, ThreeUsersMatchTheModelThroughRandomOperationsAndKills)
{
    // A fixed seed unless one is given, so that the suite answers the same on every run; other
    // seeds explore (VYR_MODEL_SEED=random draws one).
    const char* given = std::getenv("VYR_MODEL_SEED");
    const auto seed = given != nullptr && std::string_view(given) == "random"
                          ? std::random_device{}()
                          : static_cast<unsigned>(setting("VYR_MODEL_SEED", 11));
    const long steps = setting("VYR_MODEL_STEPS", 150);
    std::mt19937 random(seed);
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(seed_project(store, "setup", "Model", temp.path() / "setup", {}), "");
    for (const auto& user : users) {
        fs::create_directories(temp.path() / user);
    }
    Model model;
    std::map<std::string, std::map<std::string, std::size_t>> received; // user, conflict event
    std::map<std::string, int> seen;                                    // what the run covered
    std::vector<std::string> log;
    int next = 1;
    const auto failed = [&](const std::string& what) {
        const char* strict = std::getenv("VYR_MODEL_STRICT");
        std::string text = what + "\nVYR_MODEL_SEED=" + std::to_string(seed) +
                           " VYR_MODEL_STEPS=" + std::to_string(log.size()) +
                           " VYR_MODEL_STRICT=" + (strict != nullptr ? strict : "") + ", steps:\n";
        for (const auto& line : log) {
            text += "  " + line + '\n';
        }
        return text;
    };
    for (long step = 0; step < steps; ++step) {
        const std::string user = users[random() % users.size()];
        const auto op = choose(model, random, user, temp.path() / user, next, log);
        if (op) {
            const Model before = model;
            const Answer answer = run(store, temp.path(), *op);
            const Outcome expected = model.apply(*op, answer.id);
            const std::string view = read_store(store, temp.path());
            const std::string kind = kind_names[static_cast<int>(op->kind)];
            if (op->timerUs >= 0 && !answer.finished) {
                // Killed at a random moment: the store holds all of the operation or none of it,
                // and each name in the folder what it held before or after.
                seen[kind + (view == before.view() ? " killed before" : " killed after")] += 1;
                if (view == before.view()) {
                    model = before;
                }
                ASSERT_EQ(view, model.view()) << failed("a killed operation left half of itself");
                const auto disk = read_folder(temp.path() / user).first;
                bool between = false;
                for (const auto& name : names) {
                    const auto at = [&](const std::map<std::string, int>& files) {
                        return files.contains(name) ? files.at(name) : 0;
                    };
                    if (at(disk) != at(model.local[user]) && at(disk) == at(before.local.at(user))) {
                        model.local[user].erase(name);
                        if (at(disk) != 0) {
                            model.local[user][name] = at(disk);
                        }
                        between = true;
                        if (op->kind == Kind::Rename) {
                            model.strays[user].insert(name); // the next pass may finish the move
                        }
                    }
                }
                if (between) {
                    seen[kind + " killed between store and folder"] += 1;
                }
            }
            else {
                seen[kind + ' ' +
                     (answer.finished ? std::to_string(op->kind == Kind::Fetch ? answer.ok : answer.code)
                                      : "killed")] += 1;
                ASSERT_EQ(answer.finished, !expected.killed) << failed(
                    "the kill did not fall where predicted; expected answer " + std::to_string(expected.code));
                ASSERT_TRUE(!answer.finished ||
                            (op->kind == Kind::Fetch ? answer.ok == expected.ok : answer.code == expected.code))
                    << failed("answered " + std::to_string(answer.code) + "/" + std::to_string(answer.ok) +
                              ", expected " + std::to_string(expected.code) + "/" + std::to_string(expected.ok));
                if (answer.finished &&
                    (op->kind == Kind::Download || op->kind == Kind::Fetch || op->kind == Kind::Worker)) {
                    ASSERT_EQ(answer.exceptions, expected.exceptions) << failed("wrong download exceptions");
                }
                ASSERT_EQ(view, model.view()) << failed("the store differs from the model");
            }
            // Events are kept per user in the store: a killed process's come with the next one.
            for (const auto& event : answer.conflictEvents) {
                received[user][event] += 1;
            }
            for (const auto& [event, revisions] : model.conflicts[user]) {
                // Once per revision, however many processes sync.
                const std::size_t got = received[user][event];
                ASSERT_TRUE(!answer.finished || op->timerUs >= 0 ||
                            (mended("8") ? got == revisions.size() : got >= revisions.size()))
                    << failed(user + " received " + std::to_string(got) + " conflict events " + event + " for " +
                              std::to_string(revisions.size()) + " conflicting revisions");
            }
            for (const auto& [event, count] : received[user]) {
                ASSERT_TRUE(model.conflicts[user].contains(event)) << failed("a conflict event " + event);
            }
        }
        for (const auto& who : users) {
            const auto [disk, temporaries] = read_folder(temp.path() / who);
            for (const auto& stray : model.strays[who]) {
                if (!disk.contains(stray)) {
                    model.local[who].erase(stray);
                }
            }
            ASSERT_EQ(disk, model.local[who]) << failed(who + "'s working folder differs from the model");
            const bool passed =
                op && op->user == who && op->kill == 0 && (op->kind == Kind::Fetch || op->kind == Kind::Worker);
            // A pass removes what a killed transfer left.
            ASSERT_FALSE(mended("13") && passed && temporaries > 0)
                << failed(std::to_string(temporaries) + " temporary files left in " + who + "'s folder after a pass");
            if (passed) {
                model.strays[who].clear();
            }
        }
        const auto problems = integrity_problems(store);
        ASSERT_TRUE(problems.empty()) << failed("store: " + problems.front());
        const auto partial = step % 25 == 24 || step == steps - 1 ? partial_blobs(store) : std::vector<std::string>{};
        ASSERT_TRUE(partial.empty()) << failed("partial blob " + partial.front());
    }
    // Nothing removes what killed uploads left in the store's blobs/tmp; shown, not yet judged.
    const auto left = std::distance(fs::directory_iterator(store / "blobs" / "tmp"), fs::directory_iterator());
    std::cout << "model run: seed " << seed << ", " << steps << " steps, " << model.files.size() << " files stored, "
              << left << " temporary blobs left; outcomes:";
    for (const auto& [what, count] : seen) {
        std::cout << ' ' << what << " x" << count << ',';
    }
    std::cout << '\n' << (setting("VYR_MODEL_LOG", 0) != 0 ? failed("log") : "");
}

// Found by the run above: bert has x.txt and y.txt as stored; anna deletes y.txt and renames x.txt
// to y.txt. Bert's copies are unchanged, so one pass must remove the one and move the other.
TEST(ModelRun, RenameOntoADeletedNameIsNoConflictElsewhere)
{
    if (!mended("order")) {
        GTEST_SKIP() << "held back: a pass that meets the renamed file before the deleted one would report a "
                        "conflict on y.txt and leaves x.txt where it was until the next pass";
    }
    TempFolder temp;
    const auto store = temp.path() / "store";
    ASSERT_EQ(
        seed_project(store, "anna", "Model", temp.path() / "anna", {{"x.txt", content(1)}, {"y.txt", content(2)}}), "");
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
