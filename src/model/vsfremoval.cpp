// An effect's removal from the model: reverse sweeps of its columns where they keep their
// accuracy, else a rebuild of the swept matrix from X'X; the columns retaken after it, the
// re-entry of an effect at its old place, and the physical deletion of a growing triangle's
// columns. Declared in model/vsfsweep.h.
#include "model/vsfsweep.h"

#include "model/vsffoldmove.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"
#include "model/vsfsweepinternal.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

using namespace sweeping;

namespace {

// A reverse sweep of column c divides by its swept diagonal, the diagonal of the inverse of
// the swept block; that times c's unswept diagonal is the factor by which the columns left in
// the model fall short of explaining c, and by which the reverse sweep magnifies the rounding
// the swept matrix holds. Beyond this factor the removal rebuilds the swept matrix instead:
// at 2^10 a removal adds at most about 1e-13 of the total to the error SS; at 2^16 a few
// removals from a degree-10 polynomial left it 4e-11 of the total above the least squares.
constexpr double kVsfReverseSweepLimit = 0x1p10;

// Whether the swept matrix can be rebuilt from the unswept X'X by sweeping the model's columns
// in again: not while the structured road's many-level effect is in the model (it is kept
// outside the triangle; once it has left, the triangle holds every column the model has), nor
// on the standardized columns of the penalized paths (which keep their own intercept).
[[nodiscard]] bool rebuildable(const VsfModel* m) {
  return (m->structured == nullptr || !m->structured->inModel) && !m->options->colStandardize;
}

// Whether undoing the entry of columns c0 .. c0 + nk - 1 by reverse sweeps would lose
// accuracy in one swept matrix: one of them has a swept diagonal that is not positive or
// beyond kVsfReverseSweepLimit of its unswept one (the diagonals of the columns after it only
// shrink as the effect's columns leave).
[[nodiscard]] bool unsweepLoses(const double* xpx, const double* swept, const char* flags,
                                int32_t c0, int32_t nk) {
  for (int32_t c = c0; c < c0 + nk; ++c) {
    const double factor = xpx[diag(c)] * swept[diag(c)];
    if (flags[c] == '1' && !(factor > 0.0 && factor <= kVsfReverseSweepLimit))
      return true;
  }
  return false;
}

// Whether undoing effect k's entry by reverse sweeps would lose accuracy in the model's swept
// matrix or in a fold record's: a fold's rows may leave the effect far more nearly dependent
// than all of them do, and a record whose coefficients are a refit from its rows
// (vsfFoldRecordsRefitted) no longer matches the rest of its swept matrix.
[[nodiscard]] bool reverseSweepsLoseAccuracy(VsfModel* m, int32_t k) {
  const int32_t c0 = m->effectColumn[k], nk = m->effectColumns[k];
  if (unsweepLoses(m->xpx, m->sweptXpx, m->sweepFlags, c0, nk))
    return true;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      if (unsweepLoses(m->cv.folds[f].xpx, m->cv.folds[f].sweptXpx, m->cv.folds[f].sweepFlags, c0,
                       nk))
        return true;
  return cvFolds(m) && vsfFoldRecordsRefitted(m);
}

// Unsweeps effect k's columns and takes again the model's columns that were left out, since
// one of them may have depended on a column that has just left. Returns whether it took one.
[[nodiscard]] bool reverseSweepEffect(VsfModel* m, int32_t k) {
  const int32_t c0 = m->effectColumn[k], nk = m->effectColumns[k];
  const int32_t structured = m->structured != nullptr ? m->structured->effect : -1;
  if (k == structured) {
    vsfStructuredLeave(m);
  } else if (!vsfStructuredDropSmall(m, k)) {
    assert(c0 >= 0 && c0 + nk <= m->xpxColumns && "a swept effect's columns lie within X'X");
    for (int32_t j = nk - 1; j >= 0; --j) {
      if (m->sweepFlags[c0 + j] == '1')
        vsfSweep(m, c0 + j);
      vsfCVSweep(m, c0 + j, '1');
    }
  }
  // A column of the structured effect left out may have depended on a column that has just
  // left: its columns are taken again against the small columns still in.
  if (k != structured && structured != -1)
    vsfStructuredRetake(m); // a failure is kept in passFailure, which ends the fit
  const bool skipIntercept = m->options->colStandardize && !m->options->noint;
  bool retook = false;
  for (int32_t p = skipIntercept ? 1 : 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (e == k || e == structured)
      continue;
    for (int32_t j = 0; j < m->effectColumns[e]; ++j) {
      const int32_t c = m->effectColumn[e] + j;
      if (m->sweepFlags[c] == '0') {
        vsfSweep(m, c);
        retook = retook || m->sweepFlags[c] == '1';
      }
      vsfCVSweep(m, c, '0');
    }
  }
  (void)vsfStructuredRefresh(m); // a failure is kept in passFailure, which ends the fit
  return retook;
}

// Sweeps column k in where `taken` flags it, past the rank rule: a column a state of the
// model held, whose columns the rebuild takes again as a set (only a pivot that is not
// positive, or within the tiny pivot, is refused).
void sweepTaken(VsfModel* m, int32_t k, const char* taken) {
  if (taken[k] == '1') {
    const double s = m->sweptXpx[diag(k)];
    const double tol = vsfTinyPivotFloor(s, 0.0);
    qkzsweep(m->sweptXpx, k, m->xpxColumns, m->sweepFlags, m->workVector, tol, vsfSweepThreads(m));
    m->rank += m->sweepFlags[k] == '1' ? 1 : 0;
  }
  vsfCVSweep(m, k, '0');
}

// Takes effect k out of the model's list (and its rows out of a growing triangle), keeping
// its old place in droppedFrom; mode 2 also gives its place back to the containment counts.
void takeOutOfList(VsfModel* m, int32_t k, uint8_t mode) {
  int32_t p = 0;
  while (p < m->inModelCount && m->inModelList[p] != k)
    ++p;
  if (p == m->inModelCount)
    return;
  m->droppedFrom = p;
  if (!vsfFullXpxOn(m)) {
    if (p != m->inModelCount - 1)
      vsfPhysicalDelete(m, p);
    m->xpxColumns -= m->effectColumns[k];
  }
  for (int32_t i = p; i + 1 < m->inModelCount; ++i)
    m->inModelList[i] = m->inModelList[i + 1];
  m->inModelCount -= 1;
  m->effectStatus[k] = VES_CANDIDATE;
  if (mode == 2 && m->hier.hierarchy && m->hier.hierListA != nullptr &&
      m->hier.hierListB != nullptr) {
    for (int32_t i = 0; i < m->hier.hierDropCountInit[k]; ++i)
      m->hier.hierAddCount[m->hier.hierListB[k][i]] += 1;
    for (int32_t i = 0; i < m->hier.hierAddCountInit[k]; ++i)
      m->hier.hierDropCount[m->hier.hierListA[k][i]] += 1;
  }
}

// Whether the model holds its intercept alone once effect k has left: its error SS is then
// the corrected total, which a rebuild gives bit for bit (the intercept swept alone from the
// unswept sums, as the total was formed), where reverse sweeps would leave their rounding.
[[nodiscard]] bool leavesInterceptAlone(const VsfModel* m, int32_t k) {
  if (m->options->noint || m->inModelCount != 2)
    return false;
  return (m->inModelList[0] == 0 && m->inModelList[1] == k) ||
         (m->inModelList[1] == 0 && m->inModelList[0] == k);
}

} // namespace

void vsfDropEffect(VsfModel* m, int32_t k, uint8_t mode) {
  assert(k >= 0 && k < m->effectCount && "an effect of the model leaves");
  if (m->effectStatus[k] == VES_UNAVAILABLE)
    return;
  const bool rebuild =
      rebuildable(m) && (reverseSweepsLoseAccuracy(m, k) || leavesInterceptAlone(m, k));
  // With the many-level effect in the model the triangle is rebuilt from its reduced form.
  const VsfStructured* st = m->structured;
  const bool reduce = st != nullptr && st->inModel && k != st->effect && !rebuild &&
                      reverseSweepsLoseAccuracy(m, k);
  // A column taken again after the removal was judged against every column still in, those
  // after it among them, where a fit of the remaining effects judges it against the columns
  // before it only: the set taken then depends on the road to the model (a refused column
  // can end up refused against columns taken after it). The matrix is then rebuilt, so that
  // the model is the one a fit of the remaining effects takes.
  const bool retook = !rebuild && reverseSweepEffect(m, k);
  if (reduce)
    vsfStructuredResweep(m);
  if (mode != 0)
    takeOutOfList(m, k, mode);
  if (rebuild || (retook && rebuildable(m)))
    vsfResweepModel(m, mode == 0 ? k : -1);
  clearCache(m);
}

void vsfResweepModel(VsfModel* m, int32_t except, int32_t moved, int32_t movedAt,
                     const char* taken) {
  const int64_t n = m->xpxColumns;
  vsfCopyTriangle(m, m->sweptXpx, m->xpx, n);
  std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      std::memcpy(F.sweptXpx, F.xpx, sizeof(double) * static_cast<size_t>(tri(n)));
      std::fill(F.sweepFlags, F.sweepFlags + n, '0');
    }
  std::vector<int32_t> order;
  for (int32_t p = 0; p < m->inModelCount; ++p)
    if (m->inModelList[p] != except && m->inModelList[p] != moved)
      order.push_back(m->inModelList[p]);
  if (moved != -1)
    order.insert(
        order.begin() + std::clamp<int32_t>(movedAt, 0, static_cast<int32_t>(order.size())), moved);
  m->rank = 0;
  m->sweptInflation = 0.0;
  for (const int32_t e : order) {
    if (taken == nullptr)
      sweepInRun(m, m->effectColumn[e], m->effectColumns[e]);
    else
      for (int32_t j = 0; j < m->effectColumns[e]; ++j)
        sweepTaken(m, m->effectColumn[e] + j, taken);
  }
  clearCache(m);
}

VsfStatus vsfReenterEffect(VsfModel* m, int32_t k, int32_t rank, uint8_t resweepAll,
                           const char* taken) {
  const int32_t at = m->droppedFrom;
  const VsfStatus rc = vsfAddEffect(m, k, resweepAll, 0);
  if (rc != VsfStatus::Ok || !rebuildable(m))
    return rc;
  if (taken != nullptr && vsfFullXpxOn(m)) {
    if (!std::equal(m->sweepFlags, m->sweepFlags + m->xpxColumns, taken))
      vsfResweepModel(m, -1, k, at, taken);
  } else if (m->rank != rank) {
    vsfResweepModel(m, -1, k, at);
  }
  return VsfStatus::Ok;
}

void vsfPhysicalDelete(VsfModel* m, int32_t p) {
  assert(p >= 0 && p < m->inModelCount && "a position of the in-model list");
  const int32_t e = m->inModelList[p];
  const int64_t c0 = m->effectColumn[e], w = m->effectColumns[e];
  const int64_t n = m->xpxColumns;
  assert(c0 >= 0 && c0 + w <= n && "the leaving effect's columns lie within X'X");
  auto shrink = [&](double* A) {
    for (int64_t r = c0 + w; r < n; ++r) {
      const double* src = A + tri(r);
      double* dst = A + tri(r - w);
      std::memmove(dst, src, sizeof(double) * c0);
      std::memmove(dst + c0, src + c0 + w, sizeof(double) * (r - c0 - w + 1));
    }
  };
  auto shrinkFlags = [&](char* F) {
    std::memmove(F + c0, F + c0 + w, static_cast<size_t>(n - c0 - w));
  };
  shrink(m->xpx);
  shrink(m->sweptXpx);
  shrinkFlags(m->sweepFlags);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      shrink(m->cv.folds[f].xpx);
      shrink(m->cv.folds[f].sweptXpx);
      shrinkFlags(m->cv.folds[f].sweepFlags);
    }
  for (int32_t i = p; i < m->inModelCount; ++i)
    m->effectColumn[m->inModelList[i]] -= static_cast<int32_t>(w);
}
