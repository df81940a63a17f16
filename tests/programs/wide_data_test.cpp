// A wide input through qrx: a model of thousands of columns named by one numbered range
// (x1-x2000) finds each column by its name, whatever case the statement spells it in, and the
// selected fit matches least squares on the columns that carry the signal.
#include "programs/leastsquares.h"
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kColumns = 2000;
constexpr int kRows = 150;

struct Data {
  std::string csv = "y";
  std::vector<std::vector<double>> x; // intercept, x7, x1999 as the file holds them
  std::vector<double> y;
};

// y = 1 + 3 x7 - 2 x1999 + noise; every other column is noise.
Data makeData() {
  Data d;
  for (int k = 1; k <= kColumns; ++k)
    d.csv += ",x" + std::to_string(k);
  d.csv += "\n";
  std::mt19937_64 gen(37);
  std::normal_distribution<double> z;
  char buf[32];
  auto put = [&](double v) {
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return std::stod(buf);
  };
  for (int r = 0; r < kRows; ++r) {
    std::vector<double> x(kColumns + 1);
    for (int k = 1; k <= kColumns; ++k)
      x[k] = put(z(gen));
    const double y = put(1.0 + 3.0 * x[7] - 2.0 * x[1999] + 0.1 * z(gen));
    std::snprintf(buf, sizeof buf, "%.6f", y);
    d.csv += buf;
    for (int k = 1; k <= kColumns; ++k) {
      std::snprintf(buf, sizeof buf, ",%.6f", x[k]);
      d.csv += buf;
    }
    d.csv += "\n";
    d.x.push_back({1.0, x[7], x[1999]});
    d.y.push_back(y);
  }
  return d;
}

} // namespace

TEST(WideData, NumberedRangeOfThousandsOfColumnsFitsAsLeastSquares) {
  const Data d = makeData();
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      "proc varsifter data=d;\n  model y = X1-X2000 / selection=forward(maxsteps=2);\nrun;\n",
      "wide", {{"d.csv", d.csv}});
  ASSERT_EQ(run.status, 0) << run.log;
  const qrxrun::Value* pe = qrxrun::findTable(run.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pe, nullptr) << run.log;
  std::map<std::string, double> got;
  for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r)
    got[qrxrun::text(*pe, r, "Parameter")] = qrxrun::number(*pe, r, "Estimate");
  ASSERT_EQ(got.size(), 3u) << run.log;
  const std::vector<double> b =
      qrxrun::leastSquares(d.x, d.y, std::vector<double>(static_cast<size_t>(kRows), 1.0));
  const char* names[] = {"Intercept", "x7", "x1999"};
  for (size_t k = 0; k < 3; ++k) {
    ASSERT_EQ(got.count(names[k]), 1u) << names[k] << "\n" << run.log;
    EXPECT_NEAR(got[names[k]], b[k], 1e-9 * (1.0 + std::fabs(b[k]))) << names[k];
  }
}

// One column more than a cross-products triangle may hold (with the intercept): the run ends
// with the message that says so and an error return code, not with the out-of-memory message
// on top.
TEST(WideData, TooManyColumnsForTheTriangleIsNotOutOfMemory) {
  constexpr int n = 46340;
  std::string csv = "y";
  for (int k = 1; k <= n; ++k)
    csv += ",x" + std::to_string(k);
  // Appended piece by piece: GCC 12 at -O3 takes "text" + std::string for an overlapping
  // copy (-Wrestrict).
  for (int r = 0; r < 3; ++r) {
    csv += '\n';
    csv += std::to_string(r);
    for (int k = 1; k <= n; ++k) {
      csv += ',';
      csv += std::to_string((k + r) % 5);
    }
  }
  const qrxrun::ProgramRun run =
      qrxrun::runProgram("proc varsifter data=d;\n  model y = x1-x46340 / selection=none;\nrun;\n",
                         "widecols", {{"d.csv", csv + "\n"}});
  const qrxrun::Value& step = run.json["steps"][0];
  EXPECT_EQ(qrxrun::messageCount(step, VsfMsg::XpxTooManyColumns), 1) << run.log.substr(0, 3000);
  EXPECT_EQ(qrxrun::messageCount(step, VsfMsg::OutOfMemory), 0) << run.log.substr(0, 3000);
  EXPECT_EQ(step["returnCode"].n, 1012) << run.log.substr(0, 3000);
}
