// The team service through the remote service client.
#include "open.h"

#include "text.h"

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

} // namespace

std::shared_ptr<VyrCldapi::ICld_Integration> open_team(const State& state)
{
    return remote::open_service(options_of(state));
}

local::Identity team_user(const State& state)
{
    auto user = remote::identify(options_of(state));
    return {host(user.id), host(user.displayName), host(user.principalName)};
}

} // namespace vyr::cld::cli
