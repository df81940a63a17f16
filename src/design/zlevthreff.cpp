// The threaded effect-level pass: the level combinations each worker meets, their merge
// into the serial pass's trees, and the main thread's index of the unformatted values that
// the workers met. Declared in design/levthread.h (the entries) and design/levthrwork.h
// (a worker's work on one buffer).
#include "design/levthrwork.h"

#include "design/levfmt.h"
#include "design/levrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/qkaux.h"
#include "support/qkavlt.h"
#include "support/wzstr.h"
#include "support/ztree.h"

#include <algorithm>
#include <cfenv>
#include <cfloat>
#include <cstddef>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

using namespace levthr;

namespace {

// Every bit of the value moves every bit of the hash: doubles differ in their high bits,
// texts anywhere.
uint64_t mix(uint64_t x) {
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t hashBytes(const char* key, int32_t width) {
  uint64_t h = static_cast<uint64_t>(width);
  for (int32_t at = 0; at < width; at += 8) {
    uint64_t word = 0;
    std::memcpy(&word, key + at, static_cast<size_t>(std::min(8, width - at)));
    h = mix(h ^ word);
  }
  return h;
}

// The slot of `key`: the one that holds it, or the empty one where it belongs.
int64_t rawSlot(const RawIndex& x, const char* key) {
  for (int64_t s = static_cast<int64_t>(hashBytes(key, x.width)) & x.mask;; s = (s + 1) & x.mask) {
    const int64_t at = x.slots[s];
    if (at < 0 || std::memcmp(x.values + at * x.width, key, static_cast<size_t>(x.width)) == 0)
      return s;
  }
}

void rawAdd(RawIndex& x, const char* key, int32_t level) {
  const int64_t s = rawSlot(x, key);
  if (x.slots[s] >= 0)
    return;
  std::memcpy(x.values + x.count * x.width, key, static_cast<size_t>(x.width));
  x.levels[x.count] = level;
  x.slots[s] = x.count++;
}

// The level index of `key`, -1 when no worker met it.
int32_t rawFind(const RawIndex& x, const char* key) {
  const int64_t at = x.slots[rawSlot(x, key)];
  return at < 0 ? -1 : x.levels[at];
}

} // namespace

// ---- the effect-level pass ---------------------------------------------------------------

namespace levthr {

int32_t keySize(const LevEffect& ef) {
  return static_cast<int32_t>(round8(4 * ef.allClassCount + 32));
}

// A key record of effect `e` from the worker's pool: links, then the nested and the crossed
// level indices from byte 24.
char* keyRecord(Worker* w, int32_t e) {
  if (w->spareKeys[e] != nullptr)
    return w->spareKeys[e];
  const LevEffect& ef = w->control->design->effects[w->control->effects[e]];
  return w->spareKeys[e] = static_cast<char*>(w->pool->allocate(w->pool, size_t(keySize(ef)), 0));
}

uint32_t treeEffects(Worker* w) {
  LevelizeThreadControl* c = w->control;
  const LevDesign* d = c->design;
  for (int64_t r = 0; r < w->count; ++r) {
    const auto* levels = reinterpret_cast<const int32_t*>(w->buffer + r * c->rowSize);
    for (int32_t e = 0; e < c->effectCount; ++e) {
      const LevEffect& ef = d->effects[c->effects[e]];
      char* key = keyRecord(w, e);
      if (key == nullptr)
        return kNoMemory;
      auto* slots = reinterpret_cast<int32_t*>(key + kEffectKey);
      int32_t k = 0;
      bool negative = false;
      for (int32_t j = 0; j < ef.nestedCount; ++j)
        negative = (slots[k++] = levels[ef.nested[j]]) < 0 || negative;
      for (int32_t j = 0; j < ef.crossedCount; ++j)
        negative = (slots[k++] = levels[ef.crossed[j]]) < 0 || negative;
      if (negative)
        continue;
      QkAvlTree* t = w->effectTrees[e];
      if (t->insert(&t->header, key) == key)
        w->spareKeys[e] = nullptr;
    }
  }
  return 0;
}

[[nodiscard]] bool makeEffectStructures(LevelizeThreadControl* c) {
  const LevDesign* d = c->design;
  c->effects = static_cast<int32_t*>(take(c, sizeof(int32_t) * size_t(d->effectCount)));
  if (c->effects == nullptr)
    return false;
  c->effectCount = 0;
  for (int32_t e = 0; e < d->effectCount; ++e)
    if (d->effects[e].allClassCount > 0)
      c->effects[c->effectCount++] = e;
  c->rowSize = static_cast<int32_t>(round8(4 * int64_t(d->classCount)));
  c->capacity = entriesPerBuffer(c->capacity, c->workerCount, c->rowSize);
  for (int32_t i = 0; i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    // The level pass's buffer serves when it is large enough.
    const int64_t bytes = int64_t{c->rowSize} * c->capacity;
    if (w.bufferBytes < bytes) {
      w.buffer = static_cast<char*>(take(c, size_t(bytes)));
      w.bufferBytes = bytes;
    }
    w.effectTrees = static_cast<QkAvlTree**>(take(c, sizeof(void*) * size_t(c->effectCount)));
    w.spareKeys = static_cast<char**>(take(c, sizeof(char*) * size_t(c->effectCount)));
    if (w.buffer == nullptr || w.effectTrees == nullptr || w.spareKeys == nullptr)
      return false;
    for (int32_t e = 0; e < c->effectCount; ++e) {
      QkAvlDescriptor desc{d->effects[c->effects[e]].allClassCount, kEffectKey, QKAVL_INT32, 0,
                           nullptr};
      if ((w.effectTrees[e] = c->avl->createTree(c->avl, &desc, nullptr, nullptr)) == nullptr)
        return false;
    }
  }
  return true;
}

// Inserts every worker's keys (workers in order) into the effects' trees of the serial pass.
void mergeEffects(LevelizeThreadControl* c, void** roots, QkPool* temp) {
  LevDesign* d = c->design;
  for (int32_t e = 0; e < c->effectCount; ++e) {
    LevEffect& ef = d->effects[c->effects[e]];
    const int32_t n = ef.allClassCount;
    char* spare = nullptr;
    for (int32_t i = 0; i < c->workerCount; ++i) {
      QkAvlTree* t = c->workers[i].effectTrees[e];
      for (auto* rec = static_cast<char*>(t->first(&t->header)); rec != nullptr;
           rec = static_cast<char*>(t->next(rec))) {
        if (spare == nullptr)
          spare = levArray<char>(temp, static_cast<size_t>(4 * n + 28));
        std::memcpy(spare + kEffectKey, rec + kEffectKey, static_cast<size_t>(4 * n));
        if (ztrebdf(&roots[c->effects[e]], spare, 4 * n, kEffectKey, Compare) == spare) {
          ef.combinationCount += 1;
          spare = nullptr;
        }
      }
    }
  }
}

// Gives every level the workers met its final index, now that the levels are ordered, so
// that an unformatted value looked up in the first worker's tables gives its level index.
void resolveLevelIndices(LevelizeThreadControl* c) {
  const LevDesign* d = c->design;
  for (int32_t v = 0; v < d->classCount; ++v) {
    LevVariable& var = d->classes[v];
    std::vector<char> text(static_cast<size_t>(std::max(var.levelWidth, 1)));
    for (int32_t i = 0; i < c->workerCount; ++i) {
      QkAvlTree* t = c->workers[i].levels[v];
      for (auto* wl = static_cast<WorkerLevel*>(t->first(&t->header)); wl != nullptr;
           wl = static_cast<WorkerLevel*>(t->next(wl))) {
        std::memcpy(text.data(), wl->key, static_cast<size_t>(var.levelWidth));
        wl->levelIndex = zlevlwh(nullptr, &var, text.data());
      }
    }
  }
}

// The index of every unformatted value the workers met, with its level index; false when
// memory runs out.
[[nodiscard]] bool makeRawIndex(LevelizeThreadControl* c) {
  const LevDesign* d = c->design;
  c->rawIndex = static_cast<RawIndex*>(take(c, sizeof(RawIndex) * size_t(d->classCount)));
  if (c->rawIndex == nullptr)
    return false;
  for (int32_t v = 0; v < d->classCount; ++v) {
    int64_t met = 0; // at most the values all workers met, some of them several times
    for (int32_t i = 0; i < c->workerCount; ++i)
      for (RawLink* link = c->workers[i].rawAdded[v]; link != nullptr; link = link->next)
        ++met;
    int64_t slots = 16;
    while (slots < 2 * met)
      slots *= 2;
    RawIndex& x = c->rawIndex[v];
    x.width = c->rawLengths[v];
    x.mask = slots - 1;
    x.slots = static_cast<int64_t*>(take(c, sizeof(int64_t) * size_t(slots)));
    x.values = static_cast<char*>(take(c, size_t(x.width) * size_t(met)));
    x.levels = static_cast<int32_t*>(take(c, sizeof(int32_t) * size_t(met)));
    if (x.slots == nullptr || (met > 0 && (x.values == nullptr || x.levels == nullptr)))
      return false;
    std::fill(x.slots, x.slots + slots, int64_t{-1});
    for (int32_t i = 0; i < c->workerCount; ++i)
      for (RawLink* link = c->workers[i].rawAdded[v]; link != nullptr; link = link->next)
        rawAdd(x, link->key, link->level->levelIndex);
  }
  return true;
}

// Room for the current observation's unformatted CLASS values.
[[nodiscard]] bool makeRawValues(LevelizeThreadControl* c) {
  const LevDesign* d = c->design;
  c->numericRaw = static_cast<double*>(take(c, sizeof(double) * size_t(d->classCount)));
  c->charRaw = static_cast<LevCharValue*>(take(c, sizeof(LevCharValue) * size_t(d->classCount)));
  if (c->numericRaw == nullptr || c->charRaw == nullptr)
    return false;
  for (int32_t v = 0; v < d->classCount; ++v) {
    if (c->charSlot[v] < 0)
      continue;
    LevCharValue& cv = c->charRaw[c->charSlot[v]];
    cv.length = c->rawLengths[v];
    if ((cv.buffer = static_cast<char*>(take(c, size_t(cv.length)))) == nullptr)
      return false;
  }
  return true;
}

// True when a row's status can be had from its unformatted values alone: no constructed
// effects and none of the context's further variables, whose rules only zlevrgd knows.
bool rawStatusSuffices(const LevRegContext* ctx) {
  return ctx->design->constructedCount == 0 && ctx->extraExplanatory == nullptr &&
         ctx->extraResponse1 == nullptr && ctx->extraResponse2 == nullptr;
}

// The current observation's level indices (into ctx->levelIndex) and row status from its
// unformatted values, each looked up among those the level pass met: the same indices and
// status that zlevrgd gives, without formatting a value. None when a value is not among
// them; the caller then asks zlevrgd.
[[nodiscard]] std::optional<LevRowStatusSet>
rawRowStatus(LevelizeThreadControl* c, LevRegContext* ctx, double* y, double* w, double* f) {
  const LevDesign* d = c->design;
  double* responses = y != nullptr ? y : ctx->fit.responses;
  void* dest[6] = {ctx->numeric, responses, w, f, c->numericRaw, c->charRaw};
  const uint8_t formatted = ctx->formattedFetch;
  ctx->formattedFetch = 0;
  const int32_t fetched = zlevGetVals(ctx, "zywfub", dest);
  ctx->formattedFetch = formatted;
  if (fetched == 0)
    return std::nullopt;
  for (int32_t v = 0; v < d->classCount; ++v) {
    const char* raw = c->numSlot[v] >= 0
                          ? reinterpret_cast<const char*>(&c->numericRaw[c->numSlot[v]])
                          : c->charRaw[c->charSlot[v]].buffer;
    const int32_t level = rawFind(c->rawIndex[v], raw);
    if (level < 0)
      return std::nullopt;
    ctx->levelIndex[v] = level;
  }
  LevRowStatusSet status;
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (d->numerics[j].var != nullptr && isHostMissing(ctx->numeric[j]))
      status |= LevRowStatus::Explanatory | LevRowStatus::Numeric;
  for (int32_t r = 0; responses != nullptr && r < ctx->responseCount; ++r)
    if (isHostMissing(responses[r]))
      status |= LevRowStatus::Response;
  if (w != nullptr && ctx->weights != nullptr && (isHostMissing(*w) || !(*w > 0)))
    status |= LevRowStatus::Weight;
  if (f != nullptr && ctx->freq != nullptr && (isHostMissing(*f) || !(*f > 0)))
    status |= LevRowStatus::Weight;
  return status;
}

} // namespace levthr

int32_t ThreadInit(LevRegContext* ctx) {
  LevelizeThreadControl* c = ctx->threads;
  if (c == nullptr || !ctx->threadsAllowed || !c->threadsRunning || ctx->design->classCount == 0 ||
      !c->keepRaw)
    return 0;
  resolveLevelIndices(c);
  if (!makeEffectStructures(c) || !makeRawValues(c) || !makeRawIndex(c)) {
    CleanupEThreads(ctx);
    return 0;
  }
  return 1;
}

VsfStatus zlevThreadedEffects(LevRegContext* ctx, void** roots, QkPool* temp, double* y, double* w,
                              double* f) {
  LevelizeThreadControl* c = ctx->threads;
  LevDesign* d = ctx->design;
  c->job = Job::Effects;
  c->failureMessage = EffMsg{};
  const bool perVariable = has(d->wideFlags, LevWideFlag::MissingPerVar);
  const bool raw = rawStatusSuffices(ctx);
  (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  const bool ok = runPass(c, [&] {
    Worker* current = &c->workers[0];
    while (current != nullptr && zlevGetNext(ctx) != 0) {
      std::optional<LevRowStatusSet> found;
      if (raw)
        found = rawRowStatus(c, ctx, y, w, f);
      const LevRowStatusSet status = found ? *found : zlevrgd(ctx, y, w, f);
      if (!perVariable && levRowSkipsLevels(status))
        continue;
      std::memcpy(current->buffer + current->count * c->rowSize, ctx->levelIndex,
                  sizeof(int32_t) * static_cast<size_t>(d->classCount));
      current->count += 1;
      current = advance(c, current);
    }
    return current;
  });
  if (!ok) {
    CleanupEThreads(ctx);
    ctx->threadsAllowed = 0;
    return VsfStatus::ReportedFailure;
  }
  mergeEffects(c, roots, temp);
  CleanupEThreads(ctx);
  return VsfStatus::Ok;
}

void CleanupEThreads(LevRegContext* ctx) {
  if (ctx->threads != nullptr)
    destroyControl(ctx->threads);
}
