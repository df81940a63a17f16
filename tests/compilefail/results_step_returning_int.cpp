// A results step of the procedure main returns a status: a stand-in that returns a plain
// number does not fit the step table.
#include "driver/vsfsteps.h"

void install(VsfStepTable& steps) {
#ifdef QRX_COMPILE_FAIL_CONTROL
  steps.vsfFitAndDisplay = [](VsfContext*) { return VsfStatus::NotRestored; };
#else
  steps.vsfFitAndDisplay = [](VsfContext*) { return -6; };
#endif
}
