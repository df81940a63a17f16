// The held-out error of each cross-validation fold from the cross products the fit holds: the
// model's X'X is the total over the folds and a fold record's the total less the fold; the
// fold's own sums (kept on the packed road, else the difference of the two) give its error
// as a quadratic form in them.
#include "model/vsffoldpress.h"

#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "numerics/packedtri.h"
#include "support/protocol.h"
#include "support/testthread.h"

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

// The X'X columns of the in-model effects that the fold's model has swept in (the structured
// road's many-level effect has none in the triangle), and each one's column in the layout of
// the kept own sums where they are kept.
void sweptColumns(const VsfModel* m, const char* flags, std::vector<int64_t>& cols,
                  std::vector<int64_t>& ownCols) {
  cols.clear();
  ownCols.clear();
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (m->structured != nullptr && e == m->structured->effect)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int64_t c = int64_t{m->effectColumn[e]} + q;
      if (flags[c] != '1')
        continue;
      cols.push_back(c);
      ownCols.push_back(m->foldOwnColumn != nullptr ? int64_t{m->foldOwnColumn[e]} + q : c);
    }
  }
}

// The diagonal of the model's X'X over the rows alone, per column: under an elastic-net ridge
// the model's diagonal carries the ridge and the records' do not, and every row stands in all
// records but its fold's, so the records' diagonals add up to K - 1 times the rows' sums.
void rowDiagonal(const VsfModel* m, std::vector<double>& d) {
  const int64_t columns = m->xpxColumns;
  d.assign(static_cast<size_t>(columns), 0.0);
  for (int64_t c = 0; c < columns; ++c) {
    if (m->l2 <= 0) {
      d[static_cast<size_t>(c)] = m->xpx[at(c, c)];
      continue;
    }
    double sum = 0.0;
    for (int32_t f = 0; f < m->foldCount; ++f)
      sum += m->folds[f].xpx[at(c, c)];
    d[static_cast<size_t>(c)] = sum / (m->foldCount - 1);
  }
}

// A fold's own cross products: those kept beside its record, else the total less the record,
// whose every element then carries up to u of the total's size (the rounding of the record).
// An element is named by its columns in the model's current layout (r, q) and in the kept
// sums' (kr, kq), which differ while a trial has collapsed the model's triangle.
struct OwnSums {
  const double* total;
  const double* rest;
  const double* kept;
  const std::vector<double>& diagonal;

  [[nodiscard]] double at(int64_t r, int64_t q, int64_t kr, int64_t kq) const {
    return kept != nullptr ? kept[sym(kr, kq)] : total[sym(r, q)] - rest[sym(r, q)];
  }
  [[nodiscard]] double diag(int64_t c, int64_t kc) const {
    return kept != nullptr ? kept[packed::at(kc, kc)]
                           : diagonal[static_cast<size_t>(c)] - rest[packed::at(c, c)];
  }
};

[[nodiscard]] OwnSums ownSums(const VsfModel* m, int32_t f, const std::vector<double>& diagonal) {
  const VsfFoldRecord& F = m->folds[f];
  const bool kept = F.ownXpx != nullptr && vsfFullXpxOn(m) && m->foldOwnColumns > 0;
  return OwnSums{m->xpx, F.xpx, kept ? F.ownXpx : nullptr, diagonal};
}

// The fold's weighted squared error [1 u']D[1 u']' with D the fold's own cross products and u
// minus the record's coefficients; false when the error is too small against
// (sqrt D00 + sum |u_c| sqrt D_cc)^2, which bounds every term's size, or, for sums recovered
// from the total (the structured road's many-level effect, or wherever they are not kept),
// against the rounding they carry: u (sqrt T00 + sum |u_c| sqrt T_cc)^2, T the total's
// diagonal.
[[nodiscard]] bool foldError(const VsfModel* m, int32_t f, const std::vector<int64_t>& cols,
                             const std::vector<int64_t>& ownCols,
                             const std::vector<double>& diagonal, double* error) {
  const VsfFoldRecord& F = m->folds[f];
  const OwnSums own = ownSums(m, f, diagonal);
  const size_t n = cols.size();
  std::vector<double> u(n);
  const double d00 = own.at(0, 0, 0, 0);
  double bound = std::sqrt(std::fabs(d00));
  double total = std::sqrt(std::fabs(diagonal[0]));
  double sum = d00;
  for (size_t i = 0; i < n; ++i) {
    const int64_t c = cols[i], kc = ownCols[i];
    const double dcc = own.diag(c, kc);
    u[i] = F.sweptXpx[at(c, 0)];
    bound += std::fabs(u[i]) * std::sqrt(std::fabs(dcc));
    total += std::fabs(u[i]) * std::sqrt(std::fabs(diagonal[static_cast<size_t>(c)]));
    double row = 2.0 * own.at(c, 0, kc, 0);
    for (size_t j = 0; j < i; ++j)
      row += 2.0 * own.at(c, cols[j], kc, ownCols[j]) * u[j];
    row += dcc * u[i];
    sum += u[i] * row;
  }
  double effect = 0.0;
  sum += vsfStructuredFoldPart(m, f, cols, u, &bound, &effect);
  *error = sum;
  // The terms in recovered sums: the effect's always, the small columns' unless kept.
  const double recovered =
      own.kept != nullptr ? effect * (effect + 2.0 * total) : (total + effect) * (total + effect);
  return vsfFormKeepsDigits(sum, bound * bound) && sum >= kVsfRecoveredRounding * recovered;
}

} // namespace

bool vsfFoldPressFromSums(VsfModel* m) {
  // An L2 search's optimum moves with the last digits of the criteria it compares: its trials
  // and final fit keep the pass, so that the ridge it settles on is the one it always chose.
  if (m->foldCount < 2 || m->l2Search == VsfL2Search::Golden || m->l2Search == VsfL2Search::Grid ||
      m->l2BaseXpx != nullptr || !fastRoadOn(FastRoad::CvSums))
    return false;
  // Records held about their own means have their own sums kept about the same means; the
  // total, about the pages' shift, cannot give them.
  if (m->foldShift != nullptr && (m->foldOwnColumns == 0 || !vsfFullXpxOn(m)))
    return false;
  std::vector<int64_t> cols, ownCols;
  std::vector<double> diagonal, errors(static_cast<size_t>(m->foldCount));
  rowDiagonal(m, diagonal);
  for (int32_t f = 0; f < m->foldCount; ++f) {
    sweptColumns(m, m->folds[f].sweepFlags, cols, ownCols);
    if (!foldError(m, f, cols, ownCols, diagonal, &errors[static_cast<size_t>(f)]))
      return false;
  }
  for (int32_t f = 0; f < m->foldCount; ++f)
    m->folds[f].cvSse = errors[static_cast<size_t>(f)];
  return true;
}

double vsfFoldResponseShift(const VsfModel* m, int32_t f) {
  if (m->foldShift == nullptr)
    return 0.0;
  const VsfFoldRecord& F = m->folds[f];
  const double* t = m->foldShift + static_cast<size_t>(f) * (m->parmCount + 1);
  double shift = t[0];
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    // The many-level effect's columns, raw and beyond the triangle, have no shift.
    if (m->structured != nullptr && e == m->structured->effect)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int64_t c = int64_t{m->effectColumn[e]} + q;
      if (F.sweepFlags[c] == '1')
        shift += F.sweptXpx[at(c, 0)] * t[1 + m->parmOffset[e] + q];
    }
  }
  return shift;
}

void vsfSetFoldResidualShifts(VsfModel* m) {
  if (m->foldShift == nullptr)
    return;
  assert(m->foldResidualShift != nullptr && "the residual shifts come with the record shifts");
  for (int32_t f = 0; f < m->foldCount; ++f)
    m->foldResidualShift[f] = vsfFoldResponseShift(m, f);
}
