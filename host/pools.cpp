// Arena pools behind QkPool: blocks come from calloc (large ones are mappings of their own) and
// are tracked per pool, so that a pool can free one block, reallocate it, or release
// everything at once.
#include "host/pools.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/mman.h>

namespace qrxhost {
namespace {

std::atomic<int> gLivePools{0};

struct Arena {
  QkPool vt; // first: the pool pointer handed out is the arena's address
  std::string name;
  bool counted = true;
  std::mutex mutex;
  std::unordered_map<void*, size_t> blocks;
  std::vector<std::pair<void (*)(void*), void*>> cleanups;
};

// Large blocks are mappings of their own, aligned to the system's large memory pages and
// advised to use them: a first touch then costs one fault per large page instead of one per
// small page, which matters when several threads fill fresh memory at once. Smaller blocks come
// from calloc. Both are zero when handed out.
constexpr size_t kLargePage = size_t{2} << 20;
constexpr size_t kLargeBlock = size_t{4} << 20;

size_t mappedBytes(size_t size) { return (size + 4095) & ~size_t{4095}; }

void* mapLarge(size_t size) {
  const size_t bytes = mappedBytes(size);
  void* raw = ::mmap(nullptr, bytes + kLargePage, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED)
    return nullptr;
  const auto begin = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = (begin + kLargePage - 1) & ~(uintptr_t{kLargePage} - 1);
  if (aligned > begin)
    ::munmap(raw, aligned - begin);
  const uintptr_t end = begin + bytes + kLargePage;
  if (end > aligned + bytes)
    ::munmap(reinterpret_cast<void*>(aligned + bytes), end - (aligned + bytes));
  // Advice only: where the system has no large pages to give, small ones serve.
  ::madvise(reinterpret_cast<void*>(aligned), bytes, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void* newBlock(size_t size) {
  return size >= kLargeBlock ? mapLarge(size) : std::calloc(1, size ? size : 1);
}

void freeBlock(void* block, size_t size) {
  if (size >= kLargeBlock)
    ::munmap(block, mappedBytes(size));
  else
    std::free(block);
}

Arena* arenaOf(QkPool* pool) { return reinterpret_cast<Arena*>(pool); }

void releaseAll(Arena* a) {
  std::vector<std::pair<void (*)(void*), void*>> cleanups;
  {
    std::lock_guard<std::mutex> lock(a->mutex);
    cleanups.swap(a->cleanups);
  }
  for (auto it = cleanups.rbegin(); it != cleanups.rend(); ++it)
    it->first(it->second);
  std::lock_guard<std::mutex> lock(a->mutex);
  for (auto& b : a->blocks)
    freeBlock(b.first, b.second);
  a->blocks.clear();
}

void* arenaAllocate(QkPool* pool, size_t size, uint32_t /*flags*/) {
  if (!pool)
    return nullptr;
  Arena* a = arenaOf(pool);
  // Every block is zeroed whatever the flags say: callers rely on it.
  void* block = newBlock(size);
  if (!block)
    return nullptr;
  std::lock_guard<std::mutex> lock(a->mutex);
  a->blocks.emplace(block, size);
  return block;
}

void arenaFree(QkPool* pool, void* block) {
  if (!pool || !block)
    return;
  Arena* a = arenaOf(pool);
  std::lock_guard<std::mutex> lock(a->mutex);
  auto it = a->blocks.find(block);
  if (it == a->blocks.end())
    return; // not ours: leave it alone rather than corrupt the heap
  freeBlock(block, it->second);
  a->blocks.erase(it);
}

void* arenaReallocate(QkPool* pool, void* block, size_t size, uint32_t flags) {
  if (!pool)
    return nullptr;
  if (!block)
    return arenaAllocate(pool, size, flags);
  Arena* a = arenaOf(pool);
  std::lock_guard<std::mutex> lock(a->mutex);
  auto it = a->blocks.find(block);
  if (it == a->blocks.end())
    return nullptr;
  size_t old = it->second;
  void* grown;
  if (old < kLargeBlock && size < kLargeBlock) {
    grown = std::realloc(block, size ? size : 1);
    if (!grown)
      return nullptr;
    if (size > old)
      std::memset(static_cast<char*>(grown) + old, 0, size - old);
  } else {
    // To or from a mapping of its own: a new block (zero beyond the old bytes) and a copy.
    grown = newBlock(size);
    if (!grown)
      return nullptr;
    std::memcpy(grown, block, std::min(old, size));
    freeBlock(block, old);
  }
  a->blocks.erase(it);
  a->blocks.emplace(grown, size);
  return grown;
}

void arenaDestroy(QkPool* pool) {
  if (!pool)
    return;
  Arena* a = arenaOf(pool);
  releaseAll(a);
  if (a->counted)
    --gLivePools;
  delete a;
}

} // namespace

QkPool* createArenaPool(const std::string& name, bool counted) {
  Arena* a = new (std::nothrow) Arena;
  if (!a)
    return nullptr;
  a->vt = QkPool{nullptr, nullptr, arenaDestroy, arenaAllocate, arenaFree, arenaReallocate};
  a->name = name;
  a->counted = counted;
  if (counted)
    ++gLivePools;
  return &a->vt;
}

int livePoolCount() { return gLivePools.load(); }

void clearArenaPool(QkPool* pool) {
  if (pool)
    releaseAll(arenaOf(pool));
}

std::string arenaPoolName(QkPool* pool) { return pool ? arenaOf(pool)->name : std::string(); }

int poolAtDestroy(QkPool* pool, void (*cleanup)(void*), void* object) {
  if (!pool || !cleanup)
    return -1;
  Arena* a = arenaOf(pool);
  std::lock_guard<std::mutex> lock(a->mutex);
  a->cleanups.emplace_back(cleanup, object);
  return 0;
}

} // namespace qrxhost
