#include "support/allocation_faults.h"

#include <cstdlib>
#include <new>

#if defined(_WIN32)
#include <malloc.h>
#endif

namespace vyr::cld::test::allocation {
namespace {

thread_local std::size_t pending = 0;  // the allocation to fail, 0 for none
thread_local std::size_t armed_at = 0; // the same while inside an Armed scope, else 0
thread_local std::size_t counted = 0;
thread_local bool reached = false;
thread_local std::size_t smallest_failing = 0; // fail every allocation this large, 0 for none
thread_local int refused = 0;
std::size_t failed = 0;
thread_local std::size_t action_at = 0; // the allocation to act at, 1-based, 0 for none
thread_local std::size_t action_counted = 0;
thread_local void (*action)() = nullptr;
thread_local bool acted = false;

} // namespace

bool fail_this_one(std::size_t size) noexcept
{
    if (action_at != 0 && ++action_counted == action_at) {
        acted = true;
        action();
    }
    if (smallest_failing != 0 && size >= smallest_failing) {
        ++refused;
        ++failed;
        return true;
    }
    if (armed_at == 0) {
        return false;
    }
    if (++counted != armed_at) {
        return false;
    }
    reached = true;
    ++failed;
    return true;
}

namespace {

void* allocate(std::size_t size)
{
    if (fail_this_one(size)) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment)
{
    if (fail_this_one(size)) {
        throw std::bad_alloc();
    }
    const auto align = static_cast<std::size_t>(alignment);
#if defined(_WIN32)
    // The Windows C runtime has no aligned_alloc; what _aligned_malloc gives, _aligned_free takes.
    void* memory = _aligned_malloc(size == 0 ? 1 : size, align);
#else
    void* memory = std::aligned_alloc(align, (size + align - 1) / align * align);
#endif
    if (memory) {
        return memory;
    }
    throw std::bad_alloc();
}

void release_aligned(void* memory) noexcept
{
#if defined(_WIN32)
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

} // namespace

void arm(std::size_t nth) noexcept
{
    counted = 0;
    reached = false;
    pending = nth;
}

bool disarm() noexcept
{
    pending = 0;
    armed_at = 0;
    return reached;
}

Armed::Armed() noexcept
{
    armed_at = pending;
}

Armed::~Armed()
{
    armed_at = 0;
}

std::size_t failed_total() noexcept
{
    return failed;
}

} // namespace vyr::cld::test::allocation

namespace vyr::cld::test {

FailingAllocation::FailingAllocation(int n) noexcept
{
    allocation::arm(static_cast<std::size_t>(n) + 1);
    allocation::armed_at = allocation::pending;
}

FailingAllocation::~FailingAllocation()
{
    allocation::disarm();
}

bool FailingAllocation::fired() const noexcept
{
    return allocation::reached;
}

ActionAtAllocation::ActionAtAllocation(int n, void (*act)()) noexcept
{
    allocation::action = act;
    allocation::action_counted = 0;
    allocation::acted = false;
    allocation::action_at = static_cast<std::size_t>(n) + 1;
}

ActionAtAllocation::~ActionAtAllocation()
{
    allocation::action_at = 0;
}

bool ActionAtAllocation::fired() const noexcept
{
    return allocation::acted;
}

LargeAllocationFailure::LargeAllocationFailure() noexcept
{
    allocation::refused = 0;
}

LargeAllocationFailure::~LargeAllocationFailure()
{
    allocation::smallest_failing = 0;
}

void LargeAllocationFailure::arm(std::size_t bytes) noexcept
{
    allocation::refused = 0;
    allocation::smallest_failing = bytes;
}

int LargeAllocationFailure::refused() const noexcept
{
    return allocation::refused;
}

} // namespace vyr::cld::test

using vyr::cld::test::allocation::allocate;
using vyr::cld::test::allocation::allocate_aligned;
using vyr::cld::test::allocation::release_aligned;

void* operator new(std::size_t size)
{
    return allocate(size);
}
void* operator new[](std::size_t size)
{
    return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    return allocate_aligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment)
{
    return allocate_aligned(size, alignment);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    }
    catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept
{
    std::free(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept
{
    release_aligned(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept
{
    release_aligned(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept
{
    release_aligned(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept
{
    release_aligned(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
