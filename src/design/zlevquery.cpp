// Effect-column queries: one effect's columns of the current row through the CLASS codings,
// the CLASS levels behind a column, the columns that a COLLECTION's member levels select and
// the counts of identifying level texts, and the inverse member maps of MULTIMEMBER and
// COLLECTION effect variables. Declared in design/levquery.h.
#include "design/levquery.h"
#include "support/notfound.h"

#include "design/levconstructed.h"
#include "design/levrow.h"

#include <algorithm>
#include <cstring>

int32_t zlevGetEfCols(LevRegContext* ctx, int32_t e, double* out) {
  LevDesign* d = ctx->design;
  const LevEffect& ef = d->effects[e];
  if (ef.columnCount > 0)
    std::memset(out, 0, sizeof(double) * static_cast<size_t>(ef.columnCount));
  // The constructed effects' columns of the current observation, then the block as the row
  // builder makes it.
  if (ef.constructedCount > 0) {
    zlevResetEftVarCols(d);
    for (int32_t k = 0; k < ef.constructedCount; ++k)
      zlevGetEftVarCols(ctx, &d->constructed[ef.constructed[k]]);
  }
  levEffectBlock(ctx, e, out);
  return ef.columnCount;
}

int32_t zlevGetEfNosepCols(LevRegContext* ctx, int32_t e, int32_t count, double* out) {
  LevDesign* d = ctx->design;
  const int32_t n = count > 0 ? count : 1;
  int32_t total = 0;
  for (int32_t k = 0; k < n && e + k < d->effectCount; ++k)
    total += zlevGetEfCols(ctx, e + k, out + total);
  return total;
}

int32_t zlevGetEfClassLevels(const LevDesign* d, int32_t e, int32_t column, int32_t* out) {
  const LevEffect& ef = d->effects[e];
  const int32_t K = ef.crossedCount + ef.nestedCount;
  if (ef.columnTable == nullptr || column < 0 || column >= ef.columnCount)
    return kVsfNotFound;
  const int32_t* row = ef.columnTable + static_cast<size_t>(column) * ef.columnRowWidth;
  std::memcpy(out, row + ef.columnRowWidth - K, sizeof(int32_t) * static_cast<size_t>(K));
  return K;
}

namespace {

// The level of a CLASS member behind column k of its block: every level under GLM, the
// levels other than the reference under a full-rank coding.
[[nodiscard]] int32_t levelOfColumn(const LevVariable& v, bool fullRank, int32_t k) {
  return fullRank && k >= v.referenceSelector ? k + 1 : k;
}

// Member j's inverse map over the record's columns: -1 except in the member's own columns.
int32_t* inverseOf(LevDesign* d, const LevEftVar& ev, int32_t j) {
  const LevVariable& v = d->classes[ev.classes[j]];
  int32_t* map = levArray<int32_t>(d->libraryPool, static_cast<size_t>(ev.columnCount));
  if (map == nullptr)
    return nullptr;
  std::fill_n(map, ev.columnCount, -1);
  if (ev.kind == EffectVarKind::MultiMember) {
    for (int32_t L = 0; ev.memberMaps != nullptr && L < v.levelCount; ++L)
      if (ev.memberMaps[j][L] >= 0 && ev.memberMaps[j][L] < ev.columnCount)
        map[ev.memberMaps[j][L]] = L;
    return map;
  }
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
  int32_t base = ev.numericCount;
  for (int32_t i = 0; i < j; ++i)
    base += d->classes[ev.classes[i]].levelCount - (fullRank ? 1 : 0);
  const int32_t width = v.levelCount - (fullRank ? 1 : 0);
  for (int32_t k = 0; k < width && base + k < ev.columnCount; ++k)
    map[base + k] = levelOfColumn(v, fullRank, k);
  return map;
}

} // namespace

int32_t zlevMapEftLevInverse(LevDesign* d) {
  for (int32_t r = 0; r < d->constructedCount; ++r) {
    LevEftVar& ev = d->constructed[r];
    if (ev.kind != EffectVarKind::MultiMember && ev.kind != EffectVarKind::Collection)
      continue;
    if (ev.columnCount <= 0 || ev.classCount <= 0 || d->libraryPool == nullptr)
      return 1;
    ev.inverseMaps = levArray<int32_t*>(d->libraryPool, static_cast<size_t>(ev.classCount));
    if (ev.inverseMaps == nullptr)
      return 1;
    for (int32_t j = 0; j < ev.classCount; ++j)
      if ((ev.inverseMaps[j] = inverseOf(d, ev, j)) == nullptr)
        return 1;
  }
  return 0;
}

int32_t zlevLSMBylevel(LevRegContext* ctx, int32_t v, int32_t* out) {
  LevDesign* d = ctx->design;
  const LevEftVar& ev = d->constructed[v];
  if (ev.kind != EffectVarKind::Collection)
    return kVsfNotFound;
  const bool fullRank = has(d->designFlags, LevDesignFlag::NonGlm);
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
  case EffectVarKind::MultiMember:
  case EffectVarKind::Collection:
  case EffectVarKind::Lag:
    return ev->classCount > 0 || ev->kind == EffectVarKind::Lag ? 1 : 0;
  case EffectVarKind::Spline:
  case EffectVarKind::Polynomial:
    return 0;
  }
  return 0;
}

int32_t zlevEfClValN(const LevDesign* d, const LevEffect* ef) {
  int32_t n = ef->crossedCount + ef->nestedCount;
  for (int32_t k = 0; k < ef->constructedCount; ++k)
    n += zlevEftClValN(d, &d->constructed[ef->constructed[k]]);
  return n;
}
