// The factoids "ModelInfo", "ModelAverageInfo" and "Dimensions": what was analysed, how
// the selection and model averaging were set up, and the size of a BY group's design.
// The settings are the statement readers' and the post-parse initialisation's.
// Declared in output/vsfresults.h and output/vsfprinters.h.
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"

namespace {
RvqAttr textValue(RvqText* t) { return rvqTextHandle(RvqAttrId::Value, t); }
RvqAttr msgValue(VsfMsg number) { return rvqTextHandle(RvqAttrId::Value, msgText(number)); }
RvqAttr intValue(int32_t v) { return rvqInt(RvqAttrId::Value, v); }
RvqAttr dblValue(double v) { return rvqDouble(RvqAttrId::Value, v); }
RvqAttr i64Value(int64_t v) {
  RvqAttr a = rvqInt(RvqAttrId::Value, 0);
  a.type = RVQ_INT64;
  a.value.i64 = v;
  return a;
}
} // namespace

VsfStatus vsfpModelInfo(VsfContext* ctx) {
  VsfOut out(ctx);
  if (!out.createFactoid("ModelInfo", "Stat.VARSIFTER.ModelInfo", msgText(VsfMsg::ModelInformation),
                         nullptr))
    return VsfStatus::Ok;
  const VsfModelOptions& o = ctx->options;
  const VsfProcSettings& proc = ctx->stmt.proc;
  const LevRegContext& dc = ctx->design;
  out.entry(VsfMsg::ModelInfoDataSet, textValue(vsfDataSetNameText(ctx->data)));
  if (proc.valData != nullptr)
    out.entry(VsfMsg::ModelInfoValidationDataSet, textValue(vsfDataSetNameText(proc.valData)));
  if (proc.testData != nullptr)
    out.entry(VsfMsg::ModelInfoTestDataSet, textValue(vsfDataSetNameText(proc.testData)));
  if (dc.freq != nullptr)
    out.entry(VsfMsg::ModelInfoFrequencyVariable, textValue(vsfVariableNameText(dc.freq->var)));
  if (dc.weights != nullptr)
    out.entry(VsfMsg::ModelInfoWeightVariable, textValue(vsfVariableNameText(dc.weights->var)));
  const HostVariable* response =
      dc.responses != nullptr ? dc.responses[0].var
                              : (ctx->stmt.responses != nullptr ? ctx->stmt.responses[0] : nullptr);
  out.entry(VsfMsg::ModelInfoDependentVariable, textValue(vsfVariableNameText(response)));
  bool competitive = vsfMethod(o.method).takesDrop && o.drop == VsfDrop::Competitive;
  if (competitive) {
    out.entry(VsfMsg::ModelInfoSelectionMethod,
              msgValue(VsfMsg::MethodStepwiseSelectionCompetitive));
  } else if (!o.adaptive) {
    if (const VsfMethodTraits* method = vsfMethodTraits(o.method))
      out.entry(VsfMsg::ModelInfoSelectionMethod, msgValue(method->name.get()));
  } else {
    out.entry(VsfMsg::ModelInfoSelectionMethod, msgValue(VsfMsg::MethodAdaptiveLasso));
    if (o.adaptiveInest && ctx->stmt.adaptiveInest != nullptr)
      out.entry(VsfMsg::ModelInfoInitialEstimatesDataSet,
                textValue(vsfDataSetNameText(ctx->stmt.adaptiveInest)));
    if (o.gamma != 1.0)
      out.entry(VsfMsg::ModelInfoAdaptiveWeightExponent, dblValue(o.gamma));
  }
  if (o.maxSteps != 0)
    out.entry(VsfMsg::ModelInfoMaximumNumberSteps, intValue(o.maxSteps));
  if (vsfMethodSelects(o.method)) {
    if (vsfMethodPenalty(o.method) == VsfPenalty::None)
      out.entry(VsfMsg::ModelInfoSelectCriterion, msgValue(vsfCriterionName(o.select)));
    if (o.steps != 0)
      out.entry(VsfMsg::ModelInfoNumberSteps, intValue(o.steps));
    else if (o.stopCount != 0)
      out.entry(VsfMsg::ModelInfoStopWhenModelHolds, intValue(o.stopCount));
    else
      out.entry(VsfMsg::ModelInfoStopCriterion,
                msgValue(o.stop == VsfCriterion::NoneGiven ? VsfMsg::ModelInfoSameSelectCriterion
                                                           : vsfCriterionName(o.stop)));
    if (o.choose != VsfCriterion::NoneGiven)
      out.entry(VsfMsg::ModelInfoChooseCriterion, msgValue(vsfCriterionName(o.choose)));
    bool sl =
        o.select == VsfCriterion::Sl || o.stop == VsfCriterion::Sl || o.choose == VsfCriterion::Sl;
    if (sl && vsfMethod(o.method).entryTrials)
      out.entry(VsfMsg::ModelInfoEntrySignificanceLevelSle, dblValue(o.slEntry));
    if (sl && vsfMethod(o.method).removalTrials)
      out.entry(VsfMsg::ModelInfoStaySignificanceLevelSls, dblValue(o.slStay));
    const LevDesign* d = vsfDesign(ctx);
    auto indexName = [&]() -> RvqText* {
      if (d != nullptr && o.cvIndexVar >= 0 && o.cvIndexVar < d->classCount)
        return vsfVariableNameText(d->classes[o.cvIndexVar].var);
      return vsfText("", 0);
    };
    if (o.cvOn) {
      out.entry(VsfMsg::ModelInfoCrossValidationMethod, msgValue(vsfCvScheme(o.cvMethod).name));
      if (vsfCvScheme(o.cvMethod).indexFolds)
        out.entry(VsfMsg::ModelInfoCrossValidationIndexVariable, textValue(indexName()));
      else
        out.entry(VsfMsg::ModelInfoNumberFolds, intValue(o.cvFolds));
    }
    if (o.cvExternal) {
      out.entry(VsfMsg::CvexExternalCrossValidationMethod, msgValue(vsfCvScheme(o.cvMethod).name));
      if (vsfCvScheme(o.cvMethod).indexFolds)
        out.entry(VsfMsg::CvexExternalCrossValidationIndex, textValue(indexName()));
      else
        out.entry(VsfMsg::CvexNumberExternalFolds, intValue(o.cvFolds));
    }
    if (o.include != 0)
      out.entry(VsfMsg::ModelInfoEffectsForced, dblValue(static_cast<double>(o.include)));
    out.entry(VsfMsg::ModelInfoEffectHierarchyEnforced,
              msgValue(kMsgHierarchyNames[static_cast<int32_t>(o.hierarchy)]));
  }
  if ((o.trainFraction > 0.0 && o.trainFraction < 1.0) || vsfCvScheme(o.cvMethod).seeded)
    out.entry(VsfMsg::ModelInfoRandomNumberSeed, i64Value(ctx->seed));
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpBootstrapInfo(VsfContext* ctx) {
  VsfOut out(ctx);
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  if (!out.createFactoid("ModelAverageInfo", "Stat.VARSIFTER.ModelAverageInfo",
                         msgText(VsfMsg::AverageModelAveragingInformation),
                         msgText(VsfMsg::AverageModelAveragingInformation)))
    return VsfStatus::Ok;
  out.entry(VsfMsg::AverageSamplingMethod,
            msgValue(ma.srs ? VsfMsg::AverageSimpleRandomWithoutReplacement
                            : VsfMsg::AverageUnrestrictedReplacement));
  double fraction = ma.sampleFraction;
  if (fraction == 0.0 && ma.sampleSize == 0.0)
    fraction = ma.srs ? 0.75 : 1.0;
  if (fraction != 0.0)
    out.entry(VsfMsg::AverageSamplePercentage, dblValue(fraction * 100.0));
  if (ma.sampleSize != 0.0)
    out.entry(VsfMsg::AverageSampleSize, intValue(static_cast<int32_t>(ma.sampleSize)));
  out.entry(VsfMsg::AverageNumberSamples, intValue(ma.nSamples));
  if (ma.refit) {
    if (ma.refitMinPct != 0.0)
      out.entry(VsfMsg::AverageRefitMinimumEffectPercentage, dblValue(ma.refitMinPct * 100.0));
    if (ma.refitBest >= 0)
      out.entry(VsfMsg::AverageRefitBestEffects,
                intValue(ma.refitBest - (ctx->options.noint ? 0 : 1)));
    out.entry(VsfMsg::AverageNumberRefitSamples, intValue(ma.refitNSamples));
  }
  if (ma.parmThreshold != 0.0)
    out.entry(VsfMsg::AverageParameterThresholdPercentage, dblValue(ma.parmThreshold * 100.0));
  if (ma.minModelFreq != 0)
    out.entry(VsfMsg::AverageMinimumModelFrequency, intValue(ma.minModelFreq));
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpDimensions(VsfContext* ctx) {
  VsfOut out(ctx);
  const LevDesign* d = vsfDesign(ctx);
  int32_t k = ctx->options.noint ? 1 : 0;
  if (!out.createFactoid("Dimensions", "Stat.VARSIFTER.Dimensions", msgText(VsfMsg::Dimensions),
                         msgText(VsfMsg::Dimensions)))
    return VsfStatus::Ok;
  out.entry(VsfMsg::DimensionsNumberEffects, intValue((d != nullptr ? d->effectCount : 0) - k));
  if (ctx->stmt.cls.splitAny)
    out.entry(VsfMsg::DimensionsNumberEffectsAfterSplits, intValue(ctx->effectRecordCount - k));
  out.entry(VsfMsg::DimensionsNumberParameters, intValue((d != nullptr ? d->columnCount : 0) - k));
  out.endRows();
  out.release();
  out.finish();
  return VsfStatus::Ok;
}
