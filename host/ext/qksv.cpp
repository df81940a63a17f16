// The "qksv" solver: an accelerated proximal gradient method (FISTA) with backtracking line
// search and gradient-based restart, for a smooth loss plus lambda times an L1 or a group
// penalty. The loss and its gradient always come from the caller's callbacks; the L1 penalty's
// soft threshold is the solver's own, the group penalty's value, proximal operator and maximum
// are the caller's.
//
// Semantics the callers rely on:
// - lambda is relative to the penalty maximum: the penalty weight is lambda x lambdaMax, where
//   lambdaMax is the smallest weight at which 0 solves the problem (for L1 the largest absolute
//   gradient entry at 0; for the group penalty what callback [0] leaves). A negative lambda
//   counts as 0, the unpenalised fit.
// - A solve stops when the proximal-gradient residual L * |b - prox(b - grad(b) / L)| at the
//   point returned is at most tolerance x max(lambdaMax, 1) in every entry: the optimality
//   (KKT) conditions hold to the tolerance, relative to the scale of the gradient at 0.
// - getObjective gives the loss at the solution (without the penalty); getResult the penalty
//   maximum (absolute).
#include "host/ext/qksv.h"

#include "support/qksv.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace qrxhost {
namespace {

constexpr int32_t kMaxIterations = 200000;

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

// A first step factor from the change of the gradient over a short step along it.
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
  const int32_t rc = lossAndGradient(s, v->p.data(), v->gz.data(), &f);
  if (rc != 0)
    return rc;
  double dg = 0;
  for (int32_t i = 0; i < n; ++i)
    dg += (v->gz[i] - g[i]) * (v->gz[i] - g[i]);
  const double L = std::sqrt(dg) / (h * gn);
  s->stepFactor = L > 0 && std::isfinite(L) ? L : 1.0;
  return QKSV_OK;
}

// One backtracking step from y: z = prox(y - gy / L) with the smallest tried L that gives the
// quadratic upper bound; fz and gz at z.
int32_t backtrack(QkSolver* s, double tau, double fy, double* fz) {
  Solver* v = of(s);
  const int32_t n = s->size;
  for (int tries = 0; tries < 200; ++tries) {
    const double L = s->stepFactor;
    proximal(s, tau, v->y.data(), v->gy.data(), L, v->z.data());
    int32_t rc = lossAndGradient(s, v->z.data(), v->gz.data(), fz);
    if (rc != 0)
      return rc;
    double lin = 0, sq = 0;
    for (int32_t i = 0; i < n; ++i) {
      const double d = v->z[i] - v->y[i];
      lin += v->gy[i] * d;
      sq += d * d;
    }
    const double bound = fy + lin + 0.5 * L * sq;
    if (*fz <= bound + 1e-12 * std::fabs(fy))
      return QKSV_OK;
    s->stepFactor = 2.0 * L;
  }
  return QKSV_NOT_FINITE;
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
  const double target = v->tolerance * std::max(s->lambdaMax, 1.0);

  double fx = 0;
  if ((rc = lossAndGradient(s, v->x.data(), v->gz.data(), &fx)) != 0)
    return rc;
  if (s->stepFactor <= 0 && (rc = initialStepFactor(s, v->x.data(), v->gz.data())) != 0)
    return rc;
  v->objective = fx;
  if (residual(s, tau, v->x.data(), v->gz.data(), s->stepFactor) <= target)
    return QKSV_OK;

  v->y = v->x;
  double t = 1.0, fy = fx;
  std::copy(v->gz.begin(), v->gz.end(), v->gy.begin());
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
    // Restart the momentum when it points against the last step.
    double dir = 0;
    for (int32_t i = 0; i < n; ++i)
      dir += (v->y[i] - v->x[i]) * (v->x[i] - v->xOld[i]);
    if (dir > 0) {
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
  return QKSV_NO_CONVERGENCE;
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
