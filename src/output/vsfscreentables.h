// The printers of what the penalized path did around its steps: the screening factoid and
// SIS ranking, and the elastic net's L2 search. vsfResults calls them before the step tables.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModelOptions;

// "ScreeningInfo" (SCREEN= other than NONE); Ok.
[[nodiscard]] VsfStatus vsfpScreenInfo(VsfContext* ctx);
// "SISCorrelation" (SCREEN=SIS); Ok, or NoMemory when there are no names or no ranking.
[[nodiscard]] VsfStatus vsfpSISInfo(VsfContext* ctx);
// "ElasticNetParaSummary" and "ElasticNetTuneL2" (SHOWL2SEARCH$); Ok. The table lowers the
// fit's tuning-row count to the rows it showed.
[[nodiscard]] VsfStatus vsfpElasticNetParaSummary(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfpElasticNetL2(VsfContext* ctx);
// A tuning row that no trial wrote (L2, L1 ratio, effect count and criterion all 0): it
// ends the rows shown.
[[nodiscard]] bool vsfTuneRowEmpty(const double* row);
