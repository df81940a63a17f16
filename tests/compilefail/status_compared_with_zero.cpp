// A status is tested against a status, not against the number 0.
#include "data/vsfpage.h"

bool closed(VsfPageWriter* writer, VsfBagVec* bags) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  return vsfPageClose(writer, bags) == VsfStatus::Ok;
#else
  return vsfPageClose(writer, bags) == 0;
#endif
}
