// Model-effect names made from their parts, level-variable lists, and the list and matching
// helpers of the design library.
#pragma once

#include "effects/levdesign.h"
#include "support/stepcodes.h"

#include <cstdint>

struct ParsedStatement;

// Names a model effect from its continuous variables, constructed effects and CLASS
// variables, cut to NAMELEN; null when it has no parts.
void zlevMakeEffectName(LevDesign* design, LevEffect* effect);
// The level-variable list of every model effect.
void zlevPrepLevList(LevDesign* design);
// Names every model effect that has none.
void zlevEffectNames(LevDesign* design);
// Splits model effect `effect` (an index) into `combinations` records, one per combination
// of its constructed effects' parts (the last varying fastest); VsfStatus::NoMemory when no
// memory was left.
[[nodiscard]] VsfStatus zlevSeparate(LevDesign* design, int32_t effect, int32_t combinations);
// For the effects of a statement's effect list: each one's count of records (product of its
// constructed effects' parts) into `parts`; returns their sum.
[[nodiscard]] int32_t zlevNef(LevDesign* design, ParsedStatement* stmt, int32_t slot,
                              int32_t* parts);
[[nodiscard]] int32_t zlevEqualGlmEfs(const EffectChainNode* a, const EffectChainNode* b);
// Finds the model effects matching a parsed effect: returns 1 when found, with the first
// index and the count of consecutive matches.
[[nodiscard]] int32_t zlevMatchGLMEfToEf(const EffectChainNode* parsed, const LevDesign* design,
                                         const double* weights, int32_t* first, int32_t* count);
[[nodiscard]] int32_t zlevIsOnClassList(const LevDesign* design, int32_t n, const int32_t* numbers);
[[nodiscard]] int32_t zlevPosOnClassList(const LevDesign* design, int32_t number);
[[nodiscard]] int32_t zlevMapClassVars(const LevDesign* design, int32_t n, int32_t* numbers);
[[nodiscard]] int32_t zlevEliminateListDups(int32_t* list, int32_t n);
