// A folder's page through the team server on PostgreSQL (the database of the PG* variables): the
// same page (ten sub-folders and a hundred files) at the top of a partition of 200 files and of
// one of 2,000, the page of one sub-folder (10 and 190 files), a search beneath the top, and the
// API's folder request. A page's server time may grow with what it shows, never with what it does
// not: the top pages of the two partitions should take alike. Each row reports the answer's bytes.
//
//   with_postgres.sh vyr-cld-folder-bench [--benchmark_* options]
#include "server/harness.h"

#include <vyr/cld/domain/domain.h>
#include <vyr/cld/domain/postgres.h>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <iostream>
#include <map>
#include <unistd.h>

namespace {

using namespace vyr::cld;
using namespace std::chrono_literals;

struct World {
    std::unique_ptr<test::Child> server;
    unsigned short port = 0;
    std::string cookie, bearer;
    std::map<std::int64_t, std::string> spaces; // by their number of files
};
World* world = nullptr;

[[noreturn]] void fail(const std::string& why)
{
    std::cerr << "vyr-cld-folder-bench: " << why << '\n';
    std::exit(1);
}

domain::Millis now()
{
    return domain::to_millis(std::chrono::system_clock::now());
}

void build(World& w)
{
    domain::migrate_postgres("");
    auto pool = std::make_shared<domain::PostgresPool>(domain::PostgresSettings{});
    domain::PostgresAccounts accounts(pool);
    const auto tenant = "bench-" + domain::new_id();
    accounts.add_tenant({domain::new_id(), tenant, "Bench", "provider", "organization", true});
    const domain::UserRow user{domain::new_id(), "Bench User", "bench@example.org"};
    accounts.add_user(user, tenant);
    const auto token = accounts.create_token(user.id);
    const auto session = accounts.start_session(token.secret, now(), now() + 3600 * 1000);
    if (!session) {
        fail("no session");
    }
    w.cookie = "vyr_session=" + session->first;
    w.bearer = token.secret;
    const auto owner = domain::store_domain(domain::postgres_store(pool), user, now);
    const auto project = owner->create_project(tenant, "Bench", "B-1").value.id;
    for (const std::int64_t files : {200, 2000}) {
        const auto space = owner->create_partition(project, std::to_string(files) + " files", 1).value.id;
        // A hundred at the top; ten folders share the rest.
        for (std::int64_t i = 0; i < files; ++i) {
            const auto name = (i < 100 ? std::string() : "Folder " + std::to_string(i % 10) + "/") + "plan " +
                              std::to_string(i) + ".dwg";
            if (owner->commit({space, name, std::nullopt, std::string(64, 'a'), 1000 + i, false, false}).code != 201) {
                fail("cannot store " + name);
            }
        }
        w.spaces[files] = space;
    }
    // The request log of a line per request goes nowhere: it is the same at both sizes.
    const int saved = dup(STDERR_FILENO);
    const int quiet = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(quiet, STDERR_FILENO);
    w.server = std::make_unique<test::Child>(
        std::vector<std::string>{VYR_CLD_SERVER_PROGRAM, "serve", "--listen", "127.0.0.1:0"}, true);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(quiet);
    const auto line = w.server->line(30s);
    if (!line || line->rfind("listening on ", 0) != 0) {
        fail("the server did not start");
    }
    w.port = static_cast<unsigned short>(std::stoi(line->substr(line->rfind(':') + 1)));
}

std::string get(const std::string& target, const std::string& credentials)
{
    test::Socket socket(world->port);
    socket.send("GET " + target + " HTTP/1.1\r\nHost: bench\r\n" + credentials + "\r\nConnection: close\r\n\r\n");
    return socket.receive_response(30s);
}

// One request per iteration, a new connection each, as a browser's first request of a page.
void run(benchmark::State& state, const std::string& target, bool api)
{
    const auto credentials = api ? "Authorization: Bearer " + world->bearer : "Cookie: " + world->cookie;
    std::size_t bytes = 0;
    for (auto _ : state) {
        const auto response = get(target, credentials);
        if (test::status_of(response) != 200) {
            state.SkipWithError(("answered " + response.substr(0, 200)).c_str());
            return;
        }
        bytes = response.size();
    }
    state.counters["page_bytes"] = static_cast<double>(bytes);
}

void TopPage(benchmark::State& state)
{
    run(state, "/spaces/" + world->spaces.at(state.range(0)), false);
}
void SubFolderPage(benchmark::State& state)
{
    run(state, "/spaces/" + world->spaces.at(state.range(0)) + "?path=Folder%203", false);
}
void SearchBeneathTop(benchmark::State& state)
{
    run(state, "/spaces/" + world->spaces.at(state.range(0)) + "?contains=plan%2017", false);
}
void ApiTopFolder(benchmark::State& state)
{
    run(state, "/v1/spaces/" + world->spaces.at(state.range(0)) + "/folder", true);
}

BENCHMARK(TopPage)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SubFolderPage)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(SearchBeneathTop)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ApiTopFolder)->Arg(200)->Arg(2000)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    // However it goes, the run ends: the server dies with it, and the cluster with its wrapper.
    alarm(900);
    World w;
    build(w);
    world = &w;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
