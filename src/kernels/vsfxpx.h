// The cross-product kernel pairs: the full X'X, every effect's own block, the new rows of
// an entering effect, X'y with every column, and the cross products of an entering effect
// (or of a batch of effects) with every column. Serial forms add into the model (or the row's
// fold record under CV); threaded forms add into their worker's buffer, which the frame folds
// into the model.
#pragma once

#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

// The status of a cross-product pass that met a TRAIN row whose cross-validation fold lies
// outside 0 to foldCount - 1: such a row belongs to no fold's sums, so the sums are incomplete.
// Kernels return it as a plain code, as their function type asks.
inline constexpr int32_t kVsfBadFoldRow = codeOf(VsfStatus::BadFoldRow);

[[nodiscard]] int32_t vsfFullXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfFullXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                   int64_t length);
// vsfFullXpX adding only into part `part` of `parts` of the rows of the model's triangles,
// for the shared-triangle road: parts that each visit every page in the serial order give
// together the serial form's sums, bit for bit.
[[nodiscard]] int32_t vsfFullXpXPart(VsfPassState* model, QkPageDescriptor* page, int32_t part,
                                     int32_t parts);
// vsfCenterScale and then vsfFullXpX on each page, in one pass over the rows: the cross
// products of the centred and scaled rows, added as the two passes add them.
[[nodiscard]] int32_t vsfCenterScaleXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfCenterScaleXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                          double* buffer, int64_t length);
// vsfShiftRowsSquares and then vsfFullXpX on each page, in one pass over the rows; the
// threaded form's buffer holds the sums of squares (as vsfYpwY_t's) before the cross products.
[[nodiscard]] int32_t vsfShiftSquaresXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfShiftSquaresXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                           double* buffer, int64_t length);
[[nodiscard]] int32_t vsfEffectXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfEffectXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                     int64_t length);
[[nodiscard]] int32_t vsfEffXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfEffXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                  int64_t length);
[[nodiscard]] int32_t vsfYCross(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfYCross_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                  int64_t length);
// True when every effect is dense and stored in parameter order, so that the dense values of
// a row are its parameters in order.
[[nodiscard]] bool vsfDenseInParameterOrder(const VsfPassState* model);
[[nodiscard]] int32_t vsfEffCross(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] int32_t vsfEffCross_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
