#pragma once

#include "../server/harness.h"

#include <memory>
#include <string>

namespace vyr::cld::domain {
class PostgresPool;
class PostgresAccounts;
} // namespace vyr::cld::domain

namespace vyr::cld::test {

// A team store for one test world: a database of its own in the run's PostgreSQL cluster (the PG*
// environment), migrated, with the tenant "local", and the server program on 127.0.0.1. The
// database and the server go with the object. A user "x" is known as "x-id".
class TeamStore {
public:
    TeamStore(std::string serverProgram, std::string database);
    ~TeamStore();
    TeamStore(const TeamStore&) = delete;
    TeamStore& operator=(const TeamStore&) = delete;

    [[nodiscard]] const std::string& url() const { return url_; }
    // Adds the user to the tenant and answers a new token of theirs.
    std::string add_user(const std::string& user);
    void grant_admin(const std::string& user, const std::string& projectId);
    // A road database contract of the project, an administrator's act outside the client.
    void add_road_contract(const std::string& projectId, const std::string& id, const std::string& name);
    // Kills the server (SIGKILL, as a crash would) and starts it again on the same port.
    void restart_server();

private:
    void start_server(const std::string& listen);

    std::string program_;
    std::string database_;
    std::shared_ptr<domain::PostgresPool> pool_;
    std::unique_ptr<domain::PostgresAccounts> accounts_;
    std::unique_ptr<Child> server_;
    std::string address_; // 127.0.0.1:port
    std::string url_;
};

} // namespace vyr::cld::test
