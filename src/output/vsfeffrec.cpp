// Effect records of the selection: one record per model effect, or, with SPLIT, one per
// level combination of an effect's split CLASS variables; their names, parameter counts
// and the containment relation between split records. Levels come from the design library.
// Declared in output/vsfeffects.h.
#include "output/vsfcontext.h"
#include "output/vsfeffects.h"
#include "output/vsfresults.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/notfound.h"
#include "support/poolalloc.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[nodiscard]] int32_t textLength(const char* text) {
  return text != nullptr ? static_cast<int32_t>(std::strlen(text)) : 0;
}

// The CLASS variables of an effect in the order of its level rows: crossed, then nested.
[[nodiscard]] int32_t classAt(const LevEffect& ef, int32_t k) {
  assert(k >= 0 && k < ef.crossedCount + ef.nestedCount && "a CLASS member of the effect");
  return k < ef.crossedCount ? ef.crossed[k] : ef.nested[k - ef.crossedCount];
}

// The table of level combinations of an effect's CLASS part: one row per cell.
struct CellTable {
  const int32_t* rows = nullptr;
  int32_t cellCount = 0;
  int32_t width = 0;
};

CellTable cellTable(const LevDesign* d, const LevEffect& ef) {
  CellTable t;
  if (has(d->designFlags, LevDesignFlag::NonGlm)) {
    t.rows = ef.levelIndexTable;
    t.width = ef.crossedCount + ef.nestedCount;
    t.cellCount = ef.classColumnCount;
  } else {
    // The GLM coding has one column per level combination met in the data.
    t.rows = ef.combinationTable;
    t.width = ef.allClassCount;
    t.cellCount = ef.combinationCount;
  }
  if (t.rows == nullptr)
    t.cellCount = 0;
  return t;
}

const char* variableName(const LevVariable& v, int32_t* length) {
  if (v.var == nullptr || v.var->name == nullptr) {
    *length = 0;
    return "";
  }
  *length = v.var->nameLength;
  return v.var->name;
}

// The label of level `level` of a split CLASS variable: the coding's numbered label, or the
// formatted level value without trailing blanks.
std::string levelLabel(const LevVariable& v, int32_t level) {
  if (const char* prefix = classCodingLabelPrefix(v.coding)) {
    char buffer[33];
    int n = std::snprintf(buffer, sizeof buffer, "%s%d", prefix, level + 1);
    return std::string(buffer, static_cast<size_t>(std::clamp(n, 0, 32)));
  }
  if (v.levelTexts == nullptr || level < 0 || level >= v.levelCount ||
      v.levelTexts[level] == nullptr)
    return std::string();
  int32_t n = std::max(v.levelWidth, 0);
  const char* text = v.levelTexts[level];
  int32_t used = 0;
  while (used < n && text[used] != '\0')
    ++used;
  while (used > 0 && text[used - 1] == ' ')
    --used;
  return std::string(text, static_cast<size_t>(used));
}

// The split level of design CLASS variable `var` in record r, or kVsfNotFound when it is no split
// variable of r.
[[nodiscard]] int32_t splitLevelOf(const VsfEffectRecord& r, int32_t var) {
  for (int32_t k = 0; k < r.splitCount; ++k)
    if (r.splitVars[k] == var)
      return r.splitLevels[k];
  return kVsfNotFound;
}

[[nodiscard]] bool inList(const int32_t* list, int32_t count, int32_t value) {
  for (int32_t k = 0; k < count; ++k)
    if (list[k] == value)
      return true;
  return false;
}

} // namespace

void vsfqsort(int32_t* keys, int32_t count, int32_t* companion) {
  if (keys == nullptr || count < 2)
    return;
  int32_t gap = 1;
  while (gap < count)
    gap *= 2;
  for (; gap >= 1; gap /= 2)
    for (int32_t i = gap; i < count; ++i) {
      const int32_t key = keys[i];
      const int32_t other = companion != nullptr ? companion[i] : 0;
      int32_t j = i;
      for (; j >= gap && keys[j - gap] > key; j -= gap) {
        keys[j] = keys[j - gap];
        if (companion != nullptr)
          companion[j] = companion[j - gap];
      }
      keys[j] = key;
      if (companion != nullptr)
        companion[j] = other;
    }
}

VsfStatus vsfPrepEffects(VsfContext* ctx, QkPool* pool) {
  LevDesign* d = ctx->design.design;
  const int32_t E = d != nullptr ? d->effectCount : 0;
  auto* records = poolArray<VsfEffectRecord>(pool, E);
  if (records == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t e = 0; e < E; ++e) {
    records[e].effect = e;
    records[e].parmCount = d->effects[e].columnCount;
  }
  ctx->effectRecords = records;
  ctx->effectRecordCount = E;
  ctx->enteredFirstBoundary = ctx->options.forcedIn;
  return VsfStatus::Ok;
}

VsfStatus vsfSetEffectListNParms(VsfContext* ctx) {
  LevDesign* d = ctx->design.design;
  if (d == nullptr || ctx->effectRecords == nullptr)
    return VsfStatus::Ok;
  const int32_t n = std::min(ctx->effectRecordCount, d->effectCount);
  for (int32_t i = 0; i < n; ++i) {
    ctx->effectRecords[i].effect = i;
    ctx->effectRecords[i].parmCount = d->effects[i].columnCount;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfSplitEffects(VsfContext* ctx, QkPool* pool) {
  LevDesign* d = ctx->design.design;
  if (d == nullptr || d->effectCount <= 0)
    return VsfStatus::NoMemory;
  if (has(d->designFlags, LevDesignFlag::NonGlm) && d->classCount > 0) {
    VsfStatus rc = vsfLevels(ctx, nullptr, pool);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  const int32_t E = d->effectCount;
  const int32_t nClass = std::max(d->classCount, 1);
  // An effect gives at most one record per cell of its CLASS part, or one record.
  int64_t capacity = 0;
  for (int32_t e = 0; e < E; ++e)
    capacity += std::max(cellTable(d, d->effects[e]).cellCount, 1);
  auto* records = poolArray<VsfEffectRecord>(pool, capacity);
  auto* radix = poolArray<int32_t>(pool, nClass);
  auto* position = poolArray<int32_t>(pool, nClass);
  if (records == nullptr || radix == nullptr || position == nullptr)
    return VsfStatus::NoMemory;

  const bool noint = ctx->options.noint != 0;
  const int32_t enteredFirst = ctx->options.forcedIn;
  bool boundarySet = false;
  int32_t boundary = 0;
  int32_t n = 0;
  for (int32_t e = 0; e < E; ++e) {
    const LevEffect& ef = d->effects[e];
    if (!boundarySet && ((!noint && e == enteredFirst) || (noint && e - 1 == enteredFirst))) {
      boundary = noint ? n - 1 : n;
      boundarySet = true;
    }
    const int32_t nc = ef.crossedCount + ef.nestedCount;
    int32_t nSplit = 0;
    for (int32_t k = 0; k < nc; ++k) {
      const LevVariable& v = d->classes[classAt(ef, k)];
      if (v.split != 0) {
        radix[nSplit] = v.levelCount;
        position[nSplit] = k;
        ++nSplit;
      }
    }
    if (nSplit == 0) {
      records[n].effect = e;
      records[n].parmCount = ef.columnCount;
      ++n;
      continue;
    }
    // One record per level combination that has columns: a split effect without cells (a
    // CLASS variable whose only level in the group is its reference) has none to select.
    const CellTable cells = cellTable(d, ef);
    const int32_t C = cells.cellCount;
    assert((C > 0 || ef.columnCount == 0) && "columns of a split effect belong to its cells");
    if (C <= 0)
      continue;
    auto* keys = poolArray<int32_t>(pool, C);
    auto* cellOf = poolArray<int32_t>(pool, C);
    if (keys == nullptr || cellOf == nullptr)
      return VsfStatus::NoMemory;
    for (int32_t c = 0; c < C; ++c) {
      const int32_t* row = cells.rows + static_cast<size_t>(c) * cells.width;
      int32_t key = 0;
      for (int32_t s = 0; s < nSplit; ++s)
        key = key * radix[s] + row[position[s]];
      keys[c] = key;
      cellOf[c] = c;
    }
    vsfqsort(keys, C, cellOf);
    const int32_t perCell = ef.columnCount / C;
    for (int32_t start = 0; start < C;) {
      int32_t end = start + 1;
      while (end < C && keys[end] == keys[start])
        ++end;
      const int32_t run = end - start;
      VsfEffectRecord& r = records[n++];
      r.effect = e;
      r.splitCount = nSplit;
      r.parmCount = perCell * run;
      r.columns = poolArray<int32_t>(pool, std::max(r.parmCount, 1));
      r.splitVars = poolArray<int32_t>(pool, nSplit);
      r.splitLevels = poolArray<int32_t>(pool, nSplit);
      if (r.columns == nullptr || r.splitVars == nullptr || r.splitLevels == nullptr)
        return VsfStatus::NoMemory;
      std::copy(cellOf + start, cellOf + end, r.columns);
      vsfqsort(r.columns, run, nullptr);
      for (int32_t k = 1; k < perCell; ++k)
        for (int32_t i = 0; i < run; ++i)
          r.columns[k * run + i] = r.columns[i] + k * C;
      int32_t key = keys[start];
      for (int32_t s = nSplit - 1; s >= 0; --s) {
        const int32_t level = key % radix[s];
        r.splitVars[s] = classAt(ef, position[s]);
        r.splitLevels[s] = level;
        key = (key - level) / radix[s];
      }
      start = end;
    }
  }
  if (!boundarySet)
    boundary = noint ? n - 1 : n;
  ctx->effectRecords = records;
  ctx->effectRecordCount = n;
  ctx->enteredFirstBoundary = boundary;
  // The records of this group are named here: the start of the run named none of them.
  return vsfMakeEffectNames(ctx, pool);
}

VsfStatus vsfMakeEffectNames(VsfContext* ctx, QkPool* pool) {
  LevDesign* d = ctx->design.design;
  int32_t longest = 0;
  for (int32_t i = 0; i < ctx->effectRecordCount; ++i) {
    VsfEffectRecord& r = ctx->effectRecords[i];
    const LevEffect& ef = d->effects[r.effect];
    if (r.splitCount == 0) {
      r.name = ef.name;
      r.nameLength = textLength(ef.name);
      longest = std::max(longest, r.nameLength);
      continue;
    }
    // The label of each CLASS variable of the effect (empty when it is not split here).
    const int32_t nc = ef.crossedCount + ef.nestedCount;
    std::vector<std::string> label(static_cast<size_t>(std::max(nc, 0)));
    int32_t length = 0;
    auto component = [&](int32_t n) { length += n + 1; };
    int32_t nameLength = 0;
    for (int32_t k = 0; k < ef.continuousCount; ++k) {
      variableName(d->numerics[ef.continuous[k]], &nameLength);
      component(nameLength);
    }
    for (int32_t k = 0; k < ef.constructedCount; ++k)
      component(d->constructed[ef.constructed[k]].nameLength);
    for (int32_t k = 0; k < nc; ++k) {
      const int32_t var = classAt(ef, k);
      variableName(d->classes[var], &nameLength);
      component(nameLength);
      const int32_t level = splitLevelOf(r, var);
      if (level >= 0) {
        // Sized from the label as formatted, so long level numbers fit too.
        label[size_t(k)] = levelLabel(d->classes[var], level);
        length += static_cast<int32_t>(label[size_t(k)].size()) + 1;
      }
    }
    char* name = length > 0 ? poolArray<char>(pool, length + 1) : nullptr;
    if (name == nullptr)
      return VsfStatus::NoMemory;
    std::memset(name, ' ', static_cast<size_t>(length));
    int32_t at = 0;
    auto put = [&](const char* text, int32_t n) {
      n = std::min(n, length - at);
      if (n > 0) {
        std::memcpy(name + at, text, static_cast<size_t>(n));
        at += n;
      }
    };
    bool firstPart = true;
    auto join = [&] {
      if (!firstPart)
        put("*", 1);
      firstPart = false;
    };
    for (int32_t k = 0; k < ef.continuousCount; ++k) {
      const char* text = variableName(d->numerics[ef.continuous[k]], &nameLength);
      join();
      put(text, nameLength);
    }
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      join();
      put(ev.name, ev.nameLength);
    }
    auto putClass = [&](int32_t k) {
      const char* text = variableName(d->classes[classAt(ef, k)], &nameLength);
      put(text, nameLength);
      if (splitLevelOf(r, classAt(ef, k)) >= 0) {
        put("_", 1);
        put(label[size_t(k)].data(), static_cast<int32_t>(label[size_t(k)].size()));
      }
    };
    for (int32_t k = 0; k < ef.crossedCount; ++k) {
      join();
      putClass(k);
    }
    if (ef.nestedCount > 0) {
      put("(", 1);
      for (int32_t k = ef.crossedCount; k < nc; ++k) {
        if (k > ef.crossedCount)
          put("*", 1);
        putClass(k);
      }
      put(")", 1);
    }
    // The allowance above counts a separator for every component; the name is what was put.
    r.name = name;
    r.nameLength = at;
    longest = std::max(longest, at);
  }
  ctx->longestEffectName = longest;
  return VsfStatus::Ok;
}

VsfStatus vsfSplitHierarchy(VsfContext* ctx, QkPool* pool) {
  VsfModel& m = ctx->model;
  const int32_t R = ctx->effectRecordCount;
  auto* containsCount = poolArray<int32_t>(pool, std::max(R, 1));
  auto* containedByCount = poolArray<int32_t>(pool, std::max(R, 1));
  if (containsCount == nullptr || containedByCount == nullptr)
    return VsfStatus::NoMemory;
  m.hier.hierAddCountInit = containsCount;
  m.hier.hierDropCountInit = containedByCount;
  if (ctx->options.hierarchy == VsfHierarchy::None && !vsfMethodStartsFull(ctx->options.method))
    return VsfStatus::Ok;
  auto* listA = poolArray<int32_t*>(pool, std::max(R, 1));
  auto* listB = poolArray<int32_t*>(pool, std::max(R, 1));
  auto* addCount = poolArray<int32_t>(pool, std::max(R, 1));
  auto* dropCount = poolArray<int32_t>(pool, std::max(R, 1));
  auto* work = poolArray<int32_t>(pool, std::max(R, 1));
  if (listA == nullptr || listB == nullptr || addCount == nullptr || dropCount == nullptr ||
      work == nullptr)
    return VsfStatus::NoMemory;
  const VsfEffectRecord* rec = ctx->effectRecords;
  // Record i contains record j when i's model effect contains j's and every split variable
  // of j is split in i at the same level.
  auto contains = [&](int32_t i, int32_t j) {
    const int32_t ei = rec[i].effect, ej = rec[j].effect;
    if (ctx->hierContained == nullptr || ctx->hierContainedCounts == nullptr ||
        !inList(ctx->hierContained[ei], ctx->hierContainedCounts[ei], ej))
      return false;
    for (int32_t s = 0; s < rec[j].splitCount; ++s)
      if (splitLevelOf(rec[i], rec[j].splitVars[s]) != rec[j].splitLevels[s])
        return false;
    return true;
  };
  for (int32_t i = 0; i < R; ++i) {
    int32_t n = 0;
    for (int32_t j = 0; j < R; ++j)
      if (contains(i, j))
        work[n++] = j;
    containsCount[i] = n;
    if (n > 0) {
      listA[i] = poolArray<int32_t>(pool, n);
      if (listA[i] == nullptr)
        return VsfStatus::NoMemory;
      std::copy(work, work + n, listA[i]);
    }
  }
  for (int32_t j = 0; j < R; ++j) {
    int32_t n = 0;
    for (int32_t i = 0; i < R; ++i)
      if (inList(listA[i], containsCount[i], j))
        work[n++] = i;
    containedByCount[j] = n;
    if (n > 0) {
      listB[j] = poolArray<int32_t>(pool, n);
      if (listB[j] == nullptr)
        return VsfStatus::NoMemory;
      std::copy(work, work + n, listB[j]);
    }
  }
  std::copy(containsCount, containsCount + R, addCount);
  std::copy(containedByCount, containedByCount + R, dropCount);
  m.hier.hierListA = listA;
  m.hier.hierListB = listB;
  m.hier.hierAddCount = addCount;
  m.hier.hierDropCount = dropCount;
  return VsfStatus::Ok;
}

VsfStatus vsfMemory(VsfContext* ctx) {
  int64_t parms = 0;
  for (int32_t i = 0; i < ctx->effectRecordCount; ++i)
    parms += ctx->effectRecords[i].parmCount;
  // Two packed triangles of the cross products (plain and swept) with the response.
  const double bytes =
      2.0 * 8.0 * static_cast<double>(parms + 1) * static_cast<double>(parms + 2) / 2.0;
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) != 0 || kilobytes <= 0)
    return VsfStatus::Ok;
  if (bytes / 1024.0 > static_cast<double>(kilobytes)) {
    vsfLog(VsfMsg::MemoryAmountUnknown);
    vsfRaiseRC(ctx, StepRc::Error);
    return VsfStatus::MemoryUnknown;
  }
  return VsfStatus::Ok;
}
