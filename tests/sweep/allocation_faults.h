#pragma once

#include <cstddef>

// Allocation fault injection for the whole test program: the global operator new and ICU's
// allocator count the allocations of the calling thread while armed, and the armed one fails.
namespace sweep::allocation {

// Fails the `nth` allocation (1-based) of this thread inside the next Armed scopes; 0 fails none.
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

// Allocations failed so far in the program.
std::size_t failed_total() noexcept;

} // namespace sweep::allocation
