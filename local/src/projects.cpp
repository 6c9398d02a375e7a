#include "service.h"

#include <map>

namespace vyr::cld::local {
namespace {

Ref<Project> to_project(const ProjectRow& row)
{
    auto project = std::make_shared<Project>();
    project->Id = service_text(row.id);
    project->Name = service_text(row.name);
    project->ProjectNumber = service_text(row.number);
    return project;
}

Ref<Tenant> to_tenant(const TenantRow& row)
{
    auto tenant = std::make_shared<Tenant>();
    tenant->Id = service_text(row.id);
    tenant->tenantDisplayName = service_text(row.displayName);
    tenant->isEnabled = row.enabled;
    tenant->providerSpecificTenantId = service_text(row.providerId);
    tenant->organizationId = service_text(row.organizationId);
    tenant->tenantUniqueId = service_text(row.uniqueId);
    return tenant;
}

Ref<ApiModels::PartitionTag> to_partition(const SpaceRow& row)
{
    auto tag = std::make_shared<ApiModels::PartitionTag>();
    tag->displayName = service_text(row.name);
    tag->id = service_text(row.id);
    tag->clientMetadata = std::make_shared<ApiModels::PartitionMetadata>(ApiModels::PartitionMetadata{row.versionMajor});
    return tag;
}

Ref<ApiModels::Tag> to_tag(const SpaceRow& row)
{
    auto tag = std::make_shared<ApiModels::Tag>();
    tag->displayName = service_text(row.name);
    tag->id = service_text(row.id);
    return tag;
}

template <class T, class Row, class Convert> List<Ref<T>> list_of(const std::vector<Row>& rows, Convert&& convert)
{
    auto out = List<Ref<T>>::WithCapacity(rows.size());
    for (const auto& row : rows) {
        out.Add(convert(row));
    }
    return out;
}

void check_version(int versionMajor)
{
    if (versionMajor < 0) {
        fail(ExceptionKind::ArgumentOutOfRange, "versionMajor is negative.");
    }
}

// The application type of a file: its extension in lower case, "other" without one.
std::string app_type(const std::string& path)
{
    const auto name = path.substr(path.rfind('/') + 1);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == name.size()) {
        return "other";
    }
    return folded(name.substr(dot + 1));
}

} // namespace

TenantRow LocalService::current_tenant(Records& records, const Context& context) const
{
    auto tenant = records.tenant(context.tenant);
    if (!tenant) {
        throw Refusal{not_found};
    }
    return std::move(*tenant);
}

ProjectRow LocalService::project_of(Records& records, const String& projectId) const
{
    auto project = records.project(utf8(projectId, "projectId"));
    if (!project) {
        throw Refusal{not_found};
    }
    return std::move(*project);
}

SpaceRow LocalService::partition_of(Records& records, const ProjectRow& project, const String& partitionId) const
{
    auto space = records.space(utf8(partitionId, "partitionId"));
    if (!space || space->kind != SpaceRow::Kind::Partition || space->projectId != project.id) {
        throw Refusal{not_found};
    }
    return std::move(*space);
}

List<Ref<Project>> LocalService::GetProjectList(int& responsecode)
{
    const auto session = context();
    List<Ref<Project>> out;
    respond(responsecode, [&] {
        store_->read([&](Records& records) {
            out = list_of<Project>(records.projects(current_tenant(records, session).id), to_project);
        });
        return static_cast<int>(ok);
    });
    return out;
}

Ref<Project> LocalService::GetProjectInfo(const String& projectId, int& responsecode)
{
    utf8(projectId, "projectId");
    Ref<Project> out;
    respond(responsecode, [&] {
        store_->read([&](Records& records) { out = to_project(project_of(records, projectId)); });
        return static_cast<int>(ok);
    });
    return out;
}

Ref<Project> LocalService::CreateProject(const String& projectName, const String& projectNumber, int& responsecode)
{
    const auto name = utf8(projectName, "projectName");
    const auto number = utf8(projectNumber, "projectNumber");
    const auto session = context();
    Ref<Project> out;
    respond(responsecode, [&] {
        if (name.empty()) {
            return static_cast<int>(bad_request);
        }
        return store_->writing([&](Records& records) {
            const auto tenant = current_tenant(records, session);
            if (!number.empty() && records.project_number_taken(tenant.id, number)) {
                return static_cast<int>(conflict);
            }
            const ProjectRow row{new_id(), tenant.id, name, number, ""};
            records.add_project(row, now());
            out = to_project(row);
            return static_cast<int>(created);
        });
    });
    return out;
}

List<Ref<Tenant>> LocalService::GetTenants(int& responsecode)
{
    List<Ref<Tenant>> out;
    respond(responsecode, [&] {
        out = list_of<Tenant>(store_->reading([](Records& records) { return records.tenants(); }), to_tenant);
        return static_cast<int>(ok);
    });
    return out;
}

Ref<Tenant> LocalService::GetTenantInfo(int& responsecode)
{
    const auto session = context();
    Ref<Tenant> out;
    respond(responsecode, [&] {
        store_->read([&](Records& records) { out = to_tenant(current_tenant(records, session)); });
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::ProjectMetadata> LocalService::GetProjectMetadata(int& responsecode)
{
    const auto session = context();
    Ref<ApiModels::ProjectMetadata> out;
    respond(responsecode, [&] {
        if (!session.projectId) {
            return static_cast<int>(no_project);
        }
        store_->read([&](Records& records) {
            const auto project = records.project(*session.projectId);
            if (!project) {
                throw Refusal{not_found};
            }
            std::map<std::string, std::int64_t> sizes;
            std::int64_t total = 0;
            for (const auto& partition : records.partitions(project->id)) {
                for (const auto& file : records.files(partition.id)) {
                    if (!file.deleted) {
                        sizes[app_type(file.path)] += file.size;
                        total += file.size;
                    }
                }
            }
            out = std::make_shared<ApiModels::ProjectMetadata>();
            out->id = service_text(project->id);
            out->size = total;
            out->sizeStatus = u"Calculated";
            out->sizeTimestamp = date_time(now());
            out->coordinateReferenceSystem = service_text(project->crs);
            out->canUpdateCoordinateReferenceSystem = true;
            out->appTypeSizes = List<Ref<ApiModels::AppTypeSize>>::WithCapacity(sizes.size());
            for (const auto& [type, size] : sizes) {
                out->appTypeSizes.Add(
                    std::make_shared<ApiModels::AppTypeSize>(ApiModels::AppTypeSize{service_text(type), size}));
            }
        });
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::PartitionTag> LocalService::GetPartitionInfo(const String& projectId, const String& partitionId,
                                                            int& responsecode)
{
    utf8(projectId, "projectId");
    utf8(partitionId, "partitionId");
    Ref<ApiModels::PartitionTag> out;
    respond(responsecode, [&] {
        store_->read([&](Records& records) {
            out = to_partition(partition_of(records, project_of(records, projectId), partitionId));
        });
        return static_cast<int>(ok);
    });
    return out;
}

List<Ref<ApiModels::PartitionTag>> LocalService::GetProjectPartitionTags(const String& projectId, int& responsecode)
{
    utf8(projectId, "projectId");
    List<Ref<ApiModels::PartitionTag>> out;
    respond(responsecode, [&] {
        store_->read([&](Records& records) {
            out = list_of<ApiModels::PartitionTag>(records.partitions(project_of(records, projectId).id), to_partition);
        });
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::PartitionTag> LocalService::CreateProjectPartitionTag(const String& projectId, const String& name,
                                                                     int versionMajor, int& responsecode)
{
    utf8(projectId, "projectId");
    const auto text = utf8(name, "name");
    check_version(versionMajor);
    Ref<ApiModels::PartitionTag> out;
    respond(responsecode, [&] {
        if (text.empty()) {
            return static_cast<int>(bad_request);
        }
        return store_->writing([&](Records& records) {
            const auto project = project_of(records, projectId);
            if (records.partition_name_taken(project.id, text)) {
                return static_cast<int>(conflict);
            }
            SpaceRow row{new_id(), SpaceRow::Kind::Partition, project.id, {}, text, versionMajor};
            records.add_space(row);
            out = to_partition(row);
            return static_cast<int>(created);
        });
    });
    return out;
}

List<Ref<ApiModels::PartitionTagsInProject>> LocalService::GetAllAccessibleProjectPartitions(int& responsecode)
{
    const auto session = context();
    List<Ref<ApiModels::PartitionTagsInProject>> out;
    respond(responsecode, [&] {
        store_->read([&](Records& records) {
            out = list_of<ApiModels::PartitionTagsInProject>(
                records.projects(current_tenant(records, session).id), [&](const ProjectRow& project) {
                    auto entry = std::make_shared<ApiModels::PartitionTagsInProject>();
                    entry->projectId = service_text(project.id);
                    entry->tags = list_of<ApiModels::PartitionTag>(records.partitions(project.id), to_partition);
                    return entry;
                });
        });
        return static_cast<int>(ok);
    });
    return out;
}

void LocalService::SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                                       int& responsecode)
{
    utf8(projectId, "projectId");
    utf8(partitionId, "partitionId");
    check_version(versionMajor);
    respond(responsecode, [&] {
        store_->write([&](Records& records) {
            records.set_version(partition_of(records, project_of(records, projectId), partitionId).id, versionMajor);
        });
        return static_cast<int>(ok);
    });
}

List<Ref<ApiModels::Tag>> LocalService::GetUserDirectoryTags(int& responsecode)
{
    List<Ref<ApiModels::Tag>> out;
    respond(responsecode, [&] {
        out = list_of<ApiModels::Tag>(
            store_->reading([&](Records& records) { return records.user_directories(user_.id); }), to_tag);
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::Tag> LocalService::GetUserDirectoryTagInfo(int versionMajor, int& responsecode)
{
    check_version(versionMajor);
    Ref<ApiModels::Tag> out;
    respond(responsecode, [&] {
        const auto row = store_->reading([&](Records& records) { return records.user_directory(user_.id, versionMajor); });
        if (!row) {
            return static_cast<int>(not_found);
        }
        out = to_tag(*row);
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::Tag> LocalService::CreateUserDirectoryTag(int versionMajor, int& responsecode)
{
    check_version(versionMajor);
    Ref<ApiModels::Tag> out;
    respond(responsecode, [&] {
        return store_->writing([&](Records& records) {
            if (records.user_directory(user_.id, versionMajor)) {
                return static_cast<int>(conflict);
            }
            const SpaceRow row{new_id(), SpaceRow::Kind::UserDirectory, {}, user_.id,
                               user_.displayName + " " + std::to_string(versionMajor), versionMajor};
            records.add_space(row);
            out = to_tag(row);
            return static_cast<int>(created);
        });
    });
    return out;
}

Ref<ApiModels::NvdbContract> LocalService::GetNvdbProject(int& responsecode)
{
    const auto session = context();
    Ref<ApiModels::NvdbContract> out;
    respond(responsecode, [&] {
        if (!session.projectId) {
            return static_cast<int>(no_project);
        }
        for (const auto& row : store_->reading(
                 [&](Records& records) { return records.contracts(current_tenant(records, session).id); })) {
            if (row.projectId == *session.projectId) {
                out = std::make_shared<ApiModels::NvdbContract>(
                    ApiModels::NvdbContract{service_text(row.name), service_text(row.id)});
                return static_cast<int>(ok);
            }
        }
        return static_cast<int>(not_found);
    });
    return out;
}

Ref<ApiModels::NvdbContracts> LocalService::GetNvdbProjects(int& responsecode)
{
    const auto session = context();
    Ref<ApiModels::NvdbContracts> out;
    respond(responsecode, [&] {
        const auto rows =
            store_->reading([&](Records& records) { return records.contracts(current_tenant(records, session).id); });
        out = std::make_shared<ApiModels::NvdbContracts>();
        out->nvdbContracts = list_of<ApiModels::NvdbContract>(rows, [](const ContractRow& row) {
            return std::make_shared<ApiModels::NvdbContract>(
                ApiModels::NvdbContract{service_text(row.name), service_text(row.id)});
        });
        return static_cast<int>(ok);
    });
    return out;
}

String LocalService::notify_viewer(const List<String>& files, int epsgId, const String& description,
                                   const String& logicalId, int dimensions, double offsetX, double offsetY,
                                   int& responsecode)
{
    if (files.IsNull()) {
        fail(ExceptionKind::ArgumentNull, "files");
    }
    const auto text = utf8(description, "description");
    const auto logical = utf8(logicalId, "logicalId");
    if (epsgId <= 0) {
        fail(ExceptionKind::ArgumentOutOfRange, "epsgId is not a coordinate system code.");
    }
    const auto session = context();
    String out;
    respond(responsecode, [&] {
        if (!session.projectId) {
            return static_cast<int>(no_project);
        }
        std::vector<Target> places;
        for (const auto& file : files) {
            places.push_back(target(session, file, false));
        }
        ModelUpdateRow row{new_id(), *session.projectId, dimensions, epsgId, text, logical, offsetX, offsetY, {}, now()};
        store_->write([&](Records& records) {
            for (const auto& place : places) {
                const auto file = records.file(place.space.id, place.path.key);
                if (!file || file->deleted) {
                    throw Refusal{not_found};
                }
                row.fileIds.push_back(file->id);
            }
            records.add_model_update(row, user_.id);
        });
        out = service_text(row.id);
        return static_cast<int>(created);
    });
    return out;
}

String LocalService::NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                     const String& logicalId, int& responsecode)
{
    return notify_viewer(files, epsgId, description, logicalId, 2, 0, 0, responsecode);
}

void LocalService::NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                   const String& logicalId, double offsetX, double offsetY,
                                                   int& responsecode)
{
    static_cast<void>(notify_viewer(files, epsgId, description, logicalId, 3, offsetX, offsetY, responsecode));
}

ApiModels::WorkflowStatus LocalService::Get2dModelUpdateStatus(const String& updateId, int& responsecode)
{
    const auto id = utf8(updateId, "updateId");
    auto status = ApiModels::WorkflowStatus::Failed;
    respond(responsecode, [&] {
        const auto row = store_->reading([&](Records& records) { return records.model_update(id); });
        if (!row || row->dimensions != 2) {
            return static_cast<int>(not_found);
        }
        // The viewer's workflow: scheduled for its first second, in progress until the third,
        // then done.
        const auto age = now() - row->created;
        status = age < 1000   ? ApiModels::WorkflowStatus::Scheduled
                 : age < 3000 ? ApiModels::WorkflowStatus::InProgress
                              : ApiModels::WorkflowStatus::Success;
        return static_cast<int>(ok);
    });
    return status;
}

} // namespace vyr::cld::local
