// The design row protocol and the CLASS parameterisations: the status mask of an
// observation, the per-effect cells, the in-model marks, the row builder with its in-place
// direct products, the GLM level-table lookup and the coding of CLASS levels. The
// observation source and the design context are levreg.h's.
#pragma once

#include "design/levreg.h"

// One entry per model effect: the product of its continuous variables and (GLM) the index
// of the current level combination in its level table.
struct EffectCell {
  double value;
  int64_t column;
};

// What the row protocol reads of a design whose effects are each the intercept or one numeric
// variable (one column, no CLASS variable, no constructed effect), kept in a few arrays: the
// wide models of thousands of candidates, whose effect and variable records would otherwise
// be walked from memory at every observation. Read only; a row worker holds one.
struct LevRowPlan {
  int32_t effectCount;
  bool plainNumbers; // every numeric variable is one the data set holds as a number
  int32_t heldCount; // the numeric variables the data set holds
  const int32_t* held;
  const int32_t* effectNumeric; // per effect its variable; -1 none (the intercept, or a
                                // variable the data set does not hold: the cell is 1)
  const int32_t* effectColumn;  // per effect its column
};

// The plan of the context's design from `pool`; null when the design is not of that kind or
// the pool has no memory (the protocol then walks the records).
[[nodiscard]] const LevRowPlan* levRowPlan(const LevRegContext* context, QkPool* pool);

// '0'/'1' marks of what the model uses.
struct InModelMask {
  char* effects;
  char* constructed;
  char* numerics;
  char* classes;
};

InModelMask* SetInmodel(LevRegContext* context);
void zlevEffCrossMultiply(double* block, int32_t B, const double* values, int32_t m);
void zlevCrossMultiply(double* block, int32_t B, const double* values, int32_t w);
[[nodiscard]] int32_t zlevwel(const LevEffect* effect, const int32_t* levels);
[[nodiscard]] int32_t eCompare(const LevEffect* effect, int32_t r, const int32_t* levels);
[[nodiscard]] int32_t EqIntList(const int32_t* row, const int32_t* levels, int32_t n,
                                const int32_t* list);
[[nodiscard]] int32_t zlevscp(double w, LevRegContext* context, double* sscp, int32_t nExtra,
                              const double* extra);
[[nodiscard]] int32_t FitGetY(LevRegContext* context, double* y);
[[nodiscard]] int32_t FitGetW(LevRegContext* context, double* w);
// Key compare of effect-level and lag-group trees: length/4 signed 32-bit integers from
// `offset`.
[[nodiscard]] int32_t Compare(const void* a, const void* b, int32_t length, int32_t offset);

// Writes effect e's CLASS part from `block`; returns the columns written for the nested cell.
int32_t zlevpar(LevRegContext* context, int32_t e, double* block);
// Writes the coding of level i of a variable into out[0..n-1], scaled by s.
void zlevflr(double s, const LevVariable* variable, double* out, int32_t i, int32_t n);

// Constructed-effect set-up of the BY group; VsfStatus::ReportedFailure when knots, a
// polynomial standardisation or a lag table failed (each after its message).
[[nodiscard]] VsfStatus zlevefti(LevRegContext* context);
