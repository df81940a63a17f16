// A constructed-effect kind's traits row must give every column: one left out is refused,
// not zeroed.
#include "effects/levkinds.h"

constexpr EffectKindTraits kRow{.kind = EffectVarKind::Lag,
                                .keyword = "'LAG'",
                                .listKind = ListKind::Variables,
                                .listItem = "varitem",
#ifdef QRX_COMPILE_FAIL_CONTROL
                                .options = " [ '/' { lagopt } ] ')'",
#endif
                                .postFitKind = PFK_LAG};
