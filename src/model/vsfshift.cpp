// Shifting the pages about the TRAIN means before the cross products are accumulated, and
// the test that the accumulated sums of squares are finite. The intercept's estimate and
// variance are carried back to the data's scale with the other estimates (vsfcriteria.cpp).
#include "model/vsfshift.h"
#include "support/notfound.h"

#include "data/vsfthread.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsftransform.h"
#include "kernels/vsfxpx.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "support/hostif.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>

namespace {

using packed::diag;

// The effect whose parameters hold full X'X column c (column 0 is the response:
// kVsfNotFound).
[[nodiscard]] int32_t effectOfColumn(const VsfModel* m, int64_t c) {
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (c >= m->effectColumn[e] && c < m->effectColumn[e] + m->effectColumns[e])
      return e;
  return kVsfNotFound;
}

[[nodiscard]] bool overflow(VsfModel* m, int32_t effect) {
  m->fitStatus = VsfFitStatus::Overflow;
  m->overflowEffect = effect;
  return false;
}

// The pass that shifts the rows (a kernel pair of the shift and its sums of squares, with or
// without the cross products): the sums of squares that the grown-on-demand matrix starts
// from are formed about the shift, from zero, while the uncorrected response sum of squares
// they replace is kept.
[[nodiscard]] VsfStatus shiftPass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded,
                                  int64_t arg) {
  const double raw = m->sumWYY;
  m->sumWYY = 0.0;
  std::fill(m->moments.columnSquareSums, m->moments.columnSquareSums + m->parmCount, 0.0);
  if (const VsfStatus rc = vsfDataPass(m, serial, threaded, arg); rc != VsfStatus::Ok)
    return rc;
  m->shift.pagesShifted = 1;
  m->rawSumWYY = raw;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfShiftPages(VsfModel* m, bool withCrossProducts) {
  const VsfModelOptions* o = m->options;
  if (m->shift.pagesShifted || m->shift.xpxShift == nullptr || o->noint || o->colStandardize ||
      o->parmStandardize)
    return VsfStatus::Ok;
  // Sparse columns stay as they are, and so does the intercept's column of ones.
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (e == 0 || m->layout.sparseSlot[e] >= 0)
      std::fill(m->shift.xpxShift + 1 + m->parmOffset[e],
                m->shift.xpxShift + 1 + m->parmOffset[e] + m->effectColumns[e], 0.0);
  if (withCrossProducts) {
    m->shift.xpxPagePrep = VXP_SHIFT;
    return VsfStatus::Ok;
  }
  // The folds' sums of the shifted rows, where the caller asks for them (foldCentre).
  if (m->cv.foldCentre != nullptr)
    return shiftPass(m, vsfShiftSquaresFoldMeans, vsfShiftSquaresFoldMeans_t,
                     vsfCVFoldMeansLength(m));
  return shiftPass(m, vsfShiftRowsSquares, vsfShiftRowsSquares_t, 0);
}

VsfStatus vsfShiftPagesWithCrossProducts(VsfModel* m) {
  const VsfStatus rc = shiftPass(m, vsfShiftSquaresXpX, vsfShiftSquaresXpX_t, 0);
  if (rc == VsfStatus::Ok)
    m->shift.xpxPagePrep = VXP_DONE;
  return rc;
}

double vsfUncorrectedTotal(const VsfModel* m) {
  return m->shift.pagesShifted ? m->rawSumWYY : m->xpx[0];
}

void vsfSetTotals(VsfModel* m) {
  m->totalSSUncorrected = vsfUncorrectedTotal(m);
  m->roundingSS = vsfRoundingTotal(m);
  m->responseSpreadFormed = 0;
  if (m->options->noint)
    m->totalSS = m->totalSSUncorrected;
}

VsfStatus vsfFormResponseSpread(VsfModel* m) {
  if (!m->options->noint || m->responseSpreadFormed != 0)
    return VsfStatus::Ok;
  const double raw = m->sumWYY;
  m->sumWYY = 0.0;
  m->shift.responseCentre = isHostMissing(m->sumWY) ? 0.0 : m->sumWY;
  const VsfStatus rc = vsfDataPass(m, vsfResponseSquares, vsfResponseSquares_t, 0);
  m->shift.responseCentre = 0.0;
  if (rc == VsfStatus::Ok) {
    m->responseSpread = m->sumWYY;
    m->responseSpreadFormed = 1;
  }
  m->sumWYY = raw;
  return rc;
}

namespace {

// Whether every error SS of a penalized path or a solver's fit without an intercept is the
// sum of its residuals' squares over the rows, or a form in the cross products only where
// that keeps its digits: no least-squares coefficients (the swept corner) and no external
// cross validation (its folds' sums).
[[nodiscard]] bool pathSseFromRows(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return o->noint &&
         (vsfMethodHasPath(o->method) || vsfMethodIs(o->method, VsfMethodFamily::Solver)) &&
         !vsfMethodLsCoefficients(o->method) && !o->cvExternal;
}

} // namespace

double vsfRoundingTotal(const VsfModel* m) {
  // Sums about the shift carry the rounding of the spread they hold; an error SS summed over
  // the rows carries only the rounding of the response's own values.
  const double held = m->shift.pagesShifted ? m->xpx[0]
                      : pathSseFromRows(m)  ? 0.0
                                            : m->totalSSUncorrected;
  return std::max(held, kVsfEps * m->totalSSUncorrected);
}

bool vsfCrossProductsFinite(VsfModel* m) {
  if (!std::isfinite(m->xpx[0]))
    return overflow(m, -1);
  if (vsfFullXpxOn(m)) {
    for (int64_t c = 1; c < m->xpxColumns; ++c)
      if (!std::isfinite(m->xpx[diag(c)]))
        return overflow(m, effectOfColumn(m, c));
    return true;
  }
  for (int32_t e = 0; m->effectBlocks != nullptr && e < m->effectCount; ++e) {
    const double* B = m->effectBlocks[e];
    for (int32_t i = 0; B != nullptr && i < m->effectColumns[e]; ++i)
      if (!std::isfinite(B[diag(i)]))
        return overflow(m, e);
  }
  return true;
}
