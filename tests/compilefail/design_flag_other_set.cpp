// Each byte of design flags has its own flags: a flag of one is not asked of another.
#include "effects/levdesign.h"

bool splineSplit(const LevDesign& d) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return has(d.designFlags2, LevDesignFlag2::SplineSplit);
#else
  return has(d.designFlags2, LevDesignFlag::LevelTwo);
#endif
}
