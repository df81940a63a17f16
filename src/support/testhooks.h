// The module's test hooks: every switch that only the tests set, in one object. The code
// reads them where a fault is to be injected or a size forced; the tests set them and call
// reset() when done, and the qrx runner sets them from the environment variable
// QRX_TEST_HOOKS ("name=value,..." with the member names below; a fault by its enumerator
// name) so that end-to-end tests reach them. In a run that no test touched every switch
// keeps its default, which leaves the product's behaviour unchanged. The switches are
// atomics because workers read them while the main thread may set them.
#pragma once

#include <atomic>
#include <cstdint>

// What a threaded levelisation worker meets in the buffer the hook picks.
enum class WorkerFault : int32_t {
  None = 0,
  NoMemory,     // an allocation fails
  Exception,    // a fault that is no floating-point error
  Invalid,      // a floating-point invalid operation
  DivideByZero, // a floating-point division by zero
  Overflow,     // a floating-point overflow
};

struct TestHooks {
  // The reading pass's block road: observations per block (0: chosen from the row width);
  // the block (1-based; 0 none) whose worker runs out of memory; and, set by the road, the
  // blocks the workers copied onto their pages in the last road.
  std::atomic<int32_t> readBlockRows{0};
  std::atomic<int64_t> failReadBlock{0};
  std::atomic<int64_t> readBlocksCopied{0};
  // Nonzero keeps the reading pass on its dense road, where every row comes as all its design
  // values, also where the rows could come as their non-zero values alone; and, set by the
  // pass, whether the last one took its rows as their non-zero values.
  std::atomic<int32_t> readDenseRows{0};
  std::atomic<int32_t> readSparseRows{0};
  // Observations the reading pass takes between two releases of DATA= observations (0: chosen
  // from the row width).
  std::atomic<int32_t> readReleaseRows{0};

  // The threaded levelisation: the n-th buffer handed to a worker (1-based, counted over the
  // run from the last reset; 0 none) makes its worker meet `levelWorkerFault` before it
  // works on the buffer.
  std::atomic<int64_t> levelFaultBuffer{0};
  std::atomic<WorkerFault> levelWorkerFault{WorkerFault::None};
  std::atomic<int64_t> levelBuffersHandedOver{0};

  // The next n walk-record allocations of the tree walk fail.
  std::atomic<int32_t> treeWalkFailures{0};

  // The largest X'X triangle, in bytes, that the solver keeps (negative: the default
  // budget; 0 sends every loss and gradient over the pages).
  std::atomic<int64_t> solverGramLimit{-1};

  // Nonzero sends the candidate trials and sweeps of CLASS effects whose block of X'X is
  // diagonal down the dense road, as for any other effect (the reference of the structured
  // road).
  std::atomic<int32_t> denseRoad{0};
  // Columns of a many-level CLASS effect from which FORWARD takes the structured road (0: the
  // default, kVsfStructuredColumns), so that a small effect reaches it.
  std::atomic<int32_t> structuredColumns{0};
  // The most bytes of cross-product columns that the least-angle path keeps without the
  // packed X'X, whatever the number of columns (negative: the default, which keeps them
  // for many columns only; 0 sends every step over the pages).
  std::atomic<int64_t> larCrossLimit{-1};

  // The free bytes of the utility directory that the disk plan of the pages takes (negative:
  // the file system's).
  std::atomic<int64_t> utilFreeBytes{-1};

  // Every switch back to its default.
  void reset();
  // Sets the switches named in `text` ("name=value,..."; null or empty sets none). False
  // when a name or value is not known; the switches before it are set.
  [[nodiscard]] bool set(const char* text);
};

TestHooks& testHooks();
