// The coefficients of cross-validation folds whose sums cannot hold their held-out error,
// from a triangular factor of each such fold's training rows formed by plane rotations.
#include "model/vsffoldfactor.h"

#include "data/vsfutilfile.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfrowwalk.h"
#include "model/vsfmodel.h"
#include "model/vsfpressfactor.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "support/hostif.h"

#include <algorithm>
#include <cmath>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using packed::at;
using packed::sym;

// The structured road's many-level effect, when fold f's record holds it.
[[nodiscard]] const VsfStructured* foldEffect(const VsfModel* m, int32_t f) {
  const VsfStructured* st = m->structured;
  return st != nullptr && st->folds != nullptr && st->folds[f].inModel ? &st->folds[f] : nullptr;
}

// The model's swept columns by place, each X'X column's place: the fold refits the model's
// columns, and those its sums lost the factor judges from its rows. The many-level effect's
// columns the record's state has swept or its sums lost (VsfStructured::lost) come first: a
// row has one or few of them, and its rotations then fill in only those places and the rest.
// The places follow the effects' numbers, not the X'X layout, which a trial collapses to the
// order of entry: a candidate's trial and its step rotate the rows in one order and give one
// refit to the last bit.
void placeColumns(const VsfModel* m, int32_t f, VsfFoldFactors::Fold& F) {
  std::vector<std::tuple<int, int64_t, int64_t>> columns; // (single, effect and column, column)
  const VsfStructured* st = foldEffect(m, f);
  if (st != nullptr)
    for (int64_t j = 0; j < st->columns; ++j)
      if (st->swept[j] == '1' || st->lost[j] == '1')
        columns.emplace_back(-1, j, -1 - j);
  for (const VsfSweptColumn& s : vsfSweptColumns(m, m->sweepFlags))
    columns.emplace_back(m->effectColumns[s.effect] == 1 ? 1 : 0,
                         int64_t{s.effect} * m->xpxColumns + s.q, s.column);
  std::sort(columns.begin(), columns.end());
  F.fold = f;
  F.place.assign(static_cast<size_t>(m->xpxColumns), -1);
  F.effectPlace.assign(st != nullptr ? static_cast<size_t>(st->columns) : 0, -1);
  F.column.clear();
  for (const auto& [single, order, c] : columns) {
    const int32_t p = static_cast<int32_t>(F.column.size());
    (c >= 0 ? F.place[static_cast<size_t>(c)] : F.effectPlace[static_cast<size_t>(-1 - c)]) = p;
    F.column.push_back(c);
  }
}

// Whether X'X column c belongs to an effect stored dense on the pages.
[[nodiscard]] bool denseColumn(const VsfModel* m, int64_t c) {
  if (c < 0)
    return false;
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (c >= m->effectColumn[e] && c < int64_t{m->effectColumn[e]} + m->effectColumns[e])
      return m->layout.sparseSlot == nullptr || m->layout.sparseSlot[e] < 0;
  }
  return false;
}

// The centre of each place: the record's shift of the column (its rows as the record holds
// them, vsfFoldResponseShift's frame) and, where the fold's model holds the intercept, the
// training rows' mean in that frame from the record's sums, so that the rotations see the
// columns' spread and not their distance from the frame's origin. Sparse columns stay raw, as
// the records keep them.
void placeCentres(const VsfModel* m, VsfFoldFactors::Fold& F, bool centred) {
  const VsfFoldRecord& R = m->cv.folds[F.fold];
  const size_t k = F.column.size();
  F.centre.assign(k + 1, 0.0);
  F.mean.assign(k + 1, 0.0);
  const double* t = m->cv.foldShift != nullptr
                        ? m->cv.foldShift + static_cast<size_t>(F.fold) * (m->parmCount + 1)
                        : nullptr;
  std::vector<double> shift(static_cast<size_t>(m->xpxColumns), 0.0);
  if (t != nullptr)
    for (int32_t i = 0; i < m->inModelCount; ++i) {
      const int32_t e = m->inModelList[i];
      for (int32_t q = 0; q < m->effectColumns[e] && m->effectColumn[e] + q < m->xpxColumns; ++q)
        shift[static_cast<size_t>(m->effectColumn[e] + q)] = t[1 + m->parmOffset[e] + q];
    }
  const double weight = centred ? R.xpx[at(1, 1)] : 0.0;
  const bool hasMean = weight > 0.0 && std::isfinite(weight);
  for (size_t p = 0; p < k; ++p) {
    const int64_t c = F.column[p];
    if (hasMean && c != 1 && denseColumn(m, c))
      F.mean[p] = R.xpx[sym(c, 1)] / weight;
    F.centre[p] = (c >= 0 ? shift[static_cast<size_t>(c)] : 0.0) + F.mean[p];
  }
  F.mean[k] = hasMean ? R.xpx[at(1, 0)] / weight : 0.0;
  F.centre[k] = (t != nullptr ? t[0] : 0.0) + F.mean[k];
}

// Rotates every training row of the page into the factor of each fold it trains, its values
// less the fold's centres and scaled by the square root of its weight.
VsfStatus foldFactorRows(VsfPassState* m, QkPageDescriptor* page) {
  const VsfRowShape S = vsfRowShape(m);
  std::vector<VsfFoldFactors::Fold>& folds = m->foldFactors->folds;
  std::vector<VsfSweptGather> gathers;
  gathers.reserve(folds.size());
  for (size_t j = 0; j < folds.size(); ++j)
    gathers.emplace_back(m, m->sweepFlags);
  VsfGathered g;
  std::vector<double> z;
  return vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& r) {
    const double w = r.trainWeight;
    if (isHostMissing(w) || !(w > 0.0))
      return;
    const double root = std::sqrt(w);
    for (size_t j = 0; j < folds.size(); ++j) {
      VsfFoldFactors::Fold& F = folds[j];
      if (r.target == F.fold)
        continue;
      gathers[j](S, r, g);
      const size_t k = F.column.size();
      z.assign(k + 1, 0.0);
      for (size_t i = 0; i < g.col.size(); ++i)
        if (g.col[i] < m->xpxColumns && F.place[static_cast<size_t>(g.col[i])] >= 0)
          z[static_cast<size_t>(F.place[static_cast<size_t>(g.col[i])])] = g.val[i];
      if (!F.effectPlace.empty()) {
        const int32_t slot = m->layout.sparseSlot[m->structured->effect];
        for (int32_t a = r.slotBegin(S, slot); a < r.slotEnd(S, slot); ++a)
          if (const int32_t p = F.effectPlace[static_cast<size_t>(r.storedIndex(S, a))]; p >= 0)
            z[static_cast<size_t>(p)] = r.sparseValues[a];
      }
      z[k] = r.y[0];
      for (size_t p = 0; p <= k; ++p) {
        z[p] = (z[p] - F.centre[p]) * root;
        F.norm2[p] += z[p] * z[p];
      }
      vsfRotateIn(F.lower.data(), static_cast<int64_t>(k + 1), z.data(), 0);
    }
  });
}

// Sweeps into fold F's record the model's columns its sums refused and its rows determine,
// so that its flags (which its held-out pass and estimates read) name the columns it refits:
// a pivot of either sign, beyond the tiny pivot, whose digits the sums lost. The record's
// swept block over them is as worn as those sums; its inflation keeps the fold on its
// factor. False where a pivot is 0 or not a number.
[[nodiscard]] bool takeColumns(VsfModel* m, const VsfFoldFactors::Fold& F) {
  VsfFoldRecord& R = m->cv.folds[F.fold];
  for (size_t p = 0; p < F.column.size(); ++p) {
    const int64_t c = F.column[p];
    if (c < 0 || R.sweepFlags[c] == '1' || F.dropped[p] != 0)
      continue;
    qkzsweep(R.sweptXpx, static_cast<int32_t>(c), m->xpxColumns, R.sweepFlags, m->workVector,
             -vsfTinyPivot(), vsfSweepThreads(m));
    if (R.sweepFlags[c] != '1')
      return false;
  }
  return true;
}

// Whether the rotations' rounding, kVsfPivotRounding of place j's column length, covers its
// pivot in F's factor: the fold's rows do not determine that column beside the places before it.
[[nodiscard]] bool undetermined(const VsfFoldFactors::Fold& F, int64_t j) {
  const double d = F.lower[static_cast<size_t>(j * (j + 1) / 2 + j)];
  return !(d > kVsfPivotRounding * std::sqrt(F.norm2[static_cast<size_t>(j)]));
}

// Whether fold F's record's sums took the column of place j (swept it, or the record's state
// swept the level).
[[nodiscard]] bool sumsTook(const VsfModel* m, const VsfFoldFactors::Fold& F, int64_t j) {
  const int64_t c = F.column[static_cast<size_t>(j)];
  if (c >= 0)
    return m->cv.folds[F.fold].sweepFlags[c] == '1';
  return m->structured->folds[F.fold].swept[-1 - c] == '1';
}

// The rows judge each column the fold's sums refused: one they do not determine beside the
// places before it (a level without training rows of its own that another such level's column
// repeats, or a column as nearly dependent in the rows as in the sums) stays out of the
// refit, as its sums left it, and its row of the factor is rotated into the places after it,
// so that the factor is that of the columns the refit holds. The others the refit takes. False
// where a column the sums took has no pivot in the rows.
[[nodiscard]] bool dropUndetermined(VsfModel* m, VsfFoldFactors::Fold& F) {
  const int64_t k = static_cast<int64_t>(F.column.size());
  F.dropped.assign(static_cast<size_t>(k), 0);
  std::vector<double> z(static_cast<size_t>(k + 1));
  for (int64_t j = 0; j < k; ++j) {
    if (!undetermined(F, j))
      continue;
    if (sumsTook(m, F, j))
      return false;
    F.dropped[static_cast<size_t>(j)] = 1;
    std::fill(z.begin(), z.end(), 0.0);
    for (int64_t l = j; l <= k; ++l)
      std::swap(z[static_cast<size_t>(l)], F.lower[static_cast<size_t>(l * (l + 1) / 2 + j)]);
    z[static_cast<size_t>(j)] = 0.0;
    vsfRotateIn(F.lower.data(), k + 1, z.data(), j + 1);
    // A level the rows do not determine is not lost: its state leaves it out.
    if (const int64_t c = F.column[static_cast<size_t>(j)]; c < 0)
      m->structured->folds[F.fold].lost[-1 - c] = '0';
  }
  return true;
}

// Solves the factor for the coefficients of its places and puts them, in the record's frame,
// into column 0 of the record's swept matrix with the training error SS at element 0; false
// (the record untouched but for the levels dropUndetermined leaves out) where a column its
// sums took has no pivot or a coefficient is not finite.
[[nodiscard]] bool solveInto(VsfModel* m, VsfFoldFactors::Fold& F) {
  if (!dropUndetermined(m, F))
    return false;
  const int64_t k = static_cast<int64_t>(F.column.size());
  const auto R = [&](int64_t j, int64_t l) {
    return F.lower[static_cast<size_t>(l * (l + 1) / 2 + j)];
  };
  std::vector<double> b(static_cast<size_t>(k), 0.0);
  for (int64_t j = k - 1; j >= 0; --j) {
    if (F.dropped[static_cast<size_t>(j)] != 0)
      continue;
    double s = R(j, k);
    for (int64_t l = j + 1; l < k; ++l)
      s -= R(j, l) * b[static_cast<size_t>(l)];
    const double d = R(j, j);
    if (!std::isfinite(s / d))
      return false;
    b[static_cast<size_t>(j)] = s / d;
  }
  if (!F.effectPlace.empty()) {
    const VsfRecordView record(m, F.fold);
    if (!vsfStructuredTakeLost(m))
      return false;
  }
  if (!takeColumns(m, F))
    return false;
  // The intercept about the training means moved back to the record's frame (whose intercept
  // column carries no shift): b1 = a + mean(y) - sum b_c mean(x_c).
  double* W = m->cv.folds[F.fold].sweptXpx;
  double moved = F.mean[static_cast<size_t>(k)];
  for (int64_t p = 0; p < k; ++p)
    moved -= b[static_cast<size_t>(p)] * F.mean[static_cast<size_t>(p)];
  std::vector<double> effect(F.effectPlace.size(), 0.0);
  for (int64_t p = 0; p < k; ++p) {
    const int64_t c = F.column[static_cast<size_t>(p)];
    if (c < 0)
      effect[static_cast<size_t>(-1 - c)] = b[static_cast<size_t>(p)];
    else if (F.dropped[static_cast<size_t>(p)] == 0)
      W[at(c, 0)] = -(b[static_cast<size_t>(p)] + (c == 1 ? moved : 0.0));
  }
  W[0] = R(k, k) * R(k, k);
  if (!effect.empty()) {
    const VsfRecordView record(m, F.fold);
    vsfStructuredEstimatesAre(m, effect.data());
  }
  return true;
}

} // namespace

bool vsfFoldFactorServes(const VsfModel* m, int32_t f) {
  int64_t count = 1;
  for (int32_t c = 1; c < m->xpxColumns; ++c)
    count += m->sweepFlags[c] == '1' ? 1 : 0;
  if (const VsfStructured* st = foldEffect(m, f); st != nullptr)
    count += st->columns;
  return count <= kVsfFoldFactorColumns;
}

VsfStatus vsfFoldsFromFactor(VsfModel* m, const std::vector<int32_t>& folds,
                             VsfFoldFactors& factors, std::vector<int32_t>& left) {
  left.clear();
  factors.folds.clear();
  if (folds.empty())
    return VsfStatus::Ok;
  const bool centred = vsfRuleCentred(m);
  for (const int32_t f : folds) {
    VsfFoldFactors::Fold& F = factors.folds.emplace_back();
    placeColumns(m, f, F);
    placeCentres(m, F, centred && m->cv.folds[f].sweepFlags[1] == '1');
    const size_t n = F.column.size() + 1;
    F.lower.assign(n * (n + 1) / 2, 0.0);
    F.norm2.assign(n, 0.0);
  }
  // The rotations do not add up as sums do: the pass runs on this thread over every page in
  // one order, so that one and eight threads give the same bits.
  m->foldFactors = &factors;
  const VsfStatus rc = vsfUtilRead(m, foldFactorRows);
  m->foldFactors = nullptr;
  if (rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  for (VsfFoldFactors::Fold& F : factors.folds)
    if (!solveInto(m, F))
      left.push_back(F.fold);
  return VsfStatus::Ok;
}

void vsfFoldFactorCorrect(VsfModel* m, const VsfFoldFactors::Fold& F, const double* xr,
                          double residualSum, const double* effectXr) {
  const size_t k = F.column.size();
  const auto R = [&](size_t j, size_t l) { return F.lower[l * (l + 1) / 2 + j]; };
  // g about the factor's centres, then R'y = g and R d = y.
  std::vector<double> d(k);
  for (size_t p = 0; p < k; ++p) {
    const int64_t c = F.column[p];
    d[p] = c >= 0 ? xr[c] - F.mean[p] * residualSum : effectXr[-1 - c];
  }
  // A place the refit left out (Fold::dropped) has a zero row in R and no correction.
  for (size_t j = 0; j < k; ++j)
    if (F.dropped[j] != 0)
      d[j] = 0.0;
  for (size_t j = 0; j < k; ++j) {
    if (F.dropped[j] != 0)
      continue;
    for (size_t l = 0; l < j; ++l)
      d[j] -= R(l, j) * d[l];
    d[j] /= R(j, j);
  }
  for (size_t j = k; j-- > 0;) {
    if (F.dropped[j] != 0)
      continue;
    for (size_t l = j + 1; l < k; ++l)
      d[j] -= R(j, l) * d[l];
    d[j] /= R(j, j);
  }
  // The intercept's correction moved back to the record's frame, as solveInto moves it.
  double moved = 0.0;
  for (size_t p = 0; p < k; ++p)
    moved -= d[p] * F.mean[p];
  std::vector<double> effect;
  if (!F.effectPlace.empty())
    effect.assign(m->structured->estimates, m->structured->estimates + m->structured->columns);
  for (size_t p = 0; p < k; ++p) {
    const int64_t c = F.column[p];
    if (c < 0)
      effect[static_cast<size_t>(-1 - c)] += d[p];
    else if (F.dropped[p] == 0)
      m->sweptXpx[at(c, 0)] -= d[p] + (c == 1 ? moved : 0.0);
  }
  if (!effect.empty())
    vsfStructuredEstimatesAre(m, effect.data());
}
