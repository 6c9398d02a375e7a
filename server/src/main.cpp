// vyr-cld-server: the team service on PostgreSQL, and the administration of its users.
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/server/server.h>

#include <CLI/CLI.hpp>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <malloc.h>

namespace {

using namespace vyr::cld;

std::pair<std::string, unsigned short> listen_address(const std::string& text)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) {
        throw CLI::ValidationError("--listen", "expected ADDRESS:PORT");
    }
    const auto port = std::stoul(text.substr(colon + 1));
    if (port > 65535) {
        throw CLI::ValidationError("--listen", "the port is out of range");
    }
    auto address = text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    return {address, static_cast<unsigned short>(port)};
}

// "90s", "30m", "24h", "7d": how long ago, for the clean-up of abandoned uploads.
std::chrono::milliseconds duration_of(const std::string& text)
{
    std::size_t end = 0;
    long long count = -1;
    try {
        count = std::stoll(text, &end);
    } catch (const std::exception&) {
    }
    const auto unit = end > 0 && end + 1 == text.size() ? text.back() : '?';
    const long long seconds = unit == 's' ? 1 : unit == 'm' ? 60 : unit == 'h' ? 3600 : unit == 'd' ? 86400 : 0;
    // A year at most: past that the figure is a typing error, not a policy.
    if (count < 0 || seconds == 0 || count * seconds > 366LL * 86400) {
        throw CLI::ValidationError("--older-than", "expected a count and a unit (s, m, h, d), at most a year");
    }
    return std::chrono::seconds(count * seconds);
}

domain::Role role_named(const std::string& name)
{
    return name == "admin" ? domain::Role::Admin : domain::Role::Member;
}

} // namespace

int main(int argc, char** argv)
{
    // A chunk passes through buffers of a few MiB on whichever worker serves it. Above glibc's
    // default, which rises with each such buffer freed, every worker's arena would keep its own;
    // mapped afresh, they go back as soon as a request is done, and the server stays small.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    CLI::App app{"The team service: projects, files, locks and their contents on PostgreSQL."};
    app.require_subcommand(1);
    std::string database;
    app.add_option("--database", database, "libpq connection string or URL; empty: the PG* environment")
        ->envname("VYR_CLD_DATABASE");
    int poolSize = 8;
    app.add_option("--pool", poolSize, "database connections at most")->check(CLI::Range(1, 256));

    auto* migrate = app.add_subcommand("migrate", "create or migrate the database's schema");

    auto* serve = app.add_subcommand("serve", "serve HTTP until SIGINT or SIGTERM");
    std::string listen = "127.0.0.1:8080";
    server::Settings settings;
    int readTimeoutMs = 30000;
    serve->add_option("--listen", listen, "ADDRESS:PORT; port 0 takes a free one");
    serve->add_option("--tls-cert", settings.tlsCertificate, "PEM certificate chain")->check(CLI::ExistingFile);
    serve->add_option("--tls-key", settings.tlsKey, "PEM private key")->check(CLI::ExistingFile);
    serve->add_option("--workers", settings.workers, "threads for the database work")->check(CLI::Range(1, 256));
    serve->add_option("--read-timeout-ms", readTimeoutMs, "time for a request's header, and for its body")
        ->check(CLI::Range(100, 600000));
    std::size_t maxConnections = settings.limits.maxConnections;
    serve->add_option("--max-connections", maxConnections, "connections at once; one address may hold a quarter")
        ->check(CLI::Range(4, 1000000));

    auto* user = app.add_subcommand("user", "users")->require_subcommand(1);
    auto* userAdd = user->add_subcommand("add", "add a user to a tenant, or update one");
    domain::UserRow newUser;
    std::string tenant = "local";
    userAdd->add_option("id", newUser.id, "the user's id")->required();
    userAdd->add_option("--name", newUser.displayName, "display name");
    userAdd->add_option("--principal", newUser.principalName, "principal name (e-mail)");
    userAdd->add_option("--tenant", tenant, "the tenant's unique id");

    auto* tenantCommand = app.add_subcommand("tenant", "tenants")->require_subcommand(1);
    auto* tenantAdd = tenantCommand->add_subcommand("add", "add a tenant, or update one");
    domain::TenantRow newTenant;
    tenantAdd->add_option("unique-id", newTenant.uniqueId, "the tenant's unique id")->required();
    tenantAdd->add_option("--name", newTenant.displayName, "display name");

    auto* token = app.add_subcommand("token", "bearer tokens")->require_subcommand(1);
    auto* tokenCreate = token->add_subcommand("create", "create a token for a user; printed once");
    std::string tokenUser, tokenName;
    tokenCreate->add_option("user", tokenUser, "the user's id")->required();
    auto* tokenRevoke = token->add_subcommand("revoke", "revoke a token by its id or itself");
    tokenRevoke->add_option("token", tokenName, "the token's id, or the token")->required();

    auto* project = app.add_subcommand("project", "projects")->require_subcommand(1);
    auto* grant = project->add_subcommand("grant", "give a user a role on a project");
    std::string grantUser, grantProject, role = "member";
    grant->add_option("user", grantUser, "the user's id")->required();
    grant->add_option("project", grantProject, "the project's id")->required();
    grant->add_option("--role", role, "member or admin")->check(CLI::IsMember({"member", "admin"}));

    auto* gc = app.add_subcommand("gc", "drop the uploads never finished that took no chunk for a while");
    std::string olderThan;
    gc->add_option("--older-than", olderThan, "how long without a chunk: 90s, 30m, 24h, 7d")->required();

    CLI11_PARSE(app, argc, argv);
    // Standard output is for what a command prints (the port taken, a token); logs go to stderr.
    spdlog::set_default_logger(spdlog::stderr_logger_mt("vyr-cld-server"));

    try {
        const domain::PostgresSettings pgSettings{.url = database, .poolSize = poolSize};
        if (migrate->parsed()) {
            std::cout << "schema version " << domain::migrate_postgres(database) << '\n';
            return 0;
        }
        auto pool = std::make_shared<domain::PostgresPool>(pgSettings);
        auto accounts = std::make_shared<domain::PostgresAccounts>(pool);
        if (serve->parsed()) {
            const auto [address, port] = listen_address(listen);
            settings.address = address;
            settings.port = port;
            settings.limits.readTimeout = std::chrono::milliseconds(readTimeoutMs);
            settings.limits.maxConnections = maxConnections;
            settings.limits.maxConnectionsPerAddress = maxConnections / 4;
            server::Backend backend{domain::postgres_store(pool), domain::postgres_blobs(pool), accounts,
                                    [] { return domain::to_millis(std::chrono::system_clock::now()); },
                                    [pool] {
                                        const auto stats = pool->stats();
                                        return std::pair{stats.inUse, stats.size};
                                    }};
            server::Server server(settings, std::move(backend));
            // A line a supervisor (or a test) reads to learn the port taken.
            std::cout << "listening on " << address << ':' << server.port() << std::endl;
            spdlog::info("listening on {}:{} ({})", address, server.port(),
                         settings.tlsCertificate.empty() ? "http" : "https");
            server.run(true);
            return 0;
        }
        if (gc->parsed()) {
            const auto before = std::chrono::system_clock::now() - duration_of(olderThan);
            const auto dropped = domain::postgres_blobs(pool)->drop_unfinished(domain::to_millis(before));
            std::cout << "dropped " << dropped << " unfinished uploads\n";
        } else if (userAdd->parsed()) {
            accounts->add_user(newUser, tenant);
        } else if (tenantAdd->parsed()) {
            newTenant.id = newTenant.uniqueId;
            accounts->add_tenant(newTenant);
        } else if (tokenCreate->parsed()) {
            const auto created = accounts->create_token(tokenUser);
            std::cout << created.secret << '\n';
            std::cerr << "token id " << created.id << " (the token is shown only now)\n";
        } else if (tokenRevoke->parsed()) {
            if (!accounts->revoke_token(tokenName)) {
                std::cerr << "no such live token\n";
                return 1;
            }
        } else if (grant->parsed()) {
            accounts->grant(grantUser, grantProject, role_named(role));
        }
        return 0;
    } catch (const std::exception& failure) {
        std::cerr << "vyr-cld-server: " << failure.what() << '\n';
        return 1;
    }
}
