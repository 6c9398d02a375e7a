// SQLite as the Windows builds compile it from Debian's sources: the ways the stores use it
// (a file of a non-ASCII path, write-ahead logging, transactions, a second connection) work
// under Windows' file functions.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace vyr::cld::test {
namespace {

struct Close {
    void operator()(sqlite3* db) const noexcept { sqlite3_close(db); }
};
using Db = std::unique_ptr<sqlite3, Close>;

Db opened(const std::filesystem::path& file)
{
    sqlite3* db = nullptr;
    const auto name = file.u8string();
    const int code = sqlite3_open_v2(reinterpret_cast<const char*>(name.c_str()), &db,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    Db out(db);
    EXPECT_EQ(code, SQLITE_OK) << (db ? sqlite3_errmsg(db) : "no handle");
    return out;
}

// The first column of the first row of `sql`, as text; "" for none.
std::string scalar(sqlite3* db, const char* sql)
{
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql, -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    std::string out;
    if (statement && sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(statement, 0);
        out = text ? reinterpret_cast<const char*>(text) : "";
    }
    sqlite3_finalize(statement);
    return out;
}

void exec(sqlite3* db, const char* sql)
{
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
}

TEST(WindowsSqlite, AStoreOnANonAsciiPathKeepsWhatATransactionWrote)
{
    const auto folder = std::filesystem::temp_directory_path() / std::filesystem::path(u8"vyr-cld Gr\u00FC\u00DFe \u65E5\u672C");
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const auto file = folder / "store.sqlite";
    {
        const auto db = opened(file);
        ASSERT_TRUE(db);
        EXPECT_EQ(scalar(db.get(), "PRAGMA journal_mode = WAL"), "wal");
        exec(db.get(), "CREATE TABLE names(name TEXT PRIMARY KEY)");
        exec(db.get(), "BEGIN IMMEDIATE");
        exec(db.get(), "INSERT INTO names VALUES ('Gr\xC3\xBC\xC3\x9F" "e.dwg')");
        exec(db.get(), "COMMIT");
        // A second connection, as a second process would open it, sees the commit.
        const auto other = opened(file);
        ASSERT_TRUE(other);
        EXPECT_EQ(scalar(other.get(), "SELECT name FROM names"), "Gr\xC3\xBC\xC3\x9F" "e.dwg");
        // A transaction rolled back leaves nothing.
        exec(db.get(), "BEGIN");
        exec(db.get(), "DELETE FROM names");
        exec(db.get(), "ROLLBACK");
        EXPECT_EQ(scalar(other.get(), "SELECT count(*) FROM names"), "1");
    }
    EXPECT_TRUE(std::filesystem::exists(file));
    std::filesystem::remove_all(folder);
}

TEST(WindowsSqlite, IsTheReleaseDebianShipsAndSerializesThreads)
{
    EXPECT_EQ(std::string(sqlite3_libversion()).rfind("3.", 0), 0U);
    EXPECT_EQ(sqlite3_threadsafe(), 1);
}

} // namespace
} // namespace vyr::cld::test
