// ICU allocates through an allocator of its own; the fault injection fails its allocations too.
#include "support/allocation_faults.h"

#include <unicode/uclean.h>

#include <cstdlib>

namespace vyr::cld::test::allocation {
namespace {

void* U_CALLCONV icu_allocate(const void*, size_t size)
{
    return fail_this_one(size) ? nullptr : std::malloc(size);
}

void* U_CALLCONV icu_reallocate(const void*, void* memory, size_t size)
{
    return fail_this_one(size) ? nullptr : std::realloc(memory, size);
}

void U_CALLCONV icu_free(const void*, void* memory)
{
    std::free(memory);
}

// ICU takes its allocator only before its first allocation, so install it before main.
[[maybe_unused]] const bool icu_hooked = [] {
    UErrorCode status = U_ZERO_ERROR;
    u_setMemoryFunctions(nullptr, icu_allocate, icu_reallocate, icu_free, &status);
    return U_SUCCESS(status);
}();

} // namespace
} // namespace vyr::cld::test::allocation
