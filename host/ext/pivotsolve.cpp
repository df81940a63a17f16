// Gaussian elimination with complete pivoting on a dense square system; the stopping rule for
// nearly singular pivots is stated in pivotsolve.h.
#include "host/ext/pivotsolve.h"

#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

namespace qrxhost {
namespace {

struct Pivot {
  size_t row = 0, col = 0;
  double size = 0;
};

// The largest entry of the block below and right of (k, k).
Pivot largestEntry(const std::vector<double>& A, size_t n, size_t k) {
  Pivot p{k, k, 0.0};
  for (size_t i = k; i < n; ++i)
    for (size_t j = k; j < n; ++j)
      if (std::fabs(A[i * n + j]) > p.size)
        p = {i, j, std::fabs(A[i * n + j])};
  return p;
}

// Eliminates column k below row k, carrying b along.
void eliminate(std::vector<double>& A, std::vector<double>& b, size_t n, size_t k) {
  const double pivot = A[k * n + k];
  for (size_t i = k + 1; i < n; ++i) {
    const double f = A[i * n + k] / pivot;
    if (f == 0.0)
      continue;
    for (size_t j = k; j < n; ++j)
      A[i * n + j] -= f * A[k * n + j];
    b[i] -= f * b[k];
  }
}

} // namespace

int32_t solvePivoted(std::vector<double>& A, std::vector<double>& b, int32_t order,
                     std::vector<double>& x) {
  const size_t n = static_cast<size_t>(order);
  std::vector<size_t> column(n);
  std::iota(column.begin(), column.end(), size_t{0});
  const double cut = order * std::numeric_limits<double>::epsilon() * largestEntry(A, n, 0).size;
  size_t rank = 0;
  for (; rank < n; ++rank) {
    const Pivot p = largestEntry(A, n, rank);
    if (p.size == 0.0 || p.size <= cut)
      break;
    for (size_t j = 0; j < n; ++j)
      std::swap(A[rank * n + j], A[p.row * n + j]);
    std::swap(b[rank], b[p.row]);
    for (size_t i = 0; i < n; ++i)
      std::swap(A[i * n + rank], A[i * n + p.col]);
    std::swap(column[rank], column[p.col]);
    eliminate(A, b, n, rank);
  }
  std::vector<double> y(n, 0.0);
  for (size_t k = rank; k-- > 0;) {
    double s = b[k];
    for (size_t j = k + 1; j < rank; ++j)
      s -= A[k * n + j] * y[j];
    y[k] = s / A[k * n + k];
  }
  x.assign(n, 0.0);
  for (size_t k = 0; k < n; ++k)
    x[column[k]] = y[k];
  return static_cast<int32_t>(rank);
}

} // namespace qrxhost
