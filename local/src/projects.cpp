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

// Takes a domain answer: its code, and its value into `out` when it is one of success.
template <class T, class Out, class Convert> int take(domain::Answer<T> answer, Out& out, Convert&& convert)
{
    if (answer.code >= 200 && answer.code < 300) {
        out = convert(answer.value);
    }
    return answer.code;
}

} // namespace

List<Ref<Project>> Client::GetProjectList(int& responsecode)
{
    const auto session = context();
    List<Ref<Project>> out;
    respond(responsecode, [&] {
        return take(domain_->projects(session.tenant), out, [](const auto& rows) { return list_of<Project>(rows, to_project); });
    });
    return out;
}

Ref<Project> Client::GetProjectInfo(const String& projectId, int& responsecode)
{
    const auto id = utf8(projectId, "projectId");
    Ref<Project> out;
    respond(responsecode, [&] { return take(domain_->project(id), out, to_project); });
    return out;
}

Ref<Project> Client::CreateProject(const String& projectName, const String& projectNumber, int& responsecode)
{
    const auto name = utf8(projectName, "projectName");
    const auto number = utf8(projectNumber, "projectNumber");
    const auto session = context();
    Ref<Project> out;
    respond(responsecode, [&] { return take(domain_->create_project(session.tenant, name, number), out, to_project); });
    return out;
}

List<Ref<Tenant>> Client::GetTenants(int& responsecode)
{
    List<Ref<Tenant>> out;
    respond(responsecode, [&] {
        out = list_of<Tenant>(domain_->tenants(), to_tenant);
        return static_cast<int>(ok);
    });
    return out;
}

Ref<Tenant> Client::GetTenantInfo(int& responsecode)
{
    const auto session = context();
    Ref<Tenant> out;
    respond(responsecode, [&] {
        const auto tenant = domain_->tenant(session.tenant);
        if (!tenant) {
            return static_cast<int>(not_found);
        }
        out = to_tenant(*tenant);
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::ProjectMetadata> Client::GetProjectMetadata(int& responsecode)
{
    const auto session = context();
    Ref<ApiModels::ProjectMetadata> out;
    respond(responsecode, [&] {
        if (!session.projectId) {
            return static_cast<int>(no_project);
        }
        const auto project = domain_->project(*session.projectId);
        const auto sizes = domain_->project_sizes(*session.projectId);
        if (project.code != ok || sizes.code != ok) {
            return static_cast<int>(not_found);
        }
        std::int64_t total = 0;
        out = std::make_shared<ApiModels::ProjectMetadata>();
        out->id = service_text(project.value.id);
        out->sizeStatus = u"Calculated";
        out->sizeTimestamp = date_time(now());
        out->coordinateReferenceSystem = service_text(project.value.crs);
        out->canUpdateCoordinateReferenceSystem = true;
        out->appTypeSizes = List<Ref<ApiModels::AppTypeSize>>::WithCapacity(sizes.value.size());
        for (const auto& [type, size] : sizes.value) {
            total += size;
            out->appTypeSizes.Add(
                std::make_shared<ApiModels::AppTypeSize>(ApiModels::AppTypeSize{service_text(type), size}));
        }
        out->size = total;
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::PartitionTag> Client::GetPartitionInfo(const String& projectId, const String& partitionId,
                                                            int& responsecode)
{
    const auto project = utf8(projectId, "projectId");
    const auto partition = utf8(partitionId, "partitionId");
    Ref<ApiModels::PartitionTag> out;
    respond(responsecode, [&] { return take(domain_->partition(project, partition), out, to_partition); });
    return out;
}

List<Ref<ApiModels::PartitionTag>> Client::GetProjectPartitionTags(const String& projectId, int& responsecode)
{
    const auto project = utf8(projectId, "projectId");
    List<Ref<ApiModels::PartitionTag>> out;
    respond(responsecode, [&] {
        return take(domain_->partitions(project), out,
                    [](const auto& rows) { return list_of<ApiModels::PartitionTag>(rows, to_partition); });
    });
    return out;
}

Ref<ApiModels::PartitionTag> Client::CreateProjectPartitionTag(const String& projectId, const String& name,
                                                                     int versionMajor, int& responsecode)
{
    const auto project = utf8(projectId, "projectId");
    const auto text = utf8(name, "name");
    check_version(versionMajor);
    Ref<ApiModels::PartitionTag> out;
    respond(responsecode, [&] { return take(domain_->create_partition(project, text, versionMajor), out, to_partition); });
    return out;
}

List<Ref<ApiModels::PartitionTagsInProject>> Client::GetAllAccessibleProjectPartitions(int& responsecode)
{
    const auto session = context();
    List<Ref<ApiModels::PartitionTagsInProject>> out;
    respond(responsecode, [&] {
        const auto projects = domain_->projects(session.tenant);
        if (projects.code != ok) {
            return projects.code;
        }
        out = list_of<ApiModels::PartitionTagsInProject>(projects.value, [&](const ProjectRow& project) {
            auto entry = std::make_shared<ApiModels::PartitionTagsInProject>();
            entry->projectId = service_text(project.id);
            entry->tags = list_of<ApiModels::PartitionTag>(domain_->partitions(project.id).value, to_partition);
            return entry;
        });
        return static_cast<int>(ok);
    });
    return out;
}

void Client::SetPartitionVersion(const String& projectId, const String& partitionId, int versionMajor,
                                       int& responsecode)
{
    const auto project = utf8(projectId, "projectId");
    const auto partition = utf8(partitionId, "partitionId");
    check_version(versionMajor);
    respond(responsecode, [&] { return domain_->set_partition_version(project, partition, versionMajor); });
}

List<Ref<ApiModels::Tag>> Client::GetUserDirectoryTags(int& responsecode)
{
    List<Ref<ApiModels::Tag>> out;
    respond(responsecode, [&] {
        out = list_of<ApiModels::Tag>(domain_->user_directories(), to_tag);
        return static_cast<int>(ok);
    });
    return out;
}

Ref<ApiModels::Tag> Client::GetUserDirectoryTagInfo(int versionMajor, int& responsecode)
{
    check_version(versionMajor);
    Ref<ApiModels::Tag> out;
    respond(responsecode, [&] {
        for (const auto& row : domain_->user_directories()) {
            if (row.versionMajor == versionMajor) {
                out = to_tag(row);
                return static_cast<int>(ok);
            }
        }
        return static_cast<int>(not_found);
    });
    return out;
}

Ref<ApiModels::Tag> Client::CreateUserDirectoryTag(int versionMajor, int& responsecode)
{
    check_version(versionMajor);
    Ref<ApiModels::Tag> out;
    respond(responsecode, [&] { return take(domain_->create_user_directory(versionMajor), out, to_tag); });
    return out;
}

Ref<ApiModels::NvdbContract> Client::GetNvdbProject(int& responsecode)
{
    const auto session = context();
    Ref<ApiModels::NvdbContract> out;
    respond(responsecode, [&] {
        if (!session.projectId) {
            return static_cast<int>(no_project);
        }
        const auto contracts = domain_->contracts(session.tenant);
        if (contracts.code != ok) {
            return contracts.code;
        }
        for (const auto& row : contracts.value) {
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

Ref<ApiModels::NvdbContracts> Client::GetNvdbProjects(int& responsecode)
{
    const auto session = context();
    Ref<ApiModels::NvdbContracts> out;
    respond(responsecode, [&] {
        return take(domain_->contracts(session.tenant), out, [](const auto& rows) {
            auto contracts = std::make_shared<ApiModels::NvdbContracts>();
            contracts->nvdbContracts = list_of<ApiModels::NvdbContract>(rows, [](const ContractRow& row) {
                return std::make_shared<ApiModels::NvdbContract>(
                    ApiModels::NvdbContract{service_text(row.name), service_text(row.id)});
            });
            return contracts;
        });
    });
    return out;
}

String Client::notify_viewer(const List<String>& files, int epsgId, const String& description,
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
        std::vector<domain::SpaceFile> named;
        for (const auto& file : files) {
            const auto place = target(session, file, false);
            named.push_back({place.space.id, place.path.relative});
        }
        const ModelUpdateRow row{{}, *session.projectId, dimensions, epsgId, text, logical, offsetX, offsetY, {}, 0};
        const auto added = domain_->add_model_update(row, named);
        if (added.code != created) {
            return added.code;
        }
        out = service_text(added.value);
        return static_cast<int>(created);
    });
    return out;
}

String Client::NotifyOnlineViewer2dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                     const String& logicalId, int& responsecode)
{
    return notify_viewer(files, epsgId, description, logicalId, 2, 0, 0, responsecode);
}

void Client::NotifyOnlineViewer3dModelUpdate(const List<String>& files, int epsgId, const String& description,
                                                   const String& logicalId, double offsetX, double offsetY,
                                                   int& responsecode)
{
    static_cast<void>(notify_viewer(files, epsgId, description, logicalId, 3, offsetX, offsetY, responsecode));
}

ApiModels::WorkflowStatus Client::Get2dModelUpdateStatus(const String& updateId, int& responsecode)
{
    const auto id = utf8(updateId, "updateId");
    auto status = ApiModels::WorkflowStatus::Failed;
    respond(responsecode, [&] {
        const auto row = domain_->model_update(id);
        if (!row || row->dimensions != 2) {
            return static_cast<int>(not_found);
        }
        switch (domain::viewer_status(now() - row->created)) {
        case domain::ViewerStatus::Scheduled: status = ApiModels::WorkflowStatus::Scheduled; break;
        case domain::ViewerStatus::InProgress: status = ApiModels::WorkflowStatus::InProgress; break;
        case domain::ViewerStatus::Success: status = ApiModels::WorkflowStatus::Success; break;
        }
        return static_cast<int>(ok);
    });
    return status;
}

} // namespace vyr::cld::local
