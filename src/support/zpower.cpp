// The guarded power function: overflow and domain errors are caught from ln|x| * y before
// the power is formed; small integer powers are formed by repeated squaring.
#include "support/zpower.h"

#include "support/hostif.h"

#include <cmath>

namespace {

constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTwo512 = 1.3407807929942597e154;
// ln(x) * y at or above this overflows a double; at or below the underflow limit the power
// is 0. The factor widens the test by a few units in the last place of the logarithm.
constexpr double kLogWiden = 1.0000000000000007;
constexpr double kOverflowLog = 709.782712893384;
constexpr double kUnderflowLog = -708.3964185;
// Below this |ln(x) * y| repeated squaring loses less than the library power function.
constexpr double kSquaringLimit = 72.0873067782343;

bool isInteger(double v) { return std::floor(v) == v; }

// |x| to the integer power m (m a whole double, possibly above 2^64) by repeated squaring
// over the bits of m.
double powerBySquaring(double ax, double m) {
  double result = 1.0;
  double p = ax;
  while (m > 0.0) {
    double half = std::floor(m * 0.5);
    if (m - 2.0 * half != 0.0)
      result *= p;
    m = half;
    if (m > 0.0)
      p *= p;
  }
  return result;
}

} // namespace

double zpower(int32_t* status, double x, double y) {
  *status = ZPOWER_OK;
  if (std::isnan(x) || std::isnan(y))
    return hostMissing();
  if (y > 0.0) {
    if (x == 0.0)
      return 0.0;
    if (y == 1.0)
      return x;
  } else {
    if (x == 0.0) {
      *status = ZPOWER_ZERO_BASE;
      return hostMissing();
    }
    if (y == 0.0)
      return 1.0;
  }
  double m = std::fabs(y);
  double sign = 1.0;
  if (x < 0.0) {
    if (m >= kTwo53 || !isInteger(m)) {
      *status = ZPOWER_NEGATIVE;
      return hostMissing();
    }
    if (std::fmod(m, 2.0) == 1.0)
      sign = -1.0;
    if (x == -1.0)
      return sign;
  } else if (x == 1.0) {
    return 1.0;
  }
  double ax = std::fabs(x);
  double r;
  if (m < kTwo512) {
    double t = std::log(ax) * kLogWiden * y;
    if (t >= kOverflowLog) {
      *status = ZPOWER_OVERFLOW;
      return hostMissing();
    }
    if (t <= kUnderflowLog)
      return 0.0;
    if (isInteger(y) && std::fabs(t) < kSquaringLimit) {
      r = powerBySquaring(ax, m);
      if (y < 0.0)
        r = 1.0 / r;
    } else {
      r = std::pow(ax, y);
    }
  } else {
    if ((ax > 1.0) != (y > 0.0))
      return 0.0;
    *status = ZPOWER_OVERFLOW;
    return hostMissing();
  }
  return sign * r;
}
