#include "world.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace vyr::cld::local::test {
namespace {

using namespace VyrCldapiIntegration;

// SQLite names its files in UTF-8 on every platform.
std::string utf8(const fs::path& path)
{
    const auto text = path.u8string();
    return {text.begin(), text.end()};
}

void set_schema_version(const fs::path& database, int version)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(utf8(database).c_str(), &db), SQLITE_OK);
    const auto sql = "PRAGMA user_version = " + std::to_string(version);
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

// What the fifth version added, taken away again to stand for a store written before it: its
// folders and each file's folder, name order and time.
constexpr const char* before_folders = R"sql(
    DROP TABLE folders;
    DROP INDEX files_folder_name; DROP INDEX files_folder_size; DROP INDEX files_folder_changed;
    DROP INDEX files_folder_revision; DROP INDEX files_locked;
    ALTER TABLE files DROP COLUMN folder_key; ALTER TABLE files DROP COLUMN name_key;
    ALTER TABLE files DROP COLUMN changed;)sql";

std::int64_t count(const fs::path& database, const char* sql)
{
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open(utf8(database).c_str(), &db), SQLITE_OK);
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    const auto out = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return out;
}

TEST(Store, AnotherInstanceOfAUserSeesWhatTheFirstStored)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    int code = 0;
    LockFile("plan.dwg", code);
    w.services_["anna"] = open_service(w.options("anna")); // as a second process of anna would
    w.select("anna");
    std::string by, name, principal, since;
    EXPECT_EQ(GetLockStatus("plan.dwg", by, name, principal, since), vyr::cld::LockStatus::LockedByMe);
    EXPECT_EQ(GetFileRevision("plan.dwg"), 1u);
    EXPECT_EQ(GetProjectList(code)->size(), 1u);
}

TEST(Store, OneWrittenByANewerVersionIsRefusedAsUnusable)
{
    World w;
    set_schema_version(w.store_ / "store.sqlite", store_schema_version() + 1);
    try {
        static_cast<void>(open_service(w.options("carl")));
        FAIL() << "opened";
    } catch (const VyrCldapi::Exception& e) {
        EXPECT_EQ(e.Kind(), VyrCldapi::ExceptionKind::InvalidOperation);
    }
}

TEST(Store, OfTheFirstVersionIsMigratedKeepingItsRecords)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    int code = 0;
    CreateProject("Unnumbered", "", code);
    ASSERT_EQ(code, 201);
    w.services_.clear();
    VyrCldapi::Cld_Integration::Install(nullptr);
    // The store as the first version wrote it: numbers unique even when empty, no notices, no
    // change numbers, no order of a model update's files.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(utf8(w.store_ / "store.sqlite").c_str(), &db), SQLITE_OK);
    const auto first = std::string(before_folders) + R"sql(
        CREATE TABLE projects_v1(id TEXT PRIMARY KEY, tenant_id TEXT NOT NULL REFERENCES tenants(id),
            name TEXT NOT NULL, number TEXT NOT NULL, crs TEXT NOT NULL, created INTEGER NOT NULL,
            UNIQUE(tenant_id, number));
        INSERT INTO projects_v1 SELECT id, tenant_id, name, number, crs, created FROM projects;
        DROP TABLE projects;
        ALTER TABLE projects_v1 RENAME TO projects;
        DROP TABLE notices;
        DROP INDEX files_space_seq;
        ALTER TABLE files DROP COLUMN seq;
        ALTER TABLE model_update_files DROP COLUMN position;
        DROP TABLE activity;
        DROP TABLE activity_spaces;
        PRAGMA user_version = 1;)sql";
    ASSERT_EQ(sqlite3_exec(db, first.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    for (const std::string user : {"anna", "bert"}) {
        w.services_[user] = open_service(w.options(user));
    }
    w.select("anna");
    EXPECT_EQ(GetFileRevision("plan.dwg"), 1u);
    CreateProject("Also unnumbered", "", code);
    EXPECT_EQ(code, 201);
    CreateProject("Numbered again", "2026-17", code);
    EXPECT_EQ(code, 409);
    EXPECT_EQ(GetProjectList(code)->size(), 3u);
    EXPECT_EQ(GetProjectPartitionTags(w.projectId, code)->size(), 1u);
    // The files stored before have their folders, counted, and their name order.
    const auto database = w.store_ / "store.sqlite";
    EXPECT_EQ(count(database, "SELECT count(*) FROM files WHERE deleted = 0 AND name_key = ''"), 0);
    EXPECT_EQ(count(database, "SELECT sum(files) FROM folders WHERE key = ''"),
              count(database, "SELECT count(*) FROM files WHERE deleted = 0"));
    EXPECT_GT(count(database, "SELECT count(*) FROM files WHERE deleted = 0"), 0);
}

TEST(Store, OfTheThirdVersionHandsEachWorkingFolderWhatItKeptForIt)
{
    World w;
    w.stored("plan.dwg", "revision 1");
    int code = 0;
    SetStartedInFieldMode(true);
    w.write("field.txt", "written in the field");
    UploadFile("field.txt", code);
    ASSERT_EQ(code, 202);
    w.services_.clear();
    VyrCldapi::Cld_Integration::Install(nullptr);
    // The store as the third version kept it: the folder's agreement and queue in its own tables.
    fs::remove_all(w.store_ / "journals");
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(utf8(w.store_ / "store.sqlite").c_str(), &db), SQLITE_OK);
    const auto third = std::string(before_folders) + "INSERT INTO working SELECT 'anna-id', '" + fs::canonical(w.folder("anna")).string() +
                       "', id, path, revision, blob, size, 0 FROM files WHERE path = 'plan.dwg';"
                       "INSERT INTO upload_queue SELECT 'anna-id', space_id, 'field.txt', 0 FROM files;"
                       "ALTER TABLE model_update_files DROP COLUMN position;"
                       "DROP TABLE activity; DROP TABLE activity_spaces;"
                       "PRAGMA user_version = 3;";
    ASSERT_EQ(sqlite3_exec(db, third.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);

    w.services_["anna"] = open_service(w.options("anna"));
    w.select("anna");
    // Based on the revision the folder agreed on: a new revision, not a conflict.
    w.write("plan.dwg", "revision 2");
    UploadFile("plan.dwg", code);
    EXPECT_EQ(code, 200);
    EXPECT_EQ(GetFileRevision("plan.dwg"), 2u);
    // The queued upload goes when the field ends.
    SetStartedInFieldMode(false);
    EXPECT_EQ(GetFileRevision("field.txt"), 1u);
}

TEST(Store, AFileTooLongForThisWorkingFolderIsListedNotFetched)
{
    World w;
    const std::string name = std::string(200, 'n') + "/" + std::string(200, 'm') + ".dwg";
    w.stored(name, "x");
    auto deep = w.root_ / "work-bert";
    for (int i = 0; i < 15; ++i) {
        deep /= std::string(245, 'd');
    }
    w.as("bert");
    ASSERT_TRUE(SetProjectAndPartition(w.projectId, "", w.partitionId, deep.string(), "", ""));
    EXPECT_FALSE(GetProjectFiles(std::nullopt, std::nullopt));
    EXPECT_EQ(CheckPathTooLongExceptions(), std::vector<std::string>{name});
}

} // namespace
} // namespace vyr::cld::local::test
