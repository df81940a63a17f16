// The result printers through the stand-in host's output manager, on fits whose step
// history the test sets: the selection summary with its optimal markers, the optimal-step
// rules, parameter estimates, observation counts, stop reasons, candidates, the selected
// effects and the _VSFIND macro variables.
#include "resultsfixture.h"

#include "host/hostlog.h"
#include "host/macros.h"
#include "msgid.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"

#include <cmath>
#include <fstream>
#include <sstream>
#include <utility>

using namespace restest;

namespace {

// Schwarz's criterion of a least-squares fit: n ln(SSE/n) + p ln(n).
double sbc(double sse, double n, int p) { return n * std::log(sse / n) + p * std::log(n); }

struct Printers : ResultsFixture {
  void forwardPath() {
    setEffects({"Intercept", "X1", "X2", "X3"});
    VsfModel& m = ctx->model;
    m.totalSS = 100.0;
    m.totalSSUncorrected = 500.0;
    m.totals.nObs = 20;
    m.totals.wTrain = 20;
    m.includeCount = 1;
    setHistory({0, 2, 1}, {1, 2, 3}, {1, 2, 3}, {100.0, 40.0, 30.0});
    ctx->options.statAll = 1;
  }
};

TEST_F(Printers, ForwardSummaryRowsCriteriaAndMarkers) {
  forwardPath();
  int32_t optimal[kVsfCriterionCount], chosen = 0;
  RvqText* ref = nullptr;
  ASSERT_EQ(vsfpOptStep(ctx.get(), &ctx->model, optimal, &chosen, &ref), VsfStatus::Ok);
  ASSERT_EQ(vsfpSummary(ctx.get(), &ctx->model, pool, optimal, &ref), VsfStatus::Ok);
  auto out = output();
  auto tables = find(out, "SelectionSummary");
  ASSERT_EQ(tables.size(), 1u);
  const auto& t = *tables[0];
  EXPECT_EQ(t["template"].s, "Stat.VARSIFTER.SelectionSummary");
  EXPECT_EQ(columnIndex(t, "EffectRemoved"), -1) << "FORWARD removes nothing";
  ASSERT_EQ(t["rows"].items.size(), 3u);
  const char* entered[] = {"Intercept", "X2", "X1"};
  const char* control[] = {"", "-", ""};
  double best = 1e300;
  size_t bestRow = 0;
  for (size_t r = 0; r < 3; ++r) {
    EXPECT_EQ(number(t, r, "Step"), r);
    EXPECT_EQ(cell(t, r, "EffectEntered"), entered[r]);
    EXPECT_EQ(number(t, r, "nEffectsIn"), r + 1);
    EXPECT_EQ(cell(t, r, "Control"), control[r]);
    const double sse = ctx->model.history.stepSSE[r];
    const double expect = sbc(sse, 20, static_cast<int>(r) + 1);
    EXPECT_NEAR(number(t, r, "SBC"), expect, 1e-12 * std::fabs(expect));
    EXPECT_NEAR(number(t, r, "RSquare"), 1 - sse / 100.0, 1e-14);
    EXPECT_NEAR(number(t, r, "ASE"), sse / 20, 1e-14);
    if (expect < best)
      best = expect, bestRow = r;
  }
  for (size_t r = 0; r < 3; ++r)
    EXPECT_EQ(number(t, r, "OptSBC"), r == bestRow ? 1 : 0);
  // F test of entry 1 against entry 0: ((100 - 40) / 1) / (40 / 18).
  EXPECT_NEAR(number(t, 1, "FValue"), 60.0 / (40.0 / 18), 1e-10);
  EXPECT_EQ(chosen, 2) << "the last step is chosen without CHOOSE=";
}

TEST_F(Printers, StepwiseRemovalAndTheFuzzTieRule) {
  setEffects({"Intercept", "X1", "X2"});
  VsfModel& m = ctx->model;
  m.totalSS = 100.0;
  m.totals.nObs = 20;
  m.totals.wTrain = 20;
  m.includeCount = 1;
  ctx->options.method = VsfMethod::Stepwise;
  // Step 1 enters X1, step 2 enters X2, step 3 removes X1 and returns to the SSE of step 1
  // with the same size: the tie goes to the later step.
  setHistory({0, 1, 2, 1}, {1, 2, 3, 2}, {1, 2, 3, 2}, {100.0, 40.0, 38.0, 40.0});
  ASSERT_LT(sbc(40, 20, 2), sbc(38, 20, 3));
  int32_t optimal[kVsfCriterionCount], chosen = 0;
  RvqText* ref = nullptr;
  ASSERT_EQ(vsfpOptStep(ctx.get(), &m, optimal, &chosen, &ref), VsfStatus::Ok);
  EXPECT_EQ(optimal[vsfCriterionSlot(VsfCriterion::Sbc)], 3);
  EXPECT_EQ(ctx->results.optimalStep[vsfCriterionSlot(VsfCriterion::Sbc)], 3);
  ASSERT_EQ(vsfpSummary(ctx.get(), &m, pool, optimal, &ref), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "SelectionSummary").at(0);
  ASSERT_EQ(t["rows"].items.size(), 4u);
  EXPECT_EQ(cell(t, 3, "EffectRemoved"), "X1");
  EXPECT_EQ(cell(t, 3, "EffectEntered"), "");
  EXPECT_EQ(number(t, 3, "nEffectsIn"), 2);
  EXPECT_EQ(number(t, 1, "OptSBC"), 0);
  EXPECT_EQ(number(t, 3, "OptSBC"), 1);
}

TEST_F(Printers, NoStartingEntriesNumberStepsFromOne) {
  setEffects({"Intercept", "X1", "X2"});
  VsfModel& m = ctx->model;
  m.totalSS = 100.0;
  m.totals.nObs = 20;
  m.totals.wTrain = 20;
  ctx->options.noint = 1;
  setHistory({1, 2}, {1, 2}, {1, 2}, {50.0, 45.0});
  int32_t optimal[kVsfCriterionCount], chosen = 0;
  RvqText* ref = nullptr;
  ASSERT_EQ(vsfpOptStep(ctx.get(), &m, optimal, &chosen, &ref), VsfStatus::Ok);
  ASSERT_EQ(vsfpSummary(ctx.get(), &m, pool, optimal, &ref), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "SelectionSummary").at(0);
  ASSERT_EQ(t["rows"].items.size(), 2u);
  EXPECT_EQ(number(t, 0, "Step"), 1);
  EXPECT_EQ(number(t, 1, "Step"), 2);
  EXPECT_EQ(cell(t, 0, "Control"), "");
  EXPECT_EQ(chosen, 2);
}

std::vector<double> tprobRow() {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/results/tprob_ref.txt");
  std::string line;
  std::getline(in, line); // header
  std::getline(in, line);
  std::istringstream s(line);
  std::vector<double> v(3);
  s >> v[0] >> v[1] >> v[2];
  return v;
}

TEST_F(Printers, ParameterEstimatesStandardErrorsAndTests) {
  setEffects({"Intercept", "X1", "X2"});
  VsfModel& m = ctx->model;
  // t = 2.5 with 10 error degrees of freedom (reference: scipy's t tail).
  std::vector<double> ref = tprobRow();
  ASSERT_EQ(ref[0], 2.5);
  m.totals.nObs = 13;
  m.rank = 3;
  m.sse = 10.0; // MSE 1
  m.effectStatus[0] = 2;
  m.effectStatus[1] = 1;
  m.effectStatus[2] = 1;
  m.beta[0] = 5.0, m.betaVariance[0] = 4.0;  // StdErr 2
  m.beta[1] = 2.5, m.betaVariance[1] = 1.0;  // t 2.5
  m.beta[2] = 0.7, m.betaVariance[2] = -1.0; // not estimable
  m.inModelCount = 3;
  for (int k = 0; k < 3; ++k)
    m.inModelList[k] = k;
  ASSERT_EQ(vsfpParmEst(ctx.get(), &m, pool, 0), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "ParameterEstimates").at(0);
  ASSERT_EQ(t["rows"].items.size(), 3u);
  EXPECT_EQ(cell(t, 1, "Effect"), "X1");
  EXPECT_EQ(number(t, 0, "StdErr"), 2.0);
  EXPECT_EQ(number(t, 0, "tValue"), 2.5);
  EXPECT_NEAR(number(t, 1, "Probt"), ref[2], 1e-10);
  EXPECT_EQ(number(t, 1, "DF"), 1);
  EXPECT_EQ(number(t, 2, "DF"), 0);
  EXPECT_EQ(number(t, 2, "Estimate"), 0.0);
  EXPECT_TRUE(std::isnan(number(t, 2, "StdErr")));
  EXPECT_TRUE(std::isnan(number(t, 2, "Probt")));
}

TEST_F(Printers, PerfectFitShowsInfiniteTValues) {
  setEffects({"Intercept", "X1"});
  VsfModel& m = ctx->model;
  m.totals.nObs = 10, m.rank = 2, m.sse = 0.0;
  m.effectStatus[0] = 2, m.effectStatus[1] = 1;
  m.beta[0] = 1.0, m.betaVariance[0] = 0.5;
  m.beta[1] = -3.0, m.betaVariance[1] = 0.5;
  m.inModelCount = 2;
  m.inModelList[1] = 1;
  ASSERT_EQ(vsfpParmEst(ctx.get(), &m, pool, 0), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "ParameterEstimates").at(0);
  EXPECT_TRUE(std::isinf(number(t, 0, "tValue")) && number(t, 0, "tValue") > 0);
  EXPECT_TRUE(std::isinf(number(t, 1, "tValue")) && number(t, 1, "tValue") < 0);
  EXPECT_EQ(number(t, 1, "Probt"), 0.0);
}

TEST_F(Printers, ObservationCountsWithoutPartition) {
  setEffects({"Intercept"});
  VsfModel& m = ctx->model;
  m.totals.nRead = 442, m.totals.nUsed = 440, m.totals.freqRead = 442, m.totals.freqUsed = 440;
  ASSERT_EQ(vsfpNobs(ctx.get(), &m), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "NObs").at(0);
  EXPECT_EQ(columnNames(t), (std::vector<std::string>{"Label", "N", "NObsRead", "NObsUsed",
                                                      "SumFreqsRead", "SumFreqsUsed"}));
  ASSERT_EQ(t["rows"].items.size(), 2u);
  EXPECT_EQ(number(t, 0, "N"), 442);
  EXPECT_EQ(number(t, 1, "N"), 440);
}

TEST_F(Printers, StopReasonTextsAndTheFittedWithoutSelectionCase) {
  setEffects({"Intercept"});
  ASSERT_EQ(vsfpStopReason(ctx.get(), 9, 0), VsfStatus::Ok);
  ASSERT_EQ(vsfpStopReason(ctx.get(), 4, 3), VsfStatus::Ok);
  auto out = output();
  auto tables = find(out, "StopReason");
  ASSERT_EQ(tables.size(), 1u) << "stop reason 9 prints nothing";
  EXPECT_EQ(number(*tables[0], 0, "Code"), 4);
  EXPECT_NE(cell(*tables[0], 0, "Reason").find("SBC"), std::string::npos);
}

TEST_F(Printers, CandidatesRankedBestFirstAndCut) {
  std::vector<std::string> effects = {"Intercept"};
  for (int i = 1; i <= 12; ++i)
    effects.push_back(std::string("C").append(std::to_string(i)));
  setEffects(effects);
  VsfModel& m = ctx->model;
  setHistory({0, 3}, {1, 2}, {1, 2}, {100, 90});
  for (int i = 1; i <= 12; ++i)
    m.candidateValue[i] = 50.0 + ((i * 7) % 12); // a permutation of 50..61
  ASSERT_EQ(vsfpCandidates(ctx.get(), &m), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "Candidates").at(0);
  ASSERT_EQ(t["rows"].items.size(), 10u);
  for (size_t r = 0; r < 10; ++r) {
    EXPECT_EQ(number(t, r, "Rank"), r + 1);
    EXPECT_EQ(number(t, r, "SBC"), 50.0 + r);
  }
  // 50 + (i*7 mod 12) = 50 at i = 12.
  EXPECT_EQ(cell(t, 0, "Effect"), "C12");
}

TEST_F(Printers, SelectedEffectsAndMacroVariables) {
  setEffects({"Intercept", "X1", "X2", "X3"});
  VsfModel& m = ctx->model;
  m.effectStatus[0] = 2, m.effectStatus[1] = 1, m.effectStatus[3] = 3;
  ctx->maxMacro = 2;
  qrxhost::clearMacros();
  (void)qrxhost::takeLog();
  for (int g = 1; g <= 4; ++g)
    ASSERT_EQ(vsfMakeMacroVar(ctx.get(), g), VsfStatus::Ok);
  EXPECT_EQ(qrxhost::getMacro("_VSFIND").value_or("?"), "X1 X3");
  EXPECT_EQ(qrxhost::getMacro("_VSFIND1").value_or("?"), "X1 X3");
  EXPECT_EQ(qrxhost::getMacro("_VSFIND2").value_or("?"), "X1 X3");
  EXPECT_FALSE(qrxhost::getMacro("_VSFIND3").has_value());
  int warned = 0;
  for (const auto& r : qrxhost::takeLog())
    warned += r.numbered && MsgId(VsfMsg::MacroVariablesPastMaxmacro).is(r.set, r.number);
  EXPECT_EQ(warned, 1);
  ASSERT_EQ(vsfpModelString(ctx.get(), &m, pool), VsfStatus::Ok);
  auto out = output();
  const auto& t = *find(out, "SelectedEffects").at(0);
  EXPECT_EQ(cell(t, 0, "Effects"), "Intercept X1 X3");
}

TEST_F(Printers, InterceptOnlyAndFailedFitMacroValues) {
  setEffects({"Intercept", "X1"});
  VsfModel& m = ctx->model;
  m.effectStatus[0] = 2;
  ctx->maxMacro = 0;
  qrxhost::clearMacros();
  ASSERT_EQ(vsfMakeMacroVar(ctx.get(), 1), VsfStatus::Ok);
  auto v = qrxhost::getMacro("_VSFIND");
  ASSERT_TRUE(v.has_value());
  EXPECT_EQ(*v, ""); // an intercept-only model lists no effect
  m.fitStatus = VsfFitStatus::ZeroFullMse;
  ASSERT_EQ(vsfMakeMacroVar(ctx.get(), 1), VsfStatus::Ok);
  EXPECT_EQ(qrxhost::getMacro("_VSFIND").value_or("?"), "");
}

} // namespace

namespace {

// Every stop reason, with the widest values its message can carry, prints its whole text.
TEST_F(Printers, EveryStopReasonTextFitsItsBuffer) {
  setEffects({"Intercept"});
  VsfModelOptions& o = ctx->options;
  o.slEntry = 0.123456789012345;
  o.slStay = 0.987654321098765;
  o.steps = 2147483647;
  o.stopCount = 2147483647;
  o.maxSteps = 2147483647;
  int expected = 0;
  for (int32_t reason = 1; reason <= 17; ++reason) {
    if (reason == 9)
      continue;
    if (reason != 4) {
      ASSERT_EQ(vsfpStopReason(ctx.get(), reason, 2147483647), VsfStatus::Ok);
      ++expected;
      continue;
    }
    // The no-improvement reason names the STOP criterion, and for significance levels
    // also depends on the method.
    for (int32_t stop = 1; stop <= 11; ++stop)
      for (VsfMethod method : {VsfMethod::Forward, VsfMethod::Backward, VsfMethod::Stepwise}) {
        o.stop = static_cast<VsfCriterion>(stop);
        o.method = method;
        ASSERT_EQ(vsfpStopReason(ctx.get(), reason, 3), VsfStatus::Ok);
        ++expected;
      }
  }
  auto out = output();
  const auto tables = find(out, "StopReason");
  ASSERT_EQ(static_cast<int>(tables.size()), expected);
  for (const auto* t : tables) {
    const std::string reason = cell(*t, 0, "Reason");
    EXPECT_GT(reason.size(), 20u) << "code " << number(*t, 0, "Code");
    EXPECT_EQ(reason.back(), '.') << "cut: '" << reason << "'";
  }
}

// The model at a stop by no improvement is the last step's: Stop Details compares each
// refused candidate with the value the last Selection Summary row prints, whatever the
// model's state after its trials holds (their error SS, rank or refolded CV PRESS).
struct StopCompare : Printers,
                     ::testing::WithParamInterface<std::pair<VsfCriterion, const char*>> {};

TEST_P(StopCompare, ComparesWithTheLastSummaryRow) {
  const auto [stop, column] = GetParam();
  forwardPath();
  VsfModelOptions& o = ctx->options;
  VsfModel& m = ctx->model;
  o.stop = stop;
  o.fullModelFirst = 1;
  m.fullMse = 1.5;
  o.pressNeeded = o.validateInUse = o.cvOn = 1;
  m.totals.wValidate = 10;
  m.history.stepPress = doubleArray(3);
  m.history.stepValidateAse = doubleArray(3);
  m.history.stepCvPress = doubleArray(3);
  for (int i = 0; i < 3; ++i) {
    m.history.stepPress[i] = 120.0 - 10 * i;
    m.history.stepValidateAse[i] = 6.0 - i;
    m.history.stepCvPress[i] = 206.06821938250363 - i;
  }
  // After the refused trial of X3: another error SS and rank, and statistics formed again.
  m.sse = 29.0, m.rank = 4, m.inModelCount = 4;
  m.press = 99.0, m.validateAse = 3.5, m.cvPress = 206.0682193797575 - 2;
  m.stop.stopAddEffect = 3;
  m.stop.stopAddValue = 1e6;
  int32_t optimal[kVsfCriterionCount], chosen = 0;
  RvqText* ref = nullptr;
  ASSERT_EQ(vsfpOptStep(ctx.get(), &m, optimal, &chosen, &ref), VsfStatus::Ok);
  ASSERT_EQ(vsfpSummary(ctx.get(), &m, pool, optimal, &ref), VsfStatus::Ok);
  ASSERT_EQ(vsfpStopDetails(ctx.get(), pool, &m), VsfStatus::Ok);
  auto out = output();
  const auto& summary = *find(out, "SelectionSummary").at(0);
  const auto& details = *find(out, "StopDetails").at(0);
  ASSERT_EQ(summary["rows"].items.size(), 3u);
  const double printed = number(summary, 2, column);
  ASSERT_FALSE(std::isnan(printed)) << column;
  EXPECT_EQ(number(details, 0, "CompareCriterion"), printed) << column;
  EXPECT_EQ(cell(details, 0, "Effect"), "X3");
}

INSTANTIATE_TEST_SUITE_P(
    EveryStopCriterion, StopCompare,
    ::testing::Values(std::pair{VsfCriterion::Aic, "AIC"}, std::pair{VsfCriterion::Aicc, "AICC"},
                      std::pair{VsfCriterion::Sbc, "SBC"},
                      std::pair{VsfCriterion::RSquare, "RSquare"},
                      std::pair{VsfCriterion::AdjRsq, "AdjRSq"}, std::pair{VsfCriterion::Cp, "CP"},
                      std::pair{VsfCriterion::Bic, "BIC"}, std::pair{VsfCriterion::Press, "PRESS"},
                      std::pair{VsfCriterion::Validate, "ValidationASE"},
                      std::pair{VsfCriterion::Cv, "CVPRESS"}));

} // namespace
