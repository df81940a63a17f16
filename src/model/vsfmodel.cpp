// Lifecycle of one fit: the model pool and every per-fit array (vsfModelInit), step
// recording with the chosen-step snapshot, growth of the step history, X'X triangles,
// cross-product store and change list, reset, restore of the chosen step and release.
// Sweeping, criteria, trials and the step-record layout live in their own units.
#include "model/vsfmodel.h"
#include "data/vsfscratchfile.h"
#include "model/vsfrefine.h"

#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"

#include "model/vsfcriteria.h"
#include "model/vsffoldpress.h"
#include "model/vsfformulas.h"
#include "model/vsfmemplan.h"
#include "model/vsfserialize.h"
#include "model/vsfshift.h"
#include "model/vsfsolverest.h"
#include "numerics/packedtri.h"
#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/poolalloc.h"
#include "support/qknr.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

[[nodiscard]] int32_t limitFor(const VsfModel* m, const VsfModelOptions* o, int32_t base) {
  const int64_t M = o->maxSteps == 0 ? 2147483647LL : o->maxSteps;
  const int64_t S = o->steps;
  // The INCLUDE= value itself (not counting the intercept) bounds the steps with STEPS=.
  const int64_t I = o->include;
  const VsfMethodTraits* method = vsfMethodTraits(o->method);
  int64_t limit = base;
  switch (method != nullptr ? method->bound.get() : VsfStepBound::OneFit) {
  case VsfStepBound::OneFit:
    break;
  case VsfStepBound::EachOnce:
    limit = std::min<int64_t>(base, M);
    if (S > 0)
      limit = std::min(limit, S + I);
    break;
  case VsfStepBound::EachTwice:
    limit = std::min<int64_t>(2LL * base, M);
    if (S > 0)
      limit = std::min(limit, S + I);
    break;
  case VsfStepBound::Penalties:
    limit = o->maxSteps != 0 ? M : 100;
    if (S > 0)
      limit = std::min(limit, S + I);
    break;
  }
  (void)m;
  return static_cast<int32_t>(limit);
}

[[nodiscard]] bool chooseGiven(const VsfModel* m) {
  return m->options->choose != VsfCriterion::NoneGiven;
}
[[nodiscard]] bool foldStats(const VsfModel* m) {
  return vsfCvOn(m) && m->foldCount > 0 && vsfCvFoldStatsAsked(*m->options);
}
[[nodiscard]] bool foldEstimates(const VsfModel* m) { return vsfCvFoldBetaAsked(*m->options); }
// Whether each step sets the folds' estimates (their arrays exist then).
[[nodiscard]] bool foldBetaKept(const VsfModel* m) {
  return vsfCvOn(m) && m->foldCount > 0 && m->folds != nullptr && foldEstimates(m);
}

} // namespace

int32_t vsfFitStatusMessage(VsfFitStatus fitStatus) {
  switch (fitStatus) {
  case VsfFitStatus::ZeroFullMse:
    return 132;
  case VsfFitStatus::NoValidation:
    return 152;
  case VsfFitStatus::SingleFold:
    return 213;
  case VsfFitStatus::TooManyFolds:
    return 271;
  case VsfFitStatus::NoRank:
    return 134;
  case VsfFitStatus::NoTrain:
    return 131;
  case VsfFitStatus::Overflow:
    return 1706;
  case VsfFitStatus::RidgeTooLarge:
    return 9314;
  case VsfFitStatus::Done:
    return 0;
  case VsfFitStatus::Failed:
  case VsfFitStatus::NoMemory:
    return 133;
  }
  return 133;
}

void vsfSetFitFailure(VsfModel* m, VsfStatus failure) {
  m->fitStatus = failure == VsfStatus::NoMemory ? VsfFitStatus::NoMemory : VsfFitStatus::Failed;
  m->fitFailure = failure;
}

bool vsfRoundingZero(const VsfModel* m, double ss) { return ss < kVsfEps * m->roundingSS; }

bool vsfPerfectFit(const VsfModel* m) {
  double total = m->totalSS;
  if (m->options->noint) {
    total = m->totalSSUncorrected;
    if (m->responseSpreadFormed != 0)
      total = std::min(total, m->responseSpread);
  }
  return m->sse <= 1e-8 * total || vsfRoundingZero(m, m->sse);
}

bool vsfCvOn(const VsfModel* m) { return m->options != nullptr && m->options->cvOn != 0; }
bool vsfCvExternalOn(const VsfModel* m) {
  return m->options != nullptr && m->options->cvExternal != 0;
}
bool vsfFullXpxOn(const VsfModel* m) { return m->options != nullptr && m->options->fullXpx != 0; }
bool vsfValidationInUse(const VsfModel* m) {
  return m->options != nullptr && m->options->validateInUse != 0;
}
bool vsfTestInUse(const VsfModel* m) { return m->options != nullptr && m->options->testInUse != 0; }

void* vsfModelAlloc(VsfModel* model, int64_t bytes, bool zero) {
  if (bytes <= 0 || model->pool == nullptr)
    return nullptr;
  return model->pool->allocate(model->pool, static_cast<size_t>(bytes), zero ? kQkZeroed : 0);
}

namespace {

// The model's pool and the position of its step records (written from the start of the
// step-record file).
[[nodiscard]] VsfStatus openModelPool(VsfModel* m) {
  QkPoolAttributes attrs{};
  attrs.flags = 1;
  m->pool = Exported_QKHandle == nullptr
                ? nullptr
                : Exported_QKHandle->createPool(Exported_QKHandle, &attrs, nullptr, "model pool");
  if (m->pool == nullptr)
    return VsfStatus::NoPoolOrHandle;
  m->passFailure = VsfStatus::Ok;

  // A resample's step records go to its resampler's file, after those of earlier samples.
  if (m->resampler != nullptr) {
    m->resampler->copiesSeen = m->resampler->drawnTotal = 0.0;
    m->stepScratch = m->resampler->modelScratch;
    m->stepScratchPos = &m->resampler->modelScratchPos;
    return VsfStatus::Ok;
  }
  m->stepScratch = m->scratchHolder;
  m->stepScratchPos = vsfModelArray<int64_t>(m, 1);
  if (m->stepScratchPos == nullptr)
    return VsfStatus::NoMemory;
  *m->stepScratchPos = 0;
  return VsfStatus::Ok;
}

// The hierarchy switch, and (without SPLIT) the working counts of the hierarchy lists,
// started from the counts the post-init checks made.
[[nodiscard]] VsfStatus setUpHierarchy(VsfModel* m, const VsfModelOptions* o, int32_t nE) {
  m->hierarchy = (o->hierarchy != VsfHierarchy::None || vsfMethodStartsFull(o->method)) ? 1 : 0;
  if (o->split)
    return VsfStatus::Ok;
  m->hierAddCountInit = o->hierAddCountInit;
  m->hierDropCountInit = o->hierDropCountInit;
  m->hierListA = o->hierListA;
  m->hierListB = o->hierListB;
  m->hierAddCount = vsfModelArray<int32_t>(m, nE);
  m->hierDropCount = vsfModelArray<int32_t>(m, nE);
  if (m->hierAddCount == nullptr || m->hierDropCount == nullptr)
    return VsfStatus::NoMemory;
  if (m->hierarchy && m->hierAddCountInit != nullptr && m->hierDropCountInit != nullptr) {
    std::memcpy(m->hierAddCount, m->hierAddCountInit, sizeof(int32_t) * nE);
    std::memcpy(m->hierDropCount, m->hierDropCountInit, sizeof(int32_t) * nE);
  }
  return VsfStatus::Ok;
}

// The fold records of cross validation (no more folds than training rows, except for
// random folds), with room for each fold's estimates when they are shown.
[[nodiscard]] VsfStatus allocateFolds(VsfModel* m, const VsfModelOptions* o, int32_t nP) {
  if (m->foldCount > m->nTrain && !vsfCvScheme(o->cvMethod).seeded)
    m->foldCount = static_cast<int32_t>(m->nTrain);
  m->foldOwnColumn = nullptr;
  m->foldOwnColumns = 0;
  m->foldCentre = m->foldShift = m->foldResidualShift = m->foldPartCentre = nullptr;
  m->foldFirstSums = m->foldMeansTaken = nullptr;
  if (!vsfCvOn(m))
    return VsfStatus::Ok;
  m->folds = vsfModelArray<VsfFoldRecord>(m, m->foldCount);
  if (m->folds == nullptr)
    return VsfStatus::NoMemory;
  if (foldEstimates(m) && o->cvDetails != VsfCvDetails::None)
    for (int32_t f = 0; f < m->foldCount; ++f)
      if ((m->folds[f].beta = vsfModelArray<double>(m, nP)) == nullptr)
        return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

// First capacities of the swept matrix, the step history and the cross-product columns.
// With the full X'X every parameter has a column from the start; otherwise the capacities
// follow the steps expected (STEPS=, else half the step limit) times the mean effect width.
struct StartCapacities {
  int32_t xpx;
  int32_t steps;
  int32_t cross;
};
StartCapacities startCapacities(const VsfModel* m, const VsfModelOptions* o, bool full, int32_t nE,
                                int32_t nP) {
  StartCapacities c{nP + 1, m->stepLimit, 0};
  if (full)
    return c;
  const double ratio = static_cast<double>(nP) / nE;
  int64_t est;
  if (o->steps == 0) {
    c.steps = std::max(1, m->stepLimit / 2);
    est = static_cast<int64_t>(c.steps * ratio + 1.5);
  } else {
    est = static_cast<int64_t>(o->steps * ratio + 1.5);
    c.steps = o->include + o->steps;
  }
  if (nP > 100)
    c.xpx = static_cast<int32_t>(std::min<int64_t>(est, 500));
  c.cross = static_cast<int32_t>(std::min<int64_t>(est, 1000000 / (nP + 1)));
  return c;
}

// The copies of the model's effect lists that a trial or a kept step works on.
[[nodiscard]] VsfStatus allocateListCopies(VsfModel* m, int32_t nE) {
  m->workEffectColumn = vsfModelArray<int32_t>(m, nE);
  m->cleanEffectColumn = vsfModelArray<int32_t>(m, nE);
  m->workInModelList = vsfModelArray<int32_t>(m, nE);
  m->cleanInModelList = vsfModelArray<int32_t>(m, nE);
  if (!m->workEffectColumn || !m->cleanEffectColumn || !m->workInModelList || !m->cleanInModelList)
    return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

// The trial block of a multi-column candidate (forward and stepwise on the full X'X by a
// criterion that needs no data pass) and the copies of the model that a trial works on.
[[nodiscard]] VsfStatus allocateTrialBlocks(VsfModel* m, const VsfModelOptions* o, bool full,
                                            int32_t nE) {
  const VsfCriterion sel = o->select;
  const bool trialSelect =
      sel == VsfCriterion::Press || sel == VsfCriterion::Validate || sel == VsfCriterion::Cv;
  int32_t widest = 0;
  for (int32_t e = 0; e < nE; ++e)
    widest = std::max(widest, m->effectColumns[e]);
  m->trialXpx = nullptr; // made by the first dense trial (vsfEffectXpXi)
  m->trialBlockShape = nullptr;
  const VsfMethodTraits& method = vsfMethod(o->method);
  if (full && method.entryTrials && !trialSelect && m->singleColumnEffectCount < nE) {
    m->needTrialBlock = 1;
    m->trialFlags = vsfModelArray<char>(m, widest + 1);
    m->trialBlockShape = vsfModelArray<uint8_t>(m, nE);
    if (m->trialFlags == nullptr || m->trialBlockShape == nullptr)
      return VsfStatus::NoMemory;
  }
  // Without an intercept, a response far from 0 has its candidates fitted on trial copies
  // (their error SSs formed from the rows) wherever the swept sums, or the trial block's,
  // lose them.
  if (trialSelect || (method.entryTrials && !method.removalTrials && !m->needTrialBlock) ||
      (method.removalTrials && m->singleColumnEffectCount < nE) || (method.entryTrials && o->noint))
    m->trialCopies = 1;
  if (m->trialCopies && (full || method.removalTrials))
    return allocateListCopies(m, nE);
  return VsfStatus::Ok;
}

// The structured road puts back a copy of the step a move started from when the stop rule
// undoes the move (in forward and stepwise too): the copies trials work on, which its small
// triangles make cheap.
[[nodiscard]] VsfStatus allocateStructuredCopies(VsfModel* m, const VsfModelOptions* o,
                                                 int32_t nE) {
  if (m->structured == nullptr || !o->stopTest || m->trialCopies)
    return VsfStatus::Ok;
  m->trialCopies = 1;
  return allocateListCopies(m, nE);
}

// The cross-product columns kept between the model and candidate effects (model and folds)
// when the full X'X is not formed.
[[nodiscard]] VsfStatus allocateCross(VsfModel* m, bool cv, int32_t nP, int32_t crossCap) {
  m->cross = vsfModelArray<double>(m, static_cast<int64_t>(nP + 1) * crossCap);
  if (m->cross == nullptr)
    return VsfStatus::NoMemory;
  if (cv)
    for (int32_t f = 0; f < m->foldCount; ++f)
      if ((m->folds[f].cross = vsfModelArray<double>(m, static_cast<int64_t>(nP + 1) * crossCap)) ==
          nullptr)
        return VsfStatus::NoMemory;
  m->crossCapacity = crossCap;
  return VsfStatus::Ok;
}

// The per-effect and per-parameter arrays of the fit: status, offsets, estimates, the path
// arrays of the penalized methods, and the candidates' criterion values.
[[nodiscard]] VsfStatus allocateFitArrays(VsfModel* m, const VsfModelOptions* o, bool full,
                                          int32_t nE, int32_t nP) {
  if (o->parmStandardize) {
    m->changeList = vsfModelArray<int32_t>(m, 2LL * nE);
    if (m->changeList == nullptr)
      return VsfStatus::NoMemory;
    m->changeListCapacity = 2 * nE;
  }
  if (vsfMethodStartsFull(o->method)) {
    m->hierarchy = 1;
    if ((m->aliasDropList = vsfModelArray<int32_t>(m, nE)) == nullptr)
      return VsfStatus::NoMemory;
  }
  m->effectStatus = vsfModelArray<uint8_t>(m, nE);
  m->parmOffset = vsfModelArray<int32_t>(m, nE);
  m->workVector = vsfModelArray<double>(m, std::max(m->foldCount, nP + 1));
  m->corr = vsfModelArray<double>(m, vsfGroupMethod(o->method) ? nP : nE);
  m->beta = vsfModelArray<double>(m, nP);
  m->stdBeta = vsfModelArray<double>(m, nP);
  m->betaVariance = vsfModelArray<double>(m, nP);
  if (!m->effectStatus || !m->parmOffset || !m->workVector || !m->corr || !m->beta || !m->stdBeta ||
      !m->betaVariance)
    return VsfStatus::NoMemory;
  if (o->adaptive && (m->adaptiveWeight = vsfModelArray<double>(m, nP)) == nullptr)
    return VsfStatus::NoMemory;
  if (o->parmStandardize) {
    if ((m->solverBeta = vsfModelArray<double>(m, nP)) == nullptr)
      return VsfStatus::NoMemory;
    if (o->stop != VsfCriterion::NoneGiven &&
        (!(m->savedSolverBetaA = vsfModelArray<double>(m, nP)) ||
         !(m->savedSolverBetaB = vsfModelArray<double>(m, nP))))
      return VsfStatus::NoMemory;
  }
  if (o->colStandardize) {
    m->pathBeta = vsfModelArray<double>(m, nP);
    m->dirCorr = vsfModelArray<double>(m, nE);
    m->direction = vsfModelArray<double>(m, nE);
    m->activeSign = vsfModelArray<int32_t>(m, nE);
    if (!m->pathBeta || !m->dirCorr || !m->direction || !m->activeSign)
      return VsfStatus::NoMemory;
    if (o->stop != VsfCriterion::NoneGiven && (!(m->savedBeta = vsfModelArray<double>(m, nP)) ||
                                               !(m->savedStdBeta = vsfModelArray<double>(m, nP))))
      return VsfStatus::NoMemory;
  }
  if (!full) {
    if ((m->crossSlot = vsfModelArray<int32_t>(m, nE)) == nullptr)
      return VsfStatus::NoMemory;
    for (int32_t e = 0; e < nE; ++e)
      m->crossSlot[e] = -1;
  }
  if (o->storeCandidates && (m->candidateValue = vsfModelArray<double>(m, nE)) == nullptr)
    return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

// The copy of the chosen model kept under CHOOSE= (chosenStep -1 without CHOOSE=).
[[nodiscard]] VsfStatus allocateChosen(VsfModel* m, int32_t nE, int32_t nP) {
  if (!chooseGiven(m)) {
    m->chosenStep = -1;
    return VsfStatus::Ok;
  }
  m->chosenBeta = vsfModelArray<double>(m, nP);
  m->chosenStdBeta = vsfModelArray<double>(m, nP);
  m->chosenBetaVariance = vsfModelArray<double>(m, nP);
  m->chosenInModelList = vsfModelArray<int32_t>(m, nE);
  m->chosenEffectStatus = vsfModelArray<uint8_t>(m, nE);
  if (!m->chosenBeta || !m->chosenStdBeta || !m->chosenBetaVariance || !m->chosenInModelList ||
      !m->chosenEffectStatus)
    return VsfStatus::NoMemory;
  if (foldStats(m) && (m->chosenFoldCvSse = vsfModelArray<double>(m, m->foldCount)) == nullptr)
    return VsfStatus::NoMemory;
  if (foldBetaKept(m) &&
      (m->chosenFoldBeta = vsfModelArray<double>(m, int64_t(m->foldCount) * nP)) == nullptr)
    return VsfStatus::NoMemory;
  m->chosenStep = 0;
  return VsfStatus::Ok;
}

// Without the full X'X: each effect's own cross-product block (model and folds) and the
// first column of each effect in the growing swept matrix (after the response column).
[[nodiscard]] VsfStatus allocateEffectBlocks(VsfModel* m, bool cv, int32_t nE) {
  m->effectFirstColumn = vsfModelArray<int32_t>(m, nE);
  m->effectBlocks = vsfModelArray<double*>(m, nE);
  if (m->effectFirstColumn == nullptr || m->effectBlocks == nullptr)
    return VsfStatus::NoMemory;
  m->effectFirstColumn[0] = 1;
  for (int32_t i = 0; i + 1 < nE; ++i)
    m->effectFirstColumn[i + 1] = m->effectFirstColumn[i] + m->effectColumns[i];
  if (cv)
    for (int32_t f = 0; f < m->foldCount; ++f)
      if ((m->folds[f].effectBlocks = vsfModelArray<double*>(m, nE)) == nullptr)
        return VsfStatus::NoMemory;
  for (int32_t e = 0; e < nE; ++e) {
    const int64_t c = m->effectColumns[e];
    if (c <= 0)
      continue;
    if ((m->effectBlocks[e] = vsfModelArray<double>(m, packed::tri(c))) == nullptr)
      return VsfStatus::NoMemory;
    if (cv)
      for (int32_t f = 0; f < m->foldCount; ++f)
        if ((m->folds[f].effectBlocks[e] = vsfModelArray<double>(m, packed::tri(c))) == nullptr)
          return VsfStatus::NoMemory;
  }
  return VsfStatus::Ok;
}

// The starting state: parameter offsets, effects without columns (and the intercept under
// NOINT) unavailable, and no held-out statistics yet.
void setStartState(VsfModel* m, const VsfModelOptions* o, int32_t nE) {
  if (o->noint)
    m->effectStatus[0] = VES_UNAVAILABLE;
  int32_t running = 0;
  for (int32_t e = 0; e < nE; ++e) {
    m->parmOffset[e] = running;
    running += m->effectColumns[e];
    if (m->effectColumns[e] == 0)
      m->effectStatus[e] = VES_UNAVAILABLE;
  }
  m->press = m->validateAse = m->testAse = m->cvPress = hostMissing();
  m->heldOutError = hostMissing();
}

} // namespace

VsfStatus vsfModelInit(VsfModel* model) {
  VsfModel* m = model;
  const VsfModelOptions* o = m->options;
  VsfStatus rc = openModelPool(m);
  if (rc != VsfStatus::Ok)
    return rc;
  m->sweptInflation = 0.0;
  m->trialInflation = 0.0;
  // Nothing to fit: no training rows, or a validation criterion without validation rows.
  if (m->nTrain == 0)
    return VsfStatus::Ok;
  if (m->freqValidate == 0 &&
      (o->choose == VsfCriterion::Validate || o->stop == VsfCriterion::Validate ||
       o->select == VsfCriterion::Validate))
    return VsfStatus::Ok;
  if (m->includeCount == 0)
    m->includeCount = o->forcedIn;

  const int32_t nE = m->effectCount, nP = m->parmCount;
  const int32_t base = o->noint ? nE - 1 : nE;
  if ((rc = setUpHierarchy(m, o, nE)) != VsfStatus::Ok)
    return rc;
  m->stepLimit = limitFor(m, o, base);
  if ((rc = allocateFolds(m, o, nP)) != VsfStatus::Ok)
    return rc;
  const bool cv = vsfCvOn(m);
  const bool full = vsfFullXpxOn(m);
  const StartCapacities cap = startCapacities(m, o, full, nE, nP);
  if ((rc = allocateTrialBlocks(m, o, full, nE)) != VsfStatus::Ok)
    return rc;
  if ((rc = vsfStructuredSetUp(m)) != VsfStatus::Ok ||
      (rc = allocateStructuredCopies(m, o, nE)) != VsfStatus::Ok)
    return rc;
  // The structured road's triangles hold the response and the dense columns only.
  const int32_t triangleColumns = m->structured != nullptr ? m->structured->small : cap.xpx;
  // A growing triangle takes in at least the widest candidate with the model's first columns.
  if ((rc = vsfPlanCrossProducts(
           m, full ? triangleColumns : std::min(nP + 1, triangleColumns + m->maxEffectColumns))) !=
      VsfStatus::Ok)
    return rc;
  if ((rc = vsfAddXpXMemory(m, triangleColumns)) != VsfStatus::Ok)
    return rc;
  if ((rc = vsfAddStepMemory(m, cap.steps)) != VsfStatus::Ok)
    return rc;
  if (!full && (rc = allocateCross(m, cv, nP, cap.cross)) != VsfStatus::Ok)
    return rc;
  if ((rc = allocateFitArrays(m, o, full, nE, nP)) != VsfStatus::Ok)
    return rc;
  if ((rc = allocateChosen(m, nE, nP)) != VsfStatus::Ok)
    return rc;
  m->xpxColumns = m->structured != nullptr ? m->structured->small : full ? nP + 1 : 1;
  if (!full && (rc = allocateEffectBlocks(m, cv, nE)) != VsfStatus::Ok)
    return rc;
  setStartState(m, o, nE);
  return VsfStatus::Ok;
}

namespace {

// Clears every pointer into the model's pool (and the counts and statistics of the fit
// that lived there), so that the model can be initialised again for another fit.
void forgetPoolArrays(VsfModel* m) {
  m->xpxColumns = m->crossColumnCount = m->stepCount = m->rank = m->inModelCount = 0;
  m->changeListLength = 0;
  m->xpxCapacity = m->crossCapacity = m->stepCapacity = m->changeListCapacity = 0;
  m->effectBlocks = nullptr;
  m->trialXpx = nullptr;
  m->trialFlags = nullptr;
  m->trialBlockShape = nullptr;
  m->needTrialBlock = 0;
  m->xpx = m->sweptXpx = m->cross = nullptr;
  m->structured = nullptr;
  m->stepSSE = m->stepPress = m->stepValidateAse = m->stepTestAse = m->stepCvPress = nullptr;
  m->stepStdL1Norm = m->stepPathValue = m->stepL1Norm = m->stepL2Norm = nullptr;
  m->stepSSEFall = nullptr;
  m->sseFallKnown = 0;
  m->stepHeldOutError = m->stepHeldOutTestError = nullptr;
  m->stepEffect = m->changeList = m->stepRank = m->stepParms = m->stepEffects = nullptr;
  m->sweepFlags = nullptr;
  m->chosenBetaVariance = m->chosenBeta = m->chosenStdBeta = nullptr;
  m->chosenInModelList = nullptr;
  m->chosenEffectStatus = nullptr;
  m->chosenStep = 0;
  m->workVector = m->corr = m->beta = m->stdBeta = m->candidateValue = nullptr;
  m->betaVariance = m->adaptiveWeight = nullptr;
  m->effectStatus = nullptr;
  m->crossSlot = m->effectFirstColumn = nullptr;
  m->dirCorr = m->direction = m->pathBeta = m->solverBeta = m->savedBeta = nullptr;
  m->savedStdBeta = m->savedSolverBetaA = m->savedSolverBetaB = nullptr;
  m->activeSign = nullptr;
  m->adaptiveAliased = 0;
  m->aliasDropCount = m->aliasIncludeDropCount = 0;
  m->aliasDropList = nullptr;
  m->press = 0;
  m->screenBound = m->screenStat = nullptr;
  m->screenFlag = nullptr;
  m->totalSSUncorrected = m->totalSS = m->sse = m->fullMse = m->roundingSS = 0;
  m->responseSpread = 0.0;
  m->responseSpreadFormed = 0;
  m->validateAse = m->testAse = m->heldOutError = m->heldOutTestError = 0;
  m->stepScratchPos = nullptr;
  m->fitStatus = VsfFitStatus::Done;
  m->fitFailure = VsfStatus::Ok;
  m->stopReason = VSR_NONE;
  m->stopAddEffect = m->stopDropEffect = 0;
  m->stopAddValue = m->stopDropValue = 0;
  m->trialCopies = 0;
  m->trialsSweptFully = 0;
  m->savedSweptXpx = m->savedXpx = nullptr;
  m->savedSse = m->savedCvPress = m->savedPress = m->savedValidateAse = m->savedTestAse = 0;
  m->savedSweptInflation = 0;
  m->savedXpxColumns = m->savedXpxCapacity = m->savedRank = m->savedInModelCount = 0;
  m->savedInModelList = m->savedEffectColumn = nullptr;
  m->savedEffectStatus = nullptr;
  m->savedSweepFlags = nullptr;
  m->workSweptXpx = m->cleanSweptXpx = m->workXpx = nullptr;
  m->workEffectColumn = m->cleanEffectColumn = m->workInModelList = m->cleanInModelList = nullptr;
  m->trialColumns = 0;
  m->workSweepFlags = m->cleanSweepFlags = nullptr;
  m->cvPress = 0;
  m->folds = nullptr;
  m->foldOwnColumn = nullptr;
  m->foldCentre = m->foldShift = m->foldResidualShift = m->foldPartCentre = nullptr;
  m->foldFirstSums = m->foldMeansTaken = nullptr;
  m->chosenFoldCvSse = nullptr;
  m->chosenFoldBeta = nullptr;
  m->solverExtension = nullptr;
  m->hierAddCount = m->hierDropCount = nullptr;
}

} // namespace

void vsfModelByFree(VsfModel* model) {
  poolDestroy(model->pool);
  forgetPoolArrays(model);
}

VsfStatus vsfAddStepMemory(VsfModel* model, int32_t newCapacity) {
  VsfModel* m = model;
  const VsfModelOptions* o = m->options;
  if (newCapacity == -1)
    newCapacity = 2 * m->stepCapacity;
  if (newCapacity <= 0)
    return VsfStatus::NoMemory;
  const bool first = m->stepCapacity == 0;
  auto grow = [&](auto*& arr, int64_t count, bool front) -> bool {
    using T = std::remove_reference_t<decltype(*arr)>;
    T* base = arr == nullptr ? nullptr : arr - (front ? 1 : 0);
    T* out = first ? vsfModelArray<T>(m, count, true) : vsfModelResize<T>(m, base, count);
    if (out == nullptr)
      return false;
    arr = out + (front ? 1 : 0);
    return true;
  };
  if (!grow(m->stepEffect, newCapacity, false) || !grow(m->stepParms, newCapacity, false) ||
      !grow(m->stepRank, newCapacity + 1LL, true) ||
      !grow(m->stepEffects, newCapacity + 1LL, true) || !grow(m->stepSSE, newCapacity + 1LL, true))
    return VsfStatus::NoMemory;
  m->stepRank[-1] = 0;
  if (o->pressNeeded && !grow(m->stepPress, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfValidationInUse(m) && !grow(m->stepValidateAse, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfTestInUse(m) && !grow(m->stepTestAse, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfCvOn(m) && !grow(m->stepCvPress, newCapacity, false))
    return VsfStatus::NoMemory;
  if (o->stdL1History && !grow(m->stepStdL1Norm, newCapacity, false))
    return VsfStatus::NoMemory;
  if (vsfMethodHasPath(o->method)) {
    if (!grow(m->stepPathValue, newCapacity, false) || !grow(m->stepL1Norm, newCapacity, false) ||
        !grow(m->stepL2Norm, newCapacity, false) || !grow(m->stepSSEFall, newCapacity, false))
      return VsfStatus::NoMemory;
    if (vsfCvExternalOn(m) && (!grow(m->stepHeldOutError, newCapacity, false) ||
                               !grow(m->stepHeldOutTestError, newCapacity, false)))
      return VsfStatus::NoMemory;
  }
  m->stepCapacity = newCapacity;
  return VsfStatus::Ok;
}

namespace {

// Grows every X'X triangle and its sweep flags to `newCapacity` columns of `n` elements.
[[nodiscard]] VsfStatus vsfGrowXpX(VsfModel* m, int32_t newCapacity, int64_t n) {
  const int64_t oldTri = vsfMemTri(m->xpxColumns);

  auto growFlags = [&](char*& flags, char*& saved) -> bool {
    char* old = flags;
    char* out = vsfModelResize<char>(m, flags, newCapacity);
    if (out == nullptr)
      return false;
    for (int32_t i = m->xpxColumns; i < newCapacity; ++i)
      out[i] = '0';
    flags = out;
    if (saved == old && old != nullptr)
      saved = out;
    return true;
  };
  auto growTri = [&](double*& arr, double*& saved, bool zeroTail) -> bool {
    double* old = arr;
    double* out = vsfModelResize<double>(m, arr, n);
    if (out == nullptr)
      return false;
    // A new block comes zeroed from the pool: writing its zeros again would touch every
    // page of a triangle the data may never reach.
    if (zeroTail && old != nullptr)
      std::fill(out + oldTri, out + n, 0.0);
    arr = out;
    if (saved == old && old != nullptr)
      saved = out;
    return true;
  };
  double* none = nullptr;
  char* noFlags = nullptr;
  if (!growFlags(m->sweepFlags, m->savedSweepFlags))
    return VsfStatus::NoMemory;
  if (!growTri(m->xpx, m->savedXpx, true))
    return VsfStatus::NoMemory;
  double* oldSwept = m->sweptXpx;
  if (!growTri(m->sweptXpx, m->savedSweptXpx, false))
    return VsfStatus::NoMemory;
  if (oldSwept != nullptr && m->savedSweptXpx == m->sweptXpx)
    m->savedXpxCapacity = newCapacity;
  if (m->trialCopies) {
    // Growth happens on the growing shape only, where the working copies are separate
    // arrays (and at creation, where all are still null).
    if (!growTri(m->workXpx, none = nullptr, false) ||
        !growTri(m->workSweptXpx, none = nullptr, false) ||
        !growTri(m->cleanSweptXpx, none = nullptr, false) ||
        !growFlags(m->workSweepFlags, noFlags = nullptr) ||
        !growFlags(m->cleanSweepFlags, noFlags = nullptr))
      return VsfStatus::NoMemory;
  }
  if (vsfCvOn(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      if (!growFlags(F.sweepFlags, F.savedSweepFlags) || !growTri(F.xpx, F.savedXpx, true) ||
          !growTri(F.sweptXpx, F.savedSweptXpx, false))
        return VsfStatus::NoMemory;
      if (m->trialCopies && (!growTri(F.workXpx, none = nullptr, false) ||
                             !growTri(F.workSweptXpx, none = nullptr, false) ||
                             !growTri(F.cleanSweptXpx, none = nullptr, false) ||
                             !growFlags(F.workSweepFlags, noFlags = nullptr) ||
                             !growFlags(F.cleanSweepFlags, noFlags = nullptr)))
        return VsfStatus::NoMemory;
    }
  assert(newCapacity >= m->xpxColumns && "X'X keeps its columns as it grows");
  m->xpxCapacity = newCapacity;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfAddXpXMemory(VsfModel* model, int32_t newCapacity) {
  VsfModel* m = model;
  if (newCapacity == -1)
    newCapacity = 2 * m->xpxColumns;
  if (newCapacity <= m->xpxColumns)
    return VsfStatus::Ok;
  const int64_t n = vsfMemTri(newCapacity);
  if (n < 0) {
    // The response is column 0 of the triangle; the message counts design columns.
    vsfLog(VsfMsg::XpxTooManyColumns,
           {HostMsgArg(newCapacity - 1), HostMsgArg(kVsfMaxTriangleColumns - 1)});
    return VsfStatus::ReportedFailure;
  }
  if (const VsfStatus planned = vsfPlanCrossProducts(m, newCapacity); planned != VsfStatus::Ok)
    return planned;
  const VsfStatus grown = vsfGrowXpX(m, newCapacity, n);
  if (grown != VsfStatus::Ok)
    vsfLog(VsfMsg::XpxDoesNotFit,
           {HostMsgArg(newCapacity - 1), HostMsgArg(static_cast<int64_t>(sizeof(double)) * n)});
  return grown;
}

VsfStatus vsfAddTrialCopies(VsfModel* m) {
  if (m->trialCopies)
    return VsfStatus::Ok;
  m->trialCopies = 1; // counted by the plan
  const int32_t cap = m->xpxCapacity;
  const int64_t n = vsfMemTri(cap);
  const double block = m->needTrialBlock ? 8.0 * double(vsfTrialBlockLength(m)) : 0.0;
  VsfStatus rc = vsfPlanCrossProducts(m, cap, block);
  if (rc == VsfStatus::Ok)
    rc = allocateListCopies(m, m->effectCount);
  const auto copies = [&](double*& work, double*& swept, double*& clean, char*& workFlags,
                          char*& cleanFlags) {
    work = vsfModelArray<double>(m, n);
    swept = vsfModelArray<double>(m, n);
    clean = vsfModelArray<double>(m, n);
    workFlags = vsfModelArray<char>(m, cap);
    cleanFlags = vsfModelArray<char>(m, cap);
    return work && swept && clean && workFlags && cleanFlags;
  };
  if (rc == VsfStatus::Ok &&
      !copies(m->workXpx, m->workSweptXpx, m->cleanSweptXpx, m->workSweepFlags, m->cleanSweepFlags))
    rc = VsfStatus::NoMemory;
  if (vsfCvOn(m))
    for (int32_t f = 0; f < m->foldCount && rc == VsfStatus::Ok; ++f) {
      VsfFoldRecord& F = m->folds[f];
      if (!copies(F.workXpx, F.workSweptXpx, F.cleanSweptXpx, F.workSweepFlags, F.cleanSweepFlags))
        rc = VsfStatus::NoMemory;
    }
  if (rc != VsfStatus::Ok)
    m->trialCopies = 0;
  return rc;
}

VsfStatus vsfAddCrossMemory(VsfModel* model, int32_t newCapacity, int32_t rowLength) {
  VsfModel* m = model;
  if (newCapacity == -1)
    newCapacity = 2 * m->crossCapacity;
  const int64_t size = static_cast<int64_t>(newCapacity) * rowLength;
  const int64_t oldSize = static_cast<int64_t>(m->crossCapacity) * rowLength;
  if (size <= 0)
    return VsfStatus::NoMemory;
  assert(newCapacity >= m->crossColumnCount && "the kept cross products keep their columns");
  auto grow = [&](double*& arr) -> bool {
    double* out = vsfModelResize<double>(m, arr, size);
    if (out == nullptr)
      return false;
    if (oldSize < size && arr != nullptr)
      std::fill(out + oldSize, out + size, 0.0);
    arr = out;
    return true;
  };
  if (!grow(m->cross))
    return VsfStatus::NoMemory;
  if (vsfCvOn(m))
    for (int32_t f = 0; f < m->foldCount; ++f)
      if (!grow(m->folds[f].cross))
        return VsfStatus::NoMemory;
  m->crossCapacity = newCapacity;
  return VsfStatus::Ok;
}

VsfStatus vsfAddEffChangeMemory(VsfModel* model, int32_t newCapacity) {
  if (newCapacity <= 0)
    return VsfStatus::NoMemory;
  int32_t* out = model->changeListCapacity == 0
                     ? vsfModelArray<int32_t>(model, newCapacity)
                     : vsfModelResize<int32_t>(model, model->changeList, newCapacity);
  if (out == nullptr)
    return VsfStatus::NoMemory;
  model->changeList = out;
  model->changeListCapacity = newCapacity;
  return VsfStatus::Ok;
}

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
      if (o->adaptive && m->adaptiveWeight != nullptr)
        beta[q] *= m->adaptiveWeight[q];
      beta[q] *= m->columnSumSquares[q];
      S += beta[q] * m->columnSums[q];
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
  for (int32_t f = 0; f < m->foldCount; ++f) {
    VsfFoldRecord& F = m->folds[f];
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
  if (m->chosenFoldBeta == nullptr)
    return;
  const int32_t nP = m->parmCount;
  for (int32_t f = 0; f < m->foldCount; ++f) {
    double* kept = m->chosenFoldBeta + int64_t(f) * nP;
    double* beta = m->folds[f].beta;
    if (beta != nullptr)
      std::memcpy(restore ? beta : kept, restore ? kept : beta, sizeof(double) * nP);
  }
}

} // namespace

namespace {

// Logs a step record that could not be written: the step, the scratch file, the size of the
// block that failed and the system's reason.
void reportRecordFailure(const VsfModel* m, int32_t step, const VsfRecordFailure& failure) {
  const VsfScratch* scratch = m->stepScratch;
  const std::string path = scratch != nullptr && scratch->path != nullptr
                               ? qkUtf8(scratch->path, scratch->pathLength)
                               : std::string("(not created)");
  const char* reason =
      failure.err != 0 ? std::strerror(failure.err) : "the scratch-file service gave no reason";
  vsfLog(VsfMsg::RecordStepCouldNot,
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
  const int32_t s = m->stepCount;
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
  // Without an intercept a fit that looks perfect against y'y is judged again against the
  // response's spread, formed once from the rows.
  if (o->noint && vsfPerfectFit(m))
    if (const VsfStatus rc = vsfFormResponseSpread(m); rc != VsfStatus::Ok)
      return rc;
  if (s == m->stepCapacity) {
    VsfStatus rc = vsfAddStepMemory(m, 2 * s);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  assert(s >= 0 && s < m->stepCapacity && "the step records have room for the step");
  if (vsfMethodHasPath(o->method)) {
    m->stepPathValue[s] = m->lambdaMax > 0 ? m->lambda / m->lambdaMax : 1.0;
    m->stepL1Norm[s] = m->l1Norm;
    m->stepL2Norm[s] = m->l2Norm;
    m->stepSSEFall[s] = m->sseFallKnown != 0 ? m->sseFall : hostMissing();
    m->sseFallKnown = 0;
    if (vsfCvExternalOn(m)) {
      m->stepHeldOutError[s] = m->heldOutError;
      if (m->heldOutFold != m->foldCount && o->colStandardize)
        m->stepHeldOutTestError[s] = m->heldOutTestError;
    }
  }
  m->stepEffect[s] = effect;
  m->stepRank[s] = m->rank;
  int32_t parms = 0;
  for (int32_t i = 0; i < m->inModelCount; ++i)
    parms += m->effectColumns[m->inModelList[i]];
  m->stepParms[s] = parms;
  m->stepEffects[s] = m->inModelCount;
  m->stepSSE[s] = m->sse;
  // The step's tables show what its record holds: one zero-or-not judgement for each.
  m->press = roundingZeroed(m, m->press, 1.0);
  m->validateAse = roundingZeroed(m, m->validateAse, m->wTrain);
  m->testAse = roundingZeroed(m, m->testAse, m->wTrain);
  m->cvPress = roundingZeroed(m, m->cvPress, 1.0);
  if (m->stepPress)
    m->stepPress[s] = m->press;
  if (m->stepValidateAse)
    m->stepValidateAse[s] = m->validateAse;
  if (m->stepTestAse)
    m->stepTestAse[s] = m->testAse;
  if (m->stepCvPress)
    m->stepCvPress[s] = m->cvPress;

  const int32_t nP = m->parmCount, nE = m->effectCount;
  if (!o->parmStandardize) {
    vsfStdBeta(m);
    vsfDiagXpXi(m);
  } else {
    vsfScaleBeta(m);
  }

  if (foldBetaKept(m))
    setFoldEstimates(m);
  if (s == m->chosenStep && m->chosenBeta != nullptr) {
    std::memcpy(m->chosenBeta, m->beta, sizeof(double) * nP);
    std::memcpy(m->chosenStdBeta, m->stdBeta, sizeof(double) * nP);
    std::memcpy(m->chosenBetaVariance, m->betaVariance, sizeof(double) * nP);
    std::memcpy(m->chosenInModelList, m->inModelList, sizeof(int32_t) * nE);
    std::memcpy(m->chosenEffectStatus, m->effectStatus, nE);
    if (m->chosenFoldCvSse != nullptr)
      for (int32_t f = 0; f < m->foldCount; ++f)
        m->chosenFoldCvSse[f] = m->folds[f].cvSse;
    copyFoldBeta(m, false);
  }

  if (vsfMethodRoad(o->method, VsfFitRoad::GroupLasso)) {
    if (m->changeListCapacity < nE + m->changeListLength) {
      VsfStatus rc =
          vsfAddEffChangeMemory(m, std::max(2 * m->changeListLength, nE + m->changeListLength));
      if (rc != VsfStatus::Ok)
        return rc;
    }
    int32_t changes = 0;
    int32_t* out = m->changeList + m->changeListLength;
    if (m->changeListLength == 0) {
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
    m->changeListLength += changes;
    m->stepEffect[s] = changes;
    std::memcpy(m->prevInModelList, m->inModelList, sizeof(int32_t) * nE);
    m->prevInModelCount = m->inModelCount;
  }

  m->stepCount = s + 1;
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
      m->chosenBeta == nullptr)
    return;
  const int32_t c = m->chosenStep;
  const int32_t nP = m->parmCount, nE = m->effectCount;
  m->rank = m->stepRank[c];
  m->inModelCount = m->stepEffects[c];
  m->sse = m->stepSSE[c];
  if (m->stepValidateAse)
    m->validateAse = m->stepValidateAse[c];
  if (m->stepTestAse)
    m->testAse = m->stepTestAse[c];
  if (m->stepPress)
    m->press = m->stepPress[c];
  if (m->stepCvPress)
    m->cvPress = m->stepCvPress[c];
  if (vsfCvExternalOn(m) && m->stepHeldOutError)
    m->heldOutError = m->stepHeldOutError[c];
  m->stepCount = c + 1;
  std::memcpy(m->beta, m->chosenBeta, sizeof(double) * nP);
  std::memcpy(m->stdBeta, m->chosenStdBeta, sizeof(double) * nP);
  std::memcpy(m->betaVariance, m->chosenBetaVariance, sizeof(double) * nP);
  std::memcpy(m->inModelList, m->chosenInModelList, sizeof(int32_t) * nE);
  std::memcpy(m->effectStatus, m->chosenEffectStatus, nE);
  if (m->chosenFoldCvSse != nullptr)
    for (int32_t f = 0; f < m->foldCount; ++f)
      m->folds[f].cvSse = m->chosenFoldCvSse[f];
  copyFoldBeta(m, true);
}
