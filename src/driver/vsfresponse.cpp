// Links the response, WEIGHT and FREQ variables of the statements into the design context,
// so that levelisation and the design rows read them with every observation.
#include "driver/vsfresponse.h"

#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"

#include <new>

namespace {

LevVariable* newRecords(QkPool* pool, int32_t count) {
  void* block = pool->allocate(pool, sizeof(LevVariable) * static_cast<size_t>(count), kQkZeroed);
  if (block == nullptr)
    return nullptr;
  auto* records = static_cast<LevVariable*>(block);
  for (int32_t i = 0; i < count; ++i)
    new (&records[i]) LevVariable{};
  return records;
}

HostMsgArg nameOf(const HostVariable* v) { return HostMsgArg(v->name, v->nameLength); }

// True when one of the design's variable records is variable v.
[[nodiscard]] bool amongRecords(const LevVariable* records, int32_t count, const HostVariable* v) {
  for (int32_t i = 0; i < count; ++i)
    if (records[i].var != nullptr && records[i].var->number == v->number)
      return true;
  return false;
}

[[nodiscard]] bool isClassVariable(const LevDesign* d, const HostVariable* v) {
  return d != nullptr && amongRecords(d->classes, d->classCount, v);
}

// A numeric variable of the effects, constructed effects included.
[[nodiscard]] bool isDesignVariable(const LevDesign* d, const HostVariable* v) {
  return d != nullptr && amongRecords(d->numerics, d->numericCount, v);
}

} // namespace

VsfStatus vsfCheckResponseSide(VsfContext* ctx) {
  const VsfStatementSettings& st = ctx->stmt;
  int32_t failures = 0;
  auto fail = [&](VsfMsg number, std::initializer_list<HostMsgArg> args) {
    vsfLog(number, args);
    ++failures;
  };
  const HostVariable* y = st.responseCount > 0 ? st.responses[0] : nullptr;
  if (y != nullptr && y->type != 1)
    fail(VsfMsg::ResponseIsCharacter, {nameOf(y)});
  else if (y != nullptr && isClassVariable(ctx->design.design, y))
    fail(VsfMsg::ResponseIsClassVariable, {nameOf(y)});
  if (st.proc.weightGiven && st.proc.weightVar != nullptr && st.proc.weightVar->type != 1)
    fail(VsfMsg::RoleVariableIsCharacter, {"WEIGHT", nameOf(st.proc.weightVar)});
  if (st.proc.freqGiven && st.proc.freqVar != nullptr && st.proc.freqVar->type != 1)
    fail(VsfMsg::RoleVariableIsCharacter, {"FREQ", nameOf(st.proc.freqVar)});
  if (failures == 0) {
    if (y != nullptr && isDesignVariable(ctx->design.design, y)) {
      // Not an error (the fit runs), but every criterion then reports a perfect fit.
      vsfLog(VsfMsg::ResponseAlsoInEffects, {nameOf(y)});
      vsfRaiseRC(ctx, StepRc::Warning);
    }
    return VsfStatus::Ok;
  }
  vsfRaiseRC(ctx, StepRc::Error);
  return statusOf(DriverResult::Refused);
}

VsfStatus vsfLinkResponseSide(VsfContext* ctx) {
  VsfStatementSettings& st = ctx->stmt;
  LevRegContext& design = ctx->design;
  if (st.responseCount > 0 && design.responses == nullptr) {
    design.responses = newRecords(ctx->mainPool, st.responseCount);
    if (design.responses == nullptr)
      return VsfStatus::NoMemory;
    for (int32_t r = 0; r < st.responseCount; ++r)
      design.responses[r].var = st.responses[r];
    design.responseCount = st.responseCount;
  }
  if (st.proc.weightGiven && st.proc.weightVar != nullptr && design.weights == nullptr) {
    design.weights = newRecords(ctx->mainPool, 1);
    if (design.weights == nullptr)
      return VsfStatus::NoMemory;
    design.weights[0].var = st.proc.weightVar;
    design.weightCount = 1;
  }
  if (st.proc.freqGiven && st.proc.freqVar != nullptr && design.freq == nullptr) {
    design.freq = newRecords(ctx->mainPool, 1);
    if (design.freq == nullptr)
      return VsfStatus::NoMemory;
    design.freq[0].var = st.proc.freqVar;
  }
  return VsfStatus::Ok;
}
