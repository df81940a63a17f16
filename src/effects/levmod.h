// Building the design descriptor from the parse: zlevmod makes the numeric and CLASS
// variable records, runs the EFFECT statements and builds the model effects; helpers add
// numeric or CLASS variables. The CLASS options themselves are written by the CLASS reader.
#pragma once

#include "effects/levdesign.h"

#include <cstdint>

struct HostDataSet;
struct ParsedStatement;

// Builds the design: (design, data set, numeric list index, CLASS list index, MODEL node,
// effect list index, no-intercept flag, builder flag). 0 on success, else the non-zero
// result of the EFFECT statements or of the model-effect builder; -2 is out of memory.
[[nodiscard]] int32_t zlevmod(LevDesign* design, HostDataSet* data, int32_t numericList,
                              int32_t classList, ParsedStatement* model, int32_t effectList,
                              int32_t noIntercept, int32_t builderFlag);

// Appends the numeric variables of `numbers` that are not yet numeric records; `indexes`
// receives each variable's numeric index. Returns 1 when a variable is character (its
// number is left non-zero), kLevNoMemory when the records cannot grow, else 0. Numbers found
// or added are set to 0.
[[nodiscard]] int32_t zlevAddContVars(HostDataSet* data, LevDesign* design, int32_t n,
                                      int32_t* numbers, int32_t* indexes);
// Appends the variables not yet CLASS records as CLASS records (width rule of zlevmod):
// 0, kLevNoMemory when the records cannot grow, 1 when a variable cannot be described.
[[nodiscard]] int32_t zlevAddToClassList(HostDataSet* data, LevDesign* design, int32_t n,
                                         const int32_t* numbers);
// 0 when every number is a CLASS variable (indexes get the positions); else 1, and each
// number that is not is negated.
[[nodiscard]] int32_t zlevValidateClassList(LevDesign* design, int32_t n, int32_t* numbers,
                                            int32_t* indexes);

// The level width of a CLASS variable under the design's TRUNCATE option.
[[nodiscard]] int32_t levLevelWidth(const LevDesign* design, const HostVariable* var);
// Position of the CLASS record of data-set variable `number`, -1 when none.
[[nodiscard]] int32_t levClassIndex(const LevDesign* design, int32_t number);
// Position of the numeric record of data-set variable `number`, -1 when none.
[[nodiscard]] int32_t levNumericIndex(const LevDesign* design, int32_t number);
// The variable's data-set number.
[[nodiscard]] int32_t levVariableNumber(const LevVariable& v);
