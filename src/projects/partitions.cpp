#include <vyr/cld/projects.h>

#include "frame/contain.h"
#include "frame/text.h"
#include "projects/records.h"

#include <VyrCldapi/Cld_Integration.h>

using vyr::cld::ProjectPartition;
using vyr::cld::ProjectTag;
using vyr::cld::bridge::contain;
using vyr::cld::bridge::marshal_as;
using vyr::cld::bridge::partitions_by_project;
using vyr::cld::bridge::read_host_encoding;
using VyrCldapi::Cld_Integration;
using VyrCldapi::String;

namespace VyrCldapiIntegration {

std::optional<ProjectPartition> GetPartitionInfo(const std::string& projectId, const std::string& partitionId,
                                                 int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return marshal_as<std::optional<ProjectPartition>>(Cld_Integration::GetPartitionInfo(
            marshal_as<String>(projectId, host), marshal_as<String>(partitionId, host), responsecode));
    });
}

std::optional<std::vector<ProjectPartition>> GetProjectPartitionTags(const std::string& projectId, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<std::vector<ProjectPartition>>>(
            Cld_Integration::GetProjectPartitionTags(marshal_as<String>(projectId), responsecode));
    });
}

std::optional<ProjectPartition> CreateProjectPartitionTag(const std::string& projectId, const std::string& name,
                                                          int versionMajor, int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        return marshal_as<std::optional<ProjectPartition>>(Cld_Integration::CreateProjectPartitionTag(
            marshal_as<String>(projectId, host), marshal_as<String>(name, host), versionMajor, responsecode));
    });
}

std::optional<partitions_by_project> GetAllAccessibleProjectPartitions(int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<partitions_by_project>>(
            Cld_Integration::GetAllAccessibleProjectPartitions(responsecode));
    });
}

bool SetPartitionVersion(const std::string& projectId, const std::string& partitionId, int versionMajor,
                         int& responsecode)
{
    return contain([&] {
        const auto host = read_host_encoding();
        Cld_Integration::SetPartitionVersion(marshal_as<String>(projectId, host), marshal_as<String>(partitionId, host),
                                             versionMajor, responsecode);
        return true;
    });
}

std::optional<std::vector<ProjectTag>> GetUserDirectoryTags(int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<std::vector<ProjectTag>>>(Cld_Integration::GetUserDirectoryTags(responsecode));
    });
}

std::optional<ProjectTag> GetUserDirectoryTagInfo(int versionMajor, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<ProjectTag>>(
            Cld_Integration::GetUserDirectoryTagInfo(versionMajor, responsecode));
    });
}

std::optional<ProjectTag> CreateUserDirectoryTag(int versionMajor, int& responsecode)
{
    return contain([&] {
        return marshal_as<std::optional<ProjectTag>>(
            Cld_Integration::CreateUserDirectoryTag(versionMajor, responsecode));
    });
}

} // namespace VyrCldapiIntegration
