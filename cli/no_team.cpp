// A build without the team service: a working folder on a team server cannot be opened.
#include "open.h"

#include <stdexcept>

namespace vyr::cld::cli {

std::shared_ptr<VyrCldapi::ICld_Integration> open_team(const State&)
{
    throw std::runtime_error("this vyr-cld was built without the team service");
}

local::Identity team_user(const State&)
{
    throw std::runtime_error("this vyr-cld was built without the team service");
}

} // namespace vyr::cld::cli
