#pragma once

#include <cstddef>

// Allocation fault injection for the whole test program: the global operator new and ICU's
// allocator count the allocations of the calling thread while armed, and the armed one fails.
namespace vyr::cld::sweep::allocation {

// Fails the `nth` allocation (1-based) of this thread from now on.
void arm(std::size_t nth) noexcept;

// Stops counting; returns whether the armed allocation was reached (and failed).
bool disarm() noexcept;

// Allocations failed so far in the program.
std::size_t failed_total() noexcept;

} // namespace vyr::cld::sweep::allocation
