// External cross validation over the least-angle path. Every fold fit standardises the pages
// with the moments of its own training rows and restores them; its steps become records
// {fold, step, rank} with {path value, L2, L1 norm, L2 norm, curvature, held-out error}.
// The knots of all folds merge into one grid, each fold's held-out error is interpolated
// onto it (exactly quadratic along a step, from the curvature the path kernels measure), and
// the final fit on all training rows picks its step by the averaged curve (vsfcriteria.cpp).
// The group LASSO's folds share one penalty sequence: their errors are averaged per step.
#include "selection/vsfcvex.h"

#include "data/vsfcvexsums.h"
#include "data/vsfdata.h"
#include "model/vsfmodel.h"
#include "selection/vsfcvexroad.h"
#include "selection/vsfelnet.h"
#include "selection/vsfprocess.h"
#include "support/hoststubs.h"
#include "support/notbuilt.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kBig = 1.7976931348623157e308;
constexpr int32_t kValues = 6; // doubles per record

enum RecordValue { RV_PATH = 0, RV_L2, RV_L1NORM, RV_L2NORM, RV_CURVATURE, RV_ERROR };

// L1CHOICE= of the path; LAR has none and walks by the ratio.
[[nodiscard]] VsfL1Choice choiceOf(const VsfModel* m) {
  const VsfL1Choice c = m->options->l1Choice;
  return c == VsfL1Choice::Norm || c == VsfL1Choice::Value ? c : VsfL1Choice::Ratio;
}

const double* recordValues(const VsfModel* m, int32_t i) {
  return m->cvexPass.cvexValues + kValues * i;
}

[[nodiscard]] int32_t foldBegin(const VsfModel* m, int32_t f) {
  return f == 0 ? 0 : m->cvexPass.cvexFoldEnd[f - 1];
}

// The knot of record i (of fold f) on the grid's axis.
double knotValue(const VsfModel* m, VsfL1Choice choice, int32_t f, int32_t i) {
  const double* v = recordValues(m, i);
  if (choice == VsfL1Choice::Norm)
    return v[RV_L1NORM];
  if (choice == VsfL1Choice::Value)
    return v[RV_PATH] * m->cvexPass.cvexFoldLambdaMax[f];
  return v[RV_PATH];
}

[[nodiscard]] int64_t foldRoom(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return vsfCVExFoldRoom(o->maxSteps, o->steps, o->noint, m->effectCount, o->forcedIn);
}

// Fold k's end index and the keys {fold, step, rank} of its fit's steps. A fit that recorded
// more steps than the fold's room (the path's own step limit) is a bug, journalled as an
// internal error rather than written past.
[[nodiscard]] VsfStatus foldKeys(VsfModel* m, int32_t k, int64_t room) {
  if (m->history.stepCount > room)
    return statusFromCode(
        vsfNotBuiltInternal("external cross validation: a fold fit outgrew its records"));
  const int32_t begin = foldBegin(m, k);
  m->cvexPass.cvexFoldEnd[k] = begin + m->history.stepCount;
  for (int32_t s = 0; s < m->history.stepCount; ++s) {
    int32_t* key = m->cvexPass.cvexKeys + 3 * (begin + s);
    key[0] = k;
    key[1] = s;
    key[2] = m->history.stepRank[s];
  }
  return VsfStatus::Ok;
}

// Divides the first M entries of the curve by the count of folds that recorded steps (a fold
// with an empty training part adds nothing to it); the position (valueAt(j)) of the first
// smallest goes to cvexChosenValue, 0 when there is none. Returns the smallest entry, the
// largest double when there is none.
template <class ValueAt> double averageCurve(VsfModel* m, int32_t M, ValueAt valueAt) {
  m->cvex.cvexChosenValue = 0;
  int32_t fitted = 0;
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    fitted += m->cvexPass.cvexFoldEnd[f] > foldBegin(m, f) ? 1 : 0;
  double best = kBig;
  for (int32_t j = 0; j < M && fitted > 0; ++j) {
    m->cvexPass.cvexCurve[j] /= fitted;
    if (m->cvexPass.cvexCurve[j] < best) {
      best = m->cvexPass.cvexCurve[j];
      m->cvex.cvexChosenValue = valueAt(j);
    }
  }
  return best;
}

// The records of fold k's fit, divided by the held-out weight (left undivided when it is 0).
[[nodiscard]] VsfStatus recordFold(VsfModel* m, int32_t k) {
  const int32_t begin = foldBegin(m, k);
  if (VsfStatus rc = foldKeys(m, k, foldRoom(m)); rc != VsfStatus::Ok)
    return rc;
  const double w = m->totals.wValidate;
  const bool linear = m->options->linearCvex != 0;
  for (int32_t s = 0; s < m->history.stepCount; ++s) {
    const int32_t i = begin + s;
    double* v = m->cvexPass.cvexValues + kValues * i;
    double q = linear ? 0.0 : m->history.stepHeldOutTestError[s];
    double e = m->history.stepHeldOutError[s];
    if (w != 0) {
      q /= w;
      e /= w;
    }
    v[RV_PATH] = m->history.stepPathValue[s];
    v[RV_L2] = std::max(m->elnetPass.l2, 0.0); // -1: not given, no ridge term (LAR, LASSO)
    v[RV_L1NORM] = m->history.stepL1Norm[s];
    v[RV_L2NORM] = m->history.stepL2Norm[s];
    v[RV_CURVATURE] = q;
    v[RV_ERROR] = e;
  }
  m->cvexPass.cvexFoldLambdaMax[k] = m->path.lambdaMax;
  return VsfStatus::Ok;
}

// The fold's held-out error at grid value G on the segment that ends at record i (b: the
// fold's first record, lambda: its path maximum).
double errorAt(const VsfModel* m, VsfL1Choice choice, int32_t b, int32_t i, double G,
               double lambda) {
  const double* cur = recordValues(m, i);
  if (i == b)
    return cur[RV_ERROR];
  const double* prev = recordValues(m, i - 1);
  const double fuzz = m->fuzz;
  const double c = prev[RV_ERROR];
  if (cur[RV_CURVATURE] > 0) {
    // Along a step the coefficients move linearly in lambda, so the error is quadratic in
    // the lambda travelled: a s^2 + slope s + c.
    const double d = (prev[RV_PATH] - cur[RV_PATH]) * lambda;
    if (std::fabs(d / 1000) <= std::fabs(d / 1000) * fuzz)
      return c;
    const double a = cur[RV_CURVATURE];
    const double slope = (cur[RV_ERROR] - c) / d - d * a;
    double s;
    if (choice == VsfL1Choice::Norm) {
      const double n0 = prev[RV_L1NORM], n1 = cur[RV_L1NORM];
      s = std::fabs(n1 / 1000 - n0 / 1000) <= std::fabs(n1 / 1000) * fuzz
              ? 0.0
              : (prev[RV_PATH] - cur[RV_PATH]) * ((G - n0) / (n1 - n0)) * lambda;
    } else if (choice == VsfL1Choice::Value) {
      s = prev[RV_PATH] * lambda - G;
    } else {
      s = (prev[RV_PATH] - G) * lambda;
    }
    if (s < 0)
      s = 0;
    return a * s * s + slope * s + c;
  }
  const int at = choice == VsfL1Choice::Norm ? RV_L1NORM : RV_PATH;
  const double u0 = prev[at], u1 = cur[at];
  const double g = choice == VsfL1Choice::Value ? G / lambda : G;
  if (std::fabs(u1 / 1000 - u0 / 1000) <= std::fabs(u1 / 1000) * fuzz)
    return c;
  return c + (g - u0) * (cur[RV_ERROR] - c) / (u1 - u0);
}

// Whether record i has reached grid value G (the grid runs the fold's own direction).
[[nodiscard]] bool reaches(const VsfModel* m, VsfL1Choice choice, int32_t f, int32_t i, double G) {
  const double x = knotValue(m, choice, f, i);
  return choice == VsfL1Choice::Norm ? G <= x : x <= G;
}

[[nodiscard]] int32_t mergeGrid(VsfModel* m, VsfL1Choice choice) {
  int32_t M = 0;
  for (int32_t i = 0; i < m->cvexPass.cvexFoldEnd[0]; ++i)
    m->cvexPass.cvexGrid[M++] = knotValue(m, choice, 0, i);
  for (int32_t f = 1; f < m->cv.foldCount; ++f) {
    const int32_t b = foldBegin(m, f), n = m->cvexPass.cvexFoldEnd[f] - b;
    for (int32_t i = 0; i < n; ++i)
      m->cvexPass.cvexFoldKnots[i] = knotValue(m, choice, f, b + i);
    std::copy(m->cvexPass.cvexGrid, m->cvexPass.cvexGrid + M, m->cvexPass.cvexCurve);
    M = vsfmerge(m->cvexPass.cvexFoldKnots, m->cvexPass.cvexCurve, m->cvexPass.cvexGrid, n, M,
                 choice == VsfL1Choice::Norm);
  }
  return M;
}

// Adds fold f's error at every grid point into the curve; points past its last knot take
// its last error. A fold without records (an empty training part) adds nothing.
void addFold(VsfModel* m, VsfL1Choice choice, int32_t f, int32_t M) {
  const int32_t b = foldBegin(m, f), z = m->cvexPass.cvexFoldEnd[f] - 1;
  if (z < b)
    return;
  const double lambda = m->cvexPass.cvexFoldLambdaMax[f];
  int32_t j = 0, i = b;
  while (j < M && i <= z) {
    if (reaches(m, choice, f, i, m->cvexPass.cvexGrid[j])) {
      m->cvexPass.cvexCurve[j] += errorAt(m, choice, b, i, m->cvexPass.cvexGrid[j], lambda);
      ++j;
    } else {
      ++i;
    }
  }
  for (; j < M; ++j)
    m->cvexPass.cvexCurve[j] += recordValues(m, z)[RV_ERROR];
}

// The fit with fold k held out, on pages standardised with its own training rows' moments
// and restored after it; Ok (with the fit status in fitStatus) or the fit's failure code.
[[nodiscard]] VsfStatus fitFold(VsfModel* m, int32_t k) {
  VsfModelOptions* o = m->options;
  m->cvexPass.heldOutFold = k;
  // The forced steps record the path position before the path sets it: not the last fit's.
  m->path.lambda = m->path.lambdaMax = 0;
  o->recordSteps = 0;
  o->transformPages = 1;
  o->restorePages = 1;
  // The least-angle path's folds keep their cross products (when they can) between fits;
  // the fit itself sees them only when it takes that road.
  VsfCVExSums* sums = m->cvexPass.cvexSums;
  m->cvexPass.cvexSums = nullptr;
  VsfStatus rc = vsfModelInit(m);
  if (rc == VsfStatus::Ok && sums != nullptr)
    rc = vsfCVExTakeRoad(m, sums);
  if (rc == VsfStatus::Ok)
    rc = vsfProcessModel(m);
  m->cvexPass.cvexSums = sums;
  return rc;
}

// One fold fit of the least-angle path and its records.
[[nodiscard]] VsfStatus foldFit(VsfModel* m, int32_t k) {
  VsfStatus rc = fitFold(m, k);
  if (rc != VsfStatus::Ok || m->fitStatus != VsfFitStatus::Done)
    return rc;
  if ((rc = recordFold(m, k)) == VsfStatus::Ok)
    vsfModelByFree(m);
  return rc;
}

// The final fit on all training rows (no fold held out), which keeps its steps and picks
// one by the averaged curve.
[[nodiscard]] VsfStatus finalFit(VsfModel* m) {
  VsfModelOptions* o = m->options;
  m->cvexPass.heldOutFold = m->cv.foldCount;
  m->path.lambda = m->path.lambdaMax = 0;
  o->recordSteps = 1;
  o->transformPages = 1;
  o->restorePages = 0;
  const VsfStatus rc = vsfModelInit(m);
  return rc != VsfStatus::Ok ? rc : vsfProcessModel(m);
}

} // namespace

int32_t vsfmerge(const double* a, const double* b, double* out, int32_t na, int32_t nb,
                 bool ascending) {
  int32_t i = 0, j = 0, n = 0;
  while (i < na && j < nb) {
    if (a[i] == b[j]) {
      out[n++] = a[i++];
      ++j;
    } else if (ascending ? a[i] < b[j] : a[i] > b[j]) {
      out[n++] = a[i++];
    } else {
      out[n++] = b[j++];
    }
  }
  while (i < na)
    out[n++] = a[i++];
  while (j < nb)
    out[n++] = b[j++];
  return n;
}

double vsfCVExMergeAndCurve(VsfModel* model) {
  VsfModel* m = model;
  const VsfL1Choice choice = choiceOf(m);
  const int32_t M = mergeGrid(m, choice);
  m->cvex.cvexGridCount = M;
  std::fill(m->cvexPass.cvexCurve, m->cvexPass.cvexCurve + M, 0.0);
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    addFold(m, choice, f, M);
  return averageCurve(m, M, [m](int32_t j) { return m->cvexPass.cvexGrid[j]; });
}

VsfStatus vsfCVExRunAndMerge(VsfModel* model, double* smallest) {
  VsfModel* m = model;
  m->cvex.cvexRecordCount = 0;
  for (int32_t k = 0; k < m->cv.foldCount; ++k) {
    if (const VsfStatus rc = foldFit(m, k); rc != VsfStatus::Ok)
      return rc;
    if (m->fitStatus != VsfFitStatus::Done)
      return VsfStatus::Ok;
  }
  m->cvex.cvexRecordCount = m->cvexPass.cvexFoldEnd[m->cv.foldCount - 1];
  *smallest = vsfCVExMergeAndCurve(m);
  return VsfStatus::Ok;
}

namespace {

// A trial of the L2 search: the fold fits and the merge at l2, its row of the tuning rows
// {L2, chosen grid value, -, averaged error, -, -, -} when they are kept. A fold fit that
// ends with a fit status or fails ends the search; *failure keeps a failure's code.
VsfL2Trial cvexTrial(VsfModel* m, VsfStatus* failure) {
  return [m, failure](int32_t index, double l2, double* value) {
    m->elnetPass.l2 = l2;
    *value = 0.0;
    const VsfStatus rc = vsfCVExRunAndMerge(m, value);
    if (m->fitStatus != VsfFitStatus::Done || rc != VsfStatus::Ok) {
      *failure = m->fitStatus != VsfFitStatus::Done ? VsfStatus::Ok : rc;
      return false;
    }
    if (m->elnetPass.enTuneRows != nullptr && index >= 0 && index < m->elnetPass.enTuneCapacity) {
      double* row = m->elnetPass.enTuneRows + 7 * static_cast<int64_t>(index);
      std::fill(row, row + 7, 0.0);
      row[0] = l2;
      row[1] = m->cvex.cvexChosenValue;
      row[3] = *value;
    }
    return true;
  };
}

// The elastic net's L2 by the averaged held-out error of its fold fits (GOLDEN or GRID),
// left in l2: Ok (with the fit status in fitStatus when a fold fit ended with one and no L2
// was chosen), or a failing fit's code.
[[nodiscard]] VsfStatus searchL2(VsfModel* m) {
  // Every walk that chooses no L2 has a failing trial behind it.
  VsfStatus failure = VsfStatus::InternalError;
  const VsfL2Trial trial = cvexTrial(m, &failure);
  bool ranToEnd;
  const double best =
      m->elnet.l2Search == VsfL2Search::Golden
          ? vsfGoldenSectionWalk(m->elnet.l2Low, m->elnet.l2High, m->elnetPass.l2Steps, trial,
                                 &ranToEnd)
          : vsfLogGridWalk(m->elnet.l2Low, m->elnet.l2High, m->elnetPass.l2Steps, trial);
  if (best < 0)
    return failure;
  m->elnetPass.l2 = best;
  return VsfStatus::Ok;
}

// The group LASSO walks the same penalty ratios in every fold, so its fold errors are
// averaged step by step without a merge: records {fold, step, rank} with {penalty ratio,
// held-out error}, and cvexCurve[s] the averaged error of step s.
[[nodiscard]] int32_t groupRoom(const VsfModel* m) {
  const VsfModelOptions* o = m->options;
  return static_cast<int32_t>(vsfCVExGroupRoom(o->maxSteps, o->steps, o->forcedIn));
}

// Fold k's steps as records, their held-out errors (divided by the held-out weight, left
// undivided when it is 0) added into the curve; the steps past the fold's last add its last
// error. A fold without steps (an empty training part) adds nothing, as on the path road.
[[nodiscard]] VsfStatus recordGroupFold(VsfModel* m, int32_t k) {
  const int32_t begin = foldBegin(m, k), L = groupRoom(m);
  if (VsfStatus rc = foldKeys(m, k, L); rc != VsfStatus::Ok)
    return rc;
  const double w = m->totals.wValidate;
  double e = 0;
  for (int32_t s = 0; s < m->history.stepCount; ++s) {
    const int32_t i = begin + s;
    e = w != 0 ? m->history.stepHeldOutError[s] / w : m->history.stepHeldOutError[s];
    m->cvexPass.cvexValues[2 * i] = m->history.stepPathValue[s];
    m->cvexPass.cvexValues[2 * i + 1] = e;
    m->cvexPass.cvexCurve[s] += e;
  }
  for (int32_t s = m->history.stepCount; s < L && m->history.stepCount > 0; ++s)
    m->cvexPass.cvexCurve[s] += e;
  m->cvexPass.cvexFoldLambdaMax[k] = m->path.lambdaMax;
  return VsfStatus::Ok;
}

// The penalty ratio of step s, from a fold that recorded it (0 when none did).
double groupStepRatio(const VsfModel* m, int32_t s) {
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    if (m->cvexPass.cvexFoldEnd[f] - foldBegin(m, f) > s)
      return m->cvexPass.cvexValues[2 * (foldBegin(m, f) + s)];
  return 0;
}

// The averaged curve over the steps some fold recorded (cvexGridCount of them) and the
// penalty ratio of its first smallest entry in cvexChosenValue.
void groupCurve(VsfModel* m) {
  int32_t M = 0;
  for (int32_t f = 0; f < m->cv.foldCount; ++f)
    M = std::max(M, m->cvexPass.cvexFoldEnd[f] - foldBegin(m, f));
  m->cvex.cvexGridCount = M;
  averageCurve(m, M, [m](int32_t s) { return groupStepRatio(m, s); });
}

// The group LASSO's road: the fold fits, the curve, the final fit. A fold fit that ends with
// a fit status reports it for the BY group without a final fit, as on the path road.
[[nodiscard]] VsfStatus driveGroup(VsfModel* m) {
  m->cvex.cvexRecordCount = m->cvex.cvexGridCount = 0;
  std::fill(m->cvexPass.cvexCurve, m->cvexPass.cvexCurve + groupRoom(m), 0.0);
  for (int32_t k = 0; k < m->cv.foldCount; ++k) {
    VsfStatus rc = fitFold(m, k);
    if (rc == VsfStatus::Ok && m->fitStatus != VsfFitStatus::Done)
      return VsfStatus::Ok;
    if (rc == VsfStatus::Ok)
      rc = recordGroupFold(m, k);
    if (rc != VsfStatus::Ok)
      return rc;
    vsfModelByFree(m);
  }
  m->cvex.cvexRecordCount = m->cvexPass.cvexFoldEnd[m->cv.foldCount - 1];
  groupCurve(m);
  return finalFit(m);
}

} // namespace

VsfStatus vsfDriveCVExternal(VsfModel* model) {
  VsfModel* m = model;
  VsfModelOptions* o = m->options;
  if (vsfMethodRoad(o->method, VsfFitRoad::GroupLasso))
    return driveGroup(m);
  if (!vsfMethodIs(o->method, VsfMethodFamily::LeastAngle))
    return VsfStatus::Ok;
  // The adaptive elastic net's folds run as the plain elastic net.
  const VsfMethod method = o->method;
  if (vsfMethodRidge(method))
    o->method = vsfMethod(method).lsBase;
  const bool search = vsfMethodRidge(o->method) && (m->elnet.l2Search == VsfL2Search::Golden ||
                                                    m->elnet.l2Search == VsfL2Search::Grid);
  // The fold fits (of every L2 trial) take their sums from the folds' cross products where
  // they can; the final fit passes over the pages.
  VsfCVExSums sums;
  m->cvexPass.cvexSums = &sums;
  VsfStatus rc = search ? searchL2(m) : VsfStatus::Ok;
  // The records, the grid and the curve that the final fit and the tables use are those of
  // the chosen L2.
  double smallest = 0.0;
  if (rc == VsfStatus::Ok)
    rc = vsfCVExRunAndMerge(m, &smallest);
  m->cvexPass.cvexSums = nullptr;
  o->method = method;
  // A fold fit that ended with a status reports it for the BY group: no final fit.
  if (m->fitStatus != VsfFitStatus::Done)
    return VsfStatus::Ok;
  if (rc != VsfStatus::Ok)
    return rc;
  m->elnet.finalL2 = m->elnetPass.l2;
  return finalFit(m);
}
