// Guarded power x^y that reports overflow, a negative base with a non-integer exponent and
// a zero base with a non-positive exponent by a status instead of failing. The adaptive weights
// of the model core call it; it keeps no state. The implementation is zpower (support/zpower.h).
#pragma once

#include "support/zpower.h"

#include <cstdint>

// Status codes written by qkzpower: those of zpower under the names the numerics use.
enum QkzPowerStatus : int32_t {
  kPowOk = ZPOWER_OK,
  kPowOverflow = ZPOWER_OVERFLOW,       // the result would overflow
  kPowNegativeBase = ZPOWER_NEGATIVE,   // negative base, exponent not an integer
  kPowZeroBase = ZPOWER_ZERO_BASE,      // zero base, exponent not positive
  kPowNotANumber = ZPOWER_NOT_A_NUMBER, // base or exponent missing or not a number
};

// x to the power y; *status receives one of the codes above. Every non-zero status comes
// with the missing value as the result.
double qkzpower(int32_t* status, double x, double y);
