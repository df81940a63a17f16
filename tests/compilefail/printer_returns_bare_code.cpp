// A printer raises its failure by name: the int aliases of the codes are not statuses.
#include "output/vsfresults.h"
#include "support/nomemory.h"

VsfStatus vsfpModelInfo(VsfContext* ctx) {
  if (ctx != nullptr)
    return VsfStatus::Ok;
#ifdef QRX_COMPILE_FAIL_CONTROL
  return VsfStatus::NoMemory;
#else
  return kVsfNoMemory;
#endif
}
