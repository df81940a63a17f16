// Effect containment for HIERARCHY= and backward elimination: which model effects contain
// which, as two pairs of per-effect lists. The selection methods read the lists.
#pragma once

#include "design/levreg.h"
#include "support/protocol.h"
#include "support/stepcodes.h"
#include "support/vsfoptions.h"

struct HierarchyRequest {
  LevRegContext* context;
  QkPool* pool;
  QkPool* allocator; // used when the pool switch is clear
  int32_t usePool;
  VsfHierarchy hierarchy;
  VsfMethod method; // a method that starts from every effect needs the containment
  int32_t* containingCounts;
  int32_t* containedCounts;
  int32_t** containing;
  int32_t** contained;
};

struct EffectVarSummary {
  int32_t classCount;
  int32_t* classes;
  int32_t continuousCount; // negated when the list was rebuilt
  int32_t* continuous;
  int32_t constructedCount; // negated when the list was rebuilt
  int32_t* constructed;
};

// Fills the request's containment lists; VsfStatus::NoMemory without effects or storage.
[[nodiscard]] VsfStatus zlevhier(HierarchyRequest* request);
[[nodiscard]] int32_t levefc_all(int32_t i, int32_t j, EffectVarSummary* summaries);
[[nodiscard]] int32_t levefc_class(int32_t i, int32_t j, EffectVarSummary* summaries);
[[nodiscard]] int32_t cont_lstcmp(const int32_t* a, int32_t na, int32_t* b, int32_t nb);
[[nodiscard]] int32_t zlevFindContVarInModel(const LevDesign* design, const char* name,
                                             int32_t length, int32_t* index);
