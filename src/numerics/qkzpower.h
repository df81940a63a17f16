// Guarded power x^y that reports overflow, a negative base with a non-integer exponent and
// a zero base with a non-positive exponent by a status instead of failing. The adaptive
// weights of the model core call it; it keeps no state.
#pragma once

#include <cstdint>

// Status codes written by qkzpower.
enum QkzPowerStatus : int32_t {
  kPowOk = 0,
  kPowOverflow = 1,     // the result would overflow
  kPowNegativeBase = 2, // negative base, exponent not an integer
  kPowZeroBase = 3,     // zero base, exponent not positive
  kPowNotANumber = 4,   // base or exponent missing or not a number
};

// x to the power y; *status receives one of the codes above. Every non-zero status comes
// with the missing value as the result.
double qkzpower(int32_t *status, double x, double y);
