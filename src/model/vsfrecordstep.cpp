// Recording a fit's step: the step's history entries (its sums of squares judged once against
// rounding), the folds' estimates, the chosen step's snapshot under CHOOSE= and its restore,
// the group methods' change list, the progress display, and the step's record on the scratch
// file. Declared in model/vsfmodel.h.
#include "model/vsfmodel.h"

#include "data/vsfscratchfile.h"
#include "model/vsfcriteria.h"
#include "model/vsffoldpress.h"
#include "model/vsfmodelinternal.h"
#include "model/vsfrefine.h"
#include "model/vsfserialize.h"
#include "model/vsfshift.h"
#include "model/vsfsolverest.h"
#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"
#include "numerics/packedtri.h"
#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/qknr.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

using namespace modelstate;

namespace {

// The host's progress display of a long selection: the step just recorded.
void showStepProgress(int32_t step, int32_t effectsIn) {
  char text[80];
  const int n =
      std::snprintf(text, sizeof text, "selection step %d, %d effect%s in the model",
                    static_cast<int>(step), static_cast<int>(effectsIn), effectsIn == 1 ? "" : "s");
  if (n > 0)
    xprogress(text, std::min(n, static_cast<int>(sizeof text) - 1));
}

// A fold's estimates on the data's scale. The penalized paths fit centred and scaled columns
// (adaptively weighted when asked): each slope goes back by its column's weight and scale, and
// the intercept adds the response's mean less the slopes at the columns' means. The other
// methods fit shifted columns.
void foldBetaToData(const VsfModel* m, double* beta, const char* flags) {
  const VsfModelOptions* o = m->options;
  if (!o->colStandardize) {
    vsfInterceptToData(m, beta, flags);
    return;
  }
  double S = 0.0;
  for (int32_t e = 1; e < m->effectCount; ++e)
    for (int32_t j = 0; j < m->effectColumns[e]; ++j) {
      const int32_t q = m->parmOffset[e] + j;
      if (beta[q] == 0.0)
        continue;
      if (o->adaptive && m->adaptive.adaptiveWeight != nullptr)
        beta[q] *= m->adaptive.adaptiveWeight[q];
      beta[q] *= m->moments.columnSumSquares[q];
      S += beta[q] * m->moments.columnSums[q];
    }
  if (!o->noint)
    beta[0] += m->sumWY - S;
}

// Each fold's least-squares estimates of the effects in the model, read from its swept
// matrix (the structured road's many-level effect from its record's own state); an effect
// column the fold's sweep left out (aliased) gets 0.
void setFoldEstimates(VsfModel* m) {
  const int32_t nP = m->parmCount;
  vsfStructuredSetEstimates(m);
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    VsfFoldRecord& F = m->cv.folds[f];
    if (F.beta == nullptr)
      continue;
    std::fill(F.beta, F.beta + nP, 0.0);
    vsfStructuredFoldEstimates(m, f, F.beta);
    for (int32_t e = 0; e < m->effectCount; ++e) {
      if (m->effectStatus[e] == VES_CANDIDATE || m->effectStatus[e] == VES_UNAVAILABLE ||
          (m->structured != nullptr && e == m->structured->effect))
        continue;
      for (int32_t j = 0; j < m->effectColumns[e]; ++j) {
        const int64_t k = m->effectColumn[e] + j;
        F.beta[m->parmOffset[e] + j] = F.sweepFlags[k] == '1' ? -F.sweptXpx[packed::at(k, 0)] : 0.0;
      }
    }
    // A record held about its own means gives its intercept about them.
    if (m->effectStatus[0] == VES_INTERCEPT)
      F.beta[0] += vsfFoldResponseShift(m, f);
    foldBetaToData(m, F.beta, F.sweepFlags);
  }
}

// The folds' estimates into the chosen step's copy, or (restore) back from it.
void copyFoldBeta(VsfModel* m, bool restore) {
  if (m->chosen.chosenFoldBeta == nullptr)
    return;
  const int32_t nP = m->parmCount;
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    double* kept = m->chosen.chosenFoldBeta + int64_t(f) * nP;
    double* beta = m->cv.folds[f].beta;
    if (beta != nullptr)
      std::memcpy(restore ? beta : kept, restore ? kept : beta, sizeof(double) * nP);
  }
}

} // namespace

namespace {

// Logs a step record that could not be written: the step, the scratch file, the size of the
// block that failed and the system's reason.
void reportRecordFailure(const VsfModel* m, int32_t step, const VsfRecordFailure& failure) {
  const VsfScratch* scratch = m->history.stepScratch;
  const std::string path = scratch != nullptr && scratch->path != nullptr
                               ? qkUtf8(scratch->path, scratch->pathLength)
                               : std::string("(not created)");
  const char* reason =
      failure.err != 0 ? std::strerror(failure.err) : "the scratch-file service gave no reason";
  vsfLog(VsfMsg::StepRecordNotWritten,
         {HostMsgArg(static_cast<int64_t>(step)), HostMsgArg(path.c_str()),
          HostMsgArg(failure.bytes), HostMsgArg(reason)});
}

// A criterion's sum of squared errors (perWeight 1), or its mean per unit of weight (the
// training weight), as the step records it: 0 where the sum is rounding noise of the sums
// the fit holds, the judgement the step's SSE gets, else as it stands. A fixed cut would
// zero every PRESS of a response whose scale is itself tiny.
[[nodiscard]] double roundingZeroed(const VsfModel* m, double value, double perWeight) {
  return vsfRoundingZero(m, std::fabs(value) * perWeight) ? 0.0 : value;
}

} // namespace

VsfStatus vsfRecordStep(VsfModel* model, int32_t effect) {
  VsfModel* m = model;
  const VsfModelOptions* o = m->options;
  if (effect != -100 && effect != -1 && m->effectStatus[effect] == VES_UNAVAILABLE)
    return VsfStatus::Ok;
  const int32_t s = m->history.stepCount;
  if (const VsfStatus rc = vsfStructuredSettle(m); rc != VsfStatus::Ok)
    return rc;
  // A nearly dependent step reports the fit of its estimates, formed from the rows.
  if (const VsfStatus rc = vsfRefineStep(m); rc != VsfStatus::Ok)
    return rc;
  // Sums of squares that are rounding noise of the sums the fit holds are zero. Decided once
  // here, before the step's record, its estimates' variances and its tables take the error
  // SS, so that the summary and every table of the step show one fit (and so that the model
  // does not depend on whether its step records are written).
  if (vsfRoundingZero(m, m->totalSS))
    m->totalSS = 0.0;
  if (vsfRoundingZero(m, m->sse))
    m->sse = 0.0;
  // BACKWARD's first step is its full model, whose variance C(p) and BIC take at every step:
  // the one of the fit this step records (refined above where it is nearly dependent), so that
  // its C(p) is its rank.
  if (s == 0 && vsfMethodStartsFull(o->method))
    vsfSetFullMse(m);
  // Without an intercept a fit that looks perfect against y'y is judged again against the
  // response's spread, formed once from the rows.
  if (o->noint && vsfPerfectFit(m))
    if (const VsfStatus rc = vsfFormResponseSpread(m); rc != VsfStatus::Ok)
      return rc;
  if (s == m->history.stepCapacity) {
    VsfStatus rc = vsfAddStepMemory(m, 2 * s);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  assert(s >= 0 && s < m->history.stepCapacity && "the step records have room for the step");
  if (vsfMethodHasPath(o->method)) {
    m->history.stepPathValue[s] = m->path.lambdaMax > 0 ? m->path.lambda / m->path.lambdaMax : 1.0;
    m->history.stepL1Norm[s] = m->path.l1Norm;
    m->history.stepL2Norm[s] = m->path.l2Norm;
    m->history.stepSSEFall[s] = m->path.sseFallKnown != 0 ? m->path.sseFall : hostMissing();
    m->path.sseFallKnown = 0;
    if (vsfCvExternalOn(m)) {
      m->history.stepHeldOutError[s] = m->cvexPass.heldOutError;
      if (m->cvexPass.heldOutFold != m->cv.foldCount && o->colStandardize)
        m->history.stepHeldOutTestError[s] = m->cvexPass.heldOutTestError;
    }
  }
  m->history.stepEffect[s] = effect;
  m->history.stepRank[s] = m->rank;
  int32_t parms = 0;
  for (int32_t i = 0; i < m->inModelCount; ++i)
    parms += m->effectColumns[m->inModelList[i]];
  m->history.stepParms[s] = parms;
  m->history.stepEffects[s] = m->inModelCount;
  m->history.stepSSE[s] = m->sse;
  // The step's tables show what its record holds: one zero-or-not judgement for each.
  m->press = roundingZeroed(m, m->press, 1.0);
  m->validateAse = roundingZeroed(m, m->validateAse, m->totals.wTrain);
  m->testAse = roundingZeroed(m, m->testAse, m->totals.wTrain);
  m->cvPress = roundingZeroed(m, m->cvPress, 1.0);
  if (m->history.stepPress)
    m->history.stepPress[s] = m->press;
  if (m->history.stepValidateAse)
    m->history.stepValidateAse[s] = m->validateAse;
  if (m->history.stepTestAse)
    m->history.stepTestAse[s] = m->testAse;
  if (m->history.stepCvPress)
    m->history.stepCvPress[s] = m->cvPress;

  const int32_t nP = m->parmCount, nE = m->effectCount;
  if (!o->parmStandardize) {
    vsfStdBeta(m);
    if (const VsfStatus rc = vsfDiagXpXi(m); rc != VsfStatus::Ok)
      return rc;
  } else {
    vsfScaleBeta(m);
  }

  if (foldBetaKept(m))
    setFoldEstimates(m);
  if (s == m->chosen.chosenStep && m->chosen.chosenBeta != nullptr) {
    std::memcpy(m->chosen.chosenBeta, m->beta, sizeof(double) * nP);
    std::memcpy(m->chosen.chosenStdBeta, m->stdBeta, sizeof(double) * nP);
    std::memcpy(m->chosen.chosenBetaVariance, m->betaVariance, sizeof(double) * nP);
    std::memcpy(m->chosen.chosenInModelList, m->inModelList, sizeof(int32_t) * nE);
    std::memcpy(m->chosen.chosenEffectStatus, m->effectStatus, nE);
    if (m->chosen.chosenFoldCvSse != nullptr)
      for (int32_t f = 0; f < m->cv.foldCount; ++f)
        m->chosen.chosenFoldCvSse[f] = m->cv.folds[f].cvSse;
    copyFoldBeta(m, false);
  }

  if (vsfMethodRoad(o->method, VsfFitRoad::GroupLasso)) {
    if (m->history.changeListCapacity < nE + m->history.changeListLength) {
      VsfStatus rc = vsfAddEffChangeMemory(
          m, std::max(2 * m->history.changeListLength, nE + m->history.changeListLength));
      if (rc != VsfStatus::Ok)
        return rc;
    }
    int32_t changes = 0;
    int32_t* out = m->history.changeList + m->history.changeListLength;
    if (m->history.changeListLength == 0) {
      for (int32_t i = 0; i < m->inModelCount; ++i)
        out[changes++] = m->inModelList[i];
    } else {
      int32_t a = 0, b = 0;
      while (a < m->inModelCount && b < m->prevInModelCount) {
        int32_t x = m->inModelList[a], y = m->prevInModelList[b];
        if (x == y) {
          ++a;
          ++b;
        } else if (x < y) {
          out[changes++] = x;
          ++a;
        } else {
          out[changes++] = -y;
          ++b;
        }
      }
      while (a < m->inModelCount)
        out[changes++] = m->inModelList[a++];
      while (b < m->prevInModelCount)
        out[changes++] = -m->prevInModelList[b++];
    }
    m->history.changeListLength += changes;
    m->history.stepEffect[s] = changes;
    std::memcpy(m->prevInModelList, m->inModelList, sizeof(int32_t) * nE);
    m->prevInModelCount = m->inModelCount;
  }

  m->history.stepCount = s + 1;
  showStepProgress(s, m->inModelCount);

  if (o->stepRecordBits != 0 && o->recordSteps != 0) {
    if (VsfRecordFailure failure; vsfSerializeModel(m, &failure) != VsfStatus::Ok) {
      // The step stays in the history, but the fit cannot go on without its record.
      reportRecordFailure(m, s, failure);
      return VsfStatus::PageNotWritten;
    }
  }
  return VsfStatus::Ok;
}

void vsfResetChosenStep(VsfModel* model) {
  VsfModel* m = model;
  if (m->fitStatus != VsfFitStatus::Done || m->options->choose == VsfCriterion::NoneGiven ||
      m->chosen.chosenBeta == nullptr)
    return;
  const int32_t c = m->chosen.chosenStep;
  const int32_t nP = m->parmCount, nE = m->effectCount;
  m->rank = m->history.stepRank[c];
  m->inModelCount = m->history.stepEffects[c];
  m->sse = m->history.stepSSE[c];
  if (m->history.stepValidateAse)
    m->validateAse = m->history.stepValidateAse[c];
  if (m->history.stepTestAse)
    m->testAse = m->history.stepTestAse[c];
  if (m->history.stepPress)
    m->press = m->history.stepPress[c];
  if (m->history.stepCvPress)
    m->cvPress = m->history.stepCvPress[c];
  if (vsfCvExternalOn(m) && m->history.stepHeldOutError)
    m->cvexPass.heldOutError = m->history.stepHeldOutError[c];
  m->history.stepCount = c + 1;
  std::memcpy(m->beta, m->chosen.chosenBeta, sizeof(double) * nP);
  std::memcpy(m->stdBeta, m->chosen.chosenStdBeta, sizeof(double) * nP);
  std::memcpy(m->betaVariance, m->chosen.chosenBetaVariance, sizeof(double) * nP);
  std::memcpy(m->inModelList, m->chosen.chosenInModelList, sizeof(int32_t) * nE);
  std::memcpy(m->effectStatus, m->chosen.chosenEffectStatus, nE);
  if (m->chosen.chosenFoldCvSse != nullptr)
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      m->cv.folds[f].cvSse = m->chosen.chosenFoldCvSse[f];
  copyFoldBeta(m, true);
}
