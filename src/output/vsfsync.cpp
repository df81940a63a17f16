// The swap of a further input data set's variables into the design, and its BY-group
// synchronisation with the current BY group of DATA= (the reading pass skips the data set
// for the group when it has no such group).
#include "output/vsfsync.h"

#include "output/vsfcontext.h"
#include "support/hoststubs.h"
#include "support/messages.h"

#include <algorithm>

int32_t vsfSynchronize(VsfContext* ctx, VsfNameRecord* names, VsfMsg message) {
  if (!names->bySync)
    return 0;
  const int32_t rc = xbysync(ctx->byHandle, names->data);
  if (rc == 0)
    return 0;
  char text[260];
  text[0] = '\0';
  const int32_t length =
      std::clamp(xoinfo(names->data, 81, text, static_cast<int32_t>(sizeof text)), 0,
                 static_cast<int32_t>(sizeof text) - 1);
  vsfLog(message, {HostMsgArg(text, length)});
  vsfRaiseRC(ctx, StepRc::Warning);
  return rc;
}

void vsfSetNamePtrs(VsfContext* ctx, const VsfNameRecord* names, int32_t on) {
  if (!on) {
    vsfRestoreModelNamePtrs(ctx);
    return;
  }
  LevDesign* d = ctx->design.design;
  if (names->numerics != nullptr)
    for (int32_t j = 0; j < d->numericCount; ++j)
      if (names->numerics[j] != nullptr)
        d->numerics[j].var = names->numerics[j];
  if (names->classes != nullptr)
    for (int32_t i = 0; i < d->classCount; ++i)
      if (names->classes[i] != nullptr)
        d->classes[i].var = names->classes[i];
  if (ctx->stmt.responseCount > 0 && names->response != nullptr)
    ctx->stmt.responses[0] = names->response;
  if (names->freq != nullptr)
    ctx->stmt.proc.freqVar = names->freq;
  if (names->weight != nullptr)
    ctx->stmt.proc.weightVar = names->weight;
}

void vsfRestoreModelNamePtrs(VsfContext* ctx) {
  const VsfNameRecord& m = ctx->modelNames;
  if (m.numerics == nullptr)
    return;
  LevDesign* d = ctx->design.design;
  for (int32_t j = 0; j < d->numericCount; ++j)
    d->numerics[j].var = m.numerics[j];
  for (int32_t i = 0; i < d->classCount; ++i)
    d->classes[i].var = m.classes[i];
  if (ctx->stmt.responseCount > 0 && m.response != nullptr)
    ctx->stmt.responses[0] = m.response;
  if (m.freq != nullptr)
    ctx->stmt.proc.freqVar = m.freq;
  if (m.weight != nullptr)
    ctx->stmt.proc.weightVar = m.weight;
}
