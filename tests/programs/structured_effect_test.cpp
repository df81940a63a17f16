// The structured road under the effect coding when levels have no rows in the fit (a role
// variable sends them to the test rows), none outside a random fold (one to three rows a
// level) or rows of tiny weight: the same tables as the packed road, and the fit of numpy's
// least squares.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>

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
