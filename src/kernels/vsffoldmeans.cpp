// The folds' sums of the rows the cross-validation sums take, from which the fold centres are
// formed, alone or with the page rewrite before them in one pass over the rows.
// Declared in kernels/vsfxpx.h.
#include "kernels/vsfmoments.h"
#include "kernels/vsfrankk.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsftransform.h"
#include "kernels/vsfxpx.h"
#include "support/scratcharena.h"

#include <vector>

// The thread's scratch of the folds' sums (support/scratcharena.h).
struct VsfFoldMeansScratch {
  std::vector<double> sums; // vsfCVFoldMeans' per-page sums
};
VsfFoldMeansScratch& VsfScratchArena::foldMeans() { return part(foldMeans_); }

namespace {

// True when the row's dense values and its weight can be added (zscp's test).
[[nodiscard]] bool addable(const double* x, int32_t n, double w) {
  return !vsfAnyMissing(x, n) && !isHostMissing(w) && w != 0.0;
}

// Per fold, the weight and the weighted sums of the dense values (the response first) of the
// rows that the fold's sums take, at into + f * (n + 1); with sparse columns, after those the
// weighted sums of their values by parameter, at into + K (n + 1) + f N + 1 + p.
VsfStatus foldMeansBody(VsfPassState* m, QkPageDescriptor* page, double* into) {
  const VsfRowShape S = vsfRowShape(m);
  const int32_t n = S.dense + 1;
  const int64_t N = m->parmCount + 1;
  double* sparseSums = into + static_cast<size_t>(m->cv.foldCount) * (n + 1);
  return vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& r) {
    const double w = r.trainWeight;
    if (r.target < 0 || !addable(r.y, n, w))
      return;
    double* s = into + static_cast<size_t>(r.target) * (n + 1);
    s[0] += w;
    for (int32_t i = 0; i < n; ++i)
      s[1 + i] += w * r.y[i];
    for (int32_t q = 0; q < S.sparse; ++q) {
      const int32_t e = m->layout.sparseEffectList[q], end = r.slotEnd(S, q);
      double* t = sparseSums + r.target * N + 1 + m->parmOffset[e];
      for (int32_t b = r.slotBegin(S, q); b < end; ++b)
        t[r.storedIndex(S, b)] += w * r.sparseValues[b];
    }
  });
}

} // namespace

int64_t vsfCVFoldMeansLength(const VsfPassState* m) {
  const int64_t sparse = m->layout.sparseEffectCount > 0 ? m->parmCount + 1 : 0;
  return int64_t{m->cv.foldCount} * (vsfRowShape(m).dense + 2 + sparse);
}

VsfStatus vsfCVFoldMeans(VsfPassState* m, QkPageDescriptor* page) {
  // Per-page sums first, so that the fold centres see the same additions as the threaded form.
  std::vector<double>& sums = VsfScratchArena::mine().foldMeans().sums;
  const int64_t length = vsfCVFoldMeansLength(m);
  sums.assign(static_cast<size_t>(length), 0.0);
  const VsfStatus rc = foldMeansBody(m, page, sums.data());
  for (int64_t i = 0; i < length; ++i)
    m->cv.foldCentre[i] += sums[static_cast<size_t>(i)];
  return rc;
}
VsfStatus vsfCVFoldMeans_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return foldMeansBody(m, page, buffer);
}

VsfStatus vsfShiftSquaresFoldMeans(VsfPassState* m, QkPageDescriptor* page) {
  vsfShiftRowsSquares(m, page);
  return vsfCVFoldMeans(m, page);
}
VsfStatus vsfShiftSquaresFoldMeans_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                                     int64_t) {
  const int64_t squares = m->parmCount + 1;
  vsfShiftRowsSquares_t(m, page, buffer, squares);
  return foldMeansBody(m, page, buffer + squares);
}

VsfStatus vsfCenterScaleFoldMeans(VsfPassState* m, QkPageDescriptor* page) {
  vsfCenterScale(m, page);
  return vsfCVFoldMeans(m, page);
}
VsfStatus vsfCenterScaleFoldMeans_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                                    int64_t) {
  vsfCenterScale(m, page);
  return foldMeansBody(m, page, buffer);
}
VsfStatus vsfAdaptiveWeightsFoldMeans(VsfPassState* m, QkPageDescriptor* page) {
  if (const VsfStatus rc = vsfApplyAdaptiveWeights(m, page); rc != VsfStatus::Ok)
    return rc;
  return vsfCVFoldMeans(m, page);
}
VsfStatus vsfAdaptiveWeightsFoldMeans_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                                        int64_t) {
  if (const VsfStatus rc = vsfApplyAdaptiveWeights(m, page); rc != VsfStatus::Ok)
    return rc;
  return foldMeansBody(m, page, buffer);
}
