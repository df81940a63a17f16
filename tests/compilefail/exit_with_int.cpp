// A run ends on a status: a plain number is not taken for one.
#include "driver/vsfexit.h"

void endRun(VsfContext* ctx) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  vsfExitError(ctx, VsfStatus::NoMemory);
#else
  vsfExitError(ctx, -2);
#endif
}
