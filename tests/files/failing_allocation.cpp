#include "failing_allocation.h"

#include <cstdlib>
#include <new>

namespace vyr::cld::test {
namespace {

// Zero: nothing fails.
thread_local std::size_t refuse_from = 0;
thread_local int refused_count = 0;

void* allocate(std::size_t size)
{
    if (refuse_from != 0 && size >= refuse_from) {
        ++refused_count;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

} // namespace

LargeAllocationFailure::~LargeAllocationFailure()
{
    refuse_from = 0;
    refused_count = 0;
}

void LargeAllocationFailure::arm(std::size_t bytes) noexcept
{
    refuse_from = bytes;
}

int LargeAllocationFailure::refused() const noexcept
{
    return refused_count;
}

} // namespace vyr::cld::test

// Every unaligned form is replaced, so that each allocation is released by its own family even
// under a sanitizer that brings operators of its own.
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
