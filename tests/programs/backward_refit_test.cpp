// BACKWARD's removals against fits of the effects that stay, through qrx, over a degree-52
// spline beside two CLASS effects whose columns lie so nearly in a smaller span that the rank
// rule refuses most of them (tests/data/backwardretake). A removal can let a refused column
// in again; judged against every column still in, columns after it among them, it leaves
// another set than a fit of the same effects takes, and the steps after it compare
// criteria of models no fit of their effects gives.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kEffects[] = {"x1", "x2", "g1", "g2", "s1"};

std::string program(const std::string& effects, const std::string& selection) {
  return "proc varsifter data=d;\n  class g1 / param=ORTHEFFECT;\n  class g2 / param=GLM;\n"
         "  effect s1 = spline(x1 / degree=52 knotmethod=equal(5));\n  freq f;\n  model y = " +
         effects + " / selection=" + selection + " details=all;\nrun;\n";
}

} // namespace

// Every step's model (its rank and error SS) is the one a fit of its effects without
// selection takes.
TEST(BackwardRefit, EveryStepIsTheFitOfTheEffectsThatStay) {
  const std::vector<std::pair<std::string, std::string>> files{
      {"d.csv", qrxrun::readFile(std::string(QRX_TEST_DATA) + "/backwardretake/d.csv")}};
  std::string all;
  for (const std::string& e : kEffects)
    all += e + " ";
  const qrxrun::ProgramRun back =
      qrxrun::runProgram(program(all, "backward(select=SL)"), "backwardrefit", files);
  ASSERT_EQ(back.status, 0) << back.log;
  const Value& output = back.json["steps"][0]["output"];
  const Value* summary = qrxrun::findTable(output, "SelectionSummary");
  ASSERT_NE(summary, nullptr) << back.log;
  // The effects of each step, and one fit without selection of each set.
  std::vector<std::string> removed;
  std::string fits;
  for (size_t r = 0; r < (*summary)["rows"].items.size(); ++r) {
    removed.push_back(qrxrun::text(*summary, r, "EffectRemoved"));
    std::string effects;
    for (const std::string& e : kEffects) {
      bool out = false;
      for (const std::string& gone : removed)
        out = out || gone == e || gone == (e == "s1" ? "S1" : e);
      if (!out)
        effects += e + " ";
    }
    fits += program(effects, "none");
  }
  ASSERT_GE(removed.size(), 2U) << "the selection removed nothing";
  const qrxrun::ProgramRun fresh = qrxrun::runProgram(fits, "backwardrefit", files);
  ASSERT_EQ(fresh.status, 0) << fresh.log;
  for (size_t s = 0; s < removed.size(); ++s) {
    SCOPED_TRACE("Step" + std::to_string(s));
    const Value* step = qrxrun::nodeNamed(output, "Step" + std::to_string(s));
    ASSERT_NE(step, nullptr);
    const Value* got = qrxrun::findTable(*step, "ANOVA");
    const Value* selected = qrxrun::nodeNamed(fresh.json["steps"][s]["output"], "SelectedModel");
    ASSERT_TRUE(got != nullptr && selected != nullptr) << fresh.log;
    const Value* want = qrxrun::findTable(*selected, "ANOVA");
    ASSERT_NE(want, nullptr);
    EXPECT_EQ(qrxrun::number(*got, 0, "DF"), qrxrun::number(*want, 0, "DF"));
    const double sse = qrxrun::number(*want, 1, "SS");
    EXPECT_NEAR(qrxrun::number(*got, 1, "SS"), sse, 1e-9 * sse);
  }
}
