// Graphs end to end through the qrx binary on the diabetes data: the JSON record's graph
// calls (names, templates, dynamic variables) and their Vega-Lite specifications, checked
// against the schema the vega-lite package ships; the HTML page opened in headless Chromium
// draws one SVG per graph call with the marks the data imply (a curve per criterion, the
// optimum marker, the rule at the chosen step); step ranges and an empty range.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using qrxrun::ProgramRun;
using qrxrun::Value;

namespace {

const std::string kLib = "libname ex '" + std::string(QRX_SOURCE_DIR) + "/examples';\n";

int shell(const std::string &cmd) {
  std::string ignored;
  return qrxrun::runCommand(cmd + " > /dev/null 2>&1", &ignored);
}

void collectGraphs(const Value &nodes, std::vector<const Value *> *out) {
  for (const Value &n : nodes.items) {
    if (n["kind"].s == "group")
      collectGraphs(n["children"], out);
    else if (n["kind"].s == "graph")
      out->push_back(&n);
  }
}

std::vector<const Value *> graphs(const ProgramRun &r) {
  std::vector<const Value *> out;
  for (const Value &step : r.json["steps"].items)
    collectGraphs(step["output"], &out);
  return out;
}

bool haveTool(const char *tool) { return shell(std::string("command -v ") + tool) == 0; }

fs::path webModules() { return fs::path(QRX_SOURCE_DIR) / "web" / "node_modules"; }

// Runs the validator script on a run record; its output.
std::string validate(const fs::path &record, int *status) {
  std::string out;
  *status =
      qrxrun::runCommand("node '" + std::string(QRX_SOURCE_DIR) +
                             "/scripts/validate_graph_specs.js' '" + record.string() + "' 2>&1",
                         &out);
  return out;
}

struct Page {
  std::string dom, console;
  int status = -1;
  std::string json;
};

// Runs the program with --html and --json, opens the page in headless Chromium and keeps a
// screenshot under the build directory.
Page runPage(const std::string &program, const std::string &tag) {
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
  const std::string flags =
      "chromium --headless --no-sandbox --disable-gpu --enable-logging=stderr "
      "--v=0 --hide-scrollbars --virtual-time-budget=5000 ";
  qrxrun::runCommand(flags + "--dump-dom 'file://" + (dir / "p.html").string() + "' > '" +
                         (dir / "dom.html").string() + "' 2> '" + (dir / "chromium.txt").string() +
                         "'",
                     &ignored);
  p.dom = qrxrun::readFile(dir / "dom.html");
  std::ifstream log(dir / "chromium.txt");
  for (std::string line; std::getline(log, line);)
    if (line.find(":CONSOLE") != std::string::npos)
      p.console += line + "\n";
  fs::path shots = fs::path(QRX_BINARY).parent_path().parent_path() / "html";
  fs::create_directories(shots);
  shell(flags + "--window-size=900,1400 --screenshot='" +
        (shots / ("graphs_" + tag + ".png")).string() + "' 'file://" + (dir / "p.html").string() +
        "'");
  // The graphs alone, for people to look at (the README's picture is one of these).
  std::string page = qrxrun::readFile(dir / "p.html");
  page = std::regex_replace(
      page,
      std::regex("<section class=\"output (table|factoid)\"[\\s\\S]*?</section>|<p "
                 "class=\"text[^\"]*\">[\\s\\S]*?</p>|<pre class=\"log\">[\\s\\S]*?</pre>|<hr "
                 "class=\"rule\">"),
      "");
  std::ofstream(dir / "graphs.html") << page;
  shell(flags + "--window-size=820,640 --screenshot='" +
        (shots / ("graphs_" + tag + "_only.png")).string() + "' 'file://" +
        (dir / "graphs.html").string() + "'");
  fs::remove_all(dir);
  return p;
}

int count(const std::string &text, const std::regex &re) {
  return static_cast<int>(
      std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator()));
}

// The mark elements Vega drew for the layer named `name` (its group's children).
int marksOf(const std::string &dom, const std::string &name) {
  std::regex group("<g class=\"mark-[a-z]+ role-mark " + name + "_marks\"[^>]*>([\\s\\S]*?)</g>");
  int n = 0;
  for (std::sregex_iterator it(dom.begin(), dom.end(), group), end; it != end; ++it)
    n += count((*it)[1].str(), std::regex("<(path|line|text|rect)[ >]"));
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
  std::vector<const Value *> g = graphs(r);
  ASSERT_EQ(g.size(), 2u + 4u + 1u) << r.log;
  // The panel: four criteria (AIC, AICC, SBC, adjusted R-square) in two rows of two.
  EXPECT_EQ((*g[0])["template"].s, "Stat.VARSIFTER.Graphics.CriterionPanel");
  const Value &d = (*g[0])["dynamics"];
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
  std::vector<const Value *> g = graphs(r);
  ASSERT_EQ(g.size(), 2u) << r.log;
  // The range leaves the chosen step 6 out, and the SBC optimum (step 6) gets no value
  // column; the graphs read only the shown steps.
  const Value &d = (*g[0])["dynamics"];
  EXPECT_TRUE(d["_CHOSENVALUE"].kind == Value::Null);
  EXPECT_TRUE(d["_OPTVAL3"].s.empty());
  EXPECT_EQ(d["_OPTVAL1"].s.empty(), true); // AIC's optimum is step 6 as well
  for (const Value *graph : g) {
    const Value &rows = (*graph)["vegaLite"]["datasets"]["summary"];
    ASSERT_EQ(rows.items.size(), 3u);
    EXPECT_EQ(rows.items[0]["Step"].n, 2);
    EXPECT_EQ(rows.items[2]["Step"].n, 4);
  }
  // STARTSTEP=20 on a path of six steps: both warnings, return code 4, no graph.
  const Value &log = r.json["steps"].items[1]["log"];
  std::vector<double> numbers;
  for (const Value &line : log.items)
    if (line["set"].n == 848)
      numbers.push_back(line["number"].n);
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), 225), numbers.end());
  EXPECT_NE(std::find(numbers.begin(), numbers.end(), 226), numbers.end());
  EXPECT_EQ(r.json["steps"].items[1]["returnCode"].n, 4);
  EXPECT_EQ(r.status, 1);
}

TEST(Graphs, SpecificationsValidateAgainstTheVegaLiteSchema) {
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
  EXPECT_NE(out.find("7 graphs, 0 invalid"), std::string::npos) << out;
  // The validator rejects what is not Vega-Lite.
  std::ofstream(dir / "bad.json")
      << R"({"steps":[{"output":[{"kind":"graph","name":"X","vegaLite":{"mark":"nosuchmark"}}]}]})";
  out = validate(dir / "bad.json", &status);
  EXPECT_EQ(status, 1) << out;
  fs::remove_all(dir);
}

TEST(Graphs, PageDrawsEveryGraphWithItsMarks) {
  if (!haveTool("chromium") || !fs::exists(webModules() / "vega-embed"))
    GTEST_SKIP() << "chromium or the npm packages are not installed (scripts/setup installs them)";
  Page p = runPage(kLib + "proc varsifter data=ex.diabetes plots=all;\n" + kStepwise +
                       "proc varsifter data=ex.diabetes plots(unpack)=criteria;\n" + kStepwise,
                   "stepwise");
  EXPECT_EQ(p.status, 0) << p.json;
  ASSERT_FALSE(p.dom.empty()) << "Chromium gave no document";
  EXPECT_EQ(p.console, "");
  const int sections = count(p.dom, std::regex("<section class=\"output graph\""));
  EXPECT_EQ(sections, 6);
  EXPECT_EQ(count(p.dom, std::regex("<svg[^>]*class=\"marks\"")), sections);
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
  EXPECT_FALSE(std::regex_search(p.dom, std::regex("(src|href)=\"https?:")));
}
