// The levelisation step of a BY group and the reading of INEST=.
#pragma once

#include "design/levbuild.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;

[[nodiscard]] LevBuild vsfLev(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfSetupInEstScatter(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfReadInEstParms(VsfContext* ctx);
