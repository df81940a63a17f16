// The "qkpool" extension: a fixed pool of std::threads with a FIFO queue. Each queued item
// runs once on one of the threads; when the queue is empty and no item runs, the event
// registered by the waiter is posted through the kernel's thread services.
#include "host/ext/qkpool.h"

#include "host/hostlog.h"
#include "host/kernel.h"
#include "support/qkpool.h"
#include "support/startthreads.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace {

struct Puddle {
  QkPuddle ops; // first: the module sees only this
  QkPoolWorker worker = nullptr;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<void*> queue;
  int running = 0;
  bool stopping = false;
  QkEvent* doneEvent = nullptr;
  std::vector<std::thread> threads;
};

Puddle* self(QkPuddle* p) { return reinterpret_cast<Puddle*>(p); }

void postDone(QkEvent* event) {
  QkHandle* qk = qrxhost::kernelHandle();
  QkThreadServices* ts = qk->threadServices(qk);
  ts->post(ts, event);
}

void run(Puddle* pd) {
  std::unique_lock<std::mutex> lock(pd->mutex);
  for (;;) {
    pd->wake.wait(lock, [pd] { return pd->stopping || !pd->queue.empty(); });
    if (pd->queue.empty())
      return; // stopping with nothing left
    void* item = pd->queue.front();
    pd->queue.pop_front();
    ++pd->running;
    lock.unlock();
    try {
      pd->worker(&pd->ops, item);
    } catch (...) {
      // Nothing may leave a pool thread; the item's own status tells its owner it failed.
      qrxhost::logLine(HostSeverity::Error, "A work item of the thread pool ended abnormally.");
    }
    lock.lock();
    --pd->running;
    if (pd->running == 0 && pd->queue.empty() && pd->doneEvent != nullptr)
      postDone(pd->doneEvent);
  }
}

int32_t enqueue(QkPuddle* p, void* item, int32_t, int32_t, int32_t) {
  Puddle* pd = self(p);
  {
    std::lock_guard<std::mutex> lock(pd->mutex);
    if (pd->stopping)
      return -1;
    pd->queue.push_back(item);
  }
  pd->wake.notify_one();
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

void shutdown(QkPuddle* p, int32_t, int32_t, int32_t) {
  Puddle* pd = self(p);
  {
    std::lock_guard<std::mutex> lock(pd->mutex);
    pd->stopping = true;
  }
  pd->wake.notify_all();
  for (std::thread& t : pd->threads)
    if (t.joinable())
      t.join();
  delete pd;
}

QkPuddle* createPool(QkPoolExtension*, const QkPoolCreateBlock* block, int32_t, int32_t) {
  if (block == nullptr || block->worker == nullptr || block->minThreads < 1 ||
      block->maxThreads < block->minThreads || block->maxThreads > 1024)
    return nullptr;
  auto* pd = new (std::nothrow) Puddle{};
  if (pd == nullptr)
    return nullptr;
  pd->ops.puddleEnque = enqueue;
  pd->ops.puddleSetDoneEvent = setDoneEvent;
  pd->ops.puddleWaitOver = waitOver;
  pd->ops.puddleShutdown = shutdown;
  pd->worker = block->worker;
  // Threads the system cannot start (no room for their stacks under an address-space limit)
  // leave their items to the others: the pool stands with at least minThreads of them.
  const size_t started = startThreads(pd->threads, static_cast<size_t>(block->maxThreads),
                                      [pd](size_t) { return [pd] { run(pd); }; });
  if (started < static_cast<size_t>(block->minThreads)) {
    shutdown(&pd->ops, 0, 0, 0);
    return nullptr;
  }
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

int puddleThreadCount(QkPuddle* puddle) {
  return puddle ? static_cast<int>(self(puddle)->threads.size()) : 0;
}

} // namespace qrxhost
