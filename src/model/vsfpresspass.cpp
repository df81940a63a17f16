// The PRESS pass of a step: the leave-one-out residuals of the model's coefficients, with a
// factor formed afresh for the leverages of a nearly dependent design.
// Declared in model/vsfsweep.h.
#include "model/vsfsweep.h"

#include "kernels/vsfresid.h"
#include "model/vsfmodel.h"
#include "model/vsfpressfactor.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"
#include "support/hostif.h"

VsfStatus vsfComputePress(VsfModel* m) {
  if (!isHostMissing(m->press))
    return VsfStatus::Ok;
  m->press = 0.0;
  vsfStructuredPressSetUp(m);
  vsfStructuredSetEstimates(m);
  // A nearly dependent design's leave-one-out residuals divide residuals of rounding size by
  // 1 - h of rounding size: its coefficients are refined on the rows first, as the step's
  // record would refine them, and its leverages come from a factor formed afresh.
  VsfLeverageFactor factor;
  bool formed = false;
  VsfStatus rc = vsfLeverageFactorFor(m, factor, formed);
  m->leverage.leverageFactor = formed ? &factor : nullptr;
  if (rc == VsfStatus::Ok && formed)
    rc = vsfRefineStep(m);
  if (rc == VsfStatus::Ok)
    rc = vsfDataPass(m, vsfPress, vsfPress_t, 0);
  m->leverage.leverageFactor = nullptr;
  if (rc != VsfStatus::Ok)
    m->press = hostMissing(); // never a partial sum
  return rc;
}
