// Classic selection against the independent reference (numpy least squares at every
// step, textbook criteria, scripts/gen_selection_ref.py): for the diabetes data and a data
// set with a 3- and a 4-level CLASS variable and their crossing, FORWARD, BACKWARD and
// STEPWISE by each criterion enter or remove the same effects in the same order with the
// same SSE, R-square and criterion value, whichever way the cross products are formed.
#include "selection/fitfixture.h"

#include "model/vsfformulas.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace fittest;

namespace {

VsfMethod methodCode(const std::string& m) {
  return m == "NONE"       ? VsfMethod::None
         : m == "FORWARD"  ? VsfMethod::Forward
         : m == "BACKWARD" ? VsfMethod::Backward
                           : VsfMethod::Stepwise;
}

void expectRel(double got, double want, double tol, const std::string& what) {
  const double scale = std::max(std::fabs(want), 1e-300);
  EXPECT_LE(std::fabs(got - want) / scale, tol) << what << ": got " << got << " want " << want;
}

struct Case {
  std::string data, method, crit;
  bool full;
  int32_t fullSweep;
};

void checkCase(const Case& c) {
  static std::map<std::string, Design> designs;
  static std::map<std::string, std::vector<StepRef>> refs;
  if (!designs.count(c.data)) {
    designs[c.data] = readDesign(c.data);
    refs[c.data] = readSteps(c.data);
  }
  std::vector<StepRef> want;
  for (const StepRef& r : refs[c.data])
    if (r.method == c.method && r.criterion == c.crit)
      want.push_back(r);
  ASSERT_FALSE(want.empty());
  FitSetup s;
  s.method = methodCode(c.method);
  s.select = codeOf(c.crit);
  s.full = c.full;
  s.fullSweep = c.fullSweep;
  s.drop = c.method == "COMPETITIVE" ? 2 : 1;
  Fit fit(designs[c.data], s);
  fit.go();
  const std::string tag = c.data + " " + c.method + " " + c.crit + (c.full ? " full" : " grown") +
                          " sweep " + std::to_string(c.fullSweep);
  ASSERT_EQ(fit.readRc, 0) << tag;
  ASSERT_EQ(fit.initRc, VsfStatus::Ok) << tag;
  ASSERT_EQ(fit.processRc, VsfStatus::Ok) << tag;
  VsfModel& m = fit.m();
  ASSERT_EQ(m.fitStatus, VsfFitStatus::Done) << tag;
  EXPECT_EQ(m.history.stepCount, static_cast<int32_t>(want.size())) << tag;
  for (int32_t st = 0;
       st < std::min<int32_t>(m.history.stepCount, static_cast<int32_t>(want.size())); ++st) {
    const StepRef& r = want[st];
    const std::string at = tag + " step " + std::to_string(st);
    EXPECT_EQ(m.history.stepEffect[st], r.effect) << at;
    EXPECT_EQ(m.history.stepRank[st], r.rank) << at;
    expectRel(m.history.stepSSE[st], r.sse, 1e-10, at + " SSE");
    expectRel(vsfRsquare(m.history.stepSSE[st], m.totalSS), r.rsquare, 1e-10, at + " R-square");
    if (r.hasValidate)
      expectRel(m.history.stepValidateAse[st], r.validate, 1e-10, at + " validation ASE");
    if (r.hasTest)
      expectRel(m.history.stepTestAse[st], r.test, 1e-10, at + " test ASE");
    if (!r.missing && st > 0) {
      const double v = stepCriterion(m, codeOf(c.crit), st);
      ASSERT_FALSE(isHostMissing(v)) << at;
      // The F tail of the numerical library agrees with the reference to about 1e-9. CP is
      // SSE/sigma^2 + 2p - n, a difference of terms of size n: it is compared on that scale.
      if (c.crit == "CP")
        EXPECT_LE(std::fabs(v - r.value) / std::max(std::fabs(r.value), m.totals.nObs), 1e-10)
            << at;
      else
        expectRel(v, r.value, c.crit == "SL" ? 1e-8 : 1e-10, at + " " + c.crit);
    }
  }
}

struct Reference : ::testing::TestWithParam<std::tuple<std::string, std::string, std::string>> {
  void SetUp() override { datatest::setUpHost(); }
};

TEST_P(Reference, StepsMatchTheIndependentComputation) {
  const auto& [data, method, crit] = GetParam();
  // Full X'X; grown on demand with incremental extension; grown and re-swept in full.
  checkCase({data, method, crit, true, 1});
  checkCase({data, method, crit, false, 1});
  checkCase({data, method, crit, false, 2});
}

INSTANTIATE_TEST_SUITE_P(Classic, Reference,
                         ::testing::Combine(::testing::Values("diabetes", "classdata"),
                                            ::testing::Values("FORWARD", "BACKWARD", "STEPWISE",
                                                              "COMPETITIVE"),
                                            ::testing::Values("SL", "AIC", "AICC", "SBC", "BIC",
                                                              "CP", "ADJRSQ", "PRESS")),
                         [](const auto& info) {
                           return std::get<0>(info.param) + "_" + std::get<1>(info.param) + "_" +
                                  std::get<2>(info.param);
                         });

// Rows in TRAIN, VALIDATE and TEST roles: the fit uses the TRAIN rows; VALIDATE selects by
// the validation rows' prediction error, and every step's test error matches.
struct Partition : ::testing::TestWithParam<std::tuple<std::string, std::string>> {
  void SetUp() override { datatest::setUpHost(); }
};

TEST_P(Partition, StepsMatchTheIndependentComputation) {
  const auto& [method, crit] = GetParam();
  checkCase({"partition", method, crit, true, 1});
  checkCase({"partition", method, crit, false, 1});
}

INSTANTIATE_TEST_SUITE_P(Roles, Partition,
                         ::testing::Combine(::testing::Values("FORWARD", "BACKWARD", "STEPWISE"),
                                            ::testing::Values("VALIDATE", "SBC", "SL")),
                         [](const auto& info) {
                           return std::get<0>(info.param) + "_" + std::get<1>(info.param);
                         });

TEST(ReferenceInclude, ForcedEffectsThenStepsAdditions) {
  datatest::setUpHost();
  for (const char* data : {"diabetes", "classdata"}) {
    std::vector<StepRef> want;
    for (const StepRef& r : readSteps(data))
      if (r.method == "FORWARD_INCLUDE")
        want.push_back(r);
    ASSERT_EQ(want.size(), 6u);
    for (bool full : {true, false}) {
      FitSetup s;
      s.select = 4;
      s.full = full;
      s.forcedIn = 3; // INCLUDE=2 and the intercept
      s.choose = 4;
      Fit fit(readDesign(data), s);
      fit.opt.steps = 3;
      fit.opt.stopTest = 0; // STEPS= governs
      fit.go();
      ASSERT_EQ(fit.processRc, VsfStatus::Ok);
      VsfModel& m = fit.m();
      ASSERT_EQ(m.history.stepCount, 6) << data;
      EXPECT_EQ(m.stop.stopReason, VSR_STEPS);
      EXPECT_GE(m.chosen.chosenStep, 2); // the choice starts at the last forced step
      EXPECT_EQ(m.effectStatus[0], VES_INTERCEPT);
      EXPECT_EQ(m.effectStatus[1], VES_FORCED);
      EXPECT_EQ(m.effectStatus[2], VES_FORCED);
      for (int32_t st = 0; st < 6; ++st) {
        EXPECT_EQ(m.history.stepEffect[st], want[st].effect) << data << " step " << st;
        expectRel(m.history.stepSSE[st], want[st].sse, 1e-10, "SSE");
      }
    }
  }
}

TEST(ReferenceNone, EveryEffectEntersInOrder) {
  datatest::setUpHost();
  for (const char* data : {"diabetes", "classdata"})
    for (bool full : {true, false})
      checkCase({data, "NONE", "SBC", full, 1});
}

} // namespace
