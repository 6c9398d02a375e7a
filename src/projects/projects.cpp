#include <vyr/cld/projects.h>

#include "frame/contain.h"
#include "frame/text.h"
#include "projects/records.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::Project;
using vyr::cld::Tenant;
using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

std::optional<std::vector<Project>> GetProjectList(int& responsecode)
{
    return contain(
        [&] { return marshal_as<std::optional<std::vector<Project>>>(Cld_Integration::GetProjectList(responsecode)); });
}

std::optional<Project> GetProjectInfo(const std::string& projectId, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<Project>>(
            Cld_Integration::GetProjectInfo(marshal_as<String>(projectId), responsecode));
    });
}

std::optional<Project> CreateProject(const std::string& projectName, const std::string& projectNumber,
                                     int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return marshal_as<std::optional<Project>>(Cld_Integration::CreateProject(
            marshal_as<String>(projectName, host), marshal_as<String>(projectNumber, host), responsecode));
    });
}

std::optional<std::vector<Tenant>> GetTenants(int& responsecode)
{
    return contain(
        [&] { return marshal_as<std::optional<std::vector<Tenant>>>(Cld_Integration::GetTenants(responsecode)); });
}

std::optional<Tenant> GetTenantInfo(int& responsecode)
{
    return contain([&] { return marshal_as<std::optional<Tenant>>(Cld_Integration::GetTenantInfo(responsecode)); });
}

} // namespace VyrCldapiIntegration
