// The kept columns' terms of a page's rows added into their store columns: a single row's into
// all its columns slice by slice, several rows' into each column at once, so that a column is
// read and written once per page. Declared in kernels/vsfpageterms.h.
#include "kernels/vsfpageterms.h"

#include "kernels/vsfrankk.h"
#include "support/scratcharena.h"

#include <algorithm>
#include <cstddef>
#include <functional>

// The thread's scratch of the terms' addition (support/scratcharena.h), set afresh on every
// call.
struct VsfTermsScratch {
  std::vector<double*> into;     // the columns
  std::vector<const double*> xs; // the rows' slices
  std::vector<double> vs;        // the multipliers
  std::vector<size_t> start;     // each column's first term
  std::vector<uint8_t> same;     // the columns that take the rows of the one before
};
VsfTermsScratch& VsfScratchArena::terms() { return part(terms_); }

namespace {

// into[i][p] += x[p] * v[i] for every column i and p in [begin, end), a slice of x at a time
// for every column, so that a slice is read from memory once however many columns there are.
// GCC adds an AVX2 version, chosen when the program loads.
__attribute__((target_clones("avx2", "default"))) void
addScaledColumns(double* const* into, const double* v, size_t columns, const double* x,
                 int32_t begin, int32_t end) {
  constexpr int32_t kSlice = 512; // doubles of x kept in the first-level cache
  for (int32_t p0 = begin; p0 < end; p0 += kSlice) {
    const int32_t p1 = std::min(p0 + kSlice, end);
    size_t i = 0;
    // Four columns at a time share each value of x.
    for (; i + 4 <= columns; i += 4) {
      double* __restrict a = into[i];
      double* __restrict b = into[i + 1];
      double* __restrict c = into[i + 2];
      double* __restrict d = into[i + 3];
      const double ua = v[i], ub = v[i + 1], uc = v[i + 2], ud = v[i + 3];
      for (int32_t p = p0; p < p1; ++p) {
        const double xp = x[p];
        a[p] += xp * ua;
        b[p] += xp * ub;
        c[p] += xp * uc;
        d[p] += xp * ud;
      }
    }
    for (; i < columns; ++i) {
      double* out = into[i];
      const double u = v[i];
      for (int32_t p = p0; p < p1; ++p)
        out[p] += x[p] * u;
    }
  }
}

} // namespace

void vsfAddPageTerms(std::vector<VsfPageTerm>& terms, int32_t rows, int32_t begin, int32_t end) {
  VsfTermsScratch& scratch = VsfScratchArena::mine().terms();
  std::vector<double*>& into = scratch.into;
  std::vector<const double*>& xs = scratch.xs;
  std::vector<double>& vs = scratch.vs;
  into.clear();
  vs.clear();
  if (rows == 1) {
    for (const VsfPageTerm& t : terms) {
      into.push_back(t.into);
      vs.push_back(t.v);
    }
    if (!terms.empty())
      addScaledColumns(into.data(), vs.data(), terms.size(), terms[0].x, begin, end);
    return;
  }
  std::stable_sort(terms.begin(), terms.end(), [](const VsfPageTerm& a, const VsfPageTerm& b) {
    return std::less<const double*>()(a.into, b.into);
  });
  std::vector<size_t>& start = scratch.start; // column c's terms: [start[c], start[c + 1])
  start.clear();
  for (size_t i = 0; i < terms.size(); ++i) {
    vs.push_back(terms[i].v);
    if (i == 0 || terms[i].into != terms[i - 1].into)
      start.push_back(i);
  }
  start.push_back(terms.size());
  const size_t columns = start.size() - 1;
  // Whether column c takes the same rows as column c - 1 (dense data: every column does), so
  // that four such columns take each row's values in one reading.
  std::vector<uint8_t>& same = scratch.same;
  same.assign(columns, 0);
  for (size_t c = 1; c < columns; ++c)
    same[c] = start[c + 1] - start[c] == start[c] - start[c - 1] &&
              std::equal(terms.begin() + static_cast<ptrdiff_t>(start[c]),
                         terms.begin() + static_cast<ptrdiff_t>(start[c + 1]),
                         terms.begin() + static_cast<ptrdiff_t>(start[c - 1]),
                         [](const VsfPageTerm& a, const VsfPageTerm& b) { return a.x == b.x; });
  // Slice by slice, and in a slice kVsfRankRows rows at a time for every column in turn: a
  // chunk of the rows' slices stays in the first-level cache while the columns take it.
  constexpr int32_t kSlice = 256;
  for (int32_t p0 = begin; p0 < end; p0 += kSlice) {
    const int32_t len = std::min(kSlice, end - p0);
    xs.resize(terms.size());
    for (size_t i = 0; i < terms.size(); ++i)
      xs[i] = terms[i].x + p0;
    for (size_t q = 0, more = 1; more != 0; q += kVsfRankRows) {
      more = 0;
      for (size_t c = 0; c < columns;) {
        const size_t b = start[c] + q, e = start[c + 1];
        if (b >= e) {
          ++c;
          continue;
        }
        more = 1;
        const auto k = static_cast<int32_t>(std::min<size_t>(kVsfRankRows, e - b));
        if (c + 4 <= columns && same[c + 1] && same[c + 2] && same[c + 3]) {
          double* out[4];
          const double* a[4];
          for (size_t i = 0; i < 4; ++i) {
            out[i] = terms[start[c + i]].into + p0;
            a[i] = vs.data() + start[c + i] + q;
          }
          vsfAddRowsToFour(out, len, a, xs.data() + b, k);
          c += 4;
        } else {
          vsfAddRows(terms[b].into + p0, len, vs.data() + b, xs.data() + b, k);
          ++c;
        }
      }
    }
  }
}
