// Memory of the effect and design library: providers in front of host pools, and the
// small allocation helpers the library uses. Pool lifetime is the host's and driver's.
#include "effects/levalloc.h"

#include "support/hostif.h"
#include "support/vmhandlers.h"

#include <cstring>

namespace {

// A provider record: the two entries the handlers call, then the pool behind them.
struct PoolProvider {
  VmProvider vm;
  QkPool* pool;
};

void* poolAllocate(VmProvider* provider, size_t size, int64_t flags, VmProvider*) {
  QkPool* pool = reinterpret_cast<PoolProvider*>(provider)->pool;
  uint32_t qkFlags = vmWantsZeroed(flags) ? kQkZeroed : 0;
  void* block = pool->allocate(pool, size, qkFlags);
  // The library relies on zeroed blocks for the records it makes; make sure of it.
  if (block != nullptr && qkFlags != 0)
    std::memset(block, 0, size);
  return block;
}

void poolFree(VmProvider* provider, void* block, size_t, int64_t, VmProvider*) {
  QkPool* pool = reinterpret_cast<PoolProvider*>(provider)->pool;
  if (block != nullptr && pool->free != nullptr)
    pool->free(pool, block);
}

// Flags of a library request for a zeroed record.
constexpr int32_t kLibZeroed = 0x3002;

} // namespace

VmProvider* levPoolProvider(QkPool* pool) {
  if (pool == nullptr)
    return nullptr;
  auto* p = static_cast<PoolProvider*>(pool->allocate(pool, sizeof(PoolProvider), kQkZeroed));
  if (p == nullptr)
    return nullptr;
  p->vm.allocate = poolAllocate;
  p->vm.free = poolFree;
  p->pool = pool;
  return &p->vm;
}

VmProvider* levParseProvider() {
  // Kept outside every pool: the host clears its default pool between steps.
  static PoolProvider provider{{poolAllocate, poolFree}, nullptr};
  HostControlBlock* cb = v_global_gcb_anchor;
  provider.pool = cb != nullptr ? cb->defaultPool : nullptr;
  return provider.pool != nullptr ? &provider.vm : nullptr;
}

void* levAllocFrom(VmProvider* provider, size_t size) {
  if (provider == nullptr)
    return nullptr;
  return vmalcp_handler(provider, size ? size : 1, kLibZeroed);
}

void* levAlloc(size_t size) { return levAllocFrom(levParseProvider(), size); }

void levFree(void* block, size_t size) {
  VmProvider* provider = levParseProvider();
  if (block != nullptr && provider != nullptr)
    vmfree_handler(provider, block, size, kLibZeroed);
}

void* levGrow(void* block, size_t elem, size_t count, size_t newCount) {
  void* grown = levAlloc(elem * newCount);
  if (grown == nullptr)
    return nullptr;
  if (block != nullptr && count > 0)
    std::memcpy(grown, block, elem * (count < newCount ? count : newCount));
  levFree(block, elem * count);
  return grown;
}

char* levStrdup(const char* text, int32_t n) {
  if (n < 0)
    n = 0;
  char* copy = static_cast<char*>(levAlloc(static_cast<size_t>(n) + 1));
  if (copy != nullptr && n > 0)
    std::memcpy(copy, text, static_cast<size_t>(n));
  return copy;
}
