// Effect-column queries: one effect's columns of the current row through the CLASS codings,
// the CLASS levels behind a column, the columns that a COLLECTION's member levels select and
// the counts of identifying level texts. Constructed-effect columns are not made here.
#include "design/levquery.h"

#include "design/levrow.h"

#include <cstring>

int32_t zlevGetEfCols(LevRegContext* ctx, int32_t e, double* out) {
  LevDesign* d = ctx->design;
  const LevEffect& ef = d->effects[e];
  if (ef.constructedCount > 0)
    return -1;
  if (ef.columnCount > 0)
    std::memset(out, 0, sizeof(double) * static_cast<size_t>(ef.columnCount));
  zlevpar(ctx, e, out);
  return ef.columnCount;
}

int32_t zlevGetEfNosepCols(LevRegContext* ctx, int32_t e, int32_t count, double* out) {
  LevDesign* d = ctx->design;
  const int32_t n = count > 0 ? count : 1;
  int32_t total = 0;
  for (int32_t k = 0; k < n && e + k < d->effectCount; ++k) {
    int32_t got = zlevGetEfCols(ctx, e + k, out + total);
    if (got < 0)
      return -1;
    total += got;
  }
  return total;
}

int32_t zlevGetEfClassLevels(const LevDesign* d, int32_t e, int32_t column, int32_t* out) {
  const LevEffect& ef = d->effects[e];
  const int32_t K = ef.crossedCount + ef.nestedCount;
  if (ef.columnTable == nullptr || column < 0 || column >= ef.columnCount)
    return -1;
  const int32_t* row = ef.columnTable + static_cast<size_t>(column) * ef.columnRowWidth;
  std::memcpy(out, row + ef.columnRowWidth - K, sizeof(int32_t) * static_cast<size_t>(K));
  return K;
}

int32_t zlevMapEftLevInverse(LevDesign* d) {
  for (int32_t k = 0; k < d->constructedCount; ++k)
    if (d->constructed[k].kind == EV_MULTIMEMBER || d->constructed[k].kind == EV_COLLECTION)
      return 1;
  return 0;
}

int32_t zlevLSMBylevel(LevRegContext* ctx, int32_t v, int32_t* out) {
  LevDesign* d = ctx->design;
  const LevEftVar& ev = d->constructed[v];
  if (ev.kind != EV_COLLECTION)
    return -1;
  const bool fullRank = (d->designFlags & kLevFlagNonGlm) != 0;
  int32_t n = 0, base = ev.numericCount;
  for (int32_t j = 0; j < ev.numericCount; ++j)
    out[n++] = j;
  for (int32_t j = 0; j < ev.classCount; ++j) {
    const LevVariable& c = d->classes[ev.classes[j]];
    const int32_t width = c.levelCount - (fullRank ? 1 : 0);
    const int32_t level = ctx->levelIndex[ev.classes[j]];
    if (level >= 0 && level < width)
      out[n++] = base + level;
    base += width;
  }
  return n;
}

int32_t zlevEftClValN(const LevDesign*, const LevEftVar* ev) {
  switch (ev->kind) {
  case EV_MULTIMEMBER:
  case EV_COLLECTION:
  case EV_LAG:
    return ev->classCount > 0 || ev->kind == EV_LAG ? 1 : 0;
  default:
    return 0;
  }
}

int32_t zlevEfClValN(const LevDesign* d, const LevEffect* ef) {
  int32_t n = ef->crossedCount + ef->nestedCount;
  for (int32_t k = 0; k < ef->constructedCount; ++k)
    n += zlevEftClValN(d, &d->constructed[ef->constructed[k]]);
  return n;
}
