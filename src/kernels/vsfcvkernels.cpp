// Cross-validation kernels. A counted row is a TRAIN row (every row without roles) that a
// resample draws at least once; its fold code indexes the fold records. A fold code outside
// the folds fails the pass (VsfStatus::BadFoldRow) rather than writing past the records.
#include "kernels/vsfcvkernels.h"

#include "data/vsfcvexsums.h"
#include "kernels/vsfkernelsums.h"
#include "kernels/vsfrankk.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpx.h"
#include "kernels/vsfxpxstructured.h"
#include "numerics/packedtri.h"
#include "support/scratcharena.h"

#include <vector>

namespace {

// Calls fn(row, fold, f, w) for every counted row: f its frequency factor, w = weight x f.
template <class Fn> VsfStatus eachCounted(VsfPassState* m, QkPageDescriptor* page, Fn fn) {
  const VsfRowShape S = vsfRowShape(m);
  int32_t bad = 0;
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    if (S.hasRole && r.role != VSF_ROLE_TRAIN)
      return;
    const double f = S.hasResample ? r.rfreq : r.freq;
    if (S.hasResample && f == 0.0)
      return;
    if (r.fold < 0 || r.fold >= m->cv.foldCount) {
      ++bad;
      return;
    }
    fn(r, r.fold, f, r.weight * f);
  });
  return bad != 0 ? VsfStatus::BadFoldRow : VsfStatus::Ok;
}

// Per fold, the shifted rows waiting for their rank-k update.
struct FoldRows {
  int32_t order = 0;
  std::vector<double> rows;       // kVsfRankRows rows of `order` values per fold
  std::vector<int32_t> count;     // per fold
  std::vector<const double*> ptr; // kVsfRankRows per fold
  std::vector<double> w;          // kVsfRankRows per fold
  void start(int32_t folds, int32_t n) {
    order = n;
    const size_t slots = static_cast<size_t>(folds) * kVsfRankRows;
    rows.assign(slots * static_cast<size_t>(n), 0.0);
    count.assign(static_cast<size_t>(folds), 0);
    ptr.assign(slots, nullptr);
    w.assign(slots, 0.0);
  }
  double* slot(int32_t f) {
    const size_t i = static_cast<size_t>(f) * kVsfRankRows + static_cast<size_t>(count[f]);
    ptr[i] = rows.data() + i * static_cast<size_t>(order);
    return rows.data() + i * static_cast<size_t>(order);
  }
  void flush(double* T, int32_t f) {
    const size_t i = static_cast<size_t>(f) * kVsfRankRows;
    if (count[f] > 0)
      vsfRankUpdate(T, order, ptr.data() + i, w.data() + i, count[f]);
    count[f] = 0;
  }
};

} // namespace

// The thread's scratch of the cross-validation kernels (support/scratcharena.h).
struct VsfCvScratch {
  VsfGathered gathered;     // a row's swept columns under its fold's model
  FoldRows rows;            // foldXpXBody's rows, started afresh on every page
  std::vector<double> sums; // vsfCVResids' per-page sums
};
VsfCvScratch& VsfScratchArena::cv() { return part(cv_); }

namespace {

[[nodiscard]] VsfStatus cvResidsBody(VsfPassState* m, QkPageDescriptor* page, double* sums) {
  const VsfRowShape S = vsfRowShape(m);
  std::vector<VsfSweptGather> gathers;
  gathers.reserve(static_cast<size_t>(m->cv.foldCount));
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    gathers.emplace_back(m, m->cv.folds[f].sweepFlags);
  VsfGathered& g = VsfScratchArena::mine().cv().gathered;
  return eachCounted(m, page, [&](const VsfRowView& r, int32_t k, double, double w) {
    // The row's residual under its fold's model, fitted without the fold's rows.
    const VsfFoldRecord& F = m->cv.folds[k];
    gathers[static_cast<size_t>(k)](S, r, g);
    const double shift = m->cv.foldResidualShift != nullptr ? m->cv.foldResidualShift[k] : 0.0;
    const double res =
        vsfGatheredResidual(F.sweptXpx, r, g) - vsfStructuredFitted(m, k, S, r) - shift;
    sums[k] += w * res * res;
  });
}

// Adds every TRAIN row, less its fold's shift and led by a one, into its fold's triangle in
// `sums`.
void foldXpXBody(VsfPassState* m, QkPageDescriptor* page, double* sums) {
  const VsfRowShape S = vsfRowShape(m);
  const VsfCVExSums& X = *m->cvexPass.cvexSums;
  const int32_t n = X.order, K = m->cv.foldCount;
  const int64_t L = X.foldLength();
  FoldRows& P = VsfScratchArena::mine().cv().rows;
  P.start(K, n);
  double& unplaced = sums[K * L];
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    if (S.hasRole && r.role != VSF_ROLE_TRAIN)
      return;
    const double w = r.weight * r.freq;
    if (r.fold < 0 || r.fold >= K || isHostMissing(w) || vsfAnyMissing(r.y, n - 1)) {
      unplaced += 1.0;
      return;
    }
    // A row of weight 0 counts among the fold's observations and adds nothing to its sums.
    const int32_t f = r.fold;
    sums[f * L + L - 1] += r.freq;
    if (w == 0.0)
      return;
    double* x = P.slot(f);
    const double* shift = X.shift.data() + static_cast<size_t>(f) * n;
    x[0] = 1.0;
    for (int32_t i = 1; i < n; ++i)
      x[i] = r.y[i - 1] - shift[i];
    P.w[static_cast<size_t>(f) * kVsfRankRows + static_cast<size_t>(P.count[f])] = w;
    if (++P.count[f] == kVsfRankRows)
      P.flush(sums + f * L, f);
  });
  for (int32_t f = 0; f < K; ++f)
    P.flush(sums + f * L, f);
}

// The response of a row of fold k as the fold's sums take it (less the fold's centre where
// there is one).
[[nodiscard]] double foldResponse(const VsfPassState* m, const VsfRowView& r, int32_t k) {
  const double* c = vsfFoldCentre(m, vsfRowShape(m).dense + 1, k);
  return c != nullptr ? r.y[0] - c[0] : r.y[0];
}

} // namespace

VsfStatus vsfCVExFoldXpX(VsfPassState* m, QkPageDescriptor* page) {
  foldXpXBody(m, page, m->cvexPass.cvexSums->sums.data());
  return VsfStatus::Ok;
}
VsfStatus vsfCVExFoldXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  foldXpXBody(m, page, buffer);
  return VsfStatus::Ok;
}

VsfStatus vsfCVNobs(VsfPassState* m, QkPageDescriptor* page) {
  return eachCounted(m, page, [m](const VsfRowView&, int32_t k, double f, double w) {
    VsfFoldRecord& F = m->cv.folds[k];
    F.rowCount += 1.0;
    F.freqCount += f;
    F.weightCount += w;
  });
}
VsfStatus vsfCVNobs_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  const int32_t K = m->cv.foldCount;
  return eachCounted(m, page, [=](const VsfRowView&, int32_t k, double f, double w) {
    buffer[k] += 1.0;
    buffer[K + k] += f;
    buffer[2 * K + k] += w;
  });
}

VsfStatus vsfCVYpY(VsfPassState* m, QkPageDescriptor* page) {
  return eachCounted(m, page, [m](const VsfRowView& r, int32_t k, double, double w) {
    const double y = foldResponse(m, r, k);
    m->cv.folds[k].xpx[0] += w * y * y;
  });
}
VsfStatus vsfCVYpY_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return eachCounted(m, page, [=](const VsfRowView& r, int32_t k, double, double w) {
    const double y = foldResponse(m, r, k);
    buffer[k] += w * y * y;
  });
}

VsfStatus vsfCVResids(VsfPassState* m, QkPageDescriptor* page) {
  // Per-page sums first, so that the records see the same additions as the threaded form.
  std::vector<double>& sums = VsfScratchArena::mine().cv().sums;
  sums.assign(static_cast<size_t>(m->cv.foldCount), 0.0);
  const VsfStatus rc = cvResidsBody(m, page, sums.data());
  for (int32_t k = 0; k < m->cv.foldCount; ++k)
    m->cv.folds[k].cvSse += sums[static_cast<size_t>(k)];
  return rc;
}
VsfStatus vsfCVResids_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return cvResidsBody(m, page, buffer);
}

static const VsfKernelRegistration regCVExFoldXpX(vsfCVExFoldXpX, vsfCVExFoldXpX_t,
                                                  kVsfCVExFoldXpXUse);
