// Packed symmetric matrices: the index function, the weighted rank-one update that
// accumulates X'X, quadratic forms and the sweep operator with its tolerance test and sign
// bookkeeping. The matrix, sweep flags and work vector belong to the caller.
//
// Layout: the lower triangle row by row, element (i, j), j <= i, at i(i+1)/2 + j.
// Sweep flags: one byte per index, '1' when swept; any other byte counts as not swept.
#pragma once

#include <cstdint>

// Index of element (i, j) in packed storage; the argument order does not matter.
[[nodiscard]] int64_t zisub(int32_t i, int32_t j);

// a += w x x' over the packed matrix a of order n. Returns 0 (nothing added) when any x[i]
// or w is missing or w is 0, else 1 (also for n < 1). Rows with x[i] = 0 are skipped.
int32_t zscp(const double* x, int32_t n, double* a, double w);

// Quadratic forms of the packed symmetric matrix a of order n with the m vectors of n
// doubles stored one after the other in x. m = 1: out[0] = x'Ax; m > 1: out receives the
// packed m x m matrix X A X'. With accumulate non-zero the values are added to out.
// work holds n doubles. m < 1 writes nothing.
void zqform(const double* a, int32_t n, const double* x, int32_t m, double* out, double* work,
            int32_t accumulate);

// Sweeps pivot k of the packed symmetric matrix a of order n in place and toggles flags[k].
// With tol >= 0 a pivot <= tol is refused; with tol < 0 a pivot with |p| <= -tol is refused.
// A refused pivot (also a NaN pivot or k outside 0..n-1) leaves everything untouched: the
// caller learns whether the sweep took place from flags[k]. work holds n doubles. A large
// matrix is updated on up to `threads` threads, with the same numbers as on one.
void qkzsweep(double* a, int32_t k, int32_t n, char* flags, double* work, double tol,
              int32_t threads = 1);
