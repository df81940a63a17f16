// The worker pool's test switch: an object of its own, so that a runner links it only when it
// sets it. Compiled only where the test switches exist. Declared in host/workpool.h.
#ifdef QRX_WITH_TEST_HOOKS

#include "host/workpool.h"

namespace qrxhost {

void workPoolFailStarts(bool fail) { workPoolRefuseStarts(fail); }

} // namespace qrxhost

#endif
