// Variants of the least-angle path against the independent references of
// scripts/gen_lars_ref.py: least-squares coefficients of the active set along the path,
// adaptive weights from the full least-squares fit and from INEST= (the path of X times the
// weights), and the elastic net at a fixed L2 (the LASSO path of the augmented data).
#include "refcsv.h"
#include "selection/larsfixture.h"
#include "selection/vsfprocess.h"
#include "support/hostif.h"
#include "support/testhooks.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace larstest;

TEST(LarVariants, LeastSquaresCoefficientsOfTheActiveSet) {
  for (const char* name : {"lar", "lasso"}) {
    const auto want = readPath(std::string(name) + "_ls");
    // The packed X'X, the passes per step, and the kept cross products of the entered effects.
    for (int road : {0, 1, 2}) {
      PathSetup p;
      p.method = std::string(name) == "lar" ? VsfMethod::LarLs : VsfMethod::LassoLs;
      p.full = road == 0;
      if (road == 2)
        testHooks().larCrossLimit = int64_t{1} << 30;
      PathFit f(p);
      f.go();
      // The SSE of each step is that of the least-squares fit; the path is the plain one.
      const char* const roads[] = {"", " passes", " kept"};
      const std::string tag = std::string(name) + " LSCOEFFS" + roads[road];
      checkSeries(f.m(), want, tag);
      checkKnots(p, want, tag);
      testHooks().larCrossLimit = -1;
    }
  }
}

TEST(LarVariants, AdaptiveWeightsFromTheFullLeastSquaresFit) {
  const auto want = readPath("adaptive_ls");
  for (bool full : {true, false}) {
    PathSetup p;
    p.method = VsfMethod::Lasso;
    p.adaptive = 1;
    p.full = full;
    PathFit f(p);
    f.go();
    EXPECT_EQ(f.m().adaptiveAliased, 0);
    const std::string tag = std::string("adaptive LASSO") + (full ? "" : " passes");
    checkSeries(f.m(), want, tag);
    checkKnots(p, want, tag);
  }
}

TEST(LarVariants, AdaptiveWeightsFromInestWithGamma) {
  PathSetup p;
  p.method = VsfMethod::Lasso;
  p.adaptive = 1;
  p.adaptiveInest = 1;
  p.gamma = 0.5;
  p.inest.push_back(100.0); // the intercept's estimate never weights anything
  const auto inest = readCsvRows(std::string(QRX_TEST_DATA) + "/lars/inest.csv");
  for (const std::string& cell : inest.at(0))
    p.inest.push_back(std::stod(cell));
  ASSERT_EQ(p.inest.size(), 11u);
  const auto want = readPath("adaptive_inest");
  for (bool full : {true, false}) {
    p.full = full;
    PathFit f(p);
    f.go();
    const std::string tag = std::string("INEST= adaptive LASSO") + (full ? "" : " passes");
    checkSeries(f.m(), want, tag);
    checkKnots(p, want, tag);
  }
}

TEST(LarVariants, MissingInestEstimateEndsTheFitWithItsMessage) {
  PathSetup p;
  p.method = VsfMethod::Lasso;
  p.adaptive = 1;
  p.adaptiveInest = 1;
  p.inest.assign(11, 1.0);
  p.inest[4] = hostMissing();
  PathFit f(p);
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

TEST(LarVariants, ElasticNetAtAFixedL2IsTheLassoOfTheAugmentedData) {
  for (int32_t en : {0, 1}) {
    const auto want = readPath(en ? "enet_scaled" : "enet");
    PathSetup p;
    p.method = VsfMethod::ElasticNet;
    p.l2 = 0.01;
    p.enSetting = en;
    PathFit f(p);
    f.go();
    const std::string tag = en ? "ELASTICNET scaled" : "ELASTICNET";
    checkSeries(f.m(), want, tag);
    checkKnots(p, want, tag);
  }
}

// The data-pass road forms the correlations from the residual of the path's own coefficients
// also when the reported coefficients are rescaled, so it walks the packed road's path.
TEST(LarVariants, ElasticNetByDataPassesWalksTheSamePath) {
  for (int32_t en : {0, 1}) {
    const auto want = readPath(en ? "enet_scaled" : "enet");
    PathSetup p;
    p.method = VsfMethod::ElasticNet;
    p.l2 = 0.01;
    p.enSetting = en;
    p.full = false;
    PathFit f(p);
    f.go();
    const std::string tag = en ? "ELASTICNET scaled passes" : "ELASTICNET passes";
    checkSeries(f.m(), want, tag);
    checkKnots(p, want, tag);
  }
}

// METHOD=ELASTICNET reaches the path through vsfProcess at a fixed L2, and through the L2
// search when the search interval is the single point 0.01: every trial and the final fit
// are then the same fit.
TEST(LarVariants, ElasticNetThroughTheProcessEntry) {
  for (int32_t search : {1, 2, 3, -2}) {
    // -2: the golden section with ENSCALE (the reported coefficients rescaled).
    const int32_t en = search < 0 ? 1 : 0;
    search = search < 0 ? -search : search;
    const auto want = readPath(en ? "enet_scaled" : "enet");
    PathSetup p;
    p.method = VsfMethod::ElasticNet;
    p.l2 = 0.01;
    p.enSetting = en;
    PathFit f(p);
    ASSERT_EQ(f.fit.run.read(f.fit.src), 0);
    VsfModel& m = f.m();
    m.options = &f.fit.opt;
    m.fuzz = f.fit.opt.fuzz;
    m.elnet.l2Search = static_cast<VsfL2Search>(search);
    m.elnet.l2Low = m.elnet.l2High = 0.01;
    m.elnetPass.l2Steps = 3;
    ASSERT_EQ(vsfProcess(&m, nullptr), VsfStatus::Ok) << search;
    ASSERT_EQ(m.fitStatus, VsfFitStatus::Done) << search;
    EXPECT_EQ(m.elnet.finalL2, 0.01) << search;
    checkSeries(m, want, "ELASTICNET through vsfProcess, L2SEARCH " + std::to_string(search));
  }
}
