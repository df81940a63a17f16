// The results of a stepwise selection end to end: the example program on the diabetes
// data through the qrx runner, its --json record compared structurally (tables, order,
// templates, columns), the OUTPUT data set's predictions and residuals checked against the
// printed estimates, and the selection and estimates against an independent computation
// (tests/data/results/diabetes_stepwise_sbc.txt, scripts/gen_results_diabetes_ref.py).
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using minijson::Value;

namespace {

struct ExampleRun {
  int status = -1;
  std::string log;
  Value json;
  fs::path work;
};

// Runs `program` (a path under the source tree, or program text when `text` is set) from
// the source directory with its own WORK directory.
ExampleRun runExample(const std::string& program, const std::string& tag, bool text = false,
                      const std::string& csvName = "", const std::string& csv = "") {
  ExampleRun r;
  // One directory per process: ctest runs the tests of this file side by side.
  r.work = fs::temp_directory_path() /
           ("qrx_results_" + tag + "_" + std::to_string(static_cast<long>(::getpid())));
  fs::remove_all(r.work);
  fs::create_directories(r.work);
  if (!csvName.empty())
    std::ofstream(r.work / csvName) << csv;
  std::string path = program;
  if (text) {
    path = (r.work / "program.qrx").string();
    std::ofstream(path) << program;
  }
  const fs::path json = r.work / "run.json";
  std::string cmd = std::string("cd '") + QRX_SOURCE_DIR + "' && ASAN_OPTIONS=detect_leaks=0 '" +
                    QRX_BINARY + "' --work '" + r.work.string() + "' --json '" + json.string() +
                    "' '" + path + "' 2>&1";
  r.status = qrxrun::runCommand(cmd, &r.log);
  std::string error;
  EXPECT_TRUE(minijson::Parser(qrxrun::readFile(json)).parse(&r.json, &error)) << error << "\n"
                                                                               << r.log;
  return r;
}

void flatten(const Value& node, std::vector<const Value*>& out) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      flatten(item, out);
    return;
  }
  if (node.kind != Value::Object)
    return;
  if (node["kind"].s == "table" || node["kind"].s == "factoid")
    out.push_back(&node);
  if (node.has("children"))
    flatten(node["children"], out);
}

int col(const Value& t, const std::string& name) {
  for (size_t i = 0; i < t["columns"].items.size(); ++i)
    if (t["columns"][i]["name"].s == name)
      return static_cast<int>(i);
  return -1;
}

std::string trim(std::string s) {
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

struct Reference {
  std::vector<std::string> steps; // "+BMI", ...
  std::vector<double> sbc;
  std::map<std::string, std::pair<double, double>> estimates;
};

Reference reference() {
  Reference r;
  std::ifstream f(std::string(QRX_TEST_DATA) + "/results/diabetes_stepwise_sbc.txt");
  std::string kind;
  while (f >> kind) {
    if (kind == "step") {
      int k;
      std::string change;
      double v;
      f >> k >> change >> v;
      r.steps.push_back(change);
      r.sbc.push_back(v);
    } else {
      std::string name;
      double b, s;
      f >> name >> b >> s;
      r.estimates[name] = {b, s};
    }
  }
  return r;
}

class ResultsProgram : public ::testing::Test {
protected:
  // The example program (every step shown) and the same selection without step details.
  static ExampleRun* example;
  static ExampleRun* run;
  static void SetUpTestSuite() {
    example = new ExampleRun(runExample("examples/diabetes_stepwise.qrx", "example"));
    run = new ExampleRun(
        runExample("libname ex 'examples';\n"
                   "proc varsifter data=ex.diabetes;\n"
                   "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc);\n"
                   "  output out=work.diabetes_pred predicted residual;\n"
                   "run;\n",
                   "plain", true));
  }
  static void TearDownTestSuite() {
    for (ExampleRun* r : {example, run}) {
      fs::remove_all(r->work);
      delete r;
    }
  }
  const Value& output() const { return run->json["steps"][0]["output"]; }
  std::vector<const Value*> tables() const {
    std::vector<const Value*> out;
    flatten(output(), out);
    return out;
  }
  const Value* table(const std::string& name) const {
    const Value* last = nullptr;
    for (const Value* t : tables())
      if (t->operator[]("name").s == name)
        last = t;
    return last;
  }
};
ExampleRun* ResultsProgram::example = nullptr;
ExampleRun* ResultsProgram::run = nullptr;

TEST_F(ResultsProgram, TablesInTheOrderOfTheDisplay) {
  std::vector<std::string> names;
  for (const Value* t : tables())
    names.push_back(t->operator[]("name").s);
  const std::vector<std::string> expected = {
      "ModelInfo",       "NObs",  "Dimensions",    "SelectionSummary",  "StopReason",
      "SelectedEffects", "ANOVA", "FitStatistics", "ParameterEstimates"};
  size_t at = 0;
  for (const std::string& n : names)
    if (at < expected.size() && n == expected[at])
      ++at;
  EXPECT_EQ(at, expected.size()) << "missing or out of order: "
                                 << expected[std::min(at, expected.size() - 1)];
  for (const Value* t : tables()) {
    const std::string& name = t->operator[]("name").s;
    if (name == "BestStep")
      continue;
    EXPECT_EQ(t->operator[]("template").s, "Stat.VARSIFTER." + name);
    if (t->operator[]("kind").s == "table") {
      EXPECT_FALSE(t->operator[]("columns").items.empty()) << name;
    }
  }
}

// The whole road of the example program: step details, the selection, the estimates and
// the residuals of the OUTPUT data set.
TEST_F(ResultsProgram, ExampleShowsEveryStep) {
  std::vector<const Value*> all;
  flatten(example->json["steps"][0]["output"], all);
  int estimates = 0;
  for (const Value* t : all)
    estimates += t->operator[]("name").s == "ParameterEstimates";
  // Step 0 to step 6 and the selected model.
  EXPECT_EQ(estimates, 8) << example->log;
  EXPECT_EQ(example->json["returnCode"].n, 0);
}

TEST_F(ResultsProgram, OutputDataSetPredictionsFollowTheEstimates) {
  auto rows = readCsvRows((run->work / "diabetes_pred.csv").string());
  ASSERT_GT(rows.size(), 1u) << run->log;
  const auto& header = rows[0];
  auto at = [&](const std::string& name) {
    for (size_t i = 0; i < header.size(); ++i)
      if (header[i] == name)
        return static_cast<int>(i);
    return -1;
  };
  for (const char* v : {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6", "Y"})
    EXPECT_GE(at(v), 0) << v;
  ASSERT_GE(at("p_Y"), 0);
  ASSERT_GE(at("r_Y"), 0);
  EXPECT_EQ(rows.size(), 443u);
  const Value* pe = table("ParameterEstimates");
  ASSERT_NE(pe, nullptr);
  std::map<std::string, double> beta;
  for (const auto& r : (*pe)["rows"].items)
    beta[trim(r[static_cast<size_t>(col(*pe, "Effect"))].s)] =
        r[static_cast<size_t>(col(*pe, "Estimate"))].n;
  for (size_t r = 1; r < rows.size(); ++r) {
    double pred = beta.count("Intercept") ? beta["Intercept"] : 0.0;
    for (const auto& [name, b] : beta)
      if (name != "Intercept")
        pred += b * std::stod(rows[r][static_cast<size_t>(at(name))]);
    const double p = std::stod(rows[r][static_cast<size_t>(at("p_Y"))]);
    const double y = std::stod(rows[r][static_cast<size_t>(at("Y"))]);
    EXPECT_NEAR(p, pred, 1e-10 * std::max(1.0, std::fabs(pred))) << "row " << r;
    EXPECT_NEAR(std::stod(rows[r][static_cast<size_t>(at("r_Y"))]), y - p, 1e-9) << "row " << r;
  }
}

TEST_F(ResultsProgram, SelectionAndEstimatesAgreeWithTheReference) {
  Reference ref = reference();
  ASSERT_FALSE(ref.steps.empty());
  const Value* summary = table("SelectionSummary");
  ASSERT_NE(summary, nullptr);
  const auto& rows = (*summary)["rows"].items;
  ASSERT_EQ(rows.size(), ref.steps.size() + 1) << run->log;
  for (size_t k = 0; k < ref.steps.size(); ++k) {
    const auto& row = rows[k + 1];
    EXPECT_EQ(trim(row[static_cast<size_t>(col(*summary, "EffectEntered"))].s),
              ref.steps[k].substr(1));
    EXPECT_NEAR(row[static_cast<size_t>(col(*summary, "SBC"))].n, ref.sbc[k], 1e-8);
  }
  const Value* pe = table("ParameterEstimates");
  ASSERT_NE(pe, nullptr);
  ASSERT_EQ((*pe)["rows"].items.size(), ref.estimates.size());
  for (const auto& r : (*pe)["rows"].items) {
    const std::string name = trim(r[static_cast<size_t>(col(*pe, "Effect"))].s);
    ASSERT_TRUE(ref.estimates.count(name)) << name;
    const auto [b, s] = ref.estimates[name];
    EXPECT_NEAR(r[static_cast<size_t>(col(*pe, "Estimate"))].n, b, 1e-8 * std::fabs(b)) << name;
    EXPECT_NEAR(r[static_cast<size_t>(col(*pe, "StdErr"))].n, s, 1e-8 * s) << name;
  }
  // _VSFIND lists the selected effects in the MODEL statement's order.
  std::string selected;
  for (const char* name : {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6"})
    if (ref.estimates.count(name))
      selected.append(selected.empty() ? "" : " ").append(name);
  EXPECT_EQ(run->json["macros"]["_VSFIND"].s, selected);
}

// Three BY groups: each group's tables follow its BY line, and each group sets its own
// _VSFIND<n>.
TEST(ResultsByGroups, EachGroupUnderItsByLineWithItsOwnMacro) {
  std::string csv = "g,x1,x2,y\n";
  for (int g = 1; g <= 3; ++g)
    for (int i = 0; i < 8; ++i) {
      const double x1 = (i * 37 % 11) / 11.0, x2 = (i * 53 % 13) / 13.0;
      csv += std::to_string(g) + "," + std::to_string(x1) + "," + std::to_string(x2) + "," +
             std::to_string(1 + 2 * x1 + g * x2 + 0.01 * ((i * 7) % 5)) + "\n";
    }
  ExampleRun r = runExample("proc varsifter data=byd;\n  by g;\n"
                            "  model y = x1 x2 / selection=forward(select=sbc);\nrun;\n",
                            "by", true, "byd.csv", csv);
  const Value& out = r.json["steps"][0]["output"];
  std::vector<std::string> sequence;
  for (const auto& node : out.items) {
    if (node["kind"].s == "text")
      sequence.push_back("text:" + node["text"].s.substr(node["text"].s.find_first_not_of(' ')));
    else
      sequence.push_back(node["name"].s);
  }
  for (int g = 1; g <= 3; ++g) {
    auto at = std::find(sequence.begin(), sequence.end(), "text:g=" + std::to_string(g));
    ASSERT_NE(at, sequence.end()) << "BY line of group " << g << "\n" << r.log;
    ASSERT_NE(at + 1, sequence.end());
    EXPECT_EQ(*(at + 1), "NObs") << "group " << g;
    const Value& macro = r.json["macros"]["_VSFIND" + std::to_string(g)];
    EXPECT_EQ(macro.kind, Value::String) << g;
  }
  EXPECT_EQ(r.json["macros"]["_VSFNUMBYS"].s, "3");
  fs::remove_all(r.work);
}

// CLASS variables: level information, coding tables and the candidates of the first step,
// whose SBC values come from closed-form one-effect least squares (group means for a CLASS
// effect, the simple regression for a continuous one).
ExampleRun classRun(std::vector<int>& g, std::vector<int>& c, std::vector<double>& x,
                    std::vector<double>& y) {
  const char* groups[] = {"a", "b", "c"};
  const char* colors[] = {"red", "blue"};
  std::string csv = "grp,color,x1,y\n";
  for (int i = 0; i < 30; ++i) {
    g.push_back(i % 3);
    c.push_back((i / 3) % 2);
    // The values as the CSV file holds them (six decimals).
    x.push_back(std::stod(std::to_string(((i * 17) % 29) / 29.0)));
    y.push_back(std::stod(std::to_string(1 + 2.0 * g.back() - 0.7 * c.back() + 1.5 * x.back() +
                                         0.1 * ((i * 13) % 7))));
    csv += std::string(groups[g.back()]) + "," + colors[c.back()] + "," + std::to_string(x.back()) +
           "," + std::to_string(y.back()) + "\n";
  }
  return runExample("proc varsifter data=cd;\n  class grp color / showcoding;\n"
                    "  model y = grp color x1 / selection=forward(select=sbc)"
                    " details=steps(candidates);\nrun;\n",
                    "class", true, "cd.csv", csv);
}

TEST(ResultsClassData, LevelsAndCodingTables) {
  std::vector<int> g, c;
  std::vector<double> x, y;
  ExampleRun r = classRun(g, c, x, y);
  std::vector<const Value*> all;
  flatten(r.json["steps"][0]["output"], all);
  const Value* info = nullptr;
  int codings = 0;
  for (const Value* t : all) {
    if ((*t)["name"].s == "ClassLevelInfo" && info == nullptr)
      info = t;
    codings += (*t)["name"].s == "ClassLevelCoding";
  }
  ASSERT_NE(info, nullptr) << r.log;
  EXPECT_EQ(trim((*info)["rows"][0][static_cast<size_t>(col(*info, "Values"))].s), "a b c");
  EXPECT_EQ(trim((*info)["rows"][1][static_cast<size_t>(col(*info, "Values"))].s), "blue red");
  EXPECT_EQ((*info)["rows"][0][static_cast<size_t>(col(*info, "Levels"))].n, 3);
  EXPECT_EQ(codings, 2);
  fs::remove_all(r.work);
}

TEST(ResultsClassData, RankedCandidatesOfTheFirstStep) {
  std::vector<int> g, c;
  std::vector<double> x, y;
  ExampleRun r = classRun(g, c, x, y);
  std::vector<const Value*> all;
  flatten(r.json["steps"][0]["output"], all);
  const Value* info = nullptr;
  const Value* candidates = nullptr;
  int codings = 0;
  for (const Value* t : all) {
    const std::string& name = (*t)["name"].s;
    if (name == "ClassLevelInfo")
      info = t;
    if (name == "ClassLevelCoding")
      ++codings;
    if (name == "Candidates" && candidates == nullptr)
      candidates = t;
  }
  ASSERT_NE(info, nullptr) << r.log;
  EXPECT_EQ(trim((*info)["rows"][0][static_cast<size_t>(col(*info, "Values"))].s), "a b c");
  EXPECT_EQ(trim((*info)["rows"][1][static_cast<size_t>(col(*info, "Values"))].s), "blue red");
  EXPECT_EQ(codings, 2);
  ASSERT_NE(candidates, nullptr);

  const double n = static_cast<double>(y.size());
  auto sbc = [&](double sse, int p) { return n * std::log(sse / n) + p * std::log(n); };
  auto groupSse = [&](const std::vector<int>& k, int levels) {
    std::vector<double> sum(static_cast<size_t>(levels)), cnt(static_cast<size_t>(levels));
    for (size_t i = 0; i < y.size(); ++i)
      sum[static_cast<size_t>(k[i])] += y[i], cnt[static_cast<size_t>(k[i])] += 1;
    double sse = 0;
    for (size_t i = 0; i < y.size(); ++i) {
      const double m = sum[static_cast<size_t>(k[i])] / cnt[static_cast<size_t>(k[i])];
      sse += (y[i] - m) * (y[i] - m);
    }
    return sse;
  };
  double mx = 0, my = 0;
  for (size_t i = 0; i < y.size(); ++i)
    mx += x[i] / n, my += y[i] / n;
  double sxx = 0, sxy = 0, syy = 0;
  for (size_t i = 0; i < y.size(); ++i)
    sxx += (x[i] - mx) * (x[i] - mx), sxy += (x[i] - mx) * (y[i] - my),
        syy += (y[i] - my) * (y[i] - my);
  std::map<std::string, double> expected = {{"grp", sbc(groupSse(g, 3), 3)},
                                            {"color", sbc(groupSse(c, 2), 2)},
                                            {"x1", sbc(syy - sxy * sxy / sxx, 2)}};
  const auto& rows = (*candidates)["rows"].items;
  ASSERT_EQ(rows.size(), 3u);
  double previous = -1e300;
  for (const auto& row : rows) {
    const std::string effect = trim(row[static_cast<size_t>(col(*candidates, "Effect"))].s);
    const double v = row[static_cast<size_t>(col(*candidates, "SBC"))].n;
    ASSERT_TRUE(expected.count(effect)) << effect;
    EXPECT_NEAR(v, expected[effect], 1e-8 * std::fabs(v)) << effect;
    EXPECT_GE(v, previous) << "ranked best (smallest) first";
    previous = v;
  }
  fs::remove_all(r.work);
}

} // namespace
