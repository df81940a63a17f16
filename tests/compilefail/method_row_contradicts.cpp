// A traits row whose columns contradict one another is refused: here a method that starts
// from every effect but never removes one.
#include "support/vsfmethods.h"

consteval VsfMethodTraits backward() {
  VsfMethodTraits row = vsfMethod(VsfMethod::Backward);
#ifndef QRX_COMPILE_FAIL_CONTROL
  row.removes = false;
#endif
  return row;
}
static_assert(vsfMethodRowAgrees(backward()));
