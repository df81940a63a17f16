// The seams of a tree that builds the tests or the benchmarks: each reads or records the
// matching switch of TestHooks. A product build compiles nothing here (support/seams.h holds
// its constants).
#include "support/seams.h"

#ifdef QRX_WITH_TEST_HOOKS

#include "support/testhooks.h"

#include <algorithm>
#include <cfloat>
#include <csignal>
#include <new>
#include <stdexcept>

namespace seam {

int32_t readBlockRows() { return std::max(testHooks().readBlockRows.load(), 0); }

bool failReadBlock(int64_t block) { return testHooks().failReadBlock.load() == block; }

void noteBlockCopied() { testHooks().readBlocksCopied.fetch_add(1, std::memory_order_relaxed); }

void clearBlocksCopied() { testHooks().readBlocksCopied.store(0); }

bool denseRowsOnly() { return testHooks().readDenseRows.load() != 0; }

void noteSparseRows(bool sparse) { testHooks().readSparseRows.store(sparse ? 1 : 0); }

int32_t readReleaseRows() { return std::max(testHooks().readReleaseRows.load(), 0); }

WorkerFault nextLevelBufferFault() {
  TestHooks& hooks = testHooks();
  const int64_t failAt = hooks.levelFaultBuffer.load();
  return failAt > 0 && hooks.levelBuffersHandedOver.fetch_add(1) + 1 == failAt
             ? hooks.levelWorkerFault.load()
             : WorkerFault::None;
}

void meetFault(WorkerFault fault) {
  volatile double zero = 0.0;
  volatile double largest = DBL_MAX;
  volatile double result = 0.0;
  switch (fault) {
  case WorkerFault::None:
    return;
  case WorkerFault::NoMemory:
    throw std::bad_alloc();
  case WorkerFault::Exception:
    throw std::runtime_error("a fault in a levelisation worker");
  case WorkerFault::Invalid:
    result = zero / zero;
    break;
  case WorkerFault::DivideByZero:
    result = 1.0 / zero;
    break;
  case WorkerFault::Overflow:
    result = largest * 2.0;
    break;
  }
  (void)result;
}

bool failTreeWalk() {
  auto& failures = testHooks().treeWalkFailures;
  int32_t left = failures.load();
  return left > 0 && failures.compare_exchange_strong(left, left - 1);
}

int64_t solverGramLimit() { return testHooks().solverGramLimit.load(); }

bool denseRoad() { return testHooks().denseRoad.load() != 0; }

int32_t structuredColumns() { return testHooks().structuredColumns.load(); }

int64_t larCrossLimit() { return testHooks().larCrossLimit.load(); }

bool larRefusalAhead() { return testHooks().larRefusalAhead.load() != 0; }

bool levelCoupling() { return testHooks().levelCoupling.load() != 0; }

void beforeFit(int64_t byGroup) {
  if (byGroup == testHooks().stopBeforeFit.load())
    (void)std::raise(SIGSTOP);
}

int64_t utilFreeBytes() { return testHooks().utilFreeBytes.load(); }

int64_t partLeadPages() { return testHooks().partLeadPages.load(); }

} // namespace seam

#endif
