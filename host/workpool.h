// The process's one pool of worker threads: every parallel piece of work of a run (the
// module's splits of a matrix update, the data passes' work items, the CSV reader's blocks)
// goes to these workers, which are started when first needed and then kept for the process,
// never a thread per pass. A worker the system cannot start means fewer threads, never an
// abort. The thread pool extension (ext/qkpool.cpp) and the kernel's service dispatcher
// (kernel.cpp) hand the module's work here.
#pragma once

#include <cstdint>
#include <functional>

namespace qrxhost {

// Runs body(r) for every r in [0, runs), on the caller's thread and up to runs - 1 workers,
// and returns when all have run. The caller runs what no worker has claimed, so the runs all
// run whether or not workers could be started or are free. Workers are started so that
// runs - 1 are free besides those other tasks hold: a split run inside a task (a block of a
// file read while the read pass's workers wait for it) is not left to its caller alone. The
// first exception a run throws is thrown again once every run has ended.
void workRuns(int32_t runs, const std::function<void(int32_t)>& body);

// Starts workers up to `wanted` in all (a start the system refuses is not retried); returns
// how many run.
int32_t workPoolGrow(int32_t wanted);

// Queues `task` to run once on a worker. Only for tasks that wait on nothing but workers that
// already run: the caller must have seen workPoolGrow give at least one worker.
void workPost(std::function<void()> task);

// The number of workers started so far in this process (for tests).
[[nodiscard]] int32_t workPoolStarted();

// Whether worker starts fail from now on as if the system refused a thread; what the test
// switch workPoolFailStarts (workpoolswitch.cpp) sets. Clearing it lets the pool grow again.
void workPoolRefuseStarts(bool refuse);

#ifdef QRX_WITH_TEST_HOOKS
// A test switch: with fail set, every worker start from now on fails as if the system refused
// a thread (for tests of the fall back to fewer threads); clearing it lets the pool grow again.
void workPoolFailStarts(bool fail);
#endif

} // namespace qrxhost
