// Zeroed blocks from a memory pool, as the output tables and labels take their scratch
// space: nothing is asked of a missing pool or for an empty block.
#pragma once

#include "support/hostif.h"

#include <cstddef>
#include <cstdint>

// A zeroed block of `bytes` bytes from `pool`; null when there is no pool, `bytes` is not
// positive or the pool has no room.
inline void *poolTake(QkPool *pool, int64_t bytes) {
  if (pool == nullptr || bytes <= 0)
    return nullptr;
  return pool->allocate(pool, static_cast<size_t>(bytes), kQkZeroed);
}
