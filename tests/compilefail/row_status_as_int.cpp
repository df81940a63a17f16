// An observation's row status is asked by name: it is not tested with a bare mask.
#include "design/levreg.h"

bool usable(LevRegContext* context) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return levRowUsable(zlevrgd(context, nullptr, nullptr, nullptr));
#else
  return (zlevrgd(context, nullptr, nullptr, nullptr) & 0x27) == 0;
#endif
}
