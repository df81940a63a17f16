// Whether the structured road serves a fit and costs less than the packed triangle, and the
// set-up of its states: the model's and each fold record's arrays, and the places of the
// joining effects' cross products. Declared in model/vsfstructured.h.
#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"

#include "data/vsfdata.h"
#include "data/vsfutilfile.h"
#include "kernels/vsfxpxstructured.h"
#include "model/vsfmodel.h"
#include "numerics/packedtri.h"
#include "support/seams.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <utility>
#include <vector>

using packed::tri;

namespace {

// The work an entry of the effect must save for the structured road to be taken.
constexpr double kWorthwhileWork = 1e6;

// The methods the road serves: BACKWARD, whose removal trials unsweep in the small state,
// and FORWARD and STEPWISE, whose trial of a multi-column effect goes by its block on the
// whole cross products or, when they select by cross validation, PRESS or the validation
// rows' error, by its entry into the model and the folds (the validation rows' residuals then
// take the effect's estimates from its state, as after a step).
[[nodiscard]] bool servedMethod(const VsfModelOptions& o) {
  const VsfMethodTraits& method = vsfMethod(o.method);
  return (method.startsFull || method.entryTrials) && !o.adaptive;
}

// Cross validation by fold records (their estimates of the effect from their own states),
// or no folds at all.
[[nodiscard]] bool servedFolds(const VsfModelOptions& o, int32_t folds) {
  return o.cvOn ? folds >= 2 : folds == 0;
}

// Whether the last sparse effect is a constructed one (a B-spline basis of many columns): the
// road sums the levels' 0/1 codes, which a constructed effect's values are not.
[[nodiscard]] bool lastSparseConstructed(const VsfModel* m) {
  const VsfDataSettings* s = m->dataSettings;
  const int32_t last = m->layout.sparseEffectList[m->layout.sparseEffectCount - 1];
  return s != nullptr && last < s->entryCount && s->entries[last].constructed != 0;
}

[[nodiscard]] bool served(const VsfModel* m) { return vsfStructuredRefusal(m) == VsfMsg{}; }

// The arrays of one state, from the model pool; false when one does not fit.
[[nodiscard]] bool arraysOf(VsfModel* m, VsfStructured* st) {
  const int64_t k = st->columns;
  st->swept = vsfModelArray<char>(m, k);
  st->sweptDiagonal = vsfModelArray<double>(m, k);
  st->reduced = vsfModelArray<double>(m, tri(st->small));
  st->savedSwept = vsfModelArray<char>(m, k);
  st->lost = vsfModelArray<char>(m, k);
  st->savedLost = vsfModelArray<char>(m, k);
  st->savedSweptDiagonal = vsfModelArray<double>(m, k);
  st->savedReduced = vsfModelArray<double>(m, tri(st->small), false);
  st->factorOver = vsfModelArray<char>(m, st->small);
  st->savedFactorOver = vsfModelArray<char>(m, st->small);
  st->estimates = vsfModelArray<double>(m, k);
  st->refined = vsfModelArray<double>(m, k);
  if (!st->swept || !st->sweptDiagonal || !st->reduced || !st->savedSwept || !st->lost ||
      !st->savedLost || !st->savedSweptDiagonal || !st->savedReduced || !st->factorOver ||
      !st->savedFactorOver || !st->estimates || !st->refined)
    return false;
  std::fill(st->swept, st->swept + k, '0');
  std::fill(st->factorOver, st->factorOver + st->small, '0');
  std::fill(st->lost, st->lost + k, '0');
  st->refinedValid = 0;
  st->diagonalStale = 0;
  st->reducedCopied = 0;
  st->reducedKept = 0;
  return true;
}

// The places of the cross block's joining part (VsfStructured::joinStart): with sparse
// effects joining the road and every page in memory, each level keeps only the joining
// columns its rows meet (a pass over the pages' rows finds them), its row of the dense columns
// in place; otherwise every small column is in place. False when the lists do not fit.
[[nodiscard]] bool joinPattern(VsfModel* m, VsfStructured* st) {
  st->dense = st->small;
  st->joinStart = nullptr;
  st->joinColumn = nullptr;
  VsfBagVec* vec = m->bags;
  if (m->layout.sparseEffectCount < 2 || vec == nullptr || vec->count == 0 ||
      !vsfAllPagesInMemory(vec))
    return true;
  st->dense = m->effectColumn[m->layout.sparseEffectList[0]];
  std::vector<std::pair<int32_t, int32_t>> pairs;
  m->structured = st;
  vsfEachPageInReadOrder(vec, [&](uint32_t f, int64_t j, int64_t) {
    VsfUtilFile* rec = &vec->files[f];
    rec->page.buffer = rec->memPages[j];
    rec->page.pageNumber = 0;
    vsfStructuredJoinPairs(m, &rec->page, pairs);
    return true;
  });
  m->structured = nullptr;
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  int64_t* start = vsfModelArray<int64_t>(m, st->columns + 1);
  int32_t* column = vsfModelArray<int32_t>(m, std::max<int64_t>(int64_t(pairs.size()), 1));
  if (start == nullptr || column == nullptr)
    return false;
  std::fill(start, start + st->columns + 1, 0);
  for (size_t p = 0; p < pairs.size(); ++p) {
    ++start[pairs[p].first + 1];
    column[p] = pairs[p].second;
  }
  for (int64_t j = 0; j < st->columns; ++j)
    start[j + 1] += start[j];
  st->joinStart = start;
  st->joinColumn = column;
  return true;
}

} // namespace

int32_t vsfStructuredLeastColumns(int64_t small) {
  // The work saved grows with the effect's columns: the least that saves enough, by halving.
  int64_t lo = 1, hi = int64_t{1} << 30;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    if (vsfStructuredCheaper(mid, small))
      hi = mid;
    else
      lo = mid + 1;
  }
  return static_cast<int32_t>(lo);
}

int32_t vsfStructuredEffect(const VsfModel* m) {
  const int32_t count = m->layout.sparseEffectCount;
  if (count < 1)
    return -1;
  const VsfDataSettings* s = m->dataSettings;
  for (int32_t i = 0; i + 1 < count; ++i) {
    const int32_t e = m->layout.sparseEffectList[i];
    if (s == nullptr || e >= s->entryCount || s->entries[e].joined == 0)
      return -1;
  }
  return lastSparseConstructed(m) ? -1 : m->layout.sparseEffectList[count - 1];
}

VsfMsg vsfStructuredFitRefusal(const VsfModelOptions& o, int32_t folds) {
  if (!servedMethod(o))
    return VsfMsg::RoadNotForMethod;
  if (o.cvExternal)
    return VsfMsg::RoadNotForExternalCv;
  if (!servedFolds(o, folds))
    return VsfMsg::RoadNotForOneFold;
  if (o.modelAverage)
    return VsfMsg::RoadNotForAveraging;
  if (o.hierarchy != VsfHierarchy::None)
    return VsfMsg::RoadNotForHierarchy;
  if (o.colStandardize || o.parmStandardize)
    return VsfMsg::RoadNotForStandardised;
  return VsfMsg{};
}

// The fits the structured road serves (vsfStructuredFitRefusal), with nothing that needs other
// sums than X'X and the folds' (resamples, external cross validation, an L2 search); the one
// sparse effect is the last in column order and has many columns, and the cross products are
// built whole. That rule comes last: the build is chosen for the road where the rest let the
// fit take it (vsfStructuredPlan), so that only the user's BUILDSSCP=INCREMENTAL fails it
// alone.
VsfMsg vsfStructuredRefusal(const VsfModel* m) {
  if (m->elnet.l2BaseXpx != nullptr)
    return VsfMsg::RoadNotForMethod;
  if (m->cvexPass.cvexSums != nullptr)
    return VsfMsg::RoadNotForExternalCv;
  if (m->resampler != nullptr)
    return VsfMsg::RoadNotForAveraging;
  if (const VsfMsg fit = vsfStructuredFitRefusal(*m->options, m->cv.foldCount); fit != VsfMsg{})
    return fit;
  if (m->layout.sparseEffectCount < 1 || lastSparseConstructed(m))
    return VsfMsg::RoadNotForFewLevels;
  const int32_t e = vsfStructuredEffect(m);
  if (e < 0)
    return VsfMsg::RoadNotForSeveralSparse;
  if (m->effectColumn[e] + m->effectColumns[e] != m->parmCount + 1 ||
      !vsfStructuredCheaper(m->effectColumns[e], m->effectColumn[e]))
    return VsfMsg::RoadNotForFewLevels;
  return vsfFullXpxOn(m) ? VsfMsg{} : VsfMsg::RoadNotForGrowingProducts;
}

VsfMsg vsfStructuredPlan(const VsfModelOptions& o, const VsfDataSettings& s, VsfRoadShape* road) {
  *road = VsfRoadShape{};
  const int32_t folds = s.cv || s.xcv ? s.folds : 0;
  if (const VsfMsg fit = vsfStructuredFitRefusal(o, folds); fit != VsfMsg{})
    return fit;
  // The effects stored sparse that do not join the road: the road takes the one of them,
  // which the reading pass places last.
  int32_t many = -1, alone = 0, joinedEntries = 0;
  int64_t total = 0, joinedColumns = 0;
  for (int32_t i = 0; i < s.entryCount; ++i) {
    const VsfEffectEntry& e = s.entries[i];
    total += std::max(e.columnCount, 0);
    if (vsfEntryStoredDense(&s, e))
      continue;
    if (e.joined != 0) {
      ++joinedEntries;
      joinedColumns += e.columnCount;
    } else {
      ++alone;
      many = i;
    }
  }
  if (many < 0 || s.entries[many].constructed != 0)
    return VsfMsg::RoadNotForFewLevels;
  if (alone > 1)
    return VsfMsg::RoadNotForSeveralSparse;
  const int64_t k = s.entries[many].columnCount, small = 1 + total - k;
  if (!vsfStructuredCheaper(k, small))
    return VsfMsg::RoadNotForFewLevels;
  // Each level keeps the joining columns its rows meet: no more than all of them, nor than
  // one for each joining effect of each row.
  const double rows = s.expectedRows >= 0 ? double(s.expectedRows) : 1e300;
  *road = {many, k, small, small - joinedColumns,
           int64_t(std::min(double(k) * double(joinedColumns), rows * joinedEntries))};
  return VsfMsg{};
}

bool vsfStructuredCheaper(int64_t columns, int64_t small) {
  if (const int32_t forced = seam::structuredColumns(); forced > 0)
    return columns >= forced;
  const double k = static_cast<double>(columns), s = static_cast<double>(small);
  const double packedWork = k * (k + s) * (k + s) / 2.0;
  const double structuredWork = (3.0 * k + s) * s * s / 2.0;
  return packedWork - structuredWork >= kWorthwhileWork;
}

bool vsfJoinCheaper(int64_t columns, int64_t small, int64_t rows) {
  if (!vsfStructuredCheaper(columns, small))
    return false;
  if (seam::structuredColumns() > 0)
    return true;
  const double k = static_cast<double>(columns), s = static_cast<double>(small);
  const double n = static_cast<double>(std::max<int64_t>(rows, 0));
  const double packedWork = k * (k + s) * (k + s) / 2.0;
  const double joinedWork = (3.0 * k + s) * s * s / 2.0 + n * s * s / 2.0;
  return joinedWork < packedWork;
}

VsfStatus vsfStructuredSetUp(VsfModel* m) {
  m->structured = nullptr;
  if (m->packedOnly || !served(m))
    return VsfStatus::Ok;
  VsfStructured* st = vsfModelArray<VsfStructured>(m, 1);
  if (st == nullptr)
    return VsfStatus::NoMemory;
  st->effect = vsfStructuredEffect(m);
  st->columns = m->effectColumns[st->effect];
  st->small = m->effectColumn[st->effect];
  if (!joinPattern(m, st))
    return VsfStatus::NoMemory;
  st->foldCount = vsfCvOn(m) ? m->cv.foldCount : 0;
  st->folds = st->foldCount > 0 ? vsfModelArray<VsfStructured>(m, st->foldCount) : nullptr;
  if (st->foldCount > 0 && st->folds == nullptr)
    return VsfStatus::NoMemory;
  if (!arraysOf(m, st) || (m->options->pressNeeded && !vsfStructuredPressArrays(m, st)))
    return VsfStatus::NoMemory;
  for (int32_t f = 0; f < st->foldCount; ++f) {
    VsfStructured& F = st->folds[f];
    F.effect = st->effect;
    F.columns = st->columns;
    F.small = st->small;
    F.dense = st->dense;
    F.joinStart = st->joinStart;
    F.joinColumn = st->joinColumn;
    F.sums = nullptr;
    if (!arraysOf(m, &F))
      return VsfStatus::NoMemory;
  }
  st->sums = vsfModelArray<double>(m, vsfStructuredXpXLength(st));
  if (st->sums == nullptr)
    return VsfStatus::NoMemory;
  vsfStructuredPlaceIn(st, st->sums);
  m->structured = st;
  return VsfStatus::Ok;
}
