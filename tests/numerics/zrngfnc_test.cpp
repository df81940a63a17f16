// Tests of the general generator family: the twisters against the standard library, the
// Threefry blocks against Random123's own function and its published zero vector, the
// hash, xorshift and xorgens methods against independent Python implementations
// (tests/data/rng/family.txt), and the entry's seeding rules.
#include "numerics/rngfake.h"
#include "numerics/zrngfnc.h"
#include "numerics/zrngopt.h"

#include <Random123/threefry.h>
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <vector>

using rngtest::FakeKernel;

namespace {

struct AnyState {
  alignas(8) unsigned char bytes[2504];
};

std::map<std::string, std::vector<uint64_t>> loadFamily() {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/rng/family.txt");
  std::map<std::string, std::vector<uint64_t>> out;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream ls(line);
    std::string method, seed;
    ls >> method >> seed;
    std::vector<uint64_t> v;
    uint64_t x;
    while (ls >> x)
      v.push_back(x);
    out[method + " " + seed] = v;
  }
  return out;
}

} // namespace

TEST(GeneratorFamily, StateSizes) {
  EXPECT_EQ(zrngsize(ZRNG_MT2002), 2500);
  EXPECT_EQ(zrngsize(5), 2500);
  EXPECT_EQ(zrngsize(99), 2500);
  EXPECT_EQ(zrngsize(ZRNG_MT64), 2504);
  EXPECT_EQ(zrngsize(ZRNG_MH3), 8);
  for (int m : {8, 9, 10, 11})
    EXPECT_EQ(zrngsize(m), 520);
  EXPECT_EQ(zrngsize(ZRNG_XORGENS), 536);
  EXPECT_EQ(zrngsize(ZRNG_R123), 56);
}

TEST(GeneratorFamily, TwistersMatchTheStandardLibrary) {
  FakeKernel k;
  AnyState st;
  ZrngDoubleFn draw = zrngfnc(ZRNG_MT64, &st, 5489, 0, 0);
  std::mt19937_64 ref64(5489);
  for (int i = 0; i < 1000; ++i) {
    uint64_t x = ref64();
    if ((x >> 11) == 0)
      continue;
    ASSERT_EQ(draw(&st), static_cast<double>(x >> 11) * 0x1p-53) << i;
  }
  ZrngMT64State s64;
  zrng_MT64_init(&s64, 0xDEADBEEFCAFEull);
  std::mt19937_64 ref64b(0xDEADBEEFCAFEull);
  for (int i = 0; i < 700; ++i)
    ASSERT_EQ(zrng_MT64_uint64(&s64), ref64b());

  draw = zrngfnc(ZRNG_MT2002, &st, 8191, 0, 0);
  std::mt19937 ref(8191u);
  for (int i = 0; i < 1000; ++i)
    ASSERT_EQ(draw(&st), ref() * 0x1p-32);

  // MTHYBRID: 2002 seeding for a multiple of 8192, 1998 otherwise.
  draw = zrngfnc(ZRNG_MTHYBRID, &st, 3 * 8192, 0, 0);
  std::mt19937 refh(3u * 8192u);
  ASSERT_EQ(draw(&st), refh() * 0x1p-32);
  ZrngMT32State s32;
  zrng_MTHYBRID_init(&s32, 12345);
  EXPECT_EQ(s32.mt[1], 12345u * 69069u);
  zrngfnc(ZRNG_MT1998, &st, 1, 0, 0);
  EXPECT_EQ(reinterpret_cast<ZrngMT32State*>(&st)->mt[1], 69069u);
}

TEST(GeneratorFamily, ThreefryMatchesRandom123) {
  // Random123's published known answer for a zero counter and key.
  ZrngR123State s;
  zrng_R123_full(&s, 0, 0, 0, 0);
  EXPECT_EQ(zrng_R123_uint64(&s), 0xC2B6E3A8C2C69865ull);
  EXPECT_EQ(zrng_R123_uint64(&s), 0x6F81ED42F350084Dull);

  const uint64_t cases[][4] = {
      {~0ull, ~0ull, ~0ull, ~0ull},
      {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull, 0x082EFA98EC4E6C89ull},
      {7, 42, 1, 2}};
  for (const auto& c : cases) {
    zrng_R123_full(&s, c[0], c[1], c[2], c[3]);
    for (uint64_t block = 0; block < 3; ++block) {
      threefry2x64_ctr_t ctr = {{c[0] + block, c[1]}};
      threefry2x64_key_t key = {{c[2], c[3]}};
      threefry2x64_ctr_t r = threefry2x64_R(20, ctr, key);
      ASSERT_EQ(zrng_R123_uint64(&s), r.v[0]);
      ASSERT_EQ(zrng_R123_uint64(&s), r.v[1]);
    }
  }
  // Through the entry: counter {0, seed}, key {0, key}.
  FakeKernel k;
  AnyState st;
  ZrngDoubleFn draw = zrngfnc(ZRNG_R123, &st, 99, 5, 0);
  threefry2x64_ctr_t ctr = {{0, 99}};
  threefry2x64_key_t key = {{0, 5}};
  threefry2x64_ctr_t r = threefry2x64_R(20, ctr, key);
  EXPECT_EQ(draw(&st), static_cast<double>(r.v[0] >> 11) * 0x1p-53);
  EXPECT_EQ(draw(&st), static_cast<double>(r.v[1] >> 11) * 0x1p-53);
}

TEST(GeneratorFamily, HashXorshiftAndXorgensMatchReferenceData) {
  auto family = loadFamily();
  ASSERT_FALSE(family.empty()) << "tests/data/rng/family.txt missing";
  int compared = 0;
  for (uint64_t seed : {1ull, 0x123456789ABCDEFull}) {
    const std::string tag = " " + std::to_string(seed);
    ZrngMH3State mh;
    zrng_MH3_init(&mh, seed);
    for (uint64_t expected : family.at("MH3" + tag))
      ASSERT_EQ(zrng_MH3_uint64(&mh), expected);
    for (int variant : {1, 2, 16, 64}) {
      ZrngXorState xs;
      zrng_XOR_init(&xs, seed, variant);
      for (uint64_t expected : family.at("XOR" + std::to_string(variant) + tag))
        ASSERT_EQ(zrng_XOR_uint64(&xs), expected) << variant;
    }
    ZrngXorgensState xg;
    zrng_XORGENS_init(&xg, seed);
    for (uint64_t expected : family.at("XORGENS" + tag))
      ASSERT_EQ(zrng_XORGENS_uint64(&xg), expected);
    compared += 7;
  }
  EXPECT_EQ(compared, 14);
  // An unknown variant works as xorshift1024*.
  ZrngXorState a, b;
  zrng_XOR_init(&a, 5, 3);
  zrng_XOR_init(&b, 5, 16);
  EXPECT_EQ(a.variant, 16);
  for (int i = 0; i < 40; ++i)
    ASSERT_EQ(zrng_XOR_uint64(&a), zrng_XOR_uint64(&b));
}

TEST(GeneratorFamily, EntrySeedingRules) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_MESSAGES", "ALL");
  AnyState st;
  // Methods map to their variants.
  zrngfnc(ZRNG_XOR64, &st, 9, 0, 0);
  EXPECT_EQ(reinterpret_cast<ZrngXorState*>(&st)->variant, 1);
  zrngfnc(ZRNG_XOR128, &st, 9, 0, 0);
  EXPECT_EQ(reinterpret_cast<ZrngXorState*>(&st)->variant, 2);
  zrngfnc(ZRNG_XOR4096, &st, 9, 0, 0);
  EXPECT_EQ(reinterpret_cast<ZrngXorState*>(&st)->variant, 64);
  // Flag 0x100 hashes the seed first.
  zrngfnc(ZRNG_MH3, &st, 77, 0, kZrngHashSeed);
  EXPECT_EQ(reinterpret_cast<ZrngMH3State*>(&st)->x, zmh3x64(77));
  zrngfnc(ZRNG_MH3, &st, 77, 0, 0);
  EXPECT_EQ(reinterpret_cast<ZrngMH3State*>(&st)->x, 77u);
  // Seed 0 asks for a reported clock value.
  k.reports.clear();
  ZrngDoubleFn draw = zrngfnc(ZRNG_MH3, &st, 0, 0, 0);
  EXPECT_NE(reinterpret_cast<ZrngMH3State*>(&st)->x, 0u);
  EXPECT_EQ(k.statusReports(kZrngClockSeed).size(), 1u);
  for (int i = 0; i < 1000; ++i) {
    double u = draw(&st);
    ASSERT_GT(u, 0.0);
    ASSERT_LT(u, 1.0);
  }
  // The hardware method: a warning (unless quiet), then a clock-seeded 32-bit twister.
  k.reports.clear();
  draw = zrngfnc(ZRNG_HARDWARE, &st, 5, 0, 0);
  auto warned = k.statusReports(kZrngNoHardware);
  ASSERT_EQ(warned.size(), 1u);
  EXPECT_EQ(warned[0].level, 3);
  ASSERT_EQ(warned[0].values.size(), 2u);
  EXPECT_EQ(warned[0].values[0], "5");
  EXPECT_EQ(warned[0].values[1], "1");
  EXPECT_EQ(draw, &zrng_MT32_double);
  k.reports.clear();
  zrngfnc(ZRNG_HARDWARE, &st, 5, 0, kZrngQuietHardware);
  EXPECT_TRUE(k.statusReports(kZrngNoHardware).empty());
  // Unknown codes seed as MTHYBRID with the 32-bit seed.
  zrngfnc(42, &st, 12345, 0, 0);
  EXPECT_EQ(reinterpret_cast<ZrngMT32State*>(&st)->mt[1], 12345u * 69069u);
}

TEST(GeneratorFamily, MurmurFinaliserKnownValues) {
  // fmix64 is a bijection with a fixed point at 0; values from the reference data's first
  // draw of seed 1.
  EXPECT_EQ(zmh3x64(0), 0u);
  auto family = loadFamily();
  ASSERT_FALSE(family.at("MH3 1").empty());
  EXPECT_EQ(zmh3x64(1), family.at("MH3 1")[0]);
}
