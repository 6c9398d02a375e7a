#pragma once

#include <type_traits>

#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

namespace vyr::cld::bridge {

template <class R> struct failure_value {
    using type = R;
};

template <> struct failure_value<void> {
    struct type {};
};

// The call frame of every exported function: runs `body` and turns any failure, of any type,
// into `failure`, by default the value-initialised result (false, 0, an empty optional, vector
// or record). Nothing else happens on failure: no logging, no retry, no write to the caller's
// variables beyond what `body` itself did.
template <class Body, class R = std::invoke_result_t<Body&>>
R contain(Body&& body, typename failure_value<R>::type failure = {})
{
    try {
        return body();
    }
#if defined(__GLIBCXX__)
    catch (abi::__forced_unwind&) {
        // Thread cancellation is not a failure; swallowing it would abort the process.
        throw;
    }
#endif
    catch (...) {
        if constexpr (!std::is_void_v<R>) {
            return failure;
        }
    }
}

} // namespace vyr::cld::bridge
