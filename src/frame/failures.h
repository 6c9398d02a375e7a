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

// The failures a callback object raises back to the service: called after the service released
// it, or holding no host object to ask.
[[noreturn]] void raise_released();
[[noreturn]] void raise_no_callback();

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
