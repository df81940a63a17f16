// Name lookup of the effect callback (efflookup.cpp). FindVarNum, FindListElem and the
// other lookups the parse uses are declared in zeffect.h; this adds what the callback's
// dispatch needs of the shared-chain records.
#pragma once

struct EffectParseState;

// Clears the records of shared-chain mode: the effects recorded, the shared chain and the
// position index of each variable list.
void effResetSharedRecords(EffectParseState* state);
