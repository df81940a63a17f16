// A return code is raised by name, not by taking the larger of it and a number.
#include "host/returncode.h"

#include <algorithm>

int32_t raised() {
  qrxhost::ReturnCode rc;
#ifdef QRX_COMPILE_FAIL_CONTROL
  rc.raise(StepRc::StatementError);
#else
  rc = std::max(rc, 3000);
#endif
  return rc;
}
