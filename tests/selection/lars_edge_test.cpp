// Edge cases of the least-angle path on small made-up designs: tied correlations, an exact
// collinearity in the adaptive least-squares fit, a zero adaptive weight, weights that cannot
// be formed, screening of a few candidates, and pages handed back after a failed fit.
#include "selection/larsfixture.h"

#include "host/ext/qkpgf.h"
#include "host/testswitches.h"
#include "selection/vsfprocess.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace larstest;

namespace {

// n rows of y and three columns; dup makes column 2 a copy of column 1, sum makes column 3
// the sum of columns 1 and 2.
Design smallDesign(bool dup, bool sum) {
  Design d;
  d.widths = {1, 1, 1, 1};
  for (int i = 0; i < 40; ++i) {
    const double a = std::sin(1.3 * i + 0.2), b = std::cos(0.7 * i * i + 1.0),
                 c = std::sin(0.37 * i * i + 2.0);
    const double x1 = a, x2 = dup ? a : b, x3 = sum ? x1 + x2 : c;
    d.y.push_back(3.0 * a + 1.0 * b - 2.0 * c + 0.1 * std::cos(5.1 * i));
    d.x.push_back({1.0, x1, x2, x3});
  }
  return d;
}

bool entered(const VsfModel& m, int32_t e) {
  for (int32_t s = 1; s < m.history.stepCount; ++s)
    if (m.history.stepEffect[s] == e)
      return true;
  return false;
}

} // namespace

TEST(LarEdges, TiedCorrelationsLeaveThePathToTheLowerIndex) {
  static const Design d = smallDesign(true, false);
  for (VsfMethod method : {VsfMethod::Lar, VsfMethod::Lasso}) {
    PathSetup p;
    p.method = method;
    PathFit f(p, d);
    f.go();
    VsfModel& m = f.m();
    EXPECT_EQ(m.effectStatus[2], VES_UNAVAILABLE) << method;
    EXPECT_FALSE(entered(m, 2)) << method;
    EXPECT_TRUE(entered(m, 1)) << method;
    EXPECT_TRUE(entered(m, 3)) << method;
    EXPECT_EQ(m.stop.stopReason, VSR_NO_CANDIDATE) << method;
  }
}

TEST(LarEdges, CollinearFullFitMakesTheAliasedEffectUnavailable) {
  static const Design d = smallDesign(false, true);
  for (bool full : {true, false}) {
    PathSetup p;
    p.method = VsfMethod::Lasso;
    p.adaptive = 1;
    p.full = full;
    PathFit f(p, d);
    f.go();
    VsfModel& m = f.m();
    EXPECT_EQ(m.adaptiveAliased, 1) << full;
    EXPECT_EQ(m.effectStatus[3], VES_UNAVAILABLE) << full;
    EXPECT_FALSE(entered(m, 3)) << full;
    EXPECT_TRUE(entered(m, 1)) << full;
    EXPECT_TRUE(entered(m, 2)) << full;
  }
}

TEST(LarEdges, ZeroInestEstimateKeepsItsEffectOffThePath) {
  static const Design d = smallDesign(false, false);
  PathSetup p;
  p.method = VsfMethod::Lasso;
  p.adaptive = 1;
  p.adaptiveInest = 1;
  p.gamma = 2.0;
  p.inest = {0.0, 1.0, 0.0, -1.0};
  PathFit f(p, d);
  f.go();
  VsfModel& m = f.m();
  EXPECT_EQ(m.adaptive.adaptiveWeight[2], 0.0);
  EXPECT_FALSE(entered(m, 2));
  // With GAMMA=2 the weights are the squared estimates on the standardized scale.
  const double s1 = 1.0 / m.moments.columnSumSquares[1];
  EXPECT_NEAR(m.adaptive.adaptiveWeight[1], s1 * s1, 1e-14 * s1 * s1);
}

TEST(LarEdges, WeightsThatCannotBeFormedEndTheFit) {
  static const Design d = smallDesign(false, false);
  // A zero estimate with GAMMA <= 0 has no power.
  PathSetup p;
  p.method = VsfMethod::Lasso;
  p.adaptive = 1;
  p.adaptiveInest = 1;
  p.gamma = -1.0;
  p.inest = {0.0, 1.0, 0.0, -1.0};
  PathFit f(p, d);
  f.fit.readRc = f.fit.run.read(f.fit.src);
  ASSERT_EQ(f.fit.readRc, 0);
  VsfModel& m = f.m();
  m.inestEstimates = f.inest.data();
  m.options = &f.fit.opt;
  m.fuzz = f.fit.opt.fuzz;
  ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
  const VsfStatus rc = vsfProcessModel(&m);
  EXPECT_EQ(rc, VsfStatus::AdaptiveWeightFailed);
  EXPECT_EQ(m.fitStatus, VsfFitStatus::Failed);
  EXPECT_EQ(m.fitFailure, rc);
  EXPECT_EQ(m.history.stepCount, 0);
}

// Screening on a design with three candidates: SIS with KEEPNUM=1 keeps the most correlated
// one only; the safe rules keep everything in their working set (fewer than ten candidates)
// and walk the unscreened path.
TEST(LarEdges, ScreeningOnAFewCandidates) {
  static const Design d = smallDesign(false, false);
  PathSetup p;
  p.method = VsfMethod::Lasso;
  PathFit plain(p, d);
  plain.go();
  for (VsfScreenMethod screen : {VsfScreenMethod::Sasvi, VsfScreenMethod::Sis}) {
    PathFit f(p, d);
    f.fit.opt.screen = screen;
    f.fit.opt.keepNum = 1;
    f.fit.opt.keepRatio = -1;
    f.go();
    VsfModel& m = f.m();
    if (screen == VsfScreenMethod::Sis) {
      ASSERT_EQ(m.history.stepCount, 2) << "the intercept and the one kept effect";
      EXPECT_EQ(m.history.stepEffect[1], plain.m().history.stepEffect[1]);
      EXPECT_EQ(m.stop.stopReason, VSR_ALL_ENTERED);
    } else {
      ASSERT_EQ(m.history.stepCount, plain.m().history.stepCount);
      for (int32_t s = 0; s < m.history.stepCount; ++s) {
        EXPECT_EQ(m.history.stepEffect[s], plain.m().history.stepEffect[s]) << s;
        EXPECT_NEAR(m.history.stepSSE[s], plain.m().history.stepSSE[s],
                    1e-10 * plain.m().history.stepSSE[0])
            << s;
      }
    }
  }
}

namespace {

// Fits the model again on the pages as the last fit left them and compares its path with
// the SSE series of a fit on the data.
void expectSamePathOnRefit(VsfModel& m, const std::vector<double>& sse) {
  vsfModelByFree(&m);
  ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
  ASSERT_EQ(vsfProcessModel(&m), VsfStatus::Ok);
  ASSERT_EQ(m.fitStatus, VsfFitStatus::Done);
  ASSERT_EQ(m.history.stepCount, static_cast<int32_t>(sse.size()));
  for (size_t s = 0; s < sse.size(); ++s)
    EXPECT_NEAR(m.history.stepSSE[s], sse[s], 1e-10 * sse[0]) << s;
}

// The SSE series of a LAR fit on the data (one that hands its pages back).
std::vector<double> larPathOnTheData(const Design& d) {
  PathSetup p;
  p.method = VsfMethod::Lar;
  PathFit clean(p, d);
  clean.fit.opt.restorePages = 1;
  clean.go();
  return std::vector<double>(clean.m().history.stepSSE,
                             clean.m().history.stepSSE + clean.m().history.stepCount);
}

} // namespace

TEST(LarEdges, PagesAreRestoredWhenAsked) {
  static const Design d = smallDesign(false, false);
  PathSetup p;
  p.method = VsfMethod::Lar;
  PathFit f(p, d);
  f.fit.opt.restorePages = 1;
  f.go();
  const auto first =
      std::vector<double>(f.m().history.stepSSE, f.m().history.stepSSE + f.m().history.stepCount);
  // A second fit on the restored pages transforms them again and walks the same path.
  expectSamePathOnRefit(f.m(), first);
}

// Fail the n-th page read or write after the pages are made, for every n until the fit gets
// through: each failure, in the driver's transforms, the adaptive fit or the path's own
// passes, ends the fit with a negative status and message 848/9103, never with a path built
// from partial sums.
TEST(LarEdges, FailingDataPassEndsThePathWithItsMessage) {
  datatest::setUpHost();
  auto logged = [](VsfMsg m) {
    auto all = datatest::loggedNumbers();
    return std::find(all.begin(), all.end(), MsgId(m)) != all.end();
  };
  for (bool full : {true, false}) {
    bool finished = false;
    int failures = 0;
    for (int n = 1; n < 4000 && !finished; n += full ? 3 : 29) {
      PathSetup p;
      p.method = VsfMethod::Lasso;
      p.full = full;
      p.disk = true;
      p.adaptive = 1;
      PathFit f(p);
      ASSERT_EQ(f.fit.run.read(f.fit.src), 0);
      VsfModel& m = f.m();
      m.options = &f.fit.opt;
      m.fuzz = f.fit.opt.fuzz;
      ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
      datatest::loggedNumbers();
      qrxhost::failUtilityIoAt(n);
      const VsfStatus rc = vsfProcessModel(&m);
      qrxhost::failUtilityIoAt(0);
      if (rc == VsfStatus::Ok && m.fitStatus == VsfFitStatus::Done) {
        finished = true;
        EXPECT_FALSE(logged(VsfMsg::DataPagePassFailed));
        EXPECT_EQ(m.stop.stopReason, VSR_ALL_ENTERED);
      } else {
        EXPECT_TRUE(vsfFitFailed(m.fitStatus)) << n;
        EXPECT_TRUE(logged(VsfMsg::DataPagePassFailed)) << n;
        ++failures;
      }
    }
    EXPECT_TRUE(finished) << full;
    EXPECT_GT(failures, 10) << full;
  }
  EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
}

// A fit that ends without a usable path (here the method refuses a screening rule) still
// hands back the pages as they were, so that the next fit of the road reads the data and
// not the standardized columns.
// The adaptive weights fail after the pages were centred: the centring is undone.
TEST(LarEdges, PagesAreRestoredAfterAFailedMethod) {
  static const Design d = smallDesign(false, false);
  const std::vector<double> want = larPathOnTheData(d);
  PathSetup p;
  p.method = VsfMethod::Lar;
  PathFit f(p, d);
  f.fit.opt.restorePages = 1;
  f.fit.opt.adaptive = 1;
  f.fit.opt.adaptiveInest = 1;
  std::vector<double> inest = {1.0, 1.0, hostMissing(), 1.0};
  ASSERT_EQ(f.fit.run.read(f.fit.src), 0);
  VsfModel& m = f.m();
  m.inestEstimates = inest.data();
  m.options = &f.fit.opt;
  m.fuzz = f.fit.opt.fuzz;
  ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
  EXPECT_EQ(vsfProcessModel(&m), VsfStatus::AdaptiveWeightFailed);
  ASSERT_TRUE(vsfFitFailed(m.fitStatus));
  f.fit.opt.adaptive = 0;
  f.fit.opt.adaptiveInest = 0;
  expectSamePathOnRefit(m, want);
}

// The last fit of a road finds the pages as an earlier fit left them (centred) and ends
// before its method; it still hands them back as the data.
TEST(LarEdges, PagesAreRestoredByAFitThatEndsBeforeItsMethod) {
  static const Design d = smallDesign(false, false);
  const std::vector<double> want = larPathOnTheData(d);
  PathSetup p;
  p.method = VsfMethod::Lar;
  PathFit f(p, d);
  f.go(); // the pages stay centred and scaled
  VsfModel& m = f.m();
  f.fit.opt.transformPages = 0;
  f.fit.opt.restorePages = 1;
  f.fit.opt.stop = VsfCriterion::Validate; // VALIDATE without validation rows: the fit ends at once
  vsfModelByFree(&m);
  ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
  ASSERT_EQ(vsfProcessModel(&m), VsfStatus::Ok);
  ASSERT_EQ(m.fitStatus, VsfFitStatus::NoValidation);
  f.fit.opt.stop = VsfCriterion::NoneGiven;
  f.fit.opt.transformPages = 1;
  expectSamePathOnRefit(m, want);
}
