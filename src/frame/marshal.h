#pragma once

#include <type_traits>

namespace vyr::cld::bridge {

// One specialisation per pair of target and source type, each with
//     static To convert(const From& from);
// Conversions raise failures and never catch them: a failure travels to the call frame, or,
// inside a callback, back to the service that invoked it.
template <class To, class From, class = void> struct marshaller;

template <class To, class From> [[nodiscard]] To marshal_as(const From& from)
{
    return marshaller<To, std::remove_cvref_t<From>>::convert(from);
}

} // namespace vyr::cld::bridge
