// The least-angle paths over columns that the rank rule refuses against the active set
// (near copies, a scaled sum of columns, a cubic truncated-power basis on a skewed variable),
// through qrx on data made by recipes (synthdata.h): a refused column never enters, so every
// step's error SS is at most the corrected total, the final error SS is that of the OUTPUT
// predictions, a path that runs to its end reaches the least-squares fit of the columns it
// took (tests/data/pathrefusal from scripts/gen_path_refusal_ref.py: numpy's fits on the near
// copies, the spline's exact cross products), and 1 and 8 threads take the same effects.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/pathrefusal/";

constexpr double kRows = 200; // the recipes' rows

struct Case {
  std::string data, effects, method;
  bool toEnd; // the path ends at the least-squares fit of the columns it took
};

// Names separated by blanks, in sorted order.
std::string sortedNames(const std::set<std::string>& names) {
  std::string s;
  for (const std::string& n : names) {
    if (!s.empty())
      s += ' ';
    s += n;
  }
  return s;
}

// The least-squares error SS of each largest set of columns free of near dependence, by
// model and sorted column names.
const std::map<std::string, double>& leastSquares() {
  static const std::map<std::string, double> ls = [] {
    std::map<std::string, double> r;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "lstsq.csv"));
    for (size_t i = 1; i < rows.size(); ++i) {
      std::istringstream in(rows[i][1]);
      std::set<std::string> names;
      for (std::string n; in >> n;)
        names.insert(n);
      r[rows[i][0] + ":" + sortedNames(names)] = std::stod(rows[i][2]);
    }
    return r;
  }();
  return ls;
}

// The model's parameters of DF 1 past the intercept.
std::set<std::string> takenColumns(const Value& step) {
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  std::set<std::string> taken;
  for (size_t r = 1; pe != nullptr && r < (*pe)["rows"].items.size(); ++r)
    if (qrxrun::number(*pe, r, "DF") == 1)
      taken.insert(qrxrun::text(*pe, r, "Parameter"));
  return taken;
}

// The least-squares error SS of y on the intercept and the spline data's columns `taken`, from
// their exact corrected cross products: Gaussian elimination in long double on the matrix
// scaled to a unit diagonal (the columns taken pass the rank rule, so it keeps its digits).
double splineLeastSquares(const std::set<std::string>& taken) {
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "spline_xpx.csv"));
  std::vector<int> at;
  for (const std::string& name : taken)
    at.push_back(qrxrun::headerColumn(rows[0], name));
  at.push_back(qrxrun::headerColumn(rows[0], "y"));
  for (const int c : at)
    if (c < 1) {
      ADD_FAILURE() << "a column the cross products lack: " << sortedNames(taken);
      return std::nan("");
    }
  const size_t k = at.size();
  std::vector<std::vector<long double>> a(k, std::vector<long double>(k));
  for (size_t i = 0; i < k; ++i)
    for (size_t j = 0; j < k; ++j)
      a[i][j] = std::strtold(rows[at[i]][at[j]].c_str(), nullptr);
  std::vector<long double> d(k);
  for (size_t i = 0; i < k; ++i)
    d[i] = std::sqrt(a[i][i]);
  for (size_t i = 0; i < k; ++i)
    for (size_t j = 0; j < k; ++j)
      a[i][j] /= d[i] * d[j];
  for (size_t p = 0; p + 1 < k; ++p)
    for (size_t i = p + 1; i < k; ++i) {
      const long double f = a[i][p] / a[p][p];
      for (size_t j = p; j < k; ++j)
        a[i][j] -= f * a[p][j];
    }
  return static_cast<double>(a[k - 1][k - 1] * d[k - 1] * d[k - 1]);
}

// Checks one fit; returns the effects its steps entered, in order.
std::string expectSoundPath(const Case& c, const Value& step, const std::string& output) {
  EXPECT_LE(step["returnCode"].n, 4);
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
  const Value* summary = qrxrun::findTable(step["output"], "SelectionSummary");
  if (anova == nullptr || summary == nullptr) {
    ADD_FAILURE() << "no ANOVA or selection summary";
    return "";
  }
  const double error = qrxrun::number(*anova, 1, "SS");
  const double total = qrxrun::number(*anova, 2, "SS");
  std::string entered;
  for (size_t r = 0; r < (*summary)["rows"].items.size(); ++r) {
    EXPECT_LE(qrxrun::number(*summary, r, "ASE") * kRows, total * (1 + 1e-10)) << "step " << r;
    entered += qrxrun::text(*summary, r, "EffectEntered") + ";";
  }
  EXPECT_LE(error, total * (1 + 1e-10));
  EXPECT_NEAR(qrxrun::predictedSse(output), error, 1e-8 * total);
  const std::set<std::string> taken = takenColumns(step);
  if (c.toEnd && c.data == "skewspline") {
    EXPECT_NEAR(error, splineLeastSquares(taken), 1e-8 * total);
  } else if (c.toEnd) {
    const auto it = leastSquares().find(c.effects + ":" + sortedNames(taken));
    if (it == leastSquares().end())
      ADD_FAILURE() << "a nearly dependent set taken: " << sortedNames(taken);
    else
      EXPECT_NEAR(error, it->second, 1e-8 * total);
  }
  return entered;
}

// Fits every case on 1 and 8 threads in one program, with `performance` options added, and
// checks each fit and that the threads entered the same effects.
void expectSoundPaths(const std::vector<Case>& cases, const std::string& performance,
                      const std::string& tag) {
  const std::map<std::string, std::string> effects{
      {"copy", "x1-x6 n1"}, {"copies", "x1-x6 n1 n2 n3 s"}, {"spline", "sp z"}};
  std::string program;
  std::vector<std::string> outputs;
  for (const Case& c : cases)
    for (const int cpus : {1, 8}) {
      const std::string spline =
          c.data == "skewspline"
              ? "  effect sp = spline(x / basis=tpf degree=3 knotmethod=percentiles(8));\n"
              : "";
      qrxrun::addOutputStep(program, outputs, c.data,
                            qrxrun::concat(spline, "  model y = ", effects.at(c.effects),
                                           " / selection=", c.method,
                                           " stats=(ase);\n  performance ", performance,
                                           " cpucount=", std::to_string(cpus), ";\n"));
    }
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      program, tag,
      {{"nearcopy.csv", synthdata::nearCopyCsv()}, {"skewspline.csv", synthdata::skewSplineCsv()}},
      outputs);
  ASSERT_EQ(run.json["steps"].items.size(), outputs.size()) << run.log;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.effects + " " + c.method);
    std::string entered[2];
    for (size_t t = 0; t < 2; ++t) {
      SCOPED_TRACE(t == 0 ? "1 thread" : "8 threads");
      const auto file = run.files.find(outputs[2 * i + t]);
      entered[t] = expectSoundPath(c, run.json["steps"][2 * i + t],
                                   file != run.files.end() ? file->second : "y,p\n");
    }
    EXPECT_EQ(entered[0], entered[1]);
  }
}

} // namespace

// The packed X'X: LAR, LASSO, the adaptive LASSO and the elastic net over near copies and the
// spline basis.
TEST(PathRefusal, RefusedColumnsLeaveThePathSound) {
  std::vector<Case> cases;
  for (const std::string data : {"copy", "copies"}) {
    cases.push_back({"nearcopy", data, "lar(stop=none)", true});
    cases.push_back({"nearcopy", data, "lasso(stop=none)", true});
    cases.push_back({"nearcopy", data, "lasso(adaptive stop=none)", true});
    cases.push_back({"nearcopy", data, "elasticnet(l2=0.001 stop=none)", false});
  }
  cases.push_back({"skewspline", "spline", "lar(stop=none)", true});
  cases.push_back({"skewspline", "spline", "lasso(stop=none)", false}); // ends at its step limit
  expectSoundPaths(cases, "", "pathrefusal");
}

// The passes per step, and the kept cross products of the entered effects (the test hook
// larCrossLimit opens them below their size rule).
TEST(PathRefusal, PassesAndKeptCrossProductsRefuseAlike) {
  const std::vector<Case> cases{{"nearcopy", "copies", "lar(stop=none)", true},
                                {"nearcopy", "copies", "lasso(stop=none)", true},
                                {"skewspline", "spline", "lar(stop=none)", true}};
  expectSoundPaths(cases, "buildsscp=incremental", "pathrefusalpg");
  ::setenv("QRX_TEST_HOOKS", "larCrossLimit=100000000", 1);
  expectSoundPaths(cases, "buildsscp=incremental", "pathrefusalkp");
  ::unsetenv("QRX_TEST_HOOKS");
}

namespace {

// The error SS of a step's printed estimates over the design's columns (OUTDESIGN, named as
// the parameters with ':' for '_'), and the sum of squares of the terms' sizes, which bounds
// the sum's rounding.
std::pair<double, double> estimatesSse(const Value& estimates, const std::string& design) {
  const auto rows = qrxrun::csvRows(design);
  const int y = qrxrun::headerColumn(rows[0], "y");
  std::vector<double> fit(rows.size(), 0.0), size(rows.size(), 0.0);
  for (size_t r = 0; r < estimates["rows"].items.size(); ++r) {
    std::string name = qrxrun::text(estimates, r, "Parameter");
    std::replace(name.begin(), name.end(), ':', '_');
    const double b = qrxrun::number(estimates, r, "Estimate");
    const int c = name == "Intercept" ? -1 : qrxrun::headerColumn(rows[0], name);
    for (size_t i = 1; i < rows.size(); ++i) {
      const double term = b * (c < 0 ? 1.0 : std::stod(rows[i][c]));
      fit[i] += term;
      size[i] += std::fabs(term);
    }
  }
  double sse = 0, bound = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double e = std::stod(rows[i][y]) - fit[i];
    sse += e * e;
    bound += size[i] * size[i];
  }
  return {sse, bound};
}

} // namespace

// A LASSO path over a degree-10 spline split into its columns, whose active set grows nearly
// dependent: the entry that takes the model past the refinement's inflation sweeps every
// column again at the next entry, whose elimination pivots refused a column the swept
// matrix's extension had taken, while its coefficient (some -60,000) stayed in the step's SSE.
// Every step's error SS is that of its printed estimates, computed here from the data over
// the OUTDESIGN columns, on 1 and 8 threads alike.
TEST(PathRefusal, EveryStepOfANearlyDependentSplinePathIsOneFit) {
  std::string program;
  for (const char* cpus : {"1", "8"})
    program +=
        qrxrun::concat("proc varsifter data=splinelasso outdesign(fullmodel names)=dz", cpus,
                       ";\n  class g1 / param=orthref;\n  class g2 / param=ordinal;\n"
                       "  effect s1 = spline(x1 / degree=10 knotmethod=equal(14));\n"
                       "  model y = x1 x2 g1 g2 s1 / selection=lasso(stop=none) details=all;\n"
                       "  performance cpucount=",
                       cpus, ";\nrun;\n");
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      program, "splinelasso", {{"splinelasso.csv", qrxrun::readFile(kDir + "splinelasso.csv")}},
      {"dz1.csv", "dz8.csv"});
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  std::vector<const Value*> anova[2], estimates[2];
  for (size_t t = 0; t < 2; ++t) {
    qrxrun::collectTables(run.json["steps"][t]["output"], "ANOVA", anova[t]);
    qrxrun::collectTables(run.json["steps"][t]["output"], "ParameterEstimates", estimates[t]);
    ASSERT_EQ(anova[t].size(), estimates[t].size());
  }
  ASSERT_EQ(anova[0].size(), anova[1].size());
  ASSERT_GT(anova[0].size(), 60u);
  const double total = qrxrun::number(*anova[0][0], 2, "SS");
  for (size_t s = 0; s < anova[0].size(); ++s) {
    const double error = qrxrun::number(*anova[0][s], 1, "SS");
    const auto [sse, bound] = estimatesSse(*estimates[0][s], run.files.at("dz1.csv"));
    EXPECT_NEAR(error, sse, 1e-8 * total + 1e-12 * bound) << "step " << s;
    EXPECT_EQ(error, qrxrun::number(*anova[1][s], 1, "SS")) << "step " << s << ", 8 threads";
  }
}
