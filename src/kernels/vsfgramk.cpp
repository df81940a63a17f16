// vsfGramUpdateRows: the block's rows are packed once, column blocks of NR values per row
// (B) and the weighted values of the triangle's row blocks of MR rows (A); each MR x NR tile
// of the triangle is then loaded, run through all the block's rows in registers and stored,
// so the triangle is read and written once per block instead of once per eight rows, and the
// packed panels stay in cache. The tile sizes are chosen by the vector width found at run time.
#include "kernels/vsfgramk.h"

#include "kernels/vsfrankk.h"
#include "numerics/packedtri.h"
#include "support/scratcharena.h"

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

// The rows the packing reads side by side: few enough for the processor to fetch each ahead.
constexpr int32_t kPackRows = 8;

} // namespace

// The packed panels of one block, and the centred copies of a few rows, reused by the
// thread's next block.
struct VsfGramScratch {
  std::vector<double> a, b;
  std::vector<double> few;
};
VsfGramScratch& VsfScratchArena::gram() { return part(gram_); }

namespace {

// True when every value of the rows' first n columns is finite.
[[nodiscard]] bool allFinite(const double* const* x, int32_t k, int32_t n) {
  for (int32_t r = 0; r < k; ++r)
    if (!vsfAllFinite(x[r], n))
      return false;
  return true;
}

// Vectors of V doubles, loaded and stored with memcpy at any address.
template <int V> struct VecOf;
template <> struct VecOf<2> { typedef double type __attribute__((vector_size(16))); };
template <> struct VecOf<4> { typedef double type __attribute__((vector_size(32))); };
template <> struct VecOf<8> { typedef double type __attribute__((vector_size(64))); };

// The value of a row at column i as a block packs it: less the centre where there is one.
template <bool Centred>
VSF_GRAM_INLINE double packed(const double* __restrict row, const double* __restrict centre,
                              int32_t i) {
  if constexpr (Centred)
    return row[i] - centre[i];
  else
    return row[i];
}

// The rows' columns [0, cols) as blocks of NR columns, rows in order within a block, the last
// block padded with zeros; less the centre where there is one (the rows are then centred as
// they are packed, each value once, as a centred copy would hold it). A few rows at a time
// are read from start to end, which the processor fetches ahead of the loop (the rows of a
// shared pass lie on pages far larger than the caches), while the panel is written in order.
template <int NR, int V, bool Centred>
VSF_GRAM_INLINE void packColumnsOf(double* __restrict B, const double* const* x,
                                   const double* __restrict centre, int32_t k, int32_t cols) {
  using Vec = typename VecOf<V>::type;
  const int64_t stride = static_cast<int64_t>(k) * NR; // one block of NR columns
  const int32_t whole = cols / NR * NR;
  for (int32_t r0 = 0; r0 < k; r0 += kPackRows) {
    const int32_t r1 = std::min(k, r0 + kPackRows);
    double* __restrict block = B + static_cast<int64_t>(r0) * NR;
    for (int32_t j0 = 0; j0 < whole; j0 += NR, block += stride)
      for (int32_t r = r0; r < r1; ++r) {
        double* out = block + (r - r0) * NR;
        for (int32_t c = 0; c < NR; c += V) {
          Vec v;
          std::memcpy(&v, x[r] + j0 + c, sizeof v);
          if constexpr (Centred) {
            Vec u;
            std::memcpy(&u, centre + j0 + c, sizeof u);
            v -= u;
          }
          std::memcpy(out + c, &v, sizeof v);
        }
      }
    if (whole < cols)
      for (int32_t r = r0; r < r1; ++r) {
        double* __restrict out = block + (r - r0) * NR;
        const int32_t m = cols - whole;
        for (int32_t c = 0; c < m; ++c)
          out[c] = packed<Centred>(x[r], centre, whole + c);
        for (int32_t c = m; c < NR; ++c)
          out[c] = 0.0;
      }
  }
}

template <int NR, int V>
VSF_GRAM_INLINE void packColumns(double* B, const double* const* x, const double* centre, int32_t k,
                                 int32_t cols) {
  if (centre != nullptr)
    packColumnsOf<NR, V, true>(B, x, centre, k, cols);
  else
    packColumnsOf<NR, V, false>(B, x, centre, k, cols);
}

// The weighted values w[r] x[r][i] (x[r][i] less the centre where there is one) of rows
// [i0, i1) of the triangle (i0 a multiple of MR) as blocks of MR, padded with zeros past i1;
// a few rows at a time read from start to end, as packColumns reads them.
template <int MR, int V, bool Centred>
VSF_GRAM_INLINE void packWeightedOf(double* __restrict A, const double* const* x,
                                    const double* __restrict centre, const double* w, int32_t k,
                                    int32_t i0, int32_t i1) {
  using Vec = typename VecOf<V>::type;
  const int64_t stride = static_cast<int64_t>(k) * MR; // one block of MR rows
  const int32_t whole = i0 + (i1 - i0) / MR * MR;
  for (int32_t r0 = 0; r0 < k; r0 += kPackRows) {
    const int32_t r1 = std::min(k, r0 + kPackRows);
    double* __restrict block = A + static_cast<int64_t>(r0) * MR;
    for (int32_t b = i0; b < whole; b += MR, block += stride)
      for (int32_t r = r0; r < r1; ++r) {
        double* out = block + (r - r0) * MR;
        if constexpr (MR % V == 0) {
          const Vec wr = w[r] - Vec{}; // the weight in every lane (x - 0 is x)
          for (int32_t c = 0; c < MR; c += V) {
            Vec v;
            std::memcpy(&v, x[r] + b + c, sizeof v);
            if constexpr (Centred) {
              Vec u;
              std::memcpy(&u, centre + b + c, sizeof u);
              v -= u;
            }
            v *= wr;
            std::memcpy(out + c, &v, sizeof v);
          }
        } else {
          for (int32_t c = 0; c < MR; ++c)
            out[c] = packed<Centred>(x[r], centre, b + c) * w[r];
        }
      }
    if (whole < i1)
      for (int32_t r = r0; r < r1; ++r) {
        double* __restrict out = block + (r - r0) * MR;
        const int32_t m = i1 - whole;
        for (int32_t c = 0; c < m; ++c)
          out[c] = packed<Centred>(x[r], centre, whole + c) * w[r];
        for (int32_t c = m; c < MR; ++c)
          out[c] = 0.0;
      }
  }
}

template <int MR, int V>
VSF_GRAM_INLINE void packWeighted(double* A, const double* const* x, const double* centre,
                                  const double* w, int32_t k, int32_t i0, int32_t i1) {
  if (centre != nullptr)
    packWeightedOf<MR, V, true>(A, x, centre, w, k, i0, i1);
  else
    packWeightedOf<MR, V, false>(A, x, centre, w, k, i0, i1);
}

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

// The first `cols` values of the k rows less the centre, copied into `room`, and pointers to
// the copies in `rows`.
void centredCopies(std::vector<double>& room, const double** rows, const double* const* x,
                   const double* centre, int32_t k, int32_t cols) {
  room.resize(static_cast<size_t>(k) * static_cast<size_t>(cols));
  for (int32_t r = 0; r < k; ++r) {
    double* y = room.data() + static_cast<size_t>(r) * static_cast<size_t>(cols);
    for (int32_t i = 0; i < cols; ++i)
      y[i] = x[r][i] - centre[i];
    rows[r] = y;
  }
}

// Room for a packed panel of `size` doubles in `v`, which only grows: the packing writes every
// value it reads, and a part of a shared pass, whose blocks alternate between the rows of two
// folds, would otherwise zero the larger panel's tail again on every other block.
double* panel(std::vector<double>& v, size_t size) {
  if (v.size() < size)
    v.resize(size);
  return v.data();
}

template <int MR, int NR, int V>
VSF_GRAM_INLINE void gram(double* T, int32_t n, const double* const* x, const double* centre,
                          const double* w, int32_t k, int32_t lo, int32_t hi) {
  VsfGramScratch& p = VsfScratchArena::mine().gram();
  if (k < kFewRows) {
    if (centre == nullptr) {
      fewRows(T, x, w, k, lo, hi);
      return;
    }
    const double* rows[kFewRows];
    centredCopies(p.few, rows, x, centre, k, hi);
    fewRows(T, rows, w, k, lo, hi);
    return;
  }
  const int32_t i0 = lo / MR * MR;
  const int32_t rowsA = (hi - i0 + MR - 1) / MR * MR, colsB = (hi + NR - 1) / NR * NR;
  double* A = panel(p.a, static_cast<size_t>(rowsA) * k);
  double* B = panel(p.b, static_cast<size_t>(colsB) * k);
  packWeighted<MR, V>(A, x, centre, w, k, i0, std::min(i0 + rowsA, n));
  packColumns<NR, V>(B, x, centre, k, hi);
  // Columns in chunks of kChunk, so that a chunk's panel stays in the core's cache while
  // the row blocks pass over it.
  for (int32_t j = 0; j < hi; j += kChunk)
    for (int32_t b = std::max(i0, j / MR * MR); b < hi; b += MR)
      rowBlock<MR, NR, V>(T, A + static_cast<int64_t>(b - i0) * k, B, k, b, lo, hi, j, j + kChunk);
}

#if defined(__x86_64__) && defined(__GNUC__)
#define VSF_GRAM_DISPATCH 1
__attribute__((target("avx512f,avx512dq,avx2,fma"))) void
gramAvx512(double* T, int32_t n, const double* const* x, const double* centre, const double* w,
           int32_t k, int32_t lo, int32_t hi) {
  gram<8, 16, 8>(T, n, x, centre, w, k, lo, hi);
}
__attribute__((target("avx2,fma"))) void gramAvx2(double* T, int32_t n, const double* const* x,
                                                  const double* centre, const double* w, int32_t k,
                                                  int32_t lo, int32_t hi) {
  gram<6, 8, 4>(T, n, x, centre, w, k, lo, hi);
}
#endif

void gramPlain(double* T, int32_t n, const double* const* x, const double* centre, const double* w,
               int32_t k, int32_t lo, int32_t hi) {
  gram<4, 4, 2>(T, n, x, centre, w, k, lo, hi);
}

using GramFn = void (*)(double*, int32_t, const double* const*, const double*, const double*,
                        int32_t, int32_t, int32_t);

// The form for this processor and the rows of its tiles (MR), chosen once.
struct Form {
  GramFn fn;
  int32_t rows;
};

Form choose() {
#if defined(VSF_GRAM_DISPATCH)
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("fma"))
    return Form{gramAvx512, 8};
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
    return Form{gramAvx2, 6};
#endif
  return Form{gramPlain, 4};
}

const Form& chosen() {
  static const Form form = choose();
  return form;
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
  chosen().fn(T, n, x, nullptr, w, k, rowBegin, hi);
}

void vsfGramUpdateCentredRows(double* T, int32_t n, const double* const* x, const double* centre,
                              const double* w, int32_t k, int32_t rowBegin, int32_t rowEnd) {
  const int32_t hi = std::min(rowEnd, n);
  if (k <= 0 || rowBegin >= hi)
    return;
  chosen().fn(T, n, x, centre, w, k, rowBegin, hi);
}

int32_t vsfGramRowBlock() { return chosen().rows; }
