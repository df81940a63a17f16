// Parameter names and labels of the design columns (INTERLACED names with uniqueness,
// SEPARATE and SEPARATECOMPACT labels, short names), level names of constructed effects,
// level texts for the printers, the response-to-CLASS links and effect means.
#pragma once

#include "design/levreg.h"

void ParmName(LevRegContext* context);
void zlevParmName(LevRegContext* context, int32_t count, const int32_t* effects);
void UniqDups(LevRegContext* context);
[[nodiscard]] int32_t clcmp(const void* a, const void* b, int32_t ignored, int32_t offset);
void zlevchk(LevRegContext* context);
void zlevEftVarLevNames(LevRegContext* context, int32_t count, const int32_t* list);
void zlevEftVarParmLevName(LevRegContext* context, LevEftVar* variable);

int32_t zlevEfParmLabel(LevDesign* design, QkPool* pool, int32_t effect, int32_t width);
int32_t zlevEfLevelLabel(const LevDesign* design, const LevEffect* effect, char* out,
                         const int32_t* levels);
[[nodiscard]] int32_t zlevLenLevelLabel(const LevDesign* design, const LevEffect* effect,
                                        const int32_t* levels);
// The CLASS values of a parameter's level combination: per CLASS variable of the effect, its
// level's text into texts[variable] (widths[variable] bytes, blank-padded; skipped when
// null) or its numeric value into values[variable].
void zlevEfClassLevelTrue(const LevDesign* design, const LevEffect* effect, const int32_t* levels,
                          char* const* texts, const int32_t* widths, double* values);
void FindYonClass(LevRegContext* context);
void zlevEfMeans(LevRegContext* context, const double* sums, double* out, const double* divisor,
                 double scale);
[[nodiscard]] int32_t strjscmp(const char* a, int32_t na, const char* b, int32_t nb);
[[nodiscard]] int32_t zlevEftClValParm(const LevDesign* design, const LevEffect* effect,
                                       const char* const* texts, const int32_t* lengths);

// The name part of level i of a CLASS variable under its coding into out (32 bytes for the
// name form, `label` true for the "OEFF 1" label form); returns its length.
[[nodiscard]] int32_t levLevelNamePart(const LevVariable* variable, int32_t i, char* out,
                                       int32_t capacity, bool label);
