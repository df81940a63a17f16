// The Lehmer generator: one multiplicative step modulo 2^31 - 1 without a division.
// The seed guard is zranms.cpp's.
#include "numerics/zranuni.h"

double zranuni(int64_t* seed) {
  const uint64_t x = static_cast<uint64_t>(static_cast<uint32_t>(*seed)) * 397204094u;
  uint32_t r = static_cast<uint32_t>(x & 0x7FFFFFFFu) + static_cast<uint32_t>(x >> 31);
  if (r >= 2147483647u)
    r -= 2147483647u;
  *seed = static_cast<int64_t>(r);
  return static_cast<double>(r) / 2147483647.0;
}
