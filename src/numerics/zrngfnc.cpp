// The general generator family: seeding and drawing of each method, and the entry zrngfnc
// that seeds a state by method code. Nothing in the procedure calls it; the streams of the
// procedure are zrandom.cpp's. Threefry comes from Random123.
#include "numerics/zrngfnc.h"

#include "numerics/zrngopt.h"
#include "numerics/zrngseed.h"

#include <Random123/threefry.h>

namespace {

constexpr double kTwoM32 = 2.3283064365386963e-10;
constexpr double kTwoM53 = 1.1102230246251565e-16;

// Doubles of the 64-bit methods: the top 53 bits, drawing again while they are 0.
template <class State, uint64_t (*Next)(State*)> double double53(void* p) {
  State* s = static_cast<State*>(p);
  for (;;) {
    uint64_t x = Next(s) >> 11;
    if (x != 0)
      return static_cast<double>(x) * kTwoM53;
  }
}

uint64_t splitmix64(uint64_t* x) {
  uint64_t z = (*x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

} // namespace

// ---- 32-bit Mersenne twister --------------------------------------------------------

void zrng_MT1998_init(ZrngMT32State* s, uint32_t seed) {
  s->mt[0] = seed;
  for (int i = 1; i < 624; ++i)
    s->mt[i] = 69069u * s->mt[i - 1];
  s->index = 624;
}

void zrng_MT2002_init(ZrngMT32State* s, uint32_t seed) {
  s->mt[0] = seed;
  for (uint32_t i = 1; i < 624; ++i)
    s->mt[i] = 1812433253u * (s->mt[i - 1] ^ (s->mt[i - 1] >> 30)) + i;
  s->index = 624;
}

void zrng_MTHYBRID_init(ZrngMT32State* s, uint32_t seed) {
  if ((seed & 0x1FFFu) != 0)
    zrng_MT1998_init(s, seed);
  else
    zrng_MT2002_init(s, seed);
}

void zrng_MT32_init(ZrngMT32State* s, uint32_t seed) { zrng_MT2002_init(s, seed); }

uint32_t zrng_MT32_uint32(ZrngMT32State* s) {
  static constexpr uint32_t kMatrix[2] = {0u, 0x9908B0DFu};
  if (s->index >= 624 || s->index < 0) {
    for (int k = 0; k < 624; ++k) {
      uint32_t y = (s->mt[k] & 0x80000000u) | (s->mt[(k + 1) % 624] & 0x7FFFFFFFu);
      s->mt[k] = s->mt[(k + 397) % 624] ^ (y >> 1) ^ kMatrix[y & 1u];
    }
    s->index = 0;
  }
  uint32_t y = s->mt[s->index++];
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

double zrng_MT32_double(void* s) {
  return static_cast<double>(zrng_MT32_uint32(static_cast<ZrngMT32State*>(s))) * kTwoM32;
}

// ---- 64-bit Mersenne twister --------------------------------------------------------

void zrng_MT64_init(ZrngMT64State* s, uint64_t seed) {
  s->mt[0] = seed;
  for (uint64_t i = 1; i < 312; ++i)
    s->mt[i] = 6364136223846793005ull * (s->mt[i - 1] ^ (s->mt[i - 1] >> 62)) + i;
  s->index = 312;
}

uint64_t zrng_MT64_uint64(ZrngMT64State* s) {
  constexpr uint64_t kUpper = 0xFFFFFFFF80000000ull, kLower = 0x7FFFFFFFull;
  constexpr uint64_t kMatrix = 0xB5026F5AA96619E9ull;
  if (s->index >= 312 || s->index < 0) {
    for (int k = 0; k < 312; ++k) {
      uint64_t y = (s->mt[k] & kUpper) | (s->mt[(k + 1) % 312] & kLower);
      s->mt[k] = s->mt[(k + 156) % 312] ^ (y >> 1) ^ ((y & 1u) ? kMatrix : 0u);
    }
    s->index = 0;
  }
  uint64_t x = s->mt[s->index++];
  x ^= (x >> 29) & 0x5555555555555555ull;
  x ^= (x << 17) & 0x71D67FFFEDA60000ull;
  x ^= (x << 37) & 0xFFF7EEE000000000ull;
  x ^= x >> 43;
  return x;
}

double zrng_MT64_double(void* s) { return double53<ZrngMT64State, zrng_MT64_uint64>(s); }

// ---- iterated MurmurHash3 finaliser ---------------------------------------------------

void zrng_MH3_init(ZrngMH3State* s, uint64_t seed) { s->x = seed; }

uint64_t zrng_MH3_uint64(ZrngMH3State* s) { return s->x = zmh3x64(s->x); }

double zrng_MH3_double(void* s) { return double53<ZrngMH3State, zrng_MH3_uint64>(s); }

// ---- xorshift family ------------------------------------------------------------------

void zrng_XOR_init(ZrngXorState* s, uint64_t seed, int32_t variant) {
  if (variant != 1 && variant != 2 && variant != 16 && variant != 64)
    variant = 16;
  uint64_t x = seed;
  for (int i = 0; i < 64; ++i)
    s->s[i] = splitmix64(&x);
  s->index = 0;
  s->variant = variant;
}

uint64_t zrng_XOR_uint64(ZrngXorState* s) {
  switch (s->variant) {
  case 1: {
    uint64_t x = s->s[0];
    x ^= x >> 12;
    x ^= x << 25;
    x ^= x >> 27;
    s->s[0] = x;
    return x * 0x2545F4914F6CDD1Dull;
  }
  case 2: {
    uint64_t s1 = s->s[0];
    const uint64_t s0 = s->s[1];
    s->s[0] = s0;
    s1 ^= s1 << 23;
    s->s[1] = s1 ^ s0 ^ (s1 >> 17) ^ (s0 >> 26);
    return s->s[1] + s0;
  }
  case 64: {
    const uint64_t s0 = s->s[s->index];
    s->index = (s->index + 1) & 63;
    uint64_t s1 = s->s[s->index];
    s1 ^= s1 << 25;
    s->s[s->index] = s1 ^ s0 ^ (s1 >> 3) ^ (s0 >> 49);
    return s->s[s->index] * 0x74321163EEC4A005ull;
  }
  default: {
    const uint64_t s0 = s->s[s->index & 15];
    s->index = (s->index + 1) & 15;
    uint64_t s1 = s->s[s->index];
    s1 ^= s1 << 31;
    s->s[s->index] = s1 ^ s0 ^ (s1 >> 11) ^ (s0 >> 30);
    return s->s[s->index] * 0x106689D45497FDB5ull;
  }
  }
}

double zrng_XOR_double(void* s) { return double53<ZrngXorState, zrng_XOR_uint64>(s); }

// ---- xorgens4096 ----------------------------------------------------------------------

namespace {
constexpr int kXgR = 64, kXgS = 53, kXgA = 33, kXgB = 26, kXgC = 27, kXgD = 29;
constexpr uint64_t kWeyl = 0x61C8864680B583EBull;
} // namespace

void zrng_XORGENS_init(ZrngXorgensState* s, uint64_t seed) {
  uint64_t v = seed != 0 ? seed : ~seed;
  for (int k = 64; k > 0; --k) { // avoid correlation between close seeds
    v ^= v << 10;
    v ^= v >> 15;
    v ^= v << 4;
    v ^= v >> 13;
  }
  s->weyl = kWeyl;
  s->w = v;
  for (int k = 0; k < kXgR; ++k) {
    v ^= v << 10;
    v ^= v >> 15;
    v ^= v << 4;
    v ^= v >> 13;
    s->w += kWeyl;
    s->x[k] = v + s->w;
  }
  int i = kXgR - 1;
  for (int k = 4 * kXgR; k > 0; --k) { // discard the first 4r outputs
    i = (i + 1) & (kXgR - 1);
    uint64_t t = s->x[i];
    t ^= t << kXgA;
    t ^= t >> kXgB;
    uint64_t u = s->x[(i + (kXgR - kXgS)) & (kXgR - 1)];
    u ^= u << kXgC;
    u ^= u >> kXgD;
    s->x[i] = t ^ u;
  }
  s->index = i;
}

uint64_t zrng_XORGENS_uint64(ZrngXorgensState* s) {
  int i = static_cast<int>((s->index + 1) & (kXgR - 1));
  s->index = i;
  uint64_t t = s->x[i];
  uint64_t v = s->x[(i + (kXgR - kXgS)) & (kXgR - 1)];
  t ^= t << kXgA;
  t ^= t >> kXgB;
  v ^= v << kXgC;
  v ^= v >> kXgD;
  s->x[i] = (v ^= t);
  s->w += s->weyl;
  return v + (s->w ^ (s->w >> 27));
}

double zrng_XORGENS_double(void* s) { return double53<ZrngXorgensState, zrng_XORGENS_uint64>(s); }

// ---- Threefry-2x64-20 -----------------------------------------------------------------

void zrng_R123_full(ZrngR123State* s, uint64_t c0, uint64_t c1, uint64_t k0, uint64_t k1) {
  s->counter[0] = c0;
  s->counter[1] = c1;
  s->key[0] = k0;
  s->key[1] = k1;
  s->out[0] = s->out[1] = 0;
  s->index = 0;
}

void zrng_R123_init(ZrngR123State* s, uint64_t seed, uint64_t key) {
  zrng_R123_full(s, 0, seed, 0, key);
}

uint64_t zrng_R123_uint64(ZrngR123State* s) {
  if (s->index != 1) {
    threefry2x64_ctr_t c = {{s->counter[0], s->counter[1]}};
    threefry2x64_key_t k = {{s->key[0], s->key[1]}};
    threefry2x64_ctr_t r = threefry2x64_R(20, c, k);
    s->out[0] = r.v[0];
    s->out[1] = r.v[1];
    ++s->counter[0];
    s->index = 1;
    return s->out[0];
  }
  s->index = 0;
  return s->out[1];
}

double zrng_R123_double(void* s) { return double53<ZrngR123State, zrng_R123_uint64>(s); }

// ---- the general entry ----------------------------------------------------------------

ZrngDoubleFn zrngfnc(int32_t method, void* state, uint64_t seed, uint64_t key, uint32_t flags) {
  if (seed == 0)
    seed = zrngi64();
  if (method >= ZRNG_MT64 && method <= ZRNG_R123 && (flags & kZrngHashSeed))
    seed = zmh3x64(seed);
  auto seed32 = [&]() {
    uint32_t s = static_cast<uint32_t>(seed);
    return s != 0 ? s : static_cast<uint32_t>(zrngi31());
  };
  switch (method) {
  case ZRNG_HARDWARE:
    if (!(flags & kZrngQuietHardware))
      // A report the journal cannot take is followed by its own message.
      (void)zrngmsg(ZRNG_SEV_WARNING, kZrngNoHardware,
                    {HostMsgArg(static_cast<long long>(seed)), HostMsgArg(method)});
    seed = zrngt64();
    zrng_MTHYBRID_init(static_cast<ZrngMT32State*>(state), seed32());
    return zrng_MT32_double;
  case ZRNG_MT1998:
    zrng_MT1998_init(static_cast<ZrngMT32State*>(state), seed32());
    return zrng_MT32_double;
  case ZRNG_MT2002:
    zrng_MT2002_init(static_cast<ZrngMT32State*>(state), seed32());
    return zrng_MT32_double;
  case ZRNG_MT64:
    zrng_MT64_init(static_cast<ZrngMT64State*>(state), seed);
    return zrng_MT64_double;
  case ZRNG_MH3:
    zrng_MH3_init(static_cast<ZrngMH3State*>(state), seed);
    return zrng_MH3_double;
  case ZRNG_XOR64:
    zrng_XOR_init(static_cast<ZrngXorState*>(state), seed, 1);
    return zrng_XOR_double;
  case ZRNG_XOR128:
    zrng_XOR_init(static_cast<ZrngXorState*>(state), seed, 2);
    return zrng_XOR_double;
  case ZRNG_XOR1024:
    zrng_XOR_init(static_cast<ZrngXorState*>(state), seed, 16);
    return zrng_XOR_double;
  case ZRNG_XOR4096:
    zrng_XOR_init(static_cast<ZrngXorState*>(state), seed, 64);
    return zrng_XOR_double;
  case ZRNG_XORGENS:
    zrng_XORGENS_init(static_cast<ZrngXorgensState*>(state), seed);
    return zrng_XORGENS_double;
  case ZRNG_R123:
    zrng_R123_init(static_cast<ZrngR123State*>(state), seed, key);
    return zrng_R123_double;
  default: // MTHYBRID and every other code
    zrng_MTHYBRID_init(static_cast<ZrngMT32State*>(state), seed32());
    return zrng_MT32_double;
  }
}
