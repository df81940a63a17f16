// Tests of the random stream's seeding and uniform source: the twister against the
// standard library's MT19937 under both seedings, the seed replacement rules, the method
// fall-backs with their reports, and the published seed.
#include "numerics/rngfake.h"
#include "numerics/zrandom.h"
#include "numerics/zrngopt.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using rngtest::FakeKernel;

namespace {

RandomStream seeded(int64_t seed) {
  RandomStream s{};
  s.seed = seed;
  zmrsrnd(&s);
  return s;
}

// MT19937 positioned on a state given word by word (the 1998 seeding is not in <random>).
std::mt19937 twisterFromState(const uint32_t* words) {
  std::stringstream text;
  for (int i = 0; i < 624; ++i)
    text << words[i] << ' ';
  std::mt19937 engine;
  text >> engine;
  return engine;
}

uint32_t temper(uint32_t y) {
  y ^= y >> 11;
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= y >> 18;
  return y;
}

} // namespace

TEST(RandomStream, Mt2002MatchesStandardTwister) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_METHOD", "MT2002");
  for (int64_t seed : {5489LL, 1LL, 123456789LL, 4294967295LL}) {
    RandomStream s = seeded(seed);
    std::mt19937 ref(static_cast<uint32_t>(seed));
    for (int i = 0; i < 2000; ++i) {
      uint32_t expected = ref();
      if (expected == 0) // a zero output is skipped by the stream
        expected = ref();
      double u = GetNextRanUni(&s);
      ASSERT_EQ(static_cast<uint32_t>(s.lastInteger), expected) << "seed " << seed << " draw " << i;
      ASSERT_DOUBLE_EQ(u, expected / 4294967296.0);
      ASSERT_GT(u, 0.0);
      ASSERT_LT(u, 1.0);
    }
  }
}

TEST(RandomStream, HybridUsesThe1998SeedingForOrdinarySeeds) {
  FakeKernel k; // no method set: MTHYBRID
  RandomStream s = seeded(1);
  EXPECT_EQ(s.state[1], 69069u);
  uint32_t words[624];
  words[0] = 1;
  for (int i = 1; i < 624; ++i)
    words[i] = 69069u * words[i - 1];
  std::mt19937 ref = twisterFromState(words);
  for (int i = 0; i < 1500; ++i) {
    GetNextRanUni(&s);
    ASSERT_EQ(static_cast<uint32_t>(s.lastInteger), ref()) << i;
  }
  EXPECT_TRUE(k.statusReports(kZrngHybrid2002).empty());
}

TEST(RandomStream, HybridSeedMultipleOf8192Uses2002SeedingAndSaysSo) {
  FakeKernel k;
  RandomStream s = seeded(8192);
  EXPECT_EQ(s.seed, 8192);
  EXPECT_EQ(s.seedInUse, 8192);
  std::mt19937 ref(8192u);
  GetNextRanUni(&s);
  EXPECT_EQ(static_cast<uint32_t>(s.lastInteger), ref());
  auto notes = k.statusReports(kZrngHybrid2002);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].level, 2); // a change report is issued as a note by default
  ASSERT_EQ(notes[0].values.size(), 1u);
  EXPECT_EQ(notes[0].values[0], "8192");
}

TEST(RandomStream, SeedRangeRules) {
  FakeKernel k;
  {
    RandomStream s = seeded(0xFFFFFFFFLL);
    EXPECT_EQ(s.seed, 0xFFFFFFFFLL);
    EXPECT_EQ(s.state[0], 0xFFFFFFFFu);
  }
  {
    k.setText("OSENV.QRX_RNG_MESSAGES", "ALL");
    RandomStream s = seeded(0x100000000LL);
    EXPECT_GE(s.seed, 1);
    EXPECT_LE(s.seed, 2147483647);
    EXPECT_NE(s.seed & 0x1FFF, 0);
    EXPECT_EQ(s.seedInUse, s.seed);
    auto folded = k.statusReports(kZrngFoldedSeed);
    ASSERT_EQ(folded.size(), 1u);
    // frexp(2^32) = 0.5: the fold gives 1.
    EXPECT_EQ(folded[0].values[0], "1");
    EXPECT_EQ(s.seed, 1);
    EXPECT_EQ(s.state[1], 69069u); // a replaced seed gets the 1998 seeding under MTHYBRID
  }
  for (int64_t bad : {0LL, -5LL, -8192LL}) {
    RandomStream s = seeded(bad);
    EXPECT_GE(s.seed, 1) << bad;
    EXPECT_LE(s.seed, 2147483647) << bad;
    EXPECT_NE(s.seed & 0x1FFF, 0) << bad;
  }
  EXPECT_FALSE(k.statusReports(kZrngClockSeed).empty());
}

TEST(RandomStream, PublishesTheSeedInUse) {
  FakeKernel k;
  RandomStream s = seeded(424242);
  ASSERT_TRUE(k.has("OSENV.QRX_RNG_SEED"));
  EXPECT_EQ(k.value("OSENV.QRX_RNG_SEED").l, 424242);
  RandomStream c = seeded(0);
  EXPECT_EQ(k.value("OSENV.QRX_RNG_SEED").l, c.seedInUse);
  EXPECT_EQ(s.seeded, 1);
  EXPECT_EQ(s.stateIndex, 624);
  EXPECT_EQ(s.matrixWords[1], 0x9908B0DFu);
  EXPECT_EQ(s.uniformSource, &GetNextRanUni);
}

TEST(RandomStream, UnofferedMethodsFallBackToMt2002WithAnErrorReport) {
  for (const char* method : {"MT64", "xor128", "R123", "mh3"}) {
    FakeKernel k;
    k.setText("OSENV.QRX_RNG_METHOD", method);
    RandomStream s = seeded(77);
    std::mt19937 ref(77u);
    GetNextRanUni(&s);
    EXPECT_EQ(static_cast<uint32_t>(s.lastInteger), ref()) << method;
    auto errors = k.statusReports(kZrngNoMethod);
    ASSERT_EQ(errors.size(), 1u) << method;
    EXPECT_EQ(errors[0].level, 4);
  }
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_METHOD", "RDRAND");
  RandomStream s = seeded(77);
  std::mt19937 ref(77u);
  GetNextRanUni(&s);
  EXPECT_EQ(static_cast<uint32_t>(s.lastInteger), ref());
  auto notes = k.statusReports(kZrngNoHardware);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].level, 2);
  EXPECT_TRUE(k.statusReports(kZrngNoMethod).empty());
}

TEST(RandomStream, Mt1998KeywordSeedsThe1998WayEvenForMultiplesOf8192) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_METHOD", "MT1998");
  RandomStream s = seeded(8192);
  EXPECT_EQ(s.state[1], 8192u * 69069u);
  EXPECT_TRUE(k.statusReports(kZrngHybrid2002).empty());
}

TEST(RandomStream, ZeroTwisterOutputIsSkipped) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_METHOD", "MT2002");
  RandomStream s = seeded(99);
  GetNextRanUni(&s); // regenerates; index now 1
  s.state[1] = 0;    // tempers to 0
  double u = GetNextRanUni(&s);
  EXPECT_EQ(static_cast<uint32_t>(s.lastInteger), temper(s.state[2]));
  EXPECT_GT(u, 0.0);
  EXPECT_EQ(s.stateIndex, 3);
}

TEST(RandomStream, ResetCloneAndSourceSwitch) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_METHOD", "MT2002");
  RandomStream a = seeded(31337);
  for (int i = 0; i < 700; ++i)
    GetNextRanUni(&a);
  zmrsReset32(31337, &a);
  RandomStream b = seeded(31337);
  for (int i = 0; i < 50; ++i) {
    GetNextRanUni(&a);
    GetNextRanUni(&b);
    ASSERT_EQ(a.lastInteger, b.lastInteger);
  }
  // The reset takes the seed as signed 32-bit: 2^32 + 5 becomes 5.
  zmrsReset32(0x100000005LL, &a);
  EXPECT_EQ(a.seed, 5);

  RandomStream c = seeded(1);
  zmrsCloneState32(&b, &c);
  EXPECT_EQ(c.seed, b.seed);
  for (int i = 0; i < 624; ++i)
    ASSERT_EQ(c.state[i], b.state[i]);
  EXPECT_EQ(zmrsetp(0, &c), 0);
  c.uniformSource = nullptr;
  EXPECT_EQ(zmrsetp(1, &c), 1);
  EXPECT_EQ(c.uniformSource, &GetNextRanUni);
}

TEST(RandomStream, ConsecutiveSeedsGiveIndependentStreams) {
  FakeKernel k;
  RandomStream a = seeded(1000), b = seeded(1001);
  int same = 0;
  for (int i = 0; i < 100; ++i)
    same += GetNextRanUni(&a) == GetNextRanUni(&b);
  EXPECT_EQ(same, 0);
}
