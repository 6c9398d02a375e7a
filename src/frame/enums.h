#pragma once

#include "frame/marshal.h"
#include "frame/text.h"

#include <vyr/cld/enums.h>

#include <VyrCldapi/Enums.h>

#include <array>
#include <optional>
#include <string_view>
#include <type_traits>

// The boundary enumerations map to the service's by enumerator name, never by number.
namespace vyr::cld::bridge {

// The name of each enumerator, indexed by its number. The only list of names: lookups in both
// directions read it.
template <class E> struct enum_names;

template <> struct enum_names<LockStatus> {
    static constexpr std::array<std::string_view, 5> value{"NotLocked", "LockedByMe", "LockedByOther", "NotInProject",
                                                           "Unknown"};
};

template <> struct enum_names<StatusEventType> {
    static constexpr std::array<std::string_view, 12> value{"HandlePendingTasks",
                                                            "Download",
                                                            "Upload",
                                                            "Rename",
                                                            "Locked",
                                                            "Unlocked",
                                                            "Deleted",
                                                            "Swap",
                                                            "CorruptFile",
                                                            "ConnectionStatus",
                                                            "ProjectCacheUpdated",
                                                            "DirModelReloaded"};
};

template <> struct enum_names<ProgressEventType> {
    static constexpr std::array<std::string_view, 3> value{"DeleteProgressBar", "Download", "Upload"};
};

template <> struct enum_names<WorkflowStatus> {
    static constexpr std::array<std::string_view, 4> value{"Scheduled", "InProgress", "Success", "Failed"};
};

template <> struct enum_names<TagCategory> {
    static constexpr std::array<std::string_view, 7> value{"Partition",      "FieldPackage",   "Import", "Export",
                                                           "DataCollection", "SpecialPurpose", "UserDir"};
};

// The enumerator's name; empty for a number the enumeration does not declare.
template <class E> [[nodiscard]] constexpr std::string_view name_of(E value) noexcept
{
    constexpr auto& names = enum_names<E>::value;
    // Tested as unsigned, so negative numbers are out of range too.
    const auto index = static_cast<std::make_unsigned_t<std::underlying_type_t<E>>>(value);
    return index < names.size() ? names[index] : std::string_view();
}

// The enumerator whose name is exactly `name`: same length, same bytes, case-sensitive.
template <class E> [[nodiscard]] constexpr std::optional<E> enum_from_name(std::string_view name) noexcept
{
    constexpr auto& names = enum_names<E>::value;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return static_cast<E>(i);
        }
    }
    return std::nullopt;
}

// The service enumeration that each boundary enumeration is read from.
template <class E, class S> inline constexpr bool reads_from = false;
template <> inline constexpr bool reads_from<LockStatus, VyrCldapi::LockStatus> = true;
template <> inline constexpr bool reads_from<StatusEventType, VyrCldapi::StatusEventType> = true;
template <> inline constexpr bool reads_from<ProgressEventType, VyrCldapi::ProgressEventType> = true;
template <> inline constexpr bool reads_from<WorkflowStatus, VyrCldapi::ApiModels::WorkflowStatus> = true;

// A service value whose name has no boundary counterpart gives an empty optional.
template <class E, class S> struct marshaller<std::optional<E>, S, std::enable_if_t<reads_from<E, S>>> {
    static std::optional<E> convert(S value, const host_encoding& host)
    {
        return enum_from_name<E>(narrow(VyrCldapi::Enum::ToString(value), host));
    }
};

// The lock status is never empty: a name without a counterpart reads as Unknown.
template <> struct marshaller<LockStatus, VyrCldapi::LockStatus> {
    static LockStatus convert(VyrCldapi::LockStatus value, const host_encoding& host)
    {
        return marshal_as<std::optional<LockStatus>>(value, host).value_or(LockStatus::Unknown);
    }
};

// A category without a name, or with a name the service lacks, fails in the service's parse.
template <> struct marshaller<VyrCldapi::ApiModels::TagCategory, TagCategory> {
    static VyrCldapi::ApiModels::TagCategory convert(TagCategory value, const host_encoding& host)
    {
        return VyrCldapi::Enum::Parse<VyrCldapi::ApiModels::TagCategory>(widen(name_of(value), host));
    }
};

} // namespace vyr::cld::bridge
