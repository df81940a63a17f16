// Criteria by code: formula criteria from the fit values, data-based criteria from their
// cached value or one data pass when the cache is missing. Estimates are read off the
// swept matrix (minus its column 0 for swept columns; 0 for aliased ones).
#include "model/vsfcriteria.h"
#include "support/notfound.h"

#include "data/vsfthread.h"
#include "kernels/vsfcvkernels.h"
#include "kernels/vsfresid.h"
#include "model/vsffoldpress.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfpressfactor.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "support/hostif.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <vector>

namespace {

// `fall`: prevSse - sse where the path formed it, else NaN. An error SS that is rounding
// noise of the sums the fit holds counts as 0, as the step's record takes it
// (vsfRoundingZero against the model's rounding bound, which a trial refined on the rows
// keeps as its own while it stands): a candidate that fits perfectly shows the criterion
// its entry prints, not one formed from the noise.
double criterion(VsfModel* m, VsfCriterion code, double prevSse, double sse, int32_t prevRank,
                 int32_t rank, int32_t prevEffects, int32_t effects, double fall) {
  const double n = m->totals.nObs;
  if (vsfRoundingZero(m, sse))
    sse = 0.0;
  if (vsfRoundingZero(m, prevSse))
    prevSse = 0.0;
  switch (code) {
  case VsfCriterion::Sl: {
    double F;
    return vsfLogPval(prevRank, rank, prevEffects, effects, &F, prevSse, sse, n, m->fuzz, fall);
  }
  case VsfCriterion::Aic:
    return vsfAic(rank, sse, n);
  case VsfCriterion::Aicc:
    return vsfAicc(rank, sse, n);
  case VsfCriterion::Sbc:
    return vsfSbc(rank, sse, n);
  case VsfCriterion::RSquare:
    return vsfRsquare(sse, m->totalSS);
  case VsfCriterion::AdjRsq:
    return vsfAdjrsq(rank, m->options->noint, sse, m->totalSS, n);
  case VsfCriterion::Cp:
    return vsfCp(rank, sse, n, m->fullMse);
  case VsfCriterion::Bic:
    return vsfBic(rank, sse, n, m->fullMse);
  // A failed pass is reported by vsfDataPass and leaves the statistic missing, which the
  // criterion then is.
  case VsfCriterion::Press:
    (void)vsfComputePress(m);
    return m->press;
  case VsfCriterion::Validate:
    (void)vsfComputeResids(m);
    return m->validateAse;
  case VsfCriterion::Cv:
    (void)vsfComputeCVResids(m);
    return m->cvPress;
  case VsfCriterion::Cvex:
    vsfComputeCVEXPRESS(m);
    return m->cvexPass.heldOutError;
  case VsfCriterion::L1:
    return m->path.l1Target;
  case VsfCriterion::NoneGiven:
  case VsfCriterion::None:
    return prevSse;
  }
  return prevSse;
}

// Effects that contribute parameters: neither a candidate nor unavailable.
[[nodiscard]] bool contributes(const VsfModel* m, int32_t e) {
  return m->effectStatus[e] != VES_CANDIDATE && m->effectStatus[e] != VES_UNAVAILABLE &&
         m->effectColumns[e] > 0;
}
// The structured road's many-level effect, whose estimates come from its own state.
[[nodiscard]] bool structuredEffect(const VsfModel* m, int32_t e) {
  return m->structured != nullptr && e == m->structured->effect;
}

// The intercept's column when the pages are shifted and the intercept is swept in (by the
// sweep flags given), else kVsfNotFound.
[[nodiscard]] int64_t shiftedInterceptColumn(const VsfModel* m, const char* flags) {
  if (!m->shift.pagesShifted || m->effectColumns[0] != 1 || !contributes(m, 0))
    return kVsfNotFound;
  const int64_t c = m->effectColumn[0];
  return flags[c] == '1' ? c : kVsfNotFound;
}
[[nodiscard]] int64_t shiftedInterceptColumn(const VsfModel* m) {
  return shiftedInterceptColumn(m, m->sweepFlags);
}

// The intercept's variance on the data's scale is a'Va with a = (1, -shift of every other
// swept column) and V the swept block of the shifted cross products.
void interceptVarianceToData(VsfModel* m) {
  const int64_t c0 = shiftedInterceptColumn(m);
  if (c0 < 0)
    return;
  std::vector<int64_t> cols{c0};
  std::vector<double> a{1.0};
  for (int32_t e = 1; e < m->effectCount; ++e) {
    // The structured road's many-level effect is sparse: its columns have no shift.
    if (!contributes(m, e) || structuredEffect(m, e))
      continue;
    for (int32_t i = 0; i < m->effectColumns[e]; ++i) {
      const int64_t c = m->effectColumn[e] + i;
      const double s = m->shift.xpxShift[1 + m->parmOffset[e] + i];
      if (m->sweepFlags[c] == '1' && s != 0.0) {
        cols.push_back(c);
        a.push_back(-s);
      }
    }
  }
  using packed::sym;
  double v = 0.0;
  for (size_t i = 0; i < cols.size(); ++i) {
    double inner = 0.0;
    for (size_t j = 0; j < i; ++j)
      inner += m->sweptXpx[sym(cols[i], cols[j])] * a[j];
    v += a[i] * (2.0 * inner + m->sweptXpx[sym(cols[i], cols[i])] * a[i]);
  }
  m->betaVariance[0] = v;
}

} // namespace

// On shifted pages the intercept estimates the response's mean less the fit at the columns'
// means; on the data's scale it is b0 + shift(y) - sum over the others of b * shift(x).
void vsfInterceptToData(const VsfModel* m, double* beta, const char* flags) {
  if (shiftedInterceptColumn(m, flags) < 0)
    return;
  double b0 = beta[0] + m->shift.xpxShift[0];
  for (int32_t q = 1; q < m->parmCount; ++q)
    b0 -= beta[q] * m->shift.xpxShift[1 + q];
  beta[0] = b0;
}

double vsfGetCriterion(VsfModel* m, VsfCriterion code) {
  const int32_t s = m->history.stepCount;
  const double prevSse = s > 0 ? m->history.stepSSE[s - 1] : m->totalSS;
  const int32_t prevRank = m->history.stepRank[s - 1];
  const int32_t prevEffects = m->history.stepEffects[s - 1];
  return criterion(m, code, prevSse, m->sse, prevRank, m->rank, prevEffects, m->inModelCount,
                   m->path.sseFallKnown != 0 ? m->path.sseFall : hostMissing());
}

double vsfComputeCriterion(double prevSse, double sse, VsfModel* m, VsfCriterion code,
                           int32_t prevRank, int32_t rank, int32_t prevEffects, int32_t effects) {
  return criterion(m, code, prevSse, sse, prevRank, rank, prevEffects, effects, hostMissing());
}

VsfStatus vsfComputeResids(VsfModel* m) {
  if (!isHostMissing(m->validateAse) || !isHostMissing(m->testAse))
    return VsfStatus::Ok;
  m->validateAse = 0.0;
  m->testAse = 0.0;
  vsfStructuredSetEstimates(m);
  const VsfStatus rc = vsfDataPass(m, vsfResids, vsfResids_t, 0);
  if (rc != VsfStatus::Ok) {
    m->validateAse = m->testAse = hostMissing(); // never a partial sum
    return rc;
  }
  m->validateAse =
      m->totals.wValidate == 0.0 ? hostMissing() : m->validateAse / m->totals.wValidate;
  m->testAse = m->totals.wTest == 0.0 ? hostMissing() : m->testAse / m->totals.wTest;
  return rc;
}

VsfStatus vsfComputeCVResids(VsfModel* m) {
  if (!vsfCvOn(m) || m->cv.folds == nullptr || !isHostMissing(m->cvPress))
    return VsfStatus::Ok;
  // Each fold's error and held-out leverage from the sums in one loop; a fold whose sums cannot
  // hold its error is refitted from its rows, and the held-out errors then come from the rows:
  // the sums' quadratic form would take back the digits the refit restored.
  std::vector<double> inflation, errors, leverage;
  vsfFoldInflations(m, inflation);
  const bool stand = vsfFoldSums(m, inflation, errors, leverage);
  int32_t refined = 0;
  if (const VsfStatus rc = vsfRefineFolds(m, inflation, leverage, &refined); rc != VsfStatus::Ok)
    return rc;
  if (refined > 0 || !stand) {
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      m->cv.folds[f].cvSse = 0.0;
    vsfStructuredSetEstimates(m);
    vsfSetFoldResidualShifts(m);
    const VsfStatus rc = vsfDataPass(m, vsfCVResids, vsfCVResids_t, 0);
    if (rc != VsfStatus::Ok)
      return rc; // cvPress stays missing: never a partial sum
  } else {
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      m->cv.folds[f].cvSse = errors[static_cast<size_t>(f)];
  }
  double sum = 0.0;
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    sum += m->cv.folds[f].cvSse;
  m->cvPress = sum;
  return VsfStatus::Ok;
}

void vsfComputeCVEXPRESS(VsfModel* m) {
  if (!vsfCvExternalOn(m)) {
    m->cvexPass.heldOutError = hostMissing();
    return;
  }
  // The fold fits set it from the kernels.
  if (m->cvexPass.heldOutFold != m->cv.foldCount || m->cvex.cvexGridCount <= 0)
    return;
  const VsfModelOptions* o = m->options;
  const double *g = m->cvexPass.cvexGrid, *c = m->cvexPass.cvexCurve;
  if (vsfGroupMethod(o->method)) {
    // The group path's steps walk the folds' penalty ratios: the curve's entry of the step
    // (a step past every fold's last takes the curve's last entry).
    m->cvexPass.heldOutError = c[std::min(m->history.stepCount, m->cvex.cvexGridCount - 1)];
    return;
  }
  // The steps of the effects in before selection sit at the path's start.
  if (m->history.stepCount < m->includeCount) {
    m->cvexPass.heldOutError = c[0];
    return;
  }
  // The final fit: the averaged curve interpolated linearly at the step's path position.
  const double x = o->l1Choice == VsfL1Choice::Norm    ? m->path.l1Norm
                   : o->l1Choice == VsfL1Choice::Value ? m->path.lambda
                   : m->path.lambdaMax > 0             ? m->path.lambda / m->path.lambdaMax
                                                       : 1.0;
  const int32_t L = m->cvex.cvexGridCount - 1;
  int32_t lo = 0, hi = L;
  if (o->l1Choice == VsfL1Choice::Norm) {
    if (g[L] <= x) {
      m->cvexPass.heldOutError = c[L];
      return;
    }
    if (x <= g[0]) {
      m->cvexPass.heldOutError = c[0];
      return;
    }
    while (hi - lo > 1) {
      const int32_t mid = (lo + hi) / 2;
      (g[mid] <= x ? lo : hi) = mid;
    }
  } else {
    if (x <= g[L]) {
      m->cvexPass.heldOutError = c[L];
      return;
    }
    if (x >= g[0]) {
      m->cvexPass.heldOutError = c[0];
      return;
    }
    while (hi - lo > 1) {
      const int32_t mid = (lo + hi) / 2;
      (g[mid] < x ? hi : lo) = mid;
    }
  }
  m->cvexPass.heldOutError = c[hi] + (x - g[hi]) * (c[lo] - c[hi]) / (g[lo] - g[hi]);
}

void vsfStdBeta(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  const double sy =
      m->totals.nObs - 1 > 0 ? std::sqrt(std::max(m->totalSS, 0.0) / (m->totals.nObs - 1)) : 0.0;
  if (o->stdL1History && m->history.stepStdL1Norm != nullptr) {
    double L = 0.0;
    for (int32_t e = 0; e < m->effectCount; ++e)
      if (m->effectStatus[e] != VES_CANDIDATE && m->effectStatus[e] != VES_UNAVAILABLE)
        for (int32_t j = 0; j < m->effectColumns[e]; ++j)
          L += std::fabs(m->stdBeta[m->parmOffset[e] + j]);
    m->history.stepStdL1Norm[m->history.stepCount] = sy > 0 ? L / sy : hostMissing();
  }
  if (o->colStandardize)
    return;
  std::fill(m->beta, m->beta + m->parmCount, 0.0);
  std::fill(m->stdBeta, m->stdBeta + m->parmCount, 0.0);
  int32_t q = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int32_t n = m->effectColumns[e];
    if (!contributes(m, e) || structuredEffect(m, e)) {
      q += n;
      continue;
    }
    for (int32_t i = 0; i < n; ++i, ++q) {
      const int64_t c = m->effectColumn[e] + i;
      m->beta[q] = m->sweepFlags[c] == '1' ? -m->sweptXpx[packed::at(c, 0)] : 0.0;
      const double sx =
          m->moments.columnSumSquares != nullptr ? m->moments.columnSumSquares[q] : hostMissing();
      if (sy > 0 && !isHostMissing(sx) && sx > 0)
        m->stdBeta[q] = m->beta[q] / (sx * sy);
    }
  }
  vsfStructuredBeta(m, sy);
  vsfInterceptToData(m, m->beta, m->sweepFlags);
}

VsfStatus vsfDiagXpXi(VsfModel* m) {
  std::fill(m->betaVariance, m->betaVariance + m->parmCount, 0.0);
  int32_t q = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int32_t n = m->effectColumns[e];
    if (!contributes(m, e) || structuredEffect(m, e)) {
      q += n;
      continue;
    }
    for (int32_t i = 0; i < n; ++i, ++q) {
      const int64_t c = m->effectColumn[e] + i;
      m->betaVariance[q] = m->sweepFlags[c] == '1' ? m->sweptXpx[packed::diag(c)] : -1.0;
    }
  }
  vsfStructuredVariance(m);
  interceptVarianceToData(m);
  return vsfFactorVariances(m);
}

double vsfStepCriterion(const VsfModel* m, VsfCriterion code, int32_t i) {
  const VsfModelOptions& o = *m->options;
  assert(i >= 0 && i < m->history.stepCount && "a recorded step");
  const double sse = m->history.stepSSE[i], n = m->totals.nObs;
  const int32_t p = m->history.stepRank[i];
  switch (code) {
  case VsfCriterion::Aic:
    return vsfAic(p, sse, n);
  case VsfCriterion::Aicc:
    return vsfAicc(p, sse, n);
  case VsfCriterion::Sbc:
    return vsfSbc(p, sse, n);
  case VsfCriterion::RSquare:
    return vsfRsquare(sse, m->totalSS);
  case VsfCriterion::AdjRsq:
    return vsfAdjrsq(p, o.noint, sse, m->totalSS, n);
  case VsfCriterion::Cp:
    return o.fullModelFirst ? vsfCp(p, sse, n, m->fullMse) : hostMissing();
  case VsfCriterion::Bic:
    return o.fullModelFirst ? vsfBic(p, sse, n, m->fullMse) : hostMissing();
  case VsfCriterion::Press:
    return o.pressNeeded && m->history.stepPress != nullptr ? m->history.stepPress[i]
                                                            : hostMissing();
  case VsfCriterion::Validate:
    return o.validateInUse && m->history.stepValidateAse != nullptr ? m->history.stepValidateAse[i]
                                                                    : hostMissing();
  case VsfCriterion::Cv:
    return o.cvOn && m->history.stepCvPress != nullptr ? m->history.stepCvPress[i] : hostMissing();
  case VsfCriterion::Cvex:
    return o.cvExternal && m->history.stepHeldOutError != nullptr ? m->history.stepHeldOutError[i]
                                                                  : hostMissing();
  case VsfCriterion::NoneGiven:
  case VsfCriterion::Sl:
  case VsfCriterion::None:
  case VsfCriterion::L1:
    return hostMissing();
  }
  return hostMissing();
}
