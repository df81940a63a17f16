// Seeding of the procedure's random streams and their uniform source, a 32-bit Mersenne
// twister (MT19937). The variates are zranvar.cpp's; the method choice, reports and clock
// seeds come from zrngopt/zrngseed; the seed in use is published through qknrlset.
#include "numerics/zrandom.h"

#include "numerics/zrngopt.h"
#include "numerics/zrngseed.h"
#include "support/hostif.h"
#include "support/qknr.h"

#include <cstring>

namespace {

constexpr int kN = 624, kM = 397;
constexpr double kTwoM32 = 2.3283064365386963e-10;

} // namespace

void zmrsrnd(RandomStream* s) {
  int32_t method = zrngopt();
  s->uniformSource = GetNextRanUni;
  if (method == ZRNG_HARDWARE) {
    // A report the journal cannot take is followed by its own message.
    (void)zrngmsg(ZRNG_SEV_NOTE, kZrngNoHardware);
    method = ZRNG_MT2002;
  }
  // Replace a seed that is 0, negative or wider than 32 bits.
  if (static_cast<uint64_t>(s->seed) - 1u > 0xFFFFFFFEull) {
    int64_t replaced = s->seed <= 0 ? zrngi31() : zrngf31(static_cast<double>(s->seed));
    if ((replaced & 0x1FFF) == 0)
      replaced += 1;
    s->seed = replaced;
  }
  s->seedInUse = s->seed;
  bool report2002 = false;
  if (method == ZRNG_MTHYBRID) {
    if ((s->seed & 0x1FFF) != 0) {
      method = ZRNG_MT1998;
    } else {
      method = ZRNG_MT2002;
      report2002 = true;
    }
  }
  s->state[0] = static_cast<uint32_t>(s->seed);
  s->matrixWords[0] = 0;
  s->matrixWords[1] = 0x9908B0DFu;
  if (method == ZRNG_MT1998) {
    for (int i = 1; i < kN; ++i)
      s->state[i] = 69069u * s->state[i - 1];
  } else {
    if (method != ZRNG_MT2002)
      // A report the journal cannot take is followed by its own message.
      (void)zrngmsg(ZRNG_SEV_ERROR, kZrngNoMethod);
    if (report2002)
      // A report the journal cannot take is followed by its own message.
      (void)zrngmsg(ZRNG_SEV_CHANGE, kZrngHybrid2002,
                    {HostMsgArg(static_cast<long long>(s->seed))});
    for (uint32_t i = 1; i < static_cast<uint32_t>(kN); ++i)
      s->state[i] = 1812433253u * (s->state[i - 1] ^ (s->state[i - 1] >> 30)) + i;
  }
  s->stateIndex = kN;
  qknrlset(U"OSENV.QRX_RNG_SEED", 0, s->seedInUse);
  s->seeded = 1;
  zranFillTables(s);
  s->normalHeld = 0;
  s->normalValue = 0.0;
}

double GetNextRanUni(RandomStream* s) {
  uint32_t y;
  do {
    if (s->stateIndex >= kN || s->stateIndex < 0) {
      for (int k = 0; k < kN; ++k) {
        y = (s->state[k] & 0x80000000u) | (s->state[(k + 1) % kN] & 0x7FFFFFFFu);
        s->state[k] = s->state[(k + kM) % kN] ^ (y >> 1) ^ s->matrixWords[y & 1u];
      }
      s->stateIndex = 0;
    }
    y = s->state[s->stateIndex++];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
  } while (y == 0);
  s->lastInteger = y;
  return static_cast<double>(y) * kTwoM32;
}

int32_t zmrsetp(int32_t flag, RandomStream* s) {
  if (flag != 1)
    return 0;
  s->uniformSource = GetNextRanUni;
  return 1;
}

void zmrsReset32(int64_t seed, RandomStream* s) {
  s->stateIndex = kN + 1;
  std::memset(s->state, 0, sizeof s->state);
  s->seed = static_cast<int32_t>(seed);
  s->seedInUse = s->seed;
  zmrsrnd(s);
}

void zmrsCloneState32(const RandomStream* from, RandomStream* to) {
  std::memcpy(to->state, from->state, sizeof to->state);
  to->seed = from->seed;
}
