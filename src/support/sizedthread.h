// Threads started with a stack of a fixed size instead of the system's default (8 MB under
// the usual stack limit, and more when the limit is raised). Every thread of the host and the
// module starts here: under an address-space limit (ulimit -v) a run of many threads would
// otherwise give most of the space to stacks it never touches. The size covers the deepest
// stack measured on these threads, with room to spare, and is larger under AddressSanitizer,
// whose frames carry redzones and whose reports run on the failing thread.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

#include <pthread.h>

// The stack every SizedThread starts with, in bytes.
[[nodiscard]] size_t threadStackBytes();

// A joinable thread like std::thread, started with threadStackBytes() of stack. A thread the
// system cannot start throws std::system_error, as std::thread does, and a copy of the
// callable that cannot be made throws std::bad_alloc. Destroying one that is still joinable
// ends the process, as std::thread does.
class SizedThread {
public:
  SizedThread() noexcept = default;
  template <class F, class... Args>
  requires(!std::is_same_v<std::remove_cvref_t<F>, SizedThread>) explicit SizedThread(
      F&& f, Args&&... args) {
    start(std::make_unique<Body>([call = std::make_tuple(std::forward<F>(f),
                                                         std::forward<Args>(args)...)]() mutable {
      std::apply([](auto& fn, auto&... a) { std::invoke(std::move(fn), std::move(a)...); }, call);
    }));
  }
  SizedThread(SizedThread&& other) noexcept { swap(other); }
  SizedThread& operator=(SizedThread&& other) noexcept;
  SizedThread(const SizedThread&) = delete;
  SizedThread& operator=(const SizedThread&) = delete;
  ~SizedThread();

  [[nodiscard]] bool joinable() const noexcept { return started_; }
  // Whether this is the thread that asks.
  [[nodiscard]] bool isCurrent() const noexcept;
  void join();
  void detach();

private:
  using Body = std::function<void()>;
  void start(std::unique_ptr<Body> body);
  void swap(SizedThread& other) noexcept {
    std::swap(handle_, other.handle_);
    std::swap(started_, other.started_);
  }

  pthread_t handle_{};
  bool started_ = false;
};
