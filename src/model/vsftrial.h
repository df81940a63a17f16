// Trial models of the candidate searches: save the model before the trials and reload the
// clean state after each, collapse a full X'X to the in-model columns so that a trial
// sweeps a small triangle, and the SSE of one more effect from its block of the swept
// matrix by partial elimination.
#pragma once

#include "support/stepcodes.h"

#include <cstdint>
#include <vector>

struct VsfModel;

void vsfModelBackup(VsfModel* model, bool forDrop);
void vsfModelCopy(VsfModel* model, bool forDrop);
void vsfModelCollapse(VsfModel* model, bool forDrop);
void vsfEffectXpXiCollapse(VsfModel* model, int32_t effect);
void vsfModelReload(VsfModel* model, bool forDrop);
void vsfModelRestore(VsfModel* model);
// The trial SSE of adding `effect` and the number of its columns that would be swept;
// NoMemory when the trial block cannot be had.
[[nodiscard]] VsfStatus vsfEffectXpXi(VsfModel* model, int32_t effect, double* sse,
                                      int32_t* sweptCount);
int32_t vsfPartialSweep(double* a, int32_t k, int32_t n, double tol);

// The lower Cholesky factor L (packed by rows, row i at packed::tri(i)) of the packed
// triangle `a` between the columns S; false when a pivot is not positive.
[[nodiscard]] bool vsfCholeskyOf(const double* a, const std::vector<int64_t>& S,
                                 std::vector<double>& L);

// The columns of a candidate effect whose own block of X'X is diagonal, or diagonal plus
// the same element rankOne everywhere (D + rankOne 1 1', the effect coding: the reference
// level's rows carry the same value in every column), as its trial reads them: X'X between
// its column j and a column of the model, the element j of D, and column j's entry in the
// response row of the current swept matrix. Where rankOne is not 0, rankCross holds, by
// column of the model, the part of every column's cross products that the rows with the
// same value in every column add (the reference level's rows): cross(j, c) less
// rankCross[c] is that of column j's own rows. Where `modelTaken` is given ('1' for each
// column the model took), the pivots are a fold record's refit of the model's columns: a
// column the model left out stays out, and one it took is taken unless its pivot cannot be
// told from the rounding bound (no floor at 1e-8 of the diagonal, as vsfCVSweep judges the
// packed road's folds).
struct VsfDiagonalBlock {
  const void* context;
  int64_t columns;
  double (*cross)(const void* context, int64_t j, int64_t column);
  double (*diagonal)(const void* context, int64_t j);
  double (*response)(const void* context, int64_t j);
  double rankOne = 0.0;
  const double* rankCross = nullptr;
  const char* modelTaken = nullptr;
};
// Whether the block's columns are indicators that cover every row once (the levels of a CLASS
// effect under the GLM coding): each column's sum equals its sum of squares and the sums add
// up to the intercept's. Their sum is then the intercept's column, so with the intercept swept
// the last of them to come is dependent on the others whatever its pivot's rounding says.
[[nodiscard]] bool vsfCoversEveryRow(const VsfModel* model, const VsfDiagonalBlock& block);
// The trial of adding such an effect to the model by its pivots in column order: the SSE,
// the number of columns swept and, when `taken` is given, '1' for each column swept ('0'
// for a column dependent on the model and the columns before it). When `inflation` is given
// it receives the largest inflation its judged pivots show (vsfInflationOf), as the dense
// trial's do, so that vsfTrialIsEntry judges either trial alike. When `lost` is given (a fold
// record's refit, `modelTaken` given) it receives '1' for each column the model took whose
// pivot the rounding bound refused while its level has rows of its own (D_j above 0): the
// fold's sums lost its digits, which its training rows may still hold ('0' elsewhere). The
// refit holds such a column, so it counts toward the cap of the levels that cover every row
// as a column taken does. False when the model's swept columns have no Cholesky factor.
[[nodiscard]] bool vsfDiagonalBlockPivots(const VsfModel* model, const VsfDiagonalBlock& block,
                                          double* sse, int32_t* sweptCount, char* taken,
                                          double* inflation = nullptr, char* lost = nullptr);
