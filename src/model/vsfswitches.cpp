// The fitting switches that follow from the method alone and the per-BY-group fit-control
// words. The cross-products build, the criteria that need the full model, PRESS or trial fits,
// the stop test and the cross-validation switches are decided by post-initialisation.
#include "model/vsfswitches.h"

#include "support/vsfmethods.h"

void vsfDeriveFitSwitches(VsfModelOptions* o) {
  o->colStandardize = vsfMethodPenalty(o->method) == VsfPenalty::Columns;
  o->parmStandardize = vsfMethodPenalty(o->method) == VsfPenalty::Groups;
  // Bit 1: every fit writes its step records (the step displays read them when asked).
  o->stepRecordBits |= 2;
}

void vsfStartGroupFit(VsfModelOptions* o) {
  o->transformPages = 1;
  o->restorePages = 0;
  o->recordSteps = 1;
}
