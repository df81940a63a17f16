// The procedure's statement grammar: builds the descriptor that the host parser interprets.
// The rules themselves are in vsfselg.cpp; the readers depend on their flag and slot numbers.
#pragma once

#include "support/grammar.h"

// Slots and flags of the procedure statement's node that the grammar adds beside the
// numbered options of the statements: each plot option has a slot of its own, and the BY
// statement keeps its DESCENDING marks and NOTSORTED.
inline constexpr int kSlotCoefStepAxis = 72; // PLOTS=COEFFICIENTS(STEPAXIS=)
inline constexpr int kSlotEmphasis = 73;     // PLOTS=SELECTOGRAM(EMPHASISFACTOR=)
inline constexpr int kSlotAseStepAxis = 74;  // PLOTS=ASE(STEPAXIS=)
inline constexpr int kSlotCritStepAxis = 75; // PLOTS=CRITERIA(STEPAXIS=)
inline constexpr int kSlotByDescending = 76; // one number per BY variable: 1 DESCENDING
inline constexpr int kFlagByNotsorted = 76;  // BY ... NOTSORTED

// A new grammar descriptor (from the host's general allocator); ends the run with 1016
// when there is no memory for it.
VsfGrammar* vsfselg();

// The rules, for tests and tools: count and array.
const GrammarRule* vsfGrammarRules(int* count);
