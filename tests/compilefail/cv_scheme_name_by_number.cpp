// A cross-validation scheme's name is asked of the scheme, not found by arithmetic on its code.
#include "support/cvscheme.h"

VsfMsg schemeName(VsfCvMethod method) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return vsfCvScheme(method).name;
#else
  return kMsgCvMethodNames[static_cast<int32_t>(method) - 1];
#endif
}
