// The kept columns' terms of a page's rows, added into their store columns.
#pragma once

#include <cstdint>
#include <vector>

// A term of a page's contiguous rows: x (a row's parameters) times v into a store column.
struct VsfPageTerm {
  double* into;
  const double* x;
  double v;
};

// Adds the terms (`rows` rows' worth, in row order) over the parameters [begin, end) of each
// row, and sorts them by column on the way. Every element receives its terms one after another
// in row order, however the parameters are cut, so where the rows are cut into pages or the
// parameters into parts does not move a bit.
void vsfAddPageTerms(std::vector<VsfPageTerm>& terms, int32_t rows, int32_t begin, int32_t end);
