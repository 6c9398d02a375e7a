#pragma once

#include <vyr/cld/platform.h>
#include <vyr/cld/time.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

/// @file
/// Projects, tenants, project metadata, partitions and tags, road database contracts.
///
/// The records are plain values that own their contents. A text the service left null fails the
/// whole call for every record here except ProjectMetadata and AppTypeSize, where it reads as
/// empty text. A query answers an empty optional both when the service answered null and when
/// the call failed; only `responsecode`, which the service alone writes, tells the two apart.
namespace vyr::cld {

struct Project {
    std::string name;
    std::string projectNumber;
    std::string id;

    friend bool operator==(const Project&, const Project&) = default;
};

struct Tenant {
    std::string tenantDisplayName;
    bool isEnabled = false;
    std::string providerSpecificTenantId;
    std::string organizationId;
    std::string tenantUniqueId;

    friend bool operator==(const Tenant&, const Tenant&) = default;
};

/// The size the project takes for one application type, in the service's units.
struct AppTypeSize {
    std::string appType;
    std::int64_t size = 0;

    friend bool operator==(const AppTypeSize&, const AppTypeSize&) = default;
};

struct ProjectMetadata {
    std::string id;
    std::int64_t size = 0;
    std::string sizeStatus;
    /// 100-nanosecond ticks since 1970-01-01, read as wall-clock time whatever zone the service meant.
    TimePoint sizeTimestamp{};
    std::string coordinateReferenceSystem;
    bool canUpdateCoordinateReferenceSystem = false;
    std::vector<AppTypeSize> appTypeSizes;

    friend bool operator==(const ProjectMetadata&, const ProjectMetadata&) = default;
};

/// A user-directory tag, and the part of a partition that every tag has.
struct ProjectTag {
    std::string displayName;
    std::string id;

    friend bool operator==(const ProjectTag&, const ProjectTag&) = default;
};

struct PartitionMetadata {
    int versionMajor = 0;

    friend bool operator==(const PartitionMetadata&, const PartitionMetadata&) = default;
};

/// A partition is a tag with metadata; passed as a ProjectTag it keeps its name and id only.
struct ProjectPartition : ProjectTag {
    /// Version 0 also when the service has no metadata for the partition.
    PartitionMetadata clientMetadata;

    friend bool operator==(const ProjectPartition&, const ProjectPartition&) = default;
};

/// A road database contract.
struct NvdbProject {
    std::string nvdbContractName;
    std::string nvdbContractId;

    friend bool operator==(const NvdbProject&, const NvdbProject&) = default;
};

} // namespace vyr::cld

namespace VyrCldapiIntegration {

/// @name Projects and tenants
///@{
VYR_CLD_API std::optional<std::vector<vyr::cld::Project>> GetProjectList(int& responsecode);
VYR_CLD_API std::optional<vyr::cld::Project> GetProjectInfo(const std::string& projectId, int& responsecode);
VYR_CLD_API std::optional<vyr::cld::Project> CreateProject(const std::string& projectName,
                                                           const std::string& projectNumber, int& responsecode);
VYR_CLD_API std::optional<std::vector<vyr::cld::Tenant>> GetTenants(int& responsecode);
VYR_CLD_API std::optional<vyr::cld::Tenant> GetTenantInfo(int& responsecode);

/// Metadata of the project the service has chosen.
VYR_CLD_API std::optional<vyr::cld::ProjectMetadata> GetProjectMetadata(int& responsecode);
///@}

/// @name Partitions and user-directory tags
///@{
VYR_CLD_API std::optional<vyr::cld::ProjectPartition>
GetPartitionInfo(const std::string& projectId, const std::string& partitionId, int& responsecode);
VYR_CLD_API std::optional<std::vector<vyr::cld::ProjectPartition>> GetProjectPartitionTags(const std::string& projectId,
                                                                                           int& responsecode);
VYR_CLD_API std::optional<vyr::cld::ProjectPartition>
CreateProjectPartitionTag(const std::string& projectId, const std::string& name, int versionMajor, int& responsecode);
/// Keyed by project id, case-sensitively. Should the service list a project twice, its later
/// entry is the one kept.
VYR_CLD_API std::optional<std::unordered_map<std::string, std::vector<vyr::cld::ProjectPartition>>>
GetAllAccessibleProjectPartitions(int& responsecode);
/// true once the service has handled the request, whatever it wrote into `responsecode`.
VYR_CLD_API bool SetPartitionVersion(const std::string& projectId, const std::string& partitionId, int versionMajor,
                                     int& responsecode);
VYR_CLD_API std::optional<std::vector<vyr::cld::ProjectTag>> GetUserDirectoryTags(int& responsecode);
VYR_CLD_API std::optional<vyr::cld::ProjectTag> GetUserDirectoryTagInfo(int versionMajor, int& responsecode);
VYR_CLD_API std::optional<vyr::cld::ProjectTag> CreateUserDirectoryTag(int versionMajor, int& responsecode);
///@}

/// @name Road database contracts
/// The list is empty alike for no contracts, a null answer and a failure.
///@{
VYR_CLD_API std::optional<vyr::cld::NvdbProject> GetNvdbProject(int& responsecode);
VYR_CLD_API std::vector<vyr::cld::NvdbProject> GetNvdbProjects(int& responsecode);
///@}

} // namespace VyrCldapiIntegration
