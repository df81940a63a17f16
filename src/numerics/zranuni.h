// The Lehmer generator of the data passes (multiplier 397204094 modulo 2^31 - 1) whose
// whole state is one seed word of the caller. Its seed guard and the seed macro variables
// are zranms.h's.
#pragma once

#include <cstdint>

// Advances the seed (low 32 bits enter; 1 to 2147483646 stored back, 0 stays 0) and
// returns it divided by 2147483647.
double zranuni(int64_t* seed);
