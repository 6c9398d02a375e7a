#include <VyrCldapi/Enums.h>

#include <algorithm>
#include <array>
#include <string>
#include <type_traits>
#include <utility>

namespace VyrCldapi::Enum {
namespace {

template <class E> struct Member {
    E value;
    std::u16string_view name;
};

template <class E, std::size_t N> String nameOf(const std::array<Member<E>, N>& members, E value)
{
    const auto found =
        std::find_if(members.begin(), members.end(), [value](const auto& m) { return m.value == value; });
    if (found != members.end()) {
        return String(std::u16string(found->name));
    }
    const auto digits = std::to_string(static_cast<std::underlying_type_t<E>>(value));
    return String(std::u16string(digits.begin(), digits.end()));
}

constexpr std::array lockStatusMembers{
    Member<LockStatus>{LockStatus::Unknown, u"Unknown"},
    Member<LockStatus>{LockStatus::NotLocked, u"NotLocked"},
    Member<LockStatus>{LockStatus::LockedByMe, u"LockedByMe"},
    Member<LockStatus>{LockStatus::LockedByOther, u"LockedByOther"},
    Member<LockStatus>{LockStatus::NotInProject, u"NotInProject"},
    Member<LockStatus>{LockStatus::LockedOffline, u"LockedOffline"},
};

constexpr std::array statusEventTypeMembers{
    Member<StatusEventType>{StatusEventType::ConnectionStatus, u"ConnectionStatus"},
    Member<StatusEventType>{StatusEventType::Download, u"Download"},
    Member<StatusEventType>{StatusEventType::Upload, u"Upload"},
    Member<StatusEventType>{StatusEventType::Rename, u"Rename"},
    Member<StatusEventType>{StatusEventType::Locked, u"Locked"},
    Member<StatusEventType>{StatusEventType::Unlocked, u"Unlocked"},
    Member<StatusEventType>{StatusEventType::Deleted, u"Deleted"},
    Member<StatusEventType>{StatusEventType::Swap, u"Swap"},
    Member<StatusEventType>{StatusEventType::CorruptFile, u"CorruptFile"},
    Member<StatusEventType>{StatusEventType::HandlePendingTasks, u"HandlePendingTasks"},
    Member<StatusEventType>{StatusEventType::ProjectCacheUpdated, u"ProjectCacheUpdated"},
    Member<StatusEventType>{StatusEventType::DirModelReloaded, u"DirModelReloaded"},
    Member<StatusEventType>{StatusEventType::Heartbeat, u"Heartbeat"},
};

constexpr std::array progressEventTypeMembers{
    Member<ProgressEventType>{ProgressEventType::Upload, u"Upload"},
    Member<ProgressEventType>{ProgressEventType::Download, u"Download"},
    Member<ProgressEventType>{ProgressEventType::DeleteProgressBar, u"DeleteProgressBar"},
    Member<ProgressEventType>{ProgressEventType::Indeterminate, u"Indeterminate"},
};

constexpr std::array workflowStatusMembers{
    Member<ApiModels::WorkflowStatus>{ApiModels::WorkflowStatus::Failed, u"Failed"},
    Member<ApiModels::WorkflowStatus>{ApiModels::WorkflowStatus::Success, u"Success"},
    Member<ApiModels::WorkflowStatus>{ApiModels::WorkflowStatus::InProgress, u"InProgress"},
    Member<ApiModels::WorkflowStatus>{ApiModels::WorkflowStatus::Scheduled, u"Scheduled"},
    Member<ApiModels::WorkflowStatus>{ApiModels::WorkflowStatus::Cancelled, u"Cancelled"},
};

constexpr std::array tagCategoryMembers{
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::UserDir, u"UserDir"},
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::SpecialPurpose, u"SpecialPurpose"},
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::DataCollection, u"DataCollection"},
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::Export, u"Export"},
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::Import, u"Import"},
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::FieldPackage, u"FieldPackage"},
    Member<ApiModels::TagCategory>{ApiModels::TagCategory::Partition, u"Partition"},
};

} // namespace

String ToString(LockStatus value)
{
    return nameOf(lockStatusMembers, value);
}
String ToString(StatusEventType value)
{
    return nameOf(statusEventTypeMembers, value);
}
String ToString(ProgressEventType value)
{
    return nameOf(progressEventTypeMembers, value);
}
String ToString(ApiModels::WorkflowStatus value)
{
    return nameOf(workflowStatusMembers, value);
}
String ToString(ApiModels::TagCategory value)
{
    return nameOf(tagCategoryMembers, value);
}

template <> ApiModels::TagCategory Parse<ApiModels::TagCategory>(const String& name)
{
    if (name.IsNull()) {
        throw Exception(ExceptionKind::ArgumentNull, "Value cannot be null.");
    }
    const auto found = std::find_if(tagCategoryMembers.begin(), tagCategoryMembers.end(),
                                    [&](const auto& m) { return m.name == name.View(); });
    if (found == tagCategoryMembers.end()) {
        throw Exception(ExceptionKind::Argument, name.Length() == 0
                                                     ? "Must specify valid information for parsing in the string."
                                                     : "Requested value was not found.");
    }
    return found->value;
}

} // namespace VyrCldapi::Enum
