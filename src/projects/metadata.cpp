#include <vyr/cld/projects.h>

#include "frame/contain.h"
#include "projects/records.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::ProjectMetadata;
using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using VyrCldapi::Cld_Integration;

namespace VyrCldapiIntegration {

std::optional<ProjectMetadata> GetProjectMetadata(int& responsecode)
{
    return contain(
        [&] { return marshal_as<std::optional<ProjectMetadata>>(Cld_Integration::GetProjectMetadata(responsecode)); });
}

} // namespace VyrCldapiIntegration
