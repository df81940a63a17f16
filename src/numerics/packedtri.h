// Indexing of a symmetric matrix kept as its packed lower triangle, row after row: element
// (i, j) with j <= i sits at i(i+1)/2 + j. The cross-products, the swept matrix and the
// trial matrices of the fit are all held this way.
#pragma once

#include <cassert>
#include <cstdint>

namespace packed {

// The number of elements of the lower triangle of an n-by-n matrix (also the offset of row n).
[[nodiscard]] inline int64_t tri(int64_t n) {
  assert(n >= 0 && "a matrix order is not negative");
  return n * (n + 1) / 2;
}

// The position of (i, j) with j <= i.
[[nodiscard]] inline int64_t at(int64_t i, int64_t j) {
  assert(0 <= j && j <= i && "only the lower triangle is kept");
  return i * (i + 1) / 2 + j;
}

// The position of (i, j) in either order.
[[nodiscard]] inline int64_t sym(int64_t i, int64_t j) { return i >= j ? at(i, j) : at(j, i); }

// The row of the element at position i, searched from row `from` on (from <= that row).
[[nodiscard]] inline int64_t rowOf(int64_t i, int64_t from = 0) {
  int64_t r = from;
  while (tri(r + 1) <= i)
    ++r;
  return r;
}

// The position of the diagonal element (k, k).
[[nodiscard]] inline int64_t diag(int64_t k) {
  assert(k >= 0 && "a diagonal index is not negative");
  return k * (k + 3) / 2;
}

} // namespace packed
