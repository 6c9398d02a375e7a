// The world on a local store in the scratch folder.
#include "world.h"

#include <stdexcept>

namespace vyr::cld::local::test {

const bool World::team = false;

void World::open_store()
{
    store_ = root_ / "store";
}

void World::share_project() {}

std::shared_ptr<VyrCldapi::ICld_Integration> World::open(const std::string& user, const DialogAnswers& dialogs)
{
    auto chosen = options(user);
    chosen.dialogs = dialogs;
    return open_service(chosen);
}

void World::add_road_contract(const std::string& id, const std::string& name)
{
    add_road_database_contract(store_, projectId, id, name);
}

void World::restart_server()
{
    throw std::logic_error("a local store has no server");
}

Options World::options(const std::string& user) const
{
    Options options;
    options.store = store_;
    options.user = {user + "-id", user + " display", user + "@example.org"};
    options.clock = [this] { return now_; };
    options.syncInterval = std::chrono::milliseconds(10);
    return options;
}

} // namespace vyr::cld::local::test
