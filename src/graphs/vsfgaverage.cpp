// The graphs of model averaging: the percentage of resamples that selected each effect, and
// the distribution of every shown parameter's estimates over the averaged resamples
// (histograms, with box plots unless only histograms are asked for), one graph per parameter
// or several per panel. Both read the averaging summary of the BY group (vsfaverage.h).
// Declared in graphs/vsfgraph.h.
#include "design/levnames.h"
#include "graphs/vsfgframe.h"
#include "graphs/vsfglabels.h"
#include "graphs/vsfgraph.h"
#include "output/vsfaverage.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

RvqAttr hiddenUnlessShown(const VsfContext* ctx) {
  return rvqFlag(RvqAttrId::GraphsOnly, ctx->stmt.proc.showInternal ? 0 : 1);
}

double usablePercent(const VsfAverageSummary& a) { return 100.0 / a.usableCount; }

std::string effectName(VsfContext* ctx, int32_t e) {
  int32_t length = 0;
  const char* name = vsfEffectName(ctx, e, &length);
  return name != nullptr ? std::string(name, static_cast<size_t>(length)) : std::string();
}

// The "Coeffs" data: one row per averaged resample, its estimate of every parameter (missing
// where the resample's model left the parameter out). kNoCoeffsData when the manager made
// no data object.
constexpr int32_t kNoCoeffsData = 1;
[[nodiscard]] int32_t coeffsData(VsfContext* ctx, const VsfModel* m, RvqText** ref) {
  const VsfAverageSummary& a = ctx->average;
  const int32_t parms = m->parmCount;
  if (parms <= 0)
    return kVsfNoMemory;
  std::vector<double> coef(static_cast<size_t>(parms));
  std::vector<std::string> names;
  names.reserve(static_cast<size_t>(parms));
  for (int32_t j = 0; j < parms; ++j)
    names.push_back("Coeff" + std::to_string(j));
  int32_t sample = 0;
  VsfOut out(ctx);
  if (!out.create("Coeffs", nullptr))
    return kNoCoeffsData;
  out.intColumn("Sample", &sample);
  for (int32_t j = 0; j < parms; ++j)
    out.column({rvqColumnType(RvqColumnType::Double),
                vsfaName(names[static_cast<size_t>(j)].c_str()), vsfaTemplate("Coefficient"),
                vsfaBound(&coef[static_cast<size_t>(j)])});
  out.endColumns();
  out.bind("Stat.VARSIFTER.Phantom.BootstrapCoefficients",
           {hiddenUnlessShown(ctx), vsfaDataRef(ref)});
  for (int32_t s = 0; s < a.sampleCount; ++s) {
    if (!a.sampleUsed[s])
      continue;
    sample = s + 1;
    std::fill(coef.begin(), coef.end(), hostMissing());
    const VsfSampleModel& sm = a.sampleModels[s];
    for (int32_t t = 0; t < sm.termCount; ++t)
      if (sm.parms[t] >= 0 && sm.parms[t] < parms)
        coef[static_cast<size_t>(sm.parms[t])] = sm.values[t];
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return 0;
}

// Rows, columns and height of a panel of n plots.
struct PanelLayout {
  int32_t rows, columns, height;
};

PanelLayout panelLayout(int32_t n) {
  if (n <= 1)
    return {1, 1, 480};
  if (n == 2)
    return {1, 2, 360};
  if (n <= 4)
    return {2, 2, 480};
  if (n <= 6)
    return {2, 3, 480};
  if (n <= 9)
    return {3, 3, 480};
  return {4, 4, 640};
}

// One shown parameter: its column in "Coeffs", its label and its non-zero count.
struct ShownParm {
  std::string variable, label;
  int32_t nonzero;
};

// The parameters that get a graph: of the averaged model's effects (in ORDER= order) those
// selected in at least `limit` percent of the usable resamples, each parameter whose
// averaged estimate is not zero.
std::vector<ShownParm> shownParms(VsfContext* ctx, const VsfModel* m, double limit,
                                  VsfOrder order) {
  const VsfAverageSummary& a = ctx->average;
  const LevDesign* d = vsfDesign(ctx);
  std::vector<int32_t> list(m->inModelList, m->inModelList + m->inModelCount);
  std::vector<ShownParm> out;
  for (int32_t e : vsfOrderByCount(a, list, order)) {
    if (limit > a.effectSelectCount[e] * usablePercent(a))
      continue;
    const VsfEffectView v = vsfEffectView(ctx, m, e);
    for (int32_t k = 0; k < v.parms; ++k) {
      const int32_t j = m->parmOffset[e] + k;
      if (j >= m->parmCount || a.meanEstimate[j] == 0.0)
        continue;
      std::string label;
      if (d != nullptr) {
        label.assign(static_cast<size_t>(vsfgParmLabelText(ctx, d, e, v, k, nullptr)), ' ');
        label.resize(static_cast<size_t>(vsfgParmLabelText(ctx, d, e, v, k, label.data())));
      }
      if (label.empty())
        label = effectName(ctx, e);
      out.push_back({"coeff" + std::to_string(j), label, a.nonzeroCount[j]});
    }
  }
  return out;
}

// The graph-wide settings of one distribution call.
struct DistCall {
  const char* name;
  const char* templ;
  RvqText* title;
  RvqText** data;
  int32_t refit;
};

void commonPairs(VsfContext* ctx, VsfGraphCall& g, const DistCall& c) {
  g.text("_DEPNAME", ctx->responseName);
  g.text("_TITLE", c.title);
  g.value("_NSAMPLESUSED", rvqInt(RvqAttrId::Value, ctx->average.usableCount));
  g.value("_REFIT", rvqInt(RvqAttrId::Value, c.refit));
}

void singleGraph(VsfContext* ctx, const DistCall& c, const ShownParm& p) {
  RvqText* label = vsfText(p.label.c_str());
  VsfGraphCall g;
  g.head(c.name, msgText(VsfMsg::PlotDistributionEstimates, {HostMsgArg::text(label)}), label);
  g.templ(c.templ);
  g.data(c.data, 1);
  commonPairs(ctx, g, c);
  g.text("_INDEPVAR", vsfText(p.variable.c_str()));
  g.text("_INDEPLABEL", label);
  g.value("_NNONZERO", rvqInt(RvqAttrId::Value, p.nonzero));
  g.call(ctx);
}

void panelGraph(VsfContext* ctx, const DistCall& c, const ShownParm* parms, int32_t n,
                int32_t panel, const PanelLayout& layout) {
  VsfGraphCall g;
  g.head(c.name, msgText(VsfMsg::PlotDistributionsParameterEstimates),
         msgText(VsfMsg::AverageParameterEstimateDistributionsPanel, {HostMsgArg(panel)}));
  g.templ(c.templ);
  g.data(c.data, 1);
  commonPairs(ctx, g, c);
  g.value("_PANELNUMBER", rvqInt(RvqAttrId::Value, panel));
  g.value("_NROWS", rvqInt(RvqAttrId::Value, layout.rows));
  g.value("_NCOLUMNS", rvqInt(RvqAttrId::Value, layout.columns));
  g.value("_NPLOTS", rvqInt(RvqAttrId::Value, n));
  g.value("_HEIGHT", rvqInt(RvqAttrId::Value, layout.height));
  for (int32_t i = 0; i < n; ++i) {
    const std::string m = std::to_string(i + 1);
    g.nested(("_XVAR" + m).c_str(),
             rvqTextHandle(RvqAttrId::Value, vsfText(parms[i].variable.c_str())));
    g.nested(("_XLABEL" + m).c_str(),
             rvqTextHandle(RvqAttrId::Value, vsfText(parms[i].label.c_str())));
    g.nested(("_NNONZERO" + m).c_str(), rvqInt(RvqAttrId::Value, parms[i].nonzero));
  }
  g.nestedList();
  g.call(ctx);
}

} // namespace

bool vsfgSelectPctShared(const VsfContext* ctx) {
  const VsfPlotSettings& g = ctx->stmt.plots;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  return vsfGraphicsOn(ctx) && g.espLevel != 0 &&
         (g.espOrder == VsfOrder::Model || g.espOrder == ma.espOrder) &&
         (g.espMinPct == -1.0 || g.espMinPct == ma.espMinPct);
}

VsfStatus vsfgBootstrapSelFreq(VsfContext* ctx, RvqText** data, int32_t rows) {
  const VsfPlotSettings& g = ctx->stmt.plots;
  if (!vsfGraphicsOn(ctx) || g.espLevel == 0)
    return VsfStatus::Ok;
  ctx->printStart = zdattim();
  if (*data == nullptr)
    rows = vsfpBootstrapSelFreq(ctx, 2, data);
  if (rows == 0)
    return VsfStatus::Ok;
  const double offset = rows <= 1 ? 0.05 : 0.5 / rows + 0.025;
  double limit = g.espMinPct != -1.0 ? g.espMinPct : ctx->stmt.ma.espMinPct;
  if (limit == -1.0)
    limit = 20.0;
  RvqText* title = limit == 0.0 ? msgText(VsfMsg::AverageEffectSelectionPercentages,
                                          {HostMsgArg::text(ctx->responseName)})
                                : msgText(VsfMsg::AverageEffectSelectionPercentagesEffects,
                                          {HostMsgArg::text(ctx->responseName), HostMsgArg(limit)});
  VsfGraphCall call;
  call.head("EffectSelectPctPlot", msgText(VsfMsg::PlotEffectSelectionPercentages),
            msgText(VsfMsg::AverageEffectSelectionPercentagePlot));
  call.templ("Stat.VARSIFTER.Graphics.EffectSelectPctPlot");
  call.data(data, 1);
  call.text("_DEPNAME", ctx->responseName);
  call.text("_TITLE", title);
  call.value("_OFFSET", rvqDouble(RvqAttrId::Value, offset));
  call.call(ctx);
  ctx->graphTime += zdattim() - ctx->printStart;
  return VsfStatus::Ok;
}

VsfStatus vsfgBootstrapParmHistogram(VsfContext* ctx, VsfModel* m, bool refitting) {
  const VsfPlotSettings& g = ctx->stmt.plots;
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  if (!vsfGraphicsOn(ctx) || g.pdLevel == 0)
    return VsfStatus::Ok;
  ctx->printStart = zdattim();
  double limit = g.pdMinPct >= 0.0 ? g.pdMinPct : ma.pestMinPct;
  if (limit == -1.0)
    limit = 20.0;
  const VsfOrder order = g.pdOrder != VsfOrder::Model ? g.pdOrder : ma.pestOrder;
  const bool unpack = g.pdUnpack != 0;
  const bool box = g.pdNoBox == 0;
  RvqText* data = nullptr;
  const int32_t rc = coeffsData(ctx, m, &data);
  if (rc == kNoCoeffsData)
    return VsfStatus::Ok; // no data object, so no distribution graphs
  if (rc != 0)
    return VsfStatus::NoMemory;
  const std::vector<ShownParm> parms = shownParms(ctx, m, limit, order);
  const VsfMsg titleMsg = !ma.refit   ? VsfMsg::AverageDistributionsAveragedEstimates
                          : refitting ? VsfMsg::AverageDistributionsRefittedAveragedEstimates
                                      : VsfMsg::AverageDistributionsAveragedEstimatesBefore;
  DistCall c{refitting ? "RefitParmDistPanel" : "ParmDistPanel",
             unpack ? (box ? "Stat.VARSIFTER.Graphics.ParmDistribution"
                           : "Stat.VARSIFTER.Graphics.ParmHistogram")
                    : (box ? "Stat.VARSIFTER.Graphics.ParmDistributionPanel"
                           : "Stat.VARSIFTER.Graphics.ParmHistogramPanel"),
             msgText(titleMsg, {HostMsgArg::text(ctx->responseName)}), &data, refitting ? 1 : 0};
  RvqObject* group = vsfOpenGroup(
      ctx, "EstimateDistributions",
      {vsfaLabel(msgText(VsfMsg::AverageEstimateDistributions)), rvqFlag(RvqAttrId::GroupKind, 0)});
  const int32_t perPanel = std::clamp(g.pdPerPanel, 1, 16);
  const int32_t n = static_cast<int32_t>(parms.size());
  for (int32_t i = 0; i < n; i += unpack ? 1 : perPanel) {
    if (unpack) {
      singleGraph(ctx, c, parms[static_cast<size_t>(i)]);
      continue;
    }
    // A partly filled last panel keeps the layout of full panels unless it is the only one.
    const int32_t count = std::min(perPanel, n - i);
    const PanelLayout layout = panelLayout(i == 0 ? count : perPanel);
    panelGraph(ctx, c, parms.data() + i, count, i / perPanel + 1, layout);
  }
  vsfCloseObject(group);
  ctx->graphTime += zdattim() - ctx->printStart;
  return VsfStatus::Ok;
}
