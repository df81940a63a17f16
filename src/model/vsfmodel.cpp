// A fit's model state: the model pool and every per-fit array (vsfModelInit), the step limit,
// the fit's status words and switches, and the release of the pool for the next fit. The
// growth of its arrays is in vsfmodelgrow.cpp, the step records in vsfrecordstep.cpp;
// sweeping, criteria, trials and the step-record layout live in their own units.
#include "model/vsfmodel.h"

#include "model/vsfformulas.h"
#include "model/vsfmemplan.h"
#include "model/vsfmodelinternal.h"
#include "model/vsfstructured.h"
#include "numerics/packedtri.h"
#include "support/cvscheme.h"
#include "support/poolalloc.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cstring>

using namespace modelstate;

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
  return vsfCvOn(m) && m->cv.foldCount > 0 && vsfCvFoldStatsAsked(*m->options);
}
[[nodiscard]] bool foldEstimates(const VsfModel* m) { return vsfCvFoldBetaAsked(*m->options); }

} // namespace

namespace modelstate {

// Whether each step sets the folds' estimates (their arrays exist then).
[[nodiscard]] bool foldBetaKept(const VsfModel* m) {
  return vsfCvOn(m) && m->cv.foldCount > 0 && m->cv.folds != nullptr && foldEstimates(m);
}

} // namespace modelstate

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

void vsfSetFullMse(VsfModel* m) {
  const bool noError = m->totals.nObs <= m->rank || vsfRoundingZero(m, m->sse);
  m->fullMse = noError ? 0.0 : m->sse / (m->totals.nObs - m->rank);
}

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
    m->history.stepScratch = m->resampler->modelScratch;
    m->history.stepScratchPos = &m->resampler->modelScratchPos;
    return VsfStatus::Ok;
  }
  m->history.stepScratch = m->scratchHolder;
  m->history.stepScratchPos = vsfModelArray<int64_t>(m, 1);
  if (m->history.stepScratchPos == nullptr)
    return VsfStatus::NoMemory;
  *m->history.stepScratchPos = 0;
  return VsfStatus::Ok;
}

// The hierarchy switch, and (without SPLIT) the working counts of the hierarchy lists,
// started from the counts the post-init checks made.
[[nodiscard]] VsfStatus setUpHierarchy(VsfModel* m, const VsfModelOptions* o, int32_t nE) {
  m->hier.hierarchy =
      (o->hierarchy != VsfHierarchy::None || vsfMethodStartsFull(o->method)) ? 1 : 0;
  if (o->split)
    return VsfStatus::Ok;
  m->hier.hierAddCountInit = o->hierAddCountInit;
  m->hier.hierDropCountInit = o->hierDropCountInit;
  m->hier.hierListA = o->hierListA;
  m->hier.hierListB = o->hierListB;
  m->hier.hierAddCount = vsfModelArray<int32_t>(m, nE);
  m->hier.hierDropCount = vsfModelArray<int32_t>(m, nE);
  if (m->hier.hierAddCount == nullptr || m->hier.hierDropCount == nullptr)
    return VsfStatus::NoMemory;
  if (m->hier.hierarchy && m->hier.hierAddCountInit != nullptr &&
      m->hier.hierDropCountInit != nullptr) {
    std::memcpy(m->hier.hierAddCount, m->hier.hierAddCountInit, sizeof(int32_t) * nE);
    std::memcpy(m->hier.hierDropCount, m->hier.hierDropCountInit, sizeof(int32_t) * nE);
  }
  return VsfStatus::Ok;
}

// The fold records of cross validation (no more folds than training rows, except for
// random folds), with room for each fold's estimates when they are shown.
[[nodiscard]] VsfStatus allocateFolds(VsfModel* m, const VsfModelOptions* o, int32_t nP) {
  if (m->cv.foldCount > m->totals.nTrain && !vsfCvScheme(o->cvMethod).seeded)
    m->cv.foldCount = static_cast<int32_t>(m->totals.nTrain);
  m->cv.foldOwnColumn = nullptr;
  m->cv.foldOwnColumns = 0;
  m->cv.foldCentre = m->cv.foldShift = m->cv.foldResidualShift = m->cv.foldPartCentre = nullptr;
  m->cv.foldFirstSums = m->cv.foldMeansTaken = nullptr;
  if (!vsfCvOn(m))
    return VsfStatus::Ok;
  m->cv.folds = vsfModelArray<VsfFoldRecord>(m, m->cv.foldCount);
  if (m->cv.folds == nullptr)
    return VsfStatus::NoMemory;
  if (foldEstimates(m) && o->cvDetails != VsfCvDetails::None)
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      if ((m->cv.folds[f].beta = vsfModelArray<double>(m, nP)) == nullptr)
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
  StartCapacities c{nP + 1, m->stop.stepLimit, 0};
  if (full)
    return c;
  const double ratio = static_cast<double>(nP) / nE;
  int64_t est;
  if (o->steps == 0) {
    c.steps = std::max(1, m->stop.stepLimit / 2);
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

} // namespace

namespace modelstate {

// The copies of the model's effect lists that a trial or a kept step works on.
[[nodiscard]] VsfStatus allocateListCopies(VsfModel* m, int32_t nE) {
  m->trial.workEffectColumn = vsfModelArray<int32_t>(m, nE);
  m->trial.cleanEffectColumn = vsfModelArray<int32_t>(m, nE);
  m->trial.workInModelList = vsfModelArray<int32_t>(m, nE);
  m->trial.cleanInModelList = vsfModelArray<int32_t>(m, nE);
  if (!m->trial.workEffectColumn || !m->trial.cleanEffectColumn || !m->trial.workInModelList ||
      !m->trial.cleanInModelList)
    return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

} // namespace modelstate

namespace {

// The trial block of a multi-column candidate (forward and stepwise on the full X'X by a
// criterion that needs no data pass) and the copies of the model that a trial works on.
[[nodiscard]] VsfStatus allocateTrialBlocks(VsfModel* m, const VsfModelOptions* o, bool full,
                                            int32_t nE) {
  int32_t widest = 0;
  for (int32_t e = 0; e < nE; ++e)
    widest = std::max(widest, m->effectColumns[e]);
  m->trial.trialXpx = nullptr; // made by the first dense trial (vsfEffectXpXi)
  m->trial.trialBlockShape = nullptr;
  const bool multiColumn = m->singleColumnEffectCount < nE;
  if (vsfTrialBlockKept(*o, full, multiColumn)) {
    m->trial.needTrialBlock = 1;
    m->trial.trialFlags = vsfModelArray<char>(m, widest + 1);
    m->trial.trialBlockShape = vsfModelArray<uint8_t>(m, nE);
    if (m->trial.trialFlags == nullptr || m->trial.trialBlockShape == nullptr)
      return VsfStatus::NoMemory;
  }
  if (vsfTrialCopiesKept(*o, full, multiColumn, false))
    m->trial.trialCopies = 1;
  if (m->trial.trialCopies && (full || vsfMethod(o->method).removalTrials))
    return allocateListCopies(m, nE);
  return VsfStatus::Ok;
}

// The structured road puts back a copy of the step a move started from when the stop rule
// undoes the move (in forward and stepwise too): the copies trials work on, which its small
// triangles make cheap.
[[nodiscard]] VsfStatus allocateStructuredCopies(VsfModel* m, const VsfModelOptions* o,
                                                 int32_t nE) {
  if (m->structured == nullptr || m->trial.trialCopies ||
      !vsfTrialCopiesKept(*o, vsfFullXpxOn(m), m->singleColumnEffectCount < nE, true))
    return VsfStatus::Ok;
  m->trial.trialCopies = 1;
  return allocateListCopies(m, nE);
}

// The cross-product columns kept between the model and candidate effects (model and folds)
// when the full X'X is not formed.
[[nodiscard]] VsfStatus allocateCross(VsfModel* m, bool cv, int32_t nP, int32_t crossCap) {
  m->cross = vsfModelArray<double>(m, static_cast<int64_t>(nP + 1) * crossCap);
  if (m->cross == nullptr)
    return VsfStatus::NoMemory;
  if (cv)
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      if ((m->cv.folds[f].cross =
               vsfModelArray<double>(m, static_cast<int64_t>(nP + 1) * crossCap)) == nullptr)
        return VsfStatus::NoMemory;
  m->crossCapacity = crossCap;
  return VsfStatus::Ok;
}

// The per-effect and per-parameter arrays of the fit: status, offsets, estimates, the path
// arrays of the penalized methods, and the candidates' criterion values.
[[nodiscard]] VsfStatus allocateFitArrays(VsfModel* m, const VsfModelOptions* o, bool full,
                                          int32_t nE, int32_t nP) {
  if (o->parmStandardize) {
    m->history.changeList = vsfModelArray<int32_t>(m, 2LL * nE);
    if (m->history.changeList == nullptr)
      return VsfStatus::NoMemory;
    m->history.changeListCapacity = 2 * nE;
  }
  if (vsfMethodStartsFull(o->method)) {
    m->hier.hierarchy = 1;
    if ((m->aliasDrops.aliasDropList = vsfModelArray<int32_t>(m, nE)) == nullptr)
      return VsfStatus::NoMemory;
  }
  m->effectStatus = vsfModelArray<uint8_t>(m, nE);
  m->parmOffset = vsfModelArray<int32_t>(m, nE);
  m->workVector = vsfModelArray<double>(m, std::max(m->cv.foldCount, nP + 1));
  m->pathPass.corr = vsfModelArray<double>(m, vsfGroupMethod(o->method) ? nP : nE);
  m->beta = vsfModelArray<double>(m, nP);
  m->stdBeta = vsfModelArray<double>(m, nP);
  m->betaVariance = vsfModelArray<double>(m, nP);
  if (!m->effectStatus || !m->parmOffset || !m->workVector || !m->pathPass.corr || !m->beta ||
      !m->stdBeta || !m->betaVariance)
    return VsfStatus::NoMemory;
  if (o->adaptive && (m->adaptive.adaptiveWeight = vsfModelArray<double>(m, nP)) == nullptr)
    return VsfStatus::NoMemory;
  if (o->parmStandardize) {
    if ((m->pathPass.solverBeta = vsfModelArray<double>(m, nP)) == nullptr)
      return VsfStatus::NoMemory;
    if (o->stop != VsfCriterion::NoneGiven &&
        (!(m->solver.savedSolverBetaA = vsfModelArray<double>(m, nP)) ||
         !(m->solver.savedSolverBetaB = vsfModelArray<double>(m, nP))))
      return VsfStatus::NoMemory;
  }
  if (o->colStandardize) {
    m->pathPass.pathBeta = vsfModelArray<double>(m, nP);
    m->pathPass.dirCorr = vsfModelArray<double>(m, nE);
    m->pathPass.direction = vsfModelArray<double>(m, nE);
    m->path.activeSign = vsfModelArray<int32_t>(m, nE);
    if (!m->pathPass.pathBeta || !m->pathPass.dirCorr || !m->pathPass.direction ||
        !m->path.activeSign)
      return VsfStatus::NoMemory;
    if (o->stop != VsfCriterion::NoneGiven &&
        (!(m->path.savedBeta = vsfModelArray<double>(m, nP)) ||
         !(m->path.savedStdBeta = vsfModelArray<double>(m, nP))))
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
    m->chosen.chosenStep = -1;
    return VsfStatus::Ok;
  }
  m->chosen.chosenBeta = vsfModelArray<double>(m, nP);
  m->chosen.chosenStdBeta = vsfModelArray<double>(m, nP);
  m->chosen.chosenBetaVariance = vsfModelArray<double>(m, nP);
  m->chosen.chosenInModelList = vsfModelArray<int32_t>(m, nE);
  m->chosen.chosenEffectStatus = vsfModelArray<uint8_t>(m, nE);
  if (!m->chosen.chosenBeta || !m->chosen.chosenStdBeta || !m->chosen.chosenBetaVariance ||
      !m->chosen.chosenInModelList || !m->chosen.chosenEffectStatus)
    return VsfStatus::NoMemory;
  if (foldStats(m) &&
      (m->chosen.chosenFoldCvSse = vsfModelArray<double>(m, m->cv.foldCount)) == nullptr)
    return VsfStatus::NoMemory;
  if (foldBetaKept(m) && (m->chosen.chosenFoldBeta =
                              vsfModelArray<double>(m, int64_t(m->cv.foldCount) * nP)) == nullptr)
    return VsfStatus::NoMemory;
  m->chosen.chosenStep = 0;
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
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      if ((m->cv.folds[f].effectBlocks = vsfModelArray<double*>(m, nE)) == nullptr)
        return VsfStatus::NoMemory;
  for (int32_t e = 0; e < nE; ++e) {
    const int64_t c = m->effectColumns[e];
    if (c <= 0)
      continue;
    if ((m->effectBlocks[e] = vsfModelArray<double>(m, packed::tri(c))) == nullptr)
      return VsfStatus::NoMemory;
    if (cv)
      for (int32_t f = 0; f < m->cv.foldCount; ++f)
        if ((m->cv.folds[f].effectBlocks[e] = vsfModelArray<double>(m, packed::tri(c))) == nullptr)
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
  m->cvexPass.heldOutError = hostMissing();
}

} // namespace

VsfStatus vsfModelInit(VsfModel* model) {
  VsfModel* m = model;
  const VsfModelOptions* o = m->options;
  VsfStatus rc = openModelPool(m);
  if (rc != VsfStatus::Ok)
    return rc;
  m->sweptInflation = 0.0;
  m->trial.trialInflation = 0.0;
  m->refinedDigest = 0;
  m->refinedRounding = 0.0;
  // Nothing to fit: no training rows, or a validation criterion without validation rows.
  if (m->totals.nTrain == 0)
    return VsfStatus::Ok;
  if (m->totals.freqValidate == 0 &&
      (o->choose == VsfCriterion::Validate || o->stop == VsfCriterion::Validate ||
       o->select == VsfCriterion::Validate))
    return VsfStatus::Ok;
  if (m->includeCount == 0)
    m->includeCount = o->forcedIn;

  const int32_t nE = m->effectCount, nP = m->parmCount;
  const int32_t base = o->noint ? nE - 1 : nE;
  if ((rc = setUpHierarchy(m, o, nE)) != VsfStatus::Ok)
    return rc;
  m->stop.stepLimit = limitFor(m, o, base);
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
  m->xpxColumns = m->crossColumnCount = m->history.stepCount = m->rank = m->inModelCount = 0;
  m->history.changeListLength = 0;
  m->xpxCapacity = m->crossCapacity = m->history.stepCapacity = m->history.changeListCapacity = 0;
  m->effectBlocks = nullptr;
  m->trial.trialXpx = nullptr;
  m->trial.trialFlags = nullptr;
  m->trial.trialBlockShape = nullptr;
  m->trial.needTrialBlock = 0;
  m->xpx = m->sweptXpx = m->cross = nullptr;
  m->structured = nullptr;
  m->history.stepSSE = m->history.stepPress = m->history.stepValidateAse = m->history.stepTestAse =
      m->history.stepCvPress = nullptr;
  m->history.stepStdL1Norm = m->history.stepPathValue = m->history.stepL1Norm =
      m->history.stepL2Norm = nullptr;
  m->history.stepSSEFall = nullptr;
  m->path.sseFallKnown = 0;
  m->history.stepHeldOutError = m->history.stepHeldOutTestError = nullptr;
  m->history.stepEffect = m->history.changeList = m->history.stepRank = m->history.stepParms =
      m->history.stepEffects = nullptr;
  m->sweepFlags = nullptr;
  m->chosen.chosenBetaVariance = m->chosen.chosenBeta = m->chosen.chosenStdBeta = nullptr;
  m->chosen.chosenInModelList = nullptr;
  m->chosen.chosenEffectStatus = nullptr;
  m->chosen.chosenStep = 0;
  m->workVector = m->pathPass.corr = m->beta = m->stdBeta = m->candidateValue = nullptr;
  m->betaVariance = m->adaptive.adaptiveWeight = nullptr;
  m->effectStatus = nullptr;
  m->crossSlot = m->effectFirstColumn = nullptr;
  m->pathPass.dirCorr = m->pathPass.direction = m->pathPass.pathBeta = m->pathPass.solverBeta =
      m->path.savedBeta = nullptr;
  m->path.savedStdBeta = m->solver.savedSolverBetaA = m->solver.savedSolverBetaB = nullptr;
  m->path.activeSign = nullptr;
  m->adaptiveAliased = 0;
  m->aliasDrops.aliasDropCount = m->aliasDrops.aliasIncludeDropCount = 0;
  m->aliasDrops.aliasDropList = nullptr;
  m->press = 0;
  m->screen.screenBound = m->screen.screenStat = nullptr;
  m->screen.screenFlag = nullptr;
  m->totalSSUncorrected = m->totalSS = m->sse = m->fullMse = m->roundingSS = 0;
  m->responseSpread = 0.0;
  m->responseSpreadFormed = 0;
  m->validateAse = m->testAse = m->cvexPass.heldOutError = m->cvexPass.heldOutTestError = 0;
  m->history.stepScratchPos = nullptr;
  m->fitStatus = VsfFitStatus::Done;
  m->fitFailure = VsfStatus::Ok;
  m->stop.stopReason = VSR_NONE;
  m->stop.stopAddEffect = m->stop.stopDropEffect = 0;
  m->stop.stopAddValue = m->stop.stopDropValue = 0;
  m->trial.trialCopies = 0;
  m->trial.trialsSweptFully = 0;
  m->trial.savedSweptXpx = m->trial.savedXpx = nullptr;
  m->trial.savedSse = m->trial.savedCvPress = m->trial.savedPress = m->trial.savedValidateAse =
      m->trial.savedTestAse = 0;
  m->trial.savedSweptInflation = m->trial.savedRoundingSS = 0;
  m->trial.savedXpxColumns = m->trial.savedXpxCapacity = m->trial.savedRank =
      m->trial.savedInModelCount = 0;
  m->trial.savedInModelList = m->trial.savedEffectColumn = nullptr;
  m->trial.savedEffectStatus = nullptr;
  m->trial.savedSweepFlags = nullptr;
  m->trial.workSweptXpx = m->trial.cleanSweptXpx = m->trial.workXpx = nullptr;
  m->trial.workEffectColumn = m->trial.cleanEffectColumn = m->trial.workInModelList =
      m->trial.cleanInModelList = nullptr;
  m->trial.trialColumns = 0;
  m->trial.workSweepFlags = m->trial.cleanSweepFlags = nullptr;
  m->cvPress = 0;
  m->cv.folds = nullptr;
  m->cv.foldOwnColumn = nullptr;
  m->cv.foldCentre = m->cv.foldShift = m->cv.foldResidualShift = m->cv.foldPartCentre = nullptr;
  m->cv.foldFirstSums = m->cv.foldMeansTaken = nullptr;
  m->chosen.chosenFoldCvSse = nullptr;
  m->chosen.chosenFoldBeta = nullptr;
  m->solver.solverExtension = nullptr;
  m->hier.hierAddCount = m->hier.hierDropCount = nullptr;
}

} // namespace

void vsfModelByFree(VsfModel* model) {
  poolDestroy(model->pool);
  forgetPoolArrays(model);
}
