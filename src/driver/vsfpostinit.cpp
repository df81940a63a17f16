// Post-parse initialisation: the options of all statements checked against each other and
// the model in the order of vsfPostInit, with partition roles, effect containment, the seed,
// the fit statistics and the output defaults. The statement readers fill the settings; the
// fit and the results read them.
#include "driver/vsfpostinit.h"
#include "driver/vsfpostinitparts.h"
#include "driver/vsfresponse.h"

#include "design/levhier.h"
#include "driver/vsfbridge.h"
#include "driver/vsfparse.h"
#include "driver/vsfsteps.h"
#include "driver/vsfstmtlog.h"
#include "model/vsfswitches.h"
#include "output/vsfcontext.h"
#include "selection/vsfresample.h"
#include "support/cvscheme.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/parsedstmt.h"
#include "support/poolalloc.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/vsfoutputstat.h"
#include "support/wobmth.h"

#include <algorithm>

using namespace postinit;

namespace postinit {

void note(VsfMsg number, std::initializer_list<HostMsgArg> args) { vsfLog(number, args); }
void warn(VsfContext* ctx, VsfMsg number, std::initializer_list<HostMsgArg> args) {
  stmtWarn(ctx, number, args);
}
// A refusal of the checks after the statements: return code StepRc::Error, `code` to the
// caller.
VsfStatus fail(VsfContext* ctx, VsfMsg number, DriverResult code,
               std::initializer_list<HostMsgArg> args) {
  return stmtFail(ctx, number, StepRc::Error, code, args);
}

} // namespace postinit

namespace {

// LAR, LASSO (with or without least-squares coefficients), ELASTICNET and the solver-based
// LASSO: the methods whose penalty bounds the columns' coefficients.
[[nodiscard]] bool lassoType(const VsfModelOptions& o) {
  return vsfMethodPenalty(o.method) == VsfPenalty::Columns;
}
[[nodiscard]] bool groupType(const VsfModelOptions& o) { return vsfGroupMethod(o.method); }
// The least-angle paths without the elastic net's L2 term: LAR and LASSO.
[[nodiscard]] bool larOrLasso(VsfMethod m) {
  return vsfMethodIs(m, VsfMethodFamily::LeastAngle) && !vsfMethodRidge(m);
}

// The flag of the fit statistic that shows a criterion's value (null: none shows it).
[[nodiscard]] uint8_t VsfModelOptions::*statisticOf(VsfCriterion code) {
  switch (code) {
  case VsfCriterion::Sl:
    return &VsfModelOptions::statSl;
  case VsfCriterion::Aic:
    return &VsfModelOptions::statAic;
  case VsfCriterion::Aicc:
    return &VsfModelOptions::statAicc;
  case VsfCriterion::Sbc:
    return &VsfModelOptions::statSbc;
  case VsfCriterion::Bic:
    return &VsfModelOptions::statBic;
  case VsfCriterion::Cp:
    return &VsfModelOptions::statCp;
  case VsfCriterion::Press:
    return &VsfModelOptions::statPress;
  case VsfCriterion::RSquare:
    return &VsfModelOptions::statRsquare;
  case VsfCriterion::AdjRsq:
    return &VsfModelOptions::statAdjrsq;
  case VsfCriterion::Validate:
    return &VsfModelOptions::statAse;
  case VsfCriterion::NoneGiven:
  case VsfCriterion::Cv:
  case VsfCriterion::None:
  case VsfCriterion::Cvex:
  case VsfCriterion::L1:
    break;
  }
  return nullptr;
}

// Marks the statistic of a criterion among the fit statistics shown (the significance level
// with its F); the validation ASE only where `validateMarks`.
void markStatistic(VsfModelOptions& o, VsfCriterion code, bool validateMarks) {
  const auto flag = statisticOf(code);
  if (flag == nullptr || (flag == &VsfModelOptions::statAse && !validateMarks))
    return;
  o.*flag = 1;
  if (flag == &VsfModelOptions::statSl)
    o.statF = 1;
}

// True when a fit statistic shown needs the full model's variance.
[[nodiscard]] bool fullModelStatisticShown(const VsfModelOptions& o) {
  for (const VsfCriterionTraits& t : kVsfCriterionTraits) {
    const auto flag = statisticOf(t.criterion);
    if (vsfCriterionFullModel(t.criterion) && flag != nullptr && o.*flag != 0)
      return true;
  }
  return false;
}

[[nodiscard]] bool roleTextGiven(int32_t length) { return length != 0; }

// True when an EFFECT statement makes a spline without its own SPLIT option (the penalized
// paths split it all the same). The k-th EFFECT statement made the records from
// constructedMap[k].first on.
[[nodiscard]] bool splineWithoutSplit(const LevDesign* d) {
  ParseRoot* root = hostParseRoot();
  if (root == nullptr || d->constructedMap == nullptr)
    return false;
  int32_t k = 0;
  for (ParsedStatement* s = findstmt(root->first, "EFFECT"); s != nullptr;
       s = findstmt(s->next, "EFFECT"), ++k) {
    const int32_t first = d->constructedMap[k].first;
    if (first < 0 || first >= d->constructedCount)
      break;
    if (d->constructed[first].kind == EffectVarKind::Spline && !stmtFlag(s, EffectFlag::Split))
      return true;
  }
  return false;
}

// Refuses effects the penalized paths cannot take, and a model without effects.
[[nodiscard]] VsfStatus checkEffects(VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  LevDesign* d = ctx->design.design;
  if (lassoType(o)) {
    bool unsplitSpline = false;
    for (int32_t k = 0; k < d->constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[k];
      if (ev.continuation)
        continue;
      HostMsgArg name(ev.label != nullptr ? ev.label : ev.name,
                      ev.label != nullptr ? ev.labelLength : ev.nameLength);
      if (ev.kind == EffectVarKind::MultiMember || ev.kind == EffectVarKind::Collection ||
          ev.kind == EffectVarKind::Lag)
        return fail(ctx, VsfMsg::ConstructedEffectNotForMethod, DriverResult::Refused, {name});
      if (ev.kind == EffectVarKind::Polynomial && ev.poly != nullptr && ev.poly->noSeparate)
        return fail(ctx, VsfMsg::NoseparatePolynomialNotForMethod,
                    DriverResult::PolynomialNoSeparate, {name});
    }
    unsplitSpline = splineWithoutSplit(d);
    if (unsplitSpline)
      note(VsfMsg::SplineEffectsSplitIntoColumns);
  }
  if (d->effectCount < 2 && o.noint)
    return fail(ctx, VsfMsg::NointModelWithoutEffects, DriverResult::NoEffects);
  return VsfStatus::Ok;
}

// Which plots and candidate details the method can have.
void reconcilePlots(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPlotSettings& pl = ctx->stmt.plots;
  bool candDetails = (o.stepDetails & 1) != 0 && o.stepCandidates != 0;
  if (!vsfMethodSelects(o.method) || lassoType(o) || groupType(o)) {
    if (pl.candLevel != 0 || pl.selgLevel != 0 || candDetails) {
      if (!(pl.candLevel == kPlotByAll && pl.selgLevel == kPlotByAll && !candDetails))
        note(VsfMsg::CandidateDetailsNotForMethod);
      pl.candLevel = 0;
      pl.selgLevel = 0;
      o.stepCandidates = 0;
      candDetails = false;
    }
  } else if (pl.candLevel == kPlotByAll && !candDetails) {
    pl.candLevel = 0;
  }
  ctx->candidatesFlag = pl.candLevel != 0 || candDetails;
  o.storeCandidates = ctx->candidatesFlag;
  if (pl.coefLevel != 0 || pl.candLevel != 0) {
    ctx->coefPlotBit = 1;
    o.stepDetails |= 2; // a plot needs the step records
  }
  const bool pathMethod = vsfMethodIs(o.method, VsfMethodFamily::LeastAngle);
  for (VsfStepAxis* axis : {&pl.coefStepAxis, &pl.aseStepAxis, &pl.critStepAxis})
    if (*axis == VsfStepAxis::NormBeta && !pathMethod) {
      *axis = VsfStepAxis::Step;
      warn(ctx, VsfMsg::StepaxisNormbOnlyOnPaths);
    }
}

// Resampling statistics need model averaging. Their warnings come in this order, not in
// the statistics' code order.
void dropStat(VsfContext* ctx, VsfOutputSpec& spec, const VsfOutputStatTraits& row, VsfMsg msg) {
  VsfOutputStat& st = spec.stat(row.stat);
  if (!st.on)
    return;
  st.on = 0;
  if (row.counted && spec.columnCount > 0)
    spec.columnCount -= 1;
  warn(ctx, msg);
}
void dropResamplingStats(VsfContext* ctx) {
  using enum VsfOutputStatIndex;
  static constexpr VsfOutputStatIndex kDrops[] = {SamplePred, SampleFreq, StdDev,
                                                  Lower,      Upper,      Median};
  for (VsfOutputStatIndex i : kDrops)
    if (const VsfOutputStatTraits& row = vsfOutputStat(i); row.outputDropped.get())
      dropStat(ctx, ctx->stmt.output, row, *row.outputDropped.get());
  for (int32_t s = 0; s < ctx->scoreCount; ++s)
    for (VsfOutputStatIndex i : kDrops)
      if (const VsfOutputStatTraits& row = vsfOutputStat(i); row.scoreDropped.get())
        dropStat(ctx, ctx->scores[s].spec, row, *row.scoreDropped.get());
}

[[nodiscard]] bool anyStatistic(const VsfOutputSpec& spec) {
  for (const VsfOutputStat& s : spec.stats)
    if (s.on)
      return true;
  return false;
}
void impliedPredicted(VsfOutputSpec& spec) {
  spec.stat(VsfOutputStatIndex::Pred).on = 1;
  spec.columnCount = std::max(spec.columnCount, 1);
}

// Model averaging's refit size counts the Intercept; the resamplers are seeded.
[[nodiscard]] VsfStatus modelAveraging(VsfContext* ctx) {
  VsfModelAverageSettings& ma = ctx->stmt.ma;
  if (!ma.on)
    return VsfStatus::Ok;
  if (ma.refit) {
    if (ctx->options.noint) {
      if (ma.refitBest == 0)
        return fail(ctx, VsfMsg::NointBestModelSizeBelowOne, DriverResult::NointBestModelSize);
    } else if (ma.refitBest >= 0) {
      ma.refitBest += 1; // BEST= counts the intercept too; -1 stays "not given"
    }
  }
  // One random stream per resampler, seeded with the run's seed plus its index.
  if (VsfStatus rc = vsfResamplingSetUp(&ctx->resampling, ctx->mainPool, ma, &ctx->exts);
      rc != VsfStatus::Ok)
    return rc;
  ctx->resampling->settings.keepFreqs = ctx->stmt.output.stat(VsfOutputStatIndex::SampleFreq).on;
  return VsfStatus::Ok;
}

// Settles CHOOSE= and INCLUDE= against the method, links and checks the response side and
// the effects, and keeps DROP= for STEPWISE only.
[[nodiscard]] VsfStatus checkMethodsAndResponse(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfStatementSettings& st = ctx->stmt;
  const bool lasso = lassoType(ctx->options);
  const bool group = groupType(ctx->options);
  if (!vsfMethodSelects(o.method))
    o.choose = VsfCriterion::NoneGiven;
  if ((lasso || group) && o.include != 0)
    return fail(ctx, VsfMsg::IncludeNotAvailableSelection, DriverResult::Refused);
  if (st.responseCount > 0 && st.responses[0] != nullptr)
    ctx->responseName = rvqtxt(st.responses[0]->name, st.responses[0]->nameLength);
  if (VsfStatus rc = vsfLinkResponseSide(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = vsfCheckResponseSide(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = checkEffects(ctx); rc != VsfStatus::Ok)
    return rc;
  if (!vsfMethod(o.method).takesDrop)
    o.drop = VsfDrop::BeforeAdd;
  return VsfStatus::Ok;
}

// The penalized and group methods: CLASS effects split, dense storage, no hierarchy.
void penalizedMethodSettings(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfStatementSettings& st = ctx->stmt;
  VsfPerfOptions& po = ctx->stmt.perfOptions;
  LevDesign* d = ctx->design.design;
  const bool lasso = lassoType(ctx->options);
  const bool group = groupType(ctx->options);
  if (lasso || group) {
    if (lasso && d->classCount > 0) {
      bool classEffect = false;
      for (int32_t e = 0; e < d->effectCount && !classEffect; ++e)
        classEffect = d->effects[e].allClassCount > 0;
      if (classEffect) {
        for (int32_t i = 0; i < d->classCount; ++i)
          d->classes[i].split = 1;
        o.split = 1;
        st.cls.splitAny = 1;
        ctx->forcedSplit = 1;
        note(VsfMsg::ClassVariablesSplitForMethod);
      }
    }
    po.allDense = 1;
    po.allSparse = 0;
    if (o.hierarchy != VsfHierarchy::None) {
      o.hierarchy = VsfHierarchy::None;
      note(VsfMsg::HierarchyNotForMethod);
    }
  }
}

// Which held-out data there are and which fit statistics the fit computes.
void heldOutAndFitStatistics(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPerfOptions& po = ctx->stmt.perfOptions;
  ctx->testDataFlag = testRowsGiven(ctx);
  ctx->validateDataFlag = validateRowsGiven(ctx);
  markStatistic(o, o.stop, true);
  markStatistic(o, o.select, false);
  markStatistic(o, o.choose, true);
  if (ctx->testDataFlag || ctx->validateDataFlag)
    o.statAse = 1;
  o.fullModelFirst = 0;
  if (fullModelStatisticShown(o)) {
    if (po.sscpIncremental) {
      warn(ctx, VsfMsg::BuildsscpIncrementalIgnoredForCpBic);
    } else if (!o.fullXpx && !vsfMethodStartsFull(o.method) &&
               !vsfCriterionAsked(o, vsfCriterionFullModel)) {
      ctx->statsOnlyFull = 1;
    }
    o.fullXpx = 1;
    ctx->fullForFewEffects = 0;
    o.fullModelFirst = 1;
  }
  o.pressNeeded = o.statPress ? 1 : 0;
  if (ctx->noprint)
    o.statSl = o.statF = o.statAic = o.statAicc = o.statSbc = o.statBic = o.statCp = o.statPress =
        o.statRsquare = o.statAdjrsq = o.statAse = 0;
}

// SPLIT meets interlaced parameter labels: warn once per design and switch the labels to
// the split style.
void splitLabelStyle(VsfContext* ctx) {
  LevDesign* d = ctx->design.design;
  if (!d->splitWarned && d->parmLabelStyle == LSTYLE_INTERLACED) {
    bool classSplit = false;
    for (int32_t i = 0; i < d->classCount && !classSplit; ++i)
      classSplit = d->classes[i].split != 0;
    bool splineSplit = false;
    for (int32_t k = 0; k < d->constructedCount && !splineSplit; ++k)
      splineSplit = d->constructed[k].kind == EffectVarKind::Spline &&
                    d->constructed[k].spline != nullptr && d->constructed[k].spline->split;
    if (classSplit || splineSplit) {
      warn(ctx, classSplit ? VsfMsg::SplitClassNeedsSeparateLabels
                           : VsfMsg::SplitSplineNeedsSeparateLabels);
      d->splitWarned = 1;
      d->parmLabelStyle = LSTYLE_SEPARATE;
    }
  }
}

// PRESS on the penalized paths, and whether the fit stops by a criterion.
[[nodiscard]] VsfStatus pressAndStopTest(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  if (o.pressNeeded && larOrLasso(o.method)) {
    o.pressNeeded = 0;
    if (o.choose == VsfCriterion::Press || o.stop == VsfCriterion::Press)
      return fail(ctx, VsfMsg::PressNotStopChooseOfLarLasso, DriverResult::PressAsStopChoose);
    note(VsfMsg::PressNotShownForLarLasso);
  } else if (o.pressNeeded && vsfMethodRidge(o.method)) {
    o.pressNeeded = 0;
    if (o.stop == VsfCriterion::Press)
      return fail(ctx, VsfMsg::PressNotStopOfElasticnet, DriverResult::PressCriterion);
    if (o.choose == VsfCriterion::Press)
      return fail(ctx, VsfMsg::PressNotChooseOfElasticnet, DriverResult::PressCriterion);
    note(VsfMsg::PressNotShownForElasticnet);
  }
  o.stopTest = o.stop != VsfCriterion::NoneGiven && o.steps == 0 && o.stopCount == 0;
  return VsfStatus::Ok;
}

// The plots, the role variable's buffer and whether the data are partitioned.
[[nodiscard]] VsfStatus plotsRoleAndPartition(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfProcSettings& p = ctx->stmt.proc;
  VsfPartitionSettings& ps = ctx->stmt.partition;
  reconcilePlots(ctx);
  if (ps.roleVar > 0) {
    HostVariable* role = nullptr;
    int32_t width = 8;
    if (xvname(ctx->data, ps.roleVar, &role) == 0 && role != nullptr)
      width = std::max({role->formatWidth, role->length, 1});
    ctx->roleBuffer = poolArray<char>(ctx->mainPool, width + 1);
    if (ctx->roleBuffer == nullptr)
      return VsfStatus::NoMemory;
    ctx->roleLength = width;
    o.trainFraction = 0;
  }
  ctx->partitionOn =
      ps.roleVar > 0 || o.trainFraction != 1.0 || p.valData != nullptr || p.testData != nullptr;
  if (o.stop == VsfCriterion::Validate && o.validateFraction <= 0 &&
      !roleTextGiven(ps.validateLength) && p.valData == nullptr)
    return fail(ctx, VsfMsg::StopValidateNeedsValidationData, DriverResult::StopValidateNoRows);
  o.validateInUse = ctx->validateDataFlag;
  o.testInUse = ctx->testDataFlag;
  return VsfStatus::Ok;
}

// Switches derived from the settings: step axes, trials, cross validation, INCLUDE= and the
// shape of the build.
void derivedSwitches(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfStatementSettings& st = ctx->stmt;
  LevDesign* d = ctx->design.design;
  const bool lasso = lassoType(ctx->options);
  const VsfPlotSettings& pl = st.plots;
  ctx->normbAxis = pl.coefStepAxis == VsfStepAxis::NormBeta ||
                   pl.aseStepAxis == VsfStepAxis::NormBeta ||
                   pl.critStepAxis == VsfStepAxis::NormBeta;
  // The NORMB step axis reads the standardized-L1 series, so the fit keeps it then.
  o.stdL1History = ctx->normbAxis ? 1 : 0;
  o.trialAll = o.select == VsfCriterion::Press || o.select == VsfCriterion::Validate ||
               o.select == VsfCriterion::Cv;
  o.cvOn = o.cvMethod != VsfCvMethod::None && o.choose != VsfCriterion::Cvex;
  o.cvExternal = o.cvMethod != VsfCvMethod::None && o.choose == VsfCriterion::Cvex;
  if (vsfCvScheme(o.cvMethod).indexFolds) {
    int32_t index = -1;
    for (int32_t i = 0; i < d->classCount && index < 0; ++i)
      if (d->classes[i].var != nullptr && d->classes[i].var->number == o.cvIndexVar)
        index = i;
    o.cvIndexVar = index;
  }
  if (o.include != 0 && !vsfMethodSelects(o.method)) {
    o.include = 0;
    o.forcedIn = o.noint ? 0 : 1;
    note(VsfMsg::IncludeIgnoredSelectionNone);
  }
  const int32_t available = d->effectCount - (o.noint ? 1 : 0);
  if (o.forcedIn > available) {
    o.forcedIn = available;
    note(VsfMsg::IncludeExceedsEffects);
    o.fullXpx = 1;
    ctx->fullForFewEffects = 0;
  }
  o.storeCross = !o.fullXpx && !lasso && vsfMethodSelects(o.method);
  ctx->fullBuildUsed = o.fullXpx;
  const VsfPerfOptions& po = st.perfOptions;
  ctx->growingByChoice = !o.fullXpx && !po.sscpIncremental && !po.sscpFull;
  ctx->growingAsked = !o.fullXpx && po.sscpIncremental;
  ctx->storeCrossGrowing = !lasso && vsfMethodSelects(o.method);
}

// Selects the variables of DATA= to read.
[[nodiscard]] VsfStatus openDataForReading(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  bool scoreOnData = false;
  for (int32_t s = 0; s < ctx->scoreCount; ++s)
    scoreOnData = scoreOnData || ctx->scores[s].data == nullptr;
  // Selection resets on an open input: a closed one fails the reads that follow.
  if (o.hasOutput || o.hasOutDesign || scoreOnData)
    (void)xvallvr(ctx->data);
  (void)xvsele(ctx->data);
  if (ctx->data == nullptr || xoinfo(ctx->data, 23, nullptr, 0) != 1)
    return VsfStatus::DataNotReadable;
  return VsfStatus::Ok;
}

// Effect containment for the hierarchy rules.
[[nodiscard]] VsfStatus effectContainment(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  LevDesign* d = ctx->design.design;
  const int32_t E = d->effectCount;
  ctx->hierContainedCounts = poolArray<int32_t>(ctx->mainPool, E);
  ctx->hierContainingCounts = poolArray<int32_t>(ctx->mainPool, E);
  ctx->hierContained = poolArray<int32_t*>(ctx->mainPool, E);
  ctx->hierContaining = poolArray<int32_t*>(ctx->mainPool, E);
  if (ctx->hierContainedCounts == nullptr || ctx->hierContainingCounts == nullptr ||
      ctx->hierContained == nullptr || ctx->hierContaining == nullptr)
    return VsfStatus::NoMemory;
  HierarchyRequest request{};
  request.context = &ctx->design;
  request.pool = ctx->mainPool;
  request.allocator = ctx->mainPool;
  request.usePool = 1;
  request.hierarchy = o.hierarchy;
  request.method = o.method;
  request.containingCounts = ctx->hierContainingCounts;
  request.containedCounts = ctx->hierContainedCounts;
  request.containing = ctx->hierContaining;
  request.contained = ctx->hierContained;
  if (VsfStatus rc = zlevhier(&request); rc != VsfStatus::Ok)
    return rc;
  // An effect enters once all effects it contains are in; it leaves once none containing
  // it is in.
  o.hierAddCountInit = ctx->hierContainedCounts;
  o.hierDropCountInit = ctx->hierContainingCounts;
  o.hierListA = ctx->hierContained;
  o.hierListB = ctx->hierContaining;
  return VsfStatus::Ok;
}

// The statistics of OUTPUT= and SCORE, and the model-averaging settings.
[[nodiscard]] VsfStatus outputStatisticsAndAveraging(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfStatementSettings& st = ctx->stmt;
  LevDesign* d = ctx->design.design;
  if (!st.ma.on)
    dropResamplingStats(ctx);
  if (ctx->scoreCount == 0 && !o.hasOutput && !o.hasOutDesign) {
    if (!anyStatistic(st.output))
      impliedPredicted(st.output);
  } else {
    ctx->outClassFlags = poolArray<uint8_t>(ctx->mainPool, std::max(d->classCount, 1));
    ctx->outNumericFlags = poolArray<uint8_t>(ctx->mainPool, std::max(d->numericCount, 1));
    ctx->outConstructedFlags = poolArray<uint8_t>(ctx->mainPool, std::max(d->constructedCount, 1));
    ctx->outEffectFlags = poolArray<uint8_t>(ctx->mainPool, std::max(d->effectCount, 1));
    if (ctx->outClassFlags == nullptr || ctx->outNumericFlags == nullptr ||
        ctx->outConstructedFlags == nullptr || ctx->outEffectFlags == nullptr)
      return VsfStatus::NoMemory;
    if (!anyStatistic(st.output))
      impliedPredicted(st.output);
    for (int32_t s = 0; s < ctx->scoreCount; ++s)
      if (!anyStatistic(ctx->scores[s].spec))
        impliedPredicted(ctx->scores[s].spec);
  }
  // Over BY groups a design column holds different parameters in different groups, so the
  // columns are numbered after a prefix; without PREFIX= the user is told which.
  if (o.hasOutDesign && st.proc.byCount > 0 && st.proc.outDesignDefaultPrefix)
    note(VsfMsg::OutdesignNoPrefixOption);
  return modelAveraging(ctx);
}

// The output manager's title, and whether the post-fit module gets the error variance and
// the covariance of the estimates (not when no single least-squares fit stands behind them);
// a program with STORE or CODE is told when it does not.
void titleAndPostFitStatements(VsfContext* ctx) {
  VsfStatementSettings& st = ctx->stmt;
  const bool lasso = lassoType(ctx->options);
  if (!ctx->noprint && ctx->outputManager != nullptr) {
    RvqAttr attrs[5] = {};
    attrs[1] = rvqInt(RvqAttrId::NoteLevel, 1);
    attrs[2] = rvqFlag(RvqAttrId::TitleNote, 1);
    attrs[3] = rvqInt(RvqAttrId::Placement, -1);
    attrs[4] = rvqTextHandle(RvqAttrId::Text, msgText(VsfMsg::VarsifterProcedure));
    int32_t rc = wobmth(ctx->outputManager, nullptr, RvqMethod::LevelNote, 5, attrs);
    if (rc < 0)
      zrvqexit(rc);
  }
  ctx->postFitAllowed = 1;
  // The notes tell what STORE and CODE hand over, so they come only with those statements.
  const bool handOver = ctx->postFit != nullptr;
  if (st.ma.on) {
    ctx->postFitAllowed = 0;
    if (handOver)
      note(VsfMsg::AveragingStoreUsesAveragedEstimates);
  } else if (lasso) {
    ctx->postFitAllowed = 0;
    if (handOver)
      note(VsfMsg::StoreUsesSelectedEstimates);
  }
}

} // namespace

namespace postinit {

// A variable _ROLE_ in DATA=.
void roleVariable(VsfContext* ctx) {
  int32_t number = 0;
  if (ctx->data == nullptr)
    return;
  // A missing variable leaves the number at 0, which the next lines test.
  (void)xvfind(ctx->data, "_ROLE_", 6, &number, 0);
  if (number <= 0)
    return;
  VsfPartitionSettings& ps = ctx->stmt.partition;
  if (ctx->stmt.proc.valData != nullptr || ctx->stmt.proc.testData != nullptr) {
    note(VsfMsg::RoleVariableIgnoredForValdata);
  } else if (ps.given || ctx->partitionCount > 0) {
    note(VsfMsg::RoleVariableIgnoredForPartition);
  } else {
    note(VsfMsg::RoleVariableAssignsRoles);
    ps.roleVar = number;
    ps.trainText = "TRAIN";
    ps.trainLength = 5;
    ps.validateText = "VALIDATE";
    ps.validateLength = 8;
    ps.testText = "TEST";
    ps.testLength = 4;
  }
}

// Whether the statements name test rows: a data set, role values or a fraction.
[[nodiscard]] bool testRowsGiven(const VsfContext* ctx) {
  const VsfPartitionSettings& ps = ctx->stmt.partition;
  return ctx->stmt.proc.testData != nullptr || roleTextGiven(ps.testLength) ||
         ctx->options.testFraction > 0 || roleTextGiven(ps.trainLength);
}

// Whether the statements name validation rows: a data set, role values or a fraction.
[[nodiscard]] bool validateRowsGiven(const VsfContext* ctx) {
  const VsfPartitionSettings& ps = ctx->stmt.partition;
  return ctx->stmt.proc.valData != nullptr || roleTextGiven(ps.validateLength) ||
         ctx->options.validateFraction > 0;
}

} // namespace postinit

VsfStatus vsfPostInit(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  if (ctx->inest == nullptr)
    ctx->inest = ctx->stmt.adaptiveInest;
  // The switches that follow from the method alone; the stages below decide the others.
  vsfDeriveFitSwitches(&o);

  if (VsfStatus rc = checkMethodsAndResponse(ctx); rc != VsfStatus::Ok)
    return rc;
  buildShapeAndThreads(ctx);
  penalizedMethodSettings(ctx);
  heldOutAndFitStatistics(ctx);
  splitLabelStyle(ctx);
  if (VsfStatus rc = pressAndStopTest(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = plotsRoleAndPartition(ctx); rc != VsfStatus::Ok)
    return rc;
  derivedSwitches(ctx);
  if (VsfStatus rc = openDataForReading(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = effectContainment(ctx); rc != VsfStatus::Ok)
    return rc;
  // The seed of the run's random streams.
  vsfSteps().zranms(&ctx->seed, 1);
  ctx->workingSeed = ctx->seed;

  if (VsfStatus rc = heldOutAndScoringSets(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = outputStatisticsAndAveraging(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = saveNamePointers(ctx); rc != VsfStatus::Ok)
    return rc;
  titleAndPostFitStatements(ctx);
  if (VsfStatus rc = fullSweepSetting(ctx); rc != VsfStatus::Ok)
    return rc;
  return VsfStatus::Ok;
}
