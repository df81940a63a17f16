// The selected effects in three forms: the "SelectedEffects" table, the macro variables
// _VSFIND<n> (effect syntax for a later MODEL statement) and _VSFMOD<n> (the OUTDESIGN
// columns), and the text of the effects in the model before selection for the step notes.
// Declared in output/vsfprinters.h and output/vsfresults.h.
#include "output/vsfcontext.h"
#include "output/vsfmodelview.h"
#include "output/vsfoutdesign.h"
#include "output/vsfprint.h"
#include "output/vsfprinters.h"
#include "output/vsfresults.h"
#include "selection/vsfresample.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/nomemory.h"
#include "support/poolalloc.h"
#include "support/vsfmethods.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// A name as program text: unchanged when it is a valid name, else quoted as a name
// literal ('...'n with quotes doubled). Returns the length written (at most 2n + 3).
[[nodiscard]] int32_t programName(const char* name, int32_t n, char* out) {
  bool valid = n > 0 && (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_');
  for (int32_t i = 0; i < n && valid; ++i)
    valid = std::isalnum(static_cast<unsigned char>(name[i])) || name[i] == '_';
  if (valid) {
    if (out != nullptr)
      std::memcpy(out, name, static_cast<size_t>(n));
    return n;
  }
  int32_t k = 0;
  auto put = [&](char c) {
    if (out != nullptr)
      out[k] = c;
    ++k;
  };
  put('\'');
  for (int32_t i = 0; i < n; ++i) {
    if (name[i] == '\'')
      put('\'');
    put(name[i]);
  }
  put('\'');
  put('n');
  return k;
}

// The order in which effects are listed: effect order, or with ORDERSELECT the order in
// which they first entered. Calls `take` for each effect once.
template <class F>
[[nodiscard]] VsfStatus eachInOrder(const VsfContext* ctx, const VsfModel* m, QkPool* pool,
                                    int32_t first, F&& visit) {
  if (!ctx->options.orderSelect) {
    for (int32_t k = first; k < m->effectCount; ++k)
      visit(k);
    return VsfStatus::Ok;
  }
  uint8_t* done =
      m->effectCount > 0 ? static_cast<uint8_t*>(poolTake(pool, m->effectCount)) : nullptr;
  if (done == nullptr)
    return VsfStatus::NoMemory;
  auto once = [&](int32_t k) {
    if (k >= 0 && k < m->effectCount && !done[k]) {
      done[k] = 1;
      visit(k);
    }
  };
  // Effects before selection (intercept and INCLUDE=) and in step order after them.
  if (vsfGroupMethod(ctx->options.method)) {
    for (int32_t i = 0; i < m->history.changeListLength; ++i)
      if (m->history.changeList[i] >= first)
        once(m->history.changeList[i]);
  } else {
    for (int32_t i = 0; i < m->history.stepCount; ++i)
      if (m->history.stepEffect[i] >= first)
        once(m->history.stepEffect[i]);
  }
  pool->free(pool, done);
  return VsfStatus::Ok;
}

HostMacroTable* macroAnchor() {
  HostTaskBlock* task = hostCurrentTask();
  return xalanch(task ? task->macroWord : nullptr);
}

// Sets `stem` and `stem<n>` under the MAXMACRO rules, with VsfMsg::MacroVariablesPastMaxmacro once
// past the limit.
void setByMacro(VsfContext* ctx, const char* stem, int32_t byIndex, const char* value,
                int32_t length, uint8_t* warned) {
  const int32_t maxMacro = ctx->maxMacro;
  if (maxMacro < 0)
    return;
  HostMacroTable* anchor = macroAnchor();
  char name[64];
  if (maxMacro > 0) {
    if (byIndex <= maxMacro) {
      int32_t n = std::snprintf(name, sizeof name, "%s%d", stem, byIndex);
      // The macro variables are informative only; a refused one must not stop the step.
      (void)xjsympc(anchor, name, n, 71, 0, value, length);
    } else if (byIndex == maxMacro + 1 && !*warned) {
      *warned = 1;
      vsfLog(VsfMsg::MacroVariablesPastMaxmacro, {maxMacro});
    }
  }
  if (byIndex == 1)
    (void)xjsympc(anchor, stem, static_cast<int32_t>(std::strlen(stem)), 71, 0, value, length);
}

} // namespace

int32_t vsfMakeEffSyntax(const LevDesign* d, const VsfContext* ctx, int32_t k, char* out,
                         int32_t write) {
  const VsfEffectRecord* rec = vsfEffectRecord(ctx, k);
  if (rec != nullptr && rec->splitCount != 0) {
    const VsfEffectRecord& r = *rec;
    if (write && r.nameLength > 0)
      std::memcpy(out, r.name, static_cast<size_t>(r.nameLength));
    return r.nameLength;
  }
  int32_t levIndex = vsfDesignEffect(ctx, k);
  if (d == nullptr || levIndex < 0 || levIndex >= d->effectCount)
    return 0;
  const LevEffect& e = d->effects[levIndex];
  int32_t n = 0;
  bool any = false;
  auto sep = [&](char c) {
    if (write)
      out[n] = c;
    ++n;
  };
  auto var = [&](const HostVariable* v) {
    if (v == nullptr)
      return;
    n += programName(v->name, v->nameLength, write ? out + n : nullptr);
  };
  auto part = [&](auto&& body) {
    if (any)
      sep('*');
    body();
    any = true;
  };
  for (int32_t j = 0; j < e.continuousCount; ++j)
    part([&] { var(d->numerics[e.continuous[j]].var); });
  for (int32_t j = 0; j < e.constructedCount; ++j)
    part([&] {
      const LevEftVar& c = d->constructed[e.constructed[j]];
      if (write && c.nameLength > 0)
        std::memcpy(out + n, c.name, static_cast<size_t>(c.nameLength));
      n += c.nameLength;
    });
  for (int32_t j = 0; j < e.crossedCount; ++j)
    part([&] { var(d->classes[e.crossed[j]].var); });
  if (e.nestedCount > 0) {
    sep('(');
    for (int32_t j = 0; j < e.nestedCount; ++j) {
      if (j > 0)
        sep('*');
      var(d->classes[e.nested[j]].var);
    }
    sep(')');
  }
  return n;
}

VsfStatus vsfMakeMacroVar(VsfContext* ctx, int32_t byIndex) {
  const double start = zdattim();
  VsfModel* m = &ctx->model;
  const LevDesign* d = vsfDesign(ctx);
  char* text = nullptr;
  int32_t length = 0;
  char empty = '\0';
  if (m->fitStatus == VsfFitStatus::Done && m->pool != nullptr) {
    int32_t total = 0;
    for (int32_t k = 0; k < m->effectCount; ++k)
      if (m->effectStatus[k] == 1 || m->effectStatus[k] == 3)
        total += vsfMakeEffSyntax(d, ctx, k, nullptr, 0) + 1;
    total = std::max(total, 1);
    text = static_cast<char*>(poolTake(m->pool, total));
    if (text == nullptr)
      return VsfStatus::NoMemory;
    int32_t at = 0;
    const int32_t first = ctx->options.noint ? 0 : 1;
    VsfStatus rc = eachInOrder(ctx, m, m->pool, first, [&](int32_t k) {
      if (m->effectStatus[k] != 1 && m->effectStatus[k] != 3)
        return;
      if (at > 0)
        text[at++] = ' ';
      at += vsfMakeEffSyntax(d, ctx, k, text + at, 1);
    });
    if (rc != VsfStatus::Ok)
      return rc;
    // An intercept-only model lists no effect: the value is empty.
    length = at;
  } else {
    text = &empty;
    length = 0;
  }
  setByMacro(ctx, "_VSFIND", byIndex, text, length, &ctx->results.macroLimitWarned);
  ctx->results.macroTime += zdattim() - start;
  return VsfStatus::Ok;
}

VsfStatus vsfpModelString(VsfContext* ctx, VsfModel* m, QkPool* pool) {
  const double start = zdattim();
  const VsfModelOptions& o = ctx->options;
  int32_t selected = 0, total = 0;
  for (int32_t k = 0; k < m->effectCount; ++k) {
    uint8_t s = m->effectStatus[k];
    if (vsfInModelStatus(s)) {
      int32_t len = 0;
      vsfEffectName(ctx, k, &len);
      total += len + 1;
      ++selected;
    }
  }
  // A plain fit names its effects elsewhere, except the refit of an averaged model.
  const bool refit = ctx->resampling != nullptr && ctx->resampling->settings.refitInProgress;
  if (selected == 0 || (!vsfMethodSelects(o.method) && !refit))
    return VsfStatus::Ok;
  char* list = static_cast<char*>(poolTake(pool, total + 1));
  if (list == nullptr)
    return VsfStatus::NoMemory;
  int32_t at = 0;
  VsfStatus rc = eachInOrder(ctx, m, pool, 0, [&](int32_t k) {
    uint8_t s = m->effectStatus[k];
    if (!vsfInModelStatus(s))
      return;
    int32_t len = 0;
    const char* name = vsfEffectName(ctx, k, &len);
    std::memcpy(list + at, name, static_cast<size_t>(len));
    at += len;
    list[at++] = ' ';
  });
  if (rc != VsfStatus::Ok)
    return rc;
  const int32_t labelLength = vsfMsgLength(VsfMsg::ClassInfoEffects);
  if (labelLength == 0)
    return VsfStatus::NoMemory;
  char* label = static_cast<char*>(poolTake(pool, labelLength));
  if (label == nullptr)
    return VsfStatus::NoMemory;
  vsfMsgCopy(VsfMsg::ClassInfoEffects, label, labelLength);
  VsfOut out(ctx);
  if (!out.create("SelectedEffects", msgText(VsfMsg::SelectedEffects))) {
    pool->free(pool, list);
    return VsfStatus::Ok;
  }
  out.charColumn("Label", label, labelLength);
  out.charColumn("Effects", list, std::max(at, 1));
  out.endColumns();
  out.bind("Stat.VARSIFTER.SelectedEffects");
  out.emit();
  out.endRows();
  out.publish();
  pool->free(pool, list);
  ctx->results.effectsTableTime += zdattim() - start;
  out.finish();
  return VsfStatus::Ok;
}

VsfStatus vsfIncludeString(VsfContext* ctx, VsfModel* m, QkPool* pool, char** text,
                           int32_t* length) {
  int32_t total = 0;
  for (int32_t k = 0; k < m->effectCount; ++k)
    if (m->effectStatus[k] == 2 || m->effectStatus[k] == 3) {
      int32_t len = 0;
      vsfEffectName(ctx, k, &len);
      total += len + 1;
    }
  char* buffer = static_cast<char*>(poolTake(pool, total));
  if (buffer == nullptr)
    return VsfStatus::NoMemory;
  int32_t at = 0;
  for (int32_t k = 0; k < m->effectCount; ++k)
    if (m->effectStatus[k] == 2 || m->effectStatus[k] == 3) {
      int32_t len = 0;
      const char* name = vsfEffectName(ctx, k, &len);
      std::memcpy(buffer + at, name, static_cast<size_t>(len));
      at += len;
      buffer[at++] = ' ';
    }
  *text = buffer;
  *length = at;
  return VsfStatus::Ok;
}

VsfStatus vsfMakeDesignMacroVar(VsfContext* ctx, VsfModel* m) {
  if (!ctx->options.hasOutDesign)
    return VsfStatus::Ok;
  const double start = zdattim();
  const int32_t byIndex = static_cast<int32_t>(std::min<int64_t>(ctx->byCount, 2147483647));
  std::string value;
  if (m->fitStatus == VsfFitStatus::Done) {
    // The OUTDESIGN names of the selected and forced effects' columns. With BY variables the
    // data set's columns are defined after the BY loop and named by the prefix and their
    // position, as the group's names here are.
    const bool byGroups = ctx->stmt.proc.byCount > 0;
    for (const VsfDesignColumn& c : vsfDesignColumns(ctx)) {
      if (!c.listed)
        continue;
      if (!byGroups && c.dropped) {
        char name[64];
        const bool plain = byIndex == 1 && ctx->maxMacro >= 0;
        const int32_t n = plain ? std::snprintf(name, sizeof name, "_VSFMOD")
                                : std::snprintf(name, sizeof name, "_VSFMOD%d", byIndex);
        if (plain || (ctx->maxMacro > 0 && byIndex <= ctx->maxMacro)) {
          vsfLog(VsfMsg::MacroVariableNotCreated, {HostMsgArg(name, n)});
          vsfRaiseRC(ctx, StepRc::Warning);
        }
        ctx->results.macroTime += zdattim() - start;
        return VsfStatus::Ok;
      }
      char quoted[80];
      const int32_t n = programName(c.name.data(), static_cast<int32_t>(c.name.size()), quoted);
      if (!value.empty())
        value += ' ';
      value.append(quoted, static_cast<size_t>(n));
    }
  }
  setByMacro(ctx, "_VSFMOD", byIndex, value.data(), static_cast<int32_t>(value.size()),
             &ctx->results.designMacroLimitWarned);
  ctx->results.macroTime += zdattim() - start;
  return VsfStatus::Ok;
}
