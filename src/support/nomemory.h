// The code a step returns when a block could not be had: the caller passes it up unchanged,
// and the run ends with the out-of-memory message and return code (vsfExitError).
#pragma once

#include <cstdint>

inline constexpr int32_t kVsfNoMemory = -2;
