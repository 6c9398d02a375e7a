#include <vyr/cld/files.h>

#include "files/records.h"
#include "frame/contain.h"
#include "frame/records.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using VyrCldapi::Cld_Integration;

namespace VyrCldapiIntegration {

// A null answer is an empty batch, not a failure. One event that does not convert empties the
// whole batch, so the host never receives a batch with a hole in it.
std::vector<vyr::cld::StatusEvent> GetStatusEvents()
{
    return contain([] { return marshal_as<std::vector<vyr::cld::StatusEvent>>(Cld_Integration::GetStatusEvents()); });
}

} // namespace VyrCldapiIntegration
