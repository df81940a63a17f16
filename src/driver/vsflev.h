// The levelisation step of a BY group and the reading of INEST=.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;

[[nodiscard]] int32_t vsfLev(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfSetupInEstScatter(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfReadInEstParms(VsfContext* ctx);
