#pragma once

#include <cstddef>

// Allocation fault injection. Not for ThreadSanitizer builds, whose runtime owns operator new.
// A test program that links this replaces the global operator new,
// and ICU's allocator: normally they just allocate; armed, they fail one chosen allocation of the
// calling thread, or every allocation of at least a chosen size.
namespace vyr::cld::test::allocation {

// Fails the `nth` allocation (1-based) of this thread made inside the next Armed scopes, so that
// a test can keep its own allocations out of the count; 0 fails none.
void arm(std::size_t nth) noexcept;

// Stops; returns whether the armed allocation was reached (and failed).
bool disarm() noexcept;

// Counts this thread's allocations while it lives, if a fault is armed.
class Armed {
public:
    Armed() noexcept;
    ~Armed();
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

// Counts one allocation made outside operator new, by a library with an allocator of its own;
// true if it is the one to fail.
bool fail_this_one(std::size_t size) noexcept;

// Allocations failed so far in the program.
std::size_t failed_total() noexcept;

} // namespace vyr::cld::test::allocation

namespace vyr::cld::test {

// While alive, fails the allocation with index `n` (counting from 0) of this thread, once.
class FailingAllocation {
public:
    explicit FailingAllocation(int n) noexcept;
    ~FailingAllocation();
    FailingAllocation(const FailingAllocation&) = delete;
    FailingAllocation& operator=(const FailingAllocation&) = delete;

    // Whether the chosen allocation was reached and failed.
    [[nodiscard]] bool fired() const noexcept;
};

// While alive, runs `action` at the allocation with index `n` (counting from 0) of this thread,
// once, and lets the allocation go ahead: it lets a test change what the thread sees at any point
// in the middle of a call.
class ActionAtAllocation {
public:
    ActionAtAllocation(int n, void (*action)()) noexcept;
    ~ActionAtAllocation();
    ActionAtAllocation(const ActionAtAllocation&) = delete;
    ActionAtAllocation& operator=(const ActionAtAllocation&) = delete;

    // Whether the chosen allocation was reached and the action ran.
    [[nodiscard]] bool fired() const noexcept;
};

// While alive and armed, fails every allocation of this thread of at least the armed size. Going
// by size, not by count, keeps the failure on the one large text a test means, however many small
// allocations the code around it makes.
class LargeAllocationFailure {
public:
    LargeAllocationFailure() noexcept;
    ~LargeAllocationFailure();
    LargeAllocationFailure(const LargeAllocationFailure&) = delete;
    LargeAllocationFailure& operator=(const LargeAllocationFailure&) = delete;

    void arm(std::size_t bytes) noexcept;

    // How many allocations were refused since it was armed; none while it is not.
    [[nodiscard]] int refused() const noexcept;
};

} // namespace vyr::cld::test
