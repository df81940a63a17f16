// A spline of x1 of degree 9 entering after x1 itself: its columns span the intercept and x1,
// so the step it enters at may take only as many columns as the model's exact rank. Stepwise
// removes the spline again the step after, forward goes on; both select the step it entered
// at. The rank and the error SS come from scripts/gen_stepwise_spline_rank_ref.py (exact
// elimination in fractions on a truncated power basis of the same space; numpy's least
// squares on a B-spline basis of it).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string program(const std::string& method) {
  return qrxrun::concat("proc varsifter data=d;\n  effect s1 = spline(x1 / degree=9);\n",
                        "  model y = x1 x2 x3 s1 / selection=", method,
                        "(select=SL stop=none choose=ADJRSQ",
                        method == "stepwise" ? " sle=0.2 sls=0.2" : "", ") details=all;\nrun;\n");
}

} // namespace

TEST(StepSplineRank, SplineSpanningAnEnteredColumnTakesTheExactRank) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/stepsplinerank/";
  const auto ref = qrxrun::csvRows(qrxrun::readFile(dir + "fit.csv"));
  ASSERT_EQ(ref.size(), 2U);
  const double rank = std::stod(ref[1][1]);
  const double sse = std::stod(ref[1][2]);
  for (const std::string method : {"stepwise", "forward"}) {
    const qrxrun::ProgramRun r = qrxrun::runProgram(program(method), "stepsplinerank_" + method,
                                                    {{"d.csv", qrxrun::readFile(dir + "d.csv")}});
    ASSERT_EQ(r.status, 0) << r.log;
    const auto& out = r.json["steps"][0]["output"];
    const qrxrun::Value* details = qrxrun::nodeNamed(out, "StepDetails");
    const qrxrun::Value* selected = qrxrun::nodeNamed(out, "SelectedModel");
    ASSERT_NE(details, nullptr) << method;
    ASSERT_NE(selected, nullptr) << method;
    const qrxrun::Value* step = qrxrun::nodeNamed(*details, "Step3");
    ASSERT_NE(step, nullptr) << method;
    for (const qrxrun::Value* model : {step, selected}) {
      const qrxrun::Value* anova = qrxrun::findTable(*model, "ANOVA");
      ASSERT_NE(anova, nullptr) << method;
      EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), rank - 1) << method;
      EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-7 * sse) << method;
    }
  }
}
