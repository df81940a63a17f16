// The cross-product kernel of the structured road (model/vsfstructured.h): the packed
// triangle of the response and the dense columns, and of the many-level effect its diagonal
// and its cross block with those columns.
#pragma once

#include "support/qkpgf.h"

#include <cstdint>

struct VsfPassState;

// The length of the kernel's buffer: the small triangle, the effect's diagonal, its cross
// block and a last element that is set to 1 when a row has two values in the effect's block.
[[nodiscard]] int64_t vsfStructuredXpXLength(const VsfPassState* model);
// Adds one page's TRAIN rows into `buffer`, laid out as vsfStructuredXpXLength says; every
// element receives the rows as the full X'X kernel adds them into the same element.
[[nodiscard]] int32_t vsfStructuredXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                         double* buffer, int64_t length);
