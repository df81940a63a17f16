// The "qkpool" extension: a pool of at most n threads with a FIFO queue, whose threads are the
// process's workers (host/workpool.h): making a pool starts no thread of its own. Each queued
// item runs once, with at most n of the pool's items running at a time; when the queue is
// empty and no item runs, the event registered by the waiter is posted through the kernel's
// thread services.
#include "host/ext/qkpool.h"

#include "host/hostlog.h"
#include "host/kernel.h"
#include "host/workpool.h"
#include "support/qkpool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>

namespace {

struct Puddle {
  QkPuddle ops; // first: the module sees only this
  QkPoolWorker worker = nullptr;
  std::mutex mutex;
  std::condition_variable idle; // posted when the last drainer leaves
  std::deque<void*> queue;
  int running = 0;  // items running
  int drainers = 0; // tasks on the workers taking items off the queue
  int limit = 1;    // the most drainers at a time
  bool stopping = false;
  QkEvent* doneEvent = nullptr;
};

Puddle* self(QkPuddle* p) { return reinterpret_cast<Puddle*>(p); }

void postDone(QkEvent* event) {
  QkHandle* qk = qrxhost::kernelHandle();
  QkThreadServices* ts = qk->threadServices(qk);
  ts->post(ts, event);
}

void runItem(Puddle* pd, void* item) {
  try {
    pd->worker(&pd->ops, item);
  } catch (...) {
    // Nothing may leave a pool thread; the item's own status tells its owner it failed.
    qrxhost::logLine(HostSeverity::Error, "A work item of the thread pool ended abnormally.");
  }
}

// A drainer, on a worker: runs the pool's items until the queue is empty.
void drain(Puddle* pd) {
  std::unique_lock<std::mutex> lock(pd->mutex);
  while (!pd->queue.empty()) {
    void* item = pd->queue.front();
    pd->queue.pop_front();
    ++pd->running;
    lock.unlock();
    runItem(pd, item);
    lock.lock();
    --pd->running;
  }
  if (pd->running == 0 && pd->doneEvent != nullptr)
    postDone(pd->doneEvent);
  if (--pd->drainers == 0)
    pd->idle.notify_all();
}

int32_t enqueue(QkPuddle* p, void* item, int32_t, int32_t, int32_t) {
  Puddle* pd = self(p);
  bool more = false;
  {
    std::lock_guard<std::mutex> lock(pd->mutex);
    if (pd->stopping)
      return -1;
    pd->queue.push_back(item);
    more = pd->drainers < pd->limit;
    pd->drainers += more ? 1 : 0;
  }
  if (more)
    qrxhost::workPost([pd] { drain(pd); });
  return 0;
}

int32_t setDoneEvent(QkPuddle* p, QkEvent* event) {
  if (event == nullptr)
    return -1;
  Puddle* pd = self(p);
  std::lock_guard<std::mutex> lock(pd->mutex);
  pd->doneEvent = event;
  if (pd->running == 0 && pd->queue.empty())
    postDone(event);
  return 0;
}

void waitOver(QkPuddle* p) {
  Puddle* pd = self(p);
  std::lock_guard<std::mutex> lock(pd->mutex);
  pd->doneEvent = nullptr;
}

// Lets the queued items run, then frees the pool once no drainer holds it.
void shutdown(QkPuddle* p, int32_t, int32_t, int32_t) {
  Puddle* pd = self(p);
  {
    std::unique_lock<std::mutex> lock(pd->mutex);
    pd->stopping = true;
    pd->idle.wait(lock, [pd] { return pd->drainers == 0; });
  }
  delete pd;
}

QkPuddle* createPool(QkPoolExtension*, const QkPoolCreateBlock* block, int32_t, int32_t) {
  if (block == nullptr || block->worker == nullptr || block->minThreads < 1 ||
      block->maxThreads < block->minThreads || block->maxThreads > 1024)
    return nullptr;
  // Workers the system cannot start (no room for their stacks under an address-space limit)
  // leave the items to the others: the pool stands with at least minThreads of them.
  const int32_t workers = qrxhost::workPoolGrow(static_cast<int32_t>(block->maxThreads));
  if (workers < block->minThreads)
    return nullptr;
  auto* pd = new (std::nothrow) Puddle{};
  if (pd == nullptr)
    return nullptr;
  pd->ops.puddleEnque = enqueue;
  pd->ops.puddleSetDoneEvent = setDoneEvent;
  pd->ops.puddleWaitOver = waitOver;
  pd->ops.puddleShutdown = shutdown;
  pd->worker = block->worker;
  pd->limit = static_cast<int>(std::min<int64_t>(block->maxThreads, workers));
  return &pd->ops;
}

void unload(QkExtension* e) { delete reinterpret_cast<QkPoolExtension*>(e); }

} // namespace

namespace qrxhost {

QkExtension* makeQkpool() {
  auto* e = new QkPoolExtension{};
  e->header.name = "qkpool";
  e->header.unload = unload;
  e->tpdlCreate = createPool;
  return &e->header;
}

int puddleThreadCount(QkPuddle* puddle) { return puddle ? self(puddle)->limit : 0; }

} // namespace qrxhost
