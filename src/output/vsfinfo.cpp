// The factoids "ModelInfo", "ModelAverageInfo" and "Dimensions": what was analysed, how
// the selection and model averaging were set up, and the size of a BY group's design.
// The settings are the statement readers' and the post-parse initialisation's.
// Declared in output/vsfresults.h and output/vsfprinters.h.
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "support/hoststubs.h"

namespace {
RvqAttr textValue(RvqText* t) { return rvqTextHandle(RvqAttrId::Value, t); }
RvqAttr msgValue(int32_t number) { return rvqTextHandle(RvqAttrId::Value, vsfMsg(number)); }
RvqAttr intValue(int32_t v) { return rvqInt(RvqAttrId::Value, v); }
RvqAttr dblValue(double v) { return rvqDouble(RvqAttrId::Value, v); }
RvqAttr i64Value(int64_t v) {
  RvqAttr a = rvqInt(RvqAttrId::Value, 0);
  a.type = RVQ_INT64;
  a.value.i64 = v;
  return a;
}
} // namespace

int32_t vsfpModelInfo(VsfContext* ctx) {
  VsfOut out(ctx);
  if (!out.createFactoid("ModelInfo", "Stat.VARSIFTER.ModelInfo", vsfMsg(670), nullptr))
    return 0;
  const VsfModelOptions& o = ctx->options;
  const VsfProcSettings& proc = ctx->stmt.proc;
  const LevRegContext& dc = ctx->design;
  out.entry(671, textValue(vsfDataSetNameText(ctx->data)));
  if (proc.valData != nullptr)
    out.entry(672, textValue(vsfDataSetNameText(proc.valData)));
  if (proc.testData != nullptr)
    out.entry(673, textValue(vsfDataSetNameText(proc.testData)));
  if (dc.freq != nullptr)
    out.entry(685, textValue(vsfVariableNameText(dc.freq->var)));
  if (dc.weights != nullptr)
    out.entry(686, textValue(vsfVariableNameText(dc.weights->var)));
  const HostVariable* response =
      dc.responses != nullptr ? dc.responses[0].var
                              : (ctx->stmt.responses != nullptr ? ctx->stmt.responses[0] : nullptr);
  out.entry(687, textValue(vsfVariableNameText(response)));
  bool competitive = o.method == VM_STEPWISE && o.drop == DROP_COMPETITIVE;
  if (competitive) {
    out.entry(674, msgValue(439));
  } else if (!o.adaptive) {
    out.entry(674, msgValue(419 + o.method));
  } else {
    out.entry(674, msgValue(438));
    if (o.hasInEst && ctx->stmt.adaptiveInest != nullptr)
      out.entry(698, textValue(vsfDataSetNameText(ctx->stmt.adaptiveInest)));
    if (o.gamma != 1.0)
      out.entry(697, dblValue(o.gamma));
  }
  if (o.maxSteps != 0)
    out.entry(675, intValue(o.maxSteps));
  if (o.method != VM_NONE) {
    if (!o.penalizedPath && !o.solverPath)
      out.entry(676, msgValue(399 + o.select));
    if (o.steps != 0)
      out.entry(677, intValue(o.steps));
    else if (o.stopCount != 0)
      out.entry(678, intValue(o.stopCount));
    else
      out.entry(679, msgValue(o.stop == VC_NONE_GIVEN ? 696 : 399 + o.stop));
    if (o.choose != VC_NONE_GIVEN)
      out.entry(680, msgValue(399 + o.choose));
    bool sl = o.select == VC_SL || o.stop == VC_SL || o.choose == VC_SL;
    if (sl && (o.method == VM_FORWARD || o.method == VM_STEPWISE))
      out.entry(681, dblValue(o.slEntry));
    if (sl && (o.method == VM_BACKWARD || o.method == VM_STEPWISE))
      out.entry(682, dblValue(o.slStay));
    const LevDesign* d = vsfDesign(ctx);
    auto indexName = [&]() -> RvqText* {
      if (d != nullptr && o.cvIndexVar >= 0 && o.cvIndexVar < d->classCount)
        return vsfVariableNameText(d->classes[o.cvIndexVar].var);
      return vsfText("", 0);
    };
    if (o.cvOn) {
      out.entry(690, msgValue(690 + o.cvMethod));
      if (o.cvMethod == CV_INDEX)
        out.entry(695, textValue(indexName()));
      else
        out.entry(689, intValue(o.cvFolds));
    }
    if (o.cvExternal) {
      out.entry(3402, msgValue(690 + o.cvMethod));
      if (o.cvMethod == CV_INDEX)
        out.entry(3403, textValue(indexName()));
      else
        out.entry(3401, intValue(o.cvFolds));
    }
    if (o.include != 0)
      out.entry(683, dblValue(static_cast<double>(o.include)));
    out.entry(684, msgValue(440 + o.hierarchy));
  }
  if ((o.trainFraction > 0.0 && o.trainFraction < 1.0) || o.cvMethod == CV_RANDOM)
    out.entry(688, i64Value(ctx->seed));
  out.endRows();
  out.release();
  out.finish();
  return 0;
}

int32_t vsfpBootstrapInfo(VsfContext* ctx) {
  VsfOut out(ctx);
  const VsfModelAverageSettings& ma = ctx->stmt.ma;
  if (!out.createFactoid("ModelAverageInfo", "Stat.VARSIFTER.ModelAverageInfo", vsfMsg(1100),
                         vsfMsg(1100)))
    return 0;
  out.entry(1101, msgValue(ma.srs ? 1103 : 1102));
  double fraction = ma.sampleFraction;
  if (fraction == 0.0 && ma.sampleSize == 0.0)
    fraction = ma.srs ? 0.75 : 1.0;
  if (fraction != 0.0)
    out.entry(1104, dblValue(fraction * 100.0));
  if (ma.sampleSize != 0.0)
    out.entry(1105, intValue(static_cast<int32_t>(ma.sampleSize)));
  out.entry(1106, intValue(ma.nSamples));
  if (ma.refit) {
    if (ma.refitMinPct != 0.0)
      out.entry(1120, dblValue(ma.refitMinPct * 100.0));
    if (ma.refitBest >= 0)
      out.entry(1121, intValue(ma.refitBest - (ctx->options.noint ? 0 : 1)));
    out.entry(1122, intValue(ma.refitNSamples));
  }
  if (ma.parmThreshold != 0.0)
    out.entry(1118, dblValue(ma.parmThreshold * 100.0));
  if (ma.minModelFreq != 0)
    out.entry(1119, intValue(ma.minModelFreq));
  out.endRows();
  out.release();
  out.finish();
  return 0;
}

int32_t vsfpDimensions(VsfContext* ctx) {
  VsfOut out(ctx);
  const LevDesign* d = vsfDesign(ctx);
  int32_t k = ctx->options.noint ? 1 : 0;
  if (!out.createFactoid("Dimensions", "Stat.VARSIFTER.Dimensions", vsfMsg(760), vsfMsg(760)))
    return 0;
  out.entry(761, intValue((d != nullptr ? d->effectCount : 0) - k));
  if (ctx->stmt.cls.splitAny)
    out.entry(762, intValue(ctx->effectRecordCount - k));
  out.entry(763, intValue((d != nullptr ? d->columnCount : 0) - k));
  out.endRows();
  out.release();
  out.finish();
  return 0;
}
