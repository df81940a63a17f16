// The rank the sweep decides, through qrx, against exact pivots (tests/data/pivotrank, made by
// scripts/gen_pivot_rank_ref.py): nearly dependent designs take every column whose pivot
// is sound and refuse every column whose pivot rounding can account for; the error SS is
// the least-squares minimum on the columns taken and the fit of the predictions written.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/pivotrank/";

// A column's verdict: "accept", "refuse", or "either" where a sound rule may go both ways.
struct Pivot {
  std::string column, verdict;
  bool scriptTakes; // the reference's choice: every accept, and an undecided pivot within
                    // 1e-1 of its exact value and at least 1e-8 of its diagonal
};
struct Fit {
  int rank = 0;
  double sse = 0, least = 0;
};
struct Corpus {
  std::map<std::string, std::vector<Pivot>> pivots;
  std::map<std::string, Fit> fits;
};

const Corpus& corpus() {
  static const Corpus c = [] {
    Corpus r;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "pivots.csv"));
    for (size_t i = 1; i < rows.size(); ++i) {
      // Exact pivots below the smallest double read as 0.
      const double exact = std::strtod(rows[i][2].c_str(), nullptr);
      const double dbl = std::strtod(rows[i][3].c_str(), nullptr);
      const bool either = rows[i][4] == "either";
      const bool takes = rows[i][4] == "accept" ||
                         (either && exact >= 1e-8 && std::fabs(dbl - exact) <= 0.1 * exact);
      r.pivots[rows[i][0]].push_back({rows[i][1], rows[i][4], takes});
    }
    const auto fits = qrxrun::csvRows(qrxrun::readFile(kDir + "fits.csv"));
    for (size_t i = 1; i < fits.size(); ++i)
      r.fits[fits[i][0]] = {std::stoi(fits[i][1]), std::stod(fits[i][2]),
                            fits[i][3].empty() ? 0.0 : std::stod(fits[i][3])};
    return r;
  }();
  return c;
}

// The DF of every parameter of a fit's estimates, by parameter name.
std::map<std::string, int> parameterDf(const Value& step) {
  std::map<std::string, int> df;
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  if (pe == nullptr)
    return df;
  for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r) {
    std::string name; // runs of blanks as one
    for (const char c : qrxrun::text(*pe, r, "Parameter"))
      if (c != ' ' || (!name.empty() && name.back() != ' '))
        name += c;
    df[name] = static_cast<int>(qrxrun::number(*pe, r, "DF"));
  }
  return df;
}

// The error SS of the predictions p in an OUTPUT data set of y, with weights w when held.
double predictedSse(const std::string& text) {
  const auto rows = qrxrun::csvRows(text);
  const int y = qrxrun::headerColumn(rows[0], "y"), p = qrxrun::headerColumn(rows[0], "p");
  int w = -1;
  for (size_t c = 0; c < rows[0].size(); ++c)
    w = rows[0][c] == "w" ? static_cast<int>(c) : w;
  double sse = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double e = std::stod(rows[i][y]) - std::stod(rows[i][p]);
    sse += (w >= 0 ? std::stod(rows[i][w]) : 1.0) * e * e;
  }
  return sse;
}

// Checks one fitted case: every column's DF against its verdict (up to the first column
// where the fit took the other side of an undecided pivot, after which the exact pivots
// differ), and, when no such column came, the rank and the error SS against the exact fit.
void expectCase(const std::string& name, const Value& step, const std::string& output) {
  SCOPED_TRACE(name);
  ASSERT_EQ(step["returnCode"].n, 0);
  const std::map<std::string, int> df = parameterDf(step);
  ASSERT_FALSE(df.empty());
  bool exact = true;
  for (const Pivot& p : corpus().pivots.at(name)) {
    const std::string& param = p.column;
    const auto it = df.find(param);
    ASSERT_NE(it, df.end()) << param;
    const bool taken = it->second == 1;
    if (p.verdict == "either") {
      exact = taken == p.scriptTakes;
      if (!exact)
        break; // the reference took the other side: the pivots after it differ
      continue;
    }
    EXPECT_EQ(taken, p.verdict == "accept") << param;
  }
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
  ASSERT_NE(anova, nullptr);
  const double error = qrxrun::number(*anova, 1, "SS");
  const double total = qrxrun::number(*anova, 2, "SS");
  EXPECT_NEAR(predictedSse(output), error, 1e-8 * total);
  if (!exact)
    return;
  const Fit& fit = corpus().fits.at(name);
  EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), fit.rank - 1);
  EXPECT_NEAR(error, fit.sse, 1e-8 * total);
}

// Runs one step per case in a single qrx program, each with its OUTPUT data set.
struct Batch {
  std::string program;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> outputs;
  std::vector<std::string> names;
  void add(const std::string& name, const std::string& statements) {
    // Appended piece by piece: GCC 12's optimiser takes "text" + std::string for an
    // overlapping copy (-Wrestrict).
    const std::string n = std::to_string(names.size());
    std::string data = "d";
    data += n;
    program += "proc varsifter data=";
    program += data;
    program += ";\n";
    program += statements;
    program += "  output out=o";
    program += n;
    program += " p=p;\nrun;\n";
    files.emplace_back(data + ".csv", qrxrun::readFile(kDir + name + ".csv"));
    std::string out = "o";
    out += n;
    out += ".csv";
    outputs.push_back(std::move(out));
    names.push_back(name);
  }
};

} // namespace

TEST(PivotRank, NearlyDependentDesignsTakeTheSoundPivots) {
  for (const int cpus : {1, 8}) {
    Batch b;
    for (const auto& [name, pivots] : corpus().pivots)
      b.add(name, "  model y = c1-c" + std::to_string(pivots.size()) +
                      " / selection=none;\n  performance cpucount=" + std::to_string(cpus) + ";\n");
    const qrxrun::ProgramRun run = qrxrun::runProgram(b.program, "pivotrank", b.files, b.outputs);
    ASSERT_EQ(run.json["steps"].items.size(), b.names.size()) << run.log;
    for (size_t i = 0; i < b.names.size(); ++i)
      expectCase(b.names[i], run.json["steps"][i], run.files.at(b.outputs[i]));
  }
}

// Every selection over the products of twelve predictors ends at the least-squares fit of
// all 78 columns: FORWARD (also by CV over five folds, whose sweeps take the same rule, and
// by passes per step), LAR and LASSO with STOP=NONE, BACKWARD and STEPWISE with no effect
// leaving.
TEST(PivotRank, SelectionsOverProductsReachLeastSquares) {
  Batch b;
  for (const std::string method :
       {"forward(stop=none)", "forward(select=cv stop=none) cvmethod=split(5)",
        "backward(select=sl slstay=0.99999)", "stepwise(select=sl slentry=0.99999 slstay=0.99999)",
        "lar(stop=none)", "lasso(stop=none)"})
    b.add("products12", "  model y = c1-c78 / selection=" + method + ";\n");
  // The passes per step score the candidates from their stored cross products.
  b.add(
      "products12",
      "  model y = c1-c78 / selection=forward(stop=none);\n  performance buildsscp=incremental;\n");
  const qrxrun::ProgramRun run = qrxrun::runProgram(b.program, "pivotrankpr", b.files, b.outputs);
  ASSERT_EQ(run.json["steps"].items.size(), b.names.size()) << run.log;
  const Fit& fit = corpus().fits.at("products12");
  for (size_t i = 0; i < b.names.size(); ++i) {
    SCOPED_TRACE(i);
    const Value& step = run.json["steps"][i];
    const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
    ASSERT_NE(anova, nullptr) << run.log;
    const double total = qrxrun::number(*anova, 2, "SS");
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), 78);
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), fit.least, 1e-8 * total);
  }
}

// Many-level data sets on which a rule too lax takes a pivot that is only rounding (made by
// synthdata.h; the results in tests/data/pivotlax by scripts/gen_pivot_lax_ref.py on the same
// data), each fitted on 1 and 8 threads: the fit has the rank of the sound design and its
// least-squares error SS.
//  - levelindex: a covariate z that is the level's index plus noise far below rounding of
//    its cross products, forced in before FORWARD over 1,500 levels: z adds no rank.
//  - tinyweight: FORWARD over x1-x6 and 1,000 levels, the last level one row of weight
//    1e-4 (w), or 1e-5 (w5) on the packed triangle of every column (HIERARCHY=): that
//    level adds no rank after the intercept, and x1-x6 still enter.
TEST(PivotRank, RoundingPivotsOfManyLevelsAddNoRank) {
  struct Case {
    std::string name, data, statements;
  };
  const std::string forward = " g / selection=forward(select=adjrsq stop=none)";
  const std::vector<Case> cases{
      {"levelindex", "levelindex",
       "  model y = z x1 g / selection=forward(select=sbc stop=none) include=1;\n"},
      {"tinyweight", "tinyweight", "  weight w;\n  model y = x1-x6" + forward + ";\n"},
      {"tinyweight_w5", "tinyweight",
       "  weight w5;\n  model y = x1-x6" + forward + " hierarchy=single;\n"}};
  const std::string dir = std::string(QRX_TEST_DATA) + "/pivotlax/";
  std::map<std::string, std::vector<std::string>> expected; // rank, error SS, total SS
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "expected.csv")))
    expected[row[0]] = row;
  std::string program;
  std::vector<std::pair<std::string, std::string>> files;
  files.emplace_back("levelindex.csv", synthdata::levelIndexCsv());
  files.emplace_back("tinyweight.csv", synthdata::tinyWeightCsv());
  for (const Case& c : cases)
    for (const int cpus : {1, 8})
      program += "proc varsifter data=" + c.data + ";\n  class g;\n" + c.statements +
                 "  performance cpucount=" + std::to_string(cpus) + ";\nrun;\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(program, "pivotlax", files);
  ASSERT_EQ(run.json["steps"].items.size(), 2 * cases.size()) << run.log;
  for (size_t i = 0; i < run.json["steps"].items.size(); ++i) {
    const std::vector<std::string>& want = expected.at(cases[i / 2].name);
    SCOPED_TRACE(want[0] + (i % 2 == 0 ? " cpucount=1" : " cpucount=8"));
    const Value* anova = qrxrun::findTable(run.json["steps"][i]["output"], "ANOVA");
    ASSERT_NE(anova, nullptr) << run.log;
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stoi(want[1]) - 1);
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), std::stod(want[2]),
                1e-8 * qrxrun::number(*anova, 2, "SS"));
  }
}
