// Tests of the vector kernels and the guarded power function.
#include "numerics/qkzpower.h"
#include "numerics/zvector.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

TEST(VectorKernels, InnerSumScaleAxpy) {
  std::vector<double> x = {1, 2, 3, 4, 5}, y = {2, -1, 0.5, 1, 3};
  EXPECT_EQ(zinner(x.data(), y.data(), 5), 2 - 2 + 1.5 + 4 + 15);
  EXPECT_EQ(zinner(x.data(), y.data(), 4), 2 - 2 + 1.5 + 4);
  EXPECT_EQ(zinner(x.data(), y.data(), 0), 0.0);
  EXPECT_EQ(zvsum(x.data(), 5), 15.0);
  EXPECT_EQ(zvsum(x.data(), -1), 0.0);
  std::vector<double> z(5);
  zvscl11(z.data(), x.data(), 5, -2.0);
  EXPECT_EQ(z[4], -10.0);
  zvscl11(x.data(), x.data(), 5, 0.5); // in place
  EXPECT_EQ(x[1], 1.0);
  zvaxpy(z.data(), y.data(), x.data(), 5, 2.0);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(z[i], y[i] + 2.0 * x[i]);
  zvaxpy(z.data(), y.data(), x.data(), 5, 0.0); // a = 0 copies y
  EXPECT_EQ(z, y);
  std::vector<double> keep = y;
  zvaxpy(y.data(), y.data(), x.data(), 5, 0.0); // in place with a = 0: untouched
  EXPECT_EQ(y, keep);
}

TEST(VectorKernels, MaximaAndNorm) {
  std::vector<double> v = {-7, 3, 5, -2};
  EXPECT_EQ(zvamx(v.data(), 4), 7.0);
  EXPECT_EQ(zvamx(v.data(), 0), 0.0);
  EXPECT_EQ(zvamxj(v.data(), 2, 2), 7.0);
  EXPECT_EQ(zvamxj(v.data() + 1, 2, 2), 3.0);
  EXPECT_EQ(zvamxj(v.data() + 2, 5, 1), 5.0);
  double t[2] = {3, 4};
  EXPECT_DOUBLE_EQ(zvenorm(2, 1, t), 5.0);
  double zero[3] = {0, 0, 0};
  EXPECT_EQ(zvenorm(3, 1, zero), 0.0);
  double big[2] = {1e200, 1e200};
  EXPECT_NEAR(zvenorm(2, 1, big) / 1e200, std::sqrt(2.0), 1e-15);
  double tiny[2] = {3e-200, 4e-200};
  EXPECT_NEAR(zvenorm(2, 1, tiny) / 5e-200, 1.0, 1e-15);
  double strided[6] = {3, 99, 0, 99, 4, 99};
  EXPECT_DOUBLE_EQ(zvenorm(3, 2, strided), 5.0);
  // An element negligible beside the largest does not enter.
  double neg[2] = {1.0, 1e-20};
  EXPECT_EQ(zvenorm(2, 1, neg), 1.0);
}

TEST(GuardedPower, DocumentedCases) {
  int32_t st = -1;
  EXPECT_EQ(qkzpower(&st, 0.0, 2.0), 0.0);
  EXPECT_EQ(st, 0);
  EXPECT_TRUE(isHostMissing(qkzpower(&st, 0.0, 0.0)));
  EXPECT_EQ(st, 3);
  EXPECT_TRUE(isHostMissing(qkzpower(&st, 0.0, -1.0)));
  EXPECT_EQ(st, 3);
  EXPECT_TRUE(isHostMissing(qkzpower(&st, -8.0, 1.0 / 3.0)));
  EXPECT_EQ(st, 2);
  EXPECT_EQ(qkzpower(&st, -2.0, 3.0), -8.0);
  EXPECT_EQ(st, 0);
  EXPECT_TRUE(isHostMissing(qkzpower(&st, -1.0, 1e300)));
  EXPECT_EQ(st, 2);
  EXPECT_TRUE(isHostMissing(qkzpower(&st, 2.0, 2000.0)));
  EXPECT_EQ(st, 1);
  EXPECT_EQ(qkzpower(&st, 2.0, -2000.0), 0.0);
  EXPECT_EQ(st, 0);
  for (double y : {0.5, 1.0, 7.0, 1e300}) {
    EXPECT_EQ(qkzpower(&st, 1.0, y), 1.0);
    EXPECT_EQ(st, 0);
  }
  EXPECT_EQ(qkzpower(&st, -1.0, 3.0), -1.0);
  EXPECT_EQ(qkzpower(&st, -1.0, 4.0), 1.0);
  EXPECT_EQ(qkzpower(&st, 5.0, 0.0), 1.0);
  EXPECT_EQ(qkzpower(&st, 0.5, 1e200), 0.0);
  EXPECT_EQ(st, 0);
  EXPECT_TRUE(isHostMissing(qkzpower(&st, 3.0, 1e200)));
  EXPECT_EQ(st, 1);
}

TEST(GuardedPower, AgreesWithPowAndExactIntegers) {
  int32_t st;
  for (double x : {0.3, 1.7, 2.0, 10.0, 123.456})
    for (double y : {-3.0, -0.5, 0.25, 2.0, 3.5, 17.0, 40.0}) {
      double r = qkzpower(&st, x, y);
      ASSERT_EQ(st, 0);
      EXPECT_NEAR(r, std::pow(x, y), 4e-15 * std::pow(x, y)) << x << "^" << y;
    }
  EXPECT_EQ(qkzpower(&st, 3.0, 20.0), 3486784401.0);
  EXPECT_EQ(qkzpower(&st, -3.0, -3.0), -1.0 / 27.0);
}

TEST(GuardedPower, MissingOrNanArgumentsGiveMissingWithFailure) {
  int32_t st = 0;
  EXPECT_TRUE(isHostMissing(qkzpower(&st, 2.0, std::nan(""))));
  EXPECT_NE(st, 0);
  st = 0;
  EXPECT_TRUE(isHostMissing(qkzpower(&st, hostMissing(), 2.0)));
  EXPECT_NE(st, 0);
  st = 0;
  EXPECT_TRUE(isHostMissing(qkzpower(&st, hostMissing(), 1.0)));
  EXPECT_NE(st, 0);
  st = 0;
  EXPECT_TRUE(isHostMissing(qkzpower(&st, 2.0, hostMissing())));
  EXPECT_NE(st, 0);
}
