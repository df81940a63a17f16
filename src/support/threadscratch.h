// Per-thread scratch objects that register no destructor with the C library.
//
// A thread_local object with a destructor makes the C library allocate a record the first
// time a thread touches it, and the library ends the process when that allocation fails:
// memory exhausted at that moment would end the run by a signal instead of the step's
// out-of-memory message. A ThreadScratch is trivially destructible. The object it holds is
// made on its first use (a failure is std::bad_alloc, which the steps report as out of
// memory) and freed when its thread ends, by the destructor of one POSIX thread-specific
// key; setting the key's value fails with an error code, never an abort, so that failure is
// std::bad_alloc too.
#pragma once

#include <new>
#include <pthread.h>

// A link in the list of a thread's scratch objects (the key's value is its head).
struct ThreadScratchNode {
  ThreadScratchNode* next;
  void (*release)(ThreadScratchNode*);
};

namespace threadscratch {

// The key's destructor: frees every scratch object of the ending thread.
inline void releaseAll(void* head) {
  for (auto* node = static_cast<ThreadScratchNode*>(head); node != nullptr;) {
    ThreadScratchNode* next = node->next;
    node->release(node);
    node = next;
  }
}

// The process's key, made at its first use.
inline pthread_key_t key() {
  static const pthread_key_t made = [] {
    pthread_key_t k{};
    if (pthread_key_create(&k, releaseAll) != 0)
      throw std::bad_alloc();
    return k;
  }();
  return made;
}

// Puts `node` at the head of this thread's list; std::bad_alloc when the key cannot be set.
inline void adopt(ThreadScratchNode* node) {
  const pthread_key_t k = key();
  node->next = static_cast<ThreadScratchNode*>(pthread_getspecific(k));
  if (pthread_setspecific(k, node) != 0)
    throw std::bad_alloc();
}

} // namespace threadscratch

// Declared thread_local; get() gives this thread's T, made by T() on the first call.
template <class T> class ThreadScratch : private ThreadScratchNode {
public:
  constexpr ThreadScratch() : ThreadScratchNode{nullptr, &ThreadScratch::releaseObject} {}

  T& get() {
    if (object_ == nullptr) {
      T* made = new T();
      try {
        threadscratch::adopt(this);
      } catch (...) {
        delete made;
        throw;
      }
      object_ = made;
    }
    return *object_;
  }

private:
  static void releaseObject(ThreadScratchNode* node) {
    auto* self = static_cast<ThreadScratch*>(node);
    delete self->object_;
    self->object_ = nullptr;
  }

  T* object_ = nullptr;
};
