// The leverage terms of the structured road's many-level effect for the PRESS pass, and the
// folds' estimates of its columns. With the effect's swept columns J (block B = D_J + rho 1 1')
// and the swept small columns S (T the reduced triangle's block over them, whose inverse the
// swept triangle holds), a row x = (s, z) has leverage z'B^-1 z + p'T^-1 p, p = s - C'B^-1 z.
// The pass expands p'T^-1 p over the row's own columns; on a nearly dependent design, where
// the expansion's terms cancel, it forms p itself and a factor of T from the reduced rows.
#include "model/vsfstructuredpress.h"

#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "numerics/packedtri.h"

#include <algorithm>
#include <vector>

namespace {

using packed::sym;

// T^-1 c over the swept small columns S, from the swept triangle `swept`, into `out`
// (indexed by small column, 0 elsewhere), and c'T^-1 c.
double solveReduced(const double* swept, const std::vector<int64_t>& S,
                    const std::vector<double>& c, double* out) {
  double q = 0.0;
  for (size_t a = 0; a < S.size(); ++a) {
    double v = 0.0;
    for (size_t b = 0; b < S.size(); ++b)
      v += swept[sym(S[a], S[b])] * c[b];
    out[S[a]] = v;
    q += c[a] * v;
  }
  return q;
}

// Keeps c = C'B^-1 e of set j over the small columns (indexed by column) and e'B^-1 e.
void keepShift(VsfStructured* st, int64_t j, const std::vector<int64_t>& S,
               const std::vector<double>& c, double block) {
  double* out = st->leverageShift + j * st->small;
  for (size_t a = 0; a < S.size(); ++a)
    out[S[a]] = c[a];
  st->leverageBlock[j] = block;
}

// The effect's terms of the leverages from the block's inverse as VsfBlockInverse takes it
// about its column 0 of smallest D_0: v the sum of C_j / D_j over the others, s that of
// 1 / D_j. A row with value x in column j has B^-1 z = x times column j of B^-1, whose cross
// products C'B^-1 e_j are (C_j - (C_0 + D_0 v) / g) / D_j, and for column 0 (a C_0 - v) / g;
// a row with x in every column B^-1 1 = (D_0 / D_j, 1 at column 0) / (rho g), so
// 1'B^-1 1 = (1 + D_0 s) / (rho g) and C'B^-1 1 = (C_0 + D_0 v) / (rho g). Without rho (no
// column 0) the block is diagonal.
void leverageTerms(VsfModel* m, const std::vector<int64_t>& S) {
  VsfStructured* st = m->structured;
  const int64_t k = st->columns, n = st->small;
  const VsfBlockInverse inv = vsfStructuredBlockInverse(*st);
  const int64_t z = inv.least;
  VsfCrossRow row(*st);
  std::vector<double> C0;
  if (z >= 0) {
    const double* first = row(z);
    C0.assign(first, first + n);
  }
  std::vector<double> v(S.size(), 0.0), shift(S.size(), 0.0), c(S.size());
  double sum = 0.0;
  for (int64_t j = 0; j < k && z >= 0; ++j)
    if (st->swept[j] == '1' && j != z) {
      sum += 1.0 / st->diagonal[j];
      const double* C = row(j);
      for (size_t a = 0; a < S.size(); ++a)
        v[a] += C[S[a]] / st->diagonal[j];
    }
  for (size_t a = 0; a < S.size() && z >= 0; ++a)
    shift[a] = (C0[S[a]] + inv.d0 * v[a]) / inv.g;
  for (int64_t j = 0; j < k; ++j) {
    if (st->swept[j] != '1')
      continue;
    const double* C = row(j);
    for (size_t a = 0; a < S.size(); ++a)
      c[a] = j == z ? (inv.a * C0[S[a]] - v[a]) / inv.g : (C[S[a]] - shift[a]) / st->diagonal[j];
    keepShift(st, j, S, c, vsfStructuredBlockInverseAt(*st, inv, j, j));
    st->leverageDiagonal[j] =
        st->leverageBlock[j] + solveReduced(m->sweptXpx, S, c, st->leverageCross + j * n);
  }
  if (z < 0)
    return;
  const double rho = st->rankOne;
  for (size_t a = 0; a < S.size(); ++a)
    c[a] = shift[a] / rho;
  keepShift(st, k, S, c, (1.0 + inv.d0 * sum) / (rho * inv.g));
  st->leverageDiagonal[k] =
      st->leverageBlock[k] + solveReduced(m->sweptXpx, S, c, st->leverageCross + k * n);
}

} // namespace

bool vsfStructuredPressArrays(VsfModel* m, VsfStructured* st) {
  const int64_t k = st->columns;
  st->leverageCross = vsfModelArray<double>(m, (k + 1) * st->small, false);
  st->leverageDiagonal = vsfModelArray<double>(m, k + 1, false);
  st->leverageShift = vsfModelArray<double>(m, (k + 1) * st->small, false);
  st->leverageBlock = vsfModelArray<double>(m, k + 1, false);
  return st->leverageCross != nullptr && st->leverageDiagonal != nullptr &&
         st->leverageShift != nullptr && st->leverageBlock != nullptr;
}

void vsfStructuredPressSetUp(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return;
  const int64_t k = st->columns, n = st->small;
  std::fill(st->leverageCross, st->leverageCross + (k + 1) * n, 0.0);
  std::fill(st->leverageDiagonal, st->leverageDiagonal + k + 1, 0.0);
  std::fill(st->leverageShift, st->leverageShift + (k + 1) * n, 0.0);
  std::fill(st->leverageBlock, st->leverageBlock + k + 1, 0.0);
  std::vector<int64_t> S;
  for (int64_t c = 1; c < n; ++c)
    if (m->sweepFlags[c] == '1')
      S.push_back(c);
  leverageTerms(m, S);
}

void vsfStructuredFoldEstimates(const VsfModel* m, int32_t f, double* beta) {
  const VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  const VsfStructured& R = st->folds[f];
  std::copy(R.estimates, R.estimates + R.columns, beta + m->parmOffset[st->effect]);
}
