// Step records: every recorded step of a fit is written to the scratch file and reads back
// into a fresh model with the same history, estimates, statuses and stop block; a record's
// length follows the blocks its options ask for.
#include "selection/fitfixture.h"

#include "model/vsfserialize.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace fittest;

namespace {

struct Records : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
};

TEST_F(Records, EveryStepReadsBackAsWritten) {
  const Design d = readDesign("classdata");
  for (VsfMethod method : {VsfMethod::Forward, VsfMethod::Backward, VsfMethod::Stepwise}) {
    FitSetup s;
    s.method = method;
    s.select = 9; // PRESS: the PRESS series is in the record
    s.choose = 4; // SBC: the chosen-step snapshot is in the record
    s.records = true;
    Fit fit(d, s);
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok);
    VsfModel& live = fit.m();
    ASSERT_EQ(live.fitStatus, VsfFitStatus::Done);
    const int32_t nE = live.effectCount, nP = live.parmCount;
    int64_t pos = 0;
    for (int32_t step = 0; step < live.history.stepCount; ++step) {
      VsfModel back{};
      const int64_t before = pos;
      ASSERT_EQ(fit.restoreStep(back, &pos), VsfStatus::Ok);
      ASSERT_EQ(back.history.stepCount, step + 1);
      const int64_t nS = step + 1, nX = back.aliasDrops.aliasDropCount;
      const int64_t size = 4 + 232 + 52 + 8 * nE + 4 * nX + 4 * nS + 4 * (nS + 1) + 4 * nS +
                           4 * (nS + 1) + 8 * nS + 8 * nS /* PRESS */ + nE + 24 * nP + 24 * nP +
                           4 * nE + nE /* chosen */ + 32;
      EXPECT_EQ(pos - before, size) << "method " << method << " step " << step;
      for (int32_t i = 0; i <= step; ++i) {
        EXPECT_EQ(back.history.stepEffect[i], live.history.stepEffect[i]);
        EXPECT_EQ(back.history.stepRank[i], live.history.stepRank[i]);
        EXPECT_EQ(back.history.stepSSE[i], live.history.stepSSE[i]);
        EXPECT_EQ(back.history.stepPress[i], live.history.stepPress[i]);
      }
      EXPECT_EQ(back.history.stepSSE[-1], back.totalSS);
      if (step == live.history.stepCount - 1) {
        EXPECT_EQ(0, std::memcmp(back.beta, live.beta, sizeof(double) * nP));
        EXPECT_EQ(0, std::memcmp(back.effectStatus, live.effectStatus, nE));
        EXPECT_EQ(back.chosen.chosenStep, live.chosen.chosenStep);
        EXPECT_EQ(0,
                  std::memcmp(back.chosen.chosenBeta, live.chosen.chosenBeta, sizeof(double) * nP));
      }
      vsfModelByFree(&back);
    }
  }
}

TEST_F(Records, ChosenStepIsRestoredByResetChosenStep) {
  const Design d = readDesign("diabetes");
  FitSetup s;
  s.method = VsfMethod::Forward;
  s.select = 1; // SL runs past the SBC optimum
  s.choose = 4;
  Fit fit(d, s);
  fit.go();
  VsfModel& m = fit.m();
  ASSERT_EQ(m.fitStatus, VsfFitStatus::Done);
  const int32_t c = m.chosen.chosenStep;
  ASSERT_GE(c, 0);
  ASSERT_LT(c, m.history.stepCount);
  const double sse = m.history.stepSSE[c];
  const int32_t rank = m.history.stepRank[c];
  vsfResetChosenStep(&m);
  EXPECT_EQ(m.history.stepCount, c + 1);
  EXPECT_EQ(m.sse, sse);
  EXPECT_EQ(m.rank, rank);
  // The chosen step's SBC is the smallest over the path.
  for (int32_t i = 1; i <= c; ++i)
    EXPECT_LE(stepCriterion(m, 4, c), stepCriterion(m, 4, i) + 1e-9);
}

} // namespace
