#pragma once

#include "frame/enums.h"
#include "frame/failures.h"
#include "frame/marshal.h"
#include "frame/text.h"

#include <vyr/cld/files.h>

#include <VyrCldapi/Models.h>

#include <optional>
#include <string>

// The records of the file operations. Their optional and list forms are the generic record rules.
namespace vyr::cld::bridge {

// A null answer reads as the zero record, the same value a failed query gives; the host is never
// told "unknown" here.
template <> struct marshaller<vyr::cld::FileSyncStatus, VyrCldapi::Ref<VyrCldapi::FileSyncStatus>> {
    static vyr::cld::FileSyncStatus convert(const VyrCldapi::Ref<VyrCldapi::FileSyncStatus>& status)
    {
        if (!status) {
            return {};
        }
        // The 32-bit counts widen with their sign: -1 stays -1.
        return {.filesLeftToDownload = status->FilesLeftToDownload,
                .bytesLeftToDownload = status->BytesLeftToDownload,
                .filesLeftToUpload = status->FilesLeftToUpload,
                .bytesLeftToUpload = status->BytesLeftToUpload};
    }
};

template <> struct marshaller<vyr::cld::InfoForDownloadCopy, VyrCldapi::Ref<VyrCldapi::InfoForDownloadCopy>> {
    static vyr::cld::InfoForDownloadCopy convert(const VyrCldapi::Ref<VyrCldapi::InfoForDownloadCopy>& object)
    {
        const auto& info = deref(object);
        return {.byteSize = info.ByteSize, .filesInPartition = info.FilesInPartition, .filesLocked = info.FilesLocked};
    }
};

template <> struct marshaller<vyr::cld::StatusEvent, VyrCldapi::Ref<VyrCldapi::StatusEvent>> {
    static vyr::cld::StatusEvent convert(const VyrCldapi::Ref<VyrCldapi::StatusEvent>& object,
                                         const host_encoding& host)
    {
        const auto& event = deref(object);
        // A kind without a boundary name fails (bad_optional_access) rather than arriving as some
        // other kind; a null response id fails as null text.
        return {.type = marshal_as<std::optional<vyr::cld::StatusEventType>>(event.Type, host).value(),
                .status = event.Status,
                .responseId = marshal_as<std::string>(event.ResponseId, host)};
    }
};

} // namespace vyr::cld::bridge
