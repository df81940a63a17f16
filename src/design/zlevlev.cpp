// The CLASS levelisation engine: the levelisation context, the pass that collects the
// distinct formatted values of every CLASS variable and the range of every continuous
// numeric variable, the level arrays with their byte-sorted lookup table, and the lookups
// of later passes. Ordering and codings are zlevror.cpp's; the data come through callbacks.
// Declared in design/levlevel.h.
#include "design/levkeys.h"
#include "design/levlevel.h"
#include "support/notfound.h"

#include "design/levreg.h"
#include "design/levthread.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/wzstr.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

namespace {

constexpr int32_t kKeyOffset = 56;

void leftJustify(char* text, int32_t width) { wzstjls(text, width, 'L', nullptr, nullptr); }

// Default callbacks: read the data set given to zlevini directly.
[[nodiscard]] int32_t defaultInit(LevelizeContext* context, LevDesign* design) {
  auto* data = static_cast<HostDataSet*>(context->source);
  for (int32_t i = 0; i < design->classCount; ++i) {
    HostVariable* var = design->classes[i].var;
    // A formatting hint: it fails only for a data set not open, which the reads report.
    if (var != nullptr && var->number > 0)
      (void)xffile(data, 70, &var->number, 1);
  }
  return xbyrewind(xdsby(data)) == 0 ? 1 : 0;
}

[[nodiscard]] int32_t defaultNext(LevelizeContext* context, LevDesign*) {
  return xobsnext(static_cast<HostDataSet*>(context->source)) == 1 ? 1 : 0;
}

[[nodiscard]] int32_t defaultVals(LevelizeContext* context, LevDesign* design) {
  auto* data = static_cast<HostDataSet*>(context->source);
  for (int32_t j = 0; j < design->numericCount; ++j) {
    HostVariable* var = design->numerics[j].var;
    context->numeric[j] = var != nullptr ? xobsnum(data, var->number) : hostMissing();
  }
  int32_t nNum = 0, nChar = 0;
  for (int32_t i = 0; i < design->classCount; ++i) {
    LevVariable& v = design->classes[i];
    if (v.var == nullptr)
      continue;
    levWidthCheck(&v);
    // Fails only for a variable the set lacks; v.var was found in this set by zlevmod.
    (void)xvget1v(data, v.var->number, v.levelWidth, context->formatted[i]);
    if (v.var->type == 1) {
      context->numericInternal[nNum++] = xobsnum(data, v.var->number);
    } else {
      LevCharValue& c = context->charInternal[nChar++];
      const char* text = nullptr;
      int32_t n = xobschar(data, v.var->number, &text);
      wzstmov(text, n, c.buffer, c.length);
    }
  }
  if (design->freqVariable != nullptr && design->freqVariable->var != nullptr)
    design->freqValue = xobsnum(data, design->freqVariable->var->number);
  return 1;
}

template <typename Fn> HostRoutine registered(Fn fn) {
  HostRoutine callable = nullptr;
  // vir2g fails only for a null routine or slot, and both are ours.
  (void)vir2g(reinterpret_cast<HostRoutine>(fn), &callable);
  return callable;
}

[[nodiscard]] int32_t callSlot(HostRoutine slot, LevelizeContext* context, LevDesign* design) {
  return reinterpret_cast<LevCallbackFn>(slot)(context, design);
}

[[nodiscard]] bool allBlank(const char* text, int32_t n) { return wzstrip(text, n) == 0; }

} // namespace

int32_t levValueWidth(const HostVariable* var) {
  if (var == nullptr)
    return 0;
  if (var->formatNameLength > 0 && var->formatWidth > 0)
    return var->formatWidth;
  return var->type == 1 ? 12 : var->length;
}

void levWidthCheck(LevVariable* v) {
  if (v->widthWarned || v->var == nullptr)
    return;
  if (v->levelWidth >= levValueWidth(v->var))
    return;
  vsfLog(LevMsg::ClassValuesCutToWidth,
         {HostMsgArg(v->var->name, v->var->nameLength), HostMsgArg(v->levelWidth)});
  v->widthWarned = 1;
}

LevelizeContext* zlevini(void* source, LevDesign* design) {
  QkPool* pool = xmpoolc(nullptr, 1024, 4102);
  if (pool == nullptr)
    return nullptr;
  auto* c = levArray<LevelizeContext>(pool, 1);
  if (c == nullptr) {
    xmpoold(pool);
    return nullptr;
  }
  c->pool = pool;
  c->keyOffset = kKeyOffset;
  const int32_t nc = design->classCount, nn = design->numericCount;

  // Level widths, offsets in the concatenation of all values, total and largest width.
  int32_t total = 0, largest = 0;
  for (int32_t i = 0; i < nc; ++i) {
    LevVariable& v = design->classes[i];
    if (v.levelWidth == 0)
      v.levelWidth = 16;
    else if (v.levelWidth < 0)
      v.levelWidth = v.var != nullptr ? levValueWidth(v.var) : 16;
    if (v.levelWidth <= 0)
      v.levelWidth = 16;
    v.levelTextOffset = total;
    total += v.levelWidth;
    if (v.levelWidth > largest)
      largest = v.levelWidth;
    if (v.referenceSelector == 0)
      v.referenceSelector = -2;
  }
  design->totalLevelWidth = total;
  design->maxLevelWidth = largest;
  c->nodeSize = largest + 63;

  if (nc > 0) {
    c->levelCounts = levArray<int32_t>(pool, nc);
    c->trees = levArray<void*>(pool, nc);
    c->active = levArray<int32_t>(pool, nc);
    c->formatted = levArray<char*>(pool, nc);
    c->seen = levArray<LevSeen>(pool, nc);
  }
  if (nn > 0) {
    c->minima = levArray<double>(pool, nn);
    c->maxima = levArray<double>(pool, nn);
    c->numeric = levArray<double>(pool, nn);
    for (int32_t j = 0; j < nn; ++j) {
      c->minima[j] = DBL_MAX;
      c->maxima[j] = -DBL_MAX;
    }
  }
  for (int32_t i = 0; i < nc; ++i) {
    const LevVariable& v = design->classes[i];
    if (v.var != nullptr && v.var->type == 1)
      ++c->numericClassCount;
    else
      ++c->charClassCount;
  }
  if (c->numericClassCount > 0) {
    c->numericClass = levArray<int32_t>(pool, c->numericClassCount);
    c->numericInternal = levArray<double>(pool, c->numericClassCount);
  }
  if (c->charClassCount > 0) {
    c->charClass = levArray<int32_t>(pool, c->charClassCount);
    c->charInternal = levArray<LevCharValue>(pool, c->charClassCount);
  }
  int32_t kn = 0, kc = 0;
  for (int32_t i = 0; i < nc; ++i) {
    LevVariable& v = design->classes[i];
    c->active[i] = 1;
    c->formatted[i] = levArray<char>(pool, static_cast<size_t>(v.levelWidth));
    std::memset(c->formatted[i], ' ', static_cast<size_t>(v.levelWidth));
    if (v.var != nullptr && v.var->type == 1) {
      c->numericClass[kn++] = i;
    } else {
      LevCharValue& cv = c->charInternal[kc];
      cv.length = v.var != nullptr && v.var->length > 0 ? v.var->length : 1;
      cv.buffer = levArray<char>(pool, static_cast<size_t>(cv.length));
      std::memset(cv.buffer, ' ', static_cast<size_t>(cv.length));
      c->charClass[kc++] = i;
    }
  }
  c->getInit = registered(defaultInit);
  c->getNext = registered(defaultNext);
  c->getVals = registered(defaultVals);
  c->source = source;
  return c;
}

void zlevadd(void* tag, LevelizeContext* context, LevDesign* design) {
  // With workers the pass is theirs; when they fail it is redone here from the first
  // observation, with the formatted values asked of the host as the serial pass reads them.
  if (context->threadData != nullptr) {
    if (zlevThreadedPass(context, design) == VsfStatus::Ok)
      return;
    levRestartPass(context, design);
    auto* data = static_cast<HostDataSet*>(tag);
    for (int32_t i = 0; data != nullptr && i < design->classCount; ++i) {
      HostVariable* var = design->classes[i].var;
      // A formatting hint: it fails only for a data set not open, which the reads report.
      if (var != nullptr && var->number > 0)
        (void)xffile(data, 70, &var->number, 1);
    }
  }
  context->serial = 1;
  // A source that cannot start over logs it and fails the step (zlevGetInit).
  if (context->getInit != nullptr)
    (void)callSlot(context->getInit, context, design);
  LevelNode* found = nullptr;
  LevelNode* spare = nullptr;
  while (context->getNext != nullptr && callSlot(context->getNext, context, design) != 0)
    zlevad1(tag, context, design, &found, &spare);
}

bool levTakeObservation(LevelizeContext* c, LevDesign* design) {
  // Fetch.
  const int32_t fetched =
      c->getVals != nullptr ? callSlot(c->getVals, c, design) : defaultVals(c, design);
  if (fetched == 0) {
    levObservationNotRead(design);
    return false;
  }
  // Filter.
  if (c->filter != nullptr && reinterpret_cast<LevFilterHookFn>(c->filter)(c) == 0)
    return false;
  const bool perVariable = has(design->wideFlags, LevWideFlag::MissingPerVar);
  // Completeness.
  if (!perVariable) {
    for (int32_t k = 0; k < c->charClassCount; ++k) {
      const LevVariable& v = design->classes[c->charClass[k]];
      if (!v.missing && !v.multimemberMember &&
          allBlank(c->charInternal[k].buffer, c->charInternal[k].length))
        return false;
    }
    for (int32_t k = 0; k < c->numericClassCount; ++k) {
      const LevVariable& v = design->classes[c->numericClass[k]];
      if (!v.missing && !v.multimemberMember && isHostMissing(c->numericInternal[k]))
        return false;
    }
    for (int32_t j = 0; j < design->numericCount; ++j)
      if (isHostMissing(c->numeric[j]))
        return false;
  }
  return true;
}

bool levSkipsValue(const LevVariable& v, const LevDesign* design, bool present) {
  const bool perVariable = has(design->wideFlags, LevWideFlag::MissingPerVar);
  const bool test = v.multimemberMember || (perVariable && !v.missing);
  return test && !present;
}

int64_t levFrequency(const LevDesign* design, double f) {
  if (design->freqVariable == nullptr)
    return 1;
  if (isHostMissing(f) || !(f >= 1.0) || f > 9.223372036854776e18)
    return 0;
  return static_cast<int64_t>(f);
}

bool levSmallerNumber(double now, double kept) {
  return !isHostMissing(kept) && (isHostMissing(now) || now < kept);
}

void levUpdateRange(LevelizeContext* c, const LevDesign* design) {
  for (int32_t j = 0; j < design->numericCount; ++j) {
    double x = c->numeric[j];
    if (isHostMissing(x))
      continue;
    if (x < c->minima[j])
      c->minima[j] = x;
    if (x > c->maxima[j])
      c->maxima[j] = x;
  }
}

namespace {

// The node of the level with these bytes among those met, or null.
LevelNode* seenLevel(const LevSeen& s, const char* value, int32_t width) {
  if (s.slots == nullptr)
    return nullptr;
  const LevLookupSlot* hit = levKeyFind(s.slots, s.mask, value, width, [](const LevLookupSlot& t) {
    return static_cast<const LevelNode*>(t.item)->formatted;
  });
  return hit != nullptr ? static_cast<LevelNode*>(const_cast<void*>(hit->item)) : nullptr;
}

void placeSeenLevel(LevSeen& s, LevelNode* node, int32_t width) {
  const uint64_t hash = levKeyHash(node->formatted, width);
  levKeyPlace(s.slots, s.mask, hash, levKeySlot(hash, node->formatted, width, node, -1));
  ++s.count;
}

// Adds a new level's node, doubling the slots past half full. Without memory the table is
// given up and the tree alone finds the levels.
void addSeenLevel(QkPool* pool, LevSeen& s, LevelNode* node, int32_t width) {
  if (s.slots == nullptr && s.count < 0)
    return;
  if (s.slots == nullptr || 2 * static_cast<uint64_t>(s.count + 1) > s.mask + 1) {
    const uint64_t slots = s.slots == nullptr ? 64 : 2 * (s.mask + 1);
    auto* grown = levArray<LevLookupSlot>(pool, slots);
    if (grown == nullptr) {
      if (s.slots != nullptr)
        pool->free(pool, s.slots);
      s = LevSeen{nullptr, 0, -1};
      return;
    }
    std::fill(grown, grown + slots, LevLookupSlot{});
    LevSeen next{grown, slots - 1, 0};
    for (uint64_t k = 0; s.slots != nullptr && k <= s.mask; ++k)
      if (s.slots[k].tag != 0)
        placeSeenLevel(next, static_cast<LevelNode*>(const_cast<void*>(s.slots[k].item)), width);
    if (s.slots != nullptr)
      pool->free(pool, s.slots);
    s = next;
  }
  placeSeenLevel(s, node, width);
}

} // namespace

int32_t zlevad1(void*, LevelizeContext* c, LevDesign* design, LevelNode** found,
                LevelNode** spare) {
  if (!levTakeObservation(c, design))
    return 0;
  // Insert.
  const int64_t weight = levFrequency(design, design->freqValue);
  int32_t kn = 0, kc = 0;
  for (int32_t i = 0; i < design->classCount; ++i) {
    LevVariable& v = design->classes[i];
    const bool numeric = v.var != nullptr && v.var->type == 1;
    const int32_t slot = numeric ? kn++ : kc++;
    if (!c->active[i])
      continue;
    bool present = numeric ? !isHostMissing(c->numericInternal[slot])
                           : !allBlank(c->charInternal[slot].buffer, c->charInternal[slot].length);
    if (levSkipsValue(v, design, present))
      continue;
    LevelNode* node = *spare;
    if (node == nullptr)
      node = static_cast<LevelNode*>(levBlock(c->pool, static_cast<size_t>(c->nodeSize)));
    std::memcpy(node->formatted, c->formatted[i], static_cast<size_t>(v.levelWidth));
    // Levels are told apart by their left-justified values, as they print and as an
    // observation's value is looked up: " a" and "a" are one level.
    if (!v.keepJustification)
      leftJustify(node->formatted, v.levelWidth);
    LevelNode* hit =
        c->seen != nullptr ? seenLevel(c->seen[i], node->formatted, v.levelWidth) : nullptr;
    if (hit == nullptr) {
      hit = static_cast<LevelNode*>(ztrebld(&c->trees[i], node, v.levelWidth, kKeyOffset));
      if (hit == node && c->seen != nullptr)
        addSeenLevel(c->pool, c->seen[i], node, v.levelWidth);
    }
    *found = hit;
    if (hit == node) {
      if (numeric) {
        node->internal.number = c->numericInternal[slot];
      } else {
        const LevCharValue& cv = c->charInternal[slot];
        node->internal.text = static_cast<char*>(levBlock(c->pool, static_cast<size_t>(cv.length)));
        std::memcpy(node->internal.text, cv.buffer, static_cast<size_t>(cv.length));
        node->internalLength = cv.length;
      }
      node->frequency = weight;
      node->firstAppearance = c->levelCounts[i];
      c->levelCounts[i] += 1;
      *spare = nullptr;
    } else {
      hit->frequency += weight;
      if (numeric) {
        if (levSmallerNumber(c->numericInternal[slot], hit->internal.number))
          hit->internal.number = c->numericInternal[slot];
      } else {
        const LevCharValue& cv = c->charInternal[slot];
        int32_t n = cv.length < hit->internalLength ? cv.length : hit->internalLength;
        if (std::memcmp(cv.buffer, hit->internal.text, static_cast<size_t>(n)) < 0)
          std::memcpy(hit->internal.text, cv.buffer, static_cast<size_t>(n));
      }
      *spare = node;
    }
  }
  levUpdateRange(c, design);
  return 1;
}

namespace {

// The hash slots of the lookup entries, so that a row finds its level in a probe or two
// rather than a binary search over the level texts. Without memory the slots stay null and
// the lookup searches the sorted entries.
void hashLookup(QkPool* pool, LevVariable& v) {
  v.lookupHash = nullptr;
  uint64_t slots = 16;
  while (slots < 2 * static_cast<uint64_t>(v.levelCount))
    slots *= 2;
  auto* table = levArray<LevLookupSlot>(pool, slots);
  if (table == nullptr)
    return;
  std::fill(table, table + slots, LevLookupSlot{});
  const uint64_t mask = slots - 1;
  for (int32_t k = 0; k < v.levelCount; ++k) {
    const uint64_t hash = levKeyHash(v.lookup[k], v.levelWidth);
    levKeyPlace(table, mask, hash,
                levKeySlot(hash, v.lookup[k], v.levelWidth, v.lookup[k], v.lookupIndex[k]));
  }
  v.lookupHash = table;
  v.lookupHashMask = static_cast<int32_t>(mask);
}

} // namespace

int32_t zlevlls(QkPool* pool, LevelizeContext* c, LevDesign* design, int32_t index,
                char*** valuesOut) {
  LevVariable& v = design->classes[index];
  if (!c->listed)
    ztrelst(&c->trees[index]);
  const int32_t n = c->levelCounts[index];
  const int32_t width = v.levelWidth;
  if (n <= 0)
    return 0;
  char** values = levArray<char*>(pool, n);
  v.lookup = levArray<char*>(pool, n);
  v.lookupIndex = levArray<int32_t>(pool, n);
  auto* internal = levArray<LevInternalValue>(pool, n);
  const bool numeric = v.var != nullptr && v.var->type == 1;
  int32_t k = 0;
  for (auto* node = static_cast<LevelNode*>(c->trees[index]); node != nullptr && k < n;
       node = static_cast<LevelNode*>(node->links[0]), ++k) {
    values[k] = levArray<char>(pool, static_cast<size_t>(width));
    std::memset(values[k], ' ', static_cast<size_t>(width));
    std::memcpy(values[k], node->formatted, static_cast<size_t>(width));
    if (!v.keepJustification)
      leftJustify(values[k], width);
    if (numeric) {
      internal[k].value = node->internal.number;
    } else {
      internal[k].length = node->internalLength;
      char* copy = levArray<char>(
          pool, static_cast<size_t>(node->internalLength > 0 ? node->internalLength : 1));
      std::memcpy(copy, node->internal.text, static_cast<size_t>(node->internalLength));
      internal[k].text = copy;
    }
  }
  *valuesOut = values;
  v.levelValues = internal;
  v.levelCount = n;
  zlevror(pool, c, design, index, values, 'L');
  values = *valuesOut;

  // Lookup table: the level values sorted by their bytes, with each one's final index.
  for (int32_t i = 0; i < n; ++i) {
    v.lookup[i] = values[i];
    v.lookupIndex[i] = i;
  }
  for (int32_t gap = n / 2; gap > 0; gap /= 2)
    for (int32_t j = gap; j < n; ++j)
      for (int32_t i = j - gap;
           i >= 0 && std::memcmp(v.lookup[i], v.lookup[i + gap], static_cast<size_t>(width)) > 0;
           i -= gap) {
        std::swap(v.lookup[i], v.lookup[i + gap]);
        std::swap(v.lookupIndex[i], v.lookupIndex[i + gap]);
      }
  hashLookup(pool, v);
  return n;
}

int32_t zlevlwh(void*, LevVariable* v, char* value) {
  const int32_t n = v->levelCount;
  if (n <= 0 || v->lookup == nullptr)
    return kVsfNotFound;
  const int32_t width = v->levelWidth;
  if (!v->keepJustification)
    leftJustify(value, width);
  if (const LevLookupSlot* table = v->lookupHash; table != nullptr) {
    const LevLookupSlot* hit =
        levKeyFind(table, static_cast<uint64_t>(v->lookupHashMask), value, width,
                   [](const LevLookupSlot& s) { return static_cast<const char*>(s.item); });
    return hit != nullptr ? hit->level : kVsfNotFound;
  }
  int32_t lo = 0, hi = n - 1;
  while (hi - lo > 5) {
    int32_t mid = (lo + hi) / 2;
    int r = std::memcmp(value, v->lookup[mid], static_cast<size_t>(width));
    if (r == 0)
      return v->lookupIndex[mid];
    if (r < 0)
      hi = mid;
    else
      lo = mid;
  }
  for (int32_t i = lo; i <= hi; ++i)
    if (std::memcmp(value, v->lookup[i], static_cast<size_t>(width)) == 0)
      return v->lookupIndex[i];
  return kVsfNotFound;
}

int32_t zlevllm(void*, LevelizeContext* c, LevDesign*, int32_t index, double* out) {
  double lo = c->minima[index], hi = c->maxima[index];
  if (lo == DBL_MAX)
    return 0;
  out[0] = (lo + hi) * 0.5;
  out[1] = (hi - lo) * 0.5;
  return out[1] == 0.0 ? 1 : 2;
}

void levRestartPass(LevelizeContext* c, const LevDesign* design) {
  for (int32_t i = 0; i < design->classCount; ++i) {
    c->levelCounts[i] = 0;
    c->trees[i] = nullptr;
    if (c->seen != nullptr) {
      if (c->seen[i].slots != nullptr)
        c->pool->free(c->pool, c->seen[i].slots);
      c->seen[i] = LevSeen{};
    }
  }
  for (int32_t j = 0; j < design->numericCount; ++j) {
    c->minima[j] = DBL_MAX;
    c->maxima[j] = -DBL_MAX;
  }
}
