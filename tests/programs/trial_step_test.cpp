// A candidate's criterion is the one its step prints once the move is made, and a step prints
// its least-squares fit, on designs where the trial and the step could form their numbers by
// other roads (references: scripts/gen_trial_step_ref.py, tests/data/trialstep):
// - without an intercept beside a covariate near 1.9e9, a removal's p-value from the swept
//   sums against the step's error SS from the rows (1.4e-8 apart), and estimates from
//   residuals whose every product rounded by eps times 1.9e9;
// - raw powers of v to degree 10 on 25 rows, whose PRESS with a leverage 1e-7 from 1 the
//   trial and the step formed from factors of the rows in other column orders and from
//   estimates refined once and twice (1e-8 apart).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/trialstep/";

std::vector<std::vector<std::string>> refRows(const std::string& name) {
  return qrxrun::csvRows(qrxrun::readFile(kDir + name));
}

// Each step's first candidate is the effect the step moves, and its `column` (the p-value of
// its log for LogPValue) is the step's `summaryColumn` in the selection summary within `rel`.
// Returns the effects moved, in order.
std::vector<std::string> expectWinnersAreSteps(const qrxrun::ProgramRun& r,
                                               const std::string& column,
                                               const std::string& summaryColumn, double rel) {
  const Value& output = r.json["steps"][0]["output"];
  const Value* summary = qrxrun::findTable(output, "SelectionSummary");
  EXPECT_NE(summary, nullptr) << r.log;
  std::vector<std::string> moved;
  if (summary == nullptr)
    return moved;
  const std::vector<const Value*> candidates = qrxrun::tablesOf(r, "Candidates");
  for (size_t s = 1; s < (*summary)["rows"].items.size() && s <= candidates.size(); ++s) {
    const Value& c = *candidates[s - 1];
    std::string effect = qrxrun::text(*summary, s, "EffectEntered");
    if (effect.empty())
      effect = qrxrun::text(*summary, s, "EffectRemoved");
    EXPECT_EQ(qrxrun::text(c, 0, "Effect"), effect) << "step " << s;
    double v = qrxrun::number(c, 0, column);
    if (column == "LogPValue")
      v = std::exp(v);
    const double step = qrxrun::number(*summary, s, summaryColumn);
    EXPECT_NEAR(v, step, rel * std::fabs(step)) << effect << " at step " << s << " " << column;
    moved.push_back(effect);
  }
  return moved;
}

double errorSS(const Value& output, const std::string& step) {
  const Value* node = qrxrun::nodeNamed(output, step);
  const Value* anova = node != nullptr ? qrxrun::findTable(*node, "ANOVA") : nullptr;
  return anova != nullptr ? qrxrun::number(*anova, 1, "SS") : std::nan("");
}

} // namespace

TEST(TrialStep, FarResponseRemovalsAreTheirSteps) {
  std::map<std::string, std::vector<double>> ref; // by columns: error SS, estimates
  for (const auto& row : refRows("far_ref.csv"))
    if (row[0] != "columns")
      for (size_t i = 1; i < row.size(); ++i)
        ref[row[0]].push_back(std::stod(row[i]));
  const qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d;\n  model y = x1 x2 c / selection=backward(select=SL stop=none) "
      "noint details=all;\nrun;\n",
      "trialfar", {{"d.csv", qrxrun::readFile(kDir + "far.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  const std::vector<std::string> moved = expectWinnersAreSteps(r, "LogPValue", "ProbF", 1e-12);
  ASSERT_EQ(moved.size(), 2u);
  // Each step's error SS and the full model's estimates are the least-squares ones, within
  // 1e-10 of the error SS (of y'y, 2e20, it is 1e-17).
  const Value& output = r.json["steps"][0]["output"];
  std::set<std::string> in{"x1", "x2", "c"};
  for (size_t s = 0; s <= moved.size(); ++s) {
    if (s > 0)
      in.erase(moved[s - 1]);
    std::string key;
    for (const std::string c : {"x1", "x2", "c"})
      if (in.count(c) != 0) {
        if (!key.empty())
          key.push_back(' ');
        key.append(c);
      }
    const double sse = ref.at(key)[0];
    EXPECT_NEAR(errorSS(output, "Step" + std::to_string(s)), sse, 1e-10 * sse) << key;
  }
  const Value* estimates =
      qrxrun::findTable(*qrxrun::nodeNamed(output, "Step0"), "ParameterEstimates");
  ASSERT_NE(estimates, nullptr);
  const std::vector<double>& full = ref.at("x1 x2 c");
  for (size_t i = 0; i < 3; ++i)
    EXPECT_NEAR(qrxrun::number(*estimates, i, "Estimate"), full[1 + i],
                1e-10 * std::fabs(full[1 + i]))
        << qrxrun::text(*estimates, i, "Parameter");
}

TEST(TrialStep, PolynomialPressOfACandidateIsItsSteps) {
  const qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d;\n  effect p = polynomial(v / degree=10);\n  model y = x1 p / "
      "selection=forward(select=PRESS stop=none) details=all;\nrun;\n",
      "trialpoly", {{"d.csv", qrxrun::readFile(kDir + "poly.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  const std::vector<std::string> moved = expectWinnersAreSteps(r, "PRESS", "PRESS", 1e-9);
  ASSERT_EQ(moved.size(), 11u);
  // The full model's PRESS: a row at 1 - h = 1e-7 turns the residuals' rounding (eps times
  // terms near 1e3) into 1e-9 of it, and its leverage's into as much again.
  const Value* summary = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
  const double press = std::stod(refRows("poly_ref.csv")[1][0]);
  EXPECT_NEAR(qrxrun::number(*summary, 11, "PRESS"), press, 1e-7 * press);
}
