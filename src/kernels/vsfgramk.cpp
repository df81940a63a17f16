// vsfGramUpdateRows: the block's rows are packed once, column blocks of NR values per row
// (B) and the weighted values of the triangle's row blocks of MR rows (A); each MR x NR tile
// of the triangle is then loaded, run through all the block's rows in registers and stored,
// so the triangle is read and written once per block instead of once per eight rows, and the
// packed panels stay in cache. The tile sizes are chosen by the vector width found at run time.
#include "kernels/vsfgramk.h"

#include "kernels/vsfrankk.h"
#include "numerics/packedtri.h"
#include "support/threadscratch.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

using packed::tri;

#if defined(__GNUC__)
#define VSF_GRAM_INLINE inline __attribute__((always_inline))
#else
#define VSF_GRAM_INLINE inline
#endif

// The columns of the packed panel one pass over the row blocks takes (a multiple of every NR).
constexpr int32_t kChunk = 256;

// Blocks of fewer rows skip the packing, which would cost more than it saves.
constexpr int32_t kFewRows = 16;

// The packed panels of one block, reused by the thread's next block.
struct Panels {
  std::vector<double> a, b;
};

Panels& panels() {
  thread_local ThreadScratch<Panels> pScratch;
  Panels& p = pScratch.get();
  return p;
}

// True when every value of the rows' first n columns is finite.
[[nodiscard]] bool allFinite(const double* const* x, int32_t k, int32_t n) {
  for (int32_t r = 0; r < k; ++r)
    if (!vsfAllFinite(x[r], n))
      return false;
  return true;
}

// The rows' columns [0, cols) as blocks of NR columns, rows in order within a block, the last
// block padded with zeros.
template <int NR>
VSF_GRAM_INLINE void packColumns(double* B, const double* const* x, int32_t k, int32_t cols) {
  for (int32_t j0 = 0; j0 < cols; j0 += NR) {
    const int32_t m = std::min(NR, cols - j0);
    for (int32_t r = 0; r < k; ++r, B += NR) {
      for (int32_t c = 0; c < m; ++c)
        B[c] = x[r][j0 + c];
      for (int32_t c = m; c < NR; ++c)
        B[c] = 0.0;
    }
  }
}

// The weighted values w[r] x[r][i] of rows [i0, i1) of the triangle (i0 a multiple of MR) as
// blocks of MR, padded with zeros past n.
template <int MR>
VSF_GRAM_INLINE void packWeighted(double* A, const double* const* x, const double* w, int32_t k,
                                  int32_t i0, int32_t i1) {
  for (int32_t b = i0; b < i1; b += MR) {
    const int32_t m = std::min(MR, i1 - b);
    for (int32_t r = 0; r < k; ++r, A += MR) {
      for (int32_t c = 0; c < m; ++c)
        A[c] = x[r][b + c] * w[r];
      for (int32_t c = m; c < MR; ++c)
        A[c] = 0.0;
    }
  }
}

// Vectors of V doubles, loaded and stored with memcpy at any address.
template <int V> struct VecOf;
template <> struct VecOf<2> { typedef double type __attribute__((vector_size(16))); };
template <> struct VecOf<4> { typedef double type __attribute__((vector_size(32))); };
template <> struct VecOf<8> { typedef double type __attribute__((vector_size(64))); };

// C[i][j] += A[r][i] B[r][j] for r < k (C[i] the tile's row i), in row order, the tile held as MR x
// NR / V vectors of V values. The file is built with contraction on, so where the processor fuses a
// multiply-add each term is one rounding.
template <int MR, int NR, int V>
VSF_GRAM_INLINE void tileKernel(double* const (&C)[MR], const double* A, const double* B,
                                int32_t k) {
  using Vec = typename VecOf<V>::type;
  constexpr int NB = NR / V;
  Vec c[MR][NB];
  for (int i = 0; i < MR; ++i)
    for (int b = 0; b < NB; ++b)
      std::memcpy(&c[i][b], &C[i][b * V], sizeof(Vec));
  for (int32_t r = 0; r < k; ++r, A += MR, B += NR) {
    Vec v[NB];
    for (int b = 0; b < NB; ++b)
      std::memcpy(&v[b], B + b * V, sizeof(Vec));
    for (int i = 0; i < MR; ++i) {
      const Vec a = A[i] - Vec{}; // the value in every lane (x - 0 is x)
      for (int b = 0; b < NB; ++b)
        c[i][b] = a * v[b] + c[i][b];
    }
  }
  for (int i = 0; i < MR; ++i)
    for (int b = 0; b < NB; ++b)
      std::memcpy(&C[i][b * V], &c[i][b], sizeof(Vec));
}

// The block of rows of the triangle [lo, hi) whose first row is i0 (a multiple of MR): each
// tile loaded from T where it holds elements of those rows, updated and stored back.
template <int MR, int NR, int V>
VSF_GRAM_INLINE void rowBlock(double* T, const double* A, const double* B, int32_t k, int32_t i0,
                              int32_t lo, int32_t hi, int32_t jBegin, int32_t jEnd) {
  const int32_t first = std::max(i0, lo), last = std::min(i0 + MR, hi);
  // Tiles wholly below the diagonal of rows the caller asked for are updated in place; the
  // others through a copy, by the same arithmetic.
  const bool whole = first == i0 && last == i0 + MR;
  double* rows[MR];
  for (int32_t j0 = jBegin; j0 < std::min(last, jEnd); j0 += NR) {
    if (whole && j0 + NR <= i0 + 1) {
      for (int i = 0; i < MR; ++i)
        rows[i] = T + tri(i0 + i) + j0;
      tileKernel<MR, NR, V>(rows, A, B + static_cast<int64_t>(j0) * k, k);
      continue;
    }
    double C[MR][NR] = {};
    for (int i = 0; i < MR; ++i)
      rows[i] = C[i];
    for (int32_t i = first; i < last; ++i)
      for (int32_t j = j0; j < std::min(j0 + NR, i + 1); ++j)
        C[i - i0][j - j0] = T[tri(i) + j];
    tileKernel<MR, NR, V>(rows, A, B + static_cast<int64_t>(j0) * k, k);
    for (int32_t i = first; i < last; ++i)
      for (int32_t j = j0; j < std::min(j0 + NR, i + 1); ++j)
        T[tri(i) + j] = C[i - i0][j - j0];
  }
}

// row[j] += a[r] x[r][j] for j < len, r < K in row order: the tile kernel's terms.
template <int K>
VSF_GRAM_INLINE void addTerms(double* row, int32_t len, const double* a, const double* const* x) {
  for (int32_t j = 0; j < len; ++j) {
    double v = row[j];
    for (int r = 0; r < K; ++r)
      v = a[r] * x[r][j] + v;
    row[j] = v;
  }
}

// A few rows (a block cut short by a change of target) without packing: each row of the
// triangle gets the terms of up to eight rows at a time, those whose value there is zero left
// out (a zero term adds nothing), so every element gets the tile kernel's arithmetic.
VSF_GRAM_INLINE void fewRows(double* T, const double* const* x, const double* w, int32_t k,
                             int32_t lo, int32_t hi) {
  for (int32_t i = lo; i < hi; ++i) {
    double* row = T + tri(i);
    for (int32_t r0 = 0; r0 < k; r0 += 8) {
      double a[8];
      const double* xs[8];
      int c = 0;
      for (int32_t r = r0; r < std::min(r0 + 8, k); ++r)
        if (x[r][i] != 0.0) {
          a[c] = x[r][i] * w[r];
          xs[c++] = x[r];
        }
      switch (c) {
      case 1:
        addTerms<1>(row, i + 1, a, xs);
        break;
      case 2:
        addTerms<2>(row, i + 1, a, xs);
        break;
      case 3:
        addTerms<3>(row, i + 1, a, xs);
        break;
      case 4:
        addTerms<4>(row, i + 1, a, xs);
        break;
      case 5:
        addTerms<5>(row, i + 1, a, xs);
        break;
      case 6:
        addTerms<6>(row, i + 1, a, xs);
        break;
      case 7:
        addTerms<7>(row, i + 1, a, xs);
        break;
      case 8:
        addTerms<8>(row, i + 1, a, xs);
        break;
      default:
        break;
      }
    }
  }
}

template <int MR, int NR, int V>
VSF_GRAM_INLINE void gram(double* T, int32_t n, const double* const* x, const double* w, int32_t k,
                          int32_t lo, int32_t hi) {
  if (k < kFewRows) {
    fewRows(T, x, w, k, lo, hi);
    return;
  }
  Panels& p = panels();
  const int32_t i0 = lo / MR * MR;
  const int32_t rowsA = (hi - i0 + MR - 1) / MR * MR, colsB = (hi + NR - 1) / NR * NR;
  p.a.resize(static_cast<size_t>(rowsA) * k);
  p.b.resize(static_cast<size_t>(colsB) * k);
  packWeighted<MR>(p.a.data(), x, w, k, i0, std::min(i0 + rowsA, n));
  packColumns<NR>(p.b.data(), x, k, hi);
  // Columns in chunks of kChunk, so that a chunk's panel stays in the core's cache while
  // the row blocks pass over it.
  for (int32_t j = 0; j < hi; j += kChunk)
    for (int32_t b = std::max(i0, j / MR * MR); b < hi; b += MR)
      rowBlock<MR, NR, V>(T, p.a.data() + static_cast<int64_t>(b - i0) * k, p.b.data(), k, b, lo,
                          hi, j, j + kChunk);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VSF_GRAM_DISPATCH 1
__attribute__((target("avx512f,avx512dq,avx2,fma"))) void gramAvx512(double* T, int32_t n,
                                                                     const double* const* x,
                                                                     const double* w, int32_t k,
                                                                     int32_t lo, int32_t hi) {
  gram<8, 16, 8>(T, n, x, w, k, lo, hi);
}
__attribute__((target("avx2,fma"))) void gramAvx2(double* T, int32_t n, const double* const* x,
                                                  const double* w, int32_t k, int32_t lo,
                                                  int32_t hi) {
  gram<6, 8, 4>(T, n, x, w, k, lo, hi);
}
#endif

void gramPlain(double* T, int32_t n, const double* const* x, const double* w, int32_t k, int32_t lo,
               int32_t hi) {
  gram<4, 4, 2>(T, n, x, w, k, lo, hi);
}

using GramFn = void (*)(double*, int32_t, const double* const*, const double*, int32_t, int32_t,
                        int32_t);

// The form for this processor, chosen once.
GramFn chosen() {
#if defined(VSF_GRAM_DISPATCH)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("fma"))
    return gramAvx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
    return gramAvx2;
#endif
  return gramPlain;
}

} // namespace

void vsfGramUpdateRows(double* T, int32_t n, const double* const* x, const double* w, int32_t k,
                       int32_t rowBegin, int32_t rowEnd) {
  const int32_t hi = std::min(rowEnd, n);
  if (k <= 0 || rowBegin >= hi)
    return;
  if (!allFinite(x, k, n)) {
    for (int32_t r = 0; r < k; r += kVsfRankRows)
      vsfRankUpdateRows(T, n, x + r, w + r, std::min(kVsfRankRows, k - r), rowBegin, hi);
    return;
  }
  vsfGramUpdateFiniteRows(T, n, x, w, k, rowBegin, hi);
}

void vsfGramUpdateFiniteRows(double* T, int32_t n, const double* const* x, const double* w,
                             int32_t k, int32_t rowBegin, int32_t rowEnd) {
  const int32_t hi = std::min(rowEnd, n);
  if (k <= 0 || rowBegin >= hi)
    return;
  static const GramFn form = chosen();
  form(T, n, x, w, k, rowBegin, hi);
}
