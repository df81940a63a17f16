// zparrows and zparrange: the split of a triangle update by rows, or of a vector update by
// elements, over the workers of one process-wide pool. Every element is updated by exactly
// one thread with the same operations as in a serial run: results do not depend on the
// thread count, nor on how many workers could be started.
#include "support/zparrows.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
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
// Never more workers than this, whatever a caller asks for.
constexpr int32_t kMaxWorkers = 255;

// The workers that run the cuts. They are started when a split first asks for them and then
// sleep between splits, so a sweep step costs a wake-up per worker instead of a thread start.
// One split runs at a time: a caller that finds the pool busy (a split from inside a worker,
// or from another thread) runs its cuts itself. A worker that cannot be started leaves the
// work to fewer threads; the cuts still all run, the caller taking what no worker claims.
class CutPool {
public:
  ~CutPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
      if (t.joinable() && t.get_id() != std::this_thread::get_id())
        t.join();
  }

  // Runs body over the runs [cuts[t], cuts[t + 1]) and returns when all have finished.
  void run(const std::vector<int64_t>& cuts, const std::function<void(int64_t, int64_t)>& body) {
    const int32_t runs = static_cast<int32_t>(cuts.size()) - 1;
    std::unique_lock<std::mutex> busy(busy_, std::try_to_lock);
    if (runs < 2 || !busy.owns_lock()) {
      for (int32_t t = 0; t < runs; ++t)
        body(cuts[t], cuts[t + 1]);
      return;
    }
    const int32_t helpers = std::min<int32_t>(grow(runs - 1), runs - 1);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      cuts_ = &cuts;
      body_ = &body;
      next_.store(0, std::memory_order_relaxed);
      left_ = runs;
      ++generation_;
    }
    for (int32_t w = 0; w < helpers; ++w)
      wake_.notify_one();
    const int32_t mine = claim();
    std::unique_lock<std::mutex> lock(mutex_);
    left_ -= mine;
    done_.wait(lock, [this] { return left_ == 0 && active_ == 0; });
    cuts_ = nullptr;
    body_ = nullptr;
  }

  [[nodiscard]] int32_t started() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int32_t>(workers_.size());
  }

  void failStarts(bool fail) {
    std::lock_guard<std::mutex> lock(mutex_);
    failStarts_ = fail;
    startFailed_ = false;
  }

private:
  // Starts workers up to `wanted` (once; a failed start is not retried); returns how many run.
  int32_t grow(int32_t wanted) {
    std::lock_guard<std::mutex> lock(mutex_);
    wanted = std::min(wanted, kMaxWorkers);
    while (static_cast<int32_t>(workers_.size()) < wanted && !startFailed_) {
      try {
        if (failStarts_)
          throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        workers_.emplace_back([this] { work(); });
      } catch (const std::system_error&) {
        startFailed_ = true; // fewer threads from here on; the caller runs what is left
      }
    }
    return static_cast<int32_t>(workers_.size());
  }

  // Runs unclaimed cuts of the current split; returns how many this thread ran.
  int32_t claim() {
    const int32_t runs = static_cast<int32_t>(cuts_->size()) - 1;
    int32_t ran = 0;
    for (int32_t t = next_.fetch_add(1); t < runs; t = next_.fetch_add(1), ++ran)
      (*body_)((*cuts_)[t], (*cuts_)[t + 1]);
    return ran;
  }

  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    uint64_t seen = generation_;
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_)
        return;
      seen = generation_;
      if (body_ == nullptr)
        continue; // woken after its split was over
      ++active_;
      lock.unlock();
      const int32_t ran = claim();
      lock.lock();
      left_ -= ran;
      if (--active_ == 0 && left_ == 0)
        done_.notify_one();
    }
  }

  std::mutex busy_; // held by the caller of the split under way
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  std::vector<std::thread> workers_;
  const std::vector<int64_t>* cuts_ = nullptr;
  const std::function<void(int64_t, int64_t)>* body_ = nullptr;
  std::atomic<int32_t> next_{0};
  int32_t left_ = 0;   // cuts not yet counted as run
  int32_t active_ = 0; // workers inside the split under way
  uint64_t generation_ = 0;
  bool stopping_ = false;
  bool startFailed_ = false;
  bool failStarts_ = false;
};

CutPool& cutPool() {
  static CutPool pool;
  return pool;
}

[[nodiscard]] int64_t elements(int64_t first, int64_t last) {
  return (last * (last + 1) - first * (first + 1)) / 2;
}
} // namespace

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
  cutPool().run(cuts, body);
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
  cutPool().run(cuts, body);
}

int32_t zparWorkers() { return cutPool().started(); }

void zparFailWorkerStarts(bool fail) { cutPool().failStarts(fail); }

void zparSetMinimumElements(int64_t least) {
  minRunElements.store(least < 0 ? kMinParallelElements : least, std::memory_order_relaxed);
}
