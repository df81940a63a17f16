// Arithmetic of the results checked on its own: ANOVA rows against scipy's F tail, the
// resample prediction statistics, BLOCK fold numbers and the CLASS values text.
#include "output/vsffitstats.h"
#include "output/vsfoutput.h"
#include "output/vsfprinters.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::vector<double>> readRef(const std::string& name) {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/results/" + name);
  std::vector<std::vector<double>> rows;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream s(line);
    std::vector<double> row;
    double v;
    while (s >> v)
      row.push_back(v);
    rows.push_back(row);
  }
  return rows;
}

TEST(AnovaValues, AgreeWithTheFDistribution) {
  auto rows = readRef("anova_ref.txt");
  ASSERT_EQ(rows.size(), 5u);
  for (const auto& r : rows) {
    VsfAnovaValues v =
        vsfAnovaCompute(r[0], r[1], r[2], r[3], static_cast<int32_t>(r[4]), r[5] != 0);
    EXPECT_EQ(v.modelDf, r[6]);
    EXPECT_EQ(v.errorDf, r[7]);
    EXPECT_NEAR(v.modelSs, r[8], 1e-9 * std::fabs(r[8]));
    EXPECT_NEAR(v.errorMs, r[9], 1e-12 * std::fabs(r[9]));
    EXPECT_NEAR(v.f, r[10], 1e-10 * std::fabs(r[10]));
    if (r[11] == 0)
      EXPECT_LT(v.probF, 1e-300);
    else
      EXPECT_NEAR(v.probF, r[11], 1e-8 * r[11]) << "F " << r[10];
  }
}

TEST(AnovaValues, DegenerateFits) {
  // n equal to p: no error degrees of freedom, so no error mean square and no F.
  VsfAnovaValues v = vsfAnovaCompute(1.0, 10.0, 20.0, 3, 3, false);
  EXPECT_EQ(v.errorDf, 0);
  EXPECT_TRUE(isHostMissing(v.errorMs));
  EXPECT_TRUE(isHostMissing(v.f));
  EXPECT_TRUE(isHostMissing(v.probF));
  // A perfect fit with a model sum of squares: F is infinite, the p-value 0.
  v = vsfAnovaCompute(0.0, 10.0, 20.0, 10, 3, false);
  EXPECT_EQ(v.errorMs, 0.0);
  EXPECT_TRUE(std::isinf(v.f) && v.f > 0);
  EXPECT_EQ(v.probF, 0.0);
  // A negative SSE counts as 0; a model SS that would be negative is 0.
  v = vsfAnovaCompute(-1e-9, 0.0, 5.0, 10, 2, false);
  EXPECT_EQ(v.sse, 0.0);
  EXPECT_EQ(v.modelSs, 0.0);
  // NOINT: uncorrected total, n total degrees of freedom, p model degrees of freedom.
  v = vsfAnovaCompute(4.0, 10.0, 30.0, 10, 2, true);
  EXPECT_EQ(v.totalSs, 30.0);
  EXPECT_EQ(v.totalDf, 10);
  EXPECT_EQ(v.modelDf, 2);
}

TEST(ResamplePredict, MeanAndSpreadOfTheAveragedResamples) {
  std::vector<double> x = {3.0, 1.0, hostMissing(), 4.0, 1.5, hostMissing(), 9.0};
  std::vector<double> work(x.size());
  VsfPredictStats s = vsfResamplePredict(0.05, true, 7, 5, x.data(), work.data());
  const std::vector<double> used = {3.0, 1.0, 4.0, 1.5, 9.0};
  const double mean = std::accumulate(used.begin(), used.end(), 0.0) / 5;
  double ss = 0;
  for (double u : used)
    ss += (u - mean) * (u - mean);
  EXPECT_NEAR(s.mean, mean, 1e-14);
  EXPECT_NEAR(s.stddev, std::sqrt(ss / 4), 1e-14);
  EXPECT_EQ(s.median, 3.0);
  // t = 5 x 0.025 = 0.125: not an integer, the value at floor(t) = 0 is the smallest.
  EXPECT_EQ(s.lower, 1.0);
  EXPECT_EQ(s.upper, 9.0);
}

TEST(ResamplePredict, QuantilesOfOneHundredPredictions) {
  std::vector<double> x(100), work(100);
  for (int i = 0; i < 100; ++i)
    x[i] = 100.0 - i; // 100, 99, ..., 1
  VsfPredictStats s = vsfResamplePredict(0.05, true, 100, 100, x.data(), work.data());
  EXPECT_EQ(s.lower, 3.0);   // t = 2.5: the third smallest
  EXPECT_EQ(s.upper, 98.0);  // t = 97.5: the 98th smallest
  EXPECT_EQ(s.median, 50.5); // even count: the mean of the two middle values
  // One averaged resample: no spread.
  double one = 7.0;
  s = vsfResamplePredict(0.05, false, 1, 1, &one, nullptr);
  EXPECT_EQ(s.mean, 7.0);
  EXPECT_TRUE(isHostMissing(s.stddev));
}

TEST(BlockFolds, FirstFoldsTakeTheRemainder) {
  const int expected[] = {1, 1, 1, 1, 2, 2, 2, 3, 3, 3};
  for (int i = 0; i < 10; ++i)
    EXPECT_EQ(vsfBlockFold(i, 10, 3), expected[i]) << i;
  for (int i = 0; i < 12; ++i)
    EXPECT_EQ(vsfBlockFold(i, 12, 4), i / 3 + 1);
}

// Every row of every small case against the folds counted out block by block, and rows of
// a data set far too large to count out: the fold is computed, not walked to.
TEST(BlockFolds, ComputedForAnyRowWithoutWalkingTheRows) {
  for (int64_t n = 1; n <= 40; ++n)
    for (int32_t k = 1; k <= 12; ++k) {
      int64_t row = 0;
      for (int32_t fold = 1; fold <= k; ++fold) {
        const int64_t size = n / k + (fold <= n % k ? 1 : 0);
        for (int64_t i = 0; i < size; ++i, ++row)
          ASSERT_EQ(vsfBlockFold(row, n, k), fold) << "n " << n << " k " << k << " row " << row;
      }
    }
  const int64_t n = 1000000000000003; // 4 folds: three of 250000000000001 rows, one fewer
  EXPECT_EQ(vsfBlockFold(250000000000000, n, 4), 1);
  EXPECT_EQ(vsfBlockFold(250000000000001, n, 4), 2);
  EXPECT_EQ(vsfBlockFold(750000000000002, n, 4), 3);
  EXPECT_EQ(vsfBlockFold(750000000000003, n, 4), 4);
  EXPECT_EQ(vsfBlockFold(n - 1, n, 4), 4);
}

TEST(ClassValuesText, JoinsTrimmedLevelsAndCutsLongLists) {
  const char* texts[] = {"a  ", "b  ", "c  "};
  int32_t lengths[] = {1, 1, 1};
  char out[8];
  EXPECT_EQ(vsfClassValuesText(texts, lengths, 3, ' ', out, 5), 6);
  EXPECT_EQ(std::string(out, 5), "a b c");
  EXPECT_EQ(vsfClassValuesText(texts, lengths, 3, ',', out, 5), 6);
  EXPECT_EQ(std::string(out, 5), "a,b,c");

  // Sixty levels of five characters: the text stops with "..." where a level would reach
  // position 253.
  std::vector<std::string> names;
  std::vector<const char*> ptrs;
  std::vector<int32_t> lens;
  for (int i = 0; i < 60; ++i)
    names.push_back(std::string("L").append(std::to_string(1000 + i)));
  for (auto& n : names)
    ptrs.push_back(n.c_str()), lens.push_back(5);
  std::string buffer(256, '#');
  int32_t total = vsfClassValuesText(ptrs.data(), lens.data(), 60, ' ', buffer.data(), 256);
  EXPECT_EQ(total, 360);
  // 42 levels fit (42 x 6 = 252); the 43rd would pass 253.
  EXPECT_EQ(buffer.substr(246, 9), "L1041 ...");
  EXPECT_EQ(buffer.substr(0, 12), "L1000 L1001 ");
}

} // namespace
