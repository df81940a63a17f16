// Cross validation needs two folds that hold used TRAIN rows: a fold's refit trains on the
// other folds' rows. A BY group (or the data) whose used rows all fall in one fold is a named
// error with a raised return code, end to end through qrx, and the other groups are still
// fitted: RANDOM folds that the used rows all drew alike, and SPLIT or BLOCK folds of a group
// with one used row. Rows of frequency 0 or without a response draw no fold. Folds whose
// refits have fewer rows than parameters are fitted, leaving out what their rows cannot tell.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using qrxrun::Value;

namespace {

constexpr const char* kHead = "B,X1,X2,Y,F\n";

// Group 1: eight rows of frequency 1.
std::string firstGroup() {
  std::string out;
  for (int i = 0; i < 8; ++i)
    out += "1," + std::to_string(i) + "," + std::to_string((i * 5) % 7) + "," +
           std::to_string(3 * i + (i * i) % 4) + ",1\n";
  return out;
}

// Group 2: a row for each letter of `rows`: u used, m without a response, 0 of frequency 0.
std::string secondGroup(const std::string& rows) {
  std::string out;
  for (size_t i = 0; i < rows.size(); ++i) {
    const int n = static_cast<int>(i);
    const std::string y = rows[i] == 'm' ? "" : std::to_string(2 * n + n % 3);
    out += "2," + std::to_string(n) + "," + std::to_string((n * 3) % 5) + "," + y + "," +
           (rows[i] == '0' ? "0" : "1") + "\n";
  }
  return out;
}

qrxrun::ProgramRun runFolds(const std::string& by, const std::string& method,
                            const std::string& data, const std::string& tag) {
  return qrxrun::runProgram("proc varsifter data=d seed=3;\n" + by +
                                "  freq f;\n"
                                "  model y = x1 x2 / selection=forward(select=cv) cvmethod=" +
                                method + ";\nrun;\n",
                            tag, {{"d.csv", data}});
}

void expectRefused(const qrxrun::ProgramRun& r, const std::string& group, size_t fitted) {
  const Value* e = qrxrun::logEntry(r, VsfMsg::CvOneFoldHeld);
  ASSERT_NE(e, nullptr) << r.log;
  EXPECT_EQ((*e)["values"][0].s, group) << r.log;
  EXPECT_GE(r.json["steps"][0]["returnCode"].n, 108) << r.log;
  EXPECT_EQ(qrxrun::tablesOf(r, "SelectionSummary").size(), fitted) << r.log;
}

} // namespace

// SEED=3 draws folds 2 2 1 2 2 2 2 2 for group 1 and 1 1 1 for the three used rows of group 2,
// which would have drawn 1 1 1 2 2 1 had all six been used.
TEST(CvFoldsHeld, RandomFoldsAllDrawnAlikeAreANamedError) {
  const qrxrun::ProgramRun refused = runFolds(
      "  by b;\n", "random(2)", kHead + firstGroup() + secondGroup("u0m0uu"), "cvheldrandom");
  expectRefused(refused, "the BY group B=2", 1u);
  EXPECT_FALSE(qrxrun::logged(refused, VsfMsg::CrossValidationNeedsTwoFolds)) << refused.log;

  const qrxrun::ProgramRun fitted = runFolds(
      "  by b;\n", "random(2)", kHead + firstGroup() + secondGroup("uuuuuu"), "cvheldrandomall");
  EXPECT_EQ(fitted.json["steps"][0]["returnCode"].n, 0) << fitted.log;
  EXPECT_FALSE(qrxrun::logged(fitted, VsfMsg::CvOneFoldHeld)) << fitted.log;
  EXPECT_EQ(qrxrun::tablesOf(fitted, "SelectionSummary").size(), 2u) << fitted.log;
}

// One used row fills one fold whatever the method deals; without BY groups the data is named.
TEST(CvFoldsHeld, OneUsedRowIsANamedError) {
  for (const std::string method : {"split(3)", "block(3)"}) {
    const std::string one = secondGroup("0u0m00");
    expectRefused(runFolds("  by b;\n", method, kHead + firstGroup() + one, "cvheldoneby"),
                  "the BY group B=2", 1u);
    expectRefused(runFolds("", method, kHead + one, "cvheldone"), "the DATA= data set", 0u);
  }
}

// Both folds hold rows, but leaving fold 1 out trains on three rows for up to four parameters
// and leaving fold 2 out on one: each refit leaves out, in the order the effects entered, the
// columns its rows cannot determine. Every step's CV PRESS against that refit and the entry
// order against the least CV PRESS (scripts/gen_cv_fewrows_ref.py).
TEST(CvFoldsHeld, RefitsOnFewerRowsThanParametersLeaveColumnsOut) {
  const qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d seed=3;\n"
      "  model y = x1 x2 x3 / selection=forward(select=cv stop=none) cvmethod=random(2);\n"
      "run;\n",
      "cvheldfewrows", {{"d.csv", "x1,x2,x3,y\n1,4,2,3.1\n2,1,7,5.3\n4,3,1,2.2\n7,5,6,9.4\n"}});
  ASSERT_EQ(r.json["steps"][0]["returnCode"].n, 0) << r.log;
  const auto summaries = qrxrun::tablesOf(r, "SelectionSummary");
  ASSERT_EQ(summaries.size(), 1u) << r.log;
  const Value& t = *summaries[0];
  const std::vector<std::pair<std::string, double>> ref = {{"Intercept", 76.1977777778},
                                                           {"x3", 62.7172335601},
                                                           {"x2", 65.0705536332},
                                                           {"x1", 65.0705536332}};
  ASSERT_EQ(t["rows"].items.size(), ref.size()) << r.log;
  for (size_t s = 0; s < ref.size(); ++s) {
    EXPECT_EQ(qrxrun::text(t, s, "EffectEntered"), ref[s].first) << "step " << s;
    EXPECT_NEAR(qrxrun::number(t, s, "CVPRESS"), ref[s].second, 1e-9 * ref[s].second)
        << "step " << s;
  }
}
