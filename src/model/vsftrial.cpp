// Save, reload and restore of the model around candidate trials; the collapse of a full
// X'X to the response and the in-model columns; the trial SSE of one effect from its
// swept block. Pointer swaps avoid copying the full matrices at backup and restore.
#include "model/vsftrial.h"

#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweepblock.h"
#include "support/hostif.h"

#include <cmath>
#include <cstring>

namespace {

using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

[[nodiscard]] bool cvFolds(const VsfModel* m) { return vsfCvOn(m) && m->foldCount > 0; }

template <class T> void copyN(T* dst, const T* src, int64_t n) {
  if (n > 0 && dst != src)
    std::memcpy(dst, src, sizeof(T) * static_cast<size_t>(n));
}

// The packed element (r, q) of the stored lower triangle read as row r, column q: the
// sweep keeps the swept-unswept block with opposite signs on its two sides.
double oriented(const double* A, const char* flags, int64_t r, int64_t q) {
  const double v = A[sym(r, q)];
  return (q > r && flags[r] != flags[q]) ? -v : v;
}

struct Target {
  const double* swept;
  const double* xpx;
  const char* flags;
  double* workSwept;
  double* workXpx;
  char* workFlags;
  double* cleanSwept;
  char* cleanFlags;
};

// The trial block's pivot k is the effect's column k - 1, whose unswept diagonal sets its
// tolerance.
struct TrialBlock {
  const double* xpx;
  int64_t first;
};
double trialTolerance(void* context, int32_t k, double, const double*) {
  const TrialBlock* b = static_cast<const TrialBlock*>(context);
  return vsfSweepTolerance(b->xpx[diag(b->first + k - 1)]);
}

int32_t collapseInto(VsfModel* m, const Target& t, bool forDrop, bool setColumns) {
  t.workSwept[0] = t.swept[0];
  t.workXpx[0] = t.xpx[0];
  t.workFlags[0] = '0';
  int64_t k = 1;
  int64_t out = 1;
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    const int64_t s = m->effectColumn[e], c = m->effectColumns[e];
    if (setColumns)
      m->workEffectColumn[e] = static_cast<int32_t>(k);
    for (int64_t j = 0; j < c; ++j)
      t.workFlags[k + j] = t.flags[s + j];
    k += c;
    for (int64_t r = s; r < s + c; ++r) {
      t.workSwept[out] = t.swept[at(r, 0)];
      t.workXpx[out] = t.xpx[at(r, 0)];
      ++out;
      for (int32_t b = 0; b < i; ++b) {
        const int32_t eb = m->inModelList[b];
        const int64_t sb = m->effectColumn[eb];
        for (int64_t q = sb; q < sb + m->effectColumns[eb]; ++q) {
          t.workSwept[out] = oriented(t.swept, t.flags, r, q);
          t.workXpx[out] = t.xpx[sym(r, q)];
          ++out;
        }
      }
      for (int64_t q = s; q <= r; ++q) {
        t.workSwept[out] = t.swept[at(r, q)];
        t.workXpx[out] = t.xpx[at(r, q)];
        ++out;
      }
    }
  }
  copyN(t.cleanSwept, t.workSwept, tri(k));
  if (forDrop)
    copyN(t.cleanFlags, t.workFlags, k);
  return static_cast<int32_t>(k);
}

} // namespace

void vsfModelCopy(VsfModel* m, bool forDrop) {
  const int64_t T = tri(m->xpxColumns);
  const int32_t nE = m->effectCount;
  m->trialColumns = m->xpxColumns;
  copyN(m->cleanSweptXpx, m->sweptXpx, T);
  copyN(m->workXpx, m->xpx, T);
  if (forDrop) {
    copyN(m->workInModelList, m->inModelList, nE);
    copyN(m->cleanInModelList, m->workInModelList, nE);
    copyN(m->workSweepFlags, m->sweepFlags, m->xpxColumns);
    copyN(m->cleanSweepFlags, m->workSweepFlags, m->xpxColumns);
    copyN(m->workEffectColumn, m->effectColumn, nE);
    copyN(m->cleanEffectColumn, m->workEffectColumn, nE);
  }
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      F.cleanCvSse = F.cvSse;
      copyN(F.cleanSweptXpx, F.sweptXpx, T);
      copyN(F.workXpx, F.xpx, T);
      if (forDrop) {
        copyN(F.workSweepFlags, F.sweepFlags, m->xpxColumns);
        copyN(F.cleanSweepFlags, F.workSweepFlags, m->xpxColumns);
      }
    }
}

void vsfModelBackup(VsfModel* m, bool forDrop) {
  m->savedInModelCount = m->inModelCount;
  m->savedRank = m->rank;
  m->savedXpxColumns = m->xpxColumns;
  m->savedXpxCapacity = m->xpxCapacity;
  m->savedValidateAse = m->validateAse;
  m->savedTestAse = m->testAse;
  m->savedPress = m->press;
  m->savedSse = m->sse;
  m->savedCvPress = m->cvPress;
  m->savedXpx = m->xpx;
  m->savedSweptXpx = m->sweptXpx;
  m->savedEffectColumn = m->effectColumn;
  m->savedEffectStatus = m->effectStatus;
  m->savedSweepFlags = m->sweepFlags;
  m->savedInModelList = m->inModelList;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      F.savedCvSse = F.cvSse;
      F.savedXpx = F.xpx;
      F.savedSweptXpx = F.sweptXpx;
      F.savedSweepFlags = F.sweepFlags;
    }
  if (!vsfFullXpxOn(m)) {
    vsfModelCopy(m, forDrop);
    return;
  }
  vsfModelCollapse(m, forDrop);
  m->xpx = m->workXpx;
  m->sweptXpx = m->workSweptXpx;
  m->effectColumn = m->workEffectColumn;
  m->sweepFlags = m->workSweepFlags;
  m->xpxColumns = m->trialColumns;
  if (forDrop)
    m->inModelList = m->workInModelList;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      F.xpx = F.workXpx;
      F.sweptXpx = F.workSweptXpx;
      F.sweepFlags = F.workSweepFlags;
    }
}

void vsfModelCollapse(VsfModel* m, bool forDrop) {
  Target t{m->sweptXpx,       m->xpx,           m->sweepFlags,     m->workSweptXpx, m->workXpx,
           m->workSweepFlags, m->cleanSweptXpx, m->cleanSweepFlags};
  int32_t k = collapseInto(m, t, forDrop, true);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      Target ft{F.sweptXpx,       F.xpx,           F.sweepFlags,     F.workSweptXpx, F.workXpx,
                F.workSweepFlags, F.cleanSweptXpx, F.cleanSweepFlags};
      collapseInto(m, ft, forDrop, false);
      F.cleanCvSse = F.cvSse;
    }
  m->trialColumns = k;
  if (forDrop) {
    copyN(m->workInModelList, m->inModelList, m->effectCount);
    copyN(m->cleanInModelList, m->workInModelList, m->effectCount);
    copyN(m->cleanEffectColumn, m->workEffectColumn, m->effectCount);
  }
}

void vsfEffectXpXiCollapse(VsfModel* m, int32_t effect) {
  const int64_t c = m->effectColumns[effect];
  const int64_t S0 = m->savedEffectColumn[effect];
  const int64_t base = m->xpxColumns;
  m->effectColumn[effect] = static_cast<int32_t>(base);
  auto fill = [&](const double* srcSwept, const double* srcXpx, const char* srcFlags,
                  double* dstSwept, double* dstXpx, char* dstFlags) {
    for (int64_t j = 0; j < c; ++j) {
      const int64_t S = S0 + j;
      int64_t out = tri(base + j);
      dstFlags[base + j] = '0';
      dstSwept[out] = srcSwept[at(S, 0)];
      dstXpx[out] = srcXpx[at(S, 0)];
      ++out;
      for (int32_t i = 0; i < m->savedInModelCount; ++i) {
        const int32_t e = m->savedInModelList[i];
        const int64_t s = m->savedEffectColumn[e];
        for (int64_t q = s; q < s + m->effectColumns[e]; ++q) {
          const double v = srcSwept[sym(S, q)];
          dstSwept[out] = (q > S && srcFlags[q] != '0') ? -v : v;
          dstXpx[out] = srcXpx[sym(S, q)];
          ++out;
        }
      }
      for (int64_t q = S0; q <= S; ++q) {
        dstSwept[out] = srcSwept[at(S, q)];
        dstXpx[out] = srcXpx[at(S, q)];
        ++out;
      }
    }
  };
  fill(m->savedSweptXpx, m->savedXpx, m->savedSweepFlags, m->sweptXpx, m->xpx, m->sweepFlags);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      fill(F.savedSweptXpx, F.savedXpx, F.savedSweepFlags, F.sweptXpx, F.xpx, F.sweepFlags);
    }
  m->xpxColumns += static_cast<int32_t>(c);
}

void vsfModelReload(VsfModel* m, bool forDrop) {
  const int64_t T = tri(m->trialColumns);
  copyN(m->sweptXpx, m->cleanSweptXpx, T);
  copyN(m->xpx, m->workXpx, T);
  m->xpxColumns = m->trialColumns;
  m->inModelCount = m->savedInModelCount;
  m->rank = m->savedRank;
  m->sse = m->savedSse;
  if (forDrop) {
    copyN(m->inModelList, m->cleanInModelList, m->effectCount);
    copyN(m->effectColumn, m->cleanEffectColumn, m->effectCount);
    copyN(m->sweepFlags, m->cleanSweepFlags, m->xpxColumns);
  }
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      F.cvSse = F.cleanCvSse;
      copyN(F.sweptXpx, F.cleanSweptXpx, T);
      copyN(F.xpx, F.workXpx, T);
      if (forDrop)
        copyN(F.sweepFlags, F.cleanSweepFlags, m->xpxColumns);
    }
}

void vsfModelRestore(VsfModel* m) {
  m->inModelCount = m->savedInModelCount;
  m->rank = m->savedRank;
  m->xpxColumns = m->savedXpxColumns;
  m->xpxCapacity = m->savedXpxCapacity;
  m->validateAse = m->savedValidateAse;
  m->testAse = m->savedTestAse;
  m->press = m->savedPress;
  m->sse = m->savedSse;
  m->cvPress = m->savedCvPress;
  m->xpx = m->savedXpx;
  m->sweptXpx = m->savedSweptXpx;
  m->effectColumn = m->savedEffectColumn;
  m->effectStatus = m->savedEffectStatus;
  m->sweepFlags = m->savedSweepFlags;
  m->inModelList = m->savedInModelList;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      F.cvSse = F.savedCvSse;
      F.xpx = F.savedXpx;
      F.sweptXpx = F.savedSweptXpx;
      F.sweepFlags = F.savedSweepFlags;
    }
}

int32_t vsfPartialSweep(double* a, int32_t k, int32_t n, double tol) {
  const double d = a[diag(k)];
  const bool ok = tol >= 0 ? d > tol : std::fabs(d) > -tol;
  if (!ok)
    return 0;
  const double ak0 = a[at(k, 0)];
  a[0] -= ak0 * ak0 / d;
  for (int64_t i = k + 1; i < n; ++i) {
    const double mi = -a[at(i, k)] / d;
    a[at(i, 0)] += mi * ak0;
    for (int64_t j = k + 1; j <= i; ++j)
      a[at(i, j)] += mi * a[at(j, k)];
  }
  return 1;
}

void vsfEffectXpXi(VsfModel* m, int32_t effect, double* sse, int32_t* sweptCount) {
  const int64_t c = m->effectColumns[effect];
  const int64_t s = m->effectColumn[effect];
  double* T = m->trialXpx;
  const double* W = m->sweptXpx;
  T[0] = W[0];
  for (int64_t r = 1; r <= c; ++r) {
    const int64_t S = s + r - 1;
    double* R = T + tri(r);
    R[0] = W[at(S, 0)];
    for (int64_t q = s; q <= S; ++q)
      R[1 + q - s] = W[at(S, q)];
  }
  int32_t count = 0;
  if (c >= kVsfBlockSweepColumns) {
    TrialBlock block{m->xpx, s};
    count = qkzsweepBlock(T, static_cast<int32_t>(c + 1), 1, static_cast<int32_t>(c), nullptr, true,
                          trialTolerance, &block, vsfSweepThreads(m));
    *sse = T[0] >= 0 ? T[0] : 0.0;
    *sweptCount = count;
    return;
  }
  for (int64_t j = 0; j < c; ++j) {
    const double tol = vsfSweepTolerance(m->xpx[diag(s + j)]);
    if (T[diag(j + 1)] > tol) {
      vsfPartialSweep(T, static_cast<int32_t>(j + 1), static_cast<int32_t>(c + 1), tol);
      ++count;
    }
  }
  *sse = T[0] >= 0 ? T[0] : 0.0;
  *sweptCount = count;
}
