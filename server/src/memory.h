#pragma once

#include <cstddef>

// How the server's process asks its allocator to keep little memory that it does not use.
namespace vyr::cld::server {

// Once, before any thread starts.
void tune_allocator();

// After an answer built of many small allocations (a listing of thousands of files): the free
// memory of every arena goes back to the system, so that the peak of one request does not stay
// with the process. At most one thread at a time does it; the others go on.
void give_back_free_memory();

// Answers at least this large are built of enough allocations to give back.
inline constexpr std::size_t large_answer = 64 * 1024;

} // namespace vyr::cld::server
