// Effect records of the selection: preparation, names, splitting and hierarchy.
//
//   VsfEffectRecord field  meaning
//   effect                 the LevEffect the record comes from
//   splitCount             number of split CLASS variables (0: the whole effect)
//   parmCount              parameters of the record
//   nameLength             length of name
//   columns                the effect's columns of this record (parmCount; null when whole)
//   splitVars, splitLevels design CLASS index and level index of each split variable
//   name                   the LevEffect's name, or a blank-padded text for a split record
#pragma once

#include "support/stepcodes.h"

#include <cstdint>

struct VsfContext;
struct QkPool;

struct VsfEffectRecord {
  int32_t effect;
  int32_t splitCount;
  int32_t parmCount;
  int32_t nameLength;
  int32_t* columns;
  int32_t* splitVars;
  int32_t* splitLevels;
  char* name;
};

[[nodiscard]] VsfStatus vsfPrepEffects(VsfContext* ctx, QkPool* pool);
[[nodiscard]] VsfStatus vsfMakeEffectNames(VsfContext* ctx, QkPool* pool);
[[nodiscard]] VsfStatus vsfSplitEffects(VsfContext* ctx, QkPool* pool);
[[nodiscard]] int32_t vsfSetEffectListNParms(VsfContext* ctx);
[[nodiscard]] VsfStatus vsfSplitHierarchy(VsfContext* ctx, QkPool* pool);
// Ascending Shell sort of signed keys; a companion array (or null) moves with its keys.
void vsfqsort(int32_t* keys, int32_t count, int32_t* companion);
// An estimate of the memory a fit of the current records needs against the host's budget:
// 0, or -16 after VsfMsg::MemoryAmountUnknown when it is short.
[[nodiscard]] int32_t vsfMemory(VsfContext* ctx);
