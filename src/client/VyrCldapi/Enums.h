#pragma once

#include <VyrCldapi/Values.h>

#include <cstdint>

/// @file
/// The service's own enumerations. Their numbers are the service's and differ from any other
/// party's; only the member names are shared with the outside.
namespace VyrCldapi {

enum class LockStatus : std::int32_t {
    Unknown = 100,
    NotLocked = 101,
    LockedByMe = 102,
    LockedByOther = 103,
    NotInProject = 104,
    LockedOffline = 105,
};

enum class StatusEventType : std::int32_t {
    ConnectionStatus = 200,
    Download = 201,
    Upload = 202,
    Rename = 203,
    Locked = 204,
    Unlocked = 205,
    Deleted = 206,
    Swap = 207,
    CorruptFile = 208,
    HandlePendingTasks = 209,
    ProjectCacheUpdated = 210,
    DirModelReloaded = 211,
    Heartbeat = 212,
};

enum class ProgressEventType : std::int32_t {
    Upload = 300,
    Download = 301,
    DeleteProgressBar = 302,
    Indeterminate = 303,
};

namespace ApiModels {

enum class WorkflowStatus : std::int32_t {
    Failed = 400,
    Success = 401,
    InProgress = 402,
    Scheduled = 403,
    Cancelled = 404,
};

enum class TagCategory : std::int32_t {
    UserDir = 500,
    SpecialPurpose = 501,
    DataCollection = 502,
    Export = 503,
    Import = 504,
    FieldPackage = 505,
    Partition = 506,
};

} // namespace ApiModels

namespace Enum {

/// @name Member names
/// The member name under which the enumeration declares `value`; an undeclared number gives its
/// decimal digits.
///@{
VYRCLDAPI_EXPORT String ToString(LockStatus value);
VYRCLDAPI_EXPORT String ToString(StatusEventType value);
VYRCLDAPI_EXPORT String ToString(ProgressEventType value);
VYRCLDAPI_EXPORT String ToString(ApiModels::WorkflowStatus value);
VYRCLDAPI_EXPORT String ToString(ApiModels::TagCategory value);
///@}

/// The member declared under exactly `name` (case-sensitive). Raises an Argument failure for a
/// null, empty or undeclared name.
template <class E> E Parse(const String& name);

template <> VYRCLDAPI_EXPORT ApiModels::TagCategory Parse<ApiModels::TagCategory>(const String& name);

} // namespace Enum
} // namespace VyrCldapi
