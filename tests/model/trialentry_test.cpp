// A candidate's trial gives the criterion its move gives: over a B-spline effect that is nearly
// dependent beside the intercept, FORWARD and STEPWISE by SBC print for every candidate the
// least-squares criterion of the model it leads to, as its step prints it once taken, and
// FORWARD takes the best of them (references: scripts/gen_trial_entry_ref.py).
#include "selection/fitfixture.h"

#include "model/vsfserialize.h"
#include "refcsv.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace fittest;

namespace {

struct SetFit {
  int32_t rank = 0;
  double sbc = 0.0;
};

// By mask over the effects after the intercept (bit e - 1 for effect e).
std::map<int32_t, SetFit> readSets() {
  std::map<int32_t, SetFit> out;
  for (const auto& r :
       readNumberRows(std::string(QRX_TEST_DATA) + "/selection/splinetrial_sets.csv"))
    out[static_cast<int32_t>(r[0])] = {static_cast<int32_t>(r[1]), r[3]};
  return out;
}

struct TrialEntry : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
};

TEST_F(TrialEntry, EveryCandidatePrintsTheCriterionOfItsMove) {
  const Design d = readDesign("splinetrial");
  const std::map<int32_t, SetFit> sets = readSets();
  constexpr double kTol = 1e-6; // SBC units: 1e-9 of an error SS is 2e-7 on 212 rows
  for (VsfMethod method : {VsfMethod::Forward, VsfMethod::Stepwise}) {
    FitSetup s;
    s.method = method;
    s.select = 4; // SBC
    s.records = true;
    Fit fit(d, s);
    fit.opt.storeCandidates = 1;
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok) << method;
    VsfModel& live = fit.m();
    ASSERT_GE(live.history.stepCount, 3) << method;
    int64_t pos = 0;
    int32_t mask = 0, checked = 0;
    for (int32_t step = 0; step < live.history.stepCount; ++step) {
      VsfModel back{};
      ASSERT_EQ(fit.restoreStep(back, &pos), VsfStatus::Ok);
      const int32_t before = mask;
      if (step > 0)
        mask ^= 1 << (live.history.stepEffect[step] - 1);
      // The step's own criterion and rank: the least-squares fit of its effects.
      EXPECT_EQ(live.history.stepRank[step], sets.at(mask).rank) << method << " step " << step;
      EXPECT_NEAR(stepCriterion(live, 4, step), sets.at(mask).sbc, kTol) << method << step;
      // The candidates tried from the step before: each the fit of the model it leads to.
      double best = HUGE_VAL;
      for (int32_t e = 1; step > 0 && e < live.effectCount; ++e) {
        const double v = back.candidateValue[e];
        if (isHostMissing(v) || std::fabs(v) > 1e300)
          continue;
        const int32_t to = before ^ (1 << (e - 1));
        EXPECT_NEAR(v, sets.at(to).sbc, kTol) << method << " step " << step << " effect " << e;
        if (!(before >> (e - 1) & 1))
          best = std::min(best, sets.at(to).sbc);
        ++checked;
      }
      // FORWARD enters the candidate of the least exact criterion.
      if (step > 0 && method == VsfMethod::Forward) {
        EXPECT_NEAR(sets.at(mask).sbc, best, kTol) << "step " << step;
      }
      vsfModelByFree(&back);
    }
    EXPECT_GE(checked, 6) << method;
  }
}

} // namespace

namespace {

struct SetSSE {
  int32_t rank = 0;
  double sse = 0.0;
};

// BACKWARD's full model is its first step and sets the variance C(p) takes at every step. Over
// nearly dependent powers of x whose error SS is 1e-7 of the total, that variance is the
// refined fit's, as FORWARD's is: step 0's C(p) is its rank, and each step's C(p) the exact
// one (references: scripts/gen_backward_full_ref.py). From the swept sums alone step 0's C(p)
// was 6.98988 for a rank of 7.
TEST_F(TrialEntry, BackwardFullModelIsTheRefinedFit) {
  const Design d = readDesign("backwardfull");
  std::map<int32_t, SetSSE> sets;
  for (const auto& r :
       readNumberRows(std::string(QRX_TEST_DATA) + "/selection/backwardfull_sets.csv"))
    sets[static_cast<int32_t>(r[0])] = {static_cast<int32_t>(r[1]), r[2]};
  for (VsfMethod method : {VsfMethod::Backward, VsfMethod::Forward}) {
    FitSetup s;
    s.method = method;
    s.select = 7; // CP
    s.records = true;
    Fit fit(d, s);
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok) << method;
    VsfModel& live = fit.m();
    const double n = live.totals.nObs, full = sets.at(63).sse / (n - sets.at(63).rank);
    EXPECT_NEAR(live.fullMse, full, 1e-10 * full) << method;
    ASSERT_GE(live.history.stepCount, 3) << method;
    int32_t mask = method == VsfMethod::Backward ? 63 : 0;
    for (int32_t step = 0; step < live.history.stepCount; ++step) {
      if (step > 0)
        mask ^= 1 << (live.history.stepEffect[step] - 1);
      const double exact = sets.at(mask).sse / full - n + 2.0 * sets.at(mask).rank;
      // The error SS within 1e-10 of its own size (the total at FORWARD's first step).
      const double tol = 1e-6 + 1e-10 * sets.at(mask).sse / full;
      EXPECT_NEAR(stepCriterion(live, 7, step), exact, tol) << method << " step " << step;
    }
  }
}

} // namespace
