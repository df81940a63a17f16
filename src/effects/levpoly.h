// Polynomial options of an EFFECT statement: zlevParsePoly fills a PolyInfo and enumerates
// the monomial terms in graded order; the label functions name terms ("x^2*y"). The basis
// values and standardisation statistics belong to levelisation.
#pragma once

#include "effects/levdesign.h"
#include "support/stepcodes.h"

#include <cstdint>

struct ParsedStatement;

// Fills `info` for n variables (numeric indexes `variables`); VsfStatus::ReportedFailure when
// the terms would exceed what can be held (EffMsg::PolynomialEffectMoreTerms, design code
// raised to StepRc::Error), VsfStatus::NoMemory when a block could not be had.
[[nodiscard]] VsfStatus zlevParsePoly(LevDesign* design, PolyInfo* info, int32_t n,
                                      const int32_t* variables, const ParsedStatement* options,
                                      const char* name, int32_t nameLength);
// Labels one POLYNOMIAL record (a term effect, or the whole polynomial with NOSEPARATE):
// VsfStatus::NoMemory when a block could not be had.
[[nodiscard]] VsfStatus zlevPolyLabel(LevDesign* design, LevEftVar* record, const char* name,
                                      int32_t nameLength);
// Writes the label of a term of `degree` variables (numeric indexes) into `buffer`; returns
// its length. The buffer holds zlevPolyTermLen(...) + 1 bytes.
[[nodiscard]] int32_t zlevPolyTermLabel(const LevDesign* design, const LevEftVar* record,
                                        int32_t degree, const int32_t* term, char* buffer);
[[nodiscard]] int32_t zlevPolyTermLen(const LevDesign* design, const PolyInfo* info, int32_t degree,
                                      const int32_t* term);
// The binomial coefficient n over k, saturating at 2147483647.
[[nodiscard]] int32_t zlevBinCoef(int32_t n, int32_t k);
// Constructed effects a polynomial yields: 1 with NOSEPARATE, else B(n + degree, degree) - 1.
[[nodiscard]] int32_t zlevPolyNefts(const ParsedStatement* options, int32_t n);
