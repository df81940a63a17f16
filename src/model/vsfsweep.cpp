// Sweeping effects in and out of the current model. The full shape keeps every design
// column in X'X and only sweeps; the growing shape appends an entering effect's rows (from
// stored cross products, its own block, or one data pass) and deletes a leaving effect's.
// Folds are swept column by column together with the model.
#include "model/vsfsweep.h"

#include "data/vsfthread.h"
#include "kernels/vsfresid.h"
#include "kernels/vsfxpx.h"
#include "model/vsffoldmove.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "model/vsfpressfactor.h"
#include "model/vsfrefine.h"
#include "model/vsfrowpivot.h"
#include "model/vsfsplitsums.h"
#include "model/vsfstructured.h"
#include "model/vsfstructuredpress.h"
#include "model/vsftrial.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "numerics/qkzsweepblock.h"
#include "support/hostif.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"
#include "support/zparrows.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using packed::at;
using packed::diag;
using packed::sym;
using packed::tri;

[[nodiscard]] bool trialSelect(const VsfModel* m) {
  const VsfCriterion s = m->options->select;
  return s == VsfCriterion::Press || s == VsfCriterion::Validate || s == VsfCriterion::Cv;
}
[[nodiscard]] bool cvFolds(const VsfModel* m) { return vsfCvOn(m) && m->foldCount > 0; }

void clearCache(VsfModel* m) {
  m->testAse = m->validateAse = m->press = m->cvPress = hostMissing();
  const double s = m->sweptXpx[0];
  m->sse = s < 0 ? 0.0 : s;
}

// Partial elimination of columns first .. first + count - 1 in order (trial adds that only
// need the SSE): the SSE falls by W(j,0)^2 / s for each column taken; rows before it, its
// own row and the flags stay as they are. A column's rounding root is its root on the
// model's swept columns (which precede the run, and whose entries the steps leave alone)
// plus, over the run's columns taken before it, |W(j,i) / s_i| times their roots: its
// coefficients on the model's columns once those are eliminated too, bounded by the
// triangle inequality. The first column taken has the model's whole rule (vsfPivotTolerance).
int32_t partialRun(VsfModel* m, int64_t first, int64_t count) {
  double* W = m->sweptXpx;
  std::vector<double> root(static_cast<size_t>(count), 0.0);
  int32_t taken = 0;
  for (int64_t q = 0; q < count; ++q) {
    const int64_t j = first + q;
    double r = 0.0;
    for (int64_t p = 0; p < q; ++p)
      if (root[static_cast<size_t>(p)] > 0)
        r += std::fabs(W[at(j, first + p)] / W[diag(first + p)]) * root[static_cast<size_t>(p)];
    const double s = W[diag(j)];
    const bool centred = vsfRuleCentred(m);
    const bool take =
        s > vsfPivotTolerance(m->xpx, W, m->sweepFlags, m->xpxColumns, j, centred, nullptr, r);
    m->trialInflation = std::max(m->trialInflation, vsfPivotInflation(m, j, s, take));
    if (!take)
      continue;
    r += vsfPivotRoot(m->xpx, W, m->sweepFlags, m->xpxColumns, j, centred);
    root[static_cast<size_t>(q)] = r;
    const double rs = -1.0 / s;
    const double wj0 = W[at(j, 0)];
    W[0] += wj0 * wj0 * rs;
    for (int64_t i = j + 1; i < m->xpxColumns; ++i) {
      const double f = W[at(i, j)] * rs;
      W[at(i, 0)] += wj0 * f;
      for (int64_t c = j + 1; c <= i; ++c)
        W[at(i, c)] += W[at(c, j)] * f;
    }
    m->rank += 1;
    ++taken;
  }
  return taken;
}

void sweepIn(VsfModel* m, int32_t k) {
  vsfSweep(m, k);
  vsfCVSweep(m, k, '0');
}

// vsfSweep's pivot tolerance for the blocked sweep, given the pivot's current diagonal and
// its current column.
double blockTolerance(void* context, int32_t k, double current, const double* column) {
  const VsfModel* m = static_cast<const VsfModel*>(context);
  double tol = m->sweepFlags[k] == '1'
                   ? 0.0
                   : vsfPivotTolerance(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, k,
                                       vsfRuleCentred(m), column);
  if (current != 0.0 && std::fabs(current) < vsfTinyPivot())
    tol = vsfTinyPivot();
  return tol;
}

// Sweeps columns first .. first + count - 1 into the model in order. Many columns without
// folds go through the blocked sweep (the same pivots taken, the same matrix to rounding).
void sweepInRun(VsfModel* m, int32_t first, int32_t count) {
  if (count < kVsfBlockSweepColumns || cvFolds(m)) {
    for (int32_t j = 0; j < count; ++j)
      sweepIn(m, first + j);
    return;
  }
  int32_t before = 0;
  for (int32_t j = 0; j < count; ++j)
    before += m->sweepFlags[first + j] == '1' ? 1 : 0;
  qkzsweepBlock(m->sweptXpx, m->xpxColumns, first, count, m->sweepFlags, false, blockTolerance, m,
                vsfSweepThreads(m));
  int32_t after = 0;
  for (int32_t j = 0; j < count; ++j)
    after += m->sweepFlags[first + j] == '1' ? 1 : 0;
  m->rank += after - before;
  // The block judges its pivots on the swept sums alone: a column it refused within the
  // rule's rounding band is judged again, from the rows, on every column the run took.
  for (int32_t j = 0; j < count; ++j)
    if (m->sweepFlags[first + j] != '1')
      vsfSweep(m, first + j);
}

// Fills new row r of a triangle from stored cross products (and, for the entering effect's
// own columns without a slot, from its block).
void rowFromCross(VsfModel* m, double* T, const double* cross, double* const* blocks, int32_t k,
                  int32_t c, bool ownFromBlock) {
  const int64_t N = m->parmCount + 1;
  const int64_t r = m->xpxColumns + c;
  const int64_t p = m->effectFirstColumn[k] + c;
  double* R = T + tri(r);
  int64_t col = 0;
  R[col++] = cross[p];
  const int32_t last = m->inModelCount - 1;
  for (int32_t i = 0; i <= last; ++i) {
    const int32_t e = m->inModelList[i];
    const int32_t n = m->effectColumns[e];
    if (e == k && ownFromBlock) {
      const double* B = blocks[k];
      for (int32_t cc = 0; cc <= c; ++cc)
        R[col++] = B[at(c, cc)];
      continue;
    }
    for (int32_t cc = 0; cc < n && col <= r; ++cc)
      R[col++] = cross[(m->crossSlot[e] + cc) * N + p];
  }
}

// Fills the new rows of an entering effect from its own kept cross products, which hold its
// products with the response and with every column, the model's among them: the sums its
// rows' pass would form, term for term.
void rowsFromOwnCross(VsfModel* m, int32_t k) {
  const int64_t N = m->parmCount + 1;
  const int64_t m0 = m->xpxColumns;
  for (int32_t c = 0; c < m->effectColumns[k]; ++c) {
    const double* own = m->cross + (m->crossSlot[k] + c) * N;
    double* R = m->xpx + tri(m0 + c);
    std::fill(R, R + m0 + c + 1, 0.0);
    R[0] = own[0];
    for (int32_t i = 0; i < m->inModelCount; ++i) {
      const int32_t e = m->inModelList[i];
      const int64_t c0 = e == k ? m0 : m->effectColumn[e];
      const int32_t n = e == k ? c + 1 : m->effectColumns[e];
      for (int32_t q = 0; q < n; ++q)
        R[c0 + q] = own[m->effectFirstColumn[e] + q];
    }
  }
}

} // namespace

VsfStatus vsfDataPass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded,
                      int64_t length) {
  if (const VsfStatus rc = vsfExecuteByThreads(m, serial, threaded, length); rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  if (m->splitSparse)
    vsfSplitCorrect(m, serial);
  return VsfStatus::Ok;
}

VsfStatus vsfReportPassFailure(VsfModel* m, VsfStatus rc) {
  if (rc == VsfStatus::BadFoldRow) {
    vsfLog(VsfMsg::TrainingRowDataPages, {HostMsgArg(static_cast<int64_t>(m->foldCount))});
  } else if (rc != VsfStatus::Ok) {
    vsfLog(VsfMsg::PassOverDataPages, {HostMsgArg(static_cast<long>(codeOf(rc)))});
  }
  // A negative code says what failed (out of memory among them) and passes up as it is; a
  // positive one (a page service's code) means nothing past the message just logged.
  const VsfStatus status = codeOf(rc) < 0 ? rc : VsfStatus::ReportedFailure;
  // Criteria ignore the codes of their passes: the fit reads this after every search.
  if (m->passFailure == VsfStatus::Ok)
    m->passFailure = status;
  return status;
}

int32_t vsfSweepThreads(const VsfModel* m) {
  return m->dataSettings != nullptr && m->dataSettings->sweepThreads > 1
             ? m->dataSettings->sweepThreads
             : 1;
}

namespace {

// The cross products the rule judges: about the means (a_il - a_i1 a_l1 / a_11) when the
// intercept, column 1, is swept and `centred`; as they stand otherwise.
struct JudgedSums {
  const double* xpx;
  bool about;
  double intercept;
  JudgedSums(const double* x, const char* flags, int64_t k, bool centred)
      : xpx(x), about(centred && k != 1 && flags[1] == '1' && x[diag(1)] > 0.0),
        intercept(about ? x[diag(1)] : 1.0) {}
  // The sum of columns i and l as the rule judges it.
  [[nodiscard]] double sum(int64_t i, int64_t l) const {
    const double a = xpx[sym(i, l)];
    return about ? a - xpx[sym(i, 1)] * xpx[sym(l, 1)] / intercept : a;
  }
  // The size of the terms that sum(i, l) is formed from, which bounds its rounding: |a_il|,
  // plus |a_i1 a_l1| / a_11 about the means (vsfJudgedSize).
  [[nodiscard]] double size(int64_t i, int64_t l) const {
    return vsfJudgedSize(xpx[sym(i, l)], about ? xpx[sym(i, 1)] * xpx[sym(l, 1)] / intercept : 0.0);
  }
  // Whether swept column i takes part in the bound (the intercept does not, about the means).
  [[nodiscard]] bool counts(int64_t i) const { return !(about && i == 1); }
};

} // namespace

double vsfPivotInflation(const VsfModel* m, int64_t k, double pivot, bool taken) {
  const double d = vsfPivotDiagonal(m->xpx, m->sweepFlags, k, vsfRuleCentred(m));
  if (!(d > 0.0))
    return 0.0;
  return taken ? d / pivot : std::numeric_limits<double>::infinity();
}

double vsfPivotDiagonal(const double* xpx, const char* flags, int64_t k, bool centred) {
  return JudgedSums(xpx, flags, k, centred).sum(k, k);
}

bool vsfRuleCentred(const VsfModel* m) { return m->options == nullptr || !m->options->noint; }

double vsfPivotRoot(const double* xpx, const double* swept, const char* flags, int64_t n, int64_t k,
                    bool centred, const double* column) {
  const JudgedSums a(xpx, flags, k, centred);
  double r = std::sqrt(a.size(k, k));
  for (int64_t i = 1; i < n; ++i)
    if (i != k && flags[i] == '1' && a.counts(i)) {
      const double b = column != nullptr ? column[i] : swept[sym(k, i)];
      r += std::fabs(b) * std::sqrt(a.size(i, i));
    }
  return r;
}

double vsfPivotForm(const double* xpx, const double* swept, const char* flags, int64_t n, int64_t k,
                    bool centred, const double* column) {
  const JudgedSums a(xpx, flags, k, centred);
  std::vector<int64_t> at{k};
  std::vector<double> v{1.0};
  for (int64_t i = 1; i < n; ++i)
    if (i != k && flags[i] == '1' && a.counts(i)) {
      const double b = std::fabs(column != nullptr ? column[i] : swept[sym(k, i)]);
      if (b != 0.0) {
        at.push_back(i);
        v.push_back(b);
      }
    }
  double q = 0.0;
  for (size_t i = 0; i < at.size(); ++i) {
    double s = 0.0;
    for (size_t l = 0; l < i; ++l)
      s += a.size(at[i], at[l]) * v[l];
    q += v[i] * (2.0 * s + a.size(at[i], at[i]) * v[i]);
  }
  return q;
}

double vsfPivotTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, bool centred, const double* column, double extraRoot) {
  const double d = vsfPivotDiagonal(xpx, flags, k, centred);
  const double tol =
      vsfRoundingTolerance(d, vsfPivotRoot(xpx, swept, flags, n, k, centred, column) + extraRoot);
  const double pivot = column != nullptr ? column[k] : swept[diag(k)];
  return vsfTightTolerance(xpx, swept, flags, n, k, centred, column, extraRoot, pivot, tol);
}

double vsfTightTolerance(const double* xpx, const double* swept, const char* flags, int64_t n,
                         int64_t k, bool centred, const double* column, double extraRoot,
                         double pivot, double tol) {
  const double d = vsfPivotDiagonal(xpx, flags, k, centred);
  if (pivot > tol || extraRoot > 0.0 || !(pivot > vsfSweepTolerance(d)))
    return tol;
  return vsfFormTolerance(d, vsfPivotForm(xpx, swept, flags, n, k, centred, column));
}

namespace {

double candidateRuleTolerance(const VsfModel* m, int64_t k) {
  assert(k >= 0 && k < m->xpxColumns && "a candidate column of X'X");
  const bool centred = vsfRuleCentred(m);
  const JudgedSums a(m->xpx, m->sweepFlags, k, centred);
  const double extra = vsfStructuredPivotRoot(m, k);
  double r = std::sqrt(a.size(k, k)) + extra;
  for (int32_t p = 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (m->structured != nullptr && e == m->structured->effect)
      continue; // its part is the structured root
    for (int64_t i = m->effectColumn[e]; i < m->effectColumn[e] + m->effectColumns[e]; ++i)
      if (i > 0 && i != k && m->sweepFlags[i] == '1' && a.counts(i))
        r += std::fabs(m->sweptXpx[sym(k, i)]) * std::sqrt(a.size(i, i));
  }
  return vsfTightTolerance(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, k, centred, nullptr,
                           extra, m->sweptXpx[diag(k)], vsfRoundingTolerance(a.sum(k, k), r));
}

} // namespace

double vsfCandidateTolerance(VsfModel* m, int64_t k) {
  const double tol = candidateRuleTolerance(m, k);
  return vsfRowTolerance(m, k, tol);
}

void vsfCopyTriangle(const VsfModel* m, double* to, const double* from, int64_t columns) {
  zparrows(vsfSweepThreads(m), 0, columns, [&](int64_t first, int64_t last) {
    std::memcpy(to + tri(first), from + tri(first), sizeof(double) * (tri(last) - tri(first)));
  });
}

double vsfTinyPivot() { return std::bit_cast<double>(uint64_t{0x20000000002302ACull}); }

namespace {

// The tolerance vsfSweep gives column k's pivot: none to take a swept column out, the rank
// rule's to take one in (at least the tiny pivot).
double sweepTolerance(const VsfModel* m, int64_t k) {
  double tol = m->sweepFlags[k] == '1'
                   ? 0.0
                   : vsfPivotTolerance(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, k,
                                       vsfRuleCentred(m), nullptr, vsfStructuredPivotRoot(m, k));
  const double s = m->sweptXpx[diag(k)];
  if (s != 0.0 && std::fabs(s) < vsfTinyPivot())
    tol = vsfTinyPivot();
  return tol;
}

} // namespace

double vsfRowTolerance(VsfModel* m, int64_t k, double tol) {
  const double s = m->sweptXpx[diag(k)];
  if (m->sweepFlags[k] == '1' || s > tol)
    return tol;
  const double d = vsfPivotDiagonal(m->xpx, m->sweepFlags, k, vsfRuleCentred(m));
  double p = 0.0;
  if (!vsfPivotDoubtful(s, tol, d) || vsfRowPivot(m, k, d, &p) != VsfStatus::Ok || !(p > 0.0))
    return tol;
  return p < vsfTinyPivot() ? vsfTinyPivot() : vsfSweepTolerance(d);
}

namespace {

double entryTolerance(VsfModel* m, int64_t k) {
  return vsfRowTolerance(m, k, sweepTolerance(m, k));
}

} // namespace

bool vsfSweepRefuses(VsfModel* m, int64_t k) {
  assert(k > 0 && k < m->xpxColumns && m->sweepFlags[k] != '1' && "an unswept column");
  // qkzsweep takes a pivot above a non-negative tolerance, and never a NaN.
  const double tol = entryTolerance(m, k);
  return !(m->sweptXpx[diag(k)] > tol);
}

void vsfSweep(VsfModel* m, int32_t k) {
  assert(k >= 0 && k < m->xpxColumns && "a pivot among the kept columns");
  const char before = m->sweepFlags[k];
  const double tol = entryTolerance(m, k);
  qkzsweep(m->sweptXpx, k, m->xpxColumns, m->sweepFlags, m->workVector, tol, vsfSweepThreads(m));
  if (m->sweepFlags[k] != before)
    m->rank += before == '0' ? 1 : -1;
}

namespace {

// The tolerance of a fold's pivot of a column the model has taken: the rule's rounding bound
// of its elimination in the fold's sums (the tight form where the root's square refuses it),
// and at least the rounding of its own diagonal as summed, which centring leaves in the
// diagonal about the mean (a column constant on the fold's rows has nothing else there). The
// floor at 1e-8 of the diagonal is no part of it: that is the model's judgement of which
// columns it holds, made on all the rows.
double foldTolerance(const VsfModel* m, const VsfFoldRecord& F, int32_t k) {
  const int64_t n = m->xpxColumns;
  const bool centred = vsfRuleCentred(m);
  const double own = std::fabs(F.xpx[diag(k)]);
  const double root = vsfPivotRoot(F.xpx, F.sweptXpx, F.sweepFlags, n, k, centred);
  const double tol = kVsfPivotRounding * std::max(root * root, own);
  if (F.sweptXpx[diag(k)] > tol)
    return tol;
  return kVsfPivotRounding *
         std::max(vsfPivotForm(F.xpx, F.sweptXpx, F.sweepFlags, n, k, centred), own);
}

// foldTolerance `tol`, or 0 where it refuses a pivot within its band that the fold's rows
// clear (vsfFoldRowPivot). A failed pass was reported; the pivot stays refused.
double foldRowTolerance(VsfModel* m, int32_t f, int32_t k, double tol) {
  const double s = m->folds[f].sweptXpx[diag(k)];
  double p = 0.0;
  if (s > tol || !(s + tol > 0.0) || vsfFoldRowPivot(m, f, k, &p) != VsfStatus::Ok || !(p > 0.0))
    return tol;
  return 0.0;
}

} // namespace

// Each fold refits the model's columns without its rows: it takes a column the model has
// taken unless its pivot in the fold's sums cannot be told from their rounding, and leaves
// out a column the model left out. Judged again by the whole rule on each fold's sums, a
// column near the rule's floor went in on some folds and out on others, and their held-out
// errors were those of other models.
void vsfCVSweep(VsfModel* m, int32_t k, char state) {
  assert((state == '0' || state == '1') && "a column is swept or not");
  if (!cvFolds(m))
    return;
  const double s = m->sweptXpx[diag(k)];
  const bool tiny = s != 0.0 && std::fabs(s) < vsfTinyPivot();
  for (int32_t f = 0; f < m->foldCount; ++f) {
    VsfFoldRecord& F = m->folds[f];
    if (F.sweepFlags[k] != state || (state == '0' && m->sweepFlags[k] != '1'))
      continue;
    double tol = state == '1' ? 0.0 : foldRowTolerance(m, f, k, foldTolerance(m, F, k));
    if (tiny)
      tol = vsfTinyPivot();
    qkzsweep(F.sweptXpx, k, m->xpxColumns, F.sweepFlags, m->workVector, tol, vsfSweepThreads(m));
  }
}

int32_t vsfSweepPartial(VsfModel* m, int32_t k) { return partialRun(m, k, 1); }

namespace {

// The entering effect k's new rows [from, to) of the triangle (its columns at the triangle's
// column count, against the response and the in-model columns) from the folds' own parts:
// the model's total and each fold's the other folds'.
void entryRowsOutsideFolds(VsfModel* m, int32_t k, int64_t from, int64_t to) {
  if (!vsfFoldsMoved(m)) {
    foldSumsOutside(
        m->xpx, m->foldCount, [m](int32_t f) { return m->folds[f].xpx; }, from, to);
    return;
  }
  // Each triangle column's parameter (1 + p; the response 0).
  const int32_t m0 = m->xpxColumns;
  std::vector<int64_t> parm(static_cast<size_t>(m0 + m->effectColumns[k]), 0);
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    const int64_t c0 = e == k ? m0 : m->effectColumn[e];
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      parm[static_cast<size_t>(c0 + q)] = 1 + m->parmOffset[e] + q;
  }
  vsfFoldSumsMoved(
      m, m->xpx, [m](int32_t f) { return m->folds[f].xpx; }, from, to,
      [&parm, m0](int64_t i, int64_t& a, int64_t& b) {
        const int64_t r = packed::rowOf(i, m0);
        a = parm[static_cast<size_t>(r)];
        b = parm[static_cast<size_t>(i - tri(r))];
      });
}

// Forms the new rows of X'X of effect k, entering at the triangle's column count (from its
// kept or stored cross products, or a pass over the pages), in the triangle and each fold's,
// and places the effect there. The triangle has room for them; k is last in the model's list.
[[nodiscard]] VsfStatus formEntryRows(VsfModel* m, int32_t k, uint8_t trial) {
  const VsfModelOptions* o = m->options;
  const int32_t nk = m->effectColumns[k];
  const int32_t m0 = m->xpxColumns, m1 = m0 + nk;
  const bool stored = o->storeCross != 0 && m->cross != nullptr;
  if (!stored && m->larCrossBytes > 0 && m->crossSlot[k] != -1 && !cvFolds(m)) {
    rowsFromOwnCross(m, k);
  } else if (stored && m->crossSlot[k] != -1) {
    for (int32_t c = 0; c < nk; ++c) {
      rowFromCross(m, m->xpx, m->cross, m->effectBlocks, k, c, false);
      if (cvFolds(m))
        for (int32_t f = 0; f < m->foldCount; ++f)
          rowFromCross(m, m->folds[f].xpx, m->folds[f].cross, m->folds[f].effectBlocks, k, c,
                       false);
    }
  } else if (stored && trial == 1) {
    for (int32_t c = 0; c < nk; ++c) {
      rowFromCross(m, m->xpx, m->cross, m->effectBlocks, k, c, true);
      if (cvFolds(m))
        for (int32_t f = 0; f < m->foldCount; ++f)
          rowFromCross(m, m->folds[f].xpx, m->folds[f].cross, m->folds[f].effectBlocks, k, c, true);
    }
  } else {
    const int64_t from = tri(m0), to = tri(m1);
    std::fill(m->xpx + from, m->xpx + to, 0.0);
    if (cvFolds(m))
      for (int32_t f = 0; f < m->foldCount; ++f)
        std::fill(m->folds[f].xpx + from, m->folds[f].xpx + to, 0.0);
    m->effectColumn[k] = m0;
    if (const VsfStatus rc = vsfDataPass(m, vsfEffXpX, vsfEffXpX_t, to - from); rc != VsfStatus::Ok)
      return rc;
    if (cvFolds(m))
      entryRowsOutsideFolds(m, k, from, to);
    if (vsfMethodRidge(o->method) && m->l2 > 0 && m->effectStatus[k] == VES_SELECTED)
      for (int32_t r = m0; r < m1; ++r)
        m->xpx[diag(r)] += (m->nObs - 1) * m->l2;
  }
  m->effectColumn[k] = m0;
  return VsfStatus::Ok;
}

// Sweeps the model's m1 columns again from X'X (every fold's from its own), in order.
void resweepFromXpx(VsfModel* m, int32_t m1) {
  m->xpxColumns = m1;
  const int64_t T = tri(m1);
  std::fill(m->sweepFlags, m->sweepFlags + m1, '0');
  std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * T);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      std::fill(m->folds[f].sweepFlags, m->folds[f].sweepFlags + m1, '0');
      std::memcpy(m->folds[f].sweptXpx, m->folds[f].xpx, sizeof(double) * T);
    }
  m->rank = 0;
  for (int32_t c = 1; c < m1; ++c)
    sweepIn(m, c);
}

// Makes room in the triangle for m1 columns.
[[nodiscard]] VsfStatus growTriangle(VsfModel* m, int32_t m1) {
  if (m1 <= m->xpxCapacity)
    return VsfStatus::Ok;
  int32_t c = std::max(m1, 2 * m->xpxCapacity);
  c = std::min(c, m->parmCount + 1);
  // Doubling stops at the largest triangle when the columns needed still fit in it.
  if (m1 <= kVsfMaxTriangleColumns)
    c = std::min(c, kVsfMaxTriangleColumns);
  const VsfStatus rc = vsfAddXpXMemory(m, c);
  assert((rc != VsfStatus::Ok || m1 <= m->xpxCapacity) && "X'X has room for the entering columns");
  return rc;
}

} // namespace

VsfStatus vsfAddEffect(VsfModel* m, int32_t k, uint8_t resweepAll, uint8_t trial) {
  assert(k >= 0 && k < m->effectCount && "an effect of the model enters");
  if (m->effectStatus[k] == VES_UNAVAILABLE)
    return VsfStatus::Ok;
  assert(m->inModelCount < m->effectCount && "the in-model list has room for one more");
  m->inModelList[m->inModelCount++] = k;
  if (m->effectStatus[k] != VES_INTERCEPT && m->effectStatus[k] != VES_FORCED)
    m->effectStatus[k] = VES_SELECTED;
  const int32_t nk = m->effectColumns[k];

  if (m->structured != nullptr && k == m->structured->effect) {
    if (const VsfStatus rc = vsfStructuredEnter(m); rc != VsfStatus::Ok)
      return rc;
  } else if (vsfFullXpxOn(m)) {
    // The structured road's trials work on a copy of its small triangles, not a collapse.
    if (trial == 0 || m->structured != nullptr) {
      sweepInRun(m, m->effectColumn[k], nk);
    } else {
      vsfEffectXpXiCollapse(m, k);
      const int32_t c0 = m->effectColumn[k];
      if (trialSelect(m) || m->trialsSweptFully) {
        sweepInRun(m, c0, nk);
      } else {
        (void)partialRun(m, c0, nk);
      }
    }
  } else {
    const int32_t m0 = m->xpxColumns, m1 = m0 + nk;
    const bool formed = m->formedEntry == k + 1 && m->formedEntryAt == m0;
    m->formedEntry = 0;
    if (const VsfStatus rc = growTriangle(m, m1); rc != VsfStatus::Ok)
      return rc;
    if (formed) {
      m->effectColumn[k] = m0;
    } else if (const VsfStatus rc = formEntryRows(m, k, trial); rc != VsfStatus::Ok) {
      return rc;
    }

    // Extending the swept matrix by the new rows multiplies them by the inverse of the swept
    // block, whose rounding grows with its conditioning: a nearly dependent model sweeps
    // every column again from X'X instead, so that the new pivots are those of elimination.
    if (vsfLargestInflation(m) > kVsfRefineInflation)
      resweepAll = 1;
    if (resweepAll) {
      resweepFromXpx(m, m1);
    } else {
      for (int32_t c = m0; c < m1; ++c)
        m->sweepFlags[c] = '0';
      if (cvFolds(m))
        for (int32_t f = 0; f < m->foldCount; ++f)
          for (int32_t c = m0; c < m1; ++c)
            m->folds[f].sweepFlags[c] = '0';
      vsfUpdateXpXi(m);
      if (trialSelect(m) || trial == 0 || m->trialsSweptFully) {
        sweepInRun(m, m0, m1 - m0);
        // An entry that makes the model nearly dependent is judged as every later entry will
        // judge the model's columns, by elimination from X'X: a column the extension took
        // would otherwise be refused at the next entry, while its coefficient is in the fit.
        if (vsfLargestInflation(m) > kVsfRefineInflation)
          resweepFromXpx(m, m1);
      } else {
        (void)partialRun(m, m0, m1 - m0);
      }
    }
  }

  if (m->structured != nullptr && k != m->structured->effect)
    if (const VsfStatus rc = vsfStructuredRefresh(m); rc != VsfStatus::Ok)
      return rc;
  clearCache(m);
  if (trial == 0 && m->hierarchy && m->hierListA != nullptr && m->hierListB != nullptr) {
    for (int32_t i = 0; i < m->hierDropCountInit[k]; ++i)
      m->hierAddCount[m->hierListB[k][i]] -= 1;
    for (int32_t i = 0; i < m->hierAddCountInit[k]; ++i)
      m->hierDropCount[m->hierListA[k][i]] -= 1;
  }
  return VsfStatus::Ok;
}

VsfStatus vsfEntryRefused(VsfModel* m, int32_t k, bool* refused) {
  *refused = false;
  if (m->effectColumns[k] != 1 || m->structured != nullptr)
    return VsfStatus::Ok;
  if (vsfFullXpxOn(m)) {
    *refused = vsfSweepRefuses(m, m->effectColumn[k]);
    return VsfStatus::Ok;
  }
  // The entry would sweep every column again from X'X: it judges the column itself.
  if (vsfLargestInflation(m) > kVsfRefineInflation)
    return VsfStatus::Ok;
  const int32_t m0 = m->xpxColumns;
  if (const VsfStatus rc = growTriangle(m, m0 + 1); rc != VsfStatus::Ok)
    return rc;
  // The effect enters as far as its row of X'X and the swept matrix's extension by it, past
  // the model's columns (every fold's too), and leaves again; the pivot is the one its entry
  // would judge.
  const int32_t column = m->effectColumn[k];
  const uint8_t status = m->effectStatus[k];
  m->inModelList[m->inModelCount++] = k;
  m->effectStatus[k] = VES_SELECTED;
  const VsfStatus rc = formEntryRows(m, k, 0);
  if (rc == VsfStatus::Ok) {
    m->sweepFlags[m0] = '0';
    vsfUpdateXpXi(m);
    *refused = vsfSweepRefuses(m, m0);
    m->formedEntry = k + 1;
    m->formedEntryAt = m0;
  }
  m->xpxColumns = m0;
  m->inModelCount -= 1;
  m->effectStatus[k] = status;
  m->effectColumn[k] = column;
  return rc;
}

void vsfUpdateXpXi(VsfModel* m) {
  const int32_t m0 = m->xpxColumns;
  const int32_t k = m->inModelList[m->inModelCount - 1];
  const int32_t m1 = m0 + m->effectColumns[k];
  m->xpxColumns = m1;
  auto extend = [&](const double* U, double* W, const char* flags) {
    std::memcpy(W + tri(m0), U + tri(m0), sizeof(double) * (tri(m1) - tri(m0)));
    int32_t S[1];
    (void)S;
    double* t = m->workVector; // t_j for the swept old columns
    for (int64_t r = m0; r < m1; ++r) {
      double* R = W + tri(r);
      for (int64_t j = 1; j < m0; ++j) {
        t[j] = 0.0;
        if (flags[j] != '1')
          continue;
        double s = 0.0;
        for (int64_t i = 1; i < m0; ++i)
          if (flags[i] == '1')
            s += U[at(r, i)] * W[sym(i, j)];
        t[j] = s;
      }
      // Every column outside the swept set: the column less its projection on that set.
      for (int64_t c = 0; c <= r; ++c) {
        if (c > 0 && c < m0 && flags[c] == '1')
          continue;
        double s = 0.0;
        for (int64_t i = 1; i < m0; ++i)
          if (flags[i] == '1')
            s += t[i] * U[sym(c, i)];
        R[c] = U[at(r, c)] - s;
      }
      // Swept columns: the projection coefficients (the sign the sweep gives a swept
      // column left of an unswept one).
      for (int64_t j = 1; j < m0; ++j)
        if (flags[j] == '1')
          R[j] = t[j];
    }
  };
  extend(m->xpx, m->sweptXpx, m->sweepFlags);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f)
      extend(m->folds[f].xpx, m->folds[f].sweptXpx, m->folds[f].sweepFlags);
}

namespace {

// A reverse sweep of column c divides by its swept diagonal, the diagonal of the inverse of
// the swept block; that times c's unswept diagonal is the factor by which the columns left in
// the model fall short of explaining c, and by which the reverse sweep magnifies the rounding
// the swept matrix holds. Beyond this factor the removal rebuilds the swept matrix instead:
// at 2^10 a removal adds at most about 1e-13 of the total to the error SS; at 2^16 a few
// removals from a degree-10 polynomial left it 4e-11 of the total above the least squares.
constexpr double kVsfReverseSweepLimit = 0x1p10;

// Whether the swept matrix can be rebuilt from the unswept X'X by sweeping the model's columns
// in again: not while the structured road's many-level effect is in the model (it is kept
// outside the triangle; once it has left, the triangle holds every column the model has), nor
// on the standardized columns of the penalized paths (which keep their own intercept).
[[nodiscard]] bool rebuildable(const VsfModel* m) {
  return (m->structured == nullptr || !m->structured->inModel) && !m->options->colStandardize;
}

// Whether undoing the entry of columns c0 .. c0 + nk - 1 by reverse sweeps would lose
// accuracy in one swept matrix: one of them has a swept diagonal that is not positive or
// beyond kVsfReverseSweepLimit of its unswept one (the diagonals of the columns after it only
// shrink as the effect's columns leave).
[[nodiscard]] bool unsweepLoses(const double* xpx, const double* swept, const char* flags,
                                int32_t c0, int32_t nk) {
  for (int32_t c = c0; c < c0 + nk; ++c) {
    const double factor = xpx[diag(c)] * swept[diag(c)];
    if (flags[c] == '1' && !(factor > 0.0 && factor <= kVsfReverseSweepLimit))
      return true;
  }
  return false;
}

// Whether undoing effect k's entry by reverse sweeps would lose accuracy in the model's swept
// matrix or in a fold record's: a fold's rows may leave the effect far more nearly dependent
// than all of them do.
[[nodiscard]] bool reverseSweepsLoseAccuracy(const VsfModel* m, int32_t k) {
  const int32_t c0 = m->effectColumn[k], nk = m->effectColumns[k];
  if (unsweepLoses(m->xpx, m->sweptXpx, m->sweepFlags, c0, nk))
    return true;
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f)
      if (unsweepLoses(m->folds[f].xpx, m->folds[f].sweptXpx, m->folds[f].sweepFlags, c0, nk))
        return true;
  return false;
}

// Unsweeps effect k's columns and takes again the model's columns that were left out, since
// one of them may have depended on a column that has just left. Returns whether it took one.
[[nodiscard]] bool reverseSweepEffect(VsfModel* m, int32_t k) {
  const int32_t c0 = m->effectColumn[k], nk = m->effectColumns[k];
  const int32_t structured = m->structured != nullptr ? m->structured->effect : -1;
  if (k == structured) {
    vsfStructuredLeave(m);
  } else if (!vsfStructuredDropSmall(m, k)) {
    assert(c0 >= 0 && c0 + nk <= m->xpxColumns && "a swept effect's columns lie within X'X");
    for (int32_t j = nk - 1; j >= 0; --j) {
      if (m->sweepFlags[c0 + j] == '1')
        vsfSweep(m, c0 + j);
      vsfCVSweep(m, c0 + j, '1');
    }
  }
  // A column of the structured effect left out may have depended on a column that has just
  // left: its columns are taken again against the small columns still in.
  if (k != structured && structured != -1)
    vsfStructuredRetake(m); // a failure is kept in passFailure, which ends the fit
  const bool skipIntercept = m->options->colStandardize && !m->options->noint;
  bool retook = false;
  for (int32_t p = skipIntercept ? 1 : 0; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    if (e == k || e == structured)
      continue;
    for (int32_t j = 0; j < m->effectColumns[e]; ++j) {
      const int32_t c = m->effectColumn[e] + j;
      if (m->sweepFlags[c] == '0') {
        vsfSweep(m, c);
        retook = retook || m->sweepFlags[c] == '1';
      }
      vsfCVSweep(m, c, '0');
    }
  }
  (void)vsfStructuredRefresh(m); // a failure is kept in passFailure, which ends the fit
  return retook;
}

// Sweeps column k in where `taken` flags it, past the rank rule: a column a state of the
// model held, whose columns the rebuild takes again as a set (only a pivot that is not
// positive, or within the tiny pivot, is refused).
void sweepTaken(VsfModel* m, int32_t k, const char* taken) {
  if (taken[k] == '1') {
    const double s = m->sweptXpx[diag(k)];
    const double tol = s != 0.0 && std::fabs(s) < vsfTinyPivot() ? vsfTinyPivot() : 0.0;
    qkzsweep(m->sweptXpx, k, m->xpxColumns, m->sweepFlags, m->workVector, tol, vsfSweepThreads(m));
    m->rank += m->sweepFlags[k] == '1' ? 1 : 0;
  }
  vsfCVSweep(m, k, '0');
}

// Takes effect k out of the model's list (and its rows out of a growing triangle), keeping
// its old place in droppedFrom; mode 2 also gives its place back to the containment counts.
void takeOutOfList(VsfModel* m, int32_t k, uint8_t mode) {
  int32_t p = 0;
  while (p < m->inModelCount && m->inModelList[p] != k)
    ++p;
  if (p == m->inModelCount)
    return;
  m->droppedFrom = p;
  if (!vsfFullXpxOn(m)) {
    if (p != m->inModelCount - 1)
      vsfPhysicalDelete(m, p);
    m->xpxColumns -= m->effectColumns[k];
  }
  for (int32_t i = p; i + 1 < m->inModelCount; ++i)
    m->inModelList[i] = m->inModelList[i + 1];
  m->inModelCount -= 1;
  m->effectStatus[k] = VES_CANDIDATE;
  if (mode == 2 && m->hierarchy && m->hierListA != nullptr && m->hierListB != nullptr) {
    for (int32_t i = 0; i < m->hierDropCountInit[k]; ++i)
      m->hierAddCount[m->hierListB[k][i]] += 1;
    for (int32_t i = 0; i < m->hierAddCountInit[k]; ++i)
      m->hierDropCount[m->hierListA[k][i]] += 1;
  }
}

// Whether the model holds its intercept alone once effect k has left: its error SS is then
// the corrected total, which a rebuild gives bit for bit (the intercept swept alone from the
// unswept sums, as the total was formed), where reverse sweeps would leave their rounding.
[[nodiscard]] bool leavesInterceptAlone(const VsfModel* m, int32_t k) {
  if (m->options->noint || m->inModelCount != 2)
    return false;
  return (m->inModelList[0] == 0 && m->inModelList[1] == k) ||
         (m->inModelList[1] == 0 && m->inModelList[0] == k);
}

} // namespace

void vsfDropEffect(VsfModel* m, int32_t k, uint8_t mode) {
  assert(k >= 0 && k < m->effectCount && "an effect of the model leaves");
  if (m->effectStatus[k] == VES_UNAVAILABLE)
    return;
  const bool rebuild =
      rebuildable(m) && (reverseSweepsLoseAccuracy(m, k) || leavesInterceptAlone(m, k));
  // With the many-level effect in the model the triangle is rebuilt from its reduced form.
  const VsfStructured* st = m->structured;
  const bool reduce = st != nullptr && st->inModel && k != st->effect && !rebuild &&
                      reverseSweepsLoseAccuracy(m, k);
  // A column taken again after the removal was judged against every column still in, those
  // after it among them, where a fit of the remaining effects judges it against the columns
  // before it only: the set taken then depends on the road to the model (a refused column
  // can end up refused against columns taken after it). The matrix is then rebuilt, so that
  // the model is the one a fit of the remaining effects takes.
  const bool retook = !rebuild && reverseSweepEffect(m, k);
  if (reduce)
    vsfStructuredResweep(m);
  if (mode != 0)
    takeOutOfList(m, k, mode);
  if (rebuild || (retook && rebuildable(m)))
    vsfResweepModel(m, mode == 0 ? k : -1);
  clearCache(m);
}

void vsfResweepModel(VsfModel* m, int32_t except, int32_t moved, int32_t movedAt,
                     const char* taken) {
  const int64_t n = m->xpxColumns;
  vsfCopyTriangle(m, m->sweptXpx, m->xpx, n);
  std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      VsfFoldRecord& F = m->folds[f];
      std::memcpy(F.sweptXpx, F.xpx, sizeof(double) * static_cast<size_t>(tri(n)));
      std::fill(F.sweepFlags, F.sweepFlags + n, '0');
    }
  std::vector<int32_t> order;
  for (int32_t p = 0; p < m->inModelCount; ++p)
    if (m->inModelList[p] != except && m->inModelList[p] != moved)
      order.push_back(m->inModelList[p]);
  if (moved != -1)
    order.insert(
        order.begin() + std::clamp<int32_t>(movedAt, 0, static_cast<int32_t>(order.size())), moved);
  m->rank = 0;
  m->sweptInflation = 0.0;
  for (const int32_t e : order) {
    if (taken == nullptr)
      sweepInRun(m, m->effectColumn[e], m->effectColumns[e]);
    else
      for (int32_t j = 0; j < m->effectColumns[e]; ++j)
        sweepTaken(m, m->effectColumn[e] + j, taken);
  }
  clearCache(m);
}

VsfStatus vsfReenterEffect(VsfModel* m, int32_t k, int32_t rank, uint8_t resweepAll,
                           const char* taken) {
  const int32_t at = m->droppedFrom;
  const VsfStatus rc = vsfAddEffect(m, k, resweepAll, 0);
  if (rc != VsfStatus::Ok || !rebuildable(m))
    return rc;
  if (taken != nullptr && vsfFullXpxOn(m)) {
    if (!std::equal(m->sweepFlags, m->sweepFlags + m->xpxColumns, taken))
      vsfResweepModel(m, -1, k, at, taken);
  } else if (m->rank != rank) {
    vsfResweepModel(m, -1, k, at);
  }
  return VsfStatus::Ok;
}

void vsfPhysicalDelete(VsfModel* m, int32_t p) {
  assert(p >= 0 && p < m->inModelCount && "a position of the in-model list");
  const int32_t e = m->inModelList[p];
  const int64_t c0 = m->effectColumn[e], w = m->effectColumns[e];
  const int64_t n = m->xpxColumns;
  assert(c0 >= 0 && c0 + w <= n && "the leaving effect's columns lie within X'X");
  auto shrink = [&](double* A) {
    for (int64_t r = c0 + w; r < n; ++r) {
      const double* src = A + tri(r);
      double* dst = A + tri(r - w);
      std::memmove(dst, src, sizeof(double) * c0);
      std::memmove(dst + c0, src + c0 + w, sizeof(double) * (r - c0 - w + 1));
    }
  };
  auto shrinkFlags = [&](char* F) {
    std::memmove(F + c0, F + c0 + w, static_cast<size_t>(n - c0 - w));
  };
  shrink(m->xpx);
  shrink(m->sweptXpx);
  shrinkFlags(m->sweepFlags);
  if (cvFolds(m))
    for (int32_t f = 0; f < m->foldCount; ++f) {
      shrink(m->folds[f].xpx);
      shrink(m->folds[f].sweptXpx);
      shrinkFlags(m->folds[f].sweepFlags);
    }
  for (int32_t i = p; i < m->inModelCount; ++i)
    m->effectColumn[m->inModelList[i]] -= static_cast<int32_t>(w);
}

namespace {

// The kept cross-product columns from slot `first` on, one per entry of parm (the column's
// parameter, 1 + p; the response 0), from the folds' own parts: the model's total and each
// fold's the other folds'.
void crossOutsideFolds(VsfModel* m, int64_t first, const std::vector<int64_t>& parm) {
  const int64_t N = m->parmCount + 1;
  const int64_t from = first * N, to = (first + static_cast<int64_t>(parm.size())) * N;
  if (!vsfFoldsMoved(m)) {
    foldSumsOutside(
        m->cross, m->foldCount, [m](int32_t f) { return m->folds[f].cross; }, from, to);
    return;
  }
  vsfFoldSumsMoved(
      m, m->cross, [m](int32_t f) { return m->folds[f].cross; }, from, to,
      [&parm, first, N](int64_t i, int64_t& a, int64_t& b) {
        a = parm[static_cast<size_t>(i / N - first)];
        b = i % N;
      });
}

} // namespace

VsfStatus vsfInitCross(VsfModel* m) {
  if (const VsfStatus rc = vsfDataPass(m, vsfYCross, vsfYCross_t, 0); rc != VsfStatus::Ok)
    return rc;
  m->crossColumnCount = 1;
  if (cvFolds(m))
    crossOutsideFolds(m, 0, {0});
  return VsfStatus::Ok;
}

VsfStatus vsfAddCross(VsfModel* m, int32_t k) { return vsfAddCrossBatch(m, &k, 1); }

VsfStatus vsfAddCrossBatch(VsfModel* m, const int32_t* effects, int32_t count) {
  int32_t columns = 0;
  for (int32_t b = 0; b < count; ++b)
    columns += m->effectColumns[effects[b]];
  const int32_t used = m->crossColumnCount, need = used + columns;
  const int64_t N = m->parmCount + 1;
  if (m->crossCapacity <= need) {
    int32_t cap = 2 * m->crossCapacity;
    if (cap < need)
      cap = m->crossCapacity + need;
    if (cap > m->parmCount)
      cap = m->parmCount + 1;
    if (vsfAddCrossMemory(m, cap, static_cast<int32_t>(N)) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
  }
  assert(need <= m->crossCapacity && "the kept cross products have room for the batch");
  const int64_t L = static_cast<int64_t>(columns) * N;
  if (L != 0) {
    m->crossBatch = effects;
    m->crossBatchCount = count;
    m->crossBatchContiguous = vsfDenseInParameterOrder(m) ? 1 : 0;
    const VsfStatus rc = vsfDataPass(m, vsfEffCross, vsfEffCross_t, L);
    m->crossBatch = nullptr;
    m->crossBatchCount = 0;
    if (rc != VsfStatus::Ok)
      return rc;
  }
  if (cvFolds(m)) {
    std::vector<int64_t> parm;
    for (int32_t b = 0; b < count; ++b)
      for (int32_t q = 0; q < m->effectColumns[effects[b]]; ++q)
        parm.push_back(1 + m->parmOffset[effects[b]] + q);
    crossOutsideFolds(m, used, parm);
  }
  int32_t slot = used;
  for (int32_t b = 0; b < count; ++b) {
    m->crossSlot[effects[b]] = slot;
    slot += m->effectColumns[effects[b]];
  }
  m->crossColumnCount = need;
  return VsfStatus::Ok;
}

VsfStatus vsfComputePress(VsfModel* m) {
  if (!isHostMissing(m->press))
    return VsfStatus::Ok;
  m->press = 0.0;
  vsfStructuredPressSetUp(m);
  vsfStructuredSetEstimates(m);
  // A nearly dependent design's leave-one-out residuals divide residuals of rounding size by
  // 1 - h of rounding size: its coefficients are refined on the rows first, as the step's
  // record would refine them, and its leverages come from a factor formed afresh.
  VsfLeverageFactor factor;
  bool formed = false;
  VsfStatus rc = vsfLeverageFactorFor(m, factor, formed);
  m->leverageFactor = formed ? &factor : nullptr;
  if (rc == VsfStatus::Ok && formed)
    rc = vsfRefineStep(m);
  if (rc == VsfStatus::Ok)
    rc = vsfDataPass(m, vsfPress, vsfPress_t, 0);
  m->leverageFactor = nullptr;
  if (rc != VsfStatus::Ok)
    m->press = hostMissing(); // never a partial sum
  return rc;
}
