// The state a BY group's reading pass shares with its completion: the pass's counters and
// sums, its buffers and page writer, and the pool helper both take their arrays with. Only
// the reading pass (vsfdata.cpp) and its completion (vsfreadend.cpp) include it.
#pragma once

#include "data/vsfdata.h"
#include "data/vsfpage.h"

#include <cstdint>

namespace vsfread {

// A zeroed (or, with zeroed false, uninitialised) array of n elements of T from `pool`; at
// least one element.
template <class T> T* allocArray(QkPool* pool, int64_t n, bool zeroed = true) {
  if (n <= 0)
    n = 1;
  return static_cast<T*>(
      pool->allocate(pool, sizeof(T) * static_cast<size_t>(n), zeroed ? kQkZeroed : 0));
}

// Counters and sums of the pass.
struct Totals {
  double obsRead = 0, freqRead = 0, kept = 0, freqKept = 0, missingResponse = 0;
  double rows[4] = {0, 0, 0, 0}, freq[4] = {0, 0, 0, 0}, weight[4] = {0, 0, 0, 0};
  double sumY = 0, sumYY = 0;
  double extraRead[3] = {0, 0, 0}, extraFreq[3] = {0, 0, 0};
};

// The state of one reading pass: its settings, row source, model, pages and sums.
struct Pass {
  VsfDataSettings* s;
  VsfRowSource* src;
  VsfModel* model;
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
  Totals t;
  double* colSum;
  double* colSumSq;
  int32_t splitCounter = 0;
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
// (its N design values in `full`) its role and fold, puts it on a page and adds it to the
// counts and sums: 0, or the negative code of a page failure. With `sumWeight` the sums of a
// training row are left to the caller: *sumWeight is the weight to add it with (addRowSums),
// 0 for a row that adds nothing; the bridge's sums are never left.
[[nodiscard]] bool keepRow(Pass& p, int32_t which, int32_t status, double weight, double* frequency,
                           double* wf, int32_t* counters, int32_t* unknownClass);
[[nodiscard]] int32_t storeRow(Pass& p, int32_t which, const double* full, double y, double weight,
                               double frequency, double wf, double* sumWeight = nullptr);
// Writes the doubles of a row stored straight onto its page, at `out`: weight, frequency,
// resampling place and response as the layout has them, then the dense design values.
void writeDenseDoubles(const Pass& p, double* out, const double* full, double y, double weight,
                       double frequency);
// Adds a training row to the response's sums (sumY, sumYY) and the columns' sums with weight
// ww. A thread that sums beside the main thread keeps the response's sums apart from the
// pass's counters, which the main thread writes at every row.
void addRowSums(Pass& p, const double* full, double y, double ww, double& sumY, double& sumYY);

// The block road of a DATA= pass (vsfreadblocks.cpp): when the settings and the source allow
// it, workers build the design rows of the rest of the BY group in blocks and the main
// thread stores them in observation order; the source is left after the last observation
// taken. 0 (also when the road is closed: the caller reads on one by one), or a negative code.
[[nodiscard]] int32_t vsfReadBlocks(Pass& p);

// Completes a pass whose rows are all on pages: the column statistics and counts into the
// model, the BLOCK folds, the page files reopened for reading and the arrays later fits need.
// 0, or a negative code (the return code raised where the pages failed).
[[nodiscard]] int32_t vsfReadCompletion(Pass& p, QkExtensionSet* exts, QkPool* pool);

} // namespace vsfread
