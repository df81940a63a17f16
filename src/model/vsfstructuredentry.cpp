// The trial and the entry of the many-level effect on the structured road, and the changes
// of its states that follow: the effect leaving, small columns leaving, the effect's columns
// taken again, and the save and reload of a trial's copies, each on the model's state and
// every fold record's (VsfRecordView).
// Declared in model/vsfstructured.h and model/vsfstructuredparts.h.
#include "model/vsfstructuredparts.h"

#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "model/vsftrial.h"
#include "numerics/packedtri.h"
#include "numerics/qkzsweep.h"
#include "support/hostif.h"
#include "support/messages.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <vector>

using packed::at;
using packed::tri;
using namespace structroad;

namespace structroad {

// The failure of the Cholesky factor of the model's swept columns, which the rounding rule
// that swept them makes a fault of the matrix, not a dependent column: the fit ends.
VsfStatus noFactor(VsfModel* m, size_t swept) {
  vsfLog(VsfMsg::SweptColumnsNoCholesky, {HostMsgArg(static_cast<int64_t>(swept))});
  if (m->passFailure == VsfStatus::Ok)
    m->passFailure = VsfStatus::ReportedFailure;
  return VsfStatus::ReportedFailure;
}

} // namespace structroad

namespace {

// The effect's columns as its trial reads them: the cross block, the diagonal, and the
// response row of the swept matrix, C(j, 0) less C(j, S) times the estimates of the swept
// small columns S (whose entries in the response column are their negated estimates).
struct Block {
  const VsfModel* m;
  const VsfStructured* st;
};
double blockCross(const void* c, int64_t j, int64_t column) {
  const Block* b = static_cast<const Block*>(c);
  assert(j >= 0 && j < b->st->columns && column >= 0 && column < b->st->small &&
         "an element of the structured effect's cross block");
  return vsfStructuredCrossAt(*b->st, j, column);
}
double blockDiagonal(const void* c, int64_t j) {
  return static_cast<const Block*>(c)->st->diagonal[j];
}
double blockResponse(const void* c, int64_t j) {
  const Block* b = static_cast<const Block*>(c);
  double t = 0.0;
  eachCross(*b->st, j, [&](int64_t s, double v) {
    if (s == 0)
      t = v;
    else if (b->m->sweepFlags[s] == '1')
      t += v * b->m->sweptXpx[at(s, 0)];
  });
  return t;
}

// The state's reduced triangle formed again from X'X over the effect's swept columns: no
// Cholesky factor of it is known yet (VsfStructured::factorOver). Where a saved state is kept
// and its triangle not yet copied, the copy is taken first.
void reduceState(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st->reducedKept && !st->reducedCopied) {
    std::memcpy(st->savedReduced, st->reduced, sizeof(double) * tri(st->small));
    std::memcpy(st->savedFactorOver, st->factorOver, static_cast<size_t>(st->small));
    st->reducedCopied = 1;
  }
  vsfStructuredReduce(*st, m->xpx, st->reduced, smallShifts(m));
  std::fill(st->factorOver, st->factorOver + st->small, '0');
}

// The effect's pivots in the state m holds: judged by the whole rule, or where `modelTaken`
// is given (a fold record's state) the model's columns refitted (VsfDiagonalBlock), with
// those its sums lost into the state's `lost`; `inflation`, when given, receives the largest
// inflation they show (a trial's, which vsfTrialIsEntry judges).
[[nodiscard]] VsfStatus pivots(VsfModel* m, double* sse, int32_t* count, char* taken,
                               const char* modelTaken = nullptr, double* inflation = nullptr) {
  VsfStructured* st = m->structured;
  Block block{m, st};
  const VsfDiagonalBlock source{&block,        st->columns, blockCross,    blockDiagonal,
                                blockResponse, st->rankOne, st->rankCross, modelTaken};
  char* lost = modelTaken != nullptr ? st->lost : nullptr;
  if (vsfDiagonalBlockPivots(m, source, sse, count, taken, inflation, lost))
    return VsfStatus::Ok;
  *sse = m->sse;
  *count = 0;
  if (taken != nullptr)
    std::fill(taken, taken + st->columns, '0');
  if (lost != nullptr)
    std::fill(lost, lost + st->columns, '0');
  int64_t swept = 0;
  for (int64_t c = 1; c < st->small; ++c)
    swept += m->sweepFlags[c] == '1' ? 1 : 0;
  return noFactor(m, static_cast<size_t>(swept));
}

// Runs `work` on the model's own state, then on each fold record's (VsfRecordView), passing
// it the model's state (null on the model's own turn). The first failing status.
template <class Work> VsfStatus eachState(VsfModel* m, Work work) {
  const VsfStructured* model = m->structured;
  VsfStatus rc = work(nullptr);
  for (int32_t f = 0; f < model->foldCount; ++f) {
    const VsfRecordView view(m, f);
    const VsfStatus r = work(model);
    rc = rc != VsfStatus::Ok ? rc : r;
  }
  return rc;
}

// The entry of the effect into one state: the model's by the rank rule, a fold record's
// (`model` the model's state, the effect entered there first) the model's columns refitted
// on the fold's sums, as the packed road's folds refit the model's columns (vsfCVSweep).
[[nodiscard]] VsfStatus enterOne(VsfModel* m, const VsfStructured* model) {
  VsfStructured* st = m->structured;
  const int64_t n = st->small;
  double sse;
  int32_t count;
  st->refinedValid = 0;
  if (const VsfStatus rc =
          pivots(m, &sse, &count, st->swept, model != nullptr ? model->swept : nullptr);
      rc != VsfStatus::Ok)
    return rc;
  reduceState(m);
  // Swept again over the small columns the model had swept.
  std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  std::memcpy(m->sweptXpx, st->reduced, sizeof(double) * tri(n));
  m->rank += count;
  st->inModel = 1;
  resweepSmall(m, was);
  (void)vsfStructuredRefresh(m);
  return vsfStructuredSettle(m);
}

// The levels a fold's refit took into its state past its sums' judgement (vsfStructuredTakeLost)
// leave it before its small columns are swept again on its reduced triangle by the sums' rule:
// against those levels a small column's pivot is as worn as theirs, and the rule would refuse
// it. They stay lost, as the state's pivots left them.
void releaseLost(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (!st->inModel)
    return;
  bool released = false;
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->lost[j] == '1' && st->swept[j] == '1') {
      st->swept[j] = '0';
      m->rank -= 1;
      released = true;
    }
  if (!released)
    return;
  reduceState(m);
  st->refinedValid = 0;
  st->diagonalStale = 1;
}

// The effect's columns out of one state.
void leaveOne(VsfModel* m) {
  VsfStructured* st = m->structured;
  const int64_t n = st->small;
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->swept[j] == '1') {
      st->swept[j] = '0';
      m->rank -= 1;
    }
  std::fill(st->lost, st->lost + st->columns, '0');
  st->inModel = 0;
  st->refinedValid = 0;
  std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  std::memcpy(m->sweptXpx, m->xpx, sizeof(double) * tri(n));
  resweepSmall(m, was);
}

// Small columns [c0, c0 + count) out of one state, by sweeping the others it had swept again
// on the reduced triangle (or the small one without the effect): its rank loses the columns
// that leave and any refused on the way.
void dropSmallOne(VsfModel* m, int64_t c0, int64_t count) {
  VsfStructured* st = m->structured;
  const int64_t n = st->small;
  releaseLost(m);
  std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  for (int64_t c = c0; c < c0 + count; ++c)
    if (was[static_cast<size_t>(c)] == '1') {
      was[static_cast<size_t>(c)] = '0';
      m->rank -= 1;
    }
  std::memcpy(m->sweptXpx, st->inModel ? st->reduced : m->xpx, sizeof(double) * tri(n));
  resweepSmall(m, was);
  st->refinedValid = 0;
  if (st->inModel)
    st->diagonalStale = 1;
}

// Whether the one column of the effect left out is its last, which stays out whatever small
// columns have left: the levels cover every row once (vsfCoversEveryRow) and the intercept is
// still swept, so the last level is the intercept less the others, as it was when the pivots
// left it out. Its columns need not be taken again, which would cost k s^2.
bool onlyLastLevelOut(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  const int64_t k = st->columns;
  if (k < 2 || st->swept[k - 1] != '0' ||
      std::find(st->swept, st->swept + k - 1, '0') != st->swept + k - 1)
    return false;
  Block block{m, st};
  const VsfDiagonalBlock source{&block,        st->columns, blockCross,   blockDiagonal,
                                blockResponse, st->rankOne, st->rankCross};
  return vsfCoversEveryRow(m, source);
}

// The save and reload of one state's trial copies. The reduced triangle goes with the swept
// columns it was made for: a removal trial that takes the effect's columns again against
// fewer small columns (vsfStructuredRetake) remakes it, and the small columns swept back on
// reload must be refreshed against the one their state had. It is copied where a trial
// remakes it (reduceState) and put back on reload only then; its factorOver, a fact about
// the triangle alone, stays with it.
void saveOne(VsfStructured* st) {
  std::memcpy(st->savedSwept, st->swept, static_cast<size_t>(st->columns));
  std::memcpy(st->savedLost, st->lost, static_cast<size_t>(st->columns));
  std::memcpy(st->savedSweptDiagonal, st->sweptDiagonal, sizeof(double) * st->columns);
  st->reducedKept = 1;
  st->reducedCopied = 0;
  st->savedInModel = st->inModel;
  st->savedDiagonalStale = st->diagonalStale;
}
void reloadOne(VsfStructured* st) {
  std::memcpy(st->swept, st->savedSwept, static_cast<size_t>(st->columns));
  std::memcpy(st->lost, st->savedLost, static_cast<size_t>(st->columns));
  std::memcpy(st->sweptDiagonal, st->savedSweptDiagonal, sizeof(double) * st->columns);
  if (st->reducedCopied) {
    std::memcpy(st->reduced, st->savedReduced, sizeof(double) * tri(st->small));
    std::memcpy(st->factorOver, st->savedFactorOver, static_cast<size_t>(st->small));
    st->reducedCopied = 0;
  }
  st->inModel = st->savedInModel;
  st->diagonalStale = st->savedDiagonalStale;
  st->refinedValid = 0;
}

} // namespace

VsfRecordView::VsfRecordView(VsfModel* m, int32_t f)
    : m_(m), xpx_(m->xpx), swept_(m->sweptXpx), flags_(m->sweepFlags), structured_(m->structured),
      rank_(m->rank) {
  VsfFoldRecord& F = m->cv.folds[f];
  m->xpx = F.xpx;
  m->sweptXpx = F.sweptXpx;
  m->sweepFlags = F.sweepFlags;
  if (structured_ != nullptr)
    m->structured = &structured_->folds[f];
}

VsfRecordView::~VsfRecordView() {
  m_->xpx = xpx_;
  m_->sweptXpx = swept_;
  m_->sweepFlags = flags_;
  m_->structured = structured_;
  m_->rank = rank_;
}

VsfStatus vsfStructuredTrial(VsfModel* m, double* sse, int32_t* sweptCount) {
  return pivots(m, sse, sweptCount, nullptr, nullptr, &m->trial.trialInflation);
}

VsfStatus vsfStructuredEnter(VsfModel* m) {
  return eachState(m, [m](const VsfStructured* model) { return enterOne(m, model); });
}

void vsfStructuredLeave(VsfModel* m) {
  (void)eachState(m, [m](const VsfStructured*) {
    leaveOne(m);
    return VsfStatus::Ok;
  });
  // The triangle is swept again from X'X: it no longer carries the rounding of the largest
  // inflation it held (vsfStepInflation), as after a rebuild (vsfResweepModel).
  m->sweptInflation = 0.0;
}

void vsfStructuredSave(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  saveOne(st);
  for (int32_t f = 0; f < st->foldCount; ++f)
    saveOne(&st->folds[f]);
}

void vsfStructuredReload(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  reloadOne(st);
  for (int32_t f = 0; f < st->foldCount; ++f)
    reloadOne(&st->folds[f]);
}

bool vsfStructuredAnySwept(const VsfModel* m) {
  const VsfStructured* st = m->structured;
  return st != nullptr && st->inModel &&
         std::find(st->swept, st->swept + st->columns, '1') != st->swept + st->columns;
}

bool vsfStructuredDropSmall(VsfModel* m, int32_t k) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || k == st->effect)
    return false;
  const int64_t c0 = m->effectColumn[k], count = m->effectColumns[k];
  int64_t leaving = 0, staying = 0;
  for (int64_t c = 1; c < st->small; ++c)
    if (m->sweepFlags[c] == '1')
      ++(c >= c0 && c < c0 + count ? leaving : staying);
  if (leaving <= staying)
    return false;
  (void)eachState(m, [&](const VsfStructured*) {
    dropSmallOne(m, c0, count);
    return VsfStatus::Ok;
  });
  return true;
}

void vsfStructuredRetake(VsfModel* m) {
  if (m->structured == nullptr)
    return;
  (void)eachState(m, [m](const VsfStructured* model) -> VsfStatus {
    const VsfStructured* st = m->structured;
    if (!st->inModel ||
        std::find(st->swept, st->swept + st->columns, '0') == st->swept + st->columns ||
        onlyLastLevelOut(m))
      return VsfStatus::Ok;
    leaveOne(m);
    return enterOne(m, model);
  });
}

void vsfStructuredResweep(VsfModel* m) {
  if (m->structured == nullptr || !m->structured->inModel)
    return;
  (void)eachState(m, [m](const VsfStructured*) {
    releaseLost(m);
    const VsfStructured* st = m->structured;
    std::vector<char> was(m->sweepFlags, m->sweepFlags + st->small);
    std::memcpy(m->sweptXpx, st->reduced, sizeof(double) * tri(st->small));
    resweepSmall(m, was);
    return vsfStructuredRefresh(m);
  });
}

bool vsfStructuredLostLevel(const VsfModel* m, int32_t f) {
  const VsfStructured* st = m->structured;
  if (st == nullptr || st->folds == nullptr || !st->inModel || !st->folds[f].inModel)
    return false;
  const VsfStructured& R = st->folds[f];
  return std::find(R.lost, R.lost + R.columns, '1') != R.lost + R.columns;
}

bool vsfStructuredTakeLost(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr || !st->inModel)
    return true;
  int32_t taken = 0;
  for (int64_t j = 0; j < st->columns; ++j)
    if (st->lost[j] == '1' && st->swept[j] != '1') {
      st->swept[j] = '1';
      ++taken;
    }
  if (taken == 0)
    return true;
  m->rank += taken;
  const int64_t n = st->small;
  const std::vector<char> was(m->sweepFlags, m->sweepFlags + n);
  reduceState(m);
  std::memcpy(m->sweptXpx, st->reduced, sizeof(double) * tri(n));
  std::fill(m->sweepFlags, m->sweepFlags + n, '0');
  st->refinedValid = 0;
  st->diagonalStale = 1;
  bool all = true;
  for (int64_t c = 1; c < n; ++c)
    if (was[static_cast<size_t>(c)] == '1') {
      qkzsweep(m->sweptXpx, static_cast<int32_t>(c), static_cast<int32_t>(n), m->sweepFlags,
               m->workVector, -vsfTinyPivot());
      all = all && m->sweepFlags[c] == '1';
    }
  return all;
}

void vsfStructuredEmpty(VsfModel* m) {
  VsfStructured* st = m->structured;
  if (st == nullptr)
    return;
  for (int32_t f = -1; f < st->foldCount; ++f) {
    VsfStructured& s = f < 0 ? *st : st->folds[f];
    std::fill(s.swept, s.swept + s.columns, '0');
    std::fill(s.lost, s.lost + s.columns, '0');
    s.inModel = 0;
    s.refinedValid = 0;
  }
}
