// The reading pass of one BY group as the run reads it: the pass's settings and effect list
// from the run's context, and the design library's rows as its row source.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;

// Reads the current BY group (DATA=, then the held-out data sets) into pages, counts and
// sums of the model; the thread count the pass lowered holds for the rest of the run.
[[nodiscard]] VsfStatus vsfData(VsfContext* context);
