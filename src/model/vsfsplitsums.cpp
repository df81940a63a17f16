// The centring and scaling of the split columns' raw sums after a pass: a split column z_j =
// (x_j - mean_j) scale_j, so for any two columns the product of their centred and scaled forms
// is s_a s_b (P - m_a Q_b - m_b Q_a + m_a m_b W) from the raw product P, the sums Q and W.
#include "model/vsfsplitsums.h"

#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpx.h"
#include "numerics/packedtri.h"
#include "support/hostif.h"
#include "support/vsfoptions.h"

namespace {

// What a column is on the pages: its mean m and scale s (the page holds x with z = (x - m) s),
// and its weighted sum Q.
struct Column {
  double mean = 0.0, scale = 1.0, sum = 0.0;
};

// The response and the dense columns are centred and scaled on the pages; the intercept's
// column of ones sums to W, the training rows' total weight (WEIGHT times FREQ).
Column columnOf(const VsfModel* m, int32_t e) {
  Column c;
  if (e < 0)
    return c;
  if (m->effectStatus[e] == VES_INTERCEPT) {
    c.sum = m->totals.wTrain;
  } else if (m->layout.denseOffset[e] < 0) {
    c.scale = vsfSplitScale(m, e);
    c.mean = m->options->noint ? 0.0 : m->moments.columnSums[e];
    c.sum = c.mean * m->totals.wTrain;
  }
  return c;
}

double product(const Column& a, const Column& b, double raw, double W) {
  return a.scale * b.scale * (raw - a.mean * b.sum - b.mean * a.sum + a.mean * b.mean * W);
}

// The passes whose sums hold split columns summed raw.
enum class Sums { None, EffectXpX, EffXpX, EffCross, LarCorr, LarAvec };

Sums sumsOf(VsfSerialKernel serial) {
  if (serial == vsfEffectXpX)
    return Sums::EffectXpX;
  if (serial == vsfEffXpX)
    return Sums::EffXpX;
  if (serial == vsfEffCross)
    return Sums::EffCross;
  if (serial == vsfLarCorr)
    return Sums::LarCorr;
  if (serial == vsfLarAvec)
    return Sums::LarAvec;
  return Sums::None;
}

} // namespace

void vsfSplitCorrect(VsfModel* m, VsfSerialKernel serial) {
  if (!m->layout.splitSparse)
    return;
  const double W = m->totals.wTrain;
  const int32_t E = m->effectCount;
  const int32_t k = m->inModelCount > 0 ? m->inModelList[m->inModelCount - 1] : -1;
  const Column y;
  const Sums kind = sumsOf(serial);
  switch (kind) {
  case Sums::EffectXpX:
    for (int32_t e = 0; e < E; ++e)
      if (m->layout.denseOffset[e] < 0 && m->effectBlocks[e] != nullptr) {
        const Column c = columnOf(m, e);
        m->effectBlocks[e][0] = product(c, c, m->effectBlocks[e][0], W);
      }
    break;
  case Sums::EffXpX: {
    double* R = m->xpx + packed::tri(m->xpxColumns);
    const Column ck = columnOf(m, k);
    R[0] = product(ck, y, R[0], W);
    for (int32_t i = 0; i < m->inModelCount; ++i) {
      const int32_t e = m->inModelList[i];
      R[m->effectColumn[e]] = product(ck, columnOf(m, e), R[m->effectColumn[e]], W);
    }
    break;
  }
  case Sums::EffCross: {
    // The kept columns of the pass's batch (of the entering effect without one), one each.
    const int64_t N = m->parmCount + 1;
    const int32_t* batch = m->batch.crossBatch != nullptr ? m->batch.crossBatch : &k;
    const int32_t count = m->batch.crossBatch != nullptr ? m->batch.crossBatchCount : 1;
    for (int32_t b = 0; b < count; ++b) {
      double* t = m->cross + (m->crossColumnCount + b) * N;
      const Column cb = columnOf(m, batch[b]);
      t[0] = product(cb, y, t[0], W);
      for (int32_t e = 0; e < E; ++e)
        t[1 + m->parmOffset[e]] = product(cb, columnOf(m, e), t[1 + m->parmOffset[e]], W);
    }
    break;
  }
  case Sums::LarCorr:
  case Sums::LarAvec: {
    // The intercept's place holds the sum of the residual or the direction's combination: a
    // level's product with it is s (R - m sum). Without an intercept nothing is centred.
    double* target = kind == Sums::LarCorr ? m->pathPass.corr : m->pathPass.dirCorr;
    const bool intercept = m->effectStatus[0] == VES_INTERCEPT;
    const double sum = intercept ? target[0] : 0.0;
    if (intercept)
      target[0] = 0.0;
    for (int32_t e = 0; e < E; ++e)
      if (m->layout.denseOffset[e] < 0) {
        const Column c = columnOf(m, e);
        target[e] = c.scale * (target[e] - c.mean * sum);
      }
    break;
  }
  case Sums::None:
    break;
  }
}
