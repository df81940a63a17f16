// The guarded power function: overflow and domain errors are caught from ln|x| * y before
// the power is formed; integer exponents of moderate size are formed by repeated squaring so
// that results such as (-2)^3 are exact, everything else goes through pow(). Failures are
// reported by status and the missing value, never by a message.
#include "support/zpower.h"

#include "support/hostif.h"

#include <cmath>

namespace {

constexpr double kTwo53 = 9007199254740992.0;
// Exponents at or above this give 0 or overflow without forming ln|x| * y.
constexpr double kHugeExp = 1.3407807929943e154;
// ln(x) * y at or above this overflows a double; at or below the underflow limit the power
// is 0. The factor 1 + 3 * 2^-52 widens the test by a few units in the last place of the
// logarithm.
constexpr double kLogWiden = 1.0000000000000007;
constexpr double kOverflowLog = 709.782712893384;
constexpr double kUnderflowLog = -708.3964185;
// Below this |ln(x) * y| (104 ln 2) repeated squaring loses less than the library power.
constexpr double kSquaringLimit = 72.0873067782343;

// |x| to the integer power k by square-and-multiply over the bits of k, starting from 1.
double powerBySquaring(double ax, uint64_t k) {
  double r = 1.0;
  double b = ax;
  for (; k != 0; k >>= 1) {
    if (k & 1u)
      r *= b;
    if (k > 1)
      b *= b;
  }
  return r;
}

// The exponent's magnitude classified: large (2^53 or more, never treated as an integer),
// else whether it is a whole number and odd.
struct ExponentKind {
  bool large = false;
  bool isInt = false;
  bool odd = false;
  uint64_t bits = 0;
};

ExponentKind classify(double e) {
  ExponentKind k;
  k.large = e >= kTwo53;
  if (!k.large) {
    k.bits = static_cast<uint64_t>(static_cast<int64_t>(e));
    k.isInt = static_cast<double>(static_cast<int64_t>(e)) == e;
    k.odd = k.isInt && (k.bits & 1u);
  }
  return k;
}

// |x|^y for |x| not 0 or 1, negated for a negative base with an odd exponent. An underflow
// gives +0 whatever the base's sign.
double powerOfMagnitude(int32_t* status, double ax, double y, double e, const ExponentKind& k,
                        bool negate) {
  if (e >= kHugeExp) {
    if ((ax > 1.0 && y < 0.0) || (ax < 1.0 && y > 0.0))
      return 0.0;
    *status = ZPOWER_OVERFLOW;
    return hostMissing();
  }
  double z = std::log(ax) * (kLogWiden * y);
  if (z >= kOverflowLog) {
    *status = ZPOWER_OVERFLOW;
    return hostMissing();
  }
  if (z <= kUnderflowLog)
    return 0.0;
  if (k.isInt && std::fabs(z) < kSquaringLimit) {
    double r = powerBySquaring(ax, k.bits);
    if (y < 0.0)
      r = 1.0 / r;
    return negate ? -r : r;
  }
  double r = std::pow(ax, y);
  return negate ? -r : r;
}

} // namespace

double zpowerGuarded(int32_t* status, double x, double y, int32_t nanStatus) {
  // A missing or NaN argument gives a missing result: converting a NaN exponent to an
  // integer is undefined, and taking |x| would drop the bits that mark a missing base.
  if (std::isnan(x) || std::isnan(y)) {
    *status = nanStatus;
    return hostMissing();
  }
  *status = ZPOWER_OK;
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
  const double e = y > 0.0 ? y : -y;
  const ExponentKind k = classify(e);
  bool negate = false;
  double ax = x;
  if (x < 0.0) {
    if (k.large || !k.isInt) {
      *status = ZPOWER_NEGATIVE;
      return hostMissing();
    }
    ax = -x;
    if (ax == 1.0)
      return k.odd ? -1.0 : 1.0;
    negate = k.odd;
  }
  if (ax == 1.0)
    return 1.0;
  return powerOfMagnitude(status, ax, y, e, k, negate);
}

double zpower(int32_t* status, double x, double y) {
  return zpowerGuarded(status, x, y, ZPOWER_OK);
}
