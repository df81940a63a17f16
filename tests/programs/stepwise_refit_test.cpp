// STEPWISE that takes an effect out only to learn the stop criterion without it and brings it
// back, through qrx, over a spline of degree 57 on 33 rows: the model it returns to is so
// nearly dependent that its swept sums hold the fit to a few digits. The selected model is
// the last step's fit as recorded, and that is mpmath's least squares of its columns
// (tests/data/stepwiserefit, from scripts/gen_stepwise_refit_ref.py).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>

namespace {

using minijson::Value;

const std::string kData = std::string(QRX_TEST_DATA) + "/backwardundo/data.csv";
const std::string kDir = std::string(QRX_TEST_DATA) + "/stepwiserefit/";

// The spline's taken columns by their numbers ("1 2 3 ..."), and the Model DF.
std::string takenSplineColumns(const Value& estimates, double* modelDf) {
  std::string taken;
  *modelDf = 0;
  for (size_t i = 0; i < estimates["rows"].items.size(); ++i) {
    if (qrxrun::number(estimates, i, "DF") != 1)
      continue;
    const std::string name = qrxrun::text(estimates, i, "Parameter");
    *modelDf += name == "Intercept" ? 0 : 1;
    if (name.rfind("S1", 0) != 0)
      continue;
    if (!taken.empty())
      taken += ' ';
    taken += name.substr(name.find_last_of(' ') + 1);
  }
  return taken;
}

} // namespace

TEST(StepwiseRefit, TheSelectedModelIsTheLastStepsLeastSquaresFit) {
  std::map<std::string, std::string> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(kDir + "fit.csv")))
    want[row[0]] = row[1];
  const std::string program =
      "proc varsifter data=d;\n  effect s1 = spline(x1 / degree=57 knotmethod=equal(7));\n"
      "  model y = x2 x3 x5 s1 x1 / selection=stepwise(select=adjrsq stop=aic) "
      "details=all;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "stepwiserefit", {{"d.csv", qrxrun::readFile(kData)}});
  ASSERT_EQ(run.status, 0) << run.log;
  const Value& output = run.json["steps"][0]["output"];
  const Value* selected = qrxrun::nodeNamed(output, "SelectedModel");
  const Value* step = qrxrun::nodeNamed(output, "Step4");
  ASSERT_TRUE(selected != nullptr && step != nullptr) << run.log;
  EXPECT_EQ(qrxrun::nodeNamed(output, "Step5"), nullptr);
  const Value* anova = qrxrun::findTable(*selected, "ANOVA");
  const Value* estimates = qrxrun::findTable(*selected, "ParameterEstimates");
  const Value* stepAnova = qrxrun::findTable(*step, "ANOVA");
  ASSERT_TRUE(anova && estimates && stepAnova);
  double modelDf = 0;
  ASSERT_EQ(takenSplineColumns(*estimates, &modelDf), want.at("taken"))
      << "the rank rule took other columns: the reference is of the set it names";
  EXPECT_EQ(modelDf, std::stod(want.at("model_df")));
  const double sse = std::stod(want.at("error_ss"));
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  EXPECT_NEAR(qrxrun::number(*stepAnova, 1, "SS"), sse, 1e-9 * sse);
  // Estimates are refined on the rows; the standard errors come from the swept inverse of
  // cross products whose condition leaves it a few digits.
  for (size_t row = 0; row < 4; ++row) { // Intercept, x2, x3, x5
    const std::string name = qrxrun::text(*estimates, row, "Parameter");
    ASSERT_TRUE(want.count("estimate " + name)) << name;
    const double b = std::stod(want.at("estimate " + name));
    const double se = std::stod(want.at("stderr " + name));
    EXPECT_NEAR(qrxrun::number(*estimates, row, "Estimate"), b, 1e-5 * se) << name;
    EXPECT_NEAR(qrxrun::number(*estimates, row, "StdErr"), se, 5e-3 * se) << name;
  }
}
