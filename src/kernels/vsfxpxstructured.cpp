// The structured road's cross products, added as the full X'X kernel adds the same elements:
// the dense part by the rank-k update of the page's rows, the sparse values row by row; a
// cross-validation fold's rows go into that fold's own sums instead.
#include "kernels/vsfxpxstructured.h"

#include "kernels/vsfrankk.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsfxpx.h"
#include "numerics/packedtri.h"
#include "numerics/zvector.h"
#include "support/scratcharena.h"

#include <algorithm>
#include <cassert>
#include <vector>

// The thread's scratch of the structured road's cross products (support/scratcharena.h).
struct VsfStructuredScratch {
  std::vector<double> centred; // a row less its fold's centre
};
VsfStructuredScratch& VsfScratchArena::structured() { return part(structured_); }

namespace {

// The sums of one set of rows: the small triangle, the effect's diagonal and cross block,
// and of the rows with the same value in every column of the effect (the reference level
// under the effect coding) their squares and cross products with the small columns.
struct Segment {
  double* triangle;
  double* diagonal;
  double* cross;
  double* joinValue;
  double* rankOne;
  double* rankOneCross;
};

// The values of the joining effects' columns beyond the cross block's dense ones.
int64_t joinedCount(const VsfStructured* st) {
  return st->joinStart != nullptr ? st->joinStart[st->columns] : 0;
}

Segment segmentAt(const VsfStructured* st, double* buffer, int64_t index) {
  assert(index >= 0 && st->small > 0 && st->columns >= 0 && "a segment of the structured road");
  Segment s;
  s.triangle = buffer + index * vsfStructuredSegmentLength(st);
  s.diagonal = s.triangle + packed::tri(st->small);
  s.cross = s.diagonal + st->columns;
  s.joinValue = s.cross + static_cast<int64_t>(st->columns) * st->dense;
  s.rankOne = s.joinValue + joinedCount(st);
  s.rankOneCross = s.rankOne + 1;
  return s;
}

// Calls fn(column, value) for each of the row's values in the sparse effects that join the
// road (the slots before the many-level effect's, `slot`), their columns those of the small
// triangle.
template <class Fn>
void eachJoinedValue(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, int32_t slot,
                     Fn fn) {
  for (int32_t s = 0; s < slot; ++s) {
    const int32_t first = m->effectColumn[m->layout.sparseEffectList[s]];
    for (int32_t a = r.slotBegin(S, s); a < r.slotEnd(S, s); ++a)
      fn(first + r.storedIndex(S, a), r.sparseValues[a]);
  }
}

// Adds the row's values in the joining effects' columns to the small triangle `T`: their
// products with the dense values (n of them, the response first) and with each other.
void addJoined(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, int32_t slot,
               int32_t n, double w, double* T) {
  eachJoinedValue(m, S, r, slot, [&](int64_t c, double x) {
    double* R = T + packed::tri(c);
    zvaxpy(R, R, r.y, n, w * x);
    eachJoinedValue(m, S, r, slot, [&](int64_t b, double v) {
      if (b <= c)
        R[b] += w * x * v;
    });
  });
}

// Adds x times the row's small values (dense and joining) to the rankOne rows' cross
// products `R` (every small column in place).
void addCross(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, int32_t slot,
              int32_t n, double x, double* R) {
  zvaxpy(R, R, r.y, n, x);
  eachJoinedValue(m, S, r, slot, [&](int64_t b, double v) { R[b] += x * v; });
}

// Adds x times the row's small values to row j of a state's cross block (`to`): the dense
// ones in place, a joining column beyond them at its place in row j's list.
void addLevelCross(const VsfStructured* st, const Segment& to, const VsfPassState* m,
                   const VsfRowShape& S, const VsfRowView& r, int32_t slot, int32_t n, double x,
                   int64_t j) {
  double* R = to.cross + j * st->dense;
  zvaxpy(R, R, r.y, n, x);
  eachJoinedValue(m, S, r, slot, [&](int64_t b, double v) {
    if (b < st->dense) {
      R[b] += x * v;
      return;
    }
    const int32_t* first = st->joinColumn + st->joinStart[j];
    const int32_t* last = st->joinColumn + st->joinStart[j + 1];
    const int32_t* at = std::lower_bound(first, last, static_cast<int32_t>(b));
    // Missing only from a row with two of the effect's values, for which the road is given
    // up (vsfStructuredJoinPairs leaves such rows out).
    if (at != last && *at == b)
      to.joinValue[at - st->joinColumn] += x * v;
  });
}

// A fold row's dense values (n, the response first) about the fold's own means where the
// pass sums each fold about them (foldCentre; the intercept's ones keep their centre 0), in
// `centred`; the row's own values elsewhere.
double* foldRow(const VsfPassState* m, int32_t f, double* y, int32_t n,
                std::vector<double>& centred) {
  if (m->cv.foldCentre == nullptr)
    return y;
  assert(m->cv.foldCentreOrder == n && "the fold centres cover the rows' dense values");
  const double* c = m->cv.foldCentre + static_cast<size_t>(f) * (n + 1) + 1;
  centred.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    centred[static_cast<size_t>(i)] = y[i] - c[i];
  return centred.data();
}

// Adds a fold row's dense values to its fold's small triangle `T`.
void addFoldRow(double* T, const double* y, int32_t n, double w) {
  for (int32_t i = 0; i < n; ++i) {
    double* R = T + packed::tri(i);
    const double v = w * y[i];
    for (int32_t j = 0; j <= i; ++j)
      R[j] += v * y[j];
  }
}

} // namespace

int64_t vsfStructuredSegmentLength(const VsfStructured* st) {
  return packed::tri(st->small) + static_cast<int64_t>(st->columns) * (st->dense + 1) +
         joinedCount(st) + 1 + st->small;
}

int64_t vsfStructuredXpXLength(const VsfStructured* st) {
  return vsfStructuredSegmentLength(st) * (1 + st->foldCount) + 1;
}

void vsfStructuredPlaceIn(VsfStructured* st, double* buffer) {
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& to = f < 0 ? *st : st->folds[f];
    const Segment s = segmentAt(st, buffer, 1 + f);
    to.diagonal = s.diagonal;
    to.cross = s.cross;
    to.joinValue = s.joinValue;
    to.rankCross = s.rankOneCross;
  }
}

VsfStatus vsfStructuredXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                             int64_t length) {
  const VsfStructured* st = m->structured;
  const Segment own = segmentAt(st, buffer, 0);
  double* offDiagonal = buffer + length - 1;
  const VsfRowShape S = vsfRowShape(m);
  const int32_t n = S.dense + 1, slot = m->layout.sparseSlot[st->effect];
  const double* rows[kVsfRankRows];
  double weights[kVsfRankRows];
  int32_t pending = 0, badFolds = 0;
  std::vector<double>& centred = VsfScratchArena::mine().structured().centred;
  auto flush = [&] {
    if (pending > 0)
      vsfRankUpdate(own.triangle, n, rows, weights, pending);
    pending = 0;
  };
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (vsfAnyMissing(r.y, n) || isHostMissing(w))
      return;
    const int32_t f = vsfFoldOf(m, S, r);
    if (f == kVsfFoldOutOfRange) {
      ++badFolds;
      return;
    }
    const Segment to = f < 0 ? own : segmentAt(st, buffer, 1 + f);
    VsfRowView row = r;
    if (f < 0) {
      rows[pending] = r.y;
      weights[pending++] = w;
      if (pending == kVsfRankRows)
        flush();
    } else {
      row.y = foldRow(m, f, r.y, n, centred);
      addFoldRow(to.triangle, row.y, n, w);
    }
    addJoined(m, S, row, slot, n, w, to.triangle);
    const int32_t begin = r.slotBegin(S, slot), end = r.slotEnd(S, slot);
    if (end - begin > 1) {
      if (end - begin == st->columns &&
          std::all_of(r.sparseValues + begin, r.sparseValues + end,
                      [&](double v) { return v == r.sparseValues[begin]; })) {
        const double c = r.sparseValues[begin];
        assert(c == kVsfRankOneValue && "the reference level's value in every column");
        *to.rankOne += w * c * c;
        addCross(m, S, row, slot, n, w * c, to.rankOneCross);
        return;
      }
      *offDiagonal = 1.0;
    }
    for (int32_t a = begin; a < end; ++a) {
      const double xa = r.sparseValues[a];
      const int64_t j = r.storedIndex(S, a);
      assert(xa == 1.0 && "a level's value, its own first sum's term");
      addLevelCross(st, to, m, S, row, slot, n, w * xa, j);
      to.diagonal[j] += w * xa * xa;
    }
  });
  flush();
  return badFolds != 0 ? VsfStatus::BadFoldRow : VsfStatus::Ok;
}

void vsfStructuredJoinPairs(const VsfPassState* m, QkPageDescriptor* page,
                            std::vector<std::pair<int32_t, int32_t>>& pairs) {
  const VsfStructured* st = m->structured;
  const VsfRowShape S = vsfRowShape(m);
  const int32_t slot = m->layout.sparseSlot[st->effect];
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double) {
    if (r.slotEnd(S, slot) - r.slotBegin(S, slot) != 1)
      return; // none, the rankOne rows' (held apart), or a block the road gives up
    const int32_t j = r.storedIndex(S, r.slotBegin(S, slot));
    eachJoinedValue(m, S, r, slot, [&](int64_t b, double) {
      if (b >= st->dense)
        pairs.emplace_back(j, static_cast<int32_t>(b));
    });
  });
}

double vsfStructuredFitted(const VsfPassState* m, int32_t fold, const VsfRowShape& S,
                           const VsfRowView& r) {
  if (m->structured == nullptr)
    return 0.0;
  const VsfStructured* st = fold < 0 ? m->structured : &m->structured->folds[fold];
  if (!st->inModel)
    return 0.0;
  const int32_t slot = m->layout.sparseSlot[st->effect];
  double fit = 0.0;
  for (int32_t a = r.slotBegin(S, slot); a < r.slotEnd(S, slot); ++a)
    fit += st->estimates[r.storedIndex(S, a)] * r.sparseValues[a];
  return fit;
}
