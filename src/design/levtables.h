// Effect level tables: the non-singular level table of an effect under the full-rank
// codings and the column table that pairs each design column with its constructed-effect
// columns and CLASS levels. The level-combination tables of the GLM design are zlevrgi's.
#pragma once

#include "design/levreg.h"

void zlevLevelsNonSing(LevDesign* design, QkPool* pool, int32_t count, const int32_t* effects);
// The row count of an effect's non-singular level table: the product of (levels - 1) over its
// crossed CLASS variables and of the level counts over its nested ones; 0 without CLASS
// variables.
[[nodiscard]] int64_t zlevNonSingRowCount(const LevDesign* design, const LevEffect* effect);
// Writes that table into `table` (rows of the crossed levels, then the nested ones; the
// nested combination varies slowest, the last variable of each list fastest). A crossed
// entry at or past the reference level skips it under EFFECT and REFERENCE, and under
// ORDINAL too when ordinalSkipsReference (the design's own table; the effect splitter
// numbers ORDINAL columns from 0). scratch holds 3 x scratchStride integers, or is null.
void zlevNonSingFill(const LevDesign* design, const LevEffect* effect, int32_t* table,
                     int32_t* scratch, int32_t scratchStride, bool ordinalSkipsReference);
void zlevLevelsNonSingOne(LevDesign* design, QkPool* pool, LevEffect* effect, int32_t* scratch);
void zlevLevelsAllOne(LevRegContext* context, LevEffect* effect, int32_t* strides, QkPool* pool);
void zlevLevelsAll(LevRegContext* context, int32_t count, const int32_t* effects);
