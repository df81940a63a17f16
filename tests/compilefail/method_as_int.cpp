// A method is a VsfMethod: a number is not taken for one where a method is asked about.
#include "support/vsfmethods.h"

bool path() {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return vsfMethodHasPath(VsfMethod::Lasso);
#else
  return vsfMethodHasPath(6);
#endif
}
