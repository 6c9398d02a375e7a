#pragma once

#include <vyr/cld/projects.h>

#include "frame/failures.h"
#include "frame/marshal.h"
#include "frame/records.h"
#include "frame/text.h"
#include "frame/time.h"

#include <VyrCldapi/Models.h>

#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

// How each record of the projects family is read from its service object. Each conversion fails
// on a null object; the optional, list and optional-list forms are the generic record rules.
namespace vyr::cld::bridge {

namespace service = VyrCldapi::ApiModels;
namespace admin = VyrProAdmModule::ApiModels;

using partitions_by_project = std::unordered_map<std::string, std::vector<ProjectPartition>>;

static_assert(std::is_same_v<decltype(ProjectMetadata::sizeTimestamp), TimePoint>);

template <> struct marshaller<Project, VyrCldapi::Ref<admin::Project>> {
    static Project convert(const VyrCldapi::Ref<admin::Project>& object, const host_encoding& host)
    {
        const auto& project = deref(object);
        // Each field built in place, in order: a braced list converts left to right.
        return Project{.name = marshal_as<std::string>(project.Name, host),
                       .projectNumber = marshal_as<std::string>(project.ProjectNumber, host),
                       .id = marshal_as<std::string>(project.Id, host)};
    }
};

template <> struct marshaller<Tenant, VyrCldapi::Ref<admin::Tenant>> {
    static Tenant convert(const VyrCldapi::Ref<admin::Tenant>& object, const host_encoding& host)
    {
        const auto& tenant = deref(object);
        return Tenant{.tenantDisplayName = marshal_as<std::string>(tenant.tenantDisplayName, host),
                      .isEnabled = tenant.isEnabled,
                      .providerSpecificTenantId = marshal_as<std::string>(tenant.providerSpecificTenantId, host),
                      .organizationId = marshal_as<std::string>(tenant.organizationId, host),
                      .tenantUniqueId = marshal_as<std::string>(tenant.tenantUniqueId, host)};
    }
};

// Metadata only describes the project: a null text in it reads as empty text instead of failing.
template <> struct marshaller<AppTypeSize, VyrCldapi::Ref<service::AppTypeSize>> {
    static AppTypeSize convert(const VyrCldapi::Ref<service::AppTypeSize>& object, const host_encoding& host)
    {
        const auto& size = deref(object);
        AppTypeSize record;
        record.appType = text_or_empty(size.appType, host);
        record.size = size.size;
        return record;
    }
};

template <> struct marshaller<ProjectMetadata, VyrCldapi::Ref<service::ProjectMetadata>> {
    static ProjectMetadata convert(const VyrCldapi::Ref<service::ProjectMetadata>& object, const host_encoding& host)
    {
        const auto& metadata = deref(object);
        ProjectMetadata record;
        record.id = text_or_empty(metadata.id, host);
        record.size = metadata.size;
        record.sizeStatus = text_or_empty(metadata.sizeStatus, host);
        record.sizeTimestamp = marshal_as<TimePoint>(metadata.sizeTimestamp, host);
        record.coordinateReferenceSystem = text_or_empty(metadata.coordinateReferenceSystem, host);
        record.canUpdateCoordinateReferenceSystem = metadata.canUpdateCoordinateReferenceSystem;
        // A null list is no sizes; a null entry in it still fails.
        record.appTypeSizes = marshal_as<std::vector<AppTypeSize>>(metadata.appTypeSizes, host);
        return record;
    }
};

template <> struct marshaller<ProjectTag, VyrCldapi::Ref<service::Tag>> {
    static ProjectTag convert(const VyrCldapi::Ref<service::Tag>& object, const host_encoding& host)
    {
        const auto& tag = deref(object);
        return ProjectTag{.displayName = marshal_as<std::string>(tag.displayName, host),
                          .id = marshal_as<std::string>(tag.id, host)};
    }
};

template <> struct marshaller<PartitionMetadata, VyrCldapi::Ref<service::PartitionMetadata>> {
    static PartitionMetadata convert(const VyrCldapi::Ref<service::PartitionMetadata>& object)
    {
        return PartitionMetadata{deref(object).versionMajor};
    }
};

template <> struct marshaller<ProjectPartition, VyrCldapi::Ref<service::PartitionTag>> {
    static ProjectPartition convert(const VyrCldapi::Ref<service::PartitionTag>& object, const host_encoding& host)
    {
        const auto& tag = deref(object);
        ProjectPartition record;
        record.displayName = marshal_as<std::string>(tag.displayName, host);
        record.id = marshal_as<std::string>(tag.id, host);
        // A partition without metadata is at version 0.
        record.clientMetadata =
            marshal_as<std::optional<PartitionMetadata>>(tag.clientMetadata, host).value_or(PartitionMetadata{});
        return record;
    }
};

template <> struct marshaller<NvdbProject, VyrCldapi::Ref<service::NvdbContract>> {
    static NvdbProject convert(const VyrCldapi::Ref<service::NvdbContract>& object, const host_encoding& host)
    {
        const auto& contract = deref(object);
        NvdbProject record;
        record.nvdbContractId = marshal_as<std::string>(contract.nvdbContractId, host);
        record.nvdbContractName = marshal_as<std::string>(contract.nvdbContractName, host);
        return record;
    }
};

// The contracts come wrapped in an object. No wrapper means no contracts; a wrapper without its
// list is a broken answer and fails.
template <> struct marshaller<std::vector<NvdbProject>, VyrCldapi::Ref<service::NvdbContracts>> {
    static std::vector<NvdbProject> convert(const VyrCldapi::Ref<service::NvdbContracts>& object,
                                            const host_encoding& host)
    {
        if (!object) {
            return {};
        }
        if (object->nvdbContracts.IsNull()) {
            raise_null_reference();
        }
        return marshal_as<std::vector<NvdbProject>>(object->nvdbContracts, host);
    }
};

// Partitions keyed by project id. A null list is an empty map, a project listed without tags
// has no partitions, and a project listed twice keeps its later entry.
template <> struct marshaller<partitions_by_project, VyrCldapi::List<VyrCldapi::Ref<service::PartitionTagsInProject>>> {
    static partitions_by_project
    convert(const VyrCldapi::List<VyrCldapi::Ref<service::PartitionTagsInProject>>& entries, const host_encoding& host)
    {
        partitions_by_project partitions;
        if (entries.IsNull()) {
            return partitions;
        }
        // Buckets for every entry up front, so that inserting never rehashes.
        partitions.reserve(entries.Count());
        for (const auto& object : entries) {
            const auto& entry = deref(object);
            auto tags = marshal_as<std::vector<ProjectPartition>>(entry.tags, host);
            partitions.insert_or_assign(marshal_as<std::string>(entry.projectId, host), std::move(tags));
        }
        return partitions;
    }
};

template <>
struct marshaller<std::optional<partitions_by_project>,
                  VyrCldapi::List<VyrCldapi::Ref<service::PartitionTagsInProject>>> {
    static std::optional<partitions_by_project>
    convert(const VyrCldapi::List<VyrCldapi::Ref<service::PartitionTagsInProject>>& entries, const host_encoding& host)
    {
        if (entries.IsNull()) {
            return std::nullopt;
        }
        return marshal_as<partitions_by_project>(entries, host);
    }
};

} // namespace vyr::cld::bridge
