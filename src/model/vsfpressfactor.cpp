// The Cholesky factor of the model's swept columns for the PRESS pass's leverages.
#include "model/vsfpressfactor.h"

#include "kernels/vsfresid.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "numerics/packedtri.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

using packed::diag;
using packed::sym;

// Whether the design's swept columns lose the leverages' digits in the swept block.
[[nodiscard]] bool nearlyDependent(const VsfModel* m) {
  if (m->splitSparse || m->xpx == nullptr || (m->structured != nullptr && m->structured->inModel))
    return false;
  return std::max(m->sweptInflation, vsfLargestInflation(m)) > kVsfLeverageInflation;
}

// The places of the columns the PRESS pass gathers: every swept column of an in-model effect.
void placeColumns(const VsfModel* m, VsfLeverageFactor& f, std::vector<int64_t>& columns) {
  f.place.assign(static_cast<size_t>(m->xpxColumns), -1);
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int64_t c = m->effectColumn[e] + q;
      if (m->sweepFlags[c] == '1')
        columns.push_back(c);
    }
  }
  // The factor takes the columns in X'X order, the intercept first: its elimination then
  // forms the others' sums about their means.
  std::sort(columns.begin(), columns.end());
  for (size_t p = 0; p < columns.size(); ++p)
    f.place[static_cast<size_t>(columns[p])] = static_cast<int32_t>(p);
  f.count = static_cast<int32_t>(columns.size());
}

// L L' = D A D in place over the packed rows of `lower`; false at a pivot that is not positive.
[[nodiscard]] bool choleskyInPlace(std::vector<double>& lower, int64_t k) {
  for (int64_t i = 0; i < k; ++i) {
    double* ri = lower.data() + i * (i + 1) / 2;
    for (int64_t j = 0; j <= i; ++j) {
      const double* rj = lower.data() + j * (j + 1) / 2;
      double v = ri[j];
      for (int64_t l = 0; l < j; ++l)
        v -= ri[l] * rj[l];
      if (j < i) {
        ri[j] = v / rj[j];
      } else {
        if (!(v > 0.0))
          return false;
        ri[i] = std::sqrt(v);
      }
    }
  }
  return true;
}

} // namespace

bool vsfLeverageFactorFor(const VsfModel* m, VsfLeverageFactor& f) {
  if (!nearlyDependent(m))
    return false;
  std::vector<int64_t> columns;
  placeColumns(m, f, columns);
  const int64_t k = f.count;
  f.scale.assign(static_cast<size_t>(k), 0.0);
  for (int64_t p = 0; p < k; ++p) {
    const double a = m->xpx[diag(columns[static_cast<size_t>(p)])];
    if (!(a > 0.0))
      return false;
    f.scale[static_cast<size_t>(p)] = 1.0 / std::sqrt(a);
  }
  f.lower.assign(static_cast<size_t>(k * (k + 1) / 2), 0.0);
  for (int64_t i = 0; i < k; ++i)
    for (int64_t j = 0; j <= i; ++j)
      f.lower[static_cast<size_t>(i * (i + 1) / 2 + j)] =
          m->xpx[sym(columns[static_cast<size_t>(i)], columns[static_cast<size_t>(j)])] *
          f.scale[static_cast<size_t>(i)] * f.scale[static_cast<size_t>(j)];
  return choleskyInPlace(f.lower, k);
}
