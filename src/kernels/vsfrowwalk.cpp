// The row shape of a BY group's pages, read from the model's layout counts and the data
// settings of the reading pass.
#include "kernels/vsfrowwalk.h"

#include "support/vsfoptions.h"

VsfRowShape vsfRowShape(const VsfPassState* m) {
  VsfRowShape S{};
  const VsfDataSettings* s = m->dataSettings;
  if (s != nullptr) {
    S.hasWeight = s->weightGiven != 0;
    S.hasFreq = s->freqGiven != 0;
    S.hasResample = s->resampling != 0;
    S.hasFold = s->cvMethod != VsfCvMethod::None && (s->cv || s->xcv);
    S.hasRole = s->roleCodes != 0;
    S.cv = s->cvMethod != VsfCvMethod::None && s->cv != 0;
    S.xcv = s->cvMethod != VsfCvMethod::None && s->xcv != 0;
  }
  S.lead = S.hasWeight + S.hasFreq + S.hasResample;
  S.dense = m->layout.denseColumnCount;
  S.sparse = m->layout.sparseEffectCount;
  S.fixedCodes = S.hasFold + S.hasRole;
  return S;
}
