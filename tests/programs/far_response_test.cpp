// Responses far from zero with a small spread, through qrx: their error SS is a tiny part of
// the uncorrected total, yet every step's error SS, standard error and CV PRESS is the least-
// squares one (statsmodels' and numpy's fold refits, tests/data/farresponse from
// scripts/gen_far_response_ref.py) within 1e-8 of the corrected total, and the selections go
// on past the steps that a test against the uncorrected total would call a perfect fit; a
// response that is an exact linear function of the columns still stops as a perfect fit.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/farresponse/";

struct Reference {
  double sse = 0, total = 0, cvPress = 0;
  std::vector<double> se; // of the subset's columns, in their order
};

// The references by "data group columns", the columns in the candidates' order.
const std::map<std::string, Reference>& references() {
  static const std::map<std::string, Reference> refs = [] {
    std::map<std::string, Reference> r;
    const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "ref.csv"));
    for (size_t i = 1; i < rows.size(); ++i) {
      Reference ref;
      ref.sse = std::stod(rows[i][3]);
      ref.total = std::stod(rows[i][4]);
      std::istringstream se(rows[i][5]);
      for (double v; se >> v;)
        ref.se.push_back(v);
      ref.cvPress = std::stod(rows[i][6]);
      r[rows[i][0] + " " + rows[i][1] + " " + rows[i][2]] = ref;
    }
    return r;
  }();
  return refs;
}

// The model's columns among `candidates`, in the candidates' order, blank-separated.
std::string inOrder(const std::vector<std::string>& candidates, const std::set<std::string>& in) {
  std::string s;
  for (const std::string& c : candidates)
    if (in.count(c) != 0)
      s += (s.empty() ? "" : " ") + c;
  return s;
}

struct Program {
  std::string data, group, body; // group: the reference's group ("0" without BY groups)
  std::vector<std::string> candidates, start; // start: the columns in at step 0
};

// Every step of the selection summary: the error SS (1 - R-square of the corrected total) and,
// where shown, the CV PRESS equal the least-squares fit of the step's columns. Returns the
// number of steps.
size_t expectStepsLeastSquares(const Value& step, const Program& p, int group) {
  const Value* s = qrxrun::findTable(step["output"], "SelectionSummary", group);
  if (s == nullptr) {
    ADD_FAILURE() << p.body << ": no selection summary";
    return 0;
  }
  std::set<std::string> in(p.start.begin(), p.start.end());
  const size_t steps = (*s)["rows"].items.size();
  for (size_t i = 0; i < steps; ++i) {
    const std::string entered = qrxrun::text(*s, i, "EffectEntered");
    const std::string removed = qrxrun::text(*s, i, "EffectRemoved");
    if (!entered.empty() && entered != "Intercept")
      in.insert(entered);
    if (!removed.empty())
      in.erase(removed);
    const std::string key = p.data + " " + p.group + " " + inOrder(p.candidates, in);
    const Reference& ref = references().at(key);
    const double r2 = qrxrun::number(*s, i, "RSquare");
    if (!std::isnan(r2)) {
      EXPECT_NEAR((1 - r2) * ref.total, ref.sse, 1e-8 * ref.total) << p.body << " step " << i;
    }
    const double press = qrxrun::number(*s, i, "CVPRESS");
    if (!std::isnan(press)) {
      EXPECT_NEAR(press, ref.cvPress, 1e-9 * ref.cvPress) << p.body << " step " << i;
    }
  }
  return steps;
}

// The selected model's error SS, corrected total and standard errors against the reference.
void expectSelectedModel(const Value& step, const Program& p, int group) {
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates", group);
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA", group);
  ASSERT_NE(pe, nullptr) << p.body;
  ASSERT_NE(anova, nullptr) << p.body;
  std::set<std::string> in;
  for (size_t r = 1; r < (*pe)["rows"].items.size(); ++r)
    in.insert(qrxrun::text(*pe, r, "Parameter"));
  const std::string columns = inOrder(p.candidates, in);
  const Reference& ref = references().at(p.data + " " + p.group + " " + columns);
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), ref.sse, 1e-8 * ref.total) << p.body;
  EXPECT_NEAR(qrxrun::number(*anova, 2, "SS"), ref.total, 1e-8 * ref.total) << p.body;
  for (size_t r = 1; r < (*pe)["rows"].items.size(); ++r) {
    const double se = ref.se.at(r - 1);
    EXPECT_NEAR(qrxrun::number(*pe, r, "StdErr"), se, 1e-7 * se) << p.body << " " << columns;
  }
}

const std::vector<std::string> kStack = {"Air_Flow", "Water_Temp", "Acid_Conc"};
const std::vector<std::string> kStamp = {"x1", "x2", "x3", "x4"};

// 3,000 rows of a 1,000-level CLASS g (level means of sd 20), a 70-level CLASS h, x1 and x2,
// with y = level + g's mean + 30 x1 + noise of sd 25 in binary fractions of 1/1024, which are
// exact in a double near 1.7e9 as near 0; the responses go into *ys.
std::string levelsCsv(double level, std::vector<double>* ys) {
  std::mt19937_64 gen(1700);
  std::normal_distribution<double> normal;
  constexpr int kLevels = 1000, kRows = 3000;
  std::vector<double> mean(kLevels);
  for (double& v : mean)
    v = 20 * normal(gen);
  std::string csv = "y,g,h,x1,x2\n";
  char buf[128];
  for (int r = 0; r < kRows; ++r) {
    const int l = r % kLevels;
    const double x1 = normal(gen), x2 = normal(gen);
    const double y =
        level + std::round(1024 * (mean[size_t(l)] + 30 * x1 + 25 * normal(gen))) / 1024;
    ys->push_back(y);
    std::snprintf(buf, sizeof buf, "%.17g,L%04d,H%02d,%.9g,%.9g\n", y, l, r % 70, x1, x2);
    csv += buf;
  }
  return csv;
}

} // namespace

// Stack loss shifted to a mean of 1e6 (spread 1), and a time stamp near 1.7e9 (spread about
// 100, and in a second BY group near 4e8): the full fits, and FORWARD, STEPWISE, BACKWARD and
// FORWARD SELECT=CV on the packed and incremental cross products, give the least-squares
// answer at every step and go on selecting.
TEST(FarResponse, EveryStepIsTheLeastSquaresFit) {
  const std::string stamp = "stamp(where=(g=1))";
  const std::string all = " x1 x2 x3 x4";
  const std::vector<Program> programs = {
      {"stack",
       "0",
       "stack; model stack_loss = Air_Flow Water_Temp Acid_Conc / selection=none",
       kStack,
       {}},
      {"stack", "0", "stack; model stack_loss = Air_Flow Water_Temp / selection=none", kStack, {}},
      {"stack",
       "0",
       "stack; model stack_loss = Air_Flow Water_Temp Acid_Conc / "
       "selection=forward(select=sl)",
       kStack,
       {}},
      {"stamp", "1", stamp + "; model t =" + all + " / selection=none", kStamp, {}},
      {"stamp", "1", stamp + "; model t =" + all + " / selection=forward(select=sl)", kStamp, {}},
      {"stamp",
       "1",
       stamp + "; model t =" + all + " / selection=stepwise(select=sl " +
           "slentry=0.3 slstay=0.3); performance buildsscp=incremental",
       kStamp,
       {}},
      {"stamp",
       "1",
       stamp + "; model t =" + all + " / selection=forward(select=cv stop=none) " +
           "cvmethod=index(fold)",
       kStamp,
       {}},
      {"stamp",
       "1",
       stamp + "; model t =" + all + " / selection=forward(select=cv stop=none) " +
           "cvmethod=index(fold); performance buildsscp=incremental",
       kStamp,
       {}},
      {"stamp", "1", stamp + "; model t =" + all + " / selection=backward(select=sbc stop=none)",
       kStamp, kStamp},
  };
  std::string text;
  for (const Program& p : programs)
    text += "proc varsifter data=" + p.body + ";\nrun;\n";
  text += "proc varsifter data=stamp; by g; model t =" + all +
          " / selection=forward(select=sl slentry=0.2);\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(text, "farresponse",
                         {{"stack.csv", qrxrun::readFile(kDir + "stack.csv")},
                          {"stamp.csv", qrxrun::readFile(kDir + "stamp.csv")}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), programs.size() + 1) << run.log;
  for (size_t i = 0; i < programs.size(); ++i) {
    const Value& step = run.json["steps"][i];
    const Program& p = programs[i];
    if (p.body.find("selection=none") == std::string::npos) {
      EXPECT_GE(expectStepsLeastSquares(step, p, 0), p.candidates.size()) << p.body;
    }
    expectSelectedModel(step, p, 0);
  }
  // The BY groups near 1.7e9 and 4e8 each take three columns or more.
  for (const int g : {1, 2}) {
    const Program p{"stamp", std::to_string(g), "BY group " + std::to_string(g), kStamp, {}};
    EXPECT_GE(expectStepsLeastSquares(run.json["steps"][programs.size()], p, g - 1), 4u);
    expectSelectedModel(run.json["steps"][programs.size()], p, g - 1);
  }
}

// A weighted response near 1.8e9 (and a second BY group near 4.1e8) whose held-out errors are
// near 0.3, where a double's spacing at the response is 2.4e-7: every step's CV PRESS equals
// the exact weighted refits without each fold (scripts/gen_cv_far_weight_ref.py) within 1e-9,
// under FORWARD, BACKWARD and STEPWISE, SPLIT, BLOCK and INDEX folds, CVDETAILS= on and off,
// the packed and incremental cross products, with and without BY, on one thread and on eight.
TEST(FarResponse, WeightedCvPressFollowsTheExactRefits) {
  std::map<std::string, double> ref; // by "group folds columns"
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(kDir + "farweight_ref.csv")))
    if (row[0] != "group")
      ref[row[0] + " " + row[1] + " " + row[2]] = std::stod(row[3]);
  struct Road {
    bool by;
    std::string folds, selection, build;
  };
  const std::vector<Road> roads = {
      {false, "split", "forward(select=cv stop=none) cvdetails=all", "full"},
      {false, "block", "backward(select=cv stop=none)", "full"},
      {false, "split", "stepwise(select=sbc choose=cv)", "incremental"},
      {false, "index", "stepwise(select=sl slentry=0.5 slstay=0.5 choose=cv) cvdetails=cvpress",
       "full"},
      {true, "block", "forward(select=cv stop=none)", "incremental"},
      {true, "split", "backward(select=cv stop=none) cvdetails=all", "full"},
  };
  std::string text;
  for (const Road& r : roads)
    text += std::string("proc varsifter data=farweight") + (r.by ? "; by g" : "(where=(g=1))") +
            ";\n  weight w;\n  model y = x1 x2 x3 x4 / selection=" + r.selection +
            " cvmethod=" + (r.folds == "index" ? "index(fold)" : r.folds + "(4)") +
            ";\n  performance buildsscp=" + r.build + " cpucount=CPUS;\nrun;\n";
  for (const std::string cpus : {"1", "8"}) {
    std::string program = text;
    for (size_t at; (at = program.find("CPUS")) != std::string::npos;)
      program.replace(at, 4, cpus);
    const auto run = qrxrun::runProgram(
        program, "farweight" + cpus, {{"farweight.csv", qrxrun::readFile(kDir + "farweight.csv")}});
    ASSERT_EQ(run.status, 0) << run.log;
    ASSERT_EQ(run.json["steps"].items.size(), roads.size()) << run.log;
    for (size_t i = 0; i < roads.size(); ++i)
      for (int g = 0; g < (roads[i].by ? 2 : 1); ++g) {
        const Value* s = qrxrun::findTable(run.json["steps"][i]["output"], "SelectionSummary", g);
        ASSERT_NE(s, nullptr) << roads[i].selection;
        std::set<std::string> in;
        if (roads[i].selection.rfind("backward", 0) == 0)
          in.insert(kStamp.begin(), kStamp.end());
        const size_t steps = (*s)["rows"].items.size();
        EXPECT_GE(steps, 2u) << roads[i].selection;
        for (size_t k = 0; k < steps; ++k) {
          const std::string entered = qrxrun::text(*s, k, "EffectEntered");
          if (!entered.empty() && entered != "Intercept")
            in.insert(entered);
          in.erase(qrxrun::text(*s, k, "EffectRemoved"));
          const double want =
              ref.at(std::to_string(g + 1) + " " + roads[i].folds + " " + inOrder(kStamp, in));
          EXPECT_NEAR(qrxrun::number(*s, k, "CVPRESS"), want, 1e-9 * want)
              << roads[i].selection << " group " << g + 1 << " step " << k << " cpus " << cpus;
        }
      }
  }
}

// A response near 1e6 that is an exact linear function of two integer columns is still a
// perfect fit: FORWARD stops there, with an error SS of 0.
TEST(FarResponse, AnExactLinearResponseStopsAsAPerfectFit) {
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      "proc varsifter data=line; model y = a b c / selection=forward(select=sl);\nrun;\n",
      "farresponseline", {{"line.csv", qrxrun::readFile(kDir + "line.csv")}});
  ASSERT_EQ(run.status, 0) << run.log;
  const Value& out = run.json["steps"][0]["output"];
  const Value* stop = qrxrun::findTable(out, "StopReason");
  const Value* summary = qrxrun::findTable(out, "SelectionSummary");
  const Value* anova = qrxrun::findTable(out, "ANOVA");
  ASSERT_TRUE(stop != nullptr && summary != nullptr && anova != nullptr) << run.log;
  EXPECT_EQ(qrxrun::number(*stop, 0, "Code"), 5); // a perfect fit
  EXPECT_EQ((*summary)["rows"].items.size(), 3u);
  EXPECT_EQ(qrxrun::number(*anova, 1, "SS"), 0.0);
}

// BACKWARD down to the intercept alone reports the corrected total as its error SS, exactly
// (an R-square of 0), on correlated designs of columns of every scale and level.
TEST(BackwardToIntercept, ErrorSSIsTheCorrectedTotal) {
  std::mt19937_64 gen(60);
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> uniform;
  std::string program;
  std::vector<std::pair<std::string, std::string>> files;
  constexpr int kDesigns = 16;
  for (int d = 0; d < kDesigns; ++d) {
    const int n = 30 + static_cast<int>(gen() % 170), p = 3 + static_cast<int>(gen() % 9);
    const size_t columns = static_cast<size_t>(p);
    std::vector<double> mix(columns * columns), scale(columns), level(columns), beta(columns);
    const double spread = 3 * uniform(gen);
    for (int i = 0; i < p; ++i) {
      for (int j = 0; j < p; ++j)
        mix[size_t(i * p + j)] = (i == j) + spread * normal(gen);
      scale[size_t(i)] = std::pow(10.0, -3 + 6 * uniform(gen));
      level[size_t(i)] = normal(gen) * std::pow(10.0, -2 + 6 * uniform(gen));
      beta[size_t(i)] = normal(gen) * uniform(gen);
    }
    std::string csv;
    // Appended piece by piece: GCC 12 takes "text" + std::string for an overlapping copy.
    for (int i = 0; i < p; ++i) {
      csv += "x";
      csv += std::to_string(i + 1);
      csv += ",";
    }
    csv += "y\n";
    char buf[32];
    for (int r = 0; r < n; ++r) {
      std::vector<double> z(columns);
      for (double& v : z)
        v = normal(gen);
      double y = normal(gen);
      for (int j = 0; j < p; ++j) {
        double x = 0;
        for (int i = 0; i < p; ++i)
          x += z[size_t(i)] * mix[size_t(i * p + j)];
        x = x * scale[size_t(j)] + level[size_t(j)];
        y += beta[size_t(j)] * x;
        std::snprintf(buf, sizeof buf, "%.17g,", x);
        csv += buf;
      }
      std::snprintf(buf, sizeof buf, "%.17g\n", y);
      csv += buf;
    }
    std::string name = "b";
    name += std::to_string(d);
    files.emplace_back(name + ".csv", csv);
    program += "proc varsifter data=" + name + "; model y = x1-x" + std::to_string(p) +
               " / selection=backward(select=sbc stop=none);\nrun;\n";
  }
  const qrxrun::ProgramRun run = qrxrun::runProgram(program, "backwardintercept", files);
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), size_t(kDesigns)) << run.log;
  for (int d = 0; d < kDesigns; ++d) {
    const Value* s = qrxrun::findTable(run.json["steps"][size_t(d)]["output"], "SelectionSummary");
    ASSERT_NE(s, nullptr) << d;
    const size_t last = (*s)["rows"].items.size() - 1;
    ASSERT_EQ(qrxrun::number(*s, last, "nEffectsIn"), 1) << d;
    EXPECT_EQ(qrxrun::number(*s, last, "RSquare"), 0.0) << "design " << d;
  }
}

// The least-angle paths on cross products grown on demand, and over the split levels of a
// 1,000-level CLASS effect stored sparse, report the corrected total of a response near 1.7e9
// (the sum of squares about the mean in long double here, and statsmodels' fits), where the
// raw sums less the mean's square keep none of its digits.
TEST(FarResponse, PathsReportTheCorrectedTotal) {
  std::vector<double> ys;
  const std::string levels = levelsCsv(1.7e9, &ys);
  long double sum = 0, squares = 0;
  for (const double y : ys)
    sum += y - 1.7e9;
  const long double centre = sum / static_cast<long double>(ys.size());
  for (const double y : ys)
    squares += (y - 1.7e9 - centre) * (y - 1.7e9 - centre);
  const double levelsTotal = static_cast<double>(squares);

  const std::string stamp = "proc varsifter data=stamp(where=(g=1)); model t = x1 x2 x3 x4 / ";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      stamp + "selection=lasso(stop=none); performance buildsscp=incremental;\nrun;\n" + stamp +
          "selection=lar(stop=none); performance buildsscp=incremental;\nrun;\n"
          "proc varsifter data=levels; class g; model y = g x1 x2 / selection=lasso(stop=none "
          "steps=20);\n"
          "run;\n",
      "farresponsepaths",
      {{"stamp.csv", qrxrun::readFile(kDir + "stamp.csv")}, {"levels.csv", levels}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 3u) << run.log;
  const Reference& all = references().at("stamp 1 x1 x2 x3 x4");
  for (size_t i = 0; i < 2; ++i) {
    const Value* anova = qrxrun::findTable(run.json["steps"][i]["output"], "ANOVA");
    ASSERT_NE(anova, nullptr) << i;
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), all.sse, 1e-8 * all.total) << i;
    EXPECT_NEAR(qrxrun::number(*anova, 2, "SS"), all.total, 1e-8 * all.total) << i;
  }
  const Value* anova = qrxrun::findTable(run.json["steps"][2]["output"], "ANOVA");
  ASSERT_NE(anova, nullptr);
  EXPECT_NEAR(qrxrun::number(*anova, 2, "SS"), levelsTotal, 1e-8 * levelsTotal);
  EXPECT_LT(qrxrun::number(*anova, 1, "SS"), levelsTotal);
}

// Model averaging over a response near 1.7e9: the spread of the intercept's estimates over the
// samples is that of the same data less 1.7e9 (an exact subtraction), not 0.
TEST(FarResponse, ModelAveragingKeepsTheSpreadOfTheIntercept) {
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "stamp.csv"));
  std::string far = "x1,x2,x3,x4,t\n", near = far;
  char buf[64];
  for (size_t i = 1; i < rows.size(); ++i) {
    if (rows[i][0] != "1")
      continue;
    const std::string xs = rows[i][1] + "," + rows[i][2] + "," + rows[i][3] + "," + rows[i][4];
    far += xs + "," + rows[i][5] + "\n";
    std::snprintf(buf, sizeof buf, ",%.17g\n", std::stod(rows[i][5]) - 1.7e9);
    near += xs + buf;
  }
  std::string program;
  for (const char* data : {"far", "near"})
    program += std::string("proc varsifter data=") + data +
               " seed=60; model t = x1 x2 x3 x4 / selection=forward(select=sbc);\n"
               "  modelaverage nsamples=30;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "farresponseavg", {{"far.csv", far}, {"near.csv", near}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 2u) << run.log;
  const Value* a = qrxrun::findTable(run.json["steps"][0]["output"], "AvgParmEst");
  const Value* b = qrxrun::findTable(run.json["steps"][1]["output"], "AvgParmEst");
  ASSERT_TRUE(a != nullptr && b != nullptr) << run.log;
  ASSERT_EQ(qrxrun::text(*a, 0, "Parameter"), "Intercept");
  const double spread = qrxrun::number(*b, 0, "StdDev");
  EXPECT_GT(spread, 0.1);
  EXPECT_NEAR(qrxrun::number(*a, 0, "StdDev"), spread, 1e-5 * spread);
}

// The many-level road (FORWARD over a 1,000-level CLASS effect) and the blocked sweep (a
// 70-level effect) give a response near 1.7e9 the error SS of the same data near 0 (its exact
// difference) at every step, within 1e-8 of the corrected total.
TEST(FarResponse, ManyLevelAndBlockedRoadsMatchTheResponseNearZero) {
  std::vector<double> ys;
  const std::string far = levelsCsv(1.7e9, &ys), near = levelsCsv(0.0, &ys);
  std::string program;
  for (const char* data : {"far", "near"})
    program += std::string("proc varsifter data=") + data +
               "; class g; model y = g x1 x2 / selection=forward(select=sl stop=none);\nrun;\n"
               "proc varsifter data=" +
               data + "; class h; model y = h x1 x2 / selection=none;\nrun;\n";
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "farresponseroads", {{"far.csv", far}, {"near.csv", near}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), 4u) << run.log;
  for (size_t i = 0; i < 2; ++i) {
    const Value& a = run.json["steps"][i]["output"];
    const Value& b = run.json["steps"][i + 2]["output"];
    const Value* anovaA = qrxrun::findTable(a, "ANOVA");
    const Value* anovaB = qrxrun::findTable(b, "ANOVA");
    ASSERT_TRUE(anovaA != nullptr && anovaB != nullptr) << run.log;
    const double total = qrxrun::number(*anovaB, 2, "SS");
    EXPECT_NEAR(qrxrun::number(*anovaA, 2, "SS"), total, 1e-8 * total) << i;
    EXPECT_NEAR(qrxrun::number(*anovaA, 1, "SS"), qrxrun::number(*anovaB, 1, "SS"), 1e-8 * total)
        << i;
    const Value* sa = qrxrun::findTable(a, "SelectionSummary");
    const Value* sb = qrxrun::findTable(b, "SelectionSummary");
    if (sa == nullptr || sb == nullptr)
      continue;
    ASSERT_EQ((*sa)["rows"].items.size(), (*sb)["rows"].items.size());
    EXPECT_EQ((*sa)["rows"].items.size(), 4u); // the intercept, g, x1 and x2
    for (size_t r = 0; r < (*sa)["rows"].items.size(); ++r)
      EXPECT_NEAR(qrxrun::number(*sa, r, "RSquare"), qrxrun::number(*sb, r, "RSquare"), 1e-8)
          << "step " << r;
  }
}

namespace {

struct NointReference {
  double sse = 0;
  std::vector<double> estimates, stderrs; // in the columns' order, g's levels first
};

// tests/data/farresponse/noint_ref.csv (scripts/gen_noint_far_ref.py) by "response effects".
std::map<std::string, NointReference> nointReferences() {
  std::map<std::string, NointReference> r;
  const auto rows = qrxrun::csvRows(qrxrun::readFile(kDir + "noint_ref.csv"));
  for (size_t i = 1; i < rows.size(); ++i) {
    NointReference ref;
    ref.sse = std::stod(rows[i][2]);
    std::istringstream est(rows[i][3]), se(rows[i][4]);
    for (double v; est >> v;)
      ref.estimates.push_back(v);
    for (double v; se >> v;)
      ref.stderrs.push_back(v);
    r[rows[i][0] + " " + rows[i][1]] = ref;
  }
  return r;
}

// The selected model's error SS (to 1e-9 of itself), estimates (to 1e-6 of their standard
// errors) and standard errors (to 1e-7 of themselves) against the reference of its effects.
void expectNointFit(const Value& step, const std::string& response,
                    const std::map<std::string, NointReference>& refs) {
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
  ASSERT_TRUE(pe != nullptr && anova != nullptr) << response;
  std::string effects, last;
  for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r) {
    const std::string e = qrxrun::text(*pe, r, "Effect");
    if (e != last && !effects.empty())
      effects += ' ';
    if (e != last)
      effects += e;
    last = e;
  }
  const auto found = refs.find(response + " " + effects);
  ASSERT_NE(found, refs.end()) << response << " on " << effects;
  const NointReference& ref = found->second;
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), ref.sse, 1e-9 * ref.sse) << effects;
  ASSERT_EQ((*pe)["rows"].items.size(), ref.estimates.size()) << effects;
  for (size_t r = 0; r < ref.estimates.size(); ++r) {
    const double se = ref.stderrs[r];
    EXPECT_NEAR(qrxrun::number(*pe, r, "Estimate"), ref.estimates[r], 1e-6 * se)
        << effects << " parameter " << r;
    EXPECT_NEAR(qrxrun::number(*pe, r, "StdErr"), se, 1e-7 * se) << effects << " parameter " << r;
  }
}

} // namespace

// Without an intercept the cross products are about 0, so a response near -2.2e8 with a
// spread of 1.3 (fitted through a CLASS effect's level indicators, which span the constant),
// and a response on columns near -3.5e7 and 1.1e4, leave error SSs far below the rounding of
// y'y: the fit without selection, the full model that CP needs and the model FORWARD selects
// report statsmodels' error SS, estimates and standard errors rather than an error SS of 0, and
// so does the model BACKWARD selects by cross validation, where the stop undoes a removal.
TEST(FarResponse, WithoutAnInterceptTheRowsResolveTheFit) {
  const std::vector<std::pair<std::string, std::string>> programs = {
      {"y", "class g; model y = g x1 x2 / noint selection=none"},
      {"y", "class g; model y = g x1 x2 / noint selection=forward(select=cp)"},
      {"y", "class g; model y = g x1 x2 / noint cvmethod=split(4) "
            "selection=backward(select=cv stop=cv include=1)"},
      {"t", "model t = a b / noint selection=none"},
  };
  std::string text;
  for (const auto& p : programs)
    text += "proc varsifter data=noint; " + p.second + ";\nrun;\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      text, "farresponsenoint", {{"noint.csv", qrxrun::readFile(kDir + "noint.csv")}});
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), programs.size()) << run.log;
  const auto refs = nointReferences();
  for (size_t i = 0; i < programs.size(); ++i) {
    SCOPED_TRACE(programs[i].second);
    expectNointFit(run.json["steps"][i], programs[i].first, refs);
  }
}
