// Save, reload and restore of the model around candidate trials; the collapse of a full
// X'X to the response and the in-model columns; the trial SSE of one effect from its
// swept block. Pointer swaps avoid copying the full matrices at backup and restore.
#include "model/vsftrial.h"

#include "model/vsfformulas.h"
#include "model/vsfmemplan.h"
#include "model/vsfmodel.h"
#include "model/vsfstructured.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweepblock.h"
#include "support/hostif.h"
#include "support/seams.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

namespace {

using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

[[nodiscard]] bool cvFolds(const VsfModel* m) { return vsfCvOn(m) && m->cv.foldCount > 0; }

// What is known of the block of X'X between an effect's own columns.
constexpr uint8_t kTrialShapeUnknown = 0;
constexpr uint8_t kTrialShapeDiagonal = 1;
constexpr uint8_t kTrialShapeDense = 2;

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

// The trial block's pivot k is the effect's column k - 1 (model column first + k - 1). Its
// rounding root is its root on the model's swept columns plus, over the block's pivots
// taken before it, |T(k, p) / s_p| times theirs, as the partial entry of the model's trial
// reckons it (the first pivot taken has the model's whole rule); the pivots taken and their
// roots are kept as they are decided.
struct TrialBlock {
  const VsfModel* m;
  int64_t first;
  std::vector<double> root, pivot; // by block pivot; root 0 where refused
  double inflation = 0.0;          // the largest vsfPivotInflation of its pivots
};
double trialTolerance(void* context, int32_t k, double current, const double* column) {
  TrialBlock* b = static_cast<TrialBlock*>(context);
  const VsfModel* m = b->m;
  const int64_t c = b->first + k - 1;
  double extra = 0.0;
  for (int32_t p = 1; p < k; ++p)
    if (b->root[static_cast<size_t>(p)] > 0)
      extra +=
          std::fabs(column[p] / b->pivot[static_cast<size_t>(p)]) * b->root[static_cast<size_t>(p)];
  const bool centred = vsfRuleCentred(m);
  const double r =
      vsfPivotRoot(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, c, centred) + extra;
  const double tol = vsfTightTolerance(
      m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, c, centred, nullptr, extra, current,
      vsfRoundingTolerance(vsfPivotDiagonal(m->xpx, m->sweepFlags, c, centred), r));
  if (current > tol) {
    b->root[static_cast<size_t>(k)] = r;
    b->pivot[static_cast<size_t>(k)] = current;
  }
  b->inflation = std::max(b->inflation, vsfPivotInflation(m, c, current, current > tol));
  return tol;
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
      m->trial.workEffectColumn[e] = static_cast<int32_t>(k);
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

// Whether the unswept block of X'X between the effect's own columns is diagonal: true of
// one CLASS effect under the GLM and reference codings, whose columns never meet in a row.
// The answer is kept per effect, since X'X does not change during a selection.
[[nodiscard]] bool diagonalBlock(VsfModel* m, int32_t effect) {
  uint8_t& shape = m->trial.trialBlockShape[effect];
  if (shape == kTrialShapeUnknown) {
    const int64_t s = m->effectColumn[effect], c = m->effectColumns[effect];
    bool zero = true;
    for (int64_t r = s + 1; r < s + c && zero; ++r)
      for (int64_t q = s; q < r && zero; ++q)
        zero = m->xpx[at(r, q)] == 0.0;
    shape = zero ? kTrialShapeDiagonal : kTrialShapeDense;
  }
  return shape == kTrialShapeDiagonal;
}

// The columns swept into the current model (the response and the unswept ones left out).
std::vector<int64_t> sweptColumns(const VsfModel* m) {
  std::vector<int64_t> S;
  for (const VsfSweptColumn& s : vsfSweptColumns(m, m->sweepFlags))
    S.push_back(s.column);
  return S;
}

// The dense road's view of a candidate's diagonal block: its columns in the packed X'X.
struct PackedBlock {
  const VsfModel* m;
  int64_t first;
};
double packedCross(const void* c, int64_t j, int64_t column) {
  const PackedBlock* b = static_cast<const PackedBlock*>(c);
  return b->m->xpx[sym(b->first + j, column)];
}
double packedDiagonal(const void* c, int64_t j) {
  const PackedBlock* b = static_cast<const PackedBlock*>(c);
  return b->m->xpx[diag(b->first + j)];
}
double packedResponse(const void* c, int64_t j) {
  const PackedBlock* b = static_cast<const PackedBlock*>(c);
  return b->m->sweptXpx[at(b->first + j, 0)];
}

// The trial of a candidate whose own block of X'X is diagonal, by its pivots over the model's
// swept columns of X'X. Beside the many-level effect of the structured road, swept in, the
// model's columns include the effect's, which X'X there does not hold: the candidate's block
// of the reduced triangle, less C_J' B_J^-1 C_J, is no longer diagonal, and pivots over the
// small columns alone tried a class candidate against a model without the levels (an SBC of
// 894.78 for a step of 573.68). The dense trial sweeps the reduced triangle instead.
[[nodiscard]] bool lowRankTrial(VsfModel* m, int32_t effect, double* sse, int32_t* sweptCount) {
  const int64_t k = m->effectColumns[effect];
  if (k < 2 || m->trial.trialBlockShape == nullptr || vsfStructuredAnySwept(m) ||
      !diagonalBlock(m, effect))
    return false;
  const double dn = static_cast<double>(sweptColumns(m).size()), dk = static_cast<double>(k);
  if (dk * dn * dn + dn * dn * dn > dk * dk * dk / 6.0)
    return false;
  PackedBlock block{m, m->effectColumn[effect]};
  const VsfDiagonalBlock source{&block, k, packedCross, packedDiagonal, packedResponse};
  return vsfDiagonalBlockPivots(m, source, sse, sweptCount, nullptr, &m->trial.trialInflation);
}

} // namespace

namespace {

// The rows of the Cholesky factor formed side by side: enough that their sums, four to a
// vector, do not wait on one another, and few enough that they stay in registers and their
// rows in cache while the rows before them pass once.
constexpr size_t kCholeskyRows = 16;

// Four doubles taken element by element (GCC's vector extension): each lane's product and
// difference is the scalar one.
typedef double Lanes __attribute__((vector_size(32)));

// v[r] less the products of the first j elements of the block's rows (held interleaved, row r's
// element t at panel[t * kCholeskyRows + r]) with those of Lj, each v[r] over t in order: lane r
// takes the same products and differences as the row alone would.
__attribute__((target_clones("avx2", "default"))) void eliminateRows(double* __restrict v,
                                                                     const double* __restrict panel,
                                                                     const double* __restrict Lj,
                                                                     size_t j) {
  static_assert(kCholeskyRows == 16, "four vectors of four rows");
  Lanes a[4], p[4];
  std::memcpy(&a[0], v, sizeof a[0]);
  std::memcpy(&a[1], v + 4, sizeof a[1]);
  std::memcpy(&a[2], v + 8, sizeof a[2]);
  std::memcpy(&a[3], v + 12, sizeof a[3]);
  for (size_t t = 0; t < j; ++t) {
    const double* row = panel + t * kCholeskyRows;
    std::memcpy(&p[0], row, sizeof p[0]);
    std::memcpy(&p[1], row + 4, sizeof p[1]);
    std::memcpy(&p[2], row + 8, sizeof p[2]);
    std::memcpy(&p[3], row + 12, sizeof p[3]);
    const double l = Lj[t];
    const Lanes ll = {l, l, l, l};
    a[0] -= p[0] * ll;
    a[1] -= p[1] * ll;
    a[2] -= p[2] * ll;
    a[3] -= p[3] * ll;
  }
  std::memcpy(v, &a[0], sizeof a[0]);
  std::memcpy(v + 4, &a[1], sizeof a[1]);
  std::memcpy(v + 8, &a[2], sizeof a[2]);
  std::memcpy(v + 12, &a[3], sizeof a[3]);
}

// Element j of row i of L, its elements before j formed, against row j (formed through its
// diagonal): the sum runs over t in order, as the plain elimination takes it, so that the
// factor is the same to the bit.
void choleskyElement(const double* xpx, const std::vector<int64_t>& S, double* L, size_t i,
                     size_t j) {
  const double* Lj = L + tri(static_cast<int64_t>(j));
  double* row = L + tri(static_cast<int64_t>(i));
  double v = xpx[sym(S[i], S[j])];
  for (size_t t = 0; t < j; ++t)
    v -= row[t] * Lj[t];
  row[j] = v / Lj[j];
}

// Rows first .. first + count - 1 of L (count at most kCholeskyRows), the rows before them
// formed; false when a pivot among them is not positive. A whole block keeps its rows'
// elements interleaved in `panel` as well, for eliminateRows.
bool choleskyBlock(const double* xpx, const std::vector<int64_t>& S, double* L, size_t first,
                   size_t count, std::vector<double>& panel) {
  if (count == kCholeskyRows) {
    double v[kCholeskyRows];
    for (size_t j = 0; j < first; ++j) {
      const double* Lj = L + tri(static_cast<int64_t>(j));
      for (size_t r = 0; r < kCholeskyRows; ++r)
        v[r] = xpx[sym(S[first + r], S[j])];
      eliminateRows(v, panel.data(), Lj, j);
      for (size_t r = 0; r < kCholeskyRows; ++r) {
        const double e = v[r] / Lj[j];
        L[tri(static_cast<int64_t>(first + r)) + static_cast<int64_t>(j)] = e;
        panel[j * kCholeskyRows + r] = e;
      }
    }
  } else {
    for (size_t j = 0; j < first; ++j)
      for (size_t r = 0; r < count; ++r)
        choleskyElement(xpx, S, L, first + r, j);
  }
  for (size_t j = first; j < first + count; ++j) {
    double* Lj = L + tri(static_cast<int64_t>(j));
    double d = xpx[sym(S[j], S[j])];
    for (size_t t = 0; t < j; ++t)
      d -= Lj[t] * Lj[t];
    if (!(d > 0.0))
      return false;
    Lj[j] = std::sqrt(d);
    for (size_t i = j + 1; i < first + count; ++i)
      choleskyElement(xpx, S, L, i, j);
  }
  return true;
}

} // namespace

bool vsfCholeskyOf(const double* xpx, const std::vector<int64_t>& S, std::vector<double>& L) {
  const size_t n = S.size();
  L.assign(static_cast<size_t>(tri(static_cast<int64_t>(n))), 0.0);
  // Row blocks in order, each against every row before it: a block's rows stay in cache
  // while the factor's earlier rows pass once, where column by column every row below a
  // pivot passed at each column. Pivot j is the same and is judged before any later one.
  std::vector<double> panel(kCholeskyRows * n);
  for (size_t first = 0; first < n; first += kCholeskyRows)
    if (!choleskyBlock(xpx, S, L.data(), first, std::min(kCholeskyRows, n - first), panel))
      return false;
  return true;
}

namespace {

// Whether the model's X'X (and its folds') stays as its pass formed it through a trial: on
// the structured road, whose trials sweep within the swept copy and the effect's own state,
// it is neither copied nor put back, so that its working copy is never touched (a triangle
// of the small columns, 4 MB beside a joined CLASS variable of 1,000 levels, and its copy
// at every trial).
[[nodiscard]] bool fixedXpx(const VsfModel* m) { return m->structured != nullptr; }

} // namespace

void vsfModelCopy(VsfModel* m, bool forDrop) {
  const int64_t T = tri(m->xpxColumns);
  const int32_t nE = m->effectCount;
  const bool fixed = fixedXpx(m);
  m->trial.trialColumns = m->xpxColumns;
  copyN(m->trial.cleanSweptXpx, m->sweptXpx, T);
  if (!fixed)
    copyN(m->trial.workXpx, m->xpx, T);
  if (forDrop) {
    copyN(m->trial.workInModelList, m->inModelList, nE);
    copyN(m->trial.cleanInModelList, m->trial.workInModelList, nE);
    copyN(m->trial.workSweepFlags, m->sweepFlags, m->xpxColumns);
    copyN(m->trial.cleanSweepFlags, m->trial.workSweepFlags, m->xpxColumns);
    copyN(m->trial.workEffectColumn, m->effectColumn, nE);
    copyN(m->trial.cleanEffectColumn, m->trial.workEffectColumn, nE);
  }
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      F.cleanCvSse = F.cvSse;
      copyN(F.cleanSweptXpx, F.sweptXpx, T);
      if (!fixed)
        copyN(F.workXpx, F.xpx, T);
      if (forDrop) {
        copyN(F.workSweepFlags, F.sweepFlags, m->xpxColumns);
        copyN(F.cleanSweepFlags, F.workSweepFlags, m->xpxColumns);
      }
    }
}

void vsfModelBackup(VsfModel* m, bool forDrop) {
  m->trial.savedInModelCount = m->inModelCount;
  m->trial.savedRank = m->rank;
  m->trial.savedXpxColumns = m->xpxColumns;
  m->trial.savedXpxCapacity = m->xpxCapacity;
  m->trial.savedValidateAse = m->validateAse;
  m->trial.savedTestAse = m->testAse;
  m->trial.savedPress = m->press;
  m->trial.savedSse = m->sse;
  m->trial.savedSweptInflation = m->sweptInflation;
  m->trial.savedRoundingSS = m->roundingSS;
  m->trial.savedCvPress = m->cvPress;
  m->trial.savedXpx = m->xpx;
  m->trial.savedSweptXpx = m->sweptXpx;
  m->trial.savedEffectColumn = m->effectColumn;
  m->trial.savedEffectStatus = m->effectStatus;
  m->trial.savedSweepFlags = m->sweepFlags;
  m->trial.savedInModelList = m->inModelList;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      F.savedCvSse = F.cvSse;
      F.savedXpx = F.xpx;
      F.savedSweptXpx = F.sweptXpx;
      F.savedSweepFlags = F.sweepFlags;
    }
  // The structured road's triangles are small: copied, never collapsed, with their sweep
  // flags (an entry sweeps within them).
  if (!vsfFullXpxOn(m) || m->structured != nullptr) {
    vsfModelCopy(m, forDrop || m->structured != nullptr);
    vsfStructuredSave(m);
    return;
  }
  vsfModelCollapse(m, forDrop);
  m->xpx = m->trial.workXpx;
  m->sweptXpx = m->trial.workSweptXpx;
  m->effectColumn = m->trial.workEffectColumn;
  m->sweepFlags = m->trial.workSweepFlags;
  m->xpxColumns = m->trial.trialColumns;
  if (forDrop)
    m->inModelList = m->trial.workInModelList;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      F.xpx = F.workXpx;
      F.sweptXpx = F.workSweptXpx;
      F.sweepFlags = F.workSweepFlags;
    }
}

void vsfModelCollapse(VsfModel* m, bool forDrop) {
  Target t{m->sweptXpx,
           m->xpx,
           m->sweepFlags,
           m->trial.workSweptXpx,
           m->trial.workXpx,
           m->trial.workSweepFlags,
           m->trial.cleanSweptXpx,
           m->trial.cleanSweepFlags};
  int32_t k = collapseInto(m, t, forDrop, true);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      Target ft{F.sweptXpx,       F.xpx,           F.sweepFlags,     F.workSweptXpx, F.workXpx,
                F.workSweepFlags, F.cleanSweptXpx, F.cleanSweepFlags};
      collapseInto(m, ft, forDrop, false);
      F.cleanCvSse = F.cvSse;
    }
  m->trial.trialColumns = k;
  if (forDrop) {
    copyN(m->trial.workInModelList, m->inModelList, m->effectCount);
    copyN(m->trial.cleanInModelList, m->trial.workInModelList, m->effectCount);
    copyN(m->trial.cleanEffectColumn, m->trial.workEffectColumn, m->effectCount);
  }
}

void vsfEffectXpXiCollapse(VsfModel* m, int32_t effect) {
  const int64_t c = m->effectColumns[effect];
  const int64_t S0 = m->trial.savedEffectColumn[effect];
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
      for (int32_t i = 0; i < m->trial.savedInModelCount; ++i) {
        const int32_t e = m->trial.savedInModelList[i];
        const int64_t s = m->trial.savedEffectColumn[e];
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
  fill(m->trial.savedSweptXpx, m->trial.savedXpx, m->trial.savedSweepFlags, m->sweptXpx, m->xpx,
       m->sweepFlags);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      fill(F.savedSweptXpx, F.savedXpx, F.savedSweepFlags, F.sweptXpx, F.xpx, F.sweepFlags);
    }
  m->xpxColumns += static_cast<int32_t>(c);
}

void vsfModelReload(VsfModel* m, bool forDrop) {
  forDrop = forDrop || m->structured != nullptr; // as vsfModelBackup copied them
  const int64_t T = tri(m->trial.trialColumns);
  const bool fixed = fixedXpx(m);
  copyN(m->sweptXpx, m->trial.cleanSweptXpx, T);
  if (!fixed)
    copyN(m->xpx, m->trial.workXpx, T);
  m->xpxColumns = m->trial.trialColumns;
  m->inModelCount = m->trial.savedInModelCount;
  m->rank = m->trial.savedRank;
  m->sse = m->trial.savedSse;
  m->sweptInflation = m->trial.savedSweptInflation;
  m->roundingSS = m->trial.savedRoundingSS;
  vsfStructuredReload(m);
  if (forDrop) {
    copyN(m->inModelList, m->trial.cleanInModelList, m->effectCount);
    copyN(m->effectColumn, m->trial.cleanEffectColumn, m->effectCount);
    copyN(m->sweepFlags, m->trial.cleanSweepFlags, m->xpxColumns);
  }
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
      F.cvSse = F.cleanCvSse;
      copyN(F.sweptXpx, F.cleanSweptXpx, T);
      if (!fixed)
        copyN(F.xpx, F.workXpx, T);
      if (forDrop)
        copyN(F.sweepFlags, F.cleanSweepFlags, m->xpxColumns);
    }
}

void vsfModelRestore(VsfModel* m) {
  m->inModelCount = m->trial.savedInModelCount;
  m->rank = m->trial.savedRank;
  m->xpxColumns = m->trial.savedXpxColumns;
  m->xpxCapacity = m->trial.savedXpxCapacity;
  m->validateAse = m->trial.savedValidateAse;
  m->testAse = m->trial.savedTestAse;
  m->press = m->trial.savedPress;
  m->sse = m->trial.savedSse;
  m->sweptInflation = m->trial.savedSweptInflation;
  m->roundingSS = m->trial.savedRoundingSS;
  m->cvPress = m->trial.savedCvPress;
  m->xpx = m->trial.savedXpx;
  m->sweptXpx = m->trial.savedSweptXpx;
  m->effectColumn = m->trial.savedEffectColumn;
  m->effectStatus = m->trial.savedEffectStatus;
  m->sweepFlags = m->trial.savedSweepFlags;
  m->inModelList = m->trial.savedInModelList;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->cv.foldCount; ++f) {
      VsfFoldRecord& F = m->cv.folds[f];
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

VsfStatus vsfEffectXpXi(VsfModel* m, int32_t effect, double* sse, int32_t* sweptCount) {
  m->trial.trialInflation = 0.0;
  if (m->structured != nullptr && effect == m->structured->effect)
    return vsfStructuredTrial(m, sse, sweptCount);
  if (!seam::denseRoad() && lowRankTrial(m, effect, sse, sweptCount))
    return VsfStatus::Ok;
  const int64_t c = m->effectColumns[effect];
  const int64_t s = m->effectColumn[effect];
  // The dense trial block is made when a trial first needs it, for the widest effect: a
  // selection whose wide effects all go by their diagonal blocks never holds it.
  if (m->trial.trialXpx == nullptr) {
    const int64_t length = vsfTrialBlockLength(m);
    if (const VsfStatus rc = vsfPlanCrossProducts(m, m->xpxColumns, 8.0 * double(length));
        rc != VsfStatus::Ok)
      return rc;
    m->trial.trialXpx = vsfModelArray<double>(m, length, false);
    if (m->trial.trialXpx == nullptr)
      return VsfStatus::NoMemory;
  }
  double* T = m->trial.trialXpx;
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
  TrialBlock block{m, s, std::vector<double>(static_cast<size_t>(c + 1), 0.0),
                   std::vector<double>(static_cast<size_t>(c + 1), 0.0)};
  if (c >= kVsfBlockSweepColumns) {
    count = qkzsweepBlock(T, static_cast<int32_t>(c + 1), 1, static_cast<int32_t>(c), nullptr, true,
                          trialTolerance, &block, vsfSweepThreads(m));
  } else {
    std::vector<double> column(static_cast<size_t>(c + 1), 0.0);
    for (int32_t j = 1; j <= c; ++j) {
      for (int32_t p = 1; p < j; ++p)
        column[static_cast<size_t>(p)] = T[at(j, p)];
      const double tol = trialTolerance(&block, j, T[diag(j)], column.data());
      count += vsfPartialSweep(T, j, static_cast<int32_t>(c + 1), tol);
    }
  }
  *sse = T[0] >= 0 ? T[0] : 0.0;
  *sweptCount = count;
  m->trial.trialInflation = block.inflation;
  return VsfStatus::Ok;
}

namespace {

// The block's columns J taken so far where it is D + rho 1 1' (rho not 0: the effect coding,
// whose columns all meet in the reference level's rows), from which a candidate's
// coefficients on them follow. B_J^-1 goes by Sherman-Morrison about J's column z of least D
// (0 for a level without rows): for a candidate whose coefficients on the swept columns S are
// beta, B_J gamma = r with r_t = rho - X'X(t, S) beta, and with a = 1 / rho + the sum over
// the others O of 1 / D_t, T = the sum over O of r_t / D_t and g = D_z a + 1, gamma_z =
// (r_z a - T) / g and gamma_t = (r_t - c) / D_t on O, c = (r_z + D_z T) / g. Split as
// X'X(t, S) = C_t + R (C_t the cross products of column t's own rows, R those of the rank-one
// rows), r_t - c = K - C_t beta with K = rho - R beta - c, so that T and the part of the
// rounding root over O, the sum of |gamma_t| sqrt(b_t) <= |K| sum sqrt(b_t) / D_t + sum_i
// |beta_i| sum |C_t(i)| sqrt(b_t) / D_t, come from sums kept as columns are taken (|S| a
// candidate, not |J| |S|). A level whose rows weigh next to nothing has D_t near 0 and a
// coefficient of ordinary size: K - C_t beta is then near 0 too, and C_t / D_t is the mean of
// its rows.
class CoupledTaken {
public:
  CoupledTaken(const VsfDiagonalBlock& block, const std::vector<int64_t>& S)
      : block_(block), swept_(S), rho_(block.rankOne), rank_(S.size(), 0.0),
        leastCross_(S.size(), 0.0), ownSum_(S.size(), 0.0), ownRoot_(S.size(), 0.0) {
    for (size_t i = 0; i < S.size() && block.rankCross != nullptr; ++i)
      rank_[i] = block.rankCross[S[i]];
  }
  // Column j, whose cross products with S are `cross`, joins J.
  void take(int64_t j, const std::vector<double>& cross) {
    const double d = block_.diagonal(block_.context, j);
    if (least_ >= 0 && !(d < leastD_)) {
      addOther(d, cross);
      return;
    }
    if (least_ >= 0)
      addOther(leastD_, leastCross_);
    least_ = j;
    leastD_ = d;
    leastCross_ = cross;
  }
  // The part over J of the rounding root of a candidate whose coefficients on S are beta;
  // keeps what its coefficients on J need (coefficient).
  double root(const std::vector<double>& beta) {
    if (least_ < 0)
      return 0.0;
    double rb = 0.0, pb = 0.0, zb = 0.0, qb = 0.0;
    for (size_t i = 0; i < swept_.size(); ++i) {
      rb += rank_[i] * beta[i];
      pb += ownSum_[i] * beta[i];
      zb += leastCross_[i] * beta[i];
      qb += std::fabs(beta[i]) * ownRoot_[i];
    }
    const double base = rho_ - rb, t = base * inverseSum_ - pb;
    const double a = 1.0 / rho_ + inverseSum_, g = leastD_ * a + 1.0, rz = rho_ - zb;
    c_ = (rz + leastD_ * t) / g;
    gammaLeast_ = (rz * a - t) / g;
    return std::fabs(gammaLeast_) * std::sqrt(std::fabs(leastD_ + rho_)) +
           std::fabs(base - c_) * rootSum_ + qb;
  }
  // The coefficient on taken column t of the candidate last given to root.
  [[nodiscard]] double coefficient(int64_t t, const std::vector<double>& beta) const {
    if (t == least_)
      return gammaLeast_;
    double r = rho_;
    for (size_t i = 0; i < swept_.size(); ++i)
      r -= block_.cross(block_.context, t, swept_[i]) * beta[i];
    return (r - c_) / block_.diagonal(block_.context, t);
  }
  [[nodiscard]] double rho() const { return rho_; }

private:
  void addOther(double d, const std::vector<double>& cross) {
    const double root = std::sqrt(std::fabs(d + rho_)) / d;
    inverseSum_ += 1.0 / d;
    rootSum_ += root;
    for (size_t i = 0; i < swept_.size(); ++i) {
      const double own = cross[i] - rank_[i];
      ownSum_[i] += own / d;
      ownRoot_[i] += std::fabs(own) * root;
    }
  }

  const VsfDiagonalBlock& block_;
  const std::vector<int64_t>& swept_;
  double rho_;
  std::vector<double> rank_; // R by S
  int64_t least_ = -1;       // z, or -1 while J is empty
  double leastD_ = 0.0;
  std::vector<double> leastCross_;
  // Over O: the sums of 1 / D_t, sqrt(b_t) / D_t, C_t / D_t and |C_t| sqrt(b_t) / D_t.
  double inverseSum_ = 0.0, rootSum_ = 0.0;
  std::vector<double> ownSum_, ownRoot_;
  double c_ = 0.0, gammaLeast_ = 0.0; // the last candidate's
};

// vsfPivotForm of block column j with diagonal b: |v|' |X'X| |v| over j, the swept columns
// S (coefficients beta) and the block's columns J taken before it. Where the block is
// diagonal, column j meets no column of J and the coefficients on J are -X'X(J, S) beta /
// b_J. Under the coupling rho (`coupled`) every pair of the block's columns meets in rho, so
// that with G the sum of |gamma_t| over J the block adds sum gamma_t^2 D_t + rho (G^2 + 2 G)
// besides J's terms with S.
double blockForm(const VsfModel* m, const VsfDiagonalBlock& block, const std::vector<int64_t>& S,
                 int64_t j, double b, const std::vector<double>& beta,
                 const std::vector<int64_t>& taken, const CoupledTaken* coupled) {
  const size_t n = S.size();
  double q = b;
  for (size_t i = 0; i < n; ++i) {
    double s = std::fabs(block.cross(block.context, j, S[i]));
    for (size_t l = 0; l < i; ++l)
      s += std::fabs(m->xpx[sym(S[i], S[l])] * beta[l]);
    q += std::fabs(beta[i]) * (2.0 * s + std::fabs(m->xpx[diag(S[i])] * beta[i]));
  }
  double sumGamma = 0.0;
  for (const int64_t t : taken) {
    double c = 0.0, s = 0.0;
    for (size_t i = 0; i < n; ++i) {
      const double x = block.cross(block.context, t, S[i]);
      c += x * beta[i];
      s += std::fabs(x * beta[i]);
    }
    const double d = block.diagonal(block.context, t);
    if (coupled != nullptr) {
      const double gamma = coupled->coefficient(t, beta);
      q += gamma * gamma * d + 2.0 * std::fabs(gamma) * s;
      sumGamma += std::fabs(gamma);
    } else {
      // A column without its own rows (D_t = 0) is that of the rho part.
      const double own = d > 0.0 ? d : block.rankOne;
      q += c * c / own + 2.0 * std::fabs(c / own) * s;
    }
  }
  if (coupled != nullptr)
    q += std::fabs(coupled->rho()) * sumGamma * (sumGamma + 2.0);
  return q;
}

// The block's columns with rows of their own (D_j above 0).
int64_t levelsWithRows(const VsfDiagonalBlock& block) {
  int64_t n = 0;
  for (int64_t j = 0; j < block.columns; ++j)
    n += block.diagonal(block.context, j) > 0.0 ? 1 : 0;
  return n;
}

// Whether the block's levels, with the reference level's rows (rho, 0 under the GLM coding),
// cover every row once: each column is 1 on its own level's rows and -1 on the reference
// level's (its cross product with the intercept D_j - rho), and the levels' weights add up
// to the intercept's within the rounding of the two sums of the same weights, each (n + 1) u
// of the total over n rows. A relative 1e-10 took a reference level weighing 2e-8 of 476
// for none, and the cap then refused the last level, whose pivot was 1.8e-8 of its diagonal
// (the packed road took it).
bool codesEveryRow(const VsfModel* m, const VsfDiagonalBlock& block) {
  const double rho = block.rankOne;
  double total = rho;
  for (int64_t j = 0; j < block.columns; ++j) {
    const double d = block.diagonal(block.context, j), s = block.cross(block.context, j, 1);
    if (!(std::fabs(s - (d - rho)) <= 1e-12 * (std::fabs(d) + std::fabs(rho))))
      return false;
    total += d;
  }
  const double rows = std::max(m->totals.nRead, static_cast<double>(block.columns));
  const double rounding = 2.0 * (rows + 1.0) * 0x1p-53 * m->xpx[diag(1)];
  return std::fabs(total - m->xpx[diag(1)]) <= rounding;
}

// The most columns of the block that the rows can determine beside the swept intercept
// (under the rule about the means), or -1 where no count bounds them. Levels that cover
// every row span the intercept: the last of those with rows is dependent on the others
// (a fold's sums leave some without rows). Under the effect coding the intercept and the
// columns span the indicators of the levels with rows, the reference level's among them
// where it has rows: the columns of the levels without rows are all minus the reference
// level's indicator, so with the reference level's rows the columns can take one per level
// with rows of its own, and without them one fewer (those columns are then 0 and the others
// the levels' indicators).
int64_t levelCap(const VsfModel* m, const VsfDiagonalBlock& block) {
  if (block.rankOne == 0.0)
    return vsfCoversEveryRow(m, block) ? levelsWithRows(block) - 1 : -1;
  if (m->sweepFlags[1] != '1' || !vsfRuleCentred(m) || !codesEveryRow(m, block))
    return -1;
  return levelsWithRows(block);
}

} // namespace

bool vsfCoversEveryRow(const VsfModel* m, const VsfDiagonalBlock& block) {
  return block.rankOne == 0.0 && m->sweepFlags[1] == '1' && vsfRuleCentred(m) &&
         codesEveryRow(m, block);
}

// The pivots of a candidate whose own block B of X'X is diagonal, with the model's swept
// columns S. The block of the swept matrix between its columns is then B - V V' with V the
// k-by-|S| matrix X'X(effect, S) L^-T, so pivoting its columns in order, as the dense trial
// does, keeps the eliminated part as V H V' with H of order |S|: pivot j is
// b_j - v_j' H v_j, and taking it adds (H v_j)(H v_j)' / pivot to H. The response row
// follows as t_j - v_j' w (t_j the response's entry of the swept matrix), taking pivot p
// adding -(H v_p) ty_p / pivot to w, ty_p the pivot's own response entry. The cost is k |S|^2
// in place of k^3; the pivots, the rank and the SSE are those of the dense trial to rounding.
// A block D + rho 1 1' is B - V V' with V's rows [v_j, sqrt(rho)] and H starting at
// diag(1, .., -1): the same pivots then hold with D's elements in place of b_j (b_j = D_j + rho
// bounds them). No pivot divides by D_j: a column whose D_j is 0 (under the effect coding, a
// level without rows) is the rho part alone, and once one such column is taken the others,
// equal to it, are dependent.
// A pivot above 1e-8 of b_j also meets its rounding bound (vsfRoundingTolerance): column j's
// coefficients on S are beta = L^-T H v_j and those on the block's columns J taken before it
// -X'X(J, S) beta / b_J, whose part of the root is at most sum_i |beta_i| g_i, g_i the sum
// over J of |X'X(j, i)| / sqrt(b_j). Under the coupling rho the coefficients on J are those of
// D_J + rho 1 1' (CoupledTaken): a column that the others nearly span through the reference
// level's rows takes the whole of them, of a size the diagonal part alone never shows.
bool vsfDiagonalBlockPivots(const VsfModel* m, const VsfDiagonalBlock& block, double* sse,
                            int32_t* sweptCount, char* taken, double* inflation, char* lost) {
  const int64_t k = block.columns;
  const std::vector<int64_t> S = sweptColumns(m);
  const size_t n = S.size();
  const double rho = block.rankOne;
  const size_t na = n + (rho != 0.0 ? 1 : 0); // V's columns
  std::vector<double> L;
  if (!vsfCholeskyOf(m->xpx, S, L))
    return false;
  std::vector<double> H(na * na, 0.0), x(na), hx(na), w(na, 0.0), beta(n), g(n, 0.0), a(n);
  std::vector<double> crossS(n); // X'X(j, S)
  std::vector<int64_t> order;    // the columns taken
  std::optional<CoupledTaken> coupled;
  if (rho != 0.0 && seam::levelCoupling())
    coupled.emplace(block, S);
  for (size_t i = 0; i < n; ++i) {
    H[i * na + i] = 1.0;
    a[i] = std::sqrt(std::fabs(m->xpx[diag(S[i])]));
  }
  if (na > n) {
    H[n * na + n] = -1.0;
    x[n] = std::sqrt(std::fabs(rho));
  }
  double t = m->sweptXpx[0];
  int32_t count = 0;
  // The columns a fold's refit holds: those taken and those its sums lost, which its rows
  // refit, so that the cap leaves out the one that the others and the intercept span.
  int64_t held = 0;
  bool emptyTaken = false;
  // The rule judges the columns about their means where the intercept is swept.
  const bool aboutMeans = vsfRuleCentred(m) && m->sweepFlags[1] == '1' && m->xpx[diag(1)] > 0.0;
  const int64_t cap = levelCap(m, block);
  for (int64_t j = 0; j < k; ++j) {
    if (taken != nullptr)
      taken[j] = '0';
    if (lost != nullptr)
      lost[j] = '0';
    const double d = block.diagonal(block.context, j), b = d + rho;
    if ((d == 0.0 && emptyTaken) || held == cap ||
        (block.modelTaken != nullptr && block.modelTaken[j] != '1'))
      continue;
    for (size_t i = 0; i < n; ++i) {
      double v = crossS[i] = block.cross(block.context, j, S[i]);
      for (size_t q = 0; q < i; ++q)
        v -= L[tri(static_cast<int64_t>(i)) + q] * x[q];
      x[i] = v / L[tri(static_cast<int64_t>(i)) + i];
    }
    double quad = 0.0, xw = 0.0;
    for (size_t i = 0; i < na; ++i) {
      double v = 0.0;
      for (size_t q = 0; q < na; ++q)
        v += H[i * na + q] * x[q];
      hx[i] = v;
      quad += x[i] * v;
      xw += x[i] * w[i];
    }
    const double pivot = d - quad;
    const double x1 = aboutMeans ? block.cross(block.context, j, 1) : 0.0;
    const double judged = aboutMeans ? b - x1 * x1 / m->xpx[diag(1)] : b;
    // A fold's refit judges the bound alone: the floor is the model's judgement.
    const double floor = block.modelTaken != nullptr ? 0.0 : vsfSweepTolerance(judged);
    bool take = pivot > floor;
    if (take) {
      double root = std::sqrt(std::fabs(b));
      for (size_t i = n; i-- > 0;) {
        double v = hx[i];
        for (size_t q = i + 1; q < n; ++q)
          v -= L[tri(static_cast<int64_t>(q)) + i] * beta[q];
        beta[i] = v / L[tri(static_cast<int64_t>(i)) + i];
        root += std::fabs(beta[i]) * (a[i] + g[i]);
      }
      if (coupled)
        root += coupled->root(beta);
      take = pivot > std::max(floor, kVsfPivotRounding * root * root) ||
             pivot > std::max(floor, kVsfPivotRounding * blockForm(m, block, S, j, b, beta, order,
                                                                   coupled ? &*coupled : nullptr));
    }
    // The inflation the pivot shows, infinite where it is refused, as the dense trial judges.
    if (inflation != nullptr)
      *inflation = std::max(
          *inflation, vsfInflationOf(aboutMeans ? vsfJudgedSize(b, x1 * x1 / m->xpx[diag(1)]) : b,
                                     pivot, take));
    if (!take) {
      // A column the model took that the bound alone refused (the cap and a level without
      // rows of its own leave out columns no rows could give).
      if (block.modelTaken != nullptr && d > 0.0) {
        ++held;
        if (lost != nullptr)
          lost[j] = '1';
      }
      continue;
    }
    const double ty = block.response(block.context, j) - xw;
    t -= ty * ty / pivot;
    for (size_t i = 0; i < na; ++i) {
      for (size_t q = 0; q < na; ++q)
        H[i * na + q] += hx[i] * hx[q] / pivot;
      w[i] -= hx[i] * ty / pivot;
    }
    emptyTaken = emptyTaken || d == 0.0;
    if (coupled)
      coupled->take(j, crossS);
    else
      for (size_t i = 0; i < n; ++i)
        g[i] += std::fabs(crossS[i]) / std::sqrt(std::fabs(b));
    if (taken != nullptr)
      taken[j] = '1';
    order.push_back(j);
    ++count;
    ++held;
  }
  *sse = t >= 0 ? t : 0.0;
  *sweptCount = count;
  return true;
}
