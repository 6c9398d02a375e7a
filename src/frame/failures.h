#pragma once

#include <VyrCldapi/Values.h>

namespace vyr::cld::bridge {

// The failures raised by the conversions, with their fixed messages.
[[noreturn]] void raise_null_text();
[[noreturn]] void raise_size_limit();
[[noreturn]] void raise_widening();
[[noreturn]] void raise_narrowing();
[[noreturn]] void raise_out_of_memory();
[[noreturn]] void raise_null_reference();

// A service object that the conversion must read; null is a failure, as reading a property of
// a null reference is in the service's runtime.
template <class T> [[nodiscard]] const T& deref(const VyrCldapi::Ref<T>& object)
{
    if (!object) {
        raise_null_reference();
    }
    return *object;
}

} // namespace vyr::cld::bridge
