// Every step of FORWARD, BACKWARD and STEPWISE selection by CV PRESS reports the CV PRESS of
// least-squares refits on the rows outside each fold, and takes the effect whose refits are
// best: on every fold method, with and without CVDETAILS, under BUILDSSCP=FULL and
// INCREMENTAL, on one thread and on eight, on the packed triangle and on the structured road
// of a many-level CLASS effect. The effects are listed so that they enter in another order
// than their columns', which a trial's collapsed triangle then follows. The reference is the
// CV PRESS of every set of effects from numpy refits (scripts/gen_cv_steps_ref.py), on the
// committed cars data and on synthdata's classes rows, made here from their recipe.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// The text of data set `name`.
std::string dataText(const std::string& name) {
  return name == "classes"
             ? synthdata::cvClassesCsv()
             : qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cvsteps/" + name + ".csv");
}

// Runs every PROC step in one program, on the road `hooks` sets (none: the product runner).
void expectRunsFollowRefits(const Design& d, const std::vector<Run>& runs, const std::string& tag,
                            const std::string& hooks = "") {
  if (!hooks.empty())
    ::setenv("QRX_TEST_HOOKS", hooks.c_str(), 1);
  const auto r = qrxrun::runProgram(program(d, runs), tag, {{d.data + ".csv", dataText(d.data)}});
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

// FORWARD by CV over the 19 terms of a cubic polynomial in three variables of very
// different scales, whose later models are nearly dependent: every printed step's CV PRESS
// is that of refits of its terms (scripts/gen_cv_poly_ref.py, QR of centred, scaled
// columns) within 1e-9, on every fold method, CVDETAILS= and BUILDSSCP=, with and without
// WEIGHT. The growing road's trial extends the swept matrices by the candidate's rows while
// its entry sweeps them again from X'X: without CVDETAILS a step once printed its trial's
// CV PRESS, up to 3.6e-7 off; INDEX(fold) and SPLIT(5) share a partition.
TEST(CvSteps, NearlyDependentPolynomialStepsAreTheirOwnRefits) {
  std::map<std::string, double> ref;
  const std::string dir = std::string(QRX_TEST_DATA) + "/cvpoly/";
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "press.csv")))
    if (row.size() == 5 && row[0] != "folds")
      ref[row[0] + "|" + row[1] + "|" + row[2]] = std::stod(row[3]);
  std::vector<std::string> keys;
  std::string text;
  for (const char* folds : {"split(5)", "block(4)", "random(5)", "index(fold)"})
    for (const char* details : {"", " cvdetails=cvpress", " cvdetails=all"})
      for (const char* build : {"full", "incremental"})
        for (const char* weight : {"", "w"}) {
          keys.push_back(std::string(folds) + "|" + weight + "|");
          text += std::string("proc varsifter data=rocklike seed=5;\n") +
                  "  effect p = polynomial(area peri shape / degree=3);\n" +
                  (*weight != 0 ? "  weight w;\n" : "") +
                  "  model perm = p / selection=forward(select=cv stop=none) cvmethod=" + folds +
                  details + ";\n  performance buildsscp=" + build + ";\nrun;\n";
        }
  const auto r = qrxrun::runProgram(text, "cvpoly",
                                    {{"rocklike.csv", qrxrun::readFile(dir + "rocklike.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  ASSERT_EQ(r.json["steps"].items.size(), keys.size()) << r.log;
  for (size_t s = 0; s < keys.size(); ++s) {
    const Value* t = qrxrun::findTable(r.json["steps"][s]["output"], "SelectionSummary");
    ASSERT_NE(t, nullptr) << s;
    std::set<std::string> in;
    for (size_t i = 0; i < (*t)["rows"].items.size(); ++i) {
      if (i > 0)
        in.insert(qrxrun::text(*t, i, "EffectEntered"));
      std::string key = keys[s];
      for (auto it = in.begin(); it != in.end(); ++it)
        key += (it == in.begin() ? "" : " ") + *it;
      const auto want = ref.find(key);
      ASSERT_NE(want, ref.end()) << "run " << s << " left the refits' path at step " << i;
      EXPECT_NEAR(qrxrun::number(*t, i, "CVPRESS"), want->second, 1e-9 * want->second)
          << "run " << s << " step " << i;
    }
  }
}

} // namespace

namespace {

// Each fold's held-out squared error of the least-squares refit of columns x (rows of the
// design) on the rows outside it, rows in fold i mod k: Householder QR in long double.
std::vector<long double> foldErrors(const std::vector<std::vector<long double>>& x,
                                    const std::vector<long double>& y, int k) {
  std::vector<long double> errors(static_cast<size_t>(k), 0.0L);
  const size_t p = x.size(), n = y.size();
  for (int f = 0; f < k; ++f) {
    std::vector<std::vector<long double>> a(p);
    std::vector<long double> b;
    for (size_t i = 0; i < n; ++i)
      if (static_cast<int>(i % static_cast<size_t>(k)) != f) {
        for (size_t j = 0; j < p; ++j)
          a[j].push_back(x[j][i]);
        b.push_back(y[i]);
      }
    const size_t m = b.size();
    for (size_t c = 0; c < p; ++c) { // reflect column c's part below the diagonal away
      long double norm = 0;
      for (size_t i = c; i < m; ++i)
        norm += a[c][i] * a[c][i];
      norm = std::sqrt(norm);
      std::vector<long double> v(a[c].begin() + static_cast<long>(c), a[c].end());
      v[0] += v[0] < 0 ? -norm : norm;
      long double vv = 0;
      for (const long double e : v)
        vv += e * e;
      const auto reflect = [&](std::vector<long double>& col) {
        long double d = 0;
        for (size_t i = 0; i < v.size(); ++i)
          d += v[i] * col[c + i];
        for (size_t i = 0; i < v.size(); ++i)
          col[c + i] -= 2 * d / vv * v[i];
      };
      for (size_t j = c; j < p; ++j)
        reflect(a[j]);
      reflect(b);
    }
    std::vector<long double> beta(p);
    for (size_t c = p; c-- > 0;) {
      long double s = b[c];
      for (size_t j = c + 1; j < p; ++j)
        s -= a[j][c] * beta[j];
      beta[c] = s / a[c][c];
    }
    for (size_t i = static_cast<size_t>(f); i < n; i += static_cast<size_t>(k)) {
      long double r = y[i];
      for (size_t j = 0; j < p; ++j)
        r -= x[j][i] * beta[j];
      errors[static_cast<size_t>(f)] += r * r;
    }
  }
  return errors;
}

} // namespace

// A degree-12 truncated-power spline split into its columns, some of whose pivots lie near
// the rank rule's floor of 1e-8 of the diagonal: above it on all the rows, below it on some
// folds' rows. Each fold refits the model's columns, so its estimates are zero exactly where
// the model's are (the folds once left such columns out, and the CV PRESS of the model the
// selection kept was 6% of the refits'), and each fold's held-out error is that of the
// least-squares refit of the model's columns (scripts/gen_cv_spline_data.py).
TEST(CvSteps, FoldsRefitTheColumnsOfTheModel) {
  const int k = 5;
  const auto r = qrxrun::runProgram(
      "proc varsifter data=spline outdesign(fullmodel)=d;\n  effect s = spline(x / basis=tpf "
      "degree=12 knotmethod=equal(2) split);\n  model y = s / selection=forward(select=cv "
      "stop=none) cvmethod=split(5) cvdetails=all;\nrun;\n",
      "cvspline",
      {{"spline.csv", qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cvspline/spline.csv")}},
      {"d.csv"});
  ASSERT_EQ(r.status, 0) << r.log;
  const Value& out = r.json["steps"][0]["output"];
  const Value* pe = qrxrun::findTable(out, "ParameterEstimates");
  const Value* details = qrxrun::findTable(out, "CVDetails");
  ASSERT_TRUE(pe != nullptr && details != nullptr && r.files.count("d.csv") == 1) << r.log;
  const auto rows = qrxrun::csvRows(r.files.at("d.csv"));
  std::vector<std::vector<long double>> x;
  for (size_t i = 0; i < (*pe)["rows"].items.size(); ++i) {
    const bool in = qrxrun::number(*pe, i, "DF") == 1;
    for (int f = 1; f <= k; ++f)
      EXPECT_EQ(qrxrun::number(*pe, i, "CVEstimate" + std::to_string(f)) != 0, in)
          << qrxrun::text(*pe, i, "Parameter") << " fold " << f;
    if (!in)
      continue;
    std::string column = qrxrun::text(*pe, i, "Parameter"); // "S:3" is S_3
    std::replace(column.begin(), column.end(), ':', '_');
    const int c = qrxrun::headerColumn(rows[0], column);
    ASSERT_GE(c, 0) << column;
    x.emplace_back();
    for (size_t row = 1; row < rows.size(); ++row)
      x.back().push_back(std::stold(rows[row][static_cast<size_t>(c)]));
  }
  ASSERT_GE(x.size(), 8u) << "the selection keeps the spline's columns near the floor";
  std::vector<long double> y;
  const int yc = qrxrun::headerColumn(rows[0], "y");
  for (size_t row = 1; row < rows.size(); ++row)
    y.push_back(std::stold(rows[row][static_cast<size_t>(yc)]));
  // The spline's columns are nearly dependent: the folds' sweeps hold their refits to about
  // 1e-6 of the error, against errors of whole models where a fold left a column out.
  const std::vector<long double> want = foldErrors(x, y, k);
  for (int f = 0; f < k; ++f) {
    const double w = static_cast<double>(want[static_cast<size_t>(f)]);
    EXPECT_NEAR(qrxrun::number(*details, static_cast<size_t>(f), "CVPRESS"), w, 1e-5 * w)
        << "fold " << f + 1;
  }
}
