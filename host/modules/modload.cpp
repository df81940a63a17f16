// Group 12: sibling modules are linked into the host and found by name; loading one hands
// out its registry record as the handle, and the entry routine comes from that record.
#include "host/modules/modload.h"

#include "host/hostlog.h"

#include <cstring>

namespace qrxhost {
namespace {

struct ModuleRecord {
  const char* name;
  PostFitEntry entry;
};

const ModuleRecord kModules[] = {{"qrxauxmd", qrxauxmdEntry}};

int32_t wiloadv(void** handle, const char* name, int32_t, int32_t, int32_t, int32_t) {
  if (handle == nullptr || name == nullptr)
    return -1;
  for (const ModuleRecord& m : kModules)
    if (std::strcmp(m.name, name) == 0) {
      *handle = const_cast<ModuleRecord*>(&m);
      return 0;
    }
  return -1;
}

int32_t viidb2g(void* handle, PostFitEntry* entry) {
  if (handle == nullptr || entry == nullptr)
    return -1;
  *entry = static_cast<const ModuleRecord*>(handle)->entry;
  return 0;
}

void xpslog(const char* text) { logLine(HostSeverity::Note, text != nullptr ? text : ""); }

} // namespace

HostModuleServices* moduleServices() {
  static HostModuleServices s{wiloadv, viidb2g, xpslog};
  return &s;
}

} // namespace qrxhost
