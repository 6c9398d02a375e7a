// The world on a team server: a database of its own in the run's PostgreSQL cluster, the server
// program on 127.0.0.1, and a remote service per user, each user known to the server by a token.
#include "world.h"

#include "team_store.h"

#include <vyr/cld/remote/service.h>

#include <atomic>
#include <unistd.h>

namespace vyr::cld::local::test {

const bool World::team = true;

struct World::Team {
    vyr::cld::test::TeamStore store;
    std::map<std::string, std::string> tokens; // by user

    Team() : store(VYR_CLD_SERVER_PROGRAM, database_name()) {}

    static std::string database_name()
    {
        static std::atomic<int> worlds{0};
        return "world_" + std::to_string(::getpid()) + "_" + std::to_string(worlds++);
    }
};

void World::open_store()
{
    team_ = std::make_shared<Team>();
}

void World::share_project()
{
    for (const auto& [user, token] : team_->tokens) {
        team_->store.grant_admin(user, projectId);
    }
}

std::shared_ptr<VyrCldapi::ICld_Integration> World::open(const std::string& user, const DialogAnswers& dialogs)
{
    auto& token = team_->tokens[user];
    if (token.empty()) {
        token = team_->store.add_user(user);
        if (!projectId.empty()) {
            team_->store.grant_admin(user, projectId);
        }
    }
    return open_remote(team_->store.url(), token, dialogs);
}

void World::add_road_contract(const std::string& id, const std::string& name)
{
    team_->store.add_road_contract(projectId, id, name);
}

void World::restart_server()
{
    team_->store.restart_server();
}

} // namespace vyr::cld::local::test
