#pragma once

#include "frame/marshal.h"

#include <VyrCldapi/Values.h>

#include <optional>
#include <vector>

// The generic record rules. A record type T contributes only
//     marshaller<T, VyrCldapi::Ref<S>>
// (which fails on a null object, see deref); these rules give it its optional, list and
// optional-list forms. They hand the host encoding, read once for the whole value, to every
// record they convert.
namespace vyr::cld::bridge {

// A null object is absence.
template <class T, class S> struct marshaller<std::optional<T>, VyrCldapi::Ref<S>> {
    static std::optional<T> convert(const VyrCldapi::Ref<S>& object, const host_encoding& host)
    {
        if (!object) {
            return std::nullopt;
        }
        return marshal_as<T>(object, host);
    }
};

// A null list is an empty vector; a null element fails the whole list. Order is kept, nothing
// is skipped.
template <class T, class S> struct marshaller<std::vector<T>, VyrCldapi::List<VyrCldapi::Ref<S>>> {
    static std::vector<T> convert(const VyrCldapi::List<VyrCldapi::Ref<S>>& objects, const host_encoding& host)
    {
        std::vector<T> records;
        if (objects.IsNull()) {
            return records;
        }
        records.reserve(objects.Count());
        for (const auto& object : objects) {
            records.push_back(marshal_as<T>(object, host));
        }
        return records;
    }
};

// A null list is absence; otherwise the list rule above.
template <class T, class S> struct marshaller<std::optional<std::vector<T>>, VyrCldapi::List<VyrCldapi::Ref<S>>> {
    static std::optional<std::vector<T>> convert(const VyrCldapi::List<VyrCldapi::Ref<S>>& objects,
                                                 const host_encoding& host)
    {
        if (objects.IsNull()) {
            return std::nullopt;
        }
        return marshal_as<std::vector<T>>(objects, host);
    }
};

} // namespace vyr::cld::bridge
