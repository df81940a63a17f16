// An OUTPUT statistic is a VsfOutputStatIndex: a spec's statistic is not picked by a number.
#include "support/vsfoptions.h"

bool predicted(const VsfOutputSpec& spec) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return spec.stat(VsfOutputStatIndex::Pred).on != 0;
#else
  return spec.stat(0).on != 0;
#endif
}
