// The structured road (a many-level CLASS effect kept as its diagonal and cross block, never
// as the packed triangle of all columns) on each selection method it serves, through qrx:
// every table is that of the packed road on the same data within 1e-9, with the same
// selections (also by cross validation), and the removal criteria match an independent
// sparse least-squares selection.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

// Runs both roads and expects the same output within 1e-9, and not bit for bit (which
// would mean the structured road was not taken).
void expectRoadsAgree(const std::string& data, const std::string& model, const std::string& options,
                      int cpus, const std::string& structuredHooks = "") {
  // The packed road with the test switch raising the road's threshold above 1,000 columns.
  const std::string program = "proc varsifter data=d seed=3;\n  class g;\n  model " + model +
                              " / " + options +
                              ";\n  performance cpucount=" + std::to_string(cpus) + ";\nrun;\n";
  const qrxrun::ProgramRun packed =
      structuredcheck::runHooked("structuredColumns=1000000", program, data, "srpacked");
  const qrxrun::ProgramRun structured =
      structuredcheck::runHooked(structuredHooks, program, data, "srstruct");
  structuredcheck::expectPackedRoadsTables(structured, packed, model + " / " + options);
}

// The selected model of run `r` is the fit in `fitCsv` (name,value rows): its model DF, error SS
// within 1e-9, the columns it refused (DF 0, "refused": their names in table order), and the
// estimate and standard error of each column taken within 1e-8.
void expectSelectedFit(const qrxrun::ProgramRun& r, const std::string& fitCsv) {
  std::map<std::string, std::string> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(fitCsv)))
    want[row[0]] = row[1];
  const Value* selected = qrxrun::nodeNamed(r.json["steps"][0]["output"], "SelectedModel");
  ASSERT_NE(selected, nullptr) << r.log;
  const Value* anova = qrxrun::findTable(*selected, "ANOVA");
  const Value* estimates = qrxrun::findTable(*selected, "ParameterEstimates");
  ASSERT_NE(anova, nullptr);
  ASSERT_NE(estimates, nullptr);
  EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stod(want.at("model_df")));
  const double sse = std::stod(want.at("error_ss"));
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  std::string refused;
  for (size_t i = 0; i < (*estimates)["rows"].items.size(); ++i) {
    const std::string name = qrxrun::text(*estimates, i, "Parameter");
    std::string words; // the name with its runs of blanks as one
    for (const char c : name)
      if (c != ' ' || (!words.empty() && words.back() != ' '))
        words += c;
    if (qrxrun::number(*estimates, i, "DF") == 0) {
      if (!refused.empty())
        refused += ' ';
      refused += words;
    }
    if (want.count("stderr " + words) == 0)
      continue;
    const double b = std::stod(want.at("estimate " + words));
    const double se = std::stod(want.at("stderr " + words));
    EXPECT_NEAR(qrxrun::number(*estimates, i, "Estimate"), b, 1e-8 * std::fabs(b)) << words;
    EXPECT_NEAR(qrxrun::number(*estimates, i, "StdErr"), se, 1e-8 * se) << words;
  }
  EXPECT_EQ(refused, want.at("refused"));
}

} // namespace

// BACKWARD (removing the effect, and a small column on which some of its columns depend) on
// one thread, and STEPWISE on eight (in two tests, so that each stays short on a loaded
// machine). BACKWARD runs on 300 levels with the road taken from 10 columns; at its full size
// (1,000 levels, where the rule itself takes the road) under the label "long".
TEST(StructuredRoad, BackwardAndStepwiseGiveThePackedRoadsTables) {
  const bool full = std::getenv("QRX_LONG_TESTS") != nullptr;
  const std::string data = full ? structuredcheck::levelsData(1000, 3000, 45)
                                : structuredcheck::levelsData(300, 900, 45);
  expectRoadsAgree(data, "y = x1 z x2 g x3", "selection=backward(select=sl) details=all", 1,
                   full ? "" : "structuredColumns=10");
}

TEST(StructuredRoad, StepwiseOnEightThreadsGivesThePackedRoadsTables) {
  const std::string data = structuredcheck::levelsData(1000, 3000, 45);
  expectRoadsAgree(data, "y = z x1 g x2 x3", "selection=stepwise(select=sl) details=all", 8);
}

// Cross validation (the folds' own states of the effect and their held-out errors from the
// sums or from a pass over the rows): selecting, choosing and stopping by it, on random and block
// folds; validation and test rows (their residuals from the effect's estimates); CP and BIC (the
// full model fitted first and emptied again). On the small committed data with the road taken from
// 10 columns.
TEST(StructuredRoad, FoldsRolesAndFullModelCriteriaGiveThePackedRoadsTables) {
  const std::string data = synthdata::manyLevelsCsv();
  // The second run takes the folds' errors from a pass over the rows.
  const std::pair<std::string, std::string> runs[] = {
      {"", "selection=forward(select=cv) cvmethod=random(5)"},
      {"%let _testroadcvsums = 0;\n", "selection=backward(select=sbc stop=cv) cvmethod=random(3)"},
      {"", "selection=stepwise(select=sbc choose=cv) cvmethod=block(4)"},
      {"", "selection=forward(select=aic choose=validate) stats=(cp bic);\n"
           "  partition fraction(validate=0.25 test=0.2)"},
      {"", "selection=stepwise(select=cp choose=bic)"}};
  for (const auto& entry : runs) {
    const std::string& prefix = entry.first;
    const std::string& options = entry.second;
    const std::string program = prefix +
                                "proc varsifter data=d seed=5;\n  class g;\n  model y = x1 x2 g "
                                "x3 / " +
                                options + ";\n  performance cpucount=4;\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "srcvpacked");
    const qrxrun::ProgramRun structured =
        structuredcheck::runHooked("structuredColumns=10", program, data, "srcvstruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, options);
  }
}

// BACKWARD by SBC: every removal trial's criterion is that of scipy's sparse least squares
// on the same design (scripts/gen_manylevels_ref.py), also under the effect coding, whose
// columns span the same space with the intercept.
TEST(StructuredRoad, BackwardRemovalCriteriaMatchSparseLeastSquares) {
  std::map<std::string, double> want;
  for (const auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/backward.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  for (const std::string coding : {"", " / param=effect"}) {
    const qrxrun::ProgramRun r = structuredcheck::runHooked(
        "structuredColumns=10",
        "proc varsifter data=d;\n  class g" + coding +
            ";\n  model y = g x1 x2 x3 / selection=backward(select=sbc) details=all;\nrun;\n",
        synthdata::manyLevelsCsv(), "srbackward");
    ASSERT_EQ(r.status, 0) << r.log;
    structuredcheck::expectCandidateCriteria(r, want, "SBC", coding);
  }
}

// The road chosen by its cost, without the test switch: 200 levels under the effect coding
// (199 columns) by cross validation, and with a 6-level CLASS variable h beside g, whose
// columns join the dense block (STEPWISE, h entering), under either coding: every table is
// the packed road's within 1e-9 and not bit for bit.
TEST(StructuredRoad, CheaperRoadTakenUnderEveryCodingAndWithSmallClassBeside) {
  std::mt19937_64 gen(61);
  std::normal_distribution<double> n;
  std::vector<double> mean(200), shift{-1.5, -0.5, 0.0, 0.7, 1.3, 0.4};
  for (double& v : mean)
    v = n(gen);
  std::string data = "y,g,h,x1,x2,x3\n";
  char buf[160];
  for (int r = 0; r < 1200; ++r) {
    const int g = r < 200 ? r : static_cast<int>(gen() % 200), h = static_cast<int>(gen() % 6);
    const double x1 = n(gen), x2 = n(gen), x3 = n(gen);
    std::snprintf(buf, sizeof buf, "%.9g,L%03d,H%d,%.9g,%.9g,%.9g\n",
                  mean[size_t(g)] + shift[size_t(h)] + 3.0 * x1 + n(gen), g, h, x1, x2, x3);
    data += buf;
  }
  const std::pair<std::string, std::string> runs[] = {
      {"class g / param=effect;\n  model y = x1 g x2 x3",
       "selection=forward(select=cv) cvmethod=random(5) details=all"},
      {"class g h;\n  model y = x1 x2 x3 h g", "selection=stepwise(select=sbc) details=all"},
      {"class h g / param=effect;\n  model y = g x2 h x1 x3",
       "selection=backward(select=sbc choose=cv) cvmethod=random(4)"}};
  for (const auto& [model, options] : runs) {
    const std::string program = "proc varsifter data=d seed=3;\n  " + model + " / " + options +
                                ";\n  performance cpucount=4;\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "srcostpacked");
    const qrxrun::ProgramRun structured =
        structuredcheck::runHooked("", program, data, "srcoststruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, model);
  }
}

// FORWARD by SBC over g beside a 6-level CLASS variable h (h enters before g): every
// candidate's criterion is that of scipy's sparse least squares with h's dummy columns
// (scripts/gen_twoclass_ref.py on synthdata's twoClassCsv rows, made here from their recipe),
// and every table the packed road's within 1e-9.
TEST(StructuredRoad, SmallClassBesideMatchesSparseLeastSquares) {
  std::map<std::string, double> want;
  const std::string dir = std::string(QRX_TEST_DATA) + "/manylevels/";
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "twoclass_forward.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  const std::string program = "proc varsifter data=d;\n  class g h;\n  model y = x1 x2 x3 h g / "
                              "selection=forward(select=sbc) details=all;\nrun;\n";
  const std::string data = synthdata::twoClassCsv();
  const qrxrun::ProgramRun structured =
      structuredcheck::runHooked("structuredColumns=10", program, data, "srtwostruct");
  const qrxrun::ProgramRun packed =
      structuredcheck::runHooked("structuredColumns=1000000", program, data, "srtwopacked");
  structuredcheck::expectPackedRoadsTables(structured, packed, "h beside g");
  const std::map<std::string, double> got = structuredcheck::candidateCriteria(structured, "SBC");
  EXPECT_GE(got.size(), 12u);
  for (const auto& [key, v] : got) {
    ASSERT_EQ(want.count(key), 1u) << key;
    EXPECT_NEAR(v, want.at(key), 1e-9 * std::fabs(v)) << key;
  }
}

// FORWARD by SBC that enters g (60 levels) first and then tries h (5 levels) beside it, under
// the GLM, reference and effect codings of h, on both roads: every candidate's SBC is its
// model's least-squares SBC (scripts/gen_class_beside_levels_ref.py, mpmath at 40 digits) and
// so is what its step prints. Under the GLM coding h's block of X'X is diagonal, but not that
// of the reduced triangle beside g's swept levels: tried by its block's pivots over the small
// columns alone, h showed an SBC of 360.90 against its model's and its step's 330.15.
TEST(StructuredRoad, SmallClassTriedBesideTheLevelsIsItsLeastSquaresFit) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/classbesidelevels/";
  std::map<std::string, double> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "sbc.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  ASSERT_EQ(want.size(), 10u);
  const std::string data = qrxrun::readFile(dir + "d.csv");
  for (const std::string coding : {"glm", "ref", "effect"}) {
    const std::string program = "proc varsifter data=d;\n  class g;\n  class h / param=" + coding +
                                ";\n  model y = g h x1 x2 / selection=forward(select=sbc "
                                "stop=none) details=all;\nrun;\n";
    for (const std::string hooks : {"structuredColumns=10", "structuredColumns=1000000"}) {
      const qrxrun::ProgramRun r = structuredcheck::runHooked(hooks, program, data, "srbeside");
      ASSERT_EQ(r.status, 0) << r.log;
      structuredcheck::expectCandidateCriteria(r, want, "SBC", " " + coding + " " + hooks);
      const Value* summary = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
      ASSERT_NE(summary, nullptr);
      EXPECT_EQ(qrxrun::text(*summary, 2, "EffectEntered"), "h") << coding << " " << hooks;
      EXPECT_NEAR(qrxrun::number(*summary, 2, "SBC"), want.at("2 h"), 1e-9 * want.at("2 h"))
          << coding << " " << hooks;
    }
  }
}

// The structured road's sums take the rows in the serial pass's order whatever the number of
// page files: one and eight threads give the same output bit for bit.
TEST(StructuredRoad, OneAndEightThreadsGiveTheSameBits) {
  const std::string data = synthdata::twoClassCsv();
  std::string dumps[2];
  for (int i = 0; i < 2; ++i) {
    const qrxrun::ProgramRun r = structuredcheck::runHooked(
        "structuredColumns=10",
        "proc varsifter data=d seed=3;\n  class g h;\n  model y = x1 x2 x3 h g / "
        "selection=stepwise(select=cv) cvmethod=random(4) details=all;\n  performance cpucount=" +
            std::to_string(i == 0 ? 1 : 8) + ";\nrun;\n",
        data, "srthreads");
    ASSERT_EQ(r.status, 0) << r.log;
    dumps[i] = qrxrun::dumpOutput(r.json["steps"][0]["output"]);
  }
  EXPECT_EQ(dumps[0], dumps[1]);
}

// A second CLASS variable past the square root of the many-level one's columns (h of 20
// levels beside g of 200, 1,200 rows) still joins the dense block where that costs less than
// the packed triangle of every column: FORWARD and BACKWARD give the packed road's tables
// within 1e-9, and not bit for bit (which would mean h had left g the packed triangle).
namespace {

// 1,200 rows over g of 200 levels and h of 20, which joins g's road.
std::string secondClassPastSquareRootData() {
  std::mt19937_64 gen(63);
  std::normal_distribution<double> n;
  std::vector<double> mean(200), shift(20);
  for (double& v : mean)
    v = n(gen);
  for (double& v : shift)
    v = n(gen);
  std::string data = "y,g,h,x1,x2,x3\n";
  char buf[160];
  for (int r = 0; r < 1200; ++r) {
    const int g = r < 200 ? r : static_cast<int>(gen() % 200), h = static_cast<int>(gen() % 20);
    const double x1 = n(gen), x2 = n(gen), x3 = n(gen);
    std::snprintf(buf, sizeof buf, "%.9g,L%03d,H%02d,%.9g,%.9g,%.9g\n",
                  mean[size_t(g)] + shift[size_t(h)] + 3.0 * x1 + n(gen), g, h, x1, x2, x3);
    data += buf;
  }
  return data;
}

} // namespace

TEST(StructuredRoad, SecondClassPastSquareRootJoinsTheDenseBlock) {
  const std::string data = secondClassPastSquareRootData();
  const std::pair<std::string, std::string> runs[] = {
      {"class g h;\n  model y = g x1 x2 x3 h", "selection=forward(select=sbc) details=all"},
      {"class g h / param=effect;\n  model y = x1 h x2 g x3",
       "selection=backward(select=sbc) details=all"}};
  for (const auto& [model, options] : runs) {
    const std::string program =
        "proc varsifter data=d;\n  " + model + " / " + options + ";\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "srpastpacked");
    const qrxrun::ProgramRun structured =
        structuredcheck::runHooked("", program, data, "srpaststruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, model);
  }
}

// The joined CLASS effect's values are sparse on the pages: the pass adds them to each fold's
// small triangle and cross block as to the model's (cross validation by folds, and PRESS
// whose leverages gather them from the rows), under either coding; each level keeps its
// cross products with h's columns in a list of those its rows meet, or, with pages on disk,
// every small column in place. BACKWARD's removal of h sweeps the few columns that stay
// again, in the model and in each fold record.
TEST(StructuredRoad, SecondClassJoinedSparseUnderFoldsAndPress) {
  const std::string data = secondClassPastSquareRootData();
  const std::pair<std::string, std::string> runs[] = {
      {"class g h;\n  model y = g x1 x2 x3 h",
       "selection=forward(select=cv) cvmethod=random(4) details=all"},
      {"class g h / param=effect;\n  model y = x1 h x2 g x3",
       "selection=forward(select=press) details=all"},
      {"class g h;\n  model y = g x1 x2 x3 h",
       "selection=backward(select=cv) cvmethod=random(4) details=all;\n  performance cpucount=1 "
       "util_buffers$=1 util_pagesize$=1"}};
  for (const auto& [model, options] : runs) {
    const std::string program =
        "proc varsifter data=d seed=9;\n  " + model + " / " + options + ";\nrun;\n";
    const qrxrun::ProgramRun packed =
        structuredcheck::runHooked("structuredColumns=1000000", program, data, "srjoinpacked");
    const qrxrun::ProgramRun structured =
        structuredcheck::runHooked("", program, data, "srjoinstruct");
    structuredcheck::expectPackedRoadsTables(structured, packed, model);
  }
}

// A second CLASS variable of 300 levels joined beside g of 1,000 (3,000 rows, each g
// level meeting few of h's): the swept diagonal goes over the levels' nonzero cross products,
// and BACKWARD's removal trials leave g's last level out without taking its
// columns again. FORWARD on one thread and BACKWARD on eight give the packed road's tables
// within 1e-9 (two tests, so that the two long pairs of runs go side by side). FORWARD stops
// at x1 and h's columns are unshifted on both roads, so its tables may agree bit for bit;
// BACKWARD, which starts with g in, must not.
namespace {

void expectSecondClassOfThreeHundredLevels(const std::string& method, int cpus) {
  std::mt19937_64 gen(64);
  std::normal_distribution<double> n;
  std::vector<double> mean(1000);
  for (double& v : mean)
    v = n(gen);
  std::string data = "y,g,h,x1,x2,x3\n";
  char buf[160];
  for (int r = 0; r < 3000; ++r) {
    const int g = r < 1000 ? r : static_cast<int>(gen() % 1000), h = static_cast<int>(gen() % 300);
    const double x1 = n(gen), x2 = n(gen), x3 = n(gen);
    std::snprintf(buf, sizeof buf, "%.9g,L%04d,H%03d,%.9g,%.9g,%.9g\n",
                  mean[size_t(g)] + 2.0 * x1 + n(gen), g, h, x1, x2, x3);
    data += buf;
  }
  const std::string program =
      "proc varsifter data=d;\n  class g h;\n  model y = g x1 x2 x3 h / "
      "selection=" +
      method + "(select=sbc) details=all;\n  performance cpucount=" + std::to_string(cpus) +
      ";\nrun;\n";
  const qrxrun::ProgramRun structured =
      structuredcheck::runHooked("", program, data, "srh300struct" + method);
  const qrxrun::ProgramRun packed = structuredcheck::runHooked("structuredColumns=1000000", program,
                                                               data, "srh300packed" + method);
  structuredcheck::expectPackedRoadsTables(structured, packed, method, 1e-9, 1e-8,
                                           method == "forward");
}

} // namespace

TEST(StructuredRoad, SecondClassOfThreeHundredLevelsGivesThePackedRoadsForwardTables) {
  expectSecondClassOfThreeHundredLevels("forward", 1);
}
TEST(StructuredRoad, SecondClassOfThreeHundredLevelsGivesThePackedRoadsBackwardTables) {
  expectSecondClassOfThreeHundredLevels("backward", 8);
}

// BACKWARD beside two joined CLASS variables (h of 40 levels, k of 25, beside g of 150 on
// 900 rows; x2 follows h's levels): each removal trial of g sweeps the small triangle again
// with the joined columns first, whose block is diagonal within each variable but not
// between h and k; g, on which y hardly depends, then leaves, and the later steps run on the
// small triangle. The tables are the packed road's within 1e-9.
TEST(StructuredRoad, BackwardBesideTwoJoinedClassesGivesThePackedRoadsTables) {
  std::mt19937_64 gen(65);
  std::normal_distribution<double> n;
  std::vector<double> mean(150), shift(40), level(40);
  for (double& v : mean)
    v = 0.2 * n(gen);
  for (size_t i = 0; i < shift.size(); ++i) {
    shift[i] = n(gen);
    level[i] = n(gen);
  }
  std::string data = "y,g,h,k,x1,x2,x3\n";
  char buf[200];
  for (int r = 0; r < 900; ++r) {
    const int g = r < 150 ? r : static_cast<int>(gen() % 150);
    const int h = static_cast<int>(gen() % 40), k = static_cast<int>(gen() % 25);
    const double x1 = n(gen), x2 = level[size_t(h)] + n(gen), x3 = n(gen);
    std::snprintf(buf, sizeof buf, "%.9g,L%03d,H%02d,K%02d,%.9g,%.9g,%.9g\n",
                  mean[size_t(g)] + shift[size_t(h)] + 2.0 * x1 + n(gen), g, h, k, x1, x2, x3);
    data += buf;
  }
  const std::string program = "proc varsifter data=d;\n  class g h k;\n  model y = g x1 x2 h x3 k "
                              "/ selection=backward(select=sbc) details=all;\n  performance "
                              "cpucount=1;\nrun;\n";
  const qrxrun::ProgramRun structured =
      structuredcheck::runHooked("structuredColumns=100", program, data, "srtwojoinstruct");
  const qrxrun::ProgramRun packed =
      structuredcheck::runHooked("structuredColumns=1000000", program, data, "srtwojoinpacked");
  structuredcheck::expectPackedRoadsTables(structured, packed, "two joined CLASS variables");
}

// A second CLASS variable h of 1,000 levels joined dense beside g of 2,000 (5,000 rows, each
// g level meeting two or three of h's; synthdata's rows, made here from their recipe): the
// fit of g, x1 and h is numpy's least squares (scripts/gen_manylevel_second_ref.py) within
// 1e-9 (its error SS, Model DF and a sample of its estimates). With QRX_LONG_TESTS (the label
// "long") BACKWARD by significance level from g, x1, x2 and h comes to that model by its removal
// trials; without, the model is fitted as it is. h's columns sit in the dense small triangle,
// whose sweep costs some 20 s of CPU under the sanitizers: it runs on eight threads, which
// keep their share of a machine loaded by other processes where two fell past the time limit.
TEST(StructuredRoad, SecondClassOfAThousandLevelsIsTheLeastSquaresFit) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/manylevelsecond/";
  std::map<std::string, double> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "fit.csv")))
    if (row[0] != "name")
      want[row[0]] = std::stod(row[1]);
  const std::string model = std::getenv("QRX_LONG_TESTS") != nullptr
                                ? "g x1 x2 h / selection=backward(select=sl)"
                                : "g x1 h / selection=none";
  const std::string program = "proc varsifter data=d;\n  class g h;\n  model y = " + model +
                              ";\n  performance cpucount=8;\nrun;\n";
  const qrxrun::ProgramRun r =
      structuredcheck::runHooked("", program, synthdata::twoLevelSetsCsv(), "srh1000");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* selected = qrxrun::nodeNamed(r.json["steps"][0]["output"], "SelectedModel");
  ASSERT_NE(selected, nullptr) << r.log;
  const Value* anova = qrxrun::findTable(*selected, "ANOVA");
  const Value* estimates = qrxrun::findTable(*selected, "ParameterEstimates");
  ASSERT_NE(anova, nullptr);
  ASSERT_NE(estimates, nullptr);
  const double sse = want.at("error_ss");
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), want.at("model_df"));
  size_t compared = 0;
  for (size_t i = 0; i < (*estimates)["rows"].items.size(); ++i) {
    std::string words; // the name with its runs of blanks as one
    for (const char c : qrxrun::text(*estimates, i, "Parameter"))
      if (c != ' ' || (!words.empty() && words.back() != ' '))
        words += c;
    const auto b = want.find("estimate " + words);
    if (b == want.end())
      continue; // not among the reference's sample
    ++compared;
    EXPECT_NEAR(qrxrun::number(*estimates, i, "Estimate"), b->second,
                1e-9 * std::max(1.0, std::fabs(b->second)))
        << words;
  }
  EXPECT_EQ(compared, want.size() - 2);
}

// BACKWARD by BIC stops at the model of step 1, whose last removal trial takes out z, the
// covariate the levels nearly determine (one level's column refused beside it): the selected
// model is that step's as it was recorded (the effect entered again last would take its pivot
// against every level and leave another fit), and is the weighted least-squares fit of numpy
// (scripts/gen_manylevel_backstop_ref.py), and the packed road's.
TEST(StructuredRoad, BackwardStopKeepsTheLastStepsFit) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/manylevelbackstop/";
  const std::string data = qrxrun::readFile(dir + "data.csv");
  const std::string program = "proc varsifter data=d;\n  class m1 / param=ref;\n  weight w;\n"
                              "  model y = z x1 x2 m1 / selection=backward(select=bic);\nrun;\n";
  const qrxrun::ProgramRun structured =
      structuredcheck::runHooked("structuredColumns=10", program, data, "srbackstop");
  const qrxrun::ProgramRun packed =
      structuredcheck::runHooked("structuredColumns=1000000", program, data, "srbackstoppacked");
  structuredcheck::expectPackedRoadsTables(structured, packed, "backward stop");
  expectSelectedFit(structured, dir + "fit.csv");
}

// BACKWARD by SBC removes the effect g first and then s, a spline of x1 of degree 8 whose
// columns reach far past the data, so that undoing their sweeps would lose accuracy: once g has
// left, that removal rebuilds the swept matrix from the sums as the packed road does. Every
// step's error SS, and x1's standard error once the spline has left (before, it depends on
// the spline's basis), are numpy's weighted least squares (scripts/gen_removal_drift_ref.py on
// synthdata's removal-drift rows) within 1e-9.
TEST(StructuredRoad, RemovalsAfterTheEffectLeftKeepTheLeastSquaresFit) {
  const std::string program = "proc varsifter data=d;\n  class g;\n"
                              "  effect s = spline(x1 / degree=8);\n  weight w;\n"
                              "  model y = x1 x2 g s / selection=backward(select=sbc) "
                              "details=all;\nrun;\n";
  const qrxrun::ProgramRun r = structuredcheck::runHooked(
      "structuredColumns=10", program, synthdata::removalDriftCsv(), "srremovaldrift");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* details = qrxrun::nodeNamed(r.json["steps"][0]["output"], "StepDetails");
  ASSERT_NE(details, nullptr) << r.log;
  const std::string ref = std::string(QRX_TEST_DATA) + "/removaldrift/steps.csv";
  int steps = 0;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(ref))) {
    if (row[0] == "step")
      continue;
    ++steps;
    const Value* step = qrxrun::nodeNamed(*details, "Step" + row[0]);
    ASSERT_NE(step, nullptr) << row[0];
    const Value* anova = qrxrun::findTable(*step, "ANOVA");
    const Value* estimates = qrxrun::findTable(*step, "ParameterEstimates");
    ASSERT_NE(anova, nullptr) << row[0];
    ASSERT_NE(estimates, nullptr) << row[0];
    const double sse = std::stod(row[1]);
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse) << "step " << row[0];
    if (row.size() < 3 || row[2].empty())
      continue;
    const double se = std::stod(row[2]);
    EXPECT_EQ(qrxrun::text(*estimates, 1, "Parameter"), "x1");
    EXPECT_NEAR(qrxrun::number(*estimates, 1, "StdErr"), se, 1e-9 * se) << "step " << row[0];
  }
  EXPECT_EQ(steps, 3);
}

// BACKWARD by PRESS removes first a degree-10 spline of x1 beside the many-level m1, whose
// columns' swept diagonals lie far past their sums, so that undoing their sweeps would lose
// accuracy: with m1 in the model the removal sweeps the small columns again from their
// reduced sums. Step 1's error SS and the standard errors of x1, x2 and x3 are the weighted
// least-squares fit in 50-digit arithmetic (scripts/gen_structured_removal_ref.py) within 1e-9.
TEST(StructuredRoad, RemovalBesideTheEffectKeepsTheLeastSquaresVariances) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/structuredremoval/";
  const qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d;\n  class g1 / param=orthref;\n  class g2 / param=ortheffect;\n"
      "  class m1 / param=glm;\n  effect s1 = spline(x1 / degree=10);\n  weight w;\n"
      "  model y = x1 x2 x3 g1 g2 m1 s1 / selection=backward(select=press stop=none) "
      "details=all;\nrun;\n",
      "srremovalbeside", {{"d.csv", qrxrun::readFile(dir + "data.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* details = qrxrun::nodeNamed(r.json["steps"][0]["output"], "StepDetails");
  ASSERT_NE(details, nullptr) << r.log;
  const Value* step = qrxrun::nodeNamed(*details, "Step1");
  ASSERT_NE(step, nullptr) << r.log;
  const Value* anova = qrxrun::findTable(*step, "ANOVA");
  const Value* estimates = qrxrun::findTable(*step, "ParameterEstimates");
  ASSERT_TRUE(anova != nullptr && estimates != nullptr) << r.log;
  const auto ref = qrxrun::csvRows(qrxrun::readFile(dir + "step1.csv"));
  ASSERT_EQ(ref.size(), 2u);
  const double sse = std::stod(ref[1][0]);
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * sse);
  EXPECT_EQ(qrxrun::number(*anova, 1, "DF"), std::stod(ref[1][1]));
  const char* names[] = {"x1", "x2", "x3"};
  for (size_t j = 1; j <= 3; ++j) {
    const double se = std::stod(ref[1][1 + j]);
    EXPECT_EQ(qrxrun::text(*estimates, j, "Parameter"), names[j - 1]);
    EXPECT_NEAR(qrxrun::number(*estimates, j, "StdErr"), se, 1e-9 * se) << names[j - 1];
  }
}

// STEPWISE by significance takes x1, z, g (z leaving two of its levels dependent beside the
// intercept) and then x2. The removal trial of z before x2's entry takes g's columns again with
// one level more: the reload after it must bring back the reduced sums of the state it left,
// or x2's entry trial and entry refresh the swept small columns against those of the trial
// (once their factor failed, which ended the fit). The selected model is numpy's least-squares
// fit (scripts/gen_level_retake_ref.py on synthdata's level-retake rows).
TEST(StructuredRoad, RemovalTrialTakingTheLevelsAgainLeavesTheNextEntrySound) {
  const std::string program = "proc varsifter data=d;\n  class g;\n"
                              "  model y = x1 x2 z g / selection=stepwise(select=sl);\nrun;\n";
  const qrxrun::ProgramRun r = structuredcheck::runHooked(
      "structuredColumns=10", program, synthdata::levelRetakeCsv(), "srlevelretake");
  ASSERT_EQ(r.status, 0) << r.log;
  expectSelectedFit(r, std::string(QRX_TEST_DATA) + "/levelretake/fit.csv");
}
