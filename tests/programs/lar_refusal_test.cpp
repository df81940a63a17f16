// LAR and LASSO over a near copy of one of Longley's columns, through qrx (tests/data/larrefusal
// from scripts/gen_lar_refusal_ref.py): the copy enters first and the rank rule refuses its
// original, so every step is that of scikit-learn's lars_path on the design without the
// original (the active set, the estimates, the error SS), and a path run to its end reaches the
// least-squares fit; the selected model's error SS is that of its estimates and of the OUTPUT
// predictions. On the packed X'X, the passes per step and the kept cross products, with and
// without cross validation's folds, on 1 and 8 threads.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/larrefusal/";

const std::vector<std::string> kColumns{"Deflator", "GNP",        "Unemployed",
                                        "Armed",    "Population", "Year"};

// The copies and the columns they stand for.
const std::map<std::string, std::string> kCopies{{"g6", "GNP"},        {"g7", "GNP"},
                                                 {"g8", "GNP"},        {"g9", "GNP"},
                                                 {"u6", "Unemployed"}, {"u9", "Unemployed"}};

// The columns of the path without the original, in the reference's order: the copy in its
// original's place.
std::vector<std::string> modelColumns(const std::string& copy) {
  std::vector<std::string> names = kColumns;
  for (std::string& n : names)
    if (n == kCopies.at(copy))
      n = copy;
  return names;
}

struct Knot {
  std::string active;
  double sse = 0, intercept = 0;
  std::vector<double> beta;
};

// lars_path's knots by case and method.
std::map<std::string, std::vector<Knot>> referencePaths() {
  std::map<std::string, std::vector<Knot>> r;
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "paths.csv"));
  for (size_t i = 1; i < rows.size(); ++i) {
    Knot k{rows[i][3], std::stod(rows[i][4]), std::stod(rows[i][5]), {}};
    for (size_t j = 6; j < rows[i].size(); ++j)
      k.beta.push_back(std::stod(rows[i][j]));
    r[rows[i][0] + ":" + rows[i][1]].push_back(k);
  }
  return r;
}

std::map<std::string, double> leastSquares() {
  std::map<std::string, double> r;
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "lstsq.csv"));
  for (size_t i = 1; i < rows.size(); ++i)
    r[rows[i][0]] = std::stod(rows[i][1]);
  return r;
}

// The data as columns by name.
std::map<std::string, std::vector<double>> dataColumns(const std::string& csv) {
  const auto rows = qrxrun::csvRows(csv);
  std::map<std::string, std::vector<double>> c;
  for (size_t i = 1; i < rows.size(); ++i)
    for (size_t j = 0; j < rows[0].size(); ++j)
      c[rows[0][j]].push_back(std::stod(rows[i][j]));
  return c;
}

// A parameter estimates table as estimates by parameter name.
std::map<std::string, double> estimates(const Value& pe) {
  std::map<std::string, double> b;
  for (size_t r = 0; r < pe["rows"].items.size(); ++r)
    b[qrxrun::text(pe, r, "Parameter")] = qrxrun::number(pe, r, "Estimate");
  return b;
}

// The error SS of estimates b on the data.
double estimatesSse(const std::map<std::string, double>& b,
                    const std::map<std::string, std::vector<double>>& data) {
  const std::vector<double>& y = data.at("Employed");
  double sse = 0;
  for (size_t i = 0; i < y.size(); ++i) {
    double fit = b.at("Intercept");
    for (const auto& [name, value] : b)
      if (name != "Intercept" && !std::isnan(value)) // a refused column shows no estimate
        fit += value * data.at(name)[i];
    sse += (y[i] - fit) * (y[i] - fit);
  }
  return sse;
}

// The error SS of the predictions p of Employed in an OUTPUT data set's text.
double predictionsSse(const std::string& text) {
  const auto rows = qrxrun::csvRows(text);
  const int y = qrxrun::headerColumn(rows[0], "Employed"), p = qrxrun::headerColumn(rows[0], "p");
  double sse = 0;
  for (size_t i = 1; i < rows.size(); ++i) {
    const double e = std::stod(rows[i][y]) - std::stod(rows[i][p]);
    sse += e * e;
  }
  return sse;
}

struct Fit {
  std::string copy, method, selection;
  bool path; // the whole path is checked against lars_path
};

// Checks that one fit's steps are lars_path's without the refused original, as far as the
// reference goes, and that a LAR path ends at the least-squares fit.
void expectReferencePath(const Fit& f, const Value& step) {
  static const auto paths = referencePaths();
  static const auto ls = leastSquares();
  std::vector<const Value*> anova, pe;
  qrxrun::collectTables(step["output"], "ANOVA", anova);
  qrxrun::collectTables(step["output"], "ParameterEstimates", pe);
  ASSERT_EQ(anova.size(), pe.size());
  const std::vector<Knot>& ref = paths.at(f.copy + ":" + f.method);
  // Every step, then the selected model.
  const size_t steps = anova.size() - 1;
  if (f.method == "lasso")
    EXPECT_EQ(steps, ref.size());
  else
    EXPECT_EQ(steps, kColumns.size() + 1);
  const std::vector<std::string> names = modelColumns(f.copy);
  for (size_t k = 0; k < std::min(steps, ref.size()); ++k) {
    SCOPED_TRACE("step " + std::to_string(k));
    EXPECT_NEAR(qrxrun::number(*anova[k], 1, "SS"), ref[k].sse, 1e-8 * ref[k].sse);
    const std::map<std::string, double> b = estimates(*pe[k]);
    std::string active;
    for (size_t j = 0; j < names.size(); ++j) {
      const auto it = b.find(names[j]);
      const double value = it == b.end() ? 0.0 : it->second;
      EXPECT_NEAR(value, ref[k].beta[j], 1e-8 * std::fabs(ref[k].beta[j])) << names[j];
      if (value != 0.0)
        active += (active.empty() ? "" : " ") + names[j];
    }
    EXPECT_EQ(active, ref[k].active);
    const auto original = b.find(kCopies.at(f.copy));
    EXPECT_TRUE(original == b.end() || !(original->second != 0.0)) << "the original entered";
    EXPECT_NEAR(b.at("Intercept"), ref[k].intercept, 1e-8 * std::fabs(ref[k].intercept));
  }
  if (f.method == "lar" && steps > 0) {
    EXPECT_NEAR(qrxrun::number(*anova[steps - 1], 1, "SS"), ls.at(f.copy), 1e-8 * ls.at(f.copy));
  }
}

// The selected model's error SS (its tables come last) is that of its estimates and of the
// OUTPUT predictions.
void expectOneFit(const Value& step, const std::string& output,
                  const std::map<std::string, std::vector<double>>& data) {
  std::vector<const Value*> anovas, pes;
  qrxrun::collectTables(step["output"], "ANOVA", anovas);
  qrxrun::collectTables(step["output"], "ParameterEstimates", pes);
  ASSERT_FALSE(anovas.empty());
  ASSERT_FALSE(pes.empty());
  const double error = qrxrun::number(*anovas.back(), 1, "SS");
  const double total = qrxrun::number(*anovas.back(), 2, "SS");
  EXPECT_NEAR(estimatesSse(estimates(*pes.back()), data), error, 1e-9 * total);
  EXPECT_NEAR(predictionsSse(output), error, 1e-9 * total);
}

// Appends a step that fits Employed on `model` by `selection` on the road `performance` names
// and `cpus` threads, its predictions written to the next output file.
void addStep(std::string& program, std::vector<std::string>& outputs, const std::string& data,
             const std::string& model, const std::string& selection, const std::string& performance,
             int cpus) {
  qrxrun::addOutputStep(program, outputs, data,
                        qrxrun::concat("  model Employed = ", model, " / selection=", selection,
                                       ";\n  performance ", performance,
                                       " cpucount=", std::to_string(cpus), ";\n"));
}

// Fits every case with LAR and LASSO to the path's end on 1 and 8 threads (also choosing by
// cross validation), and with their default stop and choice, with `performance` options
// added; checks every fit.
void expectSoundFits(const std::string& performance, const std::string& tag) {
  std::vector<Fit> fits;
  for (const auto& [copy, original] : kCopies)
    for (const std::string method : {"lar", "lasso"}) {
      fits.push_back({copy, method, method + "(stop=none)", true});
      // The folds' sums swept along the path.
      fits.push_back({copy, method, method + "(choose=cv stop=none) cvmethod=split(4)", true});
      fits.push_back({copy, method, method, false});
    }
  const std::string csv = qrxrun::readFile(kDir + "longley.csv");
  std::string program;
  std::vector<std::string> outputs;
  std::vector<const Fit*> order;
  for (const Fit& f : fits)
    for (const int cpus : {1, 8}) {
      if (!f.path && cpus == 8)
        continue;
      // The copy first, then the six columns with its original.
      std::string model = f.copy;
      for (const std::string& n : kColumns)
        model += " " + n;
      addStep(program, outputs, "longley", model, f.selection + " details=all", performance, cpus);
      order.push_back(&f);
    }
  const qrxrun::ProgramRun run = qrxrun::runProgram(program, tag, {{"longley.csv", csv}}, outputs);
  ASSERT_EQ(run.json["steps"].items.size(), outputs.size()) << run.log;
  const auto data = dataColumns(csv);
  for (size_t i = 0; i < order.size(); ++i) {
    const Fit& f = *order[i];
    SCOPED_TRACE(f.copy + " " + f.selection + " " + outputs[i]);
    const Value& step = run.json["steps"][i];
    EXPECT_EQ(step["returnCode"].n, 0);
    if (f.path)
      expectReferencePath(f, step);
    const auto file = run.files.find(outputs[i]);
    ASSERT_NE(file, run.files.end());
    expectOneFit(step, file->second, data);
  }
}

// Fits the random design with near copies (copies.csv) with LAR and LASSO to the path's end
// on each road and on 1 and 8 threads; checks that each selected model is one fit.
void expectWholeFits(const std::string& tag) {
  const std::string csv = qrxrun::readFile(kDir + "copies.csv");
  std::string program;
  std::vector<std::string> outputs;
  for (const std::string method : {"lar", "lasso"})
    for (const std::string road : {"", "buildsscp=incremental"})
      for (const int cpus : {1, 8}) {
        addStep(program, outputs, "copies", "c1 c0 x2 x1 c2 x0 x3 x4", method + "(stop=none)", road,
                cpus);
      }
  const qrxrun::ProgramRun run = qrxrun::runProgram(program, tag, {{"copies.csv", csv}}, outputs);
  ASSERT_EQ(run.json["steps"].items.size(), outputs.size()) << run.log;
  const auto data = dataColumns(csv);
  for (size_t i = 0; i < outputs.size(); ++i) {
    SCOPED_TRACE(outputs[i]);
    const auto file = run.files.find(outputs[i]);
    ASSERT_NE(file, run.files.end());
    expectOneFit(run.json["steps"][i], file->second, data);
  }
}

} // namespace

TEST(LarRefusal, PackedPathsAreThoseWithoutTheRefusedColumn) { expectSoundFits("", "larrefusal"); }

TEST(LarRefusal, PassesPerStepAndKeptCrossProductsAgree) {
  expectSoundFits("buildsscp=incremental", "larrefusalpg");
  ::setenv("QRX_TEST_HOOKS", "larCrossLimit=100000000", 1);
  expectSoundFits("buildsscp=incremental", "larrefusalkp");
  ::unsetenv("QRX_TEST_HOOKS");
}

// A candidate refused at its entry, after the step before it ended where the candidate caught
// up, leaves the step to move on from there; where that move is all the step does before the
// path's end, the step is that move, recorded with the estimates it left (the test hook
// larRefusalAhead sends every judgement to the entry, as for effects the path cannot judge
// ahead).
TEST(LarRefusal, AStepThatMovesPastARefusedEntryIsRecordedAsItsFit) {
  expectWholeFits("larwhole");
  ::setenv("QRX_TEST_HOOKS", "larRefusalAhead=0", 1);
  expectWholeFits("larwholeentry");
  ::setenv("QRX_TEST_HOOKS", "larRefusalAhead=0,larCrossLimit=100000000", 1);
  expectWholeFits("larwholekept");
  ::unsetenv("QRX_TEST_HOOKS");
}
