// Row i of the OUTPUT statistics' traits table describes code i: two rows swapped are refused.
#include "support/vsfoutputstat.h"

constexpr VsfOutputStatTable kTable{{
    kVsfOutputStatTraits[0],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kVsfOutputStatTraits[1],
    kVsfOutputStatTraits[2],
#else
    kVsfOutputStatTraits[2],
    kVsfOutputStatTraits[1],
#endif
    kVsfOutputStatTraits[3],
    kVsfOutputStatTraits[4],
    kVsfOutputStatTraits[5],
    kVsfOutputStatTraits[6],
    kVsfOutputStatTraits[7],
}};
static_assert(vsfOutputStatRowsInOrder(kTable));
