// CV PRESS where a fold's training rows leave the model's columns nearly dependent, through
// qrx: the rows of a case whose fold 4, without its rows, puts the columns of a spline basis
// (given as a collection of its values) at a scaled condition of 2.4e6, and whose held-out
// rows extrapolate, so that the fold's error from coefficients solved on its cross products
// alone is off by 10% or more. Every step of FORWARD and BACKWARD selection by CV PRESS,
// under BUILDSSCP=FULL and INCREMENTAL, with and without CVDETAILS, on one thread and on
// eight, reports the CV PRESS of exact refits of the folds (mpmath, tests/data/cvfoldrefine
// from scripts/gen_cv_fold_refine_ref.py) within 1e-7, and one and eight threads give the
// same output to the last bit.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using qrxrun::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/cvfoldrefine/";

// The exact CV PRESS by the model's effects (sorted, space separated).
const std::map<std::string, double>& reference() {
  static const std::map<std::string, double> ref = [] {
    std::map<std::string, double> m;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "press.csv"));
    for (size_t i = 1; i < rows.size(); ++i)
      m[rows[i][0]] = std::stod(rows[i][1]);
    return m;
  }();
  return ref;
}

// The relative error that refits of these folds from the rows in double reach (Householder
// QR misses the exact CV PRESS of the nearly dependent model by 2.8e-8).
constexpr double kTolerance = 1e-7;

// One PROC step: selection, BUILDSSCP=, CVDETAILS= (empty: none) and threads.
struct FoldRun {
  std::string method, build, details, threads;
};

std::vector<FoldRun> everyRun() {
  std::vector<FoldRun> runs;
  for (const char* method : {"forward", "backward"})
    for (const char* build : {"full", "incremental"})
      for (const char* details : {"", "all"})
        for (const char* threads : {"nothreads", "threads cpucount=8"})
          runs.push_back({method, build, details, threads});
  return runs;
}

std::string program(const std::vector<FoldRun>& runs) {
  std::string text;
  for (const FoldRun& r : runs)
    text += "proc varsifter data=d;\n  effect s1 = collection(s1_1-s1_12);\n  weight w;\n"
            "  model y = x1 c0 x2 x3 x4 x5 s1 / selection=" +
            r.method + "(select=cv stop=none) cvmethod=index(fold)" +
            (r.details.empty() ? "" : " cvdetails=" + r.details) +
            ";\n  performance buildsscp=" + r.build + " " + r.threads + ";\nrun;\n";
  return text;
}

std::string lower(std::string s) {
  for (char& c : s)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Each step's CV PRESS is the exact refits' of its effects within kTolerance.
void expectStepsFollowRefits(const FoldRun& r, const Value& output) {
  const std::string what = r.method + " " + r.build + " cvdetails=" + r.details + " " + r.threads;
  const Value* t = qrxrun::findTable(output, "SelectionSummary");
  ASSERT_NE(t, nullptr) << what;
  std::set<std::string> in;
  if (r.method == "backward")
    in = {"x1", "x2", "x3", "x4", "x5", "s1"};
  const size_t steps = (*t)["rows"].items.size();
  ASSERT_EQ(steps, r.method == "backward" ? 8u : 7u) << what;
  for (size_t i = 0; i < steps; ++i) {
    in.insert(lower(qrxrun::text(*t, i, "EffectEntered")));
    in.erase(lower(qrxrun::text(*t, i, "EffectRemoved")));
    in.erase("");
    in.erase("intercept");
    in.erase("c0"); // a copy of the intercept: no model takes it
    std::string key;
    for (const auto& e : in)
      key += (key.empty() ? "" : " ") + e;
    const auto found = reference().find(key);
    ASSERT_NE(found, reference().end()) << what << " step " << i << ": " << key;
    EXPECT_NEAR(qrxrun::number(*t, i, "CVPRESS"), found->second, kTolerance * found->second)
        << what << " step " << i << ": " << key;
  }
}

TEST(CvFoldRefine, NearlyDependentFoldFollowsTheExactRefitsOnEveryRoad) {
  const std::vector<FoldRun> runs = everyRun();
  const auto r = qrxrun::runProgram(program(runs), "cvfoldrefine",
                                    {{"d.csv", qrxrun::readFile(kDir + "d.csv")}});
  // Only BACKWARD's warning that it builds the full X'X whatever BUILDSSCP= says.
  ASSERT_LE(r.status, 1) << r.log;
  ASSERT_EQ(r.json["steps"].items.size(), runs.size()) << r.log;
  for (size_t s = 0; s < runs.size(); ++s) {
    const Value& output = r.json["steps"][s]["output"];
    expectStepsFollowRefits(runs[s], output);
    // The runs alternate one thread and eight: the refined folds' sums are formed in page
    // groups, whatever the threads.
    if (s % 2 == 1) {
      EXPECT_EQ(qrxrun::dumpOutput(r.json["steps"][s - 1]["output"]), qrxrun::dumpOutput(output))
          << runs[s].method << " " << runs[s].build << " cvdetails=" << runs[s].details;
    }
  }
}

} // namespace
