// Effect level tables: the non-singular level table of an effect under the full-rank
// codings and the column table that pairs each design column with its constructed-effect
// columns and CLASS levels. The level-combination tables of the GLM design are zlevrgi's.
#pragma once

#include "design/levreg.h"

int32_t zlevLevelsNonSing(LevDesign* design, QkPool* pool, int32_t count, const int32_t* effects);
int32_t zlevLevelsNonSingOne(LevDesign* design, QkPool* pool, LevEffect* effect, int32_t* scratch);
int32_t zlevLevelsAllOne(LevRegContext* context, LevEffect* effect, int32_t* strides, QkPool* pool);
int32_t zlevLevelsAll(LevRegContext* context, int32_t count, const int32_t* effects);
