// The buffer lengths and stores of the kernel pairs (declared in kernels/vsfkernelsums.h):
// under cross validation the cross products come as one slice per fold; the held-out sums
// only under external cross validation.
#include "kernels/vsfkernelsums.h"

#include "kernels/vsfxpx.h"

#include "data/vsfcvexsums.h"
#include "data/vsfdata.h"
#include "data/vsflarahead.h"
#include "data/vsfpassstate.h"
#include "numerics/packedtri.h"

#include <cstring>

namespace {

using packed::tri;

[[nodiscard]] bool cvOn(const VsfPassState* m) {
  return m->dataSettings != nullptr && m->dataSettings->cv != 0;
}
[[nodiscard]] bool xcvOn(const VsfPassState* m) {
  return m->dataSettings != nullptr && m->dataSettings->xcv != 0;
}
// The buffer's slices: one per fold under cross validation, else one.
[[nodiscard]] int64_t slices(const VsfPassState* m) { return cvOn(m) ? m->cv.foldCount : 1; }

void addInto(double* dst, const double* src, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    dst[i] += src[i];
}
void copyInto(double* dst, const double* src, int64_t n) {
  std::memcpy(dst, src, sizeof(double) * static_cast<size_t>(n));
}

// Calls put(target of slice f, slice f) for each fold under cross validation, else once
// with the model's own target.
template <typename Target, typename Put>
void bySlice(VsfPassState* m, const double* B, int64_t L, Target target, Put put) {
  const int32_t K = m->cv.foldCount;
  if (cvOn(m) && K > 0)
    for (int32_t f = 0; f < K; ++f)
      put(target(&m->cv.folds[f]), B + f * (L / K), L / K);
  else
    put(target(nullptr), B, L);
}

// ---- cross products ---------------------------------------------------------------------

int64_t xpxLength(const VsfPassState* m, int64_t) { return slices(m) * tri(m->xpxColumns); }
void storeXpx(VsfPassState* m, const double* B, int64_t L) {
  bySlice(
      m, B, L, [m](VsfFoldRecord* f) { return f != nullptr ? f->xpx : m->xpx; }, addInto);
}

int64_t shiftSquaresXpxLength(const VsfPassState* m, int64_t) {
  return m->parmCount + 1 + tri(m->xpxColumns);
}
// The sums of squares about the shift, then the cross products (never under cross
// validation).
void storeShiftSquaresXpx(VsfPassState* m, const double* B, int64_t L) {
  const int32_t P = m->parmCount;
  m->sumWYY = B[0];
  copyInto(m->moments.columnSquareSums, B + 1, P);
  addInto(m->xpx, B + P + 1, L - (P + 1));
}

int64_t effectXpxLength(const VsfPassState* m, int64_t) {
  int64_t sum = 0;
  for (int32_t e = 0; e < m->effectCount; ++e)
    sum += tri(m->effectColumns[e]);
  return slices(m) * sum;
}
// Copies the packed blocks of each effect, laid end to end, into `blocks`.
void spreadEffectBlocks(const VsfPassState* m, double** blocks, const double* src) {
  int64_t start = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int64_t size = tri(m->effectColumns[e]);
    if (size > 0 && blocks[e] != nullptr)
      copyInto(blocks[e], src + start, size);
    start += size;
  }
}
void storeEffectXpx(VsfPassState* m, const double* B, int64_t L) {
  bySlice(
      m, B, L, [m](VsfFoldRecord* f) { return f != nullptr ? f->effectBlocks : m->effectBlocks; },
      [m](double** blocks, const double* src, int64_t) { spreadEffectBlocks(m, blocks, src); });
}

// A new effect's rows: `arg` doubles a slice.
int64_t argSlices(const VsfPassState* m, int64_t arg) { return slices(m) * arg; }
void storeEffXpx(VsfPassState* m, const double* B, int64_t L) {
  const int64_t from = tri(m->xpxColumns);
  bySlice(
      m, B, L, [m, from](VsfFoldRecord* f) { return (f != nullptr ? f->xpx : m->xpx) + from; },
      copyInto);
}

int64_t yCrossLength(const VsfPassState* m, int64_t) { return slices(m) * (m->parmCount + 1); }
void storeYCross(VsfPassState* m, const double* B, int64_t L) {
  bySlice(
      m, B, L, [m](VsfFoldRecord* f) { return f != nullptr ? f->cross : m->cross; }, copyInto);
}
void storeEffCross(VsfPassState* m, const double* B, int64_t L) {
  const int64_t from = static_cast<int64_t>(m->crossColumnCount) * (m->parmCount + 1);
  bySlice(
      m, B, L, [m, from](VsfFoldRecord* f) { return (f != nullptr ? f->cross : m->cross) + from; },
      copyInto);
}

// ---- moments and sums of squares --------------------------------------------------------

int64_t momentsLength(const VsfPassState* m, int64_t) {
  return 2 * int64_t{m->parmCount} + (xcvOn(m) ? 5 : 1);
}
void storeMoments(VsfPassState* m, const double* B, int64_t) {
  const int32_t P = m->parmCount;
  m->sumWY = B[0];
  copyInto(m->moments.columnSums, B + 1, P);
  copyInto(m->moments.columnSumSquares, B + 1 + P, P);
  if (xcvOn(m)) {
    m->totals.wTrain += B[2 * P + 1];
    m->totals.nObs += B[2 * P + 2];
    m->totals.wValidate += B[2 * P + 3];
    m->totals.freqValidate += B[2 * P + 4];
  }
}

int64_t twoPerParameter(const VsfPassState* m, int64_t) { return 2 * int64_t{m->parmCount}; }
void storeSpreads(VsfPassState* m, const double* B, int64_t) {
  copyInto(m->moments.spreadSums, B, 2 * int64_t{m->parmCount});
}

int64_t onePerParameterAndY(const VsfPassState* m, int64_t) { return m->parmCount + 1; }
void storeSquareSums(VsfPassState* m, const double* B, int64_t) {
  m->sumWYY = B[0];
  copyInto(m->moments.columnSquareSums, B + 1, m->parmCount);
}

int64_t oneForY(const VsfPassState*, int64_t) { return 1; }
void storeResponseSquares(VsfPassState* m, const double* B, int64_t) { m->sumWYY = B[0]; }

// ---- cross validation -------------------------------------------------------------------

int64_t onePerFold(const VsfPassState* m, int64_t) { return m->cv.foldCount; }
void storeCVYpY(VsfPassState* m, const double* B, int64_t) {
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    m->cv.folds[f].xpx[0] = B[f];
}
void storeCVResids(VsfPassState* m, const double* B, int64_t) {
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    m->cv.folds[f].cvSse += B[f];
}
int64_t threePerFold(const VsfPassState* m, int64_t) { return 3 * int64_t{m->cv.foldCount}; }
void storeCVNobs(VsfPassState* m, const double* B, int64_t) {
  const int32_t K = m->cv.foldCount;
  for (int32_t f = 0; f < K; ++f) {
    m->cv.folds[f].rowCount += B[f];
    m->cv.folds[f].freqCount += B[K + f];
    m->cv.folds[f].weightCount += B[2 * K + f];
  }
}

int64_t argLength(const VsfPassState*, int64_t arg) { return arg; }
void storeCVFoldMeans(VsfPassState* m, const double* B, int64_t L) {
  addInto(m->cv.foldCentre, B, L);
}
int64_t squaresAndFoldMeansLength(const VsfPassState* m, int64_t arg) {
  return m->parmCount + 1 + arg;
}
// The sums of squares about the shift, then the folds' sums of the shifted rows.
void storeSquaresFoldMeans(VsfPassState* m, const double* B, int64_t L) {
  const int64_t squares = m->parmCount + 1;
  storeSquareSums(m, B, squares);
  storeCVFoldMeans(m, B + squares, L - squares);
}
void storeCVExFoldXpx(VsfPassState* m, const double* B, int64_t) {
  addInto(m->cvexPass.cvexSums->sums.data(), B,
          static_cast<int64_t>(m->cvexPass.cvexSums->sums.size()));
}

// ---- residual sums and the solver ---------------------------------------------------------

int64_t oneSum(const VsfPassState*, int64_t) { return 1; }
void storePress(VsfPassState* m, const double* B, int64_t) { m->press += B[0]; }
void storeSse(VsfPassState* m, const double* B, int64_t) { m->sse += B[0]; }

int64_t twoSums(const VsfPassState*, int64_t) { return 2; }
void storeResids(VsfPassState* m, const double* B, int64_t) {
  m->validateAse += B[0];
  m->testAse += B[1];
}

void storeGradient(VsfPassState* m, const double* B, int64_t) {
  m->sse += B[0];
  addInto(m->pathPass.corr, B + 1, m->parmCount);
}

int64_t validateTestLength(const VsfPassState* m, int64_t) { return xcvOn(m) ? 3 : 2; }
void storeValidateTest(VsfPassState* m, const double* B, int64_t) {
  m->validateAse += B[0];
  m->testAse += B[1];
  if (xcvOn(m))
    m->cvexPass.heldOutError += B[2];
}

// ---- the least-angle path ---------------------------------------------------------------

int64_t onePerEffect(const VsfPassState* m, int64_t) { return m->effectCount; }
void storeCorr(VsfPassState* m, const double* B, int64_t) {
  addInto(m->pathPass.corr, B, m->effectCount);
}
void storeDirCorr(VsfPassState* m, const double* B, int64_t) {
  addInto(m->pathPass.dirCorr, B, m->effectCount);
}

int64_t larCorrLength(const VsfPassState* m, int64_t) {
  return m->effectCount + (xcvOn(m) ? 5 : 3);
}
void storeLarCorr(VsfPassState* m, const double* B, int64_t) {
  const int32_t E = m->effectCount;
  m->sse += B[0];
  m->validateAse += B[1];
  m->testAse += B[2];
  addInto(m->pathPass.corr, B + 3, E);
  if (xcvOn(m)) {
    m->cvexPass.heldOutError += B[E + 3];
    m->cvexPass.heldOutTestError += B[E + 4];
  }
}

int64_t larRssLength(const VsfPassState* m, int64_t) { return xcvOn(m) ? 5 : 3; }
void storeLarRss(VsfPassState* m, const double* B, int64_t) {
  m->sse += B[0];
  m->validateAse += B[1];
  m->testAse += B[2];
  if (xcvOn(m)) {
    m->cvexPass.heldOutError += B[3];
    m->cvexPass.heldOutTestError += B[4];
  }
}

void storeLarRssAhead(VsfPassState* m, const double* B, int64_t) {
  addInto(m->pathPass.larAhead->sse.data(), B,
          static_cast<int64_t>(m->pathPass.larAhead->sse.size()));
}

// The screening terms, then the correlations of the screened-out effects (and, with the
// direction, their direction correlations).
void storeScreenedOut(VsfPassState* m, const double* B, bool direction) {
  m->screenPass.screenTermA += B[0];
  m->screenPass.screenTermB += B[1];
  for (int32_t i = 0; i < m->screenPass.screenOutCount; ++i) {
    const int32_t e = m->screenPass.screenOutList[i];
    m->pathPass.corr[e] += B[e + 2];
    if (direction)
      m->pathPass.dirCorr[e] += B[e + m->effectCount + 2];
  }
}
int64_t sasviLength(const VsfPassState* m, int64_t) { return 2 * int64_t{m->effectCount} + 2; }
void storeSasvi(VsfPassState* m, const double* B, int64_t) { storeScreenedOut(m, B, true); }
int64_t sasviCorrOutLength(const VsfPassState* m, int64_t) { return m->effectCount + 2; }
void storeSasviCorrOut(VsfPassState* m, const double* B, int64_t) { storeScreenedOut(m, B, false); }
void storeSasviAvecOut(VsfPassState* m, const double* B, int64_t) {
  for (int32_t i = 0; i < m->screenPass.screenNewCount; ++i) {
    const int32_t e = m->screenPass.screenNewList[i];
    m->pathPass.dirCorr[e] += B[e];
  }
}

} // namespace

// Constant-initialised, so that a registration at start-up never reads one unset.
constinit const VsfKernelUse kVsfFullXpXUse{VsfPageUse::Reads, xpxLength, storeXpx, false,
                                            &kVsfFullXpXSpan,  true};
constinit const VsfKernelUse kVsfCenterScaleXpXUse{
    VsfPageUse::Rewrites, xpxLength, storeXpx, false, &kVsfCenterScaleXpXSpan, true};
constinit const VsfKernelUse kVsfShiftSquaresXpXUse{VsfPageUse::Rewrites,     shiftSquaresXpxLength,
                                                    storeShiftSquaresXpx,     false,
                                                    &kVsfShiftSquaresXpXSpan, true};
constinit const VsfKernelUse kVsfEffectXpXUse{VsfPageUse::Reads, effectXpxLength, storeEffectXpx,
                                              true};
constinit const VsfKernelUse kVsfEffXpXUse{VsfPageUse::Reads, argSlices, storeEffXpx, true};
constinit const VsfKernelUse kVsfYCrossUse{VsfPageUse::Reads, yCrossLength, storeYCross};
constinit const VsfKernelUse kVsfEffCrossUse{VsfPageUse::Reads, argSlices, storeEffCross, true,
                                             &kVsfEffCrossSpan};
constinit const VsfKernelUse kVsfMomentsUse{VsfPageUse::Reads, momentsLength, storeMoments};
constinit const VsfKernelUse kVsfSpreadsUse{
    VsfPageUse::Reads, twoPerParameter, storeSpreads, true, nullptr, true};
constinit const VsfKernelUse kVsfYpwYUse{VsfPageUse::Reads, onePerParameterAndY, storeSquareSums};
constinit const VsfKernelUse kVsfResponseSquaresUse{VsfPageUse::Reads, oneForY,
                                                    storeResponseSquares, true};
// Grouped as the fused shift and cross products are, so that the two passes give the fused
// pass's sums of squares.
constinit const VsfKernelUse kVsfShiftRowsSquaresUse{
    VsfPageUse::Rewrites, onePerParameterAndY, storeSquareSums, false, nullptr, true};
constinit const VsfKernelUse kVsfShiftSquaresFoldMeansUse{
    VsfPageUse::Rewrites, squaresAndFoldMeansLength, storeSquaresFoldMeans, false, nullptr, true};
// A page rewrite with the folds' sums of the rewritten rows, grouped as every summing pass.
constinit const VsfKernelUse kVsfRewriteFoldMeansUse{
    VsfPageUse::Rewrites, argLength, storeCVFoldMeans, false, nullptr, true};
constinit const VsfKernelUse kVsfPageTransformUse{VsfPageUse::Transforms, nullptr, nullptr};
constinit const VsfKernelUse kVsfSplitSparseTransformUse{VsfPageUse::Transforms, nullptr, nullptr,
                                                         true};
constinit const VsfKernelUse kVsfResampleUse{VsfPageUse::Resamples, nullptr, nullptr};
constinit const VsfKernelUse kVsfCVNobsUse{VsfPageUse::Reads, threePerFold, storeCVNobs};
constinit const VsfKernelUse kVsfCVYpYUse{VsfPageUse::Reads, onePerFold, storeCVYpY};
constinit const VsfKernelUse kVsfCVResidsUse{VsfPageUse::Reads, onePerFold, storeCVResids};
constinit const VsfKernelUse kVsfCVFoldMeansUse{VsfPageUse::Reads, argLength, storeCVFoldMeans};
constinit const VsfKernelUse kVsfCVExFoldXpXUse{VsfPageUse::Reads, argLength, storeCVExFoldXpx};
// Summed in page groups, so that a PRESS criterion compares alike on one and eight threads.
constinit const VsfKernelUse kVsfPressUse{VsfPageUse::Reads, oneSum, storePress, false,
                                          nullptr,           true};
constinit const VsfKernelUse kVsfResidsUse{VsfPageUse::Reads, twoSums, storeResids};
constinit const VsfKernelUse kVsfFunValueUse{VsfPageUse::Reads, oneSum, storeSse};
constinit const VsfKernelUse kVsfGradientUse{VsfPageUse::Reads, onePerParameterAndY, storeGradient};
constinit const VsfKernelUse kVsfValidateTestUse{VsfPageUse::Reads, validateTestLength,
                                                 storeValidateTest};
constinit const VsfKernelUse kVsfCorrUse{VsfPageUse::Reads, onePerEffect, storeCorr};
constinit const VsfKernelUse kVsfLarCorrUse{VsfPageUse::Reads, larCorrLength, storeLarCorr, true};
constinit const VsfKernelUse kVsfLarAvecUse{VsfPageUse::Reads, onePerEffect, storeDirCorr, true};
constinit const VsfKernelUse kVsfLarRssUse{VsfPageUse::Reads, larRssLength, storeLarRss, true};
constinit const VsfKernelUse kVsfLarRssAheadUse{VsfPageUse::Reads, argLength, storeLarRssAhead};
constinit const VsfKernelUse kVsfLarSasviUse{VsfPageUse::Reads, sasviLength, storeSasvi};
constinit const VsfKernelUse kVsfLarSasviCorrOutUse{VsfPageUse::Reads, sasviCorrOutLength,
                                                    storeSasviCorrOut};
constinit const VsfKernelUse kVsfLarSasviAvecOutUse{VsfPageUse::Reads, onePerEffect,
                                                    storeSasviAvecOut};
