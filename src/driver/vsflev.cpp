// The levelisation step of a BY group, which runs the design library's levelisation and
// maps its outcome to the run's return code, and the INEST= start values: binding one
// INEST= variable to each design column at start and reading the PARMS row of each group.
#include "driver/vsflev.h"

#include "design/levreg.h"
#include "driver/vsfreaders.h"
#include "driver/vsfsteps.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/groupname.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/testthread.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

// The INEST= record: the 8 characters of _TYPE_, then one double per design column. The
// context keeps the address of the doubles; the type characters sit just before them.
char* inestRecord(VsfContext* ctx) { return reinterpret_cast<char*>(ctx->inestValues) - 8; }

// A _TYPE_ value that begins with PARMS, in any case.
[[nodiscard]] bool isParmsType(const char* type) {
  static constexpr char kParms[] = "PARMS";
  for (size_t i = 0; i + 1 < sizeof kParms; ++i)
    if (std::toupper(static_cast<unsigned char>(type[i])) != kParms[i])
      return false;
  return true;
}

// The INEST= reader lives as long as the main pool.
void releaseReader(void* context) {
  auto* ctx = static_cast<VsfContext*>(context);
  if (ctx->inestReader != nullptr) {
    xvgett(ctx->inestReader);
    ctx->inestReader = nullptr;
  }
}

// The _testthread switch (with the suffix "zlev") lets the design library levelise on
// workers: twice the host's CPU count of them while THREADS is on. A missing switch leaves
// the last setting.
void allowLevelisationWorkers(LevRegContext* design) {
  const int32_t allowed = ztestthread("zlev", 4);
  if (allowed >= 0)
    design->threadsAllowed = allowed != 0 ? 1 : 0;
  uint8_t threadingOn = 0;
  int32_t cpuCount = 0;
  if (design->threadsAllowed)
    zquerythreads(&threadingOn, &cpuCount);
  design->workerCount = threadingOn && cpuCount > 0 ? 2 * cpuCount : 0;
}

} // namespace

LevBuild vsfLev(VsfContext* ctx) {
  LevDesign* d = ctx->design.design;
  if (d != nullptr) {
    // A level count of 0 on the first variable asks the library to levelise afresh.
    if (d->classCount > 0) {
      d->classes[0].levelCount = 0;
      if (d->numericCount > 0)
        d->numerics[0].levelCount = 0;
    } else if (has(d->designFlags, LevDesignFlag::LevelTwo) && d->constructedCount == 0) {
      // Without CLASS variables and constructed effects the numeric variables need no
      // pass: each is taken as it stands.
      for (int32_t j = 0; j < d->numericCount; ++j) {
        d->numerics[j].centre = 0.0;
        d->numerics[j].halfRange = 1.0;
        d->numerics[j].levelCount = 2;
      }
    } else if (d->numericCount > 0) {
      d->numerics[0].levelCount = 0;
    }
  }
  allowLevelisationWorkers(&ctx->design);
  LevBuild result = vsfSteps().zlevrgi(&ctx->design);
  int32_t libraryCode = d != nullptr ? d->worstReturnCode : 0;
  int32_t worse = std::max(ctx->returnCode, libraryCode);
  if (result == LevBuild::ConstructedFailed) {
    vsfRaiseRC(ctx, worse);
    vsfRaiseRC(ctx, StepRc::GroupDesignError);
  } else {
    vsfRaiseRC(ctx, worse);
    if (result == LevBuild::NoLevels) {
      vsfLog(VsfMsg::ClassLevelsNotDetermined, {vsfGroupName()});
      vsfRaiseRC(ctx, StepRc::GroupSkipped);
    }
  }
  return result;
}

VsfStatus vsfSetupInEstScatter(VsfContext* ctx) {
  LevDesign* d = ctx->design.design;
  HostDataSet* inest = ctx->inest;
  if (xbylist(ctx->data, inest) != 0) {
    vsfLog(VsfMsg::InestLacksByVariables);
    vsfRaiseRC(ctx, StepRc::GroupSkipped);
    return statusOf(DriverResult::InestNoGroup);
  }
  // Levelise the whole of DATA= once, in the mode that also makes the column names.
  // The names are the interlaced parameter names, whatever style the tables use.
  const uint8_t savedSplitWarned = d->splitWarned;
  const uint8_t savedStyle = d->parmLabelStyle;
  d->designFlags.clear(LevDesignFlag::ByGroup);
  d->designFlags.set(LevDesignFlag::AcrossBy);
  d->splitWarned = 0;
  d->parmLabelStyle = LSTYLE_INTERLACED;
  auto restoreMode = [&] {
    d->designFlags.set(LevDesignFlag::ByGroup);
    d->designFlags.clear(LevDesignFlag::AcrossBy);
    d->splitWarned = savedSplitWarned;
    d->parmLabelStyle = savedStyle;
  };
  ctx->design.library->pool = xmpoolc(nullptr, 1024, 0x1004);
  LevBuild lev = vsfSteps().zlevrgi(&ctx->design);
  if (lev != LevBuild::Ready) {
    vsfSteps().zlevtrm(&ctx->design, kLevReleaseAll);
    restoreMode();
    if (lev == LevBuild::ConstructedFailed) {
      vsfRaiseRC(ctx, StepRc::GroupDesignError);
    } else {
      vsfLog(VsfMsg::ClassLevelsNotDetermined, {vsfGroupName()});
      vsfRaiseRC(ctx, StepRc::GroupSkipped);
    }
    return statusOf(DriverResult::InestLevelsFailed);
  }
  // Rewinding an open input cannot fail; a closed one fails the reads that follow.
  (void)xbyrwnd(ctx->data, 70);

  const int32_t count = d->columnCount;
  auto* record = static_cast<double*>(ctx->mainPool->allocate(
      ctx->mainPool, sizeof(double) * static_cast<size_t>(count + 1), kQkZeroed));
  if (record == nullptr) {
    vsfSteps().zlevtrm(&ctx->design, kLevReleaseAll);
    restoreMode();
    return VsfStatus::NoMemory;
  }
  ctx->inestValues = record + 1;
  ctx->inestCount = count;
  std::memset(ctx->inestType, ' ', sizeof ctx->inestType);
  std::memset(record, ' ', 8);
  VsfStatus rc = VsfStatus::Ok;
  if (xvgeti(inest, count + 1, &ctx->inestReader) != 0 || ctx->inestReader == nullptr) {
    rc = VsfStatus::NoMemory;
  } else if (xmpoolcln(ctx->mainPool, releaseReader, ctx) != 0) {
    releaseReader(ctx);
    rc = VsfStatus::NoMemory;
  }
  int32_t typeNumber = 0;
  // A missing variable leaves the number at 0, which the next lines test.
  if (rc == VsfStatus::Ok)
    (void)xvfind(inest, "_TYPE_", 6, &typeNumber, 0);
  HostVariable* typeVar = nullptr;
  ctx->inestHasType = 0;
  if (rc == VsfStatus::Ok && typeNumber > 0 && xvname(inest, typeNumber, &typeVar) == 0 &&
      typeVar != nullptr && typeVar->type == 2) {
    // A refused read request leaves the column unread; xvgete reports the failure.
    (void)xvgetd(ctx->inestReader, typeNumber, 0, 0, 8, 8);
    ctx->inestHasType = 1;
  }
  const int32_t first = ctx->options.noint ? 1 : 0;
  for (int32_t k = first; rc == VsfStatus::Ok && k < count; ++k) {
    const char* name = d->columnNames != nullptr ? d->columnNames[k] : nullptr;
    const int32_t length = name != nullptr ? static_cast<int32_t>(std::strlen(name)) : 0;
    int32_t number = 0;
    // A missing variable leaves the number at 0, which the next lines test.
    if (length > 0)
      (void)xvfind(inest, name, length, &number, 0);
    HostVariable* var = nullptr;
    // A character variable of the column's name holds no start value either.
    if (number <= 0 || xvname(inest, number, &var) != 0 || var == nullptr || var->type != 1) {
      vsfLog(VsfMsg::InestDataSetNoNumeric, {HostMsgArg(name != nullptr ? name : "", length)});
      vsfRaiseRC(ctx, StepRc::Error);
      rc = statusOf(DriverResult::InestNoNumeric);
      break;
    }
    // A refused read request leaves the column unread; xvgete reports the failure.
    (void)xvgetd(ctx->inestReader, number, 8 * (k + 1), 0, 8, 8);
  }
  // Selection resets on an open input: a closed one fails the reads that follow.
  (void)xvsele(inest);
  if (ctx->inestReader != nullptr && xvgete(ctx->inestReader) != 0 && rc == VsfStatus::Ok)
    rc = VsfStatus::NoMemory;
  vsfSteps().zlevtrm(&ctx->design, kLevReleaseAll);
  restoreMode();
  return rc;
}

VsfStatus vsfReadInEstParms(VsfContext* ctx) {
  HostDataSet* inest = ctx->inest;
  if (xbysync(ctx->byHandle, inest) != 0) {
    vsfLog(VsfMsg::InestDataSetNoObservations);
    vsfRaiseRC(ctx, StepRc::GroupSkipped);
    return statusOf(DriverResult::InestNoGroup);
  }
  if (ctx->inestValues == nullptr || ctx->inestReader == nullptr)
    return VsfStatus::Ok;
  // The estimates are the group's first PARMS row. A group without one keeps the values as
  // its reading left them, those of its last row: a data set without _TYPE_ is one row of
  // estimates per group, the usual estimates file. A group without rows has no estimates.
  char* record = inestRecord(ctx);
  int64_t rows = 0;
  bool parms = false;
  while (!parms && xobsnext(inest) == 1) {
    std::memset(record, ' ', 8);
    if (xyvget(ctx->inestReader, record) != 0) {
      xebug("vsfReadInEstParms: an INEST= row could not be read");
      break;
    }
    ++rows;
    std::memcpy(ctx->inestType, record, sizeof ctx->inestType);
    parms = ctx->inestHasType && isParmsType(ctx->inestType);
  }
  if (rows == 0) {
    vsfLog(VsfMsg::InestDataSetNoObservations);
    vsfRaiseRC(ctx, StepRc::GroupSkipped);
    return statusOf(DriverResult::InestNoGroup);
  }
  if (!parms && (ctx->inestHasType || rows > 1))
    vsfLog(VsfMsg::InestNoParmsRow, {HostMsgArg(rows)});
  // Every value stays at its own parameter; a missing value is no start value.
  ctx->model.inestEstimates = ctx->inestValues;
  return VsfStatus::Ok;
}
