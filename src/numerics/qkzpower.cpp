// The guarded power of the numerics layer: the support library's zpower with one difference,
// a missing or NaN argument is reported as a failure (kPowNotANumber) rather than as success,
// because the adaptive weights stop on any non-zero status.
#include "numerics/qkzpower.h"

#include "support/zpower.h"

double qkzpower(int32_t* status, double x, double y) {
  return zpowerGuarded(status, x, y, kPowNotANumber);
}
