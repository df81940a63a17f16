// A criterion's traits row whose columns contradict one another is refused: here a criterion
// with a value per step that no graph can label.
#include "support/vsfcriterion.h"

consteval VsfCriterionTraits aic() {
  VsfCriterionTraits row = vsfCriterion(VsfCriterion::Aic);
#ifndef QRX_COMPILE_FAIL_CONTROL
  row.label = static_cast<const char*>(nullptr);
#endif
  return row;
}
static_assert(vsfCriterionRowAgrees(aic()));
