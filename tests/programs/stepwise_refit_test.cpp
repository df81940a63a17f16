// STEPWISE that takes an effect out only to learn the stop criterion without it and brings it
// back, through qrx, over splines of degree 57 and 50 on 33 rows: the model it returns to is
// so nearly dependent that its swept sums hold the fit to a few digits, and which of the
// spline's columns it holds is the rank rule's choice at the edge of the rounding. The
// selected model is the last step's fit as recorded, and that is mpmath's least squares of
// its columns (tests/data/stepwiserefit, from scripts/gen_stepwise_refit_ref.py).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace {

using minijson::Value;

const std::string kData = std::string(QRX_TEST_DATA) + "/stepwiserefit/data.csv";
const std::string kDir = std::string(QRX_TEST_DATA) + "/stepwiserefit/";

// The selected model against the step it names and against the least squares of that step's
// columns in fit<degree>.csv.
void expectStepsFit(const std::string& degree, const std::string& selection,
                    const std::string& stepName) {
  std::map<std::string, std::string> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(kDir + "fit" + degree + ".csv")))
    want[row[0]] = row[1];
  std::string program = "proc varsifter data=d;\n  effect s1 = spline(x1 / degree=";
  program += degree;
  program += " knotmethod=equal(7));\n  model y = x1 x2 x3 x4 x5 s1 / selection=stepwise(";
  program += selection;
  program += ") details=all;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "stepwiserefit", {{"d.csv", qrxrun::readFile(kData)}});
  ASSERT_EQ(run.status, 0) << run.log;
  const Value& output = run.json["steps"][0]["output"];
  const Value* selected = qrxrun::nodeNamed(output, "SelectedModel");
  const Value* step = qrxrun::nodeNamed(output, stepName);
  ASSERT_TRUE(selected != nullptr && step != nullptr) << run.log;
  const Value* anova = qrxrun::findTable(*selected, "ANOVA");
  const Value* estimates = qrxrun::findTable(*selected, "ParameterEstimates");
  const Value* stepAnova = qrxrun::findTable(*step, "ANOVA");
  ASSERT_TRUE(anova && estimates && stepAnova);
  double modelDf = 0;
  ASSERT_EQ(qrxrun::takenSplineColumns(*estimates, &modelDf), want.at("taken"))
      << "the rank rule took other columns: the reference is of the set it names";
  EXPECT_EQ(modelDf, std::stod(want.at("model_df")));
  // The error SS is refined on the rows, to about nine digits of a fit this dependent.
  const double sse = std::stod(want.at("error_ss"));
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-8 * sse);
  EXPECT_NEAR(qrxrun::number(*stepAnova, 1, "SS"), sse, 1e-8 * sse);
  // Estimates are refined on the rows, whose corrections go through the swept inverse of a
  // design this dependent: about five digits of their standard errors. The standard errors
  // come from that inverse, whose condition leaves it a few digits.
  qrxrun::expectNamedEstimates(*estimates, 4, want, 5e-5, 5e-3); // Intercept, x2, x3, x5
}

} // namespace

// STEPWISE by ADJRSQ stopping by AIC: the spline's re-entry left the same columns swept,
// their swept fit unrefined.
TEST(StepwiseRefit, TheSelectedModelIsTheLastStepsLeastSquaresFit) {
  expectStepsFit("57", "select=adjrsq stop=aic", "Step4");
}

// STEPWISE by significance stopping by ADJRSQ: the spline's re-entry, judged afresh by the
// rank rule, swept another set of its columns of the same rank.
TEST(StepwiseRefit, TheReenteredEffectHoldsTheStepsColumns) {
  expectStepsFit("50", "select=sl slentry=0.99 slstay=0.6 stop=adjrsq", "Step4");
}
