// The threaded levelisation and effect-level passes (levthread.h): the workers, their events
// and buffers, the main thread's hand-over and the stop with its messages. The passes'
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
#include "support/ztree.h"

#include <algorithm>
#include <cfenv>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

using namespace levthr;

namespace levthr {

QkHandle* kernel() { return Exported_QKHandle; }
QkThreadServices* services() { return kernel()->threadServices(kernel()); }

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

// Stops every worker; a failed one is reported with EffMsg::LevelisationWorkersStoppedAfter
// (once) and the failure's own message, each raising the design's return code to StepRc::Error.
void stopWorkers(LevelizeThreadControl* c) {
  QkHandle* qk = kernel();
  QkThreadServices* ts = services();
  bool reported = false;
  for (int32_t i = 0; c->workers != nullptr && i < c->workerCount; ++i) {
    Worker& w = c->workers[i];
    if (c->failureMessage != EffMsg{} && w.mathError != 0)
      c->failureMessage = mathErrorMessage(w.mathError);
    if (w.thread != nullptr) {
      ts->post(ts, w.quit);
      qk->joinThread(qk, w.thread);
      w.thread = nullptr;
    }
    if (w.failed && !reported) {
      vsfLog(EffMsg::LevelisationWorkersStoppedAfter);
      levRaise(c->design, StepRc::Error);
      reported = true;
    }
    for (QkEvent** e : {&w.work, &w.done, &w.quit, &w.start})
      if (*e != nullptr) {
        qk->destroyEvent(qk, *e);
        *e = nullptr;
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

void handOver(LevelizeThreadControl*, Worker* w) {
  w->fault = seam::nextLevelBufferFault();
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
  if (c->failureMessage == EffMsg{})
    c->failureMessage = w->status == kNoMemory ? EffMsg::LevelisationWorkerRanOut
                                               : EffMsg::LevelisationWorkerStoppedFault;
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

} // namespace levthr
