// The sweep's splits over threads through qrx: a LAR path over 1,100 columns, whose sweep
// steps are wide enough to go to the pool's workers, gives the same tables to the last bit
// on one, three and eight threads, and enters first the column the data were made from.
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using minijson::Value;

constexpr int kColumns = 1100;
constexpr int kRows = 400;

// y = 3 x1 - 2 x2 + noise over kColumns standard normal columns.
std::string wideCsv() {
  std::mt19937_64 gen(63);
  std::normal_distribution<double> z;
  std::string csv = "y";
  for (int j = 1; j <= kColumns; ++j)
    csv += ",x" + std::to_string(j);
  csv += "\n";
  char buf[32];
  std::vector<double> x(kColumns);
  for (int r = 0; r < kRows; ++r) {
    for (double& v : x)
      v = z(gen);
    std::snprintf(buf, sizeof buf, "%.6f", 3.0 * x[0] - 2.0 * x[1] + z(gen));
    csv += buf;
    for (const double v : x) {
      std::snprintf(buf, sizeof buf, ",%.6f", v);
      csv += buf;
    }
    csv += "\n";
  }
  return csv;
}

} // namespace

TEST(SweepThreads, AWideLarPathHasTheSameBitsOnOneThreeAndEightThreads) {
  const std::string csv = wideCsv();
  std::vector<qrxrun::ProgramRun> runs;
  for (const int cpus : {1, 3, 8}) {
    runs.push_back(qrxrun::runProgram(
        "proc varsifter data=wide;\n  model y = x1-x" + std::to_string(kColumns) +
            " / selection=lar(stop=none maxsteps=40);\n  performance cpucount=" +
            std::to_string(cpus) + ";\nrun;\n",
        "sweepthreads" + std::to_string(cpus), {{"wide.csv", csv}}));
    ASSERT_EQ(runs.back().status, 0) << runs.back().log;
  }
  const Value* summary = qrxrun::findTable(runs[0].json["steps"][0]["output"], "SelectionSummary");
  ASSERT_NE(summary, nullptr) << runs[0].log;
  EXPECT_NE(qrxrun::dumpOutput(*summary).find("x1"), std::string::npos);
  qrxrun::expectSameSelectedTables(runs);
}
