// The refit of the averaged model (MODELAVERAGE REFIT): the effects selected often enough
// (and, with BEST=, only the best-ranked of them) are fitted again without selection over
// new resamples, and the averaged estimates of that plain fit are shown. The selection
// settings are switched to a plain fit for the second pass and restored after it.
// Declared in display/vsfdisplay.h.
#include "display/vsfdisplay.h"
#include "output/vsfaverage.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "selection/vsfresample.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

// Frequencies within this distance of the threshold count as reaching it.
constexpr double kFreqFuzz = 1.110223024625157e-13;

// One byte per effect: 1 for the effects the refit enters. Null when memory fails.
uint8_t* refitEffects(VsfContext* ctx) {
  const VsfAverageSummary& a = ctx->average;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  const VsfModel* m = &ctx->model;
  const int32_t E = m->effectCount;
  auto* flags = static_cast<uint8_t*>(ctx->byPool->allocate(ctx->byPool, size_t(E), kQkZeroed));
  if (flags == nullptr)
    return nullptr;
  const double N = a.usableCount;
  auto qualifies = [&](int32_t e) {
    if (!vsfInModelStatus(m->effectStatus[e]))
      return false;
    if (N == 0)
      return ma.refitMinPct <= 1 + kFreqFuzz;
    const double f = a.effectSelectCount[e] / N;
    return f != 0 && f + kFreqFuzz >= ma.refitMinPct;
  };
  // BEST= counts the intercept among the effects; without BEST= every effect is tested.
  std::vector<int32_t> order(static_cast<size_t>(E));
  std::iota(order.begin(), order.end(), 0);
  int32_t tested = E;
  if (ma.refitBest > 0) {
    // Most often selected first; equal counts keep the lower effect index first.
    std::stable_sort(order.begin(), order.end(), [&](int32_t x, int32_t y) {
      return a.effectSelectCount[x] > a.effectSelectCount[y];
    });
    tested = std::min(ma.refitBest, E);
  }
  for (int32_t i = 0; i < tested; ++i)
    if (qualifies(order[size_t(i)]))
      flags[order[size_t(i)]] = 1;
  return flags;
}

// The selection settings of a plain fit of the flagged effects on the full cross products.
void plainFitSettings(VsfModelOptions& o) {
  o.method = VsfMethod::None;
  o.choose = VsfCriterion::NoneGiven;
  o.stop = VsfCriterion::NoneGiven;
  o.select = VsfCriterion::NoneGiven;
  o.stopTest = 0;
  o.trialAll = 0;
  o.fullModelFirst = 0;
  o.fullXpx = 1;
  o.storeCross = 0;
  o.include = 0;
  o.forcedIn = o.noint ? 0 : 1;
  o.stepCandidates = 0;
  o.cvExternal = 0;
  o.colStandardize = 0;
  o.parmStandardize = 0;
  o.adaptive = 0;
}

} // namespace

VsfStatus vsfRefitAverage(VsfContext* ctx) {
  VsfModel* m = &ctx->model;
  if (m->effectCount <= 0 || m->effectColumnCopy == nullptr)
    return VsfStatus::NoMemory;
  uint8_t* flags = refitEffects(ctx);
  if (flags == nullptr)
    return VsfStatus::NoMemory;
  VsfResampling* d = ctx->resampling;
  const VsfModelOptions saved = ctx->options;
  plainFitSettings(ctx->options);
  // The refit forces in the intercept alone: the count of effects entered before selection
  // is taken again from the refit's settings, not kept from INCLUDE= of the first fit.
  m->includeCount = 0;
  vsfResamplersCleanup(d);
  vsfModelByFree(m);
  std::memcpy(m->effectColumn, m->effectColumnCopy, sizeof(int32_t) * size_t(m->effectCount));
  d->refitEffects = flags;
  d->settings.refitInProgress = 1;
  if (ctx->outputGroup != nullptr) {
    vsfCloseObject(ctx->outputGroup);
    ctx->outputGroup = nullptr;
    vsfLevelMark(ctx, 2);
    vsfLevelMark(ctx, 3);
  }
  VsfGroup group(
      ctx, "RefitAverage",
      {vsfaLabel(msgText(VsfMsg::AverageRefitAveragedModel)), rvqFlag(RvqAttrId::GroupKind, 1)});
  vsfLevelNote(ctx, 2, msgText(VsfMsg::AverageRefitAveragedModel), true);
  const VsfStatus rc = vsfFitAndDisplay(ctx);
  if (rc != VsfStatus::Ok)
    return rc;
  group.close();
  d->refitEffects = nullptr;
  d->settings.refitInProgress = 0;
  ctx->options = saved;
  return VsfStatus::Ok;
}
