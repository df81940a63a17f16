// The graph call frame (graph records, the step-axis list, the shown step range and its
// view) and the criterion and ASE plots, which draw the selection summary's data. What the
// templates draw from the names and values passed here is the host's.
#include "graphs/vsfgraph.h"

#include "graphs/vsfgframe.h"
#include "output/vsfcontext.h"
#include "output/vsfprint.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfcriterion.h"
#include "support/wobmth.h"

#include <algorithm>
#include <climits>
#include <cstdio>

namespace {

RvqText* labelText(const VsfContext* ctx, VsfMsg number, bool folds) {
  return folds ? msgText(number, {ctx->options.cvFolds}) : msgText(number);
}

const char* stepColumnSuffix(VsfStepAxis axis) {
  return axis == VsfStepAxis::StepLabel  ? "StepLabel"
         : axis == VsfStepAxis::NormBeta ? "NormBeta"
                                         : "Step";
}

// The view that filters the selection summary to the shown range, or null when the range
// is the whole path or the view selects no rows.
RvqObject* rangeView(VsfContext* ctx, const VsfStepRange& range, RvqText* summary) {
  if (!range.view || summary == nullptr)
    return nullptr;
  RvqObject* view = vsfgMakeView(ctx, summary, range);
  if (view != nullptr && vsfgViewRows(view) <= 0) {
    vsfgReleaseView(ctx, view);
    return nullptr;
  }
  return view;
}

} // namespace

VsfMsg vsfgSelectedStepMessage(VsfCriterion choose) { return vsfCriterion(choose).selectedStep; }

void vsfgCriterionAxisLabels(const VsfContext* ctx, VsfCriterion criterion, RvqText** yLabel,
                             RvqText** shortLabel) {
  const VsfCriterionTraits& c = vsfCriterion(criterion);
  if (c.plotStem.get() == nullptr) {
    *yLabel = *shortLabel = nullptr;
    return;
  }
  *yLabel = labelText(ctx, *c.longLabel.get(), c.folds);
  *shortLabel = labelText(ctx, *c.plotShortLabel.get(), c.folds);
}

VsfStatus vsfgCriterion(VsfContext* ctx, VsfModel* m, const int32_t* optimalSteps,
                        int32_t chosenStep, RvqText** summaryRef, RvqText** bestRef) {
  const VsfPlotSettings& pl = ctx->stmt.plots;
  if (pl.critLevel == 0)
    return VsfStatus::Ok;
  ctx->printStart = zdattim();
  const bool unpack = pl.critUnpack != 0;
  const char* templ =
      unpack ? "Stat.VARSIFTER.Graphics.CriterionPlot" : "Stat.VARSIFTER.Graphics.CriterionPanel";
  const VsfStepAxis axis = vsfgAutoAxis(pl.critStepAxis, m, unpack ? 26 : 11);
  VsfStepRange range{};
  if (!vsfgStepRange(ctx, m, pl.critStart, pl.critEnd, &range)) {
    vsfLog(VsfMsg::CriterionPlotsStepRangeEmpty);
    vsfRaiseRC(ctx, StepRc::Warning);
    return VsfStatus::Ok;
  }
  RvqText* selectedLabel = msgText(vsfgSelectedStepMessage(ctx->options.choose));
  VsfStepAxisList list = vsfgStepAxisList(ctx, axis, chosenStep, range);
  RvqText* summary = summaryRef != nullptr ? *summaryRef : nullptr;
  RvqText* best = bestRef != nullptr ? *bestRef : nullptr;
  RvqObject* group = unpack ? vsfOpenGroup(ctx, "CriterionPlots",
                                           {vsfaLabel(msgText(VsfMsg::CriterionLongCriterionPlots)),
                                            rvqFlag(RvqAttrId::GroupKind, 0)})
                            : nullptr;
  RvqObject* view = rangeView(ctx, range, summary);
  RvqText* both[2] = {summary, best};
  VsfGraphCall panel;
  int32_t counted = 0;
  for (const VsfCriterionTraits& c : kVsfCriterionTraits) {
    const size_t slot = vsfCriterionSlot(c.criterion);
    if (c.plotStem.get() == nullptr || optimalSteps[slot] == -1)
      continue;
    char column[40];
    std::snprintf(column, sizeof column, "%s%s", c.plotStem.get(), stepColumnSuffix(axis));
    const int32_t opt = ctx->results.optimalStep[slot];
    const bool outside = range.given && (opt < range.first || opt > range.last);
    RvqText* valueText = outside ? nullptr : vsfText(c.plotValue);
    if (unpack) {
      RvqText* yLabel = labelText(ctx, *c.longLabel.get(), c.folds);
      RvqText* shortLabel = labelText(ctx, *c.plotShortLabel.get(), c.folds);
      VsfGraphCall g;
      g.head(c.plotName,
             msgText(kMsgCriterionByAxisTitles[vsfgAxisRow(axis)], {HostMsgArg::text(yLabel)}),
             shortLabel);
      if (view == nullptr) {
        g.templ(templ);
        g.data(both, 2);
      } else {
        g.data(&both[1], 1);
        g.templ(templ);
        g.view(view);
      }
      g.text("_SELECTEDSTEPLABEL", selectedLabel);
      g.text("_CRITERION", vsfText(c.label));
      g.text("_OPTSTEP", vsfText(column));
      g.text("_OPTVAL", valueText);
      g.text("_YLABEL", yLabel);
      g.text("_SHORTYLABEL", shortLabel);
      g.text("_DEPNAME", ctx->responseName);
      g.text("_INTTICKS", list.intTicks);
      g.list(list);
      g.call(ctx);
    } else {
      ++counted;
      char name[32];
      std::snprintf(name, sizeof name, "_CRITERION%d", counted);
      panel.nested(name, rvqTextHandle(RvqAttrId::Value, vsfText(c.label)));
      std::snprintf(name, sizeof name, "_LABEL%d", counted);
      panel.nested(name, rvqTextHandle(RvqAttrId::Value, msgText(*c.panelLabel.get())));
      std::snprintf(name, sizeof name, "_OPTSTEP%d", counted);
      panel.nested(name, rvqTextHandle(RvqAttrId::Value, vsfText(column)));
      std::snprintf(name, sizeof name, "_OPTVAL%d", counted);
      panel.nested(name, rvqTextHandle(RvqAttrId::Value, valueText));
    }
  }
  if (!unpack) {
    panel.head("CriterionPanel", msgText(kMsgFitCriteriaByAxisTitles[vsfgAxisRow(axis)]),
               msgText(VsfMsg::CriterionLongPanelFitCriteriaAlong));
    panel.templ(templ);
    if (view == nullptr) {
      panel.data(both, 2);
    } else {
      panel.data(&both[1], 1);
      panel.view(view);
    }
    panel.value("_NROWS", rvqInt(RvqAttrId::Value, (counted + 1) / 2));
    panel.value("_NCOLS", rvqInt(RvqAttrId::Value, counted == 1 ? 1 : 2));
    panel.text("_DEPNAME", ctx->responseName);
    panel.text("_INTTICKS", list.intTicks);
    panel.text("_SELECTEDSTEPLABEL", selectedLabel);
    panel.list(list);
    panel.nestedList();
    panel.call(ctx);
  }
  vsfCloseObject(group);
  if (view != nullptr)
    vsfgReleaseView(ctx, view);
  ctx->graphTime += zdattim() - ctx->printStart;
  return VsfStatus::Ok;
}

VsfStatus vsfgAse(VsfContext* ctx, VsfModel* m, int32_t chosenStep, RvqText** summaryRef) {
  const VsfPlotSettings& pl = ctx->stmt.plots;
  if (pl.aseLevel == 0)
    return VsfStatus::Ok;
  ctx->printStart = zdattim();
  const bool roles = ctx->stmt.proc.valData != nullptr || ctx->stmt.proc.testData != nullptr ||
                     ctx->stmt.partition.given != 0;
  const VsfStepAxis axis = vsfgAutoAxis(pl.aseStepAxis, m, 26);
  VsfStepRange range{};
  if (!vsfgStepRange(ctx, m, pl.aseStart, pl.aseEnd, &range)) {
    vsfLog(VsfMsg::AsePlotStepRangeEmpty);
    vsfRaiseRC(ctx, StepRc::Warning);
    return VsfStatus::Ok;
  }
  VsfStepAxisList list = vsfgStepAxisList(ctx, axis, chosenStep, range);
  const VsfMsg label = (roles ? kMsgAseRolesByAxisTitles : kMsgAseByAxisTitles)[vsfgAxisRow(axis)];
  RvqText* summary = summaryRef != nullptr ? *summaryRef : nullptr;
  RvqObject* view = nullptr;
  if (range.view && summary != nullptr) {
    view = vsfgMakeView(ctx, summary, range);
    const bool empty = view == nullptr || vsfgViewRows(view) <= 0;
    if (empty) {
      if (view != nullptr)
        vsfgReleaseView(ctx, view);
      ctx->graphTime += zdattim() - ctx->printStart;
      return VsfStatus::Ok;
    }
  }
  VsfGraphCall g;
  g.head("ASEPlot", msgText(label), msgText(VsfMsg::ProgressionAverageSquaredErrors));
  g.templ("Stat.VARSIFTER.Graphics.ASEPlot");
  if (view != nullptr)
    g.view(view);
  else
    g.data(&summary, 1);
  g.value("_ASEROLES", rvqInt(RvqAttrId::Value, roles ? 1 : 0));
  g.text("_DEPNAME", ctx->responseName);
  g.text("_INTTICKS", list.intTicks);
  g.list(list);
  g.call(ctx);
  if (view != nullptr)
    vsfgReleaseView(ctx, view);
  ctx->graphTime += zdattim() - ctx->printStart;
  return VsfStatus::Ok;
}
