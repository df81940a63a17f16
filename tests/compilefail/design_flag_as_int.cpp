// A design flag is asked by name: a plain number is not taken for a flag.
#include "effects/levdesign.h"

bool fullRank(const LevDesign& d) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return has(d.designFlags, LevDesignFlag::NonGlm);
#else
  return (d.designFlags & 0x10) != 0;
#endif
}
