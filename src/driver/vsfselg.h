// The procedure's statement grammar: builds the descriptor that the host parser interprets.
// The rules themselves are in vsfselg.cpp; the readers depend on their flag and slot numbers.
#pragma once

#include "support/grammar.h"
#include "support/protocol.h"

#include <map>
#include <string>

// A new grammar descriptor (from the host's general allocator); ends the run with
// StepRc::NoResources when there is no memory for it.
VsfGrammar* vsfselg();

// The rules, for tests and tools: count and array.
const GrammarRule* vsfGrammarRules(int* count);

// The action items the rules were built from (each written from named routines, flags,
// slots and codes), with the number of times each was made: every action item in the rules'
// text is one of them.
const std::map<std::string, int>& vsfGrammarBuiltActions();
