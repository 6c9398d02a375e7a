// The team service through the remote service client.
#include "open.h"

#include "report.h"
#include "text.h"

#include <fmt/format.h>

#include <vyr/cld/remote/service.h>

namespace vyr::cld::cli {
namespace {

remote::Options options_of(const State& state)
{
    remote::Options options;
    options.server = to_utf8(state.server);
    options.tokenFile = state.tokenFile;
    return options;
}

// The server's UTF-8 as host text, for display only: what the host cannot show is escaped.
std::string host(const std::string& utf8)
{
    std::string text;
    return from_utf8(utf8, text) ? text : escaped(utf8);
}

// Runs an opening, and tells each cause of a failed one in its own words and exit code: each
// has a remedy of its own (start the server or fix the address; a new token; wait).
template <class F> auto reaching(const State& state, F&& opening)
{
    using Cause = remote::OpenFailure::Cause;
    try {
        return opening();
    }
    catch (const remote::OpenFailure& failure) {
        const std::string where = "cannot open the team service " + escaped(state.server);
        std::string detail;
        if (!failure.detail().empty()) {
            // The server's words, in host text where the host can show them; escaped either way.
            std::string text;
            detail = " (" + escaped(from_utf8(failure.detail(), text) ? text : failure.detail()) + ")";
        }
        switch (failure.cause()) {
        case Cause::unreachable:
            throw Failure(fmt::format("{}: it cannot be reached{}; is the server running, and is the address right?",
                                      where, detail),
                          exit_failed);
        case Cause::token_refused:
            throw Failure(fmt::format("{}: {}", where, token_refused(state)), exit_token_refused, 401);
        case Cause::unavailable:
            throw Failure(fmt::format("{}: it cannot serve requests now{}; try again later", where, detail),
                          exit_unavailable, 503);
        case Cause::refused:
            break;
        }
        throw;
    }
}

} // namespace

std::shared_ptr<VyrCldapi::ICld_Integration> open_team(const State& state)
{
    return reaching(state, [&] { return remote::open_service(options_of(state)); });
}

local::Identity team_user(const State& state)
{
    auto user = reaching(state, [&] { return remote::identify(options_of(state)); });
    return {host(user.id), host(user.displayName), host(user.principalName)};
}

} // namespace vyr::cld::cli
