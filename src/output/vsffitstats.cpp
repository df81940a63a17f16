// The "ANOVA" table and the "FitStatistics" factoid of one fit (a step record or the
// selected model). Criterion formulas are the model core's; the F tail is the numerical
// library's.
#include "output/vsffitstats.h"

#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "numerics/zlogfnc.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

VsfAnovaValues vsfAnovaCompute(double sse, double tssCorrected, double tssUncorrected, double n,
                               int32_t p, bool noint) {
  VsfAnovaValues v{};
  const double miss = hostMissing();
  v.sse = std::max(sse, 0.0);
  if (noint) {
    v.totalSs = tssUncorrected;
    v.totalDf = n;
    v.modelDf = p;
  } else {
    v.totalSs = tssCorrected;
    v.totalDf = n - 1;
    v.modelDf = p - 1;
  }
  v.modelSs = v.totalSs - v.sse >= 0 ? v.totalSs - v.sse : 0.0;
  v.errorDf = v.totalDf - v.modelDf;
  v.errorMs = v.errorDf > 0 ? v.sse / v.errorDf : miss;
  v.modelMs = v.modelDf > 0 ? v.modelSs / v.modelDf : miss;
  v.f = miss;
  v.probF = miss;
  if (!isHostMissing(v.errorMs) && !isHostMissing(v.modelMs)) {
    if (v.errorMs > 0) {
      v.f = v.modelMs / v.errorMs;
      double lcdf = 0, lsdf = 0;
      if (zlogFNCApproxLarge(&lcdf, &lsdf, v.f, v.modelDf, v.errorDf, 0.0) == 0)
        v.probF = lsdf < -708.3964185 ? 0.0 : std::exp(lsdf);
    } else if (v.modelMs > 0) {
      v.f = vsfPlusInfinity();
      v.probF = 0.0;
    }
  }
  return v;
}

VsfStatus vsfpAnova(VsfContext* ctx, VsfModel* m, QkPool* pool) {
  const bool noint = ctx->options.noint != 0;
  const VsfMsg totalMsg = noint ? VsfMsg::AnovaUncorrectedTotal : VsfMsg::AnovaCorrectedTotal;
  const int32_t width = std::max(
      {vsfMsgLength(VsfMsg::AnovaModel), vsfMsgLength(VsfMsg::AnovaError), vsfMsgLength(totalMsg)});
  char* source = width > 0 && pool != nullptr
                     ? static_cast<char*>(pool->allocate(pool, static_cast<size_t>(width), 0))
                     : nullptr;
  if (source == nullptr)
    return VsfStatus::NoMemory;
  VsfAnovaValues v =
      vsfAnovaCompute(m->sse, m->totalSS, m->totalSSUncorrected, m->totals.nObs, m->rank, noint);
  double df = 0, ss = 0, ms = 0, f = 0, p = 0;
  VsfOut out(ctx);
  if (!out.create("ANOVA", msgText(VsfMsg::AnovaAnalysisVariance)))
    return VsfStatus::Ok;
  out.charColumn("Source", source, width);
  out.numberColumn("DF", &df);
  out.numberColumn("SS", &ss);
  out.numberColumn("MS", &ms);
  out.numberColumn("FValue", &f);
  out.column({rvqColumnType(RvqColumnType::Double), vsfaName("ProbF"), vsfaDyn("showProbF"),
              rvqInt(RvqAttrId::Value, vsfShowPValues(ctx) ? 1 : 0), vsfaBound(&p)});
  out.endColumns();
  out.bind("Stat.VARSIFTER.ANOVA");
  vsfMsgCopy(VsfMsg::AnovaModel, source, width);
  df = v.modelDf, ss = v.modelSs, ms = v.modelMs, f = v.f, p = v.probF;
  out.emit();
  vsfMsgCopy(VsfMsg::AnovaError, source, width);
  df = v.errorDf, ss = v.sse, ms = v.errorMs, f = vsfUnavailable(), p = vsfUnavailable();
  out.emit();
  vsfMsgCopy(totalMsg, source, width);
  df = v.totalDf, ss = v.totalSs, ms = vsfUnavailable();
  out.emit();
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpFitStats(VsfContext* ctx, VsfModel* m) {
  const VsfModelOptions& o = ctx->options;
  const double sse = std::max(m->sse, 0.0);
  const double n = m->totals.nObs;
  const int32_t p = m->rank;
  const double miss = hostMissing();
  VsfOut out(ctx);
  if (!out.createFactoid("FitStatistics", "Stat.VARSIFTER.FitStatistics",
                         msgText(VsfMsg::FitStatistics), nullptr))
    return VsfStatus::Ok;
  auto number = [&](VsfMsg label, double value, int32_t width = 11, int32_t format = 98) {
    out.entry(label, rvqDouble(RvqAttrId::Value, value),
              {rvqInt(RvqAttrId::FormatWidth, width), rvqInt(RvqAttrId::FormatCode, format)});
  };
  auto criterion = [&](VsfMsg label, double value) {
    if (!isHostMissing(value) && value == -DBL_MAX)
      out.entry(label, rvqTextHandle(RvqAttrId::Value, vsfText("-Infty")));
    else
      number(label, value);
  };
  number(VsfMsg::FitStatRootMse, n - p > 0 ? std::sqrt(sse / (n - p)) : miss);
  number(VsfMsg::FitStatDependentMean, m->sumWY);
  number(VsfMsg::FitStatRSquare, vsfRsquare(sse, o.noint ? m->totalSSUncorrected : m->totalSS), 6,
         4);
  number(VsfMsg::FitStatAdjRSq, vsfAdjrsq(p, o.noint, sse, m->totalSS, n), 6, 4);
  criterion(VsfMsg::FitStatAic, vsfAic(p, sse, n));
  criterion(VsfMsg::FitStatAicc, vsfAicc(p, sse, n));
  if (o.fullModelFirst) {
    number(VsfMsg::FitStatBic, vsfBic(p, sse, n, m->fullMse));
    number(VsfMsg::FitStatCP, vsfCp(p, sse, n, m->fullMse));
  }
  if (o.pressNeeded)
    number(VsfMsg::FitStatPress, m->press);
  criterion(VsfMsg::FitStatSbc, vsfSbc(p, sse, n));
  if (vsfStatShown(ctx, 11)) {
    const double w = vsfTrainingWeight(m);
    number(o.validateInUse || o.testInUse ? VsfMsg::FitStatAseTrain : VsfMsg::FitStatAse,
           w != 0 ? sse / w : miss);
  }
  if (m->totals.wValidate > 0 || ctx->stmt.partition.validationAsked)
    number(VsfMsg::FitStatAseValidate, m->validateAse);
  if (m->totals.wTest > 0 || ctx->stmt.partition.testAsked)
    number(VsfMsg::FitStatAseTest, m->testAse);
  if (o.cvOn)
    number(VsfMsg::FitStatCvPress, m->cvPress);
  // A step record and the selected model both end at the step they show, whose held-out
  // error the step history keeps: the value the selection summary shows for that step.
  if (o.cvExternal)
    number(VsfMsg::GraphCriterionExternalCvPress,
           m->history.stepCount > 0
               ? vsfStepCriterion(m, VsfCriterion::Cvex, m->history.stepCount - 1)
               : miss);
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}
