// Spline bases and percentile knots of constructed effects: the B-spline, truncated-power and
// natural cubic columns against tests/data/design/spline_bases.txt
// (scripts/gen_spline_bases_ref.py: scipy's BSpline and the closed forms), and the percentile
// positions with and without frequencies.
#include "design/levconstructed.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Case {
  std::string kind;
  SplineInfo spline{};
  std::vector<double> knots;
  double x = 0;
  std::vector<double> expected;
};

std::vector<Case> readCases() {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/design/spline_bases.txt");
  std::vector<Case> cases;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    Case c;
    int32_t terms = 2, degree = 3, count = 0;
    s >> c.kind;
    if (c.kind == "bspline")
      s >> degree >> count;
    else if (c.kind == "tpf")
      s >> degree >> terms >> count;
    else
      s >> terms >> count;
    c.knots.resize(static_cast<size_t>(count));
    for (double& k : c.knots)
      s >> k;
    s >> c.x;
    for (double v; s >> v;)
      c.expected.push_back(v);
    c.spline.degree = degree;
    c.spline.tpfTerms = static_cast<uint8_t>(terms);
    c.spline.natural = c.kind == "natural" ? 1 : 0;
    c.spline.basis = c.kind == "bspline" ? SB_BSPLINE : SB_TPF;
    c.spline.columnsPerVariable = static_cast<int32_t>(c.expected.size());
    cases.push_back(std::move(c));
  }
  return cases;
}

TEST(ConstructedColumns, SplineBasesAgreeWithTheIndependentConstruction) {
  const std::vector<Case> cases = readCases();
  ASSERT_EQ(cases.size(), 90u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.kind + " degree " + std::to_string(c.spline.degree) + " x " +
                 std::to_string(c.x));
    std::vector<double> out(c.expected.size(), -7.0);
    std::fill(out.begin(), out.end(), 0.0);
    const int32_t K = static_cast<int32_t>(c.knots.size());
    // The work arrays that the knot placement makes with the knots.
    std::vector<double> basis(static_cast<size_t>(c.spline.degree) + 1),
        differences(2 * static_cast<size_t>(c.spline.degree) + 1);
    SplineInfo spline = c.spline;
    spline.degreeWork = basis.data();
    spline.boundaryWork = differences.data();
    if (c.kind == "bspline")
      levBSplineColumns(spline, c.knots.data(), K, c.x, out.data());
    else
      levTPFColumns(c.spline, c.knots.data(), K, c.x, out.data());
    for (size_t j = 0; j < out.size(); ++j)
      EXPECT_NEAR(out[j], c.expected[j], 1e-12 * std::max(1.0, std::fabs(c.expected[j])))
          << "column " << j;
  }
}

std::vector<std::pair<double, double>> sortedValues(int n) {
  std::vector<std::pair<double, double>> v;
  for (int i = 1; i <= n; ++i)
    v.push_back({10.0 * i, 1.0});
  return v;
}

TEST(ConstructedColumns, PercentileKnotsTakeMeansAtExactPositions) {
  // 8 observations: positions 2, 4, 6 are exact, the knots the means of the neighbours.
  std::vector<double> k = levPercentileKnots(sortedValues(8), 8, 0, false, 3);
  EXPECT_EQ(k, (std::vector<double>{25, 45, 65}));
  // 9 observations: positions 2.25, 4.5, 6.75 give the 3rd, 5th and 7th values.
  k = levPercentileKnots(sortedValues(9), 9, 0, false, 3);
  EXPECT_EQ(k, (std::vector<double>{30, 50, 70}));
}

TEST(ConstructedColumns, PercentileKnotsWithFrequencies) {
  // Values 1, 2, 3 with frequencies 2, 1, 1 (total 4): a knot at position 2 of 4 is exact and
  // lies between the 2nd and 3rd of the expanded values 1, 1, 2, 3.
  std::vector<std::pair<double, double>> v = {{1, 2}, {2, 1}, {3, 1}};
  std::vector<double> k = levPercentileKnots(v, 3, 4, true, 1);
  EXPECT_EQ(k, (std::vector<double>{1.5}));
  // Frequencies of 1 give the knots of the same data without FREQ.
  std::vector<std::pair<double, double>> ones = sortedValues(8);
  EXPECT_EQ(levPercentileKnots(ones, 8, 8, true, 3), levPercentileKnots(ones, 8, 0, false, 3));
  // A first position of 0 (10 knots over a total of 4) is the smallest value, not unset.
  k = levPercentileKnots(v, 3, 4, true, 10);
  ASSERT_EQ(k.size(), 10u);
  EXPECT_FALSE(isHostMissing(k[0]));
  EXPECT_EQ(k[0], 1.0);
  for (double x : k)
    EXPECT_TRUE(x >= 1 && x <= 3) << x;
}

} // namespace
