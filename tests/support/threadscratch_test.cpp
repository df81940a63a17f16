// A thread's scratch object: made on its first use, one for each thread (its own values), the same
// object at every later use on that thread, and freed when the thread ends, with nothing registered
// with the C library's thread_local destructors (the holder is trivially destructible).
#include "support/threadscratch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <type_traits>
#include <vector>

namespace {

std::atomic<int> gMade{0};
std::atomic<int> gFreed{0};

struct Counted {
  Counted() { ++gMade; }
  ~Counted() { ++gFreed; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;
  std::vector<int> values;
};

thread_local ThreadScratch<Counted> tCounted;

} // namespace

TEST(ThreadScratch, EachThreadMakesItsOwnOnceAndFreesItAtItsEnd) {
  static_assert(std::is_trivially_destructible_v<ThreadScratch<Counted>>);
  gMade = 0;
  gFreed = 0;
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 4; ++t)
    threads.emplace_back([t] {
      Counted& first = tCounted.get();
      first.values.assign(1000, static_cast<int>(t));
      Counted& again = tCounted.get();
      EXPECT_EQ(&first, &again);
      EXPECT_EQ(again.values.back(), static_cast<int>(t));
    });
  for (std::thread& t : threads)
    t.join();
  EXPECT_EQ(gMade.load(), 4);
  EXPECT_EQ(gFreed.load(), 4);
}
