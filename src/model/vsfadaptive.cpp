// Adaptive weights: the full least-squares fit is swept on a copy of the weighted X'X of the
// standardized pages (formed for this purpose when the fit grows its cross products) and left
// unswept afterwards for the fit proper; INEST= estimates are put on the standardized scale by
// the column scales.
#include "model/vsfadaptive.h"

#include "kernels/vsfxpx.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfsplitadaptive.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzpower.h"
#include "support/hostif.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

double vsfAdaptiveWeightOf(double b, double gamma, int32_t* status) {
  *status = 0;
  const double a = std::fabs(b);
  if (gamma == 1.0)
    return a;
  return qkzpower(status, a, gamma);
}

bool vsfAdaptiveWeighted(const VsfModel* m, int32_t e) {
  return m->effectStatus[e] != VES_UNAVAILABLE && m->effectStatus[e] != VES_INTERCEPT;
}

double vsfAdaptiveFactor(const VsfModel* m, int32_t p) {
  if (!m->options->adaptive || m->adaptive.adaptiveWeight == nullptr)
    return 1.0;
  const double w = m->adaptive.adaptiveWeight[p];
  return isHostMissing(w) ? 1.0 : w;
}

bool vsfAdaptiveHeldAtZero(const VsfModel* m, int32_t p) {
  return m->options->parmStandardize && vsfAdaptiveFactor(m, p) == 0.0;
}

namespace {

// The weights come from every training row. Under cross validation the pass files each
// row's cross products under its fold, not in the model's X'X: the folds' sums are added
// into it, and what the folds held before the pass is put back.
[[nodiscard]] VsfStatus fullXpxOverFolds(VsfModel* m, int64_t T) {
  const bool folds = vsfCvOn(m) && m->cv.folds != nullptr && m->cv.foldCount > 0;
  std::vector<double> kept;
  if (folds)
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      kept.insert(kept.end(), m->cv.folds[f].xpx, m->cv.folds[f].xpx + T);
      std::fill(m->cv.folds[f].xpx, m->cv.folds[f].xpx + T, 0.0);
    }
  // A failing pass is reported (VsfMsg::DataPagePassFailed) before its code is returned.
  const VsfStatus rc = vsfDataPass(m, vsfFullXpX, vsfFullXpX_t, 0);
  if (folds)
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      double* x = m->cv.folds[f].xpx;
      for (int64_t i = 0; i < T; ++i)
        m->xpx[i] += x[i];
      std::copy(kept.begin() + f * T, kept.begin() + (f + 1) * T, x);
    }
  return rc;
}

// The weights of effect e's columns (from X'X column `first`, parameter `parm` on) from the
// swept full model. An aliased column has no coefficient of its own. A single-column effect
// so aliased becomes unavailable. A column of a larger effect (a CLASS effect's last level
// beside the intercept, say) gets weight 0 and takes no part, while its other columns carry
// the effect; the effect becomes unavailable only when none of its columns is swept.
// 0, or the non-zero qkzpower status.
[[nodiscard]] int32_t effectWeights(VsfModel* m, int32_t e, int64_t first, int32_t parm) {
  const int32_t n = m->effectColumns[e];
  int32_t aliased = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int64_t c = first + i;
    const bool swept = m->sweepFlags[c] != '0';
    aliased += swept ? 0 : 1;
    if (!swept && n > 1) {
      m->adaptive.adaptiveWeight[parm + i] = 0.0;
      continue;
    }
    int32_t status;
    m->adaptive.adaptiveWeight[parm + i] =
        vsfAdaptiveWeightOf(m->sweptXpx[packed::at(c, 0)], m->options->gamma, &status);
    if (status != 0)
      return status;
  }
  if (aliased == n && n > 0) {
    m->effectStatus[e] = VES_UNAVAILABLE;
    m->adaptiveAliased += 1;
  }
  return 0;
}

} // namespace

int32_t vsfLSAdaptiveWeights(VsfModel* m) {
  if (m->layout.splitSparse)
    return vsfSplitLSAdaptiveWeights(m);
  m->adaptiveAliased = 0;
  // Cross products grown on demand hold only the response so far: the full matrix of the
  // dense columns is formed for this fit alone and the grown layout put back afterwards.
  const bool grown = !vsfFullXpxOn(m);
  const int32_t grownColumns = m->xpxColumns;
  if (grown) {
    const int32_t cols = m->layout.denseColumnCount + 1;
    if (const VsfStatus rc = vsfAddXpXMemory(m, cols); rc != VsfStatus::Ok)
      return codeOf(rc);
    m->xpxColumns = cols;
    std::memset(m->xpx, 0, sizeof(double) * (static_cast<int64_t>(cols) * (cols + 1) / 2));
  }
  auto column = [&](int32_t e) {
    return grown ? m->layout.denseOffset[e] + 1 : m->effectColumn[e];
  };
  const int64_t T = static_cast<int64_t>(m->xpxColumns) * (m->xpxColumns + 1) / 2;
  if (const VsfStatus rc = fullXpxOverFolds(m, T); rc != VsfStatus::Ok) {
    m->xpxColumns = grownColumns;
    return codeOf(rc);
  }
  std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * T);
  for (int32_t e = 0; e < m->effectCount; ++e) {
    if (!vsfAdaptiveWeighted(m, e))
      continue;
    for (int32_t i = 0; i < m->effectColumns[e]; ++i)
      vsfSweep(m, column(e) + i);
  }
  // The sweep of X'X loses digits to the columns' conditioning: the coefficients are
  // corrected on their residuals over the rows, so that the weights are those of the rows'
  // least-squares fit whatever road formed the sums.
  if (const VsfStatus rc = vsfRefineLaidOut(m); rc != VsfStatus::Ok) {
    m->xpxColumns = grownColumns;
    return codeOf(rc);
  }
  int32_t q = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    if (!vsfAdaptiveWeighted(m, e)) {
      q += m->effectColumns[e];
      continue;
    }
    if (const int32_t status = effectWeights(m, e, column(e), q); status != 0) {
      m->xpxColumns = grownColumns;
      return status;
    }
    q += m->effectColumns[e];
  }
  std::memset(m->xpx, 0, sizeof(double) * T);
  std::memset(m->sweepFlags, '0', static_cast<size_t>(m->xpxColumns));
  m->rank = 0;
  m->xpxColumns = grownColumns;
  return 0;
}

int32_t vsfInEstAdaptiveWeights(VsfModel* m) {
  // The INEST= reading hands over estimates for every group it does not end the run for;
  // a fit without them has no weight to form.
  if (m->inestEstimates == nullptr)
    return kPowNotANumber;
  int32_t q = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int32_t n = m->effectColumns[e];
    if (!vsfAdaptiveWeighted(m, e) || n <= 0) {
      q += n;
      continue;
    }
    for (int32_t i = 0; i < n; ++i, ++q) {
      double v = m->inestEstimates[q];
      // A missing estimate would lose its missing bits under the absolute value and pass
      // for a number: it is reported instead of weighting the column by garbage.
      if (isHostMissing(v) || std::isnan(v))
        return kPowNotANumber;
      const double scale = m->moments.columnSumSquares[q];
      if (!isHostMissing(scale) && scale != 0.0)
        v = v / scale;
      int32_t status;
      m->adaptive.adaptiveWeight[q] = vsfAdaptiveWeightOf(v, m->options->gamma, &status);
      if (status != 0)
        return status;
    }
  }
  return 0;
}
