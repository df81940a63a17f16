// The labels and short names of the design columns of a fit's chosen effects (the effect
// name followed by the column's level text), which the OUTDESIGN data set and the
// parameter tables name their columns by. Declared in output/vsfprinters.h.
#include "design/levnames.h"
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"

#include <algorithm>
#include <cstring>

VsfStatus vsfParmLabels(VsfContext* ctx, VsfModel* m, int32_t which) {
  LevDesign* d = vsfDesign(ctx);
  if (d == nullptr || d->parmLabelStyle == LSTYLE_INTERLACED)
    return VsfStatus::Ok;
  QkPool* pool = ctx->design.library != nullptr && ctx->design.library->pool != nullptr
                     ? ctx->design.library->pool
                     : m->pool;
  const int32_t columns = d->columnCount;
  ctx->results.designLabels = nullptr;
  ctx->results.designShortNames = nullptr;
  ctx->results.designLabelCount = 0;
  if (columns <= 0 || pool == nullptr)
    return VsfStatus::Ok;
  auto** labels =
      static_cast<char**>(pool->allocate(pool, sizeof(char*) * size_t(columns), kQkZeroed));
  auto** shorts =
      static_cast<char**>(pool->allocate(pool, sizeof(char*) * size_t(columns), kQkZeroed));
  if (labels == nullptr || shorts == nullptr)
    return VsfStatus::NoMemory;
  ctx->results.designLabels = labels;
  ctx->results.designShortNames = shorts;
  ctx->results.designLabelCount = columns;
  auto chosen = [&](int32_t k) {
    const uint8_t s = m->effectStatus[k];
    if (which == 0)
      return true;
    if (which == 3 && m->chosen.chosenEffectStatus != nullptr) {
      const uint8_t c = m->chosen.chosenEffectStatus[k];
      return vsfInModelStatus(c);
    }
    return vsfInModelStatus(s);
  };
  // Each parameter of each chosen effect: its level-index row and its design column, under
  // which its texts are kept (the OUTDESIGN columns are design columns).
  auto each = [&](auto&& visit) {
    for (int32_t k = 0; k < m->effectCount; ++k) {
      if (!chosen(k))
        continue;
      const int32_t lev = vsfDesignEffect(ctx, k);
      if (lev < 0 || lev >= d->effectCount)
        continue;
      const LevEffect& e = d->effects[lev];
      const VsfEffectRecord* rec = vsfEffectRecord(ctx, k);
      const int32_t* cols = rec != nullptr ? rec->columns : nullptr;
      const int32_t n = rec != nullptr ? rec->parmCount : e.columnCount;
      for (int32_t j = 0; j < n; ++j) {
        const int32_t c = cols != nullptr ? cols[j] : j;
        const int32_t* row =
            e.columnTable != nullptr ? e.columnTable + size_t(c) * e.columnRowWidth : nullptr;
        visit(k, e, row, e.firstColumn + c);
      }
    }
  };
  int32_t longest = 0;
  each([&](int32_t k, const LevEffect& e, const int32_t* row, int32_t) {
    int32_t nameLength = 0;
    vsfEffectName(ctx, k, &nameLength);
    longest = std::max(longest, nameLength + (row != nullptr ? zlevLenLevelLabel(d, &e, row) : 0));
  });
  // Effects without columns leave every label empty; that is no failure.
  if (longest == 0)
    return VsfStatus::Ok;
  char* buffer = static_cast<char*>(
      m->pool != nullptr ? m->pool->allocate(m->pool, size_t(longest) + 1, 0) : nullptr);
  if (buffer == nullptr)
    return VsfStatus::NoMemory;
  VsfStatus rc = VsfStatus::Ok;
  each([&](int32_t k, const LevEffect& e, const int32_t* row, int32_t column) {
    if (rc != VsfStatus::Ok || column < 0 || column >= columns)
      return;
    int32_t nameLength = 0;
    const char* name = vsfEffectName(ctx, k, &nameLength);
    std::memset(buffer, ' ', size_t(longest) + 1);
    std::memcpy(buffer, name, size_t(nameLength));
    int32_t total = nameLength;
    if (row != nullptr)
      total += zlevEfLevelLabel(d, &e, buffer + nameLength, row);
    char* full = static_cast<char*>(pool->allocate(pool, size_t(total) + 1, kQkZeroed));
    char* brief = static_cast<char*>(pool->allocate(pool, 33, kQkZeroed));
    if (full == nullptr || brief == nullptr) {
      rc = VsfStatus::NoMemory;
      return;
    }
    std::memcpy(full, buffer, size_t(total));
    const int32_t shortLength = std::min(total, 32);
    std::memcpy(brief, buffer, size_t(shortLength));
    zname(0, brief, shortLength);
    int32_t end = shortLength;
    while (end > 0 && brief[end - 1] == ' ')
      --end;
    brief[end] = '\0';
    labels[column] = full;
    shorts[column] = brief;
  });
  return rc;
}
