// Effect-column queries of the design library's interface that the procedure itself does
// not call: one effect's columns of the current row, the CLASS levels behind a column, the
// columns an observation's levels select, and the counts of identifying level texts.
#pragma once

#include "design/levreg.h"

// Effect e's columns of the current observation into out (its column count of doubles), its
// constructed effects' columns included; returns the count.
[[nodiscard]] int32_t zlevGetEfCols(LevRegContext* context, int32_t e, double* out);
// The same for a run of `count` effects split from one constructed effect (count 0: the
// effect alone): together the unsplit effect's columns.
[[nodiscard]] int32_t zlevGetEfNosepCols(LevRegContext* context, int32_t e, int32_t count,
                                         double* out);
// The CLASS level index of every CLASS variable of effect e for one of its columns, in the
// effect's order (crossed, then nested); returns their number, -1 without a column table.
[[nodiscard]] int32_t zlevGetEfClassLevels(const LevDesign* design, int32_t e, int32_t column,
                                           int32_t* out);
// Inverse maps column -> member level (-1: another member's column) of every CLASS member of
// the MULTIMEMBER and COLLECTION effect variables, kept in their inverseMaps from the
// library pool: 0, or 1 when such a variable has no columns or no members, or a map cannot
// be made.
[[nodiscard]] int32_t zlevMapEftLevInverse(LevDesign* design);
// Columns of effect variable `v` that the current observation's levels select (a COLLECTION:
// numeric members first, then the level column of each CLASS member); returns their number,
// -1 for a LAG or MULTIMEMBER variable (their tables come with the constructed effects).
[[nodiscard]] int32_t zlevLSMBylevel(LevRegContext* context, int32_t v, int32_t* out);
// Level texts that identify a parameter of an effect variable, of a whole effect.
[[nodiscard]] int32_t zlevEftClValN(const LevDesign* design, const LevEftVar* variable);
[[nodiscard]] int32_t zlevEfClValN(const LevDesign* design, const LevEffect* effect);
