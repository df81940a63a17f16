// The "qksv" solver on problems with closed-form solutions: a separable quadratic loss
// 0.5 |D (b - c)|^2 with the L1 penalty (the solution soft-thresholds c by tau / d_j^2) and
// with a group penalty (each group shrinks c_g towards 0 by tau sqrt(k) / |c_g| when D = I);
// the penalty maximum, warm starts and the status codes of misuse.
#include "host/ext/extlist.h"
#include "support/qksv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

struct Problem {
  std::vector<double> c, d;             // loss 0.5 sum d_j^2 (b_j - c_j)^2
  std::vector<std::vector<int>> groups; // for the group penalty
};

int32_t lossFn(QkSolver* s, const double* b, double* f) {
  auto* p = static_cast<Problem*>(s->userData);
  double v = 0;
  for (size_t j = 0; j < p->c.size(); ++j)
    v += 0.5 * p->d[j] * p->d[j] * (b[j] - p->c[j]) * (b[j] - p->c[j]);
  *f = v;
  return 0;
}
int32_t gradFn(QkSolver* s, double* b, double* g, double* f) {
  auto* p = static_cast<Problem*>(s->userData);
  for (size_t j = 0; j < p->c.size(); ++j)
    g[j] = p->d[j] * p->d[j] * (b[j] - p->c[j]);
  return lossFn(s, b, f);
}
int32_t lmaxFn(QkSolver* s) {
  auto* p = static_cast<Problem*>(s->userData);
  double best = 0;
  for (const auto& g : p->groups) {
    double n = 0;
    for (int j : g)
      n += p->c[j] * p->c[j] * std::pow(p->d[j], 4);
    best = std::max(best, std::sqrt(n / g.size()));
  }
  s->lambdaMax = best;
  return 0;
}
int32_t valueFn(QkSolver*, const double*, double* v) {
  *v = 0;
  return 0;
}
int32_t opFn(QkSolver* s, const double* x, double* y, double*, int32_t*, double*) {
  auto* p = static_cast<Problem*>(s->userData);
  const double tau = s->lambda * s->lambdaMax;
  for (const auto& g : p->groups) {
    double n = 0;
    for (int j : g)
      n += x[j] * x[j];
    n = std::sqrt(n);
    const double m = n - std::sqrt(static_cast<double>(g.size())) * tau / s->stepFactor;
    for (int j : g)
      y[j] = m > 0 ? x[j] * m / n : 0.0;
  }
  return 0;
}

struct Session {
  QkSvExtension* ext;
  QkSolver* s;
  Session() {
    ext = reinterpret_cast<QkSvExtension*>(qrxhost::loadExtension("qksv"));
    s = ext != nullptr ? ext->create(ext, nullptr, nullptr) : nullptr;
  }
  ~Session() {
    if (s)
      s->ops->destroy(s);
    if (ext)
      ext->header.unload(&ext->header);
  }
  int32_t setUp(Problem& p, int32_t kind) {
    const QkSolverOps* o = s->ops;
    int32_t rc;
    if ((rc = o->setProblemSize(s, static_cast<int32_t>(p.c.size()))) != 0 ||
        (rc = o->setPenaltyKind(s, kind)) != 0 || (rc = o->prepare(s)) != 0)
      return rc;
    o->setUserData(s, &p);
    s->callbacks.loss = lossFn;
    s->callbacks.lossAndGradient = gradFn;
    if (kind == QKSV_GROUP) {
      s->callbacks.lambdaMax = lmaxFn;
      s->callbacks.penaltyValue = valueFn;
      s->callbacks.penaltyOperator = opFn;
    }
    if ((rc = o->setTolerance(s, 1e-12)) != 0 || (rc = o->finishSetup(s)) != 0)
      return rc;
    return o->setStartValues(s, nullptr);
  }
};

TEST(Qksv, L1SolutionSoftThresholdsRelativeToTheMaximum) {
  Session S;
  ASSERT_NE(S.s, nullptr);
  Problem p{{3.0, -1.0, 0.5, -2.5}, {1.0, 2.0, 0.5, 1.5}, {}};
  ASSERT_EQ(S.setUp(p, QKSV_L1), 0);
  double lmax = 0;
  for (size_t j = 0; j < p.c.size(); ++j)
    lmax = std::max(lmax, std::fabs(p.d[j] * p.d[j] * p.c[j]));
  for (double v : {0.9, 0.5, 0.2, 0.0}) {
    ASSERT_EQ(S.s->ops->setLambda(S.s, v), 0);
    ASSERT_EQ(S.s->ops->solve(S.s), 0);
    std::vector<double> b(p.c.size());
    ASSERT_EQ(S.s->ops->getSolution(S.s, b.data()), 0);
    for (size_t j = 0; j < b.size(); ++j) {
      const double t = v * lmax / (p.d[j] * p.d[j]);
      const double want = p.c[j] > t ? p.c[j] - t : (p.c[j] < -t ? p.c[j] + t : 0.0);
      EXPECT_NEAR(b[j], want, 1e-9) << "lambda " << v << " j " << j;
    }
    double result = 0, objective = -1, loss = 0;
    S.s->ops->getResult(S.s, &result);
    S.s->ops->getObjective(S.s, &objective);
    lossFn(S.s, b.data(), &loss);
    EXPECT_DOUBLE_EQ(result, lmax);
    EXPECT_NEAR(objective, loss, 1e-12);
    S.s->ops->setStartValues(S.s, b.data()); // warm start for the next value
  }
}

TEST(Qksv, GroupPenaltyShrinksWholeGroups) {
  Session S;
  Problem p{{3.0, -4.0, 0.3, 0.2, 1.0}, {1, 1, 1, 1, 1}, {{0, 1}, {2, 3}, {4}}};
  ASSERT_EQ(S.setUp(p, QKSV_GROUP), 0);
  ASSERT_EQ(S.s->ops->setLambda(S.s, 0.4), 0);
  ASSERT_EQ(S.s->ops->solve(S.s), 0);
  std::vector<double> b(5);
  S.s->ops->getSolution(S.s, b.data());
  const double lmax = 5.0 / std::sqrt(2.0), tau = 0.4 * lmax;
  for (const auto& g : p.groups) {
    double n = 0;
    for (int j : g)
      n += p.c[j] * p.c[j];
    n = std::sqrt(n);
    const double f = std::max(0.0, 1 - std::sqrt(static_cast<double>(g.size())) * tau / n);
    for (int j : g)
      EXPECT_NEAR(b[j], p.c[j] * f, 1e-9) << j;
  }
  EXPECT_EQ(b[2], 0.0); // the small group is exactly 0
  EXPECT_EQ(b[3], 0.0);
}

TEST(Qksv, MisuseGivesStatusCodes) {
  Session S;
  const QkSolverOps* o = S.s->ops;
  EXPECT_EQ(o->setProblemSize(S.s, 0), QKSV_BAD_SIZE);
  EXPECT_EQ(o->setPenaltyKind(S.s, 2), QKSV_BAD_KIND);
  EXPECT_EQ(o->solve(S.s), QKSV_NOT_READY);
  ASSERT_EQ(o->setProblemSize(S.s, 3), 0);
  ASSERT_EQ(o->setPenaltyKind(S.s, QKSV_GROUP), 0);
  ASSERT_EQ(o->prepare(S.s), 0);
  S.s->callbacks.loss = lossFn;
  S.s->callbacks.lossAndGradient = gradFn;
  // The group penalty needs its own three callbacks.
  EXPECT_EQ(o->finishSetup(S.s), QKSV_NO_CALLBACK);
}

} // namespace
