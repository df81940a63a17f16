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

// The second in [from, to] whose local time the prefix `buf` shows, or -1.
time_t shownSecond(const char* buf, time_t from, time_t to) {
  for (time_t t = from; t <= to; ++t) {
    struct tm lt;
    localtime_r(&t, &lt);
    char want[16];
    strftime(want, sizeof want, "[%H:%M:%S] ", &lt);
    if (std::string(buf) == want)
      return t;
  }
  return -1;
}

// The clock is read on both sides of each routine: what it shows is a second between the
// two readings, however long the routine took.
TEST(Ztime, PrefixMatchesLocalTime) {
  const time_t before = clockSeconds();
  char buf[12];
  const int32_t tens = bkzGetLogTime(buf);
  time_t after = clockSeconds();
  const time_t shown = shownSecond(buf, before, after);
  ASSERT_NE(shown, -1) << buf;
  struct tm lt;
  localtime_r(&shown, &lt);
  EXPECT_EQ(tens, lt.tm_sec / 10 * 10);
  int32_t h, m;
  double s;
  const time_t start = clockSeconds();
  EXPECT_EQ(qkztime(&h, &m, &s), 0);
  after = clockSeconds();
  bool hourSeen = false;
  for (time_t t = start; t <= after; ++t) {
    localtime_r(&t, &lt);
    hourSeen = hourSeen || lt.tm_hour == h;
  }
  EXPECT_TRUE(hourSeen) << h;
  EXPECT_GE(s, 0.0);
  EXPECT_LT(s, 61.0);
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
  const time_t t0 = clockSeconds();
  double got = 0;
  for (int i = 0; i < 1000; ++i)
    got = bkztod();
  const time_t t1 = clockSeconds();
  Exported_QKHandle = saved;
  EXPECT_GE(hookCalls, 1);
  // one more for each 6-second interval the loop reached after the first
  EXPECT_LE(hookCalls, 2 + (t1 - t0) / 6);
  EXPECT_GE(got, static_cast<double>(t0));
  EXPECT_LT(got, static_cast<double>(t1 + 1));
  int64_t us = qkzTimeUsec(0);
  EXPECT_GE(us, 0);
  EXPECT_LT(us, 1000000);
}

} // namespace
