// Effect names: FillEffName builds the printable name of a parsed effect from the names of
// its variables and fits it into NAMELEN characters; the helpers give the name of the item
// a list entry stands for. Where the names come from (data set, EFFECT statements, factor
// lists) is the parse's.
#pragma once

#include <cstdint>

struct EffectChainNode;
struct EffectParseState;

void FillEffName(EffectParseState* state, EffectChainNode* node);

// The name of data-set variable `number` (callback or host description); false when none.
[[nodiscard]] bool effVariableName(EffectParseState* state, int32_t number, const char** text,
                                   int32_t* length);
// The name of entry `position` of node list k (0..3) of `node`; false when none.
[[nodiscard]] bool effEntryName(EffectParseState* state, const EffectChainNode* node, int32_t k,
                                int32_t position, const char** text, int32_t* length);
// Blank-padded comparison of two 16-character (or n-character) texts: -1, 0 or 1.
[[nodiscard]] int32_t effCollateText(const char* a, const char* b, int32_t n);
// Replaces the node's name by a fixed text in a fresh buffer.
void effSetFixedName(EffectChainNode* node, const char* text);
