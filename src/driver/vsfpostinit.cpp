// Post-parse initialisation: the options of all statements checked against each other and
// the model, the variables of VALDATA=, TESTDATA= and SCORE data sets looked up, partition
// roles, effect containment, the seed and the output defaults; and the per-BY-group model
// set-up. The statement readers fill the settings; the fit and the results read them.
#include "driver/vsfpostinit.h"
#include "driver/vsfresponse.h"

#include "data/vsfutilfile.h"
#include "design/levhier.h"
#include "driver/vsfbridge.h"
#include "driver/vsfparse.h"
#include "driver/vsfsteps.h"
#include "driver/vsfstmtlog.h"
#include "model/vsfswitches.h"
#include "output/vsfcontext.h"
#include "selection/vsflarlasso.h"
#include "selection/vsfresample.h"
#include "support/cvscheme.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/parsedstmt.h"
#include "support/poolalloc.h"
#include "support/seams.h"
#include "support/vsfmethods.h"
#include "support/wobmth.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The name of a data set for messages (WORK.NAME, LIB.NAME or a path).
HostMsgArg nameArg(const HostVariable* v) {
  return v != nullptr ? HostMsgArg(v->name, v->nameLength) : HostMsgArg("", 0);
}

void note(VsfMsg number, std::initializer_list<HostMsgArg> args = {}) { vsfLog(number, args); }
void warn(VsfContext* ctx, VsfMsg number, std::initializer_list<HostMsgArg> args = {}) {
  stmtWarn(ctx, number, args);
}
// A refusal of the checks after the statements: return code StepRc::Error, `code` to the
// caller.
[[nodiscard]] VsfStatus fail(VsfContext* ctx, VsfMsg number, DriverResult code,
                             std::initializer_list<HostMsgArg> args = {}) {
  return stmtFail(ctx, number, StepRc::Error, code, args);
}

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

[[nodiscard]] bool anyCriterion(const VsfModelOptions& o, VsfCriterion code) {
  return o.select == code || o.stop == code || o.choose == code;
}

// Marks the statistic of a criterion among the fit statistics shown.
void markStatistic(VsfModelOptions& o, VsfCriterion code, bool validateMarks) {
  switch (code) {
  case VsfCriterion::Sl:
    o.statF = o.statSl = 1;
    break;
  case VsfCriterion::Aic:
    o.statAic = 1;
    break;
  case VsfCriterion::Aicc:
    o.statAicc = 1;
    break;
  case VsfCriterion::Sbc:
    o.statSbc = 1;
    break;
  case VsfCriterion::Bic:
    o.statBic = 1;
    break;
  case VsfCriterion::Cp:
    o.statCp = 1;
    break;
  case VsfCriterion::Press:
    o.statPress = 1;
    break;
  case VsfCriterion::RSquare:
    o.statRsquare = 1;
    break;
  case VsfCriterion::AdjRsq:
    o.statAdjrsq = 1;
    break;
  case VsfCriterion::Validate:
    if (validateMarks)
      o.statAse = 1;
    break;
  case VsfCriterion::NoneGiven:
  case VsfCriterion::Cv:
  case VsfCriterion::None:
  case VsfCriterion::Cvex:
  case VsfCriterion::L1:
    break;
  }
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
        return fail(ctx, VsfMsg::ConstructedEffectMultimemberCollection, DriverResult::Refused,
                    {name});
      if (ev.kind == EffectVarKind::Polynomial && ev.poly != nullptr && ev.poly->noSeparate)
        return fail(ctx, VsfMsg::PolynomialEffectNoseparateCannot,
                    DriverResult::PolynomialNoSeparate, {name});
    }
    unsplitSpline = splineWithoutSplit(d);
    if (unsplitSpline)
      note(VsfMsg::SplineEffectsSplitInto);
  }
  if (d->effectCount < 2 && o.noint)
    return fail(ctx, VsfMsg::ModelNoEffectsNoint, DriverResult::NoEffects);
  return VsfStatus::Ok;
}

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
    note(VsfMsg::VariableRoleInputDataSetIgnoredBecauseValdata);
  } else if (ps.given || ctx->partitionCount > 0) {
    note(VsfMsg::VariableRoleInputDataSetIgnoredBecausePartition);
  } else {
    note(VsfMsg::VariableRoleInputDataSetAssigns);
    ps.roleVar = number;
    ps.trainText = "TRAIN";
    ps.trainLength = 5;
    ps.validateText = "VALIDATE";
    ps.validateLength = 8;
    ps.testText = "TEST";
    ps.testLength = 4;
  }
}

// Which plots and candidate details the method can have.
void reconcilePlots(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPlotSettings& pl = ctx->stmt.plots;
  bool candDetails = (o.stepDetails & 1) != 0 && o.stepCandidates != 0;
  if (!vsfMethodSelects(o.method) || lassoType(o) || groupType(o)) {
    if (pl.candLevel != 0 || pl.selgLevel != 0 || candDetails) {
      if (!(pl.candLevel == kPlotByAll && pl.selgLevel == kPlotByAll && !candDetails))
        note(VsfMsg::CandidateDetailsCandidatesSelectogram);
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
      warn(ctx, VsfMsg::StepaxisNormbAvailableOnly);
    }
}

// Resampling statistics need model averaging.
void dropResamplingStats(VsfContext* ctx) {
  struct Drop {
    int index;
    VsfMsg outputMessage;
    VsfMsg scoreMessage;
    bool counted;
  };
  static const Drop kDrops[] = {
      {OS_SAMPLEPRED, VsfMsg::SamplepredOutputStatementNeeds, VsfMsg::SamplepredScoreStatementNeeds,
       false},
      {OS_SAMPLEFREQ, VsfMsg::SamplefreqOutputStatementNeeds, VsfMsg{}, false},
      {OS_STDDEV, VsfMsg::StddevOutputStatementNeeds, VsfMsg::StddevScoreStatementNeeds, true},
      {OS_LOWER, VsfMsg::LowerOutputStatementNeeds, VsfMsg::LowerScoreStatementNeeds, true},
      {OS_UPPER, VsfMsg::UpperOutputStatementNeeds, VsfMsg::UpperScoreStatementNeeds, true},
      {OS_MEDIAN, VsfMsg::MedianOutputStatementNeeds, VsfMsg::MedianScoreStatementNeeds, true},
  };
  VsfOutputSpec& out = ctx->stmt.output;
  for (const Drop& drop : kDrops)
    if (out.stats[drop.index].on) {
      out.stats[drop.index].on = 0;
      if (drop.counted && out.columnCount > 0)
        out.columnCount -= 1;
      warn(ctx, drop.outputMessage);
    }
  for (int32_t s = 0; s < ctx->scoreCount; ++s) {
    VsfOutputSpec& spec = ctx->scores[s].spec;
    for (const Drop& drop : kDrops)
      if (drop.scoreMessage != VsfMsg{} && spec.stats[drop.index].on) {
        spec.stats[drop.index].on = 0;
        if (drop.counted && spec.columnCount > 0)
          spec.columnCount -= 1;
        warn(ctx, drop.scoreMessage);
      }
  }
}

[[nodiscard]] bool anyStatistic(const VsfOutputSpec& spec) {
  for (const VsfOutputStat& s : spec.stats)
    if (s.on)
      return true;
  return false;
}
void impliedPredicted(VsfOutputSpec& spec) {
  spec.stats[OS_PRED].on = 1;
  spec.columnCount = std::max(spec.columnCount, 1);
}

// BY matching of a further data set with DATA=: Ok, or DriverResult::ByVariableType when a BY
// variable has another type there. Absent BY variables read the data set as a whole after
// `warning`.
[[nodiscard]] VsfStatus matchBy(VsfContext* ctx, VsfNameRecord* names, VsfMsg warning) {
  HostDataSetName dsName(names->data);
  int32_t r = xbylist(ctx->data, names->data);
  names->bySync = 1;
  if (r == 1)
    return fail(ctx, VsfMsg::VariablesInputDataSetDifferent, DriverResult::ByVariableType,
                {dsName.arg()});
  if (r == 2) {
    warn(ctx, warning, {dsName.arg()});
    names->bySync = 0;
  }
  return VsfStatus::Ok;
}

// Whether a variable found in `data` can stand for `want`: of its type, or in a data set
// without observations (a CSV file of a header alone), whose columns have no values to give
// them a type and are never read.
bool typeFits(const HostVariable* want, const HostVariable* have, HostDataSet* data) {
  return have->type == want->type || xdsnobs(data) == 0;
}

// The SCORE statements' data sets.
[[nodiscard]] VsfStatus checkScores(VsfContext* ctx) {
  if (ctx->scoreCount <= 0)
    return VsfStatus::Ok;
  ctx->scoreNames = poolArray<VsfNameRecord>(ctx->mainPool, ctx->scoreCount);
  if (ctx->scoreNames == nullptr)
    return VsfStatus::NoMemory;
  const VsfProcSettings& p = ctx->stmt.proc;
  for (int32_t s = 0; s < ctx->scoreCount; ++s) {
    VsfScoreSpec& sc = ctx->scores[s];
    VsfNameRecord& names = ctx->scoreNames[s];
    if (sc.data == nullptr) {
      names.data = ctx->data;
      names.bySync = 0;
      names.responseFound = names.freqFound = names.weightFound = 1;
      continue;
    }
    names.data = sc.data;
    if (vsfAllocNames(ctx, &names) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
    if (sc.data != ctx->data) {
      HostDataSetName dsName(sc.data);
      HostDataSetName outName(sc.out);
      // `missing` names the variable when it is not found, `otherType` when it has another
      // type there.
      auto lookup = [&](const HostVariable* want, HostVariable** out, VsfMsg missing,
                        VsfMsg otherType, bool logged) {
        if (want == nullptr)
          return false;
        int32_t number = 0;
        // A missing variable leaves the number at 0, which the next lines test.
        (void)xvfind(sc.data, want->name, want->nameLength, &number, 0);
        HostVariable* have = nullptr;
        if (number <= 0 || xvname(sc.data, number, &have) != 0 || have == nullptr) {
          if (logged)
            note(missing, {nameArg(want), dsName.arg(), outName.arg()});
          return false;
        }
        if (!typeFits(want, have, sc.data)) {
          if (logged)
            warn(ctx, otherType, {nameArg(want), dsName.arg(), outName.arg()});
          return false;
        }
        *out = have;
        return true;
      };
      const HostVariable* response = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
      names.responseFound =
          lookup(response, &names.response, VsfMsg::ResponseVariableNotFound,
                 VsfMsg::ResponseVariableDifferentType, sc.spec.stats[OS_RESID].on != 0);
      names.freqFound = p.freqGiven
                            ? lookup(p.freqVar, &names.freq, VsfMsg::FreqVariableNotFoundScore,
                                     VsfMsg::FreqVariableDifferentTypeScore, true)
                            : 0;
      names.weightFound =
          p.weightGiven ? lookup(p.weightVar, &names.weight, VsfMsg::WeightVariableNotFoundScore,
                                 VsfMsg::WeightVariableDifferentTypeScore, true)
                        : 0;
      VsfStatus rc = matchBy(ctx, &names, VsfMsg::VariablesInputDataSetNotAllScore);
      if (rc != VsfStatus::Ok)
        return rc;
    } else {
      names.responseFound = names.freqFound = names.weightFound = 1;
    }
  }
  return VsfStatus::Ok;
}

// Model averaging's refit size counts the Intercept; the resamplers are seeded.
[[nodiscard]] VsfStatus modelAveraging(VsfContext* ctx) {
  VsfModelAverageSettings& ma = ctx->stmt.ma;
  if (!ma.on)
    return VsfStatus::Ok;
  if (ma.refit) {
    if (ctx->options.noint) {
      if (ma.refitBest == 0)
        return fail(ctx, VsfMsg::NointBestModelSize, DriverResult::NointBestModelSize);
    } else if (ma.refitBest >= 0) {
      ma.refitBest += 1; // BEST= counts the intercept too; -1 stays "not given"
    }
  }
  // One random stream per resampler, seeded with the run's seed plus its index.
  if (VsfStatus rc = vsfResamplingSetUp(&ctx->resampling, ctx->mainPool, ma, &ctx->exts);
      rc != VsfStatus::Ok)
    return rc;
  ctx->resampling->settings.keepFreqs = ctx->stmt.output.stats[OS_SAMPLEFREQ].on;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfFind(const HostVariable* want, HostDataSet* data, HostVariable** out, VsfMsg missing,
                  VsfMsg otherType) {
  HostDataSetName dsName(data);
  int32_t number = 0;
  // A missing variable leaves the number at 0, which the next lines test.
  if (want != nullptr)
    (void)xvfind(data, want->name, want->nameLength, &number, 0);
  HostVariable* have = nullptr;
  if (want == nullptr || number <= 0 || xvname(data, number, &have) != 0 || have == nullptr) {
    vsfLog(missing, {nameArg(want), dsName.arg()});
    return statusOf(DriverResult::VariableMissing);
  }
  if (!typeFits(want, have, data)) {
    vsfLog(otherType, {nameArg(want), dsName.arg()});
    return statusOf(DriverResult::VariableOtherType);
  }
  *out = have;
  return VsfStatus::Ok;
}

VsfStatus vsfAllocNames(VsfContext* ctx, VsfNameRecord* names) {
  LevDesign* d = ctx->design.design;
  names->numerics = poolArray<HostVariable*>(ctx->mainPool, std::max(d->numericCount, 1));
  names->classes = poolArray<HostVariable*>(ctx->mainPool, std::max(d->classCount, 1));
  return names->numerics != nullptr && names->classes != nullptr ? VsfStatus::Ok
                                                                 : VsfStatus::NoMemory;
}

VsfStatus vsfCheckForVars(VsfContext* ctx, VsfNameRecord* names, MsgRun<VsfMsg> messages) {
  HostDataSet* data = names->data;
  LevDesign* d = ctx->design.design;
  // Selection resets on an open input: a closed one fails the reads that follow.
  (void)xvallvr(data);
  (void)xvsele(data);
  if (vsfAllocNames(ctx, names) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  auto require = [&](const HostVariable* want, HostVariable** out) {
    if (*out != nullptr)
      return VsfStatus::Ok;
    VsfStatus rc = vsfFind(want, data, out, messages[0], messages[1]);
    if (rc != VsfStatus::Ok)
      vsfRaiseRC(ctx, StepRc::Error);
    return rc;
  };
  VsfStatus rc = VsfStatus::Ok;
  if (ctx->stmt.responseCount > 0 &&
      (rc = require(ctx->stmt.responses[0], &names->response)) != VsfStatus::Ok)
    return rc;
  names->responseFound = 1;
  auto requireClass = [&](int32_t index) {
    if (index < 0 || index >= d->classCount)
      return VsfStatus::Ok;
    return require(d->classes[index].var, &names->classes[index]);
  };
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    for (int32_t k = 0; k < ef.allClassCount; ++k)
      if ((rc = requireClass(ef.allClass[k])) != VsfStatus::Ok)
        return rc;
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      for (int32_t j = 0; j < ev.classCount; ++j)
        if ((rc = requireClass(ev.classes[j])) != VsfStatus::Ok)
          return rc;
      if (ev.lag != nullptr) {
        if ((rc = requireClass(ev.lag->laggedVariable)) != VsfStatus::Ok)
          return rc;
        for (int32_t j = 0; j < ev.lag->withinCount; ++j)
          if ((rc = requireClass(ev.lag->within[j])) != VsfStatus::Ok)
            return rc;
      }
    }
  }
  for (int32_t j = 0; j < d->numericCount; ++j)
    if ((rc = require(d->numerics[j].var, &names->numerics[j])) != VsfStatus::Ok)
      return rc;
  const VsfProcSettings& p = ctx->stmt.proc;
  // FREQ and WEIGHT may be absent there; another type is a warning.
  auto optional = [&](const HostVariable* want, HostVariable** out, int32_t first) {
    const VsfStatus r = vsfFind(want, data, out, messages[first], messages[first + 1]);
    if (r == statusOf(DriverResult::VariableOtherType))
      vsfRaiseRC(ctx, StepRc::Warning);
    return static_cast<uint8_t>(r == VsfStatus::Ok);
  };
  if (p.freqGiven)
    names->freqFound = optional(p.freqVar, &names->freq, 2);
  if (p.weightGiven)
    names->weightFound = optional(p.weightVar, &names->weight, 4);
  return VsfStatus::Ok;
}

VsfStatus vsfSaveModelNamePtrs(VsfContext* ctx) {
  LevDesign* d = ctx->design.design;
  VsfNameRecord& m = ctx->modelNames;
  m.data = ctx->data;
  if (vsfAllocNames(ctx, &m) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  for (int32_t j = 0; j < d->numericCount; ++j)
    m.numerics[j] = d->numerics[j].var;
  for (int32_t i = 0; i < d->classCount; ++i)
    m.classes[i] = d->classes[i].var;
  m.response = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
  m.freq = ctx->stmt.proc.freqGiven ? ctx->stmt.proc.freqVar : nullptr;
  m.weight = ctx->stmt.proc.weightGiven ? ctx->stmt.proc.weightVar : nullptr;
  m.responseFound = m.freqFound = m.weightFound = 1;
  return VsfStatus::Ok;
}

VsfStatus vsfCheckScoreForVars(VsfContext* ctx) { return checkScores(ctx); }

namespace {

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

// The most effects for which an L2 search forms the full X'X by itself (two packed copies of
// about 16 MB each).
constexpr int32_t kL2SearchFullEffects = 2000;

// The most effects for which FORWARD, STEPWISE, LAR and LASSO form the packed X'X whatever
// their steps: measured to pay on every search.
constexpr int32_t kPackedAlwaysEffects = 1000;

// How many columns of a row the packed pass's blocked kernel adds in the time a step's
// passes take for one column (products of the page rows in cache against streaming them).
constexpr double kPackedSpeedRatio = 10.0;

// The share of the step's memory the packed triangles may take, the pages and the page
// threads' buffers being planned later out of the rest.
constexpr double kPackedMemoryShare = 0.5;

// The steps a search makes over `effects` effects when they are known ahead: without a stop
// criterion, STEPS=, else MAXSTEPS= or one per effect. 0 when a criterion may stop it
// anywhere.
[[nodiscard]] int32_t knownSteps(const VsfModelOptions& o, int32_t effects) {
  if (o.stop != VsfCriterion::NoneGiven || o.stopCount != 0)
    return 0;
  if (o.steps > 0)
    return std::min(o.steps, effects);
  return o.maxSteps > 0 ? std::min(o.maxSteps, effects) : effects;
}

// Whether the packed triangles of `columns` columns fit the memory: the matrix and its swept
// form, a copy for every fold, and a buffer for each page thread, against a share of the
// host's memory figure (no figure: no bound).
[[nodiscard]] bool packedFits(const VsfContext* ctx, int64_t columns) {
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) != 0 || kilobytes <= 0)
    return true;
  const VsfModelOptions& o = ctx->options;
  const double folds = o.cvOn ? std::max(o.cvFolds, 0) : 0;
  const double threads = ctx->perf.threadingOn ? std::max(ctx->perf.threadCount, 1) : 1;
  const double copies = 2.0 * (1.0 + folds) + threads;
  const double bytes = 8.0 * copies * static_cast<double>(columns) * (columns + 1) / 2.0;
  return bytes <= kPackedMemoryShare * 1024.0 * static_cast<double>(kilobytes);
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

// Whether a path without the packed X'X keeps the cross products of its entering effects
// (vsfLarKeptColumns): a plain least-angle path whose rows carry no roles or folds.
[[nodiscard]] bool pathKeepsCross(const VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  return vsfMethodIs(o.method, VsfMethodFamily::LeastAngle) && !vsfMethodRidge(o.method) &&
         !o.adaptive && !o.cvOn && !o.cvExternal && o.screen == VsfScreenMethod::None &&
         !testRowsGiven(ctx) && !validateRowsGiven(ctx);
}

// What the steps of a search cost without the packed X'X, in the packed pass's terms per row.
// A path that keeps cross products forms about one column of p terms per step, in passes of
// many columns that run about as fast per term as the packed pass; steps past the kept
// columns' bound, and the other searches' steps, make about two passes of p per row at a
// tenth of that speed.
[[nodiscard]] double stepsCost(const VsfContext* ctx, double p, double steps) {
  const double kept =
      pathKeepsCross(ctx)
          ? std::min(steps, static_cast<double>(vsfLarKeptColumns(static_cast<int64_t>(p))))
          : 0.0;
  return kept * p + (steps - kept) * kPackedSpeedRatio * 2.0 * p;
}

// Whether one pass forming the packed X'X costs less than the passes per step, as measured:
// on 1,000,000 rows x 50 columns the packed matrix made LASSO 2.7 times and FORWARD (20
// steps) 3 times faster in their selection on one thread, more on eight. The pass over the
// packed triangle costs about p^2/2 per row once; the road without it makes about two
// passes of p per row at every step, and these methods run up to p steps. Past a thousand
// effects the packed pass is taken where the steps a search will make repay it and its
// triangles fit the memory (stepsCost). Without CLASS variables the effects bound the columns.
[[nodiscard]] bool packedCheaper(const VsfContext* ctx, int32_t effects, int32_t classVariables) {
  if (!vsfMethod(ctx->options.method).packedPays || classVariables != 0)
    return false;
  if (effects <= kPackedAlwaysEffects)
    return true;
  const double p = effects;
  return p * p / 2.0 <= stepsCost(ctx, p, knownSteps(ctx->options, effects)) &&
         packedFits(ctx, effects + 1);
}

// The role variable, the shape of the cross products (full or incremental) and the
// thread count.
void buildShapeAndThreads(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPerfOptions& po = ctx->stmt.perfOptions;
  LevDesign* d = ctx->design.design;
  roleVariable(ctx);
  const bool forceNone = !vsfMethodSelects(o.method) && !ctx->perf.force;
  uint8_t full = po.sscpFull ? 1 : 0;
  const bool fewEffects =
      !po.sscpFull && !po.sscpIncremental &&
      (d->effectCount < 10 || packedCheaper(ctx, d->effectCount, d->classCount));
  if (fewEffects)
    full = 1;
  const bool startsFull = vsfMethodStartsFull(o.method);
  bool otherReason = startsFull || forceNone;
  if (startsFull || forceNone)
    full = 1;
  // The trials of an L2 search share one X'X and add their ridge to its diagonal; without it
  // every trial would make its data passes again. Screening exists to avoid the full matrix.
  if (vsfMethodRidge(o.method) && o.l2Search != VsfL2Search::None &&
      o.screen == VsfScreenMethod::None && !po.sscpIncremental &&
      d->effectCount <= kL2SearchFullEffects) {
    full = 1;
    otherReason = true;
  }
  // Split CLASS effects are counted before their levels are known; the reading pass may
  // still take the full build back (vsfSplitCrossRoad).
  ctx->fullForFewEffects = fewEffects && !otherReason ? 1 : 0;
  if (po.sscpIncremental && startsFull)
    warn(ctx, VsfMsg::BuildsscpIncrementalIgnoredSelectionBackward);
  else if (po.sscpIncremental && forceNone)
    warn(ctx, VsfMsg::BuildsscpIncrementalIgnoredSelectionNone);
  o.fullXpx = full;
  ctx->perf.threadCount = ctx->perf.threadingOn ? ctx->perf.threadCount : 1;
  // One thread is no threading: known now, before the PerfSettings table is printed. The
  // reading pass may still lower threading for want of memory; its notes say so.
  if (ctx->perf.threadCount < 2)
    ctx->perf.threadingOn = 0;
  if (ctx->noprint) {
    ctx->perf.details = 0;
    ctx->perf.timing = 0;
  }
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
        note(VsfMsg::ClassVariablesSplitSelection);
      }
    }
    po.allDense = 1;
    po.allSparse = 0;
    if (o.hierarchy != VsfHierarchy::None) {
      o.hierarchy = VsfHierarchy::None;
      note(VsfMsg::HierarchyNotAvailableSelection);
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
  if (o.statBic || o.statCp) {
    if (po.sscpIncremental) {
      warn(ctx, VsfMsg::BuildsscpIncrementalIgnoredBecause);
    } else if (!o.fullXpx && !vsfMethodStartsFull(o.method) && !anyCriterion(o, VsfCriterion::Cp) &&
               !anyCriterion(o, VsfCriterion::Bic)) {
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
      warn(ctx, classSplit ? VsfMsg::SplitClassVariablesNeed : VsfMsg::SplitSplineEffectsNeed);
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
      return fail(ctx, VsfMsg::PressCannotUsedStopChoose, DriverResult::PressAsStopChoose);
    note(VsfMsg::PressStatisticNotAvailableSelectionLar);
  } else if (o.pressNeeded && vsfMethodRidge(o.method)) {
    o.pressNeeded = 0;
    if (o.stop == VsfCriterion::Press)
      return fail(ctx, VsfMsg::PressCannotUsedStopCriterion, DriverResult::PressCriterion);
    if (o.choose == VsfCriterion::Press)
      return fail(ctx, VsfMsg::PressCannotUsedChoose, DriverResult::PressCriterion);
    note(VsfMsg::PressStatisticNotAvailableSelectionElasticnet);
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
    return fail(ctx, VsfMsg::StopValidateNeedsValidation, DriverResult::StopValidateNoRows);
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
    note(VsfMsg::NumberEffectsIncludeExceeds);
    o.fullXpx = 1;
    ctx->fullForFewEffects = 0;
  }
  o.storeCross = !o.fullXpx && !lasso && vsfMethodSelects(o.method);
  ctx->fullBuildUsed = o.fullXpx;
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

// Checks the variables and BY variables of VALDATA=, TESTDATA= and the SCORE data sets.
[[nodiscard]] VsfStatus heldOutAndScoringSets(VsfContext* ctx) {
  VsfProcSettings& p = ctx->stmt.proc;
  if (p.testData != nullptr) {
    ctx->testNames.data = p.testData;
    if (VsfStatus rc = vsfCheckForVars(ctx, &ctx->testNames, kMsgTestDataVariables);
        rc != VsfStatus::Ok)
      return rc;
  }
  if (p.valData != nullptr) {
    ctx->valNames.data = p.valData;
    if (VsfStatus rc = vsfCheckForVars(ctx, &ctx->valNames, kMsgValDataVariables);
        rc != VsfStatus::Ok)
      return rc;
  }
  if (p.valData != nullptr)
    if (VsfStatus rc = matchBy(ctx, &ctx->valNames, VsfMsg::VariablesInputDataSetNotAllValdata);
        rc != VsfStatus::Ok)
      return rc;
  if (p.testData != nullptr)
    if (VsfStatus rc = matchBy(ctx, &ctx->testNames, VsfMsg::VariablesInputDataSetNotAllTestdata);
        rc != VsfStatus::Ok)
      return rc;
  if (VsfStatus rc = checkScores(ctx); rc != VsfStatus::Ok)
    return rc;
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

// The model's name pointers, kept when held-out or scoring data sets are read.
[[nodiscard]] VsfStatus saveNamePointers(VsfContext* ctx) {
  VsfProcSettings& p = ctx->stmt.proc;
  if (p.valData != nullptr || p.testData != nullptr || ctx->scoreCount > 0)
    if (vsfSaveModelNamePtrs(ctx) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
  return VsfStatus::Ok;
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
      note(VsfMsg::UnderModelAveragingStore);
  } else if (lasso) {
    ctx->postFitAllowed = 0;
    if (handOver)
      note(VsfMsg::SelectionMethodStoreCode);
  }
}

// A full build needs no re-sweeping of the grown matrix. The note says so only when the
// user asked for the full build: where the procedure chose it, it tells the user nothing
// they chose (PERFORMANCE DETAILS shows how the matrix was built).
[[nodiscard]] VsfStatus fullSweepSetting(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  VsfPerfOptions& po = ctx->stmt.perfOptions;
  o.fullSweep = po.fullSweep;
  if (o.fullXpx && po.fullSweep != VsfFullSweep::Never) {
    if (po.sscpFull)
      note(VsfMsg::CrossProductsMatrixAll);
    po.fullSweep = VsfFullSweep::Never;
    o.fullSweep = VsfFullSweep::Never;
  }
  return VsfStatus::Ok;
}
} // namespace

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

void vsfSplitCrossRoad(VsfContext* ctx, int32_t columns) {
  VsfModelOptions& o = ctx->options;
  const bool path = vsfMethodIs(o.method, VsfMethodFamily::LeastAngle);
  if (ctx->fullForFewEffects && o.split && path) {
    o.fullXpx = columns > kPackedAlwaysEffects ? 0 : 1;
    ctx->fullBuildUsed = o.fullXpx;
  }
}

bool vsfSplitSparseRows(const VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  const VsfStatementSettings& st = ctx->stmt;
  const VsfPerfOptions& po = st.perfOptions;
  const bool path = vsfMethod(o.method).splitSparseRows;
  return o.split && path && !o.fullXpx && !po.sscpFull && !seam::denseRoad() &&
         o.screen == VsfScreenMethod::None && o.colStandardize && !o.parmStandardize && !o.cvOn &&
         !o.cvExternal && o.cvMethod == VsfCvMethod::None && !o.pressNeeded &&
         o.hierarchy == VsfHierarchy::None && !ctx->partitionOn && ctx->dataReadOnce;
}

VsfStatus vsfInitializeModel(VsfContext* ctx) {
  VsfModel& m = ctx->model;
  std::memset(static_cast<void*>(&m), 0, sizeof m);
  m.options = &ctx->options;
  m.bags = &ctx->bags;
  m.perf = &ctx->perf;
  m.puddle = &ctx->puddle;
  m.scratchHolder = &ctx->scratch;
  const VsfModelOptions& o = ctx->options;
  m.fuzz = o.fuzz;
  m.l2 = o.l2;
  m.l2Steps = o.l2Steps;
  m.l2Search = o.l2Search;
  m.enSetting = o.enscale;
  m.l2Low = o.l2Low;
  m.l2High = o.l2High;
  m.screenSetting = o.screenSteps;
  m.screenKeep = o.keepNum;
  m.screenKeepRatio = o.keepRatio;
  m.screenSetting2 = o.keepRatioWork;
  m.l1Target = o.l1;
  // The per-group fit-control words.
  vsfStartGroupFit(&ctx->options);
  m.optionCount = 0;
  // The group's scratch file goes to the utility directory in force (SHAREDDRIVE$= of
  // model averaging, else UTILPATH): the step records need it either way.
  uint8_t status = 0;
  errno = 0;
  if (vsfCreateScratch(&ctx->scratch, &ctx->exts, 0, 0, nullptr, 0, &status) != 0) {
    vsfReportNotCreated(VsfMsg::ScratchFileNotCreated, &ctx->exts, ctx->scratch.path,
                        ctx->scratch.pathLength, errno);
    return statusOf(DriverResult::ScratchNotCreated);
  }
  return VsfStatus::Ok;
}
