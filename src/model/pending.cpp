// Stand-ins for the model core until it is built.
#include "model/vsfmodel.h"

#include "support/hoststubs.h"

void vsfModelByFree(VsfModel* model) {
  if (model->pool != nullptr) {
    model->pool->destroy(model->pool);
    model->pool = nullptr;
  }
}

int32_t vsfSerializeForDesign(VsfModel*) {
  xebug("vsfSerializeForDesign is not available in this build");
  return -99;
}
