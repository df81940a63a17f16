// A CLASS effect with many levels through qrx: FORWARD sweeps its block by panels (its trial
// and its entry), on one and on several threads; the selected fit matches least squares on
// its design, and the thread counts agree to rounding. The trials of an effect whose block
// of X'X is diagonal go by the model's few swept columns: their criteria match a sparse
// forward selection in scipy and the dense trials of the same data. The structured road,
// which never holds the packed triangle of all columns, gives the same tables.
#include "programs/leastsquares.h"
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

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

constexpr int kLevels = 90;
constexpr int kRows = 1500;

struct Data {
  std::string csv = "y,c,x1,x2\n";
  std::vector<int> level;
  std::vector<double> x1, y;
};

// y = the level's mean + 2 x1 + noise; x2 is noise. Levels C01..C90 sort as numbered.
Data makeData() {
  Data d;
  std::mt19937_64 gen(28);
  std::normal_distribution<double> z;
  std::vector<double> mean(kLevels);
  for (double& m : mean)
    m = 3.0 * z(gen);
  char buf[128];
  for (int r = 0; r < kRows; ++r) {
    const int c = r < kLevels ? r : static_cast<int>(gen() % kLevels);
    const double x1 = z(gen), x2 = z(gen);
    const double y = mean[c] + 2.0 * x1 + 0.5 * z(gen);
    std::snprintf(buf, sizeof buf, "%.10g,C%02d,%.10g,%.10g\n", y, c + 1, x1, x2);
    d.csv += buf;
    // The values as the file holds them.
    double yv = 0.0, x1v = 0.0;
    std::sscanf(buf, "%lf,C%*d,%lf", &yv, &x1v);
    d.level.push_back(c);
    d.x1.push_back(x1v);
    d.y.push_back(yv);
  }
  return d;
}

qrxrun::ProgramRun runWith(const Data& d, int cpus) {
  return qrxrun::runProgram("proc varsifter data=d;\n  class c;\n"
                            "  model y = c x1 x2 / selection=forward(select=sbc);\n"
                            "  performance cpucount=" +
                                std::to_string(cpus) + ";\nrun;\n",
                            "manylevels" + std::to_string(cpus), {{"d.csv", d.csv}});
}

} // namespace

TEST(ManyLevels, ForwardOverAWideClassEffectMatchesLeastSquares) {
  const Data d = makeData();
  const qrxrun::ProgramRun one = runWith(d, 1);
  ASSERT_EQ(one.status, 0) << one.log;
  const Value& step = one.json["steps"][0];
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr) << one.log;
  // Intercept, the 90 levels (the last one aliased), x1; x2 is noise and stays out.
  ASSERT_EQ((*pe)["rows"].items.size(), static_cast<size_t>(kLevels + 2)) << one.log;
  std::vector<std::vector<double>> x;
  std::vector<double> w(kRows, 1.0);
  for (int r = 0; r < kRows; ++r) {
    std::vector<double> row(kLevels + 1, 0.0);
    row[0] = 1.0;
    if (d.level[r] < kLevels - 1)
      row[1 + d.level[r]] = 1.0;
    row[kLevels] = d.x1[r];
    x.push_back(row);
  }
  const std::vector<double> b = qrxrun::leastSquares(x, d.y, w);
  for (int k = 0; k < kLevels + 2; ++k) {
    const double want = k < kLevels ? b[k] : k == kLevels ? 0.0 : b[kLevels];
    EXPECT_NEAR(qrxrun::number(*pe, k, "Estimate"), want, 1e-8 * (1.0 + std::fabs(want))) << k;
  }
  double sse = 0.0;
  for (int r = 0; r < kRows; ++r) {
    double fit = 0.0;
    for (int j = 0; j <= kLevels; ++j)
      fit += x[r][j] * b[j];
    sse += (d.y[r] - fit) * (d.y[r] - fit);
  }
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
  ASSERT_NE(anova, nullptr);
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-8 * sse);

  // Four threads: the estimates agree (to rounding, whichever road the passes take).
  const qrxrun::ProgramRun four = runWith(d, 4);
  ASSERT_EQ(four.status, 0) << four.log;
  const Value* pe4 = qrxrun::findTable(four.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pe4, nullptr);
  for (int k = 0; k < kLevels + 2; ++k) {
    const double v = qrxrun::number(*pe, k, "Estimate");
    EXPECT_NEAR(v, qrxrun::number(*pe4, k, "Estimate"), 1e-10 * (1.0 + std::fabs(v))) << k;
  }
}

namespace {

// FORWARD by SBC with every step's candidates shown; `hooks` goes to QRX_TEST_HOOKS.
// `classOptions` go to the CLASS statement (the effect coding's block of X'X is not
// diagonal); `model` is the MODEL statement's response and effects.
qrxrun::ProgramRun runCandidates(const std::string& hooks, const std::string& tag,
                                 const std::string& classOptions = "",
                                 const std::string& model = "y = g x1 x2 x3") {
  if (!hooks.empty())
    ::setenv("QRX_TEST_HOOKS", hooks.c_str(), 1);
  qrxrun::ProgramRun r =
      qrxrun::runProgram("proc varsifter data=d;\n  class g" + classOptions + ";\n  model " +
                             model + " / selection=forward(select=sbc) details=all;\nrun;\n",
                         tag, {{"d.csv", synthdata::manyLevelsCsv()}});
  ::unsetenv("QRX_TEST_HOOKS");
  return r;
}

} // namespace

TEST(ManyLevels, DiagonalBlockTrialsMatchScipyAndTheDenseRoad) {
  const qrxrun::ProgramRun fast = runCandidates("structuredColumns=1000000", "mlfast");
  ASSERT_EQ(fast.status, 0) << fast.log;
  const qrxrun::ProgramRun dense =
      runCandidates("denseRoad=1,structuredColumns=1000000", "mldense");
  ASSERT_EQ(dense.status, 0) << dense.log;
  std::map<std::string, double> got = structuredcheck::candidateCriteria(fast, "SBC"),
                                ref = structuredcheck::candidateCriteria(dense, "SBC");
  // The last step's best candidate, which the stop rule turned away.
  const Value* stop = qrxrun::findTable(fast.json["steps"][0]["output"], "StopDetails");
  const Value* stopRef = qrxrun::findTable(dense.json["steps"][0]["output"], "StopDetails");
  ASSERT_TRUE(stop != nullptr && stopRef != nullptr);
  const std::string last = std::to_string(qrxrun::tablesOf(fast, "Candidates").size() + 1) + " ";
  got[last + qrxrun::text(*stop, 0, "Effect")] = qrxrun::number(*stop, 0, "Criterion");
  ref[last + qrxrun::text(*stopRef, 0, "Effect")] = qrxrun::number(*stopRef, 0, "Criterion");
  // scripts/gen_manylevels_ref.py: the trial SBC of every candidate at every step.
  std::map<std::string, double> want;
  for (const auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/candidates.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  // Steps 1 and 2 show their 4 and 3 candidates; step 3 its best one, x2.
  ASSERT_EQ(got.size(), 8u);
  for (const auto& [key, v] : got) {
    ASSERT_EQ(want.count(key), 1u) << key;
    EXPECT_NEAR(v, want.at(key), 1e-7 * std::fabs(v)) << key;
    EXPECT_NEAR(v, ref.at(key), 1e-10 * std::fabs(v)) << key;
  }
  // The entered effects, the fit and its estimates are those of the dense road.
  const Value* s1 = qrxrun::findTable(fast.json["steps"][0]["output"], "SelectionSummary");
  const Value* s2 = qrxrun::findTable(dense.json["steps"][0]["output"], "SelectionSummary");
  ASSERT_TRUE(s1 != nullptr && s2 != nullptr);
  EXPECT_EQ(qrxrun::dumpOutput(*s1), qrxrun::dumpOutput(*s2));
  const std::vector<const Value*> p1 = qrxrun::tablesOf(fast, "ParameterEstimates");
  const std::vector<const Value*> p2 = qrxrun::tablesOf(dense, "ParameterEstimates");
  ASSERT_EQ(p1.size(), p2.size());
  EXPECT_EQ(qrxrun::dumpOutput(*p1.back()), qrxrun::dumpOutput(*p2.back()));
}

// The reading pass takes the rows of the many-level effect as their non-zero values: the output
// is that of the dense road (the test hook readDenseRows) number for number, on the serial
// road (_testroadread at 0) and on the workers' blocks, with the rows' roles on the pages;
// also with g coded EFFECT, whose reference level alone fills its columns.
TEST(ManyLevels, SparseRowsGiveTheOutputOfTheDenseRoad) {
  const std::string data = synthdata::manyLevelsCsv();
  const std::string serial = "%let _testroadread = 0;\n";
  for (const auto& [road, coding] :
       {std::pair<std::string, std::string>{serial, ""}, {"", ""}, {"", " / param=effect"}}) {
    const std::string program =
        road + "proc varsifter data=d seed=7;\n  class g" + coding +
        ";\n"
        "  model y = g x1 x2 x3 g*x1 / selection=forward(select=sbc) details=all;\n"
        "  partition fraction(validate=0.25);\n  performance cpucount=" +
        (road.empty() ? "4" : "1") + ";\nrun;\n";
    ::setenv("QRX_TEST_HOOKS", "readDenseRows=1", 1);
    const qrxrun::ProgramRun dense = qrxrun::runProgram(program, "mlrowsd", {{"d.csv", data}});
    ::unsetenv("QRX_TEST_HOOKS");
    const qrxrun::ProgramRun sparse = qrxrun::runProgram(program, "mlrowss", {{"d.csv", data}});
    ASSERT_EQ(dense.status, 0) << dense.log;
    ASSERT_EQ(sparse.status, 0) << sparse.log;
    ASSERT_NE(qrxrun::findTable(sparse.json["steps"][0]["output"], "ParameterEstimates"), nullptr);
    EXPECT_EQ(qrxrun::dumpOutput(sparse.json), qrxrun::dumpOutput(dense.json)) << road << coding;
  }
}

// Split-level LASSO keeps the levels' rows sparse and centres and scales them in its sums: on
// the kept cross products (one thread and four) and on the passes per step, its pages are a
// fraction of those of the dense rows (the test hook denseRoad) and every table agrees with
// theirs within 1e-9, the steps' effects exactly.
TEST(ManyLevels, SplitLevelsStoredSparseFollowTheDenseRows) {
  const Data d = makeData();
  auto run = [&](const char* hooks, int cpus, const std::string& tag) {
    if (hooks != nullptr)
      ::setenv("QRX_TEST_HOOKS", hooks, 1);
    qrxrun::ProgramRun r =
        qrxrun::runProgram("proc varsifter data=d;\n  class c / split;\n"
                           "  model y = c x1 x2 / selection=lasso(stop=none);\n"
                           "  performance buildsscp=incremental util_details cpucount=" +
                               std::to_string(cpus) + ";\nrun;\n",
                           tag, {{"d.csv", d.csv}});
    ::unsetenv("QRX_TEST_HOOKS");
    EXPECT_EQ(r.status, 0) << tag << "\n" << r.log;
    return r;
  };
  auto pages = [](const qrxrun::ProgramRun& r) {
    int64_t n = 0;
    for (const Value* t : qrxrun::tablesOf(r, "UtilInfo"))
      for (size_t row = 0; row < (*t)["rows"].items.size(); ++row)
        n += static_cast<int64_t>(qrxrun::number(*t, row, "NumBuffers"));
    return n;
  };
  const char* kept = "larCrossLimit=100000000";
  const qrxrun::ProgramRun dense = run("denseRoad=1,larCrossLimit=100000000", 1, "splitd");
  const qrxrun::ProgramRun runs[] = {run(kept, 1, "splitk1"), run(kept, 4, "splitk4"),
                                     run(nullptr, 4, "splitp4")};
  ASSERT_FALSE(qrxrun::tablesOf(dense, "ParameterEstimates").empty()) << dense.log;
  for (const qrxrun::ProgramRun& r : runs) {
    EXPECT_LT(3 * pages(r), pages(dense));
    for (const char* name : {"SelectionSummary", "ANOVA", "FitStatistics", "ParameterEstimates"}) {
      const std::vector<const Value*> a = qrxrun::tablesOf(r, name),
                                      b = qrxrun::tablesOf(dense, name);
      ASSERT_EQ(a.size(), b.size()) << name;
      for (size_t i = 0; i < a.size(); ++i)
        qrxrun::expectClose(*a[i], *b[i], 1e-9, name);
    }
  }
}

// Each BY group chooses its own road for split levels: a first group of few levels keeps the
// packed X'X, and a second of 1,100 keeps its rows sparse as when it runs alone (the same
// pages and estimates).
TEST(ManyLevels, EachByGroupChoosesItsSplitLevelsRoad) {
  std::string csv = "b,y,c,x1\n";
  std::mt19937_64 gen(45);
  std::normal_distribution<double> z;
  for (int r = 0; r < 2400; ++r) {
    const int b = r < 200 ? 1 : 2, levels = b == 1 ? 20 : 1100;
    const int c = r % levels;
    const double x1 = z(gen);
    csv += std::to_string(b) + "," + std::to_string((c % 7) + x1 + z(gen)) + ",C" +
           std::to_string(c) + "," + std::to_string(x1) + "\n";
  }
  std::string second = "b,y,c,x1\n";
  for (size_t at = csv.find("\n2,"); at != std::string::npos; at = csv.find("\n2,", at + 1))
    second += csv.substr(at + 1, csv.find('\n', at + 1) - at);
  auto run = [](const std::string& data, const std::string& tag) {
    qrxrun::ProgramRun r = qrxrun::runProgram(
        "proc varsifter data=d;\n  by b;\n  class c / split;\n"
        "  model y = c x1 / selection=lasso(steps=8);\n  performance util_details;\nrun;\n",
        tag, {{"d.csv", data}});
    EXPECT_EQ(r.status, 0) << r.log;
    return r;
  };
  const qrxrun::ProgramRun both = run(csv, "splitby"), alone = run(second, "splitby2");
  for (const char* name : {"UtilInfo", "ParameterEstimates"}) {
    const std::vector<const Value*> a = qrxrun::tablesOf(both, name),
                                    b = qrxrun::tablesOf(alone, name);
    ASSERT_EQ(a.size(), 2u) << name;
    ASSERT_EQ(b.size(), 1u) << name;
    qrxrun::expectClose(*a[1], *b[0], 1e-9, name);
  }
}

// On four threads the cross products of a wide CLASS effect go by the shared triangle, each
// worker adding its own rows in the serial order: every number shown is the serial run's,
// to the last bit.
TEST(ManyLevels, SharedTriangleGivesTheSerialNumbersOnFourThreads) {
  const std::string data = synthdata::manyLevelsCsv();
  auto run = [&](int cpus) {
    return qrxrun::runProgram(
        "proc varsifter data=d;\n  class g;\n"
        "  model y = g x1 x2 x3 / selection=forward(select=sbc) details=all;\n"
        "  performance cpucount=" +
            std::to_string(cpus) + ";\nrun;\n",
        "mlshared" + std::to_string(cpus), {{"d.csv", data}});
  };
  const qrxrun::ProgramRun one = run(1), four = run(4);
  ASSERT_EQ(one.status, 0) << one.log;
  ASSERT_EQ(four.status, 0) << four.log;
  for (const char* name : {"Candidates", "SelectionSummary", "StopDetails", "ANOVA",
                           "FitStatistics", "ParameterEstimates"}) {
    const std::vector<const Value*> a = qrxrun::tablesOf(one, name),
                                    b = qrxrun::tablesOf(four, name);
    ASSERT_FALSE(a.empty()) << name;
    ASSERT_EQ(a.size(), b.size()) << name;
    for (size_t i = 0; i < a.size(); ++i)
      EXPECT_EQ(qrxrun::dumpOutput(*a[i]), qrxrun::dumpOutput(*b[i])) << name << " " << i;
  }
}

// The structured road (the many-level effect's diagonal and cross block in place of the
// packed triangle of all columns), reached by lowering the columns it starts from: every
// table is that of the packed triangle's road to rounding, and the candidates' criteria are
// those of the scipy selection, also where the stop rule takes the effect out again. Under the
// effect coding the block is diagonal plus one common element, which the road solves too.
TEST(ManyLevels, StructuredRoadGivesTheTablesOfThePackedTriangle) {
  const qrxrun::ProgramRun packedRun = runCandidates("structuredColumns=1000000", "mlpacked");
  ASSERT_EQ(packedRun.status, 0) << packedRun.log;
  const qrxrun::ProgramRun structured = runCandidates("structuredColumns=10", "mlstructured");
  ASSERT_EQ(structured.status, 0) << structured.log;
  const Value& out = structured.json["steps"][0]["output"];
  EXPECT_EQ(qrxrun::firstDifference(out, packedRun.json["steps"][0]["output"], ""), "");
  // The structured road's numbers are not those of the packed road bit for bit.
  EXPECT_NE(qrxrun::dumpOutput(out), qrxrun::dumpOutput(packedRun.json["steps"][0]["output"]));
  std::map<std::string, double> want;
  for (const auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/manylevels/candidates.csv")))
    if (row[0] != "step")
      want[row[0] + " " + row[1]] = std::stod(row[2]);
  const std::map<std::string, double> got = structuredcheck::candidateCriteria(structured, "SBC");
  ASSERT_EQ(got.size(), 7u);
  for (const auto& [key, v] : got)
    EXPECT_NEAR(v, want.at(key), 1e-7 * std::fabs(v)) << key;

  // x2 is noise and g the only candidate: g enters a step that the stop rule takes back.
  const qrxrun::ProgramRun noise = runCandidates("structuredColumns=10", "mlnoise", "", "x2 = g");
  const qrxrun::ProgramRun noisePacked =
      runCandidates("structuredColumns=1000000", "mlnoisepacked", "", "x2 = g");
  ASSERT_EQ(noise.status, 0) << noise.log;
  EXPECT_EQ(qrxrun::firstDifference(noise.json["steps"][0]["output"],
                                    noisePacked.json["steps"][0]["output"], ""),
            "");
  const Value* stop = qrxrun::findTable(noise.json["steps"][0]["output"], "StopDetails");
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(qrxrun::text(*stop, 0, "Effect"), "g");

  const qrxrun::ProgramRun effect =
      runCandidates("structuredColumns=10", "mleffect", " / param=effect");
  const qrxrun::ProgramRun effectPacked =
      runCandidates("structuredColumns=1000000", "mleffectpacked", " / param=effect");
  ASSERT_EQ(effect.status, 0) << effect.log;
  EXPECT_EQ(qrxrun::firstDifference(effect.json["steps"][0]["output"],
                                    effectPacked.json["steps"][0]["output"], ""),
            "");
  EXPECT_NE(qrxrun::dumpOutput(effect.json["steps"][0]["output"]),
            qrxrun::dumpOutput(effectPacked.json["steps"][0]["output"]));
}
