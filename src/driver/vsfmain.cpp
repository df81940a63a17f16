// The module entry and the procedure main: the start order, the BY-group loop and the end
// order of a run. Every step's code goes at once to vsfExitError.
#include "driver/vsfmain.h"

#include "design/levreg.h"
#include "display/vsfdisplay.h"
#include "driver/vsfbridge.h"
#include "driver/vsfexit.h"
#include "driver/vsfinit.h"
#include "driver/vsfreaders.h"
#include "driver/vsfsteps.h"
#include "output/vsfcontext.h"
#include "output/vsfoutdesign.h"
#include "output/vsfoutput.h"
#include "output/vsfresults.h"
#include "support/groupname.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/poolalloc.h"
#include "support/seams.h"
#include "support/vmhandlers.h"
#include "support/vsfpools.h"
#include "support/wobmth.h"

#include <algorithm>
#include <new>

namespace {
// Marker of the data the image-information block points at.
const char kModuleData[] = "qrxvarsf";
} // namespace

const VsfImageInfo vi_mcn = {{'Q', 'R', 'X', '_', 'I', 'm', 'a', 'g', 'e', '_', 'I',
                              'n', 'f', 'o', 'r', 'm', 'a', 't', 'i', 'o', 'n', '='},
                             {0, 0},
                             0xB0BDEBEDu,
                             0,
                             8,
                             "1.0",
                             "qrxvarsf",
                             QRX_BUILD_DATE,
                             kModuleData,
                             kModuleData,
                             "001"};

VsfProgramControl pcn_QRXVARSF = {
    0xFFFFFFFFFFFF0000ull, 0x400, 0x400, "qrxvarsf", qrxvarsf, 3, 0x25D3, 0x20539DD3, 15};

const VsfImageInfo* mcn_main(HostControlBlock* gcb, void* pidb) {
  v_global_gcb_anchor = gcb;
  v_global_pidb_anchor = pidb;
  himodcn();
  Exported_QKHandle = gcb->qkHandle;
  return &vi_mcn;
}

namespace {

void exitOnOutputFailure(int32_t rc) {
  if (rc < 0)
    zrvqexit(rc);
}

// Runs a step and adds its time to `timer`; returns the step's status.
template <typename Step> [[nodiscard]] auto timed(double* timer, Step step) {
  const double start = zdattim();
  const auto rc = step();
  *timer += zdattim() - start;
  return rc;
}

// Closes the BY group's open output group and marks the end of its output.
void closeGroupOutput(VsfContext* ctx) {
  if (ctx->outputGroup == nullptr)
    return;
  exitOnOutputFailure(wobclose(ctx->outputGroup));
  ctx->outputGroup = nullptr;
  for (int32_t level : {2, 3}) {
    RvqAttr attrs[2] = {};
    attrs[1] = rvqInt(RvqAttrId::LevelMark, level);
    exitOnOutputFailure(wobmth(ctx->outputManager, nullptr, RvqMethod::LevelNote, 2, attrs));
  }
}

// The PerfSettings table, once: after the first reading pass, which settles the thread
// count the data passes run on, or at the end of a run that read no group.
void showPerfSettings(VsfContext* ctx, VsfStepTable& steps) {
  if (!ctx->perf.details || ctx->perfShown)
    return;
  ctx->perfShown = 1;
  vsfExitError(ctx, steps.vsfpPerf(ctx));
}

// Names the BY group in the messages of its fit by its BY line.
void nameGroup(const VsfContext* ctx) {
  char line[512];
  const int32_t length = ctx->stmt.proc.byCount > 0 && ctx->byHandle != nullptr
                             ? xbyline(ctx->byHandle, line, static_cast<int32_t>(sizeof line))
                             : 0;
  vsfSetGroupName(line, length);
}

// One BY group: its model and pools, the levelisation, the effect list, the reading pass,
// the fit and its tables, the macro variables, the OUTPUT and OUTDESIGN rows, the scores,
// and the release of everything the group made.
void runByGroup(VsfContext* ctx, VsfStepTable& steps) {
  if (ctx->postFit != nullptr && ctx->postFit->methods != nullptr &&
      ctx->postFit->methods->byStart != nullptr)
    ctx->postFit->methods->byStart(ctx->postFit);
  vsfExitError(ctx, steps.vsfInitializeModel(ctx));
  nameGroup(ctx);
  int64_t groupSeed = ctx->workingSeed;

  ctx->design.library->pool = xmpoolc(nullptr, 1024, 0x1004);
  ctx->byCount += 1;
  ctx->byPool = vsfCreateNamedPool(1, "VARSIFTER BY POOL");
  if (ctx->byPool == nullptr)
    vsfExitError(ctx, VsfStatus::NoPoolOrHandle);
  ctx->pagePool = vsfCreateNamedPool(0x10000001u, "VARSIFTER PAGE POOL");
  if (ctx->pagePool == nullptr)
    vsfExitError(ctx, VsfStatus::NoPoolOrHandle);

  double t0 = zdattim();
  LevBuild lev = steps.vsfLev(ctx);
  ctx->levTime += zdattim() - t0;
  if (lev != LevBuild::Ready) {
    // The return code was raised by the levelisation step; skip the group.
    steps.vsfFreeScratch(&ctx->scratch, &ctx->exts);
    poolDestroy(ctx->byPool);
    poolDestroy(ctx->pagePool);
    // The group's model part and design context go too, so that nothing the group made
    // outlives it.
    steps.vsfModelByFree(&ctx->model);
    steps.zlevtrm(&ctx->design, kLevReleaseAll);
    vsfDesignSkippedGroup(ctx);
    return;
  }

  ctx->intervalStart = zdattim();
  if (ctx->options.split) {
    vsfExitError(ctx, steps.vsfSplitEffects(ctx, ctx->byPool));
    vsfExitError(ctx, steps.vsfSplitHierarchy(ctx, ctx->byPool));
  } else {
    (void)steps.vsfSetEffectListNParms(ctx); // only counts parameters; always 0
  }
  if (ctx->inest != nullptr)
    vsfExitError(ctx, steps.vsfReadInEstParms(ctx));
  vsfExitError(ctx, steps.vsfData(ctx));
  ctx->dataTime += zdattim() - ctx->intervalStart;
  showPerfSettings(ctx, steps);
  // The page-file table follows the last page of every file of the group.
  if (ctx->stmt.perfOptions.utilDetails && !ctx->noprint)
    vsfExitError(ctx, vsfpUtilInfo(ctx));
  if (ctx->design.design != nullptr)
    ctx->largestColumnCount = std::max(ctx->largestColumnCount, ctx->design.design->columnCount);

  seam::beforeFit(ctx->byCount);
  vsfExitError(ctx, steps.vsfFitAndDisplay(ctx));

  steps.vsfBagVecRelease(&ctx->bags, &ctx->exts);
  ctx->intervalStart = zdattim();

  if (ctx->byCount <= 2147483647)
    vsfExitError(ctx, timed(&ctx->macroTime, [&] {
                   return steps.vsfMakeMacroVar(ctx, static_cast<int32_t>(ctx->byCount));
                 }));
  vsfExitError(ctx, steps.vsfPrepareOutputAndDesign(ctx));
  (void)steps.vsfSetSelModelGroup(ctx); // only names the output group; always 0

  VsfModelOptions& opt = ctx->options;
  if (opt.hasOutput || opt.hasOutDesign) {
    opt.outputByNumber = static_cast<double>(ctx->byCount);
    vsfExitError(ctx, steps.vsfOutputBy(ctx, &ctx->model,
                                        opt.modelAverage ? ctx->resampling : nullptr, groupSeed));
  }
  if (opt.hasOutDesign) {
    vsfExitError(ctx, vsfDesignBy(ctx, &ctx->model, groupSeed));
    if (opt.outDesignNames && !ctx->noprint && ctx->model.fitStatus == VsfFitStatus::Done &&
        ctx->parameterNamesPresent)
      vsfExitError(ctx, steps.vsfpParameterNames(ctx, &ctx->model));
    opt.outputByNumber = static_cast<double>(ctx->byCount);
    vsfExitError(
        ctx, timed(&ctx->macroTime, [&] { return steps.vsfMakeDesignMacroVar(ctx, &ctx->model); }));
  }
  if (ctx->scoreCount != 0)
    vsfExitError(ctx,
                 timed(&ctx->scoreTime, [&] { return steps.vsfScoreResults(ctx, &ctx->model); }));

  closeGroupOutput(ctx);

  if (opt.modelAverage)
    steps.vsfResamplersCleanup(ctx->resampling);
  steps.vsfModelByFree(&ctx->model);
  steps.vsfFreeScratch(&ctx->scratch, &ctx->exts);
  poolDestroy(ctx->byPool);
  poolDestroy(ctx->pagePool);
  steps.zlevtrm(&ctx->design, kLevReleaseAll);
  ctx->resultsTime += zdattim() - ctx->intervalStart;
}

// True when nothing after a BY group's reading pass reads its DATA= observations again: the
// OUTPUT and OUTDESIGN= rows, SCORE (also of DATA= itself), model averaging and the post-fit
// statements go back to them, and INEST= matching rewinds the BY groups.
[[nodiscard]] bool dataReadOnce(const VsfContext* ctx) {
  const VsfModelOptions& o = ctx->options;
  return !o.hasOutput && !o.hasOutDesign && ctx->scoreCount == 0 && !o.modelAverage &&
         !ctx->stmt.ma.on && ctx->postFit == nullptr && ctx->inest == nullptr;
}

void setByCountMacros(VsfContext* ctx) {
  HostTaskBlock* task = hostCurrentTask();
  HostMacroTable* anchor = xalanch(task ? task->macroWord : nullptr);
  int64_t macroGroups = std::min<int64_t>(ctx->byCount, ctx->maxMacro);
  // The macro variables are informative only; a refused one must not stop the step.
  (void)xjsympn(anchor, "_VSFNUMBYS", 10, 71, 0, static_cast<double>(ctx->byCount));
  (void)xjsympn(anchor, "_VSFNUMMACROBYS", 15, 71, 0, static_cast<double>(macroGroups));
}

// A data set without observations gives no BY group at all: nothing was fitted.
void reportNoObservations(VsfContext* ctx) {
  char name[300];
  const int32_t n = ctx->data != nullptr ? xdsname(ctx->data, name, sizeof name) : -1;
  vsfLog(VsfMsg::InputDataSetNo, {HostMsgArg(name, n > 0 ? n : 0)});
  vsfRaiseRC(ctx, StepRc::Error);
}

} // namespace

void qrxvarsf(void* a1, void* a2, void* a3, void* a4, void* a5, void* a6) {
  VsfStepTable& steps = vsfSteps();
  steps.xinit(a1, a2, a3, a4, a5, a6);
  // The host's exit leaves the procedure main by unwinding it, and the end-of-task routine
  // runs after that, so the context lives on the heap, not in the main's frame; the
  // end-of-task routine (registered by vsfPreInit) releases it.
  auto* ctx = new (std::nothrow) VsfContext;
  if (ctx == nullptr) {
    vsfLog(VsfMsg::OutOfMemory);
    xexit(codeOf(StepRc::NoResources), 0);
  }

  // Start order.
  vsfSetGroupName(nullptr, 0);
  vsfExitError(ctx, vsfPreInit(ctx));
  ctx->intervalStart = zdattim();
  vsfExitError(ctx, steps.vsfParse(ctx));
  vsfExitError(ctx, steps.vsfPostInit(ctx));
  if (!ctx->noprint) {
    vsfExitError(ctx, steps.vsfpModelInfo(ctx));
    if (ctx->modelAverageCount > 0)
      vsfExitError(ctx, steps.vsfpBootstrapInfo(ctx));
  }
  if (!ctx->options.split) {
    vsfExitError(ctx, steps.vsfPrepEffects(ctx, ctx->mainPool));
    vsfExitError(ctx, steps.vsfMakeEffectNames(ctx, ctx->mainPool));
  }
  if (ctx->inest != nullptr)
    vsfExitError(ctx, steps.vsfSetupInEstScatter(ctx));
  if (ctx->options.hasOutput)
    vsfExitError(ctx, steps.vsfPrepOutput(ctx));
  if (ctx->scoreCount > 0)
    vsfExitError(ctx, timed(&ctx->scoreTime, [&] { return steps.vsfPrepScores(ctx); }));
  ctx->setupTime = zdattim() - ctx->intervalStart;
  vsfExitError(ctx, steps.vsfInitializeThreads(&ctx->puddle, ctx->perf.threadCount));

  // BY-group loop.
  ctx->dataReadOnce = dataReadOnce(ctx) ? 1 : 0;
  while (xbynext(ctx->byHandle) != 0)
    runByGroup(ctx, steps);
  if (ctx->byCount == 0)
    reportNoObservations(ctx);

  // End order.
  showPerfSettings(ctx, steps);
  steps.vsfTerminateThreads(&ctx->puddle);
  ctx->intervalStart = zdattim();
  if (ctx->maxMacro >= 0)
    (void)timed(&ctx->macroTime, [&] { // the macros are set without a status
      setByCountMacros(ctx);
      return 0;
    });
  ctx->resultsTime += zdattim() - ctx->intervalStart;
  if (ctx->options.hasOutDesign) {
    vsfExitError(ctx, vsfAcrossByDesign(ctx));
    vsfFinishDesign(ctx);
  }
  if (ctx->options.hasOutput)
    vsfFinishOutput(ctx);
  vsfFinishScores(ctx);
  vsfCleanup(ctx);
  // DETAILS asks for the Timing table too; NOTIMING$ takes it back.
  if (ctx->perf.timing)
    vsfExitError(ctx, steps.vsfTimes(ctx));
  xexit(ctx->returnCode, 0);
}
