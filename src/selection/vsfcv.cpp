// Cross validation by folds: the fold records' starting sums. The data passes put each TRAIN
// row's sums into its own fold; a fold's model needs the sums over every other row, so the
// model's sums become the total over the folds and each fold's the sum of the other folds'.
#include "selection/vsfcv.h"

#include "data/vsfthread.h"
#include "kernels/vsfcvkernels.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpx.h"
#include "model/vsffoldmove.h"
#include "model/vsfmodel.h"
#include "model/vsfshift.h"
#include "model/vsfsweep.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

[[nodiscard]] bool foldsOn(const VsfModel* m) {
  return vsfCvOn(m) && m->cv.folds != nullptr && m->cv.foldCount > 0;
}

using packed::at;
using packed::diag;
using packed::sym;

// Whether the passes can sum each fold's rows about their own means over pages about the
// means (the caller judges the pages): with the intercept's column of ones among the dense
// columns and no ridge (whose diagonal the records are added up for); on the packed road the
// dense columns in the rows' order.
[[nodiscard]] bool centrable(const VsfModel* m, bool full) {
  const VsfModelOptions* o = m->options;
  if (!foldsOn(m) || m->layout.splitSparse || m->cvexPass.cvexSums != nullptr ||
      m->elnet.l2BaseXpx != nullptr || vsfMethodRidge(o->method) || m->effectColumns[0] != 1 ||
      m->layout.sparseSlot[0] >= 0)
    return false;
  for (int32_t e = 0; e < m->effectCount && full; ++e)
    if (m->effectColumns[e] > 0 && m->layout.sparseSlot[e] < 0 &&
        m->effectColumn[e] != 1 + m->layout.denseOffset[e])
      return false;
  return true;
}

// The arrays of the centred road (kept for the fit's later passes); false when one cannot
// be had, and the records are then summed about the pages' shift.
[[nodiscard]] bool centredArrays(VsfModel* m, int32_t order, bool full) {
  const int32_t K = m->cv.foldCount;
  const int64_t T = packed::tri(m->xpxColumns);
  m->cv.foldPartCentre = nullptr;
  if (!full) {
    m->cv.foldPartCentre = vsfModelArray<double>(m, int64_t{K} * (m->parmCount + 1));
    if (m->cv.foldPartCentre == nullptr)
      return false;
  }
  if (full && m->cv.foldOwnColumn == nullptr)
    m->cv.foldOwnColumn = vsfModelArray<int32_t>(m, m->effectCount, false);
  if (m->cv.foldShift == nullptr) {
    m->cv.foldShift = vsfModelArray<double>(m, int64_t{K} * (m->parmCount + 1));
    m->cv.foldResidualShift = vsfModelArray<double>(m, K);
  }
  m->cv.foldCentre = vsfModelArray<double>(m, vsfCVFoldMeansLength(m));
  // The growing road moves its parts with their columns' first sums: a sparse column's are
  // its raw sums, taken beside the means.
  m->cv.foldFirstSums = !full && m->layout.sparseEffectCount > 0 && m->cv.foldCentre != nullptr
                            ? m->cv.foldCentre + int64_t{K} * (order + 1)
                            : nullptr;
  bool ok = (!full || m->cv.foldOwnColumn != nullptr) && m->cv.foldShift != nullptr &&
            m->cv.foldResidualShift != nullptr && m->cv.foldCentre != nullptr;
  for (int32_t f = 0; f < K && ok && full; ++f) {
    VsfFoldRecord& F = m->cv.folds[f];
    if (F.ownXpx == nullptr)
      F.ownXpx = vsfModelArray<double>(m, T, false);
    ok = F.ownXpx != nullptr;
  }
  return ok;
}

// The parts are moved and added in extended precision, so that the records and the model's
// total carry the rounding of the pass's sums and of one store, not that of the moves.
using Wide = long double;

// A fold's own sums about its centre and what shifting them takes: its weight W (the
// intercept's diagonal) and its first sums S1 (the intercept's column), per fold; the
// shifts d(k, j) = c_j - t_k of part j into record k (k = K: into the model's total, t = 0).
struct CentredParts {
  int32_t K = 0;
  int64_t n = 0;
  std::vector<double> W, S1, d;

  [[nodiscard]] const double* shift(int32_t k, int32_t j) const {
    return d.data() + (static_cast<size_t>(k) * K + static_cast<size_t>(j)) * n;
  }
  // Element e = (a, b) of part P of fold j about the centre less d.
  [[nodiscard]] Wide moved(const double* P, int32_t j, const double* dj, int64_t a, int64_t b,
                           int64_t e) const {
    const double* s = S1.data() + static_cast<size_t>(j) * n;
    return vsfMovedPart(P[e], dj[a], dj[b], s[a], s[b], W[j]);
  }
};

// foldShift from the records' shifts t, per fold by the pass's triangle columns.
void recordShifts(VsfModel* m, const std::vector<double>& t) {
  const int64_t n = m->xpxColumns, N = m->parmCount + 1;
  for (int32_t k = 0; k < m->cv.foldCount; ++k) {
    double* s = m->cv.foldShift + k * N;
    std::fill(s, s + N, 0.0);
    s[0] = t[k * n];
    for (int32_t e = 0; e < m->effectCount; ++e)
      if (m->layout.sparseSlot[e] < 0)
        for (int32_t q = 0; q < m->effectColumns[e]; ++q)
          s[1 + m->parmOffset[e] + q] = t[k * n + m->effectColumn[e] + q];
  }
}

// Reads the parts (kept in ownXpx) and their centres, and sets foldShift.
CentredParts centredParts(VsfModel* m) {
  CentredParts p;
  const VsfFoldCentres centres = vsfFoldCentres(m);
  const int32_t K = p.K = m->cv.foldCount;
  const int64_t n = p.n = centres.n, ic = m->effectColumn[0];
  p.W = centres.W;
  p.S1.assign(static_cast<size_t>(K * n), 0.0);
  for (int32_t f = 0; f < K; ++f) {
    const double* P = m->cv.folds[f].ownXpx;
    for (int64_t a = 0; a < n; ++a)
      p.S1[f * n + a] = P[sym(a, ic)];
  }
  p.d.assign(static_cast<size_t>((K + 1) * K * n), 0.0);
  for (int32_t k = 0; k <= K; ++k)
    for (int32_t j = 0; j < K; ++j)
      for (int64_t a = 0; a < n; ++a)
        p.d[(k * K + j) * n + a] = centres.shift(k, j, a);
  recordShifts(m, centres.t);
  return p;
}

// The records of the centred road: record k is the other folds' parts moved to its mean, the
// model's total gains every part moved to the pages' shift, and fold k's own sums are its part
// moved to its record's mean. Every element adds the folds in their order.
void combineCentred(VsfModel* m) {
  const CentredParts p = centredParts(m);
  const int32_t K = p.K;
  const int64_t nd = m->cv.foldCentreOrder, ic = m->effectColumn[0];
  auto moves = [nd, ic](int64_t c) { return c < nd && c != ic; };
  for (int64_t a = 0; a < p.n; ++a)
    for (int64_t b = 0; b <= a; ++b) {
      const int64_t e = at(a, b);
      // Between columns that no fold centres (the ones, sparse columns) the parts are as
      // summed about the pages' shift, and are added up as there.
      if (!moves(a) && !moves(b)) {
        foldSumsOutside(
            m->xpx, K, [m](int32_t f) { return m->cv.folds[f].xpx; }, e, e + 1);
        continue;
      }
      Wide total = 0.0;
      for (int32_t j = 0; j < K; ++j)
        total += p.moved(m->cv.folds[j].ownXpx, j, p.shift(K, j), a, b, e);
      m->xpx[e] += static_cast<double>(total);
      for (int32_t k = 0; k < K; ++k) {
        Wide sum = 0.0;
        for (int32_t j = 0; j < K; ++j)
          if (j != k)
            sum += p.moved(m->cv.folds[j].ownXpx, j, p.shift(k, j), a, b, e);
        m->cv.folds[k].xpx[e] = static_cast<double>(sum);
      }
    }
  for (int32_t k = 0; k < K; ++k) {
    double* own = m->cv.folds[k].ownXpx;
    const double* dk = p.shift(k, k);
    for (int64_t a = 0; a < p.n; ++a)
      for (int64_t b = 0; b <= a; ++b)
        own[at(a, b)] = static_cast<double>(p.moved(own, k, dk, a, b, at(a, b)));
  }
}

// On the growing road: the folds' centres by parameter and each record's means (foldShift),
// the weighted mean of the other folds' centres.
void growingShifts(VsfModel* m) {
  const int32_t K = m->cv.foldCount, nd = m->cv.foldCentreOrder;
  const int64_t N = m->parmCount + 1;
  std::vector<double> W(static_cast<size_t>(K));
  for (int32_t f = 0; f < K; ++f) {
    const double* s = m->cv.foldCentre + static_cast<size_t>(f) * (nd + 1);
    double* c = m->cv.foldPartCentre + f * N;
    W[f] = s[0];
    std::fill(c, c + N, 0.0);
    c[0] = s[1];
    for (int32_t e = 1; e < m->effectCount; ++e)
      if (m->layout.sparseSlot[e] < 0)
        for (int32_t q = 0; q < m->effectColumns[e]; ++q)
          c[1 + m->parmOffset[e] + q] = s[2 + m->layout.denseOffset[e] + q];
  }
  const std::vector<double> t(vsfFoldRecordMeans(
      W, std::vector<double>(m->cv.foldPartCentre, m->cv.foldPartCentre + K * N), K, N, N));
  std::copy(t.begin(), t.begin() + K * N, m->cv.foldShift);
}

// total += the sum of the folds' parts; each part becomes the sum of the others'.
template <class Part> void complement(VsfModel* m, double* total, Part part, int64_t n) {
  foldSumsOutside(
      total, m->cv.foldCount, [m, part](int32_t f) { return part(m, f); }, 0, n);
}

// The columns of element i of effect e's packed block, by parameter (1 + p).
void blockColumns(const VsfModel* m, int32_t e, int64_t i, int64_t& a, int64_t& b) {
  const int64_t r = packed::rowOf(i);
  a = 1 + m->parmOffset[e] + r;
  b = 1 + m->parmOffset[e] + (i - packed::tri(r));
}

// Room for the folds' sums that a pass rewriting the pages takes as it goes, where the folds
// can be centred; null elsewhere.
[[nodiscard]] double* foldMeansRoom(VsfModel* m) {
  return centrable(m, vsfFullXpxOn(m)) ? vsfModelArray<double>(m, vsfCVFoldMeansLength(m))
                                       : nullptr;
}

// Whether the pages hold the rows about their means over all TRAIN rows: shifted, or centred
// (and scaled) for a standardized fit with an intercept.
[[nodiscard]] bool pagesAboutMeans(const VsfModel* m) {
  return m->shift.pagesShifted || (m->options->colStandardize && !m->options->noint);
}

} // namespace

VsfStatus vsfCVCounts(VsfModel* m) {
  if (!foldsOn(m))
    return VsfStatus::Ok;
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    m->cv.folds[f].rowCount = m->cv.folds[f].freqCount = m->cv.folds[f].weightCount = 0.0;
  return vsfDataPass(m, vsfCVNobs, vsfCVNobs_t, 0);
}

VsfStatus vsfCVBlocksOutsideFolds(VsfModel* m) {
  if (!foldsOn(m))
    return VsfStatus::Ok;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const int64_t n = packed::tri(m->effectColumns[e]);
    if (n > 0 && vsfFoldsMoved(m))
      vsfFoldSumsMoved(
          m, m->effectBlocks[e], [m, e](int32_t f) { return m->cv.folds[f].effectBlocks[e]; }, 0, n,
          [m, e](int64_t i, int64_t& a, int64_t& b) { blockColumns(m, e, i, a, b); });
    else if (n > 0)
      complement(
          m, m->effectBlocks[e],
          [e](VsfModel* mm, int32_t f) { return mm->cv.folds[f].effectBlocks[e]; }, n);
  }
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    m->cv.folds[f].xpx[0] = 0.0;
  const VsfStatus rc = vsfDataPass(m, vsfCVYpY, vsfCVYpY_t, 0);
  if (rc != VsfStatus::Ok)
    return rc;
  // The total is taken over the folds' own sums on the pages as they stand, so that it
  // agrees with them whatever shift or centring the pages carry.
  double total = 0.0;
  if (vsfFoldsMoved(m))
    vsfFoldSumsMoved(
        m, &total, [m](int32_t f) { return m->cv.folds[f].xpx; }, 0, 1,
        [](int64_t, int64_t& a, int64_t& b) { a = b = 0; });
  else
    complement(
        m, &total, [](VsfModel* mm, int32_t f) { return mm->cv.folds[f].xpx; }, 1);
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    m->cv.folds[f].sweptXpx[0] = m->cv.folds[f].xpx[0];
  return VsfStatus::Ok;
}

VsfStatus vsfCVShiftPages(VsfModel* m, bool withCrossProducts) {
  // Where a shift pass may run, it takes the folds' sums as it goes: the pages are shifted
  // after it where it ran.
  const bool unshifted = !m->shift.pagesShifted;
  double* room = unshifted && !withCrossProducts ? foldMeansRoom(m) : nullptr;
  m->cv.foldCentre = room;
  const VsfStatus rc = vsfShiftPages(m, withCrossProducts);
  m->cv.foldCentre = nullptr;
  if (rc == VsfStatus::Ok && unshifted && m->shift.pagesShifted)
    m->cv.foldMeansTaken = room;
  return rc;
}

VsfStatus vsfCVRewritePages(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded,
                            VsfSerialKernel withMeans, VsfThreadedKernel withMeansThreaded) {
  double* room = foldMeansRoom(m);
  m->cv.foldCentre = room;
  const VsfStatus rc = room != nullptr
                           ? vsfDataPass(m, withMeans, withMeansThreaded, vsfCVFoldMeansLength(m))
                           : vsfDataPass(m, serial, threaded, 0);
  m->cv.foldCentre = nullptr;
  m->cv.foldMeansTaken = rc == VsfStatus::Ok ? room : nullptr;
  return rc;
}

VsfStatus vsfCVCentreFolds(VsfModel* m) {
  m->cv.foldCentre = nullptr;
  const int32_t order = vsfRowShape(m).dense + 1;
  const bool full = vsfFullXpxOn(m);
  const double* taken = m->cv.foldMeansTaken;
  m->cv.foldMeansTaken = nullptr;
  if (!pagesAboutMeans(m) || !centrable(m, full) || !centredArrays(m, order, full)) {
    m->cv.foldCentre = m->cv.foldShift = m->cv.foldPartCentre = m->cv.foldFirstSums = nullptr;
    return VsfStatus::Ok;
  }
  const int32_t K = m->cv.foldCount;
  m->cv.foldCentreOrder = order;
  const int64_t length = vsfCVFoldMeansLength(m);
  const VsfStatus rc =
      taken != nullptr ? VsfStatus::Ok : vsfDataPass(m, vsfCVFoldMeans, vsfCVFoldMeans_t, length);
  if (rc != VsfStatus::Ok) {
    m->cv.foldCentre = m->cv.foldShift = m->cv.foldPartCentre = m->cv.foldFirstSums = nullptr;
    return rc;
  }
  if (taken != nullptr)
    std::memcpy(m->cv.foldCentre, taken, sizeof(double) * static_cast<size_t>(length));
  for (int32_t f = 0; f < K; ++f) {
    double* s = m->cv.foldCentre + static_cast<size_t>(f) * (order + 1);
    for (int32_t i = 1; i <= order; ++i)
      s[i] = s[0] > 0.0 ? s[i] / s[0] : 0.0;
    s[1 + 1 + m->layout.denseOffset[0]] = 0.0; // the intercept's ones stay as they are
  }
  if (!full)
    growingShifts(m);
  return VsfStatus::Ok;
}

void vsfCVFullOutsideFolds(VsfModel* m) {
  if (!foldsOn(m))
    return;
  const int64_t T = packed::tri(m->xpxColumns);
  // Each fold's own sums, kept where memory allows (the held-out errors otherwise recover
  // them from the total, at the cost of its rounding). The triangle's size is the model's.
  m->cv.foldOwnColumns = m->xpxColumns;
  if (m->cv.foldOwnColumn == nullptr)
    m->cv.foldOwnColumn = vsfModelArray<int32_t>(m, m->effectCount, false);
  if (m->cv.foldOwnColumn == nullptr)
    m->cv.foldOwnColumns = 0;
  else
    std::memcpy(m->cv.foldOwnColumn, m->effectColumn,
                sizeof(int32_t) * static_cast<size_t>(m->effectCount));
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    VsfFoldRecord& F = m->cv.folds[f];
    if (F.ownXpx == nullptr)
      F.ownXpx = vsfModelArray<double>(m, T, false);
    if (F.ownXpx == nullptr)
      m->cv.foldOwnColumns = 0;
    else
      std::memcpy(F.ownXpx, F.xpx, sizeof(double) * T);
  }
  if (m->cv.foldCentre != nullptr && m->cv.foldOwnColumns > 0)
    combineCentred(m);
  else
    complement(
        m, m->xpx, [](VsfModel* mm, int32_t f) { return mm->cv.folds[f].xpx; }, T);
  m->cv.foldCentre = nullptr;
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    std::memcpy(m->cv.folds[f].sweptXpx, m->cv.folds[f].xpx, sizeof(double) * T);
}

void vsfCVEmptyFolds(VsfModel* m, bool full) {
  if (!foldsOn(m))
    return;
  const int64_t T = full ? packed::tri(m->xpxColumns) : 1;
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    VsfFoldRecord& F = m->cv.folds[f];
    std::memcpy(F.sweptXpx, F.xpx, sizeof(double) * T);
    std::memset(F.sweepFlags, '0', static_cast<size_t>(m->xpxColumns));
  }
}
