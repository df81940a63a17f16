// The per-BY-group spine of the results: the fit, the names, the information tables, the
// step details read back from the scratch file, the selection summary and stop tables, and
// the tables of the selected model; the "SelectedModel" group.
// Declared in display/vsfdisplay.h.
#include "display/vsfdisplay.h"
#include "design/levnames.h"
#include "design/levtables.h"
#include "effects/zleveftprint.h"
#include "graphs/vsfglabels.h"
#include "graphs/vsfgraph.h"
#include "model/vsfcriteria.h"
#include "model/vsfserialize.h"
#include "output/vsfaverage.h"
#include "output/vsfcontext.h"
#include "output/vsfhandover.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "output/vsfscreentables.h"
#include "selection/vsfprocess.h"
#include "selection/vsfresample.h"
#include "support/cvscheme.h"
#include "support/groupname.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/notbuilt.h"
#include "support/poolalloc.h"
#include "support/stepcodes.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"
#include "support/vsfpools.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// Why no observation is left to train on: every response missing, or (with a WEIGHT
// statement) no row with a response has a positive weight; else the frequencies sum to 0.
VsfMsg noTrainingMessage(const VsfContext* ctx, const VsfModel* m) {
  if (m->totals.nRead > 0 && m->totals.nMissingResponse >= m->totals.nRead)
    return VsfMsg::ResponseAllMissing;
  if (ctx->stmt.proc.weightVar != nullptr && m->totals.nRead > 0 && m->totals.nUnweighted > 0 &&
      m->totals.nUnweighted + m->totals.nMissingResponse >= m->totals.nRead)
    return VsfMsg::NoPositiveWeight;
  return VsfMsg::TrainingFrequenciesSumZero;
}

// The name of the CVMETHOD=INDEX variable, for the messages that name it.
HostMsgArg indexVariableArg(const VsfContext* ctx) {
  const LevDesign* d = vsfDesign(ctx);
  const int32_t i = ctx->options.cvIndexVar;
  const HostVariable* v = d != nullptr && i >= 0 && i < d->classCount ? d->classes[i].var : nullptr;
  return v != nullptr ? HostMsgArg(v->name, v->nameLength) : HostMsgArg("", 0);
}

// Reports a failed fit's status; returns true when the group's display ends here.
[[nodiscard]] bool reportFitStatus(VsfContext* ctx, VsfModel* m) {
  const VsfFitStatus status = m->fitStatus;
  if (!vsfFitFailed(status))
    return false;
  VsfMsg message{};
  StepRc rc = StepRc::GroupDesignError;
  switch (status) {
  case VsfFitStatus::Overflow:
    message = VsfMsg::SumsOfSquaresTooLarge, rc = StepRc::Error;
    break;
  case VsfFitStatus::RidgeTooLarge:
    message = VsfMsg::L2ValueTooLarge, rc = StepRc::Error;
    break;
  case VsfFitStatus::NoTrain:
    message = noTrainingMessage(ctx, m), rc = StepRc::GroupSkipped;
    break;
  case VsfFitStatus::NoRank:
    message = VsfMsg::NoEffectEstimable, rc = StepRc::GroupSkipped;
    break;
  case VsfFitStatus::TooManyFolds:
    message = VsfMsg::MoreExternalFoldsThanRows, rc = StepRc::GroupSkipped;
    break;
  case VsfFitStatus::SingleFold:
    message = vsfCvScheme(ctx->options.cvMethod).indexFolds ? VsfMsg::CvIndexOneLevel
                                                            : VsfMsg::CvOneFoldHeld;
    rc = StepRc::GroupSkipped;
    break;
  case VsfFitStatus::NoValidation:
    message = VsfMsg::ValidateCriterionWithoutValidationData, rc = StepRc::GroupSkipped;
    break;
  case VsfFitStatus::ZeroFullMse:
    message = VsfMsg::CpBicNeedFullModelVariance, rc = StepRc::GroupDesignError;
    break;
  case VsfFitStatus::NoMemory:
    message = VsfMsg::StepFailed, rc = StepRc::GroupNoMemory;
    break;
  case VsfFitStatus::Failed: // its message was logged where the step failed
  case VsfFitStatus::Done:
    break;
  }
  const HostVariable* y = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
  if (y != nullptr && (message == VsfMsg::ResponseAllMissing ||
                       (message == VsfMsg::SumsOfSquaresTooLarge && m->overflowEffect < 0))) {
    vsfLog(message, {HostMsgArg(y->name, y->nameLength), vsfGroupName()});
  } else if (message == VsfMsg::SumsOfSquaresTooLarge && m->overflowEffect >= 0) {
    int32_t length = 0;
    const char* name = vsfEffectName(ctx, m->overflowEffect, &length);
    vsfLog(message, {HostMsgArg(name, length), vsfGroupName()});
  } else if (message == VsfMsg::CvIndexOneLevel) {
    vsfLog(message, {indexVariableArg(ctx), vsfGroupName()});
  } else if (message == VsfMsg::NoPositiveWeight) {
    const HostVariable* w = ctx->stmt.proc.weightVar;
    vsfLog(message, {HostMsgArg(w->name, w->nameLength), vsfGroupName()});
  } else if (message == VsfMsg::L2ValueTooLarge) {
    vsfLog(message, {HostMsgArg(m->elnetPass.l2), HostMsgArg(m->totals.nObs), vsfGroupName()});
  } else if (message != VsfMsg{}) {
    vsfLog(message, {vsfGroupName()});
  }
  vsfRaiseRC(ctx, rc);
  if (ctx->stmt.proc.byCount == 0)
    ctx->options.hasOutDesign = 0;
  return true;
}

// The BY group's "SelectedModel" group lives in the context's output-group slot, which the
// procedure main closes and clears at the end of the group. Its heading is printed only when
// tables of a selected model follow it.
void openSelModelGroup(VsfContext* ctx, bool heading) {
  if (ctx->outputGroup != nullptr)
    return;
  const bool none = !vsfMethodSelects(ctx->options.method);
  // A refit's groups sit one level below the run's own.
  const bool refit = ctx->resampling != nullptr && ctx->resampling->settings.refitInProgress != 0;
  const int32_t level = refit ? 3 : 2;
  ctx->outputGroup = vsfOpenGroup(ctx, "SelectedModel",
                                  {vsfaLabel(msgText(none ? VsfMsg::Model : VsfMsg::SelectedModel)),
                                   rvqFlag(RvqAttrId::GroupKind, 1)});
  if (heading)
    vsfLevelNote(ctx, level,
                 msgText(none ? VsfMsg::ModelFittedWithoutSelection : VsfMsg::SelectedModel),
                 false);
}

} // namespace

VsfStatus vsfSetSelModelGroup(VsfContext* ctx) {
  // After the fit: under model averaging no single selected model is shown (the averaged
  // tables came before, with their own headings), so the outputs' tables that follow here
  // get no "The Selected Model" heading of their own.
  openSelModelGroup(ctx, !ctx->options.modelAverage);
  return VsfStatus::Ok;
}

namespace {

// The note of the starting model at the first shown step: the full model of BACKWARD, or
// the effects in the model before selection (the intercept alone at the first record).
[[nodiscard]] VsfStatus noteStartingModel(VsfContext* ctx, VsfModel* step, QkPool* pool,
                                          int32_t record, int32_t noteLevel, bool backward) {
  if (backward) {
    vsfLevelNote(ctx, noteLevel, msgText(VsfMsg::FullModelStartingModel), true);
    return VsfStatus::Ok;
  }
  char* text = nullptr;
  int32_t length = 0;
  if (const VsfStatus rc = vsfIncludeString(ctx, step, pool, &text, &length); rc != VsfStatus::Ok)
    return rc;
  vsfLevelNote(ctx, noteLevel,
               msgText(record == 0 ? VsfMsg::EffectEntered : VsfMsg::EffectsModelBeforeSelection,
                       {HostMsgArg(text, length)}),
               true);
  return VsfStatus::Ok;
}

// The note of a step of a single effect: the effect that entered, or left when the count of
// effects fell.
void noteEffectChange(VsfContext* ctx, const VsfModel& step, int32_t noteLevel) {
  const int32_t last = step.history.stepCount - 1;
  const int32_t effect = last >= 0 ? step.history.stepEffect[last] : -1;
  if (effect < 0)
    return;
  int32_t length = 0;
  const char* name = vsfEffectName(ctx, effect, &length);
  const bool fell = last > 0 && step.history.stepEffects[last] < step.history.stepEffects[last - 1];
  vsfLevelNote(
      ctx, noteLevel,
      msgText(fell ? VsfMsg::EffectRemoved : VsfMsg::EffectEntered, {HostMsgArg(name, length)}),
      true);
}

// The notes of a step of a group method: the names of the effects that entered and of those
// that left, from the step's last entries of the change list (a left effect negated).
[[nodiscard]] VsfStatus noteGroupChange(VsfContext* ctx, const VsfModel& step, QkPool* pool,
                                        int32_t noteLevel) {
  const int32_t last = step.history.stepCount - 1;
  const int32_t changeCount = last >= 0 ? step.history.stepEffect[last] : 0;
  if (changeCount <= 0) {
    vsfLevelNote(ctx, noteLevel, msgText(VsfMsg::NoEffectEnteredLeft), true);
    return VsfStatus::Ok;
  }
  const int32_t nameWidth = vsfLongestEffectName(ctx) + 1;
  const size_t bytes = size_t(nameWidth) * changeCount + 1;
  char* entered = static_cast<char*>(pool->allocate(pool, bytes, 0));
  char* removed = static_cast<char*>(pool->allocate(pool, bytes, 0));
  if (entered == nullptr || removed == nullptr)
    return VsfStatus::NoMemory;
  int32_t enteredLength = 0, removedLength = 0;
  const int32_t firstChange = step.history.changeListLength - changeCount;
  for (int32_t at = std::max(firstChange, 0); at < step.history.changeListLength; ++at) {
    const int32_t code = step.history.changeList[at];
    int32_t length = 0;
    const char* name = vsfEffectName(ctx, code < 0 ? -code : code, &length);
    char* list = code < 0 ? removed : entered;
    int32_t& listLength = code < 0 ? removedLength : enteredLength;
    std::memcpy(list + listLength, name, static_cast<size_t>(length));
    listLength += length;
    list[listLength++] = ' ';
  }
  if (enteredLength > 0)
    vsfLevelNote(ctx, noteLevel,
                 msgText(VsfMsg::EffectEntered, {HostMsgArg(entered, enteredLength)}), true);
  if (removedLength > 0)
    vsfLevelNote(ctx, noteLevel,
                 msgText(VsfMsg::EffectRemoved, {HostMsgArg(removed, removedLength)}), true);
  return VsfStatus::Ok;
}

// The tables of a step the options ask for; the candidates only for the steps after the
// first shown one, which has none to choose between.
[[nodiscard]] VsfStatus printStepTables(VsfContext* ctx, VsfModel* step, QkPool* pool,
                                        bool afterFirstShown) {
  const VsfModelOptions& o = ctx->options;
  VsfStatus rc = VsfStatus::Ok;
  if (o.stepAnova && (rc = vsfpAnova(ctx, step, pool)) != VsfStatus::Ok)
    return rc;
  if (o.stepFit) {
    if ((rc = vsfpFitStats(ctx, step)) != VsfStatus::Ok)
      return rc;
    if (vsfCvFoldStatsAsked(o) && (rc = vsfpCVDetails(ctx, step, pool)) != VsfStatus::Ok)
      return rc;
  }
  if (o.stepParmEst && (rc = vsfpParmEst(ctx, step, pool, o.orderSelect)) != VsfStatus::Ok)
    return rc;
  if (afterFirstShown) {
    if (o.stepCandidates && (rc = vsfpCandidates(ctx, step)) != VsfStatus::Ok)
      return rc;
    if (vsfGraphicsOn(ctx) && (rc = vsfgCandidates(ctx, step)) != VsfStatus::Ok)
      return rc;
  }
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfDisplaySteps(VsfContext* ctx, void* scratch, int64_t* position, int32_t sampleTag) {
  const VsfModelOptions& o = ctx->options;
  const VsfMethodTraits* method = vsfMethodTraits(o.method);
  if (method == nullptr)
    return statusFromCode(
        vsfNotBuiltInternal("vsfDisplaySteps: a method code without its traits row"));
  // A sample's steps sit one level below its Sample group, which a refit moves down by one.
  const bool refit = ctx->resampling != nullptr && ctx->resampling->settings.refitInProgress != 0;
  const int32_t noteLevel = scratch == nullptr ? 2 : (refit ? 4 : 3);
  const bool backward = vsfMethodStartsFull(o.method);
  VsfModel* fit = &ctx->model;
  // The records of the forced effects show as one step, their last; without an intercept or
  // forced effects the first record is step 1.
  const int32_t includeCount = fit->includeCount;
  int32_t firstShown = 0, stepNumber = 0;
  if (backward)
    firstShown = 0, stepNumber = 0;
  else if (o.noint && includeCount == 0)
    firstShown = -1, stepNumber = 1;
  else
    firstShown = includeCount - 1, stepNumber = 0;
  const bool notes = (o.stepDetails & 1) != 0 || o.details >= VsfDetails::Steps;
  int64_t localPosition = 0;
  int64_t* scratchPosition = position != nullptr ? position : &localPosition;
  VsfGroup stepsGroup(ctx, "StepDetails",
                      {vsfaLabel(msgText(VsfMsg::StepDetails)), rvqFlag(RvqAttrId::GroupKind, 0)});
  // A sample's records run until the first record with another tag.
  const int32_t recordLimit =
      sampleTag != -1 ? std::numeric_limits<int32_t>::max() : fit->history.stepCount;
  for (int32_t record = 0; record < recordLimit; ++record) {
    VsfModel step{};
    step.options = fit->options;
    step.history.stepScratch =
        scratch != nullptr ? static_cast<VsfScratch*>(scratch) : fit->history.stepScratch;
    step.history.stepScratchPos = scratchPosition;
    step.dataSettings = fit->dataSettings;
    if (sampleTag != -1) {
      bool stepOfSample = false;
      if (const VsfStatus rc = vsfNextSampleStep(&step, sampleTag, &stepOfSample);
          rc != VsfStatus::Ok)
        return rc;
      if (!stepOfSample)
        break;
    }
    const ScopedPool stepPool(vsfCreateNamedPool(1, "step pool"));
    QkPool* pool = stepPool.get();
    if (pool == nullptr)
      return VsfStatus::NoPoolOrHandle;
    step.pool = pool;
    if (vsfRestoreModel(&step) != VsfStatus::Ok)
      return VsfStatus::NotRestored;
    if (record < firstShown)
      continue;
    char groupName[32];
    std::snprintf(groupName, sizeof groupName, "Step%d", stepNumber);
    VsfGroup group(
        ctx, groupName,
        {rvqFlag(RvqAttrId::Numbered, 1), rvqTextHandle(RvqAttrId::Stem, vsfText("Step")),
         vsfaLabel(msgText(VsfMsg::StepTitleStep, {stepNumber})),
         rvqDouble(RvqAttrId::GroupNumber, stepNumber), rvqFlag(RvqAttrId::GroupKind, 1)});
    if (notes) {
      vsfLevelNote(ctx, noteLevel, msgText(method->stepTitle.get(), {stepNumber}), true);
      VsfStatus rc = VsfStatus::Ok;
      if (stepNumber == 0)
        rc = noteStartingModel(ctx, &step, pool, record, noteLevel + 1, backward);
      else if (!vsfGroupMethod(o.method))
        noteEffectChange(ctx, step, noteLevel + 1);
      else
        rc = noteGroupChange(ctx, step, pool, noteLevel + 1);
      if (rc != VsfStatus::Ok)
        return rc;
    }
    if (const VsfStatus rc = printStepTables(ctx, &step, pool, record > std::max(firstShown, 0));
        rc != VsfStatus::Ok)
      return rc;
    if (notes)
      vsfCall(ctx->outputManager, RvqMethod::TextLine,
              {rvqChar(RvqAttrId::Rule, '-'), rvqInt(RvqAttrId::LineCount, 1),
               rvqInt(RvqAttrId::RuleSpan, 1)});
    vsfLevelMark(ctx, noteLevel + 1);
    group.close();
    ++stepNumber;
  }
  stepsGroup.close();
  vsfLevelMark(ctx, noteLevel);
  vsfLevelMark(ctx, noteLevel + 1);
  return VsfStatus::Ok;
}

VsfStatus vsfDisplayModel(VsfContext* ctx, VsfModel* m, void*, int64_t* position,
                          int32_t sampleTag) {
  const VsfModelOptions& o = ctx->options;
  const VsfMethod method = o.method;
  // The path's own fit (not its least-squares coefficients') has the SSE of its last step.
  if (vsfMethodIs(method, VsfMethodFamily::LeastAngle) && !vsfMethodLsCoefficients(method) &&
      m->history.stepCount > 0) {
    m->sse = m->history.stepSSE[m->history.stepCount - 1];
    if (vsfRoundingZero(m, m->sse))
      m->sse = 0;
  }
  // Labels of an earlier fit lived in its pool: none are current until this fit makes them.
  ctx->results.effectInPath = nullptr;
  ctx->results.stepLabels = nullptr;
  ctx->results.stepLabelCount = 0;
  ctx->results.stepLabelWidth = 0;
  VsfStatus rc = VsfStatus::Ok;
  const bool solverOnly = vsfMethodRoad(method, VsfFitRoad::Solver);
  if (!solverOnly) {
    VsfGroup summary(
        ctx, "Summary",
        {vsfaLabel(msgText(VsfMsg::SelectionSummary)), rvqFlag(RvqAttrId::GroupKind, 1)});
    if (vsfGraphicsOn(ctx) && (rc = vsfgStepLabels(ctx, m)) != VsfStatus::Ok)
      return rc;
    int32_t optimal[kVsfCriterionCount];
    int32_t chosen = 0;
    RvqText* bestRef = nullptr;
    RvqText* summaryRef = nullptr;
    if ((rc = vsfpOptStep(ctx, m, optimal, &chosen, &bestRef)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfpSummary(ctx, m, m->pool, optimal, &summaryRef)) != VsfStatus::Ok)
      return rc;
    const int32_t k = vsfMethodStartsFull(method) ? m->history.stepCount - 1
                                                  : m->history.stepCount - m->includeCount;
    if ((rc = vsfpStopReason(ctx, m->stop.stopReason, k)) != VsfStatus::Ok)
      return rc;
    if (m->stop.stopReason == VSR_NO_IMPROVEMENT &&
        (rc = vsfpStopDetails(ctx, m->pool, m)) != VsfStatus::Ok)
      return rc;
    if (vsfGraphicsOn(ctx) && ctx->results.stepLabels != nullptr) {
      if ((rc = vsfgCoeffs(ctx, m, position, sampleTag)) != VsfStatus::Ok)
        return rc;
      if ((rc = vsfgCriterion(ctx, m, optimal, chosen, &summaryRef, &bestRef)) != VsfStatus::Ok)
        return rc;
      if ((rc = vsfgAse(ctx, m, chosen, &summaryRef)) != VsfStatus::Ok)
        return rc;
    }
    summary.close();
  }
  if (!solverOnly) {
    openSelModelGroup(ctx, true);
    vsfResetChosenStep(m);
    if ((rc = vsfpNoteSelected(ctx, m, m->pool, m->stop.stopReason)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfpModelString(ctx, m, m->pool)) != VsfStatus::Ok)
      return rc;
    if (vsfMethodSelects(method) && ctx->stmt.showPValues)
      vsfTextLine(ctx, 'l', msgText(VsfMsg::PValuesNotAdjusted));
    if ((rc = vsfpAnova(ctx, m, m->pool)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfpFitStats(ctx, m)) != VsfStatus::Ok)
      return rc;
    if (vsfCvFoldStatsAsked(o) && (rc = vsfpCVDetails(ctx, m, m->pool)) != VsfStatus::Ok)
      return rc;
  }
  return vsfpParmEst(ctx, m, m->pool, o.orderSelect);
}

VsfStatus vsfDesignTables(VsfContext* ctx, QkPool* pool) {
  LevDesign* d = vsfDesign(ctx);
  VsfStatus rc = VsfStatus::Ok;
  if (d != nullptr && d->classCount > 0) {
    if ((rc = vsfpClassInfo(ctx, pool)) != VsfStatus::Ok)
      return rc;
    if (ctx->stmt.cls.showCoding != 0 && (rc = vsfpClassCoding(ctx, pool)) != VsfStatus::Ok)
      return rc;
    zlevchk(&ctx->design);
  }
  if (d != nullptr)
    zlevPrintEftDetails(ctx->outputManager, d);
  return vsfpDimensions(ctx);
}

VsfStatus vsfResults(VsfContext* ctx) {
  VsfModel* m = &ctx->model;
  const VsfModelOptions& o = ctx->options;
  if (vsfRoundingZero(m, m->totalSS))
    m->totalSS = 0;
  if (vsfRoundingZero(m, m->sse))
    m->sse = 0;
  // The BY line heads the group's tables.
  if (ctx->stmt.proc.byCount > 0 && ctx->byHandle != nullptr) {
    char line[512];
    const int32_t length = xbyline(ctx->byHandle, line, static_cast<int32_t>(sizeof line));
    if (length > 0)
      vsfTextLine(ctx, 'c', vsfText(line, length));
  }
  VsfStatus rc = vsfpNobs(ctx, m);
  if (rc != VsfStatus::Ok)
    return rc;
  if (reportFitStatus(ctx, m))
    return VsfStatus::Ok;
  if (o.cvOn && m->cv.foldCount < o.cvFolds && !vsfCvScheme(o.cvMethod).indexFolds)
    vsfLog(VsfMsg::CrossValidationFewerFolds, {o.cvFolds, m->cv.foldCount});
  if (o.adaptive && m->adaptiveAliased) {
    vsfLog(VsfMsg::AdaptiveFitNotFullRank, {HostMsgArg(m->adaptiveAliased)});
    vsfRaiseRC(ctx, StepRc::Warning);
  }
  if ((rc = vsfDesignTables(ctx, m->pool)) != VsfStatus::Ok)
    return rc;
  if (o.screen > VsfScreenMethod::None) {
    if ((rc = vsfpScreenInfo(ctx)) != VsfStatus::Ok)
      return rc;
    if (o.screen == VsfScreenMethod::Sis && (rc = vsfpSISInfo(ctx)) != VsfStatus::Ok)
      return rc;
  }
  if (o.showL2Search) {
    if ((rc = vsfpElasticNetParaSummary(ctx)) != VsfStatus::Ok ||
        (rc = vsfpElasticNetL2(ctx)) != VsfStatus::Ok ||
        (rc = vsfgElasticNet(ctx, m)) != VsfStatus::Ok)
      return rc;
  }
  if (o.cvExternal && o.showCvex) {
    if ((rc = vsfpCvExternal(ctx)) != VsfStatus::Ok)
      return rc;
    // For the elastic net the curve is drawn when no L2 search ran or the search is shown.
    const bool path = vsfMethodIs(o.method, VsfMethodFamily::LeastAngle);
    const bool elasticNet = vsfMethodRidge(o.method);
    if (path && (!elasticNet || o.showL2Search || o.l2Search == VsfL2Search::None) &&
        (rc = vsfgCvExternal(ctx, m)) != VsfStatus::Ok)
      return rc;
  }
  if (o.stepDetails != 0 || o.details >= VsfDetails::Steps) {
    if ((rc = vsfDisplaySteps(ctx, nullptr, nullptr, -1)) != VsfStatus::Ok)
      return rc;
  }
  // The selected model's tables: their failures are passed on rather than dropped.
  return vsfDisplayModel(ctx, m, nullptr, nullptr, -1);
}

VsfStatus vsfFitAndDisplay(VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  VsfModel* m = &ctx->model;
  ctx->fitStart = zdattim();
  VsfStatus rc = o.modelAverage ? vsfAverageFit(ctx) : vsfProcess(m, ctx->resampling);
  if (rc != VsfStatus::Ok)
    return rc;
  ctx->fitStart = zdattim() - ctx->fitStart;
  ctx->fitTime += ctx->fitStart;
  ctx->resultsStart = zdattim();
  LevRegContext* dc = &ctx->design;
  zlevEftVarLevNames(dc, 0, nullptr);
  zlevLevelsAll(dc, 0, nullptr);
  if ((vsfDesign(ctx) != nullptr && vsfDesign(ctx)->parmLabelStyle == LSTYLE_INTERLACED) ||
      ctx->postFit != nullptr)
    zlevParmName(dc, 0, nullptr);
  if (o.split && (rc = vsfMakeEffectNames(ctx, ctx->byPool)) != VsfStatus::Ok)
    return rc;
  const bool usable = ctx->average.usableCount != 0;
  if (!ctx->noprint) {
    if (!o.modelAverage)
      rc = vsfResults(ctx);
    else if (usable)
      rc = vsfResampleResults(ctx);
    if (rc != VsfStatus::Ok)
      return rc;
  } else if (!o.modelAverage) {
    // Without the tables the failed fit is still logged and its return code raised.
    (void)reportFitStatus(ctx, m);
    vsfResetChosenStep(m);
  }
  ctx->resultsStart = zdattim() - ctx->resultsStart;
  ctx->resultsTime += ctx->resultsStart;
  // The refit of the averaged model runs a second pass of this function; it starts no refit.
  if (o.modelAverage && ctx->stmt.ma.refit && usable &&
      !ctx->resampling->settings.refitInProgress && (rc = vsfRefitAverage(ctx)) != VsfStatus::Ok)
    return rc;
  if (ctx->postFit != nullptr)
    return vsfFormSelectedModelForBridge(ctx, m);
  return VsfStatus::Ok;
}
