#include "sweep/entry_points.h"

#include <vyr/cld/projects.h>
#include <vyr/cld/publishing.h>

#include <optional>
#include <string>
#include <unordered_map>

namespace sweep {

namespace api = VyrCldapiIntegration;

namespace {

using Texts = std::vector<std::string>;

Ref<Project> project(String name, String number, String id)
{
    auto made = std::make_shared<Project>();
    made->Name = std::move(name);
    made->ProjectNumber = std::move(number);
    made->Id = std::move(id);
    return made;
}

Ref<Tenant> tenant(String uniqueId)
{
    auto made = std::make_shared<Tenant>();
    made->tenantDisplayName = u"Road Authority";
    made->isEnabled = true;
    made->providerSpecificTenantId = u"prov-77";
    made->organizationId = u"org-5";
    made->tenantUniqueId = std::move(uniqueId);
    return made;
}

Ref<ApiModels::PartitionTag> partition(String name, bool with_metadata = true)
{
    auto made = std::make_shared<ApiModels::PartitionTag>();
    made->displayName = std::move(name);
    made->id = u"d-1";
    if (with_metadata) {
        made->clientMetadata = std::make_shared<ApiModels::PartitionMetadata>(ApiModels::PartitionMetadata{2});
    }
    return made;
}

Ref<ApiModels::Tag> tag(String name)
{
    auto made = std::make_shared<ApiModels::Tag>();
    made->displayName = std::move(name);
    made->id = u"userdir-1";
    return made;
}

Ref<ApiModels::PartitionTagsInProject> in_project(String projectId, List<Ref<ApiModels::PartitionTag>> tags)
{
    return std::make_shared<ApiModels::PartitionTagsInProject>(
        ApiModels::PartitionTagsInProject{std::move(projectId), std::move(tags)});
}

Ref<ApiModels::AppTypeSize> app_type_size(String appType)
{
    return std::make_shared<ApiModels::AppTypeSize>(ApiModels::AppTypeSize{std::move(appType), 4'000'000'000});
}

Ref<ApiModels::ProjectMetadata> metadata(String text, List<Ref<ApiModels::AppTypeSize>> sizes)
{
    auto made = std::make_shared<ApiModels::ProjectMetadata>();
    made->id = text;
    made->size = 5'000'000'000;
    made->sizeStatus = text;
    made->sizeTimestamp = DateTime{621355968000000001, DateTimeKind::Local};
    made->coordinateReferenceSystem = text;
    made->canUpdateCoordinateReferenceSystem = true;
    made->appTypeSizes = std::move(sizes);
    return made;
}

Ref<ApiModels::NvdbContract> contract(String name)
{
    return std::make_shared<ApiModels::NvdbContract>(ApiModels::NvdbContract{std::move(name), u"c-9001"});
}

const cld::Project ringroad{"Ringroad", "2026-17", "p-1"};
const cld::Tenant road_authority{"Road Authority", true, "prov-77", "org-5", "road-authority"};
const cld::ProjectPartition design{{"Design", "d-1"}, {2}};
const cld::ProjectTag my_files{"My files", "userdir-1"};
const cld::NvdbProject e6{"E6 Ringroad", "c-9001"};

cld::ProjectMetadata metadata_record(const std::string& text)
{
    cld::ProjectMetadata record;
    record.id = text;
    record.size = 5'000'000'000;
    record.sizeStatus = text;
    record.sizeTimestamp = cld::TimePoint(cld::Ticks(1));
    record.coordinateReferenceSystem = text;
    record.canUpdateCoordinateReferenceSystem = true;
    record.appTypeSizes = {{"Drawings", 4'000'000'000}};
    return record;
}

template <class T> std::optional<std::vector<T>> one(T record)
{
    return std::vector<T>{std::move(record)};
}

} // namespace

std::vector<EntryPoint> project_entry_points()
{
    const Texts files{"model/a.ifc", "model/b.ifc"};
    const List<Ref<Project>> projects{project(u"Ringroad", u"2026-17", u"p-1")};
    const List<Ref<ApiModels::PartitionTag>> partitions{partition(u"Design")};
    const auto sizes = List<Ref<ApiModels::AppTypeSize>>{app_type_size(u"Drawings")};
    using Partitions = std::unordered_map<std::string, std::vector<cld::ProjectPartition>>;

    return {
        {"VyrCldapiIntegration::GetProjectList",
         "GetProjectList",
         true,
         answering(projects),
         [](int& rc) { return classify(library([&] { return api::GetProjectList(rc); }), one(ringroad)); },
         {{"null list", answering(List<Ref<Project>>())},
          {"null element", answering(List<Ref<Project>>{projects[0], nullptr})},
          {"null number", answering(List<Ref<Project>>{project(u"Ringroad", String(), u"p-1")})}}},
        {"VyrCldapiIntegration::GetProjectInfo",
         "GetProjectInfo",
         true,
         answering(projects[0]),
         [](int& rc) {
             return classify(library([&] { return api::GetProjectInfo("p-1", rc); }), std::optional(ringroad));
         },
         {{"null project", answering(Ref<Project>())},
          {"null id", answering(project(u"Ringroad", u"2026-17", String()))}}},
        {"VyrCldapiIntegration::CreateProject",
         "CreateProject",
         true,
         answering(projects[0]),
         [](int& rc) {
             return classify(library([&] { return api::CreateProject("Ringroad", "2026-17", rc); }),
                             std::optional(ringroad));
         },
         {{"null name", answering(project(String(), u"2026-17", u"p-1"))}}},
        {"VyrCldapiIntegration::GetTenants",
         "GetTenants",
         true,
         answering(List<Ref<Tenant>>{tenant(u"road-authority")}),
         [](int& rc) { return classify(library([&] { return api::GetTenants(rc); }), one(road_authority)); },
         {{"null list", answering(List<Ref<Tenant>>())},
          {"null element", answering(List<Ref<Tenant>>{nullptr})},
          {"null unique id", answering(List<Ref<Tenant>>{tenant(String())})}}},
        {"VyrCldapiIntegration::GetTenantInfo",
         "GetTenantInfo",
         true,
         answering(tenant(u"road-authority")),
         [](int& rc) {
             return classify(library([&] { return api::GetTenantInfo(rc); }), std::optional(road_authority));
         },
         {{"null tenant", answering(Ref<Tenant>())}, {"null unique id", answering(tenant(String()))}}},
        {"VyrCldapiIntegration::GetProjectMetadata",
         "GetProjectMetadata",
         true,
         answering(metadata(u"EPSG:25833", sizes)),
         [](int& rc) {
             return classify(library([&] { return api::GetProjectMetadata(rc); }),
                             std::optional(metadata_record("EPSG:25833")));
         },
         {{"null metadata", answering(Ref<ApiModels::ProjectMetadata>())},
          {"null texts", answering(metadata(String(), sizes)), Outcome::Success,
           [](int& rc) {
               return classify(library([&] { return api::GetProjectMetadata(rc); }),
                               std::optional(metadata_record("")));
           }},
          {"null size entry", answering(metadata(u"EPSG:25833", List<Ref<ApiModels::AppTypeSize>>{nullptr}))}}},
        {"VyrCldapiIntegration::GetPartitionInfo",
         "GetPartitionInfo",
         true,
         answering(partitions[0]),
         [](int& rc) {
             return classify(library([&] { return api::GetPartitionInfo("p-1", "d-1", rc); }), std::optional(design));
         },
         {{"null partition", answering(Ref<ApiModels::PartitionTag>())},
          {"null name", answering(partition(String()))},
          {"null metadata", answering(partition(u"Design", false)), Outcome::Success,
           [](int& rc) {
               auto unversioned = design;
               unversioned.clientMetadata.versionMajor = 0;
               return classify(library([&] { return api::GetPartitionInfo("p-1", "d-1", rc); }),
                               std::optional(unversioned));
           }}}},
        {"VyrCldapiIntegration::GetProjectPartitionTags",
         "GetProjectPartitionTags",
         true,
         answering(partitions),
         [](int& rc) {
             return classify(library([&] { return api::GetProjectPartitionTags("p-1", rc); }), one(design));
         },
         {{"null list", answering(List<Ref<ApiModels::PartitionTag>>())},
          {"null element", answering(List<Ref<ApiModels::PartitionTag>>{partitions[0], nullptr})}}},
        {"VyrCldapiIntegration::CreateProjectPartitionTag",
         "CreateProjectPartitionTag",
         true,
         answering(partitions[0]),
         [](int& rc) {
             return classify(library([&] { return api::CreateProjectPartitionTag("p-1", "Design", 2, rc); }),
                             std::optional(design));
         },
         {{"null partition", answering(Ref<ApiModels::PartitionTag>())}}},
        {"VyrCldapiIntegration::GetAllAccessibleProjectPartitions",
         "GetAllAccessibleProjectPartitions",
         true,
         answering(List<Ref<ApiModels::PartitionTagsInProject>>{in_project(u"p-1", partitions)}),
         [](int& rc) {
             return classify(library([&] { return api::GetAllAccessibleProjectPartitions(rc); }),
                             std::optional(Partitions{{"p-1", {design}}}));
         },
         {{"null list", answering(List<Ref<ApiModels::PartitionTagsInProject>>())},
          {"null entry", answering(List<Ref<ApiModels::PartitionTagsInProject>>{nullptr})},
          {"null project id",
           answering(List<Ref<ApiModels::PartitionTagsInProject>>{in_project(String(), partitions)})},
          {"null partition", answering(List<Ref<ApiModels::PartitionTagsInProject>>{
                                 in_project(u"p-1", List<Ref<ApiModels::PartitionTag>>{nullptr})})}}},
        {"VyrCldapiIntegration::SetPartitionVersion",
         "SetPartitionVersion",
         true,
         {},
         [](int& rc) {
             return classify(library([&] { return api::SetPartitionVersion("p-1", "d-1", 3, rc); }), true);
         }},
        {"VyrCldapiIntegration::GetUserDirectoryTags",
         "GetUserDirectoryTags",
         true,
         answering(List<Ref<ApiModels::Tag>>{tag(u"My files")}),
         [](int& rc) { return classify(library([&] { return api::GetUserDirectoryTags(rc); }), one(my_files)); },
         {{"null list", answering(List<Ref<ApiModels::Tag>>())},
          {"null name", answering(List<Ref<ApiModels::Tag>>{tag(String())})}}},
        {"VyrCldapiIntegration::GetUserDirectoryTagInfo",
         "GetUserDirectoryTagInfo",
         true,
         answering(tag(u"My files")),
         [](int& rc) {
             return classify(library([&] { return api::GetUserDirectoryTagInfo(1, rc); }), std::optional(my_files));
         },
         {{"null tag", answering(Ref<ApiModels::Tag>())}}},
        {"VyrCldapiIntegration::CreateUserDirectoryTag",
         "CreateUserDirectoryTag",
         true,
         answering(tag(u"My files")),
         [](int& rc) {
             return classify(library([&] { return api::CreateUserDirectoryTag(1, rc); }), std::optional(my_files));
         },
         {{"null name", answering(tag(String()))}}},
        {"VyrCldapiIntegration::GetNvdbProject",
         "GetNvdbProject",
         true,
         answering(contract(u"E6 Ringroad")),
         [](int& rc) { return classify(library([&] { return api::GetNvdbProject(rc); }), std::optional(e6)); },
         {{"null contract", answering(Ref<ApiModels::NvdbContract>())}, {"null name", answering(contract(String()))}}},
        {"VyrCldapiIntegration::GetNvdbProjects",
         "GetNvdbProjects",
         true,
         answering(std::make_shared<ApiModels::NvdbContracts>(
             ApiModels::NvdbContracts{List<Ref<ApiModels::NvdbContract>>{contract(u"E6 Ringroad")}})),
         [](int& rc) {
             return classify(library([&] { return api::GetNvdbProjects(rc); }), std::vector<cld::NvdbProject>{e6});
         },
         {{"null wrapper", answering(Ref<ApiModels::NvdbContracts>())},
          {"null list", answering(std::make_shared<ApiModels::NvdbContracts>())},
          {"null element", answering(std::make_shared<ApiModels::NvdbContracts>(
                               ApiModels::NvdbContracts{List<Ref<ApiModels::NvdbContract>>{nullptr}}))}}},
        {"VyrCldapiIntegration::NotifyOnlineViewer2dModelUpdate",
         "NotifyOnlineViewer2dModelUpdate",
         true,
         answering(String(u"update-1")),
         [files](int& rc) {
             return classify(
                 library([&] { return api::NotifyOnlineViewer2dModelUpdate(files, 25833, "Plan", "model-1", rc); }),
                 std::optional<std::string>("update-1"));
         },
         {{"null update id", answering(String())}}},
        {"VyrCldapiIntegration::Get2dModelUpdateStatus",
         "Get2dModelUpdateStatus",
         true,
         answering(ApiModels::WorkflowStatus::InProgress),
         [](int& rc) {
             return classify(library([&] { return api::Get2dModelUpdateStatus("update-1", rc); }),
                             std::optional(cld::WorkflowStatus::InProgress));
         },
         {{"a status without a boundary name", answering(ApiModels::WorkflowStatus::Cancelled)}}},
        {"VyrCldapiIntegration::NotifyOnlineViewer3dModelUpdate",
         "NotifyOnlineViewer3dModelUpdate",
         true,
         {},
         [files](int& rc) {
             return classify(library([&] {
                                 return api::NotifyOnlineViewer3dModelUpdate(files, 25833, "Plan", "model-1", -0.5, 1e9,
                                                                             rc);
                             }),
                             true);
         }},
    };
}

} // namespace sweep
