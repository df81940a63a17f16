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
    EXPECT_NEAR(at(rows[i], "pred"), p, 1e-9 * std::max(1.0, std::fabs(p))) << "row " << i;
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
  EXPECT_EQ(qrxrun::messageCount(step, EffMsg::LagEffectTwoObservationsSameGroupPeriod), 1)
      << run.log;
  EXPECT_GE(step["returnCode"].n, 108) << run.log;
}

// The least residual sum of squares of y on the columns (each n values) by Householder QR in
// long double, the columns scaled to unit length and pivoted by their remaining length; a
// column whose remaining length falls below 1e-13 is taken as dependent on those before it.
long double leastSquaresMinimum(std::vector<std::vector<long double>> cols,
                                std::vector<long double> y) {
  const size_t n = y.size();
  std::erase_if(cols, [](auto& c) {
    long double s = 0;
    for (long double v : c)
      s += v * v;
    for (long double& v : c)
      v = s > 0 ? v / std::sqrt(s) : 0;
    return s == 0;
  });
  auto rest = [&](const std::vector<long double>& c, size_t j) {
    long double s = 0;
    for (size_t i = j; i < n; ++i)
      s += c[i] * c[i];
    return std::sqrt(s);
  };
  size_t j = 0;
  for (; j < n && j < cols.size(); ++j) {
    size_t best = j;
    for (size_t c = j + 1; c < cols.size(); ++c)
      if (rest(cols[c], j) > rest(cols[best], j))
        best = c;
    std::swap(cols[j], cols[best]);
    const long double norm = rest(cols[j], j);
    if (norm < 1e-13L)
      break;
    std::vector<long double> v(cols[j].begin() + static_cast<long>(j), cols[j].end());
    v[0] += cols[j][j] < 0 ? -norm : norm;
    const long double vv = [&] {
      long double s = 0;
      for (long double e : v)
        s += e * e;
      return s;
    }();
    auto reflect = [&](std::vector<long double>& c) {
      long double s = 0;
      for (size_t i = j; i < n; ++i)
        s += v[i - j] * c[i];
      for (size_t i = j; i < n; ++i)
        c[i] -= 2 * s / vv * v[i - j];
    };
    for (size_t c = j; c < cols.size(); ++c)
      reflect(cols[c]);
    reflect(y);
  }
  long double sse = 0;
  for (size_t i = j; i < n; ++i)
    sse += y[i] * y[i];
  return sse;
}

// A high-degree B-spline's basis has columns many orders of magnitude apart that are nearly
// dependent over the data: the fit reported must be the fit of the OUTPUT predictions and
// never below least squares on the OUTDESIGN columns.
TEST(ConstructedEffects, HighDegreeSplinesReportTheFitOfTheirPredictions) {
  std::string data = "x,y\n";
  for (int i = 1; i <= 60; ++i) {
    const double x = std::round(10000 * std::fmod(i * 0.6180339887, 1.0)) / 1000;
    const double y = std::round(1000 * (5 * std::sin(x) + x + 0.8 * std::sin(37.1 * i))) / 1000;
    data += std::to_string(x) + "," + std::to_string(y) + "\n";
  }
  for (const int degree : {3, 12, 30, 50}) {
    SCOPED_TRACE(degree);
    const qrxrun::ProgramRun run =
        qrxrun::runProgram("proc varsifter data=d outdesign(fullmodel)=des;\n"
                           "  effect s = spline(x / degree=" +
                               std::to_string(degree) +
                               ");\n"
                               "  model y = s / selection=none;\n  output out=pred p=p;\nrun;\n",
                           "spline_degree", {{"d.csv", data}}, {"des.csv", "pred.csv"});
    const Value& step = run.json["steps"][0];
    ASSERT_EQ(step["returnCode"].n, 0) << run.log;
    const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
    ASSERT_TRUE(anova != nullptr && run.files.count("des.csv") && run.files.count("pred.csv"))
        << run.log;
    const double reported = qrxrun::number(*anova, 1, "SS");
    const auto pred = qrxrun::csvRows(run.files.at("pred.csv"));
    const int py = qrxrun::headerColumn(pred[0], "y"), pp = qrxrun::headerColumn(pred[0], "p");
    double predicted = 0;
    for (size_t i = 1; i < pred.size(); ++i)
      predicted += std::pow(std::stod(pred[i][py]) - std::stod(pred[i][pp]), 2);
    const auto des = qrxrun::csvRows(run.files.at("des.csv"));
    const int dy = qrxrun::headerColumn(des[0], "y");
    std::vector<std::vector<long double>> cols(des[0].size() - 1);
    std::vector<long double> y;
    for (size_t i = 1; i < des.size(); ++i)
      for (size_t j = 0, c = 0; j < des[i].size(); ++j) {
        if (static_cast<int>(j) == dy)
          y.push_back(std::stold(des[i][j]));
        else
          cols[c++].push_back(std::stold(des[i][j]));
      }
    const double least = static_cast<double>(leastSquaresMinimum(cols, y));
    // The error SS is the total less what the model explains: its rounding is relative to
    // the total.
    const double total = qrxrun::number(*anova, 2, "SS");
    EXPECT_NEAR(reported, predicted, 1e-8 * total);
    EXPECT_GE(reported, least - 1e-8 * total);
    if (degree == 3) {
      EXPECT_NEAR(reported, least, 1e-9 * least);
    }
  }
}

// A cubic spline of 134 columns beside x1 and x2 on 100 rows, which the work rule would send
// down the many-level road: its values are not the 0/1 codes of CLASS levels, so that its
// block is summed as the packed road sums it (a debug build used to stop on the levels'
// assertion, leaving its scratch files). The criterion FORWARD shows for the spline among the
// first step's candidates is the SBC of the intercept and the spline fitted alone (it was
// 168.3 against -251.5), and each step's entered effect shows the SBC its step prints.
TEST(ConstructedEffects, WideSplineBesideFewRowsShowsItsOwnFitAmongTheCandidates) {
  std::string data = "x,x1,x2,y\n";
  for (int i = 1; i <= 100; ++i) {
    const double x = std::round(100 * std::fmod(i * 0.6180339887, 1.0)) / 10; // ties
    const double x1 = std::sin(1.3 * i), x2 = std::cos(0.7 * i);
    const double y = std::sin(x) + 0.5 * x1 + 0.3 * x2 + 0.4 * std::sin(37.1 * i);
    data += std::to_string(x) + "," + std::to_string(x1) + "," + std::to_string(x2) + "," +
            std::to_string(y) + "\n";
  }
  const std::string spline = "  effect s = spline(x / degree=3 knotmethod=equal(130));\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      "proc varsifter data=d;\n" + spline +
          "  model y = x1 x2 s / selection=forward(select=sbc) details=all;\nrun;\n"
          "proc varsifter data=d;\n" +
          spline + "  model y = s / selection=none;\nrun;\n",
      "widesplinefew", {{"d.csv", data}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  double alone = 0;
  for (const Value& e : qrxrun::nodeNamed(run.json["steps"][1]["output"], "FitStatistics")
                            ->
                            operator[]("entries")
                            .items)
    if (e["label"].s == "SBC")
      alone = e["value"].n;
  const std::vector<const Value*> candidates = qrxrun::tablesOf(run, "Candidates");
  ASSERT_FALSE(candidates.empty()) << run.log;
  bool shown = false;
  for (size_t i = 0; i < (*candidates[0])["rows"].items.size(); ++i)
    if (qrxrun::text(*candidates[0], i, "Effect") == "S") {
      EXPECT_NEAR(qrxrun::number(*candidates[0], i, "SBC"), alone, 1e-9 * std::fabs(alone));
      shown = true;
    }
  EXPECT_TRUE(shown) << run.log;
  const Value* summary = qrxrun::findTable(run.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_NE(summary, nullptr) << run.log;
  for (size_t r = 1; r < (*summary)["rows"].items.size() && r <= candidates.size(); ++r) {
    const std::string entered = qrxrun::text(*summary, r, "EffectEntered");
    const Value& t = *candidates[r - 1];
    for (size_t i = 0; i < t["rows"].items.size(); ++i)
      if (qrxrun::text(t, i, "Effect") == entered) {
        const double sbc = qrxrun::number(*summary, r, "SBC");
        EXPECT_NEAR(qrxrun::number(t, i, "SBC"), sbc, 1e-9 * std::fabs(sbc)) << entered;
      }
  }
}

} // namespace

// With a spline in the design, a row is predicted only when every effect of the MODEL
// statement can be formed from it, also the ones the selected model leaves out: selecting
// hp alone, rows whose CLASS value is missing, and a SCORE data set without the CLASS
// variable, get no prediction, and a note says for each data set how many rows that cost.
// The rows that are predicted get the least-squares line of the complete rows.
TEST(ConstructedEffects, RowsLostToUnselectedEffectsAreCountedInANote) {
  std::string cars = "y,hp,type\n", score = "hp\n";
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (int i = 0; i < 60; ++i) {
    const double hp = 50 + (i * 37) % 200, v = 2 + 0.05 * hp + 0.3 * std::sin(1.7 * i);
    const bool typed = i % 10 != 0;
    cars += std::to_string(v) + "," + std::to_string(hp) + "," +
            (typed ? std::string(1, "ABC"[i % 3]) : "") + "\n";
    if (typed) {
      x.push_back({1.0, hp});
      y.push_back(std::stod(std::to_string(v)));
      w.push_back(1.0);
    }
  }
  for (int i = 0; i < 5; ++i)
    score += std::to_string(60 + 30 * i) + "\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram("proc varsifter data=cars;\n  class type;\n  effect sp = spline(hp);\n"
                         "  model y = hp sp type / selection=forward(select=sbc);\n"
                         "  output out=pred p=p;\n  score data=score out=scored p=p;\nrun;\n",
                         "constructed_unformed", {{"cars.csv", cars}, {"score.csv", score}},
                         {"pred.csv", "scored.csv"});
  // The SCORE data lack the unselected type: a warning names it (return code 4).
  ASSERT_EQ(run.json["returnCode"].n, 4) << run.log;
  EXPECT_TRUE(qrxrun::logged(run, VsfMsg::ScoreDataLacksUnselectedVariable)) << run.log;
  EXPECT_NE(run.log.find("The variable type of the model"), std::string::npos) << run.log;
  const Value* pe = qrxrun::findTable(run.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr);
  ASSERT_EQ((*pe)["rows"].items.size(), 2u) << run.log;
  const std::vector<double> b = qrxrun::leastSquares(x, y, w);
  EXPECT_NEAR(qrxrun::number(*pe, 1, "Estimate"), b[1], 1e-9);
  const auto pred = qrxrun::csvRows(run.files.at("pred.csv"));
  ASSERT_EQ(pred.size(), 61u);
  for (size_t i = 1; i < pred.size(); ++i) {
    if (pred[i][2].empty())
      EXPECT_TRUE(pred[i][3].empty()) << i;
    else
      EXPECT_NEAR(std::stod(pred[i][3]), b[0] + b[1] * std::stod(pred[i][1]), 1e-6) << i;
  }
  for (const auto& row : qrxrun::csvRows(run.files.at("scored.csv")))
    EXPECT_TRUE(row.size() < 2 || row[1].empty() || row[1] == "p");
  EXPECT_EQ(qrxrun::messageCount(run.json["steps"][0], VsfMsg::PredictionsMissingForEffect), 2)
      << run.log;
  EXPECT_NE(run.log.find("6 observations of the data set WORK.PRED"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("5 observations of the data set WORK.SCORE"), std::string::npos)
      << run.log;
}
