// The MODEL statement reader: response, design (through zlevmod), method, criteria,
// significance levels, step limits, cross validation, penalties, screening and adaptive
// weights, with the method-dependent defaults and corrections. The effects themselves are
// the effect library's. Declared in driver/vsfreaders.h.
#include "driver/vsfparse.h"
#include "driver/vsfreaders.h"
#include "driver/vsfslots.h"
#include "driver/vsfstmtlog.h"
#include "effects/levdesign.h"
#include "effects/levmod.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/parsedstmt.h"
#include "support/protocol.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"

#include <cstring>
#include <optional>
#include <utility>

namespace {
[[nodiscard]] bool given(const ParsedStatement* s, ModelSlot k) {
  return stmtSlot(s, k) != nullptr;
}

[[nodiscard]] bool inIntList(const OptionSlot* sl, int32_t v) {
  for (int32_t i = 0; i < slotCount(sl, OSK_INTLIST); ++i)
    if (sl->items.ints[i] == v)
      return true;
  return false;
}

// NOSTANDARDIZE, and the CV index variable made an extra CLASS variable of the design.
[[nodiscard]] VsfStatus readCvIndexVariable(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  VsfStatementSettings& st = ctx->stmt;
  LevDesign* design = ctx->design.design;
  ParseRoot* root = hostParseRoot();
  ParsedStatement* first = root ? root->first : nullptr;
  st.noStandardize = stmtFlag(m, ModelFlag::NoStandardize);
  if (stmtFlag(m, ModelFlag::CvIndex)) {
    const OptionSlot* idx = stmtSlot(m, ModelSlot::CvIndexVar);
    if (slotCount(idx, OSK_INTLIST) > 0)
      o.cvIndexVar = idx->items.ints[0];
    if (inIntList(stmtSlot(first, ProcSlot::DirectVariables), o.cvIndexVar))
      return stmtFail(ctx, VsfMsg::CvIndexVariableInModel, StepRc::Error,
                      DriverResult::CvIndexNotClass);
    if (!inIntList(stmtSlot(first, ProcSlot::ClassVariables), o.cvIndexVar)) {
      auto* extra = static_cast<ExtraVariableSource*>(
          ctx->mainPool->allocate(ctx->mainPool, sizeof(ExtraVariableSource), kQkZeroed));
      if (!extra)
        return VsfStatus::NoMemory;
      std::memset(static_cast<void*>(extra), 0, sizeof *extra);
      extra->classCount = 1;
      extra->classArgument = &o.cvIndexVar;
      HostRoutine callable = nullptr;
      if (vir2g(reinterpret_cast<HostRoutine>(vsfGetNAMESTR), &callable) != 0 || !callable)
        callable = reinterpret_cast<HostRoutine>(vsfGetNAMESTR);
      extra->callback = reinterpret_cast<HostCallback>(callable);
      design->extra = extra;
    }
  }
  return VsfStatus::Ok;
}

// The design flags and the design of the MODEL effects.
[[nodiscard]] VsfStatus buildModelDesign(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  LevDesign* design = ctx->design.design;
  design->designFlags |= LevDesignFlag::ByGroup | LevDesignFlag::LevelTwo;
  o.method = stmtCode(m, ModelSlot::Method, VsfMethod::Stepwise);
  if (vsfMethodPenalty(o.method) == VsfPenalty::Columns)
    design->designFlags2.set(LevDesignFlag2::SplineSplit);
  VsfStatus lev = zlevmod(design, ctx->data, keyOf(ProcSlot::DirectVariables),
                          keyOf(ProcSlot::ClassVariables), m, keyOf(ModelSlot::Effects), 0, 0);
  vsfRaiseRC(ctx, design->worstReturnCode);
  if (lev == VsfStatus::NoMemory)
    return VsfStatus::NoMemory; // out of memory: the exit says so
  if (lev != VsfStatus::Ok) {
    vsfRaiseRC(ctx, StepRc::Error);
    return statusOf(DriverResult::DesignNotBuilt);
  }
  return VsfStatus::Ok;
}

// The response: exactly one variable, its record copied into the main pool.
[[nodiscard]] VsfStatus readResponse(VsfContext* ctx, ParsedStatement* m) {
  VsfStatementSettings& st = ctx->stmt;
  const OptionSlot* resp = stmtSlot(m, ModelSlot::Response);
  int32_t nresp = slotCount(resp, OSK_INTLIST);
  if (nresp == 0)
    return stmtFail(ctx, VsfMsg::ModelWithoutResponse, StepRc::StatementError,
                    DriverResult::NoResponse);
  if (nresp > 1)
    return stmtFail(ctx, VsfMsg::ModelAllowsOneResponse, StepRc::StatementError,
                    DriverResult::ResponseCount);
  st.responseCount = nresp;
  st.responses = static_cast<HostVariable**>(
      ctx->mainPool->allocate(ctx->mainPool, sizeof(HostVariable*) * nresp, kQkZeroed));
  if (!st.responses)
    return VsfStatus::NoMemory;
  for (int32_t i = 0; i < nresp; ++i)
    if (vsfVariableRecord(ctx, resp->items.ints[i], &st.responses[i]) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

// The selection options: hierarchy, INCLUDE=, SELECT=, CHOOSE=, STOP=, step limits, DETAILS=
// and FUZZ=.
void readSelectionOptions(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  o.hierarchy = stmtCode(m, ModelSlot::Hierarchy, VsfHierarchy::None);
  o.noint = stmtFlag(m, ModelFlag::NoInt);
  o.include = stmtInt(m, ModelSlot::Include, 0);
  o.forcedIn = o.include;
  o.select = stmtCode(m, ModelSlot::Select, VsfCriterion::Sbc);
  o.choose = stmtCode(m, ModelSlot::Choose, VsfCriterion::NoneGiven);
  o.stop = stmtCode(m, ModelSlot::Stop, VsfCriterion::NoneGiven);
  o.maxSteps = stmtInt(m, ModelSlot::MaxSteps, 0);
  o.steps = stmtInt(m, ModelSlot::Steps, 0);
  o.stopCount = stmtInt(m, ModelSlot::StopCount, 0);
  o.start = stmtInt(m, ModelSlot::Start, 0);
  o.details = stmtCode(m, ModelSlot::Details, VsfDetails::None);
  o.fuzz = stmtNumber(m, ModelSlot::Fuzz, 1e-12);
  if (o.fuzz > 1e-6) {
    vsfLog(VsfMsg::FuzzAboveLimit);
    o.fuzz = 1e-6;
  }
  if (!o.noint)
    o.forcedIn += 1;
}

// The elastic-net settings.
void readElasticNet(VsfContext* ctx, ParsedStatement* m, VsfMethod method) {
  VsfModelOptions& o = ctx->options;
  o.enscale = stmtFlag(m, ModelFlag::EnScale);
  o.l2 = stmtNumber(m, ModelSlot::L2, -1.0);
  o.l2Search = stmtCode(m, ModelSlot::L2Search, VsfL2Search::None);
  o.l2Steps = stmtInt(m, ModelSlot::L2Steps, 50);
  o.showL2Search = stmtFlag(m, ModelFlag::ShowL2Search);
  o.l2Low = stmtNumber(m, ModelSlot::L2Low, 0.0);
  o.l2High = stmtNumber(m, ModelSlot::L2High, 1.0);
  if (vsfMethodRidge(method)) {
    if (given(m, ModelSlot::L2) && o.l2 != -1.0 && o.l2 < 0) {
      vsfLog(VsfMsg::L2Negative);
      o.l2 = -1.0;
    }
    if (o.l2 >= 0) {
      o.showL2Search = 0;
      if (o.l2Search != VsfL2Search::None)
        vsfLog(VsfMsg::L2searchIgnoredWhenL2);
      o.l2Search = VsfL2Search::None;
      if (o.l2Steps != 50)
        vsfLog(VsfMsg::L2stepsIgnoredWhenL2);
      o.l2Steps = 2;
      if (o.l2Low != 0)
        vsfLog(VsfMsg::L2lowIgnoredWhenL2);
      o.l2Low = 0;
      if (o.l2High != 1)
        vsfLog(VsfMsg::L2highIgnoredWhenL2);
      o.l2High = 1;
    } else if (!(o.l2High > o.l2Low)) {
      o.l2 = o.l2Low;
      o.l2Search = VsfL2Search::None;
      o.showL2Search = 0;
      vsfLog(VsfMsg::L2highNotAboveL2low);
    } else if (o.l2Search == VsfL2Search::None) {
      o.l2Search = VsfL2Search::Grid;
    }
  } else {
    if (o.enscale) {
      vsfLog(VsfMsg::EnscaleOnlyWithElasticnet);
      o.enscale = 0;
    }
    if (given(m, ModelSlot::L2)) {
      vsfLog(VsfMsg::L2OnlyWithElasticnet);
      o.l2 = 0;
    }
    if (o.l2Search != VsfL2Search::None) {
      vsfLog(VsfMsg::L2searchOnlyWithElasticnet);
      o.l2Search = VsfL2Search::None;
    }
    if (o.l2Steps != 50) {
      vsfLog(VsfMsg::L2stepsOnlyWithElasticnet);
      o.l2Steps = 1;
    }
    if (o.l2Low != 0) {
      vsfLog(VsfMsg::L2lowOnlyWithElasticnet);
      o.l2Low = 0;
    }
    if (o.l2High != 1) {
      vsfLog(VsfMsg::L2highOnlyWithElasticnet);
      o.l2High = 0;
    }
    if (o.showL2Search) {
      vsfLog(VsfMsg::Showl2searchOnlyWithElasticnet);
      o.showL2Search = 0;
    }
  }
}

// The L1 options of the penalized methods.
[[nodiscard]] VsfStatus readL1Options(VsfContext* ctx, ParsedStatement* m, VsfMethod method) {
  VsfModelOptions& o = ctx->options;
  o.l1 = stmtNumber(m, ModelSlot::L1, -1.0);
  o.showStepL1 = stmtFlag(m, ModelFlag::ShowStepL1);
  o.linearCvex = stmtFlag(m, ModelFlag::LinearCvex);
  if (vsfMethod(method).l1Bound) {
    o.l1Choice = stmtCode(m, ModelSlot::L1Choice, VsfL1Choice::Ratio);
    o.stopL1Choice = o.l1Choice;
    if (o.stop == VsfCriterion::L1) {
      if (o.l1 < 0) {
        vsfLog(VsfMsg::StopL1WithoutL1);
        o.l1 = 0;
      }
    } else {
      o.stopL1Choice = VsfL1Choice::None;
      if (given(m, ModelSlot::L1)) {
        vsfLog(VsfMsg::L1OnlyWithStopL1);
        o.l1 = -1;
      }
    }
    if (vsfMethod(method).l1ChoiceRatioOnly && o.l1Choice != VsfL1Choice::Ratio) {
      vsfLog(VsfMsg::SelectionGrouplassoUsesL1choice);
      o.l1Choice = VsfL1Choice::Ratio;
      o.stopL1Choice = VsfL1Choice::Ratio;
    }
  } else {
    if (o.stop == VsfCriterion::L1)
      return stmtFail(ctx, VsfMsg::StopL1NeedsL1Path, StepRc::StatementError,
                      DriverResult::StopL1Method);
    if (given(m, ModelSlot::L1))
      vsfLog(VsfMsg::L1OnlyWithL1Path);
    if (given(m, ModelSlot::L1Choice))
      vsfLog(VsfMsg::L1choiceOnlyWithL1Path);
    o.l1 = -1;
    o.stopL1Choice = VsfL1Choice::None;
    o.l1Choice = VsfL1Choice::None;
    o.showStepL1 = 0;
    o.linearCvex = 0;
  }
  return VsfStatus::Ok;
}

// External cross validation, refused for the methods without it.
void readExternalCv(VsfContext* ctx, ParsedStatement* m, VsfMethod method) {
  VsfModelOptions& o = ctx->options;
  if (o.choose == VsfCriterion::Cvex) {
    o.showCvex = stmtFlag(m, ModelFlag::ShowCvex);
    if (!vsfMethodHasPath(method)) {
      vsfLog(VsfMsg::ChooseCvexNotAvailable);
      o.choose = VsfCriterion::NoneGiven;
    }
  } else {
    o.showCvex = 0;
    if (stmtFlag(m, ModelFlag::ShowCvex))
      vsfLog(VsfMsg::ShowcvexOnlyWithCvex);
  }
}

// Screening of the LASSO and elastic-net candidates.
void readScreening(VsfContext* ctx, ParsedStatement* m, VsfMethod method) {
  VsfModelOptions& o = ctx->options;
  o.showScreen = stmtFlag(m, ModelFlag::ShowScreen);
  if (vsfMethod(method).screens) {
    o.screen = stmtCode(m, ModelSlot::Screen, VsfScreenMethod::None);
  } else {
    o.screen = stmtCode(m, ModelSlot::Screen, VsfScreenMethod::None);
    if (o.screen != VsfScreenMethod::None) {
      vsfLog(VsfMsg::ScreenOnlyWithLassoElasticnet);
      o.screen = VsfScreenMethod::None;
    }
  }
  o.screenSteps = stmtInt(m, ModelSlot::ScreenSteps, 4);
  if (o.screen == VsfScreenMethod::Sis) {
    o.keepNum = stmtInt(m, ModelSlot::KeepNum, -1);
    o.keepRatio = stmtNumber(m, ModelSlot::KeepRatio, -1.0);
    if (!given(m, ModelSlot::KeepRatio))
      o.keepNum = stmtInt(m, ModelSlot::KeepNum, 100);
    if (given(m, ModelSlot::KeepNum) && given(m, ModelSlot::KeepRatio))
      vsfLog(VsfMsg::KeepnumAndKeepratioGiven);
    o.keepNumWork = 0;
    o.keepRatioWork = 0;
  }
}

// The penalized methods' defaults and what LSCOEFFS makes of them, RHO and TOL, and STOP=
// with the method's default.
[[nodiscard]] VsfStatus methodGroupsAndStop(VsfContext* ctx, ParsedStatement* m, VsfMethod method) {
  VsfModelOptions& o = ctx->options;
  VsfCriterion defaultStop = o.select;
  const VsfMethodTraits& row = vsfMethod(method);
  if (row.penalty != VsfPenalty::None) {
    o.select = VsfCriterion::NoneGiven;
    defaultStop = VsfCriterion::Sbc;
    if (stmtFlag(m, ModelFlag::LsCoeffs)) {
      if (const std::optional<VsfMsg>& refusal = row.lsRefusal.get())
        return stmtFail(ctx, *refusal, StepRc::StatementError, DriverResult::LsCoeffsMethod);
      o.method = row.lsVariant;
    }
  }

  o.rho = stmtNumber(m, ModelSlot::Rho, -1.0);
  o.tol = stmtNumber(m, ModelSlot::Tol, -1.0);
  if (row.family == VsfMethodFamily::Solver) {
    o.rho = stmtNumber(m, ModelSlot::Rho, 0.9);
    o.tol = stmtNumber(m, ModelSlot::Tol, 1e-6);
  } else {
    if (given(m, ModelSlot::Rho))
      vsfLog(VsfMsg::RhoOnlyForSolver);
    if (given(m, ModelSlot::Tol))
      vsfLog(VsfMsg::TolOnlyForSolver);
  }

  if (o.steps >= 1 && (o.stop != VsfCriterion::NoneGiven || o.stopCount != 0)) {
    vsfLog(VsfMsg::StopIgnoredWhenSteps);
    o.stop = VsfCriterion::NoneGiven;
    o.stopCount = 0;
  }
  if (o.stop == VsfCriterion::None)
    o.stop = VsfCriterion::NoneGiven;
  else if (o.stop == VsfCriterion::NoneGiven && o.steps == 0 && o.stopCount == 0)
    o.stop = defaultStop;
  return VsfStatus::Ok;
}

// SLENTRY= and SLSTAY= with the method's defaults, and MAXSTEPS= against STEPS=.
void readSignificanceLevels(VsfContext* ctx, ParsedStatement* m, VsfMethod method) {
  VsfModelOptions& o = ctx->options;
  const double sleDefault = vsfMethod(method).slEntryDefault;
  const double slsDefault = vsfMethod(method).slStayDefault;
  o.slEntry = stmtNumber(m, ModelSlot::SlEntry, sleDefault);
  o.slStay = stmtNumber(m, ModelSlot::SlStay, slsDefault);
  if (given(m, ModelSlot::SlEntry)) {
    if (o.select != VsfCriterion::Sl && o.stop != VsfCriterion::Sl)
      vsfLog(VsfMsg::SlentryUsedOnlyWithSl);
    if (o.slEntry == 0 || o.slEntry == 1) {
      stmtWarn(ctx, VsfMsg::SlentryOutsideZeroOne);
      o.slEntry = sleDefault;
    }
  }
  if (given(m, ModelSlot::SlStay)) {
    if (o.select != VsfCriterion::Sl && o.stop != VsfCriterion::Sl)
      vsfLog(VsfMsg::SlstayUsedOnlyWithSl);
    if (o.slStay == 0 || o.slStay == 1) {
      stmtWarn(ctx, VsfMsg::SlstayOutsideZeroOne);
      o.slStay = slsDefault;
    }
  }

  if (given(m, ModelSlot::MaxSteps) && o.maxSteps < o.steps) {
    vsfLog(VsfMsg::MaxstepsLessThanSteps);
    o.maxSteps = o.steps;
  }
}

// The statistics switches and the step details shown.
void readStatisticsAndDetails(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  o.statAll = stmtFlag(m, ModelFlag::StatAll);
  const std::pair<ModelFlag, uint8_t*> stats[] = {
      {ModelFlag::StatSl, &o.statSl},           {ModelFlag::StatF, &o.statF},
      {ModelFlag::StatAic, &o.statAic},         {ModelFlag::StatAicc, &o.statAicc},
      {ModelFlag::StatSbc, &o.statSbc},         {ModelFlag::StatBic, &o.statBic},
      {ModelFlag::StatCp, &o.statCp},           {ModelFlag::StatPress, &o.statPress},
      {ModelFlag::StatRsquare, &o.statRsquare}, {ModelFlag::StatAdjrsq, &o.statAdjrsq},
      {ModelFlag::StatAse, &o.statAse}};
  for (const auto& [flag, on] : stats)
    *on = stmtFlag(m, flag) || o.statAll;
  o.statStb = stmtFlag(m, ModelFlag::Stb);

  if (o.details >= VsfDetails::Steps) {
    o.stepDetails |= 1;
    o.candidatesShown = stmtFlag(m, ModelFlag::CandidatesAll)
                            ? 2147483647
                            : stmtInt(m, ModelSlot::CandidatesShown, 10);
    if (!stmtFlag(m, ModelFlag::StepItems) || stmtFlag(m, ModelFlag::StepAll)) {
      o.stepAnova = o.stepFit = o.stepParmEst = o.stepCandidates = 1;
    } else {
      o.stepAnova = stmtFlag(m, ModelFlag::StepAnova);
      o.stepFit = stmtFlag(m, ModelFlag::StepFit);
      o.stepParmEst = stmtFlag(m, ModelFlag::StepParmEst);
      o.stepCandidates = stmtFlag(m, ModelFlag::StepCandidates);
    }
  } else {
    o.candidatesShown = 10;
  }
}

// DROP= (BEFOREADD with SELECT=SL) and ORDERSELECT (not with BACKWARD).
void readDropAndOrder(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  o.drop = stmtCode(m, ModelSlot::Drop, VsfDrop::BeforeAdd);
  if (o.drop != VsfDrop::BeforeAdd && o.select == VsfCriterion::Sl) {
    stmtWarn(ctx, VsfMsg::DropCompetitiveAfteraddNotWithSl);
    o.drop = VsfDrop::BeforeAdd;
  }
  o.orderSelect = stmtFlag(m, ModelFlag::OrderSelect);
  if (o.orderSelect && vsfMethodStartsFull(o.method)) {
    vsfLog(VsfMsg::OrderselectIgnoredSelectionBackward);
    o.orderSelect = 0;
  }
}

// Cross validation: CVMETHOD= and CVDETAILS= when a criterion needs it.
[[nodiscard]] VsfStatus readCrossValidation(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  bool cv = o.stop == VsfCriterion::Cv || o.choose == VsfCriterion::Cv ||
            o.choose == VsfCriterion::Cvex || o.select == VsfCriterion::Cv;
  if (cv) {
    o.cvMethod = VsfCvMethod::Random;
    o.cvFolds = 5;
    if (o.choose == VsfCriterion::Cvex && o.stop == VsfCriterion::Cv)
      return stmtFail(ctx, VsfMsg::ChooseCvexNotWithStopCv, StepRc::Error,
                      DriverResult::CvexCombination);
    if (stmtFlag(m, ModelFlag::CvMethod)) {
      if (stmtFlag(m, ModelFlag::CvIndex)) {
        o.cvMethod = VsfCvMethod::Index;
      } else {
        if (stmtFlag(m, ModelFlag::CvBlock))
          o.cvMethod = VsfCvMethod::Block;
        else if (stmtFlag(m, ModelFlag::CvSplit))
          o.cvMethod = VsfCvMethod::Split;
        o.cvFolds = stmtInt(m, ModelSlot::CvFolds, 5);
      }
    }
    if (stmtFlag(m, ModelFlag::CvDetails)) {
      o.cvDetails = VsfCvDetails::CvPress;
      if (stmtFlag(m, ModelFlag::CvCoeffs))
        o.cvDetails = VsfCvDetails::Coeffs;
      if (stmtFlag(m, ModelFlag::CvAll))
        o.cvDetails = VsfCvDetails::All;
    }
  } else {
    o.cvMethod = VsfCvMethod::None;
    if (stmtFlag(m, ModelFlag::CvMethod))
      vsfLog(VsfMsg::CvmethodIgnoredWithoutCv);
    if (stmtFlag(m, ModelFlag::CvDetails))
      vsfLog(VsfMsg::CvdetailsIgnoredWithoutCv);
  }
  return VsfStatus::Ok;
}

// The criteria GROUPLASSO cannot use.
[[nodiscard]] VsfStatus checkGroupLassoCriteria(VsfContext* ctx) {
  VsfModelOptions& o = ctx->options;
  if (vsfMethod(o.method).limitedCriteria) {
    if (vsfCriterion(o.stop).limitedRefuses)
      return stmtFail(ctx, VsfMsg::StopCriterionNotForGrouplasso, StepRc::Error,
                      DriverResult::CriterionNotAvailable);
    if (vsfCriterion(o.choose).limitedRefuses)
      return stmtFail(ctx, VsfMsg::ChooseCriterionNotForGrouplasso, StepRc::Error,
                      DriverResult::CriterionNotAvailable);
  }
  return VsfStatus::Ok;
}

// SHOWPVALUES and the adaptive weights, refused for LAR and GROUPLASSO.
[[nodiscard]] VsfStatus readPValuesAndAdaptive(VsfContext* ctx, ParsedStatement* m) {
  VsfModelOptions& o = ctx->options;
  VsfStatementSettings& st = ctx->stmt;
  st.showPValues = stmtFlag(m, ModelFlag::ShowPValues) || !vsfMethodSelects(o.method);
  o.adaptive = stmtFlag(m, ModelFlag::Adaptive);
  if (o.adaptive) {
    if (const std::optional<VsfMsg>& refusal = vsfMethod(o.method).adaptiveRefusal.get()) {
      stmtWarn(ctx, *refusal);
      o.adaptive = 0;
    } else {
      o.gamma = stmtNumber(m, ModelSlot::Gamma, 1.0);
      const OptionSlot* in = stmtSlot(m, ModelSlot::InEst);
      st.adaptiveInest = in && in->kind == OSK_DATASET ? in->value.dataSet : nullptr;
      o.adaptiveInest = st.adaptiveInest != nullptr;
      if (vsfMethodLsCoefficients(o.method)) {
        o.method = vsfMethod(o.method).lsBase;
        stmtWarn(ctx, VsfMsg::LscoeffsIgnoredAdaptive);
      }
    }
  }
  return VsfStatus::Ok;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus parse_model(VsfContext* ctx, ParsedStatement* m) {
  if (!m || !ctx->design.design)
    return statusOf(DriverResult::DesignNotBuilt);
  if (VsfStatus rc = readCvIndexVariable(ctx, m); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = buildModelDesign(ctx, m); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = readResponse(ctx, m); rc != VsfStatus::Ok)
    return rc;
  readSelectionOptions(ctx, m);
  // The method as SELECTION= gives it, before the least-squares variants are chosen.
  const VsfMethod method = ctx->options.method;
  readElasticNet(ctx, m, method);
  if (VsfStatus rc = readL1Options(ctx, m, method); rc != VsfStatus::Ok)
    return rc;
  readExternalCv(ctx, m, method);
  readScreening(ctx, m, method);
  if (VsfStatus rc = methodGroupsAndStop(ctx, m, method); rc != VsfStatus::Ok)
    return rc;
  readSignificanceLevels(ctx, m, method);
  readStatisticsAndDetails(ctx, m);
  readDropAndOrder(ctx, m);
  if (VsfStatus rc = readCrossValidation(ctx, m); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = checkGroupLassoCriteria(ctx); rc != VsfStatus::Ok)
    return rc;
  if (VsfStatus rc = readPValuesAndAdaptive(ctx, m); rc != VsfStatus::Ok)
    return rc;
  return VsfStatus::Ok;
}
