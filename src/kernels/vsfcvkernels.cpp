// Cross-validation kernels. A counted row is a TRAIN row (every row without roles) that a
// resample draws at least once; its fold code indexes the fold records. A fold code outside
// the folds fails the pass (kVsfBadFoldRow) rather than writing past the records.
#include "kernels/vsfcvkernels.h"

#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpx.h"
#include "numerics/packedtri.h"

#include <vector>

namespace {

// Calls fn(row, fold, f, w) for every counted row: f its frequency factor, w = weight x f.
template <class Fn> int32_t eachCounted(VsfModel *m, QkPageDescriptor *page, Fn fn) {
  const VsfRowShape S = vsfRowShape(m);
  int32_t bad = 0;
  vsfEachRow(S, page, [&](const VsfRowView &r) {
    if (S.hasRole && r.role != VSF_ROLE_TRAIN)
      return;
    const double f = S.hasResample ? r.rfreq : r.freq;
    if (S.hasResample && f == 0.0)
      return;
    if (r.fold < 0 || r.fold >= m->foldCount) {
      ++bad;
      return;
    }
    fn(r, r.fold, f, r.weight * f);
  });
  return bad != 0 ? kVsfBadFoldRow : 0;
}

// The row's residual under fold k's model: y plus the swept column 0 (minus the
// coefficients) times the row's values of the columns swept into that model.
double heldOutResidual(const VsfModel *m, const VsfRowShape &S, const VsfRowView &r,
                       const VsfFoldRecord &F) {
  double res = r.y[0];
  const double *dense = r.denseValues();
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    const int32_t c0 = m->effectColumn[e];
    if (m->sparseSlot[e] < 0) {
      const double *x = dense + m->denseOffset[e];
      for (int32_t q = 0; q < m->effectColumns[e]; ++q)
        if (F.sweepFlags[c0 + q] == '1')
          res += F.sweptXpx[packed::at(c0 + q, 0)] * x[q];
    } else {
      const int32_t s = m->sparseSlot[e];
      const int32_t end = r.slotEnd(S, s);
      for (int32_t b = r.slotBegin(S, s); b < end; ++b) {
        const int32_t c = c0 + r.storedIndex(S, b);
        if (F.sweepFlags[c] == '1')
          res += F.sweptXpx[packed::at(c, 0)] * r.sparseValues[b];
      }
    }
  }
  return res;
}

int32_t cvResidsBody(VsfModel *m, QkPageDescriptor *page, double *sums) {
  const VsfRowShape S = vsfRowShape(m);
  return eachCounted(m, page, [&](const VsfRowView &r, int32_t k, double, double w) {
    const double res = heldOutResidual(m, S, r, m->folds[k]);
    sums[k] += w * res * res;
  });
}

} // namespace

int32_t vsfCVNobs(VsfModel *m, QkPageDescriptor *page) {
  return eachCounted(m, page, [m](const VsfRowView &, int32_t k, double f, double w) {
    VsfFoldRecord &F = m->folds[k];
    F.rowCount += 1.0;
    F.freqCount += f;
    F.weightCount += w;
  });
}
int32_t vsfCVNobs_t(VsfModel *m, QkPageDescriptor *page, double *buffer, int64_t) {
  const int32_t K = m->foldCount;
  return eachCounted(m, page, [=](const VsfRowView &, int32_t k, double f, double w) {
    buffer[k] += 1.0;
    buffer[K + k] += f;
    buffer[2 * K + k] += w;
  });
}

int32_t vsfCVYpY(VsfModel *m, QkPageDescriptor *page) {
  return eachCounted(m, page, [m](const VsfRowView &r, int32_t k, double, double w) {
    m->folds[k].xpx[0] += w * r.y[0] * r.y[0];
  });
}
int32_t vsfCVYpY_t(VsfModel *m, QkPageDescriptor *page, double *buffer, int64_t) {
  return eachCounted(m, page, [=](const VsfRowView &r, int32_t k, double, double w) {
    buffer[k] += w * r.y[0] * r.y[0];
  });
}

int32_t vsfCVResids(VsfModel *m, QkPageDescriptor *page) {
  // Per-page sums first, so that the records see the same additions as the threaded form.
  thread_local std::vector<double> sums;
  sums.assign(static_cast<size_t>(m->foldCount), 0.0);
  const int32_t rc = cvResidsBody(m, page, sums.data());
  for (int32_t k = 0; k < m->foldCount; ++k)
    m->folds[k].cvSse += sums[static_cast<size_t>(k)];
  return rc;
}
int32_t vsfCVResids_t(VsfModel *m, QkPageDescriptor *page, double *buffer, int64_t) {
  return cvResidsBody(m, page, buffer);
}
