// EFFECT statements end to end: statements that no model effect uses leave the stepwise fit
// of the diabetes data as it is without them (and as the independent computation of
// tests/data/results/diabetes_stepwise_sbc.txt, scripts/gen_results_diabetes_ref.py, has
// it); model effects that use them fit; a constructed effect the method cannot take is
// refused with its message.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace {

using minijson::Value;

const char* const kUnusedEffects = "  effect sp = spline(bmi s3 / knotmethod=equal(4) split);\n"
                                   "  effect p = polynomial(age bp / degree=2);\n"
                                   "  effect c = collection(s1 s2);\n";

std::string program(const std::string& effects, const std::string& model,
                    const std::string& selection = "stepwise(select=sbc)") {
  return "libname ex 'examples';\n"
         "proc varsifter data=ex.diabetes;\n" +
         effects + "  model y = " + model + " / selection=" + selection + ";\nrun;\n";
}

// Name -> estimate of the reference's "estimate NAME value stderr" lines.
std::map<std::string, double> referenceEstimates() {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/results/diabetes_stepwise_sbc.txt");
  std::map<std::string, double> out;
  std::string line;
  while (std::getline(in, line)) {
    std::stringstream s(line);
    std::string kind, name;
    double value = 0;
    if (s >> kind >> name >> value && kind == "estimate")
      out[name] = value;
  }
  return out;
}

bool mentionsInternalError(const Value& step) {
  for (const auto& rec : step["log"].items)
    if (rec.has("text") && rec["text"].s.find("internal error") != std::string::npos)
      return true;
  return false;
}

TEST(EffectStatements, UnusedOnesLeaveTheFitAsWithoutThem) {
  const std::string model = "age sex bmi bp s1-s6";
  const qrxrun::Run with = qrxrun::run(program(kUnusedEffects, model), "effect_unused");
  const qrxrun::Run without = qrxrun::run(program("", model), "effect_none");
  ASSERT_EQ(with.json["steps"].items.size(), 1u) << with.log;
  const Value& step = with.json["steps"][0];
  EXPECT_EQ(step["returnCode"].n, 0) << with.log;
  EXPECT_EQ(with.status, 0) << with.log;
  EXPECT_FALSE(mentionsInternalError(step)) << with.log;

  const Value* mine = qrxrun::findTable(step["output"], "ParameterEstimates");
  const Value* plain = qrxrun::findTable(without.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(mine, nullptr) << with.log;
  ASSERT_NE(plain, nullptr) << without.log;
  // Cell for cell the table of the same program without EFFECT statements.
  ASSERT_EQ((*mine)["rows"].items.size(), (*plain)["rows"].items.size());
  for (size_t r = 0; r < (*mine)["rows"].items.size(); ++r)
    for (const char* c : {"Parameter", "Estimate", "StdErr", "tValue"}) {
      const Value *a = qrxrun::cell(*mine, r, c), *b = qrxrun::cell(*plain, r, c);
      ASSERT_TRUE(a != nullptr && b != nullptr) << c;
      EXPECT_EQ(a->s, b->s) << "row " << r << " " << c;
      EXPECT_EQ(a->n, b->n) << "row " << r << " " << c;
    }
  // And the estimates of the independent computation.
  const std::map<std::string, double> reference = referenceEstimates();
  ASSERT_EQ(reference.size(), 7u);
  ASSERT_EQ((*mine)["rows"].items.size(), reference.size());
  for (size_t r = 0; r < reference.size(); ++r) {
    const std::string name = qrxrun::text(*mine, r, "Parameter");
    ASSERT_EQ(reference.count(name), 1u) << name;
    const double expected = reference.at(name);
    EXPECT_NEAR(qrxrun::number(*mine, r, "Estimate"), expected, 1e-8 * std::fabs(expected)) << name;
  }
}

TEST(EffectStatements, AModelEffectThatUsesOneFits) {
  for (const std::string model : {"age sex sp bp", "age sex bmi*p"}) {
    SCOPED_TRACE(model);
    const qrxrun::Run run = qrxrun::run(program(kUnusedEffects, model), "effect_used");
    ASSERT_EQ(run.json["steps"].items.size(), 1u) << run.log;
    const Value& step = run.json["steps"][0];
    EXPECT_EQ(step["returnCode"].n, 0) << run.log;
    EXPECT_EQ(run.status, 0);
    EXPECT_FALSE(mentionsInternalError(step)) << run.log;
    EXPECT_NE(qrxrun::findTable(step["output"], "ParameterEstimates"), nullptr);
  }
  // A constructed effect that the method cannot take is refused as such first.
  const qrxrun::Run lasso = qrxrun::run(program(kUnusedEffects, "age c", "lasso"), "effect_lasso");
  ASSERT_EQ(lasso.json["steps"].items.size(), 1u) << lasso.log;
  EXPECT_EQ(qrxrun::messageCount(lasso.json["steps"][0], VsfMsg::ConstructedEffectNotForMethod), 1)
      << lasso.log;
}

} // namespace
