// Tests of the qkpool extension: every queued item runs exactly once, never more than n at a
// time of a pool of n, on the process's workers (making pools starts no more of them), and
// the done event is posted when all are done.
#include "host/ext/extlist.h"
#include "host/ext/qkpool.h"
#include "host/kernel.h"
#include "host/workpool.h"
#include "support/qkpool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

struct Item {
  std::atomic<int> runs{0};
  std::thread::id thread;
};

std::mutex gIdsMutex;
std::atomic<int> gRunning{0}, gMostRunning{0};

void worker(void*, void* p) {
  auto* item = static_cast<Item*>(p);
  const int running = ++gRunning;
  for (int most = gMostRunning.load(); running > most;)
    if (gMostRunning.compare_exchange_weak(most, running))
      break;
  std::this_thread::sleep_for(std::chrono::microseconds(50));
  --gRunning;
  std::lock_guard<std::mutex> lock(gIdsMutex);
  item->thread = std::this_thread::get_id();
  item->runs++;
}

TEST(ExtPool, RunsEveryItemOnceAtMostNAtATimeOnTheProcessWorkers) {
  auto* ext = reinterpret_cast<QkPoolExtension*>(qrxhost::loadExtension("qkpool"));
  ASSERT_NE(ext, nullptr);
  QkHandle* qk = qrxhost::kernelHandle();
  for (int n : {1, 2, 4, 8}) {
    QkPoolCreateBlock block{};
    block.minThreads = block.maxThreads = n;
    block.third = 1;
    block.worker = worker;
    block.flags = 0xa0000000u;
    QkPuddle* pool = ext->tpdlCreate(ext, &block, 0, 0);
    ASSERT_NE(pool, nullptr);
    EXPECT_EQ(qrxhost::puddleThreadCount(pool), n);
    const int32_t workers = qrxhost::workPoolStarted();
    gMostRunning = 0;
    for (int round = 0; round < 3; ++round) {
      std::vector<Item> items(40);
      for (Item& it : items)
        ASSERT_EQ(pool->puddleEnque(pool, &it, 0, 0, 0), 0);
      QkEvent* done = qk->createEvent(qk);
      ASSERT_EQ(pool->puddleSetDoneEvent(pool, done), 0);
      QkThreadServices* ts = qk->threadServices(qk);
      EXPECT_EQ(ts->waitAny(ts, &done, 1, -1), 0);
      pool->puddleWaitOver(pool);
      qk->destroyEvent(qk, done);
      std::set<std::thread::id> ids;
      std::lock_guard<std::mutex> lock(gIdsMutex);
      for (Item& it : items) {
        EXPECT_EQ(it.runs.load(), 1);
        ids.insert(it.thread);
      }
      EXPECT_EQ(ids.count(std::this_thread::get_id()), 0u);
    }
    EXPECT_LE(gMostRunning.load(), n);
    EXPECT_EQ(qrxhost::workPoolStarted(), workers) << "a pass starts no thread";
    pool->puddleShutdown(pool, 0, 0, 0);
  }
  ext->header.unload(&ext->header);
}

TEST(ExtPool, RefusesABadCreationBlock) {
  auto* ext = reinterpret_cast<QkPoolExtension*>(qrxhost::loadExtension("qkpool"));
  QkPoolCreateBlock block{};
  block.minThreads = block.maxThreads = 2;
  EXPECT_EQ(ext->tpdlCreate(ext, &block, 0, 0), nullptr) << "no worker routine";
  block.worker = worker;
  block.minThreads = 0;
  EXPECT_EQ(ext->tpdlCreate(ext, &block, 0, 0), nullptr) << "no threads";
  ext->header.unload(&ext->header);
}

} // namespace

namespace {

void throwingWorker(void*, void* p) {
  auto* item = static_cast<Item*>(p);
  item->runs++;
  if (item->runs == 1)
    throw 42;
}

TEST(ExtPool, AnItemThatThrowsDoesNotStopThePool) {
  auto* ext = reinterpret_cast<QkPoolExtension*>(qrxhost::loadExtension("qkpool"));
  QkHandle* qk = qrxhost::kernelHandle();
  QkPoolCreateBlock block{};
  block.minThreads = block.maxThreads = 2;
  block.worker = throwingWorker;
  QkPuddle* pool = ext->tpdlCreate(ext, &block, 0, 0);
  ASSERT_NE(pool, nullptr);
  std::vector<Item> items(6);
  for (Item& it : items)
    ASSERT_EQ(pool->puddleEnque(pool, &it, 0, 0, 0), 0);
  QkEvent* done = qk->createEvent(qk);
  ASSERT_EQ(pool->puddleSetDoneEvent(pool, done), 0);
  QkThreadServices* ts = qk->threadServices(qk);
  EXPECT_EQ(ts->waitAny(ts, &done, 1, -1), 0);
  pool->puddleWaitOver(pool);
  qk->destroyEvent(qk, done);
  for (Item& it : items)
    EXPECT_EQ(it.runs.load(), 1);
  pool->puddleShutdown(pool, 0, 0, 0);
  ext->header.unload(&ext->header);
}

} // namespace
