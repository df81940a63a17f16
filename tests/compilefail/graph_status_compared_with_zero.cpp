// A graph's status is tested against a status, not against the number 0.
#include "graphs/vsfgraph.h"

bool drawn(VsfContext* ctx, VsfModel* model) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return vsfgCoeffs(ctx, model) == VsfStatus::Ok;
#else
  return vsfgCoeffs(ctx, model) == 0;
#endif
}
