// A constructed effect's kind is an EffectVarKind: it is not told by its number.
#include "effects/levkinds.h"

bool spline(const LevEftVar& ev) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return ev.kind == EffectVarKind::Spline;
#else
  return ev.kind == 3;
#endif
}
