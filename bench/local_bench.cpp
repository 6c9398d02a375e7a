// The local service through the bridge against the same work done directly on SQLite and the file
// system (the baseline): locking, a small upload, the list of 10,000 projects, and the sync status
// of a partition of 10,000 files. Both sides use the same durability settings (WAL, full sync,
// foreign keys, blobs flushed before their rename), so the ratio is the price of the service's
// layers and of the bridge.
#include <vyr/cld/integration.h>
#include <vyr/cld/local/service.h>

#include <SQLiteCpp/SQLiteCpp.h>
#include <benchmark/benchmark.h>

#include "support/sha256.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace api = VyrCldapiIntegration;
namespace fs = std::filesystem;

constexpr int many = 10'000;

// A name with a number appended. Built by appending: g++ 12 at -O3 misreads `"p" + std::to_string(i)`
// as an overlapping copy (-Wrestrict).
std::string numbered(std::string_view name, int number, std::string_view suffix = {})
{
    std::string text(name);
    text += std::to_string(number);
    text += suffix;
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

// One store shared by every bridge benchmark: 10,000 projects, the first with a partition of
// 10,000 files, all in the working folder. Built once, removed at exit.
struct BridgeStore {
    fs::path root = scratch("vyr-cld-bench-local");
    fs::path folder = root / "work";

    BridgeStore()
    {
        vyr::cld::local::Options options;
        options.store = root / "store";
        options.user = {"bench", "Bench", "bench@example.org"};
        VyrCldapi::Cld_Integration::Install(vyr::cld::local::open_service(options));
        fs::create_directories(folder);
        int responsecode = 0;
        std::string projectId;
        for (int i = 0; i < many; ++i) {
            const auto project = api::CreateProject("Project " + std::to_string(i), std::to_string(i), responsecode);
            projectId = projectId.empty() && project ? project->id : projectId;
        }
        const auto partition = api::CreateProjectPartitionTag(projectId, "Files", 1, responsecode);
        if (!partition) {
            throw std::runtime_error("cannot create the partition");
        }
        api::SetOnlyProjectAndPartition(projectId, folder.string(), partition->id, folder.string());
        std::vector<std::string> files;
        for (int i = 0; i < many; ++i) {
            files.push_back("file-" + std::to_string(i) + ".txt");
            write_file(folder / files.back(), "same small content\n");
        }
        api::UploadNewFiles(files, responsecode);
        write_file(folder / "lock.txt", "locked and unlocked\n");
        api::UploadFile("lock.txt", responsecode);
    }
    ~BridgeStore()
    {
        VyrCldapi::Cld_Integration::Install(nullptr);
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    static BridgeStore& get()
    {
        static BridgeStore store;
        return store;
    }
};

// The baseline: the same records kept directly with SQLite, and blobs written as the service
// writes them.
struct DirectStore {
    fs::path root = scratch("vyr-cld-bench-direct");
    SQLite::Database db{(root / "store.sqlite").string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE};

    DirectStore()
    {
        db.exec("PRAGMA journal_mode = WAL");
        db.exec("PRAGMA synchronous = FULL");
        db.exec("PRAGMA foreign_keys = ON");
        db.exec("CREATE TABLE projects (id TEXT PRIMARY KEY, name TEXT NOT NULL, number TEXT NOT NULL)");
        db.exec("CREATE TABLE files (id INTEGER PRIMARY KEY, path TEXT UNIQUE NOT NULL, revision INTEGER NOT NULL,"
                " size INTEGER NOT NULL, blob TEXT NOT NULL, holder TEXT, since INTEGER)");
        db.exec("CREATE TABLE working (file INTEGER PRIMARY KEY REFERENCES files(id), revision INTEGER NOT NULL)");
        fs::create_directories(root / "blobs");
        fs::create_directories(root / "work");
        SQLite::Transaction transaction(db);
        SQLite::Statement project(db, "INSERT INTO projects VALUES (?, ?, ?)");
        SQLite::Statement file(db, "INSERT INTO files (path, revision, size, blob) VALUES (?, 1, 19, 'x')");
        SQLite::Statement working(db, "INSERT INTO working VALUES (last_insert_rowid(), 1)");
        for (int i = 0; i < many; ++i) {
            project.bind(1, numbered("p", i));
            project.bind(2, numbered("Project ", i));
            project.bind(3, std::to_string(i));
            project.exec();
            project.reset();
            file.bind(1, numbered("file-", i, ".txt"));
            file.exec();
            file.reset();
            working.exec();
            working.reset();
        }
        db.exec("INSERT INTO files (path, revision, size, blob) VALUES ('lock.txt', 1, 20, 'x')");
        transaction.commit();
        // The bulk insert leaves a large log; fold it in now rather than in the first measured write.
        db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    ~DirectStore()
    {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    // Takes the lock when nobody holds it, in one write transaction.
    void set_lock(const char* holder)
    {
        SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
        SQLite::Statement read(db, "SELECT id, holder FROM files WHERE path = 'lock.txt'");
        read.executeStep();
        SQLite::Statement write(db, "UPDATE files SET holder = ?, since = ? WHERE id = ?");
        if (holder) {
            write.bind(1, holder);
        }
        write.bind(2, static_cast<int64_t>(time(nullptr)));
        write.bind(3, read.getColumn(0).getInt64());
        write.exec();
        transaction.commit();
    }

    // Hashes the working file, writes the blob under a temporary name, flushes, renames, and
    // records the new revision.
    void upload(const fs::path& file)
    {
        std::ifstream in(file, std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string hash = vyr::cld::test::sha256_hex(content);
        const fs::path temporary = root / "blobs" / ("tmp-" + hash);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
            ::fsync(fd) != 0) {
            throw std::runtime_error("blob write failed");
        }
        ::close(fd);
        fs::rename(temporary, root / "blobs" / hash);
        SQLite::Transaction transaction(db, SQLite::TransactionBehavior::IMMEDIATE);
        SQLite::Statement write(db, "UPDATE files SET revision = revision + 1, size = ?, blob = ? WHERE path = ?");
        write.bind(1, static_cast<int64_t>(content.size()));
        write.bind(2, hash);
        write.bind(3, file.filename().string());
        write.exec();
        transaction.commit();
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
    const fs::path file = store.root / "work" / "small.txt";
    long revision = 0;
    for (auto _ : state) {
        write_file(file, "small content, revision " + std::to_string(++revision) + "\n");
        store.upload(file);
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

void BM_Baseline_SqliteProjectList(benchmark::State& state)
{
    DirectStore store;
    for (auto _ : state) {
        SQLite::Statement query(store.db, "SELECT id, name, number FROM projects ORDER BY name");
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
        if (!projects || projects->size() < many) {
            state.SkipWithError("the project list is short");
            break;
        }
    }
}

void BM_Baseline_SqliteStatusOf10000Files(benchmark::State& state)
{
    DirectStore store;
    for (auto _ : state) {
        SQLite::Statement query(store.db, "SELECT f.path, f.size FROM files f LEFT JOIN working w ON w.file = f.id"
                                          " WHERE w.revision IS NULL OR w.revision < f.revision");
        std::int64_t files = 0;
        std::int64_t bytes = 0;
        while (query.executeStep()) {
            files += 1;
            bytes += query.getColumn(1).getInt64();
        }
        benchmark::DoNotOptimize(files + bytes);
    }
}

void BM_Local_StatusOf10000Files(benchmark::State& state)
{
    BridgeStore::get();
    for (auto _ : state) {
        benchmark::DoNotOptimize(api::GetFileSyncStatus());
    }
}

} // namespace

// Wall-clock time: the flushes to disk are part of the work. The flushing pairs are bounded in
// iterations, as each takes milliseconds.
BENCHMARK(BM_Baseline_SqliteLockUnlock)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Local_LockUnlock)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Baseline_SqliteSmallUpload)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Local_SmallUpload)->UseRealTime()->Iterations(200);
BENCHMARK(BM_Baseline_SqliteProjectList)->UseRealTime();
BENCHMARK(BM_Local_ProjectList)->UseRealTime();
BENCHMARK(BM_Baseline_SqliteStatusOf10000Files)->UseRealTime();
BENCHMARK(BM_Local_StatusOf10000Files)->UseRealTime();
