// Split CLASS levels stored sparse through qrx on the penalized roads beyond plain LASSO: the
// adaptive LASSO, the elastic net at a given L2, and rows that carry WEIGHT or FREQ. Each
// road keeps a fraction of the dense rows' pages (the test hook denseRoad forces those) and
// gives their tables within 1e-9, the steps' effects exactly; the adaptive LASSO's path also
// matches an adaptive LASSO of R's glmnet on a sparse dummy matrix
// (scripts/gen_split_adaptive_ref.R).
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using minijson::Value;

// y = the level's effect (a third of the levels) + 2 x1 + noise; x2 is noise, and far is x2
// about 10,000 (its spread is formed about its mean in a pass of its own); w and f are a
// WEIGHT and a FREQ that vary by row; t (when tinyEvery > 0) weighs every tinyEvery-th row
// by 1e-9, which magnifies the rounding of the adaptive weights' fit on the step F values.
// At 400 levels some steps' F is nearly 0, where the p-value magnifies the F's rounding.
struct Data {
  int levels = 90, rows = 1500, tinyEvery = 0;
};

std::string makeCsv(const Data& d) {
  std::mt19937_64 gen(45);
  std::normal_distribution<double> z;
  std::vector<double> effect(static_cast<size_t>(d.levels));
  for (size_t c = 0; c < effect.size(); ++c)
    effect[c] = c % 3 == 0 ? 2.0 * z(gen) : 0.0;
  std::string csv = d.tinyEvery > 0 ? "y,c,x1,x2,w,f,far,t\n" : "y,c,x1,x2,w,f,far\n";
  const int width = d.levels > 99 ? 3 : 2;
  char buf[160];
  for (int r = 0; r < d.rows; ++r) {
    const int c = r < d.levels ? r : static_cast<int>(gen() % d.levels);
    const double x1 = z(gen), x2 = z(gen);
    std::snprintf(buf, sizeof buf, "%.10g,C%0*d,%.10g,%.10g,%g,%d,%.10g",
                  effect[c] + 2.0 * x1 + 0.7 * z(gen), width, c + 1, x1, x2, 0.5 + (r % 7) / 4.0,
                  1 + r % 3, 1e4 + x2);
    csv += buf;
    if (d.tinyEvery > 0)
      csv += r % d.tinyEvery == 3 ? ",1e-9" : ",1";
    csv += "\n";
  }
  return csv;
}

qrxrun::ProgramRun run(const std::string& program, const char* hooks, const std::string& tag,
                       const std::string& csv) {
  if (hooks != nullptr)
    ::setenv("QRX_TEST_HOOKS", hooks, 1);
  qrxrun::ProgramRun r = qrxrun::runProgram(program, tag, {{"d.csv", csv}});
  ::unsetenv("QRX_TEST_HOOKS");
  // A warning (1) is allowed: the adaptive weights' fit over every level is not of full rank.
  EXPECT_LE(r.status, 1) << tag << "\n" << r.log;
  return r;
}

int64_t pages(const qrxrun::ProgramRun& r) {
  int64_t n = 0;
  for (const Value* t : qrxrun::tablesOf(r, "UtilInfo"))
    for (size_t row = 0; row < (*t)["rows"].items.size(); ++row)
      n += static_cast<int64_t>(qrxrun::number(*t, row, "NumBuffers"));
  return n;
}

// The program with the sparse rows (one thread and four) against the dense rows.
// `hooks` (or empty) go to both runs; sparseRows false: the road keeps the dense rows.
void expectSparseFollowsDense(const std::string& statements, const std::string& tag,
                              const std::string& hooks = "", bool sparseRows = true,
                              const Data& data = {}) {
  const std::string csv = makeCsv(data);
  auto program = [&](int cpus) {
    return "proc varsifter data=d;\n" + statements +
           "  performance buildsscp=incremental util_details cpucount=" + std::to_string(cpus) +
           ";\nrun;\n";
  };
  const std::string denseHooks = "denseRoad=1" + (hooks.empty() ? "" : "," + hooks);
  const qrxrun::ProgramRun dense = run(program(1), denseHooks.c_str(), tag + "d", csv);
  ASSERT_FALSE(qrxrun::tablesOf(dense, "ParameterEstimates").empty()) << dense.log;
  for (int cpus : {1, 4}) {
    const qrxrun::ProgramRun sparse = run(program(cpus), hooks.empty() ? nullptr : hooks.c_str(),
                                          tag + std::to_string(cpus), csv);
    EXPECT_EQ(sparse.status, dense.status) << tag;
    EXPECT_EQ(3 * pages(sparse) < pages(dense), sparseRows) << tag;
    for (const char* name : {"SelectionSummary", "ANOVA", "FitStatistics", "ParameterEstimates"}) {
      const std::vector<const Value*> a = qrxrun::tablesOf(sparse, name),
                                      b = qrxrun::tablesOf(dense, name);
      ASSERT_EQ(a.size(), b.size()) << tag << " " << name;
      for (size_t i = 0; i < a.size(); ++i)
        qrxrun::expectClose(*a[i], *b[i], 1e-9, tag + " " + name);
    }
  }
}

// One penalized fit of the split levels: the rest of the CLASS statement, the MODEL
// statement's effects and selection, the hooks, whether the rows go sparse, and the data.
struct PenalizedCase {
  const char* classTail; // after "class c / split", up to the MODEL statement's ";"
  const char* model;     // the effects and the selection
  std::string hooks;
  bool sparseRows;
  Data data = {};
};

void expectCasesFollowDense(const std::vector<PenalizedCase>& cases, const std::string& tag) {
  int n = 0;
  for (const PenalizedCase& c : cases) {
    const std::string statements =
        std::string("  class c / split") + c.classTail + ";\n  model y = " + c.model + ";\n";
    expectSparseFollowsDense(statements, tag + std::to_string(n++), c.hooks, c.sparseRows, c.data);
  }
}

const std::string kKept = "larCrossLimit=100000000";

} // namespace

// The adaptive LASSO (also with a dense column ahead of the levels, on the kept cross
// products of the entered levels, and under the effect coding, where a row holds several
// levels and the dense rows give the weights), the elastic net at a given L2 and over an L2
// search, a LASSO beside a column of large mean, weighted rows, and rows weighted by 1e-9
// among many rows or many levels. The cases run in several tests, so that each stays short
// on a loaded machine.
TEST(SplitSparseRoads, PenalizedRoadsFollowTheDenseRows) {
  expectCasesFollowDense(
      {{"", "c x1 x2 / selection=lasso(adaptive stop=none)", "", true},
       {"", "x1 c x2 / selection=lasso(adaptive(gamma=0.5) steps=30)", "", true},
       {"", "c x1 x2 / selection=lasso(adaptive steps=40)", kKept, true},
       {" param=effect", "c x1 x2 / selection=lasso(adaptive steps=20)", "", false}},
      "ss");
}

TEST(SplitSparseRoads, ElasticNetAndLargeMeanRoadsFollowTheDenseRows) {
  expectCasesFollowDense(
      {{"", "c x1 x2 / selection=elasticnet(l2=0.05 stop=none)", "", true},
       {"", "c x1 far / selection=lasso(stop=none)", "", true},
       {"", "c x1 x2 / selection=elasticnet(l2=0.2 adaptive steps=40 enscale)", "", true},
       {"", "c x1 x2 / selection=elasticnet(l2high=0.1 l2steps=3 steps=20 choose=sbc)", "", true}},
      "se");
}

TEST(SplitSparseRoads, WeightedAndFrequencyRoadsFollowTheDenseRows) {
  expectCasesFollowDense(
      {{";\n  weight w", "c x1 x2 / selection=lasso(stop=none)", "", true},
       {";\n  freq f", "c x1 x2 / selection=lasso(stop=none)", kKept, true},
       {";\n  weight w;\n  freq f", "c x1 x2 / selection=lasso(adaptive steps=40)", "", true},
       {";\n  weight w", "c x1 x2 / selection=elasticnet(l2=0.05 steps=40)", "", true}},
      "sw");
}

// The rows weighted by 1e-9: at their full sizes (300 levels on 3,000 rows, 400 levels on
// 1,600) under the label "long", else on half as many levels and rows.
namespace {
bool fullSize() { return std::getenv("QRX_LONG_TESTS") != nullptr; }
} // namespace

TEST(SplitSparseRoads, TinyWeightsOfManyRowsFollowTheDenseRows) {
  expectCasesFollowDense({{";\n  weight t", "c x1 x2 / selection=lasso(adaptive stop=none)", "",
                           true, fullSize() ? Data{300, 3000, 50} : Data{150, 1500, 50}}},
                         "sm");
}

TEST(SplitSparseRoads, TinyWeightsOfManyLevelsFollowTheDenseRows) {
  expectCasesFollowDense({{";\n  weight t", "c x1 x2 / selection=lasso(adaptive stop=none)", "",
                           true, fullSize() ? Data{400, 1600, 25} : Data{200, 800, 25}}},
                         "sl");
}

// The adaptive LASSO with the levels stored sparse, on one thread and four, walks glmnet's
// path (scripts/gen_split_adaptive_ref.R): the same entries in order, and after the last step
// the estimates of glmnet at the next knot.
TEST(SplitSparseRoads, AdaptiveLassoMatchesGlmnet) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/splitadaptive/";
  const std::string csv = synthdata::splitAdaptiveCsv();
  auto name = [](int k) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "c_L%04d", k);
    return k <= 39 ? std::string(buf) : k == 40 ? std::string("x1") : std::string("x2");
  };
  std::vector<std::string> entered;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "knots.csv")))
    if (row[0] != "knot") {
      std::string change = row[2] == "1" ? "+" : "-";
      change += name(std::stoi(row[1]));
      entered.push_back(change);
    }
  std::map<std::string, double> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "final.csv")))
    if (row[0] != "candidate" && std::stod(row[1]) != 0.0)
      want[row[0] == "0" ? "Intercept" : name(std::stoi(row[0]))] = std::stod(row[1]);
  const int steps = static_cast<int>(entered.size()) - 1;
  for (int cpus : {1, 4}) {
    const qrxrun::ProgramRun r =
        run("proc varsifter data=d;\n  class c / split;\n"
            "  model y = c x1 x2 / selection=lasso(adaptive steps=" +
                std::to_string(steps) +
                ");\n  performance buildsscp=incremental util_details cpucount=" +
                std::to_string(cpus) + ";\nrun;\n",
            nullptr, "ssglmnet" + std::to_string(cpus), csv);
    const Value* t = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
    const Value* pe = qrxrun::findTable(r.json["steps"][0]["output"], "ParameterEstimates");
    ASSERT_NE(t, nullptr) << r.log;
    ASSERT_NE(pe, nullptr) << r.log;
    ASSERT_EQ((*t)["rows"].items.size(), static_cast<size_t>(steps + 1));
    for (int s = 1; s <= steps; ++s) {
      const std::string in = qrxrun::text(*t, s, "EffectEntered");
      std::string change = in.empty() ? "-" : "+";
      change += in.empty() ? qrxrun::text(*t, s, "EffectRemoved") : in;
      EXPECT_EQ(change, entered[s - 1]) << "step " << s;
    }
    ASSERT_EQ((*pe)["rows"].items.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
      const std::string p = qrxrun::text(*pe, i, "Parameter");
      ASSERT_EQ(want.count(p), 1u) << p;
      EXPECT_NEAR(qrxrun::number(*pe, i, "Estimate"), want.at(p),
                  1e-7 * (1 + std::fabs(want.at(p))))
          << p;
    }
  }
}
