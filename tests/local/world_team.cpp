// The world on a team server: a database of its own in the run's PostgreSQL cluster, the server
// program on 127.0.0.1, and a remote service per user, each user known to the server by a token.
#include "world.h"

#include "../server/harness.h"

#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/remote/service.h>

#include <pqxx/pqxx>

#include <atomic>
#include <unistd.h>

namespace vyr::cld::local::test {

const bool World::team = true;

struct World::Team {
    std::string database;
    std::shared_ptr<domain::PostgresPool> pool;
    std::unique_ptr<domain::PostgresAccounts> accounts;
    std::unique_ptr<vyr::cld::test::Child> server;
    std::string url;
    std::map<std::string, std::string> tokens; // by user

    Team()
    {
        static std::atomic<int> worlds{0};
        database = "world_" + std::to_string(::getpid()) + "_" + std::to_string(worlds++);
        {
            pqxx::connection admin{""};
            pqxx::nontransaction create{admin};
            create.exec0("CREATE DATABASE " + admin.quote_name(database));
        }
        const auto at = "dbname=" + database;
        domain::migrate_postgres(at);
        pool = std::make_shared<domain::PostgresPool>(domain::PostgresSettings{at, 2});
        accounts = std::make_unique<domain::PostgresAccounts>(pool);
        accounts->add_tenant({"local", "local", "Local tenant", "local", "local", true});
        server = std::make_unique<vyr::cld::test::Child>(
            std::vector<std::string>{VYR_CLD_SERVER_PROGRAM, "--database", at, "serve", "--listen", "127.0.0.1:0"},
            true);
        const auto line = server->line(std::chrono::seconds(30));
        if (!line || line->rfind("listening on ", 0) != 0) {
            throw std::runtime_error("the server did not start");
        }
        url = "http://" + line->substr(std::string("listening on ").size());
    }
    ~Team()
    {
        server.reset();
        accounts.reset();
        pool.reset();
        try {
            pqxx::connection admin{""};
            pqxx::nontransaction drop{admin};
            drop.exec0("DROP DATABASE IF EXISTS " + admin.quote_name(database) + " WITH (FORCE)");
        } catch (const std::exception&) {
            // The cluster goes with the run.
        }
    }
};

void World::open_store()
{
    team_ = std::make_shared<Team>();
}

void World::share_project()
{
    for (const auto& [user, token] : team_->tokens) {
        team_->accounts->grant(user + "-id", projectId, domain::Role::Admin);
    }
}

std::shared_ptr<VyrCldapi::ICld_Integration> World::open(const std::string& user, const DialogAnswers& dialogs)
{
    auto& token = team_->tokens[user];
    if (token.empty()) {
        team_->accounts->add_user({user + "-id", user + " display", user + "@example.org"}, "local");
        token = team_->accounts->create_token(user + "-id").secret;
        if (!projectId.empty()) {
            team_->accounts->grant(user + "-id", projectId, domain::Role::Admin);
        }
    }
    remote::Options options;
    options.server = team_->url;
    options.token = token;
    options.journals = root_ / "journals";
    options.syncInterval = std::chrono::milliseconds(10);
    options.dialogs = dialogs;
    return remote::open_service(options);
}

void World::add_road_contract(const std::string& id, const std::string& name)
{
    domain::postgres_store(team_->pool)->write(
        [&](domain::Records& records) { records.add_contract({projectId, id, name}); });
}

Options World::options(const std::string& user) const
{
    Options options;
    options.user = {user + "-id", user + " display", user + "@example.org"};
    return options;
}

} // namespace vyr::cld::local::test
