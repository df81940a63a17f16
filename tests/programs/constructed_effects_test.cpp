// Constructed effects end to end through the runner: a spline and a polynomial without
// selection against numpy least squares on the independently built design
// (tests/data/design/constructed_fit.txt, scripts/gen_constructed_fit_ref.py); FORWARD and
// LASSO with a split spline whose OUTPUT predictions are the design times the estimates; the
// knots of the detail tables; the polynomial column order; a LAG effect against least squares
// on the lag design written out from its definition.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using minijson::Value;

struct Reference {
  std::vector<double> estimates;
  double sse = 0;
  std::vector<std::vector<double>> spline; // per observation, 7 columns
};

Reference reference() {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/design/constructed_fit.txt");
  Reference r;
  std::string line, kind;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    s >> kind;
    int k;
    double v;
    if (kind == "estimate" && s >> k >> v)
      r.estimates.push_back(v);
    else if (kind == "sse")
      s >> r.sse;
    else if (kind == "spline" && s >> k) {
      std::vector<double> row;
      while (s >> v)
        row.push_back(v);
      r.spline.push_back(row);
    }
  }
  return r;
}

TEST(ConstructedEffects, SplineAndPolynomialWithoutSelectionMatchLeastSquares) {
  const Reference ref = reference();
  ASSERT_EQ(ref.estimates.size(), 12u);
  const qrxrun::Run run = qrxrun::run("libname ex 'examples';\n"
                                      "proc varsifter data=ex.diabetes;\n"
                                      "  effect sp = spline(bmi / knotmethod=equal(3));\n"
                                      "  effect p = polynomial(age bp / degree=2);\n"
                                      "  model y = sp p / selection=none;\nrun;\n",
                                      "constructed_none");
  const Value& step = run.json["steps"][0];
  ASSERT_EQ(step["returnCode"].n, 0) << run.log;
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
  ASSERT_TRUE(pe != nullptr && anova != nullptr) << run.log;
  ASSERT_EQ((*pe)["rows"].items.size(), 13u);
  // The seventh spline column is aliased with the intercept: its estimate is 0.
  EXPECT_EQ(qrxrun::number(*pe, 7, "Estimate"), 0.0);
  for (size_t r = 0, k = 0; r < 13; ++r) {
    if (r == 7)
      continue;
    const double expected = ref.estimates[k++];
    EXPECT_NEAR(qrxrun::number(*pe, r, "Estimate"), expected, 1e-9 * std::fabs(expected)) << r;
  }
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), ref.sse, 1e-9 * ref.sse);
}

// Predictions of OUTPUT against the reference spline columns and the data times the printed
// estimates (SP:k is spline column k).
void checkPredictions(const qrxrun::ProgramRun& run, const Reference& ref) {
  const Value* pe = qrxrun::findTable(run.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr) << run.log;
  std::map<std::string, double> b;
  for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r)
    b[qrxrun::text(*pe, r, "Parameter")] = qrxrun::number(*pe, r, "Estimate");
  ASSERT_GT(b.size(), 2u);
  const auto rows = qrxrun::csvRows(run.files.at("pred.csv"));
  ASSERT_EQ(rows.size(), ref.spline.size() + 1);
  const std::vector<std::string>& head = rows[0];
  auto at = [&](const std::vector<std::string>& row, const std::string& name) {
    for (size_t j = 0; j < head.size(); ++j)
      if (head[j] == name)
        return std::stod(row[j]);
    ADD_FAILURE() << name;
    return 0.0;
  };
  for (size_t i = 1; i < rows.size(); ++i) {
    double p = 0;
    for (const auto& [name, value] : b) {
      if (name == "Intercept")
        p += value;
      else if (name.rfind("SP:", 0) == 0)
        p += value * ref.spline[i - 1][static_cast<size_t>(std::stoi(name.substr(3)) - 1)];
      else
        p += value * at(rows[i], name);
    }
    EXPECT_NEAR(at(rows[i], "PRED"), p, 1e-9 * std::max(1.0, std::fabs(p))) << "row " << i;
  }
}

TEST(ConstructedEffects, SplitSplineUnderForwardAndLassoPredictsTheDesignTimesTheEstimates) {
  const Reference ref = reference();
  for (const std::string method : {"forward(select=sbc)", "lasso"}) {
    SCOPED_TRACE(method);
    const qrxrun::ProgramRun run =
        qrxrun::runProgram("libname ex '" + std::string(QRX_SOURCE_DIR) +
                               "/examples';\n"
                               "proc varsifter data=ex.diabetes;\n"
                               "  effect sp = spline(bmi / knotmethod=equal(3) split);\n"
                               "  model y = sp age bp / selection=" +
                               method +
                               ";\n"
                               "  output out=pred p=pred;\nrun;\n",
                           "constructed_split", {}, {"pred.csv"});
    ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
    ASSERT_EQ(run.files.count("pred.csv"), 1u) << run.log;
    checkPredictions(run, ref);
  }
}

TEST(ConstructedEffects, DetailsShowTheKnotsAndPolynomialTermsComeInDegreeOrder) {
  const std::string data = "x,z,y\n0,1,1\n1,3,2\n2,2,4\n3,5,3\n4,4,6\n2.5,0,5\n1.5,2,2\n"
                           "0.5,4,1\n3.5,1,7\n1,5,2\n2,3,3\n3,0,5\n";
  const qrxrun::Run run = qrxrun::run("proc varsifter data=d;\n"
                                      "  effect sp = spline(x / knotmethod=equal(3) details);\n"
                                      "  effect p = polynomial(x z / degree=3);\n"
                                      "  effect q = polynomial(z / degree=1);\n"
                                      "  model y = sp p / selection=none;\nrun;\n",
                                      "constructed_details", {{"d.csv", data}});
  const Value& step = run.json["steps"][0];
  ASSERT_EQ(step["returnCode"].n, 0) << run.log;
  const Value* knots = qrxrun::findTable(step["output"], "SplineKnots");
  ASSERT_NE(knots, nullptr) << run.log;
  const double e = 1.110223024625157e-13;
  const std::vector<double> expected = {-2, -1, -e, 1, 2, 3, 4 + e, 5, 6};
  ASSERT_EQ((*knots)["rows"].items.size(), expected.size());
  for (size_t k = 0; k < expected.size(); ++k)
    EXPECT_NEAR(qrxrun::number(*knots, k, "x"), expected[k], 1e-15) << k;
  const Value* basis = qrxrun::findTable(step["output"], "BSplineDetails");
  ASSERT_NE(basis, nullptr);
  EXPECT_EQ((*basis)["rows"].items.size(), 7u);
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr);
  const std::vector<std::string> terms = {"x",   "z",     "x^2",   "x*z", "z^2",
                                          "x^3", "x^2*z", "x*z^2", "z^3"};
  ASSERT_EQ((*pe)["rows"].items.size(), 1 + 7 + terms.size());
  for (size_t k = 0; k < terms.size(); ++k)
    EXPECT_EQ(qrxrun::text(*pe, 8 + k, "Parameter"), terms[k]);
}

TEST(ConstructedEffects, LagEffectMatchesLeastSquaresOnItsDesign) {
  // Groups g observed over periods t; group 3 misses period 2, so its period-3 row has no
  // lagged level and is left out; first periods have an all-zero lag block.
  const std::vector<std::vector<std::string>> obs = {
      {"1", "1", "a", "3"}, {"1", "2", "b", "5"}, {"1", "3", "a", "4"},  {"1", "4", "b", "9"},
      {"2", "1", "b", "2"}, {"2", "2", "b", "7"}, {"2", "3", "a", "6"},  {"2", "4", "a", "5"},
      {"3", "1", "a", "1"}, {"3", "3", "b", "8"}, {"3", "4", "a", "4.5"}};
  std::string data = "g,t,x,y\n";
  std::map<std::pair<std::string, int>, std::string> level;
  for (const auto& o : obs) {
    data += o[0] + "," + o[1] + "," + o[2] + "," + o[3] + "\n";
    level[{o[0], std::stoi(o[1])}] = o[2];
  }
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (const auto& o : obs) {
    const int t = std::stoi(o[1]);
    std::vector<double> row = {1, 0, 0};
    if (t > 1) {
      auto it = level.find({o[0], t - 1});
      if (it == level.end())
        continue; // no lagged level: the row is not used
      row[it->second == "a" ? 1 : 2] = 1;
    }
    x.push_back(row);
    y.push_back(std::stod(o[3]));
    w.push_back(1);
  }
  ASSERT_EQ(x.size(), 10u);
  // The lag columns sum to 1 except in first periods, so the design has full rank.
  const std::vector<double> b = qrxrun::leastSquares(x, y, w);
  const qrxrun::Run run = qrxrun::run("proc varsifter data=lag;\n  class g t x;\n"
                                      "  effect lg = lag(x / period=t within=g details);\n"
                                      "  model y = lg / selection=none;\nrun;\n",
                                      "constructed_lag", {{"lag.csv", data}});
  const Value& step = run.json["steps"][0];
  ASSERT_EQ(step["returnCode"].n, 0) << run.log;
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr) << run.log;
  ASSERT_EQ((*pe)["rows"].items.size(), 3u);
  for (size_t k = 0; k < 3; ++k)
    EXPECT_NEAR(qrxrun::number(*pe, k, "Estimate"), b[k], 1e-9) << k;
  EXPECT_NE(qrxrun::findTable(step["output"], "LagDesign"), nullptr);
}

TEST(ConstructedEffects, DuplicatePeriodsInALagGroupFailTheGroup) {
  const qrxrun::Run run =
      qrxrun::run("proc varsifter data=lag;\n  class g t x;\n"
                  "  effect lg = lag(x / period=t within=g);\n"
                  "  model y = lg / selection=none;\nrun;\n",
                  "constructed_lagdup", {{"lag.csv", "g,t,x,y\n1,1,a,1\n1,1,b,2\n1,2,a,3\n"}});
  const Value& step = run.json["steps"][0];
  EXPECT_EQ(qrxrun::messageCount(step, 174, 77), 1) << run.log;
  EXPECT_GE(step["returnCode"].n, 108) << run.log;
}

} // namespace
