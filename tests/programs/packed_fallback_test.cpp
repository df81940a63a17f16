// Where the many-level road loses the intercept to the drift of its level pivots, the BY
// group is fitted again on the packed triangle of every column: the run ends with return
// code 0 and a note, and its tables and output data set are those of a run that took the
// packed road from the start, bit for bit. Where that triangle does not fit the memory, the
// loss stays an error, as the packed road's own run fails there.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <string>

namespace {

using minijson::Value;

struct DriftCase {
  const char* tag;
  const char* model;
  std::string csv;
  int levelColumns;
};

// BACKWARD by cross validation over index folds, and STEPWISE with z forced in, over an
// effect-coded many-level effect whose near-weightless levels drift past the intercept. Under
// BACKWARD only the fold records lost it, when each judged the levels again by the whole rule;
// they now refit the model's columns, as the packed road's folds do, and keep it.
DriftCase backwardCase() {
  return {"pfback",
          "y = z x1 m1 / selection=backward(select=cv stop=cv choose=adjrsq maxsteps=5) "
          "cvmethod=index(fold)",
          synthdata::levelDriftCsv(), 186};
}
DriftCase stepwiseCase() {
  return {"pfstep", "y = z x1 x2 m1 / selection=stepwise(select=sl stop=none choose=aic include=1)",
          synthdata::levelDriftCsv(1155, 2540, 75), 1154};
}

// Runs the case under MEMSIZE=`memsize`, with the test switches `hooks` (none when empty).
qrxrun::ProgramRun runCase(const DriftCase& c, const std::string& memsize, const std::string& hooks,
                           const std::string& tag) {
  return qrxrun::runProgram(
      "options memsize=" + memsize +
          ";\nproc varsifter data=d;\n  class m1 / param=effect;\n  weight w;\n  model " + c.model +
          ";\n  output out=o p=p r=r;\n  performance nothreads;\nrun;\n",
      tag, {{"d.csv", c.csv}}, {"o.csv"}, "", hooks);
}

} // namespace

TEST(PackedFallback, LostInterceptRefitsTheGroupAsThePackedRoadFitsIt) {
  for (const DriftCase& c : {stepwiseCase()}) {
    // The two runs are apart: each in a process of its own, at once.
    auto onPacked = std::async(std::launch::async, [&c] {
      return runCase(c, "2G", "structuredColumns=1000000", std::string(c.tag) + "packed");
    });
    const qrxrun::ProgramRun refit = runCase(c, "2G", "", c.tag);
    const qrxrun::ProgramRun packed = onPacked.get();
    ASSERT_EQ(refit.status, 0) << c.tag << "\n" << refit.log;
    const Value* note = qrxrun::logEntry(refit, VsfMsg::GroupRefitOnPackedTriangle);
    ASSERT_NE(note, nullptr) << c.tag << "\n" << refit.log;
    EXPECT_EQ((*note)["values"][0].n, c.levelColumns) << c.tag;
    EXPECT_FALSE(qrxrun::logged(refit, VsfMsg::InterceptLostToLevels)) << c.tag;
    ASSERT_EQ(packed.status, 0) << c.tag << "\n" << packed.log;
    EXPECT_FALSE(qrxrun::logged(packed, VsfMsg::GroupRefitOnPackedTriangle)) << c.tag;
    EXPECT_EQ(qrxrun::dumpOutput(refit.json["steps"][0]["output"]),
              qrxrun::dumpOutput(packed.json["steps"][0]["output"]))
        << c.tag;
    ASSERT_EQ(refit.files.count("o.csv"), 1u) << c.tag;
    EXPECT_TRUE(refit.files.at("o.csv") == packed.files.at("o.csv")) << c.tag;
  }
}

// The folds of the BACKWARD case refit the model's columns on the many-level road to the end:
// no intercept lost, and every step removes what the packed road's run removes.
TEST(PackedFallback, FoldsThatRefitTheModelsLevelsKeepItsIntercept) {
  const DriftCase c = backwardCase();
  const qrxrun::ProgramRun road = runCase(c, "2G", "", c.tag);
  ASSERT_EQ(road.status, 0) << road.log;
  EXPECT_FALSE(qrxrun::logged(road, VsfMsg::GroupRefitOnPackedTriangle)) << road.log;
  EXPECT_FALSE(qrxrun::logged(road, VsfMsg::InterceptLostToLevels)) << road.log;
  const qrxrun::ProgramRun packed =
      runCase(c, "2G", "structuredColumns=1000000", std::string(c.tag) + "packed");
  ASSERT_EQ(packed.status, 0) << packed.log;
  const Value* a = qrxrun::findTable(road.json["steps"][0]["output"], "SelectionSummary");
  const Value* b = qrxrun::findTable(packed.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_TRUE(a != nullptr && b != nullptr) << road.log;
  ASSERT_EQ((*a)["rows"].items.size(), (*b)["rows"].items.size());
  for (size_t s = 0; s < (*a)["rows"].items.size(); ++s)
    EXPECT_EQ(qrxrun::text(*a, s, "EffectRemoved"), qrxrun::text(*b, s, "EffectRemoved")) << s;
}

TEST(PackedFallback, LostInterceptStaysAnErrorWhereThePackedTriangleDoesNotFit) {
  // 16 MB holds the many-level road's arrays but not the packed triangle of 1158 columns.
  const DriftCase c = stepwiseCase();
  const qrxrun::ProgramRun lost = runCase(c, "16M", "", "pflost");
  EXPECT_EQ(lost.status, 2) << lost.log;
  EXPECT_EQ(qrxrun::messageCount(lost.json["steps"][0], VsfMsg::InterceptLostToLevels), 1)
      << lost.log;
  EXPECT_FALSE(qrxrun::logged(lost, VsfMsg::GroupRefitOnPackedTriangle)) << lost.log;
  const qrxrun::ProgramRun packed = runCase(c, "16M", "structuredColumns=1000000", "pflostpacked");
  EXPECT_EQ(packed.status, 2) << packed.log;
  EXPECT_TRUE(qrxrun::logged(packed, VsfMsg::CrossProductsDoNotFit)) << packed.log;
}

// STEPWISE by C(p) over a degree-11 B-spline, an effect-coded CLASS of 211 levels and two
// covariates with WEIGHT, where a few rows weigh 1e-4 (seed 2) or nothing and 1e-6 (seed 13):
// after the levels' elimination the many-level road lost a spline column the packed road
// keeps (seed 2: Error SS 341.03 against 340.48) or the digits its refinement restores (seed
// 13: 333.10 against 330.50). The road gives way to the packed triangle, and every step's
// C(p) (the full model's among them) and the selected model's Error SS are those of least
// squares on the same columns (scripts/gen_structured_spline_ref.py) within 1e-9 of the
// corrected total.
TEST(PackedFallback, LevelsThatLoseASplineColumnRefitOnThePackedTriangle) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/structuredspline/";
  ::setenv("QRX_TEST_HOOKS", "structuredColumns=1", 1);
  for (const char* seed : {"2", "13"}) {
    const auto ref = qrxrun::csvRows(qrxrun::readFile(dir + "ref" + seed + ".csv"));
    ASSERT_EQ(ref.size(), 6u) << seed;
    const qrxrun::ProgramRun r = qrxrun::runProgram(
        "proc varsifter data=d;\n  class c / param=effect;\n  effect s = spline(x / degree=11 "
        "knotmethod=equal(18));\n  weight w;\n  model y = s c x1 x2 / "
        "selection=stepwise(select=cp);\nrun;\n",
        std::string("pfspline") + seed, {{"d.csv", qrxrun::readFile(dir + "d" + seed + ".csv")}});
    ASSERT_EQ(r.status, 0) << seed << "\n" << r.log;
    EXPECT_TRUE(qrxrun::logged(r, VsfMsg::FitRefitOnPackedTriangle)) << seed << "\n" << r.log;
    const Value& output = r.json["steps"][0]["output"];
    const Value* steps = qrxrun::findTable(output, "SelectionSummary");
    const Value* anova = qrxrun::findTable(output, "ANOVA");
    ASSERT_TRUE(steps != nullptr && anova != nullptr) << seed << "\n" << r.log;
    ASSERT_EQ((*steps)["rows"].items.size(), 4u) << seed;
    const double total = qrxrun::number(*anova, 2, "SS");
    const double s2 =
        std::stod(ref[1][1]) / (qrxrun::number(*anova, 2, "DF") + 1 - std::stod(ref[1][2]));
    for (size_t s = 0; s < 4; ++s) {
      EXPECT_EQ(qrxrun::text(*steps, s, "EffectEntered"), ref[2 + s][0]) << seed << " " << s;
      EXPECT_NEAR(qrxrun::number(*steps, s, "CP"), std::stod(ref[2 + s][3]), 1e-9 * total / s2)
          << seed << " step " << s;
    }
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), std::stod(ref[5][1]), 1e-9 * total) << seed;
  }
  ::unsetenv("QRX_TEST_HOOKS");
}
