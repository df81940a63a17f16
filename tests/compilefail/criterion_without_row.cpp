// The criteria's traits table holds a row for every criterion: a table one row short is
// refused.
#include "support/vsfcriterion.h"

constexpr VsfCriterionTable kTable{{
    kVsfCriterionTraits[0],
    kVsfCriterionTraits[1],
    kVsfCriterionTraits[2],
    kVsfCriterionTraits[3],
    kVsfCriterionTraits[4],
    kVsfCriterionTraits[5],
    kVsfCriterionTraits[6],
    kVsfCriterionTraits[7],
    kVsfCriterionTraits[8],
    kVsfCriterionTraits[9],
    kVsfCriterionTraits[10],
    kVsfCriterionTraits[11],
    kVsfCriterionTraits[12],
    kVsfCriterionTraits[13],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kVsfCriterionTraits[14],
#endif
}};
