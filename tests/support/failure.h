#pragma once

#include <VyrCldapi/Values.h>

#include <gtest/gtest.h>

namespace vyr::cld::test {

// Runs `call` and returns the service failure it raises; fails the test if it raises none.
template <class Call> VyrCldapi::Exception failure_of(Call&& call)
{
    try {
        call();
    }
    catch (const VyrCldapi::Exception& failure) {
        return failure;
    }
    ADD_FAILURE() << "no service failure was raised";
    return VyrCldapi::Exception(VyrCldapi::ExceptionKind::InvalidOperation, "no failure");
}

} // namespace vyr::cld::test
