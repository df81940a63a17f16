// The model-averaging tables of a BY group: effect selection percentages, the frequencies
// of the distinct selected models and the averaged parameter estimates, read from the
// summary (vsfaverage.h). Declared in output/vsfprinters.h.
#include "data/vsfscratchfile.h"
#include "model/vsfserialize.h"
#include "output/vsfaverage.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfparmcolumns.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "selection/vsfprocess.h"
#include "selection/vsfresample.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

std::vector<int32_t> vsfOrderByCount(const VsfAverageSummary& a, std::vector<int32_t> effects,
                                     VsfOrder order) {
  if (order != VsfOrder::Model)
    std::stable_sort(effects.begin(), effects.end(), [&](int32_t x, int32_t y) {
      return order == VsfOrder::Ascending ? a.effectSelectCount[x] < a.effectSelectCount[y]
                                          : a.effectSelectCount[x] > a.effectSelectCount[y];
    });
  return effects;
}

namespace {

std::string nameOf(VsfContext* ctx, int32_t e) {
  int32_t length = 0;
  const char* name = vsfEffectName(ctx, e, &length);
  return name != nullptr ? std::string(name, size_t(length)) : std::string();
}

} // namespace

int32_t vsfpBootstrapSelFreq(VsfContext* ctx, int32_t mode, RvqText** plotData) {
  const VsfAverageSummary& a = ctx->average;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  const VsfPlotSettings& g = ctx->stmt.plots;
  const bool plotOnly = mode == 2;
  const VsfOrder order = plotOnly && g.espOrder != VsfOrder::Model ? g.espOrder : ma.espOrder;
  const double minPct = plotOnly && g.espMinPct != -1.0 ? g.espMinPct : ma.espMinPct;
  std::vector<int32_t> all;
  all.reserve(static_cast<size_t>(std::max(ctx->model.effectCount, 0)));
  for (int32_t e = 0; e < ctx->model.effectCount; ++e)
    all.push_back(e);
  std::vector<std::string> names;
  std::vector<double> pcts;
  for (int32_t e : vsfOrderByCount(a, all, order)) {
    const double pct = a.effectSelectCount[e] * (100.0 / a.usableCount);
    std::string name = nameOf(ctx, e);
    if (pct == 0.0 || pct < minPct || name == "Intercept")
      continue;
    names.push_back(name);
    pcts.push_back(pct);
  }
  int32_t width = 1;
  for (const std::string& n : names)
    width = std::max(width, static_cast<int32_t>(n.size()));
  std::vector<char> effect(size_t(width) + 1);
  double pct = 0.0;
  VsfOut out(ctx);
  if (!out.create(plotOnly ? "EffectSelPercentageForPlot" : "EffectSelectPct",
                  msgText(VsfMsg::AverageEffectSelectionPercentage)))
    return 0;
  out.charColumn("Effect", effect.data(), width);
  out.numberColumn("SelectionPct", &pct);
  out.endColumns();
  RvqText* header =
      minPct == 0.0 ? msgText(VsfMsg::AverageEffectSelectionPercentage)
                    : msgText(VsfMsg::AverageEffectSelectionPercentageLeast, {HostMsgArg(minPct)});
  const bool hidden = plotOnly && !ctx->stmt.proc.showInternal;
  if (mode == 0)
    out.bind("Stat.VARSIFTER.EffectSelectPct",
             {vsfaDyn("tableHeader"), rvqTextHandle(RvqAttrId::Value, header)});
  else
    out.bind("Stat.VARSIFTER.EffectSelectPct",
             {vsfaDataRef(plotData), rvqFlag(RvqAttrId::GraphsOnly, hidden ? 1 : 0),
              vsfaDyn("tableHeader"), rvqTextHandle(RvqAttrId::Value, header)});
  for (size_t i = 0; i < names.size(); ++i) {
    vsfFill(effect.data(), width, names[i].data(), static_cast<int32_t>(names[i].size()));
    pct = pcts[i];
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return static_cast<int32_t>(names.size());
}

VsfStatus vsfpModelFreq(VsfContext* ctx) {
  const VsfAverageSummary& a = ctx->average;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  const VsfModel* m = &ctx->model;
  const int32_t shown = std::min(a.modelCount, ma.msfBest > 0 ? ma.msfBest : a.modelCount);
  std::vector<std::string> texts;
  bool footnote = false;
  int32_t width = 1;
  for (int32_t r = 0; r < shown; ++r) {
    const VsfModelNode& node = a.models[a.modelOrder[r]];
    std::string t;
    for (int32_t k = 0; k < node.effectCount; ++k)
      t += nameOf(ctx, node.effects[k]) + " ";
    width = std::max(width, static_cast<int32_t>(t.size()));
    texts.push_back(t);
    footnote = footnote || !node.usedInAverage;
  }
  const bool subset = ma.minModelFreq != 0 || ma.subsetBest != 0;
  int32_t notUsed = 0, times = 0, nEffects = 0;
  double pct = 0, score = 0;
  std::vector<char> effects(size_t(width) + 1);
  std::vector<int32_t> indicator(size_t(std::max(m->inModelCount, 1)));
  char control[2] = " ";
  VsfOut out(ctx);
  if (!out.create("ModelSelectFreq", msgText(VsfMsg::AverageModelSelectionFrequency)))
    return VsfStatus::Ok;
  if (subset)
    out.intColumn("NotUsed", &notUsed);
  out.intColumn("TimesSelected", &times);
  out.numberColumn("SelectionPct", &pct);
  out.intColumn("NEffectsInModel", &nEffects);
  out.numberColumn("FreqScore", &score);
  out.charColumn("EffectsInModel", effects.data(), width);
  std::vector<std::string> columnNames;
  columnNames.reserve(static_cast<size_t>(std::max(m->inModelCount, 0)));
  for (int32_t t = 0; t < m->inModelCount; ++t)
    columnNames.push_back(nameOf(ctx, m->inModelList[t]));
  for (int32_t t = 0; t < m->inModelCount; ++t)
    out.intColumn(columnNames[size_t(t)].c_str(), &indicator[size_t(t)]);
  out.charColumn("Control", control, 1);
  out.endColumns();
  out.bind("Stat.VARSIFTER.ModelSelectFreq",
           {vsfaDyn("widthMax"), rvqInt(RvqAttrId::Value, width), vsfaDyn("printFootnote"),
            rvqInt(RvqAttrId::Value, footnote ? 1 : 0)});
  bool marked = false;
  for (int32_t r = 0; r < shown; ++r) {
    const VsfModelNode& node = a.models[a.modelOrder[r]];
    times = node.timesSelected;
    pct = node.timesSelected * (100.0 / a.usableCount);
    nEffects = node.effectCount;
    score = node.timesSelected + node.meanSelectFraction;
    vsfFill(effects.data(), width, texts[size_t(r)].data(), int32_t(texts[size_t(r)].size()));
    for (int32_t t = 0; t < m->inModelCount; ++t)
      indicator[size_t(t)] =
          std::binary_search(node.effects, node.effects + node.effectCount, m->inModelList[t]);
    control[0] = ' ';
    if (!node.usedInAverage && !marked) {
      marked = true;
      control[0] = '-';
    }
    notUsed = marked ? 1 : 0;
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}

// The averaged estimates; the refit's table (`refit`) has neither the forced-in marks nor
// the selection counts. Effects, parameters and CLASS levels are named as in the estimates
// of a fit.
VsfStatus vsfpAverageEstimates(VsfContext* ctx, bool nonzero, bool refit) {
  const VsfAverageSummary& a = ctx->average;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  const VsfModelOptions& o = ctx->options;
  const VsfModel* m = &ctx->model;
  VsfParmColumns cols(ctx, ctx->byPool);
  if (cols.measure(m, o.noint) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  int32_t forced = 0, count = 0, trimmed = 0;
  double pct = 0, mean = 0, sd = 0, median = 0, lower = 0, upper = 0;
  const double q = ma.alpha / 2.0, trimPct = ma.trimFraction * 100.0;
  const bool forcedColumn = o.include > 0 && !refit;
  VsfOut out(ctx);
  if (!out.create(refit ? "RefitAvgParmEst" : "AvgParmEst",
                  msgText(VsfMsg::AverageParameterEstimates)))
    return VsfStatus::Ok;
  out.charColumn("Effect", cols.effect, cols.We);
  if (cols.classColumns(out) != VsfStatus::Ok)
    return VsfStatus::NoMemory; // after the object was made
  if (forcedColumn)
    out.intColumn("ForcedIn", &forced);
  out.charColumn("Parameter", cols.parameter, cols.Wp);
  if (!refit) {
    out.intColumn("NumberNonzero", &count);
    if (ma.trimFraction != 0.0)
      out.intColumn("TrimmedNumberNonzero", &trimmed);
    out.numberColumn("NonZeroPct", &pct);
  }
  out.numberColumn("Mean", &mean);
  out.numberColumn("StdDev", &sd);
  out.numberColumn("Median", &median);
  out.numberColumn("LowerQuantile", &lower);
  out.numberColumn("UpperQuantile", &upper);
  out.endColumns();
  RvqText* meanHeader = ma.trimFraction == 0.0
                            ? msgText(VsfMsg::MeanEstimate)
                            : msgText(VsfMsg::PercentTrimmedMeanEstimate, {HostMsgArg(trimPct)});
  RvqText* sdHeader = ma.trimFraction == 0.0
                          ? msgText(VsfMsg::StandardDeviation)
                          : msgText(VsfMsg::PercentTrimmedStandardDeviation, {HostMsgArg(trimPct)});
  RvqText* lowerHeader = msgText(VsfMsg::ThQuantile, {HostMsgArg(q * 100)});
  RvqText* upperHeader = msgText(VsfMsg::ThQuantile, {HostMsgArg((1 - q) * 100)});
  // The second title says that the statistics are those of the non-zero estimates alone.
  std::vector<RvqAttr> dyn;
  if (nonzero)
    dyn = {vsfaDyn("title2"),
           rvqTextHandle(RvqAttrId::Value, msgText(VsfMsg::StatisticsOverNonZero))};
  for (const RvqAttr& attr :
       {vsfaDyn("title1Space"), rvqInt(RvqAttrId::Value, nonzero ? 0 : 1), vsfaDyn("printFootnote"),
        rvqFlag(RvqAttrId::Value, o.include > 0 ? 1 : 0), vsfaDyn("confidence"),
        rvqDouble(RvqAttrId::Value, (1 - q) * 100), vsfaDyn("quantileLower"),
        rvqTextHandle(RvqAttrId::Value, lowerHeader), vsfaDyn("quantileUpper"),
        rvqTextHandle(RvqAttrId::Value, upperHeader), vsfaDyn("meanHeader"),
        rvqTextHandle(RvqAttrId::Value, meanHeader), vsfaDyn("stdDevHeader"),
        rvqTextHandle(RvqAttrId::Value, sdHeader)})
    dyn.push_back(attr);
  out.bind("Stat.VARSIFTER.AvgParmEst", dyn.data(), int32_t(dyn.size()));
  std::vector<int32_t> list(m->inModelList, m->inModelList + m->inModelCount);
  bool leftOut = false;
  for (int32_t e : vsfOrderByCount(a, list, ma.pestOrder)) {
    if (a.effectSelectCount[e] * (100.0 / a.averagedCount) < ma.pestMinPct) {
      leftOut = true;
      continue;
    }
    const VsfEffectView v = cols.startEffect(m, e);
    forced = m->effectStatus[e] == VES_FORCED ? 1 : 0;
    for (int32_t j = 0; j < v.parms; ++j) {
      const int32_t p = m->parmOffset[e] + j;
      if (a.meanEstimate[p] == 0.0)
        continue;
      cols.fillParameter(v, j);
      count = a.nonzeroCount[p];
      trimmed = static_cast<int32_t>((1 - ma.trimFraction) * a.nonzeroCount[p]);
      pct = a.nonzeroCount[p] * 100.0 / a.averagedCount;
      mean = nonzero ? a.nonzeroMean[p] : a.meanEstimate[p];
      sd = nonzero ? a.nonzeroStdDev[p] : a.stdDevEstimate[p];
      median = nonzero ? a.nonzeroMedian[p] : a.medianEstimate[p];
      lower = nonzero ? a.nonzeroLower[p] : a.lowerEstimate[p];
      upper = nonzero ? a.nonzeroUpper[p] : a.upperEstimate[p];
      out.emit();
    }
  }
  out.endRows();
  out.publish(leftOut ? msgText(VsfMsg::RarelySelectedEffectsNotShown, {HostMsgArg(ma.pestMinPct)})
                      : nullptr);
  out.finish();
  return VsfStatus::Ok;
}
