// Tests of the Lehmer generator against the standard library's linear congruential engine
// and Python's integer arithmetic (tests/data/rng/lehmer.txt), and of the seed guard with
// its macro variables.
#include "numerics/rngfake.h"
#include "numerics/zranms.h"
#include "numerics/zranuni.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

using rngtest::FakeKernel;

TEST(Lehmer, MatchesTheStandardEngine) {
  std::linear_congruential_engine<uint32_t, 397204094u, 0u, 2147483647u> ref;
  for (int64_t start : {1LL, 2LL, 2147483646LL, 987654321LL}) {
    ref.seed(static_cast<uint32_t>(start));
    int64_t seed = start;
    for (int i = 0; i < 5000; ++i) {
      uint32_t expected = ref();
      double u = zranuni(&seed);
      ASSERT_EQ(seed, static_cast<int64_t>(expected));
      ASSERT_EQ(u, expected / 2147483647.0);
      ASSERT_GT(u, 0.0);
      ASSERT_LT(u, 1.0);
    }
  }
}

TEST(Lehmer, FirstStepAndLongRunsFromReferenceData) {
  int64_t seed = 1;
  EXPECT_DOUBLE_EQ(zranuni(&seed), 0.18496256982207418);
  EXPECT_EQ(seed, 397204094);

  std::ifstream in(std::string(QRX_TEST_DATA) + "/rng/lehmer.txt");
  std::string line;
  int checked = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#')
      continue;
    std::istringstream ls(line);
    int64_t start, steps, after;
    ls >> start >> steps >> after;
    int64_t s = start;
    for (int64_t i = 0; i < steps; ++i)
      zranuni(&s);
    EXPECT_EQ(s, after) << start << " after " << steps;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

TEST(Lehmer, OnlyTheLowWordEntersAndZeroStaysZero) {
  int64_t a = 5, b = (int64_t{7} << 32) + 5;
  zranuni(&a);
  zranuni(&b);
  EXPECT_EQ(a, b);
  int64_t z = 0;
  EXPECT_EQ(zranuni(&z), 0.0);
  EXPECT_EQ(z, 0);
}

TEST(LehmerSeedGuard, ReplacesOutOfRangeSeedsAndSetsTheMacros) {
  FakeKernel k;
  int64_t seed = 2147483646;
  zranms(&seed, ZRANMS_START);
  EXPECT_EQ(seed, 2147483646);
  EXPECT_EQ(k.macros.at("SYSRANDOM"), 2147483646.0);

  for (int64_t bad : {2147483647LL, 0LL, -5LL}) {
    for (int32_t mode : {ZRANMS_CHECK, ZRANMS_START}) {
      k.macros.clear();
      int64_t s = bad;
      zranms(&s, mode);
      EXPECT_GE(s, 1) << bad;
      EXPECT_LE(s, 1000000000) << bad;
      if (mode == ZRANMS_START)
        EXPECT_EQ(k.macros.at("SYSRANDOM"), static_cast<double>(s));
      else
        EXPECT_TRUE(k.macros.empty());
    }
  }
  // The clock seed: the fraction of the date-time in thousands of seconds, times 1e9, + 1.
  k.clock = 1234567.25;
  int64_t s = -1;
  zranms(&s, ZRANMS_CHECK);
  EXPECT_EQ(s, 567250001);

  k.macros.clear();
  int64_t end = 0;
  zranms(&end, ZRANMS_END);
  EXPECT_EQ(end, 0);
  EXPECT_EQ(k.macros.at("SYSRANEND"), 0.0);
  EXPECT_EQ(k.macros.count("SYSRANDOM"), 0u);

  k.macros.clear();
  int64_t other = 77;
  zranms(&other, 9); // any other mode only replaces
  EXPECT_EQ(other, 77);
  EXPECT_TRUE(k.macros.empty());
}
