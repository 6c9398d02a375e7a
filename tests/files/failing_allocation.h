#pragma once

#include <cstddef>

namespace vyr::cld::test {

// This test program replaces the global operator new. Normally it just allocates; while a
// LargeAllocationFailure lives and is armed, any request on the calling thread of at least the
// armed size throws std::bad_alloc instead. Going by size, not by counting calls, keeps the
// injected failure on the one conversion the test means, however many small allocations the
// code around it makes.
class LargeAllocationFailure {
public:
    LargeAllocationFailure() = default;
    ~LargeAllocationFailure();
    LargeAllocationFailure(const LargeAllocationFailure&) = delete;
    LargeAllocationFailure& operator=(const LargeAllocationFailure&) = delete;

    // From now on, fail requests of `bytes` or more.
    void arm(std::size_t bytes) noexcept;

    // How many requests were refused since construction.
    [[nodiscard]] int refused() const noexcept;
};

} // namespace vyr::cld::test
