// The world on a local store in the scratch folder.
#include "world.h"

#include <stdexcept>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

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

void World::sweep_staged(const std::atomic<bool>& done) const
{
    const auto folder = store_ / "blobs" / "tmp";
    while (!done) {
        std::error_code error;
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            const int fd = ::open(it->path().c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
                ::unlink(it->path().c_str());
            }
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }
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
