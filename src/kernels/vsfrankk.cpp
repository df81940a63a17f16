// vsfRankUpdate: for each row of the triangle, the page rows whose coefficient there is not
// zero are gathered and added by an unrolled kernel of that count, so each element is read
// and written once per k rows instead of once per row; vsfAddRows does the same for a vector.
#include "kernels/vsfrankk.h"

#include "numerics/packedtri.h"

#include <cassert>
#include <cstring>

namespace {

template <int K>
inline void addRows(double* row, int32_t len, const double* a, const double* const* x) {
  for (int32_t j = 0; j < len; ++j) {
    double v = row[j];
    for (int r = 0; r < K; ++r)
      v += a[r] * x[r][j];
    row[j] = v;
  }
}

// row[j] += the products of the first c rows for j < len, by the unrolled kernel of that count.
inline void addRowsOf(int32_t c, double* row, int32_t len, const double* a,
                      const double* const* xs) {
  switch (c) {
  case 1:
    addRows<1>(row, len, a, xs);
    break;
  case 2:
    addRows<2>(row, len, a, xs);
    break;
  case 3:
    addRows<3>(row, len, a, xs);
    break;
  case 4:
    addRows<4>(row, len, a, xs);
    break;
  case 5:
    addRows<5>(row, len, a, xs);
    break;
  case 6:
    addRows<6>(row, len, a, xs);
    break;
  case 7:
    addRows<7>(row, len, a, xs);
    break;
  case 8:
    addRows<8>(row, len, a, xs);
    break;
  default:
    break;
  }
}

// Eight doubles as one value: a vector register of AVX-512, two of AVX2, four of SSE2.
typedef double Eight __attribute__((vector_size(64)));

// out[c][j] += the products of R rows (1 to 4) for four columns c, each x value read once
// for the four: a column's products are still added one after another in row order, each
// product rounded before its sum (the file is built without contraction). Always inlined, so
// that each version of the caller builds it for its own processor.
template <int R>
[[gnu::always_inline]] inline void addRowsToFour(double* const* out, int32_t len,
                                                 const double* const* a, const double* const* x) {
  // Local copies, which the stores below cannot be taken to change.
  double m[4][R];
  double* o[4];
  const double* xr[R];
  for (int c = 0; c < 4; ++c) {
    o[c] = out[c];
    for (int r = 0; r < R; ++r)
      m[c][r] = a[c][r];
  }
  for (int r = 0; r < R; ++r)
    xr[r] = x[r];
  int32_t j = 0;
  for (; j + 8 <= len; j += 8) {
    // Unaligned loads and stores through memcpy; a vector is never passed by value.
    Eight v[4], t;
    for (int c = 0; c < 4; ++c)
      std::memcpy(&v[c], o[c] + j, sizeof(Eight));
    for (int r = 0; r < R; ++r) {
      std::memcpy(&t, xr[r] + j, sizeof t);
      for (int c = 0; c < 4; ++c)
        v[c] += m[c][r] * t;
    }
    for (int c = 0; c < 4; ++c)
      std::memcpy(o[c] + j, &v[c], sizeof(Eight));
  }
  for (; j < len; ++j)
    for (int c = 0; c < 4; ++c) {
      double v = o[c][j];
      for (int r = 0; r < R; ++r)
        v += m[c][r] * xr[r][j];
      o[c][j] = v;
    }
}

} // namespace

// GCC builds AVX-512, AVX2 and default versions, chosen when the program loads for the
// processor it runs on (the file is built without contraction, so no version fuses a product
// with its sum). clang 14 does not resolve such a function when another file calls it, so
// there it is one version.
#if defined(__clang__)
#define VSF_RANK_CLONES
#else
#define VSF_RANK_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#endif

void vsfRankUpdate(double* T, int32_t n, const double* const* x, const double* w, int32_t k) {
  vsfRankUpdateRows(T, n, x, w, k, 0, n);
}

VSF_RANK_CLONES void vsfRankUpdateRows(double* T, int32_t n, const double* const* x,
                                       const double* w, int32_t k, int32_t rowBegin,
                                       int32_t rowEnd) {
  assert(n >= 0 && k >= 0 && rowBegin >= 0 && "rows of an order-n triangle, k updates");
  const int32_t end = rowEnd < n ? rowEnd : n;
  double* row = T + packed::tri(rowBegin);
  for (int32_t i = rowBegin; i < end; row += i + 1, ++i) {
    double a[kVsfRankRows];
    const double* xs[kVsfRankRows];
    int32_t c = 0;
    for (int32_t r = 0; r < k; ++r) {
      if (x[r][i] == 0.0)
        continue;
      a[c] = x[r][i] * w[r];
      xs[c++] = x[r];
    }
    addRowsOf(c, row, i + 1, a, xs);
  }
}

VSF_RANK_CLONES void vsfAddRows(double* row, int32_t len, const double* a, const double* const* x,
                                int32_t k) {
  for (int32_t r = 0; r < k; r += kVsfRankRows) {
    const int32_t c = k - r < kVsfRankRows ? k - r : kVsfRankRows;
    addRowsOf(c, row, len, a + r, x + r);
  }
}

VSF_RANK_CLONES void vsfAddRowsToFour(double* const* out, int32_t len, const double* const* a,
                                      const double* const* x, int32_t k) {
  constexpr int32_t kStep = 4; // 16 multipliers, 4 sums and a value stay in registers
  for (int32_t r = 0; r < k; r += kStep) {
    const double* at[4] = {a[0] + r, a[1] + r, a[2] + r, a[3] + r};
    switch (k - r < kStep ? k - r : kStep) {
    case 1:
      addRowsToFour<1>(out, len, at, x + r);
      break;
    case 2:
      addRowsToFour<2>(out, len, at, x + r);
      break;
    case 3:
      addRowsToFour<3>(out, len, at, x + r);
      break;
    default:
      addRowsToFour<4>(out, len, at, x + r);
      break;
    }
  }
}
