// A printer's status is not a count: it is not stored in a plain number.
#include "output/vsfprinters.h"

bool shown(VsfContext* ctx, VsfModel* model) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  const VsfStatus rc = vsfpNobs(ctx, model);
#else
  const int32_t rc = vsfpNobs(ctx, model);
#endif
  return rc == VsfStatus::Ok;
}
