// The structured road's pass: the small triangle and the many-level effect's diagonal and
// cross block summed over the pages in the order the rows were read, placed in the model's
// state, and made each fold record's sums outside its fold.
// Declared in model/vsfstructured.h.
#include "model/vsfstructuredparts.h"

#include "data/vsfutilfile.h"
#include "kernels/vsfxpxstructured.h"
#include "model/vsffoldmove.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

using packed::tri;
using namespace structroad;

namespace {

// A sum that is not finite ends the fit as the packed triangle's does.
[[nodiscard]] bool finiteSums(VsfModel* m) {
  const VsfStructured* st = m->structured;
  const auto allFinite = [](const double* x, int64_t n) {
    return std::all_of(x, x + n, [](double v) { return std::isfinite(v); });
  };
  const bool finite = std::isfinite(st->rankOne) && allFinite(st->diagonal, st->columns) &&
                      allFinite(st->cross, static_cast<int64_t>(st->columns) * st->dense) &&
                      allFinite(st->joinValue, joinedCount(*st)) &&
                      allFinite(st->rankCross, st->small);
  if (!finite) {
    m->fitStatus = VsfFitStatus::Overflow;
    m->overflowEffect = st->effect;
  }
  return finite;
}

void addInto(double* total, const double* part, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    total[i] += part[i];
}

// One set of the kernel's sums made a state's: its small triangle copied out, its diagonal,
// cross block and the rankOne rows' sums where the pass left them (vsfStructuredPlaceIn).
// Those rows add the same to every off-diagonal element, and to each column's cross products
// (VsfCrossRow adds rankCross to every row).
void placeSums(VsfStructured* st, double* triangle, const double* from) {
  const int64_t T = tri(st->small), k = st->columns;
  const int64_t rankOne = T + k + k * st->dense + joinedCount(*st);
  assert(st->diagonal == from + T && st->cross == from + T + k &&
         st->rankCross == from + rankOne + 1 && "the state's sums lie in the pass's buffer");
  std::memcpy(triangle, from, sizeof(double) * static_cast<size_t>(T));
  st->rankOne = from[rankOne];
}
void complementOf(const double* total, double* part, int64_t n) {
  for (int64_t i = 0; i < n; ++i)
    part[i] = total[i] - part[i];
}

// Every page into one buffer in the order the rows were read (page k is page k / F of file
// k % F), so that every sum takes its rows in the single thread's order whatever the number
// of page files (one a thread): these sums do not depend on the thread count, as the packed
// road's shared triangle's do not. Visiting file after file took the pages in another order
// on every thread count. Pages on disk are visited file after file.
[[nodiscard]] VsfStatus readOrderPass(VsfModel* m, double* total, int64_t L) {
  VsfBagVec* vec = m->bags;
  const uint32_t F = vec != nullptr ? vec->count : 0;
  VsfStatus rc = VsfStatus::Ok;
  if (F > 0 && vsfAllPagesInMemory(vec)) {
    vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t) {
      VsfUtilFile* rec = &vec->files[f];
      rec->page.buffer = rec->memPages[j];
      rec->page.pageNumber = 0;
      rc = vsfStructuredXpX_t(m, &rec->page, total, L);
      return rc == VsfStatus::Ok;
    });
    return rc;
  }
  for (uint32_t f = 0; f < F && rc == VsfStatus::Ok; ++f)
    rc = vsfUtilReadByThreads(m, vsfStructuredXpX_t, total, L, &vec->files[f]);
  return rc;
}

// The records' effect sums as the total less each fold's part, all about the pages' shift.
void foldsOutside(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t k = st->columns, cross = k * st->dense, joined = joinedCount(*st);
  for (int32_t f = 0; f < st->foldCount; ++f) {
    const VsfStructured& F = st->folds[f];
    addInto(st->diagonal, F.diagonal, k);
    addInto(st->cross, F.cross, cross);
    addInto(st->joinValue, F.joinValue, joined);
    addInto(st->rankCross, F.rankCross, st->small);
    st->rankOne += F.rankOne;
  }
  for (int32_t f = 0; f < st->foldCount; ++f) {
    VsfStructured& F = st->folds[f];
    complementOf(st->diagonal, F.diagonal, k);
    complementOf(st->cross, F.cross, cross);
    complementOf(st->joinValue, F.joinValue, joined);
    complementOf(st->rankCross, F.rankCross, st->small);
    F.rankOne = st->rankOne - F.rankOne;
  }
}

// Adds each fold's part of element i of an effect array to the total and makes the part the
// other folds' parts, each part moved from its fold's centre along small column c (by the
// column's shift times the part's first sums of the effect's column, first(f)) to the pages'
// shift for the total and to the record's means for a record. Extended precision, the folds
// in order, as the small triangle's elements (vsfCVFullOutsideFolds).
template <class Part, class First>
void movedOutside(const VsfFoldCentres& centres, double* total, Part part, First first, int64_t i,
                  int64_t c, std::vector<double>& own) {
  const auto K = static_cast<int32_t>(own.size());
  const auto moved = [&](int32_t k, int32_t f) {
    return vsfMovedPart(own[static_cast<size_t>(f)], 0.0L, centres.shift(k, f, c), first(f), 0.0L,
                        centres.W[static_cast<size_t>(f)]);
  };
  long double sum = 0.0L;
  for (int32_t f = 0; f < K; ++f) {
    own[static_cast<size_t>(f)] = part(f)[i];
    sum += moved(K, f);
  }
  total[i] += static_cast<double>(sum);
  for (int32_t k = 0; k < K; ++k) {
    long double rest = 0.0L;
    for (int32_t f = 0; f < K; ++f)
      if (f != k)
        rest += moved(k, f);
    part(k)[i] = static_cast<double>(rest);
  }
}

// The records' effect sums where the pass summed each fold's rows about the fold's own means
// (the dense small columns; the effect's and the joining effects' columns stay raw): the
// cross products with the small columns move with the folds' centres (movedOutside), the
// effect's first sums being a level's diagonal and the rankOne rows' kVsfRankOneValue times
// their rankOne, before those parts become the records'; the rest are the other folds' parts.
void foldsAboutTheirMeans(VsfModel* m) {
  VsfStructured* st = m->structured;
  VsfStructured* F = st->folds;
  const VsfFoldCentres centres = vsfFoldCentres(m);
  std::vector<double> own(static_cast<size_t>(st->foldCount));
  const int64_t d = st->dense;
  for (int64_t j = 0; j < st->columns; ++j)
    for (int64_t c = 0; c < d; ++c)
      movedOutside(
          centres, st->cross, [F](int32_t f) { return F[f].cross; },
          [F, j](int32_t f) { return F[f].diagonal[j]; }, j * d + c, c, own);
  for (int64_t c = 0; c < st->small; ++c)
    movedOutside(
        centres, st->rankCross, [F](int32_t f) { return F[f].rankCross; },
        [F](int32_t f) { return kVsfRankOneValue * F[f].rankOne; }, c, c, own);
  const int32_t K = st->foldCount;
  foldSumsOutside(
      st->diagonal, K, [F](int32_t f) { return F[f].diagonal; }, 0, st->columns);
  foldSumsOutside(
      st->joinValue, K, [F](int32_t f) { return F[f].joinValue; }, 0, joinedCount(*st));
  foldSumsOutside(
      &st->rankOne, K, [F](int32_t f) { return &F[f].rankOne; }, 0, 1);
}

// The sums of the pass, placed in the model's and the folds' records.
[[nodiscard]] VsfStatus structuredSums(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t L = vsfStructuredXpXLength(st);
  std::fill(st->sums, st->sums + L, 0.0);
  if (const VsfStatus rc = readOrderPass(m, st->sums, L); rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  st->offDiagonal = st->sums[L - 1] != 0.0 ? 1 : 0;
  if (st->offDiagonal)
    return VsfStatus::Ok;
  const double* own = st->sums;
  placeSums(st, m->xpx, own);
  for (int32_t f = 0; f < st->foldCount; ++f)
    placeSums(&st->folds[f], m->cv.folds[f].xpx, own + (1 + f) * vsfStructuredSegmentLength(st));
  // A fold record holds the sums of the rows outside its fold (its small triangle is made
  // so by vsfCVFullOutsideFolds, with the packed road's).
  if (m->cv.foldCentre != nullptr)
    foldsAboutTheirMeans(m);
  else
    foldsOutside(m);
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfStructuredCrossProducts(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (const VsfStatus rc = structuredSums(m); rc != VsfStatus::Ok)
    return rc;
  if (st->offDiagonal) {
    // The effect's block is neither shape the road solves: the packed triangle of every
    // column after all.
    m->structured = nullptr;
    const int32_t columns = m->parmCount + 1;
    if (const VsfStatus rc = vsfAddXpXMemory(m, columns); rc != VsfStatus::Ok)
      return rc;
    m->xpxColumns = columns;
    std::fill(m->xpx, m->xpx + tri(columns), 0.0);
    // The folds' own sums of the small triangle are no use to the triangle of every column,
    // whose fold centres are taken again.
    for (int32_t f = 0; f < st->foldCount; ++f) {
      std::fill(m->cv.folds[f].xpx, m->cv.folds[f].xpx + tri(columns), 0.0);
      m->cv.folds[f].ownXpx = nullptr;
    }
    return VsfStatus::Ok;
  }
  // A sum that is not finite is kept in m->fitStatus, which ends the fit.
  (void)finiteSums(m);
  return VsfStatus::Ok;
}
