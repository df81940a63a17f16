// The cross-product kernel of the structured road (model/vsfstructured.h): the packed
// triangle of the response and the dense columns, and of the many-level effect its diagonal
// and its cross block with those columns.
#pragma once

#include "support/qkpgf.h"

#include <cstdint>

struct VsfModel;

// Adds one page's TRAIN rows into the model's small triangle (xpx) and the structured
// effect's diagonal and cross block; a row with two values in the effect's block sets the
// state's offDiagonal. Serial only: its sums are small and the pass is short.
[[nodiscard]] int32_t vsfStructuredXpX(VsfModel* model, QkPageDescriptor* page);
