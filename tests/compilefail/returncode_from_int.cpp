// A step's or run's return code only rises, by the name of a StepRc: a plain number cannot be
// written into it, so it cannot be lowered by mistake.
#include "host/returncode.h"

int32_t lowered() {
  qrxhost::ReturnCode rc;
  rc.raise(StepRc::Error);
#ifdef QRX_COMPILE_FAIL_CONTROL
  rc.raise(StepRc::Warning);
#else
  rc = 4;
#endif
  return rc;
}
