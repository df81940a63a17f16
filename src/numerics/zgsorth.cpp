// Modified Gram-Schmidt: each column is first scaled by its own norm, so that the
// dependence threshold is relative to that norm; later columns are purged of a column as
// soon as it is final. Norms come from zvenorm (scaled, no overflow).
#include "numerics/zgsorth.h"

#include "numerics/packedtri.h"
#include "numerics/zvector.h"

namespace {
constexpr double kTinyNorm = 1.491668147e-154;
constexpr double kDependent = 1.110223024625157e-13;

// R is upper triangular, kept column after column: (row, col) with row <= col.
[[nodiscard]] int64_t rIndex(int32_t row, int32_t col) { return packed::at(col, row); }
} // namespace

int32_t zgsorth(int32_t m, int32_t n, const double* A, double* Q, double* R) {
  if (n < 1)
    return 0;
  const int64_t nn = static_cast<int64_t>(n) * (n + 1) / 2;
  for (int64_t i = 0; i < nn; ++i)
    R[i] = 0.0;

  for (int32_t c = 0; c < n; ++c) {
    double s = zvenorm(m, n, A + c);
    if (s <= kTinyNorm) {
      for (int32_t r = 0; r < m; ++r)
        Q[static_cast<int64_t>(r) * n + c] = 0.0;
    } else {
      R[rIndex(c, c)] = s;
      for (int32_t r = 0; r < m; ++r)
        Q[static_cast<int64_t>(r) * n + c] = A[static_cast<int64_t>(r) * n + c] / s;
    }
  }

  int32_t dependent = 0;
  for (int32_t c = 0; c < n; ++c) {
    double t = zvenorm(m, n, Q + c);
    if (t > kDependent) {
      R[rIndex(c, c)] *= t;
      for (int32_t r = 0; r < m; ++r)
        Q[static_cast<int64_t>(r) * n + c] /= t;
      for (int32_t c2 = c + 1; c2 < n; ++c2) {
        double d = 0.0;
        for (int32_t r = 0; r < m; ++r)
          d += Q[static_cast<int64_t>(r) * n + c] * Q[static_cast<int64_t>(r) * n + c2];
        R[rIndex(c, c2)] = d * R[rIndex(c2, c2)];
        if (d != 0.0)
          for (int32_t r = 0; r < m; ++r)
            Q[static_cast<int64_t>(r) * n + c2] -= d * Q[static_cast<int64_t>(r) * n + c];
      }
    } else {
      ++dependent;
      for (int32_t c2 = c; c2 < n; ++c2)
        R[rIndex(c, c2)] = 0.0;
      for (int32_t r = 0; r < m; ++r)
        Q[static_cast<int64_t>(r) * n + c] = 0.0;
    }
  }
  return dependent;
}
