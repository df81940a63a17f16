// A step the procedure main calls raises its failure by name: a step that returns a plain
// number does not fit the step table.
#include "driver/vsfsteps.h"

void install(VsfStepTable& steps) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  steps.vsfData = [](VsfContext*) { return VsfStatus::NoPage; };
#else
  steps.vsfData = [](VsfContext*) { return -7; };
#endif
}
