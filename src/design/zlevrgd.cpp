// The design row protocol: the status of the current observation (zlevrgd), the check of an
// effect's constructed-effect inputs, the row builder (zlevrgx) with its in-place direct
// products, the GLM level-table lookup, the in-model marks, cross products of one row and
// the fit-block value callbacks. The CLASS codings are zlevpar.cpp's.
// Declared in design/levrow.h and design/levreg.h.
#include "design/levrow.h"
#include "support/notfound.h"

#include "design/levconstructed.h"
#include "design/levlevel.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "support/hoststubs.h"
#include "support/messages.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

double missingValue() { return hostMissing(); }

// The inputs of one constructed effect are present (the row protocol's check by kind). A
// MULTIMEMBER effect whose members are all missing passes only under its NOEFFECT allowance,
// which marks the row (AllMissing) and the effect.
[[nodiscard]] bool constructedPresent(LevRegContext* ctx, LevDesign* d, const LevEftVar& ev,
                                      LevEffect& ef, LevRowStatusSet* status) {
  switch (ev.kind) {
  case EffectVarKind::MultiMember: {
    int32_t sum = 0;
    double weights = 0;
    for (int32_t k = 0; k < ev.classCount; ++k) {
      const int32_t level = ctx->levelIndex[ev.classes[k]];
      sum += level;
      if (level >= 0 && k < ev.numericCount) {
        const double w = ctx->numeric[ev.numeric[k]];
        if (isHostMissing(w))
          return false;
        weights += w;
      }
    }
    if (ev.classCount == 0 || sum == -ev.classCount) {
      if (!ev.noEffect)
        return false;
      *status |= LevRowStatus::AllMissing;
      ef.allMissing = 1;
      return true;
    }
    return !(ev.stdize && ev.numericCount > 0 && (isHostMissing(weights) || weights == 0));
  }
  case EffectVarKind::Collection:
    for (int32_t k = 0; k < ev.classCount; ++k)
      if (ctx->levelIndex[ev.classes[k]] == -1)
        return false;
    for (int32_t k = 0; k < ev.numericCount; ++k)
      if (isHostMissing(ctx->numeric[ev.numeric[k]]))
        return false;
    return true;
  case EffectVarKind::Spline:
  case EffectVarKind::Polynomial:
    for (int32_t k = 0; k < ev.numericCount; ++k)
      if (isHostMissing(ctx->numeric[ev.numeric[k]]))
        return false;
    return true;
  case EffectVarKind::Lag:
    return !d->constructedReady || (ev.lag != nullptr && ev.lag->lagged != -1);
  }
  return true;
}

[[nodiscard]] bool effectConstructedPresent(LevRegContext* ctx, LevDesign* d, LevEffect& ef,
                                            LevRowStatusSet* status) {
  ef.allMissing = 0;
  for (int32_t k = 0; k < ef.constructedCount; ++k)
    if (!constructedPresent(ctx, d, d->constructed[ef.constructed[k]], ef, status))
      return false;
  return true;
}

// The lagged level of every LAG effect for the current observation; a lag without one marks
// an explanatory value missing.
[[nodiscard]] LevRowStatusSet lagStatus(LevRegContext* ctx, LevDesign* d) {
  LevRowStatusSet status;
  for (int32_t k = 0; k < d->constructedCount; ++k) {
    LevEftVar& ev = d->constructed[k];
    if (ev.kind != EffectVarKind::Lag || ev.lag == nullptr)
      continue;
    ev.lag->lagged = -1;
    if (zlevGetEftLaggedLevel(ctx, ev.lag) == -1)
      status |= LevRowStatus::Explanatory;
  }
  return status;
}

[[nodiscard]] bool isResponseSlot(const LevRegContext* ctx, const int32_t* slot) {
  for (int32_t r = 0; r < ctx->responseCount; ++r)
    if (ctx->responseOnClass != nullptr && ctx->responseOnClass[r] == slot)
      return true;
  return false;
}

// An effect the plan covers: the intercept or one numeric variable, in one column.
[[nodiscard]] bool plainEffect(const LevEffect& ef) {
  return ef.allClassCount == 0 && ef.crossedCount == 0 && ef.nestedCount == 0 &&
         ef.constructedCount == 0 && ef.continuousCount <= 1 && ef.columnCount == 1;
}

// The status bits of the numeric variables of the current observation, from the plan.
[[nodiscard]] LevRowStatusSet plannedNumericStatus(const LevRowPlan& plan,
                                                   const LevRegContext* ctx) {
  for (int32_t k = 0; k < plan.heldCount; ++k)
    if (isHostMissing(ctx->numeric[plan.held[k]]))
      return LevRowStatus::Explanatory | LevRowStatus::Numeric;
  return {};
}

// The effect cells (value, GLM column) of the current observation and their status bits,
// from the plan: no effect has a CLASS variable, so the GLM column is the one combination
// and a missing cell is all the status they can add (the model's CLASS marks are unset).
[[nodiscard]] LevRowStatusSet plannedCells(const LevRowPlan& plan, const LevRegContext* ctx,
                                           LevDesign* d, bool glm) {
  LevRowStatusSet status;
  for (int32_t e = 0; e < plan.effectCount; ++e) {
    const int32_t j = plan.effectNumeric[e];
    double value = 1.0;
    if (j >= 0) {
      const double x = ctx->numeric[j];
      value = isHostMissing(x) ? missingValue() : value * x;
    }
    if (isHostMissing(value))
      status |= LevRowStatus::Computed;
    d->cells[e].value = value;
    if (glm)
      d->cells[e].column = 0;
  }
  return status;
}

} // namespace

const LevRowPlan* levRowPlan(const LevRegContext* ctx, QkPool* pool) {
  const LevDesign* d = ctx->design;
  if (d->constructedCount > 0 || d->classCount > 0)
    return nullptr;
  for (int32_t e = 0; e < d->effectCount; ++e)
    if (!plainEffect(d->effects[e]))
      return nullptr;
  auto* plan = levArray<LevRowPlan>(pool, 1);
  auto* held = levArray<int32_t>(pool, static_cast<size_t>(std::max(d->numericCount, 1)));
  auto* numeric = levArray<int32_t>(pool, static_cast<size_t>(std::max(d->effectCount, 1)));
  auto* column = levArray<int32_t>(pool, static_cast<size_t>(std::max(d->effectCount, 1)));
  if (plan == nullptr || held == nullptr || numeric == nullptr || column == nullptr)
    return nullptr;
  plan->effectCount = d->effectCount;
  plan->plainNumbers = true;
  for (int32_t j = 0; j < d->numericCount; ++j) {
    const HostVariable* var = d->numerics[j].var;
    if (var != nullptr)
      held[plan->heldCount++] = j;
    plan->plainNumbers = plan->plainNumbers && var != nullptr && var->type == 1;
  }
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    const int32_t j = ef.continuousCount == 1 ? ef.continuous[0] : -1;
    numeric[e] = j >= 0 && d->numerics[j].var != nullptr ? j : -1;
    column[e] = ef.firstColumn;
  }
  plan->held = held;
  plan->effectNumeric = numeric;
  plan->effectColumn = column;
  return plan;
}

InModelMask* SetInmodel(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  if (d->inModel != nullptr)
    return d->inModel;
  QkPool* pool = levGroupPool(ctx);
  auto* m = levArray<InModelMask>(pool, 1);
  if (m == nullptr)
    return nullptr;
  auto marks = [&](int32_t n) {
    char* p = levArray<char>(pool, static_cast<size_t>(n) + 1);
    std::memset(p, '0', static_cast<size_t>(n));
    return p;
  };
  m->effects = marks(d->effectCount);
  m->constructed = marks(d->constructedCount);
  m->numerics = marks(d->numericCount);
  m->classes = marks(d->classCount);
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    m->effects[e] = '1';
    for (int32_t k = 0; k < ef.continuousCount; ++k)
      m->numerics[ef.continuous[k]] = '1';
    for (int32_t k = 0; k < ef.crossedCount; ++k)
      m->classes[ef.crossed[k]] = '1';
    for (int32_t k = 0; k < ef.nestedCount; ++k)
      m->classes[ef.nested[k]] = '1';
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      m->constructed[ef.constructed[k]] = '1';
      for (int32_t j = 0; j < ev.classCount; ++j)
        m->classes[ev.classes[j]] = '1';
      if (ev.kind != EffectVarKind::MultiMember)
        for (int32_t j = 0; j < ev.numericCount; ++j)
          m->numerics[ev.numeric[j]] = '1';
      if (ev.kind == EffectVarKind::Lag && ev.lag != nullptr) {
        for (int32_t j = 0; j < ev.lag->withinCount; ++j)
          m->classes[ev.lag->within[j]] = '1';
        if (ev.lag->periodVariable != 0)
          m->classes[ev.lag->periodVariable] = '1';
      }
    }
  }
  for (int32_t r = 0; r < ctx->responseCount; ++r)
    for (int32_t i = 0; i < d->classCount; ++i)
      if (ctx->responses[r].var != nullptr && d->classes[i].var != nullptr &&
          ctx->responses[r].var->number == d->classes[i].var->number)
        m->classes[i] = '1';
  d->inModel = m;
  return m;
}

LevRowStatusSet zlevrgd(LevRegContext* ctx, double* response, double* weight, double* frequency) {
  LevDesign* d = ctx->design;
  // vir2g fails only for a null routine or slot, and both are ours.
  if (ctx->getVals == nullptr)
    (void)vir2g(reinterpret_cast<HostRoutine>(&GetVals), &ctx->getVals);
  double* y = response != nullptr ? response : ctx->fit.responses;
  void* dest[5] = {ctx->numeric, ctx->valueBuffers, y, weight, frequency};
  // Values that cannot be fetched would leave the previous observation's in the buffers.
  if (zlevGetVals(ctx, "zcywf", dest) == 0) {
    levObservationNotRead(d);
    return LevRowStatus::Explanatory | LevRowStatus::Response;
  }

  const bool nonGlm = has(d->designFlags, LevDesignFlag::NonGlm);
  const InModelMask* mask = nonGlm ? SetInmodel(ctx) : nullptr;
  LevRowStatusSet status;
  bool modelClassMissing = false;
  // CLASS levels.
  for (int32_t i = 0; i < d->classCount; ++i) {
    LevVariable& v = d->classes[i];
    // A variable that the data set does not hold (one the model does not need, when a SCORE
    // data set is read) has no level.
    if (v.var == nullptr) {
      ctx->levelIndex[i] = -1;
      continue;
    }
    int32_t level = zlevlwh(nullptr, &v, ctx->valueBuffers[i]);
    // A missing value is a level only under MISSING, which the CLASS reader turns off for
    // POLYNOMIAL and ORTHPOLY: no level of theirs is missing, so none lacks its powers.
    ctx->levelIndex[i] = level;
    if (level >= 0)
      continue;
    if (isResponseSlot(ctx, &ctx->levelIndex[i])) {
      status |= LevRowStatus::Response;
    } else {
      status |= LevRowStatus::Explanatory | LevRowStatus::NotLevel;
      if (nonGlm && mask != nullptr && mask->classes[i] == '1')
        modelClassMissing = true;
    }
  }
  if (d->constructedReady)
    status |= lagStatus(ctx, d);
  // A value that no effect needs does not make the row unusable.
  if (status.has(LevRowStatus::Explanatory) && d->constructedCount > 0) {
    bool all = true;
    for (int32_t e = 0; e < d->effectCount && all; ++e) {
      LevEffect& ef = d->effects[e];
      if (ef.constructedCount > 0 && !effectConstructedPresent(ctx, d, ef, &status)) {
        status |= LevRowStatus::Explanatory | LevRowStatus::Computed;
        all = false;
        break;
      }
      for (int32_t k = 0; k < ef.allClassCount; ++k)
        if (ctx->levelIndex[ef.allClass[k]] == -1) {
          all = false;
          break;
        }
    }
    if (all) {
      status.clear(LevRowStatus::Explanatory);
      modelClassMissing = false;
    }
  }
  // Numeric variables.
  const LevRowPlan* plan = ctx->rowPlan;
  if (plan != nullptr)
    status |= plannedNumericStatus(*plan, ctx);
  else
    for (int32_t j = 0; j < d->numericCount; ++j)
      if (d->numerics[j].var != nullptr && isHostMissing(ctx->numeric[j]))
        status |= LevRowStatus::Explanatory | LevRowStatus::Numeric;
  // Extra variables and responses.
  if (ctx->extraExplanatory != nullptr && isHostMissing(ctx->extraExplanatory->value))
    status |= LevRowStatus::Explanatory;
  if (ctx->extraResponse1 != nullptr && isHostMissing(ctx->extraResponse1->value))
    status |= LevRowStatus::Response;
  if (y != nullptr)
    for (int32_t r = 0; r < ctx->responseCount; ++r)
      if (isHostMissing(y[r]))
        status |= LevRowStatus::Response;
  if (ctx->extraResponse2 != nullptr && isHostMissing(ctx->extraResponse2->value))
    status |= LevRowStatus::Response;
  // Weight and frequency.
  if (weight != nullptr && ctx->weights != nullptr && (isHostMissing(*weight) || !(*weight > 0)))
    status |= LevRowStatus::Weight;
  if (frequency != nullptr && ctx->freq != nullptr &&
      (isHostMissing(*frequency) || !(*frequency > 0)))
    status |= LevRowStatus::Weight;
  // Effect cells.
  if (plan != nullptr)
    return status | plannedCells(*plan, ctx, d, !nonGlm);
  for (int32_t e = 0; e < d->effectCount; ++e) {
    LevEffect& ef = d->effects[e];
    if (ef.constructedCount > 0 && !status.has(LevRowStatus::Computed) &&
        !effectConstructedPresent(ctx, d, ef, &status))
      status |= LevRowStatus::Explanatory | LevRowStatus::Computed;
    double value = 1.0;
    for (int32_t k = 0; k < ef.continuousCount; ++k) {
      const int32_t j = ef.continuous[k];
      if (d->numerics[j].var == nullptr)
        continue;
      const double x = ctx->numeric[j];
      value = isHostMissing(value) || isHostMissing(x) ? missingValue() : value * x;
    }
    if (isHostMissing(value))
      status |= LevRowStatus::Computed;
    d->cells[e].value = value;
  }
  // GLM columns.
  if (!nonGlm)
    for (int32_t e = 0; e < d->effectCount; ++e) {
      const LevEffect& ef = d->effects[e];
      const int32_t column = zlevwel(&ef, ctx->levelIndex);
      d->cells[e].column = column;
      if (ef.allClassCount > 0 && column >= ef.combinationCount)
        status |= LevRowStatus::Explanatory | LevRowStatus::Computed;
    }
  // A missing level of a CLASS variable in the model leaves the row out under the codings.
  if (modelClassMissing)
    status |= LevRowStatus::Computed;
  return status;
}

int32_t zlevCheckEftEXMISS(LevRowStatusSet* status, LevRegContext* ctx, LevDesign* d, int32_t e) {
  if (status->has(LevRowStatus::Computed))
    return 0;
  LevEffect& ef = d->effects[e];
  ef.allMissing = 0;
  if (ef.constructedCount == 0)
    return 1;
  if (!effectConstructedPresent(ctx, d, ef, status)) {
    *status |= LevRowStatus::Explanatory | LevRowStatus::Computed;
    return 0;
  }
  return 1;
}

void zlevEffCrossMultiply(double* block, int32_t B, const double* values, int32_t m) {
  if (B == 0 || m == 0)
    return;
  for (int32_t j = m - 1; j >= 0; --j)
    for (int32_t k = B - 1; k >= 0; --k)
      block[static_cast<size_t>(j) * B + k] = block[k] * values[j];
}

void zlevCrossMultiply(double* block, int32_t B, const double* values, int32_t w) {
  if (B == 0 || w == 0)
    return;
  for (int32_t j = B - 1; j >= 0; --j) {
    const double x = block[j];
    for (int32_t t = w - 1; t >= 0; --t)
      block[static_cast<size_t>(j) * w + t] = values[t] * x;
  }
}

void zlevrgx(LevRegContext* ctx, const double* numeric, const int32_t* levels, double* row) {
  LevDesign* d = ctx->design;
  if (numeric != nullptr && numeric != ctx->numeric && d->numericCount > 0)
    std::memcpy(ctx->numeric, numeric, sizeof(double) * static_cast<size_t>(d->numericCount));
  if (levels != nullptr && levels != ctx->levelIndex && d->classCount > 0)
    std::memcpy(ctx->levelIndex, levels, sizeof(int32_t) * static_cast<size_t>(d->classCount));
  zlevResetEftVarCols(d);
  for (int32_t k = 0; k < d->constructedCount; ++k)
    zlevGetEftVarCols(ctx, &d->constructed[k]);
  if (d->columnCount > 0)
    std::memset(row, 0, sizeof(double) * static_cast<size_t>(d->columnCount));
  if (const LevRowPlan* plan = ctx->rowPlan) {
    for (int32_t e = 0; e < plan->effectCount; ++e)
      row[plan->effectColumn[e]] = d->cells[e].value;
    return;
  }
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    // An effect of numeric variables alone has one column: its cell's product, which is what
    // its block would hold.
    if (ef.allClassCount == 0 && ef.crossedCount == 0 && ef.nestedCount == 0 &&
        ef.constructedCount == 0 && ef.columnCount == 1)
      row[ef.firstColumn] = d->cells[e].value;
    else
      levEffectBlock(ctx, e, row + ef.firstColumn);
  }
}

int32_t eCompare(const LevEffect* ef, int32_t r, const int32_t* levels) {
  const int32_t c = ef->crossedCount, m = ef->nestedCount;
  const int32_t* row = ef->combinationTable + static_cast<size_t>(r) * (c + m);
  for (int32_t k = 0; k < m; ++k) {
    int32_t a = row[c + k], b = levels[ef->nested[k]];
    if (a != b)
      return a < b ? -1 : 1;
  }
  for (int32_t k = 0; k < c; ++k) {
    int32_t a = row[k], b = levels[ef->crossed[k]];
    if (a != b)
      return a < b ? -1 : 1;
  }
  return 0;
}

int32_t zlevwel(const LevEffect* ef, const int32_t* levels) {
  if (ef->crossedCount + ef->nestedCount == 0)
    return 0;
  if (ef->combinationTable == nullptr)
    return kVsfNotFound;
  const int32_t n = ef->combinationCount;
  if (n <= 0)
    return n;
  const int32_t h = n - 1;
  if (eCompare(ef, h, levels) == 0)
    return h;
  if (eCompare(ef, 0, levels) == 0)
    return 0;
  if (h <= 1)
    return n;
  int32_t lo = 0, hi = h;
  while (lo < hi - 1) {
    int32_t mid = (lo + hi) / 2;
    int32_t c = eCompare(ef, mid, levels);
    if (c == 0)
      return mid;
    if (c < 0)
      lo = mid;
    else
      hi = mid;
  }
  return n;
}

int32_t EqIntList(const int32_t* row, const int32_t* levels, int32_t n, const int32_t* list) {
  for (int32_t k = 0; k < n; ++k)
    if (row[k] != levels[list[k]])
      return 0;
  return 1;
}

int32_t zlevscp(double w, LevRegContext* ctx, double* sscp, int32_t nExtra, const double* extra) {
  LevDesign* d = ctx->design;
  const int32_t P = d->columnCount;
  if (!has(d->designFlags, LevDesignFlag::NonGlm)) {
    auto at = [&](int64_t i, int64_t j) -> double& {
      assert(i < P + nExtra && j < P + nExtra && "a cell of the triangle of order P + nExtra");
      return sscp[packed::sym(i, j)];
    };
    for (int32_t e = 0; e < d->effectCount; ++e) {
      const EffectCell& ce = d->cells[e];
      if (ce.column < 0 || ce.column >= d->effects[e].columnCount)
        continue;
      const int64_t ie = d->effects[e].firstColumn + ce.column;
      for (int32_t f = 0; f <= e; ++f) {
        const EffectCell& cf = d->cells[f];
        if (cf.column < 0 || cf.column >= d->effects[f].columnCount)
          continue;
        at(ie, d->effects[f].firstColumn + cf.column) += w * ce.value * cf.value;
      }
    }
    for (int32_t x = 0; x < nExtra; ++x) {
      const int64_t ix = P + x;
      for (int32_t f = 0; f < d->effectCount; ++f) {
        const EffectCell& cf = d->cells[f];
        if (cf.column < 0 || cf.column >= d->effects[f].columnCount)
          continue;
        at(ix, d->effects[f].firstColumn + cf.column) += w * extra[x] * cf.value;
      }
      for (int32_t z = 0; z <= x; ++z)
        at(ix, P + z) += w * extra[x] * extra[z];
    }
    return 1;
  }
  const int32_t n = P + nExtra;
  double* row = levArray<double>(levGroupPool(ctx), static_cast<size_t>(n));
  if (row == nullptr)
    return 0;
  zlevrgx(ctx, nullptr, nullptr, row);
  for (int32_t x = 0; x < nExtra; ++x)
    row[P + x] = extra[x];
  int32_t r = zscp(row, n, sscp, w);
  QkPool* pool = levGroupPool(ctx);
  pool->free(pool, row);
  return r;
}

int32_t FitGetY(LevRegContext* ctx, double* y) {
  return levRowUsable(zlevrgd(ctx, y, nullptr, nullptr)) ? 1 : 0;
}

int32_t FitGetW(LevRegContext* ctx, double* w) {
  return levRowUsable(zlevrgd(ctx, nullptr, w, nullptr)) ? 1 : 0;
}

int32_t Compare(const void* a, const void* b, int32_t length, int32_t offset) {
  const int32_t n = length / 4;
  const char* pa = static_cast<const char*>(a) + offset;
  const char* pb = static_cast<const char*>(b) + offset;
  for (int32_t k = 0; k < n; ++k) {
    int32_t x, y;
    std::memcpy(&x, pa + 4 * k, 4);
    std::memcpy(&y, pb + 4 * k, 4);
    if (x != y)
      return x < y ? -1 : 1;
  }
  return 0;
}
