// The completion of a BY group's reading pass: the column means and scales and the counts
// of the pass into the model, the BLOCK and INDEX cross-validation folds written into the
// pages, the page files reopened for reading, and the arrays later fits need.
// Declared in data/vsfreadpass.h and data/vsfdata.h.
#include "data/vsfreadpass.h"
#include "data/vsfrolefold.h"

#include "data/vsfpassstate.h"
#include "support/cvscheme.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace vsfread {
namespace {

// Walks the rows of every page in page order, rewriting each one's codes in place through
// `visit` (given the row's code end: the fold is codes[-1], the role codes[-2] when rows
// carry roles); pages on disk are read and written back.
template <class Visit> [[nodiscard]] VsfStatus rewriteRowCodes(Pass& p, Visit&& visit) {
  auto* pgf = reinterpret_cast<QkPgfExtension*>(p.bags->pageService);
  const uint32_t F = p.bags->count;
  for (int64_t pk = 0; pk < p.writer.pagesWritten; ++pk) {
    VsfUtilFile& file = p.bags->files[pk % F];
    const int64_t j = pk / F;
    bool onDisk = j >= file.memLimit;
    unsigned char* page;
    if (!onDisk) {
      page = static_cast<unsigned char*>(file.memPages[j]);
    } else {
      file.page.pageNumber = j - file.memLimit + 1;
      if (vsfFilePage(pgf, &file, false) != 0) {
        raiseRc(*p.returnCode, StepRc::NotRestored);
        return VsfStatus::PageNotRead;
      }
      page = static_cast<unsigned char*>(file.page.buffer);
    }
    VsfRowCursor cur;
    vsfRowCursorStart(&cur, page, file.page.pageSize);
    while (vsfRowCursorNext(&cur, &p.layout))
      visit(cur.codeEnd);
    if (onDisk && vsfFilePage(pgf, &file, true) != 0) {
      raiseRc(*p.returnCode, StepRc::NotRestored);
      return VsfStatus::PageNotWritten;
    }
  }
  return VsfStatus::Ok;
}

[[nodiscard]] bool trainRow(const Pass& p, const int32_t* codes) {
  return !p.layout.hasRole || codes[-2] == VSF_ROLE_TRAIN;
}

// Writes the BLOCK cross-validation folds into the TRAIN rows, in page order.
[[nodiscard]] VsfStatus blockFolds(Pass& p) {
  const VsfDataSettings* s = p.s;
  const int64_t n = static_cast<int64_t>(p.t.rows[1]);
  const VsfRoleFoldRule rule{false, 0, 0, VsfCvMethod::Block, s->folds};
  VsfRoleFoldCursor cursor;
  int32_t fold = 0;
  return rewriteRowCodes(p, [&](int32_t* codes) {
    // A row that is not TRAIN keeps the fold of the TRAIN row before it.
    if (trainRow(p, codes)) {
      fold = vsfTrainFold(rule, cursor, nullptr, 0, n);
      if (fold >= 0 && fold < s->folds)
        p.foldMet[fold] = 1;
    }
    codes[-1] = fold;
  });
}

// The INDEX folds: one per level of the index variable that a kept TRAIN row holds, numbered
// in level order. Levels met only in rows the fit does not use (a frequency below 1, a
// missing value, another role) make no fold, so the fold count is that of the folds the
// refits leave out. The TRAIN rows' level codes become fold numbers where some level is
// missing; the levels of the folds go to the read result.
[[nodiscard]] VsfStatus indexFolds(Pass& p, QkPool* pool) {
  VsfDataSettings* s = p.s;
  const int32_t levels = s->folds;
  auto* foldOf = allocArray<int32_t>(pool, std::max(levels, 1), false);
  if (foldOf == nullptr)
    return VsfStatus::NoMemory;
  int32_t folds = 0;
  for (int32_t level = 0; level < levels; ++level)
    foldOf[level] = p.foldMet[level] != 0 ? folds++ : kVsfNoFold;
  s->read.indexFoldLevels = allocArray<int32_t>(pool, std::max(folds, 1), false);
  if (s->read.indexFoldLevels == nullptr)
    return VsfStatus::NoMemory;
  for (int32_t level = 0; level < levels; ++level)
    if (foldOf[level] != kVsfNoFold)
      s->read.indexFoldLevels[foldOf[level]] = level;
  s->folds = folds;
  // From here on the marks are by fold: every fold holds a level met.
  std::fill_n(p.foldMet, levels, uint8_t{0});
  std::fill_n(p.foldMet, folds, uint8_t{1});
  VsfStatus rc = VsfStatus::Ok;
  if (folds != levels)
    rc = rewriteRowCodes(p, [&](int32_t* codes) {
      if (trainRow(p, codes) && codes[-1] >= 0 && codes[-1] < levels)
        codes[-1] = foldOf[codes[-1]];
    });
  pool->free(pool, foldOf);
  return rc;
}

// The folds that some kept TRAIN row holds, once every such row has its fold.
[[nodiscard]] int32_t foldsHeld(const Pass& p) {
  if (!p.layout.hasFold)
    return 0;
  const uint8_t* begin = p.foldMet;
  const uint8_t* end = begin + std::max(p.s->folds, 0);
  return static_cast<int32_t>(std::count_if(begin, end, [](uint8_t met) { return met != 0; }));
}

// The corrected sum of squares, relative to the uncorrected one (raw, or about a centre), at
// or under which a column counts as constant: far above the rounding of the sums, far below
// any variance they resolve.
constexpr double kConstantColumnTolerance = 1e-12;
// The corrected sum of squares, relative to the raw one, below which the raw sums resolve it
// poorly: their rounding, some units in the last place of the raw sum, is then more than a few
// parts in 1e12 of it. Such a column (a mean beyond some 100 standard deviations) has its
// spread formed again about its mean.
constexpr double kResolvedSpread = 1e-4;

// Below this part of a column's mean, a value shifted by the mean keeps fewer than 32 of its
// 52 bits: too few for a fold whose training rows hold only such values to fit on them.
constexpr double kShiftKeepsDigits = 0x1p-20;
// The share of a column's raw mean square that its squared mean may hold for the shift to be
// dropped: below it the raw sums lose at most a bit to the cancellation the shift avoids.
constexpr double kShiftHelpsLittle = 0.5;

// Whether column c's pages are shifted by its mean. Under cross validation a column whose mean
// is set by a few large values, while other rows hold values far below it (a high-degree
// spline's tail), is left unshifted: the shift would round those rows to the mean's last
// place, and a fold fitting on them alone would see only that rounding. Such a column's mean
// is small against its spread, so the shift gains it nothing.
[[nodiscard]] bool shiftKeepsFoldValues(const Pass& p, int32_t c) {
  if (p.colSmallest == nullptr)
    return true;
  const double W = p.t.weight[1], mean = p.colSum[c] / W;
  return p.colSmallest[c] >= std::fabs(mean) * kShiftKeepsDigits ||
         mean * mean * W >= kShiftHelpsLittle * p.colSumSq[c];
}

// Column means and scales, and the counts of the pass, into the model.
void storeTotals(Pass& p) {
  VsfPassState* m = p.model;
  const VsfDataSettings* s = p.s;
  const Totals& t = p.t;
  const double W = t.weight[1], F = t.freq[1];
  const int32_t N = s->columnCount;
  if (s->noStandardize) {
    for (int32_t c = 0; c < N; ++c) {
      m->moments.columnSums[c] = 0.0;
      m->moments.columnSumSquares[c] = 1.0;
    }
    m->sumWY = 0.0;
  } else if (W > 0.0) {
    for (int32_t c = 0; c < N; ++c)
      vsfColumnMoments(p.colSum[c], p.colSumSq[c], W, F, s->noint, &m->moments.columnSums[c],
                       &m->moments.columnSumSquares[c], &m->moments.spreadState[c]);
    m->sumWY = t.sumY / W;
  }
  for (int32_t c = 0; c < N; ++c)
    m->moments.columnSquareSums[c] = p.colSumSq[c];
  // The TRAIN means as the shift of the cross products; none without an intercept.
  m->shift.pagesShifted = 0;
  m->shift.xpxPagePrep = VXP_NONE;
  for (int32_t c = 0; c <= N; ++c)
    m->shift.xpxShift[c] = 0.0;
  if (!s->noint && W > 0.0) {
    m->shift.xpxShift[0] = t.sumY / W;
    for (int32_t c = 1; c < N; ++c)
      m->shift.xpxShift[1 + c] = shiftKeepsFoldValues(p, c) ? p.colSum[c] / W : 0.0;
  }
  m->sumWYY = t.sumYY;
  m->effectCount = p.layout.entryCount;
  m->parmCount = N;
  m->layout.denseColumnCount = p.layout.denseColumns;
  m->layout.sparseEffectCount = p.layout.sparseCount;
  int32_t single = 0, widest = 0;
  for (int32_t i = 0; i < p.layout.entryCount; ++i) {
    single += s->entries[i].columnCount == 1;
    widest = std::max(widest, s->entries[i].columnCount);
  }
  m->singleColumnEffectCount = single;
  m->maxEffectColumns = widest;
  m->cv.foldCount = (s->cv || s->xcv) ? s->folds : 0;
  m->optionCount = s->optionCount;
  m->totals.nUsed = t.kept - t.rows[0];
  m->totals.freqUsed = t.freqKept - t.freq[0];
  m->totals.nRead = t.obsRead;
  m->totals.nMissingResponse = t.missingResponse;
  m->totals.nUnweighted = t.unweighted;
  m->totals.freqRead = t.freqRead;
  m->totals.nTrain = m->totals.nTrainRead = t.rows[1];
  m->totals.nObs = m->totals.nObsRead = t.freq[1];
  m->totals.wTrain = t.weight[1];
  m->totals.nValidate = t.rows[2];
  m->totals.freqValidate = t.freq[2];
  m->totals.wValidate = t.weight[2];
  m->totals.nTest = t.rows[3];
  m->totals.freqTest = t.freq[3];
  m->totals.wTest = t.weight[3];
  m->totals.nNoRole = t.rows[0];
  m->totals.freqNoRole = t.freq[0];
  m->totals.testDataRead = t.extraRead[1];
  m->totals.testDataUsed = t.extraFreq[1];
  m->totals.valDataRead = t.extraRead[2];
  m->totals.valDataUsed = t.extraFreq[2];
}

// The arrays later drivers need: the refit copy, the L2 tuning rows, the external
// cross-validation records.
[[nodiscard]] VsfStatus laterArrays(Pass& p, QkPool* pool) {
  VsfPassState* m = p.model;
  const VsfDataSettings* s = p.s;
  const int32_t E = p.layout.entryCount;
  if (s->refit) {
    m->effectColumnCopy = allocArray<int32_t>(pool, E);
    if (m->effectColumnCopy == nullptr)
      return VsfStatus::NoMemory;
    std::memcpy(m->effectColumnCopy, m->effectColumn, sizeof(int32_t) * static_cast<size_t>(E));
  }
  if (s->enTuneRows) {
    // The golden-section search makes three trials however few L2STEPS= asks for.
    m->elnetPass.enTuneCapacity = std::max(s->l2Steps, 3);
    m->elnetPass.enTuneRows =
        allocArray<double>(pool, 7 * static_cast<int64_t>(m->elnetPass.enTuneCapacity));
    if (m->elnetPass.enTuneRows == nullptr)
      return VsfStatus::NoMemory;
  }
  if (!s->xcv)
    return VsfStatus::Ok;
  const int64_t k = std::max(s->folds, 1);
  if (vsfMethodIs(s->method, VsfMethodFamily::LeastAngle)) {
    // Every fold records up to `room` steps; the merged grid can hold every fold's knots,
    // and the error curve doubles as the merge's scratch copy of the grid.
    const int64_t room = vsfCVExFoldRoom(s->maxSteps, s->steps, s->noint, E, s->forcedIn);
    if (k * room > INT32_MAX)
      return VsfStatus::NoMemory;
    m->cvexPass.cvexKeys = allocArray<int32_t>(pool, 3 * k * room);
    m->cvexPass.cvexValues = allocArray<double>(pool, 6 * k * room);
    m->cvexPass.cvexGrid = allocArray<double>(pool, k * room);
    m->cvexPass.cvexCurve = allocArray<double>(pool, k * room);
    m->cvexPass.cvexFoldKnots = allocArray<double>(pool, room);
  } else if (vsfMethodRoad(s->method, VsfFitRoad::GroupLasso)) {
    const int64_t steps = vsfCVExGroupRoom(s->maxSteps, s->steps, s->forcedIn);
    if (k * steps > INT32_MAX)
      return VsfStatus::NoMemory;
    m->cvexPass.cvexKeys = allocArray<int32_t>(pool, 3 * k * steps);
    m->cvexPass.cvexValues = allocArray<double>(pool, 2 * k * steps);
    m->cvexPass.cvexCurve = allocArray<double>(pool, steps);
    m->cvexPass.cvexGrid = m->cvexPass.cvexFoldKnots =
        m->cvexPass.cvexCurve; // the penalty sequence needs no merge
  } else {
    return VsfStatus::Ok;
  }
  m->cvexPass.cvexFoldEnd = allocArray<int32_t>(pool, k);
  m->cvexPass.cvexFoldLambdaMax = allocArray<double>(pool, k);
  if (!m->cvexPass.cvexKeys || !m->cvexPass.cvexValues || !m->cvexPass.cvexFoldEnd ||
      !m->cvexPass.cvexFoldLambdaMax || !m->cvexPass.cvexGrid || !m->cvexPass.cvexCurve ||
      !m->cvexPass.cvexFoldKnots)
    return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfReadCompletion(Pass& p, QkExtensionSet* exts, QkPool* pool) {
  VsfStatus rc = VsfStatus::Ok;
  if (vsfCvScheme(p.s->cvMethod).indexFolds && p.layout.hasFold) {
    rc = indexFolds(p, pool);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  storeTotals(p);
  if (vsfCvScheme(p.s->cvMethod).foldsAfterCount && p.layout.hasFold) {
    rc = blockFolds(p);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  p.model->cv.foldsHeld = foldsHeld(p);
  for (uint32_t f = 0; f < p.bags->count; ++f) {
    VsfUtilFile& file = p.bags->files[f];
    if (p.rowsStored && file.diskPageCount > 0) {
      int32_t step = 0;
      // A model with an intercept shifts its pages about the means before its cross products.
      const bool rewrite = p.s->rewritePages || p.s->resampling || !p.s->noint;
      if (vsfReopenUtil(&file, exts, p.s->utilAccess, rewrite, &step) != 0) {
        vsfLog(step == 1 ? VsfMsg::UtilityFileNotClosed : VsfMsg::UtilityFileNotReopened);
        raiseRc(*p.returnCode, StepRc::NotRestored);
        return step == 1 ? VsfStatus::UtilFileNotClosed : VsfStatus::UtilFileNotReopened;
      }
    }
  }
  return laterArrays(p, pool);
}

} // namespace vsfread

int64_t vsfCVExFoldRoom(int32_t maxSteps, int32_t steps, bool noint, int32_t effects,
                        int32_t forcedIn) {
  // The path's step limit (twice the candidate effects, MAXSTEPS=, STEPS= beyond the
  // INCLUDE= effects) plus the forced steps recorded before it.
  const int64_t include = forcedIn - (noint ? 0 : 1);
  int64_t limit = std::min<int64_t>(maxSteps == 0 ? INT32_MAX : maxSteps,
                                    2LL * (noint ? effects - 1 : effects));
  if (steps > 0)
    limit = std::min<int64_t>(limit, steps + include);
  return std::max<int64_t>(limit, 0) + std::max(forcedIn, 1);
}

int64_t vsfCVExGroupRoom(int32_t maxSteps, int32_t steps, int32_t forcedIn) {
  // The path's step limit (MAXSTEPS=, 100 when it is 0, at most STEPS=) counts the steps past
  // the forced ones, which are recorded too.
  int64_t limit = maxSteps == 0 ? 100 : maxSteps;
  if (steps > 0)
    limit = std::min<int64_t>(limit, steps);
  return std::max<int64_t>(limit, 0) + std::max(forcedIn, 1);
}

double vsfColumnScale(double sum, double sumSquares, double weight, double freq, bool noint) {
  if (!(freq > 1.0) || !(weight > 0.0))
    return hostMissing();
  // A constant column's corrected sum of squares comes out of the raw sums as rounding
  // noise, a few units in the last place of its sum of squares; it has no variance and no
  // scale.
  const double css = noint ? sumSquares : sumSquares - sum * sum / weight;
  const double var =
      css > vsfread::kConstantColumnTolerance * sumSquares ? css / (freq - 1.0) : 0.0;
  return var > 0.0 ? 1.0 / std::sqrt(var) : hostMissing();
}

uint8_t vsfSpreadState(double sum, double sumSquares, double weight, double freq, bool noint) {
  if (!(freq > 1.0) || !(weight > 0.0))
    return VSS_RESOLVED;
  if (!std::isfinite(sumSquares))
    return VSS_OVERFLOW;
  // A column of zeros is constant as it stands; without an intercept the sum of squares is
  // not corrected and nothing cancels.
  const double css = noint ? sumSquares : sumSquares - sum * sum / weight;
  return sumSquares == 0.0 || css > vsfread::kResolvedSpread * sumSquares ? VSS_RESOLVED
                                                                          : VSS_ABOUT_MEAN;
}

void vsfColumnMomentsAbout(double centre, double deviations, double squares, double W, double F,
                           double* mean, double* scale) {
  *mean = centre + deviations / W;
  if (!(F > 1.0) || !(W > 0.0)) {
    *scale = hostMissing();
    return;
  }
  // About a centre this near the mean the deviations of a constant column are one value, a
  // few units in the last place of the mean or 0, and cancel to rounding noise of their own
  // size: a column with any spread the values can hold keeps most of its sum of squares.
  const double css = squares - deviations * deviations / W;
  const double var = css > vsfread::kConstantColumnTolerance * squares ? css / (F - 1.0) : 0.0;
  *scale = var > 0.0 ? 1.0 / std::sqrt(var) : hostMissing();
}
