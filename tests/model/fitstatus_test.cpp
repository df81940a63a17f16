// Conditions of the data that end a BY group's fit with a fit status instead of a model:
// a response without variance, fewer rows than parameters, all rows missing; aliased
// columns found by the sweep tolerance; a failing data pass and a failing step-record
// write end the fit with their codes and messages.
#include "selection/fitfixture.h"

#include "host/ext/qkpgf.h"
#include "host/testswitches.h"
#include "model/vsfserialize.h"
#include "selection/vsfprocess.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace fittest;

namespace {

struct FitStatus : ::testing::Test {
  void SetUp() override {
    datatest::setUpHost();
    datatest::loggedNumbers();
  }
  void TearDown() override {
    qrxhost::failUtilityIoAt(0);
    EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  }
  static Design firstRows(int n) {
    Design d = readDesign("diabetes");
    d.y.resize(n);
    d.x.resize(n);
    return d;
  }
  static bool logged(VsfMsg m) {
    auto all = datatest::loggedNumbers();
    return std::find(all.begin(), all.end(), MsgId(m)) != all.end();
  }
};

TEST_F(FitStatus, ResponseWithoutVariance) {
  Design d = firstRows(40);
  std::fill(d.y.begin(), d.y.end(), 7.5);
  {
    FitSetup s;
    s.select = 4; // SBC: the intercept fits perfectly, nothing more is tried
    Fit fit(d, s);
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok);
    EXPECT_EQ(fit.m().fitStatus, VsfFitStatus::Done);
    EXPECT_EQ(fit.m().history.stepCount, 1);
    EXPECT_EQ(fit.m().stop.stopReason, VSR_PERFECT_FIT);
  }
  {
    FitSetup s;
    s.select = 7; // CP needs the full model's variance, which is 0
    Fit fit(d, s);
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok);
    EXPECT_EQ(fit.m().fitStatus, VsfFitStatus::ZeroFullMse);
    EXPECT_EQ(fit.m().history.stepCount, 0);
    EXPECT_EQ(vsfFitStatusMessage(fit.m().fitStatus), 132);
  }
}

TEST_F(FitStatus, FewerRowsThanParametersKeepsTheRankAndDropsAliasedEffects) {
  const Design d = firstRows(6); // 6 rows, 11 parameters
  for (bool full : {true, false}) {
    FitSetup s;
    s.method = VsfMethod::Backward;
    s.select = 4;
    s.full = full;
    Fit fit(d, s);
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok);
    VsfModel& m = fit.m();
    // The full model has rank 6: five effects have no swept column and leave before step 0.
    EXPECT_EQ(m.aliasDrops.aliasDropCount, 5);
    EXPECT_EQ(m.history.stepRank[0], 6);
    EXPECT_EQ(m.history.stepEffects[0], 6);
  }
  {
    FitSetup s;
    s.select = 8; // BIC: the full model's variance is 0 (n = rank)
    Fit fit(d, s);
    fit.go();
    EXPECT_EQ(fit.m().fitStatus, VsfFitStatus::Done); // BIC alone does not need a positive variance
    FitSetup c;
    c.select = 7;
    Fit cp(d, c);
    cp.go();
    EXPECT_EQ(cp.m().fitStatus, VsfFitStatus::ZeroFullMse);
  }
}

TEST_F(FitStatus, AllRowsMissing) {
  Design d = firstRows(20);
  FitSetup s;
  Fit fit(d, s);
  for (auto& o : fit.src.rows)
    o.status = LevRowStatus::Response;
  fit.go();
  ASSERT_EQ(fit.readRc, 0);
  ASSERT_EQ(fit.initRc, VsfStatus::Ok);
  EXPECT_EQ(fit.processRc, VsfStatus::Ok);
  EXPECT_EQ(fit.m().fitStatus, VsfFitStatus::NoTrain);
  EXPECT_EQ(fit.m().history.stepCount, 0);
  EXPECT_EQ(vsfFitStatusMessage(VsfFitStatus::NoTrain), 131);
}

TEST_F(FitStatus, DuplicatedColumnIsAliasedWithVarianceMinusOne) {
  Design d = firstRows(60);
  d.widths.push_back(1);
  for (auto& row : d.x)
    row.push_back(row[2] * 1.0); // BMI again
  for (bool full : {true, false}) {
    FitSetup s;
    s.method = VsfMethod::None;
    s.select = 4;
    s.full = full;
    Fit fit(d, s);
    fit.go();
    ASSERT_EQ(fit.processRc, VsfStatus::Ok);
    VsfModel& m = fit.m();
    EXPECT_EQ(m.rank, 11);
    EXPECT_EQ(m.inModelCount, 12);
    const int32_t dup = m.parmOffset[11];
    EXPECT_EQ(m.betaVariance[dup], -1.0);
    EXPECT_EQ(m.beta[dup], 0.0);
    EXPECT_GT(m.betaVariance[m.parmOffset[3]], 0.0);
    EXPECT_EQ(m.stop.stopReason, VSR_LEAST_SQUARES);
  }
}

// Fails the n-th page read or write after the pages are made, for n = 1, 1 + stride, ...
// until the fit gets through: each failure ends the fit with a negative status and message
// 848/9103, and never with a model built from partial sums. Returns the failed runs.
int failEveryNthPageIo(const Design& d, const FitSetup& s, int stride,
                       void (*adjust)(VsfModelOptions&) = nullptr) {
  bool finished = false;
  int failures = 0;
  for (int n = 1; n < 3000 && !finished; n += stride) {
    Fit fit(d, s);
    if (adjust != nullptr)
      adjust(fit.opt);
    EXPECT_EQ(fit.run.read(fit.src), 0);
    VsfModel& m = fit.m();
    m.options = &fit.opt;
    m.fuzz = fit.opt.fuzz;
    EXPECT_EQ(vsfModelInit(&m), VsfStatus::Ok);
    datatest::loggedNumbers();
    qrxhost::failUtilityIoAt(n);
    (void)vsfProcessModel(&m); // the fit status says how it ended
    qrxhost::failUtilityIoAt(0);
    if (m.fitStatus == VsfFitStatus::Done) {
      finished = true;
      EXPECT_FALSE(FitStatus::logged(VsfMsg::DataPagePassFailed));
      EXPECT_GT(m.history.stepCount, 2);
    } else {
      EXPECT_TRUE(vsfFitFailed(m.fitStatus)) << n;
      EXPECT_TRUE(FitStatus::logged(VsfMsg::DataPagePassFailed)) << n;
      ++failures;
    }
  }
  EXPECT_TRUE(finished);
  return failures;
}

TEST_F(FitStatus, FailingDataPassEndsTheFitWithItsMessage) {
  // Failures in the driver's passes and in a method's (new rows of an entering effect,
  // stored cross products, PRESS).
  const Design d = readDesign("diabetes");
  for (bool full : {true, false}) {
    FitSetup s;
    s.disk = true;
    s.full = full;
    s.choose = 9;                                            // PRESS after every step
    EXPECT_GT(failEveryNthPageIo(d, s, full ? 13 : 37), 10); // not only the first pass
  }
}

// STEPWISE with a STOP= criterion of its own takes the effect that stays out and back in
// again to learn the stop details of a removal: a failure of either move ends the fit with
// its message, never a model without that effect.
TEST_F(FitStatus, FailingStopDetailsMoveOfStepwiseEndsTheFit) {
  const Design d = readDesign("diabetes");
  FitSetup s;
  s.disk = true;
  s.full = false; // every move makes a pass over the pages
  s.method = VsfMethod::Stepwise;
  s.select = 1; // SL
  // SBC: the stop details need their own criterion
  EXPECT_GT(failEveryNthPageIo(d, s, 7, [](VsfModelOptions& o) { o.stop = VsfCriterion::Sbc; }),
            10);
}

TEST_F(FitStatus, FailingStepRecordWriteEndsTheFit) {
  const Design d = readDesign("diabetes");
  for (int n = 1; n <= 3; ++n) {
    FitSetup s;
    s.records = true;
    Fit fit(d, s);
    ASSERT_NE(fit.scratch.file, nullptr);
    ASSERT_EQ(fit.run.read(fit.src), 0);
    VsfModel& m = fit.m();
    m.options = &fit.opt;
    m.fuzz = fit.opt.fuzz;
    m.scratchHolder = &fit.scratch;
    ASSERT_EQ(vsfModelInit(&m), VsfStatus::Ok);
    qrxhost::failUtilityIoAt(n); // within the first step record's writes
    (void)vsfProcessModel(&m);   // the fit status says how it ended
    qrxhost::failUtilityIoAt(0);
    EXPECT_EQ(m.fitStatus, VsfFitStatus::Failed) << n;
    EXPECT_EQ(m.fitFailure, VsfStatus::PageNotWritten) << n;
    EXPECT_EQ(m.history.stepCount, 1) << n; // the step stays in the history
    EXPECT_TRUE(logged(VsfMsg::StepRecordNotWritten)) << n;
  }
}

} // namespace

namespace {

TEST_F(FitStatus, RoadsNotBuiltYetFailWithTheirMessage) {
  const Design d = firstRows(50);
  {
    FitSetup s;
    Fit fit(d, s);
    ASSERT_EQ(fit.run.read(fit.src), 0);
    VsfModel& m = fit.m();
    m.options = &fit.opt;
    // Model averaging is built, but never runs without its resamplers.
    fit.opt.modelAverage = 1;
    EXPECT_EQ(vsfProcess(&m, nullptr), VsfStatus::InternalError);
    EXPECT_EQ(m.history.stepCount, 0);
    fit.opt.modelAverage = 0;
  }
  for (VsfMethod method : {VsfMethod::Lar, VsfMethod::Lasso, VsfMethod::GroupLasso}) {
    FitSetup s;
    s.method = method;
    Fit fit(d, s);
    fit.go();
    EXPECT_EQ(fit.processRc, VsfStatus::InternalError);
    EXPECT_TRUE(vsfFitFailed(fit.m().fitStatus));
    EXPECT_EQ(fit.m().history.stepCount, 0);
    EXPECT_TRUE(logged(VsfMsg::RoadFitNotAvailable));
  }
  {
    // Cross validation with a single fold is a condition of the data, reported as such.
    FitSetup s;
    Fit fit(d, s);
    fit.opt.cvOn = 1;
    fit.run.settings.cv = 1;
    fit.run.settings.cvMethod = VsfCvMethod::Block;
    fit.run.settings.folds = 1;
    fit.go();
    EXPECT_EQ(fit.processRc, VsfStatus::Ok);
    EXPECT_EQ(fit.m().fitStatus, VsfFitStatus::SingleFold);
  }
}

} // namespace

// A failing step's status is kept beside the fit status, never read as one: a status whose
// code equals a fit status's (DesignNamesFailed, -100, and ZeroFullMse) or is positive
// (NoOutputBlock) still says the fit failed, with the general message.
TEST(FitStatusType, AFailingStepIsNotReadAsAnotherFitStatus) {
  VsfModel m{};
  for (const VsfStatus failure : {VsfStatus::DesignNamesFailed, VsfStatus::NoOutputBlock}) {
    vsfSetFitFailure(&m, failure);
    EXPECT_EQ(m.fitStatus, VsfFitStatus::Failed);
    EXPECT_EQ(m.fitFailure, failure);
    EXPECT_TRUE(vsfFitFailed(m.fitStatus));
    EXPECT_EQ(vsfFitStatusMessage(m.fitStatus), 133);
  }
  vsfSetFitFailure(&m, VsfStatus::NoMemory);
  EXPECT_EQ(m.fitStatus, VsfFitStatus::NoMemory);
}
