// BACKWARD whose stop undoes its last removal, through qrx, over a spline of degree 55 on 33
// rows whose columns lie so nearly in a smaller span that which of them a model holds is the
// rank rule's choice at the edge of the rounding, and the swept sums hold the fit to a few
// digits. The selected model is the last step's fit as recorded, and that is mpmath's least
// squares of its columns (tests/data/backwardundo, from scripts/gen_backward_undo_ref.py).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/backwardundo/";

// The design drawn by `seed` under BUILDSSCP=`build` (BACKWARD builds the full X'X either
// way, and warns of it): the stop undoes the fourth removal, so step 3 is the last and the
// selected one. The selected model against that step and against the least squares of its
// columns in fit<seed>.csv, whose three named parameters lead the estimates.
void expectStepsFit(const std::string& seed, const std::string& build) {
  std::map<std::string, std::string> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(kDir + "fit" + seed + ".csv")))
    want[row[0]] = row[1];
  const std::string program =
      "proc varsifter data=d;\n  effect s1 = spline(x1 / degree=55 knotmethod=equal(7));\n"
      "  model y = x1 x2 x3 x4 x5 s1 / selection=backward(select=aic maxsteps=4) "
      "details=all;\n  performance buildsscp=" +
      build + ";\nrun;\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      program, "backwardundo", {{"d.csv", qrxrun::readFile(kDir + "data" + seed + ".csv")}});
  ASSERT_EQ(run.status, build == "full" ? 0 : 1) << run.log;
  const Value& output = run.json["steps"][0]["output"];
  const qrxrun::SelectedTables selected = qrxrun::expectSelectedIsStep(output, "Step3");
  ASSERT_TRUE(selected.anova && selected.estimates) << run.log;
  const Value* anova = selected.anova;
  const Value* estimates = selected.estimates;
  EXPECT_EQ(qrxrun::nodeNamed(output, "Step4"), nullptr);
  double modelDf = 0;
  ASSERT_EQ(qrxrun::takenSplineColumns(*estimates, &modelDf), want.at("taken"))
      << "the rank rule took other columns: the reference is of the set it names";
  EXPECT_EQ(modelDf, std::stod(want.at("model_df")));
  EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), modelDf);
  const double sse = std::stod(want.at("error_ss"));
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  // Estimates are refined on the rows; the standard errors come from the swept inverse of
  // cross products whose condition leaves it a few digits.
  qrxrun::expectNamedEstimates(*estimates, 3, want, 1e-6, 1e-3);
}

} // namespace

// The undo restores the columns the step held: nine of the spline's, the set the rank rule
// took along the removals.
TEST(BackwardUndo, TheSelectedModelIsTheLastStepsLeastSquaresFit) {
  expectStepsFit("1666", "full");
}

// The undo puts back the step's refined matrix: rebuilt from X'X and refined again it
// settles on another fit, whose error SS lies 0.7% above the step's beside the step's
// estimates.
TEST(BackwardUndo, TheSelectedModelIsTheStepsRecordedFitOnBothBuilds) {
  for (const std::string build : {"full", "incremental"}) {
    SCOPED_TRACE(build);
    expectStepsFit("1154", build);
  }
}
