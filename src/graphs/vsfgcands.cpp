// The candidates plot of one step: the best candidate effects of the step ranked by the
// SELECT= criterion (the same ranking as the step's Candidates table), drawn as bars from
// the "PlotCandidates" data. Declared in graphs/vsfgraph.h.
#include "graphs/vsfgframe.h"
#include "graphs/vsfgraph.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cfloat>

namespace {

[[nodiscard]] bool noValue(double v) { return isHostMissing(v) || v == DBL_MAX || v == -DBL_MAX; }

// What emitCandidates returns when the plot's data object was not made.
constexpr int32_t kNoPlotData = 2;

// The row values of the "PlotCandidates" data, bound to its columns.
struct CandidateRows {
  char* effect = nullptr;
  int32_t width = 0;
  int32_t candidateFor = 0;
  double criterion = 0, criterionDrop = 0;
};

// Creates, fills and publishes the data; the kind (1 entry, -1 removal) of its last row, 0
// when the effect names are empty or their buffer cannot be taken, kNoPlotData when the
// manager made no data object (there is then nothing to plot).
[[nodiscard]] int32_t emitCandidates(VsfContext* ctx, VsfModel* m,
                                     const VsfCandidateRanking& ranked, int32_t shown,
                                     bool competitive, RvqText* title, RvqText** dataRef) {
  CandidateRows row;
  for (int32_t i = 0; i < shown; ++i) {
    int32_t length = 0;
    vsfEffectName(ctx, ranked.effects[i], &length);
    row.width = std::max(row.width, length);
  }
  row.effect = static_cast<char*>(poolTake(m->pool, row.width));
  if (row.effect == nullptr)
    return 0;
  VsfOut out(ctx);
  if (!out.create("PlotCandidates", nullptr))
    return kNoPlotData;
  out.charColumn("Effect", row.effect, row.width);
  if (competitive)
    out.intColumn("CandidateFor", &row.candidateFor);
  out.numberColumn("Criterion", &row.criterion);
  if (competitive)
    out.numberColumn("CriterionDrop", &row.criterionDrop);
  out.endColumns();
  out.bind("Stat.VARSIFTER.Phantom.Candidates",
           {vsfaDyn("_TITLE"), rvqTextHandle(RvqAttrId::Value, title),
            rvqFlag(RvqAttrId::GraphsOnly, ctx->stmt.proc.showInternal ? 0 : 1),
            vsfaDataRef(dataRef)});
  const int32_t changed = m->history.stepEffect[m->history.stepCount - 1];
  int32_t kind = 1;
  for (int32_t i = 0; i < shown; ++i) {
    const int32_t k = ranked.effects[i];
    // Like the table, a candidate without a value keeps its place with a missing value.
    const double v = noValue(ranked.values[i]) ? hostMissing() : ranked.values[i];
    int32_t length = 0;
    const char* name = vsfEffectName(ctx, k, &length);
    vsfFill(row.effect, row.width, name, length);
    kind = m->effectStatus[k] == 0 ? 1 : -1;
    if (k == changed)
      kind = -kind; // the effect that just entered or left counts as it did before the step
    row.candidateFor = kind;
    row.criterion = !competitive || kind == 1 ? v : hostMissing();
    row.criterionDrop = competitive && kind == -1 ? v : hostMissing();
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return kind;
}

} // namespace

VsfStatus vsfgCandidates(VsfContext* ctx, VsfModel* step) {
  const VsfModelOptions& o = ctx->options;
  const VsfPlotSettings& pl = ctx->stmt.plots;
  if (!vsfMethodSelects(o.method) || pl.candLevel == 0)
    return VsfStatus::Ok;
  const double start = zdattim();
  if (ctx->effectRecordCount <= 0 && step->effectCount <= 0)
    return VsfStatus::NoMemory;
  if (step->candidateValue == nullptr || step->history.stepCount <= 0)
    return VsfStatus::Ok;
  VsfCandidateRanking ranked;
  if (vsfRankCandidates(ctx, step, &ranked) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  // A step without candidates (every effect already in, or none with a value) has no plot.
  if (ranked.count == 0) {
    vsfFreeCandidates(step, &ranked);
    return VsfStatus::Ok;
  }
  const int32_t show = pl.candShow > 0 ? pl.candShow : 10;
  const int32_t shown = std::min(ranked.count, show);
  const bool competitive = vsfMethod(o.method).takesDrop && o.drop == VsfDrop::Competitive;
  RvqText* title = shown < ranked.count
                       ? msgText(competitive       ? VsfMsg::CandidatesBestN
                                 : ranked.addition ? VsfMsg::CandidatesBestNForEntry
                                                   : VsfMsg::CandidatesBestNForRemoval,
                                 {show})
                       : msgText(competitive       ? VsfMsg::CandidatesBest
                                 : ranked.addition ? VsfMsg::CandidatesForEntry
                                                   : VsfMsg::CandidatesForRemoval);
  RvqText* dataRef = nullptr;
  const int32_t kind = emitCandidates(ctx, step, ranked, shown, competitive, title, &dataRef);
  if (kind == 0 || kind == kNoPlotData) {
    vsfFreeCandidates(step, &ranked);
    return kind == 0 ? VsfStatus::NoMemory : VsfStatus::Ok;
  }
  double low = DBL_MAX, high = -DBL_MAX;
  for (int32_t i = 0; i < shown; ++i)
    if (!noValue(ranked.values[i]))
      low = std::min(low, ranked.values[i]), high = std::max(high, ranked.values[i]);
  const double baseline = low <= high ? low - 0.05 * (high - low) : 0.0;
  // Candidates for SELECT=SL are ranked by their log p-values.
  VsfCriterionLabels labels =
      vsfgCriterionLabels(o.select == VsfCriterion::Cvex ? VsfCriterion::Aicc : o.select);
  if (o.select == VsfCriterion::Sl) {
    labels.criterionLongLabel = VsfMsg::LogPValue;
    labels.criterionShortLabel = VsfMsg::LogPValue;
  }
  RvqText* longLabel = labels.folds ? msgText(labels.criterionLongLabel, {o.cvFolds})
                                    : msgText(labels.criterionLongLabel);
  const int32_t s = vsfgShownStep(ctx, step, step->history.stepCount - 1);
  RvqText* label = msgText(competitive ? VsfMsg::PlotBestCandidatesStep
                           : kind == 1 ? VsfMsg::PlotBestCandidatesEntryStep
                                       : VsfMsg::PlotBestCandidatesRemovalStep,
                           {HostMsgArg::text(longLabel), shown, s});
  VsfGraphCall g;
  g.head("CandidatesPlot", label, msgText(VsfMsg::BestCandidatesStep));
  g.templ("Stat.VARSIFTER.Graphics.CandidatesPlot");
  g.data(&dataRef, 1);
  g.text("_CRITERIONLABEL", longLabel);
  g.text("_SHORTCRITERIONLABEL", msgText(labels.criterionShortLabel));
  g.text("_METHOD", vsfgMethodText(ctx));
  g.value("_STEPNUMBER", rvqInt(RvqAttrId::Value, s));
  g.value("_BASELINE", rvqDouble(RvqAttrId::Value, baseline));
  g.text("_TITLE", title);
  g.value("_ADDANDDROP", rvqInt(RvqAttrId::Value, competitive ? 1 : 0));
  g.text("_DEPNAME", ctx->responseName);
  g.call(ctx);
  vsfFreeCandidates(step, &ranked);
  ctx->graphTime += zdattim() - start;
  return VsfStatus::Ok;
}
