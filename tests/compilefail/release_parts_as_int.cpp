// What the end of a design context releases is named: a number is not taken for the parts.
#include "design/levreg.h"

void endAll(LevRegContext* context) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  zlevtrm(context, kLevReleaseAll);
#else
  zlevtrm(context, -1);
#endif
}
