// zparrows and zparrange: the split of a triangle update by rows, or of a vector update by
// elements, over short-lived std::threads. Every element is updated by exactly one thread
// with the same operations as in a serial run: results do not depend on the thread count.
#include "support/zparrows.h"
#include "support/startthreads.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace {
// Below this many elements a matrix update is not worth starting threads for.
constexpr int64_t kMinParallelElements = int64_t{1} << 16;

[[nodiscard]] int64_t elements(int64_t first, int64_t last) {
  return (last * (last + 1) - first * (first + 1)) / 2;
}
// Runs body over the runs [cuts[t], cuts[t + 1]), the first on the caller's thread.
void runCuts(const std::vector<int64_t>& cuts, const std::function<void(int64_t, int64_t)>& body) {
  if (cuts.size() == 2) {
    body(cuts[0], cuts[1]);
    return;
  }
  // Runs the system cannot start a thread for are run here after the first.
  std::vector<std::thread> pool;
  const size_t started = startThreads(pool, cuts.size() - 2, [&](size_t k) {
    return [&body, a = cuts[k + 1], b = cuts[k + 2]] { body(a, b); };
  });
  body(cuts[0], cuts[1]);
  for (size_t t = started + 1; t + 1 < cuts.size(); ++t)
    body(cuts[t], cuts[t + 1]);
  for (auto& t : pool)
    t.join();
}
} // namespace

void zparrows(int32_t threads, int64_t first, int64_t last,
              const std::function<void(int64_t, int64_t)>& body) {
  if (last <= first)
    return;
  const int64_t total = elements(first, last);
  if (threads < 2 || total < kMinParallelElements) {
    body(first, last);
    return;
  }
  std::vector<int64_t> cuts{first};
  const int64_t share = total / threads;
  int64_t acc = 0;
  for (int64_t r = first; r < last && static_cast<int32_t>(cuts.size()) < threads; ++r) {
    acc += r + 1;
    if (acc >= share) {
      cuts.push_back(r + 1);
      acc = 0;
    }
  }
  if (cuts.back() != last)
    cuts.push_back(last);
  runCuts(cuts, body);
}

void zparrange(int32_t threads, int64_t first, int64_t last, int64_t minimum,
               const std::function<void(int64_t, int64_t)>& body) {
  if (last <= first)
    return;
  const int64_t least = std::max<int64_t>(1, minimum);
  const int64_t runs = std::max<int64_t>(1, std::min<int64_t>(threads, (last - first) / least));
  std::vector<int64_t> cuts;
  for (int64_t t = 0; t <= runs; ++t)
    cuts.push_back(first + (last - first) * t / runs);
  runCuts(cuts, body);
}
