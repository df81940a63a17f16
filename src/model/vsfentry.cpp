// An effect's entry into the model: its new rows of X'X (from kept or stored cross products,
// its own block, or one data pass; every fold's from the folds' own parts), the extension of
// the swept matrix by them or a sweep of every column again, and the judgement of an entry
// the rank rule would refuse. Declared in model/vsfsweep.h.
#include "model/vsfsweep.h"

#include "kernels/vsfxpx.h"
#include "model/vsffoldmove.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfrefine.h"
#include "model/vsfstructured.h"
#include "model/vsfsweepinternal.h"
#include "model/vsftrial.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

using namespace sweeping;

namespace {

[[nodiscard]] bool trialSelect(const VsfModel* m) {
  const VsfCriterion s = m->options->select;
  return s == VsfCriterion::Press || s == VsfCriterion::Validate || s == VsfCriterion::Cv;
}

// Fills new row r of a triangle from stored cross products (and, for the entering effect's
// own columns without a slot, from its block).
void rowFromCross(VsfModel* m, double* T, const double* cross, double* const* blocks, int32_t k,
                  int32_t c, bool ownFromBlock) {
  const int64_t N = m->parmCount + 1;
  const int64_t r = m->xpxColumns + c;
  const int64_t p = m->effectFirstColumn[k] + c;
  double* R = T + tri(r);
  int64_t col = 0;
  R[col++] = cross[p];
  const int32_t last = m->inModelCount - 1;
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t e = m->inModelList[i];
    const int32_t n = m->effectColumns[e];
    if (e == k && ownFromBlock) {
      const double* B = blocks[k];
      for (int32_t cc = 0; cc <= c; ++cc)
        R[col++] = B[at(c, cc)];
      continue;
    }
    for (int32_t cc = 0; cc < n && col <= r; ++cc)
      R[col++] = cross[(m->crossSlot[e] + cc) * N + p];
  }
}

// Fills the new rows of an entering effect from its own kept cross products, which hold its
// products with the response and with every column, the model's among them: the sums its
// rows' pass would form, term for term.
void rowsFromOwnCross(VsfModel* m, int32_t k) {
  const int64_t N = m->parmCount + 1;
  const int64_t m0 = m->xpxColumns;
  for (int32_t c = 0; c < m->effectColumns[k]; ++c) {
    const double* own = m->cross + (m->crossSlot[k] + c) * N;
    double* R = m->xpx + tri(m0 + c);
    std::fill(R, R + m0 + c + 1, 0.0);
    R[0] = own[0];
    for (int32_t i = 0; i < m->inModelCount; ++i) {
      const int32_t e = m->inModelList[i];
      const int64_t c0 = e == k ? m0 : m->effectColumn[e];
      const int32_t n = e == k ? c + 1 : m->effectColumns[e];
      for (int32_t q = 0; q < n; ++q)
        R[c0 + q] = own[m->effectFirstColumn[e] + q];
    }
  }
}

} // namespace

namespace {

// The entering effect k's new rows [from, to) of the triangle (its columns at the triangle's
// column count, against the response and the in-model columns) from the folds' own parts:
// the model's total and each fold's the other folds'.
void entryRowsOutsideFolds(VsfModel* m, int32_t k, int64_t from, int64_t to) {
  if (!vsfFoldsMoved(m)) {
    foldSumsOutside(
        m->xpx, m->cv.foldCount, [m](int32_t f) { return m->cv.folds[f].xpx; }, from, to);
    return;
  }
  // Each triangle column's parameter (1 + p; the response 0).
  const int32_t m0 = m->xpxColumns;
  std::vector<int64_t> parm(static_cast<size_t>(m0 + m->effectColumns[k]), 0);
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    const int64_t c0 = e == k ? m0 : m->effectColumn[e];
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      parm[static_cast<size_t>(c0 + q)] = 1 + m->parmOffset[e] + q;
  }
  vsfFoldSumsMoved(
      m, m->xpx, [m](int32_t f) { return m->cv.folds[f].xpx; }, from, to,
      [&parm, m0](int64_t i, int64_t& a, int64_t& b) {
        const int64_t r = packed::rowOf(i, m0);
        a = parm[static_cast<size_t>(r)];
        b = parm[static_cast<size_t>(i - tri(r))];
      });
}

// Forms the new rows of X'X of effect k, entering at the triangle's column count (from its
// kept or stored cross products, or a pass over the pages), in the triangle and each fold's,
// and places the effect there. The triangle has room for them; k is last in the model's list.
[[nodiscard]] VsfStatus formEntryRows(VsfModel* m, int32_t k, uint8_t trial) {
  const VsfModelOptions* o = m->options;
  const int32_t nk = m->effectColumns[k];
  const int32_t m0 = m->xpxColumns, m1 = m0 + nk;
  const bool stored = o->storeCross != 0 && m->cross != nullptr;
  if (!stored && m->path.larCrossBytes > 0 && m->crossSlot[k] != -1 && !cvFolds(m)) {
    rowsFromOwnCross(m, k);
  } else if (stored && m->crossSlot[k] != -1) {
    for (int32_t c = 0; c < nk; ++c) {
      rowFromCross(m, m->xpx, m->cross, m->effectBlocks, k, c, false);
      if (cvFolds(m))
        for (int32_t f = 0; f < m->cv.foldCount; ++f)
          rowFromCross(m, m->cv.folds[f].xpx, m->cv.folds[f].cross, m->cv.folds[f].effectBlocks, k,
                       c, false);
    }
  } else if (stored && trial == 1) {
    for (int32_t c = 0; c < nk; ++c) {
      rowFromCross(m, m->xpx, m->cross, m->effectBlocks, k, c, true);
      if (cvFolds(m))
        for (int32_t f = 0; f < m->cv.foldCount; ++f)
          rowFromCross(m, m->cv.folds[f].xpx, m->cv.folds[f].cross, m->cv.folds[f].effectBlocks, k,
                       c, true);
    }
  } else {
    const int64_t from = tri(m0), to = tri(m1);
    std::fill(m->xpx + from, m->xpx + to, 0.0);
    if (cvFolds(m))
      for (int32_t f = 0; f < m->cv.foldCount; ++f)
        std::fill(m->cv.folds[f].xpx + from, m->cv.folds[f].xpx + to, 0.0);
    m->effectColumn[k] = m0;
    if (const VsfStatus rc = vsfDataPass(m, vsfEffXpX, vsfEffXpX_t, to - from); rc != VsfStatus::Ok)
      return rc;
    if (cvFolds(m))
      entryRowsOutsideFolds(m, k, from, to);
    if (vsfMethodRidge(o->method) && m->elnetPass.l2 > 0 && m->effectStatus[k] == VES_SELECTED)
      for (int32_t r = m0; r < m1; ++r)
        m->xpx[diag(r)] += (m->totals.nObs - 1) * m->elnetPass.l2;
  }
  m->effectColumn[k] = m0;
  return VsfStatus::Ok;
}

// Sweeps the model's m1 columns again from X'X (every fold's from its own), in order.
void resweepFromXpx(VsfModel* m, int32_t m1) {
  m->xpxColumns = m1;
  const int64_t T = tri(m1);
  std::fill(m->sweepFlags, m->sweepFlags + m1, '0');
  std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * T);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      std::fill(m->cv.folds[f].sweepFlags, m->cv.folds[f].sweepFlags + m1, '0');
      std::memcpy(m->cv.folds[f].sweptXpx, m->cv.folds[f].xpx, sizeof(double) * T);
    }
  m->rank = 0;
  for (int32_t c = 1; c < m1; ++c)
    sweepIn(m, c);
}

// Makes room in the triangle for m1 columns.
[[nodiscard]] VsfStatus growTriangle(VsfModel* m, int32_t m1) {
  if (m1 <= m->xpxCapacity)
    return VsfStatus::Ok;
  int32_t c = std::max(m1, 2 * m->xpxCapacity);
  c = std::min(c, m->parmCount + 1);
  // Doubling stops at the largest triangle when the columns needed still fit in it.
  if (m1 <= kVsfMaxTriangleColumns)
    c = std::min(c, kVsfMaxTriangleColumns);
  const VsfStatus rc = vsfAddXpXMemory(m, c);
  assert((rc != VsfStatus::Ok || m1 <= m->xpxCapacity) && "X'X has room for the entering columns");
  return rc;
}

} // namespace

VsfStatus vsfAddEffect(VsfModel* m, int32_t k, uint8_t resweepAll, uint8_t trial) {
  assert(k >= 0 && k < m->effectCount && "an effect of the model enters");
  if (m->effectStatus[k] == VES_UNAVAILABLE)
    return VsfStatus::Ok;
  assert(m->inModelCount < m->effectCount && "the in-model list has room for one more");
  m->inModelList[m->inModelCount++] = k;
  if (m->effectStatus[k] != VES_INTERCEPT && m->effectStatus[k] != VES_FORCED)
    m->effectStatus[k] = VES_SELECTED;
  const int32_t nk = m->effectColumns[k];

  if (m->structured != nullptr && k == m->structured->effect) {
    if (const VsfStatus rc = vsfStructuredEnter(m); rc != VsfStatus::Ok)
      return rc;
  } else if (vsfFullXpxOn(m)) {
    // The structured road's trials work on a copy of its small triangles, not a collapse.
    if (trial == 0 || m->structured != nullptr) {
      sweepInRun(m, m->effectColumn[k], nk);
    } else {
      vsfEffectXpXiCollapse(m, k);
      const int32_t c0 = m->effectColumn[k];
      if (trialSelect(m) || m->trial.trialsSweptFully) {
        sweepInRun(m, c0, nk);
      } else {
        (void)partialRun(m, c0, nk);
      }
    }
  } else {
    const int32_t m0 = m->xpxColumns, m1 = m0 + nk;
    const bool formed = m->formedEntry == k + 1 && m->formedEntryAt == m0;
    m->formedEntry = 0;
    if (const VsfStatus rc = growTriangle(m, m1); rc != VsfStatus::Ok)
      return rc;
    if (formed) {
      m->effectColumn[k] = m0;
    } else if (const VsfStatus rc = formEntryRows(m, k, trial); rc != VsfStatus::Ok) {
      return rc;
    }

    // Extending the swept matrix by the new rows multiplies them by the inverse of the swept
    // block, whose rounding grows with its conditioning: a nearly dependent model sweeps
    // every column again from X'X instead, so that the new pivots are those of elimination.
    if (vsfNearlyDependent(vsfLargestInflation(m)))
      resweepAll = 1;
    if (resweepAll) {
      resweepFromXpx(m, m1);
    } else {
      for (int32_t c = m0; c < m1; ++c)
        m->sweepFlags[c] = '0';
      if (cvFolds(m))
        for (int32_t f = 0; f < m->cv.foldCount; ++f)
          for (int32_t c = m0; c < m1; ++c)
            m->cv.folds[f].sweepFlags[c] = '0';
      vsfUpdateXpXi(m);
      if (trialSelect(m) || trial == 0 || m->trial.trialsSweptFully) {
        sweepInRun(m, m0, m1 - m0);
        // An entry that makes the model nearly dependent is judged as every later entry will
        // judge the model's columns, by elimination from X'X: a column the extension took
        // would otherwise be refused at the next entry, while its coefficient is in the fit.
        if (vsfNearlyDependent(vsfLargestInflation(m)))
          resweepFromXpx(m, m1);
      } else {
        (void)partialRun(m, m0, m1 - m0);
      }
    }
  }

  if (m->structured != nullptr && k != m->structured->effect)
    if (const VsfStatus rc = vsfStructuredRefresh(m); rc != VsfStatus::Ok)
      return rc;
  clearCache(m);
  if (trial == 0 && m->hier.hierarchy && m->hier.hierListA != nullptr &&
      m->hier.hierListB != nullptr) {
    for (int32_t i = 0; i < m->hier.hierDropCountInit[k]; ++i)
      m->hier.hierAddCount[m->hier.hierListB[k][i]] -= 1;
    for (int32_t i = 0; i < m->hier.hierAddCountInit[k]; ++i)
      m->hier.hierDropCount[m->hier.hierListA[k][i]] -= 1;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfEntryRefused(VsfModel* m, int32_t k, bool* refused) {
  *refused = false;
  if (m->effectColumns[k] != 1 || m->structured != nullptr)
    return VsfStatus::Ok;
  if (vsfFullXpxOn(m)) {
    *refused = vsfSweepRefuses(m, m->effectColumn[k]);
    return VsfStatus::Ok;
  }
  // The entry would sweep every column again from X'X: it judges the column itself.
  if (vsfNearlyDependent(vsfLargestInflation(m)))
    return VsfStatus::Ok;
  const int32_t m0 = m->xpxColumns;
  if (const VsfStatus rc = growTriangle(m, m0 + 1); rc != VsfStatus::Ok)
    return rc;
  // The effect enters as far as its row of X'X and the swept matrix's extension by it, past
  // the model's columns (every fold's too), and leaves again; the pivot is the one its entry
  // would judge.
  const int32_t column = m->effectColumn[k];
  const uint8_t status = m->effectStatus[k];
  m->inModelList[m->inModelCount++] = k;
  m->effectStatus[k] = VES_SELECTED;
  const VsfStatus rc = formEntryRows(m, k, 0);
  if (rc == VsfStatus::Ok) {
    m->sweepFlags[m0] = '0';
    vsfUpdateXpXi(m);
    *refused = vsfSweepRefuses(m, m0);
    m->formedEntry = k + 1;
    m->formedEntryAt = m0;
  }
  m->xpxColumns = m0;
  m->inModelCount -= 1;
  m->effectStatus[k] = status;
  m->effectColumn[k] = column;
  return rc;
}

void vsfUpdateXpXi(VsfModel* m) {
  const int32_t m0 = m->xpxColumns;
  const int32_t k = m->inModelList[m->inModelCount - 1];
  const int32_t m1 = m0 + m->effectColumns[k];
  m->xpxColumns = m1;
  auto extend = [&](const double* U, double* W, const char* flags) {
    std::memcpy(W + tri(m0), U + tri(m0), sizeof(double) * (tri(m1) - tri(m0)));
    int32_t S[1];
    (void)S;
    double* t = m->workVector; // t_j for the swept old columns
    for (int64_t r = m0; r < m1; ++r) {
      double* R = W + tri(r);
      for (int64_t j = 1; j < m0; ++j) {
        t[j] = 0.0;
        if (flags[j] != '1')
          continue;
        double s = 0.0;
        for (int64_t i = 1; i < m0; ++i)
          if (flags[i] == '1')
            s += U[at(r, i)] * W[sym(i, j)];
        t[j] = s;
      }
      // Every column outside the swept set: the column less its projection on that set.
      for (int64_t c = 0; c <= r; ++c) {
        if (c > 0 && c < m0 && flags[c] == '1')
          continue;
        double s = 0.0;
        for (int64_t i = 1; i < m0; ++i)
          if (flags[i] == '1')
            s += t[i] * U[sym(c, i)];
        R[c] = U[at(r, c)] - s;
      }
      // Swept columns: the projection coefficients (the sign the sweep gives a swept
      // column left of an unswept one).
      for (int64_t j = 1; j < m0; ++j)
        if (flags[j] == '1')
          R[j] = t[j];
    }
  };
  extend(m->xpx, m->sweptXpx, m->sweepFlags);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f)
      extend(m->cv.folds[f].xpx, m->cv.folds[f].sweptXpx, m->cv.folds[f].sweepFlags);
}
