// Variable lists of the effect callback (efflist.cpp): a range, a prefix list, _NUMERIC_ or
// _CHARACTER_ written in an effect expression.
#pragma once

struct EffectParseState;

// The end of an expression that holds one list operator: one effect per variable of the
// list (for a prefix list, the bar effects of each); the parse status is set when the list
// is refused.
void effExpandVariableList(EffectParseState* state);
