#include "TraceJson.h"

#include <charconv>
#include <cmath>
#include <cstddef>

namespace VyrCldapi::trace {
namespace {

constexpr char hex_digits[] = "0123456789abcdef";

// JSON's escape for a character that may not appear raw in a string.
void Escape(std::string& out, char32_t c)
{
    switch (c) {
    case U'"':
        out += "\\\"";
        return;
    case U'\\':
        out += "\\\\";
        return;
    case U'\n':
        out += "\\n";
        return;
    case U'\r':
        out += "\\r";
        return;
    case U'\t':
        out += "\\t";
        return;
    case U'\b':
        out += "\\b";
        return;
    case U'\f':
        out += "\\f";
        return;
    default:
        out += "\\u00";
        out += hex_digits[(c >> 4) & 0xF];
        out += hex_digits[c & 0xF];
    }
}

bool NeedsEscape(char32_t c)
{
    return c < 0x20 || c == U'"' || c == U'\\';
}

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        if (NeedsEscape(c)) {
            Escape(out, c);
        }
        else {
            out += static_cast<char>(c);
        }
    }
    else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

template <class T> void PutInteger(std::string& out, T value)
{
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

template <class E> void PutName(std::string& out, E value)
{
    PutText(out, Enum::ToString(value).View());
}

} // namespace

void PutText(std::string& out, std::string_view utf8)
{
    out += '"';
    for (const char c : utf8) {
        const auto unit = static_cast<unsigned char>(c);
        if (NeedsEscape(unit)) {
            Escape(out, unit);
        }
        else {
            out += c;
        }
    }
    out += '"';
}

void PutText(std::string& out, std::u16string_view utf16)
{
    out += '"';
    for (std::size_t i = 0; i < utf16.size(); ++i) {
        const char16_t unit = utf16[i];
        char32_t c = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
            utf16[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(utf16[i + 1]) - 0xDC00);
            ++i;
        }
        else if (unit >= 0xD800 && unit <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    out += '"';
}

void Put(std::string& out, const String& text)
{
    if (text.IsNull()) {
        out += "null";
    }
    else {
        PutText(out, text.View());
    }
}

void Put(std::string& out, bool value)
{
    out += value ? "true" : "false";
}

void Put(std::string& out, std::int64_t value)
{
    PutInteger(out, value);
}

void Put(std::string& out, std::uint64_t value)
{
    PutInteger(out, value);
}

// The shortest text that reads back as the same number; JSON has no infinities or NaN.
void Put(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void Put(std::string& out, TimeSpan span)
{
    Put(out, span.Ticks);
}

void Put(std::string& out, DateTime time)
{
    const char* kind = time.Kind == DateTimeKind::Utc     ? "Utc"
                       : time.Kind == DateTimeKind::Local ? "Local"
                                                          : "Unspecified";
    Object(out, "ticks", time.Ticks, "kind", std::string_view(kind));
}

void Put(std::string& out, LockStatus value)
{
    PutName(out, value);
}

void Put(std::string& out, StatusEventType value)
{
    PutName(out, value);
}

void Put(std::string& out, ApiModels::WorkflowStatus value)
{
    PutName(out, value);
}

void Put(std::string& out, ApiModels::TagCategory value)
{
    PutName(out, value);
}

void Put(std::string& out, const ProgressAction& action)
{
    Put(out, static_cast<bool>(action));
}

void Put(std::string& out, const Ref<UI::IFileBrowserUICallback>& callback)
{
    Put(out, callback != nullptr);
}

void Put(std::string& out, const Ref<UI::FileBrowserUI>& pane)
{
    Put(out, pane != nullptr);
}

void Put(std::string& out, const StatusEvent& event)
{
    Object(out, "Type", event.Type, "Status", event.Status, "ResponseId", event.ResponseId);
}

void Put(std::string& out, const InfoForDownloadCopy& info)
{
    Object(out, "ByteSize", info.ByteSize, "FilesInPartition", info.FilesInPartition, "FilesLocked", info.FilesLocked);
}

void Put(std::string& out, const FileSyncStatus& status)
{
    Object(out, "FilesLeftToDownload", status.FilesLeftToDownload, "BytesLeftToDownload", status.BytesLeftToDownload,
           "FilesLeftToUpload", status.FilesLeftToUpload, "BytesLeftToUpload", status.BytesLeftToUpload);
}

void Put(std::string& out, const FileToImport& file)
{
    Object(out, "FileName", file.FileName, "Vendor", file.Vendor);
}

void Put(std::string& out, const ApiModels::Tag& tag)
{
    Object(out, "id", tag.id, "displayName", tag.displayName);
}

void Put(std::string& out, const ApiModels::PartitionMetadata& metadata)
{
    Object(out, "versionMajor", metadata.versionMajor);
}

void Put(std::string& out, const ApiModels::PartitionTag& tag)
{
    Object(out, "id", tag.id, "displayName", tag.displayName, "clientMetadata", tag.clientMetadata);
}

void Put(std::string& out, const ApiModels::PartitionTagsInProject& tags)
{
    Object(out, "projectId", tags.projectId, "tags", tags.tags);
}

void Put(std::string& out, const ApiModels::AppTypeSize& size)
{
    Object(out, "appType", size.appType, "size", size.size);
}

void Put(std::string& out, const ApiModels::ProjectMetadata& metadata)
{
    Object(out, "id", metadata.id, "size", metadata.size, "sizeStatus", metadata.sizeStatus, "sizeTimestamp",
           metadata.sizeTimestamp, "coordinateReferenceSystem", metadata.coordinateReferenceSystem,
           "canUpdateCoordinateReferenceSystem", metadata.canUpdateCoordinateReferenceSystem, "appTypeSizes",
           metadata.appTypeSizes);
}

void Put(std::string& out, const ApiModels::NvdbContract& contract)
{
    Object(out, "nvdbContractName", contract.nvdbContractName, "nvdbContractId", contract.nvdbContractId);
}

void Put(std::string& out, const ApiModels::NvdbContracts& contracts)
{
    Object(out, "nvdbContracts", contracts.nvdbContracts);
}

void Put(std::string& out, const VyrProAdmModule::ApiModels::Project& project)
{
    Object(out, "Id", project.Id, "Name", project.Name, "ProjectNumber", project.ProjectNumber);
}

void Put(std::string& out, const VyrProAdmModule::ApiModels::Tenant& tenant)
{
    Object(out, "Id", tenant.Id, "tenantDisplayName", tenant.tenantDisplayName, "isEnabled", tenant.isEnabled,
           "providerSpecificTenantId", tenant.providerSpecificTenantId, "organizationId", tenant.organizationId,
           "tenantUniqueId", tenant.tenantUniqueId);
}

} // namespace VyrCldapi::trace
