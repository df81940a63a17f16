// Why the selection stopped and which model was chosen: the "StopReason" and "StopDetails"
// tables and the note naming the criterion of the selected model. Declared in output/vsfprinters.h.
#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/hostif.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

// The message of VSR_NO_IMPROVEMENT by STOP criterion (none when there is none); SL's
// depends on the way the method steps.
[[nodiscard]] std::optional<VsfMsg> noImprovementMessage(VsfCriterion stop, VsfMethod method) {
  if (stop == VsfCriterion::Sl) {
    if (const VsfMethodTraits* t = vsfMethodTraits(method);
        t != nullptr && t->bound == VsfStepBound::EachOnce && !t->removes)
      return VsfMsg::SelectionStoppedNoEntrySignificant;
    if (vsfMethodStartsFull(method))
      return VsfMsg::SelectionStoppedNoRemovalSignificant;
  }
  return vsfCriterion(stop).noImprovement;
}

// The STOP criterion as the model core applies it (SELECT's when STOP= is not given).
[[nodiscard]] VsfCriterion stopCriterion(const VsfModelOptions& o) {
  return o.stop != VsfCriterion::NoneGiven ? o.stop : o.select;
}

} // namespace

VsfStatus vsfpStopReason(VsfContext* ctx, int32_t reason, int32_t steps) {
  if (reason == VSR_NONE || reason == VSR_LEAST_SQUARES)
    return VsfStatus::Ok;
  VsfOut out(ctx);
  const VsfModelOptions& o = ctx->options;
  char text[120];
  int32_t length = 0;
  auto message = [&](VsfMsg number, std::initializer_list<HostMsgArg> args) {
    length = msgString(text, static_cast<int32_t>(sizeof text), number, args);
    length = std::clamp<int32_t>(length, 0, static_cast<int32_t>(sizeof text));
  };
  switch (reason) {
  case VSR_STEP_LIMIT:
    message(VsfMsg::SelectionStoppedAtMaxsteps, {steps});
    break;
  case VSR_STEPS:
    message(VsfMsg::SelectionStoppedStepCount, {o.steps});
    break;
  case VSR_STOP_COUNT:
    message(VsfMsg::SelectionStoppedAtStopSize, {o.stopCount});
    break;
  case VSR_NO_IMPROVEMENT: {
    const VsfCriterion stop = stopCriterion(o);
    const std::optional<VsfMsg> number = noImprovementMessage(stop, o.method);
    if (number == VsfMsg::SelectionStoppedNoEntrySignificant)
      message(*number, {o.slEntry});
    else if (number == VsfMsg::SelectionStoppedNoRemovalSignificant)
      message(*number, {o.slStay});
    else if (stop == VsfCriterion::Sl)
      message(*number, {o.slEntry, o.slStay});
    else if (number)
      message(*number, {});
    break;
  }
  case VSR_PERFECT_FIT:
    message(VsfMsg::SelectionStoppedPerfectFit, {o.maxSteps});
    break;
  case VSR_NO_CANDIDATE:
    message(VsfMsg::SelectionStoppedNoCandidateLeft, {});
    break;
  case VSR_ALL_ENTERED:
    message(VsfMsg::SelectionStoppedAllEffectsIn, {});
    break;
  case VSR_DOWN_TO_INTERCEPT:
    message(VsfMsg::SelectionStoppedAtIntercept, {});
    break;
  case VSR_CYCLING:
    message(VsfMsg::SelectionStoppedWouldCycle, {});
    break;
  case VSR_NOTHING_TO_DROP:
    message(VsfMsg::SelectionStoppedNoEffectDroppable, {});
    break;
  case VSR_STEPWISE_SL:
    message(VsfMsg::SelectionStoppedNoEntryNoRemoval, {o.slEntry, o.slStay});
    if (o.steps != 0)
      vsfLog(VsfMsg::SelectionStoppedAtStepsBeforeSl, {o.steps, o.slEntry, o.slStay});
    break;
  case VSR_STEPWISE_OTHER:
    message(VsfMsg::SelectionStoppedNoEffectChanges, {});
    if (o.steps != 0)
      vsfLog(VsfMsg::SelectionStoppedAfterStepsSteps, {o.steps});
    break;
  case VSR_DOWN_TO_FORCED:
    message(VsfMsg::SelectionStoppedOnlyForcedLeft, {});
    break;
  case VSR_L1_TARGET:
    message(VsfMsg::SelectionStoppedL1Reached, {});
    break;
  case VSR_PATH_END:
    message(VsfMsg::SelectionStoppedEndOfPath, {});
    break;
  case VSR_PATH_END2:
    message(VsfMsg::SelectionStoppedEndOfPath2, {});
    break;
  default:
    break;
  }
  int32_t code = reason;
  const int32_t width = std::max(length, 1);
  if (length == 0)
    text[0] = ' ';
  if (!out.create("StopReason", msgText(VsfMsg::StopReason)))
    return VsfStatus::Ok;
  out.charColumn("Reason", text, width);
  out.column({rvqColumnType(RvqColumnType::Int), vsfaName("Code"), vsfaBound(&code)});
  out.endColumns();
  out.bind("Stat.VARSIFTER.StopReason");
  out.emit();
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpStopDetails(VsfContext* ctx, QkPool* pool, VsfModel* m) {
  const VsfModelOptions& o = ctx->options;
  const VsfCriterion stop = stopCriterion(o);
  // The model at the stop is its last recorded step: it is compared by the value the
  // Selection Summary prints for that step, not by one formed again from the model's state
  // after the refused trials (a CV PRESS refolded from the undone sums, say).
  const int32_t last = m->history.stepCount - 1;
  const double current = last >= 0 ? vsfStepCriterion(m, stop, last) : hostMissing();
  const VsfCriterionTraits& t = vsfCriterion(stop);
  if (!t.stopHeader.get() || !t.stopCompare.get())
    return VsfStatus::NoMemory;
  VsfOut out(ctx);
  RvqText* head1 = msgText(*t.stopHeader.get());
  RvqText* head2 = msgText(*t.stopCompare.get());
  double criterion = 0.0, compare = current;
  char comparison = ' ';
  const char larger = vsfBigBetter(stop) ? '<' : '>';
  if (vsfGroupMethod(ctx->options.method)) {
    if (!out.create("StopDetails", msgText(VsfMsg::StopDetails)))
      return VsfStatus::Ok;
    out.column({rvqColumnType(RvqColumnType::Double), vsfaName("Criterion"),
                vsfaDyn("CriterionHeader"), rvqTextHandle(RvqAttrId::Value, head1),
                vsfaBound(&criterion)});
    out.charColumn("Comparison", &comparison, 1);
    out.column({rvqColumnType(RvqColumnType::Double), vsfaName("CompareCriterion"),
                vsfaDyn("CompareCriterionHeader"), rvqTextHandle(RvqAttrId::Value, head2),
                vsfaBound(&compare)});
    out.endColumns();
    out.bind("Stat.VARSIFTER.StopDetails");
    criterion = m->stop.stopAddValue;
    comparison = larger;
    out.emit();
    out.endRows();
    out.publish();
    out.finish();
    return VsfStatus::Ok;
  }
  int32_t width = 0, addLen = 0, dropLen = 0;
  const char* addName =
      m->stop.stopAddEffect > 0 ? vsfEffectName(ctx, m->stop.stopAddEffect, &addLen) : "";
  const char* dropName =
      m->stop.stopDropEffect > 0 ? vsfEffectName(ctx, m->stop.stopDropEffect, &dropLen) : "";
  width = std::max(addLen, dropLen);
  const int32_t forWidth =
      std::max(vsfMsgLength(VsfMsg::StopDetailsEntry), vsfMsgLength(VsfMsg::StopDetailsRemoval));
  // Without a candidate there is nothing to compare: no table, and no failure either.
  if ((m->stop.stopAddEffect <= 0 && m->stop.stopDropEffect <= 0) || width == 0)
    return VsfStatus::Ok;
  if (forWidth == 0)
    return VsfStatus::NoMemory;
  char* effect = static_cast<char*>(poolTake(pool, width));
  char* candidateFor = static_cast<char*>(poolTake(pool, forWidth));
  if (effect == nullptr || candidateFor == nullptr)
    return VsfStatus::NoMemory;
  char sig[5];
  if (!out.create("StopDetails", msgText(VsfMsg::StopDetails)))
    return VsfStatus::Ok;
  out.charColumn("CandidateFor", candidateFor, forWidth);
  out.charColumn("Effect", effect, width);
  out.column({rvqColumnType(RvqColumnType::Double), vsfaName("Criterion"),
              vsfaDyn("CriterionHeader"), rvqTextHandle(RvqAttrId::Value, head1),
              vsfaBound(&criterion)});
  out.charColumn("Comparison", &comparison, 1);
  out.column({rvqColumnType(RvqColumnType::Double), vsfaName("CompareCriterion"),
              vsfaDyn("CompareCriterionHeader"), rvqTextHandle(RvqAttrId::Value, head2),
              vsfaBound(&compare)});
  if (stop == VsfCriterion::Sl)
    out.charColumn("SignificanceLabel", sig, 5);
  out.endColumns();
  out.bind("Stat.VARSIFTER.StopDetails");
  auto slValue = [](double v) {
    if (isHostMissing(v))
      return v;
    return v < -708.3964185 ? 0.0 : std::exp(v);
  };
  // One row per candidate: under SL its p-value against SLENTRY or SLSTAY, else its
  // criterion against the current model's.
  auto candidateRow = [&](VsfMsg message, const char* name, int32_t nameLength, double value,
                          double slBound, char slComparison, const char* slTag) {
    vsfMsgCopy(message, candidateFor, forWidth);
    vsfFill(effect, width, name, nameLength);
    criterion = value;
    if (stop == VsfCriterion::Sl) {
      criterion = slValue(criterion);
      compare = slBound;
      comparison = slComparison;
      std::memcpy(sig, slTag, 5);
    } else {
      compare = current;
      comparison = larger;
    }
    out.emit();
  };
  if (m->stop.stopAddEffect > 0)
    candidateRow(VsfMsg::StopDetailsEntry, addName, addLen, m->stop.stopAddValue, o.slEntry, '>',
                 "(SLE)");
  if (m->stop.stopDropEffect > 0)
    candidateRow(VsfMsg::StopDetailsRemoval, dropName, dropLen, m->stop.stopDropValue, o.slStay,
                 '<', "(SLS)");
  out.endRows();
  out.publish();
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfpNoteSelected(VsfContext* ctx, VsfModel* m, QkPool* pool, int32_t reason) {
  const VsfModelOptions& o = ctx->options;
  if (!vsfMethodSelects(o.method))
    return VsfStatus::Ok;
  const int32_t s = vsfMethodStartsFull(o.method) ? 1 : m->includeCount;
  const int32_t k = m->history.stepCount - s;
  RvqText* note = nullptr;
  if (o.choose == VsfCriterion::NoneGiven) {
    note = msgText(reason == 5 ? VsfMsg::ModelStepSelectedPerfect : VsfMsg::ModelStepSelected, {k});
  } else {
    const std::optional<VsfMsg> chooseName = vsfCriterion(o.choose).name;
    const int32_t length = chooseName ? vsfMsgLength(*chooseName) : 0;
    char* name = static_cast<char*>(poolTake(pool, length));
    if (length == 0 || name == nullptr)
      return VsfStatus::NoMemory;
    vsfMsgCopy(*chooseName, name, length);
    note = msgText(VsfMsg::ModelStepSelectedWhere, {HostMsgArg(name, length), k});
  }
  vsfTextLine(ctx, 'c', note);
  return VsfStatus::Ok;
}
