// Clock routines on gettimeofday and localtime_r. The last time the kernel hook ran is one
// process-wide value; a race between threads only lets the hook run once more.
#include "support/ztime.h"

#include <atomic>
#include <sys/time.h>
#include <time.h>

namespace {

std::atomic<double> lastHookTime{0.0};

constexpr double kHookInterval = 6.0;

struct Clock {
  int64_t seconds;
  int64_t micros;
  struct tm local;
};

Clock readClock() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  Clock c{static_cast<int64_t>(tv.tv_sec), static_cast<int64_t>(tv.tv_usec), {}};
  time_t t = tv.tv_sec;
  localtime_r(&t, &c.local);
  return c;
}

void twoDigits(char* out, int32_t v) {
  out[0] = static_cast<char>('0' + (v / 10) % 10);
  out[1] = static_cast<char>('0' + v % 10);
}

} // namespace

int32_t qkztime(int32_t* hour, int32_t* minute, double* seconds) {
  Clock c = readClock();
  *hour = c.local.tm_hour;
  *minute = c.local.tm_min;
  *seconds = c.local.tm_sec + static_cast<double>(c.micros) / 1000000.0;
  return 0;
}

int32_t bkzFormatLogTime(char* buffer, int32_t hour, int32_t minute, int32_t second) {
  buffer[0] = '[';
  twoDigits(buffer + 1, hour);
  buffer[3] = ':';
  twoDigits(buffer + 4, minute);
  buffer[6] = ':';
  twoDigits(buffer + 7, second);
  buffer[9] = ']';
  buffer[10] = ' ';
  buffer[11] = 0;
  return (second / 10) * 10;
}

int32_t bkzGetLogTime(char* buffer) {
  Clock c = readClock();
  return bkzFormatLogTime(buffer, c.local.tm_hour, c.local.tm_min, c.local.tm_sec);
}

void bkzAddTimeT(const QkChar* text, QkChar* output, void* /*reserved*/, uint32_t flags) {
  int32_t at = 0;
  if ((flags & kAddTimeStamp) && !(flags & kAddTimeSuppress)) {
    char prefix[kLogTimeLength + 1];
    bkzGetLogTime(prefix);
    for (int32_t i = 0; i < kLogTimeLength; ++i)
      output[at++] = static_cast<unsigned char>(prefix[i]);
  }
  if (text)
    for (int32_t i = 0; text[i] != 0; ++i)
      output[at++] = text[i];
  output[at] = 0;
}

double bkztod() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  double now = static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1000000.0;
  double secs = static_cast<double>(tv.tv_sec);
  double last = lastHookTime.load(std::memory_order_relaxed);
  if (secs >= last && secs < last + kHookInterval)
    return now;
  QkHandle* qk = Exported_QKHandle;
  if (qk && qk->timeOfDayHook) {
    QkTimeOfDay* tod = static_cast<QkTimeOfDay*>(qk->timeOfDayHook);
    if (tod->hook) {
      tod->hook(tod);
      lastHookTime.store(secs, std::memory_order_relaxed);
    }
  }
  return now;
}

int64_t qkzTimeUsec(int64_t mask) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return (static_cast<int64_t>(tv.tv_sec) & mask) * 1000000 + static_cast<int64_t>(tv.tv_usec);
}
