// Tests of the normal distribution routines, the error function, the probit, the Mills
// ratio, expm1/log1p and the inverse Gaussian cdf against the mpmath reference grids.
#include "numerics/zelementary.h"
#include "numerics/znormal.h"
#include "refdata.h"

#include <gtest/gtest.h>

#include <cmath>

using reftest::loadGrid;
using reftest::logProbErr;
using reftest::relErr;

TEST(Normal, ErfAndErfcMatchReference) {
  auto rows = loadGrid("erf.txt");
  ASSERT_GT(rows.size(), 20u);
  for (const auto& r : rows) {
    double x = r[0];
    double e, c;
    calerf(&e, 0, x);
    calerf(&c, 1, x);
    EXPECT_LE(std::fabs(e - r[1]), 2e-16 + 1e-15 * std::fabs(r[1])) << "erf x=" << x;
    // erfc loses a few digits through exp(-y^2) taken in one piece: about y^2 ulps.
    EXPECT_LE(relErr(c, r[2]), 2e-15 + 2e-16 * x * x) << "erfc x=" << x;
    EXPECT_EQ(zferf(x), e);
    EXPECT_EQ(zferfc(x), c);
  }
}

TEST(Normal, ErfEdgeValues) {
  EXPECT_EQ(zferf(0.0), 0.0);
  EXPECT_EQ(zferfc(0.0), 1.0);
  EXPECT_EQ(zferf(2000.0), 1.0);
  EXPECT_EQ(zferfc(2000.0), 0.0);
  EXPECT_EQ(zferfc(-2000.0), 2.0);
  EXPECT_EQ(zferfc(27.0), 0.0); // -27^2 is below the underflow limit
  EXPECT_GT(zferfc(26.0), 0.0);
  for (double x : {0.2, 0.9, 3.0, 7.5})
    EXPECT_NEAR(zferfc(-x), 2.0 - zferfc(x), 4e-16);
}

TEST(Normal, LogTailsAndDensityMatchReference) {
  auto rows = loadGrid("normal.txt");
  ASSERT_GT(rows.size(), 200u);
  for (const auto& r : rows) {
    double lc, ls, ld;
    ASSERT_EQ(zlognrm(&lc, &ls, &ld, r[0]), 0);
    EXPECT_LE(logProbErr(lc, r[1]), 1e-13) << "z=" << r[0];
    EXPECT_LE(logProbErr(ls, r[2]), 1e-13) << "z=" << r[0];
    EXPECT_LE(relErr(ld, r[3]), 1e-15) << "z=" << r[0];
    // The plain cdf carries the error of exp(-y^2) (about y^2 ulps), and so does the
    // reference exp(lcdf).
    if (r[1] > -700.0) {
      EXPECT_LE(relErr(zprbnrm(r[0]), std::exp(r[1])), 2e-14 + 3e-16 * r[0] * r[0]) << "z=" << r[0];
    }
  }
}

TEST(Normal, LogTailsAtZero) {
  double lc, ls, ld;
  ASSERT_EQ(zlognrm(&lc, &ls, &ld, 0.0), 0);
  EXPECT_DOUBLE_EQ(lc, std::log(0.5));
  EXPECT_DOUBLE_EQ(ls, std::log(0.5));
  EXPECT_DOUBLE_EQ(ld, -0.9189385332046728);
  EXPECT_EQ(zprbnrm(0.0), 0.5);
}

TEST(Normal, ProbitMatchesReference) {
  auto rows = loadGrid("probit.txt");
  ASSERT_GT(rows.size(), 20u);
  for (const auto& r : rows)
    EXPECT_LE(std::fabs(zprobit(r[0]) - r[1]), 1e-12 * std::fmax(std::fabs(r[1]), 1e-3))
        << "p=" << r[0];
}

TEST(Normal, ProbitEnds) {
  EXPECT_EQ(zprobit(0.5), 0.0);
  EXPECT_EQ(zprobit(0.0), -std::sqrt(1416.792837));
  EXPECT_EQ(zprobit(1.0), 7.941345326170997);
  // The far tail comes from Newton's method on the log cdf.
  double x = zprobit(1e-300);
  double lc, ls, ld;
  ASSERT_EQ(zlognrm(&lc, &ls, &ld, x), 0);
  EXPECT_LE(std::fabs(lc - std::log(1e-300)), 1e-12 * std::fabs(std::log(1e-300)));
  EXPECT_EQ(szprobit(1e-300), x);
}

TEST(Normal, MillsRatioMatchesReference) {
  auto rows = loadGrid("mills.txt");
  ASSERT_GT(rows.size(), 10u);
  for (const auto& r : rows) {
    double m;
    EXPECT_EQ(zmillsr(r[0], &m), 0);
    EXPECT_LE(relErr(m, r[1]), 5e-14) << "x=" << r[0];
  }
  double m;
  ASSERT_EQ(zmillsr(0.0, &m), 0);
  EXPECT_NEAR(m, std::sqrt(std::acos(-1.0) / 2.0), 1e-15);
  ASSERT_EQ(zmillsr(-20.0, &m), 0);
  EXPECT_DOUBLE_EQ(m, std::exp(200.0 + 0.9189385332046728));
  double cf;
  EXPECT_EQ(zcnfmill(10.0, &cf), 0);
  ASSERT_EQ(zmillsr(10.0, &m), 0);
  EXPECT_EQ(cf, m);
}

TEST(Normal, InverseGaussianCdfMatchesReference) {
  auto rows = loadGrid("invgauss.txt");
  ASSERT_GT(rows.size(), 20u);
  for (const auto& r : rows)
    EXPECT_LE(std::fabs(zprbigs(r[0], r[1]) - r[2]), 1e-13 + 1e-12 * r[2])
        << "x=" << r[0] << " lambda=" << r[1];
  EXPECT_EQ(zprbigs(0.0, 2.0), 0.0);
}

TEST(Elementary, Expm1AndLog1pMatchReference) {
  auto rows = loadGrid("elementary.txt");
  ASSERT_GT(rows.size(), 20u);
  // Beyond their switch points both use the library exp and log, where the subtraction
  // (or the rounding of 1 + x) costs about 2^-53 / |x| relative.
  for (const auto& r : rows) {
    double ax = std::fabs(r[0]);
    double tolE = 1e-15 + (ax > 0.01 ? 2.3e-16 / ax : 0.0);
    double tolL = 1e-15 + (ax > 0.03125 ? 2.3e-16 / ax : 0.0);
    EXPECT_LE(relErr(zexpm1(r[0]), r[1]), tolE) << "x=" << r[0];
    if (!std::isnan(r[2])) {
      EXPECT_LE(relErr(zln1px(r[0]), r[2]), tolL) << "x=" << r[0];
      EXPECT_LE(relErr(zln1pmx(r[0]), r[3]), 1e-14) << "x=" << r[0];
    }
  }
  EXPECT_EQ(zln1px(1e-20), 1e-20);
  EXPECT_DOUBLE_EQ(zln1px(-0.5), std::log(0.5));
}

TEST(Elementary, LogSumOfExp) {
  EXPECT_DOUBLE_EQ(zlnSumOfExp(1000.0, 1000.0), 1000.0 + std::log(2.0));
  EXPECT_NEAR(zlnSumOfExp(1.0, 2.0), std::log(std::exp(1.0) + std::exp(2.0)), 1e-15);
  EXPECT_NEAR(zlnSumOfExp(-800.0, -801.0), -800.0 + std::log1p(std::exp(-1.0)), 1e-12);
  EXPECT_EQ(zlnSumOfExp(5.0, -1e6), 5.0);
}

TEST(Cholesky, RowsReproduceTheMatrixAndKeepZeroColumns) {
  // A = L L' with a known lower-triangular L.
  const double L[6] = {2.0, 1.0, 3.0, -1.0, 0.5, 1.5};
  double A[6] = {0};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j <= i; ++j) {
      double s = 0.0;
      for (int k = 0; k <= j; ++k)
        s += L[i * (i + 1) / 2 + k] * L[j * (j + 1) / 2 + k];
      A[i * (i + 1) / 2 + j] = s;
    }
  double last = 0.0;
  for (int i = 0; i < 3; ++i)
    last = zchol(i, A, 1e-12);
  for (int i = 0; i < 6; ++i)
    EXPECT_NEAR(A[i], L[i], 1e-14);
  EXPECT_NEAR(last, 1.5 * 1.5, 1e-13);

  double S[3] = {4.0, 2.0, 1.0}; // rank one
  zchol(0, S, 1e-12);
  EXPECT_EQ(zchol(1, S, 1e-12), 0.0);
  EXPECT_EQ(S[0], 2.0);
  EXPECT_EQ(S[1], 1.0);
  EXPECT_EQ(S[2], 0.0);
  double untouched[1] = {7.0};
  zchol(-1, untouched, 0.0);
  EXPECT_EQ(untouched[0], 7.0);
}
