// The host raises a step's return code by a StepRc name, or by a ReturnCode the module handed
// over; a bare number is refused.
#include "host/supervisor.h"

void failStep() {
#ifdef QRX_COMPILE_FAIL_CONTROL
  qrxhost::raiseStepReturnCode(StepRc::Error);
#else
  qrxhost::raiseStepReturnCode(1012);
#endif
}
