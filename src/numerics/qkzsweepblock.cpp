// qkzsweepBlock: panels of kPanel pivots. A panel's columns are copied into a strip of true
// (sign-corrected) values; each pivot is swept on the strip, and its column and row factors
// are kept; then every element outside the panel subtracts the factors' products in pivot
// order, row by row on the threads, eight pivots per pass over a row.
#include "numerics/qkzsweepblock.h"

#include "numerics/packedtri.h"
#include "support/zparrows.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using packed::at;
using packed::tri;

constexpr int64_t kPanel = 32;

[[nodiscard]] bool swept(const char* flags, int64_t i) { return flags[i] == '1'; }

// -1 where the stored element (max, min) of i and k is the negated true value of (i, k)
// above the diagonal: exactly one of the two is swept.
double sideSign(const char* flags, int64_t i, int64_t k) {
  return swept(flags, i) != swept(flags, k) ? -1.0 : 1.0;
}

[[nodiscard]] bool accepted(double p, double tol) {
  if (std::isnan(p))
    return false;
  return tol >= 0.0 ? p > tol : std::fabs(p) > -tol;
}

struct Panel {
  double* a;
  int64_t n, k0, m;
  char* flags;
  bool partial;
  // Column q of each, n doubles at q * n: the strip of true values T(i, k0 + q), the
  // strip as it was when pivot q was swept, and the row factor of that pivot.
  std::vector<double> S, L, R;
  std::vector<int64_t> taken; // the panel positions of the pivots swept, in order
};

void extract(Panel& P) {
  for (int64_t q = 0; q < P.m; ++q) {
    const int64_t k = P.k0 + q;
    double* s = &P.S[q * P.n];
    for (int64_t i = 0; i < k; ++i)
      s[i] = P.partial ? P.a[at(k, i)] : P.a[at(k, i)] * sideSign(P.flags, i, k);
    for (int64_t i = k; i < P.n; ++i)
      s[i] = P.a[at(i, k)];
  }
}

// An element between two of the panel's columns is held twice, in each one's strip, and the
// two copies take a pivot's update from different products (T(i,k) T(k,j) / p against
// T(j,k) T(k,i) / p), which round differently. Elimination on a matrix whose two halves
// drift apart is no longer symmetric: on nearly dependent columns (a spline basis of degree
// 60) the swept block stopped being an inverse that refinement could correct. After each
// pivot the element below the diagonal, the one the packed matrix keeps, is copied over the
// one above it, so that every pivot reads one value as the column-by-column sweep does.
// Strips before `from` no longer change (the pivots already taken by partial elimination).
void mirror(Panel& P, int64_t from) {
  for (int64_t c = from; c < P.m; ++c) {
    const int64_t kc = P.k0 + c;
    const double* t = &P.S[c * P.n];
    for (int64_t c2 = c + 1; c2 < P.m; ++c2) {
      const int64_t k2 = P.k0 + c2;
      P.S[c2 * P.n + kc] = P.partial ? t[k2] : t[k2] * sideSign(P.flags, kc, k2);
    }
  }
}

// Sweeps pivot q on the strip and keeps its factors: elements (i, j) outside the panel
// later lose L(i) R(j), which is T(i,k) T(k,j) / p.
void pivot(Panel& P, int64_t q, double p) {
  const int64_t n = P.n, k = P.k0 + q;
  double* s = &P.S[q * n];
  double* l = &P.L[q * n];
  double* r = &P.R[q * n];
  const double d = 1.0 / p;
  std::copy(s, s + n, l);
  for (int64_t j = 0; j < n; ++j)
    r[j] = (P.partial ? l[j] : sideSign(P.flags, j, k) * l[j]) * d;
  // Rows that the elimination changes: all but the pivot's (full), or row 0 and the rows
  // after the pivot (partial).
  const int64_t from = P.partial ? k + 1 : 0;
  for (int64_t c = P.partial ? q + 1 : 0; c < P.m; ++c) {
    if (c == q)
      continue;
    double* t = &P.S[c * n];
    const double f = t[k] * d;
    if (f == 0.0) {
      if (!P.partial)
        t[k] = -f;
      continue;
    }
    if (P.partial)
      t[0] -= l[0] * f;
    for (int64_t i = from; i < n; ++i)
      t[i] -= l[i] * f;
    if (!P.partial)
      t[k] = -f; // the pivot's row: -T(k, j) / p
  }
  if (!P.partial) {
    for (int64_t i = 0; i < n; ++i)
      s[i] *= d;
    s[k] = d;
    P.flags[k] = swept(P.flags, k) ? '0' : '1';
  }
  mirror(P, P.partial ? q + 1 : 0);
}

void writeBack(Panel& P) {
  for (int64_t q = 0; q < P.m; ++q) {
    const int64_t k = P.k0 + q;
    const double* s = &P.S[q * P.n];
    if (P.partial) {
      P.a[at(k, 0)] = s[0];
    } else {
      for (int64_t i = 0; i < P.k0; ++i)
        P.a[at(k, i)] = s[i] * sideSign(P.flags, i, k);
    }
    for (int64_t i = k; i < P.n; ++i)
      P.a[at(i, k)] = s[i];
  }
}

// row[j] for j in [j0, j1) less the products of eight pivots, subtracted one after another
// as eight separate passes would.
__attribute__((target_clones("avx2", "default"))) void
subtract8(double* row, int64_t j0, int64_t j1, const double* l, const double* const* r) {
  for (int64_t j = j0; j < j1; ++j) {
    double v = row[j];
    v -= l[0] * r[0][j];
    v -= l[1] * r[1][j];
    v -= l[2] * r[2][j];
    v -= l[3] * r[3][j];
    v -= l[4] * r[4][j];
    v -= l[5] * r[5][j];
    v -= l[6] * r[6][j];
    v -= l[7] * r[7][j];
    row[j] = v;
  }
}

__attribute__((target_clones("avx2", "default"))) void
subtract1(double* row, int64_t j0, int64_t j1, double l, const double* r) {
  for (int64_t j = j0; j < j1; ++j)
    row[j] -= l * r[j];
}

// Row i outside the panel, within the column window [ta, tb): its columns before `low`
// and from the panel's end to i.
void updateRow(const Panel& P, int64_t i, int64_t low, int64_t ta, int64_t tb) {
  double* row = P.a + tri(i);
  const int64_t end = P.k0 + P.m;
  const int64_t a0 = ta, a1 = std::min({low, i + 1, tb});
  const int64_t b0 = std::max(end, ta), b1 = std::min(i + 1, tb);
  const size_t T = P.taken.size();
  size_t g = 0;
  for (; g + 8 <= T; g += 8) {
    double l[8];
    const double* r[8];
    bool zero = false;
    for (int c = 0; c < 8; ++c) {
      const int64_t q = P.taken[g + static_cast<size_t>(c)];
      l[c] = P.L[q * P.n + i];
      r[c] = &P.R[q * P.n];
      zero = zero || l[c] == 0.0;
    }
    if (zero)
      break; // a row with a zero factor skips that pivot, as the plain sweep does
    if (a0 < a1)
      subtract8(row, a0, a1, l, r);
    if (b0 < b1)
      subtract8(row, b0, b1, l, r);
  }
  for (; g < T; ++g) {
    const int64_t q = P.taken[g];
    const double l = P.L[q * P.n + i];
    if (l == 0.0)
      continue;
    if (a0 < a1)
      subtract1(row, a0, a1, l, &P.R[q * P.n]);
    if (b0 < b1)
      subtract1(row, b0, b1, l, &P.R[q * P.n]);
  }
}

void updateOutside(const Panel& P, int32_t threads) {
  if (P.taken.empty())
    return;
  const int64_t low = P.partial ? 1 : P.k0;
  auto rows = [&](int64_t first, int64_t last) {
    for (int64_t i = first; i < last; ++i)
      updateRow(P, i, low, 0, i + 1);
  };
  zparrows(threads, 0, low, rows);
  zparrows(threads, P.k0 + P.m, P.n, rows);
}

} // namespace

int32_t qkzsweepBlock(double* a, int32_t n, int32_t k0, int32_t m, char* flags, bool partial,
                      QkzPivotTolerance tolerance, void* context, int32_t threads) {
  int32_t count = 0;
  if (k0 < 0 || m < 1 || k0 + m > n)
    return 0;
  Panel P{a, n, 0, 0, flags, partial, {}, {}, {}, {}};
  const size_t cells = static_cast<size_t>(n) * static_cast<size_t>(std::min<int64_t>(m, kPanel));
  P.S.resize(cells);
  P.L.resize(cells);
  P.R.resize(cells);
  for (int64_t start = k0; start < k0 + m; start += kPanel) {
    P.k0 = start;
    P.m = std::min<int64_t>(kPanel, k0 + m - start);
    P.taken.clear();
    extract(P);
    for (int64_t q = 0; q < P.m; ++q) {
      const int64_t k = start + q;
      const double p = P.S[q * P.n + k];
      const double tol = tolerance(context, static_cast<int32_t>(k), p, &P.S[q * P.n]);
      if (!accepted(p, tol))
        continue;
      pivot(P, q, p);
      P.taken.push_back(q);
      ++count;
    }
    writeBack(P);
    updateOutside(P, threads);
  }
  return count;
}
