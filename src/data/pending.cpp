// Stand-ins for the data pages and the thread pool until they are built. Reading reports
// itself and fails; the release entries have nothing to release.
#include "data/vsfdata.h"

#include "support/hoststubs.h"

int32_t vsfInitializeThreads(ThreadPuddle* puddle, int32_t count) {
  puddle->count = count;
  return 0;
}
void vsfTerminateThreads(ThreadPuddle* puddle) { puddle->pool = nullptr; }
void zpudt(ThreadPuddle* puddle) { puddle->pool = nullptr; }
int32_t vsfData(VsfContext*) {
  xebug("vsfData: reading observations into pages is not available in this build");
  return -99;
}
void vsfBagVecRelease(VsfBagVec* vec, QkExtensionSet*) {
  vec->files = nullptr;
  vec->count = 0;
  vec->capacity = 0;
}
int32_t vsfCreateScratch(VsfScratch*, QkExtensionSet*, int64_t, int64_t, int64_t, int64_t,
                         uint8_t*) {
  xebug("vsfCreateScratch: scratch files are not available in this build");
  return 1;
}
void vsfFreeScratch(VsfScratch* scratch, QkExtensionSet*) { scratch->file = nullptr; }
