// The solver drivers and their callbacks. Loss and gradient come from the packed X'X when it
// is in memory: 0.5 (y'y - 2 b'X'y + b'X'X b) and X'X b - X'y cost O(p^2) and no data pass;
// otherwise from the loss and gradient kernels (or the least-angle kernels for QKLASSO$), one
// pass over the pages per call. The group penalty weighs each effect by the square root of its
// column count.
#include "selection/vsfqklasso.h"

#include "data/vsfthread.h"
#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfqkkernels.h"
#include "kernels/vsfxpx.h"
#include "model/vsfadaptive.h"
#include "model/vsffoldpress.h"
#include "model/vsfmodel.h"
#include "model/vsfsolverest.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "selection/vsfstoprules.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/qksv.h"
#include "support/seams.h"
#include "support/stepcodes.h"
#include "support/vsfmethods.h"
#include "support/vsfoptions.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace {

using packed::at;
using packed::sym;
using packed::tri;

// The largest X'X triangle kept for the callbacks, in bytes.
constexpr int64_t kGramBytes = int64_t{256} << 20;
[[nodiscard]] int64_t gramLimit() {
  const int64_t forced = seam::solverGramLimit();
  return forced < 0 ? kGramBytes : forced;
}
// The L1-norm search: the smallest positive penalty ratio tried before the least-squares
// end, and the most solves that narrow the bracket.
constexpr double kSmallestRatio = 1e-6;
constexpr int32_t kNormSearchSolves = 200;

VsfModel* modelOf(QkSolver* s) { return static_cast<VsfModel*>(s->userData); }

[[nodiscard]] VsfStatus pass(VsfModel* m, VsfSerialKernel serial, VsfThreadedKernel threaded) {
  ++m->solver.solverPasses;
  return vsfDataPass(m, serial, threaded, 0);
}

[[nodiscard]] bool groupKernels(const VsfModelOptions* o) { return vsfGroupMethod(o->method); }

// The coefficients of the in-model effects past the forced ones, every other entry 0: what
// the loss kernels multiply the rows by.
void inModelCoefficients(const VsfModel* m, const double* b, std::vector<double>& out) {
  out.assign(static_cast<size_t>(m->parmCount), 0.0);
  for (int32_t p = m->includeCount; p < m->inModelCount; ++p) {
    const int32_t e = m->inModelList[p];
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      out[m->parmOffset[e] + q] = b[m->parmOffset[e] + q];
  }
}

// Half the residual sum of squares from X'X, and when g is given the gradient X'X b - X'y of
// the parameters whose gradient the kernels form (flagged in `want`).
double gramLoss(const VsfModel* m, const std::vector<double>& b, const std::vector<char>* want,
                double* g) {
  const double* G = m->solver.solverGram;
  const int32_t P = m->parmCount;
  double quad = 0, lin = 0;
  std::vector<double> xb(static_cast<size_t>(P), 0.0);
  std::vector<int32_t> nz;
  for (int32_t j = 0; j < P; ++j)
    if (b[j] != 0.0)
      nz.push_back(j);
  for (int32_t i = 0; i < P; ++i) {
    double s = 0;
    for (int32_t j : nz)
      s += G[sym(1 + i, 1 + j)] * b[j];
    xb[i] = s;
  }
  for (int32_t j : nz) {
    quad += b[j] * xb[j];
    lin += b[j] * G[at(1 + j, 0)];
  }
  if (g != nullptr)
    for (int32_t i = 0; i < P; ++i)
      g[i] = (*want)[i] ? xb[i] - G[at(1 + i, 0)] : 0.0;
  return 0.5 * (G[0] - 2.0 * lin + quad);
}

// Parameters whose gradient the kernels form: the effects past the forced ones, or for
// QKLASSO$ every effect but the intercept.
std::vector<char> gradientParameters(const VsfModel* m) {
  std::vector<char> want(static_cast<size_t>(m->parmCount), 0);
  const bool path = vsfMethodPenalty(m->options->method) == VsfPenalty::Columns;
  for (int32_t e = path ? 0 : m->includeCount; e < m->effectCount; ++e) {
    if (path && m->effectStatus[e] == VES_INTERCEPT)
      continue;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q)
      want[m->parmOffset[e] + q] = 1;
  }
  return want;
}

// Sets to 0 the entries of v that belong to unavailable effects or to parameters held at 0
// by their adaptive weight.
void holdAtZero(const VsfModel* m, double* v) {
  for (int32_t e = 0; e < m->effectCount; ++e) {
    const bool unavailable = m->effectStatus[e] == VES_UNAVAILABLE;
    for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
      const int32_t p = m->parmOffset[e] + q;
      if (unavailable || vsfAdaptiveHeldAtZero(m, p))
        v[p] = 0.0;
    }
  }
}

// The coefficients into the model's vector, the in-model state rebuilt from them, and the
// loss (and gradient) from X'X or a pass over the pages.
[[nodiscard]] int32_t evaluate(QkSolver* s, double* b, double* gradient, double* loss) {
  VsfModel* m = modelOf(s);
  const VsfModelOptions* o = m->options;
  const int32_t P = m->parmCount;
  const bool group = groupKernels(o);
  ++m->solver.solverEvaluations;
  // Unavailable effects and parameters of weight 0 (an aliased level, whose column the pages
  // keep unweighted) take no part: their coefficients are 0 in the solver's vector and in the
  // copy the kernels multiply the rows by, for the loss as for the gradient. A value the
  // solver moved them to would otherwise enter the loss while the gradient ignored it.
  if (group)
    holdAtZero(m, b);
  double* own = group ? m->pathPass.solverBeta : m->pathPass.pathBeta;
  std::memcpy(own, b, sizeof(double) * P);
  m->sse = 0;
  if (!group)
    m->validateAse = m->testAse = m->cvexPass.heldOutError = m->cvexPass.heldOutTestError = 0;
  vsfReSetInModelFlags(m, b);
  VsfStatus rc = VsfStatus::Ok;
  if (m->solver.solverGram != nullptr) {
    std::vector<double> bm;
    inModelCoefficients(m, own, bm);
    std::vector<char> want;
    if (gradient != nullptr)
      want = gradientParameters(m);
    *loss = gramLoss(m, bm, gradient != nullptr ? &want : nullptr, gradient);
    m->sse = 2.0 * *loss;
  } else {
    if (gradient != nullptr) {
      std::memset(m->pathPass.corr, 0, sizeof(double) * (group ? P : m->effectCount));
      rc = group ? pass(m, vsfGradient, vsfGradient_t) : pass(m, vsfLarCorr, vsfLarCorr_t);
    } else {
      rc = group ? pass(m, vsfFunValue, vsfFunValue_t) : pass(m, vsfLarRss, vsfLarRss_t);
    }
    if (rc != VsfStatus::Ok)
      return codeOf(rc); // the solver hands a callback's code back to the fit
    *loss = 0.5 * m->sse;
    if (gradient != nullptr)
      for (int32_t i = 0; i < P; ++i)
        gradient[i] = group ? m->pathPass.corr[i] : -m->pathPass.corr[i];
  }
  if (group && gradient != nullptr)
    holdAtZero(m, gradient);
  return 0;
}

// The size of the terms of the loss formed from X'X at coefficients b, (sqrt y'y +
// sum |b_j| sqrt x_j'x_j)^2 by Cauchy-Schwarz: its rounding is a small multiple of the unit
// round-off times this.
double gramTerms(const VsfModel* m, const double* b) {
  const double* G = m->solver.solverGram;
  double root = std::sqrt(std::fabs(G[0]));
  for (int32_t j = 0; j < m->parmCount; ++j)
    root += std::fabs(b[j]) * std::sqrt(std::fabs(G[sym(1 + j, 1 + j)]));
  return root * root;
}

// The error SS at the solution b whose loss the solver gave: twice that loss, or where it
// came from X'X and cancelled there (a response far from zero without an intercept, whose
// y'y the form holds), the loss summed over the rows at b.
[[nodiscard]] VsfStatus solutionSse(QkSolver* s, const double* b, double loss) {
  VsfModel* m = modelOf(s);
  m->sse = 2.0 * loss;
  if (m->solver.solverGram == nullptr || vsfFormKeepsDigits(m->sse, gramTerms(m, b)))
    return VsfStatus::Ok;
  double* gram = m->solver.solverGram;
  m->solver.solverGram = nullptr;
  std::vector<double> copy(b, b + m->parmCount);
  const int32_t rc = evaluate(s, copy.data(), nullptr, &loss);
  m->solver.solverGram = gram;
  m->sse = 2.0 * loss;
  return statusFromCode(rc);
}

double blockSquares(const VsfModel* m, int32_t e, const double* x) {
  double s = 0;
  for (int32_t q = 0; q < m->effectColumns[e]; ++q) {
    const double v = x[m->parmOffset[e] + q];
    s += v * v;
  }
  return s;
}

// The loaded extension and its solver instance for one driver run; torn down on every path.
struct SolverSession {
  VsfModel* m;
  QkSvExtension* ext = nullptr;
  QkSolver* solver = nullptr;
  explicit SolverSession(VsfModel* model) : m(model) {}
  ~SolverSession() {
    if (solver != nullptr) {
      const QkSolverOps* ops = solver->ops;
      QkSolver* s = solver;
      ops->destroy(s);
      if (ops->release != nullptr)
        ops->release(&s);
    }
    if (ext != nullptr)
      ext->header.unload(&ext->header);
    m->solver.solverExtension = nullptr;
    m->solver.solverGram = nullptr;
  }
  // Loads the extension, creates the solver and forms X'X for the callbacks when it fits.
  [[nodiscard]] VsfStatus open() {
    ext = reinterpret_cast<QkSvExtension*>(qkLoadByName(Exported_QKHandle, "qksv"));
    if (ext == nullptr) {
      vsfLog(VsfMsg::HostExtensionNotLoaded, {});
      return VsfStatus::SolverMissing;
    }
    m->solver.solverExtension = ext;
    alignas(8) unsigned char parameters[128] = {};
    solver = ext->create(ext, parameters, Exported_QKHandle->journal);
    if (solver == nullptr) {
      vsfLog(VsfMsg::HostExtensionNotLoaded, {});
      return VsfStatus::SolverMissing;
    }
    return vsfSolverGram(m);
  }
};

// A solver operation's non-zero status ends the fit with VsfMsg::OptimisationSolverFailedStatus.
[[nodiscard]] VsfStatus failed(int32_t status) {
  if (status == 0)
    return VsfStatus::Ok;
  if (status < 0)
    return statusFromCode(status); // a failing data pass inside a callback: its own code
  vsfLog(VsfMsg::OptimisationSolverFailedStatus, {HostMsgArg(static_cast<int64_t>(status))});
  return VsfStatus::SolverFailed;
}

// One solve at penalty ratio r (the penalty relative to its maximum) from `start` (null: 0);
// the solution into b.
[[nodiscard]] VsfStatus solveAtRatio(QkSolver* s, double r, const double* start,
                                     std::vector<double>& b) {
  const QkSolverOps* ops = s->ops;
  VsfStatus rc;
  if ((rc = failed(ops->setLambda(s, r))) != VsfStatus::Ok)
    return rc;
  ops->setStartValues(s, start);
  if ((rc = failed(ops->solve(s))) != VsfStatus::Ok)
    return rc;
  b.assign(static_cast<size_t>(s->size), 0.0);
  ops->getSolution(s, b.data());
  return VsfStatus::Ok;
}

// The penalty maximum: a solve at ratio 1, whose solution is 0, computes it.
[[nodiscard]] VsfStatus penaltyMaximum(QkSolver* s, double* lambdaMax) {
  std::vector<double> zero;
  const VsfStatus rc = solveAtRatio(s, 1.0, nullptr, zero);
  if (rc == VsfStatus::Ok)
    s->ops->getResult(s, lambdaMax);
  return rc;
}

double absoluteSum(const std::vector<double>& b) {
  double t = 0;
  for (double v : b)
    t += std::fabs(v);
  return t;
}

// A solution of the LASSO at one penalty ratio and its L1 norm.
struct RatioPoint {
  double r = 1.0;
  std::vector<double> b;
  double norm = 0.0;
};

// Between two solutions with the same non-zero coefficients and signs the LASSO's
// coefficients, and so their L1 norm, are linear in the penalty.
[[nodiscard]] bool samePiece(const RatioPoint& a, const RatioPoint& b) {
  for (size_t i = 0; i < a.b.size(); ++i)
    if ((a.b[i] > 0) != (b.b[i] > 0) || (a.b[i] < 0) != (b.b[i] < 0))
      return false;
  return true;
}

// The ratio of the first solution, walking down from `hi` (the zero solution) by factors of
// 4 with warm starts, whose L1 norm reaches `target`; the least-squares end (ratio 0) when
// none does before it. hi becomes the last point short of the target.
[[nodiscard]] VsfStatus bracketFromAbove(QkSolver* s, double target, RatioPoint& hi,
                                         RatioPoint& lo) {
  for (double r = 0.25;; r = r > kSmallestRatio ? 0.25 * r : 0.0) {
    lo.r = r;
    if (const VsfStatus rc = solveAtRatio(s, r, hi.b.data(), lo.b); rc != VsfStatus::Ok)
      return rc;
    lo.norm = absoluteSum(lo.b);
    if (lo.norm >= target || r == 0.0)
      return VsfStatus::Ok;
    std::swap(hi, lo);
  }
}

// The LASSO solution whose L1 norm is `target`. The norm falls as the penalty grows, and is
// linear in it wherever the signs of the coefficients do not change: a bracket [lo, hi] of
// ratios around the target is narrowed by secant steps (halving when they stall) until its
// ends share their signs, or are closer than the solver's tolerance; the solution is the
// linear interpolation between the ends at the target norm. A target beyond the
// least-squares norm gives the least-squares fit.
[[nodiscard]] VsfStatus solveAtNorm(QkSolver* s, double target, double tolerance,
                                    std::vector<double>& b) {
  RatioPoint hi, lo;
  hi.b.assign(static_cast<size_t>(s->size), 0.0);
  if (target <= 0) {
    b = hi.b;
    return VsfStatus::Ok;
  }
  VsfStatus rc = bracketFromAbove(s, target, hi, lo);
  if (rc != VsfStatus::Ok)
    return rc;
  if (lo.norm <= target) {
    b = lo.b;
    return VsfStatus::Ok;
  }
  double lastWidth = hi.r - lo.r;
  for (int32_t it = 0; it < kNormSearchSolves && !samePiece(lo, hi) && hi.r - lo.r > tolerance;
       ++it) {
    double r = lo.r + (lo.norm - target) / (lo.norm - hi.norm) * (hi.r - lo.r);
    // A secant step that left the bracket more than half as wide as two steps ago halves it.
    if (it % 2 == 1) {
      if (hi.r - lo.r > 0.5 * lastWidth)
        r = 0.5 * (lo.r + hi.r);
      lastWidth = hi.r - lo.r;
    }
    RatioPoint mid;
    mid.r = r;
    const RatioPoint& near = r - lo.r < hi.r - r ? lo : hi;
    if ((rc = solveAtRatio(s, r, near.b.data(), mid.b)) != VsfStatus::Ok)
      return rc;
    mid.norm = absoluteSum(mid.b);
    if (mid.norm == target) {
      b = mid.b;
      return VsfStatus::Ok;
    }
    (mid.norm > target ? lo : hi) = std::move(mid);
  }
  const double w = (lo.norm - target) / (lo.norm - hi.norm);
  b.resize(lo.b.size());
  for (size_t i = 0; i < b.size(); ++i)
    b[i] = lo.b[i] + w * (hi.b[i] - lo.b[i]);
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfSolverGram(VsfModel* m) {
  m->solver.solverGram = nullptr;
  const int64_t cols = static_cast<int64_t>(m->parmCount) + 1;
  if (m->layout.sparseEffectCount != 0 || m->layout.denseColumnCount != m->parmCount ||
      tri(cols) * static_cast<int64_t>(sizeof(double)) > gramLimit())
    return VsfStatus::Ok;
  for (int32_t e = 0; e < m->effectCount; ++e)
    if (m->effectColumns[e] > 0 && m->effectColumn[e] != 1 + m->parmOffset[e])
      return VsfStatus::Ok;
  if (vsfFullXpxOn(m) && m->xpxColumns == cols) {
    m->solver.solverGram = m->xpx;
    return VsfStatus::Ok;
  }
  double* G = vsfModelArray<double>(m, tri(cols));
  if (G == nullptr)
    return VsfStatus::Ok; // no room: the callbacks pass over the pages
  // The full cross-products pass writes the model's triangle of xpxColumns columns.
  double* keep = m->xpx;
  const int32_t keepColumns = m->xpxColumns;
  m->xpx = G;
  m->xpxColumns = static_cast<int32_t>(cols);
  const VsfStatus rc = pass(m, vsfFullXpX, vsfFullXpX_t);
  m->xpx = keep;
  m->xpxColumns = keepColumns;
  if (rc != VsfStatus::Ok)
    return rc;
  m->solver.solverGram = G;
  return VsfStatus::Ok;
}

int32_t vsfQkLossFun(QkSolver* s, const double* b, double* loss) {
  const VsfModelOptions* o = modelOf(s)->options;
  if (!vsfMethodIs(o->method, VsfMethodFamily::Solver))
    return 0;
  std::vector<double> copy(b, b + modelOf(s)->parmCount);
  return evaluate(s, copy.data(), nullptr, loss);
}

int32_t vsfQkLossFunAndDeriv(QkSolver* s, double* b, double* gradient, double* loss) {
  const VsfModelOptions* o = modelOf(s)->options;
  if (!vsfMethodIs(o->method, VsfMethodFamily::Solver))
    return 0;
  return evaluate(s, b, gradient, loss);
}

int32_t vsfGroupLassoValue(QkSolver* s, const double* x, double* value) {
  const VsfModel* m = modelOf(s);
  double v = 0;
  for (int32_t e = 1; e < m->effectCount; ++e)
    v += std::sqrt(m->effectColumns[e] * blockSquares(m, e, x));
  *value = v;
  return 0;
}

int32_t vsfGroupLassoOperator(QkSolver* s, const double* x, double* y, double* penalty,
                              int32_t* count, double* norm) {
  const VsfModel* m = modelOf(s);
  const double tau = s->relative ? s->lambda * s->lambdaMax : s->lambda;
  double pen = 0, sq = 0;
  int32_t nonZero = 0;
  for (int32_t e = 1; e < m->effectCount; ++e) {
    const int32_t k = m->effectColumns[e], first = m->parmOffset[e];
    const double n = std::sqrt(blockSquares(m, e, x));
    const double shrunk = n - std::sqrt(static_cast<double>(k)) * tau / s->stepFactor;
    const double f = shrunk > 0 ? shrunk / n : 0.0;
    for (int32_t q = 0; q < k; ++q)
      y[first + q] = x[first + q] * f;
    if (shrunk > 0)
      ++nonZero;
    const double ny = std::sqrt(blockSquares(m, e, y));
    pen += std::sqrt(static_cast<double>(k)) * ny;
    sq += ny * ny;
  }
  *penalty = pen;
  *count = nonZero;
  *norm = std::sqrt(sq);
  return 0;
}

int32_t vsfGroupLassoLambdaMax(QkSolver* s) {
  if (s->lambdaMax > 0)
    return 0;
  if (s->callbacks.lossAndGradient == nullptr)
    return QKSV_NO_LAMBDA_MAX;
  const VsfModel* m = modelOf(s);
  std::memset(s->work, 0, sizeof(double) * static_cast<size_t>(s->size));
  double loss = 0;
  const int32_t rc = s->callbacks.lossAndGradient(s, s->work, s->gradient, &loss);
  if (rc != 0)
    return rc;
  double best = 0;
  for (int32_t e = 1; e < m->effectCount; ++e) {
    const int32_t k = m->effectColumns[e];
    if (k <= 0)
      continue;
    const double g = std::sqrt(blockSquares(m, e, s->gradient) / k);
    if (g > best)
      best = g;
  }
  s->lambdaMax = best;
  return 0;
}

VsfStatus vsfQkValidateTest(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  m->validateAse = m->testAse = m->cvexPass.heldOutError = 0;
  // Without VALIDATE, TEST or held-out rows the pass would add nothing.
  if (o->validateInUse || o->testInUse || o->cvExternal) {
    const VsfStatus rc = pass(m, vsfValidateTest, vsfValidateTest_t);
    if (rc != VsfStatus::Ok)
      return rc;
  }
  m->validateAse = m->totals.wValidate > 0 ? m->validateAse / m->totals.wValidate : hostMissing();
  m->testAse = m->totals.wTest > 0 ? m->testAse / m->totals.wTest : hostMissing();
  return VsfStatus::Ok;
}

namespace {

// The solution at the L1 target as L1CHOICE= reads it: a penalty ratio (the solver's own
// reading of its penalty), a penalty value (the ratio times the penalty maximum) or the L1
// norm of the coefficients. *loss is the loss at the solution.
[[nodiscard]] VsfStatus solveAtTarget(VsfModel* m, QkSolver* s, std::vector<double>& b,
                                      double* loss) {
  const VsfModelOptions* o = m->options;
  const VsfL1Choice choice = o->stop == VsfCriterion::L1 ? o->stopL1Choice : VsfL1Choice::Ratio;
  VsfStatus rc = VsfStatus::Ok;
  if (choice == VsfL1Choice::Norm) {
    if ((rc = solveAtNorm(s, m->path.l1Target, o->tol, b)) != VsfStatus::Ok)
      return rc;
    // The interpolated coefficients were not the solver's last point.
    std::vector<double> copy = b;
    return statusFromCode(vsfQkLossFun(s, copy.data(), loss));
  }
  double r = m->path.l1Target;
  if (choice == VsfL1Choice::Value) {
    double lambdaMax = 0;
    if ((rc = penaltyMaximum(s, &lambdaMax)) != VsfStatus::Ok)
      return rc;
    r = lambdaMax > 0 ? m->path.l1Target / lambdaMax : 1.0;
  }
  if ((rc = solveAtRatio(s, r, nullptr, b)) != VsfStatus::Ok)
    return rc;
  s->ops->getObjective(s, loss);
  return VsfStatus::Ok;
}

} // namespace

VsfStatus vsfQkLasso(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  SolverSession session(m);
  VsfStatus rc = session.open();
  if (rc != VsfStatus::Ok)
    return rc;
  QkSolver* s = session.solver;
  const QkSolverOps* ops = s->ops;
  if ((rc = failed(ops->setProblemSize(s, m->parmCount))) != VsfStatus::Ok ||
      (rc = failed(ops->setLambda(s, m->path.l1Target))) != VsfStatus::Ok ||
      (rc = failed(ops->setPenaltyKind(s, QKSV_L1))) != VsfStatus::Ok ||
      (rc = failed(ops->prepare(s))) != VsfStatus::Ok)
    return rc;
  ops->setUserData(s, m);
  s->callbacks.loss = vsfQkLossFun;
  s->callbacks.lossAndGradient = vsfQkLossFunAndDeriv;
  if ((rc = failed(ops->setTolerance(s, o->tol))) != VsfStatus::Ok ||
      (rc = failed(ops->finishSetup(s))) != VsfStatus::Ok)
    return rc;
  std::vector<double> b;
  double loss = 0;
  if ((rc = solveAtTarget(m, s, b, &loss)) != VsfStatus::Ok)
    return rc;
  double* out = o->parmStandardize ? m->pathPass.solverBeta : m->pathPass.pathBeta;
  std::memcpy(out, b.data(), sizeof(double) * static_cast<size_t>(m->parmCount));
  double result = 0;
  ops->getResult(s, &result);
  m->path.lambdaMax = result;
  if ((rc = solutionSse(s, out, loss)) != VsfStatus::Ok)
    return rc;
  vsfReSetInModelFlags(m, out);
  vsfScaleBeta(m);
  return VsfStatus::Ok;
}

namespace {

// Sets up the group-penalty solver with all five callbacks.
[[nodiscard]] VsfStatus setUpGroup(VsfModel* m, QkSolver* s) {
  const QkSolverOps* ops = s->ops;
  VsfStatus rc;
  if ((rc = failed(ops->setProblemSize(s, m->parmCount))) != VsfStatus::Ok ||
      (rc = failed(ops->setPenaltyKind(s, QKSV_GROUP))) != VsfStatus::Ok ||
      (rc = failed(ops->prepare(s))) != VsfStatus::Ok)
    return rc;
  ops->setUserData(s, m);
  s->callbacks.lambdaMax = vsfGroupLassoLambdaMax;
  s->callbacks.loss = vsfQkLossFun;
  s->callbacks.lossAndGradient = vsfQkLossFunAndDeriv;
  s->callbacks.penaltyValue = vsfGroupLassoValue;
  s->callbacks.penaltyOperator = vsfGroupLassoOperator;
  if ((rc = failed(ops->setTolerance(s, m->options->tol))) != VsfStatus::Ok ||
      (rc = failed(ops->finishSetup(s))) != VsfStatus::Ok)
    return rc;
  ops->setStartValues(s, nullptr);
  return VsfStatus::Ok;
}

// The solution at penalty v: coefficients, SSE, in-model state, held-out sums.
[[nodiscard]] VsfStatus solveAt(VsfModel* m, QkSolver* s, double v) {
  const QkSolverOps* ops = s->ops;
  VsfStatus rc;
  if ((rc = failed(ops->setLambda(s, v))) != VsfStatus::Ok ||
      (rc = failed(ops->solve(s))) != VsfStatus::Ok)
    return rc;
  ops->getSolution(s, m->pathPass.solverBeta);
  double loss = 0;
  ops->getObjective(s, &loss);
  if ((rc = solutionSse(s, m->pathPass.solverBeta, loss)) != VsfStatus::Ok)
    return rc;
  vsfReSetInModelFlags(m, m->pathPass.solverBeta);
  return vsfQkValidateTest(m);
}

// L1 norm and L2 norm of the standardized coefficients.
void coefficientNorms(VsfModel* m) {
  double l1 = 0, l2 = 0;
  for (int32_t p = 0; p < m->parmCount; ++p) {
    l1 += std::fabs(m->pathPass.solverBeta[p]);
    l2 += m->pathPass.solverBeta[p] * m->pathPass.solverBeta[p];
  }
  m->path.l1Norm = l1;
  m->path.l2Norm = std::sqrt(l2);
}

} // namespace

VsfStatus vsfGroupLasso(VsfModel* m) {
  const VsfModelOptions* o = m->options;
  SolverSession session(m);
  VsfStatus rc = session.open();
  if (rc != VsfStatus::Ok)
    return rc;
  QkSolver* s = session.solver;
  if ((rc = setUpGroup(m, s)) != VsfStatus::Ok)
    return rc;
  double stopValue, chooseValue;
  vsfInitCriteria(m, &stopValue, &chooseValue, nullptr);
  m->path.l1Norm = m->path.l2Norm = 0;
  m->path.lambdaMax = 1.0;
  const int32_t parms = m->parmCount;
  const bool stopL1 = o->stop == VsfCriterion::L1;
  int32_t t = o->noint ? 0 : 1;
  double v = o->rho;
  while (vsfKeepGoing(m, t)) {
    if (stopL1 && v <= m->path.l1Target)
      v = m->path.l1Target;
    // The estimates of the last step, for a step that the STOP= criterion refuses.
    double *savedBeta = m->solver.savedSolverBetaA, *savedStdBeta = m->solver.savedSolverBetaB;
    const bool keep = savedBeta != nullptr && savedStdBeta != nullptr;
    if (keep && (!stopL1 || v == m->path.l1Target)) {
      std::memcpy(savedBeta, m->beta, sizeof(double) * parms);
      std::memcpy(savedStdBeta, m->stdBeta, sizeof(double) * parms);
    }
    if ((rc = solveAt(m, s, v)) != VsfStatus::Ok)
      return rc;
    coefficientNorms(m);
    int32_t result = 0;
    if ((rc = vsfStopSelection(0.0, m, t, 0, 1, &stopValue, &result)) != VsfStatus::Ok)
      return rc;
    if (m->stop.stopReason == VSR_NO_IMPROVEMENT && keep) {
      std::memcpy(m->beta, savedBeta, sizeof(double) * parms);
      std::memcpy(m->stdBeta, savedStdBeta, sizeof(double) * parms);
      vsfReSetInModelFlags(m, m->beta);
    }
    if (result == -1)
      break;
    vsfChoose(stopValue, stopValue, m, &chooseValue, 1);
    m->path.lambda = v;
    // A step whose record cannot be written would be missing from the tables.
    if ((rc = vsfRecordStep(m, -100)) != VsfStatus::Ok)
      return rc;
    if (stopL1 &&
        std::fabs(m->path.lambda / 1000 - (m->path.l1Target * m->path.lambdaMax) / 1000) <=
            std::fabs(m->path.lambda / 1000) * m->fuzz) {
      m->stop.stopReason = VSR_L1_TARGET;
      break;
    }
    s->ops->setStartValues(s, m->pathPass.solverBeta);
    v *= o->rho;
    ++t;
  }
  double result = 0;
  s->ops->getResult(s, &result);
  m->path.lambdaMax = result;
  return VsfStatus::Ok;
}
