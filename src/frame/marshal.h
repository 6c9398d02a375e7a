#pragma once

#include "frame/text_engine.h"

#include <type_traits>

namespace vyr::cld::bridge {

// Read on every call and never kept past it: a host may switch a thread's locale or code page
// between two calls, and a service call may switch it too. Within the conversion of one list or
// record list, or of one call's arguments or its result, no host or service code runs, so they
// read it once and hand it to every text they convert.
[[nodiscard]] inline host_encoding read_host_encoding() noexcept
{
    return engine::thread_encoding();
}

// One specialisation per pair of target and source type, each with
//     static To convert(const From& from);
// or, where it converts text, directly or through its elements or fields,
//     static To convert(const From& from, const host_encoding& host);
// Conversions raise failures and never catch them: a failure travels to the call frame, or,
// inside a callback, back to the service that invoked it.
template <class To, class From, class = void> struct marshaller;

template <class Marshaller, class From>
concept converts_text = requires(const From& from, const host_encoding& host)
{
    Marshaller::convert(from, host);
};

// With the host encoding already read for the list, record or call that this value belongs to.
template <class To, class From> [[nodiscard]] To marshal_as(const From& from, const host_encoding& host)
{
    using marshaller_type = marshaller<To, std::remove_cvref_t<From>>;
    if constexpr (converts_text<marshaller_type, std::remove_cvref_t<From>>) {
        return marshaller_type::convert(from, host);
    }
    else {
        return marshaller_type::convert(from);
    }
}

// A value converted on its own: one that holds text reads the host encoding once for all of it.
template <class To, class From> [[nodiscard]] To marshal_as(const From& from)
{
    using marshaller_type = marshaller<To, std::remove_cvref_t<From>>;
    if constexpr (converts_text<marshaller_type, std::remove_cvref_t<From>>) {
        return marshaller_type::convert(from, read_host_encoding());
    }
    else {
        return marshaller_type::convert(from);
    }
}

} // namespace vyr::cld::bridge
