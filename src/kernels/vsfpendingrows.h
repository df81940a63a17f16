// Rows a cross-product pass holds back before it adds them: page rows waiting for the Gram
// kernel's blocked update of the dense triangles, and the rows a part of a shared pass fetches
// ahead of its walk.
#pragma once

#include "kernels/vsfgramk.h"
#include "kernels/vsfrowwalk.h"

#include <cstdint>
#include <vector>

// Page rows waiting for the blocked update of the dense triangles, a block for each of a few
// targets (the folds' triangles of CV take rows in turn), each updating only its rows [lo, hi)
// of its triangle. A target's rows go in row order, and an element's sums do not depend on
// where its blocks are cut, so a block is added when full, when its slot is wanted for another
// target, or at the end of the page (of the span's pages within a span). A fold's rows wait
// as they are, with the fold's centre: the Gram kernel centres each value as it packs the
// block, so a part of a shared pass centres only the values of its own rows.
struct VsfPendingRows {
  static constexpr int kTargets = 10;
  struct Block {
    double* target = nullptr;
    const double* centre = nullptr; // the target's rows less this (n values), or null
    const double* x[kVsfGramRows];
    double w[kVsfGramRows];
    int32_t count = 0;
    int32_t lo = 0, hi = 0;
    bool finite = true; // every row's values (less the centre) found finite on the way in
  };
  Block blocks[kTargets];
  int next = 0; // the slot a new target takes when none is free
  int32_t n = 0;
  // Centred copies of a block holding a value that is not finite, which takes the update that
  // skips zero terms.
  std::vector<double> copies;

  void flush(Block& b) {
    if (b.count > 0 && b.lo < b.hi) {
      if (b.centre == nullptr)
        (b.finite ? vsfGramUpdateFiniteRows : vsfGramUpdateRows)(b.target, n, b.x, b.w, b.count,
                                                                 b.lo, b.hi);
      else if (b.finite)
        vsfGramUpdateCentredRows(b.target, n, b.x, b.centre, b.w, b.count, b.lo, b.hi);
      else
        flushCopies(b);
    }
    b.count = 0;
    b.finite = true;
  }
  void flushCopies(Block& b) {
    copies.resize(static_cast<size_t>(b.count) * static_cast<size_t>(n));
    const double* rows[kVsfGramRows];
    for (int32_t r = 0; r < b.count; ++r) {
      double* y = copies.data() + static_cast<size_t>(r) * static_cast<size_t>(n);
      for (int32_t i = 0; i < n; ++i)
        y[i] = b.x[r][i] - b.centre[i];
      rows[r] = y;
    }
    vsfGramUpdateRows(b.target, n, rows, b.w, b.count, b.lo, b.hi);
  }
  void flush() {
    for (Block& b : blocks)
      flush(b);
  }
  Block& blockOf(double* T) {
    for (Block& b : blocks)
      if (b.target == T)
        return b;
    for (Block& b : blocks)
      if (b.target == nullptr) {
        b.target = T;
        return b;
      }
    Block& b = blocks[next];
    next = (next + 1) % kTargets;
    flush(b);
    b.target = T;
    return b;
  }
  // Sets the triangles' order, adding what waits for others.
  void cover(int32_t order) {
    if (order != n) {
      flush();
      n = order;
    }
  }
  // Adds a row, less `centre` (null: none), to the rows [lo, hi) of T; `finite` when its n
  // values (less the centre) were found finite (vsfAllFinite, vsfAllFiniteLess). The row stays
  // where it is until added.
  void add(double* T, int32_t lo, int32_t hi, const double* centre, const double* row,
           double weight, bool finite) {
    Block& b = blockOf(T);
    if (b.count > 0 && (b.centre != centre || b.lo != lo || b.hi != hi))
      flush(b);
    b.centre = centre;
    b.lo = lo;
    b.hi = hi;
    b.finite = b.finite && finite;
    b.x[b.count] = row;
    b.w[b.count++] = weight;
    if (b.count == kVsfGramRows)
      flush(b);
  }
};

// The rows a part of a shared pass adds, a few rows behind its walk of the page. Such a part
// reads the rows of a few folds only, scattered over the page, which the processor does not
// fetch ahead as it does rows read one after another: each row is asked for as the walk meets
// it and added kDepth rows later, once its values have come.
class VsfRowsAhead {
public:
  static constexpr int kDepth = 4;
  // Asks for the row's first n values and keeps it; returns the row kDepth rows before it,
  // now to be added, or null.
  const VsfTrainRow* push(const VsfTrainRow& r, int32_t n) {
    for (int32_t i = 0; i < n; i += 8)
      __builtin_prefetch(r.y + i);
    const VsfTrainRow* due = nullptr;
    if (count_ == kDepth) {
      out_ = ring_[head_];
      due = &out_;
    } else {
      ++count_;
    }
    ring_[head_] = r;
    head_ = (head_ + 1) % kDepth;
    return due;
  }
  // The rows kept, oldest first.
  template <class Fn> void drain(Fn&& fn) {
    for (int k = 0; k < count_; ++k)
      fn(ring_[(head_ + kDepth - count_ + k) % kDepth]);
    count_ = 0;
  }

private:
  VsfTrainRow ring_[kDepth];
  VsfTrainRow out_;
  int head_ = 0, count_ = 0;
};
