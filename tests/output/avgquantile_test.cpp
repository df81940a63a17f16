// The quantile rule and the virtual sorted array of the model-averaging summary, against
// the order statistics written out by hand.
#include "output/vsfaverage.h"

#include <gtest/gtest.h>

#include <vector>

TEST(AverageQuantile, RuleAndClamp) {
  std::vector<double> a{1, 2, 3, 4, 5};
  auto at = [&](int64_t i) { return a[size_t(i)]; };
  // x = 1.25 is not an integer: the second smallest value.
  EXPECT_DOUBLE_EQ(vsfQuantileAt(at, 5, 1.25), 2.0);
  // An integer x: the mean of elements x - 1 and x.
  EXPECT_DOUBLE_EQ(vsfQuantileAt(at, 4, 1.0), 1.5);
  // x at 0 or at n would index outside the array: the index is clamped.
  EXPECT_DOUBLE_EQ(vsfQuantileAt(at, 5, 0.0), 1.0);
  EXPECT_DOUBLE_EQ(vsfQuantileAt(at, 5, 5.0), 5.0);
}

TEST(AverageQuantile, ImpliedZeros) {
  // Non-zero estimates -2, 3, 5 of 6 resamples: the virtual array is -2, 0, 0, 0, 3, 5.
  const double v[] = {-2, 3, 5};
  const double want[] = {-2, 0, 0, 0, 3, 5};
  for (int64_t i = 0; i < 6; ++i)
    EXPECT_DOUBLE_EQ(vsfIdxVal(v, i, 1, 3), want[i]) << i;
}
