// Host memory pools as arenas: every block is zero-filled, a pool can free single blocks,
// and destroying a pool runs its registered clean-ups and frees all its blocks. Who makes
// pools (xmpoolc, the kernel handle's named pools) is the supervisor's and kernel's.
#pragma once

#include "support/hostif.h"

#include <new>
#include <string>
#include <utility>

namespace qrxhost {

// A new arena pool. Counted pools take part in livePoolCount().
QkPool* createArenaPool(const std::string& name, bool counted = true);
// The number of counted pools not yet destroyed.
int livePoolCount();
// Frees every block of the pool (after running its clean-ups) and keeps the pool.
void clearArenaPool(QkPool* pool);
// The name given at creation.
std::string arenaPoolName(QkPool* pool);
// Registers `cleanup(object)` to run when the pool is destroyed or cleared (last
// registered runs first). Returns 0, or -1 for a null pool.
int poolAtDestroy(QkPool* pool, void (*cleanup)(void*), void* object);

// The largest request for a pool block or a column's memory that could not be met since
// the last call (0 when none), and clears it: the step runner reports it when a step fails.
size_t takeLargestFailedRequest();
// Notes a request of `size` bytes that could not be met.
void noteFailedRequest(size_t size);
// Makes every failed allocation of the C++ heap (whose size the host does not see) a noted
// failure too; takeUnsizedFailure() says whether one happened since the last call, and
// clears it.
void installNewFailureNote();
bool takeUnsizedFailure();
// A size of memory as a message shows it: "12.3 MB", or "1.5 GB" from a gigabyte on.
std::string memorySizeText(size_t bytes);
// The address-space limit of the process as a message shows it ("no limit" when none).
std::string addressLimitText();

// Makes a T in the pool; its destructor runs when the pool is destroyed. Null on failure.
template <class T, class... Args> T* arenaNew(QkPool* pool, Args&&... args) {
  void* block = pool ? pool->allocate(pool, sizeof(T), kQkZeroed) : nullptr;
  if (!block)
    return nullptr;
  T* object = new (block) T(std::forward<Args>(args)...);
  poolAtDestroy(
      pool, [](void* p) { static_cast<T*>(p)->~T(); }, object);
  return object;
}

} // namespace qrxhost
