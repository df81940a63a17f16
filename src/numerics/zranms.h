// The seed guard of the procedure's Lehmer stream: replaces an out-of-range seed by a
// clock seed and sets the macro variables SYSRANDOM and SYSRANEND. The generator itself
// is zranuni.h's.
#pragma once

#include <cstdint>

// Modes of zranms.
enum ZranmsMode : int32_t {
  ZRANMS_CHECK = 0, // replace an out-of-range seed by a clock seed
  ZRANMS_START = 1, // the same, then set SYSRANDOM to the seed
  ZRANMS_END = 2,   // set SYSRANEND to the seed as it is
};
// Guards the seed and publishes it (mode as above; other modes only replace).
void zranms(int64_t* seed, int32_t mode);
