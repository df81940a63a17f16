// The held-out error of each cross-validation fold from the cross products the fit holds: the
// model's X'X is the total over the folds and a fold record's the total less the fold; the
// fold's own sums (kept on the packed road, else the difference of the two) give its error
// as a quadratic form in them.
#include "model/vsffoldpress.h"

#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "support/protocol.h"
#include "support/testthread.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using packed::at;
using packed::sym;

// Sums recovered as the total less the record give a held-out error only where their
// rounding, at most u of the total's size, stays within 1e-10 of it.
constexpr double kVsfRecoveredRounding = std::numeric_limits<double>::epsilon() / 2 / 1e-10;

// The X'X columns the fold's model has swept in (vsfSweptColumns), and each one's column in
// the layout of the kept own sums where they are kept.
void sweptColumns(const VsfModel* m, const char* flags, std::vector<int64_t>& cols,
                  std::vector<int64_t>& ownCols) {
  cols.clear();
  ownCols.clear();
  for (const VsfSweptColumn& s : vsfSweptColumns(m, flags)) {
    cols.push_back(s.column);
    ownCols.push_back(m->cv.foldOwnColumn != nullptr ? int64_t{m->cv.foldOwnColumn[s.effect]} + s.q
                                                     : s.column);
  }
}

// The diagonal of the model's X'X over the rows alone, per column: under an elastic-net ridge
// the model's diagonal carries the ridge and the records' do not, and every row stands in all
// records but its fold's, so the records' diagonals add up to K - 1 times the rows' sums.
void rowDiagonal(const VsfModel* m, std::vector<double>& d) {
  const int64_t columns = m->xpxColumns;
  d.assign(static_cast<size_t>(columns), 0.0);
  for (int64_t c = 0; c < columns; ++c) {
    if (m->elnetPass.l2 <= 0) {
      d[static_cast<size_t>(c)] = m->xpx[at(c, c)];
      continue;
    }
    double sum = 0.0;
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      sum += m->cv.folds[f].xpx[at(c, c)];
    d[static_cast<size_t>(c)] = sum / (m->cv.foldCount - 1);
  }
}

// A fold's own cross products: those kept beside its record, else the total less the record,
// whose every element then carries up to u of the total's size (the rounding of the record).
// Where the record is held about its own training means (`shift` by X'X column, the response
// first and the intercept's 0: the means less the pages' shift) the total is moved to them
// first through the intercept's sums (column 1), x - s about the pages' shift. An element is
// named by its columns in the model's current layout (r, q) and in the kept sums' (kr, kq),
// which differ while a trial has collapsed the model's triangle.
struct OwnSums {
  const double* total;
  const double* rest;
  const double* kept;
  const std::vector<double>& diagonal;
  const std::vector<double>& shift;

  // The total's (r, q) element (`element`) about the record's means.
  [[nodiscard]] double moved(int64_t r, int64_t q, double element) const {
    if (shift.empty())
      return element;
    const double a = shift[static_cast<size_t>(r)], b = shift[static_cast<size_t>(q)];
    return element - a * total[sym(1, q)] - b * total[sym(1, r)] + a * b * total[packed::at(1, 1)];
  }
  [[nodiscard]] double at(int64_t r, int64_t q, int64_t kr, int64_t kq) const {
    return kept != nullptr ? kept[sym(kr, kq)] : moved(r, q, total[sym(r, q)]) - rest[sym(r, q)];
  }
  [[nodiscard]] double diag(int64_t c, int64_t kc) const {
    return kept != nullptr ? kept[packed::at(kc, kc)]
                           : moved(c, c, diagonal[static_cast<size_t>(c)]) - rest[packed::at(c, c)];
  }
};

// The shift of each X'X column of fold f's record from the pages' (OwnSums::shift), where the
// records are held about their own means, the model has an intercept in column 1 and the
// fold's own sums are not kept; else empty.
void recordShift(const VsfModel* m, int32_t f, bool kept, std::vector<double>& shift) {
  shift.clear();
  if (kept || m->cv.foldShift == nullptr || !vsfRuleCentred(m) || m->xpxColumns < 2)
    return;
  const double* t = m->cv.foldShift + static_cast<size_t>(f) * (m->parmCount + 1);
  shift.assign(static_cast<size_t>(m->xpxColumns), 0.0);
  shift[0] = t[0];
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (m->structured != nullptr && e == m->structured->effect)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e] && m->effectColumn[e] + q < m->xpxColumns; ++q)
      shift[static_cast<size_t>(m->effectColumn[e] + q)] = t[1 + m->parmOffset[e] + q];
  }
  shift[1] = 0.0;
}

[[nodiscard]] OwnSums ownSums(const VsfModel* m, int32_t f, const std::vector<double>& diagonal,
                              std::vector<double>& shift) {
  const VsfFoldRecord& F = m->cv.folds[f];
  const bool kept = F.ownXpx != nullptr && vsfFullXpxOn(m) && m->cv.foldOwnColumns > 0;
  recordShift(m, f, kept, shift);
  return OwnSums{m->xpx, F.xpx, kept ? F.ownXpx : nullptr, diagonal, shift};
}

// The fold's weighted squared error [1 u']D[1 u']' with D the fold's own cross products and u
// minus the record's coefficients; false when the error is too small against
// (sqrt D00 + sum |u_c| sqrt D_cc)^2, which bounds every term's size, or, for sums recovered
// from the total (the structured road's many-level effect, or wherever they are not kept),
// against the rounding they carry: u (sqrt T00 + sum |u_c| sqrt T_cc)^2, T the total's
// diagonal. In *leverage the held-out rows' weighted leverages under the training fit added
// up, trace(S D) with S the record's swept block (its training rows' inverse cross products)
// over the columns its model swept, or the bound n sum S_cc D_cc on it (n columns: both blocks
// are positive semidefinite, so |S_cq D_cq| <= sqrt(S_cc D_cc S_qq D_qq)) where the bound
// already keeps the fold on its sums at `inflation`: the trace, formed in the same loop as
// the error, costs about as much again as the error.
[[nodiscard]] bool foldError(const VsfModel* m, int32_t f, double inflation,
                             const std::vector<int64_t>& cols, const std::vector<int64_t>& ownCols,
                             const std::vector<double>& diagonal, double* error, double* leverage) {
  const VsfFoldRecord& F = m->cv.folds[f];
  const double* S = F.sweptXpx;
  std::vector<double> shift;
  const OwnSums own = ownSums(m, f, diagonal, shift);
  const size_t n = cols.size();
  std::vector<double> u(n);
  double diagonals = 0.0;
  for (size_t i = 0; i < n; ++i)
    diagonals += std::fabs(S[at(cols[i], cols[i])] * own.diag(cols[i], ownCols[i]));
  const double most = static_cast<double>(n) * diagonals;
  const bool trace = !vsfFoldSumsHoldDigits(inflation, most, false, false);
  const double d00 = own.at(0, 0, 0, 0);
  double bound = std::sqrt(std::fabs(d00));
  double total = std::sqrt(std::fabs(diagonal[0]));
  double sum = d00, sd = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const int64_t c = cols[i], kc = ownCols[i];
    const double dcc = own.diag(c, kc);
    u[i] = S[at(c, 0)];
    bound += std::fabs(u[i]) * std::sqrt(std::fabs(dcc));
    total += std::fabs(u[i]) * std::sqrt(std::fabs(diagonal[static_cast<size_t>(c)]));
    double row = 2.0 * own.at(c, 0, kc, 0), cross = 0.0;
    for (size_t j = 0; j < i; ++j) {
      const double d = own.at(c, cols[j], kc, ownCols[j]);
      row += 2.0 * d * u[j];
      if (trace)
        cross += S[sym(c, cols[j])] * d;
    }
    row += dcc * u[i];
    sum += u[i] * row;
    sd += 2.0 * cross + S[at(c, c)] * dcc;
  }
  *leverage = trace ? std::fabs(sd) : most;
  double effect = 0.0;
  sum += vsfStructuredFoldPart(m, f, cols, u, &bound, &effect);
  *error = sum;
  // The terms in recovered sums: the effect's always, the small columns' unless kept.
  const double recovered =
      own.kept != nullptr ? effect * (effect + 2.0 * total) : (total + effect) * (total + effect);
  return vsfFormKeepsDigits(sum, bound * bound) && sum >= kVsfRecoveredRounding * recovered;
}

// Whether the folds' errors from the sums may stand where they keep their digits.
[[nodiscard]] bool sumsMayGiveErrors(const VsfModel* m) {
  // An L2 search's optimum moves with the last digits of the criteria it compares: its trials
  // and final fit keep the pass, so that the ridge it settles on is the one it always chose.
  if (m->cv.foldCount < 2 || m->elnet.l2Search == VsfL2Search::Golden ||
      m->elnet.l2Search == VsfL2Search::Grid || m->elnet.l2BaseXpx != nullptr ||
      !fastRoadOn(FastRoad::CvSums))
    return false;
  // Records held about their own means have their own sums kept about the same means; the
  // total, about the pages' shift, cannot give them.
  return m->cv.foldShift == nullptr || (m->cv.foldOwnColumns > 0 && vsfFullXpxOn(m));
}

} // namespace

bool vsfFoldSums(const VsfModel* m, const std::vector<double>& inflation,
                 std::vector<double>& errors, std::vector<double>& leverage) {
  const size_t K = static_cast<size_t>(std::max(m->cv.foldCount, 0));
  errors.assign(K, 0.0);
  leverage.assign(K, 0.0);
  std::vector<int64_t> cols, ownCols;
  std::vector<double> diagonal;
  rowDiagonal(m, diagonal);
  bool stand = sumsMayGiveErrors(m);
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    const size_t i = static_cast<size_t>(f);
    sweptColumns(m, m->cv.folds[f].sweepFlags, cols, ownCols);
    stand =
        foldError(m, f, inflation[i], cols, ownCols, diagonal, &errors[i], &leverage[i]) && stand;
  }
  return stand;
}

double vsfFoldResponseShift(const VsfModel* m, int32_t f) {
  if (m->cv.foldShift == nullptr)
    return 0.0;
  const VsfFoldRecord& F = m->cv.folds[f];
  const double* t = m->cv.foldShift + static_cast<size_t>(f) * (m->parmCount + 1);
  double shift = t[0];
  // The many-level effect's columns, raw and beyond the triangle, have no shift.
  for (const VsfSweptColumn& s : vsfSweptColumns(m, F.sweepFlags))
    shift += F.sweptXpx[at(s.column, 0)] * t[1 + m->parmOffset[s.effect] + s.q];
  return shift;
}

void vsfSetFoldResidualShifts(VsfModel* m) {
  if (m->cv.foldShift == nullptr)
    return;
  assert(m->cv.foldResidualShift != nullptr && "the residual shifts come with the record shifts");
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    m->cv.foldResidualShift[f] = vsfFoldResponseShift(m, f);
}

bool vsfFoldLostColumn(const VsfModel* m, int32_t f) {
  const VsfFoldRecord& F = m->cv.folds[f];
  for (int64_t c = 1; c < m->xpxColumns; ++c)
    if (m->sweepFlags[c] == '1' && F.sweepFlags[c] != '1' && F.xpx[at(c, c)] != 0.0)
      return true;
  return vsfStructuredLostLevel(m, f);
}
