// The data passes' sums through qrx: designs whose ill-conditioning amplifies the last bits
// of a sum (LASSO with incremental cross products and WEIGHT over a spline and a polynomial
// of degree 11 on one page; adaptive LASSO over an ORDINAL CLASS effect and a spline with a
// response far from zero; FORWARD over a CLASS effect of 1,200 levels with WEIGHT, FREQ and
// cross validation; FORWARD by cross validation over a CLASS effect of 150 levels with the
// cross products grown an effect at a time, whose folds' blocks and new rows each thread forms
// over its own run of the effects or columns; LASSO over 1,100 candidates, whose kept
// cross-product columns each thread forms over its own run of the parameters) give the very
// same output on 1, 2, 3 and 8 threads.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using minijson::Value;

// The CSV line of `values`, each in full.
std::string csvLine(const std::vector<double>& values) {
  std::string line;
  char buf[40];
  for (const double v : values) {
    std::snprintf(buf, sizeof buf, "%.17g", v);
    if (!line.empty())
      line += ",";
    line += buf;
  }
  return line;
}

// 139 rows: one page.
std::string lassoCsv() {
  std::string csv = "x1,x2,x3,x4,x5,v1,y,w\n";
  for (int k = 0; k < 139; ++k) {
    const double i = k, v1 = 1.2 * std::sin(0.9 * i + 0.3), x1 = 80 * std::sin(1.7 * i);
    const double y = std::sin(2.1 * i) - 0.5 * v1 * v1 * v1 + 0.01 * x1 + 0.3 * std::cos(4.7 * i);
    csv += csvLine({x1, 0.5 + 0.5 * std::sin(0.37 * i), 30 * std::cos(1.1 * i),
                    0.01 * std::sin(2.3 * i), std::cos(0.61 * i), v1, y,
                    0.6 + 0.8 * (0.5 + 0.5 * std::sin(3.3 * i))});
    csv += "\n";
  }
  return csv;
}

// 98 rows, a CLASS variable of six levels, the response near 1e5.
std::string adaptiveCsv() {
  std::string csv = "x1,x2,x3,x4,g1,y\n";
  for (int k = 0; k < 98; ++k) {
    const double i = k, x1 = 80 * std::sin(1.3 * i), x2 = 0.3 * std::cos(0.7 * i);
    const int level = (k * 7) % 6;
    const double y = 1e5 + 0.01 * x1 - 2 * x2 + 0.5 * level + 2 * std::sin(5.1 * i);
    csv += csvLine({x1, x2, 8 * std::sin(0.3 * i + 1), 2 + 2 * std::sin(2.9 * i)});
    csv += ",";
    csv += "ABCDEF"[level];
    csv += ",";
    csv += csvLine({y});
    csv += "\n";
  }
  return csv;
}

// 2,400 rows over several pages, a CLASS variable of 1,200 levels.
std::string manyLevelCsv() {
  std::string csv = "x1,x2,x3,m1,z,v1,y,w,f\n";
  char level[16];
  for (int k = 0; k < 2400; ++k) {
    const double i = k, x1 = 3 * std::sin(1.3 * i), x2 = std::cos(0.7 * i);
    const int l = (k * 37) % 1200;
    std::snprintf(level, sizeof level, "L%04d", l);
    csv += csvLine({x1, x2, std::sin(0.3 * i + 1)});
    csv += ",";
    csv += level;
    csv += ",";
    csv +=
        csvLine({0.5 + 0.5 * std::sin(0.011 * i), x2, x1 - x2 + 0.001 * l + 0.3 * std::sin(5.1 * i),
                 0.5 + (k % 4) * 0.5, static_cast<double>(k % 3)});
    csv += "\n";
  }
  return csv;
}

// 750 rows over several pages, a CLASS variable of 150 levels of five rows each, one in each
// of five folds.
std::string foldLevelCsv() {
  std::string csv = "g,x1,x2,x3,y,fold\n";
  for (int k = 0; k < 750; ++k) {
    const double i = k, x = 18 + 18 * std::sin(1.3 * i);
    const double y = 2 + 0.5 * x - 0.01 * x * x + std::sin(0.7 * (k / 5)) + std::cos(5.1 * i);
    csv += std::to_string(k / 5) + "," + csvLine({x, x * x, x * x * x, y}) + "," +
           std::to_string(k % 5) + "\n";
  }
  return csv;
}

struct Design {
  const char* name;
  std::function<std::string()> csv;
  const char* program;
};

const Design kDesigns[] = {
    {"lassoincr", lassoCsv,
     "proc varsifter data=d;\n"
     "  effect s1 = spline(x1 / degree=5 knotmethod=equal(15));\n"
     "  effect p1 = polynomial(v1 / degree=11);\n  weight w;\n"
     "  model y = x1 x2 x3 x4 x5 s1 p1 / selection=lasso(stop=none) details=all;\n"
     "  performance buildsscp=incremental cpucount=%d;\nrun;\n"},
    {"adaptive", adaptiveCsv,
     "proc varsifter data=d;\n  class g1 / param=ordinal;\n"
     "  effect s1 = spline(x1 / degree=7);\n"
     "  model y = x1 x2 x3 x4 g1 s1 / selection=lasso(adaptive stop=none) details=all;\n"
     "  performance cpucount=%d;\nrun;\n"},
    {"manylevel", manyLevelCsv,
     "proc varsifter data=d seed=7;\n  class m1 / param=effect;\n"
     "  effect s1 = spline(x1 / degree=11 knotmethod=equal(16));\n"
     "  effect p1 = polynomial(v1 / degree=5);\n  weight w;\n  freq f;\n"
     "  model y = z x1 x2 x3 m1 s1 p1 / selection=forward(select=cv stop=none maxsteps=5)"
     " details=all stats=(cp sbc press) cvmethod=split(6);\n"
     "  performance cpucount=%d;\nrun;\n"},
    {"foldlevels", foldLevelCsv,
     "proc varsifter data=d;\n  class g;\n"
     "  model y = x1 x2 x3 g / selection=forward(select=cv stop=none) cvmethod=index(fold);\n"
     "  performance buildsscp=incremental cpucount=%d;\nrun;\n"},
    {"widekept", [] { return synthdata::wideLarCsv(260, 1100); },
     "proc varsifter data=d;\n"
     "  model y = x1-x1100 / selection=lasso(stop=none steps=60) stats=(sbc aic);\n"
     "  performance buildsscp=incremental cpucount=%d;\nrun;\n"},
};

} // namespace

TEST(ThreadBits, IllConditionedDesignsHaveTheSameBitsOnOneTwoThreeAndEightThreads) {
  for (const Design& d : kDesigns) {
    const std::string csv = d.csv();
    std::vector<qrxrun::ProgramRun> runs;
    for (const int cpus : {1, 2, 3, 8}) {
      char program[1024];
      std::snprintf(program, sizeof program, d.program, cpus);
      runs.push_back(qrxrun::runProgram(program, std::string(d.name) + std::to_string(cpus),
                                        {{"d.csv", csv}}));
      ASSERT_LE(runs.back().status, 1) << d.name << "\n" << runs.back().log;
    }
    const Value& one = runs[0].json["steps"][0]["output"];
    ASSERT_NE(qrxrun::findTable(one, "SelectionSummary"), nullptr) << d.name << runs[0].log;
    for (size_t i = 1; i < runs.size(); ++i) {
      EXPECT_EQ(runs[i].status, runs[0].status) << d.name;
      EXPECT_EQ(qrxrun::dumpOutput(one), qrxrun::dumpOutput(runs[i].json["steps"][0]["output"]))
          << d.name << " run " << i;
    }
  }
}

// With all but four pages of each thread's file on disk, the kept columns of the wide LASSO
// take the pages in memory on the workers at once and the rest one at a time, every page's
// parameters shared out: eight threads' tables are one thread's to rounding (the other
// passes sum pages on disk in a buffer per thread).
TEST(ThreadBits, KeptColumnsOverPagesOnDiskAgreeOnOneAndEightThreads) {
  const std::string csv = synthdata::wideLarCsv(260, 1100);
  std::vector<qrxrun::ProgramRun> runs;
  for (const int cpus : {1, 8}) {
    runs.push_back(qrxrun::runProgram(
        "proc varsifter data=d;\n  model y = x1-x1100 / selection=lasso(stop=none steps=60);\n"
        "  performance buildsscp=incremental util_buffers$=4 cpucount=" +
            std::to_string(cpus) + ";\nrun;\n",
        "keptdisk" + std::to_string(cpus), {{"d.csv", csv}}));
    ASSERT_EQ(runs.back().status, 0) << runs.back().log;
  }
  for (const char* name : {"SelectionSummary", "ANOVA", "ParameterEstimates"}) {
    const Value* one = qrxrun::findTable(runs[0].json["steps"][0]["output"], name);
    const Value* eight = qrxrun::findTable(runs[1].json["steps"][0]["output"], name);
    ASSERT_TRUE(one != nullptr && eight != nullptr) << name;
    qrxrun::expectClose((*one)["rows"], (*eight)["rows"], 1e-9, name);
  }
}
