#pragma once

#include <VyrCldapi/Cld_Integration.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The local service: the service client implemented on one machine, on a SQLite store and a
// folder of file contents. Several processes, each with its own user, may open the same store.
namespace vyr::cld::local {

// Who is calling: the store records this user as lock holder, uploader and event author.
struct Identity {
    std::string id;
    std::string displayName;
    std::string principalName;
};

struct Options {
    // The store folder, created if missing; shared by every user of the store.
    std::filesystem::path store;
    Identity user;
    // The time source for lock times, revisions and events; the system clock when empty.
    std::function<std::chrono::system_clock::time_point()> clock;
};

// Opens (creating or migrating) the store for `options.user`. Raises VyrCldapi::Exception when
// the store cannot be used. Install the result with VyrCldapi::Cld_Integration::Install.
[[nodiscard]] std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const Options& options);

} // namespace vyr::cld::local
