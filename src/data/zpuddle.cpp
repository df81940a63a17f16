// The thread pool of the page workers: loads "qkpool" through the kernel handle, makes a
// pool of up to n threads with the frame's worker routine, queues items, waits on a
// completion event, and shuts the pool down. A failure to queue or wait is fatal
// (StepRc::Error); one to make the pool is the caller's to report.
#include "data/zpuddle.h"

#include "data/vsfthread.h"
#include "support/hoststubs.h"
#include "support/stepcodes.h"

#include <cassert>

namespace {

[[noreturn]] void fatal(const char* text) {
  xebug(text);
  xexit(StepRc::Error, 0);
}

} // namespace

int32_t zpudi(ThreadPuddle* puddle, int32_t count, int32_t flags, QkPoolWorker worker) {
  QkHandle* qk = Exported_QKHandle;
  static const QkChar kName[] = U"qkpool";
  puddle->extension = qk != nullptr ? qk->qkExtensionLoad(qk, kName, 6, 0) : nullptr;
  if (puddle->extension == nullptr) {
    if (flags & 1)
      fatal("qkExtensionLoad failed in zpudi");
    return 1;
  }
  QkPoolCreateBlock block{};
  // The items of a pass do not wait on each other: a pool with fewer threads than asked
  // (the system could not start them all) runs them all, only later.
  block.minThreads = 1;
  block.maxThreads = count < 1 ? 1 : count;
  block.third = 1;
  block.worker = worker;
  block.flags = 0xa0000000u;
  auto* ext = reinterpret_cast<QkPoolExtension*>(puddle->extension);
  puddle->pool = ext->tpdlCreate(ext, &block, 0, 0);
  if (puddle->pool == nullptr) {
    if (flags & 1)
      fatal("tpdlCreate failed in zpudi");
    return 2;
  }
  puddle->count = static_cast<int32_t>(block.maxThreads);
  return 0;
}

void zpudenq(ThreadPuddle* puddle, void* item) {
  assert(item != nullptr && "a work item for the puddle's threads");
  if (puddle->pool == nullptr || puddle->pool->puddleEnque(puddle->pool, item, 0, 0, 0) != 0)
    fatal("puddleEnque failed");
}

void zpudwt(ThreadPuddle* puddle) {
  QkHandle* qk = Exported_QKHandle;
  QkEvent* done = qk != nullptr ? qk->createEvent(qk) : nullptr;
  if (done == nullptr || puddle->pool == nullptr ||
      puddle->pool->puddleSetDoneEvent(puddle->pool, done) != 0) {
    if (done != nullptr)
      qk->destroyEvent(qk, done);
    fatal("zpudlwt failed");
  }
  QkThreadServices* ts = qk->threadServices(qk);
  ts->waitAny(ts, &done, 1, -1);
  puddle->pool->puddleWaitOver(puddle->pool);
  qk->destroyEvent(qk, done);
}

void zpudt(ThreadPuddle* puddle) {
  if (puddle->pool != nullptr) {
    puddle->pool->puddleShutdown(puddle->pool, 0, 0, 0);
    puddle->pool = nullptr;
  }
  if (puddle->extension != nullptr) {
    if (puddle->extension->unload != nullptr)
      puddle->extension->unload(puddle->extension);
    puddle->extension = nullptr;
  }
}

VsfStatus vsfInitializeThreads(ThreadPuddle* puddle, int32_t count) {
  // zpudi's own codes (1 no pool extension, 2 no pool) would read as other statuses. A pool
  // without a single thread (the system could start none) is a shortage the step reports,
  // not an internal error.
  return zpudi(puddle, count, 0, utilReadWrapper) == 0 ? VsfStatus::Ok : VsfStatus::NoPoolOrHandle;
}

void vsfTerminateThreads(ThreadPuddle* puddle) {
  zpudt(puddle);
  puddle->pool = nullptr;
}
