// The sums outside each cross-validation fold from the folds' own sums.
#pragma once

#include <cstdint>
#include <vector>

// Adds every fold's part to total over [from, to) and makes each part the sum of the other
// folds' parts, added from those parts (the ones before it plus the ones after it) rather
// than taken as the total less the part: the difference carries the rounding of the total,
// which swamps the sums outside a fold whose own rows dominate them (held-out rows far out
// on a power column), while the sum of the other parts carries only their own rounding.
// part(f) gives fold f's array.
template <class Part>
void foldSumsOutside(double* total, int32_t folds, Part part, int64_t from, int64_t to) {
  std::vector<double> before(static_cast<size_t>(folds));
  for (int64_t i = from; i < to; ++i) {
    double running = 0.0;
    for (int32_t f = 0; f < folds; ++f) {
      const double p = part(f)[i];
      before[static_cast<size_t>(f)] = running;
      running += p;
      total[i] += p;
    }
    double after = 0.0;
    for (int32_t f = folds - 1; f >= 0; --f) {
      double* p = part(f);
      const double own = p[i];
      p[i] = before[static_cast<size_t>(f)] + after;
      after += own;
    }
  }
}
