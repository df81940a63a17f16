// The process's one pool of workers: the module's splits reach it through the kernel's
// service dispatcher and reuse its workers; workers the system refuses leave the work to
// fewer threads; a split inside a split runs; a run that throws is thrown after the others
// end; the thread pool extension adds no threads.
#include "host/ext/extlist.h"
#include "host/kernel.h"
#include "host/workpool.h"
#include "support/hostif.h"
#include "support/qkpool.h"
#include "support/zparrows.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <thread>
#include <vector>

namespace {

// The module's splits go to the host's kernel handle while a test runs.
class WorkPool : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = Exported_QKHandle;
    Exported_QKHandle = qrxhost::kernelHandle();
  }
  void TearDown() override { Exported_QKHandle = saved_; }

private:
  QkHandle* saved_ = nullptr;
};

// Runs a triangle split of `rows` rows on `threads` threads; every row is seen exactly once.
void expectEveryRowOnce(int32_t threads, int64_t rows) {
  std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
  zparrows(threads, 0, rows, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i)
      ++seen[static_cast<size_t>(i)];
  });
  for (int64_t i = 0; i < rows; ++i)
    EXPECT_EQ(seen[static_cast<size_t>(i)].load(), 1) << threads << " threads, row " << i;
}

// A triangle split whose runs each wait until a second thread has run one: it ends only when
// a worker took a run, however the threads are scheduled. Returns the threads that ran.
size_t threadsMeeting(int32_t threads, int64_t rows) {
  std::mutex m;
  std::condition_variable met;
  std::set<std::thread::id> ids;
  zparrows(threads, 0, rows, [&](int64_t, int64_t) {
    std::unique_lock<std::mutex> lock(m);
    ids.insert(std::this_thread::get_id());
    met.notify_all();
    met.wait(lock, [&] { return ids.size() >= 2; });
  });
  return ids.size();
}

} // namespace

// Many splits reuse the same workers: a sweep step must not start threads.
TEST_F(WorkPool, SplitsReuseTheHostsWorkers) {
  EXPECT_GE(threadsMeeting(8, 4000), 2u) << "the split ran on the workers";
  const int32_t workers = qrxhost::workPoolStarted();
  EXPECT_GE(workers, 1);
  for (int step = 0; step < 100; ++step)
    expectEveryRowOnce(step % 2 ? 8 : 3, 2000);
  EXPECT_EQ(qrxhost::workPoolStarted(), workers);
}

// A worker the system refuses to start leaves the work to fewer threads: every row still
// runs once, and the split neither aborts nor hangs.
TEST_F(WorkPool, RefusedWorkerStartsRunTheWorkOnFewerThreads) {
  qrxhost::workPoolFailStarts(true);
  const int32_t before = qrxhost::workPoolStarted();
  expectEveryRowOnce(64, 3000);
  expectEveryRowOnce(200, 5000);
  EXPECT_EQ(qrxhost::workPoolStarted(), before);
  qrxhost::workPoolFailStarts(false);
}

// A split started from inside a split's run, on a worker or the caller, runs too.
TEST_F(WorkPool, ASplitInsideASplitRuns) {
  std::vector<std::atomic<int>> seen(2000 * 8);
  zparrange(8, 0, 8, 1, [&](int64_t first, int64_t last) {
    for (int64_t r = first; r < last; ++r)
      zparrange(8, 0, 2000, 10, [&](int64_t a, int64_t b) {
        for (int64_t i = a; i < b; ++i)
          ++seen[static_cast<size_t>(r * 2000 + i)];
      });
  });
  for (const auto& s : seen)
    ASSERT_EQ(s.load(), 1);
}

// A run that throws (memory that ran out, on a worker or the caller) ends the split only
// after every other run has ended, since the runs use the caller's frame; the caller then
// gets the exception.
TEST_F(WorkPool, AThrowingRunIsThrownAfterEveryRunHasEnded) {
  for (const int32_t thrower : {0, 5}) {
    std::atomic<int32_t> running{0}, ended{0};
    bool thrown = false;
    try {
      qrxhost::workRuns(8, [&](int32_t r) {
        ++running;
        if (r == thrower)
          throw std::bad_alloc();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++ended;
      });
    } catch (const std::bad_alloc&) {
      thrown = true;
    }
    EXPECT_TRUE(thrown) << thrower;
    EXPECT_EQ(running.load(), 8) << thrower;
    EXPECT_EQ(ended.load(), 7) << thrower;
  }
}

namespace {
void noWork(void*, void*) {}
} // namespace

// A data pass's thread pool takes the workers already started: making one starts none.
TEST_F(WorkPool, ThePassesPoolStartsNoThreadsOfItsOwn) {
  qrxhost::workRuns(8, [](int32_t) {});
  const int32_t workers = qrxhost::workPoolStarted();
  auto* ext = reinterpret_cast<QkPoolExtension*>(qrxhost::loadExtension("qkpool"));
  ASSERT_NE(ext, nullptr);
  for (int round = 0; round < 20; ++round) {
    QkPoolCreateBlock block{};
    block.minThreads = 1;
    block.maxThreads = 7;
    block.worker = noWork;
    QkPuddle* pool = ext->tpdlCreate(ext, &block, 0, 0);
    ASSERT_NE(pool, nullptr);
    pool->puddleShutdown(pool, 0, 0, 0);
  }
  EXPECT_EQ(qrxhost::workPoolStarted(), workers);
  ext->header.unload(&ext->header);
}
