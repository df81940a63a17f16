// A method does not turn into a number: comparing it with a code or indexing by it is refused.
#include "support/vsfmethods.h"

bool backward(const VsfModelOptions& o) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return vsfMethod(o.method).startsFull;
#else
  return o.method == 3;
#endif
}
