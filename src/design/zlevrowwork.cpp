// Row workers: the check that a context's rows may be built on copies, the copies
// themselves, and one observation's status and row on a copy. The row protocol is
// zlevrgd.cpp's; the copies only move its per-observation state off the shared records.
// Declared in design/levrowwork.h.
#include "design/levrowwork.h"

#include "design/levrow.h"
#include "support/hoststubs.h"

#include <algorithm>

bool zlevRowWorkersReady(LevRegContext* ctx) {
  LevDesign* d = ctx->design;
  LevReadBlock* rb = ctx->library;
  if (d == nullptr || rb == nullptr || rb->data == nullptr || d->cells == nullptr)
    return false;
  // Constructed effects, lags and the extra variables keep per-observation state in records
  // every copy would share; the across-BY source and filters read other observations.
  if (d->constructedCount > 0 || d->constructedReady || ctx->extraExplanatory != nullptr ||
      ctx->extraResponse1 != nullptr || ctx->extraResponse2 != nullptr || ctx->filter != nullptr ||
      has(d->designFlags, LevDesignFlag::AcrossBy))
    return false;
  if (ctx->getNext == nullptr || ctx->getVals == nullptr)
    zlevRegisterSource(ctx);
  HostRoutine plainNext = nullptr, plainVals = nullptr;
  // vir2g fails only for a null routine or slot, and both are ours.
  (void)vir2g(reinterpret_cast<HostRoutine>(&GetNext), &plainNext);
  (void)vir2g(reinterpret_cast<HostRoutine>(&GetVals), &plainVals);
  if (ctx->getNext != plainNext || ctx->getVals != plainVals || !hostHasBlockReads())
    return false;
  if (rb->formattedVector == nullptr && SetupXV(ctx, 1) != VsfStatus::Ok)
    return false;
  if (has(d->designFlags, LevDesignFlag::NonGlm) && SetInmodel(ctx) == nullptr)
    return false; // short of memory: the pass stays serial
  return true;
}

HostReadVector* zlevRowVector(const LevRegContext* ctx, int32_t* recordLength) {
  *recordLength = ctx->library->formattedLength;
  return ctx->library->formattedVector;
}

LevRowWorker* zlevRowWorkerMake(LevRegContext* ctx, QkPool* pool) {
  const LevDesign* d = ctx->design;
  auto* w = levArray<LevRowWorker>(pool, 1);
  if (w == nullptr)
    return nullptr;
  w->design = *d;
  w->block = *ctx->library;
  w->context = *ctx;
  LevRegContext& c = w->context;
  c.design = &w->design;
  c.library = &w->block;
  c.threads = nullptr;
  w->block.formattedRecord = nullptr; // points at the observation being read
  w->block.plainRecord = nullptr;
  w->design.cells = levArray<EffectCell>(pool, static_cast<size_t>(std::max(d->effectCount, 1)));
  c.numeric = levArray<double>(pool, static_cast<size_t>(std::max(d->numericCount, 1)));
  c.levelIndex = levArray<int32_t>(pool, static_cast<size_t>(std::max(d->classCount, 1)));
  c.valueBuffers = levArray<char*>(pool, static_cast<size_t>(std::max(d->classCount, 1)));
  c.scratch = levArray<double>(pool, static_cast<size_t>(std::max(ctx->largestLevelCount, 1)));
  if (w->design.cells == nullptr || c.numeric == nullptr || c.levelIndex == nullptr ||
      c.valueBuffers == nullptr || c.scratch == nullptr)
    return nullptr;
  for (int32_t i = 0; i < d->classCount; ++i) {
    const int32_t width = std::max(d->classes[i].levelWidth, 16);
    c.valueBuffers[i] = levArray<char>(pool, static_cast<size_t>(width));
    if (c.valueBuffers[i] == nullptr)
      return nullptr;
  }
  // A CLASS response is found by its slot in the level indices: the copy's own slots.
  if (ctx->responseOnClass != nullptr && ctx->responseCount > 0) {
    c.responseOnClass = levArray<int32_t*>(pool, static_cast<size_t>(ctx->responseCount));
    if (c.responseOnClass == nullptr)
      return nullptr;
    for (int32_t r = 0; r < ctx->responseCount; ++r) {
      int32_t* slot = ctx->responseOnClass[r];
      c.responseOnClass[r] = slot != nullptr ? c.levelIndex + (slot - ctx->levelIndex) : nullptr;
    }
  }
  c.getVals = nullptr;
  // vir2g fails only for a null routine or slot, and both are ours.
  (void)vir2g(reinterpret_cast<HostRoutine>(&GetValsFromRecord), &c.getVals);
  c.rowPlan = levRowPlan(ctx, pool); // null: the protocol walks the design's records
  return w;
}

LevRowStatusSet zlevRowWorkerRow(LevRowWorker* w, const char* record, double* response,
                                 double* weight, double* frequency, double* row) {
  w->block.formattedRecord = const_cast<char*>(record);
  const LevRowStatusSet status = zlevrgd(&w->context, response, weight, frequency);
  if (levRowUsable(status))
    zlevrgx(&w->context, nullptr, nullptr, row);
  return status;
}

LevRowStatusSet zlevRowWorkerSparseRow(LevRowWorker* w, const char* record, double* response,
                                       double* weight, double* frequency, double* scratch,
                                       double* values, int32_t* columns, int32_t* count) {
  w->block.formattedRecord = const_cast<char*>(record);
  const LevRowStatusSet status = zlevrgd(&w->context, response, weight, frequency);
  *count = levRowUsable(status) ? zlevrgxSparse(&w->context, scratch, values, columns) : 0;
  return status;
}
