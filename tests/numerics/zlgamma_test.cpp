// Tests of log gamma, log beta, the Stirling correction and the log gamma density.
#include "numerics/zlgamma.h"
#include "refdata.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>

using reftest::loadGrid;

TEST(LogGamma, MatchesReference) {
  auto rows = loadGrid("lgamma.txt");
  ASSERT_GT(rows.size(), 20u);
  for (const auto& r : rows)
    EXPECT_LE(std::fabs(zlgamma(r[0]) - r[1]), 1e-14 * std::fmax(1.0, std::fabs(r[1])))
        << "x=" << r[0];
}

TEST(LogGamma, ExactPointsAndMarks) {
  EXPECT_EQ(zlgamma(1.0), 0.0);
  EXPECT_EQ(zlgamma(2.0), 0.0);
  EXPECT_DOUBLE_EQ(zlgamma(0.5), 0.5 * std::log(std::acos(-1.0)));
  EXPECT_EQ(zlgamma(0.0), -99.0);
  EXPECT_EQ(zlgamma(-3.0), -99.0);
  EXPECT_EQ(zlgamma(1e-310), -99.0);
  double lf = 0.0;
  for (int i = 2; i <= 14; ++i)
    lf += std::log(static_cast<double>(i));
  EXPECT_NEAR(zlgamma(15.0), lf, 1e-14 * lf);
  // The Stirling correction against the definition at a large argument.
  EXPECT_NEAR(zlgbern(30.0),
              std::lgamma(30.0) - (29.5 * std::log(30.0) - 30.0 + 0.9189385332046728), 1e-14);
}

TEST(LogBeta, MatchesReferenceAndMarks) {
  auto rows = loadGrid("lbeta.txt");
  ASSERT_GT(rows.size(), 10u);
  for (const auto& r : rows)
    EXPECT_LE(std::fabs(zlbeta(r[0], r[1]) - r[2]), 2e-14 * std::fmax(1.0, std::fabs(r[2])))
        << "a=" << r[0] << " b=" << r[1];
  EXPECT_EQ(zlbeta(0.0, 1.0), 99.0);
  EXPECT_EQ(zlbeta(1.0, -2.0), 99.0);
  // A parameter below the smallest normal double makes log gamma return its mark, which is
  // not added as a number.
  EXPECT_EQ(zlbeta(1e-310, 3.0), 99.0);
  EXPECT_EQ(zlbeta(3.0, 1e-310), 99.0);
}

TEST(LogGammaDensity, BranchesAndEdges) {
  double r;
  ASSERT_EQ(zldngam(2.5, 3.0, &r), 0);
  EXPECT_NEAR(r, 2.0 * std::log(2.5) - 2.5 - std::lgamma(3.0), 1e-14);
  // Near the mode of a large shape the Stirling form is used.
  ASSERT_EQ(zldngam(1000.0, 1010.0, &r), 0);
  EXPECT_NEAR(r, 1009.0 * std::log(1000.0) - 1000.0 - std::lgamma(1010.0), 1e-11);
  ASSERT_EQ(zldngam(0.0, 1.0, &r), 0);
  EXPECT_EQ(r, 0.0);
  ASSERT_EQ(zldngam(0.0, 2.0, &r), 0);
  EXPECT_TRUE(isHostMissing(r));
  r = 7.0;
  EXPECT_EQ(zldngam(-1.0, 2.0, &r), 1);
  EXPECT_EQ(r, 7.0);
  EXPECT_EQ(zldngam(1.0, 0.0, &r), 1);
}

TEST(MultivariateLogGamma, AgainstSumOfLogGammas) {
  double r;
  ASSERT_EQ(zlgammaMV(4.0, 3, &r), 0);
  double want = 3.0 * 2.0 / 4.0 * std::log(std::acos(-1.0)) + std::lgamma(4.0) + std::lgamma(3.5) +
                std::lgamma(3.0);
  EXPECT_NEAR(r, want, 1e-13);
  EXPECT_EQ(zlgammaMV(0.9, 3, &r), 1);
  EXPECT_TRUE(isHostMissing(r));
  EXPECT_EQ(zlgammaMV(2.0, 0, &r), 1);
  double b;
  ASSERT_EQ(zlbetaMV(4.0, 5.0, 3, &b), 0);
  double ga, gb, gs;
  ASSERT_EQ(zlgammaMV(4.0, 3, &ga), 0);
  ASSERT_EQ(zlgammaMV(5.0, 3, &gb), 0);
  ASSERT_EQ(zlgammaMV(9.0, 3, &gs), 0);
  EXPECT_NEAR(b, ga + gb - gs, 1e-13);
  ASSERT_EQ(zlbetaMV(2.0, 3.0, 1, &b), 0);
  EXPECT_NEAR(b, std::lgamma(2.0) + std::lgamma(3.0) - std::lgamma(5.0), 1e-14);
  EXPECT_EQ(zlbetaMV(1.0, 5.0, 3, &b), 1);
}
