// Threads with a stack of a fixed size (sizedthread.h).
#include "support/sizedthread.h"

#include <exception>
#include <system_error>

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// The deepest stack measured on these threads was 52 KB in a Release build (the unit tests
// of the host, data, design, kernels, model and selection, the examples, and CSV files of
// 95 and 120 MB read on eight threads) and 60 KB in the AddressSanitizer build; 1 MB leaves
// room for deeper work than any of them reached. Under AddressSanitizer a report's
// symbolisation also runs on the failing thread's stack, so that build keeps the usual 8 MB.
constexpr size_t kStackBytes = size_t{1} << 20;
constexpr size_t kSanitizedStackBytes = size_t{8} << 20;

// A thread's start: runs the body and frees it. An exception that leaves the body ends the
// process, as it does on a std::thread.
extern "C" void* runBody(void* raw) noexcept {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(raw));
  (*body)();
  return nullptr;
}

} // namespace

size_t threadStackBytes() { return kAddressSanitizer ? kSanitizedStackBytes : kStackBytes; }

void SizedThread::start(std::unique_ptr<Body> body) {
  pthread_attr_t attr;
  if (const int rc = pthread_attr_init(&attr); rc != 0)
    throw std::system_error(rc, std::generic_category(), "pthread_attr_init");
  int rc = pthread_attr_setstacksize(&attr, threadStackBytes());
  Body* const handed = body.release(); // a thread that starts frees it
  if (rc == 0)
    rc = pthread_create(&handle_, &attr, runBody, handed);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    const std::unique_ptr<Body> unstarted(handed);
    throw std::system_error(rc, std::generic_category(), "pthread_create");
  }
  started_ = true;
}

SizedThread& SizedThread::operator=(SizedThread&& other) noexcept {
  if (started_)
    std::terminate();
  swap(other);
  return *this;
}

SizedThread::~SizedThread() {
  if (started_)
    std::terminate();
}

bool SizedThread::isCurrent() const noexcept {
  return started_ && pthread_equal(handle_, pthread_self()) != 0;
}

void SizedThread::join() {
  if (!started_)
    throw std::system_error(std::make_error_code(std::errc::invalid_argument), "join");
  if (const int rc = pthread_join(handle_, nullptr); rc != 0)
    throw std::system_error(rc, std::generic_category(), "pthread_join");
  started_ = false;
}

void SizedThread::detach() {
  if (!started_)
    throw std::system_error(std::make_error_code(std::errc::invalid_argument), "detach");
  if (const int rc = pthread_detach(handle_); rc != 0)
    throw std::system_error(rc, std::generic_category(), "pthread_detach");
  started_ = false;
}
