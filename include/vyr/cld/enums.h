#pragma once

#include <cstdint>

/// @file
/// The boundary's enumerations. Their numbers are fixed here; the service maps to them by
/// enumerator name, so the names are part of the contract as well.
namespace vyr::cld {

/// Who holds the lock on a project file.
enum class LockStatus : std::int32_t {
    NotLocked = 0,
    LockedByMe = 1,
    LockedByOther = 2,
    NotInProject = 3,
    Unknown = 4,
};

/// The kind of a status event.
enum class StatusEventType : std::int32_t {
    HandlePendingTasks = 0,
    Download = 1,
    Upload = 2,
    Rename = 3,
    Locked = 4,
    Unlocked = 5,
    Deleted = 6,
    Swap = 7,
    CorruptFile = 8,
    ConnectionStatus = 9,
    ProjectCacheUpdated = 10,
    DirModelReloaded = 11,
};

/// The kind of a progress notification.
enum class ProgressEventType : std::int32_t {
    DeleteProgressBar = 0,
    Download = 1,
    Upload = 2,
};

/// The state of an online viewer 2D model update.
enum class WorkflowStatus : std::int32_t {
    Scheduled = 0,
    InProgress = 1,
    Success = 2,
    Failed = 3,
};

/// The category of a tag.
enum class TagCategory : std::int32_t {
    Partition = 0,
    FieldPackage = 1,
    Import = 2,
    Export = 3,
    DataCollection = 4,
    SpecialPurpose = 5,
    UserDir = 6,
};

} // namespace vyr::cld
