// Ending a run: maps a step's failure code to its message and return code, releases
// everything the run holds (once), and leaves through the host's exit service.
#include "driver/vsfexit.h"

#include "driver/vsfbridge.h"
#include "driver/vsfinit.h"
#include "driver/vsfsteps.h"
#include "output/vsfcontext.h"
#include "output/vsfoutput.h"
#include "output/vsfresults.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/poolalloc.h"
#include "support/stepcodes.h"

namespace {

// The release shared by the error exit, the normal end and the end-of-task routine.
void vsfRelease(VsfContext* ctx) {
  double start = zdattim();
  VsfStepTable& steps = vsfSteps();
  // The OUTPUT and SCORE data sets are finished on every road, with the rows written so far:
  // the host keeps the old data sets of a failed step and says so.
  vsfFinishOutput(ctx);
  vsfFinishScores(ctx);
  if (ctx->postFit != nullptr) {
    if (ctx->postFit->methods != nullptr && ctx->postFit->methods->cleanup != nullptr)
      ctx->postFit->methods->cleanup(ctx->postFit, 0);
    ctx->postFit = nullptr;
  }
  steps.vsfResamplersCleanup(ctx->resampling);
  // A run that ends inside a BY group still holds the group's fit and design context.
  steps.vsfModelByFree(&ctx->model);
  LevLibraryBlock* library = ctx->design.library;
  if (library != nullptr && library->pool != nullptr &&
      library->pool != v_global_gcb_anchor->defaultPool)
    steps.zlevtrm(&ctx->design, kLevReleaseAll);
  steps.vsfBagVecRelease(&ctx->bags, &ctx->exts);
  // The scratch files belong to the extension that made them: close them before it goes.
  steps.vsfFreeScratch(&ctx->scratch, &ctx->exts);
  vsfQkExtsUnload(&ctx->exts);
  ctx->exts = QkExtensionSet{};
  steps.zranms(&ctx->workingSeed, 2);
  poolDestroy(ctx->mainPool);
  poolDestroy(ctx->byPool);
  poolDestroy(ctx->pagePool);
  poolDestroy(ctx->coefGraphPool);
  poolDestroy(ctx->stepPool);
  ctx->cleanedUp = 1;
  ctx->cleanupTime = zdattim() - start;
}

// The failures that end a step with a message of their own, and the return code of each.
struct StatusExit {
  VsfStatus status;
  VsfMsg message;
  StepRc rc;
};
constexpr StatusExit kStatusExits[] = {
    {VsfStatus::NoPoolOrHandle, VsfMsg::PoolOrHandleNotCreated, StepRc::NoResources},
    {VsfStatus::NoMemory, VsfMsg::OutOfMemory, StepRc::NoResources},
    {VsfStatus::NoPage, VsfMsg::OutOfMemory, StepRc::NoResources},
    {VsfStatus::NotRestored, VsfMsg::StepNotRestored, StepRc::NotRestored},
    {VsfStatus::NoHostExtension, VsfMsg::HostExtensionNotLoaded, StepRc::Error},
    {VsfStatus::NoOutputBlock, VsfMsg::OutputBlockNotCreated, StepRc::Error},
    {VsfStatus::DataNotReadable, VsfMsg::InputDataSetNotReadable, StepRc::Error},
};

} // namespace

void vsfExitError(VsfContext* ctx, VsfStatus status) {
  if (status == VsfStatus::Ok)
    return;
  // Every status not in the table comes from a step that logged its own message where it
  // failed; a run that ends on it must not end with a return code that reads as success.
  StepRc rc = StepRc::Error;
  for (const StatusExit& e : kStatusExits)
    if (status == e.status) {
      vsfLog(e.message);
      rc = e.rc;
      break;
    }
  vsfRaiseRC(ctx, rc);
  if (!ctx->cleanedUp)
    vsfRelease(ctx);
  xexit(ctx->returnCode, 0);
}

void vsfCleanup(VsfContext* ctx) {
  if (!ctx->cleanedUp)
    vsfRelease(ctx);
}

void vsfEndOfTask() {
  HostTaskBlock* task = hostCurrentTask();
  if (task == nullptr || task->procedureContext == nullptr)
    return;
  auto* ctx = static_cast<VsfContext*>(task->procedureContext);
  if (ctx->puddle.pool != nullptr) {
    vsfSteps().zpudt(&ctx->puddle);
    ctx->puddle.pool = nullptr;
  }
  if (!ctx->cleanedUp)
    vsfRelease(ctx);
  task->procedureContext = nullptr;
  delete ctx;
}
