// The response side of the design context: the response, WEIGHT and FREQ variables that
// the statements named, as the design library's variable records.
#pragma once

#include <cstdint>

struct VsfContext;

// Gives the design context one record per response variable and, when given, a WEIGHT
// and a FREQ record. 0, or -2 when the records cannot be allocated.
int32_t vsfLinkResponseSide(VsfContext* ctx);
