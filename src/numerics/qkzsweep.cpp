// Packed symmetric matrix routines: zisub, zscp, zqform and the sweep qkzsweep. They run
// over contiguous rows of the packed triangle through the vector kernels of zvector.cpp;
// the swept state of a model is exactly the set of '1' flags, which the caller keeps.
#include "numerics/qkzsweep.h"

#include "numerics/packedtri.h"
#include "numerics/zvector.h"
#include "support/hostif.h"
#include "support/zparrows.h"

#include <cmath>

int64_t zisub(int32_t i, int32_t j) { return packed::sym(i, j); }

int32_t zscp(const double* x, int32_t n, double* a, double w) {
  for (int32_t i = 0; i < n; ++i)
    if (isHostMissing(x[i]))
      return 0;
  if (isHostMissing(w) || w == 0.0)
    return 0;
  if (n < 1)
    return 1;
  double* row = a;
  for (int32_t i = 0; i < n; row += i + 1, ++i) {
    if (x[i] == 0.0)
      continue;
    double c = x[i] * w;
    zvaxpy(row, row, x, i + 1, c);
  }
  return 1;
}

namespace {
// work = A x with the full symmetric matrix behind the packed triangle a.
void symmetricTimes(const double* a, int32_t n, const double* x, double* work) {
  for (int32_t r = 0; r < n; ++r)
    work[r] = 0.0;
  const double* row = a;
  for (int32_t r = 0; r < n; row += r + 1, ++r) {
    // Row r holds a(r, 0..r): it contributes to work[r] and, by symmetry, to work[j < r].
    double xr = x[r];
    double s = 0.0;
    for (int32_t j = 0; j < r; ++j) {
      s += row[j] * x[j];
      work[j] += row[j] * xr;
    }
    work[r] += s + row[r] * xr;
  }
}
} // namespace

void zqform(const double* a, int32_t n, const double* x, int32_t m, double* out, double* work,
            int32_t accumulate) {
  if (m < 1)
    return;
  if (m == 1) {
    double q = 0.0;
    const double* row = a;
    for (int32_t i = 0; i < n; row += i + 1, ++i) {
      double s = zinner(row, x, i);
      q += (2.0 * s + row[i] * x[i]) * x[i];
    }
    if (accumulate)
      out[0] += q;
    else
      out[0] = q;
    return;
  }
  int64_t o = 0;
  for (int32_t c = 0; c < m; ++c) {
    symmetricTimes(a, n, x + static_cast<int64_t>(c) * n, work);
    for (int32_t c2 = 0; c2 <= c; ++c2, ++o) {
      double v = zinner(work, x + static_cast<int64_t>(c2) * n, n);
      if (accumulate)
        out[o] += v;
      else
        out[o] = v;
    }
  }
}

void qkzsweep(double* a, int32_t k, int32_t n, char* flags, double* work, double tol,
              int32_t threads) {
  if (k < 0 || k >= n)
    return;
  const int64_t kk = static_cast<int64_t>(k) * (k + 1) / 2;
  double* rowK = a + kk;
  const double p = rowK[k];
  // A NaN pivot is refused like a singular one: sweeping it would spread NaN everywhere.
  if (std::isnan(p))
    return;
  if (tol >= 0.0 ? p <= tol : std::fabs(p) <= -tol)
    return;

  const double d = 1.0 / p;
  rowK[k] = d;
  const bool b = flags[k] == '1';
  flags[k] = b ? '0' : '1';
  auto sigma = [&](int32_t j) { return ((flags[j] == '1') == b) ? 1.0 : -1.0; };

  // Old row k left of the diagonal and old column k below it (sign-adjusted) into work.
  for (int32_t j = 0; j < k; ++j)
    work[j] = rowK[j];
  work[k] = 0.0;
  {
    double* row = a + kk + k + 1; // row k + 1
    for (int32_t i = k + 1; i < n; row += i + 1, ++i)
      work[i] = sigma(i) * row[k];
  }

  // Every row's update reads only the work vector and the row itself, so the rows may go
  // to threads in runs: each element gets the same operations whatever the thread count.
  // Rows above the pivot: a(i, j) -= sigma_i a(k,i) a(k,j) d.
  zparrows(threads, 0, k, [&](int64_t first, int64_t last) {
    double* row = a + first * (first + 1) / 2;
    for (int64_t i = first; i < last; row += i + 1, ++i) {
      double mult = sigma(static_cast<int32_t>(i)) * work[i] * d;
      if (mult != 0.0)
        zvaxpy(row, row, work, static_cast<int32_t>(i + 1), -mult);
    }
  });
  // Rows below the pivot: a(i, j) -= a(i,k) a(k,j) d left of k, and
  // a(i, j) -= sigma_j a(i,k) a(j,k) d right of k; then the column element is scaled.
  zparrows(threads, k + 1, n, [&](int64_t first, int64_t last) {
    double* row = a + first * (first + 1) / 2;
    for (int64_t i = first; i < last; row += i + 1, ++i) {
      double aik = row[k];
      double mult = aik * d;
      if (mult != 0.0)
        zvaxpy(row, row, work, static_cast<int32_t>(i + 1), -mult);
      row[k] = mult;
    }
  });
  // Row k left of the diagonal: negated and scaled.
  for (int32_t j = 0; j < k; ++j)
    rowK[j] = -work[j] * d;
}
