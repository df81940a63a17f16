// Clock routines: the time prefix layout, agreement with the C library's local time, the
// stamp flags, and the time-of-day hook running at most once per interval.
#include "support/ztime.h"

#include <gtest/gtest.h>

#include <sys/time.h>

#include <ctime>
#include <string>

namespace {

TEST(Ztime, PrefixLayout) {
  char buf[12];
  EXPECT_EQ(bkzFormatLogTime(buf, 9, 5, 7), 0);
  EXPECT_STREQ(buf, "[09:05:07] ");
  EXPECT_EQ(bkzFormatLogTime(buf, 23, 59, 48), 40);
  EXPECT_STREQ(buf, "[23:59:48] ");
}

// The seconds of the clock the routines read. time() reads a coarser clock, which can still
// show the last second a few milliseconds after this one has moved on.
time_t clockSeconds() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return tv.tv_sec;
}

TEST(Ztime, PrefixMatchesLocalTime) {
  // Read the clock on both sides; retry when a second boundary fell in between.
  for (int attempt = 0; attempt < 5; ++attempt) {
    time_t before = clockSeconds();
    char buf[12];
    int32_t tens = bkzGetLogTime(buf);
    time_t after = clockSeconds();
    if (before != after)
      continue;
    struct tm lt;
    localtime_r(&before, &lt);
    char want[16];
    strftime(want, sizeof want, "[%H:%M:%S] ", &lt);
    EXPECT_STREQ(buf, want);
    EXPECT_EQ(tens, lt.tm_sec / 10 * 10);
    int32_t h, m;
    double s;
    EXPECT_EQ(qkztime(&h, &m, &s), 0);
    EXPECT_EQ(h, lt.tm_hour);
    EXPECT_GE(s, 0.0);
    EXPECT_LT(s, 61.0);
    return;
  }
  FAIL() << "clock kept crossing second boundaries";
}

TEST(Ztime, AddTimeFlags) {
  const QkChar text[] = {U'h', U'i', 0};
  QkChar out[20];
  bkzAddTimeT(text, out, nullptr, 0);
  EXPECT_EQ(out[0], U'h');
  EXPECT_EQ(out[2], 0u);
  bkzAddTimeT(text, out, nullptr, kAddTimeStamp | kAddTimeSuppress);
  EXPECT_EQ(out[0], U'h');
  bkzAddTimeT(text, out, nullptr, kAddTimeStamp);
  EXPECT_EQ(out[0], U'[');
  EXPECT_EQ(out[9], U']');
  EXPECT_EQ(out[10], U' ');
  EXPECT_EQ(out[11], U'h');
  EXPECT_EQ(out[13], 0u);
}

int hookCalls = 0;
void countHook(QkTimeOfDay*) { ++hookCalls; }

TEST(Ztime, HookRunsAtMostOncePerInterval) {
  QkTimeOfDay tod{countHook};
  QkHandle qk{};
  qk.timeOfDayHook = &tod;
  QkHandle* saved = Exported_QKHandle;
  Exported_QKHandle = &qk;
  double t0 = static_cast<double>(time(nullptr));
  double got = 0;
  for (int i = 0; i < 1000; ++i)
    got = bkztod();
  Exported_QKHandle = saved;
  EXPECT_GE(hookCalls, 1);
  EXPECT_LE(hookCalls, 2); // one more only if a 6-second boundary passed meanwhile
  EXPECT_NEAR(got, t0, 2.0);
  int64_t us = qkzTimeUsec(0);
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
}

} // namespace
