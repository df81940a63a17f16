// SCORE with a LAG effect end to end: the lagged levels of a scored row come from the SCORE
// data set's own periods, checked against the least-squares fit of the lag design built
// here and applied to the scored data's history; the analysis data scores as OUTPUT does.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Obs = std::vector<std::vector<std::string>>; // g, t, x, y

std::string csvOf(const Obs& obs) {
  std::string data = "g,t,x,y\n";
  for (const auto& o : obs)
    data += o[0] + "," + o[1] + "," + o[2] + "," + o[3] + "\n";
  return data;
}

// The design row of each observation: intercept, then x's level a or b one period earlier
// in the same group; an all-zero lag block in the first period; none (empty) when the
// earlier period is not in the data.
std::vector<std::vector<double>> lagRows(const Obs& obs) {
  std::map<std::pair<std::string, int>, std::string> level;
  for (const auto& o : obs)
    level[{o[0], std::stoi(o[1])}] = o[2];
  std::vector<std::vector<double>> rows;
  for (const auto& o : obs) {
    const int t = std::stoi(o[1]);
    std::vector<double> row = {1, 0, 0};
    if (t > 1) {
      auto it = level.find({o[0], t - 1});
      if (it == level.end()) {
        rows.emplace_back();
        continue;
      }
      row[it->second == "a" ? 1 : 2] = 1;
    }
    rows.push_back(row);
  }
  return rows;
}

TEST(ScoreLag, LaggedLevelsComeFromTheScoredData) {
  const Obs fit = {{"1", "1", "a", "3"}, {"1", "2", "b", "5"},  {"1", "3", "a", "4"},
                   {"1", "4", "b", "9"}, {"2", "1", "b", "2"},  {"2", "2", "b", "7"},
                   {"2", "3", "a", "6"}, {"2", "4", "a", "5"},  {"3", "1", "a", "1"},
                   {"3", "3", "b", "8"}, {"3", "4", "a", "4.5"}};
  // The same groups with another history; group 2 starts in period 2.
  const Obs score = {{"1", "1", "b", "1"}, {"1", "2", "a", "2"}, {"1", "3", "b", "3"},
                     {"2", "2", "b", "4"}, {"2", "3", "a", "5"}, {"3", "1", "a", "6"},
                     {"3", "2", "a", "7"}};
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  const auto fitRows = lagRows(fit);
  for (size_t i = 0; i < fit.size(); ++i)
    if (!fitRows[i].empty()) {
      x.push_back(fitRows[i]);
      y.push_back(std::stod(fit[i][3]));
      w.push_back(1);
    }
  const std::vector<double> b = qrxrun::leastSquares(x, y, w);

  const auto run = qrxrun::runProgram(
      "proc varsifter data=lag;\n  class g t x;\n"
      "  effect lg = lag(x / period=t within=g details);\n"
      "  model y = lg / selection=none;\n  output out=o p=pred;\n"
      "  score data=lag out=s1 p=pred;\n  score data=hist out=s2 p=pred;\nrun;\n",
      "score_lag", {{"lag.csv", csvOf(fit)}, {"hist.csv", csvOf(score)}},
      {"o.csv", "s1.csv", "s2.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  // The analysis data scores as OUTPUT predicts.
  EXPECT_EQ(run.files.at("s1.csv"), run.files.at("o.csv"));
  const auto rows = qrxrun::csvRows(run.files.at("s2.csv"));
  ASSERT_EQ(rows.size(), score.size() + 1);
  const auto expected = lagRows(score);
  for (size_t i = 0; i < score.size(); ++i) {
    const std::string& pred = rows[i + 1][4];
    if (expected[i].empty()) {
      EXPECT_EQ(pred, "") << i;
      continue;
    }
    double want = 0;
    for (size_t k = 0; k < 3; ++k)
      want += b[k] * expected[i][k];
    ASSERT_NE(pred, "") << i;
    EXPECT_NEAR(std::stod(pred), want, 1e-9) << i;
  }
  // Each SCORE data set shows its own lag design after its ScoreInfo.
  EXPECT_EQ(qrxrun::tablesOf(run, "ScoreInfo").size(), 2u);
  EXPECT_GE(qrxrun::tablesOf(run, "LagDesign").size(), 3u);

  // A SCORE data set with two rows for one group and period, or with no group, has no lag
  // design: the run ends with 1012 after the SCORE data set's own message (not the one of
  // the analysis data), and the data set's ScoreInfo is printed all the same, with no
  // observation used.
  const Obs twice = {{"1", "1", "a", "1"}, {"1", "1", "b", "2"}, {"1", "2", "a", "3"}};
  const Obs nogroup = {{"", "1", "a", "1"}, {"", "2", "b", "2"}};
  const auto dup = qrxrun::runProgram(
      "proc varsifter data=lag;\n  class g t x;\n  effect lg = lag(x / period=t within=g);\n"
      "  model y = lg / selection=none;\n  score data=twice out=s3 p=pred;\n"
      "  score data=nogroup out=s4 p=pred;\nrun;\n",
      "score_lag_dup",
      {{"lag.csv", csvOf(fit)}, {"twice.csv", csvOf(twice)}, {"nogroup.csv", csvOf(nogroup)}});
  EXPECT_EQ(dup.json["returnCode"].n, 1012) << dup.log;
  EXPECT_TRUE(qrxrun::logged(dup, EffMsg::LagEffectTwoObservationsSameGroupPeriodScore));
  EXPECT_TRUE(qrxrun::logged(dup, EffMsg::LagEffectNoGroupScore));
  EXPECT_FALSE(qrxrun::logged(dup, EffMsg::LagEffectTwoObservationsSameGroupPeriod));
  EXPECT_FALSE(qrxrun::logged(dup, EffMsg::LagEffectNoGroupNo));
  const auto info = qrxrun::tablesOf(dup, "ScoreInfo");
  ASSERT_EQ(info.size(), 2u);
  for (const auto* table : info) {
    bool usedNone = false;
    for (const auto& e : (*table)["entries"].items)
      usedNone = usedNone || (e["label"].s == "Number of Observations Used" && e["value"].n == 0);
    EXPECT_TRUE(usedNone);
  }
}

} // namespace
