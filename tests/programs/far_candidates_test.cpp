// Candidates of a selection without an intercept whose response lies far from 0 against its
// spread, through qrx: a weighted response near 1.9e9 with a spread of 2 on columns among
// which x2 lies near -3e7 and a1 = x1 + x2. Every candidate's error SS lies below the
// rounding of y'y, so its criterion is formed from the rows: STEPWISE by BIC, whose value
// the swept sums left missing, and FORWARD by C(p) both enter the column that fits best and
// report mpmath's least squares of it (tests/data/farcandidates, from
// scripts/gen_far_candidates_ref.py); the first entry is the selected model under STEPS=1.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/farcandidates/";

double entry(const Value& fit, const std::string& label) {
  for (const Value& e : fit["entries"].items)
    if (e["label"].s == label)
      return e["value"].n;
  ADD_FAILURE() << "no " << label;
  return 0.0;
}

std::map<std::string, std::string> wanted(const std::string& file) {
  std::map<std::string, std::string> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(kDir + file)))
    want[row[0]] = row[1];
  return want;
}

// The program's statements before MODEL's selection, run once per selection on the data.
qrxrun::ProgramRun runSelections(const std::string& head,
                                 const std::vector<std::string>& selections,
                                 const std::string& tag) {
  std::string program;
  for (const std::string& s : selections)
    program += head + " stats=(bic cp) selection=" + s + ";\nrun;\n";
  return qrxrun::runProgram(program, tag, {{"d.csv", qrxrun::readFile(kDir + "data.csv")}});
}

// The selected model's ANOVA, estimates and fit statistics in a step's output (null where
// one is missing).
struct Selected {
  const Value* anova = nullptr;
  const Value* estimates = nullptr;
  const Value* fit = nullptr;
  [[nodiscard]] bool complete() const { return anova && estimates && fit; }
};

Selected selectedOf(const Value& output) {
  Selected s;
  if (const Value* model = qrxrun::nodeNamed(output, "SelectedModel")) {
    s.anova = qrxrun::findTable(*model, "ANOVA");
    s.estimates = qrxrun::findTable(*model, "ParameterEstimates");
    s.fit = qrxrun::nodeNamed(*model, "FitStatistics");
  }
  return s;
}

} // namespace

TEST(FarCandidates, TheRowsChooseTheBestCandidate) {
  const auto want = wanted("fit.csv");
  // STEPS=1: the selections go on past the first entry (x5, x6 and x4 follow, no longer cut
  // off as a perfect fit against y'y), and the first is the one checked here.
  const std::vector<std::string> selections = {"stepwise(select=bic stop=none steps=1)",
                                               "forward(select=cp steps=1)"};
  const qrxrun::ProgramRun run =
      runSelections("proc varsifter data=d;\n  weight w;\n  model y = x1 x2 x3 x4 x5 x6 a1 / noint",
                    selections, "farcandidates");
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), selections.size()) << run.log;
  const double sse = std::stod(want.at("error_ss"));
  const double b = std::stod(want.at("estimate")), se = std::stod(want.at("stderr"));
  for (size_t i = 0; i < selections.size(); ++i) {
    SCOPED_TRACE(selections[i]);
    const Selected m = selectedOf(run.json["steps"][i]["output"]);
    ASSERT_TRUE(m.complete()) << run.log;
    ASSERT_EQ((*m.estimates)["rows"].items.size(), 1u);
    EXPECT_EQ(qrxrun::text(*m.estimates, 0, "Parameter"), want.at("best"));
    // Each residual is formed from terms near 1.9e9 and rounds at about 2e-7, 1e-7 of its
    // size: the error SS and the criteria hold about seven digits.
    EXPECT_NEAR(qrxrun::number(*m.anova, 1, "SS"), sse, 1e-7 * sse);
    EXPECT_NEAR(qrxrun::number(*m.estimates, 0, "Estimate"), b, 1e-6 * se);
    EXPECT_NEAR(qrxrun::number(*m.estimates, 0, "StdErr"), se, 1e-7 * se);
    const double bic = std::stod(want.at("bic")), cp = std::stod(want.at("cp"));
    EXPECT_NEAR(entry(*m.fit, "BIC"), bic, 1e-7 * bic);
    EXPECT_NEAR(entry(*m.fit, "C(p)"), cp, 1e-7 * cp);
  }
}

// x1 and x3-x6 beside a CLASS variable g of three levels, whose columns would send the trials
// through the trial block, which forms each candidate's error SS from the swept sums alone:
// STEPWISE by BIC entered nothing ("No effect could be estimated"). Each criterion
// now enters the candidate mpmath makes best (g) with its error SS and criterion.
TEST(FarCandidates, ACandidateOfManyColumnsIsFittedOnTheRowsToo) {
  const auto want = wanted("fitclass.csv");
  const std::vector<std::pair<std::string, std::string>> criteria = {{"bic", "BIC"},
                                                                     {"cp", "C(p)"}};
  const std::vector<std::string> selections = {"stepwise(select=bic stop=none steps=1)",
                                               "forward(select=cp steps=1)"};
  const qrxrun::ProgramRun run = runSelections(
      "proc varsifter data=d;\n  class g;\n  weight w;\n  model y = x1 x3 x4 x5 x6 g / noint",
      selections, "farcandidatesclass");
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), selections.size()) << run.log;
  for (size_t i = 0; i < selections.size(); ++i) {
    const auto& [key, label] = criteria[i];
    SCOPED_TRACE(selections[i]);
    const Selected m = selectedOf(run.json["steps"][i]["output"]);
    ASSERT_TRUE(m.complete()) << run.log;
    ASSERT_GT((*m.estimates)["rows"].items.size(), 0u);
    EXPECT_EQ(qrxrun::text(*m.estimates, 0, "Effect"), want.at(key + " best"));
    const double sse = std::stod(want.at(key + " error_ss")), value = std::stod(want.at(key));
    EXPECT_NEAR(qrxrun::number(*m.anova, 1, "SS"), sse, 1e-7 * sse);
    EXPECT_NEAR(entry(*m.fit, label), value, 1e-7 * std::fabs(value));
  }
}

// A constant column c standing in for the missing intercept beside x1 and x2 near 0, the
// response near -4.5e8 (tests/data/farcandidates/build.csv, buildsteps.csv from
// scripts/gen_far_build_ref.py): c's error SS alone is below the rounding of y'y. The growing
// build formed the first trials from its sums, took SBC -DBL_MAX for c, and no later
// candidate could beat it (one step where the full X'X took three); both builds now fit the
// candidates on the rows and take mpmath's three steps.
TEST(FarCandidates, BothBuildsFitTheCandidatesOnTheRows) {
  const auto want = qrxrun::csvRows(qrxrun::readFile(kDir + "buildsteps.csv"));
  ASSERT_EQ(want.size(), 4u); // the header and three steps
  std::string program;
  for (const std::string build : {"full", "incremental"})
    program += "proc varsifter data=d;\n  model y = c x1 x2 / noint "
               "selection=stepwise(select=sbc stop=none);\n  performance buildsscp=" +
               build + ";\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "farbuild", {{"d.csv", qrxrun::readFile(kDir + "build.csv")}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  const double n = 184.0;
  for (size_t b = 0; b < 2; ++b) {
    SCOPED_TRACE(b == 0 ? "full" : "incremental");
    const Value& out = run.json["steps"][b]["output"];
    const Value* summary = qrxrun::findTable(out, "SelectionSummary");
    ASSERT_NE(summary, nullptr) << run.log;
    ASSERT_EQ((*summary)["rows"].items.size(), 3u) << run.log;
    for (size_t s = 0; s < 3; ++s) {
      const auto& row = want[s + 1];
      EXPECT_EQ(qrxrun::text(*summary, s, "EffectEntered"), row[1]) << "step " << s + 1;
      // SBC moves by n times the error SS's relative error, which carries the rounding of
      // residuals formed from terms near 4.5e8 (about 1e-7 of them at worst).
      EXPECT_NEAR(qrxrun::number(*summary, s, "SBC"), std::stod(row[3]), n * 1e-7)
          << "step " << s + 1;
    }
    const Selected m = selectedOf(out);
    ASSERT_TRUE(m.complete()) << run.log;
    const double sse = std::stod(want[3][2]);
    EXPECT_NEAR(qrxrun::number(*m.anova, 1, "SS"), sse, 1e-7 * sse);
  }
}

// The stop rule judges an entry by its step's own criterion: FORWARD by SL under STOP=SBC
// formed each entry's SBC from the swept sums before the step refined them, an error SS of
// rounding alone that counted as 0 (or as noise), and stopped after x2. It takes mpmath's
// path (x2 x5 x6 x4) and stops where x1's SBC rises.
TEST(FarCandidates, TheStopRuleJudgesTheStepsOwnCriterion) {
  const auto want = wanted("fit.csv");
  const qrxrun::ProgramRun run =
      runSelections("proc varsifter data=d;\n  weight w;\n  model y = x1 x2 x3 x4 x5 x6 a1 / noint",
                    {"forward(select=sl stop=sbc)"}, "farcandidatesstop");
  ASSERT_EQ(run.status, 0) << run.log;
  const Selected m = selectedOf(run.json["steps"][0]["output"]);
  ASSERT_TRUE(m.complete()) << run.log;
  std::set<std::string> taken, path;
  for (size_t r = 0; r < (*m.estimates)["rows"].items.size(); ++r)
    taken.insert(qrxrun::text(*m.estimates, r, "Parameter"));
  std::istringstream columns(want.at("sbc path"));
  for (std::string c; columns >> c;)
    path.insert(c);
  EXPECT_EQ(taken, path);
  const double sbc = std::stod(want.at("sbc path sbc"));
  EXPECT_NEAR(entry(*m.fit, "SBC"), sbc, 1e-7 * sbc);
}
