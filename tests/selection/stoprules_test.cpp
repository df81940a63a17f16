// The stop, choose and continuation rules: every reason vsfKeepGoing gives (1, 2, 3, 5, 7, 8,
// 14, 15) and its limits, vsfStopSelection's test by criterion class with its FUZZ margins,
// the undo of a refused addition and of a refused removal, the undo at the end of a LAR path
// (16, 17), the choose update and the start values; and, through whole fits, the reasons the
// selection methods give themselves (4, 6, 9, 10, 12, 13).
#include "selection/fitfixture.h"

#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "model/vsfsweep.h"
#include "selection/vsfstoprules.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

using namespace fittest;

namespace {

// A model with the counts the continuation rule reads and nothing behind them.
struct Counts {
  VsfModelOptions opt{};
  VsfModel m{};
  Counts(VsfMethod method, int32_t effects) {
    opt.method = method;
    opt.fuzz = 1e-8;
    m.options = &opt;
    m.effectCount = effects;
    m.includeCount = 1; // the intercept
    m.stop.stepLimit = 100;
    m.totalSSUncorrected = 1000.0;
    m.totalSS = 1000.0; // the corrected total
    m.sse = 50.0;
    m.fuzz = opt.fuzz;
  }
  int32_t keepGoing(int32_t s) {
    m.stop.stopReason = VSR_NONE;
    return vsfKeepGoing(&m, s);
  }
};

// With an intercept a fit is perfect against the corrected total: a response far from 0 with
// a small spread leaves an error SS far above 1e-8 of its uncorrected total unexplained.
TEST(StopRules, APerfectFitIsJudgedAgainstTheCorrectedTotal) {
  Counts c(VsfMethod::Forward, 6); // FORWARD
  c.m.inModelCount = 1;
  c.m.totalSSUncorrected = 4e11; // 40 values near 1e5
  c.m.totalSS = c.m.sse = 1000.0;
  EXPECT_EQ(c.keepGoing(0), 1);
  EXPECT_EQ(c.m.stop.stopReason, VSR_NONE);
  c.opt.noint = 1; // without an intercept the uncorrected total is the one explained
  c.m.totalSS = c.m.totalSSUncorrected;
  c.m.sse = 1e-9 * c.m.totalSSUncorrected;
  EXPECT_EQ(c.keepGoing(0), 0);
  EXPECT_EQ(c.m.stop.stopReason, VSR_PERFECT_FIT);
  // Once the response's spread about its mean is formed from the rows, an error SS below 1e-8
  // of y'y that leaves 40% of that spread (the model is the constant alone) is no perfect fit;
  // one below 1e-8 of the spread is.
  c.m.responseSpread = 1000.0;
  c.m.responseSpreadFormed = 1;
  EXPECT_EQ(c.keepGoing(0), 1);
  EXPECT_EQ(c.m.stop.stopReason, VSR_NONE);
  c.m.sse = 0.9e-8 * c.m.responseSpread;
  EXPECT_EQ(c.keepGoing(0), 0);
  EXPECT_EQ(c.m.stop.stopReason, VSR_PERFECT_FIT);
}

TEST(StopRules, KeepGoingStopsAtEachLimitWithItsReason) {
  {
    Counts c(VsfMethod::Forward, 6); // FORWARD
    c.m.inModelCount = 3;
    EXPECT_EQ(c.keepGoing(3), 1);
    EXPECT_EQ(c.m.stop.stopReason, VSR_NONE);
    c.m.sse = 1e-8 * 1000.0; // a perfect fit comes first
    EXPECT_EQ(c.keepGoing(3), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_PERFECT_FIT);
    c.m.sse = 50.0;
    c.opt.steps = 2; // two steps beyond the forced intercept
    EXPECT_EQ(c.keepGoing(2), 1);
    EXPECT_EQ(c.keepGoing(3), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_STEPS);
    c.opt.steps = 0;
    c.m.stop.stepLimit = 4; // MAXSTEPS: the limit is shifted by the forced effects
    EXPECT_EQ(c.keepGoing(4), 1);
    EXPECT_EQ(c.keepGoing(5), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_STEP_LIMIT);
    c.m.inModelCount = 6; // at the limit with everything in
    EXPECT_EQ(c.keepGoing(5), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_ALL_ENTERED);
    c.opt.parmStandardize = 1; // the group solvers always say 1
    EXPECT_EQ(c.keepGoing(5), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_STEP_LIMIT);
    c.opt.parmStandardize = 0;
    c.m.stop.stepLimit = 100;
    EXPECT_EQ(c.keepGoing(5), 0); // FORWARD with every effect in
    EXPECT_EQ(c.m.stop.stopReason, VSR_ALL_ENTERED);
    c.m.inModelCount = 3;
    c.opt.stopCount = 3; // STOP=3 effects
    EXPECT_EQ(c.keepGoing(3), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_STOP_COUNT);
  }
  {
    Counts c(VsfMethod::Stepwise, 6); // STEPWISE goes on with every effect in: one may leave
    c.m.inModelCount = 6;
    EXPECT_EQ(c.keepGoing(5), 1);
    c.opt.noint = 1; // under NOINT "every effect" leaves out the intercept's place
    c.m.inModelCount = 5;
    c.opt.method = VsfMethod::Lar; // LAR
    EXPECT_EQ(c.keepGoing(5), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_ALL_ENTERED);
  }
  {
    Counts c(VsfMethod::Backward,
             6); // BACKWARD: no perfect-fit test, limits shifted by its full-model step
    c.m.sse = 0.0;
    c.m.inModelCount = 4;
    EXPECT_EQ(c.keepGoing(1), 1);
    c.opt.steps = 2;
    EXPECT_EQ(c.keepGoing(2), 1);
    EXPECT_EQ(c.keepGoing(3), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_STEPS);
    c.opt.steps = 0;
    c.m.inModelCount = 1; // only the forced intercept is left
    EXPECT_EQ(c.keepGoing(5), 0);
    EXPECT_EQ(c.m.stop.stopReason, VSR_DOWN_TO_FORCED);
    c.opt.noint = 1;
    c.m.includeCount = 0;
    EXPECT_EQ(c.keepGoing(5), 0); // one effect left under NOINT
    EXPECT_EQ(c.m.stop.stopReason, VSR_DOWN_TO_INTERCEPT);
  }
}

TEST(StopRules, KeepGoingStopsAtTheL1TargetByEachChoice) {
  Counts c(VsfMethod::Lasso, 6);
  c.m.inModelCount = 2;
  c.opt.stop = VsfCriterion::L1;
  c.m.path.lambdaMax = 8.0;
  c.m.path.lambda = 2.0;
  c.m.path.l1Norm = 3.0;
  struct Case {
    uint8_t choice;
    double target;
    bool stops;
  } cases[] = {{1, 0.25, true},    // RATIO: lambda = 0.25 x lambdaMax
               {1, 0.3, false},    //
               {2, 3.0, true},     // NORM: the L1 norm
               {2, 3.0001, false}, //
               {3, 2.0, true},     // VALUE: lambda itself
               {3, 1.0, false}};
  for (const Case& k : cases) {
    c.opt.stopL1Choice = static_cast<VsfL1Choice>(k.choice);
    c.m.path.l1Target = k.target;
    EXPECT_EQ(c.keepGoing(2), k.stops ? 0 : 1) << int(k.choice) << " " << k.target;
    EXPECT_EQ(c.m.stop.stopReason, k.stops ? VSR_L1_TARGET : VSR_NONE);
  }
  c.opt.stopL1Choice = VsfL1Choice::Norm;
  c.m.path.l1Target = -1; // no target
  EXPECT_EQ(c.keepGoing(2), 1);
}

// A model whose failed steps are not undone (METHOD=13 keeps them and resets its sums), so
// that the tests of the criterion classes need no sweeps.
struct Judge : Counts {
  std::vector<double> sse = {0, 90.0, 40.0}; // the element in front, then two steps
  double stopValue = 0;
  Judge() : Counts(VsfMethod::GroupLasso, 6) {
    m.history.stepSSE = sse.data() + 1;
    m.history.stepCount = 2;
    opt.stopTest = 1;
  }
  // *result: 0 the step stands, -1 it fails.
  int32_t judge(int32_t crit, double v, double old, int32_t direction) {
    opt.stop = static_cast<VsfCriterion>(crit);
    opt.select = static_cast<VsfCriterion>(crit);
    stopValue = old;
    m.stop.stopReason = VSR_NONE;
    int32_t result = 7;
    EXPECT_EQ(vsfStopSelection(v, &m, 0, 1, direction, &stopValue, &result), VsfStatus::Ok);
    return result;
  }
};

TEST(StopRules, StopSelectionTestsEachCriterionClass) {
  Judge j;
  const double fuzz = j.m.fuzz;
  // SL: the log p-value against the log of the level; equal does not enter or leave.
  j.opt.slEntry = 0.15;
  j.opt.slStay = 0.1;
  EXPECT_EQ(j.judge(1, std::log(0.149), 0, 1), 0);
  EXPECT_EQ(j.judge(1, std::log(0.15), 0, 1), -1);
  EXPECT_EQ(j.stopValue, std::log(0.15)); // the value of the failed step is kept
  EXPECT_EQ(j.m.stop.stopReason, VSR_NO_IMPROVEMENT);
  EXPECT_EQ(j.judge(1, std::log(0.11), 0, -1), 0);
  EXPECT_EQ(j.judge(1, std::log(0.1), 0, -1), -1);

  // Smaller is better (AIC and the others): an addition must win by more than FUZZ, a
  // removal may lose by up to FUZZ.
  for (int32_t crit : {2, 3, 4, 7, 8, 9, 10, 11}) {
    SCOPED_TRACE(crit);
    const double old = 100.0, close = old * (1 - fuzz / 2);
    EXPECT_EQ(j.judge(crit, 99.0, old, 1), 0);
    EXPECT_EQ(j.stopValue, 99.0);
    EXPECT_EQ(j.judge(crit, close, old, 1), -1);
    EXPECT_EQ(j.stopValue, old);
    EXPECT_EQ(j.judge(crit, 101.0, old, 1), -1);
    EXPECT_EQ(j.judge(crit, old * (1 + fuzz / 2), old, -1), 0);
    EXPECT_EQ(j.judge(crit, 101.0, old, -1), -1);
    EXPECT_EQ(j.judge(crit, 150.0, hostMissing(), 1), 0); // no value yet: the step stands
    EXPECT_EQ(j.stopValue, 150.0);
  }
  // Larger is better (RSQUARE, ADJRSQ); with no value yet the step fails and keeps its value.
  for (int32_t crit : {5, 6}) {
    SCOPED_TRACE(crit);
    EXPECT_EQ(j.judge(crit, 0.6, 0.5, 1), 0);
    EXPECT_EQ(j.judge(crit, 0.5 * (1 + fuzz / 2), 0.5, 1), -1);
    EXPECT_EQ(j.judge(crit, 0.5 * (1 - fuzz / 2), 0.5, -1), 0);
    EXPECT_EQ(j.judge(crit, 0.4, 0.5, -1), -1);
    EXPECT_EQ(j.judge(crit, 0.4, hostMissing(), 1), -1);
    EXPECT_EQ(j.stopValue, 0.4);
  }
  // NONE and L1 never refuse a step; a missing value always does.
  for (int32_t crit : {12, 14})
    EXPECT_EQ(j.judge(crit, 1e300, 0.0, 1), 0) << crit;
  EXPECT_EQ(j.judge(4, hostMissing(), 100.0, 1), -1);
  EXPECT_EQ(j.m.stop.stopReason, VSR_NO_IMPROVEMENT);
  // A removal always stands once the fit is perfect.
  j.m.sse = 0.0;
  EXPECT_EQ(j.judge(4, 1e300, 100.0, -1), 0);
  j.m.sse = 50.0;
  // Without the stop test every step stands (STEPS= or STOP=n govern).
  j.opt.stopTest = 0;
  EXPECT_EQ(j.judge(4, 1e300, 100.0, 1), 0);
  j.opt.stopTest = 1;
  // METHOD=13 keeps a failed step and goes back to the sums of the last recorded one.
  j.m.sse = 12.0;
  EXPECT_EQ(j.judge(4, 101.0, 100.0, 1), -1);
  EXPECT_EQ(j.m.sse, 40.0);
  EXPECT_EQ(j.m.stop.stopAddValue, 101.0);
}

// A forward fit on classdata, then single moves judged by the rule with AIC.
struct Moves : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
};

Fit* forwardFit(const Design& d) {
  FitSetup s;
  s.method = VsfMethod::Forward;
  s.select = 2; // AIC
  s.choose = 9; // PRESS: the PRESS history exists
  Fit* fit = new Fit(d, s);
  fit->go();
  return fit;
}

bool inModel(const VsfModel& m, int32_t k) {
  for (int32_t i = 0; i < m.inModelCount; ++i)
    if (m.inModelList[i] == k)
      return true;
  return false;
}

// The first candidate the fit left out, -1 when there is none.
int32_t firstCandidateOut(const VsfModel& m) {
  for (int32_t e = 1; e < m.effectCount; ++e)
    if (!inModel(m, e) && m.effectStatus[e] == VES_CANDIDATE)
      return e;
  return -1;
}

TEST_F(Moves, ARefusedAdditionIsTakenOut) {
  const Design d = readDesign("classdata");
  std::unique_ptr<Fit> fit(forwardFit(d));
  ASSERT_EQ(fit->processRc, VsfStatus::Ok);
  VsfModel& m = fit->m();
  const int32_t k = firstCandidateOut(m);
  ASSERT_GE(k, 0) << "the forward fit left no effect out";
  const double sse = m.sse, press = m.press;
  const int32_t rank = m.rank, count = m.inModelCount;
  ASSERT_EQ(vsfAddEffect(&m, k, 0, 0), VsfStatus::Ok);
  ASSERT_TRUE(inModel(m, k));
  double stopValue = -DBL_MAX; // nothing can beat it
  int32_t result = 0;
  const double v = vsfGetCriterion(&m, VsfCriterion::Aic);
  ASSERT_EQ(vsfStopSelection(v, &m, 0, k, 1, &stopValue, &result), VsfStatus::Ok);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(m.stop.stopReason, VSR_NO_IMPROVEMENT);
  EXPECT_EQ(m.stop.stopAddEffect, k);
  EXPECT_EQ(m.stop.stopAddValue, v);
  EXPECT_FALSE(inModel(m, k));
  EXPECT_EQ(m.inModelCount, count);
  EXPECT_EQ(m.rank, rank);
  EXPECT_NEAR(m.sse, sse, 1e-9 * sse);
  EXPECT_EQ(m.press, press); // back to the last recorded step's
}

TEST_F(Moves, ARefusedRemovalIsEnteredAgain) {
  const Design d = readDesign("classdata");
  std::unique_ptr<Fit> fit(forwardFit(d));
  ASSERT_EQ(fit->processRc, VsfStatus::Ok);
  VsfModel& m = fit->m();
  ASSERT_GE(m.inModelCount, 3);
  const int32_t j = m.inModelList[m.inModelCount - 1];
  ASSERT_NE(j, 0);
  const double sse = m.sse, press = m.press;
  const int32_t rank = m.rank, count = m.inModelCount;
  vsfDropEffect(&m, j, 2);
  ASSERT_FALSE(inModel(m, j));
  ASSERT_GT(m.sse, sse);
  m.press = -1.0; // as the removal's own computation would leave it
  double stopValue = vsfGetCriterion(&m, VsfCriterion::Aic) - 10.0; // the removal is clearly worse
  int32_t result = 0;
  const double v = vsfGetCriterion(&m, VsfCriterion::Aic);
  ASSERT_EQ(vsfStopSelection(v, &m, 0, j, -1, &stopValue, &result), VsfStatus::Ok);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(m.stop.stopReason, VSR_NO_IMPROVEMENT);
  EXPECT_EQ(m.stop.stopDropEffect, j);
  EXPECT_EQ(m.stop.stopDropValue, v);
  EXPECT_TRUE(inModel(m, j));
  EXPECT_EQ(m.inModelCount, count);
  EXPECT_EQ(m.rank, rank);
  EXPECT_NEAR(m.sse, sse, 1e-9 * sse);
  EXPECT_EQ(m.press, press);
}

TEST_F(Moves, AStepAtTheEndOfALarPathIsUndoneAndKeepsItsReason) {
  const Design d = readDesign("classdata");
  for (VsfStopReason reason : {VSR_PATH_END, VSR_PATH_END2}) {
    std::unique_ptr<Fit> fit(forwardFit(d));
    ASSERT_EQ(fit->processRc, VsfStatus::Ok);
    VsfModel& m = fit->m();
    const int32_t k = firstCandidateOut(m);
    ASSERT_GE(k, 0);
    ASSERT_EQ(vsfAddEffect(&m, k, 0, 0), VsfStatus::Ok);
    m.stop.stopReason = reason;
    double stopValue = DBL_MAX; // the step itself would stand
    int32_t result = 0;
    ASSERT_EQ(
        vsfStopSelection(vsfGetCriterion(&m, VsfCriterion::Aic), &m, 0, k, 1, &stopValue, &result),
        VsfStatus::Ok);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(m.stop.stopReason, reason);
    EXPECT_FALSE(inModel(m, k));
  }
}

TEST_F(Moves, ChooseKeepsTheEarlierStepOnATieForAnAddition) {
  const Design d = readDesign("classdata");
  std::unique_ptr<Fit> fit(forwardFit(d));
  ASSERT_EQ(fit->processRc, VsfStatus::Ok);
  VsfModel& m = fit->m();
  fit->opt.choose = VsfCriterion::Sbc; // SBC, neither SELECT nor STOP: computed from the model
  const double v = vsfGetCriterion(&m, VsfCriterion::Sbc);
  m.chosen.chosenStep = 1;
  double chosen = v; // a tie
  vsfChoose(0, 0, &m, &chosen, 1);
  EXPECT_EQ(m.chosen.chosenStep, 1);
  vsfChoose(0, 0, &m, &chosen, -1); // a removal takes the tie
  EXPECT_EQ(m.chosen.chosenStep, m.history.stepCount);
  m.chosen.chosenStep = 1;
  chosen = v + 1.0;
  vsfChoose(0, 0, &m, &chosen, 1);
  EXPECT_EQ(m.chosen.chosenStep, m.history.stepCount);
  EXPECT_EQ(chosen, v);
  fit->opt.choose = VsfCriterion::NoneGiven; // no CHOOSE=: nothing moves
  m.chosen.chosenStep = 1;
  vsfChoose(0, 0, &m, &chosen, 1);
  EXPECT_EQ(m.chosen.chosenStep, 1);
}

TEST_F(Moves, StartValuesComeFromTheLastRecordedStep) {
  const Design d = readDesign("classdata");
  std::unique_ptr<Fit> fit(forwardFit(d));
  ASSERT_EQ(fit->processRc, VsfStatus::Ok);
  VsfModel& m = fit->m();
  VsfModelOptions& o = fit->opt;
  const int32_t s = m.history.stepCount;
  const double sse = m.history.stepSSE[s - 1], n = m.totals.nObs;
  const int32_t p = m.history.stepRank[s - 1];
  o.select = VsfCriterion::Sbc;
  o.stop = VsfCriterion::Aic;
  o.choose = VsfCriterion::RSquare;
  double stop, choose, select;
  vsfInitCriteria(&m, &stop, &choose, &select);
  EXPECT_EQ(stop, vsfAic(p, sse, n));
  EXPECT_EQ(select, vsfSbc(p, sse, n));
  EXPECT_EQ(choose, vsfRsquare(sse, m.totalSS));
  o.select = VsfCriterion::Sl; // SL has no start value; STOP 0 takes SELECT's
  o.stop = VsfCriterion::NoneGiven;
  vsfInitCriteria(&m, &stop, &choose, &select);
  EXPECT_TRUE(isHostMissing(select));
  EXPECT_TRUE(isHostMissing(stop));
  // External cross validation: the final fit starts from the curve's first point.
  std::vector<double> curve = {3.5, 2.0};
  o.cvExternal = 1;
  m.cvexPass.cvexCurve = curve.data();
  m.cv.foldCount = 4;
  m.cvexPass.heldOutFold = 4;
  m.cvexPass.heldOutError = 9.0;
  vsfInitCriteria(&m, &stop, &choose, &select);
  EXPECT_EQ(choose, 3.5);
  m.cvexPass.heldOutFold = 1; // a fold fit: its own held-out error
  vsfInitCriteria(&m, &stop, &choose, &select);
  EXPECT_EQ(choose, 9.0);
  o.cvExternal = 0;
  m.cvexPass.cvexCurve = nullptr;
  // Before any step the smaller-is-better criteria start at DBL_MAX, the others at -DBL_MAX.
  m.history.stepCount = 0;
  o.select = VsfCriterion::Aic;
  o.stop = VsfCriterion::Sbc;
  o.choose = VsfCriterion::AdjRsq;
  vsfInitCriteria(&m, &stop, &choose, &select);
  EXPECT_EQ(stop, DBL_MAX);
  EXPECT_EQ(select, DBL_MAX);
  EXPECT_EQ(choose, -DBL_MAX);
  m.history.stepCount = s;
}

// The reasons the methods give themselves, through whole fits.
struct MethodReasons : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
  static int run(const Design& d, VsfMethod method, int32_t select,
                 void (*adjust)(VsfModelOptions&)) {
    FitSetup s;
    s.method = method;
    s.select = select;
    Fit fit(d, s);
    if (adjust != nullptr)
      adjust(fit.opt);
    fit.go();
    EXPECT_EQ(fit.processRc, VsfStatus::Ok);
    EXPECT_EQ(fit.m().fitStatus, VsfFitStatus::Done);
    return fit.m().stop.stopReason;
  }
};

TEST_F(MethodReasons, EachMethodEndsWithItsOwnReason) {
  const Design d = readDesign("classdata");
  EXPECT_EQ(run(d, VsfMethod::None, 4, nullptr), int(VSR_LEAST_SQUARES));
  // FORWARD by SBC until SBC gets no better
  EXPECT_EQ(run(d, VsfMethod::Forward, 4, nullptr), int(VSR_NO_IMPROVEMENT));
  // STEPWISE by SL with STEPS= beyond what enters: the method ends by SL itself
  EXPECT_EQ(
      run(d, VsfMethod::Stepwise, 1, [](VsfModelOptions& o) { o.steps = 50, o.stopTest = 0; }),
      int(VSR_STEPWISE_SL));
  EXPECT_EQ(
      run(d, VsfMethod::Stepwise, 4, [](VsfModelOptions& o) { o.steps = 50, o.stopTest = 0; }),
      int(VSR_STEPWISE_OTHER));
  // STEPWISE that lets a weak effect in and takes it out again: it would come back
  EXPECT_EQ(run(d, VsfMethod::Stepwise, 1,
                [](VsfModelOptions& o) { o.slEntry = 0.99, o.slStay = 0.001; }),
            int(VSR_CYCLING));
}

// A hierarchy count that never reaches zero leaves a candidate that cannot enter.
TEST_F(MethodReasons, NoCandidateLeft) {
  const Design d = readDesign("classdata");
  static int32_t addInit[6] = {0, 0, 0, 0, 0, 1}; // x2 waits for an entry no list brings
  static int32_t dropInit[6] = {0, 0, 0, 0, 0, 0};
  static int32_t* lists[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  auto hierarchy = [](VsfModelOptions& o) {
    o.hierarchy = VsfHierarchy::Single;
    o.hierAddCountInit = addInit;
    o.hierDropCountInit = dropInit;
    o.hierListA = lists;
    o.hierListB = lists;
    o.slEntry = 1.0; // everything that may enter enters
  };
  EXPECT_EQ(run(d, VsfMethod::Forward, 1, hierarchy), int(VSR_NO_CANDIDATE));
}

} // namespace
