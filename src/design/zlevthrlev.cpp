// The threaded level pass: the rows per buffer, the control record and the workers'
// structures, the packing of observations into buffers, a worker's levels of one buffer and
// their merge into the serial pass's trees. Declared in design/levthread.h (the entries) and
// design/levthrwork.h (the parts the other passes share).
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
#include <stdexcept>
#include <vector>

using namespace levthr;

// ---- the level pass ----------------------------------------------------------------------

namespace levthr {

bool isNumericVar(const LevVariable& v) { return v.var != nullptr && v.var->type == 1; }

// The bytes of a CLASS variable's unformatted value in a row.
int32_t rawBytes(const LevelizeThreadControl* c, int32_t v) { return c->rawLengths[v]; }

// Rows per buffer of the level pass for n observations in the input and T workers: n / 2T
// below 200,000 observations and n / 4T from there, so that every worker gets a few large
// buffers (the hand-over stays rare and the rows still spread over the workers), 1000
// when the count is unknown; all workers' buffers within a fifth of M = the host's memory
// figure x 256 bytes; at least 20 rows, which wins over the memory cut.
int64_t rowsPerBuffer(int64_t n, int32_t T, int32_t rowSize) {
  int64_t rows = n < 1 ? 1000 : n < 200000 ? n / (2 * int64_t{T}) : n / (4 * int64_t{T});
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) == 0 && kilobytes > 0)
    rows = std::min(rows, kilobytes * 256 / (5 * int64_t{T} * rowSize));
  return std::max<int64_t>(rows, 20);
}

// Entries per buffer of the effect-level pass: the level pass's rows per buffer, cut so
// that all workers' buffers stay within 102 times the host's memory figure in bytes.
int64_t entriesPerBuffer(int64_t rows, int32_t T, int32_t entrySize) {
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) == 0 && kilobytes > 0 && T * entrySize * rows > 102 * kilobytes)
    rows = 102 * kilobytes / (int64_t{T} * entrySize);
  return std::max<int64_t>(rows, 1);
}

int64_t inputObservations(const LevRegContext* ctx) {
  const LevReadBlock* rb = ctx->library;
  return rb != nullptr && rb->data != nullptr ? xdsnobs(rb->data) : -1;
}

// Row layout and rows per buffer.
void layRows(LevelizeThreadControl* c) {
  const LevDesign* d = c->design;
  int32_t at = 8;
  c->freqOffset = -1;
  if (d->freqVariable != nullptr) {
    c->freqOffset = at;
    at += 8;
  }
  int32_t kn = 0, kc = 0;
  for (int32_t i = 0; i < d->classCount; ++i) {
    c->offsets[i] = at;
    if (isNumericVar(d->classes[i])) {
      c->numSlot[i] = kn++;
      c->charSlot[i] = -1;
      c->rawLengths[i] = 8;
    } else {
      c->charSlot[i] = kc++;
      c->numSlot[i] = -1;
      c->rawLengths[i] = c->levels->charInternal[c->charSlot[i]].length;
    }
    at += static_cast<int32_t>(round8(c->rawLengths[i]));
  }
  c->rowSize = at;
  c->capacity = rowsPerBuffer(inputObservations(c->owner), c->workerCount, c->rowSize);
}

[[nodiscard]] bool makeWorkerStructures(LevelizeThreadControl* c) {
  QkHandle* qk = kernel();
  const LevDesign* d = c->design;
  for (int32_t i = 0; i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    QkPoolAttributes attrs{1, 0, {0, 0}};
    w.pool = qk->createPool(qk, &attrs, nullptr, "Levelize worker pool");
    w.raw = static_cast<QkAuxTable**>(take(c, sizeof(void*) * size_t(d->classCount)));
    w.levels = static_cast<QkAvlTree**>(take(c, sizeof(void*) * size_t(d->classCount)));
    w.rawAdded = static_cast<RawLink**>(take(c, sizeof(void*) * size_t(d->classCount)));
    w.bufferBytes = int64_t{c->rowSize} * c->capacity;
    w.buffer = static_cast<char*>(take(c, size_t(w.bufferBytes)));
    if (w.pool == nullptr || w.raw == nullptr || w.rawAdded == nullptr || w.levels == nullptr ||
        w.buffer == nullptr)
      return false;
    for (int32_t v = 0; v < d->classCount; ++v) {
      const int32_t rawSize =
          isNumericVar(d->classes[v]) ? 8 : c->levels->charInternal[c->charSlot[v]].length;
      w.raw[v] = c->aux->createTable(c->aux, rawSize, sizeof(WorkerLevel*));
      QkAvlDescriptor desc{d->classes[v].levelWidth, kWorkerKey, QKAVL_BYTES, 0, nullptr};
      w.levels[v] = c->avl->createTree(c->avl, &desc, nullptr, nullptr);
      if (w.raw[v] == nullptr || w.levels[v] == nullptr)
        return false;
    }
  }
  return true;
}

[[nodiscard]] bool makeFormatter(LevelizeThreadControl* c) {
  const LevDesign* d = c->design;
  std::vector<const HostVariable*> vars(static_cast<size_t>(d->classCount));
  std::vector<int32_t> widths(static_cast<size_t>(d->classCount));
  for (int32_t i = 0; i < d->classCount; ++i) {
    vars[static_cast<size_t>(i)] = d->classes[i].var;
    widths[static_cast<size_t>(i)] = d->classes[i].levelWidth;
  }
  FormatFailure failure = FormatFailure::None;
  c->format = zplxfmt(vars.data(), widths.data(), d->classCount, c->workerCount, &failure);
  return c->format != nullptr;
}

LevelizeThreadControl* makeControl(LevRegContext* ctx, LevelizeContext* lctx) {
  QkHandle* qk = kernel();
  QkPoolAttributes attrs{1, 0, {0, 0}};
  QkPool* pool = qk->createPool(qk, &attrs, nullptr, "Levelize pool");
  if (pool == nullptr)
    return nullptr;
  auto* c = static_cast<LevelizeThreadControl*>(
      pool->allocate(pool, sizeof(LevelizeThreadControl), kQkZeroed));
  if (c == nullptr) {
    pool->destroy(pool);
    return nullptr;
  }
  LevDesign* d = ctx->design;
  c->pool = pool;
  c->owner = ctx;
  c->design = d;
  c->levels = lctx;
  c->workerCount = ctx->workerCount;
  ctx->threads = c;
  const size_t nc = static_cast<size_t>(d->classCount);
  c->offsets = static_cast<int32_t*>(take(c, sizeof(int32_t) * nc));
  c->charSlot = static_cast<int32_t*>(take(c, sizeof(int32_t) * nc));
  c->numSlot = static_cast<int32_t*>(take(c, sizeof(int32_t) * nc));
  c->rawLengths = static_cast<int32_t*>(take(c, sizeof(int32_t) * nc));
  c->workers = static_cast<Worker*>(take(c, sizeof(Worker) * size_t(c->workerCount)));
  c->avl = reinterpret_cast<QkAvlExtension*>(qkLoadByName(kernel(), "qkavlt"));
  c->aux = reinterpret_cast<QkAuxExtension*>(qkLoadByName(kernel(), "qkaux"));
  bool ok = c->offsets != nullptr && c->charSlot != nullptr && c->numSlot != nullptr &&
            c->rawLengths != nullptr && c->workers != nullptr && c->avl != nullptr &&
            c->aux != nullptr;
  if (ok) {
    layRows(c);
    ok = makeWorkerStructures(c) && makeFormatter(c) && readyWorkers(c);
  }
  if (!ok) {
    destroyControl(c);
    return nullptr;
  }
  return c;
}

// Packs the current observation's raw CLASS values and frequency into the next row.
void pack(LevelizeThreadControl* c, Worker* w, int64_t observation) {
  const LevelizeContext* l = c->levels;
  char* row = w->buffer + w->count * c->rowSize;
  std::memcpy(row, &observation, 8);
  if (c->freqOffset >= 0)
    std::memcpy(row + c->freqOffset, &c->design->freqValue, 8);
  for (int32_t i = 0; i < c->design->classCount; ++i) {
    if (c->numSlot[i] >= 0) {
      std::memcpy(row + c->offsets[i], &l->numericInternal[c->numSlot[i]], 8);
    } else {
      const LevCharValue& cv = l->charInternal[c->charSlot[i]];
      std::memcpy(row + c->offsets[i], cv.buffer, static_cast<size_t>(cv.length));
    }
  }
  w->count += 1;
}

// The level of a raw value new to this worker: formatted, found or added in the worker's
// level tree; a level met again keeps the smaller representative value.
WorkerLevel* levelOfNewRaw(Worker* w, int32_t v, const char* raw, int64_t observation) {
  LevelizeThreadControl* c = w->control;
  const LevVariable& var = c->design->classes[v];
  const bool numeric = c->numSlot[v] >= 0;
  const int32_t rawLength = rawBytes(c, v);
  FormatRecord* fr = &c->format->records[w->index];
  if (QKFormatToPLX(c->format, fr, v, raw, rawLength) != 0)
    return nullptr;
  const size_t nodeSize = static_cast<size_t>(kWorkerKey + round8(var.levelWidth));
  auto* node = static_cast<WorkerLevel*>(w->pool->allocate(w->pool, nodeSize, kQkZeroed));
  if (node == nullptr)
    return nullptr;
  std::memcpy(node->key, fr->out, static_cast<size_t>(var.levelWidth));
  if (!var.keepJustification)
    wzstjls(node->key, var.levelWidth, 'L', nullptr, nullptr);
  auto* hit = static_cast<WorkerLevel*>(w->levels[v]->insert(&w->levels[v]->header, node));
  if (hit == node) {
    node->first = observation;
    node->levelIndex = -1;
    if (numeric) {
      std::memcpy(&node->number, raw, 8);
    } else {
      node->text = static_cast<char*>(w->pool->allocate(w->pool, size_t(rawLength), 0));
      if (node->text == nullptr)
        return nullptr;
      std::memcpy(node->text, raw, static_cast<size_t>(rawLength));
    }
    return node;
  }
  w->pool->free(w->pool, node);
  if (numeric) {
    double now;
    std::memcpy(&now, raw, 8);
    if (levSmallerNumber(now, hit->number))
      hit->number = now;
  } else if (std::memcmp(raw, hit->text, static_cast<size_t>(rawLength)) < 0) {
    std::memcpy(hit->text, raw, static_cast<size_t>(rawLength));
  }
  return hit;
}

// Notes a value new to this worker for the effect-level pass's lookups.
[[nodiscard]] bool noteRaw(Worker* w, int32_t v, const char* raw, int32_t rawLength,
                           WorkerLevel* level) {
  const size_t size = static_cast<size_t>(kRawKey + round8(rawLength));
  auto* link = static_cast<RawLink*>(w->pool->allocate(w->pool, size, 0));
  if (link == nullptr)
    return false;
  std::memcpy(link->key, raw, static_cast<size_t>(rawLength));
  link->level = level;
  link->next = w->rawAdded[v];
  w->rawAdded[v] = link;
  return true;
}

uint32_t levelizeBuffer(Worker* w) {
  LevelizeThreadControl* c = w->control;
  const LevDesign* d = c->design;
  for (int64_t r = 0; r < w->count; ++r) {
    if (mathFault(w))
      return kFault;
    const char* row = w->buffer + r * c->rowSize;
    int64_t observation;
    std::memcpy(&observation, row, 8);
    double f = 1.0;
    if (c->freqOffset >= 0)
      std::memcpy(&f, row + c->freqOffset, 8);
    const int64_t weight = levFrequency(d, f);
    for (int32_t v = 0; v < d->classCount; ++v) {
      if (!c->levels->active[v])
        continue;
      const char* raw = row + c->offsets[v];
      bool present;
      if (c->numSlot[v] >= 0) {
        double x;
        std::memcpy(&x, raw, 8);
        present = !isHostMissing(x);
      } else {
        present = wzstrip(raw, c->levels->charInternal[c->charSlot[v]].length) != 0;
      }
      if (levSkipsValue(d->classes[v], d, present))
        continue;
      int32_t added = 0;
      auto** slot = static_cast<WorkerLevel**>(w->raw[v]->insert(w->raw[v], raw, &added));
      if (slot == nullptr)
        return kNoMemory;
      if (*slot == nullptr) {
        if ((*slot = levelOfNewRaw(w, v, raw, observation)) == nullptr)
          return kNoMemory;
        if (c->keepRaw && !noteRaw(w, v, raw, rawBytes(c, v), *slot))
          return kNoMemory;
      }
      (*slot)->frequency += weight;
    }
  }
  return 0;
}

// Merges every worker's levels (workers in order) into the level trees of the levelisation
// context as the serial pass builds them: frequencies summed, the smaller representative
// value kept, first appearance numbered by the first observation that showed the level.
void mergeLevels(LevelizeThreadControl* c) {
  LevelizeContext* l = c->levels;
  const LevDesign* d = c->design;
  for (int32_t v = 0; v < d->classCount; ++v) {
    const LevVariable& var = d->classes[v];
    const bool numeric = c->numSlot[v] >= 0;
    const int32_t rawLength = rawBytes(c, v);
    std::vector<LevelNode*> made;
    l->levelCounts[v] = 0;
    for (int32_t i = 0; i < c->workerCount; ++i) {
      QkAvlTree* t = c->workers[i].levels[v];
      for (auto* wl = static_cast<WorkerLevel*>(t->first(&t->header)); wl != nullptr;
           wl = static_cast<WorkerLevel*>(t->next(wl))) {
        auto* node = static_cast<LevelNode*>(levBlock(l->pool, static_cast<size_t>(l->nodeSize)));
        std::memcpy(node->formatted, wl->key, static_cast<size_t>(var.levelWidth));
        auto* hit = static_cast<LevelNode*>(ztrebld(&l->trees[v], node, var.levelWidth, kLevelKey));
        if (hit == node) {
          if (numeric) {
            node->internal.number = wl->number;
          } else {
            node->internal.text = static_cast<char*>(levBlock(l->pool, size_t(rawLength)));
            std::memcpy(node->internal.text, wl->text, static_cast<size_t>(rawLength));
            node->internalLength = rawLength;
          }
          node->frequency = wl->frequency;
          node->firstAppearance = wl->first;
          made.push_back(node);
          continue;
        }
        hit->frequency += wl->frequency;
        hit->firstAppearance = std::min(hit->firstAppearance, wl->first);
        if (numeric && levSmallerNumber(wl->number, hit->internal.number))
          hit->internal.number = wl->number;
        else if (!numeric && std::memcmp(wl->text, hit->internal.text, size_t(rawLength)) < 0)
          std::memcpy(hit->internal.text, wl->text, static_cast<size_t>(rawLength));
      }
    }
    std::sort(made.begin(), made.end(), [](const LevelNode* a, const LevelNode* b) {
      return a->firstAppearance < b->firstAppearance;
    });
    for (size_t k = 0; k < made.size(); ++k)
      made[k]->firstAppearance = static_cast<int64_t>(k);
    l->levelCounts[v] = static_cast<int32_t>(made.size());
  }
}

// True when the GLM effect-level pass will want the workers after the levels.
bool effectPassAhead(const LevDesign* d) {
  if (has(d->designFlags, LevDesignFlag::NonGlm))
    return false;
  for (int32_t e = 0; e < d->effectCount; ++e)
    if (d->effects[e].allClassCount > 0)
      return true;
  return false;
}

} // namespace levthr

int32_t zlevrinit(LevRegContext* ctx, LevelizeContext* lctx) {
  LevDesign* d = ctx->design;
  if (!ctx->threadsAllowed || d->classCount == 0 || ctx->workerCount < 1)
    return 0;
  for (int32_t i = 0; i < d->classCount; ++i)
    if (d->classes[i].var == nullptr || d->classes[i].var->number < 1)
      return 0;
  if (ctx->threads != nullptr)
    destroyControl(ctx->threads);
  for (int32_t i = 0; i < d->classCount; ++i)
    levWidthCheck(&d->classes[i]);
  LevelizeThreadControl* c = makeControl(ctx, lctx);
  if (c == nullptr) {
    ctx->threadsAllowed = 0;
    return 0;
  }
  c->keepRaw = effectPassAhead(d);
  lctx->threadData = c;
  return 1;
}

VsfStatus zlevThreadedPass(LevelizeContext* lctx, LevDesign* d) {
  auto* c = static_cast<LevelizeThreadControl*>(lctx->threadData);
  c->job = Job::Levels;
  c->failureMessage = EffMsg{};
  lctx->serial = 0;
  reinterpret_cast<LevCallbackFn>(lctx->getInit)(lctx, d);
  int64_t observation = 0;
  const bool ok = runPass(c, [&] {
    Worker* current = &c->workers[0];
    while (current != nullptr && reinterpret_cast<LevCallbackFn>(lctx->getNext)(lctx, d) != 0) {
      if (!levTakeObservation(lctx, d))
        continue;
      levUpdateRange(lctx, d);
      pack(c, current, ++observation);
      current = advance(c, current);
    }
    return current;
  });
  if (!ok) {
    // The workers are stopped and reported; the rest of the group runs serially.
    c->owner->threadsAllowed = 0;
    destroyControl(c);
    return VsfStatus::ReportedFailure;
  }
  mergeLevels(c);
  // The levelisation context ends with the levelisation; the workers may stay for the
  // effect-level pass.
  lctx->threadData = nullptr;
  c->levels = nullptr;
  if (!c->keepRaw)
    destroyControl(c);
  return VsfStatus::Ok;
}
