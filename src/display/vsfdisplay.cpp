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
#include "support/groupname.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/notbuilt.h"
#include "support/poolalloc.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfpools.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr double kZeroFraction = 1.110223024625157e-13;

// The reference sum of squares against which SSE and total SS are tested for zero.
double referenceSS(const VsfModel* m) { return m->totalSSUncorrected; }

// Reports a negative fit status; returns true when the group's display ends here.
[[nodiscard]] bool reportFitStatus(VsfContext* ctx, VsfModel* m) {
  const int32_t status = m->fitStatus;
  if (status >= 0)
    return false;
  VsfMsg message{};
  StepRc rc = StepRc::GroupDesignError;
  switch (status) {
  case VFS_OVERFLOW:
    message = VsfMsg::SumsSquaresTooLarge, rc = StepRc::Error;
    break;
  case VFS_RIDGE_TOO_LARGE:
    message = VsfMsg::L2ValueElasticNet, rc = StepRc::Error;
    break;
  case VFS_NO_TRAIN:
    // Name the response when it is the reason no observation is left.
    message = m->nRead > 0 && m->nMissingResponse >= m->nRead ? VsfMsg::EveryValueResponseVariable
                                                              : VsfMsg::TrainingFrequenciesSumZero,
    rc = StepRc::GroupSkipped;
    break;
  case VFS_NO_RANK:
    message = VsfMsg::NoEffectEstimable, rc = StepRc::GroupSkipped;
    break;
  case VFS_TOO_MANY_FOLDS:
    message = VsfMsg::ThereMoreExternalCross, rc = StepRc::GroupSkipped;
    break;
  case VFS_SINGLE_FOLD:
    message = VsfMsg::CrossValidationNeedsMore, rc = StepRc::GroupSkipped;
    break;
  case VFS_NO_VALIDATION:
    message = VsfMsg::ValidateRequestedCriterionBut, rc = StepRc::GroupSkipped;
    break;
  case VFS_ZERO_FULL_MSE:
    message = VsfMsg::CpBicCriterionNeeds, rc = StepRc::GroupDesignError;
    break;
  case VFS_NO_MEMORY:
    message = VsfMsg::StepFailed, rc = StepRc::GroupNoMemory;
    break;
  default:
    break;
  }
  const HostVariable* y = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
  if (y != nullptr && (message == VsfMsg::EveryValueResponseVariable ||
                       (message == VsfMsg::SumsSquaresTooLarge && m->overflowEffect < 0))) {
    vsfLog(message, {HostMsgArg(y->name, y->nameLength), vsfGroupName()});
  } else if (message == VsfMsg::SumsSquaresTooLarge && m->overflowEffect >= 0) {
    int32_t length = 0;
    const char* name = vsfEffectName(ctx, m->overflowEffect, &length);
    vsfLog(message, {HostMsgArg(name, length), vsfGroupName()});
  } else if (message == VsfMsg::L2ValueElasticNet) {
    vsfLog(message, {HostMsgArg(m->l2), HostMsgArg(m->nObs), vsfGroupName()});
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
  const bool none = ctx->options.method == VM_NONE;
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

int32_t vsfSetSelModelGroup(VsfContext* ctx) {
  // After the fit: under model averaging no single selected model is shown (the averaged
  // tables came before, with their own headings), so the outputs' tables that follow here
  // get no "The Selected Model" heading of their own.
  openSelModelGroup(ctx, !ctx->options.modelAverage);
  return 0;
}

VsfStatus vsfDisplaySteps(VsfContext* ctx, void* scratch, int64_t* position, int32_t sampleTag) {
  const VsfModelOptions& o = ctx->options;
  const VsfMethodTraits* method = vsfMethodTraits(o.method);
  if (method == nullptr)
    return statusFromCode(
        vsfNotBuiltInternal("vsfDisplaySteps: a method code without its traits row"));
  // A sample's steps sit one level below its Sample group, which a refit moves down by one.
  const bool refit = ctx->resampling != nullptr && ctx->resampling->settings.refitInProgress != 0;
  const int32_t L = scratch == nullptr ? 2 : (refit ? 4 : 3);
  const bool backward = o.method == VM_BACKWARD;
  VsfModel* fit = &ctx->model;
  const int32_t before = fit->includeCount;
  int32_t F = 0, S = 0;
  if (backward)
    F = 0, S = 0;
  else if (o.noint && before == 0)
    F = -1, S = 1;
  else
    F = before - 1, S = 0;
  const bool notes = (o.stepDetails & 1) != 0 || o.details >= VsfDetails::Steps;
  int64_t localPosition = 0;
  int64_t* pos = position != nullptr ? position : &localPosition;
  VsfGroup stepsGroup(ctx, "StepDetails",
                      {vsfaLabel(msgText(VsfMsg::StepDetails)), rvqFlag(RvqAttrId::GroupKind, 0)});
  // A sample's records run until the first record with another tag.
  const int32_t R = sampleTag != -1 ? std::numeric_limits<int32_t>::max() : fit->stepCount;
  for (int32_t i = 0; i < R; ++i) {
    VsfModel step{};
    step.options = fit->options;
    step.stepScratch = scratch != nullptr ? static_cast<VsfScratch*>(scratch) : fit->stepScratch;
    step.stepScratchPos = pos;
    step.dataSettings = fit->dataSettings;
    if (sampleTag != -1) {
      const int32_t next = vsfNextSampleStep(&step, sampleTag);
      if (next < 0)
        return statusFromCode(next);
      if (next == 0)
        break;
    }
    const ScopedPool stepPool(vsfCreateNamedPool(1, "step pool"));
    QkPool* pool = stepPool.get();
    if (pool == nullptr)
      return VsfStatus::NoPoolOrHandle;
    step.pool = pool;
    if (vsfRestoreModel(&step) != 0)
      return VsfStatus::NotRestored;
    if (i < F)
      continue;
    char groupName[32];
    std::snprintf(groupName, sizeof groupName, "Step%d", S);
    VsfGroup group(ctx, groupName,
                   {rvqFlag(RvqAttrId::Numbered, 1),
                    rvqTextHandle(RvqAttrId::Stem, vsfText("Step")),
                    vsfaLabel(msgText(VsfMsg::StepTitleStep, {S})),
                    rvqDouble(RvqAttrId::GroupNumber, S), rvqFlag(RvqAttrId::GroupKind, 1)});
    if (notes) {
      vsfLevelNote(ctx, L, msgText(method->stepTitle, {S}), true);
      if (S == 0) {
        if (backward) {
          vsfLevelNote(ctx, L + 1, msgText(VsfMsg::FullModelStartingModel), true);
        } else {
          char* text = nullptr;
          int32_t length = 0;
          VsfStatus rc = statusFromCode(vsfIncludeString(ctx, &step, pool, &text, &length));
          if (rc != VsfStatus::Ok)
            return rc;
          vsfLevelNote(ctx, L + 1,
                       msgText(i == 0 ? VsfMsg::EffectEntered : VsfMsg::EffectsModelBeforeSelection,
                               {HostMsgArg(text, length)}),
                       true);
        }
      } else if (!vsfGroupMethod(o.method)) {
        const int32_t last = step.stepCount - 1;
        const int32_t e = last >= 0 ? step.stepEffect[last] : -1;
        if (e >= 0) {
          int32_t len = 0;
          const char* name = vsfEffectName(ctx, e, &len);
          const bool fell = last > 0 && step.stepEffects[last] < step.stepEffects[last - 1];
          vsfLevelNote(ctx, L + 1,
                       msgText(fell ? VsfMsg::EffectRemoved : VsfMsg::EffectEntered,
                               {HostMsgArg(name, len)}),
                       true);
        }
      } else {
        const int32_t last = step.stepCount - 1;
        const int32_t K = last >= 0 ? step.stepEffect[last] : 0;
        if (K <= 0) {
          vsfLevelNote(ctx, L + 1, msgText(VsfMsg::NoEffectEnteredLeft), true);
        } else {
          const int32_t W = vsfLongestEffectName(ctx) + 1;
          char* in = static_cast<char*>(pool->allocate(pool, size_t(W) * K + 1, 0));
          char* out = static_cast<char*>(pool->allocate(pool, size_t(W) * K + 1, 0));
          if (in == nullptr || out == nullptr)
            return VsfStatus::NoMemory;
          int32_t nin = 0, nout = 0;
          const int32_t startAt = step.changeListLength - K;
          for (int32_t c = std::max(startAt, 0); c < step.changeListLength; ++c) {
            const int32_t code = step.changeList[c];
            int32_t len = 0;
            const char* name = vsfEffectName(ctx, code < 0 ? -code : code, &len);
            char* buf = code < 0 ? out : in;
            int32_t& at = code < 0 ? nout : nin;
            std::memcpy(buf + at, name, static_cast<size_t>(len));
            at += len;
            buf[at++] = ' ';
          }
          if (nin > 0)
            vsfLevelNote(ctx, L + 1, msgText(VsfMsg::EffectEntered, {HostMsgArg(in, nin)}), true);
          if (nout > 0)
            vsfLevelNote(ctx, L + 1, msgText(VsfMsg::EffectRemoved, {HostMsgArg(out, nout)}), true);
        }
      }
    }
    VsfStatus rc = VsfStatus::Ok;
    if (o.stepAnova && (rc = vsfpAnova(ctx, &step, pool)) != VsfStatus::Ok)
      return rc;
    if (o.stepFit) {
      if ((rc = vsfpFitStats(ctx, &step)) != VsfStatus::Ok)
        return rc;
      if (vsfCvFoldStatsAsked(o) && (rc = vsfpCVDetails(ctx, &step, pool)) != VsfStatus::Ok)
        return rc;
    }
    if (o.stepParmEst && (rc = vsfpParmEst(ctx, &step, pool, o.orderSelect)) != VsfStatus::Ok)
      return rc;
    if (i > std::max(F, 0)) { // steps after the first shown one
      if (o.stepCandidates && (rc = vsfpCandidates(ctx, &step)) != VsfStatus::Ok)
        return rc;
      if (vsfGraphicsOn(ctx) && (rc = vsfgCandidates(ctx, &step)) != VsfStatus::Ok)
        return rc;
    }
    if (notes)
      vsfCall(ctx->outputManager, RvqMethod::TextLine,
              {rvqChar(RvqAttrId::Rule, '-'), rvqInt(RvqAttrId::LineCount, 1),
               rvqInt(RvqAttrId::RuleSpan, 1)});
    vsfLevelMark(ctx, L + 1);
    group.close();
    ++S;
  }
  stepsGroup.close();
  vsfLevelMark(ctx, L);
  vsfLevelMark(ctx, L + 1);
  return VsfStatus::Ok;
}

VsfStatus vsfDisplayModel(VsfContext* ctx, VsfModel* m, void*, int64_t* position,
                          int32_t sampleTag) {
  const VsfModelOptions& o = ctx->options;
  const int32_t method = o.method;
  // The path's own fit (not its least-squares coefficients') has the SSE of its last step.
  if (vsfMethodIs(method, VsfMethodFamily::LeastAngle) && !vsfMethodLsCoefficients(method) &&
      m->stepCount > 0) {
    m->sse = m->stepSSE[m->stepCount - 1];
    if (m->sse < kZeroFraction * referenceSS(m))
      m->sse = 0;
  }
  // Labels of an earlier fit lived in its pool: none are current until this fit makes them.
  ctx->results.effectInPath = nullptr;
  ctx->results.stepLabels = nullptr;
  ctx->results.stepLabelCount = 0;
  ctx->results.stepLabelWidth = 0;
  VsfStatus rc = VsfStatus::Ok;
  const bool solverOnly = method == VM_QKLASSO || method == VM_QKGLASSO;
  if (!solverOnly) {
    VsfGroup summary(
        ctx, "Summary",
        {vsfaLabel(msgText(VsfMsg::SelectionSummary)), rvqFlag(RvqAttrId::GroupKind, 1)});
    if (vsfGraphicsOn(ctx) && (rc = vsfgStepLabels(ctx, m)) != VsfStatus::Ok)
      return rc;
    int32_t optimal[14];
    int32_t chosen = 0;
    RvqText* bestRef = nullptr;
    RvqText* summaryRef = nullptr;
    if ((rc = vsfpOptStep(ctx, m, optimal, &chosen, &bestRef)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfpSummary(ctx, m, m->pool, optimal, &summaryRef)) != VsfStatus::Ok)
      return rc;
    const int32_t k = method == VM_BACKWARD ? m->stepCount - 1 : m->stepCount - m->includeCount;
    if ((rc = vsfpStopReason(ctx, m->stopReason, k)) != VsfStatus::Ok)
      return rc;
    if (m->stopReason == VSR_NO_IMPROVEMENT) {
      const int32_t stop = o.stop != VC_NONE_GIVEN ? o.stop : o.select;
      double current = vsfGetCriterion(m, stop);
      if ((rc = vsfpStopDetails(ctx, m->pool, m, current)) != VsfStatus::Ok)
        return rc;
    }
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
    if ((rc = vsfpNoteSelected(ctx, m, m->pool, m->stopReason)) != VsfStatus::Ok)
      return rc;
    if ((rc = vsfpModelString(ctx, m, m->pool)) != VsfStatus::Ok)
      return rc;
    if (method != VM_NONE && ctx->stmt.showPValues)
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
  const double ref = referenceSS(m);
  if (m->totalSS < kZeroFraction * ref)
    m->totalSS = 0;
  if (m->sse < kZeroFraction * ref)
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
  if (o.cvOn && m->foldCount < o.cvFolds && o.cvMethod != VsfCvMethod::Index)
    vsfLog(VsfMsg::CrossValidationFoldsRequested, {o.cvFolds, m->foldCount});
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
  VsfStatus rc =
      o.modelAverage ? vsfAverageFit(ctx) : statusFromCode(vsfProcess(m, ctx->resampling));
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
    return statusFromCode(vsfFormSelectedModelForBridge(ctx, m));
  return VsfStatus::Ok;
}
