// Memory of the effect and design library: every block comes from vmalcp_handler on a
// memory provider that stands in front of a host pool. The pools themselves (the host's
// default pool at parse time, a per-BY-group pool later) belong to the host and the driver.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>

struct QkPool;
struct VmProvider;

// The provider in front of a pool (made once per pool and kept in the pool itself).
VmProvider* levPoolProvider(QkPool* pool);
// The provider of parse time: the host control block's default pool.
VmProvider* levParseProvider();

// Zero-filled block of `size` bytes from the parse-time provider; null on failure.
void* levAlloc(size_t size);
// Same, from a given provider.
void* levAllocFrom(VmProvider* provider, size_t size);
// Returns a block to the parse-time provider (pools are arenas; this may do nothing).
void levFree(void* block, size_t size);
// Grows an array of `count` elements of `elem` bytes to `newCount` (zeroed tail); the old
// block is returned to the provider. Null on failure (the old block stays valid).
void* levGrow(void* block, size_t elem, size_t count, size_t newCount);
// A NUL-terminated copy of n characters; null on failure.
char* levStrdup(const char* text, int32_t n);

template <typename T> T* levNew(size_t count = 1) {
  assert(count <= SIZE_MAX / sizeof(T) && "the block size overflows");
  return static_cast<T*>(levAlloc(sizeof(T) * (count ? count : 1)));
}
