// PRESS and residual kernels. A row's values of the model's swept columns are gathered
// once (dense and sparse alike); the residual uses the swept column 0 (minus the
// coefficients) and the leverage the swept block (the inverse of the model's X'X block), and
// on the structured road the many-level effect's terms besides.
#include "kernels/vsfresid.h"

#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpxstructured.h"
#include "numerics/packedtri.h"
#include "support/scratcharena.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using packed::sym;

} // namespace

// The thread's scratch of the PRESS and residual kernels (support/scratcharena.h).
struct VsfResidScratch {
  VsfGathered gathered;         // a row's swept columns (eachPressRow, residsOfPage)
  VsfGathered reduced;          // the same, reduced for the factor (leverage)
  std::vector<double> row;      // vsfStructuredReduce's row of the small columns
  std::vector<double> z;        // factorForm's solution
  std::vector<int64_t> nonzero; // and its places that are not 0
};
VsfResidScratch& VsfScratchArena::resid() { return part(resid_); }

VsfSweptGather::VsfSweptGather(const VsfPassState* m, const char* flags) : flags_(flags) {
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    const int32_t c0 = m->effectColumn[e];
    if (m->structured != nullptr && e == m->structured->effect)
      continue; // outside the triangle: vsfStructuredFitted
    if (m->layout.sparseSlot[e] >= 0) {
      parts_.push_back({m->layout.sparseSlot[e], c0, 0});
      continue;
    }
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      if (flags[c0 + q] == '1')
        parts_.push_back({-1, c0 + q, m->layout.denseOffset[e] + q});
  }
}

void VsfSweptGather::operator()(const VsfRowShape& S, const VsfRowView& r, VsfGathered& g) const {
  g.col.clear();
  g.val.clear();
  const double* dense = r.denseValues();
  for (const Part& p : parts_) {
    if (p.slot < 0) {
      if (const double x = dense[p.place]; x != 0.0) {
        g.col.push_back(p.column);
        g.val.push_back(x);
      }
      continue;
    }
    const int32_t end = r.slotEnd(S, p.slot);
    for (int32_t b = r.slotBegin(S, p.slot); b < end; ++b) {
      const int32_t c = p.column + r.storedIndex(S, b);
      if (flags_[c] == '1') {
        g.col.push_back(c);
        g.val.push_back(r.sparseValues[b]);
      }
    }
  }
}

double vsfGatheredResidual(const double* s, const VsfRowView& r, const VsfGathered& g) {
  double res = r.y[0];
  for (size_t i = 0; i < g.col.size(); ++i)
    res += s[static_cast<int64_t>(g.col[i]) * (g.col[i] + 1) / 2] * g.val[i];
  return res;
}

namespace {

// The row's place in the structured road's many-level effect: its column j (the effect's
// column count when the row's value stands in every column, the last set of terms) and its
// value x. False when the effect is not in the model or the row has no value in it.
bool effectPlace(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, int64_t* j,
                 double* x) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return false;
  const int32_t slot = m->layout.sparseSlot[st->effect];
  const int32_t begin = r.slotBegin(S, slot), end = r.slotEnd(S, slot);
  if (begin == end)
    return false;
  *j = end - begin == 1 ? r.storedIndex(S, begin) : st->columns;
  *x = r.sparseValues[begin];
  return true;
}

} // namespace

double vsfStructuredReduce(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r,
                           VsfGathered& g) {
  int64_t j = 0;
  double x = 0.0;
  if (!effectPlace(m, S, r, &j, &x))
    return 0.0;
  const VsfStructured* st = m->structured;
  const double* shift = st->leverageShift + j * st->small;
  std::vector<double>& row = VsfScratchArena::mine().resid().row;
  row.assign(static_cast<size_t>(st->small), 0.0);
  for (size_t i = 0; i < g.col.size(); ++i)
    row[static_cast<size_t>(g.col[i])] = g.val[i];
  g.col.clear();
  g.val.clear();
  for (int32_t c = 1; c < st->small; ++c)
    if (m->sweepFlags[c] == '1') {
      g.col.push_back(c);
      g.val.push_back(row[static_cast<size_t>(c)] - x * shift[c]);
    }
  return x * x * st->leverageBlock[j];
}

namespace {

double residual(const VsfPassState* m, const VsfRowView& r, const VsfGathered& g) {
  return vsfGatheredResidual(m->sweptXpx, r, g);
}

// The structured road's many-level effect's part of the row's leverage: with the row's value
// x in one column j of the effect (or in every column, the last set of terms),
// x^2 leverageDiagonal - 2 x s'leverageCross over the row's swept small columns s.
double structuredLeverage(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r,
                          const VsfGathered& g) {
  int64_t j = 0;
  double x = 0.0;
  if (!effectPlace(m, S, r, &j, &x))
    return 0.0;
  const VsfStructured* st = m->structured;
  const double* cross = st->leverageCross + j * st->small;
  double sg = 0.0;
  for (size_t i = 0; i < g.col.size(); ++i)
    sg += cross[g.col[i]] * g.val[i];
  return x * (x * st->leverageDiagonal[j] - 2.0 * sg);
}

// The row's quadratic form x'A^-1 x over its gathered columns from the swept block s, which
// holds A^-1.
double sweptForm(const double* s, const VsfGathered& g) {
  double q = 0.0;
  const size_t n = g.col.size();
  for (size_t i = 0; i < n; ++i) {
    double inner = 0.0;
    for (size_t j = 0; j < i; ++j)
      inner += s[sym(g.col[i], g.col[j])] * g.val[j];
    q += g.val[i] * (2.0 * inner + s[sym(g.col[i], g.col[i])] * g.val[i]);
  }
  return q;
}

// The same form from the factor: |L^-1 D x|^2 by forward substitution from the row's first
// place, each row of L against the places of the solution that are not 0 (a row of one CLASS
// level's column and a few single columns keeps the solution as sparse as itself).
double factorForm(const VsfLeverageFactor& f, const VsfGathered& g) {
  VsfResidScratch& scratch = VsfScratchArena::mine().resid();
  std::vector<double>& z = scratch.z;
  std::vector<int64_t>& nonzero = scratch.nonzero;
  z.assign(static_cast<size_t>(f.count), 0.0);
  nonzero.clear();
  int64_t first = f.count;
  for (size_t i = 0; i < g.col.size(); ++i) {
    const int32_t p = f.place[static_cast<size_t>(g.col[i])];
    z[static_cast<size_t>(p)] = g.val[i] * f.scale[static_cast<size_t>(p)];
    first = std::min<int64_t>(first, p);
  }
  double q = 0.0;
  for (int64_t i = first; i < f.count; ++i) {
    const double* row = f.lower.data() + i * (i + 1) / 2;
    double v = z[static_cast<size_t>(i)];
    if (static_cast<int64_t>(nonzero.size()) == i - first) {
      for (int64_t j = first; j < i; ++j)
        v -= row[j] * z[static_cast<size_t>(j)];
    } else {
      for (const int64_t j : nonzero)
        v -= row[j] * z[static_cast<size_t>(j)];
    }
    v /= row[i];
    z[static_cast<size_t>(i)] = v;
    if (v != 0.0)
      nonzero.push_back(i);
    q += v * v;
  }
  return q;
}

// The row's leverage: from the factor of the reduced rows on a nearly dependent design, else
// from the swept block with the many-level effect's terms.
double leverage(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r,
                const VsfGathered& g) {
  if (m->leverage.leverageFactor == nullptr)
    return structuredLeverage(m, S, r, g) + sweptForm(m->sweptXpx, g);
  VsfGathered& p = VsfScratchArena::mine().resid().reduced;
  p = g;
  const double block = vsfStructuredReduce(m, S, r, p);
  return block + factorForm(*m->leverage.leverageFactor, p);
}

// Calls f(row, weight, frequency, gathered columns) for every training row of the page that
// counts in the PRESS sum.
template <class F> void eachPressRow(VsfPassState* m, QkPageDescriptor* page, F&& f) {
  const VsfRowShape S = vsfRowShape(m);
  VsfGathered& g = VsfScratchArena::mine().resid().gathered;
  const VsfSweptGather gather(m, m->sweepFlags);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    if (S.hasRole && r.role != VSF_ROLE_TRAIN)
      return;
    const double freq = S.hasResample ? r.rfreq : r.freq;
    if (freq == 0.0)
      return;
    gather(S, r, g);
    f(S, r, r.weight, freq, g);
  });
}

double pressOfPage(VsfPassState* m, QkPageDescriptor* page) {
  double sum = 0.0;
  eachPressRow(
      m, page,
      [&](const VsfRowShape& S, const VsfRowView& r, double v, double f, const VsfGathered& g) {
        const double res = residual(m, r, g) - vsfStructuredFitted(m, -1, S, r);
        const double q = leverage(m, S, r, g);
        const double h = v * q;
        if (std::fabs(h - 1.0) > 1e-8) {
          const double e = res / (1.0 - h);
          sum += f * v * e * e;
        }
      });
  return sum;
}

void leverageSumsOfPage(VsfPassState* m, QkPageDescriptor* page, double* sums) {
  eachPressRow(
      m, page,
      [&](const VsfRowShape& S, const VsfRowView& r, double v, double f, const VsfGathered& g) {
        VsfGathered& p = VsfScratchArena::mine().resid().reduced;
        p = g;
        vsfStructuredReduce(m, S, r, p);
        sums[0] += f * v * factorForm(*m->leverage.leverageFactor, p);
        sums[1] += f * v * sweptForm(m->sweptXpx, p);
      });
}

void residsOfPage(VsfPassState* m, QkPageDescriptor* page, double* sums) {
  const VsfRowShape S = vsfRowShape(m);
  VsfGathered& g = VsfScratchArena::mine().resid().gathered;
  const VsfSweptGather gather(m, m->sweepFlags);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    if (r.role != VSF_ROLE_VALIDATE && r.role != VSF_ROLE_TEST)
      return;
    const double w = r.weight * r.freq;
    gather(S, r, g);
    const double res = residual(m, r, g) - vsfStructuredFitted(m, -1, S, r);
    sums[r.role == VSF_ROLE_VALIDATE ? 0 : 1] += w * res * res;
  });
}

} // namespace

VsfStatus vsfLeverageSums(VsfPassState* m, QkPageDescriptor* page) {
  leverageSumsOfPage(m, page, m->leverage.leverageSums);
  return VsfStatus::Ok;
}
VsfStatus vsfPress(VsfPassState* m, QkPageDescriptor* page) {
  m->press += pressOfPage(m, page);
  return VsfStatus::Ok;
}
VsfStatus vsfPress_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  buffer[0] += pressOfPage(m, page);
  return VsfStatus::Ok;
}
VsfStatus vsfResids(VsfPassState* m, QkPageDescriptor* page) {
  double sums[2] = {0.0, 0.0};
  residsOfPage(m, page, sums);
  m->validateAse += sums[0];
  m->testAse += sums[1];
  return VsfStatus::Ok;
}
VsfStatus vsfResids_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  residsOfPage(m, page, buffer);
  return VsfStatus::Ok;
}
