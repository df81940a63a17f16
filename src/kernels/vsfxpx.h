// The cross-product kernel pairs: the full X'X, every effect's own block, the new rows of
// an entering effect, X'y with every column, and the cross products of an entering effect
// (or of a batch of effects) with every column. Serial forms add into the model (or the row's
// fold record under CV); threaded forms add into their worker's buffer, which the frame folds
// into the model.
#pragma once

#include "data/vsfthread.h"
#include "support/qkpgf.h"
#include "support/stepcodes.h"

#include <cstdint>

struct VsfPassState;

// The plain forms add every page's rows by the page's end. The frame calls the span forms
// instead (data/vsfthread.h): within one thread's visit the rows of pages held in memory wait
// for full blocks of the Gram kernel across pages, and finishing the span adds what waits.
[[nodiscard]] VsfStatus vsfFullXpX(VsfPassState* model, QkPageDescriptor* page);
// The span forms of vsfFullXpX, vsfCenterScaleXpX, vsfShiftSquaresXpX and vsfEffCross.
extern const VsfSpanForms kVsfFullXpXSpan;
extern const VsfSpanForms kVsfCenterScaleXpXSpan;
extern const VsfSpanForms kVsfShiftSquaresXpXSpan;
extern const VsfSpanForms kVsfEffCrossSpan;
[[nodiscard]] VsfStatus vsfFullXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                     int64_t length);
// vsfFullXpX adding only into part `part` of `parts` of the rows of the model's triangles
// (under CV, of the folds' triangles laid end to end, so that a part reads the rows of a few
// folds only), for the shared-triangle road: parts that each visit every page in the serial
// order give together the serial form's sums, bit for bit. The page's note, when kept, spares
// all parts but the first the test of the rows' values where the parts read every row. Within
// the part's span (null: none) rows wait across pages as the span forms' do.
[[nodiscard]] VsfStatus vsfFullXpXPart(VsfPassState* model, QkPageDescriptor* page, int32_t part,
                                       int32_t parts, std::atomic<VsfPageNote>* note,
                                       VsfPageSpan* span);
// Per fold, the weight and the weighted sums of the dense values (the response first) of the
// rows the fold's sums take, into model->cv.foldCentre (dense + 2 per fold), from which the fold
// centres are formed; with sparse columns, after those the sums of their values (parmCount + 1
// per fold, by parameter as foldFirstSums holds them). vsfCVFoldMeansLength is the length.
[[nodiscard]] VsfStatus vsfCVFoldMeans(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCVFoldMeans_t(VsfPassState* model, QkPageDescriptor* page,
                                         double* buffer, int64_t length);
[[nodiscard]] int64_t vsfCVFoldMeansLength(const VsfPassState* model);
// vsfShiftRowsSquares and then vsfCVFoldMeans on each page, in one pass over the rows: the
// folds' sums of the shifted rows come with the shift; the threaded form's buffer holds the
// sums of squares (as vsfYpwY_t's) before the folds' sums.
[[nodiscard]] VsfStatus vsfShiftSquaresFoldMeans(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfShiftSquaresFoldMeans_t(VsfPassState* model, QkPageDescriptor* page,
                                                   double* buffer, int64_t length);
// vsfCenterScale, or vsfApplyAdaptiveWeights, and then vsfCVFoldMeans on each page, in one
// pass over the rows: the folds' sums of the rewritten rows come with the rewrite.
[[nodiscard]] VsfStatus vsfCenterScaleFoldMeans(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCenterScaleFoldMeans_t(VsfPassState* model, QkPageDescriptor* page,
                                                  double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfAdaptiveWeightsFoldMeans(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfAdaptiveWeightsFoldMeans_t(VsfPassState* model, QkPageDescriptor* page,
                                                      double* buffer, int64_t length);
// vsfCenterScale and then vsfFullXpX on each page, in one pass over the rows: the cross
// products of the centred and scaled rows, added as the two passes add them.
[[nodiscard]] VsfStatus vsfCenterScaleXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfCenterScaleXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                            double* buffer, int64_t length);
// vsfShiftRowsSquares and then vsfFullXpX on each page, in one pass over the rows; the
// threaded form's buffer holds the sums of squares (as vsfYpwY_t's) before the cross products.
[[nodiscard]] VsfStatus vsfShiftSquaresXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfShiftSquaresXpX_t(VsfPassState* model, QkPageDescriptor* page,
                                             double* buffer, int64_t length);
[[nodiscard]] VsfStatus vsfEffectXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfEffectXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                       int64_t length);
// vsfEffectXpX adding only the blocks of part `part` of `parts` of the effects, for the
// shared road: parts that each visit every page in the serial order give together the
// serial form's sums, bit for bit.
[[nodiscard]] VsfStatus vsfEffectXpXPart(VsfPassState* model, QkPageDescriptor* page, int32_t part,
                                         int32_t parts, std::atomic<VsfPageNote>* note,
                                         VsfPageSpan* span);
[[nodiscard]] VsfStatus vsfEffXpX(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfEffXpX_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
// vsfEffXpX adding only the rows of part `part` of `parts` of the entering effect's
// columns, for the shared road, bit for bit the serial form's sums as vsfEffectXpXPart's are.
[[nodiscard]] VsfStatus vsfEffXpXPart(VsfPassState* model, QkPageDescriptor* page, int32_t part,
                                      int32_t parts, std::atomic<VsfPageNote>* note,
                                      VsfPageSpan* span);
[[nodiscard]] VsfStatus vsfYCross(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfYCross_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                    int64_t length);
// True when every effect is dense and stored in parameter order, so that the dense values of
// a row are its parameters in order.
[[nodiscard]] bool vsfDenseInParameterOrder(const VsfPassState* model);
[[nodiscard]] VsfStatus vsfEffCross(VsfPassState* model, QkPageDescriptor* page);
[[nodiscard]] VsfStatus vsfEffCross_t(VsfPassState* model, QkPageDescriptor* page, double* buffer,
                                      int64_t length);
// The kept columns' products on the shared road: part `part` of `parts` adds a run of the
// parameters of every kept column (of whole columns where the rows do not hold the parameters
// in order) straight into the store, every page's rows in the order they were read, so the
// sums are the single thread's bits on any thread count.
[[nodiscard]] VsfStatus vsfEffCrossPart(VsfPassState* model, QkPageDescriptor* page, int32_t part,
                                        int32_t parts, std::atomic<VsfPageNote>* note,
                                        VsfPageSpan* span);
