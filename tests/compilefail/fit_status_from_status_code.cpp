// A fit status is its own type: a failing step's status (or its code) cannot be stored as
// one, where DesignNamesFailed (-100) would read as ZeroFullMse (-100).
#include "model/vsfmodel.h"

void ended(VsfModel* m, VsfStatus rc) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  vsfSetFitFailure(m, rc);
#else
  m->fitStatus = codeOf(rc);
#endif
}
