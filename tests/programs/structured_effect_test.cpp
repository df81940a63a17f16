// The structured road under the effect coding when levels have no rows in the fit (a role
// variable sends them to the test rows), none outside a random fold (one to three rows a
// level) or rows of tiny weight: the same tables as the packed road, and the fit of numpy's
// least squares. A level whose pivot its coupling through the reference level's rows leaves
// within rounding is refused, and the intercept stays.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

// The rows of keep 0 held out for testing: their levels have no rows in the fit.
constexpr const char* kHeldOut = "  partition rolevar=keep(train='1' test='0');\n";

// The run of `model` / `options` and `statements` with g coded PARAM=EFFECT, with the
// structured road taken from `fromColumns` columns of g.
qrxrun::ProgramRun runEffect(const std::string& model, const std::string& options,
                             const std::string& statements, const std::string& fromColumns,
                             const std::string& tag) {
  return structuredcheck::runHooked(
      "structuredColumns=" + fromColumns,
      "proc varsifter data=d seed=3;\n  class g / param=effect;\n  model " + model + " / " +
          options + ";\n" + statements + "  performance cpucount=4;\nrun;\n",
      synthdata::effectEmptyCsv(), tag);
}

} // namespace

// FORWARD by cross validation (the trial of g enters it into every fold), BACKWARD with g in
// the model throughout and its fold models choosing, FORWARD by PRESS (whose leverages take
// the empty level's swept column), and BACKWARD on every row with two levels' rows of weight
// 1e-10: every table (aliased columns included) within 1e-9 of the packed
// road's, and not bit for bit (the structured road was taken).
TEST(StructuredEffect, EmptyLevelsInTheFitAndTheFoldsGiveThePackedRoadsTables) {
  const std::pair<std::string, std::string> runs[] = {
      {"selection=forward(select=cv) cvmethod=random(5) details=all", kHeldOut},
      {"selection=backward(select=sbc choose=cv) cvmethod=random(4)", kHeldOut},
      {"selection=forward(select=press) details=all", kHeldOut},
      {"selection=backward(select=sbc) details=all", "  weight w;\n"}};
  for (const auto& [options, statements] : runs) {
    const qrxrun::ProgramRun packed =
        runEffect("y = x1 g x2 x3", options, statements, "1000000", "sepacked");
    const qrxrun::ProgramRun structured =
        runEffect("y = x1 g x2 x3", options, statements, "10", "sestruct");
    // With weights of 1e-10 the full model is nearly dependent (the intercept's standard error
    // is 1,162, L0011's 67,402): the packed road refines it on its residuals and lands within
    // 3e-9 and 2.5e-8 of the exact estimates (mpmath at 50 digits: -2.1272491654 and
    // -15.6011428574), the structured road, which does not refine, within 1.1e-7 and 8.7e-7
    // (estimates near 0 within 3e-7 absolute).
    const bool tiny = statements.find("weight") != std::string::npos;
    structuredcheck::expectPackedRoadsTables(structured, packed, options, tiny ? 1e-6 : 1e-9,
                                             tiny ? 1e-6 : 1e-8);
  }
}

// The fit of the intercept, x1 and g on the structured road: the first empty level's column
// estimated (the reference level's rows alone), the other empty levels' and the last level's
// aliased, each estimate and standard error and the error sum of squares those of numpy's
// least squares (scripts/gen_effect_empty_ref.py).
TEST(StructuredEffect, EmptyLevelFitMatchesNumpyLeastSquares) {
  std::map<std::string, std::pair<std::string, std::string>> want;
  for (const auto& row : qrxrun::csvRows(
           qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/effectempty_fit.csv")))
    if (row[0] != "parameter")
      want[row[0]] = {row[1], row.size() > 2 ? row[2] : ""};
  const qrxrun::ProgramRun r =
      runEffect("y = x1 g", "selection=forward(select=sbc)", kHeldOut, "10", "senumpy");
  ASSERT_EQ(r.status, 0) << r.log;
  auto near = [](double got, const std::string& ref, const std::string& what) {
    const double v = std::stod(ref);
    EXPECT_NEAR(got, v, 1e-9 * std::fabs(v) + 1e-12) << what;
  };
  const Value* anova = qrxrun::findTable(r.json["steps"][0]["output"], "ANOVA");
  ASSERT_NE(anova, nullptr) << r.log;
  near(qrxrun::number(*anova, 1, "SS"), want.at("SSE").first, "SSE");
  const Value* t = qrxrun::findTable(r.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(t, nullptr) << r.log;
  ASSERT_EQ((*t)["rows"].items.size() + 1, want.size());
  for (size_t i = 0; i < (*t)["rows"].items.size(); ++i) {
    const std::string name = qrxrun::text(*t, i, "Parameter");
    const std::string key = name.rfind("g ", 0) == 0 ? "g " + qrxrun::text(*t, i, "g") : name;
    ASSERT_EQ(want.count(key), 1u) << key;
    const auto& [estimate, stderror] = want.at(key);
    near(qrxrun::number(*t, i, "Estimate"), estimate, key);
    if (stderror.empty())
      EXPECT_EQ(qrxrun::number(*t, i, "DF"), 0.0) << key;
    else
      near(qrxrun::number(*t, i, "StdErr"), stderror, key);
  }
}

// A thousand levels, one without weight and forty of weight 1e-9: the last column's pivot
// clears 1e-8 of its diagonal but not the rounding its coefficients on the other levels can
// leave, so the rank rule refuses it and keeps the intercept (scripts/gen_effect_pivot_ref.py).
// The printed fit is numpy's, and the OUTPUT predictions leave its error sum of squares.
// Judged as if the levels did not meet, the level is taken, the intercept is lost and the
// group is fitted again on the packed triangle, which gives the same error sum of squares.
TEST(StructuredEffect, LevelWithinTheCouplingsRoundingLeavesTheIntercept) {
  const auto want = qrxrun::csvRows(
      qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/effectpivot_fit.csv"))[1];
  const auto run = [](const std::string& hooks, const std::string& tag) {
    return structuredcheck::runHooked(
        hooks,
        "proc varsifter data=d;\n  class g / param=effect;\n  weight w;\n"
        "  model y = g / selection=forward(select=sbc);\n  output out=o predicted=p;\nrun;\n",
        synthdata::effectPivotCsv(), tag, {"o.csv"});
  };
  // The level taken on a bound blind to the coupling: the re-sweep refuses the intercept, and
  // rather than score the rows off the shifted estimates the group is fitted again on the
  // packed triangle, which holds the intercept and gives numpy's error sum of squares.
  const double sse = std::stod(want[1]);
  const qrxrun::ProgramRun blind = run("levelCoupling=0", "sepivotblind");
  ASSERT_EQ(blind.status, 0) << blind.log;
  EXPECT_TRUE(qrxrun::logged(blind, VsfMsg::GroupRefitOnPackedTriangle)) << blind.log;
  EXPECT_FALSE(qrxrun::logged(blind, VsfMsg::InterceptLostToLevels)) << blind.log;
  const Value* blindAnova = qrxrun::findTable(blind.json["steps"][0]["output"], "ANOVA");
  ASSERT_NE(blindAnova, nullptr) << blind.log;
  EXPECT_NEAR(qrxrun::number(*blindAnova, 1, "SS"), sse, 1e-9 * sse);
  const qrxrun::ProgramRun r = run("", "sepivot");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value& out = r.json["steps"][0]["output"];
  const Value* anova = qrxrun::findTable(out, "ANOVA");
  const Value* pe = qrxrun::findTable(out, "ParameterEstimates");
  ASSERT_TRUE(anova != nullptr && pe != nullptr) << r.log;
  EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stod(want[0]) - 1.0);
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  ASSERT_EQ(qrxrun::text(*pe, 0, "Parameter"), "Intercept");
  EXPECT_EQ(qrxrun::number(*pe, 0, "DF"), 1.0);
  EXPECT_NEAR(qrxrun::number(*pe, 0, "Estimate"), std::stod(want[2]), 1e-6);
  const auto rows = qrxrun::csvRows(r.files.at("o.csv"));
  ASSERT_GT(rows.size(), 1u);
  const auto& head = rows[0];
  const auto at = [&head](const std::string& name) {
    return static_cast<size_t>(std::find(head.begin(), head.end(), name) - head.begin());
  };
  double outputSse = 0.0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double e = std::stod(rows[i][at("y")]) - std::stod(rows[i][at("p")]);
    outputSse += std::stod(rows[i][at("w")]) * e * e;
  }
  EXPECT_NEAR(outputSse, sse, 1e-6 * sse);
}

// A degree-10 spline joined to the structured road, whose tail columns weigh next to nothing
// (weights of 0 and 1e-4): once g has left, the intercept's pivot after the spline's other
// columns is 3.9e-12 in exact arithmetic, within the rounding of that order, while the model
// takes the intercept first at its full diagonal. Every step keeps the intercept, and the
// fit BACKWARD ends on is the weighted mean's (scripts/gen_spline_intercept_ref.py).
TEST(StructuredEffect, SplineSweptBeforeTheInterceptLeavesTheIntercept) {
  const std::string data = std::string(QRX_TEST_DATA) + "/manylevels/";
  const auto want = qrxrun::csvRows(qrxrun::readFile(data + "splineintercept_fit.csv"))[1];
  const qrxrun::ProgramRun r = structuredcheck::runHooked(
      "",
      "proc varsifter data=d;\n  class g / param=effect;\n"
      "  effect s1 = spline(x1 / degree=10 knotmethod=equal(11));\n  weight w;\n"
      "  model y = g s1 / selection=backward(select=sbc) details=all;\nrun;\n",
      qrxrun::readFile(data + "splineintercept.csv"), "sesplineint");
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(r.log.find("ERROR"), std::string::npos) << r.log;
  // The three steps' estimates, then the selected model's (the last step's).
  const Value& out = r.json["steps"][0]["output"];
  for (int step = 0; step < 4; ++step) {
    const Value* pe = qrxrun::findTable(out, "ParameterEstimates", step);
    ASSERT_NE(pe, nullptr) << step << r.log;
    EXPECT_EQ(qrxrun::text(*pe, 0, "Parameter"), "Intercept") << step;
    EXPECT_EQ(qrxrun::number(*pe, 0, "DF"), 1.0) << step;
  }
  const Value* anova = qrxrun::findTable(out, "ANOVA", 3);
  const Value* pe = qrxrun::findTable(out, "ParameterEstimates", 3);
  ASSERT_TRUE(anova != nullptr && pe != nullptr) << r.log;
  const double sse = std::stod(want[1]);
  EXPECT_EQ(qrxrun::number(*anova, 1, "DF"), std::stod(want[0]));
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  EXPECT_NEAR(qrxrun::number(*pe, 0, "Estimate"), std::stod(want[2]), 1e-9);
}

// SPLIT(3) folds over the 144 levels of m in synthdata::effectFoldCsv: each fold leaves about
// a third of the levels without rows, the reference level's one row weighs 1e-8 (or is held
// out), rows carry frequencies, and c and z nearly follow the levels, so that levels come at
// pivots near 1e-7 and 1e-8 of their diagonals. Under the effect and the GLM coding BACKWARD
// by CV runs to its end (the effect coding's folds once took columns past what their rows
// determine and refused the intercept), and at the full model each fold refits the model's
// columns that its rows determine, as the exact refit of its rows does
// (scripts/gen_effect_fold_ref.py, 50 digits): under the effect coding a level whose pivot in
// the fold's sums lies within their rounding bound, which the fold's rows still determine,
// and not the repeated columns of the levels without training rows. x1's and x2's estimates
// are those of that refit within 5e-3, an eighth of their standard errors: z and c leave the
// folds' cross products conditioned near 1e13, and sums in double hold those estimates to
// about 3e-3 under either coding. One and eight threads print the same bits.
TEST(StructuredEffect, FoldsTakeTheColumnsTheirRowsDetermine) {
  std::map<std::string, std::vector<std::string>> want;
  for (const auto& row : qrxrun::csvRows(
           qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/effectfold_fits.csv")))
    if (row[0] != "coding")
      want[row[0] + row[1]] = row;
  for (const char* name : {"EFFECT", "GLM"}) {
    const std::string coding = name;
    const auto run = [&coding](int threads) {
      return qrxrun::runProgram("proc varsifter data=d;\n  class m / param=" + coding +
                                    ";\n  weight w;\n  freq f;\n  model y = z c x1 x2 m / "
                                    "selection=backward(select=cv stop=none) cvmethod=split(3) "
                                    "details=all cvdetails=all;\n  performance cpucount=" +
                                    std::to_string(threads) + ";\nrun;\n",
                                "sefold" + coding + std::to_string(threads),
                                {{"d.csv", synthdata::effectFoldCsv()}});
    };
    const qrxrun::ProgramRun r = run(1);
    ASSERT_EQ(r.status, 0) << coding << r.log;
    EXPECT_EQ(r.log.find("ERROR"), std::string::npos) << coding << r.log;
    const Value* pe = qrxrun::findTable(r.json["steps"][0]["output"], "ParameterEstimates");
    ASSERT_NE(pe, nullptr) << r.log;
    const size_t rows = (*pe)["rows"].items.size();
    for (int fold = 1; fold <= 3; ++fold) {
      const auto& ref = want.at(coding + std::to_string(fold));
      const std::string column = "CVEstimate" + std::to_string(fold);
      int taken = 0;
      for (size_t i = 0; i < rows; ++i)
        taken += qrxrun::number(*pe, i, column) != 0.0 ? 1 : 0;
      EXPECT_EQ(taken, std::stoi(ref[2])) << coding << " fold " << fold;
      // Rows 3 and 4 are x1's and x2's, as the reference's last two fields.
      for (size_t i = 3; i <= 4; ++i) {
        const double x = std::stod(ref[i]);
        EXPECT_NEAR(qrxrun::number(*pe, i, column), x, 5e-3)
            << coding << " fold " << fold << " x" << i - 2;
      }
    }
    const qrxrun::ProgramRun eight = run(8);
    ASSERT_EQ(eight.status, 0) << eight.log;
    EXPECT_EQ(qrxrun::dumpOutput(eight.json["steps"][0]["output"]),
              qrxrun::dumpOutput(r.json["steps"][0]["output"]))
        << coding;
  }
}
