#pragma once

#include "state.h"

#include <VyrCldapi/Cld_Integration.h>

#include <memory>

// The service a working folder names: the local service on its store, or the remote service on its
// team server.
namespace vyr::cld::cli {

// Opens it; a local store is created only when `create` (by `init`). Raises std::exception.
std::shared_ptr<VyrCldapi::ICld_Integration> open_service(const State& state, bool create);

// Whom the team server's token names; raises std::exception when it cannot tell. Both raise
// Failure, with an exit code of its own, when the team service cannot be reached
// (exit_failed), does not take the token (exit_token_refused) or cannot serve (exit_unavailable).
local::Identity team_user(const State& state);

// What a refused token means for the user of a working folder on a team service, and what to do:
// "it does not take the token in FILE …", to follow a sentence that names the service.
std::string token_refused(const State& state);

} // namespace vyr::cld::cli
