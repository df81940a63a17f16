// PERFORMANCE DETAILS and UTIL_DETAILS$ end to end through qrx: the PerfSettings factoid
// before the first BY group, the Timing table at the end of the run with every section, the
// fit unchanged by the request, and one UtilInfo row per page file in every BY group; the
// threading in effect on one CPU, and NOTIMING$ dropping the Timing table.
#include "programs/byclassdata.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <vector>

using qrxrun::ProgramRun;
using qrxrun::tablesOf;
using qrxrun::Value;

namespace {

const char* kModel = "proc varsifter data=d;\n by g;\n class c k;\n"
                     "  model y = c k x1 x2 x3 / selection=stepwise(select=sbc);\n";

// The names of the top-level output nodes and of the nodes inside groups, in order.
void names(const Value& nodes, std::vector<std::string>* out) {
  for (const Value& n : nodes.items) {
    out->push_back(n["name"].s);
    if (n.has("children"))
      names(n["children"], out);
  }
}

// The rows of a table as text, for comparing two runs.
std::string rowsOf(const Value& t) {
  std::string s;
  for (const Value& row : t["rows"].items)
    for (const Value& cell : row.items)
      s += (cell.kind == Value::String ? cell.s : std::to_string(cell.n)) + "|";
  return s;
}

TEST(Performance, DetailsPrintSettingsFirstAndTimingLastWithoutChangingTheFit) {
  const std::string data = byClassDataText();
  ProgramRun plain = qrxrun::runProgram(std::string(kModel) + "run;\n", "perf0", {{"d.csv", data}});
  ProgramRun perf =
      qrxrun::runProgram(std::string(kModel) + "  performance details alldetails$;\nrun;\n",
                         "perf1", {{"d.csv", data}});
  ASSERT_EQ(perf.status, 0) << perf.log;
  std::vector<std::string> order;
  names(perf.json["steps"][0]["output"], &order);
  const auto at = [&](const std::string& name) {
    return std::find(order.begin(), order.end(), name) - order.begin();
  };
  ASSERT_LT(at("PerfSettings"), static_cast<long>(order.size())) << perf.log;
  EXPECT_LT(at("PerfSettings"), at("NObs"));
  EXPECT_EQ(order.back(), "Timing");
  // The fit of each BY group is the one made without the request.
  for (const char* table : {"SelectionSummary", "ParameterEstimates"}) {
    auto a = tablesOf(plain, table), b = tablesOf(perf, table);
    ASSERT_EQ(a.size(), 2u) << table;
    ASSERT_EQ(b.size(), 2u) << table;
    for (size_t g = 0; g < 2; ++g)
      EXPECT_EQ(rowsOf(*a[g]), rowsOf(*b[g])) << table << " group " << g;
  }
  auto timing = tablesOf(perf, "Timing");
  ASSERT_EQ(timing.size(), 1u);
  const Value& t = *timing[0];
  EXPECT_EQ(t["template"].s, "Stat.VarSifter.Timing");
  const int section = qrxrun::col(t, "CodeSection"), seconds = qrxrun::col(t, "time");
  ASSERT_GE(section, 0);
  ASSERT_GE(seconds, 0);
  std::vector<std::string> labels;
  double total = -1, parts = 0;
  for (const Value& row : t["rows"].items) {
    labels.push_back(row[static_cast<size_t>(section)].s);
    EXPECT_GE(row[static_cast<size_t>(seconds)].n, 0.0);
    if (labels.back() == "Total")
      total = row[static_cast<size_t>(seconds)].n;
    else if (labels.back()[0] != ' ')
      parts += row[static_cast<size_t>(seconds)].n;
  }
  // Setup, reading, fit, results and clean-up are always there; the sections and "Other"
  // add up to the total (each shown rounded by nothing: the record holds the seconds).
  for (const char* label :
       {"Setup and Parsing", "Reading Data", "Candidate Evaluation and Selection",
        "Results and Displays", "Cleanup", "Other", "Total"})
    EXPECT_NE(std::find(labels.begin(), labels.end(), label), labels.end()) << label;
  EXPECT_EQ(std::find(labels.begin(), labels.end(), "Model Averaging Summary"), labels.end());
  EXPECT_NEAR(parts, total, 1e-9 + 1e-9 * total);
}

TEST(Performance, UtilDetailsGiveOnePageFileRowPerFileInEveryGroup) {
  const std::string data = byClassDataText();
  for (int threads : {1, 3}) {
    const std::string perf = threads == 1 ? "nothreads" : "threads cpucount=3";
    ProgramRun r = qrxrun::runProgram(std::string(kModel) + "  performance " + perf +
                                          " util_details$ util_buffers$=1 util_pagesize$=1;\n"
                                          "run;\n",
                                      "perf2", {{"d.csv", data}});
    ASSERT_EQ(r.status, 0) << r.log;
    auto tables = tablesOf(r, "UtilInfo");
    ASSERT_EQ(tables.size(), 2u) << r.log;
    for (const Value* t : tables) {
      ASSERT_EQ((*t)["rows"].items.size(), static_cast<size_t>(threads)) << perf;
      for (size_t i = 0; i < static_cast<size_t>(threads); ++i) {
        const Value& row = (*t)["rows"][i];
        EXPECT_EQ(row[0].n, static_cast<double>(i));
        EXPECT_LE(row[1].n, 1.0); // UTIL_BUFFERS$=1: one page in memory at most
        EXPECT_EQ(row[3].n, 1.0); // 1 KB pages
        EXPECT_EQ(row[4].n, row[2].n * row[3].n);
      }
      // On one thread the 30 rows of a group outgrow the one 1 KB page kept in memory.
      if (threads == 1) {
        EXPECT_GT((*t)["rows"][0][2].n, 0.0);
      }
    }
  }
}

// The PerfSettings entries, label to value text.
std::map<std::string, std::string> perfSettings(const ProgramRun& r) {
  std::map<std::string, std::string> out;
  for (const Value* f : tablesOf(r, "PerfSettings"))
    for (const Value& e : (*f)["entries"].items)
      out[e["label"].s] =
          e["value"].kind == Value::String ? e["value"].s : std::to_string(e["value"].n);
  return out;
}

// Asking for threads on one CPU gives no threading, which the settings say before the first
// BY group; NOTIMING$ keeps the settings and drops the Timing table.
TEST(Performance, SettingsTellThreadingInEffectAndNotimingDropsTheTiming) {
  const std::string data = byClassDataText();
  const auto run = [&](const std::string& perf) {
    return qrxrun::runProgram(std::string(kModel) + "  performance details " + perf + ";\nrun;\n",
                              "perf3", {{"d.csv", data}});
  };
  const ProgramRun one = run("threads cpucount=1"), three = run("threads cpucount=3 notiming$");
  ASSERT_EQ(one.status, 0) << one.log;
  ASSERT_EQ(three.status, 0) << three.log;
  auto settings = perfSettings(one);
  EXPECT_EQ(settings["Execution Mode"], "Multithreaded") << one.log;
  EXPECT_EQ(settings["Threading in Effect"], "Single-threaded") << one.log;
  EXPECT_EQ(tablesOf(one, "Timing").size(), 1u);
  settings = perfSettings(three);
  EXPECT_EQ(settings["Execution Mode"], "Multithreaded") << three.log;
  EXPECT_EQ(settings.count("Threading in Effect"), 0u) << three.log;
  EXPECT_TRUE(tablesOf(three, "Timing").empty()) << three.log;
}

} // namespace

namespace {

// A memory figure too small for the threads asked for: the data passes run on fewer, and
// PerfSettings (printed once the reading pass has set the count) says how many and why,
// with the memory reckoning: per thread the partial sums of the full X'X, a packed triangle
// over the 702 design columns and the response; held once by the fit the matrix and its swept
// form, with 576 bytes a column (the pass's and the model's 22 numbers and the parameter
// estimates table's row) and 240 for each of g's 700 levels in the level tables.
TEST(Performance, SettingsTellTheThreadsUsedAndTheMemoryThatLoweredThem) {
  std::string data = "y,g,x\n";
  for (int i = 0; i < 1400; ++i)
    data += std::to_string((i * 37) % 101 * 0.1 + i % 7) + ",L" + std::to_string(i % 700) + "," +
            std::to_string((i * 13) % 29) + "\n";
  const auto run = [&](const std::string& memsize, int cpus) {
    return qrxrun::runProgram("options memsize=" + memsize +
                                  ";\nproc varsifter data=d;\n"
                                  "  class g;\n  model y = g x / selection=none;\n"
                                  "  performance details threads cpucount=" +
                                  std::to_string(cpus) + ";\nrun;\n",
                              "perf4", {{"d.csv", data}});
  };
  const ProgramRun tight = run("15M", 4), ample = run("1G", 4), serial = run("1G", 1);
  ASSERT_EQ(tight.status, 0) << tight.log;
  ASSERT_EQ(ample.status, 0) << ample.log;
  auto settings = perfSettings(tight);
  const double triangleMB = 8.0 * 703 * 704 / 2 / 1048576;
  const double fitMB = 2 * triangleMB + (702 * (8 * 22 + 400) + 700 * 240) / 1048576.0;
  EXPECT_EQ(settings["Threads Lowered For"], "Memory") << tight.log;
  EXPECT_NEAR(std::stod(settings["Memory per Thread (MB)"]), triangleMB, 1.0);
  EXPECT_NEAR(std::stod(settings["Memory Held by the Fit (MB)"]), fitMB, 1.0);
  // 60 % of what the fit leaves of the 15 MB, in whole threads.
  EXPECT_EQ(std::stod(settings["Memory Figure (MB)"]), 15);
  const double used = std::floor(0.6 * (15 - fitMB) / triangleMB);
  EXPECT_EQ(std::stod(settings["Threads Used"]), used) << tight.log;
  EXPECT_LT(used, 4);
  // The note gives the CPU count in force (CPUCOUNT=4), not the machine's.
  EXPECT_NE(tight.log.find("threads because of the memory available (CPU count 4)"),
            std::string::npos)
      << tight.log;
  settings = perfSettings(ample);
  EXPECT_EQ(std::stod(settings["Threads Used"]), 4);
  EXPECT_EQ(settings.count("Threads Lowered For"), 0u);
  // The fewer threads give the estimates of one.
  auto a = tablesOf(tight, "ParameterEstimates"), b = tablesOf(serial, "ParameterEstimates");
  ASSERT_EQ(a.size(), 1u);
  ASSERT_EQ(b.size(), 1u);
  const int est = qrxrun::col(*a[0], "Estimate");
  ASSERT_GE(est, 0);
  ASSERT_EQ((*a[0])["rows"].items.size(), (*b[0])["rows"].items.size());
  for (size_t i = 0; i < (*a[0])["rows"].items.size(); ++i) {
    const double x = (*a[0])["rows"][i][static_cast<size_t>(est)].n;
    EXPECT_NEAR(x, (*b[0])["rows"][i][static_cast<size_t>(est)].n, 1e-9 * (1 + std::fabs(x))) << i;
  }
}

} // namespace
