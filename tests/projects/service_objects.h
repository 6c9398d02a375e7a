#pragma once

#include "support/mock_service.h"

#include <vyr/cld/projects.h>

#include <gmock/gmock.h>

#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

// Service objects as the service hands them out, record fields as comparable tuples, and a
// service answer that proves the error code is the host's own variable.
namespace vyr::cld::test {

namespace svc = VyrCldapi::ApiModels;
namespace adm = VyrProAdmModule::ApiModels;

// ASCII test text as service text, without going through the conversions under test.
inline VyrCldapi::String u(std::string_view ascii)
{
    return VyrCldapi::String(std::u16string(ascii.begin(), ascii.end()));
}

// An empty list that is not null: a default-constructed service list is null.
template <class T> List<T> empty_list()
{
    return List<T>::WithCapacity(0);
}

inline Ref<adm::Project> project(VyrCldapi::String name, VyrCldapi::String number, VyrCldapi::String id)
{
    auto object = std::make_shared<adm::Project>();
    object->Name = std::move(name);
    object->ProjectNumber = std::move(number);
    object->Id = std::move(id);
    return object;
}

inline Ref<adm::Tenant> tenant(VyrCldapi::String displayName, bool enabled, VyrCldapi::String providerId,
                               VyrCldapi::String organizationId, VyrCldapi::String uniqueId)
{
    auto object = std::make_shared<adm::Tenant>();
    object->Id = u("base-id-never-read");
    object->tenantDisplayName = std::move(displayName);
    object->isEnabled = enabled;
    object->providerSpecificTenantId = std::move(providerId);
    object->organizationId = std::move(organizationId);
    object->tenantUniqueId = std::move(uniqueId);
    return object;
}

inline Ref<svc::Tag> tag(VyrCldapi::String displayName, VyrCldapi::String id)
{
    auto object = std::make_shared<svc::Tag>();
    object->displayName = std::move(displayName);
    object->id = std::move(id);
    return object;
}

// `version` empty: the service has no metadata for the partition.
inline Ref<svc::PartitionTag> partition_tag(VyrCldapi::String displayName, VyrCldapi::String id,
                                            std::optional<int> version)
{
    auto object = std::make_shared<svc::PartitionTag>();
    object->displayName = std::move(displayName);
    object->id = std::move(id);
    if (version) {
        object->clientMetadata = std::make_shared<svc::PartitionMetadata>(svc::PartitionMetadata{*version});
    }
    return object;
}

inline Ref<svc::PartitionTagsInProject> project_partitions(VyrCldapi::String projectId,
                                                           List<Ref<svc::PartitionTag>> tags)
{
    auto object = std::make_shared<svc::PartitionTagsInProject>();
    object->projectId = std::move(projectId);
    object->tags = std::move(tags);
    return object;
}

inline Ref<svc::NvdbContract> contract(VyrCldapi::String name, VyrCldapi::String id)
{
    auto object = std::make_shared<svc::NvdbContract>();
    object->nvdbContractName = std::move(name);
    object->nvdbContractId = std::move(id);
    return object;
}

inline Ref<svc::AppTypeSize> app_type_size(VyrCldapi::String appType, std::int64_t size)
{
    auto object = std::make_shared<svc::AppTypeSize>();
    object->appType = std::move(appType);
    object->size = size;
    return object;
}

// Every field of a record, in declaration order, so that whole records compare and print.
inline auto fields(const vyr::cld::Project& r)
{
    return std::tuple(r.name, r.projectNumber, r.id);
}
inline auto fields(const vyr::cld::Tenant& r)
{
    return std::tuple(r.tenantDisplayName, r.isEnabled, r.providerSpecificTenantId, r.organizationId, r.tenantUniqueId);
}
inline auto fields(const vyr::cld::ProjectTag& r)
{
    return std::tuple(r.displayName, r.id);
}
inline auto fields(const vyr::cld::ProjectPartition& r)
{
    return std::tuple(r.displayName, r.id, r.clientMetadata.versionMajor);
}
inline auto fields(const vyr::cld::AppTypeSize& r)
{
    return std::tuple(r.appType, r.size);
}
inline auto fields(const vyr::cld::NvdbProject& r)
{
    return std::tuple(r.nvdbContractName, r.nvdbContractId);
}
template <class T> using fields_of = decltype(fields(std::declval<const T&>()));

template <class T> auto fields(const std::vector<T>& records)
{
    std::vector<fields_of<T>> all;
    for (const auto& record : records) {
        all.push_back(fields(record));
    }
    return all;
}

// A service answer for any operation whose last parameter is the error code: it checks that
// the parameter is the host's variable holding the host's value, writes `code` into it, and
// then returns a null or zero result, or fails if `fails` is set.
class ServiceAnswer {
public:
    ServiceAnswer(const int* host, int on_entry, int code, bool fails)
        : host_(host), on_entry_(on_entry), code_(code), fails_(fails)
    {
    }

    template <class Result, class Arguments> Result Perform(const Arguments& arguments) const
    {
        int& responsecode = std::get<std::tuple_size_v<Arguments> - 1>(arguments);
        EXPECT_EQ(&responsecode, host_) << "the service must receive the host's own variable";
        EXPECT_EQ(responsecode, on_entry_) << "the service must see the host's value on entry";
        responsecode = code_;
        if (fails_) {
            throw VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "service failure");
        }
        if constexpr (!std::is_void_v<Result>) {
            return Result{};
        }
    }

private:
    const int* host_;
    int on_entry_;
    int code_;
    bool fails_;
};

inline auto answer(const ServiceAnswer& behaviour)
{
    return ::testing::MakePolymorphicAction(behaviour);
}

inline VyrCldapi::Exception service_failure()
{
    return VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "service failure");
}

} // namespace vyr::cld::test
