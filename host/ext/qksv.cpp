// The "qksv" solver: an accelerated proximal gradient method (FISTA) with backtracking line
// search and gradient-based restart, for a smooth loss plus lambda times an L1 or a group
// penalty, with Newton steps on the optimality residual where the iterations slow down
// (nearly dependent columns leave directions that the loss hardly sees). The loss and its
// gradient always come from the caller's callbacks; the L1 penalty's soft threshold is the
// solver's own, the group penalty's value, proximal operator and maximum are the caller's.
//
// Semantics the callers rely on:
// - lambda is relative to the penalty maximum: the penalty weight is lambda x lambdaMax, where
//   lambdaMax is the smallest weight at which 0 solves the problem (for L1 the largest absolute
//   gradient entry at 0; for the group penalty what callback [0] leaves). A negative lambda
//   counts as 0, the unpenalised fit.
// - A solve stops when the proximal-gradient residual L * |b - prox(b - grad(b) / L)| at the
//   point returned is at most tolerance x lambdaMax in every entry: the optimality (KKT)
//   conditions hold to the tolerance, relative to the scale of the gradient at 0, which is the
//   response's own scale (a response in other units gives the same path in those units). The
//   target never falls below a few units of rounding of the gradient at the solve's start,
//   sqrt(2 loss L), so that a penalty maximum that is itself rounding does not ask for more
//   digits than the gradient has.
// - getObjective gives the loss at the solution (without the penalty); getResult the penalty
//   maximum (absolute).
#include "host/ext/qksv.h"

#include "host/ext/pivotsolve.h"
#include "support/qksv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace qrxhost {
namespace {

constexpr int32_t kMaxIterations = 200000;
// The Newton polish: tried after every kNewtonEvery accelerated iterations (at least one more
// than the coefficient count, so that forming its Jacobian costs no more gradients than the
// iterations before it), on problems of at most kNewtonLargest coefficients (the Jacobian
// holds their square), with at most kNewtonSteps steps a try.
constexpr int32_t kNewtonEvery = 100;
constexpr int32_t kNewtonLargest = 2000;
constexpr int32_t kNewtonSteps = 30;
constexpr double kSmallestNewtonStep = 1.0 / 1024;
// The rounds of proximal and Newton steps of the fallback after the iteration limit, and
// the rounds in a row without progress that end it.
constexpr int32_t kFallbackRounds = 200, kFallbackStalls = 10;
// The reach of the probes that measure the penalty operator's derivative, relative to the
// coefficients' size: the longest tried, and the shortest, taken as it falls.
constexpr double kLongestProbe = 1e-3, kShortestProbe = 1e-7;

struct Solver : QkSolver {
  int32_t kind = 0;
  double tolerance = 1e-6;
  bool prepared = false, ready = false;
  double objective = 0.0;
  std::vector<double> x, xOld, y, z, gy, gz, p, workStore, gradientStore;
  bool warm = false;
};

Solver* of(QkSolver* s) { return static_cast<Solver*>(s); }

bool finite(const double* v, int32_t n) {
  for (int32_t i = 0; i < n; ++i)
    if (!std::isfinite(v[i]))
      return false;
  return true;
}

int32_t setProblemSize(QkSolver* s, int32_t size) {
  if (size < 1)
    return QKSV_BAD_SIZE;
  s->size = size;
  return QKSV_OK;
}
int32_t setLambda(QkSolver* s, double lambda) {
  s->lambda = lambda;
  return QKSV_OK;
}
int32_t setPenaltyKind(QkSolver* s, int32_t kind) {
  if (kind != QKSV_L1 && kind != QKSV_GROUP)
    return QKSV_BAD_KIND;
  of(s)->kind = kind;
  return QKSV_OK;
}
int32_t prepare(QkSolver* s) {
  Solver* v = of(s);
  if (s->size < 1 || v->kind == 0)
    return QKSV_NOT_READY;
  const size_t n = static_cast<size_t>(s->size);
  for (auto* vec :
       {&v->x, &v->xOld, &v->y, &v->z, &v->gy, &v->gz, &v->p, &v->workStore, &v->gradientStore})
    vec->assign(n, 0.0);
  s->work = v->workStore.data();
  s->gradient = v->gradientStore.data();
  s->relative = 1;
  s->lambdaMax = 0.0;
  s->stepFactor = 0.0;
  v->prepared = true;
  return QKSV_OK;
}
void setUserData(QkSolver* s, void* user) { s->userData = user; }
int32_t setTolerance(QkSolver* s, double tolerance) {
  of(s)->tolerance = tolerance > 0 && std::isfinite(tolerance) ? tolerance : 1e-6;
  return QKSV_OK;
}
int32_t finishSetup(QkSolver* s) {
  Solver* v = of(s);
  if (!v->prepared)
    return QKSV_NOT_READY;
  const QkSolverCallbacks& c = s->callbacks;
  if (c.loss == nullptr || c.lossAndGradient == nullptr)
    return QKSV_NO_CALLBACK;
  if (v->kind == QKSV_GROUP &&
      (c.lambdaMax == nullptr || c.penaltyValue == nullptr || c.penaltyOperator == nullptr))
    return QKSV_NO_CALLBACK;
  v->ready = true;
  return QKSV_OK;
}
int32_t setStartValues(QkSolver* s, const double* start) {
  Solver* v = of(s);
  if (!v->prepared)
    return QKSV_NOT_READY;
  if (start == nullptr)
    std::fill(v->x.begin(), v->x.end(), 0.0);
  else
    std::memcpy(v->x.data(), start, sizeof(double) * v->x.size());
  v->warm = start != nullptr;
  return QKSV_OK;
}

int32_t lossAndGradient(QkSolver* s, double* b, double* g, double* f) {
  ++s->gradientCalls;
  const int32_t rc = s->callbacks.lossAndGradient(s, b, g, f);
  if (rc != 0)
    return rc;
  return std::isfinite(*f) && finite(g, s->size) ? QKSV_OK : QKSV_NOT_FINITE;
}

// out = prox of (b - g / L) for the penalty weight tau; out may not alias b or g.
void proximal(QkSolver* s, double tau, const double* b, const double* g, double L, double* out) {
  const int32_t n = s->size;
  Solver* v = of(s);
  double* u = s->work;
  for (int32_t i = 0; i < n; ++i)
    u[i] = b[i] - g[i] / L;
  if (v->kind == QKSV_L1) {
    const double t = tau / L;
    for (int32_t i = 0; i < n; ++i)
      out[i] = u[i] > t ? u[i] - t : (u[i] < -t ? u[i] + t : 0.0);
    return;
  }
  // The caller's operator writes only the penalised entries: the others pass unchanged.
  std::memcpy(out, u, sizeof(double) * n);
  s->stepFactor = L;
  double penalty = 0, norm = 0;
  int32_t count = 0;
  s->callbacks.penaltyOperator(s, u, out, &penalty, &count, &norm);
}

// The largest entry of L * |b - prox(b - g / L)|: 0 exactly at a solution.
double residual(QkSolver* s, double tau, const double* b, const double* g, double L) {
  Solver* v = of(s);
  proximal(s, tau, b, g, L, v->p.data());
  double r = 0.0;
  for (int32_t i = 0; i < s->size; ++i)
    r = std::max(r, std::fabs(b[i] - v->p[i]));
  return L * r;
}

int32_t penaltyMaximum(QkSolver* s) {
  if (s->lambdaMax > 0)
    return QKSV_OK;
  if (of(s)->kind == QKSV_GROUP)
    return s->callbacks.lambdaMax(s);
  std::vector<double> zero(static_cast<size_t>(s->size), 0.0), g(zero.size());
  double f = 0;
  const int32_t rc = lossAndGradient(s, zero.data(), g.data(), &f);
  if (rc != 0)
    return rc;
  for (double gi : g)
    s->lambdaMax = std::max(s->lambdaMax, std::fabs(gi));
  return QKSV_OK;
}

// A first step factor from the change of the gradient over a short step along it. The
// probe's gradient goes to its own buffer: g is the gradient at b that the solve's first
// optimality test reads after this.
int32_t initialStepFactor(QkSolver* s, const double* b, const double* g) {
  Solver* v = of(s);
  const int32_t n = s->size;
  double gn = 0, bn = 0;
  for (int32_t i = 0; i < n; ++i) {
    gn += g[i] * g[i];
    bn += b[i] * b[i];
  }
  gn = std::sqrt(gn);
  s->stepFactor = 1.0;
  if (gn == 0)
    return QKSV_OK;
  const double h = 1e-3 * (1.0 + std::sqrt(bn)) / gn;
  for (int32_t i = 0; i < n; ++i)
    v->p[i] = b[i] - h * g[i];
  double f = 0;
  std::vector<double> gp(static_cast<size_t>(n));
  const int32_t rc = lossAndGradient(s, v->p.data(), gp.data(), &f);
  if (rc != 0)
    return rc;
  double dg = 0;
  for (int32_t i = 0; i < n; ++i)
    dg += (gp[i] - g[i]) * (gp[i] - g[i]);
  const double L = std::sqrt(dg) / (h * gn);
  s->stepFactor = L > 0 && std::isfinite(L) ? L : 1.0;
  return QKSV_OK;
}

// Whether the step factor L covers the curvature of the loss along the step d = z - y: the
// quadratic upper bound f(z) <= f(y) + gy'd + L/2 |d|^2 holds, or the gradients' change
// along d, (gz - gy)'d, is at most L |d|^2. For a quadratic loss (the least-squares loss of
// every caller) the two tests agree in exact arithmetic; the second keeps its digits where
// the loss values cancel, which near the solution of an ill-conditioned problem leaves the
// first below its own rounding and would drive L up without end. The solve's stop test is
// the optimality residual, so this test sets only the pace, never the answer.
bool coversCurvature(const Solver* v, int32_t n, double L, double fy, double fz) {
  double lin = 0, sq = 0, curve = 0;
  for (int32_t i = 0; i < n; ++i) {
    const double d = v->z[i] - v->y[i];
    lin += v->gy[i] * d;
    sq += d * d;
    curve += (v->gz[i] - v->gy[i]) * d;
  }
  return fz <= fy + lin + 0.5 * L * sq + 1e-12 * std::fabs(fy) || curve <= L * sq;
}

// One backtracking step from y: z = prox(y - gy / L) with the smallest tried L that covers
// the loss's curvature along the step; fz and gz at z.
int32_t backtrack(QkSolver* s, double tau, double fy, double* fz) {
  Solver* v = of(s);
  for (int tries = 0; tries < 200; ++tries) {
    const double L = s->stepFactor;
    proximal(s, tau, v->y.data(), v->gy.data(), L, v->z.data());
    int32_t rc = lossAndGradient(s, v->z.data(), v->gz.data(), fz);
    if (rc != 0)
      return rc;
    if (coversCurvature(v, s->size, L, fy, *fz))
      return QKSV_OK;
    s->stepFactor = 2.0 * L;
  }
  return QKSV_NOT_FINITE;
}

// The Newton polish. Near an ill-conditioned solution the accelerated iterations crawl
// along the directions the loss hardly sees; Newton steps on the optimality residual
// R(b) = b - prox(b - grad(b) / L), which is 0 exactly at a solution, reach it in a few
// steps whatever the conditioning. Its Jacobian I - P (I - H / L) is formed column by
// column from the callbacks alone: the loss's Hessian H from the gradient's change over a
// step of the coefficients' size (exact for a quadratic loss, and free of the cancellation
// of a short step), the derivative P of the penalty's operator from probes of its value. A step
// is kept only when it shrinks the residual; otherwise the iterations go on.
struct Polish {
  std::vector<double> jacobian, rhs, step, b, g, r, probe, gProbe, pBase, pPlus, pMinus;
  // Entries the operator sets to 0 at P.b: their derivative is 0, as inside the threshold, so
  // that a probe across the threshold of a group at its edge does not set it moving.
  std::vector<char> held;
  double f = 0;
};

// R(b) into out, given the gradient g at b.
void residualVector(QkSolver* s, double tau, const double* b, const double* g, double L,
                    double* out) {
  Solver* v = of(s);
  proximal(s, tau, b, g, L, v->p.data());
  for (int32_t i = 0; i < s->size; ++i)
    out[i] = b[i] - v->p[i];
}

double largest(const std::vector<double>& a) {
  double m = 0;
  for (double x : a)
    m = std::max(m, std::fabs(x));
  return m;
}

// The operator at P.b + h w (gradient P.g) into out; whether every entry it holds at 0 is
// one it holds at P.b, and the reverse.
bool probeOperator(QkSolver* s, double tau, double L, Polish& P, const std::vector<double>& w,
                   double h, std::vector<double>& out) {
  const size_t n = P.b.size();
  for (size_t i = 0; i < n; ++i)
    P.probe[i] = P.b[i] + h * w[i];
  proximal(s, tau, P.probe.data(), P.g.data(), L, out.data());
  for (size_t i = 0; i < n; ++i)
    if ((out[i] == 0.0 && s->work[i] != 0.0) != static_cast<bool>(P.held[i]))
      return false;
  return true;
}

// The operator's derivative along w (largest entry ws) at P.b into out. A central
// difference over a long step: the operator's values are of the coefficients' size, and
// its rounding over a short step swamped the penalty's own curvature (of the size of the
// penalty over a group's norm), which on nearly dependent columns is all that holds the
// Newton system together. The step is shortened while a probe puts a group on the other
// side of its threshold, where the operator bends; at the shortest it is taken one-sided.
void operatorSlope(QkSolver* s, double tau, double L, Polish& P, const std::vector<double>& w,
                   double ws, double* out) {
  const size_t n = P.b.size();
  const double size = 1.0 + largest(P.b);
  P.pPlus.resize(n);
  P.pMinus.resize(n);
  for (double reach = kLongestProbe; reach >= kShortestProbe; reach *= 0.01) {
    const double h = reach * size / ws;
    if (probeOperator(s, tau, L, P, w, h, P.pPlus) &&
        probeOperator(s, tau, L, P, w, -h, P.pMinus)) {
      for (size_t i = 0; i < n; ++i)
        out[i] = (P.pPlus[i] - P.pMinus[i]) / (2 * h);
      return;
    }
  }
  const double h = kShortestProbe * size / ws;
  probeOperator(s, tau, L, P, w, h, P.pPlus);
  for (size_t i = 0; i < n; ++i)
    out[i] = (P.pPlus[i] - P.pBase[i]) / h;
}

// Column j of the residual's Jacobian at P.b (gradient P.g, operator value P.pBase).
int32_t jacobianColumn(QkSolver* s, double tau, double L, Polish& P, int32_t j) {
  const int32_t n = s->size;
  const size_t nn = static_cast<size_t>(n);
  P.probe = P.b;
  const double hg = 1.0 + largest(P.b);
  P.probe[j] += hg;
  double f = 0;
  if (const int32_t rc = lossAndGradient(s, P.probe.data(), P.gProbe.data(), &f); rc != 0)
    return rc;
  // w = e_j - H e_j / L, the change of b - grad(b) / L along e_j.
  std::vector<double>& w = P.step;
  w.assign(nn, 0.0);
  w[j] = 1.0;
  for (int32_t i = 0; i < n; ++i)
    w[i] -= (P.gProbe[i] - P.g[i]) / (hg * L);
  const double ws = largest(w);
  double* col = P.jacobian.data() + nn * static_cast<size_t>(j);
  if (ws == 0) {
    std::fill(col, col + n, 0.0);
    return QKSV_OK;
  }
  operatorSlope(s, tau, L, P, w, ws, col);
  for (int32_t i = 0; i < n; ++i)
    col[i] = (i == j ? 1.0 : 0.0) - (P.held[i] ? 0.0 : col[i]);
  return QKSV_OK;
}

// The Newton step d solving J d = -R at P.b into P.step.
int32_t newtonStep(QkSolver* s, double tau, double L, Polish& P) {
  const int32_t n = s->size;
  const size_t nn = static_cast<size_t>(n);
  P.jacobian.assign(nn * nn, 0.0);
  Solver* v = of(s);
  proximal(s, tau, P.b.data(), P.g.data(), L, v->p.data());
  P.pBase.assign(v->p.begin(), v->p.end());
  P.held.assign(nn, 0);
  for (size_t i = 0; i < nn; ++i)
    P.held[i] = P.pBase[i] == 0.0 && s->work[i] != 0.0;
  for (int32_t j = 0; j < n; ++j)
    if (const int32_t rc = jacobianColumn(s, tau, L, P, j); rc != 0)
      return rc;
  P.rhs.resize(nn);
  for (size_t i = 0; i < nn; ++i)
    P.rhs[i] = -P.r[i];
  // Columns were stored one after another: the matrix in row order is their transpose.
  std::vector<double> rows(nn * nn);
  for (size_t i = 0; i < nn; ++i)
    for (size_t j = 0; j < nn; ++j)
      rows[i * nn + j] = P.jacobian[j * nn + i];
  solvePivoted(rows, P.rhs, n, P.step);
  return QKSV_OK;
}

// A point along the Newton step, its gradient, loss and residual.
struct Trial {
  std::vector<double> b, g, r;
  double f = 0, size = 0;
};

// The point P.b + scale x P.step into t, with entry `zero` (when not negative) set to 0.
int32_t tryStep(QkSolver* s, double tau, double L, const Polish& P, double scale, int32_t zero,
                Trial& t) {
  const size_t n = P.b.size();
  t.b.resize(n);
  t.g.resize(n);
  t.r.resize(n);
  for (size_t i = 0; i < n; ++i)
    t.b[i] = P.b[i] + scale * P.step[i];
  if (zero >= 0)
    t.b[static_cast<size_t>(zero)] = 0.0;
  if (const int32_t rc = lossAndGradient(s, t.b.data(), t.g.data(), &t.f); rc != 0)
    return rc;
  residualVector(s, tau, t.b.data(), t.g.data(), L, t.r.data());
  t.size = largest(t.r);
  return QKSV_OK;
}

// The first entry that the Newton step carries through 0 short of its full length, and the
// step's fraction there; -1 when none does.
int32_t firstCrossing(const Polish& P, double* scale) {
  int32_t first = -1;
  *scale = 1.0;
  for (size_t i = 0; i < P.b.size(); ++i) {
    const double b = P.b[i], d = P.step[i];
    if (b != 0.0 && (b > 0) != (d > 0) && std::fabs(d) > std::fabs(b) && -b / d < *scale) {
      *scale = -b / d;
      first = static_cast<int32_t>(i);
    }
  }
  return first;
}

// The Newton step, or failing that the step up to the first entry it carries through 0
// (where the operator of a one-column group bends: the next step decides from there
// whether the entry leaves the model or changes sign), or failing that the step shortened
// by fourths, whichever first shrinks the residual; false when none does.
int32_t dampedStep(QkSolver* s, double tau, double L, const Polish& P, double r0, Trial& t,
                   bool* kept) {
  double crossScale = 1.0;
  const int32_t crossing = firstCrossing(P, &crossScale);
  *kept = false;
  for (double scale = 1.0; scale >= kSmallestNewtonStep; scale *= 0.25) {
    if (const int32_t rc = tryStep(s, tau, L, P, scale, -1, t); rc != 0)
      return rc;
    if (t.size < r0) {
      *kept = true;
      return QKSV_OK;
    }
    if (scale == 1.0 && crossing >= 0) {
      if (const int32_t rc = tryStep(s, tau, L, P, crossScale, crossing, t); rc != 0)
        return rc;
      if (t.size < r0) {
        *kept = true;
        return QKSV_OK;
      }
    }
  }
  return QKSV_OK;
}

// Newton steps from the solver's point while each at least halves the residual; the point,
// its gradient and loss follow every kept step. *moved when a step was kept, *done when the
// residual reaches target.
int32_t polish(QkSolver* s, double tau, double target, bool* done, bool* moved) {
  Solver* v = of(s);
  const double L = s->stepFactor;
  Polish P;
  P.b = v->x;
  P.g = v->gz;
  P.r.resize(P.b.size());
  P.gProbe.resize(P.b.size());
  residualVector(s, tau, P.b.data(), P.g.data(), L, P.r.data());
  double r0 = largest(P.r);
  Trial t;
  for (int32_t k = 0; k < kNewtonSteps; ++k) {
    bool kept = false;
    int32_t rc = newtonStep(s, tau, L, P);
    if (rc == 0)
      rc = dampedStep(s, tau, L, P, r0, t, &kept);
    if (rc != 0 || !kept)
      return rc;
    *moved = true;
    P.b.swap(t.b);
    P.g.swap(t.g);
    P.r.swap(t.r);
    v->x = P.b;
    v->gz = P.g;
    v->objective = t.f;
    // Past the target the steps go on while each halves the residual: they are cheap beside
    // the iterations before them, and they tighten the fit along the directions the loss
    // hardly sees, where a point at the target can still be far from the solution.
    *done = *done || L * t.size <= target;
    if (t.size > 0.5 * r0)
      return QKSV_OK;
    r0 = t.size;
  }
  return QKSV_OK;
}

// The fallback where the iterations and the polish stall: on a quadratic loss whose Hessian
// is singular or nearly so, with groups crossing 0 near the solution, neither the
// accelerated iterations nor the polish on the residual may reach the tolerance. The loss
// is then taken as the quadratic it is (its Hessian H from the gradient's change, exact for
// the callers' least squares) and the penalty as the sum of weighted group norms that its
// operator applies, its groups and weights read off the operator itself. Proximal gradient
// steps with the step factor of a bound on H's largest eigenvalue, which decrease the
// objective at every step whatever H's rank, alternate with Newton steps on the groups away
// from 0, which converge where the proximal steps crawl. The answer is taken only when the
// solver's own residual test passes.
struct Quadratic {
  int32_t n = 0;
  std::vector<double> H, c;                 // loss = b'Hb / 2 + c'b + constant
  std::vector<int32_t> group;               // group of each entry; -1 when not penalised
  std::vector<std::vector<int32_t>> member; // the entries of each group
  std::vector<double> weight;               // each group's penalty weight (tau included)
  double L = 0;                             // a bound on H's largest eigenvalue
};

// The operator's groups and weights: at a point whose groups all lie outside their
// thresholds, an entry the operator leaves as it is is not penalised; the entries that move
// when one entry moves share its group; a group's weight is L times its norm's shrinkage.
bool readGroups(QkSolver* s, Quadratic& q) {
  const int32_t n = q.n;
  const size_t nn = static_cast<size_t>(n);
  std::vector<double> u(nn), y(nn), yj(nn);
  q.group.assign(nn, -1);
  s->stepFactor = 1.0;
  for (double scale = 1e3 * (1.0 + s->lambda * s->lambdaMax);; scale *= 1e3) {
    if (!std::isfinite(scale))
      return false;
    for (size_t i = 0; i < nn; ++i)
      u[i] = scale * (1.0 + 0.5 * static_cast<double>(i) / static_cast<double>(nn));
    y = u;
    double penalty = 0, norm = 0;
    int32_t count = 0;
    s->callbacks.penaltyOperator(s, u.data(), y.data(), &penalty, &count, &norm);
    if (std::none_of(y.begin(), y.end(), [](double a) { return a == 0.0; }))
      break;
  }
  for (int32_t j = 0; j < n; ++j) {
    const size_t jj = static_cast<size_t>(j);
    if (y[jj] == u[jj] || q.group[jj] >= 0)
      continue;
    std::vector<double> w = u;
    w[jj] *= 1.5;
    yj = w;
    double penalty = 0, norm = 0;
    int32_t count = 0;
    s->callbacks.penaltyOperator(s, w.data(), yj.data(), &penalty, &count, &norm);
    const int32_t g = static_cast<int32_t>(q.member.size());
    q.member.emplace_back();
    double un = 0;
    for (int32_t i = 0; i < n; ++i) {
      const size_t ii = static_cast<size_t>(i);
      if (i == j || (yj[ii] != y[ii] && q.group[ii] < 0)) {
        q.group[ii] = g;
        q.member.back().push_back(i);
        un += u[ii] * u[ii];
      }
    }
    q.weight.push_back((1.0 - y[jj] / u[jj]) * std::sqrt(un));
  }
  return true;
}

// H from the gradient's change over steps of the coefficients' size at b (gradient g), c
// from the gradient at b, and the bound L of H's largest eigenvalue by its largest row sum.
int32_t readQuadratic(QkSolver* s, const std::vector<double>& b, const std::vector<double>& g,
                      Quadratic& q) {
  const size_t nn = b.size();
  q.H.assign(nn * nn, 0.0);
  std::vector<double> probe = b, gp(nn);
  const double h = 1.0 + largest(b);
  for (size_t j = 0; j < nn; ++j) {
    probe[j] = b[j] + h;
    double f = 0;
    if (const int32_t rc = lossAndGradient(s, probe.data(), gp.data(), &f); rc != 0)
      return rc;
    probe[j] = b[j];
    for (size_t i = 0; i < nn; ++i)
      q.H[i * nn + j] = (gp[i] - g[i]) / h;
  }
  q.L = 0;
  for (size_t i = 0; i < nn; ++i) {
    double row = 0;
    for (size_t j = 0; j < i; ++j)
      q.H[i * nn + j] = q.H[j * nn + i] = 0.5 * (q.H[i * nn + j] + q.H[j * nn + i]);
    for (size_t j = 0; j < nn; ++j)
      row += std::fabs(q.H[i * nn + j]);
    q.L = std::max(q.L, row);
  }
  q.c.resize(nn);
  for (size_t i = 0; i < nn; ++i) {
    q.c[i] = g[i];
    for (size_t j = 0; j < nn; ++j)
      q.c[i] -= q.H[i * nn + j] * b[j];
  }
  return QKSV_OK;
}

// The quadratic's gradient Hb + c.
std::vector<double> modelGradient(const Quadratic& q, const std::vector<double>& b) {
  const size_t nn = b.size();
  std::vector<double> g(q.c);
  for (size_t i = 0; i < nn; ++i)
    for (size_t j = 0; j < nn; ++j)
      g[i] += q.H[i * nn + j] * b[j];
  return g;
}

double groupNorm(const Quadratic& q, size_t g, const std::vector<double>& b) {
  double sq = 0;
  for (int32_t i : q.member[g])
    sq += b[static_cast<size_t>(i)] * b[static_cast<size_t>(i)];
  return std::sqrt(sq);
}

// The objective of the quadratic model plus the penalty.
double modelObjective(const Quadratic& q, const std::vector<double>& b) {
  const std::vector<double> g = modelGradient(q, b);
  double f = 0;
  for (size_t i = 0; i < b.size(); ++i)
    f += 0.5 * b[i] * (g[i] + q.c[i]);
  for (size_t g2 = 0; g2 < q.member.size(); ++g2)
    f += q.weight[g2] * groupNorm(q, g2, b);
  return f;
}

// One proximal gradient step with the step factor q.L.
void proximalStep(const Quadratic& q, std::vector<double>& b) {
  const std::vector<double> g = modelGradient(q, b);
  for (size_t i = 0; i < b.size(); ++i)
    b[i] -= g[i] / q.L;
  for (size_t g2 = 0; g2 < q.member.size(); ++g2) {
    const double norm = groupNorm(q, g2, b);
    const double f = norm > q.weight[g2] / q.L ? 1.0 - q.weight[g2] / (q.L * norm) : 0.0;
    for (int32_t i : q.member[g2])
      b[static_cast<size_t>(i)] *= f;
  }
}

// The largest violation of the optimality conditions of the quadratic model at b.
double modelGap(const Quadratic& q, const std::vector<double>& b) {
  const std::vector<double> g = modelGradient(q, b);
  double gap = 0;
  for (size_t i = 0; i < b.size(); ++i)
    if (q.group[i] < 0)
      gap = std::max(gap, std::fabs(g[i]));
  for (size_t k = 0; k < q.member.size(); ++k) {
    const double norm = groupNorm(q, k, b);
    double sq = 0;
    for (int32_t i : q.member[k]) {
      const size_t ii = static_cast<size_t>(i);
      const double e = norm > 0 ? g[ii] + q.weight[k] * b[ii] / norm : g[ii];
      sq += e * e;
    }
    gap = std::max(gap, norm > 0 ? std::sqrt(sq) : std::sqrt(sq) - q.weight[k]);
  }
  return gap;
}

// The first single-column group that b + d carries through 0, and the fraction of d there;
// -1 when none does.
int32_t firstSignChange(const Quadratic& q, const std::vector<double>& b,
                        const std::vector<double>& d, double* scale) {
  int32_t first = -1;
  *scale = 1.0;
  for (size_t i = 0; i < b.size(); ++i) {
    const int32_t g = q.group[i];
    if (g < 0 || q.member[static_cast<size_t>(g)].size() != 1 || b[i] == 0.0)
      continue;
    if ((b[i] > 0) != (d[i] > 0) && std::fabs(d[i]) > std::fabs(b[i]) && -b[i] / d[i] < *scale) {
      *scale = -b[i] / d[i];
      first = static_cast<int32_t>(i);
    }
  }
  return first;
}

// Whether t improves on b: a lower objective, or, where the objective's change is lost in
// its rounding (along the directions the loss hardly sees), a smaller optimality gap.
bool improves(const Quadratic& q, const std::vector<double>& t, double f0, double gap0) {
  const double f = modelObjective(q, t);
  const double noise = 1e-12 * (1.0 + std::fabs(f0));
  return f < f0 - noise || (f <= f0 + noise && modelGap(q, t) < gap0);
}

// b moved along d: the whole step, or the step up to the first single-column group it
// carries through 0 with that group set to 0, or the step halved, whichever first improves
// on b; false when none does.
bool acceptStep(const Quadratic& q, const std::vector<double>& d, std::vector<double>& b) {
  const double f0 = modelObjective(q, b), gap0 = modelGap(q, b);
  double cross = 1.0;
  const int32_t zero = firstSignChange(q, b, d, &cross);
  std::vector<double> t(b.size());
  for (double scale = 1.0; scale >= 1e-6; scale *= 0.5) {
    for (int pass = 0; pass < (scale == 1.0 && zero >= 0 ? 2 : 1); ++pass) {
      const double along = pass == 0 ? scale : cross;
      for (size_t i = 0; i < b.size(); ++i)
        t[i] = b[i] + along * d[i];
      if (pass == 1)
        t[static_cast<size_t>(zero)] = 0.0;
      if (improves(q, t, f0, gap0)) {
        b.swap(t);
        return true;
      }
    }
  }
  return false;
}

// A Newton step on the entries free to move (those not penalised, and the groups away from
// 0), with the step halved until the objective falls; false when none does.
bool newtonOnSupport(const Quadratic& q, std::vector<double>& b) {
  std::vector<int32_t> free;
  std::vector<double> norm(q.member.size());
  for (size_t g = 0; g < q.member.size(); ++g)
    norm[g] = groupNorm(q, g, b);
  for (int32_t i = 0; i < q.n; ++i) {
    const int32_t g = q.group[static_cast<size_t>(i)];
    if (g < 0 || norm[static_cast<size_t>(g)] > 0)
      free.push_back(i);
  }
  const size_t m = free.size(), nn = b.size();
  if (m == 0)
    return false;
  const std::vector<double> grad = modelGradient(q, b);
  std::vector<double> K(m * m), r(m), d;
  for (size_t a = 0; a < m; ++a) {
    const size_t i = static_cast<size_t>(free[a]);
    const int32_t gi = q.group[i];
    r[a] = -grad[i];
    if (gi >= 0)
      r[a] -= q.weight[static_cast<size_t>(gi)] * b[i] / norm[static_cast<size_t>(gi)];
    for (size_t e = 0; e < m; ++e) {
      const size_t j = static_cast<size_t>(free[e]);
      K[a * m + e] = q.H[i * nn + j];
      if (gi >= 0 && gi == q.group[j]) {
        const double nr = norm[static_cast<size_t>(gi)];
        K[a * m + e] += q.weight[static_cast<size_t>(gi)] / nr *
                        ((i == j ? 1.0 : 0.0) - b[i] * b[j] / (nr * nr));
      }
    }
  }
  solvePivoted(K, r, static_cast<int32_t>(m), d);
  std::vector<double> full(nn, 0.0);
  for (size_t a = 0; a < m; ++a)
    full[static_cast<size_t>(free[a])] = d[a];
  return acceptStep(q, full, b);
}

// The fallback from the solver's point; *done when the residual test passes at its end.
int32_t quadraticFallback(QkSolver* s, double tau, double target, bool* done) {
  Solver* v = of(s);
  const double L = s->stepFactor;
  Quadratic q;
  q.n = s->size;
  if (!readGroups(s, q)) {
    s->stepFactor = L;
    return QKSV_OK;
  }
  s->stepFactor = L;
  if (std::any_of(q.weight.begin(), q.weight.end(), [](double w) { return !(w >= 0); }))
    return QKSV_OK;
  std::vector<double> b = v->x, g(b.size());
  if (const int32_t rc = readQuadratic(s, b, v->gz, q); rc != 0)
    return rc;
  if (!(q.L > 0))
    return QKSV_OK;
  // Rounds that leave the optimality gap where it was count towards the end: on a problem
  // the fallback cannot mend, status 7 comes after a few of them, not after every round.
  double gap = modelGap(q, b);
  for (int32_t round = 0, stalled = 0; round < kFallbackRounds && stalled < kFallbackStalls;
       ++round) {
    proximalStep(q, b);
    for (int32_t k = 0; k < kNewtonSteps; ++k)
      if (!newtonOnSupport(q, b))
        break;
    double f = 0;
    if (const int32_t rc = lossAndGradient(s, b.data(), g.data(), &f); rc != 0)
      return rc;
    const double after = modelGap(q, b);
    stalled = after < gap ? 0 : stalled + 1;
    gap = after;
    if (residual(s, tau, b.data(), g.data(), L) <= target) {
      v->x = b;
      v->gz = g;
      v->objective = f;
      *done = true;
      return QKSV_OK;
    }
  }
  return QKSV_OK;
}

// The unit round-off, and the units of it in a gradient entry's rounding that the stop's
// target stays above.
constexpr double kUnitRoundoff = 0x1p-53, kGradientRoundings = 64.0;

// The residual a solve stops at: the tolerance times the penalty maximum (the gradient's
// scale at 0, in the response's units), never below the rounding of a gradient entry,
// |x_j' r| <= sqrt(L) |r| with |r| = sqrt(2 loss) at the solve's start.
double stopTarget(const QkSolver* s, double loss) {
  const double rounding = kGradientRoundings * kUnitRoundoff *
                          std::sqrt(std::max(2.0 * loss, 0.0) * std::max(s->stepFactor, 0.0));
  return std::max(static_cast<const Solver*>(s)->tolerance * s->lambdaMax, rounding);
}

int32_t solve(QkSolver* s) {
  Solver* v = of(s);
  if (!v->ready)
    return QKSV_NOT_READY;
  int32_t rc = penaltyMaximum(s);
  if (rc != 0)
    return rc;
  const int32_t n = s->size;
  const double lam = s->lambda > 0 ? s->lambda : 0.0;
  const double tau = s->relative ? lam * s->lambdaMax : lam;

  double fx = 0;
  if ((rc = lossAndGradient(s, v->x.data(), v->gz.data(), &fx)) != 0)
    return rc;
  if (s->stepFactor <= 0 && (rc = initialStepFactor(s, v->x.data(), v->gz.data())) != 0)
    return rc;
  v->objective = fx;
  const double target = stopTarget(s, fx);
  if (residual(s, tau, v->x.data(), v->gz.data(), s->stepFactor) <= target)
    return QKSV_OK;

  v->y = v->x;
  double t = 1.0, fy = fx;
  std::copy(v->gz.begin(), v->gz.end(), v->gy.begin());
  int32_t polishEvery = std::max(kNewtonEvery, n + 1), nextPolish = polishEvery;
  double lastPolished = std::numeric_limits<double>::infinity();
  for (int32_t it = 0; it < kMaxIterations; ++it) {
    ++s->iterations;
    double fz = 0;
    if ((rc = backtrack(s, tau, fy, &fz)) != 0)
      return rc;
    v->xOld.swap(v->x);
    v->x = v->z;
    v->objective = fz;
    if (residual(s, tau, v->x.data(), v->gz.data(), s->stepFactor) <= target)
      return QKSV_OK;
    bool polished = false;
    if (n <= kNewtonLargest && it + 1 == nextPolish) {
      bool done = false;
      if ((rc = polish(s, tau, target, &done, &polished)) != 0)
        return rc;
      if (done)
        return QKSV_OK;
      // A polish that kept no step, or a cycle of iterations and polish that hardly shrank
      // the residual, waits twice as long for the next try. Each polish restarts the
      // momentum: on near copies, whose difference the loss hardly sees, steps that shrank
      // it by a hair came every polish and held the iterations in place until their limit.
      const double after = residual(s, tau, v->x.data(), v->gz.data(), s->stepFactor);
      const bool shrank = polished && after <= 0.9 * lastPolished;
      lastPolished = after;
      polishEvery = shrank ? polishEvery : 2 * polishEvery;
      nextPolish = it + 1 + polishEvery;
    }
    // Restart the momentum when it points against the last step, or after a polish.
    double dir = 0;
    for (int32_t i = 0; i < n; ++i)
      dir += (v->y[i] - v->x[i]) * (v->x[i] - v->xOld[i]);
    if (dir > 0 || polished) {
      fz = v->objective;
      t = 1.0;
      v->y = v->x;
      std::copy(v->gz.begin(), v->gz.end(), v->gy.begin());
      fy = fz;
      continue;
    }
    const double tNext = 0.5 * (1.0 + std::sqrt(1.0 + 4.0 * t * t));
    const double beta = (t - 1.0) / tNext;
    t = tNext;
    for (int32_t i = 0; i < n; ++i)
      v->y[i] = v->x[i] + beta * (v->x[i] - v->xOld[i]);
    if (beta == 0.0) {
      std::copy(v->gz.begin(), v->gz.end(), v->gy.begin());
      fy = fz;
    } else if ((rc = lossAndGradient(s, v->y.data(), v->gy.data(), &fy)) != 0) {
      return rc;
    }
  }
  bool done = false;
  if (n <= kNewtonLargest && (rc = quadraticFallback(s, tau, target, &done)) != 0)
    return rc;
  return done ? QKSV_OK : QKSV_NO_CONVERGENCE;
}

int32_t getSolution(QkSolver* s, double* out) {
  if (out == nullptr || !of(s)->prepared)
    return QKSV_NOT_READY;
  std::memcpy(out, of(s)->x.data(), sizeof(double) * static_cast<size_t>(s->size));
  return QKSV_OK;
}
int32_t getResult(QkSolver* s, double* out) {
  if (out == nullptr)
    return QKSV_NOT_READY;
  *out = s->lambdaMax;
  return QKSV_OK;
}
int32_t getObjective(QkSolver* s, double* out) {
  if (out == nullptr)
    return QKSV_NOT_READY;
  *out = of(s)->objective;
  return QKSV_OK;
}
int32_t destroy(QkSolver* s) {
  delete of(s);
  return QKSV_OK;
}

const QkSolverOps kOps = {setProblemSize, setLambda,    setPenaltyKind, prepare, setUserData,
                          setTolerance,   finishSetup,  setStartValues, solve,   getSolution,
                          getResult,      getObjective, destroy,        nullptr};

QkSolver* create(QkSvExtension*, const void*, QkJournal*) {
  auto* v = new Solver{};
  v->ops = &kOps;
  return v;
}

void unload(QkExtension* self) { delete reinterpret_cast<QkSvExtension*>(self); }

} // namespace

QkExtension* loadQksv() {
  auto* e = new QkSvExtension{};
  e->header.name = "qksv";
  e->header.unload = unload;
  e->create = create;
  return &e->header;
}

} // namespace qrxhost
