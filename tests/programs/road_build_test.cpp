// The build of the cross products goes with the road: FORWARD over a CLASS effect of many
// levels beside ten numeric effects, whose count alone would have the procedure grow the
// cross products as effects enter, takes the many-level road with the cross products built
// whole, as BUILDSSCP=FULL does; the user's BUILDSSCP=INCREMENTAL keeps its meaning, and a
// note says that it keeps the fit off the road and what lifts it.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using minijson::Value;

// The PerfSettings entry that says how the cross-products matrix was built.
std::string crossProducts(const qrxrun::ProgramRun& r) {
  const std::vector<const Value*> perf = qrxrun::tablesOf(r, "PerfSettings");
  if (perf.empty())
    return "";
  for (const Value& e : (*perf[0])["entries"].items)
    if (e["label"].s == "Cross-Products Matrix")
      return e["value"].s;
  return "";
}

qrxrun::ProgramRun fit(const std::string& build, const std::string& tag) {
  return qrxrun::runProgram(
      "proc varsifter data=d;\n  class g;\n  weight w;\n"
      "  model y = x1-x6 x1*x2 x2*x3 x3*x4 x4*x5 g / selection=forward(select=sbc stop=none);\n"
      "  performance details notiming$" +
          build + ";\nrun;\n",
      tag, {{"d.csv", synthdata::tinyWeightCsv(400, 1200)}});
}

TEST(RoadBuild, ManyLevelsTakeTheirRoadWithTheWholeBuildUnlessTheUserAsksOtherwise) {
  const qrxrun::ProgramRun chosen = fit("", "roadbuild_chosen");
  const qrxrun::ProgramRun full = fit(" buildsscp=full", "roadbuild_full");
  const qrxrun::ProgramRun growing = fit(" buildsscp=incremental", "roadbuild_growing");
  ASSERT_EQ(chosen.status, 0) << chosen.log;
  ASSERT_EQ(full.status, 0) << full.log;
  ASSERT_EQ(growing.status, 0) << growing.log;
  EXPECT_EQ(crossProducts(chosen), "Built in full");
  EXPECT_EQ(crossProducts(growing), "Built incrementally");
  // The procedure's choice is the asked-for full build's road, to the last bit; the growing
  // build's road gives the same tables by its own sums, not bit for bit: within 1e-7, as the
  // intercept, which the GLM coding leaves to the last level alone on its row of weight 1e-4,
  // has an estimate and a standard error (95) that the two roads' sums give 1e-8 apart.
  const Value& out = chosen.json["steps"][0]["output"];
  EXPECT_EQ(qrxrun::dumpOutput(out), qrxrun::dumpOutput(full.json["steps"][0]["output"]));
  for (const char* name : {"SelectionSummary", "ANOVA", "ParameterEstimates"}) {
    const Value* a = qrxrun::findTable(out, name);
    const Value* b = qrxrun::findTable(growing.json["steps"][0]["output"], name);
    ASSERT_NE(a, nullptr) << name << chosen.log;
    ASSERT_NE(b, nullptr) << name << growing.log;
    EXPECT_EQ(qrxrun::firstDifference(*a, *b, "", 1e-7, 1e-8), "") << name;
    if (std::string(name) == "ParameterEstimates") {
      EXPECT_NE(qrxrun::dumpOutput(*a), qrxrun::dumpOutput(*b)) << "the same sums: no road";
    }
  }
  EXPECT_FALSE(qrxrun::logged(chosen, VsfMsg::StructuredRoadNotTaken)) << chosen.log;
  const Value* note = qrxrun::logEntry(growing, VsfMsg::StructuredRoadNotTaken);
  ASSERT_NE(note, nullptr) << growing.log;
  EXPECT_NE((*note)["values"][1].s.find("BUILDSSCP=INCREMENTAL"), std::string::npos) << growing.log;
  EXPECT_NE((*note)["values"][1].s.find("BUILDSSCP=FULL"), std::string::npos) << growing.log;
}

} // namespace
