// The state a BY group's reading pass shares with its completion: the pass's counters and
// sums, its buffers and page writer, and the pool helper both take their arrays with. Only
// the reading pass (vsfdata.cpp) and its completion (vsfreadend.cpp) include it.
#pragma once

#include "data/vsfdata.h"
#include "data/vsfpage.h"
#include "data/vsfrolefold.h"
#include "support/stepcodes.h"

#include <cassert>
#include <cstdint>

namespace vsfread {

// A zeroed (or, with zeroed false, uninitialised) array of n elements of T from `pool`; at
// least one element.
template <class T> T* allocArray(QkPool* pool, int64_t n, bool zeroed = true) {
  assert(n <= INT64_MAX / static_cast<int64_t>(sizeof(T)) && "the block size overflows");
  if (n <= 0)
    n = 1;
  return static_cast<T*>(
      pool->allocate(pool, sizeof(T) * static_cast<size_t>(n), zeroed ? kQkZeroed : 0));
}

// One design row as the pass takes it: its N design values in `full`, or (full null) its
// `count` values that may be non-zero with their columns, every other value zero (the sparse
// road). Each column is listed once, and an entry's columns in its own order.
struct DesignRow {
  const double* full = nullptr;
  const double* values = nullptr;
  const int32_t* columns = nullptr;
  int32_t count = 0;
};

// Places of a design column in a staged row of the sparse road besides its dense offset: in
// no entry, or in the sparse entry of slot k at kSparsePlace - k.
inline constexpr int32_t kNoPlace = -1;
inline constexpr int32_t kSparsePlace = -2;

// Counters and sums of the pass.
struct Totals {
  double obsRead = 0, freqRead = 0, kept = 0, freqKept = 0, missingResponse = 0;
  double unweighted = 0; // DATA= rows with a response left out for a weight missing or <= 0
  double rows[4] = {0, 0, 0, 0}, freq[4] = {0, 0, 0, 0}, weight[4] = {0, 0, 0, 0};
  double sumY = 0, sumYY = 0;
  double extraRead[3] = {0, 0, 0}, extraFreq[3] = {0, 0, 0};
};

// The state of one reading pass: its settings, row source, model, pages and sums.
struct Pass {
  VsfDataSettings* s;
  VsfRowSource* src;
  VsfPassState* model;
  VsfBagVec* bags;
  QkPool* pagePool;
  int32_t* returnCode;
  VsfPageWriter writer;
  VsfRowLayout layout;
  double* full;
  double* stageD;
  int32_t* stageC;
  int32_t stagedDoubles = 0, stagedCodes = 0;
  int32_t* denseRuns = nullptr; // (first column, length) runs of the dense values
  int32_t denseRunCount = 0;
  // The sparse road, where rows come as their non-zero values: the most values a row holds
  // (0: the dense road) and the serial road's row. Per design column its place in the staged
  // row (its offset among the dense values, or a sparse entry: kSparsePlace - the entry's
  // slot, or kNoPlace) and its position in its sparse entry; per sparse entry the values of
  // the row being staged.
  int32_t sparseBound = 0;
  double* rowValues = nullptr;
  int32_t* rowColumns = nullptr;
  int32_t* columnPlace = nullptr;
  int32_t* columnCode = nullptr;
  int32_t* entryFill = nullptr;
  Totals t;
  double* colSum;
  double* colSumSq;
  // Under cross validation, per column the smallest non-zero magnitude a training row holds
  // (null otherwise): whether shifting the column by its mean would round away the values of
  // rows that some fold fits on their own.
  double* colSmallest = nullptr;
  VsfRoleFoldCursor foldCursor;
  // Under cross validation, per fold, 1 once a kept TRAIN row holds it (INDEX: per level of the
  // index variable until the folds are numbered over the levels met).
  uint8_t* foldMet = nullptr;
  bool rowsStored = false;
  // The post-fit bridge's sums.
  double* numeric = nullptr;
  double* bridgeWSum = nullptr;
  double* bridgeFSum = nullptr;
  double* bridgeColSum = nullptr;
  double missingResponseWeight = 0;
  // Set by a block road whose workers copy the rows onto the pages: where a row stored straight
  // onto its page leaves the place of its doubles instead of writing them (its codes are
  // written as ever). Null: rows are written where they are stored.
  double** deferTo = nullptr;
};

// The main thread's part of one observation, in observation order, for the serial road and
// the block road alike. keepRow counts the observation and decides whether its row is
// stored (the frequency floored, *wf the weight times the frequency); storeRow gives the row
// its role and fold, puts it on a page and adds it to the
// counts and sums: 0, or the negative code of a page failure. With `sumWeight` the sums of a
// training row are left to the caller: *sumWeight is the weight to add it with (addRowSums),
// 0 for a row that adds nothing; the bridge's sums are never left. Either road stores the
// same bytes and adds the same terms to every sum in the same order (a zero adds nothing).
[[nodiscard]] bool keepRow(Pass& p, int32_t which, LevRowStatusSet status, double weight,
                           double* frequency, double* wf, int32_t* counters, int32_t* unknownClass);
[[nodiscard]] VsfStatus storeRow(Pass& p, int32_t which, const DesignRow& row, double y,
                                 double weight, double frequency, double wf,
                                 double* sumWeight = nullptr);
// Writes the doubles of a row stored straight onto its page, at `out`: weight, frequency,
// resampling place and response as the layout has them, then the dense design values (a
// layout without sparse entries, which the sparse road never has).
void writeDenseDoubles(const Pass& p, double* out, const double* full, double y, double weight,
                       double frequency);
// Adds a training row to the response's sums (sumY, sumYY) and the columns' sums with weight
// ww. A thread that sums beside the main thread keeps the response's sums apart from the
// pass's counters, which the main thread writes at every row.
void addRowSums(Pass& p, const DesignRow& row, double y, double ww, double& sumY, double& sumYY);

// The block road of a DATA= pass (vsfreadblocks.cpp): when the settings and the source allow
// it, workers build the design rows of the rest of the BY group in blocks and the main
// thread stores them in observation order; the source is left after the last observation
// taken. 0 (also when the road is closed: the caller reads on one by one), or a negative code.
[[nodiscard]] VsfStatus vsfReadBlocks(Pass& p);

// Completes a pass whose rows are all on pages: the column statistics and counts into the
// model, the BLOCK folds, the INDEX folds numbered over the levels met, the page files reopened for
// reading and the arrays later fits need. Ok, or the failure status (the return code raised where
// the pages failed).
[[nodiscard]] VsfStatus vsfReadCompletion(Pass& p, QkExtensionSet* exts, QkPool* pool);

} // namespace vsfread
