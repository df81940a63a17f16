// The least-angle path: its walk from lambda max to the end or a stop rule, and its steps,
// each moving the active set along the equiangular direction to the next catch-up, zero
// crossing or L1 target, with the entries the rank rule refuses. Where the step's products
// and residual sums come from is in vsflarproducts.cpp, vsflarkept.cpp, vsflarresidual.cpp
// and vsflarahead.cpp. Screening (vsfscreen.cpp) decides which candidates a step looks at.
#include "selection/vsflarlasso.h"

#include "kernels/vsflarcallbacks.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "selection/vsfcvexroad.h"
#include "selection/vsflarinternal.h"
#include "selection/vsfscreen.h"
#include "selection/vsfstoprules.h"
#include "support/hoststubs.h"
#include "support/seams.h"
#include "support/testthread.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

using namespace larpath;

namespace larpath {

[[nodiscard]] VsfStatus pass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded) {
  return vsfDataPass(m, serial, threaded, 0);
}

[[nodiscard]] bool rolesPresent(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return o->validateInUse || o->testInUse;
}

} // namespace larpath

namespace {

using packed::at;
using packed::sym;

// The largest adaptive weight: the weighted columns have that norm at most, so the path's
// correlations are the response's units times it. 1 outside adaptive fits.
[[nodiscard]] double largestAdaptiveWeight(const VsfModel* m) {
  if (!m->options->adaptive || m->adaptive.adaptiveWeight == nullptr)
    return 1.0;
  double largest = 0.0;
  for (int32_t p = 0; p < m->parmCount; ++p)
    if (const double w = m->adaptive.adaptiveWeight[p]; !isHostMissing(w))
      largest = std::max(largest, std::fabs(w));
  return largest > 0.0 ? largest : 1.0;
}

// A tolerance of the path's correlations and step lengths, which are in the units of the
// response times the columns' norm (1, or the adaptive weight): t times that scale, the
// response's norm about its mean times the column norm, so that ties, catch-ups and the end
// are told from rounding alike in any units of the response. (Held at t for a scale above 1,
// two near copies whose correlations differ by 4e-11 of them were a tie with Y and not with
// Y x 4, and the two paths parted at the first step.)
[[nodiscard]] double pathTolerance(const VsfModel* m, double t) {
  if (m->totalSS <= 0.0)
    return t;
  return t * std::sqrt(m->totalSS) * largestAdaptiveWeight(m);
}

} // namespace

namespace {

// The step length at which the first eligible outside effect catches up with the active
// ones, and that effect (kBig and -1 when none does).
double firstCatchUp(const VsfModel* m, double cmax, double A, int32_t* catcher) {
  double best = kBig;
  *catcher = -1;
  const double tiny = pathTolerance(m, kTiny);
  for (int32_t j = m->includeCount; j < m->effectCount; ++j) {
    if (!vsfScreenEligible(m, j))
      continue;
    const double c = m->pathPass.corr[j], a = m->pathPass.dirCorr[j];
    double g1 = (A - a) == 0.0 ? kBig : (cmax - c) / (A - a);
    double g2 = (A + a) == 0.0 ? kBig : (cmax + c) / (A + a);
    if (g1 < tiny)
      g1 = kBig;
    if (g2 < tiny)
      g2 = kBig;
    const double g = g1 < g2 ? g1 : g2;
    if (g < best) {
      best = g;
      *catcher = j;
    }
  }
  return best;
}

} // namespace

double vsfLarActiveRate(const VsfModel* m, int32_t k, double A, double cmax) {
  const double c = m->pathPass.corr[k];
  return cmax > 0.0 && c != 0.0 ? A * c / cmax : c < 0 ? -A : A;
}

double vsfLarCatchUp(const VsfModel* m, double cmax, double A) {
  int32_t catcher;
  const double best = firstCatchUp(m, cmax, A, &catcher);
  return best == kBig ? cmax / A : best;
}

namespace {

// The most correlated outside effect (near-ties go to the lower index) and its absolute
// correlation; effects tied with it would make the direction undefined, so they leave the
// path. -1 when no effect is outside.
[[nodiscard]] int32_t mostCorrelated(VsfModel* m, int32_t first, double* cmaxOut) {
  const int32_t E = m->effectCount;
  double cmax = 0.0;
  int32_t candidate = -1;
  const double fuzz = pathTolerance(m, m->fuzz), tie = pathTolerance(m, 1e-8);
  for (int32_t j = first; j < E; ++j) {
    if (!vsfScreenEligible(m, j))
      continue;
    const double c = std::fabs(m->pathPass.corr[j]);
    if (c > cmax + fuzz) {
      candidate = j;
      cmax = c;
    }
  }
  for (int32_t j = first; j < E; ++j)
    if (j != candidate && vsfScreenEligible(m, j) &&
        std::fabs(std::fabs(m->pathPass.corr[j]) - cmax) < tie) {
      m->effectStatus[j] = VES_UNAVAILABLE;
      vsfScreenTied(m, j);
    }
  *cmaxOut = cmax;
  return candidate;
}

// The step length at which the first active coefficient reaches zero (kBig: none does).
double firstZeroCrossing(const VsfModel* m, int32_t first, int32_t* effect) {
  const int32_t* in = m->inModelList;
  double best = kBig;
  int32_t drop = -1;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = in[p];
    const double w = m->pathPass.direction[k];
    const double r = w == 0.0 ? kBig : -m->pathPass.pathBeta[k] / w;
    if (r > kTiny && r < best) {
      best = r;
      drop = k;
    }
  }
  *effect = drop;
  return best;
}

// LASSO: a coefficient that reaches zero before *gamma ends the step there and is dropped
// at the next step. *ratio and *effect receive the first zero crossing (-1: none).
void lassoZeroCrossing(const VsfModel* m, int32_t first, double* gamma, int32_t* pendingDrop,
                       double* ratio, int32_t* effect) {
  int32_t drop;
  const double best = firstZeroCrossing(m, first, &drop);
  *ratio = best;
  *effect = drop;
  if (best < *gamma) {
    *gamma = best;
    *pendingDrop = drop;
  }
}

// The new path value (lambda or the L1 norm), or the end at the STOP=L1 target, which
// shortens *gamma; true when the target is reached.
[[nodiscard]] bool newPathValue(VsfModel* m, double cmax, double A, double R, double* gamma) {
  const VsfModelOptions* o = m->options;
  const VsfL1Choice kind = o->stop == VsfCriterion::L1 ? o->stopL1Choice : VsfL1Choice::None;
  const double target = m->path.l1Target;
  const double next = cmax - A * *gamma;
  bool reached = false;
  switch (kind) {
  case VsfL1Choice::Ratio:
    if (target >= 0 && target * m->path.lambdaMax > next) {
      *gamma = (cmax - target * m->path.lambdaMax) / A;
      m->path.lambda = target * m->path.lambdaMax;
      reached = true;
    } else {
      m->path.lambda = next;
    }
    break;
  case VsfL1Choice::Norm:
    if (target >= 0 && R > 0 && target < *gamma * R + m->path.l1Norm) {
      *gamma = (target - m->path.l1Norm) / R;
      m->path.l1Norm = target;
      reached = true;
    } else {
      m->path.lambda = next;
    }
    break;
  case VsfL1Choice::Value:
    if (target >= 0 && next < target) {
      *gamma = (cmax - target) / A;
      m->path.lambda = target;
      reached = true;
    } else {
      m->path.lambda = next;
    }
    break;
  default:
    m->path.lambda = next;
    break;
  }
  if (m->path.lambda < 0)
    m->path.lambda = 0;
  return reached;
}

// Moves the active coefficients `gamma` along the direction (a dropped one to exactly 0)
// and updates their L1 and L2 norms.
// The L1 and L2 norms of the active set's path coefficients.
void setPathNorms(VsfModel* m, int32_t first) {
  const int32_t* in = m->inModelList;
  double l1 = 0.0, l2 = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const double b = m->pathPass.pathBeta[in[p]];
    l1 += std::fabs(b);
    l2 += b * b;
  }
  m->path.l1Norm = l1;
  m->path.l2Norm = std::sqrt(l2);
}

void moveCoefficients(VsfModel* m, int32_t first, double gamma, int32_t pendingDrop, bool reached) {
  const int32_t* in = m->inModelList;
  for (int32_t p = first; p < m->inModelCount; ++p)
    m->pathPass.pathBeta[in[p]] += gamma * m->pathPass.direction[in[p]];
  if (pendingDrop != -1 && !reached)
    m->pathPass.pathBeta[pendingDrop] = 0.0;
  setPathNorms(m, first);
}

// The estimates on the scale of the data (and standardized by the response's standard
// deviation sy), the intercept last.
void dataScaleEstimates(VsfModel* m, int32_t first, double sy) {
  const VsfModelOptions* o = m->options;
  const int32_t* in = m->inModelList;
  double S = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t k = in[p];
    double b;
    if (vsfMethodLsCoefficients(o->method)) {
      b = -m->sweptXpx[sym(m->effectColumn[k], 0)];
    } else {
      b = m->pathPass.pathBeta[k];
      if (vsfMethodRidge(o->method) && m->elnetPass.enSetting == 1 && m->elnetPass.l2 > 0)
        b *= 1.0 + (m->totals.nObs - 1) * m->elnetPass.l2;
    }
    if (o->adaptive)
      b *= m->adaptive.adaptiveWeight[k];
    const double css = m->moments.columnSumSquares[k];
    b *= css;
    S += m->moments.columnSums[k] * b;
    m->beta[k] = b;
    if (sy > 0 && !isHostMissing(css) && css > 0)
      m->stdBeta[k] = b / (css * sy);
  }
  m->beta[0] = m->sumWY - S;
}

[[nodiscard]] VsfStatus walkPath(VsfModel* m, const LarWalk& walk, double* stopValue,
                                 double* chooseValue);

} // namespace

namespace {

// Whether the sweep that entered effect k took every column of it: the rank rule refuses a
// column that is nearly a combination of the active ones.
[[nodiscard]] bool columnsTaken(const VsfModel* m, int32_t k) {
  if (m->structured != nullptr && k == m->structured->effect)
    return true;
  for (int32_t j = 0; j < m->effectColumns[k]; ++j)
    if (m->sweepFlags[m->effectColumn[k] + j] != '1')
      return false;
  return true;
}

// Takes back effect k, which the rank rule refused against the active set: it leaves the
// model and the path as an aliased effect does, so that no step's direction, correlations,
// coefficients or SSE use its column.
void refuseEntry(VsfModel* m, int32_t k) {
  vsfDropEffect(m, k, 2);
  m->effectStatus[k] = VES_UNAVAILABLE;
  vsfScreenTied(m, k);
}

// The step's length: where the first outside effect the rank rule takes catches up (the
// path's end, cmax / A, when none does). An effect it would refuse against the active set
// leaves the path here, so that the step runs on as if the column were absent, rather than
// ending where that column would have caught up; an effect that catches up only after an
// active coefficient reaches zero is judged when it does, against the smaller active set.
[[nodiscard]] VsfStatus catchUpPastRefused(VsfModel* m, int32_t first, double cmax, double A,
                                           double* gamma) {
  int32_t zero;
  const double dropRatio =
      vsfMethod(m->options->method).removes ? firstZeroCrossing(m, first, &zero) : kBig;
  for (;;) {
    int32_t j;
    *gamma = firstCatchUp(m, cmax, A, &j);
    if (j < 0) {
      *gamma = cmax / A;
      return VsfStatus::Ok;
    }
    bool refused = false;
    if (*gamma < dropRatio && seam::larRefusalAhead()) {
      // Its entry's cross products, kept where the road keeps them, form its row as they will.
      VsfStatus rc = keepCross(m, j);
      if (rc == VsfStatus::Ok)
        rc = vsfEntryRefused(m, j, &refused);
      if (rc != VsfStatus::Ok)
        return rc;
    }
    if (!refused)
      return VsfStatus::Ok;
    m->effectStatus[j] = VES_UNAVAILABLE;
    vsfScreenTied(m, j);
  }
}

// The common absolute correlation of the active effects with the residual.
[[nodiscard]] double activeCorrelation(const VsfModel* m, int32_t first) {
  double c = 0.0;
  for (int32_t p = first; p < m->inModelCount; ++p)
    c = std::max(c, std::fabs(m->pathPass.corr[m->inModelList[p]]));
  return c;
}

// At lambda 0 the path's coefficients are the least-squares fit of the active set, which the
// swept matrix holds in its column 0 (as minus the coefficients, in the pages' frame): the
// steps' updates along nearly dependent directions lose digits that this fit, refined on its
// residuals where the active set is nearly dependent, does not. Taken only where the matrix
// has exactly the active columns swept past the intercept and holds no ridge.
[[nodiscard]] VsfStatus endAtLeastSquares(VsfModel* m, int32_t first) {
  const VsfModelOptions* o = m->options;
  const VsfMethodTraits* t = vsfMethodTraits(o->method);
  if (t == nullptr || t->ridge || first != (o->noint ? 0 : 1))
    return VsfStatus::Ok;
  int32_t swept = 0;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (m->effectColumns[e] != 1 || m->sweepFlags[m->effectColumn[e]] != '1')
      return VsfStatus::Ok;
    ++swept;
  }
  for (int64_t c = 1 + first; c < m->xpxColumns; ++c)
    swept -= m->sweepFlags[c] == '1' ? 1 : 0;
  if (swept != 0)
    return VsfStatus::Ok;
  if (const VsfStatus rc = vsfRefineSwept(m); rc != VsfStatus::Ok)
    return rc;
  for (int32_t p = first; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    m->pathPass.pathBeta[e] = -m->sweptXpx[at(m->effectColumn[e], 0)];
  }
  setPathNorms(m, first);
  return VsfStatus::Ok;
}

// The residual's sums that a move formed (updateResidual). Taking an effect out or back in
// sets the swept matrix's least-squares SSE in their place, which is not the path's.
struct MoveSums {
  double sse, validateAse, testAse;
};

[[nodiscard]] MoveSums moveSums(const VsfModel* m) {
  return MoveSums{m->sse, m->validateAse, m->testAse};
}

// Ends a step that moved past a refused entry at that move: the effect `entered` (-1: none)
// whose stretch would end the path leaves again, so that the step enters nothing; an effect
// whose coefficient reached zero at the move stays out and is the step's change. The step's
// sums are those the move formed for the estimates it leaves (`sums`), not the swept
// matrix's after the effects left.
void keepTheMove(VsfModel* m, int32_t entered, int32_t* changedEffect, const MoveSums& sums) {
  if (entered >= 0) {
    vsfDropEffect(m, entered, 2);
    vsfScreenDropped(m, entered);
    *changedEffect = -1;
  }
  m->sse = sums.sse;
  m->validateAse = sums.validateAse;
  m->testAse = sums.testAse;
}

// What a stretch of a step did: ended the step, or refused its entrant, before moving
// (Refused) or after moving the active set on (Moved); the step goes on from there.
enum class Stretch { Done, Refused, Moved };

[[nodiscard]] VsfStatus stepStretch(VsfModel* m, const LarWalk& walk, int32_t* changedEffect,
                                    int32_t* pendingDrop, Stretch* how);

} // namespace

namespace larpath {

// A step: the most correlated candidate enters (or the pending drop leaves) and the active
// set moves along its equiangular direction, to where the next candidate the rank rule takes
// catches up (candidates it refuses leave the path as they catch up) or a coefficient reaches
// zero. A candidate refused only at its entry leaves the path too; the step then goes on from
// the same point with the active set alone, to where the next candidate catches up (which
// then enters) or a coefficient reaches zero.
VsfStatus LarLassoStep(VsfModel* m, const LarWalk& walk, int32_t* changedEffect,
                       int32_t* pendingDrop) {
  Stretch how = Stretch::Done;
  m->path.sseFall = 0.0;
  m->path.sseFallKnown = fallFromMove(m) ? 1 : 0;
  do {
    if (VsfStatus rc = stepStretch(m, walk, changedEffect, pendingDrop, &how); rc != VsfStatus::Ok)
      return rc;
  } while (how != Stretch::Done && m->stop.stopReason == VSR_NONE);
  // A step that went on past a refused entry and ended without another change (the path's
  // end or the L1 target) is the move itself: it enters nothing.
  if (*changedEffect >= 0 && m->effectStatus[*changedEffect] == VES_UNAVAILABLE)
    *changedEffect = -1;
  return VsfStatus::Ok;
}

} // namespace larpath

namespace {

[[nodiscard]] VsfStatus stepStretch(VsfModel* m, const LarWalk& walk, int32_t* changedEffect,
                                    int32_t* pendingDrop, Stretch* how) {
  LarScratch& scratch = *walk.scratch;
  const bool ahead = walk.mode == LarMode::Ahead;
  const VsfModelOptions* o = m->options;
  const int32_t first = m->includeCount;
  const int32_t all = vsfScreenFullCount(m);
  const bool full = vsfFullXpxOn(m);
  VsfStatus rc;
  const bool moved = *how == Stretch::Moved;
  *how = Stretch::Done;

  const double sy =
      m->totals.nObs - 1 > 0 ? std::sqrt(std::max(m->totalSS, 0.0) / (m->totals.nObs - 1)) : 0.0;

  const MoveSums sums = moveSums(m);
  if (*pendingDrop != -1) {
    vsfDropEffect(m, *pendingDrop, 1);
    vsfScreenDropped(m, *pendingDrop);
    *changedEffect = *pendingDrop;
  }
  double cmax;
  const int32_t candidate = mostCorrelated(m, first, &cmax);
  int32_t entered = -1;
  bool refused = false;
  if (*pendingDrop == -1) {
    if (candidate == -1) {
      // A move past a refused entry is a step of its own; the next one finds the end.
      if (!moved)
        m->stop.stopReason = m->inModelCount == all ? VSR_ALL_ENTERED : VSR_NO_CANDIDATE;
      return VsfStatus::Ok;
    }
    *changedEffect = entered = candidate;
    rc = keepCross(m, candidate);
    if (rc == VsfStatus::Ok)
      rc = vsfAddEffect(m, candidate, 0, 0);
    vsfScreenEntered(m, candidate);
    if (rc != VsfStatus::Ok)
      return rc;
    if (!columnsTaken(m, candidate)) {
      refuseEntry(m, candidate);
      entered = -1;
      refused = true;
      if (m->inModelCount <= first) {
        *how = Stretch::Refused; // nothing has moved: the next candidate starts the path
        return VsfStatus::Ok;
      }
      cmax = activeCorrelation(m, first);
    }
  }
  *pendingDrop = -1;
  if (m->inModelCount <= first) {
    m->stop.stopReason = VSR_ALL_ENTERED;
    return VsfStatus::Ok;
  }

  const Road road = full ? Road::Packed : crossKept(m, first) ? Road::Kept : Road::Pages;
  double R;
  const double A = equiangularDirection(m, scratch, first, cmax, &R);
  if ((rc = outsideProducts(m, scratch, first, A, cmax, road)) != VsfStatus::Ok)
    return rc;
  double gamma = cmax / A;
  if (m->inModelCount != all &&
      (rc = catchUpPastRefused(m, first, cmax, A, &gamma)) != VsfStatus::Ok)
    return rc;
  double dropRatio = kBig;
  int32_t dropEffect = -1;
  if (vsfMethod(o->method).removes) // LASSO-type paths may also drop an effect
    lassoZeroCrossing(m, first, &gamma, pendingDrop, &dropRatio, &dropEffect);
  if ((rc = vsfScreenStep(m, cmax, A, &gamma, pendingDrop, dropRatio, dropEffect)) != VsfStatus::Ok)
    return rc;
  const double lambdaBefore = m->path.lambda, l1Before = m->path.l1Norm;
  const bool reached = newPathValue(m, cmax, A, R, &gamma);
  // A step of cmax / A (nothing left to catch up, no drop) runs to the path's end, where
  // lambda is 0: cmax - A (cmax / A) would leave the rounding of the cross products instead.
  if (!reached && *pendingDrop == -1 && gamma == cmax / A)
    m->path.lambda = 0.0;

  // The path ends when the step no longer moves, or when lambda stops falling.
  if (!reached && *pendingDrop == -1) {
    const double shift = entered >= 0 ? std::fabs(gamma * m->pathPass.direction[entered]) : 0.0;
    uint8_t end = VSR_NONE;
    const double still = pathTolerance(m, 1e-8);
    if (shift <= still && A * gamma <= still)
      end = VSR_PATH_END;
    else if (m->history.stepCount >= 2 &&
             m->history.stepPathValue[m->history.stepCount - 1] * m->path.lambdaMax +
                     pathTolerance(m, m->fuzz) <=
                 m->path.lambda)
      end = VSR_PATH_END2;
    if (end != VSR_NONE && moved) {
      // The step has moved past a refused entry: it is that move, recorded with the estimates
      // it left, and the next step finds the end.
      m->path.lambda = lambdaBefore;
      m->path.l1Norm = l1Before;
      keepTheMove(m, entered, changedEffect, sums);
      return VsfStatus::Ok;
    }
    if (end != VSR_NONE) {
      m->stop.stopReason = end;
      return VsfStatus::Ok;
    }
  }

  if (m->path.sseFallKnown != 0)
    m->path.sseFall += moveFall(m, scratch, first, gamma, road);
  moveCoefficients(m, first, gamma, *pendingDrop, reached);
  // The look-ahead's copy has no rows to refine on: its end keeps the path's coefficients, and
  // the fit's own step then forms its sums afresh.
  if (m->path.lambda == 0.0 && *pendingDrop == -1 && !ahead &&
      (rc = endAtLeastSquares(m, first)) != VsfStatus::Ok)
    return rc;
  if ((rc = updateResidual(m, walk, first, gamma, A, road, *pendingDrop)) != VsfStatus::Ok)
    return rc;
  if (!ahead)
    dataScaleEstimates(m, first, sy);
  if (refused && !reached)
    *how = Stretch::Moved;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfLarLasso(VsfModel* m) {
  VsfModelOptions* o = m->options;
  const int32_t E = m->effectCount;
  VsfStatus rc;
  double stopValue, chooseValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, nullptr);
  m->path.sseFallKnown = 0;

  m->sse = m->validateAse = m->testAse = m->cvexPass.heldOutError = m->cvexPass.heldOutTestError =
      0.0;
  if (!vsfFullXpxOn(m)) {
    std::memset(m->pathPass.corr, 0, sizeof(double) * m->parmCount);
    if ((rc = pass(m, vsfLarCorr, vsfLarCorr_t)) != VsfStatus::Ok)
      return rc;
  } else {
    for (int32_t j = 0; j < E; ++j)
      m->pathPass.corr[j] = m->xpx[sym(m->effectColumn[j], 0)];
    // The held-out sums need a pass over the rows.
    if (!o->cvExternal)
      m->sse = m->sweptXpx[0];
    else if (m->cvexPass.cvexSums != nullptr)
      vsfCVExResidualSums(m);
    else if ((rc = pass(m, vsfLarRss, vsfLarRss_t)) != VsfStatus::Ok)
      return rc;
  }

  m->path.lambdaMax = 0.0;
  for (int32_t j = m->includeCount; j < E; ++j)
    if (m->effectStatus[j] == VES_CANDIDATE && std::fabs(m->pathPass.corr[j]) > m->path.lambdaMax)
      m->path.lambdaMax = std::fabs(m->pathPass.corr[j]);

  // A rule switched off for this fit (nothing correlated) is the user's again for the next.
  const VsfScreenMethod screen = o->screen;
  VsfLarAhead ahead;
  VsfLarSquare square;
  LarScratch scratch;
  if ((rc = vsfScreenStart(m)) == VsfStatus::Ok) {
    // The _testroadahead switch at 0 keeps the pass per step, for comparing the two.
    const bool sumsOn = fastRoadOn(FastRoad::LarLookAhead);
    m->pathPass.larAhead = lookAheadOpen(m) && sumsOn ? &ahead : nullptr;
    m->path.larCrossBytes = crossBudget(m);
    m->path.larMatrixSse = (matrixSseOpen(m) || m->path.larCrossBytes > 0) && sumsOn ? 1 : 0;
    m->path.larSquare = squareOpen(m, square) ? &square : nullptr;
    // A row of X'X formed ahead of its entry serves this path only.
    m->formedEntry = 0;
    rc = walkPath(m, LarWalk{LarMode::Fit, &scratch}, &stopValue, &chooseValue);
    m->formedEntry = 0;
    m->pathPass.larAhead = nullptr;
    m->path.larMatrixSse = 0;
    m->path.larSquare = nullptr;
    m->path.larCrossBytes = 0;
  }
  o->screen = screen;
  return rc;
}

namespace {

[[nodiscard]] VsfStatus walkPath(VsfModel* m, const LarWalk& walk, double* stopValue,
                                 double* chooseValue) {
  const VsfModelOptions* o = m->options;
  VsfStatus rc;
  m->path.lambda = m->path.lambdaMax;
  m->path.l1Norm = m->path.l2Norm = 0.0;
  if (!o->noint && m->history.stepCount > 0) {
    m->history.stepPathValue[0] = 1.0;
    m->history.stepL1Norm[0] = 0.0;
    m->history.stepL2Norm[0] = 0.0;
    // The intercept's step: a fold fit holds out the error of the mean, known only now; the
    // final fit recorded the averaged curve's start with the step.
    if (o->cvExternal) {
      m->history.stepHeldOutTestError[0] = 0.0;
      if (m->cvexPass.heldOutFold != m->cv.foldCount)
        m->history.stepHeldOutError[0] = m->cvexPass.heldOutError;
    }
  }

  int32_t pendingDrop = -1;
  int32_t t = o->noint ? 0 : 1;
  const int32_t target =
      o->screen == VsfScreenMethod::Sis ? m->screen.screenKeep + m->includeCount : m->effectCount;
  const int32_t parms = m->parmCount;
  while (vsfKeepGoing(m, t)) {
    if (o->stop != VsfCriterion::NoneGiven) {
      std::memcpy(m->path.savedBeta, m->beta, sizeof(double) * parms);
      std::memcpy(m->path.savedStdBeta, m->stdBeta, sizeof(double) * parms);
    }
    int32_t changed = -1;
    const bool dropping = pendingDrop != -1;
    if ((rc = LarLassoStep(m, walk, &changed, &pendingDrop)) != VsfStatus::Ok)
      return rc;
    // A step takes an effect out or enters one; past a refused entry it may only move, or
    // take out an effect that reached zero on the way.
    const bool dropped = dropping || (changed >= 0 && m->effectStatus[changed] == VES_CANDIDATE);
    const int32_t d = dropped ? -1 : 1;
    // A refused entry at the path's end leaves nothing to record.
    if ((m->stop.stopReason != VSR_NONE && m->stop.stopReason != VSR_PATH_END &&
         m->stop.stopReason != VSR_PATH_END2) ||
        (changed == -1 && m->stop.stopReason != VSR_NONE))
      return VsfStatus::Ok;
    int32_t result = 0;
    if ((rc = vsfStopSelection(0.0, m, t, changed, d, stopValue, &result)) != VsfStatus::Ok)
      return rc;
    if (m->stop.stopReason == VSR_NO_IMPROVEMENT) {
      std::memcpy(m->beta, m->path.savedBeta, sizeof(double) * parms);
      std::memcpy(m->stdBeta, m->path.savedStdBeta, sizeof(double) * parms);
    }
    if (result == -1)
      return VsfStatus::Ok;
    if (o->pressNeeded && (rc = vsfComputePress(m)) != VsfStatus::Ok)
      return rc;
    vsfChoose(*stopValue, *stopValue, m, chooseValue, d);
    if ((rc = vsfRecordStep(m, changed)) != VsfStatus::Ok)
      return rc;
    if (m->inModelCount == target && pendingDrop == -1) {
      m->stop.stopReason = VSR_ALL_ENTERED;
      return VsfStatus::Ok;
    }
    ++t;
  }
  return VsfStatus::Ok;
}

} // namespace
