// Row i of the constructed effects' traits table describes kind i + 1: two rows swapped are
// refused.
#include "effects/levkinds.h"

constexpr EffectKindTable kTable{{
    kEffectKindTraits[0],
#ifdef QRX_COMPILE_FAIL_CONTROL
    kEffectKindTraits[1],
    kEffectKindTraits[2],
#else
    kEffectKindTraits[2],
    kEffectKindTraits[1],
#endif
    kEffectKindTraits[3],
    kEffectKindTraits[4],
}};
static_assert(effectKindRowsInOrder(kTable));
