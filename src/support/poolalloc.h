// Zeroed blocks from a memory pool, as the output tables and labels take their scratch
// space: nothing is asked of a missing pool or for an empty block.
#pragma once

#include "support/hostif.h"

#include <cassert>
#include <cstddef>
#include <cstdint>

// A zeroed block of `bytes` bytes from `pool`; null when there is no pool, `bytes` is not
// positive or the pool has no room.
inline void* poolTake(QkPool* pool, int64_t bytes) {
  if (pool == nullptr || bytes <= 0)
    return nullptr;
  return pool->allocate(pool, static_cast<size_t>(bytes), kQkZeroed);
}

// A zeroed array of `count` elements of T from `pool`; null when there is no pool, `count` is
// not positive or the pool has no room.
template <class T> T* poolArray(QkPool* pool, int64_t count) {
  if (count <= 0)
    return nullptr;
  assert(count <= INT64_MAX / static_cast<int64_t>(sizeof(T)) && "the block size overflows");
  return static_cast<T*>(poolTake(pool, static_cast<int64_t>(sizeof(T)) * count));
}

// Destroys `pool` with everything taken from it and leaves the pointer null; nothing is done
// for a missing pool.
inline void poolDestroy(QkPool*& pool) {
  if (pool != nullptr) {
    pool->destroy(pool);
    pool = nullptr;
  }
}

// A pool that lives as long as its scope: destroyed with everything taken from it when the
// owner goes, so that no early return leaves it alive.
class ScopedPool {
public:
  explicit ScopedPool(QkPool* pool) : owned_(pool) {}
  ~ScopedPool() { poolDestroy(owned_); }
  ScopedPool(const ScopedPool&) = delete;
  ScopedPool& operator=(const ScopedPool&) = delete;
  [[nodiscard]] QkPool* get() const { return owned_; }

private:
  QkPool* owned_;
};
