// Spline options of an EFFECT statement: zlevParseSpline reads them into a SplineInfo,
// resolves conflicts with warnings and errors of message set 174, sorts the knot list and
// removes surplus repeated knots. Knot placement per BY group belongs to levelisation.
#pragma once

#include "effects/levdesign.h"
#include "support/stepcodes.h"

#include <cstdint>

struct ParsedStatement;

// Ok when the spline is usable, VsfStatus::ReportedFailure after an error (the design's code
// raised to StepRc::Error), VsfStatus::NoMemory when a block could not be had.
[[nodiscard]] VsfStatus zlevParseSpline(LevDesign* design, SplineInfo* info, int32_t nVariables,
                                        const ParsedStatement* options, const char* name,
                                        int32_t nameLength);
// The option fields only, without checks: 1 when fewer than one column, 2 when ENDSCALE is
// below STARTLEVEL, else 0.
[[nodiscard]] int32_t zlevPartialParseSpline(LevDesign* design, SplineInfo* info,
                                             int32_t nVariables, const ParsedStatement* options);
// Removes knot values repeated more than degree + 1 times from the sorted list; 1 when it
// removed any (EffMsg::SplineKnotRepeatsCut), else 0.
[[nodiscard]] int32_t zlevRepeatedKnotCheck(SplineInfo* info, const char* name, int32_t nameLength);
// Sorts ascending in place (Shell sort with power-of-two gaps).
void zlevQSort(double* values, int32_t n);
