// zpower: x to the power y with a status instead of a floating-point exception, for the
// adaptive weights and the polynomial and spline bases. Missing values come from hostif.h.
// This is the one implementation of the guarded power; numerics/qkzpower.h wraps it.
#pragma once

#include <cstdint>

// Status codes of zpower.
enum ZpowerStatus : int32_t {
  ZPOWER_OK = 0,
  ZPOWER_OVERFLOW = 1,     // the result would overflow
  ZPOWER_NEGATIVE = 2,     // negative base with an exponent that is not an integer
  ZPOWER_ZERO_BASE = 3,    // zero base with an exponent that is not positive
  ZPOWER_NOT_A_NUMBER = 4, // base or exponent missing or not a number (see zpowerGuarded)
};

// x to the power y. On status 1, 2 and 3 the result is the missing value; a missing or NaN
// argument gives the missing value with status `nanStatus`. The callers differ only there:
// zpower reports such an argument as success (0), qkzpower as ZPOWER_NOT_A_NUMBER.
double zpowerGuarded(int32_t* status, double x, double y, int32_t nanStatus);

// x to the power y; a missing or NaN argument gives the missing value with status 0.
double zpower(int32_t* status, double x, double y);
