// The leverage terms of the structured road's many-level effect for the PRESS pass, and the
// folds' estimates of its columns. With the effect's swept columns J (block B = D_J + rho 1 1')
// and the swept small columns S (T the reduced triangle's block over them, whose inverse the
// swept triangle holds), a row x = (s, z) has leverage z'B^-1 z + p'T^-1 p, p = s - C'B^-1 z.
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

// The terms when every swept column's D_j is positive: B^-1 = D^-1 - kappa D^-1 1 1' D^-1.
void shermanMorrisonTerms(VsfModel* m, const std::vector<int64_t>& S, double kappa) {
  VsfStructured* st = m->structured;
  const int64_t k = st->columns, n = st->small;
  // u = C_J' D_J^-1 1 and t = 1' D_J^-1 1, which the inverse of B takes under the effect
  // coding.
  std::vector<double> u(S.size(), 0.0), c(S.size());
  double t = 0.0;
  for (int64_t j = 0; j < k; ++j)
    if (st->swept[j] == '1') {
      t += 1.0 / st->diagonal[j];
      for (size_t a = 0; a < S.size(); ++a)
        u[a] += st->cross[j * n + S[a]] / st->diagonal[j];
    }
  // A row with value x in column j: B^-1 z = x (e_j - kappa D^-1 1) / D_j.
  for (int64_t j = 0; j < k; ++j) {
    if (st->swept[j] != '1')
      continue;
    const double d = st->diagonal[j];
    for (size_t a = 0; a < S.size(); ++a)
      c[a] = (st->cross[j * n + S[a]] - kappa * u[a]) / d;
    st->leverageDiagonal[j] =
        1.0 / d - kappa / (d * d) + solveReduced(m->sweptXpx, S, c, st->leverageCross + j * n);
  }
  // A row with value x in every column: B^-1 z = x (1 - kappa t) D^-1 1.
  const double f = 1.0 - kappa * t;
  for (size_t a = 0; a < S.size(); ++a)
    c[a] = f * u[a];
  st->leverageDiagonal[k] = f * t + solveReduced(m->sweptXpx, S, c, st->leverageCross + k * n);
}

// The terms under the effect coding with the column E of a level without rows swept: B^-1
// has 1/D_j on the diagonal of the others, -1/D_j between E and j, and `emptyDiagonal` at E;
// B^-1 1 = e_E / rho.
void emptyColumnTerms(VsfModel* m, const std::vector<int64_t>& S, const VsfBlockInverse& inv) {
  VsfStructured* st = m->structured;
  const int64_t k = st->columns, n = st->small, E = inv.empty;
  const double* CE = st->cross + E * n;
  std::vector<double> c(S.size()), w(S.size(), 0.0);
  for (int64_t j = 0; j < k; ++j) {
    if (st->swept[j] != '1' || j == E)
      continue;
    const double d = st->diagonal[j];
    for (size_t a = 0; a < S.size(); ++a) {
      c[a] = (st->cross[j * n + S[a]] - CE[S[a]]) / d;
      w[a] += st->cross[j * n + S[a]] / d;
    }
    st->leverageDiagonal[j] = 1.0 / d + solveReduced(m->sweptXpx, S, c, st->leverageCross + j * n);
  }
  for (size_t a = 0; a < S.size(); ++a)
    c[a] = CE[S[a]] * inv.emptyDiagonal - w[a];
  st->leverageDiagonal[E] =
      inv.emptyDiagonal + solveReduced(m->sweptXpx, S, c, st->leverageCross + E * n);
  for (size_t a = 0; a < S.size(); ++a)
    c[a] = CE[S[a]] / st->rankOne;
  st->leverageDiagonal[k] =
      1.0 / st->rankOne + solveReduced(m->sweptXpx, S, c, st->leverageCross + k * n);
}

} // namespace

bool vsfStructuredPressArrays(VsfModel* m, VsfStructured* st) {
  const int64_t k = st->columns;
  st->leverageCross = vsfModelArray<double>(m, (k + 1) * st->small, false);
  st->leverageDiagonal = vsfModelArray<double>(m, k + 1, false);
  return st->leverageCross != nullptr && st->leverageDiagonal != nullptr;
}

void vsfStructuredPressSetUp(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return;
  const int64_t k = st->columns, n = st->small;
  std::fill(st->leverageCross, st->leverageCross + (k + 1) * n, 0.0);
  std::fill(st->leverageDiagonal, st->leverageDiagonal + k + 1, 0.0);
  std::vector<int64_t> S;
  for (int64_t c = 1; c < n; ++c)
    if (m->sweepFlags[c] == '1')
      S.push_back(c);
  const VsfBlockInverse inverse = vsfStructuredBlockInverse(*st);
  if (inverse.empty >= 0)
    emptyColumnTerms(m, S, inverse);
  else
    shermanMorrisonTerms(m, S, inverse.kappa);
}

void vsfStructuredFoldEstimates(const VsfModel* m, int32_t f, double* beta) {
  const VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  const VsfStructured& R = st->folds[f];
  std::copy(R.estimates, R.estimates + R.columns, beta + m->parmOffset[st->effect]);
}
