// Modified Gram-Schmidt orthogonalisation A = Q R of a small dense matrix with a
// two-stage normalisation and a relative dependence test. The design library's orthogonal
// codings call it; it allocates nothing.
#pragma once

#include <cstdint>

// A and Q: m x n by rows (element (r, c) at r * n + c); R: packed upper triangle of n x n,
// element (c, c2), c <= c2, at c2(c2+1)/2 + c (n(n+1)/2 doubles). Returns the number of
// columns found dependent on the columns before them (their Q columns are zero).
int32_t zgsorth(int32_t m, int32_t n, const double* A, double* Q, double* R);
