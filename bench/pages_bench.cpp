// The projects page's server time on the database of the environment (PG* variables; run it
// through tests/domain/with_postgres.sh, or the bench-pages target): the whole page as the server
// answers it, and the store's listing under it, for a user who sees 20 or 200 projects, and for one
// who sees 20 in a tenant of 200. The baseline, in the same run, is the listing asked project by
// project (one query for each project's partitions), as the page did before.
//
// The page may cost more for more projects shown, but never for projects it does not show.
#include "../server/src/web/pages.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>

#include <benchmark/benchmark.h>
#include <pqxx/pqxx>

#include <chrono>
#include <map>
#include <memory>

namespace {

using namespace vyr::cld;

domain::Millis now()
{
    return domain::to_millis(std::chrono::system_clock::now());
}

// One database for the run, dropped at its end: tenants with 20 and 200 projects of two
// partitions each, and the users who see them.
struct World {
    std::string database = "vyr_cld_bench_" + domain::new_id();
    std::shared_ptr<domain::PostgresPool> pool;
    std::shared_ptr<domain::PostgresAccounts> accounts;
    server::Backend backend;
    // By name: "20" and "200" see every project of a tenant of that many; "20 of 200" sees 20
    // of a tenant of 200.
    std::map<std::string, domain::UserRow> users;
    std::map<std::string, std::string> sessions, tenants;

    World()
    {
        {
            pqxx::connection admin("dbname=postgres");
            pqxx::nontransaction(admin).exec("CREATE DATABASE " + database);
        }
        const domain::PostgresSettings settings{.url = "dbname=" + database, .poolSize = 2};
        domain::migrate_postgres(settings.url);
        pool = std::make_shared<domain::PostgresPool>(settings);
        accounts = std::make_shared<domain::PostgresAccounts>(pool);
        backend = {domain::postgres_store(pool), domain::postgres_blobs(pool), accounts, now, {}, {}, {}};
        for (const auto& [name, projects, shown] :
             {std::tuple{"20", 20, 20}, std::tuple{"200", 200, 200}, std::tuple{"20 of 200", 200, 20}}) {
            const auto id = domain::new_id();
            accounts->add_tenant({id, "tenant-" + id, "Tenant " + id, "provider", "organization", true});
            const domain::UserRow owner{domain::new_id(), "Owner", "owner-" + id + "@example.org"};
            const domain::UserRow reader{domain::new_id(), "Reader", "reader-" + id + "@example.org"};
            accounts->add_user(owner, "tenant-" + id);
            accounts->add_user(reader, "tenant-" + id);
            const auto domain = domain::store_domain(backend.store, owner, now);
            for (int i = 0; i < projects; ++i) {
                const auto project =
                    domain->create_project("tenant-" + id, "Project " + std::to_string(i), "N-" + std::to_string(i));
                domain->create_partition(project.value.id, "Drawings", 1);
                domain->create_partition(project.value.id, "Models", 1);
                if (i < shown) {
                    accounts->grant(reader.id, project.value.id, domain::Role::Member);
                }
            }
            const auto token = accounts->create_token(reader.id);
            sessions[name] = accounts->start_session(token.secret, now(), now() + 3600 * 1000)->first;
            users[name] = reader;
            tenants[name] = "tenant-" + id;
        }
    }
    ~World()
    {
        backend = {};
        accounts.reset();
        pool.reset();
        pqxx::connection admin("dbname=postgres");
        pqxx::nontransaction(admin).exec("DROP DATABASE IF EXISTS " + database + " WITH (FORCE)");
    }
};

World& world()
{
    static World made;
    return made;
}

const char* name_of(std::int64_t which)
{
    return which == 0 ? "20" : which == 1 ? "200" : "20 of 200";
}

void label(benchmark::State& state)
{
    state.SetLabel(name_of(state.range(0)));
}

// The whole page, as the server answers a signed-in browser (gzip aside).
void ProjectsPage(benchmark::State& state)
{
    auto& w = world();
    server::Request request;
    request.method = "GET";
    request.page = server::web::find_page("GET", "/projects")->page;
    request.cookie = "vyr_session=" + w.sessions.at(name_of(state.range(0)));
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto reply = server::web::handle_page(w.backend, request);
        if (reply.status != 200) {
            state.SkipWithError("the page did not answer 200");
            break;
        }
        bytes = reply.body.size();
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
    label(state);
}

// The store's listing, in its fixed number of queries; or the baseline, the same listing asked
// project by project.
void listing(benchmark::State& state, bool perProject)
{
    auto& w = world();
    const auto name = name_of(state.range(0));
    const auto domain = domain::store_domain(w.backend.store, w.users.at(name), now);
    for (auto _ : state) {
        benchmark::DoNotOptimize(perProject ? domain->domain::Domain::listed_projects(w.tenants.at(name))
                                            : domain->listed_projects(w.tenants.at(name)));
    }
    label(state);
}

void Listing(benchmark::State& state)
{
    listing(state, false);
}

void ListingPerProject(benchmark::State& state)
{
    listing(state, true);
}

BENCHMARK(ProjectsPage)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(Listing)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(ListingPerProject)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

} // namespace
