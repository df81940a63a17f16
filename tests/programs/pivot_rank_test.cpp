// The rank the sweep decides, through qrx, against exact pivots (tests/data/pivotrank, made by
// scripts/gen_pivot_rank_ref.py on the designs that pivotcorpus.h makes here bit for bit as the
// script draws them): nearly dependent designs take every column whose pivot
// is sound and refuse every column whose pivot rounding can account for; the error SS is
// the least-squares minimum on the columns taken and the fit of the predictions written.
#include "programs/pivotcorpus.h"
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <map>
#include <ostream>
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
  const std::string header = text.substr(0, text.find('\n'));
  const bool weighted = (',' + header + ',').find(",w,") != std::string::npos;
  return qrxrun::predictedSse(text, weighted ? "w" : "");
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

// The data text of a case of the corpus.
const std::string& caseData(const std::string& name) {
  static const std::map<std::string, std::string> data = pivotcorpus::cases();
  return data.at(name);
}

// Runs one step per case in a single qrx program, each with its OUTPUT data set.
struct Batch {
  std::string program;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> outputs;
  std::vector<std::string> names;
  void add(const std::string& name, const std::string& statements) {
    const std::string data = qrxrun::concat("d", std::to_string(names.size()));
    qrxrun::addOutputStep(program, outputs, data, statements);
    files.emplace_back(data + ".csv", caseData(name));
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
namespace {

struct ManyLevelCase {
  std::string name, data, statements;
};

void PrintTo(const ManyLevelCase& c, std::ostream* os) { *os << c.name; }

class RoundingPivots : public ::testing::TestWithParam<ManyLevelCase> {};

const std::string kForwardAdjRsq = " g / selection=forward(select=adjrsq stop=none)";

} // namespace

// Each case on its own, so that the three long fits run side by side.
TEST_P(RoundingPivots, OfManyLevelsAddNoRank) {
  const ManyLevelCase& c = GetParam();
  const std::string dir = std::string(QRX_TEST_DATA) + "/pivotlax/";
  std::map<std::string, std::vector<std::string>> expected; // rank, error SS, total SS
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "expected.csv")))
    expected[row[0]] = row;
  const std::vector<std::string>& want = expected.at(c.name);
  std::string program;
  for (const int cpus : {1, 8})
    program += "proc varsifter data=" + c.data + ";\n  class g;\n" + c.statements +
               "  performance cpucount=" + std::to_string(cpus) + ";\nrun;\n";
  const std::string csv =
      c.data == "levelindex" ? synthdata::levelIndexCsv() : synthdata::tinyWeightCsv();
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "pivotlax" + c.name, {{c.data + ".csv", csv}});
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(want[0] + (i == 0 ? " cpucount=1" : " cpucount=8"));
    const Value* anova = qrxrun::findTable(run.json["steps"][i]["output"], "ANOVA");
    ASSERT_NE(anova, nullptr) << run.log;
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stoi(want[1]) - 1);
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), std::stod(want[2]),
                1e-8 * qrxrun::number(*anova, 2, "SS"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    PivotRank, RoundingPivots,
    ::testing::Values(
        ManyLevelCase{"levelindex", "levelindex",
                      "  model y = z x1 g / selection=forward(select=sbc stop=none) include=1;\n"},
        ManyLevelCase{"tinyweight", "tinyweight",
                      "  weight w;\n  model y = x1-x6" + kForwardAdjRsq + ";\n"},
        ManyLevelCase{"tinyweight_w5", "tinyweight",
                      "  weight w5;\n  model y = x1-x6" + kForwardAdjRsq + " hierarchy=single;\n"}),
    [](const ::testing::TestParamInfo<ManyLevelCase>& info) { return info.param.name; });

// A constant column under weights (synthdata.h constantWeightCsv, the references in
// tests/data/constweight by scripts/gen_constant_weight_ref.py on the same data): its sums
// about the weighted mean are the rounding of the centring alone, which the rule counts on
// every road, so c0 adds no rank: without selection, by passes per step, by folds over the
// kept X'X and over passes, on the least-angle paths, by removal, in BY groups, and beside a
// many-level effect under the effect coding (its own road and the packed triangle), each on
// 1 and 8 threads. Every fit has the rank and the least-squares error SS of the sound design.
TEST(PivotRank, ConstantColumnUnderWeightsAddsNoRank) {
  struct Case {
    std::vector<std::string> expected; // one reference per BY group
    std::string statements, performance;
  };
  const std::string dense = "  weight w;\n  model y = x1 x2 x3 c0 / selection=";
  const std::string levels =
      "  class g / param=effect;\n  weight w;\n  model y = x1 x2 x3 c0 g / selection=";
  const std::string incremental = " buildsscp=incremental";
  const std::string cv = "forward(select=cv stop=none) cvmethod=split(5);\n";
  const std::vector<Case> cases{{{"dense"}, dense + "none;\n", ""},
                                {{"dense"}, dense + "forward(stop=none);\n", incremental},
                                {{"dense"}, dense + cv, ""},
                                {{"dense"}, dense + cv, incremental},
                                {{"dense"}, dense + "lar(stop=none);\n", ""},
                                {{"dense"}, dense + "lasso(stop=none);\n", ""},
                                {{"dense"}, dense + "backward;\n", ""},
                                {{"dense_by1", "dense_by2"}, "  by b;\n" + dense + "none;\n", ""},
                                {{"levels"}, levels + "forward(stop=none);\n", ""},
                                {{"levels"}, levels + "none;\n", ""}};
  std::map<std::string, std::vector<std::string>> expected; // rank, error SS, total SS
  for (const auto& row :
       qrxrun::csvRows(qrxrun::readFile(std::string(QRX_TEST_DATA) + "/constweight/expected.csv")))
    expected[row[0]] = row;
  std::string program;
  for (const Case& c : cases)
    for (const int cpus : {1, 8})
      program += "proc varsifter data=cw;\n" + c.statements +
                 "  performance cpucount=" + std::to_string(cpus) + c.performance + ";\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "constweight", {{"cw.csv", synthdata::constantWeightCsv()}});
  ASSERT_EQ(run.json["steps"].items.size(), 2 * cases.size()) << run.log;
  for (size_t i = 0; i < run.json["steps"].items.size(); ++i) {
    const Case& c = cases[i / 2];
    const Value& step = run.json["steps"][i];
    for (size_t g = 0; g < c.expected.size(); ++g) {
      const std::vector<std::string>& want = expected.at(c.expected[g]);
      SCOPED_TRACE(c.statements + c.performance + (i % 2 == 0 ? " cpucount=1 " : " cpucount=8 ") +
                   want[0]);
      const Value* anova = qrxrun::findTable(step["output"], "ANOVA", static_cast<int>(g));
      const Value* pe =
          qrxrun::findTable(step["output"], "ParameterEstimates", static_cast<int>(g));
      ASSERT_NE(anova, nullptr) << run.log;
      ASSERT_NE(pe, nullptr) << run.log;
      EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stoi(want[1]) - 1);
      EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), std::stod(want[2]), 1e-8 * std::stod(want[3]));
      for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r)
        if (qrxrun::text(*pe, r, "Parameter") == "c0") {
          EXPECT_EQ(qrxrun::number(*pe, r, "DF"), 0);
        }
    }
  }
}

namespace {

// The rank of columns x and the least-squares error SS of y on them: Householder QR with
// column pivoting in long double on the columns scaled to unit length, the rank ending at the
// first pivot below 1e-10 of the first.
std::pair<int, double> rankAndSse(std::vector<std::vector<long double>> x,
                                  std::vector<long double> y) {
  const size_t n = y.size();
  for (auto& c : x) {
    long double s = 0;
    for (const long double v : c)
      s += v * v;
    for (long double& v : c)
      v /= s > 0 ? std::sqrt(s) : 1;
  }
  size_t rank = 0;
  long double first = 0;
  for (; rank < x.size() && rank < n; ++rank) {
    const size_t k = rank;
    std::vector<long double> norm(x.size(), 0);
    for (size_t j = k; j < x.size(); ++j)
      for (size_t i = k; i < n; ++i)
        norm[j] += x[j][i] * x[j][i];
    const size_t best =
        static_cast<size_t>(std::max_element(norm.begin() + k, norm.end()) - norm.begin());
    std::swap(x[k], x[best]);
    const long double length = std::sqrt(norm[best]);
    first = k == 0 ? length : first;
    if (!(length > 1e-10L * first))
      break;
    std::vector<long double> v(x[k].begin() + k, x[k].end());
    v[0] += v[0] < 0 ? -length : length;
    long double vv = 0;
    for (const long double a : v)
      vv += a * a;
    const auto reflect = [&](std::vector<long double>& c) {
      long double d = 0;
      for (size_t i = 0; i < v.size(); ++i)
        d += v[i] * c[k + i];
      for (size_t i = 0; i < v.size(); ++i)
        c[k + i] -= 2 * d / vv * v[i];
    };
    for (size_t j = k; j < x.size(); ++j)
      reflect(x[j]);
    reflect(y);
  }
  long double sse = 0;
  for (size_t i = rank; i < n; ++i)
    sse += y[i] * y[i];
  return {static_cast<int>(rank), static_cast<double>(sse)};
}

// The design columns (OUTDESIGN) of the parameters that a fit's estimates give DF 1, with y.
std::pair<std::vector<std::vector<long double>>, std::vector<long double>>
keptColumns(const Value& step, const std::string& design) {
  const auto rows = qrxrun::csvRows(design);
  std::vector<std::vector<long double>> x;
  for (const auto& [name, df] : parameterDf(step)) {
    if (df == 0)
      continue;
    std::string column = name; // "S 3" and "S:3" are S_3, "x^2" is x_2
    for (char& c : column)
      c = c == ' ' || c == ':' || c == '^' ? '_' : c;
    const int c = qrxrun::headerColumn(rows[0], column); // a failure when missing
    if (c < 0)
      continue;
    x.emplace_back();
    for (size_t i = 1; i < rows.size(); ++i)
      x.back().push_back(std::stold(rows[i][static_cast<size_t>(c)]));
  }
  std::vector<long double> y;
  const int yc = qrxrun::headerColumn(rows[0], "y");
  for (size_t i = 1; i < rows.size(); ++i)
    y.push_back(std::stold(rows[i][static_cast<size_t>(yc)]));
  return {x, y};
}

} // namespace

// Removals from nearly dependent bases of x (tests/data/removalrank, made by
// scripts/gen_removal_rank_data.py), on 1 and 8 threads: after BACKWARD and STEPWISE have
// taken columns out (and put back the last one when the stop rule undid its removal), the
// ANOVA's Model DF is the rank of the columns the estimates keep, and its error SS their
// least-squares error SS, the SSE of the predictions written, and at most the corrected
// total. Reverse sweeps of columns nearly dependent on the rest left rounding in the swept
// matrix, and a column put back last could fail the pivot rule it had passed at its place.
TEST(PivotRank, RemovalsKeepTheRankOfTheColumnsThatStay) {
  const std::string tp = "  effect s = spline(x / basis=tpf degree=30 knotmethod=";
  const std::vector<std::vector<std::string>> cases{
      {"tp317", tp + "equal(7) split);\n", "backward"},
      {"tp512", tp + "equal(3) split);\n", "backward(select=sl)"},
      {"tp515", tp + "percentiles(9) split);\n", "backward"},
      {"tp511", tp + "percentiles(9));\n", "stepwise(select=sl)"},
      {"poly516", "  effect s = polynomial(x / degree=10);\n", "backward"},
      // A removal whose reverse sweeps would lose accuracy rebuilds the swept matrix, and a
      // column put back that no longer passes at the end sweeps the model again in order.
      {"tp112", tp + "percentiles(9));\n", "backward(select=sl)"},
      {"tp112", tp + "equal(7) split);\n", "backward"}};
  const std::string dir = std::string(QRX_TEST_DATA) + "/removalrank/";
  std::string program;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> back;
  for (const auto& c : cases) {
    files.emplace_back(c[0] + ".csv", qrxrun::readFile(dir + c[0] + ".csv"));
    for (const int cpus : {1, 8}) {
      const std::string n = std::to_string(back.size() / 2);
      program += "proc varsifter data=" + c[0] + " outdesign(fullmodel)=d" + n + ";\n" + c[1] +
                 "  model y = s z / selection=" + c[2] +
                 ";\n  performance cpucount=" + std::to_string(cpus) + ";\n  output out=o" + n +
                 " p=p;\nrun;\n";
      back.push_back("d" + n + ".csv");
      back.push_back("o" + n + ".csv");
    }
  }
  const qrxrun::ProgramRun run = qrxrun::runProgram(program, "removalrank", files, back);
  ASSERT_EQ(run.json["steps"].items.size(), back.size() / 2) << run.log;
  for (size_t i = 0; i < back.size() / 2; ++i) {
    SCOPED_TRACE(cases[i / 2][0] + (i % 2 == 0 ? " cpucount=1" : " cpucount=8"));
    const Value& step = run.json["steps"][i];
    ASSERT_EQ(step["returnCode"].n, 0);
    const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
    ASSERT_NE(anova, nullptr) << run.log;
    const double error = qrxrun::number(*anova, 1, "SS");
    const double total = qrxrun::number(*anova, 2, "SS");
    const auto [x, y] = keptColumns(step, run.files.at(back[2 * i]));
    const auto [rank, sse] = rankAndSse(x, y);
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), rank - 1);
    EXPECT_NEAR(error, sse, 1e-8 * total);
    EXPECT_NEAR(error, predictedSse(run.files.at(back[2 * i + 1])), 1e-8 * total);
    EXPECT_LE(error, total * (1 + 1e-12));
  }
}

// Pivots the rule refuses only within its rounding band, judged again from the rows
// (tests/data/rankrows, made by scripts/gen_rank_rows_ref.py with exact pivots and fits),
// on 1 and 8 threads: raw polynomial codings of two CLASS effects as columns fitted without
// an intercept, whose levels at 1.8e-7 to 3.7e-7 of their diagonals lie in the swept sums'
// band. Every column of pivot 1e-7 of its diagonal or more is taken and every one below
// 1e-9 refused, up to the first column of the band between where the fit took the other
// side; then the rank and the error SS are the exact fit's (the predictions' too), and
// both thread counts give the same error SS to the bit.
TEST(PivotRank, DoubtfulPivotsAreJudgedFromTheRows) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/rankrows/";
  std::vector<std::vector<std::string>> pivots;
  const auto rows = qrxrun::csvRows(qrxrun::readFile(dir + "pivots.csv"));
  for (size_t i = 1; i < rows.size(); ++i)
    pivots.push_back(rows[i]);
  const auto fit = qrxrun::csvRows(qrxrun::readFile(dir + "fits.csv")).at(1);
  std::string program;
  std::vector<std::string> outputs;
  for (const int cpus : {1, 8}) {
    std::string out = "o";
    out += std::to_string(cpus);
    program += "proc varsifter data=noint;\n  model y = c1-c46 / selection=none noint;\n";
    program += "  performance cpucount=" + std::to_string(cpus) + ";\n  output out=";
    program += out;
    program += " p=p;\nrun;\n";
    outputs.push_back(out + ".csv");
  }
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      program, "rankrows", {{"noint.csv", qrxrun::readFile(dir + "noint.csv")}}, outputs);
  ASSERT_EQ(run.json["steps"].items.size(), outputs.size()) << run.log;
  std::vector<double> errors;
  for (size_t i = 0; i < outputs.size(); ++i) {
    SCOPED_TRACE(outputs[i]);
    const Value& step = run.json["steps"][i];
    ASSERT_EQ(step["returnCode"].n, 0);
    const std::map<std::string, int> df = parameterDf(step);
    bool exact = true;
    for (const auto& p : pivots) {
      const auto it = df.find(p[1]);
      ASSERT_NE(it, df.end()) << p[1];
      const bool taken = it->second == 1;
      if (p[3] == "either") {
        exact = taken == (std::stod(p[2]) >= 1e-8);
        if (!exact)
          break;
        continue;
      }
      EXPECT_EQ(taken, p[3] == "accept") << p[1] << " at " << p[2] << " of its diagonal";
    }
    const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
    ASSERT_NE(anova, nullptr);
    const double error = qrxrun::number(*anova, 1, "SS");
    const double total = qrxrun::number(*anova, 2, "SS");
    errors.push_back(error);
    EXPECT_NEAR(predictedSse(run.files.at(outputs[i])), error, 1e-8 * total);
    if (!exact)
      continue;
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stoi(fit[1]));
    EXPECT_NEAR(error, std::stod(fit[2]), 1e-8 * total);
  }
  EXPECT_EQ(errors[0], errors[1]);
}
