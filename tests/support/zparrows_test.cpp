// The split of a vector update over threads: every element falls in exactly one run, whatever
// the thread count, and no run is shorter than asked unless the range itself is.
#include "support/zparrows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <vector>

TEST(Zparrange, EveryElementInExactlyOneRunOfAtLeastTheMinimum) {
  for (int32_t threads : {1, 3, 8})
    for (int64_t length : {int64_t{1}, int64_t{999}, int64_t{10007}}) {
      std::vector<std::atomic<int>> seen(static_cast<size_t>(length + 5));
      std::atomic<int64_t> shortest{length};
      zparrange(threads, 5, 5 + length, 1000, [&](int64_t first, int64_t last) {
        for (int64_t i = first; i < last; ++i)
          ++seen[static_cast<size_t>(i)];
        int64_t s = shortest.load();
        while (last - first < s && !shortest.compare_exchange_weak(s, last - first)) {
        }
      });
      for (int64_t i = 0; i < length + 5; ++i)
        EXPECT_EQ(seen[static_cast<size_t>(i)].load(), i < 5 ? 0 : 1)
            << threads << " threads, length " << length << ", element " << i;
      EXPECT_GE(shortest.load(), std::min<int64_t>(length, 1000)) << threads << " threads";
    }
}

namespace {
// Runs a triangle split of `rows` rows on `threads` threads; every row is seen exactly once.
void expectEveryRowOnce(int32_t threads, int64_t rows) {
  std::vector<std::atomic<int>> seen(static_cast<size_t>(rows));
  zparrows(threads, 0, rows, [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i)
      ++seen[static_cast<size_t>(i)];
  });
  for (int64_t i = 0; i < rows; ++i)
    ASSERT_EQ(seen[static_cast<size_t>(i)].load(), 1) << threads << " threads, row " << i;
}
} // namespace

// Without a kernel that offers the host's workers the whole split runs on its caller.
TEST(Zparrows, WithoutAHostEveryRowRunsOnceOnTheCaller) {
  for (int32_t threads : {1, 8, 64})
    expectEveryRowOnce(threads, 3000);
}
