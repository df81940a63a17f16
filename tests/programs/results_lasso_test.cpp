// The LASSO path's tables end to end: SELECTION=LASSO on the diabetes data through the qrx
// runner, the --json record's selection summary and optimal-step table checked against the
// reference path of scikit-learn's lars_path (tests/data/lars/lasso.csv and lambda_max.csv,
// scripts/gen_lars_ref.py): the position of every step by L1CHOICE= and NormBeta, and the
// L1 norms of the elastic net at a fixed L2 against the LASSO on the augmented data.
#include "qrxrun.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using qrxrun::Value;

namespace {

struct Knot {
  int active = 0;
  double pathValue = 0, l1 = 0, sse = 0;
};

std::vector<Knot> readKnots(const std::string& name = "lasso") {
  std::vector<Knot> out;
  for (const std::vector<double>& v : readReferenceRows("lars/" + name + ".csv"))
    out.push_back(Knot{static_cast<int>(v[5]), v[2], v[3], v[4]});
  return out;
}

double readLambdaMax() { return readReferenceValue("lars/lambda_max.csv"); }

using qrxrun::col;
using qrxrun::ProgramRun;

// Runs a program from the source directory (it reads the example data by path).
ProgramRun runProgram(const std::string& text) { return qrxrun::run(text, "lasso"); }

using qrxrun::findTable;

double num(const Value& t, size_t row, const std::string& name) {
  return qrxrun::number(t, row, name);
}

class LassoProgram : public ::testing::Test {
protected:
  static ProgramRun* run;
  static void SetUpTestSuite() {
    const std::string model = "  model y = age sex bmi bp s1-s6 / selection=lasso(stop=none ";
    const std::string proc = "proc varsifter data=ex.diabetes";
    run = new ProgramRun(runProgram(
        "libname ex 'examples';\n" + proc + " plots=coefficients(stepaxis=normb);\n" + model +
        "l1choice=ratio showstepl1);\nrun;\n" + proc + ";\n" + model +
        "l1choice=norm showstepl1);\nrun;\n" + proc + ";\n" + model +
        "l1choice=value showstepl1);\nrun;\n" + proc + ";\n" + model + "l1choice=value);\nrun;\n" +
        proc + ";\n  model y = age sex bmi bp s1-s6 / selection=elasticnet(l2=0.01 stop=none " +
        "l1choice=norm showstepl1);\nrun;\n"));
  }
  static void TearDownTestSuite() { delete run; }
  const Value* table(size_t step, const std::string& name) const {
    return findTable(run->json["steps"][step]["output"], name);
  }
};
ProgramRun* LassoProgram::run = nullptr;

TEST_F(LassoProgram, EveryStepShowsItsPositionOnThePath) {
  ASSERT_EQ(run->status, 0) << run->log;
  ASSERT_EQ(run->json["steps"].items.size(), 5u);
  const std::vector<Knot> knots = readKnots();
  const double lambdaMax = readLambdaMax();
  ASSERT_EQ(knots.size(), 13u);
  const char* names[] = {"StepL1Ratio", "StepL1Norm", "StepL1Value"};
  for (size_t s = 0; s < 3; ++s) {
    const Value* t = table(s, "SelectionSummary");
    ASSERT_NE(t, nullptr) << "step " << s;
    ASSERT_EQ((*t)["rows"].items.size(), knots.size()) << "one row per knot";
    ASSERT_GE(col(*t, names[s]), 0) << names[s];
    for (size_t i = 0; i < knots.size(); ++i) {
      const Knot& k = knots[i];
      const double got = num(*t, i, names[s]);
      const std::string at = std::string(names[s]) + " row " + std::to_string(i);
      if (s == 0)
        EXPECT_NEAR(got, k.pathValue, 1e-9) << at;
      else if (s == 1)
        EXPECT_NEAR(got, k.l1, 1e-9 * knots.back().l1) << at;
      else
        EXPECT_NEAR(got, k.pathValue * lambdaMax, 1e-9 * lambdaMax) << at;
    }
  }
  const Value* plain = table(3, "SelectionSummary");
  ASSERT_NE(plain, nullptr);
  for (const char* name : names)
    EXPECT_EQ(col(*plain, name), -1) << name << " without SHOWSTEPL1";
}

TEST_F(LassoProgram, NormBetaWithTheNormBetaAxis) {
  ASSERT_EQ(run->status, 0) << run->log;
  const std::vector<Knot> knots = readKnots();
  const double last = knots.back().l1;
  const Value* t = table(0, "SelectionSummary");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(col(*t, "NormBeta"), 1) << "NormBeta follows Step";
  for (size_t i = 0; i < knots.size(); ++i)
    EXPECT_NEAR(num(*t, i, "NormBeta"), knots[i].l1 / last, 1e-9) << "row " << i;
  const Value* other = table(1, "SelectionSummary");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(col(*other, "NormBeta"), -1) << "no NORMB axis, no NormBeta";

  // The optimal-step table: the SBC optimum of the reference path, and its NormBeta.
  const double n = 442;
  size_t best = 0;
  double bestValue = 1e300;
  for (size_t i = 0; i < knots.size(); ++i) {
    const double v = n * std::log(knots[i].sse / n) + (knots[i].active + 1) * std::log(n);
    if (v < bestValue)
      bestValue = v, best = i;
  }
  const Value* b = table(0, "BestStep");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(num(*b, 0, "SBCStep"), static_cast<double>(best));
  EXPECT_NEAR(num(*b, 0, "SBCNormBeta"), knots[best].l1 / last, 1e-9);
  const Value* bo = table(1, "BestStep");
  ASSERT_NE(bo, nullptr);
  EXPECT_EQ(col(*bo, "SBCNormBeta"), -1);
}

TEST_F(LassoProgram, TheElasticNetShowsTheNormsOfItsOwnPath) {
  ASSERT_EQ(run->status, 0) << run->log;
  const std::vector<Knot> knots = readKnots("enet");
  const Value* t = table(4, "SelectionSummary");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ((*t)["rows"].items.size(), knots.size());
  for (size_t i = 0; i < knots.size(); ++i)
    EXPECT_NEAR(num(*t, i, "StepL1Norm"), knots[i].l1, 1e-9 * knots.back().l1) << "row " << i;
}

} // namespace
