// Clock values and seed folding for the random streams: 32- and 64-bit clock values, the
// reported 31- and 64-bit clock seeds, and the folding of an unusable seed into 31 bits.
// The date-time, process statistics and thread number come from the kernel handle.
#pragma once

#include <cstdint>

// The kernel's date-time in seconds (kernel service dispatcher); the C++ wall clock when
// the kernel offers no dispatcher.
double qkzdttme();

// 32-bit clock value, never 0: the date-time scaled by the length of one clock tick.
[[nodiscard]] uint32_t zrngt32();
// 31-bit clock seed (0 to 2147483646), reported with status 0x8C7FE81E at severity 0.
[[nodiscard]] int64_t zrngi31();
// Folds a seed given as a double into 1 to 2147483646 (a whole number in range is kept,
// its sign dropped); 0 for a missing value. A folded seed is reported (0x8C7FE81F).
[[nodiscard]] int64_t zrngf31(double x);
// 64-bit clock value mixing the date-time, the process statistics and the thread number.
uint64_t zrngt64();
// The same, reported with status 0x8C7FE81E at severity 0.
uint64_t zrngi64();
