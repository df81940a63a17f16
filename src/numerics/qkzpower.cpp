// The guarded power function. Integer exponents of moderate size are computed by repeated
// squaring so that results such as (-2)^3 are exact; everything else goes through pow().
// Failures are reported by status and the missing value, never by a message.
#include "numerics/qkzpower.h"

#include "support/hostif.h"

#include <cmath>

namespace {
constexpr double kTwo53 = 9007199254740992.0;
constexpr double kHugeExp = 1.3407807929943e154;
constexpr double kLogMax = 709.782712893384;
constexpr double kLogMin = -708.3964185;
constexpr double kSquaringLimit = 72.0873067782343; // 104 ln 2
} // namespace

double qkzpower(int32_t *status, double x, double y) {
  // A missing or NaN argument gives a missing result: converting a NaN exponent to an
  // integer is undefined, and taking |x| would drop the bits that mark a missing base.
  if (std::isnan(x) || std::isnan(y)) {
    *status = kPowNotANumber;
    return hostMissing();
  }
  double e;
  if (y > 0.0) {
    if (x == 0.0) {
      *status = kPowOk;
      return 0.0;
    }
    if (y == 1.0) {
      *status = kPowOk;
      return x;
    }
    e = y;
  } else {
    if (x == 0.0) {
      *status = kPowZeroBase;
      return hostMissing();
    }
    if (y == 0.0) {
      *status = kPowOk;
      return 1.0;
    }
    e = -y;
  }

  bool large = e >= kTwo53;
  bool isInt = false, odd = false;
  uint64_t ie = 0;
  if (!large) {
    ie = static_cast<uint64_t>(static_cast<int64_t>(e));
    isInt = static_cast<double>(static_cast<int64_t>(e)) == e;
    odd = isInt && (ie & 1u);
  }

  bool negate = false;
  double ax = x;
  if (x < 0.0) {
    if (large || !isInt) {
      *status = kPowNegativeBase;
      return hostMissing();
    }
    ax = -x;
    if (ax == 1.0) {
      *status = kPowOk;
      return odd ? -1.0 : 1.0;
    }
    negate = odd;
  }
  if (ax == 1.0) {
    *status = kPowOk;
    return 1.0;
  }

  if (e >= kHugeExp) {
    if ((ax > 1.0 && y < 0.0) || (ax < 1.0 && y > 0.0)) {
      *status = kPowOk;
      return 0.0;
    }
    *status = kPowOverflow;
    return hostMissing();
  }

  double z = std::log(ax) * (1.0000000000000007 * y);
  if (z >= kLogMax) {
    *status = kPowOverflow;
    return hostMissing();
  }
  if (z <= kLogMin) {
    *status = kPowOk;
    return 0.0;
  }
  double r;
  if (isInt && std::fabs(z) < kSquaringLimit) {
    r = 1.0;
    double b = ax;
    for (uint64_t k = ie; k != 0; k >>= 1) {
      if (k & 1u)
        r *= b;
      if (k > 1)
        b *= b;
    }
    if (y < 0.0)
      r = 1.0 / r;
  } else {
    r = std::pow(ax, y);
  }
  *status = kPowOk;
  return negate ? -r : r;
}
