// The threaded levelisation and effect-level passes (levthread.h): the workers, their events
// and buffers, the main thread's hand-over, the workers' per-buffer work, the merges into the
// serial passes' trees, and the stop with its messages. The serial passes are zlevlev.cpp's
// and zlevrgi.cpp's; every decision on a value is theirs, shared through levlevel.h.
// Declared in design/levthread.h.
#include "design/levthread.h"

#include "design/levfmt.h"
#include "design/levrow.h"
#include "support/hoststubs.h"
#include "support/qkaux.h"
#include "support/qkavlt.h"
#include "support/testhooks.h"
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

namespace {

constexpr uint32_t kNoMemory = 0x803fc002u; // a worker ran out of memory
constexpr uint32_t kFault = 0x803fc009u;    // a worker stopped on a fault
constexpr int32_t kLevelKey = 56;           // the formatted value in a LevelNode
constexpr int32_t kEffectKey = 24;          // the level indices in a combination key

enum class Job { Levels, Effects };

// A level a worker met: tree links, its statistics, then its formatted value as the key.
struct WorkerLevel {
  void* links[2];
  int64_t frequency;
  int64_t first;      // the smallest observation number
  double number;      // representative value of a numeric variable
  char* text;         // representative value of a character variable
  int32_t levelIndex; // the level's final index, once the levels are ordered
  char key[8];        // level width bytes (the node is allocated larger)
};
constexpr int32_t kWorkerKey = offsetof(WorkerLevel, key);

// An unformatted value new to a worker, kept in a list when the effect-level pass will look
// values up: the lists of all workers make the main thread's index of the values.
struct RawLink {
  RawLink* next;
  WorkerLevel* level;
  char key[8]; // the unformatted value (the link is allocated larger)
};
constexpr int32_t kRawKey = offsetof(RawLink, key);

// The main thread's level index by unformatted value for one CLASS variable, built from the
// values every worker met: open addressing over a power-of-two number of slots, each slot
// the position of a value (or -1), the values `width` bytes each.
struct RawIndex {
  int32_t width;
  int64_t mask;
  int64_t count;
  int64_t* slots;
  char* values;
  int32_t* levels;
};

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
[[nodiscard]] int64_t rawSlot(const RawIndex& x, const char* key) {
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
[[nodiscard]] int32_t rawFind(const RawIndex& x, const char* key) {
  const int64_t at = x.slots[rawSlot(x, key)];
  return at < 0 ? -1 : x.levels[at];
}

struct Worker {
  LevelizeThreadControl* control;
  int32_t index;
  QkThread* thread;
  QkEvent* work; // posted by the main thread to hand the buffer over
  QkEvent* done; // posted by the worker when the buffer is finished or it failed
  QkEvent* quit;
  QkEvent* start;
  uint32_t status;   // 0, or why the worker stopped
  int32_t mathError; // the host's code of a floating-point fault plus 1, 0 none
  bool busy;         // main thread's view: handed over, not yet taken back
  WorkerFault fault; // what the tests' hook puts in the way of this buffer
  bool failed;
  char* buffer;
  int64_t bufferBytes;
  int64_t count; // rows or entries held
  QkPool* pool;  // this worker's levels, raw values and keys
  QkAuxTable** raw;
  RawLink** rawAdded; // per CLASS variable the values this worker met first, when kept
  QkAvlTree** levels;
  QkAvlTree** effectTrees;
  char** spareKeys;
};

QkHandle* kernel() { return Exported_QKHandle; }
QkThreadServices* services() { return kernel()->threadServices(kernel()); }

[[nodiscard]] int64_t round8(int64_t n) { return (n + 7) / 8 * 8; }

} // namespace

struct LevelizeThreadControl {
  QkPool* pool; // the "Levelize pool": everything below
  LevRegContext* owner;
  LevDesign* design;
  LevelizeContext* levels;
  int32_t workerCount;
  Job job;
  int32_t failureMessage; // 0, or the message number of a failure (43 .. 56)
  int32_t rowSize;
  int64_t capacity; // rows or entries per buffer
  int32_t freqOffset;
  int32_t* offsets;    // per CLASS variable its slot in a row
  int32_t* charSlot;   // per CLASS variable its index among the character ones, else -1
  int32_t* numSlot;    // per CLASS variable its index among the numeric ones, else -1
  int32_t* rawLengths; // per CLASS variable the bytes of its unformatted value
  QkAvlExtension* avl;
  QkAuxExtension* aux;
  FormatContext* format;
  Worker* workers;
  bool threadsRunning;
  bool keepRaw;        // the effect-level pass will look unformatted values up
  int32_t effectCount; // CLASS effects
  int32_t* effects;    // their indices
  // The effect-level pass's unformatted values of the current observation, and the level
  // index of every value the workers met, per CLASS variable.
  double* numericRaw;
  LevCharValue* charRaw;
  RawIndex* rawIndex;
};

namespace {

void* take(LevelizeThreadControl* c, size_t bytes) {
  return bytes == 0 ? nullptr : c->pool->allocate(c->pool, bytes, kQkZeroed);
}

// ---- workers --------------------------------------------------------------------------

[[nodiscard]] uint32_t levelizeBuffer(Worker* w);
[[nodiscard]] uint32_t treeEffects(Worker* w);

// The math-error handler of a worker: keeps the host's code of a floating-point fault plus
// 1 (0 stays "none") for the report when the workers are stopped; the worker then leaves
// its buffer.
int32_t ZLEVMathError(Worker* w, int32_t code) {
  w->mathError = code + 1;
  return 2;
}

// True when a floating-point fault was raised on this worker since its buffer began; the
// handler has then recorded it. The faults, with the host's codes, are an invalid
// operation (0), a division by zero (1) and an overflow (2); underflow and inexact results
// come with ordinary formatting and are no faults. The flags are the thread's own, so a
// check here never sees another thread's fault, and nothing jumps across C++ frames.
[[nodiscard]] bool mathFault(Worker* w) {
  static constexpr struct {
    int flag;
    int32_t code;
  } kFaults[] = {{FE_INVALID, 0}, {FE_DIVBYZERO, 1}, {FE_OVERFLOW, 2}};
  for (const auto& f : kFaults)
    if (std::fetestexcept(f.flag) != 0) {
      ZLEVMathError(w, f.code);
      return true;
    }
  return false;
}

// The fault the tests' hook puts in the way of a buffer, raised as the real one would be.
void meetFault(WorkerFault fault) {
  volatile double zero = 0.0;
  volatile double largest = DBL_MAX;
  volatile double result = 0.0;
  switch (fault) {
  case WorkerFault::None:
    return;
  case WorkerFault::NoMemory:
    throw std::bad_alloc();
  case WorkerFault::Exception:
    throw std::runtime_error("a fault in a levelisation worker");
  case WorkerFault::Invalid:
    result = zero / zero;
    break;
  case WorkerFault::DivideByZero:
    result = 1.0 / zero;
    break;
  case WorkerFault::Overflow:
    result = largest * 2.0;
    break;
  }
  (void)result;
}

// One buffer under the worker's recovery: running out of memory gives kNoMemory, a
// floating-point fault or any other fault kFault.
[[nodiscard]] uint32_t workOnBuffer(Worker* w) {
  std::feclearexcept(FE_ALL_EXCEPT);
  w->mathError = 0;
  try {
    meetFault(w->fault);
    const uint32_t status = w->control->job == Job::Levels ? levelizeBuffer(w) : treeEffects(w);
    return status == 0 && mathFault(w) ? kFault : status;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (...) {
    return kFault;
  }
}

void workerMain(void* argument) {
  auto* w = static_cast<Worker*>(argument);
  QkThreadServices* ts = services();
  for (;;) {
    QkEvent* events[2] = {w->quit, w->work};
    if (ts->waitAny(ts, events, 2, -1) != 1)
      break;
    w->status = workOnBuffer(w);
    ts->reset(ts, w->work);
    ts->post(ts, w->done);
    if (w->status != 0)
      break;
  }
}

[[nodiscard]] bool startWorkers(LevelizeThreadControl* c) {
  QkHandle* qk = kernel();
  for (int32_t i = 0; i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    w.control = c;
    w.index = i;
    w.work = qk->createEvent(qk);
    w.done = qk->createEvent(qk);
    w.quit = qk->createEvent(qk);
    w.start = qk->createEvent(qk);
    if (w.work == nullptr || w.done == nullptr || w.quit == nullptr || w.start == nullptr)
      return false;
    QkThreadAttributes attrs{&w, workerMain, w.start, 0x80000000u};
    w.thread = qk->createThread(qk, &attrs);
    if (w.thread == nullptr)
      return false;
    c->threadsRunning = true;
  }
  return true;
}

// The message of a worker's math-error code.
[[nodiscard]] int32_t mathErrorMessage(int32_t code) {
  // Codes 1-9 and 11-13 have messages of their own; every other code is a plain fault.
  static const int32_t kMessage[] = {55, 43, 44, 45, 46, 47, 48, 49, 50, 51, 55, 52, 53, 54};
  const int32_t count = static_cast<int32_t>(sizeof kMessage / sizeof kMessage[0]);
  return code >= 0 && code < count ? kMessage[code] : 55;
}

// Stops every worker; a failed one is reported with 174/66 (once) and the pass status with
// 174/status, each raising the design's return code to 1012.
void stopWorkers(LevelizeThreadControl* c) {
  QkHandle* qk = kernel();
  QkThreadServices* ts = services();
  bool reported = false;
  for (int32_t i = 0; c->workers != nullptr && i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    if (c->failureMessage > 1 && w.mathError != 0)
      c->failureMessage = mathErrorMessage(w.mathError);
    if (w.thread != nullptr) {
      ts->post(ts, w.quit);
      qk->joinThread(qk, w.thread);
      w.thread = nullptr;
    }
    if (w.failed && !reported) {
      xpmlog(174, 66);
      levRaise(c->design, 1012);
      reported = true;
    }
    for (QkEvent** e : {&w.work, &w.done, &w.quit, &w.start})
      if (*e != nullptr) {
        qk->destroyEvent(qk, *e);
        *e = nullptr;
      }
  }
  c->threadsRunning = false;
  if (c->failureMessage > 42) {
    xpmlog(174, c->failureMessage);
    levRaise(c->design, 1012);
  }
}

// Frees the trees, tables and pools of the workers, the formatter and the extensions, and
// the control itself.
void destroyControl(LevelizeThreadControl* c) {
  if (c->threadsRunning)
    stopWorkers(c);
  for (int32_t i = 0; c->workers != nullptr && i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    for (int32_t v = 0; v < c->design->classCount; ++v) {
      if (w.raw != nullptr && w.raw[v] != nullptr)
        w.raw[v]->destroy(w.raw[v]);
      if (w.levels != nullptr && w.levels[v] != nullptr)
        w.levels[v]->destroy(w.levels[v]);
    }
    for (int32_t e = 0; w.effectTrees != nullptr && e < c->effectCount; ++e)
      if (w.effectTrees[e] != nullptr)
        w.effectTrees[e]->destroy(w.effectTrees[e]);
    if (w.pool != nullptr)
      w.pool->destroy(w.pool);
  }
  zplxftrm(&c->format);
  if (c->avl != nullptr)
    c->avl->base.unload(&c->avl->base);
  if (c->aux != nullptr)
    c->aux->base.unload(&c->aux->base);
  if (c->levels != nullptr)
    c->levels->threadData = nullptr;
  c->owner->threads = nullptr;
  c->pool->destroy(c->pool);
}

// ---- the main thread's hand-over -------------------------------------------------------

void handOver(LevelizeThreadControl*, Worker* w) {
  TestHooks& hooks = testHooks();
  const int64_t failAt = hooks.levelFaultBuffer.load();
  w->fault = failAt > 0 && hooks.levelBuffersHandedOver.fetch_add(1) + 1 == failAt
                 ? hooks.levelWorkerFault.load()
                 : WorkerFault::None;
  w->busy = true;
  services()->post(services(), w->work);
}

// Takes a worker back after its done event; false when it failed (the pass status is set).
[[nodiscard]] bool takeBack(LevelizeThreadControl* c, Worker* w) {
  services()->reset(services(), w->done);
  w->busy = false;
  w->count = 0;
  if (w->status == 0)
    return true;
  w->failed = true;
  if (c->failureMessage == 0)
    c->failureMessage = w->status == kNoMemory ? 56 : 55;
  return false;
}

// An idle worker for the next buffer, waiting for one when all are busy; null after a
// failure.
Worker* idleWorker(LevelizeThreadControl* c) {
  for (int32_t i = 0; i < c->workerCount; ++i)
    if (!c->workers[i].busy)
      return &c->workers[i];
  std::vector<QkEvent*> done(static_cast<size_t>(c->workerCount));
  for (int32_t i = 0; i < c->workerCount; ++i)
    done[static_cast<size_t>(i)] = c->workers[i].done;
  const int32_t i = services()->waitAny(services(), done.data(), c->workerCount, -1);
  Worker* w = &c->workers[i];
  return takeBack(c, w) ? w : nullptr;
}

// Waits until no worker is busy; false when one failed.
[[nodiscard]] bool waitAll(LevelizeThreadControl* c) {
  bool ok = true;
  for (int32_t i = 0; i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    if (!w.busy)
      continue;
    QkEvent* done[1] = {w.done};
    services()->waitAny(services(), done, 1, -1);
    ok = takeBack(c, &w) && ok;
  }
  return ok;
}

// Hands the current buffer over when full and returns the buffer to fill next (null after a
// failure).
Worker* advance(LevelizeThreadControl* c, Worker* current) {
  if (current->count < c->capacity)
    return current;
  handOver(c, current);
  return idleWorker(c);
}

// Ends a pass: the last buffer, then every worker idle. False when a worker failed; the
// workers are then stopped and reported.
[[nodiscard]] bool finishPass(LevelizeThreadControl* c, Worker* current) {
  if (current != nullptr && current->count > 0)
    handOver(c, current);
  const bool ok = current != nullptr && waitAll(c);
  if (!ok) {
    (void)waitAll(c); // the failure is known; this only lets the other workers finish
    stopWorkers(c);
  }
  return ok;
}

} // namespace

// ---- the level pass ----------------------------------------------------------------------

namespace {

[[nodiscard]] bool isNumericVar(const LevVariable& v) {
  return v.var != nullptr && v.var->type == 1;
}

// The bytes of a CLASS variable's unformatted value in a row.
[[nodiscard]] int32_t rawBytes(const LevelizeThreadControl* c, int32_t v) {
  return c->rawLengths[v];
}

// Rows per buffer of the level pass for n observations in the input and T workers: n / 2T
// below 200,000 observations and n / 4T from there, so that every worker gets a few large
// buffers (the hand-over stays rare and the rows still spread over the workers), 1000
// when the count is unknown; all workers' buffers within a fifth of M = the host's memory
// figure x 256 bytes; at least 20 rows, which wins over the memory cut.
[[nodiscard]] int64_t rowsPerBuffer(int64_t n, int32_t T, int32_t rowSize) {
  int64_t rows = n < 1 ? 1000 : n < 200000 ? n / (2 * int64_t{T}) : n / (4 * int64_t{T});
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) == 0 && kilobytes > 0)
    rows = std::min(rows, kilobytes * 256 / (5 * int64_t{T} * rowSize));
  return std::max<int64_t>(rows, 20);
}

// Entries per buffer of the effect-level pass: the level pass's rows per buffer, cut so
// that all workers' buffers stay within 102 times the host's memory figure in bytes.
[[nodiscard]] int64_t entriesPerBuffer(int64_t rows, int32_t T, int32_t entrySize) {
  int64_t kilobytes = 0;
  if (wmrlmem(&kilobytes) == 0 && kilobytes > 0 && T * entrySize * rows > 102 * kilobytes)
    rows = 102 * kilobytes / (int64_t{T} * entrySize);
  return std::max<int64_t>(rows, 1);
}

[[nodiscard]] int64_t inputObservations(const LevRegContext* ctx) {
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
  int32_t status = 0;
  c->format = zplxfmt(vars.data(), widths.data(), d->classCount, c->workerCount, &status);
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
    ok = makeWorkerStructures(c) && makeFormatter(c) && startWorkers(c);
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

[[nodiscard]] uint32_t levelizeBuffer(Worker* w) {
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
[[nodiscard]] bool effectPassAhead(const LevDesign* d) {
  if ((d->designFlags & kLevFlagNonGlm) != 0)
    return false;
  for (int32_t e = 0; e < d->effectCount; ++e)
    if (d->effects[e].allClassCount > 0)
      return true;
  return false;
}

} // namespace

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

int32_t zlevThreadedPass(LevelizeContext* lctx, LevDesign* d) {
  auto* c = static_cast<LevelizeThreadControl*>(lctx->threadData);
  c->job = Job::Levels;
  c->failureMessage = 0;
  lctx->serial = 0;
  reinterpret_cast<LevCallbackFn>(lctx->getInit)(lctx, d);
  int64_t observation = 0;
  Worker* current = &c->workers[0];
  while (current != nullptr && reinterpret_cast<LevCallbackFn>(lctx->getNext)(lctx, d) != 0) {
    if (!levTakeObservation(lctx, d))
      continue;
    levUpdateRange(lctx, d);
    pack(c, current, ++observation);
    current = advance(c, current);
  }
  if (!finishPass(c, current)) {
    // The workers are stopped and reported; the rest of the group runs serially.
    c->owner->threadsAllowed = 0;
    destroyControl(c);
    return 1;
  }
  mergeLevels(c);
  // The levelisation context ends with the levelisation; the workers may stay for the
  // effect-level pass.
  lctx->threadData = nullptr;
  c->levels = nullptr;
  if (!c->keepRaw)
    destroyControl(c);
  return 0;
}

// ---- the effect-level pass ---------------------------------------------------------------

namespace {

[[nodiscard]] int32_t keySize(const LevEffect& ef) {
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

[[nodiscard]] uint32_t treeEffects(Worker* w) {
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
[[nodiscard]] bool rawStatusSuffices(const LevRegContext* ctx) {
  return ctx->design->constructedCount == 0 && ctx->extraExplanatory == nullptr &&
         ctx->extraResponse1 == nullptr && ctx->extraResponse2 == nullptr;
}

// The current observation's level indices (into ctx->levelIndex) and row status from its
// unformatted values, each looked up among those the level pass met: the same indices and
// status bits that zlevrgd gives, without formatting a value. -1 when a value is not among
// them; the caller then asks zlevrgd.
[[nodiscard]] int32_t rawRowStatus(LevelizeThreadControl* c, LevRegContext* ctx, double* y,
                                   double* w, double* f) {
  const LevDesign* d = c->design;
  double* responses = y != nullptr ? y : ctx->fit.responses;
  void* dest[6] = {ctx->numeric, responses, w, f, c->numericRaw, c->charRaw};
  const uint8_t formatted = ctx->formattedFetch;
  ctx->formattedFetch = 0;
  const int32_t fetched = zlevGetVals(ctx, "zywfub", dest);
  ctx->formattedFetch = formatted;
  if (fetched == 0)
    return -1;
  for (int32_t v = 0; v < d->classCount; ++v) {
    const char* raw = c->numSlot[v] >= 0
                          ? reinterpret_cast<const char*>(&c->numericRaw[c->numSlot[v]])
                          : c->charRaw[c->charSlot[v]].buffer;
    const int32_t level = rawFind(c->rawIndex[v], raw);
    if (level < 0)
      return -1;
    ctx->levelIndex[v] = level;
  }
  int32_t status = 0;
  for (int32_t j = 0; j < d->numericCount; ++j)
    if (d->numerics[j].var != nullptr && isHostMissing(ctx->numeric[j]))
      status |= LRS_EXPLANATORY | LRS_NUMERIC;
  for (int32_t r = 0; responses != nullptr && r < ctx->responseCount; ++r)
    if (isHostMissing(responses[r]))
      status |= LRS_RESPONSE;
  if (w != nullptr && ctx->weights != nullptr && (isHostMissing(*w) || !(*w > 0)))
    status |= LRS_WEIGHT;
  if (f != nullptr && ctx->freq != nullptr && (isHostMissing(*f) || !(*f > 0)))
    status |= LRS_WEIGHT;
  return status;
}

} // namespace

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

int32_t zlevThreadedEffects(LevRegContext* ctx, void** roots, QkPool* temp, double* y, double* w,
                            double* f) {
  LevelizeThreadControl* c = ctx->threads;
  LevDesign* d = ctx->design;
  c->job = Job::Effects;
  c->failureMessage = 0;
  const bool perVariable = (levFlags(d) & kLevFlagMissingPerVar) != 0;
  const bool raw = rawStatusSuffices(ctx);
  Worker* current = &c->workers[0];
  zlevGetInit(ctx);
  while (current != nullptr && zlevGetNext(ctx) != 0) {
    int32_t status = raw ? rawRowStatus(c, ctx, y, w, f) : -1;
    if (status < 0)
      status = zlevrgd(ctx, y, w, f);
    if (!perVariable && (status & ~0x48) != 0)
      continue;
    std::memcpy(current->buffer + current->count * c->rowSize, ctx->levelIndex,
                sizeof(int32_t) * static_cast<size_t>(d->classCount));
    current->count += 1;
    current = advance(c, current);
  }
  if (!finishPass(c, current)) {
    CleanupEThreads(ctx);
    ctx->threadsAllowed = 0;
    return 1;
  }
  mergeEffects(c, roots, temp);
  CleanupEThreads(ctx);
  return 0;
}

void CleanupEThreads(LevRegContext* ctx) {
  if (ctx->threads != nullptr)
    destroyControl(ctx->threads);
}
