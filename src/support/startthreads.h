// Starting worker threads where the system may refuse some: under an address-space limit a
// thread's stack may not fit, and the process may have no thread left to give. The work then
// runs on the threads that did start, down to the caller's own.
#pragma once

#include "support/sizedthread.h"

#include <cstddef>
#include <new>
#include <system_error>
#include <vector>

// Starts up to `count` threads into `pool`, thread k running make(k)'s callable, and stops
// at the first the system cannot start; returns how many started.
template <class Make>
size_t startThreads(std::vector<SizedThread>& pool, size_t count, Make&& make) {
  const size_t before = pool.size();
  try {
    pool.reserve(before + count);
    for (size_t k = 0; k < count; ++k)
      pool.emplace_back(make(k));
  } catch (const std::system_error&) {
  } catch (const std::bad_alloc&) {
  }
  return pool.size() - before;
}
