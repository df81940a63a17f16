// The thread test switches: macro variables that force a threaded road on or off, so that
// the tests reach both the threaded and the plain road of a pass.
#pragma once

#include <cstdint>

// The truth of the macro variable _TESTTHREAD, or of _TESTTHREAD<suffix> when it is set
// and _TESTTHREAD is not 1: 1 or 0, or -1 when neither is set to a number.
[[nodiscard]] int32_t ztestthread(const char* suffix, int32_t suffixLength);
