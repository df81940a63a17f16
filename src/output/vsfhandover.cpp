// The hand-over of a BY group's selected model to the post-fit bridge: the estimates of the
// reduced design and the error variance through the bridge's set entry, and a description
// of the selected model (CLASS levels and codings, each effect's CLASS part tabulated by
// level combination, parameters in prediction order) for the sibling's run entry. With the
// full-model switch the data reader's means of the effects and variables go along. What the
// sibling makes of it is its own business.
#include "output/vsfhandover.h"

#include "data/vsfdata.h"
#include "design/levrow.h"
#include "driver/vsfbridge.h"
#include "driver/vsfcontext.h"
#include "output/vsfpostfitdesc.h"
#include "output/vsfselrow.h"
#include "support/hoststubs.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// The estimates of the reduced design: the selected design effects' blocks one after the
// other in design order, each parameter's estimate at its column.
std::vector<double> reducedEstimates(const LevDesign* d, const VsfModel* m,
                                     const VsfSelectedModel& sm) {
  std::vector<int32_t> effects = sm.designEffects;
  std::sort(effects.begin(), effects.end());
  effects.erase(std::unique(effects.begin(), effects.end()), effects.end());
  std::vector<int32_t> start(size_t(d->effectCount), -1);
  int32_t n = 0;
  for (int32_t e : effects) {
    start[size_t(e)] = n;
    n += d->effects[e].columnCount;
  }
  std::vector<double> beta(size_t(n), 0.0);
  for (size_t i = 0; i < sm.parms.size(); ++i)
    for (int32_t e : effects) {
      const LevEffect& ef = d->effects[e];
      if (sm.columns[i] >= ef.firstColumn && sm.columns[i] < ef.firstColumn + ef.columnCount)
        beta[size_t(start[size_t(e)] + sm.columns[i] - ef.firstColumn)] = m->beta[sm.parms[i]];
    }
  return beta;
}

} // namespace

int32_t vsfFormSelectedModelForBridge(VsfContext* ctx, VsfModel* m) {
  PostFitBridge* bridge = ctx->postFit;
  if (bridge == nullptr || m->fitStatus < 0)
    return 0;
  LevDesign* d = ctx->design.design;
  if (d == nullptr || d->effectCount == 0)
    return -2;
  VsfSelectedModel sm;
  vsfSelectedModelOf(ctx, m, &sm);
  if (!sm.usable)
    return 0;
  const std::vector<double> beta = reducedEstimates(d, m, sm);
  if (beta.empty())
    return -2;
  PostFitDescription h;
  vsfDescribeSelectedModel(h, ctx, m, sm);
  PostFitBridgeMethods* methods = bridge->methods;
  if (methods == nullptr)
    return 0;
  if (methods->set != nullptr) {
    methods->set(bridge, PFI_ESTIMATES, beta.data(), 0);
    if (ctx->postFitAllowed) {
      const double df = m->nObs - m->rank;
      bridge->statistics.values[1] = df > 0 ? std::max(m->sse, 0.0) / df : hostMissing();
      bridge->statistics.values[4] = df;
      const VsfReadResult* read = m->dataSettings != nullptr ? &m->dataSettings->read : nullptr;
      if (read != nullptr && read->bridgeEffectMeans != nullptr &&
          (d->designFlags & kLevFlagNonGlm) == 0)
        methods->set(bridge, PFI_EFFECT_MEANS, read->bridgeEffectMeans, 0);
      if (read != nullptr && read->bridgeWeightedMeans != nullptr)
        methods->set(bridge, PFI_WEIGHTED_MEANS, read->bridgeWeightedMeans, 0);
      if (read != nullptr && read->bridgeFreqMeans != nullptr)
        methods->set(bridge, PFI_FREQUENCY_MEANS, read->bridgeFreqMeans, 0);
    }
    methods->set(bridge, PFI_STATISTICS, &bridge->statistics, 0);
  }
  bridge->handedWord = 0;
  bridge->model = &h.model;
  if (methods->runModel != nullptr)
    methods->runModel(bridge);
  if (methods->finish != nullptr) {
    methods->finish(bridge, 0);
    if (bridge->returnCode != 0)
      vsfRaiseRC(ctx, bridge->returnCode);
  }
  bridge->model = nullptr;
  return 0;
}
