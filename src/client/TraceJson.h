#pragma once

// Writing service values as JSON for the call trace: one Put per type, each appending the value
// to a line. Texts become UTF-8; a lone surrogate becomes U+FFFD, so every line is valid UTF-8.

#include <VyrCldapi/Callbacks.h>
#include <VyrCldapi/Enums.h>
#include <VyrCldapi/Models.h>
#include <VyrCldapi/Values.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace VyrCldapi::trace {

// A comma before anything that follows a value in the same object or array.
inline void Separate(std::string& out)
{
    if (!out.empty() && out.back() != '{' && out.back() != '[' && out.back() != ':') {
        out += ',';
    }
}

// A key, with the separator before it. Keys are our own ASCII names and need no escaping.
inline void Key(std::string& out, std::string_view key)
{
    Separate(out);
    out += '"';
    out += key;
    out += "\":";
}

void PutText(std::string& out, std::string_view utf8);
void PutText(std::string& out, std::u16string_view utf16);

void Put(std::string& out, const String& text);
inline void Put(std::string& out, std::string_view utf8)
{
    PutText(out, utf8);
}
// A literal would otherwise become `true`; spell it as a std::string_view.
void Put(std::string& out, const char* text) = delete;
void Put(std::string& out, bool value);
void Put(std::string& out, std::int64_t value);
void Put(std::string& out, std::uint64_t value);
void Put(std::string& out, double value);
void Put(std::string& out, TimeSpan span);
void Put(std::string& out, DateTime time);
void Put(std::string& out, LockStatus value);
void Put(std::string& out, StatusEventType value);
void Put(std::string& out, ApiModels::WorkflowStatus value);
void Put(std::string& out, ApiModels::TagCategory value);
// Callbacks and panes are objects of the host or the service: only whether there is one.
void Put(std::string& out, const ProgressAction& action);
void Put(std::string& out, const Ref<UI::IFileBrowserUICallback>& callback);
void Put(std::string& out, const Ref<UI::FileBrowserUI>& pane);

void Put(std::string& out, const StatusEvent& event);
void Put(std::string& out, const InfoForDownloadCopy& info);
void Put(std::string& out, const FileSyncStatus& status);
void Put(std::string& out, const FileToImport& file);
void Put(std::string& out, const ApiModels::Tag& tag);
void Put(std::string& out, const ApiModels::PartitionMetadata& metadata);
void Put(std::string& out, const ApiModels::PartitionTag& tag);
void Put(std::string& out, const ApiModels::PartitionTagsInProject& tags);
void Put(std::string& out, const ApiModels::AppTypeSize& size);
void Put(std::string& out, const ApiModels::ProjectMetadata& metadata);
void Put(std::string& out, const ApiModels::NvdbContract& contract);
void Put(std::string& out, const ApiModels::NvdbContracts& contracts);
void Put(std::string& out, const VyrProAdmModule::ApiModels::Project& project);
void Put(std::string& out, const VyrProAdmModule::ApiModels::Tenant& tenant);

// The interface's int and std::int32_t are the same type on every platform we build for, but
// not by any guarantee; both reach the 64-bit writer.
template <class T>
requires(std::is_integral_v<T>&& std::is_signed_v<T> && !std::is_same_v<T, std::int64_t>) void Put(std::string& out,
                                                                                                   T value)
{
    Put(out, static_cast<std::int64_t>(value));
}

template <class T> void Put(std::string& out, const Nullable<T>& value)
{
    if (value) {
        Put(out, *value);
    }
    else {
        out += "null";
    }
}

template <class T>
requires(!std::is_base_of_v<UI::IFileBrowserUICallback, T> &&
         !std::is_same_v<T, UI::FileBrowserUI>) void Put(std::string& out, const Ref<T>& value)
{
    if (value) {
        Put(out, *value);
    }
    else {
        out += "null";
    }
}

template <class T> void Put(std::string& out, const List<T>& list)
{
    if (list.IsNull()) {
        out += "null";
        return;
    }
    out += '[';
    for (const T& item : list) {
        Separate(out);
        Put(out, item);
    }
    out += ']';
}

// A record as an object of its fields: Fields(out, "id", tag.id, "displayName", tag.displayName).
inline void Fields(std::string&) {}

template <class T, class... Rest>
void Fields(std::string& out, std::string_view key, const T& value, const Rest&... rest)
{
    Key(out, key);
    Put(out, value);
    Fields(out, rest...);
}

template <class... KeysAndValues> void Object(std::string& out, const KeysAndValues&... fields)
{
    out += '{';
    Fields(out, fields...);
    out += '}';
}

} // namespace VyrCldapi::trace
