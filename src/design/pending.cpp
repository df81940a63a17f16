// Stand-ins for the levelisation library until it is built. zlevrgi reports itself and
// fails the BY group; zlevtrm releases the group's library pool as the real one does.
#include "design/levreg.h"

#include "support/hoststubs.h"

int32_t zlevrgi(LevRegContext*) {
  xebug("zlevrgi: levelisation is not available in this build");
  return 6;
}

void zlevtrm(LevRegContext* context, int32_t flags) {
  LevLibraryBlock* lib = context->library;
  if (lib == nullptr || (flags & 0x20) == 0)
    return;
  QkPool* defaultPool = v_global_gcb_anchor->defaultPool;
  if (lib->pool != nullptr && lib->pool != defaultPool)
    xmpoold(lib->pool);
  lib->pool = defaultPool;
}
