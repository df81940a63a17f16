// The reading pass of a BY group: DATA=, then TESTDATA= and VALDATA=, read once into pages
// of dense or sparse design rows with weights, frequencies, roles and folds; the counts and
// sums the fit starts from; and the completion (column statistics, counts in the model,
// BLOCK folds, reopening the page files for reading). Rows come from a VsfRowSource.
#include "data/vsfdata.h"

#include "data/vsfpage.h"
#include "driver/vsfoptions.h"
#include "effects/levdesign.h"
#include "model/vsfmodel.h"
#include "numerics/zranuni.h"
#include "support/hoststubs.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// The index of a role in the per-role counters: TRAIN 1, VALIDATE 2, TEST 3 (0 none).
int roleIndex(int32_t role) { return role == VSF_ROLE_TEST ? 3 : role; }

template <class T> T* allocArray(QkPool* pool, int64_t n, bool zeroed = true) {
  if (n <= 0)
    n = 1;
  return static_cast<T*>(
      pool->allocate(pool, sizeof(T) * static_cast<size_t>(n), zeroed ? kQkZeroed : 0));
}

// Counters and sums of the pass.
struct Totals {
  double obsRead = 0, freqRead = 0, kept = 0, freqKept = 0, missingResponse = 0;
  double rows[4] = {0, 0, 0, 0}, freq[4] = {0, 0, 0, 0}, weight[4] = {0, 0, 0, 0};
  double sumY = 0, sumYY = 0;
  double extraRead[3] = {0, 0, 0}, extraFreq[3] = {0, 0, 0};
};

struct Pass {
  VsfDataSettings* s;
  VsfRowSource* src;
  VsfModel* model;
  VsfBagVec* bags;
  QkPool* pagePool;
  int32_t* returnCode;
  VsfPageWriter writer;
  VsfRowLayout layout;
  double* full;
  double* stageD;
  int32_t* stageC;
  int32_t stagedDoubles = 0, stagedCodes = 0;
  Totals t;
  double* colSum;
  double* colSumSq;
  int32_t splitCounter = 0;
  bool rowsStored = false;
  // The post-fit bridge's sums.
  double* numeric = nullptr;
  double* bridgeWSum = nullptr;
  double* bridgeFSum = nullptr;
  double* bridgeColSum = nullptr;
  double missingResponseWeight = 0;
};

void addScaled(double* sums, const double* values, int32_t n, double scale) {
  for (int32_t i = 0; i < n; ++i)
    sums[i] += scale * values[i];
}

// The role of a DATA= row.
int32_t dataRole(Pass& p) {
  VsfDataSettings* s = p.s;
  if (!s->roleVar) {
    if (s->trainFraction == 1.0)
      return VSF_ROLE_TRAIN;
    double u = zranuni(s->seed);
    if (u <= s->testFraction)
      return VSF_ROLE_TEST;
    if (u <= s->testFraction + s->validateFraction)
      return VSF_ROLE_VALIDATE;
    return VSF_ROLE_TRAIN;
  }
  const char* text = nullptr;
  int32_t len = 0;
  p.src->roleValue(p.src->self, &text, &len);
  return vsfRoleOfValue(s->trainValue, s->validateValue, s->testValue, s->testData != 0, text, len);
}

int32_t dataFold(Pass& p) {
  VsfDataSettings* s = p.s;
  switch (s->cvMethod) {
  case VSF_CV_RANDOM:
    return static_cast<int32_t>(zranuni(s->seed) * s->folds);
  case VSF_CV_SPLIT: {
    int32_t f = p.splitCounter;
    p.splitCounter = (p.splitCounter + 1) % std::max(s->folds, 1);
    return f;
  }
  case VSF_CV_INDEX:
    return p.src->indexLevel(p.src->self);
  default:
    return kVsfNoFold;
  }
}

// Stages the current observation's row: doubles and (backward) codes.
void buildRow(Pass& p, double y, double w, double f, int32_t role, int32_t fold) {
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
  p.src->row(p.src->self, p.full);
  for (int32_t i = 0; i < L.entryCount; ++i) {
    const VsfEffectEntry& e = s->entries[i];
    if (L.denseOffset[i] < 0)
      continue;
    for (int32_t c = 0; c < e.columnCount; ++c)
      p.stageD[nd++] = p.full[e.firstColumn + (e.columnList ? e.columnList[c] : c)];
  }
  // Codes, first code in the last slot.
  const int32_t top = L.codeCapacity - 1;
  int32_t nc = 0;
  auto code = [&](int32_t v) { p.stageC[top - nc++] = v; };
  if (L.hasFold)
    code(fold);
  if (L.hasRole)
    code(role);
  int32_t countsAt = nc;
  nc += L.sparseCount; // cumulative counts, filled below
  int32_t stored = 0;
  for (int32_t k = 0; k < L.sparseCount; ++k) {
    const VsfEffectEntry& e = s->entries[L.sparseList[k]];
    for (int32_t c = 0; c < e.columnCount; ++c) {
      double v = p.full[e.firstColumn + (e.columnList ? e.columnList[c] : c)];
      if (v != 0.0) {
        p.stageD[nd++] = v;
        code(c);
        ++stored;
      }
    }
    p.stageC[top - countsAt - k] = stored;
  }
  p.stagedDoubles = nd;
  p.stagedCodes = nc;
}

// Places the staged row; opens and closes pages as needed.
int32_t placeRow(Pass& p) {
  VsfPageWriter& w = p.writer;
  const int32_t* codes = p.stageC + (p.layout.codeCapacity - p.stagedCodes);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!w.open) {
      int32_t rc = vsfPageOpen(&w, p.bags, p.pagePool);
      if (rc != 0) {
        if (rc == -7)
          *p.returnCode = std::max(*p.returnCode, 1016);
        return rc;
      }
    }
    if (vsfPagePut(&w, p.stageD, p.stagedDoubles, codes, p.stagedCodes))
      return 0;
    if (w.rows == 0) {
      // A fresh page is sized to hold the largest row; reaching here is a bug.
      xebug("vsfData: a design row does not fit on an empty page");
      return -99;
    }
    int32_t rc = vsfPageClose(&w, p.bags);
    if (rc != 0) {
      if (rc == -12) // a page that cannot be written; -2 is left to the driver's report
        *p.returnCode = std::max(*p.returnCode, 1020);
      return rc;
    }
  }
  return 0;
}

// Reads the rows of one data set whose pass has begun: which 0 DATA=, 1 TESTDATA=,
// 2 VALDATA=. Held-out rows with unknown levels are counted into counters / *unknownClass.
int32_t readRows(Pass& p, int32_t which, int32_t* counters, int32_t* unknownClass) {
  VsfDataSettings* s = p.s;
  VsfRowSource* src = p.src;
  const bool weighted = s->weightGiven || s->freqGiven;
  while (src->next(src->self) == 1) {
    double y = 0.0, w = 1.0, f = 1.0;
    if (which == 0)
      p.t.obsRead += 1;
    else
      p.t.extraRead[which] += 1;
    int32_t st =
        src->status(src->self, &y, s->weightGiven ? &w : nullptr, s->freqGiven ? &f : nullptr);
    if (which == 0 && (st & 0x04))
      p.t.missingResponse += 1;
    if (s->freqGiven && !isHostMissing(f)) {
      if (std::fabs(f) < 4503599627370496.0)
        f = std::floor(f);
      if (!(f > 0.0))
        continue;
    }
    if (!isHostMissing(f)) {
      if (which == 0)
        p.t.freqRead += f;
      else
        p.t.extraFreq[which] += f;
    }
    if (which != 0 && (st & 0x02)) {
      if (src->unknownLevels(src->self, counters))
        *unknownClass = 1;
      continue;
    }
    if (st & (which == 0 ? 0x23 : 0x25))
      continue;
    const double wf = weighted ? w * f : 1.0;
    if (weighted && !(wf > 0.0))
      continue;
    if (st & 0x04) {
      // Response missing: not stored; the bridge counts it unless roles are partitioned.
      if (which == 0 && s->bridge && !s->partitionGiven) {
        p.missingResponseWeight += wf;
        src->numericValues(src->self, p.numeric);
        addScaled(p.bridgeWSum, p.numeric, s->numericCount, wf);
      }
      continue;
    }
    int32_t role, fold = kVsfNoFold;
    if (which == 0) {
      role = dataRole(p);
      if (role == VSF_ROLE_TRAIN && p.layout.hasFold)
        fold = dataFold(p);
    } else {
      role = which == 1 ? VSF_ROLE_TEST : VSF_ROLE_VALIDATE;
    }
    buildRow(p, y, w, f, role, fold);
    int32_t rc = placeRow(p);
    if (rc != 0)
      return rc;
    p.rowsStored = true;
    const int ri = roleIndex(role);
    if (which == 0) {
      p.t.kept += 1;
      p.t.freqKept += f;
      p.t.rows[ri] += 1;
      p.t.freq[ri] += f;
      if (role != VSF_ROLE_NONE)
        p.t.weight[ri] += wf;
      if (role == VSF_ROLE_TRAIN) {
        if (s->resampling && p.t.freq[1] > 2147483647.0) {
          xpmlog(848, 263, {2147483647});
          *p.returnCode = std::max(*p.returnCode, 1012);
          return -39;
        }
        const double ww = weighted ? wf : 1.0;
        p.t.sumY += y * ww;
        p.t.sumYY += y * y * ww;
        for (int32_t c = 0; c < s->columnCount; ++c) {
          double x = p.full[c];
          if (x != 0.0) {
            p.colSum[c] += x * ww;
            p.colSumSq[c] += x * x * ww;
          }
        }
        if (s->bridge) {
          src->numericValues(src->self, p.numeric);
          addScaled(p.bridgeWSum, p.numeric, s->numericCount, wf);
          addScaled(p.bridgeFSum, p.numeric, s->numericCount, f);
          addScaled(p.bridgeColSum, p.full, s->columnCount, f);
        }
      }
    } else {
      // A held-out row counts for its role, and its weight for the role's weight sum: the
      // validation and test ASE are averaged over that sum.
      p.t.rows[ri] += 1;
      p.t.freq[ri] += f;
      p.t.weight[ri] += wf;
    }
  }
  return 0;
}

// Reads one data set: which 0 DATA=, 1 TESTDATA=, 2 VALDATA=.
int32_t readDataSet(Pass& p, int32_t which) {
  VsfDataSettings* s = p.s;
  VsfRowSource* src = p.src;
  int32_t* counters = nullptr;
  int32_t unknownClass = 0;
  if (which != 0) {
    counters = allocArray<int32_t>(p.bags->pool, s->modelEffectCount);
    if (counters == nullptr)
      return -2;
  }
  int32_t rc = src->begin(src->self, which);
  if (rc > 0)
    return 0; // not in step with the BY group: reported, skipped for this group
  if (rc < 0)
    return rc;
  rc = readRows(p, which, counters, &unknownClass);
  // The design context reads DATA= again after a held-out pass, also after a failure.
  if (which != 0)
    src->end(src->self, which);
  if (rc != 0 || which == 0)
    return rc;
  if (unknownClass)
    xpmlog(848, which == 1 ? 195 : 196);
  for (int32_t e = 0; e < s->modelEffectCount; ++e)
    if (counters[e] != 0) {
      const char* name = src->effectName(src->self, e);
      xpmlog(848, which == 1 ? 180 : 181,
             {HostMsgArg(name != nullptr ? name : "",
                         name != nullptr ? static_cast<int32_t>(std::strlen(name)) : 0)});
    }
  return 0;
}

// Writes the BLOCK cross-validation folds into the TRAIN rows, in page order.
int32_t blockFolds(Pass& p) {
  const VsfDataSettings* s = p.s;
  const int64_t n = static_cast<int64_t>(p.t.rows[1]);
  const int64_t k = std::max(s->folds, 1);
  const int64_t block = n / k;
  int64_t r = n - k * block;
  int64_t bound = block;
  if (r > 0) {
    ++bound;
    --r;
  }
  int32_t fold = 0;
  int64_t count = 0;
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
      if (pgf->qkpgfReadPage(file.file, &file.page, 0) != 0) {
        xpmlog(848, 138);
        *p.returnCode = std::max(*p.returnCode, 1020);
        return -11;
      }
      page = static_cast<unsigned char*>(file.page.buffer);
    }
    VsfRowCursor cur;
    vsfRowCursorStart(&cur, page, file.page.pageSize);
    while (vsfRowCursorNext(&cur, &p.layout)) {
      int32_t* codes = cur.codeEnd;
      codes[-1] = fold; // the fold is the first code of the row
      bool train = !p.layout.hasRole || codes[-2] == VSF_ROLE_TRAIN;
      if (train && ++count == bound) {
        ++fold;
        bound += block;
        if (r > 0) {
          ++bound;
          --r;
        }
      }
    }
    if (onDisk && pgf->qkpgfWritePage(file.file, &file.page, 0) != 0) {
      xpmlog(848, 139);
      *p.returnCode = std::max(*p.returnCode, 1020);
      return -12;
    }
  }
  return 0;
}

// The bridge means, right after the DATA= pass.
int32_t bridgeMeans(Pass& p, QkPool* pool, VsfReadResult* result) {
  const VsfDataSettings* s = p.s;
  const int32_t nv = s->numericCount;
  result->bridgeWeightedMeans = allocArray<double>(pool, nv);
  result->bridgeFreqMeans = allocArray<double>(pool, nv);
  if (!result->bridgeWeightedMeans || !result->bridgeFreqMeans)
    return -2;
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
      return -2;
    if (F > 0.0)
      p.src->effectMeans(p.src->self, p.bridgeColSum, 1.0 / F, result->bridgeEffectMeans);
    else
      for (int32_t e = 0; e < s->modelEffectCount; ++e)
        result->bridgeEffectMeans[e] = hostMissing();
  }
  return 0;
}

// The corrected sum of squares, relative to the raw one, at or under which a column counts as
// constant: far above the rounding of the raw sums, far below any variance they resolve.
constexpr double kConstantColumnTolerance = 1e-12;

// Column means and scales, and the counts of the pass, into the model.
void storeTotals(Pass& p) {
  VsfModel* m = p.model;
  const VsfDataSettings* s = p.s;
  const Totals& t = p.t;
  const double W = t.weight[1], F = t.freq[1];
  const int32_t N = s->columnCount;
  if (s->noStandardize) {
    for (int32_t c = 0; c < N; ++c) {
      m->columnSums[c] = 0.0;
      m->columnSumSquares[c] = 1.0;
    }
    m->sumWY = 0.0;
  } else if (W > 0.0) {
    for (int32_t c = 0; c < N; ++c) {
      const double sum = p.colSum[c], ss = p.colSumSq[c];
      m->columnSums[c] = sum / W;
      double scale = hostMissing();
      if (F > 1.0) {
        // A constant column's corrected sum of squares comes out of the raw sums as
        // rounding noise, a few units in the last place of its sum of squares; it has no
        // variance and no scale.
        const double css = s->noint ? ss : ss - sum * sum / W;
        const double var = css > kConstantColumnTolerance * ss ? css / (F - 1.0) : 0.0;
        if (var > 0.0)
          scale = 1.0 / std::sqrt(var);
      }
      m->columnSumSquares[c] = scale;
    }
    m->sumWY = t.sumY / W;
  }
  for (int32_t c = 0; c < N; ++c)
    m->columnSquareSums[c] = p.colSumSq[c];
  // The TRAIN means as the shift of the cross products; none without an intercept.
  m->pagesShifted = 0;
  for (int32_t c = 0; c <= N; ++c)
    m->xpxShift[c] = 0.0;
  if (!s->noint && W > 0.0) {
    m->xpxShift[0] = t.sumY / W;
    for (int32_t c = 1; c < N; ++c)
      m->xpxShift[1 + c] = p.colSum[c] / W;
  }
  m->sumWYY = t.sumYY;
  m->effectCount = p.layout.entryCount;
  m->parmCount = N;
  m->denseColumnCount = p.layout.denseColumns;
  m->sparseEffectCount = p.layout.sparseCount;
  int32_t single = 0, widest = 0;
  for (int32_t i = 0; i < p.layout.entryCount; ++i) {
    single += s->entries[i].columnCount == 1;
    widest = std::max(widest, s->entries[i].columnCount);
  }
  m->singleColumnEffectCount = single;
  m->maxEffectColumns = widest;
  m->foldCount = (s->cv || s->xcv) ? s->folds : 0;
  m->optionCount = s->optionCount;
  m->nUsed = t.kept - t.rows[0];
  m->freqUsed = t.freqKept - t.freq[0];
  m->nRead = t.obsRead;
  m->nMissingResponse = t.missingResponse;
  m->freqRead = t.freqRead;
  m->nTrain = m->nTrainRead = t.rows[1];
  m->nObs = m->nObsRead = t.freq[1];
  m->wTrain = t.weight[1];
  m->nValidate = t.rows[2];
  m->freqValidate = t.freq[2];
  m->wValidate = t.weight[2];
  m->nTest = t.rows[3];
  m->freqTest = t.freq[3];
  m->wTest = t.weight[3];
  m->nNoRole = t.rows[0];
  m->freqNoRole = t.freq[0];
  m->testDataRead = t.extraRead[1];
  m->testDataUsed = t.extraFreq[1];
  m->valDataRead = t.extraRead[2];
  m->valDataUsed = t.extraFreq[2];
}

// The arrays later drivers need: the refit copy, the L2 tuning rows, the external
// cross-validation records.
int32_t laterArrays(Pass& p, QkPool* pool) {
  VsfModel* m = p.model;
  const VsfDataSettings* s = p.s;
  const int32_t E = p.layout.entryCount;
  if (s->refit) {
    m->effectColumnCopy = allocArray<int32_t>(pool, E);
    if (m->effectColumnCopy == nullptr)
      return -2;
    std::memcpy(m->effectColumnCopy, m->effectColumn, sizeof(int32_t) * static_cast<size_t>(E));
  }
  if (s->enTuneRows) {
    // The golden-section search makes three trials however few L2STEPS= asks for.
    m->enTuneCapacity = std::max(s->l2Steps, 3);
    m->enTuneRows = allocArray<double>(pool, 7 * static_cast<int64_t>(m->enTuneCapacity));
    if (m->enTuneRows == nullptr)
      return -2;
  }
  if (!s->xcv)
    return 0;
  const int64_t k = std::max(s->folds, 1);
  const int64_t maxSteps = s->maxSteps == 0 ? 2147483647 : s->maxSteps;
  int64_t records = 0; // room per fold
  if (s->method >= VM_LAR && s->method <= VM_ELASTICNET_LS) {
    int64_t steps = std::min<int64_t>(maxSteps, 2 * (s->noint ? E - 1 : E));
    if (s->steps > 0)
      steps = std::min<int64_t>(steps, s->steps);
    const int64_t mm = steps + 1;
    records = mm;
    m->cvexKeys = allocArray<int32_t>(pool, 3 * k * mm);
    m->cvexValues = allocArray<double>(pool, 6 * k * mm);
    m->cvexFoldEnd = allocArray<double>(pool, k * mm);
    m->cvexFoldLambdaMax = allocArray<double>(pool, k * mm);
    m->cvexGrid = allocArray<double>(pool, mm);
  } else if (s->method == VM_GROUPLASSO) {
    int64_t steps = s->maxSteps == 0 ? s->forcedIn + 100 : s->maxSteps;
    if (s->steps > 0)
      steps = std::min<int64_t>(steps, s->steps + s->forcedIn);
    records = steps;
    m->cvexKeys = allocArray<int32_t>(pool, 3 * k * steps);
    m->cvexValues = allocArray<double>(pool, 2 * k * steps);
    m->cvexFoldEnd = allocArray<double>(pool, steps);
    m->cvexFoldLambdaMax = m->cvexFoldEnd; // no second array of this size for GROUPLASSO
    m->cvexGrid = m->cvexFoldEnd;
  } else {
    return 0;
  }
  // The averaged held-out error per grid point (per step for GROUPLASSO), a double; it is
  // also the scratch of the grid merge, so it has room for every record of every fold.
  m->cvexCurve = allocArray<double>(pool, k * records);
  m->cvexFoldKnots = allocArray<double>(pool, k);
  if (!m->cvexKeys || !m->cvexValues || !m->cvexFoldEnd || !m->cvexFoldLambdaMax || !m->cvexGrid ||
      !m->cvexCurve || !m->cvexFoldKnots)
    return -2;
  return 0;
}

} // namespace

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

int32_t vsfReadPass(VsfDataSettings* s, VsfRowSource* src, VsfModel* m, VsfBagVec* bags,
                    QkExtensionSet* exts, QkPool* byPool, QkPool* pagePool, int32_t* returnCode,
                    VsfReadResult* result) {
  const int32_t N = s->columnCount, E = s->entryCount;
  if (N <= 0 || E <= 0)
    return -2;
  m->dataSettings = s;
  // Page files and memory. A page must hold the row count, the largest row and 4 spare
  // bytes: (N + 4) doubles and (2N + 3) codes, which 40 bytes a column alone does not
  // cover for one or two columns.
  const int32_t T = std::max(s->threadCount, 1);
  int32_t rc = vsfBagVecAlloc(bags, byPool, static_cast<uint32_t>(T), 1, kQkZeroed);
  if (rc != 0)
    return rc;
  const int64_t request =
      std::max<int64_t>(40 * static_cast<int64_t>(N), 8 + 8 * (N + 4) + 4 * (2 * N + 3) + 4 + 8);
  VsfPerfSettings perf{s->utilPageSize};
  for (int32_t t = 0; t < T; ++t) {
    VsfUtilFile* rec = nullptr;
    rc = vsfBagVecAddElt(bags, exts, &perf, request, &rec);
    if (rc != 0)
      return rc;
    rec->columnCount = static_cast<uint32_t>(N);
  }
  rc = vsfPrepRead(s, bags, returnCode);
  if (rc != 0)
    return rc;

  // The pass's buffers and the model's column tables, then the representation of each
  // entry (dense or sparse) and its first compact column.
  Pass p;
  p.s = s;
  p.src = src;
  p.model = m;
  p.bags = bags;
  p.pagePool = pagePool;
  p.returnCode = returnCode;
  p.full = allocArray<double>(byPool, N);
  p.stageD = allocArray<double>(byPool, N + 4, false);
  p.stageC = allocArray<int32_t>(byPool, 2 * N + 3, false);
  p.colSum = allocArray<double>(byPool, N);
  p.colSumSq = allocArray<double>(byPool, N);
  m->columnSums = allocArray<double>(byPool, N);
  m->columnSumSquares = allocArray<double>(byPool, N);
  m->columnSquareSums = allocArray<double>(byPool, N);
  m->xpxShift = allocArray<double>(byPool, N + 1);
  m->sparseEffectList = allocArray<int32_t>(byPool, E);
  m->sparseSlot = allocArray<int32_t>(byPool, E);
  m->effectColumn = allocArray<int32_t>(byPool, E);
  m->denseOffset = allocArray<int32_t>(byPool, E);
  m->effectColumns = allocArray<int32_t>(byPool, E);
  m->inModelList = allocArray<int32_t>(byPool, E);
  m->prevInModelList = allocArray<int32_t>(byPool, E);
  if (s->bridge) {
    p.numeric = allocArray<double>(byPool, s->numericCount);
    p.bridgeWSum = allocArray<double>(byPool, s->numericCount);
    p.bridgeFSum = allocArray<double>(byPool, s->numericCount);
    p.bridgeColSum = allocArray<double>(byPool, N);
    if (!p.numeric || !p.bridgeWSum || !p.bridgeFSum || !p.bridgeColSum)
      return -2;
  }
  if (!p.full || !p.stageD || !p.stageC || !p.colSum || !p.colSumSq || !m->columnSums ||
      !m->columnSumSquares || !m->columnSquareSums || !m->xpxShift || !m->sparseEffectList || !m->sparseSlot ||
      !m->effectColumn || !m->denseOffset || !m->effectColumns || !m->inModelList ||
      !m->prevInModelList)
    return -2;
  int32_t dense = 0, sparse = 0, denseColumns = 0;
  for (int32_t i = 0; i < E; ++i) {
    const VsfEffectEntry& e = s->entries[i];
    m->effectColumns[i] = e.columnCount;
    bool isDense = !s->forceSparse && (s->forceDense || !e.sparseVote);
    if (isDense) {
      m->denseOffset[i] = denseColumns;
      m->sparseSlot[i] = -1;
      denseColumns += e.columnCount;
      ++dense;
    } else {
      m->denseOffset[i] = -1;
      m->sparseSlot[i] = sparse;
      m->sparseEffectList[sparse++] = i;
    }
  }
  // First compact columns: dense entries from 1 in list order, then the sparse ones.
  int32_t next = 1;
  for (int32_t i = 0; i < E; ++i)
    if (m->denseOffset[i] >= 0) {
      m->effectColumn[i] = next;
      next += s->entries[i].columnCount;
    }
  for (int32_t i = 0; i < E; ++i)
    if (m->denseOffset[i] < 0) {
      m->effectColumn[i] = next;
      next += s->entries[i].columnCount;
    }
  p.layout.entryCount = E;
  p.layout.denseOffset = m->denseOffset;
  p.layout.sparseList = m->sparseEffectList;
  p.layout.sparseCount = sparse;
  p.layout.denseColumns = denseColumns;
  p.layout.hasWeight = s->weightGiven;
  p.layout.hasFreq = s->freqGiven;
  p.layout.hasResample = s->resampling;
  p.layout.hasFold = s->cvMethod != CV_NONE && (s->cv || s->xcv);
  p.layout.hasRole = s->roleCodes;
  p.layout.codeCapacity = 2 * N + 3;
  vsfPageWriterStart(&p.writer, bags);

  // The passes: DATA=, the bridge means, TESTDATA= and VALDATA=.
  rc = readDataSet(p, 0);
  if (rc == 0 && s->bridge)
    rc = bridgeMeans(p, byPool, result);
  if (rc == 0 && s->testData)
    rc = readDataSet(p, 1);
  if (rc == 0 && s->valData)
    rc = readDataSet(p, 2);
  // End of reading: the last page goes out.
  if (rc == 0 && p.writer.open && p.writer.rows > 0) {
    rc = vsfPageClose(&p.writer, bags);
    if (rc == -12)
      *returnCode = std::max(*returnCode, 1020);
  }
  if (rc != 0)
    return rc;
  result->pagesWritten = p.writer.pagesWritten;
  result->maxRowsPerPage = p.writer.maxRows;

  // Completion: totals, BLOCK folds and the pages' state for the fit.
  storeTotals(p);
  if (s->cvMethod == VSF_CV_BLOCK && p.layout.hasFold) {
    rc = blockFolds(p);
    if (rc != 0)
      return rc;
  }
  for (uint32_t f = 0; f < bags->count; ++f) {
    VsfUtilFile& file = bags->files[f];
    if (p.rowsStored && file.diskPageCount > 0) {
      int32_t step = 0;
      // A model with an intercept shifts its pages about the means before its cross products.
      const bool rewrite = s->rewritePages || s->resampling || !s->noint;
      rc = vsfReopenUtil(&file, exts, s->utilAccess, rewrite, &step);
      if (rc != 0) {
        xpmlog(848, step == 1 ? 264 : 265);
        *returnCode = std::max(*returnCode, 1020);
        return step == 1 ? -40 : -41;
      }
    }
  }
  return laterArrays(p, byPool);
}
