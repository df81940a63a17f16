// The general generator family behind one entry, zrngfnc: 32-bit Mersenne twister (1998,
// hybrid and 2002 seedings), 64-bit twister, the iterated MurmurHash3 finaliser, the
// xorshift variants, xorgens4096 and Threefry-2x64-20 (through Random123). The procedure's
// own streams are in zrandom.h; method codes and state sizes are in zrngopt.h.
#pragma once

#include <cstdint>

// The MurmurHash3 64-bit finaliser (fmix64).
constexpr uint64_t zmh3x64(uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  x ^= x >> 33;
  return x;
}

// States of the methods; their sizes are those zrngsize reports.
struct ZrngMT32State { // methods 2, 3, 4 (and 1 and unknown codes)
  uint32_t mt[624];
  int32_t index; // next word to temper; 624 asks for a regeneration
};
struct ZrngMT64State { // method 6
  uint64_t mt[312];
  int64_t index;
};
struct ZrngMH3State { // method 7
  uint64_t x;
};
struct ZrngXorState { // methods 8 to 11
  uint64_t s[64];
  int32_t index;
  int32_t variant; // 1 xorshift64*, 2 xorshift128+, 16 xorshift1024*, 64 xorshift4096*
};
struct ZrngXorgensState { // method 12
  uint64_t x[64];
  uint64_t w;    // Weyl accumulator
  uint64_t weyl; // Weyl increment
  int64_t index;
};
struct ZrngR123State { // method 13
  uint64_t counter[2];
  uint64_t key[2];
  uint64_t out[2];
  int64_t index; // 0: the next draw computes a new block
};
static_assert(sizeof(ZrngMT32State) == 2500 && sizeof(ZrngMT64State) == 2504);
static_assert(sizeof(ZrngMH3State) == 8 && sizeof(ZrngXorState) == 520);
static_assert(sizeof(ZrngXorgensState) == 536 && sizeof(ZrngR123State) == 56);

// A double-draw function: the next double in (0, 1) (the 32-bit twister may give 0).
using ZrngDoubleFn = double (*)(void* state);

// Seeds state (zrngsize(method) bytes) for method and returns its double-draw function.
// A seed of 0 asks for a clock seed. flags: 0x10 suppresses the hardware report, 0x100
// passes the seed of methods 6 to 13 through zmh3x64 first. key is used by method 13.
ZrngDoubleFn zrngfnc(int32_t method, void* state, uint64_t seed, uint64_t key, uint32_t flags);

inline constexpr uint32_t kZrngQuietHardware = 0x10;
inline constexpr uint32_t kZrngHashSeed = 0x100;

// 32-bit Mersenne twister.
void zrng_MT1998_init(ZrngMT32State* s, uint32_t seed);   // state[i] = 69069 state[i-1]
void zrng_MT2002_init(ZrngMT32State* s, uint32_t seed);   // the 1812433253 recurrence
void zrng_MTHYBRID_init(ZrngMT32State* s, uint32_t seed); // 2002 for multiples of 8192
void zrng_MT32_init(ZrngMT32State* s, uint32_t seed);     // as MT2002
[[nodiscard]] uint32_t zrng_MT32_uint32(ZrngMT32State* s);
double zrng_MT32_double(void* s);

// 64-bit Mersenne twister (MT19937-64).
void zrng_MT64_init(ZrngMT64State* s, uint64_t seed);
uint64_t zrng_MT64_uint64(ZrngMT64State* s);
double zrng_MT64_double(void* s);

// Iterated MurmurHash3 finaliser: each draw replaces the state by zmh3x64 of itself.
void zrng_MH3_init(ZrngMH3State* s, uint64_t seed);
uint64_t zrng_MH3_uint64(ZrngMH3State* s);
double zrng_MH3_double(void* s);

// xorshift64*, xorshift128+, xorshift1024*, xorshift4096* by variant (1, 2, 16, 64; any
// other variant becomes 16). The words are filled from the seed by splitmix64.
void zrng_XOR_init(ZrngXorState* s, uint64_t seed, int32_t variant);
uint64_t zrng_XOR_uint64(ZrngXorState* s);
double zrng_XOR_double(void* s);

// xorgens4096 (64-bit words, r = 64, s = 53, shifts 33, 26, 27, 29).
void zrng_XORGENS_init(ZrngXorgensState* s, uint64_t seed);
uint64_t zrng_XORGENS_uint64(ZrngXorgensState* s);
double zrng_XORGENS_double(void* s);

// Threefry-2x64 with 20 rounds: counter {0, seed}, key {0, key}; each block's two outputs
// are used in turn, then the first counter word advances.
void zrng_R123_init(ZrngR123State* s, uint64_t seed, uint64_t key);
void zrng_R123_full(ZrngR123State* s, uint64_t c0, uint64_t c1, uint64_t k0, uint64_t k1);
uint64_t zrng_R123_uint64(ZrngR123State* s);
double zrng_R123_double(void* s);
