// Level combinations of split effects: for every model effect with CLASS variables, the
// level of each of its CLASS variables in each column of its CLASS part under the
// full-rank codings. The effect splitter of the driver groups columns by these levels.
// Declared in output/vsfresults.h.
#include "design/levtables.h"
#include "effects/levdesign.h"
#include "output/vsfcontext.h"
#include "output/vsfresults.h"
#include "support/nomemory.h"

namespace {

int32_t* zeroedInts(QkPool* pool, int64_t count) {
  if (pool == nullptr || count <= 0)
    return nullptr;
  return static_cast<int32_t*>(
      pool->allocate(pool, static_cast<size_t>(count) * sizeof(int32_t), kQkZeroed));
}

} // namespace

VsfStatus vsfLevels(VsfContext* ctx, VsfModel* /*fit*/, QkPool* pool) {
  LevDesign* d = ctx->design.design;
  if (d == nullptr || d->classCount <= 0)
    return VsfStatus::NoMemory;
  const int32_t nClass = d->classCount;
  int32_t* scratch = zeroedInts(pool, 3 * static_cast<int64_t>(nClass));
  if (scratch == nullptr)
    return VsfStatus::NoMemory;

  for (int32_t e = 0; e < d->effectCount; ++e) {
    LevEffect& ef = d->effects[e];
    ef.levelIndexTable = nullptr;
    const int32_t nc = ef.crossedCount + ef.nestedCount;
    const int64_t size = zlevNonSingRowCount(d, &ef) * nc;
    if (size <= 0)
      continue;
    int32_t* table = zeroedInts(pool, size);
    if (table == nullptr)
      return VsfStatus::NoMemory;
    zlevNonSingFill(d, &ef, table, scratch, nClass, false);
    ef.levelIndexTable = table;
  }
  pool->free(pool, scratch);
  return VsfStatus::Ok;
}
