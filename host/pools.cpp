// Arena pools behind QkPool: blocks come from calloc and are tracked per pool, so that a
// pool can free one block, reallocate it, or release everything at once.
#include "host/pools.h"

#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>
#include <vector>

#include <sys/resource.h>

namespace qrxhost {
namespace {

std::atomic<int> gLivePools{0};
std::atomic<size_t> gLargestFailed{0};

struct Arena {
  QkPool vt; // first: the pool pointer handed out is the arena's address
  std::string name;
  bool counted = true;
  std::mutex mutex;
  std::unordered_map<void*, size_t> blocks;
  std::vector<std::pair<void (*)(void*), void*>> cleanups;
};

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
    std::free(b.first);
  a->blocks.clear();
}

void* arenaAllocate(QkPool* pool, size_t size, uint32_t /*flags*/) {
  if (!pool)
    return nullptr;
  Arena* a = arenaOf(pool);
  // Every block is zeroed whatever the flags say: callers rely on it.
  void* block = std::calloc(1, size ? size : 1);
  if (!block) {
    noteFailedRequest(size);
    return nullptr;
  }
  std::lock_guard<std::mutex> lock(a->mutex);
  [[maybe_unused]] const bool fresh = a->blocks.emplace(block, size).second;
  assert(fresh && "a block the heap just gave is in no pool");
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
  std::free(block);
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
  void* grown = std::realloc(block, size ? size : 1);
  if (!grown) {
    noteFailedRequest(size);
    return nullptr;
  }
  if (size > old)
    std::memset(static_cast<char*>(grown) + old, 0, size - old);
  a->blocks.erase(it);
  [[maybe_unused]] const bool fresh = a->blocks.emplace(grown, size).second;
  assert(fresh && "a block the heap just gave is in no pool");
  return grown;
}

void arenaDestroy(QkPool* pool) {
  if (!pool)
    return;
  Arena* a = arenaOf(pool);
  releaseAll(a);
  assert(a->cleanups.empty() && "no cleanup registered while the pool is destroyed");
  if (a->counted) {
    [[maybe_unused]] const int live = gLivePools--;
    assert(live > 0 && "a counted pool was counted when made");
  }
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

size_t takeLargestFailedRequest() { return gLargestFailed.exchange(0); }

std::string memorySizeText(size_t bytes) {
  char size[32];
  const double mb = static_cast<double>(bytes) / (1024.0 * 1024.0);
  if (mb >= 1024)
    std::snprintf(size, sizeof size, "%.1f GB", mb / 1024.0);
  else
    std::snprintf(size, sizeof size, "%.1f MB", mb);
  return size;
}

std::string addressLimitText() {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
    return "no limit";
  return memorySizeText(static_cast<size_t>(limit.rlim_cur));
}

void noteFailedRequest(size_t size) {
  size_t seen = gLargestFailed.load(std::memory_order_relaxed);
  while (size > seen && !gLargestFailed.compare_exchange_weak(seen, size))
    ;
}

namespace {

std::atomic<bool> gUnsizedFailure{false};

// The new handler: notes the failure and lets operator new throw as it would have.
[[noreturn]] void noteNewFailure() {
  gUnsizedFailure.store(true);
  throw std::bad_alloc();
}

} // namespace

void installNewFailureNote() { std::set_new_handler(noteNewFailure); }

bool takeUnsizedFailure() { return gUnsizedFailure.exchange(false); }

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
