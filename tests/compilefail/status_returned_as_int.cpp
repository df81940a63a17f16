// A status is not a plain number: handing one up as an int needs codeOf.
#include "model/vsfmodel.h"

int32_t initialise(VsfModel* model) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return codeOf(vsfModelInit(model));
#else
  return vsfModelInit(model);
#endif
}
