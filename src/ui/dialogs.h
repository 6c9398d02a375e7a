#pragma once

#include "frame/failures.h"
#include "frame/marshal.h"
#include "frame/text.h"

#include <vyr/cld/ui.h>

#include <VyrCldapi/Models.h>

#include <optional>
#include <string>

namespace vyr::cld::bridge {

// FileName is required, Vendor may be absent; read in that order.
template <> struct marshaller<FileToImport, VyrCldapi::Ref<VyrCldapi::FileToImport>> {
    static FileToImport convert(const VyrCldapi::Ref<VyrCldapi::FileToImport>& object, const host_encoding& host)
    {
        const auto& file = deref(object);
        return FileToImport{marshal_as<std::string>(file.FileName, host),
                            marshal_as<std::optional<std::string>>(file.Vendor, host)};
    }
};

} // namespace vyr::cld::bridge
