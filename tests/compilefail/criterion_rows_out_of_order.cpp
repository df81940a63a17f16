// Row i of the criteria's traits table describes code i: two rows swapped are refused.
#include "support/vsfcriterion.h"

constexpr VsfCriterionTable kTable{{
    kVsfCriterionTraits[0],
    kVsfCriterionTraits[1],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kVsfCriterionTraits[2],
    kVsfCriterionTraits[3],
#else
    kVsfCriterionTraits[3],
    kVsfCriterionTraits[2],
#endif
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
    kVsfCriterionTraits[14],
}};
static_assert(vsfCriterionRowsInOrder(kTable));
