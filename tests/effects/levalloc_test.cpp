// The library allocator: zeroed blocks from the pool the control block names at the time of
// the call, with nothing of its own kept inside a pool that the host may clear.
#include "fakehost.h"

#include "effects/levalloc.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct CountingPool {
  QkPool pool{};
  int allocations = 0;
  std::vector<void*> blocks;
};

void* countingAllocate(QkPool* pool, size_t size, uint32_t) {
  auto* p = reinterpret_cast<CountingPool*>(pool);
  ++p->allocations;
  void* b = std::malloc(size);
  std::memset(b, 0xAB, size); // dirty: the library must zero what it asked zeroed
  p->blocks.push_back(b);
  return b;
}

TEST(LevAllocTest, BlocksComeZeroedFromTheCurrentDefaultPool) {
  efftest::FakeHost host;
  CountingPool a, b;
  a.pool.allocate = b.pool.allocate = countingAllocate;
  v_global_gcb_anchor->defaultPool = &a.pool;
  auto* first = static_cast<unsigned char*>(levAlloc(64));
  ASSERT_NE(first, nullptr);
  for (int i = 0; i < 64; ++i)
    EXPECT_EQ(first[i], 0);
  EXPECT_EQ(a.allocations, 1);
  // The host replaces (or clears) its default pool: nothing from the old one is used again.
  v_global_gcb_anchor->defaultPool = &b.pool;
  EXPECT_NE(levAlloc(16), nullptr);
  EXPECT_EQ(a.allocations, 1);
  EXPECT_EQ(b.allocations, 1);
  char* copy = levStrdup("abc", 3);
  EXPECT_STREQ(copy, "abc");
  for (void* p : a.blocks)
    std::free(p);
  for (void* p : b.blocks)
    std::free(p);
}

} // namespace
