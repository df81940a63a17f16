// The solver-based LASSO and the group LASSO path end to end through the qrx runner on the
// diabetes data: every step of the group path against the block-coordinate-descent reference
// (tests/data/grouplasso/grouplasso_path.csv, scripts/gen_grouplasso_ref.py) and against the
// group LASSO's optimality conditions, computed here from the data; the CLASS variable SEX
// entering as one group and the multi-change rows of the selection summary; CHOOSE= picking
// the minimum of its criterion; QKLASSO$ against scikit-learn's Lasso (qklasso.csv) and
// against the knots of the LASSO path, and at L1 norms and penalty values against the exact
// LASSO path (qklasso_l1.csv); with ADAPTIVE, QKGLASSO$ (SEX a CLASS effect of two columns,
// weights from the least-squares fit or from INEST=) and QKLASSO$ against coordinate descent on
// the weighted standardized columns (qkglasso_adaptive.csv, qklasso_adaptive.csv), and at
// L1 = 0 over CLASS effects of 4 and 8 levels against least squares (qkglasso_class_ls.csv); the
// group path over a near copy beside a degree-11 polynomial against the exact LASSO path of its
// one-column groups (nearcopy_sse.csv). The oracle's regression seeds run group LASSO paths
// through qrx against the optimality conditions (scripts/oracle_lib/check.py).
#include "groupgap.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qrxrun::findTable;
using qrxrun::number;
using qrxrun::ProgramRun;
using qrxrun::Value;

std::vector<std::vector<double>> readCsv(const std::string& name) {
  return readReferenceRows("grouplasso/" + name);
}

ProgramRun runProgram(const std::string& body, const std::string& tag,
                      const std::map<std::string, std::string>& files = {}) {
  return qrxrun::run("libname ex 'examples';\n" + body, tag, files);
}

std::vector<const Value*> tablesOfStep(const ProgramRun& r, size_t step, const std::string& n) {
  std::vector<const Value*> out;
  qrxrun::collectTables(r.json["steps"][step]["output"], n, out);
  return out;
}

// Estimates of a ParameterEstimates table by parameter name (blanks squeezed), 0 elsewhere.
double estimate(const Value& t, const std::string& parameter) {
  for (size_t i = 0; i < t["rows"].items.size(); ++i) {
    std::string p = qrxrun::text(t, i, "Parameter");
    p.erase(std::remove(p.begin(), p.end(), ' '), p.end());
    if (p == parameter)
      return number(t, i, "Estimate");
  }
  return 0.0;
}

// The text line that names the selected step.
std::string selectedNote(const Value& node) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      if (std::string t = selectedNote(item); !t.empty())
        return t;
    return "";
  }
  if (node.kind != Value::Object)
    return "";
  if (node["kind"].s == "text" && node["text"].s.find("is selected") != std::string::npos)
    return node["text"].s;
  return node.has("children") ? selectedNote(node["children"]) : "";
}

const std::vector<std::string> kGroupParms = {"Intercept", "AGE", "SEX1", "SEX2", "BMI", "BP",
                                              "S1",        "S2",  "S3",   "S4",   "S5",  "S6"};

// The centred and scaled design of the group path, read from the data directly.
struct Design {
  std::vector<std::vector<double>> x; // per column (AGE, SEX1, SEX2, BMI, ...), standardized
  std::vector<double> y, mean, sd;
  std::vector<std::vector<int>> groups = {{0}, {1, 2}, {3}, {4}, {5}, {6}, {7}, {8}, {9}, {10}};
  Design() {
    const auto rows =
        qrxrun::csvRows(qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv"));
    std::vector<std::vector<double>> raw(11);
    for (size_t r = 1; r < rows.size(); ++r) {
      std::vector<double> v;
      for (const std::string& c : rows[r])
        v.push_back(std::stod(c));
      const double row[11] = {v[0],
                              v[1] == 1 ? 1.0 : 0.0,
                              v[1] == 2 ? 1.0 : 0.0,
                              v[2],
                              v[3],
                              v[4],
                              v[5],
                              v[6],
                              v[7],
                              v[8],
                              v[9]};
      for (int j = 0; j < 11; ++j)
        raw[j].push_back(row[j]);
      y.push_back(v[10]);
    }
    const double n = static_cast<double>(y.size());
    double ybar = 0;
    for (double v : y)
      ybar += v / n;
    for (double& v : y)
      v -= ybar;
    for (auto& c : raw) {
      double m = 0, ss = 0;
      for (double v : c)
        m += v / n;
      for (double v : c)
        ss += (v - m) * (v - m);
      const double s = std::sqrt(ss / (n - 1));
      mean.push_back(m);
      sd.push_back(s);
      for (double& v : c)
        v = (v - m) / s;
      x.push_back(c);
    }
  }
  // The largest violation of the optimality conditions at standardized coefficients b and
  // penalty weight tau: |g_g + tau sqrt(k) b_g / |b_g|| for a non-zero group, the excess of
  // |g_g| over tau sqrt(k) for a zero one, g = X'(Xb - y).
  double kktViolation(const std::vector<double>& b, double tau) const {
    const size_t n = y.size(), p = x.size();
    std::vector<double> r(n);
    for (size_t i = 0; i < n; ++i) {
      double f = -y[i];
      for (size_t j = 0; j < p; ++j)
        f += x[j][i] * b[j];
      r[i] = f;
    }
    std::vector<double> g(p, 0.0);
    for (size_t j = 0; j < p; ++j)
      for (size_t i = 0; i < n; ++i)
        g[j] += x[j][i] * r[i];
    return groupOptimalityGap(groups, b, g, tau);
  }
};

class GroupLassoProgram : public ::testing::Test {
protected:
  static ProgramRun* run;
  static void SetUpTestSuite() {
    const std::string model = "  class sex;\n  model y = age sex bmi bp s1-s6 / ";
    std::string text = "proc varsifter data=ex.diabetes;\n" + model +
                       "selection=grouplasso(stop=none rho=0.7 tol=1e-12 maxsteps=30) "
                       "details=steps(parmest);\nrun;\n";
    for (const char* c : {"sbc", "aic", "aicc"})
      text += "proc varsifter data=ex.diabetes;\n" + model +
              "selection=grouplasso(stop=none choose=" + c + " rho=0.8 maxsteps=40);\nrun;\n";
    text += "proc varsifter data=ex.diabetes seed=7;\n  partition fraction(validate=0.3);\n" +
            model + "selection=grouplasso(stop=none choose=validate rho=0.8 maxsteps=40);\nrun;\n";
    run = new ProgramRun(runProgram(text, "grouplasso"));
  }
  static void TearDownTestSuite() { delete run; }
};
ProgramRun* GroupLassoProgram::run = nullptr;

TEST_F(GroupLassoProgram, EveryStepMatchesBlockCoordinateDescentAndMeetsOptimality) {
  ASSERT_EQ(run->status, 0) << run->log;
  const auto ref = readCsv("grouplasso_path.csv");
  double lmax = 0;
  std::ifstream(std::string(QRX_TEST_DATA) + "/grouplasso/grouplasso_lmax.csv") >> lmax;
  ASSERT_GT(lmax, 0);
  const auto est = tablesOfStep(*run, 0, "ParameterEstimates");
  // Step 0 (the intercept), steps 1 to 30, then the selected model.
  ASSERT_EQ(est.size(), ref.size() + 2);
  static const Design d;
  for (size_t s = 0; s < ref.size(); ++s) {
    const Value& t = *est[s + 1];
    std::vector<double> b;
    for (size_t j = 0; j < kGroupParms.size(); ++j) {
      const double want = ref[s][2 + j], got = estimate(t, kGroupParms[j]);
      EXPECT_NEAR(got, want, 1e-6 * std::max(1.0, std::fabs(want)))
          << "step " << s + 1 << " " << kGroupParms[j];
      if (j > 0)
        b.push_back(got * d.sd[j - 1]);
    }
    // The optimality conditions to the solver's tolerance, relative to the penalty maximum.
    EXPECT_LE(d.kktViolation(b, ref[s][1] * lmax), 1e-9 * lmax) << "step " << s + 1;
    // SEX enters and leaves as one group: both of its parameters or neither.
    EXPECT_EQ(estimate(t, "SEX1") == 0.0, estimate(t, "SEX2") == 0.0) << "step " << s + 1;
  }
}

TEST_F(GroupLassoProgram, SummaryShowsGroupsAndSeveralChangesPerStep) {
  const Value* t = findTable(run->json["steps"][0]["output"], "SelectionSummary");
  ASSERT_NE(t, nullptr);
  bool multi = false, sex = false;
  for (size_t i = 0; i < (*t)["rows"].items.size(); ++i) {
    const std::string entered = qrxrun::text(*t, i, "EffectEntered");
    multi = multi || entered.find("BMI S5") != std::string::npos;
    if (entered.find("SEX") != std::string::npos) {
      sex = true;
      // The CLASS effect brings both of its parameters at once.
      EXPECT_EQ(number(*t, i, "nParmsIn") - number(*t, i - 1, "nParmsIn"), 2.0);
    }
  }
  EXPECT_TRUE(multi);
  EXPECT_TRUE(sex);
  EXPECT_EQ(qrxrun::text(*t, 0, "EffectEntered"), "Intercept");
}

TEST_F(GroupLassoProgram, ChooseTakesTheMinimumOfItsCriterion) {
  const char* columns[] = {"SBC", "AIC", "AICC", "ValidationASE"};
  for (size_t k = 0; k < 4; ++k) {
    const size_t step = k + 1;
    ASSERT_LT(step, run->json["steps"].items.size());
    const auto sums = tablesOfStep(*run, step, "SelectionSummary");
    ASSERT_EQ(sums.size(), 1u) << columns[k];
    const Value& t = *sums[0];
    size_t best = 0;
    for (size_t i = 1; i < t["rows"].items.size(); ++i)
      if (number(t, i, columns[k]) < number(t, best, columns[k]))
        best = i;
    // The selected model is that step.
    const std::string note = selectedNote(run->json["steps"][step]["output"]);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(note, m, std::regex("The model at step ([0-9]+) is selected")))
        << columns[k];
    EXPECT_EQ(std::stoi(m[1]), static_cast<int>(number(t, best, "Step"))) << columns[k];
    EXPECT_GT(best, 0u) << columns[k];
  }
}

TEST(QkLassoProgram, MatchesScikitLearnAndTheLassoPathKnots) {
  const auto ref = readCsv("qklasso.csv");
  const std::string model = "  model y = age sex bmi bp s1-s6 / ";
  std::string text = "proc varsifter data=ex.diabetes;\n" + model +
                     "selection=lasso(stop=none showstepl1) details=steps(parmest);\nrun;\n";
  for (const auto& r : ref) {
    std::ostringstream l1;
    l1.precision(17);
    l1 << r[0];
    text += "proc varsifter data=ex.diabetes;\n" + model +
            "selection=qklasso$(stop=l1 l1=" + l1.str() + " tol=1e-12);\nrun;\n";
  }
  const ProgramRun run = runProgram(text, "qklasso");
  ASSERT_EQ(run.status, 0) << run.log;
  const char* names[] = {"Intercept", "AGE", "SEX", "BMI", "BP", "S1",
                         "S2",        "S3",  "S4",  "S5",  "S6"};
  for (size_t k = 0; k < ref.size(); ++k) {
    const auto est = tablesOfStep(run, k + 1, "ParameterEstimates");
    ASSERT_EQ(est.size(), 1u);
    for (size_t j = 0; j < 11; ++j)
      EXPECT_NEAR(estimate(*est[0], names[j]), ref[k][1 + j],
                  1e-6 * std::max(1.0, std::fabs(ref[k][1 + j])))
          << "ratio " << ref[k][0] << " " << names[j];
  }
  // The path's knot 3 (BP entered) solved by the solver at the knot's penalty ratio.
  const auto path = tablesOfStep(run, 0, "ParameterEstimates");
  const Value* sum = findTable(run.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_NE(sum, nullptr);
  ASSERT_GT(path.size(), 4u);
  const double ratio = number(*sum, 3, "StepL1Ratio");
  std::ostringstream l1;
  l1.precision(17);
  l1 << ratio;
  const ProgramRun knot =
      runProgram("proc varsifter data=ex.diabetes;\n" + model +
                     "selection=qklasso$(stop=l1 l1=" + l1.str() + " tol=1e-12);\nrun;\n",
                 "qklassoknot");
  const auto at = tablesOfStep(knot, 0, "ParameterEstimates");
  ASSERT_EQ(at.size(), 1u);
  for (const char* n : names) {
    const double want = estimate(*path[3], n);
    EXPECT_NEAR(estimate(*at[0], n), want, 1e-6 * std::max(1.0, std::fabs(want))) << n;
  }
}

// An L1 target read as the L1 norm of the standardized coefficients or as the penalty value,
// for QKLASSO$ and for QKGLASSO$ (which solves with the plain L1 penalty), against the exact
// LASSO path interpolated at the same norm or value (qklasso_l1.csv, scripts/
// gen_qklasso_l1_ref.py), within the error that the run's TOL= allows.
TEST(QkLassoProgram, L1TargetsAsNormsAndPenaltyValuesMatchTheExactPath) {
  const auto ref = readCsv("qklasso_l1.csv");
  ASSERT_EQ(ref.size(), 6u);
  std::string text;
  for (const char* method : {"qklasso$", "qkglasso$"})
    for (const auto& r : ref) {
      std::ostringstream options;
      options.precision(17);
      options << "stop=l1 l1=" << r[1] << " l1choice=" << (r[0] == 2 ? "norm" : "value")
              << " tol=" << r[2];
      text += "proc varsifter data=ex.diabetes;\n  model y = age sex bmi bp s1-s6 / selection=" +
              std::string(method) + "(" + options.str() + ");\nrun;\n";
    }
  const ProgramRun run = runProgram(text, "qklassol1");
  ASSERT_EQ(run.status, 0) << run.log;
  const char* names[] = {"Intercept", "AGE", "SEX", "BMI", "BP", "S1",
                         "S2",        "S3",  "S4",  "S5",  "S6"};
  for (size_t k = 0; k < 2 * ref.size(); ++k) {
    const auto& r = ref[k % ref.size()];
    const auto est = tablesOfStep(run, k, "ParameterEstimates");
    ASSERT_EQ(est.size(), 1u) << run.log;
    for (size_t j = 0; j < 11; ++j)
      EXPECT_NEAR(estimate(*est[0], names[j]), r[3 + j], r[14 + j])
          << "step " << k << " choice " << r[0] << " target " << r[1] << " " << names[j];
  }
}

// ADAPTIVE with the solver: each row of the reference is one fit at an L1 target (a penalty
// ratio or value) with weights |b|^gamma from the least-squares fit of the standardized
// columns or from INEST= estimates, its data-scale estimates matched within the error that
// the run's TOL= allows (scripts/gen_qkglasso_adaptive_ref.py), with the cross products
// grown and in full. QKGLASSO$ takes SEX as a
// CLASS effect: its second column, aliased in the least-squares fit, gets weight 0 and stays
// at 0 while SEX1 carries the effect.
TEST(QkLassoProgram, AdaptiveFitsMatchCoordinateDescentOnWeightedColumns) {
  struct Method {
    const char* name;
    const char* file;
    const char* classes;
    std::vector<std::string> parms;
  };
  const Method methods[] = {
      {"qkglasso$", "qkglasso_adaptive.csv", "  class sex;\n", kGroupParms},
      {"qklasso$",
       "qklasso_adaptive.csv",
       "",
       {"Intercept", "AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"}}};
  const std::string inest =
      qrxrun::readFile(std::string(QRX_TEST_DATA) + "/grouplasso/qkglasso_inest.csv");
  for (const Method& method : methods) {
    const auto ref = readCsv(method.file);
    ASSERT_GE(ref.size(), 4u);
    // Each case on the cross products grown as effects enter, then on the full X'X.
    const char* roads[] = {"  performance buildsscp=incremental;\n",
                           "  performance buildsscp=full;\n"};
    std::string text;
    for (const char* road : roads)
      for (const auto& r : ref) {
        std::ostringstream options;
        options.precision(17);
        options << "stop=l1 l1=" << r[2] << " l1choice=" << (r[1] == 1 ? "ratio" : "value")
                << " tol=" << r[5] << " adaptive(gamma=" << r[3]
                << (r[4] != 0 ? " inest=qkgest" : "") << ")";
        text += "proc varsifter data=ex.diabetes;\n" + std::string(road) + method.classes +
                "  model y = age sex bmi bp s1-s6 / selection=" + method.name + "(" +
                options.str() + ");\nrun;\n";
      }
    const ProgramRun run = runProgram(text, "qkadaptive", {{"qkgest.csv", inest}});
    ASSERT_EQ(run.status, 0) << run.log;
    const size_t n = method.parms.size();
    for (size_t k = 0; k < 2 * ref.size(); ++k) {
      const auto& r = ref[k % ref.size()];
      const auto est = tablesOfStep(run, k, "ParameterEstimates");
      ASSERT_EQ(est.size(), 1u) << run.log;
      for (size_t j = 0; j < n; ++j)
        EXPECT_NEAR(estimate(*est[0], method.parms[j]), r[6 + j], r[6 + n + j])
            << method.name << " step " << k << " case " << r[0] << " " << method.parms[j];
    }
  }
}

// ADAPTIVE with the solver at L1 = 0 is the least-squares fit, whatever the weights, also
// where a CLASS effect has more than two levels (house type of 4 and district of 8 levels,
// and type alone): each estimate within 1e-6 of its standard error of statsmodels' OLS
// (qkglasso_class_ls.csv, scripts/gen_qkglasso_class_ref.py), on both roads of the cross
// products. The last level of each, aliased in the least-squares fit that gives the weights,
// has weight 0; the solver must hold its coefficient at 0 in the loss as in the gradient,
// else the other levels take up the value it wanders to (0.16 of the house type's levels).
TEST(QkLassoProgram, AdaptiveFitAtL1ZeroIsLeastSquaresOverManyLevels) {
  std::map<std::string, std::vector<std::pair<std::string, std::pair<double, double>>>> ref;
  const auto rows = qrxrun::csvRows(
      qrxrun::readFile(std::string(QRX_TEST_DATA) + "/grouplasso/qkglasso_class_ls.csv"));
  for (size_t i = 1; i < rows.size(); ++i)
    ref[rows[i][0]].push_back({rows[i][1], {std::stod(rows[i][2]), std::stod(rows[i][3])}});
  const std::pair<std::string, std::string> cases[] = {{"full", "area rooms age type district"},
                                                       {"type", "type"}};
  std::string text;
  for (const char* road : {"incremental", "full"})
    for (const auto& c : cases)
      text += "proc varsifter data=ex.houses;\n  performance buildsscp=" + std::string(road) +
              ";\n  class type district;\n  model price = " + c.second +
              " / selection=qkglasso$(stop=l1 l1=0 l1choice=ratio tol=1e-10 adaptive);\nrun;\n";
  const ProgramRun run = runProgram(text, "qkclassls");
  ASSERT_EQ(run.status, 0) << run.log;
  for (size_t k = 0; k < 2 * std::size(cases); ++k) {
    const auto& c = cases[k % std::size(cases)];
    const auto est = tablesOfStep(run, k, "ParameterEstimates");
    ASSERT_EQ(est.size(), 1u) << run.log;
    for (const auto& [name, want] : ref.at(c.first))
      EXPECT_NEAR(estimate(*est[0], name), want.first, 1e-6 * want.second)
          << "step " << k << " " << c.first << " " << name;
  }
}

// A near copy of a column (c1 is x4 plus noise of relative size 1e-6) beside the powers of a
// degree-11 polynomial: the solver's Newton steps meet single-column groups at the edge of
// their threshold and steps that carry one through 0, and the path must go on to its end.
// Every step's error SS against the exact LASSO path of these one-column groups
// (nearcopy_sse.csv, scripts/gen_grouplasso_nearcopy_ref.py); at the smallest penalties the
// solver's stop, the optimality conditions to 1e-6 of the gradient's scale, leaves the fit
// loose along directions the design hardly sees (from step 79 on: its error SS is 1.5e-5 off
// at the default tolerance and 1e-13 off at TOL=1e-9).
TEST(GroupLassoSolverProgram, PathGoesOnThroughNearCopyAndHighDegreePolynomial) {
  const auto ref = readCsv("nearcopy_sse.csv");
  ASSERT_EQ(ref.size(), 100u);
  const ProgramRun run = runProgram(
      "libname g 'tests/data/grouplasso';\nproc varsifter data=g.nearcopy;\n"
      "  effect p1 = polynomial(v1 / degree=11);\n"
      "  model y = x1 x2 x3 x4 x5 c1 p1 / selection=grouplasso(stop=none) details=all;\nrun;\n",
      "glnearcopy");
  ASSERT_EQ(run.status, 0) << run.log;
  for (size_t t = 1; t <= ref.size(); ++t) {
    const auto anova = tablesOfStep(run, 0, "ANOVA");
    ASSERT_GT(anova.size(), t) << run.log;
    const double sse = number(*anova[t], 1, "SS"), want = ref[t - 1][2];
    EXPECT_NEAR(sse, want, want * (t < 79 ? 1e-6 : 1e-3)) << "step " << t;
  }
}

} // namespace
