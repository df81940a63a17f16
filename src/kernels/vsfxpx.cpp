// Cross-product kernels. Each pair shares one per-page body; the serial form resolves its
// target in the model (or in the row's fold record under CV) and the threaded form in its
// worker's buffer, laid out as the frame folds it back.
#include "kernels/vsfxpx.h"

#include "kernels/vsfgramk.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsfpageterms.h"
#include "kernels/vsfpendingrows.h"
#include "kernels/vsfrankk.h"
#include "kernels/vsfrowwalk.h"
#include "kernels/vsftransform.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "numerics/zvector.h"
#include "support/scratcharena.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

using packed::at;
using packed::tri;

// The rows of the triangle a pass adds into: the dense block's rows [denseBegin, denseEnd)
// and the sparse rows [sparseBegin, sparseEnd). A serial or buffered pass owns them all; a
// part of a shared-triangle pass owns a share of each.
struct RowShare {
  int64_t denseBegin = 0, denseEnd = 0, sparseBegin = 0, sparseEnd = 0;

  [[nodiscard]] bool ownsSparse(int64_t row) const { return row >= sparseBegin && row < sparseEnd; }
};

// The triangle's rows from a fraction a / parts of its work to b / parts (0 <= a <= b <=
// parts): the dense block's rows cut where the elements before reach the fraction (row i has
// i + 1 elements, so rows are not equal work), at the nearest multiple of the Gram kernel's
// tile rows, so that no two shares form the same tile; the sparse rows cut into equal counts,
// each taking about as many page rows as the next. The share from 0 also takes any row before
// the sparse block and the share to `parts` any row past it, so that shares that meet cover
// every row once.
[[nodiscard]] RowShare shareBetween(const VsfRowShape& S, const VsfPassState* m, int64_t a,
                                    int64_t b, int32_t parts) {
  const int64_t nd = S.dense + 1, ns = m->xpxColumns - nd;
  const int64_t tile = vsfGramRowBlock();
  auto denseCut = [&](int64_t t) {
    if (t == parts)
      return nd;
    // The first row whose elements before reach the goal, found by halving.
    const int64_t goal = tri(nd) * t / parts;
    int64_t lo = 0, hi = nd;
    while (lo < hi) {
      const int64_t mid = lo + (hi - lo) / 2;
      if (tri(mid) < goal)
        lo = mid + 1;
      else
        hi = mid;
    }
    return std::min(nd, (lo + tile / 2) / tile * tile);
  };
  return RowShare{denseCut(a), denseCut(b), a == 0 ? 0 : nd + ns * a / parts,
                  b == parts ? INT64_MAX : nd + ns * b / parts};
}

// The rows of each target's triangle (each fold's under CV, else the model's one) a pass adds
// into. A serial or buffered pass owns every triangle whole. On the shared-triangle road the
// targets' triangles are laid end to end and part `part` of `parts` owns an equal share of
// that work: the end of one target, a run of whole ones, the start of another, each cut as
// shareBetween cuts a triangle. A part thus walks the rows of a few targets only and leaves
// the others' rows unread, where a cut of every triangle would have each part test and pack
// every row; the shares of one target still meet, so every element has one owner, which adds
// its terms in the serial order.
class TargetShares {
public:
  // Every target's whole triangle.
  explicit TargetShares(const VsfRowShape& S) : whole_{0, S.dense + 1, 0, INT64_MAX} {}
  // Part `part` of `parts` of the targets' triangles, kept in `room` (left alone while these
  // shares are in use).
  TargetShares(const VsfRowShape& S, const VsfPassState* m, int32_t part, int32_t parts,
               std::vector<RowShare>& room)
      : targets_(S.cv ? std::max(m->cv.foldCount, 1) : 1) {
    // Part p covers the targets from targets p / parts to targets (p + 1) / parts, target g
    // from a fraction (targets p - g parts) / parts of its work.
    const int64_t begin = int64_t{targets_} * part, end = int64_t{targets_} * (part + 1);
    first_ = static_cast<int32_t>(begin / parts);
    const auto last = static_cast<int32_t>((end + parts - 1) / parts);
    room.clear();
    for (int32_t g = first_; g < last; ++g)
      room.push_back(shareBetween(S, m, std::max<int64_t>(begin - int64_t{g} * parts, 0),
                                  std::min<int64_t>(end - int64_t{g} * parts, parts), parts));
    shares_ = room.data();
    count_ = static_cast<int32_t>(room.size());
  }
  // The share of target f (a fold, or kVsfFoldModel for the model's own sums); null where
  // the part owns no row of its triangle.
  [[nodiscard]] const RowShare* of(int32_t f) const {
    if (shares_ == nullptr)
      return &whole_;
    const int32_t i = std::max(f, 0) - first_;
    return i >= 0 && i < count_ ? &shares_[i] : nullptr;
  }
  // Whether the part walks every row of a page (it owns rows of every target).
  [[nodiscard]] bool walksEveryRow() const { return targets_ == 1; }

private:
  RowShare whole_;
  int32_t targets_ = 1, first_ = 0, count_ = 0;
  const RowShare* shares_ = nullptr;
};

// A run [begin, end) of the effects whose blocks a pass adds, or of the entering effect's
// columns whose rows it adds. A serial or buffered pass owns them all; a part of a shared
// pass owns an equal share of them, and every element it owns gets its terms in the serial
// pass's order, so the parts together give the serial pass's sums bit for bit.
struct RunShare {
  int64_t begin = 0, end = INT64_MAX;

  [[nodiscard]] bool owns(int64_t i) const { return i >= begin && i < end; }
};

[[nodiscard]] RunShare runShareOf(int64_t count, int32_t part, int32_t parts) {
  return RunShare{count * part / parts, part == parts - 1 ? INT64_MAX : count * (part + 1) / parts};
}

} // namespace

// The thread's scratch of the cross-product kernels (support/scratcharena.h): buffers set
// afresh on every call, each of one body.
struct VsfXpxScratch {
  std::vector<int32_t> effect, offset;       // the split bodies' dense effects
  std::vector<int32_t> column, columnOffset; // splitEffBody's in-model dense columns
  std::vector<double> room;                  // a row less its fold's centre (vsfCentredRow)
  std::vector<double> centred;               // fullBody's row less its fold's centre
  std::vector<double*> rowInto;              // effCrossBody's store columns of a row
  std::vector<double> rowBy;                 // and their multipliers
};
VsfXpxScratch& VsfScratchArena::xpx() { return part(xpx_); }

namespace {

// ---- full X'X ----
// Only the rows of each target's share are added into. Every element receives its terms in
// the order of the pages, of the rows in a page and, within a row, of the loops below,
// whichever rows are shared out: the blocks of the dense triangle are cut by the page's rows and
// targets alone, and each element of a block is formed as a whole block forms it. A part's sums are
// thus the serial pass's, bit for bit, when the parts walk all pages in the serial order. Where the
// page's note (null: none) says every row is finite, the rows are not tested again: each part
// would read every value of every row for the test, most of them outside its share.
// The row's values less c (n of them), in `room`.
const double* lessCentre(std::vector<double>& room, const double* y, const double* c, int32_t n) {
  room.resize(static_cast<size_t>(n));
  for (int32_t i = 0; i < n; ++i)
    room[static_cast<size_t>(i)] = y[i] - c[i];
  return room.data();
}

// The full X'X's terms of one row into its target's triangle, the rows of `share` only;
// `known` when the page's note says every row is finite, and `pageFinite` cleared by a row
// found to hold another value.
template <class Target>
void fullRow(VsfPassState* m, const VsfRowShape& S, const VsfTrainRow& r, const RowShare& share,
             Target target, VsfPendingRows& pending, bool known, bool& pageFinite) {
  const int32_t n = S.dense + 1;
  const double w = r.trainWeight;
  const int32_t f = r.target;
  double* T = target(f);
  // A fold's rows are centred about the fold's own means: they wait with the centre, and
  // the Gram kernel centres them as it packs them. One pass over the values (less the
  // centre) finds them finite, which the block's update then need not test again; only a
  // row holding another value is searched for the missing value.
  const double* c = vsfFoldCentre(m, n, f);
  const bool finite = known || (c != nullptr ? vsfAllFiniteLess(r.y, c, n) : vsfAllFinite(r.y, n));
  pageFinite = pageFinite && finite;
  if ((!finite && vsfAnyMissing(r.y, n)) || isHostMissing(w) || w == 0.0)
    return;
  // The dense triangle and the sparse rows are apart: the dense part can wait for the
  // page's next rows.
  pending.add(T, static_cast<int32_t>(share.denseBegin), static_cast<int32_t>(share.denseEnd), c,
              r.y, w, finite);
  const double* y = nullptr; // the row as the sparse rows take it, formed when first wanted
  for (int32_t s = 0; s < S.sparse; ++s) {
    const int32_t e = m->layout.sparseEffectList[s];
    const int32_t end = r.slotEnd(S, s);
    for (int32_t a = r.slotBegin(S, s); a < end; ++a) {
      const double xa = r.sparseValues[a];
      const int64_t row = m->effectColumn[e] + r.storedIndex(S, a);
      if (!share.ownsSparse(row))
        continue;
      if (y == nullptr)
        y = c != nullptr ? lessCentre(VsfScratchArena::mine().xpx().centred, r.y, c, n) : r.y;
      double* R = T + tri(row);
      zvaxpy(R, R, y, n, w * xa);
      for (int32_t sb = 0; sb <= s; ++sb) {
        const int32_t eb = m->layout.sparseEffectList[sb];
        const int32_t bEnd = sb == s ? a + 1 : r.slotEnd(S, sb);
        for (int32_t b = r.slotBegin(S, sb); b < bEnd; ++b)
          R[m->effectColumn[eb] + r.storedIndex(S, b)] += w * xa * r.sparseValues[b];
      }
    }
  }
}

template <class Target>
VsfStatus fullBody(VsfPassState* m, QkPageDescriptor* page, const TargetShares& shares,
                   Target target, VsfPendingRows& pending, bool spanning,
                   std::atomic<VsfPageNote>* note = nullptr) {
  const VsfRowShape S = vsfRowShape(m);
  const int32_t n = S.dense + 1;
  pending.cover(n);
  assert((m->cv.foldCentre == nullptr || m->cv.foldCentreOrder == n) &&
         "the fold centres cover the rows' dense values");
  const bool known =
      note != nullptr && note->load(std::memory_order_acquire) == VsfPageNote::RowsFinite;
  bool pageFinite = true;
  auto add = [&](const VsfTrainRow& r) {
    fullRow(m, S, r, *shares.of(r.target), target, pending, known, pageFinite);
  };
  VsfStatus rc = VsfStatus::Ok;
  if (shares.walksEveryRow()) {
    rc = vsfEachTrainRow(m, S, page, add);
  } else {
    // A row of a target whose triangle the part owns nothing of is not read.
    VsfRowsAhead ahead;
    rc = vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& r) {
      if (shares.of(r.target) != nullptr)
        if (const VsfTrainRow* due = ahead.push(r, n))
          add(*due);
    });
    ahead.drain(add);
  }
  // Outside a span every page adds its own rows; a page read from disk gives its buffer to the
  // next one, so its rows cannot wait either.
  if (!spanning || page->pageNumber != 0 || rc != VsfStatus::Ok)
    pending.flush();
  // Only a part that tested every row of the page can tell the others what it found.
  if (note != nullptr && !known && note->load(std::memory_order_relaxed) == VsfPageNote::Unknown &&
      rc == VsfStatus::Ok && shares.walksEveryRow())
    note->store(pageFinite ? VsfPageNote::RowsFinite : VsfPageNote::NotAllFinite,
                std::memory_order_release);
  return rc;
}

// ---- split levels stored sparse (splitSparse): every effect one column; the sums take the
// split values raw, and vsfSplitCorrect centres and scales them after the pass ----

// Effect blocks: each effect's sum of squares.
template <class Target>
VsfStatus splitEffectBody(VsfPassState* m, QkPageDescriptor* page, const RunShare& share,
                          Target target) {
  const VsfRowShape S = vsfRowShape(m);
  VsfXpxScratch& scratch = VsfScratchArena::mine().xpx();
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  vsfDenseEffects(m, effect, offset);
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    if (isHostMissing(w))
      return;
    const double* dense = r.denseValues();
    for (size_t i = 0; i < effect.size(); ++i) {
      const double x = dense[offset[i]];
      if (share.owns(effect[i]) && !isHostMissing(x) && x != 0.0)
        *target(-1, effect[i]) += x * w * x;
    }
    vsfEachSplitValue(m, S, r, [&](int32_t e, double x) {
      if (share.owns(e))
        *target(-1, e) += x * w * x;
    });
  });
  return VsfStatus::Ok;
}

// The entering effect's products with the response, R[0], and with the columns of a row: the
// dense values at R[at[i]] (from dense offset offset[i]), a split effect e's value at
// R[place(e)] unless place gives -1.
template <class Place>
VsfStatus splitEnteringBody(VsfPassState* m, QkPageDescriptor* page, int32_t k, double* R,
                            const std::vector<int32_t>& at, const std::vector<int32_t>& offset,
                            Place place) {
  const VsfRowShape S = vsfRowShape(m);
  vsfEachWeightedRow(m, S, page, [&](const VsfRowView& r, double w) {
    const double* dense = r.denseValues();
    const double x =
        m->layout.denseOffset[k] >= 0 ? dense[m->layout.denseOffset[k]] : vsfSplitValue(m, S, r, k);
    const double v = w * x;
    if (v == 0.0)
      return;
    R[0] += r.y[0] * v;
    for (size_t i = 0; i < at.size(); ++i)
      R[at[i]] += dense[offset[i]] * v;
    vsfEachSplitValue(m, S, r, [&](int32_t e, double value) {
      if (const int32_t c = place(e); c >= 0)
        R[c] += value * v;
    });
  });
  return VsfStatus::Ok;
}

// The entering effect's row of the model's X'X: its products with the in-model columns.
[[nodiscard]] VsfStatus splitEffBody(VsfPassState* m, QkPageDescriptor* page, double* R) {
  const int32_t k = m->inModelList[m->inModelCount - 1];
  VsfXpxScratch& scratch = VsfScratchArena::mine().xpx();
  std::vector<int32_t>& column = scratch.column;
  std::vector<int32_t>& offset = scratch.columnOffset;
  column.clear();
  offset.clear();
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (m->layout.denseOffset[e] >= 0) {
      column.push_back(m->effectColumn[e]);
      offset.push_back(m->layout.denseOffset[e]);
    }
  }
  return splitEnteringBody(m, page, k, R, column, offset, [m, k](int32_t e) {
    return vsfInModelStatus(m->effectStatus[e]) || e == k ? m->effectColumn[e] : -1;
  });
}

// What a pass over the kept columns adds: the store columns [columnBegin, columnEnd) of the
// batch, over the parameters [begin, end), and the response's products (element 0) when
// `response`. A serial or buffered pass adds everything; a part of a shared pass owns a run
// of the parameters of every column where the rows hold the parameters in order (the first
// part the response as well), else a run of whole columns.
struct CrossShare {
  int32_t begin = 0, end = 0;
  int32_t columnBegin = 0, columnEnd = INT32_MAX;
  bool response = true;

  [[nodiscard]] bool owns(int32_t column) const {
    return column >= columnBegin && column < columnEnd;
  }
  bool operator==(const CrossShare&) const = default;
};

[[nodiscard]] CrossShare wholeCross(const VsfPassState* m) { return CrossShare{0, m->parmCount}; }

// The kept columns of the batch's effects (of the entering effect without a batch), each one
// column here: their products with every parameter, target(-1, b)[1 + p] for the b-th of
// those the share owns.
template <class Target>
[[nodiscard]] VsfStatus splitEffCrossBody(VsfPassState* m, QkPageDescriptor* page,
                                          const CrossShare& share, Target target) {
  VsfXpxScratch& scratch = VsfScratchArena::mine().xpx();
  std::vector<int32_t>& effect = scratch.effect;
  std::vector<int32_t>& offset = scratch.offset;
  vsfDenseEffects(m, effect, offset);
  for (int32_t& e : effect)
    e = 1 + m->parmOffset[e];
  const int32_t last = m->inModelList[m->inModelCount - 1];
  const int32_t* batch = m->batch.crossBatch != nullptr ? m->batch.crossBatch : &last;
  const int32_t count = m->batch.crossBatch != nullptr ? m->batch.crossBatchCount : 1;
  for (int32_t b = share.columnBegin; b < std::min(count, share.columnEnd); ++b)
    if (const VsfStatus rc = splitEnteringBody(m, page, batch[b], target(-1, b), effect, offset,
                                               [m](int32_t e) { return 1 + m->parmOffset[e]; });
        rc != VsfStatus::Ok)
      return rc;
  return VsfStatus::Ok;
}

// ---- effect blocks ----
template <class Target>
VsfStatus effectBody(VsfPassState* m, QkPageDescriptor* page, const RunShare& share,
                     Target target) {
  if (m->layout.splitSparse)
    return splitEffectBody(m, page, share, target);
  const VsfRowShape S = vsfRowShape(m);
  std::vector<double>& room = VsfScratchArena::mine().xpx().room;
  const VsfStatus rc = vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& raw) {
    const VsfTrainRow r = vsfCentredRow(m, S, raw, raw.target, room);
    const double w = r.trainWeight;
    const int32_t f = r.target;
    const auto end = static_cast<int32_t>(std::min<int64_t>(share.end, m->effectCount));
    for (auto e = static_cast<int32_t>(share.begin); e < end; ++e) {
      const int32_t k = m->effectColumns[e];
      if (k <= 0)
        continue;
      if (k == 1 && m->layout.sparseSlot[e] < 0) {
        // A single column's square, as zscp forms it, without its call per column.
        const double x = r.denseValues()[m->layout.denseOffset[e]];
        if (!isHostMissing(x) && x != 0.0 && !isHostMissing(w))
          *target(f, e) += x * w * x;
        continue;
      }
      double* E = target(f, e);
      if (m->layout.sparseSlot[e] < 0) {
        zscp(r.denseValues() + m->layout.denseOffset[e], k, E, w);
      } else {
        const int32_t s = m->layout.sparseSlot[e];
        const int32_t b0 = r.slotBegin(S, s), end = r.slotEnd(S, s);
        for (int32_t a = b0; a < end; ++a) {
          const int64_t ia = r.storedIndex(S, a);
          const double wa = w * r.sparseValues[a];
          for (int32_t b = b0; b <= a; ++b)
            E[at(ia, r.storedIndex(S, b))] += wa * r.sparseValues[b];
        }
      }
    }
  });
  return rc;
}

// ---- new rows of the entering effect; target(f) gives the base that element (r, c) of
// the whole triangle is addressed from ----
template <class Target>
[[nodiscard]] VsfStatus effBody(VsfPassState* m, QkPageDescriptor* page, const RunShare& share,
                                int64_t origin, Target target) {
  const int64_t m0 = m->xpxColumns;
  if (m->layout.splitSparse)
    return share.owns(0) ? splitEffBody(m, page, target(-1) + (tri(m0) - origin)) : VsfStatus::Ok;
  const VsfRowShape S = vsfRowShape(m);
  const int32_t k = m->inModelList[m->inModelCount - 1];
  const int32_t nIn = m->inModelCount;
  std::vector<double>& room = VsfScratchArena::mine().xpx().room;
  const VsfStatus rc = vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& raw) {
    const VsfTrainRow r = vsfCentredRow(m, S, raw, raw.target, room);
    const double w = r.trainWeight;
    const int32_t f = r.target;
    double* T = target(f);
    const double* dense = r.denseValues();
    auto addRow = [&](int64_t row, double v) {
      double* R = T + (tri(row) - origin);
      R[0] += r.y[0] * v;
      for (int32_t i = 0; i < nIn; ++i) {
        const int32_t e = m->inModelList[i];
        const int64_t c0 = m->effectColumn[e];
        if (m->layout.sparseSlot[e] < 0) {
          const double* x = dense + m->layout.denseOffset[e];
          const int32_t n = m->effectColumns[e];
          for (int32_t q = 0; q < n && c0 + q <= row; ++q)
            R[c0 + q] += x[q] * v;
        } else {
          const int32_t s = m->layout.sparseSlot[e];
          const int32_t end = r.slotEnd(S, s);
          for (int32_t b = r.slotBegin(S, s); b < end; ++b) {
            const int64_t c = c0 + r.storedIndex(S, b);
            if (c > row)
              break;
            R[c] += r.sparseValues[b] * v;
          }
        }
      }
    };
    if (m->layout.sparseSlot[k] < 0) {
      const double* x = dense + m->layout.denseOffset[k];
      const auto end = static_cast<int32_t>(std::min<int64_t>(share.end, m->effectColumns[k]));
      for (auto j = static_cast<int32_t>(share.begin); j < end; ++j) {
        const double v = w * x[j];
        if (v != 0.0)
          addRow(m0 + j, v);
      }
    } else {
      const int32_t s = m->layout.sparseSlot[k];
      const int32_t end = r.slotEnd(S, s);
      for (int32_t a = r.slotBegin(S, s); a < end; ++a)
        if (const int32_t j = r.storedIndex(S, a); share.owns(j))
          addRow(m0 + j, w * r.sparseValues[a]);
    }
  });
  return rc;
}

// Adds u times every parameter of the row into t[1 + p].
inline void addParms(const VsfPassState* m, const VsfRowShape& S, const VsfRowView& r, double* t,
                     double u, bool contiguous) {
  const double* dense = r.denseValues();
  if (contiguous) {
    double* out = t + 1;
    for (int32_t p = 0; p < m->parmCount; ++p)
      out[p] += dense[p] * u;
    return;
  }
  for (int32_t e = 0; e < m->effectCount; ++e) {
    double* out = t + 1 + m->parmOffset[e];
    if (m->layout.sparseSlot[e] < 0) {
      const int32_t n = m->effectColumns[e];
      if (n > 0)
        zvaxpy(out, out, dense + m->layout.denseOffset[e], n, u);
    } else {
      const int32_t s = m->layout.sparseSlot[e];
      const int32_t end = r.slotEnd(S, s);
      for (int32_t b = r.slotBegin(S, s); b < end; ++b)
        out[r.storedIndex(S, b)] += r.sparseValues[b] * u;
    }
  }
}

template <class Target>
VsfStatus yCrossBody(VsfPassState* m, QkPageDescriptor* page, Target target) {
  const VsfRowShape S = vsfRowShape(m);
  const bool contiguous = vsfDenseInParameterOrder(m);
  std::vector<double>& room = VsfScratchArena::mine().xpx().room;
  const VsfStatus rc = vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& raw) {
    const VsfTrainRow r = vsfCentredRow(m, S, raw, raw.target, room);
    const double w = r.trainWeight;
    const int32_t f = r.target;
    const double u = w * r.y[0];
    if (u == 0.0)
      return;
    double* t = target(f);
    t[0] += r.y[0] * u;
    addParms(m, S, r, t, u, contiguous);
  });
  return rc;
}

// A visit's page terms waiting to be added, `rows` rows' worth, over `share`. Within a span
// the terms of pages held in memory wait past their page's end until kSpanRows rows have
// gathered: a page of wide rows holds a few, and each store column is then read and written
// once per kSpanRows rows instead of once per page. An element's terms are still added one
// after another in row order, so where the pages are cut does not move a bit.
struct PendingTerms {
  static constexpr int32_t kSpanRows = 64;
  std::vector<VsfPageTerm> terms;
  int32_t rows = 0;
  CrossShare share;

  void flush() {
    if (!terms.empty())
      vsfAddPageTerms(terms, rows, share.begin, share.end);
    terms.clear();
    rows = 0;
  }
};

// Whether the pass's rows hold the parameters in order, so that a row's terms are added a
// page at a time over runs of parameters.
[[nodiscard]] bool crossContiguous(const VsfPassState* m) {
  // A batch knows the layout already: the test takes a loop over the effects, and a page
  // here may hold a single row.
  // Centred rows are copies that do not outlive the row: their terms are added at once.
  return m->cv.foldCentre == nullptr &&
         (m->batch.crossBatch != nullptr ? m->batch.crossBatchContiguous != 0
                                         : vsfDenseInParameterOrder(m));
}

// target(f, j) gives store column j of the pass: the columns of the batch's effects in turn
// (of the entering effect without a batch). Only the share's elements of each are added:
// every one of them unless the rows hold the parameters in order.
template <class Target>
VsfStatus effCrossBody(VsfPassState* m, QkPageDescriptor* page, const CrossShare& share,
                       Target target, PendingTerms& pending, bool spanning) {
  if (m->layout.splitSparse)
    return splitEffCrossBody(m, page, share, target);
  const VsfRowShape S = vsfRowShape(m);
  const bool contiguous = crossContiguous(m);
  const int32_t last = m->inModelList[m->inModelCount - 1];
  const int32_t* batch = m->batch.crossBatch != nullptr ? m->batch.crossBatch : &last;
  const int32_t count = m->batch.crossBatch != nullptr ? m->batch.crossBatchCount : 1;
  VsfXpxScratch& scratch = VsfScratchArena::mine().xpx();
  std::vector<double*>& into = scratch.rowInto;
  std::vector<double>& by = scratch.rowBy;
  if (pending.share != share)
    pending.flush();
  pending.share = share;
  std::vector<double>& room = scratch.room;
  const VsfStatus rc = vsfEachTrainRow(m, S, page, [&](const VsfTrainRow& raw) {
    const VsfTrainRow r = vsfCentredRow(m, S, raw, raw.target, room);
    const double w = r.trainWeight;
    const int32_t f = r.target;
    into.clear();
    by.clear();
    auto column = [&](int32_t j, double v) {
      if (!share.owns(j))
        return;
      into.push_back(target(f, j));
      by.push_back(v);
    };
    int32_t first = 0; // the store column of the effect's first column
    for (int32_t b = 0; b < count; ++b) {
      const int32_t k = batch[b];
      if (m->layout.sparseSlot[k] < 0) {
        const double* x = r.denseValues() + m->layout.denseOffset[k];
        for (int32_t j = 0; j < m->effectColumns[k]; ++j) {
          const double v = w * x[j];
          if (v != 0.0)
            column(first + j, v);
        }
      } else {
        const int32_t s = m->layout.sparseSlot[k];
        const int32_t end = r.slotEnd(S, s);
        for (int32_t a = r.slotBegin(S, s); a < end; ++a)
          column(first + r.storedIndex(S, a), w * r.sparseValues[a]);
      }
      first += m->effectColumns[k];
    }
    for (size_t i = 0; i < into.size(); ++i) {
      if (share.response)
        into[i][0] += r.y[0] * by[i];
      if (contiguous)
        pending.terms.push_back(VsfPageTerm{into[i] + 1, r.denseValues(), by[i]});
      else
        addParms(m, S, r, into[i], by[i], false);
    }
    ++pending.rows;
  });
  // Outside a span every page adds its own terms; a page read from disk gives its buffer to the
  // next one, so its terms cannot wait either.
  if (!spanning || page->pageNumber != 0 || rc != VsfStatus::Ok ||
      pending.rows >= PendingTerms::kSpanRows)
    pending.flush();
  return rc;
}

[[nodiscard]] int64_t blocksLength(const VsfPassState* m) {
  int64_t sum = 0;
  for (int32_t e = 0; e < m->effectCount; ++e)
    sum += tri(m->effectColumns[e]);
  return sum;
}

} // namespace

// True when every effect is dense and stored in parameter order, so that the dense values
// of a row are its parameters in order.
bool vsfDenseInParameterOrder(const VsfPassState* m) {
  if (m->layout.sparseEffectCount != 0)
    return false;
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (m->effectColumns[e] > 0 && m->layout.denseOffset[e] != m->parmOffset[e])
      return false;
  return true;
}

// What one thread's visit of the pages of a full X'X or kept-column pass keeps waiting (the
// frame's span, data/vsfthread.h): the dense triangle's rows and the kept columns' terms. A
// part of a shared pass keeps its shares of the targets' triangles here as well, cut at its
// visit's first page: they hold for the whole pass.
struct VsfPageSpan {
  VsfPendingRows rows;
  PendingTerms terms;
  std::vector<RowShare> shareRoom;
  std::optional<TargetShares> shares;
};

namespace {

VsfPageSpan* openSpan() { return new VsfPageSpan; }
void finishSpan(VsfPageSpan* span) {
  span->rows.flush();
  span->terms.flush();
}
void releaseSpan(VsfPageSpan* span) { delete span; }

// A call without a span: a span of the page alone, whose rows and terms the body adds by the
// page's end.
template <class Body> VsfStatus alone(Body body) {
  const std::unique_ptr<VsfPageSpan> own(openSpan());
  return body(*own, false);
}

// The full X'X into the model's triangles (the fold records' under CV) or a worker's buffer.
VsfStatus fullInto(VsfPassState* m, QkPageDescriptor* page, VsfPageSpan& span, bool spanning) {
  return fullBody(
      m, page, TargetShares(vsfRowShape(m)),
      [m](int32_t f) { return f < 0 ? m->xpx : m->cv.folds[f].xpx; }, span.rows, spanning);
}
VsfStatus fullIntoBuffer(VsfPassState* m, QkPageDescriptor* page, double* buffer, VsfPageSpan& span,
                         bool spanning) {
  const int64_t slice = tri(m->xpxColumns);
  return fullBody(
      m, page, TargetShares(vsfRowShape(m)),
      [=](int32_t f) { return buffer + (f < 0 ? 0 : f * slice); }, span.rows, spanning);
}

VsfStatus fullSpanned(VsfPassState* m, QkPageDescriptor* page, VsfPageSpan* span) {
  return fullInto(m, page, *span, true);
}
VsfStatus fullSpanned_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t,
                        VsfPageSpan* span) {
  return fullIntoBuffer(m, page, buffer, *span, true);
}
VsfStatus centerScaleSpanned(VsfPassState* m, QkPageDescriptor* page, VsfPageSpan* span) {
  vsfCenterScale(m, page);
  return fullInto(m, page, *span, true);
}
VsfStatus centerScaleSpanned_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t,
                               VsfPageSpan* span) {
  vsfCenterScale(m, page);
  return fullIntoBuffer(m, page, buffer, *span, true);
}
VsfStatus shiftSquaresSpanned(VsfPassState* m, QkPageDescriptor* page, VsfPageSpan* span) {
  vsfShiftRowsSquares(m, page);
  return fullInto(m, page, *span, true);
}
VsfStatus shiftSquaresSpanned_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t,
                                VsfPageSpan* span) {
  const int64_t squares = m->parmCount + 1;
  vsfShiftRowsSquares_t(m, page, buffer, squares);
  return fullIntoBuffer(m, page, buffer + squares, *span, true);
}

} // namespace

constinit const VsfSpanForms kVsfFullXpXSpan{openSpan, finishSpan, releaseSpan, fullSpanned,
                                             fullSpanned_t};
constinit const VsfSpanForms kVsfCenterScaleXpXSpan{openSpan, finishSpan, releaseSpan,
                                                    centerScaleSpanned, centerScaleSpanned_t};
constinit const VsfSpanForms kVsfShiftSquaresXpXSpan{openSpan, finishSpan, releaseSpan,
                                                     shiftSquaresSpanned, shiftSquaresSpanned_t};

VsfStatus vsfFullXpX(VsfPassState* m, QkPageDescriptor* page) {
  return alone([&](VsfPageSpan& span, bool spanning) { return fullInto(m, page, span, spanning); });
}
VsfStatus vsfFullXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  return alone([&](VsfPageSpan& span, bool spanning) {
    return fullIntoBuffer(m, page, buffer, span, spanning);
  });
}
VsfStatus vsfFullXpXPart(VsfPassState* m, QkPageDescriptor* page, int32_t part, int32_t parts,
                         std::atomic<VsfPageNote>* note, VsfPageSpan* span) {
  auto body = [&](VsfPageSpan& to, bool spanning) {
    if (!to.shares)
      to.shares.emplace(vsfRowShape(m), m, part, parts, to.shareRoom);
    return fullBody(
        m, page, *to.shares, [m](int32_t f) { return f < 0 ? m->xpx : m->cv.folds[f].xpx; },
        to.rows, spanning, note);
  };
  return span != nullptr ? body(*span, true) : alone(body);
}

VsfStatus vsfCenterScaleXpX(VsfPassState* m, QkPageDescriptor* page) {
  vsfCenterScale(m, page);
  return vsfFullXpX(m, page);
}
VsfStatus vsfCenterScaleXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                              int64_t length) {
  vsfCenterScale(m, page);
  return vsfFullXpX_t(m, page, buffer, length);
}

VsfStatus vsfShiftSquaresXpX(VsfPassState* m, QkPageDescriptor* page) {
  vsfShiftRowsSquares(m, page);
  return vsfFullXpX(m, page);
}
VsfStatus vsfShiftSquaresXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                               int64_t length) {
  const int64_t squares = m->parmCount + 1;
  vsfShiftRowsSquares_t(m, page, buffer, squares);
  return vsfFullXpX_t(m, page, buffer + squares, length - squares);
}

namespace {

// The effect blocks straight into the model's blocks (the fold records' under CV).
VsfStatus effectXpXInto(VsfPassState* m, QkPageDescriptor* page, const RunShare& share) {
  return effectBody(m, page, share, [m](int32_t f, int32_t e) {
    return f < 0 ? m->effectBlocks[e] : m->cv.folds[f].effectBlocks[e];
  });
}

// The entering effect's rows straight into the model's triangle (the fold records' under CV).
VsfStatus effXpXInto(VsfPassState* m, QkPageDescriptor* page, const RunShare& share) {
  return effBody(m, page, share, 0, [m](int32_t f) { return f < 0 ? m->xpx : m->cv.folds[f].xpx; });
}

} // namespace

VsfStatus vsfEffectXpX(VsfPassState* m, QkPageDescriptor* page) {
  return effectXpXInto(m, page, RunShare{});
}
VsfStatus vsfEffectXpXPart(VsfPassState* m, QkPageDescriptor* page, int32_t part, int32_t parts,
                           std::atomic<VsfPageNote>*, VsfPageSpan*) {
  return effectXpXInto(m, page, runShareOf(m->effectCount, part, parts));
}
VsfStatus vsfEffectXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  // Offsets of every effect's block within one fold's slice.
  const int64_t slice = blocksLength(m);
  std::vector<int64_t> offsets(static_cast<size_t>(m->effectCount));
  int64_t off = 0;
  for (int32_t e = 0; e < m->effectCount; ++e) {
    offsets[e] = off;
    off += tri(m->effectColumns[e]);
  }
  return effectBody(m, page, RunShare{}, [&](int32_t f, int32_t e) {
    return buffer + (f < 0 ? 0 : f * slice) + offsets[e];
  });
}

VsfStatus vsfEffXpX(VsfPassState* m, QkPageDescriptor* page) {
  return effXpXInto(m, page, RunShare{});
}
VsfStatus vsfEffXpXPart(VsfPassState* m, QkPageDescriptor* page, int32_t part, int32_t parts,
                        std::atomic<VsfPageNote>*, VsfPageSpan*) {
  const int32_t k = m->inModelList[m->inModelCount - 1];
  return effXpXInto(m, page,
                    runShareOf(m->layout.splitSparse ? 1 : m->effectColumns[k], part, parts));
}
VsfStatus vsfEffXpX_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t length) {
  const int64_t K = m->cv.foldCount > 0 ? m->cv.foldCount : 1;
  const bool cv = vsfRowShape(m).cv;
  const int64_t slice = cv ? length / K : length;
  const int64_t origin = tri(m->xpxColumns);
  return effBody(m, page, RunShare{}, origin,
                 [=](int32_t f) { return buffer + (f < 0 ? 0 : f * slice); });
}

VsfStatus vsfYCross(VsfPassState* m, QkPageDescriptor* page) {
  return yCrossBody(m, page, [m](int32_t f) { return f < 0 ? m->cross : m->cv.folds[f].cross; });
}
VsfStatus vsfYCross_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t) {
  const int64_t N = m->parmCount + 1;
  return yCrossBody(m, page, [=](int32_t f) { return buffer + (f < 0 ? 0 : f * N); });
}

namespace {

// The store columns of the pass's batch (of the entering effect without a batch).
[[nodiscard]] int64_t crossBatchColumns(const VsfPassState* m) {
  if (m->batch.crossBatch == nullptr)
    return m->effectColumns[m->inModelList[m->inModelCount - 1]];
  int64_t columns = 0;
  for (int32_t b = 0; b < m->batch.crossBatchCount; ++b)
    columns += m->effectColumns[m->batch.crossBatch[b]];
  return columns;
}

// The kept columns' products over the share, straight into the model's store.
VsfStatus effCrossInto(VsfPassState* m, QkPageDescriptor* page, const CrossShare& share,
                       VsfPageSpan& span, bool spanning) {
  const int64_t N = m->parmCount + 1;
  const int64_t c0 = m->crossColumnCount;
  return effCrossBody(
      m, page, share,
      [=](int32_t f, int32_t j) {
        return (f < 0 ? m->cross : m->cv.folds[f].cross) + (c0 + j) * N;
      },
      span.terms, spanning);
}

// The kept columns' products into a worker's buffer.
VsfStatus effCrossIntoBuffer(VsfPassState* m, QkPageDescriptor* page, double* buffer,
                             int64_t length, VsfPageSpan& span, bool spanning) {
  const int64_t N = m->parmCount + 1;
  const int64_t K = m->cv.foldCount > 0 ? m->cv.foldCount : 1;
  const bool cv = vsfRowShape(m).cv;
  const int64_t slice = cv ? length / K : length;
  return effCrossBody(
      m, page, wholeCross(m),
      [=](int32_t f, int32_t j) { return buffer + (f < 0 ? 0 : f * slice) + j * N; }, span.terms,
      spanning);
}

VsfStatus effCrossSpanned(VsfPassState* m, QkPageDescriptor* page, VsfPageSpan* span) {
  return effCrossInto(m, page, wholeCross(m), *span, true);
}
VsfStatus effCrossSpanned_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t length,
                            VsfPageSpan* span) {
  return effCrossIntoBuffer(m, page, buffer, length, *span, true);
}

} // namespace

constinit const VsfSpanForms kVsfEffCrossSpan{openSpan, finishSpan, releaseSpan, effCrossSpanned,
                                              effCrossSpanned_t};

VsfStatus vsfEffCross(VsfPassState* m, QkPageDescriptor* page) {
  return alone([&](VsfPageSpan& span, bool spanning) {
    return effCrossInto(m, page, wholeCross(m), span, spanning);
  });
}
VsfStatus vsfEffCross_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t length) {
  return alone([&](VsfPageSpan& span, bool spanning) {
    return effCrossIntoBuffer(m, page, buffer, length, span, spanning);
  });
}
VsfStatus vsfEffCrossPart(VsfPassState* m, QkPageDescriptor* page, int32_t part, int32_t parts,
                          std::atomic<VsfPageNote>*, VsfPageSpan* span) {
  CrossShare share = wholeCross(m);
  if (!m->layout.splitSparse && crossContiguous(m)) {
    const int64_t P = m->parmCount;
    share.begin = static_cast<int32_t>(P * part / parts);
    share.end = static_cast<int32_t>(P * (part + 1) / parts);
    share.response = part == 0;
  } else {
    const int64_t C = crossBatchColumns(m);
    share.columnBegin = static_cast<int32_t>(C * part / parts);
    share.columnEnd = static_cast<int32_t>(C * (part + 1) / parts);
  }
  if (span != nullptr)
    return effCrossInto(m, page, share, *span, true);
  return alone(
      [&](VsfPageSpan& own, bool spanning) { return effCrossInto(m, page, share, own, spanning); });
}
