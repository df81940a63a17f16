// A step's return code is a StepRc: it is not taken for a plain number or a status.
#include "support/stepcodes.h"

int32_t raised() {
  int32_t code = 0;
#ifdef QRX_COMPILE_FAIL_CONTROL
  raiseRc(code, StepRc::Error);
#else
  raiseRc(code, 1012);
#endif
  return code;
}
