// Splitting the rows of a packed lower triangle over threads for in-memory matrix updates
// (the blocked sweep): each thread gets a run of consecutive rows holding about the same
// number of elements; and likewise the elements of a vector. Data passes over pages use the
// host's thread pool instead.
#pragma once

#include <cstdint>
#include <functional>

// Runs body(first, last) over consecutive runs of the rows [first, last) of a triangle, on
// up to `threads` threads (the caller's thread takes the first run), and returns when all
// have finished. Rows are weighted by their length (row i holds i + 1 elements); small
// triangles, or threads < 2, run in one call on the caller's thread.
void zparrows(int32_t threads, int64_t first, int64_t last,
              const std::function<void(int64_t, int64_t)>& body);

// Runs body(first, last) over equal consecutive runs of the elements [first, last) on up to
// `threads` threads (the caller's thread takes the first run), each run of at least
// `minimum` elements, and returns when all have finished.
void zparrange(int32_t threads, int64_t first, int64_t last, int64_t minimum,
               const std::function<void(int64_t, int64_t)>& body);
