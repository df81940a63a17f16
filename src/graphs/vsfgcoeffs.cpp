// The coefficient progression of a displayed fit: every step record is read back from the
// fit's scratch file into a step model of its own pool, and its standardized estimates,
// criteria and p-values become the rows of the "Coefficients" data (one row per step and
// plotted parameter). The panel, or the coefficient plot and the choosing-criterion plot,
// draw that data. Declared in graphs/vsfgraph.h.
#include "graphs/vsfgframe.h"
#include "graphs/vsfglabels.h"
#include "graphs/vsfgraph.h"
#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "model/vsfserialize.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfpools.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

namespace {

// The log p-value below which exp() underflows: the p-value is then 0.
constexpr double kLogPUnderflow = -708.3964185;

// The criterion and p-value columns that only the first row of a step carries.
enum StepValue : int32_t {
  SV_AIC,
  SV_AICC,
  SV_SBC,
  SV_RSQUARE,
  SV_ADJRSQ,
  SV_BIC,
  SV_CP,
  SV_PRESS,
  SV_CVPRESS,
  SV_CVEXPRESS,
  SV_PVALADD,
  SV_PVALDROP,
  SV_LOGPVALADD,
  SV_LOGPVALDROP,
  SV_COUNT
};

// The "Coefficients" data of one fit: which columns it has, the row values they are bound
// to, and the stages that define the columns and emit the rows of each step record.
struct CoefData {
  VsfContext* ctx;
  VsfModel* m; // the displayed fit
  const VsfModelOptions& o;
  VsfStepRange range{};
  bool normB, press, cv, cvex, validation;
  char* stepLabel = nullptr;
  char* parameter = nullptr;
  int32_t step = 0, curveNumber = 0, curveIndex = 0;
  double normBeta = 0, stdEst = 0, rhs = 0, validationAse = 0;
  double values[SV_COUNT] = {};
  double logLow = DBL_MAX, logHigh = -DBL_MAX; // of the log p-values
  std::vector<double> thinValues;
  VsfOut out;
  RvqText* dataRef = nullptr;

  CoefData(VsfContext* c, VsfModel* model) : ctx(c), m(model), o(c->options), out(c) {
    normB = normBetaKept(o) && normBetaHistory(m) != nullptr;
    press = o.pressNeeded && m->history.stepPress != nullptr;
    cv = o.cvOn && m->history.stepCvPress != nullptr && o.choose != VsfCriterion::Cvex;
    cvex = o.cvExternal && m->history.stepHeldOutError != nullptr;
    validation = m->totals.wValidate > 0 || ctx->stmt.partition.validationAsked;
  }

  void valueColumn(const char* name, double* v, VsfMsg header) {
    out.column({rvqColumnType(RvqColumnType::Double), vsfaName(name), vsfaLabel(msgText(header)),
                vsfaBound(v)});
  }

  [[nodiscard]] VsfStatus defineColumns() {
    const VsfResultsState& r = ctx->results;
    stepLabel = static_cast<char*>(poolTake(m->pool, r.stepLabelWidth));
    if (stepLabel == nullptr)
      return VsfStatus::NoMemory;
    if (!out.create("Coefficients", nullptr))
      return VsfStatus::Ok; // no data object: the caller sees out.table null and draws nothing
    out.intColumn("Step", &step);
    out.intColumn("CurveNumber", &curveNumber);
    if (normB)
      out.numberColumn("NormBeta", &normBeta);
    out.charColumn("StepLabel", stepLabel, r.stepLabelWidth);
    if (r.parmLabelWidth > 0) {
      parameter = static_cast<char*>(poolTake(m->pool, r.parmLabelWidth));
      if (parameter == nullptr)
        return VsfStatus::NoMemory;
      out.charColumn("Parameter", parameter, r.parmLabelWidth);
    }
    out.intColumn("CurveIndex", &curveIndex);
    out.numberColumn("StandardizedEst", &stdEst);
    out.numberColumn("RhsLabelYValue", &rhs);
    valueColumn("AIC", &values[SV_AIC], VsfMsg::GraphCriterionAic);
    valueColumn("AICC", &values[SV_AICC], VsfMsg::GraphCriterionAicc);
    valueColumn("SBC", &values[SV_SBC], VsfMsg::GraphCriterionSbc);
    valueColumn("RSQUARE", &values[SV_RSQUARE], VsfMsg::GraphCriterionRSquare);
    valueColumn("ADJRSQ", &values[SV_ADJRSQ], VsfMsg::GraphCriterionAdjustedRSquare);
    if (o.fullModelFirst) {
      valueColumn("BIC", &values[SV_BIC], VsfMsg::GraphCriterionBic);
      valueColumn("CP", &values[SV_CP], VsfMsg::GraphCriterionCP);
    }
    if (press)
      valueColumn("PRESS", &values[SV_PRESS], VsfMsg::GraphCriterionPress);
    if (cv)
      valueColumn("CVPRESS", &values[SV_CVPRESS], VsfMsg::GraphCriterionCvPress);
    if (cvex)
      valueColumn("CVEXPRESS", &values[SV_CVEXPRESS], VsfMsg::GraphCriterionExternalCvPress);
    valueColumn("PValAdd", &values[SV_PVALADD], VsfMsg::PValue);
    valueColumn("PValDrop", &values[SV_PVALDROP], VsfMsg::PValue);
    valueColumn("LogPValAdd", &values[SV_LOGPVALADD], VsfMsg::LogPValue);
    valueColumn("LogPValDrop", &values[SV_LOGPVALDROP], VsfMsg::LogPValue);
    if (validation)
      valueColumn("ValidationASE", &validationAse, VsfMsg::GraphCriterionValidationAse);
    out.endColumns();
    out.bind("Stat.VARSIFTER.Phantom.Coefficients",
             {rvqFlag(RvqAttrId::GraphsOnly, ctx->stmt.proc.showInternal ? 0 : 1),
              vsfaDataRef(&dataRef)});
    return VsfStatus::Ok;
  }

  // The criteria of history entry i, and the p-value of the change from entry i - 1.
  void fillStepValues(int32_t i) {
    std::fill(values, values + SV_COUNT, hostMissing());
    const double n = m->totals.nObs, sse = m->history.stepSSE[i];
    const int32_t p = m->history.stepRank[i];
    values[SV_AIC] = vsfAic(p, sse, n);
    values[SV_AICC] = vsfAicc(p, sse, n);
    values[SV_SBC] = vsfSbc(p, sse, n);
    values[SV_RSQUARE] = vsfRsquare(sse, m->totalSS);
    values[SV_ADJRSQ] = vsfAdjrsq(p, o.noint, sse, m->totalSS, n);
    if (o.fullModelFirst) {
      values[SV_CP] = vsfCp(p, sse, n, m->fullMse);
      values[SV_BIC] = vsfBic(p, sse, n, m->fullMse);
    }
    if (press)
      values[SV_PRESS] = m->history.stepPress[i];
    if (cv)
      values[SV_CVPRESS] = m->history.stepCvPress[i];
    if (cvex)
      values[SV_CVEXPRESS] = vsfStepCriterion(m, VsfCriterion::Cvex, i);
    // Filled whenever the fit kept the validation history, missing otherwise: the column
    // exists whenever validation data are declared.
    validationAse = m->history.stepValidateAse != nullptr && vsfValidationInUse(m)
                        ? m->history.stepValidateAse[i]
                        : hostMissing();
    normBeta = normB ? vsfNormBeta(m, i) : hostMissing();
    if (i < 1)
      return;
    double F = 0;
    const double L = vsfLogPval(m->history.stepRank[i - 1], p, m->history.stepEffects[i - 1],
                                m->history.stepEffects[i], &F, m->history.stepSSE[i - 1], sse, n,
                                m->fuzz, vsfStepSSEFall(m, i));
    double pValue = hostMissing();
    if (!isHostMissing(L)) {
      pValue = L < kLogPUnderflow ? 0.0 : std::exp(L);
      logLow = std::min(logLow, L), logHigh = std::max(logHigh, L);
    }
    const bool added = p > m->history.stepRank[i - 1];
    values[added ? SV_PVALADD : SV_PVALDROP] = pValue;
    values[added ? SV_LOGPVALADD : SV_LOGPVALDROP] = L;
  }

  // The rows of one step record: one per plotted parameter, when the step is shown. At the
  // last shown step the kept labels get their heights at the right end.
  void emitRecord(const VsfModel& record) {
    const VsfResultsState& r = ctx->results;
    const bool lastShown = step == range.last && r.parmLabelWidth > 0;
    auto estimate = [&](int32_t j) {
      if (m->betaVariance != nullptr && m->betaVariance[j] == -1.0)
        return 0.0; // aliased in the displayed fit
      return record.stdBeta != nullptr ? record.stdBeta[j] : hostMissing();
    };
    if (lastShown) {
      thinValues.assign(static_cast<size_t>(m->parmCount), 0.0);
      for (int32_t j = 0; j < m->parmCount; ++j)
        if (r.parmInPlot[j] && !isHostMissing(estimate(j)))
          thinValues[static_cast<size_t>(j)] = estimate(j);
      // Labels that could not be thinned are not placed; the curves are drawn all the same.
      (void)vsfgThinLabels(ctx, m, thinValues.data());
    }
    curveNumber = 1;
    for (int32_t j = 0; j < m->parmCount; ++j) {
      if (!r.parmInPlot[j])
        continue;
      stdEst = estimate(j);
      curveIndex = r.parmCurve[j];
      rhs = hostMissing();
      if (r.parmLabelWidth > 0) {
        vsfFill(parameter, r.parmLabelWidth, r.parmLabels[j].text, r.parmLabels[j].length);
        if (lastShown && r.labelKept != nullptr && r.labelKept[j])
          rhs = stdEst;
      }
      if (step >= range.first && step <= range.last) {
        out.emit();
        std::fill(values, values + SV_COUNT, hostMissing());
      }
      ++curveNumber;
    }
  }
};

// Reads the step records of the fit from its scratch file, each into a pool of its own, and
// emits their rows.
// A model-averaging sample's records (sampleTag >= 0) are read from *position on, each after
// its tag; a plain fit's from the start of its file.
[[nodiscard]] VsfStatus walkRecords(CoefData& data, int64_t* position, int32_t sampleTag) {
  VsfContext* ctx = data.ctx;
  VsfModel* m = data.m;
  const VsfResultsState& r = ctx->results;
  int64_t start = 0;
  int64_t* pos = sampleTag >= 0 && position != nullptr ? position : &start;
  for (int32_t i = 0; i < m->history.stepCount; ++i) {
    VsfModel record{};
    record.options = m->options;
    record.history.stepScratch = m->history.stepScratch;
    record.history.stepScratchPos = pos;
    record.dataSettings = m->dataSettings;
    if (sampleTag >= 0) {
      bool stepOfSample = false;
      if (vsfNextSampleStep(&record, sampleTag, &stepOfSample) != VsfStatus::Ok || !stepOfSample)
        return VsfStatus::NotRestored;
    }
    ctx->coefGraphPool = vsfCreateNamedPool(1, "model pool");
    if (ctx->coefGraphPool == nullptr)
      return VsfStatus::NoPoolOrHandle;
    record.pool = ctx->coefGraphPool;
    const VsfStatus rc = vsfRestoreModel(&record);
    if (rc == VsfStatus::Ok) {
      data.step = vsfgShownStep(ctx, m, i);
      const int32_t slot = vsfMethodStartsFull(ctx->options.method) || m->includeCount == 0
                               ? i
                               : std::max(i - m->includeCount + 1, 0);
      const VsfLabel* l = slot < r.stepLabelCount ? &r.stepLabels[slot] : nullptr;
      vsfFill(data.stepLabel, r.stepLabelWidth, l != nullptr ? l->text : "",
              l != nullptr ? l->length : 0);
      data.fillStepValues(i);
      data.emitRecord(record);
    }
    ctx->coefGraphPool->destroy(ctx->coefGraphPool);
    ctx->coefGraphPool = nullptr;
    if (rc != VsfStatus::Ok)
      return VsfStatus::NotRestored;
  }
  return VsfStatus::Ok;
}

// The graph calls of the panel, or of the unpacked coefficient and criterion plots.
void coefficientGraphs(CoefData& data, VsfStepAxis axis) {
  VsfContext* ctx = data.ctx;
  const VsfModelOptions& o = data.o;
  const VsfPlotSettings& pl = ctx->stmt.plots;
  const bool unpack = pl.coefUnpack != 0;
  const VsfCriterion k = o.choose != VsfCriterion::NoneGiven ? o.choose
                         : o.stop != VsfCriterion::NoneGiven ? o.stop
                                                             : VsfCriterion::Aicc;
  const VsfCriterionLabels lc = vsfgCriterionLabels(k);
  const bool pMode = k == VsfCriterion::Sl, logp = pl.coefLogp != 0;
  RvqText *pLabel = nullptr, *addVar = nullptr, *dropVar = nullptr;
  double baseline = 0;
  if (pMode) {
    pLabel = msgText(logp ? VsfMsg::LogPValue : VsfMsg::PValue);
    addVar = vsfText(logp ? "logPValAdd" : "PValAdd");
    dropVar = vsfText(logp ? "logPValDrop" : "PValDrop");
    if (logp && data.logLow <= data.logHigh)
      baseline = data.logLow - 0.05 * (data.logHigh - data.logLow);
  }
  const int32_t W = ctx->results.keptLabelWidth;
  const double offset =
      unpack ? (W < 6 ? 0.07 : 0.07 + 0.0115 * (W - 5)) : (W < 6 ? 0.06 : 0.06 + 0.0105 * (W - 5));
  const int32_t axisIndex = std::clamp(static_cast<int32_t>(axis), 1, 3) - 1;
  VsfStepAxisList list =
      vsfgStepAxisList(ctx, axis, static_cast<int32_t>(ctx->results.chosenStepValue), data.range);
  RvqText* criterion = vsfText(lc.column);
  const int32_t steps = data.m->history.stepCount - 1;
  VsfGraphCall g;
  g.head(
      unpack ? "CoefficientPlot" : "CoefficientPanel",
      msgText((unpack ? kMsgCoefficientByAxisTitles : kMsgCoefficientPanelByAxisTitles)[axisIndex]),
      msgText(VsfMsg::ProgressionStandardizedCoefficients));
  g.templ(unpack ? "Stat.VARSIFTER.Graphics.CoefficientPlot"
                 : "Stat.VARSIFTER.Graphics.CoefficientPanel");
  g.data(&data.dataRef, 1);
  g.value("_SHOWPVAL", rvqInt(RvqAttrId::Value, pMode ? 1 : 0));
  g.text("_PVALLABEL", pLabel);
  g.text("_PVALADDVAR", addVar);
  g.text("_PVALDROPVAR", dropVar);
  g.value("_OFFSET_RIGHT", rvqDouble(RvqAttrId::Value, offset));
  g.extra(rvqDouble(RvqAttrId::Value, pMode ? 1.0 : 0.0));
  g.text("_CRITERION", criterion);
  g.text("_METHOD", vsfgMethodText(ctx));
  g.value("_NUMSTEPS", rvqInt(RvqAttrId::Value, steps));
  g.value("_PARMLABELLENMAX", rvqInt(RvqAttrId::Value, ctx->results.parmLabelWidth));
  g.value("_BASELINE", rvqDouble(RvqAttrId::Value, baseline));
  g.text("_DEPNAME", ctx->responseName);
  g.text("_INTTICKS", list.intTicks);
  g.list(list);
  g.call(ctx);
  if (!unpack)
    return;
  VsfGraphCall c;
  c.head("ChooseCriterionPlot", msgText(kMsgChoosingCriterionByAxisTitles[axisIndex]),
         msgText(VsfMsg::ProgressionChoosingCriterion));
  c.templ(pMode ? "Stat.VARSIFTER.Graphics.PValuePlot"
                : "Stat.VARSIFTER.Graphics.ChooseCriterionPlot");
  c.data(&data.dataRef, 1);
  if (pMode) {
    c.text("_PVALLABEL", pLabel);
    c.text("_PVALADDVAR", addVar);
    c.text("_PVALDROPVAR", dropVar);
    c.value("_OFFSET_RIGHT", rvqDouble(RvqAttrId::Value, offset));
  } else {
    c.value("_OFFSET_RIGHT", rvqDouble(RvqAttrId::Value, offset));
    c.text("_CRITERION", criterion);
    c.text("_CRITERIONLABEL",
           lc.folds ? msgText(lc.criterionLongLabel, {o.cvFolds}) : msgText(lc.criterionLongLabel));
    c.text("_SHORTCRITERIONLABEL", msgText(lc.criterionShortLabel));
  }
  c.value("_NUMSTEPS", rvqInt(RvqAttrId::Value, steps));
  c.value("_PARMLABELLENMAX", rvqInt(RvqAttrId::Value, ctx->results.parmLabelWidth));
  if (pMode)
    c.value("_BASELINE", rvqDouble(RvqAttrId::Value, baseline));
  c.text("_DEPNAME", ctx->responseName);
  c.text("_INTTICKS", list.intTicks);
  c.list(list);
  c.call(ctx);
}

} // namespace

VsfStatus vsfgCoeffs(VsfContext* ctx, VsfModel* m, int64_t* position, int32_t sampleTag) {
  const VsfPlotSettings& pl = ctx->stmt.plots;
  if (pl.coefLevel == 0)
    return VsfStatus::Ok;
  const double start = zdattim();
  (void)vsfgParmLabels(ctx, m); // a fit without labels still draws its curves
  // No step has a label to put on the axis, or no parameter is plotted: no plot, and no
  // failure of the run.
  if (ctx->results.stepLabelWidth <= 0 || ctx->results.parmInPlot == nullptr)
    return VsfStatus::Ok;
  CoefData data(ctx, m);
  if (!vsfgStepRange(ctx, m, pl.coefStart, pl.coefEnd, &data.range)) {
    vsfLog(VsfMsg::CoefficientPlotStepRangeEmpty);
    vsfRaiseRC(ctx, StepRc::Warning);
    return VsfStatus::Ok;
  }
  const VsfStepAxis axis = vsfgAutoAxis(pl.coefStepAxis, m, 26);
  VsfStatus rc = data.defineColumns();
  if (rc == VsfStatus::Ok && data.out.table == nullptr)
    return VsfStatus::Ok;
  if (rc == VsfStatus::Ok && m->history.stepCount >= 1)
    rc = walkRecords(data, position, sampleTag);
  if (rc != VsfStatus::Ok)
    return rc;
  data.out.endRows();
  data.out.publish();
  data.out.finish();
  coefficientGraphs(data, axis);
  ctx->graphTime += zdattim() - start;
  return VsfStatus::Ok;
}
