// The "SelectionSummary" table: one row per entry of the step history with the effect
// entered or removed, the model's size and its fit criteria, and a marker on the step that
// each criterion judges best. It binds after its rows; its data feeds the criterion plots.
// Declared in output/vsfprinters.h.
#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/notbuilt.h"
#include "support/poolalloc.h"
#include "support/vsfcriterion.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cfloat>
#include <cstring>

namespace {

double showInfinity(double v) {
  if (isHostMissing(v))
    return v;
  if (v == DBL_MAX)
    return vsfPlusInfinity();
  if (v == -DBL_MAX)
    return vsfMinusInfinity();
  return v;
}

// The path position of history entry i by L1CHOICE=: the ratio of the path value to the
// path's reference value, the L1 norm of the path coefficients, or the path value itself
// (the ratio times the reference value). Missing when the fit records no path.
double stepL1Value(const VsfModel* m, VsfL1Choice choice, int32_t i) {
  if (choice == VsfL1Choice::Norm)
    return m->history.stepL1Norm != nullptr ? m->history.stepL1Norm[i] : hostMissing();
  if (m->history.stepPathValue == nullptr)
    return hostMissing();
  const double ratio = m->history.stepPathValue[i];
  return choice == VsfL1Choice::Value ? ratio * m->path.lambdaMax : ratio;
}

} // namespace

namespace {

// The SelectionSummary table of one fit: what it shows (set by the constructor), the row
// values its columns are bound to, and the stages that define the columns and emit the rows.
struct SummaryTable {
  VsfContext* ctx;
  VsfModel* m;
  QkPool* pool;
  const int32_t* optimal;
  const VsfModelOptions& o;
  const VsfMethodTraits& method; // a known method: vsfpSummary checks the code
  const bool backward;
  const bool multi;
  const int32_t steps;
  int32_t W = 1; // width of the entered and removed effect texts
  bool graphics, hasRemoved, hasValidation, hasTest, press, cv, cvex, normB = false;
  // The path position of each step, as L1CHOICE= tells it (one column at most).
  const char* l1Column = nullptr;
  bool showParms = false;

  char* entered = nullptr;
  char* removed = nullptr;
  char* labelBuffer = nullptr;
  int32_t step = 0, nEffects = 0, nParms = 0;
  int32_t optAdj = 0, optAic = 0, optAicc = 0, optBic = 0, optCp = 0, optSbc = 0, optPress = 0,
          optVal = 0, optCv = 0, optCvex = 0;
  double rsq = 0, adj = 0, aic = 0, aicc = 0, bic = 0, cp = 0, sbc = 0, pr = 0, fval = 0, probf = 0,
         ase = 0, vase = 0, tase = 0, cvp = 0, cvexp = 0, normBeta = 0, stepL1 = 0;
  char control = ' ';
  VsfOut* out = nullptr; // set once the name buffers are taken

  SummaryTable(VsfContext* c, VsfModel* model, QkPool* p, const int32_t* opt)
      : ctx(c), m(model), pool(p), optimal(opt), o(c->options), method(*vsfMethodTraits(o.method)),
        backward(method.startsFull), multi(vsfGroupMethod(c->options.method)),
        steps(model->history.stepCount) {
    graphics = vsfGraphicsOn(ctx) && ctx->results.stepLabels != nullptr;
    hasRemoved = method.removes;
    hasValidation = m->totals.wValidate > 0 || ctx->stmt.partition.validationAsked;
    hasTest = m->totals.wTest > 0 || ctx->stmt.partition.testAsked;
    press = o.pressNeeded && m->history.stepPress != nullptr;
    cv = o.cvOn && m->history.stepCvPress != nullptr;
    cvex = o.cvExternal && m->history.stepHeldOutError != nullptr;
    if (l1Shown(o)) {
      if (o.l1Choice == VsfL1Choice::Ratio)
        l1Column = "StepL1Ratio";
      else if (o.l1Choice == VsfL1Choice::Norm)
        l1Column = "StepL1Norm";
      else if (o.l1Choice == VsfL1Choice::Value)
        l1Column = "StepL1Value";
    }
    // The parameter count tells something the effect count does not when some effect has
    // other than one parameter (an aliased column leaves both counts as they are).
    for (int32_t e = 0; m->effectColumns != nullptr && e < m->effectCount && !showParms; ++e)
      showParms = m->effectColumns[e] != 1;
  }

  // The entered and removed effect texts: one name wide, or as many names as the longest
  // step of a group method changes.
  [[nodiscard]] VsfStatus takeNameBuffers() {
    const int32_t nameWidth = vsfLongestEffectName(ctx);
    W = nameWidth;
    if (multi) {
      int32_t most = 1;
      for (int32_t i = 0; i < steps; ++i)
        most = std::max(most, m->history.stepEffect[i]);
      W = most * (nameWidth + 1);
    }
    W = std::max(W, 1);
    entered = static_cast<char*>(poolTake(pool, W));
    removed = static_cast<char*>(poolTake(pool, W));
    return entered == nullptr || removed == nullptr ? VsfStatus::NoMemory : VsfStatus::Ok;
  }

  void shownInt(const char* name, int32_t* v, const char* dyn, int32_t show) {
    out->column({rvqColumnType(RvqColumnType::Int), vsfaName(name),
                 rvqInt(RvqAttrId::FormatCode, 0), vsfaDyn(dyn), rvqInt(RvqAttrId::Value, show),
                 vsfaBound(v)});
  }
  void shownNum(const char* name, double* v, const char* dyn, int32_t show) {
    out->column({rvqColumnType(RvqColumnType::Double), vsfaName(name), vsfaDyn(dyn),
                 rvqInt(RvqAttrId::Value, show), vsfaBound(v)});
  }

  // Creates the table and its columns, each bound to its row value.
  [[nodiscard]] VsfStatus defineColumns() {
    if (!out->create("SelectionSummary", msgText(method.summaryTitle.get()),
                     {rvqInt(RvqAttrId::Variant, 1)}))
      return VsfStatus::Ok; // no table: the caller sees out->table null and shows nothing
    out->intColumn("Step", &step);
    normB = graphics && normBetaKept(o);
    if (normB)
      out->numberColumn("NormBeta", &normBeta);
    if (graphics) {
      // A path without labels still gets its column, one blank wide.
      ctx->results.stepLabelWidth = std::max(ctx->results.stepLabelWidth, 1);
      labelBuffer = static_cast<char*>(poolTake(pool, ctx->results.stepLabelWidth));
      if (labelBuffer == nullptr)
        return VsfStatus::NoMemory;
      out->charColumn("StepLabel", labelBuffer, ctx->results.stepLabelWidth);
    }
    if (!backward)
      out->charColumn("EffectEntered", entered, W);
    if (hasRemoved)
      out->charColumn("EffectRemoved", removed, W);
    out->intColumn("nEffectsIn", &nEffects);
    shownInt("nParmsIn", &nParms, "showNParmsIn", showParms ? 1 : 0);
    shownNum("RSquare", &rsq, "showRSquare", vsfStatShown(ctx, 9));
    shownNum("AdjRSq", &adj, "showAdjRSq", vsfStatShown(ctx, 10));
    shownInt("OptAdjRSq", &optAdj, "showAdjRSq", vsfStatShown(ctx, 10));
    shownNum("AIC", &aic, "showAIC", vsfStatShown(ctx, 3));
    shownInt("OptAIC", &optAic, "showAIC", vsfStatShown(ctx, 3));
    shownNum("AICC", &aicc, "showAICC", vsfStatShown(ctx, 4));
    shownInt("OptAICC", &optAicc, "showAICC", vsfStatShown(ctx, 4));
    if (o.fullModelFirst) {
      shownNum("BIC", &bic, "showBIC", vsfStatShown(ctx, 6));
      shownInt("OptBIC", &optBic, "showBIC", vsfStatShown(ctx, 6));
      shownNum("CP", &cp, "showCP", vsfStatShown(ctx, 7));
      shownInt("OptCP", &optCp, "showCP", vsfStatShown(ctx, 7));
    }
    shownNum("SBC", &sbc, "showSBC", vsfStatShown(ctx, 5));
    shownInt("OptSBC", &optSbc, "showSBC", vsfStatShown(ctx, 5));
    if (press) {
      shownNum("PRESS", &pr, "showPRESS", vsfStatShown(ctx, 8));
      shownInt("OptPRESS", &optPress, "showPRESS", vsfStatShown(ctx, 8));
    }
    shownNum("FValue", &fval, "showFValue", vsfStatShown(ctx, 2));
    shownNum("ProbF", &probf, "showProbF", vsfStatShown(ctx, 1));
    shownNum("ASE", &ase, "showASE", vsfStatShown(ctx, 11));
    if (hasValidation) {
      shownNum("ValidationASE", &vase, "showASE", vsfStatShown(ctx, 11));
      shownInt("OptValidationASE", &optVal, "showASE", vsfStatShown(ctx, 11));
    }
    if (hasTest)
      shownNum("TestASE", &tase, "showASE", vsfStatShown(ctx, 11));
    if (cv) {
      out->numberColumn("CVPRESS", &cvp);
      out->intColumn("OptCVPRESS", &optCv);
    }
    if (cvex) {
      out->numberColumn("CVEXPRESS", &cvexp);
      out->intColumn("OptCVEXPRESS", &optCvex);
    }
    if (l1Column != nullptr)
      out->numberColumn(l1Column, &stepL1);
    out->column({rvqColumnType(RvqColumnType::Char1), vsfaName("Control"), vsfaBound(&control)});
    out->endColumns();
    return VsfStatus::Ok;
  }

  // The fit statistics of history entry i and whether each criterion judges it best.
  void fill(int32_t i) {
    const double n = m->totals.nObs;
    const double sse = m->history.stepSSE[i];
    const int32_t p = m->history.stepRank[i];
    const double prevSse = i == 0 ? m->totalSS : m->history.stepSSE[i - 1];
    const double w = vsfTrainingWeight(m);
    ase = w != 0 ? sse / w : hostMissing();
    // The criteria as the step's record gives them, which Stop Details compares with too.
    const auto record = [&](VsfCriterion c) { return vsfStepCriterion(m, c, i); };
    rsq = record(VsfCriterion::RSquare);
    adj = record(VsfCriterion::AdjRsq);
    aic = showInfinity(record(VsfCriterion::Aic));
    aicc = showInfinity(record(VsfCriterion::Aicc));
    sbc = showInfinity(record(VsfCriterion::Sbc));
    if (o.fullModelFirst) {
      cp = record(VsfCriterion::Cp);
      bic = record(VsfCriterion::Bic);
    }
    double F = hostMissing();
    probf = vsfPval(m->history.stepRank[i - 1], p, m->history.stepEffects[i - 1],
                    m->history.stepEffects[i], &F, prevSse, sse, n, m->fuzz, vsfStepSSEFall(m, i));
    fval = showInfinity(F);
    pr = press ? record(VsfCriterion::Press) : hostMissing();
    vase = hasValidation ? record(VsfCriterion::Validate) : hostMissing();
    tase = hasTest && m->history.stepTestAse != nullptr ? m->history.stepTestAse[i] : hostMissing();
    cvp = cv ? record(VsfCriterion::Cv) : hostMissing();
    cvexp = cvex ? record(VsfCriterion::Cvex) : hostMissing();
    normBeta = normB ? vsfNormBeta(m, i) : hostMissing();
    if (l1Column != nullptr)
      stepL1 = stepL1Value(m, o.l1Choice, i);
    nParms = p;
    optAdj = optimal[vsfCriterionSlot(VsfCriterion::AdjRsq)] == i,
    optAic = optimal[vsfCriterionSlot(VsfCriterion::Aic)] == i;
    optAicc = optimal[vsfCriterionSlot(VsfCriterion::Aicc)] == i,
    optSbc = optimal[vsfCriterionSlot(VsfCriterion::Sbc)] == i;
    optBic = optimal[vsfCriterionSlot(VsfCriterion::Bic)] == i,
    optCp = optimal[vsfCriterionSlot(VsfCriterion::Cp)] == i;
    optPress = press && optimal[vsfCriterionSlot(VsfCriterion::Press)] == i,
    optVal = optimal[vsfCriterionSlot(VsfCriterion::Validate)] == i;
    optCv = cv && optimal[vsfCriterionSlot(VsfCriterion::Cv)] == i,
    optCvex = cvex && optimal[vsfCriterionSlot(VsfCriterion::Cvex)] == i;
  }

  // The effects entered and removed at history entry i; a group method's changes are read
  // from the change list at *cursor onwards.
  void names(int32_t i, int32_t* cursor) {
    std::memset(entered, ' ', static_cast<size_t>(W));
    std::memset(removed, ' ', static_cast<size_t>(W));
    if (multi && !backward && i < m->includeCount) {
      // The starting entries (the intercept and the forced effects) lie before the cursor's
      // start in the change list: each names its own effect.
      int32_t len = 0;
      const char* name = vsfEffectName(ctx, (o.noint ? 1 : 0) + i, &len);
      vsfFill(entered, W, name, len);
      return;
    }
    if (multi) {
      int32_t pe = 0, pr2 = 0;
      for (int32_t c = 0; c < m->history.stepEffect[i] && *cursor < m->history.changeListLength;
           ++c, ++*cursor) {
        int32_t code = m->history.changeList[*cursor], len = 0;
        const char* name = vsfEffectName(ctx, code < 0 ? -code : code, &len);
        char* buf = code < 0 ? removed : entered;
        int32_t& at = code < 0 ? pr2 : pe;
        int32_t copy = std::min(len, W - at);
        if (copy > 0)
          std::memcpy(buf + at, name, static_cast<size_t>(copy));
        at += len + 1;
      }
      return;
    }
    const int32_t e = m->history.stepEffect[i];
    if (e < 0)
      return;
    int32_t len = 0;
    const char* name = vsfEffectName(ctx, e, &len);
    const bool fell = i > 0 && m->history.stepEffects[i] < m->history.stepEffects[i - 1];
    vsfFill(fell ? removed : entered, W, name, len);
  }

  // The path's step label of the given slot (blank past the labels).
  void label(int32_t slot) {
    if (labelBuffer == nullptr)
      return;
    const VsfLabel* l =
        slot < ctx->results.stepLabelCount ? &ctx->results.stepLabels[slot] : nullptr;
    vsfFill(labelBuffer, ctx->results.stepLabelWidth, l != nullptr ? l->text : "",
            l != nullptr ? l->length : 0);
  }

  // The rows of step 0: the INCLUDE= effects one by one, or for BACKWARD the full model and
  // the aliased effects it drops. Returns the first history entry the step rows show.
  [[nodiscard]] int32_t emitStartingRows(int32_t* cursor, int32_t* slot, bool* startingRows) {
    if (!backward) {
      const int32_t s = std::min(m->includeCount, steps);
      for (int32_t i = 0; i < s; ++i) {
        fill(i);
        names(i, cursor);
        step = 0, nEffects = i + 1, control = ' ';
        label(0);
        out->emit();
      }
      *startingRows = s > 0;
      *slot = s > 0 ? 1 : 0;
      return s;
    }
    fill(0);
    step = 0;
    nEffects = m->effectCount - (o.noint ? 1 : 0);
    std::memset(removed, ' ', static_cast<size_t>(W));
    fval = vsfUnavailable(), probf = vsfUnavailable();
    if (m->totals.wValidate == 0 && ctx->stmt.partition.validationAsked)
      vase = hostMissing();
    if (m->totals.wTest == 0 && ctx->stmt.partition.testAsked)
      tase = hostMissing();
    control = ' ';
    label(0);
    out->emit();
    for (int32_t j = 0; j < m->aliasDrops.aliasDropCount; ++j) {
      int32_t len = 0;
      const char* name = vsfEffectName(ctx, m->aliasDrops.aliasDropList[j], &len);
      vsfFill(removed, W, name, len);
      --nEffects;
      optAdj = optAic = optAicc = optSbc = optBic = optCp = optPress = optVal = optCv = optCvex = 0;
      out->emit();
    }
    *startingRows = true;
    *slot = 1;
    return 1;
  }

  // One row per step from history entry `first` on; the first of them is marked when
  // starting rows precede it.
  void emitStepRows(int32_t first, int32_t* cursor, int32_t slot, bool startingRows) {
    int32_t k = 1;
    for (int32_t i = first; i < steps; ++i, ++k, ++slot) {
      fill(i);
      names(i, cursor);
      step = backward ? i : k;
      if (multi || i == 0)
        nEffects = m->history.stepEffects[i];
      else // a path step that only moves (past a refused entry) keeps the count
        nEffects += (m->history.stepEffects[i] > m->history.stepEffects[i - 1]) -
                    (m->history.stepEffects[i] < m->history.stepEffects[i - 1]);
      control = (startingRows && i == first) ? '-' : ' ';
      label(slot);
      out->emit();
    }
  }
};

} // namespace

VsfStatus vsfpSummary(VsfContext* ctx, VsfModel* m, QkPool* pool, const int32_t* optimal,
                      RvqText** dataRef) {
  if (vsfMethodTraits(ctx->options.method) == nullptr)
    return statusFromCode(vsfNotBuiltInternal("vsfpSummary: a method code without its traits row"));
  SummaryTable t(ctx, m, pool, optimal);
  if (t.takeNameBuffers() != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  VsfOut out(ctx);
  t.out = &out;
  if (t.defineColumns() != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  if (out.table == nullptr)
    return VsfStatus::Ok;
  int32_t cursor = ctx->options.noint ? 0 : 1;
  int32_t slot = 0;
  bool startingRows = false;
  const int32_t first = t.emitStartingRows(&cursor, &slot, &startingRows);
  t.emitStepRows(first, &cursor, slot, startingRows);
  out.bind("Stat.VARSIFTER.SelectionSummary",
           {vsfaDyn("titleText"),
            rvqTextHandle(RvqAttrId::Value, msgText(t.method.summaryTitle.get())),
            vsfaDyn("printFootnote"), rvqInt(RvqAttrId::Value, 0), vsfaDataRef(dataRef)});
  out.endRows();
  out.publish(t.backward && m->aliasDrops.aliasDropCount > 0
                  ? msgText(VsfMsg::AliasedEffectsRemoved)
                  : nullptr);
  out.finish();
  return VsfStatus::Ok;
}
