// Vector kernels of the numerical library (inner product, scaling, axpy, sum, maxima,
// scaled norm). The loops run over contiguous memory with two partial sums; callers own
// every array. The guarded power is in qkzpower.cpp.
#include "numerics/zvector.h"

#include <cmath>

double zinner(const double* x, const double* y, int32_t n) {
  if (n < 1)
    return 0.0;
  // Even and odd positions in two partial sums, then the last odd element.
  double s0 = 0.0, s1 = 0.0;
  int32_t i = 0;
  for (; i + 1 < n; i += 2) {
    s0 += x[i] * y[i];
    s1 += x[i + 1] * y[i + 1];
  }
  double s = s0 + s1;
  if (i < n)
    s += x[i] * y[i];
  return s;
}

void zvscl11(double* y, const double* x, int64_t n, double a) {
  for (int64_t i = 0; i < n; ++i)
    y[i] = a * x[i];
}

void zvaxpy(double* z, const double* y, const double* x, int32_t n, double a) {
  if (n <= 0)
    return;
  if (a == 0.0) {
    if (z != y)
      for (int32_t i = 0; i < n; ++i)
        z[i] = y[i];
    return;
  }
  for (int32_t i = 0; i < n; ++i)
    z[i] = y[i] + a * x[i];
}

double zvsum(const double* x, int64_t n) {
  double s = 0.0;
  for (int64_t i = 0; i < n; ++i)
    s += x[i];
  return s;
}

double zvamx(const double* x, int64_t n) {
  double m = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    double v = std::fabs(x[i]);
    if (v > m)
      m = v;
  }
  return m;
}

double zvamxj(const double* x, int64_t inc, int64_t n) {
  double m = std::fabs(x[0]);
  for (int64_t i = 1; i < n; ++i) {
    double v = std::fabs(x[i * inc]);
    if (v > m)
      m = v;
  }
  return m;
}

double zvenorm(int64_t n, int64_t inc, const double* x) {
  if (n < 1)
    return 0.0;
  double s = inc == 1 ? zvamx(x, n) : zvamxj(x, inc, n);
  if (s == 0.0)
    return 0.0;
  // Elements negligible beside the largest one do not enter the sum.
  double t = s > 1.0 ? std::sqrt(s) : s;
  double sum = 0.0;
  for (int64_t i = 0; i < n; ++i) {
    double v = x[i * inc];
    if (std::fabs(v) + t == t)
      continue;
    double q = v / s;
    if (1.0 + q != 1.0)
      sum += q * q;
  }
  return std::sqrt(sum) * s;
}
