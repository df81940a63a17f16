// LAG effects of one BY group: the groups of WITHIN level combinations (a tree per lag
// table, numbered in key order) and the lag table of each lag (per group and period, 1 + the
// lag variable's level, 0 for none). The lookup of the lagged level is zlevefcols.cpp's.
// Declared in design/levconstructed.h.
#include "design/levconstructed.h"

#include "design/levrow.h"
#include "support/hoststubs.h"
#include "support/messages.h"
#include "support/ztree.h"

#include <cstring>

namespace {

// A group node: the tree links, the WITHIN level indices as the key, then the group index
// and an observation counter.
size_t nodeSize(const LagSpec& lag) {
  return static_cast<size_t>(kLagSubjectKeyOffset) + 4 * static_cast<size_t>(lag.withinCount) + 8;
}
int32_t* keysOf(void* node) {
  return reinterpret_cast<int32_t*>(static_cast<char*>(node) + kLagSubjectKeyOffset);
}
int32_t* groupOf(void* node, const LagSpec& lag) { return keysOf(node) + lag.withinCount; }

HostMsgArg labelOf(const LevEftVar& ev) {
  return ev.label != nullptr ? HostMsgArg(ev.label, ev.labelLength)
                             : HostMsgArg(ev.name, ev.nameLength);
}

HostMsgArg numericName(const LevDesign* d, int32_t j) {
  const HostVariable* v = j >= 0 ? d->numerics[j].var : nullptr;
  return v != nullptr ? HostMsgArg(v->name, v->nameLength) : HostMsgArg("");
}

// The table of the current observation: the shared one, the primary one without a
// DESIGNROLE variable, else by the DESIGNROLE value (null when it is missing).
LagDesignBlock* tableOf(LevRegContext* ctx, LagSpec& lag) {
  if (lag.score != nullptr)
    return lag.score;
  if (lag.second == nullptr)
    return &lag.design;
  const double role = ctx->numeric[lag.roleVariable];
  if (isHostMissing(role))
    return nullptr;
  return role == 0 ? lag.second : &lag.design;
}

// Fills the key buffer with the WITHIN levels; false when one is missing.
[[nodiscard]] bool fillKey(LevRegContext* ctx, const LagSpec& lag, void* node) {
  int32_t* keys = keysOf(node);
  for (int32_t i = 0; i < lag.withinCount; ++i) {
    keys[i] = ctx->levelIndex[lag.within[i]];
    if (keys[i] < 0)
      return false;
  }
  return true;
}

void renumber(LagDesignBlock& table, const LagSpec& lag) {
  int32_t g = 0;
  for (void* node = ztreord(table.subjectTree); node != nullptr; node = ztreord(table.subjectTree))
    *groupOf(node, lag) = g++;
}

} // namespace

void zlevLevelizeLagWithin(LevRegContext* ctx, int32_t count, LagSpec** list) {
  if (count <= 0 || list == nullptr)
    return;
  QkPool* pool = levGroupPool(ctx);
  LevDesign* d = ctx->design;
  std::vector<void*> spare(2 * static_cast<size_t>(count), nullptr);
  for (int32_t k = 0; k < count; ++k) {
    LagSpec& lag = *list[k];
    lag.key = levArray<char>(pool, nodeSize(lag));
    lag.design = LagDesignBlock{};
    lag.second = nullptr;
    if (lag.roleVariable >= 0 && lag.score == nullptr) {
      lag.second = levArray<LagDesignBlock>(pool, 1);
      // The DESIGNROLE variable is a switch, not a measurement: its values are taken as they
      // stand wherever the design centres and scales by the data's range.
      d->numerics[lag.roleVariable].centre = 0.0;
      d->numerics[lag.roleVariable].halfRange = 1.0;
    }
  }
  (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  while (zlevGetNext(ctx) != 0) {
    // The pass reads the levels the row leaves in the context and checks them itself.
    (void)zlevrgd(ctx, nullptr, nullptr, nullptr);
    for (int32_t k = 0; k < count; ++k) {
      LagSpec& lag = *list[k];
      LagDesignBlock* table = tableOf(ctx, lag);
      if (table == nullptr)
        continue;
      void*& node = spare[2 * static_cast<size_t>(k) + (table == lag.second ? 1 : 0)];
      if (node == nullptr)
        node = levArray<char>(pool, nodeSize(lag));
      if (!fillKey(ctx, lag, node))
        continue;
      *groupOf(node, lag) = static_cast<int32_t>(table->rowCount);
      void* hit =
          ztrebdf(&table->subjectTree, node, 4 * lag.withinCount, kLagSubjectKeyOffset, Compare);
      if (hit == node) {
        table->rowCount += 1;
        node = nullptr;
      }
    }
  }
  for (int32_t k = 0; k < count; ++k) {
    LagSpec& lag = *list[k];
    renumber(lag.design, lag);
    if (lag.second != nullptr)
      renumber(*lag.second, lag);
  }
}

VsfStatus zlevLagDesignCreate(LevRegContext* ctx, LagSpec* lag, LevEftVar* ev, HostDataSet* scored,
                              HostDataSet* out) {
  LevDesign* d = ctx->design;
  QkPool* pool = levGroupPool(ctx);
  lag->lagged = -1;
  if (lag->withinCount == 1 && lag->score == nullptr && lag->second == nullptr) {
    lag->design.subjectTree = nullptr;
    lag->design.rowCount = static_cast<uint32_t>(d->classes[lag->within[0]].levelCount);
  }
  LagDesignBlock* primary = lag->score != nullptr ? lag->score : &lag->design;
  if (primary->rowCount == 0) {
    if (scored != nullptr)
      vsfLog(EffMsg::LagEffectNoGroupScore,
             {labelOf(*ev), HostDataSetName(scored).arg(), HostDataSetName(out).arg()});
    else if (lag->second != nullptr)
      vsfLog(EffMsg::LagEffectDesignroleNo, {labelOf(*ev), numericName(d, lag->roleVariable)});
    else
      vsfLog(EffMsg::LagEffectNoGroupNo, {labelOf(*ev)});
    return VsfStatus::ReportedFailure;
  }
  const size_t P = static_cast<size_t>(lag->periodCount);
  for (LagDesignBlock* t : {primary, lag->score == nullptr ? lag->second : nullptr})
    if (t != nullptr)
      t->periods = levArray<int32_t>(pool, std::max<size_t>(t->rowCount * P, 1));
  const double* y = ctx->fit.responses;
  (void)zlevGetInit(ctx); // a failed rewind is logged and fails the step
  while (zlevGetNext(ctx) != 0) {
    // The pass reads the levels the row leaves in the context and checks them itself.
    (void)zlevrgd(ctx, nullptr, nullptr, nullptr);
    const int32_t p = ctx->levelIndex[lag->periodVariable];
    if (p < 0)
      continue;
    LagDesignBlock* table = primary;
    int32_t g = -1;
    if (primary->subjectTree == nullptr) {
      g = ctx->levelIndex[lag->within[0]];
    } else {
      table = tableOf(ctx, *lag);
      if (table == nullptr)
        continue;
      if (table == lag->second) {
        bool responseMissing = false;
        for (int32_t r = 0; r < ctx->responseCount && y != nullptr; ++r)
          responseMissing = responseMissing || isHostMissing(y[r]);
        if (!responseMissing) {
          vsfLog(EffMsg::LagUnobservedRowHasResponse,
                 {labelOf(*ev), numericName(d, lag->roleVariable)});
          return VsfStatus::ReportedFailure;
        }
      }
      if (!fillKey(ctx, *lag, lag->key))
        continue;
      void* node = ztrefdf(&table->subjectTree, lag->key, 4 * lag->withinCount,
                           kLagSubjectKeyOffset, Compare);
      if (node == nullptr)
        continue;
      g = *groupOf(node, *lag);
    }
    if (g < 0 || g >= static_cast<int32_t>(table->rowCount) || table->periods == nullptr)
      continue;
    int32_t& cell = table->periods[static_cast<size_t>(g) * P + static_cast<size_t>(p)];
    if (cell != 0) {
      if (scored != nullptr)
        vsfLog(EffMsg::LagEffectTwoObservationsSameGroupPeriodScore,
               {labelOf(*ev), HostDataSetName(scored).arg(), HostDataSetName(out).arg()});
      else if (lag->second == nullptr)
        vsfLog(EffMsg::LagEffectTwoObservationsSameGroupPeriod, {labelOf(*ev)});
      else
        vsfLog(table == lag->second ? EffMsg::LagDuplicateWhereZero
                                    : EffMsg::LagDuplicateWhereNotZero,
               {labelOf(*ev), numericName(d, lag->roleVariable)});
      return VsfStatus::ReportedFailure;
    }
    const int32_t level = ctx->levelIndex[lag->laggedVariable];
    cell = level >= 0 ? level + 1 : 0;
  }
  return VsfStatus::Ok;
}
