// Stop, choose and continuation rules. Comparisons use the relative FUZZ tolerance for the
// stop and choose tests and the absolute margin for the stepwise entry/removal test; a
// missing criterion value never counts as better.
#include "selection/vsfstoprules.h"

#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfsweep.h"
#include "support/hostif.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <cfloat>
#include <cmath>

namespace {

double startValue(VsfModel* m, VsfCriterion c) {
  const int32_t s = m->history.stepCount;
  const double sse = m->history.stepSSE[s - 1];
  const int32_t p = m->history.stepRank[s - 1];
  const double n = m->totals.nObs;
  const bool first = s == 0;
  switch (c) {
  case VsfCriterion::Aic:
    return first ? DBL_MAX : vsfAic(p, sse, n);
  case VsfCriterion::Aicc:
    return first ? DBL_MAX : vsfAicc(p, sse, n);
  case VsfCriterion::Sbc:
    return first ? DBL_MAX : vsfSbc(p, sse, n);
  case VsfCriterion::RSquare:
    return first ? -DBL_MAX : vsfRsquare(sse, m->totalSS);
  case VsfCriterion::AdjRsq:
    return first ? -DBL_MAX : vsfAdjrsq(p, m->options->noint, sse, m->totalSS, n);
  case VsfCriterion::Cp:
    return first ? DBL_MAX : vsfCp(p, sse, n, m->fullMse);
  case VsfCriterion::Bic:
    return first ? DBL_MAX : vsfBic(p, sse, n, m->fullMse);
  case VsfCriterion::Press:
    return first ? DBL_MAX : m->press;
  case VsfCriterion::Validate:
    return first ? DBL_MAX : m->validateAse;
  case VsfCriterion::Cv:
    return first ? DBL_MAX : m->cvPress;
  case VsfCriterion::Cvex:
    return first ? DBL_MAX : m->cvexPass.heldOutError;
  case VsfCriterion::NoneGiven:
  case VsfCriterion::Sl:
  case VsfCriterion::None:
  case VsfCriterion::L1:
    return hostMissing();
  }
  return hostMissing();
}

} // namespace

void vsfInitCriteria(VsfModel* m, double* stopValue, double* chooseValue, double* selectValue) {
  const VsfModelOptions* o = m->options;
  *stopValue = startValue(m, o->stop);
  if (o->choose == VsfCriterion::NoneGiven)
    *chooseValue = hostMissing();
  else if (o->choose == o->stop)
    *chooseValue = *stopValue;
  else
    *chooseValue = startValue(m, o->choose);
  // External cross validation: the final fit starts from the curve's first point, a fold
  // fit from its own held-out error.
  if (vsfCvExternalOn(m))
    *chooseValue = m->cvexPass.heldOutFold != m->cv.foldCount ? m->cvexPass.heldOutError
                   : m->cvexPass.cvexCurve != nullptr         ? m->cvexPass.cvexCurve[0]
                                                              : hostMissing();
  if (selectValue != nullptr) {
    if (o->select == VsfCriterion::Sl)
      *selectValue = hostMissing();
    else if (o->select == o->stop)
      *selectValue = *stopValue;
    else if (o->select == o->choose)
      *selectValue = *chooseValue;
    else
      *selectValue = startValue(m, o->select);
    if (o->stop == VsfCriterion::NoneGiven)
      *stopValue = *selectValue;
  }
}

int32_t vsfKeepGoing(VsfModel* m, int32_t s) {
  const VsfModelOptions* o = m->options;
  const int32_t forced = m->includeCount - m->aliasDrops.aliasIncludeDropCount;
  const int32_t all = m->effectCount - (o->noint ? 1 : 0);
  int32_t result = 1;
  int64_t stepsLimit = 0, limit = 0;
  bool decided = false;
  if (vsfMethodStartsFull(o->method)) {
    if (m->inModelCount == 1 && o->noint) {
      m->stop.stopReason = VSR_DOWN_TO_INTERCEPT;
      result = 0;
      decided = true;
    } else {
      stepsLimit = static_cast<int64_t>(o->steps) + 1;
      limit = static_cast<int64_t>(m->stop.stepLimit) + 1;
    }
  } else {
    if (!o->parmStandardize && vsfPerfectFit(m)) {
      m->stop.stopReason = VSR_PERFECT_FIT;
      result = 0;
      decided = true;
    } else {
      stepsLimit = static_cast<int64_t>(o->steps) + forced;
      limit = static_cast<int64_t>(m->stop.stepLimit) + forced;
    }
  }
  if (!decided) {
    if (o->steps != 0 && s >= stepsLimit) {
      m->stop.stopReason = VSR_STEPS;
      result = 0;
    } else if (s >= limit) {
      m->stop.stopReason =
          (!o->parmStandardize && m->inModelCount == all) ? VSR_ALL_ENTERED : VSR_STEP_LIMIT;
      result = 0;
    } else if (o->stopCount != 0 && o->stopCount == m->inModelCount) {
      m->stop.stopReason = VSR_STOP_COUNT;
      result = 0;
    } else if (m->inModelCount == all && vsfMethod(o->method).stopsWhenAllIn) {
      m->stop.stopReason = VSR_ALL_ENTERED;
      result = 0;
    } else if (m->inModelCount == forced && vsfMethodStartsFull(o->method)) {
      m->stop.stopReason = VSR_DOWN_TO_FORCED;
      result = 0;
    }
  }
  if (o->stop == VsfCriterion::L1 && o->stopL1Choice != VsfL1Choice::None &&
      m->path.l1Target >= 0) {
    double q = 0, t = 0;
    switch (o->stopL1Choice) {
    case VsfL1Choice::Ratio:
      q = m->path.lambda;
      t = m->path.l1Target * m->path.lambdaMax;
      break;
    case VsfL1Choice::Norm:
      q = m->path.l1Norm;
      t = m->path.l1Target;
      break;
    default:
      q = m->path.lambda;
      t = m->path.l1Target;
      break;
    }
    if (std::fabs(q / 1000.0 - t / 1000.0) <= std::fabs(q / 1000.0) * m->fuzz) {
      m->stop.stopReason = VSR_L1_TARGET;
      result = 0;
    }
  }
  return result;
}

VsfStatus vsfStopSelection(double v, VsfModel* m, int32_t, int32_t k, int32_t d, double* stopValue,
                           int32_t* result, const char* taken) {
  const VsfModelOptions* o = m->options;
  const bool pathEnd = m->stop.stopReason == VSR_PATH_END || m->stop.stopReason == VSR_PATH_END2;
  if (!o->stopTest && !pathEnd) {
    *result = 0;
    return VsfStatus::Ok;
  }
  const VsfCriterion crit = o->stop != VsfCriterion::NoneGiven ? o->stop : o->select;
  if (crit != o->select)
    v = vsfGetCriterion(m, crit);
  *result = -1;
  bool stands = false;
  if (d != 1 && m->sse <= 0) {
    stands = true;
  } else if (!isHostMissing(v)) {
    const double old = *stopValue;
    const double D = std::fabs(v / 1000.0 - old / 1000.0);
    const double T = std::fabs(v / 1000.0) * m->fuzz;
    switch (crit) {
    case VsfCriterion::Sl:
      stands = d == 1 ? v < std::log(o->slEntry) : v > std::log(o->slStay);
      if (!stands)
        *stopValue = v;
      break;
    case VsfCriterion::Aic:
    case VsfCriterion::Aicc:
    case VsfCriterion::Sbc:
    case VsfCriterion::Cp:
    case VsfCriterion::Bic:
    case VsfCriterion::Press:
    case VsfCriterion::Validate:
    case VsfCriterion::Cv:
      stands = isHostMissing(old) || (d == 1 ? (D > T && v < old) : (D <= T || v <= old));
      if (stands)
        *stopValue = v;
      break;
    case VsfCriterion::RSquare:
    case VsfCriterion::AdjRsq:
      if (isHostMissing(old)) {
        *stopValue = v;
        stands = false;
      } else {
        stands = d == 1 ? (D > T && v > old) : (D <= T || v >= old);
        if (stands)
          *stopValue = v;
      }
      break;
    // No value of its own to compare here: the step stands.
    case VsfCriterion::NoneGiven:
    case VsfCriterion::None:
    case VsfCriterion::Cvex:
    case VsfCriterion::L1:
      stands = true;
      break;
    }
  }
  if (stands) {
    *result = 0;
    if (!pathEnd || vsfMethodRoad(o->method, VsfFitRoad::GroupLasso))
      return VsfStatus::Ok;
    *result = -1;
  } else {
    m->stop.stopReason = VSR_NO_IMPROVEMENT;
    if (vsfMethodRoad(o->method, VsfFitRoad::GroupLasso)) {
      m->stop.stopAddValue = v;
      m->sse = m->history.stepSSE[m->history.stepCount - 1];
      if (m->history.stepValidateAse)
        m->validateAse = m->history.stepValidateAse[m->history.stepCount - 1];
      if (m->history.stepTestAse)
        m->testAse = m->history.stepTestAse[m->history.stepCount - 1];
      return VsfStatus::Ok;
    }
  }
  // Undo the step (a path step that only moved, k = -1, changed no effect).
  if (d == 1) {
    m->stop.stopAddEffect = k;
    m->stop.stopAddValue = v;
    if (k >= 0)
      vsfDropEffect(m, k, 2);
  } else {
    m->stop.stopDropEffect = k;
    m->stop.stopDropValue = v;
    const int32_t last = m->history.stepCount - 1;
    const VsfStatus rc = vsfReenterEffect(m, k, m->history.stepRank[last],
                                          o->fullSweep == VsfFullSweep::Always ? 1 : 0, taken);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  // The model is the last recorded step's again; a nearly dependent one is refined again, as
  // it was when recorded, so that its estimates are the step's. Its error SS is the step's
  // record: the undo's sums give it again only to their rounding, and the selected model
  // prints the step's numbers.
  if (const VsfStatus rc = vsfRefineStep(m); rc != VsfStatus::Ok)
    return rc;
  const int32_t last = m->history.stepCount - 1;
  m->sse = m->history.stepSSE[last];
  if (m->history.stepPress)
    m->press = m->history.stepPress[last];
  if (m->history.stepValidateAse)
    m->validateAse = m->history.stepValidateAse[last];
  if (m->history.stepTestAse)
    m->testAse = m->history.stepTestAse[last];
  if (m->history.stepCvPress) {
    if (o->cvDetails == VsfCvDetails::None)
      m->cvPress = m->history.stepCvPress[last];
    else if (VsfStatus rc = vsfComputeCVResids(m); rc != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}

void vsfChoose(double selectValue, double stopValue, VsfModel* m, double* chooseValue,
               int32_t direction) {
  const VsfModelOptions* o = m->options;
  if (o->choose == VsfCriterion::NoneGiven)
    return;
  double v;
  if (o->choose == o->select)
    v = selectValue;
  else if (o->choose == o->stop)
    v = stopValue;
  else
    v = vsfGetCriterion(m, o->choose);
  if (vsfIsFUZZBetter(o->choose, direction, v, *chooseValue, m->fuzz) || m->sse <= 0) {
    *chooseValue = v;
    m->chosen.chosenStep = m->history.stepCount;
  }
}

int32_t vsfCriterionImproves(VsfCriterion criterion, int32_t isEntry, double* best, double value,
                             double level) {
  if (criterion == VsfCriterion::Sl)
    return isEntry ? value < level : value > level;
  if (vsfIsEpsBetter(criterion, value, *best)) {
    *best = value;
    return 1;
  }
  return 0;
}
