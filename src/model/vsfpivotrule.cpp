// The rank rule: the tolerance of a column's pivot, from the rounding bound of its
// elimination in the judged sums (about the means where the intercept is swept), its tight
// form, the row pass of a doubtful pivot, and the tiny pivot. Declared in model/vsfsweep.h.
#include "model/vsfsweep.h"

#include "model/vsfmodel.h"
#include "model/vsfrowpivot.h"
#include "model/vsfstructured.h"
#include "numerics/packedtri.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <limits>
#include <vector>

namespace {

using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

} // namespace

namespace {

// The cross products the rule judges: about the means (a_il - a_i1 a_l1 / a_11) when the
// intercept, column 1, is swept and `centred`; as they stand otherwise.
struct JudgedSums {
  const double* xpx;
  bool about;
  double intercept;
  JudgedSums(const double* x, const char* flags, int64_t k, bool centred)
      : xpx(x), about(centred && k != 1 && flags[1] == '1' && x[diag(1)] > 0.0),
        intercept(about ? x[diag(1)] : 1.0) {}
  // The sum of columns i and l as the rule judges it.
  [[nodiscard]] double sum(int64_t i, int64_t l) const {
    const double a = xpx[sym(i, l)];
    return about ? a - xpx[sym(i, 1)] * xpx[sym(l, 1)] / intercept : a;
  }
  // The size of the terms that sum(i, l) is formed from, which bounds its rounding: |a_il|,
  // plus |a_i1 a_l1| / a_11 about the means (vsfJudgedSize).
  [[nodiscard]] double size(int64_t i, int64_t l) const {
    return vsfJudgedSize(xpx[sym(i, l)], about ? xpx[sym(i, 1)] * xpx[sym(l, 1)] / intercept : 0.0);
  }
  // Whether swept column i takes part in the bound (the intercept does not, about the means).
  [[nodiscard]] bool counts(int64_t i) const { return !(about && i == 1); }
};

} // namespace

double vsfPivotInflation(const VsfModel* m, int64_t k, double pivot, bool taken) {
  return vsfInflationOf(vsfPivotSize(m->xpx, m->sweepFlags, k, vsfRuleCentred(m)), pivot, taken);
}

double vsfPivotDiagonal(const double* xpx, const char* flags, int64_t k, bool centred) {
  return JudgedSums(xpx, flags, k, centred).sum(k, k);
}

double vsfPivotSize(const double* xpx, const char* flags, int64_t k, bool centred) {
  return JudgedSums(xpx, flags, k, centred).size(k, k);
}

bool vsfRuleCentred(const VsfModel* m) { return m->options == nullptr || !m->options->noint; }

double vsfPivotRoot(const double* xpx, const double* swept, const char* flags, int64_t n, int64_t k,
                    bool centred, const double* column) {
  const JudgedSums a(xpx, flags, k, centred);
  double r = std::sqrt(a.size(k, k));
  for (int64_t i = 1; i < n; ++i)
    if (i != k && flags[i] == '1' && a.counts(i)) {
      const double b = column != nullptr ? column[i] : swept[sym(k, i)];
      r += std::fabs(b) * std::sqrt(a.size(i, i));
    }
  return r;
}

double vsfPivotForm(const double* xpx, const double* swept, const char* flags, int64_t n, int64_t k,
                    bool centred, const double* column) {
  const JudgedSums a(xpx, flags, k, centred);
  std::vector<int64_t> at{k};
  std::vector<double> v{1.0};
  for (int64_t i = 1; i < n; ++i)
    if (i != k && flags[i] == '1' && a.counts(i)) {
      const double b = std::fabs(column != nullptr ? column[i] : swept[sym(k, i)]);
      if (b != 0.0) {
        at.push_back(i);
        v.push_back(b);
      }
    }
  double q = 0.0;
  for (size_t i = 0; i < at.size(); ++i) {
    double s = 0.0;
    for (size_t l = 0; l < i; ++l)
      s += a.size(at[i], at[l]) * v[l];
    q += v[i] * (2.0 * s + a.size(at[i], at[i]) * v[i]);
  }
  return q;
}

double vsfPivotTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, bool centred, const double* column, double extraRoot,
                         const VsfModel* road) {
  const double d = vsfPivotDiagonal(xpx, flags, k, centred);
  const double tol =
      vsfRoundingTolerance(d, vsfPivotRoot(xpx, swept, flags, n, k, centred, column) + extraRoot);
  const double pivot = column != nullptr ? column[k] : swept[diag(k)];
  return vsfTightTolerance(xpx, swept, flags, n, k, centred, column, extraRoot, pivot, tol, road);
}

double vsfTightTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, bool centred, const double* column, double extraRoot,
                         double pivot, double tol, const VsfModel* road) {
  const double d = vsfPivotDiagonal(xpx, flags, k, centred);
  if (pivot > tol || !(pivot > vsfSweepTolerance(d)))
    return tol;
  if (extraRoot > 0.0) {
    // The many-level effect's columns are in v: their form comes from the effect's state.
    // Over the levels r^2 is some k times the form, and refused columns the data determine
    // (a spline's column beside 152 effect-coded levels at 3.2 times 64 u Q, 0.08 of 64 u r^2).
    const double form =
        road != nullptr && column == nullptr ? vsfStructuredPivotForm(road, k, centred) : -1.0;
    return form < 0.0 ? tol : std::min(tol, vsfFormTolerance(d, form));
  }
  return vsfFormTolerance(d, vsfPivotForm(xpx, swept, flags, n, k, centred, column));
}

namespace {

double candidateRuleTolerance(const VsfModel* m, int64_t k) {
  assert(k >= 0 && k < m->xpxColumns && "a candidate column of X'X");
  const bool centred = vsfRuleCentred(m);
  const JudgedSums a(m->xpx, m->sweepFlags, k, centred);
  const double extra = vsfStructuredPivotRoot(m, k);
  double r = std::sqrt(a.size(k, k)) + extra;
  for (int32_t p = 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (m->structured != nullptr && e == m->structured->effect)
      continue; // its part is the structured root
    for (int64_t i = m->effectColumn[e]; i < m->effectColumn[e] + m->effectColumns[e]; ++i)
      if (i > 0 && i != k && m->sweepFlags[i] == '1' && a.counts(i))
        r += std::fabs(m->sweptXpx[sym(k, i)]) * std::sqrt(a.size(i, i));
  }
  return vsfTightTolerance(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, k, centred, nullptr,
                           extra, m->sweptXpx[diag(k)], vsfRoundingTolerance(a.sum(k, k), r), m);
}

} // namespace

double vsfCandidateTolerance(VsfModel* m, int64_t k) {
  const double tol = candidateRuleTolerance(m, k);
  return vsfRowTolerance(m, k, tol);
}

double vsfTinyPivot() { return std::bit_cast<double>(uint64_t{0x20000000002302ACull}); }

double vsfRowTolerance(VsfModel* m, int64_t k, double tol) {
  const double s = m->sweptXpx[diag(k)];
  if (m->sweepFlags[k] == '1' || s > tol)
    return tol;
  const double d = vsfPivotDiagonal(m->xpx, m->sweepFlags, k, vsfRuleCentred(m));
  double p = 0.0;
  if (!vsfPivotDoubtful(s, tol, d) || vsfRowPivot(m, k, d, &p) != VsfStatus::Ok || !(p > 0.0))
    return tol;
  return p < vsfTinyPivot() ? vsfTinyPivot() : vsfSweepTolerance(d);
}
