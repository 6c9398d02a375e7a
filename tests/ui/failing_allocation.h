#pragma once

namespace vyr::cld::test {

// While alive, makes the n-th allocation through operator new on this thread (counting from 0)
// throw std::bad_alloc, once. The test binary replaces the global operator new to do this.
class FailingAllocation {
public:
    explicit FailingAllocation(int n);
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether the chosen allocation was reached and failed.
    [[nodiscard]] bool fired() const;
};

} // namespace vyr::cld::test
