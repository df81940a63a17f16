// The procedure's statement grammar: builds the descriptor that the host parser interprets.
// The rules themselves are in vsfselg.cpp; the readers depend on their flag and slot numbers.
#pragma once

#include "support/grammar.h"
#include "support/protocol.h"

// A new grammar descriptor (from the host's general allocator); ends the run with 1016
// when there is no memory for it.
VsfGrammar* vsfselg();

// The rules, for tests and tools: count and array.
const GrammarRule* vsfGrammarRules(int* count);
