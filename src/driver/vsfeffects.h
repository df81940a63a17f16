// Effect records of the selection: preparation, names, splitting and hierarchy.
#pragma once

#include <cstdint>

struct VsfContext;
struct QkPool;

int32_t vsfPrepEffects(VsfContext* ctx, QkPool* pool);
int32_t vsfMakeEffectNames(VsfContext* ctx, QkPool* pool);
int32_t vsfSplitEffects(VsfContext* ctx, QkPool* pool);
int32_t vsfSetEffectListNParms(VsfContext* ctx);
int32_t vsfSplitHierarchy(VsfContext* ctx, QkPool* pool);
