// The seed check of the procedure's Lehmer stream and the seed macro variables.
#pragma once

#include <cstdint>

// Checks (mode 1) or publishes (mode 2) the seed the pointer holds.
void zranms(int64_t* seed, int32_t mode);
