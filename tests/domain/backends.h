#pragma once

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>

#include <filesystem>
#include <memory>
#include <string>

// The record stores the rules are proven on: a SQLite file in a scratch folder, and the
// PostgreSQL database made for this run.
namespace vyr::cld::domain::test {

class Backend {
public:
    virtual ~Backend() = default;

    // A new user who sees `tenant()`.
    virtual UserRow user(const std::string& name) = 0;
    // Gives a role on a project; a local store's users are admins of every project already.
    virtual void grant(const UserRow& user, const std::string& projectId, Role role) = 0;
    // Whether users see only what they were granted (the team service) or everything (a local store).
    [[nodiscard]] virtual bool isolates() const = 0;
    [[nodiscard]] const std::string& tenant() const { return tenant_; }
    [[nodiscard]] std::shared_ptr<MetadataStore> store() const { return store_; }

    [[nodiscard]] std::unique_ptr<Domain> domain(const UserRow& user) const;

protected:
    std::shared_ptr<MetadataStore> store_;
    std::string tenant_;
};

// "sqlite" or "postgres".
std::unique_ptr<Backend> make_backend(const std::string& kind);

Millis clock_now();

// The pool settings of this run's PostgreSQL database.
PostgresSettings test_settings();
// A new tenant of this run's database, and a user of it.
TenantRow new_tenant(PostgresAccounts& accounts);
UserRow new_user(PostgresAccounts& accounts, const std::string& tenantUniqueId, const std::string& name);

} // namespace vyr::cld::domain::test
