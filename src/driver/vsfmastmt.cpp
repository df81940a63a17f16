// The MODELAVERAGE statement reader: samples and their split over threads, sampling
// method and size, averaging, the summary tables, the shared drive and the refit. The
// resampling itself is the selection subsystem's. Declared in driver/vsfreaders.h.
#include "driver/vsfreaders.h"
#include "driver/vsfslots.h"
#include "driver/vsfstmtlog.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/protocol.h"
#include "support/qkupath.h"

#include <algorithm>
#include <string>

namespace {

// SHAREDDRIVE$=: the page and scratch files of the run go to that directory. It is tried
// here, before the fit reads any data, so that a missing or read-only directory is an
// error that names it rather than a failed file later.
[[nodiscard]] VsfStatus useSharedDrive(VsfContext* ctx, ParsedStatement* m) {
  int32_t length = 0;
  const char* dir = slotLastText(stmtSlot(m, AverageSlot::SharedDrive), &length);
  std::string shown(dir != nullptr ? dir : "", static_cast<size_t>(length));
  auto* up = reinterpret_cast<QkUpathExtension*>(ctx->exts.qkupath);
  QkChar* probe = nullptr;
  int64_t probeLength = 0;
  if (up == nullptr || up->qkupathGetPathnameIn == nullptr || length <= 0 ||
      up->qkupathGetPathnameIn(up, dir, length, &probe, &probeLength) != 0)
    return stmtFail(ctx, VsfMsg::SharedDriveNotUsable, StepRc::StatementError,
                    DriverResult::SharedDriveNotUsable, {shown.c_str()});
  up->qkupathFreePathname(up, probe);
  VsfUtilSettings& u = ctx->stmt.util;
  u.sharedDrive = 1;
  u.path = dir;
  u.pathLength = length;
  ctx->stmt.ma.sharedGiven = 1;
  ctx->stmt.ma.sharedPath = dir;
  ctx->stmt.ma.sharedLength = length;
  ctx->exts.utilDir = dir;
  ctx->exts.utilDirLength = length;
  return VsfStatus::Ok;
}

} // namespace

VsfStatus parse_bootstrap(VsfContext* ctx, ParsedStatement* m) {
  VsfModelAverageSettings& a = ctx->stmt.ma;
  if (ctx->options.l2Search != VsfL2Search::None)
    return stmtFail(ctx, VsfMsg::ModelAveragingNotWithL2Search, StepRc::StatementError,
                    DriverResult::AveragingCombination);
  // Each sample's draws would have to be replayed across the external folds; the resampling
  // road does not do that, so the combination is refused before any data is read.
  if (ctx->options.choose == VsfCriterion::Cvex)
    return stmtFail(ctx, VsfMsg::ModelAveragingNotWithExternalCv, StepRc::StatementError,
                    DriverResult::AveragingCombination);
  a.on = 1;
  ctx->options.modelAverage = 1;
  // NTHREADS$=0 is taken as one thread: the samples are divided by the thread count.
  a.threads = std::max(stmtInt(m, AverageSlot::Threads, 1), 1);
  a.nSamples = stmtInt(m, AverageSlot::Samples, 100);
  a.threads = std::min(a.threads, a.nSamples);
  a.details = stmtFlag(m, AverageFlag::Details);

  a.alpha = stmtNumber(m, AverageSlot::Alpha, 0.5);
  if (a.alpha == 0)
    return stmtFail(ctx, VsfMsg::AlphaNotPositive, StepRc::StatementError,
                    DriverResult::OutOfRange);

  a.averageMethod = stmtCode(m, AverageSlot::AverageMethod, VsfAverageMethod::Mean);
  a.averageGiven = stmtFlag(m, AverageFlag::AverageMethod);
  a.trimFraction = stmtNumber(m, AverageSlot::TrimPercent, 0) / 100.0;
  a.parmThreshold = stmtNumber(m, AverageSlot::ParmThreshold, 0) / 100.0;
  a.minModelFreq = stmtInt(m, AverageSlot::MinModelFreq, 0);
  a.subsetBest = stmtInt(m, AverageSlot::SubsetBest, 0);

  a.samplesPerThread = a.nSamples / a.threads;
  a.remainder = a.nSamples % a.threads;
  a.seed = static_cast<int32_t>(static_cast<uint32_t>(ctx->seed & 0xFFFFFFFF));
  a.inMemory = stmtFlag(m, AverageFlag::InMemory);
  a.multithreaded = a.threads >= 2;
  a.srs = stmtFlag(m, AverageFlag::Srs);

  a.sampleSize = stmtNumber(m, AverageSlot::SampleSize, 0);
  double pct = stmtNumber(m, AverageSlot::SamplePct, -1);
  if (pct == 0)
    return stmtFail(ctx, VsfMsg::SamplingPercentageNotPositive, StepRc::StatementError,
                    DriverResult::OutOfRange);
  if (pct == -1)
    pct = 0;
  a.sampleFraction = pct / 100.0;

  // Tables.
  bool only = stmtFlag(m, AverageFlag::TablesOnly);
  uint8_t all = stmtFlag(m, AverageFlag::AllTables);
  a.espLevel = only ? static_cast<uint8_t>(all + stmtFlag(m, AverageFlag::EspTable)) : 1;
  a.msfLevel = only ? static_cast<uint8_t>(all + stmtFlag(m, AverageFlag::MsfTable)) : 1;
  a.pestLevel = only ? static_cast<uint8_t>(all + stmtFlag(m, AverageFlag::PestTable)) : 1;
  a.espMinPct = stmtFlag(m, AverageFlag::EspAll) ? 0 : stmtNumber(m, AverageSlot::EspMinPct, 20);
  a.espOrder = stmtCode(m, AverageSlot::EspOrder, VsfOrder::Model);
  a.msfBest = stmtFlag(m, AverageFlag::MsfAll) ? 2147483647 : stmtInt(m, AverageSlot::MsfBest, 20);
  a.pestMinPct = stmtFlag(m, AverageFlag::PestAll) ? 0 : stmtNumber(m, AverageSlot::PestMinPct, 20);
  a.pestOrder = stmtCode(m, AverageSlot::PestOrder, VsfOrder::Model);
  a.nonzeroParms = stmtFlag(m, AverageFlag::NonzeroParms);
  if (stmtFlag(m, AverageFlag::NoTables)) {
    if (stmtFlag(m, AverageFlag::EspTable) || stmtFlag(m, AverageFlag::MsfTable) ||
        stmtFlag(m, AverageFlag::PestTable))
      vsfLog(VsfMsg::TablesNoneOverridesNamed);
    a.espLevel = a.msfLevel = a.pestLevel = 0;
    a.nonzeroParms = 0;
  }

  int32_t chunk = stmtInt(m, AverageSlot::ScheduleChunk, 5);
  a.scheduleChunk =
      stmtFlag(m, AverageFlag::StaticSchedule) ? -1 : std::min(chunk, a.samplesPerThread);

  if (a.sampleSize != 0 && a.sampleFraction != 0) {
    vsfLog(VsfMsg::BothSizePctGiven);
    vsfRaiseRC(ctx, StepRc::Warning);
    a.sampleSize = 0;
  }
  if (a.sampleFraction == 0 && a.sampleSize == 0)
    a.sampleFraction = a.srs ? 0.75 : 1.0;

  if (stmtFlag(m, AverageFlag::SharedDrive)) {
    if (VsfStatus rc = useSharedDrive(ctx, m); rc != VsfStatus::Ok)
      return rc;
  }

  a.refit = stmtFlag(m, AverageFlag::Refit);
  a.refitNSamples = stmtInt(m, AverageSlot::RefitSamples, a.nSamples);
  if (stmtFlag(m, AverageFlag::RefitAll)) {
    a.refitBest = -1;
    a.refitMinPct = 0;
  } else {
    a.refitBest = stmtInt(m, AverageSlot::RefitBest, -1);
    a.refitMinPct = stmtNumber(m, AverageSlot::RefitMinPct, 20) / 100.0;
  }
  a.refitPerThread = a.refitNSamples / a.threads;
  a.refitRemainder = a.refitNSamples % a.threads;
  a.refitChunk = stmtFlag(m, AverageFlag::StaticSchedule) ? -1 : std::min(chunk, a.refitPerThread);
  return VsfStatus::Ok;
}
