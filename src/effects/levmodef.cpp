// Model effects from the MODEL statement's parsed effects: part counts of effects crossing
// split constructed effects, one LevEffect per combination of parts, the Intercept record in
// front, the effect-level entries, and the level-variable lists (levnames.cpp).
#include "effects/levmodef.h"

#include "effects/effchain.h"
#include "effects/effparse.h"
#include "effects/levalloc.h"
#include "effects/levnames.h"
#include "effects/zlst.h"
#include "support/hoststubs.h"
#include "support/messages.h"

#include <cstring>

namespace {

int32_t* copyIds(const EffectIdList& list) {
  auto* items = levNew<int32_t>(static_cast<size_t>(list.count > 0 ? list.count : 1));
  if (items != nullptr && list.count > 0)
    std::memcpy(items, list.items, sizeof(int32_t) * static_cast<size_t>(list.count));
  return items;
}

char* copyName(const char* name, int32_t length) {
  if (name == nullptr)
    return nullptr;
  if (effCollate(name, length, "Intercept", 9) == 0)
    return levStrdup("Intercept", 9);
  return levStrdup(name, length);
}

constexpr int64_t kMaxEffectParts = int64_t{1} << 24;  // records of one parsed effect
constexpr int64_t kMaxModelRecords = int64_t{1} << 26; // records of all model effects

// What partCount gives an effect with more parts than kMaxEffectParts (after its message).
constexpr int32_t kTooManyParts = -1;

// The number of records a parsed effect yields: the product of its constructed effects'
// part counts; kTooManyParts when that passes the limit.
[[nodiscard]] int32_t partCount(const LevDesign* design, const EffectChainNode* node) {
  int64_t p = 1;
  for (int32_t i = 0; i < node->lists[1].count; ++i) {
    int32_t id = node->lists[1].items[i];
    if (!effIsConstructed(id) || design->constructedMap == nullptr)
      continue;
    p *= design->constructedMap[kEffFirstConstructed - id].parts;
    if (p > kMaxEffectParts) {
      vsfLog(EffMsg::TooManyEffectParts,
             {HostMsgArg(node->name != nullptr ? node->name : "", node->nameLength),
              HostMsgArg(static_cast<int64_t>(kMaxEffectParts))});
      return kTooManyParts;
    }
  }
  return static_cast<int32_t>(p);
}

void mapNewNames(const LevDesign* design, LevEffect* r, int32_t numericListCount) {
  auto map = [&](int32_t* items, int32_t n) {
    for (int32_t i = 0; i < n; ++i)
      if (effIsNewName(items[i]))
        items[i] = numericListCount + (-items[i] - 2);
  };
  if (design->extra != nullptr && design->extra->numericCount > 0) {
    map(r->continuous, r->continuousCount);
    map(r->allClass, r->allClassCount);
  }
}

// Fills the record of one parsed effect (before any split).
[[nodiscard]] bool fillRecord(LevDesign* design, LevEffect* r, EffectChainNode* node,
                              int32_t numericListCount) {
  r->parsed = node;
  r->continuousCount = node->lists[0].count;
  r->continuous = copyIds(node->lists[0]);
  int32_t crossed = node->lists[1].count, nested = node->lists[2].count;
  int32_t all = crossed + nested;
  r->allClass = levNew<int32_t>(static_cast<size_t>(2 * all > 0 ? 2 * all : 1));
  if (r->continuous == nullptr || r->allClass == nullptr)
    return false;
  if (crossed > 0)
    std::memcpy(r->allClass, node->lists[1].items, sizeof(int32_t) * static_cast<size_t>(crossed));
  if (nested > 0)
    std::memcpy(r->allClass + crossed, node->lists[2].items,
                sizeof(int32_t) * static_cast<size_t>(nested));
  r->crossedCount = crossed;
  r->nestedCount = nested;
  r->allClassCount = all;
  r->crossed = r->allClass;
  r->nested = r->allClass + crossed;
  r->work = r->allClass + all;
  r->name = copyName(node->name, node->nameLength);
  r->design = design;
  mapNewNames(design, r, numericListCount);

  int32_t constructed = 0;
  for (int32_t i = 0; i < all; ++i)
    if (effIsConstructed(r->allClass[i]))
      ++constructed;
  if (constructed > 0) {
    r->constructed = levNew<int32_t>(static_cast<size_t>(constructed));
    if (r->constructed == nullptr)
      return false;
    int32_t kept = 0, c = 0;
    int32_t crossedConstructed = 0;
    for (int32_t i = 0; i < all; ++i) {
      int32_t id = r->allClass[i];
      if (effIsConstructed(id)) {
        r->constructed[c++] = kEffFirstConstructed - id;
        if (i < crossed)
          ++crossedConstructed;
      } else {
        r->allClass[kept++] = id;
      }
    }
    r->constructedCount = constructed;
    r->crossedCount -= crossedConstructed;
    r->nestedCount -= constructed - crossedConstructed;
    r->allClassCount = kept;
    r->nested = r->allClass + r->crossedCount;
    if (kept == 0) {
      r->allClass = nullptr;
      r->crossed = nullptr;
      r->nested = nullptr;
      r->work = nullptr;
    }
    r->constructedSource = &design->constructedCount;
    for (int32_t j = 0; j < constructed; ++j)
      r->constructed[j] = design->constructedMap[r->constructed[j]].first;
  }
  r->givenName = r->name;
  return true;
}

} // namespace

void zlevglm(LevEffect* record, EffectChainNode* node) {
  record->parsed = node;
  record->continuousCount = node->lists[0].count;
  record->continuous = copyIds(node->lists[0]);
  record->crossedCount = node->lists[1].count;
  record->crossed = copyIds(node->lists[1]);
  record->nestedCount = node->lists[2].count;
  record->nested = copyIds(node->lists[2]);
  record->name = levStrdup(node->name, node->nameLength);
}

void zlevglmAddLater(LevDesign* design, LevEffect* record, EffectChainNode* node) {
  zlevglm(record, node);
  record->name = copyName(node->name, node->nameLength);
  record->design = design;
  int32_t base = design->numericCount - (design->extra ? design->extra->numericCount : 0);
  auto map = [&](int32_t* items, int32_t n) {
    for (int32_t i = 0; items != nullptr && i < n; ++i)
      if (effIsNewName(items[i]))
        items[i] = base - 2 - items[i];
  };
  map(record->continuous, record->continuousCount);
  map(record->crossed, record->crossedCount);
  map(record->nested, record->nestedCount);
}

VsfStatus zlevmodef(LevDesign* design, HostDataSet*, ParsedStatement* model, int32_t effectList,
                    int32_t numericListCount, int32_t noIntercept, int32_t builderFlag) {
  if (effectList >= 0) {
    OptionSlot* slot = effSlotAt(model, effectList);
    int32_t count = effListCount(slot);
    design->modelEffectCount = count;
    design->partCounts = levNew<int32_t>(static_cast<size_t>(count > 0 ? count : 1));
    if (design->partCounts == nullptr)
      return VsfStatus::NoMemory;
    int64_t total = 0;
    for (int32_t i = 0; i < count; ++i) {
      auto* node = static_cast<EffectChainNode*>(slot->items.pointers[i]);
      int32_t p = partCount(design, node);
      if (p < 1)
        return VsfStatus::ReportedFailure;
      design->partCounts[i] = p;
      total += p;
    }
    if (total > kMaxModelRecords) {
      vsfLog(EffMsg::TooManyModelRecords, {HostMsgArg(static_cast<int64_t>(kMaxModelRecords))});
      return VsfStatus::ReportedFailure;
    }
    LevEffect* records = levNew<LevEffect>(static_cast<size_t>(total) + 1);
    if (records == nullptr)
      return VsfStatus::NoMemory;
    design->effects = records + 1;
    design->effectCount = static_cast<int32_t>(total);
    int32_t at = 0;
    for (int32_t i = 0; i < count; ++i) {
      auto* node = static_cast<EffectChainNode*>(slot->items.pointers[i]);
      LevEffect* r = &design->effects[at];
      if (!fillRecord(design, r, node, numericListCount))
        return VsfStatus::NoMemory;
      int32_t parts = design->partCounts[i];
      if (parts < 2) {
        if (r->constructedCount > 0)
          zlevMakeEffectName(design, r);
      } else if (zlevSeparate(design, at, parts) != VsfStatus::Ok) {
        return VsfStatus::NoMemory;
      }
      at += parts;
    }
    design->designFlags.set(LevDesignFlag::NoIntercept, noIntercept);
    design->designFlags.set(LevDesignFlag::NonGlm, builderFlag);
    if (!has(design->designFlags, LevDesignFlag::NoIntercept)) {
      design->effects = records;
      records[0] = LevEffect{};
      records[0].name = levStrdup("Intercept", 9);
      records[0].givenName = records[0].name;
      records[0].design = design;
      ++design->effectCount;
    }
    design->effectLevels = levNew<LevEffectLevels>(
        static_cast<size_t>(design->effectCount > 0 ? design->effectCount : 1));
  }
  zlevPrepLevList(design);
  return VsfStatus::Ok;
}
