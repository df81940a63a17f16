// The group LASSO path on multi-column effects by its two roads: loss and gradient from the
// packed X'X in memory, and the loss and gradient kernels passing over the pages (serially,
// on three page workers, and from small pages on disk). Every road must give the same path:
// the same models at every step and the same sums of squares and coefficients to the
// solver's tolerance.
#include "fitfixture.h"
#include "selection/vsfqklasso.h"
#include "support/testhooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using fittest::Design;
using fittest::Fit;
using fittest::FitSetup;

struct PathResult {
  std::vector<double> sse;
  std::vector<int32_t> effects, rank;
  std::vector<double> beta;
  int64_t passes = 0, evaluations = 0;
};

PathResult groupPath(const FitSetup& s, int64_t gramLimit) {
  static const Design d = fittest::readDesign("classdata");
  testHooks().solverGramLimit = gramLimit;
  Fit fit(d, s);
  fit.opt.stop = VsfCriterion::NoneGiven;
  fit.opt.select = VsfCriterion::NoneGiven;
  fit.opt.stopTest = 0;
  fit.opt.parmStandardize = 1;
  fit.opt.transformPages = 1;
  fit.opt.restorePages = 1;
  fit.opt.rho = 0.8;
  fit.opt.tol = 1e-10;
  fit.opt.maxSteps = 25;
  fit.run.settings.rewritePages = 1;
  fit.go();
  testHooks().solverGramLimit = -1;
  PathResult r;
  VsfModel& m = fit.m();
  EXPECT_EQ(fit.readRc, 0);
  EXPECT_EQ(fit.processRc, VsfStatus::Ok);
  EXPECT_EQ(m.fitStatus, VsfFitStatus::Done);
  for (int32_t i = 0; i < m.history.stepCount; ++i) {
    r.sse.push_back(m.history.stepSSE[i]);
    r.effects.push_back(m.history.stepEffects[i]);
    r.rank.push_back(m.history.stepRank[i]);
  }
  r.beta.assign(m.beta, m.beta + m.parmCount);
  r.passes = m.solver.solverPasses;
  r.evaluations = m.solver.solverEvaluations;
  return r;
}

void expectSamePath(const PathResult& a, const PathResult& b, const char* what) {
  ASSERT_EQ(a.sse.size(), b.sse.size()) << what;
  for (size_t i = 0; i < a.sse.size(); ++i) {
    EXPECT_EQ(a.effects[i], b.effects[i]) << what << " step " << i;
    EXPECT_EQ(a.rank[i], b.rank[i]) << what << " step " << i;
    EXPECT_NEAR(a.sse[i], b.sse[i], 1e-8 * a.sse[0]) << what << " step " << i;
  }
  for (size_t j = 0; j < a.beta.size(); ++j)
    EXPECT_NEAR(a.beta[j], b.beta[j], 1e-6 * (1 + std::fabs(a.beta[j]))) << what << " " << j;
}

TEST(GroupLassoRoads, CrossProductsAndDataPassesGiveTheSamePath) {
  FitSetup s;
  s.method = VsfMethod::GroupLasso;
  s.full = true;
  const PathResult gram = groupPath(s, -1);
  ASSERT_GT(gram.sse.size(), 20u);
  // The path grows from the intercept alone to several multi-column effects.
  EXPECT_EQ(gram.effects.front(), 1);
  EXPECT_GT(gram.rank.back(), gram.effects.back());
  // With X'X in memory the solver passes over no page.
  EXPECT_EQ(gram.passes, 0);
  EXPECT_GT(gram.evaluations, 0);

  const PathResult pages = groupPath(s, 0);
  expectSamePath(gram, pages, "serial data passes");
  // Without X'X every loss and gradient is one pass (and one for the X'X that is refused).
  EXPECT_GE(pages.passes, pages.evaluations);

  s.threads = 3;
  expectSamePath(gram, groupPath(s, 0), "three page workers");
  s.threads = 1;
  s.disk = true;
  expectSamePath(gram, groupPath(s, 0), "small pages on disk");
  // Cross products grown on demand: the solver forms its own X'X in one pass.
  s.disk = false;
  s.full = false;
  const PathResult own = groupPath(s, -1);
  expectSamePath(gram, own, "own X'X pass");
  EXPECT_EQ(own.passes, 1);
}

} // namespace
