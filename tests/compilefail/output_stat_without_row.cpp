// The OUTPUT statistics' traits table holds a row for every statistic: a table one row short
// is refused.
#include "support/vsfoutputstat.h"

constexpr VsfOutputStatTable kTable{{
    kVsfOutputStatTraits[0],
    kVsfOutputStatTraits[1],
    kVsfOutputStatTraits[2],
    kVsfOutputStatTraits[3],
    kVsfOutputStatTraits[4],
    kVsfOutputStatTraits[5],
    kVsfOutputStatTraits[6],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kVsfOutputStatTraits[7],
#endif
}};
