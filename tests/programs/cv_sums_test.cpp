// The CV PRESS of every step and candidate comes from the folds' cross products rather than a
// pass over the rows. End to end through qrx: FORWARD, BACKWARD, STEPWISE, LAR, LASSO,
// adaptive LASSO and the elastic net (a given ridge and its search) under SELECT=, CHOOSE=
// and STOP=CV, with every fold method, WEIGHT, FREQ, BY groups, CVDETAILS= and a PARTITION
// beside the folds, give the output of the pass over the rows (the _testroadcvsums switch
// at 0) to rounding, on one thread and on four.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include <string>
#include <utility>
#include <vector>

namespace {

const std::vector<std::pair<std::string, std::string>> kSteps = {
    {"weight w;", "forward(select=cv stop=none) cvmethod=random(5) cvdetails=all"},
    {"freq f;", "backward(select=cv) cvmethod=block(4) cvdetails=cvpress"},
    {"", "stepwise(select=sl choose=cv stop=cv) cvmethod=index(g)"},
    {"by sex;", "lasso(choose=cv stop=none) cvmethod=random(5) cvdetails=all"},
    {"freq f;", "lar(choose=cv stop=none) cvmethod=split(3)"},
    {"", "lasso(adaptive choose=cv stop=none) cvmethod=split(4)"},
    {"weight w;", "elasticnet(l2=0.05 choose=cv stop=none) cvmethod=split(4)"},
    {"", "elasticnet(choose=cv stop=none) cvmethod=random(3)"},
    {"partition fraction(validate=0.3);",
     "forward(select=sbc choose=cv stop=none) cvmethod=random(3)"},
};

// The BY step reads the rows sorted by SEX: two groups, each of which holds every fold (a
// group whose rows fill one fold, as most of the NOTSORTED runs of one row would, is refused).
std::string program(const std::string& perf) {
  std::string text;
  for (const auto& [extra, selection] : kSteps)
    text += std::string("proc varsifter data=") +
            (extra.rfind("by ", 0) == 0 ? "cvsorted" : "cvdata") + " seed=5;\n  " + extra +
            "\n  model y = age sex bmi bp s1-s6 / selection=" + selection + ";\n  performance " +
            perf + ";\nrun;\n";
  return text;
}

// The rows of a CSV text after its header, stable-sorted by the text of the second field.
std::string sortedBySecondField(const std::string& csv) {
  const size_t body = csv.find('\n') + 1;
  std::vector<std::string> rows;
  for (size_t at = body; at < csv.size();) {
    const size_t end = csv.find('\n', at);
    rows.push_back(csv.substr(at, end == std::string::npos ? std::string::npos : end - at + 1));
    at = end == std::string::npos ? csv.size() : end + 1;
  }
  const auto second = [](const std::string& row) {
    const size_t a = row.find(',') + 1;
    return row.substr(a, row.find(',', a) - a);
  };
  std::stable_sort(rows.begin(), rows.end(), [&](const std::string& x, const std::string& y) {
    return second(x) < second(y);
  });
  std::string out = csv.substr(0, body);
  for (const auto& row : rows)
    out += row;
  return out;
}

void expectSameAsRows(const std::string& perf, const std::string& tag) {
  const std::string data = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvdata.csv");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"cvdata.csv", data}, {"cvsorted.csv", sortedBySecondField(data)}};
  const auto sums = qrxrun::runProgram(program(perf), tag + "s", files);
  const auto rows =
      qrxrun::runProgram("%let _testroadcvsums = 0;\n" + program(perf), tag + "r", files);
  for (const auto* r : {&sums, &rows}) {
    ASSERT_EQ(r->status, 0) << r->log;
    ASSERT_EQ(r->json["steps"].items.size(), kSteps.size());
  }
  bool distinct = false;
  for (size_t s = 0; s < kSteps.size(); ++s) {
    const auto& a = sums.json["steps"][s]["output"];
    const auto& b = rows.json["steps"][s]["output"];
    ASSERT_NE(qrxrun::findTable(a, "SelectionSummary"), nullptr) << kSteps[s].second;
    EXPECT_EQ(qrxrun::firstDifference(a, b, ""), "") << kSteps[s].second;
    distinct = distinct || qrxrun::dumpOutput(a) != qrxrun::dumpOutput(b);
  }
  EXPECT_TRUE(distinct) << "both runs summed the held-out errors over the rows";
}

TEST(CvSums, FoldSumsGiveTheOutputOfThePassOverTheRowsOnOneThread) {
  expectSameAsRows("nothreads", "cvsums1");
}

TEST(CvSums, FoldSumsGiveTheOutputOfThePassOverTheRowsOnFourThreads) {
  expectSameAsRows("threads cpucount=4", "cvsums4");
}

// A thousand folds of ten rows on a close fit: each fold's held-out error is small against
// the sums over all rows, so it must come from the fold's own sums, not the total less the
// rest. The steps' CV PRESS and the chosen model's fold errors against numpy refits without
// each fold (scripts/gen_cv_folds_ref.py), on synthdata's rows made here from its recipe.
TEST(CvSums, SmallFoldsFollowTheRefits) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/cvfolds/";
  std::vector<std::vector<std::string>> steps, folds;
  for (auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "folds_ref.csv")))
    if (row[0] != "kind")
      (row[0] == "step" ? steps : folds).push_back(row);
  for (const char* perf : {"nothreads", "threads cpucount=4"}) {
    const auto r = qrxrun::runProgram(
        "proc varsifter data=folds;\n  model y = x1 x2 x3 / selection=forward(select=cv "
        "stop=none) cvmethod=split(1000) cvdetails=cvpress;\n  performance " +
            std::string(perf) + ";\nrun;\n",
        "cvfolds", {{"folds.csv", synthdata::cvFoldsCsv()}});
    ASSERT_EQ(r.status, 0) << r.log;
    const auto& out = r.json["steps"][0]["output"];
    const auto* t = qrxrun::findTable(out, "SelectionSummary");
    const auto* d = qrxrun::findTable(out, "CVDetails");
    ASSERT_TRUE(t != nullptr && d != nullptr) << r.log;
    ASSERT_EQ((*t)["rows"].items.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i) {
      const double press = std::stod(steps[i][3]);
      EXPECT_EQ(qrxrun::text(*t, i, "EffectEntered"), steps[i][2]);
      EXPECT_NEAR(qrxrun::number(*t, i, "CVPRESS"), press, 1e-9 * press) << perf << i;
    }
    ASSERT_GE((*d)["rows"].items.size(), folds.size());
    for (size_t f = 0; f < folds.size(); ++f) {
      const double error = std::stod(folds[f][3]);
      EXPECT_NEAR(qrxrun::number(*d, f, "CVPRESS"), error, 1e-9 * error) << perf << " fold " << f;
    }
  }
}

// One fold holds a row far out on power columns (x = 8 against x in [-1, 1] elsewhere), whose
// own sums of x^10 dwarf the other rows': the sums outside that fold come from the other
// folds' rows, not from the total less the fold, or the refit far from the held-out row loses
// its digits. The last step's CV PRESS (every column in) against exact refits without each
// fold (scripts/gen_cv_far_fold_ref.py), with the full X'X formed at once or column by column.
TEST(CvSums, FarHeldOutRowKeepsTheOtherFoldsDigits) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/cvfolds/";
  double press = 0.0;
  for (auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "farfold_ref.csv")))
    if (row[0] == "total")
      press = std::stod(row[2]);
  ASSERT_GT(press, 0.0);
  for (const char* build : {"full", "incremental"}) {
    std::string program = "proc varsifter data=farfold;\n  model y = one p1 p2 p3 p4 p5 / noint "
                          "selection=forward(select=cv stop=none) cvmethod=index(fold);\n";
    program.append("  performance buildsscp=").append(build).append(";\nrun;\n");
    const auto r = qrxrun::runProgram(program, std::string("farfold") + build,
                                      {{"farfold.csv", qrxrun::readFile(dir + "farfold.csv")}});
    ASSERT_EQ(r.status, 0) << r.log;
    const auto* t = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
    ASSERT_TRUE(t != nullptr) << r.log;
    const size_t last = (*t)["rows"].items.size() - 1;
    EXPECT_EQ(qrxrun::number(*t, last, "nParmsIn"), 6) << build;
    EXPECT_NEAR(qrxrun::number(*t, last, "CVPRESS"), press, 1e-9 * press) << build;
  }
}

// A held-out row dominates a column's mean (t = (x - 33)^7 for x > 33: the far row's 5.6e7
// against at most 2187 elsewhere), which the pages are shifted or centred by: the sums of the
// folds that leave it out must be held about their own rows' means, or the refits that
// extrapolate to it lose about six digits. The last step's CV PRESS (every column in, which
// the least-angle paths end on with the least-squares fit) against exact refits without each
// fold (scripts/gen_cv_fold_means_ref.py): FORWARD with the full X'X formed at once or column
// by column, LAR and the adaptive LASSO over centred and scaled pages, and LAR's external folds
// (CVEX PRESS, the mean over the five folds of ten rows of their held-out errors per row, the
// total over 50), on one thread and on eight.
TEST(CvSums, FoldSumsAboutTheirOwnMeansWhereAHeldOutRowDominates) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/cvfolds/";
  double press = 0.0;
  for (auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "foldmeans_ref.csv")))
    if (row[0] == "total")
      press = std::stod(row[2]);
  ASSERT_GT(press, 0.0);
  struct Fit {
    std::string selection, build, column;
    double rows;
  };
  const std::vector<Fit> fits = {{"forward(select=cv stop=none)", "full", "CVPRESS", 1.0},
                                 {"forward(select=cv stop=none)", "incremental", "CVPRESS", 1.0},
                                 {"lar(choose=cv stop=none)", "full", "CVPRESS", 1.0},
                                 {"lasso(adaptive choose=cv stop=none)", "full", "CVPRESS", 1.0},
                                 {"lar(choose=cvex stop=none)", "full", "CVEXPRESS", 50.0}};
  for (size_t i = 0; i < fits.size(); ++i)
    for (const char* cpus : {"1", "8"}) {
      const auto& [selection, build, column, rows] = fits[i];
      std::string program = "proc varsifter data=foldmeans;\n  model y = p1 p2 p3 t / selection=";
      program.append(selection).append(" cvmethod=index(fold);\n  performance buildsscp=");
      program.append(build).append(" cpucount=").append(cpus).append(";\nrun;\n");
      const auto r =
          qrxrun::runProgram(program, "foldmeans" + std::to_string(i) + cpus,
                             {{"foldmeans.csv", qrxrun::readFile(dir + "foldmeans.csv")}});
      ASSERT_EQ(r.status, 0) << r.log;
      const auto* t = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
      ASSERT_TRUE(t != nullptr) << r.log;
      const size_t last = (*t)["rows"].items.size() - 1;
      EXPECT_EQ(qrxrun::number(*t, last, "nParmsIn"), 5)
          << selection << " " << build << " " << cpus;
      EXPECT_NEAR(qrxrun::number(*t, last, column) * rows, press, 1e-9 * press)
          << selection << " " << build << " " << cpus;
    }
}

// The exact refits' CV PRESS of every step of FORWARD on the far-row design with a CLASS
// effect (scripts/gen_cv_fold_roads_ref.py), and the checks of a run against them.
std::vector<double> foldRoadsPress() {
  std::vector<double> press;
  for (auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cvfolds/foldroads_ref.csv")))
    if (row[0] != "step")
      press.push_back(std::stod(row[2]));
  return press;
}

void expectFoldRoadsPress(const std::string& classOptions, const std::string& build,
                          const char* cpus, const std::string& tag) {
  const std::vector<double> press = foldRoadsPress();
  ASSERT_EQ(press.size(), 6u);
  const std::string program = "proc varsifter data=foldroads;\n  class g" + classOptions +
                              ";\n  model y = x1 x2 x3 t g / selection=forward(select=cv "
                              "stop=none) cvmethod=index(fold);\n  performance buildsscp=" +
                              build + " cpucount=" + cpus + ";\nrun;\n";
  const auto r = qrxrun::runProgram(
      program, tag + cpus,
      {{"foldroads.csv", qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cvfolds/foldroads.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  const auto* t = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_TRUE(t != nullptr) << r.log;
  ASSERT_EQ((*t)["rows"].items.size(), press.size()) << r.log;
  for (size_t s = 0; s < press.size(); ++s)
    EXPECT_NEAR(qrxrun::number(*t, s, "CVPRESS"), press[s], 1e-9 * press[s])
        << tag << " " << cpus << " " << s;
}

// The growing road beside a CLASS effect's sparse columns: the same far row, whose centred
// parts move with the sparse columns' raw first sums (scripts/gen_cv_fold_roads_ref.py, every
// step's exact refits; about the pages' shift the last step missed by 1.3e-5).
TEST(CvSums, FoldSumsAboutTheirOwnMeansBesideSparseColumns) {
  for (const char* cpus : {"1", "8"})
    expectFoldRoadsPress("", "incremental", cpus, "foldroads");
}

// The many-level road (its least columns lowered so that the ten levels take it, nine columns
// under the effect coding), under the GLM and the effect coding: its pass sums each fold about
// the fold's means and its cross block and the reference level's cross products move with the
// centres; about the means over all rows the last step missed the refits by 1.5e-6 (2.7e-6
// under the effect coding).
TEST(CvSums, FoldSumsAboutTheirOwnMeansOnTheManyLevelRoad) {
  ::setenv("QRX_TEST_HOOKS", "structuredColumns=9", 1);
  for (const char* cpus : {"1", "8"}) {
    expectFoldRoadsPress("", "full", cpus, "foldroadsml");
    expectFoldRoadsPress(" / param=effect", "full", cpus, "foldroadsmleffect");
  }
  ::unsetenv("QRX_TEST_HOOKS");
}

// A column whose mean is set by one fold's rows (t = x^20: up to 3.5e9 there, below 1e-20 on
// the other fold's rows, far below the last place of the mean): shifted by its mean, the
// rows the first fold's fit stands on would be its rounding. Every step's CV PRESS and the
// order of entry against exact refits (scripts/gen_tail_fold_ref.py), on both ways of
// building the cross products and on one thread and eight; shifted, t entered first with a
// CV PRESS of 160 where its refits give 4e58.
TEST(CvSums, AColumnsFarMeanLeavesTheOtherFoldsRowsTheirDigits) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/cvfolds/";
  std::vector<std::pair<std::string, double>> ref;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "tailfold_ref.csv")))
    if (row[0] != "effect")
      ref.emplace_back(row[0], std::stod(row[1]));
  ASSERT_EQ(ref.size(), 4u);
  for (const char* build : {"full", "incremental"})
    for (const char* cpus : {"1", "8"}) {
      const auto r = qrxrun::runProgram(
          std::string("proc varsifter data=tailfold;\n  model y = x z t / selection=forward("
                      "select=cv stop=none) cvmethod=split(2);\n  performance buildsscp=") +
              build + " cpucount=" + cpus + ";\nrun;\n",
          std::string("tailfold") + build + cpus,
          {{"tailfold.csv", qrxrun::readFile(dir + "tailfold.csv")}});
      ASSERT_EQ(r.status, 0) << r.log;
      const auto* t = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
      ASSERT_TRUE(t != nullptr) << r.log;
      ASSERT_EQ((*t)["rows"].items.size(), ref.size()) << r.log;
      for (size_t s = 0; s < ref.size(); ++s) {
        EXPECT_EQ(qrxrun::text(*t, s, "EffectEntered"), ref[s].first) << build << cpus;
        EXPECT_NEAR(qrxrun::number(*t, s, "CVPRESS"), ref[s].second, 1e-9 * ref[s].second)
            << build << " " << cpus << " " << s;
      }
    }
}

} // namespace
