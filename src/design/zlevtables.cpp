// Effect level tables: the non-singular level table of each effect under the full-rank
// codings (one row per coded CLASS column, from level counts, codings and reference levels
// alone) and the column table of each effect (constructed-effect columns, then the CLASS
// row). The GLM level-combination tables come from the design context's data pass.
// Declared in design/levtables.h.
#include "design/levtables.h"

#include <algorithm>
#include <vector>

int64_t zlevNonSingRowCount(const LevDesign* d, const LevEffect* ef) {
  int64_t rows = 1;
  for (int32_t i = 0; i < ef->crossedCount; ++i)
    rows *= d->classes[ef->crossed[i]].levelCount - 1;
  for (int32_t j = 0; j < ef->nestedCount; ++j)
    rows *= d->classes[ef->nested[j]].levelCount;
  return ef->crossedCount + ef->nestedCount > 0 ? std::max<int64_t>(rows, 0) : 0;
}

void zlevNonSingFill(const LevDesign* d, const LevEffect* ef, int32_t* table, int32_t* scratch,
                     int32_t scratchStride, bool ordinalSkipsReference) {
  const int32_t c = ef->crossedCount, m = ef->nestedCount, K = c + m;
  std::vector<int32_t> own;
  int32_t stride = scratchStride;
  if (scratch == nullptr || scratchStride < K) {
    stride = std::max(d->classCount, K);
    own.assign(static_cast<size_t>(3 * stride), 0);
    scratch = own.data();
  }
  int32_t* r = scratch;
  int32_t* s = scratch + stride;
  int32_t* digit = scratch + 2 * stride;
  int64_t R = 1, S = 1;
  for (int32_t i = 0; i < c; ++i) {
    r[i] = d->classes[ef->crossed[i]].levelCount - 1;
    R *= r[i];
  }
  for (int32_t j = 0; j < m; ++j) {
    s[j] = d->classes[ef->nested[j]].levelCount;
    S *= s[j];
  }
  auto skipsReference = [ordinalSkipsReference](ClassCoding coding) {
    return coding == CC_EFFECT || coding == CC_REFERENCE ||
           (ordinalSkipsReference && coding == CC_ORDINAL);
  };
  for (int64_t u = 0; u < S; ++u) {
    int64_t uu = u;
    for (int32_t j = m - 1; j >= 0; --j) {
      digit[j] = static_cast<int32_t>(uu % s[j]);
      uu /= s[j];
    }
    for (int64_t v = 0; v < R; ++v) {
      int32_t* row = table + static_cast<size_t>((u * R + v) * K);
      int64_t vv = v;
      for (int32_t i = c - 1; i >= 0; --i) {
        int32_t di = static_cast<int32_t>(vv % r[i]);
        vv /= r[i];
        const LevVariable& var = d->classes[ef->crossed[i]];
        row[i] = skipsReference(var.coding) && di >= var.referenceSelector ? di + 1 : di;
      }
      for (int32_t j = 0; j < m; ++j)
        row[c + j] = digit[j];
    }
  }
}

void zlevLevelsNonSingOne(LevDesign* d, QkPool* pool, LevEffect* ef, int32_t* scratch) {
  const int32_t K = ef->crossedCount + ef->nestedCount;
  const int64_t rows = zlevNonSingRowCount(d, ef);
  if (rows * K <= 0)
    return;
  int32_t* table = levArray<int32_t>(pool, static_cast<size_t>(rows * K));
  zlevNonSingFill(d, ef, table, scratch, std::max(d->classCount, K), true);
  ef->nonSingularTable = table;
}

void zlevLevelsNonSing(LevDesign* d, QkPool* pool, int32_t count, const int32_t* effects) {
  const int32_t n = count == 0 ? d->effectCount : count;
  for (int32_t k = 0; k < n; ++k) {
    LevEffect& ef = d->effects[count == 0 ? k : effects[k]];
    if (ef.crossedCount + ef.nestedCount > 0)
      zlevLevelsNonSingOne(d, pool, &ef, nullptr);
  }
}

void zlevLevelsAllOne(LevRegContext* ctx, LevEffect* ef, int32_t* strides, QkPool* pool) {
  LevDesign* d = ctx->design;
  const int32_t K = ef->crossedCount + ef->nestedCount;
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
  if (fullRank && ef->nonSingularTable == nullptr && K > 0)
    zlevLevelsNonSingOne(d, pool, ef, nullptr);
  int32_t* classTable = fullRank ? ef->nonSingularTable : ef->combinationTable;
  const int32_t E = ef->constructedCount;
  if (d->constructedCount == 0 || E == 0) {
    ef->columnTable = classTable;
    ef->columnRowWidth = K;
    return;
  }
  std::vector<int32_t> own;
  if (strides == nullptr) {
    own.assign(static_cast<size_t>(E), 0);
    strides = own.data();
  }
  const int32_t G = ef->classColumnCount;
  strides[E - 1] = G;
  for (int32_t e = E - 2; e >= 0; --e)
    strides[e] = strides[e + 1] * d->constructed[ef->constructed[e + 1]].columnCount;
  const int32_t W = K + E;
  ef->columnRowWidth = W;
  const int64_t columns = ef->columnCount;
  ef->columnTable = nullptr;
  if (columns * W == 0)
    return;
  int32_t* table = levArray<int32_t>(pool, static_cast<size_t>(columns * W));
  for (int64_t j = 0; j < columns; ++j) {
    int32_t* row = table + static_cast<size_t>(j * W);
    for (int32_t e = 0; e < E; ++e) {
      const int32_t k = d->constructed[ef->constructed[e]].columnCount;
      row[e] = strides[e] > 0 && k > 0 ? static_cast<int32_t>((j / strides[e]) % k) : 0;
    }
    if (K > 0 && classTable != nullptr && G > 0)
      std::copy_n(classTable + static_cast<size_t>((j % G) * K), K, row + E);
  }
  ef->columnTable = table;
}

void zlevLevelsAll(LevRegContext* ctx, int32_t count, const int32_t* effects) {
  LevDesign* d = ctx->design;
  QkPool* pool = levGroupPool(ctx);
  const int32_t n = count == 0 ? d->effectCount : count;
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
  int32_t largestE = 0;
  for (int32_t k = 0; k < n; ++k) {
    LevEffect& ef = d->effects[count == 0 ? k : effects[k]];
    if (fullRank && ef.crossedCount + ef.nestedCount > 0)
      zlevLevelsNonSingOne(d, pool, &ef, nullptr);
    largestE = std::max(largestE, ef.constructedCount);
  }
  std::vector<int32_t> strides(static_cast<size_t>(std::max(largestE, 1)), 0);
  for (int32_t k = 0; k < n; ++k)
    zlevLevelsAllOne(ctx, &d->effects[count == 0 ? k : effects[k]], strides.data(), pool);
}
