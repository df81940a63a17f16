// Stand-ins for the design row protocol and the observation source until the design
// library provides them: each reports an internal error and fails, so no pass reads
// made-up rows.
#include "design/levreg.h"

#include "support/hoststubs.h"

int32_t zlevGetInit(LevRegContext*) {
  xebug("zlevGetInit: the observation source of the design context is not available");
  return 1;
}

int32_t zlevGetNext(LevRegContext*) {
  xebug("zlevGetNext: the observation source of the design context is not available");
  return 0;
}

int32_t zlevrgd(LevRegContext*, double*, double*, double*) {
  xebug("zlevrgd: the design row protocol is not available");
  return 0x23;
}

void zlevrgx(LevRegContext*, const double*, const int32_t*, double*) {
  xebug("zlevrgx: the design row protocol is not available");
}

int32_t zlevCheckEftEXMISS(int32_t* status, LevRegContext*, LevDesign*, int32_t) {
  xebug("zlevCheckEftEXMISS: the design row protocol is not available");
  if (status != nullptr)
    *status |= 0x22;
  return 0;
}
