// Arena pools: blocks are zeroed whatever the flags, pools are counted, destroying a pool
// runs destructors of records made in it.
#include "host/hostcore.h"
#include "host/kernel.h"
#include "host/pools.h"
#include "host/supervisor.h"
#include "host/testswitches.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

using namespace qrxhost;

TEST(Pools, EveryBlockIsZeroedAndPoolsAreCounted) {
  int before = livePoolCount();
  QkPool* p = createArenaPool("test");
  EXPECT_EQ(livePoolCount(), before + 1);
  for (uint32_t flags : {0u, kQkZeroed, 0x3004u}) {
    auto* b = static_cast<unsigned char*>(p->allocate(p, 4096, flags));
    ASSERT_NE(b, nullptr);
    for (int i = 0; i < 4096; ++i)
      ASSERT_EQ(b[i], 0) << i;
    std::memset(b, 0xAB, 4096);
    p->free(p, b);
  }
  // a reallocated block keeps its contents and its new tail is zero
  auto* r = static_cast<unsigned char*>(p->allocate(p, 16, 0));
  std::memset(r, 7, 16);
  r = static_cast<unsigned char*>(p->reallocate(p, r, 64, 0));
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r[15], 7);
  EXPECT_EQ(r[16], 0);
  EXPECT_EQ(r[63], 0);
  p->free(p, reinterpret_cast<void*>(0x1234)); // not a block of the pool: ignored
  p->destroy(p);
  EXPECT_EQ(livePoolCount(), before);
}

TEST(Pools, DestroyRunsDestructorsLastFirst) {
  auto log = std::make_shared<std::string>();
  struct Rec {
    std::shared_ptr<std::string> log;
    char tag;
    ~Rec() { *log += tag; }
  };
  QkPool* p = createArenaPool("records");
  Rec* a = arenaNew<Rec>(p, Rec{log, 'a'});
  Rec* b = arenaNew<Rec>(p, Rec{log, 'b'});
  ASSERT_TRUE(a && b);
  log->clear(); // the temporaries' destructors ran already
  p->destroy(p);
  EXPECT_EQ(*log, "ba");
  EXPECT_EQ(log.use_count(), 1); // the members were destroyed too
}

TEST(Pools, SupervisorAndKernelPoolsAreArenas) {
  HostControlBlock* cb = hostControlBlock();
  int before = livePoolCount();
  QkPool* a = cb->groups->supervisor->xmpoolc(nullptr, 1024, 0x1004);
  QkPoolAttributes attrs{1, 0, {0, 0}};
  QkPool* b = cb->qkHandle->createPool(cb->qkHandle, &attrs, nullptr, "VARSIFTER BY POOL");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(arenaPoolName(b), "VARSIFTER BY POOL");
  EXPECT_EQ(livePoolCount(), before + 2);
  cb->groups->supervisor->xmpoold(a);
  b->destroy(b);
  EXPECT_EQ(livePoolCount(), before);
  // the test hook makes one named pool fail
  failNamedPool("VARSIFTER PAGE POOL");
  EXPECT_EQ(cb->qkHandle->createPool(cb->qkHandle, &attrs, nullptr, "VARSIFTER PAGE POOL"),
            nullptr);
  failNamedPool("");
  // the default pool is not counted
  ASSERT_NE(cb->defaultPool, nullptr);
  EXPECT_EQ(livePoolCount(), before);
}

TEST(Pools, ModuleRecordsMadeThroughTheStubsAreDestroyedWithThePool) {
  HostControlBlock* saved = v_global_gcb_anchor;
  v_global_gcb_anchor = hostControlBlock();
  auto counter = std::make_shared<int>(0);
  struct Rec {
    std::shared_ptr<int> counter;
    std::vector<double> values;
    explicit Rec(std::shared_ptr<int> c) : counter(std::move(c)), values(100, 1.0) {}
    ~Rec() { ++*counter; }
  };
  QkPool* p = xmpoolc(nullptr, 1024, 0x1004);
  ASSERT_NE(poolNew<Rec>(p, counter), nullptr);
  ASSERT_NE(poolNew<Rec>(p, counter), nullptr);
  EXPECT_EQ(poolNew<Rec>(nullptr, counter), nullptr);
  xmpoold(p);
  EXPECT_EQ(*counter, 2);
  EXPECT_EQ(counter.use_count(), 1);
  v_global_gcb_anchor = saved;
}

// A failed allocation of the C++ heap, whose size the host cannot see, is still noted for
// the step's out-of-memory note, once, and operator new still throws.
TEST(Pools, FailedHeapAllocationIsNotedOnce) {
  qrxhost::installNewFailureNote();
  (void)qrxhost::takeUnsizedFailure();
  const std::new_handler handler = std::get_new_handler();
  ASSERT_NE(handler, nullptr);
  EXPECT_THROW(handler(), std::bad_alloc);
  EXPECT_TRUE(qrxhost::takeUnsizedFailure());
  EXPECT_FALSE(qrxhost::takeUnsizedFailure());
}
