// vyr-cld-server: the team service on PostgreSQL, and the administration of its users.
#include <vyr/cld/domain/postgres.h>
#include <vyr/cld/server/server.h>

#include "memory.h"

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>
#include <spdlog/sinks/stdout_sinks.h>
#include <spdlog/spdlog.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

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

// "90s", "30m", "24h", "7d": how long ago, for the clean-up of abandoned uploads and the events
// kept; at least `least`.
std::chrono::milliseconds duration_of(const std::string& text, const std::string& option = "--older-than",
                                      std::chrono::seconds least = std::chrono::seconds(0))
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
    if (count < 0 || seconds == 0 || count * seconds > 366LL * 86400 || count * seconds < least.count()) {
        throw CLI::ValidationError(option, "expected a count and a unit (s, m, h, d), at least " +
                                               std::to_string(least.count()) + "s and at most a year");
    }
    return std::chrono::seconds(count * seconds);
}

domain::Role role_named(const std::string& name)
{
    return name == "admin" ? domain::Role::Admin : domain::Role::Member;
}

// A token's secret is 64 hex digits; an id is shorter, so the two are never mistaken.
bool looks_like_secret(const std::string& text)
{
    return text.size() == 64 &&
           std::all_of(text.begin(), text.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// A command's failure that its message explains fully.
struct Refused {
    std::string message;
};

} // namespace

int main(int argc, char** argv)
{
    server::tune_allocator();
    CLI::App app{"The team service: projects, files, locks and their contents on PostgreSQL."};
    // What a bug report needs: the release, and the database schema this build migrates to.
    app.set_version_flag("--version", "vyr-cld-server " VYR_CLD_VERSION " (database schema " +
                                          std::to_string(domain::postgres_schema_version()) + ")");
    app.require_subcommand(1);
    std::string database;
    app.add_option("--database", database, "libpq connection string or URL; empty: the PG* environment")
        ->envname("VYR_CLD_DATABASE");
    int poolSize = 8;
    app.add_option("--pool", poolSize, "database connections at most")->check(CLI::Range(1, 256));
    std::string contentDir;
    app.add_option("--content-dir", contentDir,
                   "keep file contents as files in this folder (shared by every server); empty: in the database")
        ->envname("VYR_CLD_CONTENT_DIR");

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
    std::string eventMaxAge = "7d";
    int eventMaxCount = domain::PostgresSettings{}.eventMaxCount;
    serve->add_option("--event-max-age", eventMaxAge, "events nobody takes are dropped after this: 1m to 366d")
        ->capture_default_str();
    serve->add_option("--event-max-count", eventMaxCount, "events a user keeps at most, the newest")
        ->check(CLI::Range(10, 1000000))
        ->capture_default_str();

    auto* user = app.add_subcommand("user", "users")->require_subcommand(1);
    auto* userAdd = user->add_subcommand("add", "add a user to a tenant, or update one");
    domain::UserRow newUser;
    std::string tenant = "local";
    userAdd->add_option("id", newUser.id, "the user's id")->required();
    userAdd->add_option("--name", newUser.displayName, "display name");
    userAdd->add_option("--principal", newUser.principalName, "principal name (e-mail)");
    userAdd->add_option("--tenant", tenant, "the tenant's unique id");
    std::string switchedUser;
    auto* userDisable =
        user->add_subcommand("disable", "refuse the user's tokens and sessions from their next request on");
    userDisable->add_option("user", switchedUser, "the user's id")->required();
    auto* userEnable = user->add_subcommand("enable", "let a disabled user's tokens and sessions serve again");
    userEnable->add_option("user", switchedUser, "the user's id")->required();

    auto* tenantCommand = app.add_subcommand("tenant", "tenants")->require_subcommand(1);
    auto* tenantAdd = tenantCommand->add_subcommand("add", "add a tenant, or update one");
    domain::TenantRow newTenant;
    tenantAdd->add_option("unique-id", newTenant.uniqueId, "the tenant's unique id")->required();
    tenantAdd->add_option("--name", newTenant.displayName, "display name");

    auto* token = app.add_subcommand("token", "bearer tokens")->require_subcommand(1);
    auto* tokenCreate =
        token->add_subcommand("create", "create a token for a user; prints the token (shown only now), then its id");
    std::string tokenUser, tokenId;
    tokenCreate->add_option("user", tokenUser, "the user's id")->required();
    auto* tokenRevoke = token->add_subcommand("revoke", "revoke a token by its id");
    tokenRevoke->add_option("id", tokenId, "the token's id (token list USER shows them)")->required();
    auto* tokenList = token->add_subcommand("list", "list a user's tokens: ids, created and revoked times");
    tokenList->add_option("user", tokenUser, "the user's id")->required();

    auto* project = app.add_subcommand("project", "projects")->require_subcommand(1);
    auto* grant = project->add_subcommand("grant", "give a user a role on a project");
    std::string grantUser, grantProject, role = "member";
    grant->add_option("user", grantUser, "the user's id")->required();
    grant->add_option("project", grantProject, "the project's id")->required();
    grant->add_option("--role", role, "member or admin")->check(CLI::IsMember({"member", "admin"}));
    auto* revoke = project->add_subcommand("revoke", "take a user's role on a project away");
    revoke->add_option("user", grantUser, "the user's id")->required();
    revoke->add_option("project", grantProject, "the project's id")->required();

    auto* gc = app.add_subcommand("gc", "drop the uploads never finished that took no chunk for a while");
    std::string olderThan;
    gc->add_option("--older-than", olderThan, "how long without a chunk: 90s, 30m, 24h, 7d")->required();

    // Scripts read what an administration command made or touched from one JSON value instead of
    // its text.
    bool json = false;
    for (auto* command : {migrate, userAdd, userDisable, userEnable, tenantAdd, tokenCreate, tokenRevoke, tokenList,
                          grant, revoke, gc}) {
        command->add_flag("--json", json, "print one JSON value on standard output");
    }

    CLI11_PARSE(app, argc, argv);
    // Standard output is for what a command prints (the port taken, a token); logs go to stderr.
    spdlog::set_default_logger(spdlog::stderr_logger_mt("vyr-cld-server"));

    try {
        domain::PostgresSettings pgSettings{.url = database, .poolSize = poolSize};
        if (serve->parsed()) {
            // Shorter than a minute, events would go before a client polling for them took them.
            pgSettings.eventMaxAge = duration_of(eventMaxAge, "--event-max-age", std::chrono::minutes(1));
            pgSettings.eventMaxCount = eventMaxCount;
        }
        if (migrate->parsed()) {
            const auto version = domain::migrate_postgres(database);
            std::cout << (json ? nlohmann::json{{"schemaVersion", version}}.dump()
                               : "schema version " + std::to_string(version))
                      << '\n';
            return 0;
        }
        auto pool = std::make_shared<domain::PostgresPool>(pgSettings);
        // A server keeps tokens and sessions at hand for a few seconds; revocation holds at once all
        // the same (see CredentialCacheSettings). Administration commands ask every time.
        auto accounts = std::make_shared<domain::PostgresAccounts>(
            pool, serve->parsed() ? domain::CredentialCacheSettings{std::chrono::seconds(5), 4096}
                                  : domain::CredentialCacheSettings{});
        const auto blobs = contentDir.empty() ? domain::postgres_blobs(pool) : domain::file_blobs(pool, contentDir);
        if (serve->parsed()) {
            const auto [address, port] = listen_address(listen);
            settings.address = address;
            settings.port = port;
            settings.limits.readTimeout = std::chrono::milliseconds(readTimeoutMs);
            settings.limits.maxConnections = maxConnections;
            settings.limits.maxConnectionsPerAddress = maxConnections / 4;
            server::Backend backend{domain::postgres_store(pool), blobs, accounts,
                                    [] { return domain::to_millis(std::chrono::system_clock::now()); },
                                    [pool] {
                                        const auto stats = pool->stats();
                                        return std::pair{stats.inUse, stats.size};
                                    },
                                    std::make_shared<domain::PostgresRequestKeys>(pool),
                                    [accounts] { return accounts->cache_use(); }};
            server::Server server(settings, std::move(backend));
            // A line a supervisor (or a test) reads to learn the port taken.
            std::cout << "listening on " << address << ':' << server.port() << std::endl;
            spdlog::info("listening on {}:{} ({})", address, server.port(),
                         settings.tlsCertificate.empty() ? "http" : "https");
            server.run(true);
            return 0;
        }
        // What the command made or touched, for --json.
        nlohmann::json out;
        if (gc->parsed()) {
            const auto before = std::chrono::system_clock::now() - duration_of(olderThan);
            const auto dropped = blobs->drop_unfinished(domain::to_millis(before));
            const auto keys = domain::PostgresRequestKeys(pool).drop_older_than(
                domain::to_millis(std::chrono::system_clock::now() - server::request_key_lifetime));
            out = {{"dropped", dropped}, {"requestKeys", keys}};
            if (!json) {
                std::cout << "dropped " << dropped << " unfinished uploads\n";
            }
        } else if (userAdd->parsed()) {
            accounts->add_user(newUser, tenant);
            out = {{"id", newUser.id}, {"tenant", tenant}};
        } else if (userDisable->parsed() || userEnable->parsed()) {
            accounts->set_disabled(switchedUser, userDisable->parsed());
            out = {{"user", switchedUser}, {"disabled", userDisable->parsed()}};
        } else if (tenantAdd->parsed()) {
            newTenant.id = newTenant.uniqueId;
            accounts->add_tenant(newTenant);
            out = {{"id", newTenant.id}};
        } else if (tokenCreate->parsed()) {
            const auto created = accounts->create_token(tokenUser);
            out = {{"id", created.id}, {"token", created.secret}, {"user", tokenUser}};
            if (!json) {
                // The first line is the token, for a script to put straight into a file.
                std::cout << created.secret << '\n' << created.id << '\n';
                std::cerr << "the token (first line) is shown only now; its id (second line) revokes it\n";
            }
        } else if (tokenRevoke->parsed()) {
            if (looks_like_secret(tokenId)) {
                throw Refused{"token revoke takes the token's id, not the token itself (which should not be typed "
                              "where shell histories and process lists keep it): find the id with `token list "
                              "USER`"};
            }
            if (!accounts->revoke_token(tokenId)) {
                // The id is not echoed: a mistyped secret is no id either.
                throw Refused{"no live token has that id"};
            }
            out = {{"id", tokenId}};
        } else if (tokenList->parsed()) {
            out = nlohmann::json::array();
            for (const auto& listed : accounts->tokens(tokenUser)) {
                out.push_back({{"id", listed.id},
                               {"created", listed.created},
                               {"revoked", listed.revoked ? nlohmann::json(*listed.revoked) : nlohmann::json()}});
                if (!json) {
                    std::cout << listed.id << "  created " << domain::iso_time(listed.created) << "  "
                              << (listed.revoked ? "revoked " + domain::iso_time(*listed.revoked) : "live") << '\n';
                }
            }
        } else if (grant->parsed()) {
            accounts->grant(grantUser, grantProject, role_named(role));
            out = {{"user", grantUser}, {"project", grantProject}, {"role", role}};
        } else if (revoke->parsed()) {
            if (!accounts->revoke(grantUser, grantProject)) {
                throw Refused{grantUser + " holds no role on the project " + grantProject};
            }
            out = {{"user", grantUser}, {"project", grantProject}};
        }
        if (json) {
            // An id is any text given on the command line: bytes that are not UTF-8 are replaced,
            // so that what was done is still told.
            std::cout << out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        }
        return 0;
    } catch (const Refused& refused) {
        std::cerr << "vyr-cld-server: " << refused.message << '\n';
        return 1;
    } catch (const std::exception& failure) {
        std::cerr << "vyr-cld-server: " << failure.what() << '\n';
        return 1;
    }
}
