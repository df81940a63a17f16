// Moment kernels. vsfMoments and vsfYpwY walk every parameter of a row at its parameter
// position (dense values and stored sparse values alike); vsfMoments also keeps the training
// and held-out totals of external cross validation. vsfSpreads walks the dense columns and
// the sparse ones listed far from their means.
#include "kernels/vsfmoments.h"

#include "data/vsfdata.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsftransform.h"

namespace {

template <class Fn>
void eachParm(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, Fn fn) {
  const double* dense = r.denseValues();
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int32_t p0 = m->parmOffset[e];
    if (m->layout.sparseSlot[e] < 0) {
      for (int32_t q = 0; q < m->effectColumns[e]; ++q)
        fn(p0 + q, dense[m->layout.denseOffset[e] + q]);
    } else {
      const int32_t s = m->layout.sparseSlot[e];
      const int32_t end = r.slotEnd(S, s);
      for (int32_t b = r.slotBegin(S, s); b < end; ++b)
        fn(p0 + r.storedIndex(S, b), r.sparseValues[b]);
    }
  }
}

// out: [sumWY][P column sums][P sums of squares][train w, train f, held-out w, held-out f].
void momentsBody(VsfPassState* m, QkPageDescriptor* page, double* sumY, double* sums,
                 double* squares, double* totals) {
  const VsfRowShape S = vsfRowShape(m);
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const bool train = r.role == VSF_ROLE_TRAIN;
    double f = S.hasResample ? (train ? r.rfreq : 1.0) : (train ? r.freq : 1.0);
    if (S.hasResample && f == 0.0)
      return;
    const double v = r.weight * f;
    if (train) {
      if (S.xcv && r.fold == m->cvexPass.heldOutFold) {
        totals[2] += v;
        totals[3] += f;
        return;
      }
      totals[0] += v;
      totals[1] += f;
      *sumY += v * r.y[0];
      eachParm(m, S, r, [&](int32_t p, double x) {
        sums[p] += v * x;
        squares[p] += v * x * x;
      });
    } else if (S.xcv && r.role == VSF_ROLE_VALIDATE && m->cvexPass.heldOutFold == m->cv.foldCount) {
      totals[2] += v;
      totals[3] += f;
    }
  });
}

template <class Fn> void ypwyBody(VsfPassState* m, QkPageDescriptor* page, Fn add) {
  const VsfRowShape S = vsfRowShape(m);
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    add(-1, w * r.y[0] * r.y[0]);
    eachParm(m, S, r, [&](int32_t p, double x) { add(p, w * x * x); });
  });
}

void spreadsBody(VsfPassState* m, QkPageDescriptor* page, double* deviations, double* squares) {
  const VsfRowShape S = vsfRowShape(m);
  const bool shifted = m->shift.pagesShifted && m->shift.xpxShift != nullptr;
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    const double* dense = r.denseValues();
    for (int32_t e = 1; e < m->effectCount; ++e) {
      if (m->layout.sparseSlot[e] >= 0)
        continue;
      for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
        const int32_t p = m->parmOffset[e] + q;
        if (m->moments.spreadState[p] != VSS_ABOUT_MEAN)
          continue;
        const double centre = m->moments.columnSums[p] - (shifted ? m->shift.xpxShift[1 + p] : 0.0);
        const double d = dense[m->layout.denseOffset[e] + q] - centre;
        deviations[p] += w * d;
        squares[p] += w * d * d;
      }
    }
    // The sparse columns' rows hold their stored values and zeros elsewhere, raw.
    for (int32_t i = 0; i < m->moments.farSparseCount; ++i) {
      const int32_t e = m->moments.farSparse[2 * i], q = m->moments.farSparse[2 * i + 1];
      const int32_t p = m->parmOffset[e] + q, s = m->layout.sparseSlot[e];
      double x = 0.0;
      for (int32_t b = r.slotBegin(S, s), end = r.slotEnd(S, s); b < end; ++b)
        if (r.storedIndex(S, b) == q) {
          x = r.sparseValues[b];
          break;
        }
      const double d = x - m->moments.columnSums[p];
      deviations[p] += w * d;
      squares[p] += w * d * d;
    }
  });
}

} // namespace

VsfStatus vsfMoments(VsfPassState* m, QkPageDescriptor* page) {
  double totals[4] = {0, 0, 0, 0};
  momentsBody(m, page, &m->sumWY, m->moments.columnSums, m->moments.columnSumSquares, totals);
  if (vsfRowShape(m).xcv) {
    m->totals.wTrain += totals[0];
    m->totals.nObs += totals[1];
    m->totals.wValidate += totals[2];
    m->totals.freqValidate += totals[3];
  }
  return VsfStatus::Ok;
}
VsfStatus vsfMoments_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  const int64_t P = m->parmCount;
  double totals[4] = {0, 0, 0, 0};
  momentsBody(m, page, buffer, buffer + 1, buffer + 1 + P, totals);
  if (vsfRowShape(m).xcv)
    for (int i = 0; i < 4; ++i)
      buffer[2 * P + 1 + i] += totals[i];
  return VsfStatus::Ok;
}

VsfStatus vsfYpwY(VsfPassState* m, QkPageDescriptor* page) {
  ypwyBody(m, page, [m](int32_t p, double v) {
    if (p < 0)
      m->sumWYY += v;
    else
      m->moments.columnSquareSums[p] += v;
  });
  return VsfStatus::Ok;
}
VsfStatus vsfYpwY_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  ypwyBody(m, page, [buffer](int32_t p, double v) { buffer[1 + p] += v; });
  return VsfStatus::Ok;
}

VsfStatus vsfResponseSquares(VsfPassState* m, QkPageDescriptor* page) {
  const VsfRowShape S = vsfRowShape(m);
  const double c = m->shift.responseCentre;
  vsfEachWeightedRow(m, S, page, [m, c](const VsfRowView& r, double w) {
    m->sumWYY += w * (r.y[0] - c) * (r.y[0] - c);
  });
  return VsfStatus::Ok;
}
VsfStatus vsfResponseSquares_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  const VsfRowShape S = vsfRowShape(m);
  const double c = m->shift.responseCentre;
  vsfEachWeightedRow(m, S, page, [buffer, c](const VsfRowView& r, double w) {
    buffer[0] += w * (r.y[0] - c) * (r.y[0] - c);
  });
  return VsfStatus::Ok;
}

VsfStatus vsfShiftRowsSquares(VsfPassState* m, QkPageDescriptor* page) {
  vsfShiftRows(m, page);
  return vsfYpwY(m, page);
}
VsfStatus vsfShiftRowsSquares_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                                int64_t length) {
  vsfShiftRows(m, page);
  return vsfYpwY_t(m, page, buffer, length);
}

VsfStatus vsfSpreads(VsfPassState* m, QkPageDescriptor* page) {
  spreadsBody(m, page, m->moments.spreadSums, m->moments.spreadSums + m->parmCount);
  return VsfStatus::Ok;
}
VsfStatus vsfSpreads_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  spreadsBody(m, page, buffer, buffer + m->parmCount);
  return VsfStatus::Ok;
}
