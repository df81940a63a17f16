// The variables of the VALDATA=, TESTDATA= and SCORE data sets looked up by name against
// the model's, and those data sets' BY variables matched with DATA=; the model's own name
// pointers kept for them.
// Declared in driver/vsfpostinit.h and driver/vsfpostinitparts.h.
#include "driver/vsfpostinit.h"
#include "driver/vsfpostinitparts.h"

#include "driver/vsfstmtlog.h"
#include "output/vsfcontext.h"
#include "support/driverresult.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/poolalloc.h"

#include <algorithm>

using namespace postinit;

namespace {

// The name of a data set for messages (WORK.NAME, LIB.NAME or a path).
HostMsgArg nameArg(const HostVariable* v) {
  return v != nullptr ? HostMsgArg(v->name, v->nameLength) : HostMsgArg("", 0);
}

// BY matching of a further data set with DATA=: Ok, or DriverResult::ByVariableType when a BY
// variable has another type there. Absent BY variables read the data set as a whole after
// `warning`.
[[nodiscard]] VsfStatus matchBy(VsfContext* ctx, VsfNameRecord* names, VsfMsg warning) {
  HostDataSetName dsName(names->data);
  int32_t r = xbylist(ctx->data, names->data);
  names->bySync = 1;
  if (r == 1)
    return fail(ctx, VsfMsg::ByVariablesDifferentType, DriverResult::ByVariableType,
                {dsName.arg()});
  if (r == 2) {
    warn(ctx, warning, {dsName.arg()});
    names->bySync = 0;
  }
  return VsfStatus::Ok;
}

// Whether a variable found in `data` can stand for `want`: of its type, or in a data set
// without observations (a CSV file of a header alone), whose columns have no values to give
// them a type and are never read.
bool typeFits(const HostVariable* want, const HostVariable* have, HostDataSet* data) {
  return have->type == want->type || xdsnobs(data) == 0;
}

// The SCORE statements' data sets.
[[nodiscard]] VsfStatus checkScores(VsfContext* ctx) {
  if (ctx->scoreCount <= 0)
    return VsfStatus::Ok;
  ctx->scoreNames = poolArray<VsfNameRecord>(ctx->mainPool, ctx->scoreCount);
  if (ctx->scoreNames == nullptr)
    return VsfStatus::NoMemory;
  const VsfProcSettings& p = ctx->stmt.proc;
  for (int32_t s = 0; s < ctx->scoreCount; ++s) {
    VsfScoreSpec& sc = ctx->scores[s];
    VsfNameRecord& names = ctx->scoreNames[s];
    if (sc.data == nullptr) {
      names.data = ctx->data;
      names.bySync = 0;
      names.responseFound = names.freqFound = names.weightFound = 1;
      continue;
    }
    names.data = sc.data;
    if (vsfAllocNames(ctx, &names) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
    if (sc.data != ctx->data) {
      HostDataSetName dsName(sc.data);
      HostDataSetName outName(sc.out);
      // `missing` names the variable when it is not found, `otherType` when it has another
      // type there.
      auto lookup = [&](const HostVariable* want, HostVariable** out, VsfMsg missing,
                        VsfMsg otherType, bool logged) {
        if (want == nullptr)
          return false;
        int32_t number = 0;
        // A missing variable leaves the number at 0, which the next lines test.
        (void)xvfind(sc.data, want->name, want->nameLength, &number, 0);
        HostVariable* have = nullptr;
        if (number <= 0 || xvname(sc.data, number, &have) != 0 || have == nullptr) {
          if (logged)
            note(missing, {nameArg(want), dsName.arg(), outName.arg()});
          return false;
        }
        if (!typeFits(want, have, sc.data)) {
          if (logged)
            warn(ctx, otherType, {nameArg(want), dsName.arg(), outName.arg()});
          return false;
        }
        *out = have;
        return true;
      };
      const HostVariable* response = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
      names.responseFound = lookup(response, &names.response, VsfMsg::ResponseVariableNotFound,
                                   VsfMsg::ResponseVariableDifferentType,
                                   sc.spec.stat(VsfOutputStatIndex::Resid).on != 0);
      names.freqFound = p.freqGiven
                            ? lookup(p.freqVar, &names.freq, VsfMsg::FreqVariableNotFoundScore,
                                     VsfMsg::FreqVariableDifferentTypeScore, true)
                            : 0;
      names.weightFound =
          p.weightGiven ? lookup(p.weightVar, &names.weight, VsfMsg::WeightVariableNotFoundScore,
                                 VsfMsg::WeightVariableDifferentTypeScore, true)
                        : 0;
      VsfStatus rc = matchBy(ctx, &names, VsfMsg::ByVariablesNotAllInScore);
      if (rc != VsfStatus::Ok)
        return rc;
    } else {
      names.responseFound = names.freqFound = names.weightFound = 1;
    }
  }
  return VsfStatus::Ok;
}

} // namespace

namespace postinit {

// Checks the variables and BY variables of VALDATA=, TESTDATA= and the SCORE data sets.
[[nodiscard]] VsfStatus heldOutAndScoringSets(VsfContext* ctx) {
  VsfProcSettings& p = ctx->stmt.proc;
  if (p.testData != nullptr) {
    ctx->testNames.data = p.testData;
    if (VsfStatus rc = vsfCheckForVars(ctx, &ctx->testNames, kMsgTestDataVariables);
        rc != VsfStatus::Ok)
      return rc;
  }
  if (p.valData != nullptr) {
    ctx->valNames.data = p.valData;
    if (VsfStatus rc = vsfCheckForVars(ctx, &ctx->valNames, kMsgValDataVariables);
        rc != VsfStatus::Ok)
      return rc;
  }
  if (p.valData != nullptr)
    if (VsfStatus rc = matchBy(ctx, &ctx->valNames, VsfMsg::ByVariablesNotAllInValdata);
        rc != VsfStatus::Ok)
      return rc;
  if (p.testData != nullptr)
    if (VsfStatus rc = matchBy(ctx, &ctx->testNames, VsfMsg::ByVariablesNotAllInTestdata);
        rc != VsfStatus::Ok)
      return rc;
  if (VsfStatus rc = checkScores(ctx); rc != VsfStatus::Ok)
    return rc;
  return VsfStatus::Ok;
}

// The model's name pointers, kept when held-out or scoring data sets are read.
[[nodiscard]] VsfStatus saveNamePointers(VsfContext* ctx) {
  VsfProcSettings& p = ctx->stmt.proc;
  if (p.valData != nullptr || p.testData != nullptr || ctx->scoreCount > 0)
    if (vsfSaveModelNamePtrs(ctx) != VsfStatus::Ok)
      return VsfStatus::NoMemory;
  return VsfStatus::Ok;
}

} // namespace postinit

VsfStatus vsfFind(const HostVariable* want, HostDataSet* data, HostVariable** out, VsfMsg missing,
                  VsfMsg otherType) {
  HostDataSetName dsName(data);
  int32_t number = 0;
  // A missing variable leaves the number at 0, which the next lines test.
  if (want != nullptr)
    (void)xvfind(data, want->name, want->nameLength, &number, 0);
  HostVariable* have = nullptr;
  if (want == nullptr || number <= 0 || xvname(data, number, &have) != 0 || have == nullptr) {
    vsfLog(missing, {nameArg(want), dsName.arg()});
    return statusOf(DriverResult::VariableMissing);
  }
  if (!typeFits(want, have, data)) {
    vsfLog(otherType, {nameArg(want), dsName.arg()});
    return statusOf(DriverResult::VariableOtherType);
  }
  *out = have;
  return VsfStatus::Ok;
}

VsfStatus vsfAllocNames(VsfContext* ctx, VsfNameRecord* names) {
  LevDesign* d = ctx->design.design;
  names->numerics = poolArray<HostVariable*>(ctx->mainPool, std::max(d->numericCount, 1));
  names->classes = poolArray<HostVariable*>(ctx->mainPool, std::max(d->classCount, 1));
  return names->numerics != nullptr && names->classes != nullptr ? VsfStatus::Ok
                                                                 : VsfStatus::NoMemory;
}

VsfStatus vsfCheckForVars(VsfContext* ctx, VsfNameRecord* names, MsgRun<VsfMsg> messages) {
  HostDataSet* data = names->data;
  LevDesign* d = ctx->design.design;
  // Selection resets on an open input: a closed one fails the reads that follow.
  (void)xvallvr(data);
  (void)xvsele(data);
  if (vsfAllocNames(ctx, names) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  auto require = [&](const HostVariable* want, HostVariable** out) {
    if (*out != nullptr)
      return VsfStatus::Ok;
    VsfStatus rc = vsfFind(want, data, out, messages[0], messages[1]);
    if (rc != VsfStatus::Ok)
      vsfRaiseRC(ctx, StepRc::Error);
    return rc;
  };
  VsfStatus rc = VsfStatus::Ok;
  if (ctx->stmt.responseCount > 0 &&
      (rc = require(ctx->stmt.responses[0], &names->response)) != VsfStatus::Ok)
    return rc;
  names->responseFound = 1;
  auto requireClass = [&](int32_t index) {
    if (index < 0 || index >= d->classCount)
      return VsfStatus::Ok;
    return require(d->classes[index].var, &names->classes[index]);
  };
  for (int32_t e = 0; e < d->effectCount; ++e) {
    const LevEffect& ef = d->effects[e];
    for (int32_t k = 0; k < ef.allClassCount; ++k)
      if ((rc = requireClass(ef.allClass[k])) != VsfStatus::Ok)
        return rc;
    for (int32_t k = 0; k < ef.constructedCount; ++k) {
      const LevEftVar& ev = d->constructed[ef.constructed[k]];
      for (int32_t j = 0; j < ev.classCount; ++j)
        if ((rc = requireClass(ev.classes[j])) != VsfStatus::Ok)
          return rc;
      if (ev.lag != nullptr) {
        if ((rc = requireClass(ev.lag->laggedVariable)) != VsfStatus::Ok)
          return rc;
        for (int32_t j = 0; j < ev.lag->withinCount; ++j)
          if ((rc = requireClass(ev.lag->within[j])) != VsfStatus::Ok)
            return rc;
      }
    }
  }
  for (int32_t j = 0; j < d->numericCount; ++j)
    if ((rc = require(d->numerics[j].var, &names->numerics[j])) != VsfStatus::Ok)
      return rc;
  const VsfProcSettings& p = ctx->stmt.proc;
  // FREQ and WEIGHT may be absent there; another type is a warning.
  auto optional = [&](const HostVariable* want, HostVariable** out, int32_t first) {
    const VsfStatus r = vsfFind(want, data, out, messages[first], messages[first + 1]);
    if (r == statusOf(DriverResult::VariableOtherType))
      vsfRaiseRC(ctx, StepRc::Warning);
    return static_cast<uint8_t>(r == VsfStatus::Ok);
  };
  if (p.freqGiven)
    names->freqFound = optional(p.freqVar, &names->freq, 2);
  if (p.weightGiven)
    names->weightFound = optional(p.weightVar, &names->weight, 4);
  return VsfStatus::Ok;
}

VsfStatus vsfSaveModelNamePtrs(VsfContext* ctx) {
  LevDesign* d = ctx->design.design;
  VsfNameRecord& m = ctx->modelNames;
  m.data = ctx->data;
  if (vsfAllocNames(ctx, &m) != VsfStatus::Ok)
    return VsfStatus::NoMemory;
  for (int32_t j = 0; j < d->numericCount; ++j)
    m.numerics[j] = d->numerics[j].var;
  for (int32_t i = 0; i < d->classCount; ++i)
    m.classes[i] = d->classes[i].var;
  m.response = ctx->stmt.responseCount > 0 ? ctx->stmt.responses[0] : nullptr;
  m.freq = ctx->stmt.proc.freqGiven ? ctx->stmt.proc.freqVar : nullptr;
  m.weight = ctx->stmt.proc.weightGiven ? ctx->stmt.proc.weightVar : nullptr;
  m.responseFound = m.freqFound = m.weightFound = 1;
  return VsfStatus::Ok;
}

VsfStatus vsfCheckScoreForVars(VsfContext* ctx) { return checkScores(ctx); }
