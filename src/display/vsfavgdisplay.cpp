// The results of a model-averaged BY group in their order (data and design tables, then
// the averaging tables and graphs in their group, with every sample's selected model under
// DETAILS), and the fit of model averaging. Declared in display/vsfdisplay.h.
#include "display/vsfdisplay.h"
#include "graphs/vsfgraph.h"
#include "model/vsfserialize.h"
#include "output/vsfaverage.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "selection/vsfprocess.h"
#include "selection/vsfresample.h"
#include "support/messages.h"
#include "support/stepcodes.h"

#include <string>

namespace {

// The tables of one sample's selected model, read from its final record in the resampler's
// file at *position, inside the group "Sample<k>".
[[nodiscard]] VsfStatus showSample(VsfContext* ctx, VsfResampler* r, int32_t i, int32_t k,
                                   int64_t* position, int32_t level) {
  RvqObject* group = vsfOpenGroup(
      ctx, ("Sample" + std::to_string(k)).c_str(),
      {rvqFlag(RvqAttrId::Numbered, 1), rvqTextHandle(RvqAttrId::Stem, vsfText("Sample")),
       vsfaLabel(msgText(VsfMsg::AverageSample, {k})), rvqDouble(RvqAttrId::GroupNumber, k),
       rvqFlag(RvqAttrId::GroupKind, 0)});
  vsfLevelNote(ctx, level, msgText(VsfMsg::ResultsSample, {k}), false);
  VsfModel sample{};
  sample.options = ctx->model.options;
  sample.dataSettings = ctx->model.dataSettings;
  sample.history.stepScratch = r->modelScratch;
  sample.history.stepScratchPos = position;
  sample.pool = ctx->byPool;
  // With step details the sample's step records are shown before its selected model.
  const VsfModelOptions& o = ctx->options;
  const int64_t first = *position;
  VsfStatus rc = VsfStatus::Ok;
  if (o.details >= VsfDetails::Steps)
    rc = vsfDisplaySteps(ctx, r->modelScratch, position, i);
  if (rc == VsfStatus::Ok)
    rc = vsfSeekFinalRecord(&sample, i);
  if (rc == VsfStatus::Ok && vsfRestoreModel(&sample) != VsfStatus::Ok)
    rc = VsfStatus::NotRestored;
  if (rc == VsfStatus::Ok && sample.fitStatus == VsfFitStatus::Done) {
    // The coefficient graph reads the sample's step records again from their start.
    int64_t steps = first;
    rc = vsfDisplayModel(ctx, &sample, nullptr, &steps, i);
  }
  if (ctx->outputGroup != nullptr) {
    vsfCloseObject(ctx->outputGroup);
    ctx->outputGroup = nullptr;
  }
  vsfCloseObject(group);
  vsfLevelMark(ctx, level);
  return rc;
}

// MODELAVERAGE DETAILS: every sample's selected model, numbered from 1 across the resamplers.
[[nodiscard]] VsfStatus sampleTables(VsfContext* ctx, int32_t level) {
  VsfResampling* d = ctx->resampling;
  int32_t k = 0;
  for (int32_t j = 0; j < d->count; ++j) {
    VsfResampler* r = &d->resamplers[j];
    int64_t position = 0;
    for (int32_t i = 0; i < r->sampleCount; ++i)
      if (VsfStatus rc = showSample(ctx, r, i, ++k, &position, level); rc != VsfStatus::Ok)
        return rc;
  }
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfResampleResults(VsfContext* ctx) {
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  const bool refit = ctx->resampling->settings.refitInProgress != 0;
  VsfModel* m = &ctx->model;
  VsfStatus rc = VsfStatus::Ok;
  // The first pass opens with the tables of the data and the design, then gathers its own
  // tables in a group; the refit's tables sit in the group that the refit opened.
  VsfGroup group;
  if (!refit) {
    if ((rc = vsfpNobs(ctx, m)) != VsfStatus::Ok ||
        (rc = vsfDesignTables(ctx, m->pool)) != VsfStatus::Ok)
      return rc;
    group.open(ctx, "InitialAverage",
               {vsfaLabel(msgText(ma.refit ? VsfMsg::AverageModelAveragingBeforeRefit
                                           : VsfMsg::AverageModelAveragingResults)),
                rvqFlag(RvqAttrId::GroupKind, 0)});
  }
  if (ma.details && (rc = sampleTables(ctx, refit ? 3 : 2)) != VsfStatus::Ok)
    return rc;
  if (refit) {
    rc = vsfpModelString(ctx, m, m->pool);
  } else {
    RvqText* pctData = nullptr; // the selection-percentage table when it serves the plot
    const int32_t pctRows =
        ma.espLevel != 0 ? vsfpBootstrapSelFreq(ctx, vsfgSelectPctShared(ctx) ? 1 : 0, &pctData)
                         : 0;
    rc = vsfgBootstrapSelFreq(ctx, &pctData, pctRows);
    if (rc == VsfStatus::Ok && ma.msfLevel != 0)
      rc = vsfpModelFreq(ctx);
  }
  if (rc == VsfStatus::Ok && ma.pestLevel != 0)
    rc = vsfpAverageEstimates(ctx, ma.nonzeroParms != 0 && !refit, refit);
  if (rc == VsfStatus::Ok)
    rc = vsfgBootstrapParmHistogram(ctx, m, refit);
  return rc;
}

VsfStatus vsfAverageFit(VsfContext* ctx) {
  const bool refit = ctx->resampling->settings.refitInProgress != 0;
  VsfStatus rc = vsfResamplersInit(ctx->resampling, ctx->maxRowsPerPage, refit);
  if (rc == VsfStatus::Ok)
    rc = vsfProcess(&ctx->model, ctx->resampling);
  if (rc == VsfStatus::Ok)
    rc = vsfPostBootstrap(ctx);
  return rc;
}
