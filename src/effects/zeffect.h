// The effect-syntax callback and its set-up: zeffect receives every effect action of the
// host parser and builds the statement's chain of parsed effects; zefprsi/zefprss/zefprsf
// make the state and install the callback. The chain operations are effchain.h's.
#pragma once

#include "effects/effchain.h"
#include "support/parsedstmt.h"

#include <cstdint>

// Makes a zeroed state (NAMELEN, default variable list), hangs it at the parse root and
// installs zeffect when the root's action slot is empty. Returns the state (null when the
// allocation failed).
EffectParseState* zefprsi(int32_t nameLen, int32_t defaultList);
// The same set-up on a caller-given state (nothing allocated, the root's state unchanged).
EffectParseState* zefprss(int32_t nameLen, int32_t defaultList, EffectParseState* state);
// Installs zeffect in the given root's action slot when it is empty.
void zefprsf(ParseRoot* root);
// The name-prefix list (a:) is supported.
[[nodiscard]] int32_t SupportColon();

// Builds the table of constructed-effect names from the EFFECT statements before MODEL.
void BuildEftVarList(EffectParseState* state);
// The variable id of a name (see effchain.h); 0 with the parse status set when refused.
[[nodiscard]] int32_t FindVarNum(EffectParseState* state, const char* name, int32_t length,
                                 bool* constructed, int32_t nodeType);
// Places an id in the list holder's lists: the list code (a holder slot, kEffListNewName or
// kEffListConstructed) and the position.
[[nodiscard]] int32_t FindListElem(EffectParseState* state, int32_t id, int32_t defaultList,
                                   int32_t* position, bool constructed, int32_t nodeType);
// Records an effect in option slot `slot` of a statement.
void AddEffToList(EffectParseState* state, ParsedStatement* stmt, int32_t slot,
                  EffectChainNode* effect);
// The single variable of a range-end term: list code (1, 2 or 5), 0 on error.
[[nodiscard]] int32_t GetSimpleEff(EffectParseState* state, const EffectChainNode* term,
                                   const char** name, int32_t* length, int32_t* number,
                                   int32_t* position);
// Takes a range end's variable out of the default list again when nothing else uses it.
void TruncDfltList(EffectParseState* state, const EffectChainNode* term, int32_t position,
                   int32_t number);
// Position of a factor name (type-3 effects); kVsfNotFound (a negative index) with the
// status set when not found.
[[nodiscard]] int32_t RepeatedFactor(EffectParseState* state, const char* name, int32_t length);
