// Level combinations of split effects: for every model effect with CLASS variables, the
// level of each of its CLASS variables in each column of its CLASS part under the
// full-rank codings. The effect splitter of the driver groups columns by these levels.
#include "driver/vsfcontext.h"
#include "effects/levdesign.h"
#include "output/vsfresults.h"

namespace {

// EFFECT and REFERENCE drop the reference level from the columns of a crossed variable.
bool skipsReferenceLevel(ClassCoding coding) {
  return coding == CC_EFFECT || coding == CC_REFERENCE;
}

int32_t* zeroedInts(QkPool* pool, int64_t count) {
  if (pool == nullptr || count <= 0)
    return nullptr;
  return static_cast<int32_t*>(
      pool->allocate(pool, static_cast<size_t>(count) * sizeof(int32_t), kQkZeroed));
}

} // namespace

int32_t vsfLevels(VsfContext* ctx, VsfModel* /*fit*/, QkPool* pool) {
  LevDesign* d = ctx->design.design;
  if (d == nullptr || d->classCount <= 0)
    return -2;
  const int32_t nClass = d->classCount;
  int32_t* scratch = zeroedInts(pool, 3 * static_cast<int64_t>(nClass));
  if (scratch == nullptr)
    return -2;
  int32_t* crossedRadix = scratch;
  int32_t* nestedRadix = scratch + nClass;
  int32_t* nestedDigit = scratch + 2 * nClass;

  for (int32_t e = 0; e < d->effectCount; ++e) {
    LevEffect& ef = d->effects[e];
    ef.levelIndexTable = nullptr;
    const int32_t nc = ef.crossedCount + ef.nestedCount;
    if (nc <= 0)
      continue;
    int64_t pc = 1, pn = 1;
    for (int32_t i = 0; i < ef.crossedCount; ++i) {
      crossedRadix[i] = d->classes[ef.crossed[i]].levelCount - 1;
      pc *= crossedRadix[i];
    }
    for (int32_t i = 0; i < ef.nestedCount; ++i) {
      nestedRadix[i] = d->classes[ef.nested[i]].levelCount;
      pn *= nestedRadix[i];
    }
    const int64_t size = pc * pn * nc;
    if (size <= 0)
      continue;
    int32_t* table = zeroedInts(pool, size);
    if (table == nullptr)
      return -2;
    for (int64_t u = 0; u < pn; ++u) {
      int64_t rest = u;
      for (int32_t i = ef.nestedCount - 1; i >= 0; --i) {
        nestedDigit[i] = static_cast<int32_t>(rest % nestedRadix[i]);
        rest /= nestedRadix[i];
      }
      for (int64_t v = 0; v < pc; ++v) {
        int32_t* row = table + (u * pc + v) * nc;
        int64_t restV = v;
        for (int32_t i = ef.crossedCount - 1; i >= 0; --i) {
          int32_t digit = static_cast<int32_t>(restV % crossedRadix[i]);
          restV /= crossedRadix[i];
          const LevVariable& var = d->classes[ef.crossed[i]];
          if (skipsReferenceLevel(var.coding) && digit >= var.referenceSelector)
            digit += 1;
          row[i] = digit;
        }
        for (int32_t i = 0; i < ef.nestedCount; ++i)
          row[ef.crossedCount + i] = nestedDigit[i];
      }
    }
    ef.levelIndexTable = table;
  }
  pool->free(pool, scratch);
  return 0;
}
