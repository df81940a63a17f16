// CV PRESS where a fold's held-out rows lie far out among its training rows, through qrx: the
// rows of tests/data/cvrows, whose one row far beyond the others in v1 lies, held out, at a
// leverage of some 4e7 of its fold's training rows once the high powers of v1 are in, while
// their variance inflation stays below 1e6. Every step of FORWARD by SBC (CHOOSE=CV, which
// prints each step's CV PRESS) under BLOCK, SPLIT, RANDOM and INDEX folds, BUILDSSCP=FULL and
// INCREMENTAL, with and without CVDETAILS, reports the CV PRESS of exact refits of the folds
// (mpmath, tests/data/cvrows/press.csv from scripts/gen_cv_rows_ref.py) within its allowance:
// 1e-9 of the corrected total a fold, or 16 eps times the condition of a fold's training
// design above 1e6. From the folds' sums the last step missed by 1.5e-4 of 2.1e6, a hundred
// times the allowance.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using qrxrun::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/cvrows/";

struct Expected {
  std::string entered;
  double press = 0.0, allowed = 0.0;
};

// By fold scheme, the steps' effects entered, exact CV PRESS and allowance.
std::map<std::string, std::vector<Expected>> reference() {
  std::map<std::string, std::vector<Expected>> m;
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "press.csv"));
  for (size_t i = 1; i < rows.size(); ++i)
    m[rows[i][0]].push_back({rows[i][2], std::stod(rows[i][3]), std::stod(rows[i][4])});
  return m;
}

struct RowsRun {
  std::string method, build, details;
};

std::vector<RowsRun> everyRun() {
  std::vector<RowsRun> runs;
  for (const char* method : {"block(7)", "split(7)", "random(7)", "index(fold)"})
    for (const char* build : {"full", "incremental"})
      for (const char* details : {"", "all"})
        runs.push_back({method, build, details});
  return runs;
}

std::string program(const std::vector<RowsRun>& runs) {
  std::string text;
  for (const RowsRun& r : runs)
    text += "proc varsifter data=d seed=811941;\n  effect p1 = polynomial(v1 / degree=9);\n"
            "  model y = x1 x2 x3 p1 / selection=forward(select=sbc stop=none choose=cv) "
            "cvmethod=" +
            r.method + (r.details.empty() ? "" : " cvdetails=" + r.details) +
            ";\n  performance buildsscp=" + r.build + ";\nrun;\n";
  return text;
}

TEST(CvRows, FarHeldOutRowsFollowTheExactRefitsOnEveryRoadAndScheme) {
  const std::vector<RowsRun> runs = everyRun();
  const auto ref = reference();
  const auto r =
      qrxrun::runProgram(program(runs), "cvrows", {{"d.csv", qrxrun::readFile(kDir + "d.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  ASSERT_EQ(r.json["steps"].items.size(), runs.size()) << r.log;
  for (size_t s = 0; s < runs.size(); ++s) {
    const RowsRun& run = runs[s];
    const std::string what = run.method + " " + run.build + " cvdetails=" + run.details;
    const Value* t = qrxrun::findTable(r.json["steps"][s]["output"], "SelectionSummary");
    ASSERT_NE(t, nullptr) << what;
    const std::vector<Expected>& want = ref.at(run.method);
    ASSERT_EQ((*t)["rows"].items.size(), want.size()) << what;
    for (size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(qrxrun::text(*t, i, "EffectEntered"), want[i].entered) << what << " step " << i;
      const double slack = want[i].allowed + 4 * 0x1p-52 * want[i].press;
      EXPECT_NEAR(qrxrun::number(*t, i, "CVPRESS"), want[i].press, slack) << what << " step " << i;
    }
  }
}

} // namespace
