// The CLASS parameterisations: the coding row of one level of a CLASS variable (EFFECT,
// REFERENCE, POLYNOMIAL, ORDINAL, BATHTUB and the orthogonal forms) and the CLASS part of one
// model effect's block of the design row under the GLM design or the per-variable codings.
// The levels, reference indices and orthogonal matrices come from levelisation.
// Declared in design/levrow.h.
#include "design/levlevel.h"
#include "design/levrow.h"

#include <cmath>
#include <cstring>
#include <vector>

void zlevflr(double s, const LevVariable* v, double* out, int32_t i, int32_t n) {
  if (n <= 0)
    return;
  const ClassCoding code = v->coding;
  if (classCodingOrthogonal(code)) {
    // Read the matrix row before clearing: out may be that row itself.
    std::vector<double> row(static_cast<size_t>(n), 0.0);
    if (v->codingMatrix != nullptr && i >= 0 && i < v->levelCount)
      for (int32_t k = 0; k < n; ++k)
        row[static_cast<size_t>(k)] = s * v->codingMatrix[static_cast<size_t>(i) * n + k];
    std::memcpy(out, row.data(), sizeof(double) * static_cast<size_t>(n));
    return;
  }
  std::memset(out, 0, sizeof(double) * static_cast<size_t>(n));
  // A level index outside the variable's levels (a value that is not a level) codes as 0.
  if (i < 0 || i > n)
    return;
  const int32_t r = v->referenceSelector;
  switch (code) {
  case CC_EFFECT:
  case CC_REFERENCE:
    if (i < r)
      out[i] = s;
    else if (i > r)
      out[i - 1] = s;
    else if (code == CC_EFFECT)
      for (int32_t k = 0; k < n; ++k)
        out[k] = -s;
    break;
  case CC_POLYNOMIAL: {
    const auto* internal = static_cast<const LevInternalValue*>(v->levelValues);
    const bool numeric = v->var != nullptr && v->var->type == 1;
    double x = numeric
                   ? (internal != nullptr && i < v->levelCount ? internal[i].value : hostMissing())
                   : i + 1.0;
    // Zero has no powers; without level values (not levelised) the row codes as 0. No
    // level is missing: the CLASS reader turns MISSING off under POLYNOMIAL.
    if (isHostMissing(x) || x == 0)
      break;
    for (int32_t k = 0; k < n; ++k)
      out[k] = s * std::pow(x, k + 1);
    break;
  }
  case CC_ORDINAL:
    for (int32_t k = 0; k < i && k < n; ++k)
      out[k] = s;
    break;
  case CC_BATHTUB: {
    const double L = n + 1.0;
    const double c = std::sqrt(1.5 * L / (L * L - 1));
    for (int32_t k = 0; k < n; ++k)
      out[k] = k < i ? s * c : -s * c;
    break;
  }
  default:
    break;
  }
}

int32_t zlevpar(LevRegContext* ctx, int32_t e, double* block) {
  LevDesign* d = ctx->design;
  const LevEffect& ef = d->effects[e];
  const EffectCell& cell = d->cells[e];
  const double s = cell.value;
  // GLM: one indicator column per level combination met in the data.
  if (!has(d->designFlags, LevDesignFlag::NonGlm)) {
    if (cell.column < 0 || cell.column >= ef.columnCount)
      return 0;
    block[cell.column] = s;
    return 1;
  }
  // The nested cell: mixed radix over the full level counts, the last fastest.
  int64_t o = 0, stride = 1;
  for (int32_t k = ef.nestedCount - 1; k >= 0; --k) {
    const int32_t var = ef.nested[k];
    const int32_t level = ctx->levelIndex[var];
    if (level < 0)
      return 0; // not a level: the row protocol has marked the row
    o += level * stride;
    stride *= d->classes[var].levelCount;
  }
  // Nested variables only.
  if (ef.crossedCount == 0) {
    block[o] = s;
    return 1;
  }
  // The crossed block.
  int64_t m = 1;
  for (int32_t k = 0; k < ef.crossedCount; ++k)
    m *= d->classes[ef.crossed[k]].levelCount - 1;
  if (m <= 0)
    return 0;
  double* cb = block + o * m;
  // The first crossed variable carries the scale.
  const LevVariable& v0 = d->classes[ef.crossed[0]];
  int32_t B = v0.levelCount - 1;
  zlevflr(s, &v0, cb, ctx->levelIndex[ef.crossed[0]], B);
  // Each further crossed variable expands the block in place.
  for (int32_t k = 1; k < ef.crossedCount; ++k) {
    const LevVariable& v = d->classes[ef.crossed[k]];
    const int32_t wk = v.levelCount - 1;
    if (v.levelCount == 1) {
      B = 0;
      continue;
    }
    if (B == 0)
      continue;
    double* scratch = ctx->scratch;
    std::memset(scratch, 0, sizeof(double) * static_cast<size_t>(wk));
    zlevflr(1.0, &v, scratch, ctx->levelIndex[ef.crossed[k]], wk);
    for (int32_t j = B - 1; j >= 0; --j) {
      const double x = cb[j];
      for (int32_t t = wk - 1; t >= 0; --t)
        cb[static_cast<size_t>(j) * wk + t] = scratch[t] == 0.0 ? 0.0 : x * scratch[t];
    }
    B *= wk;
  }
  return B;
}
