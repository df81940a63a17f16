// Tests of the B-spline basis: partition of unity, agreement with an independent
// Cox-de Boor recursion, the ends of the range and repeated knots.
#include "numerics/zmaopb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {
// B_{i,k}(x) on knots t by the Cox-de Boor recursion, half-open intervals.
double coxDeBoor(const std::vector<double>& t, int i, int k, double x) {
  if (k == 0)
    return (t[i] <= x && x < t[i + 1]) ? 1.0 : 0.0;
  double a = 0.0, b = 0.0;
  if (t[i + k] != t[i])
    a = (x - t[i]) / (t[i + k] - t[i]) * coxDeBoor(t, i, k - 1, x);
  if (t[i + k + 1] != t[i + 1])
    b = (t[i + k + 1] - x) / (t[i + k + 1] - t[i + 1]) * coxDeBoor(t, i + 1, k - 1, x);
  return a + b;
}

// Knots extended by k at each end: k + 1 functions are defined over every inner interval.
std::vector<double> knots(int k) {
  std::vector<double> t;
  for (int i = k; i > 0; --i)
    t.push_back(-0.5 * i);
  for (double v : {0.0, 0.7, 1.1, 2.0, 3.5, 4.0})
    t.push_back(v);
  for (int i = 1; i <= k; ++i)
    t.push_back(4.0 + 0.5 * i);
  return t;
}
} // namespace

TEST(BSpline, MatchesCoxDeBoorAndSumsToOne) {
  for (int k : {1, 2, 3}) {
    std::vector<double> t = knots(k);
    const int nt = static_cast<int>(t.size());
    std::vector<double> b(k + 1), dr(k), dl(k);
    for (double x = -0.49; x < 4.0; x += 0.173) {
      int left = k;
      ASSERT_EQ(zmaopb(k, nt, &left, t.data(), b.data(), dr.data(), dl.data(), x), 0) << x;
      double sum = 0.0;
      for (int r = 0; r <= k; ++r) {
        EXPECT_GE(b[r], 0.0);
        sum += b[r];
        // b[r] is the function whose support starts at knot left - 1 - k + r (defined here
        // from the first inner knot on).
        if (x >= t[k]) {
          EXPECT_NEAR(b[r], coxDeBoor(t, left - 1 - k + r, k, x), 1e-14) << k << " " << x;
        }
      }
      EXPECT_NEAR(sum, 1.0, 1e-14) << k << " " << x;
    }
  }
}

TEST(BSpline, EndsOfTheRange) {
  const int k = 3;
  std::vector<double> t = knots(k);
  const int nt = static_cast<int>(t.size());
  std::vector<double> b(k + 1), dr(k), dl(k);
  int left = k;
  EXPECT_EQ(zmaopb(k, nt, &left, t.data(), b.data(), dr.data(), dl.data(), 99.0), 1);
  EXPECT_EQ(b, (std::vector<double>{0, 0, 0, 1}));
  left = k;
  EXPECT_EQ(zmaopb(k, nt, &left, t.data(), b.data(), dr.data(), dl.data(), -99.0), -1);
  EXPECT_EQ(b, (std::vector<double>{1, 0, 0, 0}));
  // The knot at position lim = nt - k closes the range on the right.
  left = k;
  EXPECT_EQ(zmaopb(k, nt, &left, t.data(), b.data(), dr.data(), dl.data(), t[nt - k]), 0);
  EXPECT_EQ(left, nt - k);
  double sum = b[0] + b[1] + b[2] + b[3];
  EXPECT_NEAR(sum, 1.0, 1e-14);
  // Degree 0 is 1 within the range.
  int l0 = 0;
  double b0[1];
  EXPECT_EQ(zmaopb(0, nt, &l0, t.data(), b0, nullptr, nullptr, 1.5), 0);
  EXPECT_EQ(b0[0], 1.0);
}

TEST(BSpline, RepeatedKnotsGiveNoDivisionByZero) {
  const int k = 2;
  std::vector<double> t = {0, 0, 0, 1, 1, 2, 2, 2};
  std::vector<double> b(k + 1), dr(k), dl(k);
  for (double x : {0.0, 0.5, 1.0, 1.5, 1.999}) {
    int left = k;
    int st =
        zmaopb(k, static_cast<int>(t.size()), &left, t.data(), b.data(), dr.data(), dl.data(), x);
    EXPECT_EQ(st, 0) << x;
    double sum = 0.0;
    for (double v : b) {
      EXPECT_TRUE(std::isfinite(v));
      sum += v;
    }
    EXPECT_NEAR(sum, 1.0, 1e-14) << x;
  }
}
