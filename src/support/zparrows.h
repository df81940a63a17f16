// Splitting the rows of a packed lower triangle over threads for in-memory matrix updates
// (the sweep and the blocked sweep): each thread gets a run of consecutive rows holding about
// the same number of elements; and likewise the elements of a vector. The runs go to the
// host's one pool of workers through the kernel's qkzruns service, the caller's thread taking
// part (never a thread per step); workers that cannot be started or are busy leave their runs
// to the caller, and a kernel without the service leaves them all to it.
#pragma once

#include <cstdint>
#include <functional>

// Runs body(first, last) over consecutive runs of the rows [first, last) of a triangle, on
// up to `threads` threads (the caller's thread takes the first run), and returns when all
// have finished. Rows are weighted by their length (row i holds i + 1 elements); a triangle
// goes into no more runs than hold 2^18 elements each (a smaller run does not repay its
// hand-off), so small triangles, or threads < 2, run in one call on the caller's thread.
void zparrows(int32_t threads, int64_t first, int64_t last,
              const std::function<void(int64_t, int64_t)>& body);

// Runs body(first, last) over equal consecutive runs of the elements [first, last) on up to
// `threads` threads (the caller's thread takes the first run), each run of at least
// `minimum` elements, and returns when all have finished.
void zparrange(int32_t threads, int64_t first, int64_t last, int64_t minimum,
               const std::function<void(int64_t, int64_t)>& body);

// Runs body(r) for every r in [0, runs) on the caller's thread and the host's workers, and
// returns when all have run. The caller's thread takes every run no worker has claimed, so the
// runs all run whether or not workers could be started or are free: a run may wait for
// another only where the caller's thread would get to it in the end (one that it takes too).
void zparruns(int32_t runs, const std::function<void(int32_t)>& body);

// Sets the least run (in elements) that zparrows hands to a thread; negative restores the
// default (for benchmarks that measure where a split starts to pay).
void zparSetMinimumElements(int64_t least);
