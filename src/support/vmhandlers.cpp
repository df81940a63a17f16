// Library memory handlers: thin calls through a provider's two entries.
#include "support/vmhandlers.h"

void* vmalcp_handler(VmProvider* provider, size_t size, int32_t flags) {
  return provider->allocate(provider, size, static_cast<int64_t>(flags), provider);
}

void* vmalloc_handler(VmProvider* provider, size_t size, int32_t flags, ...) {
  return provider->allocate(provider, size, static_cast<int64_t>(flags), provider);
}

void vmfree_handler(VmProvider* provider, void* block, size_t size, int32_t flags) {
  provider->free(provider, block, size, static_cast<int64_t>(flags), provider);
}

void himodcn() {}

bool vmWantsZeroed(int64_t flags) {
  uint32_t f = static_cast<uint32_t>(flags);
  return (f & 0x80000000u) != 0 || f == 0x3002u || f == 0x3006u || f == 0x2002u;
}
