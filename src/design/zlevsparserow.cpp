// The design row in sparse form: the values of the current observation's row that zlevrgx
// writes, with their columns, at a cost that follows the row's non-zero values rather than the
// design's column count. An effect whose block is one value a row (a numeric effect, a GLM
// indicator, a nested cell, REFERENCE-coded crossed levels) gives that value directly; any
// other effect's block is built as zlevrgx builds it and scanned. Declared in design/levreg.h.
#include "design/levconstructed.h"
#include "design/levrow.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// An effect of numeric variables alone and one column: zlevrgx writes its cell's product.
[[nodiscard]] bool numericOnly(const LevEffect& ef) {
  return ef.allClassCount == 0 && ef.crossedCount == 0 && ef.nestedCount == 0 &&
         ef.constructedCount == 0 && ef.columnCount == 1;
}

// The reference level of a variable when it lies among its n + 1 levels, else -1.
[[nodiscard]] int32_t referenceLevel(const LevVariable& v, int32_t n) {
  const int32_t r = v.referenceSelector;
  return r >= 0 && r <= n ? r : -1;
}

// The column of level i's coding row of v (n columns) when that row holds one value (the
// scale, times 1): 0 .. n - 1; kNoValue when the row is all zero; kManyValues when it holds
// more, or the coding is not one of these.
constexpr int32_t kNoValue = -1;
constexpr int32_t kManyValues = -2;
[[nodiscard]] int32_t singleCodingColumn(const LevVariable& v, int32_t i, int32_t n) {
  if (v.coding != CC_REFERENCE && v.coding != CC_EFFECT)
    return kManyValues;
  if (i < 0 || i > n)
    return kNoValue;
  const int32_t r = referenceLevel(v, n);
  if (r < 0)
    return kManyValues;
  if (i != r)
    return i < r ? i : i - 1;
  return v.coding == CC_REFERENCE ? kNoValue : kManyValues; // EFFECT: -1 in every column
}

// Whether a non-GLM effect's CLASS part is one value a row: nested variables alone, or crossed
// ones coded REFERENCE (whatever the levels) or, with `offReference`, also EFFECT (the rows off
// the reference level, which alone gives -1 in every column).
[[nodiscard]] bool singleClassColumn(const LevDesign* d, const LevEffect& ef, bool offReference) {
  for (int32_t k = 0; k < ef.crossedCount; ++k) {
    const LevVariable& v = d->classes[ef.crossed[k]];
    const bool coded = v.coding == CC_REFERENCE || (offReference && v.coding == CC_EFFECT);
    if (!coded || referenceLevel(v, v.levelCount - 1) < 0)
      return false;
  }
  return true;
}

// Effect e's value under the per-variable codings without constructed effects, as zlevpar
// writes it: its column in the effect into *column (-1 when the block is all zero); false when
// the block holds more than one value.
[[nodiscard]] bool codedColumn(const LevRegContext* ctx, const LevEffect& ef, int64_t* column) {
  const LevDesign* d = ctx->design;
  *column = -1;
  int64_t o = 0, stride = 1;
  for (int32_t k = ef.nestedCount - 1; k >= 0; --k) {
    const int32_t var = ef.nested[k];
    const int32_t level = ctx->levelIndex[var];
    if (level < 0)
      return true;
    o += level * stride;
    stride *= d->classes[var].levelCount;
  }
  if (ef.crossedCount == 0) {
    *column = o;
    return true;
  }
  int64_t m = 1;
  for (int32_t k = 0; k < ef.crossedCount; ++k)
    m *= d->classes[ef.crossed[k]].levelCount - 1;
  if (m <= 0)
    return true;
  // The crossed expansion multiplies coding rows: one value each gives one value, and a zero
  // row anywhere gives positive zeros throughout, unless another row has many values (a
  // positive zero times a negative coding value is a negative zero).
  int64_t index = 0;
  bool zero = false;
  for (int32_t k = 0; k < ef.crossedCount; ++k) {
    const LevVariable& v = d->classes[ef.crossed[k]];
    const int32_t w = v.levelCount - 1;
    const int32_t c = singleCodingColumn(v, ctx->levelIndex[ef.crossed[k]], w);
    if (c == kManyValues)
      return false;
    zero = zero || c == kNoValue;
    index = index * w + c;
  }
  if (!zero)
    *column = o * m + index;
  return true;
}

// Effect e's values into values/columns (from `at`), column after column; the new count.
[[nodiscard]] int32_t effectValues(LevRegContext* ctx, int32_t e, double* scratch, double* values,
                                   int32_t* columns, int32_t at) {
  LevDesign* d = ctx->design;
  const LevEffect& ef = d->effects[e];
  const EffectCell& cell = d->cells[e];
  auto put = [&](int64_t column, double value) {
    values[at] = value;
    columns[at++] = ef.firstColumn + static_cast<int32_t>(column);
  };
  if (numericOnly(ef)) {
    put(0, cell.value);
    return at;
  }
  if (ef.constructedCount == 0) {
    if (!has(d->designFlags, LevDesignFlag::NonGlm)) {
      if (cell.column >= 0 && cell.column < ef.columnCount)
        put(cell.column, cell.value);
      return at;
    }
    int64_t column = -1;
    if (codedColumn(ctx, ef, &column)) {
      if (column >= 0)
        put(column, cell.value);
      return at;
    }
  }
  // The block built whole and scanned: every value but a positive zero.
  double* block = scratch + ef.firstColumn;
  std::memset(block, 0, sizeof(double) * static_cast<size_t>(ef.columnCount));
  levEffectBlock(ctx, e, block);
  for (int32_t c = 0; c < ef.columnCount; ++c)
    if (block[c] != 0.0 || std::signbit(block[c]))
      put(c, block[c]);
  return at;
}

} // namespace

int32_t zlevrgxSparse(LevRegContext* ctx, double* scratch, double* values, int32_t* columns) {
  LevDesign* d = ctx->design;
  zlevResetEftVarCols(d);
  for (int32_t k = 0; k < d->constructedCount; ++k)
    zlevGetEftVarCols(ctx, &d->constructed[k]);
  int32_t count = 0;
  for (int32_t e = 0; e < d->effectCount; ++e)
    count = effectValues(ctx, e, scratch, values, columns, count);
  return count;
}

namespace {

// The values zlevrgxSparse gives a row at most; with `offReference`, at most for a row off
// every EFFECT-coded variable's reference level.
[[nodiscard]] int32_t sparseRowValues(const LevRegContext* ctx, bool offReference) {
  const LevDesign* d = ctx->design;
  const bool glm = !has(d->designFlags, LevDesignFlag::NonGlm);
  int64_t bound = 0;
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    const bool one = numericOnly(ef) ||
                     (ef.constructedCount == 0 && (glm || singleClassColumn(d, ef, offReference)));
    bound += one ? std::min(ef.columnCount, 1) : ef.columnCount;
  }
  return static_cast<int32_t>(std::min<int64_t>(bound, d->columnCount));
}

} // namespace

int32_t zlevSparseRowBound(const LevRegContext* ctx) { return sparseRowValues(ctx, false); }

int32_t zlevSparseRowTypical(const LevRegContext* ctx) { return sparseRowValues(ctx, true); }
