// Adaptive LASSO with INEST= end to end: estimates files without _TYPE_, with a PARMS row in
// any case, and BY groups of which one has no PARMS row. Every path is checked against the
// reference path of scikit-learn's lars_path on the columns times |b s_x|^0.5
// (tests/data/lars/adaptive_inest.csv from scripts/gen_lars_ref.py, estimates inest.csv).
#include "qrxrun.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

using minijson::Value;

struct Knot {
  int change = 0, active = 0;
  double pathValue = 0, sse = 0;
};

std::vector<Knot> readKnots() {
  std::vector<Knot> out;
  for (const std::vector<double>& v : readReferenceRows("lars/adaptive_inest.csv"))
    out.push_back(Knot{static_cast<int>(v[1]), static_cast<int>(v[5]), v[2], v[4]});
  return out;
}

const char* const kNames[] = {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"};
const std::string kHeader = "Intercept,AGE,SEX,BMI,BP,S1,S2,S3,S4,S5,S6";
const std::string kJunk = "9,9,9,9,9,9,9,9,9,9,9";

// The estimates row: any intercept (it gets no weight), then the reference estimates.
std::string estimates() {
  std::string e = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/lars/inest.csv");
  while (!e.empty() && (e.back() == '\n' || e.back() == '\r'))
    e.pop_back();
  return "150," + e;
}

// The diabetes data twice, as BY groups g=1 and g=2.
std::string twoGroups() {
  std::stringstream in(qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv"));
  std::string line, header, rows;
  std::getline(in, header);
  while (std::getline(in, line))
    if (!line.empty())
      rows += line + "\n";
  std::string out = "g," + header + "\n";
  for (const char* g : {"1,", "2,"}) {
    std::stringstream r(rows);
    while (std::getline(r, line))
      out += g + line + "\n";
  }
  return out;
}

class AdaptiveInest : public ::testing::Test {
protected:
  static qrxrun::Run* run;
  static void SetUpTestSuite() {
    const std::string model = "  model y = age sex bmi bp s1-s6 / selection=lasso("
                              "adaptive(gamma=0.5 inest=%s) stop=none choose=sbc showstepl1);\n";
    auto step = [&](const std::string& data, const std::string& inest, const std::string& by) {
      std::string m = model;
      m.replace(m.find("%s"), 2, inest);
      return "proc varsifter data=" + data + ";\n" + by + m + "run;\n";
    };
    const std::string e = estimates();
    run = new qrxrun::Run(qrxrun::run(
        "libname ex 'examples';\n" + step("ex.diabetes", "plain", "") +
            step("ex.diabetes", "typed", "") + step("twice", "bygroups", "  by g;\n"),
        "inest_adaptive",
        {{"plain.csv", kHeader + "\n" + e + "\n"},
         {"typed.csv",
          "_TYPE_," + kHeader + "\nCOV," + kJunk + "\nparms," + e + "\nPARMS," + kJunk + "\n"},
         {"twice.csv", twoGroups()},
         {"bygroups.csv",
          "g,_TYPE_," + kHeader + "\n1,Parms," + e + "\n2,COV," + kJunk + "\n2,EST," + e + "\n"}}));
  }
  static void TearDownTestSuite() { delete run; }

  // The selection summary of `table` (counting the tables of all steps in order) follows
  // the reference path knot by knot.
  static void checkPath(const Value& output, int table, const std::string& tag) {
    const std::vector<Knot> knots = readKnots();
    ASSERT_EQ(knots.size(), 13u);
    const Value* t = qrxrun::findTable(output, "SelectionSummary", table);
    ASSERT_NE(t, nullptr) << tag;
    ASSERT_EQ((*t)["rows"].items.size(), knots.size()) << tag;
    const double n = 442;
    for (size_t i = 1; i < knots.size(); ++i) {
      const Knot& k = knots[i];
      const std::string at = tag + " step " + std::to_string(i);
      const std::string name = kNames[std::abs(k.change) - 1];
      EXPECT_EQ(qrxrun::text(*t, i, k.change > 0 ? "EffectEntered" : "EffectRemoved"), name) << at;
      EXPECT_NEAR(qrxrun::number(*t, i, "StepL1Ratio"), k.pathValue, 1e-9) << at;
      const double sbc = n * std::log(k.sse / n) + (k.active + 1) * std::log(n);
      EXPECT_NEAR(qrxrun::number(*t, i, "SBC"), sbc, 1e-8 * std::fabs(sbc)) << at;
    }
  }
};
qrxrun::Run* AdaptiveInest::run = nullptr;

TEST_F(AdaptiveInest, EstimatesFileWithoutTypeColumn) {
  ASSERT_EQ(run->json["steps"].items.size(), 3u) << run->log;
  const Value& step = run->json["steps"][0];
  EXPECT_EQ(step["returnCode"].n, 0) << run->log;
  EXPECT_EQ(qrxrun::messageCount(step, VsfMsg::InestNoParmsRow), 0);
  checkPath(step["output"], 0, "no _TYPE_");
  // The Model Information table names the estimates' data set.
  const Value* info = qrxrun::nodeNamed(step["output"], "ModelInfo");
  ASSERT_NE(info, nullptr);
  bool named = false;
  for (const Value& e : (*info)["entries"].items)
    named = named || (e["value"].s.find("PLAIN") != std::string::npos ||
                      e["value"].s.find("plain") != std::string::npos);
  EXPECT_TRUE(named) << "no Model Information row names INEST=";
}

TEST_F(AdaptiveInest, ParmsRowInAnyCase) {
  ASSERT_EQ(run->json["steps"].items.size(), 3u) << run->log;
  const Value& step = run->json["steps"][1];
  EXPECT_EQ(step["returnCode"].n, 0) << run->log;
  EXPECT_EQ(qrxrun::messageCount(step, VsfMsg::InestNoParmsRow), 0);
  checkPath(step["output"], 0, "parms row");
}

TEST_F(AdaptiveInest, ByGroupWithoutParmsRowUsesItsLastRow) {
  ASSERT_EQ(run->json["steps"].items.size(), 3u) << run->log;
  const Value& step = run->json["steps"][2];
  EXPECT_EQ(qrxrun::messageCount(step, VsfMsg::InestNoParmsRow), 1) << run->log;
  checkPath(step["output"], 0, "BY group 1");
  checkPath(step["output"], 1, "BY group 2");
}

} // namespace
