// The triangular factor of the model's swept columns for the PRESS pass's leverages, formed
// from the rows by plane rotations.
#include "model/vsfpressfactor.h"

#include "data/vsfutilfile.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "support/scratcharena.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

// The thread's scratch of the leverage factor's rows (support/scratcharena.h).
struct VsfPressScratch {
  VsfGathered gathered;  // a row's swept columns
  std::vector<double> z; // the row rotated into the factor
};
VsfPressScratch& VsfScratchArena::press() { return part(press_); }

void vsfRotateIn(double* lower, int64_t k, double* z, int64_t first) {
  for (int64_t j = first; j < k; ++j) {
    const double a = z[j];
    if (a == 0.0)
      continue;
    double& r = lower[j * (j + 1) / 2 + j];
    const double rho = std::hypot(r, a);
    const double c = r / rho, s = a / rho;
    r = rho;
    for (int64_t l = j + 1; l < k; ++l) {
      double& t = lower[l * (l + 1) / 2 + j];
      const double zl = z[l];
      const double rt = t;
      t = c * rt + s * zl;
      z[l] = c * zl - s * rt;
    }
  }
}

namespace {

// Whether the design's swept columns lose the leverages' digits in the swept block.
[[nodiscard]] bool nearlyDependent(const VsfModel* m) {
  if (m->layout.splitSparse || m->xpx == nullptr)
    return false;
  return vsfStepInflation(m) > kVsfLeverageInflation;
}

// The places of the columns the PRESS pass gathers: every swept column of an in-model effect.
// The columns of effects of several columns (a CLASS effect's levels, of which a row has one)
// come first and the single columns (the intercept, continuous effects) last, each in the
// order of the design's parameters: a row's rotations then fill in only its few places and the
// dense tail, where the intercept first would fill in every place after it, a thousand levels'
// worth per row. The order is the design's, not X'X's, which a candidate's trial lays out
// otherwise than its entry does: the factor, and so the leverages, are then the same bits on
// either, which a leverage within 1e-7 of 1 needs (its 1 - h errs by eps kappa of h).
void placeColumns(const VsfModel* m, VsfLeverageFactor& f) {
  std::vector<std::tuple<int, int64_t, int64_t>> columns; // (single, parameter, column)
  f.place.assign(static_cast<size_t>(m->xpxColumns), -1);
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (m->structured != nullptr && e == m->structured->effect)
      continue; // its rows enter reduced to their part outside its span
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int64_t c = m->effectColumn[e] + q;
      if (m->sweepFlags[c] == '1')
        columns.emplace_back(m->effectColumns[e] == 1 ? 1 : 0, m->parmOffset[e] + q, c);
    }
  }
  std::sort(columns.begin(), columns.end());
  for (size_t p = 0; p < columns.size(); ++p)
    f.place[static_cast<size_t>(std::get<2>(columns[p]))] = static_cast<int32_t>(p);
  f.count = static_cast<int32_t>(columns.size());
}

// Rotates every training row of the page, scaled by the square root of its weight, into
// `lower`.
void rowsOfPage(VsfPassState* m, QkPageDescriptor* page, double* lower) {
  const VsfRowShape S = vsfRowShape(m);
  const VsfLeverageFactor& f = *m->leverage.leverageFactor;
  VsfPressScratch& scratch = VsfScratchArena::mine().press();
  VsfGathered& g = scratch.gathered;
  std::vector<double>& z = scratch.z;
  const VsfSweptGather gather(m, m->sweepFlags);
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w) || !(w > 0.0))
      return;
    gather(S, r, g);
    vsfStructuredReduce(m, S, r, g);
    z.assign(static_cast<size_t>(f.count), 0.0);
    int64_t first = f.count;
    const double root = std::sqrt(w);
    for (size_t i = 0; i < g.col.size(); ++i) {
      const int32_t p = f.place[static_cast<size_t>(g.col[i])];
      z[static_cast<size_t>(p)] = root * g.val[i];
      first = std::min<int64_t>(first, p);
    }
    vsfRotateIn(lower, f.count, z.data(), first);
  });
}

// The pass's kernel. The rotations do not add up as sums do, so the pass runs on this thread
// over every page in one order: one and eight threads give the same bits.
VsfStatus vsfLeverageRows(VsfPassState* m, QkPageDescriptor* page) {
  rowsOfPage(m, page, m->leverage.leverageRows);
  return VsfStatus::Ok;
}

// The unit scale of the factor's places (the rows went in unscaled); false where a place has
// no pivot (the rotations keep every diagonal at or above 0).
[[nodiscard]] bool finish(VsfLeverageFactor& f) {
  const int64_t k = f.count;
  for (int64_t j = 0; j < k; ++j) {
    const double d = f.lower[static_cast<size_t>(j * (j + 1) / 2 + j)];
    if (!(d > 0.0) || !std::isfinite(d))
      return false;
  }
  f.scale.assign(static_cast<size_t>(k), 1.0);
  return true;
}

// Whether the factor's leverages are at least as sound as the swept block's: on either source
// the training rows' leverages add up to the number of columns, and the one whose sum strays
// less from it has kept more of their digits. A factor of a design whose rows carry the
// dependence less cleanly than its sweeps did (a huge weight on a few rows) loses here.
[[nodiscard]] VsfStatus factorHolds(VsfModel* m, const VsfLeverageFactor& f, bool& holds) {
  double sums[2] = {0.0, 0.0};
  m->leverage.leverageFactor = &f;
  m->leverage.leverageSums = sums;
  const VsfStatus rc = vsfUtilRead(m, vsfLeverageSums);
  m->leverage.leverageFactor = nullptr;
  m->leverage.leverageSums = nullptr;
  if (rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  const double k = f.count;
  holds = std::fabs(sums[0] - k) <= std::fabs(sums[1] - k);
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfLeverageFactorFor(VsfModel* m, VsfLeverageFactor& f, bool& formed) {
  formed = false;
  if (!nearlyDependent(m))
    return VsfStatus::Ok;
  placeColumns(m, f);
  const int64_t k = f.count;
  f.lower.assign(static_cast<size_t>(k * (k + 1) / 2), 0.0);
  m->leverage.leverageFactor = &f;
  m->leverage.leverageRows = f.lower.data();
  const VsfStatus rc = vsfUtilRead(m, vsfLeverageRows);
  m->leverage.leverageFactor = nullptr;
  m->leverage.leverageRows = nullptr;
  if (rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  if (!finish(f))
    return VsfStatus::Ok;
  return factorHolds(m, f, formed);
}

VsfStatus vsfFactorVariances(VsfModel* m) {
  // With the many-level effect in, the variances come from the road's own elimination
  // (vsfStructuredVariance), whose rows' reduction the PRESS pass alone sets up.
  if (m->betaVariance == nullptr || (m->structured != nullptr && m->structured->inModel) ||
      !vsfNearlyDependent(vsfStepInflation(m)))
    return VsfStatus::Ok;
  VsfLeverageFactor f;
  bool formed = false;
  if (const VsfStatus rc = vsfLeverageFactorFor(m, f, formed); rc != VsfStatus::Ok || !formed)
    return rc;
  // D A D = L L', so A^-1_cc = D_c^2 |L^-1 e_c|^2, by forward substitution from place c on.
  const int64_t k = f.count;
  const auto L = [&f](int64_t i, int64_t j) {
    return f.lower[static_cast<size_t>(i * (i + 1) / 2 + j)];
  };
  std::vector<double> x(static_cast<size_t>(k));
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    // On shifted pages the intercept's variance is carried to the data's scale from the swept
    // block's covariances.
    if (e == 0 && m->shift.pagesShifted)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int64_t c = m->effectColumn[e] + q;
      const int64_t p = f.place[static_cast<size_t>(c)];
      if (p < 0 || m->sweepFlags[c] != '1')
        continue;
      double sum = 0.0;
      for (int64_t r = p; r < k; ++r) {
        double v = r == p ? 1.0 : 0.0;
        for (int64_t j = p; j < r; ++j)
          v -= L(r, j) * x[static_cast<size_t>(j)];
        x[static_cast<size_t>(r)] = v / L(r, r);
        sum += x[static_cast<size_t>(r)] * x[static_cast<size_t>(r)];
      }
      const double d = f.scale[static_cast<size_t>(p)];
      m->betaVariance[m->parmOffset[e] + q] = sum * d * d;
    }
  }
  return VsfStatus::Ok;
}
