// STORE and CODE end to end through the qrx runner: the scoring code that CODE writes is
// run with /usr/bin/python3 over the data set (scripts/run_scoring_code.py) and must give
// OUTPUT's predictions for GLM, REFERENCE and EFFECT codings, crossings, nesting, split
// effects, numeric CLASS variables and rows that cannot be predicted; the item store holds
// the ParameterEstimates table's estimates and the CLASS levels, a split CLASS effect once;
// constructed effects (splines, polynomials, collections) are reproduced; a failing check of the
// post-fit module ends the step with 1012; BY groups get their own models; what the code cannot
// reproduce (LAG effects, BY groups with the same values twice) is refused. The item store's
// covariance gives ParameterEstimates' standard errors, and split CLASS effects keep
// parameter names with their levels. Under model averaging (with and without REFIT) the
// averaged model is what OUTPUT, SCORE, the item store and the scoring code predict with,
// handed over once. SCORE and the code cut blank-led CLASS values to the level width alike.
#include "../host/minijson.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using qrxrun::csvRows;
using qrxrun::logged;
using qrxrun::readFile;
using qrxrun::runProgram;
using qrxrun::tablesOf;
using qrxrun::Value;

const std::string kDataDir = std::string(QRX_SOURCE_DIR) + "/tests/data/outdesign/";

// A directory of the test's own for the scoring code and the data handed to Python.
struct TempDir {
  fs::path path;
  explicit TempDir(const std::string& tag)
      : path(fs::temp_directory_path() /
             ("qrx_scoring_" + tag + "_" + std::to_string(long(::getpid())))) {
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string file(const std::string& name) const { return (path / name).string(); }
};

// The data of the outdesign tests with a numeric CLASS variable n whose values need the
// BEST12. text (0.1, 1e-05, 123456789012345, 2.5), a missing x1 and a missing c.
std::string dataWithNumericClass() {
  const auto rows = csvRows(readFile(kDataDir + "data.csv"));
  const char* levels[] = {"0.1", "1e-05", "123456789012345", "2.5"};
  std::string out = "y,x1,x2,c,d,n\n";
  for (size_t i = 1; i < rows.size(); ++i) {
    std::vector<std::string> r = rows[i];
    if (i == 6)
      r[1] = "";
    if (i == 8)
      r[3] = "";
    out += r[0] + "," + r[1] + "," + r[2] + "," + r[3] + "," + r[4] + "," + levels[i % 4] + "\n";
  }
  return out;
}

// The predictions of the scoring code over a CSV text, one per row ("" for None).
std::vector<std::string> pythonPredictions(const TempDir& dir, const std::string& code,
                                           const std::string& data) {
  std::ofstream(dir.file("data.csv"), std::ios::binary) << data;
  std::string log;
  const std::string cmd = "/usr/bin/python3 '" + std::string(QRX_SOURCE_DIR) +
                          "/scripts/run_scoring_code.py' '" + code + "' '" + dir.file("data.csv") +
                          "' 2>&1";
  EXPECT_EQ(qrxrun::runCommand(cmd, &log), 0) << log;
  std::vector<std::string> lines;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// OUTPUT's predictions against the scoring code's, row by row: both missing or equal to
// 1e-12. Returns the number of rows predicted.
int comparePredictions(const std::string& output, const std::vector<std::string>& python,
                       const std::string& what) {
  const auto rows = csvRows(output);
  const int p = qrxrun::headerColumn(rows[0], "PRED");
  EXPECT_EQ(python.size() + 1, rows.size()) << what;
  int predicted = 0;
  for (size_t i = 1; i < rows.size() && i - 1 < python.size(); ++i) {
    const std::string& ours = rows[i][size_t(p)];
    const std::string& theirs = python[i - 1];
    EXPECT_EQ(ours.empty(), theirs.empty()) << what << " row " << i << ": " << theirs;
    if (ours.empty() || theirs.empty())
      continue;
    ++predicted;
    EXPECT_NEAR(std::stod(theirs), std::stod(ours), 1e-12) << what << " row " << i;
  }
  return predicted;
}

// Runs "proc varsifter data=<name>; <body> output ...; code ...; run;" on the data set and
// checks that the scoring code predicts as OUTPUT does, in `predicted` rows.
void expectCodeMatchesOutput(const TempDir& dir, const std::string& name, const std::string& data,
                             const std::string& body, int predicted) {
  const std::string code = dir.file("score.py");
  fs::remove(code);
  const auto run = runProgram("proc varsifter data=" + name + ";\n" + body +
                                  "  output out=o p=pred;\n  code file='" + code + "';\nrun;\n",
                              "postfit_" + name, {{name + ".csv", data}}, {"o.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << body << "\n" << run.log;
  EXPECT_TRUE(logged(run, qrxhost::AuxMsg::CodeWritten)) << body;
  ASSERT_TRUE(fs::exists(code)) << body;
  const auto python = pythonPredictions(dir, code, data);
  EXPECT_EQ(comparePredictions(run.files.at("o.csv"), python, body), predicted) << body;
}

TEST(PostFit, ScoringCodeReproducesOutputAcrossCodings) {
  const std::string data = readFile(kDataDir + "data.csv");
  TempDir dir("codings");
  struct Case {
    std::string classes, model, select;
  };
  const std::vector<Case> cases = {
      {"c d / param=glm", "x1 c d c*d x1*d x2(c)", "none"},
      {"c d / param=ref", "x1 c d c*d x1*d x2(c)", "none"},
      {"c d / param=effect", "x1 c d c*d x1*d x2(c)", "none"},
      {"c(split) d / param=ref", "x1 c c*d x1*d x2(c)", "forward(select=sl sle=0.5)"},
      {"c d / param=orthpoly", "x1 c*d x2(c)", "stepwise(select=sbc)"},
  };
  for (const Case& c : cases)
    expectCodeMatchesOutput(dir, "d", data,
                            "  class " + c.classes + ";\n  model y = " + c.model +
                                " / selection=" + c.select + ";\n",
                            36);
}

TEST(PostFit, ScoringCodeReproducesConstructedEffects) {
  const std::string data = readFile(kDataDir + "data.csv");
  TempDir dir("constructed");
  // B-spline and truncated-power bases (natural, NOINT), standardised polynomials,
  // collections, split splines, constructed effects crossed with and nested in CLASS
  // variables and continuous ones.
  const std::vector<std::string> programs = {
      "  class c d;\n  effect s = spline(x1 / knotmethod=equal(3));\n"
      "  model y = s x2 c*d / selection=none;\n",
      "  class c d / param=ref;\n  effect s = spline(x1 x2 / knotmethod=equal(3) basis=tpf);\n"
      "  model y = s c / selection=none;\n",
      "  class c d / param=effect;\n  effect p = polynomial(x1 x2 / degree=3 "
      "standardize(method=moments)=centerscale);\n  model y = p c / selection=none;\n",
      "  class c d;\n  effect k = collection(x1 c);\n"
      "  effect s = spline(x2 / knotmethod=equal(2) split);\n"
      "  model y = k s c*x1 / selection=stepwise(select=sl);\n",
      "  class c d / param=ref;\n"
      "  effect s = spline(x1 / knotmethod=equal(3) basis=tpf(noint) natural);\n"
      "  effect p = polynomial(x2 / degree=2);\n  model y = s*c x1*p p*d / selection=none;\n",
      "  class c d;\n  effect s = spline(x1 / knotmethod=equal(3) degree=2);\n"
      "  effect p = polynomial(x2 x1 / degree=2 standardize=center);\n"
      "  model y = s*c p(d) / selection=none;\n",
  };
  for (const std::string& body : programs)
    expectCodeMatchesOutput(dir, "d", data, body, 36);
}

// The outdesign data with two CLASS variables a and b over shared levels (some missing,
// one row with both missing), member weights w1 and w2 and a noise variable z with one
// missing value.
std::string dataWithMembers() {
  const auto rows = csvRows(readFile(kDataDir + "data.csv"));
  const char* levels[] = {"A", "B", "C", "P"};
  std::string out = "y,x1,x2,c,a,b,w1,w2,z\n";
  for (size_t i = 1; i < rows.size(); ++i) {
    const std::string a = i == 4 || i == 9 ? "" : levels[i % 4];
    const std::string b = i == 9 ? "" : levels[(3 * i + 1) % 4];
    out += rows[i][0] + "," + rows[i][1] + "," + rows[i][2] + "," + rows[i][3] + "," + a + "," + b +
           "," + std::to_string(1 + i % 3) + "," + std::to_string(i % 2) + "," +
           (i == 5 ? "" : std::to_string(0.37 * double(i % 7))) + "\n";
  }
  return out;
}

TEST(PostFit, ScoringCodeReproducesMultimemberEffectsAndSkipsRowsAsOutputDoes) {
  const std::string data = dataWithMembers();
  TempDir dir("members");
  // Multimember effects with and without weights, STDIZE and NOEFFECT (a row with no
  // member); then a design with a spline in which the unselected z is missing in one row:
  // with constructed effects in the design such a row is not predicted.
  const std::vector<std::pair<std::string, int>> programs = {
      {"  class c a b;\n  effect m = mm(a b);\n  model y = m*x1 c m / selection=none;\n", 35},
      {"  class c a b;\n  effect m = mm(a b / noeffect);\n  model y = m x1 / selection=none;\n",
       36},
      // Row 4 has only b, whose weight w2 is 0: no weight to divide by.
      {"  class c a b;\n  effect m = mm(a b / weight=(w1 w2) stdize);\n"
       "  model y = m x1 c / selection=none;\n",
       34},
      {"  class c;\n  effect s = spline(x1 / knotmethod=equal(2));\n"
       "  model y = s c z / selection=forward(select=sl sle=0.01);\n",
       35},
  };
  for (const auto& [body, predicted] : programs)
    expectCodeMatchesOutput(dir, "g", data, body, predicted);
}

TEST(PostFit, ScoringCodeFormsNumericLevelsAndSkipsRowsAsOutputDoes) {
  const std::string data = dataWithNumericClass();
  TempDir dir("levels");
  const std::string code = dir.file("score.py");
  for (const std::string coding : {"glm", "effect"}) {
    fs::remove(code);
    const auto run = runProgram("proc varsifter data=e;\n  class c d n / param=" + coding +
                                    ";\n  model y = x1 c n c*n x2(d) / selection=none;\n"
                                    "  output out=o p=pred;\n  code file='" +
                                    code + "';\nrun;\n",
                                "postfit_levels", {{"e.csv", data}}, {"o.csv"});
    ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
    const auto python = pythonPredictions(dir, code, data);
    // Two rows cannot be predicted (a missing x1, a missing c).
    EXPECT_EQ(comparePredictions(run.files.at("o.csv"), python, coding), 34);
    // New data: an unseen level, levels written differently.
    const std::string fresh = "y,x1,x2,c,d,n\n1,0.5,1,A,P,3\n1,0.5,1,A,P,0.10\n"
                              "1,0.5,1,A,P,1e-1\n1,0.5,1,A,P,0.1\n";
    const auto scored = pythonPredictions(dir, code, fresh);
    ASSERT_EQ(scored.size(), 4u);
    EXPECT_EQ(scored[0], "") << "3 is no level of n";
    EXPECT_NE(scored[3], "");
    EXPECT_EQ(scored[1], scored[3]) << "0.10 is the level 0.1";
    EXPECT_EQ(scored[2], scored[3]) << "1e-1 is the level 0.1";
  }
}

// A CLASS value is cut to the level width before its leading blanks go, in SCORE and in the
// scoring code alike: "  alpha" (7 characters, width 5) is no level, " beta" is beta.
TEST(PostFit, ScoreAndCodeCutBlankLedValuesAlike) {
  TempDir dir("blankled");
  const std::string code = dir.file("score.py");
  std::string data = "y,x1,g\n";
  for (int i = 0; i < 12; ++i)
    data += std::to_string(1 + i % 3 + 0.1 * i) + "," + std::to_string(i) + "," +
            (i % 2 ? "alpha" : "beta") + "\n";
  const std::string fresh = "y,x1,g\n1,2,\"  alpha\"\n1,2,alpha\n1,2,\" beta\"\n";
  const auto run = runProgram("proc varsifter data=e;\n  class g;\n"
                              "  model y = x1 g / selection=none;\n"
                              "  score data=s out=so predicted=pred;\n  code file='" +
                                  code + "';\nrun;\n",
                              "postfit_blankled", {{"e.csv", data}, {"s.csv", fresh}}, {"so.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 4) << run.log; // the value longer than the width warns
  const auto python = pythonPredictions(dir, code, fresh);
  ASSERT_EQ(python.size(), 3u);
  EXPECT_EQ(python[0], "");
  EXPECT_NE(python[1], "");
  EXPECT_NE(python[2], "");
  EXPECT_EQ(comparePredictions(run.files.at("so.csv"), python, "score"), 2);
}

TEST(PostFit, ItemStoreHoldsTheSelectedModel) {
  const std::string data = readFile(kDataDir + "data.csv");
  const auto run = runProgram("proc varsifter data=d;\n  class c d / param=ref ref=first;\n"
                              "  model y = x1 c x1*d x2(c) / selection=none;\n"
                              "  store out=mystore;\nrun;\n",
                              "postfit_store", {{"d.csv", data}}, {"mystore.json"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  EXPECT_TRUE(logged(run, qrxhost::AuxMsg::StoreWritten));
  ASSERT_EQ(run.files.count("mystore.json"), 1u);
  Value store;
  std::string error;
  ASSERT_TRUE(minijson::Parser(run.files.at("mystore.json")).parse(&store, &error)) << error;
  EXPECT_EQ(store["response"].s, "y");
  ASSERT_EQ(store["groups"].items.size(), 1u);
  const Value& g = store["groups"].items[0];
  // CLASS levels, coding and reference level.
  ASSERT_EQ(g["classes"].items.size(), 2u);
  const Value& c = g["classes"].items[0];
  EXPECT_EQ(c["name"].s, "c");
  EXPECT_EQ(c["coding"].s, "REFERENCE");
  ASSERT_EQ(c["levels"].items.size(), 3u);
  EXPECT_EQ(c["levels"].items[2].s, "C");
  EXPECT_EQ(c["reference"].s, "A");
  // The parameters are the ParameterEstimates table's rows with their estimates.
  const auto pe = tablesOf(run, "ParameterEstimates");
  ASSERT_EQ(pe.size(), 1u);
  const Value& t = *pe[0];
  const auto& parms = g["parameters"].items;
  ASSERT_EQ(parms.size(), t["rows"].items.size());
  for (size_t i = 0; i < parms.size(); ++i)
    EXPECT_DOUBLE_EQ(parms[i]["estimate"].n, qrxrun::number(t, i, "Estimate")) << i;
  EXPECT_EQ(parms[0]["effect"].s, "Intercept");
  EXPECT_EQ(g["effects"].items.size(), 5u);
  // The error variance is the ANOVA table's error mean square.
  const auto anova = tablesOf(run, "ANOVA");
  ASSERT_EQ(anova.size(), 1u);
  EXPECT_NEAR(g["errorVariance"].n, qrxrun::number(*anova[0], 1, "MS"), 1e-12);
}

// The parameter name form of a label: each run of other characters than letters, digits
// and '_' becomes one '_' (trailing blanks dropped first).
std::string nameForm(std::string label) {
  label.erase(label.find_last_not_of(' ') + 1);
  std::string out;
  for (char ch : label) {
    const bool word = std::isalnum(static_cast<unsigned char>(ch)) || ch == '_';
    if (word)
      out += ch;
    else if (out.empty() || out.back() != '_')
      out += '_';
  }
  return out;
}

// The item store's group and the ParameterEstimates table of a STORE run.
struct StoredFit {
  qrxrun::ProgramRun run;
  Value store;
  const Value* estimates = nullptr;
};

StoredFit storedFit(const std::string& data, const std::string& body) {
  StoredFit f;
  f.run = runProgram("proc varsifter data=d;\n" + body + "  store out=ms;\nrun;\n", "postfit_cov",
                     {{"d.csv", data}}, {"ms.json"});
  EXPECT_EQ(f.run.json["returnCode"].n, 0) << body << "\n" << f.run.log;
  std::string error;
  EXPECT_TRUE(minijson::Parser(f.run.files["ms.json"]).parse(&f.store, &error)) << error;
  const auto pe = tablesOf(f.run, "ParameterEstimates");
  EXPECT_EQ(pe.size(), 1u) << body;
  if (!pe.empty())
    f.estimates = pe[0];
  return f;
}

TEST(PostFit, ItemStoreCovarianceGivesTheStandardErrors) {
  const std::string data = readFile(kDataDir + "data.csv");
  // Full-rank and GLM codings (aliased parameters), split effects, and a selection whose
  // chosen step lies before its last.
  for (const std::string body :
       {"  class c(split) d / param=ref;\n  model y = x1 c c*d x2(c) / selection=none;\n",
        "  class c d;\n  model y = x1 x2 c d c*d x1*d x2(c) / "
        "selection=forward(select=sl sle=0.99 choose=sbc);\n",
        "  class c d / param=effect;\n  model y = x1 c*d x2(d) / selection=none;\n"}) {
    const StoredFit f = storedFit(data, body);
    ASSERT_NE(f.estimates, nullptr);
    ASSERT_EQ(f.store["groups"].items.size(), 1u);
    const Value& g = f.store["groups"].items[0];
    const auto& cov = g["covariance"].items;
    const size_t n = (*f.estimates)["rows"].items.size();
    ASSERT_EQ(cov.size(), n) << body;
    int checked = 0;
    for (size_t i = 0; i < n; ++i) {
      ASSERT_EQ(cov[i].items.size(), n);
      for (size_t j = 0; j < i; ++j)
        EXPECT_DOUBLE_EQ(cov[i].items[j].n, cov[j].items[i].n) << body;
      const double se = qrxrun::number(*f.estimates, i, "StdErr");
      if (std::isnan(se)) { // aliased: no variance
        EXPECT_EQ(cov[i].items[i].n, 0.0) << body << " row " << i;
        continue;
      }
      EXPECT_NEAR(std::sqrt(cov[i].items[i].n), se, 1e-9 * se) << body << " row " << i;
      ++checked;
    }
    EXPECT_GE(checked, 6) << body;
  }
}

TEST(PostFit, SplitClassEffectsKeepInformativeParameterNames) {
  const std::string data = readFile(kDataDir + "data.csv");
  // The split fit and the same model unsplit give the same parameters in the same order; the
  // item store names the split fit's parameters as the unsplit fit's Parameter column does.
  const std::string model = " d / param=ref;\n  model y = x1 c c*d x2(c) / selection=none;\n";
  const StoredFit split = storedFit(data, "  class c(split)" + model);
  const StoredFit whole = storedFit(data, "  class c" + model);
  ASSERT_NE(split.estimates, nullptr);
  ASSERT_NE(whole.estimates, nullptr);
  const auto& parms = split.store["groups"].items[0]["parameters"].items;
  const size_t n = (*whole.estimates)["rows"].items.size();
  ASSERT_EQ(parms.size(), n);
  std::set<std::string> names;
  for (size_t i = 0; i < n; ++i) {
    EXPECT_EQ(parms[i]["name"].s, nameForm(qrxrun::text(*whole.estimates, i, "Parameter"))) << i;
    EXPECT_NEAR(parms[i]["estimate"].n, qrxrun::number(*whole.estimates, i, "Estimate"), 1e-9);
    // The split table shows the level in the effect's name: it is in the stored name too.
    const std::string level = qrxrun::text(*split.estimates, i, "c");
    if (!level.empty()) {
      EXPECT_NE(parms[i]["name"].s.find("_" + level), std::string::npos) << i;
    }
    names.insert(parms[i]["name"].s);
  }
  EXPECT_EQ(names.size(), n) << "every parameter has its own name";
}

// A CLASS effect whose levels enter one by one (SPLIT, or the levels a path selects) is one
// effect of the item store with its whole block: under GLM coding c of three levels (A, B, C)
// has 3 columns and c*d, d of two levels (P, Q), 6, d varying fastest. Each stored parameter
// lies at its level's column of that block. (The oracle's scoring seed 2 reads a LAR path's
// store back and predicts with it.)
TEST(PostFit, SplitClassEffectIsStoredOnceWithItsWholeBlock) {
  const auto run =
      runProgram("proc varsifter data=d;\n  class c(split) d;\n  model y = x1 c c*d / "
                 "selection=none;\n  store out=ms;\nrun;\n",
                 "postfit_split", {{"d.csv", readFile(kDataDir + "data.csv")}}, {"ms.json"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  Value store;
  std::string error;
  ASSERT_TRUE(minijson::Parser(run.files.at("ms.json")).parse(&store, &error)) << error;
  const Value& g = store["groups"].items.at(0);
  std::vector<std::pair<std::string, double>> effects;
  for (const Value& e : g["effects"].items)
    effects.emplace_back(e["name"].s, e["columns"].n);
  const std::vector<std::pair<std::string, double>> want = {
      {"Intercept", 1}, {"x1", 1}, {"c", 3}, {"c*d", 6}};
  EXPECT_EQ(effects, want);
  const std::map<std::string, int> column = {
      {"c_B", 1}, {"c_C", 2}, {"c_d_A_Q", 1}, {"c_d_B_P", 2}, {"c_d_C_Q", 5}};
  size_t found = 0;
  for (const Value& p : g["parameters"].items)
    if (const auto k = column.find(p["name"].s); k != column.end()) {
      EXPECT_EQ(p["column"].n, k->second) << k->first;
      ++found;
    }
  EXPECT_EQ(found, column.size());
}

TEST(PostFit, StoreAndCodeTargetsByName) {
  const std::string data = readFile(kDataDir + "data.csv");
  TempDir lib("library");
  // lib.name stores in the library's directory, a bare name in WORK, a quoted path where it
  // says; CODE FILE=name writes name.py in WORK.
  const auto run = runProgram("libname mylib '" + lib.path.string() +
                                  "';\nproc varsifter data=d;\n  class c;\n"
                                  "  model y = x1 c / selection=none;\n  store out=mylib.mm;\n"
                                  "  store mm2;\n  store out='" +
                                  lib.file("quoted.store") + "';\n  code file=scorefile;\nrun;\n",
                              "postfit_names", {{"d.csv", data}}, {"mm2.json", "scorefile.py"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  EXPECT_TRUE(fs::exists(lib.path / "mm.json"));
  EXPECT_TRUE(fs::exists(lib.path / "quoted.store"));
  EXPECT_EQ(run.files.count("mm2.json"), 1u);
  ASSERT_EQ(run.files.count("scorefile.py"), 1u);
  EXPECT_NE(run.files.at("scorefile.py").find("def score(row):"), std::string::npos);
}

TEST(PostFit, FailingStoreCheckEndsTheStepWith1012) {
  const std::string data = readFile(kDataDir + "data.csv");
  // An unassigned library, a code file in a directory that does not exist, no code file.
  for (const std::string stmts :
       {"store out=nolib.m;", "store out=m;\n  code file='/nonexistent/dir/s.py';", "code;"}) {
    const auto run = runProgram("proc varsifter data=d;\n  class c;\n"
                                "  model y = x1 c / selection=none;\n  output out=o p=pred;\n  " +
                                    stmts + "\nrun;\n",
                                "postfit_fail", {{"d.csv", data}}, {"o.csv", "m.json"});
    EXPECT_EQ(run.json["returnCode"].n, 1012) << stmts << "\n" << run.log;
    EXPECT_TRUE(logged(run, qrxhost::AuxMsg::StoreUnwritable) ||
                logged(run, qrxhost::AuxMsg::CodeUnwritable) ||
                logged(run, qrxhost::AuxMsg::CodeNoFile))
        << stmts;
    EXPECT_EQ(run.log.find("library:"), std::string::npos) << run.log;
    // The step ends before the fit: nothing is written.
    EXPECT_TRUE(tablesOf(run, "ParameterEstimates").empty()) << stmts;
    EXPECT_EQ(run.files.count("o.csv"), 0u) << stmts;
    EXPECT_EQ(run.files.count("m.json"), 0u) << stmts;
  }
}

TEST(PostFit, ByGroupsGetTheirOwnModels) {
  const std::string data = readFile(kDataDir + "data.csv");
  TempDir dir("by");
  const std::string code = dir.file("score.py");
  // BY groups of d (character) and k (numeric), each with its own knots and selection.
  std::string sorted = "y,x1,x2,c,d,k\n";
  for (const std::string level : {"P", "Q"}) {
    int i = 0;
    for (const auto& r : csvRows(data))
      if (r.size() == 5 && r[4] == level)
        sorted += r[0] + "," + r[1] + "," + r[2] + "," + r[3] + "," + r[4] + "," +
                  (i++ < 9 ? "1" : "2.5") + "\n";
  }
  const auto run = runProgram("proc varsifter data=d;\n  by d k;\n  class c;\n"
                              "  effect s = spline(x1 / knotmethod=equal(2));\n"
                              "  model y = s c x2 / selection=forward(select=sl sle=0.3);\n"
                              "  output out=o p=pred;\n  store out=m;\n  code file='" +
                                  code + "';\nrun;\n",
                              "postfit_by", {{"d.csv", sorted}}, {"o.csv", "m.json"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  const auto python = pythonPredictions(dir, code, sorted);
  EXPECT_EQ(comparePredictions(run.files.at("o.csv"), python, "by"), 36);
  // A row of a group that was not fitted has no prediction.
  const auto other = pythonPredictions(dir, code, "y,x1,x2,c,d,k\n1,0.5,1,A,P,3\n");
  ASSERT_EQ(other.size(), 1u);
  EXPECT_EQ(other[0], "");
  // The item store holds the four groups.
  ASSERT_EQ(run.files.count("m.json"), 1u);
  Value store;
  std::string error;
  ASSERT_TRUE(minijson::Parser(run.files.at("m.json")).parse(&store, &error)) << error;
  ASSERT_EQ(store["groups"].items.size(), 4u);
  EXPECT_EQ(store["groups"].items[3]["byGroup"].n, 4);
}

// The item store names its BY variables and each group's values (a character and a
// numeric one), keeps STORE's LABEL=, and has no error variance for the LASSO, whose
// estimates no single least-squares fit stands behind.
TEST(PostFit, ItemStoreRecordsLabelAndByValues) {
  std::string sorted = "y,x1,x2,d,k\n";
  const auto rows = csvRows(readFile(kDataDir + "data.csv"));
  for (const std::string level : {"P", "Q"}) {
    int i = 0;
    for (const auto& r : rows)
      if (r.size() == 5 && r[4] == level)
        sorted +=
            r[0] + "," + r[1] + "," + r[2] + "," + r[4] + "," + (i++ < 9 ? "1" : "2.5") + "\n";
  }
  const auto run = runProgram("proc varsifter data=d;\n  by d k;\n"
                              "  model y = x1 x2 / selection=lasso;\n"
                              "  store out=m / label='y on x, by d and k';\nrun;\n",
                              "postfit_label", {{"d.csv", sorted}}, {"m.json"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  Value store;
  std::string error;
  ASSERT_TRUE(minijson::Parser(run.files.at("m.json")).parse(&store, &error)) << error;
  EXPECT_EQ(store["label"].s, "y on x, by d and k");
  ASSERT_EQ(store["byVariables"].items.size(), 2u);
  EXPECT_EQ(store["byVariables"][0]["name"].s + store["byVariables"][0]["type"].s +
                store["byVariables"][1]["name"].s + store["byVariables"][1]["type"].s,
            "dcharacterknumeric");
  std::string values;
  for (const Value& g : store["groups"].items) {
    ASSERT_EQ(g["byValues"].items.size(), 2u);
    values += g["byValues"][0].s + std::to_string(g["byValues"][1].n) + " ";
    EXPECT_EQ(g["errorVariance"].kind, Value::Null);
  }
  EXPECT_EQ(values, "P1.000000 P2.500000 Q1.000000 Q2.500000 ");
}

// CODE takes FILE= and nothing else: every other option (a catalogue entry, a line width,
// residuals, imputation) is refused by name and no scoring code is written.
TEST(PostFit, CodeRefusesOptionsOtherThanFile) {
  const std::string data = readFile(kDataDir + "data.csv");
  TempDir dir("codeopts");
  const std::string code = dir.file("score.py");
  for (const std::string option :
       {"catalog=work.cat", "linesize=100", "lookup=binary", "residuals", "impute"}) {
    const auto run = runProgram("proc varsifter data=d;\n  model y = x1 x2 / selection=none;\n"
                                "  code file='" +
                                    code + "' " + option + ";\nrun;\n",
                                "postfit_codeopt", {{"d.csv", data}});
    EXPECT_EQ(run.json["returnCode"].n, 1012) << option << "\n" << run.log;
    EXPECT_TRUE(logged(run, qrxhost::AuxMsg::CodeOptionUnsupported)) << option << "\n" << run.log;
    EXPECT_FALSE(fs::exists(code)) << option;
  }
}

TEST(PostFit, CodeRefusesWhatItCannotReproduce) {
  TempDir dir("refuse");
  const std::string code = dir.file("score.py");
  // NOTSORTED BY groups with the same values twice cannot be told apart.
  const std::string twice = "y,x1,d\n1,1,P\n2,2.5,P\n2.9,3,P\n5,1,Q\n6,2,Q\n6.5,3,Q\n"
                            "1,1.5,P\n2,2,P\n3.5,3,P\n";
  const auto repeated = runProgram("proc varsifter data=d;\n  by d notsorted;\n"
                                   "  model y = x1 / selection=none;\n  code file='" +
                                       code + "';\nrun;\n",
                                   "postfit_repeat", {{"d.csv", twice}});
  EXPECT_EQ(repeated.json["returnCode"].n, 1012) << repeated.log;
  EXPECT_EQ(qrxrun::messageCount(repeated.json["steps"][0], qrxhost::AuxMsg::CodeSameByValues), 1);
  // A LAG effect's values need earlier rows: refused, and the failed step writes no item
  // store either.
  fs::remove(code);
  const std::string lag = "g,t,x,y\n1,1,a,3\n1,2,b,5\n1,3,a,4\n2,1,b,2\n2,2,a,7\n2,3,a,6\n";
  const auto lagged = runProgram("proc varsifter data=lag;\n  class g t x;\n"
                                 "  effect lg = lag(x / period=t within=g);\n"
                                 "  model y = lg / selection=none;\n  store out=m;\n"
                                 "  code file='" +
                                     code + "';\nrun;\n",
                                 "postfit_lag", {{"lag.csv", lag}}, {"m.json"});
  EXPECT_EQ(lagged.json["returnCode"].n, 1012) << lagged.log;
  EXPECT_TRUE(logged(lagged, qrxhost::AuxMsg::CodeNeedsEarlierRows));
  EXPECT_FALSE(fs::exists(code));
  EXPECT_EQ(lagged.files.count("m.json"), 0u);
}

} // namespace

namespace {

// Model averaging on the diabetes data with OUTPUT and SCORE asking for the spread of the
// resample predictions: SCORE on the training data writes OUTPUT's columns; the item store
// holds the averaged model once (no error variance, no covariance), whose estimates applied
// by hand give OUTPUT's predictions, as does the scoring code.
void expectAveragedModelEverywhere(const std::string& modelaverage, const std::string& tag) {
  const std::string data = readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv");
  TempDir dir(tag);
  const std::string code = dir.file("score.py");
  const std::string stats = " p=pred stddev=sd median=med lower=lo upper=up samplepred=sp;\n";
  const auto run = runProgram(
      "proc varsifter data=d seed=7;\n"
      "  model Y = AGE SEX BMI BP S1 S2 S3 S4 S5 S6 / selection=forward(select=sbc);\n  " +
          modelaverage + ";\n  output out=o" + stats + "  score data=d out=s" + stats +
          "  store out=m;\n  code file='" + code + "';\nrun;\n",
      "postfit_" + tag, {{"d.csv", data}}, {"o.csv", "s.csv", "m.json"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << modelaverage << "\n" << run.log;
  ASSERT_EQ(run.files.count("o.csv") + run.files.count("s.csv") + run.files.count("m.json"), 3u);
  const auto o = csvRows(run.files.at("o.csv")), s = csvRows(run.files.at("s.csv"));
  ASSERT_EQ(o.size(), 443u);
  ASSERT_EQ(s.size(), o.size());
  for (const std::string name : {"pred", "sd", "med", "lo", "up", "sp1", "sp4"}) {
    const int a = qrxrun::headerColumn(o[0], name), b = qrxrun::headerColumn(s[0], name);
    for (size_t r = 1; r < o.size(); ++r)
      ASSERT_EQ(s[r][size_t(b)], o[r][size_t(a)]) << modelaverage << " " << name << " row " << r;
  }
  Value store;
  std::string error;
  ASSERT_TRUE(minijson::Parser(run.files.at("m.json")).parse(&store, &error)) << error;
  ASSERT_EQ(store["groups"].items.size(), 1u) << modelaverage;
  const Value& g = store["groups"].items[0];
  EXPECT_EQ(g["errorVariance"].kind, Value::Null);
  EXPECT_FALSE(g.has("covariance"));
  const int pred = qrxrun::headerColumn(o[0], "pred");
  for (size_t r = 1; r < o.size(); ++r) {
    double byHand = 0;
    for (const Value& p : g["parameters"].items) {
      const std::string effect = p["effect"].s;
      byHand +=
          p["estimate"].n * (effect == "Intercept"
                                 ? 1.0
                                 : std::stod(o[r][size_t(qrxrun::headerColumn(o[0], effect))]));
    }
    const double ours = std::stod(o[r][size_t(pred)]);
    ASSERT_NEAR(byHand, ours, 1e-9 * (1 + std::fabs(ours))) << modelaverage << " row " << r;
  }
  ASSERT_TRUE(fs::exists(code)) << modelaverage;
  EXPECT_EQ(
      comparePredictions(run.files.at("o.csv"), pythonPredictions(dir, code, data), modelaverage),
      442);
}

} // namespace

TEST(PostFit, AveragedModelIsWhatScoreStoreAndCodePredictWith) {
  expectAveragedModelEverywhere("modelaverage nsamples=6", "average");
}

// The refit hands its model over once: CODE writes its code, OUTPUT and SCORE are written
// and the item store holds one model.
TEST(PostFit, RefitOfTheAveragedModelIsHandedOverOnce) {
  expectAveragedModelEverywhere("modelaverage nsamples=6 refit(nsamples=4)", "refit");
}
