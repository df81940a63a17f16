// Tests of the method option, the report filter with its severity, message-level and
// allowance options, and the clock seeds and seed folding.
#include "numerics/rngfake.h"
#include "numerics/zrngfnc.h"
#include "numerics/zrngopt.h"
#include "numerics/zrngseed.h"

#include <gtest/gtest.h>

#include <cmath>

using rngtest::FakeKernel;

namespace {
constexpr uint32_t kAnyStatus = 0x8C7FE8AAu;
}

TEST(RngOptions, MethodKeywords) {
  FakeKernel k;
  EXPECT_EQ(zrngopt(), ZRNG_MTHYBRID);
  const std::pair<const char*, int32_t> table[] = {
      {"TRNG", 1},     {"rdrand", 1},   {"HARDWARE", 1}, {"Hard", 1},
      {"MT1998", 2},   {"MTHYBRID", 3}, {"MT2002", 4},   {"MT32", 4},
      {"mt64  ", 6},   {"MH3", 7},      {"XOR64", 8},    {"XOR128", 9},
      {"XOR1024", 10}, {"XOR4096", 11}, {"XORGENS", 12}, {"R123", 13}};
  for (const auto& [word, code] : table) {
    k.setText("OSENV.QRX_RNG_METHOD", word);
    EXPECT_EQ(zrngopt(), code) << word;
  }
  k.setText("OSENV.QRX_RNG_METHOD", "MT5");
  EXPECT_EQ(zrngopt(), ZRNG_MTHYBRID);
}

TEST(RngReports, DefaultFilterDropsZeroAndIssuesChangesAsNotes) {
  FakeKernel k;
  EXPECT_EQ(zrngmsg(ZRNG_SEV_ZERO, kAnyStatus, {HostMsgArg(1)}), 0);
  EXPECT_TRUE(k.statusReports(kAnyStatus).empty());
  (void)zrngmsg(ZRNG_SEV_CHANGE, kAnyStatus, {HostMsgArg(2), HostMsgArg("x")});
  auto r = k.statusReports(kAnyStatus);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].level, ZRNG_SEV_NOTE);
  ASSERT_EQ(r[0].values.size(), 2u);
  EXPECT_EQ(r[0].values[1], "x");
  (void)zrngmsg(ZRNG_SEV_WARNING, kAnyStatus);
  (void)zrngmsg(ZRNG_SEV_ERROR, kAnyStatus);
  r = k.statusReports(kAnyStatus);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].level, 3);
  EXPECT_EQ(r[2].level, 4);
  EXPECT_EQ(k.value("OSENV.QRX_RNG_NOTE_LIMIT").l, 99);
  EXPECT_EQ(k.value("OSENV.QRX_RNG_ERROR_LIMIT").l, 98);
}

TEST(RngReports, MessageLevelAndSeverityOptions) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_MESSAGES", "all");
  (void)zrngmsg(ZRNG_SEV_ZERO, kAnyStatus);
  ASSERT_EQ(k.statusReports(kAnyStatus).size(), 1u);
  EXPECT_EQ(k.statusReports(kAnyStatus)[0].level, 2);

  k.reports.clear();
  k.setText("OSENV.QRX_RNG_MESSAGES", "NONE");
  (void)zrngmsg(ZRNG_SEV_ZERO, kAnyStatus);
  (void)zrngmsg(ZRNG_SEV_CHANGE, kAnyStatus);
  EXPECT_TRUE(k.statusReports(kAnyStatus).empty());
  (void)zrngmsg(ZRNG_SEV_NOTE, kAnyStatus); // notes and above are not subject to the level
  EXPECT_EQ(k.statusReports(kAnyStatus).size(), 1u);

  k.reports.clear();
  k.setText("OSENV.QRX_RNG_MESSAGES", "WARNINGS");
  k.setText("OSENV.QRX_RNG_SEVERITY", "ERROR"); // raises reports below severity 2
  (void)zrngmsg(ZRNG_SEV_CHANGE, kAnyStatus);
  auto r = k.statusReports(kAnyStatus);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].level, 4);
  EXPECT_EQ(k.value("OSENV.QRX_RNG_ERROR_LIMIT").l, 99);

  k.reports.clear();
  k.setText("OSENV.QRX_RNG_SEVERITY", "ZERO"); // lowers a change to zero, then the level drops it
  k.setText("OSENV.QRX_RNG_MESSAGES", "CHANGES");
  (void)zrngmsg(ZRNG_SEV_CHANGE, kAnyStatus);
  EXPECT_TRUE(k.statusReports(kAnyStatus).empty());
  k.setText("OSENV.QRX_RNG_SEVERITY", "ZERO");
  (void)zrngmsg(ZRNG_SEV_WARNING, kAnyStatus); // severities of 2 and more keep their own
  ASSERT_EQ(k.statusReports(kAnyStatus).size(), 1u);
  EXPECT_EQ(k.statusReports(kAnyStatus)[0].level, 3);
}

TEST(RngReports, AllowancesRunOut) {
  FakeKernel k;
  for (int i = 0; i < 100; ++i)
    (void)zrngmsg(ZRNG_SEV_NOTE, kAnyStatus, {HostMsgArg(i)});
  EXPECT_EQ(k.statusReports(kAnyStatus).size(), 100u);
  EXPECT_EQ(k.value("OSENV.QRX_RNG_NOTE_LIMIT").l, 0);
  (void)zrngmsg(ZRNG_SEV_NOTE, kAnyStatus, {HostMsgArg(100)}); // the 101st note is dropped
  EXPECT_EQ(k.statusReports(kAnyStatus).size(), 100u);
  (void)zrngmsg(ZRNG_SEV_ERROR, kAnyStatus); // errors have their own allowance
  EXPECT_EQ(k.statusReports(kAnyStatus).size(), 101u);

  FakeKernel k2;
  k2.setText("OSENV.QRX_RNG_ERROR_LIMIT", "2");
  (void)zrngmsg(ZRNG_SEV_ERROR, kAnyStatus);
  (void)zrngmsg(ZRNG_SEV_ERROR, kAnyStatus);
  (void)zrngmsg(ZRNG_SEV_ERROR, kAnyStatus);
  EXPECT_EQ(k2.statusReports(kAnyStatus).size(), 2u);  // counts 1 and 0 are issued
  EXPECT_EQ(k2.statusReports(0x8C7FE866u).size(), 1u); // the allowance reached 0
}

TEST(RngReports, NoJournalAndFormattingFailure) {
  {
    FakeKernel k;
    k.withoutJournal();
    EXPECT_EQ(zrngmsg(ZRNG_SEV_ERROR, kAnyStatus), 0);
    EXPECT_FALSE(k.has("OSENV.QRX_RNG_ERROR_LIMIT")); // nothing counted either
  }
  FakeKernel k;
  k.journalResult = 0x803F1234u;
  EXPECT_EQ(static_cast<uint32_t>(zrngmsg(ZRNG_SEV_ERROR, kAnyStatus)), 0x803F1234u);
  bool logged = false;
  for (const auto& r : k.reports)
    logged |= !r.withValues && r.status == 0x803F1234u && r.level == 4;
  EXPECT_TRUE(logged);
}

TEST(RngSeeds, FoldingRules) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_MESSAGES", "ALL");
  EXPECT_EQ(zrngf31(hostMissing()), 0);
  EXPECT_EQ(zrngf31(1.0), 1);
  EXPECT_EQ(zrngf31(2147483646.0), 2147483646);
  EXPECT_EQ(zrngf31(-5.0), 5);
  EXPECT_EQ(zrngf31(-2147483646.0), 2147483646);
  EXPECT_TRUE(k.statusReports(kZrngFoldedSeed).empty());
  // Outside the range or not whole: the mantissa of |x| spread over 1 .. 2147483646.
  for (double x : {2147483647.0, 1e300, 0.75, -3.5, 6.02e23}) {
    int exponent = 0;
    double m = std::frexp(std::fabs(x), &exponent);
    int64_t expected = static_cast<int64_t>((m - 0.5) * 2.0 * 2147483646.0 + 1.0);
    EXPECT_EQ(zrngf31(x), expected) << x;
  }
  EXPECT_EQ(k.statusReports(kZrngFoldedSeed).size(), 5u);
  // No mantissa to fold: seed 1, still within range.
  EXPECT_EQ(zrngf31(HUGE_VAL), 1);
  EXPECT_EQ(zrngf31(std::nan("")), 1);
  EXPECT_EQ(zrngf31(0.0), 1);
}

TEST(RngSeeds, ClockValues) {
  FakeKernel k;
  k.setText("OSENV.QRX_RNG_MESSAGES", "ALL");
  k.clock = 1000.0;
  k.tick = 0.5;
  // t0 = 1000, t1 = 1000.5: v = 1000.5 * (1 + 2 ulp) / 0.5 = 2001.
  EXPECT_EQ(zrngt32(), 2001u);
  k.clock = 0.0;
  EXPECT_NE(zrngt32(), 0u); // 0 becomes 1
  int64_t seed = zrngi31();
  EXPECT_GE(seed, 0);
  EXPECT_LE(seed, 2147483646);
  auto clockReports = k.statusReports(kZrngClockSeed);
  ASSERT_EQ(clockReports.size(), 1u);
  EXPECT_EQ(clockReports[0].values[0], std::to_string(seed));
  EXPECT_EQ(clockReports[0].values[1], std::to_string(seed));

  // The 64-bit clock mixes the tick, the statistics word and the thread number.
  k.clock = 2.0;
  k.tick = 1.0;
  uint64_t expected = zmh3x64(12345u + 3000000000u + 1u + 2u * 0u);
  EXPECT_EQ(zrngt64(), expected);
  k.clock = 2.0;
  k.thread.threadNumber = 4;
  EXPECT_EQ(zrngt64(), zmh3x64(12345u + 3000000000u + 1u + 8u));
  k.reports.clear();
  uint64_t v = zrngi64();
  auto r = k.statusReports(kZrngClockSeed);
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].values[0], std::to_string(static_cast<long long>(v)));
}
