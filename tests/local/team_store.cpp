#include "team_store.h"

#include <vyr/cld/domain/postgres.h>

#include <pqxx/pqxx>

#include <stdexcept>

namespace vyr::cld::test {

TeamStore::TeamStore(std::string serverProgram, std::string database)
    : program_(std::move(serverProgram)), database_(std::move(database))
{
    {
        pqxx::connection admin{""};
        pqxx::nontransaction create{admin};
        create.exec0("CREATE DATABASE " + admin.quote_name(database_));
    }
    const auto at = "dbname=" + database_;
    domain::migrate_postgres(at);
    pool_ = std::make_shared<domain::PostgresPool>(domain::PostgresSettings{at, 2});
    accounts_ = std::make_unique<domain::PostgresAccounts>(pool_);
    accounts_->add_tenant({"local", "local", "Local tenant", "local", "local", true});
    start_server("127.0.0.1:0");
}

TeamStore::~TeamStore()
{
    server_.reset();
    accounts_.reset();
    pool_.reset();
    try {
        pqxx::connection admin{""};
        pqxx::nontransaction drop{admin};
        drop.exec0("DROP DATABASE IF EXISTS " + admin.quote_name(database_) + " WITH (FORCE)");
    } catch (const std::exception&) {
        // The cluster goes with the run.
    }
}

void TeamStore::start_server(const std::string& listen)
{
    server_.reset();
    server_ = std::make_unique<Child>(
        std::vector<std::string>{program_, "--database", "dbname=" + database_, "serve", "--listen", listen}, true);
    const auto line = server_->line(std::chrono::seconds(30));
    if (!line || line->rfind("listening on ", 0) != 0) {
        throw std::runtime_error("the server did not start");
    }
    address_ = line->substr(std::string("listening on ").size());
    url_ = "http://" + address_;
}

std::string TeamStore::add_user(const std::string& user)
{
    accounts_->add_user({user + "-id", user + " display", user + "@example.org"}, "local");
    return accounts_->create_token(user + "-id").secret;
}

void TeamStore::grant_admin(const std::string& user, const std::string& projectId)
{
    accounts_->grant(user + "-id", projectId, domain::Role::Admin);
}

void TeamStore::add_road_contract(const std::string& projectId, const std::string& id, const std::string& name)
{
    domain::postgres_store(pool_)->write([&](domain::Records& records) { records.add_contract({projectId, id, name}); });
}

void TeamStore::restart_server()
{
    server_->kill();
    if (!server_->wait(std::chrono::seconds(10))) {
        throw std::runtime_error("the server did not end");
    }
    // Its listening socket is gone with it; the server binds with SO_REUSEADDR, so the
    // connections it left in TIME_WAIT do not keep the port.
    start_server(address_);
}

} // namespace vyr::cld::test
