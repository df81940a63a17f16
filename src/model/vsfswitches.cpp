// Fitting switches from the codes: the cross-products build (full for METHOD=NONE and
// BACKWARD and for small designs unless BUILDSSCP= says otherwise), the criteria that need
// the full model, PRESS or trial fits, the stop test and the cross-validation switches.
#include "model/vsfswitches.h"

#include "driver/vsfoptions.h"

namespace {
bool asks(const VsfModelOptions *o, int32_t code) {
  return o->select == code || o->stop == code || o->choose == code;
}
} // namespace

void vsfDeriveFitSwitches(VsfModelOptions *o, const VsfPerfOptions *perf,
                          int32_t candidateColumns) {
  if (perf != nullptr && perf->sscpFull)
    o->fullXpx = 1;
  else if (perf != nullptr && perf->sscpIncremental)
    o->fullXpx = 0;
  else
    o->fullXpx = (o->method == 1 || o->method == 3 || candidateColumns <= 100) ? 1 : 0;
  o->fullSweep = perf != nullptr ? perf->fullSweep : 0;
  if (o->fullXpx)
    o->fullSweep = 1;
  o->colStandardize = o->penalizedPath;
  o->parmStandardize = o->solverPath;
  o->storeCross = (!o->fullXpx && !o->colStandardize && o->method != 1) ? 1 : 0;
  o->fullModelFirst = (asks(o, 7) || asks(o, 8)) ? 1 : 0;
  o->pressNeeded = (asks(o, 9) || o->statPress) ? 1 : 0;
  o->trialAll = (o->select == 9 || o->select == 10 || o->select == 11) ? 1 : 0;
  o->stopTest = (o->steps == 0 && o->stopCount == 0) ? 1 : 0;
  o->stepRecordBits |= 2;
  o->storeCandidates = o->stepCandidates;
  o->cvOn = (o->cvMethod != 0 && o->choose != 13) ? 1 : 0;
  o->cvExternal = (o->cvMethod != 0 && o->choose == 13) ? 1 : 0;
  o->validateInUse = o->validateFraction > 0 ? 1 : 0;
  o->testInUse = o->testFraction > 0 ? 1 : 0;
  o->stdL1History = o->showStepL1;
  o->transformPages = 1;
  o->restorePages = 0;
  o->recordSteps = 1;
}
