// Nearly dependent designs as a user writes them (polynomial and spline effects, splines of 64
// columns and more that enter by the blocked sweep, CLASS variables under PARAM=POLY, near copies
// of predictors, a many-level effect after dense columns with a tiny-weight last level), fitted
// through qrx under every selection method on 1 and 8 threads. The references
// (tests/data/pivotrank/user, made by scripts/gen_pivot_rank_ref.py) hold the exact pivots of
// each case's design columns, made from the definitions of the effects, in entry order with the
// verdict a sound rank rule must reach: accept when the pivot is at least 1e-7 of the column's
// corrected sum of squares and the double one within 1e-3 of it, refuse when below 1e-9 or the
// double one off by half, else either. Without selection every column's DF follows its verdict. The
// test also fits the columns each run took again in long double: no column is taken whose pivot
// against those taken before it is below 1e-9 of its diagonal, none with an accept verdict is
// refused while its pivot against the taken ones is at least 1e-7; the Model DF is the rank of what
// was taken, the error SS its least-squares minimum (unless a path stopped at its step limit), the
// SSE of the predictions and no more than the corrected total; 1 and 8 threads take the same
// columns. Each case's data and design columns are made here by pivotcorpus.h, bit for bit as the
// script draws them.
#include "programs/pivotcorpus.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/pivotrank/user/";

// The methods, each going on to the end of its path where it has one.
const std::vector<std::pair<std::string, std::string>> kMethods{
    {"none", "none"},
    {"forward", "forward(stop=none)"},
    {"backward", "backward"},
    {"stepwise", "stepwise"},
    {"lar", "lar(stop=none)"},
    {"lasso", "lasso(stop=none)"},
    {"cv", "forward(select=cv stop=none) cvmethod=split(5)"}};

struct Column {
  std::string name, verdict; // "accept", "refuse" or "either"
  double ratio = 0;          // exact pivot over the column's corrected sum of squares
  bool takes = false;        // the reference's side of an undecided pivot
};

struct Case {
  std::string name, statements, effects, weight, data;
  std::vector<Column> columns;
  // Design columns and the response less their weighted means, times the root weights.
  std::vector<std::vector<long double>> x;
  std::vector<long double> y;
  std::vector<long double> diag;
};

long double dot(const std::vector<long double>& a, const std::vector<long double>& b) {
  long double s = 0;
  for (size_t i = 0; i < a.size(); ++i)
    s += a[i] * b[i];
  return s;
}

std::vector<long double> centred(const std::vector<double>& v, const std::vector<double>& w) {
  long double sw = 0, s = 0;
  for (size_t i = 0; i < v.size(); ++i) {
    sw += w[i];
    s += w[i] * static_cast<long double>(v[i]);
  }
  std::vector<long double> out(v.size());
  for (size_t i = 0; i < v.size(); ++i)
    out[i] = (v[i] - s / sw) * std::sqrt(static_cast<long double>(w[i]));
  return out;
}

// Parameter names as the fit reports them, blanks, "_" and ":" read as one blank.
std::string normalName(const std::string& s) {
  std::string out;
  for (const char ch : s) {
    const bool gap = ch == ' ' || ch == '_' || ch == ':';
    if (gap && (out.empty() || out.back() == ' '))
      continue;
    out += gap ? ' ' : static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  while (!out.empty() && out.back() == ' ')
    out.pop_back();
  return out;
}

std::vector<double> numbers(const std::vector<std::vector<std::string>>& rows, size_t column) {
  std::vector<double> v;
  for (size_t r = 1; r < rows.size(); ++r)
    v.push_back(std::strtod(rows[r][column].c_str(), nullptr));
  return v;
}

Case loadCase(const std::vector<std::string>& fields) {
  Case c{fields[0], fields[1], fields[2], fields.size() > 3 ? fields[3] : "", {}, {}, {}, {}, {}};
  static const std::map<std::string, std::string> files = pivotcorpus::userFiles();
  c.data = files.at(c.name + ".csv");
  const auto data = qrxrun::csvRows(c.data);
  const auto design = qrxrun::csvRows(files.at(c.name + "_x.csv"));
  std::vector<double> w(data.size() - 1, 1.0);
  if (!c.weight.empty())
    w = numbers(data, static_cast<size_t>(qrxrun::headerColumn(data[0], c.weight)));
  c.y = centred(numbers(data, static_cast<size_t>(qrxrun::headerColumn(data[0], "y"))), w);
  for (size_t k = 0; k < design[0].size(); ++k) {
    c.x.push_back(centred(numbers(design, k), w));
    c.diag.push_back(dot(c.x.back(), c.x.back()));
  }
  return c;
}

const std::vector<Case>& corpus() {
  static const std::vector<Case> cases = [] {
    std::vector<Case> r;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "cases.csv"));
    for (size_t i = 1; i < rows.size(); ++i)
      r.push_back(loadCase(rows[i]));
    const auto pivots = qrxrun::csvRows(qrxrun::readFile(kDir + "pivots.csv"));
    for (size_t i = 1; i < pivots.size(); ++i) {
      const auto& p = pivots[i];
      const double exact = std::strtod(p[2].c_str(), nullptr);
      const double dbl = std::strtod(p[3].c_str(), nullptr);
      const bool takes = p[4] == "accept" || (p[4] == "either" && exact >= 1e-8 &&
                                              std::fabs(dbl - exact) <= 0.1 * exact);
      for (Case& c : r)
        if (c.name == p[0])
          c.columns.push_back({p[1], p[4], exact, takes});
    }
    return r;
  }();
  return cases;
}

// The columns a fit took, fitted again by modified Gram-Schmidt (two passes) in long double:
// each taken column's pivot over its diagonal against the taken columns before it, each
// refused one's against all taken, the rank of the taken columns (pivots of at least 1e-12
// of their diagonal) and their least-squares error SS.
struct Refit {
  std::vector<long double> ratios;
  int rank = 0;
  double sse = 0;
};

Refit refit(const Case& c, const std::vector<size_t>& taken, const std::vector<size_t>& refused) {
  std::vector<std::vector<long double>> basis;
  const auto residual = [&basis](std::vector<long double> v) {
    for (int pass = 0; pass < 2; ++pass)
      for (const auto& b : basis) {
        const long double s = dot(b, v);
        for (size_t i = 0; i < v.size(); ++i)
          v[i] -= s * b[i];
      }
    return v;
  };
  Refit f;
  for (const size_t k : taken) {
    std::vector<long double> v = residual(c.x[k]);
    const long double pivot = dot(v, v);
    f.ratios.push_back(c.diag[k] > 0 ? pivot / c.diag[k] : 0.0L);
    if (f.ratios.back() < 1e-12L)
      continue;
    ++f.rank;
    for (long double& e : v)
      e /= std::sqrt(pivot);
    basis.push_back(std::move(v));
  }
  for (const size_t k : refused) {
    const std::vector<long double> v = residual(c.x[k]);
    f.ratios.push_back(c.diag[k] > 0 ? dot(v, v) / c.diag[k] : 0.0L);
  }
  const std::vector<long double> r = residual(c.y);
  f.sse = static_cast<double>(dot(r, r));
  return f;
}

// In entry order (selection=none) each column against its verdict, up to the first undecided
// one the fit decided otherwise than the reference: the pivots after it differ.
void expectVerdicts(const Case& c, const std::map<std::string, int>& df) {
  for (const Column& col : c.columns) {
    const auto it = df.find(col.name);
    ASSERT_NE(it, df.end()) << col.name;
    const bool taken = it->second == 1;
    if (col.verdict == "either" && taken != col.takes)
      return;
    EXPECT_TRUE(col.verdict == "either" || taken == (col.verdict == "accept"))
        << col.name << ": exact pivot/diagonal " << col.ratio << ", verdict " << col.verdict
        << ", DF " << it->second;
  }
}

// Checks one fit; returns the DF of its parameters by name.
std::map<std::string, int> expectSoundFit(const Case& c, const std::string& method,
                                          const Value& step, const std::string& output) {
  std::map<std::string, int> df;
  EXPECT_EQ(step["returnCode"].n, 0);
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
  if (pe == nullptr || anova == nullptr) {
    ADD_FAILURE() << "no ParameterEstimates or ANOVA";
    return df;
  }
  for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r)
    df[normalName(qrxrun::text(*pe, r, "Parameter"))] =
        static_cast<int>(qrxrun::number(*pe, r, "DF"));
  std::vector<size_t> taken, refused;
  for (size_t k = 0; k < c.columns.size(); ++k)
    if (const auto it = df.find(c.columns[k].name); it != df.end())
      (it->second == 1 ? taken : refused).push_back(k);
  if (method == "none")
    expectVerdicts(c, df);
  const Refit f = refit(c, taken, refused);
  for (size_t i = 0; i < taken.size() + refused.size(); ++i) {
    const bool isTaken = i < taken.size();
    const Column& col = c.columns[isTaken ? taken[i] : refused[i - taken.size()]];
    EXPECT_FALSE(isTaken && f.ratios[i] < 1e-9L)
        << col.name << " taken with pivot/diagonal " << static_cast<double>(f.ratios[i]);
    EXPECT_FALSE(!isTaken && f.ratios[i] >= 1e-7L && col.verdict == "accept")
        << col.name << " refused with pivot/diagonal " << static_cast<double>(f.ratios[i]);
  }
  const double error = qrxrun::number(*anova, 1, "SS");
  const double total = qrxrun::number(*anova, 2, "SS");
  EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), f.rank);
  // A path cut short by its step limit ends at estimates that are not least squares.
  const Value* stop = qrxrun::findTable(step["output"], "StopReason");
  const bool cut = stop != nullptr &&
                   qrxrun::dumpOutput(*stop).find("maximum number of steps") != std::string::npos;
  EXPECT_TRUE(cut || std::fabs(error - f.sse) <= 1e-8 * total)
      << "error SS " << error << ", least squares on the columns taken " << f.sse;
  EXPECT_NEAR(error, qrxrun::predictedSse(output, c.weight), 1e-8 * total)
      << "the predictions' SSE";
  EXPECT_LE(error, total * (1 + 1e-10)) << "above the corrected total";
  return df;
}

// One step of a case under a selection option, reading d<n> and writing o<n>; appended
// piece by piece (GCC 12's optimiser takes "text" + std::string for an overlapping copy).
std::string stepText(const Case& c, const std::string& option, int cpus, const std::string& n) {
  std::string s = "proc varsifter data=d";
  s += n;
  s += ";\n";
  for (size_t a = 0, b = 0; a < c.statements.size(); a = b + 1) {
    b = std::min(c.statements.find('|', a), c.statements.size());
    s += "  ";
    s += c.statements.substr(a, b - a);
    s += ";\n";
  }
  s += "  model y = ";
  s += c.effects;
  s += " / selection=";
  s += option;
  s += ";\n  performance cpucount=";
  s += std::to_string(cpus);
  s += ";\n  output out=o";
  s += n;
  s += " p=p;\nrun;\n";
  return s;
}

// Every design of the corpus under each of `methods`, on one thread and on eight.
void expectSoundColumnsUnder(const std::vector<std::pair<std::string, std::string>>& methods) {
  std::map<std::string, std::map<std::string, int>> taken[2];
  for (const int cpus : {1, 8}) {
    std::string program;
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::string> outputs;
    for (const Case& c : corpus())
      for (const auto& method : methods) {
        const std::string n = std::to_string(outputs.size());
        program += stepText(c, method.second, cpus, n);
        std::string data = "d", out = "o";
        data += n;
        out += n;
        files.emplace_back(data + ".csv", c.data);
        outputs.push_back(out + ".csv");
      }
    const qrxrun::ProgramRun run = qrxrun::runProgram(program, "pivotuser", files, outputs);
    ASSERT_EQ(run.json["steps"].items.size(), outputs.size()) << run.log;
    size_t i = 0;
    for (const Case& c : corpus())
      for (const auto& method : methods) {
        const std::string fit = c.name + " " + method.first;
        SCOPED_TRACE(fit + " cpucount=" + std::to_string(cpus));
        const auto out = run.files.find(outputs[i]);
        const Value& step = run.json["steps"][i++];
        if (out == run.files.end()) {
          ADD_FAILURE() << "no OUTPUT data set";
          continue;
        }
        taken[cpus == 1 ? 0 : 1][fit] = expectSoundFit(c, method.first, step, out->second);
      }
  }
  for (const auto& [fit, df] : taken[0])
    EXPECT_EQ(df, taken[1][fit]) << fit << ": 1 and 8 threads take different columns";
}

} // namespace

// A test per method, so that each stays short on a loaded machine.
class PivotRankMethod : public ::testing::TestWithParam<size_t> {};

TEST_P(PivotRankMethod, DesignsAsWrittenTakeTheSoundColumns) {
  expectSoundColumnsUnder({kMethods[GetParam()]});
}

INSTANTIATE_TEST_SUITE_P(PivotRank, PivotRankMethod, ::testing::Range(size_t{0}, kMethods.size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                           return kMethods[info.param].first;
                         });
