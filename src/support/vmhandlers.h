// Library memory handlers: the design library allocates through a memory provider (a
// table whose first two words are its allocate and free entries) instead of a pool.
#pragma once

#include <cstddef>
#include <cstdint>

struct VmProvider;
using VmAllocateFn = void* (*)(VmProvider* provider, size_t size, int64_t flags, VmProvider* self);
using VmFreeFn = void (*)(VmProvider* provider, void* block, size_t size, int64_t flags,
                          VmProvider* self);

struct VmProvider {
  VmAllocateFn allocate; // word 0
  VmFreeFn free;         // word 1
};

// Flags that callers pass; blocks asked for with 0x3002, 0x3006, 0x2002 or 0x80000000
// come back zero-filled.
inline constexpr uint32_t kVmZeroed = 0x80000000u;

void* vmalcp_handler(VmProvider* provider, size_t size, int32_t flags);
void* vmalloc_handler(VmProvider* provider, size_t size, int32_t flags, ...);
void vmfree_handler(VmProvider* provider, void* block, size_t size, int32_t flags);
// The module hook called by the module entry; it does nothing.
void himodcn();

// True when a request with these flags must come back zeroed.
[[nodiscard]] bool vmWantsZeroed(int64_t flags);
