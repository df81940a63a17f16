// The resamplers of model averaging: set-up once per run, pools and files per BY group, and
// the driver that fits each resampler's samples in turn and writes one resample record per
// sample after the sample's frequency block.
#include "selection/vsfresample.h"

#include "data/vsfscratchfile.h"
#include "data/vsfutilfile.h"
#include "model/vsfmemplan.h"
#include "model/vsfserialize.h"
#include "numerics/zrandom.h"
#include "selection/vsfprocess.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/poolalloc.h"
#include "support/sizetext.h"
#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cstring>

namespace {

QkPool* resamplePool() {
  QkPoolAttributes attrs{};
  attrs.flags = 1;
  return Exported_QKHandle == nullptr
             ? nullptr
             : Exported_QKHandle->createPool(Exported_QKHandle, &attrs, nullptr, "resample pool");
}

[[nodiscard]] VsfStatus createFile(VsfScratch** slot, QkPool* pool, QkExtensionSet* exts,
                                   int32_t kind) {
  auto* file = static_cast<VsfScratch*>(pool->allocate(pool, sizeof(VsfScratch), kQkZeroed));
  if (file == nullptr)
    return VsfStatus::NoMemory;
  uint8_t status = 0;
  if (vsfCreateScratch(file, exts, 0, 0, nullptr, kind, &status) != 0)
    return VsfStatus::ScratchNotMade;
  *slot = file;
  return VsfStatus::Ok;
}

// What model averaging holds for each resample until its results are made: the record and
// frequency-block positions, the used flag and the model in sparse form (a parameter number
// and an estimate for each parameter it may select), and with SAMPLEFREQ the drawn frequency
// of every observation.
double bytesPerSample(const VsfResampling* d, const VsfModel* m) {
  const double fixed = 2.0 * sizeof(int64_t) + 1.0 + 96.0;
  const double model = 12.0 * std::max(m->parmCount, 1);
  const double frequencies =
      d->settings.keepFreqs ? 4.0 * static_cast<double>(m->totals.nObs) : 0.0;
  return fixed + model + frequencies;
}

// Ok when the resamples' records fit the memory left to the step; else ReportedFailure
// after an error that names NSAMPLES=, the memory needed and the memory left.
[[nodiscard]] VsfStatus planSamples(const VsfResampling* d, const VsfModel* m) {
  int64_t samples = 0;
  for (int32_t i = 0; i < d->count; ++i)
    samples += std::max(d->resamplers[i].sampleCount, 0);
  const double each = bytesPerSample(d, m);
  const double need = each * static_cast<double>(samples);
  const double left = vsfFitMemoryLeft(m);
  if (need <= left)
    return VsfStatus::Ok;
  char needText[32], leftText[32];
  vsfSizeText(need, needText, sizeof needText);
  vsfSizeText(std::max(left, 0.0), leftText, sizeof leftText);
  vsfLog(VsfMsg::ResamplesDoNotFit, {HostMsgArg(samples), HostMsgArg(needText),
                                     HostMsgArg(static_cast<int64_t>(each)), HostMsgArg(leftText)});
  return VsfStatus::ReportedFailure;
}

} // namespace

VsfStatus vsfResamplingSetUp(VsfResampling** out, QkPool* pool, const VsfModelAverageSettings& ma,
                             QkExtensionSet* exts) {
  auto* r = static_cast<VsfResampling*>(
      pool != nullptr ? pool->allocate(pool, sizeof(VsfResampling), kQkZeroed) : nullptr);
  const int32_t n = ma.threads > 0 ? ma.threads : 1;
  if (r == nullptr)
    return VsfStatus::NoMemory;
  r->resamplers =
      static_cast<VsfResampler*>(pool->allocate(pool, sizeof(VsfResampler) * size_t(n), kQkZeroed));
  r->streams =
      static_cast<RandomStream*>(pool->allocate(pool, sizeof(RandomStream) * size_t(n), kQkZeroed));
  if (r->resamplers == nullptr || r->streams == nullptr)
    return VsfStatus::NoMemory;
  r->count = n;
  r->base = ma.nSamples / n;
  r->remainder = ma.nSamples % n;
  r->refitBase = ma.refitNSamples / n;
  r->refitRemainder = ma.refitNSamples % n;
  r->modelRecords = ma.details;
  r->exts = exts;
  VsfResampleSettings& s = r->settings;
  s.fraction = ma.sampleFraction;
  s.size = ma.sampleSize;
  s.subsample = ma.srs;
  s.refit = ma.refit;
  for (int32_t i = 0; i < n; ++i) {
    RandomStream* stream = &r->streams[i];
    stream->seed = ma.seed != 0 ? int64_t{ma.seed} + i : 0;
    zmrsrnd(stream);
    r->resamplers[i].stream = stream;
  }
  *out = r;
  return VsfStatus::Ok;
}

VsfStatus vsfResamplersInit(VsfResampling* d, int64_t rowsPerPage, bool refit) {
  if (d == nullptr || d->count <= 0)
    return VsfStatus::Ok;
  for (int32_t i = 0; i < d->count; ++i) {
    VsfResampler* r = &d->resamplers[i];
    r->settings = &d->settings;
    // The first resamplers, as many as the remainder, take one sample more.
    r->sampleCount =
        (refit ? d->refitBase : d->base) + (i < (refit ? d->refitRemainder : d->remainder) ? 1 : 0);
    if ((r->pool = resamplePool()) == nullptr)
      return VsfStatus::NoPoolOrHandle;
    VsfStatus rc = createFile(&r->modelScratch, r->pool, d->exts, 0);
    if (rc == VsfStatus::Ok)
      rc = createFile(&r->freqScratch, r->pool, d->exts, 1);
    if (rc != VsfStatus::Ok)
      return VsfStatus::ScratchNotMade;
    if (rowsPerPage > 0 &&
        (r->freqBuffer = static_cast<double*>(r->pool->allocate(
             r->pool, sizeof(double) * size_t(rowsPerPage), kQkZeroed))) == nullptr)
      return VsfStatus::NoMemory;
    r->modelScratchPos = r->freqScratchPos = r->freqStart = r->freqEnd = 0;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfDriveResample(VsfResampling* d, VsfModel* m) {
  d->successCount = 0;
  if (VsfStatus rc = planSamples(d, m); rc != VsfStatus::Ok)
    return rc;
  for (int32_t i = 0; i < d->count; ++i) {
    VsfResampler* r = &d->resamplers[i];
    r->savedNObs = m->totals.nObs;
    r->savedNTrain = m->totals.nTrain;
    r->savedWTrain = m->totals.wTrain;
    m->resampler = r;
    if (VsfStatus rc = vsfProcessResample(d, m, r); rc != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfProcessResample(VsfResampling* d, VsfModel* m, VsfResampler* r) {
  // More resamplers than samples leaves the last ones idle.
  if (r->sampleCount <= 0)
    return VsfStatus::Ok;
  r->recordPos = static_cast<int64_t*>(r->pool->allocate(r->pool, 8 * size_t(r->sampleCount), 0));
  r->blockPos = static_cast<int64_t*>(r->pool->allocate(r->pool, 8 * size_t(r->sampleCount), 0));
  if (r->recordPos == nullptr || r->blockPos == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t i = 0; i < r->sampleCount; ++i) {
    r->sampleTag = i;
    r->sampleWeight = 0.0;
    m->resampler = r;
    // The previous sample's fit (also the last one of the previous resampler) goes now; the
    // last sample's fit stays in place for the results.
    if (m->pool != nullptr)
      vsfModelByFree(m);
    VsfStatus rc = vsfModelInit(m);
    if (rc == VsfStatus::Ok && d->refitEffects != nullptr)
      for (int32_t e = 0; e < m->effectCount; ++e)
        if (d->refitEffects[e] == 0)
          m->effectStatus[e] = VES_UNAVAILABLE;
    if (rc == VsfStatus::Ok)
      rc = vsfProcessModel(m);
    if (rc != VsfStatus::Ok)
      return rc;
    // The record follows the sample's frequency block, whatever later passes read.
    r->blockPos[i] = r->freqStart;
    r->recordPos[i] = r->freqEnd;
    r->freqScratchPos = r->freqEnd;
    r->sampleTag = -100 - i;
    if (vsfSerializeResample(m, r->freqScratch->file, &r->freqScratchPos) != VsfStatus::Ok)
      return VsfStatus::SampleNotWritten;
    if (d->modelRecords && vsfSerializeModel(m) != VsfStatus::Ok)
      return VsfStatus::PageNotWritten;
    if (m->fitStatus == VsfFitStatus::Done)
      ++d->successCount;
    m->totals.nObs = r->savedNObs;
    m->totals.nTrain = r->savedNTrain;
    m->totals.wTrain = r->savedWTrain;
  }
  return VsfStatus::Ok;
}

void vsfResamplersCleanup(VsfResampling* d) {
  if (d == nullptr || d->resamplers == nullptr)
    return;
  for (int32_t i = 0; i < d->count; ++i) {
    VsfResampler* r = &d->resamplers[i];
    if (r->modelScratch != nullptr)
      vsfFreeScratch(r->modelScratch, d->exts);
    if (r->freqScratch != nullptr)
      vsfFreeScratch(r->freqScratch, d->exts);
    r->modelScratch = r->freqScratch = nullptr;
    r->freqBuffer = nullptr;
    r->recordPos = r->blockPos = nullptr;
    poolDestroy(r->pool);
  }
}
