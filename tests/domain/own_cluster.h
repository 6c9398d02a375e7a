#pragma once

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace vyr::cld::test {

// The PostgreSQL cluster that with_postgres.sh started for this run ("15 regress"), which a test
// may stop and start to prove that a restart is ridden out; nothing when the database is not the
// run's own (PGHOST named one).
class OwnCluster {
public:
    static std::optional<OwnCluster> find()
    {
        const char* name = std::getenv("VYR_CLD_TEST_CLUSTER");
        return name == nullptr ? std::nullopt : std::optional<OwnCluster>(OwnCluster(name));
    }
    // pg_ctlcluster ACTION ("stop -m fast", "start") on the cluster; 0 when it was done.
    int control(const std::string& action) const
    {
        return std::system(("pg_ctlcluster " + name_ + " " + action + " >/dev/null 2>&1").c_str());
    }

private:
    explicit OwnCluster(std::string name) : name_(std::move(name)) {}
    std::string name_;
};

} // namespace vyr::cld::test
