// The local service through the bridge against the same work done directly on SQLite and the file
// system (the baseline): locking, a small upload, the list of 10,000 projects, the sync status of a
// partition of 10,000 files and the sync of those files to a second user. Both sides use the same
// durability settings (WAL, full sync, foreign keys, blobs flushed before their rename and their
// folder after it) and keep the same rows: the store's file, revision and event rows, and the
// working folder's rows in a journal database of its own. So the ratio is the price of the
// service's layers and of the bridge. VYR_CLD_BENCH_FILES sets the number of projects and files
// (10,000) for a reduced run under a profiler.
#include <vyr/cld/integration.h>
#include <vyr/cld/local/service.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <SQLiteCpp/VariadicBind.h>
#include <benchmark/benchmark.h>

#include "support/sha256.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;

int many()
{
    static const int count = [] {
        const char* given = std::getenv("VYR_CLD_BENCH_FILES");
        return given ? std::max(1, std::atoi(given)) : 10'000;
    }();
    return count;
}

// A name with a number appended. Built by appending: g++ 12 at -O3 misreads `"p" + std::to_string(i)`
// as an overlapping copy (-Wrestrict).
std::string numbered(std::string_view name, int number, std::string_view suffix = {})
{
    std::string text(name);
    text += std::to_string(number);
    text += suffix;
    return text;
}

// An identifier as long as the store's (32 hexadecimal digits), so that both sides copy the same
// bytes.
std::string identifier(std::string_view kind, int number)
{
    std::string text = numbered(kind, number);
    text.insert(0, 32 - text.size(), '0');
    return text;
}

fs::path scratch(const char* name)
{
    std::string pattern = (fs::temp_directory_path() / (std::string(name) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a scratch folder");
    }
    return pattern;
}

void write_file(const fs::path& file, const std::string& content)
{
    std::ofstream(file, std::ios::binary | std::ios::trunc) << content;
}

std::string read_file(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void check(bool done, const char* what)
{
    if (!done) {
        throw std::runtime_error(what);
    }
}

void sync_path(const fs::path& path, int flags)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    check(fd >= 0 && ::fsync(fd) == 0, "a flush failed");
    ::close(fd);
}

// Writes `content` as `target` whole: a temporary file beside it, flushed, renamed, and the folder
// flushed, as the service writes blobs and working copies.
void write_whole(const fs::path& target, const std::string& content)
{
    const fs::path temporary = target.parent_path() / ".vyr-bench-tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    check(fd >= 0 && ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) &&
              ::fsync(fd) == 0,
          "a blob write failed");
    ::close(fd);
    fs::rename(temporary, target);
    sync_path(target.parent_path(), O_RDONLY | O_DIRECTORY);
}

SQLite::Database durable(const fs::path& file)
{
    SQLite::Database db(file.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
    db.exec("PRAGMA journal_mode = WAL");
    db.exec("PRAGMA synchronous = FULL");
    db.exec("PRAGMA foreign_keys = ON");
    return db;
}

// One store shared by every bridge benchmark: 10,000 projects, the first with a partition of
// 10,000 files, all in the working folder. Built once, removed at exit.
struct BridgeStore {
    fs::path root = scratch("vyr-cld-bench-local");
    fs::path folder = root / "work";
    std::shared_ptr<VyrCldapi::ICld_Integration> service;
    std::string projectId, partitionId;

    vyr::cld::local::Options options(const std::string& user) const
    {
        vyr::cld::local::Options options;
        options.store = root / "store";
        options.user = {user, user, user + "@example.org"};
        return options;
    }

    BridgeStore() : service(vyr::cld::local::open_service(options("bench")))
    {
        VyrCldapi::Cld_Integration::Install(service);
        fs::create_directories(folder);
        int responsecode = 0;
        for (int i = 0; i < many(); ++i) {
            const auto project = api::CreateProject(numbered("Project ", i), std::to_string(i), responsecode);
            projectId = projectId.empty() && project ? project->id : projectId;
        }
        const auto partition = api::CreateProjectPartitionTag(projectId, "Files", 1, responsecode);
        check(partition.has_value(), "cannot create the partition");
        partitionId = partition->id;
        api::SetOnlyProjectAndPartition(projectId, folder.string(), partitionId, folder.string());
        std::vector<std::string> files;
        for (int i = 0; i < many(); ++i) {
            files.push_back(numbered("file-", i, ".txt"));
            write_file(folder / files.back(), "same small content\n");
        }
        api::UploadNewFiles(files, responsecode);
        write_file(folder / "lock.txt", "locked and unlocked\n");
        api::UploadFile("lock.txt", responsecode);
    }
    ~BridgeStore()
    {
        VyrCldapi::Cld_Integration::Install(nullptr);
        service.reset();
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static BridgeStore& get()
    {
        static BridgeStore store;
        return store;
    }
};

// The baseline: the same rows kept directly with SQLite (the store's files, revisions and events;
// the working folder's rows in a journal of its own), and blobs and working copies written as the
// service writes them.
#define DIRECT_SPACE "00000000000000000000000000space"

struct DirectStore {
    static constexpr const char* space = DIRECT_SPACE;
    static constexpr const char* user = "bench";
    fs::path root = scratch("vyr-cld-bench-direct");
    fs::path folder = root / "work";
    fs::path blobs = root / "blobs";
    SQLite::Database db = durable(root / "store.sqlite");
    SQLite::Database journal = durable(root / "journal.sqlite");
    std::string content = "same small content\n";

    DirectStore()
    {
        db.exec("CREATE TABLE users (id TEXT PRIMARY KEY, display_name TEXT NOT NULL, principal_name TEXT NOT NULL)");
        db.exec("CREATE TABLE projects (id TEXT PRIMARY KEY, tenant_id TEXT NOT NULL, name TEXT NOT NULL,"
                " number TEXT NOT NULL, crs TEXT NOT NULL, created INTEGER NOT NULL)");
        db.exec("CREATE TABLE files (id TEXT PRIMARY KEY, space_id TEXT NOT NULL, path TEXT NOT NULL,"
                " path_key TEXT NOT NULL, revision INTEGER NOT NULL, blob TEXT NOT NULL, size INTEGER NOT NULL,"
                " deleted INTEGER NOT NULL, lock_user TEXT REFERENCES users(id), lock_time INTEGER,"
                " seq INTEGER NOT NULL)");
        db.exec("CREATE UNIQUE INDEX files_path ON files (space_id, path_key)");
        db.exec("CREATE INDEX files_seq ON files (space_id, seq)");
        db.exec("CREATE TABLE revisions (file_id TEXT NOT NULL REFERENCES files(id), revision INTEGER NOT NULL,"
                " path TEXT NOT NULL, blob TEXT NOT NULL, size INTEGER NOT NULL, deleted INTEGER NOT NULL,"
                " author TEXT NOT NULL, time INTEGER NOT NULL, PRIMARY KEY (file_id, revision))");
        db.exec("CREATE TABLE events (seq INTEGER PRIMARY KEY AUTOINCREMENT, user_id TEXT NOT NULL,"
                " type INTEGER NOT NULL, status INTEGER NOT NULL, response_id TEXT NOT NULL, time INTEGER NOT NULL)");
        db.exec("CREATE INDEX events_user ON events (user_id, seq)");
        create_journal(journal);
        fs::create_directories(folder);
        SQLite::Transaction transaction(db);
        SQLite::Transaction journaled(journal);
        db.exec("INSERT INTO users VALUES ('bench', 'bench', 'bench@example.org')");
        SQLite::Statement project(db, "INSERT INTO projects VALUES (?, 'local', ?, ?, '', ?)");
        SQLite::Statement file(db, "INSERT INTO files VALUES (?, ?, ?, ?, 1, ?, ?, 0, NULL, NULL, ?)");
        SQLite::Statement seen(journal, "INSERT INTO seen VALUES (?, ?, ?, 1, ?, ?, 0)");
        SQLite::Statement working(journal, "INSERT INTO working VALUES (?, ?, 1, ?, ?, 0)");
        const auto add_file = [&](int number, const std::string& path, const std::string& bytes) {
            const auto id = identifier("f", number);
            const auto blob = vyr::cld::test::sha256_hex(bytes);
            fs::create_directories(blobs / blob.substr(0, 2));
            write_file(blobs / blob.substr(0, 2) / blob, bytes);
            SQLite::bind(file, id, space, path, path, blob, static_cast<std::int64_t>(bytes.size()), number + 1);
            file.exec();
            file.reset();
            SQLite::bind(seen, id, space, path, blob, static_cast<std::int64_t>(bytes.size()));
            seen.exec();
            seen.reset();
            SQLite::bind(working, id, path, blob, static_cast<std::int64_t>(bytes.size()));
            working.exec();
            working.reset();
            write_file(folder / path, bytes);
        };
        for (int i = 0; i < many(); ++i) {
            SQLite::bind(project, identifier("p", i), numbered("Project ", i), std::to_string(i), i);
            project.exec();
            project.reset();
            add_file(i, numbered("file-", i, ".txt"), content);
        }
        add_file(many(), "lock.txt", "locked and unlocked\n");
        add_file(many() + 1, "small.txt", "small content\n");
        transaction.commit();
        journaled.commit();
        // The bulk insert leaves a large log; fold it in now rather than in the first measured write.
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
        journal.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    ~DirectStore()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static void create_journal(SQLite::Database& journal)
    {
        journal.exec("CREATE TABLE working (file_id TEXT PRIMARY KEY, path TEXT NOT NULL, revision INTEGER NOT NULL,"
                     " blob TEXT NOT NULL, size INTEGER NOT NULL, mtime INTEGER NOT NULL)");
        journal.exec("CREATE TABLE seen (file_id TEXT PRIMARY KEY, space_id TEXT NOT NULL, path TEXT NOT NULL,"
                     " revision INTEGER NOT NULL, blob TEXT NOT NULL, size INTEGER NOT NULL,"
                     " deleted INTEGER NOT NULL)");
        journal.exec("CREATE INDEX seen_space ON seen (space_id, path)");
        journal.exec("CREATE TABLE cursors (space_id TEXT PRIMARY KEY, seq INTEGER NOT NULL)");
        journal.exec("CREATE TABLE upload_queue (space_id TEXT NOT NULL, path TEXT NOT NULL, unlock INTEGER NOT NULL,"
                     " PRIMARY KEY (space_id, path))");
    }

    void post(const std::string& path, int type)
    {
        SQLite::Statement event(db, "INSERT INTO events (user_id, type, status, response_id, time)"
                                    " VALUES (?, ?, 200, ?, ?)");
        SQLite::bind(event, user, type, path, static_cast<std::int64_t>(time(nullptr)));
        event.exec();
    }

    // Takes or releases the lock in one write transaction, with its event.
    void set_lock(const char* holder)
    {
        SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
        SQLite::Statement read(db, "SELECT f.id, f.lock_user, u.display_name FROM files f LEFT JOIN users u"
                                   " ON u.id = f.lock_user WHERE f.space_id = ? AND f.path_key = 'lock.txt'");
        read.bind(1, space);
        check(read.executeStep(), "no lock.txt");
        SQLite::Statement write(db, "UPDATE files SET lock_user = ?, lock_time = ? WHERE id = ?");
        if (holder) {
            write.bind(1, holder);
        }
        write.bind(2, static_cast<std::int64_t>(time(nullptr)));
        write.bind(3, read.getColumn(0).getString());
        write.exec();
        post("lock.txt", holder ? 1 : 2);
        transaction.commit();
    }

    // Reads the working file once to hash and copy it, flushes the blob into place, records the
    // revision with its event, then the working copy's new agreement in the journal.
    void upload(const std::string& name)
    {
        const auto row = [&](SQLite::Database& in, const char* sql, const std::string& key) {
            SQLite::Statement query(in, sql);
            SQLite::bind(query, key);
            check(query.executeStep(), "no such file");
            return std::pair(query.getColumn(0).getString(), query.getColumn(1).getInt64());
        };
        const char* const stored =
            "SELECT id, revision FROM files WHERE space_id = '" DIRECT_SPACE "' AND path_key = ?";
        const auto [id, revision] = row(db, stored, name);
        row(journal, "SELECT file_id, revision FROM working WHERE file_id = ?", id);
        const auto mtime = fs::last_write_time(folder / name).time_since_epoch().count();
        const std::string bytes = read_file(folder / name);
        const std::string blob = vyr::cld::test::sha256_hex(bytes);
        fs::create_directories(blobs / blob.substr(0, 2));
        write_whole(blobs / blob.substr(0, 2) / blob, bytes);
        {
            SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
            check(row(db, stored, name).second == revision, "raced");
            SQLite::Statement write(db, "UPDATE files SET revision = revision + 1, blob = ?, size = ?, seq ="
                                        " (SELECT max(seq) + 1 FROM files WHERE space_id = ?) WHERE id = ?");
            SQLite::bind(write, blob, static_cast<std::int64_t>(bytes.size()), space, id);
            write.exec();
            SQLite::Statement history(db, "INSERT INTO revisions VALUES (?, ?, ?, ?, ?, 0, ?, ?)");
            SQLite::bind(history, id, revision + 1, name, blob, static_cast<std::int64_t>(bytes.size()), user,
                         static_cast<std::int64_t>(time(nullptr)));
            history.exec();
            post(name, 3);
            transaction.commit();
        }
        SQLite::Statement working(journal, "INSERT OR REPLACE INTO working VALUES (?, ?, ?, ?, ?, ?)");
        SQLite::bind(working, id, name, revision + 1, blob, static_cast<std::int64_t>(bytes.size()),
                     static_cast<std::int64_t>(mtime));
        working.exec();
    }
};

void BM_Baseline_SqliteLockUnlock(benchmark::State& state)
{
    DirectStore store;
    for (auto _ : state) {
        store.set_lock("bench");
        store.set_lock(nullptr);
    }
}

void BM_Local_LockUnlock(benchmark::State& state)
{
    BridgeStore::get();
    int responsecode = 0;
    for (auto _ : state) {
        api::LockFile("lock.txt", responsecode);
        api::UnlockFile("lock.txt", false, responsecode);
    }
    if (responsecode != 200) {
        state.SkipWithError("the service refused the lock");
    }
}

void BM_Baseline_SqliteSmallUpload(benchmark::State& state)
{
    DirectStore store;
    long revision = 0;
    for (auto _ : state) {
        write_file(store.folder / "small.txt", "small content, revision " + std::to_string(++revision) + "\n");
        store.upload("small.txt");
    }
}

void BM_Local_SmallUpload(benchmark::State& state)
{
    const BridgeStore& store = BridgeStore::get();
    long revision = 0;
    int responsecode = 0;
    for (auto _ : state) {
        write_file(store.folder / "small.txt", "small content, revision " + std::to_string(++revision) + "\n");
        api::UploadFile("small.txt", responsecode);
    }
    if (responsecode != 200 && responsecode != 201) {
        state.SkipWithError("the service refused the upload");
    }
}

struct Row {
    std::string id, name, number;
};

// The tenant's projects in the order the service lists them, each id, name and number copied out.
void BM_Baseline_SqliteProjectList(benchmark::State& state)
{
    DirectStore store;
    for (auto _ : state) {
        SQLite::Statement query(store.db,
                                "SELECT id, name, number FROM projects WHERE tenant_id = ? ORDER BY created, id");
        query.bind(1, "local");
        std::vector<Row> rows;
        while (query.executeStep()) {
            rows.push_back(
                {query.getColumn(0).getString(), query.getColumn(1).getString(), query.getColumn(2).getString()});
        }
        benchmark::DoNotOptimize(rows.data());
    }
}

void BM_Local_ProjectList(benchmark::State& state)
{
    BridgeStore::get();
    int responsecode = 0;
    for (auto _ : state) {
        const auto projects = api::GetProjectList(responsecode);
        if (!projects || projects->size() < static_cast<std::size_t>(many())) {
            state.SkipWithError("the project list is short");
            break;
        }
    }
}

// The files behind the working folder, counted and summed in SQL.
std::pair<std::int64_t, std::int64_t> count_behind(SQLite::Database& journal)
{
    SQLite::Statement query(journal, "SELECT count(*), coalesce(sum(s.size), 0) FROM seen s LEFT JOIN working w"
                                     " ON w.file_id = s.file_id WHERE s.space_id = ? AND s.deleted = 0 AND"
                                     " (w.revision IS NULL OR w.revision < s.revision OR w.path <> s.path)");
    query.bind(1, DirectStore::space);
    query.executeStep();
    return {query.getColumn(0).getInt64(), query.getColumn(1).getInt64()};
}

// The count alone: what the status cost before it looked for files lost locally. For comparison
// only; the service must do the whole of the next baseline.
void BM_Baseline_SqliteStatusCountOnly(benchmark::State& state)
{
    DirectStore store;
    for (auto _ : state) {
        benchmark::DoNotOptimize(count_behind(store.journal));
    }
}

// The sync status: the store asked for changes after the journal's cursor, the files behind
// counted in SQL, the files the folder agreed on looked for in one listing of the folder, and the
// queued uploads read.
void BM_Baseline_SqliteStatusOf10000Files(benchmark::State& state)
{
    DirectStore store;
    for (auto _ : state) {
        SQLite::Statement cursor(store.journal, "SELECT seq FROM cursors WHERE space_id = ?");
        cursor.bind(1, DirectStore::space);
        const std::int64_t after = cursor.executeStep() ? cursor.getColumn(0).getInt64() : 1'000'000'000;
        {
            SQLite::Transaction reading(store.db, SQLite::TransactionBehavior::DEFERRED);
            SQLite::Statement changes(store.db, "SELECT id, path, revision, blob, size, deleted, seq FROM files"
                                                " WHERE space_id = ? AND seq > ? ORDER BY seq");
            SQLite::bind(changes, DirectStore::space, after);
            benchmark::DoNotOptimize(changes.executeStep());
            reading.commit();
        }
        auto [files, bytes] = count_behind(store.journal);
        SQLite::Statement agreed(store.journal, "SELECT s.path, s.size FROM seen s JOIN working w ON w.file_id ="
                                                " s.file_id WHERE s.space_id = ? AND s.deleted = 0 AND"
                                                " w.revision = s.revision AND w.path = s.path");
        agreed.bind(1, DirectStore::space);
        std::vector<std::pair<std::string, std::int64_t>> rows;
        while (agreed.executeStep()) {
            rows.emplace_back(agreed.getColumn(0).getString(), agreed.getColumn(1).getInt64());
        }
        std::unordered_set<std::string> names;
        DIR* dir = ::opendir(store.folder.c_str());
        while (const dirent* entry = ::readdir(dir)) {
            names.emplace(entry->d_name);
        }
        ::closedir(dir);
        for (const auto& [path, size] : rows) {
            if (!names.contains(path)) {
                files += 1;
                bytes += size;
            }
        }
        SQLite::Statement queued(store.journal, "SELECT space_id, path, unlock FROM upload_queue ORDER BY rowid");
        while (queued.executeStep()) {
            files += 1;
        }
        benchmark::DoNotOptimize(files + bytes);
    }
}

void BM_Local_StatusOf10000Files(benchmark::State& state)
{
    BridgeStore::get();
    for (auto _ : state) {
        const auto status = api::GetFileSyncStatus();
        if (status.filesLeftToDownload != 0) {
            state.SkipWithError("the working folder is not in step");
            break;
        }
    }
}

// A folder's status as `vyr-cld status` asks it: the sync status, then each file's existence,
// revision and lock. Argument 0 asks the store about every file on its own (answerAge zero: how
// the status was answered before answers were kept); 1 keeps answers for a second, so that the
// pass reads the space's list once (or once a second).
void BM_Local_FolderStatusOf10000Files(benchmark::State& state)
{
    auto& store = BridgeStore::get();
    auto options = store.options("bench");
    options.answerAge = state.range(0) != 0 ? std::chrono::milliseconds(1000) : std::chrono::milliseconds::zero();
    const auto service = vyr::cld::local::open_service(options);
    VyrCldapi::Cld_Integration::Install(service);
    api::SetOnlyProjectAndPartition(store.projectId, store.folder.string(), store.partitionId, store.folder.string());
    std::vector<std::string> names;
    for (int i = 0; i < many(); ++i) {
        names.push_back(numbered("file-", i, ".txt"));
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(api::GetFileSyncStatus());
        int stored = 0;
        for (const auto& name : names) {
            std::string id, displayName, principalName, since;
            stored += api::FileExistsInProject(name) ? 1 : 0;
            benchmark::DoNotOptimize(api::GetFileRevision(name));
            benchmark::DoNotOptimize(api::GetLockStatus(name, id, displayName, principalName, since));
        }
        if (stored != many()) {
            state.SkipWithError("a file is missing from the store");
            break;
        }
    }
    VyrCldapi::Cld_Integration::Install(store.service);
}

// A second user's first sync of the partition into an empty folder: the store's changes followed
// into a new journal, then for each file its blob copied out and checked against its hash, flushed,
// renamed into place and the folder flushed, the working copy recorded in the journal and its
// download event posted to the store, each in a transaction of its own.
void BM_Baseline_SqliteSyncToSecondUser(benchmark::State& state)
{
    DirectStore store;
    static int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path folder = store.root / numbered("second-", ++round);
        fs::create_directories(folder);
        SQLite::Database journal = durable(folder.string() + ".journal");
        DirectStore::create_journal(journal);
        state.ResumeTiming();
        struct Change {
            std::string id, path, blob;
            std::int64_t revision, size, seq;
        };
        std::vector<Change> changes;
        {
            SQLite::Transaction reading(store.db, SQLite::TransactionBehavior::DEFERRED);
            SQLite::Statement query(store.db, "SELECT id, path, revision, blob, size, seq FROM files"
                                              " WHERE space_id = ? AND seq > 0 ORDER BY seq");
            query.bind(1, DirectStore::space);
            while (query.executeStep()) {
                changes.push_back({query.getColumn(0).getString(), query.getColumn(1).getString(),
                                   query.getColumn(3).getString(), query.getColumn(2).getInt64(),
                                   query.getColumn(4).getInt64(), query.getColumn(5).getInt64()});
            }
            reading.commit();
        }
        {
            SQLite::Transaction transaction(journal, SQLite::TransactionBehavior::IMMEDIATE);
            SQLite::Statement seen(journal, "INSERT OR REPLACE INTO seen VALUES (?, ?, ?, ?, ?, ?, 0)");
            for (const auto& change : changes) {
                SQLite::bind(seen, change.id, DirectStore::space, change.path, change.revision, change.blob,
                             change.size);
                seen.exec();
                seen.reset();
            }
            SQLite::Statement cursor(journal, "INSERT OR REPLACE INTO cursors VALUES (?, ?)");
            SQLite::bind(cursor, DirectStore::space, changes.back().seq);
            cursor.exec();
            transaction.commit();
        }
        for (const auto& change : changes) {
            const std::string bytes = read_file(store.blobs / change.blob.substr(0, 2) / change.blob);
            check(vyr::cld::test::sha256_hex(bytes) == change.blob, "a damaged blob");
            write_whole(folder / change.path, bytes);
            const auto mtime = fs::last_write_time(folder / change.path).time_since_epoch().count();
            SQLite::Statement working(journal, "INSERT OR REPLACE INTO working VALUES (?, ?, ?, ?, ?, ?)");
            SQLite::bind(working, change.id, change.path, change.revision, change.blob, change.size,
                         static_cast<std::int64_t>(mtime));
            working.exec();
            store.post(change.path, 4);
        }
    }
}

void BM_Local_SyncToSecondUser(benchmark::State& state)
{
    BridgeStore& store = BridgeStore::get();
    const auto second = vyr::cld::local::open_service(store.options("second"));
    static int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path folder = store.root / numbered("second-", ++round);
        fs::create_directories(folder);
        VyrCldapi::Cld_Integration::Install(second);
        api::SetOnlyProjectAndPartition(store.projectId, folder.string(), store.partitionId, folder.string());
        state.ResumeTiming();
        const bool all = api::GetProjectFiles(std::nullopt, std::nullopt);
        state.PauseTiming();
        api::CloseProject();
        VyrCldapi::Cld_Integration::Install(store.service);
        if (!all || !fs::exists(folder / numbered("file-", many() - 1, ".txt"))) {
            state.SkipWithError("the second user's sync failed");
            break;
        }
        state.ResumeTiming();
    }
}

} // namespace

// Wall-clock time: the flushes to disk are part of the work. The flushing pairs are bounded in
// iterations, as each takes milliseconds; a sync of every file runs once a repetition.
BENCHMARK(BM_Baseline_SqliteLockUnlock)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Local_LockUnlock)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Baseline_SqliteSmallUpload)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Local_SmallUpload)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Baseline_SqliteProjectList)->UseRealTime();
BENCHMARK(BM_Local_ProjectList)->UseRealTime();
BENCHMARK(BM_Baseline_SqliteStatusCountOnly)->UseRealTime();
BENCHMARK(BM_Baseline_SqliteStatusOf10000Files)->UseRealTime();
BENCHMARK(BM_Local_StatusOf10000Files)->UseRealTime();
BENCHMARK(BM_Local_FolderStatusOf10000Files)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_SqliteSyncToSecondUser)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Local_SyncToSecondUser)->UseRealTime()->Iterations(1)->Unit(benchmark::kMillisecond);
