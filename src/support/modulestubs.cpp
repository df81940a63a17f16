// The host service stubs of group 12: loading a sibling module by name, its entry routine
// and the log's trace lines. A host without the group loads nothing.
#include "support/modulestubs.h"

#include "support/hoststubs.h"

namespace {

HostModuleServices* moduleServices() {
  HostServiceGroups* groups = hostGroups(HG_MODULE);
  return groups != nullptr ? groups->module : nullptr;
}

} // namespace

int32_t wiloadv(void** handle, const char* name, int32_t a, int32_t b, int32_t c, int32_t d) {
  HostModuleServices* s = moduleServices();
  return s != nullptr && s->wiloadv != nullptr ? s->wiloadv(handle, name, a, b, c, d) : -1;
}

int32_t viidb2g(void* handle, PostFitEntry* entry) {
  HostModuleServices* s = moduleServices();
  return s != nullptr && s->viidb2g != nullptr ? s->viidb2g(handle, entry) : -1;
}

void xpslog(const char* text) {
  HostModuleServices* s = moduleServices();
  if (s != nullptr && s->xpslog != nullptr)
    s->xpslog(text);
}
