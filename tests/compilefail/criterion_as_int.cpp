// A criterion is a VsfCriterion: SL is not told by its number, nor a number taken for a
// criterion.
#include "support/vsfcriterion.h"

bool significance(const VsfModelOptions& o) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return o.select == VsfCriterion::Sl && !vsfBigBetter(o.stop);
#else
  return o.select == 1 && !vsfBigBetter(2);
#endif
}
