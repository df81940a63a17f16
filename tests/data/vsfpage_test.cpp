// Tests of the page reserve of the reading pass: what it may make for the rows to come.
#include "data/vsfpage.h"
#include "host/pools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Writes `rows` rows of `sizes` bytes in turn (as 8-byte doubles and 4-byte codes) through the
// page writer's own placing; the pages they open.
int64_t pagesWritten(uint32_t pageSize, int64_t rows, const std::vector<int32_t>& sizes) {
  std::vector<double> page(pageSize / 8 + 1);
  const std::vector<double> doubles(pageSize / 8);
  const std::vector<int32_t> codes(pageSize / 4);
  VsfPageWriter w{};
  int64_t opened = 0;
  for (int64_t r = 0; r < rows; ++r) {
    const int32_t bytes = sizes[static_cast<size_t>(r) % sizes.size()];
    const int32_t nd = bytes / 12, nc = (bytes - 8 * nd) / 4; // 8 nd + 4 nc = bytes
    if (!w.open || !vsfPagePut(&w, doubles.data(), nd, codes.data(), nc)) {
      w.page = reinterpret_cast<unsigned char*>(page.data());
      w.next = 8;
      w.lowest = vsfPageEnd(pageSize);
      w.open = true;
      ++opened;
      EXPECT_TRUE(vsfPagePut(&w, doubles.data(), nd, codes.data(), nc));
    }
  }
  return opened;
}

// Buffers the reserve makes when `threads` workers each top it up `rounds` times.
size_t topUpFromThreads(VsfPageReserve* reserve, int threads, int rounds) {
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([reserve, rounds] {
      for (int i = 0; i < rounds; ++i)
        (void)vsfPageReserveTopUp(reserve);
    });
  for (std::thread& t : workers)
    t.join();
  return reserve->ready.size();
}

// Pages of 1,024 bytes hold (1024 - 8 - 4) / 100 = 10 rows of 100 bytes: 35 rows fill 4
// pages, 40 rows 4, 41 rows 5. However many workers keep eight buffers ready, the reserve
// makes no more than those pages, nor than the files hold in memory; rows smaller than the
// largest fill no more pages.
TEST(PageReserve, MakesNoMoreBuffersThanTheRowsFillPages) {
  QkPool* pool = qrxhost::createArenaPool("test page reserve pool");
  const struct {
    int64_t rows, pages, inMemory;
  } cases[] = {{35, 4, 1000}, {40, 4, 1000}, {41, 5, 1000}, {1, 1, 1000}, {35, 4, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(pagesWritten(1024, c.rows, {100}), c.pages) << c.rows;
    EXPECT_LE(pagesWritten(1024, c.rows, {100, 52, 76, 24}), c.pages) << c.rows;
    VsfPageReserve reserve;
    ASSERT_TRUE(vsfPageReserveStart(&reserve, pool, 1024, c.inMemory, c.rows, 100, 8));
    EXPECT_EQ(topUpFromThreads(&reserve, 7, 3), static_cast<size_t>(std::min(c.pages, c.inMemory)))
        << c.rows << " rows, " << c.inMemory << " pages in memory";
    vsfPageReserveRelease(&reserve);
  }
  VsfPageReserve none;
  EXPECT_FALSE(vsfPageReserveStart(&none, pool, 1024, 1000, 0, 100, 8)) << "no rows, no pages";
  pool->destroy(pool);
}

} // namespace
