// The small columns swept again after the many-level effect's columns on the structured
// road, and the rounding bounds of their pivots over the effect's swept columns: a column
// this order refuses gives the road up where the packed triangle fits.
// Declared in model/vsfstructured.h and model/vsfstructuredparts.h.
#include "model/vsfstructuredparts.h"

#include "model/vsfmemplan.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

using packed::diag;
using packed::sym;
using packed::tri;
using namespace structroad;

namespace {

// The coefficients of small column k on the swept small columns (index, value) and on the
// effect's swept columns J (indexed by the effect's columns, 0 off J): beta_i as the triangle
// holds it (the stored element is -beta_i where k comes before i), and b_j = the row of
// B_J^-1 (C_J(k) - C_J(S) beta_S).
struct Coefficients {
  std::vector<std::pair<int64_t, double>> small;
  std::vector<double> effect;
};
Coefficients coefficientsOf(const VsfModel* m, int64_t k) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  Coefficients b;
  std::vector<double> byColumn(static_cast<size_t>(n), 0.0);
  for (int64_t i = 1; i < n; ++i)
    if (i != k && m->sweepFlags[i] == '1') {
      b.small.emplace_back(i, (k > i ? 1.0 : -1.0) * m->sweptXpx[sym(k, i)]);
      byColumn[static_cast<size_t>(i)] = b.small.back().second;
    }
  b.effect.assign(static_cast<size_t>(st->columns), 0.0);
  for (int64_t j = 0; j < st->columns; ++j) {
    if (st->swept[j] != '1')
      continue;
    // Over the row's stored values: the others meet a zero cross product.
    double t = vsfStructuredCrossAt(*st, j, k);
    eachCross(*st, j, [&](int64_t c, double v) {
      if (c != k)
        t -= v * byColumn[static_cast<size_t>(c)];
    });
    b.effect[static_cast<size_t>(j)] = t;
  }
  solveBlock(*st, sweptBlockOf(*st), b.effect);
  return b;
}

// The part of small column k's rounding root over the effect's swept columns J: the sum of
// |b_j| sqrt(D_j + rho), b_j its coefficient on column j.
double structuredRoot(const VsfModel* m, int64_t k) {
  const VsfStructured* st = m->structured;
  const std::vector<double> b = coefficientsOf(m, k).effect;
  double g = 0.0;
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1')
      g += std::fabs(b[static_cast<size_t>(j)]) * std::sqrt(st->diagonal[j] + st->rankOne);
  return g;
}

// The tight form of small column k's rounding bound with the effect in the model: |v|' |X'X|
// |v| over column k, the swept small columns and the effect's swept columns J, v = (1, -b)
// (vsfPivotForm's, whose r^2 exceeds it about k-fold over the nearly orthogonal levels).
// About the means (`centred`, the intercept swept and k not the intercept) the intercept
// leaves v and every element is taken at the size of the terms its sum about the means is
// formed from, |a_il| + |a_i1 a_l1| / a_11 (vsfJudgedSize), c_j = X'X(j, 1) standing for the
// effect's, as vsfPivotForm takes the packed triangle's: the block's off-diagonal elements
// rho - c_j c_l / a_11 at |rho| + |c_j c_l| / a_11, so that the form costs k s.
double structuredForm(const VsfModel* m, int64_t k, bool centred) {
  const VsfStructured* st = m->structured;
  const Coefficients b = coefficientsOf(m, k);
  const double* x = m->xpx;
  const bool about = centred && k != 1 && m->sweepFlags[1] == '1' && x[diag(1)] > 0.0;
  const double a11 = about ? x[diag(1)] : 1.0;
  const auto mean = [&](double ci, double cl) { return about ? ci * cl / a11 : 0.0; };
  const auto size = [&](int64_t i, int64_t l) {
    return vsfJudgedSize(x[sym(i, l)], mean(x[sym(i, 1)], x[sym(l, 1)]));
  };
  // The small columns of v and their weights.
  std::vector<std::pair<int64_t, double>> v{{k, 1.0}};
  for (const auto& [i, beta] : b.small)
    if (!(about && i == 1) && beta != 0.0)
      v.emplace_back(i, std::fabs(beta));
  double q = 0.0;
  for (size_t i = 0; i < v.size(); ++i) {
    double s = 0.0;
    for (size_t l = 0; l < i; ++l)
      s += size(v[i].first, v[l].first) * v[l].second;
    q += v[i].second * (2.0 * s + size(v[i].first, v[i].first) * v[i].second);
  }
  // The effect's columns: their cross terms with the small ones, and their block.
  const double rho = std::fabs(st->rankOne);
  double sumB = 0.0, sumB2 = 0.0, sumBC = 0.0, sumB2C2 = 0.0;
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j) {
    const double bj = std::fabs(b.effect[static_cast<size_t>(j)]);
    if (st->swept[j] != '1' || bj == 0.0)
      continue;
    const double* C = row(j);
    const double cj = about ? C[1] : 0.0;
    double s = 0.0;
    for (const auto& [i, vi] : v)
      s += vsfJudgedSize(C[i], mean(cj, x[sym(i, 1)])) * vi;
    q += 2.0 * bj * s + bj * bj * vsfJudgedSize(st->diagonal[j] + st->rankOne, mean(cj, cj));
    sumB += bj;
    sumB2 += bj * bj;
    sumBC += bj * std::fabs(cj);
    sumB2C2 += bj * bj * cj * cj;
  }
  return q + rho * (sumB * sumB - sumB2) + (sumBC * sumBC - sumB2C2) / a11;
}

// The tolerance of small column c swept again after the effect's columns: the rounding this
// order can leave in its pivot, 64 u r^2 or, where that would refuse it, 64 u times the tight
// form. No 1e-8 of its diagonal: the column was taken against that in the model's own order,
// and after the levels its pivot may be a far smaller part of its diagonal and still exact.
double resweepTolerance(const VsfModel* m, int64_t c) {
  const VsfStructured* st = m->structured;
  const bool centred = vsfRuleCentred(m);
  double r = vsfPivotRoot(m->xpx, m->sweptXpx, m->sweepFlags, st->small, c, centred);
  if (!st->inModel)
    return kVsfPivotRounding * r * r;
  r += structuredRoot(m, c);
  return vsfBoundTolerance(m->sweptXpx[diag(c)], r * r,
                           [&] { return std::min(r * r, structuredForm(m, c, centred)); });
}

// The first column of the joined CLASS effects (the sparse effects before the many-level
// one), whose columns never meet in a row: the small columns' count without them.
int64_t joinedFrom(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  return m->layout.sparseEffectCount > 1 ? m->effectColumn[m->layout.sparseEffectList[0]]
                                         : st->small;
}

// The intercept refused on pages shifted about their means: the estimates are then those of
// the shifted columns without an intercept, a fit the data's columns do not make, and no
// shift can carry them back (vsfInterceptToData needs the intercept). The fit ends rather
// than print one fit and score the rows with another; vsfProcess then fits the BY group on
// the packed triangle where that fits, and reports the loss where it does not.
void interceptLost(VsfModel* m) {
  if (m->passFailure == VsfStatus::Ok)
    m->passFailure = VsfStatus::InterceptLost;
}

// Sweeps the small columns of `was` in [from, to) again, in the order of the model's effects
// but the many-level one, on the triangle in m->sweptXpx. A column is refused only when the
// rounding of this order (over the effect's columns too, when in the model) can account for
// its pivot. The count refused; `intercept` tells whether the intercept was among them.
int64_t sweepOver(VsfModel* m, const std::vector<char>& was, int64_t from, int64_t to,
                  bool* intercept) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  int64_t refused = 0;
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (e == st->effect)
      continue;
    for (int32_t c = m->effectColumn[e]; c < m->effectColumn[e] + m->effectColumns[e]; ++c) {
      if (c < from || c >= to || was[static_cast<size_t>(c)] != '1')
        continue;
      qkzsweep(m->sweptXpx, c, static_cast<int32_t>(n), m->sweepFlags, m->workVector,
               resweepTolerance(m, c));
      if (m->sweepFlags[c] == '1')
        continue;
      ++refused;
      *intercept = *intercept || e == 0;
    }
  }
  return refused;
}

} // namespace

namespace structroad {

// Sweeps the small columns the model had swept (`was`) again on the triangle in
// m->sweptXpx with no column swept; a column refused leaves the rank. On the small triangle
// without the effect, the joined columns go first: their block is diagonal there, so each
// of their sweeps touches only the dense columns' rows (the sweep skips rows with nothing to
// add) and a joined effect of many levels costs its levels times the dense columns squared,
// not the cube of its levels. The swept triangle is the same in any order, to rounding, but
// which of nearly dependent columns is refused is not: a spline's basis, which sums to the
// intercept, leaves the intercept swept after it a pivot of rounding's size where the
// model's order took the intercept and refused a basis column. Where that order refuses a
// column, the triangle is swept again in the model's order, so that the refusal falls where
// the model's rule puts it.
void resweepSmall(VsfModel* m, const std::vector<char>& was) {
  const VsfStructured* st = m->structured;
  const int64_t n = st->small;
  const int64_t joined = st->inModel ? n : joinedFrom(m);
  bool intercept = false;
  std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  if (joined < n) {
    if (sweepOver(m, was, joined, n, &intercept) + sweepOver(m, was, 0, joined, &intercept) == 0)
      return;
    intercept = false;
    std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * tri(n));
    std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  }
  const int64_t refused = sweepOver(m, was, 0, n, &intercept);
  m->rank -= static_cast<int32_t>(refused);
  if (intercept && m->shift.pagesShifted && vsfRuleCentred(m))
    interceptLost(m);
  else if (refused > 0 && st->inModel)
    vsfStructuredGiveUp(m);
}

} // namespace structroad

double vsfStructuredPivotRoot(const VsfModel* m, int64_t k) {
  const VsfStructured* st = m->structured;
  return st == nullptr || !st->inModel ? 0.0 : structuredRoot(m, k);
}

double vsfStructuredPivotForm(const VsfModel* m, int64_t k, bool centred) {
  const VsfStructured* st = m->structured;
  return st == nullptr || !st->inModel ? -1.0 : structuredForm(m, k, centred);
}

void vsfStructuredGiveUp(VsfModel* m) {
  if (m->passFailure == VsfStatus::Ok && vsfPackedTriangleFits(m))
    m->passFailure = VsfStatus::FitLostToLevels;
}
