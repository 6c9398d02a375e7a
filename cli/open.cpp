#include "open.h"

#include "text.h"

#include <fmt/format.h>

namespace vyr::cld::cli {

// Defined by the build: on the remote service, or refusing when it was built without one.
std::shared_ptr<VyrCldapi::ICld_Integration> open_team(const State& state);

std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const State& state, bool create)
{
    if (!state.server.empty()) {
        return open_team(state);
    }
    // The service keeps its user in UTF-8; the state holds host text.
    local::Options options;
    options.store = state.store;
    options.createStore = create;
    options.user = {to_utf8(state.user.id), to_utf8(state.user.displayName), to_utf8(state.user.principalName)};
    return local::open_service(options);
}

std::string token_refused(const State& state)
{
    return fmt::format("it does not take the token in {} (unknown, revoked, or its user disabled); put a new "
                       "token in that file",
                       escaped(state.tokenFile.string()));
}

} // namespace vyr::cld::cli
