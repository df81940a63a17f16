// The MODELAVERAGE statement reader: samples and their split over threads, sampling
// method and size, averaging, the summary tables, the shared drive and the refit. The
// resampling itself is the selection subsystem's. Declared in driver/vsfreaders.h.
#include "driver/vsfcontext.h"
#include "driver/vsfreaders.h"
#include "driver/vsfslots.h"
#include "driver/vsfstmtlog.h"
#include "support/hoststubs.h"

#include <algorithm>

namespace {} // namespace

int32_t parse_bootstrap(VsfContext* ctx, ParsedStatement* m) {
  VsfModelAverageSettings& a = ctx->stmt.ma;
  if (ctx->options.l2Search != 1)
    return stmtFail(ctx, 11, 3000, -46);
  // Each sample's draws would have to be replayed across the external folds; the resampling
  // road does not do that, so the combination is refused before any data is read.
  if (ctx->options.choose == VC_CVEX)
    return stmtFail(ctx, 12, 3000, -46);
  a.on = 1;
  ctx->options.modelAverage = 1;
  // NTHREADS$=0 is taken as one thread: the samples are divided by the thread count.
  a.threads = std::max(stmtInt(m, 1, 1), 1);
  a.nSamples = stmtInt(m, 2, 100);
  a.threads = std::min(a.threads, a.nSamples);
  a.details = stmtFlag(m, 2);

  a.alpha = stmtNumber(m, 3, 0.5);
  if (a.alpha == 0)
    return stmtFail(ctx, 268, 3000, -42);

  a.averageMethod = static_cast<uint8_t>(stmtInt(m, 12, 1));
  a.averageGiven = stmtFlag(m, 18);
  a.trimFraction = stmtNumber(m, 13, 0) / 100.0;
  a.parmThreshold = stmtNumber(m, 4, 0) / 100.0;
  a.minModelFreq = stmtInt(m, 16, 0);
  a.subsetBest = stmtInt(m, 20, 0);

  a.samplesPerThread = a.nSamples / a.threads;
  a.remainder = a.nSamples % a.threads;
  a.seed = static_cast<int32_t>(static_cast<uint32_t>(ctx->seed & 0xFFFFFFFF));
  a.inMemory = stmtFlag(m, 5);
  a.multithreaded = a.threads >= 2;
  a.srs = stmtFlag(m, 7);

  a.sampleSize = stmtNumber(m, 5, 0);
  double pct = stmtNumber(m, 6, -1);
  if (pct == 0)
    return stmtFail(ctx, 266, 3000, -42);
  if (pct == -1)
    pct = 0;
  a.sampleFraction = pct / 100.0;

  // Tables.
  bool only = stmtFlag(m, 16);
  uint8_t all = stmtFlag(m, 14);
  a.espLevel = only ? static_cast<uint8_t>(all + stmtFlag(m, 11)) : 1;
  a.msfLevel = only ? static_cast<uint8_t>(all + stmtFlag(m, 12)) : 1;
  a.pestLevel = only ? static_cast<uint8_t>(all + stmtFlag(m, 13)) : 1;
  a.espMinPct = stmtFlag(m, 45) ? 0 : stmtNumber(m, 10, 20);
  a.espOrder = static_cast<uint8_t>(stmtInt(m, 11, 0));
  a.msfBest = stmtFlag(m, 15) ? 2147483647 : stmtInt(m, 17, 20);
  a.pestMinPct = stmtFlag(m, 44) ? 0 : stmtNumber(m, 18, 20);
  a.pestOrder = static_cast<uint8_t>(stmtInt(m, 19, 0));
  a.nonzeroParms = stmtFlag(m, 43);
  if (stmtFlag(m, 17)) {
    if (stmtFlag(m, 11) || stmtFlag(m, 12) || stmtFlag(m, 13))
      xpmlog(848, 258);
    a.espLevel = a.msfLevel = a.pestLevel = 0;
    a.nonzeroParms = 0;
  }

  int32_t chunk = stmtInt(m, 9, 5);
  a.scheduleChunk = stmtFlag(m, 10) ? -1 : std::min(chunk, a.samplesPerThread);

  if (a.sampleSize != 0 && a.sampleFraction != 0) {
    xpmlog(848, 241);
    vsfRaiseRC(ctx, 4);
    a.sampleSize = 0;
  }
  if (a.sampleFraction == 0 && a.sampleSize == 0)
    a.sampleFraction = a.srs ? 0.75 : 1.0;

  // A shared drive would hold the scratch files of resamples run on other machines; this
  // host runs them all here, and -o UTILPATH= already places its utility files.
  if (stmtFlag(m, 9))
    return stmtFail(ctx, 19, 3000, -46);

  a.refit = stmtFlag(m, 19);
  a.refitNSamples = stmtInt(m, 22, a.nSamples);
  if (stmtFlag(m, 46)) {
    a.refitBest = -1;
    a.refitMinPct = 0;
  } else {
    a.refitBest = stmtInt(m, 23, -1);
    a.refitMinPct = stmtNumber(m, 21, 20) / 100.0;
  }
  a.refitPerThread = a.refitNSamples / a.threads;
  a.refitRemainder = a.refitNSamples % a.threads;
  a.refitChunk = stmtFlag(m, 10) ? -1 : std::min(chunk, a.refitPerThread);
  return 0;
}
