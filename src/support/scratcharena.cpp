// The scratch arena of each thread (support/scratcharena.h).
#include "support/scratcharena.h"

#include "support/threadscratch.h"

VsfScratchArena& VsfScratchArena::mine() {
  // The process's one per-thread cache of the kernels' and row passes' buffers: trivially
  // destructible, so nothing is registered with the C library's per-thread destructors.
  thread_local ThreadScratch<VsfScratchArena> arena;
  return arena.get();
}
