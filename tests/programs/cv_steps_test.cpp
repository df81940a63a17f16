// Every step of FORWARD, BACKWARD and STEPWISE selection by CV PRESS reports the CV PRESS of
// least-squares refits on the rows outside each fold, and takes the effect whose refits are
// best: on every fold method, with and without CVDETAILS, under BUILDSSCP=FULL and
// INCREMENTAL, on one thread and on eight, on the packed triangle and on the structured road
// of a many-level CLASS effect. The effects are listed so that they enter in another order
// than their columns', which a trial's collapsed triangle then follows. The reference is the
// CV PRESS of every set of effects from numpy refits (scripts/gen_cv_steps_ref.py).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using qrxrun::Value;

// A selection program's data set and model.
struct Design {
  std::string data;    // cars or classes
  std::string classes; // the CLASS statement's variable, or empty
  std::string response;
  std::vector<std::string> effects; // in the MODEL statement's order
};

const Design kCars{"cars", "", "Price", {"MPG_city", "Length", "Weight", "Horsepower"}};

Design classDesign(const std::string& g) {
  return {"classes", g, "y", {"x4", "x3", "x2", "x1", g}};
}

// One PROC step: method, fold method, CVDETAILS= (empty: none), BUILDSSCP= and threads.
struct Run {
  std::string method, folds, details, build, threads;
};

const std::vector<std::string> kMethods = {"forward(select=cv stop=none)",
                                           "backward(select=cv stop=none)",
                                           "stepwise(select=cv stop=none)"};
const std::vector<std::string> kFolds = {"split(5)", "block(4)", "random(5)", "index(Fold)"};

std::vector<Run> everyRun(const std::vector<std::string>& folds,
                          const std::vector<std::string>& builds) {
  std::vector<Run> runs;
  for (const auto& method : kMethods)
    for (const auto& f : folds)
      for (const char* details : {"", "all"})
        for (const auto& build : builds)
          for (const char* threads : {"nothreads", "threads cpucount=8"})
            runs.push_back({method, f, details, build, threads});
  return runs;
}

std::string program(const Design& d, const std::vector<Run>& runs) {
  std::string model = d.response + " =";
  for (const auto& e : d.effects)
    model += " " + e;
  std::string text;
  for (const Run& r : runs)
    text += "proc varsifter data=" + d.data + " seed=5;\n" +
            (d.classes.empty() ? "" : "  class " + d.classes + ";\n") + "  model " + model +
            " / selection=" + r.method + " cvmethod=" + r.folds +
            (r.details.empty() ? "" : " cvdetails=" + r.details) +
            ";\n  performance buildsscp=" + r.build + " " + r.threads + ";\nrun;\n";
  return text;
}

// The reference CV PRESS by data set, fold method and effects (sorted, space separated).
const std::map<std::string, double>& reference() {
  static const std::map<std::string, double> ref = [] {
    std::map<std::string, double> m;
    const std::string path = std::string(QRX_TEST_DATA) + "/cvsteps/press.csv";
    for (const auto& row : qrxrun::csvRows(qrxrun::readFile(path)))
      if (row.size() == 4 && row[0] != "data")
        m[row[0] + "|" + row[1] + "|" + row[2]] = std::stod(row[3]);
    return m;
  }();
  return ref;
}

double referencePress(const Design& d, const std::string& folds, const std::set<std::string>& in) {
  std::string key = d.data + "|" + folds + "|";
  for (auto it = in.begin(); it != in.end(); ++it)
    key += (it == in.begin() ? "" : " ") + *it;
  const auto found = reference().find(key);
  EXPECT_NE(found, reference().end()) << key;
  return found == reference().end() ? 0.0 : found->second;
}

// The best CV PRESS of the refits one change away from `in`: entering one of the effects out
// (enter) or removing one of those in.
double bestNeighbour(const Design& d, const std::string& folds, const std::set<std::string>& in,
                     bool enter) {
  double best = 1e300;
  for (const auto& e : d.effects) {
    if ((in.count(e) != 0) == enter)
      continue;
    std::set<std::string> next = in;
    if (enter)
      next.insert(e);
    else
      next.erase(e);
    best = std::min(best, referencePress(d, folds, next));
  }
  return best;
}

// Each step's CV PRESS equals the refits' of its effects within 1e-9 relative, and the effect
// it entered or removed is the best such change by the refits.
void expectStepsFollowRefits(const Design& d, const Run& r, const Value& output) {
  const std::string what =
      r.method + " " + r.folds + " cvdetails=" + r.details + " " + r.build + " " + r.threads;
  const Value* t = qrxrun::findTable(output, "SelectionSummary");
  ASSERT_NE(t, nullptr) << what;
  const bool backward = r.method.rfind("backward", 0) == 0;
  std::set<std::string> in;
  if (backward)
    in.insert(d.effects.begin(), d.effects.end());
  const size_t steps = (*t)["rows"].items.size();
  ASSERT_GE(steps, 2u) << what;
  for (size_t i = 0; i < steps; ++i) {
    const std::string entered = qrxrun::text(*t, i, "EffectEntered");
    const std::string removed = qrxrun::text(*t, i, "EffectRemoved");
    const std::set<std::string> before = in;
    if (i > 0 && !entered.empty())
      in.insert(entered);
    if (i > 0 && !removed.empty())
      in.erase(removed);
    const double want = referencePress(d, r.folds, in);
    const double got = qrxrun::number(*t, i, "CVPRESS");
    EXPECT_NEAR(got, want, 1e-9 * want) << what << " step " << i;
    if (i == 0)
      continue;
    EXPECT_LE(want, bestNeighbour(d, r.folds, before, !entered.empty()) * (1 + 1e-9))
        << what << " step " << i << " took " << entered << removed;
  }
}

// Runs every PROC step in one program, on the road `hooks` sets (none: the product runner).
void expectRunsFollowRefits(const Design& d, const std::vector<Run>& runs, const std::string& tag,
                            const std::string& hooks = "") {
  if (!hooks.empty())
    ::setenv("QRX_TEST_HOOKS", hooks.c_str(), 1);
  const auto r =
      qrxrun::runProgram(program(d, runs), tag,
                         {{d.data + ".csv", qrxrun::readFile(std::string(QRX_TEST_DATA) +
                                                             "/cvsteps/" + d.data + ".csv")}});
  ::unsetenv("QRX_TEST_HOOKS");
  // Only BACKWARD's warning that it builds the full X'X whatever BUILDSSCP= says.
  ASSERT_LE(r.status, 1) << r.log;
  ASSERT_EQ(r.json["steps"].items.size(), runs.size()) << r.log;
  for (size_t s = 0; s < runs.size(); ++s)
    expectStepsFollowRefits(d, runs[s], r.json["steps"][s]["output"]);
}

const std::vector<std::string> kBothBuilds = {"full", "incremental"};

TEST(CvSteps, CarsFollowTheRefitsOnEveryRoad) {
  expectRunsFollowRefits(kCars, everyRun(kFolds, kBothBuilds), "cvstepscars");
}

TEST(CvSteps, TenLevelClassFollowsTheRefitsOnEveryRoad) {
  expectRunsFollowRefits(classDesign("g10"), everyRun(kFolds, kBothBuilds), "cvstepsg10");
}

// 125 columns, at the structured road's crossover: the packed triangle and the structured
// road give the refits' steps (the full set of runs is long).
TEST(CvSteps, ManyLevelClassFollowsTheRefitsOnBothRoads) {
  const bool all = std::getenv("QRX_LONG_TESTS") != nullptr;
  const auto folds = all ? kFolds : std::vector<std::string>{"index(Fold)", "random(5)"};
  const auto packed = everyRun(folds, all ? kBothBuilds : std::vector<std::string>{"full"});
  const auto structured = everyRun(folds, {"full"});
  expectRunsFollowRefits(classDesign("g120"), packed, "cvstepspacked", "structuredColumns=1000000");
  expectRunsFollowRefits(classDesign("g120"), structured, "cvstepsstructured",
                         "structuredColumns=1");
}

} // namespace
