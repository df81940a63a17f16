// The seams through which tests force sizes and inject faults: each is a function the product
// calls at the one place it matters. A product build defines each here as its constant, so the
// compiler folds it away; a tree that builds the tests or the benchmarks (QRX_WITH_TEST_HOOKS)
// defines each in support/seams.cpp, where it reads the matching switch of TestHooks.
#pragma once

#include <cstdint>

// What a threaded levelisation worker meets in the buffer the tests pick.
enum class WorkerFault : int32_t {
  None = 0,
  NoMemory,     // an allocation fails
  Exception,    // a fault that is no floating-point error
  Invalid,      // a floating-point invalid operation
  DivideByZero, // a floating-point division by zero
  Overflow,     // a floating-point overflow
};

namespace seam {

#ifdef QRX_WITH_TEST_HOOKS

// The reading pass's block road: observations per block (0: chosen from the row width);
// whether block `block` (1-based) runs out of memory; the blocks a worker copied onto its
// page (counted for the tests, cleared as a road starts).
[[nodiscard]] int32_t readBlockRows();
[[nodiscard]] bool failReadBlock(int64_t block);
void noteBlockCopied();
void clearBlocksCopied();
// Whether the reading pass keeps every row dense; whether the last pass took its rows as
// their non-zero values (told to the tests).
[[nodiscard]] bool denseRowsOnly();
void noteSparseRows(bool sparse);
// Observations between two releases of DATA= observations (0: chosen from the row width).
[[nodiscard]] int32_t readReleaseRows();
// The fault the next buffer handed to a levelisation worker meets, and the worker meeting it
// as the real fault would be met.
[[nodiscard]] WorkerFault nextLevelBufferFault();
void meetFault(WorkerFault fault);
// Whether the next walk-record allocation of the tree walk fails.
[[nodiscard]] bool failTreeWalk();
// The largest X'X triangle, in bytes, the solver keeps (negative: the default budget).
[[nodiscard]] int64_t solverGramLimit();
// Whether the candidate trials of diagonal-block CLASS effects take the dense road.
[[nodiscard]] bool denseRoad();
// Columns from which a many-level CLASS effect takes the structured road (0: the default).
[[nodiscard]] int32_t structuredColumns();
// The bytes of cross-product columns the least-angle path keeps (negative: the default).
[[nodiscard]] int64_t larCrossLimit();
// Whether the least-angle path judges a candidate by the rank rule before a step ends where it
// catches up (false: every candidate is judged at its entry).
[[nodiscard]] bool larRefusalAhead();
// Whether an effect-coded level's rounding bound takes the coupling of the levels through the
// reference level's rows (false: as if the block were diagonal).
[[nodiscard]] bool levelCoupling();
// The free bytes of the utility directory (negative: the file system's).
[[nodiscard]] int64_t utilFreeBytes();
// The pages the parts of a shared-triangle pass may lie apart (0: chosen from the page size).
[[nodiscard]] int64_t partLeadPages();
// Called before the fit of BY group `byGroup` (1-based): the process stops itself there when
// the tests ask for that group.
void beforeFit(int64_t byGroup);

#else

[[nodiscard]] constexpr int32_t readBlockRows() { return 0; }
[[nodiscard]] constexpr bool failReadBlock(int64_t) { return false; }
constexpr void noteBlockCopied() {}
constexpr void clearBlocksCopied() {}
[[nodiscard]] constexpr bool denseRowsOnly() { return false; }
constexpr void noteSparseRows(bool) {}
[[nodiscard]] constexpr int32_t readReleaseRows() { return 0; }
[[nodiscard]] constexpr WorkerFault nextLevelBufferFault() { return WorkerFault::None; }
constexpr void meetFault(WorkerFault) {}
[[nodiscard]] constexpr bool failTreeWalk() { return false; }
[[nodiscard]] constexpr int64_t solverGramLimit() { return -1; }
[[nodiscard]] constexpr bool denseRoad() { return false; }
[[nodiscard]] constexpr int32_t structuredColumns() { return 0; }
[[nodiscard]] constexpr int64_t larCrossLimit() { return -1; }
[[nodiscard]] constexpr bool larRefusalAhead() { return true; }
[[nodiscard]] constexpr bool levelCoupling() { return true; }
[[nodiscard]] constexpr int64_t utilFreeBytes() { return -1; }
[[nodiscard]] constexpr int64_t partLeadPages() { return 0; }
constexpr void beforeFit(int64_t) {}

#endif

} // namespace seam
