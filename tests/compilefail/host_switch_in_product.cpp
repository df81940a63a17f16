// The host's test switches exist only where the tests are built: product code that injects a
// fault does not compile; it can only ask the seam, which a product build folds to "no".
#ifdef QRX_COMPILE_FAIL_CONTROL
#include "host/seams.h"

bool poolRefused() { return qrxhost::seam::refusePool("VARSIFTER PAGE POOL"); }
#else
#include "host/testswitches.h"

bool poolRefused() {
  qrxhost::failNamedPool("VARSIFTER PAGE POOL");
  return true;
}
#endif
