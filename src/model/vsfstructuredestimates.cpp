// The many-level effect's estimates and their variances on the structured road: the
// estimates from a state's swept triangle, the swept diagonal formed again where the state
// marked it stale, the refinement's corrections, and the terms of a fold's held-out error.
// Declared in model/vsfstructured.h.
#include "model/vsfstructuredparts.h"

#include "kernels/vsfxpxstructured.h"
#include "model/vsfmodel.h"
#include "model/vsftrial.h"
#include "numerics/packedtri.h"
#include "support/hostif.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

using packed::at;
using packed::diag;
using packed::sym;
using namespace structroad;

namespace {

// The swept small columns of a state with sweep flags `flags`, in index order.
std::vector<int64_t> sweptSmallOf(const VsfStructured& st, const char* flags) {
  std::vector<int64_t> S;
  for (int64_t c = 1; c < st.small; ++c)
    if (flags[c] == '1')
      S.push_back(c);
  return S;
}
std::vector<int64_t> sweptSmall(const VsfModel* m) {
  return sweptSmallOf(*m->structured, m->sweepFlags);
}

// The effect's estimates in a state whose swept small columns S hold their negated
// estimates in the response column of `swept`: B_J^-1 (C_J(., 0) - C_J(., S) beta_S).
std::vector<double> blockEstimates(const VsfStructured& st, const double* swept,
                                   const std::vector<int64_t>& S) {
  std::vector<double> r(static_cast<size_t>(st.columns), 0.0);
  std::vector<char> inS(static_cast<size_t>(st.small), 0);
  for (const int64_t s : S)
    inS[static_cast<size_t>(s)] = 1;
  for (int64_t j = 0; j < st.columns; ++j) {
    if (st.swept[j] != '1')
      continue;
    double t = 0.0;
    eachCross(st, j, [&](int64_t s, double v) {
      if (s == 0)
        t = v;
      else if (inS[static_cast<size_t>(s)])
        t += v * swept[at(s, 0)];
    });
    r[static_cast<size_t>(j)] = t;
  }
  solveBlock(st, sweptBlockOf(st), r);
  if (st.refinedValid)
    for (int64_t j = 0; j < st.columns; ++j)
      if (st.swept[j] == '1')
        r[static_cast<size_t>(j)] += st.refined[j];
  return r;
}

// The inverse T^-1 of the reduced triangle between the swept small columns S, element (i, t)
// over S, which the swept triangle holds (the reduced triangle swept over S).
struct SweptInverse {
  const double* swept;
  const std::vector<int64_t>& S;
  [[nodiscard]] double at(size_t i, size_t t) const { return swept[sym(S[i], S[t])]; }
};

// The form w' T^-1 w over w's nonzero elements, w given over the swept small columns.
double formOver(const SweptInverse& inv, const std::vector<double>& w,
                const std::vector<size_t>& nonzero) {
  double q = 0.0;
  for (const size_t i : nonzero) {
    double v = 0.0;
    for (const size_t t : nonzero)
      v += inv.at(i, t) * w[t];
    q += w[i] * v;
  }
  return q;
}

// Each swept column j of the effect: its row w over the swept small columns, element i
// `element(j, C_j, i)` (C_j its cross products) at the places `support` gives (0 elsewhere),
// with the list of w's nonzero elements, gives its swept diagonal `diagonal(j, w, nonzero)`.
template <class Element, class Diagonal>
void eachSweptRow(VsfStructured* st, RowSupport& support, size_t s, Element element,
                  Diagonal diagonal) {
  std::vector<double> w(s);
  std::vector<size_t> nonzero;
  nonzero.reserve(s);
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j) {
    if (st->swept[j] != '1')
      continue;
    const double* C = row(j);
    nonzero.clear();
    for (const size_t i : support.placesOf(j)) {
      w[i] = element(j, C, i);
      if (w[i] != 0.0)
        nonzero.push_back(i);
    }
    st->sweptDiagonal[j] = diagonal(j, w, nonzero);
  }
}

// The swept diagonal of an effect whose block B_J = D_J + rho 1 1' has rho (SweptBlock's
// column 0 among J): row j of B_J^-1 C_J(., S) is (a C_0 - u) / g for column 0 and (C_j - c)
// / D_j for the others, c = (C_0 + D_0 u) / g, u the sum of C_j / D_j over the others, and the
// diagonal of B_J^-1 a / g and 1 / D_j - D_0 / (D_j^2 g); each adds the form of its row over
// T^-1, the inverse of the reduced triangle's swept small columns (`inv`).
void refreshRankOne(const VsfModel* m, const std::vector<int64_t>& S, const SweptInverse& inv,
                    const SweptBlock& b) {
  VsfStructured* st = m->structured;
  const size_t s = S.size();
  const double d0 = st->diagonal[b.least];
  VsfCrossRow row(*st);
  const double* first = row(b.least);
  const std::vector<double> C0(first, first + st->small);
  std::vector<double> u(s, 0.0), c(s);
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1' && j != b.least) {
      const double* C = row(j);
      for (size_t i = 0; i < s; ++i)
        u[i] += C[S[i]] / st->diagonal[j];
    }
  for (size_t i = 0; i < s; ++i)
    c[i] = (C0[S[i]] + d0 * u[i]) / b.g;
  RowSupport every(*st, S, std::vector<double>(s, 0.0));
  eachSweptRow(
      st, every, s,
      [&](int64_t j, const double* C, size_t i) {
        return j == b.least ? (b.a * C[S[i]] - u[i]) / b.g : (C[S[i]] - c[i]) / st->diagonal[j];
      },
      [&](int64_t j, const std::vector<double>& w, const std::vector<size_t>& nonzero) {
        const double d = st->diagonal[j];
        return (j == b.least ? b.a / b.g : 1.0 / d - d0 / (d * d * b.g)) +
               formOver(inv, w, nonzero);
      });
}

// Record f's means less the pages' shift by small column (foldShift by the parameter the
// column holds; 0 for the joining effects' columns and where the records are not centred).
std::vector<double> recordShift(const VsfModel* m, int32_t f) {
  const VsfStructured* st = m->structured;
  std::vector<double> shift(static_cast<size_t>(st->small), 0.0);
  if (m->cv.foldShift == nullptr)
    return shift;
  const double* t = m->cv.foldShift + static_cast<size_t>(f) * (m->parmCount + 1);
  shift[0] = t[0];
  for (int32_t e = 0; e < m->effectCount; ++e)
    for (int32_t i = 0; i < m->effectColumns[e]; ++i)
      if (const int64_t c = m->effectColumn[e] + i; c > 0 && c < st->small)
        shift[static_cast<size_t>(c)] = t[1 + m->parmOffset[e] + i];
  return shift;
}

std::vector<double> levelShift(const VsfModel* m, const std::vector<int64_t>& S) {
  return levelShiftOver(m->structured, smallShifts(m), S);
}

// The swept diagonal of an effect whose block D_J is diagonal: 1 / D_j plus the form of w_j
// = C_j(S) / D_j over T^-1. With h the level shift (levelShift), w_j = v_j - h where v_j is
// nonzero only at the small columns that level j's rows meet (and the dense ones), so that
// the form is v_j' T^-1 v_j - 2 v_j' T^-1 h + h' T^-1 h: it goes over v_j's nonzero elements,
// which with a joined CLASS effect are far fewer than the small columns. An element of v_j
// within the shift's rounding of zero counts as zero.
void refreshDiagonal(const VsfModel* m, const std::vector<int64_t>& S, const SweptInverse& inv) {
  VsfStructured* st = m->structured;
  const size_t s = S.size();
  const std::vector<double> h = levelShift(m, S);
  std::vector<double> z(s, 0.0);
  double hh = 0.0;
  for (size_t i = 0; i < s; ++i) {
    for (size_t t = 0; t < s; ++t)
      z[i] += inv.at(i, t) * h[t];
    hh += h[i] * z[i];
  }
  RowSupport support(*st, S, h);
  eachSweptRow(
      st, support, s,
      [&](int64_t j, const double* C, size_t i) {
        const double v = C[S[i]] / st->diagonal[j] + h[i];
        return h[i] != 0.0 && nearZero(v, h[i]) ? 0.0 : v;
      },
      [&](int64_t j, const std::vector<double>& v, const std::vector<size_t>& nonzero) {
        double vz = 0.0;
        for (const size_t i : nonzero)
          vz += v[i] * z[i];
        return 1.0 / st->diagonal[j] + (formOver(inv, v, nonzero) - 2.0 * vz + hh);
      });
}

// Whether the state's reduced triangle is known to have a Cholesky factor over the swept
// small columns S: each is among those over which it was last found to have one
// (VsfStructured::factorOver), and a principal submatrix of a positive definite matrix is
// positive definite. A removal trial, and the step that makes it, then cost no factor of a
// triangle of many small columns (a joined CLASS effect of many levels), s^3 / 6 each.
bool factorKnown(const VsfStructured& st, const std::vector<int64_t>& S) {
  return std::all_of(S.begin(), S.end(), [&st](int64_t c) { return st.factorOver[c] == '1'; });
}

// What settleDiagonal returns when the swept diagonal is up to date.
constexpr size_t kSettled = std::numeric_limits<size_t>::max();

// The swept diagonal of the effect's columns formed again where the state marked it stale:
// kSettled, or the number of swept small columns whose reduced triangle has no Cholesky
// factor (the diagonal then stays stale). It depends on the state alone, so that a removal
// or entry trial that is undone never pays for it.
size_t settleDiagonal(const VsfModel* m) {
  VsfStructured* st = m->structured;
  if (!st->diagonalStale)
    return kSettled;
  const std::vector<int64_t> S = sweptSmall(m);
  // The swept columns' reduced triangle without a Cholesky factor is a fault of the matrix
  // (the rounding rule that swept them refuses dependent columns): the fit ends.
  if (!factorKnown(*st, S)) {
    std::vector<double> L;
    if (!vsfCholeskyOf(st->reduced, S, L))
      return S.size();
    std::fill(st->factorOver, st->factorOver + st->small, '0');
    for (const int64_t c : S)
      st->factorOver[c] = '1';
  }
  const SweptInverse inv{m->sweptXpx, S};
  const SweptBlock b = sweptBlockOf(*st);
  if (b.least < 0)
    refreshDiagonal(m, S, inv);
  else
    refreshRankOne(m, S, inv, b);
  st->diagonalStale = 0;
  return kSettled;
}

} // namespace

VsfStatus vsfStructuredRefresh(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return VsfStatus::Ok;
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& s = f < 0 ? *st : st->folds[f];
    if (!s.inModel)
      continue;
    s.refinedValid = 0;
    s.diagonalStale = 1;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfStructuredSettle(VsfModel* m) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel || !st->diagonalStale)
    return VsfStatus::Ok;
  const size_t failed = settleDiagonal(m);
  return failed == kSettled ? VsfStatus::Ok : noFactor(m, failed);
}

void vsfStructuredBeta(VsfModel* m, double responseScale) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return;
  const int32_t q0 = m->parmOffset[st->effect];
  std::vector<double> b = blockEstimates(*st, m->sweptXpx, sweptSmall(m));
  for (int64_t j = 0; j < st->columns; ++j) {
    const int64_t q = q0 + j;
    if (st->swept[j] != '1')
      continue;
    m->beta[q] = b[static_cast<size_t>(j)];
    const double sx =
        m->moments.columnSumSquares != nullptr ? m->moments.columnSumSquares[q] : hostMissing();
    if (responseScale > 0 && !isHostMissing(sx) && sx > 0)
      m->stdBeta[q] = m->beta[q] / (sx * responseScale);
  }
}

void vsfStructuredVariance(VsfModel* m) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel || vsfStructuredSettle(m) != VsfStatus::Ok)
    return;
  const int32_t q0 = m->parmOffset[st->effect];
  for (int64_t j = 0; j < st->columns; ++j)
    m->betaVariance[q0 + j] = st->swept[j] == '1' ? st->sweptDiagonal[j] : -1.0;
}

double vsfStructuredFoldPart(const VsfModel* m, int32_t f, const std::vector<int64_t>& cols,
                             const std::vector<double>& u, double* bound, double* total) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return 0.0;
  const VsfStructured& R = st->folds[f];
  const std::vector<double> b =
      blockEstimates(R, m->cv.folds[f].sweptXpx, sweptSmallOf(R, m->cv.folds[f].sweepFlags));
  // The fold's own block is its D plus rho 1 1' with rho the fold's own.
  const double rho = st->rankOne - R.rankOne;
  // The record is held about its own means t, the model about the pages' shift: the fold's
  // own cross products about t are the model's moved there, C - t S1 (S1 the column's sum
  // over all rows), less the record's.
  const std::vector<double> t = recordShift(m, f);
  // The bounds are summed in locals, level after level onto the caller's sums, which the
  // loop would otherwise store at every level.
  double sum = 0.0, sumU = 0.0, boundSum = *bound, totalSum = *total;
  for (int64_t j = 0; j < st->columns; ++j) {
    if (R.swept[j] != '1')
      continue;
    // Minus the record's coefficient of column j against the fold's own sums of its column,
    // read at the swept columns alone rather than as whole rows.
    const double uj = -b[static_cast<size_t>(j)];
    const double first = st->diagonal[j] + kVsfRankOneValue * st->rankOne;
    const auto ownCross = [&](int64_t c) {
      return vsfStructuredCrossAt(*st, j, c) - vsfStructuredCrossAt(R, j, c) -
             t[static_cast<size_t>(c)] * first;
    };
    const double own = st->diagonal[j] - R.diagonal[j];
    double row = 2.0 * ownCross(0) + own * uj;
    for (size_t i = 0; i < cols.size(); ++i)
      row += 2.0 * ownCross(cols[i]) * u[i];
    sum += uj * row;
    sumU += uj;
    boundSum += std::fabs(uj) * std::sqrt(std::fabs(own + rho));
    totalSum += std::fabs(uj) * std::sqrt(std::fabs(st->diagonal[j] + st->rankOne));
  }
  *bound = boundSum;
  *total = totalSum;
  return sum + rho * sumU * sumU;
}

void vsfStructuredSetEstimates(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& s = f < 0 ? *st : st->folds[f];
    const double* swept = f < 0 ? m->sweptXpx : m->cv.folds[f].sweptXpx;
    const char* flags = f < 0 ? m->sweepFlags : m->cv.folds[f].sweepFlags;
    if (!s.inModel) {
      std::fill(s.estimates, s.estimates + s.columns, 0.0);
      continue;
    }
    const std::vector<double> b = blockEstimates(s, swept, sweptSmallOf(s, flags));
    std::copy(b.begin(), b.end(), s.estimates);
  }
}

double vsfStructuredLargestInflation(const VsfModel* m, bool centred) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return 0.0;
  // A trial's state that has no factor has no bounded inflation (vsfStructuredSettle reports
  // the failure where the state is kept).
  if (settleDiagonal(m) != kSettled)
    return std::numeric_limits<double>::infinity();
  const double* x = m->xpx;
  const bool about = centred && m->sweepFlags[1] == '1' && x[diag(1)] > 0.0;
  double worst = 0.0;
  for (int64_t j = 0; j < st->columns; ++j) {
    // A level without rows (under the effect coding, its column -1 on the reference level's
    // rows alone, as in a fold record whose training rows miss the level) inflates its
    // variance by the coding's own coupling of every column, which the block's closed-form
    // inverse holds exactly: no rounding of a sweep for the refinement to restore.
    if (st->swept[j] != '1' || st->diagonal[j] == 0.0)
      continue;
    const double c = about ? vsfStructuredCrossAt(*st, j, 1) : 0.0;
    const double d = st->diagonal[j] + st->rankOne - (about ? c * c / x[diag(1)] : 0.0);
    worst = std::max(worst, std::fabs(d * st->sweptDiagonal[j]));
  }
  return worst;
}

void vsfStructuredCorrect(VsfModel* m, const double* smallSums, const double* effectSums) {
  VsfStructured* st = m->structured;
  // h_J = B_J^-1 g_J, the effect's own part of (X'X)^-1 g.
  std::vector<double> h(static_cast<size_t>(st->columns), 0.0);
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1')
      h[static_cast<size_t>(j)] = effectSums[j];
  solveBlock(*st, sweptBlockOf(*st), h);
  // delta_S = T^-1 (g_S - C_JS' h_J), T^-1 the swept block of the small columns.
  const std::vector<int64_t> S = sweptSmall(m);
  std::vector<double> g(S.size());
  for (size_t i = 0; i < S.size(); ++i)
    g[i] = smallSums[S[i]];
  VsfCrossRow row(*st);
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1') {
      const double* C = row(j);
      for (size_t i = 0; i < S.size(); ++i)
        g[i] -= C[S[i]] * h[static_cast<size_t>(j)];
    }
  std::vector<double> delta(S.size(), 0.0);
  for (size_t i = 0; i < S.size(); ++i)
    for (size_t l = 0; l < S.size(); ++l)
      delta[i] += m->sweptXpx[sym(S[i], S[l])] * g[l];
  // Column 0 holds the small columns' negated estimates; the effect's follow from them
  // (delta_J = h_J - B_J^-1 C_JS delta_S, the second part by the elimination) plus h_J.
  for (size_t i = 0; i < S.size(); ++i)
    m->sweptXpx[at(S[i], 0)] -= delta[i];
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1')
      st->refined[j] = (st->refinedValid ? st->refined[j] : 0.0) + h[static_cast<size_t>(j)];
  st->refinedValid = 1;
}

void vsfStructuredEstimatesAre(VsfModel* m, const double* estimates) {
  VsfStructured& s = *m->structured;
  s.refinedValid = 0;
  const std::vector<double> b = blockEstimates(s, m->sweptXpx, sweptSmall(m));
  for (int64_t j = 0; j < s.columns; ++j)
    s.refined[j] = s.swept[j] == '1' ? estimates[j] - b[static_cast<size_t>(j)] : 0.0;
  s.refinedValid = 1;
}
