#include "memory.h"

#include <malloc.h>

#include <mutex>

namespace vyr::cld::server {

void tune_allocator()
{
    // A chunk passes through buffers of a few MiB on whichever worker serves it. Above glibc's
    // default, which rises with each such buffer freed, every worker's arena would keep its own;
    // mapped afresh, they go back as soon as a request is done, and the server stays small.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    // glibc makes up to eight arenas a core, and a thread keeps to the one it took: each worker's
    // would grow to the largest answer it built. A few, shared, keep the peak of concurrent
    // requests near the sum of what they hold.
    mallopt(M_ARENA_MAX, 4);
}

void give_back_free_memory()
{
    static std::mutex trimming;
    const std::unique_lock lock(trimming, std::try_to_lock);
    if (lock.owns_lock()) {
        malloc_trim(0);
    }
}

} // namespace vyr::cld::server
