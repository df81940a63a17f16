// Named kernel pools through the kernel handle.
#include "support/vsfpools.h"

#include "support/hostif.h"

QkPool* vsfCreateNamedPool(uint32_t flags, const char* name) {
  QkHandle* qk = Exported_QKHandle;
  if (qk == nullptr || qk->createPool == nullptr)
    return nullptr;
  QkPoolAttributes attrs{};
  attrs.flags = flags;
  return qk->createPool(qk, &attrs, nullptr, name);
}
