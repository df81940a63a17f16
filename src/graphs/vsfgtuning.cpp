// The graphs of how a penalized fit was tuned: the elastic net's L2 search (one row per L2
// tried, drawn against the trial number and against log10 of L2) and external cross
// validation (the held-out error over the merged L1 grid). Each builds its own data table,
// hidden unless internal tables are shown, and hands its data to the host templates.
// Declared in graphs/vsfgraph.h.
#include "graphs/vsfgframe.h"
#include "graphs/vsfgraph.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfscreentables.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfcriterion.h"

#include <cmath>

namespace {

// What emitTuning returns when the manager made no data object: there is nothing to plot.
constexpr int32_t kNoTuningData = -1;

// log10 of a penalty, with the floor the axis uses for values too small to show.
double logAxis(double value, double floor) {
  return value < std::pow(10.0, floor) ? floor : std::log10(value);
}

constexpr double kLogL2Floor = -8.0, kLogL1Floor = -6.0;
// The L1 axis label by L1CHOICE= (1 RATIO, 2 NORM, 3 VALUE).
constexpr VsfMsg kL1AxisLabel[] = {VsfMsg::TuningLog10L1Ratio, VsfMsg::TuningLog10L1Ratio,
                                   VsfMsg::TuningL1Norm, VsfMsg::TuningLog10L1Value};

RvqAttr hiddenUnlessShown(const VsfContext* ctx) {
  return rvqFlag(RvqAttrId::GraphsOnly, ctx->stmt.proc.showInternal ? 0 : 1);
}

// Builds and publishes the "ElasticNetTuneL2" data; the row number of the kept L2 (the last
// row with it), 0 when no row has it, kNoTuningData when the manager made no data object. Lowers
// the tuning-row count to the rows it showed.
[[nodiscard]] int32_t emitTuning(VsfContext* ctx, VsfModel* m, bool cvex, RvqText** dataRef) {
  int32_t step = 0, opt = 0, nVar = 0, nSteps = 0, chosen = 0;
  double l2 = 0, logL2 = 0, l1 = 0, value = 0, l2Norm = 0, l1Norm = 0;
  VsfOut out(ctx);
  if (!out.create("ElasticNetTuneL2", nullptr))
    return kNoTuningData;
  out.intColumn("Step", &step);
  out.numberColumn("L2", &l2);
  out.numberColumn("LogL2", &logL2);
  out.numberColumn("L1", &l1);
  out.numberColumn("CriterionValue", &value);
  out.intColumn("OptCriterion", &opt);
  if (!cvex) {
    out.intColumn("nVar", &nVar);
    out.numberColumn("L2Norm", &l2Norm);
    out.numberColumn("L1Norm", &l1Norm);
    out.intColumn("nSteps", &nSteps);
  }
  out.endColumns();
  out.bind("Stat.VARSIFTER.ElasticNetTuneL2", {hiddenUnlessShown(ctx), vsfaDataRef(dataRef)});
  for (int32_t i = 0; i < m->elnetPass.enTuneCapacity && m->elnetPass.enTuneRows != nullptr; ++i) {
    const double* row = m->elnetPass.enTuneRows + 7 * static_cast<int64_t>(i);
    if (vsfTuneRowEmpty(row)) {
      m->elnetPass.enTuneCapacity = i;
      break;
    }
    step = i + 1;
    l2 = row[0];
    logL2 = logAxis(row[0], kLogL2Floor);
    l1 = row[1];
    value = row[3];
    opt = row[0] == m->elnet.finalL2 ? 1 : 0;
    nVar = static_cast<int32_t>(row[2]);
    l2Norm = row[4];
    l1Norm = row[5];
    nSteps = static_cast<int32_t>(row[6]);
    if (opt == 1)
      chosen = step;
    out.emit();
  }
  out.endRows();
  out.publish();
  out.finish();
  return chosen;
}

struct TuningGraph {
  const char* name;
  const char* column;
  VsfMsg axisLabel, shortLabel;
};

const TuningGraph kTuningGraphs[] = {
    {"LogL2Plot", "LogL2", VsfMsg::TuningLogL2, VsfMsg::TuningLogL2Short},
    {"ChooseCriterionPlot", "CriterionValue", VsfMsg{}, VsfMsg{}},
    {"L1Plot", "L1", VsfMsg::TuningL1RatioSelectedStep, VsfMsg::TuningL1RatioShort},
    {"nVarPlot", "nVar", VsfMsg::TuningNumberEffectsSelectedStep, VsfMsg::TuningEffectsShort},
    {"L1NormPlot", "L1Norm", VsfMsg::TuningL1NormCoefficients, VsfMsg::TuningL1NormShort},
    {"L2NormPlot", "L2Norm", VsfMsg::TuningL2NormCoefficients, VsfMsg::TuningL2NormShort},
    {"nStepsPlot", "nSteps", VsfMsg::TuningNumberSteps, VsfMsg::TuningStepsShort},
};

// The step-axis list of the tuning graphs: graph 0 runs over the trial number, the others
// over log10 of L2 (the kept L2 placed by the rule of the LogL2 column, so that the mark
// meets its row); the chosen value only when a shown row holds the kept L2.
VsfStepAxisList tuningAxis(const VsfModel* m, bool byTrial, int32_t chosenRow) {
  VsfStepAxisList list;
  auto pair = [&](const char* name, RvqAttr value) {
    list.records.push_back(vsfaDyn(name));
    value.id = RvqAttrId::Value;
    list.records.push_back(value);
  };
  pair("_STEPAXIS", rvqTextHandle(RvqAttrId::Value, vsfText(byTrial ? "STEP" : "LogL2")));
  pair("_STEPAXISLABEL",
       rvqTextHandle(RvqAttrId::Value,
                     msgText(byTrial ? VsfMsg::TuningL2SearchStep : VsfMsg::TuningLogL2)));
  pair("_STEPTIP", rvqTextHandle(RvqAttrId::Value, nullptr));
  if (chosenRow >= 1)
    pair("_CHOSENVALUE", byTrial
                             ? rvqInt(RvqAttrId::Value, chosenRow)
                             : rvqDouble(RvqAttrId::Value, logAxis(m->elnet.finalL2, kLogL2Floor)));
  list.intTicks = vsfText("FALSE");
  return list;
}

} // namespace

VsfStatus vsfgElasticNet(VsfContext* ctx, VsfModel* m) {
  if (!vsfGraphicsOn(ctx))
    return VsfStatus::Ok;
  const VsfModelOptions& o = ctx->options;
  const bool cvex = o.cvExternal != 0;
  RvqText* dataRef = nullptr;
  const int32_t chosenRow = emitTuning(ctx, m, cvex, &dataRef);
  if (chosenRow < 0)
    return VsfStatus::Ok;
  ctx->printStart = zdattim();
  const VsfStepAxisList byTrial = tuningAxis(m, true, chosenRow);
  const VsfStepAxisList byL2 = tuningAxis(m, false, chosenRow);
  const VsfCriterion c = vsfElasticNetCriterion(o);
  RvqText* selected = msgText(vsfgSelectedStepMessage(c));
  const int32_t graphs = cvex ? 3 : 7;
  for (int32_t k = 0; k < graphs; ++k) {
    const TuningGraph& t = kTuningGraphs[k];
    RvqText* yLabel = nullptr;
    RvqText* shortLabel = nullptr;
    if (k == 1)
      vsfgCriterionAxisLabels(ctx, c, &yLabel, &shortLabel);
    if (yLabel == nullptr) {
      yLabel = msgText(k == 1 ? VsfMsg::TuningLogL2 : t.axisLabel);
      shortLabel = msgText(k == 1 ? VsfMsg::TuningLogL2Short : t.shortLabel);
    }
    VsfGraphCall g;
    g.head(t.name, msgText(vsfgSelectedStepMessage(c), {HostMsgArg::text(yLabel)}), shortLabel);
    g.templ("Stat.VARSIFTER.Graphics.ElasticNetL2TuningPlot");
    g.data(&dataRef, 1);
    g.text("_SELECTEDSTEPLABEL", selected);
    g.text("_CRITERION", vsfText(t.column));
    g.text("_YLABEL", yLabel);
    g.text("_SHORTYLABEL", shortLabel);
    g.text("_DEPNAME", ctx->responseName);
    g.text("_INTTICKS", vsfText("FALSE"));
    g.list(k == 0 ? byTrial : byL2);
    g.call(ctx);
  }
  ctx->printStart = zdattim() - ctx->printStart;
  ctx->graphTime += ctx->printStart;
  return VsfStatus::Ok;
}

VsfStatus vsfgCvExternal(VsfContext* ctx, VsfModel* m) {
  if (!vsfGraphicsOn(ctx))
    return VsfStatus::Ok;
  const VsfL1Choice choice = ctx->options.l1Choice;
  double l1 = 0, error = 0, chosen = 0, best = 0;
  bool found = false;
  RvqText* dataRef = nullptr;
  {
    VsfOut out(ctx);
    if (!out.create("CVExternal", nullptr))
      return VsfStatus::Ok; // no data object, so no graph of it
    out.numberColumn("L1", &l1);
    out.numberColumn("ASEValidate", &error);
    out.endColumns();
    out.bind("Stat.VARSIFTER.CVEXTERNAL", {hiddenUnlessShown(ctx), vsfaDataRef(&dataRef)});
    for (int32_t j = 0; j < m->cvex.cvexGridCount && m->cvexPass.cvexGrid != nullptr; ++j) {
      error = m->cvexPass.cvexCurve[j];
      l1 = choice == VsfL1Choice::Norm ? m->cvexPass.cvexGrid[j]
                                       : logAxis(m->cvexPass.cvexGrid[j], kLogL1Floor);
      // The point the fit chose: the first smallest error; a missing one never counts.
      if (!std::isnan(error) && (!found || error < best)) {
        found = true;
        best = error;
        chosen = l1;
      }
      out.emit();
    }
    out.endRows();
    out.publish();
    out.finish();
  }
  ctx->printStart = zdattim();
  VsfStepAxisList list;
  list.records = {
      vsfaDyn("_STEPAXIS"),
      rvqTextHandle(RvqAttrId::Value, vsfText("L1")),
      vsfaDyn("_STEPAXISLABEL"),
      rvqTextHandle(
          RvqAttrId::Value,
          msgText(kL1AxisLabel[choice != VsfL1Choice::None ? static_cast<int32_t>(choice) : 1])),
      vsfaDyn("_STEPTIP"),
      rvqTextHandle(RvqAttrId::Value, nullptr),
      vsfaDyn("_CHOSENVALUE"),
      rvqDouble(RvqAttrId::Value, chosen)};
  RvqText* yLabel = msgText(VsfMsg::TuningExternalCvAverageSquared);
  VsfGraphCall g;
  g.head("L1VsASEPlot", msgText(VsfMsg::TuningAlongL1Grid, {HostMsgArg::text(yLabel)}), yLabel);
  g.templ("Stat.VARSIFTER.Graphics.CVEXTERNAL");
  g.data(&dataRef, 1);
  g.text("_CRITERION", vsfText("ASEValidate"));
  g.text("_YLABEL", yLabel);
  g.text("_SHORTYLABEL", yLabel);
  g.text("_DEPNAME", ctx->responseName);
  g.text("_INTTICKS", vsfText("FALSE"));
  g.list(list);
  g.call(ctx);
  ctx->printStart = zdattim() - ctx->printStart;
  ctx->graphTime += ctx->printStart;
  return VsfStatus::Ok;
}
