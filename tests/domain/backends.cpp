#include "backends.h"

#include <gtest/gtest.h>
#include <pqxx/pqxx>

#include <cstdlib>

namespace vyr::cld::domain::test {
namespace {

std::string database_name;

// Makes a database of its own for the run (and drops it afterwards), so that a developer's own
// server, named by PGHOST, keeps nothing of it.
class Database final : public ::testing::Environment {
public:
    void SetUp() override
    {
        database_name = "vyr_cld_test_" + new_id();
        pqxx::connection admin("dbname=postgres");
        pqxx::nontransaction(admin).exec("CREATE DATABASE " + database_name);
        migrate_postgres(test_settings().url);
    }
    void TearDown() override
    {
        pqxx::connection admin("dbname=postgres");
        pqxx::nontransaction(admin).exec("DROP DATABASE IF EXISTS " + database_name + " WITH (FORCE)");
    }
};

class SqliteBackend final : public Backend {
public:
    SqliteBackend()
        : folder_(std::filesystem::temp_directory_path() / ("vyr-cld-domain-" + new_id()))
    {
        std::filesystem::create_directories(folder_);
        store_ = open_sqlite_store({(folder_ / "store.db").string()});
        tenant_ = "local";
    }
    ~SqliteBackend() override
    {
        store_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    UserRow user(const std::string& name) override
    {
        UserRow user{new_id(), name, name + "@example.org"};
        store_->write([&](Records& records) { records.put_user(user); });
        return user;
    }
    void grant(const UserRow&, const std::string&, Role) override {}
    [[nodiscard]] bool isolates() const override { return false; }

private:
    std::filesystem::path folder_;
};

class PostgresBackend final : public Backend {
public:
    PostgresBackend() : pool_(std::make_shared<PostgresPool>(test_settings())), accounts_(pool_)
    {
        store_ = postgres_store(pool_);
        tenant_ = new_tenant(accounts_).uniqueId;
    }
    UserRow user(const std::string& name) override { return new_user(accounts_, tenant_, name); }
    void grant(const UserRow& user, const std::string& projectId, Role role) override
    {
        accounts_.grant(user.id, projectId, role);
    }
    [[nodiscard]] bool isolates() const override { return true; }

private:
    std::shared_ptr<PostgresPool> pool_;
    PostgresAccounts accounts_;
};

} // namespace

Millis clock_now()
{
    return to_millis(std::chrono::system_clock::now());
}

std::unique_ptr<Domain> Backend::domain(const UserRow& user) const
{
    return store_domain(store_, user, clock_now);
}

std::unique_ptr<Backend> make_backend(const std::string& kind)
{
    if (kind == "sqlite") {
        return std::make_unique<SqliteBackend>();
    }
    return std::make_unique<PostgresBackend>();
}

PostgresSettings test_settings()
{
    PostgresSettings settings;
    settings.url = "dbname=" + database_name;
    settings.poolSize = 4;
    settings.acquireTimeout = std::chrono::seconds{20};
    return settings;
}

TenantRow new_tenant(PostgresAccounts& accounts)
{
    const auto id = new_id();
    TenantRow tenant{id, "tenant-" + id, "Tenant " + id, "provider", "organization", true};
    accounts.add_tenant(tenant);
    return tenant;
}

UserRow new_user(PostgresAccounts& accounts, const std::string& tenantUniqueId, const std::string& name)
{
    UserRow user{new_id(), name, name + "@example.org"};
    accounts.add_user(user, tenantUniqueId);
    return user;
}

} // namespace vyr::cld::domain::test

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new vyr::cld::domain::test::Database);
    return RUN_ALL_TESTS();
}
