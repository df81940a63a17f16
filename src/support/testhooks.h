// The module's test switches: every switch that only the tests set, in one object. They exist
// only in a tree that builds the tests or the benchmarks (QRX_WITH_TEST_HOOKS), where the
// tests set them (and the runner tests/runner/ from its environment); the product reads
// none of them but calls the seams of support/seams.h, which support/seams.cpp maps here.
#pragma once

#include "support/seams.h"

#include <atomic>
#include <cstdint>

#ifndef QRX_WITH_TEST_HOOKS
#error "the test switches exist only in a tree that builds the tests or the benchmarks"
#endif

// A switch the tests set; workers read it while the main thread may set it.
template <typename T, T Default> struct HookSwitch : std::atomic<T> {
  HookSwitch() : std::atomic<T>(Default) {}
  using std::atomic<T>::operator=;
  void reset() { this->store(Default); }
};

struct TestHooks {
  // The reading pass's block road: observations per block (0: chosen from the row width);
  // the block (1-based; 0 none) whose worker runs out of memory; and, set by the road, the
  // blocks the workers copied onto their pages in the last road.
  HookSwitch<int32_t, 0> readBlockRows;
  HookSwitch<int64_t, 0> failReadBlock;
  HookSwitch<int64_t, 0> readBlocksCopied;
  // Nonzero keeps the reading pass on its dense road, where every row comes as all its design
  // values, also where the rows could come as their non-zero values alone; and, set by the
  // pass, whether the last one took its rows as their non-zero values.
  HookSwitch<int32_t, 0> readDenseRows;
  HookSwitch<int32_t, 0> readSparseRows;
  // Observations the reading pass takes between two releases of DATA= observations (0: chosen
  // from the row width).
  HookSwitch<int32_t, 0> readReleaseRows;

  // The threaded levelisation: the n-th buffer handed to a worker (1-based, counted over the
  // run from the last reset; 0 none) makes its worker meet `levelWorkerFault` before it
  // works on the buffer.
  HookSwitch<int64_t, 0> levelFaultBuffer;
  HookSwitch<WorkerFault, WorkerFault::None> levelWorkerFault;
  HookSwitch<int64_t, 0> levelBuffersHandedOver;

  // The next n walk-record allocations of the tree walk fail.
  HookSwitch<int32_t, 0> treeWalkFailures;

  // The largest X'X triangle, in bytes, that the solver keeps (negative: the default
  // budget; 0 sends every loss and gradient over the pages).
  HookSwitch<int64_t, -1> solverGramLimit;

  // Nonzero sends the candidate trials and sweeps of CLASS effects whose block of X'X is
  // diagonal down the dense road, as for any other effect (the reference of the structured
  // road), and keeps split levels stored dense (the reference of their sparse rows).
  HookSwitch<int32_t, 0> denseRoad;
  // Columns of a many-level CLASS effect from which FORWARD takes the structured road (0: the
  // default, where that road costs less, vsfStructuredCheaper), so that a small effect
  // reaches it and a large one can be kept off it.
  HookSwitch<int32_t, 0> structuredColumns;
  // The most bytes of cross-product columns that the least-angle path keeps without the
  // packed X'X, whatever the number of columns (negative: the default, which keeps them
  // for many columns only; 0 sends every step over the pages).
  HookSwitch<int64_t, -1> larCrossLimit;
  // Zero leaves the rank rule's judgement of every candidate of a least-angle path to its
  // entry, as for the effects it cannot judge ahead, so that a refusal at the start of a step
  // that follows a catch-up can be tested.
  HookSwitch<int32_t, 1> larRefusalAhead;
  // Zero takes the rounding bound of an effect-coded level's pivot as if the levels taken
  // before it did not meet it in the reference level's rows (a diagonal block), so that the
  // intercept's refusal on the re-sweep that follows such a level can be tested.
  HookSwitch<int32_t, 1> levelCoupling;

  // The free bytes of the utility directory that the disk plan of the pages takes (negative:
  // the file system's).
  HookSwitch<int64_t, -1> utilFreeBytes;

  // The pages the parts of a shared-triangle pass may lie apart (0: chosen from the page
  // size), so that a few pages make the parts wait for one another.
  HookSwitch<int64_t, 0> partLeadPages;

  // The BY group (1-based; 0 none) before whose fit the process stops itself (SIGSTOP), so
  // that a test sees the files of a run in the middle of its work, at a known point.
  HookSwitch<int64_t, 0> stopBeforeFit;

  // Every switch back to its default.
  void reset();
  // Sets the switches named in `text` ("name=value,..."; null or empty sets none). False
  // when a name or value is not known; the switches before it are set.
  [[nodiscard]] bool set(const char* text);
};

inline TestHooks& testHooks() {
  static TestHooks hooks;
  return hooks;
}
