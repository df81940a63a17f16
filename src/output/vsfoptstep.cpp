// The optimal step of every fit criterion along the selection path, the displayed number
// of the selected model's step, and (with graphics) the one-row data table "BestStep"
// that the criterion and ASE plots read. Declared in output/vsfprinters.h.
#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstring>

namespace {

constexpr size_t kCodes = kVsfCriterionCount;

// The best value of each criterion over the steps and the step that first reaches it.
void findBest(VsfModel* m, int32_t steps, double* best, int32_t* optimalSteps) {
  for (size_t c = 0; c < kCodes; ++c)
    best[c] = hostMissing();
  double maximum[kCodes], minimum[kCodes];
  for (size_t c = 0; c < kCodes; ++c)
    maximum[c] = -DBL_MAX, minimum[c] = DBL_MAX;
  for (int32_t i = 0; i < steps; ++i) {
    for (const VsfCriterionTraits& t : kVsfCriterionTraits) {
      if (!t.stepValues)
        continue;
      const size_t c = vsfCriterionSlot(t.criterion);
      double v = vsfStepCriterion(m, t.criterion, i);
      if (isHostMissing(v))
        continue;
      const bool big = t.largerBetter;
      if (v > maximum[c]) {
        maximum[c] = v;
        if (big)
          best[c] = v, optimalSteps[c] = i;
      }
      if (v < minimum[c]) {
        minimum[c] = v;
        if (!big)
          best[c] = v, optimalSteps[c] = i;
      }
    }
  }
}

// Among the steps whose value ties with the best (within the fit's fuzz), the optimum is the
// last of those with the fewest effects and, among them, the smallest rank; the CHOOSE=
// criterion keeps the fit's chosen step.
[[nodiscard]] VsfStatus breakTies(VsfContext* ctx, VsfModel* m, int32_t steps, const double* best,
                                  int32_t* optimalSteps) {
  const VsfModelOptions& o = ctx->options;
  int32_t* flags =
      static_cast<int32_t*>(m->pool->allocate(m->pool, sizeof(int32_t) * steps, kQkZeroed));
  if (flags == nullptr)
    return VsfStatus::NoMemory;
  for (const VsfCriterionTraits& t : kVsfCriterionTraits) {
    const size_t c = vsfCriterionSlot(t.criterion);
    const double b = best[c];
    if (!t.stepValues || isHostMissing(b) || b == DBL_MAX || b == -DBL_MAX)
      continue;
    if (o.choose != VsfCriterion::NoneGiven && t.criterion == o.choose) {
      optimalSteps[c] = m->chosen.chosenStep;
      continue;
    }
    std::memset(flags, 0, sizeof(int32_t) * steps);
    int32_t fewest = INT32_MAX;
    for (int32_t i = 0; i < steps; ++i) {
      double v = vsfStepCriterion(m, t.criterion, i);
      if (!isHostMissing(v) && std::fabs(v / 1000 - b / 1000) <= std::fabs(v / 1000) * m->fuzz) {
        flags[i] = 1;
        fewest = std::min(fewest, m->history.stepEffects[i]);
      }
    }
    int32_t smallestRank = INT32_MAX, flagged = 0;
    for (int32_t i = 0; i < steps; ++i) {
      if (flags[i] && m->history.stepEffects[i] != fewest)
        flags[i] = 0;
      if (flags[i]) {
        ++flagged;
        smallestRank = std::min(smallestRank, m->history.stepRank[i]);
      }
    }
    if (flagged > 1)
      for (int32_t i = 0; i < steps; ++i)
        if (flags[i] && m->history.stepRank[i] != smallestRank)
          flags[i] = 0;
    for (int32_t i = steps - 1; i >= 0; --i)
      if (flags[i]) {
        optimalSteps[c] = i;
        break;
      }
  }
  m->pool->free(m->pool, flags);
  return VsfStatus::Ok;
}

// The optimal steps as the tables number them, their label slots, and the chosen step.
void numberSteps(VsfContext* ctx, VsfModel* m, int32_t steps, const int32_t* optimalSteps,
                 int32_t* shown, int32_t* slot, int32_t* chosenStep) {
  const VsfModelOptions& o = ctx->options;
  const bool backward = vsfMethodStartsFull(o.method);
  const int32_t start = m->includeCount;
  for (size_t c = 0; c < kCodes; ++c) {
    const int32_t s = optimalSteps[c];
    int32_t d = backward ? s : (start == 0 ? s + 1 : s - (start - 1));
    shown[c] = d < 0 ? 0 : d;
    slot[c] = (start == 0 && !backward) ? std::max(s, 0) : shown[c];
  }
  if (o.choose == VsfCriterion::NoneGiven)
    *chosenStep = steps - (backward ? 1 : start);
  else
    *chosenStep = shown[vsfCriterionSlot(o.choose)];
}

// The chosen step's label and norm, which the graphs show.
void keepChosenStep(VsfContext* ctx, VsfModel* m, int32_t steps, int32_t chosenStep) {
  const bool backward = vsfMethodStartsFull(ctx->options.method);
  const int32_t start = m->includeCount;
  ctx->results.chosenStepValue = chosenStep;
  int32_t chosenSlot = (start == 0 && !backward) ? chosenStep - 1 : chosenStep;
  if (chosenSlot >= 0 && chosenSlot < ctx->results.stepLabelCount) {
    const VsfLabel& l = ctx->results.stepLabels[chosenSlot];
    ctx->results.chosenStepLabelText = vsfText(l.text != nullptr ? l.text : "", l.length);
  }
  if (normBetaKept(ctx->options) && normBetaHistory(m) != nullptr) {
    // The chosen step's norm is read at its label slot, which is its history entry for
    // the path methods (whose only starting entry is the intercept).
    const double* h = normBetaHistory(m);
    const double last = h[steps - 1];
    ctx->results.lastNormBeta = last;
    const double here = chosenSlot >= 0 && chosenSlot < steps ? h[chosenSlot] : hostMissing();
    if (last == 0)
      ctx->results.chosenNormBeta = 1.0;
    else if (isHostMissing(last) || isHostMissing(here))
      ctx->results.chosenNormBeta = hostMissing();
    else
      ctx->results.chosenNormBeta = here / last;
  }
}

// Whether the fit kept a value per step of the criterion: what the value is worked out from
// was at hand (a full model's variance of 0 gives C(p) none and leaves BIC out beside it).
[[nodiscard]] bool valuesKept(const VsfModelOptions& o, const VsfModel* m, VsfCriterion criterion) {
  switch (vsfCriterion(criterion).data) {
  case VsfCriterionData::FitOnly:
    return true;
  case VsfCriterionData::FullModel:
  case VsfCriterionData::FullModelScale:
    return m->fullMse != 0;
  case VsfCriterionData::Press:
    return o.pressNeeded != 0;
  case VsfCriterionData::Validation:
    return o.validateInUse != 0;
  case VsfCriterionData::CvFolds:
    return o.cvOn != 0;
  case VsfCriterionData::ExternalFolds:
    return o.cvExternal != 0;
  case VsfCriterionData::Nothing:
  case VsfCriterionData::PathBound:
    break;
  }
  return false;
}

// The data table of the graphs (BestStep): each criterion's optimal step, its label, value
// and norm.
void bestStepTable(VsfContext* ctx, VsfModel* m, const int32_t* optimalSteps, int32_t* shown,
                   const int32_t* slot, RvqText** dataRef) {
  const VsfModelOptions& o = ctx->options;
  const double graphStart = zdattim();
  const double savedPrintStart = ctx->printStart;
  VsfOut out(ctx);
  char optLabel[13];
  std::memcpy(optLabel, "Optimal Value", 13);
  if (!out.create("BestStep", nullptr)) {
    ctx->printStart = savedPrintStart;
    return;
  }
  out.charColumn("OptLabel", optLabel, 13);
  // The table's columns, criterion by criterion in this order, each where its values are
  // kept; the columns are named by the criterion plot's stems.
  const VsfCriterion groups[] = {VsfCriterion::Aic,    VsfCriterion::Aicc,  VsfCriterion::Sbc,
                                 VsfCriterion::AdjRsq, VsfCriterion::Press, VsfCriterion::Validate,
                                 VsfCriterion::Cv,     VsfCriterion::Bic,   VsfCriterion::Cp};
  // With the standardized-L1 series kept, each optimum also shows where it lies on the
  // path: its norm over the last step's.
  const bool normB = normBetaKept(o) && normBetaHistory(m) != nullptr;
  double vals[kCodes], normBetas[kCodes];
  for (size_t c = 0; c < kCodes; ++c)
    normBetas[c] = vsfNormBeta(m, optimalSteps[c]);
  for (const VsfCriterion g : groups) {
    if (!valuesKept(o, m, g))
      continue;
    const size_t c = vsfCriterionSlot(g);
    const char* stem = vsfCriterion(g).plotStem;
    char name[40];
    std::snprintf(name, sizeof name, "%sStep", stem);
    out.intColumn(name, &shown[c]);
    std::snprintf(name, sizeof name, "%sStepLabel", stem);
    const int32_t ls = slot[c] < ctx->results.stepLabelCount ? slot[c] : 0;
    VsfLabel& label = ctx->results.stepLabels[ls];
    out.charColumn(name, const_cast<char*>(label.text != nullptr ? label.text : " "),
                   label.length > 0 ? label.length : 1);
    if (normB) {
      std::snprintf(name, sizeof name, "%sNormBeta", stem);
      out.numberColumn(name, &normBetas[c]);
    }
    vals[c] = optimalSteps[c] >= 0 ? vsfStepCriterion(m, g, optimalSteps[c]) : hostMissing();
    std::snprintf(name, sizeof name, "%sVal", stem);
    out.column({rvqColumnType(RvqColumnType::Double), vsfaName(name),
                rvqInt(RvqAttrId::FormatCode, 0), vsfaBound(&vals[c])});
  }
  out.endColumns();
  out.bind(
      "Stat.VARSIFTER.Phantom.BestStep",
      {rvqFlag(RvqAttrId::GraphsOnly, ctx->stmt.proc.showInternal ? 0 : 1), vsfaDataRef(dataRef)});
  out.emit();
  out.endRows();
  out.publish();
  ctx->printStart = savedPrintStart;
  ctx->graphTime += zdattim() - graphStart;
}

} // namespace

VsfStatus vsfpOptStep(VsfContext* ctx, VsfModel* m, int32_t* optimalSteps, int32_t* chosenStep,
                      RvqText** dataRef) {
  int32_t* shown = ctx->results.optimalStep;
  for (size_t c = 0; c < kCodes; ++c)
    optimalSteps[c] = shown[c] = -1;
  const int32_t steps = m->history.stepCount;
  if (m->pool == nullptr)
    return VsfStatus::NoMemory;
  if (steps <= 0) {
    // A fit without a recorded step (NOINT, nothing forced in, nothing entered) is legal:
    // no criterion has an optimum and the starting model is the chosen one.
    for (size_t c = 0; c < kCodes; ++c)
      shown[c] = 0;
    *chosenStep = 0;
    return VsfStatus::Ok;
  }
  double best[kCodes];
  findBest(m, steps, best, optimalSteps);
  if (breakTies(ctx, m, steps, best, optimalSteps) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  int32_t slot[kCodes];
  numberSteps(ctx, m, steps, optimalSteps, shown, slot, chosenStep);

  if (!vsfGraphicsOn(ctx) || ctx->results.stepLabels == nullptr || ctx->results.stepLabelCount <= 0)
    return VsfStatus::Ok;
  bestStepTable(ctx, m, optimalSteps, shown, slot, dataRef);
  keepChosenStep(ctx, m, steps, *chosenStep);
  return VsfStatus::Ok;
}
