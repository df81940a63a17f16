// Writers and readers of the step and resample records. Blocks follow one another
// without padding, in machine byte order; which optional blocks are present follows from
// the options, so a reader runs with the writer's options.
#include "model/vsfserialize.h"

#include "data/vsfscratchfile.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"
#include "support/vsfpools.h"

#include <cerrno>
#include <cstring>
#include <type_traits>

namespace {

struct Writer {
  QkByteFile* file;
  int64_t* pos;
  VsfStatus rc = VsfStatus::Ok;
  VsfRecordFailure failure{};
  template <class T> void put(const T* data, int64_t count) {
    if (rc != VsfStatus::Ok || count <= 0)
      return;
    const int64_t bytes = static_cast<int64_t>(sizeof(T)) * count;
    errno = 0;
    rc = statusFromCode(vsfWriteScratch(file, data, bytes, pos));
    if (rc != VsfStatus::Ok)
      failure = {bytes, errno};
  }
  template <class T> void one(T v) { put(&v, 1); }
};

// The writer's status, with what its failed write met told to `failure` when one is given.
VsfStatus told(const Writer& w, VsfRecordFailure* failure) {
  if (failure != nullptr)
    *failure = w.failure;
  return w.rc;
}

struct Reader {
  QkByteFile* file;
  int64_t* pos;
  VsfStatus rc = VsfStatus::Ok;
  template <class T> void get(T* data, int64_t count) {
    if (rc == VsfStatus::Ok && count > 0)
      rc = statusFromCode(vsfReadScratch(file, data, static_cast<int64_t>(sizeof(T)) * count, pos));
  }
};

[[nodiscard]] bool cvDetailsGiven(const VsfModel* m) {
  return m->options->cvDetails != VsfCvDetails::None;
}
[[nodiscard]] bool foldStatsAsked(const VsfModel* m) { return vsfCvFoldStatsAsked(*m->options); }
[[nodiscard]] bool foldBetaAsked(const VsfModel* m) { return vsfCvFoldBetaAsked(*m->options); }

// The statistics in record order.
constexpr int kStatCount = 29;
double* const* statFields(VsfModel* m, double* (&f)[kStatCount]) {
  double* list[kStatCount] = {&m->totals.nObs,
                              &m->totals.freqUsed,
                              &m->totals.freqRead,
                              &m->totals.nUsed,
                              &m->totals.nRead,
                              &m->totals.nTrain,
                              &m->totals.nValidate,
                              &m->totals.freqValidate,
                              &m->totals.nTest,
                              &m->totals.freqTest,
                              &m->totals.nNoRole,
                              &m->totals.freqNoRole,
                              &m->totalSS,
                              &m->totalSSUncorrected,
                              &m->fullMse,
                              &m->sse,
                              &m->sumWY,
                              &m->totals.wTrain,
                              &m->press,
                              &m->validateAse,
                              &m->testAse,
                              &m->cvPress,
                              &m->totals.testDataRead,
                              &m->totals.testDataUsed,
                              &m->totals.valDataRead,
                              &m->totals.valDataUsed,
                              &m->totals.wValidate,
                              &m->totals.wTest,
                              &m->roundingSS};
  std::memcpy(f, list, sizeof list);
  return f;
}

int32_t* const* countFields(VsfModel* m, int32_t* (&c)[13]) {
  int32_t* list[13] = {&m->effectCount,
                       &m->parmCount,
                       &m->history.stepCount,
                       &m->rank,
                       &m->inModelCount,
                       &m->singleColumnEffectCount,
                       &m->xpxColumns,
                       &m->stop.stepLimit,
                       &m->chosen.chosenStep,
                       &m->cv.foldCount,
                       &m->aliasDrops.aliasDropCount,
                       &m->includeCount,
                       &m->adaptiveAliased};
  std::memcpy(c, list, sizeof list);
  return c;
}

} // namespace

VsfStatus vsfSerializeModel(VsfModel* m, VsfRecordFailure* failure) {
  Writer w{m->history.stepScratch != nullptr ? m->history.stepScratch->file : nullptr,
           m->history.stepScratchPos};
  if (w.file == nullptr || w.pos == nullptr)
    return VsfStatus::PageNotWritten;
  // A resampler's records start with its sample tag, so that a reader can tell a sample's
  // steps from its final record.
  if (m->resampler != nullptr)
    w.one<int32_t>(m->resampler->sampleTag);
  w.one<int32_t>(static_cast<int32_t>(m->fitStatus));
  double* sf[kStatCount];
  int32_t* cf[13];
  statFields(m, sf);
  countFields(m, cf);
  double stats[kStatCount];
  int32_t counts[13];
  for (int i = 0; i < kStatCount; ++i)
    stats[i] = *sf[i];
  for (int i = 0; i < 13; ++i)
    counts[i] = *cf[i];
  w.put(stats, kStatCount);
  w.put(counts, 13);
  if (w.rc != VsfStatus::Ok || vsfFitFailed(m->fitStatus))
    return told(w, failure);
  const int32_t nE = m->effectCount, nP = m->parmCount, nS = m->history.stepCount;
  const VsfModelOptions* o = m->options;
  w.put(m->inModelList, nE);
  w.put(m->parmOffset, nE);
  if (m->aliasDrops.aliasDropCount != 0)
    w.put(m->aliasDrops.aliasDropList, m->aliasDrops.aliasDropCount);
  w.put(m->history.stepEffect, nS);
  w.put(m->history.stepRank - 1, nS + 1);
  w.put(m->history.stepParms, nS);
  w.put(m->history.stepEffects - 1, nS + 1);
  w.put(m->history.stepSSE, nS);
  if (o->pressNeeded)
    w.put(m->history.stepPress, nS);
  if (vsfValidationInUse(m))
    w.put(m->history.stepValidateAse, nS);
  if (vsfTestInUse(m))
    w.put(m->history.stepTestAse, nS);
  if (o->stdL1History)
    w.put(m->history.stepStdL1Norm, nS);
  if (vsfCvOn(m)) {
    w.put(m->history.stepCvPress, nS);
    if (cvDetailsGiven(m) && m->cv.foldCount >= 1)
      for (int32_t f = 0; f < m->cv.foldCount; ++f) {
        const VsfFoldRecord& F = m->cv.folds[f];
        if (foldStatsAsked(m)) {
          const double four[4] = {F.cvSse, F.rowCount, F.freqCount, F.weightCount};
          w.put(four, 4);
        }
        if (foldBetaAsked(m))
          w.put(F.beta, nP);
      }
  }
  if (vsfCvExternalOn(m))
    w.put(m->history.stepHeldOutError, nS);
  w.put(m->effectStatus, nE);
  w.put(m->beta, nP);
  w.put(m->betaVariance, nP);
  w.put(m->stdBeta, nP);
  if (o->storeCandidates)
    w.put(m->candidateValue, nE);
  if (o->choose != VsfCriterion::NoneGiven) {
    w.put(m->chosen.chosenBeta, nP);
    w.put(m->chosen.chosenBetaVariance, nP);
    w.put(m->chosen.chosenStdBeta, nP);
    w.put(m->chosen.chosenInModelList, nE);
    w.put(m->chosen.chosenEffectStatus, nE);
  }
  uint8_t stop[32] = {};
  stop[0] = m->stop.stopReason;
  std::memcpy(stop + 8, &m->stop.stopAddEffect, 4);
  std::memcpy(stop + 12, &m->stop.stopDropEffect, 4);
  std::memcpy(stop + 16, &m->stop.stopAddValue, 8);
  std::memcpy(stop + 24, &m->stop.stopDropValue, 8);
  w.put(stop, 32);
  if (vsfMethodRoad(o->method, VsfFitRoad::GroupLasso)) {
    w.one<int32_t>(m->history.changeListLength);
    if (m->history.changeListLength != 0)
      w.put(m->history.changeList, m->history.changeListLength);
  }
  return told(w, failure);
}

VsfStatus vsfRestoreModel(VsfModel* m) {
  Reader r{m->history.stepScratch != nullptr ? m->history.stepScratch->file : nullptr,
           m->history.stepScratchPos};
  if (r.file == nullptr || r.pos == nullptr)
    return VsfStatus::NotRestored;
  int32_t status = 0;
  r.get(&status, 1);
  m->fitStatus = static_cast<VsfFitStatus>(status);
  double stats[kStatCount];
  int32_t counts[13];
  r.get(stats, kStatCount);
  r.get(counts, 13);
  if (r.rc != VsfStatus::Ok)
    return r.rc;
  double* sf[kStatCount];
  int32_t* cf[13];
  statFields(m, sf);
  countFields(m, cf);
  for (int i = 0; i < kStatCount; ++i)
    *sf[i] = stats[i];
  for (int i = 0; i < 13; ++i)
    *cf[i] = counts[i];
  if (vsfFitFailed(m->fitStatus))
    return VsfStatus::Ok;
  const int32_t nE = m->effectCount, nP = m->parmCount, nS = m->history.stepCount,
                nF = m->cv.foldCount;
  const VsfModelOptions* o = m->options;
  auto need = [&](auto*& arr, int64_t count) -> bool {
    using T = std::remove_reference_t<decltype(*arr)>;
    arr = vsfModelArray<T>(m, count);
    return arr != nullptr;
  };
  int32_t* stepRank = nullptr;
  int32_t* stepEffects = nullptr;
  double* stepSSE = nullptr;
  if (!need(m->effectStatus, nE) || !need(m->inModelList, nE) || !need(m->parmOffset, nE) ||
      (m->aliasDrops.aliasDropCount != 0 &&
       !need(m->aliasDrops.aliasDropList, m->aliasDrops.aliasDropCount)) ||
      !need(m->history.stepEffect, nS) || !need(stepRank, nS + 1) ||
      !need(m->history.stepParms, nS) || !need(stepEffects, nS + 1) || !need(stepSSE, nS + 1) ||
      !need(m->beta, nP) || !need(m->betaVariance, nP) || !need(m->stdBeta, nP) ||
      (o->storeCandidates && !need(m->candidateValue, nE)))
    return VsfStatus::NoMemory;
  m->history.stepRank = stepRank + 1;
  m->history.stepEffects = stepEffects + 1;
  m->history.stepSSE = stepSSE + 1;
  stepSSE[0] = m->totalSS;
  if (o->choose != VsfCriterion::NoneGiven &&
      (!need(m->chosen.chosenBetaVariance, nP) || !need(m->chosen.chosenBeta, nP) ||
       !need(m->chosen.chosenStdBeta, nP) || !need(m->chosen.chosenInModelList, nE) ||
       !need(m->chosen.chosenEffectStatus, nE)))
    return VsfStatus::NoMemory;
  if (cvDetailsGiven(m)) {
    if (!need(m->cv.folds, nF))
      return VsfStatus::NoMemory;
    if (foldBetaAsked(m)) {
      for (int32_t f = 0; f < nF; ++f)
        if (!need(m->cv.folds[f].beta, nP))
          return VsfStatus::NoMemory;
      if (!need(m->workVector, nF))
        return VsfStatus::NoMemory;
    }
  }
  r.get(m->inModelList, nE);
  r.get(m->parmOffset, nE);
  if (m->aliasDrops.aliasDropCount != 0)
    r.get(m->aliasDrops.aliasDropList, m->aliasDrops.aliasDropCount);
  r.get(m->history.stepEffect, nS);
  r.get(stepRank, nS + 1);
  r.get(m->history.stepParms, nS);
  r.get(stepEffects, nS + 1);
  r.get(m->history.stepSSE, nS);
  auto series = [&](double*& arr) {
    if (r.rc == VsfStatus::Ok && nS > 0 && !need(arr, nS))
      r.rc = VsfStatus::NoMemory;
    r.get(arr, nS);
  };
  if (o->pressNeeded)
    series(m->history.stepPress);
  if (vsfValidationInUse(m))
    series(m->history.stepValidateAse);
  if (vsfTestInUse(m))
    series(m->history.stepTestAse);
  if (o->stdL1History)
    series(m->history.stepStdL1Norm);
  if (vsfCvOn(m)) {
    series(m->history.stepCvPress);
    if (cvDetailsGiven(m) && nF >= 1)
      for (int32_t f = 0; f < nF; ++f) {
        VsfFoldRecord& F = m->cv.folds[f];
        if (foldStatsAsked(m)) {
          double four[4] = {};
          r.get(four, 4);
          F.cvSse = four[0];
          F.rowCount = four[1];
          F.freqCount = four[2];
          F.weightCount = four[3];
        }
        if (foldBetaAsked(m))
          r.get(F.beta, nP);
      }
  }
  if (vsfCvExternalOn(m))
    series(m->history.stepHeldOutError);
  r.get(m->effectStatus, nE);
  r.get(m->beta, nP);
  r.get(m->betaVariance, nP);
  r.get(m->stdBeta, nP);
  if (o->storeCandidates)
    r.get(m->candidateValue, nE);
  if (o->choose != VsfCriterion::NoneGiven) {
    r.get(m->chosen.chosenBeta, nP);
    r.get(m->chosen.chosenBetaVariance, nP);
    r.get(m->chosen.chosenStdBeta, nP);
    r.get(m->chosen.chosenInModelList, nE);
    r.get(m->chosen.chosenEffectStatus, nE);
  }
  uint8_t stop[32] = {};
  r.get(stop, 32);
  m->stop.stopReason = stop[0];
  std::memcpy(&m->stop.stopAddEffect, stop + 8, 4);
  std::memcpy(&m->stop.stopDropEffect, stop + 12, 4);
  std::memcpy(&m->stop.stopAddValue, stop + 16, 8);
  std::memcpy(&m->stop.stopDropValue, stop + 24, 8);
  if (vsfMethodRoad(o->method, VsfFitRoad::GroupLasso)) {
    r.get(&m->history.changeListLength, 1);
    if (r.rc == VsfStatus::Ok && m->history.changeListLength != 0) {
      if (!need(m->history.changeList, m->history.changeListLength))
        return VsfStatus::NoMemory;
      r.get(m->history.changeList, m->history.changeListLength);
    }
  }
  return r.rc;
}

VsfStatus vsfSeekFinalRecord(VsfModel* m, int32_t sample) {
  Reader r{m->history.stepScratch != nullptr ? m->history.stepScratch->file : nullptr,
           m->history.stepScratchPos};
  if (r.file == nullptr || r.pos == nullptr)
    return VsfStatus::NotRestored;
  // Every step record of the sample precedes its final record: each is read in full (into a
  // pool of its own) to reach the next tag.
  for (;;) {
    int32_t tag = 0;
    r.get(&tag, 1);
    if (r.rc != VsfStatus::Ok)
      return VsfStatus::NotRestored;
    if (tag == -100 - sample)
      return VsfStatus::Ok;
    if (tag != sample)
      return VsfStatus::NotRestored;
    VsfModel step{};
    step.options = m->options;
    step.dataSettings = m->dataSettings;
    step.history.stepScratch = m->history.stepScratch;
    step.history.stepScratchPos = m->history.stepScratchPos;
    step.pool = vsfCreateNamedPool(1, "step pool");
    if (step.pool == nullptr)
      return VsfStatus::NotRestored;
    const VsfStatus rc = vsfRestoreModel(&step);
    step.pool->destroy(step.pool);
    if (rc != VsfStatus::Ok)
      return VsfStatus::NotRestored;
  }
}

VsfStatus vsfNextSampleStep(VsfModel* m, int32_t sample, bool* stepOfSample) {
  *stepOfSample = false;
  Reader r{m->history.stepScratch != nullptr ? m->history.stepScratch->file : nullptr,
           m->history.stepScratchPos};
  if (r.file == nullptr || r.pos == nullptr)
    return VsfStatus::NotRestored;
  const int64_t before = *r.pos;
  int32_t tag = 0;
  r.get(&tag, 1);
  if (r.rc != VsfStatus::Ok)
    return VsfStatus::NotRestored;
  if (tag == sample) {
    *stepOfSample = true;
    return VsfStatus::Ok;
  }
  *r.pos = before;
  return VsfStatus::Ok;
}

VsfStatus vsfSerializeResample(VsfModel* m, QkByteFile* file, int64_t* position) {
  Writer w{file, position};
  w.one<int32_t>(static_cast<int32_t>(m->fitStatus));
  if (w.rc != VsfStatus::Ok || vsfFitFailed(m->fitStatus))
    return w.rc;
  const bool chosen = m->options->choose != VsfCriterion::NoneGiven;
  const int32_t n = chosen ? m->history.stepEffects[m->chosen.chosenStep] : m->inModelCount;
  w.one<int32_t>(n);
  w.put(chosen ? m->chosen.chosenInModelList : m->inModelList, n);
  w.put(chosen ? m->chosen.chosenBeta : m->beta, m->parmCount);
  return w.rc;
}

VsfStatus vsfRestoreResample(QkByteFile* file, int32_t parmCount, int64_t* position,
                             int32_t* status, int32_t* count, int32_t* effects, double* estimates) {
  Reader r{file, position};
  r.get(status, 1);
  if (r.rc != VsfStatus::Ok || *status < 0)
    return r.rc;
  r.get(count, 1);
  if (r.rc == VsfStatus::Ok)
    r.get(effects, *count);
  r.get(estimates, parmCount);
  return r.rc;
}
