// A sum of products that carries its own rounding.
#pragma once

#include <cmath>

// Accumulates a + sum of x_i y_i with the rounding of each product (Dekker's exact product
// by splitting) and of each addition (Knuth's two-sum) carried in a compensation: the result
// is the sum as if formed in twice the working precision and rounded once at the end (Ogita,
// Rump and Oishi's Dot2). A residual y - x'b whose terms are large against it (a response and
// a covariate near 1e9 without an intercept, or raw powers of degree 10) then keeps its digits,
// and comes out the same to the last bits or so in whatever order its terms are added. The
// split is inline (a fused multiply-add is a library call on the baseline processor); a
// factor beyond 1e300, whose split would overflow, adds its product's rounding as it is.
class CompensatedSum {
public:
  explicit CompensatedSum(double start) : sum_(start) {}
  void addProduct(double x, double y) {
    const double p = x * y;
    const double s = sum_ + p, z = s - sum_;
    comp_ += productError(x, y, p) + ((sum_ - (s - z)) + (p - z));
    sum_ = s;
  }
  [[nodiscard]] double value() const { return sum_ + comp_; }

private:
  // x y - p exactly, p the rounded product (0 where a factor is too large to split).
  static double productError(double x, double y, double p) {
    if (!(std::fabs(x) < 1e300 && std::fabs(y) < 1e300))
      return 0.0;
    constexpr double kSplit = 134217729.0; // 2^27 + 1
    const double tx = kSplit * x, xh = tx - (tx - x), xl = x - xh;
    const double ty = kSplit * y, yh = ty - (ty - y), yl = y - yh;
    return ((xh * yh - p) + xh * yl + xl * yh) + xl * yl;
  }
  double sum_, comp_ = 0.0;
};
