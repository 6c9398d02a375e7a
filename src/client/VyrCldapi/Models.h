#pragma once

#include <VyrCldapi/Enums.h>
#include <VyrCldapi/Values.h>

#include <cstdint>

/// @file
/// Model objects of the service. They are plain property bags, handed out as shared references
/// that may be null.
namespace VyrCldapi {

struct StatusEvent {
    StatusEventType Type{};
    std::int32_t Status = 0;
    String ResponseId;
};

struct InfoForDownloadCopy {
    std::int64_t ByteSize = 0;
    std::int32_t FilesInPartition = 0;
    std::int32_t FilesLocked = 0;
};

struct FileSyncStatus {
    std::int32_t FilesLeftToDownload = 0;
    std::int64_t BytesLeftToDownload = 0;
    std::int32_t FilesLeftToUpload = 0;
    std::int64_t BytesLeftToUpload = 0;
};

struct FileToImport {
    String FileName;
    String Vendor;
};

namespace ApiModels {

struct TagBase {
    String displayName;
};

struct Tag : TagBase {
    String id;
};

struct PartitionMetadata {
    std::int32_t versionMajor = 0;
};

struct PartitionTagBase : TagBase {
    Ref<PartitionMetadata> clientMetadata;
};

struct PartitionTag : PartitionTagBase {
    String id;
};

struct PartitionTagsInProject {
    String projectId;
    List<Ref<PartitionTag>> tags;
};

struct AppTypeSize {
    String appType;
    std::int64_t size = 0;
};

struct ProjectMetadata {
    String id;
    std::int64_t size = 0;
    String sizeStatus;
    DateTime sizeTimestamp;
    String coordinateReferenceSystem;
    bool canUpdateCoordinateReferenceSystem = false;
    List<Ref<AppTypeSize>> appTypeSizes;
};

struct NvdbContract {
    String nvdbContractName;
    String nvdbContractId;
};

struct NvdbContracts {
    List<Ref<NvdbContract>> nvdbContracts;
};

} // namespace ApiModels
} // namespace VyrCldapi

namespace VyrProAdmModule::ApiModels {

using VyrCldapi::String;

struct BaseEntity {
    String Id;
};

struct Project : BaseEntity {
    String Name;
    String ProjectNumber;
};

struct Tenant : BaseEntity {
    String tenantDisplayName;
    bool isEnabled = false;
    String providerSpecificTenantId;
    String organizationId;
    String tenantUniqueId;
};

} // namespace VyrProAdmModule::ApiModels
