// The many-level effect's block as the structured road's states read it: the rows of its
// cross block, its swept block B_J = D_J + rho 1 1' solved in closed form, the shifts of the
// small columns about which its levels' rows are sparse, and the small triangle reduced by
// the effect's swept columns.
// Declared in model/vsfstructured.h and model/vsfstructuredparts.h.
#include "model/vsfstructuredparts.h"

#include "model/vsfmodel.h"
#include "numerics/packedtri.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

using packed::tri;
using namespace structroad;

namespace structroad {

// The stored cross products of the joining effects' columns beyond the dense ones.
int64_t joinedCount(const VsfStructured& st) {
  return st.joinStart != nullptr ? st.joinStart[st.columns] : 0;
}

SweptBlock sweptBlockOf(const VsfStructured& st) {
  SweptBlock b;
  if (st.rankOne == 0.0)
    return b;
  for (int64_t j = 0; j < st.columns; ++j)
    if (st.swept[j] == '1' && (b.least < 0 || st.diagonal[j] < st.diagonal[b.least]))
      b.least = j;
  if (b.least < 0)
    return b;
  b.a = 1.0 / st.rankOne;
  for (int64_t j = 0; j < st.columns; ++j)
    if (st.swept[j] == '1' && j != b.least)
      b.a += 1.0 / st.diagonal[j];
  b.g = st.diagonal[b.least] * b.a + 1.0;
  return b;
}

// r := B_J^-1 r over the swept columns J (r indexed by the effect's columns, r_j the cross
// product of column j with some vector; the others are left as they are).
void solveBlock(const VsfStructured& st, const SweptBlock& b, std::vector<double>& r) {
  const auto R = [&r](int64_t j) -> double& { return r[static_cast<size_t>(j)]; };
  double t = 0.0;
  for (int64_t j = 0; j < st.columns && b.least >= 0; ++j)
    if (st.swept[j] == '1' && j != b.least)
      t += R(j) / st.diagonal[j];
  const double r0 = b.least >= 0 ? R(b.least) : 0.0;
  const double c = b.least >= 0 ? (r0 + st.diagonal[b.least] * t) / b.g : 0.0;
  for (int64_t j = 0; j < st.columns; ++j)
    if (st.swept[j] == '1' && j != b.least)
      R(j) = (R(j) - c) / st.diagonal[j];
  if (b.least >= 0)
    R(b.least) = (r0 * b.a - t) / b.g;
}

// Whether x is zero within the rounding of adding the shift h back (a few units of its last
// place).
bool nearZero(double x, double h) {
  return std::fabs(x) <= 8.0 * std::numeric_limits<double>::epsilon() * std::fabs(h);
}

// The shift of each small column's rows (m->shift.xpxShift by the parameter the column holds, 0
// where the pages are not shifted).
std::vector<double> smallShifts(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  std::vector<double> shift(static_cast<size_t>(st->small), 0.0);
  if (!m->shift.pagesShifted || m->shift.xpxShift == nullptr)
    return shift;
  for (int32_t e = 0; e < m->effectCount; ++e)
    for (int32_t i = 0; i < m->effectColumns[e]; ++i)
      if (const int64_t c = m->effectColumn[e] + i; c > 0 && c < st->small)
        shift[static_cast<size_t>(c)] = m->shift.xpxShift[1 + m->parmOffset[e] + i];
  return shift;
}

// The shift of each swept small column (smallShifts) where adding it back to the rows of the
// cross block divided by D_j leaves at least half the effect's swept levels an exact zero (up
// to the rounding of the shift itself): the columns of a joined CLASS effect, which a level's
// few rows meet in few levels. Other columns keep 0: their rows stay dense.
std::vector<double> levelShiftOver(const VsfStructured* st, const std::vector<double>& all,
                                   const std::vector<int64_t>& S) {
  const size_t s = S.size();
  std::vector<double> shift(s, 0.0);
  std::vector<int64_t> zeros(s, 0);
  std::vector<size_t> shifted;
  for (size_t i = 0; i < s; ++i)
    if (all[static_cast<size_t>(S[i])] != 0.0)
      shifted.push_back(i);
  int64_t levels = 0;
  for (int64_t j = 0; j < st->columns; ++j) {
    if (st->swept[j] != '1')
      continue;
    ++levels;
    // The shifted columns' elements alone, not the whole row.
    for (const size_t i : shifted) {
      const double h = all[static_cast<size_t>(S[i])];
      zeros[i] += nearZero(vsfStructuredCrossAt(*st, j, S[i]) / st->diagonal[j] + h, h) ? 1 : 0;
    }
  }
  for (size_t i = 0; i < s; ++i)
    if (2 * zeros[i] >= levels)
      shift[i] = all[static_cast<size_t>(S[i])];
  return shift;
}

} // namespace structroad

namespace {

// A -= the sum over the swept levels j but `least` of C_j C_j' / D_j, by the levels'
// nonzero cross products: with h the level shift (levelShiftOver) over every small column,
// C_j = D_j (v_j - h) with v_j nonzero only where level j's rows meet a joined CLASS
// effect's level (and at the dense columns), so that the sum is P - p h' - h p' + delta h h'
// with P the sum of D_j v_j v_j' over v_j's nonzero elements, p that of D_j v_j and delta
// that of D_j: the work goes with the levels' nonzero cells, not levels times the small
// triangle. Returns the sum of C_j / D_j over those levels.
std::vector<double> reduceLevels(const VsfStructured& st, int64_t least,
                                 const std::vector<double>& shifts, double* A) {
  const int64_t n = st.small;
  std::vector<int64_t> all(static_cast<size_t>(n));
  for (int64_t r = 0; r < n; ++r)
    all[static_cast<size_t>(r)] = r;
  const std::vector<double> h = levelShiftOver(&st, shifts, all);
  std::vector<double> p(static_cast<size_t>(n), 0.0), v(static_cast<size_t>(n), 0.0), w(v);
  std::vector<int64_t> nonzero;
  nonzero.reserve(static_cast<size_t>(n));
  double delta = 0.0;
  VsfCrossRow row(st);
  RowSupport support(st, all, h);
  for (int64_t j = 0; j < st.columns; ++j) {
    if (st.swept[j] != '1' || j == least)
      continue;
    const double* C = row(j);
    const double d = st.diagonal[j];
    nonzero.clear();
    for (const size_t i : support.placesOf(j)) {
      const int64_t r = static_cast<int64_t>(i);
      v[i] += C[r] / d;
      w[i] = C[r] / d + h[i];
      if (h[i] != 0.0 && nearZero(w[i], h[i]))
        w[i] = 0.0;
      if (w[i] != 0.0)
        nonzero.push_back(r);
    }
    for (size_t a = 0; a < nonzero.size(); ++a) {
      const int64_t r = nonzero[a];
      const double f = d * w[static_cast<size_t>(r)];
      double* R = A + tri(r);
      for (size_t c = 0; c <= a; ++c)
        R[nonzero[c]] -= f * w[static_cast<size_t>(nonzero[c])];
      p[static_cast<size_t>(r)] += f;
    }
    delta += d;
  }
  for (int64_t r = 0; r < n; ++r) {
    const double pr = p[static_cast<size_t>(r)], hr = h[static_cast<size_t>(r)];
    double* R = A + tri(r);
    for (int64_t q = 0; q <= r; ++q) {
      const double pq = p[static_cast<size_t>(q)], hq = h[static_cast<size_t>(q)];
      R[q] -= delta * hr * hq - pr * hq - hr * pq;
    }
  }
  return v;
}

} // namespace

VsfCrossRow::VsfCrossRow(const VsfStructured& st)
    : st_(st), row_(static_cast<size_t>(st.small), 0.0) {}

const double* VsfCrossRow::operator()(int64_t j) {
  const VsfStructured& st = st_;
  const int64_t d = st.dense;
  const bool rank = st.rankOne != 0.0;
  if (rank)
    std::fill(row_.begin() + d, row_.end(), 0.0);
  else if (last_ >= 0 && st.joinStart != nullptr)
    for (int64_t p = st.joinStart[last_]; p < st.joinStart[last_ + 1]; ++p)
      row_[static_cast<size_t>(st.joinColumn[p])] = 0.0;
  std::copy(st.cross + j * d, st.cross + (j + 1) * d, row_.begin());
  if (st.joinStart != nullptr)
    for (int64_t p = st.joinStart[j]; p < st.joinStart[j + 1]; ++p)
      row_[static_cast<size_t>(st.joinColumn[p])] = st.joinValue[p];
  if (rank)
    for (int64_t c = 0; c < st.small; ++c)
      row_[static_cast<size_t>(c)] += st.rankCross[c];
  last_ = j;
  return row_.data();
}

void vsfStructuredReduce(const VsfStructured& st, const double* xpx, double* A,
                         const std::vector<double>& shifts) {
  const int64_t n = st.small;
  // The small triangle less the swept columns' part, C_J' B_J^-1 C_J: the sum of
  // C_j C_j' / D_j over J but column 0 of SweptBlock (reduceLevels), and for that column
  // (a C_0 C_0' - D_0 v v' - v C_0' - C_0 v') / g, v the sum of C_j / D_j over the others.
  std::memcpy(A, xpx, sizeof(double) * tri(n));
  const SweptBlock b = sweptBlockOf(st);
  const std::vector<double> v = reduceLevels(st, b.least, shifts, A);
  if (b.least >= 0) {
    VsfCrossRow row(st);
    const double* C0 = row(b.least);
    const double d0 = st.diagonal[b.least];
    for (int64_t r = 0; r < n; ++r)
      for (int64_t q = 0; q <= r; ++q) {
        const double vr = v[static_cast<size_t>(r)], vq = v[static_cast<size_t>(q)];
        A[tri(r) + q] -= (b.a * C0[r] * C0[q] - d0 * vr * vq - vr * C0[q] - C0[r] * vq) / b.g;
      }
  }
}

VsfBlockInverse vsfStructuredBlockInverse(const VsfStructured& st) {
  const SweptBlock b = sweptBlockOf(st);
  return {b.least, b.least >= 0 ? st.diagonal[b.least] : 0.0, b.a, b.g};
}

double vsfStructuredBlockInverseAt(const VsfStructured& st, const VsfBlockInverse& v, int64_t j,
                                   int64_t l) {
  const double own = j == l ? 1.0 / st.diagonal[j] : 0.0;
  if (v.least < 0)
    return own;
  if (j == v.least && l == v.least)
    return v.a / v.g;
  if (j == v.least || l == v.least)
    return -1.0 / (st.diagonal[j == v.least ? l : j] * v.g);
  return own - v.d0 / (st.diagonal[j] * st.diagonal[l] * v.g);
}

std::vector<double> vsfStructuredShifts(const VsfModel* m) { return smallShifts(m); }

void vsfStructuredSolve(const VsfStructured& st, std::vector<double>& r) {
  solveBlock(st, sweptBlockOf(st), r);
}
