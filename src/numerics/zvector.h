// Vector kernels on double arrays: inner product, scaling, y + a x, sum, largest magnitude
// and a scaled Euclidean norm. Pure functions: no state, no allocation; the packed-matrix
// routines and Gram-Schmidt build on them, the guarded power lives in qkzpower.h.
#pragma once

#include <cstdint>

// Sum of x[i] * y[i] for i < n; 0 when n < 1.
double zinner(const double* x, const double* y, int32_t n);
// y[i] = a * x[i] for i < n; y may be x.
void zvscl11(double* y, const double* x, int64_t n, double a);
// z[i] = y[i] + a * x[i] for i < n; z may be y (then a = 0 writes nothing).
void zvaxpy(double* z, const double* y, const double* x, int32_t n, double a);
// Sum of x[0..n-1] in index order; 0 when n < 1.
double zvsum(const double* x, int64_t n);
// Largest |x[i]|, i < n; 0 when n < 1.
double zvamx(const double* x, int64_t n);
// Largest |x[i * inc]|, i < n, starting from |x[0]|.
double zvamxj(const double* x, int64_t inc, int64_t n);
// Euclidean norm of x[0], x[inc], ..., x[(n-1) inc], scaled so that no square overflows.
double zvenorm(int64_t n, int64_t inc, const double* x);
