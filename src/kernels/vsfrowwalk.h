// The row walk that every data-pass kernel shares: what a row of a BY group's pages holds
// (weight, frequency, resample frequency, fold and role codes, dense and sparse values),
// read from the model's layout, and a visitor over the rows of one page. The page layout
// itself is written by the reading pass (data/vsfpage.h).
#pragma once

#include "data/vsfdata.h"
#include "data/vsfpassstate.h"
#include "kernels/vsfxpx.h"
#include "support/hostif.h"
#include "support/qkpgf.h"

#include <cassert>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

// What every row of the BY group holds, fixed for a pass.
struct VsfRowShape {
  uint8_t hasWeight, hasFreq, hasResample, hasFold, hasRole;
  uint8_t cv, xcv;
  int32_t lead;       // leading doubles before the response
  int32_t dense;      // dense design values
  int32_t sparse;     // sparse slots
  int32_t fixedCodes; // fold and role codes
};

VsfRowShape vsfRowShape(const VsfPassState* model);

// One row as a kernel sees it.
struct VsfRowView {
  double weight; // WEIGHT value, 1 without
  double freq;   // FREQ value, 1 without
  double rfreq;  // resample frequency, 1 without resampling
  int32_t fold;  // fold code, -1 without
  int32_t role;  // role code, 1 without roles
  double* y;     // the response; the dense values follow it
  double* sparseValues;
  const int32_t* codeEnd; // one past the row's first code (codes run downward)
  int32_t storedTotal;

  double* denseValues() const { return y + 1; }
  // Stored values of sparse slot s are numbers [begin, end) of the row.
  [[nodiscard]] int32_t slotEnd(const VsfRowShape& S, int32_t s) const {
    return codeEnd[-1 - S.fixedCodes - s];
  }
  [[nodiscard]] int32_t slotBegin(const VsfRowShape& S, int32_t s) const {
    return s == 0 ? 0 : codeEnd[-1 - S.fixedCodes - (s - 1)];
  }
  // Column index within its effect of stored value v.
  [[nodiscard]] int32_t storedIndex(const VsfRowShape& S, int32_t v) const {
    return codeEnd[-1 - S.fixedCodes - S.sparse - v];
  }
};

// A body of a row walk: callable with Args and returning nothing. A walk would drop a status
// its body returned, so a body that returns one is refused; it counts a failure instead and
// the kernel reports it after the walk.
template <class Body, class... Args>
concept VsfRowBody =
    std::is_invocable_v<Body&, Args...> && std::is_void_v<std::invoke_result_t<Body&, Args...>>;

// Calls fn(row) for every row of the page, in order.
template <class Fn> inline void vsfEachRow(const VsfRowShape& S, QkPageDescriptor* page, Fn&& fn) {
  static_assert(VsfRowBody<Fn, const VsfRowView&>,
                "a row body takes (const VsfRowView&) and returns nothing");
  auto* base = static_cast<unsigned char*>(page->buffer);
  double count;
  std::memcpy(&count, base, sizeof count);
  const int64_t rows = static_cast<int64_t>(count);
  double* d = reinterpret_cast<double*>(base + 8);
  int32_t* ce =
      reinterpret_cast<int32_t*>(base + (static_cast<int64_t>(page->pageSize) & ~int64_t{7}));
  for (int64_t i = 0; i < rows; ++i) {
    VsfRowView r;
    int32_t at = 0;
    r.weight = S.hasWeight ? d[at++] : 1.0;
    r.freq = S.hasFreq ? d[at++] : 1.0;
    r.rfreq = S.hasResample ? d[at++] : 1.0;
    r.y = d + at;
    r.codeEnd = ce;
    int32_t c = 0;
    r.fold = S.hasFold ? ce[-1 - c++] : -1;
    r.role = S.hasRole ? ce[-1 - c++] : 1;
    r.storedTotal = S.sparse > 0 ? ce[-1 - S.fixedCodes - (S.sparse - 1)] : 0;
    r.sparseValues = r.y + 1 + S.dense;
    fn(r);
    d = r.sparseValues + r.storedTotal;
    ce -= S.fixedCodes + S.sparse + r.storedTotal;
  }
  assert(reinterpret_cast<unsigned char*>(d) <= reinterpret_cast<unsigned char*>(ce) &&
         "a page's rows end before its codes begin");
}

// Calls fn(effect, value) for every stored value of a row whose sparse slots hold runs of
// split effects (VsfPassState::layout.splitSparse), in slot order.
template <class Fn>
inline void vsfEachSplitValue(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r,
                              Fn&& fn) {
  for (int32_t s = 0; s < S.sparse; ++s) {
    const int32_t first = m->layout.sparseEffectList[s], end = r.slotEnd(S, s);
    for (int32_t b = r.slotBegin(S, s); b < end; ++b)
      fn(first + r.storedIndex(S, b), r.sparseValues[b]);
  }
}

// The stored value of split effect k in a row (0 when the row stores none).
[[nodiscard]] inline double vsfSplitValue(const VsfPassState* m, const VsfRowShape& S,
                                          const VsfRowView& r, int32_t k) {
  double v = 0.0;
  vsfEachSplitValue(m, S, r, [&](int32_t e, double x) {
    if (e == k)
      v = x;
  });
  return v;
}

// The scale of split effect e stored sparse (its value on the pages is raw: the fit's column is
// (x - mean) scale), times its adaptive weight once the weights apply; 0 for a constant column.
[[nodiscard]] inline double vsfSplitScale(const VsfPassState* m, int32_t e) {
  const double scale = m->moments.columnSumSquares[e];
  if (isHostMissing(scale))
    return 0.0;
  if (m->adaptive.splitWeighted && m->adaptive.adaptiveWeight != nullptr &&
      !isHostMissing(m->adaptive.adaptiveWeight[e]))
    return scale * m->adaptive.adaptiveWeight[e];
  return scale;
}

// The (effect, dense offset) pairs of the single-column effects stored dense.
inline void vsfDenseEffects(const VsfPassState* m, std::vector<int32_t>& effect,
                            std::vector<int32_t>& offset) {
  effect.clear();
  offset.clear();
  // The reading pass lists them; a model set up otherwise is searched.
  const bool listed = m->layout.denseEffectList != nullptr;
  const int32_t n = listed ? m->layout.denseEffectCount : m->effectCount;
  for (int32_t i = 0; i < n; ++i)
    if (const int32_t e = listed ? m->layout.denseEffectList[i] : i;
        m->layout.denseOffset[e] >= 0 && m->effectColumns[e] == 1) {
      effect.push_back(e);
      offset.push_back(m->layout.denseOffset[e]);
    }
}

// The weight of a row that the cross-product kernels count, or 0 when it does not count:
// TRAIN rows only (with roles), outside the held-out external fold, with the resample
// frequency in place of FREQ while resampling.
inline double vsfTrainWeight(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r) {
  if (S.hasRole && r.role != VSF_ROLE_TRAIN)
    return 0.0;
  if (S.xcv && r.fold == m->cvexPass.heldOutFold)
    return 0.0;
  if (S.hasResample)
    return r.rfreq == 0.0 ? 0.0 : r.weight * r.rfreq;
  return r.weight * r.freq;
}

// The fold a row's cross products go to besides the folds themselves (0 up).
enum VsfFoldTarget : int32_t {
  kVsfFoldModel = -1,      // no cross validation: the model's own sums
  kVsfFoldOutOfRange = -2, // a fold code outside the folds: the row is counted as bad
};
// The fold of a row for the cross-product kernels: its fold, or a VsfFoldTarget.
[[nodiscard]] inline int32_t vsfFoldOf(const VsfPassState* m, const VsfRowShape& S,
                                       const VsfRowView& r) {
  if (!S.cv)
    return kVsfFoldModel;
  return (r.fold >= 0 && r.fold < m->cv.foldCount) ? r.fold : kVsfFoldOutOfRange;
}

// Calls body(row, weight) for every row of the page with a non-zero training weight
// (vsfTrainWeight), in order, whatever its fold.
template <class Body>
inline void vsfEachWeightedRow(const VsfPassState* m, const VsfRowShape& S, QkPageDescriptor* page,
                               Body&& body) {
  static_assert(VsfRowBody<Body, const VsfRowView&, double>,
                "a row body takes (const VsfRowView&, double weight) and returns nothing");
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double w = vsfTrainWeight(m, S, r);
    if (w != 0.0)
      body(r, w);
  });
}

// A row that a cross-product pass adds: the row with its training weight (vsfTrainWeight,
// never 0) and the fold its sums go to (vsfFoldOf: a fold or kVsfFoldModel, never out of
// range). Weight and fold travel by name, so that a body cannot take one for the other.
struct VsfTrainRow : VsfRowView {
  double trainWeight;
  int32_t target;
};

// Calls body(row) with a VsfTrainRow for every row of the page with a non-zero training
// weight, in order. A row whose fold code lies outside the folds is skipped and fails the
// pass: VsfStatus::BadFoldRow when the page held one, Ok otherwise.
template <class Body>
[[nodiscard]] inline VsfStatus vsfEachTrainRow(const VsfPassState* m, const VsfRowShape& S,
                                               QkPageDescriptor* page, Body&& body) {
  static_assert(VsfRowBody<Body, const VsfTrainRow&>,
                "a row body takes (const VsfTrainRow&) and returns nothing");
  int32_t badFolds = 0;
  vsfEachRow(S, page, [&](const VsfRowView& r) {
    const double w = vsfTrainWeight(m, S, r);
    if (w == 0.0)
      return;
    const int32_t f = vsfFoldOf(m, S, r);
    if (f == kVsfFoldOutOfRange) {
      ++badFolds;
      return;
    }
    body(VsfTrainRow{r, w, f});
  });
  return badFolds != 0 ? VsfStatus::BadFoldRow : VsfStatus::Ok;
}

// Fold f's centre over the rows' response and dense values (n = dense + 1 of them) where the
// fold records' sums are formed about their folds' own means (VsfPassState's cv.foldCentre);
// null for the model's rows (f < 0) or where they are not.
[[nodiscard]] inline const double* vsfFoldCentre(const VsfPassState* m, int32_t n, int32_t f) {
  return m->cv.foldCentre != nullptr && f >= 0
             ? m->cv.foldCentre + static_cast<size_t>(f) * (n + 1) + 1
             : nullptr;
}

// The row as fold f's sums take it: with a centre (vsfFoldCentre), a copy whose response and
// dense values are less the centre, in `room` (valid while room is); else the row itself.
template <class Row>
[[nodiscard]] Row vsfCentredRow(const VsfPassState* m, const VsfRowShape& S, const Row& r,
                                int32_t f, std::vector<double>& room) {
  const int32_t n = S.dense + 1;
  const double* c = vsfFoldCentre(m, n, f);
  if (c == nullptr)
    return r;
  room.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    room[static_cast<size_t>(i)] = r.y[i] - c[i];
  Row out = r;
  out.y = room.data();
  return out;
}

// A dot product of n contiguous values in four independent sums, so that it vectorises.
inline double vsfDot(const double* a, const double* x, int64_t n) {
  double s0 = 0, s1 = 0, s2 = 0, s3 = 0;
  int64_t i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * x[i];
    s1 += a[i + 1] * x[i + 1];
    s2 += a[i + 2] * x[i + 2];
    s3 += a[i + 3] * x[i + 3];
  }
  for (; i < n; ++i)
    s0 += a[i] * x[i];
  return (s0 + s1) + (s2 + s3);
}
