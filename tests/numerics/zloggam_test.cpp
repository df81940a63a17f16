// Tests of the log incomplete gamma against the mpmath grid (every route), its documented
// edge cases, and the plain tails zigamma.
#include "numerics/zloggam.h"
#include "refdata.h"

#include <gtest/gtest.h>

#include <cmath>

using reftest::loadGrid;
using reftest::logProbErr;

namespace {
GamRequest probability(double x, double a) {
  GamRequest r{};
  r.mode = 1;
  r.x = x;
  r.a = a;
  return r;
}
} // namespace

TEST(LogIncompleteGamma, MatchesReference) {
  auto rows = loadGrid("gamma.txt");
  ASSERT_GT(rows.size(), 100u);
  for (const auto& r : rows) {
    GamRequest q = probability(r[0], r[1]);
    ASSERT_EQ(zloggam(&q), 0) << "x=" << r[0] << " a=" << r[1];
    // Cancellation in the log prefactor costs about a ulps for large shapes.
    double tol = 1e-12;
    EXPECT_LE(logProbErr(q.lcdf, r[2]), tol) << "x=" << r[0] << " a=" << r[1] << " m=" << q.method;
    EXPECT_LE(logProbErr(q.lsdf, r[3]), tol) << "x=" << r[0] << " a=" << r[1] << " m=" << q.method;
    EXPECT_LE(std::fabs(q.ldens - r[4]), tol * std::fmax(1.0, std::fabs(r[4])))
        << "x=" << r[0] << " a=" << r[1];
    EXPECT_EQ(q.a, r[1]); // a raised shape is put back
  }
}

TEST(LogIncompleteGamma, DocumentedValues) {
  GamRequest q = probability(0.5, 2.0);
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_NEAR(std::exp(q.lcdf), 0.09020401043104988, 1e-16);
  EXPECT_EQ(q.method, 0);
  q = probability(3.0, 2.0);
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_NEAR(std::exp(q.lsdf), 0.19914827347145575, 1e-16);
  EXPECT_EQ(q.method, 3);
  q = probability(0.2, 0.5);
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_NEAR(std::exp(q.lcdf), 0.472910743134462, 1e-15);
  EXPECT_EQ(q.a, 0.5);
  EXPECT_NEAR(q.ldens, -0.5 * std::log(0.2) - 0.2 - std::lgamma(0.5), 1e-14);
  q = probability(1.0, 1.0);
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_NEAR(q.lcdf, std::log(1.0 - std::exp(-1.0)), 1e-15);
  q = probability(0.0, 3.0);
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_EQ(q.lcdf, -1.7976931348623157e308);
  EXPECT_EQ(q.lsdf, 0.0);
  q = probability(1.0, 1e-10);
  EXPECT_EQ(zloggam(&q), 1);
  q = probability(1.0, 2.0);
  q.mode = 16;
  EXPECT_EQ(zloggam(&q), 1);
  q.mode = 0;
  EXPECT_EQ(zloggam(&q), 1);
  q = probability(-1.0, 2.0);
  EXPECT_EQ(zloggam(&q), 1);
}

TEST(LogIncompleteGamma, DensityModeAndIntegralRoute) {
  GamRequest q{};
  q.mode = 2;
  q.x = 4.0;
  q.a = 3.0;
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_NEAR(q.ldens, 2.0 * std::log(4.0) - 4.0 - std::log(2.0), 1e-14);
  // The integral route on its own agrees with the other routes.
  for (double a : {0.7, 3.0, 40.0}) {
    for (double x : {0.5 * a, 2.0 * a}) {
      GamRequest ref = probability(x, a);
      ASSERT_EQ(zloggam(&ref), 0);
      GamRequest in = probability(x, a);
      in.tol = 1e-14;
      ASSERT_EQ(gammafamily::zintgam(&in), 0) << a << " " << x;
      EXPECT_LE(logProbErr(in.lsdf, ref.lsdf), 1e-9) << a << " " << x;
      EXPECT_LE(logProbErr(in.lcdf, ref.lcdf), 1e-9) << a << " " << x;
    }
  }
}

TEST(LogIncompleteGamma, HugeShapeNearTheModeUsesTheNormalApproximation) {
  GamRequest q = probability(2e9 + 3e4, 2e9);
  ASSERT_EQ(zloggam(&q), 0);
  EXPECT_EQ(q.method, 2);
  // Wilson-Hilferty is accurate to O(1/a) here.
  double z = 3e4 / std::sqrt(2e9);
  EXPECT_NEAR(std::exp(q.lcdf), 0.5 * std::erfc(-z / std::sqrt(2.0)), 1e-5);
}

TEST(PlainIncompleteGamma, AgreesWithTheLogForm) {
  for (double a : {0.3, 1.0, 2.5, 30.0})
    for (double x : {0.1, 1.0, 3.0, 50.0}) {
      double P, Q, d;
      ASSERT_EQ(zigamma(x, a, &P, &Q, &d), 0);
      GamRequest q = probability(x, a);
      ASSERT_EQ(zloggam(&q), 0);
      EXPECT_NEAR(P, std::exp(q.lcdf), 1e-14);
      EXPECT_NEAR(Q, std::exp(q.lsdf), 1e-14);
      EXPECT_NEAR(d, std::exp(a * std::log(x) - x - std::lgamma(a + 1.0)), 1e-14);
    }
  double P, Q, d;
  EXPECT_EQ(zigamma(-1.0, 2.0, &P, &Q, &d), 1);
  ASSERT_EQ(zigamma(0.0, 2.0, &P, &Q, &d), 0);
  EXPECT_EQ(P, 0.0);
  EXPECT_EQ(Q, 1.0);
  EXPECT_EQ(SpecialLog1PlusX(-1.0), -1.3407807929943e154);
}
