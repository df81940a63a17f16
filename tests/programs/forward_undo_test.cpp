// FORWARD and STEPWISE whose stop undoes their last entry, through qrx, on 45 weighted rows
// where x2 lies far from 0 against its spread (1.007e9, standard deviation 0.054) beside a
// spline of degree 4, and c1 nearly copies x4: the steps' models are so nearly dependent that
// three of their columns are refused, and the entry that the stop undoes leaves its rounding
// in the swept sums. The selected model is the last step's fit in every table and in its
// predictions.
// The rows (tests/data/forwardundo) are those of BY group b=0 that the oracle's generator drew
// for its seed 418655.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kData = std::string(QRX_TEST_DATA) + "/forwardundo/data.csv";

// A selection, the step it selects, and how near the selected tables are to that step's.
struct Case {
  std::string selection, step;
  double tolerance;
};

} // namespace

// Undoing an entry by reverse sweeps took again a column the last step had refused: the
// selected model showed that step's estimates beside Model DF one above its columns and the
// error SS of those columns. FORWARD undoes x4 after step 5 (on 1 and 8 threads) and puts
// back the step's refined matrix. STEPWISE, whose stop criterion is not its entry criterion,
// undoes an entry after step 3 and then takes an effect out and back only to learn the stop
// criterion, which leaves the error SS about 5e-10 of itself off the step's (the p-values,
// which magnify it, a few 1e-9). Step 3 (x2) is taken: its estimates' predictions leave an
// error SS of 2087.66, an adjusted R-square of at least 0.2643 against step 2's 0.2616;
// judged on the unrefined sums of its nearly dependent columns it was undone.
TEST(ForwardUndo, TheSelectedModelIsTheLastStepsFit) {
  const std::vector<Case> cases{
      {"forward(select=sl) details=all;\n  performance cpucount=1", "Step5", 1e-9},
      {"forward(select=sl) details=all;\n  performance cpucount=8", "Step5", 1e-9},
      {"stepwise(select=sl stop=adjrsq sle=0.9 sls=0.95) details=all", "Step3", 1e-7}};
  std::string program;
  std::vector<std::string> outputs;
  for (const auto& c : cases)
    qrxrun::addOutputStep(
        program, outputs, "d",
        qrxrun::concat("  class g1 / param=effect;\n  class g2 / param=orthref;\n"
                       "  effect s1 = spline(x1 / degree=4 knotmethod=equal(12));\n  weight w;\n"
                       "  model y = x1 x2 x3 x4 g1 g2 c1 s1 / selection=",
                       c.selection, ";\n"));
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "forwardundo", {{"d.csv", qrxrun::readFile(kData)}}, outputs);
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), outputs.size()) << run.log;
  for (size_t t = 0; t < outputs.size(); ++t) {
    SCOPED_TRACE(cases[t].selection);
    const qrxrun::SelectedTables selected = qrxrun::expectSelectedIsStep(
        run.json["steps"][t]["output"], cases[t].step, cases[t].tolerance);
    ASSERT_TRUE(selected.anova && selected.estimates) << run.log;
    const Value* anova = selected.anova;
    const Value* estimates = selected.estimates;
    double estimated = 0;
    for (size_t r = 0; r < (*estimates)["rows"].items.size(); ++r)
      estimated += qrxrun::number(*estimates, r, "DF");
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), estimated - 1);
    ASSERT_EQ(run.files.count(outputs[t]), 1U) << run.log;
    // A prediction sums terms near 3e10 (the intercept, x2's) to about 1e5: each rounds by
    // about 1e-5, which moves the weighted squares of residuals near 10 by up to 1e-5 of them.
    const double sse = qrxrun::number(*anova, 1, "SS");
    EXPECT_NEAR(qrxrun::predictedSse(run.files.at(outputs[t]), "w"), sse, 1e-5 * sse);
  }
}
