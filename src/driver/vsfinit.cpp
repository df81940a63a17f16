// Pre-initialisation: zeroes the context, registers the end-of-task routine, makes the
// output manager, loads the host extensions and makes the main pool.
#include "driver/vsfinit.h"

#include "driver/vsfexit.h"
#include "output/vsfcontext.h"
#include "support/hoststubs.h"
#include "support/nomemory.h"
#include "support/qkpgf.h"
#include "support/vsfpools.h"
#include "support/wobmth.h"

#include <cstring>
#include <new>

VsfStatus vsfQkExtsLoad(QkExtensionSet* exts) {
  exts->qk = Exported_QKHandle;
  if (exts->qk == nullptr)
    return VsfStatus::NoHostExtension;
  QkExtension** words[] = {&exts->qkpgf, &exts->qkbkf, &exts->qkupath, &exts->qkavlt};
  const char* names[] = {"qkpgf", "qkbkf", "qkupath", "qkavlt"};
  for (int i = 0; i < 4; ++i) {
    *words[i] = qkLoadByName(exts->qk, names[i]);
    if (*words[i] == nullptr)
      return VsfStatus::NoHostExtension;
  }
  return VsfStatus::Ok;
}

void vsfQkExtsUnload(QkExtensionSet* exts) {
  QkExtension* order[] = {exts->qkupath, exts->qkpgf, exts->qkbkf, exts->qkavlt};
  for (QkExtension* e : order)
    if (e != nullptr && e->unload != nullptr)
      e->unload(e);
}

VsfStatus vsfPreInit(VsfContext* ctx) {
  // The context is a plain record: zeroing it is its construction.
  std::memset(static_cast<void*>(ctx), 0, sizeof *ctx);
  ctx->runStart = zdattim();

  xytexit(vsfEndOfTask);
  hostCurrentTask()->procedureContext = ctx;

  RvqObject* block = nullptr;
  xobinit(&block, 0);
  if (block == nullptr)
    vsfExitError(ctx, VsfStatus::NoOutputBlock);

  RvqAttr create[3] = {rvqString(RvqAttrId::ObjectClass, "rvq", 3),
                       rvqString(RvqAttrId::ObjectKind, "manager", 7),
                       rvqHandle(RvqAttrId::Handle, nullptr)};
  int32_t rc = wobmth(block, nullptr, RvqMethod::Create, 3, create);
  if (rc < 0)
    zrvqexit(rc);
  ctx->outputManager = static_cast<RvqObject*>(create[2].value.ptr);

  if (ctx->outputManager != nullptr) {
    RvqAttr query[1] = {rvqFlag(RvqAttrId::Query, 0)};
    rc = wobquery(ctx->outputManager, 1, query);
    if (rc < 0)
      zrvqexit(rc);
    ctx->managerAnswer = static_cast<int16_t>(query[0].second.i32);
  }

  vsfExitError(ctx, vsfQkExtsLoad(&ctx->exts));

  ctx->mainPool = vsfCreateNamedPool(1, "VARSIFTER MAIN POOL");
  if (ctx->mainPool == nullptr)
    return VsfStatus::NoPoolOrHandle;

  void* design = ctx->mainPool->allocate(ctx->mainPool, sizeof(LevDesign), kQkZeroed);
  if (design == nullptr)
    return VsfStatus::NoMemory;
  ctx->design.design = new (design) LevDesign{};
  void* library = ctx->mainPool->allocate(ctx->mainPool, sizeof(LevLibraryBlock), kQkZeroed);
  if (library == nullptr)
    return VsfStatus::NoMemory;
  ctx->design.library = new (library) LevLibraryBlock{};
  ctx->design.library->pool = v_global_gcb_anchor->defaultPool;

  ctx->stmt.perfOptions.utilBuffers = 0;
  ctx->stmt.perfOptions.utilPageSize = 0;
  ctx->options.utilRandom = kQkPgfSequential;
  ctx->options.trainFraction = 1.0;
  ctx->byCount = 0;
  return VsfStatus::Ok;
}
