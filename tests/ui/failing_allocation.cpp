#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace vyr::cld::test {
namespace {

thread_local int countdown = -1;
thread_local bool fired_ = false;

void* allocate(std::size_t size)
{
    if (countdown >= 0 && countdown-- == 0) {
        fired_ = true;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

} // namespace

FailingAllocation::FailingAllocation(int n)
{
    countdown = n;
    fired_ = false;
}

FailingAllocation::~FailingAllocation()
{
    countdown = -1;
}

bool FailingAllocation::fired() const
{
    return fired_;
}

} // namespace vyr::cld::test

// Every unaligned form is replaced, so that each allocation is paired with its own release.
void* operator new(std::size_t size)
{
    return vyr::cld::test::allocate(size);
}

void* operator new[](std::size_t size)
{
    return vyr::cld::test::allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return vyr::cld::test::allocate(size);
    }
    catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return vyr::cld::test::allocate(size);
    }
    catch (const std::bad_alloc&) {
        return nullptr;
    }
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

void operator delete(void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}

void operator delete[](void* memory, const std::nothrow_t&) noexcept
{
    std::free(memory);
}
