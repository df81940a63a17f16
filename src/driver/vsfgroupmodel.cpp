// The per-BY-group model set-up: the model record zeroed and tied to the run's options,
// pages, thread settings and scratch, its fit-control words started, and the group's scratch
// file made. Declared in driver/vsfpostinit.h.
#include "driver/vsfpostinit.h"

#include "data/vsfutilfile.h"
#include "model/vsfswitches.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/messages.h"

#include <cerrno>
#include <cstring>

VsfStatus vsfInitializeModel(VsfContext* ctx) {
  VsfModel& m = ctx->model;
  std::memset(static_cast<void*>(&m), 0, sizeof m);
  m.options = &ctx->options;
  m.bags = &ctx->bags;
  m.perf = &ctx->perf;
  m.puddle = &ctx->puddle;
  m.scratchHolder = &ctx->scratch;
  const VsfModelOptions& o = ctx->options;
  m.fuzz = o.fuzz;
  m.elnetPass.l2 = o.l2;
  m.elnetPass.l2Steps = o.l2Steps;
  m.elnet.l2Search = o.l2Search;
  m.elnetPass.enSetting = o.enscale;
  m.elnet.l2Low = o.l2Low;
  m.elnet.l2High = o.l2High;
  m.screen.screenSetting = o.screenSteps;
  m.screen.screenKeep = o.keepNum;
  m.screen.screenKeepRatio = o.keepRatio;
  m.screen.screenSetting2 = o.keepRatioWork;
  m.path.l1Target = o.l1;
  // The per-group fit-control words.
  vsfStartGroupFit(&ctx->options);
  m.optionCount = 0;
  // The group's scratch file goes to the utility directory in force (SHAREDDRIVE$= of
  // model averaging, else UTILPATH): the step records need it either way.
  uint8_t status = 0;
  errno = 0;
  if (vsfCreateScratch(&ctx->scratch, &ctx->exts, 0, 0, nullptr, 0, &status) != 0) {
    vsfReportNotCreated(VsfMsg::ScratchFileNotCreated, &ctx->exts, ctx->scratch.path,
                        ctx->scratch.pathLength, errno);
    return statusOf(DriverResult::ScratchNotCreated);
  }
  return VsfStatus::Ok;
}
