// zparrows and zparrange: the split of a triangle update by rows, or of a vector update by
// elements, over the host's workers. Every element is updated by exactly one thread with the
// same operations as in a serial run: results do not depend on the thread count, nor on how
// many workers could be started.
#include "support/zparrows.h"

#include "support/hostif.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {
// A run handed to a worker must hold at least this many elements: a hand-off costs a wake-up
// and a wait, and on a loaded machine a woken worker may wait for a core. Measured with
// bench/numerics_bench.cpp (BM_SweepThreads) at a load of 20-30 on 8 cores: a sweep step
// gains from two runs of 2^18 elements (1,024 columns: 340 us against 440 us on one thread)
// and loses with runs of 2^17 (724 columns: 230 against 190 us), more so on more threads
// (1,024 columns in 8 runs: 1,120 us).
constexpr int64_t kMinParallelElements = int64_t{1} << 18;
std::atomic<int64_t> minRunElements{kMinParallelElements};

// The runs of a piece of work, as the host's qkzruns service takes them.
void runBody(void* context, int32_t run) {
  (*static_cast<const std::function<void(int32_t)>*>(context))(run);
}

// Runs body over the runs [cuts[t], cuts[t + 1]) on the host's workers, which the caller's
// thread joins, and returns when all have finished.
void runCuts(const std::vector<int64_t>& cuts, const std::function<void(int64_t, int64_t)>& body) {
  zparruns(static_cast<int32_t>(cuts.size()) - 1, [&](int32_t t) {
    body(cuts[static_cast<size_t>(t)], cuts[static_cast<size_t>(t) + 1]);
  });
}

[[nodiscard]] int64_t elements(int64_t first, int64_t last) {
  return (last * (last + 1) - first * (first + 1)) / 2;
}
} // namespace

// A host without workers (a test's kernel) leaves every run to the caller's thread.
void zparruns(int32_t runs, const std::function<void(int32_t)>& body) {
  QkHandle* qk = Exported_QKHandle;
  if (runs >= 2 && qk != nullptr && qk->KernelServiceDispatcher != nullptr) {
    QkServiceArgs args{};
    args.words[0] = runs;
    args.words[1] = reinterpret_cast<int64_t>(&runBody);
    args.words[2] = reinterpret_cast<int64_t>(&body);
    if (qk->KernelServiceDispatcher(qk, QK_SVC_ZRUNS, &args, 0) == 0)
      return;
  }
  for (int32_t r = 0; r < runs; ++r)
    body(r);
}

void zparrows(int32_t threads, int64_t first, int64_t last,
              const std::function<void(int64_t, int64_t)>& body) {
  if (last <= first)
    return;
  const int64_t total = elements(first, last);
  const int64_t least = std::max<int64_t>(1, minRunElements.load(std::memory_order_relaxed));
  const int32_t runs = static_cast<int32_t>(std::min<int64_t>(threads, total / least));
  if (runs < 2) {
    body(first, last);
    return;
  }
  std::vector<int64_t> cuts{first};
  const int64_t share = total / runs;
  int64_t acc = 0;
  for (int64_t r = first; r < last && static_cast<int32_t>(cuts.size()) < runs; ++r) {
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

void zparSetMinimumElements(int64_t least) {
  minRunElements.store(least < 0 ? kMinParallelElements : least, std::memory_order_relaxed);
}
