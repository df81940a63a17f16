// The path columns of the selection summary and of the optimal-step table on a LASSO step
// history taken from the reference path of the diabetes data (tests/data/lars/lasso.csv,
// scripts/gen_lars_ref.py): the position of each step by L1CHOICE=, NormBeta against the
// last step, and the edge cases of a norm series that ends at zero.
#include "refcsv.h"
#include "resultsfixture.h"

#include "output/vsfmodelview.h"
#include "output/vsfprinters.h"

#include <cmath>
#include <fstream>
#include <sstream>

using namespace restest;

namespace {

struct RefKnot {
  int change = 0, active = 0;
  double pathValue = 0, l1 = 0, sse = 0;
};

std::vector<RefKnot> lassoKnots() {
  std::vector<RefKnot> out;
  for (const std::vector<double>& v : readReferenceRows("lars/lasso.csv")) {
    RefKnot k;
    k.change = static_cast<int>(v[1]);
    k.pathValue = v[2];
    k.l1 = v[3];
    k.sse = v[4];
    k.active = static_cast<int>(v[5]);
    out.push_back(k);
  }
  return out;
}

double lambdaMax() { return readReferenceValue("lars/lambda_max.csv"); }

bool isNull(double v) { return std::isnan(v); }

struct PathColumns : ResultsFixture {
  std::vector<RefKnot> knots;
  std::vector<std::string> labelTexts;
  std::vector<VsfLabel> labels;
  const double n = 442;

  // The LASSO path as the fit records it: the intercept first, one entry per knot.
  void lassoHistory() {
    knots = lassoKnots();
    ASSERT_EQ(knots.size(), 13u);
    setEffects({"Intercept", "AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"});
    VsfModel& m = ctx->model;
    ctx->options.method = VsfMethod::Lasso;
    ctx->options.select = VsfCriterion::NoneGiven;
    m.totals.nObs = n;
    m.totals.wTrain = n;
    m.totalSS = knots[0].sse;
    m.includeCount = 1;
    std::vector<int32_t> effect, count, rank;
    std::vector<double> sse;
    for (const RefKnot& k : knots) {
      effect.push_back(std::abs(k.change));
      count.push_back(k.active + 1);
      rank.push_back(k.active + 1);
      sse.push_back(k.sse);
    }
    setHistory(effect, count, rank, sse);
    m.history.stepPathValue = doubleArray(knots.size());
    m.history.stepL1Norm = doubleArray(knots.size());
    for (size_t i = 0; i < knots.size(); ++i) {
      m.history.stepPathValue[i] = knots[i].pathValue;
      m.history.stepL1Norm[i] = knots[i].l1;
    }
    m.path.lambdaMax = lambdaMax();
    ASSERT_GT(m.path.lambdaMax, 0);
  }

  // Graphics on with one label per entry, and the standardized-L1 series kept: the path
  // norms over an arbitrary response scale, which NormBeta must divide out.
  void normSeries(double scale) {
    VsfModel& m = ctx->model;
    ctx->stmt.plots.graphicsEnabled = 1;
    labelTexts.clear();
    for (size_t i = 0; i < knots.size(); ++i)
      labelTexts.push_back(std::string("L").append(std::to_string(i)));
    labels.clear();
    for (const std::string& s : labelTexts)
      labels.push_back(VsfLabel{s.data(), static_cast<int16_t>(s.size())});
    ctx->results.stepLabels = labels.data();
    ctx->results.stepLabelCount = static_cast<int32_t>(labels.size());
    ctx->results.stepLabelWidth = 3;
    ctx->options.stdL1History = 1;
    m.history.stepStdL1Norm = doubleArray(knots.size());
    for (size_t i = 0; i < knots.size(); ++i)
      m.history.stepStdL1Norm[i] = knots[i].l1 / scale;
  }

  void summary() {
    int32_t optimal[kVsfCriterionCount], chosen = 0;
    RvqText* ref = nullptr;
    ASSERT_EQ(vsfpOptStep(ctx.get(), &ctx->model, optimal, &chosen, &ref), VsfStatus::Ok);
    ASSERT_EQ(vsfpSummary(ctx.get(), &ctx->model, pool, optimal, &ref), VsfStatus::Ok);
  }
};

TEST_F(PathColumns, TheStepPositionFollowsL1Choice) {
  lassoHistory();
  ctx->options.showStepL1 = 1;
  for (VsfL1Choice choice :
       {VsfL1Choice::Ratio, VsfL1Choice::Norm, VsfL1Choice::Value, VsfL1Choice::None}) {
    ctx->options.l1Choice = choice;
    summary();
  }
  ctx->options.showStepL1 = 0;
  ctx->options.l1Choice = VsfL1Choice::Ratio;
  summary();
  auto out = output();
  auto tables = find(out, "SelectionSummary");
  ASSERT_EQ(tables.size(), 5u);
  const char* names[] = {"StepL1Ratio", "StepL1Norm", "StepL1Value"};
  const double lmax = lambdaMax();
  for (int c = 0; c < 3; ++c) {
    const auto& t = *tables[static_cast<size_t>(c)];
    const auto cols = columnNames(t);
    int present = 0;
    for (const char* name : names)
      present += columnIndex(t, name) >= 0;
    EXPECT_EQ(present, 1) << "one position column at most";
    ASSERT_GE(columnIndex(t, names[c]), 0) << names[c];
    EXPECT_EQ(cols.at(cols.size() - 2), names[c]) << "the position column comes before Control";
    ASSERT_EQ(t["rows"].items.size(), knots.size());
    for (size_t i = 0; i < knots.size(); ++i) {
      const RefKnot& k = knots[i];
      const double got = number(t, i, names[c]);
      if (c == 0)
        EXPECT_NEAR(got, k.pathValue, 1e-15) << "row " << i;
      else if (c == 1)
        EXPECT_NEAR(got, k.l1, 1e-13 * knots.back().l1) << "row " << i;
      else
        EXPECT_NEAR(got, k.pathValue * lmax, 1e-12 * lmax) << "row " << i;
    }
    // The path's removal shows as such: knot 11 takes S3 out again.
    EXPECT_EQ(cell(t, 11, "EffectRemoved"), "S3");
    EXPECT_EQ(number(t, 11, "nEffectsIn"), 10);
  }
  for (size_t c = 3; c < 5; ++c)
    for (const char* name : names)
      EXPECT_EQ(columnIndex(*tables[c], name), -1)
          << name << (c == 3 ? " without an L1CHOICE" : " without SHOWSTEPL1");
}

TEST_F(PathColumns, NormBetaIsEachNormOverTheLastOne) {
  lassoHistory();
  normSeries(57.25);
  ctx->options.choose = VsfCriterion::Sbc;
  // The step SBC chooses, from the reference SSEs: n ln(SSE/n) + p ln n.
  size_t best = 0;
  double bestValue = 1e300;
  for (size_t i = 0; i < knots.size(); ++i) {
    const double v = n * std::log(knots[i].sse / n) + (knots[i].active + 1) * std::log(n);
    if (v < bestValue)
      bestValue = v, best = i;
  }
  ctx->model.chosen.chosenStep = static_cast<int32_t>(best);
  summary();
  const double last = knots.back().l1;
  EXPECT_NEAR(ctx->results.lastNormBeta, last / 57.25, 1e-14 * last);
  EXPECT_NEAR(ctx->results.chosenNormBeta, knots[best].l1 / last, 1e-14);
  // Without graphics the summary has no NormBeta column.
  ctx->stmt.plots.graphicsEnabled = 0;
  int32_t optimal[kVsfCriterionCount], chosen = 0;
  RvqText* ref = nullptr;
  ASSERT_EQ(vsfpOptStep(ctx.get(), &ctx->model, optimal, &chosen, &ref), VsfStatus::Ok);
  ASSERT_EQ(vsfpSummary(ctx.get(), &ctx->model, pool, optimal, &ref), VsfStatus::Ok);

  auto out = output();
  auto tables = find(out, "SelectionSummary");
  ASSERT_EQ(tables.size(), 2u);
  const auto& t = *tables[0];
  const auto cols = columnNames(t);
  ASSERT_GE(cols.size(), 3u);
  EXPECT_EQ(cols[1], "NormBeta");
  EXPECT_EQ(cols[2], "StepLabel");
  for (size_t i = 0; i < knots.size(); ++i)
    EXPECT_NEAR(number(t, i, "NormBeta"), knots[i].l1 / last, 1e-14) << "row " << i;
  EXPECT_EQ(columnIndex(*tables[1], "NormBeta"), -1);

  auto bestSteps = find(out, "BestStep");
  ASSERT_EQ(bestSteps.size(), 1u);
  const auto& b = *bestSteps[0];
  EXPECT_EQ(number(b, 0, "SBCStep"), static_cast<double>(best));
  EXPECT_NEAR(number(b, 0, "SBCNormBeta"), knots[best].l1 / last, 1e-14);
  // Each group's NormBeta sits between its label and its value, and follows its own step.
  for (const char* stem : {"AIC", "AICC", "SBC", "ADJRSQ"}) {
    const std::string s = stem;
    const int at = columnIndex(b, s + "NormBeta");
    ASSERT_GE(at, 0) << stem;
    EXPECT_EQ(columnIndex(b, s + "StepLabel") + 1, at);
    EXPECT_EQ(columnIndex(b, s + "Val") - 1, at);
    const auto step = static_cast<size_t>(number(b, 0, s + "Step"));
    ASSERT_LT(step, knots.size());
    EXPECT_NEAR(number(b, 0, s + "NormBeta"), knots[step].l1 / last, 1e-14) << stem;
  }
}

TEST_F(PathColumns, ANormSeriesEndingAtZeroLeavesNormBetaMissing) {
  lassoHistory();
  normSeries(1.0);
  ctx->model.history.stepStdL1Norm[knots.size() - 1] = 0.0;
  ctx->model.history.stepStdL1Norm[3] = hostMissing();
  summary();
  EXPECT_EQ(ctx->results.lastNormBeta, 0.0);
  EXPECT_EQ(ctx->results.chosenNormBeta, 1.0) << "a zero last norm gives the chosen step 1";
  auto out = output();
  const auto& t = *find(out, "SelectionSummary").at(0);
  ASSERT_GE(columnIndex(t, "NormBeta"), 0);
  for (size_t i = 0; i < knots.size(); ++i)
    EXPECT_TRUE(isNull(number(t, i, "NormBeta"))) << "row " << i;
  const auto& b = *find(out, "BestStep").at(0);
  EXPECT_TRUE(isNull(number(b, 0, "SBCNormBeta")));
}

TEST_F(PathColumns, AMissingNormInsideTheSeriesStaysMissing) {
  lassoHistory();
  normSeries(2.0);
  ctx->model.history.stepStdL1Norm[3] = hostMissing();
  summary();
  auto out = output();
  const auto& t = *find(out, "SelectionSummary").at(0);
  EXPECT_TRUE(isNull(number(t, 3, "NormBeta")));
  EXPECT_NEAR(number(t, 4, "NormBeta"), knots[4].l1 / knots.back().l1, 1e-14);
}

} // namespace
