#include <vyr/cld/projects.h>

#include "frame/contain.h"
#include "projects/records.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::NvdbProject;
using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using VyrCldapi::Cld_Integration;

namespace VyrCldapiIntegration {

std::optional<NvdbProject> GetNvdbProject(int& responsecode)
{
    return contain(
        [&] { return marshal_as<std::optional<NvdbProject>>(Cld_Integration::GetNvdbProject(responsecode)); });
}

std::vector<NvdbProject> GetNvdbProjects(int& responsecode)
{
    return contain(
        [&] { return marshal_as<std::vector<NvdbProject>>(Cld_Integration::GetNvdbProjects(responsecode)); });
}

} // namespace VyrCldapiIntegration
