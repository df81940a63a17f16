// The elastic net's L2 search judged by cross validation, end to end through qrx on the
// diabetes data with SPLIT(3) folds, against scripts/gen_elnet_cv_ref.py
// (tests/data/elnetcv/): with CHOOSE=CV every trial's CV PRESS (least-squares refits of the
// step's effects on the rows outside each fold, in numpy) at the step it chooses; with
// CHOOSE=CVEX every trial's smallest averaged held-out error of per-fold augmented-LASSO
// paths (scikit-learn's lars_path) and the grid value it falls on; the chosen L2 is the
// trials' minimum and the final fit reports the chosen L2's path.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

using qrxrun::findTable;
using qrxrun::number;
using qrxrun::ProgramRun;
using qrxrun::tablesOf;
using qrxrun::Value;

namespace {

using Rows = std::vector<std::vector<double>>;

Rows readCsv(const std::string& name) {
  return qrxrun::csvNumbers(std::string(QRX_TEST_DATA) + "/elnetcv/" + name + ".csv");
}

ProgramRun runSearch(const std::string& choose, const std::string& search) {
  const std::string data = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvdata.csv");
  return qrxrun::runProgram("proc varsifter data=cvdata;\n"
                            "  model y = age sex bmi bp s1-s6 / selection=elasticnet(choose=" +
                                choose + " stop=none " + search +
                                " showl2search$) cvmethod=split(3);\nrun;\n",
                            "elnet" + choose, {{"cvdata.csv", data}});
}

bool near(double a, double b, double tol) { return std::fabs(a - b) <= tol * (1 + std::fabs(b)); }

double factoid(const ProgramRun& r, const std::string& label) {
  const auto f = tablesOf(r, "ElasticNetParaSummary");
  if (f.size() != 1)
    return std::nan("");
  for (const Value& e : (*f[0])["entries"].items)
    if (e["label"].s == label)
      return e["value"].n;
  return std::nan("");
}

// The first trial whose value is the smallest (equal values to rounding keep the earlier).
size_t bestTrial(const Rows& want) {
  double low = want[0][4];
  for (const auto& w : want)
    low = std::min(low, w[4]);
  size_t best = 0;
  while (!near(want[best][4], low, 1e-12))
    ++best;
  return best;
}

// The tuning rows: each trial's L2, the L1 ratio it falls on and its criterion value (and
// for CV the rank and step count of the chosen step); the chosen L2 is the trials' minimum.
void expectTrials(const ProgramRun& r, const Rows& want, bool counts) {
  const auto tables = qrxrun::shownTables(r, "ElasticNetTuneL2");
  ASSERT_EQ(tables.size(), 1u) << r.log;
  const Value& t = *tables[0];
  ASSERT_EQ(t["rows"].items.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const auto& w = want[i];
    EXPECT_NEAR(number(t, i, "L2"), w[1], 1e-12 * std::max(1.0, w[1])) << i;
    EXPECT_NEAR(number(t, i, "L1Ratio"), w[2], 1e-9) << i;
    EXPECT_TRUE(near(number(t, i, "CriterionValue"), w[4], 1e-9)) << i;
    if (counts) {
      EXPECT_EQ(number(t, i, "nVar"), w[3]) << i;
      EXPECT_EQ(number(t, i, "nSteps"), w[5]) << i;
    }
  }
  const size_t best = bestTrial(want);
  EXPECT_EQ(factoid(r, "Chosen L2"), number(t, best, "L2"));
  if (!counts) {
    // External CV keeps no fold fit's counts: the table has no such columns, and the factoid
    // reports the chosen trial's best position on the averaged curve instead of a step.
    for (const char* c : {"nVar", "L2Norm", "L1Norm", "nSteps"})
      EXPECT_LT(qrxrun::col(t, c), 0) << c;
    EXPECT_NEAR(factoid(r, "L1 Ratio of the Selected Step"), want[best][2], 1e-9);
    EXPECT_TRUE(std::isnan(factoid(r, "Effects in the Selected Model")));
    EXPECT_TRUE(std::isnan(factoid(r, "Largest Path Correlation")));
  }
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(number(t, i, "OptCriterion"), want[i][1] == want[best][1] ? 1.0 : 0.0) << i;
}

// The final fit's criterion at every step against the reference path of the chosen L2, and
// the step it chooses.
void expectFinalPath(const ProgramRun& r, const std::string& column, const Rows& path, int at) {
  const Value* t = findTable(r.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ((*t)["rows"].items.size(), path.size());
  size_t best = 0;
  for (size_t i = 0; i < path.size(); ++i) {
    EXPECT_TRUE(near(number(*t, i, column), path[i][at], 1e-9)) << column << " " << i;
    if (path[i][at] < path[best][at] && !near(path[i][at], path[best][at], 1e-12))
      best = i;
  }
  for (size_t i = 0; i < path.size(); ++i)
    EXPECT_EQ(number(*t, i, "Opt" + column), i == best ? 1.0 : 0.0) << column << " " << i;
}

constexpr const char* kGrid = "l2search=grid l2low=0 l2high=10 l2steps=4";
constexpr const char* kGolden = "l2search=golden l2low=0 l2high=1 l2steps=6";

// The search by `choose` checked against the reference trials in <choose>_<name>.csv.
ProgramRun expectSearch(const std::string& choose, const std::string& search,
                        const std::string& name) {
  ProgramRun r = runSearch(choose, search);
  EXPECT_EQ(r.status, 0) << r.log;
  if (r.status == 0)
    expectTrials(r, readCsv(choose + "_" + name), choose == "cv");
  return r;
}

TEST(ElasticNetCv, GridTrialsAreJudgedByTheirCvPress) {
  const ProgramRun r = expectSearch("cv", kGrid, "grid");
  expectFinalPath(r, "CVPRESS", readCsv("cv_final_grid"), 3);
}

TEST(ElasticNetCv, GoldenSectionTrialsAreJudgedByTheirCvPress) {
  expectSearch("cv", kGolden, "golden");
}

// The records and the curve the final fit picks by are those of the chosen L2.
TEST(ElasticNetCvEx, GridTrialsAreJudgedByTheFoldCurves) {
  const ProgramRun r = expectSearch("cvex", kGrid, "grid");
  expectFinalPath(r, "CVEXPRESS", readCsv("cvex_final_grid"), 2);
}

TEST(ElasticNetCvEx, GoldenSectionTrialsAreJudgedByTheFoldCurves) {
  expectSearch("cvex", kGolden, "golden");
}

} // namespace
