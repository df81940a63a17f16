// The worker pool: a FIFO of tasks served by workers that sleep between tasks, and the split
// of a piece of work into runs that the caller and the workers claim one at a time. Which
// thread runs a run decides nothing: each run's work is the same whoever takes it.
#include "host/workpool.h"

#include "support/startthreads.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace qrxhost {
namespace {

// Never more workers than this, whatever a caller asks for.
constexpr int32_t kMaxWorkers = 255;

class WorkPool {
public:
  ~WorkPool() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    wake_.notify_all();
    for (SizedThread& t : workers_)
      if (t.joinable() && !t.isCurrent())
        t.join();
  }

  int32_t grow(int32_t wanted) {
    std::lock_guard<std::mutex> lock(mutex_);
    return growLocked(wanted);
  }

  // Starts workers so that up to `idle` of them are free besides those that tasks posted and
  // not yet ended and the splits under way hold (a split started inside a task, or while
  // other tasks hold workers, finds workers of its own), and books them for a split until
  // releaseHelpers; returns how many it booked. A helper of a split that has ended holds
  // nothing, however late it runs, so the workers started depend on the work under way, not
  // on how fast the threads were scheduled.
  int32_t bookHelpers(int32_t idle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto taken = static_cast<int32_t>(std::min<size_t>(tasks_ + helping_, kMaxWorkers));
    const int32_t booked = std::clamp(growLocked(taken + idle) - taken, 0, idle);
    helping_ += static_cast<size_t>(booked);
    return booked;
  }
  void releaseHelpers(int32_t booked) {
    std::lock_guard<std::mutex> lock(mutex_);
    helping_ -= static_cast<size_t>(booked);
  }

  // A split's helper (`helper`) is counted by its split's booking; any other task from its
  // posting to its end.
  void post(std::function<void()> task, bool helper) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(Task{std::move(task), helper});
      tasks_ += helper ? 0 : 1;
    }
    wake_.notify_one();
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
  int32_t growLocked(int32_t wanted) {
    wanted = std::min(wanted, kMaxWorkers);
    const auto have = static_cast<int32_t>(workers_.size());
    if (have < wanted && !startFailed_) {
      const size_t want = static_cast<size_t>(wanted - have);
      const size_t started =
          failStarts_ ? 0
                      : startThreads(workers_, want, [this](size_t) { return [this] { work(); }; });
      startFailed_ = started < want; // fewer threads from here on
    }
    return static_cast<int32_t>(workers_.size());
  }

  void work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty())
        return; // stopping with nothing left
      Task task = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      try {
        task.run();
      } catch (...) {
        // A task keeps its own failures: nothing may leave a worker.
      }
      task.run = nullptr; // what the task holds goes before the next wait
      lock.lock();
      tasks_ -= task.helper ? 0 : 1;
    }
  }

  struct Task {
    std::function<void()> run;
    bool helper;
  };

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  std::vector<SizedThread> workers_;
  size_t tasks_ = 0;   // tasks other than helpers, posted and not yet ended
  size_t helping_ = 0; // workers booked by the splits under way
  bool stopping_ = false;
  bool startFailed_ = false;
  bool failStarts_ = false;
};

WorkPool& pool() {
  static WorkPool p;
  return p;
}

// One split under way: its runs go to whoever claims them first. Workers hold it by a shared
// pointer, so one woken after the split is over finds nothing left to claim.
struct Split {
  const std::function<void(int32_t)>* body;
  int32_t runs;
  std::atomic<int32_t> next{0};
  std::mutex mutex;
  std::condition_variable done;
  int32_t left;
  std::exception_ptr failure; // the first exception a run threw
};

// Runs unclaimed runs of the split and counts them as run, a run that throws among them: the
// caller waits for every run before it returns or throws, since the runs use its frame.
void claim(Split& s) {
  int32_t ran = 0;
  std::exception_ptr failure;
  for (int32_t r = s.next.fetch_add(1); r < s.runs; r = s.next.fetch_add(1), ++ran) {
    try {
      (*s.body)(r);
    } catch (...) {
      if (!failure)
        failure = std::current_exception();
    }
  }
  if (ran == 0)
    return;
  std::lock_guard<std::mutex> lock(s.mutex);
  if (failure && !s.failure)
    s.failure = failure;
  s.left -= ran;
  if (s.left == 0)
    s.done.notify_all();
}

// Hands the split to up to `helpers` workers; a task that cannot be queued for want of memory
// leaves its share to the others and the caller.
void postHelpers(const std::shared_ptr<Split>& split, int32_t helpers) {
  try {
    for (int32_t h = 0; h < helpers; ++h)
      pool().post([split] { claim(*split); }, true);
  } catch (const std::bad_alloc&) {
  }
}

} // namespace

void workRuns(int32_t runs, const std::function<void(int32_t)>& body) {
  if (runs < 2) {
    for (int32_t r = 0; r < runs; ++r)
      body(r);
    return;
  }
  auto split = std::make_shared<Split>();
  split->body = &body;
  split->runs = runs;
  split->left = runs;
  const int32_t helpers = pool().bookHelpers(runs - 1);
  postHelpers(split, helpers);
  claim(*split);
  {
    std::unique_lock<std::mutex> lock(split->mutex);
    split->done.wait(lock, [&] { return split->left == 0; });
  }
  pool().releaseHelpers(helpers);
  if (split->failure)
    std::rethrow_exception(split->failure);
}

int32_t workPoolGrow(int32_t wanted) { return pool().grow(wanted); }

void workPost(std::function<void()> task) { pool().post(std::move(task), false); }

int32_t workPoolStarted() { return pool().started(); }

void workPoolRefuseStarts(bool refuse) { pool().failStarts(refuse); }

} // namespace qrxhost
