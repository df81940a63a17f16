// Spline options of an EFFECT statement: zlevParseSpline reads them into a SplineInfo,
// resolves conflicts with warnings and errors of message set 174, sorts the knot list and
// removes surplus repeated knots. Knot placement per BY group belongs to levelisation.
#pragma once

#include "effects/levdesign.h"

#include <cstdint>

struct ParsedStatement;

// 0 when the spline is usable, 1 after an error (the design's code raised to StepRc::Error),
// kLevNoMemory when a block could not be had.
[[nodiscard]] int32_t zlevParseSpline(LevDesign* design, SplineInfo* info, int32_t nVariables,
                                      const ParsedStatement* options, const char* name,
                                      int32_t nameLength);
// The option fields only, without checks: 1 when fewer than one column, 2 when ENDSCALE is
// below STARTLEVEL, else 0.
[[nodiscard]] int32_t zlevPartialParseSpline(LevDesign* design, SplineInfo* info,
                                             int32_t nVariables, const ParsedStatement* options);
// Removes knot values repeated more than degree + 1 times from the sorted list; 1 when it
// removed any (EffMsg::SplineEffectKnotValue), else 0.
[[nodiscard]] int32_t zlevRepeatedKnotCheck(SplineInfo* info, const char* name, int32_t nameLength);
// Sorts ascending in place (Shell sort with power-of-two gaps).
void zlevQSort(double* values, int32_t n);
