// The folds' centres and the records' means about which the centred roads hold their sums.
#include "model/vsffoldmove.h"

#include "numerics/packedtri.h"

std::vector<double> vsfFoldRecordMeans(const std::vector<double>& W, const std::vector<double>& c,
                                       int32_t K, int64_t n, int64_t nd) {
  std::vector<double> t(static_cast<size_t>((K + 1) * n), 0.0);
  for (int32_t k = 0; k < K; ++k) {
    double w = 0.0;
    for (int32_t j = 0; j < K; ++j)
      if (j != k) {
        w += W[j];
        for (int64_t a = 0; a < nd; ++a)
          t[k * n + a] += W[j] * c[j * n + a];
      }
    for (int64_t a = 0; a < nd; ++a)
      t[k * n + a] = w > 0.0 ? t[k * n + a] / w : 0.0;
  }
  return t;
}

VsfFoldCentres vsfFoldCentres(const VsfModel* m) {
  VsfFoldCentres p;
  const int32_t K = m->cv.foldCount;
  const int64_t n = p.n = m->xpxColumns, nd = m->cv.foldCentreOrder, ic = m->effectColumn[0];
  p.W.assign(static_cast<size_t>(K), 0.0);
  p.c.assign(static_cast<size_t>(K * n), 0.0);
  for (int32_t f = 0; f < K; ++f) {
    p.W[f] = m->cv.folds[f].xpx[packed::diag(ic)];
    for (int64_t a = 0; a < nd; ++a)
      p.c[f * n + a] = a == ic ? 0.0 : m->cv.foldCentre[f * (nd + 1) + 1 + a];
  }
  p.t = vsfFoldRecordMeans(p.W, p.c, K, n, nd);
  return p;
}
