// The threaded levelisation and effect-level passes (levthread.h): the workers on the host's
// one pool of threads (support/zparrows.h), their buffers, the main thread's hand-over and the
// stop with its messages. The passes'
// per-buffer work and merges are in zlevthrlev.cpp and zlevthreff.cpp; the serial passes
// are zlevlev.cpp's and zlevrgi.cpp's, and every decision on a value is theirs, shared
// through levlevel.h. Declared in design/levthrwork.h.
#include "design/levthrwork.h"

#include "design/levfmt.h"
#include "design/levrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/qkaux.h"
#include "support/qkavlt.h"
#include "support/seams.h"
#include "support/stepcodes.h"
#include "support/wzstr.h"
#include "support/zparrows.h"
#include "support/ztree.h"

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <cstddef>
#include <cstring>
#include <new>
#include <thread>
#include <vector>

using namespace levthr;

namespace levthr {

QkHandle* kernel() { return Exported_QKHandle; }

[[nodiscard]] int64_t round8(int64_t n) { return (n + 7) / 8 * 8; }

void* take(LevelizeThreadControl* c, size_t bytes) {
  return bytes == 0 ? nullptr : c->pool->allocate(c->pool, bytes, kQkZeroed);
}

// ---- workers --------------------------------------------------------------------------

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

// One buffer under the worker's recovery: running out of memory gives kNoMemory, a
// floating-point fault or any other fault kFault.
[[nodiscard]] uint32_t workOnBuffer(Worker* w) {
  std::feclearexcept(FE_ALL_EXCEPT);
  w->mathError = 0;
  try {
    seam::meetFault(w->fault);
    const uint32_t status = w->control->job == Job::Levels ? levelizeBuffer(w) : treeEffects(w);
    return status == 0 && mathFault(w) ? kFault : status;
  } catch (const std::bad_alloc&) {
    return kNoMemory;
  } catch (...) {
    return kFault;
  }
}

// The threads of a pass: `work` is bumped when a buffer is handed over and at the end of the
// pass, `done` when a buffer is finished; `active` counts the workers in the pass.
struct Crew {
  alignas(64) std::atomic<int64_t> work{0};
  alignas(64) std::atomic<int64_t> done{0};
  alignas(64) std::atomic<int32_t> active{0};
  std::atomic<bool> over{false};
};

[[nodiscard]] std::atomic_ref<BufferState> stateOf(Worker* w) {
  return std::atomic_ref<BufferState>(w->state);
}

void bump(std::atomic<int64_t>& a) {
  a.fetch_add(1, std::memory_order_acq_rel);
  a.notify_all();
}

// Works on a handed-over buffer unless another thread has taken it (then false). The
// thread's floating-point flags are its own again afterwards.
bool takeBuffer(Worker* w) {
  BufferState handed = BufferState::HandedOver;
  if (!stateOf(w).compare_exchange_strong(handed, BufferState::Working, std::memory_order_acq_rel))
    return false;
  std::fexcept_t flags;
  std::fegetexceptflag(&flags, FE_ALL_EXCEPT);
  w->status = workOnBuffer(w);
  std::fesetexceptflag(&flags, FE_ALL_EXCEPT);
  stateOf(w).store(BufferState::Finished, std::memory_order_release);
  bump(w->control->crew->done);
  return true;
}

// A worker of the pass on one of the process's threads: takes the buffers as they are handed
// over until the pass is over. While one is in the pass the main thread leaves every buffer to
// the workers.
void workerRun(LevelizeThreadControl* c) {
  Crew& crew = *c->crew;
  crew.active.fetch_add(1, std::memory_order_acq_rel);
  for (;;) {
    const int64_t seen = crew.work.load(std::memory_order_acquire);
    if (crew.over.load(std::memory_order_acquire))
      break;
    bool took = false;
    for (int32_t i = 0; i < c->workerCount; ++i)
      took = takeBuffer(&c->workers[i]) || took;
    if (!took)
      crew.work.wait(seen, std::memory_order_acquire);
  }
  crew.active.fetch_sub(1, std::memory_order_acq_rel);
}

bool readyWorkers(LevelizeThreadControl* c) {
  for (int32_t i = 0; i < c->workerCount; ++i) {
    c->workers[i].control = c;
    c->workers[i].index = i;
    c->workers[i].state = BufferState::Filling;
  }
  c->threadsRunning = true;
  return true;
}

// The message of a worker's math-error code.
[[nodiscard]] EffMsg mathErrorMessage(int32_t code) {
  // Codes 1-9 and 11-13 have messages of their own; every other code is a plain fault.
  static const EffMsg kMessage[] = {EffMsg::LevelisationWorkerStoppedFault,
                                    EffMsg::LevelisationWorkerStoppedFloatingPointErrorInvalid,
                                    EffMsg::LevelisationWorkerStoppedFloatingPointErrorDivision,
                                    EffMsg::LevelisationWorkerStoppedFloatingPointErrorOverflow,
                                    EffMsg::LevelisationWorkerStoppedFloatingPointErrorUnderflow,
                                    EffMsg::LevelisationWorkerStoppedFloatingPointErrorInexact,
                                    EffMsg::LevelisationWorkerStoppedIntegerDivision,
                                    EffMsg::LevelisationWorkerStoppedIntegerOverflow,
                                    EffMsg::LevelisationWorkerStoppedDomain,
                                    EffMsg::LevelisationWorkerStoppedRange,
                                    EffMsg::LevelisationWorkerStoppedFault,
                                    EffMsg::LevelisationWorkerStoppedLoss,
                                    EffMsg::LevelisationWorkerStoppedStack,
                                    EffMsg::LevelisationWorkerStoppedAccess};
  const int32_t count = static_cast<int32_t>(sizeof kMessage / sizeof kMessage[0]);
  return code >= 0 && code < count ? kMessage[code] : EffMsg::LevelisationWorkerStoppedFault;
}

// Stops every worker; a failed one is reported with EffMsg::LevelisationRedoneOnMainThread
// (once) and the failure's own message, each raising the design's return code to StepRc::Error.
void stopWorkers(LevelizeThreadControl* c) {
  bool reported = false;
  for (int32_t i = 0; c->workers != nullptr && i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    if (c->failureMessage != EffMsg{} && w.mathError != 0)
      c->failureMessage = mathErrorMessage(w.mathError);
    if (w.failed && !reported) {
      vsfLog(EffMsg::LevelisationRedoneOnMainThread);
      levRaise(c->design, StepRc::Error);
      reported = true;
    }
  }
  c->threadsRunning = false;
  if (c->failureMessage != EffMsg{}) {
    vsfLog(c->failureMessage);
    levRaise(c->design, StepRc::Error);
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

void handOver(LevelizeThreadControl* c, Worker* w) {
  w->fault = seam::nextLevelBufferFault();
  w->busy = true;
  stateOf(w).store(BufferState::HandedOver, std::memory_order_release);
  bump(c->crew->work);
}

// Takes a finished buffer back; false when its worker failed (the pass status is set).
[[nodiscard]] bool takeBack(LevelizeThreadControl* c, Worker* w) {
  stateOf(w).store(BufferState::Filling, std::memory_order_relaxed);
  w->busy = false;
  w->count = 0;
  if (w->status == 0)
    return true;
  w->failed = true;
  if (c->failureMessage == EffMsg{})
    c->failureMessage = w->status == kNoMemory ? EffMsg::LevelisationWorkerOutOfMemory
                                               : EffMsg::LevelisationWorkerStoppedFault;
  return false;
}

// A busy worker whose buffer is finished, waiting for one; with no worker in the pass (none
// could be had, or none has come yet) the main thread works on a handed-over buffer itself,
// so that it never waits for a worker that is not there. `only`, when set, is the one buffer
// waited for.
[[nodiscard]] Worker* finishedWorker(LevelizeThreadControl* c, Worker* only) {
  Crew& crew = *c->crew;
  const int32_t first = only != nullptr ? only->index : 0;
  const int32_t last = only != nullptr ? only->index + 1 : c->workerCount;
  for (;;) {
    const int64_t seen = crew.done.load(std::memory_order_acquire);
    for (int32_t i = first; i < last; ++i)
      if (c->workers[i].busy &&
          stateOf(&c->workers[i]).load(std::memory_order_acquire) == BufferState::Finished)
        return &c->workers[i];
    bool took = false;
    for (int32_t i = first; i < last && !took; ++i)
      took = crew.active.load(std::memory_order_acquire) == 0 && takeBuffer(&c->workers[i]);
    if (!took)
      crew.done.wait(seen, std::memory_order_acquire);
  }
}

// An idle worker for the next buffer, waiting for one when all are busy; null after a
// failure.
Worker* idleWorker(LevelizeThreadControl* c) {
  for (int32_t i = 0; i < c->workerCount; ++i)
    if (!c->workers[i].busy)
      return &c->workers[i];
  Worker* w = finishedWorker(c, nullptr);
  return takeBack(c, w) ? w : nullptr;
}

// Waits until no worker is busy; false when one failed.
[[nodiscard]] bool waitAll(LevelizeThreadControl* c) {
  bool ok = true;
  for (int32_t i = 0; i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    if (w.busy)
      ok = takeBack(c, finishedWorker(c, &w)) && ok;
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

bool runPass(LevelizeThreadControl* c, const std::function<Worker*()>& feed) {
  Crew crew;
  c->crew = &crew;
  const std::thread::id mainThread = std::this_thread::get_id();
  bool fed = false;
  bool ok = false;
  // The main thread's run feeds the pass; every other run is a worker's, which ends when the
  // pass is over. A worker holds its run until then, so the main thread always has a run of
  // its own, and a run no worker came for falls to it once the pass is over.
  zparruns(c->workerCount + 1, [&](int32_t) {
    if (std::this_thread::get_id() != mainThread || fed) {
      workerRun(c);
      return;
    }
    fed = true;
    ok = finishPass(c, feed());
    crew.over.store(true, std::memory_order_release);
    bump(crew.work);
  });
  c->crew = nullptr;
  return ok;
}

} // namespace levthr
