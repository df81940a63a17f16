// Building the design descriptor from the parse: zlevmod makes the numeric and CLASS
// variable records, runs the EFFECT statements and builds the model effects; helpers add
// numeric or CLASS variables. The CLASS options themselves are written by the CLASS reader.
#pragma once

#include "effects/levdesign.h"
#include "support/stepcodes.h"

#include <cstdint>

struct HostDataSet;
struct ParsedStatement;

// Builds the design: (design, data set, numeric list index, CLASS list index, MODEL node,
// effect list index, no-intercept flag, builder flag). VsfStatus::NoMemory when a block could
// not be had, VsfStatus::ReportedFailure after the message of a refused statement or effect.
[[nodiscard]] VsfStatus zlevmod(LevDesign* design, HostDataSet* data, int32_t numericList,
                                int32_t classList, ParsedStatement* model, int32_t effectList,
                                int32_t noIntercept, int32_t builderFlag);

// Appends the numeric variables of `numbers` that are not yet numeric records; `indexes`
// receives each variable's numeric index. Numbers found or added are set to 0; a character
// variable's number is left non-zero (its index -1). VsfStatus::NoMemory when the records
// cannot grow.
[[nodiscard]] VsfStatus zlevAddContVars(HostDataSet* data, LevDesign* design, int32_t n,
                                        int32_t* numbers, int32_t* indexes);
// Appends the variables not yet CLASS records as CLASS records (width rule of zlevmod),
// stopping at one that cannot be described (levClassIndex then does not find it);
// VsfStatus::NoMemory when the records cannot grow.
[[nodiscard]] VsfStatus zlevAddToClassList(HostDataSet* data, LevDesign* design, int32_t n,
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
