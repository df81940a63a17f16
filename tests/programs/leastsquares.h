// Weighted least squares for the end-to-end tests' reference fits: the normal equations
// solved by Gauss-Jordan elimination in long double.
#pragma once

#include <cmath>
#include <utility>
#include <vector>

namespace qrxrun {

// Least squares by the normal equations with Gauss-Jordan elimination (partial pivoting);
// x holds one row of regressors per observation, w the weights.
inline std::vector<double> leastSquares(const std::vector<std::vector<double>>& x,
                                        const std::vector<double>& y,
                                        const std::vector<double>& w) {
  const size_t p = x.empty() ? 0 : x[0].size();
  std::vector<std::vector<long double>> a(p, std::vector<long double>(p + 1, 0));
  for (size_t r = 0; r < x.size(); ++r)
    for (size_t i = 0; i < p; ++i) {
      for (size_t j = 0; j < p; ++j)
        a[i][j] += w[r] * x[r][i] * x[r][j];
      a[i][p] += w[r] * x[r][i] * y[r];
    }
  for (size_t c = 0; c < p; ++c) {
    size_t best = c;
    for (size_t r = c + 1; r < p; ++r)
      if (std::fabs(static_cast<double>(a[r][c])) > std::fabs(static_cast<double>(a[best][c])))
        best = r;
    std::swap(a[c], a[best]);
    for (size_t r = 0; r < p; ++r) {
      if (r == c)
        continue;
      const long double f = a[r][c] / a[c][c];
      for (size_t j = c; j <= p; ++j)
        a[r][j] -= f * a[c][j];
    }
  }
  std::vector<double> b(p);
  for (size_t i = 0; i < p; ++i)
    b[i] = static_cast<double>(a[i][p] / a[i][i]);
  return b;
}

} // namespace qrxrun
