// Clock values and seed folding of the random-number library. The clock is polled until it
// ticks so that two seeds made in a row differ; reports go through zrngmsg.
#include "numerics/zrngseed.h"

#include "numerics/zrngfnc.h"
#include "numerics/zrngopt.h"
#include "support/hostif.h"

#include <chrono>
#include <cmath>

namespace {

constexpr int64_t kMaxPolls = 10000000;

// Process statistics from the kernel (eight words); zeros when not offered.
void qkzstats(int64_t words[8]) {
  for (int i = 0; i < 8; ++i)
    words[i] = 0;
  QkHandle* qk = Exported_QKHandle;
  if (!qk || !qk->KernelServiceDispatcher)
    return;
  QkServiceArgs args{};
  if (qk->KernelServiceDispatcher(qk, QK_SVC_ZSTATS, &args, 0) == 0)
    for (int i = 0; i < 8; ++i)
      words[i] = args.words[i];
}

[[nodiscard]] int64_t threadNumber() {
  QkHandle* qk = Exported_QKHandle;
  if (!qk)
    return 0;
  QkThreadServices* ts = qk->threadServices ? qk->threadServices(qk) : nullptr;
  if (!ts)
    ts = qk->defaultThreadServices;
  return ts ? ts->threadNumber : 0;
}

// Polls the date-time until it differs from t0, four polls at a time.
double nextTick(double t0) {
  double t1 = t0;
  for (int64_t polls = 0; polls < kMaxPolls && t1 == t0; polls += 4) {
    t1 = qkzdttme();
    if (t1 != t0)
      break;
    t1 = qkzdttme();
    if (t1 != t0)
      break;
    t1 = qkzdttme();
    if (t1 != t0)
      break;
    t1 = qkzdttme();
  }
  return t1;
}

} // namespace

double qkzdttme() {
  QkHandle* qk = Exported_QKHandle;
  if (qk && qk->KernelServiceDispatcher) {
    QkServiceArgs args{};
    if (qk->KernelServiceDispatcher(qk, QK_SVC_ZDTTME, &args, 0) == 0)
      return args.values[0];
  }
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

uint32_t zrngt32() {
  double t0 = qkzdttme();
  double t1 = nextTick(t0);
  double v = (t1 - t0 != 0.0) ? t1 * 1.0000000000000009 / (t1 - t0) : t1;
  v = std::fmod(v, 4294967296.0);
  if (!std::isfinite(v))
    v = 0.0;
  uint32_t r = static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(v)));
  return r == 0 ? 1 : r;
}

int64_t zrngi31() {
  uint32_t v = zrngt32() & 0x7FFFFFFFu;
  if (v == 0x7FFFFFFFu)
    v = v + 0x80000002u; // wraps to 1
  // A report the journal cannot take is followed by its own message.
  (void)zrngmsg(ZRNG_SEV_ZERO, kZrngClockSeed,
                {HostMsgArg(static_cast<long long>(v)), HostMsgArg(static_cast<long long>(v))});
  return static_cast<int64_t>(v);
}

int64_t zrngf31(double x) {
  if (isHostMissing(x))
    return 0;
  if (x == std::floor(x)) {
    if (x >= 1.0 && x <= 2147483646.0)
      return static_cast<int64_t>(x);
    if (x >= -2147483646.0 && x <= -1.0)
      return static_cast<int64_t>(-x);
  }
  int64_t r = 1;
  if (std::isfinite(x) && x != 0.0) {
    int exponent = 0;
    double m = std::frexp(std::fabs(x), &exponent);
    r = static_cast<int64_t>((m - 0.5) * 2.0 * 2147483646.0 + 1.0);
  }
  // Not-a-number, infinities and 0 have no mantissa to fold: they take seed 1.
  if (r < 1)
    r = 1;
  if (r > 2147483646)
    r = 2147483646;
  // A report the journal cannot take is followed by its own message.
  (void)zrngmsg(ZRNG_SEV_CHANGE, kZrngFoldedSeed,
                {HostMsgArg(static_cast<long long>(r)), HostMsgArg(x)});
  return r;
}

uint64_t zrngt64() {
  double t0 = qkzdttme();
  double t1 = nextTick(t0);
  double scaled = t1 * 1000000000.0;
  uint64_t n = 0;
  const double two63 = 9223372036854775808.0;
  if (!(scaled >= 0.0) || !std::isfinite(scaled))
    n = 0;
  else if (scaled >= 2.0 * two63)
    n = ~0ull;
  else if (scaled >= two63)
    n = static_cast<uint64_t>(scaled - two63) | 0x8000000000000000ull;
  else
    n = static_cast<uint64_t>(scaled);
  int64_t stats[8];
  qkzstats(stats);
  uint64_t x =
      static_cast<uint64_t>(stats[3]) + n + 1u + 2u * static_cast<uint64_t>(threadNumber());
  return zmh3x64(x);
}

uint64_t zrngi64() {
  uint64_t v = zrngt64();
  // A report the journal cannot take is followed by its own message.
  (void)zrngmsg(ZRNG_SEV_ZERO, kZrngClockSeed,
                {HostMsgArg(static_cast<long long>(v)), HostMsgArg(static_cast<long long>(v))});
  return v;
}
