// Graphs end to end through the qrx binary on the diabetes data: the JSON record's graph
// calls (names, templates, dynamic variables) and their Vega-Lite charts, checked
// against the schema the vega-lite package ships; the HTML page opened in headless Chromium
// draws one SVG per graph call with the marks the data imply (a curve per criterion, the
// optimum marker, the rule at the chosen step); step ranges and an empty range.
#include "programs/leastsquares.h"
#include "programs/openpages.h"
#include "programs/pagesearch.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using qrxrun::ProgramRun;
using qrxrun::Value;

namespace {

const std::string kLib = "libname ex '" + std::string(QRX_SOURCE_DIR) + "/examples';\n";

int shell(const std::string& cmd) {
  std::string ignored;
  return qrxrun::runCommand(cmd + " > /dev/null 2>&1", &ignored);
}

void collectGraphs(const Value& nodes, std::vector<const Value*>* out) {
  for (const Value& n : nodes.items) {
    if (n["kind"].s == "group")
      collectGraphs(n["children"], out);
    else if (n["kind"].s == "graph")
      out->push_back(&n);
  }
}

std::vector<const Value*> graphs(const ProgramRun& r) {
  std::vector<const Value*> out;
  for (const Value& step : r.json["steps"].items)
    collectGraphs(step["output"], &out);
  return out;
}

bool haveTool(const char* tool) { return shell(std::string("command -v ") + tool) == 0; }

fs::path webModules() { return fs::path(QRX_SOURCE_DIR) / "web" / "node_modules"; }

// The page tests need chromium, node and the graph libraries.
bool skipPages() { return !openpages::available() || !fs::exists(webModules() / "vega-embed"); }

// Runs the validator script on a run record; its output.
std::string validate(const fs::path& record, int* status) {
  std::string out;
  *status =
      qrxrun::runCommand("node '" + std::string(QRX_SOURCE_DIR) +
                             "/scripts/validate_vega_charts.js' '" + record.string() + "' 2>&1",
                         &out);
  return out;
}

// Every chart of a run's JSON record is valid Vega-Lite, and there are `graphs` of them.
void expectValidCharts(const std::string& json, const std::string& tag, size_t graphs) {
  const fs::path file =
      fs::temp_directory_path() / ("qrx_graphs_" + tag + "_" + std::to_string(::getpid()));
  std::ofstream(file) << json;
  int status = -1;
  const std::string out = validate(file, &status);
  fs::remove(file);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(std::to_string(graphs) + " graphs, 0 invalid"), std::string::npos) << out;
}

struct Page {
  std::string dom, console;
  std::string opener; // what the page opener said when it could not read the page
  int status = -1;
  std::string json;
};

// Runs the program with --html and --json and opens the page in headless Chromium; with
// QRX_PAGE_SHOTS=1 keeps two screenshots under the build directory: the page, and its graphs
// alone for people to look at (the README's pictures are of these).
Page runPage(const std::string& program, const std::string& tag) {
  Page p;
  fs::path dir =
      fs::temp_directory_path() / ("qrx_graphs_" + tag + "_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "p.qrx") << program;
  std::string ignored;
  p.status = qrxrun::runCommand(
      "ASAN_OPTIONS=detect_leaks=0 '" + std::string(QRX_BINARY) + "' --work '" + dir.string() +
          "' --html '" + (dir / "p.html").string() + "' --json '" + (dir / "r.json").string() +
          "' '" + (dir / "p.qrx").string() + "' 2>&1",
      &ignored);
  p.json = qrxrun::readFile(dir / "r.json");
  std::vector<openpages::Page> pages(1);
  pages[0].html = dir / "p.html";
  pages[0].shots = {{900, 1400, "graphs_" + tag + ".png", ""},
                    {820, 640, "graphs_" + tag + "_only.png",
                     "section.output.table, section.output.factoid, p.text, pre.log, hr.rule"}};
  p.opener = openpages::open(pages);
  p.dom = pages[0].dom;
  p.console = pages[0].console;
  fs::remove_all(dir);
  return p;
}

int count(const std::string& text, const std::string& expression) {
  return pagesearch::Pattern(expression).count(text);
}

// The mark elements Vega drew for the layer named `name` (its group's children).
int marksOf(const std::string& dom, const std::string& name) {
  const pagesearch::Pattern group("<g class=\"mark-[a-z]+ role-mark " + name +
                                  "_marks\"[^>]*>([\\s\\S]*?)</g>");
  int n = 0;
  for (const std::string& marks : group.captures(dom))
    n += count(marks, "<(path|line|text|rect)[ >]");
  return n;
}

const std::string kStepwise =
    "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc);\nrun;\n";

} // namespace

TEST(Graphs, CriterionAndAsePlotCallsInTheRecord) {
  ProgramRun r = qrxrun::runProgram(
      kLib + "proc varsifter data=ex.diabetes plots=all;\n" + kStepwise +
          "proc varsifter data=ex.diabetes plots(unpack stepaxis=number)=(criteria ase);\n" +
          kStepwise,
      "graphs_calls", {}, {}, QRX_SOURCE_DIR);
  std::vector<const Value*> g = graphs(r);
  ASSERT_EQ(g.size(), 3u + 4u + 1u) << r.log;
  // PLOTS=ALL: the coefficient panel, then the criterion panel and the ASE plot.
  EXPECT_EQ((*g[0])["template"].s, "Stat.VARSIFTER.Graphics.CoefficientPanel");
  g.erase(g.begin());
  // The panel: four criteria (AIC, AICC, SBC, adjusted R-square) in two rows of two.
  EXPECT_EQ((*g[0])["template"].s, "Stat.VARSIFTER.Graphics.CriterionPanel");
  const Value& d = (*g[0])["dynamics"];
  EXPECT_EQ(d["_NROWS"].n, 2);
  EXPECT_EQ(d["_NCOLS"].n, 2);
  EXPECT_EQ(d["_CRITERION4"].s, "AdjRSq");
  EXPECT_EQ(d["_OPTSTEP3"].s, "SBCStepLabel");
  // Seven steps: the automatic axis is the step label; the chosen step (SBC's optimum, step
  // 6) is the label "6+S2".
  EXPECT_EQ(d["_STEPAXIS"].s, "STEPLABEL");
  EXPECT_EQ(d["_CHOSENVALUE"].s, "6+S2");
  EXPECT_EQ((*g[1])["name"].s, "ASEPlot");
  EXPECT_EQ((*g[1])["dynamics"]["_ASEROLES"].n, 0);
  // Unpacked with STEPAXIS=NUMBER: one graph per criterion, the chosen step as a number.
  EXPECT_EQ((*g[2])["name"].s, "AICPlot");
  EXPECT_EQ((*g[4])["name"].s, "SBCPlot");
  EXPECT_EQ((*g[4])["template"].s, "Stat.VARSIFTER.Graphics.CriterionPlot");
  EXPECT_EQ((*g[4])["dynamics"]["_OPTSTEP"].s, "SBCStep");
  EXPECT_EQ((*g[4])["dynamics"]["_CHOSENVALUE"].n, 6);
  EXPECT_EQ((*g[4])["dynamics"]["_STEPAXIS"].s, "STEP");
}

TEST(Graphs, StepRangesAndAnEmptyRange) {
  ProgramRun r = qrxrun::runProgram(
      kLib + "proc varsifter data=ex.diabetes plots(startstep=2 endstep=4)=(criteria ase);\n" +
          kStepwise + "proc varsifter data=ex.diabetes plots(startstep=20)=(criteria ase);\n" +
          kStepwise,
      "graphs_range", {}, {}, QRX_SOURCE_DIR);
  std::vector<const Value*> g = graphs(r);
  ASSERT_EQ(g.size(), 2u) << r.log;
  // The range leaves the chosen step 6 out, and the SBC optimum (step 6) gets no value
  // column; the graphs read only the shown steps.
  const Value& d = (*g[0])["dynamics"];
  EXPECT_TRUE(d["_CHOSENVALUE"].kind == Value::Null);
  EXPECT_TRUE(d["_OPTVAL3"].s.empty());
  EXPECT_EQ(d["_OPTVAL1"].s.empty(), true); // AIC's optimum is step 6 as well
  for (const Value* graph : g) {
    const Value& rows = (*graph)["vegaLite"]["datasets"]["summary"];
    ASSERT_EQ(rows.items.size(), 3u);
    EXPECT_EQ(rows.items[0]["Step"].n, 2);
    EXPECT_EQ(rows.items[2]["Step"].n, 4);
  }
  // STARTSTEP=20 on a path of six steps: both warnings, return code 4, no graph.
  const Value& startStep = r.json["steps"].items[1];
  EXPECT_GT(qrxrun::messageCount(startStep, VsfMsg::CriterionPlotsStepRangeEmpty), 0);
  EXPECT_GT(qrxrun::messageCount(startStep, VsfMsg::AsePlotStepRangeEmpty), 0);
  EXPECT_EQ(r.json["steps"].items[1]["returnCode"].n, 4);
  EXPECT_EQ(r.status, 1);
}

TEST(Graphs, ChartsValidateAgainstTheVegaLiteSchema) {
  if (!haveTool("node") || !fs::exists(webModules() / "ajv"))
    GTEST_SKIP() << "node or the npm packages are not installed (scripts/setup installs them)";
  fs::path dir = fs::temp_directory_path() / ("qrx_graphs_schema_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "p.qrx") << kLib + "proc varsifter data=ex.diabetes plots=all;\n" +
                                      kStepwise +
                                      "proc varsifter data=ex.diabetes plots(unpack "
                                      "endstep=3)=(criteria ase);\n" +
                                      kStepwise;
  std::string ignored;
  qrxrun::runCommand("ASAN_OPTIONS=detect_leaks=0 '" + std::string(QRX_BINARY) + "' --work '" +
                         dir.string() + "' --json '" + (dir / "r.json").string() + "' '" +
                         (dir / "p.qrx").string() + "' 2>&1",
                     &ignored);
  int status = -1;
  std::string out = validate(dir / "r.json", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find("8 graphs, 0 invalid"), std::string::npos) << out;
  // The validator rejects what is not Vega-Lite.
  std::ofstream(dir / "bad.json")
      << R"({"steps":[{"output":[{"kind":"graph","name":"X","vegaLite":{"mark":"nosuchmark"}}]}]})";
  out = validate(dir / "bad.json", &status);
  EXPECT_EQ(status, 1) << out;
  fs::remove_all(dir);
}

TEST(Graphs, PageDrawsEveryGraphWithItsMarks) {
  if (skipPages())
    GTEST_SKIP() << "chromium, node or the npm packages are not installed (scripts/setup)";
  Page p = runPage(kLib + "proc varsifter data=ex.diabetes plots=all;\n" + kStepwise +
                       "proc varsifter data=ex.diabetes plots(unpack)=criteria;\n" + kStepwise,
                   "stepwise");
  EXPECT_EQ(p.status, 0) << p.json;
  ASSERT_FALSE(p.dom.empty()) << "Chromium gave no document\n" << p.opener;
  EXPECT_EQ(p.console, "");
  const int sections = count(p.dom, "<section class=\"output graph\"");
  EXPECT_EQ(sections, 7);
  EXPECT_EQ(count(p.dom, "<svg[^>]*class=\"marks\""), sections);
  // The panel: one curve of seven points per criterion, each with its optimum marker and
  // the rule at the chosen step.
  for (int k = 1; k <= 4; ++k) {
    std::string s = std::to_string(k);
    EXPECT_EQ(marksOf(p.dom, "curve" + s), 1) << k;
    EXPECT_EQ(marksOf(p.dom, "optimum" + s), 1) << k;
    EXPECT_EQ(marksOf(p.dom, "chosen" + s), 1) << k;
  }
  // ASE plot and the four unpacked plots: a curve and the chosen rule each; the unpacked
  // plots each have their optimum.
  EXPECT_EQ(marksOf(p.dom, "curve"), 5);
  EXPECT_EQ(marksOf(p.dom, "chosen"), 5);
  EXPECT_EQ(marksOf(p.dom, "optimum"), 4);
  // Nothing is fetched: no script or link refers to the network.
  EXPECT_EQ(count(p.dom, "(src|href)=\"https?:"), 0);
}

namespace {

// The graphs of a run record whose template ends in `templ`.
std::vector<const Value*> graphsOf(const Value& record, const std::string& templ) {
  std::vector<const Value*> all, out;
  for (const Value& step : record["steps"].items)
    collectGraphs(step["output"], &all);
  for (const Value* g : all)
    if ((*g)["template"].s == "Stat.VARSIFTER.Graphics." + templ)
      out.push_back(g);
  return out;
}

const Value& coefRows(const Value& graph) { return graph["vegaLite"]["datasets"]["coef"]; }

int distinctCurves(const Value& rows) {
  std::vector<double> seen;
  for (const Value& row : rows.items)
    if (std::find(seen.begin(), seen.end(), row["CurveNumber"].n) == seen.end())
      seen.push_back(row["CurveNumber"].n);
  return static_cast<int>(seen.size());
}

int validRows(const Value& rows, const std::string& field) {
  int n = 0;
  for (const Value& row : rows.items)
    n += row[field].kind == Value::Number;
  return n;
}

// The graph sections of the page, in page order.
std::vector<std::string> graphSections(const std::string& dom) {
  std::vector<std::string> out;
  const std::string start = "<section class=\"output graph\"";
  for (size_t at = dom.find(start); at != std::string::npos;) {
    size_t next = dom.find("<section", at + start.size());
    out.push_back(dom.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next == std::string::npos ? next : dom.find(start, next);
  }
  return out;
}

// A page that Chromium drew: its run record, the record's graph calls and the page's graph
// sections, in the same order.
struct DrawnPage {
  Value record;
  std::vector<const Value*> graphs;
  std::vector<std::string> sections;
};

// Reads a drawn page; a test failure unless the run succeeded without console messages and
// the page has one section and one rendered SVG per graph call.
void readDrawnPage(const Page& p, DrawnPage* d) {
  EXPECT_EQ(p.status, 0) << p.json;
  ASSERT_FALSE(p.dom.empty()) << "Chromium gave no document\n" << p.opener;
  EXPECT_EQ(p.console, "");
  std::string error;
  ASSERT_TRUE(minijson::Parser(p.json).parse(&d->record, &error)) << error;
  for (const Value& step : d->record["steps"].items)
    collectGraphs(step["output"], &d->graphs);
  d->sections = graphSections(p.dom);
  ASSERT_EQ(d->sections.size(), d->graphs.size());
  EXPECT_EQ(count(p.dom, "<svg[^>]*class=\"marks\""), static_cast<int>(d->graphs.size()));
}

// The labels a coefficient plot keeps, by the thinning rule written out on its own: the
// values of the plotted parameters and a zero for the parameters that are not plotted (the
// intercept), largest first; the top label, then going down the labels more than `gap` x
// range below the last kept one while above 1% of the range, the bottom label unless it is
// zero, and going up from it the labels more than the gap above the last kept one while
// below -1% of the range. Indices into `plotted`.
std::vector<size_t> keptByRule(const std::vector<double>& plotted, double gapFraction) {
  std::vector<double> v = plotted;
  v.push_back(0.0);
  std::vector<size_t> order(v.size());
  for (size_t i = 0; i < order.size(); ++i)
    order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return v[a] > v[b]; });
  const size_t n = v.size();
  const double range = v[order[0]] - v[order[n - 1]], gap = gapFraction * range;
  std::vector<size_t> kept{order[0]};
  double last = v[order[0]];
  for (size_t i = 1; n >= 3 && i < n - 1 && v[order[i]] > range / 100; ++i)
    if (last - v[order[i]] > gap)
      kept.push_back(order[i]), last = v[order[i]];
  if (v[order[n - 1]] != 0.0)
    kept.push_back(order[n - 1]);
  last = v[order[n - 1]];
  for (size_t i = n - 1; i-- > 0 && v[order[i]] < -range / 100;)
    if (v[order[i]] - last > gap)
      kept.push_back(order[i]), last = v[order[i]];
  std::vector<size_t> out;
  for (size_t k : kept)
    if (k < plotted.size())
      out.push_back(k);
  std::sort(out.begin(), out.end());
  return out;
}

// Checks the right-hand labels of a coefficient graph against the rule at its last step.
void expectThinnedLabels(const Value& graph, double gapFraction, int lastStep) {
  const Value& rows = coefRows(graph);
  std::vector<double> values;
  std::vector<size_t> labelled;
  for (const Value& row : rows.items) {
    if (row["Step"].n != lastStep) {
      EXPECT_TRUE(row["RhsLabelYValue"].kind == Value::Null) << row["Step"].n;
      continue;
    }
    if (row["RhsLabelYValue"].kind == Value::Number) {
      labelled.push_back(values.size());
      EXPECT_DOUBLE_EQ(row["RhsLabelYValue"].n, row["StandardizedEst"].n);
    }
    values.push_back(row["StandardizedEst"].n);
  }
  ASSERT_GT(values.size(), 10u);
  std::vector<size_t> expected = keptByRule(values, gapFraction);
  EXPECT_EQ(labelled, expected);
  EXPECT_LT(labelled.size(), values.size()); // the rule drops some on this path
}

const std::string kMany = "  model y = age|sex|bmi|bp|s1|s2 @2 s3-s6 / "
                          "selection=forward(select=sbc stop=none);\nrun;\n";

} // namespace

TEST(Graphs, CoefficientLabelsThinnedAndStepRanges) {
  ProgramRun r = qrxrun::runProgram(
      kLib + "proc varsifter data=ex.diabetes plots=coefficients;\n" + kMany +
          "proc varsifter data=ex.diabetes plots(startstep=3)=coefficients(labelgap=20 "
          "endstep=12);\n" +
          kMany + "proc varsifter data=ex.diabetes plots(startstep=40)=coefficients;\n" + kMany,
      "graphs_coefs", {}, {}, QRX_SOURCE_DIR);
  std::vector<const Value*> g = graphsOf(r.json, "CoefficientPanel");
  ASSERT_EQ(g.size(), 2u) << r.log;
  // Six main effects, their fifteen two-way interactions and four more: all 25 enter.
  const Value& whole = coefRows(*g[0]);
  EXPECT_EQ(distinctCurves(whole), 25);
  EXPECT_EQ(whole.items.size(), 26u * 25u); // steps 0 to 25, one row per curve
  EXPECT_EQ((*g[0])["dynamics"]["_STEPAXIS"].s, "STEPLABEL");
  EXPECT_EQ((*g[0])["dynamics"]["_NUMSTEPS"].n, 25);
  expectThinnedLabels(*g[0], 0.05, 25);
  // The range keeps steps 3 to 12 in the data; the labels sit at step 12 with a gap of 20%.
  const Value& part = coefRows(*g[1]);
  EXPECT_EQ(part.items.size(), 10u * 25u);
  EXPECT_EQ(part.items.front()["Step"].n, 3);
  EXPECT_EQ(part.items.back()["Step"].n, 12);
  expectThinnedLabels(*g[1], 0.20, 12);
  // Criteria only in the first row of a step; AIC of step 3 as the summary gives it.
  EXPECT_TRUE(part.items[0]["AIC"].kind == Value::Number);
  EXPECT_TRUE(part.items[1]["AIC"].kind == Value::Null);
  // STARTSTEP=40 on 25 steps: warning 227, return code 4, no coefficient graph.
  const Value& last = r.json["steps"].items[2];
  EXPECT_GT(qrxrun::messageCount(last, VsfMsg::CoefficientPlotStepRangeEmpty), 0);
  EXPECT_EQ(last["returnCode"].n, 4);
}

namespace {

// FORWARD and STEPWISE with the candidates plots, STEPWISE on p-values with the plots
// unpacked, the log p-values and candidates for entry and removal together, and LASSO.
const std::string kPathPlots =
    kLib + "proc varsifter data=ex.diabetes plots=(all candidates);\n" +
    "  model y = age sex bmi bp s1-s6 / selection=forward(select=sbc);\nrun;\n" +
    "proc varsifter data=ex.diabetes plots(unpack logp)=(all candidates(show=4));\n" +
    "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sl);\nrun;\n" +
    "proc varsifter data=ex.diabetes plots=candidates;\n" +
    "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc drop=competitive);\nrun;\n" +
    "proc varsifter data=ex.diabetes plots=all;\n" +
    "  model y = age sex bmi bp s1-s6 / selection=lasso(choose=sbc);\nrun;\n";

} // namespace

TEST(Graphs, CoefficientAndCandidateChartsValidate) {
  if (!haveTool("node") || !fs::exists(webModules() / "ajv"))
    GTEST_SKIP() << "node or the npm packages are not installed (scripts/setup installs them)";
  fs::path dir = fs::temp_directory_path() / ("qrx_graphs_pschema_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "p.qrx") << kPathPlots;
  std::string ignored;
  qrxrun::runCommand("ASAN_OPTIONS=detect_leaks=0 '" + std::string(QRX_BINARY) + "' --work '" +
                         dir.string() + "' --json '" + (dir / "r.json").string() + "' '" +
                         (dir / "p.qrx").string() + "' 2>&1",
                     &ignored);
  Value record;
  std::string error;
  ASSERT_TRUE(minijson::Parser(qrxrun::readFile(dir / "r.json")).parse(&record, &error)) << error;
  EXPECT_EQ(graphsOf(record, "CoefficientPanel").size(), 2u);
  EXPECT_EQ(graphsOf(record, "CoefficientPlot").size(), 1u);
  EXPECT_EQ(graphsOf(record, "PValuePlot").size(), 1u);
  const size_t candidates = graphsOf(record, "CandidatesPlot").size();
  EXPECT_GE(candidates, 8u);
  std::vector<const Value*> all;
  for (const Value& step : record["steps"].items)
    collectGraphs(step["output"], &all);
  int status = -1;
  std::string out = validate(dir / "r.json", &status);
  EXPECT_EQ(status, 0) << out;
  EXPECT_NE(out.find(std::to_string(all.size()) + " graphs, 0 invalid"), std::string::npos) << out;
  fs::remove_all(dir);
}

TEST(Graphs, PageDrawsCoefficientCurvesAndCandidateBars) {
  if (skipPages())
    GTEST_SKIP() << "chromium, node or the npm packages are not installed (scripts/setup)";
  Page p = runPage(kPathPlots, "paths");
  DrawnPage d;
  readDrawnPage(p, &d);
  if (HasFatalFailure())
    return;
  const std::vector<const Value*>& all = d.graphs;
  const std::vector<std::string>& sections = d.sections;
  int coefficientGraphs = 0, candidateGraphs = 0, needles = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const Value& g = *all[i];
    const std::string& s = sections[i];
    const std::string templ =
        g["template"].s.substr(std::string("Stat.VARSIFTER.Graphics.").size());
    const bool chosen = g["dynamics"].has("_CHOSENVALUE");
    if (templ == "CoefficientPanel" || templ == "CoefficientPlot") {
      // One curve per plotted parameter, labels where the data keep them, the chosen rule.
      ++coefficientGraphs;
      const Value& rows = coefRows(g);
      EXPECT_EQ(marksOf(s, "coefficients"), distinctCurves(rows)) << i;
      EXPECT_EQ(marksOf(s, "labels"), validRows(rows, "RhsLabelYValue")) << i;
      EXPECT_EQ(marksOf(s, "chosen_coef"), chosen ? 1 : 0) << i;
      EXPECT_TRUE(chosen) << i;
      // The rule's data place it at the chosen value on the step axis.
      const Value& c = g["dynamics"]["_CHOSENVALUE"];
      bool placed = false;
      for (const auto& [name, set] : g["vegaLite"]["datasets"].members)
        if (name != "coef" && set.items.size() == 1)
          for (const auto& [field, v] : set.items[0].members)
            placed = placed || (v.kind == c.kind && v.s == c.s && v.n == c.n);
      EXPECT_TRUE(placed) << i;
    }
    if (templ == "PValuePlot") {
      // Needles for the steps that add and for those that drop.
      const Value& rows = coefRows(g);
      needles = marksOf(s, "pvaladd") + marksOf(s, "pvaldrop");
      EXPECT_EQ(needles, validRows(rows, "LogPValAdd") + validRows(rows, "LogPValDrop")) << i;
      EXPECT_EQ(marksOf(s, "chosen_lower"), chosen ? 1 : 0) << i;
    }
    if (templ == "CandidatesPlot") {
      ++candidateGraphs;
      const Value& rows = g["vegaLite"]["datasets"]["candidates"];
      EXPECT_EQ(marksOf(s, "candidates") + marksOf(s, "candidatesdrop"),
                validRows(rows, "Criterion") + validRows(rows, "CriterionDrop"))
          << i;
      EXPECT_LE(rows.items.size(), g["dynamics"]["_STEPNUMBER"].n > 0 ? 10u : 0u);
    }
    if (templ == "CriterionPanel") {
      // The optimum of each criterion at its optimal step, and the chosen rule.
      for (int k = 1; g["dynamics"].has("_CRITERION" + std::to_string(k)); ++k) {
        EXPECT_EQ(marksOf(s, "optimum" + std::to_string(k)), 1) << i << " " << k;
        EXPECT_EQ(marksOf(s, "chosen" + std::to_string(k)), 1) << i << " " << k;
      }
    }
  }
  EXPECT_EQ(coefficientGraphs, 3);
  EXPECT_GE(candidateGraphs, 8);
  EXPECT_GT(needles, 0);
}

namespace {

// The (curve number, curve index, label) of each curve of the run's coefficient panels.
std::vector<std::vector<std::string>> curveLabels(const Value& record) {
  std::vector<std::vector<std::string>> out;
  for (const Value* g : graphsOf(record, "CoefficientPanel")) {
    std::vector<std::string> labels;
    for (const Value& row : coefRows(*g).items)
      if (row["Step"].n == 0)
        labels.push_back(std::to_string(static_cast<int>(row["CurveIndex"].n)) + ":" +
                         row["Parameter"].s);
    out.push_back(labels);
  }
  return out;
}

} // namespace

TEST(Graphs, CurveLabelsFollowTheParameterLabelStyle) {
  const std::string model = "  class sex;\n  model y = sex bmi sex*bp / "
                            "selection=forward(select=sbc stop=none);\nrun;\n";
  ProgramRun r = qrxrun::runProgram(
      kLib + "proc varsifter data=ex.diabetes plots=coefficients parmlabelstyle=interlaced;\n" +
          model + "proc varsifter data=ex.diabetes plots=coefficients parmlabelstyle=separate;\n" +
          model,
      "graphs_labelstyle", {}, {}, QRX_SOURCE_DIR);
  // The parameters of one effect share its curve index; INTERLACED labels are the design
  // columns' texts, SEPARATE ones the effect name followed by the level.
  std::vector<std::vector<std::string>> labels = curveLabels(r.json);
  ASSERT_EQ(labels.size(), 2u) << r.log;
  EXPECT_EQ(labels[0], (std::vector<std::string>{"1:SEX 1", "1:SEX 2", "2:BMI", "3:SEX 1 * BP",
                                                 "3:SEX 2 * BP"}));
  EXPECT_EQ(labels[1],
            (std::vector<std::string>{"1:SEX 1", "1:SEX 2", "2:BMI", "3:BP*SEX 1", "3:BP*SEX 2"}));
  // SPLIT parts are effects of their own: one curve each, labelled as their parameters in
  // the estimates table.
  std::string data = "g,x1,y\n";
  const char* levels[] = {"alpha", "beta", "gamma"};
  for (int i = 0; i < 30; ++i)
    data += std::string(levels[i % 3]) + "," + std::to_string((i * 7 % 11) - 5) + "," +
            std::to_string(2 * ((i * 7 % 11) - 5) + 3 * (i % 3) + (i * 5 % 3)) + "\n";
  qrxrun::Run split = qrxrun::run("proc varsifter data=d plots=coefficients;\n"
                                  "  class g / split;\n  model y = g x1 / "
                                  "selection=forward(select=sbc stop=none);\nrun;\n",
                                  "graphs_split", {{"d.csv", data}});
  labels = curveLabels(split.json);
  ASSERT_EQ(labels.size(), 1u) << split.log;
  std::vector<std::string> expected;
  std::function<void(const Value&)> walk = [&](const Value& nodes) {
    for (const Value& n : nodes.items) {
      if (n["kind"].s == "group")
        walk(n["children"]);
      if (n["name"].s == "ParameterEstimates")
        for (const Value& row : n["rows"].items)
          if (row[0].s != "Intercept")
            expected.push_back(row[2].s);
    }
  };
  walk(split.json["steps"][0]["output"]);
  ASSERT_EQ(labels[0].size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(labels[0][i], std::to_string(i + 1) + ":" + expected[i]);
}

namespace {

struct RoleRow {
  double y, x[3];
  char role;
};

std::vector<RoleRow> roleRows(const char* roles) {
  std::vector<RoleRow> out;
  for (int i = 0; i < 45; ++i) {
    RoleRow r{};
    r.x[0] = std::sin(i * 1.3) * 2;
    r.x[1] = std::cos(i * 0.7) + 0.1 * i;
    r.x[2] = ((i * 17) % 11) / 5.0 - 1;
    r.y = 1 + 2 * r.x[0] - r.x[1] + 0.3 * r.x[2] + std::sin(i * 5.1);
    r.role = roles[i % 3];
    out.push_back(r);
  }
  return out;
}

std::string roleCsv(const std::vector<RoleRow>& rows) {
  std::ostringstream s;
  s.precision(17);
  s << "y,x1,x2,x3,rl\n";
  for (const RoleRow& r : rows)
    s << r.y << "," << r.x[0] << "," << r.x[1] << "," << r.x[2] << "," << r.role << "\n";
  return s.str();
}

} // namespace

TEST(Graphs, CoefficientDataAgainstLeastSquaresAndValidationAse) {
  const std::string program = "proc varsifter data=d plots=coefficients;\n"
                              "  partition rolevar=rl(train='T' validate='V' test='S');\n"
                              "  model y = x1 x2 x3 / selection=forward(select=sbc stop=none);\n"
                              "run;\n";
  std::vector<RoleRow> rows = roleRows("TTV");
  qrxrun::Run r = qrxrun::run(program, "graphs_vase", {{"d.csv", roleCsv(rows)}});
  std::vector<const Value*> g = graphsOf(r.json, "CoefficientPanel");
  ASSERT_EQ(g.size(), 1u) << r.log;
  // Training sample standard deviations of the regressors and of the response.
  auto sd = [&](auto value) {
    double n = 0, s = 0, ss = 0;
    for (const RoleRow& row : rows)
      if (row.role == 'T')
        n += 1, s += value(row), ss += value(row) * value(row);
    return std::sqrt((ss - s * s / n) / (n - 1));
  };
  const double sy = sd([](const RoleRow& row) { return row.y; });
  std::vector<int> entered;
  int step = -1;
  std::vector<double> beta;
  double vase = 0;
  for (const Value& row : coefRows(*g[0]).items) {
    if (row["Step"].n != step) {
      // A new step: its effect from the step label, then the least-squares fit on the
      // training rows and its average squared error on the validation rows.
      step = static_cast<int>(row["Step"].n);
      const std::string label = row["StepLabel"].s;
      if (step > 0)
        entered.push_back(label.back() - '1');
      std::vector<std::vector<double>> x;
      std::vector<double> y, w;
      for (const RoleRow& o : rows)
        if (o.role == 'T') {
          x.push_back({1.0});
          for (int k : entered)
            x.back().push_back(o.x[k]);
          y.push_back(o.y), w.push_back(1.0);
        }
      beta = qrxrun::leastSquares(x, y, w);
      double sum = 0, n = 0;
      for (const RoleRow& o : rows)
        if (o.role == 'V') {
          double fit = beta[0];
          for (size_t k = 0; k < entered.size(); ++k)
            fit += beta[k + 1] * o.x[entered[k]];
          sum += (o.y - fit) * (o.y - fit), n += 1;
        }
      vase = sum / n;
    }
    // Every row of the step carries the validation ASE; the standardized estimate is the
    // coefficient times the regressor's standard deviation over the response's.
    EXPECT_NEAR(row["ValidationASE"].n, vase, 1e-9 * vase) << step;
    const int parm = static_cast<int>(row["CurveNumber"].n) - 1;
    const auto at = std::find(entered.begin(), entered.end(), parm);
    const double expected = at == entered.end()
                                ? 0.0
                                : beta[static_cast<size_t>(at - entered.begin()) + 1] *
                                      sd([&](const RoleRow& o) { return o.x[parm]; }) / sy;
    EXPECT_NEAR(row["StandardizedEst"].n, expected, 1e-9) << step << " " << parm;
  }
  EXPECT_EQ(step, 3);
  // Validation declared but no validation rows: the column is there, with missing values.
  qrxrun::Run none = qrxrun::run(program, "graphs_novase", {{"d.csv", roleCsv(roleRows("TTS"))}});
  g = graphsOf(none.json, "CoefficientPanel");
  ASSERT_EQ(g.size(), 1u) << none.log;
  const Value& empty = coefRows(*g[0]);
  ASSERT_EQ(empty.items.size(), 12u);
  for (const Value& row : empty.items) {
    EXPECT_TRUE(row.has("ValidationASE"));
    EXPECT_TRUE(row["ValidationASE"].kind == Value::Null);
  }
}

namespace {

// The data set of the layer named `layer` in a graph's chart (null when none).
const Value* layerData(const Value& graph, const std::string& layer) {
  const Value& spec = graph["vegaLite"];
  for (const Value& l : spec["layer"].items)
    if (l["name"].s == layer)
      return &spec["datasets"][l["data"]["name"].s];
  return nullptr;
}

const std::string kElasticNet =
    "  model y = age sex bmi bp s1-s6 / selection=elasticnet(l2search=grid l2low=0.001 "
    "l2high=10 l2steps=6 stop=none choose=sbc showl2search$);\nrun;\n";

std::string cvexProgram(const std::string& data, const std::string& choice) {
  return "proc varsifter data=" + data +
         " plots=all;\n  model y = age sex bmi bp s1-s6 / selection=lasso(choose=cvex "
         "stop=none l1choice=" +
         choice + " showcvex$) cvmethod=split(3);\nrun;\n";
}

} // namespace

TEST(Graphs, ElasticNetTuningGraphsMarkTheKeptL2) {
  ProgramRun r =
      qrxrun::runProgram(kLib + "proc varsifter data=ex.diabetes plots=all;\n" + kElasticNet,
                         "graphs_elnet", {}, {}, QRX_SOURCE_DIR);
  std::vector<const Value*> g = graphsOf(r.json, "ElasticNetL2TuningPlot");
  ASSERT_EQ(g.size(), 7u) << r.log;
  const char* names[] = {"LogL2Plot",  "ChooseCriterionPlot", "L1Plot",    "nVarPlot",
                         "L1NormPlot", "L2NormPlot",          "nStepsPlot"};
  const char* columns[] = {"LogL2", "CriterionValue", "L1", "nVar", "L1Norm", "L2Norm", "nSteps"};
  // The search keeps the L2 with the smallest SBC: found here from the rows themselves.
  const Value& rows = (*g[0])["vegaLite"]["datasets"]["tuning"];
  ASSERT_EQ(rows.items.size(), 6u);
  size_t best = 0;
  for (size_t i = 0; i < rows.items.size(); ++i) {
    const Value& row = rows.items[i];
    EXPECT_EQ(row["Step"].n, static_cast<double>(i + 1));
    EXPECT_NEAR(row["LogL2"].n, std::log10(row["L2"].n), 1e-12);
    if (row["CriterionValue"].n < rows.items[best]["CriterionValue"].n)
      best = i;
  }
  for (size_t i = 0; i < rows.items.size(); ++i)
    EXPECT_EQ(rows.items[i]["OptCriterion"].n, i == best ? 1 : 0) << i;
  const Value& kept = rows.items[best];
  for (size_t k = 0; k < g.size(); ++k) {
    const Value& graph = *g[k];
    const Value& d = graph["dynamics"];
    EXPECT_EQ(graph["name"].s, names[k]);
    EXPECT_EQ(d["_CRITERION"].s, columns[k]);
    // The first graph runs over the trial number, the others over log10 of L2.
    const bool byTrial = k == 0;
    EXPECT_EQ(d["_STEPAXIS"].s, byTrial ? "STEP" : "LogL2");
    EXPECT_NEAR(d["_CHOSENVALUE"].n, byTrial ? static_cast<double>(best + 1) : kept["LogL2"].n,
                1e-12)
        << k;
    // The marked point is the kept trial's.
    const Value* opt = layerData(graph, "optimum");
    ASSERT_NE(opt, nullptr) << k;
    ASSERT_EQ(opt->items.size(), 1u) << k;
    EXPECT_EQ((*opt)[0][columns[k]].n, kept[columns[k]].n) << k;
  }
  EXPECT_EQ((*g[1])["dynamics"]["_YLABEL"].s, "Schwarz Bayesian Criterion");
}

TEST(Graphs, ExternalCvCurveOverTheMergedGrid) {
  const std::string data = qrxrun::readFile(std::string(QRX_TEST_DATA) + "/cv/cvdata.csv");
  for (const std::string choice : {"ratio", "norm", "value"}) {
    ProgramRun r = qrxrun::runProgram(cvexProgram("cvdata", choice), "graphs_cvex" + choice,
                                      {{"cvdata.csv", data}});
    std::vector<const Value*> g = graphsOf(r.json, "CVEXTERNAL");
    ASSERT_EQ(g.size(), 1u) << r.log;
    // The averaged held-out error at each merged grid point, as scikit-learn's fold paths
    // give it (scripts/gen_cvex_ref.py); the grid on a log axis floored at -6 except NORM.
    const auto ref =
        qrxrun::csvNumbers(std::string(QRX_TEST_DATA) + "/cvex/curve_" + choice + ".csv");
    const Value& rows = (*g[0])["vegaLite"]["datasets"]["tuning"];
    ASSERT_EQ(rows.items.size(), ref.size()) << choice;
    size_t best = 0;
    bool floored = false;
    for (size_t i = 0; i < ref.size(); ++i) {
      const double x = choice == "norm"   ? ref[i][0]
                       : ref[i][0] < 1e-6 ? -6.0
                                          : std::log10(ref[i][0]);
      floored = floored || x == -6.0;
      EXPECT_NEAR(rows.items[i]["L1"].n, x, 1e-9 * (1 + std::fabs(x))) << choice << " " << i;
      EXPECT_NEAR(rows.items[i]["ASEValidate"].n, ref[i][1], 1e-9 * ref[i][1]) << choice << i;
      if (ref[i][1] < ref[best][1])
        best = i;
    }
    EXPECT_EQ(floored, choice != "norm");
    const Value& d = (*g[0])["dynamics"];
    EXPECT_EQ(d["_STEPAXIS"].s, "L1");
    EXPECT_NEAR(d["_CHOSENVALUE"].n, rows.items[best]["L1"].n, 1e-12) << choice;
    const Value* opt = layerData(*g[0], "optimum");
    ASSERT_NE(opt, nullptr) << choice;
    ASSERT_EQ(opt->items.size(), 1u) << choice;
    EXPECT_NEAR((*opt)[0]["ASEValidate"].n, ref[best][1], 1e-9 * ref[best][1]) << choice;
  }
}

TEST(Graphs, PageDrawsTheTuningGraphsAndTheirChartsValidate) {
  if (skipPages() || !fs::exists(webModules() / "ajv"))
    GTEST_SKIP() << "chromium, node or the npm packages are not installed (scripts/setup)";
  Page p = runPage(kLib + "proc varsifter data=ex.diabetes plots=all;\n" + kElasticNet +
                       cvexProgram("ex.diabetes", "ratio"),
                   "tuning");
  DrawnPage d;
  readDrawnPage(p, &d);
  if (HasFatalFailure())
    return;
  const std::vector<const Value*>& all = d.graphs;
  const std::vector<std::string>& sections = d.sections;
  int tuning = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    const std::string& templ = (*all[i])["template"].s;
    if (templ != "Stat.VARSIFTER.Graphics.ElasticNetL2TuningPlot" &&
        templ != "Stat.VARSIFTER.Graphics.CVEXTERNAL")
      continue;
    // A line, a point per L2 tried or grid point, the kept one marked and the rule there.
    ++tuning;
    const std::string& s = sections[i];
    EXPECT_EQ(marksOf(s, "curve"), 1) << i;
    EXPECT_EQ(marksOf(s, "trials"),
              static_cast<int>((*all[i])["vegaLite"]["datasets"]["tuning"].items.size()))
        << i;
    EXPECT_EQ(marksOf(s, "optimum"), 1) << i;
    EXPECT_EQ(marksOf(s, "chosen"), 1) << i;
  }
  EXPECT_EQ(tuning, 8);
  // Every chart of the record, the tuning graphs among them, is Vega-Lite.
  expectValidCharts(p.json, "tuning", all.size());
}

namespace {

const std::string kAveraged =
    "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc);\n"
    "  modelaverage nsamples=20 tables=(effectselectpct(minpct=0) parmest(minpct=0));\nrun;\n";

// The averaging run: the distribution panels of four plots and the selection-percentage plot
// from data of its own; then every parameter of an effect selected in at least half of the
// resamples unpacked as a histogram alone, and the selection-percentage plot drawn from the
// table (same order and limit).
const std::string kAveragingProgram =
    kLib + "proc varsifter data=ex.diabetes seed=123 plots=(effectselectpct(minpct=0) " +
    "parmdist(plotsperpanel=4));\n" + kAveraged +
    "proc varsifter data=ex.diabetes seed=123 plots=(parmdist(unpack noboxplots minpct=50) " +
    "effectselectpct(order=model));\n" + kAveraged;

// The graphs of a step's output inside the groups `group`, at any depth.
std::vector<const Value*> graphsIn(const Value& output, const std::string& group) {
  std::vector<const Value*> out;
  for (const Value& n : output.items) {
    if (n["kind"].s != "group")
      continue;
    if (n["name"].s == group) {
      collectGraphs(n["children"], &out);
    } else {
      std::vector<const Value*> inner = graphsIn(n["children"], group);
      out.insert(out.end(), inner.begin(), inner.end());
    }
  }
  return out;
}

// Per plotted parameter label: the averaged estimate and the resamples that selected it, as
// the averaged-estimates table shows them.
struct AveragedParm {
  double mean;
  int nonzero;
};
std::map<std::string, AveragedParm> averagedParms(const Value& output) {
  std::map<std::string, AveragedParm> out;
  const Value* t = qrxrun::findTable(output, "AvgParmEst");
  if (t != nullptr)
    for (size_t i = 0; i < (*t)["rows"].items.size(); ++i)
      out[qrxrun::text(*t, i, "Parameter")] = {
          qrxrun::number(*t, i, "Mean"), static_cast<int>(qrxrun::number(*t, i, "NumberNonzero"))};
  return out;
}

// The selection percentage of each effect in the EffectSelectPct table.
std::map<std::string, double> selectionPcts(const Value& output) {
  std::map<std::string, double> out;
  const Value* t = qrxrun::findTable(output, "EffectSelectPct");
  if (t != nullptr)
    for (size_t i = 0; i < (*t)["rows"].items.size(); ++i)
      out[qrxrun::text(*t, i, "Effect")] = qrxrun::number(*t, i, "SelectionPct");
  return out;
}

// One resample column of "Coeffs" by a graph's variable name (matched without regard to
// case): its values, missing values as NaN.
std::vector<double> coeffColumn(const Value& coeffs, const std::string& variable) {
  std::vector<double> out;
  for (size_t k = 0; k < coeffs["columns"].items.size(); ++k) {
    std::string name = coeffs["columns"][k]["name"].s;
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    if (name != variable)
      continue;
    for (const Value& row : coeffs["rows"].items)
      out.push_back(row[k].kind == Value::Number ? row[k].n : std::nan(""));
  }
  return out;
}

// Checks one plotted parameter against the tables: the resamples that estimated it, and the
// mean of its estimates over all averaged resamples (an unselected one counting 0).
void expectParmMatchesTables(const Value& coeffs, const std::map<std::string, AveragedParm>& parms,
                             const std::string& variable, const std::string& label,
                             double nonzero) {
  auto it = parms.find(label);
  ASSERT_NE(it, parms.end()) << label;
  std::vector<double> v = coeffColumn(coeffs, variable);
  ASSERT_EQ(v.size(), 20u) << variable;
  int estimated = 0;
  double sum = 0;
  for (double x : v)
    if (!std::isnan(x))
      ++estimated, sum += x;
  EXPECT_EQ(estimated, it->second.nonzero) << label;
  EXPECT_EQ(nonzero, it->second.nonzero) << label;
  EXPECT_NEAR(sum / 20.0, it->second.mean, 1e-9 * (1 + std::fabs(it->second.mean))) << label;
}

} // namespace

TEST(Graphs, ModelAveragingGraphsFollowTheAveragingTables) {
  ProgramRun r = qrxrun::runProgram(kAveragingProgram, "graphs_average", {}, {}, QRX_SOURCE_DIR);
  ASSERT_EQ(r.json["steps"].items.size(), 2u) << r.log;
  const Value& first = r.json["steps"][0]["output"];
  // The selection-percentage plot: a bar per selected effect, by count from the most selected,
  // each at the table's percentage.
  std::vector<const Value*> g = graphsOf(r.json, "EffectSelectPctPlot");
  ASSERT_EQ(g.size(), 2u) << r.log;
  const std::map<std::string, double> pcts = selectionPcts(first);
  const Value& bars = (*g[0])["vegaLite"]["datasets"]["bars"];
  ASSERT_EQ(bars.items.size(), pcts.size());
  ASSERT_GT(pcts.size(), 4u);
  for (size_t i = 0; i < bars.items.size(); ++i) {
    EXPECT_EQ(bars[i]["SelectionPct"].n, pcts.at(bars[i]["Effect"].s)) << bars[i]["Effect"].s;
    if (i > 0) {
      EXPECT_LE(bars[i]["SelectionPct"].n, bars[i - 1]["SelectionPct"].n);
    }
  }
  EXPECT_NEAR((*g[0])["dynamics"]["_OFFSET"].n, 0.5 / pcts.size() + 0.025, 1e-15);
  // The distribution panels: every parameter of the estimates table (all have a non-zero
  // average here) in panels of four, the last one partly filled with the same 2 x 2 layout.
  const Value* coeffs = qrxrun::findTable(first, "Coeffs");
  ASSERT_NE(coeffs, nullptr);
  EXPECT_EQ((*coeffs)["rows"].items.size(), 20u);
  const std::map<std::string, AveragedParm> parms = averagedParms(first);
  std::vector<const Value*> panels = graphsIn(first, "EstimateDistributions");
  const size_t n = parms.size();
  ASSERT_EQ(panels.size(), (n + 3) / 4);
  std::set<std::string> plotted;
  for (size_t p = 0; p < panels.size(); ++p) {
    const Value& d = (*panels[p])["dynamics"];
    EXPECT_EQ((*panels[p])["template"].s, "Stat.VARSIFTER.Graphics.ParmDistributionPanel");
    EXPECT_EQ(d["_NPLOTS"].n, static_cast<double>(std::min<size_t>(4, n - 4 * p)));
    EXPECT_EQ(d["_NROWS"].n, 2);
    EXPECT_EQ(d["_NCOLUMNS"].n, 2);
    EXPECT_EQ(d["_PANELNUMBER"].n, static_cast<double>(p + 1));
    EXPECT_EQ(d["_NSAMPLESUSED"].n, 20);
    for (int k = 1; k <= static_cast<int>(d["_NPLOTS"].n); ++k) {
      const std::string m = std::to_string(k);
      plotted.insert(d["_XLABEL" + m].s);
      expectParmMatchesTables(*coeffs, parms, d["_XVAR" + m].s, d["_XLABEL" + m].s,
                              d["_NNONZERO" + m].n);
    }
  }
  EXPECT_EQ(plotted.size(), n);
  // The second run's plot reads the table itself, row for row.
  const Value& second = r.json["steps"][1]["output"];
  EXPECT_EQ(qrxrun::findTable(second, "EffectSelPercentageForPlot"), nullptr);
  const Value* table = qrxrun::findTable(second, "EffectSelectPct");
  ASSERT_NE(table, nullptr);
  const Value& tableBars = (*g[1])["vegaLite"]["datasets"]["bars"];
  ASSERT_EQ(tableBars.items.size(), (*table)["rows"].items.size());
  for (size_t i = 0; i < tableBars.items.size(); ++i) {
    EXPECT_EQ(tableBars[i]["Effect"].s, qrxrun::text(*table, i, "Effect"));
    EXPECT_EQ(tableBars[i]["SelectionPct"].n, qrxrun::number(*table, i, "SelectionPct"));
  }
  // Unpacked histograms of the effects selected in at least half of the resamples.
  std::vector<const Value*> single = graphsIn(second, "EstimateDistributions");
  const std::map<std::string, double> pcts2 = selectionPcts(second);
  size_t expected = 1; // the intercept, in every model
  for (const auto& [effect, pct] : pcts2)
    expected += pct >= 50;
  ASSERT_EQ(single.size(), expected);
  const Value* coeffs2 = qrxrun::findTable(second, "Coeffs");
  ASSERT_NE(coeffs2, nullptr);
  const std::map<std::string, AveragedParm> parms2 = averagedParms(second);
  for (const Value* s : single) {
    const Value& d = (*s)["dynamics"];
    EXPECT_EQ((*s)["template"].s, "Stat.VARSIFTER.Graphics.ParmHistogram");
    const std::string label = d["_INDEPLABEL"].s;
    EXPECT_TRUE(label == "Intercept" || pcts2.at(label) >= 50) << label;
    expectParmMatchesTables(*coeffs2, parms2, d["_INDEPVAR"].s, label, d["_NNONZERO"].n);
  }
}

TEST(Graphs, PageDrawsTheModelAveragingGraphsAndTheirChartsValidate) {
  if (skipPages() || !fs::exists(webModules() / "ajv"))
    GTEST_SKIP() << "chromium, node or the npm packages are not installed (scripts/setup)";
  Page p = runPage(kAveragingProgram, "average");
  DrawnPage d;
  readDrawnPage(p, &d);
  if (HasFatalFailure())
    return;
  int distributions = 0;
  for (size_t i = 0; i < d.graphs.size(); ++i) {
    const Value& g = *d.graphs[i];
    const std::string& s = d.sections[i];
    if (g["name"].s == "EffectSelectPctPlot") {
      EXPECT_EQ(marksOf(s, "bars"),
                static_cast<int>(g["vegaLite"]["datasets"]["bars"].items.size()));
      continue;
    }
    // Each plot's histogram counts, read from the drawn bars, add up to the resamples that
    // estimated the parameter; with box plots one box per plot.
    ++distributions;
    const Value& dyn = g["dynamics"];
    const bool panel = dyn.has("_NPLOTS");
    const int plots = panel ? static_cast<int>(dyn["_NPLOTS"].n) : 1;
    const bool box = g["template"].s.find("Distribution") != std::string::npos;
    for (int k = 1; k <= plots; ++k) {
      const std::string m = std::to_string(k);
      std::regex group("<g class=\"mark-rect role-mark hist" + m +
                       "_marks\"[^>]*>([\\s\\S]*?)</g>");
      std::smatch hist;
      ASSERT_TRUE(std::regex_search(s, hist, group)) << i << " " << k;
      int counted = 0;
      const std::string bars = hist[1].str();
      std::regex countRe("Count: ([0-9]+)");
      for (std::sregex_iterator it(bars.begin(), bars.end(), countRe), end; it != end; ++it)
        counted += std::stoi((*it)[1].str());
      EXPECT_EQ(counted, static_cast<int>(dyn[panel ? "_NNONZERO" + m : "_NNONZERO"].n)) << i;
      if (box) {
        EXPECT_EQ(marksOf(s, "box" + m + "_layer_2"), 1) << i << " " << k;
      }
    }
  }
  EXPECT_GT(distributions, 3);
  expectValidCharts(p.json, "average", d.graphs.size());
}

namespace {

// The aria labels Vega gives a page's axes, legends and titles, in page order.
std::vector<std::string> ariaLabels(const std::string& dom, const std::string& prefix) {
  return pagesearch::Pattern("aria-label=\"(" + prefix + "[^\"]*)\"").captures(dom);
}

// The tick labels of every axis whose aria label starts with `axis`.
std::vector<std::string> tickLabels(const std::string& dom, const std::string& axis) {
  std::vector<std::string> out;
  const pagesearch::Pattern re("aria-label=\"" + axis +
                               "[^\"]*\">[\\s\\S]*?role-axis-label[^>]*>([\\s\\S]*?)</g>");
  const pagesearch::Pattern text(">([^<]*)</text>");
  for (const std::string& labels : re.captures(dom))
    for (std::string& label : text.captures(labels))
      out.push_back(std::move(label));
  return out;
}

} // namespace

// Axis titles and legends are worded as the tables word their columns; the elastic-net graphs
// each have a title of their own; axes of counts tick at whole numbers; a parameter's box plot
// and histogram share one x scale.
TEST(Graphs, PageWordsItsAxesAndTitlesAndCountsInWholeNumbers) {
  if (skipPages())
    GTEST_SKIP() << "chromium, node or the npm packages are not installed (scripts/setup)";
  Page p = runPage(kLib + "proc varsifter data=ex.diabetes plots=(ase coefficients);\n" +
                       "  partition fraction(validate=0.3 test=0.2);\n" +
                       "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc "
                       "choose=validate);\nrun;\n" +
                       "proc varsifter data=ex.diabetes plots=all;\n" + kElasticNet +
                       "proc varsifter data=ex.diabetes seed=123 plots=(effectselectpct(minpct=0) "
                       "parmdist(plotsperpanel=9));\n" +
                       kAveraged,
                   "worded");
  ASSERT_EQ(p.status, 0);
  EXPECT_EQ(p.console, "");
  const std::vector<std::string> legends = ariaLabels(p.dom, "Symbol legend");
  EXPECT_NE(std::find(legends.begin(), legends.end(),
                      "Symbol legend for fill color and stroke color with 3 values: ASE, Test "
                      "ASE, Validation ASE"),
            legends.end());
  const std::vector<std::string> axes = ariaLabels(p.dom, "[XY]-axis titled");
  for (const char* worded :
       {"Y-axis titled 'Validation ASE'", "X-axis titled 'Selection Percentage'"})
    EXPECT_TRUE(std::any_of(axes.begin(), axes.end(), [&](const std::string& a) {
      return a.rfind(worded, 0) == 0;
    })) << worded;
  for (const std::string& a : axes)
    for (const char* name : {"'ValidationASE'", "'SelectionPct'", "'TestASE'"})
      EXPECT_EQ(a.find(name), std::string::npos) << a;
  // Seven elastic-net graphs, seven titles.
  std::set<std::string> titles;
  for (const std::string& t : ariaLabels(p.dom, "Title text '[^']* by (L2 Search Step|Log10)"))
    titles.insert(t);
  EXPECT_EQ(titles.size(), 7u);
  // Trials, effects, steps and counts of resamples tick at whole numbers.
  const std::vector<std::string> counts = [&] {
    std::vector<std::string> all;
    for (const char* axis : {"X-axis titled 'L2 Search Step'", "Y-axis titled 'Effects'",
                             "Y-axis titled 'Steps'", "Y-axis titled 'Count'"}) {
      std::vector<std::string> ticks = tickLabels(p.dom, axis);
      EXPECT_FALSE(ticks.empty()) << axis;
      all.insert(all.end(), ticks.begin(), ticks.end());
    }
    return all;
  }();
  for (const std::string& tick : counts)
    EXPECT_TRUE(std::regex_match(tick, std::regex("(-?[0-9]+)?"))) << tick;
  // Each box plot's axis runs over the values of the histogram below it.
  const std::vector<std::string> x = ariaLabels(p.dom, "X-axis (titled '[^']*' )?for a linear");
  int pairs = 0;
  for (size_t i = 0; i + 1 < x.size(); ++i)
    if (x[i].rfind("X-axis for", 0) == 0) {
      ++pairs;
      const std::string range = x[i].substr(x[i].find(" with values"));
      EXPECT_EQ(x[i + 1].substr(x[i + 1].find(" with values")), range) << x[i + 1];
    }
  EXPECT_GE(pairs, 5);
}

// More than ten coefficient curves get a key naming each parameter, in colours of their own;
// the criterion and ASE plots of a step range show only the steps in it; the candidates of a
// competitive stepwise step say which colour is entry and which removal.
TEST(Graphs, PageKeysManyCurvesStepRangesAndCompetingCandidates) {
  if (skipPages())
    GTEST_SKIP() << "chromium, node or the npm packages are not installed (scripts/setup)";
  Page p = runPage(kLib + "proc varsifter data=ex.diabetes plots=(coefficients ase);\n" +
                       "  model y = age|sex|bmi|bp|s1|s2 @2 s3-s6 / "
                       "selection=forward(select=sbc stop=none choose=adjrsq);\nrun;\n" +
                       "proc varsifter data=ex.diabetes plots(startstep=3 endstep=8 "
                       "stepaxis=effect)=(criteria ase);\n" +
                       kMany + "proc varsifter data=ex.diabetes plots=candidates;\n" +
                       "  model y = age sex bmi bp s1-s6 / selection=stepwise(select=sbc "
                       "drop=competitive);\nrun;\n",
                   "keyed");
  DrawnPage d;
  readDrawnPage(p, &d);
  if (HasFatalFailure())
    return;
  const std::vector<std::string> legends = ariaLabels(p.dom, "Symbol legend");
  const auto has = [&](const std::string& prefix) {
    return std::any_of(legends.begin(), legends.end(),
                       [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
  };
  EXPECT_TRUE(has("Symbol legend titled 'Parameter' for fill color and stroke color with 25 "
                  "values: AGE, "));
  EXPECT_TRUE(has("Symbol legend titled 'Candidate For' for fill color with 2 values: Entry, "
                  "Removal"));
  for (size_t i = 0; i < d.graphs.size(); ++i) {
    const std::string& s = d.sections[i];
    const std::string name = (*d.graphs[i])["name"].s;
    if (name == "CoefficientPanel") {
      // 25 curves in 25 colours; the lower plot names its criterion in words.
      std::regex curve("role-mark coefficients_marks\"[^>]*><path[^>]* stroke=\"([^\"]+)\"");
      std::set<std::string> colours;
      for (std::sregex_iterator it(s.begin(), s.end(), curve), end; it != end; ++it)
        colours.insert((*it)[1].str());
      EXPECT_EQ(colours.size(), 25u);
      EXPECT_NE(s.find("aria-label=\"Y-axis titled 'Adjusted R-Square'"), std::string::npos);
    }
    if (name == "ASEPlot" && i > 1) {
      // Steps 3 to 8 of the range: six labels, the first the third step's.
      EXPECT_NE(s.find("X-axis titled 'Step' for a discrete scale with 6 values: 3+"),
                std::string::npos)
          << ariaLabels(s, "X-axis").at(0);
    }
  }
}

namespace {

// The JSON `hidden` flags of the tables named, in output order.
std::string hiddenFlags(const ProgramRun& r, std::initializer_list<const char*> names) {
  std::string out;
  for (const char* name : names) {
    std::vector<const Value*> tables;
    for (const Value& step : r.json["steps"].items)
      qrxrun::collectTables(step["output"], name, tables);
    for (const Value* t : tables)
      out += std::string(name) + "=" + ((*t)["hidden"].b ? "hidden " : "shown ");
  }
  return out;
}

} // namespace

// The data tables behind the graphs (bound to graph-only templates) are hidden unless
// SHOWINTERNALTABLES$ is given, which shows them.
TEST(Graphs, ShowInternalTablesShowsTheGraphsDataTables) {
  for (const std::string show : {"", " showinternaltables$"}) {
    const std::string step = "proc varsifter data=ex.diabetes seed=1 plots=all" + show +
                             ";\n  model Y = AGE SEX BMI BP S1 S2 / selection=lasso;\n";
    ProgramRun r =
        qrxrun::runProgram(kLib + step + "run;\n" + step + "  modelaverage nsamples=4;\nrun;\n",
                           "graphs_internal", {});
    ASSERT_EQ(r.json["returnCode"].n, 0) << r.log;
    const std::string state = show.empty() ? "hidden " : "shown ";
    std::string want;
    for (const char* name : {"BestStep", "Coefficients", "Coeffs"})
      want += std::string(name) + "=" + state;
    EXPECT_EQ(hiddenFlags(r, {"BestStep", "Coefficients", "Coeffs"}), want) << show;
  }
}
