// The levelisation step of a BY group and the reading of INEST=.
#pragma once

#include <cstdint>

struct VsfContext;

[[nodiscard]] int32_t vsfLev(VsfContext* ctx);
[[nodiscard]] int32_t vsfSetupInEstScatter(VsfContext* ctx);
[[nodiscard]] int32_t vsfReadInEstParms(VsfContext* ctx);
