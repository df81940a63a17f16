// The reading pass of a BY group: DATA=, then TESTDATA= and VALDATA=, read once into pages
// of dense or sparse design rows with weights, frequencies, roles and folds; the counts and
// sums the fit starts from. Rows come from a VsfRowSource; the completion of the pass is in
// vsfreadend.cpp.
#include "data/vsfdata.h"
#include "data/vsfreadpass.h"
#include "data/vsfrolefold.h"

#include "data/vsfpage.h"
#include "data/vsfpassstate.h"
#include "effects/levdesign.h"
#include "numerics/zranuni.h"
#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/seams.h"
#include "support/stepcodes.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using namespace vsfread;

void addScaled(double* sums, const double* values, int32_t n, double scale) {
  for (int32_t i = 0; i < n; ++i)
    sums[i] += scale * values[i];
}

// The role and fold rule of the pass's settings.
[[nodiscard]] VsfRoleFoldRule roleFoldRule(const VsfDataSettings* s) {
  return {!s->roleVar && s->trainFraction != 1.0, s->testFraction, s->validateFraction, s->cvMethod,
          s->folds};
}

// The role of a DATA= row.
[[nodiscard]] int32_t dataRole(Pass& p) {
  VsfDataSettings* s = p.s;
  if (!s->roleVar)
    return s->trainFraction == 1.0 ? VSF_ROLE_TRAIN : vsfDrawRole(roleFoldRule(s), s->seed);
  const char* text = nullptr;
  int32_t len = 0;
  p.src->roleValue(p.src->self, &text, &len);
  return vsfRoleOfValue(s->trainValue, s->validateValue, s->testValue, s->testData != 0, text, len);
}

// The fold of a TRAIN row; BLOCK folds wait for the group's TRAIN count, and INDEX rows hold
// their level until the levels met among the kept TRAIN rows are known (vsfReadCompletion).
[[nodiscard]] int32_t dataFold(Pass& p) {
  VsfDataSettings* s = p.s;
  const int32_t level = vsfCvScheme(s->cvMethod).indexFolds ? p.src->indexLevel(p.src->self) : 0;
  const int32_t fold = vsfTrainFold(roleFoldRule(s), p.foldCursor, s->seed, level, -1);
  if (fold >= 0 && fold < s->folds)
    p.foldMet[fold] = 1;
  return fold;
}

// Stages the sparse entries' non-zero values of a row given as its N design values, with
// their positions as codes from the code slot `nc` on; the entries' cumulative counts go to
// the code slots from countsAt.
void stageSparseFull(Pass& p, const double* full, int32_t& nd, int32_t& nc, int32_t countsAt) {
  const VsfRowLayout& L = p.layout;
  const VsfDataSettings* s = p.s;
  const int32_t top = L.codeCapacity - 1;
  int32_t stored = 0;
  for (int32_t k = 0; k < L.sparseCount; ++k) {
    // A slot's entries run from its first; a run of split entries codes their order in it.
    const int32_t first = L.sparseList[k];
    for (int32_t i = first; i < L.entryCount && p.model->layout.sparseSlot[i] == k; ++i) {
      const VsfEffectEntry& e = s->entries[i];
      for (int32_t c = 0; c < e.columnCount; ++c) {
        double v = full[e.firstColumn + (e.columnList ? e.columnList[c] : c)];
        if (v != 0.0) {
          p.stageD[nd++] = v;
          p.stageC[top - nc++] = c + (i - first);
          ++stored;
        }
      }
    }
    p.stageC[top - countsAt - k] = stored;
  }
}

// Stages the dense values and the sparse entries' non-zero values of a sparse row as
// stageSparseFull and the dense runs stage them from its N values: the dense values in
// place, zero where the row lists none, then each sparse entry's values in its column order.
void stageSparseRow(Pass& p, const DesignRow& row, int32_t& nd, int32_t& nc, int32_t countsAt) {
  const VsfRowLayout& L = p.layout;
  double* dense = p.stageD + nd;
  std::fill_n(dense, L.denseColumns, 0.0);
  int32_t* fill = p.entryFill;
  std::fill_n(fill, L.sparseCount, 0);
  for (int32_t i = 0; i < row.count; ++i) {
    const int32_t place = p.columnPlace[row.columns[i]];
    if (place >= 0)
      dense[place] = row.values[i];
    else if (place <= kSparsePlace && row.values[i] != 0.0)
      ++fill[kSparsePlace - place];
  }
  nd += L.denseColumns;
  // Each entry's first value, after the values of the entries before it.
  const int32_t top = L.codeCapacity - 1;
  int32_t stored = 0;
  for (int32_t k = 0; k < L.sparseCount; ++k) {
    const int32_t n = fill[k];
    fill[k] = stored;
    stored += n;
    p.stageC[top - countsAt - k] = stored;
  }
  for (int32_t i = 0; i < row.count; ++i) {
    const int32_t place = p.columnPlace[row.columns[i]];
    if (place > kSparsePlace || row.values[i] == 0.0)
      continue;
    const int32_t at = fill[kSparsePlace - place]++;
    p.stageD[nd + at] = row.values[i];
    p.stageC[top - nc - at] = p.columnCode[row.columns[i]];
  }
  nd += stored;
  nc += stored;
}

// Stages an observation's row: doubles and (backward) codes.
void buildRow(Pass& p, const DesignRow& row, double y, double w, double f, int32_t role,
              int32_t fold) {
  const VsfRowLayout& L = p.layout;
  const VsfDataSettings* s = p.s;
  int32_t nd = 0;
  if (s->weightGiven)
    p.stageD[nd++] = w;
  if (s->freqGiven)
    p.stageD[nd++] = f;
  if (s->resampling)
    p.stageD[nd++] = 0.0; // filled by the resampling kernels before any pass reads it
  p.stageD[nd++] = y;
  // Codes, first code in the last slot.
  const int32_t top = L.codeCapacity - 1;
  int32_t nc = 0;
  if (L.hasFold)
    p.stageC[top - nc++] = fold;
  if (L.hasRole)
    p.stageC[top - nc++] = role;
  const int32_t countsAt = nc;
  nc += L.sparseCount; // cumulative counts, filled with the values
  if (row.full == nullptr) {
    stageSparseRow(p, row, nd, nc, countsAt);
  } else {
    for (int32_t r = 0; r < p.denseRunCount; ++r) {
      const int32_t from = p.denseRuns[2 * r], length = p.denseRuns[2 * r + 1];
      std::memcpy(p.stageD + nd, row.full + from, sizeof(double) * static_cast<size_t>(length));
      nd += length;
    }
    stageSparseFull(p, row.full, nd, nc, countsAt);
  }
  p.stagedDoubles = nd;
  p.stagedCodes = nc;
}

// A row of a layout without sparse entries written straight onto the open page when it has the
// room, as placing the staged row would write it (the staging copy spared); false when no page
// is open or the row does not fit, for the staged road to open the next page.
[[nodiscard]] bool putDenseRow(Pass& p, const double* full, double y, double w, double f,
                               int32_t role, int32_t fold) {
  VsfPageWriter& W = p.writer;
  const VsfRowLayout& L = p.layout;
  const int64_t nd = L.fixedDoubles(), nc = L.fixedCodes();
  if (!W.open || W.next + 8 * nd + 4 * nc > W.lowest - 4)
    return false;
  auto* out = reinterpret_cast<double*>(W.page + W.next);
  if (p.deferTo != nullptr)
    *p.deferTo = out;
  else
    writeDenseDoubles(p, out, full, y, w, f);
  W.next += 8 * nd;
  // Codes below the previous row's, the first code highest.
  W.lowest -= 4 * nc;
  auto* codes = reinterpret_cast<int32_t*>(W.page + W.lowest);
  int32_t at = static_cast<int32_t>(nc);
  if (L.hasFold)
    codes[--at] = fold;
  if (L.hasRole)
    codes[--at] = role;
  ++W.rows;
  return true;
}

// Adds a training row's values to the column sums and sums of squares. A zero adds nothing:
// with a finite weight, adding its products (signed zeros) leaves every sum as skipping it
// does, since no sum is ever a negative zero; so the loop runs without a test per value, and
// a sparse row adds its listed values alone. Each column's sum takes its terms in row order
// on either road.
void addColumnSums(Pass& p, const DesignRow& row, double ww) {
  double* sum = p.colSum;
  double* sumSq = p.colSumSq;
  const bool finite = std::isfinite(ww);
  double* smallest = p.colSmallest;
  if (row.full == nullptr) {
    for (int32_t i = 0; i < row.count; ++i) {
      const double x = row.values[i];
      const int32_t c = row.columns[i];
      if (finite || x != 0.0) {
        sum[c] += x * ww;
        sumSq[c] += x * x * ww;
      }
      if (smallest != nullptr && x != 0.0)
        smallest[c] = std::min(smallest[c], std::fabs(x));
    }
    return;
  }
  const int32_t N = p.s->columnCount;
  const double* full = row.full;
  if (!finite) {
    for (int32_t c = 0; c < N; ++c)
      if (full[c] != 0.0) {
        sum[c] += full[c] * ww;
        sumSq[c] += full[c] * full[c] * ww;
      }
    return;
  }
  for (int32_t c = 0; c < N; ++c) {
    const double x = full[c];
    sum[c] += x * ww;
    sumSq[c] += x * x * ww;
  }
  if (smallest != nullptr)
    for (int32_t c = 0; c < N; ++c) {
      const double a = std::fabs(full[c]);
      smallest[c] = a > 0.0 && a < smallest[c] ? a : smallest[c];
    }
}

// Adds a training row's values times its frequency f to the bridge's column sums. As in the
// column sums, a zero adds nothing while f is finite; a sparse row with any other f is laid
// out whole first.
void addBridgeColumnSums(Pass& p, const DesignRow& row, double f) {
  const int32_t N = p.s->columnCount;
  if (row.full != nullptr) {
    addScaled(p.bridgeColSum, row.full, N, f);
    return;
  }
  if (std::isfinite(f)) {
    for (int32_t i = 0; i < row.count; ++i)
      p.bridgeColSum[row.columns[i]] += f * row.values[i];
    return;
  }
  std::fill_n(p.full, N, 0.0);
  for (int32_t i = 0; i < row.count; ++i)
    p.full[row.columns[i]] = row.values[i];
  addScaled(p.bridgeColSum, p.full, N, f);
}

// The dense values of a row in entry order as runs of consecutive design columns: (first
// column, length) pairs, so that staging a row copies runs.
[[nodiscard]] int32_t denseRunsOf(const VsfDataSettings* s, const VsfRowLayout& L, int32_t* runs) {
  int32_t n = 0;
  for (int32_t i = 0; i < L.entryCount; ++i) {
    const VsfEffectEntry& e = s->entries[i];
    if (L.denseOffset[i] < 0)
      continue;
    for (int32_t c = 0; c < e.columnCount; ++c) {
      const int32_t column = e.firstColumn + (e.columnList ? e.columnList[c] : c);
      if (n > 0 && runs[2 * n - 2] + runs[2 * n - 1] == column) {
        runs[2 * n - 1] += 1;
      } else {
        runs[2 * n] = column;
        runs[2 * n + 1] = 1;
        ++n;
      }
    }
  }
  return n;
}

// Places the staged row; opens and closes pages as needed.
[[nodiscard]] VsfStatus placeRow(Pass& p) {
  VsfPageWriter& w = p.writer;
  const int32_t* codes = p.stageC + (p.layout.codeCapacity - p.stagedCodes);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!w.open) {
      VsfStatus rc = vsfPageOpen(&w, p.bags, p.pagePool);
      if (rc != VsfStatus::Ok) {
        if (rc == VsfStatus::NoPage)
          raiseRc(*p.returnCode, StepRc::NoResources);
        return rc;
      }
    }
    if (vsfPagePut(&w, p.stageD, p.stagedDoubles, codes, p.stagedCodes))
      return VsfStatus::Ok;
    if (w.rows == 0) {
      // A fresh page is sized to hold the largest row; reaching here is a bug.
      xebug("vsfData: a design row does not fit on an empty page");
      return VsfStatus::InternalError;
    }
    VsfStatus rc = vsfPageClose(&w, p.bags);
    if (rc != VsfStatus::Ok) {
      // A page that cannot be written; a memory failure is left to the driver's report.
      if (rc == VsfStatus::PageNotWritten)
        raiseRc(*p.returnCode, StepRc::NotRestored);
      return rc;
    }
  }
  return VsfStatus::Ok;
}

// Whether the split levels go into sparse slots of runs of entries (splitSparse): every entry
// is one column, and some are voted sparse.
[[nodiscard]] bool splitSparseLayout(const VsfDataSettings* s) {
  if (!s->splitSparse)
    return false;
  bool any = false;
  for (int32_t i = 0; i < s->entryCount; ++i) {
    if (s->entries[i].columnCount != 1)
      return false;
    any = any || s->entries[i].sparseVote != 0;
  }
  return any;
}

// Whether rows carry a fold code.
[[nodiscard]] bool hasFoldCode(const VsfDataSettings* s) {
  return s->cvMethod != VsfCvMethod::None && (s->cv || s->xcv);
}

// The bytes every row takes on a page when all entries are stored dense; 0 when some entry is
// sparse (rows then differ).
[[nodiscard]] int64_t denseRowBytes(const VsfDataSettings* s) {
  if (splitSparseLayout(s))
    return 0;
  int64_t doubles = s->weightGiven + s->freqGiven + s->resampling + 1;
  for (int32_t i = 0; i < s->entryCount; ++i) {
    if (!vsfEntryStoredDense(s, s->entries[i]))
      return 0;
    doubles += s->entries[i].columnCount;
  }
  return 8 * doubles + 4 * (int64_t{hasFoldCode(s)} + s->roleCodes);
}

// The columns' places in a staged row of the sparse road; false when a column lies in two
// entries or a split entry's columns are not in ascending order (the order a row lists them).
[[nodiscard]] bool placeColumns(Pass& p) {
  const VsfDataSettings* s = p.s;
  const VsfRowLayout& L = p.layout;
  const int32_t N = s->columnCount;
  std::fill_n(p.columnPlace, N, kNoPlace);
  for (int32_t i = 0; i < L.entryCount; ++i) {
    const VsfEffectEntry& e = s->entries[i];
    for (int32_t c = 0; c < e.columnCount; ++c) {
      const int32_t at = e.columnList != nullptr ? e.columnList[c] : c;
      const int32_t column = e.firstColumn + at;
      if (column < 0 || column >= N || p.columnPlace[column] != kNoPlace ||
          (e.columnList != nullptr && c > 0 && at <= e.columnList[c - 1]))
        return false;
      p.columnPlace[column] = L.denseOffset[i] >= 0 ? L.denseOffset[i] + c
                                                    : kSparsePlace - p.model->layout.sparseSlot[i];
      p.columnCode[column] =
          L.denseOffset[i] >= 0 ? c : c + (i - L.sparseList[p.model->layout.sparseSlot[i]]);
    }
  }
  return true;
}

// Takes the sparse road when the source gives rows in sparse form, some entry is stored sparse
// and a typical row's values with the dense entries' columns come to at most half the design's
// columns: staging and summing a row then follow its values rather than every column (the few
// rows that hold more, as an EFFECT-coded reference level, cost their values too). The
// seam::denseRowsOnly keeps the dense road. Ok, or NoMemory.
[[nodiscard]] VsfStatus chooseRoad(Pass& p, QkPool* pool) {
  const VsfRowSource* src = p.src;
  const VsfRowLayout& L = p.layout;
  const int32_t N = p.s->columnCount;
  seam::noteSparseRows(false);
  if (src->sparseBound == nullptr || src->sparseRow == nullptr || L.sparseCount == 0 ||
      seam::denseRowsOnly())
    return VsfStatus::Ok;
  const int32_t bound = src->sparseBound(src->self);
  const int32_t typical = src->sparseTypical != nullptr ? src->sparseTypical(src->self) : bound;
  if (bound <= 0 || 2 * (int64_t{typical} + L.denseColumns) > N)
    return VsfStatus::Ok;
  p.columnPlace = allocArray<int32_t>(pool, N, false);
  p.columnCode = allocArray<int32_t>(pool, N, false);
  p.entryFill = allocArray<int32_t>(pool, L.sparseCount, false);
  p.rowValues = allocArray<double>(pool, bound, false);
  p.rowColumns = allocArray<int32_t>(pool, bound, false);
  if (!p.columnPlace || !p.columnCode || !p.entryFill || !p.rowValues || !p.rowColumns)
    return VsfStatus::NoMemory;
  if (placeColumns(p))
    p.sparseBound = bound;
  seam::noteSparseRows(p.sparseBound > 0);
  return VsfStatus::Ok;
}

} // namespace

int64_t vsfReleaseRows(int64_t columns) {
  if (const int32_t forced = seam::readReleaseRows(); forced > 0)
    return forced;
  const int64_t rows = kVsfReleaseBytes / (8 * std::max<int64_t>(columns, 1));
  return std::clamp(rows, kVsfReleaseMinRows, kVsfReleaseRows);
}

namespace vsfread {

void writeDenseDoubles(const Pass& p, double* out, const double* full, double y, double w,
                       double f) {
  const VsfRowLayout& L = p.layout;
  int32_t k = 0;
  if (L.hasWeight)
    out[k++] = w;
  if (L.hasFreq)
    out[k++] = f;
  if (L.hasResample)
    out[k++] = 0.0; // filled by the resampling kernels before any pass reads it
  out[k++] = y;
  for (int32_t r = 0; r < p.denseRunCount; ++r) {
    const int32_t from = p.denseRuns[2 * r], length = p.denseRuns[2 * r + 1];
    std::memcpy(out + k, full + from, sizeof(double) * static_cast<size_t>(length));
    k += length;
  }
}

bool keepRow(Pass& p, int32_t which, LevRowStatusSet st, double w, double* f, double* wf,
             int32_t* counters, int32_t* unknownClass) {
  VsfDataSettings* s = p.s;
  VsfRowSource* src = p.src;
  if (which == 0)
    p.t.obsRead += 1;
  else
    p.t.extraRead[which] += 1;
  if (which == 0 && st.has(LevRowStatus::Response))
    p.t.missingResponse += 1;
  if (s->freqGiven && !isHostMissing(*f)) {
    if (std::fabs(*f) < 4503599627370496.0)
      *f = std::floor(*f);
    if (!(*f > 0.0))
      return false;
  }
  if (!isHostMissing(*f)) {
    if (which == 0)
      p.t.freqRead += *f;
    else
      p.t.extraFreq[which] += *f;
  }
  if (which != 0 && st.has(LevRowStatus::Explanatory)) {
    if (src->unknownLevels(src->self, counters))
      *unknownClass = 1;
    return false;
  }
  // A DATA= row without a response is counted below; TESTDATA= and VALDATA= rows without
  // explanatory values were taken above.
  const LevRowStatusSet dropped = LevRowStatus::Weight | LevRowStatus::Computed |
                                  (which == 0 ? LevRowStatus::Explanatory : LevRowStatus::Response);
  // DATA= rows with a response left out for their weight, apart from those without one.
  const bool answered = which == 0 && !st.has(LevRowStatus::Response);
  if (st.any(dropped)) {
    p.t.unweighted += answered && st.has(LevRowStatus::Weight) ? 1 : 0;
    return false;
  }
  const bool weighted = s->weightGiven || s->freqGiven;
  *wf = weighted ? w * *f : 1.0;
  if (weighted && !(*wf > 0.0)) {
    p.t.unweighted += answered ? 1 : 0;
    return false;
  }
  if (st.has(LevRowStatus::Response)) {
    // Response missing: not stored; the bridge counts it unless roles are partitioned.
    if (which == 0 && s->bridge && !s->partitionGiven) {
      p.missingResponseWeight += *wf;
      src->numericValues(src->self, p.numeric);
      addScaled(p.bridgeWSum, p.numeric, s->numericCount, *wf);
    }
    return false;
  }
  return true;
}

void addRowSums(Pass& p, const DesignRow& row, double y, double ww, double& sumY, double& sumYY) {
  sumY += y * ww;
  sumYY += y * y * ww;
  addColumnSums(p, row, ww);
}

VsfStatus storeRow(Pass& p, int32_t which, const DesignRow& row, double y, double w, double f,
                   double wf, double* sumWeight) {
  VsfDataSettings* s = p.s;
  VsfRowSource* src = p.src;
  const bool weighted = s->weightGiven || s->freqGiven;
  int32_t role, fold = kVsfNoFold;
  if (which == 0) {
    role = dataRole(p);
    if (role == VSF_ROLE_TRAIN && p.layout.hasFold)
      fold = dataFold(p);
  } else {
    role = which == 1 ? VSF_ROLE_TEST : VSF_ROLE_VALIDATE;
  }
  if (p.layout.sparseCount != 0 || !putDenseRow(p, row.full, y, w, f, role, fold)) {
    buildRow(p, row, y, w, f, role, fold);
    VsfStatus rc = placeRow(p);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  p.rowsStored = true;
  const int ri = vsfRoleIndex(role);
  if (which != 0) {
    // A held-out row counts for its role, and its weight for the role's weight sum: the
    // validation and test ASE are averaged over that sum.
    p.t.rows[ri] += 1;
    p.t.freq[ri] += f;
    p.t.weight[ri] += wf;
    return VsfStatus::Ok;
  }
  p.t.kept += 1;
  p.t.freqKept += f;
  p.t.rows[ri] += 1;
  p.t.freq[ri] += f;
  if (role != VSF_ROLE_NONE)
    p.t.weight[ri] += wf;
  if (role != VSF_ROLE_TRAIN)
    return VsfStatus::Ok;
  if (s->resampling && p.t.freq[1] > 2147483647.0) {
    vsfLog(VsfMsg::TrainingFrequenciesBeyondResampling, {2147483647});
    raiseRc(*p.returnCode, StepRc::Error);
    return VsfStatus::FrequencyOverflow;
  }
  const double ww = weighted ? wf : 1.0;
  if (sumWeight != nullptr && !s->bridge) {
    *sumWeight = ww;
    return VsfStatus::Ok;
  }
  addRowSums(p, row, y, ww, p.t.sumY, p.t.sumYY);
  if (s->bridge) {
    src->numericValues(src->self, p.numeric);
    addScaled(p.bridgeWSum, p.numeric, s->numericCount, wf);
    addScaled(p.bridgeFSum, p.numeric, s->numericCount, f);
    addBridgeColumnSums(p, row, f);
  }
  return VsfStatus::Ok;
}

} // namespace vsfread

namespace {

// The current observation's design row from the source, on the pass's road.
[[nodiscard]] DesignRow currentRow(Pass& p) {
  DesignRow row;
  if (p.sparseBound > 0) {
    row.values = p.rowValues;
    row.columns = p.rowColumns;
    row.count = p.src->sparseRow(p.src->self, p.full, p.rowValues, p.rowColumns);
  } else {
    p.src->row(p.src->self, p.full);
    row.full = p.full;
  }
  return row;
}

// Reads the rows of one data set whose pass has begun: which 0 DATA=, 1 TESTDATA=,
// 2 VALDATA=. Held-out rows with unknown levels are counted into counters / *unknownClass.
// Workers take the DATA= observations in blocks where the source and the pass allow it; the
// rest are read one by one.
[[nodiscard]] VsfStatus readRows(Pass& p, int32_t which, int32_t* counters, int32_t* unknownClass) {
  VsfDataSettings* s = p.s;
  VsfRowSource* src = p.src;
  if (which == 0) {
    VsfStatus rc = vsfReadBlocks(p);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  // The rows of DATA= observations taken are on pages before the next is read: the source
  // may free them as the pass goes on.
  const bool release = which == 0 && s->releaseData && src->release != nullptr;
  const int64_t releaseRows = vsfReleaseRows(s->columnCount);
  int64_t taken = 0;
  while (src->next(src->self) == 1) {
    if (release && ++taken % releaseRows == 0)
      src->release(src->self, -1);
    double y = 0.0, w = 1.0, f = 1.0, wf = 1.0;
    const LevRowStatusSet st =
        src->status(src->self, &y, s->weightGiven ? &w : nullptr, s->freqGiven ? &f : nullptr);
    if (!keepRow(p, which, st, w, &f, &wf, counters, unknownClass))
      continue;
    VsfStatus rc = storeRow(p, which, currentRow(p), y, w, f, wf);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  if (release)
    src->release(src->self, -1);
  return VsfStatus::Ok;
}

// Reads one data set: which 0 DATA=, 1 TESTDATA=, 2 VALDATA=.
[[nodiscard]] VsfStatus readDataSet(Pass& p, int32_t which) {
  VsfDataSettings* s = p.s;
  VsfRowSource* src = p.src;
  int32_t* counters = nullptr;
  int32_t unknownClass = 0;
  if (which != 0) {
    counters = allocArray<int32_t>(p.bags->pool, s->modelEffectCount);
    if (counters == nullptr)
      return VsfStatus::NoMemory;
  }
  const int32_t start = src->begin(src->self, which);
  if (start == codeOf(RowSourceStart::OutOfStep))
    return VsfStatus::Ok; // reported; the data set sits this BY group out
  if (start != codeOf(RowSourceStart::Ready))
    return statusFromCode(start);
  VsfStatus rc = readRows(p, which, counters, &unknownClass);
  // The design context reads DATA= again after a held-out pass, also after a failure.
  if (which != 0)
    src->end(src->self, which);
  if (rc != VsfStatus::Ok || which == 0)
    return rc;
  if (unknownClass)
    vsfLog(which == 1 ? VsfMsg::TestdataClassLevelsNotInData : VsfMsg::ValdataClassLevelsNotInData);
  for (int32_t e = 0; e < s->modelEffectCount; ++e)
    if (counters[e] != 0) {
      const char* name = src->effectName(src->self, e);
      vsfLog(which == 1 ? VsfMsg::TestdataEffectLevelsNotInData
                        : VsfMsg::ValdataEffectLevelsNotInData,
             {HostMsgArg(name != nullptr ? name : "",
                         name != nullptr ? static_cast<int32_t>(std::strlen(name)) : 0)});
    }
  return VsfStatus::Ok;
}

// The bridge means, right after the DATA= pass.
[[nodiscard]] VsfStatus bridgeMeans(Pass& p, QkPool* pool, VsfReadResult* result) {
  const VsfDataSettings* s = p.s;
  const int32_t nv = s->numericCount;
  result->bridgeWeightedMeans = allocArray<double>(pool, nv);
  result->bridgeFreqMeans = allocArray<double>(pool, nv);
  if (!result->bridgeWeightedMeans || !result->bridgeFreqMeans)
    return VsfStatus::NoMemory;
  p.src->levelsAll(p.src->self);
  const double W = p.t.weight[1], F = p.t.freq[1];
  const double total = p.missingResponseWeight + W;
  for (int32_t i = 0; i < nv; ++i) {
    result->bridgeWeightedMeans[i] = total > 0.0 ? p.bridgeWSum[i] / total : hostMissing();
    result->bridgeFreqMeans[i] = F > 0.0 ? p.bridgeFSum[i] / F : hostMissing();
  }
  if (s->glm) {
    result->bridgeEffectMeans = allocArray<double>(pool, s->modelEffectCount);
    if (result->bridgeEffectMeans == nullptr)
      return VsfStatus::NoMemory;
    if (F > 0.0)
      p.src->effectMeans(p.src->self, p.bridgeColSum, 1.0 / F, result->bridgeEffectMeans);
    else
      for (int32_t e = 0; e < s->modelEffectCount; ++e)
        result->bridgeEffectMeans[e] = hostMissing();
  }
  return VsfStatus::Ok;
}

} // namespace

void vsfColumnMoments(double sum, double ss, double W, double F, bool noint, double* mean,
                      double* scale, uint8_t* state) {
  *mean = sum / W;
  *scale = vsfColumnScale(sum, ss, W, F, noint);
  *state = vsfSpreadState(sum, ss, W, F, noint);
}

int32_t useSparseRepresentation(const VsfEffectTraits& t) {
  if (t.columnCount <= 4)
    return 0;
  if (t.classCount > 0) {
    if (t.glm)
      return 1;
    for (int32_t i = 0; i < t.classCount; ++i) {
      const int32_t c = t.codings[i];
      if (c == CC_EFFECT || c == CC_REFERENCE)
        return 1;
      if ((c == CC_ORDINAL || c == CC_BATHTUB) && t.columnCount > 6)
        return 1;
    }
    return 0;
  }
  return t.bigBsplineBasis ? 1 : 0;
}

namespace {

// The page files, one per thread that memory can feed. A page must hold the row count, the
// largest row and 4 spare bytes: (N + 4) doubles and (2N + 3) codes, which 40 bytes a column
// alone does not cover for one or two columns.
[[nodiscard]] VsfStatus openPageFiles(VsfDataSettings* s, VsfBagVec* bags, QkExtensionSet* exts,
                                      QkPool* byPool, int32_t* returnCode) {
  const int32_t N = s->columnCount;
  const int32_t T = std::max(s->threadCount, 1);
  VsfStatus rc = vsfBagVecAlloc(bags, byPool, static_cast<uint32_t>(T), 1, kQkZeroed);
  if (rc != VsfStatus::Ok)
    return rc;
  const int64_t request =
      std::max<int64_t>(40 * static_cast<int64_t>(N), 8 + 8 * (N + 4) + 4 * (2 * N + 3) + 4 + 8);
  VsfPerfSettings perf{s->utilPageSize, denseRowBytes(s)};
  for (int32_t t = 0; t < T; ++t) {
    VsfUtilFile* rec = nullptr;
    rc = vsfBagVecAddElt(bags, exts, &perf, request, &rec);
    if (rc != VsfStatus::Ok)
      return rc;
    rec->columnCount = static_cast<uint32_t>(N);
  }
  rc = vsfPrepRead(s, bags, returnCode);
  if (rc != VsfStatus::Ok)
    return rc;
  // A page file per thread that memory cannot feed would make every pass run serially (the
  // frame runs threads only with one file each): those files go before any page is written.
  while (bags->count > static_cast<uint32_t>(std::max(s->threadCount, 1)))
    vsfFreeUtil(&bags->files[--bags->count], exts);

  return VsfStatus::Ok;
}

// The pass's buffers and the model's column tables; NoMemory when one cannot be had.
[[nodiscard]] VsfStatus allocateTables(Pass& p, QkPool* byPool) {
  const VsfDataSettings* s = p.s;
  VsfPassState* m = p.model;
  const int32_t N = s->columnCount, E = s->entryCount;
  p.full = allocArray<double>(byPool, N);
  p.stageD = allocArray<double>(byPool, N + 4, false);
  p.stageC = allocArray<int32_t>(byPool, 2 * N + 3, false);
  p.colSum = allocArray<double>(byPool, N);
  p.colSumSq = allocArray<double>(byPool, N);
  if (s->cv || s->xcv) {
    p.colSmallest = allocArray<double>(byPool, N, false);
    if (p.colSmallest == nullptr)
      return VsfStatus::NoMemory;
    std::fill_n(p.colSmallest, N, std::numeric_limits<double>::infinity());
  }
  if (hasFoldCode(s)) {
    p.foldMet = allocArray<uint8_t>(byPool, std::max(s->folds, 1));
    if (p.foldMet == nullptr)
      return VsfStatus::NoMemory;
  }
  m->moments.columnSums = allocArray<double>(byPool, N);
  m->moments.columnSumSquares = allocArray<double>(byPool, N);
  m->moments.columnSquareSums = allocArray<double>(byPool, N);
  m->moments.spreadState = allocArray<uint8_t>(byPool, N);
  m->moments.spreadSums = allocArray<double>(byPool, 2 * static_cast<int64_t>(N));
  m->moments.farSparse = nullptr;
  m->moments.farSparseCount = 0;
  m->shift.xpxShift = allocArray<double>(byPool, N + 1);
  m->layout.sparseEffectList = allocArray<int32_t>(byPool, E);
  m->layout.sparseSlot = allocArray<int32_t>(byPool, E);
  m->layout.denseEffectList = allocArray<int32_t>(byPool, E);
  m->effectColumn = allocArray<int32_t>(byPool, E);
  m->layout.denseOffset = allocArray<int32_t>(byPool, E);
  m->effectColumns = allocArray<int32_t>(byPool, E);
  m->inModelList = allocArray<int32_t>(byPool, E);
  m->prevInModelList = allocArray<int32_t>(byPool, E);
  if (s->bridge) {
    p.numeric = allocArray<double>(byPool, s->numericCount);
    p.bridgeWSum = allocArray<double>(byPool, s->numericCount);
    p.bridgeFSum = allocArray<double>(byPool, s->numericCount);
    p.bridgeColSum = allocArray<double>(byPool, N);
    if (!p.numeric || !p.bridgeWSum || !p.bridgeFSum || !p.bridgeColSum)
      return VsfStatus::NoMemory;
  }
  if (!p.full || !p.stageD || !p.stageC || !p.colSum || !p.colSumSq || !m->moments.columnSums ||
      !m->moments.columnSumSquares || !m->moments.columnSquareSums || !m->moments.spreadState ||
      !m->moments.spreadSums || !m->shift.xpxShift || !m->layout.sparseEffectList ||
      !m->layout.sparseSlot || !m->layout.denseEffectList || !m->effectColumn ||
      !m->layout.denseOffset || !m->effectColumns || !m->inModelList || !m->prevInModelList)
    return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

// The representation of each entry (dense, or a sparse slot that the levels of one split
// effect share), its first compact column, and the row layout that follows.
void layOutEntries(Pass& p) {
  const VsfDataSettings* s = p.s;
  VsfPassState* m = p.model;
  const int32_t N = s->columnCount, E = s->entryCount;
  int32_t dense = 0, sparse = 0, denseColumns = 0;
  m->layout.splitSparse = splitSparseLayout(s) ? 1 : 0;
  // The sparse effects that join the structured road take the first slots and columns, so
  // that the many-level effect's columns come last.
  const auto joined = [&](int32_t i) {
    return !m->layout.splitSparse && s->entries[i].joined != 0 &&
           !vsfEntryStoredDense(s, s->entries[i]);
  };
  const auto place = [&](int32_t i) {
    const VsfEffectEntry& e = s->entries[i];
    m->effectColumns[i] = e.columnCount;
    if (m->layout.splitSparse ? !e.sparseVote : vsfEntryStoredDense(s, e)) {
      m->layout.denseOffset[i] = denseColumns;
      m->layout.sparseSlot[i] = -1;
      denseColumns += e.columnCount;
      m->layout.denseEffectList[dense++] = i;
    } else if (m->layout.splitSparse && i > 0 && m->layout.sparseSlot[i - 1] >= 0 &&
               s->entries[i - 1].effect == e.effect) {
      // The next level of the split effect before it: the same slot.
      m->layout.denseOffset[i] = -1;
      m->layout.sparseSlot[i] = m->layout.sparseSlot[i - 1];
    } else {
      m->layout.denseOffset[i] = -1;
      m->layout.sparseSlot[i] = sparse;
      m->layout.sparseEffectList[sparse++] = i;
    }
  };
  for (int32_t i = 0; i < E; ++i)
    if (joined(i))
      place(i);
  for (int32_t i = 0; i < E; ++i)
    if (!joined(i))
      place(i);
  m->layout.denseEffectCount = dense;
  // First compact columns: dense entries from 1 in list order, then the sparse ones in the
  // order of their slots.
  int32_t next = 1;
  for (int32_t i = 0; i < E; ++i)
    if (m->layout.denseOffset[i] >= 0) {
      m->effectColumn[i] = next;
      next += s->entries[i].columnCount;
    }
  for (int32_t pass = 0; pass < 2; ++pass)
    for (int32_t i = 0; i < E; ++i)
      if (m->layout.denseOffset[i] < 0 && joined(i) == (pass == 0)) {
        m->effectColumn[i] = next;
        next += s->entries[i].columnCount;
      }
  p.layout.entryCount = E;
  p.layout.denseOffset = m->layout.denseOffset;
  p.layout.sparseList = m->layout.sparseEffectList;
  p.layout.sparseCount = sparse;
  p.layout.denseColumns = denseColumns;
  p.layout.hasWeight = s->weightGiven;
  p.layout.hasFreq = s->freqGiven;
  p.layout.hasResample = s->resampling;
  p.layout.hasFold = hasFoldCode(s);
  p.layout.hasRole = s->roleCodes;
  p.layout.codeCapacity = 2 * N + 3;
}

// The passes over DATA=, the bridge means, TESTDATA= and VALDATA=, and the last page.
[[nodiscard]] VsfStatus readAll(Pass& p, QkPool* byPool, VsfReadResult* result) {
  const VsfDataSettings* s = p.s;
  VsfStatus rc = readDataSet(p, 0);
  if (rc == VsfStatus::Ok && s->bridge)
    rc = bridgeMeans(p, byPool, result);
  if (rc == VsfStatus::Ok && s->testData)
    rc = readDataSet(p, 1);
  if (rc == VsfStatus::Ok && s->valData)
    rc = readDataSet(p, 2);
  // End of reading: the last page goes out.
  if (rc == VsfStatus::Ok && p.writer.open && p.writer.rows > 0) {
    rc = vsfPageClose(&p.writer, p.bags);
    if (rc == VsfStatus::PageNotWritten)
      raiseRc(*p.returnCode, StepRc::NotRestored);
  }
  if (rc != VsfStatus::Ok)
    return rc;
  result->pagesWritten = p.writer.pagesWritten;
  result->maxRowsPerPage = p.writer.maxRows;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfReadPass(VsfDataSettings* s, VsfRowSource* src, VsfPassState* m, VsfBagVec* bags,
                      QkExtensionSet* exts, QkPool* byPool, QkPool* pagePool, int32_t* returnCode,
                      VsfReadResult* result) {
  if (s->columnCount <= 0 || s->entryCount <= 0)
    return VsfStatus::NoMemory;
  m->dataSettings = s;
  VsfStatus rc = openPageFiles(s, bags, exts, byPool, returnCode);
  if (rc != VsfStatus::Ok)
    return rc;
  Pass p;
  p.s = s;
  p.src = src;
  p.model = m;
  p.bags = bags;
  p.pagePool = pagePool;
  p.returnCode = returnCode;
  if ((rc = allocateTables(p, byPool)) != VsfStatus::Ok)
    return rc;
  layOutEntries(p);
  p.denseRuns = allocArray<int32_t>(byPool, 2 * static_cast<int64_t>(p.layout.denseColumns), false);
  if (p.denseRuns == nullptr)
    return VsfStatus::NoMemory;
  p.denseRunCount = denseRunsOf(s, p.layout, p.denseRuns);
  if ((rc = chooseRoad(p, byPool)) != VsfStatus::Ok)
    return rc;
  rc = vsfPlanPageDisk(s, bags, exts, 8 * p.layout.fixedDoubles() + 4 * p.layout.fixedCodes(),
                       returnCode);
  if (rc != VsfStatus::Ok)
    return rc;
  vsfPageWriterStart(&p.writer, bags);
  if ((rc = readAll(p, byPool, result)) != VsfStatus::Ok)
    return rc;
  return vsfReadCompletion(p, exts, byPool);
}
