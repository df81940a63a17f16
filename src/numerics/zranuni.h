// The Lehmer generator of the data passes (multiplier 397204094 modulo 2^31 - 1) whose
// whole state is one seed word of the caller, and the seed guard that replaces an
// out-of-range seed by a clock seed and sets the macro variables SYSRANDOM and SYSRANEND.
#pragma once

#include <cstdint>

// Advances the seed (low 32 bits enter; 1 to 2147483646 stored back, 0 stays 0) and
// returns it divided by 2147483647.
double zranuni(int64_t* seed);

// Modes of zranms.
enum ZranmsMode : int32_t {
  ZRANMS_CHECK = 0, // replace an out-of-range seed by a clock seed
  ZRANMS_START = 1, // the same, then set SYSRANDOM to the seed
  ZRANMS_END = 2,   // set SYSRANEND to the seed as it is
};
// Guards the seed and publishes it (mode as above; other modes only replace).
void zranms(int64_t* seed, int32_t mode);
