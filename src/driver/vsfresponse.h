// The response side of the design context: the response, WEIGHT and FREQ variables that
// the statements named, as the design library's variable records.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;

// Gives the design context one record per response variable and, when given, a WEIGHT
// and a FREQ record. Ok, or NoMemory when the records cannot be allocated.
[[nodiscard]] VsfStatus vsfLinkResponseSide(VsfContext* ctx);

// Checks the types of the response, WEIGHT and FREQ variables: each must be numeric, and the
// response must not be a CLASS variable. Logs a message naming each one that is not and
// returns the status of DriverResult::Refused with the return code raised; Ok when all are
// usable.
[[nodiscard]] VsfStatus vsfCheckResponseSide(VsfContext* ctx);
