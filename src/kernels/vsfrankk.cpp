// vsfRankUpdate: for each row of the triangle, the page rows whose coefficient there is not
// zero are gathered and added by an unrolled kernel of that count, so each element is read
// and written once per k rows instead of once per row; vsfAddRows does the same for a vector.
#include "kernels/vsfrankk.h"

#include "numerics/packedtri.h"

#include <cassert>

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

} // namespace

// GCC builds an AVX2 version and a default one, chosen when the program loads. clang 14 does
// not resolve such a function when another file calls it, so there it is one version.
#if defined(__clang__)
#define VSF_RANK_CLONES
#else
#define VSF_RANK_CLONES __attribute__((target_clones("avx2", "default")))
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
