// Cross validation by folds end to end through qrx: selection by CV PRESS with SPLIT, BLOCK
// and INDEX folds, WEIGHT and FREQ, and on a nearly exact fit, against the forward and
// backward selections that scripts/gen_cv_ref.py runs with numpy refits on the rows outside
// each fold (tests/data/cv/cv_steps.csv); the folds in OUTPUT's _CVINDEX_; RANDOM folds
// checked by a least-squares refit per fold here, and the same across thread counts and with
// the pages on disk; the CVDetails table and the fold estimates.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using qrxrun::findTable;
using qrxrun::number;
using qrxrun::text;
using qrxrun::Value;

namespace {

struct RefStep {
  std::string effect;
  double press;
};

std::map<std::string, std::vector<RefStep>> readSteps() {
  const auto rows = readCsvRows(std::string(QRX_TEST_DATA) + "/cv/cv_steps.csv");
  std::map<std::string, std::vector<RefStep>> out;
  for (size_t i = 1; i < rows.size(); ++i)
    out[rows[i][0]].push_back({rows[i][2], std::stod(rows[i][3])});
  return out;
}

std::string dataText() { return qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvdata.csv"); }

qrxrun::ProgramRun runCv(const std::string& statements, const std::string& tag,
                         const std::vector<std::string>& readBack = {}) {
  return qrxrun::runProgram("proc varsifter data=cvdata seed=20240611;\n" + statements + "run;\n",
                            tag, {{"cvdata.csv", dataText()}}, readBack);
}

const Value* summary(const qrxrun::ProgramRun& r) {
  return findTable(r.json["steps"][0]["output"], "SelectionSummary");
}

void expectSteps(const qrxrun::ProgramRun& r, const std::vector<RefStep>& ref, bool backward,
                 const std::string& what) {
  ASSERT_EQ(r.status, 0) << what << "\n" << r.log;
  const Value* t = summary(r);
  ASSERT_NE(t, nullptr) << what;
  ASSERT_EQ((*t)["rows"].items.size(), ref.size()) << what;
  for (size_t i = 0; i < ref.size(); ++i) {
    if (i > 0 || !backward) {
      EXPECT_EQ(text(*t, i, backward ? "EffectRemoved" : "EffectEntered"), ref[i].effect)
          << what << " step " << i;
    }
    EXPECT_NEAR(number(*t, i, "CVPRESS"), ref[i].press, 1e-9 * ref[i].press)
        << what << " step " << i;
  }
}

const char* kModel = "  model y = age sex bmi bp s1-s6 / ";

} // namespace

TEST(CrossValidation, SelectionByCvPressMatchesRefitsOnTheOtherFolds) {
  const auto ref = readSteps();
  expectSteps(runCv("  weight w; freq f;\n" + std::string(kModel) +
                        "selection=forward(select=cv) cvmethod=split(5);\n",
                    "cvsplit"),
              ref.at("forward_split5_wf"), false, "SPLIT(5) with WEIGHT and FREQ");
  expectSteps(
      runCv(std::string(kModel) + "selection=forward(select=cv) cvmethod=block(4);\n", "cvblock"),
      ref.at("forward_block4"), false, "BLOCK(4)");
  expectSteps(runCv("  class g; weight w;\n" + std::string(kModel) +
                        "selection=forward(select=cv) cvmethod=index(g);\n",
                    "cvindex"),
              ref.at("forward_index_w"), false, "INDEX(g)");
  expectSteps(runCv("  freq f;\n" + std::string(kModel) +
                        "selection=backward(select=cv) cvmethod=split(3);\n",
                    "cvback"),
              ref.at("backward_split3_f"), true, "BACKWARD, SPLIT(3) with FREQ");
  // More folds than the packed pass keeps blocks of rows for at once, the folds dealt in turn.
  expectSteps(runCv("  weight w;\n" + std::string(kModel) +
                        "selection=forward(select=cv) cvmethod=split(12);\n",
                    "cvsplit12"),
              ref.at("forward_split12_w"), false, "SPLIT(12) with WEIGHT");
}

namespace {

// OUTPUT's _CVINDEX_ of ten rows under CVMETHOD=<method>(3).
std::vector<std::string> outputFolds(const std::string& method) {
  std::string data = "x,y\n";
  for (int i = 0; i < 10; ++i)
    data += std::to_string(i) + "," + std::to_string((i * 7) % 5 + 0.5 * i) + "\n";
  qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d;\n  model y = x / selection=forward(select=cv) cvmethod=" + method +
          "(3);\n  output out=o;\nrun;\n",
      "cv" + method + "out", {{"d.csv", data}}, {"o.csv"});
  EXPECT_EQ(r.status, 0) << r.log;
  const auto rows = qrxrun::csvRows(r.files["o.csv"]);
  std::vector<std::string> folds;
  size_t c = 0;
  while (!rows.empty() && c < rows[0].size() && rows[0][c] != "_CVINDEX_")
    ++c;
  for (size_t i = 1; i < rows.size(); ++i)
    folds.push_back(c < rows[i].size() ? rows[i][c] : "");
  return folds;
}

} // namespace

TEST(CrossValidation, BlockFoldsInOutputAreConsecutiveRuns) {
  EXPECT_EQ(outputFolds("block"),
            (std::vector<std::string>{"1", "1", "1", "1", "2", "2", "2", "3", "3", "3"}));
}

TEST(CrossValidation, SplitFoldsInOutputAreDealtInTurn) {
  EXPECT_EQ(outputFolds("split"),
            (std::vector<std::string>{"1", "2", "3", "1", "2", "3", "1", "2", "3", "1"}));
}

// RANDOM folds: the folds OUTPUT shows give, by a least-squares refit per fold, the CV
// PRESS of the selected model; thread counts and pages on disk change nothing.
TEST(CrossValidation, RandomFoldsAreTheSameOnEveryRoadAndGiveThePress) {
  const std::string model = "  weight w;\n" + std::string(kModel) +
                            "selection=forward(select=cv) cvmethod=random(4) cvdetails=all;\n"
                            "  output out=o;\n";
  qrxrun::ProgramRun one = runCv(model + "  performance nothreads;\n", "cvr1", {"o.csv"});
  qrxrun::ProgramRun many =
      runCv(model + "  performance threads cpucount=3 util_buffers$=1 util_pagesize$=1;\n", "cvr2",
            {"o.csv"});
  ASSERT_EQ(one.status, 0) << one.log;
  ASSERT_EQ(many.status, 0) << many.log;
  const auto column = [](const std::string& csv, const std::string& name) {
    const auto rows = qrxrun::csvRows(csv);
    std::vector<std::string> out;
    size_t c = 0;
    while (!rows.empty() && c < rows[0].size() && rows[0][c] != name)
      ++c;
    for (size_t i = 1; i < rows.size(); ++i)
      out.push_back(c < rows[i].size() ? rows[i][c] : "");
    return out;
  };
  EXPECT_TRUE(column(one.files["o.csv"], "_CVINDEX_") == column(many.files["o.csv"], "_CVINDEX_"))
      << "the folds differ";
  const Value *a = summary(one), *b = summary(many);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_EQ((*a)["rows"].items.size(), (*b)["rows"].items.size());
  for (size_t i = 0; i < (*a)["rows"].items.size(); ++i)
    EXPECT_NEAR(number(*a, i, "CVPRESS"), number(*b, i, "CVPRESS"),
                1e-10 * number(*a, i, "CVPRESS"));

  // The selected effects refitted on the rows outside each fold of _CVINDEX_.
  const auto rows = qrxrun::csvRows(one.files["o.csv"]);
  ASSERT_EQ(rows.size(), 443u);
  std::map<std::string, size_t> at;
  for (size_t c = 0; c < rows[0].size(); ++c)
    at[rows[0][c]] = c;
  ASSERT_TRUE(at.count("_CVINDEX_"));
  const Value* sel = findTable(one.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(sel, nullptr);
  std::vector<std::string> effects;
  for (size_t i = 1; i < (*sel)["rows"].items.size(); ++i)
    effects.push_back(text(*sel, i, "Effect"));
  std::vector<int> fold;
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  std::vector<int> count(4, 0);
  for (size_t i = 1; i < rows.size(); ++i) {
    const int k = std::stoi(rows[i][at["_CVINDEX_"]]);
    ASSERT_GE(k, 1);
    ASSERT_LE(k, 4);
    fold.push_back(k - 1);
    ++count[k - 1];
    std::vector<double> row{1.0};
    for (const std::string& e : effects)
      row.push_back(std::stod(rows[i][at[e]]));
    x.push_back(row);
    y.push_back(std::stod(rows[i][at["Y"]]));
    w.push_back(std::stod(rows[i][at["W"]]));
  }
  for (int k = 0; k < 4; ++k)
    EXPECT_GT(count[k], 60) << "fold " << k;
  double press = 0.0;
  std::vector<double> foldPress(4, 0.0);
  for (int k = 0; k < 4; ++k) {
    std::vector<std::vector<double>> xt;
    std::vector<double> yt, wt;
    for (size_t i = 0; i < y.size(); ++i)
      if (fold[i] != k)
        xt.push_back(x[i]), yt.push_back(y[i]), wt.push_back(w[i]);
    const std::vector<double> b = qrxrun::leastSquares(xt, yt, wt);
    for (size_t i = 0; i < y.size(); ++i) {
      if (fold[i] != k)
        continue;
      double r = y[i];
      for (size_t j = 0; j < b.size(); ++j)
        r -= b[j] * x[i][j];
      foldPress[k] += w[i] * r * r;
    }
    press += foldPress[k];
  }
  const size_t last = (*a)["rows"].items.size() - 1;
  EXPECT_NEAR(number(*a, last, "CVPRESS"), press, 1e-9 * press);

  // CVDetails: the per-fold PRESS and counts, and the total row.
  const Value* d = findTable(one.json["steps"][0]["output"], "CVDetails");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ((*d)["rows"].items.size(), 5u);
  for (size_t k = 0; k < 4; ++k) {
    EXPECT_EQ(number(*d, k, "Index"), k + 1.0);
    EXPECT_NEAR(number(*d, k, "CVPRESS"), foldPress[k], 1e-9 * press) << "fold " << k;
    EXPECT_EQ(number(*d, k, "NOBSLEFTOUT"), count[k]) << "fold " << k;
    EXPECT_EQ(number(*d, k, "NOBSFITTED"), 442.0 - count[k]) << "fold " << k;
  }
  EXPECT_EQ(number(*d, 4, "Index"), -1.0);
  EXPECT_NEAR(number(*d, 4, "CVPRESS"), press, 1e-9 * press);
}

// Under PARTITION the folds split the training rows only: each fold fits the training rows
// the others hold, not the validation rows besides.
TEST(CrossValidation, FoldsOfAPartitionFitTheTrainingRowsOnly) {
  const auto r = runCv("  partition fraction(validate=0.3);\n" + std::string(kModel) +
                           "selection=forward(select=cv stop=none maxsteps=2) cvmethod=split(3) "
                           "cvdetails=all;\n",
                       "cvpartition");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* d = findTable(r.json["steps"][0]["output"], "CVDetails");
  ASSERT_NE(d, nullptr);
  ASSERT_EQ((*d)["rows"].items.size(), 4u);
  const double train = number(*d, 3, "NOBSLEFTOUT");
  EXPECT_LT(train, 442.0 * 0.8);
  for (size_t k = 0; k < 3; ++k)
    EXPECT_EQ(number(*d, k, "NOBSFITTED"), train - number(*d, k, "NOBSLEFTOUT")) << "fold " << k;
  EXPECT_EQ(number(*d, 3, "NOBSFITTED"), 2 * train);
}

// CVDETAILS=COEFFS: the fold estimates are the refits without each fold, the intercept on
// the data's scale.
TEST(CrossValidation, FoldEstimatesAreTheRefitsWithoutEachFold) {
  qrxrun::ProgramRun r = runCv("  model y = bmi s5 / selection=forward(select=cv) "
                               "cvmethod=split(3) cvdetails=coeffs;\n",
                               "cvcoef");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* t = findTable(r.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(t, nullptr);
  ASSERT_EQ((*t)["rows"].items.size(), 3u);
  const auto rows = qrxrun::csvRows(dataText());
  for (int k = 0; k < 3; ++k) {
    std::vector<std::vector<double>> x;
    std::vector<double> y, w;
    for (size_t i = 1; i < rows.size(); ++i)
      if (static_cast<int>((i - 1) % 3) != k) {
        x.push_back({1.0, std::stod(rows[i][2]), std::stod(rows[i][8])});
        y.push_back(std::stod(rows[i][10]));
        w.push_back(1.0);
      }
    const std::vector<double> b = qrxrun::leastSquares(x, y, w);
    const std::string c = "CVEstimate" + std::to_string(k + 1);
    for (size_t j = 0; j < 3; ++j)
      EXPECT_NEAR(number(*t, j, c), b[j], 1e-8 * (1.0 + std::fabs(b[j]))) << c << " row " << j;
  }
}

// LASSO with CHOOSE=CV: every step's CV PRESS is that of the least-squares refits of its
// active set on the rows outside each SPLIT fold, and the selected model is the step with
// the smallest of them.
TEST(CrossValidation, LassoChoosesTheStepOfSmallestCvPress) {
  qrxrun::ProgramRun r = runCv(
      std::string(kModel) + "selection=lasso(choose=cv stop=none) cvmethod=split(5);\n", "cvlasso");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* t = summary(r);
  ASSERT_NE(t, nullptr);
  const auto rows = qrxrun::csvRows(dataText());
  std::map<std::string, size_t> at;
  for (size_t c = 0; c < rows[0].size(); ++c)
    at[rows[0][c]] = c;
  std::vector<std::string> active;
  size_t best = 0;
  double bestPress = 1e300;
  size_t bestSize = 0;
  for (size_t s = 0; s < (*t)["rows"].items.size(); ++s) {
    const std::string in = text(*t, s, "EffectEntered"), out = text(*t, s, "EffectRemoved");
    if (!in.empty() && in != "Intercept")
      active.push_back(in);
    if (!out.empty())
      active.erase(std::find(active.begin(), active.end(), out));
    double press = 0.0;
    for (int k = 0; k < 5; ++k) {
      std::vector<std::vector<double>> x;
      std::vector<double> y, w;
      for (size_t i = 1; i < rows.size(); ++i)
        if (static_cast<int>((i - 1) % 5) != k) {
          std::vector<double> row{1.0};
          for (const std::string& e : active)
            row.push_back(std::stod(rows[i][at[e]]));
          x.push_back(row);
          y.push_back(std::stod(rows[i][at["Y"]]));
          w.push_back(1.0);
        }
      const std::vector<double> b = qrxrun::leastSquares(x, y, w);
      for (size_t i = 1; i < rows.size(); ++i)
        if (static_cast<int>((i - 1) % 5) == k) {
          double e = std::stod(rows[i][at["Y"]]) - b[0];
          for (size_t j = 0; j < active.size(); ++j)
            e -= b[j + 1] * std::stod(rows[i][at[active[j]]]);
          press += e * e;
        }
    }
    EXPECT_NEAR(number(*t, s, "CVPRESS"), press, 1e-9 * press) << "step " << s;
    if (press < bestPress)
      bestPress = press, best = s, bestSize = active.size();
  }
  const Value* pe = findTable(r.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr);
  EXPECT_EQ((*pe)["rows"].items.size(), bestSize + 1) << "step " << best;
}

// CHOOSE=CV picking a step before the last, on the diabetes example: the fold estimates beside
// the selected model are its own effects refitted without each SPLIT fold, and the CVDetails
// total row sums the folds' rows; CVDETAILS=COEFFS alone shows no CVDetails table.
TEST(CrossValidation, ChosenModelShowsItsOwnFoldEstimatesAndTotals) {
  const std::string data = qrxrun::readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv");
  const auto rows = qrxrun::csvRows(data);
  std::map<std::string, size_t> at;
  for (size_t c = 0; c < rows[0].size(); ++c)
    at[rows[0][c]] = c;
  const size_t n = rows.size() - 1;
  struct Case {
    const char* selection;
    const char* details;
  };
  for (const Case& c : {Case{"forward(select=sl choose=cv stop=none)", "all"},
                        Case{"lasso(choose=cv stop=none)", "coeffs"}}) {
    SCOPED_TRACE(c.selection);
    const qrxrun::ProgramRun r = qrxrun::runProgram(
        "proc varsifter data=diabetes;\n  model y = age sex bmi bp s1-s6 / selection=" +
            std::string(c.selection) + " cvmethod=split(4) cvdetails=" + c.details + ";\nrun;\n",
        "cvchosen", {{"diabetes.csv", data}});
    ASSERT_EQ(r.status, 0) << r.log;
    const Value& output = r.json["steps"][0]["output"];
    const Value* s = findTable(output, "SelectionSummary");
    const Value* pe = findTable(output, "ParameterEstimates");
    ASSERT_NE(s, nullptr);
    ASSERT_NE(pe, nullptr);
    const size_t parms = (*pe)["rows"].items.size();
    ASSERT_LT(parms, number(*s, (*s)["rows"].items.size() - 1, "nEffectsIn")) << "the last step";
    std::vector<double> foldPress(4, 0.0);
    for (int k = 0; k < 4; ++k) {
      std::vector<std::vector<double>> x;
      std::vector<double> y, w;
      for (size_t i = 1; i <= n; ++i) {
        if (static_cast<int>((i - 1) % 4) == k)
          continue;
        std::vector<double> row{1.0};
        for (size_t j = 1; j < parms; ++j)
          row.push_back(std::stod(rows[i][at[text(*pe, j, "Effect")]]));
        x.push_back(row);
        y.push_back(std::stod(rows[i][at["Y"]]));
        w.push_back(1.0);
      }
      const std::vector<double> b = qrxrun::leastSquares(x, y, w);
      const std::string column = "CVEstimate" + std::to_string(k + 1);
      for (size_t j = 0; j < parms; ++j)
        EXPECT_NEAR(number(*pe, j, column), b[j], 1e-8 * std::fabs(b[j])) << column << " " << j;
      for (size_t i = 1 + k; i <= n; i += 4) {
        double e = std::stod(rows[i][at["Y"]]) - b[0];
        for (size_t j = 1; j < parms; ++j)
          e -= b[j] * std::stod(rows[i][at[text(*pe, j, "Effect")]]);
        foldPress[k] += e * e;
      }
    }
    const Value* d = findTable(output, "CVDetails");
    if (std::string(c.details) == "coeffs") {
      EXPECT_EQ(d, nullptr);
      continue;
    }
    ASSERT_NE(d, nullptr);
    ASSERT_EQ((*d)["rows"].items.size(), 5u);
    double press = 0.0;
    for (size_t k = 0; k < 4; ++k) {
      EXPECT_NEAR(number(*d, k, "CVPRESS"), foldPress[k], 1e-8 * foldPress[k]) << k;
      press += foldPress[k];
    }
    EXPECT_EQ(text(*d, 4, "Fold"), "Total");
    EXPECT_EQ(number(*d, 4, "NOBSFITTED"), 3.0 * n);
    EXPECT_EQ(number(*d, 4, "NOBSLEFTOUT"), static_cast<double>(n));
    EXPECT_NEAR(number(*d, 4, "CVPRESS"), press, 1e-8 * press);
  }
}

// Adaptive LASSO with CHOOSE=CV: the least-squares fit behind the adaptive weights is taken
// over every training row, whatever fold they fall in, so the path is the one without CV. The
// chosen step's estimates and CV PRESS are scripts/gen_adaptive_cv_ref.py's: the path of
// numpy's weights, and least-squares refits of the step's effects on the other folds.
TEST(CrossValidation, AdaptiveLassoWeightsComeFromEveryFold) {
  const qrxrun::ProgramRun r = qrxrun::runProgram(
      "libname ex '" + std::string(QRX_SOURCE_DIR) +
          "/examples';\nproc varsifter data=ex.diabetes;\n"
          "  model y = age sex bmi bp s1-s6 / selection=lasso(adaptive choose=cv) "
          "cvmethod=split(4);\nrun;\n",
      "cvadaptive", {});
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_FALSE(qrxrun::logged(r, VsfMsg::AdaptiveFitNotFullRank)) << r.log;
  const Value* t = summary(r);
  ASSERT_NE(t, nullptr);
  const std::vector<std::string> entered{"Intercept", "S5", "BMI", "BP", "S1"};
  ASSERT_GE((*t)["rows"].items.size(), entered.size()) << r.log;
  for (size_t s = 0; s < entered.size(); ++s)
    EXPECT_EQ(text(*t, s, "EffectEntered"), entered[s]) << "step " << s;
  EXPECT_NEAR(number(*t, 4, "CVPRESS"), 1364610.5217604416, 1e-6);
  const Value* pe = findTable(r.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr);
  const std::map<std::string, double> expected{{"Intercept", -300.42700202854735},
                                               {"BMI", 6.253096267465919},
                                               {"BP", 0.6576212585838568},
                                               {"S1", -0.17705868085525164},
                                               {"S5", 55.775531878764724}};
  ASSERT_EQ((*pe)["rows"].items.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const double want = expected.at(text(*pe, i, "Effect"));
    EXPECT_NEAR(number(*pe, i, "Estimate"), want, 1e-8 * std::fabs(want)) << i;
  }
}

// A response nearly exact in four columns: the last step's held-out errors are tiny against
// the sums of squares they are formed from, and keep their digits all the same.
TEST(CrossValidation, NearlyExactFitKeepsTheDigitsOfItsPress) {
  const std::string data = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvexact.csv");
  const auto r = qrxrun::runProgram("proc varsifter data=cvexact;\n" + std::string(kModel) +
                                        "selection=forward(select=cv) cvmethod=split(5);\nrun;\n",
                                    "cvexact", {{"cvexact.csv", data}});
  expectSteps(r, readSteps()["forward_exact_split5"], false, "nearly exact");
}
