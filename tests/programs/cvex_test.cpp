// External cross validation (CHOOSE=CVEX) end to end through qrx on the diabetes data with
// SPLIT(3) folds, against scripts/gen_cvex_ref.py (scikit-learn's lars_path on each fold's
// training rows standardised with that fold's moments, tests/data/cvex/): the CVExternal
// table's per-fold knots, held-out errors and curvatures; the final fit's external CV PRESS
// at every step (the averaged curve interpolated at the step); the step CHOOSE=CVEX picks;
// for L1CHOICE=RATIO, NORM and VALUE; and the group LASSO's fold errors per step.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using qrxrun::findTable;
using qrxrun::number;
using qrxrun::Value;

namespace {

std::vector<std::vector<double>> readCsv(const std::string& name) {
  return qrxrun::csvNumbers(std::string(QRX_TEST_DATA) + "/cvex/" + name);
}

qrxrun::ProgramRun runCvex(const std::string& choice, const std::string& extra = "") {
  const std::string data = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvdata.csv");
  return qrxrun::runProgram("proc varsifter data=cvdata;\n"
                            "  model y = age sex bmi bp s1-s6 / selection=lasso(choose=cvex "
                            "stop=none l1choice=" +
                                choice + " showcvex$) cvmethod=split(3)" + extra + ";\nrun;\n",
                            "cvex" + choice, {{"cvdata.csv", data}});
}

bool near(double a, double b, double tol) { return std::fabs(a - b) <= tol * (1 + std::fabs(b)); }

void expectChoice(const std::string& choice) {
  qrxrun::ProgramRun r = runCvex(choice);
  ASSERT_EQ(r.status, 0) << r.log;
  const Value& out = r.json["steps"][0]["output"];
  const Value* cx = findTable(out, "CVExternal");
  ASSERT_NE(cx, nullptr) << choice;
  const auto rec = readCsv("records.csv");
  ASSERT_EQ((*cx)["rows"].items.size(), rec.size()) << choice;
  for (size_t i = 0; i < rec.size(); ++i) {
    EXPECT_EQ(number(*cx, i, "Fold"), rec[i][0]) << i;
    EXPECT_EQ(number(*cx, i, "Step"), rec[i][1]) << i;
    EXPECT_TRUE(near(number(*cx, i, "L1Ratio"), rec[i][2], 1e-9)) << i;
    EXPECT_TRUE(near(number(*cx, i, "L1Norm"), rec[i][3], 1e-9)) << i;
    EXPECT_TRUE(near(number(*cx, i, "L1Value"), rec[i][4], 1e-9)) << i;
    EXPECT_TRUE(near(number(*cx, i, "ASEValidate"), rec[i][5], 1e-9)) << i;
    EXPECT_TRUE(near(number(*cx, i, "Interpolation"), rec[i][6], 1e-7)) << i;
    EXPECT_EQ(number(*cx, i, "L2"), 0.0) << "a LASSO has no ridge term, row " << i;
  }
  const Value* t = findTable(out, "SelectionSummary");
  ASSERT_NE(t, nullptr);
  const auto fin = readCsv("final_" + choice + ".csv");
  ASSERT_EQ((*t)["rows"].items.size(), fin.size()) << choice;
  size_t best = 0;
  for (size_t i = 0; i < fin.size(); ++i) {
    EXPECT_NEAR(number(*t, i, "CVEXPRESS"), fin[i][1], 1e-9 * fin[i][1]) << choice << " " << i;
    if (fin[i][1] < fin[best][1])
      best = i;
  }
  for (size_t i = 0; i < fin.size(); ++i)
    EXPECT_EQ(number(*t, i, "OptCVEXPRESS"), i == best ? 1.0 : 0.0) << choice << " " << i;
}

TEST(CvExternal, RatioCurveRecordsAndChoiceMatchTheFoldPaths) { expectChoice("ratio"); }
TEST(CvExternal, NormCurveRecordsAndChoiceMatchTheFoldPaths) { expectChoice("norm"); }
TEST(CvExternal, ValueCurveRecordsAndChoiceMatchTheFoldPaths) { expectChoice("value"); }

// The group LASSO under CHOOSE=CVEX on the diabetes data (SEX a group of two columns), against
// scripts/gen_cvex_group_ref.py (block coordinate descent on each fold's training rows,
// standardised with that fold's moments): every fold's held-out error per step in the
// CVExternal table, the averaged curve as the final fit's External CV PRESS, and the chosen
// step.
TEST(CvExternal, GroupLassoFoldErrorsCurveAndChoiceMatchBlockCoordinateDescent) {
  const std::string model = "proc varsifter data=ex.diabetes;\n  class sex;\n  model y = age sex "
                            "bmi bp s1-s6 / cvmethod=split(3) selection=grouplasso(stop=none "
                            "choose=cvex rho=0.7 tol=1e-12 showcvex$ ";
  qrxrun::ProgramRun r = qrxrun::run("libname ex 'examples';\n" + model + "maxsteps=20);\nrun;\n" +
                                         model + "steps=4);\nrun;\n",
                                     "cvexgl");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value& out = r.json["steps"][0]["output"];
  const Value* cx = findTable(out, "CVExternal");
  ASSERT_NE(cx, nullptr);
  const auto rec = readCsv("group_records.csv");
  ASSERT_EQ((*cx)["rows"].items.size(), rec.size());
  for (size_t i = 0; i < rec.size(); ++i) {
    EXPECT_EQ(number(*cx, i, "Fold"), rec[i][0]) << i;
    EXPECT_EQ(number(*cx, i, "Step"), rec[i][1]) << i;
    EXPECT_TRUE(near(number(*cx, i, "L1Ratio"), rec[i][2], 1e-12)) << i;
    EXPECT_TRUE(near(number(*cx, i, "ASEValidate"), rec[i][3], 1e-6)) << i;
  }
  const Value* t = findTable(out, "SelectionSummary");
  ASSERT_NE(t, nullptr);
  const auto curve = readCsv("group_curve.csv");
  ASSERT_EQ((*t)["rows"].items.size(), curve.size());
  for (size_t i = 0; i < curve.size(); ++i) {
    EXPECT_TRUE(near(number(*t, i, "CVEXPRESS"), curve[i][1], 1e-6)) << i;
    EXPECT_EQ(number(*t, i, "OptCVEXPRESS"), curve[i][2]) << i;
  }
  // STEPS=4: every fold records the intercept's step and four more, the final fit the same.
  const Value& second = r.json["steps"][1]["output"];
  const Value* few = findTable(second, "CVExternal");
  ASSERT_NE(few, nullptr);
  ASSERT_EQ((*few)["rows"].items.size(), 15u);
  for (size_t i = 0; i < 15; ++i)
    EXPECT_TRUE(near(number(*few, i, "ASEValidate"), rec[(i / 5) * 21 + i % 5][3], 1e-6)) << i;
  const Value* fewSteps = findTable(second, "SelectionSummary");
  ASSERT_NE(fewSteps, nullptr);
  EXPECT_EQ((*fewSteps)["rows"].items.size(), 5u);
}

} // namespace
