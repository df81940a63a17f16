// The build of the cross products goes with the road: FORWARD over a CLASS effect of many
// levels beside ten numeric effects, whose count alone would have the procedure grow the
// cross products as effects enter, takes the many-level road with the cross products built
// whole, as BUILDSSCP=FULL does. The user's BUILDSSCP=INCREMENTAL, asked for to spare
// memory, takes that road too where the road's sums of the effect hold less than the effect's
// own block that the growing build forms first, with a note giving both sizes; where the block
// holds less (the levels fewer than about twice the other columns) the cross products grow as
// effects enter, and a note says that the option keeps the fit off the road.
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

qrxrun::ProgramRun fit(const std::string& model, int levels, const std::string& build,
                       const std::string& tag) {
  return qrxrun::runProgram(
      "proc varsifter data=d;\n  class g;\n  weight w;\n  model y = " + model +
          " g / selection=forward(select=sbc stop=none);\n  performance details notiming$" + build +
          ";\nrun;\n",
      tag, {{"d.csv", synthdata::tinyWeightCsv(levels, 1200)}});
}

// The tables of two runs within 1e-7 (the roads' sums differ by rounding), and not to the bit.
void expectRoundingApart(const qrxrun::ProgramRun& a, const qrxrun::ProgramRun& b) {
  for (const char* name : {"SelectionSummary", "ANOVA", "ParameterEstimates"}) {
    const Value* x = qrxrun::findTable(a.json["steps"][0]["output"], name);
    const Value* y = qrxrun::findTable(b.json["steps"][0]["output"], name);
    ASSERT_NE(x, nullptr) << name << a.log;
    ASSERT_NE(y, nullptr) << name << b.log;
    EXPECT_EQ(qrxrun::firstDifference(*x, *y, "", 1e-7, 1e-8), "") << name;
    if (std::string(name) == "ParameterEstimates") {
      EXPECT_NE(qrxrun::dumpOutput(*x), qrxrun::dumpOutput(*y)) << "the same sums: no road";
    }
  }
}

const char* kTen = "x1-x6 x1*x2 x2*x3 x3*x4 x4*x5";

TEST(RoadBuild, ManyLevelsTakeTheirRoadWithTheWholeBuildWhereItHoldsLess) {
  const qrxrun::ProgramRun chosen = fit(kTen, 400, "", "roadbuild_chosen");
  const qrxrun::ProgramRun full = fit(kTen, 400, " buildsscp=full", "roadbuild_full");
  const qrxrun::ProgramRun asked = fit(kTen, 400, " buildsscp=incremental", "roadbuild_asked");
  ASSERT_EQ(chosen.status, 0) << chosen.log;
  ASSERT_EQ(full.status, 0) << full.log;
  ASSERT_EQ(asked.status, 0) << asked.log;
  EXPECT_EQ(crossProducts(chosen), "Built in full");
  EXPECT_EQ(crossProducts(asked), "Built in full");
  // The procedure's choice and the asked-for growth take the asked-for full build's road, to
  // the last bit (the notes and the Performance Information table apart).
  const std::string road = qrxrun::dumpOutput(full.json["steps"][0]["output"]);
  EXPECT_EQ(qrxrun::dumpOutput(chosen.json["steps"][0]["output"]), road);
  for (const char* name : {"SelectionSummary", "ANOVA", "ParameterEstimates"})
    EXPECT_EQ(qrxrun::dumpOutput(*qrxrun::findTable(asked.json["steps"][0]["output"], name)),
              qrxrun::dumpOutput(*qrxrun::findTable(full.json["steps"][0]["output"], name)))
        << name;
  EXPECT_FALSE(qrxrun::logged(chosen, VsfMsg::StructuredRoadNotTaken)) << chosen.log;
  EXPECT_FALSE(qrxrun::logged(asked, VsfMsg::StructuredRoadNotTaken)) << asked.log;
  // 400 levels beside 12 small columns (the response, the intercept and ten numeric effects,
  // all dense): the road's 400 x (12 + 6) doubles, 57,600 bytes (56.25 KB), against the
  // block's 400 x 401 / 2 doubles, 641,600 bytes (626.6 KB).
  const Value* note = qrxrun::logEntry(asked, VsfMsg::GrowingBuildTakesRoad);
  ASSERT_NE(note, nullptr) << asked.log;
  EXPECT_EQ((*note)["values"][0].n, 400) << asked.log;
  EXPECT_EQ((*note)["values"][1].s, "56.2 KB") << asked.log;
  EXPECT_EQ((*note)["values"][2].s, "626.6 KB") << asked.log;
}

// 120 levels beside 58 small columns (56 numeric effects): the road would still save work at
// each entry, but its sums of the effect, 120 (56 + 2 + 6) doubles, pass the block's 120 x
// 121 / 2, so the asked-for growth stays.
TEST(RoadBuild, TheAskedGrowthStaysWhereTheEffectsBlockHoldsLess) {
  const std::string many = "x1|x2|x3|x4|x5|x6 @4";
  const qrxrun::ProgramRun chosen = fit(many, 120, "", "roadbuild_many_chosen");
  const qrxrun::ProgramRun asked = fit(many, 120, " buildsscp=incremental", "roadbuild_many_asked");
  ASSERT_EQ(chosen.status, 0) << chosen.log;
  ASSERT_EQ(asked.status, 0) << asked.log;
  EXPECT_EQ(crossProducts(chosen), "Built in full");
  EXPECT_EQ(crossProducts(asked), "Built incrementally");
  expectRoundingApart(chosen, asked);
  EXPECT_FALSE(qrxrun::logged(asked, VsfMsg::GrowingBuildTakesRoad)) << asked.log;
  const Value* note = qrxrun::logEntry(asked, VsfMsg::StructuredRoadNotTaken);
  ASSERT_NE(note, nullptr) << asked.log;
  EXPECT_NE((*note)["values"][1].s.find("BUILDSSCP=INCREMENTAL"), std::string::npos) << asked.log;
  EXPECT_NE((*note)["values"][1].s.find("BUILDSSCP=FULL"), std::string::npos) << asked.log;
}

} // namespace
