// The traits table holds a row for every method: a table one row short is refused.
#include "support/vsfmethods.h"

constexpr VsfMethodTable kTable{{
    kVsfMethodTraits[0],
    kVsfMethodTraits[1],
    kVsfMethodTraits[2],
    kVsfMethodTraits[3],
    kVsfMethodTraits[4],
    kVsfMethodTraits[5],
    kVsfMethodTraits[6],
    kVsfMethodTraits[7],
    kVsfMethodTraits[8],
    kVsfMethodTraits[9],
    kVsfMethodTraits[10],
    kVsfMethodTraits[11],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kVsfMethodTraits[12],
#endif
}};
