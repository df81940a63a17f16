// The constructed effects' traits table holds a row for every kind: a table one row short
// is refused.
#include "effects/levkinds.h"

constexpr EffectKindTable kTable{{
    kEffectKindTraits[0],
    kEffectKindTraits[1],
    kEffectKindTraits[2],
    kEffectKindTraits[3],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kEffectKindTraits[4],
#endif
}};
