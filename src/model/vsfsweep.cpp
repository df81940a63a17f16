// Sweeping columns in and out of the model's swept X'X and every fold's: one column by the
// rank rule's tolerance, runs of columns (by the blocked sweep where they are many), partial
// elimination for trials that need the SSE alone, and the frame of the model's data passes.
// Effects enter in vsfentry.cpp and leave in vsfremoval.cpp.
#include "model/vsfsweep.h"

#include "data/vsfdata.h"
#include "data/vsfthread.h"
#include "model/vsffoldmove.h"
#include "model/vsfmodel.h"
#include "model/vsfrowpivot.h"
#include "model/vsfsplitsums.h"
#include "model/vsfstructured.h"
#include "model/vsfsweepinternal.h"
#include "numerics/foldsums.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "numerics/qkzsweepblock.h"
#include "support/hostif.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/vsfmethods.h"
#include "support/zparrows.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <vector>

using namespace sweeping;

namespace sweeping {

[[nodiscard]] bool cvFolds(const VsfModel* m) { return vsfCvOn(m) && m->cv.foldCount > 0; }

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
    m->trial.trialInflation = std::max(m->trial.trialInflation, vsfPivotInflation(m, j, s, take));
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

} // namespace sweeping

namespace {

// vsfSweep's pivot tolerance for the blocked sweep, given the pivot's current diagonal and
// its current column.
double blockTolerance(void* context, int32_t k, double current, const double* column) {
  const VsfModel* m = static_cast<const VsfModel*>(context);
  double tol = m->sweepFlags[k] == '1'
                   ? 0.0
                   : vsfPivotTolerance(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, k,
                                       vsfRuleCentred(m), column);
  return vsfTinyPivotFloor(current, tol);
}

} // namespace

namespace sweeping {

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

} // namespace sweeping

VsfStatus vsfDataPass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded,
                      int64_t length) {
  if (const VsfStatus rc = vsfExecuteByThreads(m, serial, threaded, length); rc != VsfStatus::Ok)
    return vsfReportPassFailure(m, rc);
  if (m->layout.splitSparse)
    vsfSplitCorrect(m, serial);
  return VsfStatus::Ok;
}

VsfStatus vsfReportPassFailure(VsfModel* m, VsfStatus rc) {
  if (rc == VsfStatus::BadFoldRow) {
    vsfLog(VsfMsg::TrainingRowFoldOutOfRange, {HostMsgArg(static_cast<int64_t>(m->cv.foldCount))});
  } else if (rc != VsfStatus::Ok) {
    vsfLog(VsfMsg::DataPagePassFailed, {HostMsgArg(static_cast<long>(codeOf(rc)))});
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

void vsfCopyTriangle(const VsfModel* m, double* to, const double* from, int64_t columns) {
  zparrows(vsfSweepThreads(m), 0, columns, [&](int64_t first, int64_t last) {
    std::memcpy(to + tri(first), from + tri(first), sizeof(double) * (tri(last) - tri(first)));
  });
}

namespace {

// The tolerance vsfSweep gives column k's pivot: none to take a swept column out, the rank
// rule's to take one in (at least the tiny pivot).
double sweepTolerance(const VsfModel* m, int64_t k) {
  double tol = m->sweepFlags[k] == '1'
                   ? 0.0
                   : vsfPivotTolerance(m->xpx, m->sweptXpx, m->sweepFlags, m->xpxColumns, k,
                                       vsfRuleCentred(m), nullptr, vsfStructuredPivotRoot(m, k), m);
  return vsfTinyPivotFloor(m->sweptXpx[diag(k)], tol);
}

double entryTolerance(VsfModel* m, int64_t k) {
  return vsfRowTolerance(m, k, sweepTolerance(m, k));
}

} // namespace

std::vector<VsfSweptColumn> vsfSweptColumns(const VsfModel* m, const char* flags) {
  std::vector<VsfSweptColumn> swept;
  for (int32_t i = 0; i < m->inModelCount; ++i) {
    const int32_t e = m->inModelList[i];
    if (m->structured != nullptr && e == m->structured->effect)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int64_t c = int64_t{m->effectColumn[e]} + q;
      if (c > 0 && c < m->xpxColumns && flags[c] == '1')
        swept.push_back({e, q, c});
    }
  }
  return swept;
}

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
  return vsfBoundTolerance(F.sweptXpx[diag(k)], std::max(root * root, own), [&] {
    return std::max(vsfPivotForm(F.xpx, F.sweptXpx, F.sweepFlags, n, k, centred), own);
  });
}

// foldTolerance `tol`, or 0 where it refuses a pivot within its band that the fold's rows
// clear (vsfFoldRowPivot). A failed pass was reported; the pivot stays refused.
double foldRowTolerance(VsfModel* m, int32_t f, int32_t k, double tol) {
  const double s = m->cv.folds[f].sweptXpx[diag(k)];
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
  for (int32_t f = 0; f < m->cv.foldCount; ++f) {
    VsfFoldRecord& F = m->cv.folds[f];
    if (F.sweepFlags[k] != state || (state == '0' && m->sweepFlags[k] != '1'))
      continue;
    const double tol = vsfTinyPivotFloor(
        s, state == '1' ? 0.0 : foldRowTolerance(m, f, k, foldTolerance(m, F, k)));
    qkzsweep(F.sweptXpx, k, m->xpxColumns, F.sweepFlags, m->workVector, tol, vsfSweepThreads(m));
  }
}

int32_t vsfSweepPartial(VsfModel* m, int32_t k) { return partialRun(m, k, 1); }
