// zpower: the status codes of the domain and range errors, and agreement with the library
// power function (an independent computation) over a grid of bases and exponents.
#include "support/zpower.h"

#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Zpower, StatusCases) {
  int32_t st = -1;
  EXPECT_EQ(zpower(&st, 0.0, 2.0), 0.0);
  EXPECT_EQ(st, 0);
  EXPECT_TRUE(isHostMissing(zpower(&st, 0.0, -1.0)));
  EXPECT_EQ(st, 3);
  EXPECT_TRUE(isHostMissing(zpower(&st, 0.0, 0.0)));
  EXPECT_EQ(st, 3);
  EXPECT_TRUE(isHostMissing(zpower(&st, -8.0, 1.0 / 3.0)));
  EXPECT_EQ(st, 2);
  EXPECT_TRUE(isHostMissing(zpower(&st, -1.0, 1e300)));
  EXPECT_EQ(st, 2);
  EXPECT_EQ(zpower(&st, -2.0, 3.0), -8.0);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(zpower(&st, 2.0, 10.0), 1024.0);
  EXPECT_EQ(zpower(&st, -1.0, 7.0), -1.0);
  EXPECT_EQ(zpower(&st, -1.0, 8.0), 1.0);
  EXPECT_EQ(zpower(&st, 5.0, 0.0), 1.0);
  EXPECT_EQ(zpower(&st, 1.0, 1e308), 1.0);
  EXPECT_TRUE(isHostMissing(zpower(&st, 10.0, 400.0)));
  EXPECT_EQ(st, 1);
  EXPECT_EQ(zpower(&st, 10.0, -400.0), 0.0);
  EXPECT_EQ(st, 0);
  // Exponents of 2^512 and above: 0 when the power shrinks, else overflow.
  EXPECT_EQ(zpower(&st, 0.5, 1e200), 0.0);
  EXPECT_EQ(st, 0);
  EXPECT_TRUE(isHostMissing(zpower(&st, 1.5, 1e200)));
  EXPECT_EQ(st, 1);
  EXPECT_TRUE(isHostMissing(zpower(&st, hostMissing(), 2.0)));
}

// A missing argument is success for zpower and the caller's status for zpowerGuarded; an
// underflow gives +0 even for a negative base with an odd exponent.
TEST(Zpower, MissingArgumentStatusAndUnderflowSign) {
  int32_t st = -1;
  EXPECT_TRUE(isHostMissing(zpower(&st, 2.0, hostMissing())));
  EXPECT_EQ(st, 0);
  EXPECT_TRUE(isHostMissing(zpowerGuarded(&st, hostMissing(), 3.0, ZPOWER_NOT_A_NUMBER)));
  EXPECT_EQ(st, 4);
  double r = zpower(&st, -1e-200, 3.0);
  EXPECT_EQ(st, 0);
  EXPECT_EQ(r, 0.0);
  EXPECT_FALSE(std::signbit(r));
  EXPECT_EQ(zpower(&st, -1e-100, 3.0), -1e-300);
}

TEST(Zpower, AgreesWithLibraryPower) {
  int32_t st;
  const double bases[] = {1e-5, 0.3, 0.999, 1.0001, 2.5, 17.0, 1234.5};
  const double exps[] = {-7.0, -2.5, -1.0, 0.5, 2.0, 3.0, 9.0, 11.75, 40.0};
  for (double x : bases)
    for (double y : exps)
      for (double sx : {1.0, -1.0}) {
        double base = sx * x;
        bool integral = std::floor(y) == y;
        double got = zpower(&st, base, y);
        if (sx < 0 && !integral) {
          EXPECT_EQ(st, 2);
          continue;
        }
        double want = std::pow(base, y);
        ASSERT_EQ(st, 0) << base << "^" << y;
        EXPECT_NEAR(got, want, 1e-13 * std::fabs(want)) << base << "^" << y;
      }
}

} // namespace
