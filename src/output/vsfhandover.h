// The hand-over of a BY group's selected model to the post-fit bridge.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct VsfModel;

// Hands the selected model of the current group to the bridge and runs the sibling's run
// and finish entries: Ok, or NoMemory when the design has no effects or the selected design no
// columns. A failed fit hands nothing over; under model averaging the averaged model is
// handed over, and during the refit of the averaged model nothing is: the pass that asked
// for the refit hands the refitted model over once.
[[nodiscard]] VsfStatus vsfFormSelectedModelForBridge(VsfContext* ctx, VsfModel* model);
